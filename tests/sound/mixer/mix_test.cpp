// The six mixing-routine families, checked value by value against the
// formulas of each family for every sample type, forward and backward; and
// the cubic families' curve against what a four-point spline must do.
#include "mixer_fixture.h"

#include <algorithm>
#include <cmath>

namespace {

enum class Family { MonoInt, StereoInt, MonoFloat, StereoFloat, MonoInterp, StereoInterp };

struct FamilyInfo {
    Family family;
    uint32_t mode;
    const MixRoutineEntry* table;
};

const FamilyInfo families[] = {
    {Family::MonoInt, MIX_MONO | MIX_INTEGER, mixTableMonoInteger},
    {Family::StereoInt, MIX_STEREO | MIX_INTEGER, mixTableStereoInteger},
    {Family::MonoFloat, MIX_MONO | MIX_FLOAT, mixTableMonoFloat},
    {Family::StereoFloat, MIX_STEREO | MIX_FLOAT, mixTableStereoFloat},
    {Family::MonoInterp, MIX_MONO | MIX_INTERPOLATE, mixTableMonoInterpolating},
    {Family::StereoInterp, MIX_STEREO | MIX_INTERPOLATE, mixTableStereoInterpolating},
};

const uint32_t sampleTypes[] = {SMP_8BIT_MONO,    SMP_16BIT_MONO, SMP_8BIT_STEREO,
                                SMP_16BIT_STEREO, SMP_ULAW_MONO,  SMP_ULAW_STEREO};

uint32_t frameBytes(uint32_t type) {
    return 1u << sampleFrameShift(type);
}
bool isStereoType(uint32_t t) {
    return t == SMP_8BIT_STEREO || t == SMP_16BIT_STEREO || t == SMP_ULAW_STEREO;
}
bool isSixteen(uint32_t t) {
    return t == SMP_16BIT_MONO || t == SMP_16BIT_STEREO;
}
bool isUlaw(uint32_t t) {
    return t == SMP_ULAW_MONO || t == SMP_ULAW_STEREO;
}

int32_t s16(const uint8_t* p) {
    return int16_t(uint16_t(p[0] | p[1] << 8));
}

// Pseudo-random sample bytes, the same every run.
std::vector<uint8_t> noise(size_t n, uint32_t seed) {
    std::vector<uint8_t> v(n);
    for (auto& b : v) {
        seed = seed * 1103515245u + 12345u;
        b = uint8_t(seed >> 16);
    }
    return v;
}

class MixRoutines : public MixerTest {
  protected:
    static constexpr uint32_t frames = 24;
    static constexpr int32_t leftLevel = 27, rightLevel = 13;
    static constexpr int32_t leftMul = 345, rightMul = -211;
    static constexpr float leftFac = 0.0123f, rightFac = -0.0071f;

    MixArgs baseArgs(const std::vector<uint8_t>& data, uint32_t type, uint32_t startFrame, int32_t step) {
        MixArgs a{};
        a.source = data.data() + startFrame * frameBytes(type);
        a.position = 0x3a00;
        a.step = step;
        a.frames = frames;
        a.neighbour = 1;
        if (mixer.integerMixing) {
            a.leftTable = mixer.volumeTable + leftLevel * 256;
            a.rightTable = mixer.volumeTable + rightLevel * 256;
            a.leftUlawTable = mixer.ulawVolumeTable + leftLevel * 256;
            a.rightUlawTable = mixer.ulawVolumeTable + rightLevel * 256;
        }
        a.leftMultiplier = leftMul;
        a.rightMultiplier = rightMul;
        a.leftFactor = leftFac;
        a.rightFactor = rightFac;
        a.byteToFloat = mixer.byteToFloat;
        a.ulawToFloat = mixer.ulawToFloat;
        return a;
    }

    // One side's sample value as the float families read it.
    static float floatValue(uint32_t type, const uint8_t* p) {
        if (isSixteen(type)) return float(s16(p));
        if (isUlaw(type)) return float(ulawDecode(p[0]));
        return float(int(p[0]) * 256 - 32768);
    }

