// The headless back end (see headless.h).
#include "platform/headless.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <strings.h>
#include <thread>

#include "platform/clock.h"
#include "platform/surface.h"

namespace {

// Virtual counter: 10 MHz, and every read by the main thread moves it on by 20 microseconds.
constexpr std::int64_t virtualFrequency = 10'000'000;
constexpr std::int64_t virtualStep = 200;

struct Headless {
    HeadlessOptions options;
    HeadlessRecorder recorder{};
    std::size_t scriptDone = 0; // actions of the script done so far
    int idleWaits = 0;          // waits in a row with nothing left to do ...
    WindowHandle idleWindow = 0; // ... in this window
    int escapeSent = 0;
    int displayOpen = 0;
    int exclusive = 0;
    MemorySurface surface;
    std::int64_t presents = 0;
    std::int32_t statusOrder = 0, statusRow = 0;
    int statusKnown = 0;
    std::int64_t statusChangedMs = 0; // when the play status the show read last changed
    std::thread::id mainThread;       // the thread that started the back end
    std::int64_t stopTicks = 0;       // stopAtMs in clock ticks since program start
    int stopping = 0;                 // the bound of stopAtMs has been reached
    int waveOpen = 0;
    std::int64_t sinkFrames = 0; // frames written to the sink so far
    int finished = 0;            // the recording is complete: nothing more goes to the recorder
};

Headless state;

// Sound reaches the recorder from the sound library's thread, which may still be running when the
// program ends from deep inside (exitProcess does not join threads): the recording is finished
// under this lock, and sound that comes after it is dropped.
std::mutex recorderLock;

void recordAudio(std::int64_t startFrame, const WaveFormat& format, const std::uint8_t* data,
                 std::uint32_t bytes) {
    const std::lock_guard<std::mutex> held(recorderLock);
    if (state.recorder.audio && !state.finished)
        state.recorder.audio(state.recorder.context, startFrame, format, data, bytes);
}

void recordAudioCut(std::int64_t frame, std::uint32_t rate) {
    const std::lock_guard<std::mutex> held(recorderLock);
    if (state.recorder.audioCut && !state.finished)
        state.recorder.audioCut(state.recorder.context, frame, rate);
}

std::int64_t nowTicks() {
    return state.options.realtime ? realCounterRead() : virtualNow();
}
std::int64_t frequency() {
    return state.options.realtime ? realCounterFrequency() : virtualFrequency;
}
std::int64_t ticksFromStart() {
    return nowTicks() - (state.options.realtime ? 0 : state.options.startTicks);
}

std::int64_t nowMs() {
    return static_cast<std::int64_t>(static_cast<__int128>(ticksFromStart()) * 1000 / frequency());
}

std::int64_t nowUs() {
    return static_cast<std::int64_t>(static_cast<__int128>(ticksFromStart()) * 1'000'000 / frequency());
}

std::int64_t nowFrames(std::uint32_t rate) {
    return static_cast<std::int64_t>(static_cast<__int128>(ticksFromStart()) * rate / frequency());
}

void record(const char* kind, const char* detail) {
    if (state.recorder.event) state.recorder.event(state.recorder.context, nowMs(), kind, detail);
}

// --- start and end ---------------------------------------------------------------------------

void init() {
    if (!state.options.realtime) virtualClockReset(virtualFrequency, virtualStep, state.options.startTicks);
    state.scriptDone = 0;
    state.idleWaits = 0;
    state.idleWindow = 0;
    state.escapeSent = 0;
    state.displayOpen = state.exclusive = 0;
    state.surface = MemorySurface{};
    state.presents = 0;
    state.statusOrder = state.statusRow = 0;
    state.statusKnown = 0;
    state.statusChangedMs = 0;
    state.mainThread = std::this_thread::get_id();
    state.stopping = 0;
    state.stopTicks =
        state.options.stopAtMs < 0
            ? std::numeric_limits<std::int64_t>::max()
            : static_cast<std::int64_t>(static_cast<__int128>(state.options.stopAtMs) * frequency() / 1000);
    state.waveOpen = 0;
    state.sinkFrames = 0;
    state.finished = 0;
}

void shutdown(int exitCode) {
    char detail[16];
    std::snprintf(detail, sizeof detail, "%d", exitCode);
    record("exit", detail);
    const std::lock_guard<std::mutex> held(recorderLock);
    state.finished = 1;
    if (state.recorder.finish) state.recorder.finish(state.recorder.context, nowUs(), exitCode);
}

// --- windows and input -----------------------------------------------------------------------

int windowCreated(WindowHandle, const WindowDesc&) {
    return 1;
}
void windowDestroyed(WindowHandle) {}
void windowShown(WindowHandle) {}
void windowChanged(WindowHandle, int) {}

// What the scripted user could not do, for the person who wrote the script.
void report(const std::string& message) {
    std::fprintf(stderr, "morva-capture: %s\n", message.c_str());
}

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// A control's text as the user reads it: without the '&' of its mnemonic.
std::string shownText(const std::string& text) {
    std::string shown;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size()) ++i;
        shown += text[i];
    }
    return shown;
}

