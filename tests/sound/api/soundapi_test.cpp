// The programming interface, the internal fatal layer and the polling thread, on the headless
// back end: device choice, options, module loading by signature, songs and channels, background
// play and fatal errors.
#include "plumbing_fixture.h"

#include "platform/platform.h"
#include "sound/mixer/dsm.h"
#include "sound/api/errors.h"
#include "sound/api/mpoll.h"
#include "sound/api/virez.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>

using namespace plumbing;

namespace {

std::vector<int> detectCalls;
int32_t presence[3] = {0, 0, 0};

template <int N>
int fakeDetect(int32_t* found) {
    detectCalls.push_back(N);
    *found = presence[N];
    return errOK;
}

void useFakeDetection(int32_t dsoundFound, int32_t waveFound, int32_t silentFound) {
    detectCalls.clear();
    presence[0] = dsoundFound;
    presence[1] = waveFound;
    presence[2] = silentFound;
    dsoundDevice.detectDevice = fakeDetect<0>;
    winWaveDevice.detectDevice = fakeDetect<1>;
    noSoundDevice.detectDevice = fakeDetect<2>;
}

std::vector<std::string> reports;
void keepReport(const char* text) {
    reports.emplace_back(text);
}

std::vector<char> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

using SoundApi = LibraryTest;

} // namespace

// --- start-up, options, device choice --------------------------------------------------------

TEST_F(SoundApi, StartupSetsTheDefaultsAndOptionsKeepTheirRules) {
    sound_set_option(optMixingRate, 22050);
    sound_set_option(optForceNoSound, 1);
    sound_startup();
    const int defaults[] = {0, 44100, 0, 500, 16, 0, 0, 0, 100, 1, 3, 0, 64, 0};
    for (int option = 1; option <= soundOptionCount; ++option)
        EXPECT_EQ(sound_get_option(option), defaults[option]) << "option " << option;
    EXPECT_EQ(chosen_device_number, -1);
    EXPECT_EQ(sound_set_option(0, 5), 1);
    EXPECT_EQ(sound_set_option(14, 5), 1);
    EXPECT_EQ(sound_get_option(0), 0);
    EXPECT_EQ(sound_get_option(14), 0);
    EXPECT_EQ(sound_get_option(-3), 0);
    for (int value : {1, 0, 2, -1, 255}) {
        sound_set_option(optInterpolation, value);
        EXPECT_EQ(sound_get_option(optInterpolation), value == 1 ? 1 : 0) << "set to " << value;
    }
    sound_set_option(optUlawSamples, 0);
    sound_set_option(optFilterMode, 1);
    EXPECT_EQ(mixerOptions.ulawSamples, 0);
    EXPECT_EQ(mixerOptions.filterMode, 1);
    EXPECT_STREQ(sound_get_version_string(), "1.1.2");
    EXPECT_STREQ(sound_get_error_message(37), "Out of system resources");
    EXPECT_STREQ(sound_get_error_message(21), "Sound Device hardware failure");
}

TEST_F(SoundApi, InitTakesTheWaveOutputByDefault) {
    ASSERT_EQ(sound_init(), 1);
    EXPECT_EQ(currentDevice, &winWaveDevice);
    EXPECT_EQ(sound_detect_device(), 1);
    EXPECT_EQ(sound_init(), 0) << "a second initialisation";
    EXPECT_EQ(sound_get_last_error(), errDeviceBusy);
    EXPECT_EQ(sound_close(), 1);
    EXPECT_EQ(currentDevice, nullptr);
    EXPECT_EQ(sound_init(), 1) << "closing returns to the configured state";
}

