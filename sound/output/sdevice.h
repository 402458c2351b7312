// output/: the sound devices. sdevice is the record every device fills;
// winwave plays through the platform's wave output, dsound through its
// looping buffer, dsmnsnd is the silent device that keeps the music's time.
//
// The sound-device record: every way of producing sound fills one, with its
// settings first and then 42 operations in a fixed slot order. The library
// picks a device from a null-ended list and talks only to the record.
//
// Every operation returns an error code (0 = success) and passes results
// through out-parameters. Slots 5, 7..32 and 36..41 are the mixer's own
// operations (dsm.h); the device adds opening, closing and feeding its output.
#pragma once

#include "sound/mixer/dsm.h"

#include <cstdint>

// Output-mode bits (openDevice argument, getOutputMode result).
inline constexpr uint32_t OUT_MONO = 1;
inline constexpr uint32_t OUT_STEREO = 2;
inline constexpr uint32_t OUT_8BIT = 4;
inline constexpr uint32_t OUT_16BIT = 8;

struct SoundDevice {
    uint32_t singlePlayPerPoll;   // nonzero: a poll pass calls play only once
    uint32_t settingsUsed;        // flag bits of the library settings the device takes
    int32_t port;                 // hardware setting the library may override (unused here)
    int32_t irq;                  // hardware setting the library may override (unused here)
    int32_t dma;                  // hardware setting the library may override (unused here)
    int32_t cardType;             // hardware setting the library may override (unused here)
    uint32_t cardCount;           // number of entries in cardNames
    uint32_t modeMask;            // output modes offered, as OUT_* bits
    const char* name;             // device name and version
    const char* const* cardNames; // cardCount card names
    uint32_t reserved[2];         // always 0

    int (*detectDevice)(int32_t* found);                              // 0: found = 1 when the output exists
    int (*openDevice)(uint32_t mixRate, uint32_t outputMode);         // 1: opens output and mixer
    int (*closeDevice)();                                             // 2: closes mixer and output
    int (*suspendOutput)();                                           // 3: closes the output, keeps the mixer
    int (*resumeOutput)();                                            // 4: reopens a suspended output
    int (*getMixingRate)(uint32_t* rate);                             // 5: mixing rate in Hz
    int (*getOutputMode)(uint32_t* mode);                             // 6: final mode (5, 6, 9 or 10)
    int (*openChannels)(uint32_t count);                              // 7: opens count mixing channels
    int (*closeChannels)();                                           // 8: closes the channels
    int (*clearChannels)();                                           // 9: resets every channel record
    int (*muteAll)(uint32_t flag);                                    // 10: mutes or unmutes all channels
    int (*pauseMixing)(uint32_t flag);                                // 11: stops or resumes mixing channels
    int (*setMasterVolume)(uint32_t volume);                          // 12: 0..64
    int (*getMasterVolume)(uint32_t* volume);                         // 13: 0..64
    int (*setAmplification)(uint32_t amplification);                  // 14: output scaling
    int (*getAmplification)(uint32_t* amplification);                 // 15: output scaling
    int (*startSound)(uint32_t channel, uint32_t rate);               // 16: plays the channel's sample from 0
    int (*releaseSound)(uint32_t channel);                            // 17: lets the sustain loop go
    int (*stopSound)(uint32_t channel);                               // 18: turns the channel off
    int (*setChannelRate)(uint32_t channel, uint32_t rate);           // 19: playing rate in Hz
    int (*getChannelRate)(uint32_t channel, uint32_t* rate);          // 20: rate, 0 unless playing
    int (*setChannelVolume)(uint32_t channel, uint32_t volume);       // 21: 0..64
    int (*getChannelVolume)(uint32_t channel, uint32_t* volume);      // 22: 0..64
    int (*setChannelSample)(uint32_t channel, uint32_t handle);       // 23: sample handle to play next
    int (*getChannelSample)(uint32_t channel, uint32_t* handle);      // 24: current sample handle
    int (*setChannelPosition)(uint32_t channel, uint32_t position);   // 25: byte position, starts playing
    int (*getChannelPosition)(uint32_t channel, uint32_t* position);  // 26: byte position
    int (*getChannelDirection)(uint32_t channel, int32_t* direction); // 27: +1 forward, -1 backward
    int (*setChannelPanning)(uint32_t channel, int32_t panning);      // 28: -64..64, 128 surround
    int (*getChannelPanning)(uint32_t channel, int32_t* panning);     // 29: -64..64, 128 surround
    int (*muteChannel)(uint32_t channel, uint32_t flag);              // 30: mutes or unmutes one channel
    int (*addSample)(const SampleDesc* desc, uint32_t copy, uint32_t* handle); // 31: registers a sample
    int (*removeSample)(uint32_t handle);                                      // 32: frees a sample handle
    int (*setUpdateRate)(uint32_t rate);                                       // 33: ticks per second x 100
    int (*beginPoll)();                                                        // 34: starts a poll pass
    int (*play)(int32_t* tickDue); // 35: mixes up to one tick; tickDue = 1 at its end
    int (*startStream)(uint32_t channel, uint8_t* buffer, uint32_t byteLength, uint32_t type,
                       uint32_t rate);                                  // 36: loops buffer as a stream
    int (*stopStream)(uint32_t channel);                                // 37: stops a stream
    int (*setLoopCallback)(uint32_t channel, LoopCallback callback);    // 38: called at loop ends
    int (*setStreamWritePosition)(uint32_t channel, uint32_t position); // 39: bytes written so far
    int (*pauseStream)(uint32_t channel, uint32_t flag);                // 40: pauses or resumes a stream
    // 41: the channel's resonant low-pass filter, or FILTER_OFF; may be null (no filters)
    int (*setChannelFilter)(uint32_t channel, uint32_t cutoff, uint32_t resonance);
};

