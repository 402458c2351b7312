// Protracker loader: builds a Module (play mode 1) from a Protracker-style
// file of 1..32 channels ("M.K.", "M!K!", "FLT4", "OCTA", "xCHN", "xxCH",
// "TDZx"), keeping the sample data or handing it to the sound device.
#pragma once

#include "sound/formats/module.h"

#include <cstddef>
#include <cstdint>

// Loads a Protracker file. addSamplesToDevice nonzero hands every sample to
// currentDevice's addSample (copied; data stays null), 0 keeps the data in
// each Sample. callback may be null. On failure nothing is left allocated and
// *moduleOut is not written.
int load_protracker_module(const char* fileName, int addSamplesToDevice, SampleCallback callback,
                           Module** moduleOut);

// Channel count named by the 4 signature bytes at offset 1080; 0 when they
// name none (a file of 15 instruments, or not a Protracker file at all).
int protracker_channels(const std::uint8_t* signature);
