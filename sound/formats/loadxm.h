// Extended Module loader: builds a Module (play mode 3) from an Extended
// Module file, keeping the sample data or handing it to the sound device.
#pragma once

#include "sound/formats/module.h"

#include <cstddef>
#include <cstdint>

// Loads an Extended Module file. addSamplesToDevice nonzero hands every
// sample to currentDevice's addSample (copied; data stays null), 0 keeps the
// decoded data in each Sample. callback may be null. On failure nothing is
// left allocated and *moduleOut is not written.
int load_extended_module(const char* fileName, int addSamplesToDevice, SampleCallback callback,
                         Module** moduleOut);
