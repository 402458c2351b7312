// Every input that once made a fuzz target fail, run again through the same
// steps as the target (fuzz/sound_harness.h). In the sanitizer build a fault
// that comes back is a sanitizer error; the tests named for each fault also
// check what the reader now makes of its input.
#include "fuzz/sound_harness.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const std::filesystem::path folder = std::filesystem::path(MORVA_SOURCE_DIR) / "tests/sound/fuzz_regressions";

std::vector<std::uint8_t> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The files kept for one target (fuzz_KIND), in name order.
std::vector<std::filesystem::path> kept(const std::string& kind) {
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (const auto& e : std::filesystem::directory_iterator(folder / kind, error))
        if (e.is_regular_file()) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

void replayModules(const std::string& kind, const ModuleFormat& format) {
    for (const auto& file : kept(kind)) {
        SCOPED_TRACE(file.string());
        const std::vector<std::uint8_t> data = readFile(file);
        fuzzing::module(data.data(), data.size(), format);
    }
}

} // namespace

TEST(FuzzRegressions, ExtendedModuleInputsReplay) {
    replayModules("xm", extendedModuleFormat);
}

TEST(FuzzRegressions, ScreamTrackerInputsReplay) {
    replayModules("s3m", screamTrackerFormat);
}

TEST(FuzzRegressions, ImpulseTrackerInputsReplay) {
    replayModules("it", impulseTrackerFormat);
}

TEST(FuzzRegressions, ProtrackerInputsReplay) {
    replayModules("mod", protrackerFormat);
}

TEST(FuzzRegressions, WaveInputsReplay) {
    for (const auto& file : kept("wave")) {
        SCOPED_TRACE(file.string());
        const std::vector<std::uint8_t> data = readFile(file);
        fuzzing::wave(data.data(), data.size());
    }
}

TEST(FuzzRegressions, SettingsInputsReplay) {
    for (const auto& file : kept("settings")) {
        SCOPED_TRACE(file.string());
        const std::vector<std::uint8_t> data = readFile(file);
        EXPECT_TRUE(fuzzing::settings(data.data(), data.size()));
    }
    resetSoundOptions();
}
