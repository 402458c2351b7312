// Protracker loader: builds a Module (play mode 1) from a Protracker-style
// file of 1..32 channels, known by the signature at offset 1080 ("M.K.",
// "xCHN", "xxCH", "TDZx", and those of the trackers that wrote the format's
// variants: NoiseTracker, Startrekker, Octalyser, Digital Tracker, ...), or
// from a 15-sample Soundtracker file, which has none; it keeps the sample
// data or hands it to the sound device.
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
// name none (a 15-sample Soundtracker file, or not a Protracker file at all).
int protracker_channels(const std::uint8_t* signature);
