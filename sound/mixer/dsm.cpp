// Mixer core: state, sample handles, channel operations, volume computation,
// volume and conversion tables and the mu-law codec.
#include "sound/mixer/dsm.h"

#include "sound/mixer/dsmfilt.h"
#include "sound/mixer/dsmmix.h"
#include "sound/api/errors.h"
#include "sound/sys/mmem.h"
#include "sound/output/sdevice.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <numbers>

MixerState mixer;
MixerOptions mixerOptions;
MixerCpuChoice mixerCpuChoice = MixerCpuChoice::Auto;

namespace {

// Amplification is held to this, so that no table entry, multiplier product
// or sum of the 32-bit mixing buffer can overflow.
constexpr uint32_t maxAmplification = 65535;
// Mixing rates above this would overflow the buffer size computation long before.
constexpr uint32_t maxMixRate = 768000;
// More channels than any module or effect set uses; keeps the records' size sane.
constexpr uint32_t maxChannels = 1024;
// Sample handles the table has room for at first (one page of entries).
constexpr uint32_t firstSampleCapacity = 64;

// Any host this runs on has a floating-point unit at least as fast as the
// table look-ups, so automatic selection mixes with floats.
bool hostPrefersFloat() {
    return mixerCpuChoice != MixerCpuChoice::Integer;
}

bool stereoOutput() {
    return (mixer.mixMode & MIX_MONO) == 0;
}

uint32_t openChannelsForScale() {
    return mixer.channelCount ? mixer.channelCount : 1;
}

bool badChannel(uint32_t channel) {
    return mixer.channels == nullptr || channel >= mixer.channelCount;
}

void freeIf(auto*& p) {
    if (p) mem_free(p);
    p = nullptr;
}

// 8-bit and mu-law volume tables for the current amplification and channel count.
void buildVolumeTables() {
    if (!mixer.volumeTable || !mixer.ulawVolumeTable) return;
    const int64_t a = mixer.amplification;
    const int64_t n = openChannelsForScale();
    for (int64_t v = 0; v <= 32; ++v) {
        for (int64_t i = 0; i < 256; ++i) {
            mixer.volumeTable[v * 256 + i] = int32_t(((v * (i - 128) * a / 64) * 256 / 32) / n);
            mixer.ulawVolumeTable[v * 256 + i] = int32_t((ulawDecode(uint8_t(i)) * v * a / 64 / 32) / n);
        }
    }
}

const MixRoutineEntry* selectRoutineTable() {
    const bool mono = !stereoOutput();
    if (mixer.interpolating && (mixer.mixMode & MIX_CUBIC)) return mono ? mixTableMonoCubic : mixTableStereoCubic;
    if (mixer.interpolating) return mono ? mixTableMonoInterpolating : mixTableStereoInterpolating;
    if (mixer.integerMixing) return mono ? mixTableMonoInteger : mixTableStereoInteger;
    return mono ? mixTableMonoFloat : mixTableStereoFloat;
}

const MixerChannel clearedChannel = [] {
    MixerChannel c{};
    c.direction = 1;
    c.activeLoop = 1;
    return c;
}();

void normaliseLoop(uint32_t& start, uint32_t& end, uint32_t& type, uint32_t length) {
    end = std::min(end, length);
    if (type > LOOP_BIDI || start >= end) {
        // A loop whose start equals its end (or that lies outside the data) plays unlooped.
        type = LOOP_NONE;
    }
}

// Positions a channel at a frame by the rules of its active loop; status 2 after.
void placeChannel(MixerChannel& ch, uint32_t frame) {
    if (ch.sampleHandle == 0 || ch.rate == 0) return;
    if (ch.status != CH_ENDED && ch.status != CH_PLAYING && ch.status != CH_RELEASED) return;
    ch.activeLoop = ch.status == CH_RELEASED ? 2 : 1;
    const auto [start, end, type] = activeLoopBounds(ch);
    switch (type) {
    case LOOP_FORWARD:
        ch.position = frame >= end ? start : frame;
        ch.direction = 1;
        break;
    case LOOP_BIDI:
        if (frame < end) {
            ch.position = frame;
            ch.direction = 1;
        } else {
            // The last frame of the loop: the loop end itself lies beyond the data.
            ch.position = end - 1;
            ch.direction = -1;
        }
        break;
    default:
        if (frame >= ch.length) {
            ch.status = CH_ENDED;
            return;
        }
        ch.position = frame;
        ch.direction = 1;
        break;
    }
    ch.fraction = 0;
    ch.status = CH_PLAYING;
}

void rampUpFromSilence(MixerChannel& ch) {
    ch.leftVolume = ch.rightVolume = 0;
    computeChannelVolumes(ch, MIXER_RAMP_STEP);
}

} // namespace

