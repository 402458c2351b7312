// The channel mixing loop: output conversion, loops and their events,
// ramps and fade-out copies, muting, pausing and streams.
#include "mixer_fixture.h"

#include "sound/mixer/dsmfilt.h"
#include "sound/formats/loadxm.h"
#include "sound/api/mglobals.h"
#include "sound/output/sdevice.h"

#include <algorithm>
#include <cmath>
#include <filesystem>

namespace {

// A post-processor that writes fixed values into the mixing buffer (first in
// the list, so the filter sees them) on its next call only.
struct Injector {
    int32_t ints[2] = {};
    float floats[2] = {};
    bool armed = false;
};
void injectInt(void* buf, uint32_t frames, void* user) {
    auto* in = static_cast<Injector*>(user);
    if (!in->armed) return;
    in->armed = false;
    auto* b = static_cast<int32_t*>(buf);
    for (uint32_t i = 0; i < frames * 2; ++i)
        b[i] = in->ints[i % 2];
}
void injectFloat(void* buf, uint32_t frames, void* user) {
    auto* in = static_cast<Injector*>(user);
    if (!in->armed) return;
    in->armed = false;
    auto* b = static_cast<float*>(buf);
    for (uint32_t i = 0; i < frames * 2; ++i)
        b[i] = in->floats[i % 2];
}

class MixLoop : public MixerTest {
  protected:
    Injector injector;
    PostProcessor injectorNode{nullptr, nullptr, nullptr, nullptr, injectFloat, nullptr, injectInt};

    void TearDown() override {
        if (injectorNode.next) removePostProcessor(&injectorNode);
        MixerTest::TearDown();
    }
    void inject() { ASSERT_EQ(addPostProcessor(&injectorNode, 0, &injector), 0); }

    // Bytes 0x80 + i: at full level, one channel, amplification 64, the
    // integer families give (i x 256) per frame, so the output names the frame.
    static std::vector<uint8_t> ramp8(size_t n) {
        std::vector<uint8_t> v(n);
        for (size_t i = 0; i < n; ++i)
            v[i] = uint8_t(0x80 + i);
        return v;
    }
    static std::vector<int> framesRead(const std::vector<int16_t>& out) {
        std::vector<int> r;
        for (int16_t s : out)
            r.push_back(s / 256);
        return r;
    }
    // Skips the ramp of the interpolating mode: the channel sounds at its targets at once.
    static void settle(uint32_t ch) {
        MixerChannel& c = mixer.channels[ch];
        c.leftVolume = c.leftTarget;
        c.rightVolume = c.rightTarget;
        c.ramping = 0;
    }
};

TEST_F(MixLoop, OutputConversionClipsTo16And8Bits) {
    const int32_t ints[] = {40000, -40000, 32767, -32768, 0, 255, -1, 256};
    int16_t out16[8];
    uint8_t out8[8];
    convertIntTo16(ints, out16, 8);
    convertIntTo8(ints, out8, 8);
    const int16_t want16[] = {32767, -32768, 32767, -32768, 0, 255, -1, 256};
    const uint8_t want8[] = {255, 0, 255, 0, 128, 128, 127, 129};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(out16[i], want16[i]) << i;
        EXPECT_EQ(out8[i], want8[i]) << i;
    }
}

TEST_F(MixLoop, FloatConversionRoundsFor16BitsAndTruncatesFor8Bits) {
    const float floats[] = {-0.9f, 0.5f, 1.5f, -1.5f, 40000.0f, -40000.0f, 255.9f, -256.5f};
    int16_t out16[8];
    uint8_t out8[8];
    convertFloatTo16(floats, out16, 8);
    convertFloatTo8(floats, out8, 8);
    const int16_t want16[] = {-1, 0, 2, -2, 32767, -32768, 256, -256};
    const uint8_t want8[] = {0x80, 0x80, 0x80, 127, 255, 0, 0x80, 127}; // -1 >> 8 is -1
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(out16[i], want16[i]) << i;
        EXPECT_EQ(out8[i], want8[i]) << i;
    }
}

