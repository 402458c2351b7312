// Stereo interpolating mixing routines: linear interpolation between the
// current frame and its partner at the neighbour offset, each side scaled by
// its own factor.
#include "sound/dsmmix.h"

namespace {

// (x0 x (65536 - f) + x1 x f); the factors arrive already scaled by 2^-16.
inline float lerp(float x0, float x1, int64_t pos) {
    // 65536 - f is exact in float, which saves a conversion per frame.
    const float f = float(int32_t(pos & 0xffff));
    return x0 * (65536.0f - f) + x1 * f;
}

template <int Fixed> inline int32_t neighbourOf(const MixArgs& a) {
    return Fixed ? Fixed : a.neighbour;
}

template <int Fixed> void mix8(MixArgs& a) {
    const float* t = a.byteToFloat;
    const float l = a.leftFactor * (1.0f / 65536.0f), r = a.rightFactor * (1.0f / 65536.0f);
    const int64_t nb = neighbourOf<Fixed>(a);
    const uint8_t* src = a.source;
    int64_t pos = a.position;
    float* d = static_cast<float*>(a.dest);
    const int64_t step = a.step;
    const uint32_t frames = a.frames;
    for (uint32_t i = 0; i < frames; ++i, pos += step) {
        const uint8_t* p = src + (pos >> 16);
        const float x = lerp(t[p[0]], t[p[nb]], pos);
        d[2 * i] += x * l;
        d[2 * i + 1] += x * r;
    }
    a.position = pos;
    a.dest = d + 2 * uint64_t(a.frames);
}

template <int Fixed> void mixUlaw(MixArgs& a) {
    const float* t = a.ulawToFloat;
    const float l = a.leftFactor * (1.0f / 65536.0f), r = a.rightFactor * (1.0f / 65536.0f);
    const int64_t nb = neighbourOf<Fixed>(a);
    const uint8_t* src = a.source;
    int64_t pos = a.position;
    float* d = static_cast<float*>(a.dest);
    const int64_t step = a.step;
    const uint32_t frames = a.frames;
    for (uint32_t i = 0; i < frames; ++i, pos += step) {
        const uint8_t* p = src + (pos >> 16);
        const float x = lerp(t[p[0]], t[p[nb]], pos);
        d[2 * i] += x * l;
        d[2 * i + 1] += x * r;
    }
    a.position = pos;
    a.dest = d + 2 * uint64_t(a.frames);
}

template <int Fixed> void mix16(MixArgs& a) {
    const float l = a.leftFactor * (1.0f / 65536.0f), r = a.rightFactor * (1.0f / 65536.0f);
    const int64_t nb = neighbourOf<Fixed>(a) * 2;
    const uint8_t* src = a.source;
    int64_t pos = a.position;
    float* d = static_cast<float*>(a.dest);
    const int64_t step = a.step;
    const uint32_t frames = a.frames;
    for (uint32_t i = 0; i < frames; ++i, pos += step) {
        const uint8_t* p = src + (pos >> 16) * 2;
        const float x = lerp(float(sample16(p)), float(sample16(p + nb)), pos);
        d[2 * i] += x * l;
        d[2 * i + 1] += x * r;
    }
    a.position = pos;
    a.dest = d + 2 * uint64_t(a.frames);
}

void mix8Stereo(MixArgs& a) {
    const float* t = a.byteToFloat;
    const float l = a.leftFactor * (1.0f / 65536.0f), r = a.rightFactor * (1.0f / 65536.0f);
    const int64_t nb = int64_t(a.neighbour) * 2;
    const uint8_t* src = a.source;
    int64_t pos = a.position;
    float* d = static_cast<float*>(a.dest);
    const int64_t step = a.step;
    const uint32_t frames = a.frames;
    for (uint32_t i = 0; i < frames; ++i, pos += step) {
        const uint8_t* p = src + (pos >> 16) * 2;
        d[2 * i] += lerp(t[p[0]], t[p[nb]], pos) * l;
        d[2 * i + 1] += lerp(t[p[1]], t[p[nb + 1]], pos) * r;
    }
    a.position = pos;
    a.dest = d + 2 * uint64_t(a.frames);
}

void mixUlawStereo(MixArgs& a) {
    const float* t = a.ulawToFloat;
    const float l = a.leftFactor * (1.0f / 65536.0f), r = a.rightFactor * (1.0f / 65536.0f);
    const int64_t nb = int64_t(a.neighbour) * 2;
    const uint8_t* src = a.source;
    int64_t pos = a.position;
    float* d = static_cast<float*>(a.dest);
    const int64_t step = a.step;
    const uint32_t frames = a.frames;
    for (uint32_t i = 0; i < frames; ++i, pos += step) {
        const uint8_t* p = src + (pos >> 16) * 2;
        d[2 * i] += lerp(t[p[0]], t[p[nb]], pos) * l;
        d[2 * i + 1] += lerp(t[p[1]], t[p[nb + 1]], pos) * r;
    }
    a.position = pos;
    a.dest = d + 2 * uint64_t(a.frames);
}

void mix16Stereo(MixArgs& a) {
    const float l = a.leftFactor * (1.0f / 65536.0f), r = a.rightFactor * (1.0f / 65536.0f);
    const int64_t nb = int64_t(a.neighbour) * 4;
    const uint8_t* src = a.source;
    int64_t pos = a.position;
    float* d = static_cast<float*>(a.dest);
    const int64_t step = a.step;
    const uint32_t frames = a.frames;
    for (uint32_t i = 0; i < frames; ++i, pos += step) {
        const uint8_t* p = src + (pos >> 16) * 4;
        d[2 * i] += lerp(float(sample16(p)), float(sample16(p + nb)), pos) * l;
        d[2 * i + 1] += lerp(float(sample16(p + 2)), float(sample16(p + nb + 2)), pos) * r;
    }
    a.position = pos;
    a.dest = d + 2 * uint64_t(a.frames);
}

} // namespace

const MixRoutineEntry mixTableStereoInterpolating[27] = {
    {},
    {1, 2, mix8<0>, mix8<1>, nullptr},
    {1, 2, mix16<0>, mix16<1>, nullptr},
    {1, 1, mix8Stereo, mix8Stereo, nullptr},
    {1, 1, mix16Stereo, mix16Stereo, nullptr},
    {},
    {},
    {1, 2, mixUlaw<0>, mixUlaw<1>, nullptr},
    {1, 1, mixUlawStereo, mixUlawStereo, nullptr},
};