uint32_t sampleFrameShift(uint32_t type) {
    switch (type) {
    case SMP_16BIT_MONO:
    case SMP_8BIT_STEREO:
    case SMP_ULAW_STEREO: return 1;
    case SMP_16BIT_STEREO: return 2;
    default: return 0;
    }
}

// G.711 mu-law segment bases (the decoded value of mantissa 0 per exponent).
constexpr int32_t ulawBase[8] = {0, 132, 396, 924, 1980, 4092, 8316, 16764};

int32_t ulawDecode(uint8_t byte) {
    const uint8_t b = uint8_t(~byte);
    const int32_t exponent = (b >> 4) & 7;
    const int32_t value = ulawBase[exponent] + ((b & 15) << (exponent + 3));
    return (b & 0x80) ? -value : value;
}

uint8_t ulawEncode(int16_t sample) {
    // Index of the highest set bit of a byte, 0 for 0 and 1.
    static constexpr auto exponentTable = [] {
        std::array<uint8_t, 256> t{};
        for (int i = 2; i < 256; ++i)
            t[i] = uint8_t(t[i / 2] + 1);
        return t;
    }();
    const uint32_t sign = (uint16_t(sample) >> 15) & 1;
    const int32_t magnitude = std::min<int32_t>(sample < 0 ? -int32_t(sample) : sample, 32635) + 132;
    const uint32_t exponent = exponentTable[(magnitude >> 7) & 255];
    const uint32_t mantissa = (uint32_t(magnitude) >> (exponent + 3)) & 15;
    return uint8_t(~(sign << 7 | exponent << 4 | mantissa));
}

void computeChannelVolumes(MixerChannel& ch, int32_t step) {
    int32_t left = 0, right = 0;
    if (!ch.muted && !mixer.muteAll) {
        const int32_t v = ch.volume, p = ch.panning;
        if (p == PAN_SURROUND || p == 0 || !stereoOutput()) {
            left = right = v * 64;
        } else if (p < 0) {
            left = v * 64;
            right = (p + 64) * v;
        } else {
            left = (64 - p) * v;
            right = v * 64;
        }
        left *= mixer.masterVolume * 16;
        right *= mixer.masterVolume * 16;
    }
    if (mixer.interpolating) {
        ch.ramping = 0;
        if (left != ch.leftVolume || ch.leftVolume != ch.leftTarget) {
            ch.ramping = 1;
            ch.leftTarget = left;
            ch.leftStep = step;
        }
        if (right != ch.rightVolume || ch.rightVolume != ch.rightTarget) {
            ch.ramping = 1;
            ch.rightTarget = right;
            ch.rightStep = step;
        }
    } else {
        ch.leftVolume = ch.leftTarget = left;
        ch.rightVolume = ch.rightTarget = right;
        ch.ramping = 0;
    }
}

void removeClick(uint32_t channel) {
    if (!mixer.interpolating) return;
    MixerChannel& ch = mixer.channels[channel];
    if (ch.status != CH_PLAYING && ch.status != CH_RELEASED) return;
    if (ch.leftVolume == 0 && ch.rightVolume == 0) return;
    MixerChannel& fade = mixer.channels[channel + mixer.channelCount];
    if (fade.status == CH_FADING) return;
    fade = ch;
    fade.status = CH_OFF;
    fade.volume = 0;
    // The copy is no longer the channel: its loops are not the channel's to report.
    fade.loopCallback = nullptr;
    computeChannelVolumes(fade, MIXER_RAMP_STEP);
    fade.ramping = 1;
    fade.status = CH_FADING;
}

