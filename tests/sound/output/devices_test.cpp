// The three sound devices over the headless back end: tick timing, the wave device's blocks and
// format walk, the silent device's clock rules, the DirectSound device's detection and buffer.
#include "plumbing_fixture.h"

#include "platform/platform.h"
#include "sound/mixer/dsm.h"
#include "sound/api/errors.h"

using namespace plumbing;

namespace {

class WaveDevice : public LibraryTest {
protected:
    void TearDown() override {
        winWaveDevice.closeDevice();
        LibraryTest::TearDown();
    }
};

// Runs one poll pass by hand; returns the number of ticks it reported.
int pollPass(SoundDevice& device) {
    EXPECT_EQ(device.beginPoll(), errOK);
    int ticks = 0;
    int32_t due = 0;
    do {
        due = 0;
        EXPECT_EQ(device.play(&due), errOK);
        ticks += due;
    } while (due);
    return ticks;
}

} // namespace

TEST(DeviceTiming, FramesPerTickIsMadeEvenAndZeroRateIsRefused) {
    EXPECT_EQ(framesPerTickFor(44100, 5000), 882u); // 883 with bit 0 cleared
    EXPECT_EQ(framesPerTickFor(4000, 5000), 80u);   // 81 with bit 0 cleared
    EXPECT_EQ(framesPerTickFor(22050, 1280), 1722u); // 1723 with bit 0 cleared
    EXPECT_EQ(framesPerTickFor(44100, 0), 0u);
    EXPECT_EQ(deviceOutputMode(0), OUT_STEREO | OUT_16BIT);
    EXPECT_EQ(deviceOutputMode(OUT_MONO | OUT_STEREO), OUT_MONO | OUT_16BIT);
    EXPECT_EQ(deviceOutputMode(OUT_8BIT), OUT_STEREO | OUT_8BIT);
    EXPECT_EQ(outputFrameBytes(OUT_MONO | OUT_8BIT), 1u);
    EXPECT_EQ(outputFrameBytes(OUT_STEREO | OUT_16BIT), 4u);
}

TEST_F(WaveDevice, DefaultsGiveThirtyThreeBlocksOf2672BytesAnd882FramesPerTick) {
    ASSERT_EQ(winWaveDevice.openDevice(44100, 0), errOK);
    EXPECT_EQ(winWave.blockCount, 33u);
    EXPECT_EQ(winWave.blockBytes, 2672u);
    EXPECT_EQ(winWave.framesPerTick, 882u);
    uint32_t mode = 0;
    winWaveDevice.getOutputMode(&mode);
    EXPECT_EQ(mode, 10u);
    ASSERT_EQ(winWaveDevice.setUpdateRate(5000), errOK);
    EXPECT_EQ(winWave.framesPerTick, 882u);
    EXPECT_EQ(winWave.framesLeft, 882u);
    EXPECT_EQ(winWaveDevice.setUpdateRate(0), errInvalidArguments);
    EXPECT_EQ(winWave.framesPerTick, 882u);
}

TEST_F(WaveDevice, BufferBelowFifteenMillisecondsStillPlaysOneBlock) {
    sound_set_option(optBufferLength, 10);
    ASSERT_EQ(winWaveDevice.openDevice(44100, 0), errOK);
    EXPECT_EQ(winWave.blockCount, 1u);
    EXPECT_EQ(winWave.blockBytes, 1776u); // 1764 rounded up to 16
    // A tick (882 frames) spans two blocks of 444 frames; the block is refilled once played.
    int ticks = pollPass(winWaveDevice);
    for (int i = 0; i < 10; ++i) {
        headlessAdvanceMs(11);
        ticks += pollPass(winWaveDevice);
    }
    EXPECT_GE(ticks, 4);
    EXPECT_LE(ticks, 6);
    winWaveDevice.closeDevice();
    sound_set_option(optBufferLength, 0);
    EXPECT_EQ(winWaveDevice.openDevice(44100, 0), errInvalidArguments);
    sound_set_option(optBufferLength, 5000);
    ASSERT_EQ(winWaveDevice.openDevice(44100, OUT_MONO | OUT_8BIT), errOK);
    EXPECT_EQ(winWave.blockCount, 64u);
    EXPECT_EQ(winWave.blockBytes, 3456u); // 44100 x 5 / 64 = 3445, rounded up to 16
}

