// The configuration window: the mode list, the preselection, the chosen entry's effect, its
// controls, "Audio Config", closing it, and the log.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

#include "demo/demo.h"
#include "platform/headless.h"
#include "sound/api/mglobals.h"
#include "sound/api/soundapi.h"
#include "sound/setup/win32cnf.h"

namespace {

std::vector<std::string> logged;

void start(std::vector<DisplayMode> modes, std::vector<std::string> script = {"GO!"},
           std::function<int(WindowHandle)> user = {}) {
    HeadlessOptions options;
    options.modes = std::move(modes);
    options.script = std::move(script);
    options.user = std::move(user);
    HeadlessRecorder recorder{};
    recorder.event = [](void*, std::int64_t, const char* kind, const char* detail) {
        if (std::string(kind) == "log") logged.push_back(detail);
    };
    logged.clear();
    headlessConfigure(options, recorder);
    platformInit(headlessBackend());
    demoSettings = defaultSettings();
    std::snprintf(demoTitle, sizeof demoTitle, "%s", "'Morva by Gravel Mantle'");
    startRequested = 0;
    useMmx = 0;
    mmxAvailable = 1;
    setBufferFormat(0);
}

std::vector<std::string> listed(std::uint8_t bufferType) {
    setBufferFormat(bufferType);
    WindowDesc desc{"ZYNDEMOCFG", "", windowDialog, 0, 0, 600, 314, nullptr};
    const WindowHandle combo = createControl(createWindow(desc), controlComboBox, nullptr, 0, 0, 1, 1, styleSort);
    fillModeList(combo);
    std::vector<std::string> texts;
    for (int i = 0; i < controlCount(combo); ++i) {
        char text[64];
        controlGetText(combo, i, text, sizeof text);
        texts.push_back(text);
    }
    return texts;
}

// A control's text as shown: without the '&' that underlines its mnemonic.
std::string shown(const std::string& text) {
    std::string out;
    for (char c : text)
        if (c != '&') out += c;
    return out;
}

// The control of window with this shown text and kind.
WindowHandle control(WindowHandle window, const std::string& text, ControlKind kind) {
    for (WindowHandle child : windowRecord(window)->children) {
        const WindowRecord* c = windowRecord(child);
        if (c->control == kind && shown(c->text) == text) return child;
    }
    return 0;
}

} // namespace

TEST(ModeList, SixteenBitBufferListsTheSevenSixteenBitEntriesSorted) {
    start(headlessAllModes());
    const std::vector<std::string> expected = {
        "320x200x16", "320x240x16",           "512x384x16", "640x400x16", "640x400x16 interlaced",
        "640x480x16", "640x480x16 interlaced"};
    EXPECT_EQ(listed(0), expected);
    platformShutdown(0);
}

TEST(ModeList, ThirtyTwoBitBufferAlsoListsDeeperModes) {
    start(headlessAllModes());
    const std::vector<std::string> texts = listed(1);
    EXPECT_EQ(texts.size(), 21u);
    EXPECT_NE(std::find(texts.begin(), texts.end(), "640x480x32 interlaced"), texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), "512x384x24"), texts.end());
    platformShutdown(0);
}

TEST(ModeList, WideBufferListsOnlyWholeModesWithoutInterlacing) {
    start(headlessAllModes());
    const std::vector<std::string> expected = {"512x384x16", "640x400x16", "640x480x16"};
    EXPECT_EQ(listed(2), expected);
    platformShutdown(0);
}

TEST(ModeList, ChosenTextSetsIndexAndInterlacedOnlyEverSetsIt) {
    DemoSettings s = defaultSettings();
    EXPECT_EQ(applyModeText(&s, "640x480x16 interlaced"), 1);
    EXPECT_EQ(s.modeIndex, 14);
    EXPECT_EQ(s.interlaced, 1);
    EXPECT_EQ(applyModeText(&s, "320x200x32"), 1);
    EXPECT_EQ(s.modeIndex, 4);
    EXPECT_EQ(s.interlaced, 1); // never cleared
    DemoSettings plain = defaultSettings();
    applyModeText(&plain, "640x480x16");
    EXPECT_EQ(plain.modeIndex, 14);
    EXPECT_EQ(plain.interlaced, 0);
    for (const char* nothing : {"800x600x16", "640x480x16 ", "640X480X16", ""})
        EXPECT_EQ(applyModeText(&plain, nothing), 0) << nothing;
    EXPECT_EQ(plain.modeIndex, 14);
    EXPECT_EQ(plain.interlaced, 0);
}

TEST(ConfigWindow, GoWithoutTouchingTheListStartsIn320x240) {
    start(headlessAllModes());
    runConfigWindow();
    EXPECT_EQ(startRequested, 1);
    EXPECT_EQ(demoSettings.modeIndex, 5);
    EXPECT_EQ(demoSettings.interlaced, 0);
    platformShutdown(0);
}

