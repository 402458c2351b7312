// The web back end (see webhost.h): the clock and the waits that yield to the page, the display
// on the page's canvas, the wave output on Web Audio, message boxes and the message pump. The
// windows with controls are webui.cpp; the page side is webhost-pre.js.
#include "platform/web/webhost.h"

#include <emscripten.h>

#include <algorithm>
#include <array>
#include <vector>

#include "platform/hostpoll.h"
#include "platform/surface.h"
#include "platform/web/webpage.h"
#include "platform/web/webui.h"

namespace {

// The virtual clock of the headless back end: 10 MHz, and each counter read moves it by 20 us.
constexpr std::int64_t virtualFrequency = 10'000'000;
constexpr std::int64_t virtualStep = 200;
// The page's clock counts microseconds.
constexpr std::int64_t realFrequency = 1'000'000;
// How long the program may keep the page's thread before it yields: short on the page's own
// clock, so the frame pump's busy waits keep the page responsive; longer on the virtual clock,
// where the page only has to show progress.
constexpr double realYieldMs = 4.0;
constexpr double virtualYieldMs = 50.0;
// On the virtual clock the page also gets its turn after every tenth of a second of show time:
// a browser that runs the page on a virtual time of its own (a test's) stops its clock while
// the program computes.
constexpr std::int64_t virtualYieldTicks = virtualFrequency / 10;
// A wait for input on the page's clock gives up after this long, like the SDL back end's.
constexpr double inputWaitMs = 10.0;

struct WebWave {
    WaveFormat format;
    std::uint32_t bytesPerFrame;
    std::int64_t written;  // page's clock: frames written since the output was opened
    std::int64_t queueEnd; // virtual clock: the frame at which the last written block ends
    std::uint32_t generation;
};

struct Web {
    WebOptions options;
    double startMs = 0;     // page time at start
    double lastYieldMs = 0; // page time when the program last gave the page its turn
    std::int64_t virtualNow = 0;
    std::int64_t lastYieldTicks = 0; // virtual clock then
    int noYield = 0; // inside a call from the page (the sound callback): no waiting there
    WindowHandle showWindow = 0;
    int exclusive = 0;
    MemorySurface surface;
    std::vector<std::uint32_t> rgba; // the surface as the canvas takes it
    WebWave* wave = nullptr;
};

Web web;

int onVirtualClock() {
    return web.options.virtualClock;
}

std::int64_t frequency() {
    return onVirtualClock() ? virtualFrequency : realFrequency;
}

// The clock's time without moving it.
std::int64_t nowTicks() {
    if (onVirtualClock()) return web.virtualNow;
    return static_cast<std::int64_t>((emscripten_get_now() - web.startMs) * 1000.0);
}

std::int64_t nowUs() {
    return nowTicks() * 1'000'000 / frequency();
}

std::int64_t nowFrames(std::uint32_t rate) {
    return static_cast<std::int64_t>(static_cast<__int128>(nowTicks()) * rate / frequency());
}

// The page's turn: windows as they now are go out first. Nothing yields inside a call the page
// made into the program (the stack of the program's own wait is still saved) or inside the poll.
void yieldToPage(double ms, int wakeOnInput) {
    if (web.noYield || hostPollRunning()) return;
    for (const WindowHandle window : webUiTakeChanged()) morvaWebWindowSync(webUiJson(window).c_str());
    morvaWebWait(ms, wakeOnInput);
    web.lastYieldMs = emscripten_get_now();
    web.lastYieldTicks = web.virtualNow;
}

void yieldWhenDue() {
    const bool due = onVirtualClock() ? emscripten_get_now() - web.lastYieldMs >= virtualYieldMs ||
                                            web.virtualNow - web.lastYieldTicks >= virtualYieldTicks
                                      : emscripten_get_now() - web.lastYieldMs >= realYieldMs;
    if (due) yieldToPage(0, 0);
}

// Page's clock: the poll when its time has come.
void pollWhenDue() {
    std::int64_t now = nowTicks();
    hostPollRunUntil(&now, now, realFrequency);
}

// Virtual clock: time moves to target, the poll running at each of its times on the way.
void advanceTo(std::int64_t target) {
    hostPollRunUntil(&web.virtualNow, target, virtualFrequency);
    web.virtualNow = std::max(web.virtualNow, target);
}

// --- start and end ---------------------------------------------------------------------------

void init() {
    web.startMs = emscripten_get_now();
    web.lastYieldMs = web.startMs;
    web.virtualNow = 0;
    web.lastYieldTicks = 0;
    web.noYield = 0;
    web.showWindow = 0;
    web.exclusive = 0;
    web.surface = MemorySurface{};
    web.wave = nullptr;
}

void shutdown(int exitCode) {
    for (const WindowHandle window : webUiTakeChanged()) morvaWebWindowSync(webUiJson(window).c_str());
    morvaWebFinished(exitCode, static_cast<double>(nowUs()));
}

// --- windows and input -----------------------------------------------------------------------

int windowCreated(WindowHandle window, const WindowDesc& desc) {
    if (desc.style & windowPopup) {
        if (web.showWindow) return 0; // one show window
        web.showWindow = window;
    }
    return 1;
}

void windowDestroyed(WindowHandle window) {
    webUiForget(window);
    if (window == web.showWindow) {
        morvaWebStageHide();
        web.showWindow = 0;
        return;
    }
    morvaWebWindowRemove(window);
}

void windowShown(WindowHandle window) {
    if (window == web.showWindow) {
        morvaWebStageShow();
        return;
    }
    webUiChanged(window);
}

void windowChanged(WindowHandle window, int) {
    webUiChanged(window);
}

void pumpEvents(int wait) {
    if (!onVirtualClock()) pollWhenDue();
    WebEvent event{};
    int taken = 0;
    while (morvaWebTakeEvent(&event)) {
        webUiApply(event);
        ++taken;
    }
    if (!wait || taken) return;
    // Nothing to do: the page's turn until the user acts. On the virtual clock no time passes
    // meanwhile, so a run is the same however long the user takes.
    yieldToPage(onVirtualClock() ? -1.0 : inputWaitMs, 1);
    while (morvaWebTakeEvent(&event))
        webUiApply(event);
}

void listAdded(WindowHandle, const char*) {}

void messageBoxShown(WindowHandle, const char* text, const char* caption) {
    for (const WindowHandle window : webUiTakeChanged()) morvaWebWindowSync(webUiJson(window).c_str());
    morvaWebMessageBox(text, caption ? caption : "Error"); // the system's caption when none is given
}

void showCursorWeb(int show) {
    morvaWebCursor(show);
}

std::int32_t screenW() {
    return std::max(morvaWebScreenWidth(), 640);
}

std::int32_t screenH() {
    return std::max(morvaWebScreenHeight(), 480);
}

void traceStatusIgnored(std::int32_t, std::int32_t) {}

// --- clock -----------------------------------------------------------------------------------

std::int64_t counterFrequencyWeb() {
    return frequency();
}

std::int64_t counterReadWeb() {
    if (hostPollRunning()) return nowTicks(); // the poll's reads, like a thread's, move nothing
    if (onVirtualClock()) {
        advanceTo(web.virtualNow + virtualStep);
    } else {
        pollWhenDue();
    }
    yieldWhenDue();
    return nowTicks();
}

void sleepWeb(std::uint32_t ms) {
    if (hostPollRunning()) return;
    if (onVirtualClock()) {
        advanceTo(web.virtualNow + static_cast<std::int64_t>(ms) * virtualFrequency / 1000);
        yieldWhenDue();
        return;
    }
    const double end = emscripten_get_now() + ms;
    for (;;) {
        pollWhenDue();
        const double left = end - emscripten_get_now();
        if (left <= 0) return;
        if (web.noYield) continue; // inside the page's call: only a busy wait is possible
        yieldToPage(std::min(left, 5.0), 0);
    }
}

// --- display ---------------------------------------------------------------------------------

int displayCreateWeb() {
    return displayOk;
}

// The page shows the show's own frame size, scaled: 320x200 and 320x240 in 16 bits.
void displayEnumModesWeb(int (*visit)(const DisplayMode&, void*), void* context) {
    constexpr DisplayMode modes[] = {{320, 200, 16}, {320, 240, 16}};
    for (const DisplayMode& mode : modes)
        if (!visit(mode, context)) return;
}

int displaySetExclusiveWeb(WindowHandle window) {
    if (window == 0 || window != web.showWindow) {
        setDisplayError("only the show window can take the page's canvas");
        return displayFailed;
    }
    web.exclusive = 1;
    return displayOk;
}

int displaySetModeWeb(std::int32_t width, std::int32_t height, std::int32_t bits) {
    if (!web.exclusive) {
        setDisplayError("the canvas was not taken for the show window first");
        return displayFailed;
    }
    if (bits != 16 || width <= 0 || height <= 0 || width > 1024 || height > 768) {
        setDisplayError("the page's canvas shows 16-bit frames up to 1024x768 only");
        return displayFailed;
    }
    surfaceSetMode(&web.surface, {width, height, bits}, surfaceRowBytes(width, bits));
    web.rgba.assign(static_cast<std::size_t>(width) * height, 0xFF000000u);
    morvaWebStageMode(width, height);
    return displayOk;
}

int displayCreatePrimaryWeb() {
    return surfaceCreate(&web.surface);
}

int displayLockWeb(SurfaceInfo* info, std::uint32_t flags) {
    return surfaceLock(&web.surface, info, flags);
}

// RGB565 to the canvas's bytes red, green, blue, alpha (a little-endian word), each component
// widened by repeating its top bits, as the recorder's stills do.
const std::array<std::uint32_t, 65536>& rgbaTable() {
    static const auto table = [] {
        std::array<std::uint32_t, 65536> t{};
        for (std::uint32_t p = 0; p < 65536; ++p) {
            const std::uint32_t r5 = (p >> 11) & 31, g6 = (p >> 5) & 63, b5 = p & 31;
            const std::uint32_t r = (r5 << 3) | (r5 >> 2), g = (g6 << 2) | (g6 >> 4), b = (b5 << 3) | (b5 >> 2);
            t[p] = 0xFF000000u | (b << 16) | (g << 8) | r;
        }
        return t;
    }();
    return table;
}

// A presenting unlock puts the frame on the canvas.
void displayUnlockWeb() {
    std::uint32_t flags = 0;
    SurfaceInfo written{};
    if (!surfaceUnlock(&web.surface, &flags, &written)) return;
    if ((flags & lockWriteOnly) == 0 || written.bits != 16) return;
    const auto& table = rgbaTable();
    std::uint32_t* out = web.rgba.data();
    for (std::int32_t y = 0; y < written.height; ++y) {
        const std::uint8_t* line = written.memory + static_cast<std::size_t>(y) * written.pitch;
        for (std::int32_t x = 0; x < written.width; ++x)
            *out++ = table[line[2 * x] | (line[2 * x + 1] << 8)];
    }
    morvaWebStagePresent(reinterpret_cast<const std::uint8_t*>(web.rgba.data()), written.width, written.height,
                         static_cast<double>(nowUs()));
}

int displayGetSurfaceInfoWeb(SurfaceInfo* info) {
    return surfaceGetInfo(&web.surface, info);
}

void displayRestoreWeb() {
    web.exclusive = 0;
    morvaWebStageHide();
    morvaWebCursor(1);
}

void displayReleasePrimaryWeb() {
    surfaceRelease(&web.surface);
}

void displayReleaseWeb() {}

// --- wave output -----------------------------------------------------------------------------
//
// On the page's clock the blocks go to Web Audio, which plays them one after another; a block is
// done once the page has played its last frame. On the virtual clock the model is the headless
// one: a block plays from the end of the one before (or from now, when the output ran dry) and
// is done once the clock has passed its end; the page keeps what was written.

int validFormat(const WaveFormat& format) {
    return (format.channels == 1 || format.channels == 2) && (format.bits == 8 || format.bits == 16) &&
           format.rate >= 3000 && format.rate <= 192000;
}

int waveDeviceCountWeb() {
    return onVirtualClock() || morvaWebAudioAvailable() ? 1 : 0;
}

int waveQueryWeb(const WaveFormat& format) {
    if (!waveDeviceCountWeb()) return waveNoDriver;
    return validFormat(format) ? waveOk : waveBadFormat;
}

int waveOpenWeb(WaveOutput** output, const WaveFormat& format) {
    if (!output) return waveBadDevice;
    if (!waveDeviceCountWeb()) {
        setWaveError("this browser has no Web Audio");
        return waveNoDriver;
    }
    if (web.wave) return waveBusy;
    if (!validFormat(format)) return waveBadFormat;
    if (!onVirtualClock()) {
        const int result = morvaWebAudioOpen(static_cast<std::int32_t>(format.rate), format.channels, format.bits);
        if (result != waveOk) {
            setWaveError("the browser cannot play sound at this rate");
            return result;
        }
    }
    web.wave = new WebWave{format, static_cast<std::uint32_t>(format.channels * format.bits / 8), 0,
                           nowFrames(format.rate), 1};
    *output = reinterpret_cast<WaveOutput*>(web.wave);
    return waveOk;
}

// Block bookkeeping: internal[0..1] the frame at which it ends, internal[2] the output's
// generation when it was written (a reset starts a new one: every block before counts as done).
void setBlockEnd(WaveBlock* block, std::int64_t end, std::uint32_t generation) {
    block->internal[0] = static_cast<std::uint32_t>(end);
    block->internal[1] = static_cast<std::uint32_t>(static_cast<std::uint64_t>(end) >> 32);
    block->internal[2] = generation;
}

std::int64_t blockEnd(const WaveBlock* block) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(block->internal[0]) |
                                     (static_cast<std::uint64_t>(block->internal[1]) << 32));
}

