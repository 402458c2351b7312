// Stereo float mixing routines: each side scaled by its own factor (the
// right one negated for surround panning); stereo samples keep their sides.
#include "sound/dsmmix.h"

namespace {

void mix8(MixArgs& a) {
    const float* t = a.byteToFloat;
    const float l = a.leftFactor, r = a.rightFactor;
    mixLoop<1, 2, float>(a, [t, l, r](const uint8_t* p, float* d) {
        const float x = t[p[0]];
        d[0] += x * l;
        d[1] += x * r;
    });
}

void mixUlaw(MixArgs& a) {
    const float* t = a.ulawToFloat;
    const float l = a.leftFactor, r = a.rightFactor;
    mixLoop<1, 2, float>(a, [t, l, r](const uint8_t* p, float* d) {
        const float x = t[p[0]];
        d[0] += x * l;
        d[1] += x * r;
    });
}

void mix16(MixArgs& a) {
    const float l = a.leftFactor, r = a.rightFactor;
    mixLoop<2, 2, float>(a, [l, r](const uint8_t* p, float* d) {
        const float x = float(sample16(p));
        d[0] += x * l;
        d[1] += x * r;
    });
}

void mix8Stereo(MixArgs& a) {
    const float* t = a.byteToFloat;
    const float l = a.leftFactor, r = a.rightFactor;
    mixLoop<2, 2, float>(a, [t, l, r](const uint8_t* p, float* d) {
        d[0] += t[p[0]] * l;
        d[1] += t[p[1]] * r;
    });
}

void mixUlawStereo(MixArgs& a) {
    const float* t = a.ulawToFloat;
    const float l = a.leftFactor, r = a.rightFactor;
    mixLoop<2, 2, float>(a, [t, l, r](const uint8_t* p, float* d) {
        d[0] += t[p[0]] * l;
        d[1] += t[p[1]] * r;
    });
}

void mix16Stereo(MixArgs& a) {
    const float l = a.leftFactor, r = a.rightFactor;
    mixLoop<4, 2, float>(a, [l, r](const uint8_t* p, float* d) {
        d[0] += float(sample16(p)) * l;
        d[1] += float(sample16(p + 2)) * r;
    });
}

} // namespace

const MixRoutineEntry mixTableStereoFloat[27] = {
    {},
    {1, 2, mix8, mix8, nullptr},
    {1, 2, mix16, mix16, nullptr},
    {1, 1, mix8Stereo, mix8Stereo, nullptr},
    {1, 1, mix16Stereo, mix16Stereo, nullptr},
    {},
    {},
    {1, 2, mixUlaw, mixUlaw, nullptr},
    {1, 1, mixUlawStereo, mixUlawStereo, nullptr},
};
