// The channel mixing loop: renders output in chunks that fit the mixing
// buffer, cutting each channel's work into runs that end at its next loop
// point, data end or stream write position, and handling those events.
#include "sound/mixer/dsmmix.h"

#include "sound/api/errors.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr int64_t maxRunDistance = 0x7fff0000; // 32767 frames in 16.16

bool stereoOutput() {
    return (mixer.mixMode & MIX_MONO) == 0;
}

bool stereoSampleType(uint32_t type) {
    return type == SMP_8BIT_STEREO || type == SMP_16BIT_STEREO || type == SMP_ULAW_STEREO;
}

// rate / mixRate in 16.16, held below the run-distance limit so that a run
// always covers at least one frame.
int64_t stepFor(uint32_t rate) {
    // (rate x 65536) / mixRate equals the whole part's and the remainder's
    // quotients summed, for one division instead of two.
    const uint64_t step = (uint64_t(rate) << 16) / mixer.mixRate;
    return int64_t(std::min<uint64_t>(step, maxRunDistance));
}

// The routine inputs that follow from a channel's current volumes.
void setRoutineVolumes(MixArgs& a, const MixerChannel& ch) {
    const uint64_t amp = uint64_t(mixer.amplification);
    const uint64_t n = mixer.channelCount ? mixer.channelCount : 1;
    const uint32_t lv = uint32_t(ch.leftVolume), rv = uint32_t(ch.rightVolume);
    if (mixer.integerMixing) {
        uint32_t leftLevel, rightLevel;
        int32_t leftMul, rightMul;
        if (stereoOutput()) {
            leftLevel = ((lv >> 16) + 1) >> 1;
            rightLevel = ((rv >> 16) + 1) >> 1;
            leftMul = int32_t((amp * lv / n) >> 20);
            rightMul = int32_t((amp * rv / n) >> 20);
            if (ch.panning == PAN_SURROUND) rightMul = -rightMul;
        } else if (stereoSampleType(ch.type)) {
            leftLevel = rightLevel = ((lv >> 17) + 1) >> 1;
            leftMul = rightMul = int32_t((amp * (lv >> 1) / n) >> 20);
        } else {
            leftLevel = rightLevel = (lv + 1) >> 17;
            leftMul = rightMul = int32_t((amp * lv / n) >> 20);
        }
        leftLevel = std::min(leftLevel, 32u);
        rightLevel = std::min(rightLevel, 32u);
        a.leftTable = mixer.volumeTable + leftLevel * 256;
        a.rightTable = mixer.volumeTable + rightLevel * 256;
        a.leftUlawTable = mixer.ulawVolumeTable + leftLevel * 256;
        a.rightUlawTable = mixer.ulawVolumeTable + rightLevel * 256;
        a.leftMultiplier = leftMul;
        a.rightMultiplier = rightMul;
    } else {
        const float scale = float(amp) / (float(n) * 268435456.0f);
        a.leftFactor = scale * float(lv);
        a.rightFactor = scale * float(rv);
        if (ch.panning == PAN_SURROUND) a.rightFactor = -a.rightFactor;
        if (!stereoOutput() && stereoSampleType(ch.type)) a.leftFactor = scale * 0.5f * float(lv);
    }
}

// Moves the current volumes one output frame toward their targets.
void advanceRamp(MixerChannel& ch) {
    bool fullStep = false;
    auto side = [&fullStep](int32_t& cur, int32_t target, int32_t step) {
        const int64_t dist = int64_t(target) - cur;
        const int64_t mag = dist < 0 ? -dist : dist;
        if (step <= 0 || mag <= step) {
            if (step > 0 && mag == step) fullStep = true;
            cur = target;
        } else {
            cur += dist < 0 ? -step : step;
            fullStep = true;
        }
    };
    side(ch.leftVolume, ch.leftTarget, ch.leftStep);
    side(ch.rightVolume, ch.rightTarget, ch.rightStep);
    ch.ramping = fullStep ? 1 : 0;
}

