#include "player_fixture.h"

#include <gtest/gtest.h>

using namespace playertest;

namespace {

constexpr std::uint8_t C4 = note(4, 0);
constexpr std::uint8_t D4 = note(4, 2);

std::vector<int> tempoRates;
void recordTempo(int rate) {
    tempoRates.push_back(rate);
}

std::vector<std::vector<int>> syncs;
void recordSync(int value, int position, int row) {
    syncs.push_back({value, position, row});
}

// Patterns of n rows, each empty.
std::vector<PatternSpec> emptyPatterns(int count, int n) {
    std::vector<PatternSpec> out(static_cast<std::size_t>(count));
    for (PatternSpec& p : out)
        p.rows = n;
    return out;
}

} // namespace

TEST_F(PlayerTest, SpeedSixReadsTheFirstRowOnTheSixthTickThenRunsFiveEffectTicks) {
    PlayHandle* h = start(song(playModeExtended, {{{0, C4, 0}}, {{0, D4, 0}}}));
    ticks(5);
    EXPECT_TRUE(callsOf("start").empty()) << "the first five ticks only run effects";
    ticks(1);
    ASSERT_EQ(callsOf("start").size(), 1u);
    EXPECT_EQ(callsOf("start")[0].value, 8363) << "C-4 of an untuned Extended Module sample";
    EXPECT_EQ(h->tick, 0);
    for (int t = 1; t <= 5; t++) {
        ticks(1);
        EXPECT_EQ(h->tick, t);
    }
    EXPECT_EQ(callsOf("start").size(), 1u);
    EXPECT_EQ(status(h).row, 0);
    ticks(1);
    EXPECT_EQ(callsOf("start").size(), 2u);
    EXPECT_EQ(status(h).row, 1);
}

TEST_F(PlayerTest, TempoSetsTheUpdateRateAndCallsTheTempoCallback) {
    EXPECT_EQ(lastValue("update"), 5000) << "tempo 125 at start: 50 ticks a second";
    ModuleSpec spec = song(
        playModeExtended, {{}, {{0, 255, 255, -1, cmdSetTempo, 0x20}}, {{0, 255, 255, -1, cmdSetTempo, 31}}});
    spec.tempo = 150;
    PlayHandle* h = start(spec);
    EXPECT_EQ(lastValue("update"), 6000);
    tempoRates.clear();
    ASSERT_EQ(gmp_set_tempo_callback(recordTempo), errOK);
    EXPECT_EQ(tempoRates, std::vector<int>{6000}) << "called at once with the current rate";
    rows(2);
    EXPECT_EQ(lastValue("update"), 1280);
    EXPECT_EQ(status(h).tempo, 32);
    rows(1);
    EXPECT_EQ(lastValue("update"), 1280) << "tempo 31 and below is not a tempo";
    EXPECT_EQ(tempoRates, (std::vector<int>{6000, 1280}));
    ASSERT_EQ(gmp_set_tempo_callback(nullptr), errOK);
}

