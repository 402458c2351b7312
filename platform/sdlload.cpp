// The SDL back end as a program holds it: a stand-in table that opens the back end's module,
// morva-sdl.so (platform/sdl/), with dlopen the first time the program needs a window, the display
// or a sound card, and from then on hands those calls to the module. Until then, and in programs
// that never need them, no SDL, display or sound-server library is loaded; the clock, the threads
// and the settings folder never need the module at all. When the module or SDL itself cannot be
// loaded, the call that needed it fails as a missing display or sound card does, with the reason
// (what is missing and what to install) as the host's words: displayError(), waveError().
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/host.h"
#include "platform/sdl/sdlmodule.h"

namespace {

const SdlHostServices services = {
    .version = sdlModuleVersion,
    .windowRecord = windowRecord,
    .activeWindow = activeWindow,
    .postMessage = postMessage,
    .hostKeyDown = hostKeyDown,
    .controlClick = controlClick,
    .controlType = controlType,
    .controlChoose = controlChoose,
    .setFocus = setFocus,
    .dialogBox = dialogBox,
    .endDialog = endDialog,
    .programIcon = programIcon,
    .programBitmap = programBitmap,
    .setDisplayError = setDisplayError,
    .setWaveError = setWaveError,
};

std::atomic<const SdlModule*> opened{nullptr}; // set once, by the first call that needs it
std::mutex opening;
bool tried = false;        // under opening: the module is opened at most once a run
std::string openError;     // under opening: why it could not be
std::string settingsPlace; // the settings folder of the run, found at init

// The folder of the running program ("" when the system does not say).
std::string programFolder() {
    std::vector<char> path(PATH_MAX + 1);
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (length <= 0) return {};
    const std::string file(path.data(), static_cast<std::size_t>(length));
    const std::size_t slash = file.rfind('/');
    return slash == std::string::npos ? std::string() : file.substr(0, slash);
}

// Where the module may be: MORVA_SDL_MODULE when set, else beside the program, then where
// cmake --install puts it, then where the build put it.
std::vector<std::string> modulePlaces() {
    if (const char* named = std::getenv("MORVA_SDL_MODULE"); named && *named) return {named};
    std::vector<std::string> places;
    if (const std::string folder = programFolder(); !folder.empty())
        places.push_back(folder + "/" + sdlModuleFileName);
#ifdef MORVA_SDL_INSTALLED_PATH
    places.emplace_back(MORVA_SDL_INSTALLED_PATH);
#endif
#ifdef MORVA_SDL_MODULE_PATH
    places.emplace_back(MORVA_SDL_MODULE_PATH);
#endif
    return places;
}

// Opens the module from the first place that has it; the reason in openError when it cannot.
const SdlModule* openModule() {
    const std::vector<std::string> places = modulePlaces();
    std::string place;
    for (const std::string& candidate : places)
        if (access(candidate.c_str(), F_OK) == 0) {
            place = candidate;
            break;
        }
    if (place.empty()) {
        openError = std::string("the SDL back end (") + sdlModuleFileName + ") is missing: looked for";
        for (std::size_t i = 0; i < places.size(); ++i)
            openError += (i ? " and " : " ") + places[i];
        return nullptr;
    }
    void* handle = dlopen(place.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = dlerror();
        openError = std::string("the SDL back end could not be loaded (") + (why ? why : place.c_str()) +
                    "); the window and the sound need SDL 2: on Debian, apt-get install libsdl2-2.0-0";
        return nullptr;
    }
    // The module stays loaded to the end of the process: SDL's clean-up runs at exit.
    const auto entry = reinterpret_cast<SdlModuleEntry>(dlsym(handle, sdlModuleEntryName));
    const SdlModule* module = entry ? entry(&services) : nullptr;
    if (!module || module->version != sdlModuleVersion || !module->backend) {
        openError = place + " is not the SDL back end of this build of the program";
        return nullptr;
    }
    return module;
}

// The module's table once it is open, without opening it.
const HostBackend* host() {
    const SdlModule* module = opened.load(std::memory_order_acquire);
    return module ? module->backend : nullptr;
}

// The module's table, opened now when this is the first need of it (and started as platformInit
// starts a back end). Null when it cannot be opened: the reason is in openError.
const HostBackend* need() {
    if (const HostBackend* open = host()) return open;
    std::lock_guard<std::mutex> lock(opening);
    if (!tried) {
        tried = true;
        if (const SdlModule* module = openModule()) {
            module->backend->init();
            opened.store(module, std::memory_order_release);
        }
    }
    return host();
}

// The reason the module could not be opened, as the host's words.
const char* whyMissing() {
    std::lock_guard<std::mutex> lock(opening);
    return openError.c_str();
}

// A display or sound call that needs the module: the module's answer, or failed with the reason.
const HostBackend* needDisplay() {
    const HostBackend* open = need();
    if (!open) setDisplayError(whyMissing());
    return open;
}
const HostBackend* needSound() {
    const HostBackend* open = need();
    if (!open) setWaveError(whyMissing());
    return open;
}

bool namedDisplay() {
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (wayland && *wayland);
}

void init() {
    settingsPlace = settingsUserFolder();
    if (const HostBackend* open = host()) open->init();
}

void shutdown(int exitCode) {
    if (const HostBackend* open = host()) open->shutdown(exitCode);
}

// A message box needs a window only where a display is named; elsewhere (and without SDL) it is a
// line on standard error.
void messageBox(WindowHandle owner, const char* text, const char* caption) {
    const HostBackend* open = host();
    if (!open && namedDisplay()) open = need();
    if (open) return open->messageBox(owner, text, caption);
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "Error", text);
}

