// Stereo float mixing routines: each side scaled by its own factor (the
// right one negated for surround panning); stereo samples keep their sides.
#include "sound/mixer/dsmmix.h"

namespace {

// 8-bit and mu-law bytes differ only in the conversion table they read.
constexpr auto byteTable = &MixArgs::byteToFloat;
constexpr auto ulawTable = &MixArgs::ulawToFloat;

template <const float* MixArgs::*Table> void mixBytes(MixArgs& a) {
    const float* t = a.*Table;
    mixToStereo<1>(a, a.leftFactor, a.rightFactor, plain([t](const uint8_t* p, int64_t) { return t[p[0]]; }));
}

void mix16(MixArgs& a) {
    mixToStereo<2>(a, a.leftFactor, a.rightFactor, Plain16{});
}

template <const float* MixArgs::*Table> void mixBytesStereo(MixArgs& a) {
    const float* t = a.*Table;
    mixPairsToStereo<2>(a, a.leftFactor, a.rightFactor,
                        [t](const uint8_t* p, int64_t) { return SidePair<float>{t[p[0]], t[p[1]]}; });
}

void mix16Stereo(MixArgs& a) {
    mixPairsToStereo<4>(a, a.leftFactor, a.rightFactor, [](const uint8_t* p, int64_t) {
        return SidePair<float>{float(sample16(p)), float(sample16(p + 2))};
    });
}

} // namespace

const MixRoutineEntry mixTableStereoFloat[27] = {
    {},
    {1, 2, mixBytes<byteTable>, mixBytes<byteTable>, nullptr},
    {1, 2, mix16, mix16, nullptr},
    {1, 1, mixBytesStereo<byteTable>, mixBytesStereo<byteTable>, nullptr},
    {1, 1, mix16Stereo, mix16Stereo, nullptr},
    {},
    {},
    {1, 2, mixBytes<ulawTable>, mixBytes<ulawTable>, nullptr},
    {1, 1, mixBytesStereo<ulawTable>, mixBytesStereo<ulawTable>, nullptr},
};