    // The integer contribution of one side: byte b through a table row, or
    // a 16-bit value by the multiplier or the two-look-up table form.
    static int32_t intValue(uint32_t type, const uint8_t* p, int32_t level, int32_t mul, bool blockForm) {
        const int32_t* row = mixer.volumeTable + level * 256;
        if (isUlaw(type)) return mixer.ulawVolumeTable[level * 256 + p[0]];
        if (!isSixteen(type)) return row[p[0]];
        if (!blockForm) return int32_t((int64_t(s16(p)) * mul) >> 8);
        // Held at 0x7f7f, where the high byte's carry would wrap.
        const int held = std::min(s16(p), 0x7f7f);
        const int lo = held & 255, hi = (held >> 8) & 255;
        const int a = (lo + 128) % 256, c = lo + 128 > 255 ? 1 : 0, h = (hi + 128 + c) % 256;
        return (row[a] >> 8) + row[h];
    }

    // Expected buffer after mixing into zeros, straight from the formulas.
    template <class T>
    std::vector<T> expected(Family fam, uint32_t type, const std::vector<uint8_t>& data, uint32_t startFrame,
                            int32_t step, bool blockForm, int32_t neighbour, int group) {
        const bool stereoOut =
            fam == Family::StereoInt || fam == Family::StereoFloat || fam == Family::StereoInterp;
        std::vector<T> out(frames * (stereoOut ? 2 : 1));
        const uint32_t fb = frameBytes(type);
        const uint32_t sideBytes = isStereoType(type) ? fb / 2 : fb;
        int64_t pos = 0x3a00;
        for (uint32_t i = 0; i < frames; ++i, pos += step) {
            const uint8_t* p = data.data() + (int64_t(startFrame) + (pos >> 16)) * fb;
            const uint8_t* pr = isStereoType(type) ? p + sideBytes : p;
            const int32_t f = int32_t(pos & 0xffff);
            if constexpr (std::is_same_v<T, int32_t>) {
                if (fam == Family::MonoInt) {
                    if (type == SMP_16BIT_STEREO) {
                        out[i] = int32_t(((int64_t(s16(p)) + s16(p + 2)) * leftMul) >> 8);
                    } else {
                        out[i] = intValue(type, p, leftLevel, leftMul, blockForm) +
                                 (isStereoType(type) ? intValue(type, pr, leftLevel, leftMul, blockForm) : 0);
                    }
                } else if (group == MIX_GROUP_GENERAL) {
                    out[2 * i] = intValue(type, p, leftLevel, leftMul, blockForm);
                    out[2 * i + 1] = intValue(type, pr, rightLevel, rightMul, blockForm);
                } else {
                    // Shared groups: left-side values on both sides, the right
                    // side added (centre) or subtracted (surround); the
                    // multiplier form keeps the right multiplier.
                    out[2 * i] = intValue(type, p, leftLevel, leftMul, blockForm);
                    const bool multForm = isSixteen(type) && !blockForm;
                    if (group == MIX_GROUP_CENTRE) {
                        out[2 * i + 1] = intValue(type, pr, leftLevel, leftMul, blockForm);
                    } else if (multForm) {
                        out[2 * i + 1] = intValue(type, pr, leftLevel, rightMul, false);
                    } else {
                        out[2 * i + 1] = -intValue(type, pr, leftLevel, leftMul, blockForm);
                    }
                }
            } else {
                const bool interp = fam == Family::MonoInterp || fam == Family::StereoInterp;
                auto side = [&](const uint8_t* q) {
                    const float x0 = floatValue(type, q);
                    if (!interp) return x0;
                    const float x1 = floatValue(type, q + int64_t(neighbour) * fb);
                    return (x0 * float(65536 - f) + x1 * float(f));
                };
                const float scale = interp ? 1.0f / 65536.0f : 1.0f;
                if (!stereoOut) {
                    const float x = isStereoType(type) ? side(p) + side(pr) : side(p);
                    out[i] = interp ? (x * leftFac) * scale : x * leftFac;
                } else {
                    const float xl = side(p), xr = side(pr);
                    out[2 * i] = interp ? (xl * leftFac) * scale : xl * leftFac;
                    out[2 * i + 1] = interp ? (xr * rightFac) * scale : xr * rightFac;
                }
            }
        }
        return out;
    }

