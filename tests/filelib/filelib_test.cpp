#include "filelib/filelib.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes bytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

void appendLe32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// Raw library bytes built by hand, for layouts the library itself would never write.
struct RawEntry {
    std::string name; // copied as is, up to 13 bytes
    Bytes data;
    std::uint32_t sizeField;
    std::uint32_t offsetField;
};

Bytes rawLibrary(std::uint16_t count, const std::vector<RawEntry>& entries) {
    Bytes out(libraryMagic, libraryMagic + 8);
    out.push_back(static_cast<std::uint8_t>(count));
    out.push_back(static_cast<std::uint8_t>(count >> 8));
    for (const RawEntry& e : entries) {
        Bytes name(13, 0);
        std::memcpy(name.data(), e.name.data(), std::min<std::size_t>(e.name.size(), 13));
        out.insert(out.end(), name.begin(), name.end());
        appendLe32(out, e.sizeField);
        appendLe32(out, e.offsetField);
        out.insert(out.end(), e.data.begin(), e.data.end());
    }
    return out;
}

// A well-formed entry list: offsets follow from the sizes.
Bytes goodLibrary(const std::vector<std::pair<std::string, Bytes>>& files) {
    std::vector<RawEntry> entries;
    std::uint32_t position = libraryHeaderSize;
    for (const auto& [name, data] : files) {
        std::uint32_t size = static_cast<std::uint32_t>(data.size());
        entries.push_back({name, data, size, position + 21});
        position += 21 + size;
    }
    return rawLibrary(static_cast<std::uint16_t>(files.size()), entries);
}

Bytes pattern(std::size_t size, unsigned seed) {
    Bytes out(size);
    for (std::size_t i = 0; i < size; ++i)
        out[i] = static_cast<std::uint8_t>((i * 131 + seed * 17 + (i >> 9)) & 0xFF);
    return out;
}

// Each test runs in a fresh folder of its own, since extraction writes into the current folder.
class FileLibraryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        previous = std::filesystem::current_path();
        char pattern[] = "/tmp/filelib-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
        std::filesystem::current_path(folder);
    }
    void TearDown() override {
        if (library.stream) libraryClose(&library);
        std::filesystem::current_path(previous);
        std::filesystem::remove_all(folder);
    }
    std::filesystem::path previous;
    std::filesystem::path folder;
    FileLibrary library{};
};

TEST_F(FileLibraryTest, CreateThenAddGivesTheDocumentedThirtyFourBytes) {
    writeFile("a.raw", {'x', 'y', 'z'});
    libraryOpen(&library, "lib.flb", 1, 0);
    ASSERT_NE(library.stream, nullptr);
    EXPECT_EQ(libraryAddFile(&library, "a.raw"), 1);
    EXPECT_EQ(library.fileCount, 1);
    libraryClose(&library);

    Bytes expected = {0x7A, 0x79, 0x6E, 0x53, 0x46, 0x4C, 0x62, 0x1A, 0x01, 0x00};
    expected.insert(expected.end(), {'a', '.', 'r', 'a', 'w', 0, 0, 0, 0, 0, 0, 0, 0});
    expected.insert(expected.end(), {0x03, 0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00, 'x', 'y', 'z'});
    ASSERT_EQ(expected.size(), 34u);
    EXPECT_EQ(readFile("lib.flb"), expected);
}

TEST_F(FileLibraryTest, EmptyLibraryHasOnlyTheHeaderAndSeekStopsBehindIt) {
    libraryOpen(&library, "empty.flb", 1, 0);
    ASSERT_NE(library.stream, nullptr);
    libraryClose(&library);
    Bytes header(libraryMagic, libraryMagic + 8);
    header.insert(header.end(), {0, 0});
    EXPECT_EQ(readFile("empty.flb"), header);

    libraryOpen(&library, "empty.flb", 0, 0);
    ASSERT_NE(library.stream, nullptr);
    EXPECT_EQ(std::memcmp(library.magic, libraryMagic, 8), 0);
    EXPECT_EQ(library.fileCount, 0);
    EXPECT_EQ(librarySeek(&library, "a.raw"), 0);
    EXPECT_EQ(std::ftell(library.stream), 10);
}

