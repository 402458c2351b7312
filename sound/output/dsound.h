// The DirectSound device: the mixer's output written just ahead of the play
// cursor of one looping sound buffer (platform.h). It is first in the device
// list but taken only when the program asks for it (option 5, with a window
// handle in option 6).
//
// How the DirectSound notions map onto the platform's looping buffer:
// - "dsound.dll" counts as loaded when the platform offers any sound output
//   (waveDeviceCount() > 0); otherwise detection finds nothing and opening
//   fails with error 49.
// - There is no DirectSound object: a nonzero option 7 only tells detection
//   that the program has set the output up, as an object supplied by the
//   program did; nothing is created or released for it.
// - The platform has no primary buffer, so mode 2's request to write into it
//   is never granted and the device always writes into its own buffer.
// - The platform's buffer counts as a real driver, unless dsoundEmulatedDriver
//   says otherwise; an emulated driver is skipped by detection (unless mode 3
//   or an object is given) and gets a buffer of bufferLength instead of
//   dsoundBufferLength milliseconds.
// - The platform's buffer is never lost. A cursor that has not moved for more
//   than a second (a stalled output) gets its playback restarted; the program
//   always counts as the foreground window.
#pragma once

#include "sound/output/sdevice.h"

#include <cstdint>

struct CriticalSection;
struct SoundBuffer;

// Nonzero: the platform's buffer is treated as an emulated driver (a host that
// mixes in software behind the program's back would set it). Default 0.
extern int dsoundEmulatedDriver;

// The device's state, readable for tests and diagnostics.
struct DSoundState {
    uint32_t outputMode; // 5, 6, 9 or 10
    uint32_t mixRate;
    uint32_t bytesPerFrame;
    uint32_t suspended;
    CriticalSection* lock;
    SoundBuffer* buffer;
    uint32_t bufferBytes;
    uint32_t writePos;    // byte offset of the next write
    uint32_t playPos;     // play cursor sampled by beginPoll
    uint32_t gap;         // bytes kept free ahead of the play cursor
    uint32_t primaryMode; // writing into a primary buffer (never on this platform)
    uint32_t emulated;
    uint32_t framesPerTick;
    uint32_t framesLeft;
    uint32_t hadFocus;
    uint32_t stallSince; // tick count in ms, 0 when not timing a stall
};
extern DSoundState dsound;

// The DirectSound device record ("DirectSound Sound Device 1.10").
extern SoundDevice dsoundDevice;