TEST_F(PlayerTest, NotePeriodsOfEveryPlayMode) {
    Sample s{};
    // Protracker: table P by finetune, shifted by the octave.
    EXPECT_EQ(gmp_note_period(playModeProtracker, 0, &s, 2, 0), 428);
    s.finetune = 8; // -8
    EXPECT_EQ(gmp_note_period(playModeProtracker, 0, &s, 1, 0), 907);
    s.finetune = 15;
    EXPECT_EQ(gmp_note_period(playModeProtracker, 0, &s, 3, 11), 914 >> 3);
    EXPECT_EQ(gmp_note_period(playModeProtracker, 0, &s, 2, 12), 1724 >> 3)
        << "semitone 12 is the next octave";
    EXPECT_EQ(gmp_note_period(playModeProtracker, 0, &s, 40, 0), 0) << "shifted out: no period";

    // Extended Module, Amiga table with finetune interpolation.
    s = Sample{};
    EXPECT_EQ(gmp_note_period(playModeExtended, 0, &s, 4, 0), 1712);
    s.finetune = 8;
    EXPECT_EQ(gmp_note_period(playModeExtended, 0, &s, 4, 0), 1706);
    s.finetune = -8;
    EXPECT_EQ(gmp_note_period(playModeExtended, 0, &s, 4, 0), 1718);
    s.finetune = 127; // semitone 11 interpolates towards index 96, the next octave's C
    EXPECT_EQ(gmp_note_period(playModeExtended, 0, &s, 4, 11), 856);
    s.finetune = -128; // index -9 has no weight at finetune -128
    EXPECT_EQ(gmp_note_period(playModeExtended, 0, &s, 4, 0), 1814);
    s.finetune = 0;
    s.relative_note = -1;
    EXPECT_EQ(gmp_note_period(playModeExtended, 0, &s, 0, 0), 27392)
        << "note 0 with relative note -1 clamps to n = 0";
    s.relative_note = 1000;
    EXPECT_EQ(gmp_note_period(playModeExtended, 0, &s, 0, 0), 30) << "n clamps to 118: A[80] x 2 >> 9";

    // Extended Module, linear.
    s = Sample{};
    EXPECT_EQ(gmp_note_period(playModeExtended, moduleLinearFrequency, &s, 4, 0), 4608);
    s.finetune = -3;
    EXPECT_EQ(gmp_note_period(playModeExtended, moduleLinearFrequency, &s, 4, 0), 4609)
        << "-3 / 2 rounds toward zero";
    s.relative_note = -1;
    s.finetune = 0;
    EXPECT_EQ(gmp_note_period(playModeExtended, moduleLinearFrequency, &s, 0, 0), 7680);

    // Scream Tracker 3 and Impulse Tracker divide by the middle-C rate.
    s = Sample{};
    s.middle_c_rate = 8363;
    EXPECT_EQ(gmp_note_period(playModeScreamTracker3, 0, &s, 4, 0), 1712);
    EXPECT_EQ(gmp_note_period(playModeImpulse, 0, &s, 5, 0), 1712) << "IT's middle C is octave 5";
    EXPECT_EQ(gmp_note_period(playModeScreamTracker3, 0, &s, 5, 11), 453);
    s.middle_c_rate = 0;
    EXPECT_EQ(gmp_note_period(playModeScreamTracker3, 0, &s, 4, 0), 0)
        << "a sample without a rate cannot sound";
    s.middle_c_rate = -5;
    EXPECT_EQ(gmp_note_period(playModeImpulse, 0, &s, 4, 0), 0);
    EXPECT_EQ(gmp_note_period(playModeImpulse, 0, nullptr, 4, 0), 0);
}

TEST(PlayerRates, PeriodToRateOfEveryPlayMode) {
    std::uint32_t rate = 0;
    ASSERT_EQ(gmp_period_rate(playModeProtracker, 0, 428, &rate), errOK);
    EXPECT_EQ(rate, 8287u);
    ASSERT_EQ(gmp_period_rate(playModeExtended, 0, 1712, &rate), errOK);
    EXPECT_EQ(rate, 8363u);
    ASSERT_EQ(gmp_period_rate(playModeScreamTracker3, 0, 1712, &rate), errOK);
    EXPECT_EQ(rate, 8362u);
    ASSERT_EQ(gmp_period_rate(playModeImpulse, 0, 1712, &rate), errOK);
    EXPECT_EQ(rate, 8362u);
    // Linear: L[p mod 768] >> (p / 768), L[0..2] = 535232, 534749, 534266.
    ASSERT_EQ(gmp_period_rate(playModeExtended, moduleLinearFrequency, 768 * 6, &rate), errOK);
    EXPECT_EQ(rate, 535232u >> 6);
    ASSERT_EQ(gmp_period_rate(playModeExtended, moduleLinearFrequency, 1, &rate), errOK);
    EXPECT_EQ(rate, 534749u);
    ASSERT_EQ(gmp_period_rate(playModeExtended, moduleLinearFrequency, 768 + 2, &rate), errOK);
    EXPECT_EQ(rate, 534266u >> 1);
    ASSERT_EQ(gmp_period_rate(playModeExtended, moduleLinearFrequency, 54784, &rate), errOK);
    EXPECT_EQ(rate, 0u) << "periods 32 octaves down shift everything out";
    ASSERT_EQ(gmp_period_rate(playModeExtended, 0, 54784, &rate), errOK);
    EXPECT_EQ(rate, 14317456u / 54784);
    EXPECT_EQ(gmp_period_rate(playModeProtracker, 0, 0, &rate), errInvalidPattern);
    EXPECT_EQ(gmp_period_rate(playModeExtended, moduleLinearFrequency, -5, &rate), errInvalidPattern);
}