TEST_F(MixLoop, MixDataClipsTheSumIntoEachOutputFormat) {
    for (uint32_t size : {MIX_16BIT, MIX_8BIT}) {
        open(44100, MIX_STEREO | MIX_INTEGER | size, 1);
        inject();
        injector.ints[0] = 40000;
        injector.ints[1] = -40000;
        injector.armed = true;
        uint8_t out[4] = {};
        ASSERT_EQ(mixData(1, out), 0);
        if (size == MIX_16BIT) {
            int16_t s[2];
            std::memcpy(s, out, 4);
            EXPECT_EQ(s[0], 32767);
            EXPECT_EQ(s[1], -32768);
        } else {
            EXPECT_EQ(out[0], 255);
            EXPECT_EQ(out[1], 0);
        }
        removePostProcessor(&injectorNode);
        mixerClose();
    }
    for (uint32_t size : {MIX_16BIT, MIX_8BIT}) {
        open(44100, MIX_STEREO | MIX_FLOAT | size, 1);
        inject();
        injector.floats[0] = -0.9f;
        injector.floats[1] = 0.9f;
        injector.armed = true;
        uint8_t out[4] = {};
        ASSERT_EQ(mixData(1, out), 0);
        if (size == MIX_16BIT) {
            int16_t s[2];
            std::memcpy(s, out, 4);
            EXPECT_EQ(s[0], -1);
            EXPECT_EQ(s[1], 1);
        } else {
            EXPECT_EQ(out[0], 0x80);
            EXPECT_EQ(out[1], 0x80);
        }
        removePostProcessor(&injectorNode);
        mixerClose();
    }
}

TEST_F(MixLoop, ChunksCoverRequestsLongerThanTheMixingBuffer) {
    open(8000, MIX_MONO | MIX_INTEGER, 1);
    auto data = ramp8(100);
    const uint32_t h = add(data, SMP_8BIT_MONO, 0, 0, 100, LOOP_FORWARD);
    play(0, h, 1000); // an eighth of a frame per output frame
    std::vector<int16_t> out(1000, 12345);
    mixData(1000, out.data()); // five buffers of 200 frames
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(out[i], ((i / 8) % 100) * 256) << i;
    EXPECT_EQ(mixer.channels[0].position, 25u); // wrapped once at the loop end
}

TEST_F(MixLoop, BidirectionalLoopReflectsAtBothEnds) {
    open(1000, MIX_MONO | MIX_INTEGER, 1);
    auto data = ramp8(20);
    const uint32_t h = add(data, SMP_8BIT_MONO, 0, 4, 12, LOOP_BIDI);
    play(0, h, 1000);
    std::vector<int16_t> out(36);
    mixData(12, out.data());
    int32_t dir = 0;
    getChannelDirection(0, &dir);
    EXPECT_EQ(dir, -1);
    EXPECT_EQ(mixer.channels[0].position, 11u);
    EXPECT_EQ(mixer.channels[0].fraction, 0xffffu);
    mixData(24, out.data() + 12);
    const std::vector<int> want = {0, 1, 2, 3, 4, 5, 6, 7, 8,  9,  10, 11, 11, 10, 9, 8, 7, 6,
                                   5, 4, 4, 5, 6, 7, 8, 9, 10, 11, 11, 10, 9,  8,  7, 6, 5, 4};
    EXPECT_EQ(framesRead(out), want);
}

