// Plain one-frame-at-a-time forms of the mixing routines, the output
// conversions and the output filter, written as the routines computed before
// they were unrolled and vectorised. The fast routines must give exactly the
// same bits; the tests compare the two on corpus samples.
#pragma once

#include "sound/mixer/dsmmix.h"

#include <cstdint>

// The routine tables in the plain form, laid out as the mixer's own (27
// entries: general, centre and surround groups by sample type).
extern const MixRoutineEntry referenceTableMonoInteger[27];
extern const MixRoutineEntry referenceTableStereoInteger[27];
extern const MixRoutineEntry referenceTableMonoFloat[27];
extern const MixRoutineEntry referenceTableStereoFloat[27];
extern const MixRoutineEntry referenceTableMonoInterpolating[27];
extern const MixRoutineEntry referenceTableStereoInterpolating[27];
extern const MixRoutineEntry referenceTableMonoCubic[27];
extern const MixRoutineEntry referenceTableStereoCubic[27];

// The plain table that stands for one of the mixer's tables.
const MixRoutineEntry* referenceTableFor(const MixRoutineEntry* table);

// Output conversions with clipping.
void referenceIntTo16(const int32_t* src, int16_t* dst, uint32_t count);
void referenceIntTo8(const int32_t* src, uint8_t* dst, uint32_t count);
void referenceFloatTo16(const float* src, int16_t* dst, uint32_t count);
void referenceFloatTo8(const float* src, uint8_t* dst, uint32_t count);

// The output filter over frames of sides values, kind 1 light or 2 strong,
// with its history (x[n-1], x[n-2] per side) carried in the arrays given.
void referenceFilterInt(int32_t* x, uint32_t frames, uint32_t sides, int kind, int32_t (&x1)[2],
                        int32_t (&x2)[2]);
void referenceFilterFloat(float* x, uint32_t frames, uint32_t sides, int kind, float (&x1)[2], float (&x2)[2]);
