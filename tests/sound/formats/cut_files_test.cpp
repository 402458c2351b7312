// Files cut short, in every format: a loader allowed to (loadCutSamples) loads a file that ends
// inside its sample data with the data that is there, counts what is missing, and plays as long
// as the whole file; without it, and for a file cut in its header or patterns, the load fails as
// it always did, leaving nothing allocated.
#include "sound/api/errors.h"
#include "sound/formats/formats.h"
#include "sound/formats/module.h"
#include "sound/player/songscan.h"
#include "sound/sys/mmem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> readFile(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The corpus files of one format (by extension).
std::vector<fs::path> corpusOf(const std::string& extension) {
    std::vector<fs::path> files;
    std::error_code error;
    for (const auto& e : fs::directory_iterator(MORVA_MODULES_DIR, error))
        if (e.is_regular_file() && e.path().extension() == extension) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

int load(const std::vector<std::uint8_t>& image, std::size_t size, int flags, Module** module) {
    const ModuleFormat* format = recognise_module_image(moduleFormats, image.data(), size);
    if (!format) return errInvalidModule;
    return format->load_memory(image.data(), size, flags, nullptr, module);
}

class CutFiles : public ::testing::TestWithParam<const char*> {
  protected:
    void SetUp() override { blocksBefore = mem_blocks_in_use(); }
    void TearDown() override { EXPECT_EQ(mem_blocks_in_use(), blocksBefore); }
    long blocksBefore = 0;
};

} // namespace

TEST_P(CutFiles, CutInTheSampleDataLoadsWithWhatIsThere) {
    const std::vector<fs::path> files = corpusOf(GetParam());
    if (files.empty()) GTEST_SKIP() << "no " << GetParam() << " files in " << MORVA_MODULES_DIR;
    int cutLoads = 0;
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.filename().string());
        const std::vector<std::uint8_t> image = readFile(file);
        Module* whole = nullptr;
        ASSERT_EQ(load(image, image.size(), 0, &whole), errOK);
        EXPECT_EQ(whole->samples_cut, 0);
        EXPECT_EQ(whole->sample_bytes_missing, 0);
        // The last 3% of the file gone: in most files that is sample data (some end in bytes no
        // sample uses, and lose nothing).
        const std::size_t size = image.size() - image.size() * 3 / 100;
        Module* strict = nullptr;
        const int strictCode = load(image, size, 0, &strict);
        if (strictCode == errOK) free_module(strict, nullptr);
        Module* cut = nullptr;
        const int code = load(image, size, loadCutSamples, &cut);
        if (code != errOK) {
            // The cut fell in what every load needs: refused the same way.
            EXPECT_EQ(code, strictCode);
        } else if (strictCode == errOK) {
            EXPECT_EQ(cut->samples_cut + cut->instruments_missing, 0);
            EXPECT_EQ(cut->sample_bytes_missing, 0);
            free_module(cut, nullptr);
        } else {
            ++cutLoads;
            EXPECT_GT(cut->samples_cut + cut->instruments_missing, 0);
            EXPECT_GT(cut->sample_bytes_missing, 0);
            EXPECT_LE(cut->sample_bytes_missing, static_cast<std::int64_t>(image.size()) * 16);
            // Nothing of the song's course is lost: it lasts as long as the whole file's.
            std::vector<Subsong> wholeSongs, cutSongs;
            ASSERT_EQ(scan_subsongs(whole, 44100, &wholeSongs), errOK);
            ASSERT_EQ(scan_subsongs(cut, 44100, &cutSongs), errOK);
            ASSERT_EQ(cutSongs.size(), wholeSongs.size());
            EXPECT_EQ(cutSongs[0].frames, wholeSongs[0].frames);
            // Every sample lies inside its data.
            for (int k = 0; k < cut->sample_count; ++k) {
                const Sample* s = cut->samples[k];
                if (!s || s->type == SMP_NONE) continue;
                EXPECT_NE(s->data, nullptr);
                EXPECT_LE(s->loop1_end, s->length);
                EXPECT_LE(s->loop2_end, s->length);
            }
            free_module(cut, nullptr);
        }
        free_module(whole, nullptr);
    }
    EXPECT_GT(cutLoads, 0) << "no " << GetParam() << " file was cut in its sample data";
}

// Wherever a file is cut, a load allowed to keep what is there either does so and says what is
// missing, or fails as a load without that leave does; it never passes over a cut in silence.
TEST_P(CutFiles, WhereverTheCutFallsTheLoadSaysWhatIsMissingOrFailsAsBefore) {
    const std::vector<fs::path> files = corpusOf(GetParam());
    if (files.empty()) GTEST_SKIP() << "no " << GetParam() << " files in " << MORVA_MODULES_DIR;
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.filename().string());
        const std::vector<std::uint8_t> image = readFile(file);
        // Inside the header (and a MOD's signature), then through the file.
        std::vector<std::size_t> sizes = {90, 300};
        for (int percent = 5; percent < 100; percent += 15)
            sizes.push_back(image.size() * static_cast<std::size_t>(percent) / 100);
        for (std::size_t size : sizes) {
            if (size >= image.size()) continue;
            Module* strict = nullptr;
            Module* cut = nullptr;
            const int strictCode = load(image, size, 0, &strict);
            const int cutCode = load(image, size, loadCutSamples, &cut);
            if (strictCode == errOK) {
                EXPECT_EQ(strict->sample_bytes_missing, 0);
                free_module(strict, nullptr);
            }
            if (size <= 300) {
                EXPECT_NE(strictCode, errOK) << size << " bytes";
            }
            if (cutCode != errOK) {
                EXPECT_EQ(cutCode, strictCode) << size << " bytes";
            } else {
                // An instrument nothing plays keeps no samples: past the end it is only missing.
                const bool told = cut->sample_bytes_missing > 0 || cut->samples_cut > 0 || cut->instruments_missing > 0;
                EXPECT_EQ(told, strictCode != errOK) << size << " bytes";
                free_module(cut, nullptr);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, CutFiles, ::testing::Values(".xm", ".s3m", ".it", ".mod"),
                         [](const ::testing::TestParamInfo<const char*>& format) {
                             return std::string(format.param + 1);
                         });
