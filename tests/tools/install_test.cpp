// cmake --install and the README's example program: the sound library (static and shared), its
// public headers, the pkg-config file, the programs and the show's data land under the prefix;
// the example, built with pkg-config against the installed files alone, renders a module exactly
// as the installed virezplay does, linked either way.
#include "virezplay_fixture.h"

#include <cstdlib>

using namespace virezplay;

namespace {

// Runs a shell command in folder; its exit code (standard output and error into files there).
int shell(const fs::path& folder, const std::string& command) {
    return waitProgram(spawnProgram("/bin/sh", folder, {"-c", command}, {}, folder / ".stdout", folder / ".stderr"));
}

// The README's C example: the first ```c block.
std::string readmeExample() {
    const std::string readme = readText(fs::path(MORVA_SOURCE_DIR) / "README.md");
    const std::size_t start = readme.find("```c\n");
    if (start == std::string::npos) return {};
    const std::size_t end = readme.find("\n```", start + 5);
    return end == std::string::npos ? std::string() : readme.substr(start + 5, end - start - 4);
}

std::string quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

} // namespace

TEST_F(Virezplay, InstalledLibraryBuildsTheReadmeExampleWithPkgConfig) {
#ifdef MORVA_SANITIZED
    GTEST_SKIP() << "the installed library carries the sanitizers here: a plain program cannot link it";
#endif
    const fs::path prefix = folder / "prefix";
    ASSERT_EQ(shell(folder, std::string("'") + MORVA_CMAKE + "' --install '" + MORVA_BINARY_DIR + "' --prefix " +
                                quoted(prefix)),
              0)
        << readText(folder / ".stderr");
    // The pkg-config file says where the rest went.
    fs::path pc;
    for (const auto& entry : fs::recursive_directory_iterator(prefix))
        if (entry.path().filename() == "morvasound.pc") pc = entry.path();
    ASSERT_FALSE(pc.empty()) << "no morvasound.pc under " << prefix;
    const fs::path libdir = pc.parent_path().parent_path();
    for (const fs::path& installed :
         {libdir / "libmorvasound.a", libdir / "libmorvasound.so", prefix / "include/morva/sound/sound.h",
          prefix / "include/morva/sound/api/render.h", prefix / "include/morva/sound/api/soundapi.h",
          prefix / "bin/virezplay", prefix / "bin/morva", prefix / "bin/morva-capture", prefix / "bin/flb",
          prefix / "share/morva/morva.flb", prefix / "share/morva/mopart1.xm", prefix / "share/morva/mopart2.xm"})
        EXPECT_TRUE(fs::exists(installed)) << installed;

    const std::string example = readmeExample();
    ASSERT_NE(example.find("sound_render_open"), std::string::npos) << "no C example in the README";
    std::ofstream(folder / "example.c") << example;
    writeBytes(folder / "song.xm", song({SongPattern{}}, {0, 0}));
    const std::string pkg = "PKG_CONFIG_PATH=" + quoted(pc.parent_path()) + " pkg-config ";
    // Shared: the library found through pkg-config, at run time through LD_LIBRARY_PATH.
    ASSERT_EQ(shell(folder, "cc -Wall -Wextra -Werror example.c $(" + pkg + "--cflags --libs morvasound) -o example"), 0)
        << readText(folder / ".stderr");
    ASSERT_EQ(shell(folder, "LD_LIBRARY_PATH=" + quoted(libdir) + " ./example song.xm > shared.raw"), 0)
        << readText(folder / ".stderr");
    EXPECT_NE(shell(folder, "env -u LD_LIBRARY_PATH ./example song.xm > /dev/null"), 0)
        << "the shared build should need the installed libmorvasound.so";
    // Static: the archive and what pkg-config says it needs.
    ASSERT_EQ(shell(folder, "cc example.c $(" + pkg + "--cflags morvasound) " + quoted(libdir / "libmorvasound.a") +
                                " $(" + pkg + "--static --libs morvasound | sed 's/-lmorvasound//') -o example_static"),
              0)
        << readText(folder / ".stderr");
    ASSERT_EQ(shell(folder, "./example_static song.xm > static.raw"), 0) << readText(folder / ".stderr");
    // Both render what the installed virezplay renders.
    ASSERT_EQ(shell(folder, quoted(prefix / "bin/virezplay") + " -q -o virezplay.wav song.xm"), 0)
        << readText(folder / ".stderr");
    const std::string rendered = readWave(folder / "virezplay.wav").data;
    EXPECT_EQ(rendered.size(), 32u * 6 * 882 * 4);
    EXPECT_TRUE(readText(folder / "shared.raw") == rendered);
    EXPECT_TRUE(readText(folder / "static.raw") == rendered);
    // A file it cannot load: the library's message, and a failing exit code.
    EXPECT_EQ(shell(folder, "./example_static missing.xm"), 1);
    EXPECT_EQ(readText(folder / ".stderr"), "File does not exist\n");
}
