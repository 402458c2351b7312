// Mono integer mixing routines. 8-bit and mu-law samples go through the
// volume table rows; 16-bit samples use the multiplier, except in the block
// routine, which reads the 8-bit row twice per sample.
#include "sound/dsmmix.h"

namespace {

void mix8(MixArgs& a) {
    const int32_t* t = a.leftTable;
    mixLoop<1, 1, int32_t>(a, [t](const uint8_t* p, int32_t* d) { d[0] += t[p[0]]; });
}

void mixUlaw(MixArgs& a) {
    const int32_t* t = a.leftUlawTable;
    mixLoop<1, 1, int32_t>(a, [t](const uint8_t* p, int32_t* d) { d[0] += t[p[0]]; });
}

void mix16(MixArgs& a) {
    const int64_t m = a.leftMultiplier;
    mixLoop<2, 1, int32_t>(a, [m](const uint8_t* p, int32_t* d) { d[0] += int32_t((sample16(p) * m) >> 8); });
}

void mix16Blocks(MixArgs& a) {
    const int32_t* t = a.leftTable;
    mixLoop<2, 1, int32_t>(a, [t](const uint8_t* p, int32_t* d) { d[0] += tableSample16(t, p); });
}

void mix8Stereo(MixArgs& a) {
    const int32_t* t = a.leftTable;
    mixLoop<2, 1, int32_t>(a, [t](const uint8_t* p, int32_t* d) { d[0] += t[p[0]] + t[p[1]]; });
}

void mixUlawStereo(MixArgs& a) {
    const int32_t* t = a.leftUlawTable;
    mixLoop<2, 1, int32_t>(a, [t](const uint8_t* p, int32_t* d) { d[0] += t[p[0]] + t[p[1]]; });
}

void mix16Stereo(MixArgs& a) {
    const int64_t m = a.leftMultiplier;
    mixLoop<4, 1, int32_t>(a, [m](const uint8_t* p, int32_t* d) {
        d[0] += int32_t(((sample16(p) + sample16(p + 2)) * m) >> 8);
    });
}

} // namespace

const MixRoutineEntry mixTableMonoInteger[27] = {
    {},
    {1, 2, mix8, mix8, nullptr},
    {1, 2, mix16, mix16Blocks, nullptr},
    {1, 1, mix8Stereo, mix8Stereo, nullptr},
    {1, 1, mix16Stereo, mix16Stereo, nullptr},
    {},
    {},
    {1, 2, mixUlaw, mixUlaw, nullptr},
    {1, 1, mixUlawStereo, mixUlawStereo, nullptr},
};
