// The silent device: mixes at 4000 Hz mono into a scratch buffer that nobody
// hears, at the pace of the millisecond clock, so that the music's positions
// (and everything timed by them) go on without any sound output.
#pragma once

#include "sound/output/sdevice.h"

#include <cstdint>

// The device's state, readable for tests and diagnostics.
struct NoSoundState {
    uint32_t suspended;
    uint32_t lastTick; // tickCountMs at the last poll
    uint32_t framesOwed;
    uint32_t framesPerTick;
    uint32_t framesLeft;
};
extern NoSoundState noSound;

// The silent device record ("Mixing No Sound Sound Device").
extern SoundDevice noSoundDevice;
