#include "sound/formats/formats.h"
#include "sound/mixer/dsm.h"
#include "sound/formats/loadxm.h"
#include "loader_fixture.h"
#include "xmbuild.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

using namespace loadertest;
using namespace xmbuild;

namespace {

class XmLoader : public LoaderTest {
  protected:
    XmLoader() : LoaderTest(extendedModuleFormat.load_memory) {}
    int load(const ModuleSpec& spec, int toDevice = 0) { return loadImage(build(spec), toDevice); }
};

// Loads a one-channel, one-row song from its packed pattern bytes and returns
// the converted entry (empty when nothing was written).
std::vector<std::uint8_t> convertPacked(std::vector<std::uint8_t> packed) {
    ModuleSpec spec;
    spec.channels = 1;
    spec.patterns = {PatternSpec{1, std::move(packed)}};
    std::vector<std::uint8_t> image = build(spec);
    Module* m = nullptr;
    int code = extendedModuleFormat.load_memory(image.data(), image.size(), 0, nullptr, &m);
    EXPECT_EQ(code, errOK);
    if (code != errOK) return {};
    auto entries = rowEntries(m->patterns[0], 0);
    free_module(m, nullptr);
    if (entries.empty()) return {};
    EXPECT_EQ(entries.size(), 1u);
    return entries[0];
}

// As convertPacked, for one entry with all five fields present.
std::vector<std::uint8_t> convertOne(std::uint8_t note, std::uint8_t instrument, std::uint8_t volume,
                                     std::uint8_t effect, std::uint8_t parameter) {
    return convertPacked({note, instrument, volume, effect, parameter});
}

InstrumentSpec instrumentWith(std::vector<SampleSpec> samples) {
    InstrumentSpec instrument;
    instrument.samples = std::move(samples);
    return instrument;
}

// A song of one channel whose single pattern plays instruments 1..used.
ModuleSpec songUsing(int used, std::vector<InstrumentSpec> instruments) {
    ModuleSpec spec;
    spec.channels = 1;
    PatternSpec pattern;
    pattern.rows = used;
    for (int i = 1; i <= used; i++)
        full(pattern.packed, 49, static_cast<std::uint8_t>(i), 0, 0, 0);
    spec.patterns = {pattern};
    spec.instruments = std::move(instruments);
    return spec;
}

} // namespace

// --- Pattern conversion ---------------------------------------------------

TEST(XmPatternConversion, NotesBecomeOctaveAndSemitone) {
    EXPECT_EQ(convertOne(1, 0, 0, 0, 0), (std::vector<std::uint8_t>{0x20, 0x00, 255}));
    EXPECT_EQ(convertOne(12, 0, 0, 0, 0), (std::vector<std::uint8_t>{0x20, 0x0b, 255}));
    EXPECT_EQ(convertOne(13, 0, 0, 0, 0), (std::vector<std::uint8_t>{0x20, 0x10, 255}));
    EXPECT_EQ(convertOne(49, 0, 0, 0, 0), (std::vector<std::uint8_t>{0x20, 0x40, 255}));
    EXPECT_EQ(convertOne(96, 0, 0, 0, 0), (std::vector<std::uint8_t>{0x20, 0x7b, 255}));
}

TEST(XmPatternConversion, NoteAbove96IsKeyOff) {
    EXPECT_EQ(convertOne(97, 0, 0, 0, 0), (std::vector<std::uint8_t>{0x20, noteKeyOff, 255}));
    EXPECT_EQ(convertOne(120, 0, 0, 0, 0), (std::vector<std::uint8_t>{0x20, noteKeyOff, 255}));
}

TEST(XmPatternConversion, PresentEmptyNoteStillCarriesNoteAndInstrument) {
    EXPECT_EQ(convertOne(0, 0, 0, 0, 0), (std::vector<std::uint8_t>{0x20, noteNone, instrumentNone}));
}

TEST(XmPatternConversion, InstrumentWithoutNoteSetsInstrumentOnly) {
    ModuleSpec spec;
    spec.channels = 2;
    PatternSpec pattern;
    pattern.rows = 1;
    empty(pattern.packed);
    pattern.packed.insert(pattern.packed.end(), {0x82, 3}); // instrument field only
    spec.patterns = {pattern};
    std::vector<std::uint8_t> image = build(spec);
    Module* m = nullptr;
    ASSERT_EQ(extendedModuleFormat.load_memory(image.data(), image.size(), 0, nullptr, &m), errOK);
    auto entries = rowEntries(m->patterns[0], 0);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0], (std::vector<std::uint8_t>{0x21, noteNone, 2}));
    EXPECT_EQ(m->instrument_count, 3); // instrument 3 is referred to
    free_module(m, nullptr);
}

TEST(XmPatternConversion, VolumeColumn) {
    auto volumeOf = [](std::uint8_t v) { return convertPacked({0x84, v}); };
    EXPECT_EQ(volumeOf(0x10), (std::vector<std::uint8_t>{0x40, 0}));
    EXPECT_EQ(volumeOf(0x30), (std::vector<std::uint8_t>{0x40, 32}));
    EXPECT_EQ(volumeOf(0x50), (std::vector<std::uint8_t>{0x40, 64}));
    EXPECT_EQ(volumeOf(0x60), (std::vector<std::uint8_t>{0x40, 0x60}));
    EXPECT_EQ(volumeOf(0xc8), (std::vector<std::uint8_t>{0x40, 0xc8}));
    EXPECT_EQ(volumeOf(0xff), (std::vector<std::uint8_t>{0x40, 0xff}));
    // Values that mean nothing in the column must not turn into low volumes.
    EXPECT_TRUE(volumeOf(0).empty());
    EXPECT_TRUE(volumeOf(0x05).empty());
    EXPECT_TRUE(volumeOf(0x51).empty());
    EXPECT_TRUE(volumeOf(0x5f).empty());
}