// Fills the operation slots the mixer implements (5, 7..32, 36..40) with the
// mixer's own operations; the device fills the others.
void setMixerOperations(SoundDevice* device);

// The one of four modes (5, 6, 9 or 10) a device makes of requested output-mode
// bits: mono if asked for, else stereo; 8-bit if asked for, else 16-bit.
inline constexpr uint32_t deviceOutputMode(uint32_t bits) {
    return ((bits & OUT_MONO) ? OUT_MONO : OUT_STEREO) | ((bits & OUT_8BIT) ? OUT_8BIT : OUT_16BIT);
}

// Bytes of one output frame in a four-way mode: 1, 2, 2 or 4.
inline constexpr uint32_t outputFrameBytes(uint32_t mode) {
    return ((mode & OUT_MONO) ? 1u : 2u) * ((mode & OUT_8BIT) ? 1u : 2u);
}

// The mixer mode (MIX_*) for a four-way output mode.
inline constexpr uint32_t outputMixMode(uint32_t mode, bool interpolate) {
    return ((mode & OUT_MONO) ? MIX_MONO : MIX_STEREO) | ((mode & OUT_8BIT) ? MIX_8BIT : MIX_16BIT) |
           (interpolate ? MIX_INTERPOLATE : 0u);
}

// Output frames per player tick for an update rate in hundredths of ticks per
// second (tempo x 40), made even. Rate 0 gives 0: callers refuse it.
inline constexpr uint32_t framesPerTickFor(uint32_t mixRate, uint32_t rate) {
    if (rate == 0) return 0;
    return static_cast<uint32_t>((static_cast<uint64_t>(mixRate) * 100 / rate + 1) & ~uint64_t{1});
}

// The operations a device implements itself (the others are the mixer's).
struct DeviceOperations {
    int (*detectDevice)(int32_t* found);
    int (*openDevice)(uint32_t mixRate, uint32_t outputMode);
    int (*closeDevice)();
    int (*suspendOutput)();
    int (*resumeOutput)();
    int (*getOutputMode)(uint32_t* mode);
    int (*setUpdateRate)(uint32_t rate);
    int (*beginPoll)();
    int (*play)(int32_t* tickDue);
};

// A device record with one card, the hardware settings at their usual values,
// the mixer's operations and the device's own.
inline SoundDevice makeSoundDevice(const char* name, const char* const* cardNames, uint32_t settingsUsed,
                                   uint32_t modeMask, const DeviceOperations& ops) {
    SoundDevice d{};
    d.settingsUsed = settingsUsed;
    d.cardType = 1;
    d.cardCount = 1;
    d.modeMask = modeMask;
    d.name = name;
    d.cardNames = cardNames;
    setMixerOperations(&d);
    d.detectDevice = ops.detectDevice;
    d.openDevice = ops.openDevice;
    d.closeDevice = ops.closeDevice;
    d.suspendOutput = ops.suspendOutput;
    d.resumeOutput = ops.resumeOutput;
    d.getOutputMode = ops.getOutputMode;
    d.setUpdateRate = ops.setUpdateRate;
    d.beginPoll = ops.beginPoll;
    d.play = ops.play;
    return d;
}

// The description addSample takes for a module's sample whose data is at data
// (the sample's own, or a loader's buffer); a sample without data (type 0)
// is described with none.
inline SampleDesc sampleDescOf(const Sample& sample, const uint8_t* data) {
    const bool hasData = sample.type != SMP_NONE;
    SampleDesc desc{};
    desc.data = hasData ? const_cast<uint8_t*>(data) : nullptr;
    desc.location = hasData ? 1 : 0;
    desc.type = sample.type;
    desc.length = static_cast<uint32_t>(sample.length);
    desc.loopMode = sample.loop_mode;
    desc.loop1Start = static_cast<uint32_t>(sample.loop1_start);
    desc.loop1End = static_cast<uint32_t>(sample.loop1_end);
    desc.loop1Type = sample.loop1_type;
    desc.loop2Start = static_cast<uint32_t>(sample.loop2_start);
    desc.loop2End = static_cast<uint32_t>(sample.loop2_end);
    desc.loop2Type = sample.loop2_type;
    return desc;
}
