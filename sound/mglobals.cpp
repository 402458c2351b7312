#include "sound/mglobals.h"

namespace {
constexpr std::array<int, soundOptionCount + 1> optionDefaults = {
    0,     // unused
    44100, // mixing rate
    0,     // output mode: no preference
    500,   // output buffer, ms
    16,    // mixing buffer blocks
    0,     // DirectSound mode: never
    0,     // DirectSound window
    0,     // DirectSound object
    100,   // DirectSound buffer, ms
    1,     // mu-law samples in integer mixing
    3,     // output filter
    0,     // interpolation off
    64,    // default stereo separation
    0,     // force no sound
};
} // namespace

SoundDevice* currentDevice = nullptr;

std::array<int, soundOptionCount + 1> soundOptions = optionDefaults;

void resetSoundOptions() {
    soundOptions = optionDefaults;
}

int chosen_device_number = -1;
int neverUseDirectSound = 0;

int last_error = 0;