TEST(ConfigWindow, WithoutThe320x240ModeTheFirstSortedEntryIsTaken) {
    start({{640, 480, 16}, {512, 384, 16}, {320, 240, 32}});
    runConfigWindow();
    EXPECT_EQ(demoSettings.modeIndex, 8);
    platformShutdown(0);
}

TEST(ConfigWindow, EmptyListKeepsTheDefaultIndex) {
    start({{320, 240, 24}});
    runConfigWindow();
    EXPECT_EQ(demoSettings.modeIndex, 5);
    platformShutdown(0);
}

TEST(ConfigWindow, ChosenInterlacedEntryGivesItsIndexWithInterlacing) {
    start(headlessAllModes(), {"select=640x480x16 interlaced", "GO!"});
    runConfigWindow();
    EXPECT_EQ(demoSettings.modeIndex, 14);
    EXPECT_EQ(demoSettings.interlaced, 1);
    platformShutdown(0);
}

TEST(ConfigWindow, TheKeyboardAloneCanChooseAndStart) {
    // Tab to the list, one entry down from 320x240x16, Enter for the default button "GO!".
    start(headlessAllModes(), {"key:tab", "key:down", "key:enter"});
    runConfigWindow();
    EXPECT_EQ(demoSettings.modeIndex, 8);
    platformShutdown(0);
}

TEST(ConfigWindow, HasItsControlsWhereTheyBelongAndStaysOpenAfterGo) {
    start(headlessAllModes());
    runConfigWindow();
    const WindowRecord* window = windowRecord(configWindow);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->className, "ZYNDEMOCFG");
    EXPECT_EQ(window->text, "'Morva by Gravel Mantle'");
    EXPECT_EQ(window->visible, 1);
    EXPECT_EQ(window->width, 600);
    EXPECT_EQ(window->height, 314);
    std::int32_t w = 0, h = 0;
    getClientRect(configWindow, &w, &h);
    const WindowRecord* go = windowRecord(control(configWindow, "GO!", controlButton));
    ASSERT_NE(go, nullptr);
    EXPECT_TRUE(go->style & styleDefault);
    EXPECT_EQ(go->x, 488);
    EXPECT_EQ(go->width, w - 490);
    const WindowRecord* mmx = windowRecord(control(configWindow, "Use MMX", controlCheckBox));
    ASSERT_NE(mmx, nullptr);
    EXPECT_FALSE(mmx->style & stylePushLike); // a check box that shows its tick, not a toggle button
    EXPECT_EQ(mmx->checked, 0);
    EXPECT_EQ(mmx->enabled, 1);
    const WindowRecord* picture = windowRecord(control(configWindow, "DemoBitmap", controlPicture));
    ASSERT_NE(picture, nullptr);
    EXPECT_NE(programBitmap("demobitmap").argb, nullptr); // resource names match in any case
    for (WindowHandle child : window->children) {
        const WindowRecord* c = windowRecord(child);
        EXPECT_EQ(c->visible, 1);
        if (c->control == controlListBox) {
            EXPECT_EQ(c->width, w - 4);
            EXPECT_EQ(c->height, h - 82);
        }
    }
    platformShutdown(0);
}

TEST(ConfigWindow, UseMmxIsGreyedOutWithoutMmxAndFollowsItsButtonWithIt) {
    static int enabled = -1;
    start(headlessAllModes(), {"GO!"}, [](WindowHandle active) {
        enabled = isWindowEnabled(control(active, "Use MMX", controlCheckBox));
        return 0;
    });
    mmxAvailable = 0;
    runConfigWindow();
    EXPECT_EQ(enabled, 0);
    EXPECT_EQ(useMmx, 0);
    platformShutdown(0);

    start(headlessAllModes(), {"Use MMX", "GO!"});
    runConfigWindow();
    EXPECT_EQ(useMmx, 1);
    platformShutdown(0);
}

TEST(ConfigWindow, AudioConfigOpensTheSoundSetupAndCancellingChangesNothingHere) {
    static std::vector<std::string> captions;
    captions.clear();
    start(headlessAllModes(), {"Audio Config", "Cancel", "GO!"}, [](WindowHandle active) {
        captions.push_back(windowRecord(active)->text);
        return 0;
    });
    runConfigWindow();
    ASSERT_GE(captions.size(), 3u);
    EXPECT_EQ(captions[0], "'Morva by Gravel Mantle'");
    EXPECT_EQ(captions[1], "VIREZ Digital Audio System v1.1.2 Setup");
    EXPECT_EQ(captions[2], "'Morva by Gravel Mantle'"); // back, still waiting for "GO!"
    EXPECT_EQ(demoSettings.modeIndex, 5);
    EXPECT_EQ(startRequested, 1);
    platformShutdown(0);
}

