// `make run` without a display always ends: a show that would not end by itself (its second
// module missing) is stopped by the capture's bound, and the run script says so and fails.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include "tests/run_program.h"

namespace fs = std::filesystem;

namespace {

const fs::path capture = fs::path(MORVA_BINARY_DIR) / "bin" / "morva-capture";
const fs::path runShow = fs::path(MORVA_SOURCE_DIR) / "tools" / "run-show.sh";
const fs::path data = MORVA_DATA_DIR;

std::string readText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

} // namespace

TEST(RunShowBound, HeadlessRunOfAShowThatNeverEndsStopsAndSaysSo) {
    if (!fs::exists(capture)) GTEST_FAIL() << capture << " is not built";
    if (!fs::exists(data / "mopart1.xm")) GTEST_SKIP() << "the show's data is not built in " << data;
    const fs::path build = fs::temp_directory_path() / ("morva-run-bound-test-" + std::to_string(getpid()));
    fs::remove_all(build);
    fs::create_directories(build / "bin");
    fs::create_directories(build / "data");
    // The show's data without its second module; a capture bounded more tightly than by default.
    for (const char* file : {"morva.flb", "mopart1.xm"})
        fs::create_symlink(data / file, build / "data" / file);
    const fs::path wrapper = build / "bin" / "morva-capture";
    std::ofstream(wrapper) << "#!/bin/sh\nexec '" << capture.string() << "' \"$@\" --max-seconds 60\n";
    fs::permissions(wrapper, fs::perms::owner_all, fs::perm_options::add);
    const int status = waitProgramFor(spawnProgram("/bin/bash", build, {runShow.string(), build.string()},
                                                   {"DISPLAY", "WAYLAND_DISPLAY", "SDL_AUDIODRIVER=dummy"},
                                                   build / ".stdout", build / ".stderr"),
                                      300);
    const std::string all = readText(build / ".stdout") + readText(build / ".stderr");
    EXPECT_EQ(status, 5) << all;
    EXPECT_NE(
        all.find(
            "morva-capture: stopped after 60 s of show time (--max-seconds): the music stopped advancing"),
        std::string::npos)
        << all;
    EXPECT_NE(
        all.find("Capture written to " + (build / "capture").string() + ": events.tsv video.y4m audio.wav\n"),
        std::string::npos)
        << all;
    EXPECT_NE(
        all.find(
            "The show did not end by itself: the capture stopped it at its bound of show time (exit code 5"),
        std::string::npos)
        << all;
    if (!HasFailure()) fs::remove_all(build);
}
