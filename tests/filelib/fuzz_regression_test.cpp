// Every archive that once made the file library's fuzz target fail, run again
// through the same steps (fuzz/filelib_harness.h); in the sanitizer build a
// fault that comes back is a sanitizer error.
#include "fuzz/filelib_harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

TEST(FuzzRegressions, FileLibraryInputsReplay) {
    const std::filesystem::path folder = std::filesystem::path(MORVA_SOURCE_DIR) / "tests/filelib/fuzz_regressions";
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (const auto& e : std::filesystem::directory_iterator(folder, error))
        if (e.is_regular_file()) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    for (const auto& file : files) {
        SCOPED_TRACE(file.string());
        std::ifstream in(file, std::ios::binary);
        const std::vector<std::uint8_t> data{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        fuzzing::fileLibrary(data.data(), data.size());
    }
}