TEST_F(FileLibraryTest, OpeningAMissingFileLeavesNoStreamAndLaterCallsDoNothing) {
    library.fileCount = 77; // whatever the caller's memory held
    libraryOpen(&library, "missing.flb", 0, 5);
    EXPECT_EQ(library.stream, nullptr);
    EXPECT_EQ(library.baseOffset, 5u);
    EXPECT_EQ(library.fileCount, 0);
    std::uint16_t destination[4] = {1, 2, 3, 4};
    EXPECT_EQ(librarySeek(&library, "a"), 0);
    EXPECT_EQ(libraryLoad(&library, "a", destination, 4), 0u);
    EXPECT_EQ(destination[0], 1);
    EXPECT_EQ(libraryAddFile(&library, "missing.flb"), 0);
    EXPECT_EQ(libraryExtractFile(&library, "a"), 0);
    EXPECT_EQ(libraryCheck(&library, nullptr, nullptr), libraryNotOpen);
    libraryClose(&library);
    EXPECT_FALSE(std::filesystem::exists("missing.flb"));
}

TEST_F(FileLibraryTest, ShortFileReadsAsAnEmptyLibrary) {
    writeFile("short.flb", {0x7A, 0x79, 0x6E});
    std::memset(&library, 0xEE, sizeof library);
    libraryOpen(&library, "short.flb", 0, 0);
    ASSERT_NE(library.stream, nullptr);
    EXPECT_EQ(library.fileCount, 0);
    EXPECT_EQ(libraryCheck(&library, nullptr, nullptr), libraryShortHeader);
    std::uint16_t destination = 0x1234;
    EXPECT_EQ(libraryLoad(&library, "x", &destination, 1), 0u);
    EXPECT_EQ(destination, 0x1234);
}

TEST_F(FileLibraryTest, LibraryBehindOtherDataUsesOffsetsFromItsBase) {
    const Bytes prefix = pattern(100, 1);
    writeFile("host.bin", prefix);
    writeFile("one.raw", pattern(6, 2));
    writeFile("two.raw", pattern(10, 3));
    libraryOpen(&library, "host.bin", 1, 100);
    ASSERT_NE(library.stream, nullptr);
    ASSERT_EQ(libraryAddFile(&library, "one.raw"), 1);
    ASSERT_EQ(libraryAddFile(&library, "two.raw"), 1);
    libraryClose(&library);

    Bytes host = readFile("host.bin");
    ASSERT_EQ(host.size(), 100u + 10 + 21 + 6 + 21 + 10);
    EXPECT_TRUE(std::equal(prefix.begin(), prefix.end(), host.begin())) << "leading data must stay";
    const Bytes libraryBytes(host.begin() + 100, host.end());
    EXPECT_EQ(libraryBytes, goodLibrary({{"one.raw", pattern(6, 2)}, {"two.raw", pattern(10, 3)}}));

    // The same bytes work at another base, and with other data after them.
    Bytes moved = pattern(7, 4);
    moved.insert(moved.end(), libraryBytes.begin(), libraryBytes.end());
    const Bytes trailer = {0x11, 0x22, 0x33, 0x44};
    moved.insert(moved.end(), trailer.begin(), trailer.end());
    writeFile("moved.bin", moved);
    libraryOpen(&library, "moved.bin", 0, 7);
    ASSERT_NE(library.stream, nullptr);
    EXPECT_EQ(library.fileCount, 2);
    std::uint16_t two[5] = {};
    EXPECT_EQ(libraryLoad(&library, "two.raw", two, 5), 5u);
    EXPECT_EQ(std::memcmp(two, pattern(10, 3).data(), 10), 0);
    std::uint16_t one[3] = {};
    EXPECT_EQ(libraryLoad(&library, "one.raw", one, 3), 3u);
    EXPECT_EQ(std::memcmp(one, pattern(6, 2).data(), 6), 0);
    EXPECT_EQ(libraryCheck(&library, nullptr, nullptr), libraryTrailingData);

    // The plain read path does not report a missing name: it reads whatever follows the library.
    std::uint16_t after[2] = {};
    EXPECT_EQ(libraryLoad(&library, "none.raw", after, 2), 2u);
    EXPECT_EQ(std::memcmp(after, trailer.data(), 4), 0);
}

