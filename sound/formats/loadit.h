// Impulse Tracker loader: builds a Module (play mode 4) from an Impulse
// Tracker file ("IMPM"), keeping the sample data or handing it to the sound
// device. Compressed samples (Impulse Tracker 2.14 and 2.15) are decoded.
#pragma once

#include "sound/formats/module.h"

#include <cstddef>
#include <cstdint>

// Loads an Impulse Tracker file. addSamplesToDevice nonzero hands every
// sample to currentDevice's addSample (copied; data stays null), 0 keeps the
// data in each Sample. callback may be null. On failure nothing is left
// allocated and *moduleOut is not written.
int load_impulse_tracker_module(const char* fileName, int addSamplesToDevice, SampleCallback callback,
                                Module** moduleOut);

// Decodes frames sample frames of compressed Impulse Tracker data (blocks of
// a 16-bit byte count and a bit stream) into out as signed 8-bit bytes or
// signed 16-bit little-endian values. it215 selects the 2.15 form, whose
// values are summed twice. Data that ends early is errEndOfFile; a stream
// that cannot be decoded is errInvalidInstrument.
// framesDone, when given, gets the frames decoded in whole blocks (all of
// them on success, as far as the data went when it ends early).
int decompress_it_sample(const std::uint8_t* data, std::size_t size, bool sixteenBit, bool it215,
                         std::uint8_t* out, std::size_t frames, std::size_t* framesDone = nullptr);
