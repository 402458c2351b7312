// What the programs load: each needs only the C and C++ run-time libraries to start; SDL (with
// the display and sound-server libraries behind it) comes in only when a window or a sound card
// is needed, from the SDL back end's module, and when the module or SDL is missing the program
// says which and what to install.
#include "virezplay_fixture.h"

#include "platform/platform.h"

using namespace virezplay;

namespace {

const fs::path binFolder = fs::path(MORVA_BINARY_DIR) / "bin";
const fs::path testFolder = fs::path(MORVA_BINARY_DIR) / "tests";

// The libraries a program needs at start, as the dynamic section names them (readelf -d).
std::vector<std::string> neededLibraries(const fs::path& folder, const fs::path& file) {
    const fs::path out = folder / ".readelf";
    const int status = waitProgram(spawnProgram("/usr/bin/env", folder, {"readelf", "-d", file.string()},
                                                {"LC_ALL=C"}, out, folder / ".readelf.err"));
    EXPECT_EQ(status, 0) << "readelf -d " << file;
    std::vector<std::string> names;
    std::istringstream in(readText(out));
    for (std::string line; std::getline(in, line);) {
        if (line.find("(NEEDED)") == std::string::npos) continue;
        const std::size_t open = line.find('['), close = line.find(']');
        if (open != std::string::npos && close > open)
            names.push_back(line.substr(open + 1, close - open - 1));
    }
    return names;
}

// The C and C++ run-time, and the sanitizers' when a build has them.
bool runTimeLibrary(const std::string& name) {
    for (const char* allowed : {"libc.so.", "libstdc++.so.", "libgcc_s.so.", "libm.so.", "libpthread.so.",
                                "libdl.so.", "ld-linux", "libasan.so.", "libubsan.so.", "libtsan.so."})
        if (name.rfind(allowed, 0) == 0) return true;
    return false;
}

bool executable(const fs::path& file) {
    return fs::is_regular_file(file) && access(file.c_str(), X_OK) == 0;
}

// The lines of the dynamic loader's trace (LD_DEBUG=files) that name a library it opened.
bool loaded(const std::string& trace, const std::string& library) {
    std::istringstream in(trace);
    for (std::string line; std::getline(in, line);)
        if (line.find("file=") != std::string::npos && line.find(library) != std::string::npos) return true;
    return false;
}

} // namespace

TEST_F(Virezplay, ProgramsAndTestsNeedOnlyTheCAndCxxRunTime) {
    std::vector<fs::path> programs;
    for (const char* name : {"virezplay", "morva", "morva-capture", "flb"}) {
        EXPECT_TRUE(executable(binFolder / name)) << name << " is built with the tools tests";
        programs.push_back(binFolder / name);
    }
    for (const auto& entry : fs::directory_iterator(testFolder))
        if (executable(entry.path())) programs.push_back(entry.path());
    EXPECT_GT(programs.size(), 5u);
    for (const fs::path& program : programs) {
        if (!executable(program)) continue;
        const std::vector<std::string> needed = neededLibraries(folder, program);
        EXPECT_FALSE(needed.empty()) << program;
        for (const std::string& library : needed)
            EXPECT_TRUE(runTimeLibrary(library)) << program.filename() << " needs " << library;
    }
}

TEST_F(Virezplay, RenderingAndDescribingLoadNoSdlButPlayingDoes) {
    writeBytes(folder / "plain.xm", song({SongPattern{}}, {0}));
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"--wav", "/dev/null", "plain.xm"},
          std::vector<std::string>{"--info", "plain.xm"}}) {
        const Result r = run(folder, arguments, {"LD_DEBUG=files"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(loaded(r.err, "libc.so")) << "no trace of the loader:\n" << r.err;
        EXPECT_FALSE(loaded(r.err, "libSDL2")) << arguments[0];
        EXPECT_FALSE(loaded(r.err, "morva-sdl.so")) << arguments[0];
    }
    const Result live = run(folder, {"plain.xm"}, {"LD_DEBUG=files", "SDL_AUDIODRIVER=dummy"});
    EXPECT_TRUE(loaded(live.err, "morva-sdl.so")) << live.err;
    EXPECT_TRUE(loaded(live.err, "libSDL2")) << live.err;
}

TEST_F(Virezplay, MissingOrBrokenBackEndIsNamedWithWhatToInstall) {
    writeBytes(folder / "plain.xm", song({SongPattern{}}, {0}));
    const fs::path missing = folder / "nowhere" / "morva-sdl.so";
    Result r = run(folder, {"plain.xm"}, {"MORVA_SDL_MODULE=" + missing.string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(
        r.err,
        "virezplay: no sound output could be opened: the SDL back end (morva-sdl.so) is missing: looked "
        "for " +
            missing.string() + " (use --wav FILE to render to a file)\n");

    // A file that is there but cannot be loaded (as when SDL itself is missing): the loader's words.
    const fs::path broken = folder / "broken.so";
    std::ofstream(broken) << "not a library\n";
    r = run(folder, {"plain.xm"}, {"MORVA_SDL_MODULE=" + broken.string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("the SDL back end could not be loaded (" + broken.string()), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("apt-get install libsdl2-2.0-0"), std::string::npos) << r.err;

    // The show: no screen to show on, with the reason, and the exit code that makes `make run`
    // record the show headless instead.
    const fs::path show = binFolder / "morva";
    const pid_t child = spawnProgram(show, folder, {}, {"MORVA_SDL_MODULE=" + missing.string(), "DISPLAY=:0"},
                                     folder / "show.out", folder / "show.err");
    EXPECT_EQ(waitProgramFor(child, 60), exitNoDisplay);
    const std::string said = readText(folder / "show.err");
    EXPECT_NE(said.find("morva: no screen to show on: the SDL back end (morva-sdl.so) is missing"),
              std::string::npos)
        << said;
}
