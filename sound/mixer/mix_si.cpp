// Stereo integer mixing routines. The general group applies each side's own
// volume row or multiplier; the centre (panning 0) and surround (panning 128)
// groups compute one contribution from the left side's values and add it to
// the right, or subtract it, which with equal volumes gives the same sums
// for half the look-ups.
#include "sound/mixer/dsmmix.h"

namespace {

using Pair = SidePair<int32_t>;

// 8-bit and mu-law bytes differ only in the volume rows they read.
constexpr auto byteLeft = &MixArgs::leftTable;
constexpr auto byteRight = &MixArgs::rightTable;
constexpr auto ulawLeft = &MixArgs::leftUlawTable;
constexpr auto ulawRight = &MixArgs::rightUlawTable;

// General group.

template <const int32_t* MixArgs::*Left, const int32_t* MixArgs::*Right> void mixBytes(MixArgs& a) {
    const int32_t* l = a.*Left;
    const int32_t* r = a.*Right;
    addToStereo<1>(a, [l, r](const uint8_t* p, int64_t) { return Pair{l[p[0]], r[p[0]]}; });
}

void mix16(MixArgs& a) {
    const int64_t ml = a.leftMultiplier;
    const int64_t mr = a.rightMultiplier;
    addToStereo<2>(a, [ml, mr](const uint8_t* p, int64_t) {
        const int64_t s = sample16(p);
        return Pair{int32_t((s * ml) >> 8), int32_t((s * mr) >> 8)};
    });
}

void mix16Blocks(MixArgs& a) {
    const int32_t* l = a.leftTable;
    const int32_t* r = a.rightTable;
    addToStereo<2>(a, [l, r](const uint8_t* p, int64_t) { return Pair{tableSample16(l, p), tableSample16(r, p)}; });
}

template <const int32_t* MixArgs::*Left, const int32_t* MixArgs::*Right> void mixBytesStereo(MixArgs& a) {
    const int32_t* l = a.*Left;
    const int32_t* r = a.*Right;
    addToStereo<2>(a, [l, r](const uint8_t* p, int64_t) { return Pair{l[p[0]], r[p[1]]}; });
}

void mix16Stereo(MixArgs& a) {
    const int64_t ml = a.leftMultiplier;
    const int64_t mr = a.rightMultiplier;
    addToStereo<4>(a, [ml, mr](const uint8_t* p, int64_t) {
        return Pair{int32_t((sample16(p) * ml) >> 8), int32_t((sample16(p + 2) * mr) >> 8)};
    });
}

void mix16StereoBlocks(MixArgs& a) {
    const int32_t* l = a.leftTable;
    const int32_t* r = a.rightTable;
    addToStereo<4>(a,
                   [l, r](const uint8_t* p, int64_t) { return Pair{tableSample16(l, p), tableSample16(r, p + 2)}; });
}

// Centre (Sign = +1) and surround (Sign = -1) groups: left-side values only.

template <int Sign, const int32_t* MixArgs::*Row> void mixBytesShared(MixArgs& a) {
    const int32_t* t = a.*Row;
    addToStereo<1>(a, [t](const uint8_t* p, int64_t) {
        const int32_t c = t[p[0]];
        return Pair{c, Sign * c};
    });
}

// The multiplier forms keep the right side's own (for surround, negated)
// multiplier, so that their rounding matches the general group.
template <int Sign> void mix16Shared(MixArgs& a) {
    const int64_t ml = a.leftMultiplier;
    const int64_t mr = a.rightMultiplier;
    addToStereo<2>(a, [ml, mr](const uint8_t* p, int64_t) {
        const int64_t s = sample16(p);
        const int32_t c = int32_t((s * ml) >> 8);
        return Pair{c, Sign > 0 ? c : int32_t((s * mr) >> 8)};
    });
}

template <int Sign> void mix16SharedBlocks(MixArgs& a) {
    const int32_t* t = a.leftTable;
    addToStereo<2>(a, [t](const uint8_t* p, int64_t) {
        const int32_t c = tableSample16(t, p);
        return Pair{c, Sign * c};
    });
}

template <int Sign, const int32_t* MixArgs::*Row> void mixBytesStereoShared(MixArgs& a) {
    const int32_t* t = a.*Row;
    addToStereo<2>(a, [t](const uint8_t* p, int64_t) { return Pair{t[p[0]], Sign * t[p[1]]}; });
}

template <int Sign> void mix16StereoShared(MixArgs& a) {
    const int64_t ml = a.leftMultiplier;
    const int64_t mr = Sign > 0 ? a.leftMultiplier : a.rightMultiplier;
    addToStereo<4>(a, [ml, mr](const uint8_t* p, int64_t) {
        return Pair{int32_t((sample16(p) * ml) >> 8), int32_t((sample16(p + 2) * mr) >> 8)};
    });
}

template <int Sign> void mix16StereoSharedBlocks(MixArgs& a) {
    const int32_t* t = a.leftTable;
    addToStereo<4>(a, [t](const uint8_t* p, int64_t) { return Pair{tableSample16(t, p), Sign * tableSample16(t, p + 2)}; });
}

} // namespace

const MixRoutineEntry mixTableStereoInteger[27] = {
    // general
    {},
    {1, 4, mixBytes<byteLeft, byteRight>, mixBytes<byteLeft, byteRight>, nullptr},
    {1, 1, mix16, mix16Blocks, nullptr},
    {1, 1, mixBytesStereo<byteLeft, byteRight>, mixBytesStereo<byteLeft, byteRight>, nullptr},
    {1, 1, mix16Stereo, mix16StereoBlocks, nullptr},
    {},
    {},
    {1, 4, mixBytes<ulawLeft, ulawRight>, mixBytes<ulawLeft, ulawRight>, nullptr},
    {1, 1, mixBytesStereo<ulawLeft, ulawRight>, mixBytesStereo<ulawLeft, ulawRight>, nullptr},
    // centre
    {},
    {1, 4, mixBytesShared<1, byteLeft>, mixBytesShared<1, byteLeft>, nullptr},
    {1, 1, mix16Shared<1>, mix16SharedBlocks<1>, nullptr},
    {},
    {1, 1, mix16StereoShared<1>, mix16StereoSharedBlocks<1>, nullptr},
    {},
    {},
    {1, 4, mixBytesShared<1, ulawLeft>, mixBytesShared<1, ulawLeft>, nullptr},
    {},
    // surround
    {},
    {1, 4, mixBytesShared<-1, byteLeft>, mixBytesShared<-1, byteLeft>, nullptr},
    {1, 1, mix16Shared<-1>, mix16SharedBlocks<-1>, nullptr},
    {1, 1, mixBytesStereoShared<-1, byteLeft>, mixBytesStereoShared<-1, byteLeft>, nullptr},
    {1, 1, mix16StereoShared<-1>, mix16StereoSharedBlocks<-1>, nullptr},
    {},
    {},
    {1, 4, mixBytesShared<-1, ulawLeft>, mixBytesShared<-1, ulawLeft>, nullptr},
    {1, 1, mixBytesStereoShared<-1, ulawLeft>, mixBytesStereoShared<-1, ulawLeft>, nullptr},
};
