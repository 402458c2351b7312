// The format records and the reading of a module file for them: which format
// a file's start names, what is refused and with which code, and that the
// image handed on is the whole file.
#include "smallest_modules.h"

#include "sound/api/errors.h"
#include "sound/formats/formats.h"
#include "sound/sys/mmem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>


namespace {

using namespace smallest;

struct FormatImage {
    const ModuleFormat* format;
    std::vector<std::uint8_t> image;
};

std::vector<FormatImage> oneOfEach() {
    return {{&extendedModuleFormat, extendedModule()},
            {&screamTrackerFormat, screamTracker3()},
            {&impulseTrackerFormat, impulseTracker()},
            {&protrackerFormat, protracker()}};
}

// Checks that every block a test takes from the memory layer is given back.
class ModuleFormats : public ::testing::Test {
  protected:
    void SetUp() override { blocksBefore = mem_blocks_in_use(); }
    void TearDown() override { EXPECT_EQ(mem_blocks_in_use(), blocksBefore) << "blocks left allocated"; }

    // read_module_file over the whole list; the image is freed before returning.
    int readAny(const std::vector<std::uint8_t>& bytes, const ModuleFormat** format = nullptr) {
        ModuleFile file;
        const int code = read_module_file(writeImage("formats_any.mod", bytes).c_str(), moduleFormats, &file);
        if (format != nullptr) *format = file.format;
        if (code == errOK) {
            EXPECT_EQ(std::vector<std::uint8_t>(file.data, file.data + file.size), bytes) << "the whole file";
        } else {
            EXPECT_EQ(file.data, nullptr) << "no image after a failure";
        }
        free_module_file(&file);
        return code;
    }

    long blocksBefore = 0;
};

} // namespace

TEST_F(ModuleFormats, EachRecordLoadsModulesOfItsOwnPlayMode) {
    for (const FormatImage& s : oneOfEach()) {
        SCOPED_TRACE(s.format->name);
        EXPECT_EQ(module_format_of(s.format->play_mode), s.format);
        EXPECT_TRUE(s.format->recognise(s.image.data()));
        ASSERT_LE(s.format->signature_bytes, s.image.size());
        Module* module = nullptr;
        ASSERT_EQ(s.format->load_memory(s.image.data(), s.image.size(), 0, nullptr, &module), errOK);
        EXPECT_EQ(module->play_mode, s.format->play_mode);
        EXPECT_EQ(free_module(module, nullptr), errOK);
        module = nullptr;
        const std::string path = writeImage("formats_record.mod", s.image);
        ASSERT_EQ(s.format->load_file(path.c_str(), 0, nullptr, &module), errOK);
        EXPECT_EQ(module->play_mode, s.format->play_mode);
        EXPECT_EQ(free_module(module, nullptr), errOK);
    }
    EXPECT_EQ(module_format_of(0), nullptr);
    EXPECT_EQ(module_format_of(5), nullptr);
}

TEST_F(ModuleFormats, AFileGoesToTheFirstFormatThatRecognisesItsStart) {
    for (const FormatImage& s : oneOfEach()) {
        SCOPED_TRACE(s.format->name);
        const ModuleFormat* found = nullptr;
        EXPECT_EQ(readAny(s.image, &found), errOK);
        EXPECT_EQ(found, s.format);
    }
    // An Extended Module whose tracker name spells SCRM at 44 and whose data
    // spells a Protracker signature at 1080 is still an Extended Module.
    std::vector<std::uint8_t> both = extendedModule();
    both.resize(2000, 0);
    std::memcpy(&both[44], "SCRM", 4);
    std::memcpy(&both[1080], "M.K.", 4);
    const ModuleFormat* found = nullptr;
    EXPECT_EQ(readAny(both, &found), errOK);
    EXPECT_EQ(found, &extendedModuleFormat);
}