bool pendingChangeAtEnd(const MixerChannel& ch) {
    if (!ch.samplePending || ch.sampleHandle == 0 || ch.sampleHandle > mixer.sampleCapacity) return false;
    const uint32_t newMode = mixer.samples[ch.sampleHandle - 1].loopMode;
    return (ch.loopMode == LOOPMODE_PROTRACKER || ch.loopMode == LOOPMODE_PROTRACKER_LOOPING) &&
           (newMode == LOOPMODE_PROTRACKER || newMode == LOOPMODE_PROTRACKER_LOOPING);
}

// Takes over a pending sample at an end; true when the channel plays on.
bool changeSampleAtEnd(MixerChannel& ch, int64_t& pos) {
    takeOverSample(ch);
    if (ch.loopMode != LOOPMODE_PROTRACKER_LOOPING) {
        ch.status = CH_ENDED;
        return false;
    }
    pos = int64_t(ch.loop1Start) << 16;
    ch.activeLoop = 1;
    ch.direction = 1;
    return true;
}

// Handle 1024 marks streams but is also an ordinary sample's handle: a
// channel playing that sample's data is no stream.
bool isStream(const MixerChannel& ch) {
    if (ch.sampleHandle != STREAM_HANDLE) return false;
    if (STREAM_HANDLE > mixer.sampleCapacity) return true; // no sample has taken that handle
    const SampleHandleEntry& last = mixer.samples[STREAM_HANDLE - 1];
    return !(last.inUse && last.data != nullptr && ch.data == last.data);
}

void storePosition(MixerChannel& ch, int64_t pos) {
    ch.position = uint32_t(pos >> 16);
    ch.fraction = uint32_t(pos & 0xffff);
}

} // namespace

const MixRoutineEntry* pickMixRoutine(const MixRoutineEntry* table, uint32_t type, int32_t panning) {
    if (type > SMP_ULAW_STEREO) return nullptr;
    if (panning == 0 && table[MIX_GROUP_CENTRE + type].mixFrames) return &table[MIX_GROUP_CENTRE + type];
    if (panning == PAN_SURROUND && table[MIX_GROUP_SURROUND + type].mixFrames)
        return &table[MIX_GROUP_SURROUND + type];
    return table[type].mixFrames ? &table[type] : nullptr;
}

