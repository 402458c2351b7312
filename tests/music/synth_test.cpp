// Instrument synthesis: loops that join, tuning that the player's linear
// frequency table turns into the intended pitch, and refused descriptions.
#include "tools/mksong/synth.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

SynthSpec sineSpec() {
    SynthSpec s;
    s.oscillators.push_back({waveSine, 1.0});
    s.length = 0.05;
    s.loop = 0.25;
    return s;
}

// Playback rate the player gives a note on a linear-frequency module.
double linearRate(int note, const SynthResult& r) {
    int n = note + r.relative_note;
    int period = 7680 - n * 64 - r.finetune / 2;
    return 8363.0 * std::pow(2.0, (4608.0 - period) / 768.0);
}

// Cycles in a stretch of frames, counted at rising zero crossings.
int risingCrossings(const std::vector<int16_t>& f, size_t from, size_t to) {
    int n = 0;
    for (size_t i = from + 1; i < to; ++i)
        if (f[i - 1] < 0 && f[i] >= 0) ++n;
    return n;
}

TEST(Synth, LoopHoldsWholeCyclesAndJoinsWithoutAStep) {
    for (SynthWave w : {waveSine, waveSaw, waveSquare, waveTriangle}) {
        SynthSpec spec = sineSpec();
        spec.oscillators[0].wave = w;
        spec.oscillators.push_back({waveSaw, 0.5, 1.0, 7.0});
        spec.filter = filterLowpass;
        spec.cutoff = 2000;
        SynthResult r;
        std::string m;
        ASSERT_TRUE(synthesise(spec, r, m)) << m;
        ASSERT_GT(r.loop_length, 100u);
        ASSERT_EQ(r.loop_start + r.loop_length, r.frames.size());
        // the step from the loop's last frame back to its first is no larger than steps inside the loop
        int largest = 0;
        for (size_t i = r.loop_start + 1; i < r.frames.size(); ++i)
            largest = std::max(largest, std::abs(r.frames[i] - r.frames[i - 1]));
        int join = std::abs(r.frames[r.loop_start] - r.frames.back());
        EXPECT_LE(join, largest) << "waveform " << int(w);
        int entry = std::abs(r.frames[r.loop_start] - r.frames[r.loop_start - 1]);
        EXPECT_LE(entry, largest) << "attack into loop, waveform " << int(w);
    }
}

TEST(Synth, BreathNoiseRunsIntoTheLoopWithoutAClick) {
    SynthSpec spec = sineSpec();
    spec.noise = 0.4;
    spec.filter = filterLowpass;
    spec.cutoff = 1500;
    spec.attack = 0.02;
    SynthResult r;
    std::string m;
    ASSERT_TRUE(synthesise(spec, r, m)) << m;
    // steps inside the loop, sorted, against the two joins
    std::vector<int> steps;
    for (size_t i = r.loop_start + 1; i < r.frames.size(); ++i)
        steps.push_back(std::abs(r.frames[i] - r.frames[i - 1]));
    std::sort(steps.begin(), steps.end());
    int typical = steps[steps.size() * 99 / 100];
    EXPECT_LE(std::abs(r.frames[r.loop_start] - r.frames[r.loop_start - 1]), typical);
    EXPECT_LE(std::abs(r.frames[r.loop_start] - r.frames.back()), typical);
}

TEST(Synth, BaseNotePlaysItsPitchThroughTheLinearTable) {
    for (int base : {24, 48, 60}) {
        for (double rate : {33452.0, 22050.0, 44100.0}) {
            SynthSpec spec = sineSpec();
            spec.base_note = base;
            spec.rate = rate;
            SynthResult r;
            std::string m;
            ASSERT_TRUE(synthesise(spec, r, m)) << m;
            int cycles = risingCrossings(r.frames, r.loop_start, r.frames.size());
            double recorded = cycles * rate / r.loop_length;
            double played = recorded * linearRate(base, r) / rate;
            double cents = 1200.0 * std::log2(played / noteFrequency(base));
            EXPECT_NEAR(cents, 0.0, 3.0) << "base " << base << " rate " << rate;
        }
    }
}