TEST(XmPatternConversion, EveryEffectOfTheMainTable) {
    // Expected generic command for file effects 0..35 with a parameter
    // that selects nothing special (E, F, K and X are checked separately).
    const int expected[36] = {1, 2, 3,  4, 5, 6, 7, 8,  9, 10, 11, 12, 13, 14, -1, -1, 27, 28,
                              0, 0, -1, 0, 0, 0, 0, 33, 0, 29, 0,  37, 0,  0,  30, -1, 0,  0};
    for (int effect = 0; effect < 36; effect++) {
        if (expected[effect] < 0) continue;
        auto entry = convertPacked({0x98, static_cast<std::uint8_t>(effect), 0x37});
        if (expected[effect] == 0)
            EXPECT_TRUE(entry.empty()) << "effect " << effect << " should be dropped";
        else
            EXPECT_EQ(entry,
                      (std::vector<std::uint8_t>{0x80, static_cast<std::uint8_t>(expected[effect]), 0x37}))
                << "effect " << effect;
    }
}

TEST(XmPatternConversion, ArpeggioNeedsAParameter) {
    EXPECT_TRUE(convertPacked({0x98, 0, 0}).empty());
    EXPECT_EQ(convertOne(0, 0, 0, 0, 0x47),
              (std::vector<std::uint8_t>{0xa0, noteNone, instrumentNone, 1, 0x47}));
}

TEST(XmPatternConversion, EveryExtendedEffect) {
    const int expected[16] = {0, 17, 18, 0, 0, 36, 19, 0, 20, 21, 22, 23, 24, 25, 26, 0};
    for (int nibble = 0; nibble < 16; nibble++) {
        auto entry = convertOne(0, 0, 0, 14, static_cast<std::uint8_t>(nibble << 4 | 0x0a));
        if (expected[nibble] == 0) {
            EXPECT_EQ(entry, (std::vector<std::uint8_t>{0x20, noteNone, instrumentNone})) << "E" << nibble;
        } else {
            EXPECT_EQ(entry, (std::vector<std::uint8_t>{0xa0, noteNone, instrumentNone,
                                                        static_cast<std::uint8_t>(expected[nibble]), 0x0a}))
                << "E" << nibble;
        }
    }
}

TEST(XmPatternConversion, SpeedBelow32TempoFrom32) {
    EXPECT_EQ(convertOne(0, 0, 0, 15, 31),
              (std::vector<std::uint8_t>{0xa0, noteNone, instrumentNone, 15, 31}));
    EXPECT_EQ(convertOne(0, 0, 0, 15, 32),
              (std::vector<std::uint8_t>{0xa0, noteNone, instrumentNone, 16, 32}));
    EXPECT_EQ(convertOne(0, 0, 0, 15, 0), (std::vector<std::uint8_t>{0xa0, noteNone, instrumentNone, 15, 0}))
        << "F00 is passed on as speed 0 for the player to judge";
}

TEST(XmPatternConversion, KeyOffEffectBecomesKeyOffNoteWhateverItsParameter) {
    EXPECT_EQ(convertOne(49, 2, 0, 20, 0x05), (std::vector<std::uint8_t>{0x20, noteKeyOff, 1}));
    EXPECT_EQ(convertOne(0, 0, 0, 20, 0), (std::vector<std::uint8_t>{0x20, noteKeyOff, instrumentNone}));
    EXPECT_EQ(convertPacked({0x98, 20, 0x00}), (std::vector<std::uint8_t>{0x20, noteKeyOff, instrumentNone}))
        << "effect type alone";
}

TEST(XmPatternConversion, ExtraFinePortamento) {
    EXPECT_EQ(convertOne(0, 0, 0, 33, 0x15),
              (std::vector<std::uint8_t>{0xa0, noteNone, instrumentNone, 31, 5}));
    EXPECT_EQ(convertOne(0, 0, 0, 33, 0x2f),
              (std::vector<std::uint8_t>{0xa0, noteNone, instrumentNone, 32, 15}));
    EXPECT_EQ(convertOne(0, 0, 0, 33, 0x35), (std::vector<std::uint8_t>{0x20, noteNone, instrumentNone}));
    EXPECT_EQ(convertOne(0, 0, 0, 33, 0x05), (std::vector<std::uint8_t>{0x20, noteNone, instrumentNone}));
}

TEST(XmPatternConversion, EffectsBeyondTheTableAreDropped) {
    EXPECT_EQ(convertOne(0, 0, 0, 36, 0x11), (std::vector<std::uint8_t>{0x20, noteNone, instrumentNone}));
    EXPECT_EQ(convertOne(0, 0, 0, 0x7f, 0x11), (std::vector<std::uint8_t>{0x20, noteNone, instrumentNone}));
}