TEST_F(FileLibraryTest, FirstOfTwoEntriesWithTheSameNameWins) {
    writeFile("a.raw", {1, 1, 1, 1});
    libraryOpen(&library, "dup.flb", 1, 0);
    ASSERT_EQ(libraryAddFile(&library, "a.raw"), 1);
    writeFile("a.raw", {2, 2, 2, 2, 2, 2});
    ASSERT_EQ(libraryAddFile(&library, "a.raw"), 1);
    EXPECT_EQ(library.fileCount, 2);

    std::uint8_t destination[4] = {};
    EXPECT_EQ(libraryLoad(&library, "a.raw", destination, 2), 2u);
    EXPECT_EQ(destination[0], 1);
    EXPECT_EQ(destination[3], 1);

    std::filesystem::remove("a.raw");
    EXPECT_EQ(libraryExtractFile(&library, "a.raw"), 1);
    EXPECT_EQ(readFile("a.raw"), (Bytes{1, 1, 1, 1}));
}

TEST_F(FileLibraryTest, LongNamesAreStoredCutToTwelveCharactersAndOnlyFoundThatWay) {
    writeFile("abcdefghijklmnop.raw", {9, 8});
    libraryOpen(&library, "long.flb", 1, 0);
    ASSERT_EQ(libraryAddFile(&library, "abcdefghijklmnop.raw"), 1);
    const Bytes stored = readFile("long.flb");
    ASSERT_EQ(stored.size(), 10u + 21 + 2);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&stored[10])), "abcdefghijkl");
    EXPECT_EQ(stored[22], 0);

    EXPECT_EQ(librarySeek(&library, "abcdefghijklmnop.raw"), 0);
    EXPECT_EQ(librarySeek(&library, "abcdefghijklm"), 0);
    EXPECT_EQ(librarySeek(&library, "abcdefghijkl"), 1);
    std::uint8_t destination[2] = {};
    EXPECT_EQ(libraryLoad(&library, "abcdefghijkl", destination, 1), 1u);
    EXPECT_EQ(destination[0], 9);
}

TEST_F(FileLibraryTest, MissingNameLeavesTheDestinationAndStopsAtTheEnd) {
    writeFile("lib.flb", goodLibrary({{"a.raw", pattern(8, 1)}, {"b.raw", pattern(4, 2)}}));
    libraryOpen(&library, "lib.flb", 0, 0);
    ASSERT_NE(library.stream, nullptr);
    std::uint16_t destination[4] = {0xAAAA, 0xAAAA, 0xAAAA, 0xAAAA};
    EXPECT_EQ(libraryLoad(&library, "c.raw", destination, 4), 0u);
    for (std::uint16_t v : destination)
        EXPECT_EQ(v, 0xAAAA);
    EXPECT_EQ(librarySeek(&library, "A.RAW"), 0) << "names are compared with case";
    EXPECT_EQ(std::ftell(library.stream), 10 + 21 + 8 + 21 + 4);
    EXPECT_EQ(libraryExtractFile(&library, "c.raw"), 0);
    EXPECT_FALSE(std::filesystem::exists("c.raw"));
}

TEST_F(FileLibraryTest, NineteenConsecutiveReadsContinueAfterOneSeek) {
    constexpr std::size_t elements = 9374;
    constexpr std::size_t frames = 19;
    const Bytes animation = pattern(frames * elements * 2, 5);
    writeFile("lib.flb", goodLibrary({{"p2_tco~1.raw", pattern(640, 6)}, {"fluteboy.dat", animation}}));
    libraryOpen(&library, "lib.flb", 0, 0);
    ASSERT_EQ(librarySeek(&library, "fluteboy.dat"), 1);
    std::vector<std::uint16_t> frame(elements);
    for (std::size_t i = 0; i < frames; ++i) {
        ASSERT_EQ(std::fread(frame.data(), 2, elements, library.stream), elements) << "frame " << i;
        EXPECT_EQ(std::memcmp(frame.data(), animation.data() + i * elements * 2, elements * 2), 0)
            << "frame " << i;
    }
}

TEST_F(FileLibraryTest, LoadReadsTheCallersCountNotTheEntrySize) {
    writeFile("lib.flb", goodLibrary({{"a", {1, 2, 3, 4}}, {"b", {5, 6}}}));
    libraryOpen(&library, "lib.flb", 0, 0);
    std::uint8_t destination[8] = {};
    EXPECT_EQ(libraryLoad(&library, "a", destination, 4), 4u);
    // Past the 4 data bytes come the first bytes of the next entry header.
    EXPECT_EQ(destination[3], 4);
    EXPECT_EQ(destination[4], 'b');
    EXPECT_EQ(destination[5], 0);
}

