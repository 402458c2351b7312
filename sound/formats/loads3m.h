// Scream Tracker 3 loader: builds a Module (play mode 2) from a Scream
// Tracker 3 file ("SCRM"), keeping the sample data or handing it to the
// sound device.
#pragma once

#include "sound/formats/module.h"

#include <cstddef>
#include <cstdint>

// Loads a Scream Tracker 3 file. addSamplesToDevice nonzero hands every
// sample to currentDevice's addSample (copied; data stays null), 0 keeps the
// data in each Sample. callback may be null. On failure nothing is left
// allocated and *moduleOut is not written.
int load_scream_tracker_module(const char* fileName, int addSamplesToDevice, SampleCallback callback,
                               Module** moduleOut);