TEST(XmPatternConversion, FullEntryKeepsFieldOrderAndChannelNumber) {
    ModuleSpec spec;
    spec.channels = 32;
    spec.patterns = {oneEntry(2, 32, 1, 31, 25, 4, 0x20, 10, 0x0f)};
    std::vector<std::uint8_t> image = build(spec);
    Module* m = nullptr;
    ASSERT_EQ(extendedModuleFormat.load_memory(image.data(), image.size(), 0, nullptr, &m), errOK);
    EXPECT_TRUE(rowEntries(m->patterns[0], 0).empty());
    EXPECT_EQ(rowEntries(m->patterns[0], 1),
              (std::vector<std::vector<std::uint8_t>>{{0xff, 0x20, 3, 16, 11, 0x0f}}));
    // Header: total size and rows; 2 row terminators + one 6-byte entry.
    EXPECT_EQ(m->patterns[0]->row_count, 2);
    EXPECT_EQ(m->patterns[0]->size, 8 + 2 + 6);
    free_module(m, nullptr);
}

TEST(XmPatternConversion, EmptyPackedPatternIsOneZeroBytePerRow) {
    ModuleSpec spec;
    spec.patterns = {PatternSpec{100, {}}};
    std::vector<std::uint8_t> image = build(spec);
    Module* m = nullptr;
    ASSERT_EQ(extendedModuleFormat.load_memory(image.data(), image.size(), 0, nullptr, &m), errOK);
    EXPECT_EQ(m->patterns[0]->row_count, 100);
    EXPECT_EQ(m->patterns[0]->size, 108);
    for (int r = 0; r < 100; r++)
        EXPECT_EQ(pattern_data(m->patterns[0])[r], 0);
    free_module(m, nullptr);
}

TEST(XmPatternConversion, FullestPatternFitsItsRecord) {
    // 256 rows of 32 full entries: the largest pattern the format can describe.
    ModuleSpec spec;
    spec.channels = 32;
    PatternSpec pattern;
    pattern.rows = 256;
    for (int k = 0; k < 256 * 32; k++)
        full(pattern.packed, 49, 1, 0x40, 4, 0x11);
    // Packed size is 16 bits; this pattern's 40960 bytes fit.
    spec.patterns = {pattern};
    std::vector<std::uint8_t> image = build(spec);
    Module* m = nullptr;
    ASSERT_EQ(extendedModuleFormat.load_memory(image.data(), image.size(), 0, nullptr, &m), errOK);
    EXPECT_EQ(m->patterns[0]->size, 8 + 256 * (32 * 6 + 1));
    free_module(m, nullptr);
}

// --- Header, orders and refusals ---------------------------------------------

TEST_F(XmLoader, HeaderFieldsFillTheModule) {
    ModuleSpec spec;
    spec.name = "twenty characters!!!";
    spec.channels = 6;
    spec.speed = 0x0305;
    spec.tempo = 0x0190;
    spec.orders = {0, 1, 0};
    spec.restart = 2;
    spec.patterns = {PatternSpec{}, PatternSpec{}};
    ASSERT_EQ(load(spec), errOK);
    EXPECT_STREQ(module->name, "twenty characters!!!");
    EXPECT_EQ(module->play_mode, playModeExtended);
    EXPECT_EQ(module->global_volume, 64);
    EXPECT_EQ(module->channel_count, 6);
    EXPECT_EQ(module->speed, 5);
    EXPECT_EQ(module->tempo, 0x90);
    EXPECT_EQ(module->song_length, 3);
    EXPECT_EQ(module->restart_position, 2);
    EXPECT_EQ(module->flags, moduleLinearFrequency);
    for (int c = 0; c < maxModuleChannels; c++)
        EXPECT_EQ(module->panning[c], 128);
    EXPECT_EQ(module->orders[2], 0);
    spec.flags = 0;
    ASSERT_EQ(load(spec), errOK);
    EXPECT_EQ(module->flags, 0);
}

TEST_F(XmLoader, LongerHeaderIsSkipped) {
    ModuleSpec spec;
    spec.headerSize = 300;
    spec.orders = {1};
    spec.patterns = {PatternSpec{}, PatternSpec{7, {}}};
    ASSERT_EQ(load(spec), errOK);
    EXPECT_EQ(module->patterns[1]->row_count, 7);
}

TEST_F(XmLoader, OrdersBeyondThePatternsAddEmpty64RowPatterns) {
    ModuleSpec spec;
    spec.orders = {0, 40, 3};
    spec.patterns.assign(30, PatternSpec{16, {}});
    ASSERT_EQ(load(spec), errOK);
    EXPECT_EQ(module->pattern_count, 41);
    EXPECT_EQ(module->patterns[29]->row_count, 16);
    for (int p = 30; p <= 40; p++) {
        EXPECT_EQ(module->patterns[p]->row_count, 64);
        EXPECT_EQ(module->patterns[p]->size, 64 + 8);
    }
}

TEST_F(XmLoader, RestartOutsideTheSongStartsOver) {
    ModuleSpec spec;
    spec.orders = {0, 0};
    spec.restart = 2;
    ASSERT_EQ(load(spec), errOK);
    EXPECT_EQ(module->restart_position, 0);
}

