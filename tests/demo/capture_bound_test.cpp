// morva-capture always ends: a show that does not end by itself (the second module missing or
// damaged) is stopped at --max-seconds with complete files, a line saying why and exit code 5; a
// file that cannot be written stops the run at once with its path and the system's reason and
// exit code 6; an output folder that cannot be made is named with the reason.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "capture_run.h"
#include "filelib/filelib.h"
#include "show_folder.h"

namespace fs = std::filesystem;

namespace {


void writeBytes(const fs::path& file, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

const fs::path root = fs::temp_directory_path() / ("morva-capture-bound-test-" + std::to_string(getpid()));

// A folder with the stand-in archive and the two short modules (the second as given: missing when
// empty).
fs::path workFolder(const std::string& name, const std::vector<std::uint8_t>& second) {
    const fs::path folder = root / name;
    fs::remove_all(folder);
    fs::create_directories(folder);
    EXPECT_TRUE(writeStandInArchive(folder / "morva.flb"));
    writeBytes(folder / "mopart1.xm", shortModuleBytes(6));
    if (!second.empty()) writeBytes(folder / "mopart2.xm", second);
    return folder;
}

struct Outcome {
    int status = -1;
    std::string out, err;
};

// Runs the capture through the shell (for a file size limit), killed after two minutes: without a
// bound these runs would never end.
Outcome capture(const fs::path& folder, const std::string& arguments, const std::string& limit = "") {
    const std::string command =
        (limit.empty() ? "" : "ulimit -f " + limit + "; ") + "exec '" + captureProgram + "' " + arguments;
    Outcome run;
    run.status = waitProgramFor(
        spawnProgram("/bin/sh", folder, {"-c", command}, {}, folder / ".stdout", folder / ".stderr"), 120);
    run.out = readFile(folder / ".stdout");
    run.err = readFile(folder / ".stderr");
    return run;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> all;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        all.push_back(line);
    return all;
}

std::uint32_t le32(const std::string& bytes, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = v << 8 | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    return v;
}

// video.y4m is its header line and whole frames, nothing else; returns the number of frames.
int wholeFrames(const fs::path& file, int width, int height) {
    const std::string video = readFile(file);
    const std::size_t header = video.find('\n');
    EXPECT_NE(header, std::string::npos);
    EXPECT_EQ(video.substr(0, header), "YUV4MPEG2 W" + std::to_string(width) + " H" + std::to_string(height) +
                                           " F30:1 Ip A1:1 C420jpeg");
    const std::size_t frame = 6 + static_cast<std::size_t>(width) * height * 3 / 2;
    const std::size_t body = video.size() - header - 1;
    EXPECT_EQ(body % frame, 0u) << "a frame is cut short";
    for (std::size_t at = header + 1; at < video.size(); at += frame)
        if (video.compare(at, 6, "FRAME\n") != 0) {
            ADD_FAILURE() << "no frame header at byte " << at;
            break;
        }
    return static_cast<int>(body / frame);
}

// audio.wav has a header whose sizes agree with the file; returns its seconds at 44100 Hz stereo.
double wholeSound(const fs::path& file) {
    const std::string wav = readFile(file);
    EXPECT_GE(wav.size(), 44u);
    if (wav.size() < 44) return 0;
    EXPECT_EQ(wav.substr(0, 4), "RIFF");
    EXPECT_EQ(le32(wav, 4), wav.size() - 8);
    EXPECT_EQ(wav.substr(36, 4), "data");
    EXPECT_EQ(le32(wav, 40), wav.size() - 44);
    return static_cast<double>(wav.size() - 44) / 4 / 44100;
}

class CaptureBound : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fs::exists(captureProgram)) GTEST_FAIL() << captureProgram << " is not built";
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(root);
    }
};