int waveWriteWeb(WaveOutput* output, WaveBlock* block) {
    auto* wave = reinterpret_cast<WebWave*>(output);
    if (!wave || wave != web.wave || !block || (!block->data && block->bytes)) return waveBadDevice;
    const std::uint32_t frames = block->bytes / wave->bytesPerFrame;
    const auto bytes = static_cast<std::int32_t>(frames * wave->bytesPerFrame);
    if (onVirtualClock()) {
        const std::int64_t start = std::max(wave->queueEnd, nowFrames(wave->format.rate));
        wave->queueEnd = start + frames;
        setBlockEnd(block, wave->queueEnd, wave->generation);
        if (frames)
            morvaWebAudioCapture(static_cast<double>(start), static_cast<std::int32_t>(wave->format.rate),
                                 wave->format.channels, wave->format.bits, block->data, bytes);
        return waveOk;
    }
    wave->written += frames;
    setBlockEnd(block, wave->written, wave->generation);
    if (frames) morvaWebAudioWrite(block->data, bytes);
    return waveOk;
}

int waveBlockDoneWeb(WaveOutput* output, const WaveBlock* block) {
    auto* wave = reinterpret_cast<WebWave*>(output);
    if (!wave || !block || block->internal[2] != wave->generation) return 1;
    const std::int64_t played =
        onVirtualClock() ? nowFrames(wave->format.rate) : static_cast<std::int64_t>(morvaWebAudioPlayed());
    return played >= blockEnd(block) ? 1 : 0;
}

