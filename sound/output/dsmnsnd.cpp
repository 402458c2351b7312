// The silent device. Every channel mixes at master volume 0, which costs only
// its position update; the 4000 Hz rate keeps that cheap.
#include "sound/output/dsmnsnd.h"

#include "platform/platform.h"
#include "sound/api/errors.h"

#include <algorithm>
#include <array>

NoSoundState noSound{};

namespace {

const char* const cardNames[] = {"No Sound"};

constexpr uint32_t silentRate = 4000;
constexpr uint32_t silentMode = OUT_MONO | OUT_16BIT;
// Polls closer together than this owe nothing (the time is dropped).
constexpr uint32_t minElapsedMs = 9;
// At most two seconds are caught up after a long pause.
constexpr uint32_t maxElapsedMs = 2000;

// Where the frames nobody hears are mixed to.
std::array<int16_t, 1024> scratch;

int detectDevice(int32_t* found) {
    if (!found) return errInvalidArguments;
    *found = 1;
    return errOK;
}

int openDevice(uint32_t, uint32_t) {
    noSound.suspended = 0;
    if (int err = mixerInit(silentRate, MIX_16BIT | MIX_MONO)) return err;
    noSound.framesPerTick = noSound.framesLeft = framesPerTickFor(silentRate, 5000);
    noSound.framesOwed = 0;
    setMasterVolume(0);
    noSound.lastTick = tickCountMs();
    return errOK;
}

int closeDevice() {
    return mixerClose();
}

int suspendOutput() {
    noSound.suspended = 1;
    return errOK;
}

int resumeOutput() {
    noSound.suspended = 0;
    return errOK;
}

int getOutputMode(uint32_t* mode) {
    if (!mode) return errInvalidArguments;
    *mode = silentMode;
    return errOK;
}

int setUpdateRate(uint32_t rate) {
    if (rate == 0) return errInvalidArguments;
    noSound.framesPerTick = noSound.framesLeft = framesPerTickFor(silentRate, rate);
    return errOK;
}

int beginPoll() {
    const uint32_t now = tickCountMs();
    uint32_t elapsed = now - noSound.lastTick;
    noSound.lastTick = now;
    elapsed = std::min(elapsed, maxElapsedMs);
    if (elapsed <= minElapsedMs) elapsed = 0;
    noSound.framesOwed = elapsed * silentRate / 1000;
    return errOK;
}

int play(int32_t* tickDue) {
    if (!tickDue) return errInvalidArguments;
    *tickDue = 0;
    if (noSound.framesOwed == 0 || noSound.suspended) return errOK;
    const uint32_t n = std::min(noSound.framesLeft, noSound.framesOwed);
    noSound.framesLeft -= n;
    noSound.framesOwed -= n;
    const uint32_t piece = std::clamp<uint32_t>(mixer.mixBufferBytes / 4, 1, scratch.size());
    for (uint32_t done = 0; done < n;) {
        const uint32_t count = std::min(piece, n - done);
        if (int err = mixData(count, scratch.data())) return err;
        done += count;
    }
    if (noSound.framesLeft == 0) {
        noSound.framesLeft = noSound.framesPerTick;
        *tickDue = 1;
    }
    return errOK;
}

} // namespace

SoundDevice noSoundDevice = makeSoundDevice("Mixing No Sound Sound Device", cardNames, 0x20, OUT_MONO | OUT_16BIT,
                                  {detectDevice, openDevice, closeDevice, suspendOutput, resumeOutput,
                                   getOutputMode, setUpdateRate, beginPoll, play});
