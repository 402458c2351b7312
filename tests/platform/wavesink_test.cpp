// The headless sink output and the WAVE file sink, and the offered-format list of the headless
// wave output.
#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>
#include <iterator>
#include <vector>

#include "platform/wavesink.h"

namespace {

std::vector<std::int64_t> starts;
HeadlessRecorder startRecorder() {
    HeadlessRecorder r{};
    r.audio = [](void*, std::int64_t start, const WaveFormat&, const std::uint8_t*, std::uint32_t) {
        starts.push_back(start);
    };
    return r;
}

void start(const HeadlessOptions& options, const HeadlessRecorder& recorder) {
    starts.clear();
    headlessConfigure(options, recorder);
    platformInit(headlessBackend());
}

std::vector<std::uint8_t> readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t le32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

} // namespace

TEST(HeadlessSink, BlocksAreDoneAtOnceAndPassedOnInOrder) {
    HeadlessOptions options;
    options.audio = headlessAudioSink;
    start(options, startRecorder());
    EXPECT_EQ(waveDeviceCount(), 1);
    WaveOutput* output = nullptr;
    ASSERT_EQ(waveOpen(&output, WaveFormat{22050, 1, 16}), waveOk);
    std::vector<std::uint8_t> data(400, 1);
    WaveBlock blocks[3] = {{data.data(), 400, {}}, {data.data(), 200, {}}, {data.data(), 401, {}}};
    for (WaveBlock& block : blocks) {
        ASSERT_EQ(waveWrite(output, &block), waveOk);
        EXPECT_EQ(waveBlockDone(output, &block), 1);
    }
    EXPECT_EQ(starts, (std::vector<std::int64_t>{0, 200, 300}));
    SoundBuffer* buffer = nullptr;
    EXPECT_NE(soundBufferCreate(&buffer, WaveFormat{22050, 1, 16}, 4000), waveOk) << "no looping buffer";
    EXPECT_EQ(waveReset(output), waveOk);
    EXPECT_EQ(waveClose(output), waveOk);
}

TEST(HeadlessSink, OnlyOfferedFormatsPlay) {
    HeadlessOptions options;
    options.waveFormats = {{22050, 1, 8}};
    start(options, startRecorder());
    EXPECT_EQ(waveQuery(WaveFormat{22050, 1, 8}), waveOk);
    EXPECT_EQ(waveQuery(WaveFormat{44100, 2, 16}), waveBadFormat);
    EXPECT_EQ(waveQuery(WaveFormat{22050, 2, 8}), waveBadFormat);
    WaveOutput* output = nullptr;
    EXPECT_EQ(waveOpen(&output, WaveFormat{44100, 2, 16}), waveBadFormat);
    SoundBuffer* buffer = nullptr;
    EXPECT_EQ(soundBufferCreate(&buffer, WaveFormat{44100, 2, 16}, 4000), waveBadFormat);
    ASSERT_EQ(waveOpen(&output, WaveFormat{22050, 1, 8}), waveOk);
    waveClose(output);
}

