// player/: the engine that turns a Module into channel commands for the
// sound device, tick by tick (gmplayer), with the effect commands of each
// play mode in tables of small handlers (gmpcmds).
//
// The generic module player: plays up to 16 loaded modules at once, one tick
// per gmp_play call from the poll routine. On every tick it either reads the
// next pattern row or runs the running effects, then sends each channel's
// volume, panning and rate to the sound device. All four play modes share
// this engine; the effect commands are in gmpcmds.
//
// Every routine returns an error code (0 = success) and passes results
// through out-parameters.
#pragma once

#include "sound/formats/module.h"

#include <array>
#include <cstdint>

struct SoundDevice;

// Number of songs that can play at once.
inline constexpr int maxSongs = 16;

// Called by the synchronisation command with (value, order position, row).
using SyncCallback = void (*)(int value, int position, int row);
// Called with the tick rate (tempo x 40, hundredths of a hertz) at once and on every tempo change.
using TempoCallback = void (*)(int rate);

// Position and hold flag of one envelope of a channel.
struct EnvelopeState {
    int position;
    std::uint8_t hold;
};

// Bits of ChannelState::row_flags.
inline constexpr std::uint8_t rowNewNote = 0x01;
inline constexpr std::uint8_t rowVolume = 0x02;
inline constexpr std::uint8_t rowNewInstrument = 0x04;
inline constexpr std::uint8_t rowCommand = 0x08;
inline constexpr std::uint8_t rowNoteDelayed = 0x10;
// The row named a note (kept after the note has started, for the commands
// that act otherwise beside a note on a pattern delay's repeats).
inline constexpr std::uint8_t rowNoteRead = 0x20;

// Impulse Tracker's panning value for surround (one side inverted).
inline constexpr int impulseSurround = 100;

// Sample offsets add up in Protracker songs; they stop here, so that one
// doubled for a 16-bit sample still fits.
inline constexpr int maxSampleOffset = 0x3fffffff;

// Most notes a song can keep sounding in the background (Impulse Tracker
// new-note actions): with its channels, the 64 voices the tracker mixes.
inline constexpr int maxBackgroundVoices = 64;

struct ChannelState {
    int period;         // base period of the note
    int instrument;     // instrument in use, -1 = none
    int new_instrument; // instrument number last read from the pattern, -1 = none
    int porta_target;   // tone-portamento target period
    int sample_offset;  // start offset for the next note start, in sample frames
    std::uint8_t sample;         // sample number within the instrument, 255 = none
    std::uint8_t device_channel; // sound-device channel number
    std::uint8_t volume_byte;    // volume byte of the current row
    std::uint8_t note;           // note byte of the packed encoding
    int last_info;                            // S3M and IT: last nonzero infobyte of any command
    std::uint8_t info_memory[commandCount];   // XM: last nonzero infobyte of each command
    std::uint8_t volume;                      // note volume, 0..max_volume
    std::uint8_t command, info;               // command and infobyte of the current row
    std::uint8_t porta_speed;                 // tone-portamento speed
    std::uint8_t effective_volume;            // volume the output stage uses
    std::uint8_t channel_volume;              // 0..64, default 64
    int panning;                              // in the play mode's panning range
    int fade_volume;                          // XM: 65536 = full; IT: 1024 = full
    std::uint8_t key_off;                     // 1 after key off
    std::uint8_t retrig_count;                // ticks since the last retrigger
    std::uint8_t final_volume;                // last volume sent to the device
    std::uint8_t last_note;                   // last note started, 255 at start
    std::uint8_t vibrato_speed, vibrato_depth, vibrato_position;
    std::uint8_t offset_memory;               // last sample-offset infobyte
    int output_period;                        // period after vibrato and arpeggio
    int final_period;                         // period after automatic vibrato, sent to the device
    int autovib_ramp;                         // automatic vibrato depth ramp, depth x 256 when full
    std::uint8_t autovib_position;            // automatic vibrato waveform position
    std::uint8_t channel_loop_row, channel_loop_remaining; // pattern loop (PT and XM)
    std::uint8_t volslide_memory;             // XM volume-slide memory; IT: the volume column's slides
    EnvelopeState volume_env, panning_env, pitch_env;
    std::uint8_t row_flags; // row* bits
    std::uint8_t pattern_note; // note byte as the pattern gave it (before an IT keyboard table)
    // The channel volume the song itself sets (Impulse Tracker: the header's
    // initial volumes and the channel volume commands), 0..64; channel_volume
    // stays the caller's.
    std::uint8_t song_channel_volume;
    std::uint8_t note_fade; // Impulse Tracker: the fade-out runs without a note off
    int finetune;           // the finetune of the channel's notes: its sample's, or a set-finetune command's
    std::uint8_t tremor_position; // tremor: bit 7 = sounding, bits 0..6 = ticks left in the phase
    std::uint8_t muted;           // Impulse Tracker: a switched-off channel, never heard
    std::uint8_t volume_envelope_off; // Impulse Tracker S77: the volume envelope stands and holds its value
    // The volume envelope's value (x 256) last heard, which S77 holds; full at a note's start.
    int volume_envelope_heard;
    // Impulse Tracker: the channel's last S command (generic command and infobyte), which S00 repeats.
    std::uint8_t special_command, special_info;
    // Impulse Tracker's resonant filter: the cutoff (0..127, 127 at the top) and resonance
    // (0..127) the channel's notes play through; an instrument's initial settings replace them.
    std::uint8_t filter_cutoff, filter_resonance;
};

