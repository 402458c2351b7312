// The SDL2 back end: the show in a real window, the keyboard, and sound through SDL audio. It is
// the module morva-sdl.so, opened by the program when it first needs a window or sound
// (platform/sdlload.cpp, platform/sdl/sdlmodule.h).
//
// The chosen video mode is a block of memory of exactly that size and depth, kept between frames
// like video memory; each presenting unlock uploads it to a texture and draws it scaled up with
// its aspect kept, centred on black, in a full-screen window (MORVA_WINDOWED=1: a resizable
// window). The desktop comes back when the display is restored and, whatever the way out, when
// the process ends.
#include <SDL.h>
#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "platform/host.h"
#include "platform/sdl/sdlmodule.h"
#include "platform/sdl/sdlui.h"
#include "platform/surface.h"

namespace {

struct Sdl {
    int videoUp = 0;
    int audioUp = 0;
    SDL_Window* window = nullptr;
    SDL_Renderer* renderer = nullptr;
    SDL_Texture* texture = nullptr;
    WindowHandle showWindow = 0; // the show's window (windows with controls: sdlui.cpp)
    int exclusive = 0;
    MemorySurface surface; // the chosen mode's pixels, uploaded to texture at each unlock
    int restored = 0; // the desktop is back: the show window stays hidden from now on
};

Sdl sdl;

bool windowed() {
    const char* value = std::getenv("MORVA_WINDOWED");
    return value && std::strcmp(value, "1") == 0;
}

void destroyVideo() {
    if (sdl.texture) SDL_DestroyTexture(sdl.texture);
    if (sdl.renderer) SDL_DestroyRenderer(sdl.renderer);
    if (sdl.window) SDL_DestroyWindow(sdl.window);
    sdl.texture = nullptr;
    sdl.renderer = nullptr;
    sdl.window = nullptr;
}

// The desktop back on every way out, including exit() from deep inside the show.
void atExitCleanup() {
    uiCloseAll();
    destroyVideo();
    if (sdl.videoUp || sdl.audioUp) SDL_Quit();
    sdl.videoUp = sdl.audioUp = 0;
}

// Draws the surface as it stands, scaled to the window with its aspect kept; present 0 leaves
// the picture in the renderer for reading back.
void render(int present) {
    if (!sdl.renderer) return;
    SDL_SetRenderDrawColor(sdl.renderer, 0, 0, 0, 255);
    SDL_RenderClear(sdl.renderer);
    const DisplayMode& mode = sdl.surface.mode;
    if (sdl.texture && mode.width > 0) {
        int w = 0, h = 0;
        SDL_GetRendererOutputSize(sdl.renderer, &w, &h);
        const double scale =
            std::min(static_cast<double>(w) / mode.width, static_cast<double>(h) / mode.height);
        SDL_Rect target;
        target.w = static_cast<int>(mode.width * scale);
        target.h = static_cast<int>(mode.height * scale);
        target.x = (w - target.w) / 2;
        target.y = (h - target.h) / 2;
        SDL_RenderCopy(sdl.renderer, sdl.texture, nullptr, &target);
    }
    if (present) SDL_RenderPresent(sdl.renderer);
}

void redraw() {
    render(1);
}

// --- start and end ---------------------------------------------------------------------------

void init() {
    static const int registered = std::atexit(atExitCleanup);
    (void)registered;
    // Ctrl+C and kill end the program as they end any other; SDL would make them a close request
    // that a dialog takes for Cancel.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    sdl.restored = 0;
}

void shutdown(int) {
    atExitCleanup();
}

// --- windows and input -----------------------------------------------------------------------

int windowCreated(WindowHandle window, const WindowDesc& desc) {
    if (!sdl.videoUp) return 0;
    if (desc.style & windowDialog) return uiCreate(window, desc);
    if (!(desc.style & windowPopup) || sdl.window) return 0;
    Uint32 flags = SDL_WINDOW_HIDDEN;
    int w = 960, h = 600, x = SDL_WINDOWPOS_CENTERED, y = SDL_WINDOWPOS_CENTERED;
    SDL_DisplayMode desktop;
    if (windowed()) {
        flags |= SDL_WINDOW_RESIZABLE;
    } else {
        // Desktop-sized from the start: without a window manager the full-screen flag alone
        // leaves the window at its first size.
        flags |= SDL_WINDOW_FULLSCREEN_DESKTOP | SDL_WINDOW_BORDERLESS;
        if (SDL_GetDesktopDisplayMode(0, &desktop) == 0) {
            w = desktop.w;
            h = desktop.h;
            x = y = 0;
        }
    }
    sdl.window = SDL_CreateWindow("Morva", x, y, w, h, flags);
    if (!sdl.window) return 0;
    const ProgramIcon icon = programIcon();
    if (icon.argb) {
        // SDL only reads the pixels while setting the icon, so the surface can go at once.
        SDL_Surface* surface =
            SDL_CreateRGBSurfaceWithFormatFrom(const_cast<std::uint32_t*>(icon.argb), icon.size, icon.size,
                                               32, icon.size * 4, SDL_PIXELFORMAT_ARGB8888);
        if (surface) {
            SDL_SetWindowIcon(sdl.window, surface);
            SDL_FreeSurface(surface);
        }
    }
    sdl.renderer = SDL_CreateRenderer(sdl.window, -1, 0);
    if (!sdl.renderer) sdl.renderer = SDL_CreateRenderer(sdl.window, -1, SDL_RENDERER_SOFTWARE);
    if (sdl.renderer) SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "nearest");
    sdl.showWindow = window;
    sdl.restored = 0;
    return 1;
}

