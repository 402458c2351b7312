// morva-capture end to end: failures with their message and exit code, recorded files, repeatability.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "capture_run.h"
#include "show_folder.h"

namespace fs = std::filesystem;

namespace {

const std::string& program = captureProgram;

enum class Music {
    none,  // no modules at all
    brief, // two short stand-ins for the show's modules: 6 and 15 orders of 0.24 s each
    show,  // the show's own two modules
};

// A fresh working folder, with a stand-in archive (every entry the parts read, all zero) unless
// told otherwise, and the music asked for.
fs::path workFolder(const std::string& name, bool withArchive = true, Music music = Music::brief) {
    const fs::path folder =
        fs::temp_directory_path() / ("morva-capture-test-" + std::to_string(getpid())) / name;
    fs::remove_all(folder);
    fs::create_directories(folder);
    if (withArchive) {
        EXPECT_TRUE(writeStandInArchive(folder / "morva.flb"));
    }
    if (music == Music::brief) {
        writeShortModule(folder / "mopart1.xm", 6);
        writeShortModule(folder / "mopart2.xm", 15);
    } else if (music == Music::show) {
        for (const char* file : {"mopart1.xm", "mopart2.xm"})
            fs::copy_file(fs::path(MORVA_DATA_DIR) / file, folder / file);
    }
    return folder;
}

int run(const fs::path& folder, const std::vector<std::string>& arguments, const fs::path& errors = {},
        const fs::path& output = {}) {
    return runCapture(folder, arguments, errors, output);
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

// The order positions the show read, as one list of distinct positions per song: a song starts
// where the position goes back.
std::vector<std::vector<int>> orderRuns(const fs::path& folder) {
    std::vector<std::vector<int>> songs;
    for (const std::string& line : events(folder, "status")) {
        const int order = std::stoi(line.substr(line.find('\t') + 1));
        if (songs.empty() || order < songs.back().back()) songs.emplace_back();
        if (songs.back().empty() || songs.back().back() != order) songs.back().push_back(order);
    }
    return songs;
}

std::vector<int> counting(int from, int to) {
    std::vector<int> numbers;
    for (int n = from; n <= to; ++n)
        numbers.push_back(n);
    return numbers;
}

// audio.wav of a capture: 16-bit stereo at 44100 Hz after a 44-byte header.
struct Sound {
    std::vector<std::int16_t> samples; // interleaved
    double seconds() const { return static_cast<double>(samples.size()) / 2 / 44100; }
    // Root mean square of the samples between two moments.
    double rms(double from, double to) const {
        const auto first = std::min(samples.size(), static_cast<std::size_t>(from * 44100) * 2);
        const auto last = std::min(samples.size(), static_cast<std::size_t>(to * 44100) * 2);
        double sum = 0;
        for (std::size_t i = first; i < last; ++i)
            sum += static_cast<double>(samples[i]) * samples[i];
        return last > first ? std::sqrt(sum / static_cast<double>(last - first)) : 0.0;
    }
};

Sound readSound(const fs::path& folder) {
    const std::string wav = read(folder / "out" / "audio.wav");
    Sound sound;
    if (wav.size() < 44 || wav.compare(0, 4, "RIFF") != 0) return sound;
    sound.samples.resize((wav.size() - 44) / 2);
    std::memcpy(sound.samples.data(), wav.data() + 44, sound.samples.size() * 2);
    return sound;
}

// Milliseconds of the run's end (the exit event).
long long endOfRun(const fs::path& folder) {
    const std::string text = read(folder / "out" / "events.tsv");
    std::istringstream last(text.substr(text.rfind('\n', text.size() - 2) + 1));
    long long endMs = 0;
    last >> endMs;
    return endMs;
}

// Compares every file of two runs' recordings; returns how many there were.
int compareRecordings(const fs::path& first, const fs::path& second) {
    int compared = 0;
    for (const auto& entry : fs::directory_iterator(first / "out")) {
        const fs::path other = second / "out" / entry.path().filename();
        EXPECT_TRUE(fs::exists(other)) << other;
        EXPECT_TRUE(read(entry.path()) == read(other)) << entry.path().filename() << " differs";
        ++compared;
    }
    return compared;
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
    // The first song starts after the 3,000 ms warning and plays until about 4.3 s.
    EXPECT_EQ(run(folder, {"--out", "out", "--escape-at", "4000"}), 0);
    const auto boxes = events(folder, "messagebox");
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "messagebox\tUser interruption|Demonstration aborted, darn it...");
    EXPECT_EQ(events(folder).back(), "exit\t0");
    // The warning picture, then frames until Escape, for about a second of show time.
    const auto presents = events(folder, "present");
    EXPECT_GE(presents.size(), 25u);
    EXPECT_LE(presents.size(), 35u);
    // The music played until Escape, and nothing after it.
    const Sound sound = readSound(folder);
    EXPECT_GT(sound.rms(3.2, 3.9), 1000.0);
    EXPECT_NEAR(sound.seconds(), 4.0, 0.05);
}

TEST_F(Capture, EscapeDuringTheWarningIsActedOnOnlyWhenThePumpRuns) {
    const fs::path folder = workFolder("escapewarning");
    EXPECT_EQ(run(folder, {"--out", "out", "--escape-at", "1000"}), 0);
    EXPECT_EQ(events(folder, "messagebox").at(0),
              "messagebox\tUser interruption|Demonstration aborted, darn it...");
    // The first pump after the warning's busy wait ends the show; the song had just started.
    const std::vector<std::vector<int>> songs = orderRuns(folder);
    ASSERT_EQ(songs.size(), 1u);
    EXPECT_EQ(songs[0], std::vector<int>{0});
    EXPECT_NEAR(readSound(folder).seconds(), 3.0, 0.05);
}

TEST_F(Capture, NormalEndReturnsOneAfterTheLogAndTheChosenMode) {
    const fs::path folder = workFolder("normal");
    EXPECT_EQ(run(folder, {"--out", "out", "--mode", "320x200x16", "--stills", "500,99999"}), 1);
    const auto all = events(folder);
    const std::vector<std::string> log = events(folder, "log");
    ASSERT_GE(log.size(), 6u);
    EXPECT_EQ(log[log.size() - 6], "log\tLoading music (mopart1.xm)...");
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
    // The warning, both short songs (about 1.3 and 3.5 s), one second of waiting, the fade.
    EXPECT_GT(endMs, 8000);
    EXPECT_LT(endMs, 10000);
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



TEST_F(Capture, TwoIdenticalRunsWriteIdenticalFiles) {
    const fs::path first = workFolder("same1");
    const fs::path second = workFolder("same2");
    const std::vector<std::string> arguments = {"--out",    "out",         "--mode",      "512x384x16",
                                                "--stills", "0,2000,4000", "--escape-at", "4500"};
    ASSERT_EQ(run(first, arguments), 0);
    ASSERT_EQ(run(second, arguments), 0);
    const int compared = compareRecordings(first, second);
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

TEST_F(Capture, MissingFirstModuleEndsWithErrorLoadingModule) {
    const fs::path folder = workFolder("nomodule", true, Music::none);
    EXPECT_EQ(run(folder, {"--out", "out"}), 1);
    EXPECT_EQ(events(folder, "messagebox"), std::vector<std::string>{"messagebox\t|Error loading module!"});
    const std::vector<std::string> log = events(folder, "log");
    EXPECT_EQ(log.back(), "log\tLoading music (mopart1.xm)...");
    EXPECT_EQ(events(folder).back(), "exit\t1");
}

TEST_F(Capture, ShortSongsChangeMusicAtFiveAndEndAtFourteen) {
    const fs::path folder = workFolder("shortsongs");
    EXPECT_EQ(run(folder, {"--out", "out"}), 1);
    const std::vector<std::vector<int>> songs = orderRuns(folder);
    ASSERT_EQ(songs.size(), 2u);
    EXPECT_EQ(songs[0], counting(0, 5));
    EXPECT_EQ(songs[1], counting(0, 14));
    // Silence during the warning, the music from its end on; the sound lasts as long as the run.
    const Sound sound = readSound(folder);
    EXPECT_EQ(sound.rms(0, 2.9), 0.0);
    EXPECT_GT(sound.rms(3.2, 4.2), 1000.0);
    EXPECT_GT(sound.rms(5.0, 7.0), 1000.0);
    EXPECT_NEAR(sound.seconds(), endOfRun(folder) / 1000.0, 0.05);
}

TEST_F(Capture, WithoutWorkingSoundOutputTheShowRunsSilentlyToTheEnd) {
    for (const std::string audio : {"busy", "none"}) {
        const fs::path folder = workFolder("audio" + audio);
        EXPECT_EQ(run(folder, {"--out", "out", "--audio", audio}), 1) << audio;
        // A device that is there but cannot be opened is reported before the music loads; with
        // no device at all the silent device is the one found, and nothing is reported.
        const std::vector<std::string> log = events(folder, "log");
        const auto at = [&](const std::string& line) {
            return std::find(log.begin(), log.end(), line) - log.begin();
        };
        const auto error = at("log\tVIREZ sound init error (no/busy hardware), sound output disabled...");
        const auto loading = at("log\tLoading music (mopart1.xm)...");
        ASSERT_LT(loading, static_cast<long>(log.size())) << audio;
        if (audio == "busy")
            EXPECT_EQ(error + 1, loading);
        else
            EXPECT_EQ(error, static_cast<long>(log.size()));
        const std::vector<std::vector<int>> songs = orderRuns(folder);
        ASSERT_EQ(songs.size(), 2u) << audio;
        EXPECT_EQ(songs[0], counting(0, 5)) << audio;
        EXPECT_EQ(songs[1], counting(0, 14)) << audio;
        EXPECT_EQ(readSound(folder).rms(0, 100), 0.0) << audio;
    }
}

TEST_F(Capture, EscapeInTheLastWaitIsNeverActedOn) {
    const fs::path whole = workFolder("lastwaitwhole");
    ASSERT_EQ(run(whole, {"--out", "out"}), 1);
    // Order 14 of the second song ends the parts; Escape half a second into the wait after it
    // meets no pump any more, and the show ends normally.
    long long orderFourteen = 0;
    std::istringstream in(read(whole / "out" / "events.tsv"));
    std::string line;
    while (std::getline(in, line))
        if (line.find("\tstatus\t14 ") != std::string::npos) {
            orderFourteen = std::stoll(line);
            break;
        }
    ASSERT_GT(orderFourteen, 0);
    const fs::path folder = workFolder("lastwait");
    EXPECT_EQ(run(folder, {"--out", "out", "--escape-at", std::to_string(orderFourteen + 500)}), 1);
    EXPECT_TRUE(events(folder, "messagebox").empty());
    EXPECT_EQ(events(folder).back(), "exit\t1");
}

TEST_F(Capture, TwoRunsOfTheShowsMusicWriteIdenticalFiles) {
    const fs::path first = workFolder("showsame1", true, Music::show);
    const fs::path second = workFolder("showsame2", true, Music::show);
    // Past the change of music (about 41.5 s), with the second song playing.
    const std::vector<std::string> arguments = {"--out",    "out",         "--mode",      "320x200x16",
                                                "--stills", "20000,44000", "--escape-at", "45000"};
    ASSERT_EQ(run(first, arguments), 0);
    ASSERT_EQ(run(second, arguments), 0);
    const int compared = compareRecordings(first, second);
    EXPECT_EQ(compared, 5); // events, video, audio and two stills
    EXPECT_EQ(orderRuns(first).size(), 2u);
    EXPECT_GT(readSound(first).rms(40, 45), 300.0);
}

TEST_F(Capture, TheLogStartsWithTheWindowsOwnThreeLinesThenTheLoading) {
    const fs::path folder = workFolder("log");
    EXPECT_EQ(run(folder, {"--out", "out", "--escape-at", "100"}), 0);
    const std::vector<std::string> log = events(folder, "log");
    ASSERT_GE(log.size(), 6u);
    EXPECT_EQ(log[0].rfind("log\tZYN DemoSystem v1.0 (W32)", 0), 0u) << log[0];
    EXPECT_NE(log[0].find("2000"), std::string::npos);
    EXPECT_NE(log[0].find("Gravel Mantle"), std::string::npos);
    EXPECT_NE(log[1].find("VIREZ"), std::string::npos);
    EXPECT_NE(log[1].find("1.1.2"), std::string::npos);
    EXPECT_EQ(log[2], "log\t");
    EXPECT_EQ(log.back(), "log\tDone...");
}

TEST_F(Capture, WithoutTheDefaultModeTheFirstSortedEntryIsShown) {
    const fs::path folder = workFolder("modes");
    EXPECT_EQ(run(folder, {"--out", "out", "--modes", "640x400x16,512x384x16,640x480x32", "--escape-at", "100"}), 0);
    EXPECT_EQ(events(folder, "mode").at(0), "mode\t512x384x16 interlaced=0 format=565 pitch=1024");
}

TEST_F(Capture, NoSoundChosenInTheSoundSetupRunsTheShowSilentlyToItsEnd) {
    // A working sound output is there; the user picks "No Sound" before "GO!".
    const fs::path folder = workFolder("nosound");
    EXPECT_EQ(run(folder, {"--out", "out", "--audio-setup", "open;preset=No Sound;ok"}), 1);
    const std::vector<std::vector<int>> songs = orderRuns(folder);
    ASSERT_EQ(songs.size(), 2u);
    EXPECT_EQ(songs[0], counting(0, 5));
    EXPECT_EQ(songs[1], counting(0, 14));
    const Sound sound = readSound(folder);
    EXPECT_EQ(sound.rms(0, sound.seconds()), 0.0);
    // No sound error: the silent device was chosen, not fallen back to.
    for (const std::string& line : events(folder, "log")) EXPECT_EQ(line.find("sound init error"), std::string::npos);
    // The same run without the choice is heard.
    const fs::path heard = workFolder("heard");
    EXPECT_EQ(run(heard, {"--out", "out", "--audio-setup", "open;ok"}), 1);
    EXPECT_GT(readSound(heard).rms(3.2, 4.2), 1000.0);
}

TEST_F(Capture, TheSoundSetupIsScriptedBeforeGo) {
    const fs::path folder = workFolder("setup");
    const fs::path errors = folder / "errors.txt";
    EXPECT_EQ(run(folder,
                  {"--out", "out", "--audio-setup", "open;preset=&High;stereo=0;buffer=200;custom;rate=48000;ok;ok",
                   "--mode", "640x400x16", "--escape-at", "100"},
                  errors),
              0);
    for (const char* complaint : {"no control", "refused", "not in", "greyed", "nothing left"})
        EXPECT_EQ(read(errors).find(complaint), std::string::npos) << read(errors);
    EXPECT_EQ(events(folder, "mode").at(0), "mode\t640x400x16 interlaced=0 format=565 pitch=1280");
    // An action that finds nothing is said, and the show still starts.
    EXPECT_EQ(run(folder, {"--out", "out", "--audio-setup", "open;preset=Loud;ok", "--escape-at", "100"}, errors), 0);
    EXPECT_NE(read(errors).find("no control \"Loud\""), std::string::npos) << read(errors);
    // Words that cannot be actions are refused before anything runs.
    for (const char* bad : {"open;;ok", "stereo=2", "ok=1", "preset=", "mixing=loud"}) {
        EXPECT_EQ(run(folder, {"--audio-setup", bad}, errors), 2) << bad;
        EXPECT_NE(read(errors).find("bad value for --audio-setup"), std::string::npos) << bad;
    }
}

// --- What the programs say ---------------------------------------------------------------------

TEST_F(Capture, HelpGoesToStandardOutputWithEveryOptionTheModesTheFilesAndTheExitCodes) {
    const fs::path folder = workFolder("help", false, Music::none);
    const fs::path out = folder / "out.txt", errors = folder / "errors.txt";
    EXPECT_EQ(run(folder, {"--help"}, errors, out), 0);
    EXPECT_EQ(read(errors), "");
    const std::string help = read(out);
    for (const char* said :
         {"--out DIR", "--mode TEXT", "--modes WxHxB", "--format 565|555", "--pitch BYTES", "--refuse-mode WxHxB",
          "--audio ok|none|busy", "--audio-setup", "--escape-at MS", "--stills MS", "--mp4 FILE", "--realtime",
          "default: capture", "\"320x200x16\"", "\"320x240x16\"", "\"640x480x16 interlaced\"", "events.tsv",
          "video.y4m", "audio.wav", "still-MS.png", "Exit codes", "255"})
        EXPECT_NE(help.find(said), std::string::npos) << said << " missing from:\n" << help;
    // The default display offers 16-bit modes only to the show's 16-bit frame buffer.
    EXPECT_EQ(help.find("\"320x240x24\""), std::string::npos) << help;
    EXPECT_FALSE(fs::exists(folder / "capture"));
}

TEST_F(Capture, UnknownModeTextIsRefusedWithTheValidTexts) {
    const fs::path folder = workFolder("bogusmode");
    const fs::path errors = folder / "errors.txt";
    EXPECT_EQ(run(folder, {"--out", "out", "--mode", "bogus"}, errors), 2);
    std::string said = read(errors);
    EXPECT_NE(said.find("no mode \"bogus\" in the mode list"), std::string::npos) << said;
    for (const char* text : {"\"320x200x16\"", "\"320x240x16\"", "\"512x384x16\"", "\"640x480x16 interlaced\""})
        EXPECT_NE(said.find(text), std::string::npos) << text << " missing from:\n" << said;
    EXPECT_FALSE(fs::exists(folder / "out" / "events.tsv")) << "nothing runs";
    // The list is the one of the display asked for.
    EXPECT_EQ(run(folder, {"--out", "out", "--modes", "320x200x16", "--mode", "320x240x16"}, errors), 2);
    said = read(errors);
    EXPECT_NE(said.find("\"320x200x16\""), std::string::npos) << said;
    EXPECT_EQ(said.find("\"320x240x16\"\n"), std::string::npos) << said;
}

TEST_F(Capture, PitchBelowARowOfTheChosenModeIsRefused) {
    const fs::path folder = workFolder("pitch");
    const fs::path errors = folder / "errors.txt";
    // The default mode, 320x240x16, has rows of 640 bytes.
    EXPECT_EQ(run(folder, {"--out", "out", "--pitch", "639"}, errors), 2);
    EXPECT_NE(read(errors).find("--pitch 639 is less than a row of the mode \"320x240x16\" (640 bytes)"),
              std::string::npos)
        << read(errors);
    EXPECT_EQ(run(folder, {"--out", "out", "--mode", "640x480x32", "--modes", "640x480x32", "--pitch", "2559"},
                  errors),
              2);
    EXPECT_EQ(run(folder, {"--out", "out", "--pitch", "640", "--escape-at", "100"}), 0);
    EXPECT_EQ(events(folder, "mode").at(0), "mode\t320x240x16 interlaced=0 format=565 pitch=640");
}

TEST_F(Capture, EndSaysWhatWasWrittenAndReportsStillsAfterIt) {
    const fs::path folder = workFolder("summary");
    const fs::path out = folder / "out.txt", errors = folder / "errors.txt";
    EXPECT_EQ(run(folder, {"--out", "out", "--stills", "500,99999", "--escape-at", "100"}, errors, out), 0);
    const long long endMs = endOfRun(folder);
    const std::string said = read(errors);
    EXPECT_NE(said.find("still-99999.png was asked for after the show had ended (at " + std::to_string(endMs) +
                        " ms)"),
              std::string::npos)
        << said;
    EXPECT_EQ(said.find("still-500.png was asked"), std::string::npos) << said;
    const std::string summary = read(out);
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f s of show", static_cast<double>(endMs) / 1000);
    EXPECT_EQ(summary.rfind("morva-capture: " + std::string(seconds), 0), 0u) << summary;
    EXPECT_NE(summary.find(std::to_string(events(folder, "present").size()) + " frames presented, exit code 0"),
              std::string::npos)
        << summary;
    EXPECT_NE(summary.find("written to out: events.tsv, video.y4m, still-500.png, still-99999.png, audio.wav\n"),
              std::string::npos)
        << summary;
}

TEST_F(Capture, SetUpFailuresNameTheirCause) {
    const fs::path errors = fs::path(workFolder("causes", false)) / "errors.txt";
    const fs::path noArchive = workFolder("causearchive", false);
    EXPECT_EQ(run(noArchive, {"--out", "out"}, errors), 1);
    EXPECT_NE(read(errors).find("morva: cannot open the archive \"morva.flb\" in " + fs::canonical(noArchive).string() +
                                ": No such file or directory; run from the folder that holds the show's data "
                                "(build/data)\n"),
              std::string::npos)
        << read(errors);

    const fs::path noModule = workFolder("causemodule", true, Music::none);
    EXPECT_EQ(run(noModule, {"--out", "out"}, errors), 1);
    EXPECT_NE(read(errors).find("morva: cannot load the music module \"mopart1.xm\" in " +
                                fs::canonical(noModule).string() + ": "),
              std::string::npos)
        << read(errors);

    const fs::path refused = workFolder("causemode");
    EXPECT_EQ(run(refused, {"--out", "out", "--mode", "640x400x16 interlaced", "--refuse-mode", "640x400x16"}, errors),
              1);
    EXPECT_NE(read(errors).find("morva: the display refused the video mode 640x400x16 interlaced: the headless "
                                "display was told to refuse it\n"),
              std::string::npos)
        << read(errors);

    const fs::path busy = workFolder("causesound");
    EXPECT_EQ(run(busy, {"--out", "out", "--audio", "busy", "--escape-at", "100"}, errors), 0);
    EXPECT_NE(read(errors).find("morva: no sound output can be opened ("), std::string::npos) << read(errors);
    EXPECT_NE(read(errors).find("the show runs in silence"), std::string::npos) << read(errors);
}