TEST_F(SoundApi, DetectionTriesTheDevicesInOrderAndFailsWith21WhenNoneIsPresent) {
    useFakeDetection(0, 0, 0);
    EXPECT_EQ(sound_init(), 0);
    EXPECT_EQ(sound_get_last_error(), errHardwareFailure);
    EXPECT_EQ(detectCalls, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(currentDevice, nullptr);
    useFakeDetection(0, 1, 1);
    EXPECT_EQ(sound_detect_device(), 1);
    EXPECT_EQ(detectCalls, (std::vector<int>{0, 1}));
    useFakeDetection(1, 1, 1);
    EXPECT_EQ(sound_detect_device(), 0);
}

TEST_F(SoundApi, ADetectionErrorEndsTheInit) {
    sound_set_option(optDSoundMode, 1); // and no window handle
    EXPECT_EQ(sound_init(), 0);
    EXPECT_EQ(sound_get_last_error(), errNoDSoundWindow);
    EXPECT_EQ(sound_detect_device(), -1);
}

TEST_F(SoundApi, ForcedSilenceUsesTheSilentDeviceEvenWithHardware) {
    sound_set_option(optForceNoSound, 1);
    ASSERT_EQ(sound_init(), 1);
    EXPECT_EQ(currentDevice, &noSoundDevice);
    EXPECT_EQ(chosen_device_number, 2);
}

TEST_F(SoundApi, AChosenDeviceIsDetectedAnywayUnlessOverridden) {
    useFakeDetection(0, 0, 0);
    chosen_device_number = 1;
    ASSERT_EQ(sound_init(), 1);
    EXPECT_EQ(currentDevice, &winWaveDevice);
    EXPECT_EQ(detectCalls, (std::vector<int>{1}));
    sound_close();
    detectCalls.clear();
    device_card_type = 3;
    ASSERT_EQ(sound_init(), 1);
    EXPECT_TRUE(detectCalls.empty());
    EXPECT_EQ(winWaveDevice.cardType, 3);
    sound_close();
    chosen_device_number = 7;
    EXPECT_EQ(sound_init(), 0);
    EXPECT_EQ(sound_get_last_error(), errInvalidDevice);
}

class SoundApiBusyOutput : public LibraryTest {
protected:
    HeadlessOptions options() override {
        HeadlessOptions o;
        o.audio = headlessAudioBusy;
        return o;
    }
};

TEST_F(SoundApiBusyOutput, ABusyOutputFailsAndTheRetryRunsSilently) {
    EXPECT_EQ(sound_init(), 0);
    EXPECT_EQ(sound_get_last_error(), errDeviceBusy);
    sound_set_option(optForceNoSound, 1);
    ASSERT_EQ(sound_init(), 1);
    EXPECT_EQ(currentDevice, &noSoundDevice);
}

// --- modules ---------------------------------------------------------------------------------

TEST_F(SoundApi, TheExtendedModuleSignatureWinsOverScrm) {
    ASSERT_EQ(sound_init(), 1);
    const std::string path = writeModule("plumbing_scrm.xm");
    std::vector<char> bytes = readFile(path);
    ASSERT_GE(bytes.size(), 48u);
    std::memcpy(bytes.data() + 44, "SCRM", 4); // inside the tracker name
    writeFile(path, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    Module* module = sound_load_module(path.c_str());
    ASSERT_NE(module, nullptr) << sound_get_error_message(sound_get_last_error());
    EXPECT_EQ(module->play_mode, playModeExtended);
    EXPECT_EQ(module->samples[0]->data, nullptr) << "the samples went to the device";
    EXPECT_NE(module->samples[0]->device_handle, 0);
    EXPECT_EQ(sound_free_module(module), 1);
}

TEST_F(SoundApi, FilesWithoutALoaderOrTooShortAreInvalidModules) {
    ASSERT_EQ(sound_init(), 1);
    const std::string path = ::testing::TempDir() + "plumbing_short.mod";
    writeFile(path, std::vector<std::uint8_t>(20, 'x'));
    sound_set_option(optMixingRate, 44100);
    EXPECT_EQ(sound_load_module(path.c_str()), nullptr);
    EXPECT_EQ(sound_get_last_error(), errInvalidModule);
    EXPECT_EQ(sound_load_module((::testing::TempDir() + "plumbing_missing.xm").c_str()), nullptr);
    EXPECT_NE(sound_get_last_error(), errOK);
    EXPECT_EQ(sound_load_module(nullptr), nullptr);
    EXPECT_EQ(sound_get_last_error(), errInvalidArguments);
}

TEST_F(SoundApi, ModuleAndInstrumentInfo) {
    ASSERT_EQ(sound_init(), 1);
    Module* module = sound_load_module(writeModule("plumbing_info.xm").c_str());
    ASSERT_NE(module, nullptr);
    ModuleInfo info{};
    ASSERT_EQ(sound_get_module_info(module, &info), 1);
    EXPECT_STREQ(info.name, "plumbing test song w"); // XM names are 20 characters
    EXPECT_EQ(info.song_length, 2);
    EXPECT_EQ(info.pattern_count, 1);
    EXPECT_EQ(info.instrument_count, 1);
    EXPECT_EQ(info.channel_count, 2);
    InstrumentInfo instrument{};
    ASSERT_EQ(sound_get_instrument_info(module, 0, &instrument), 1);
    EXPECT_STREQ(instrument.name, "an instrument named pa");
    EXPECT_EQ(sound_get_instrument_info(module, 1, &instrument), 0);
    EXPECT_EQ(sound_get_last_error(), errInvalidArguments);
    EXPECT_EQ(sound_get_instrument_info(module, -1, &instrument), 0);
    EXPECT_EQ(sound_get_module_info(nullptr, &info), 0);
    EXPECT_EQ(sound_get_last_error(), errInvalidArguments);
    sound_free_module(module);
}

// --- songs and channels ----------------------------------------------------------------------

TEST_F(SoundApi, ASeventeenthSongFailsWith37AndLeavesTheOthersAlone) {
    ASSERT_EQ(sound_init(), 1);
    Module* module = sound_load_module(writeModule("plumbing_songs.xm").c_str());
    ASSERT_NE(module, nullptr);
    ASSERT_EQ(sound_open_channels(2 * 17), 1);
    for (int i = 0; i < maxSongs; ++i)
        EXPECT_EQ(sound_play_module(module, 0), i + 1);
    EXPECT_EQ(sound_play_module(module, 0), 0);
    EXPECT_EQ(sound_get_last_error(), errOutOfResources);
    int taken = 0;
    for (int c = 0; c < channels_open; ++c)
        taken += channel_in_use[c];
    EXPECT_EQ(taken, 2 * maxSongs);
    for (int song = 1; song <= maxSongs; ++song) {
        PlayStatus status{};
        EXPECT_EQ(sound_get_play_status(song, &status), 1) << "song " << song;
        EXPECT_EQ(playing_songs[song - 1]->channel_count, 2);
    }
    EXPECT_EQ(sound_free_module(module), 1) << "stops every song playing it first";
    for (int song = 1; song <= maxSongs; ++song)
        EXPECT_EQ(playing_songs[song - 1], nullptr);
    PlayStatus status{};
    EXPECT_EQ(sound_get_play_status(1, &status), 0);
    EXPECT_EQ(sound_get_last_error(), errNoModulePlaying);
}

TEST_F(SoundApi, APlayOpensTheChannelsAndItsStopClosesThem) {
    ASSERT_EQ(sound_init(), 1);
    Module* module = sound_load_module(writeModule("plumbing_channels.xm", 3).c_str());
    ASSERT_NE(module, nullptr);
    const int song = sound_play_module(module, 1);
    ASSERT_EQ(song, 1);
    EXPECT_EQ(channels_open, 3);
    EXPECT_EQ(mixer.channelCount, 3u);
    EXPECT_EQ(sound_set_channel_volume(song, 2, 32), 1);
    EXPECT_EQ(sound_set_channel_volume(song, 3, 32), 0);
    EXPECT_EQ(sound_get_last_error(), errInvalidChannel);
    EXPECT_EQ(sound_set_music_volume(song, 40), 1);
    EXPECT_EQ(sound_set_position(song, 1), 1);
    EXPECT_EQ(sound_set_music_sync_callback(song, nullptr), 1);
    EXPECT_EQ(sound_stop_module(song), 1);
    EXPECT_EQ(channels_open, 0);
    EXPECT_EQ(sound_stop_module(song), 0);
    EXPECT_EQ(sound_get_last_error(), errNoModulePlaying);
    EXPECT_EQ(sound_stop_module(17), 0);
    EXPECT_EQ(sound_get_last_error(), errInvalidArguments);
    // Too few channels open: error 48, and nothing of the failed start is left taken.
    ASSERT_EQ(sound_open_channels(2), 1);
    EXPECT_EQ(sound_play_module(module, 0), 0);
    EXPECT_EQ(sound_get_last_error(), errOutOfChannels);
    EXPECT_EQ(channel_in_use[0] + channel_in_use[1], 0);
    EXPECT_EQ(sound_play_song_section(module, 2, 0, 1, 0, 0), 1);
    EXPECT_EQ(sound_play_song_section(module, 2, 1, 2, 0, 0), 0) << "end beyond the song";
    sound_free_module(module);
}

TEST_F(SoundApi, ChannelsAllocateLowestFirstAndAmplificationScales) {
    EXPECT_EQ(sound_allocate_channel(), 0xFFFF);
    EXPECT_EQ(sound_get_last_error(), errNoChannels);
    EXPECT_EQ(sound_free_channel(0), 0);
    EXPECT_EQ(sound_get_last_error(), errNoChannels);
    ASSERT_EQ(sound_init(), 1);
    ASSERT_EQ(sound_open_channels(8), 1);
    EXPECT_EQ(sound_allocate_channel(), 0);
    EXPECT_EQ(sound_allocate_channel(), 1);
    EXPECT_EQ(sound_free_channel(0), 1);
    EXPECT_EQ(sound_allocate_channel(), 0);
    EXPECT_EQ(sound_free_channel(8), 0);
    EXPECT_EQ(sound_get_last_error(), errInvalidChannel);
    for (int c = 2; c < 8; ++c)
        EXPECT_EQ(sound_allocate_channel(), c);
    EXPECT_EQ(sound_allocate_channel(), 0xFFFF);
    EXPECT_EQ(sound_get_last_error(), errOutOfChannels);
    const int base = base_amplification;
    EXPECT_EQ(base, 14 * 8);
    ASSERT_EQ(sound_set_amplification(50), 1);
    uint32_t amplification = 0;
    currentDevice->getAmplification(&amplification);
    EXPECT_EQ(amplification, static_cast<uint32_t>(base / 2));
    // The percentage also applies to channels opened later.
    ASSERT_EQ(sound_close_channels(), 1);
    ASSERT_EQ(sound_open_channels(4), 1);
    currentDevice->getAmplification(&amplification);
    EXPECT_EQ(amplification, 32u);
    EXPECT_EQ(sound_close_channels(), 1);
    EXPECT_EQ(sound_close_channels(), 0);
    EXPECT_EQ(sound_get_last_error(), errNoChannels);
}

// --- polling ---------------------------------------------------------------------------------

namespace {
std::atomic<int> polls{0};
int (*realBeginPoll)() = nullptr;
int countingBeginPoll() {
    ++polls;
    return realBeginPoll();
}
} // namespace

TEST_F(SoundApi, BackgroundPlayPollsEvery20MsByDefaultAnd5MsAtRate100) {
    sound_set_option(optForceNoSound, 1);
    ASSERT_EQ(sound_init(), 1);
    realBeginPoll = noSoundDevice.beginPoll;
    noSoundDevice.beginPoll = countingBeginPoll;
    for (const auto& [rate, expected] : {std::pair{0, 50}, std::pair{100, 200}}) {
        polls = 0;
        ASSERT_EQ(sound_start_background_play(rate), 1);
        EXPECT_EQ(background_play_active, 1);
        headlessAdvanceMs(1000);
        EXPECT_GE(polls.load(), expected);
        EXPECT_LE(polls.load(), expected + 1);
        ASSERT_EQ(sound_stop_background_play(), 1);
        EXPECT_EQ(background_play_active, 0);
    }
    EXPECT_EQ(poll_sleep_ms.load(), 5u);
}

TEST_F(SoundApi, WithTheSilentDeviceTheThreadStillAdvancesTheMusic) {
    sound_set_option(optForceNoSound, 1);
    ASSERT_EQ(sound_init(), 1);
    Module* module = sound_load_module(writeModule("plumbing_silent.xm").c_str());
    ASSERT_NE(module, nullptr);
    const int song = sound_play_module(module, 1);
    ASSERT_NE(song, 0);
    ASSERT_EQ(sound_start_background_play(0), 1);
    // Speed 6 at tempo 125: a row every 120 ms.
    headlessAdvanceMs(1000);
    PlayStatus status{};
    ASSERT_EQ(sound_get_play_status(song, &status), 1);
    EXPECT_GE(status.position * 16 + status.row, 7);
    EXPECT_LE(status.position * 16 + status.row, 9);
    ASSERT_EQ(sound_close(), 1);
    EXPECT_EQ(background_play_active, 0);
    EXPECT_FALSE(play_thread_running());
    sound_free_module(module);
}

namespace {

// A device whose poll takes a while on the real clock.
std::atomic<int> inPoll{0};
std::atomic<int64_t> pollEndNs{0};
int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
int slowBeginPoll() {
    inPoll = 1;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    pollEndNs = nowNs();
    ++polls;
    return errOK;
}

class PollThread : public LibraryTest {
protected:
    HeadlessOptions options() override {
        HeadlessOptions o;
        o.realtime = 1;
        return o;
    }
};

} // namespace

TEST_F(PollThread, StoppingDuringAPollWaitsForThatPollAndTheSleepAfterIt) {
    sound_set_option(optForceNoSound, 1);
    ASSERT_EQ(sound_init(), 1);
    noSoundDevice.beginPoll = slowBeginPoll;
    polls = 0;
    inPoll = 0;
    ASSERT_EQ(start_play_thread(40), errOK);
    while (!inPoll)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(stop_play_thread(), errOK);
    const int64_t stopped = nowNs();
    EXPECT_EQ(polls.load(), 1);
    EXPECT_GE(stopped - pollEndNs.load(), 40'000'000) << "the sleep after the poll was cut short";
    EXPECT_EQ(poll_stop_request.load(), 0);
    EXPECT_FALSE(play_thread_running());
}

TEST_F(PollThread, SoundPollIsSafeWhileTheThreadRuns) {
    sound_set_option(optForceNoSound, 1);
    ASSERT_EQ(sound_init(), 1);
    Module* module = sound_load_module(writeModule("plumbing_both.xm").c_str());
    ASSERT_NE(module, nullptr);
    const int song = sound_play_module(module, 1);
    ASSERT_EQ(sound_start_background_play(100), 1);
    PlayStatus status{};
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(sound_poll(), 1);
        EXPECT_EQ(sound_get_play_status(song, &status), 1);
        if (i % 20 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(sound_stop_background_play(), 1);
    EXPECT_EQ(sound_stop_module(song), 1);
    EXPECT_EQ(sound_free_module(module), 1);
}

// --- fatal errors ----------------------------------------------------------------------------

namespace {
int failingPlay(int32_t* due) {
    *due = 0;
    return errDeviceBusy;
}
int failingClose() {
    return errUnsupported;
}
} // namespace

TEST_F(SoundApi, APollErrorShutsDownAndGoesToTheHook) {
    reports.clear();
    sound_set_error_report_hook(keepReport);
    sound_set_option(optForceNoSound, 1);
    ASSERT_EQ(sound_init(), 1);
    noSoundDevice.play = failingPlay;
    EXPECT_EQ(sound_poll(), 0);
    EXPECT_EQ(sound_get_last_error(), errDeviceBusy);
    EXPECT_EQ(reports, (std::vector<std::string>{"VIREZ Error: Device is busy"}));
    EXPECT_EQ(device_initialised, 0);
    EXPECT_EQ(player_initialised, 0);
    EXPECT_EQ(currentDevice, nullptr);
    EXPECT_EQ(sound_poll(), 1) << "nothing left to poll";
}

TEST_F(SoundApi, AnErrorWhileShuttingDownIsReportedFirst) {
    reports.clear();
    sound_set_error_report_hook(keepReport);
    sound_set_option(optForceNoSound, 1);
    ASSERT_EQ(sound_init(), 1);
    noSoundDevice.play = failingPlay;
    noSoundDevice.closeDevice = failingClose;
    EXPECT_EQ(sound_poll(), 0);
    EXPECT_EQ(reports, (std::vector<std::string>{"FATAL VIREZ uninitialization failure: Unsupported function used",
                                                 "VIREZ Error: Device is busy"}));
    mixerClose();
}

TEST_F(SoundApi, AThreadErrorIsFatalToo) {
    reports.clear();
    sound_set_error_report_hook(keepReport);
    sound_set_option(optForceNoSound, 1);
    ASSERT_EQ(sound_init(), 1);
    noSoundDevice.play = failingPlay;
    ASSERT_EQ(sound_start_background_play(0), 1);
    headlessAdvanceMs(100);
    EXPECT_EQ(reports, (std::vector<std::string>{"VIREZ Error: Device is busy"}));
    EXPECT_EQ(sound_close(), 1);
}

using VirezDeathTest = LibraryTest;

TEST_F(VirezDeathTest, TheDefaultReporterWritesToStandardErrorAndExitsWith255) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(virez_default_report("VIREZ Error: Out of memory"), ::testing::ExitedWithCode(255),
                "^VIREZ Error: Out of memory\n$");
    EXPECT_EXIT(
        {
            sound_set_option(optForceNoSound, 1);
            sound_init();
            noSoundDevice.play = failingPlay;
            sound_poll();
        },
        ::testing::ExitedWithCode(255), "^VIREZ Error: Device is busy\n$");
}

TEST_F(SoundApi, TheInternalLayerStartsWithDefaultsAndReportsAFailedShutdown) {
    reports.clear();
    sound_set_option(optMixingRate, 8000);
    virez_init(); // defaults again: the wave output at 44100 Hz
    sound_set_error_report_hook(keepReport);
    EXPECT_EQ(currentDevice, &winWaveDevice);
    EXPECT_EQ(winWave.mixRate, 44100u);
    ASSERT_EQ(sound_start_background_play(0), 1);
    const auto realClose = winWaveDevice.closeDevice;
    winWaveDevice.closeDevice = failingClose;
    virez_close();
    EXPECT_EQ(background_play_active, 0);
    EXPECT_EQ(reports, (std::vector<std::string>{"FATAL VIREZ uninitialization failure: Unsupported function used"}));
    EXPECT_EQ(device_initialised, 0);
    realClose(); // what the failed close left open
}