void windowDestroyed(WindowHandle window) {
    uiDestroy(window);
}

void windowShown(WindowHandle window) {
    if (window == sdl.showWindow) {
        // Once the display is restored the show window is gone for good, even when a message box
        // it owned hands the keyboard back to it.
        if (!sdl.window || sdl.restored) return;
        SDL_ShowWindow(sdl.window);
        SDL_RaiseWindow(sdl.window);
        SDL_SetWindowInputFocus(sdl.window); // Escape must reach it without a window manager too
        redraw();
        return;
    }
    uiShow(window);
}

void windowChanged(WindowHandle window, int now) {
    uiChanged(window, now);
}

std::uint32_t virtualKey(SDL_Keycode key) {
    if (key == SDLK_ESCAPE) return keyEscape;
    if (key >= 'a' && key <= 'z') return static_cast<std::uint32_t>(key - 'a' + 'A');
    if ((key >= '0' && key <= '9') || key == ' ') return static_cast<std::uint32_t>(key);
    if (key == SDLK_RETURN) return 0x0D;
    return 0; // keys the show has no use for
}

// The next event, waiting at most ms for one. SDL's own waiting wakes itself by sending an event
// from a second X connection to one of our windows; when that window is a dialog that closes at
// the same moment, the X server may see the window go first and answer with a BadWindow error,
// which Xlib treats as fatal and the program dies on its way out. Short sleeps between polls
// wait just as well and send nothing.
int waitEvent(SDL_Event* event, std::uint32_t ms) {
    const std::uint32_t start = SDL_GetTicks();
    for (;;) {
        if (SDL_PollEvent(event)) return 1;
        const std::uint32_t waited = SDL_GetTicks() - start;
        if (waited >= ms) return 0;
        SDL_Delay(std::min<std::uint32_t>(2, ms - waited));
    }
}

