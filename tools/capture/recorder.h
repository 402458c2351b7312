// What morva-capture writes: events.tsv, video.y4m, audio.wav and still-MS.png in one folder, and
// on request a movie of video and sound made by ffmpeg.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/headless.h"

struct CaptureSettings {
    std::string folder;
    std::vector<std::int64_t> stills; // virtual milliseconds
    std::string mp4{};                // a movie muxed from video and sound at the end (with ffmpeg)
};

// Opens the folder's files and returns the recorder to hand to headlessConfigure. Returns false
// (with a message on standard error) when the folder cannot be written.
bool captureOpen(const CaptureSettings& settings, HeadlessRecorder* recorder);