TEST_F(XmLoader, RefusesWhatCannotBeRepresented) {
    auto codeFor = [&](auto change) {
        ModuleSpec spec;
        change(spec);
        return load(spec);
    };
    EXPECT_EQ(codeFor([](ModuleSpec& s) { s.version = 0x0103; }), errInvalidModule);
    EXPECT_EQ(codeFor([](ModuleSpec& s) {
                  s.name = "";
                  s.version = 0x0104;
              }),
              errOK);
    EXPECT_EQ(codeFor([](ModuleSpec& s) { s.channels = 33; }), errInvalidModule);
    EXPECT_EQ(codeFor([](ModuleSpec& s) { s.channels = 32; }), errOK);
    EXPECT_EQ(codeFor([](ModuleSpec& s) { s.channels = 0; }), errInvalidModule);
    EXPECT_EQ(codeFor([](ModuleSpec& s) { s.songLength = 257; }), errInvalidModule);
    EXPECT_EQ(codeFor([](ModuleSpec& s) {
                  s.songLength = 256;
                  s.orders.assign(256, 0);
              }),
              errOK);
    EXPECT_EQ(codeFor([](ModuleSpec& s) { s.songLength = 0; }), errInvalidModule);
    EXPECT_EQ(codeFor([](ModuleSpec& s) { s.patternCount = 257; }), errInvalidModule);
    EXPECT_EQ(codeFor([](ModuleSpec& s) { s.instrumentCount = 256; }), errInvalidModule);
    EXPECT_EQ(codeFor([](ModuleSpec& s) { s.patterns = {PatternSpec{0, {}}}; }), errInvalidModule);
    EXPECT_EQ(codeFor([](ModuleSpec& s) { s.patterns = {PatternSpec{257, {}}}; }), errInvalidModule);
    EXPECT_EQ(codeFor([](ModuleSpec& s) { s.patterns = {PatternSpec{256, {}}}; }), errOK);
}

TEST_F(XmLoader, WrongSignatureIsInvalidModule) {
    std::vector<std::uint8_t> image = build(ModuleSpec{});
    image[9] = 'm';
    EXPECT_EQ(loadImage(image), errInvalidModule);
}

TEST_F(XmLoader, PatternDataEndingEarlyIsInvalidPatternData) {
    ModuleSpec spec;
    spec.channels = 2;
    PatternSpec pattern;
    pattern.rows = 2;
    full(pattern.packed, 1, 0, 0, 0, 0);
    full(pattern.packed, 1, 0, 0, 0, 0);
    full(pattern.packed, 1, 0, 0, 0, 0); // the fourth entry is missing
    spec.patterns = {pattern};
    EXPECT_EQ(load(spec), errInvalidPattern);
    spec.patterns[0].packed.resize(13); // ends inside an entry
    EXPECT_EQ(load(spec), errInvalidPattern);
}

TEST_F(XmLoader, TruncatedFileIsUnexpectedEndOfFile) {
    ModuleSpec spec;
    SampleSpec sample;
    sample.data.assign(100, 1);
    spec = songUsing(1, {instrumentWith({sample})});
    std::vector<std::uint8_t> image = build(spec);
    for (std::size_t cut : {std::size_t{10}, std::size_t{200}, std::size_t{340}, image.size() - 1}) {
        std::vector<std::uint8_t> part(image.begin(), image.begin() + static_cast<long>(cut));
        EXPECT_EQ(loadImage(part), errEndOfFile) << "cut at " << cut;
    }
}

TEST_F(XmLoader, SampleLongerThanTheLimitIsInvalidInstrument) {
    SampleSpec sample;
    sample.length = 0x7ffffff0;
    EXPECT_EQ(load(songUsing(1, {instrumentWith({sample})})), errInvalidInstrument);
}

TEST_F(XmLoader, SampleDataBeyondTheFileIsRefusedWithoutReadingIt) {
    SampleSpec sample;
    sample.length = 0x7fff0000; // claims about 2 GB, the file holds none of it
    EXPECT_EQ(load(songUsing(1, {instrumentWith({sample})}), 1), errEndOfFile);
    EXPECT_TRUE(recorded.empty());
}

// --- Instruments ------------------------------------------------------------

TEST_F(XmLoader, InstrumentsReferredToBeyondTheFileArePlaceholders) {
    std::vector<InstrumentSpec> instruments(10);
    ModuleSpec spec = songUsing(1, instruments);
    // Also play instrument 20, beyond the file's 10.
    spec.patterns[0].rows = 2;
    full(spec.patterns[0].packed, 49, 20, 0, 0, 0);
    ASSERT_EQ(load(spec), errOK);
    EXPECT_EQ(module->instrument_count, 20);
    for (int i = 10; i < 20; i++)
        EXPECT_STREQ(module->instruments[i]->name, "Empty instrument");
    EXPECT_EQ(module->instruments[19]->used, 1);
    ASSERT_EQ(module->instruments[19]->sample_count, 1);
    EXPECT_EQ(module->instruments[19]->sample_list[0]->type, 0);
    EXPECT_EQ(module->instruments[15]->used, 0);
    EXPECT_EQ(module->instruments[15]->sample_count, 0);
    // Instrument 1 is used but lists no samples: one empty slot.
    ASSERT_EQ(module->instruments[0]->sample_count, 1);
    EXPECT_EQ(module->instruments[0]->sample_list[0]->type, 0);
    EXPECT_EQ(module->sample_count, 2);
}

TEST_F(XmLoader, UnusedInstrumentGetsNoSlotsAndItsDataIsNeverRead) {
    SampleSpec kept;
    kept.data = {1, 2, 3};
    SampleSpec unread;
    unread.data = {9, 9};
    unread.length = 5000; // runs past the end of the file
    ModuleSpec spec = songUsing(1, {instrumentWith({kept}), instrumentWith({unread})});
    ASSERT_EQ(load(spec), errOK);
    EXPECT_EQ(module->instrument_count, 2);
    EXPECT_EQ(module->instruments[1]->sample_count, 0);
    EXPECT_EQ(module->instruments[1]->used, 0);
    EXPECT_STREQ(module->instruments[1]->name, "instrument");
    EXPECT_EQ(module->sample_count, 1);
}