TEST_F(MixLoop, StepLongerThanTheLoopWrapsToTheStartAndWaits) {
    open(1000, MIX_MONO | MIX_INTEGER, 1);
    auto data = ramp8(100);
    const uint32_t h = add(data, SMP_8BIT_MONO, 0, 10, 12, LOOP_FORWARD);
    play(0, h, 5000); // five frames per output frame, loop two frames long
    std::vector<int16_t> out(10, 1);
    mixData(10, out.data());
    const std::vector<int> want = {0, 5, 10, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(framesRead(out), want);
    EXPECT_EQ(mixer.channels[0].position, 10u);
    EXPECT_EQ(mixer.channels[0].status, CH_PLAYING);
    mixData(10, out.data());
    EXPECT_EQ(framesRead(out)[0], 10);
    EXPECT_EQ(framesRead(out)[1], 0);
}

int callbackCalls = 0;
uint32_t callbackChannel = 99;
void countLoops(uint32_t channel) {
    ++callbackCalls;
    callbackChannel = channel;
}

TEST_F(MixLoop, MutedChannelsReachLoopEndsAndDataEndsOnTime) {
    for (uint32_t mute : {0u, 1u}) {
        open(1000, MIX_STEREO | MIX_INTEGER, 3);
        auto data = ramp8(100);
        const uint32_t looped = add(data, SMP_8BIT_MONO, 0, 0, 50, LOOP_FORWARD);
        const uint32_t once = add(data, SMP_8BIT_MONO);
        play(2, looped, 1000);
        play(1, once, 1000);
        setLoopCallback(2, countLoops);
        ASSERT_EQ(muteAll(mute), 0);
        callbackCalls = 0;
        std::vector<int16_t> out(2 * 500);
        mixData(99, out.data());
        EXPECT_EQ(mixer.channels[1].status, CH_PLAYING) << mute;
        mixData(1, out.data());
        EXPECT_EQ(mixer.channels[1].status, CH_ENDED) << mute;
        mixData(399, out.data());
        EXPECT_EQ(callbackCalls, 9) << mute;
        EXPECT_EQ(callbackChannel, 2u);
        EXPECT_EQ(mixer.channels[2].position, 49u) << mute;
        mixData(1, out.data());
        EXPECT_EQ(callbackCalls, 10) << mute;
        EXPECT_EQ(mixer.channels[2].position, 0u) << mute;
        if (mute) {
            for (int16_t s : out)
                ASSERT_EQ(s, 0);
        }
        mixerClose();
    }
}

TEST_F(MixLoop, InterpolatingStartRampsUpOver32Frames) {
    open(44100, MIX_STEREO | MIX_INTERPOLATE, 1);
    std::vector<uint8_t> data(200);
    for (size_t i = 0; i < data.size(); i += 2) {
        data[i] = 10000 & 255;
        data[i + 1] = 10000 >> 8;
    }
    const uint32_t h = add(data, SMP_16BIT_MONO, 0, 0, 200, LOOP_FORWARD);
    play(0, h, 44100);
    EXPECT_EQ(mixer.channels[0].leftVolume, 0);
    EXPECT_EQ(mixer.channels[0].leftTarget, MIXER_FULL_VOLUME);
    std::vector<int16_t> out(2 * 40);
    mixData(32, out.data());
    EXPECT_EQ(mixer.channels[0].leftVolume, MIXER_FULL_VOLUME);
    mixData(8, out.data() + 64);
    EXPECT_EQ(mixer.channels[0].ramping, 0u);
    // Frame k sounds at k/32 of full volume: 10000 x k / 32, rounded to even.
    for (int k = 0; k < 40; ++k) {
        const int16_t want = int16_t(std::lrint(10000.0 * std::min(k, 32) / 32));
        ASSERT_EQ(out[2 * k], want) << k;
        ASSERT_EQ(out[2 * k + 1], want) << k;
    }
}

TEST_F(MixLoop, RestartCrossFadesThroughAFadeOutRecordThatEndsAtStatus0) {
    open(44100, MIX_STEREO | MIX_INTERPOLATE, 1);
    std::vector<uint8_t> data(200);
    for (size_t i = 0; i < data.size(); i += 2) {
        data[i] = 10000 & 255;
        data[i + 1] = 10000 >> 8;
    }
    const uint32_t h = add(data, SMP_16BIT_MONO, 0, 0, 200, LOOP_FORWARD);
    play(0, h, 44100);
    std::vector<int16_t> out(2 * 40);
    mixData(40, out.data());
    ASSERT_EQ(startSound(0, 44100), 0);
    const MixerChannel& fade = mixer.channels[1];
    EXPECT_EQ(fade.status, CH_FADING);
    EXPECT_EQ(fade.leftVolume, MIXER_FULL_VOLUME);
    EXPECT_EQ(fade.leftTarget, 0);
    EXPECT_EQ(mixer.channels[0].leftVolume, 0);
    mixData(32, out.data());
    // The old sound fades while the new one rises: the sum stays level.
    for (int k = 0; k < 64; ++k)
        ASSERT_EQ(out[k], 10000) << k;
    EXPECT_EQ(fade.leftVolume, 0);
    EXPECT_EQ(fade.status, CH_FADING);
    mixData(2, out.data());
    EXPECT_EQ(fade.status, CH_OFF);
    // A second stop while the copy still fades does not replace it.
    mixData(40, out.data());
    ASSERT_EQ(stopSound(0), 0);
    EXPECT_EQ(fade.status, CH_FADING);
    EXPECT_EQ(mixer.channels[0].status, CH_OFF);
    mixData(4, out.data());
    ASSERT_EQ(setChannelPosition(0, 0), 0); // status 0: nothing to fade, nothing plays
    EXPECT_EQ(mixer.channels[0].status, CH_OFF);
    mixData(40, out.data());
    EXPECT_EQ(fade.status, CH_OFF);
    EXPECT_EQ(out[79], 0);
}

TEST_F(MixLoop, InterpolationReachesBackToTheLoopStartOnlyInForwardLoops) {
    for (uint32_t loopType : {LOOP_FORWARD, LOOP_NONE}) {
        open(2000, MIX_MONO | MIX_INTERPOLATE, 1);
        std::vector<uint8_t> data(10, 0x80);
        data[9] = 0xc0; // 16384
        data[0] = 0x40; // -16384
        const uint32_t h = add(data, SMP_8BIT_MONO, 0, 0, 10, loopType);
        play(0, h, 1000); // half a frame per output frame
        settle(0);
        std::vector<int16_t> out(20);
        mixData(20, out.data());
        EXPECT_EQ(out[18], 16384);
        // At 9.5 the partner is the loop start, or the frame itself at the data end.
        EXPECT_EQ(out[19], loopType == LOOP_FORWARD ? 0 : 16384) << loopType;
        EXPECT_EQ(out[1], -8192);
        mixerClose();
    }
}

TEST_F(MixLoop, BidirectionalLoopAtTheDataEndStaysInsideTheData) {
    // Not copied: the mixer reads the caller's exact-size buffer, so a read
    // past its end would show under the address sanitizer.
    for (uint32_t mode : {MIX_MONO | MIX_INTERPOLATE, MIX_STEREO | MIX_INTEGER, MIX_STEREO | MIX_FLOAT}) {
        open(1000, mode, 1);
        std::vector<uint8_t> data = ramp8(16);
        const uint32_t h = add(data, SMP_8BIT_MONO, 0, 0, 16, LOOP_BIDI, 0, 0, 0, 0);
        play(0, h, 1700);
        settle(0);
        std::vector<int16_t> out(2 * 200);
        mixData(200, out.data());
        EXPECT_EQ(mixer.channels[0].status, CH_PLAYING);
        EXPECT_LT(mixer.channels[0].position, 16u);
        // Positioned at the loop end, it plays backward from the last frame.
        ASSERT_EQ(setChannelPosition(0, 16), 0);
        EXPECT_EQ(mixer.channels[0].position, 15u);
        mixData(200, out.data());
        mixerClose();
    }
}

TEST_F(MixLoop, PausedMixingStillRunsTheFilter) {
    open(44100, MIX_STEREO | MIX_INTEGER, 1, 1);
    inject();
    flushFilter();
    injector.ints[0] = 1000;
    injector.ints[1] = -2000;
    injector.armed = true;
    int16_t out[4];
    mixData(1, out);
    // Light filter: t = 2 x[n] + x[n-1], y = t/4 + t/8 - t/32.
    EXPECT_EQ(out[0], 500 + 250 - 62);
    EXPECT_EQ(out[1], -1000 - 500 + 125);
    ASSERT_EQ(pauseMixing(1), 0);
    mixData(2, out);
    EXPECT_EQ(out[0], 250 + 125 - 31);  // the remembered input still contributes
    EXPECT_EQ(out[1], -500 - 250 + 63); // shifts round toward minus infinity
    EXPECT_EQ(out[2], 0);
    EXPECT_EQ(out[3], 0);
}

TEST_F(MixLoop, StrongAndFloatFiltersFollowTheirFormulas) {
    open(44100, MIX_STEREO | MIX_INTEGER, 1, 2);
    inject();
    flushFilter();
    int16_t out[4];
    for (int32_t v : {800, -64, 0}) {
        injector.ints[0] = injector.ints[1] = v;
        injector.armed = true;
        mixData(1, out);
    }
    EXPECT_EQ(out[0], (4 * 0 + 3 * -64 + 800) >> 3);
    removePostProcessor(&injectorNode);
    mixerClose();

    open(44100, MIX_STEREO | MIX_FLOAT, 1, 1);
    inject();
    flushFilter();
    injector.floats[0] = injector.floats[1] = 3001.0f;
    injector.armed = true;
    mixData(1, out);
    mixData(1, out);
    EXPECT_EQ(out[0], int16_t(std::lrint((2.0f * 0.0f + 3001.0f) * 0.33333334f)));
    removePostProcessor(&injectorNode);
    mixerClose();

    open(44100, MIX_STEREO | MIX_FLOAT, 1, 2);
    inject();
    flushFilter();
    for (float v : {3001.0f, 17.0f, 5.0f}) {
        injector.floats[0] = injector.floats[1] = v;
        injector.armed = true;
        mixData(1, out);
    }
    EXPECT_EQ(out[0], int16_t(std::lrint((3.0f * 17.0f + 3001.0f + 4.0f * 5.0f) * 0.125f)));
}

TEST_F(MixLoop, AutomaticFilterLeavesInterpolatedOutputUnfiltered) {
    open(44100, MIX_STEREO | MIX_INTERPOLATE, 1, 3);
    inject();
    injector.floats[0] = 1234.0f;
    injector.floats[1] = -4321.0f;
    injector.armed = true;
    int16_t out[4];
    mixData(1, out);
    EXPECT_EQ(out[0], 1234);
    EXPECT_EQ(out[1], -4321);
    removePostProcessor(&injectorNode);
    mixerClose();
    open(44100, MIX_STEREO | MIX_FLOAT, 1, 3);
    inject();
    flushFilter();
    injector.floats[0] = injector.floats[1] = 1200.0f;
    injector.armed = true;
    mixData(1, out);
    EXPECT_EQ(out[0], 800); // light filter without interpolation
}

TEST_F(MixLoop, StreamsNeverPlayPastTheWritePosition) {
    open(1000, MIX_MONO | MIX_INTEGER, 1);
    auto data = ramp8(100);
    ASSERT_EQ(startStream(0, data.data(), 100, SMP_8BIT_MONO, 1000), 0);
    ASSERT_EQ(setStreamWritePosition(0, 50), 0);
    std::vector<int16_t> out(80);
    mixData(80, out.data());
    EXPECT_EQ(mixer.channels[0].position, 50u);
    EXPECT_EQ(framesRead(out)[49], 49);
    EXPECT_EQ(out[50], 0);
    ASSERT_EQ(setStreamWritePosition(0, 100), 0); // the writer filled the buffer to its end
    mixData(80, out.data());
    EXPECT_EQ(mixer.channels[0].position, 100u);
    EXPECT_EQ(framesRead(out)[49], 99);
    EXPECT_EQ(out[50], 0);
    ASSERT_EQ(setStreamWritePosition(0, 20), 0); // and wrapped round
    mixData(80, out.data());
    EXPECT_EQ(mixer.channels[0].position, 20u);
    EXPECT_EQ(framesRead(out)[0], 0);
    EXPECT_EQ(framesRead(out)[19], 19);
    EXPECT_EQ(out[20], 0);
    ASSERT_EQ(pauseStream(0, 1), 0);
    EXPECT_EQ(mixer.channels[0].status, CH_OFF);
    ASSERT_EQ(pauseStream(0, 0), 0);
    EXPECT_EQ(mixer.channels[0].status, CH_PLAYING);
}

TEST_F(MixLoop, CentreAndSurroundChannelsMixThroughTheirGroups) {
    open(1000, MIX_STEREO | MIX_INTEGER, 1);
    std::vector<uint8_t> data(64);
    for (size_t i = 0; i < data.size(); i += 2) {
        data[i] = uint8_t(i * 37);
        data[i + 1] = uint8_t(i * 11 - 100);
    }
    mixerOptions.ulawSamples = 0;
    const uint32_t h = add(data, SMP_16BIT_MONO, 0, 0, 64, LOOP_FORWARD);
    std::vector<int16_t> centre(2 * 32), surround(2 * 32), general(2 * 32);
    play(0, h, 1000, 48, 0);
    mixData(32, centre.data());
    play(0, h, 1000, 48, PAN_SURROUND);
    mixData(32, surround.data());
    play(0, h, 1000, 48, 1); // one step right of centre: the general group
    mixData(32, general.data());
    for (int k = 0; k < 32; ++k) {
        EXPECT_EQ(centre[2 * k], centre[2 * k + 1]) << k;
        EXPECT_EQ(surround[2 * k], centre[2 * k]) << k;
        EXPECT_EQ(surround[2 * k + 1], -centre[2 * k]) << k;
        EXPECT_EQ(general[2 * k + 1], centre[2 * k + 1]) << k; // right side at full volume in both
    }
}

} // namespace

