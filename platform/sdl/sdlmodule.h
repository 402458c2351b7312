// What the program and the SDL back end's module hand each other. The SDL back end (this folder)
// is built as a module of its own, morva-sdl.so, which alone links SDL2, Dear ImGui and OpenGL;
// a program opens it with dlopen the first time it needs a window or a sound card
// (platform/sdlload.cpp), so that programs which render, capture or test without them never load
// SDL or any display or sound-server library.
//
// The module keeps no copy of the shared platform state (windows, controls, the message queue,
// the program's pictures, the last display and sound errors): it reaches the program's through
// the services below, given once when the module is opened. Neither side includes SDL here.
#pragma once

#include <cstdint>

#include "platform/host.h"

// Bumped whenever a record below changes, so that a module from another build is refused.
inline constexpr std::uint32_t sdlModuleVersion = 1;

// The shared platform functions the back end calls, each the program's own (platform.h, host.h).
struct SdlHostServices {
    std::uint32_t version; // sdlModuleVersion of the program
    const WindowRecord* (*windowRecord)(WindowHandle handle);
    WindowHandle (*activeWindow)();
    int (*postMessage)(WindowHandle window, std::uint32_t kind, std::uint32_t wParam, std::intptr_t lParam);
    void (*hostKeyDown)(WindowHandle window, std::uint32_t key, std::uint32_t modifiers);
    int (*controlClick)(WindowHandle control);
    int (*controlType)(WindowHandle control, const char* text);
    int (*controlChoose)(WindowHandle control, int index);
    void (*setFocus)(WindowHandle control);
    std::intptr_t (*dialogBox)(const DialogTemplate& dialog, WindowHandle owner, WindowProc proc);
    void (*endDialog)(WindowHandle dialog, std::intptr_t result);
    ProgramIcon (*programIcon)();
    ProgramBitmap (*programBitmap)(const char* name);
    void (*setDisplayError)(const char* text);
    void (*setWaveError)(const char* text);
};

// What the module gives back: its back-end table and the read-back helpers of the SDL tests.
// The table's clock, thread and settings-folder slots are empty: the program serves those itself.
struct SdlModule {
    std::uint32_t version; // sdlModuleVersion of the module
    const HostBackend* backend;
    int (*readBackPixel)(int x, int y, std::uint8_t rgb[3], int* width, int* height);
    int (*readBackWindow)(WindowHandle window, int x, int y, std::uint8_t rgb[3]);
    std::uint32_t (*windowId)(WindowHandle window);
};

// The module's one exported function, found by this name: takes the program's services (kept
// for the whole run) and returns the module's record; null when the versions differ.
using SdlModuleEntry = const SdlModule* (*)(const SdlHostServices* services);
inline constexpr const char* sdlModuleEntryName = "morvaSdlModule";

// The module's file name; the program looks for it next to itself, then where the build put it.
inline constexpr const char* sdlModuleFileName = "morva-sdl.so";
