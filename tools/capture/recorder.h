// What morva-capture writes: events.tsv, video.y4m, audio.wav and still-MS.png in one folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/headless.h"

struct CaptureSettings {
    std::string folder;
    std::vector<std::int64_t> stills; // virtual milliseconds
};

// Opens the folder's files and returns the recorder to hand to headlessConfigure. Returns false
// (with a message on standard error) when the folder cannot be written.
bool captureOpen(const CaptureSettings& settings, HeadlessRecorder* recorder);
