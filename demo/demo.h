// The demo framework: the run sequence, the settings and shared state, display set-up, frame
// timing with the per-frame pump, and frame presentation. Everything here runs on the main thread.
// The parts of the show (effects/) sit below it: they are handed a Stage (showStage) and never
// see this header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "effects/stage.h"
#include "filelib/filelib.h"
#include "platform/platform.h"

struct Module; // the sound library's loaded song

// ---------------------------------------------------------------------------------------------
// Settings and shared state (runseq.cpp)

struct DemoSettings {
    std::uint8_t bufferType; // frame-buffer format code; 0 = 320x200 at 16 bits
    std::uint8_t modeIndex;  // video mode index 2..16
    std::int32_t interlaced; // 1 when an " interlaced" entry was chosen
    char musicFile[80];      // first music module
    char libraryFile[80];    // the data archive
    std::uint8_t musicLoop;  // loop flag for both modules
};

// The defaults every start begins from.
DemoSettings defaultSettings();

extern DemoSettings demoSettings; // the working copy
extern char demoTitle[256];
extern WindowHandle configWindow;
extern WindowHandle demoWindow;
extern std::int32_t mmxAvailable;
extern std::int32_t useMmx;
extern std::int32_t startRequested;
extern std::int32_t escapePressed;
extern FileLibrary* library;
extern Module* music;     // set once the sound library loads modules
extern std::int32_t song; // song handle of the sound library

constexpr const char* secondMusicFile = "mopart2.xm";

// The program's main routine: runs the whole show; returns 1 at the normal end. Every other way
// out ends the process from inside with its exit code.
int demoMain();

// Adds text, without its line feeds, as one new entry of the configuration window's log.
void logLine(const char* text);

// logLine of a printf-style message (built in a 512-character buffer).
void logFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));