TEST_F(XmLoader, SlotCountFollowsTheNoteTable) {
    SampleSpec a, b;
    a.data = {1};
    b.data = {2};
    InstrumentSpec single = instrumentWith({a, b}); // note table all 0: one slot
    InstrumentSpec triple = instrumentWith({a});
    triple.noteMap[50] = 2;
    triple.noteMap[10] = 1;
    ASSERT_EQ(load(songUsing(2, {single, triple})), errOK);
    Instrument* first = module->instruments[0];
    EXPECT_EQ(first->sample_count, 1);
    EXPECT_EQ(first->note_map, nullptr);
    EXPECT_EQ(first->sample_list[0]->data[0], 0x81);
    Instrument* second = module->instruments[1];
    ASSERT_EQ(second->sample_count, 3);
    ASSERT_NE(second->note_map, nullptr);
    EXPECT_EQ(second->note_map[50], 2);
    EXPECT_EQ(second->note_map[10], 1);
    EXPECT_EQ(second->sample_list[0]->type, 1);
    EXPECT_EQ(second->sample_list[1]->type, 0) << "slot without a file sample is empty";
    EXPECT_EQ(second->sample_list[2]->type, 0);
    // The module's table holds exactly the real slots, in order.
    ASSERT_EQ(module->sample_count, 4);
    EXPECT_EQ(module->samples[0], first->sample_list[0]);
    EXPECT_EQ(module->samples[3], second->sample_list[2]);
}

TEST_F(XmLoader, ManySlotsPerInstrumentAreAllInTheSampleTable) {
    // More than 16 slots in every instrument: the table grows with the real counts.
    std::vector<InstrumentSpec> instruments;
    for (int i = 0; i < 8; i++) {
        SampleSpec s;
        s.data = {static_cast<std::uint8_t>(i)};
        InstrumentSpec instrument = instrumentWith({s});
        instrument.noteMap[95] = 39;
        instruments.push_back(instrument);
    }
    ASSERT_EQ(load(songUsing(8, instruments)), errOK);
    ASSERT_EQ(module->sample_count, 8 * 40);
    for (int i = 0; i < 8; i++) {
        ASSERT_EQ(module->instruments[i]->sample_count, 40);
        EXPECT_EQ(module->samples[i * 40 + 39], module->instruments[i]->sample_list[39]);
    }
}

TEST_F(XmLoader, InstrumentBlockFields) {
    InstrumentSpec instrument = instrumentWith({SampleSpec{}});
    instrument.name = "a name of 22 characte";
    instrument.fadeout = 0x0400;
    instrument.vibratoWaveform = 2;
    instrument.vibratoSweep = 3;
    instrument.vibratoDepth = 4;
    instrument.vibratoRate = 5;
    instrument.volume = EnvelopeSpec{0x07, 3, 1, 0, 2, {0, 64, 10, 32, 20, 0}};
    instrument.panning = EnvelopeSpec{0x01, 2, 1, 0, 1, {0, 32, 5, 64}};
    ASSERT_EQ(load(songUsing(1, {instrument})), errOK);
    Instrument* in = module->instruments[0];
    EXPECT_STREQ(in->name, "a name of 22 characte");
    EXPECT_EQ(in->fadeout, 0x400);
    EXPECT_EQ(in->vibrato_waveform, 2);
    EXPECT_EQ(in->vibrato_sweep, 3);
    EXPECT_EQ(in->vibrato_depth, 4);
    EXPECT_EQ(in->vibrato_rate, 5);
    ASSERT_NE(in->volume_envelope, nullptr);
    EXPECT_EQ(in->volume_envelope->point_count, 3);
    EXPECT_EQ(in->volume_envelope->sustain_point, 1);
    EXPECT_EQ(in->volume_envelope->loop_start, 0);
    EXPECT_EQ(in->volume_envelope->loop_end, 2);
    EXPECT_EQ(in->volume_envelope->sustain_loop_start, 255);
    EXPECT_EQ(in->volume_envelope->sustain_loop_end, 255);
    EXPECT_EQ(in->volume_envelope->points[1].x, 10);
    EXPECT_EQ(in->volume_envelope->points[1].y, 32);
    ASSERT_NE(in->panning_envelope, nullptr);
    EXPECT_EQ(in->panning_envelope->sustain_point, 255) << "sustain bit not set";
    EXPECT_EQ(in->panning_envelope->loop_start, 255) << "loop bit not set";
    EXPECT_EQ(in->panning_envelope->points[1].y, 64);
    EXPECT_EQ(in->pitch_envelope, nullptr);
    EXPECT_EQ(in->default_panning & 0x80, 0x80) << "no instrument panning";
}

TEST_F(XmLoader, EnvelopeOffOrMalformedIsMadeSafe) {
    InstrumentSpec instrument = instrumentWith({SampleSpec{}});
    instrument.volume = EnvelopeSpec{0x06, 5, 1, 2, 3, {}}; // bit 0 clear: no envelope
    instrument.panning = EnvelopeSpec{0x07, 200, 40, 3, 3, {}};
    ASSERT_EQ(load(songUsing(1, {instrument})), errOK);
    EXPECT_EQ(module->instruments[0]->volume_envelope, nullptr);
    Envelope* pan = module->instruments[0]->panning_envelope;
    ASSERT_NE(pan, nullptr);
    EXPECT_EQ(pan->point_count, 12) << "the file has room for 12 points only";
    EXPECT_EQ(pan->sustain_point, 255) << "sustain beyond the points";
    EXPECT_EQ(pan->loop_start, 255) << "loop start equals loop end";
    EXPECT_EQ(pan->loop_end, 255);
}

