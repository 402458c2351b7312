// The wave output device: the mixer's output in a ring of blocks handed to the
// platform's wave output (platform.h), each refilled as soon as it has played.
#pragma once

#include "sound/output/sdevice.h"

#include <array>
#include <cstdint>

struct CriticalSection;
struct WaveOutput;
struct WaveBlock;

// Most blocks the device keeps queued (about 15 ms each).
inline constexpr uint32_t waveMaxBlocks = 64;

// The device's state, readable for tests and diagnostics.
struct WinWaveState {
    uint32_t outputMode;    // 5, 6, 9 or 10 after format negotiation
    uint32_t mixRate;       // Hz after format negotiation
    uint32_t bytesPerFrame; // 1, 2 or 4
    uint32_t suspended;
    CriticalSection* lock;
    WaveOutput* output; // null while closed or suspended
    uint32_t blockCount;
    uint32_t blockBytes;
    std::array<uint8_t*, waveMaxBlocks> blocks;
    std::array<WaveBlock*, waveMaxBlocks> headers;
    std::array<uint8_t, waveMaxBlocks> prepared; // written and not yet taken back
    uint32_t currentBlock;
    uint32_t fillOffset; // bytes already mixed into the current block
    uint32_t blocksThisPass;
    uint32_t framesPerTick;
    uint32_t framesLeft;
};
extern WinWaveState winWave;

// The wave output device record ("Windows Wave Sound Device 1.11").
extern SoundDevice winWaveDevice;

// The library error for a platform wave-output result (WaveResult numbering).
int waveResultToError(int result);
