// The host layer: everything the show and the sound library need from the machine, in place of
// the Windows facilities the program was designed around. Plain records and free functions; each
// facility is served by the back end chosen at start (platform/host.h): SDL2 with a real window
// and sound, or headless with a virtual clock and a recording of everything shown and played.
//
// Nothing outside platform/ includes SDL or any other host header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

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
//
// Top-level windows hold child controls; both are plain records kept here, drawn by the back end
// (real windows in SDL, nothing in headless). What a user can do to a control (click it, type
// into it, pick a list entry, press a key) is done by the shared code below, so both back ends
// and the headless scripts behave alike.

using WindowHandle = std::int32_t; // 0 is "no window"

enum MessageKind : std::uint32_t {
    msgNone = 0,
    msgClose,      // the user asked to close the window
    msgKeyDown,    // wParam: virtual key code (keyEscape for Escape)
    msgCommand,    // from a control: wParam commandParam(notification, id), lParam the control's handle
    msgQuit,       // the queue's quit message
    msgInitDialog, // sent to a dialog's procedure once its controls exist, before it is shown
    msgPrivate = 0x400, // the program's own messages are numbered from here
};

// Virtual key codes (the Windows numbering).
constexpr std::uint32_t keyTab = 0x09;
constexpr std::uint32_t keyReturn = 0x0D;
constexpr std::uint32_t keyEscape = 0x1B;
constexpr std::uint32_t keySpace = 0x20;
constexpr std::uint32_t keyLeft = 0x25;
constexpr std::uint32_t keyUp = 0x26;
constexpr std::uint32_t keyRight = 0x27;
constexpr std::uint32_t keyDown = 0x28;

// Modifier bits of hostKeyDown.
enum KeyModifier : std::uint32_t { modShift = 1, modAlt = 2, modControl = 4 };

constexpr std::uint32_t notifyClicked = 0; // button clicked

// wParam of msgCommand: notification code in the high half, control id in the low half.
constexpr std::uint32_t commandParam(std::uint32_t notification, int id) {
    return (notification << 16) | (static_cast<std::uint32_t>(id) & 0xFFFFu);
}

struct Message {
    WindowHandle window;
    std::uint32_t kind;
    std::uint32_t wParam;
    std::intptr_t lParam;
};

// The control id and notification code of a msgCommand.
constexpr int commandId(const Message& message) {
    return static_cast<int>(message.wParam & 0xFFFFu);
}
constexpr std::uint32_t commandNotification(const Message& message) {
    return message.wParam >> 16;
}

using WindowProc = std::intptr_t (*)(WindowHandle window, const Message& message);

enum WindowStyle : std::uint32_t {
    windowPopup = 1,  // borderless, screen-sized: the show window
    windowDialog = 2, // a fixed-size window with caption, close box and minimise box, for controls
};

// Size of the frame around a windowDialog's client area: the outer size given to createWindow
// is the client area plus this, as with a captioned Windows tool window.
constexpr std::int32_t dialogFrameWidth = 6;
constexpr std::int32_t dialogFrameHeight = 27;

struct WindowDesc {
    const char* className; // kept for tracing; windows of one class share a procedure
    const char* title;
    std::uint32_t style; // WindowStyle
    std::int32_t x, y, width, height; // outer frame
    WindowProc proc;
};

enum ControlKind : std::uint32_t {
    controlButton = 1,  // push button; a click sends msgCommand/notifyClicked to its parent
    controlCheckBox,    // automatic check box: a click toggles it, then notifies like a button
    controlGroupBox,    // frame with a caption, nothing else
    controlComboBox,    // drop-down list of texts (sorted with styleSort)
    controlListBox,     // list of texts, no selection
    controlPicture,     // static picture: its text names a program bitmap (setProgramBitmap)
    controlLabel,       // static text
    controlRadioButton, // automatic radio button: a click checks it and clears the rest of its group
    controlEdit,        // one-line edit field
    controlComboEdit,   // drop-down combo box with an edit field
};

enum ControlStyle : std::uint32_t {
    styleTabStop = 1u << 0,    // Tab stops here
    styleGroup = 1u << 1,      // starts a new group of radio buttons
    styleDefault = 1u << 2,    // the default push button: Enter presses it
    stylePushLike = 1u << 3,   // a check box drawn as a button that stays down while checked
    styleSort = 1u << 4,       // a combo box keeps its texts sorted without regard to case
    styleRight = 1u << 5,      // right-aligned label
    styleNumber = 1u << 6,     // an edit that takes digits only
    styleBorder = 1u << 7,     // a thin border
    styleClientEdge = 1u << 8, // a sunken edge
    styleStaticEdge = 1u << 9, // a thin sunken edge
    styleHidden = 1u << 10,    // created hidden (showWindow shows it)
};

