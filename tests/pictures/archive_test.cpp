// The packed archive: every entry the show reads, under its exact name and size, readable
// through the file library the way the parts read it.
#include "show_data.h"

#include "filelib/filelib.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

namespace {

struct Listing {
    std::map<std::string, std::uint32_t> sizes;
    int count = 0;
};

int collect(const FileLibraryEntry* e, void* context) {
    Listing* l = static_cast<Listing*>(context);
    l->sizes[e->name] = e->size;
    ++l->count;
    return 0;
}

bool haveArchive() {
    std::FILE* f = std::fopen(archivePath().c_str(), "rb");
    if (f) std::fclose(f);
    return f != nullptr;
}

} // namespace

TEST(ShowArchive, HoldsEveryEntryOnceWithPixelsTimesTwoBytes) {
    if (!haveArchive()) GTEST_SKIP() << "no " << archivePath();
    FileLibrary lib{};
    ASSERT_NE(libraryOpenReadOnly(&lib, archivePath().c_str(), 0)->stream, nullptr);
    Listing listing;
    EXPECT_EQ(libraryCheck(&lib, collect, &listing), libraryOk);
    libraryClose(&lib);
    EXPECT_EQ(listing.count, 14);
    EXPECT_EQ(listing.sizes.size(), 14u) << "an entry name appears twice";
    for (const ShowEntry& e : showEntries) {
        ASSERT_TRUE(listing.sizes.count(e.name)) << e.name << " missing";
        EXPECT_EQ(listing.sizes[e.name], std::uint32_t(e.w * e.h * e.frames * 2)) << e.name;
    }
}

TEST(ShowArchive, EntriesReadBackAsTheGeneratedFiles) {
    if (!haveArchive()) GTEST_SKIP() << "no " << archivePath();
    FileLibrary lib{};
    ASSERT_NE(libraryOpenReadOnly(&lib, archivePath().c_str(), 0)->stream, nullptr);
    for (const ShowEntry& e : showEntries) {
        std::size_t count = std::size_t(e.w) * e.h * e.frames;
        std::vector<std::uint8_t> fromArchive(count * 2);
        EXPECT_EQ(libraryLoad(&lib, e.name, fromArchive.data(), count), count) << e.name;
        std::ifstream raw(std::string(MORVA_DATA_DIR) + "/" + e.name, std::ios::binary);
        std::vector<std::uint8_t> fromFile((std::istreambuf_iterator<char>(raw)),
                                           std::istreambuf_iterator<char>());
        EXPECT_TRUE(fromArchive == fromFile) << e.name;
    }
    libraryClose(&lib);
}

TEST(ShowArchive, FluteFramesComeOneAfterAnotherFromOneSeek) {
    if (!haveArchive()) GTEST_SKIP() << "no " << archivePath();
    const std::size_t frame = 86 * 109;
    std::vector<std::uint16_t> all = loadEntry("fluteboy.dat", frame * 19);
    ASSERT_EQ(all.size(), frame * 19);
    FileLibrary lib{};
    ASSERT_NE(libraryOpenReadOnly(&lib, archivePath().c_str(), 0)->stream, nullptr);
    ASSERT_EQ(librarySeek(&lib, "fluteboy.dat"), 1);
    for (int f = 0; f < 19; ++f) {
        std::vector<std::uint8_t> bytes(frame * 2);
        ASSERT_EQ(std::fread(bytes.data(), 2, frame, lib.stream), frame) << "frame " << f;
        EXPECT_EQ(bytes[0] | bytes[1] << 8, all[f * frame]) << "frame " << f;
        EXPECT_EQ(bytes[frame * 2 - 2] | bytes[frame * 2 - 1] << 8, all[(f + 1) * frame - 1])
            << "frame " << f;
    }
    libraryClose(&lib);
}
