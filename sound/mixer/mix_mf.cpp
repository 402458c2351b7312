// Mono float mixing routines: 8-bit and mu-law bytes through the float
// conversion tables, 16-bit values as they are; stereo samples are summed.
#include "sound/mixer/dsmmix.h"

namespace {

// 8-bit and mu-law bytes differ only in the conversion table they read.
constexpr auto byteTable = &MixArgs::byteToFloat;
constexpr auto ulawTable = &MixArgs::ulawToFloat;

template <const float* MixArgs::*Table> void mixBytes(MixArgs& a) {
    const float* t = a.*Table;
    mixToMono<1>(a, a.leftFactor, plain([t](const uint8_t* p, int64_t) { return t[p[0]]; }));
}

void mix16(MixArgs& a) {
    mixToMono<2>(a, a.leftFactor, Plain16{});
}

template <const float* MixArgs::*Table> void mixBytesStereo(MixArgs& a) {
    const float* t = a.*Table;
    mixToMono<2>(a, a.leftFactor, plain([t](const uint8_t* p, int64_t) { return t[p[0]] + t[p[1]]; }));
}

void mix16Stereo(MixArgs& a) {
    mixToMono<4>(a, a.leftFactor,
                 plain([](const uint8_t* p, int64_t) { return float(sample16(p)) + float(sample16(p + 2)); }));
}

} // namespace

const MixRoutineEntry mixTableMonoFloat[27] = {
    {},
    {1, 4, mixBytes<byteTable>, mixBytes<byteTable>, nullptr},
    {1, 4, mix16, mix16, nullptr},
    {1, 1, mixBytesStereo<byteTable>, mixBytesStereo<byteTable>, nullptr},
    {1, 1, mix16Stereo, mix16Stereo, nullptr},
    {},
    {},
    {1, 4, mixBytes<ulawTable>, mixBytes<ulawTable>, nullptr},
    {1, 1, mixBytesStereo<ulawTable>, mixBytesStereo<ulawTable>, nullptr},
};