void pumpEvents(int wait) {
    if (!sdl.videoUp) {
        if (wait) SDL_Delay(10);
        return;
    }
    SDL_Event event;
    // Windows with controls that are still settling a change want drawing, not sleep.
    const int busy = uiDrawPending();
    int got = wait && !busy ? waitEvent(&event, 10) : SDL_PollEvent(&event);
    while (got) {
        if (uiEvent(event)) {
            got = SDL_PollEvent(&event);
            continue;
        }
        switch (event.type) {
        case SDL_QUIT:
            if (const WindowHandle active = activeWindow()) postMessage(active, msgClose, 0, 0);
            break;
        case SDL_WINDOWEVENT:
            if (event.window.event == SDL_WINDOWEVENT_CLOSE && sdl.showWindow)
                postMessage(sdl.showWindow, msgClose, 0, 0);
            else if (event.window.event == SDL_WINDOWEVENT_EXPOSED ||
                     event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED)
                redraw();
            break;
        case SDL_KEYDOWN:
            if (sdl.showWindow) {
                const std::uint32_t key = virtualKey(event.key.keysym.sym);
                if (key) hostKeyDown(sdl.showWindow, key, 0);
            }
            break;
        default: break;
        }
        got = SDL_PollEvent(&event);
    }
    uiDrawPending();
}

void listAdded(WindowHandle, const char*) {}

std::intptr_t messageProc(WindowHandle dialog, const Message& message) {
    if (message.kind == msgCommand && (commandId(message) == idOk || commandId(message) == idCancel)) {
        endDialog(dialog, idOk);
        return 1;
    }
    return 0;
}

// A message box made as a dialog of the program's own, like the sound setup: it takes the keyboard,
// OK answers Enter, Space and Escape, and the windows below are drawn while it waits (a box of
// SDL's own runs a loop of its own that draws nothing else and, without a window manager, never
// gets the keyboard). Returns false when no dialog can be made here.
bool messageDialog(WindowHandle owner, const char* text, const char* title) {
    // One label a line, sized in dialog units of the 8-point font, about 4 units a character;
    // '&' is doubled so that it shows as itself.
    std::vector<std::string> lines(1);
    for (const char* c = text; *c; ++c) {
        if (*c == '\n') {
            lines.emplace_back();
            continue;
        }
        if (*c == '&') lines.back() += '&';
        lines.back() += *c;
    }
    std::int32_t longest = 0;
    for (const std::string& line : lines)
        longest = std::max(longest, static_cast<std::int32_t>(line.size()));
    const std::int32_t textWidth = longest * 4 + 8;
    const std::int32_t width = std::max<std::int32_t>(textWidth + 24, 110);
    const auto rows = static_cast<std::int32_t>(lines.size());
    std::vector<DialogItem> items;
    for (std::int32_t i = 0; i < rows; ++i)
        items.push_back({0, controlLabel, 0, 12, 10 + 10 * i, textWidth, 8, lines[static_cast<std::size_t>(i)].c_str()});
    const std::int32_t buttonY = 18 + 10 * rows;
    items.push_back({idOk, controlButton, styleDefault | styleTabStop, (width - 50) / 2, buttonY, 50, 14, "OK"});
    const DialogTemplate box{title, width, buttonY + 20, items};
    return dialogBox(box, owner, messageProc) >= 0;
}

void messageBoxShown(WindowHandle owner, const char* text, const char* caption) {
    const bool display = sdl.videoUp || std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
    const char* title = caption ? caption : "Error"; // the system's caption when the program gives none
    if (sdl.videoUp && messageDialog(owner, text, title)) return;
    if (display) {
        // The show window is hidden by now on the way out; a box over it would sit behind nothing.
        SDL_Window* parent =
            (sdl.window && (SDL_GetWindowFlags(sdl.window) & SDL_WINDOW_SHOWN)) ? sdl.window : nullptr;
        if (SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_INFORMATION, title, text, parent) == 0) return;
    }
    std::fprintf(stderr, "%s: %s\n", title, text);
}

void showCursorSdl(int show) {
    if (sdl.videoUp) SDL_ShowCursor(show ? SDL_ENABLE : SDL_DISABLE);
}