// A note that sounds on after its channel has gone on to the next one (an
// Impulse Tracker instrument's new-note action), on a device channel of its own.
struct BackgroundVoice {
    ChannelState channel; // as the note's channel left it; instrument -1 = the voice is free
    int host;             // the song channel the note came from
};

struct SongStatus {
    int position;
    int pattern;
    int row;
    int tempo;
    int speed;
    int sync_value;
    int loop_count;
    ChannelState* channels;
};

struct PlayHandle {
    int slot;                      // index in the song table
    Module* module;                // the song
    const std::uint8_t* row_data;  // read position in the packed rows; null = start afresh at row
    int position;                  // current order position
    int pattern;                   // current pattern number
    int row;                       // current row
    int end_position;              // last order position played before wrapping
    int restart_position;          // order position to wrap to
    int tempo;
    int speed;                     // ticks per row
    int tick;                      // 0..speed-1
    int pattern_delay;             // rows still to repeat
    int channel_count;
    int max_period, min_period;    // period limits of the play mode
    int period_shift;              // 0 for Protracker, 2 otherwise
    int max_volume;                // 64, or 63 for Scream Tracker 3
    int loop_count;                // times the song has come to its end (see gmp_song_ended)
    int loop_forever;              // the caller's loop flag
    std::uint8_t loop_row, loop_remaining; // pattern loop (S3M and IT)
    // Extended Module and Impulse Tracker: the trackers settle where the song
    // goes at the end of a row. The row the next pattern starts at (a break's row; a pattern
    // loop's start row stays there once the loop has jumped back; 0 otherwise),
    // the position a jump asked for (-1: the next one), and whether a jump or
    // break, or a loop, asked to leave the row's order.
    int next_start_row;
    int jump_position;
    std::uint8_t jump_due, loop_due;
    int loop_target; // Impulse Tracker: the row a pattern loop jumps back to
    std::uint8_t global_volume;    // 0..64
    std::uint8_t global_volume_fine; // Impulse Tracker: the global volume on the tracker's 0..128, which W slides
    std::uint8_t master_volume;    // 0..64, default 64
    ChannelState* channels;
    SongStatus* status;
    SyncCallback sync_callback;
    int sync_value;                // last synchronisation value, -1 at start
    int background_count;          // voices for notes that sound on (0 = a new note cuts the last)
    BackgroundVoice* background;
    // The rows played since the song last came to its end, each with the
    // pattern-loop state it was entered in: an open-addressed table of keys
    // (0 = a free slot) that tells when the song comes back to where it was.
    std::uint64_t* visited;
    int visited_capacity, visited_count;
};

// The player's global state: the songs and what they share. What a routine
// acts on (a song, one of its channels) it is given as an argument.
struct PlayerGlobals {
    std::array<PlayHandle*, maxSongs> song_table; // null = free slot
    SoundDevice* device;                          // the device given to gmp_init
    int setup_busy;                               // a song is being started: ticks do nothing
    int tempo;                                    // the tempo last set
    TempoCallback tempo_callback;
};
extern PlayerGlobals gmp;

// Remembers the device, clears the song table and the tempo callback, sets tempo 125.
int gmp_init(SoundDevice* device);
// Stops every song in the song table.
int gmp_close();
// Starts a song. startPosition -1 takes start 0, end song_length - 1 and the
// module's restart position; channelCount -1 takes the module's channel count;
// deviceChannels gives the sound-device channel of each song channel.
int gmp_play_song(Module* module, int startPosition, int endPosition, int restartPosition, int loopForever,
                  int channelCount, const int* deviceChannels, PlayHandle** handleOut);
