#include "sound/api/mglobals.h"

#include "sound/output/dsmnsnd.h"
#include "sound/output/dsound.h"
#include "sound/output/winwave.h"

#include <algorithm>

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

SoundDevice* const soundDevices[soundDeviceCount + 1] = {&dsoundDevice, &winWaveDevice, &noSoundDevice, nullptr};

int last_error = 0;
int background_play_active = 0;
int channels_open = 0;
int* channel_in_use = nullptr;
int base_amplification = 0;
int amplification_percent = 100;
std::array<PlayingSong*, maxSongs> playing_songs{};
int channels_opened_for_song = 0;
int device_initialised = 0;
int player_initialised = 0;
int render_active = 0;
int device_port = -1, device_irq = -1, device_dma = -1, device_card_type = -1;
ErrorReportHook error_report_hook = nullptr;

int background_voices_for(const Module* module, int channels) {
    if (module->play_mode != playModeImpulse || !(module->flags & moduleInstrumentMode)) return 0;
    for (int k = 0; k < module->instrument_count; ++k) {
        const Instrument* ins = module->instruments ? module->instruments[k] : nullptr;
        if (ins && ins->used && ins->new_note_action != 0) return std::clamp(64 - channels, 0, maxBackgroundVoices);
    }
    return 0;
}