std::int32_t screenW() {
    SDL_DisplayMode mode;
    if (sdl.videoUp && SDL_GetDesktopDisplayMode(0, &mode) == 0) return mode.w;
    return 640;
}

std::int32_t screenH() {
    SDL_DisplayMode mode;
    if (sdl.videoUp && SDL_GetDesktopDisplayMode(0, &mode) == 0) return mode.h;
    return 480;
}

void traceStatusIgnored(std::int32_t, std::int32_t) {}

// --- display ---------------------------------------------------------------------------------

// The display the environment names, for messages: DISPLAY=":0", and WAYLAND_DISPLAY when set.
std::string namedDisplays() {
    const char* x = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    std::string text = x && *x ? "DISPLAY=\"" + std::string(x) + "\"" : std::string("DISPLAY is not set");
    if (wayland && *wayland) text += ", WAYLAND_DISPLAY=\"" + std::string(wayland) + "\"";
    return text;
}

// SDL's stand-ins for a screen: it opens them when it reaches no window system (or when told
// to), and a show on them runs unseen.
bool offScreenDriver(const char* driver) {
    for (const char* name : {"offscreen", "dummy", "evdev"})
        if (driver && SDL_strcasecmp(driver, name) == 0) return true;
    return false;
}

pid_t watchingProcess = 0; // the process that set the handler below

// Xlib ends the process with exit code 1 when the connection to the X server breaks, which is
// the show's normal end; this says what happened and ends with a code of its own. It must not
// return, and nothing that talks to the dead connection may run after it.
int connectionLost(void*) {
    // SDL shows message boxes from a forked copy of the process, which loses the connection too;
    // the process that started the show says it once.
    if (getpid() != watchingProcess) std::_Exit(exitDisplayLost);
    std::fprintf(stderr, "%s: the connection to the display (%s) was lost; the show cannot go on\n",
                 program_invocation_short_name, namedDisplays().c_str());
    std::fflush(stderr);
    std::_Exit(exitDisplayLost);
}

// Watches the X connection SDL opened. libX11 is reached through SDL's own copy, so nothing
// needs it at build time; on other window systems there is nothing to do.
void watchConnection() {
    const char* driver = SDL_GetCurrentVideoDriver();
    if (!driver || std::strcmp(driver, "x11") != 0) return;
    void* x11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_NOLOAD);
    if (!x11) return;
    using IoErrorHandler = int (*)(void*);
    using SetIoErrorHandler = IoErrorHandler (*)(IoErrorHandler);
    watchingProcess = getpid();
    if (auto set = reinterpret_cast<SetIoErrorHandler>(dlsym(x11, "XSetIOErrorHandler"))) set(connectionLost);
    dlclose(x11); // SDL keeps the library loaded
}

int displayCreateS() {
    if (!sdl.videoUp) {
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
            const std::string text = "no window system can be reached (" + namedDisplays() + "): " + SDL_GetError();
            setDisplayError(text.c_str());
            return displayNoScreen;
        }
        if (const char* driver = SDL_GetCurrentVideoDriver(); offScreenDriver(driver)) {
            const char* forced = std::getenv("SDL_VIDEODRIVER");
            const std::string text =
                forced && *forced
                    ? "SDL_VIDEODRIVER=\"" + std::string(forced) + "\" gives SDL's \"" + driver +
                          "\" video driver, which shows nothing (" + namedDisplays() + ")"
                    : "the display cannot be opened (" + namedDisplays() + "), and SDL's only video driver is \"" +
                          driver + "\", which shows nothing";
            SDL_QuitSubSystem(SDL_INIT_VIDEO);
            setDisplayError(text.c_str());
            return displayNoScreen;
        }
        sdl.videoUp = 1;
        watchConnection();
    }
    return displayOk;
}