// One line on standard error naming what failed and where ("morva: " and the printf-style text):
// the message boxes keep their short texts, this says what to do about them.
void reportCause(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The folder the show was started in, which is where it looks for its files.
std::string currentFolder();

// Where logLine writes: the configuration window's list box.
void setLogList(WindowHandle list);

// Reads the song's play status and hands it to the recording's trace; the parts call it once per
// pass of their loops. A song that is not playing keeps the last status read.
PlayStatus readPlayStatus();

// Starts the loaded module (music, with the settings' loop flag) into song and reads its status.
PlayStatus startMusic();

// The stage the parts of the show run on: the frame buffers, archive loads, frame pump,
// presentation, frame timer and music of the framework (stage.cpp). Valid once the display is
// set up.
Stage showStage();

// Closes the archive and frees its record, when one is open.
void releaseLibrary();

// ---------------------------------------------------------------------------------------------
// The archive the parts read (archive.cpp)

// What keeps the show from reading an open archive, in words for the cause line: a fault of its
// directory (an entry that does not lie inside the file, a garbled header), or an entry a part
// reads that is missing or shorter than the part reads. Empty when every part can read all it
// needs; bytes after the last entry are no obstacle.
std::string archiveProblem(FileLibrary* archive);

// What a user can do about a damaged archive called fileName.
std::string archiveAdvice(const char* fileName);

// Reads a part's item from the archive whole (the stage's load). Anything less ends the show:
// a cause line, the display and sound shut down, "Error loading filelib!" and exit code 1.
void loadArchiveItem(const ArchiveItem& item, std::uint16_t* destination);

// 1 when the processor reports MMX.
std::int32_t detectMmx();

// ---------------------------------------------------------------------------------------------
// Configuration (config.cpp)

// Text of a mode list entry: "%dx%dx%d", with " interlaced" when asked for.
void modeEntryText(char* buffer, std::size_t size, std::int32_t width, std::int32_t height, std::int32_t bits,
                   int interlacedEntry);

// Sets modeIndex and interlaced from a chosen entry text; a text of no mode changes nothing.
// Returns 1 when the text was known.
int applyModeText(DemoSettings* settings, const char* text);

// The entry text of a mode index as the configuration preselects it, or null outside 2..16.
const char* defaultModeText(std::uint8_t modeIndex, std::int32_t interlaced);

// The entry texts the mode list shows for a display offering these modes, in the list's order.
std::vector<std::string> modeEntryTexts(const std::vector<DisplayMode>& modes);

// Fills a combo box with the display's modes that suit the frame buffer.
void fillModeList(WindowHandle modeList);

// The configuration window: built, filled and run until "GO!"; the chosen entry sets modeIndex
// and interlaced. The window stays as the loading log.
void runConfigWindow();

// Its window procedure (class "ZYNDEMOCFG"): closing ends the process with 0; "GO!" sets
// startRequested, "Audio Config" runs the sound setup dialog (and keeps a confirmed setup for the
// next start), "Use MMX" sets useMmx.
std::intptr_t configWindowProc(WindowHandle window, const Message& message);

// The name of the file in the per-user settings folder that keeps the confirmed sound setup.
constexpr const char* soundSetupName = "sound-setup.bin";

// The file the sound setup confirmed in the sound setup dialog is kept in, in the run's per-user
// settings folder; empty when the run keeps no settings on the disk.
std::string soundSetupFile();

// Takes over the sound setup kept by an earlier start, after sound_startup. A file that cannot be
// read is reported on standard error, and the library's defaults stay; no file, nothing happens.
void restoreSoundSetup();

// Keeps the sound setup just confirmed for the next start; says on standard error when it cannot.
void keepSoundSetup();

// ---------------------------------------------------------------------------------------------
// Display set-up (display.cpp)

extern std::int32_t bufferWidth, bufferHeight, bufferBits;
extern std::int32_t displayWidth, displayHeight, displayBits;
extern SurfaceInfo surfaceDesc;     // the shared surface description
extern std::uint8_t* surfaceMemory; // recorded once at set-up
extern std::uint8_t* bufferBlock;   // the four buffers in one zeroed allocation
extern std::uint16_t* frameBuffer0;
extern std::uint16_t* frameBuffer1;
extern std::uint16_t* frameBuffer2;
extern std::uint16_t* conversionBuffer;

// Frame-buffer size from bufferType 0..3; other codes change nothing.
void setBufferFormat(std::uint8_t bufferType);

// Display size from modeIndex 2..16; other indices change nothing.
void setVideoMode(std::uint8_t modeIndex);

// Opens the display; on failure "DirectDraw Error!" and exit code 1, and without any screen to
// show on a cause line and exitNoDisplay.
void createDirectDraw();

// Show window, exclusive full screen, the chosen mode, the primary surface, the buffer block and
// the presentation parameters. Returns only on success; failures end the process with code 1.
void setupDisplay();

// Window procedure of the show window: close ends the process (0), Escape sets escapePressed.
std::intptr_t showWindowProc(WindowHandle window, const Message& message);

// Frees the buffer block.
void freeBuffers();

// ---------------------------------------------------------------------------------------------
// Presentation (present.cpp); frames are 320 x 200 (frameWidth, frameHeight: effects/stage.h)

enum CopyCase : std::uint32_t { copyDirect = 1, copyCentred = 16, copyDoubled = 32, copyNone = 0xFFFF };

struct Presentation {
    std::uint32_t displayBytes;
    std::int32_t pitch;
    std::int32_t rowSkip;
    std::uint32_t rowWords;
    std::uint32_t topOffset;
    std::uint32_t doubledTopOffset;
    std::uint32_t leftOffset;
    std::uint32_t skipSecondLine;
    std::uint32_t copyCase;
    std::uint32_t convertTo555;
};

extern Presentation presentation;

// Works out how frames are copied into the chosen mode, from the surface's description.
void preparePresentation();

// Copies a 320x200 RGB565 frame into the surface (converted to 5-5-5 where the display needs it).
void presentFrame(std::uint8_t* destination, const std::uint16_t* frame);

// Converts pixels RGB565 -> RGB555 two at a time (pixels must be even).
void convertTo555(std::uint16_t* destination, const std::uint16_t* source, std::size_t pixels);

// Restores the desktop, releases the surface and the display.
void releaseDisplay();

// ---------------------------------------------------------------------------------------------
// Frame timing and input (timing.cpp)

struct FrameTimer {
    std::int64_t counterFrequency;
    double msPerTick;
    std::int64_t nowMs; // 64 bits, so the clock goes on past 2^31 ms
    std::uint32_t frameMs;
    std::int64_t frameStartMs;
    std::uint32_t skippedFrames;
};

extern FrameTimer frameTimer;

// Reads the counter into nowMs.
void updateClock();

// Frame length 1000 / framesPerSecond ms, fresh counter calibration, timer reset.
void setFrameRate(std::uint8_t framesPerSecond);

// Restarts the frame timer from now.
void resetFrameTimer();

// Once per animation step: one message, Escape, pacing. Returns 1 to draw this step, 0 to skip.
int framePump();

// Busy-waits ms milliseconds on the counter, handling no messages. Returns the elapsed ms.
std::int32_t waitMs(std::int32_t ms);

// Gives the desktop back and closes everything after the music has stopped: display, buffers,
// archive, background play, the module and the sound library.
void closeShow();

// The Escape path: everything shut down, "User interruption" message, exit code 0.
[[noreturn]] void abortShow();

