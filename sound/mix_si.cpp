// Stereo integer mixing routines. The general group applies each side's own
// volume row or multiplier; the centre (panning 0) and surround (panning 128)
// groups compute one contribution from the left side's values and add it to
// the right, or subtract it, which with equal volumes gives the same sums
// for half the look-ups.
#include "sound/dsmmix.h"

namespace {

// General group.

void mix8(MixArgs& a) {
    const int32_t* l = a.leftTable;
    const int32_t* r = a.rightTable;
    mixLoop<1, 2, int32_t>(a, [l, r](const uint8_t* p, int32_t* d) {
        d[0] += l[p[0]];
        d[1] += r[p[0]];
    });
}

void mixUlaw(MixArgs& a) {
    const int32_t* l = a.leftUlawTable;
    const int32_t* r = a.rightUlawTable;
    mixLoop<1, 2, int32_t>(a, [l, r](const uint8_t* p, int32_t* d) {
        d[0] += l[p[0]];
        d[1] += r[p[0]];
    });
}

void mix16(MixArgs& a) {
    const int64_t ml = a.leftMultiplier;
    const int64_t mr = a.rightMultiplier;
    mixLoop<2, 2, int32_t>(a, [ml, mr](const uint8_t* p, int32_t* d) {
        const int64_t s = sample16(p);
        d[0] += int32_t((s * ml) >> 8);
        d[1] += int32_t((s * mr) >> 8);
    });
}

void mix16Blocks(MixArgs& a) {
    const int32_t* l = a.leftTable;
    const int32_t* r = a.rightTable;
    mixLoop<2, 2, int32_t>(a, [l, r](const uint8_t* p, int32_t* d) {
        d[0] += tableSample16(l, p);
        d[1] += tableSample16(r, p);
    });
}

void mix8Stereo(MixArgs& a) {
    const int32_t* l = a.leftTable;
    const int32_t* r = a.rightTable;
    mixLoop<2, 2, int32_t>(a, [l, r](const uint8_t* p, int32_t* d) {
        d[0] += l[p[0]];
        d[1] += r[p[1]];
    });
}

void mixUlawStereo(MixArgs& a) {
    const int32_t* l = a.leftUlawTable;
    const int32_t* r = a.rightUlawTable;
    mixLoop<2, 2, int32_t>(a, [l, r](const uint8_t* p, int32_t* d) {
        d[0] += l[p[0]];
        d[1] += r[p[1]];
    });
}

void mix16Stereo(MixArgs& a) {
    const int64_t ml = a.leftMultiplier;
    const int64_t mr = a.rightMultiplier;
    mixLoop<4, 2, int32_t>(a, [ml, mr](const uint8_t* p, int32_t* d) {
        d[0] += int32_t((sample16(p) * ml) >> 8);
        d[1] += int32_t((sample16(p + 2) * mr) >> 8);
    });
}

void mix16StereoBlocks(MixArgs& a) {
    const int32_t* l = a.leftTable;
    const int32_t* r = a.rightTable;
    mixLoop<4, 2, int32_t>(a, [l, r](const uint8_t* p, int32_t* d) {
        d[0] += tableSample16(l, p);
        d[1] += tableSample16(r, p + 2);
    });
}

// Centre (Sign = +1) and surround (Sign = -1) groups: left-side values only.

template <int Sign> void mix8Shared(MixArgs& a) {
    const int32_t* t = a.leftTable;
    mixLoop<1, 2, int32_t>(a, [t](const uint8_t* p, int32_t* d) {
        const int32_t c = t[p[0]];
        d[0] += c;
        d[1] += Sign * c;
    });
}

template <int Sign> void mixUlawShared(MixArgs& a) {
    const int32_t* t = a.leftUlawTable;
    mixLoop<1, 2, int32_t>(a, [t](const uint8_t* p, int32_t* d) {
        const int32_t c = t[p[0]];
        d[0] += c;
        d[1] += Sign * c;
    });
}

// The multiplier forms keep the right side's own (for surround, negated)
// multiplier, so that their rounding matches the general group.
template <int Sign> void mix16Shared(MixArgs& a) {
    const int64_t ml = a.leftMultiplier;
    const int64_t mr = a.rightMultiplier;
    mixLoop<2, 2, int32_t>(a, [ml, mr](const uint8_t* p, int32_t* d) {
        const int64_t s = sample16(p);
        const int32_t c = int32_t((s * ml) >> 8);
        d[0] += c;
        d[1] += Sign > 0 ? c : int32_t((s * mr) >> 8);
    });
}

template <int Sign> void mix16SharedBlocks(MixArgs& a) {
    const int32_t* t = a.leftTable;
    mixLoop<2, 2, int32_t>(a, [t](const uint8_t* p, int32_t* d) {
        const int32_t c = tableSample16(t, p);
        d[0] += c;
        d[1] += Sign * c;
    });
}

template <int Sign> void mix8StereoShared(MixArgs& a) {
    const int32_t* t = a.leftTable;
    mixLoop<2, 2, int32_t>(a, [t](const uint8_t* p, int32_t* d) {
        d[0] += t[p[0]];
        d[1] += Sign * t[p[1]];
    });
}

template <int Sign> void mixUlawStereoShared(MixArgs& a) {
    const int32_t* t = a.leftUlawTable;
    mixLoop<2, 2, int32_t>(a, [t](const uint8_t* p, int32_t* d) {
        d[0] += t[p[0]];
        d[1] += Sign * t[p[1]];
    });
}

template <int Sign> void mix16StereoShared(MixArgs& a) {
    const int64_t ml = a.leftMultiplier;
    const int64_t mr = Sign > 0 ? a.leftMultiplier : a.rightMultiplier;
    mixLoop<4, 2, int32_t>(a, [ml, mr](const uint8_t* p, int32_t* d) {
        d[0] += int32_t((sample16(p) * ml) >> 8);
        d[1] += int32_t((sample16(p + 2) * mr) >> 8);
    });
}

template <int Sign> void mix16StereoSharedBlocks(MixArgs& a) {
    const int32_t* t = a.leftTable;
    mixLoop<4, 2, int32_t>(a, [t](const uint8_t* p, int32_t* d) {
        d[0] += tableSample16(t, p);
        d[1] += Sign * tableSample16(t, p + 2);
    });
}

} // namespace

