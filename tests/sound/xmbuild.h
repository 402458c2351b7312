// Builds small Extended Module files in memory for the loader tests.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace xmbuild {

struct SampleSpec {
    std::vector<std::uint8_t> data; // delta-coded, as stored in the file
    std::int64_t length = -1;       // header length; -1 = data size
    std::uint32_t loopStart = 0;
    std::uint32_t loopLength = 0;
    std::uint8_t volume = 64;
    std::int8_t finetune = 0;
    std::uint8_t type = 0; // loop bits 0..1, bit 4 = 16-bit
    std::uint8_t panning = 128;
    std::int8_t relativeNote = 0;
    std::string name = "sample";
};

struct EnvelopeSpec {
    std::uint8_t type = 0; // bit 0 on, bit 1 sustain, bit 2 loop
    std::uint8_t points = 0;
    std::uint8_t sustain = 0, loopStart = 0, loopEnd = 0;
    std::array<std::uint16_t, 24> xy{}; // x0, y0, x1, y1, ...
};

struct InstrumentSpec {
    std::string name = "instrument";
    std::vector<SampleSpec> samples;
    std::array<std::uint8_t, 96> noteMap{};
    EnvelopeSpec volume, panning;
    std::uint8_t vibratoWaveform = 0, vibratoSweep = 0, vibratoDepth = 0, vibratoRate = 0;
    std::uint16_t fadeout = 0;
    std::uint32_t sampleHeaderSize = 40;
    std::int64_t headerSize = -1; // -1 = 243 with samples, 29 without
};

struct PatternSpec {
    int rows = 64;
    std::vector<std::uint8_t> packed; // empty = packed size 0
};

struct ModuleSpec {
    std::string name = "test song";
    std::uint16_t version = 0x0104;
    std::uint32_t headerSize = 276;
    int songLength = -1; // -1 = orders.size()
    std::uint16_t restart = 0;
    std::uint16_t channels = 4;
    std::uint16_t flags = 1;
    std::uint16_t speed = 6, tempo = 125;
    std::vector<std::uint8_t> orders = {0};
    int patternCount = -1;    // -1 = patterns.size()
    int instrumentCount = -1; // -1 = instruments.size()
    std::vector<PatternSpec> patterns = {PatternSpec{}};
    std::vector<InstrumentSpec> instruments;
};