// The case that ran until the disk was full: without the second module the music stops at the
// change of music, and the show waits there for Escape.
TEST_F(CaptureBound, MissingSecondModuleEndsAtTheBoundWithCompleteFilesAndSaysWhy) {
    const fs::path folder = workFolder("missing", {});
    // The music stops about 4.4 s into the run: 3 s of warning and six orders of 0.24 s.
    const Outcome r = capture(folder, "--out out --max-seconds 20");
    ASSERT_EQ(r.status, 5) << r.err;
    EXPECT_NE(r.err.find("morva: cannot load the music module \"mopart2.xm\""), std::string::npos) << r.err;
    const std::string said =
        "morva-capture: stopped after 20 s of show time (--max-seconds): the music stopped "
        "advancing at ";
    ASSERT_NE(r.err.find(said), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("(order 5, row ", r.err.find(said)), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("and the show was waiting for it; the files hold the show up to here"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("morva-capture: 20.0 s of show"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("exit code 5; written to out: events.tsv, video.y4m, audio.wav"), std::string::npos)
        << r.out;
    // The events end with the stop and the exit code; the video and the sound run to the stop.
    const std::vector<std::string> events = lines(readFile(folder / "out" / "events.tsv"));
    ASSERT_GE(events.size(), 2u);
    EXPECT_NE(events[events.size() - 2].find("\tstopped\tthe music stopped advancing at "),
              std::string::npos);
    EXPECT_EQ(events.back(), "20000\texit\t5");
    EXPECT_EQ(wholeFrames(folder / "out" / "video.y4m", 320, 240), 20 * 30 + 1);
    EXPECT_NEAR(wholeSound(folder / "out" / "audio.wav"), 20.0, 0.05);
}

TEST_F(CaptureBound, DamagedSecondModuleEndsTheSameWay) {
    std::vector<std::uint8_t> damaged = shortModuleBytes(15);
    damaged.resize(100); // the header and nothing of the patterns
    const fs::path folder = workFolder("damaged", damaged);
    const Outcome r = capture(folder, "--out out --max-seconds 20");
    EXPECT_EQ(r.status, 5) << r.err;
    EXPECT_NE(r.err.find("the music stopped advancing at "), std::string::npos) << r.err;
    EXPECT_EQ(lines(readFile(folder / "out" / "events.tsv")).back(), "20000\texit\t5");
}

// A bound shorter than the show stops it while the music still plays, and says so.
TEST_F(CaptureBound, ShowStillRunningAtTheBoundIsSaidToBe) {
    const fs::path folder = workFolder("running", shortModuleBytes(15));
    const Outcome r = capture(folder, "--out out --max-seconds 5"); // the music plays from 3 s on
    EXPECT_EQ(r.status, 5) << r.err;
    EXPECT_NE(r.err.find(
                  "morva-capture: stopped after 5 s of show time (--max-seconds): the show was still running "
                  "(the music at order "),
              std::string::npos)
        << r.err;
    EXPECT_EQ(wholeFrames(folder / "out" / "video.y4m", 320, 240), 5 * 30 + 1);
}

// The default bound does not touch a show that ends: the normal end keeps its code and files.
TEST_F(CaptureBound, ShowThatEndsIsNotTouchedByTheDefaultBound) {
    const fs::path folder = workFolder("ends", shortModuleBytes(15));
    const Outcome r = capture(folder, "--out out");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.err.find("stopped after"), std::string::npos) << r.err;
}

TEST_F(CaptureBound, BadBoundsAreRefusedAndTheHelpExplainsTheBoundAndTheCodes) {
    const fs::path folder = workFolder("options", {});
    for (const char* bad : {"0", "-5", "ten", "86401", ""}) {
        const Outcome r = capture(folder, std::string("--max-seconds '") + bad + "'");
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_NE(r.err.find("morva-capture: bad value for --max-seconds"), std::string::npos) << r.err;
    }
    const Outcome help = capture(folder, "--help");
    EXPECT_EQ(help.status, 0);
    for (const char* said : {"--max-seconds S", "(default: 600)", "  5  stopped at --max-seconds",
                             "  6  a file could not be written", "--settings-folder DIR"})
        EXPECT_NE(help.out.find(said), std::string::npos) << said << " missing from:\n" << help.out;
}

// A file size limit stands in for a full disk: the run stops at the first write that fails.
TEST_F(CaptureBound, WriteFailureStopsTheRunAtOnceNamingTheFileAndTheReason) {
    const fs::path folder = workFolder("full", shortModuleBytes(15));
    // 1 MiB in the 512-byte blocks of dash's ulimit (2 MiB in bash's): a dozen frames of video.
    const Outcome r = capture(folder, "--out out", "2048");
    EXPECT_EQ(r.status, 6) << r.err;
    EXPECT_NE(
        r.err.find("morva-capture: cannot write out/video.y4m: File too large; the capture stops here and "
                   "removes the incomplete file"),
        std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(folder / "out" / "video.y4m"));
    EXPECT_FALSE(fs::exists(folder / "out" / "audio.wav")); // nothing more is written after it
    EXPECT_NE(r.out.find("exit code 6; written to out: events.tsv\n"), std::string::npos) << r.out;
    // What was kept is whole: the events up to the stop, then the exit.
    const std::vector<std::string> events = lines(readFile(folder / "out" / "events.tsv"));
    ASSERT_FALSE(events.empty());
    EXPECT_NE(events.back().find("\texit\t"), std::string::npos) << events.back();
    // It stopped early, not after the whole show.
    const long long stoppedMs = std::stoll(events.back());
    EXPECT_LT(stoppedMs, 5000);
}

TEST_F(CaptureBound, OutputFolderThatCannotBeMadeIsNamedWithTheReason) {
    const fs::path folder = workFolder("nofolder", {});
    writeBytes(folder / "file", {1});
    const Outcome r = capture(folder, "--out file/out");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("morva-capture: cannot make the folder file/out: Not a directory"),
              std::string::npos)
        << r.err;
}

} // namespace
