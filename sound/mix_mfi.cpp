// Mono interpolating mixing routines: linear interpolation between the
// current frame and its partner at the neighbour offset (1 in the block
// routines; 0 or back to the loop start at data and loop edges).
#include "sound/dsmmix.h"

namespace {

// (x0 x (65536 - f) + x1 x f) x factor x 2^-16; the factors arrive already
// scaled by 2^-16, which is exact in floating point.
inline float lerp(float x0, float x1, int64_t pos) {
    // 65536 - f is exact in float, which saves a conversion per frame.
    const float f = float(int32_t(pos & 0xffff));
    return x0 * (65536.0f - f) + x1 * f;
}

template <int Fixed> inline int32_t neighbourOf(const MixArgs& a) {
    return Fixed ? Fixed : a.neighbour;
}

// Fixed = 1 for the block routines, 0 to read the neighbour offset.
template <int Fixed> void mix8(MixArgs& a) {
    const float* t = a.byteToFloat;
    const float f = a.leftFactor * (1.0f / 65536.0f);
    const int64_t nb = neighbourOf<Fixed>(a);
    const uint8_t* src = a.source;
    int64_t pos = a.position;
    float* d = static_cast<float*>(a.dest);
    const int64_t step = a.step;
    const uint32_t frames = a.frames;
    for (uint32_t i = 0; i < frames; ++i, pos += step) {
        const uint8_t* p = src + (pos >> 16);
        d[i] += lerp(t[p[0]], t[p[nb]], pos) * f;
    }
    a.position = pos;
    a.dest = d + a.frames;
}

template <int Fixed> void mixUlaw(MixArgs& a) {
    const float* t = a.ulawToFloat;
    const float f = a.leftFactor * (1.0f / 65536.0f);
    const int64_t nb = neighbourOf<Fixed>(a);
    const uint8_t* src = a.source;
    int64_t pos = a.position;
    float* d = static_cast<float*>(a.dest);
    const int64_t step = a.step;
    const uint32_t frames = a.frames;
    for (uint32_t i = 0; i < frames; ++i, pos += step) {
        const uint8_t* p = src + (pos >> 16);
        d[i] += lerp(t[p[0]], t[p[nb]], pos) * f;
    }
    a.position = pos;
    a.dest = d + a.frames;
}

template <int Fixed> void mix16(MixArgs& a) {
    const float f = a.leftFactor * (1.0f / 65536.0f);
    const int64_t nb = neighbourOf<Fixed>(a) * 2;
    const uint8_t* src = a.source;
    int64_t pos = a.position;
    float* d = static_cast<float*>(a.dest);
    const int64_t step = a.step;
    const uint32_t frames = a.frames;
    for (uint32_t i = 0; i < frames; ++i, pos += step) {
        const uint8_t* p = src + (pos >> 16) * 2;
        d[i] += lerp(float(sample16(p)), float(sample16(p + nb)), pos) * f;
    }
    a.position = pos;
    a.dest = d + a.frames;
}

void mix8Stereo(MixArgs& a) {
    const float* t = a.byteToFloat;
    const float f = a.leftFactor * (1.0f / 65536.0f);
    const int64_t nb = int64_t(a.neighbour) * 2;
    const uint8_t* src = a.source;
    int64_t pos = a.position;
    float* d = static_cast<float*>(a.dest);
    const int64_t step = a.step;
    const uint32_t frames = a.frames;
    for (uint32_t i = 0; i < frames; ++i, pos += step) {
        const uint8_t* p = src + (pos >> 16) * 2;
        d[i] += (lerp(t[p[0]], t[p[nb]], pos) + lerp(t[p[1]], t[p[nb + 1]], pos)) * f;
    }
    a.position = pos;
    a.dest = d + a.frames;
}

void mixUlawStereo(MixArgs& a) {
    const float* t = a.ulawToFloat;
    const float f = a.leftFactor * (1.0f / 65536.0f);
    const int64_t nb = int64_t(a.neighbour) * 2;
    const uint8_t* src = a.source;
    int64_t pos = a.position;
    float* d = static_cast<float*>(a.dest);
    const int64_t step = a.step;
    const uint32_t frames = a.frames;
    for (uint32_t i = 0; i < frames; ++i, pos += step) {
        const uint8_t* p = src + (pos >> 16) * 2;
        d[i] += (lerp(t[p[0]], t[p[nb]], pos) + lerp(t[p[1]], t[p[nb + 1]], pos)) * f;
    }
    a.position = pos;
    a.dest = d + a.frames;
}

void mix16Stereo(MixArgs& a) {
    const float f = a.leftFactor * (1.0f / 65536.0f);
    const int64_t nb = int64_t(a.neighbour) * 4;
    const uint8_t* src = a.source;
    int64_t pos = a.position;
    float* d = static_cast<float*>(a.dest);
    const int64_t step = a.step;
    const uint32_t frames = a.frames;
    for (uint32_t i = 0; i < frames; ++i, pos += step) {
        const uint8_t* p = src + (pos >> 16) * 4;
        const float l = lerp(float(sample16(p)), float(sample16(p + nb)), pos);
        const float r = lerp(float(sample16(p + 2)), float(sample16(p + nb + 2)), pos);
        d[i] += (l + r) * f;
    }
    a.position = pos;
    a.dest = d + a.frames;
}

} // namespace

const MixRoutineEntry mixTableMonoInterpolating[27] = {
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