TEST(Synth, NoteFrequencyFollowsEqualTemperamentFromA440) {
    EXPECT_DOUBLE_EQ(noteFrequency(57), 440.0);
    EXPECT_NEAR(noteFrequency(48), 261.6256, 1e-3);
    EXPECT_NEAR(noteFrequency(69), 880.0, 1e-9);
}

TEST(Synth, OneShotDecaysAndEndsAtSilence) {
    SynthSpec spec;
    spec.oscillators.push_back({waveSine, 1.0, 0.25});
    spec.pitch_from = 4;
    spec.pitch_time = 0.02;
    spec.decay = 0.05;
    spec.sustain = 0;
    spec.length = 0.4;
    SynthResult r;
    std::string m;
    ASSERT_TRUE(synthesise(spec, r, m)) << m;
    EXPECT_EQ(r.loop_length, 0u);
    EXPECT_EQ(r.frames.size(), size_t(std::lround(0.4 * spec.rate)));
    EXPECT_EQ(r.frames.back(), 0);
    int early = 0, late = 0;
    for (size_t i = 0; i < 2000; ++i)
        early = std::max(early, std::abs(int(r.frames[i])));
    for (size_t i = r.frames.size() - 2000; i < r.frames.size(); ++i)
        late = std::max(late, std::abs(int(r.frames[i])));
    EXPECT_GT(early, 20000) << "normalised near full scale";
    EXPECT_LT(late, early / 50) << "decayed by the end";
}

TEST(Synth, SameDescriptionGivesSameFramesAndSeedChangesNoise) {
    SynthSpec spec;
    spec.noise = 1;
    spec.filter = filterHighpass;
    spec.cutoff = 5000;
    spec.length = 0.1;
    SynthResult a, b, c;
    std::string m;
    ASSERT_TRUE(synthesise(spec, a, m));
    ASSERT_TRUE(synthesise(spec, b, m));
    spec.seed = 99;
    ASSERT_TRUE(synthesise(spec, c, m));
    EXPECT_EQ(a.frames, b.frames);
    EXPECT_NE(a.frames, c.frames);
}

TEST(Synth, FilterSweepDarkensTheSound) {
    SynthSpec spec;
    spec.oscillators.push_back({waveSaw, 1.0});
    spec.filter = filterLowpass;
    spec.cutoff = 8000;
    spec.cutoff_to = 300;
    spec.cutoff_time = 0.05;
    spec.length = 0.6;
    SynthResult r;
    std::string m;
    ASSERT_TRUE(synthesise(spec, r, m));
    // brightness: energy of the differences between neighbours against the energy of the signal
    auto brightness = [&](size_t from) {
        double diff = 0, level = 0;
        for (size_t i = from + 1; i < from + 1000; ++i) {
            double d = r.frames[i] - r.frames[i - 1];
            diff += d * d;
            level += double(r.frames[i]) * r.frames[i];
        }
        return diff / level;
    };
    EXPECT_GT(brightness(100), 5 * brightness(r.frames.size() - 2000));
}

TEST(Synth, RefusesDescriptionsItCannotRender) {
    SynthResult r;
    std::string m;
    SynthSpec none;
    none.oscillators.clear();
    EXPECT_FALSE(synthesise(none, r, m));
    EXPECT_NE(m.find("oscillator"), std::string::npos);
    SynthSpec tooLong = sineSpec();
    tooLong.length = 7;
    tooLong.loop = 2;
    EXPECT_FALSE(synthesise(tooLong, r, m));
    SynthSpec silent = sineSpec();
    silent.oscillators[0].level = 0;
    EXPECT_FALSE(synthesise(silent, r, m));
    SynthSpec badRate = sineSpec();
    badRate.rate = 100;
    EXPECT_FALSE(synthesise(badRate, r, m));
    // levels so large that the sum overflows would leave only undefined frames
    SynthSpec overflowing = sineSpec();
    overflowing.oscillators[0].level = 1e308;
    overflowing.oscillators.push_back(overflowing.oscillators[0]);
    overflowing.oscillators.back().ratio = 1.5;
    m.clear();
    EXPECT_FALSE(synthesise(overflowing, r, m));
    EXPECT_FALSE(m.empty());
}

} // namespace
