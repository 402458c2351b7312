#include "tools/mksong/synth.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double maxSeconds = 8.0;

// Band-limiting correction around a waveform step (polynomial BLEP), so that
// saws and pulses do not alias into whistles when played high.
double polyBlep(double t, double dt) {
    if (dt <= 0) return 0;
    if (t < dt) {
        t /= dt;
        return t + t - t * t - 1.0;
    }
    if (t > 1.0 - dt) {
        t = (t - 1.0) / dt;
        return t * t + t + t + 1.0;
    }
    return 0;
}

double oscillatorValue(const SynthOscillator& o, double phase, double dt) {
    switch (o.wave) {
    case waveSine: return std::sin(2 * pi * phase);
    case waveSaw: return 2 * phase - 1 - polyBlep(phase, dt);
    case waveSquare: {
        double v = phase < o.width ? 1.0 : -1.0;
        v += polyBlep(phase, dt);
        v -= polyBlep(std::fmod(phase + 1.0 - o.width, 1.0), dt);
        return v;
    }
    case waveTriangle: return 4 * std::fabs(phase - 0.5) - 1;
    }
    return 0;
}

uint32_t nextRandom(uint32_t& state) {
    // xorshift32: small, fast and the same on every machine
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

double noiseValue(uint32_t& state) {
    return (nextRandom(state) >> 8) / double(1 << 23) - 1.0;
}

// Topology-preserving state-variable filter: stays stable while its cutoff moves.
struct Svf {
    double ic1 = 0, ic2 = 0;
    double run(SynthFilter type, double in, double cutoff, double rate, double q) {
        double fc = std::clamp(cutoff, 10.0, rate * 0.45);
        double g = std::tan(pi * fc / rate);
        double k = 1.0 / std::max(q, 0.1);
        double a1 = 1.0 / (1.0 + g * (g + k));
        double a2 = g * a1, a3 = g * a2;
        double v3 = in - ic2;
        double v1 = a1 * ic1 + a2 * v3;
        double v2 = ic2 + a2 * ic1 + a3 * v3;
        ic1 = 2 * v1 - ic1;
        ic2 = 2 * v2 - ic2;
        switch (type) {
        case filterLowpass: return v2;
        case filterHighpass: return in - k * v1 - v2;
        case filterBandpass: return v1;
        case filterNone: break;
        }
        return in;
    }
};

} // namespace

double noteFrequency(double note) {
    return 440.0 * std::pow(2.0, (note - 57.0) / 12.0);
}