void takeOverSample(MixerChannel& ch) {
    const SampleHandleEntry& e = mixer.samples[ch.sampleHandle - 1];
    ch.data = e.data;
    ch.type = e.type;
    // Byte positions from the player count bytes of the sample as it was
    // given, also when its copy is stored as mu-law at half the size.
    ch.positionType = e.sourceType;
    ch.location = e.location;
    ch.length = e.length;
    ch.loopMode = e.loopMode;
    ch.loop1Start = e.loop1Start;
    ch.loop1End = e.loop1End;
    ch.loop1Type = e.loop1Type;
    ch.loop2Start = e.loop2Start;
    ch.loop2End = e.loop2End;
    ch.loop2Type = e.loop2Type;
    ch.samplePending = 0;
    // The old play position means nothing in the new data; until the channel
    // is placed, it stands at the new sample's start, moving forward.
    ch.position = ch.fraction = 0;
    ch.direction = 1;
    ch.activeLoop = 1;
}

int mixerInit(uint32_t mixRate, uint32_t mixMode) {
    if (mixRate == 0 || mixRate > maxMixRate) return errInvalidArguments;
    // Also frees whatever an earlier, failed set-up left allocated.
    mixerClose();
    if (mixMode & MIX_CUBIC) mixMode |= MIX_INTERPOLATE;
    if (mixMode & MIX_INTERPOLATE) {
        // The interpolating routines exist only in float form.
        mixMode = (mixMode & ~MIX_INTEGER) | MIX_FLOAT;
    } else if (!(mixMode & (MIX_FLOAT | MIX_INTEGER))) {
        mixMode |= hostPrefersFloat() ? MIX_FLOAT : MIX_INTEGER;
    }
    if (!(mixMode & (MIX_8BIT | MIX_16BIT))) mixMode |= MIX_16BIT;
    // One channel layout only: mono when asked for, stereo otherwise.
    mixMode = (mixMode & MIX_MONO) ? (mixMode & ~MIX_STEREO) : (mixMode | MIX_STEREO);

    mixer = MixerState{};
    mixer.mixRate = mixRate;
    mixer.mixMode = mixMode;
    mixer.integerMixing = (mixMode & MIX_INTEGER) ? 1 : 0;
    mixer.interpolating = (mixMode & MIX_INTERPOLATE) ? 1 : 0;
    mixer.ulawSamples = mixer.integerMixing && mixerOptions.ulawSamples ? 1 : 0;
    mixer.masterVolume = 64;
    mixer.amplification = 64;

    mixer.mixBufferBytes = (((mixMode & MIX_STEREO) ? mixRate * 8 : mixRate * 4) / 40 + 15) & ~15u;
    int err = mem_alloc_aligned(mixer.mixBufferBytes, 1024, &mixer.mixBuffer);
    if (err) return err;
    if ((err = mem_alloc_aligned(mixer.mixBufferBytes, 1024, &mixer.filterBuffer))) return err;

    if (mixer.integerMixing) {
        void* p;
        if ((err = mem_alloc_aligned(33 * 256 * sizeof(int32_t), 1024, &p))) return err;
        mixer.volumeTable = static_cast<int32_t*>(p);
        if ((err = mem_alloc_aligned(33 * 256 * sizeof(int32_t), 1024, &p))) return err;
        mixer.ulawVolumeTable = static_cast<int32_t*>(p);
        std::memset(mixer.volumeTable, 0, 33 * 256 * sizeof(int32_t));
        std::memset(mixer.ulawVolumeTable, 0, 33 * 256 * sizeof(int32_t));
    } else {
        void* p;
        if ((err = mem_alloc_aligned(256 * sizeof(float), 1024, &p))) return err;
        mixer.byteToFloat = static_cast<float*>(p);
        if ((err = mem_alloc_aligned(256 * sizeof(float), 1024, &p))) return err;
        mixer.ulawToFloat = static_cast<float*>(p);
        for (int i = 0; i < 256; ++i) {
            mixer.byteToFloat[i] = float(i * 256 - 32768);
            mixer.ulawToFloat[i] = float(ulawDecode(uint8_t(i)));
        }
    }

    void* p;
    // The handle table grows with the samples a song has (most have a few dozen).
    if ((err = mem_alloc_zeroed(firstSampleCapacity * sizeof(SampleHandleEntry), &p))) return err;
    mixer.samples = static_cast<SampleHandleEntry*>(p);
    mixer.sampleCapacity = firstSampleCapacity;

    mixer.routineTable = selectRoutineTable();

    if ((err = mem_alloc_zeroed(sizeof(PostProcessor), &p))) return err;
    mixer.postProcessors = static_cast<PostProcessor*>(p);
    mixer.postProcessors->next = mixer.postProcessors->prev = mixer.postProcessors;
    return addPostProcessor(&outputFilter, 1, nullptr);
}