// Creates a window (hidden until showWindow). The window exists for the program even when the
// host could not make one to show (nothing is drawn then; dialogBox reports such a dialog).
WindowHandle createWindow(const WindowDesc& desc);

// Destroys a window with its controls (a control alone is hidden and forgotten).
void destroyWindow(WindowHandle window);

// Makes a window or control visible and gives a top-level window the keyboard.
void showWindow(WindowHandle window);

// Draws a window now rather than at the next chance (a log line must be seen at once).
void updateWindow(WindowHandle window);

// Enables or disables a window or control; a disabled window takes no input.
void enableWindow(WindowHandle window, int enable);

// 1 when the window or control exists and is enabled.
int isWindowEnabled(WindowHandle window);

// Client area of a window: width and height (0 for an unknown window).
void getClientRect(WindowHandle window, std::int32_t* width, std::int32_t* height);

// Creates a child control of parent at client coordinates, visible unless styleHidden.
// Returns 0 on failure.
WindowHandle createControl(WindowHandle parent, ControlKind kind, const char* text, std::int32_t x,
                           std::int32_t y, std::int32_t width, std::int32_t height, std::uint32_t style = 0,
                           int id = 0);

// A window's caption, or a control's text (the edit field's of a combo box with one; the selected
// entry's of a drop-down list).
void setWindowText(WindowHandle window, const char* text);
int getWindowText(WindowHandle window, char* buffer, std::size_t size); // length, or -1

// The control's id given at creation, or 0.
int controlGetId(WindowHandle control);

// The first control of window with this id, or 0.
WindowHandle dialogItem(WindowHandle window, int id);

// Adds a text to a list or combo box (sorted ones keep their order). Returns its index or -1.
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

// Check state of a check box or radio button: 1 checked, 0 not.
int controlGetCheck(WindowHandle control);
void controlSetCheck(WindowHandle control, int checked);

// The keyboard focus: the focused control of the active window (0: none), and moving it.
WindowHandle getFocus();
void setFocus(WindowHandle control);

// The top-level window that has the keyboard (the last one shown that is still there and enabled).
WindowHandle activeWindow();

// --- what the user does (back ends and scripts)

// A click on a control: check boxes toggle and radio buttons take the check from their group,
// then the parent hears msgCommand/notifyClicked. Disabled or hidden controls ignore it.
// Returns 1 when the click was taken.
int controlClick(WindowHandle control);

// Typing that replaces a control's text (an edit, a combo box's edit field). Edits that take
// digits only refuse the rest: returns 0 and leaves the text when something was refused.
int controlType(WindowHandle control, const char* text);

// Picking entry index from a drop-down list (a combo box's edit field takes its text).
// Returns 1 when the entry exists.
int controlChoose(WindowHandle control, int index);

// A key pressed in a top-level window: Tab and Shift+Tab move the focus, arrow keys move within a
// radio group or a drop-down list, Space presses the focused button, Enter the focused or default
// push button, Escape cancels a dialog, Alt+letter (or the letter outside an edit) goes to the
// control with that mnemonic. Every other key reaches the window as msgKeyDown.
void hostKeyDown(WindowHandle window, std::uint32_t key, std::uint32_t modifiers);

// --- dialogs

// One control of a dialog, placed in dialog units of the 8-point dialog font.
struct DialogItem {
    int id;
    ControlKind kind;
    std::uint32_t style; // ControlStyle
    std::int32_t x, y, width, height;
    const char* text;
};

// A dialog as data: caption, size in dialog units and the controls in tab order.
struct DialogTemplate {
    const char* caption;
    std::int32_t width, height;
    std::span<const DialogItem> items;
};

// Dialog units to pixels for the 8-point dialog font (4 units to the average character width of
// 6 pixels, 8 units to the character height of 13 pixels).
constexpr std::int32_t dialogUnitsX(std::int32_t units) {
    return units * 6 / 4;
}
constexpr std::int32_t dialogUnitsY(std::int32_t units) {
    return units * 13 / 8;
}

// Runs a dialog modally: it is built from the template, its procedure hears msgInitDialog, then
// commands, until endDialog. The owner (0: none) is disabled meanwhile. Closing the dialog is a
// command from its Cancel button (id 2). Returns the endDialog result, or -1 when the dialog could
// not be created.
std::intptr_t dialogBox(const DialogTemplate& dialog, WindowHandle owner, WindowProc proc);

// Ends a running dialog with result once its procedure returns.
void endDialog(WindowHandle dialog, std::intptr_t result);

// Control ids of a dialog's OK and Cancel buttons.
constexpr int idOk = 1;
constexpr int idCancel = 2;

// --- messages

