#include "sound/formats/formats.h"
#include "sound/formats/loadit.h"

#include "loader_fixture.h"
#include "xmbuild.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace loadertest;

namespace {

struct ItSampleSpec {
    std::string name = "sample";
    std::uint8_t flags = 0x01, convert = 0x01; // has data; signed
    std::vector<std::uint8_t> data;           // as stored
    std::int64_t length = -1;                 // frames; -1 = from the data
    std::uint32_t loopStart = 0, loopEnd = 0, sustainStart = 0, sustainEnd = 0;
    std::uint8_t volume = 64;
    std::uint32_t rate = 8363;
};

struct ItEnvelopeSpec {
    std::uint8_t flags = 0, count = 0, loopStart = 0, loopEnd = 0, sustainStart = 0, sustainEnd = 0;
    std::vector<std::pair<std::int8_t, std::uint16_t>> points; // value, tick
};

struct ItInstrumentSpec {
    std::string name = "instrument";
    std::array<std::pair<std::uint8_t, std::uint8_t>, 120> keyboard; // note to play, sample (from 1)
    std::uint16_t fadeout = 0;
    std::array<std::uint8_t, 11> bytes{}; // header bytes 17..27 of the newer layout, as stored
    std::uint8_t cutoff = 0, resonance = 0; // the newer layout's initial filter, bit 7 = set
    ItEnvelopeSpec volume, panning, pitch;
    ItInstrumentSpec() {
        for (int j = 0; j < 120; j++)
            keyboard[static_cast<std::size_t>(j)] = {static_cast<std::uint8_t>(j), 1};
    }
};

struct ItPatternSpec {
    int rows = 64;
    std::vector<std::uint8_t> packed; // empty = offset 0
};

struct ItSpec {
    std::string name = "it song";
    std::vector<std::uint8_t> orders = {0, 255};
    std::uint16_t flags = 0x0d, compatible = 0x214;
    std::uint8_t globalVolume = 128, speed = 6, tempo = 125;
    std::array<std::uint8_t, 64> panning, channelVolume;
    std::vector<ItPatternSpec> patterns = {ItPatternSpec{}};
    std::vector<ItInstrumentSpec> instruments;
    std::vector<ItSampleSpec> samples;
    ItSpec() {
        panning.fill(0xa0);
        std::fill(panning.begin(), panning.begin() + 4, std::uint8_t{32});
        channelVolume.fill(64);
    }
};

using xmbuild::put16;
using xmbuild::put32;

void putEnvelope(std::vector<std::uint8_t>& f, std::size_t at, const ItEnvelopeSpec& e) {
    std::array<std::uint8_t, 6> head = {e.flags, e.count, e.loopStart, e.loopEnd, e.sustainStart, e.sustainEnd};
    std::copy(head.begin(), head.end(), f.begin() + static_cast<long>(at));
    for (std::size_t i = 0; i < e.points.size(); i++) {
        f[at + 6 + 3 * i] = static_cast<std::uint8_t>(e.points[i].first);
        put16(f, at + 7 + 3 * i, e.points[i].second);
    }
}

std::vector<std::uint8_t> build(const ItSpec& spec) {
    std::vector<std::uint8_t> f(192, 0);
    std::memcpy(f.data(), "IMPM", 4);
    std::memcpy(&f[4], spec.name.data(), std::min<std::size_t>(spec.name.size(), 26));
    std::size_t ins = spec.instruments.size(), smp = spec.samples.size(), pat = spec.patterns.size();
    put16(f, 32, static_cast<std::uint32_t>(spec.orders.size()));
    put16(f, 34, static_cast<std::uint32_t>(ins));
    put16(f, 36, static_cast<std::uint32_t>(smp));
    put16(f, 38, static_cast<std::uint32_t>(pat));
    put16(f, 40, 0x214);
    put16(f, 42, spec.compatible);
    put16(f, 44, spec.flags);
    f[48] = spec.globalVolume;
    f[50] = spec.speed;
    f[51] = spec.tempo;
    std::copy(spec.panning.begin(), spec.panning.end(), f.begin() + 64);
    std::copy(spec.channelVolume.begin(), spec.channelVolume.end(), f.begin() + 128);
    f.insert(f.end(), spec.orders.begin(), spec.orders.end());
    std::size_t offsets = f.size();
    f.resize(f.size() + 4 * (ins + smp + pat));
    bool newer = spec.compatible >= 0x200;
    for (std::size_t k = 0; k < ins; k++) {
        const ItInstrumentSpec& i = spec.instruments[k];
        std::size_t h = f.size();
        put32(f, offsets + 4 * k, static_cast<std::uint32_t>(h));
        f.resize(h + 554);
        std::memcpy(&f[h], "IMPI", 4);
        std::memcpy(&f[h + 32], i.name.data(), std::min<std::size_t>(i.name.size(), 26));
        for (std::size_t j = 0; j < 120; j++) {
            f[h + 64 + 2 * j] = i.keyboard[j].first;
            f[h + 65 + 2 * j] = i.keyboard[j].second;
        }
        if (newer) {
            std::copy(i.bytes.begin(), i.bytes.end(), f.begin() + static_cast<long>(h + 17));
            put16(f, h + 20, i.fadeout);
            f[h + 58] = i.cutoff;
            f[h + 59] = i.resonance;
            putEnvelope(f, h + 304, i.volume);
            putEnvelope(f, h + 386, i.panning);
            putEnvelope(f, h + 468, i.pitch);
        } else {
            std::array<std::uint8_t, 5> e = {i.volume.flags, i.volume.loopStart, i.volume.loopEnd,
                                             i.volume.sustainStart, i.volume.sustainEnd};
            std::copy(e.begin(), e.end(), f.begin() + static_cast<long>(h + 17));
            put16(f, h + 24, i.fadeout);
            f[h + 26] = i.bytes[0];
            f[h + 27] = i.bytes[1];
            std::fill(f.begin() + static_cast<long>(h + 504), f.begin() + static_cast<long>(h + 554), 0xff);
            for (std::size_t p = 0; p < i.volume.points.size(); p++) {
                f[h + 504 + 2 * p] = static_cast<std::uint8_t>(i.volume.points[p].second);
                f[h + 505 + 2 * p] = static_cast<std::uint8_t>(i.volume.points[p].first);
            }
        }
    }
    std::vector<std::size_t> headers;
    for (std::size_t k = 0; k < smp; k++) {
        const ItSampleSpec& s = spec.samples[k];
        std::size_t h = f.size();
        headers.push_back(h);
        put32(f, offsets + 4 * (ins + k), static_cast<std::uint32_t>(h));
        f.resize(h + 80);
        std::memcpy(&f[h], "IMPS", 4);
        f[h + 17] = 64;
        f[h + 18] = s.flags;
        f[h + 19] = s.volume;
        std::memcpy(&f[h + 20], s.name.data(), std::min<std::size_t>(s.name.size(), 26));
        f[h + 46] = s.convert;
        std::size_t frames = (s.flags & 0x02) ? s.data.size() / 2 : s.data.size();
        put32(f, h + 48, static_cast<std::uint32_t>(s.length >= 0 ? s.length : static_cast<std::int64_t>(frames)));
        put32(f, h + 52, s.loopStart);
        put32(f, h + 56, s.loopEnd);
        put32(f, h + 60, s.rate);
        put32(f, h + 64, s.sustainStart);
        put32(f, h + 68, s.sustainEnd);
        f[h + 76] = 1; // vibrato speed, depth, rate, waveform
        f[h + 77] = 2;
        f[h + 78] = 3;
        f[h + 79] = 4;
    }
    for (std::size_t n = 0; n < pat; n++) {
        const ItPatternSpec& p = spec.patterns[n];
        if (p.packed.empty()) continue;
        std::size_t at = f.size();
        put32(f, offsets + 4 * (ins + smp + n), static_cast<std::uint32_t>(at));
        f.resize(at + 8);
        put16(f, at, static_cast<std::uint32_t>(p.packed.size()));
        put16(f, at + 2, static_cast<std::uint32_t>(p.rows));
        f.insert(f.end(), p.packed.begin(), p.packed.end());
    }
    for (std::size_t k = 0; k < smp; k++) {
        put32(f, headers[k] + 72, static_cast<std::uint32_t>(f.size()));
        f.insert(f.end(), spec.samples[k].data.begin(), spec.samples[k].data.end());
    }
    return f;
}

// Packed rows: the given rows, each ended by a zero byte, then empty rows up to rows.
ItPatternSpec rowsOf(std::vector<std::vector<std::uint8_t>> rows, int count = 64) {
    ItPatternSpec pattern;
    pattern.rows = count;
    for (auto& row : rows) {
        pattern.packed.insert(pattern.packed.end(), row.begin(), row.end());
        pattern.packed.push_back(0);
    }
    pattern.packed.insert(pattern.packed.end(), static_cast<std::size_t>(count) - rows.size(), 0);
    return pattern;
}

// Writes codes of given bit widths, lowest bit first, as the compressed stream holds them.
struct BitWriter {
    std::vector<std::uint8_t> bytes;
    int used = 8;
    void put(std::uint32_t value, int width) {
        for (int b = 0; b < width; b++) {
            if (used == 8) {
                bytes.push_back(0);
                used = 0;
            }
            bytes.back() = static_cast<std::uint8_t>(bytes.back() | ((value >> b) & 1) << used);
            used++;
        }
    }
};

// One block of a compressed stream: its byte count, then the codes.
std::vector<std::uint8_t> block(const std::vector<std::pair<std::uint32_t, int>>& codes) {
    BitWriter bits;
    for (auto [value, width] : codes)
        bits.put(value, width);
    std::vector<std::uint8_t> out = {static_cast<std::uint8_t>(bits.bytes.size()),
                                     static_cast<std::uint8_t>(bits.bytes.size() >> 8)};
    out.insert(out.end(), bits.bytes.begin(), bits.bytes.end());
    return out;
}

// Compresses signed samples as Impulse Tracker does, always at the narrowest
// width that holds the next value, so that every way of changing the width is used.
std::vector<std::uint8_t> compress(const std::vector<int>& samples, bool sixteen, bool it215) {
    const int bitsPerSample = sixteen ? 16 : 8, widest = bitsPerSample + 1;
    const std::size_t blockFrames = sixteen ? 0x4000 : 0x8000;
    const std::uint32_t mask = sixteen ? 0xffff : 0xff;
    std::vector<std::uint8_t> out;
    for (std::size_t first = 0; first < samples.size(); first += blockFrames) {
        std::vector<std::pair<std::uint32_t, int>> codes;
        int width = widest, previous = 0, previousDelta = 0;
        for (std::size_t k = first; k < std::min(samples.size(), first + blockFrames); k++) {
            int delta = samples[k] - previous;
            previous = samples[k];
            int value = it215 ? delta - previousDelta : delta;
            previousDelta = delta;
            // Wrap into the sample's range, as the decoder's sums do.
            value = static_cast<int>(static_cast<std::uint32_t>(value) & mask);
            if (value >= 1 << (bitsPerSample - 1)) value -= 1 << bitsPerSample;
            auto fits = [&](int w) {
                if (w == widest) return true;
                int low = -(1 << (w - 1)), high = (1 << (w - 1)) - 1;
                if (w < 7) return value > low && value <= high; // the lowest value changes the width
                int reserved = sixteen ? 8 : 4;                // the values just below the top do
                return value >= low + reserved && value < high - reserved + 1;
            };
            int needed = 1;
            while (!fits(needed))
                needed++;
            if (needed != width) {
                int named = needed < width ? needed : needed - 1;
                if (width < 7) {
                    codes.push_back({1u << (width - 1), width});
                    codes.push_back({static_cast<std::uint32_t>(named - 1), sixteen ? 4 : 3});
                } else if (width < widest) {
                    std::uint32_t border = ((sixteen ? 0xffffu : 0xffu) >> (widest - width)) - (sixteen ? 8 : 4);
                    codes.push_back({border + static_cast<std::uint32_t>(named), width});
                } else {
                    codes.push_back({(1u << bitsPerSample) | static_cast<std::uint32_t>(needed - 1), width});
                }
                width = needed;
            }
            // At the widest width the top bit is clear for values.
            codes.push_back({static_cast<std::uint32_t>(value) & (width == widest ? mask : (1u << width) - 1), width});
        }
        std::vector<std::uint8_t> b = block(codes);
        out.insert(out.end(), b.begin(), b.end());
    }
    return out;
}

std::vector<int> decoded(const std::vector<std::uint8_t>& data, bool sixteen) {
    std::vector<int> values;
    for (std::size_t k = 0; k < data.size(); k += sixteen ? 2 : 1)
        values.push_back(sixteen ? static_cast<std::int16_t>(data[k] | data[k + 1] << 8)
                                 : static_cast<std::int8_t>(data[k]));
    return values;
}

class ItLoader : public LoaderTest {
  protected:
    ItLoader() : LoaderTest(impulseTrackerFormat.load_memory) {}
    int load(const ItSpec& spec, int toDevice = 0) { return loadImage(build(spec), toDevice); }

