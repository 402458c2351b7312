// Mono interpolating mixing routines: linear interpolation between the
// current frame and its partner at the neighbour offset (1 in the block
// routines; 0 or back to the loop start at data and loop edges).
#include "sound/mixer/dsmmix.h"

namespace {

// 8-bit and mu-law bytes differ only in the conversion table they read.
constexpr auto byteTable = &MixArgs::byteToFloat;
constexpr auto ulawTable = &MixArgs::ulawToFloat;

// The factor carries interpolation's 2^-16.
constexpr float fractionScale = 1.0f / 65536.0f;

// Fixed = 1 for the block routines, 0 to read the neighbour offset.
template <int Fixed, const float* MixArgs::*Table> void mixBytes(MixArgs& a) {
    const float* t = a.*Table;
    const int64_t nb = neighbourOf<Fixed>(a);
    mixToMono<1>(a, a.leftFactor * fractionScale,
                 interpolated([t, nb](const uint8_t* p) { return Partners<float>{t[p[0]], t[p[nb]]}; }));
}

template <int Fixed> void mix16(MixArgs& a) {
    const int64_t nb = neighbourOf<Fixed>(a) * 2;
    mixToMono<2>(a, a.leftFactor * fractionScale,
                 Interpolated16{nb});
}

template <const float* MixArgs::*Table> void mixBytesStereo(MixArgs& a) {
    const float* t = a.*Table;
    const int64_t nb = int64_t(a.neighbour) * 2;
    mixToMono<2>(a, a.leftFactor * fractionScale, plain([t, nb](const uint8_t* p, int64_t pos) {
                     return interpolate(t[p[0]], t[p[nb]], pos) + interpolate(t[p[1]], t[p[nb + 1]], pos);
                 }));
}

void mix16Stereo(MixArgs& a) {
    const int64_t nb = int64_t(a.neighbour) * 4;
    mixToMono<4>(a, a.leftFactor * fractionScale, plain([nb](const uint8_t* p, int64_t pos) {
                     const float l = interpolate(float(sample16(p)), float(sample16(p + nb)), pos);
                     const float r = interpolate(float(sample16(p + 2)), float(sample16(p + nb + 2)), pos);
                     return l + r;
                 }));
}

} // namespace

const MixRoutineEntry mixTableMonoInterpolating[27] = {
    {},
    {1, 2, mixBytes<0, byteTable>, mixBytes<1, byteTable>, nullptr},
    {1, 2, mix16<0>, mix16<1>, nullptr},
    {1, 1, mixBytesStereo<byteTable>, mixBytesStereo<byteTable>, nullptr},
    {1, 1, mix16Stereo, mix16Stereo, nullptr},
    {},
    {},
    {1, 2, mixBytes<0, ulawTable>, mixBytes<1, ulawTable>, nullptr},
    {1, 1, mixBytesStereo<ulawTable>, mixBytesStereo<ulawTable>, nullptr},
};
