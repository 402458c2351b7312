// Mixer core: set-up, tables, sample handles, channel operations and volumes.
#include "mixer_fixture.h"

#include "sound/mixer/dsmfilt.h"
#include "sound/api/errors.h"
#include "sound/output/sdevice.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace {

TEST_F(MixerTest, VolumeTableRow32AtAmplification64GivesFullScaleBytes) {
    open(44100, MIX_INTEGER | MIX_STEREO | MIX_16BIT, 1);
    EXPECT_EQ(mixer.amplification, 64);
    EXPECT_EQ(mixer.volumeTable[32 * 256 + 255], 32512);
    EXPECT_EQ(mixer.volumeTable[32 * 256 + 0], -32768);
    EXPECT_EQ(mixer.volumeTable[32 * 256 + 128], 0);
    EXPECT_EQ(mixer.volumeTable[0 * 256 + 0], 0);
}

TEST_F(MixerTest, VolumeTablesFollowTheirFormulasWithTruncatingDivisions) {
    open(22050, MIX_INTEGER | MIX_MONO, 5);
    ASSERT_EQ(mixer.amplification, 70);
    for (int v = 0; v <= 32; ++v) {
        for (int i = 0; i < 256; ++i) {
            const int expected8 = ((v * (i - 128) * 70 / 64) * 256 / 32) / 5;
            const int expectedU = (ulawDecode(uint8_t(i)) * v * 70 / 64 / 32) / 5;
            ASSERT_EQ(mixer.volumeTable[v * 256 + i], expected8) << v << " " << i;
            ASSERT_EQ(mixer.ulawVolumeTable[v * 256 + i], expectedU) << v << " " << i;
        }
    }
    // A new amplification rebuilds them.
    ASSERT_EQ(setAmplification(128), 0);
    EXPECT_EQ(mixer.volumeTable[32 * 256 + 0], ((32 * -128 * 128 / 64) * 256 / 32) / 5);
}

TEST_F(MixerTest, AmplificationFollowsTheChannelCount) {
    open(44100, MIX_INTEGER | MIX_STEREO, 0);
    uint32_t amp = 0;
    for (auto [count, expected] : {std::pair{4u, 64u}, {5u, 70u}, {32u, 448u}, {1u, 64u}}) {
        ASSERT_EQ(openChannels(count), 0);
        ASSERT_EQ(getAmplification(&amp), 0);
        EXPECT_EQ(amp, expected) << count;
    }
}

TEST_F(MixerTest, MixingBufferHoldsOneFortiethSecondAligned) {
    open(44100, MIX_STEREO | MIX_16BIT, 0);
    EXPECT_EQ(mixer.mixBufferBytes, 8832u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(mixer.mixBuffer) % 1024, 0u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(mixer.byteToFloat) % 1024, 0u);
    mixerClose();
    open(22050, MIX_MONO | MIX_INTEGER, 0);
    EXPECT_EQ(mixer.mixBufferBytes, 2208u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(mixer.volumeTable) % 1024, 0u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(mixer.ulawVolumeTable) % 1024, 0u);
}

TEST_F(MixerTest, FamilyChoiceAndDefaultFlags) {
    open(44100, MIX_INTERPOLATE | MIX_STEREO, 0);
    EXPECT_TRUE(mixer.mixMode & MIX_FLOAT);
    EXPECT_TRUE(mixer.mixMode & MIX_16BIT);
    EXPECT_EQ(mixer.routineTable, mixTableStereoInterpolating);
    mixerClose();
    // Interpolation forces floats even when integers are asked for.
    open(44100, MIX_INTERPOLATE | MIX_INTEGER | MIX_MONO, 0);
    EXPECT_EQ(mixer.integerMixing, 0u);
    EXPECT_EQ(mixer.routineTable, mixTableMonoInterpolating);
    mixerClose();
    mixerCpuChoice = MixerCpuChoice::Integer;
    open(44100, MIX_MONO | MIX_8BIT, 0);
    EXPECT_EQ(mixer.integerMixing, 1u);
    EXPECT_EQ(mixer.routineTable, mixTableMonoInteger);
    mixerClose();
    mixerCpuChoice = MixerCpuChoice::Float;
    open(44100, MIX_STEREO, 0);
    EXPECT_EQ(mixer.routineTable, mixTableStereoFloat);
    mixerClose();
    EXPECT_EQ(mixerInit(0, MIX_STEREO), errInvalidArguments);
}