void displayEnumModesS(int (*visit)(const DisplayMode&, void*), void* context) {
    // Every mode is shown scaled in the window, so all sizes the show knows are on offer.
    constexpr DisplayMode sizes[] = {
        {320, 200, 0}, {320, 240, 0}, {512, 384, 0}, {640, 400, 0}, {640, 480, 0}};
    for (const DisplayMode& size : sizes)
        for (std::int32_t bits : {16, 24, 32})
            if (!visit({size.width, size.height, bits}, context)) return;
}

int displaySetExclusiveS(WindowHandle window) {
    if (!sdl.videoUp || window != sdl.showWindow || !sdl.renderer) {
        const std::string text = std::string("the show window could not be drawn into: ") +
                                 (sdl.renderer ? "it is not the show's window" : SDL_GetError());
        setDisplayError(text.c_str());
        return displayFailed;
    }
    sdl.exclusive = 1;
    return displayOk;
}

int displaySetModeS(std::int32_t width, std::int32_t height, std::int32_t bits) {
    const auto refuse = [](const std::string& text) {
        setDisplayError(text.c_str());
        return displayFailed;
    };
    if (!sdl.exclusive) return refuse("the display was not taken for the show window first");
    if (width <= 0 || height <= 0 || width > 4096 || height > 4096) return refuse("the size is out of range");
    Uint32 format;
    switch (bits) {
    case 16: format = SDL_PIXELFORMAT_RGB565; break;
    case 24: format = SDL_PIXELFORMAT_BGR24; break; // bytes blue, green, red, as the masks say
    case 32: format = SDL_PIXELFORMAT_RGB888; break;
    default: return refuse("only 16, 24 and 32 bits a pixel are offered");
    }
    SDL_Texture* texture =
        SDL_CreateTexture(sdl.renderer, format, SDL_TEXTUREACCESS_STREAMING, width, height);
    if (!texture) return refuse(std::string("SDL cannot make a texture of that size and depth: ") + SDL_GetError());
    if (sdl.texture) SDL_DestroyTexture(sdl.texture);
    sdl.texture = texture;
    surfaceSetMode(&sdl.surface, {width, height, bits}, surfaceRowBytes(width, bits));
    return displayOk;
}

int displayCreatePrimaryS() {
    if (!sdl.texture) {
        setDisplayError("no mode has been set");
        return displayFailed;
    }
    return surfaceCreate(&sdl.surface);
}

int displayLockS(SurfaceInfo* info, std::uint32_t flags) {
    return surfaceLock(&sdl.surface, info, flags);
}

// Every unlock shows the surface as written.
void displayUnlockS() {
    std::uint32_t flags = 0;
    SurfaceInfo written{};
    if (!surfaceUnlock(&sdl.surface, &flags, &written)) return;
    if (sdl.texture) SDL_UpdateTexture(sdl.texture, nullptr, sdl.surface.pixels.data(), sdl.surface.pitch);
    redraw();
}

int displayGetSurfaceInfoS(SurfaceInfo* info) {
    return surfaceGetInfo(&sdl.surface, info);
}

void displayRestoreS() {
    sdl.exclusive = 0;
    sdl.restored = 1;
    if (sdl.window) {
        SDL_SetWindowFullscreen(sdl.window, 0);
        SDL_HideWindow(sdl.window);
    }
    // The configuration window was under the show: it draws its own controls again at once.
    uiRedrawAll();
    SDL_ShowCursor(SDL_ENABLE);
}

void displayReleasePrimaryS() {
    surfaceRelease(&sdl.surface);
    if (sdl.texture) SDL_DestroyTexture(sdl.texture);
    sdl.texture = nullptr;
}

void displayReleaseS() {}

// --- wave output -----------------------------------------------------------------------------
//
// SDL pulls sound through a callback on its own thread; the callback takes blocks from the queue
// in order and marks each done (internal[0] back to 0) once it has handed over its last byte.

constexpr std::uint32_t blockQueued = 0x51A7u;

