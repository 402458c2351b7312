// The capture's recorder fed by hand: video sampling at 30 per second of virtual time, stills at
// their moments, sound placed at the frame it started, and the files' formats.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

#include "tools/capture/recorder.h"

namespace fs = std::filesystem;

namespace {

struct Screen {
    std::vector<std::uint8_t> memory;
    SurfaceInfo info;
};

// A 320x200x16 surface (pitch 700) filled with one RGB565 colour.
Screen screen(std::uint16_t colour) {
    Screen s;
    s.memory.assign(700 * 200, 0);
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 320; ++x)
            std::memcpy(&s.memory[y * 700 + x * 2], &colour, 2);
    s.info = {s.memory.data(), 700, 320, 200, 16, 0xF800, 0x7E0, 0x1F};
    return s;
}

std::string read(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::string all(fs::file_size(file), '\0');
    in.read(all.data(), static_cast<std::streamsize>(all.size()));
    return all;
}

class Recorder : public ::testing::Test {
  protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("morva-recorder-test-" + std::to_string(getpid()));
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override { fs::remove_all(folder); }
    fs::path folder;
};

constexpr std::size_t headerBytes = sizeof("YUV4MPEG2 W320 H200 F30:1 Ip A1:1 C420jpeg\n") - 1;
constexpr std::size_t frameBytes = 6 + 320 * 200 * 3 / 2;

// Luma of the top-left pixel of video frame k.
int lumaOf(const std::string& video, std::size_t k) {
    return static_cast<std::uint8_t>(video[headerBytes + k * frameBytes + 6]);
}

} // namespace

