// The host layer: everything the show and the sound library need from the machine, in place of
// the Windows facilities the program was designed around. Plain records and free functions; each
// facility is served by the back end chosen at start (platform/host.h): SDL2 with a real window
// and sound, or headless with a virtual clock and a recording of everything shown and played.
//
// Nothing outside platform/ includes SDL or any other host header.
#pragma once

#include <cstddef>
#include <cstdint>

struct HostBackend;

// ---------------------------------------------------------------------------------------------
// Start and end

// Chooses the back end for the rest of the run; call once, first thing, on the main thread.
void platformInit(const HostBackend* backend);

// The back end in use (null before platformInit).
const HostBackend* platformBackend();

// Shuts the back end down (desktop back, recordings finished) with the program's exit code.
// Safe to call more than once; only the first call counts.
void platformShutdown(int exitCode);

// Ends the process at once with exitCode, after platformShutdown. Other threads are not joined.
[[noreturn]] void exitProcess(int exitCode);

// ---------------------------------------------------------------------------------------------
// Windows, controls and the message queue

using WindowHandle = std::int32_t; // 0 is "no window"

enum MessageKind : std::uint32_t {
    msgNone = 0,
    msgClose,   // the user asked to close the window
    msgKeyDown, // wParam: virtual key code (keyEscape for Escape)
    msgCommand, // a control notification: wParam notification code, lParam the control's handle
    msgQuit,    // the queue's quit message
};

constexpr std::uint32_t keyEscape = 0x1B;
constexpr std::uint32_t notifyClicked = 0; // button clicked

struct Message {
    WindowHandle window;
    std::uint32_t kind;
    std::uint32_t wParam;
    std::intptr_t lParam;
};

using WindowProc = std::intptr_t (*)(WindowHandle window, const Message& message);

enum WindowStyle : std::uint32_t {
    windowPopup = 1,  // borderless, screen-sized: the show window
    windowDialog = 2, // a fixed-size captioned window: the configuration window
};

struct WindowDesc {
    const char* className; // kept for tracing; windows of one class share a procedure
    const char* title;
    std::uint32_t style; // WindowStyle
    std::int32_t x, y, width, height;
    WindowProc proc;
};

enum ControlKind : std::uint32_t {
    controlButton = 1, // push button; sends msgCommand/notifyClicked to its parent
    controlCheckBox,   // push-like check box; toggles, then notifies like a button
    controlGroupBox,   // frame only
    controlComboBox,   // sorted drop-down list of texts
    controlListBox,    // list of texts, no selection
    controlPicture,    // static picture
};

// Creates a window (hidden until showWindow). Returns 0 on failure.
WindowHandle createWindow(const WindowDesc& desc);

// Makes a window or control visible and gives a top-level window the keyboard.
void showWindow(WindowHandle window);

// Enables or disables a control.
void enableWindow(WindowHandle window, int enable);

// Creates a child control of parent at client coordinates. Returns 0 on failure.
WindowHandle createControl(WindowHandle parent, ControlKind kind, const char* text, std::int32_t x,
                           std::int32_t y, std::int32_t width, std::int32_t height);

// Adds a text to a list or combo box (combo boxes keep their texts sorted). Returns its index or -1.
int controlAddString(WindowHandle control, const char* text);

// Number of entries of a list or combo box.
int controlCount(WindowHandle control);

// Copies entry index into buffer (always NUL-terminated). Returns the text length or -1.
int controlGetText(WindowHandle control, int index, char* buffer, std::size_t size);

// Selects entry index of a combo box (-1: none). Returns index or -1 when out of range.
int controlSetSelection(WindowHandle control, int index);

// Selects the first entry after start (-1: from the top; wraps) that begins with text, any case.
// Returns its index or -1.
int controlSelectString(WindowHandle control, int start, const char* text);

// The selected entry of a combo box, or -1.
int controlGetSelection(WindowHandle control);

// Check box state: 1 checked, 0 not.
int controlGetCheck(WindowHandle control);
void controlSetCheck(WindowHandle control, int checked);

