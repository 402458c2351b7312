// The calls from the web back end into its page (platform/web/webhost-lib.js, which hands them
// to the page side in webhost-pre.js), and the record of what the user did that the page hands
// back. Used by platform/web/ only.
#pragma once

#include <cstdint>

// What the user did in the page, as the pump takes it.
enum WebEventKind : std::int32_t {
    webEventClick = 1,  // handle: a control was clicked
    webEventType = 2,   // handle, text: an edit field's text is now text
    webEventChoose = 3, // handle, value: entry value picked from a drop-down list
    webEventKey = 4,    // key (virtual key code), modifiers: a key went down
    webEventClose = 5,  // handle: a window's close box
    webEventFocus = 6,  // handle: a control took the keyboard
};

struct WebEvent {
    std::int32_t kind;
    std::int32_t handle;
    std::int32_t value;
    std::int32_t key;
    std::int32_t modifiers;
    std::int32_t unused;
    char text[256];
};

extern "C" {

// Gives the page control: for ms milliseconds (0: one turn of its event loop; below 0: until
// input), ending early on input when wakeOnInput is set. Returns when the program may go on.
void morvaWebWait(double ms, int wakeOnInput);

// Takes the next thing the user did into *event. Returns 1, or 0 when there is nothing.
int morvaWebTakeEvent(WebEvent* event);

// A window with controls as JSON (webui.cpp), shown or updated; and one that is gone.
void morvaWebWindowSync(const char* json);
void morvaWebWindowRemove(std::int32_t handle);

// The show's stage: shown (black) when the show window is, the canvas sized to the mode, the
// frame (RGBA, width x height) shown with the time it was presented, hidden at the end.
void morvaWebStageShow();
void morvaWebStageMode(std::int32_t width, std::int32_t height);
void morvaWebStagePresent(const std::uint8_t* rgba, std::int32_t width, std::int32_t height, double timeUs);
void morvaWebStageHide();
void morvaWebCursor(std::int32_t show);

// A modal message box with an OK button; returns once it is dismissed.
void morvaWebMessageBox(const char* text, const char* caption);

// Size of the page's window in pixels.
std::int32_t morvaWebScreenWidth();
std::int32_t morvaWebScreenHeight();

// The program has ended with exitCode at timeUs.
void morvaWebFinished(std::int32_t exitCode, double timeUs);

// Sound through Web Audio. 1 when the page can play sound at all.
std::int32_t morvaWebAudioAvailable();
// Opens the output for the format: a WaveResult.
std::int32_t morvaWebAudioOpen(std::int32_t rate, std::int32_t channels, std::int32_t bits);
// Queues frames behind those written before.
void morvaWebAudioWrite(const std::uint8_t* data, std::int32_t bytes);
// Frames played since the output was opened (counting those a reset dropped).
double morvaWebAudioPlayed();
// Drops what has not been played; everything written counts as played.
void morvaWebAudioReset();
void morvaWebAudioClose();

// Off line (the virtual clock): sound that plays from startFrame on, and a cut at frame (a reset
// dropped what came after), for the page to keep.
void morvaWebAudioCapture(double startFrame, std::int32_t rate, std::int32_t channels, std::int32_t bits,
                          const std::uint8_t* data, std::int32_t bytes);
void morvaWebAudioCut(double frame, std::int32_t rate);

// The page's options (Module.morva): 1 for the virtual clock.
std::int32_t morvaWebOptionVirtualClock();
}