int mixerClose() {
    if (mixer.postProcessors) {
        removePostProcessor(&outputFilter);
        freeIf(mixer.postProcessors);
    }
    freeIf(mixer.byteToFloat);
    freeIf(mixer.ulawToFloat);
    freeIf(mixer.volumeTable);
    freeIf(mixer.ulawVolumeTable);
    freeIf(mixer.mixBuffer);
    freeIf(mixer.filterBuffer);
    freeIf(mixer.channels);
    if (mixer.samples) {
        // Handles die with the table: free the copies the mixer made.
        for (uint32_t i = 0; i < mixer.sampleCapacity; ++i) {
            if (mixer.samples[i].inUse && mixer.samples[i].owned) freeIf(mixer.samples[i].data);
        }
        freeIf(mixer.samples);
    }
    mixer.sampleCapacity = 0;
    mixer.channelCount = mixer.recordCount = mixer.channelsOpen = 0;
    return errOK;
}

int addPostProcessor(PostProcessor* node, uint32_t position, void* userData) {
    if (!node || !mixer.postProcessors) return errInvalidArguments;
    PostProcessor* head = mixer.postProcessors;
    node->userData = userData;
    PostProcessor* before = position == 0 ? head : head->prev;
    node->prev = before;
    node->next = before->next;
    before->next->prev = node;
    before->next = node;
    return errOK;
}

int removePostProcessor(PostProcessor* node) {
    if (!node || !node->next || !node->prev) return errInvalidArguments;
    node->prev->next = node->next;
    node->next->prev = node->prev;
    node->next = node->prev = nullptr;
    return errOK;
}

int getMixingRate(uint32_t* rate) {
    *rate = mixer.mixRate;
    return errOK;
}

int openChannels(uint32_t count) {
    if (!mixer.samples) return errNoChannels;
    if (count == 0 || count > maxChannels) return errInvalidArguments;
    mixer.channelsOpen = 0;
    freeIf(mixer.channels);
    mixer.recordCount = mixer.interpolating ? 2 * count : count;
    mixer.channelCount = count;
    mixer.muteAll = mixer.paused = 0;
    void* p;
    if (int err = mem_alloc_zeroed(mixer.recordCount * sizeof(MixerChannel), &p)) {
        mixer.channelCount = mixer.recordCount = 0;
        return err;
    }
    mixer.channels = static_cast<MixerChannel*>(p);
    mixer.amplification = count < 5 ? 64 : int32_t(14 * count);
    if (mixer.integerMixing) buildVolumeTables();
    if (int err = clearChannels()) return err;
    mixer.channelsOpen = 1;
    return errOK;
}

int closeChannels() {
    if (!mixer.channels) return errNoChannels;
    mixer.channelsOpen = 0;
    freeIf(mixer.channels);
    mixer.channelCount = mixer.recordCount = 0;
    return errOK;
}

int clearChannels() {
    if (!mixer.channels) return errNoChannels;
    for (uint32_t i = 0; i < mixer.recordCount; ++i) {
        MixerChannel& ch = mixer.channels[i];
        const int32_t volume = ch.volume;
        ch = clearedChannel;
        ch.volume = volume;
    }
    return errOK;
}

