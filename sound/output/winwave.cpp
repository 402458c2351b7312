// The wave output device. The output format is negotiated with the platform
// first (falling back to the nearest format it offers), then the output is a
// ring of blockCount blocks: play refills every block the output has finished
// with, one tick's worth of frames at a time, so the music advances locked to
// the output clock.
#include "sound/output/winwave.h"

#include "platform/platform.h"
#include "sound/api/errors.h"
#include "sound/api/mglobals.h"
#include "sound/sys/mmem.h"

#include <algorithm>

WinWaveState winWave{};

namespace {

const char* const cardNames[] = {"Windows Wave output"};

// The fallback walk: modes from the requested one down to mono 8-bit, for each
// the rates from 44100 Hz down.
constexpr std::array<uint32_t, 4> modeOrder = {OUT_MONO | OUT_8BIT, OUT_STEREO | OUT_8BIT, OUT_MONO | OUT_16BIT,
                                               OUT_STEREO | OUT_16BIT};
constexpr std::array<uint32_t, 7> rateOrder = {8000, 11025, 16000, 22050, 32000, 37800, 44100};

// Blocks are about 15 ms; a block above this size means a buffer length no
// output could use, not a wish to honour.
constexpr uint64_t maxBlockBytes = 1u << 20;
constexpr uint32_t closeChecks = 50;
constexpr uint32_t closeCheckMs = 20;

WaveFormat formatOf(uint32_t mode, uint32_t rate) {
    return WaveFormat{rate, static_cast<uint16_t>((mode & OUT_MONO) ? 1 : 2),
                      static_cast<uint16_t>((mode & OUT_8BIT) ? 8 : 16)};
}

bool supported(uint32_t mode, uint32_t rate) {
    return waveQuery(formatOf(mode, rate)) != waveBadFormat;
}

// Keeps mode and rate when the output plays them, else takes the first pair
// of the walk that it does; when none is played the request stays and the
// open reports why.
void negotiateFormat(uint32_t* mode, uint32_t* rate) {
    if (supported(*mode, *rate)) return;
    const auto* place = std::find(modeOrder.begin(), modeOrder.end(), *mode);
    for (auto m = std::make_reverse_iterator(place + 1); m != modeOrder.rend(); ++m)
        for (auto r = rateOrder.rbegin(); r != rateOrder.rend(); ++r)
            if (supported(*m, *r)) {
                *mode = *m;
                *rate = *r;
                return;
            }
}

void freeBlocks() {
    for (uint32_t i = 0; i < waveMaxBlocks; ++i) {
        if (winWave.blocks[i]) mem_free(winWave.blocks[i]);
        if (winWave.headers[i]) mem_free(winWave.headers[i]);
        winWave.blocks[i] = nullptr;
        winWave.headers[i] = nullptr;
        winWave.prepared[i] = 0;
    }
}

// Resets the output, gives the blocks up to a second to come back, closes it.
int closeOutput() {
    if (!winWave.output) return errOK;
    int result = waveReset(winWave.output);
    for (uint32_t check = 0; check < closeChecks; ++check) {
        bool allDone = true;
        for (uint32_t i = 0; i < winWave.blockCount; ++i)
            if (winWave.headers[i] && !waveBlockDone(winWave.output, winWave.headers[i])) allDone = false;
        if (allDone) break;
        sleepMs(closeCheckMs);
    }
    for (uint32_t i = 0; i < winWave.blockCount; ++i)
        winWave.prepared[i] = 0;
    const int closed = waveClose(winWave.output);
    if (result == waveOk) result = closed;
    winWave.output = nullptr;
    freeBlocks();
    return waveResultToError(result);
}

int openOutput() {
    const int bufferLength = soundOptions[optBufferLength];
    if (bufferLength <= 0) return errInvalidArguments;
    // Below 15 ms there would be no block at all; one block still plays.
    winWave.blockCount = std::clamp<uint32_t>(static_cast<uint32_t>(bufferLength) / 15, 1, waveMaxBlocks);
    const uint64_t bytes = (static_cast<uint64_t>(winWave.bytesPerFrame) * winWave.mixRate * bufferLength / 1000 /
                                winWave.blockCount +
                            15) &
                           ~uint64_t{15};
    if (bytes > maxBlockBytes) return errInvalidArguments;
    winWave.blockBytes = static_cast<uint32_t>(bytes);
    winWave.currentBlock = 0;
    winWave.fillOffset = 0;

    WaveOutput* output = nullptr;
    const int result = waveOpen(&output, formatOf(winWave.outputMode, winWave.mixRate));
    if (result != waveOk) return waveResultToError(result);
    winWave.output = output;
    for (uint32_t i = 0; i < winWave.blockCount; ++i) {
        void* block = nullptr;
        if (int err = mem_alloc(winWave.blockBytes, &block)) {
            closeOutput();
            return err;
        }
        winWave.blocks[i] = static_cast<uint8_t*>(block);
    }
    for (uint32_t i = 0; i < winWave.blockCount; ++i) {
        void* header = nullptr;
        if (int err = mem_alloc_zeroed(sizeof(WaveBlock), &header)) {
            closeOutput();
            return err;
        }
        winWave.headers[i] = static_cast<WaveBlock*>(header);
        winWave.headers[i]->data = winWave.blocks[i];
        winWave.headers[i]->bytes = winWave.blockBytes;
        winWave.prepared[i] = 0;
    }
    return errOK;
}

// --- operations ------------------------------------------------------------------------------

int detectDevice(int32_t* found) {
    if (!found) return errInvalidArguments;
    *found = waveDeviceCount() > 0 ? 1 : 0;
    return errOK;
}

int openDevice(uint32_t mixRate, uint32_t mode) {
    winWave.mixRate = mixRate;
    winWave.suspended = 0;
    if (!winWave.lock) winWave.lock = criticalCreate();
    criticalEnter(winWave.lock);
    winWave.outputMode = deviceOutputMode(mode);
    negotiateFormat(&winWave.outputMode, &winWave.mixRate);
    winWave.bytesPerFrame = outputFrameBytes(winWave.outputMode);
    int err = openOutput();
    if (!err) {
        err = mixerInit(winWave.mixRate, outputMixMode(winWave.outputMode, soundOptions[optInterpolation] == 1));
        if (err) {
            closeOutput();
            mixerClose();
        }
    }
    if (!err) winWave.framesPerTick = winWave.framesLeft = framesPerTickFor(winWave.mixRate, 5000);
    criticalLeave(winWave.lock);
    return err;
}

int closeDevice() {
    if (!winWave.lock) return errOK;
    criticalEnter(winWave.lock);
    int err = mixerClose();
    if (!winWave.suspended) {
        const int closed = closeOutput();
        if (!err) err = closed;
    }
    criticalLeave(winWave.lock);
    criticalDestroy(winWave.lock);
    winWave.lock = nullptr;
    return err;
}

int suspendOutput() {
    if (!winWave.lock) return errOK;
    criticalEnter(winWave.lock);
    int err = errOK;
    if (!winWave.suspended) {
        winWave.suspended = 1;
        err = closeOutput();
    }
    criticalLeave(winWave.lock);
    return err;
}

int resumeOutput() {
    if (!winWave.lock) return errOK;
    criticalEnter(winWave.lock);
    int err = errOK;
    if (winWave.suspended) {
        err = openOutput();
        if (!err) winWave.suspended = 0;
    }
    criticalLeave(winWave.lock);
    return err;
}

int getOutputMode(uint32_t* mode) {
    if (!mode) return errInvalidArguments;
    *mode = winWave.outputMode;
    return errOK;
}

int setUpdateRate(uint32_t rate) {
    if (rate == 0) return errInvalidArguments;
    winWave.framesPerTick = winWave.framesLeft = framesPerTickFor(winWave.mixRate, rate);
    return errOK;
}

int beginPoll() {
    winWave.blocksThisPass = 0;
    return errOK;
}

int play(int32_t* tickDue) {
    if (!tickDue) return errInvalidArguments;
    *tickDue = 0;
    if (!winWave.lock) return errOK;
    criticalEnter(winWave.lock);
    int err = errOK;
    // At most blockCount + 1 blocks a pass, so an output that hands blocks
    // back at once cannot keep the pass going for ever.
    while (!winWave.suspended && winWave.output && winWave.blocksThisPass <= winWave.blockCount) {
        const uint32_t index = winWave.currentBlock;
        WaveBlock* header = winWave.headers[index];
        if (!waveBlockDone(winWave.output, header)) break;
        winWave.prepared[index] = 0;
        const uint32_t n =
            std::min((winWave.blockBytes - winWave.fillOffset) / winWave.bytesPerFrame, winWave.framesLeft);
        winWave.framesLeft -= n;
        if ((err = mixData(n, winWave.blocks[index] + winWave.fillOffset))) break;
        winWave.fillOffset += n * winWave.bytesPerFrame;
        if (winWave.fillOffset >= winWave.blockBytes) {
            *header = WaveBlock{winWave.blocks[index], winWave.blockBytes, {0, 0, 0, 0}};
            winWave.prepared[index] = 1;
            if (int result = waveWrite(winWave.output, header)) {
                err = waveResultToError(result);
                break;
            }
            winWave.fillOffset = 0;
            winWave.currentBlock = (index + 1) % winWave.blockCount;
            ++winWave.blocksThisPass;
        }
        if (winWave.framesLeft == 0) {
            winWave.framesLeft = winWave.framesPerTick;
            *tickDue = 1;
            break;
        }
    }
    criticalLeave(winWave.lock);
    return err;
}

} // namespace

SoundDevice winWaveDevice = makeSoundDevice("Windows Wave Sound Device 1.11", cardNames, 0x38, 0xf,
                                  {detectDevice, openDevice, closeDevice, suspendOutput, resumeOutput,
                                   getOutputMode, setUpdateRate, beginPoll, play});

int waveResultToError(int result) {
    switch (result) {
    case 0: return errOK;
    case 2: case 3: case 5: case 35: return errInvalidDevice;
    case 4: case 12: case 33: return errDeviceBusy;
    case 6: return errDeviceNotAvailable;
    case 7: return errOutOfMemory;
    case 8: return errUnsupported;
    case 10: case 11: case 34: return errInvalidArguments;
    case 32: return errBadOutputMode;
    default: return errUndefined;
    }
}
