// The output filter. Its history (the last two inputs per output side) lives
// as long as the program, so consecutive chunks join without a seam.
#include "sound/dsmfilt.h"

namespace {

struct History {
    int32_t i1[2] = {}, i2[2] = {}; // integer buffers: x[n-1], x[n-2] per side
    float f1[2] = {}, f2[2] = {};   // float buffers
};
History history;

// 0 none, 1 light, 2 strong; the automatic mode filters lightly unless interpolating.
int activeFilter() {
    const int mode = mixerOptions.filterMode;
    if (mode == 3) return mixer.interpolating ? 0 : 1;
    return (mode == 1 || mode == 2) ? mode : 0;
}

// Both sides of a stereo buffer are filtered in one pass over the frames.
// Light (Kind 1) and strong (Kind 2) integer filters work in 64 bits, so
// that extreme sums cannot overflow.
template <uint32_t Sides, int Kind> void runInt(int32_t* x, uint32_t frames) {
    int64_t x1[Sides], x2[Sides];
    for (uint32_t s = 0; s < Sides; ++s)
        x1[s] = history.i1[s], x2[s] = history.i2[s];
    for (uint32_t n = 0; n < frames; ++n, x += Sides) {
        for (uint32_t s = 0; s < Sides; ++s) {
            const int64_t x0 = x[s];
            if constexpr (Kind == 1) {
                const int64_t t = 2 * x0 + x1[s];
                x[s] = int32_t((t >> 2) + (t >> 3) - (t >> 5));
            } else {
                x[s] = int32_t((4 * x0 + 3 * x1[s] + x2[s]) >> 3);
            }
            x2[s] = x1[s];
            x1[s] = x0;
        }
    }
    for (uint32_t s = 0; s < Sides; ++s)
        history.i1[s] = int32_t(x1[s]), history.i2[s] = int32_t(x2[s]);
}

template <uint32_t Sides, int Kind> void runFloat(float* x, uint32_t frames) {
    float x1[Sides], x2[Sides];
    for (uint32_t s = 0; s < Sides; ++s)
        x1[s] = history.f1[s], x2[s] = history.f2[s];
    for (uint32_t n = 0; n < frames; ++n, x += Sides) {
        for (uint32_t s = 0; s < Sides; ++s) {
            const float x0 = x[s];
            if constexpr (Kind == 1) {
                x[s] = (2.0f * x0 + x1[s]) * 0.33333334f;
            } else {
                x[s] = (3.0f * x1[s] + x2[s] + 4.0f * x0) * 0.125f;
            }
            x2[s] = x1[s];
            x1[s] = x0;
        }
    }
    for (uint32_t s = 0; s < Sides; ++s)
        history.f1[s] = x1[s], history.f2[s] = x2[s];
}

template <uint32_t Sides> void filterInt(void* buffer, uint32_t frames, void*) {
    switch (activeFilter()) {
    case 1: runInt<Sides, 1>(static_cast<int32_t*>(buffer), frames); break;
    case 2: runInt<Sides, 2>(static_cast<int32_t*>(buffer), frames); break;
    default: break;
    }
}

template <uint32_t Sides> void filterFloat(void* buffer, uint32_t frames, void*) {
    switch (activeFilter()) {
    case 1: runFloat<Sides, 1>(static_cast<float*>(buffer), frames); break;
    case 2: runFloat<Sides, 2>(static_cast<float*>(buffer), frames); break;
    default: break;
    }
}

} // namespace

PostProcessor outputFilter = {nullptr,        nullptr,      nullptr,     filterFloat<1>,
                              filterFloat<2>, filterInt<1>, filterInt<2>};
