// What morva-capture writes: events.tsv, video.y4m, audio.wav and still-MS.png in one folder, and
// on request a movie of video and sound made by ffmpeg.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/headless.h"

// Exit codes of the capture's own, besides the show's (1 normal end or set-up error, 0 Escape or
// a closed window, 255 fatal sound error) and 2 for a bad option or an output folder that cannot
// be written: the run reached its bound of show time (the show did not end by itself), and a
// file could not be written during the run (disk full, a file size limit, ...).
inline constexpr int captureExitStopped = 5;
inline constexpr int captureExitWriteFailed = 6;

struct CaptureSettings {
    std::string folder;
    std::vector<std::int64_t> stills; // virtual milliseconds
    std::string mp4{};                // a movie muxed from video and sound at the end (with ffmpeg)
    std::int64_t maxSeconds = 0;      // the bound of show time, for the line that says it was reached
};

// Opens the folder's files and returns the recorder to hand to headlessConfigure. Returns false
// (with the path and the system's reason on standard error) when the folder cannot be written.
//
// A file that cannot be written during the run (disk full, a file size limit) stops the capture
// at once: a line names the path and the system's reason, the incomplete file is removed, what
// is complete is kept, and the process ends with captureExitWriteFailed. A run stopped at its
// bound (HeadlessOptions::stopAtMs with captureExitStopped) gets a line saying why.
bool captureOpen(const CaptureSettings& settings, HeadlessRecorder* recorder);