namespace {

// What one pass of the channel loop works with: the loop in effect (the data's
// end when the channel plays unlooped), the direction and where the pass began.
struct RunContext {
    LoopBounds loop;
    bool stream;
    bool forward;
    uint32_t startFrame; // the channel's whole frame when the run began
};

// One run: the output frames up to the channel's next event, and the
// interpolation partner offset for them.
struct Run {
    uint32_t frames;
    int32_t neighbour;
};

RunContext contextOf(const MixerChannel& ch) {
    RunContext c{.loop = activeLoopBounds(ch), .stream = isStream(ch), .forward = ch.direction >= 0,
                 .startFrame = ch.position};
    if (c.loop.type == LOOP_NONE) c.loop.end = ch.length;
    return c;
}

// How far the channel can play before its next event (loop end or start, data
// end, stream write position), at most frames output frames.
Run measureRun(const MixerChannel& ch, const RunContext& c, int64_t pos, int64_t step, uint32_t frames) {
    int64_t d;
    int32_t neighbour = 1;
    if (c.forward) {
        const bool toWritePos = c.stream && ch.streamWritePos >= ch.position && ch.streamWritePos < c.loop.end;
        const int64_t event = toWritePos ? ch.streamWritePos : c.loop.end;
        d = (event << 16) - pos;
        if (mixer.interpolating) {
            // Stop a frame early so that interpolation never reads past the data.
            if (pos < ((event - 1) << 16)) {
                d = ((event - 1) << 16) - pos;
            } else if (!toWritePos && c.loop.type == LOOP_FORWARD) {
                neighbour = int32_t(int64_t(c.loop.start) - ch.position);
            } else {
                neighbour = 0;
            }
        }
    } else {
        d = pos - (int64_t(c.loop.start) << 16);
        if (mixer.interpolating && uint64_t(ch.position) + 1 >= ch.length) {
            // The last frame of the data has no partner after it.
            d = std::min(d, pos - (int64_t(ch.length - 1) << 16) + 1);
            neighbour = 0;
        }
    }
    d = std::clamp<int64_t>(d, 0, maxRunDistance);
    return {.frames = uint32_t(std::min<int64_t>((d + step - 1) / step, frames)), .neighbour = neighbour};
}

// Mixes one run of the channel into dest (moved past it): volume ramps a frame
// at a time, then whole blocks and the frames left over. A silent channel only
// moves on (a silent fade-out copy is done), and so does every channel when
// dest is null: its position and volume ramps go on as mixing would take them,
// without a sound being made. Returns the position after the run.
int64_t mixRun(MixerChannel& ch, const Run& run, const RunContext& c, int64_t pos, int64_t step, void*& dest) {
    // Every input the routines read is set here (no clearing of the whole record per run).
    MixArgs a;
    a.source = ch.data + (uint64_t(ch.position) << sampleFrameShift(ch.type));
    a.position = pos & 0xffff;
    a.step = int32_t(c.forward ? step : -step);
    a.dest = dest;
    a.neighbour = run.neighbour;
    a.first = ch.data;
    a.end = ch.data + (uint64_t(ch.length) << sampleFrameShift(ch.type));
    a.byteToFloat = mixer.byteToFloat;
    a.ulawToFloat = mixer.ulawToFloat;
    const MixRoutineEntry* e = pickMixRoutine(mixer.routineTable, ch.type, ch.panning);
    uint32_t left = run.frames;
    const bool dry = dest == nullptr;
    const uint32_t outValues = stereoOutput() ? 2 : 1;
    if (e) {
        while (ch.ramping && left) {
            if (dry) {
                a.position += a.step;
            } else {
                setRoutineVolumes(a, ch);
                a.frames = 1;
                e->mixFrames(a);
            }
            advanceRamp(ch);
            --left;
        }
    }
    if (left) {
        const bool silent = !e || (ch.leftVolume == 0 && ch.rightVolume == 0);
        if (silent || dry) {
            a.position += int64_t(left) * a.step;
            if (!dry) a.dest = static_cast<int32_t*>(a.dest) + uint64_t(left) * outValues;
            if (silent && ch.status == CH_FADING) {
                ch.status = CH_OFF;
                ch.ramping = 0;
            }
        } else {
            setRoutineVolumes(a, ch);
            if (run.neighbour == 1) {
                const uint32_t blocks = left - left % e->blockSize;
                if (blocks) {
                    a.frames = blocks;
                    e->mixBlocks(a);
                }
                if (left > blocks) {
                    a.frames = left - blocks;
                    e->mixFrames(a);
                }
            } else {
                a.frames = left;
                e->mixFrames(a);
            }
        }
    }
    dest = a.dest;
    return (int64_t(ch.position) << 16) + a.position;
}

// A backward run ended: a ping-pong loop turns forward at its start.
bool turnAtLoopStart(MixerChannel& ch, const RunContext& c, int64_t pos, uint32_t channelNumber) {
    const int64_t startFP = int64_t(c.loop.start) << 16, endFP = int64_t(c.loop.end) << 16;
    if (c.loop.type == LOOP_BIDI && pos <= startFP) {
        if (ch.loopCallback) ch.loopCallback(channelNumber);
        // Reflect about the loop start, never below it.
        pos = std::max(2 * startFP - pos - 1, startFP);
        ch.direction = 1;
        if (pos >= endFP) {
            storePosition(ch, startFP);
            return false;
        }
    }
    storePosition(ch, pos);
    return true;
}

// A forward run reached its loop's end: a pending sample takes over, a
// released sustain loop gives way to the second loop, a forward loop wraps,
// a ping-pong loop turns back.
bool passLoopEnd(MixerChannel& ch, const RunContext& c, int64_t pos, uint32_t channelNumber) {
    const int64_t startFP = int64_t(c.loop.start) << 16, endFP = int64_t(c.loop.end) << 16;
    if (ch.loopCallback) ch.loopCallback(channelNumber);
    if (pendingChangeAtEnd(ch)) {
        const bool goesOn = changeSampleAtEnd(ch, pos);
        storePosition(ch, goesOn ? pos : 0);
        return goesOn;
    }
    if (ch.activeLoop == 1 && ch.status == CH_RELEASED) {
        ch.activeLoop = 2;
        storePosition(ch, pos);
        return true;
    }
    if (c.loop.type == LOOP_FORWARD) {
        pos -= endFP - startFP;
        if (pos >= endFP) {
            storePosition(ch, startFP);
            return false;
        }
    } else {
        pos = 2 * endFP - pos - 1;
        ch.direction = -1;
        if (pos <= startFP) {
            // The loop's last frame: the end itself may lie beyond the data.
            storePosition(ch, endFP - 1);
            return false;
        }
    }
    storePosition(ch, pos);
    return true;
}

// What happens where a run ended: the channel switched off, a stream waiting
// for its writer, the data's end (or a pending sample taking over), or a loop
// point. Stores the new position; true when the channel plays on in this block.
bool finishRun(MixerChannel& ch, const RunContext& c, int64_t pos, uint32_t record) {
    if (ch.status == CH_OFF) {
        storePosition(ch, std::max<int64_t>(pos, 0));
        return false;
    }
    if (c.stream && ch.streamWritePos == c.loop.end && pos >= (int64_t(c.loop.end) << 16)) {
        storePosition(ch, pos);
        return false;
    }
    if (c.loop.type == LOOP_NONE && pos >= (int64_t(ch.length) << 16)) {
        if (pendingChangeAtEnd(ch) && changeSampleAtEnd(ch, pos)) {
            storePosition(ch, pos);
            return true;
        }
        ch.status = CH_ENDED;
        storePosition(ch, std::min<int64_t>(pos, int64_t(ch.length) << 16));
        return false;
    }
    // The channel number a loop callback gets (fade-out copies report their channel's).
    const uint32_t channelNumber = record % mixer.channelCount;
    if (!c.forward) return turnAtLoopStart(ch, c, pos, channelNumber);
    if (pos < (int64_t(c.loop.end) << 16)) {
        // Mid-loop: a stream stops where its writer has got to.
        storePosition(ch, pos);
        return !(c.stream && pos >= (int64_t(ch.streamWritePos) << 16) && ch.streamWritePos >= c.startFrame);
    }
    return passLoopEnd(ch, c, pos, channelNumber);
}

// Mixes a channel's runs; returns the output frames it could not fill.
uint32_t mixRuns(uint32_t record, void* dest, uint32_t frames) {
    MixerChannel& ch = mixer.channels[record];
    if (ch.status == CH_OFF || ch.status == CH_ENDED) return frames;
    if (ch.rate == 0) return frames;
    const int64_t step = stepFor(ch.rate);
    if (step == 0) return frames;
    int zeroRuns = 0;
    while (frames > 0 && ch.status != CH_OFF && ch.status != CH_ENDED) {
        if (!ch.data || !ch.location || !ch.length) return frames;
        const RunContext c = contextOf(ch);
        const int64_t pos = (int64_t(ch.position) << 16) | (ch.fraction & 0xffff);
        const Run run = measureRun(ch, c, pos, step, frames);
        // A channel that twice in a row cannot move (a loop shorter than a step
        // at its turning point) gives up the rest of the block.
        if (run.frames == 0) {
            if (++zeroRuns >= 2) return frames;
        } else {
            zeroRuns = 0;
        }
        const int64_t after = mixRun(ch, run, c, pos, step, dest);
        frames -= run.frames;
        if (!finishRun(ch, c, after, record)) return frames;
    }
    return frames;
}

} // namespace

