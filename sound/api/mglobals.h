// Global state shared inside the sound library: the option settings, the
// chosen device, the table of playing songs and channels, the start-up flags
// and the error-report hook. One instance each; the programming interface
// (soundapi), the internal layer (virez) and the polling thread (mpoll) work
// on them, always under the library lock where the polling thread may look.
#pragma once

#include "sound/api/errors.h"
#include "sound/api/soundapi.h"

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

// The devices in detection order (DirectSound, wave output, silent), null-ended.
inline constexpr int soundDeviceCount = 3;
extern SoundDevice* const soundDevices[soundDeviceCount + 1];

// Error code of the most recent failing interface call; never cleared by success.
extern int last_error;

// The interface's answer to a step's error code: 1 on success; else the code is kept as the last
// error and the answer is 0.
inline int keepResult(int err) {
    if (err == errOK) return 1;
    last_error = err;
    return 0;
}

// 1 while the polling thread runs.
extern int background_play_active;

// Device channels opened through the interface (0: not open), and which are taken.
extern int channels_open;
extern int* channel_in_use;

// The device's amplification right after the channels were opened, and the
// percentage of it the program asked for (default 100).
extern int base_amplification;
extern int amplification_percent;

// One playing song: its play handle, the device channel of each song channel,
// and the device channels of its background voices (the player swaps them
// with its channels' as notes move to the background; together they stay the song's).
struct PlayingSong {
    int channel_count;
    PlayHandle* handle;
    std::array<int, maxModuleChannels> channels;
    int background_count;
    std::array<int, maxBackgroundVoices> background;
};

// The songs playing now; slot index + 1 is the song handle.
extern std::array<PlayingSong*, maxSongs> playing_songs;

// Set when the last play call opened the channels itself (stopping it closes them).
extern int channels_opened_for_song;

// Start-up steps that have completed; shutting down undoes exactly these.
extern int device_initialised;
extern int player_initialised;

// 1 while a module is open for rendering (render.h): the mixer and the player
// are the rendering's, and no device may open.
extern int render_active;

// Voices for the notes that an Impulse Tracker song's instruments let sound on
// under the next note: as many as make up the 64 the tracker mixes beside the
// song's channels; none when every instrument cuts its note.
int background_voices_for(const Module* module, int channels);

// Hardware overrides written into the chosen device before it opens (-1: none).
extern int device_port, device_irq, device_dma, device_card_type;

// Receives the text of fatal errors; null means the built-in reporter.
extern ErrorReportHook error_report_hook;