    template <class T>
    void check(const FamilyInfo& fi, uint32_t type, int group, bool blocks, int32_t step, uint32_t start,
               int32_t neighbour) {
        const auto data = noise(200 * 4, type * 977 + uint32_t(step));
        const MixRoutineEntry* e = &fi.table[group + type];
        ASSERT_NE(e->mixFrames, nullptr);
        MixArgs a = baseArgs(data, type, start, step);
        a.neighbour = neighbour;
        const bool stereoOut = (fi.mode & MIX_STEREO) != 0;
        std::vector<T> out(frames * (stereoOut ? 2 : 1));
        a.dest = out.data();
        if (blocks) {
            ASSERT_EQ(frames % e->blockSize, 0u);
            e->mixBlocks(a);
        } else {
            e->mixFrames(a);
        }
        // The blocks of the integer families read 16-bit samples through the table.
        const bool blockForm = blocks && e->mixBlocks != e->mixFrames;
        const auto want = expected<T>(fi.family, type, data, start, step, blockForm, neighbour, group);
        EXPECT_EQ(a.dest, static_cast<void*>(out.data() + out.size()));
        EXPECT_EQ(a.position, 0x3a00 + int64_t(step) * frames);
        for (size_t i = 0; i < out.size(); ++i) {
            ASSERT_EQ(out[i], want[i]) << "type " << type << " group " << group << " blocks " << blocks
                                       << " step " << step << " value " << i;
        }
    }