TEST_F(WaveDevice, APassFillsEveryFreeBlockInOrderAndTicksOncePerTick) {
    ASSERT_EQ(winWaveDevice.openDevice(44100, 0), errOK);
    // 33 blocks of 668 frames hold 24 whole ticks of 882 frames.
    EXPECT_EQ(pollPass(winWaveDevice), 24);
    ASSERT_EQ(played.bytes.size(), 33u);
    for (std::size_t i = 0; i < played.bytes.size(); ++i) {
        EXPECT_EQ(played.bytes[i], 2672u);
        if (i) {
            EXPECT_EQ(played.starts[i], played.starts[i - 1] + 668);
        }
    }
    // Nothing has played yet: no block is free, and the pass mixes nothing more.
    EXPECT_EQ(pollPass(winWaveDevice), 0);
    EXPECT_EQ(played.bytes.size(), 33u);
    // A tenth of a second later about six blocks have played and are refilled.
    headlessAdvanceMs(100);
    pollPass(winWaveDevice);
    EXPECT_GE(played.bytes.size(), 33u + 6);
    EXPECT_LE(played.bytes.size(), 33u + 7);
    EXPECT_EQ(played.starts.back(), played.starts.front() + 668 * static_cast<int64_t>(played.bytes.size() - 1));
}

TEST_F(WaveDevice, SuspendedOutputMixesNothingAndReportsNoTick) {
    ASSERT_EQ(winWaveDevice.openDevice(44100, 0), errOK);
    ASSERT_EQ(winWaveDevice.suspendOutput(), errOK);
    const uint32_t left = winWave.framesLeft;
    int32_t due = 1;
    EXPECT_EQ(winWaveDevice.play(&due), errOK);
    EXPECT_EQ(due, 0);
    EXPECT_EQ(winWave.framesLeft, left);
    EXPECT_TRUE(played.bytes.empty());
    // Resuming opens the output again with fresh blocks; the mixer kept its state.
    ASSERT_EQ(winWaveDevice.resumeOutput(), errOK);
    EXPECT_EQ(pollPass(winWaveDevice), 24);
}

TEST_F(WaveDevice, DetectionFollowsThePlatformsOutputs) {
    int32_t found = -1;
    EXPECT_EQ(winWaveDevice.detectDevice(&found), errOK);
    EXPECT_EQ(found, 1);
    HeadlessOptions none;
    none.audio = headlessAudioNone;
    startPlatform(none);
    EXPECT_EQ(winWaveDevice.detectDevice(&found), errOK);
    EXPECT_EQ(found, 0);
    HeadlessOptions busy;
    busy.audio = headlessAudioBusy;
    startPlatform(busy);
    EXPECT_EQ(winWaveDevice.detectDevice(&found), errOK);
    EXPECT_EQ(found, 1);
    EXPECT_EQ(winWaveDevice.openDevice(44100, 0), errDeviceBusy);
}

TEST(WaveDeviceErrors, WaveResultsMapToLibraryErrors) {
    const std::pair<int, int> table[] = {{0, 0},   {2, 38},  {3, 38},  {5, 38},  {35, 38}, {4, 41},
                                         {12, 41}, {33, 41}, {6, 40},  {7, 2},   {8, 39},  {10, 22},
                                         {11, 22}, {34, 22}, {32, 42}, {1, 1},   {9, 1},   {99, 1}};
    for (const auto& [wave, library] : table)
        EXPECT_EQ(waveResultToError(wave), library) << "wave result " << wave;
}

class WaveFormatWalk : public WaveDevice {
protected:
    HeadlessOptions options() override {
        HeadlessOptions o;
        o.waveFormats = offered;
        return o;
    }
    std::vector<WaveFormat> offered;
    void offer(std::vector<WaveFormat> formats) {
        offered = std::move(formats);
        startPlatform(options());
    }
};

TEST_F(WaveFormatWalk, AnOfferedRequestStays) {
    offer({{48000, 2, 16}});
    ASSERT_EQ(winWaveDevice.openDevice(48000, 0), errOK);
    EXPECT_EQ(winWave.mixRate, 48000u);
    EXPECT_EQ(winWave.outputMode, 10u);
}

TEST_F(WaveFormatWalk, MissingStereo16At48kFallsBackTrying44100First) {
    offer({{22050, 2, 16}, {44100, 2, 16}, {44100, 1, 16}});
    ASSERT_EQ(winWaveDevice.openDevice(48000, 0), errOK);
    EXPECT_EQ(winWave.mixRate, 44100u);
    EXPECT_EQ(winWave.outputMode, 10u);
    EXPECT_EQ(mixer.mixRate, 44100u);
}