static void recomputeAll() {
    for (uint32_t i = 0; i < mixer.channelCount; ++i)
        computeChannelVolumes(mixer.channels[i], MIXER_RAMP_STEP);
}

int muteAll(uint32_t flag) {
    mixer.muteAll = flag;
    recomputeAll();
    return errOK;
}

int pauseMixing(uint32_t flag) {
    mixer.paused = flag;
    return errOK;
}

int setMasterVolume(uint32_t volume) {
    mixer.masterVolume = int32_t(std::min<uint32_t>(volume, MIXER_MAX_VOLUME));
    recomputeAll();
    return errOK;
}

int getMasterVolume(uint32_t* volume) {
    *volume = uint32_t(mixer.masterVolume);
    return errOK;
}

int setAmplification(uint32_t amplification) {
    mixer.amplification = int32_t(std::min(amplification, maxAmplification));
    if (mixer.integerMixing) buildVolumeTables();
    return errOK;
}

int getAmplification(uint32_t* amplification) {
    *amplification = uint32_t(mixer.amplification);
    return errOK;
}

int startSound(uint32_t channel, uint32_t rate) {
    if (badChannel(channel)) return errInvalidChannel;
    removeClick(channel);
    MixerChannel& ch = mixer.channels[channel];
    ch.status = CH_ENDED;
    ch.rate = rate;
    std::memset(ch.filterHistory, 0, sizeof ch.filterHistory);
    return setChannelPosition(channel, 0);
}

int releaseSound(uint32_t channel) {
    if (badChannel(channel)) return errInvalidChannel;
    MixerChannel& ch = mixer.channels[channel];
    if (ch.status == CH_PLAYING &&
        (ch.loopMode == LOOPMODE_SUSTAIN || ch.loopMode == LOOPMODE_SUSTAIN_LOOPING))
        ch.status = CH_RELEASED;
    return errOK;
}

int stopSound(uint32_t channel) {
    if (badChannel(channel)) return errInvalidChannel;
    removeClick(channel);
    mixer.channels[channel].status = CH_OFF;
    return errOK;
}

int setChannelRate(uint32_t channel, uint32_t rate) {
    if (badChannel(channel)) return errInvalidChannel;
    mixer.channels[channel].rate = rate;
    return errOK;
}

int getChannelRate(uint32_t channel, uint32_t* rate) {
    if (badChannel(channel)) return errInvalidChannel;
    const MixerChannel& ch = mixer.channels[channel];
    *rate = (ch.status == CH_OFF || ch.status == CH_ENDED) ? 0 : ch.rate;
    return errOK;
}

int setChannelVolume(uint32_t channel, uint32_t volume) {
    if (badChannel(channel)) return errInvalidChannel;
    MixerChannel& ch = mixer.channels[channel];
    ch.volume = int32_t(std::min<uint32_t>(volume, MIXER_MAX_VOLUME));
    computeChannelVolumes(ch, MIXER_RAMP_STEP);
    return errOK;
}

int getChannelVolume(uint32_t channel, uint32_t* volume) {
    if (badChannel(channel)) return errInvalidChannel;
    *volume = uint32_t(mixer.channels[channel].volume);
    return errOK;
}

static bool badHandle(uint32_t handle) {
    return !mixer.samples || handle == 0 || handle > mixer.sampleCapacity || !mixer.samples[handle - 1].inUse;
}

int setChannelSample(uint32_t channel, uint32_t handle) {
    if (badChannel(channel)) return errInvalidChannel;
    if (badHandle(handle)) return errInvalidSampleHandle;
    MixerChannel& ch = mixer.channels[channel];
    ch.sampleHandle = handle;
    ch.samplePending = 1;
    const SampleHandleEntry& e = mixer.samples[handle - 1];
    if (e.loopMode == LOOPMODE_PROTRACKER_LOOPING && ch.status == CH_ENDED && !mixer.interpolating) {
        ch.status = CH_PLAYING;
        return setChannelPosition(channel, e.loop1Start << sampleFrameShift(e.sourceType));
    }
    return errOK;
}

int getChannelSample(uint32_t channel, uint32_t* handle) {
    if (badChannel(channel)) return errInvalidChannel;
    *handle = mixer.channels[channel].sampleHandle;
    return errOK;
}

