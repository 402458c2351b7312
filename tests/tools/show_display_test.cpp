// morva and `make run` without a screen: morva says so and ends with its own code at once, the
// run script falls back to the headless capture and says why; a display that goes away during
// the show ends it with another code; morva --help.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include "tests/private_x.h"
#include "tests/run_program.h"

namespace fs = std::filesystem;

namespace {

const fs::path binFolder = fs::path(MORVA_BINARY_DIR) / "bin";
const fs::path morva = binFolder / "morva";
const fs::path capture = binFolder / "morva-capture";
const fs::path runShow = fs::path(MORVA_SOURCE_DIR) / "tools" / "run-show.sh";
const fs::path data = MORVA_DATA_DIR;

struct Result {
    int status = -1;
    std::string out, err;
};

std::string readText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

// A folder of its own for each test.
fs::path workFolder(const std::string& name) {
    const fs::path folder = fs::temp_directory_path() / ("morva-display-test-" + std::to_string(getpid())) / name;
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

// Runs program to its end (killed after a minute: nothing here may wait for a user).
Result run(const fs::path& program, const fs::path& folder, const std::vector<std::string>& arguments,
           const std::vector<std::string>& environment) {
    const fs::path out = folder / ".stdout", err = folder / ".stderr";
    Result result;
    result.status = waitProgramFor(spawnProgram(program, folder, arguments, environment, out, err), 60);
    result.out = readText(out);
    result.err = readText(err);
    return result;
}

// The environment of a user without a screen: no sound card either, and the leak checker quiet
// about what SDL and X keep until exit.
std::vector<std::string> withoutScreen(std::vector<std::string> environment) {
    environment.push_back("SDL_AUDIODRIVER=dummy");
    environment.push_back("ASAN_OPTIONS=detect_leaks=0");
    return environment;
}

bool built() {
    return fs::exists(morva) && fs::exists(capture);
}

bool haveData() {
    return fs::exists(data / "morva.flb") && fs::exists(data / "mopart1.xm") && fs::exists(data / "mopart2.xm");
}

// A build folder as `make run` finds one: the programs and the show's data, with a capture that
// presses Escape early so the run is short.
fs::path preparedBuild(const std::string& name) {
    const fs::path folder = workFolder(name);
    fs::create_directories(folder / "bin");
    fs::create_directory_symlink(data, folder / "data");
    fs::create_symlink(morva, folder / "bin" / "morva");
    const fs::path wrapper = folder / "bin" / "morva-capture";
    std::ofstream(wrapper) << "#!/bin/sh\nexec '" << capture.string() << "' \"$@\" --escape-at 100\n";
    fs::permissions(wrapper, fs::perms::owner_all, fs::perm_options::add);
    return folder;
}

class ShowDisplay : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!built()) GTEST_FAIL() << morva << " and " << capture << " are not built";
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(fs::temp_directory_path() / ("morva-display-test-" + std::to_string(getpid())));
    }
};

} // namespace

TEST_F(ShowDisplay, HelpGoesToStandardOutputWithTheExitCodes) {
    const fs::path folder = workFolder("help");
    const Result r = run(morva, folder, {"--help"}, {});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    for (const char* said : {"usage: morva", "Escape", "morva.flb", "Exit codes", "  1 ", "  0 ", "  3 ", "  4 ",
                             "  255 "})
        EXPECT_NE(r.out.find(said), std::string::npos) << said << " missing from:\n" << r.out;
}

// The driver SDL falls back to without a display, forced: the show would run unseen.
TEST_F(ShowDisplay, OffScreenDriverEndsAtOnceWithItsOwnCode) {
    const fs::path folder = workFolder("offscreen");
    const Result r = run(morva, folder, {}, withoutScreen({"SDL_VIDEODRIVER=offscreen", "DISPLAY=:987"}));
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.err.find("morva: no screen to show on: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("\"offscreen\""), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("DISPLAY=\":987\""), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("DirectDraw Error!"), std::string::npos) << r.err;
}

