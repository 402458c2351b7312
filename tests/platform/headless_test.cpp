// The headless back end: controls and messages, the display, wave output and the looping buffer,
// seen through the recorder.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/headless.h"

namespace {

struct Recorded {
    std::vector<std::string> events; // "kind:detail"
    std::vector<std::int64_t> audioStarts;
    std::vector<std::uint32_t> audioBytes;
    std::int64_t cutFrame = -1;
    int presents = 0;
};

Recorded recorded;

HeadlessRecorder recorder() {
    HeadlessRecorder r{};
    r.event = [](void*, std::int64_t, const char* kind, const char* detail) {
        recorded.events.push_back(std::string(kind) + ":" + detail);
    };
    r.present = [](void*, std::int64_t, const SurfaceInfo&) { ++recorded.presents; };
    r.audio = [](void*, std::int64_t start, const WaveFormat&, const std::uint8_t*, std::uint32_t bytes) {
        recorded.audioStarts.push_back(start);
        recorded.audioBytes.push_back(bytes);
    };
    r.audioCut = [](void*, std::int64_t frame, std::uint32_t) { recorded.cutFrame = frame; };
    return r;
}

void start(HeadlessOptions options = {}) {
    recorded = Recorded{};
    if (options.modes.empty()) options.modes = headlessAllModes();
    headlessConfigure(options, recorder());
    platformInit(headlessBackend());
}

std::intptr_t lastKey = 0;
std::intptr_t rememberKey(WindowHandle, const Message& message) {
    if (message.kind == msgKeyDown) lastKey = message.wParam;
    return 0;
}

WindowHandle popup() {
    WindowDesc desc{"TEST", "", windowPopup, 0, 0, 640, 480, rememberKey};
    const WindowHandle window = createWindow(desc);
    showWindow(window);
    return window;
}

} // namespace

TEST(HeadlessControls, ComboBoxKeepsItsTextsSortedWithoutRegardToCase) {
    start();
    const WindowHandle parent = popup();
    const WindowHandle combo = createControl(parent, controlComboBox, nullptr, 0, 0, 10, 10, styleSort);
    controlAddString(combo, "640x480x16");
    controlAddString(combo, "320x200x16");
    controlAddString(combo, "640x400x16 interlaced");
    controlAddString(combo, "640x400x16");
    ASSERT_EQ(controlCount(combo), 4);
    const char* expected[] = {"320x200x16", "640x400x16", "640x400x16 interlaced", "640x480x16"};
    for (int i = 0; i < 4; ++i) {
        char text[64];
        controlGetText(combo, i, text, sizeof text);
        EXPECT_STREQ(text, expected[i]);
    }
    platformShutdown(0);
}

TEST(HeadlessControls, SelectStringSearchesAfterTheStartByPrefixAndWraps) {
    start();
    const WindowHandle combo = createControl(popup(), controlComboBox, nullptr, 0, 0, 10, 10, styleSort);
    controlAddString(combo, "640x400x16");
    controlAddString(combo, "640x400x16 interlaced");
    controlAddString(combo, "320x240x16");
    EXPECT_EQ(controlSelectString(combo, -1, "640X400"), 1);   // from the top, any case
    EXPECT_EQ(controlSelectString(combo, 1, "640x400x16"), 2); // begins after entry 1
    EXPECT_EQ(controlSelectString(combo, 2, "320"), 0);        // wraps around
    EXPECT_EQ(controlSelectString(combo, 0, "800"), -1);
    EXPECT_EQ(controlGetSelection(combo), 0); // a failed search keeps the selection
    platformShutdown(0);
}

TEST(HeadlessControls, TextIsCutToTheCallersBuffer) {
    start();
    const WindowHandle list = createControl(popup(), controlListBox, nullptr, 0, 0, 10, 10);
    controlAddString(list, "abcdefgh");
    char text[4];
    EXPECT_EQ(controlGetText(list, 0, text, sizeof text), 3);
    EXPECT_STREQ(text, "abc");
    EXPECT_EQ(controlGetText(list, 1, text, sizeof text), -1);
    platformShutdown(0);
}