int waveResetWeb(WaveOutput* output) {
    auto* wave = reinterpret_cast<WebWave*>(output);
    if (!wave) return waveBadDevice;
    if (onVirtualClock()) {
        const std::int64_t now = nowFrames(wave->format.rate);
        if (wave->queueEnd > now) morvaWebAudioCut(static_cast<double>(now), static_cast<std::int32_t>(wave->format.rate));
        wave->queueEnd = now;
    } else {
        morvaWebAudioReset();
    }
    ++wave->generation;
    return waveOk;
}

int waveCloseWeb(WaveOutput* output) {
    auto* wave = reinterpret_cast<WebWave*>(output);
    if (!wave || wave != web.wave) return waveBadDevice;
    if (!onVirtualClock()) morvaWebAudioClose();
    delete wave;
    web.wave = nullptr;
    return waveOk;
}

// --- looping sound buffer: not offered (the DirectSound device then finds nothing) ----------

int soundBufferCreateWeb(SoundBuffer** buffer, const WaveFormat&, std::uint32_t) {
    if (buffer) *buffer = nullptr;
    setWaveError("the page offers wave output only, no looping sound buffer");
    return waveNoDriver;
}
std::uint8_t* soundBufferDataWeb(SoundBuffer*) {
    return nullptr;
}
std::uint32_t soundBufferSizeWeb(const SoundBuffer*) {
    return 0;
}
int soundBufferPlayWeb(SoundBuffer*) {
    return waveBadDevice;
}
int soundBufferStopWeb(SoundBuffer*) {
    return waveBadDevice;
}
std::uint32_t soundBufferPlayCursorWeb(SoundBuffer*) {
    return 0;
}
void soundBufferReleaseWeb(SoundBuffer*) {}