TEST(PlayerEnvelope, InterpolatesHoldsAtTheSustainPointAndLoops) {
    Envelope e{};
    e.point_count = 3;
    e.sustain_point = e.loop_start = e.loop_end = e.sustain_loop_start = e.sustain_loop_end = 255;
    e.points[0] = {0, 0};
    e.points[1] = {10, 64};
    e.points[2] = {20, 32};
    EnvelopeState st{};
    std::vector<int> values;
    for (int t = 0; t < 24; t++)
        values.push_back(gmp_envelope_value(&e, &st, 0));
    EXPECT_EQ(values[0], 0);
    EXPECT_EQ(values[5], 1638 * 5) << "the step per tick is truncated before it is multiplied";
    EXPECT_EQ(values[10], 64 * 256);
    EXPECT_EQ(values[15], 64 * 256 - 819 * 5);
    EXPECT_EQ(values[20], 32 * 256);
    EXPECT_EQ(values[23], 32 * 256) << "the position stops at the last point";
    EXPECT_EQ(st.position, 20);

    // Sustain at point 1: held until the key is let go.
    e.sustain_point = 1;
    st = {};
    for (int t = 0; t < 30; t++)
        gmp_envelope_value(&e, &st, 0);
    EXPECT_EQ(st.position, 10);
    EXPECT_EQ(st.hold, 1);
    EXPECT_EQ(gmp_envelope_value(&e, &st, 0), 64 * 256);
    st.hold = 0; // the key-off note clears the hold flags
    gmp_envelope_value(&e, &st, 1);
    EXPECT_EQ(st.position, 11);
    EXPECT_EQ(gmp_envelope_value(&e, &st, 1), 64 * 256 - 819);

    // Loop from point 1 to point 2: the position never reaches the loop end.
    e.sustain_point = 255;
    e.loop_start = 1;
    e.loop_end = 2;
    st = {};
    std::vector<int> positions;
    for (int t = 0; t < 30; t++) {
        positions.push_back(st.position);
        gmp_envelope_value(&e, &st, 0);
    }
    EXPECT_EQ(positions[19], 19);
    EXPECT_EQ(positions[20], 10);
    EXPECT_EQ(positions[29], 19);

    // Sustain loop: acts while the key is held (with a sustain point set).
    e.loop_start = e.loop_end = 255;
    e.sustain_loop_start = 0;
    e.sustain_loop_end = 1;
    e.sustain_point = 2;
    st = {};
    for (int t = 0; t < 25; t++)
        gmp_envelope_value(&e, &st, 0);
    EXPECT_LT(st.position, 10);
    for (int t = 0; t < 25; t++)
        gmp_envelope_value(&e, &st, 1);
    EXPECT_EQ(st.position, 20) << "let go, the envelope runs to its end";
}

TEST(PlayerEnvelope, DamagedEnvelopesGiveDefinedValues) {
    EnvelopeState st{};
    Envelope e{};
    e.sustain_point = e.loop_start = e.loop_end = e.sustain_loop_start = e.sustain_loop_end = 255;
    EXPECT_EQ(gmp_envelope_value(&e, &st, 0), 0) << "no points";
    EXPECT_EQ(gmp_envelope_value(nullptr, &st, 0), 0);

    // A first point after 0: its value, no point before it is read.
    e.point_count = 2;
    e.points[0] = {10, 5};
    e.points[1] = {20, 50};
    EXPECT_EQ(gmp_envelope_value(&e, &st, 0), 5 * 256);

    // Positions that do not increase never divide by zero.
    e.point_count = 3;
    e.points[0] = {0, 0};
    e.points[1] = {0, 64};
    e.points[2] = {0, 32};
    st = {};
    EXPECT_EQ(gmp_envelope_value(&e, &st, 0), 0);
    EXPECT_EQ(st.position, 0);
    e.points[0] = {10, 0};
    e.points[1] = {5, 64};
    e.points[2] = {20, 32};
    st = {};
    for (int t = 0; t < 40; t++) {
        const int v = gmp_envelope_value(&e, &st, 0);
        EXPECT_GE(v, 0);
        EXPECT_LE(v, 64 * 256);
    }

    // Loop start after its end, indices beyond the points, a count beyond the room.
    e.loop_start = 2;
    e.loop_end = 1;
    st = {};
    for (int t = 0; t < 40; t++)
        gmp_envelope_value(&e, &st, 0);
    EXPECT_EQ(st.position, 20);
    e.loop_start = 0;
    e.loop_end = 200;
    e.sustain_point = 99;
    e.sustain_loop_start = 1;
    e.sustain_loop_end = 77;
    e.point_count = 255;
    st = {};
    for (int t = 0; t < 70000; t++)
        gmp_envelope_value(&e, &st, 0);
    EXPECT_EQ(st.hold, 0);

    // Extreme values stay within int.
    e = Envelope{};
    e.sustain_point = e.loop_start = e.loop_end = e.sustain_loop_start = e.sustain_loop_end = 255;
    e.point_count = 2;
    e.points[0] = {0, -32768};
    e.points[1] = {65535, 32767};
    st = {};
    st.position = 65534;
    EXPECT_EQ(gmp_envelope_value(&e, &st, 0), -32768 * 256 + (65535 * 256 / 65535) * 65534);
}