void mixChannel(uint32_t record, void* dest, uint32_t frames) {
    MixerChannel& ch = mixer.channels[record];
    // A fade-out copy that stops short (no rate, a stream waiting for its
    // writer, a loop shorter than a step) can no longer ramp down; it ends
    // rather than hold the record that the next restart needs.
    if (mixRuns(record, dest, frames) != 0 && ch.status == CH_FADING) {
        ch.status = CH_OFF;
        ch.ramping = 0;
    }
}

namespace {

// Whether a record plays through its resonant filter now.
bool filtered(const MixerChannel& ch) {
    return ch.filterOn && ch.status != CH_OFF && ch.status != CH_ENDED;
}

// Runs each output side of a channel mixed alone through the channel's filter, carrying its
// history from block to block, and adds the result to the sum (none when skipping).
template <typename Value> void filterSides(MixerChannel& ch, const Value* alone, Value* sum, uint32_t frames) {
    const uint32_t sides = stereoOutput() ? 2 : 1;
    const float a = ch.filterA, b = ch.filterB, c = ch.filterC;
    for (uint32_t s = 0; s < sides; ++s) {
        float last = ch.filterHistory[s][0], before = ch.filterHistory[s][1];
        for (uint32_t i = s; i < frames * sides; i += sides) {
            // A resonance at the top may ring loud; it stays within what the sum can hold.
            const float out = std::clamp(a * float(alone[i]) + b * last + c * before, -1.0e9f, 1.0e9f);
            before = last;
            last = out;
            if (sum) sum[i] += Value(out);
        }
        ch.filterHistory[s][0] = last;
        ch.filterHistory[s][1] = before;
    }
}

// Mixes a filtered record alone into the filter buffer, in blocks that fit it, and filters it
// into the sum (or only moves it and its filter on, without a sum).
void mixFiltered(uint32_t record, void* sum, uint32_t frames) {
    MixerChannel& ch = mixer.channels[record];
    const uint32_t sides = stereoOutput() ? 2 : 1;
    const uint32_t most = mixer.mixBufferBytes / (4 * sides);
    uint32_t done = 0;
    while (done < frames) {
        const uint32_t block = std::min(frames - done, most);
        std::memset(mixer.filterBuffer, 0, size_t(block) * sides * 4);
        mixChannel(record, mixer.filterBuffer, block);
        if (mixer.integerMixing) {
            filterSides(ch, static_cast<const int32_t*>(mixer.filterBuffer),
                        sum ? static_cast<int32_t*>(sum) + size_t(done) * sides : nullptr, block);
        } else {
            filterSides(ch, static_cast<const float*>(mixer.filterBuffer),
                        sum ? static_cast<float*>(sum) + size_t(done) * sides : nullptr, block);
        }
        done += block;
    }
}

// Mixes one record into the sum, through its filter when it has one on.
void mixRecord(uint32_t record, void* sum, uint32_t frames) {
    if (filtered(mixer.channels[record]))
        mixFiltered(record, sum, frames);
    else
        mixChannel(record, sum, frames);
}

} // namespace