    void checkFamily(const FamilyInfo& fi) {
        open(44100, fi.mode, 3);
        const bool interp = (fi.mode & MIX_INTERPOLATE) != 0;
        for (uint32_t type : sampleTypes) {
            for (int32_t step : {0x14c00, 0x8000, -0x11200}) {
                const uint32_t start = step < 0 ? 120 : 4;
                for (bool blocks : {false, true}) {
                    if (mixer.integerMixing) {
                        check<int32_t>(fi, type, MIX_GROUP_GENERAL, blocks, step, start, 1);
                    } else {
                        check<float>(fi, type, MIX_GROUP_GENERAL, blocks, step, start, 1);
                    }
                }
                if (interp) {
                    // The single-frame routine honours other neighbour offsets.
                    check<float>(fi, type, MIX_GROUP_GENERAL, false, step, start, 0);
                    check<float>(fi, type, MIX_GROUP_GENERAL, false, step, start, -3);
                }
            }
        }
    }
};

TEST_F(MixRoutines, MonoIntegerFamilyMatchesItsFormulas) {
    checkFamily(families[0]);
}
TEST_F(MixRoutines, StereoIntegerFamilyMatchesItsFormulas) {
    checkFamily(families[1]);
}
TEST_F(MixRoutines, MonoFloatFamilyMatchesItsFormulas) {
    checkFamily(families[2]);
}
TEST_F(MixRoutines, StereoFloatFamilyMatchesItsFormulas) {
    checkFamily(families[3]);
}
TEST_F(MixRoutines, MonoInterpolatingFamilyMatchesItsFormulas) {
    checkFamily(families[4]);
}
TEST_F(MixRoutines, StereoInterpolatingFamilyMatchesItsFormulas) {
    checkFamily(families[5]);
}

TEST_F(MixRoutines, StereoIntegerCentreAndSurroundGroupsMatchTheirFormulas) {
    open(44100, MIX_STEREO | MIX_INTEGER, 3);
    for (uint32_t type : {SMP_8BIT_MONO, SMP_16BIT_MONO, SMP_16BIT_STEREO, SMP_ULAW_MONO}) {
        for (bool blocks : {false, true})
            check<int32_t>(families[1], type, MIX_GROUP_CENTRE, blocks, 0x14c00, 4, 1);
    }
    for (uint32_t type : sampleTypes) {
        for (bool blocks : {false, true})
            check<int32_t>(families[1], type, MIX_GROUP_SURROUND, blocks, 0x14c00, 4, 1);
    }
}

// With both sides at one volume, as at panning 0 and 128, the shared groups
// give the general group's sums (surround with the right side negated).
TEST_F(MixRoutines, StereoIntegerCentreAndSurroundAgreeWithTheGeneralGroup) {
    open(44100, MIX_STEREO | MIX_INTEGER, 3);
    const auto data = noise(800, 99);
    for (uint32_t type : sampleTypes) {
        for (int group : {MIX_GROUP_CENTRE, MIX_GROUP_SURROUND}) {
            const MixRoutineEntry* shared =
                pickMixRoutine(mixTableStereoInteger, type, group == MIX_GROUP_CENTRE ? 0 : 128);
            const MixRoutineEntry* general = &mixTableStereoInteger[type];
            for (bool blocks : {false, true}) {
                MixArgs g = baseArgs(data, type, 4, 0x14c00);
                g.rightTable = g.leftTable;
                g.rightUlawTable = g.leftUlawTable;
                g.rightMultiplier = group == MIX_GROUP_CENTRE ? g.leftMultiplier : -g.leftMultiplier;
                MixArgs s = g;
                std::vector<int32_t> outG(2 * frames), outS(2 * frames);
                g.dest = outG.data();
                s.dest = outS.data();
                (blocks ? general->mixBlocks : general->mixFrames)(g);
                (blocks ? shared->mixBlocks : shared->mixFrames)(s);
                const bool tableForm =
                    !isSixteen(type) || (blocks && general->mixBlocks != general->mixFrames);
                for (uint32_t i = 0; i < frames; ++i) {
                    ASSERT_EQ(outS[2 * i], outG[2 * i]) << type << " " << group;
                    const int32_t r =
                        group == MIX_GROUP_SURROUND && tableForm ? -outG[2 * i + 1] : outG[2 * i + 1];
                    ASSERT_EQ(outS[2 * i + 1], r) << type << " " << group << " " << blocks;
                }
            }
        }
    }
}

TEST_F(MixRoutines, PickFallsBackToTheGeneralGroup) {
    EXPECT_EQ(pickMixRoutine(mixTableStereoInteger, SMP_8BIT_STEREO, 0),
              &mixTableStereoInteger[SMP_8BIT_STEREO]);
    EXPECT_EQ(pickMixRoutine(mixTableStereoInteger, SMP_8BIT_MONO, 0),
              &mixTableStereoInteger[MIX_GROUP_CENTRE + SMP_8BIT_MONO]);
    EXPECT_EQ(pickMixRoutine(mixTableStereoInteger, SMP_8BIT_STEREO, 128),
              &mixTableStereoInteger[MIX_GROUP_SURROUND + SMP_8BIT_STEREO]);
    EXPECT_EQ(pickMixRoutine(mixTableStereoFloat, SMP_16BIT_MONO, 128), &mixTableStereoFloat[SMP_16BIT_MONO]);
    EXPECT_EQ(pickMixRoutine(mixTableStereoFloat, 5, 0), nullptr);
    EXPECT_EQ(pickMixRoutine(mixTableStereoFloat, 0, 0), nullptr);
    EXPECT_EQ(pickMixRoutine(mixTableStereoFloat, 200, 0), nullptr);
}

// The 16-bit table form of the block routines agrees with the multiplier
// form within rounding when the multiplier matches the row's level.
TEST_F(MixRoutines, SixteenBitTableFormAgreesWithTheMultiplierForm) {
    open(44100, MIX_MONO | MIX_INTEGER, 1);
    const int32_t* row = mixer.volumeTable + 32 * 256;
    for (int s = -32768; s < 32768; s += 37) {
        const uint8_t p[2] = {uint8_t(s & 255), uint8_t((s >> 8) & 255)};
        const int32_t viaTable = tableSample16(row, p);
        const int32_t viaMul = int32_t((int64_t(s) * 256) >> 8); // level 32 at A 64, N 1: multiplier 256
        if (s <= 0x7f7f) {
            EXPECT_NEAR(viaTable, viaMul, 2) << s;
        } else {
            EXPECT_EQ(viaTable, (row[255] >> 8) + row[255]) << s; // saturated, never wrapped
        }
    }
    const uint8_t peak[2] = {0xff, 0x7f};
    EXPECT_GT(tableSample16(row, peak), 32500);
}

// The cubic families' curve goes through the stored points, follows a straight line exactly
// where the points lie on one, and keeps its reads inside the sample's data at both ends.
TEST_F(MixRoutines, CubicCurvePassesThroughThePointsAndFollowsAStraightLine) {
    for (const uint32_t mode : {MIX_MONO | MIX_CUBIC, MIX_STEREO | MIX_CUBIC}) {
        open(44100, mode, 1);
        const MixRoutineEntry* cubic = mixer.routineTable;
        ASSERT_TRUE(cubic == mixTableMonoCubic || cubic == mixTableStereoCubic);
        const bool stereoOut = (mode & MIX_STEREO) != 0;
        // A 16-bit ramp: 1000 per frame, and a 16-bit zigzag.
        std::vector<uint8_t> ramp(64 * 2), zigzag(64 * 2);
        for (int i = 0; i < 64; ++i) {
            const int16_t r = int16_t(i * 1000 - 20000), z = int16_t(i % 2 ? 9000 : -9000);
            ramp[2 * i] = uint8_t(r & 255), ramp[2 * i + 1] = uint8_t((r >> 8) & 255);
            zigzag[2 * i] = uint8_t(z & 255), zigzag[2 * i + 1] = uint8_t((z >> 8) & 255);
        }
        const auto run = [&](const std::vector<uint8_t>& data, uint32_t startFrame, int32_t step, int32_t neighbour,
                             bool blocks) {
            MixArgs a = baseArgs(data, SMP_16BIT_MONO, startFrame, step);
            a.position = 0;
            a.neighbour = neighbour;
            a.first = data.data();
            a.end = data.data() + data.size();
            std::vector<float> out(frames * (stereoOut ? 2 : 1), 0.0f);
            a.dest = out.data();
            (blocks ? cubic[SMP_16BIT_MONO].mixBlocks : cubic[SMP_16BIT_MONO].mixFrames)(a);
            std::vector<float> side;
            for (size_t i = 0; i < out.size(); i += stereoOut ? 2 : 1)
                side.push_back(out[i] / leftFac);
            return side;
        };
        // Whole steps land on the points themselves.
        const std::vector<float> onPoints = run(zigzag, 4, 0x10000, 1, true);
        for (uint32_t i = 0; i < frames; ++i)
            EXPECT_NEAR(onPoints[i], s16(zigzag.data() + 2 * (4 + i)), 0.02) << i;
        // Quarter steps along the ramp: the straight line between the points.
        const std::vector<float> quarter = run(ramp, 10, 0x4000, 1, false);
        for (uint32_t i = 0; i < frames; ++i)
            EXPECT_NEAR(quarter[i], -20000.0 + (10 + i * 0.25) * 1000.0, 0.05) << i;
        // Halfway between two points the curve weighs them 9/16 each and the outer two -1/16:
        // on the zigzag that is 0, and before a step it dips below the flat part, where a line
        // would not.
        const std::vector<float> between = run(zigzag, 4, 0x8000, 1, false);
        EXPECT_NEAR(between[1], 0.0, 1e-3);
        std::vector<uint8_t> step(64 * 2, 0);
        for (int i = 20; i < 64; ++i)
            step[2 * i + 1] = 0x27; // 9984 from frame 20 on
        const std::vector<float> dip = run(step, 18, 0x8000, 1, false);
        EXPECT_NEAR(dip[1], -9984.0 / 16, 0.05); // halfway from frame 18 to 19
        EXPECT_NEAR(dip[3], 9984.0 / 2, 0.05);   // halfway up the step
        // At the data's first frame the frame before is the frame itself; at the last, with no
        // partner (neighbour 0), the frame stands still.
        const std::vector<float> atStart = run(ramp, 0, 0x8000, 1, false);
        EXPECT_NEAR(atStart[1], -20000.0 + 0.5 * 1000.0 - 62.5, 0.05); // the curve bends toward the flat start
        const std::vector<float> atEnd = run(ramp, 63, 0x100, 0, false);
        EXPECT_NEAR(atEnd[0], s16(ramp.data() + 126), 0.05);
        mixerClose();
    }
}

} // namespace
