// formats/: what a module file becomes. module is the in-memory song; loader
// holds the checked reads the four loaders share; loadxm, loads3m, loadit and
// loadmod each turn one format into the model; waveread reads WAVE files.
//
// The in-memory song that every module loader builds and the player reads.
//
// All records are plain structures allocated through the library's memory
// layer and owned by their Module; free_module frees everything below it.
#pragma once

#include <cstdint>

// Play modes: format-specific behaviour of the player.
enum PlayMode : int {
    playModeProtracker = 1,
    playModeScreamTracker3 = 2,
    playModeExtended = 3,
    playModeImpulse = 4
};

// Module flags.
enum ModuleFlags : int {
    moduleAmigaLimits = 0x01,      // Scream Tracker 3 Amiga period limits
    moduleFastVolumeSlides = 0x02, // Scream Tracker 3 volume slides on every tick, the first included
    moduleExtendedOctaves = 0x04,  // Protracker extended octave range
    moduleLinearFrequency = 0x08,  // linear frequency table (play mode 3 only)
    moduleInstrumentMode = 0x10,   // Impulse Tracker instrument mode
};

// Special note bytes of the packed pattern encoding.
inline constexpr std::uint8_t noteNone = 255;
inline constexpr std::uint8_t noteKeyOff = 254;
inline constexpr std::uint8_t noteStop = 253;
// Instrument byte meaning "no instrument".
inline constexpr std::uint8_t instrumentNone = 255;
// Volume byte meaning "no volume".
inline constexpr std::uint8_t volumeNone = 80;

// Order entries that name no pattern: one the song skips, and one that ends it.
inline constexpr std::uint16_t orderMarkSkip = 0xfffe;
inline constexpr std::uint16_t orderMarkEnd = 0xffff;

// Flag-byte bits of a packed channel entry.
inline constexpr std::uint8_t entryChannelMask = 0x1f;
inline constexpr std::uint8_t entryNoteInstrument = 0x20;
inline constexpr std::uint8_t entryVolume = 0x40;
inline constexpr std::uint8_t entryCommand = 0x80;

// Limits of the model.
inline constexpr int maxModuleChannels = 32;
inline constexpr int maxPatternRows = 256;
inline constexpr int envelopePointCapacity = 25;

struct EnvelopePoint {
    std::uint16_t x; // tick position
    std::int16_t y;  // value
};

// An envelope; point indices of 255 mean "none".
struct Envelope {
    std::uint8_t point_count; // 0 = the envelope does nothing
    std::uint8_t sustain_point;
    std::uint8_t loop_start;
    std::uint8_t loop_end;
    std::uint8_t sustain_loop_start;
    std::uint8_t sustain_loop_end;
    EnvelopePoint points[envelopePointCapacity];
};
static_assert(sizeof(Envelope) == 6 + 4 * envelopePointCapacity);

struct Sample {
    char name[32];
    int device_handle;              // sound device's handle; 0 = not added
    std::uint8_t* data;             // decoded data; null once handed to the device
    int length;                     // bytes
    std::uint8_t type;              // 0 no data, 1 8-bit unsigned, 2 16-bit signed
    std::uint8_t loop_mode;         // device loop mode (0/1 XM and S3M, 4/5 Protracker)
    std::uint8_t loop1_type;        // 0 none, 1 forward, 2 ping-pong
    std::uint8_t loop2_type;        // second loop's type
    int loop1_start, loop1_end;     // bytes; end exclusive
    int loop2_start, loop2_end;     // Impulse Tracker sustain loop
    int volume;                     // 0..64
    int panning;                    // Extended Module range 0..255
    int relative_note;              // XM semitone offset; S3M/IT middle-C rate
    int finetune;                   // XM -128..127; Protracker 0..15
    int file_offset;                // loader scratch: where the data lies in the file
    int sample_global_volume;       // Impulse Tracker only: 0..64, scales the sample's notes
    std::uint8_t sample_vibrato[4]; // Impulse Tracker only
};

struct Instrument {
    char name[32];
    int sample_count;       // entries in sample_list
    std::uint8_t* note_map; // XM: 96 sample numbers; IT: 120 (note, sample) pairs; null = sample 0
    Envelope* volume_envelope;
    Envelope* panning_envelope;
    Envelope* pitch_envelope;
    int fadeout;
    int global_volume; // Impulse Tracker: 0..64, scales the instrument's notes
    std::uint8_t vibrato_waveform, vibrato_sweep, vibrato_depth, vibrato_rate;
    std::uint8_t new_note_action, duplicate_check_type, duplicate_check_action;
    std::uint8_t pitch_pan_separation, pitch_pan_centre;
    std::uint8_t default_panning; // bit 7 set = none
    std::uint8_t random_volume, random_panning;
    int used;             // nonzero when some pattern refers to the instrument
    Sample** sample_list; // sample_count entries, stored in the same block right after the record
};

// A pattern: this header followed by the packed rows, in one block of size bytes.
struct Pattern {
    int size;      // bytes of the whole record, header included
    int row_count; // 1..256
};

// The packed rows that follow a pattern's header.
inline std::uint8_t* pattern_data(Pattern* pattern) {
    return reinterpret_cast<std::uint8_t*>(pattern + 1);
}
inline const std::uint8_t* pattern_data(const Pattern* pattern) {
    return reinterpret_cast<const std::uint8_t*>(pattern + 1);
}

struct Module {
    char name[32];
    int play_mode;
    int song_length;
    int restart_position;
    int instrument_count;
    int sample_count;
    int pattern_count;
    std::uint8_t channel_count; // at most 32
    std::uint8_t global_volume; // 0..64
    std::uint8_t speed;
    std::uint8_t tempo;
    int* panning;          // 32 ints (64 for Impulse Tracker)
    std::uint16_t* orders; // song_length entries; 0xFFFF ends the song, 0xFFFE is skipped
    Instrument** instruments;
    Sample** samples;
    Pattern** patterns;
    int flags; // ModuleFlags
    // Impulse Tracker: each of the 64 channels' initial channel volume, 0..64;
    // null = 64 for every channel.
    std::uint8_t* channel_volumes;
};

struct SoundDevice;

// Called by a loader with each sample once its data is in place (added to
// the device, or in its own block); a nonzero result ends the load with that code.
using SampleCallback = int (*)(Sample* sample);

// Allocates an instrument record with room for sampleCount sample pointers
// right after it (all fields zero, sample_list pointing at the room).
int alloc_instrument(int sampleCount, Instrument** out);

// Frees a module and everything below it. Samples with a device handle are
// removed from device (which may then not be null). Every step is attempted
// even after a failure, so nothing is leaked; the first error is returned.
int free_module(Module* module, const SoundDevice* device);