TEST_F(PlayerTest, OrderEntriesFFFEAreSkippedAndFFFFEndsTheSong) {
    ModuleSpec spec;
    spec.speed = 1;
    spec.orders = {0, 0xfffe, 1, 0xffff, 2};
    spec.patterns = emptyPatterns(3, 1);
    PlayHandle* h = start(spec);
    auto seen = visit(h, 4);
    EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{0, 0}, {2, 0}, {0, 0}, {2, 0}}));
    EXPECT_EQ(status(h).loop_count, 2);
}

TEST_F(PlayerTest, WithoutLoopingTheSongStopsAfterOneWrapAtTheRestartPosition) {
    ModuleSpec spec;
    spec.speed = 1;
    spec.orders = {0, 1};
    spec.patterns = emptyPatterns(2, 2);
    spec.patterns[1].cells = {{}, {{0, C4, 0}}};
    PlayHandle* h = start(spec, 0);
    auto seen = visit(h, 4);
    EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{0, 0}, {0, 1}, {1, 0}, {1, 1}}));
    const std::size_t callsAtEnd = calls.size();
    ticks(20);
    EXPECT_EQ(calls.size(), callsAtEnd) << "a wrapped song is no longer advanced";
    SongStatus s = status(h);
    EXPECT_EQ(s.position, 0);
    EXPECT_EQ(s.row, 0);
    EXPECT_EQ(s.loop_count, 1);
}

TEST_F(PlayerTest, ASeventeenthSongIsRefused) {
    ModuleSpec spec;
    Module* m = buildModule(spec);
    modules.push_back(m);
    PlayHandle* handles[maxSongs] = {};
    for (PlayHandle*& h : handles)
        ASSERT_EQ(gmp_play_song(m, -1, 0, 0, 1, -1, nullptr, &h), errOK);
    PlayHandle* extra = nullptr;
    EXPECT_EQ(gmp_play_song(m, -1, 0, 0, 1, -1, nullptr, &extra), errOutOfResources);
    EXPECT_EQ(extra, nullptr);
    ticks(12);
    for (PlayHandle* h : handles)
        EXPECT_EQ(status(h).row, 1) << "the other songs play on";
    ASSERT_EQ(gmp_stop_song(handles[3]), errOK);
    EXPECT_EQ(gmp_stop_song(handles[3]), errInvalidArguments) << "a stopped song is no longer known";
    EXPECT_EQ(gmp_play_song(m, -1, 0, 0, 1, -1, nullptr, &extra), errOK);
    EXPECT_EQ(extra->slot, 3);
}

TEST_F(PlayerTest, BadArgumentsAreRefused) {
    PlayHandle* h = nullptr;
    EXPECT_EQ(gmp_play_song(nullptr, -1, 0, 0, 1, -1, nullptr, &h), errInvalidArguments);
    ModuleSpec spec;
    h = start(spec);
    EXPECT_EQ(gmp_set_channel_volume(h, 4, 10), errInvalidChannel);
    EXPECT_EQ(gmp_set_channel_volume(h, -1, 10), errInvalidChannel);
    EXPECT_EQ(gmp_set_channel_volume(nullptr, 0, 10), errInvalidArguments);
    EXPECT_EQ(gmp_get_status(nullptr, nullptr), errInvalidArguments);
    EXPECT_EQ(gmp_init(nullptr), errInvalidDevice);
}

TEST_F(PlayerTest, TicksWaitWhileASongIsBeingStarted) {
    PlayHandle* h = start(song(playModeExtended, {}));
    gmp.setup_busy = 1;
    ticks(10);
    EXPECT_EQ(h->tick, 0);
    gmp.setup_busy = 0;
    ticks(1);
    EXPECT_EQ(h->tick, 1);
}

// 80 is neither a volume nor one of Extended Module's volume-column commands.
TEST_F(PlayerTest, VolumeByteEightyChangesNothing) {
    ModuleSpec spec = song(playModeExtended, {{{0, C4, 0, 80}}, {{0, 255, 255, 80}}, {{0, 255, 255, 20}}});
    spec.instruments[0].samples[0].volume = 40;
    PlayHandle* h = start(spec);
    rows(1);
    EXPECT_EQ(h->channels[0].volume, 40);
    rows(1);
    EXPECT_EQ(h->channels[0].volume, 40);
    ticks(5);
    EXPECT_EQ(h->channels[0].volume, 40) << "nor on the row's later ticks";
    ticks(1);
    EXPECT_EQ(h->channels[0].volume, 20);
}

