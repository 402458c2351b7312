// The channel mixing loop and the interface of the mixing routines: the
// inputs a routine reads, the routine-table entries and the six tables.
#pragma once

#include "sound/mixer/dsm.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

static_assert(std::endian::native == std::endian::little, "sample data is read as little-endian");

// Inputs of one mixing-routine call, set up by the mixing loop per run.
struct MixArgs {
    const uint8_t* source; // sample data at the channel's current whole frame
    int64_t position;      // 16.16 offset from source (integer part in frames)
    int32_t step;          // 16.16 frames per output frame, negative backward
    void* dest;            // next value of the mixing buffer (int32_t or float)
    uint32_t frames;       // output frames to mix
    int32_t neighbour;     // interpolation partner offset in frames (interpolating families)
    // The sample's data from its first frame up to the end of its last: the
    // cubic routines read a frame before and after the two they join, never
    // outside these.
    const uint8_t* first;
    const uint8_t* end;
    // integer mixing
    const int32_t* leftTable;     // 8-bit volume table row of the left (or only) side
    const int32_t* rightTable;    // 8-bit volume table row of the right side
    const int32_t* leftUlawTable; // mu-law volume table rows
    const int32_t* rightUlawTable;
    int32_t leftMultiplier; // 16-bit samples: contribution = (s x multiplier) >> 8
    int32_t rightMultiplier;
    // float mixing
    float leftFactor;
    float rightFactor;
    const float* byteToFloat; // unsigned byte -> sample value
    const float* ulawToFloat; // mu-law byte -> sample value
};

// A mixing routine: mixes args.frames frames and advances args.dest and args.position.
using MixRoutine = void (*)(MixArgs& args);

// One entry of a routine table (per sample type and panning group).
struct MixRoutineEntry {
    uint32_t alignment;   // destination alignment in bytes before the block routine (always 1)
    uint32_t blockSize;   // frames per pass of mixBlocks
    MixRoutine mixFrames; // any number of frames, honours the neighbour offset
    MixRoutine mixBlocks; // a multiple of blockSize frames, neighbour offset 1
    const void* codeInfo; // unused: routines take their per-call values as parameters
};

// Routine tables: 27 entries each, the general, centre and surround groups
// indexed by sample type 0..8. An entry with null routines has no routine.
inline constexpr int MIX_GROUP_GENERAL = 0;
inline constexpr int MIX_GROUP_CENTRE = 9;
inline constexpr int MIX_GROUP_SURROUND = 18;
extern const MixRoutineEntry mixTableMonoInteger[27];
extern const MixRoutineEntry mixTableMonoFloat[27];
extern const MixRoutineEntry mixTableStereoInteger[27];
extern const MixRoutineEntry mixTableStereoFloat[27];
extern const MixRoutineEntry mixTableMonoInterpolating[27];
extern const MixRoutineEntry mixTableStereoInterpolating[27];
extern const MixRoutineEntry mixTableMonoCubic[27];
extern const MixRoutineEntry mixTableStereoCubic[27];

// Picks the routine entry for a sample type and panning (centre and
// surround groups where the table has them); null when there is none.
const MixRoutineEntry* pickMixRoutine(const MixRoutineEntry* table, uint32_t type, int32_t panning);

// Recomputes a channel's target (and, without interpolation, current)
// volumes after a change of volume, panning, muting or master volume.
void computeChannelVolumes(MixerChannel& ch, int32_t step);
// Starts a fade-out copy of a sounding channel before its sound is cut (interpolating mode).
void removeClick(uint32_t channel);
// Copies the pending sample handle's data and loops into the channel.
void takeOverSample(MixerChannel& ch);

// Mixes one channel record for frames output frames into dest; with dest null
// the channel only moves on as mixing would take it.
void mixChannel(uint32_t record, void* dest, uint32_t frames);

// Converts values of the mixing buffer into the output format with clipping.
void convertIntTo16(const int32_t* src, int16_t* dst, uint32_t count);
void convertIntTo8(const int32_t* src, uint8_t* dst, uint32_t count);
void convertFloatTo16(const float* src, int16_t* dst, uint32_t count);
void convertFloatTo8(const float* src, uint8_t* dst, uint32_t count);

