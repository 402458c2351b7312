// Mono float mixing routines: 8-bit and mu-law bytes through the float
// conversion tables, 16-bit values as they are; stereo samples are summed.
#include "sound/dsmmix.h"

namespace {

void mix8(MixArgs& a) {
    const float* t = a.byteToFloat;
    const float f = a.leftFactor;
    mixLoop<1, 1, float>(a, [t, f](const uint8_t* p, float* d) { d[0] += t[p[0]] * f; });
}

void mixUlaw(MixArgs& a) {
    const float* t = a.ulawToFloat;
    const float f = a.leftFactor;
    mixLoop<1, 1, float>(a, [t, f](const uint8_t* p, float* d) { d[0] += t[p[0]] * f; });
}

void mix16(MixArgs& a) {
    const float f = a.leftFactor;
    mixLoop<2, 1, float>(a, [f](const uint8_t* p, float* d) { d[0] += float(sample16(p)) * f; });
}

void mix8Stereo(MixArgs& a) {
    const float* t = a.byteToFloat;
    const float f = a.leftFactor;
    mixLoop<2, 1, float>(a, [t, f](const uint8_t* p, float* d) { d[0] += (t[p[0]] + t[p[1]]) * f; });
}

void mixUlawStereo(MixArgs& a) {
    const float* t = a.ulawToFloat;
    const float f = a.leftFactor;
    mixLoop<2, 1, float>(a, [t, f](const uint8_t* p, float* d) { d[0] += (t[p[0]] + t[p[1]]) * f; });
}

void mix16Stereo(MixArgs& a) {
    const float f = a.leftFactor;
    mixLoop<4, 1, float>(
        a, [f](const uint8_t* p, float* d) { d[0] += (float(sample16(p)) + float(sample16(p + 2))) * f; });
}

} // namespace

const MixRoutineEntry mixTableMonoFloat[27] = {
    {},
    {1, 4, mix8, mix8, nullptr},
    {1, 4, mix16, mix16, nullptr},
    {1, 1, mix8Stereo, mix8Stereo, nullptr},
    {1, 1, mix16Stereo, mix16Stereo, nullptr},
    {},
    {},
    {1, 4, mixUlaw, mixUlaw, nullptr},
    {1, 1, mixUlawStereo, mixUlawStereo, nullptr},
};