    // The converted rows of a one-pattern song without instruments and with two samples.
    const Pattern* convert(ItPatternSpec pattern) {
        ItSpec spec;
        spec.flags = 0x09;
        spec.samples.resize(2);
        spec.patterns = {std::move(pattern)};
        EXPECT_EQ(load(spec), errOK);
        return module != nullptr ? module->patterns[0] : nullptr;
    }
    std::vector<std::uint8_t> sampleData(int k) const {
        const Sample* s = module->samples[k];
        return std::vector<std::uint8_t>(s->data, s->data + s->length);
    }
};

using Entries = std::vector<std::vector<std::uint8_t>>;

} // namespace

TEST_F(ItLoader, HeaderFieldsFillTheModule) {
    ItSpec spec;
    spec.name = "twenty-six characters!!!!!";
    spec.globalVolume = 96;
    spec.speed = 3;
    spec.tempo = 140;
    spec.orders = {2, 254, 0, 255, 7, 255};
    spec.panning[1] = 64;
    spec.panning[2] = 100; // surround
    spec.channelVolume[1] = 20;
    spec.channelVolume[2] = 200;
    spec.samples.resize(3);
    ASSERT_EQ(load(spec), errOK);
    EXPECT_STREQ(module->name, "twenty-six characters!!!!!");
    EXPECT_EQ(module->play_mode, playModeImpulse);
    EXPECT_EQ(module->global_volume, 48) << "global volume runs to 128 in the file";
    EXPECT_EQ(module->speed, 3);
    EXPECT_EQ(module->tempo, 140);
    EXPECT_EQ(module->flags, moduleInstrumentMode | moduleLinearFrequency);
    EXPECT_EQ(module->song_length, 6);
    EXPECT_EQ(std::vector<std::uint16_t>(module->orders, module->orders + 6),
              (std::vector<std::uint16_t>{2, 0xfffe, 0, 0xffff, 7, 0xffff}));
    EXPECT_EQ(module->pattern_count, 8);
    EXPECT_EQ(module->patterns[7]->row_count, 64);
    EXPECT_EQ(module->panning[0], 32);
    EXPECT_EQ(module->panning[1], 64);
    EXPECT_EQ(module->panning[2], 100) << "surround stays surround";
    ASSERT_NE(module->channel_volumes, nullptr);
    EXPECT_EQ(module->channel_volumes[0], 64);
    EXPECT_EQ(module->channel_volumes[1], 20);
    EXPECT_EQ(module->channel_volumes[2], 64) << "channel volumes end at 64";
    EXPECT_EQ(module->sample_count, 3);
    spec.flags = 0x01;
    ASSERT_EQ(load(spec), errOK);
    EXPECT_EQ(module->flags, 0);
    for (std::vector<std::uint8_t> nothing : {std::vector<std::uint8_t>{255, 0}, {254, 254}, {}}) {
        spec.orders = nothing;
        EXPECT_EQ(load(spec), errInvalidModule);
    }
}

