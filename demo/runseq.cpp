// The run sequence: the program's main routine from the settings to the final fade.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

#include "demo/demo.h"
#include "effects/colour.h"
#include "effects/opening.h"
#include "effects/tunnel.h"
#include "effects/water.h"
#include "sound/api/soundapi.h"

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

namespace {
WindowHandle logList = 0;
PlayStatus playStatus{}; // the last status read
} // namespace

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
    updateWindow(configWindow); // seen at once, though nothing pumps messages while loading
}

void logFormat(const char* format, ...) {
    char message[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(message, sizeof message, format, arguments);
    va_end(arguments);
    logLine(message);
}

void reportCause(const char* format, ...) {
    std::fputs("morva: ", stderr);
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fputs("\n", stderr);
    std::fflush(stderr);
}

std::string currentFolder() {
    std::error_code error;
    const std::string folder = std::filesystem::current_path(error).string();
    return error ? std::string("the current folder") : folder;
}

namespace {

constexpr const char* dataAdvice = "run from the folder that holds the show's data (build/data)";

// Why the library could not load a module, in its own words.
const char* soundError() {
    return sound_get_error_message(sound_get_last_error());
}

} // namespace

PlayStatus readPlayStatus() {
    // A song that is not playing (a second module that failed to load) leaves the status as it was.
    sound_get_play_status(song, &playStatus);
    traceStatus(playStatus.position, playStatus.row);
    return playStatus;
}

PlayStatus startMusic() {
    song = sound_play_module(music, demoSettings.musicLoop);
    return readPlayStatus();
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
    // 5. The sound library's settings to their defaults (the setup dialog may change them), then
    // the sound setup the user confirmed at an earlier start.
    sound_startup();
    restoreSoundSetup();
    // 6. The display, needed now for the mode list.
    createDirectDraw();
    // 7. Configuration until "GO!".
    runConfigWindow();
    // 8. Sound output; without a usable device the show runs silently on the no-sound device,
    // whose clock still moves the music's positions on.
    if (!sound_init()) {
        reportCause("no sound output can be opened (%s); the show runs in silence",
                    *waveError() ? waveError() : soundError());
        sound_set_option(optForceNoSound, 1);
        sound_init();
        logLine("VIREZ sound init error (no/busy hardware), sound output disabled...");
    }
    // 9-10. The first module.
    logFormat("Loading music (%s)...", demoSettings.musicFile);
    music = sound_load_module(demoSettings.musicFile);
    if (!music) {
        reportCause("cannot load the music module \"%s\" in %s: %s; %s", demoSettings.musicFile,
                    currentFolder().c_str(), soundError(), dataAdvice);
        messageBox(0, "Error loading module!", nullptr);
        sound_close();
        exitProcess(1);
    }
    // 11. The archive.
    logFormat("Opening file library (%s)...", demoSettings.libraryFile);
    library = new FileLibrary{};
    errno = 0;
    libraryOpen(library, demoSettings.libraryFile, 0, 0);
    if (!library->stream) {
        // The archive is opened for reading and updating, so a read-only copy fails too.
        const int error = errno;
        const bool readOnly = error == EACCES || error == EROFS || error == EPERM;
        reportCause("cannot open the archive \"%s\" in %s: %s; %s", demoSettings.libraryFile,
                    currentFolder().c_str(), error ? std::strerror(error) : "unknown error",
                    readOnly ? "the show opens it for reading and writing, so it and its folder must be writable"
                             : dataAdvice);
        delete library;
        library = nullptr;
        messageBox(0, "Error loading filelib!", nullptr);
        sound_close();
        exitProcess(1);
    }
    // Checked whole before anything is shown: every entry inside the file, and every entry the
    // parts will read there and long enough, so a damaged archive never plays as a black show.
    if (const std::string problem = archiveProblem(library); !problem.empty()) {
        reportCause("the archive \"%s\" in %s is damaged: %s; %s", demoSettings.libraryFile,
                    currentFolder().c_str(), problem.c_str(),
                    archiveAdvice(demoSettings.libraryFile).c_str());
        releaseLibrary();
        messageBox(0, "Error loading filelib!", nullptr);
        sound_close();
        exitProcess(1);
    }
    // 12. The colour tables every part draws with.
    logLine("Loading data... ");
    buildScaleTables();
    logLine("ok\n");
    // 13. The polling thread plays from now on.
    sound_start_background_play(0);
    // 14.
    logLine("");
    logLine("Done...");
    // 15. Full screen in the chosen mode.
    setupDisplay();
    // 16. Frame timer.
    setFrameRate(30);
    const Stage stage = showStage();
    // 17. The opening, which starts the first module after its 3,000 ms warning and runs while
    // the order position is below 5.
    runOpening(stage);
    // 18. Change of music. The second load's result is not checked: without a module the song
    // does not start and the show waits at this point for Escape.
    sound_stop_module(song);
    sound_free_module(music);
    music = sound_load_module(secondMusicFile);
    if (!music)
        reportCause("cannot load the music module \"%s\" in %s: %s; the show waits here until Escape",
                    secondMusicFile, currentFolder().c_str(), soundError());
    // 19. The credits, which start the second module, arm the frame timer again and run while
    // the order position is below 6.
    runCredits(stage);
    // 20. The tunnel, on the same song, up to order position 14.
    runTunnel(stage);
    // 21. The end of the show.
    waitMs(1000);
    sound_stop_module(song);
    for (std::int32_t level = 32; level >= 1; --level) {
        fadeFrame(frameBuffer0, level); // each step darkens the already darkened frame again
        presentFrame(surfaceMemory, frameBuffer0);
    }
    closeShow();
    return 1;
}
