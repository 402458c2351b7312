// Stand-in that keeps the run sequence whole until the parts of the show land. It draws nothing
// of the show: the screen stays black.
#include "demo/demo.h"

namespace {
// Long enough to see the pacing and to press Escape; the parts of the show replace this.
constexpr std::int32_t standInSteps = 150; // five seconds at 30 steps per second
} // namespace

void runShowStandIn() {
    for (std::int32_t step = 0; step < standInSteps; ++step)
        if (framePump()) presentFrame(surfaceMemory, frameBuffer0);
}