TEST_F(Recorder, VideoSamplesShowWhatWasLastPresentedAtTheirTime) {
    CaptureSettings settings{folder.string(), {40, 50, 150, 500}};
    HeadlessRecorder r{};
    ASSERT_TRUE(captureOpen(settings, &r));
    const Screen red = screen(0xF800), blue = screen(0x001F);
    r.mode(r.context, 0, red.info, 0);
    r.present(r.context, 50'000, red.info);   // at 50 ms
    r.present(r.context, 100'000, blue.info); // at 100 ms, exactly on sample 3
    r.finish(r.context, 200'000, 1);          // sample 6 is at the end itself

    const std::string video = read(folder / "video.y4m");
    ASSERT_EQ((video.size() - headerBytes) % frameBytes, 0u);
    ASSERT_EQ((video.size() - headerBytes) / frameBytes, 7u);
    const int black = 16, redLuma = 82, blueLuma = 41; // BT.601 studio range
    const int expected[7] = {black, black, redLuma, blueLuma, blueLuma, blueLuma, blueLuma};
    for (std::size_t k = 0; k < 7; ++k)
        EXPECT_NEAR(lumaOf(video, k), expected[k], 1) << "sample " << k;

    const auto pixel = [&](const char* name) {
        int w = 0, h = 0, n = 0;
        unsigned char* data = stbi_load((folder / name).c_str(), &w, &h, &n, 3);
        EXPECT_NE(data, nullptr) << name;
        if (!data) return std::vector<int>{};
        EXPECT_EQ(w, 320);
        EXPECT_EQ(h, 200);
        std::vector<int> rgb = {data[0], data[1], data[2]};
        stbi_image_free(data);
        return rgb;
    };
    EXPECT_EQ(pixel("still-40.png"), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(pixel("still-50.png"), (std::vector<int>{255, 0, 0}));
    EXPECT_EQ(pixel("still-150.png"), (std::vector<int>{0, 0, 255}));
    EXPECT_EQ(pixel("still-500.png"), (std::vector<int>{0, 0, 255})); // after the end: the last screen
}

TEST_F(Recorder, ScreenPresentedAfterTheLastSampleClosesTheVideo) {
    CaptureSettings settings{folder.string(), {}};
    HeadlessRecorder r{};
    ASSERT_TRUE(captureOpen(settings, &r));
    const Screen red = screen(0xF800), blue = screen(0x001F);
    r.mode(r.context, 0, red.info, 0);
    r.present(r.context, 40'000, red.info);
    r.present(r.context, 50'000, blue.info); // between samples 1 and 2, and the run ends there
    r.finish(r.context, 50'000, 1);
    const std::string video = read(folder / "video.y4m");
    ASSERT_EQ((video.size() - headerBytes) / frameBytes, 3u); // samples 0 and 1, then the closing one
    EXPECT_NEAR(lumaOf(video, 1), 16, 1);
    EXPECT_NEAR(lumaOf(video, 2), 41, 1);
}

TEST_F(Recorder, FiveFiveFiveSurfacesAreReadWithTheirOwnMasks) {
    CaptureSettings settings{folder.string(), {10}};
    HeadlessRecorder r{};
    ASSERT_TRUE(captureOpen(settings, &r));
    Screen green = screen(0x03E0); // full green in 5-5-5
    green.info.redMask = 0x7C00;
    green.info.greenMask = 0x3E0;
    r.mode(r.context, 0, green.info, 1);
    r.present(r.context, 1'000, green.info);
    r.finish(r.context, 20'000, 0);
    int w = 0, h = 0, n = 0;
    unsigned char* data = stbi_load((folder / "still-10.png").c_str(), &w, &h, &n, 3);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data[0], 0);
    EXPECT_EQ(data[1], 255);
    EXPECT_EQ(data[2], 0);
    stbi_image_free(data);
}

TEST_F(Recorder, EventsAreTabSeparatedLinesWithTabsInTextsReplaced) {
    CaptureSettings settings{folder.string(), {}};
    HeadlessRecorder r{};
    ASSERT_TRUE(captureOpen(settings, &r));
    r.event(r.context, 0, "log", "a\tb");
    r.event(r.context, 1234, "exit", "1");
    r.finish(r.context, 1'234'000, 1);
    EXPECT_EQ(read(folder / "events.tsv"), "0\tlog\ta b\n1234\texit\t1\n");
    EXPECT_FALSE(fs::exists(folder / "video.y4m")); // no mode, no video
}

TEST_F(Recorder, SoundIsPlacedAtItsStartFrameAsSixteenBitStereoAndCutOnReset) {
    CaptureSettings settings{folder.string(), {}};
    HeadlessRecorder r{};
    ASSERT_TRUE(captureOpen(settings, &r));
    const WaveFormat mono8{1000, 1, 8};
    const std::uint8_t loud[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    r.audio(r.context, 10, mono8, loud, 4); // frames 10..13
    r.audio(r.context, 20, mono8, loud, 4); // frames 20..23, then cut at 22
    r.audioCut(r.context, 22, 1000);
    r.finish(r.context, 50'000, 1); // 50 ms: the file runs 50 frames
    const std::string wav = read(folder / "audio.wav");
    ASSERT_EQ(wav.size(), 44u + 50 * 4);
    EXPECT_EQ(wav.compare(0, 4, "RIFF"), 0);
    EXPECT_EQ(wav.compare(8, 8, "WAVEfmt "), 0);
    const auto sample = [&](std::size_t frame, int channel) {
        const std::size_t at = 44 + frame * 4 + static_cast<std::size_t>(channel) * 2;
        return static_cast<std::int16_t>(static_cast<std::uint8_t>(wav[at]) |
                                         (static_cast<std::uint8_t>(wav[at + 1]) << 8));
    };
    EXPECT_EQ(sample(9, 0), 0);
    EXPECT_EQ(sample(10, 0), 127 * 256);
    EXPECT_EQ(sample(10, 1), 127 * 256); // mono on both sides
    EXPECT_EQ(sample(13, 1), 127 * 256);
    EXPECT_EQ(sample(14, 0), 0);
    EXPECT_EQ(sample(21, 0), 127 * 256);
    EXPECT_EQ(sample(22, 0), 0); // cut by the reset
}
