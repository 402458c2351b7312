// Stereo interpolating mixing routines: linear interpolation between the
// current frame and its partner at the neighbour offset, each side scaled by
// its own factor.
#include "sound/mixer/dsmmix.h"

namespace {

// 8-bit and mu-law bytes differ only in the conversion table they read.
constexpr auto byteTable = &MixArgs::byteToFloat;
constexpr auto ulawTable = &MixArgs::ulawToFloat;

// The factors carry interpolation's 2^-16.
constexpr float fractionScale = 1.0f / 65536.0f;

// Fixed = 1 for the block routines, 0 to read the neighbour offset.
template <int Fixed, const float* MixArgs::*Table> void mixBytes(MixArgs& a) {
    const float* t = a.*Table;
    const int64_t nb = neighbourOf<Fixed>(a);
    mixToStereo<1>(a, a.leftFactor * fractionScale, a.rightFactor * fractionScale,
                   interpolated([t, nb](const uint8_t* p) { return Partners<float>{t[p[0]], t[p[nb]]}; }));
}

template <int Fixed> void mix16(MixArgs& a) {
    const int64_t nb = neighbourOf<Fixed>(a) * 2;
    mixToStereo<2>(a, a.leftFactor * fractionScale, a.rightFactor * fractionScale, Interpolated16{nb});
}

template <const float* MixArgs::*Table> void mixBytesStereo(MixArgs& a) {
    const float* t = a.*Table;
    const int64_t nb = int64_t(a.neighbour) * 2;
    mixPairsToStereo<2>(a, a.leftFactor * fractionScale, a.rightFactor * fractionScale,
                        [t, nb](const uint8_t* p, int64_t pos) {
                            return SidePair<float>{interpolate(t[p[0]], t[p[nb]], pos),
                                                   interpolate(t[p[1]], t[p[nb + 1]], pos)};
                        });
}

void mix16Stereo(MixArgs& a) {
    const int64_t nb = int64_t(a.neighbour) * 4;
    mixPairsToStereo<4>(a, a.leftFactor * fractionScale, a.rightFactor * fractionScale,
                        [nb](const uint8_t* p, int64_t pos) {
                            return SidePair<float>{
                                interpolate(float(sample16(p)), float(sample16(p + nb)), pos),
                                interpolate(float(sample16(p + 2)), float(sample16(p + nb + 2)), pos)};
                        });
}

} // namespace

const MixRoutineEntry mixTableStereoInterpolating[27] = {
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