const MixRoutineEntry mixTableStereoInteger[27] = {
    // general
    {},
    {1, 4, mix8, mix8, nullptr},
    {1, 1, mix16, mix16Blocks, nullptr},
    {1, 1, mix8Stereo, mix8Stereo, nullptr},
    {1, 1, mix16Stereo, mix16StereoBlocks, nullptr},
    {},
    {},
    {1, 4, mixUlaw, mixUlaw, nullptr},
    {1, 1, mixUlawStereo, mixUlawStereo, nullptr},
    // centre
    {},
    {1, 4, mix8Shared<1>, mix8Shared<1>, nullptr},
    {1, 1, mix16Shared<1>, mix16SharedBlocks<1>, nullptr},
    {},
    {1, 1, mix16StereoShared<1>, mix16StereoSharedBlocks<1>, nullptr},
    {},
    {},
    {1, 4, mixUlawShared<1>, mixUlawShared<1>, nullptr},
    {},
    // surround
    {},
    {1, 4, mix8Shared<-1>, mix8Shared<-1>, nullptr},
    {1, 1, mix16Shared<-1>, mix16SharedBlocks<-1>, nullptr},
    {1, 1, mix8StereoShared<-1>, mix8StereoShared<-1>, nullptr},
    {1, 1, mix16StereoShared<-1>, mix16StereoSharedBlocks<-1>, nullptr},
    {},
    {},
    {1, 4, mixUlawShared<-1>, mixUlawShared<-1>, nullptr},
    {1, 1, mixUlawStereoShared<-1>, mixUlawStereoShared<-1>, nullptr},
};
