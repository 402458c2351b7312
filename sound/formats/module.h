// formats/: what a module file becomes. module is the in-memory song; loader
// holds the checked reads the four loaders share; loadxm, loads3m, loadit and
// loadmod each turn one format into the model and describe it in a format
// record; formats lists those records and loads a file by them; waveread
// reads WAVE files.
//
// The in-memory song that every module loader builds and the player reads,
// and the words that cross from the loaders to the player and the mixer: the
// command numbers, the sample types, the loop types and the loop modes.
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

// Generic command numbers: every loader turns its format's effects into
// these, and the player's command tables are indexed by them.
enum Command : std::uint8_t {
    cmdNone = 0,
    cmdArpeggio = 1,
    cmdPortaUp = 2,
    cmdPortaDown = 3,
    cmdTonePorta = 4,
    cmdVibrato = 5,
    cmdTonePortaVolumeSlide = 6,
    cmdVibratoVolumeSlide = 7,
    cmdTremolo = 8,
    cmdSetPanning = 9,
    cmdSampleOffset = 10,
    cmdVolumeSlide = 11,
    cmdPositionJump = 12,
    cmdSetVolume = 13,
    cmdPatternBreak = 14,
    cmdSetSpeed = 15,
    cmdSetTempo = 16,
    cmdFinePortaUp = 17,
    cmdFinePortaDown = 18,
    cmdPatternLoop = 19,
    cmdCoarsePanning = 20,
    cmdRetrigger = 21,
    cmdFineVolumeUp = 22,
    cmdFineVolumeDown = 23,
    cmdNoteCut = 24,
    cmdNoteDelay = 25,
    cmdPatternDelay = 26,
    cmdGlobalVolume = 27,
    cmdGlobalVolumeSlide = 28,
    cmdMultiRetrigger = 29,
    cmdSync = 30,
    cmdExtraFinePortaUp = 31,
    cmdExtraFinePortaDown = 32,
    cmdPanningSlide = 33,
    cmdSetChannelVolume = 34,   // Impulse Tracker M
    cmdChannelVolumeSlide = 35, // Impulse Tracker N
    cmdSetFinetune = 36,        // Extended Module E5x: the finetune of the row's note
    cmdTremor = 37,             // Extended Module T, Scream Tracker 3 and Impulse Tracker I
    cmdVolumeEnvelope = 38,     // Impulse Tracker S77 (info 0: the note's volume envelope off) and S78 (1: on)
    cmdSpecialMemory = 39,      // Impulse Tracker S00 (info 0: the channel's last S command again), or an
                                // S command the player does not play (info: its infobyte, only remembered)
};
// Number of generic command numbers (0..39).
inline constexpr int commandCount = 40;

// Sample types: how a sample's data is laid out (bytes per frame in
// brackets). The loaders give 8-bit and 16-bit mono samples; the mixer also
// plays stereo and mu-law data.
enum SampleType : std::uint8_t {
    SMP_NONE = 0,         // no data
    SMP_8BIT_MONO = 1,    // (1) unsigned, 0x80 is silence
    SMP_16BIT_MONO = 2,   // (2) signed little-endian
    SMP_8BIT_STEREO = 3,  // (2) left, right
    SMP_16BIT_STEREO = 4, // (4) left, right
    SMP_ULAW_MONO = 7,    // (1) G.711 mu-law
    SMP_ULAW_STEREO = 8,  // (2) G.711 mu-law, left, right
};

// Loop types of a sample's loops.
enum LoopType : std::uint8_t {
    LOOP_NONE = 0,
    LOOP_FORWARD = 1,
    LOOP_BIDI = 2, // ping-pong: back and forth
};

