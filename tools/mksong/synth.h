// Instrument synthesis for the song compiler: oscillators, noise, a pitch
// sweep, one resonant filter with a cutoff sweep, an amplitude shape and soft
// drive, rendered into one 16-bit sample, looped or one-shot.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum SynthWave : uint8_t { waveSine, waveSaw, waveSquare, waveTriangle };
enum SynthFilter : uint8_t { filterNone, filterLowpass, filterHighpass, filterBandpass };

struct SynthOscillator {
    SynthWave wave = waveSaw;
    double level = 1.0;
    double ratio = 1.0; // frequency multiple of the base pitch
    double cents = 0.0; // detune
    double width = 0.5; // pulse width of the square
};

struct SynthSpec {
    double rate = 33452.0; // sample rate the sample is rendered at
    int base_note = 48;    // note (0 = C-0, 48 = C-4) whose pitch the sample holds
    double length = 0.5;   // seconds: the whole sample when one-shot, the part before the loop otherwise
    double loop = 0.0;     // seconds of loop after that part, 0 = one-shot
    std::vector<SynthOscillator> oscillators;
    double noise = 0.0; // white noise level
    uint32_t seed = 1;
    double pitch_from = 1.0; // start of the pitch sweep, as a multiple of the pitch
    double pitch_time = 0.0; // its time constant in seconds
    SynthFilter filter = filterNone;
    double cutoff = 1000.0;   // Hz at the start
    double cutoff_to = 0.0;   // Hz it sweeps to (0 = no sweep)
    double cutoff_time = 0.1; // time constant of the sweep
    double resonance = 0.7;   // filter Q
    double attack = 0.0;      // seconds, linear rise
    double decay = 0.0;       // time constant of the fall to the sustain level, 0 = none
    double sustain = 1.0;     // level after the decay
    double drive = 0.0;       // soft saturation amount, 0 = clean
};

struct SynthResult {
    std::vector<int16_t> frames;
    uint32_t loop_start = 0;
    uint32_t loop_length = 0; // 0 = one-shot
    int8_t relative_note = 0; // tuning that makes base_note play the intended pitch
    int8_t finetune = 0;
};

// Renders the instrument; returns false (and why) when the description cannot be rendered.
bool synthesise(const SynthSpec& spec, SynthResult& result, std::string& message);

// Frequency in Hz of a note number (0 = C-0, 57 = A-4 = 440 Hz).
double noteFrequency(double note);