// Real module samples through every family: each sample plays at a low, a
// plain and a high rate with its loops, is released half-way, and every
// channel must stay inside its data (the sanitizer build checks the reads).
namespace {

std::vector<uint32_t> corpusHandles;
int collectHandle(Sample* s) {
    if (s->device_handle) corpusHandles.push_back(uint32_t(s->device_handle));
    return 0;
}

TEST_F(MixerTest, CorpusSamplesPlayInsideTheirDataInEveryFamily) {
    namespace fs = std::filesystem;
    const fs::path dir = MORVA_MODULES_DIR;
    std::vector<fs::path> files;
    if (fs::is_directory(dir)) {
        for (const auto& e : fs::directory_iterator(dir)) {
            if (e.path().extension() == ".xm") files.push_back(e.path());
        }
    }
    if (files.empty()) GTEST_SKIP() << "no modules in " << dir;
    std::sort(files.begin(), files.end());
    SoundDevice device{};
    setMixerOperations(&device);
    SoundDevice* savedDevice = currentDevice;
    currentDevice = &device;
    const uint32_t modes[] = {MIX_STEREO | MIX_INTEGER, MIX_MONO | MIX_INTEGER | MIX_8BIT,
                              MIX_STEREO | MIX_FLOAT, MIX_STEREO | MIX_INTERPOLATE,
                              MIX_MONO | MIX_INTERPOLATE};
    std::vector<int16_t> out(2 * 1200);
    size_t sounding = 0;
    for (size_t f = 0; f < files.size(); ++f) {
        const uint32_t mode = modes[f % 5];
        open(44100, mode, 16, 3);
        corpusHandles.clear();
        Module* module = nullptr;
        ASSERT_EQ(load_extended_module(files[f].c_str(), 1, collectHandle, &module), 0) << files[f];
        for (size_t first = 0; first < corpusHandles.size(); first += 16) {
            for (uint32_t rate : {2000u, 8363u, 150000u}) {
                for (uint32_t c = 0; c < 16 && first + c < corpusHandles.size(); ++c) {
                    play(c, corpusHandles[first + c], rate + c * 101, 64, int32_t(c * 17) - 64);
                    setChannelPosition(c, c * 64); // also offsets inside and beyond the data
                }
                mixData(600, out.data());
                for (uint32_t c = 0; c < 16; ++c)
                    releaseSound(c);
                mixData(1200, out.data());
                for (uint32_t r = 0; r < mixer.recordCount; ++r) {
                    const MixerChannel& ch = mixer.channels[r];
                    if (ch.status == CH_PLAYING || ch.status == CH_RELEASED || ch.status == CH_FADING) {
                        ASSERT_LT(ch.position, ch.length) << files[f] << " record " << r;
                    }
                }
                for (int16_t s : out)
                    sounding += s != 0;
            }
        }
        ASSERT_EQ(free_module(module, &device), 0);
        mixerClose();
    }
    currentDevice = savedDevice;
    EXPECT_GT(sounding, 0u);
}

} // namespace