struct SdlWave {
    SDL_AudioDeviceID device;
    WaveFormat format;
    std::deque<WaveBlock*> queue;
    std::uint32_t offset; // bytes of the front block already played
};

void quietAlsaHandler(const char*, int, const char*, int, const char*, ...) {}

// libasound writes its own complaints to standard error while SDL probes for a card (pages of
// them on a machine without one); SDL's verdict reaches the program through waveError().
void quietAlsa() {
    void* alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_NOLOAD);
    if (!alsa) return;
    using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
    using SetHandler = int (*)(Handler);
    if (auto set = reinterpret_cast<SetHandler>(dlsym(alsa, "snd_lib_error_set_handler"))) set(quietAlsaHandler);
    dlclose(alsa); // SDL keeps the library loaded
}

int audioUp() {
    if (!sdl.audioUp) {
        quietAlsa();
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
            setWaveError(SDL_GetError());
            return 0;
        }
        sdl.audioUp = 1;
    }
    return 1;
}

int waveDeviceCountS() {
    return audioUp() ? std::max(SDL_GetNumAudioDevices(0), 1) : 0;
}

int validFormat(const WaveFormat& format) {
    return (format.channels == 1 || format.channels == 2) && (format.bits == 8 || format.bits == 16) &&
           format.rate >= 1000 && format.rate <= 192000;
}

// SDL converts any of our formats to what the card plays.
int waveQueryS(const WaveFormat& format) {
    if (!audioUp()) return waveNoDriver;
    return validFormat(format) ? waveOk : waveBadFormat;
}

// Opens the default audio output in exactly the given format (SDL converts if the device
// differs), pulling through callback. Returns 0 when no output can be opened.
SDL_AudioDeviceID openAudio(const WaveFormat& format, SDL_AudioCallback callback, void* user) {
    SDL_AudioSpec want{};
    want.freq = static_cast<int>(format.rate);
    want.format = format.bits == 8 ? AUDIO_U8 : AUDIO_S16LSB;
    want.channels = static_cast<Uint8>(format.channels);
    want.samples = 512;
    want.callback = callback;
    want.userdata = user;
    SDL_AudioSpec have{};
    const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (device == 0) setWaveError(SDL_GetError());
    return device;
}

void waveCallback(void* user, Uint8* stream, int length) {
    auto* wave = static_cast<SdlWave*>(user);
    const Uint8 silence = wave->format.bits == 8 ? 0x80 : 0;
    while (length > 0) {
        if (wave->queue.empty()) {
            std::memset(stream, silence, static_cast<std::size_t>(length));
            return;
        }
        WaveBlock* block = wave->queue.front();
        const std::uint32_t n =
            std::min<std::uint32_t>(block->bytes - wave->offset, static_cast<std::uint32_t>(length));
        std::memcpy(stream, block->data + wave->offset, n);
        stream += n;
        length -= static_cast<int>(n);
        wave->offset += n;
        if (wave->offset >= block->bytes) {
            block->internal[0] = 0;
            wave->queue.pop_front();
            wave->offset = 0;
        }
    }
}

int waveOpenS(WaveOutput** output, const WaveFormat& format) {
    if (!output) return waveBadDevice;
    if (!audioUp()) return waveNoDriver;
    if (!validFormat(format)) return waveBadFormat;
    auto* wave = new SdlWave{0, format, {}, 0};
    wave->device = openAudio(format, waveCallback, wave);
    if (wave->device == 0) {
        delete wave;
        return waveBusy;
    }
    SDL_PauseAudioDevice(wave->device, 0);
    *output = reinterpret_cast<WaveOutput*>(wave);
    return waveOk;
}

int waveWriteS(WaveOutput* output, WaveBlock* block) {
    auto* wave = reinterpret_cast<SdlWave*>(output);
    if (!wave || !block || (!block->data && block->bytes)) return waveBadDevice;
    if (block->bytes == 0) return waveOk;
    SDL_LockAudioDevice(wave->device);
    block->internal[0] = blockQueued;
    wave->queue.push_back(block);
    SDL_UnlockAudioDevice(wave->device);
    return waveOk;
}

