// A dialog on the SDL2 back end under a real display (xvfb-run in the tests): it must be drawn in
// the button-face grey with a white edit field where the template puts it, take typing into the
// field (digits only), a mouse click on its check box, and Enter for its default button. Events
// are fed through SDL's queue, the pointer is moved with SDL. Exit code 0 when all of it works.
// The program does not link SDL: it calls the SDL the back end loaded, found once the display is
// open.
#include <SDL.h>
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/host.h"

namespace {

constexpr int idLength = 11;
constexpr int idStereo = 12;

constexpr DialogItem items[] = {
    {10, controlLabel, styleRight, 4, 8, 40, 8, "&Length:"},
    {idLength, controlEdit, styleNumber | styleBorder | styleTabStop, 48, 6, 30, 12, nullptr},
    {idStereo, controlCheckBox, styleTabStop, 4, 24, 60, 10, "&Stereo"},
    {idOk, controlButton, styleDefault | styleTabStop, 100, 4, 50, 14, "OK"},
    {idCancel, controlButton, styleTabStop, 100, 22, 50, 14, "Cancel"},
};
constexpr DialogTemplate dialog{"Dialog check", 160, 50, items};

constexpr std::uint32_t msgStep = msgPrivate + 1;

int step = 0;
int waited = 0;
int failures = 0;
int stereoHeard = 0;

void fail(const char* what) {
    std::fprintf(stderr, "sdl_dialog_check: %s\n", what);
    ++failures;
}

// The SDL functions the check calls, from the library the back end loaded.
struct SdlCalls {
    decltype(&SDL_PushEvent) pushEvent = nullptr;
    decltype(&SDL_GetScancodeFromKey) scancodeFromKey = nullptr;
    decltype(&SDL_GetWindowFromID) windowFromId = nullptr;
    decltype(&SDL_GetWindowFlags) windowFlags = nullptr;
    decltype(&SDL_WarpMouseInWindow) warpMouse = nullptr;
};
SdlCalls sdl;

template <class F> bool find(void* library, F& call, const char* name) {
    call = reinterpret_cast<F>(dlsym(library, name));
    return call != nullptr;
}

bool findSdlCalls() {
    void* library = dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_NOLOAD);
    if (!library) return false;
    const bool all = find(library, sdl.pushEvent, "SDL_PushEvent") &&
                     find(library, sdl.scancodeFromKey, "SDL_GetScancodeFromKey") &&
                     find(library, sdl.windowFromId, "SDL_GetWindowFromID") &&
                     find(library, sdl.windowFlags, "SDL_GetWindowFlags") &&
                     find(library, sdl.warpMouse, "SDL_WarpMouseInWindow");
    dlclose(library); // the back end keeps it loaded
    return all;
}

bool near(const std::uint8_t rgb[3], int r, int g, int b) {
    return std::abs(rgb[0] - r) < 12 && std::abs(rgb[1] - g) < 12 && std::abs(rgb[2] - b) < 12;
}

void push(SDL_Event event) {
    if (sdl.pushEvent(&event) != 1) fail("an event could not be queued");
}

void key(Uint32 window, SDL_Keycode code) {
    SDL_Event event{};
    event.type = SDL_KEYDOWN;
    event.key.windowID = window;
    event.key.state = SDL_PRESSED;
    event.key.keysym.sym = code;
    event.key.keysym.scancode = sdl.scancodeFromKey(code);
    push(event);
    event.type = SDL_KEYUP;
    event.key.state = SDL_RELEASED;
    push(event);
}

void typeText(Uint32 window, const char* text) {
    SDL_Event event{};
    event.type = SDL_TEXTINPUT;
    event.text.windowID = window;
    std::snprintf(event.text.text, sizeof event.text.text, "%s", text);
    push(event);
}

void button(Uint32 window, int x, int y, bool down) {
    SDL_Event event{};
    event.type = down ? SDL_MOUSEBUTTONDOWN : SDL_MOUSEBUTTONUP;
    event.button.windowID = window;
    event.button.button = SDL_BUTTON_LEFT;
    event.button.state = down ? SDL_PRESSED : SDL_RELEASED;
    event.button.clicks = 1;
    event.button.x = x;
    event.button.y = y;
    push(event);
}