// The default handling of a message: nothing happens and 0 is returned.
std::intptr_t defWindowProc(WindowHandle window, const Message& message);

// Takes the next message without waiting. Returns 1 when one was taken, else 0.
int peekMessage(Message* message);

// Takes the next message, waiting for one. Returns 0 for msgQuit, else 1.
int getMessage(Message* message);

// Calls the procedure of the message's window.
std::intptr_t dispatchMessage(const Message& message);

// Puts a message at the end of the queue. Returns 0 when the window does not exist.
int postMessage(WindowHandle window, std::uint32_t kind, std::uint32_t wParam, std::intptr_t lParam);

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

// displayNoScreen: the host has no screen to show on at all (no window system reachable, or only
// an off-screen stand-in), as opposed to a display that refuses what was asked of it.
enum DisplayResult : int { displayOk = 0, displayFailed = 1, displayNoScreen = 2 };

// Exit codes of the process for a display that is not there, besides the show's own (1 at its
// normal end or after a set-up error, 0 after Escape or a closed window, 255 after a fatal sound
// error): no screen to show on at start, and the connection to the screen lost during the run.
constexpr int exitNoDisplay = 3;
constexpr int exitDisplayLost = 4;

enum LockFlags : std::uint32_t { lockWait = 1, lockWriteOnly = 0x20 };

// Opens the display. Returns displayOk, displayFailed or displayNoScreen.
int displayCreate();

// What the host said about the last display call that failed, in its own words ("" when it said
// nothing), for the cause line after the message box.
const char* displayError();

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

// What the host said about the last wave output or sound buffer that could not be opened, in its
// own words ("" when it said nothing).
const char* waveError();

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
// Settings store: the model of the registry. Keys, found by path ("Software/Virez/Audio"; '/' or
// '\\' between the parts, no part empty), hold named values, each with a type and its bytes.
// Key paths and value names match without regard to case. Per user: with a settings folder each
// key is one file there, written whole through a temporary file, so a crash mid-save leaves the
// old file; without one keys live in memory for the run.

struct SettingsKey;

enum SettingsResult : int { settingsOk = 0, settingsMissing = 1, settingsWrongType = 2, settingsFailed = 3 };

// Value types (the registry's numbering).
enum SettingsType : std::uint32_t { settingsText = 1, settingsBinary = 3, settingsDword = 4 };

// Opens a key by path below parent (null: the user's top level); create makes a missing key and
// its missing parents. Null when the key is missing or the path is not valid.
SettingsKey* settingsOpen(SettingsKey* parent, const char* path, int create);

// Reads a 4-byte number; settingsWrongType when the value has another type or size.
int settingsGetDword(SettingsKey* key, const char* name, std::uint32_t* value);

// Writes a 4-byte number.
int settingsSetDword(SettingsKey* key, const char* name, std::uint32_t value);

// Reads a text value into buffer (cut to fit); settingsWrongType when it is not text.
int settingsGetText(SettingsKey* key, const char* name, char* buffer, std::size_t size);

// Writes a text value (stored with its terminating zero, as the registry does).
int settingsSetText(SettingsKey* key, const char* name, const char* text);

// Reads any value: its type, and its bytes when data is not null and *size is enough. *size is
// set to the value's size; settingsFailed (with *size set) when the buffer is too small.
int settingsGetValue(SettingsKey* key, const char* name, std::uint32_t* type, void* data, std::uint32_t* size);

// Writes any value of size bytes (at most 4096).
int settingsSetValue(SettingsKey* key, const char* name, std::uint32_t type, const void* data,
                     std::uint32_t size);

// Writes the key back to its store and frees the handle; settingsFailed when it could not be
// written (the store keeps what it had).
int settingsClose(SettingsKey* key);

// The folder of the per-user settings files: $XDG_CONFIG_HOME/morva, else ~/.config/morva;
// empty when neither is known.
std::string settingsUserFolder();

// The folder this run keeps its settings files in: settingsUserFolder() on a real host, the one a
// headless run was given; empty when the run keeps its settings in memory (nothing is read from
// or written to the disk).
std::string settingsFolder();

// ---------------------------------------------------------------------------------------------
// Tracing for recordings

// Notes the play status the show has just read (recorded by the headless back end).
void traceStatus(std::int32_t order, std::int32_t row);

// The program's icon for the host's windows: size x size pixels of 0xAARRGGBB, top row first.
// The pixels are not copied and must stay valid; null means the host's default icon.
void setProgramIcon(const std::uint32_t* argb, int size);

// A picture of the program that picture controls show by name (names match without regard to
// case): width x height pixels of 0xAARRGGBB, top row first. The pixels are not copied and must
// stay valid. A second bitmap of the same name replaces the first.
void setProgramBitmap(const char* name, const std::uint32_t* argb, int width, int height);