// The sound settings live for the page's visit only.
const char* settingsFolderWeb() {
    return nullptr;
}

const HostBackend backend = {
    .name = "web",
    .init = init,
    .shutdown = shutdown,
    .windowCreated = windowCreated,
    .windowDestroyed = windowDestroyed,
    .windowShown = windowShown,
    .windowChanged = windowChanged,
    .pumpEvents = pumpEvents,
    .listAdded = listAdded,
    .messageBox = messageBoxShown,
    .showCursor = showCursorWeb,
    .screenWidth = screenW,
    .screenHeight = screenH,
    .traceStatus = traceStatusIgnored,
    .counterFrequency = counterFrequencyWeb,
    .counterRead = counterReadWeb,
    .sleepMs = sleepWeb,
    .threadStart = nullptr, // one thread: the host polls (platform/hostpoll.h)
    .threadJoin = nullptr,
    .displayCreate = displayCreateWeb,
    .displayEnumModes = displayEnumModesWeb,
    .displaySetExclusive = displaySetExclusiveWeb,
    .displaySetMode = displaySetModeWeb,
    .displayCreatePrimary = displayCreatePrimaryWeb,
    .displayLock = displayLockWeb,
    .displayUnlock = displayUnlockWeb,
    .displayGetSurfaceInfo = displayGetSurfaceInfoWeb,
    .displayRestore = displayRestoreWeb,
    .displayReleasePrimary = displayReleasePrimaryWeb,
    .displayRelease = displayReleaseWeb,
    .waveDeviceCount = waveDeviceCountWeb,
    .waveQuery = waveQueryWeb,
    .waveOpen = waveOpenWeb,
    .waveWrite = waveWriteWeb,
    .waveBlockDone = waveBlockDoneWeb,
    .waveReset = waveResetWeb,
    .waveClose = waveCloseWeb,
    .soundBufferCreate = soundBufferCreateWeb,
    .soundBufferData = soundBufferDataWeb,
    .soundBufferSize = soundBufferSizeWeb,
    .soundBufferPlay = soundBufferPlayWeb,
    .soundBufferStop = soundBufferStopWeb,
    .soundBufferPlayCursor = soundBufferPlayCursorWeb,
    .soundBufferRelease = soundBufferReleaseWeb,
    .settingsFolder = settingsFolderWeb,
};

} // namespace

void webConfigure(const WebOptions& options) {
    web.options = options;
}

const HostBackend* webBackend() {
    return &backend;
}

WebOptions webPageOptions() {
    WebOptions options;
    options.virtualClock = morvaWebOptionVirtualClock();
    return options;
}

std::int64_t webNowUs() {
    return nowUs();
}

// The page calls this when the sound output has played a block: the poll refills it now rather
// than at its next time (page's clock only; nothing waits inside it).
extern "C" EMSCRIPTEN_KEEPALIVE void morva_web_sound_played() {
    if (onVirtualClock() || !web.wave) return;
    ++web.noYield;
    hostPollRunNow(nowTicks(), realFrequency);
    --web.noYield;
}