// --- Samples ----------------------------------------------------------------

TEST_F(XmLoader, SampleHeaderFields) {
    SampleSpec s;
    s.data.assign(64, 0);
    s.loopStart = 8;
    s.loopLength = 16;
    s.type = 0x01;
    s.volume = 40;
    s.finetune = -16;
    s.panning = 200;
    s.relativeNote = -12;
    s.name = "twenty-two characters!";
    ASSERT_EQ(load(songUsing(1, {instrumentWith({s})})), errOK);
    Sample* out = module->samples[0];
    EXPECT_STREQ(out->name, "twenty-two characters!");
    EXPECT_EQ(out->length, 64);
    EXPECT_EQ(out->type, 1);
    EXPECT_EQ(out->loop_mode, 1);
    EXPECT_EQ(out->loop1_type, 1);
    EXPECT_EQ(out->loop1_start, 8);
    EXPECT_EQ(out->loop1_end, 24);
    EXPECT_EQ(out->loop2_type, 0);
    EXPECT_EQ(out->volume, 40);
    EXPECT_EQ(out->finetune, -16);
    EXPECT_EQ(out->panning, 200);
    EXPECT_EQ(out->relative_note, -12);
    EXPECT_EQ(out->device_handle, 0);
}

TEST_F(XmLoader, LoopsThatBecomeUnlooped) {
    auto loaded = [&](std::uint8_t type, std::uint32_t start, std::uint32_t length, std::size_t bytes = 32) {
        SampleSpec s;
        s.data.assign(bytes, 0);
        s.type = type;
        s.loopStart = start;
        s.loopLength = length;
        EXPECT_EQ(load(songUsing(1, {instrumentWith({s})})), errOK);
        return *module->samples[0];
    };
    Sample zeroLength = loaded(0x01, 4, 0);
    EXPECT_EQ(zeroLength.loop_mode, 0);
    EXPECT_EQ(zeroLength.loop1_type, 0);
    Sample bits3 = loaded(0x03, 4, 8);
    EXPECT_EQ(bits3.loop_mode, 0);
    EXPECT_EQ(bits3.loop1_type, 0);
    Sample none = loaded(0x00, 4, 8);
    EXPECT_EQ(none.loop_mode, 0);
    Sample pingPong = loaded(0x02, 4, 8);
    EXPECT_EQ(pingPong.loop_mode, 1);
    EXPECT_EQ(pingPong.loop1_type, 2);
    // A loop past the data is kept inside it, or dropped when nothing is left.
    Sample overlong = loaded(0x01, 16, 100);
    EXPECT_EQ(overlong.loop_mode, 1);
    EXPECT_EQ(overlong.loop1_start, 16);
    EXPECT_EQ(overlong.loop1_end, 32);
    Sample beyond = loaded(0x01, 40, 8);
    EXPECT_EQ(beyond.loop_mode, 0);
    EXPECT_EQ(beyond.loop1_type, 0);
    EXPECT_LE(beyond.loop1_end, beyond.length);
    Sample wrapping = loaded(0x01, 0xfffffff0u, 0x20);
    EXPECT_EQ(wrapping.loop_mode, 0);
    EXPECT_LE(wrapping.loop1_start, wrapping.length);
}

TEST_F(XmLoader, VolumeAbove64IsHeldAt64) {
    SampleSpec s;
    s.data = {0};
    s.volume = 200;
    ASSERT_EQ(load(songUsing(1, {instrumentWith({s})})), errOK);
    EXPECT_EQ(module->samples[0]->volume, 64);
}

TEST_F(XmLoader, DeltaDecoding8Bit) {
    SampleSpec s;
    s.data = {10, 5, 0xfb, 0x80, 0x7f};
    ASSERT_EQ(load(songUsing(1, {instrumentWith({s})})), errOK);
    // Running sums 10, 15, 10, 0x8a, 0x09 (wrapping), stored as sum - 128.
    const std::uint8_t expected[] = {0x8a, 0x8f, 0x8a, 0x0a, 0x89};
    ASSERT_EQ(module->samples[0]->length, 5);
    EXPECT_EQ(std::memcmp(module->samples[0]->data, expected, 5), 0);
}

TEST_F(XmLoader, DeltaDecoding16Bit) {
    SampleSpec s;
    auto le = [](int v) {
        return std::vector<std::uint8_t>{static_cast<std::uint8_t>(v & 0xff),
                                         static_cast<std::uint8_t>((v >> 8) & 0xff)};
    };
    for (int v : {1000, 500, -2000, -32768, 32767})
        for (std::uint8_t b : le(v))
            s.data.push_back(b);
    s.type = 0x10;
    ASSERT_EQ(load(songUsing(1, {instrumentWith({s})})), errOK);
    Sample* out = module->samples[0];
    EXPECT_EQ(out->type, 2);
    // Running 16-bit sums: 1000, 1500, -500, -500-32768 wraps to 32268, then 32268+32767 wraps to -501.
    const int expected[] = {1000, 1500, -500, 32268, -501};
    for (int k = 0; k < 5; k++) {
        std::int16_t v = static_cast<std::int16_t>(out->data[2 * k] | out->data[2 * k + 1] << 8);
        EXPECT_EQ(v, expected[k]) << "value " << k;
    }
}