TEST_F(FileLibraryTest, FailedAddsLeaveTheLibraryExactlyAsItWas) {
    writeFile("a.raw", pattern(40, 1));
    libraryOpen(&library, "lib.flb", 1, 0);
    ASSERT_EQ(libraryAddFile(&library, "a.raw"), 1);
    std::fflush(library.stream);
    const Bytes before = readFile("lib.flb");

    EXPECT_EQ(libraryAddFile(&library, "nothere.raw"), 0);
    EXPECT_EQ(library.fileCount, 1);
    EXPECT_EQ(readFile("lib.flb"), before);

    // A folder opens but cannot be read: the copy fails halfway and is cut off again.
    std::filesystem::create_directory("folder");
    EXPECT_EQ(libraryAddFile(&library, "folder"), 0);
    EXPECT_EQ(library.fileCount, 1);
    EXPECT_EQ(readFile("lib.flb"), before);

    writeFile("b.raw", pattern(3, 2));
    EXPECT_EQ(libraryAddFile(&library, "b.raw"), 1);
    EXPECT_EQ(libraryCheck(&library, nullptr, nullptr), libraryOk);
    EXPECT_EQ(library.fileCount, 2);
}

TEST_F(FileLibraryTest, FullLibraryRefusesAnotherEntryInsteadOfWrappingTheCount) {
    writeFile("full.flb", rawLibrary(0xFFFF, {}));
    writeFile("a.raw", {1});
    libraryOpen(&library, "full.flb", 0, 0);
    ASSERT_EQ(library.fileCount, 0xFFFF);
    EXPECT_EQ(libraryAddFile(&library, "a.raw"), 0);
    EXPECT_EQ(library.fileCount, 0xFFFF);
    libraryClose(&library);
    EXPECT_EQ(readFile("full.flb"), rawLibrary(0xFFFF, {}));
}

TEST_F(FileLibraryTest, ExtractWritesTheEntryIntoTheCurrentFolder) {
    const Bytes data = pattern(3000, 7); // several copy pieces
    writeFile("lib.flb", goodLibrary({{"a.raw", pattern(5, 1)}, {"big.dat", data}, {"empty", {}}}));
    libraryOpen(&library, "lib.flb", 0, 0);
    EXPECT_EQ(libraryExtractFile(&library, "big.dat"), 1);
    EXPECT_EQ(readFile("big.dat"), data);
    EXPECT_EQ(libraryExtractFile(&library, "empty"), 1);
    EXPECT_TRUE(std::filesystem::exists("empty"));
    EXPECT_EQ(std::filesystem::file_size("empty"), 0u);
}

TEST_F(FileLibraryTest, ExtractRefusesNamesThatLeaveTheFolder) {
    std::filesystem::create_directory("inner");
    writeFile("inner/lib.flb",
              goodLibrary({{"../evil", {1}}, {"a/b", {2}}, {"..", {3}}, {"", {4}}, {"\\x", {5}}}));
    std::filesystem::current_path("inner");
    libraryOpen(&library, "lib.flb", 0, 0);
    for (const char* name : {"../evil", "a/b", "..", "", "\\x"})
        EXPECT_EQ(libraryExtractFile(&library, name), 0) << name;
    libraryClose(&library);
    std::filesystem::current_path(folder);
    EXPECT_FALSE(std::filesystem::exists("evil"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator("inner"), {}), 1);
}

TEST_F(FileLibraryTest, ExtractNeverOverwritesTheLibraryItself) {
    const Bytes bytes = goodLibrary({{"lib.flb", {1, 2, 3}}});
    writeFile("lib.flb", bytes);
    libraryOpen(&library, "lib.flb", 0, 0);
    EXPECT_EQ(libraryExtractFile(&library, "lib.flb"), 0);
    libraryClose(&library);
    EXPECT_EQ(readFile("lib.flb"), bytes);
}

TEST_F(FileLibraryTest, ExtractOfDataCutShortCreatesNoFile) {
    writeFile("lib.flb", rawLibrary(1, {{"cut.raw", pattern(10, 1), 5000, 31}}));
    libraryOpen(&library, "lib.flb", 0, 0);
    EXPECT_EQ(libraryExtractFile(&library, "cut.raw"), 0);
    EXPECT_FALSE(std::filesystem::exists("cut.raw"));
}

