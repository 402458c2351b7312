// The plain forms of the mixing routines, conversions and filter (see mix_reference.h).
#include "mix_reference.h"

#include <algorithm>
#include <cstring>

namespace {

int64_t s16(const uint8_t* p) {
    int16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

// A 16-bit sample through two look-ups in an 8-bit volume row, held at 0x7f7f.
int32_t viaRow(const int32_t* row, const uint8_t* p) {
    const uint32_t s = uint32_t(std::min<int64_t>(s16(p), 0x7f7f));
    const uint32_t lo = (s & 255u) + 128u;
    const uint32_t hi = ((s >> 8) + 128u + (lo >> 8)) & 255u;
    return (row[lo & 255u] >> 8) + row[hi];
}

int32_t byMultiplier(const uint8_t* p, int64_t m) {
    return int32_t((s16(p) * m) >> 8);
}

float lerp(float x0, float x1, int64_t pos) {
    const float f = float(int32_t(pos & 0xffff));
    return x0 * (65536.0f - f) + x1 * f;
}

// Calls body(frame, position, destination) for every output frame.
template <uint32_t FrameBytes, uint32_t Out, class T, class Body> void eachFrame(MixArgs& a, Body body) {
    int64_t pos = a.position;
    T* d = static_cast<T*>(a.dest);
    for (uint32_t i = 0; i < a.frames; ++i, pos += a.step, d += Out)
        body(a.source + (pos >> 16) * FrameBytes, pos, d);
    a.position = pos;
    a.dest = d;
}

// Integer families. Rows: left (or only) and right 8-bit and mu-law rows.
enum Rows { Bytes, Ulaw };
const int32_t* leftRow(const MixArgs& a, Rows r) {
    return r == Ulaw ? a.leftUlawTable : a.leftTable;
}
const int32_t* rightRow(const MixArgs& a, Rows r) {
    return r == Ulaw ? a.rightUlawTable : a.rightTable;
}

template <Rows R> void monoInt8(MixArgs& a) {
    const int32_t* t = leftRow(a, R);
    eachFrame<1, 1, int32_t>(a, [&](const uint8_t* p, int64_t, int32_t* d) { d[0] += t[p[0]]; });
}
void monoInt16(MixArgs& a) {
    eachFrame<2, 1, int32_t>(a, [&](const uint8_t* p, int64_t, int32_t* d) { d[0] += byMultiplier(p, a.leftMultiplier); });
}
void monoInt16Rows(MixArgs& a) {
    eachFrame<2, 1, int32_t>(a, [&](const uint8_t* p, int64_t, int32_t* d) { d[0] += viaRow(a.leftTable, p); });
}
template <Rows R> void monoInt8Stereo(MixArgs& a) {
    const int32_t* t = leftRow(a, R);
    eachFrame<2, 1, int32_t>(a, [&](const uint8_t* p, int64_t, int32_t* d) { d[0] += t[p[0]] + t[p[1]]; });
}
void monoInt16Stereo(MixArgs& a) {
    eachFrame<4, 1, int32_t>(a, [&](const uint8_t* p, int64_t, int32_t* d) {
        d[0] += int32_t(((s16(p) + s16(p + 2)) * a.leftMultiplier) >> 8);
    });
}

// Stereo integer: Sign 0 general, +1 centre, -1 surround.
template <int Sign, Rows R> void stereoInt8(MixArgs& a) {
    const int32_t* l = leftRow(a, R);
    const int32_t* r = rightRow(a, R);
    eachFrame<1, 2, int32_t>(a, [&](const uint8_t* p, int64_t, int32_t* d) {
        d[0] += l[p[0]];
        d[1] += Sign == 0 ? r[p[0]] : Sign * l[p[0]];
    });
}
template <int Sign> void stereoInt16(MixArgs& a) {
    eachFrame<2, 2, int32_t>(a, [&](const uint8_t* p, int64_t, int32_t* d) {
        const int32_t c = byMultiplier(p, a.leftMultiplier);
        d[0] += c;
        d[1] += Sign > 0 ? c : byMultiplier(p, a.rightMultiplier);
    });
}
template <int Sign> void stereoInt16Rows(MixArgs& a) {
    eachFrame<2, 2, int32_t>(a, [&](const uint8_t* p, int64_t, int32_t* d) {
        d[0] += viaRow(a.leftTable, p);
        d[1] += Sign == 0 ? viaRow(a.rightTable, p) : Sign * viaRow(a.leftTable, p);
    });
}
template <int Sign, Rows R> void stereoInt8Stereo(MixArgs& a) {
    const int32_t* l = leftRow(a, R);
    const int32_t* r = rightRow(a, R);
    eachFrame<2, 2, int32_t>(a, [&](const uint8_t* p, int64_t, int32_t* d) {
        d[0] += l[p[0]];
        d[1] += Sign == 0 ? r[p[1]] : Sign * l[p[1]];
    });
}
template <int Sign> void stereoInt16Stereo(MixArgs& a) {
    const int64_t mr = Sign > 0 ? a.leftMultiplier : a.rightMultiplier;
    eachFrame<4, 2, int32_t>(a, [&](const uint8_t* p, int64_t, int32_t* d) {
        d[0] += byMultiplier(p, a.leftMultiplier);
        d[1] += byMultiplier(p + 2, mr);
    });
}
template <int Sign> void stereoInt16StereoRows(MixArgs& a) {
    eachFrame<4, 2, int32_t>(a, [&](const uint8_t* p, int64_t, int32_t* d) {
        d[0] += viaRow(a.leftTable, p);
        d[1] += Sign == 0 ? viaRow(a.rightTable, p + 2) : Sign * viaRow(a.leftTable, p + 2);
    });
}

// Float families: bytes through a conversion table, 16-bit values as they are.
const float* floatTable(const MixArgs& a, Rows r) {
    return r == Ulaw ? a.ulawToFloat : a.byteToFloat;
}

template <Rows R> void monoFloat8(MixArgs& a) {
    const float* t = floatTable(a, R);
    eachFrame<1, 1, float>(a, [&](const uint8_t* p, int64_t, float* d) { d[0] += t[p[0]] * a.leftFactor; });
}
void monoFloat16(MixArgs& a) {
    eachFrame<2, 1, float>(a, [&](const uint8_t* p, int64_t, float* d) { d[0] += float(s16(p)) * a.leftFactor; });
}
template <Rows R> void monoFloat8Stereo(MixArgs& a) {
    const float* t = floatTable(a, R);
    eachFrame<2, 1, float>(a, [&](const uint8_t* p, int64_t, float* d) { d[0] += (t[p[0]] + t[p[1]]) * a.leftFactor; });
}
void monoFloat16Stereo(MixArgs& a) {
    eachFrame<4, 1, float>(a, [&](const uint8_t* p, int64_t, float* d) {
        d[0] += (float(s16(p)) + float(s16(p + 2))) * a.leftFactor;
    });
}
template <Rows R> void stereoFloat8(MixArgs& a) {
    const float* t = floatTable(a, R);
    eachFrame<1, 2, float>(a, [&](const uint8_t* p, int64_t, float* d) {
        const float x = t[p[0]];
        d[0] += x * a.leftFactor;
        d[1] += x * a.rightFactor;
    });
}
void stereoFloat16(MixArgs& a) {
    eachFrame<2, 2, float>(a, [&](const uint8_t* p, int64_t, float* d) {
        const float x = float(s16(p));
        d[0] += x * a.leftFactor;
        d[1] += x * a.rightFactor;
    });
}
template <Rows R> void stereoFloat8Stereo(MixArgs& a) {
    const float* t = floatTable(a, R);
    eachFrame<2, 2, float>(a, [&](const uint8_t* p, int64_t, float* d) {
        d[0] += t[p[0]] * a.leftFactor;
        d[1] += t[p[1]] * a.rightFactor;
    });
}
void stereoFloat16Stereo(MixArgs& a) {
    eachFrame<4, 2, float>(a, [&](const uint8_t* p, int64_t, float* d) {
        d[0] += float(s16(p)) * a.leftFactor;
        d[1] += float(s16(p + 2)) * a.rightFactor;
    });
}

// Interpolating families: Fixed 1 in the block routines of the mono types,
// 0 where the routine reads the neighbour offset.
template <int Fixed> int64_t partner(const MixArgs& a) {
    return Fixed ? Fixed : a.neighbour;
}

template <int Fixed, Rows R> void monoInterp8(MixArgs& a) {
    const float* t = floatTable(a, R);
    const float f = a.leftFactor * (1.0f / 65536.0f);
    const int64_t nb = partner<Fixed>(a);
    eachFrame<1, 1, float>(a, [&](const uint8_t* p, int64_t pos, float* d) { d[0] += lerp(t[p[0]], t[p[nb]], pos) * f; });
}
template <int Fixed> void monoInterp16(MixArgs& a) {
    const float f = a.leftFactor * (1.0f / 65536.0f);
    const int64_t nb = partner<Fixed>(a) * 2;
    eachFrame<2, 1, float>(a, [&](const uint8_t* p, int64_t pos, float* d) {
        d[0] += lerp(float(s16(p)), float(s16(p + nb)), pos) * f;
    });
}
template <Rows R> void monoInterp8Stereo(MixArgs& a) {
    const float* t = floatTable(a, R);
    const float f = a.leftFactor * (1.0f / 65536.0f);
    const int64_t nb = int64_t(a.neighbour) * 2;
    eachFrame<2, 1, float>(a, [&](const uint8_t* p, int64_t pos, float* d) {
        d[0] += (lerp(t[p[0]], t[p[nb]], pos) + lerp(t[p[1]], t[p[nb + 1]], pos)) * f;
    });
}
void monoInterp16Stereo(MixArgs& a) {
    const float f = a.leftFactor * (1.0f / 65536.0f);
    const int64_t nb = int64_t(a.neighbour) * 4;
    eachFrame<4, 1, float>(a, [&](const uint8_t* p, int64_t pos, float* d) {
        const float l = lerp(float(s16(p)), float(s16(p + nb)), pos);
        const float r = lerp(float(s16(p + 2)), float(s16(p + nb + 2)), pos);
        d[0] += (l + r) * f;
    });
}
template <int Fixed, Rows R> void stereoInterp8(MixArgs& a) {
    const float* t = floatTable(a, R);
    const float l = a.leftFactor * (1.0f / 65536.0f), r = a.rightFactor * (1.0f / 65536.0f);
    const int64_t nb = partner<Fixed>(a);
    eachFrame<1, 2, float>(a, [&](const uint8_t* p, int64_t pos, float* d) {
        const float x = lerp(t[p[0]], t[p[nb]], pos);
        d[0] += x * l;
        d[1] += x * r;
    });
}
template <int Fixed> void stereoInterp16(MixArgs& a) {
    const float l = a.leftFactor * (1.0f / 65536.0f), r = a.rightFactor * (1.0f / 65536.0f);
    const int64_t nb = partner<Fixed>(a) * 2;
    eachFrame<2, 2, float>(a, [&](const uint8_t* p, int64_t pos, float* d) {
        const float x = lerp(float(s16(p)), float(s16(p + nb)), pos);
        d[0] += x * l;
        d[1] += x * r;
    });
}
template <Rows R> void stereoInterp8Stereo(MixArgs& a) {
    const float* t = floatTable(a, R);
    const float l = a.leftFactor * (1.0f / 65536.0f), r = a.rightFactor * (1.0f / 65536.0f);
    const int64_t nb = int64_t(a.neighbour) * 2;
    eachFrame<2, 2, float>(a, [&](const uint8_t* p, int64_t pos, float* d) {
        d[0] += lerp(t[p[0]], t[p[nb]], pos) * l;
        d[1] += lerp(t[p[1]], t[p[nb + 1]], pos) * r;
    });
}
void stereoInterp16Stereo(MixArgs& a) {
    const float l = a.leftFactor * (1.0f / 65536.0f), r = a.rightFactor * (1.0f / 65536.0f);
    const int64_t nb = int64_t(a.neighbour) * 4;
    eachFrame<4, 2, float>(a, [&](const uint8_t* p, int64_t pos, float* d) {
        d[0] += lerp(float(s16(p)), float(s16(p + nb)), pos) * l;
        d[1] += lerp(float(s16(p + 2)), float(s16(p + nb + 2)), pos) * r;
    });
}

// Cubic families: a four-point spline through the frame before, the frame, its partner and the
// frame after the partner, at the position's fraction. A point outside the sample's data
// (a.first .. a.end) is the one it stands beside: the frame itself before the data, the partner
// after it, and the partner when the partner is the frame itself.
float curve(float xm1, float x0, float x1, float x2, int64_t pos) {
    const float f = float(int32_t(pos & 0xffff)) * (1.0f / 65536.0f);
    const float a = (x2 - xm1) * 0.5f + (x0 - x1) * 1.5f;
    const float b = xm1 - x0 * 2.5f + x1 * 2.0f - x2 * 0.5f;
    const float c = (x1 - xm1) * 0.5f;
    return ((a * f + b) * f + c) * f + x0;
}

// The four frames around p (frames of size bytes) with the partner nb frames on.
struct Around {
    const uint8_t *before, *here, *next, *after;
};
Around around(const MixArgs& a, const uint8_t* p, int64_t nb, int64_t size) {
    Around r{p, p, p + nb * size, p + nb * size};
    if (p - a.first >= size) r.before = p - size;
    const int64_t afterAt = (nb + 1) * size;
    if (nb != 0 && afterAt + size <= a.end - p && afterAt >= -(p - a.first)) r.after = p + afterAt;
    return r;
}

// The curve through one side of the four frames: value(frame) reads that side.
template <class Value> float curveAt(const Around& r, int64_t pos, Value value) {
    return curve(value(r.before), value(r.here), value(r.next), value(r.after), pos);
}

template <int Fixed, Rows R> void monoCubic8(MixArgs& a) {
    const float* t = floatTable(a, R);
    const int64_t nb = partner<Fixed>(a);
    eachFrame<1, 1, float>(a, [&](const uint8_t* p, int64_t pos, float* d) {
        d[0] += curveAt(around(a, p, nb, 1), pos, [&](const uint8_t* q) { return t[q[0]]; }) * a.leftFactor;
    });
}
template <int Fixed> void monoCubic16(MixArgs& a) {
    const int64_t nb = partner<Fixed>(a);
    eachFrame<2, 1, float>(a, [&](const uint8_t* p, int64_t pos, float* d) {
        d[0] += curveAt(around(a, p, nb, 2), pos, [](const uint8_t* q) { return float(s16(q)); }) * a.leftFactor;
    });
}
template <Rows R> void monoCubic8Stereo(MixArgs& a) {
    const float* t = floatTable(a, R);
    eachFrame<2, 1, float>(a, [&](const uint8_t* p, int64_t pos, float* d) {
        const Around r = around(a, p, a.neighbour, 2);
        d[0] += (curveAt(r, pos, [&](const uint8_t* q) { return t[q[0]]; }) +
                 curveAt(r, pos, [&](const uint8_t* q) { return t[q[1]]; })) *
                a.leftFactor;
    });
}
void monoCubic16Stereo(MixArgs& a) {
    eachFrame<4, 1, float>(a, [&](const uint8_t* p, int64_t pos, float* d) {
        const Around r = around(a, p, a.neighbour, 4);
        d[0] += (curveAt(r, pos, [](const uint8_t* q) { return float(s16(q)); }) +
                 curveAt(r, pos, [](const uint8_t* q) { return float(s16(q + 2)); })) *
                a.leftFactor;
    });
}
template <int Fixed, Rows R> void stereoCubic8(MixArgs& a) {
    const float* t = floatTable(a, R);
    const int64_t nb = partner<Fixed>(a);
    eachFrame<1, 2, float>(a, [&](const uint8_t* p, int64_t pos, float* d) {
        const float x = curveAt(around(a, p, nb, 1), pos, [&](const uint8_t* q) { return t[q[0]]; });
        d[0] += x * a.leftFactor;
        d[1] += x * a.rightFactor;
    });
}
template <int Fixed> void stereoCubic16(MixArgs& a) {
    const int64_t nb = partner<Fixed>(a);
    eachFrame<2, 2, float>(a, [&](const uint8_t* p, int64_t pos, float* d) {
        const float x = curveAt(around(a, p, nb, 2), pos, [](const uint8_t* q) { return float(s16(q)); });
        d[0] += x * a.leftFactor;
        d[1] += x * a.rightFactor;
    });
}
template <Rows R> void stereoCubic8Stereo(MixArgs& a) {
    const float* t = floatTable(a, R);
    eachFrame<2, 2, float>(a, [&](const uint8_t* p, int64_t pos, float* d) {
        const Around r = around(a, p, a.neighbour, 2);
        d[0] += curveAt(r, pos, [&](const uint8_t* q) { return t[q[0]]; }) * a.leftFactor;
        d[1] += curveAt(r, pos, [&](const uint8_t* q) { return t[q[1]]; }) * a.rightFactor;
    });
}
void stereoCubic16Stereo(MixArgs& a) {
    eachFrame<4, 2, float>(a, [&](const uint8_t* p, int64_t pos, float* d) {
        const Around r = around(a, p, a.neighbour, 4);
        d[0] += curveAt(r, pos, [](const uint8_t* q) { return float(s16(q)); }) * a.leftFactor;
        d[1] += curveAt(r, pos, [](const uint8_t* q) { return float(s16(q + 2)); }) * a.rightFactor;
    });
}

// Entries with the block sizes the mixer's tables had: the mixing loop cuts
// runs by them, and for 16-bit samples in the integer families the block
// routine's sums differ from the frame routine's.
constexpr MixRoutineEntry entry(uint32_t blockSize, MixRoutine frames, MixRoutine blocks) {
    return {1, blockSize, frames, blocks, nullptr};
}
constexpr MixRoutineEntry entry(uint32_t blockSize, MixRoutine both) {
    return entry(blockSize, both, both);
}

} // namespace

const MixRoutineEntry referenceTableMonoInteger[27] = {
    {}, entry(2, monoInt8<Bytes>), entry(2, monoInt16, monoInt16Rows), entry(1, monoInt8Stereo<Bytes>),
    entry(1, monoInt16Stereo), {}, {}, entry(2, monoInt8<Ulaw>), entry(1, monoInt8Stereo<Ulaw>),
};

const MixRoutineEntry referenceTableStereoInteger[27] = {
    // general
    {}, entry(4, stereoInt8<0, Bytes>), entry(1, stereoInt16<0>, stereoInt16Rows<0>),
    entry(1, stereoInt8Stereo<0, Bytes>), entry(1, stereoInt16Stereo<0>, stereoInt16StereoRows<0>), {}, {},
    entry(4, stereoInt8<0, Ulaw>), entry(1, stereoInt8Stereo<0, Ulaw>),
    // centre
    {}, entry(4, stereoInt8<1, Bytes>), entry(1, stereoInt16<1>, stereoInt16Rows<1>), {},
    entry(1, stereoInt16Stereo<1>, stereoInt16StereoRows<1>), {}, {}, entry(4, stereoInt8<1, Ulaw>), {},
    // surround
    {}, entry(4, stereoInt8<-1, Bytes>), entry(1, stereoInt16<-1>, stereoInt16Rows<-1>),
    entry(1, stereoInt8Stereo<-1, Bytes>), entry(1, stereoInt16Stereo<-1>, stereoInt16StereoRows<-1>), {}, {},
    entry(4, stereoInt8<-1, Ulaw>), entry(1, stereoInt8Stereo<-1, Ulaw>),
};

const MixRoutineEntry referenceTableMonoFloat[27] = {
    {}, entry(4, monoFloat8<Bytes>), entry(4, monoFloat16), entry(1, monoFloat8Stereo<Bytes>),
    entry(1, monoFloat16Stereo), {}, {}, entry(4, monoFloat8<Ulaw>), entry(1, monoFloat8Stereo<Ulaw>),
};

const MixRoutineEntry referenceTableStereoFloat[27] = {
    {}, entry(2, stereoFloat8<Bytes>), entry(2, stereoFloat16), entry(1, stereoFloat8Stereo<Bytes>),
    entry(1, stereoFloat16Stereo), {}, {}, entry(2, stereoFloat8<Ulaw>), entry(1, stereoFloat8Stereo<Ulaw>),
};

const MixRoutineEntry referenceTableMonoInterpolating[27] = {
    {}, entry(2, monoInterp8<0, Bytes>, monoInterp8<1, Bytes>), entry(2, monoInterp16<0>, monoInterp16<1>),
    entry(1, monoInterp8Stereo<Bytes>), entry(1, monoInterp16Stereo), {}, {},
    entry(2, monoInterp8<0, Ulaw>, monoInterp8<1, Ulaw>), entry(1, monoInterp8Stereo<Ulaw>),
};

const MixRoutineEntry referenceTableStereoInterpolating[27] = {
    {}, entry(2, stereoInterp8<0, Bytes>, stereoInterp8<1, Bytes>), entry(2, stereoInterp16<0>, stereoInterp16<1>),
    entry(1, stereoInterp8Stereo<Bytes>), entry(1, stereoInterp16Stereo), {}, {},
    entry(2, stereoInterp8<0, Ulaw>, stereoInterp8<1, Ulaw>), entry(1, stereoInterp8Stereo<Ulaw>),
};

const MixRoutineEntry referenceTableMonoCubic[27] = {
    {}, entry(2, monoCubic8<0, Bytes>, monoCubic8<1, Bytes>), entry(2, monoCubic16<0>, monoCubic16<1>),
    entry(1, monoCubic8Stereo<Bytes>), entry(1, monoCubic16Stereo), {}, {},
    entry(2, monoCubic8<0, Ulaw>, monoCubic8<1, Ulaw>), entry(1, monoCubic8Stereo<Ulaw>),
};

const MixRoutineEntry referenceTableStereoCubic[27] = {
    {}, entry(2, stereoCubic8<0, Bytes>, stereoCubic8<1, Bytes>), entry(2, stereoCubic16<0>, stereoCubic16<1>),
    entry(1, stereoCubic8Stereo<Bytes>), entry(1, stereoCubic16Stereo), {}, {},
    entry(2, stereoCubic8<0, Ulaw>, stereoCubic8<1, Ulaw>), entry(1, stereoCubic8Stereo<Ulaw>),
};

const MixRoutineEntry* referenceTableFor(const MixRoutineEntry* table) {
    if (table == mixTableMonoInteger) return referenceTableMonoInteger;
    if (table == mixTableStereoInteger) return referenceTableStereoInteger;
    if (table == mixTableMonoFloat) return referenceTableMonoFloat;
    if (table == mixTableStereoFloat) return referenceTableStereoFloat;
    if (table == mixTableMonoInterpolating) return referenceTableMonoInterpolating;
    if (table == mixTableStereoInterpolating) return referenceTableStereoInterpolating;
    if (table == mixTableMonoCubic) return referenceTableMonoCubic;
    if (table == mixTableStereoCubic) return referenceTableStereoCubic;
    return nullptr;
}

void referenceIntTo16(const int32_t* src, int16_t* dst, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i)
        dst[i] = int16_t(std::clamp(src[i], -32768, 32767));
}