TEST_F(ItLoader, MaskBytesAndTheirRepetition) {
    const Pattern* p = convert(rowsOf({
        {0x81, 0xff, 60, 1, 32, 20, 0x40}, // channel 0: new mask, note C-5, sample 1, volume 32, T40
        {0x81, 0xf0},                      // all four repeated from the channel's last values
        {0x01},                            // the channel's last mask again: all repeated
        {0x81, 0x01, 255, 0x82, 0x11, 254}, // note off; channel 1 repeats its (none) note: note cut
        {0x81, 0x05, 246, 200},            // note fade, volume-column byte kept as it is
    }));
    ASSERT_NE(p, nullptr);
    Entries full = {{0xe0, 0x50, 0, 32, 16, 0x40}};
    EXPECT_EQ(rowEntries(p, 0), full);
    EXPECT_EQ(rowEntries(p, 1), full);
    EXPECT_EQ(rowEntries(p, 2), full);
    EXPECT_EQ(rowEntries(p, 3), (Entries{{0x20, noteKeyOff, instrumentNone}, {0x21, noteStop, instrumentNone}}));
    EXPECT_EQ(rowEntries(p, 4), (Entries{{0x60, noteKeyOff, instrumentNone, 200}}));
    EXPECT_EQ(rowEntries(p, 5), Entries{});
    EXPECT_EQ(module->channel_count, 2);
}