// The conversions handle eight or sixteen values a pass with SSE2 (part of
// every x86-64 processor), whose saturating packs are exactly the clipping
// to 16 and 8 bits; the remainder, and other processors, take the plain loop.

void convertIntTo16(const int32_t* src, int16_t* dst, uint32_t count) {
    uint32_t i = 0;
#if defined(__SSE2__)
    for (; i + 8 <= count; i += 8) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i + 4));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_packs_epi32(a, b));
    }
#endif
    for (; i < count; ++i)
        dst[i] = int16_t(std::clamp(src[i], -32768, 32767));
}

void convertIntTo8(const int32_t* src, uint8_t* dst, uint32_t count) {
    uint32_t i = 0;
#if defined(__SSE2__)
    const __m128i offset = _mm_set1_epi8(int8_t(-128)); // + 128 on a signed byte is a flip of its top bit
    for (; i + 16 <= count; i += 16) {
        __m128i v[4];
        for (int k = 0; k < 4; ++k)
            v[k] = _mm_srai_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i + 4 * k)), 8);
        const __m128i bytes = _mm_packs_epi16(_mm_packs_epi32(v[0], v[1]), _mm_packs_epi32(v[2], v[3]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_xor_si128(bytes, offset));
    }
#endif
    for (; i < count; ++i)
        dst[i] = uint8_t(std::clamp(src[i] >> 8, -128, 127) + 128);
}

// Adding and removing 1.5 x 2^23 rounds a float of magnitude below 2^22 to an
// integer in the current (round-to-nearest) mode, with no library call.
constexpr float roundingBias = 12582912.0f;

void convertFloatTo16(const float* src, int16_t* dst, uint32_t count) {
    uint32_t i = 0;
#if defined(__SSE2__)
    // max and min take their second operand for a NaN, as the plain loop
    // sends it to the lower bound; the conversion rounds in the current mode.
    const __m128 low = _mm_set1_ps(-32768.0f), high = _mm_set1_ps(32767.0f);
    for (; i + 8 <= count; i += 8) {
        const __m128 a = _mm_min_ps(_mm_max_ps(_mm_loadu_ps(src + i), low), high);
        const __m128 b = _mm_min_ps(_mm_max_ps(_mm_loadu_ps(src + i + 4), low), high);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_packs_epi32(_mm_cvtps_epi32(a), _mm_cvtps_epi32(b)));
    }