TEST_F(PlayerTest, ExtendedKeyOffWithoutAVolumeEnvelopeSilencesAtOnce) {
    PlayHandle* h = start(song(playModeExtended, {{{0, C4, 0}}, {{0, noteKeyOff}}}));
    rows(1);
    EXPECT_EQ(lastValue("volume", 0), 64);
    rows(1);
    EXPECT_EQ(h->channels[0].volume, 0);
    EXPECT_EQ(h->channels[0].key_off, 1);
    EXPECT_EQ(lastValue("volume", 0), 0);
}

TEST_F(PlayerTest, ExtendedKeyOffWithAnInstrumentKeepsTheVolume) {
    PlayHandle* h = start(song(playModeExtended, {{{0, C4, 0}}, {{0, noteKeyOff, 0}}}));
    rows(2);
    EXPECT_EQ(h->channels[0].volume, 64) << "the instrument byte restores the sample's volume";
    EXPECT_EQ(h->channels[0].key_off, 1);
}

TEST_F(PlayerTest, ExtendedKeyOffLeavesTheSustainPointAndFades) {
    ModuleSpec spec = song(playModeExtended, {{{0, C4, 0}}, {}, {}, {{0, noteKeyOff}}});
    InstrumentSpec& ins = spec.instruments[0];
    ins.volumeEnvelopeOn = true;
    ins.volumeEnvelope.points = {{0, 64}, {4, 32}, {100, 0}};
    ins.volumeEnvelope.sustain = 1;
    ins.fadeout = 4096;
    PlayHandle* h = start(spec);
    rows(3);
    ChannelState& ch = h->channels[0];
    EXPECT_EQ(ch.volume_env.position, 4);
    EXPECT_EQ(ch.volume_env.hold, 1);
    EXPECT_EQ(lastValue("volume", 0), 32) << "held at the sustain point's value";
    EXPECT_EQ(ch.fade_volume, 65536);
    rows(1);
    EXPECT_EQ(ch.volume, 64) << "the envelope takes over, the volume stays";
    EXPECT_EQ(ch.key_off, 1);
    EXPECT_EQ(ch.volume_env.hold, 0);
    EXPECT_EQ(ch.fade_volume, 65536 - 8192) << "fading shows from the next tick";
    ticks(1);
    EXPECT_EQ(ch.fade_volume, 65536 - 2 * 8192);
    EXPECT_EQ(ch.volume_env.position, 6);
    ticks(10);
    EXPECT_EQ(ch.fade_volume, 0);
    EXPECT_EQ(lastValue("volume", 0), 0);
}

TEST_F(PlayerTest, AnInstrumentByteWithoutANoteRestoresTheSampleVolumeAndPanning) {
    ModuleSpec spec =
        song(playModeExtended, {{{0, C4, 0, 20}}, {{0, 255, 255, -1, cmdSetPanning, 0}}, {{0, 255, 0}}});
    spec.instruments[0].samples[0].volume = 50;
    spec.instruments[0].samples[0].panning = 200;
    PlayHandle* h = start(spec);
    rows(2);
    EXPECT_EQ(h->channels[0].volume, 20);
    EXPECT_EQ(h->channels[0].panning, 0);
    rows(1);
    EXPECT_EQ(h->channels[0].volume, 50);
    EXPECT_EQ(h->channels[0].panning, 200);
    EXPECT_EQ(callsOf("start").size(), 1u);
}

TEST_F(PlayerTest, ExtendedNoteMapsChooseTheSample) {
    ModuleSpec spec =
        song(playModeExtended, {{{0, note(4, 0), 0}}, {{0, note(5, 0), 0}}, {{0, note(6, 0), 0}}});
    InstrumentSpec& ins = spec.instruments[0];
    ins.samples = {SampleSpec{}, SampleSpec{}};
    ins.noteMap.assign(96, 0);
    ins.noteMap[60] = 1;
    ins.noteMap[72] = 7; // beyond the instrument's samples
    PlayHandle* h = start(spec);
    rows(1);
    EXPECT_EQ(lastValue("sample", 0), 1);
    rows(1);
    EXPECT_EQ(lastValue("sample", 0), 2);
    EXPECT_EQ(h->channels[0].sample, 1);
    rows(1);
    EXPECT_EQ(h->channels[0].sample, 255);
    EXPECT_EQ(callsOf("start").size(), 2u) << "a note without a sample starts nothing";
}