TEST_F(MixerTest, UlawCodecMatchesG711) {
    EXPECT_EQ(ulawDecode(0xff), 0);
    EXPECT_EQ(ulawDecode(0x7f), 0);
    EXPECT_EQ(ulawDecode(0x80), 32124);
    EXPECT_EQ(ulawDecode(0x00), -32124);
    EXPECT_EQ(ulawEncode(0), 0xff);
    EXPECT_EQ(ulawEncode(32767), 0x80);
    EXPECT_EQ(ulawEncode(-32768), 0x00);
    EXPECT_EQ(ulawEncode(1000), 0xce);
    EXPECT_EQ(ulawEncode(-1000), 0x4e);
    // Every code survives a decode and re-encode (apart from the two zeros).
    for (int b = 0; b < 256; ++b) {
        if (b == 0x7f) continue;
        EXPECT_EQ(ulawEncode(int16_t(ulawDecode(uint8_t(b)))), b) << b;
    }
}

TEST_F(MixerTest, AddSampleConvertsBytesToFramesAndDropsEmptyLoops) {
    open(44100, MIX_STEREO | MIX_FLOAT, 1);
    std::vector<uint8_t> data(400, 0x80);
    const uint32_t h = add(data, SMP_16BIT_STEREO, 0, 40, 40, LOOP_FORWARD, 80, 160, LOOP_BIDI);
    ASSERT_EQ(h, 1u);
    const SampleHandleEntry& e = mixer.samples[0];
    EXPECT_EQ(e.length, 100u);
    EXPECT_EQ(e.loop1Type, LOOP_NONE);
    EXPECT_EQ(e.loop2Start, 20u);
    EXPECT_EQ(e.loop2End, 40u);
    EXPECT_EQ(e.loop2Type, LOOP_BIDI);
    EXPECT_EQ(e.owned, 1u);
    EXPECT_NE(e.data, data.data());
    // A loop reaching past the data is cut at its end.
    const uint32_t h2 = add(data, SMP_8BIT_MONO, 1, 100, 9999, LOOP_FORWARD);
    EXPECT_EQ(mixer.samples[h2 - 1].loop1End, 400u);
    // No data: an empty entry, still a valid handle.
    SampleDesc none{nullptr, 0, SMP_8BIT_MONO, 100, 0, 0, 0, 0, 0, 0, 0};
    uint32_t h3 = 0;
    ASSERT_EQ(addSample(&none, 1, &h3), 0);
    EXPECT_EQ(h3, 3u);
    EXPECT_EQ(mixer.samples[2].type, SMP_NONE);
    EXPECT_EQ(mixer.samples[2].length, 0u);
    SampleDesc bad{data.data(), 1, 9, 100, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(addSample(&bad, 1, &h3), errInvalidSampleType);
}

TEST_F(MixerTest, SixteenBitCopiesBecomeUlawOnlyInIntegerMixingWithCopy) {
    open(44100, MIX_STEREO | MIX_INTEGER, 1);
    ASSERT_EQ(mixer.ulawSamples, 1u);
    std::vector<uint8_t> data(8);
    const int16_t values[4] = {0, 1000, -1000, 32767};
    std::memcpy(data.data(), values, 8);
    const uint32_t h = add(data, SMP_16BIT_MONO);
    const SampleHandleEntry& e = mixer.samples[h - 1];
    EXPECT_EQ(e.type, SMP_ULAW_MONO);
    EXPECT_EQ(e.sourceType, SMP_16BIT_MONO);
    EXPECT_EQ(e.length, 4u);
    EXPECT_EQ(e.data[0], 0xff);
    EXPECT_EQ(e.data[1], 0xce);
    EXPECT_EQ(e.data[2], 0x4e);
    EXPECT_EQ(e.data[3], 0x80);
    const uint32_t hs = add(data, SMP_16BIT_STEREO);
    EXPECT_EQ(mixer.samples[hs - 1].type, SMP_ULAW_STEREO);
    EXPECT_EQ(mixer.samples[hs - 1].length, 2u);
    // Without copy the caller's data is used as it is.
    const uint32_t hn = add(data, SMP_16BIT_MONO, 0, 0, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(mixer.samples[hn - 1].type, SMP_16BIT_MONO);
    EXPECT_EQ(mixer.samples[hn - 1].data, data.data());
    EXPECT_EQ(mixer.samples[hn - 1].owned, 0u);
    mixerClose();
    mixerOptions.ulawSamples = 0;
    open(44100, MIX_STEREO | MIX_INTEGER, 1);
    EXPECT_EQ(mixer.samples[add(data, SMP_16BIT_MONO) - 1].type, SMP_16BIT_MONO);
    mixerClose();
    mixerOptions.ulawSamples = 1;
    open(44100, MIX_STEREO | MIX_FLOAT, 1);
    EXPECT_EQ(mixer.ulawSamples, 0u);
    EXPECT_EQ(mixer.samples[add(data, SMP_16BIT_MONO) - 1].type, SMP_16BIT_MONO);
}

// A block handed over is played where it is and freed with the sample; one the mixer converts
// (to mu-law) or cannot use (no frames) is freed at once; after a refusal it is still the caller's.
TEST_F(MixerTest, HandedOverBlocksAreHeldOnceAndFreedByTheMixer) {
    const auto block = [](std::initializer_list<uint8_t> bytes) {
        void* p = nullptr;
        EXPECT_EQ(mem_alloc(bytes.size(), &p), 0);
        std::copy(bytes.begin(), bytes.end(), static_cast<uint8_t*>(p));
        return static_cast<uint8_t*>(p);
    };
    open(44100, MIX_STEREO | MIX_INTEGER, 1);
    const long base = mem_blocks_in_use();
    uint8_t* bytes = block({0x80, 0x90, 0xa0, 0xb0});
    SampleDesc d{bytes, 1, SMP_8BIT_MONO, 4, 0, 0, 0, 0, 0, 0, 0};
    uint32_t h = 0;
    ASSERT_EQ(addSample(&d, SAMPLE_HAND_OVER, &h), 0);
    EXPECT_EQ(mixer.samples[h - 1].data, bytes);
    EXPECT_EQ(mixer.samples[h - 1].owned, 1u);
    EXPECT_EQ(mem_blocks_in_use(), base + 1);

    // 16-bit data becomes mu-law in integer mixing: the block gives way to the converted copy.
    const int16_t values[2] = {1000, -1000};
    uint8_t* words = block({0, 0, 0, 0});
    std::memcpy(words, values, 4);
    SampleDesc w{words, 1, SMP_16BIT_MONO, 4, 0, 0, 0, 0, 0, 0, 0};
    uint32_t hw = 0;
    ASSERT_EQ(addSample(&w, SAMPLE_HAND_OVER, &hw), 0);
    EXPECT_EQ(mixer.samples[hw - 1].type, SMP_ULAW_MONO);
    EXPECT_EQ(mixer.samples[hw - 1].data[0], 0xce);
    EXPECT_EQ(mixer.samples[hw - 1].data[1], 0x4e);
    EXPECT_EQ(mem_blocks_in_use(), base + 2);

    // One byte of 16-bit data holds no frame.
    SampleDesc empty{block({7}), 1, SMP_16BIT_MONO, 1, 0, 0, 0, 0, 0, 0, 0};
    uint32_t he = 0;
    ASSERT_EQ(addSample(&empty, SAMPLE_HAND_OVER, &he), 0);
    EXPECT_EQ(mixer.samples[he - 1].type, SMP_NONE);
    EXPECT_EQ(mem_blocks_in_use(), base + 2);

    SampleDesc bad{block({1, 2}), 1, 9, 2, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(addSample(&bad, SAMPLE_HAND_OVER, &he), errInvalidSampleType);
    EXPECT_EQ(mem_blocks_in_use(), base + 3);
    EXPECT_EQ(mem_free(bad.data), 0);

    ASSERT_EQ(removeSample(h), 0);
    ASSERT_EQ(removeSample(hw), 0);
    EXPECT_EQ(mem_blocks_in_use(), base);
}

// Shared data is played where it is and stays the caller's when the sample goes; only data the
// mixer converts (16-bit to mu-law in integer mixing) is copied, and that copy is the mixer's.
TEST_F(MixerTest, SharedDataIsPlayedInPlaceAndCopiedOnlyToConvert) {
    open(44100, MIX_STEREO | MIX_INTEGER, 1);
    const long base = mem_blocks_in_use();
    uint8_t bytes[4] = {0x80, 0x90, 0xa0, 0xb0};
    SampleDesc d{bytes, 1, SMP_8BIT_MONO, 4, 0, 0, 0, 0, 0, 0, 0};
    uint32_t h = 0;
    ASSERT_EQ(addSample(&d, SAMPLE_SHARE, &h), 0);
    EXPECT_EQ(mixer.samples[h - 1].data, bytes);
    EXPECT_EQ(mixer.samples[h - 1].owned, 0u);
    EXPECT_EQ(mem_blocks_in_use(), base);

    const int16_t values[2] = {1000, -1000};
    uint8_t words[4];
    std::memcpy(words, values, 4);
    SampleDesc w{words, 1, SMP_16BIT_MONO, 4, 0, 0, 0, 0, 0, 0, 0};
    uint32_t hw = 0;
    ASSERT_EQ(addSample(&w, SAMPLE_SHARE, &hw), 0);
    EXPECT_EQ(mixer.samples[hw - 1].type, SMP_ULAW_MONO);
    EXPECT_NE(mixer.samples[hw - 1].data, words);
    EXPECT_EQ(mixer.samples[hw - 1].owned, 1u);
    EXPECT_EQ(mem_blocks_in_use(), base + 1);

    ASSERT_EQ(removeSample(h), 0);
    ASSERT_EQ(removeSample(hw), 0);
    EXPECT_EQ(mem_blocks_in_use(), base);
    EXPECT_EQ(bytes[3], 0xb0); // still the caller's, untouched
}

TEST_F(MixerTest, SampleHandlesRunOutAndRefuseBadRemovals) {
    open(44100, MIX_STEREO, 1);
    std::vector<uint8_t> data(4, 0x80);
    const long base = mem_blocks_in_use();
    for (uint32_t i = 1; i <= MIXER_SAMPLE_HANDLES; ++i)
        ASSERT_EQ(add(data, SMP_8BIT_MONO), i);
    SampleDesc d{data.data(), 1, SMP_8BIT_MONO, 4, 0, 0, 0, 0, 0, 0, 0};
    uint32_t h = 0;
    EXPECT_EQ(addSample(&d, 1, &h), errNoSampleHandles);
    EXPECT_EQ(removeSample(0), errInvalidSampleHandle);
    EXPECT_EQ(removeSample(1025), errInvalidSampleHandle);
    ASSERT_EQ(removeSample(7), 0);
    EXPECT_EQ(removeSample(7), errInvalidSampleHandle);
    // The lowest free handle is reused.
    ASSERT_EQ(addSample(&d, 1, &h), 0);
    EXPECT_EQ(h, 7u);
    for (uint32_t i = 1; i <= MIXER_SAMPLE_HANDLES; ++i)
        ASSERT_EQ(removeSample(i), 0);
    EXPECT_EQ(mem_blocks_in_use(), base);
}

TEST_F(MixerTest, ChannelOperationsCheckTheirChannelAndState) {
    open(44100, MIX_STEREO, 0);
    EXPECT_EQ(closeChannels(), errNoChannels);
    EXPECT_EQ(clearChannels(), errNoChannels);
    ASSERT_EQ(openChannels(4), 0);
    uint32_t v = 0;
    EXPECT_EQ(setChannelVolume(4, 10), errInvalidChannel);
    EXPECT_EQ(getChannelRate(4, &v), errInvalidChannel);
    EXPECT_EQ(startSound(uint32_t(-1), 8000), errInvalidChannel);
    EXPECT_EQ(setChannelSample(0, 0), errInvalidSampleHandle);
    EXPECT_EQ(setChannelSample(0, 5), errInvalidSampleHandle);
    ASSERT_EQ(closeChannels(), 0);
    EXPECT_EQ(setChannelVolume(0, 10), errInvalidChannel);
}

TEST_F(MixerTest, EndedChannelReportsRateZeroAndKeepsStatusOnRelease) {
    open(8000, MIX_MONO | MIX_INTEGER, 1);
    std::vector<uint8_t> data(10, 0x90);
    const uint32_t h = add(data, SMP_8BIT_MONO, 1);
    play(0, h, 8000);
    uint32_t rate = 0;
    ASSERT_EQ(getChannelRate(0, &rate), 0);
    EXPECT_EQ(rate, 8000u);
    ASSERT_EQ(releaseSound(0), 0);
    EXPECT_EQ(mixer.channels[0].status, CH_PLAYING); // loop mode 1 ignores release
    std::vector<int16_t> out(20);
    mixData(20, out.data());
    EXPECT_EQ(mixer.channels[0].status, CH_ENDED);
    ASSERT_EQ(getChannelRate(0, &rate), 0);
    EXPECT_EQ(rate, 0u);
}

TEST_F(MixerTest, SetChannelPositionFollowsTheLoopRules) {
    open(44100, MIX_STEREO | MIX_INTEGER, 1);
    std::vector<uint8_t> data(200);
    const uint32_t fwd = add(data, SMP_16BIT_MONO, 0, 20, 100, LOOP_FORWARD);
    play(0, fwd, 44100);
    ASSERT_EQ(setChannelPosition(0, 150), 0);
    uint32_t pos = 0;
    ASSERT_EQ(getChannelPosition(0, &pos), 0);
    EXPECT_EQ(pos, 20u); // at or beyond the loop end: loop start
    EXPECT_EQ(mixer.channels[0].position, 10u);
    ASSERT_EQ(setChannelPosition(0, 61), 0);
    ASSERT_EQ(getChannelPosition(0, &pos), 0);
    EXPECT_EQ(pos, 60u);

    const uint32_t bidi = add(data, SMP_8BIT_MONO, 0, 20, 100, LOOP_BIDI);
    ASSERT_EQ(setChannelSample(0, bidi), 0);
    ASSERT_EQ(setChannelPosition(0, 120), 0);
    int32_t dir = 0;
    ASSERT_EQ(getChannelDirection(0, &dir), 0);
    EXPECT_EQ(dir, -1);
    EXPECT_EQ(mixer.channels[0].position, 99u);

    const uint32_t none = add(data, SMP_8BIT_MONO);
    ASSERT_EQ(setChannelSample(0, none), 0);
    ASSERT_EQ(setChannelPosition(0, 200), 0);
    EXPECT_EQ(mixer.channels[0].status, CH_ENDED);
}

TEST_F(MixerTest, VolumesFollowPanningMasterVolumeAndMuting) {
    open(44100, MIX_STEREO | MIX_INTEGER, 2);
    MixerChannel& c = mixer.channels[0];
    ASSERT_EQ(setChannelVolume(0, 40), 0);
    ASSERT_EQ(setChannelPanning(0, -16), 0);
    EXPECT_EQ(c.leftVolume, 40 * 64 * 64 * 16);
    EXPECT_EQ(c.rightVolume, 48 * 40 * 64 * 16);
    ASSERT_EQ(setChannelPanning(0, 64), 0);
    EXPECT_EQ(c.leftVolume, 0);
    EXPECT_EQ(c.rightVolume, 40 * 64 * 64 * 16);
    ASSERT_EQ(setChannelPanning(0, PAN_SURROUND), 0);
    EXPECT_EQ(c.leftVolume, c.rightVolume);
    ASSERT_EQ(setMasterVolume(32), 0);
    EXPECT_EQ(c.leftVolume, 40 * 64 * 32 * 16);
    ASSERT_EQ(muteChannel(0, 1), 0);
    EXPECT_EQ(c.leftVolume, 0);
    ASSERT_EQ(muteChannel(0, 0), 0);
    ASSERT_EQ(muteAll(1), 0);
    EXPECT_EQ(c.leftVolume, 0);
    EXPECT_EQ(c.rightVolume, 0);
    ASSERT_EQ(muteAll(0), 0);
    EXPECT_EQ(c.rightVolume, 40 * 64 * 32 * 16);
    // Out-of-range values are held to their ranges.
    ASSERT_EQ(setChannelVolume(0, 1000), 0);
    ASSERT_EQ(setMasterVolume(1000), 0);
    EXPECT_EQ(c.leftVolume, MIXER_FULL_VOLUME);
    ASSERT_EQ(setChannelPanning(0, 100), 0);
    int32_t pan = 0;
    ASSERT_EQ(getChannelPanning(0, &pan), 0);
    EXPECT_EQ(pan, 64);
}

TEST_F(MixerTest, MonoOutputIgnoresPanning) {
    open(44100, MIX_MONO | MIX_INTEGER, 1);
    ASSERT_EQ(setChannelVolume(0, 64), 0);
    ASSERT_EQ(setChannelPanning(0, -64), 0);
    EXPECT_EQ(mixer.channels[0].leftVolume, MIXER_FULL_VOLUME);
    EXPECT_EQ(mixer.channels[0].rightVolume, MIXER_FULL_VOLUME);
}

TEST_F(MixerTest, ReleaseSwitchesToTheSustainLoopAtTheNextLoopEnd) {
    open(1000, MIX_MONO | MIX_INTEGER, 1);
    std::vector<uint8_t> data(100, 0x80);
    const uint32_t h = add(data, SMP_8BIT_MONO, 2, 10, 20, LOOP_FORWARD, 50, 60, LOOP_FORWARD);
    play(0, h, 1000); // one frame per output frame
    std::vector<int16_t> out(100);
    mixData(25, out.data());
    EXPECT_EQ(mixer.channels[0].position, 15u);
    ASSERT_EQ(releaseSound(0), 0);
    EXPECT_EQ(mixer.channels[0].status, CH_RELEASED);
    mixData(5, out.data()); // reaches loop 1's end: loop 2 applies from there
    EXPECT_EQ(mixer.channels[0].activeLoop, 2u);
    EXPECT_EQ(mixer.channels[0].position, 20u);
    mixData(45, out.data()); // 20 -> 60 wraps to 50, then 5 more
    EXPECT_EQ(mixer.channels[0].position, 55u);
}

TEST_F(MixerTest, PendingSampleInLoopMode5TakesOverAtTheEnd) {
    open(1000, MIX_MONO | MIX_INTEGER, 1);
    std::vector<uint8_t> a(30, 0x90), b(40, 0x70);
    const uint32_t ha = add(a, SMP_8BIT_MONO, 5);
    const uint32_t hb = add(b, SMP_8BIT_MONO, 5, 10, 20, LOOP_FORWARD);
    const uint32_t h4 = add(b, SMP_8BIT_MONO, 4, 10, 20, LOOP_FORWARD);
    play(0, ha, 1000);
    ASSERT_EQ(setChannelSample(0, hb), 0);
    std::vector<int16_t> out(100);
    mixData(29, out.data());
    EXPECT_EQ(mixer.channels[0].data, mixer.samples[ha - 1].data);
    mixData(1, out.data());
    EXPECT_EQ(mixer.channels[0].data, mixer.samples[hb - 1].data);
    EXPECT_EQ(mixer.channels[0].position, 10u);
    EXPECT_EQ(mixer.channels[0].status, CH_PLAYING);
    // Mode 4 ends the channel at the next loop end instead.
    ASSERT_EQ(setChannelSample(0, h4), 0);
    mixData(10, out.data());
    EXPECT_EQ(mixer.channels[0].status, CH_ENDED);
    // A mode-5 sample set on an ended channel restarts it at its loop start,
    // also when its 16-bit data is stored as mu-law.
    ASSERT_EQ(setChannelSample(0, hb), 0);
    EXPECT_EQ(mixer.channels[0].status, CH_PLAYING);
    EXPECT_EQ(mixer.channels[0].position, 10u);
    const uint32_t h16 = add(b, SMP_16BIT_MONO, 5, 20, 36, LOOP_FORWARD);
    ASSERT_EQ(mixer.samples[h16 - 1].type, SMP_ULAW_MONO);
    mixer.channels[0].status = CH_ENDED;
    ASSERT_EQ(setChannelSample(0, h16), 0);
    EXPECT_EQ(mixer.channels[0].position, 10u);
    uint32_t bytes = 0;
    ASSERT_EQ(getChannelPosition(0, &bytes), 0);
    EXPECT_EQ(bytes, 20u);
}

TEST_F(MixerTest, RemovingASampleStopsChannelsThatPlayIt) {
    open(1000, MIX_MONO | MIX_INTEGER, 2);
    std::vector<uint8_t> a(30, 0x90);
    const uint32_t h = add(a, SMP_8BIT_MONO, 0, 0, 30, LOOP_FORWARD);
    play(0, h, 1000);
    const uint32_t next = add(a, SMP_8BIT_MONO);
    ASSERT_EQ(setChannelSample(0, next), 0); // pending: the channel still plays h
    ASSERT_EQ(removeSample(h), 0);
    EXPECT_EQ(mixer.channels[0].status, CH_OFF);
    std::vector<int16_t> out(10);
    EXPECT_EQ(mixData(10, out.data()), 0);
}

int order[4];
int orderCount = 0;
void mark1(void*, uint32_t, void*) {
    order[orderCount++] = 1;
}
void mark2(void*, uint32_t, void*) {
    order[orderCount++] = 2;
}

TEST_F(MixerTest, PostProcessorsRunFirstOrLastAsLinked) {
    open(44100, MIX_STEREO | MIX_INTEGER, 1);
    PostProcessor last{nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, mark2};
    PostProcessor first{nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, mark1};
    ASSERT_EQ(addPostProcessor(&last, 1, nullptr), 0);
    ASSERT_EQ(addPostProcessor(&first, 0, nullptr), 0);
    EXPECT_EQ(mixer.postProcessors->next, &first);
    EXPECT_EQ(first.next, &outputFilter);
    EXPECT_EQ(outputFilter.next, &last);
    orderCount = 0;
    std::vector<int16_t> out(4);
    mixData(2, out.data());
    ASSERT_EQ(orderCount, 2);
    EXPECT_EQ(order[0], 1);
    EXPECT_EQ(order[1], 2);
    removePostProcessor(&first);
    removePostProcessor(&last);
}

} // namespace

namespace {

TEST_F(MixerTest, DeviceRecordCarriesTheMixerOperationsInTheirSlots) {
    SoundDevice device{};
    setMixerOperations(&device);
    EXPECT_EQ(device.getMixingRate, &getMixingRate);
    EXPECT_EQ(device.openChannels, &openChannels);
    EXPECT_EQ(device.addSample, &addSample);
    EXPECT_EQ(device.removeSample, &removeSample);
    EXPECT_EQ(device.pauseStream, &pauseStream);
    EXPECT_EQ(device.openDevice, nullptr); // the device's own slots stay empty
    EXPECT_EQ(device.play, nullptr);
    // The slots follow the fixed order: slot 31 is the 32nd operation after the data fields.
    using Op = void (*)();
    const auto* slots = reinterpret_cast<const Op*>(&device.detectDevice);
    EXPECT_EQ(reinterpret_cast<const void*>(&slots[31]), reinterpret_cast<const void*>(&device.addSample));
    EXPECT_EQ(reinterpret_cast<const void*>(&slots[40]), reinterpret_cast<const void*>(&device.pauseStream));
    EXPECT_EQ(reinterpret_cast<const void*>(&slots[41]), reinterpret_cast<const void*>(&device.setChannelFilter));
    EXPECT_EQ(device.setChannelFilter, &setChannelFilter);
    EXPECT_EQ(sizeof(SoundDevice) - offsetof(SoundDevice, detectDevice), 42 * sizeof(Op));
}

TEST_F(MixerTest, FailedSetUpIsFreedByTheNextInit) {
    open(44100, MIX_STEREO, 2);
    // A second init without a close frees the first set-up.
    open(22050, MIX_MONO, 1);
    EXPECT_EQ(mixer.mixRate, 22050u);
}

} // namespace

TEST_F(MixerTest, TheLastSampleHandlePlaysLikeAnyOther) {
    // Handle 1024 also marks streams; the sample registered under it must
    // still play as a sample, not wait for a stream writer.
    open(1000, MIX_MONO | MIX_INTEGER, 1);
    std::vector<uint8_t> silence(4, 0x80);
    for (uint32_t i = 1; i < MIXER_SAMPLE_HANDLES; ++i)
        ASSERT_EQ(add(silence, SMP_8BIT_MONO), i);
    std::vector<uint8_t> loud(8, 0xc0);
    const uint32_t last = add(loud, SMP_8BIT_MONO);
    ASSERT_EQ(last, MIXER_SAMPLE_HANDLES);
    ASSERT_EQ(setChannelVolume(0, 64), 0);
    ASSERT_EQ(setChannelSample(0, last), 0);
    ASSERT_EQ(startSound(0, 1000), 0);
    std::vector<int16_t> out(10);
    ASSERT_EQ(mixData(10, out.data()), 0);
    for (int k = 0; k < 8; ++k)
        EXPECT_EQ(out[k], 0x40 * 256) << k;
    EXPECT_EQ(out[8], 0);
    EXPECT_EQ(mixer.channels[0].status, CH_ENDED);
}