bool synthesise(const SynthSpec& spec, SynthResult& result, std::string& message) {
    if (spec.rate < 4000 || spec.rate > 96000) {
        message = "sample rate must be 4000..96000 Hz";
        return false;
    }
    if (spec.base_note < 0 || spec.base_note > 95) {
        message = "base note out of range";
        return false;
    }
    if (spec.length < 0 || spec.loop < 0 || spec.length + spec.loop > maxSeconds ||
        spec.length + spec.loop <= 0.001) {
        message = "sample length must be above 1 ms and at most 8 seconds";
        return false;
    }
    if (spec.oscillators.empty() && spec.noise <= 0) {
        message = "an instrument needs an oscillator or noise";
        return false;
    }
    const double rate = spec.rate;
    const double base = noteFrequency(spec.base_note);
    const bool looped = spec.loop > 0;

    // A loop holds a whole number of base cycles, and every oscillator a whole
    // number of its own cycles, so the loop joins without a click.
    uint32_t attackFrames = static_cast<uint32_t>(std::lround(spec.length * rate));
    uint32_t loopFrames = 0;
    double cyclesPerLoop = 0;
    double actualBase = base;
    if (looped) {
        cyclesPerLoop = std::max(1.0, std::round(spec.loop * base));
        loopFrames = static_cast<uint32_t>(std::lround(cyclesPerLoop * rate / base));
        if (loopFrames < 2) {
            message = "loop too short";
            return false;
        }
        actualBase = cyclesPerLoop * rate / loopFrames;
    }

    std::vector<double> increments;
    for (const auto& o : spec.oscillators) {
        double f = base * o.ratio * std::pow(2.0, o.cents / 1200.0);
        if (looped) f = std::max(1.0, std::round(cyclesPerLoop * f / base)) * rate / loopFrames;
        increments.push_back(f / rate);
    }

    // Render the loop twice and keep the second pass, so that the filter has
    // settled into the loop's own steady state where the loop joins.
    uint32_t total = attackFrames + 2 * loopFrames;
    std::vector<double> out(total);
    std::vector<double> phases(spec.oscillators.size(), 0.0);
    std::vector<double> loopNoise(loopFrames);
    uint32_t rng = spec.seed ? spec.seed : 1;
    for (double& n : loopNoise)
        n = noiseValue(rng);
    Svf filter;
    for (uint32_t i = 0; i < total; ++i) {
        bool inLoop = looped && i >= attackFrames;
        double t = double(i) / rate;
        double sweep = 1.0;
        if (!inLoop && spec.pitch_time > 0)
            sweep = 1.0 + (spec.pitch_from - 1.0) * std::exp(-t / spec.pitch_time);
        double v = 0;
        for (size_t k = 0; k < spec.oscillators.size(); ++k) {
            double dt = increments[k] * sweep;
            v += spec.oscillators[k].level * oscillatorValue(spec.oscillators[k], phases[k], dt);
            phases[k] += dt;
            phases[k] -= std::floor(phases[k]);
        }
        if (spec.noise > 0)
            // a looped sound repeats its noise from the start too, so the attack runs into
            // the loop with the same history the loop's own end has
            v += spec.noise *
                 (looped ? loopNoise[(i % loopFrames + loopFrames - attackFrames % loopFrames) % loopFrames]
                         : noiseValue(rng));
        if (spec.filter != filterNone) {
            double fc = spec.cutoff;
            if (spec.cutoff_to > 0) {
                double tt = inLoop ? 1e9 : t;
                fc =
                    spec.cutoff_to * std::pow(spec.cutoff / spec.cutoff_to, std::exp(-tt / spec.cutoff_time));
            }
            v = filter.run(spec.filter, v, fc, rate, spec.resonance);
        }
        double level = spec.sustain;
        if (!inLoop) {
            if (spec.attack > 0 && t < spec.attack)
                level = t / spec.attack;
            else if (spec.decay > 0)
                level = spec.sustain + (1.0 - spec.sustain) * std::exp(-(t - spec.attack) / spec.decay);
        }
        v *= level;
        if (spec.drive > 0) v = std::tanh(spec.drive * v) / std::tanh(spec.drive);
        out[i] = v;
    }
    if (looped)
        out.erase(out.begin() + attackFrames, out.begin() + attackFrames + loopFrames);
    else {
        // a short fade at the end so a one-shot never stops on a step
        uint32_t fade = std::min<uint32_t>(static_cast<uint32_t>(rate * 0.004), total);
        for (uint32_t i = 0; i < fade; ++i)
            out[total - 1 - i] *= double(i) / fade;
    }

    double peak = 0;
    for (double v : out)
        peak = std::max(peak, std::fabs(v));
    if (peak < 1e-9) {
        message = "the instrument renders as silence";
        return false;
    }
    if (!std::isfinite(peak)) {
        message = "the instrument's levels are too large to render";
        return false;
    }
    result.frames.resize(out.size());
    for (size_t i = 0; i < out.size(); ++i)
        result.frames[i] = static_cast<int16_t>(std::lround(out[i] / peak * 31000.0));
    result.loop_start = looped ? attackFrames : 0;
    result.loop_length = loopFrames;

    // Tuning: playing base_note must give the base pitch. The player plays
    // C-4 (note 48) at 8363 Hz; every semitone is 128 finetune steps.
    double semitones = 12.0 * std::log2(rate * base / actualBase / 8363.0) + 48.0 - spec.base_note;
    long whole = std::lround(semitones);
    long fine = std::lround((semitones - whole) * 128.0);
    if (whole < -96 || whole > 96) {
        message = "sample rate and base note give a tuning out of range";
        return false;
    }
    result.relative_note = static_cast<int8_t>(whole);
    result.finetune = static_cast<int8_t>(std::clamp(fine, -128L, 127L));
    return true;
}
