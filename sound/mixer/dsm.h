// mixer/: the software mixer. dsm is the core (samples, channels, volumes,
// the mixing buffer); dsmmix the channel mixing loop that cuts each channel's
// part of a block into runs; mix_* the mixing routines chosen by a table per
// output mode; dsmfilt the output filter.
//
// The software mixer: sample handles, mixing channels and the 32-bit mixing
// buffer under every sound device. The devices share these operations and
// add only the opening, closing and feeding of their output.
//
// Positions and lengths cross this interface in bytes; inside the mixer they
// are sample frames, and play positions are 16.16 fixed point.
#pragma once

// The sample types, loop types and loop modes the mixer shares with the module model.
#include "sound/formats/module.h"

#include <cstdint>

// Mixing mode flags (the mixMode word given to mixerInit).
inline constexpr uint32_t MIX_8BIT = 0x01;        // output samples unsigned 8-bit
inline constexpr uint32_t MIX_16BIT = 0x02;       // output samples signed 16-bit (default)
inline constexpr uint32_t MIX_MONO = 0x04;        // one output channel
inline constexpr uint32_t MIX_STEREO = 0x10;      // two output channels, left then right
inline constexpr uint32_t MIX_FLOAT = 0x20;       // mixing buffer holds floats
inline constexpr uint32_t MIX_INTEGER = 0x40;     // mixing buffer holds int32, volumes through tables
inline constexpr uint32_t MIX_INTERPOLATE = 0x80; // linear interpolation, ramping, click removal
inline constexpr uint32_t MIX_CUBIC = 0x100;      // as MIX_INTERPOLATE, with a four-point spline for the line

// Volume and panning ranges.
inline constexpr int32_t MIXER_MAX_VOLUME = 64;
inline constexpr int32_t PAN_LEFT = -64;
inline constexpr int32_t PAN_MIDDLE = 0;
inline constexpr int32_t PAN_RIGHT = 64;
inline constexpr int32_t PAN_SURROUND = 128;

// A channel's resonant filter: the top of the cutoff range and the setting that takes it away.
inline constexpr uint32_t FILTER_TOP_CUTOFF = 127 * 256;
inline constexpr uint32_t FILTER_OFF = 0xffffffff;

// Channel status values.
inline constexpr uint32_t CH_OFF = 0;
inline constexpr uint32_t CH_ENDED = 1;
inline constexpr uint32_t CH_PLAYING = 2;
inline constexpr uint32_t CH_RELEASED = 3;
inline constexpr uint32_t CH_FADING = 4;

// Sample handles are 1..MIXER_SAMPLE_HANDLES; the last one also marks streams.
inline constexpr uint32_t MIXER_SAMPLE_HANDLES = 1024;
inline constexpr uint32_t STREAM_HANDLE = 1024;

// Full-scale current volume of a channel side (64 x 64 x 64 x 16).
inline constexpr int32_t MIXER_FULL_VOLUME = 0x400000;
// Ramp step per output frame used by every volume change (32 frames full scale).
inline constexpr int32_t MIXER_RAMP_STEP = 0x20000;

// How addSample takes a sample's data (its copy argument).
inline constexpr uint32_t SAMPLE_REFERENCE = 0; // the data stays the caller's and must outlive the handle
inline constexpr uint32_t SAMPLE_COPY = 1;      // the mixer keeps a copy of its own
// The data, a block of the memory layer, becomes the mixer's when addSample succeeds (it is
// converted where the mixer wants another type, and freed with the sample): a loader that
// decodes into the block the mixer plays holds every sample once.
inline constexpr uint32_t SAMPLE_HAND_OVER = 2;
// The data stays the caller's and must outlive the handle; the mixer plays it where it is, and
// keeps a copy of its own only where it wants another type (mu-law): a module that keeps its
// samples shares them with the mixer rather than holding each twice.
inline constexpr uint32_t SAMPLE_SHARE = 3;

// Description of a sample handed to addSample (lengths and loop points in bytes).
struct SampleDesc {
    uint8_t* data;       // sample data
    uint32_t location;   // 0 = no data, anything else = ordinary memory
    uint32_t type;       // SampleType
    uint32_t length;     // bytes
    uint32_t loopMode;   // LoopMode
    uint32_t loop1Start; // bytes
    uint32_t loop1End;   // bytes
    uint32_t loop1Type;  // LoopType
    uint32_t loop2Start; // bytes (sustain loop: applies after releaseSound in loop modes 2 and 3)
    uint32_t loop2End;   // bytes
    uint32_t loop2Type;  // LoopType
};