int waveBlockDoneS(WaveOutput* output, const WaveBlock* block) {
    auto* wave = reinterpret_cast<SdlWave*>(output);
    if (!wave || !block) return 1;
    SDL_LockAudioDevice(wave->device);
    const int done = block->internal[0] != blockQueued;
    SDL_UnlockAudioDevice(wave->device);
    return done;
}

int waveResetS(WaveOutput* output) {
    auto* wave = reinterpret_cast<SdlWave*>(output);
    if (!wave) return waveBadDevice;
    SDL_LockAudioDevice(wave->device);
    for (WaveBlock* block : wave->queue)
        block->internal[0] = 0;
    wave->queue.clear();
    wave->offset = 0;
    SDL_UnlockAudioDevice(wave->device);
    return waveOk;
}

int waveCloseS(WaveOutput* output) {
    auto* wave = reinterpret_cast<SdlWave*>(output);
    if (!wave) return waveBadDevice;
    waveResetS(output);
    SDL_CloseAudioDevice(wave->device);
    delete wave;
    return waveOk;
}

// --- looping sound buffer --------------------------------------------------------------------

struct SdlSoundBuffer {
    SDL_AudioDeviceID device;
    WaveFormat format;
    std::uint32_t bytesPerFrame;
    std::vector<std::uint8_t> data;
    std::uint32_t cursor; // advanced by the callback under the device lock
};

void bufferCallback(void* user, Uint8* stream, int length) {
    auto* b = static_cast<SdlSoundBuffer*>(user);
    const auto size = static_cast<std::uint32_t>(b->data.size());
    while (length > 0) {
        const std::uint32_t n = std::min<std::uint32_t>(size - b->cursor, static_cast<std::uint32_t>(length));
        std::memcpy(stream, b->data.data() + b->cursor, n);
        stream += n;
        length -= static_cast<int>(n);
        b->cursor = (b->cursor + n) % size;
    }
}

int soundBufferCreateS(SoundBuffer** buffer, const WaveFormat& format, std::uint32_t bytes) {
    if (!buffer) return waveBadDevice;
    if (!audioUp()) return waveNoDriver;
    if (!validFormat(format)) return waveBadFormat;
    const std::uint32_t frame = format.channels * format.bits / 8;
    if (bytes < frame || bytes > 16u * 1024 * 1024) return waveNoMemory;
    auto* b = new SdlSoundBuffer{0, format, frame, {}, 0};
    b->data.assign(bytes / frame * frame, format.bits == 8 ? 0x80 : 0);
    b->device = openAudio(format, bufferCallback, b);
    if (b->device == 0) {
        delete b;
        return waveBusy;
    }
    *buffer = reinterpret_cast<SoundBuffer*>(b);
    return waveOk;
}

std::uint8_t* soundBufferDataS(SoundBuffer* buffer) {
    return buffer ? reinterpret_cast<SdlSoundBuffer*>(buffer)->data.data() : nullptr;
}

std::uint32_t soundBufferSizeS(const SoundBuffer* buffer) {
    return buffer ? static_cast<std::uint32_t>(reinterpret_cast<const SdlSoundBuffer*>(buffer)->data.size())
                  : 0;
}

int soundBufferPlayS(SoundBuffer* buffer) {
    if (!buffer) return waveBadDevice;
    SDL_PauseAudioDevice(reinterpret_cast<SdlSoundBuffer*>(buffer)->device, 0);
    return waveOk;
}

int soundBufferStopS(SoundBuffer* buffer) {
    if (!buffer) return waveBadDevice;
    SDL_PauseAudioDevice(reinterpret_cast<SdlSoundBuffer*>(buffer)->device, 1);
    return waveOk;
}

