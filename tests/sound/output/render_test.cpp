// Offline rendering: the library polled in a loop on the headless sink output, written to a WAVE
// file through the file sink.
#include "plumbing_fixture.h"

#include "platform/wavesink.h"

#include <algorithm>
#include <fstream>
#include <iterator>

using namespace plumbing;

namespace {

std::vector<char> readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Renders polls poll passes of the test module into path; returns the frames written.
std::int64_t render(const std::string& path, int polls) {
    WaveFileSink* sink = waveSinkOpen(path.c_str());
    EXPECT_NE(sink, nullptr);
    HeadlessOptions options;
    options.audio = headlessAudioSink;
    headlessConfigure(options, waveSinkRecorder(sink));
    platformInit(headlessBackend());
    sound_startup();
    EXPECT_EQ(sound_init(), 1);
    EXPECT_EQ(currentDevice, &winWaveDevice);
    Module* module = sound_load_module(writeModule("plumbing_render.xm").c_str());
    EXPECT_NE(module, nullptr);
    // The song on two channels, and a tone of our own on a third.
    EXPECT_EQ(sound_open_channels(3), 1);
    EXPECT_NE(sound_play_module(module, 1), 0);
    static std::uint8_t tone[64];
    for (std::size_t i = 0; i < sizeof tone; ++i)
        tone[i] = i < 32 ? 0xC0 : 0x40;
    const SampleDesc desc{tone, 1, SMP_8BIT_MONO, sizeof tone, 1, 0, sizeof tone, LOOP_FORWARD, 0, 0, LOOP_NONE};
    std::uint32_t handle = 0;
    EXPECT_EQ(currentDevice->addSample(&desc, 1, &handle), 0);
    const int channel = sound_allocate_channel();
    EXPECT_EQ(channel, 2);
    currentDevice->setChannelSample(2, handle);
    currentDevice->setChannelVolume(2, 64);
    currentDevice->startSound(2, 22050);
    for (int i = 0; i < polls; ++i)
        EXPECT_EQ(sound_poll(), 1);
    sound_free_module(module);
    EXPECT_EQ(sound_close(), 1);
    const std::int64_t frames = waveSinkFrames(sink);
    EXPECT_EQ(waveSinkClose(sink), 1);
    return frames;
}

} // namespace

TEST(OfflineRender, EveryPollWritesAWholePassAndEveryRunGivesTheSameBytes) {
    const std::string first = ::testing::TempDir() + "plumbing_render1.wav";
    const std::string second = ::testing::TempDir() + "plumbing_render2.wav";
    // Blocks are done at once, so each pass fills 34 blocks of 668 frames.
    EXPECT_EQ(render(first, 10), 10 * 34 * 668);
    EXPECT_EQ(render(second, 10), 10 * 34 * 668);
    const std::vector<char> a = readAll(first);
    const std::vector<char> b = readAll(second);
    ASSERT_EQ(a.size(), 44u + 10 * 34 * 2672);
    // The output filter keeps its history for the life of the process, so inside one process the
    // second rendering's first frame follows on from the first's last: compare from frame 1 on.
    EXPECT_TRUE(std::equal(a.begin(), a.begin() + 44, b.begin()));
    EXPECT_TRUE(std::equal(a.begin() + 48, a.end(), b.begin() + 48));
    EXPECT_EQ(std::string(a.data(), 4), "RIFF");
    // The song plays: the rendering is not all silence.
    std::size_t loud = 0;
    for (std::size_t i = 44; i + 1 < a.size(); i += 2)
        if (static_cast<std::int16_t>((a[i] & 0xFF) | (a[i + 1] << 8)) != 0) ++loud;
    EXPECT_GT(loud, 1000u);
}
