// The channel mixing loop and the interface of the mixing routines: the
// inputs a routine reads, the routine-table entries and the six tables.
#pragma once

#include "sound/dsm.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

static_assert(std::endian::native == std::endian::little, "sample data is read as little-endian");

// Inputs of one mixing-routine call, set up by the mixing loop per run.
struct MixArgs {
    const uint8_t* source; // sample data at the channel's current whole frame
    int64_t position;      // 16.16 offset from source (integer part in frames)
    int32_t step;          // 16.16 frames per output frame, negative backward
    void* dest;            // next value of the mixing buffer (int32_t or float)
    uint32_t frames;       // output frames to mix
    int32_t neighbour;     // interpolation partner offset in frames (interpolating families)
    // integer mixing
    const int32_t* leftTable;     // 8-bit volume table row of the left (or only) side
    const int32_t* rightTable;    // 8-bit volume table row of the right side
    const int32_t* leftUlawTable; // mu-law volume table rows
    const int32_t* rightUlawTable;
    int32_t leftMultiplier; // 16-bit samples: contribution = (s x multiplier) >> 8
    int32_t rightMultiplier;
    // float mixing
    float leftFactor;
    float rightFactor;
    const float* byteToFloat; // unsigned byte -> sample value
    const float* ulawToFloat; // mu-law byte -> sample value
};

// A mixing routine: mixes args.frames frames and advances args.dest and args.position.
using MixRoutine = void (*)(MixArgs& args);

// One entry of a routine table (per sample type and panning group).
struct MixRoutineEntry {
    uint32_t alignment;   // destination alignment in bytes before the block routine (always 1)
    uint32_t blockSize;   // frames per pass of mixBlocks
    MixRoutine mixFrames; // any number of frames, honours the neighbour offset
    MixRoutine mixBlocks; // a multiple of blockSize frames, neighbour offset 1
    const void* codeInfo; // unused: routines take their per-call values as parameters
};

// Routine tables: 27 entries each, the general, centre and surround groups
// indexed by sample type 0..8. An entry with null routines has no routine.
inline constexpr int MIX_GROUP_GENERAL = 0;
inline constexpr int MIX_GROUP_CENTRE = 9;
inline constexpr int MIX_GROUP_SURROUND = 18;
extern const MixRoutineEntry mixTableMonoInteger[27];
extern const MixRoutineEntry mixTableMonoFloat[27];
extern const MixRoutineEntry mixTableStereoInteger[27];
extern const MixRoutineEntry mixTableStereoFloat[27];
extern const MixRoutineEntry mixTableMonoInterpolating[27];
extern const MixRoutineEntry mixTableStereoInterpolating[27];

// Picks the routine entry for a sample type and panning (centre and
// surround groups where the table has them); null when there is none.
const MixRoutineEntry* pickMixRoutine(const MixRoutineEntry* table, uint32_t type, int32_t panning);

// Recomputes a channel's target (and, without interpolation, current)
// volumes after a change of volume, panning, muting or master volume.
void computeChannelVolumes(MixerChannel& ch, int32_t step);
// Starts a fade-out copy of a sounding channel before its sound is cut (interpolating mode).
void removeClick(uint32_t channel);
// Copies the pending sample handle's data and loops into the channel.
void takeOverSample(MixerChannel& ch);

// Mixes one channel record for frames output frames into dest.
void mixChannel(uint32_t record, void* dest, uint32_t frames);

// Converts values of the mixing buffer into the output format with clipping.
void convertIntTo16(const int32_t* src, int16_t* dst, uint32_t count);
void convertIntTo8(const int32_t* src, uint8_t* dst, uint32_t count);
void convertFloatTo16(const float* src, int16_t* dst, uint32_t count);
void convertFloatTo8(const float* src, uint8_t* dst, uint32_t count);

// Sample fetch helpers for the routines.
inline int32_t sample16(const uint8_t* p) {
    int16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

// The 16-bit contribution of the integer block routines: two look-ups in an
// 8-bit volume row, the low byte (signed) and the high byte with its carry.
// Samples above 0x7f7f are held there: their carry would wrap the high byte
// round to the most negative row entry and turn a loud peak into a click.
inline int32_t tableSample16(const int32_t* row, const uint8_t* p) {
    const uint32_t s = uint32_t(std::min(sample16(p), 0x7f7f));
    const uint32_t lo = (s & 255u) + 128u;
    const uint32_t hi = ((s >> 8) + 128u + (lo >> 8)) & 255u;
    return (row[lo & 255u] >> 8) + row[hi];
}

// Linear interpolation of the interpolating families: (x0 x (65536 - f) + x1 x f)
// for the 16-bit fraction f of pos; the callers' factors carry the 2^-16.
// 65536 - f is exact in float, which saves a conversion per frame.
inline float interpolate(float x0, float x1, int64_t pos) {
    const float f = float(int32_t(pos & 0xffff));
    return x0 * (65536.0f - f) + x1 * f;
}

// The interpolation partner offset in frames: Fixed (1) in the block
// routines, the loop's neighbour offset in the frame routines (Fixed 0).
template <int Fixed> inline int32_t neighbourOf(const MixArgs& a) {
    return Fixed ? Fixed : a.neighbour;
}

// The shared inner loop: calls body(frame pointer, destination) once per
// output frame, stepping the 16.16 position; OutCh values per output frame.
template <uint32_t FrameBytes, uint32_t OutCh, class T, class Body>
inline void mixLoop(MixArgs& a, Body body) {
    const uint8_t* src = a.source;
    int64_t pos = a.position;
    const int64_t step = a.step;
    T* d = static_cast<T*>(a.dest);
    T* const end = d + uint64_t(a.frames) * OutCh;
    while (d != end) {
        body(src + (pos >> 16) * FrameBytes, d);
        pos += step;
        d += OutCh;
    }
    a.position = pos;
    a.dest = d;
}