bool isList(const WindowRecord* c) {
    return c && (c->control == controlComboBox || c->control == controlComboEdit);
}

int entryIndex(const WindowRecord* list, const std::string& text) {
    for (std::size_t i = 0; i < list->entries.size(); ++i)
        if (strcasecmp(list->entries[i].c_str(), text.c_str()) == 0) return static_cast<int>(i);
    return -1;
}

// The control a script names in window: "#ID", or by its shown text; a label stands for the
// control created after it.
WindowHandle namedControl(WindowHandle window, const std::string& name) {
    const WindowRecord* w = windowRecord(window);
    if (!w || name.empty()) return 0;
    if (name[0] == '#') {
        char* end = nullptr;
        const long id = std::strtol(name.c_str() + 1, &end, 10);
        return *end == '\0' ? dialogItem(window, static_cast<int>(id)) : 0;
    }
    const std::string shown = shownText(name);
    const auto& children = w->children;
    for (std::size_t i = 0; i < children.size(); ++i) {
        const WindowRecord* c = windowRecord(children[i]);
        if (!c || !c->visible || strcasecmp(shownText(c->text).c_str(), shown.c_str()) != 0) continue;
        if (c->control != controlLabel) return children[i];
        return i + 1 < children.size() ? children[i + 1] : 0;
    }
    return 0;
}

// The first drop-down list of window holding entry text.
WindowHandle listWith(WindowHandle window, const std::string& text) {
    const WindowRecord* w = windowRecord(window);
    if (!w) return 0;
    for (WindowHandle child : w->children) {
        const WindowRecord* c = windowRecord(child);
        if (isList(c) && c->visible && entryIndex(c, text) >= 0) return child;
    }
    return 0;
}

bool pressKey(WindowHandle window, const std::string& name) {
    static const struct {
        const char* name;
        std::uint32_t key, modifiers;
    } keys[] = {{"tab", keyTab, 0},       {"shift+tab", keyTab, modShift}, {"enter", keyReturn, 0},
                {"escape", keyEscape, 0}, {"space", keySpace, 0},          {"up", keyUp, 0},
                {"down", keyDown, 0},     {"left", keyLeft, 0},            {"right", keyRight, 0}};
    for (const auto& k : keys)
        if (strcasecmp(name.c_str(), k.name) == 0) {
            hostKeyDown(window, k.key, k.modifiers);
            return true;
        }
    if (name.size() == 5 && strncasecmp(name.c_str(), "alt+", 4) == 0 &&
        std::isalnum(static_cast<unsigned char>(name[4]))) {
        hostKeyDown(window, static_cast<std::uint32_t>(std::toupper(static_cast<unsigned char>(name[4]))), modAlt);
        return true;
    }
    return false;
}