TEST(HeadlessControls, ListBoxEntriesAreRecordedAsLogEvents) {
    start();
    const WindowHandle list = createControl(popup(), controlListBox, nullptr, 0, 0, 10, 10);
    controlAddString(list, "Done...");
    controlAddString(list, "");
    ASSERT_EQ(recorded.events.size(), 2u);
    EXPECT_EQ(recorded.events[0], "log:Done...");
    EXPECT_EQ(recorded.events[1], "log:");
    platformShutdown(0);
}

TEST(HeadlessMessages, ClickingACheckBoxTogglesItBeforeTheParentHears) {
    start();
    static int seenChecked = -1;
    WindowDesc desc{
        "CFG", "", windowDialog, 0, 0, 600, 314, [](WindowHandle, const Message& m) -> std::intptr_t {
            if (m.kind == msgCommand) seenChecked = controlGetCheck(static_cast<WindowHandle>(m.lParam));
            return 0;
        }};
    const WindowHandle window = createWindow(desc);
    showWindow(window);
    const WindowHandle box = createControl(window, controlCheckBox, "Use MMX", 0, 0, 10, 10);
    EXPECT_EQ(controlClick(box), 1);
    EXPECT_EQ(controlGetCheck(box), 1); // flipped at the click
    Message message;
    ASSERT_EQ(peekMessage(&message), 1);
    dispatchMessage(message);
    EXPECT_EQ(seenChecked, 1);
    EXPECT_EQ(peekMessage(&message), 0);
    platformShutdown(0);
}

TEST(HeadlessMessages, EscapeArrivesAtItsTimeInTheWindowWithTheKeyboard) {
    HeadlessOptions options;
    options.escapeAtMs = 100;
    start(options);
    popup();
    Message message;
    EXPECT_EQ(peekMessage(&message), 0);
    headlessAdvanceMs(100);
    ASSERT_EQ(peekMessage(&message), 1);
    lastKey = 0;
    dispatchMessage(message);
    EXPECT_EQ(lastKey, static_cast<std::intptr_t>(keyEscape));
    headlessAdvanceMs(1000);
    EXPECT_EQ(peekMessage(&message), 0); // pressed once
    platformShutdown(0);
}

TEST(HeadlessMessages, MessageBoxesAreRecordedWithTheirCaption) {
    start();
    messageBox(0, "Mode unsupported!", nullptr);
    messageBox(0, "Demonstration aborted, darn it...", "User interruption");
    ASSERT_EQ(recorded.events.size(), 2u);
    EXPECT_EQ(recorded.events[0], "messagebox:|Mode unsupported!");
    EXPECT_EQ(recorded.events[1], "messagebox:User interruption|Demonstration aborted, darn it...");
    platformShutdown(0);
}

TEST(HeadlessDisplay, OffersTheConfiguredModesInOrder) {
    HeadlessOptions options;
    options.modes = {{640, 480, 16}, {320, 200, 32}};
    start(options);
    std::vector<DisplayMode> seen;
    displayEnumModes(
        [](const DisplayMode& mode, void* context) {
            static_cast<std::vector<DisplayMode>*>(context)->push_back(mode);
            return 1;
        },
        &seen);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].width, 640);
    EXPECT_EQ(seen[1].bits, 32);
    platformShutdown(0);
}

TEST(HeadlessDisplay, RefusesAModeItListsWhenToldTo) {
    HeadlessOptions options;
    options.refused = {320, 240, 16};
    start(options);
    ASSERT_EQ(displayCreate(), displayOk);
    ASSERT_EQ(displaySetExclusive(popup()), displayOk);
    EXPECT_EQ(displaySetMode(320, 240, 16), displayFailed);
    EXPECT_EQ(displaySetMode(800, 600, 16), displayFailed); // not offered at all
    EXPECT_EQ(displaySetMode(320, 200, 16), displayOk);
    platformShutdown(0);
}