TEST_F(MixLoop, SampleTakenOverWithoutBeingPlacedStartsAtItsBeginning) {
    // A channel turned round in a long bidirectional loop takes over a short
    // sample while its rate is 0, so the position is not placed; once the
    // rate is back, the short sample must play from its start, forward, and
    // never be read at the old sample's position.
    open(1000, MIX_MONO | MIX_INTEGER, 1);
    auto longData = ramp8(200);
    const uint32_t bidi = add(longData, SMP_8BIT_MONO, 0, 0, 200, LOOP_BIDI);
    play(0, bidi, 1000);
    std::vector<int16_t> out(400);
    mixData(205, out.data());
    ASSERT_EQ(mixer.channels[0].direction, -1);
    ASSERT_GT(mixer.channels[0].position, 150u);

    // Not copied, so that a read past its 16 bytes is one past its own block.
    std::vector<uint8_t> shortData = ramp8(16);
    const uint32_t small = add(shortData, SMP_8BIT_MONO, 0, 0, 0, LOOP_NONE, 0, 0, 0, 0);
    ASSERT_EQ(setChannelRate(0, 0), 0);
    ASSERT_EQ(setChannelSample(0, small), 0);
    ASSERT_EQ(setChannelPosition(0, 0), 0);
    EXPECT_EQ(mixer.channels[0].data, shortData.data());
    EXPECT_EQ(mixer.channels[0].position, 0u);
    EXPECT_EQ(mixer.channels[0].direction, 1);

    ASSERT_EQ(setChannelRate(0, 1000), 0);
    mixData(20, out.data());
    const std::vector<int> want = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0, 0, 0, 0};
    const std::vector<int> read = framesRead(out);
    EXPECT_EQ(std::vector<int>(read.begin(), read.begin() + 20), want);
    EXPECT_EQ(mixer.channels[0].status, CH_ENDED);
}