#endif
    for (; i < count; ++i) {
        // Clipping before the conversion gives the same result and keeps it
        // defined; min and max in this order send a NaN to the lower bound.
        const float c = std::min(32767.0f, std::max(-32768.0f, src[i]));
        dst[i] = int16_t(int32_t((c + roundingBias) - roundingBias));
    }
}

void convertFloatTo8(const float* src, uint8_t* dst, uint32_t count) {
    uint32_t i = 0;
#if defined(__SSE2__)
    const __m128 low = _mm_set1_ps(-65536.0f), high = _mm_set1_ps(65536.0f);
    const __m128i offset = _mm_set1_epi8(int8_t(-128));
    for (; i + 16 <= count; i += 16) {
        __m128i v[4];
        for (int k = 0; k < 4; ++k) {
            const __m128 c = _mm_min_ps(_mm_max_ps(_mm_loadu_ps(src + i + 4 * k), low), high);
            v[k] = _mm_srai_epi32(_mm_cvttps_epi32(c), 8);
        }
        const __m128i bytes = _mm_packs_epi16(_mm_packs_epi32(v[0], v[1]), _mm_packs_epi32(v[2], v[3]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm_xor_si128(bytes, offset));
    }
#endif
    for (; i < count; ++i) {
        const float c = std::min(65536.0f, std::max(-65536.0f, src[i]));
        dst[i] = uint8_t(std::clamp(int32_t(c) >> 8, -128, 127) + 128);
    }
}

int skipData(uint32_t frameCount) {
    if (!mixer.mixBuffer) return errInvalidArguments;
    // Channels are independent of one another, so each goes the whole way at once.
    if (!mixer.paused && mixer.channelsOpen) {
        for (uint32_t r = 0; r < mixer.recordCount; ++r)
            mixRecord(r, nullptr, frameCount);
    }
    return errOK;
}

int mixData(uint32_t frameCount, void* destination) {
    if (!mixer.mixBuffer) return errInvalidArguments;
    const bool stereo = stereoOutput();
    const uint32_t outValues = stereo ? 2 : 1;
    const uint32_t maxChunk = mixer.mixBufferBytes / (4 * outValues);
    const bool out8 = (mixer.mixMode & MIX_8BIT) != 0;
    uint8_t* out = static_cast<uint8_t*>(destination);
    while (frameCount > 0) {
        const uint32_t chunk = std::min(frameCount, maxChunk);
        const uint32_t values = chunk * outValues;
        std::memset(mixer.mixBuffer, 0, values * 4);
        if (!mixer.paused && mixer.channelsOpen) {
            for (uint32_t r = 0; r < mixer.recordCount; ++r)
                mixRecord(r, mixer.mixBuffer, chunk);
        }
        PostProcessor* head = mixer.postProcessors;
        for (PostProcessor* node = head ? head->next : nullptr; node && node != head;) {
            PostProcessor* next = node->next;
            PostProcRoutine routine = mixer.integerMixing ? (stereo ? node->intStereo : node->intMono)
                                                          : (stereo ? node->floatStereo : node->floatMono);
            if (routine) routine(mixer.mixBuffer, chunk, node->userData);
            node = next;
        }
        if (mixer.integerMixing) {
            const int32_t* src = static_cast<const int32_t*>(mixer.mixBuffer);
            if (out8) {
                convertIntTo8(src, out, values);
            } else {
                convertIntTo16(src, reinterpret_cast<int16_t*>(out), values);
            }
        } else {
            const float* src = static_cast<const float*>(mixer.mixBuffer);
            if (out8) {
                convertFloatTo8(src, out, values);
            } else {
                convertFloatTo16(src, reinterpret_cast<int16_t*>(out), values);
            }
        }
        out += uint64_t(values) * (out8 ? 1 : 2);
        frameCount -= chunk;
    }
    return errOK;
}
