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

// Integer arithmetic in 64 bits, so that extreme sums cannot overflow.
template <uint32_t Sides> void filterInt(void* buffer, uint32_t frames, void*) {
    const int kind = activeFilter();
    if (kind == 0) return;
    int32_t* x = static_cast<int32_t*>(buffer);
    for (uint32_t s = 0; s < Sides; ++s) {
        int64_t x1 = history.i1[s], x2 = history.i2[s];
        for (uint32_t n = 0; n < frames; ++n) {
            int32_t& v = x[n * Sides + s];
            const int64_t x0 = v;
            if (kind == 1) {
                const int64_t t = 2 * x0 + x1;
                v = int32_t((t >> 2) + (t >> 3) - (t >> 5));
            } else {
                v = int32_t((4 * x0 + 3 * x1 + x2) >> 3);
            }
            x2 = x1;
            x1 = x0;
        }
        history.i1[s] = int32_t(x1);
        history.i2[s] = int32_t(x2);
    }
}

template <uint32_t Sides> void filterFloat(void* buffer, uint32_t frames, void*) {
    const int kind = activeFilter();
    if (kind == 0) return;
    float* x = static_cast<float*>(buffer);
    for (uint32_t s = 0; s < Sides; ++s) {
        float x1 = history.f1[s], x2 = history.f2[s];
        for (uint32_t n = 0; n < frames; ++n) {
            float& v = x[n * Sides + s];
            const float x0 = v;
            if (kind == 1) {
                v = (2.0f * x0 + x1) * 0.33333334f;
            } else {
                v = (3.0f * x1 + x2 + 4.0f * x0) * 0.125f;
            }
            x2 = x1;
            x1 = x0;
        }
        history.f1[s] = x1;
        history.f2[s] = x2;
    }
}

} // namespace

PostProcessor outputFilter = {nullptr,        nullptr,      nullptr,     filterFloat<1>,
                              filterFloat<2>, filterInt<1>, filterInt<2>};