TEST_F(ItLoader, CommandLettersMapToGenericCommands) {
    const int mapped[26] = {0, 15, 12, 14, 11, 3, 2, 4, 5, 37, 1, 7, 6, 34, 35, 10, 33, 29, 8, -1, 16, 0, -1, 28, -1, 0};
    for (int letter = 0; letter < 28; letter++) {
        if (letter < 26 && mapped[letter] < 0) continue;
        const Pattern* p = convert(rowsOf({{0x81, 0x08, static_cast<std::uint8_t>(letter), 0x37}}));
        int expected = letter < 26 ? mapped[letter] : 0;
        if (expected == 0)
            EXPECT_EQ(rowEntries(p, 0), Entries{}) << "letter " << letter;
        else
            EXPECT_EQ(rowEntries(p, 0), (Entries{{0x80, static_cast<std::uint8_t>(expected), 0x37}}))
                << "letter " << letter;
    }
    EXPECT_EQ(rowEntries(convert(rowsOf({{0x81, 0x08, 19, 0xd3}})), 0), (Entries{{0x80, 25, 3}}));
    EXPECT_EQ(rowEntries(convert(rowsOf({{0x81, 0x08, 19, 0x73}})), 0), (Entries{{0x80, 39, 0x73}}))
        << "an S command not played is still remembered";
    EXPECT_EQ(rowEntries(convert(rowsOf({{0x81, 0x08, 19, 0x00}})), 0), (Entries{{0x80, 39, 0}})) << "S00";
    EXPECT_EQ(rowEntries(convert(rowsOf({{0x81, 0x08, 24, 0xff}})), 0), (Entries{{0x80, 9, 64}}));
    EXPECT_EQ(rowEntries(convert(rowsOf({{0x81, 0x08, 24, 0x80}})), 0), (Entries{{0x80, 9, 32}}));
    EXPECT_EQ(rowEntries(convert(rowsOf({{0x81, 0x08, 22, 0x80}})), 0), (Entries{{0x80, 27, 64}}));
    EXPECT_TRUE(rowEntries(convert(rowsOf({{0x81, 0x08, 22, 0x81}})), 0).empty()) << "V above 128 does nothing";
    EXPECT_EQ(rowEntries(convert(rowsOf({{0x81, 0x08, 19, 0x77}})), 0), (Entries{{0x80, 38, 0}})) << "S77";
    EXPECT_EQ(rowEntries(convert(rowsOf({{0x81, 0x08, 19, 0x78}})), 0), (Entries{{0x80, 38, 1}})) << "S78";
    EXPECT_TRUE(rowEntries(convert(rowsOf({{0x81, 0x08, 22, 0xff}})), 0).empty());
}

TEST_F(ItLoader, ChannelCountCoversEveryChannelThePatternsName) {
    ItSpec spec;
    spec.flags = 0x09;
    spec.samples.resize(1);
    spec.panning[5] = 20;
    spec.panning[40] = 20; // enabled, but beyond the 32 channels the packed rows have
    spec.patterns = {rowsOf({{0x86, 0x02, 1}, {0x85, 0x02, 1, 0xa9, 0x02, 1}})};
    ASSERT_EQ(load(spec), errOK);
    EXPECT_EQ(module->channel_count, 6);
    EXPECT_EQ(rowEntries(module->patterns[0], 0), (Entries{{0x25, noteNone, 0}}));
    // A switched-off channel keeps its commands (the player does not let it be heard); channel
    // 40 lies beyond the 32 the packed rows have.
    EXPECT_EQ(rowEntries(module->patterns[0], 1), (Entries{{0x24, noteNone, 0}}));
    EXPECT_EQ(module->panning[4], 32 | 0x80) << "switched off";
    EXPECT_EQ(module->panning[5], 20);
    ItSpec none = spec;
    none.patterns = {ItPatternSpec{}};
    ASSERT_EQ(load(none), errOK);
    EXPECT_EQ(module->channel_count, 1);
}

TEST_F(ItLoader, PatternsThatDoNotAddUpAreRefused) {
    ItSpec spec;
    spec.patterns = {rowsOf({{0x81, 0x01}}, 2)}; // the note byte is missing
    spec.patterns[0].packed.resize(2);
    EXPECT_EQ(load(spec), errInvalidPattern);
    spec.patterns = {rowsOf({}, 300)};
    EXPECT_EQ(load(spec), errInvalidModule);
    spec.patterns = {rowsOf({}, 10)};
    spec.patterns[0].rows = 11; // one row end short
    EXPECT_EQ(load(spec), errInvalidPattern);
}