TEST_F(PlayerTest, ImpulseKeyboardTablePlaysItsNoteOnce) {
    // C-5 plays D-5 with the second sample; D-5 would play E-5. The table must
    // not be applied twice to one note.
    ModuleSpec spec = song(playModeImpulse, {{{0, note(5, 0), 0}}, {{0, note(5, 0)}}});
    InstrumentSpec& ins = spec.instruments[0];
    ins.samples = {SampleSpec{}, SampleSpec{}};
    ins.noteMap.assign(240, 0);
    for (int n = 0; n < 120; n++)
        ins.noteMap[2 * n] = static_cast<std::uint8_t>(n);
    ins.noteMap[2 * 60] = 62;
    ins.noteMap[2 * 60 + 1] = 1;
    ins.noteMap[2 * 62] = 64;
    ins.defaultPanning = 16;
    PlayHandle* h = start(spec);
    rows(1);
    EXPECT_EQ(h->channels[0].note, note(5, 2));
    EXPECT_EQ(lastValue("sample", 0), 2);
    std::uint32_t rate = 0;
    ASSERT_EQ(gmp_period_rate(playModeImpulse, 0, 1524, &rate), errOK); // D-5 at 8363
    EXPECT_EQ(lastValue("start", 0), rate);
    EXPECT_EQ(lastValue("panning", 0), 16 * 2 - 64) << "the instrument's default panning";
    rows(1);
    EXPECT_EQ(h->channels[0].note, note(5, 2));
    EXPECT_EQ(lastValue("start", 0), rate);
}

TEST_F(PlayerTest, KeyOffAndNoteStopByPlayMode) {
    const std::vector<std::vector<Cell>> cells = {
        {{0, C4, 0}}, {{0, noteKeyOff}}, {{0, C4}}, {{0, noteStop}}};
    struct Expect {
        int mode;
        const char* keyOff;
    };
    for (Expect e : {Expect{playModeProtracker, "release"}, Expect{playModeScreamTracker3, "stop"},
                     Expect{playModeImpulse, "release"}}) {
        SCOPED_TRACE(e.mode);
        calls.clear();
        PlayHandle* h = start(song(e.mode, cells));
        rows(1);
        calls.clear();
        rows(1);
        EXPECT_EQ(callsOf(e.keyOff, 0).size(), 1u);
        if (e.mode == playModeImpulse) {
            EXPECT_EQ(h->channels[0].key_off, 1);
        }
        rows(1);
        if (e.mode == playModeImpulse) {
            EXPECT_EQ(h->channels[0].key_off, 0) << "a bare note holds the key again";
        }
        calls.clear();
        rows(1);
        EXPECT_EQ(callsOf("stop", 0).size(), 1u) << "253 stops the sound";
        ASSERT_EQ(gmp_stop_song(h), errOK);
    }
}

TEST_F(PlayerTest, SamplesTheDeviceNeverGotAreNotSelected) {
    ModuleSpec spec = song(playModeExtended, {{{0, C4, 0}}});
    spec.instruments[0].samples[0].handle = 0;
    PlayHandle* h = start(spec);
    rows(1);
    EXPECT_TRUE(callsOf("sample").empty());
    EXPECT_TRUE(callsOf("start").empty());
    EXPECT_EQ(callsOf("stop", 0).size(), 1u) << "the note silences the channel instead";
    EXPECT_EQ(h->channels[0].sample, 0);
}

TEST_F(PlayerTest, EntriesForChannelsBeyondTheSongAreSkipped) {
    ModuleSpec spec = song(playModeExtended, {{{3, C4, 0, 10, cmdSetSpeed, 1}, {0, D4, 0}}});
    spec.channels = 2;
    PlayHandle* h = start(spec);
    rows(1);
    EXPECT_EQ(h->speed, 6);
    EXPECT_EQ(callsOf("start").size(), 1u);
    EXPECT_EQ(h->channels[0].note, D4);
}

