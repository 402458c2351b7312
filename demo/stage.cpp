// The stage the parts of the show run on (effects/stage.h): the framework's frame buffers,
// archive, frame pump, presenter, frame timer and music, filled into the table the parts take.
#include "demo/demo.h"

namespace {

// The screen is the surface whose address the display set-up recorded.
void presentOnScreen(const std::uint16_t* frame) {
    presentFrame(surfaceMemory, frame);
}

} // namespace

Stage showStage() {
    return Stage{
        .frameBuffer0 = frameBuffer0,
        .frameBuffer1 = frameBuffer1,
        .load = loadArchiveItem,
        .framePump = framePump,
        .presentFrame = presentOnScreen,
        .waitMs = waitMs,
        .setFrameRate = setFrameRate,
        .startMusic = startMusic,
        .readPlayStatus = readPlayStatus,
    };
}