TEST_F(ItLoader, SampleModeMakesAnInstrumentOfEverySample) {
    ItSpec spec;
    spec.flags = 0x09;
    spec.samples.resize(3);
    spec.samples[0].name = "first";
    spec.samples[2].name = "third";
    spec.samples[2].data = {1, 2};
    // Sample 4 does not exist: the number is kept, for the player stops the channel there.
    spec.patterns = {rowsOf({{0x81, 0x03, 60, 3, 0x82, 0x03, 61, 4}})};
    ASSERT_EQ(load(spec), errOK);
    ASSERT_EQ(module->instrument_count, 3);
    EXPECT_EQ(rowEntries(module->patterns[0], 0), (Entries{{0x20, 0x50, 2}, {0x21, 0x51, 3}}));
    const Instrument* used = module->instruments[2];
    EXPECT_STREQ(used->name, "third");
    EXPECT_EQ(used->used, 1);
    ASSERT_EQ(used->sample_count, 1);
    EXPECT_EQ(used->sample_list[0], module->samples[2]);
    EXPECT_EQ(used->note_map, nullptr);
    EXPECT_EQ(used->volume_envelope, nullptr);
    EXPECT_EQ(used->global_volume, 64);
    EXPECT_EQ(used->default_panning, 255);
    EXPECT_STREQ(module->instruments[0]->name, "first");
    EXPECT_EQ(module->instruments[0]->sample_count, 0);
    EXPECT_EQ(module->instruments[0]->used, 0);
}

TEST_F(ItLoader, NewerInstrumentsKeepTheirKeyboardAndEnvelopes) {
    ItSpec spec;
    spec.samples.resize(4);
    ItInstrumentSpec i;
    i.name = "lead";
    i.keyboard[10] = {70, 3};
    i.keyboard[11] = {119, 0};
    i.keyboard[12] = {200, 9}; // beyond the samples, and no note
    i.fadeout = 256;
    i.bytes = {2, 1, 3, 0, 0, 0xf8, 60, 100, 32, 5, 6}; // NNA, DCT, DCA, fade-out, PPS, PPC, GbV, DfP, RV, RP
    i.volume = {0x07, 4, 1, 2, 3, 3, {{64, 0}, {32, 10}, {16, 20}, {0, 30}}};
    i.panning = {0x05, 3, 0, 0, 0, 2, {{-32, 0}, {32, 5}, {0, 9}}};
    i.pitch = {0x81, 2, 0, 0, 0, 0, {{0, 0}, {10, 4}}}; // steering the filter
    i.cutoff = 0x80 | 90;
    i.resonance = 40; // not set
    spec.instruments = {i};
    spec.patterns = {rowsOf({{0x81, 0x02, 1}})};
    ASSERT_EQ(load(spec), errOK);
    const Instrument* in = module->instruments[0];
    EXPECT_STREQ(in->name, "lead");
    EXPECT_EQ(in->used, 1);
    ASSERT_EQ(in->sample_count, 2) << "samples 1 and 3, in order of first appearance";
    EXPECT_EQ(in->sample_list[0], module->samples[0]);
    EXPECT_EQ(in->sample_list[1], module->samples[2]);
    ASSERT_NE(in->note_map, nullptr);
    EXPECT_EQ(in->note_map[0], 0x00);
    EXPECT_EQ(in->note_map[1], 0);
    EXPECT_EQ(in->note_map[20], 70);
    EXPECT_EQ(in->note_map[21], 1);
    EXPECT_EQ(in->note_map[22], 119);
    EXPECT_EQ(in->note_map[23], 255);
    EXPECT_EQ(in->note_map[24], 12) << "a note beyond the keyboard's plays itself";
    EXPECT_EQ(in->note_map[25], 255);
    EXPECT_EQ(in->new_note_action, 2);
    EXPECT_EQ(in->duplicate_check_type, 1);
    EXPECT_EQ(in->duplicate_check_action, 3);
    EXPECT_EQ(in->fadeout, 256);
    EXPECT_EQ(in->pitch_pan_separation, 0xf8);
    EXPECT_EQ(in->pitch_pan_centre, 60);
    EXPECT_EQ(in->global_volume, 50) << "0..128 in the file, 0..64 in the player";
    EXPECT_EQ(in->default_panning, 32);
    EXPECT_EQ(in->random_volume, 5);
    EXPECT_EQ(in->random_panning, 6);

    const Envelope* v = in->volume_envelope;
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->point_count, 4);
    EXPECT_EQ(v->loop_start, 1);
    EXPECT_EQ(v->loop_end, 2);
    EXPECT_EQ(v->sustain_loop_start, 3);
    EXPECT_EQ(v->sustain_loop_end, 3);
    EXPECT_EQ(v->sustain_point, 3) << "the sustain byte names the sustain loop's end";
    EXPECT_EQ(v->points[1].x, 10);
    EXPECT_EQ(v->points[1].y, 32);
    const Envelope* pan = in->panning_envelope;
    ASSERT_NE(pan, nullptr);
    EXPECT_EQ(pan->loop_start, 255) << "loop flag clear";
    EXPECT_EQ(pan->sustain_loop_start, 0);
    EXPECT_EQ(pan->sustain_point, 2);
    EXPECT_EQ(pan->points[0].y, -32);
    ASSERT_NE(in->pitch_envelope, nullptr);
    EXPECT_EQ(in->pitch_envelope->sustain_point, 255);
    EXPECT_EQ(in->pitch_envelope->points[1].y, 10);
    EXPECT_EQ(in->filter_envelope, 1);
    EXPECT_EQ(in->initial_cutoff, 0x80 | 90);
    EXPECT_EQ(in->initial_resonance, 40);

    spec.instruments[0].volume.flags = 0;
    spec.instruments[0].panning = {0x07, 30, 2, 9, 1, 0, {{0, 0}, {1, 5}, {2, 5}, {3, 8}}};
    ASSERT_EQ(load(spec), errOK);
    EXPECT_EQ(module->instruments[0]->volume_envelope, nullptr);
    pan = module->instruments[0]->panning_envelope;
    EXPECT_EQ(pan->point_count, 2) << "points must move forward";
    EXPECT_EQ(pan->loop_start, 255);
    EXPECT_EQ(pan->sustain_point, 255) << "a sustain loop that runs backwards";
}

