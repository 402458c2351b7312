// Frame timing on the virtual clock: pacing, skipping when late, catching up after a pause.
#include <gtest/gtest.h>

#include <vector>

#include "demo/demo.h"
#include "platform/headless.h"

namespace {

void startClock(std::int64_t startTicks = 0) {
    HeadlessOptions options;
    options.modes = headlessAllModes();
    options.startTicks = startTicks;
    headlessConfigure(options, HeadlessRecorder{});
    platformInit(headlessBackend());
    escapePressed = 0;
    setFrameRate(30);
}

} // namespace

TEST(FrameTiming, FrameLengthOfThirtyPerSecondIsThirtyThreeMilliseconds) {
    startClock();
    EXPECT_EQ(frameTimer.frameMs, 33u);
    platformShutdown(0);
}

TEST(FrameTiming, DrawnFrameWaitsOutItsThirtyThreeMilliseconds) {
    startClock();
    std::int64_t last = frameTimer.frameStartMs;
    for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(framePump(), 1);
        EXPECT_EQ(frameTimer.nowMs - last, 33) << "frame " << i;
        last = frameTimer.nowMs;
    }
    platformShutdown(0);
}

TEST(FrameTiming, FiftyMillisecondsOfDrawingDrawsEverySecondStep) {
    startClock();
    std::vector<int> drawn;
    for (int step = 0; step < 20; ++step) {
        const int draw = framePump();
        drawn.push_back(draw);
        if (draw) headlessAdvanceMs(50); // drawing takes 50 ms
    }
    // After the first frame: skip, draw, skip, draw, ...
    for (int step = 1; step < 20; ++step)
        EXPECT_EQ(drawn[step], step % 2 == 0 ? 1 : 0) << "step " << step;
    platformShutdown(0);
}

TEST(FrameTiming, DrawnFrameAfterASkipIsHeldUntilTheAverageIsOneFrame) {
    startClock();
    ASSERT_EQ(framePump(), 1);
    const std::int64_t start = frameTimer.frameStartMs;
    headlessAdvanceMs(50);
    ASSERT_EQ(framePump(), 0);
    ASSERT_EQ(framePump(), 1);
    EXPECT_EQ(frameTimer.frameStartMs - start, 66);
    platformShutdown(0);
}

TEST(FrameTiming, PauseOfSecondsCatchesUpWithoutDrawing) {
    startClock();
    ASSERT_EQ(framePump(), 1);
    headlessAdvanceMs(5000);
    int skipped = 0;
    while (framePump() == 0) {
        ++skipped;
        ASSERT_LT(skipped, 1000);
    }
    // Skipping goes on while 5,000 / skipped (integer division) is above 33, that is for 147 steps.
    EXPECT_GE(skipped, 146);
    EXPECT_LE(skipped, 148);
    EXPECT_EQ(framePump(), 1); // then back to drawing every step
    platformShutdown(0);
}

TEST(FrameTiming, ClockKeepsAdvancingPastTwoToTheThirtyFirstMilliseconds) {
    const std::int64_t ticksPerMs = 10'000; // the headless counter runs at 10 MHz
    startClock((2147483648LL - 200) * ticksPerMs);
    std::int64_t last = frameTimer.nowMs;
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(framePump(), 1);
        EXPECT_EQ(frameTimer.nowMs - last, 33) << "frame " << i;
        last = frameTimer.nowMs;
    }
    EXPECT_GT(frameTimer.nowMs, 2147483648LL);
    platformShutdown(0);
}

TEST(FrameTiming, WaitMsBusyWaitsTheWholeTimeAndReturnsIt) {
    startClock();
    const std::int64_t before = headlessNowUs();
    EXPECT_EQ(waitMs(3000), 3000);
    const std::int64_t waited = headlessNowUs() - before;
    EXPECT_GE(waited, 2'999'000); // whole milliseconds at both ends
    EXPECT_LT(waited, 3'001'000);
    platformShutdown(0);
}

TEST(FrameTiming, ResetFrameTimerStartsTheFrameFromNow) {
    startClock();
    headlessAdvanceMs(1000);
    resetFrameTimer();
    EXPECT_EQ(frameTimer.skippedFrames, 0u);
    EXPECT_EQ(framePump(), 1); // on time again, no catching up
    platformShutdown(0);
}

TEST(FrameTiming, PumpHandlesOneMessagePerStep) {
    startClock();
    static int handled = 0;
    handled = 0;
    WindowDesc desc{"T", "", windowPopup, 0, 0, 1, 1, [](WindowHandle, const Message&) -> std::intptr_t {
                        ++handled;
                        return 0;
                    }};
    const WindowHandle window = createWindow(desc);
    postMessage(window, msgCommand, 0, 0);
    postMessage(window, msgCommand, 0, 0);
    framePump();
    EXPECT_EQ(handled, 1);
    framePump();
    EXPECT_EQ(handled, 2);
    platformShutdown(0);
}