TEST_F(WaveFormatWalk, TheWalkGoesDownTheModesAndRates) {
    offer({{11025, 1, 8}, {8000, 1, 8}, {8000, 2, 8}});
    ASSERT_EQ(winWaveDevice.openDevice(44100, OUT_STEREO | OUT_16BIT), errOK);
    EXPECT_EQ(winWave.outputMode, 6u); // stereo 8-bit comes before mono 8-bit
    EXPECT_EQ(winWave.mixRate, 8000u);
    EXPECT_EQ(winWave.bytesPerFrame, 2u);
    EXPECT_EQ(mixer.mixMode & (MIX_8BIT | MIX_STEREO), MIX_8BIT | MIX_STEREO);
}

TEST_F(WaveFormatWalk, NothingBelowTheRequestKeepsItAndTheOpenFails) {
    offer({{44100, 2, 16}});
    EXPECT_EQ(winWaveDevice.openDevice(44100, OUT_MONO | OUT_8BIT), errBadOutputMode);
    EXPECT_EQ(winWave.outputMode, 5u);
    EXPECT_EQ(winWave.mixRate, 44100u);
}

// --- silent device ---------------------------------------------------------------------------

class SilentDevice : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        ASSERT_EQ(noSoundDevice.openDevice(44100, 0), errOK);
    }
    void TearDown() override {
        noSoundDevice.closeDevice();
        LibraryTest::TearDown();
    }
};

TEST_F(SilentDevice, MixesMonoAt4000HzWith80FramesPerTick) {
    int32_t found = 0;
    EXPECT_EQ(noSoundDevice.detectDevice(&found), errOK);
    EXPECT_EQ(found, 1);
    EXPECT_EQ(noSound.framesPerTick, 80u);
    EXPECT_EQ(mixer.mixRate, 4000u);
    EXPECT_EQ(mixer.masterVolume, 0);
    uint32_t mode = 0;
    noSoundDevice.getOutputMode(&mode);
    EXPECT_EQ(mode, 9u);
    ASSERT_EQ(noSoundDevice.setUpdateRate(125 * 40 * 2), errOK); // tempo 250
    EXPECT_EQ(noSound.framesPerTick, 40u);
}

TEST_F(SilentDevice, PollsNineMillisecondsApartOweNothingAndLoseTheTime) {
    headlessAdvanceMs(100);
    EXPECT_EQ(pollPass(noSoundDevice), 5); // 400 frames
    headlessAdvanceMs(5);
    EXPECT_EQ(pollPass(noSoundDevice), 0);
    EXPECT_EQ(noSound.framesOwed, 0u);
    headlessAdvanceMs(9);
    EXPECT_EQ(pollPass(noSoundDevice), 0);
    // The 14 ms above are gone: 40 ms later exactly two ticks are due.
    headlessAdvanceMs(40);
    EXPECT_EQ(pollPass(noSoundDevice), 2);
}

TEST_F(SilentDevice, ThreeSecondPauseCatchesUpOnlyTwoSeconds) {
    headlessAdvanceMs(3000);
    ASSERT_EQ(noSoundDevice.beginPoll(), errOK);
    EXPECT_EQ(noSound.framesOwed, 8000u);
    int ticks = 0;
    int32_t due = 0;
    do {
        due = 0;
        noSoundDevice.play(&due);
        ticks += due;
    } while (due);
    EXPECT_EQ(ticks, 100);
    EXPECT_EQ(noSound.framesOwed, 0u);
}

TEST_F(SilentDevice, SuspendedPlayReportsNoTick) {
    ASSERT_EQ(noSoundDevice.suspendOutput(), errOK);
    headlessAdvanceMs(100);
    EXPECT_EQ(pollPass(noSoundDevice), 0);
    ASSERT_EQ(noSoundDevice.resumeOutput(), errOK);
    headlessAdvanceMs(100);
    EXPECT_EQ(pollPass(noSoundDevice), 5);
}

// --- DirectSound device ----------------------------------------------------------------------

class DSoundDevice : public LibraryTest {
protected:
    void TearDown() override {
        dsoundDevice.closeDevice();
        LibraryTest::TearDown();
    }
    int32_t detect(int* err = nullptr) {
        int32_t found = -1;
        const int e = dsoundDevice.detectDevice(&found);
        if (err) *err = e;
        return found;
    }
};