// The default handling of a message: nothing happens and 0 is returned.
std::intptr_t defWindowProc(WindowHandle window, const Message& message);

// Takes the next message without waiting. Returns 1 when one was taken, else 0.
int peekMessage(Message* message);

// Takes the next message, waiting for one. Returns 0 for msgQuit, else 1.
int getMessage(Message* message);

// Calls the procedure of the message's window.
std::intptr_t dispatchMessage(const Message& message);

// Puts a message at the end of the queue.
void postMessage(WindowHandle window, std::uint32_t kind, std::uint32_t wParam, std::intptr_t lParam);

// Shows a modal message box with one OK button; caption null means the system's default.
void messageBox(WindowHandle owner, const char* text, const char* caption);

// Hides (0) or shows (1) the mouse pointer over the show.
void showCursor(int show);

// Size of the desktop in pixels.
std::int32_t screenWidth();
std::int32_t screenHeight();

// ---------------------------------------------------------------------------------------------
// Clock, threads, locks

// Ticks per second of the performance counter.
std::int64_t counterFrequency();

// The performance counter; 0 at program start, never goes back.
std::int64_t counterRead();

// Milliseconds since program start (the sound devices' tick count).
std::uint32_t tickCountMs();

// Gives up the processor for ms milliseconds.
void sleepMs(std::uint32_t ms);

struct ThreadHandle;

// Starts fn(argument) on a new thread. Returns null when no thread could be started.
ThreadHandle* threadStart(void (*fn)(void* argument), void* argument);

// Waits until the thread has ended and frees its handle.
void threadJoin(ThreadHandle* thread);

// Raises the calling thread's priority above normal, where the host allows it.
void threadRaisePriority();

// A re-entrant lock (a critical section).
struct CriticalSection;

// Creates a lock. Never fails.
CriticalSection* criticalCreate();
void criticalDestroy(CriticalSection* section);
void criticalEnter(CriticalSection* section);
void criticalLeave(CriticalSection* section);

// ---------------------------------------------------------------------------------------------
// Display: a list of full-screen modes, exclusive use of one, one directly writable surface

struct DisplayMode {
    std::int32_t width, height, bits;
};

struct SurfaceInfo {
    std::uint8_t* memory; // valid between displayLock and displayUnlock
    std::int32_t pitch;   // bytes from one line to the next
    std::int32_t width, height, bits;
    std::uint32_t redMask, greenMask, blueMask; // 16-bit modes: 0xF800/0x7E0/0x1F or 0x7C00/0x3E0/0x1F
};

enum DisplayResult : int { displayOk = 0, displayFailed = 1 };

enum LockFlags : std::uint32_t { lockWait = 1, lockWriteOnly = 0x20 };

// Opens the display. Returns displayOk or displayFailed.
int displayCreate();

// Calls visit once per mode the display offers, in the display's order; stops when it returns 0.
void displayEnumModes(int (*visit)(const DisplayMode& mode, void* context), void* context);

// Takes the display for window, full screen and exclusive.
int displaySetExclusive(WindowHandle window);

// Switches to a mode; displayFailed when the display refuses it.
int displaySetMode(std::int32_t width, std::int32_t height, std::int32_t bits);

// Creates the primary surface of the current mode (all zero, like fresh video memory).
int displayCreatePrimary();

// Locks the whole primary surface for writing; fills info. A lock with lockWriteOnly counts as
// a presented frame when it is unlocked.
int displayLock(SurfaceInfo* info, std::uint32_t flags);

// Ends a lock; the surface as written is what the viewer sees from now on.
void displayUnlock();

// Describes the primary surface (memory is null outside a lock).
int displayGetSurfaceInfo(SurfaceInfo* info);

// Gives the desktop back; then releases the surface, then the display.
void displayRestore();
void displayReleasePrimary();
void displayRelease();

// ---------------------------------------------------------------------------------------------
// Wave output: one PCM format, blocks played in the order written, each marked done once played.
// Results use the waveform API's numbering, which the sound devices map to their own errors.