// One entry of the sample-handle table (lengths and loop points in frames).
struct SampleHandleEntry {
    uint8_t* data;
    uint32_t type;       // as mixed (7 or 8 after mu-law conversion)
    uint32_t sourceType; // as given
    uint32_t location;
    uint32_t length;
    uint32_t loopMode;
    uint32_t loop1Start, loop1End, loop1Type;
    uint32_t loop2Start, loop2End, loop2Type;
    uint32_t inUse;
    uint32_t owned; // the mixer allocated data and frees it on removal
};

// Called with the channel number when a channel passes a loop end.
using LoopCallback = void (*)(uint32_t channel);

// One mixing channel (records channelCount.. are the fade-out copies).
struct MixerChannel {
    uint8_t* data;
    uint32_t type;
    uint32_t positionType; // type used to convert byte positions
    uint32_t location;
    uint32_t length;
    uint32_t loopMode;
    uint32_t loop1Start, loop1End, loop1Type;
    uint32_t loop2Start, loop2End, loop2Type;
    uint32_t position;       // frames
    uint32_t fraction;       // low 16 bits used
    uint32_t streamWritePos; // frames
    uint32_t rate;           // Hz
    int32_t direction;       // +1 or -1
    uint32_t sampleHandle;   // 1..1024 (1024 also marks a stream)
    uint32_t samplePending;  // a new handle waits to take effect
    int32_t panning;         // -64..64, 128 = surround
    int32_t volume;          // 0..64
    uint32_t muted;
    uint32_t status;     // CH_*
    uint32_t activeLoop; // 1 or 2
    LoopCallback loopCallback;
    int32_t leftVolume, rightVolume; // current, 0..MIXER_FULL_VOLUME
    int32_t leftTarget, rightTarget;
    int32_t leftStep, rightStep;
    uint32_t ramping;
    // The resonant filter (setChannelFilter): on or off, its settings, the coefficients they
    // give at the mixing rate (new output = a x input + b x last + c x the one before), and
    // each output side's last two outputs.
    uint32_t filterOn;
    uint32_t filterCutoff, filterResonance;
    float filterA, filterB, filterC;
    float filterHistory[2][2];
};

// One loop of a channel: its bounds in frames (end exclusive) and its LOOP_* type.
struct LoopBounds {
    uint32_t start;
    uint32_t end;
    uint32_t type;
};

// The loop a channel plays now: the first, or the second once a released
// sustain loop has given way to it.
inline LoopBounds activeLoopBounds(const MixerChannel& ch) {
    if (ch.activeLoop == 2) return {.start = ch.loop2Start, .end = ch.loop2End, .type = ch.loop2Type};
    return {.start = ch.loop1Start, .end = ch.loop1End, .type = ch.loop1Type};
}

// A post-processing routine, run over the mixing buffer before conversion.
using PostProcRoutine = void (*)(void* mixBuffer, uint32_t frameCount, void* userData);

// Node of the circular post-processor list; any routine may be null.
struct PostProcessor {
    PostProcessor* next;
    PostProcessor* prev;
    void* userData;
    PostProcRoutine floatMono;
    PostProcRoutine floatStereo;
    PostProcRoutine intMono;
    PostProcRoutine intStereo;
};

struct MixRoutineEntry;

// The mixer's state (one instance, `mixer`).
struct MixerState {
    uint32_t mixRate;
    uint32_t mixMode;
    uint32_t integerMixing;
    uint32_t interpolating;
    uint32_t channelCount;
    uint32_t recordCount;
    uint32_t channelsOpen;
    uint32_t muteAll;
    uint32_t paused;
    int32_t masterVolume;
    int32_t amplification;
    uint32_t ulawSamples;
    const MixRoutineEntry* routineTable; // 27 entries: general, centre, surround groups of 9
    void* mixBuffer;
    uint32_t mixBufferBytes;
    void* filterBuffer; // mixBufferBytes: a filtered channel is mixed here alone, then filtered into the sum
    SampleHandleEntry* samples;    // sampleCapacity entries, grown as handles are taken
    uint32_t sampleCapacity;       // up to MIXER_SAMPLE_HANDLES
    MixerChannel* channels;        // recordCount records
    int32_t* volumeTable;          // 33 rows of 256 (8-bit samples), integer mixing
    int32_t* ulawVolumeTable;      // 33 rows of 256 (mu-law samples), integer mixing
    float* byteToFloat;            // 256 entries: unsigned byte -> sample value, float mixing
    float* ulawToFloat;            // 256 entries: mu-law byte -> sample value, float mixing
    PostProcessor* postProcessors; // list head
};

extern MixerState mixer;

// Library options the mixer reads. The programming interface copies its
// options 9 (ulawSamples) and 10 (filterMode) here; the defaults match its own.
struct MixerOptions {
    int32_t ulawSamples = 1; // integer mixing: store copied 16-bit samples as mu-law
    int32_t filterMode = 3;  // 0 none, 1 light, 2 strong, 3 light unless interpolating
};
extern MixerOptions mixerOptions;