TEST_F(ItLoader, OlderInstrumentsHaveOnlyAVolumeEnvelope) {
    ItSpec spec;
    spec.compatible = 0x100;
    spec.samples.resize(1);
    ItInstrumentSpec i;
    i.fadeout = 40;
    i.bytes[0] = 1;
    i.bytes[1] = 2;
    i.volume = {0x05, 0, 0, 0, 1, 1, {{64, 0}, {48, 4}, {0, 12}}};
    spec.instruments = {i};
    ASSERT_EQ(load(spec), errOK);
    const Instrument* in = module->instruments[0];
    EXPECT_EQ(in->used, 0);
    EXPECT_EQ(in->new_note_action, 1);
    EXPECT_EQ(in->duplicate_check_type, 2);
    EXPECT_EQ(in->fadeout, 80) << "the older layout's fade-out steps are twice as large";
    EXPECT_EQ(in->global_volume, 64);
    EXPECT_EQ(in->default_panning, 255);
    EXPECT_EQ(in->panning_envelope, nullptr);
    const Envelope* v = in->volume_envelope;
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->point_count, 3) << "the nodes end at a tick of 255";
    EXPECT_EQ(v->points[2].x, 12);
    EXPECT_EQ(v->points[1].y, 48);
    EXPECT_EQ(v->loop_start, 255);
    EXPECT_EQ(v->sustain_point, 1);
}

TEST_F(ItLoader, SamplesBecomeUnsignedBytesOrSignedWords) {
    ItSpec spec;
    spec.flags = 0x09;
    spec.samples.resize(5);
    spec.samples[0].data = {0x00, 0x7f, 0x80}; // signed 8-bit
    spec.samples[1].data = {0x00, 0x7f, 0x80};
    spec.samples[1].convert = 0; // unsigned 8-bit
    spec.samples[2].flags = 0x03;
    spec.samples[2].convert = 0; // unsigned 16-bit
    spec.samples[2].data = {0x34, 0x92, 0xff, 0x7f};
    spec.samples[3].flags = 0x03;
    spec.samples[3].convert = 0x03; // signed, big-endian
    spec.samples[3].data = {0x12, 0x34, 0xff, 0xfe};
    spec.samples[4].convert = 0x05; // signed, stored as differences
    spec.samples[4].data = {10, 10, 0xfb};
    ASSERT_EQ(load(spec), errOK);
    EXPECT_EQ(sampleData(0), (std::vector<std::uint8_t>{0x80, 0xff, 0x00}));
    EXPECT_EQ(sampleData(1), (std::vector<std::uint8_t>{0x00, 0x7f, 0x80}));
    EXPECT_EQ(module->samples[2]->type, 2);
    EXPECT_EQ(sampleData(2), (std::vector<std::uint8_t>{0x34, 0x12, 0xff, 0xff}));
    EXPECT_EQ(sampleData(3), (std::vector<std::uint8_t>{0x34, 0x12, 0xfe, 0xff}));
    EXPECT_EQ(sampleData(4), (std::vector<std::uint8_t>{0x8a, 0x94, 0x8f}));
    const Sample* s = module->samples[0];
    EXPECT_EQ(s->middle_c_rate, 8363);
    EXPECT_EQ(s->relative_note, 0) << "the rate has a field of its own";
    EXPECT_EQ(s->panning, -1);
    EXPECT_EQ(s->sample_global_volume, 64);
    EXPECT_EQ(std::vector<std::uint8_t>(s->sample_vibrato, s->sample_vibrato + 4),
              (std::vector<std::uint8_t>{4, 3, 2, 1}));

    spec.samples[0].flags = 0x00; // no data in the file
    spec.samples[1].rate = 0;
    ASSERT_EQ(load(spec), errOK);
    EXPECT_EQ(module->samples[0]->type, 0);
    EXPECT_EQ(module->samples[0]->data, nullptr);
    EXPECT_EQ(module->samples[1]->middle_c_rate, 8363) << "no rate means the usual middle C";
    spec.samples[4].length = 0x40000000;
    spec.samples[4].flags = 0x03;
    EXPECT_EQ(load(spec), errInvalidInstrument);
    spec.samples[4].length = 4;
    spec.samples[4].flags = 0x01;
    EXPECT_EQ(load(spec), errEndOfFile);
}