enum WaveResult : int {
    waveOk = 0,
    waveBadDevice = 2,
    waveBusy = 4, // "allocated": present but in use
    waveNoDriver = 6,
    waveNoMemory = 7,
    waveBadFormat = 32,
};

struct WaveFormat {
    std::uint32_t rate;     // frames per second
    std::uint16_t channels; // 1 or 2
    std::uint16_t bits;     // 8 (unsigned) or 16 (signed little-endian)
};

struct WaveOutput;

// One block of sound handed to the output; the caller owns the memory.
struct WaveBlock {
    const std::uint8_t* data;
    std::uint32_t bytes;
    std::uint32_t internal[4]; // the back end's bookkeeping
};

// Number of wave output devices.
int waveDeviceCount();

// Whether the output can play format: waveOk or waveBadFormat.
int waveQuery(const WaveFormat& format);

// Opens the output for format. Returns a WaveResult; *output is set on waveOk.
int waveOpen(WaveOutput** output, const WaveFormat& format);

// Queues a block behind those already written.
int waveWrite(WaveOutput* output, WaveBlock* block);

// 1 when the block has been played (or was never written or was reset), else 0.
int waveBlockDone(WaveOutput* output, const WaveBlock* block);

// Stops playing and marks every written block done.
int waveReset(WaveOutput* output);

// Closes the output (after waveReset).
int waveClose(WaveOutput* output);

// ---------------------------------------------------------------------------------------------
// Looping sound buffer with a play cursor (the model of a DirectSound secondary buffer)

struct SoundBuffer;

// Creates a silent looping buffer of bytes bytes in format. Returns a WaveResult.
int soundBufferCreate(SoundBuffer** buffer, const WaveFormat& format, std::uint32_t bytes);

// The buffer's memory, written by the caller ahead of the play cursor.
std::uint8_t* soundBufferData(SoundBuffer* buffer);

// Size in bytes.
std::uint32_t soundBufferSize(const SoundBuffer* buffer);

// Starts looping playback from the current cursor.
int soundBufferPlay(SoundBuffer* buffer);

// Stops playback; the cursor stays.
int soundBufferStop(SoundBuffer* buffer);

// Byte offset of the play cursor (a whole frame).
std::uint32_t soundBufferPlayCursor(SoundBuffer* buffer);

// Stops and frees the buffer.
void soundBufferRelease(SoundBuffer* buffer);

// ---------------------------------------------------------------------------------------------
// Settings store: named keys holding typed values (the model of the registry)

struct SettingsKey;

enum SettingsResult : int { settingsOk = 0, settingsMissing = 1, settingsWrongType = 2, settingsFailed = 3 };

// Opens a key by path (e.g. "Software/Virez/Audio"); create makes a missing key. Null when missing.
SettingsKey* settingsOpen(const char* path, int create);

// Reads a 32-bit value; settingsWrongType when the value exists with another type or size.
int settingsGetDword(SettingsKey* key, const char* name, std::uint32_t* value);

// Writes a 32-bit value.
int settingsSetDword(SettingsKey* key, const char* name, std::uint32_t value);

// Reads a text value (for tests and tools); settingsWrongType when it is not text.
int settingsGetText(SettingsKey* key, const char* name, char* buffer, std::size_t size);

// Writes a text value.
int settingsSetText(SettingsKey* key, const char* name, const char* text);

// Writes the key back to its store and frees the handle.
int settingsClose(SettingsKey* key);

// ---------------------------------------------------------------------------------------------
// Tracing for recordings

// Notes the play status the show has just read (recorded by the headless back end).
void traceStatus(std::int32_t order, std::int32_t row);

// Asks the user (or the recording's script) to pick one of count texts; selected is the current
// selection. Returns the chosen index, or selected when nothing else was asked for.
int hostPickEntry(const char* const* texts, int count, int selected);

// The program's icon for the host's windows: size x size pixels of 0xAARRGGBB, top row first.
// The pixels are not copied and must stay valid; null means the host's default icon.
void setProgramIcon(const std::uint32_t* argb, int size);
