// The host-independent half of the platform layer: the window table with its controls, the
// message queue, locks, and the calls that forward to the chosen back end.
#include "platform/platform.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <strings.h>
#include <vector>

#include "platform/host.h"

namespace {

struct WindowRecord {
    WindowHandle parent; // 0 for a top-level window
    WindowProc proc;
    std::uint32_t style;
    ControlKind control; // 0 for a top-level window
    std::string className;
    std::string text;
    std::vector<std::string> entries; // list and combo boxes
    int selection = -1;
    int checked = 0;
    int enabled = 1;
    int visible = 0;
};

const HostBackend* backend = nullptr;
int shutDown = 0;
std::vector<WindowRecord> windows; // handle h is windows[h - 1]
std::deque<Message> queue;
std::mutex queueMutex;
thread_local int criticalDepth = 0;

WindowRecord* find(WindowHandle handle) {
    if (handle <= 0 || handle > static_cast<WindowHandle>(windows.size())) return nullptr;
    return &windows[handle - 1];
}

WindowRecord* findList(WindowHandle handle) {
    WindowRecord* w = find(handle);
    if (!w || (w->control != controlComboBox && w->control != controlListBox)) return nullptr;
    return w;
}

} // namespace

// ---------------------------------------------------------------------------------------------

void platformInit(const HostBackend* chosen) {
    backend = chosen;
    shutDown = 0;
    windows.clear();
    {
        std::lock_guard lock(queueMutex);
        queue.clear();
    }
    backend->init();
}

const HostBackend* platformBackend() {
    return backend;
}

void platformShutdown(int exitCode) {
    if (shutDown || !backend) return;
    shutDown = 1;
    backend->shutdown(exitCode);
}

void exitProcess(int exitCode) {
    platformShutdown(exitCode);
    std::fflush(nullptr);
    // Like the process end the show was made for: other threads stop where they are, nothing
    // else runs (static destructors would race a sound thread that is still playing).
    std::_Exit(exitCode);
}

// ---------------------------------------------------------------------------------------------
// Windows and controls

WindowHandle createWindow(const WindowDesc& desc) {
    WindowRecord record{};
    record.parent = 0;
    record.proc = desc.proc ? desc.proc : defWindowProc;
    record.style = desc.style;
    record.control = static_cast<ControlKind>(0);
    record.className = desc.className ? desc.className : "";
    record.text = desc.title ? desc.title : "";
    windows.push_back(record);
    const auto handle = static_cast<WindowHandle>(windows.size());
    backend->windowCreated(handle, desc);
    return handle;
}

void showWindow(WindowHandle window) {
    WindowRecord* w = find(window);
    if (!w) return;
    w->visible = 1;
    if (w->parent == 0) backend->windowShown(window);
}

void enableWindow(WindowHandle window, int enable) {
    if (WindowRecord* w = find(window)) w->enabled = enable != 0;
}

WindowHandle createControl(WindowHandle parent, ControlKind kind, const char* text, std::int32_t,
                           std::int32_t, std::int32_t, std::int32_t) {
    if (!find(parent)) return 0;
    WindowRecord record{};
    record.parent = parent;
    record.proc = defWindowProc;
    record.control = kind;
    record.text = text ? text : "";
    windows.push_back(record);
    return static_cast<WindowHandle>(windows.size());
}

int controlAddString(WindowHandle control, const char* text) {
    WindowRecord* w = findList(control);
    if (!w || !text) return -1;
    std::size_t at = w->entries.size();
    if (w->control == controlComboBox) {
        // A sorted combo box: case-insensitive order, a new equal text goes after the old ones.
        at =
            static_cast<std::size_t>(std::upper_bound(w->entries.begin(), w->entries.end(), std::string(text),
                                                      [](const std::string& a, const std::string& b) {
                                                          return strcasecmp(a.c_str(), b.c_str()) < 0;
                                                      }) -
                                     w->entries.begin());
    }
    w->entries.insert(w->entries.begin() + static_cast<std::ptrdiff_t>(at), text);
    if (w->control == controlComboBox && w->selection >= static_cast<int>(at)) ++w->selection;
    if (w->control == controlListBox) backend->listAdded(control, text);
    return static_cast<int>(at);
}

