// The back-end table behind platform.h. A back end fills one HostBackend; the shared code in
// platform/ (message queue, windows, controls, locks, settings) calls it for everything that
// depends on the host. Two exist: sdlBackend() (platform/sdlhost.cpp) and headlessBackend()
// (platform/headless.cpp).
#pragma once

#include "platform/platform.h"

struct HostBackend {
    const char* name; // "sdl" or "headless"

    // Start and end
    void (*init)();                 // called by platformInit
    void (*shutdown)(int exitCode); // desktop back, recordings finished; called once

    // Windows and input
    void (*windowCreated)(WindowHandle window, const WindowDesc& desc); // a top-level window exists
    void (*windowShown)(WindowHandle window);                           // it became visible
    void (*pumpEvents)(int wait); // turn host events into posted messages; wait: block for one
    void (*listAdded)(WindowHandle control, const char* text); // a text entered a list box
    void (*messageBox)(WindowHandle owner, const char* text, const char* caption); // modal, OK only
    void (*showCursor)(int show);                                                  // pointer over the show
    std::int32_t (*screenWidth)();                                                 // desktop size
    std::int32_t (*screenHeight)();
    int (*pickEntry)(const char* const* texts, int count, int selected); // the user's choice
    void (*traceStatus)(std::int32_t order, std::int32_t row);           // play status the show read

    // Clock and threads
    std::int64_t (*counterFrequency)();                     // ticks per second
    std::int64_t (*counterRead)();                          // ticks since start, monotonic
    void (*sleepMs)(std::uint32_t ms);                      // give up the processor
    ThreadHandle* (*threadStart)(void (*fn)(void*), void*); // null on failure
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

// Depth of criticalEnter calls the calling thread holds (the virtual clock hands over to other
// threads only when the main thread holds no lock).
int criticalDepthOfThisThread();

// The icon given to setProgramIcon, for the back ends' windows (pixels null when none was given).
struct ProgramIcon {
    const std::uint32_t* argb;
    int size;
};
ProgramIcon programIcon();