// Does one action of the script in window, as a user would with mouse and keyboard.
void perform(const std::string& action, WindowHandle window) {
    if (action.rfind("key:", 0) == 0) {
        if (!pressKey(window, action.substr(4))) report("no key " + quoted(action.substr(4)));
        return;
    }
    const std::size_t equals = action.find('=');
    const std::string name = action.substr(0, equals);
    const bool hasValue = equals != std::string::npos;
    const std::string value = hasValue ? action.substr(equals + 1) : "";
    if (name == "select" && hasValue) {
        if (const WindowHandle list = listWith(window, value))
            controlChoose(list, entryIndex(windowRecord(list), value));
        else
            report(quoted(value) + " is not in the mode list; the selection stays");
        return;
    }
    const WindowHandle control = namedControl(window, name);
    const WindowRecord* c = windowRecord(control);
    if (!c) {
        if (const WindowHandle list = hasValue ? 0 : listWith(window, name)) {
            setFocus(list);
            controlChoose(list, entryIndex(windowRecord(list), name));
            return;
        }
        report("no control " + quoted(name) + " in " + quoted(windowRecord(window)->text));
        return;
    }
    if (!c->enabled) {
        report(quoted(name) + " is greyed out");
        return;
    }
    setFocus(control);
    switch (c->control) {
    case controlButton:
    case controlCheckBox:
    case controlRadioButton:
        if (!hasValue) {
            controlClick(control);
        } else if (value == "0" || value == "1") {
            if (c->checked != (value == "1")) {
                if (c->control == controlRadioButton)
                    report(quoted(name) + ": a radio button is cleared by choosing another");
                else
                    controlClick(control);
            }
        } else {
            report(quoted(name) + " takes 0 or 1, not " + quoted(value));
        }
        return;
    case controlEdit:
    case controlComboEdit:
        if (!controlType(control, value.c_str())) report(quoted(name) + " takes digits only; " + quoted(value) + " was refused");
        return;
    case controlComboBox:
        if (!controlChoose(control, entryIndex(c, value))) report(quoted(name) + " has no entry " + quoted(value));
        return;
    default: report(quoted(name) + " cannot be used"); return;
    }
}

// The user's turn while the program waits for input in window. Returns true when something was
// done.
bool userActs(WindowHandle window) {
    const WindowRecord* w = windowRecord(window);
    if (!w || w->children.empty()) return false;
    if (state.options.user && state.options.user(window)) {
        state.idleWaits = 0;
        return true;
    }
    if (state.scriptDone < state.options.script.size()) {
        state.idleWaits = 0;
        perform(state.options.script[state.scriptDone++], window);
        return true;
    }
    // Nothing left to do: take the defaults, and if that does not end the wait, close the window.
    if (window != state.idleWindow) state.idleWaits = 0;
    state.idleWindow = window;
    if (++state.idleWaits > 2) {
        state.idleWaits = 0;
        report("nothing left to do in " + quoted(w->text) + "; closing it");
        postMessage(window, msgClose, 0, 0);
        return true;
    }
    hostKeyDown(window, w->dialog ? keyEscape : keyReturn, 0);
    return true;
}

void pumpEvents(int wait) {
    if (!state.escapeSent && state.options.escapeAtMs >= 0 && nowMs() >= state.options.escapeAtMs) {
        state.escapeSent = 1;
        // The key goes to the window that has the keyboard, as a real key press would.
        if (const WindowHandle window = activeWindow()) hostKeyDown(window, keyEscape, 0);
    }
    if (!wait) return;
    if (userActs(activeWindow())) return;
    // Nobody types: a wait for input is ten milliseconds of idle time.
    sleepMs(10);
}

void listAdded(WindowHandle, const char* text) {
    record("log", text);
}

void messageBoxRecorded(WindowHandle, const char* text, const char* caption) {
    std::string detail = std::string(caption ? caption : "") + "|" + text;
    record("messagebox", detail.c_str());
}

void showCursorIgnored(int) {}
std::int32_t screenW() {
    return 640;
}
std::int32_t screenH() {
    return 480;
}

void traceStatusRecorded(std::int32_t order, std::int32_t row) {
    if (state.statusKnown && order == state.statusOrder && row == state.statusRow) return;
    state.statusKnown = 1;
    state.statusOrder = order;
    state.statusRow = row;
    state.statusChangedMs = nowMs();
    char detail[32];
    std::snprintf(detail, sizeof detail, "%d %d", order, row);
    record("status", detail);
}

// --- clock -----------------------------------------------------------------------------------

std::int64_t counterFrequencyH() {
    return frequency();
}

// A play status that has not changed for this long means the music no longer advances: longer
// than any row of a module lasts, even one held by a pattern delay.
constexpr std::int64_t musicStillMs = 10'000;