inline void put16(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
    out[at] = static_cast<std::uint8_t>(v);
    out[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

inline void put32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
    put16(out, at, v & 0xffff);
    put16(out, at + 2, v >> 16);
}

inline void putText(std::vector<std::uint8_t>& out, std::size_t at, const std::string& text,
                    std::size_t size) {
    for (std::size_t k = 0; k < size && k < text.size(); k++)
        out[at + k] = static_cast<std::uint8_t>(text[k]);
}

inline std::vector<std::uint8_t> build(const ModuleSpec& spec) {
    std::vector<std::uint8_t> out(60 + spec.headerSize, 0);
    putText(out, 0, "Extended Module: ", 17);
    putText(out, 17, spec.name, 20);
    out[37] = 0x1a;
    putText(out, 38, "test tracker", 20);
    put16(out, 58, spec.version);
    put32(out, 60, spec.headerSize);
    put16(out, 64, static_cast<std::uint32_t>(spec.songLength < 0 ? spec.orders.size() : spec.songLength));
    put16(out, 66, spec.restart);
    put16(out, 68, spec.channels);
    put16(out, 70,
          static_cast<std::uint32_t>(spec.patternCount < 0 ? spec.patterns.size() : spec.patternCount));
    put16(out, 72,
          static_cast<std::uint32_t>(spec.instrumentCount < 0 ? spec.instruments.size()
                                                              : spec.instrumentCount));
    put16(out, 74, spec.flags);
    put16(out, 76, spec.speed);
    put16(out, 78, spec.tempo);
    for (std::size_t k = 0; k < spec.orders.size() && k < 256 && 80 + k < out.size(); k++)
        out[80 + k] = spec.orders[k];

    for (const PatternSpec& pattern : spec.patterns) {
        std::size_t at = out.size();
        out.resize(at + 9, 0);
        put32(out, at, 9);
        put16(out, at + 5, static_cast<std::uint32_t>(pattern.rows));
        put16(out, at + 7, static_cast<std::uint32_t>(pattern.packed.size()));
        out.insert(out.end(), pattern.packed.begin(), pattern.packed.end());
    }

    for (const InstrumentSpec& instrument : spec.instruments) {
        std::size_t at = out.size();
        bool hasSamples = !instrument.samples.empty();
        std::size_t headerSize = instrument.headerSize >= 0 ? static_cast<std::size_t>(instrument.headerSize)
                                 : hasSamples               ? 243
                                                            : 29;
        out.resize(at + std::max<std::size_t>(headerSize, hasSamples ? 243 : 29), 0);
        put32(out, at, static_cast<std::uint32_t>(headerSize));
        putText(out, at + 4, instrument.name, 22);
        put16(out, at + 27, static_cast<std::uint32_t>(instrument.samples.size()));
        if (hasSamples) {
            std::size_t b = at + 29;
            put32(out, b, instrument.sampleHeaderSize);
            for (int n = 0; n < 96; n++)
                out[b + 4 + n] = instrument.noteMap[n];
            for (int k = 0; k < 24; k++) {
                put16(out, b + 100 + 2 * k, instrument.volume.xy[k]);
                put16(out, b + 148 + 2 * k, instrument.panning.xy[k]);
            }
            out[b + 196] = instrument.volume.points;
            out[b + 197] = instrument.panning.points;
            out[b + 198] = instrument.volume.sustain;
            out[b + 199] = instrument.volume.loopStart;
            out[b + 200] = instrument.volume.loopEnd;
            out[b + 201] = instrument.panning.sustain;
            out[b + 202] = instrument.panning.loopStart;
            out[b + 203] = instrument.panning.loopEnd;
            out[b + 204] = instrument.volume.type;
            out[b + 205] = instrument.panning.type;
            out[b + 206] = instrument.vibratoWaveform;
            out[b + 207] = instrument.vibratoSweep;
            out[b + 208] = instrument.vibratoDepth;
            out[b + 209] = instrument.vibratoRate;
            put16(out, b + 210, instrument.fadeout);
        }
        out.resize(at + headerSize);
        for (const SampleSpec& sample : instrument.samples) {
            std::size_t s = out.size();
            out.resize(s + std::max<std::size_t>(instrument.sampleHeaderSize, 40), 0);
            put32(out, s,
                  static_cast<std::uint32_t>(sample.length >= 0 ? sample.length : sample.data.size()));
            put32(out, s + 4, sample.loopStart);
            put32(out, s + 8, sample.loopLength);
            out[s + 12] = sample.volume;
            out[s + 13] = static_cast<std::uint8_t>(sample.finetune);
            out[s + 14] = sample.type;
            out[s + 15] = sample.panning;
            out[s + 16] = static_cast<std::uint8_t>(sample.relativeNote);
            putText(out, s + 18, sample.name, 22);
            out.resize(s + instrument.sampleHeaderSize);
        }
        for (const SampleSpec& sample : instrument.samples)
            out.insert(out.end(), sample.data.begin(), sample.data.end());
    }
    return out;
}

// A looped 8-bit square wave of 64 samples (+60 and -60), loud enough to hear in a rendering.
inline SampleSpec squareWave() {
    SampleSpec sample;
    sample.data.assign(64, 0);
    sample.data[0] = 60;   // delta coded: +60 ...
    sample.data[32] = 136; // ... then -120
    sample.loopLength = 64;
    sample.type = 1;
    return sample;
}

// One unpacked channel entry: note, instrument, volume, effect, parameter.
inline void full(std::vector<std::uint8_t>& packed, std::uint8_t note, std::uint8_t instrument,
                 std::uint8_t volume, std::uint8_t effect, std::uint8_t parameter) {
    packed.insert(packed.end(), {note, instrument, volume, effect, parameter});
}

// An empty channel entry (packed form, nothing follows).
inline void empty(std::vector<std::uint8_t>& packed) {
    packed.push_back(0x80);
}

// A pattern of rows x channels empty entries, with one full entry at (row, channel).
inline PatternSpec oneEntry(int rows, int channels, int row, int channel, std::uint8_t note,
                            std::uint8_t instrument, std::uint8_t volume, std::uint8_t effect,
                            std::uint8_t parameter) {
    PatternSpec pattern;
    pattern.rows = rows;
    for (int r = 0; r < rows; r++)
        for (int c = 0; c < channels; c++)
            if (r == row && c == channel)
                full(pattern.packed, note, instrument, volume, effect, parameter);
            else
                empty(pattern.packed);
    return pattern;
}

} // namespace xmbuild
