// The show window's procedure: Escape marks the show for ending, closing ends the process at once.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "demo/demo.h"
#include "platform/headless.h"

namespace {

WindowHandle openShowWindow() {
    HeadlessOptions options;
    options.modes = headlessAllModes();
    HeadlessRecorder recorder{};
    // Message boxes go to standard error, where the death test can see them.
    recorder.event = [](void*, std::int64_t, const char* kind, const char* detail) {
        if (std::string(kind) == "messagebox") std::fprintf(stderr, "%s\n", detail);
    };
    headlessConfigure(options, recorder);
    platformInit(headlessBackend());
    escapePressed = 0;
    WindowDesc desc{"DEMOWINDOW", "", windowPopup, 0, 0, 640, 480, showWindowProc};
    return createWindow(desc);
}

} // namespace

TEST(ShowWindow, OnlyEscapeMarksTheShowAndEveryKeyIsSwallowed) {
    const WindowHandle window = openShowWindow();
    EXPECT_EQ(showWindowProc(window, {window, msgKeyDown, 'A', 0}), 0);
    EXPECT_EQ(escapePressed, 0);
    EXPECT_EQ(showWindowProc(window, {window, msgKeyDown, keyEscape, 0}), 0);
    EXPECT_EQ(escapePressed, 1);
    escapePressed = 0;
    platformShutdown(0);
}

TEST(ShowWindowDeathTest, ClosingItEndsTheProcessWithCodeZeroAndNoMessage) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const WindowHandle window = openShowWindow();
            showWindowProc(window, {window, msgClose, 0, 0});
        },
        ::testing::ExitedWithCode(0), "^$");
}
