// morva-capture end to end: failures with their message and exit code, recorded files, repeatability.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "capture_run.h"
#include "filelib/filelib.h"

namespace fs = std::filesystem;

namespace {

const std::string& program = captureProgram;

// A fresh working folder, with an empty archive unless told otherwise.
fs::path workFolder(const std::string& name, bool withArchive = true) {
    const fs::path folder =
        fs::temp_directory_path() / ("morva-capture-test-" + std::to_string(getpid())) / name;
    fs::remove_all(folder);
    fs::create_directories(folder);
    if (withArchive) {
        FileLibrary archive{};
        libraryOpen(&archive, (folder / "morva.flb").c_str(), 1, 0);
        EXPECT_NE(archive.stream, nullptr);
        libraryClose(&archive);
    }
    return folder;
}

int run(const fs::path& folder, const std::vector<std::string>& arguments, const fs::path& errors = {}) {
    return runCapture(folder, arguments, errors);
}

std::string read(const fs::path& file) {
    return readFile(file);
}

// The events as "kind<TAB>detail" lines, without their times.
std::vector<std::string> events(const fs::path& folder, const std::string& kind = "") {
    std::vector<std::string> lines;
    std::istringstream in(read(folder / "out" / "events.tsv"));
    std::string line;
    while (std::getline(in, line)) {
        const std::string rest = line.substr(line.find('\t') + 1);
        if (kind.empty() || rest.rfind(kind + "\t", 0) == 0) lines.push_back(rest);
    }
    return lines;
}

class Capture : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fs::exists(program)) GTEST_FAIL() << program << " is not built";
    }
    void TearDown() override {
        if (!HasFailure())
            fs::remove_all(fs::temp_directory_path() / ("morva-capture-test-" + std::to_string(getpid())));
    }
};

} // namespace

TEST_F(Capture, MissingArchiveEndsWithErrorLoadingFilelib) {
    const fs::path folder = workFolder("noarchive", false);
    EXPECT_EQ(run(folder, {"--out", "out"}), 1);
    const auto boxes = events(folder, "messagebox");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "messagebox\t|Error loading filelib!");
    EXPECT_EQ(events(folder).back(), "exit\t1");
    EXPECT_TRUE(events(folder, "mode").empty());
}

TEST_F(Capture, RefusedModeEndsWithModeUnsupported) {
    const fs::path folder = workFolder("refused");
    EXPECT_EQ(run(folder, {"--out", "out", "--refuse-mode", "320x240x16"}), 1);
    const auto boxes = events(folder, "messagebox");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "messagebox\t|Mode unsupported!");
    EXPECT_EQ(events(folder).back(), "exit\t1");
}

TEST_F(Capture, DisplayWithoutListedModesKeepsTheDefaultAndRefusesIt) {
    const fs::path folder = workFolder("nomodes");
    EXPECT_EQ(run(folder, {"--out", "out", "--modes", "320x240x24,640x480x32"}), 1);
    EXPECT_EQ(events(folder, "messagebox").at(0), "messagebox\t|Mode unsupported!");
}

TEST_F(Capture, EscapeAbortsWithTheUserInterruptionMessage) {
    const fs::path folder = workFolder("escape");
    EXPECT_EQ(run(folder, {"--out", "out", "--escape-at", "1000"}), 0);
    const auto boxes = events(folder, "messagebox");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "messagebox\tUser interruption|Demonstration aborted, darn it...");
    EXPECT_EQ(events(folder).back(), "exit\t0");
    // Frames were shown until Escape, for about a second of show time.
    const auto presents = events(folder, "present");
    EXPECT_GE(presents.size(), 25u);
    EXPECT_LE(presents.size(), 32u);
}