TEST_F(FileLibraryTest, CheckNamesEachKindOfDamage) {
    auto check = [&](const Bytes& bytes) {
        writeFile("c.flb", bytes);
        libraryOpenReadOnly(&library, "c.flb", 0);
        int result = libraryCheck(&library, nullptr, nullptr);
        libraryClose(&library);
        return result;
    };
    EXPECT_EQ(check(goodLibrary({{"a", {1, 2}}, {"b", {}}})), libraryOk);
    EXPECT_EQ(check({0x7A, 0x79}), libraryShortHeader);
    EXPECT_EQ(check(bytesOf("this is plain text, not an archive")), libraryBadMagic);
    EXPECT_EQ(check(rawLibrary(2, {{"a", {1}, 1, 31}})), libraryShortEntry);
    EXPECT_EQ(check(rawLibrary(1, {{"a", {1}, 2, 31}})), libraryShortEntry);
    EXPECT_EQ(check(rawLibrary(1, {{"a", {1}, 0xFFFFFFFF, 31}})), libraryShortEntry);
    EXPECT_EQ(check(rawLibrary(1, {{"a", {1}, 1, 30}})), libraryBadDataOffset);
    Bytes trailing = goodLibrary({{"a", {1}}});
    trailing.push_back(0);
    EXPECT_EQ(check(trailing), libraryTrailingData);
    for (int code = libraryOk; code <= libraryTrailingData; ++code)
        EXPECT_STRNE(libraryCheckMessage(code), libraryCheckMessage(-1)) << code;
}

TEST_F(FileLibraryTest, CheckVisitsEntriesInOrderAndStopsWhenAsked) {
    writeFile("c.flb", goodLibrary({{"a", {1}}, {"b", {1, 2}}, {"c", {}}}));
    libraryOpenReadOnly(&library, "c.flb", 0);
    std::vector<std::string> seen;
    auto visit = [](const FileLibraryEntry* entry, void* context) {
        auto* names = static_cast<std::vector<std::string>*>(context);
        names->push_back(std::string(entry->name) + ":" + std::to_string(entry->size) + "@" +
                         std::to_string(entry->dataOffset));
        return names->size() == 2 ? 1 : 0;
    };
    EXPECT_EQ(libraryCheck(&library, visit, &seen), libraryOk);
    EXPECT_EQ(seen, (std::vector<std::string>{"a:1@31", "b:2@53"}));
}

TEST_F(FileLibraryTest, DamagedHeadersNeitherCrashNorHang) {
    // Counts far beyond the entries, sizes and offsets at their limits, and a name with no NUL.
    Bytes damaged = rawLibrary(0xFFFF, {{"xxxxxxxxxxxxx", {7, 7}, 0xFFFFFFFF, 0xFFFFFFFF}});
    writeFile("bad.flb", damaged);
    libraryOpen(&library, "bad.flb", 0, 0xFFFFFFF0);
    ASSERT_NE(library.stream, nullptr);
    EXPECT_EQ(library.fileCount, 0);
    libraryClose(&library);

    libraryOpen(&library, "bad.flb", 0, 0);
    ASSERT_NE(library.stream, nullptr);
    std::uint16_t destination[2] = {0x5555, 0x5555};
    EXPECT_EQ(libraryLoad(&library, "missing", destination, 2), 0u);
    EXPECT_EQ(destination[0], 0x5555);
    EXPECT_EQ(librarySeek(&library, "xxxxxxxxxxxxx"), 0);
    EXPECT_EQ(librarySeek(&library, "xxxxxxxxxxxx"), 1) << "a name without its NUL is cut at 12 characters";
    EXPECT_EQ(libraryExtractFile(&library, "xxxxxxxxxxxx"), 0);
    EXPECT_FALSE(std::filesystem::exists("xxxxxxxxxxxx"));
    EXPECT_EQ(libraryCheck(&library, nullptr, nullptr), libraryBadDataOffset);

    // Entries whose offsets point back at themselves end after the count, not never.
    writeFile("loop.flb", rawLibrary(0xFFFF, {{"a", {}, 0, 10}}));
    libraryClose(&library);
    libraryOpen(&library, "loop.flb", 0, 0);
    EXPECT_EQ(librarySeek(&library, "b"), 0);
}

