// The shared platform functions as the SDL module sees them: each calls the program's own through
// the services it was given when it was opened (sdlmodule.h), so that the windows, controls,
// message queue, pictures and error texts the back end works on are the program's, not copies.
// The names and signatures are those of platform.h and host.h, so the back end's code reads as it
// would inside the program.
#include "platform/sdl/sdlmodule.h"
#include "platform/sdl/sdlui.h"

const SdlHostServices* sdlServices = nullptr;

const WindowRecord* windowRecord(WindowHandle handle) {
    return sdlServices->windowRecord(handle);
}

WindowHandle activeWindow() {
    return sdlServices->activeWindow();
}

int postMessage(WindowHandle window, std::uint32_t kind, std::uint32_t wParam, std::intptr_t lParam) {
    return sdlServices->postMessage(window, kind, wParam, lParam);
}

void hostKeyDown(WindowHandle window, std::uint32_t key, std::uint32_t modifiers) {
    sdlServices->hostKeyDown(window, key, modifiers);
}

int controlClick(WindowHandle control) {
    return sdlServices->controlClick(control);
}

int controlType(WindowHandle control, const char* text) {
    return sdlServices->controlType(control, text);
}

int controlChoose(WindowHandle control, int index) {
    return sdlServices->controlChoose(control, index);
}

void setFocus(WindowHandle control) {
    sdlServices->setFocus(control);
}

std::intptr_t dialogBox(const DialogTemplate& dialog, WindowHandle owner, WindowProc proc) {
    return sdlServices->dialogBox(dialog, owner, proc);
}

void endDialog(WindowHandle dialog, std::intptr_t result) {
    sdlServices->endDialog(dialog, result);
}

ProgramIcon programIcon() {
    return sdlServices->programIcon();
}

ProgramBitmap programBitmap(const char* name) {
    return sdlServices->programBitmap(name);
}

void setDisplayError(const char* text) {
    sdlServices->setDisplayError(text);
}

void setWaveError(const char* text) {
    sdlServices->setWaveError(text);
}