// Loop modes: what the mixer does with a sample's two loops and with a change
// of sample. The modes come in pairs whose second member says the sample
// loops; the mixer reads that only in the Protracker pair.
enum LoopMode : std::uint8_t {
    // Loop 1 only; releasing the sound changes nothing (Extended Module, Scream
    // Tracker 3 and Impulse Tracker samples without a sustain loop).
    LOOPMODE_SINGLE = 0,
    LOOPMODE_SINGLE_LOOPING = 1,
    // Loop 1 until the sound is released, then loop 2 (Impulse Tracker samples
    // with a sustain loop).
    LOOPMODE_SUSTAIN = 2,
    LOOPMODE_SUSTAIN_LOOPING = 3,
    // A change of sample waits for the end of the sample or loop pass; then the
    // channel ends (4) or plays the new sample's loop (5) (Protracker samples).
    LOOPMODE_PROTRACKER = 4,
    LOOPMODE_PROTRACKER_LOOPING = 5,
};

// Special note bytes of the packed pattern encoding.
inline constexpr std::uint8_t noteNone = 255;
inline constexpr std::uint8_t noteKeyOff = 254;
inline constexpr std::uint8_t noteStop = 253;
// Instrument byte meaning "no instrument". Other instrument bytes are below the song's
// instrument count, except in Impulse Tracker sample mode, where a sample number the song does
// not have is kept (the player stops the channel there).
inline constexpr std::uint8_t instrumentNone = 255;

// Order entries that name no pattern: one the song skips, and one that ends it.
inline constexpr std::uint16_t orderMarkSkip = 0xfffe;
inline constexpr std::uint16_t orderMarkEnd = 0xffff;

// Flag-byte bits of a packed channel entry. An entry without a volume leaves
// entryVolume clear: there is no "no volume" byte, since every value is a
// volume or a volume-column command in some format.
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
    SampleType type;                // SMP_NONE, SMP_8BIT_MONO or SMP_16BIT_MONO
    LoopMode loop_mode;             // the mixer's loop mode
    LoopType loop1_type;
    LoopType loop2_type;
    int loop1_start, loop1_end;     // bytes; end exclusive
    int loop2_start, loop2_end;     // Impulse Tracker: the loop after a sustain loop
    int volume;                     // 0..64
    int panning;                    // Extended Module range 0..255
    int relative_note;              // Extended Module: semitones added to every note
    int middle_c_rate;              // S3M and IT: the sample's playback rate for middle C, in Hz
    int finetune;                   // XM -128..127; Protracker 0..15
    int file_offset;                // loader scratch: where the data lies in the file
    int sample_global_volume;       // Impulse Tracker only: 0..64, scales the sample's notes
    std::uint8_t sample_vibrato[4]; // Impulse Tracker only
};

// Bytes one frame of a sample takes in its data (and in the device's byte positions).
inline int frameBytes(const Sample& sample) {
    return sample.type == SMP_16BIT_MONO ? 2 : 1;
}

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
    // Impulse Tracker's resonant filter: the cutoff (0..127) and resonance (0..127) a note starts
    // with, each only when bit 7 is set; and whether the third envelope steers the cutoff
    // rather than the pitch.
    std::uint8_t initial_cutoff, initial_resonance;
    std::uint8_t filter_envelope;
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
    int* panning;          // 32 ints (64 for Impulse Tracker; there bit 7 = switched off: heard nowhere, its commands act)
    std::uint16_t* orders; // song_length entries; 0xFFFF ends the song, 0xFFFE is skipped
    Instrument** instruments;
    Sample** samples;
    Pattern** patterns;
    int flags; // ModuleFlags
    // Impulse Tracker: each of the 64 channels' initial channel volume, 0..64;
    // null = 64 for every channel.
    std::uint8_t* channel_volumes;
    // The song message the file carries (Impulse Tracker), lines ended by
    // '\n', NUL-ended; null = none.
    char* message;
    // What a file that ends inside its sample data lacked, when it was loaded
    // all the same: samples that end early (or are empty), instruments whose
    // description lay past the end, and the bytes of sample data missing.
    int samples_cut;
    int instruments_missing;
    std::int64_t sample_bytes_missing;
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
