// api/: the programming interface and what stands behind it. soundapi and
// render are the ways in for programs; mglobals holds the library's options
// and tables, mpoll the polling thread and the library lock, virez the
// internal start-up and the fatal path, errors the codes every routine returns.
//
// The sound library's programming interface for playing through its own
// sound devices (render.h renders into the program's buffers instead).
//
// Calls that only succeed or fail return 1 or 0 (the reason is then kept as
// the last error, sound_get_last_error); calls that create something return
// its handle, 0 or null for failure. Song handles are 1..16.
#pragma once

#include "sound/player/gmplayer.h"
#include "sound/formats/module.h"

#include <cstdint>

// Option numbers of sound_set_option and sound_get_option.
enum SoundOption : int {
    optMixingRate = 1,              // Hz, default 44100
    optOutputMode = 2,              // output-mode bits, 0 = no preference
    optBufferLength = 3,            // output buffer in ms, default 500
    optMixBufferBlocks = 4,         // default 16, read by nothing
    optDSoundMode = 5,              // 0 never DirectSound (default), 1 real driver, 2 also primary, 3 any driver
    optDSoundWindow = 6,            // window handle for DirectSound
    optDSoundObject = 7,            // DirectSound object supplied by the program
    optDSoundBufferLength = 8,      // ms, default 100
    optUlawSamples = 9,             // integer mixing stores 16-bit samples as mu-law, default 1
    optFilterMode = 10,             // output filter, default 3
    optInterpolation = 11,          // 1 = interpolating mixing
    optDefaultStereoSeparation = 12,// Protracker and Scream Tracker 3, 0..64, default 64
    optForceNoSound = 13,           // nonzero: always the no-sound device
};
inline constexpr int soundOptionCount = 13;

// What sound_get_play_status fills for the caller.
struct PlayStatus {
    std::int32_t position;   // order position
    std::int32_t pattern;    // pattern number
    std::int32_t row;        // row now playing
    std::int32_t sync_value; // last synchronisation value, -1 before any
    std::int32_t loop_count; // times the song has wrapped
};

// What sound_get_module_info fills.
struct ModuleInfo {
    char name[32];
    std::int32_t song_length;
    std::int32_t pattern_count;
    std::int32_t instrument_count;
    std::int32_t channel_count;
};

// What sound_get_instrument_info fills.
struct InstrumentInfo {
    char name[32];
};

// Called with the text of a fatal error ("VIREZ Error: ..."); the default
// writes it to standard error and ends the process with exit code 255.
using ErrorReportHook = void (*)(const char* text);

// Start-up, set-up and shut-down.
int sound_startup();                          // every option to its default; call first
int sound_set_option(int option, int value);  // always 1
int sound_get_option(int option);             // 0 outside 1..13
int sound_init();                             // picks and opens the device, starts the player
int sound_close();                            // undoes sound_init step by step
int sound_detect_device();                    // the detection of sound_init alone: device number or -1
void sound_set_error_report_hook(ErrorReportHook hook); // null restores the default

// Modules and songs.
Module* sound_load_module(const char* fileName); // loader chosen by the file's signature
int sound_free_module(Module* module);
int sound_play_module(Module* module, int loop); // song handle 1..16, or 0
int sound_play_song_section(Module* module, int channels, int start, int end, int restart, int loop);
int sound_stop_module(int song);
int sound_get_play_status(int song, PlayStatus* status);
int sound_set_position(int song, int position);
int sound_set_music_volume(int song, int volume);
int sound_set_channel_volume(int song, int channel, int volume);
int sound_set_music_sync_callback(int song, SyncCallback callback);
int sound_get_module_info(Module* module, ModuleInfo* info);
int sound_get_instrument_info(Module* module, int index, InstrumentInfo* info);

// Channels and output level.
int sound_open_channels(int count);
int sound_close_channels();
int sound_set_amplification(int percent);
int sound_allocate_channel(); // channel number, or 0xFFFF
int sound_free_channel(int channel);

// Playing: the background thread, or polls from the caller.
int sound_start_background_play(int rate); // polls every 20 ms for rate 0, else (1000 / rate) / 2 ms
int sound_stop_background_play();
int sound_poll();
int sound_lock();
int sound_unlock();

// Errors and version.
int sound_get_last_error();
const char* sound_get_error_message(int code);
const char* sound_get_version_string(); // "1.1.2"