// How mixerInit picks a family when the mode names neither MIX_FLOAT nor MIX_INTEGER.
enum class MixerCpuChoice { Auto, Float, Integer };
// Auto (the default) mixes with floats on hosts with a hardware floating-point
// unit and integers otherwise; the other values force a family.
extern MixerCpuChoice mixerCpuChoice;

// Sets up the mixer for a rate and MIX_* mode; called by a device's openDevice.
int mixerInit(uint32_t mixRate, uint32_t mixMode);
// Frees the mixer's tables, buffer, handles and list; called by a device's closeDevice.
int mixerClose();
// Renders frameCount output frames in the output format into destination.
int mixData(uint32_t frameCount, void* destination);
// Moves every channel on by frameCount output frames exactly as mixData would
// (positions, loops, volume ramps, fade-outs), without making the sound. The
// output filter's history is left as it was: the next two frames mixed are
// filtered against it.
int skipData(uint32_t frameCount);
// Links node first (position 0) or last (position 1) in the post-processor list.
int addPostProcessor(PostProcessor* node, uint32_t position, void* userData);
// Unlinks node from the post-processor list.
int removePostProcessor(PostProcessor* node);

// Device operations implemented by the mixer (slot numbers of the device record).
int getMixingRate(uint32_t* rate);                            // 5: the mixing rate in Hz
int openChannels(uint32_t count);                             // 7: opens count channels
int closeChannels();                                          // 8: closes the channels
int clearChannels();                                          // 9: silences and resets every record
int muteAll(uint32_t flag);                                   // 10: mutes or unmutes every channel
int pauseMixing(uint32_t flag);                               // 11: stops or resumes mixing channels
int setMasterVolume(uint32_t volume);                         // 12: 0..64
int getMasterVolume(uint32_t* volume);                        // 13
int setAmplification(uint32_t amplification);                 // 14: output scaling (64 = unity for 1 channel)
int getAmplification(uint32_t* amplification);                // 15
int startSound(uint32_t channel, uint32_t rate);              // 16: plays the channel's sample from 0
int releaseSound(uint32_t channel);                           // 17: lets the sustain loop go
int stopSound(uint32_t channel);                              // 18: turns the channel off
int setChannelRate(uint32_t channel, uint32_t rate);          // 19: playing rate in Hz
int getChannelRate(uint32_t channel, uint32_t* rate);         // 20: 0 unless playing
int setChannelVolume(uint32_t channel, uint32_t volume);      // 21: 0..64
int getChannelVolume(uint32_t channel, uint32_t* volume);     // 22
int setChannelSample(uint32_t channel, uint32_t handle);      // 23: the sample to play next
int getChannelSample(uint32_t channel, uint32_t* handle);     // 24
int setChannelPosition(uint32_t channel, uint32_t position);  // 25: byte position, starts playing
int getChannelPosition(uint32_t channel, uint32_t* position); // 26: byte position
int getChannelDirection(uint32_t channel, int32_t* direction);          // 27: +1 or -1
int setChannelPanning(uint32_t channel, int32_t panning);               // 28: -64..64, 128 surround
int getChannelPanning(uint32_t channel, int32_t* panning);              // 29
int muteChannel(uint32_t channel, uint32_t flag);                       // 30
int addSample(const SampleDesc* desc, uint32_t copy, uint32_t* handle); // 31: registers a sample (SAMPLE_*)
int removeSample(uint32_t handle);                                      // 32: frees a sample handle
int startStream(uint32_t channel, uint8_t* buffer, uint32_t byteLength, uint32_t type,
                uint32_t rate);                                  // 36: loops buffer as a stream
int stopStream(uint32_t channel);                                // 37
int setLoopCallback(uint32_t channel, LoopCallback callback);    // 38
int setStreamWritePosition(uint32_t channel, uint32_t position); // 39: byte position filled so far
int pauseStream(uint32_t channel, uint32_t flag);                // 40
// 41: the channel's resonant low-pass filter: cutoff in 256ths of Impulse Tracker's steps
// (0..127 x 256, about 130 Hz to 5 kHz), resonance 0..127; FILTER_OFF takes it away. A sound
// started afresh starts the filter's memory afresh.
int setChannelFilter(uint32_t channel, uint32_t cutoff, uint32_t resonance);

// Bytes per frame of a sample type, as a shift (0, 1 or 2).
uint32_t sampleFrameShift(uint32_t type);

// G.711 mu-law: the 16-bit value a byte decodes to, and the byte for a value.
int32_t ulawDecode(uint8_t byte);
uint8_t ulawEncode(int16_t sample);