TEST_F(ShowDisplay, DisplayThatDoesNotExistIsNamed) {
    const fs::path folder = workFolder("nodisplay");
    const Result r = run(morva, folder, {}, withoutScreen({"DISPLAY=:987", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER"}));
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.err.find("morva: no screen to show on: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("DISPLAY=\":987\""), std::string::npos) << r.err;
}

TEST_F(ShowDisplay, NoDisplayNamedAtAllIsSaid) {
    const fs::path folder = workFolder("unset");
    const Result r =
        run(morva, folder, {}, withoutScreen({"DISPLAY", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER=x11"}));
    EXPECT_EQ(r.status, 3) << r.err;
    EXPECT_NE(r.err.find("DISPLAY is not set"), std::string::npos) << r.err;
}

TEST_F(ShowDisplay, RunScriptFallsBackToTheCaptureWhenTheDisplayCannotBeOpened) {
    if (!haveData()) GTEST_SKIP() << "the show's data is not built in " << data;
    const fs::path build = preparedBuild("runscript");
    const Result r = run("/bin/bash", build, {runShow.string(), build.string()},
                         withoutScreen({"DISPLAY=:987", "WAYLAND_DISPLAY", "SDL_VIDEODRIVER"}));
    const std::string all = r.out + r.err;
    EXPECT_EQ(r.status, 0) << all;
    EXPECT_NE(all.find("morva: no screen to show on: "), std::string::npos) << all;
    EXPECT_NE(all.find("The show found no screen to show on (exit code 3"), std::string::npos) << all;
    EXPECT_NE(all.find("running the show headless instead, recording into " + (build / "capture").string()),
              std::string::npos)
        << all;
    // Escape before any still: exactly these three were written.
    EXPECT_NE(all.find("Capture written to " + (build / "capture").string() + ": events.tsv video.y4m audio.wav\n"),
              std::string::npos)
        << all;
    EXPECT_NE(all.find("ended by the user (exit code 0)"), std::string::npos) << all;
    EXPECT_TRUE(fs::exists(build / "capture" / "video.y4m"));
}

TEST_F(ShowDisplay, RunScriptWithoutAnyDisplaySaysSoAndCaptures) {
    if (!haveData()) GTEST_SKIP() << "the show's data is not built in " << data;
    const fs::path build = preparedBuild("runscriptnodisplay");
    const Result r = run("/bin/bash", build, {runShow.string(), build.string()},
                         withoutScreen({"DISPLAY", "WAYLAND_DISPLAY"}));
    const std::string all = r.out + r.err;
    EXPECT_EQ(r.status, 0) << all;
    EXPECT_NE(all.find("No display (DISPLAY and WAYLAND_DISPLAY are not set): running the show headless"),
              std::string::npos)
        << all;
    EXPECT_EQ(all.find("morva:"), std::string::npos) << "morva was not to be started:\n" << all;
}

// A real X server that goes away while the configuration window waits for "GO!".
TEST_F(ShowDisplay, LostDisplayConnectionEndsWithItsOwnCode) {
    if (std::system("command -v Xvfb >/dev/null 2>&1 && command -v xwininfo >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "needs Xvfb and xwininfo";
    const fs::path folder = workFolder("lost");
    // A display of our own, whose number the server picks.
    PrivateX x = startPrivateX(folder, "800x600x24");
    ASSERT_FALSE(x.display.empty()) << readText(folder / "xvfb.err");
    const std::string display = x.display;
    const fs::path out = folder / ".stdout", err = folder / ".stderr";
    const pid_t show = spawnProgram(morva, folder, {}, withoutScreen({"DISPLAY=" + display, "WAYLAND_DISPLAY"}), out, err);
    ASSERT_NE(show, 0);
    // Until the configuration window is on that screen.
    const std::string look = "DISPLAY=" + display + " xwininfo -root -tree 2>/dev/null | grep -q \"Morva by Gravel Mantle\"";
    bool shown = false;
    for (int i = 0; i < 600 && !shown; ++i) {
        shown = std::system(look.c_str()) == 0;
        if (!shown) usleep(100'000);
    }
    stopPrivateX(x, SIGKILL);
    const int status = waitProgramFor(show, 30);
    ASSERT_TRUE(shown) << readText(err);
    EXPECT_EQ(status, 4) << readText(err);
    EXPECT_NE(readText(err).find("morva: the connection to the display (DISPLAY=\"" + display + "\") was lost"),
              std::string::npos)
        << readText(err);
}