// Why a run was still going at its bound, in words for the "stopped" event.
std::string whyStopped() {
    char text[160];
    const std::int64_t now = nowMs();
    if (!state.statusKnown)
        std::snprintf(text, sizeof text, "the show had not yet read the music's position");
    else if (now - state.statusChangedMs >= musicStillMs)
        std::snprintf(text, sizeof text,
                      "the music stopped advancing at %.1f s (order %d, row %d) and the show was waiting for it",
                      static_cast<double>(state.statusChangedMs) / 1000, state.statusOrder, state.statusRow);
    else
        std::snprintf(text, sizeof text, "the show was still running (the music at order %d, row %d)",
                      state.statusOrder, state.statusRow);
    return text;
}

std::int64_t counterReadH() {
    const std::int64_t ticks = state.options.realtime ? realCounterRead() : virtualCounterRead();
    // Every wait of the show reads the clock on the main thread, so a show that never ends meets
    // its bound here, wherever it is.
    if (ticksFromStart() >= state.stopTicks && !state.stopping && std::this_thread::get_id() == state.mainThread) {
        state.stopping = 1;
        record("stopped", whyStopped().c_str());
        exitProcess(state.options.stopExitCode);
    }
    return ticks;
}
void sleepH(std::uint32_t ms) {
    state.options.realtime ? realSleepMs(ms) : virtualSleepMs(ms);
}
ThreadHandle* threadStartH(void (*fn)(void*), void* argument) {
    return state.options.realtime ? realThreadStart(fn, argument) : virtualThreadStart(fn, argument);
}
void threadJoinH(ThreadHandle* thread) {
    state.options.realtime ? realThreadJoin(thread) : virtualThreadJoin(thread);
}

// --- display ---------------------------------------------------------------------------------

int displayCreateH() {
    state.displayOpen = 1;
    return displayOk;
}

void displayEnumModesH(int (*visit)(const DisplayMode&, void*), void* context) {
    for (const DisplayMode& mode : state.options.modes)
        if (!visit(mode, context)) return;
}

int displaySetExclusiveH(WindowHandle window) {
    if (!state.displayOpen || window == 0) return displayFailed;
    state.exclusive = 1;
    return displayOk;
}

int displaySetModeH(std::int32_t width, std::int32_t height, std::int32_t bits) {
    if (!state.displayOpen || !state.exclusive) return displayFailed;
    const auto same = [&](const DisplayMode& m) {
        return m.width == width && m.height == height && m.bits == bits;
    };
    if (std::none_of(state.options.modes.begin(), state.options.modes.end(), same)) {
        setDisplayError("the headless display does not offer it");
        return displayFailed;
    }
    if (same(state.options.refused)) {
        setDisplayError("the headless display was told to refuse it");
        return displayFailed;
    }
    state.surface.format555 = state.options.format555;
    surfaceSetMode(&state.surface, {width, height, bits},
                   std::max(state.options.pitch, surfaceRowBytes(width, bits)));
    if (state.recorder.mode) {
        SurfaceInfo info{};
        surfaceDescribe(&state.surface, &info);
        state.recorder.mode(state.recorder.context, nowMs(), info, state.options.format555);
    }
    return displayOk;
}

int displayCreatePrimaryH() {
    if (!state.displayOpen) return displayFailed;
    return surfaceCreate(&state.surface);
}

int displayLockH(SurfaceInfo* info, std::uint32_t flags) {
    return surfaceLock(&state.surface, info, flags);
}

// A presenting unlock is recorded: an event line and the surface as written.
void displayUnlockH() {
    std::uint32_t flags = 0;
    SurfaceInfo written{};
    if (!surfaceUnlock(&state.surface, &flags, &written)) return;
    if ((flags & lockWriteOnly) == 0) return;
    ++state.presents;
    char detail[64];
    std::snprintf(detail, sizeof detail, "%" PRId64 " %d %d", state.presents, state.statusOrder, state.statusRow);
    record("present", detail);
    if (state.recorder.present) state.recorder.present(state.recorder.context, nowUs(), written);
}

int displayGetSurfaceInfoH(SurfaceInfo* info) {
    return surfaceGetInfo(&state.surface, info);
}

void displayRestoreH() {
    state.exclusive = 0;
}
void displayReleasePrimaryH() {
    surfaceRelease(&state.surface);
}
void displayReleaseH() {
    state.displayOpen = 0;
}