TEST_F(PlayerTest, PatternDataShorterThanItsRowsEndsTheRows) {
    ModuleSpec spec =
        song(playModeExtended, {{{0, C4, 0}}, {{0, D4, 0, 30, cmdSetVolume, 10}}, {{0, C4, 0}}});
    spec.patterns[0].rows = 3;
    spec.patterns[0].sizeAdjust = -3; // the third row's entry is cut short, and so is its end
    PlayHandle* h = start(spec);
    rows(2);
    EXPECT_EQ(h->channels[0].volume, 10);
    EXPECT_EQ(callsOf("start").size(), 2u);
    rows(1);
    EXPECT_EQ(callsOf("start").size(), 2u) << "a cut-off entry is not read";
    rows(1);
    EXPECT_EQ(callsOf("start").size(), 3u) << "the next pass reads the pattern afresh";
}

TEST_F(PlayerTest, SetPositionSkipsMarkersInItsDirection) {
    ModuleSpec spec;
    spec.orders = {0xfffe, 0, 0xfffe, 1, 0xffff};
    spec.patterns = emptyPatterns(2, 4);
    spec.restart = 1;
    PlayHandle* h = start(spec);
    EXPECT_EQ(h->position, 1) << "a song starting on 0xFFFE starts at the next entry";
    ASSERT_EQ(gmp_set_position(h, 2), errOK);
    EXPECT_EQ(h->position, 3);
    EXPECT_EQ(h->pattern, 1);
    ASSERT_EQ(gmp_set_position(h, 2), errOK);
    EXPECT_EQ(h->position, 1) << "moving back skips downwards";
    ASSERT_EQ(gmp_set_position(h, 4), errOK);
    EXPECT_EQ(h->position, 1) << "forward past the trailing markers wraps to the restart position";
    ASSERT_EQ(gmp_set_position(h, 0), errOK);
    EXPECT_EQ(h->position, 3) << "back past the first entry wraps to the end";
    ASSERT_EQ(gmp_set_position(h, 99), errOK);
    EXPECT_EQ(h->position, 1) << "beyond the song: the restart position";
    ASSERT_EQ(gmp_set_position(h, 3), errOK);
    ASSERT_EQ(gmp_set_position(h, -1), errOK);
    EXPECT_EQ(h->position, 1) << "negative: the last entry, here a marker passed forwards";
    EXPECT_EQ(h->row, 0);
    EXPECT_EQ(h->row_data, nullptr);
    ASSERT_EQ(gmp_set_position(h, 3), errOK);
    rows(2);
    EXPECT_EQ(status(h).position, 3);
    EXPECT_EQ(status(h).row, 1);
}

TEST_F(PlayerTest, OutputVolumeCombinesGlobalChannelAndMasterVolumes) {
    ModuleSpec spec = song(playModeScreamTracker3, {{{0, C4, 0}}});
    spec.globalVolume = 32;
    PlayHandle* h = start(spec);
    rows(1);
    EXPECT_EQ(lastValue("volume", 0), (63 * 32 * 64 * 64 + 0x3ffff) >> 18);
    ASSERT_EQ(gmp_set_master_volume(h, 200), errOK);
    EXPECT_EQ(h->master_volume, 64);
    ASSERT_EQ(gmp_set_channel_volume(h, 0, 16), errOK);
    ticks(1);
    EXPECT_EQ(lastValue("volume", 0), (63 * 32 * 16 * 64 + 0x3ffff) >> 18);
    ASSERT_EQ(gmp_set_master_volume(h, 0), errOK);
    ticks(1);
    EXPECT_EQ(lastValue("volume", 0), 0);
}

TEST_F(PlayerTest, ExtendedPanningEnvelopeSwingsWithinTheRoomLeft) {
    ModuleSpec spec = song(playModeExtended, {{{0, C4, 0}}});
    InstrumentSpec& ins = spec.instruments[0];
    ins.panningEnvelopeOn = true;
    ins.panningEnvelope.points = {{0, 64}};
    ins.samples[0].panning = 128;
    start(spec);
    rows(1);
    EXPECT_EQ(lastValue("panning", 0), 63) << "full right from the centre";
    ModuleSpec left = spec;
    left.instruments[0].panningEnvelope.points = {{0, 0}};
    left.instruments[0].samples[0].panning = 64;
    calls.clear();
    PlayHandle* h = start(left);
    rows(1);
    EXPECT_EQ(lastValue("panning", h->channels[0].device_channel), -64);
}

TEST_F(PlayerTest, ImpulsePanningEnvelopeIsScaledToThePanningRange) {
    ModuleSpec spec = song(playModeImpulse, {{{0, note(5, 0), 0}}});
    InstrumentSpec& ins = spec.instruments[0];
    ins.panningEnvelopeOn = true;
    ins.panningEnvelope.points = {{0, 16}};
    ins.defaultPanning = 32;
    PlayHandle* h = start(spec);
    rows(1);
    EXPECT_EQ(lastValue("panning", 0), (32 + 16) * 2 - 64);
    h->channels[0].panning = 48;
    ticks(1);
    EXPECT_EQ(lastValue("panning", 0), (48 + 16 * 16 / 32) * 2 - 64);
}

