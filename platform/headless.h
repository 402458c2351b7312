// The headless back end: no display, no sound card. It offers a configurable list of modes and
// pixel format, keeps the surface in memory, runs on the virtual clock (platform/clock.h) so that
// runs repeat byte for byte, and reports everything shown and played to a recorder
// (morva-capture writes it to files; tests look at it directly).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/host.h"

enum HeadlessAudio : int {
    headlessAudioOk = 0,   // one working wave output, recorded
    headlessAudioNone = 1, // no wave output at all
    headlessAudioBusy = 2, // one wave output that is present but cannot be opened
    // One wave output outside time, for rendering offline as fast as the processor allows: every
    // block is done the moment it is written and goes to the recorder's audio callback at once,
    // in the order written, with startFrame counting the frames written before it. There is no
    // looping sound buffer in this form. platform/wavesink.h writes the blocks to a WAVE file.
    headlessAudioSink = 3,
};

struct HeadlessOptions {
    std::vector<DisplayMode> modes; // offered, in this order
    int format555 = 0;              // 16-bit surfaces in 5-5-5 instead of 5-6-5
    std::int32_t pitch = 0;         // bytes per surface line; 0: the row size (at least the row size)
    DisplayMode refused{0, 0, 0};   // listed but refused by displaySetMode (bits 0: none)
    int audio = headlessAudioOk;
    std::vector<WaveFormat> waveFormats; // the only formats the sound output plays; empty: any valid one
    std::int64_t escapeAtMs = -1; // Escape pressed at this virtual time (-1: never)
    // A bound on the run: the first time the main thread reads the clock at or after stopAtMs
    // (-1: never), the run ends there. A "stopped" event says why (whether the music was still
    // advancing or had stood still, and since when), the recording is finished as at any end, and
    // the process ends with stopExitCode.
    std::int64_t stopAtMs = -1;
    int stopExitCode = 0;
    // The user: whenever the program waits for input in a window with controls, `user` (when set)
    // may act and return 1; otherwise the next action of `script` is done. With nothing left to do
    // a dialog gets Escape and any other window Enter (its default button), as a user who takes
    // the defaults would; a window that still waits after that is closed. Actions:
    //   NAME            click the control named NAME (its text without '&', any case; a label
    //                   names the control after it; "#ID" names one by id), or, when no control
    //                   has that name, pick the entry NAME from a drop-down list of the window
    //   NAME=VALUE      set it: 0 or 1 for a check box or radio button, typed text for an edit or
    //                   a combo box's edit field, the entry VALUE of a drop-down list
    //   select=TEXT     pick the entry TEXT from the window's first drop-down list
    //   key:KEY         press tab, shift+tab, enter, escape, space, up, down, left, right or alt+X
    // An action that finds nothing to act on is reported on standard error and skipped.
    std::vector<std::string> script;
    std::function<int(WindowHandle active)> user;
    std::string settingsFolder; // where settings files go; empty: kept in memory for the run
    int realtime = 0;             // the real clock instead of the virtual one
    std::int64_t startTicks = 0;  // virtual clock at program start (tests of long running counters)
};

// What the back end reports. Every callback may be null. Times are since program start.
struct HeadlessRecorder {
    void* context;
    // One line of the event log: kind and detail as events.tsv has them.
    void (*event)(void* context, std::int64_t timeMs, const char* kind, const char* detail);
    // A mode was set; the recorder adds what only the program knows (interlacing).
    void (*mode)(void* context, std::int64_t timeMs, const SurfaceInfo& surface, int format555);
    // The surface as it is after a presenting unlock.
    void (*present)(void* context, std::int64_t timeUs, const SurfaceInfo& surface);
    // Sound that starts playing at startFrame frames (at format.rate) after program start.
    void (*audio)(void* context, std::int64_t startFrame, const WaveFormat& format, const std::uint8_t* data,
                  std::uint32_t bytes);
    // Sound from frame on (at rate) was cut off by a reset before it was played.
    void (*audioCut)(void* context, std::int64_t frame, std::uint32_t rate);
    // The run ended with exitCode.
    void (*finish)(void* context, std::int64_t timeUs, int exitCode);
};

// Sets the options and the recorder for the next platformInit(headlessBackend()).
void headlessConfigure(const HeadlessOptions& options, const HeadlessRecorder& recorder);

// The headless back end.
const HostBackend* headlessBackend();

// The fifteen modes 320x200, 320x240, 512x384, 640x400, 640x480 at 16, 24 and 32 bits.
std::vector<DisplayMode> headlessAllModes();

// Parses "WxHxB". Returns 1 on success.
int parseModeText(const char* text, DisplayMode* mode);

// Microseconds since program start on the back end's clock.
std::int64_t headlessNowUs();

// Moves the virtual clock forward by ms milliseconds (as if the main thread had been busy).
void headlessAdvanceMs(std::uint32_t ms);

// The primary surface as it stands (memory null when there is none).
SurfaceInfo headlessSurface();

// Number of presenting unlocks so far.
std::int64_t headlessPresentCount();