// Long samples (decoded many bytes a pass) wrap exactly as a running sum taken a value at a time.
TEST_F(XmLoader, DeltaDecodingOfLongSamplesIsTheRunningSum) {
    std::uint32_t noise = 12345;
    const auto next = [&noise] {
        noise = noise * 1103515245u + 12345u;
        return static_cast<std::uint8_t>(noise >> 16);
    };
    SampleSpec bytes, words;
    for (int k = 0; k < 1003; k++)
        bytes.data.push_back(next());
    for (int k = 0; k < 2 * 517; k++)
        words.data.push_back(next());
    words.type = 0x10;
    ASSERT_EQ(load(songUsing(2, {instrumentWith({bytes}), instrumentWith({words})})), errOK);
    ASSERT_GE(module->sample_count, 2);
    std::uint8_t sum8 = 0;
    for (std::size_t k = 0; k < bytes.data.size(); k++) {
        sum8 = static_cast<std::uint8_t>(sum8 + bytes.data[k]);
        ASSERT_EQ(module->samples[0]->data[k], sum8 ^ 0x80) << "byte " << k;
    }
    std::uint16_t sum16 = 0;
    for (std::size_t k = 0; k < words.data.size() / 2; k++) {
        sum16 = static_cast<std::uint16_t>(sum16 + (words.data[2 * k] | words.data[2 * k + 1] << 8));
        const auto* out = module->samples[1]->data;
        ASSERT_EQ(out[2 * k] | out[2 * k + 1] << 8, sum16) << "word " << k;
    }
}

TEST_F(XmLoader, ZeroLengthSampleHasNoData) {
    SampleSpec s; // no data
    s.type = 0x11;
    ASSERT_EQ(load(songUsing(1, {instrumentWith({s})})), errOK);
    EXPECT_EQ(module->samples[0]->type, 0);
    EXPECT_EQ(module->samples[0]->data, nullptr);
}

TEST_F(XmLoader, SampleDataFollowsEachInstrumentsHeaders) {
    SampleSpec a, b, c;
    a.data = {1, 1};
    b.data = {2, 2, 2};
    c.data = {3};
    InstrumentSpec two = instrumentWith({a, b});
    two.noteMap[0] = 1;
    InstrumentSpec one = instrumentWith({c});
    one.sampleHeaderSize = 64; // longer sample headers are skipped
    ASSERT_EQ(load(songUsing(2, {two, one})), errOK);
    ASSERT_EQ(module->sample_count, 3);
    EXPECT_EQ(module->samples[0]->data[1], 0x82);
    EXPECT_EQ(module->samples[1]->data[2], 0x86);
    EXPECT_EQ(module->samples[2]->data[0], 0x83);
}

// --- Device mode ------------------------------------------------------------

TEST_F(XmLoader, DeviceModeHandsEverySlotToTheDevice) {
    SampleSpec s;
    s.data = {10, 5, 0xfb, 0x80};
    s.type = 0x02;
    s.loopStart = 1;
    s.loopLength = 2;
    InstrumentSpec instrument = instrumentWith({s});
    instrument.noteMap[0] = 1; // a second, empty slot
    ASSERT_EQ(load(songUsing(1, {instrument}), 1), errOK);
    ASSERT_EQ(recorded.size(), 2u);
    const RecordedSample& first = recorded[0];
    EXPECT_EQ(first.copy, SAMPLE_HAND_OVER); // decoded into the block the device plays
    EXPECT_EQ(first.desc.location, 1u);
    EXPECT_EQ(first.desc.type, 1u);
    EXPECT_EQ(first.desc.length, 4u);
    EXPECT_EQ(first.desc.loopMode, 1u);
    EXPECT_EQ(first.desc.loop1Start, 1u);
    EXPECT_EQ(first.desc.loop1End, 3u);
    EXPECT_EQ(first.desc.loop1Type, 2u);
    EXPECT_EQ(first.desc.loop2Type, 0u);
    EXPECT_EQ(first.data, (std::vector<std::uint8_t>{0x8a, 0x8f, 0x8a, 0x0a}));
    const RecordedSample& second = recorded[1];
    EXPECT_EQ(second.desc.data, nullptr);
    EXPECT_EQ(second.desc.location, 0u);
    EXPECT_EQ(second.desc.type, 0u);
    EXPECT_EQ(module->samples[0]->device_handle, 1);
    EXPECT_EQ(module->samples[1]->device_handle, 2);
    EXPECT_EQ(module->samples[0]->data, nullptr);
    EXPECT_EQ(free_module(module, currentDevice), errOK);
    module = nullptr;
    EXPECT_TRUE(recorded[0].removed && recorded[1].removed);
}

TEST_F(XmLoader, DeviceModeWithoutADeviceIsInvalidDevice) {
    currentDevice = nullptr;
    EXPECT_EQ(load(songUsing(1, {instrumentWith({SampleSpec{}})}), 1), errInvalidDevice);
    currentDevice = &device;
}

TEST_F(XmLoader, FailureAfterSamplesWereAddedRemovesThem) {
    SampleSpec good;
    good.data = {1, 2};
    SampleSpec bad;
    bad.data = {1};
    bad.length = 1000; // runs past the end of the file
    ASSERT_EQ(load(songUsing(2, {instrumentWith({good}), instrumentWith({bad})}), 1), errEndOfFile);
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_TRUE(recorded[0].removed);
}