TEST_F(PlayerTest, AutomaticVibratoRampsAndSwings) {
    ModuleSpec spec = song(playModeExtended, {{{0, C4, 0}}, {}, {{0, noteKeyOff}}});
    InstrumentSpec& ins = spec.instruments[0];
    ins.vibratoDepth = 8;
    ins.vibratoRate = 64;
    ins.vibratoWaveform = 1; // square
    ins.vibratoSweep = 4;
    ins.volumeEnvelopeOn = true;
    ins.volumeEnvelope.points = {{0, 64}};
    PlayHandle* h = start(spec);
    rows(1);
    ChannelState& ch = h->channels[0];
    EXPECT_EQ(ch.autovib_ramp, 512);
    EXPECT_EQ(ch.autovib_position, 64);
    EXPECT_EQ(ch.final_period, 1712 + (-64 * 512 >> 14));
    ticks(1);
    EXPECT_EQ(ch.final_period, 1712 + (64 * 1024 >> 14));
    ticks(10);
    EXPECT_EQ(ch.autovib_ramp, 2048) << "capped at the depth";
    rows(1);
    EXPECT_EQ(ch.key_off, 1);
    ch.autovib_ramp = 1000;
    ticks(1);
    EXPECT_EQ(ch.autovib_ramp, 1000) << "the sweep stops once the key is let go";
}

TEST_F(PlayerTest, ImpulseFadesByTheFadeoutStepFrom1024) {
    // The tracker counts the fade-out down from 1024: a fade-out of 128 takes eight ticks.
    ModuleSpec spec = song(playModeImpulse, {{{0, note(5, 0), 0}}, {{0, noteKeyOff}}});
    spec.instruments[0].fadeout = 128;
    PlayHandle* h = start(spec);
    rows(2);
    EXPECT_EQ(h->channels[0].fade_volume, 1024 - 128);
    EXPECT_EQ(lastValue("volume", 0), 64);
    ticks(1);
    EXPECT_EQ(lastValue("volume", 0), 64 * 896 >> 10);
    ticks(6);
    EXPECT_EQ(h->channels[0].fade_volume, 0);
    EXPECT_EQ(lastValue("volume", 0), 64 * 128 >> 10);
    ticks(1);
    EXPECT_EQ(lastValue("volume", 0), 0);
}

TEST_F(PlayerTest, TheSyncCommandReportsItsValueAndPlace) {
    ModuleSpec spec = song(playModeExtended, {{}, {}, {{0, 255, 255, -1, cmdSync, 7}}});
    PlayHandle* h = start(spec);
    syncs.clear();
    ASSERT_EQ(gmp_set_sync_callback(h, recordSync), errOK);
    EXPECT_EQ(status(h).sync_value, -1);
    rows(3);
    EXPECT_EQ(status(h).sync_value, 7);
    EXPECT_EQ(syncs, (std::vector<std::vector<int>>{{7, 0, 2}}));
}

TEST_F(PlayerTest, ACommandBeyondTheTableIsInvalidPatternData) {
    PlayHandle* h = start(song(playModeExtended, {{{0, 255, 255, -1, 40, 1}}}));
    ticks(5);
    EXPECT_EQ(gmp_play(), errInvalidPattern);
    (void)h;
}

TEST_F(PlayerTest, DamagedSongsPlayWithoutFault) {
    // Song length 0, a missing pattern, a null instrument, speed 0.
    ModuleSpec empty;
    empty.orders = {};
    PlayHandle* a = start(empty);
    ModuleSpec missing;
    missing.orders = {0, 7, 0xfffe};
    missing.speed = 0;
    missing.instruments.push_back(InstrumentSpec{});
    missing.instruments[0].null = true;
    missing.patterns[0].rows = 2;
    missing.patterns[0].cells = {{{0, C4, 0}, {1, C4, 1}, {2, C4, 9}}};
    PlayHandle* b = start(missing);
    ticks(66 * 6);
    EXPECT_EQ(status(a).loop_count, 1) << "64 empty rows, then the song wraps";
    EXPECT_EQ(status(b).loop_count, 6) << "speed 0 reads a row on every tick: 2 + 64 rows a pass";
    EXPECT_EQ(callsOf("start").size(), 6u) << "only the instrument that exists sounds";
}
