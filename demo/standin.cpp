// Stand-ins that keep the run sequence whole until the parts of the show and the colour toolkit
// land. They draw nothing of the show (the screen stays black), but they follow the music exactly
// as the parts will: the same waits, the same song starts and the same order positions.
#include "demo/demo.h"
#include "sound/soundapi.h"

namespace {

constexpr std::int32_t warningMs = 3000;    // the warning picture before the music starts
constexpr std::int32_t changeOfMusicAt = 5; // order position of the first song that ends the opening
constexpr std::int32_t endOfShowAt = 14;    // order position of the second song that ends the show

// One pass of a part's loop: pace, present when told to, then read where the music is.
void pass() {
    if (framePump()) presentFrame(surfaceMemory, frameBuffer0);
    readPlayStatus();
}

} // namespace

void runOpeningStandIn() {
    presentFrame(surfaceMemory, frameBuffer0);
    waitMs(warningMs);
    song = sound_play_module(music, demoSettings.musicLoop);
    readPlayStatus();
    while (playStatus.position < changeOfMusicAt)
        pass();
}

void runSecondSongStandIn() {
    song = sound_play_module(music, demoSettings.musicLoop);
    readPlayStatus();
    setFrameRate(30);
    while (playStatus.position < endOfShowAt)
        pass();
}

void fadeFrameStandIn(std::uint16_t* frame, std::int32_t level) {
    for (std::size_t i = 0; i < framePixels; ++i) {
        const std::uint32_t p = frame[i];
        const std::uint32_t r = ((p >> 11) & 0x1F) * static_cast<std::uint32_t>(level) / 32;
        const std::uint32_t g = ((p >> 5) & 0x3F) * static_cast<std::uint32_t>(level) / 32;
        const std::uint32_t b = (p & 0x1F) * static_cast<std::uint32_t>(level) / 32;
        frame[i] = static_cast<std::uint16_t>((r << 11) | (g << 5) | b);
    }
}
