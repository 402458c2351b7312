// Mono integer mixing routines. 8-bit and mu-law samples go through the
// volume table rows; 16-bit samples use the multiplier, except in the block
// routine, which reads the 8-bit row twice per sample.
#include "sound/mixer/dsmmix.h"

namespace {

// 8-bit and mu-law bytes differ only in the volume row they read.
constexpr auto byteRow = &MixArgs::leftTable;
constexpr auto ulawRow = &MixArgs::leftUlawTable;

template <const int32_t* MixArgs::*Row> void mixBytes(MixArgs& a) {
    const int32_t* t = a.*Row;
    addToMono<1>(a, [t](const uint8_t* p, int64_t) { return t[p[0]]; });
}

void mix16(MixArgs& a) {
    const int64_t m = a.leftMultiplier;
    addToMono<2>(a, [m](const uint8_t* p, int64_t) { return int32_t((sample16(p) * m) >> 8); });
}

void mix16Blocks(MixArgs& a) {
    const int32_t* t = a.leftTable;
    addToMono<2>(a, [t](const uint8_t* p, int64_t) { return tableSample16(t, p); });
}

template <const int32_t* MixArgs::*Row> void mixBytesStereo(MixArgs& a) {
    const int32_t* t = a.*Row;
    addToMono<2>(a, [t](const uint8_t* p, int64_t) { return t[p[0]] + t[p[1]]; });
}

void mix16Stereo(MixArgs& a) {
    const int64_t m = a.leftMultiplier;
    addToMono<4>(a, [m](const uint8_t* p, int64_t) { return int32_t(((sample16(p) + sample16(p + 2)) * m) >> 8); });
}

} // namespace

const MixRoutineEntry mixTableMonoInteger[27] = {
    {},
    {1, 2, mixBytes<byteRow>, mixBytes<byteRow>, nullptr},
    {1, 2, mix16, mix16Blocks, nullptr},
    {1, 1, mixBytesStereo<byteRow>, mixBytesStereo<byteRow>, nullptr},
    {1, 1, mix16Stereo, mix16Stereo, nullptr},
    {},
    {},
    {1, 2, mixBytes<ulawRow>, mixBytes<ulawRow>, nullptr},
    {1, 1, mixBytesStereo<ulawRow>, mixBytesStereo<ulawRow>, nullptr},
};