TEST_F(ItLoader, SustainLoopsPlayFirstAndTheSamplesOwnLoopAfterTheRelease) {
    ItSpec spec;
    spec.flags = 0x09;
    spec.samples.resize(3);
    for (ItSampleSpec& s : spec.samples) {
        s.flags = 0x03; // 16-bit: loop points double
        s.data.assign(200, 0);
        s.loopStart = 10;
        s.loopEnd = 500; // past the data: kept inside
        s.sustainStart = 20;
        s.sustainEnd = 30;
    }
    spec.samples[0].flags |= 0x10 | 0x40;        // ping-pong loop only
    spec.samples[1].flags |= 0x10 | 0x20 | 0x80; // loop and ping-pong sustain loop
    spec.samples[2].flags |= 0x20;               // sustain loop only
    ASSERT_EQ(load(spec, 1), errOK);
    ASSERT_EQ(recorded.size(), 3u);
    const SampleDesc& looped = recorded[0].desc;
    EXPECT_EQ(looped.loopMode, 1u);
    EXPECT_EQ(looped.loop1Type, 2u);
    EXPECT_EQ(looped.loop1Start, 20u);
    EXPECT_EQ(looped.loop1End, 200u);
    EXPECT_EQ(looped.loop2Type, 0u);
    const SampleDesc& both = recorded[1].desc;
    EXPECT_EQ(both.loopMode, 3u);
    EXPECT_EQ(both.loop1Type, 2u);
    EXPECT_EQ(both.loop1Start, 40u);
    EXPECT_EQ(both.loop1End, 60u);
    EXPECT_EQ(both.loop2Type, 1u);
    EXPECT_EQ(both.loop2Start, 20u);
    EXPECT_EQ(both.loop2End, 200u);
    const SampleDesc& sustained = recorded[2].desc;
    EXPECT_EQ(sustained.loopMode, 3u);
    EXPECT_EQ(sustained.loop1Type, 1u);
    EXPECT_EQ(sustained.loop1End, 60u);
    EXPECT_EQ(sustained.loop2Type, 0u) << "after the release it plays to its end";
    EXPECT_EQ(module->samples[2]->loop2_type, 0);
    EXPECT_EQ(module->samples[2]->loop1_start, 40);
}

TEST(ItDecompression, HandBuiltStreamsDecodeToKnownValues) {
    // 8-bit: 5 at width 9; width 3 (0x100 + 2); -1 and 2; width 8 (escape 4, then 6 = 8 - 2); -100.
    std::vector<std::uint8_t> eight = block({{5, 9}, {0x102, 9}, {7, 3}, {2, 3}, {4, 3}, {6, 3}, {156, 8}});
    std::vector<std::uint8_t> out(4);
    ASSERT_EQ(decompress_it_sample(eight.data(), eight.size(), false, false, out.data(), 4), errOK);
    EXPECT_EQ(decoded(out, false), (std::vector<int>{5, 4, 6, -94}));
    // 16-bit: width 4 (0x10000 + 3); 3 and -2; width 12 (escape 8, then 10 = 12 - 2); 1000.
    std::vector<std::uint8_t> sixteen = block({{0x10003, 17}, {3, 4}, {14, 4}, {8, 4}, {10, 4}, {1000, 12}});
    out.assign(6, 0);
    ASSERT_EQ(decompress_it_sample(sixteen.data(), sixteen.size(), true, false, out.data(), 3), errOK);
    EXPECT_EQ(decoded(out, true), (std::vector<int>{3, 1, 1001}));
    ASSERT_EQ(decompress_it_sample(sixteen.data(), sixteen.size(), true, true, out.data(), 3), errOK);
    EXPECT_EQ(decoded(out, true), (std::vector<int>{3, 4, 1005})) << "2.15 sums twice";
    // Widths 7 and 8 name a new width just below the top of their range.
    std::vector<std::uint8_t> border = block({{0x106, 9}, {59, 7}, {59 + 2, 7}, {3, 2}});
    out.assign(2, 0);
    ASSERT_EQ(decompress_it_sample(border.data(), border.size(), false, false, out.data(), 2), errOK);
    EXPECT_EQ(decoded(out, false), (std::vector<int>{59, 58}));
}

TEST(ItDecompression, BrokenStreamsAreRefused) {
    std::vector<std::uint8_t> out(0x9000 * 2);
    std::vector<std::uint8_t> good = block({{5, 9}, {6, 9}});
    EXPECT_EQ(decompress_it_sample(good.data(), 1, false, false, out.data(), 2), errEndOfFile);
    EXPECT_EQ(decompress_it_sample(good.data(), good.size() - 1, false, false, out.data(), 2), errEndOfFile);
    EXPECT_EQ(decompress_it_sample(good.data(), good.size(), false, false, out.data(), 3), errInvalidInstrument)
        << "the block's bits run out";
    std::vector<std::uint8_t> silence = compress(std::vector<int>(0x8000, 0), false, false);
    EXPECT_EQ(decompress_it_sample(silence.data(), silence.size(), false, false, out.data(), 0x8001), errEndOfFile)
        << "a second block is missing";
    std::vector<std::uint8_t> wide = block({{0x1ff, 9}, {0, 9}});
    EXPECT_EQ(decompress_it_sample(wide.data(), wide.size(), false, false, out.data(), 1), errInvalidInstrument);
    std::vector<std::uint8_t> wider = block({{0x10000 | 17, 17}, {0, 17}});
    EXPECT_EQ(decompress_it_sample(wider.data(), wider.size(), true, false, out.data(), 1), errInvalidInstrument);
}