// Sample fetch helpers for the routines.
inline int32_t sample16(const uint8_t* p) {
    int16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

// The 16-bit contribution of the integer block routines: two look-ups in an
// 8-bit volume row, the low byte (signed) and the high byte with its carry.
// Samples above 0x7f7f are held there: their carry would wrap the high byte
// round to the most negative row entry and turn a loud peak into a click.
inline int32_t tableSample16(const int32_t* row, const uint8_t* p) {
    const uint32_t s = uint32_t(std::min(sample16(p), 0x7f7f));
    const uint32_t lo = (s & 255u) + 128u;
    const uint32_t hi = ((s >> 8) + 128u + (lo >> 8)) & 255u;
    return (row[lo & 255u] >> 8) + row[hi];
}

// The cubic families' curve: a four-point spline (Catmull-Rom) through xm1,
// x0, x1 and x2, taken between x0 and x1 at the 16-bit fraction of pos.
inline float spline(float xm1, float x0, float x1, float x2, int64_t pos) {
    const float f = float(int32_t(pos & 0xffff)) * (1.0f / 65536.0f);
    const float a = (x2 - xm1) * 0.5f + (x0 - x1) * 1.5f;
    const float b = xm1 - x0 * 2.5f + x1 * 2.0f - x2 * 0.5f;
    const float c = (x1 - xm1) * 0.5f;
    return ((a * f + b) * f + c) * f + x0;
}

// Where the cubic families find the points around frame p (frames of
// FrameBytes): the partner at the neighbour offset nb, and the frames before
// p and after the partner, each the nearest of the two it stands beside when
// it lies outside the sample's data (first .. end).
struct SplineFrames {
    const uint8_t* before; // frame before p (p itself at the data's start)
    const uint8_t* next;   // the partner
    const uint8_t* after;  // frame after the partner (the partner at the data's end, or with nb 0)
};
template <uint32_t FrameBytes>
inline SplineFrames splineFrames(const MixArgs& a, const uint8_t* p, int64_t nb) {
    const int64_t fb = FrameBytes;
    const int64_t back = p - a.first, ahead = a.end - p; // bytes of data before p, and from p on
    const int64_t afterAt = (nb + 1) * fb;
    SplineFrames s;
    s.before = back >= fb ? p - fb : p;
    s.next = p + nb * fb;
    s.after = nb != 0 && afterAt + fb <= ahead && -afterAt <= back ? p + afterAt : s.next;
    return s;
}

// Linear interpolation of the interpolating families: (x0 x (65536 - f) + x1 x f)
// for the 16-bit fraction f of pos; the callers' factors carry the 2^-16.
// 65536 - f is exact in float, which saves a conversion per frame.
inline float interpolate(float x0, float x1, int64_t pos) {
    const float f = float(int32_t(pos & 0xffff));
    return x0 * (65536.0f - f) + x1 * f;
}

// The interpolation partner offset in frames: Fixed (1) in the block
// routines, the loop's neighbour offset in the frame routines (Fixed 0).
template <int Fixed> inline int32_t neighbourOf(const MixArgs& a) {
    return Fixed ? Fixed : a.neighbour;
}

// The inner loops the routines share. A routine gives the value (or the
// left and right values) of one sample frame; the loop steps the 16.16
// position, and adds four output frames' worth of products in one pass with
// SSE2 (every x86-64 processor has it): the same conversions,
// multiplications and additions as one frame at a time, so the sums are the
// same to the bit. The frames left over, and processors without SSE2, go one
// at a time.

// A frame's values for the left and right outputs.
template <class T> struct SidePair {
    T left, right;
};

// A frame's value and its interpolation partner's.
template <class T> struct Partners {
    T here, next;
};

// Walks the output frames: value(sample frame pointer, position) for each.
template <uint32_t FrameBytes> struct FrameWalk {
    const uint8_t* source;
    int64_t position;
    int64_t step;
    explicit FrameWalk(const MixArgs& a) : source(a.source), position(a.position), step(a.step) {}
    template <class Value> auto next(Value value) {
        const auto v = value(source + (position >> 16) * FrameBytes, position);
        position += step;
        return v;
    }
};

// Sample values come as floats (through a table) or as 16-bit integers,
// which convert exactly, one at a time or four in one instruction.
inline float asFloat(float x) {
    return x;
}
inline float asFloat(int32_t x) {
    return float(x);
}
#if defined(__SSE2__)
inline __m128 fourFloats(float a, float b, float c, float d) {
    return _mm_setr_ps(a, b, c, d);
}
inline __m128 fourFloats(int32_t a, int32_t b, int32_t c, int32_t d) {
    return _mm_cvtepi32_ps(_mm_setr_epi32(a, b, c, d));
}
#endif

// Plain values: value(frame, position) is the frame's value.
template <class Value> struct Plain {
    Value value;
    template <uint32_t FrameBytes> float one(FrameWalk<FrameBytes>& w) const { return asFloat(w.next(value)); }
#if defined(__SSE2__)
    template <uint32_t FrameBytes> __m128 four(FrameWalk<FrameBytes>& w) const {
        const auto x0 = w.next(value), x1 = w.next(value), x2 = w.next(value), x3 = w.next(value);
        return fourFloats(x0, x1, x2, x3);
    }
#endif
};
template <class Value> Plain<Value> plain(Value value) {
    return {value};
}

// 16-bit sample frames as they stand: four words go straight into the high
// halves of four lanes, and one arithmetic shift sign-extends them, which
// spares the four separate loads and the shuffles that gather them.
struct Plain16 {
    template <uint32_t FrameBytes> float one(FrameWalk<FrameBytes>& w) const { return float(w.next(word)); }
#if defined(__SSE2__)
    template <uint32_t FrameBytes> __m128 four(FrameWalk<FrameBytes>& w) const {
        __m128i v = _mm_setzero_si128();
        v = _mm_insert_epi16(v, w.next(word), 1);
        v = _mm_insert_epi16(v, w.next(word), 3);
        v = _mm_insert_epi16(v, w.next(word), 5);
        v = _mm_insert_epi16(v, w.next(word), 7);
        return _mm_cvtepi32_ps(_mm_srai_epi32(v, 16));
    }
#endif
    static int32_t word(const uint8_t* p, int64_t) { return sample16(p); }
};

// Interpolated values: value(frame) gives the frame's value and its
// partner's, weighed by the position's fraction as interpolate() does.
template <class Value> struct Interpolated {
    Value value;
    template <uint32_t FrameBytes> float one(FrameWalk<FrameBytes>& w) const {
        const int64_t pos = w.position;
        const auto x = w.next([this](const uint8_t* p, int64_t) { return value(p); });
        return interpolate(asFloat(x.here), asFloat(x.next), pos);
    }
#if defined(__SSE2__)
    template <uint32_t FrameBytes> __m128 four(FrameWalk<FrameBytes>& w) const {
        const auto frame = [this](const uint8_t* p, int64_t) { return value(p); };
        const int32_t f0 = int32_t(w.position & 0xffff);
        const auto x0 = w.next(frame);
        const int32_t f1 = int32_t(w.position & 0xffff);
        const auto x1 = w.next(frame);
        const int32_t f2 = int32_t(w.position & 0xffff);
        const auto x2 = w.next(frame);
        const int32_t f3 = int32_t(w.position & 0xffff);
        const auto x3 = w.next(frame);
        const __m128 f = _mm_cvtepi32_ps(_mm_setr_epi32(f0, f1, f2, f3));
        const __m128 here = fourFloats(x0.here, x1.here, x2.here, x3.here);
        const __m128 next = fourFloats(x0.next, x1.next, x2.next, x3.next);
        return _mm_add_ps(_mm_mul_ps(here, _mm_sub_ps(_mm_set1_ps(65536.0f), f)), _mm_mul_ps(next, f));
    }
#endif
};
template <class Value> Interpolated<Value> interpolated(Value value) {
    return {value};
}

// Interpolated 16-bit sample frames, partner nb bytes on: the words go into
// lanes as Plain16 does.
struct Interpolated16 {
    int64_t nb;
    template <uint32_t FrameBytes> float one(FrameWalk<FrameBytes>& w) const {
        const int64_t pos = w.position;
        const auto x = w.next([this](const uint8_t* p, int64_t) { return Partners<int32_t>{sample16(p), sample16(p + nb)}; });
        return interpolate(float(x.here), float(x.next), pos);
    }
#if defined(__SSE2__)
    // One frame into lane K of the fractions, the values and their partners.
    template <int K, uint32_t FrameBytes>
    void lane(FrameWalk<FrameBytes>& w, __m128i& fraction, __m128i& here, __m128i& next) const {
        const uint8_t* p = w.source + (w.position >> 16) * FrameBytes;
        fraction = _mm_insert_epi16(fraction, int(w.position & 0xffff), 2 * K);
        here = _mm_insert_epi16(here, sample16(p), 2 * K + 1);
        next = _mm_insert_epi16(next, sample16(p + nb), 2 * K + 1);
        w.position += w.step;
    }
    template <uint32_t FrameBytes> __m128 four(FrameWalk<FrameBytes>& w) const {
        __m128i here = _mm_setzero_si128(), next = _mm_setzero_si128(), fraction = _mm_setzero_si128();
        lane<0>(w, fraction, here, next);
        lane<1>(w, fraction, here, next);
        lane<2>(w, fraction, here, next);
        lane<3>(w, fraction, here, next);
        const __m128 f = _mm_cvtepi32_ps(fraction);
        const __m128 x0 = _mm_cvtepi32_ps(_mm_srai_epi32(here, 16)), x1 = _mm_cvtepi32_ps(_mm_srai_epi32(next, 16));
        return _mm_add_ps(_mm_mul_ps(x0, _mm_sub_ps(_mm_set1_ps(65536.0f), f)), _mm_mul_ps(x1, f));
    }
#endif
};

// Mono output: out += value x factor.
template <uint32_t FrameBytes, class Source> inline void mixToMono(MixArgs& a, float factor, const Source& source) {
    FrameWalk<FrameBytes> w(a);
    float* d = static_cast<float*>(a.dest);
    uint32_t n = a.frames;
#if defined(__SSE2__)
    const __m128 f = _mm_set1_ps(factor);
    for (; n >= 4; n -= 4, d += 4)
        _mm_storeu_ps(d, _mm_add_ps(_mm_loadu_ps(d), _mm_mul_ps(source.four(w), f)));
#endif
    for (; n > 0; --n, ++d)
        d[0] += source.one(w) * factor;
    a.position = w.position;
    a.dest = d;
}

// Stereo output from one value per frame: left += value x left, right += value x right.
template <uint32_t FrameBytes, class Source>
inline void mixToStereo(MixArgs& a, float left, float right, const Source& source) {
    FrameWalk<FrameBytes> w(a);
    float* d = static_cast<float*>(a.dest);
    uint32_t n = a.frames;
#if defined(__SSE2__)
    const __m128 sides = _mm_setr_ps(left, right, left, right);
    for (; n >= 4; n -= 4, d += 8) {
        const __m128 x = source.four(w);
        _mm_storeu_ps(d, _mm_add_ps(_mm_loadu_ps(d), _mm_mul_ps(_mm_unpacklo_ps(x, x), sides)));
        _mm_storeu_ps(d + 4, _mm_add_ps(_mm_loadu_ps(d + 4), _mm_mul_ps(_mm_unpackhi_ps(x, x), sides)));
    }
#endif
    for (; n > 0; --n, d += 2) {
        const float x = source.one(w);
        d[0] += x * left;
        d[1] += x * right;
    }
    a.position = w.position;
    a.dest = d;
}

// Stereo output from a value pair per frame (stereo samples).
template <uint32_t FrameBytes, class Value>
inline void mixPairsToStereo(MixArgs& a, float left, float right, Value value) {
    FrameWalk<FrameBytes> w(a);
    float* d = static_cast<float*>(a.dest);
    uint32_t n = a.frames;
#if defined(__SSE2__)
    const __m128 sides = _mm_setr_ps(left, right, left, right);
    for (; n >= 2; n -= 2, d += 4) {
        const SidePair<float> x0 = w.next(value), x1 = w.next(value);
        _mm_storeu_ps(d, _mm_add_ps(_mm_loadu_ps(d), _mm_mul_ps(_mm_setr_ps(x0.left, x0.right, x1.left, x1.right), sides)));
    }
#endif
    for (; n > 0; --n, d += 2) {
        const SidePair<float> x = w.next(value);
        d[0] += x.left * left;
        d[1] += x.right * right;
    }
    a.position = w.position;
    a.dest = d;
}

// Integer mono output: out += value.
template <uint32_t FrameBytes, class Value> inline void addToMono(MixArgs& a, Value value) {
    FrameWalk<FrameBytes> w(a);
    int32_t* d = static_cast<int32_t*>(a.dest);
    uint32_t n = a.frames;
#if defined(__SSE2__)
    for (; n >= 4; n -= 4, d += 4) {
        const int32_t x0 = w.next(value), x1 = w.next(value), x2 = w.next(value), x3 = w.next(value);
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_add_epi32(v, _mm_setr_epi32(x0, x1, x2, x3)));
    }
#endif
    for (; n > 0; --n, ++d)
        d[0] += w.next(value);
    a.position = w.position;
    a.dest = d;
}

// Integer stereo output: left += pair.left, right += pair.right.
template <uint32_t FrameBytes, class Value> inline void addToStereo(MixArgs& a, Value value) {
    FrameWalk<FrameBytes> w(a);
    int32_t* d = static_cast<int32_t*>(a.dest);
    uint32_t n = a.frames;
#if defined(__SSE2__)
    for (; n >= 2; n -= 2, d += 4) {
        const SidePair<int32_t> x0 = w.next(value), x1 = w.next(value);
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d),
                         _mm_add_epi32(v, _mm_setr_epi32(x0.left, x0.right, x1.left, x1.right)));
    }
#endif
    for (; n > 0; --n, d += 2) {
        const SidePair<int32_t> x = w.next(value);
        d[0] += x.left;
        d[1] += x.right;
    }
    a.position = w.position;
    a.dest = d;
}