// --- wave output -----------------------------------------------------------------------------
//
// A block starts playing when the one before it has ended, or when it is written if the output
// has run dry; it is done once the clock has passed its end. Recorded when written (its data are
// final then), and cut back when a reset drops what had not been played.

struct HeadlessWave {
    WaveFormat format;
    std::uint32_t bytesPerFrame;
    std::int64_t queueEnd; // frame at which the last written block ends
    std::uint32_t generation;
};

int waveDeviceCountH() {
    return state.options.audio == headlessAudioNone ? 0 : 1;
}

// A format the output plays: a valid one, and one of the offered list when there is a list.
int validFormat(const WaveFormat& format) {
    if (!((format.channels == 1 || format.channels == 2) && (format.bits == 8 || format.bits == 16) &&
          format.rate >= 1000 && format.rate <= 192000))
        return 0;
    if (state.options.waveFormats.empty()) return 1;
    return std::any_of(state.options.waveFormats.begin(), state.options.waveFormats.end(), [&](const WaveFormat& f) {
        return f.rate == format.rate && f.channels == format.channels && f.bits == format.bits;
    });
}

int sinking() {
    return state.options.audio == headlessAudioSink;
}

int waveQueryH(const WaveFormat& format) {
    if (state.options.audio == headlessAudioNone) return waveBadDevice;
    return validFormat(format) ? waveOk : waveBadFormat;
}

int waveOpenH(WaveOutput** output, const WaveFormat& format) {
    if (!output) return waveBadDevice;
    if (state.options.audio == headlessAudioNone) return waveBadDevice;
    if (state.options.audio == headlessAudioBusy || state.waveOpen) return waveBusy;
    if (!validFormat(format)) return waveBadFormat;
    auto* wave =
        new HeadlessWave{format, static_cast<std::uint32_t>(format.channels * format.bits / 8), 0, 1};
    wave->queueEnd = nowFrames(format.rate);
    state.waveOpen = 1;
    *output = reinterpret_cast<WaveOutput*>(wave);
    return waveOk;
}

// Block bookkeeping: internal[0..1] end frame, internal[2] the output's generation when written.
std::int64_t blockEnd(const WaveBlock* block) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(block->internal[0]) |
                                     (static_cast<std::uint64_t>(block->internal[1]) << 32));
}

int waveWriteH(WaveOutput* output, WaveBlock* block) {
    auto* wave = reinterpret_cast<HeadlessWave*>(output);
    if (!wave || !block || (!block->data && block->bytes)) return waveBadDevice;
    if (sinking()) {
        const std::uint32_t frames = block->bytes / wave->bytesPerFrame;
        if (frames) recordAudio(state.sinkFrames, wave->format, block->data, frames * wave->bytesPerFrame);
        state.sinkFrames += frames;
        block->internal[2] = 0; // never the output's generation: done at once
        return waveOk;
    }
    const std::int64_t start = std::max(wave->queueEnd, nowFrames(wave->format.rate));
    const std::int64_t end = start + block->bytes / wave->bytesPerFrame;
    wave->queueEnd = end;
    block->internal[0] = static_cast<std::uint32_t>(end);
    block->internal[1] = static_cast<std::uint32_t>(static_cast<std::uint64_t>(end) >> 32);
    block->internal[2] = wave->generation;
    if (block->bytes)
        recordAudio(start, wave->format, block->data,
                    block->bytes / wave->bytesPerFrame * wave->bytesPerFrame);
    return waveOk;
}

int waveBlockDoneH(WaveOutput* output, const WaveBlock* block) {
    auto* wave = reinterpret_cast<HeadlessWave*>(output);
    if (!wave || !block || block->internal[2] != wave->generation) return 1;
    return nowFrames(wave->format.rate) >= blockEnd(block) ? 1 : 0;
}

int waveResetH(WaveOutput* output) {
    auto* wave = reinterpret_cast<HeadlessWave*>(output);
    if (!wave) return waveBadDevice;
    if (sinking()) return waveOk; // nothing is ever waiting to be played
    const std::int64_t now = nowFrames(wave->format.rate);
    if (wave->queueEnd > now) recordAudioCut(now, wave->format.rate);
    wave->queueEnd = now;
    ++wave->generation; // every block written so far counts as done
    return waveOk;
}