TEST_F(XmLoader, CallbackSeesEverySampleAndCanStopTheLoad) {
    static int calls;
    calls = 0;
    SampleSpec s;
    s.data = {1};
    std::vector<std::uint8_t> image = build(songUsing(2, {instrumentWith({s}), instrumentWith({s})}));
    auto counting = [](Sample*) {
        calls++;
        return 0;
    };
    ASSERT_EQ(extendedModuleFormat.load_memory(image.data(), image.size(), 1, counting, &module), errOK);
    EXPECT_EQ(calls, 2);
    free_module(module, currentDevice);
    module = nullptr;
    auto failing = [](Sample*) { return static_cast<int>(errOutOfMemory); };
    EXPECT_EQ(extendedModuleFormat.load_memory(image.data(), image.size(), 1, failing, &module), errOutOfMemory);
    EXPECT_EQ(module, nullptr);
}

TEST_F(XmLoader, SamplesGoIntoTheMixer) {
    // The mixer's own sample operations, as every output device has them.
    ASSERT_EQ(mixerInit(44100, MIX_STEREO | MIX_16BIT | MIX_INTEGER), errOK);
    SoundDevice mixerDevice{};
    mixerDevice.addSample = addSample;
    mixerDevice.removeSample = removeSample;
    currentDevice = &mixerDevice;
    SampleSpec eight, sixteen;
    eight.data = {1, 2, 3, 4};
    eight.type = 0x01;
    eight.loopLength = 4;
    sixteen.data = {0, 0x10, 0, 0x10};
    sixteen.type = 0x10;
    InstrumentSpec instrument = instrumentWith({eight, sixteen});
    instrument.noteMap[60] = 2; // and one empty slot
    ASSERT_EQ(load(songUsing(1, {instrument}), 1), errOK);
    ASSERT_EQ(module->sample_count, 3);
    std::vector<std::uint32_t> handles;
    for (int k = 0; k < 3; k++) {
        EXPECT_NE(module->samples[k]->device_handle, 0);
        EXPECT_EQ(module->samples[k]->data, nullptr);
        handles.push_back(static_cast<std::uint32_t>(module->samples[k]->device_handle));
    }
    EXPECT_EQ(free_module(module, currentDevice), errOK);
    module = nullptr;
    for (std::uint32_t handle : handles)
        EXPECT_EQ(removeSample(handle), errInvalidSampleHandle) << "already removed";
    currentDevice = &device;
    EXPECT_EQ(mixerClose(), errOK);
}

// --- Files ------------------------------------------------------------------

TEST_F(XmLoader, LoadsFromAFileAndReportsFileErrors) {
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("morva_loadxm_test_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    SampleSpec s;
    s.data = {1, 2, 3};
    std::vector<std::uint8_t> image = build(songUsing(1, {instrumentWith({s})}));
    auto write = [&](const std::string& name, const std::vector<std::uint8_t>& bytes) {
        std::ofstream out(dir / name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return (dir / name).string();
    };
    std::string good = write("good.xm", image);
    ASSERT_EQ(load_extended_module(good.c_str(), 0, nullptr, &module), errOK);
    EXPECT_EQ(module->samples[0]->data[2], 0x86);
    free_module(module, nullptr);
    module = nullptr;

    std::string missing = (dir / "missing.xm").string();
    EXPECT_EQ(load_extended_module(missing.c_str(), 0, nullptr, &module), errFileNotFound);
    std::string other = write("other.xm", std::vector<std::uint8_t>(400, 'x'));
    EXPECT_EQ(load_extended_module(other.c_str(), 0, nullptr, &module), errInvalidModule);
    std::string tiny = write("tiny.xm", std::vector<std::uint8_t>(5, 'E'));
    EXPECT_EQ(load_extended_module(tiny.c_str(), 0, nullptr, &module), errEndOfFile);
    std::vector<std::uint8_t> cut(image.begin(), image.end() - 2);
    std::string truncated = write("truncated.xm", cut);
    EXPECT_EQ(load_extended_module(truncated.c_str(), 0, nullptr, &module), errEndOfFile);
    EXPECT_EQ(module, nullptr);
    std::filesystem::remove_all(dir);
}

// --- Real files ---------------------------------------------------------------

namespace {

// The shared module corpus, plus the show's own music when the build has made it.
std::vector<std::string> corpus() {
    std::vector<std::string> files = corpusFiles(".xm");
    std::error_code error;
    for (const char* music : {"mopart1.xm", "mopart2.xm"}) {
        std::filesystem::path made = std::filesystem::path(MORVA_DATA_DIR) / music;
        if (std::filesystem::exists(made, error)) files.push_back(made.string());
    }
    return files;
}

} // namespace

TEST_F(XmLoader, EveryCorpusFileLoadsInBothModesAndFreesEveryBlock) {
    std::vector<std::string> files = corpus();
    if (files.empty()) GTEST_SKIP() << "no XM files in " << MORVA_MODULES_DIR;
    for (const std::string& name : files)
        expectBothModesAgree(extendedModuleFormat.load_memory, name);
}

TEST_F(XmLoader, DamagedCopiesOfARealFileNeverCrashOrLeak) {
    std::vector<std::string> files = corpus();
    std::vector<std::uint8_t> original;
    if (!files.empty()) {
        original = smallestFile(files);
    } else {
        SampleSpec s;
        s.data.assign(500, 3);
        s.type = 0x01;
        s.loopLength = 100;
        ModuleSpec spec = songUsing(2, {instrumentWith({s}), instrumentWith({s, s})});
        original = build(spec);
    }
    // Mostly damage the headers, where the structure lives.
    DamageCounts counts = loadDamagedCopies(extendedModuleFormat.load_memory, original, {{0, 2000}}, 2000);
    EXPECT_GT(counts.loaded, 0) << "some damaged copies should still load";
}