TEST_F(Capture, NormalEndReturnsOneAfterTheLogAndTheChosenMode) {
    const fs::path folder = workFolder("normal");
    EXPECT_EQ(run(folder, {"--out", "out", "--mode", "320x200x16", "--stills", "500,99999"}), 1);
    const auto all = events(folder);
    const std::vector<std::string> log = events(folder, "log");
    ASSERT_GE(log.size(), 5u);
    EXPECT_EQ(log[log.size() - 5], "log\tOpening file library (morva.flb)...");
    EXPECT_EQ(log[log.size() - 4], "log\tLoading data... ");
    EXPECT_EQ(log[log.size() - 3], "log\tok");
    EXPECT_EQ(log[log.size() - 2], "log\t");
    EXPECT_EQ(log[log.size() - 1], "log\tDone...");
    EXPECT_EQ(events(folder, "mode").at(0), "mode\t320x200x16 interlaced=0 format=565 pitch=640");
    EXPECT_TRUE(events(folder, "messagebox").empty());
    EXPECT_EQ(all.back(), "exit\t1");
    // The video: 320x200 4:2:0 frames at 30 per second, from time zero to the end of the run.
    const std::string video = read(folder / "out" / "video.y4m");
    const std::string header = "YUV4MPEG2 W320 H200 F30:1 Ip A1:1 C420jpeg\n";
    ASSERT_EQ(video.compare(0, header.size(), header), 0);
    const std::size_t frameBytes = 6 + 320 * 200 * 3 / 2;
    ASSERT_EQ((video.size() - header.size()) % frameBytes, 0u);
    const std::size_t frames = (video.size() - header.size()) / frameBytes;
    // Samples at k * 1000 / 30 ms from zero up to the end of the run.
    const std::string text = read(folder / "out" / "events.tsv");
    std::istringstream last(text.substr(text.rfind('\n', text.size() - 2) + 1)); // the exit line
    long long endMs = 0;
    last >> endMs;
    EXPECT_GT(endMs, 5000); // about five seconds of pumping, one of waiting, the fade
    EXPECT_NEAR(static_cast<double>(frames), static_cast<double>(endMs * 30 / 1000 + 1), 1.0);
    EXPECT_TRUE(fs::exists(folder / "out" / "still-500.png"));
    EXPECT_TRUE(fs::exists(folder / "out" / "still-99999.png"));
    const std::string wav = read(folder / "out" / "audio.wav");
    ASSERT_GE(wav.size(), 44u);
    EXPECT_EQ(wav.compare(0, 4, "RIFF"), 0);
}

TEST_F(Capture, ChosenModeIsSetWithTheDisplaysPitchAndFormat) {
    const fs::path folder = workFolder("chosen");
    EXPECT_EQ(run(folder, {"--out", "out", "--mode", "640x480x16 interlaced", "--pitch", "1400", "--format",
                           "555", "--escape-at", "100"}),
              0);
    EXPECT_EQ(events(folder, "mode").at(0), "mode\t640x480x16 interlaced=1 format=555 pitch=1400");
}

TEST_F(Capture, UnknownModeTextKeepsTheDefaultSelection) {
    const fs::path folder = workFolder("unknown");
    EXPECT_EQ(run(folder, {"--out", "out", "--mode", "800x600x16", "--escape-at", "100"}), 0);
    EXPECT_EQ(events(folder, "mode").at(0), "mode\t320x240x16 interlaced=0 format=565 pitch=640");
}

TEST_F(Capture, TwoIdenticalRunsWriteIdenticalFiles) {
    const fs::path first = workFolder("same1");
    const fs::path second = workFolder("same2");
    const std::vector<std::string> arguments = {"--out",    "out",         "--mode",      "512x384x16",
                                                "--stills", "0,2000,4000", "--escape-at", "4500"};
    ASSERT_EQ(run(first, arguments), 0);
    ASSERT_EQ(run(second, arguments), 0);
    int compared = 0;
    for (const auto& entry : fs::directory_iterator(first / "out")) {
        const fs::path other = second / "out" / entry.path().filename();
        ASSERT_TRUE(fs::exists(other)) << other;
        EXPECT_TRUE(read(entry.path()) == read(other)) << entry.path().filename() << " differs";
        ++compared;
    }
    EXPECT_EQ(compared, 6); // events, video, audio and three stills
}

TEST_F(Capture, BadOptionsAreRejectedWithUsage) {
    const fs::path folder = workFolder("usage");
    EXPECT_EQ(run(folder, {"--format", "444"}), 2);
    EXPECT_EQ(run(folder, {"--audio", "loud"}), 2);
    EXPECT_EQ(run(folder, {"--modes", "320x200"}), 2);
    EXPECT_EQ(run(folder, {"--pitch"}), 2);
}

