// The DirectSound device on the platform's looping sound buffer (see dsound.h
// for what the DirectSound notions mean here).
#include "sound/output/dsound.h"

#include "platform/platform.h"
#include "sound/api/errors.h"
#include "sound/api/mglobals.h"
#include "sound/output/winwave.h"

#include <algorithm>

int dsoundEmulatedDriver = 0;
DSoundState dsound{};

namespace {

const char* const cardNames[] = {"DirectSound"};

// The platform refuses larger buffers; far beyond any sensible buffer length.
constexpr uint64_t maxBufferBytes = 16u * 1024 * 1024;
constexpr uint32_t stallRestartMs = 1000;

// The platform's sound output stands in for the DirectSound library.
bool libraryLoaded() {
    return waveDeviceCount() > 0;
}

WaveFormat outputFormat() {
    return WaveFormat{dsound.mixRate, static_cast<uint16_t>((dsound.outputMode & OUT_MONO) ? 1 : 2),
                      static_cast<uint16_t>((dsound.outputMode & OUT_8BIT) ? 8 : 16)};
}

// Stops and frees the buffer.
int stopAndRelease() {
    if (!dsound.buffer) return errOK;
    const int result = soundBufferStop(dsound.buffer);
    soundBufferRelease(dsound.buffer);
    dsound.buffer = nullptr;
    return waveResultToError(result);
}

int openOutput() {
    if (!soundOptions[optDSoundWindow]) return errNoDSoundWindow;
    if (!libraryLoaded()) return errNoDSoundDll;
    dsound.primaryMode = 0; // no primary buffer to write into
    dsound.emulated = dsoundEmulatedDriver ? 1 : 0;
    const int length = dsound.emulated ? soundOptions[optBufferLength] : soundOptions[optDSoundBufferLength];
    if (length <= 0) return errInvalidArguments;
    const uint64_t wanted =
        (static_cast<uint64_t>(dsound.bytesPerFrame) * dsound.mixRate * static_cast<uint64_t>(length) / 1000 + 15) &
        ~uint64_t{15};
    if (wanted > maxBufferBytes) return errInvalidArguments;
    dsound.writePos = 0;
    dsound.playPos = 0;
    dsound.gap = 16;
    dsound.hadFocus = 0;
    dsound.stallSince = 0;
    SoundBuffer* buffer = nullptr;
    int result = soundBufferCreate(&buffer, outputFormat(), static_cast<uint32_t>(wanted));
    if (result != waveOk) return waveResultToError(result);
    dsound.buffer = buffer;
    dsound.bufferBytes = soundBufferSize(buffer);
    if ((result = soundBufferPlay(buffer)) != waveOk) {
        soundBufferRelease(buffer);
        dsound.buffer = nullptr;
        return waveResultToError(result);
    }
    return errOK;
}

// Nothing could be written: a cursor that stays put for over a second is
// restarted.
void recoverStall() {
    const uint32_t now = tickCountMs();
    if (!dsound.hadFocus) {
        dsound.hadFocus = 1;
    } else if (dsound.stallSince == 0 || dsound.stallSince > now) {
        dsound.stallSince = now;
    } else if (now - dsound.stallSince > stallRestartMs) {
        soundBufferStop(dsound.buffer);
        soundBufferPlay(dsound.buffer);
        dsound.stallSince = 0;
    }
}

// --- operations ------------------------------------------------------------------------------

int detectDevice(int32_t* found) {
    if (!found) return errInvalidArguments;
    *found = 0;
    const int mode = soundOptions[optDSoundMode];
    if (mode == 0) return errOK;
    if (!soundOptions[optDSoundWindow]) return errNoDSoundWindow;
    if (soundOptions[optDSoundObject] || mode == 3) {
        *found = 1;
        return errOK;
    }
    if (neverUseDirectSound) return errOK;
    if (!libraryLoaded()) return errOK;
    *found = dsoundEmulatedDriver ? 0 : 1;
    return errOK;
}

int openDevice(uint32_t mixRate, uint32_t mode) {
    dsound.mixRate = mixRate;
    dsound.suspended = 0;
    if (!dsound.lock) dsound.lock = criticalCreate();
    criticalEnter(dsound.lock);
    dsound.outputMode = deviceOutputMode(mode);
    dsound.bytesPerFrame = outputFrameBytes(dsound.outputMode);
    int err = openOutput();
    if (!err) {
        err = mixerInit(mixRate, outputMixMode(dsound.outputMode, soundOptions[optInterpolation] == 1));
        if (err) {
            stopAndRelease();
            mixerClose();
        }
    }
    if (!err) dsound.framesPerTick = dsound.framesLeft = framesPerTickFor(mixRate, 5000);
    criticalLeave(dsound.lock);
    return err;
}

int closeDevice() {
    if (!dsound.lock) return errOK;
    criticalEnter(dsound.lock);
    int err = mixerClose();
    if (!dsound.suspended) {
        const int released = stopAndRelease();
        if (!err) err = released;
    }
    criticalLeave(dsound.lock);
    criticalDestroy(dsound.lock);
    dsound.lock = nullptr;
    return err;
}

int suspendOutput() {
    if (!dsound.lock) return errOK;
    criticalEnter(dsound.lock);
    int err = errOK;
    if (!dsound.suspended) {
        dsound.suspended = 1;
        err = stopAndRelease();
    }
    criticalLeave(dsound.lock);
    return err;
}

int resumeOutput() {
    if (!dsound.lock) return errOK;
    criticalEnter(dsound.lock);
    int err = errOK;
    if (dsound.suspended) {
        err = openOutput();
        if (!err) dsound.suspended = 0;
    }
    criticalLeave(dsound.lock);
    return err;
}

int getOutputMode(uint32_t* mode) {
    if (!mode) return errInvalidArguments;
    *mode = dsound.outputMode;
    return errOK;
}

int setUpdateRate(uint32_t rate) {
    if (rate == 0) return errInvalidArguments;
    dsound.framesPerTick = dsound.framesLeft = framesPerTickFor(dsound.mixRate, rate);
    return errOK;
}

int beginPoll() {
    if (!dsound.lock) return errOK;
    criticalEnter(dsound.lock);
    if (!dsound.suspended && dsound.buffer) dsound.playPos = soundBufferPlayCursor(dsound.buffer);
    criticalLeave(dsound.lock);
    return errOK;
}

int play(int32_t* tickDue) {
    if (!tickDue) return errInvalidArguments;
    *tickDue = 0;
    if (!dsound.lock) return errOK;
    criticalEnter(dsound.lock);
    if (dsound.suspended || !dsound.buffer || dsound.bufferBytes == 0) {
        criticalLeave(dsound.lock);
        return errOK;
    }
    uint32_t free = (dsound.playPos + dsound.bufferBytes - dsound.writePos) % dsound.bufferBytes;
    if (free > dsound.gap) {
        free -= dsound.gap;
        dsound.stallSince = 0;
    } else {
        recoverStall();
        free = 0;
    }
    uint8_t* data = soundBufferData(dsound.buffer);
    uint32_t frames = free / dsound.bytesPerFrame;
    int err = errOK;
    while (frames && dsound.framesLeft) {
        const uint32_t n = std::min(frames, dsound.framesLeft);
        dsound.framesLeft -= n;
        const uint32_t bytes = n * dsound.bytesPerFrame;
        // The stretch may wrap round the end of the buffer: two pieces then.
        const uint32_t first = std::min(bytes, dsound.bufferBytes - dsound.writePos);
        if ((err = mixData(first / dsound.bytesPerFrame, data + dsound.writePos))) break;
        if (bytes > first && (err = mixData((bytes - first) / dsound.bytesPerFrame, data))) break;
        dsound.writePos = (dsound.writePos + bytes) % dsound.bufferBytes;
        frames -= n;
    }
    if (!err && dsound.framesLeft == 0) {
        dsound.framesLeft = dsound.framesPerTick;
        *tickDue = 1;
    }
    criticalLeave(dsound.lock);
    return err;
}

} // namespace

SoundDevice dsoundDevice = makeSoundDevice("DirectSound Sound Device 1.10", cardNames, 0x38, 0xf,
                                  {detectDevice, openDevice, closeDevice, suspendOutput, resumeOutput,
                                   getOutputMode, setUpdateRate, beginPoll, play});
