// The run sequence: the program's main routine from the settings to the final fade.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

#include "demo/demo.h"
#include "effects/colour.h"
#include "sound/soundapi.h"

DemoSettings demoSettings;
char demoTitle[256];
WindowHandle configWindow = 0;
WindowHandle demoWindow = 0;
std::int32_t mmxAvailable = 0;
std::int32_t useMmx = 0;
std::int32_t startRequested = 0;
std::int32_t escapePressed = 0;
FileLibrary* library = nullptr;
Module* music = nullptr;
std::int32_t song = 0;
PlayStatus playStatus{};

namespace {
WindowHandle logList = 0;
}

DemoSettings defaultSettings() {
    DemoSettings settings{};
    settings.bufferType = 0;
    settings.modeIndex = 5; // 320x240x16
    settings.interlaced = 0;
    std::snprintf(settings.musicFile, sizeof settings.musicFile, "%s", "mopart1.xm");
    std::snprintf(settings.libraryFile, sizeof settings.libraryFile, "%s", "morva.flb");
    settings.musicLoop = 0;
    return settings;
}

std::int32_t detectMmx() {
#if defined(__i386__) || defined(__x86_64__)
    unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return (edx >> 23) & 1;
#endif
    return 0;
}

void setLogList(WindowHandle list) {
    logList = list;
}

void logLine(const char* text) {
    char line[256];
    std::size_t n = 0;
    for (const char* c = text ? text : ""; *c && n + 1 < sizeof line; ++c)
        if (*c != '\n') line[n++] = *c;
    line[n] = '\0';
    controlAddString(logList, line);
}

void logFormat(const char* format, ...) {
    char message[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(message, sizeof message, format, arguments);
    va_end(arguments);
    logLine(message);
}

void readPlayStatus() {
    sound_get_play_status(song, &playStatus);
    traceStatus(playStatus.position, playStatus.row);
}

void releaseLibrary() {
    if (!library) return;
    libraryClose(library);
    delete library;
    library = nullptr;
}

int demoMain() {
    // 1. Title and settings.
    std::snprintf(demoTitle, sizeof demoTitle, "%s", "'Morva by Gravel Mantle'");
    demoSettings = defaultSettings();
    // 2. MMX.
    mmxAvailable = detectMmx();
    // 3. The clock starts at 0.
    frameTimer.nowMs = 0;
    // 4. Buffer and display sizes.
    setBufferFormat(demoSettings.bufferType);
    setVideoMode(demoSettings.modeIndex);
    // 5. sound_startup comes here with the sound library's programming interface.
    // 6. The display, needed now for the mode list.
    createDirectDraw();
    // 7. Configuration until "GO!".
    runConfigStage();
    // 8. sound_init (retry on the silent device with the "VIREZ sound init error ..." log line),
    // 9. "Loading music (%s)..." and
    // 10. sound_load_module of musicFile ("Error loading module!") come with the sound library's
    //     programming interface.
    // 11. The archive.
    logFormat("Opening file library (%s)...", demoSettings.libraryFile);
    library = new FileLibrary{};
    libraryOpen(library, demoSettings.libraryFile, 0, 0);
    if (!library->stream) {
        delete library;
        library = nullptr;
        messageBox(0, "Error loading filelib!", nullptr);
        // sound_close comes here with the sound library.
        exitProcess(1);
    }
    // 12. The colour tables every part draws with.
    logLine("Loading data... ");
    buildScaleTables();
    logLine("ok\n");
    // 13. sound_start_background_play (0) comes with the sound library.
    // 14.
    logLine("");
    logLine("Done...");
    // 15. Full screen in the chosen mode.
    setupDisplay();
    // 16. Frame timer.
    setFrameRate(30);
    // 17-20. The opening (with the first module's start after the 3,000 ms warning), the change
    // of music at order 5, the credits (with setFrameRate (30) right after the second module
    // starts) and the tunnel come here as they land. Until then a stand-in keeps the pump going.
    runShowStandIn();
    // 21. The end of the show.
    waitMs(1000);
    // sound_stop_module (song) comes here with the sound library.
    for (std::int32_t level = 32; level >= 1; --level) {
        fadeFrame(frameBuffer0, level); // each step darkens the already darkened frame again
        presentFrame(surfaceMemory, frameBuffer0);
    }
    releaseDisplay();
    freeBuffers();
    releaseLibrary();
    // sound_stop_background_play, sound_free_module (music), sound_close come here.
    return 1;
}
