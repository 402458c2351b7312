// Stand-ins that keep the run sequence whole until the parts of the show and the colour toolkit
// land. They draw nothing of the show: the screen stays black.
#include "demo/demo.h"

namespace {
// Long enough to see the pacing and to press Escape; the parts of the show replace this.
constexpr std::int32_t standInSteps = 150; // five seconds at 30 steps per second
} // namespace

void runShowStandIn() {
    for (std::int32_t step = 0; step < standInSteps; ++step)
        if (framePump()) presentFrame(surfaceMemory, frameBuffer0);
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