TEST(HeadlessDisplay, SurfaceHasTheConfiguredPitchAndFormatAndStartsBlack) {
    HeadlessOptions options;
    options.pitch = 1000;
    options.format555 = 1;
    start(options);
    displayCreate();
    displaySetExclusive(popup());
    ASSERT_EQ(displaySetMode(320, 200, 16), displayOk);
    ASSERT_EQ(displayCreatePrimary(), displayOk);
    SurfaceInfo info{};
    ASSERT_EQ(displayLock(&info, lockWait), displayOk);
    EXPECT_EQ(info.pitch, 1000);
    EXPECT_EQ(info.greenMask, 0x3E0u);
    EXPECT_EQ(info.redMask, 0x7C00u);
    ASSERT_NE(info.memory, nullptr);
    for (int i = 0; i < 1000 * 200; ++i)
        ASSERT_EQ(info.memory[i], 0) << i;
    EXPECT_EQ(displayLock(&info, lockWait), displayFailed); // one lock at a time
    displayUnlock();
    platformShutdown(0);
}

TEST(HeadlessDisplay, PitchSmallerThanARowIsWidenedToTheRow) {
    HeadlessOptions options;
    options.pitch = 100;
    start(options);
    displayCreate();
    displaySetExclusive(popup());
    displaySetMode(640, 480, 32);
    displayCreatePrimary();
    SurfaceInfo info{};
    displayGetSurfaceInfo(&info);
    EXPECT_EQ(info.pitch, 640 * 4);
    platformShutdown(0);
}

TEST(HeadlessDisplay, OnlyWriteLocksCountAsPresentedFrames) {
    start();
    displayCreate();
    displaySetExclusive(popup());
    displaySetMode(320, 200, 16);
    displayCreatePrimary();
    SurfaceInfo info{};
    displayLock(&info, lockWait);
    displayUnlock();
    EXPECT_EQ(headlessPresentCount(), 0);
    displayLock(&info, lockWait | lockWriteOnly);
    displayUnlock();
    displayLock(&info, lockWait | lockWriteOnly);
    displayUnlock();
    EXPECT_EQ(headlessPresentCount(), 2);
    EXPECT_EQ(recorded.presents, 2);
    traceStatus(3, 17);
    displayLock(&info, lockWait | lockWriteOnly);
    displayUnlock();
    ASSERT_GE(recorded.events.size(), 2u);
    EXPECT_EQ(recorded.events[recorded.events.size() - 2], "status:3 17");
    EXPECT_EQ(recorded.events.back(), "present:3 3 17");
    platformShutdown(0);
}

TEST(HeadlessDisplay, EachRunStartsWithoutTheLastRunsPlayStatus) {
    for (int run = 0; run < 2; ++run) {
        start();
        displayCreate();
        displaySetExclusive(popup());
        displaySetMode(320, 200, 16);
        displayCreatePrimary();
        SurfaceInfo info{};
        displayLock(&info, lockWait | lockWriteOnly);
        displayUnlock();
        // Nothing has read a status in this run yet, whatever the run before read.
        EXPECT_EQ(recorded.events.back(), "present:1 0 0") << "run " << run;
        traceStatus(5, 9);
        platformShutdown(0);
    }
}

TEST(HeadlessWave, NoneHasNoDeviceAndBusyCannotBeOpened) {
    HeadlessOptions options;
    options.audio = headlessAudioNone;
    start(options);
    EXPECT_EQ(waveDeviceCount(), 0);
    WaveOutput* output = nullptr;
    EXPECT_NE(waveOpen(&output, {44100, 2, 16}), waveOk);
    platformShutdown(0);

    options.audio = headlessAudioBusy;
    start(options);
    EXPECT_EQ(waveDeviceCount(), 1);
    EXPECT_EQ(waveQuery({44100, 2, 16}), waveOk);
    EXPECT_EQ(waveOpen(&output, {44100, 2, 16}), waveBusy);
    platformShutdown(0);
}