TEST_F(DSoundDevice, DetectionFollowsTheModeWindowAndDriver) {
    int err = -1;
    EXPECT_EQ(detect(&err), 0); // mode 0: never
    EXPECT_EQ(err, errOK);
    sound_set_option(optDSoundMode, 1);
    EXPECT_EQ(detect(&err), 0);
    EXPECT_EQ(err, errNoDSoundWindow);
    sound_set_option(optDSoundWindow, 7);
    EXPECT_EQ(detect(&err), 1);
    EXPECT_EQ(err, errOK);
    neverUseDirectSound = 1;
    EXPECT_EQ(detect(), 0);
    neverUseDirectSound = 0;
    dsoundEmulatedDriver = 1;
    EXPECT_EQ(detect(), 0); // an emulated driver is skipped...
    sound_set_option(optDSoundMode, 3);
    EXPECT_EQ(detect(), 1); // ...unless mode 3 takes any driver
    sound_set_option(optDSoundMode, 1);
    sound_set_option(optDSoundObject, 1);
    EXPECT_EQ(detect(), 1); // or the program supplies the output
    sound_set_option(optDSoundObject, 0);
    dsoundEmulatedDriver = 0;
    HeadlessOptions none;
    none.audio = headlessAudioNone;
    startPlatform(none);
    EXPECT_EQ(detect(&err), 0); // no "dsound.dll": not found, and no error
    EXPECT_EQ(err, errOK);
    EXPECT_EQ(dsoundDevice.openDevice(44100, 0), errNoDSoundDll);
}

TEST_F(DSoundDevice, BufferLengthComesFromTheDriverKind) {
    sound_set_option(optDSoundMode, 1);
    sound_set_option(optDSoundWindow, 7);
    ASSERT_EQ(dsoundDevice.openDevice(44100, 0), errOK);
    EXPECT_EQ(dsound.bufferBytes, 17648u); // 100 ms of stereo 16-bit, rounded up to 16
    EXPECT_EQ(dsound.gap, 16u);
    EXPECT_EQ(dsound.framesPerTick, 882u);
    dsoundDevice.closeDevice();
    dsoundEmulatedDriver = 1;
    ASSERT_EQ(dsoundDevice.openDevice(22050, OUT_MONO), errOK);
    EXPECT_EQ(dsound.bufferBytes, 22064u); // 500 ms of mono 16-bit
    sound_set_option(optDSoundWindow, 0);
    dsoundDevice.closeDevice();
    EXPECT_EQ(dsoundDevice.openDevice(44100, 0), errNoDSoundWindow);
}

TEST_F(DSoundDevice, WritesUpToTheGapBeforeThePlayCursor) {
    sound_set_option(optDSoundMode, 1);
    sound_set_option(optDSoundWindow, 7);
    ASSERT_EQ(dsoundDevice.openDevice(44100, 0), errOK);
    headlessAdvanceMs(50);
    const int ticks = pollPass(dsoundDevice);
    // 50 ms is 2205 frames: two whole ticks, and the writer stops 16 bytes short of the cursor.
    EXPECT_EQ(ticks, 2);
    EXPECT_EQ((dsound.playPos + dsound.bufferBytes - dsound.writePos) % dsound.bufferBytes, 16u);
    ASSERT_EQ(dsoundDevice.suspendOutput(), errOK);
    int32_t due = 1;
    EXPECT_EQ(dsoundDevice.play(&due), errOK);
    EXPECT_EQ(due, 0);
    ASSERT_EQ(dsoundDevice.resumeOutput(), errOK);
}

TEST_F(DSoundDevice, AStalledCursorIsRestartedAfterASecond) {
    sound_set_option(optDSoundMode, 1);
    sound_set_option(optDSoundWindow, 7);
    ASSERT_EQ(dsoundDevice.openDevice(44100, 0), errOK);
    headlessAdvanceMs(50);
    pollPass(dsoundDevice);
    soundBufferStop(dsound.buffer); // the output stalls
    uint32_t cursor = soundBufferPlayCursor(dsound.buffer);
    bool moved = false;
    for (int poll = 0; poll < 30 && !moved; ++poll) {
        headlessAdvanceMs(100);
        pollPass(dsoundDevice);
        moved = soundBufferPlayCursor(dsound.buffer) != cursor;
        if (poll < 10) {
            EXPECT_FALSE(moved) << "restarted after " << (poll + 1) * 100 << " ms";
        }
    }
    EXPECT_TRUE(moved);
}