TEST_F(MixLoop, FadeOutCopyThatCannotPlayOnEndsInsteadOfHoldingItsRecord) {
    // A stream waiting at its write position, and a channel at rate 0, do
    // not advance: their fade-out copies can never ramp down, so they end
    // at once and the channel's next restart gets its cross-fade again.
    for (int waitingStream = 1; waitingStream >= 0; --waitingStream) {
        open(1000, MIX_MONO | MIX_INTERPOLATE, 1);
        std::vector<uint8_t> buffer(8, 0xc0);
        if (waitingStream) {
            ASSERT_EQ(startStream(0, buffer.data(), 8, SMP_8BIT_MONO, 1000), 0);
            ASSERT_EQ(setStreamWritePosition(0, 4), 0);
        } else {
            play(0, add(buffer, SMP_8BIT_MONO, 0, 0, 8, LOOP_FORWARD), 1000);
        }
        std::vector<int16_t> out(64);
        mixData(40, out.data()); // past the start-up ramp
        if (!waitingStream) {
            ASSERT_EQ(setChannelRate(0, 0), 0);
        }
        ASSERT_GT(mixer.channels[0].leftVolume, 0);
        ASSERT_EQ(stopSound(0), 0);
        ASSERT_EQ(mixer.channels[1].status, CH_FADING) << waitingStream;
        mixData(40, out.data());
        EXPECT_EQ(mixer.channels[1].status, CH_OFF) << waitingStream;
        mixerClose();
    }
}