// Frees the song's channels and handle and clears its slot.
int gmp_stop_song(PlayHandle* handle);
// One tick for every playing song.
int gmp_play();
// Whether the song has come to its end: the row it would play next is one it
// has played before in the same pattern-loop state (a jump, break or loop
// took it back there), it has gone past its last order, or speed 0 stopped
// it. The row tick that finds this is the song's last: a song that does not
// loop forever is not advanced after it, one that does plays its next round.
bool gmp_song_ended(const PlayHandle* handle);
// Refreshes and returns the song's status.
int gmp_get_status(PlayHandle* handle, SongStatus** statusOut);
// How many times the song has come to its end so far: the player's one notion
// of a song's end, which whoever asks where a song ends goes by.
int gmp_song_passes(const PlayHandle* handle);
// Moves the song to an order position.
int gmp_set_position(PlayHandle* handle, int position);
// Gives the song device channels for notes that Impulse Tracker instruments
// let sound on under the next note (at most maxBackgroundVoices; 0 = none);
// once per song, before it plays.
int gmp_set_background_channels(PlayHandle* handle, int count, const int* deviceChannels);
// Sets one channel's channel volume (0..64); error 18 beyond the song's channels.
int gmp_set_channel_volume(PlayHandle* handle, int channel, int volume);
// Sets the song's master volume (0..64).
int gmp_set_master_volume(PlayHandle* handle, int volume);
// Sets the function the synchronisation command calls (null = none).
int gmp_set_sync_callback(PlayHandle* handle, SyncCallback callback);
// Sets the tempo-change callback and calls it with the current rate.
int gmp_set_tempo_callback(TempoCallback callback);

// Helpers for the effect commands (gmpcmds).

// Period of a note (octave, semitone; semitones above 11 carry into the
// octave) for a sample in a play mode; 0 when the note cannot sound.
int gmp_note_period(int playMode, int moduleFlags, const Sample* sample, int octave, int semitone);
// As gmp_note_period, with a finetune in place of the sample's own.
int gmp_tuned_note_period(int playMode, int moduleFlags, const Sample* sample, int finetune, int octave,
                          int semitone);
// Playback rate in Hz of a period in a play mode; period 0 (or below) is errInvalidPattern.
int gmp_period_rate(int playMode, int moduleFlags, int period, std::uint32_t* rate);
// Envelope value (value x 256) at the state's position, then moves the position on by one tick.
int gmp_envelope_value(const Envelope* envelope, EnvelopeState* state, int keyOff);
// The same as Impulse Tracker plays it: a loop (or, while the key is held,
// the sustain loop) goes back to its start only after its end point has sounded.
int gmp_impulse_envelope_value(const Envelope* envelope, EnvelopeState* state, int keyOff);
// The instrument a channel's instrument number names (null when none).
Instrument* gmp_instrument(const Module* module, int number);
// The sample a channel plays: its instrument's sample_list entry (null when none).
Sample* gmp_channel_sample(const Module* module, const ChannelState* channel);
// Rows of an order entry's pattern (64 for a missing pattern).
int gmp_pattern_rows(const Module* module, int pattern);
// Sets the tempo: stores it, tells the device and the tempo callback; 0 is ignored.
int gmp_set_tempo(int tempo);
// Moves the song to the next order position as at a pattern's end (wrapping, skipping 0xFFFE).
void gmp_next_position(PlayHandle* song);
// Wraps the song to its restart position and counts the wrap (the song's end).
void gmp_wrap_song(PlayHandle* song);
// Counts the song's end where it stands (its next row is one it has played)
// and forgets the rows played, so that the next round is followed afresh.
void gmp_end_round(PlayHandle* song);
// Takes the pattern of the song's current order position, stepping over
// 0xFFFE entries and wrapping at 0xFFFF or past the end position.
void gmp_enter_position(PlayHandle* song);
// Moves a channel's sample to its sample_offset (frames, sent as bytes:
// doubled for 16-bit samples). A sample the device never got is left alone.
int gmp_set_sample_position(const ChannelState* channel, const Sample* sample);
// Starts a channel's note (key off, cut or a new note by its note byte).
int gmp_start_note(PlayHandle* song, ChannelState* channel);
// Starts a channel's note that waited (note delay, sample offset): in XM and
// IT the note first selects its sample through the instrument's note map.
// keepOffset leaves sample_offset as the caller set it.
int gmp_start_row_note(PlayHandle* song, ChannelState* channel, bool keepOffset);