void referenceIntTo8(const int32_t* src, uint8_t* dst, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i)
        dst[i] = uint8_t(std::clamp(src[i] >> 8, -128, 127) + 128);
}

void referenceFloatTo16(const float* src, int16_t* dst, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        const float c = std::min(32767.0f, std::max(-32768.0f, src[i]));
        dst[i] = int16_t(int32_t((c + 12582912.0f) - 12582912.0f));
    }
}

void referenceFloatTo8(const float* src, uint8_t* dst, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        const float c = std::min(65536.0f, std::max(-65536.0f, src[i]));
        dst[i] = uint8_t(std::clamp(int32_t(c) >> 8, -128, 127) + 128);
    }
}

void referenceFilterInt(int32_t* x, uint32_t frames, uint32_t sides, int kind, int32_t (&x1)[2],
                        int32_t (&x2)[2]) {
    for (uint32_t n = 0; n < frames; ++n) {
        for (uint32_t s = 0; s < sides; ++s) {
            const int64_t x0 = x[n * sides + s];
            if (kind == 1) {
                const int64_t t = 2 * x0 + x1[s];
                x[n * sides + s] = int32_t((t >> 2) + (t >> 3) - (t >> 5));
            } else {
                x[n * sides + s] = int32_t((4 * x0 + 3 * int64_t(x1[s]) + x2[s]) >> 3);
            }
            x2[s] = x1[s];
            x1[s] = int32_t(x0);
        }
    }
}

void referenceFilterFloat(float* x, uint32_t frames, uint32_t sides, int kind, float (&x1)[2], float (&x2)[2]) {
    for (uint32_t n = 0; n < frames; ++n) {
        for (uint32_t s = 0; s < sides; ++s) {
            const float x0 = x[n * sides + s];
            if (kind == 1) {
                x[n * sides + s] = (2.0f * x0 + x1[s]) * 0.33333334f;
            } else {
                x[n * sides + s] = (3.0f * x1[s] + x2[s] + 4.0f * x0) * 0.125f;
            }
            x2[s] = x1[s];
            x1[s] = x0;
        }
    }
}
