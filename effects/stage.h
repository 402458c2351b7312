// What a part of the show is given by the framework that runs it, and the loop every part runs.
// A part draws 320 x 200 RGB565 frames and sees the rest of the program only through the Stage
// it is handed: the frame buffers to draw into, the archive loads, the frame pump, presentation,
// the frame timer and the music's play status. The run sequence (demo/) fills one Stage and
// passes it to each part in turn; the parts name nothing of the framework beyond this header and
// link against nothing above them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sound/api/soundapi.h" // PlayStatus

// The frame every part draws: 320 x 200 pixels of RGB565, row-major, 640 bytes a row.
constexpr std::int32_t frameWidth = 320;
constexpr std::int32_t frameHeight = 200;
constexpr std::size_t framePixels = 320 * 200;

// One entry a part reads from the archive: its name and the number of 16-bit elements read.
// Each part lists its items, so the run sequence can check them all before the show starts.
struct ArchiveItem {
    const char* name;
    std::size_t count;
};

// The framework as a part sees it. Every field is set; the functions run on the main thread.
struct Stage {
    std::uint16_t* frameBuffer0; // a frame to draw into
    std::uint16_t* frameBuffer1; // a second frame, lying directly after frameBuffer0 in memory
    // Reads item.count 16-bit elements of the entry item.name into destination. An entry that
    // cannot be read whole ends the show with the archive's error; this returns only on success.
    void (*load)(const ArchiveItem& item, std::uint16_t* destination);
    // Once per animation step: one window message, Escape (which ends the show from inside),
    // pacing to the frame length. Returns 1 to draw this step, 0 to skip drawing and catch up.
    int (*framePump)();
    // Shows a frame on the screen, converted and placed as the video mode needs.
    void (*presentFrame)(const std::uint16_t* frame);
    // Busy-waits ms milliseconds, handling no messages. Returns the elapsed ms.
    std::int32_t (*waitMs)(std::int32_t ms);
    // Arms the frame timer again: 1000 / framesPerSecond ms a frame, counted from now.
    void (*setFrameRate)(std::uint8_t framesPerSecond);
    // Starts the module the run sequence has loaded from its beginning and returns its first
    // play status.
    PlayStatus (*startMusic)();
    // Where the music is now (a song that is not playing keeps the last status read).
    PlayStatus (*readPlayStatus)();
};

// When a part's loop reads the play status again.
enum class StatusReading {
    everyPass,       // after every pass, whether it drew a frame or not
    afterDrawnFrame, // only after a drawn frame: a skipped step keeps the old position and row
};

// Runs a part's loop from status until the music's order position reaches endPosition. Each pass
// calls step(position, row), which advances the animation whether or not the step is drawn, then
// the frame pump; when the pump says draw, draw(position, row) draws and returns the frame to
// present. Returns the play status the loop ended on.
template <typename Step, typename Draw>
PlayStatus runUntilPosition(const Stage& stage, PlayStatus status, std::int32_t endPosition,
                            StatusReading reading, Step step, Draw draw) {
    while (status.position < endPosition) {
        const std::int32_t position = status.position, row = status.row;
        step(position, row);
        if (stage.framePump()) {
            stage.presentFrame(draw(position, row));
            if (reading == StatusReading::afterDrawnFrame) status = stage.readPlayStatus();
        }
        if (reading == StatusReading::everyPass) status = stage.readPlayStatus();
    }
    return status;
}
