// Made-up show data for the tests that run the show: short modules named like the show's and a
// stand-in archive that holds every entry the parts read, each of the size they read and all
// zero, so the show reads it whole and draws what it would draw from fresh, zeroed pictures.
#pragma once

#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <vector>

#include "effects/opening.h"
#include "effects/tunnel.h"
#include "effects/water.h"
#include "filelib/filelib.h"
#include "tests/sound/xmbuild.h"

// A short module: orders of one 4-row pattern at speed 3 (0.24 s each), a looped square wave
// struck on the first row of each.
inline std::vector<std::uint8_t> shortModuleBytes(int orders) {
    xmbuild::ModuleSpec spec;
    spec.channels = 2;
    spec.speed = 3;
    spec.orders.assign(static_cast<std::size_t>(orders), 0);
    xmbuild::InstrumentSpec instrument;
    instrument.samples = {xmbuild::squareWave()};
    spec.instruments = {instrument};
    spec.patterns = {xmbuild::oneEntry(4, 2, 0, 0, 49, 1, 0, 0, 0)};
    return xmbuild::build(spec);
}

// Writes such a module under a name like one of the show's.
inline void writeShortModule(const std::filesystem::path& file, int orders) {
    const std::vector<std::uint8_t> bytes = shortModuleBytes(orders);
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Every entry the three parts read, in the order they read them.
inline std::vector<ArchiveItem> showItems() {
    std::vector<ArchiveItem> items;
    for (const std::span<const ArchiveItem> part :
         {std::span<const ArchiveItem>(openingItems), std::span<const ArchiveItem>(creditsItems),
          std::span<const ArchiveItem>(tunnelItems)})
        items.insert(items.end(), part.begin(), part.end());
    return items;
}

// Writes the stand-in archive to file, leaving out the entry called without (when given). Returns
// false when it could not be written.
inline bool writeStandInArchive(const std::filesystem::path& file, const std::string& without = "") {
    const std::filesystem::path pieces = file.parent_path() / (file.filename().string() + ".pieces");
    std::filesystem::create_directories(pieces);
    FileLibrary archive{};
    libraryOpen(&archive, file.c_str(), 1, 0);
    bool ok = archive.stream != nullptr;
    for (const ArchiveItem& item : showItems()) {
        if (!ok || item.name == without) continue;
        const std::filesystem::path piece = pieces / item.name;
        std::ofstream(piece, std::ios::binary)
            .write(std::string(2 * item.count, '\0').data(), static_cast<std::streamsize>(2 * item.count));
        ok = libraryAddFileAs(&archive, piece.c_str(), item.name) == 1;
    }
    if (archive.stream) libraryClose(&archive);
    std::filesystem::remove_all(pieces);
    return ok;
}
