// The host-independent half of the platform layer: start and end, locks, the program's pictures,
// and the calls that forward to the chosen back end (windows and messages: platform/windows.cpp).
#include "platform/platform.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <strings.h>
#include <vector>

#include "platform/host.h"

namespace {

const HostBackend* backend = nullptr;
int shutDown = 0;
thread_local int criticalDepth = 0;

} // namespace

// ---------------------------------------------------------------------------------------------

namespace {
std::string lastDisplayError, lastWaveError; // the host's words about the last failures
}

void setDisplayError(const char* text) {
    lastDisplayError = text ? text : "";
}

const char* displayError() {
    return lastDisplayError.c_str();
}

void setWaveError(const char* text) {
    lastWaveError = text ? text : "";
}

const char* waveError() {
    return lastWaveError.c_str();
}

void platformInit(const HostBackend* chosen) {
    backend = chosen;
    lastDisplayError.clear();
    lastWaveError.clear();
    shutDown = 0;
    windowsReset();
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
// Message boxes, the pointer, the desktop

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
// A back end without threads (a web page) leaves both slots empty (platform/hostpoll.h).
ThreadHandle* threadStart(void (*fn)(void*), void* argument) {
    return backend->threadStart ? backend->threadStart(fn, argument) : nullptr;
}
void threadJoin(ThreadHandle* thread) {
    if (backend->threadJoin) backend->threadJoin(thread);
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

namespace {
ProgramIcon icon{nullptr, 0};
}

void setProgramIcon(const std::uint32_t* argb, int size) {
    icon = argb && size > 0 ? ProgramIcon{argb, size} : ProgramIcon{nullptr, 0};
}

ProgramIcon programIcon() {
    return icon;
}

namespace {
struct NamedBitmap {
    std::string name;
    ProgramBitmap bitmap;
};
std::vector<NamedBitmap> bitmaps;
} // namespace

void setProgramBitmap(const char* name, const std::uint32_t* argb, int width, int height) {
    if (!name) return;
    const ProgramBitmap bitmap =
        argb && width > 0 && height > 0 ? ProgramBitmap{argb, width, height} : ProgramBitmap{nullptr, 0, 0};
    for (NamedBitmap& named : bitmaps)
        if (strcasecmp(named.name.c_str(), name) == 0) {
            named.bitmap = bitmap;
            return;
        }
    bitmaps.push_back({name, bitmap});
}

ProgramBitmap programBitmap(const char* name) {
    for (const NamedBitmap& named : bitmaps)
        if (name && strcasecmp(named.name.c_str(), name) == 0) return named.bitmap;
    return {nullptr, 0, 0};
}