TEST_F(FileLibraryTest, StreamLengthCountsUnflushedWrites) {
    std::FILE* stream = std::fopen("s.bin", "wb+");
    ASSERT_NE(stream, nullptr);
    const Bytes data = pattern(100, 1);
    std::fwrite(data.data(), 1, data.size(), stream);
    EXPECT_EQ(streamLength(stream), 100);
    std::fclose(stream);
    EXPECT_EQ(streamLength(nullptr), -1);
}

TEST_F(FileLibraryTest, OpenForReadingNeedsNoWriteAccessOnlyWithTheReadOnlyVariant) {
    writeFile("lib.flb", goodLibrary({{"a", {1, 2}}}));
    libraryOpenReadOnly(&library, "lib.flb", 0);
    ASSERT_NE(library.stream, nullptr);
    EXPECT_EQ(library.fileCount, 1);
    std::uint8_t destination[2] = {};
    EXPECT_EQ(libraryLoad(&library, "a", destination, 1), 1u);
    EXPECT_EQ(destination[1], 2);
    // Appending through a read-only stream fails and changes nothing.
    writeFile("b.raw", {3});
    EXPECT_EQ(libraryAddFile(&library, "b.raw"), 0);
    EXPECT_EQ(library.fileCount, 1);
    libraryClose(&library);
    EXPECT_EQ(readFile("lib.flb"), goodLibrary({{"a", {1, 2}}}));
}

} // namespace

// --- what the show uses: the fault of a damaged library and whole-entry loads

TEST_F(FileLibraryTest, CheckSaysWhichEntryIsAtFaultAndWhereItsBytesWouldEnd) {
    const Bytes good = goodLibrary({{"one.raw", pattern(6, 1)}, {"two.raw", pattern(10, 2)}});
    LibraryFault fault{};
    const auto check = [&](const Bytes& bytes) {
        writeFile("lib.flb", bytes);
        libraryOpenReadOnly(&library, "lib.flb", 0);
        const int result = libraryCheck(&library, nullptr, nullptr, &fault);
        libraryClose(&library);
        return result;
    };
    ASSERT_EQ(check(good), libraryOk);
    EXPECT_EQ(fault.result, libraryOk);
    EXPECT_EQ(fault.fileCount, 2u);

    // Cut inside the second entry's data: entry 2, whose data would end at 10 + 27 + 31.
    ASSERT_EQ(check(Bytes(good.begin(), good.end() - 3)), libraryShortEntry);
    EXPECT_EQ(fault.entry, 2u);
    EXPECT_STREQ(fault.name, "two.raw");
    EXPECT_EQ(fault.start, 10u + 27);
    EXPECT_EQ(fault.end, 10u + 27 + 31);
    EXPECT_EQ(fault.fileLength, good.size() - 3);

    // Cut inside the second entry's header: its name is not known.
    ASSERT_EQ(check(Bytes(good.begin(), good.begin() + 10 + 27 + 5)), libraryShortEntry);
    EXPECT_EQ(fault.entry, 2u);
    EXPECT_STREQ(fault.name, "");
    EXPECT_EQ(fault.end, 10u + 27 + 21);

    // A wrong data offset: the one given and the one it has.
    Bytes moved = good;
    moved[10 + 27 + 17] = 99;
    ASSERT_EQ(check(moved), libraryBadDataOffset);
    EXPECT_EQ(fault.entry, 2u);
    EXPECT_EQ(fault.dataOffset, 99u);
    EXPECT_EQ(fault.placeOffset, 10u + 27 + 21);

    // Bytes past the last entry: where they start.
    Bytes longer = good;
    longer.push_back(7);
    ASSERT_EQ(check(longer), libraryTrailingData);
    EXPECT_EQ(fault.start, good.size());
    EXPECT_EQ(fault.fileLength, good.size() + 1);
}

