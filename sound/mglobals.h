// Global state shared inside the sound library.
#pragma once

#include "sound/soundapi.h"

#include <array>

struct SoundDevice;

// The sound device in use: loaders hand samples to it and the module
// freeing routine removes them from it. Null until a device is chosen.
extern SoundDevice* currentDevice;

// The library's option settings by number (SoundOption, 1..13; entry 0 is
// unused). They start at their defaults; sound_startup sets them again.
extern std::array<int, soundOptionCount + 1> soundOptions;

// Sets every option to its default.
void resetSoundOptions();

// The device to use: -1 detects one, 0..2 picks DirectSound, wave output or
// the silent device. Set by the sound setup dialog.
extern int chosen_device_number;

// Nonzero: the DirectSound device reports itself absent (sound setup dialog).
extern int neverUseDirectSound;

// Error code of the most recent failing interface call; never cleared by success.
extern int last_error;
