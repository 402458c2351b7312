// What the file library's fuzz target does with one input, shared with the
// regression tests: the archive is opened, checked (with the fault and its
// text, as the show reports a damaged archive), and every entry read by name
// with a fixed count of 2-byte elements, plainly and whole as the show reads
// its data, with names that are and are not in it.
#pragma once

#include "fuzz/memfile.h"

#include "filelib/filelib.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace fuzzing {

inline void fileLibrary(const std::uint8_t* data, std::size_t size) {
    MemoryFile file(data, size);
    if (!file.ok()) return;
    FileLibrary library{};
    if (!libraryOpen(&library, file.name.c_str(), 0, 0)->stream) return;
    // The names the check walk finds, then each read as the show would.
    std::vector<std::string> names;
    libraryCheck(
        &library,
        [](const FileLibraryEntry* entry, void* context) {
            auto* found = static_cast<std::vector<std::string>*>(context);
            found->emplace_back(entry->name);
            return found->size() >= 16 ? 1 : 0;
        },
        &names);
    LibraryFault fault{};
    libraryCheck(&library, nullptr, nullptr, &fault);
    char text[256];
    libraryFaultText(fault, text, sizeof text);
    names.push_back("fluteboy.dat"); // a name of the show's, most likely missing
    names.push_back("");
    std::vector<std::uint16_t> destination(4096);
    for (const std::string& name : names) {
        libraryLoad(&library, name.c_str(), destination.data(), destination.size());
        libraryLoad(&library, name.c_str(), destination.data(), 7);
        libraryLoadWhole(&library, name.c_str(), destination.data(), destination.size());
        libraryLoadWhole(&library, name.c_str(), destination.data(), 7);
        // One seek, then reads that continue from there.
        if (librarySeek(&library, name.c_str()))
            for (int k = 0; k < 3; ++k)
                if (std::fread(destination.data(), 2, 9, library.stream) != 9) break;
    }
    libraryClose(&library);
}

} // namespace fuzzing