TEST(HeadlessWave, RejectsFormatsItCannotPlay) {
    start();
    EXPECT_EQ(waveQuery({44100, 3, 16}), waveBadFormat);
    EXPECT_EQ(waveQuery({44100, 2, 12}), waveBadFormat);
    EXPECT_EQ(waveQuery({0, 2, 16}), waveBadFormat);
    platformShutdown(0);
}

TEST(HeadlessWave, BlocksPlayBackToBackAndAreDoneWhenTheClockHasPassedThem) {
    start();
    WaveOutput* output = nullptr;
    ASSERT_EQ(waveOpen(&output, {10000, 1, 16}), waveOk);
    std::vector<std::uint8_t> data(2000); // 1000 frames: 100 ms
    WaveBlock a{data.data(), 2000, {}};
    WaveBlock b{data.data(), 2000, {}};
    EXPECT_EQ(waveBlockDone(output, &a), 1); // never written
    waveWrite(output, &a);
    waveWrite(output, &b);
    EXPECT_EQ(waveBlockDone(output, &a), 0);
    headlessAdvanceMs(100);
    EXPECT_EQ(waveBlockDone(output, &a), 1);
    EXPECT_EQ(waveBlockDone(output, &b), 0);
    headlessAdvanceMs(100);
    EXPECT_EQ(waveBlockDone(output, &b), 1);
    ASSERT_EQ(recorded.audioStarts.size(), 2u);
    EXPECT_EQ(recorded.audioStarts[1] - recorded.audioStarts[0], 1000);
    // Run dry for a while: the next block starts when written.
    headlessAdvanceMs(500);
    waveWrite(output, &a);
    EXPECT_EQ(recorded.audioStarts[2], 7000);
    waveReset(output);
    EXPECT_EQ(waveBlockDone(output, &a), 1);
    EXPECT_EQ(recorded.cutFrame, 7000);
    EXPECT_EQ(waveClose(output), waveOk);
    platformShutdown(0);
}

// The program may end while the sound library's thread still plays (exitProcess joins no
// thread): what it writes after the recording was finished must not reach the recorder.
TEST(HeadlessWave, SoundAfterTheEndOfTheRecordingIsDropped) {
    for (const int audio : {headlessAudioOk, headlessAudioSink}) {
        HeadlessOptions options;
        options.audio = audio;
        start(options);
        WaveOutput* output = nullptr;
        ASSERT_EQ(waveOpen(&output, {10000, 1, 16}), waveOk);
        std::vector<std::uint8_t> data(2000);
        WaveBlock a{data.data(), 2000, {}};
        WaveBlock b{data.data(), 2000, {}};
        waveWrite(output, &a);
        platformShutdown(0);
        EXPECT_EQ(waveWrite(output, &b), waveOk);
        waveReset(output);
        EXPECT_EQ(recorded.audioStarts.size(), 1u) << audio;
        EXPECT_EQ(recorded.cutFrame, -1) << audio;
        EXPECT_EQ(waveClose(output), waveOk);
    }
}

TEST(HeadlessSoundBuffer, CursorMovesWithTheClockAndWrapsAtTheEnd) {
    start();
    SoundBuffer* buffer = nullptr;
    ASSERT_EQ(soundBufferCreate(&buffer, {1000, 2, 16}, 400), waveOk); // 100 frames: 100 ms
    EXPECT_EQ(soundBufferSize(buffer), 400u);
    EXPECT_EQ(soundBufferPlayCursor(buffer), 0u);
    soundBufferPlay(buffer);
    headlessAdvanceMs(30);
    EXPECT_EQ(soundBufferPlayCursor(buffer), 120u);
    headlessAdvanceMs(100);
    EXPECT_EQ(soundBufferPlayCursor(buffer), 120u); // a whole loop later
    soundBufferStop(buffer);
    headlessAdvanceMs(50);
    EXPECT_EQ(soundBufferPlayCursor(buffer), 120u);
    std::uint32_t recordedBytes = 0;
    for (std::uint32_t bytes : recorded.audioBytes)
        recordedBytes += bytes;
    EXPECT_EQ(recordedBytes, 130u * 4);
    soundBufferRelease(buffer);
    platformShutdown(0);
}