TEST_F(ModuleFormats, FilesNoFormatRecognisesAreRefused) {
    const ModuleFormat* found = &protrackerFormat;
    EXPECT_EQ(readAny(std::vector<std::uint8_t>(3, 'I')), errEndOfFile) << "shorter than any signature";
    EXPECT_EQ(readAny(std::vector<std::uint8_t>(20, 'x'), &found), errInvalidModule);
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(readAny(std::vector<std::uint8_t>(5000, 'x')), errInvalidModule);
    // A start that names a format is taken even when the file is too short for
    // its header: the loader then finds the file cut short.
    const std::vector<std::uint8_t> impulseStart = {'I', 'M', 'P', 'M', 0, 0};
    EXPECT_EQ(readAny(impulseStart, &found), errOK);
    EXPECT_EQ(found, &impulseTrackerFormat);
    Module* module = nullptr;
    EXPECT_EQ(load_format_file(impulseTrackerFormat, writeImage("formats_cut.it", impulseStart).c_str(), 0,
                               nullptr, &module),
              errEndOfFile);
    EXPECT_EQ(module, nullptr);

    ModuleFile file;
    EXPECT_EQ(read_module_file((::testing::TempDir() + "formats_missing.mod").c_str(), moduleFormats, &file),
              errFileNotFound);
    EXPECT_EQ(read_module_file(writeImage("formats_none.mod", protracker()).c_str(), {}, &file),
              errInvalidArguments);
}

TEST_F(ModuleFormats, OneFormatAloneTellsAShortFileFromAForeignOne) {
    const ModuleFormat* const s3m[] = {&screamTrackerFormat};
    ModuleFile file;
    std::vector<std::uint8_t> shortStart(47, 0);
    EXPECT_EQ(read_module_file(writeImage("formats_short.s3m", shortStart).c_str(), s3m, &file), errEndOfFile);
    EXPECT_EQ(read_module_file(writeImage("formats_other.s3m", impulseTracker()).c_str(), s3m, &file),
              errInvalidModule);
    EXPECT_EQ(file.data, nullptr);
    EXPECT_EQ(read_module_file(writeImage("formats_own.s3m", screamTracker3()).c_str(), s3m, &file), errOK);
    EXPECT_EQ(file.format, &screamTrackerFormat);
    EXPECT_EQ(file.size, screamTracker3().size());
    EXPECT_TRUE(file.mapped) << "a file on disk is seen where it lies, not copied";
    EXPECT_EQ(std::vector<std::uint8_t>(file.data, file.data + file.size), screamTracker3());
    free_module_file(&file);
    EXPECT_EQ(file.data, nullptr);
    EXPECT_FALSE(file.mapped);
}

// The pages of a mapped module file can be given back while it is loaded: they leave memory and
// reading them again finds the same bytes. Memory that is no mapped module file is left alone.
TEST_F(ModuleFormats, MappedFilePagesGoBackAndReadTheSame) {
    std::vector<std::uint8_t> bytes = screamTracker3();
    bytes.resize(256 * 1024, 0x5a); // several pages past the module's own bytes
    for (std::size_t k = 0; k < bytes.size(); k += 97)
        bytes[k] = static_cast<std::uint8_t>(k);
    ModuleFile file;
    ASSERT_EQ(read_module_file(writeImage("formats_pages.s3m", bytes).c_str(), moduleFormats, &file), errOK);
    ASSERT_TRUE(file.mapped);
    // What of the mapping this process holds in memory (Rss in /proc/self/smaps), in KiB.
    const auto residentPages = [&] {
        std::ifstream maps("/proc/self/smaps");
        const auto at = reinterpret_cast<std::uintptr_t>(file.data);
        bool inside = false;
        for (std::string line; std::getline(maps, line);) {
            if (std::isxdigit(static_cast<unsigned char>(line[0])) && line.find('-') != std::string::npos) {
                inside = std::stoull(line.substr(0, line.find('-')), nullptr, 16) == at;
            } else if (inside && line.rfind("Rss:", 0) == 0) {
                return std::stol(line.substr(4));
            }
        }
        return -1L;
    };
    EXPECT_EQ(std::vector<std::uint8_t>(file.data, file.data + file.size), bytes);
    const auto before = residentPages();
    release_module_file_pages(file.data, file.size);
    EXPECT_GT(before, 0);
    EXPECT_LT(residentPages(), before);
    EXPECT_EQ(std::vector<std::uint8_t>(file.data, file.data + file.size), bytes);

    std::vector<std::uint8_t> other(bytes);
    release_module_file_pages(other.data(), other.size());
    EXPECT_EQ(other, bytes);
    free_module_file(&file);
}