int setChannelPosition(uint32_t channel, uint32_t position) {
    if (badChannel(channel)) return errInvalidChannel;
    removeClick(channel);
    MixerChannel& ch = mixer.channels[channel];
    if (ch.samplePending && ch.sampleHandle) {
        takeOverSample(ch);
        if (ch.loopMode != LOOPMODE_SUSTAIN && ch.loopMode != LOOPMODE_SUSTAIN_LOOPING &&
            ch.status == CH_RELEASED) {
            ch.status = CH_ENDED;
            return errOK;
        }
    }
    placeChannel(ch, position >> sampleFrameShift(ch.positionType));
    // The new sound ramps up from silence while its fade-out copy ramps down.
    if (mixer.interpolating && ch.status == CH_PLAYING) rampUpFromSilence(ch);
    return errOK;
}

// The filter is Impulse Tracker's two-pole resonant low-pass: the cutoff step gives the corner
// frequency 110 x 2^(0.25 + step / 24) Hz, the resonance damps by 24/128 dB a step, and the
// coefficients follow from their ratio to the mixing rate.
int setChannelFilter(uint32_t channel, uint32_t cutoff, uint32_t resonance) {
    if (badChannel(channel)) return errInvalidChannel;
    MixerChannel& ch = mixer.channels[channel];
    if (cutoff == FILTER_OFF) {
        ch.filterOn = 0;
        return errOK;
    }
    cutoff = std::min(cutoff, FILTER_TOP_CUTOFF);
    resonance = std::min<uint32_t>(resonance, 127);
    if (!ch.filterOn) std::memset(ch.filterHistory, 0, sizeof ch.filterHistory);
    if (ch.filterOn && ch.filterCutoff == cutoff && ch.filterResonance == resonance) return errOK;
    ch.filterOn = 1;
    ch.filterCutoff = cutoff;
    ch.filterResonance = resonance;
    const double corner = 110.0 * std::exp2(0.25 + double(cutoff) / (24.0 * 256.0));
    const double ratio = double(mixer.mixRate) / (2.0 * std::numbers::pi * std::min(corner, mixer.mixRate / 2.0));
    const double damping = std::pow(10.0, -double(resonance) * (24.0 / 128.0) / 20.0);
    const double d = damping * ratio + damping - 1.0, e = ratio * ratio;
    const double a = 1.0 / (1.0 + d + e);
    ch.filterA = float(a);
    ch.filterB = float((d + e + e) * a);
    ch.filterC = float(-e * a);
    return errOK;
}

int getChannelPosition(uint32_t channel, uint32_t* position) {
    if (badChannel(channel)) return errInvalidChannel;
    const MixerChannel& ch = mixer.channels[channel];
    *position = ch.position << sampleFrameShift(ch.positionType);
    return errOK;
}

int getChannelDirection(uint32_t channel, int32_t* direction) {
    if (badChannel(channel)) return errInvalidChannel;
    *direction = mixer.channels[channel].direction;
    return errOK;
}

int setChannelPanning(uint32_t channel, int32_t panning) {
    if (badChannel(channel)) return errInvalidChannel;
    MixerChannel& ch = mixer.channels[channel];
    ch.panning = panning == PAN_SURROUND ? panning : std::clamp(panning, PAN_LEFT, PAN_RIGHT);
    computeChannelVolumes(ch, MIXER_RAMP_STEP);
    return errOK;
}

int getChannelPanning(uint32_t channel, int32_t* panning) {
    if (badChannel(channel)) return errInvalidChannel;
    *panning = mixer.channels[channel].panning;
    return errOK;
}

int muteChannel(uint32_t channel, uint32_t flag) {
    if (badChannel(channel)) return errInvalidChannel;
    MixerChannel& ch = mixer.channels[channel];
    ch.muted = flag;
    computeChannelVolumes(ch, MIXER_RAMP_STEP);
    return errOK;
}

static bool knownSampleType(uint32_t type) {
    return type <= SMP_ULAW_STEREO;
}