// Without a window there are no events; a wait for one is a short sleep, as in the back end.
void pumpEvents(int wait) {
    if (const HostBackend* open = host()) return open->pumpEvents(wait);
    if (wait) realSleepMs(10);
}

// The size the back end gives when it knows no desktop.
constexpr std::int32_t unknownScreenWidth = 640, unknownScreenHeight = 480;

const HostBackend standIn = {
    .name = "sdl",
    .init = init,
    .shutdown = shutdown,
    .windowCreated =
        [](WindowHandle window, const WindowDesc& desc) {
            const HostBackend* open = need();
            return open ? open->windowCreated(window, desc) : 0;
        },
    .windowDestroyed =
        [](WindowHandle window) {
            if (const HostBackend* open = host()) open->windowDestroyed(window);
        },
    .windowShown =
        [](WindowHandle window) {
            if (const HostBackend* open = host()) open->windowShown(window);
        },
    .windowChanged =
        [](WindowHandle window, int now) {
            if (const HostBackend* open = host()) open->windowChanged(window, now);
        },
    .pumpEvents = pumpEvents,
    .listAdded =
        [](WindowHandle control, const char* text) {
            if (const HostBackend* open = host()) open->listAdded(control, text);
        },
    .messageBox = messageBox,
    .showCursor =
        [](int show) {
            if (const HostBackend* open = host()) open->showCursor(show);
        },
    .screenWidth =
        [] {
            const HostBackend* open = need();
            return open ? open->screenWidth() : unknownScreenWidth;
        },
    .screenHeight =
        [] {
            const HostBackend* open = need();
            return open ? open->screenHeight() : unknownScreenHeight;
        },
    .traceStatus = [](std::int32_t, std::int32_t) {},
    .counterFrequency = realCounterFrequency,
    .counterRead = realCounterRead,
    .sleepMs = realSleepMs,
    .threadStart = realThreadStart,
    .threadJoin = realThreadJoin,
    .displayCreate =
        [] {
            const HostBackend* open = needDisplay();
            return open ? open->displayCreate() : int(displayNoScreen);
        },
    .displayEnumModes =
        [](int (*visit)(const DisplayMode&, void*), void* context) {
            if (const HostBackend* open = needDisplay()) open->displayEnumModes(visit, context);
        },
    .displaySetExclusive =
        [](WindowHandle window) {
            const HostBackend* open = needDisplay();
            return open ? open->displaySetExclusive(window) : int(displayFailed);
        },
    .displaySetMode =
        [](std::int32_t width, std::int32_t height, std::int32_t bits) {
            const HostBackend* open = needDisplay();
            return open ? open->displaySetMode(width, height, bits) : int(displayFailed);
        },
    .displayCreatePrimary =
        [] {
            const HostBackend* open = needDisplay();
            return open ? open->displayCreatePrimary() : int(displayFailed);
        },
    .displayLock =
        [](SurfaceInfo* info, std::uint32_t flags) {
            const HostBackend* open = needDisplay();
            return open ? open->displayLock(info, flags) : int(displayFailed);
        },
    .displayUnlock =
        [] {
            if (const HostBackend* open = host()) open->displayUnlock();
        },
    .displayGetSurfaceInfo =
        [](SurfaceInfo* info) {
            const HostBackend* open = needDisplay();
            return open ? open->displayGetSurfaceInfo(info) : int(displayFailed);
        },
    .displayRestore =
        [] {
            if (const HostBackend* open = host()) open->displayRestore();
        },
    .displayReleasePrimary =
        [] {
            if (const HostBackend* open = host()) open->displayReleasePrimary();
        },
    .displayRelease =
        [] {
            if (const HostBackend* open = host()) open->displayRelease();
        },
    .waveDeviceCount =
        [] {
            const HostBackend* open = needSound();
            return open ? open->waveDeviceCount() : 0;
        },
    .waveQuery =
        [](const WaveFormat& format) {
            const HostBackend* open = needSound();
            return open ? open->waveQuery(format) : int(waveNoDriver);
        },
    .waveOpen =
        [](WaveOutput** output, const WaveFormat& format) {
            const HostBackend* open = needSound();
            return open ? open->waveOpen(output, format) : int(waveNoDriver);
        },
    // An output or a buffer exists only where the module made it.
    .waveWrite =
        [](WaveOutput* output, WaveBlock* block) {
            const HostBackend* open = host();
            return open ? open->waveWrite(output, block) : int(waveBadDevice);
        },
    .waveBlockDone =
        [](WaveOutput* output, const WaveBlock* block) {
            const HostBackend* open = host();
            return open ? open->waveBlockDone(output, block) : 1;
        },
    .waveReset =
        [](WaveOutput* output) {
            const HostBackend* open = host();
            return open ? open->waveReset(output) : int(waveBadDevice);
        },
    .waveClose =
        [](WaveOutput* output) {
            const HostBackend* open = host();
            return open ? open->waveClose(output) : int(waveBadDevice);
        },
    .soundBufferCreate =
        [](SoundBuffer** buffer, const WaveFormat& format, std::uint32_t bytes) {
            const HostBackend* open = needSound();
            return open ? open->soundBufferCreate(buffer, format, bytes) : int(waveNoDriver);
        },
    .soundBufferData =
        [](SoundBuffer* buffer) {
            const HostBackend* open = host();
            return open ? open->soundBufferData(buffer) : nullptr;
        },
    .soundBufferSize =
        [](const SoundBuffer* buffer) {
            const HostBackend* open = host();
            return open ? open->soundBufferSize(buffer) : 0u;
        },
    .soundBufferPlay =
        [](SoundBuffer* buffer) {
            const HostBackend* open = host();
            return open ? open->soundBufferPlay(buffer) : int(waveBadDevice);
        },
    .soundBufferStop =
        [](SoundBuffer* buffer) {
            const HostBackend* open = host();
            return open ? open->soundBufferStop(buffer) : int(waveBadDevice);
        },
    .soundBufferPlayCursor =
        [](SoundBuffer* buffer) {
            const HostBackend* open = host();
            return open ? open->soundBufferPlayCursor(buffer) : 0u;
        },
    .soundBufferRelease =
        [](SoundBuffer* buffer) {
            if (const HostBackend* open = host()) open->soundBufferRelease(buffer);
        },
    .settingsFolder = []() -> const char* { return settingsPlace.empty() ? nullptr : settingsPlace.c_str(); },
};

} // namespace

const HostBackend* sdlBackend() {
    return &standIn;
}

int sdlReadBackPixel(int x, int y, std::uint8_t rgb[3], int* width, int* height) {
    const SdlModule* module = opened.load(std::memory_order_acquire);
    return module ? module->readBackPixel(x, y, rgb, width, height) : 0;
}

int sdlReadBackWindow(WindowHandle window, int x, int y, std::uint8_t rgb[3]) {
    const SdlModule* module = opened.load(std::memory_order_acquire);
    return module ? module->readBackWindow(window, x, y, rgb) : 0;
}

std::uint32_t sdlWindowId(WindowHandle window) {
    const SdlModule* module = opened.load(std::memory_order_acquire);
    return module ? module->windowId(window) : 0;
}
