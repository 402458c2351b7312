// Frame timing and input: the millisecond clock on the performance counter, the frame timer, the
// per-frame pump, busy waits and the Escape path.
#include "demo/demo.h"
#include "sound/api/soundapi.h"

FrameTimer frameTimer{};

namespace {

// Milliseconds of a counter value, truncated. Integer arithmetic keeps every millisecond exact
// however long the counter has run.
std::int64_t counterMs(std::int64_t ticks, std::int64_t frequency) {
    if (frequency <= 0) return 0;
    return static_cast<std::int64_t>(static_cast<__int128>(ticks) * 1000 / frequency);
}

// Differences of clock values, in 32-bit unsigned arithmetic as the pacing wants them.
std::uint32_t since(std::int64_t then) {
    return static_cast<std::uint32_t>(frameTimer.nowMs - then);
}

} // namespace

void updateClock() {
    frameTimer.nowMs = counterMs(counterRead(), frameTimer.counterFrequency);
}

void setFrameRate(std::uint8_t framesPerSecond) {
    frameTimer.frameMs = framesPerSecond ? static_cast<std::uint32_t>(1000.0 / framesPerSecond) : 0;
    frameTimer.counterFrequency = counterFrequency();
    frameTimer.msPerTick = 1000.0 / static_cast<double>(frameTimer.counterFrequency);
    updateClock();
    frameTimer.skippedFrames = 0;
    frameTimer.frameStartMs = frameTimer.nowMs;
}

void resetFrameTimer() {
    updateClock();
    frameTimer.skippedFrames = 0;
    frameTimer.frameStartMs = frameTimer.nowMs;
}

int framePump() {
    Message message;
    if (peekMessage(&message)) dispatchMessage(message); // one message per step
    if (escapePressed) abortShow();
    FrameTimer& t = frameTimer;
    updateClock();
    const std::uint32_t elapsed = since(t.frameStartMs);
    if (elapsed <= t.frameMs) {
        while (since(t.frameStartMs) < t.frameMs)
            updateClock();
    } else {
        if (++t.skippedFrames == 0) return 0;
        if (elapsed / t.skippedFrames > t.frameMs) return 0; // late: skip drawing, catch up
        while (since(t.frameStartMs) / t.skippedFrames < t.frameMs)
            updateClock();
    }
    updateClock();
    t.skippedFrames = 0;
    t.frameStartMs = t.nowMs;
    return 1;
}

std::int32_t waitMs(std::int32_t ms) {
    const std::int64_t frequency = counterFrequency();
    const std::int64_t start = counterMs(counterRead(), frequency);
    std::int64_t elapsed = 0;
    do {
        elapsed = counterMs(counterRead(), frequency) - start;
    } while (elapsed < ms);
    return static_cast<std::int32_t>(elapsed);
}

void closeShow() {
    releaseDisplay();
    freeBuffers();
    releaseLibrary();
    sound_stop_background_play();
    sound_free_module(music);
    sound_close();
}

void abortShow() {
    sound_stop_module(song);
    closeShow();
    messageBox(demoWindow, "Demonstration aborted, darn it...", "User interruption");
    exitProcess(0);
}