int controlCount(WindowHandle control) {
    WindowRecord* w = findList(control);
    return w ? static_cast<int>(w->entries.size()) : 0;
}

int controlGetText(WindowHandle control, int index, char* buffer, std::size_t size) {
    WindowRecord* w = findList(control);
    if (!w || index < 0 || index >= static_cast<int>(w->entries.size()) || !buffer || size == 0) return -1;
    const std::string& text = w->entries[index];
    const std::size_t n = std::min(text.size(), size - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}

int controlSetSelection(WindowHandle control, int index) {
    WindowRecord* w = findList(control);
    if (!w) return -1;
    if (index < 0 || index >= static_cast<int>(w->entries.size())) {
        w->selection = -1;
        return -1;
    }
    w->selection = index;
    return index;
}

int controlSelectString(WindowHandle control, int start, const char* text) {
    WindowRecord* w = findList(control);
    if (!w || !text) return -1;
    const int count = static_cast<int>(w->entries.size());
    const std::size_t length = std::strlen(text);
    for (int k = 0; k < count; ++k) {
        // Like the list controls it models, the search begins after start and wraps around.
        const int i = ((start < 0 ? 0 : start + 1) + k) % count;
        if (strncasecmp(w->entries[i].c_str(), text, length) == 0) {
            w->selection = i;
            return i;
        }
    }
    return -1;
}

int controlGetSelection(WindowHandle control) {
    WindowRecord* w = findList(control);
    return w ? w->selection : -1;
}

int controlGetCheck(WindowHandle control) {
    WindowRecord* w = find(control);
    return w ? w->checked : 0;
}

void controlSetCheck(WindowHandle control, int checked) {
    if (WindowRecord* w = find(control)) w->checked = checked != 0;
}

// ---------------------------------------------------------------------------------------------
// Messages

std::intptr_t defWindowProc(WindowHandle, const Message&) {
    return 0;
}

namespace {
int takeMessage(Message* message) {
    std::lock_guard lock(queueMutex);
    if (queue.empty()) return 0;
    *message = queue.front();
    queue.pop_front();
    return 1;
}
} // namespace

int peekMessage(Message* message) {
    backend->pumpEvents(0);
    return takeMessage(message);
}

int getMessage(Message* message) {
    backend->pumpEvents(0);
    while (!takeMessage(message))
        backend->pumpEvents(1);
    return message->kind == msgQuit ? 0 : 1;
}

std::intptr_t dispatchMessage(const Message& message) {
    WindowRecord* w = find(message.window);
    if (!w) return 0;
    // A click on a check box flips it before the parent hears about it, as an auto check box does.
    if (message.kind == msgCommand && message.wParam == notifyClicked) {
        WindowRecord* control = find(static_cast<WindowHandle>(message.lParam));
        if (control && control->control == controlCheckBox) control->checked = !control->checked;
    }
    return w->proc(message.window, message);
}

void postMessage(WindowHandle window, std::uint32_t kind, std::uint32_t wParam, std::intptr_t lParam) {
    std::lock_guard lock(queueMutex);
    queue.push_back({window, kind, wParam, lParam});
}

void messageBox(WindowHandle owner, const char* text, const char* caption) {
    backend->messageBox(owner, text ? text : "", caption);
}

void showCursor(int show) {
    backend->showCursor(show);
}
std::int32_t screenWidth() {
    return backend->screenWidth();
}
std::int32_t screenHeight() {
    return backend->screenHeight();
}

// ---------------------------------------------------------------------------------------------
// Clock, threads, locks

std::int64_t counterFrequency() {
    return backend->counterFrequency();
}
std::int64_t counterRead() {
    return backend->counterRead();
}

std::uint32_t tickCountMs() {
    const std::int64_t frequency = backend->counterFrequency();
    const std::int64_t ticks = backend->counterRead();
    return static_cast<std::uint32_t>(static_cast<__int128>(ticks) * 1000 / frequency);
}

void sleepMs(std::uint32_t ms) {
    backend->sleepMs(ms);
}
ThreadHandle* threadStart(void (*fn)(void*), void* argument) {
    return backend->threadStart(fn, argument);
}
void threadJoin(ThreadHandle* thread) {
    backend->threadJoin(thread);
}

void threadRaisePriority() {
    // Raising a thread above its peers needs privileges an ordinary user does not have here;
    // the polling thread keeps up at normal priority, so this is deliberately a no-op.
}

struct CriticalSection {
    std::recursive_mutex mutex;
};

CriticalSection* criticalCreate() {
    return new CriticalSection;
}
void criticalDestroy(CriticalSection* section) {
    delete section;
}

void criticalEnter(CriticalSection* section) {
    section->mutex.lock();
    ++criticalDepth;
}

void criticalLeave(CriticalSection* section) {
    --criticalDepth;
    section->mutex.unlock();
}

int criticalDepthOfThisThread() {
    return criticalDepth;
}

// ---------------------------------------------------------------------------------------------
// Display, sound, tracing: straight to the back end

int displayCreate() {
    return backend->displayCreate();
}
void displayEnumModes(int (*visit)(const DisplayMode&, void*), void* context) {
    backend->displayEnumModes(visit, context);
}
int displaySetExclusive(WindowHandle window) {
    return backend->displaySetExclusive(window);
}
int displaySetMode(std::int32_t width, std::int32_t height, std::int32_t bits) {
    return backend->displaySetMode(width, height, bits);
}
int displayCreatePrimary() {
    return backend->displayCreatePrimary();
}
int displayLock(SurfaceInfo* info, std::uint32_t flags) {
    return backend->displayLock(info, flags);
}
void displayUnlock() {
    backend->displayUnlock();
}
int displayGetSurfaceInfo(SurfaceInfo* info) {
    return backend->displayGetSurfaceInfo(info);
}
void displayRestore() {
    backend->displayRestore();
}
void displayReleasePrimary() {
    backend->displayReleasePrimary();
}
void displayRelease() {
    backend->displayRelease();
}

int waveDeviceCount() {
    return backend->waveDeviceCount();
}
int waveQuery(const WaveFormat& format) {
    return backend->waveQuery(format);
}
int waveOpen(WaveOutput** output, const WaveFormat& format) {
    return backend->waveOpen(output, format);
}
int waveWrite(WaveOutput* output, WaveBlock* block) {
    return backend->waveWrite(output, block);
}
int waveBlockDone(WaveOutput* output, const WaveBlock* block) {
    return backend->waveBlockDone(output, block);
}
int waveReset(WaveOutput* output) {
    return backend->waveReset(output);
}
int waveClose(WaveOutput* output) {
    return backend->waveClose(output);
}

int soundBufferCreate(SoundBuffer** buffer, const WaveFormat& format, std::uint32_t bytes) {
    return backend->soundBufferCreate(buffer, format, bytes);
}
std::uint8_t* soundBufferData(SoundBuffer* buffer) {
    return backend->soundBufferData(buffer);
}
std::uint32_t soundBufferSize(const SoundBuffer* buffer) {
    return backend->soundBufferSize(buffer);
}
int soundBufferPlay(SoundBuffer* buffer) {
    return backend->soundBufferPlay(buffer);
}
int soundBufferStop(SoundBuffer* buffer) {
    return backend->soundBufferStop(buffer);
}
std::uint32_t soundBufferPlayCursor(SoundBuffer* buffer) {
    return backend->soundBufferPlayCursor(buffer);
}
void soundBufferRelease(SoundBuffer* buffer) {
    backend->soundBufferRelease(buffer);
}

void traceStatus(std::int32_t order, std::int32_t row) {
    backend->traceStatus(order, row);
}

int hostPickEntry(const char* const* texts, int count, int selected) {
    return backend->pickEntry(texts, count, selected);
}

namespace {
ProgramIcon icon{nullptr, 0};
}

void setProgramIcon(const std::uint32_t* argb, int size) {
    icon = argb && size > 0 ? ProgramIcon{argb, size} : ProgramIcon{nullptr, 0};
}

ProgramIcon programIcon() {
    return icon;
}