TEST_F(MixLoop, OnlyTheLiveChannelReportsLoopsWhileItsFadeOutCopyPlays) {
    // After a restart the fade-out copy still passes the old loop's end; the
    // channel's loop callback must hear of the live channel's loops only.
    open(1000, MIX_MONO | MIX_INTERPOLATE, 1);
    std::vector<uint8_t> data(8, 0xc0);
    play(0, add(data, SMP_8BIT_MONO, 0, 0, 8, LOOP_FORWARD), 1000);
    ASSERT_EQ(setLoopCallback(0, countLoops), 0);
    std::vector<int16_t> out(64);
    mixData(40, out.data());
    ASSERT_EQ(startSound(0, 1000), 0);
    ASSERT_EQ(mixer.channels[1].status, CH_FADING);
    callbackCalls = 0;
    mixData(32, out.data()); // four passes over the 8-frame loop
    EXPECT_EQ(callbackCalls, 4);
    EXPECT_EQ(mixer.channels[0].loopCallback, &countLoops);
}

namespace {

// A looped 16-bit square wave of a period of 64 frames (about 690 Hz at 44100 Hz), whose edges
// reach to the top of the spectrum.
std::vector<uint8_t> square16() {
    std::vector<uint8_t> data;
    for (int i = 0; i < 64; ++i) {
        const int16_t v = i < 32 ? 12000 : -12000;
        data.push_back(uint8_t(v & 255));
        data.push_back(uint8_t(uint16_t(v) >> 8));
    }
    return data;
}

// The level of the change from one left output frame to the next against the level of the
// frames, after the first 500 frames (where a new setting settles).
double brightnessOf(const std::vector<int16_t>& out) {
    double energy = 0, change = 0;
    for (size_t i = 1000; i < out.size(); i += 2) {
        energy += double(out[i]) * out[i];
        change += double(out[i] - out[i - 2]) * (out[i] - out[i - 2]);
    }
    return std::sqrt(change / std::max(energy, 1.0));
}

// The loudest left frame after the first 500.
int peakOf(const std::vector<int16_t>& out) {
    int peak = 0;
    for (size_t i = 1000; i < out.size(); i += 2)
        peak = std::max(peak, std::abs(int(out[i])));
    return peak;
}

} // namespace