std::string text(WindowHandle control) {
    char buffer[32];
    getWindowText(control, buffer, sizeof buffer);
    return buffer;
}

// One step of the check per message; a step that waits posts itself again.
void runStep(WindowHandle d) {
    const Uint32 id = sdlWindowId(d);
    SDL_Window* window = sdl.windowFromId(id);
    const auto again = [&](int frames) {
        if (++waited < frames) {
            sleepMs(10);
            return true;
        }
        waited = 0;
        return false;
    };
    switch (step) {
    case 0: // the window on the screen and drawn a few times
        if (!window || !(sdl.windowFlags(window) & SDL_WINDOW_SHOWN) || again(30)) break;
        ++step;
        break;
    case 1: {
        std::uint8_t face[3], field[3];
        if (!sdlReadBackWindow(d, 2, 2, face)) fail("the dialog cannot be read back");
        sdlReadBackWindow(d, dialogUnitsX(48 + 30) - 5, dialogUnitsY(6) + 4, field); // right of the text
        std::printf("face %d,%d,%d field %d,%d,%d\n", face[0], face[1], face[2], field[0], field[1], field[2]);
        if (!near(face, 212, 208, 200)) fail("the dialog is not button-face grey");
        if (!near(field, 255, 255, 255)) fail("the edit field is not white");
        // The edit has the focus (the first tab stop): typing replaces its text, digits only.
        typeText(id, "2");
        typeText(id, "x");
        typeText(id, "5");
        typeText(id, "0");
        ++step;
        break;
    }
    case 2:
        if (again(10)) break;
        if (text(dialogItem(d, idLength)) != "250") fail(("typing gave \"" + text(dialogItem(d, idLength)) + "\"").c_str());
        // The pointer onto the check box, then a click.
        sdl.warpMouse(window, dialogUnitsX(4) + 6, dialogUnitsY(24) + 8);
        ++step;
        break;
    case 3:
        if (again(10)) break;
        button(id, dialogUnitsX(4) + 6, dialogUnitsY(24) + 8, true);
        ++step;
        break;
    case 4:
        if (again(5)) break;
        button(id, dialogUnitsX(4) + 6, dialogUnitsY(24) + 8, false);
        ++step;
        break;
    case 5:
        if (again(10)) break;
        if (!controlGetCheck(dialogItem(d, idStereo)) || !stereoHeard) fail("the click did not reach the check box");
        key(id, SDLK_RETURN); // the default button, wherever the focus is
        ++step;
        break;
    default:
        if (again(200)) break;
        fail("Enter did not end the dialog");
        endDialog(d, -2);
        return;
    }
    postMessage(d, msgStep, 0, 0);
}

std::intptr_t dialogProc(WindowHandle d, const Message& message) {
    switch (message.kind) {
    case msgInitDialog:
        setWindowText(dialogItem(d, idLength), "500");
        postMessage(d, msgStep, 0, 0);
        return 1;
    case msgStep: runStep(d); return 1;
    case msgCommand:
        if (commandId(message) == idStereo) stereoHeard = 1;
        if (commandId(message) == idOk) endDialog(d, 1);
        if (commandId(message) == idCancel) endDialog(d, 0);
        return 1;
    default: return 0;
    }
}

} // namespace

int main() {
    platformInit(sdlBackend());
    if (displayCreate() != displayOk) {
        std::fprintf(stderr, "sdl_dialog_check: no display\n");
        return 1;
    }
    if (!findSdlCalls()) {
        std::fprintf(stderr, "sdl_dialog_check: the display is open but SDL's functions are not there\n");
        return 1;
    }
    const std::intptr_t result = dialogBox(dialog, 0, dialogProc);
    if (result < 0) fail("the dialog could not be made (no OpenGL?)");
    if (result == 0) fail("the dialog was cancelled");
    platformShutdown(0);
    if (failures == 0) std::printf("sdl_dialog_check: drawn, typed, clicked and confirmed\n");
    return failures == 0 ? 0 : 1;
}