int waveCloseH(WaveOutput* output) {
    auto* wave = reinterpret_cast<HeadlessWave*>(output);
    if (!wave) return waveBadDevice;
    delete wave;
    state.waveOpen = 0;
    return waveOk;
}

// --- looping sound buffer --------------------------------------------------------------------
//
// The cursor moves with the clock while playing. What passed the cursor is recorded whenever the
// cursor is read or playback stops, from the buffer as it is then: the writer stays ahead of the
// cursor, so that is what was heard.

struct HeadlessSoundBuffer {
    WaveFormat format;
    std::uint32_t bytesPerFrame;
    std::vector<std::uint8_t> data;
    int playing;
    std::int64_t startFrame;     // clock frame when playback (re)started
    std::uint32_t startCursor;   // cursor then
    std::int64_t recordedFrames; // frames since startFrame already recorded
};

int soundBufferCreateH(SoundBuffer** buffer, const WaveFormat& format, std::uint32_t bytes) {
    if (!buffer) return waveBadDevice;
    if (state.options.audio == headlessAudioNone || sinking()) return waveBadDevice;
    if (state.options.audio == headlessAudioBusy) return waveBusy;
    if (!validFormat(format)) return waveBadFormat;
    const std::uint32_t frame = format.channels * format.bits / 8;
    if (bytes < frame || bytes > 16u * 1024 * 1024) return waveNoMemory;
    auto* b = new HeadlessSoundBuffer{format, frame, {}, 0, 0, 0, 0};
    b->data.assign(bytes / frame * frame, format.bits == 8 ? 0x80 : 0);
    *buffer = reinterpret_cast<SoundBuffer*>(b);
    return waveOk;
}

std::uint8_t* soundBufferDataH(SoundBuffer* buffer) {
    return buffer ? reinterpret_cast<HeadlessSoundBuffer*>(buffer)->data.data() : nullptr;
}

std::uint32_t soundBufferSizeH(const SoundBuffer* buffer) {
    return buffer
               ? static_cast<std::uint32_t>(reinterpret_cast<const HeadlessSoundBuffer*>(buffer)->data.size())
               : 0;
}

// Records what has played up to now and returns the cursor.
std::uint32_t catchUp(HeadlessSoundBuffer* b) {
    const std::uint32_t frames = static_cast<std::uint32_t>(b->data.size() / b->bytesPerFrame);
    if (!b->playing) return b->startCursor;
    const std::int64_t played = nowFrames(b->format.rate) - b->startFrame;
    std::int64_t from = b->recordedFrames;
    // At most ten seconds at a time: a cursor nobody reads for longer only repeats the buffer.
    from = std::max(from, played - static_cast<std::int64_t>(b->format.rate) * 10);
    while (from < played) {
        const std::uint32_t at =
            static_cast<std::uint32_t>((b->startCursor / b->bytesPerFrame + from) % frames);
        const std::int64_t n = std::min<std::int64_t>(played - from, frames - at);
        recordAudio(b->startFrame + from, b->format,
                    b->data.data() + static_cast<std::size_t>(at) * b->bytesPerFrame,
                    static_cast<std::uint32_t>(n) * b->bytesPerFrame);
        from += n;
    }
    b->recordedFrames = played;
    return static_cast<std::uint32_t>((b->startCursor / b->bytesPerFrame + played) % frames) *
           b->bytesPerFrame;
}

int soundBufferPlayH(SoundBuffer* buffer) {
    auto* b = reinterpret_cast<HeadlessSoundBuffer*>(buffer);
    if (!b) return waveBadDevice;
    if (b->playing) return waveOk;
    b->playing = 1;
    b->startFrame = nowFrames(b->format.rate);
    b->recordedFrames = 0;
    return waveOk;
}

int soundBufferStopH(SoundBuffer* buffer) {
    auto* b = reinterpret_cast<HeadlessSoundBuffer*>(buffer);
    if (!b) return waveBadDevice;
    if (b->playing) {
        b->startCursor = catchUp(b);
        b->playing = 0;
    }
    return waveOk;
}