TEST_F(Capture, UnknownOptionIsNamedAsUnknownWhereverItStands) {
    const fs::path folder = workFolder("unknownoption");
    const fs::path errors = folder / "errors.txt";
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"--frobnicate"}, std::vector<std::string>{"--frobnicate", "5"},
          std::vector<std::string>{"--out", "out", "--frobnicate"}}) {
        EXPECT_EQ(run(folder, arguments, errors), 2);
        EXPECT_NE(read(errors).find("unknown option --frobnicate"), std::string::npos) << read(errors);
    }
    EXPECT_EQ(run(folder, {"--out"}, errors), 2);
    EXPECT_NE(read(errors).find("--out needs a value"), std::string::npos) << read(errors);
}

TEST_F(Capture, StillsOfARunThatNeverSetAModeAreReportedMissing) {
    const fs::path folder = workFolder("stillsnomode", false);
    const fs::path errors = folder / "errors.txt";
    EXPECT_EQ(run(folder, {"--out", "out", "--stills", "0,100"}, errors), 1);
    EXPECT_FALSE(fs::exists(folder / "out" / "still-0.png"));
    const std::string said = read(errors);
    EXPECT_NE(said.find("no screen for still-0.png"), std::string::npos) << said;
    EXPECT_NE(said.find("no screen for still-100.png"), std::string::npos) << said;
}

namespace {

// A short run asking for the movie show.mp4, with PATH set to path for the duration of the call;
// standard error goes to folder/errors.txt. Returns the exit code.
int runForMovie(const fs::path& folder, const std::string& path) {
    const char* old = std::getenv("PATH");
    const std::string saved = old ? old : "";
    setenv("PATH", path.c_str(), 1);
    const int code =
        run(folder, {"--out", "out", "--escape-at", "200", "--mp4", "show.mp4"}, folder / "errors.txt");
    setenv("PATH", saved.c_str(), 1);
    return code;
}

// A stand-in for ffmpeg in folder/bin that notes its arguments and writes its last one (or fails
// when told). Returns the PATH that finds it.
std::string fakeFfmpeg(const fs::path& folder, int exitCode) {
    const fs::path bin = folder / "bin";
    fs::create_directories(bin);
    std::ofstream script(bin / "ffmpeg");
    script << "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done > \"$(dirname \"$0\")/arguments\"\n"
           << "for a in \"$@\"; do last=\"$a\"; done\necho movie > \"$last\"\nexit " << exitCode << "\n";
    script.close();
    fs::permissions(bin / "ffmpeg", fs::perms::owner_all);
    return bin.string() + ":/usr/bin:/bin";
}

} // namespace

TEST_F(Capture, MovieIsMuxedByFfmpegAndItsPlaceIsSaid) {
    const fs::path folder = workFolder("movie");
    const fs::path errors = folder / "errors.txt";
    EXPECT_EQ(runForMovie(folder, fakeFfmpeg(folder, 0)), 0);
    EXPECT_NE(read(errors).find("movie written to " + (folder / "show.mp4").string()), std::string::npos)
        << read(errors);
    const std::string arguments = read(folder / "bin" / "arguments");
    EXPECT_NE(arguments.find("out/video.y4m\n"), std::string::npos) << arguments;
    EXPECT_NE(arguments.find("out/audio.wav\n"), std::string::npos) << arguments;
    EXPECT_TRUE(fs::exists(folder / "out" / "video.y4m"));
}

TEST_F(Capture, MovieThatFfmpegFailsOnIsRemovedAndTheRunKeepsItsExitCode) {
    const fs::path folder = workFolder("moviefails");
    const fs::path errors = folder / "errors.txt";
    EXPECT_EQ(runForMovie(folder, fakeFfmpeg(folder, 1)), 0);
    EXPECT_NE(read(errors).find("ffmpeg could not make the movie"), std::string::npos) << read(errors);
    EXPECT_FALSE(fs::exists(folder / "show.mp4"));
}

TEST_F(Capture, MovieWithoutFfmpegSaysSoAndKeepsTheRecording) {
    const fs::path folder = workFolder("noffmpeg");
    const fs::path errors = folder / "errors.txt";
    EXPECT_EQ(runForMovie(folder, (folder / "empty").string()), 0);
    EXPECT_NE(read(errors).find("ffmpeg is not installed"), std::string::npos) << read(errors);
    EXPECT_TRUE(fs::exists(folder / "out" / "video.y4m"));
    EXPECT_TRUE(fs::exists(folder / "out" / "audio.wav"));
    EXPECT_FALSE(fs::exists(folder / "show.mp4"));
    EXPECT_EQ(run(folder, {"--mp4", ""}), 2);
}
