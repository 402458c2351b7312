// Mono cubic mixing routines: a four-point spline through the frame before
// the current one, the current one, its partner at the neighbour offset (1
// in the block routines) and the frame after that, kept inside the sample's
// data at its edges.
#include "sound/mixer/dsmmix.h"

namespace {

// 8-bit and mu-law bytes differ only in the conversion table they read.
constexpr auto byteTable = &MixArgs::byteToFloat;
constexpr auto ulawTable = &MixArgs::ulawToFloat;

// Fixed = 1 for the block routines, 0 to read the neighbour offset.
template <int Fixed, const float* MixArgs::*Table> void mixBytes(MixArgs& a) {
    const float* t = a.*Table;
    const int64_t nb = neighbourOf<Fixed>(a);
    mixToMono<1>(a, a.leftFactor, plain([&a, t, nb](const uint8_t* p, int64_t pos) {
                     const SplineFrames s = splineFrames<1>(a, p, nb);
                     return spline(t[*s.before], t[p[0]], t[*s.next], t[*s.after], pos);
                 }));
}

template <int Fixed> void mix16(MixArgs& a) {
    const int64_t nb = neighbourOf<Fixed>(a);
    mixToMono<2>(a, a.leftFactor, plain([&a, nb](const uint8_t* p, int64_t pos) {
                     const SplineFrames s = splineFrames<2>(a, p, nb);
                     return spline(float(sample16(s.before)), float(sample16(p)), float(sample16(s.next)),
                                   float(sample16(s.after)), pos);
                 }));
}

// Stereo samples into mono output: the two sides' curves summed.
template <const float* MixArgs::*Table> void mixBytesStereo(MixArgs& a) {
    const float* t = a.*Table;
    const int64_t nb = a.neighbour;
    mixToMono<2>(a, a.leftFactor, plain([&a, t, nb](const uint8_t* p, int64_t pos) {
                     const SplineFrames s = splineFrames<2>(a, p, nb);
                     return spline(t[s.before[0]], t[p[0]], t[s.next[0]], t[s.after[0]], pos) +
                            spline(t[s.before[1]], t[p[1]], t[s.next[1]], t[s.after[1]], pos);
                 }));
}

void mix16Stereo(MixArgs& a) {
    const int64_t nb = a.neighbour;
    mixToMono<4>(a, a.leftFactor, plain([&a, nb](const uint8_t* p, int64_t pos) {
                     const SplineFrames s = splineFrames<4>(a, p, nb);
                     const float l = spline(float(sample16(s.before)), float(sample16(p)), float(sample16(s.next)),
                                            float(sample16(s.after)), pos);
                     const float r = spline(float(sample16(s.before + 2)), float(sample16(p + 2)),
                                            float(sample16(s.next + 2)), float(sample16(s.after + 2)), pos);
                     return l + r;
                 }));
}

} // namespace

const MixRoutineEntry mixTableMonoCubic[27] = {
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