TEST(ItDecompression, CompressedSamplesComeBackExactly) {
    std::mt19937 random(7);
    for (bool sixteen : {false, true}) {
        for (bool it215 : {false, true}) {
            // A wandering tone with jumps, longer than a block.
            std::vector<int> samples;
            int limit = sixteen ? 32767 : 127, value = 0;
            for (int k = 0; k < 0x9000; k++) {
                int scale = 1 << (k / 4096 % (sixteen ? 12 : 4));
                int step = k % 997 == 0 ? limit : (static_cast<int>(random() % 9) - 4) * scale;
                value = std::clamp(value + step, -limit - 1, limit);
                samples.push_back(value);
            }
            std::vector<std::uint8_t> stream = compress(samples, sixteen, it215);
            std::vector<std::uint8_t> out(samples.size() * (sixteen ? 2 : 1));
            ASSERT_EQ(decompress_it_sample(stream.data(), stream.size(), sixteen, it215, out.data(), samples.size()),
                      errOK);
            EXPECT_EQ(decoded(out, sixteen), samples) << (sixteen ? "16-bit" : "8-bit") << (it215 ? " 2.15" : " 2.14");
        }
    }
}

TEST_F(ItLoader, CompressedSamplesOfEachWidthAreDecodedInTheSong) {
    ItSpec spec;
    spec.flags = 0x09;
    spec.samples.resize(2);
    std::vector<int> eight = {0, 10, 20, -100, 127, -128, 0};
    std::vector<int> sixteen = {0, 1000, -32768, 32767, 5, -5};
    spec.samples[0].flags = 0x09;
    spec.samples[0].data = compress(eight, false, false);
    spec.samples[0].length = 7;
    spec.samples[1].flags = 0x0b;
    spec.samples[1].convert = 0x05; // 2.15
    spec.samples[1].data = compress(sixteen, true, true);
    spec.samples[1].length = 6;
    ASSERT_EQ(load(spec), errOK);
    EXPECT_EQ(sampleData(0), (std::vector<std::uint8_t>{0x80, 0x8a, 0x94, 0x1c, 0xff, 0x00, 0x80}));
    EXPECT_EQ(module->samples[1]->length, 12);
    std::vector<std::uint8_t> words = sampleData(1);
    EXPECT_EQ(decoded(words, true), sixteen);
    spec.samples[1].length = 1 << 20; // far more than the stream can hold
    EXPECT_EQ(load(spec), errEndOfFile);
}

TEST_F(ItLoader, EveryCorpusFileLoadsInBothModes) {
    loadEveryCorpusFile(impulseTrackerFormat.load_memory, ".it");
}

namespace {

// Where an Impulse Tracker file keeps its structure: the header with its
// lists, and every instrument, sample header and pattern its offsets name.
std::vector<std::pair<std::size_t, std::size_t>> itStructure(const std::vector<std::uint8_t>& f) {
    auto u16 = [&](std::size_t at) { return static_cast<std::size_t>(f[at] | f[at + 1] << 8); };
    std::size_t orders = u16(32), instruments = u16(34), samples = u16(36), patterns = u16(38);
    std::size_t lists = 192 + orders + 4 * (instruments + samples + patterns);
    std::vector<std::pair<std::size_t, std::size_t>> ranges{{0, std::min(lists, f.size())}};
    for (std::size_t k = 0; k < instruments + samples + patterns && 192 + orders + 4 * k + 3 < f.size(); k++) {
        std::size_t at = u16(192 + orders + 4 * k) | u16(194 + orders + 4 * k) << 16;
        std::size_t span = k < instruments ? 554 : k < instruments + samples ? 80 : 400;
        if (at != 0 && at < f.size()) ranges.emplace_back(at, std::min(f.size(), at + span));
    }
    return ranges;
}

} // namespace

TEST_F(ItLoader, DamagedCopiesNeverCrashOrLeak) {
    // Copies of a song with instruments and envelopes, and of one with
    // compressed samples (whose decoding makes each load slower).
    DamageCounts counts;
    for (auto [name, copies] : {std::pair{"pingus-data__rough_journey.it", 1200}, {"pingus-data__gd-matth.it", 800}}) {
        std::string path = std::string(MORVA_MODULES_DIR) + "/" + name;
        std::vector<std::uint8_t> original;
        if (std::filesystem::exists(path)) {
            original = readFile(path);
        } else {
            ItSpec spec;
            spec.samples.resize(2);
            spec.samples[0].flags = 0x09;
            spec.samples[0].data = compress(std::vector<int>(300, 3), false, false);
            spec.samples[0].length = 300;
            spec.instruments.resize(1);
            spec.instruments[0].volume = {0x07, 3, 0, 1, 2, 2, {{64, 0}, {32, 10}, {0, 30}}};
            spec.patterns = {rowsOf({{0x81, 0xff, 60, 1, 32, 20, 0x40}, {0x01}})};
            original = build(spec);
        }
        DamageCounts one = loadDamagedCopies(impulseTrackerFormat.load_memory, original, itStructure(original), copies);
        counts.loaded += one.loaded;
        counts.refused += one.refused;
    }
    EXPECT_GT(counts.loaded, 0);
    EXPECT_GT(counts.refused, 0);
    std::printf("damaged Impulse Tracker copies: %d loaded, %d refused\n", counts.loaded, counts.refused);
}

TEST_F(ItLoader, EveryTruncationOfASmallFileIsHandled) {
    ItSpec spec;
    spec.samples.resize(1);
    spec.samples[0].flags = 0x0b;
    spec.samples[0].data = compress({1, 2, 3, 1000, -1000}, true, false);
    spec.samples[0].length = 5;
    spec.instruments.resize(1);
    spec.instruments[0].volume = {0x01, 2, 0, 0, 0, 0, {{64, 0}, {0, 10}}};
    spec.patterns = {rowsOf({{0x81, 0xff, 60, 1, 32, 20, 0x40}}, 4)};
    DamageCounts counts = loadEveryTruncation(impulseTrackerFormat.load_memory, build(spec));
    EXPECT_EQ(counts.loaded, 0) << "every byte of this file is needed";
}