// Doubles the handle table, up to MIXER_SAMPLE_HANDLES entries; errNoSampleHandles when it holds
// them all already. Handles stay what they are.
static int growSampleTable() {
    if (mixer.sampleCapacity >= MIXER_SAMPLE_HANDLES) return errNoSampleHandles;
    const uint32_t capacity = std::min(mixer.sampleCapacity * 2, MIXER_SAMPLE_HANDLES);
    void* p;
    if (int err = mem_alloc_zeroed(capacity * sizeof(SampleHandleEntry), &p)) return err;
    std::memcpy(p, mixer.samples, mixer.sampleCapacity * sizeof(SampleHandleEntry));
    freeIf(mixer.samples);
    mixer.samples = static_cast<SampleHandleEntry*>(p);
    mixer.sampleCapacity = capacity;
    return errOK;
}

int addSample(const SampleDesc* desc, uint32_t copy, uint32_t* handle) {
    if (!mixer.samples) return errNoSampleHandles;
    if (!desc || !handle) return errInvalidArguments;
    if (!knownSampleType(desc->type)) return errInvalidSampleType;
    uint32_t index = 0;
    while (index < mixer.sampleCapacity && mixer.samples[index].inUse)
        ++index;
    if (index == mixer.sampleCapacity) {
        if (int err = growSampleTable()) return err;
    }

    SampleHandleEntry e{};
    e.inUse = 1;
    e.type = e.sourceType = desc->type;
    const uint32_t shift = sampleFrameShift(desc->type);
    e.length = desc->length >> shift;
    e.loopMode = desc->loopMode;
    e.loop1Start = desc->loop1Start >> shift;
    e.loop1End = desc->loop1End >> shift;
    e.loop1Type = desc->loop1Type;
    e.loop2Start = desc->loop2Start >> shift;
    e.loop2End = desc->loop2End >> shift;
    e.loop2Type = desc->loop2Type;
    normaliseLoop(e.loop1Start, e.loop1End, e.loop1Type, e.length);
    normaliseLoop(e.loop2Start, e.loop2End, e.loop2Type, e.length);

    const bool handOver = copy == SAMPLE_HAND_OVER;
    const bool share = copy == SAMPLE_SHARE;
    if (desc->type == SMP_NONE || e.length == 0 || desc->data == nullptr || desc->location == 0) {
        e.length = 0;
        e.data = nullptr;
        e.type = SMP_NONE;
        e.location = 0;
        e.owned = 0;
        // A block handed over for no frames at all is the mixer's to free at once.
        if (handOver && desc->data) mem_free(desc->data);
    } else if (copy) {
        const bool toUlaw =
            mixer.ulawSamples && (desc->type == SMP_16BIT_MONO || desc->type == SMP_16BIT_STEREO);
        if (toUlaw) e.type = desc->type == SMP_16BIT_MONO ? SMP_ULAW_MONO : SMP_ULAW_STEREO;
        const uint32_t bytes = e.length << sampleFrameShift(e.type);
        if ((handOver || share) && !toUlaw) {
            e.data = desc->data; // played where it is
            e.owned = handOver ? 1 : 0;
        } else {
            void* p;
            if (int err = mem_alloc(bytes, &p)) return err;
            e.data = static_cast<uint8_t*>(p);
            if (toUlaw) {
                for (uint32_t i = 0; i < bytes; ++i) {
                    int16_t s;
                    std::memcpy(&s, desc->data + 2 * i, 2);
                    e.data[i] = ulawEncode(s);
                }
            } else {
                std::memcpy(e.data, desc->data, bytes);
            }
            if (handOver) mem_free(desc->data); // the mu-law copy stands for it
            e.owned = 1;
        }
        e.location = 1;
    } else {
        e.data = desc->data;
        e.location = desc->location;
        e.owned = 0;
    }
    mixer.samples[index] = e;
    *handle = index + 1;
    return errOK;
}