TEST_F(FileLibraryTest, FaultTextsNameTheEntryAndTheNumbersThatDisagree) {
    const Bytes good = goodLibrary({{"one.raw", pattern(6, 1)}, {"two.raw", pattern(10, 2)}});
    const auto textOf = [&](const Bytes& bytes) {
        writeFile("lib.flb", bytes);
        libraryOpenReadOnly(&library, "lib.flb", 0);
        LibraryFault fault{};
        libraryCheck(&library, nullptr, nullptr, &fault);
        libraryClose(&library);
        char text[256];
        libraryFaultText(fault, text, sizeof text);
        return std::string(text);
    };
    EXPECT_EQ(textOf({}), "the file has 0 bytes, too few for the 10-byte header of a file library");
    Bytes garbled = good;
    garbled[0] = 'Z';
    EXPECT_EQ(textOf(garbled),
              "its first bytes are not the signature \"zynSFLb\" of a file library (it is not "
              "one, or its header is garbled)");
    EXPECT_EQ(textOf(Bytes(good.begin(), good.end() - 3)),
              "entry 2 of 2, \"two.raw\", runs past the end of the file: its data would end at byte 68, and "
              "the file has 65 bytes");
    EXPECT_EQ(
        textOf(Bytes(good.begin(), good.begin() + 40)),
        "entry 2 of 2 is cut off: its header at byte 37 would end at byte 58, and the file has 40 bytes");
    Bytes more = good;
    more[8] = 5;
    EXPECT_EQ(textOf(more), "its header announces 5 entries, but the file ends after entry 2");
    Bytes none = Bytes(good.begin(), good.begin() + 10);
    EXPECT_EQ(textOf(none), "its header announces 2 entries, but the file ends after the header");
    Bytes offset = good;
    offset[10 + 17] = 40;
    EXPECT_EQ(textOf(offset),
              "entry 1 of 2, \"one.raw\", gives its data offset as 40, but its data follows its "
              "header at offset 31 (the directory is garbled)");
    // Cut to fit, always ended.
    char small[12];
    LibraryFault fault{};
    fault.result = libraryShortHeader;
    libraryFaultText(fault, small, sizeof small);
    EXPECT_EQ(std::string(small), "the file ha");
}

TEST_F(FileLibraryTest, LoadWholeReadsAnEntryOnlyWhenItHoldsEverythingAskedFor) {
    // Other data after the library: a missing name must not read it.
    Bytes bytes = goodLibrary({{"one.raw", pattern(6, 1)}, {"two.raw", pattern(10, 2)}});
    bytes.insert(bytes.end(), {0x11, 0x22, 0x33, 0x44});
    writeFile("lib.flb", bytes);
    libraryOpen(&library, "lib.flb", 0, 0);
    ASSERT_NE(library.stream, nullptr);

    std::uint16_t two[5] = {};
    std::uint32_t size = 0;
    EXPECT_EQ(libraryLoadWhole(&library, "two.raw", two, 5, &size), libraryLoaded);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(std::memcmp(two, pattern(10, 2).data(), 10), 0);
    // Less than the entry holds: its beginning.
    std::uint16_t first[2] = {};
    EXPECT_EQ(libraryLoadWhole(&library, "two.raw", first, 2), libraryLoaded);
    EXPECT_EQ(std::memcmp(first, pattern(10, 2).data(), 4), 0);

    std::uint16_t untouched[4] = {7, 7, 7, 7};
    EXPECT_EQ(libraryLoadWhole(&library, "one.raw", untouched, 4, &size), libraryEntryShort);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(untouched[0], 7);
    EXPECT_EQ(untouched[3], 7);
    EXPECT_EQ(libraryLoadWhole(&library, "none.raw", untouched, 2), libraryNoEntry);
    EXPECT_EQ(untouched[0], 7);
    FileLibraryEntry entry{};
    EXPECT_EQ(libraryFindEntry(&library, "one.raw", &entry), 1);
    EXPECT_EQ(entry.size, 6u);
    EXPECT_EQ(libraryFindEntry(&library, "none.raw", &entry), 0);
    libraryClose(&library);
    EXPECT_EQ(libraryLoadWhole(&library, "one.raw", untouched, 1), libraryNoEntry);
}

TEST_F(FileLibraryTest, LoadWholeReportsAFileThatEndsBeforeTheEntrysData) {
    // The directory says 10 bytes; the file was cut after 4 of them.
    const Bytes good = goodLibrary({{"two.raw", pattern(10, 2)}});
    writeFile("lib.flb", Bytes(good.begin(), good.end() - 6));
    libraryOpen(&library, "lib.flb", 0, 0);
    std::uint16_t two[5] = {};
    EXPECT_EQ(libraryLoadWhole(&library, "two.raw", two, 5), libraryReadFailed);
}
