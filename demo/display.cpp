// Display set-up: the size tables, the display object, the show window and the full-screen mode
// with its primary surface and frame buffers.
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include "demo/demo.h"

std::int32_t bufferWidth = 0, bufferHeight = 0, bufferBits = 0;
std::int32_t displayWidth = 0, displayHeight = 0, displayBits = 0;
SurfaceInfo surfaceDesc{};
std::uint8_t* surfaceMemory = nullptr;
std::uint8_t* bufferBlock = nullptr;
std::uint16_t* frameBuffer0 = nullptr;
std::uint16_t* frameBuffer1 = nullptr;
std::uint16_t* frameBuffer2 = nullptr;
std::uint16_t* conversionBuffer = nullptr;

namespace {

struct Size {
    std::int32_t width, height, bits;
};

constexpr Size bufferFormats[] = {{320, 200, 16}, {320, 200, 32}, {512, 384, 16}, {512, 384, 32}};

// Indexed by modeIndex - 2.
constexpr Size videoModes[] = {
    {320, 200, 16}, {320, 200, 24}, {320, 200, 32}, {320, 240, 16}, {320, 240, 24},
    {320, 240, 32}, {512, 384, 16}, {512, 384, 24}, {512, 384, 32}, {640, 400, 16},
    {640, 400, 24}, {640, 400, 32}, {640, 480, 16}, {640, 480, 24}, {640, 480, 32},
};

[[noreturn]] void fail(const char* text) {
    messageBox(0, text, nullptr);
    exitProcess(1);
}

// The message box, after a line on standard error that says what the display was asked for
// and what it answered.
[[noreturn]] void failDisplay(const char* text, const std::string& what) {
    const char* host = displayError();
    reportCause("%s%s%s", what.c_str(), *host ? ": " : "", host);
    fail(text);
}

// The chosen mode as the configuration window lists it.
std::string chosenMode() {
    char text[64];
    modeEntryText(text, sizeof text, displayWidth, displayHeight, displayBits, demoSettings.interlaced);
    return text;
}

} // namespace

void setBufferFormat(std::uint8_t bufferType) {
    if (bufferType >= std::size(bufferFormats)) return;
    bufferWidth = bufferFormats[bufferType].width;
    bufferHeight = bufferFormats[bufferType].height;
    bufferBits = bufferFormats[bufferType].bits;
}

void setVideoMode(std::uint8_t modeIndex) {
    if (modeIndex < 2 || modeIndex > 16) return;
    displayWidth = videoModes[modeIndex - 2].width;
    displayHeight = videoModes[modeIndex - 2].height;
    displayBits = videoModes[modeIndex - 2].bits;
}

void createDirectDraw() {
    const int result = displayCreate();
    if (result == displayNoScreen) {
        // Nobody would see the show: say so, and leave the choice (morva-capture) to the caller.
        reportCause("no screen to show on: %s; morva-capture records the show without one", displayError());
        exitProcess(exitNoDisplay);
    }
    if (result != displayOk) failDisplay("DirectDraw Error!", "the display cannot be opened");
}

std::intptr_t showWindowProc(WindowHandle window, const Message& message) {
    switch (message.kind) {
    case msgClose: exitProcess(0);
    case msgKeyDown:
        if (message.wParam == keyEscape) escapePressed = 1;
        return 0;
    default: return defWindowProc(window, message);
    }
}

void setupDisplay() {
    // 1. The user's choice.
    setVideoMode(demoSettings.modeIndex);
    // 2-3. The show window over the whole screen.
    WindowDesc desc{};
    desc.className = "DEMOWINDOW";
    desc.title = "";
    desc.style = windowPopup;
    desc.x = 0;
    desc.y = 0;
    desc.width = screenWidth();
    desc.height = screenHeight();
    desc.proc = showWindowProc;
    demoWindow = createWindow(desc);
    showWindow(demoWindow);
    // 4-5. Exclusive full screen in the mode.
    if (displaySetExclusive(demoWindow) != displayOk)
        failDisplay("DirectDraw Error!", "the display cannot be taken for the show window");
    if (displaySetMode(displayWidth, displayHeight, displayBits) != displayOk)
        failDisplay("Mode unsupported!", "the display refused the video mode " + chosenMode());
    // 6.
    showCursor(0);
    // 7. The primary surface.
    if (displayCreatePrimary() != displayOk)
        failDisplay("DirectDraw Error!", "the display cannot make a surface for the video mode " + chosenMode());
    // 8. Its address, from one lock.
    displayLock(&surfaceDesc, lockWait);
    surfaceMemory = surfaceDesc.memory;
    displayUnlock();
    // 9. Four zeroed buffers in one block: frameBuffer1 follows frameBuffer0 directly.
    const std::size_t bufferBytes =
        static_cast<std::size_t>(bufferWidth) * bufferHeight * ((bufferBits - 1) / 8 + 1);
    bufferBlock = static_cast<std::uint8_t*>(std::calloc(4, bufferBytes));
    if (!bufferBlock) {
        reportCause("no memory for the four frame buffers (%zu bytes)", 4 * bufferBytes);
        fail("Out of memory!");
    }
    frameBuffer0 = reinterpret_cast<std::uint16_t*>(bufferBlock);
    frameBuffer1 = reinterpret_cast<std::uint16_t*>(bufferBlock + bufferBytes);
    frameBuffer2 = reinterpret_cast<std::uint16_t*>(bufferBlock + 2 * bufferBytes);
    conversionBuffer = reinterpret_cast<std::uint16_t*>(bufferBlock + 3 * bufferBytes);
    // 10.
    preparePresentation();
}

void freeBuffers() {
    std::free(bufferBlock);
    bufferBlock = nullptr;
    frameBuffer0 = frameBuffer1 = frameBuffer2 = conversionBuffer = nullptr;
}
