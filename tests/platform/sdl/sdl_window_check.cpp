// Opens the show's display on the SDL2 back end, presents one frame (left half red, right half
// blue) in 320x240x16 and checks what the window shows. Run under a display (xvfb-run in the
// tests). Exit code 0 when the window shows the frame scaled with its aspect kept.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/host.h"

namespace {

int fail(const char* what) {
    std::fprintf(stderr, "sdl_window_check: %s\n", what);
    return 1;
}

bool near(const std::uint8_t rgb[3], int r, int g, int b) {
    return std::abs(rgb[0] - r) < 16 && std::abs(rgb[1] - g) < 16 && std::abs(rgb[2] - b) < 16;
}

} // namespace

int main(int argc, char** argv) {
    const int holdMs = argc > 1 ? std::atoi(argv[1]) : 300; // time to take a screenshot
    platformInit(sdlBackend());
    if (displayCreate() != displayOk) return fail("no display");
    WindowDesc desc{"DEMOWINDOW", "", windowPopup, 0, 0, screenWidth(), screenHeight(), nullptr};
    const WindowHandle window = createWindow(desc);
    showWindow(window);
    if (displaySetExclusive(window) != displayOk) return fail("no exclusive display");
    if (displaySetMode(320, 240, 16) != displayOk) return fail("mode refused");
    if (displayCreatePrimary() != displayOk) return fail("no surface");
    SurfaceInfo info{};
    if (displayLock(&info, lockWait | lockWriteOnly) != displayOk) return fail("lock failed");
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x) {
            const std::uint16_t pixel = x < 160 ? 0xF800 : 0x001F;
            std::memcpy(info.memory + y * info.pitch + x * 2, &pixel, 2);
        }
    displayUnlock();
    const std::int64_t end = counterRead() + counterFrequency() * holdMs / 1000;
    Message message;
    while (counterRead() < end) {
        while (peekMessage(&message))
            dispatchMessage(message);
        sleepMs(10);
    }
    int width = 0, height = 0;
    std::uint8_t left[3], right[3], edge[3];
    if (!sdlReadBackPixel(0, 0, edge, &width, &height)) return fail("cannot read the window back");
    sdlReadBackPixel(width / 4, height / 2, left, &width, &height);
    sdlReadBackPixel(width * 3 / 4, height / 2, right, &width, &height);
    // 4:3 picture in the window: a wider window has black bars left and right, a taller one above.
    const int pictureWidth = width * 3 > height * 4 ? height * 4 / 3 : width;
    const int pictureHeight = width * 3 > height * 4 ? height : width * 3 / 4;
    sdlReadBackPixel(0, 0, edge, &width, &height);
    std::printf("window %dx%d, picture %dx%d, left %d,%d,%d right %d,%d,%d corner %d,%d,%d\n", width, height,
                pictureWidth, pictureHeight, left[0], left[1], left[2], right[0], right[1], right[2], edge[0],
                edge[1], edge[2]);
    if (!near(left, 255, 0, 0)) return fail("left half is not red");
    if (!near(right, 0, 0, 255)) return fail("right half is not blue");
    const bool bars = pictureWidth < width - 2 || pictureHeight < height - 2;
    if (bars && !near(edge, 0, 0, 0)) return fail("the border around the picture is not black");
    if (!bars && !near(edge, 255, 0, 0)) return fail("the picture does not reach the corner");
    displayRestore();
    displayReleasePrimary();
    displayRelease();
    platformShutdown(0);
    return 0;
}
