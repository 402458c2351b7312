// The back-end table behind platform.h. A back end fills one HostBackend, slot by slot by name
// (designated initialisers, so no slot is filled by position); the shared code in platform/
// (message queue, windows, controls, locks, settings) calls it for everything that depends on
// the host. Two exist: sdlBackend() (platform/sdlhost.cpp) and headlessBackend()
// (platform/headless.cpp); the web build adds webBackend() (platform/web/). All keep the
// display's surface in memory (platform/surface.h).
#pragma once

#include <string>
#include <vector>

#include "platform/platform.h"

struct HostBackend {
    const char* name; // "sdl" or "headless"

    // Start and end
    void (*init)();                 // called by platformInit
    void (*shutdown)(int exitCode); // desktop back, recordings finished; called once

    // Windows and input
    int (*windowCreated)(WindowHandle window, const WindowDesc& desc); // a top-level window exists; 0: no host window
    void (*windowDestroyed)(WindowHandle window);                      // it and its controls are gone
    void (*windowShown)(WindowHandle window);            // it became visible, or has the keyboard again
    void (*windowChanged)(WindowHandle window, int now); // draw it again (now: before returning)
    void (*pumpEvents)(int wait); // turn host events into messages and user actions; wait: block for one
    void (*listAdded)(WindowHandle control, const char* text); // a text entered a list box
    void (*messageBox)(WindowHandle owner, const char* text, const char* caption); // modal, OK only
    void (*showCursor)(int show);                                                  // pointer over the show
    std::int32_t (*screenWidth)();                                                 // desktop size
    std::int32_t (*screenHeight)();
    void (*traceStatus)(std::int32_t order, std::int32_t row);           // play status the show read

    // Clock and threads
    std::int64_t (*counterFrequency)();                     // ticks per second
    std::int64_t (*counterRead)();                          // ticks since start, monotonic
    void (*sleepMs)(std::uint32_t ms);                      // give up the processor
    ThreadHandle* (*threadStart)(void (*fn)(void*), void*); // null on failure; both null: no threads
    void (*threadJoin)(ThreadHandle* thread);               // wait for its end, free the handle

    // Display
    int (*displayCreate)();                                                   // displayOk/Failed
    void (*displayEnumModes)(int (*visit)(const DisplayMode&, void*), void*); // offered modes
    int (*displaySetExclusive)(WindowHandle window);                          // full screen, exclusive
    int (*displaySetMode)(std::int32_t width, std::int32_t height, std::int32_t bits);
    int (*displayCreatePrimary)();                              // zeroed surface of the mode
    int (*displayLock)(SurfaceInfo* info, std::uint32_t flags); // whole surface
    void (*displayUnlock)();                                    // show what was written
    int (*displayGetSurfaceInfo)(SurfaceInfo* info);            // pitch and masks
    void (*displayRestore)();                                   // desktop back
    void (*displayReleasePrimary)();
    void (*displayRelease)();

    // Wave output
    int (*waveDeviceCount)();
    int (*waveQuery)(const WaveFormat& format);
    int (*waveOpen)(WaveOutput** output, const WaveFormat& format);
    int (*waveWrite)(WaveOutput* output, WaveBlock* block);
    int (*waveBlockDone)(WaveOutput* output, const WaveBlock* block);
    int (*waveReset)(WaveOutput* output);
    int (*waveClose)(WaveOutput* output);

    // Looping sound buffer
    int (*soundBufferCreate)(SoundBuffer** buffer, const WaveFormat& format, std::uint32_t bytes);
    std::uint8_t* (*soundBufferData)(SoundBuffer* buffer);
    std::uint32_t (*soundBufferSize)(const SoundBuffer* buffer);
    int (*soundBufferPlay)(SoundBuffer* buffer);
    int (*soundBufferStop)(SoundBuffer* buffer);
    std::uint32_t (*soundBufferPlayCursor)(SoundBuffer* buffer);
    void (*soundBufferRelease)(SoundBuffer* buffer);

    // Settings: folder for the settings files, or null to keep them in memory for the run
    const char* (*settingsFolder)();
};

// The SDL2 back end: real window, keyboard and sound.
const HostBackend* sdlBackend();

// Draws the show window again and reads back the colour of one of its pixels (tests). Returns 1
// on success with rgb filled, and the window's drawable size in width and height.
int sdlReadBackPixel(int x, int y, std::uint8_t rgb[3], int* width, int* height);

// Draws a window with controls and reads back the colour of a pixel of its client area (tests).
// Returns 1 on success.
int sdlReadBackWindow(WindowHandle window, int x, int y, std::uint8_t rgb[3]);

// The SDL window id of a window with controls, or 0 (tests that feed it events).
std::uint32_t sdlWindowId(WindowHandle window);

// Keep the host's words about a display or sound-output failure for displayError() and
// waveError() (null or "": none).
void setDisplayError(const char* text);
void setWaveError(const char* text);

// Depth of criticalEnter calls the calling thread holds (the virtual clock hands over to other
// threads only when the main thread holds no lock).
int criticalDepthOfThisThread();

// A window or control as the shared code keeps it (platform/windows.cpp); the back ends draw from it.
struct WindowRecord {
    WindowHandle parent = 0; // 0 for a top-level window
    WindowHandle owner = 0;  // a dialog's owner, disabled while it runs
    WindowProc proc = nullptr;
    std::uint32_t style = 0;       // WindowStyle of a window, ControlStyle of a control
    ControlKind control{};         // 0 for a top-level window
    int id = 0;                    // control id
    std::int32_t x = 0, y = 0;     // controls: in the client area; windows: the outer frame
    std::int32_t width = 0, height = 0;
    std::string className;
    std::string text;                  // caption, control text, or a combo box's edit field
    std::vector<std::string> entries;  // list and combo boxes
    std::vector<WindowHandle> children; // a window's controls in creation (and tab) order
    int selection = -1;
    int checked = 0;
    int enabled = 1;
    int visible = 0;
    int alive = 1;
    int hostReady = 0;   // the back end made a host window for it
    WindowHandle focus = 0; // a window's focused control
    int dialog = 0;         // run by dialogBox
    int dialogEnded = 0;
    std::intptr_t dialogResult = 0;
};

// The record of a live window or control, or null.
const WindowRecord* windowRecord(WindowHandle handle);

// Top-level windows in the order they were last shown (the active one last).
const std::vector<WindowHandle>& topLevelWindows();

// Forgets every window and message (platformInit).
void windowsReset();

// A bitmap given to setProgramBitmap, found by name without regard to case (pixels null: none).
struct ProgramBitmap {
    const std::uint32_t* argb;
    int width, height;
};
ProgramBitmap programBitmap(const char* name);

// The icon given to setProgramIcon, for the back ends' windows (pixels null when none was given).
struct ProgramIcon {
    const std::uint32_t* argb;
    int size;
};
ProgramIcon programIcon();
