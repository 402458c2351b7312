// The mode list: which display modes are offered, the preselection, and the chosen entry's effect.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "demo/demo.h"
#include "platform/headless.h"

namespace {

std::vector<std::string> logged;

void start(std::vector<DisplayMode> modes, std::string pick = "") {
    HeadlessOptions options;
    options.modes = std::move(modes);
    options.pick = std::move(pick);
    HeadlessRecorder recorder{};
    recorder.event = [](void*, std::int64_t, const char* kind, const char* detail) {
        if (std::string(kind) == "log") logged.push_back(detail);
    };
    logged.clear();
    headlessConfigure(options, recorder);
    platformInit(headlessBackend());
    demoSettings = defaultSettings();
    setBufferFormat(0);
}

std::vector<std::string> listed(std::uint8_t bufferType) {
    setBufferFormat(bufferType);
    WindowDesc desc{"ZYNDEMOCFG", "", windowDialog, 0, 0, 600, 314, nullptr};
    const WindowHandle combo = createControl(createWindow(desc), controlComboBox, nullptr, 0, 0, 1, 1);
    fillModeList(combo);
    std::vector<std::string> texts;
    for (int i = 0; i < controlCount(combo); ++i) {
        char text[64];
        controlGetText(combo, i, text, sizeof text);
        texts.push_back(text);
    }
    return texts;
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
    EXPECT_EQ(applyModeText(&plain, "800x600x16"), 0);
    EXPECT_EQ(plain.modeIndex, 14);
}

TEST(ConfigStage, GoWithoutTouchingTheListStartsIn320x240) {
    start(headlessAllModes());
    runConfigStage();
    EXPECT_EQ(startRequested, 1);
    EXPECT_EQ(demoSettings.modeIndex, 5);
    EXPECT_EQ(demoSettings.interlaced, 0);
    platformShutdown(0);
}

TEST(ConfigStage, WithoutThe320x240ModeTheFirstSortedEntryIsTaken) {
    start({{640, 480, 16}, {512, 384, 16}, {320, 240, 32}});
    runConfigStage();
    EXPECT_EQ(demoSettings.modeIndex, 8);
    platformShutdown(0);
}

TEST(ConfigStage, EmptyListKeepsTheDefaultIndex) {
    start({{320, 240, 24}});
    runConfigStage();
    EXPECT_EQ(demoSettings.modeIndex, 5);
    platformShutdown(0);
}

TEST(ConfigStage, PickedInterlacedEntryIsTaken) {
    start(headlessAllModes(), "640x400x16 interlaced");
    runConfigStage();
    EXPECT_EQ(demoSettings.modeIndex, 11);
    EXPECT_EQ(demoSettings.interlaced, 1);
    platformShutdown(0);
}

TEST(LogLine, EveryCallIsOneEntryWithoutLineFeeds) {
    start(headlessAllModes());
    runConfigStage();
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