std::uint32_t soundBufferPlayCursorH(SoundBuffer* buffer) {
    auto* b = reinterpret_cast<HeadlessSoundBuffer*>(buffer);
    return b ? catchUp(b) : 0;
}

void soundBufferReleaseH(SoundBuffer* buffer) {
    soundBufferStopH(buffer);
    delete reinterpret_cast<HeadlessSoundBuffer*>(buffer);
}

const char* settingsFolderH() {
    return state.options.settingsFolder.empty() ? nullptr : state.options.settingsFolder.c_str();
}

const HostBackend backend = {
    .name = "headless",
    .init = init,
    .shutdown = shutdown,
    .windowCreated = windowCreated,
    .windowDestroyed = windowDestroyed,
    .windowShown = windowShown,
    .windowChanged = windowChanged,
    .pumpEvents = pumpEvents,
    .listAdded = listAdded,
    .messageBox = messageBoxRecorded,
    .showCursor = showCursorIgnored,
    .screenWidth = screenW,
    .screenHeight = screenH,
    .traceStatus = traceStatusRecorded,
    .counterFrequency = counterFrequencyH,
    .counterRead = counterReadH,
    .sleepMs = sleepH,
    .threadStart = threadStartH,
    .threadJoin = threadJoinH,
    .displayCreate = displayCreateH,
    .displayEnumModes = displayEnumModesH,
    .displaySetExclusive = displaySetExclusiveH,
    .displaySetMode = displaySetModeH,
    .displayCreatePrimary = displayCreatePrimaryH,
    .displayLock = displayLockH,
    .displayUnlock = displayUnlockH,
    .displayGetSurfaceInfo = displayGetSurfaceInfoH,
    .displayRestore = displayRestoreH,
    .displayReleasePrimary = displayReleasePrimaryH,
    .displayRelease = displayReleaseH,
    .waveDeviceCount = waveDeviceCountH,
    .waveQuery = waveQueryH,
    .waveOpen = waveOpenH,
    .waveWrite = waveWriteH,
    .waveBlockDone = waveBlockDoneH,
    .waveReset = waveResetH,
    .waveClose = waveCloseH,
    .soundBufferCreate = soundBufferCreateH,
    .soundBufferData = soundBufferDataH,
    .soundBufferSize = soundBufferSizeH,
    .soundBufferPlay = soundBufferPlayH,
    .soundBufferStop = soundBufferStopH,
    .soundBufferPlayCursor = soundBufferPlayCursorH,
    .soundBufferRelease = soundBufferReleaseH,
    .settingsFolder = settingsFolderH,
};

} // namespace

void headlessConfigure(const HeadlessOptions& options, const HeadlessRecorder& recorder) {
    state.options = options;
    state.recorder = recorder;
}

const HostBackend* headlessBackend() {
    return &backend;
}

std::vector<DisplayMode> headlessAllModes() {
    std::vector<DisplayMode> modes;
    constexpr DisplayMode sizes[] = {
        {320, 200, 0}, {320, 240, 0}, {512, 384, 0}, {640, 400, 0}, {640, 480, 0}};
    for (const DisplayMode& size : sizes)
        for (std::int32_t bits : {16, 24, 32})
            modes.push_back({size.width, size.height, bits});
    return modes;
}

int parseModeText(const char* text, DisplayMode* mode) {
    if (!text || !mode) return 0;
    int w = 0, h = 0, b = 0, used = 0;
    if (std::sscanf(text, "%dx%dx%d%n", &w, &h, &b, &used) != 3 || text[used] != '\0') return 0;
    if (w <= 0 || h <= 0 || w > 4096 || h > 4096 || (b != 16 && b != 24 && b != 32)) return 0;
    *mode = {w, h, b};
    return 1;
}

std::int64_t headlessNowUs() {
    return nowUs();
}

void headlessAdvanceMs(std::uint32_t ms) {
    if (state.options.realtime)
        realSleepMs(ms);
    else
        virtualAdvance(static_cast<std::int64_t>(ms) * virtualFrequency / 1000);
}

SurfaceInfo headlessSurface() {
    SurfaceInfo info{};
    if (!state.surface.exists) return info;
    surfaceDescribe(&state.surface, &info);
    info.memory = state.surface.pixels.data();
    return info;
}

std::int64_t headlessPresentCount() {
    return state.presents;
}