TEST_F(MixLoop, TheResonantFilterTakesTheTopOffAChannelInEveryMixingMode) {
    for (uint32_t mode : {MIX_STEREO | MIX_FLOAT, MIX_STEREO | MIX_INTEGER, MIX_STEREO | MIX_INTERPOLATE}) {
        SCOPED_TRACE(mode);
        open(44100, mode, 2);
        std::vector<uint8_t> data = square16();
        const uint32_t h = add(data, SMP_16BIT_MONO, 0, 0, uint32_t(data.size()), LOOP_FORWARD);
        play(0, h, 44100);
        settle(0);
        std::vector<int16_t> plain(2 * 3000), low(2 * 3000), lower(2 * 3000), corner(2 * 3000), resonant(2 * 3000);
        mixData(3000, plain.data());
        ASSERT_EQ(setChannelFilter(0, 100 * 256, 0), 0); // about 2.3 kHz
        mixData(3000, low.data());
        ASSERT_EQ(setChannelFilter(0, 70 * 256, 0), 0); // about 1 kHz
        mixData(3000, lower.data());
        ASSERT_EQ(setChannelFilter(0, 58 * 256, 0), 0); // at the square's own 690 Hz
        mixData(3000, corner.data());
        ASSERT_EQ(setChannelFilter(0, 58 * 256, 127), 0);
        mixData(3000, resonant.data());
        EXPECT_LT(brightnessOf(low), 0.5 * brightnessOf(plain));
        EXPECT_LT(brightnessOf(lower), 0.8 * brightnessOf(low)) << "a lower cutoff takes more away";
        EXPECT_GT(peakOf(resonant), 2 * peakOf(corner)) << "resonance lifts the corner";
        ASSERT_EQ(setChannelFilter(0, FILTER_OFF, 0), 0);
        std::vector<int16_t> again(2 * 3000);
        mixData(3000, again.data());
        EXPECT_NEAR(brightnessOf(again), brightnessOf(plain), 0.01) << "off, the channel is as before";
        EXPECT_EQ(setChannelFilter(2, 0, 0), errInvalidChannel);
        mixerClose();
    }
}

TEST_F(MixLoop, SkippingAFilteredChannelLeavesItWherePlayingDoes) {
    // A seek skips the mixing: a filtered channel still has to carry its filter's memory along,
    // so that what follows the skip is what follows the same frames mixed.
    std::vector<std::vector<int16_t>> after;
    for (bool skip : {false, true}) {
        open(44100, MIX_STEREO | MIX_FLOAT, 1);
        std::vector<uint8_t> data = square16();
        const uint32_t h = add(data, SMP_16BIT_MONO, 0, 0, uint32_t(data.size()), LOOP_FORWARD);
        play(0, h, 30000);
        ASSERT_EQ(setChannelFilter(0, 30 * 256, 100), 0);
        std::vector<int16_t> out(2 * 3001);
        if (skip)
            ASSERT_EQ(skipData(3001), 0);
        else
            mixData(3001, out.data());
        mixData(500, out.data());
        after.emplace_back(out.begin(), out.begin() + 1000);
        mixerClose();
    }
    EXPECT_EQ(after[0], after[1]);
}

TEST_F(MixLoop, ANoteStartedAfreshStartsItsFilterAfresh) {
    open(44100, MIX_STEREO | MIX_FLOAT, 1);
    std::vector<uint8_t> data = square16();
    const uint32_t h = add(data, SMP_16BIT_MONO, 0, 0, uint32_t(data.size()), LOOP_FORWARD);
    std::vector<int16_t> first(2 * 300), second(2 * 300);
    play(0, h, 44100);
    ASSERT_EQ(setChannelFilter(0, 50 * 256, 60), 0);
    mixData(300, first.data());
    ASSERT_EQ(startSound(0, 44100), 0);
    mixData(300, second.data());
    EXPECT_EQ(first, second);
}
