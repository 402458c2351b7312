// The whole show through morva-capture on the generated data: its stages in order, the phases
// following the music, lit frames in every phase, the fade to black at the end, the sound,
// Escape in every part, every presentation mode, runs that repeat byte for byte, and the movie.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wshadow"
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

#include "capture_run.h"

namespace fs = std::filesystem;

namespace {

const fs::path dataFolder = MORVA_DATA_DIR;

// The sanitizer build looks for memory faults and runs the show ten times slower: it leaves out
// the second run of the repeat check and most Escape moments, which the plain build makes.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool sanitized = true;
#else
constexpr bool sanitized = false;
#endif

struct Event {
    long long ms;
    std::string kind, detail;
};

std::vector<Event> eventsOf(const fs::path& out) {
    std::vector<Event> all;
    std::istringstream in(readFile(out / "events.tsv"));
    std::string line;
    while (std::getline(in, line)) {
        const auto first = line.find('\t'), second = line.find('\t', first + 1);
        if (first == std::string::npos || second == std::string::npos) continue;
        all.push_back({std::stoll(line.substr(0, first)), line.substr(first + 1, second - first - 1),
                       line.substr(second + 1)});
    }
    return all;
}

std::vector<std::string> details(const std::vector<Event>& events, const std::string& kind) {
    std::vector<std::string> found;
    for (const Event& e : events)
        if (e.kind == kind) found.push_back(e.detail);
    return found;
}

// A status the show read: which song (1 or 2, counted by the order going back to 0), order, row.
struct Status {
    long long ms;
    int song, order, row;
};

std::vector<Status> statusesOf(const std::vector<Event>& events) {
    std::vector<Status> found;
    int song = 1;
    for (const Event& e : events) {
        if (e.kind != "status") continue;
        int order = 0, row = 0;
        std::istringstream(e.detail) >> order >> row;
        if (!found.empty() && order < found.back().order) ++song;
        found.push_back({e.ms, song, order, row});
    }
    return found;
}

// The luma planes of video.y4m.
struct Video {
    int width = 0, height = 0;
    std::vector<std::string> luma;
};

Video videoOf(const fs::path& out) {
    Video video;
    const std::string all = readFile(out / "video.y4m");
    const auto headerEnd = all.find('\n');
    if (headerEnd == std::string::npos) return video;
    std::istringstream header(all.substr(0, headerEnd));
    std::string word;
    while (header >> word) {
        if (word[0] == 'W') video.width = std::stoi(word.substr(1));
        if (word[0] == 'H') video.height = std::stoi(word.substr(1));
    }
    const std::size_t lumaBytes = static_cast<std::size_t>(video.width) * video.height;
    const std::size_t frameBytes = 6 + lumaBytes * 3 / 2;
    for (std::size_t at = headerEnd + 1; at + frameBytes <= all.size(); at += frameBytes)
        video.luma.push_back(all.substr(at + 6, lumaBytes));
    return video;
}

// Mean luma of rows top..bottom-1 of a frame (black is 16).
double meanLuma(const Video& video, std::size_t frame, int top, int bottom) {
    const std::string& y = video.luma.at(frame);
    double sum = 0;
    for (int row = top; row < bottom; ++row)
        for (int column = 0; column < video.width; ++column)
            sum += static_cast<std::uint8_t>(y[static_cast<std::size_t>(row * video.width + column)]);
    return sum / (static_cast<double>(bottom - top) * video.width);
}

// The video sample that first shows a frame presented at ms.
std::size_t sampleAt(long long ms) {
    return static_cast<std::size_t>((ms * 30 + 999) / 1000);
}

// Root mean square of the left channel of audio.wav, second by second.
std::vector<double> loudnessBySecond(const fs::path& out) {
    const std::string wav = readFile(out / "audio.wav");
    std::vector<double> seconds;
    if (wav.size() < 44) return seconds;
    std::uint32_t rate = 0;
    std::memcpy(&rate, wav.data() + 24, 4);
    const std::size_t frames = (wav.size() - 44) / 4;
    for (std::size_t start = 0; rate && start + rate <= frames; start += rate) {
        double sum = 0;
        for (std::size_t i = start; i < start + rate; ++i) {
            std::int16_t left = 0;
            std::memcpy(&left, wav.data() + 44 + i * 4, 2);
            sum += static_cast<double>(left) * left;
        }
        seconds.push_back(std::sqrt(sum / rate));
    }
    return seconds;
}

struct Still {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgb;
    const std::uint8_t* at(int x, int y) const {
        return rgb.data() + (static_cast<std::size_t>(y) * width + x) * 3;
    }
};

Still stillOf(const fs::path& file) {
    Still still;
    int channels = 0;
    unsigned char* data = stbi_load(file.c_str(), &still.width, &still.height, &channels, 3);
    if (!data) return still;
    still.rgb.assign(data, data + static_cast<std::size_t>(still.width) * still.height * 3);
    stbi_image_free(data);
    return still;
}

class Show : public ::testing::Test {
  protected:
    fs::path scratch;
    void SetUp() override {
        if (!fs::exists(captureProgram)) GTEST_FAIL() << captureProgram << " is not built";
        for (const char* file : {"morva.flb", "mopart1.xm", "mopart2.xm"})
            if (!fs::exists(dataFolder / file)) GTEST_SKIP() << "no show data in " << dataFolder;
        scratch = fs::temp_directory_path() / ("morva-show-test-" + std::to_string(getpid()));
        fs::remove_all(scratch);
        fs::create_directories(scratch);
    }
    void TearDown() override {
        if (!HasFailure() && !scratch.empty()) fs::remove_all(scratch);
    }
    // A short run (Escape as the show starts, acted on after the warning) asking for the movie
    // scratch/show.mp4, with PATH set to path for the duration of the call. Returns the exit code.
    int showForMovie(const std::string& path) {
        const char* old = std::getenv("PATH");
        const std::string saved = old ? old : "";
        setenv("PATH", path.c_str(), 1);
        const int code = show("movie", {"--escape-at", "1", "--mp4", (scratch / "show.mp4").string()});
        setenv("PATH", saved.c_str(), 1);
        return code;
    }
    // Runs the show from the data folder into scratch/name; returns the exit code.
    int show(const std::string& name, std::vector<std::string> arguments = {}) {
        arguments.insert(arguments.begin(), {"--out", (scratch / name).string()});
        return runCapture(dataFolder, arguments, scratch / (name + ".errors"));
    }
};

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

TEST_F(Show, RunsFromTheWarningToTheLastFadeWithTheMusicAndRepeatsByteForByte) {
    ASSERT_EQ(show("first"), 1);
    const fs::path out = scratch / "first";
    const auto events = eventsOf(out);

    // The loading stage's log after the configuration window's own lines.
    const auto log = details(events, "log");
    const std::vector<std::string> loading = {"Loading music (mopart1.xm)...",
                                              "Opening file library (morva.flb)...",
                                              "Loading data... ",
                                              "ok",
                                              "",
                                              "Done..."};
    ASSERT_GE(log.size(), loading.size());
    EXPECT_EQ(std::vector<std::string>(log.end() - static_cast<std::ptrdiff_t>(loading.size()), log.end()),
              loading);
    EXPECT_TRUE(details(events, "messagebox").empty());
    EXPECT_EQ(events.back().kind, "exit");

    // The first song runs through orders 0 to 5, the second through 0 to 14, one after another.
    const auto statuses = statusesOf(events);
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses.front().order, 0);
    EXPECT_GE(statuses.front().ms, 3000); // after the warning screen's three seconds
    std::vector<int> orders[3];
    for (const Status& s : statuses)
        if (orders[s.song].empty() || orders[s.song].back() != s.order) orders[s.song].push_back(s.order);
    EXPECT_EQ(orders[1], (std::vector<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(orders[2], (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}));
    EXPECT_EQ(statuses.back().song, 2);

    // A lit frame in every phase (picture rows 20..219 of the 320x240 screen; black is 16).
    const Video video = videoOf(out);
    ASSERT_EQ(video.width, 320);
    ASSERT_EQ(video.height, 240);
    EXPECT_GT(meanLuma(video, sampleAt(1500), 20, 220), 30) << "warning screen";
    const struct {
        int song, order, row;
    } phases[] = {{1, 0, 63}, {1, 1, 8},  {1, 3, 32}, {1, 4, 8},  {2, 0, 63},  {2, 2, 32},
                  {2, 4, 32}, {2, 6, 62}, {2, 7, 32}, {2, 9, 32}, {2, 11, 32}, {2, 13, 16}};
    for (const auto& phase : phases) {
        const auto present = std::find_if(statuses.begin(), statuses.end(), [&](const Status& s) {
            return s.song == phase.song && s.order == phase.order && s.row >= phase.row;
        });
        ASSERT_NE(present, statuses.end()) << phase.song << "/" << phase.order;
        const std::size_t sample = sampleAt(present->ms + 34); // the frame drawn with that status
        ASSERT_LT(sample, video.luma.size());
        EXPECT_GT(meanLuma(video, sample, 20, 220), 30)
            << "song " << phase.song << " order " << phase.order << " row " << phase.row;
    }
    // The end: the logo held, then faded out to black.
    EXPECT_GT(meanLuma(video, video.luma.size() - 2, 20, 220), 20);
    EXPECT_EQ(meanLuma(video, video.luma.size() - 1, 0, 240), 16.0);

    // About 2:42: the warning, five orders of the first song, fourteen of the second, the end.
    const long long endMs = events.back().ms;
    EXPECT_GT(endMs, 150000);
    EXPECT_LT(endMs, 175000);
    // Silence during the warning, then sound every second to the end, as long as the video.
    const auto loudness = loudnessBySecond(out);
    const std::size_t musicStart = 4, showEnd = static_cast<std::size_t>(endMs / 1000);
    ASSERT_GE(loudness.size(), showEnd);
    EXPECT_EQ(loudness[0] + loudness[1], 0.0);
    for (std::size_t second = musicStart; second + 1 < showEnd; ++second)
        EXPECT_GT(loudness[second], 50) << "second " << second;
    EXPECT_NEAR(static_cast<double>(video.luma.size()) / 30.0, endMs / 1000.0, 0.1);

    // A second run writes the same bytes.
    if (sanitized) return;
    ASSERT_EQ(show("second"), 1);
    for (const char* file : {"events.tsv", "video.y4m", "audio.wav"})
        EXPECT_TRUE(readFile(out / file) == readFile(scratch / "second" / file)) << file << " differs";
}

TEST_F(Show, EscapeAtAnyMomentOfTheShowTakesTheAbortPath) {
    // The lens, the water, the tunnel (the warning and the last wait: the capture tests).
    const std::vector<long long> moments =
        sanitized ? std::vector<long long>{45000} : std::vector<long long>{20000, 60000, 100000};
    for (long long at : moments) {
        const std::string name = "escape" + std::to_string(at);
        ASSERT_EQ(show(name, {"--escape-at", std::to_string(at)}), 0) << at;
        const auto events = eventsOf(scratch / name);
        EXPECT_EQ(details(events, "messagebox"),
                  (std::vector<std::string>{"User interruption|Demonstration aborted, darn it..."}))
            << at;
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(events.back().detail, "0");
        EXPECT_LE(events.back().ms, at + 100) << at;
        EXPECT_GE(events.back().ms, at) << at;
    }
}

TEST_F(Show, EveryPresentationModeShowsTheSamePicture) {
    // The warning screen at 1.5 s; Escape, pressed as the show starts, ends each run right after it
    // (at 0 ms it would go to the configuration window).
    const auto still = [&](const std::string& name, std::vector<std::string> arguments) {
        arguments.insert(arguments.end(), {"--stills", "1500", "--escape-at", "1"});
        EXPECT_EQ(show(name, arguments), 0) << name;
        return stillOf(scratch / name / "still-1500.png");
    };
    const Still plain = still("plain", {"--mode", "320x200x16"});
    ASSERT_EQ(plain.width, 320);
    ASSERT_EQ(plain.height, 200);
    const auto bright =
        std::count_if(plain.rgb.begin(), plain.rgb.end(), [](std::uint8_t c) { return c > 64; });
    EXPECT_GT(bright, 3000); // the warning's letters, not a black screen

    // Every other mode shows the same 320 x 200 picture at its own place, size and line pattern;
    // pitch and pixel layout change nothing but green's lowest bit.
    const struct {
        const char* name;
        std::vector<std::string> arguments;
        int left, top, scale;
        bool interlaced;
    } modes[] = {
        {"letterbox", {"--mode", "320x240x16"}, 0, 20, 1, false},
        {"centred", {"--mode", "512x384x16"}, 96, 92, 1, false},
        {"doubled", {"--mode", "640x400x16"}, 0, 0, 2, false},
        {"doubled480", {"--mode", "640x480x16"}, 0, 40, 2, false},
        {"interlaced", {"--mode", "640x480x16 interlaced"}, 0, 40, 2, true},
        {"fivefivefive", {"--mode", "320x200x16", "--format", "555"}, 0, 0, 1, false},
        {"widepitch", {"--mode", "512x384x16", "--pitch", "1400"}, 96, 92, 1, false},
    };
    for (const auto& mode : modes) {
        const Still shown = still(mode.name, mode.arguments);
        ASSERT_GT(shown.width, 0) << mode.name;
        int wrong = 0;
        for (int y = 0; y < shown.height && wrong < 5; ++y)
            for (int x = 0; x < shown.width && wrong < 5; ++x) {
                const int px = (x - mode.left) / mode.scale, py = (y - mode.top) / mode.scale;
                const bool inside = x >= mode.left && y >= mode.top && px < 320 && py < 200;
                const bool blankLine = mode.interlaced && (y - mode.top) % 2 == 1;
                const std::uint8_t black[3] = {0, 0, 0};
                const std::uint8_t* expected = inside && !blankLine ? plain.at(px, py) : black;
                const std::uint8_t* got = shown.at(x, y);
                for (int c = 0; c < 3; ++c)
                    if (std::abs(got[c] - expected[c]) > (c == 1 ? 6 : 0)) {
                        ADD_FAILURE() << mode.name << " at " << x << "," << y;
                        ++wrong;
                        break;
                    }
            }
    }
}

TEST_F(Show, MovieIsMuxedByFfmpegAndItsPlaceIsSaid) {
    EXPECT_EQ(showForMovie(fakeFfmpeg(scratch, 0)), 0);
    const std::string said = readFile(scratch / "movie.errors");
    EXPECT_NE(said.find("movie written to " + (scratch / "show.mp4").string()), std::string::npos) << said;
    const std::string arguments = readFile(scratch / "bin" / "arguments");
    EXPECT_NE(arguments.find((scratch / "movie" / "video.y4m").string() + "\n"), std::string::npos)
        << arguments;
    EXPECT_NE(arguments.find((scratch / "movie" / "audio.wav").string() + "\n"), std::string::npos)
        << arguments;
}

TEST_F(Show, MovieThatFfmpegFailsOnIsRemovedAndTheRunKeepsItsExitCode) {
    EXPECT_EQ(showForMovie(fakeFfmpeg(scratch, 1)), 0);
    const std::string said = readFile(scratch / "movie.errors");
    EXPECT_NE(said.find("ffmpeg could not make the movie"), std::string::npos) << said;
    EXPECT_FALSE(fs::exists(scratch / "show.mp4"));
}

TEST_F(Show, MovieWithoutFfmpegSaysSoAndKeepsTheRecording) {
    EXPECT_EQ(showForMovie((scratch / "nothing").string()), 0);
    const std::string said = readFile(scratch / "movie.errors");
    EXPECT_NE(said.find("ffmpeg is not installed"), std::string::npos) << said;
    EXPECT_TRUE(fs::exists(scratch / "movie" / "video.y4m"));
    EXPECT_TRUE(fs::exists(scratch / "movie" / "audio.wav"));
    EXPECT_FALSE(fs::exists(scratch / "show.mp4"));
    EXPECT_EQ(show("empty", {"--mp4", ""}), 2);
}