// The window's buttons have underlined letters, and Alt with the letter presses them.
TEST(ConfigWindow, EveryButtonHasAnUnderlinedLetterThatAltPresses) {
    start(headlessAllModes());
    runConfigWindow();
    for (const char* text : {"&Audio Config", "Use &MMX", "&GO!"}) {
        bool found = false;
        for (WindowHandle child : windowRecord(configWindow)->children)
            found = found || windowRecord(child)->text == text;
        EXPECT_TRUE(found) << text;
    }
    platformShutdown(0);
    static std::vector<std::string> captions;
    captions.clear();
    start(headlessAllModes(), {"key:alt+a", "key:escape", "key:alt+m", "key:alt+g"}, [](WindowHandle active) {
        captions.push_back(windowRecord(active)->text);
        return 0;
    });
    runConfigWindow();
    ASSERT_GE(captions.size(), 2u);
    EXPECT_EQ(captions[1], "VIREZ Digital Audio System v1.1.2 Setup"); // Alt+A opened it, Escape closed it
    EXPECT_EQ(useMmx, 1);                                             // Alt+M ticked "Use MMX"
    EXPECT_EQ(startRequested, 1);                                     // Alt+G pressed "GO!"
    platformShutdown(0);
}

// The sound setup confirmed at one start is what the sound setup dialog shows at the next.
TEST(ConfigWindow, TheNextStartShowsTheSoundSetupConfirmedBefore) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("morva-config-kept-" + std::to_string(getpid()));
    std::filesystem::remove_all(folder);
    const auto startIn = [&](std::vector<std::string> script, std::function<int(WindowHandle)> user) {
        HeadlessOptions options;
        options.modes = headlessAllModes();
        options.script = std::move(script);
        options.user = std::move(user);
        options.settingsFolder = folder.string();
        headlessConfigure(options, HeadlessRecorder{});
        platformInit(headlessBackend());
        demoSettings = defaultSettings();
        startRequested = 0;
        sound_startup();
        restoreSoundSetup();
        runConfigWindow();
        platformShutdown(0);
    };
    startIn({"Audio Config", "Very Low (smallest CPU usage)", "Stereo=0", "Buffer Length:=200", "S&ound Card:=No Sound",
             "OK", "GO!"},
            {});
    EXPECT_EQ(soundSetupFile(), (folder / "sound-setup.bin").string());
    ASSERT_TRUE(std::filesystem::exists(folder / "sound-setup.bin"));
    // The next start: the library from its defaults, then the kept setup, then a look at the dialog.
    static std::vector<int> checked;
    static std::string card, buffer;
    checked.clear();
    startIn({"Audio Config", "Cancel", "GO!"}, [](WindowHandle active) {
        if (windowRecord(active)->text.find("VIREZ") == std::string::npos) return 0;
        for (WindowHandle child : windowRecord(active)->children)
            if (controlGetCheck(child)) checked.push_back(controlGetId(child));
        char text[64];
        getWindowText(dialogItem(active, idSoundCard), text, sizeof text);
        card = text;
        getWindowText(dialogItem(active, idBufferLength), text, sizeof text);
        buffer = text;
        return 0;
    });
    EXPECT_EQ(checked, std::vector<int>{idPresetVeryLow}); // and not "Stereo"
    EXPECT_EQ(card, "No Sound");
    EXPECT_EQ(buffer, "200");
    EXPECT_EQ(soundOptions[optMixingRate], 22050);
    EXPECT_EQ(chosen_device_number, 2);
    sound_startup();
    std::filesystem::remove_all(folder);
}

TEST(ConfigWindowDeathTest, ClosingItEndsTheProcessWithCodeZeroBeforeOrAfterGo) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            start(headlessAllModes(), {}, [](WindowHandle active) {
                postMessage(active, msgClose, 0, 0);
                return 1;
            });
            runConfigWindow();
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(
        {
            start(headlessAllModes());
            runConfigWindow();
            configWindowProc(configWindow, {configWindow, msgClose, 0, 0});
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(LogLine, TheWindowsOwnLinesComeFirstThenOneEntryPerCallWithoutLineFeeds) {
    start(headlessAllModes());
    runConfigWindow();
    ASSERT_EQ(logged.size(), 3u);
    EXPECT_NE(logged[0].find("ZYN DemoSystem v1.0 (W32)"), std::string::npos);
    EXPECT_NE(logged[0].find("2000"), std::string::npos);
    EXPECT_NE(logged[1].find("1.1.2"), std::string::npos);
    EXPECT_EQ(logged[2], "");
    logged.clear();
    logLine("ok\n");
    logLine("");
    logLine("a\nb");
    logFormat("Opening file library (%s)...", "morva.flb");
    const std::vector<std::string> expected = {"ok", "", "ab", "Opening file library (morva.flb)..."};
    EXPECT_EQ(logged, expected);
    logLine(std::string(600, 'x').c_str());
    EXPECT_EQ(logged.back().size(), 255u);
    platformShutdown(0);
}