int removeSample(uint32_t handle) {
    if (badHandle(handle)) return errInvalidSampleHandle;
    SampleHandleEntry& e = mixer.samples[handle - 1];
    // Channels still on this sample's data stop, rather than read freed
    // memory; a change to it that has not taken effect yet is dropped.
    for (uint32_t i = 0; mixer.channels && i < mixer.recordCount; ++i) {
        MixerChannel& ch = mixer.channels[i];
        if (ch.sampleHandle == handle) ch.samplePending = 0;
        if (e.data && ch.data == e.data) {
            ch.status = CH_OFF;
            ch.data = nullptr;
        }
    }
    if (e.owned) freeIf(e.data);
    e = SampleHandleEntry{};
    return errOK;
}

int startStream(uint32_t channel, uint8_t* buffer, uint32_t byteLength, uint32_t type, uint32_t rate) {
    if (badChannel(channel)) return errInvalidChannel;
    if (!knownSampleType(type)) return errInvalidSampleType;
    MixerChannel& ch = mixer.channels[channel];
    ch.data = buffer;
    ch.type = ch.positionType = type;
    ch.location = 1;
    ch.length = ch.loop1End = byteLength >> sampleFrameShift(type);
    ch.loopMode = LOOPMODE_SINGLE_LOOPING;
    ch.loop1Start = 0;
    ch.loop1Type = ch.length ? LOOP_FORWARD : LOOP_NONE;
    ch.loop2Start = ch.loop2End = ch.loop2Type = 0;
    ch.position = ch.fraction = ch.streamWritePos = 0;
    ch.rate = rate;
    ch.direction = 1;
    ch.sampleHandle = STREAM_HANDLE;
    ch.samplePending = 0;
    ch.panning = 0;
    ch.volume = 64;
    ch.muted = 0;
    ch.status = CH_PLAYING;
    ch.activeLoop = 1;
    computeChannelVolumes(ch, MIXER_RAMP_STEP);
    return errOK;
}

int stopStream(uint32_t channel) {
    if (badChannel(channel)) return errInvalidChannel;
    mixer.channels[channel].status = CH_OFF;
    return errOK;
}

int setLoopCallback(uint32_t channel, LoopCallback callback) {
    if (badChannel(channel)) return errInvalidChannel;
    mixer.channels[channel].loopCallback = callback;
    return errOK;
}

int setStreamWritePosition(uint32_t channel, uint32_t position) {
    if (badChannel(channel)) return errInvalidChannel;
    MixerChannel& ch = mixer.channels[channel];
    ch.streamWritePos = position >> sampleFrameShift(ch.type);
    return errOK;
}

int pauseStream(uint32_t channel, uint32_t flag) {
    if (badChannel(channel)) return errInvalidChannel;
    mixer.channels[channel].status = flag ? CH_OFF : CH_PLAYING;
    return errOK;
}

void setMixerOperations(SoundDevice* d) {
    d->getMixingRate = getMixingRate;
    d->openChannels = openChannels;
    d->closeChannels = closeChannels;
    d->clearChannels = clearChannels;
    d->muteAll = muteAll;
    d->pauseMixing = pauseMixing;
    d->setMasterVolume = setMasterVolume;
    d->getMasterVolume = getMasterVolume;
    d->setAmplification = setAmplification;
    d->getAmplification = getAmplification;
    d->startSound = startSound;
    d->releaseSound = releaseSound;
    d->stopSound = stopSound;
    d->setChannelRate = setChannelRate;
    d->getChannelRate = getChannelRate;
    d->setChannelVolume = setChannelVolume;
    d->getChannelVolume = getChannelVolume;
    d->setChannelSample = setChannelSample;
    d->getChannelSample = getChannelSample;
    d->setChannelPosition = setChannelPosition;
    d->getChannelPosition = getChannelPosition;
    d->getChannelDirection = getChannelDirection;
    d->setChannelPanning = setChannelPanning;
    d->getChannelPanning = getChannelPanning;
    d->muteChannel = muteChannel;
    d->addSample = addSample;
    d->removeSample = removeSample;
    d->startStream = startStream;
    d->stopStream = stopStream;
    d->setLoopCallback = setLoopCallback;
    d->setStreamWritePosition = setStreamWritePosition;
    d->pauseStream = pauseStream;
    d->setChannelFilter = setChannelFilter;
}