std::uint32_t soundBufferPlayCursorS(SoundBuffer* buffer) {
    auto* b = reinterpret_cast<SdlSoundBuffer*>(buffer);
    if (!b) return 0;
    SDL_LockAudioDevice(b->device);
    const std::uint32_t cursor = b->cursor / b->bytesPerFrame * b->bytesPerFrame;
    SDL_UnlockAudioDevice(b->device);
    return cursor;
}

void soundBufferReleaseS(SoundBuffer* buffer) {
    auto* b = reinterpret_cast<SdlSoundBuffer*>(buffer);
    if (!b) return;
    SDL_CloseAudioDevice(b->device);
    delete b;
}

const HostBackend backend = {
    .name = "sdl",
    .init = init,
    .shutdown = shutdown,
    .windowCreated = windowCreated,
    .windowDestroyed = windowDestroyed,
    .windowShown = windowShown,
    .windowChanged = windowChanged,
    .pumpEvents = pumpEvents,
    .listAdded = listAdded,
    .messageBox = messageBoxShown,
    .showCursor = showCursorSdl,
    .screenWidth = screenW,
    .screenHeight = screenH,
    .traceStatus = traceStatusIgnored,
    // The clock, the threads and the settings folder are the program's own (platform/sdlload.cpp).
    .counterFrequency = nullptr,
    .counterRead = nullptr,
    .sleepMs = nullptr,
    .threadStart = nullptr,
    .threadJoin = nullptr,
    .displayCreate = displayCreateS,
    .displayEnumModes = displayEnumModesS,
    .displaySetExclusive = displaySetExclusiveS,
    .displaySetMode = displaySetModeS,
    .displayCreatePrimary = displayCreatePrimaryS,
    .displayLock = displayLockS,
    .displayUnlock = displayUnlockS,
    .displayGetSurfaceInfo = displayGetSurfaceInfoS,
    .displayRestore = displayRestoreS,
    .displayReleasePrimary = displayReleasePrimaryS,
    .displayRelease = displayReleaseS,
    .waveDeviceCount = waveDeviceCountS,
    .waveQuery = waveQueryS,
    .waveOpen = waveOpenS,
    .waveWrite = waveWriteS,
    .waveBlockDone = waveBlockDoneS,
    .waveReset = waveResetS,
    .waveClose = waveCloseS,
    .soundBufferCreate = soundBufferCreateS,
    .soundBufferData = soundBufferDataS,
    .soundBufferSize = soundBufferSizeS,
    .soundBufferPlay = soundBufferPlayS,
    .soundBufferStop = soundBufferStopS,
    .soundBufferPlayCursor = soundBufferPlayCursorS,
    .soundBufferRelease = soundBufferReleaseS,
    .settingsFolder = nullptr,
};

int readBackPixel(int x, int y, std::uint8_t rgb[3], int* width, int* height) {
    if (!sdl.renderer) return 0;
    render(0);
    SDL_GetRendererOutputSize(sdl.renderer, width, height);
    const SDL_Rect point{x, y, 1, 1};
    std::uint8_t pixel[4] = {};
    const int ok = SDL_RenderReadPixels(sdl.renderer, &point, SDL_PIXELFORMAT_RGB888, pixel, 4) == 0;
    SDL_RenderPresent(sdl.renderer);
    rgb[0] = pixel[2]; // RGB888 is 0x00RRGGBB in a little-endian word
    rgb[1] = pixel[1];
    rgb[2] = pixel[0];
    return ok;
}

const SdlModule module = {
    .version = sdlModuleVersion,
    .backend = &backend,
    .readBackPixel = readBackPixel,
    .readBackWindow = uiReadBack,
    .windowId = uiWindowId,
};

} // namespace

extern "C" __attribute__((visibility("default"))) const SdlModule* morvaSdlModule(const SdlHostServices* services) {
    if (!services || services->version != sdlModuleVersion) return nullptr;
    sdlServices = services;
    return &module;
}