TEST(WaveFileSink, WritesAPcmFileOfWhatTheSinkOutputWasGiven) {
    const std::string path = ::testing::TempDir() + "morva_sink.wav";
    WaveFileSink* sink = waveSinkOpen(path.c_str());
    ASSERT_NE(sink, nullptr);
    HeadlessOptions options;
    options.audio = headlessAudioSink;
    start(options, waveSinkRecorder(sink));
    WaveOutput* output = nullptr;
    ASSERT_EQ(waveOpen(&output, WaveFormat{11025, 2, 16}), waveOk);
    std::vector<std::uint8_t> one(8, 0x11), two(12, 0x22);
    WaveBlock a{one.data(), 8, {}}, b{two.data(), 12, {}};
    waveWrite(output, &a);
    waveWrite(output, &b);
    waveClose(output);
    EXPECT_EQ(waveSinkFrames(sink), 5);
    ASSERT_EQ(waveSinkClose(sink), 1);
    const std::vector<std::uint8_t> file = readAll(path);
    ASSERT_EQ(file.size(), 44u + 20);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "RIFF");
    EXPECT_EQ(le32(file, 4), 36u + 20);
    EXPECT_EQ(std::string(file.begin() + 8, file.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(le32(file, 24), 11025u);
    EXPECT_EQ(le32(file, 28), 11025u * 4);
    EXPECT_EQ(file[22], 2);
    EXPECT_EQ(file[34], 16);
    EXPECT_EQ(le32(file, 40), 20u);
    EXPECT_EQ(file[44], 0x11);
    EXPECT_EQ(file[52], 0x22);
    EXPECT_EQ(file.back(), 0x22);
}

TEST(WaveFileSink, ABlockInAnotherFormatIsLeftOutAndReported) {
    const std::string path = ::testing::TempDir() + "morva_sink_mixed.wav";
    WaveFileSink* sink = waveSinkOpen(path.c_str());
    ASSERT_NE(sink, nullptr);
    HeadlessOptions options;
    options.audio = headlessAudioSink;
    start(options, waveSinkRecorder(sink));
    std::vector<std::uint8_t> data(16, 0x33);
    WaveOutput* output = nullptr;
    ASSERT_EQ(waveOpen(&output, WaveFormat{11025, 2, 16}), waveOk);
    WaveBlock a{data.data(), 16, {}};
    waveWrite(output, &a);
    waveClose(output);
    ASSERT_EQ(waveOpen(&output, WaveFormat{8000, 1, 8}), waveOk);
    WaveBlock b{data.data(), 16, {}};
    waveWrite(output, &b);
    waveClose(output);
    EXPECT_EQ(waveSinkFrames(sink), 4);
    EXPECT_EQ(waveSinkClose(sink), 0);
    EXPECT_EQ(waveSinkOpen((::testing::TempDir() + "no/such/folder/x.wav").c_str()), nullptr);
}

// Standard output: a file it points into gets its header back in place after what was there
// before; a pipe gets the header first, with the sizes of a stream of unknown length.
TEST(WaveFileSink, StreamsTakeTheHeaderWhereTheyStandOrFirstWhenTheyCannotSeek) {
    const auto feed = [](WaveFileSink* sink) {
        const HeadlessRecorder recorder = waveSinkRecorder(sink);
        std::vector<std::uint8_t> data(8, 0x44);
        recorder.audio(recorder.context, 0, WaveFormat{8000, 1, 16}, data.data(), 8);
        return waveSinkClose(sink);
    };
    const std::string path = ::testing::TempDir() + "morva_sink_stream.wav";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("before", file);
    EXPECT_EQ(feed(waveSinkOpenStream(file)), 1);
    std::fputs("after", file); // the stream stays open and goes on at the end
    std::fclose(file);
    const std::vector<std::uint8_t> placed = readAll(path);
    ASSERT_EQ(placed.size(), 6u + 44 + 8 + 5);
    EXPECT_EQ(std::string(placed.begin() + 6, placed.begin() + 10), "RIFF");
    EXPECT_EQ(le32(placed, 6 + 40), 8u);
    EXPECT_EQ(std::string(placed.end() - 5, placed.end()), "after");

    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    std::FILE* writer = fdopen(ends[1], "wb");
    ASSERT_NE(writer, nullptr);
    EXPECT_EQ(feed(waveSinkOpenStream(writer)), 1);
    std::fclose(writer);
    std::vector<std::uint8_t> piped(100);
    const ssize_t got = read(ends[0], piped.data(), piped.size());
    close(ends[0]);
    ASSERT_EQ(got, 44 + 8);
    EXPECT_EQ(std::string(piped.begin(), piped.begin() + 4), "RIFF");
    EXPECT_EQ(le32(piped, 4), 0xFFFFFFFFu);
    EXPECT_EQ(le32(piped, 40), 0xFFFFFFFFu - 36);
    EXPECT_EQ(le32(piped, 24), 8000u);
    EXPECT_EQ(piped[44], 0x44);
}
