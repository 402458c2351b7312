// The output filter. Its history (the last two inputs per output side) lives
// as long as the program, so consecutive chunks join without a seam.
#include "sound/mixer/dsmfilt.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

OutputFilterHistory history;

// 0 none, 1 light, 2 strong; the automatic mode filters lightly unless interpolating.
int activeFilter() {
    const int mode = mixerOptions.filterMode;
    if (mode == 3) return mixer.interpolating ? 0 : 1;
    return (mode == 1 || mode == 2) ? mode : 0;
}

// The filters run backward over the buffer's values, so that the inputs a
// value needs (one and two frames back on its side) are still unfiltered
// when it is computed, and four values go in one SSE2 pass. The first
// frames take their inputs from the history, which is then moved on to the
// buffer's last inputs. Sides values make a frame; value i is side i % Sides.

// The input k frames before value i: from the buffer, or from the history
// (h1 the last input before the buffer, h2 the one before that).
template <uint32_t Sides, class T> T inputBefore(const T* x, uint32_t i, uint32_t k, const T* h1, const T* h2) {
    if (i >= k * Sides) return x[i - k * Sides];
    const uint32_t side = i % Sides, back = k - i / Sides; // 1 or 2 frames into the history
    return back == 1 ? h1[side] : h2[side];
}

// Moves the history on to the last two input frames of a buffer of count values.
template <uint32_t Sides, class T> void keepHistory(const T* x, uint32_t count, T* h1, T* h2) {
    T n1[Sides], n2[Sides];
    for (uint32_t s = 0; s < Sides; ++s) {
        const uint32_t i = count - Sides + s;
        n1[s] = x[i];
        n2[s] = inputBefore<Sides>(x, i, 1, h1, h2);
    }
    for (uint32_t s = 0; s < Sides; ++s)
        h1[s] = n1[s], h2[s] = n2[s];
}

// Light (Kind 1) and strong (Kind 2) filters of one value from its inputs.
template <int Kind> int32_t filteredInt(int64_t x0, int64_t x1, int64_t x2) {
    if constexpr (Kind == 1) {
        const int64_t t = 2 * x0 + x1;
        return int32_t((t >> 2) + (t >> 3) - (t >> 5));
    } else {
        return int32_t((4 * x0 + 3 * x1 + x2) >> 3);
    }
}

template <int Kind> float filteredFloat(float x0, float x1, float x2) {
    if constexpr (Kind == 1) {
        return (2.0f * x0 + x1) * 0.33333334f;
    } else {
        return (3.0f * x1 + x2 + 4.0f * x0) * 0.125f;
    }
}

// Values below this in magnitude keep every integer filter sum inside 32
// bits, so that the four-at-a-time form equals the 64-bit one; louder
// buffers (possible only with extreme amplification) take the plain loop.
constexpr int32_t narrowLimit = 1 << 28;

// A value is inside the limit when value + limit, taken unsigned, is below
// twice the limit: OR-ing those sums keeps a bit at or above that for any
// value outside, so one test at the end answers for the whole buffer.
bool narrowEnough(const int32_t* x, uint32_t count) {
    constexpr uint32_t outside = ~(2u * narrowLimit - 1u);
    uint32_t i = 0, seen = 0;
#if defined(__SSE2__)
    const __m128i bias = _mm_set1_epi32(narrowLimit);
    __m128i all = _mm_setzero_si128();
    for (; i + 4 <= count; i += 4)
        all = _mm_or_si128(all, _mm_add_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i)), bias));
    alignas(16) uint32_t lanes[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), all);
    seen = lanes[0] | lanes[1] | lanes[2] | lanes[3];
#endif
    for (; i < count; ++i)
        seen |= uint32_t(x[i]) + uint32_t(narrowLimit);
    return (seen & outside) == 0;
}

template <uint32_t Sides, int Kind> void runInt(int32_t* x, uint32_t frames) {
    const uint32_t count = frames * Sides;
    if (count == 0) return;
    int32_t h1[Sides], h2[Sides];
    for (uint32_t s = 0; s < Sides; ++s)
        h1[s] = history.i1[s], h2[s] = history.i2[s];
    keepHistory<Sides>(x, count, history.i1, history.i2);
    const uint32_t fromBuffer = Kind * Sides; // values whose inputs are all in the buffer start here
    uint32_t i = count;
#if defined(__SSE2__)
    if (narrowEnough(x, count) && narrowEnough(h1, Sides) && narrowEnough(h2, Sides)) {
        while (i >= fromBuffer + 4) {
            i -= 4;
            const __m128i x0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i));
            const __m128i x1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i - Sides));
            __m128i y;
            if constexpr (Kind == 1) {
                const __m128i t = _mm_add_epi32(_mm_add_epi32(x0, x0), x1);
                y = _mm_sub_epi32(_mm_add_epi32(_mm_srai_epi32(t, 2), _mm_srai_epi32(t, 3)), _mm_srai_epi32(t, 5));
            } else {
                const __m128i x2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i - 2 * Sides));
                const __m128i sum = _mm_add_epi32(_mm_add_epi32(_mm_slli_epi32(x0, 2), _mm_add_epi32(x1, _mm_add_epi32(x1, x1))), x2);
                y = _mm_srai_epi32(sum, 3);
            }
            _mm_storeu_si128(reinterpret_cast<__m128i*>(x + i), y);
        }
    }
#endif
    while (i > 0) {
        --i;
        x[i] = filteredInt<Kind>(x[i], inputBefore<Sides>(x, i, 1, h1, h2), inputBefore<Sides>(x, i, 2, h1, h2));
    }
}

template <uint32_t Sides, int Kind> void runFloat(float* x, uint32_t frames) {
    const uint32_t count = frames * Sides;
    if (count == 0) return;
    float h1[Sides], h2[Sides];
    for (uint32_t s = 0; s < Sides; ++s)
        h1[s] = history.f1[s], h2[s] = history.f2[s];
    keepHistory<Sides>(x, count, history.f1, history.f2);
    const uint32_t fromBuffer = Kind * Sides;
    uint32_t i = count;
#if defined(__SSE2__)
    // The same operations in the same order as filteredFloat, four at a time.
    while (i >= fromBuffer + 4) {
        i -= 4;
        const __m128 x0 = _mm_loadu_ps(x + i);
        const __m128 x1 = _mm_loadu_ps(x + i - Sides);
        __m128 y;
        if constexpr (Kind == 1) {
            y = _mm_mul_ps(_mm_add_ps(_mm_add_ps(x0, x0), x1), _mm_set1_ps(0.33333334f));
        } else {
            const __m128 x2 = _mm_loadu_ps(x + i - 2 * Sides);
            const __m128 sum = _mm_add_ps(_mm_add_ps(_mm_mul_ps(_mm_set1_ps(3.0f), x1), x2),
                                          _mm_mul_ps(_mm_set1_ps(4.0f), x0));
            y = _mm_mul_ps(sum, _mm_set1_ps(0.125f));
        }
        _mm_storeu_ps(x + i, y);
    }
#endif
    while (i > 0) {
        --i;
        x[i] = filteredFloat<Kind>(x[i], inputBefore<Sides>(x, i, 1, h1, h2), inputBefore<Sides>(x, i, 2, h1, h2));
    }
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

OutputFilterHistory outputFilterHistory() {
    return history;
}

void setOutputFilterHistory(const OutputFilterHistory& kept) {
    history = kept;
}
