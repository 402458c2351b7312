// virezplay's rendered files are whole or not there: failed writes name the path and the
// system's reason, interrupted and failed renders leave no file, existing files are replaced only
// with --force, and outputs that would collide or share standard output are refused before
// anything is rendered.
#include "virezplay_fixture.h"

#include <chrono>
#include <csignal>
#include <thread>

using namespace virezplay;

namespace {

std::vector<std::uint8_t> plainSong() {
    return song({SongPattern{}}, {0, 0});
}

// The files of a folder, hidden ones (temporary files) included.
std::vector<std::string> filesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Runs virezplay through the shell, for a limit on the size of files it writes.
Result runLimited(const fs::path& folder, const std::string& limit, const std::string& arguments) {
    Result result;
    const std::string command = "ulimit -f " + limit + "; exec '" + program.string() + "' " + arguments;
    result.status = waitProgram(
        spawnProgram("/bin/sh", folder, {"-c", command}, {}, folder / ".stdout", folder / ".stderr"));
    result.out = readText(folder / ".stdout");
    result.err = readText(folder / ".stderr");
    return result;
}

// Starts a render of 30 minutes of music and waits until its temporary file is being written.
pid_t startLongRender(const fs::path& folder, const fs::path& err) {
    const pid_t child = start(folder, {"--loop", "--wav", "long.wav", "plain.xm"}, {}, "/dev/null", err);
    for (int i = 0; i < 400; ++i) {
        for (const std::string& name : filesIn(folder))
            if (name.rfind(".long.wav.", 0) == 0 && fs::file_size(folder / name) > 100'000) return child;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return child;
}

const std::vector<std::string> justTheSong = {".stderr", ".stdout", "plain.xm"};

} // namespace

TEST_F(Virezplay, InterruptedRendersLeaveNoFile) {
    writeBytes(folder / "plain.xm", plainSong());
    for (const int signal : {SIGINT, SIGTERM}) {
        const fs::path err = folder / ".stderr";
        const pid_t child = startLongRender(folder, err);
        ASSERT_NE(child, 0);
        kill(child, signal);
        EXPECT_EQ(finish(child), 128 + signal);
        EXPECT_EQ(readText(err), "virezplay: stopped; the unfinished long.wav is removed\n");
        fs::remove(folder / ".stdout");
        fs::remove(err);
        EXPECT_EQ(filesIn(folder), std::vector<std::string>{"plain.xm"}) << signal;
    }
}

// A file size limit stands for a full disk: the write fails, the reason is said, nothing is kept.
TEST_F(Virezplay, FailedWritesNameThePathAndTheReasonAndLeaveNoFile) {
    writeBytes(folder / "plain.xm", plainSong());
    const Result r = runLimited(folder, "200", "--loop --wav long.wav plain.xm"); // 100 KiB in dash's blocks
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("virezplay: cannot write long.wav: File too large\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("virezplay: plain.xm: not rendered (nothing of it is left behind)\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(filesIn(folder), justTheSong);
    // A full device, a folder that is not there, a place where no file can be made.
    const Result full = run(folder, {"--wav", "/dev/full", "plain.xm"});
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.err.find("virezplay: cannot write /dev/full: No space left on device\n"),
              std::string::npos)
        << full.err;
    const Result missing = run(folder, {"--wav", "no/such/folder/x.wav", "plain.xm"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "virezplay: cannot write no/such/folder/x.wav: No such file or directory\n");
    const Result proc = run(folder, {"--wav", "/proc/x.wav", "plain.xm"});
    EXPECT_EQ(proc.status, 1);
    EXPECT_EQ(proc.err.rfind("virezplay: cannot write /proc/x.wav: ", 0), 0u) << proc.err;
    EXPECT_EQ(filesIn(folder), justTheSong);
}

TEST_F(Virezplay, FailingTimelineLeavesNoWave) {
    writeBytes(folder / "plain.xm", plainSong());
    const Result r = run(folder, {"--wav", "plain.wav", "--timeline", "/proc/t.txt", "plain.xm"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("virezplay: cannot write /proc/t.txt: "), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(folder / "plain.wav"));
    EXPECT_EQ(filesIn(folder), justTheSong);
}

TEST_F(Virezplay, ExistingFilesAreReplacedOnlyWithForce) {
    writeBytes(folder / "plain.xm", plainSong());
    writeBytes(folder / "plain.wav", {'o', 'l', 'd'});
    const Result refused = run(folder, {"--wav", "plain.wav", "plain.xm"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.err, "virezplay: plain.wav exists; give --force to replace it; nothing was rendered\n");
    EXPECT_EQ(readText(folder / "plain.wav"), "old");
    // The timeline too, and before the WAVE file of the same run is rendered.
    writeBytes(folder / "plain.tl", {'o', 'l', 'd'});
    const Result timeline = run(folder, {"--wav", "new.wav", "--timeline", "plain.tl", "plain.xm"});
    EXPECT_EQ(timeline.status, 2);
    EXPECT_FALSE(fs::exists(folder / "new.wav"));
    const Result forced =
        run(folder, {"--force", "--wav", "plain.wav", "--timeline", "plain.tl", "plain.xm"});
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_TRUE(readWave(folder / "plain.wav").valid);
    EXPECT_NE(readText(folder / "plain.tl"), "old");
    // A new file gets the permissions of any new file, not those of a private temporary one.
    EXPECT_NE(fs::status(folder / "plain.wav").permissions() & fs::perms::others_read, fs::perms::none);
}

TEST_F(Virezplay, CollidingOutputsAreRefusedBeforeAnythingIsRendered) {
    writeBytes(folder / "p1.xm", plainSong());
    fs::create_directories(folder / "sub");
    writeBytes(folder / "sub" / "p1.xm", song({SongPattern{8}}, {0}));
    fs::create_directories(folder / "out");
    const Result r = run(folder, {"--wav", "out/", "p1.xm", "sub/p1.xm"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err,
              "virezplay: p1.xm and sub/p1.xm would both be written to out/p1.wav; render them in separate "
              "runs or into names that tell them apart; nothing was rendered\n");
    EXPECT_TRUE(fs::is_empty(folder / "out"));
    // The same file by two ways of writing its name, and a WAVE file and timeline in one file.
    const Result twoWays = run(folder, {"--wav", "out/%s.wav", "p1.xm", "./p1.xm"});
    EXPECT_EQ(twoWays.status, 2);
    const Result wavAndTimeline = run(folder, {"--wav", "same", "--timeline", "same", "p1.xm"});
    EXPECT_EQ(wavAndTimeline.status, 2);
    EXPECT_EQ(wavAndTimeline.err,
              "virezplay: the WAVE file and the timeline of p1.xm would both be written to same; "
              "nothing was rendered\n");
    const Result overInput = run(folder, {"--force", "--wav", "%s.xm", "p1.xm"});
    EXPECT_EQ(overInput.status, 2);
    EXPECT_NE(overInput.err.find("would be written over the input p1.xm"), std::string::npos)
        << overInput.err;
    EXPECT_FALSE(fs::exists(folder / "same"));
    EXPECT_EQ(readText(folder / "p1.xm").size(), plainSong().size());
}

TEST_F(Virezplay, SeveralFilesToStandardOutputAreRefused) {
    writeBytes(folder / "a.xm", plainSong());
    writeBytes(folder / "b.xm", plainSong());
    const Result r = run(folder, {"--wav", "-", "a.xm", "b.xm"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err,
              "virezplay: several files cannot go to standard output: their WAVE files would run together "
              "as one stream; give a folder (DIR/) or a name with %s; nothing was rendered\n");
    // One file to standard output, or several to /dev/null, are fine.
    EXPECT_EQ(run(folder, {"--wav", "-", "a.xm"}).status, 0);
    EXPECT_EQ(run(folder, {"--wav", "/dev/null", "a.xm", "b.xm"}).status, 0);
}
