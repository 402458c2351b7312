// Rules of one tracker that a test module of the peer suite showed: each with a pattern built
// here, played on the recording device, and what the tracker does with it.
#include "player_fixture.h"

#include <gtest/gtest.h>

using namespace playertest;

namespace {

constexpr std::uint8_t C4 = note(4, 0);
constexpr std::uint8_t C5 = note(5, 0);

Cell command(int cmd, int info, int channel = 0) {
    return Cell{channel, 255, 255, -1, cmd, info};
}

class TrackerRules : public PlayerTest {};

} // namespace

TEST_F(TrackerRules, ScreamTrackerTonePortamentoPassesOverAnInstrumentWithoutData) {
    // Instrument 1 is quiet and has data, instrument 2 has none: beside a tone portamento the
    // first gives its volume, the second is passed over and the note slides on as loud as it was.
    ModuleSpec spec = song(playModeScreamTracker3, {{Cell{0, C4, 0}},
                                                    {Cell{0, C5, 1, -1, cmdTonePorta, 2}},
                                                    {Cell{0, C5, 2, -1, cmdTonePorta, 2}}});
    spec.instruments = {InstrumentSpec{}, InstrumentSpec{}, InstrumentSpec{}};
    spec.instruments[1].samples[0].volume = 16;
    spec.instruments[2].samples[0].type = SMP_NONE;
    spec.instruments[2].samples[0].length = 0;
    PlayHandle* h = begin(spec);
    ticks(6);
    ticks(6);
    EXPECT_EQ(h->channels[0].volume, 16);
    EXPECT_EQ(h->channels[0].instrument, 1);
    ticks(6);
    EXPECT_EQ(h->channels[0].volume, 16) << "the instrument without data is passed over";
    EXPECT_EQ(h->channels[0].instrument, 1);
    EXPECT_LT(h->channels[0].period, 1712) << "and the note slides on";
    EXPECT_EQ(callsOf("stop", 0).size(), 0u);
}

TEST_F(TrackerRules, FasttrackerStartsTheNextPatternAtALoopsStartRow) {
    // Once a pattern loop has jumped back, the row it started at stays where Fasttracker 2 takes
    // the next pattern's first row from: after the loop the pattern ends, and the next one
    // begins there. A break or a jump takes it back to their own row.
    ModuleSpec spec;
    spec.speed = 1;
    spec.orders = {0, 1, 2, 3};
    spec.patterns = {PatternSpec{4, {{}, {}, {command(cmdPatternLoop, 0)}, {command(cmdPatternLoop, 1)}}},
                     PatternSpec{4, {{}, {}, {}, {command(cmdPatternBreak, 0)}}}, PatternSpec{4, {}},
                     PatternSpec{2, {}}};
    PlayHandle* h = begin(spec);
    EXPECT_EQ(visit(h, 10), (std::vector<std::pair<int, int>>{
                                {0, 0}, {0, 1}, {0, 2}, {0, 3}, {0, 2}, {0, 3}, {1, 2}, {1, 3}, {2, 0}, {2, 1}}));
    spec.playMode = playModeProtracker;
    h = begin(spec);
    EXPECT_EQ(visit(h, 7)[6], std::make_pair(1, 0)) << "Protracker starts the next pattern at its top";
}

TEST_F(TrackerRules, FasttrackerSettlesJumpsBreaksAndLoopsAtTheRowsEnd) {
    // On one row: a loop jumping back and a break after it go to the next order, at the break's
    // row; a break and a jump after it go to the jump's order at row 0 (the jump takes the row
    // back), a jump and a break after it to the jump's order at the break's row.
    ModuleSpec spec;
    spec.speed = 1;
    spec.channels = 2;
    spec.orders = {0, 1, 2, 3, 4};
    spec.patterns = {
        PatternSpec{3, {{}, {command(cmdPatternLoop, 0)}, {command(cmdPatternLoop, 1), command(cmdPatternBreak, 0x01, 1)}}},
        PatternSpec{3, {{}, {command(cmdPatternBreak, 0x02), command(cmdPositionJump, 3, 1)}}},
        PatternSpec{3, {}},
        PatternSpec{3, {{command(cmdPositionJump, 4), command(cmdPatternBreak, 0x02, 1)}}},
        PatternSpec{3, {}}};
    PlayHandle* h = begin(spec);
    EXPECT_EQ(visit(h, 6), (std::vector<std::pair<int, int>>{{0, 0}, {0, 1}, {0, 2}, {1, 1}, {3, 0}, {4, 2}}));
}

TEST_F(TrackerRules, FasttrackerSetFinetuneTunesTheNoteBesideIt) {
    // E5x sets the finetune of the note on its row to (x - 8) x 16; it stays with the channel for
    // the portamento after it, also past an instrument byte without a note, until a note without
    // the command takes its sample's finetune again.
    ModuleSpec spec = song(playModeExtended, {{Cell{0, C4, 0, -1, cmdSetFinetune, 0xF}},
                                              {Cell{0, 255, 0}},
                                              {Cell{0, C5, 255, -1, cmdTonePorta, 0xff}},
                                              {Cell{0, C4, 255}}});
    spec.flags = moduleLinearFrequency;
    spec.instruments[0].samples[0].finetune = -32;
    PlayHandle* h = begin(spec);
    ticks(1);
    EXPECT_EQ(h->channels[0].period, 7680 - 48 * 64 - 112 / 2) << "finetune +112";
    ticks(6);
    EXPECT_EQ(h->channels[0].finetune, 112) << "an instrument byte alone keeps it";
    ticks(7);
    EXPECT_EQ(h->channels[0].period, 7680 - 60 * 64 - 112 / 2) << "the portamento's target has it too";
    ticks(5);
    EXPECT_EQ(h->channels[0].period, 7680 - 48 * 64 + 32 / 2) << "a plain note has its sample's";
}

TEST_F(TrackerRules, FasttrackerPlaysNoNoteThatTheRelativeNoteTakesOutOfRange) {
    // With relative note +30, E-7 is the highest note (n = 118); F-7 is no note, and the row
    // acts as an instrument byte alone. With -2, C#0 is n = -1: no note either.
    ModuleSpec spec = song(playModeExtended, {{Cell{0, note(7, 4), 0}}, {Cell{0, note(7, 5), 0}}});
    spec.instruments[0].samples[0].relativeNote = 30;
    PlayHandle* h = begin(spec);
    ticks(6);
    ASSERT_EQ(callsOf("start", 0).size(), 1u);
    const int highest = h->channels[0].period;
    ticks(6);
    EXPECT_EQ(callsOf("start", 0).size(), 1u) << "F-7 does not start";
    EXPECT_EQ(h->channels[0].period, highest);
    spec = song(playModeExtended, {{Cell{0, note(0, 2), 0}}, {Cell{0, note(0, 1), 0}}});
    spec.instruments[0].samples[0].relativeNote = -2;
    begin(spec);
    ticks(12);
    EXPECT_EQ(callsOf("start", 0).size(), 1u) << "C#0 with -2 does not start";
}

TEST_F(TrackerRules, FasttrackerNoteDelayWithoutANotePlaysTheLastNoteAgain) {
    ModuleSpec spec = song(playModeExtended, {{Cell{0, C4, 0}},
                                              {command(cmdNoteDelay, 2)},
                                              {Cell{0, 255, 1, -1, cmdNoteDelay, 2}}});
    spec.instruments.push_back(InstrumentSpec{});
    spec.instruments[1].samples[0].volume = 20;
    PlayHandle* h = begin(spec);
    ticks(6);
    calls.clear();
    ticks(2);
    EXPECT_EQ(callsOf("start", 0).size(), 0u);
    ticks(1);
    ASSERT_EQ(callsOf("start", 0).size(), 1u) << "C-4 again on tick 2";
    ticks(5);
    calls.clear();
    ticks(3);
    ASSERT_EQ(callsOf("start", 0).size(), 1u) << "and with the row's instrument";
    EXPECT_EQ(h->channels[0].instrument, 1);
    EXPECT_EQ(h->channels[0].volume, 20);
    EXPECT_EQ(h->channels[0].note, C4);
}

TEST_F(TrackerRules, FasttrackerTremorCountsTicksAfterTheFirstAndLeavesItsVolume) {
    // T21 at speed 4: counted on the ticks after each row's first, sounding for 3 ticks, silent
    // for 2, and so on; the first tick of a row and a row without it keep what it left; a new
    // note starts the count afresh.
    ModuleSpec spec = song(playModeExtended, {{Cell{0, C4, 0, -1, cmdTremor, 0x21}},
                                              {command(cmdTremor, 0)},
                                              {},
                                              {Cell{0, C4, 255, -1, cmdTremor, 0x21}}});
    spec.speed = 4;
    PlayHandle* h = begin(spec);
    std::vector<int> heard;
    for (int t = 0; t < 16; t++) {
        ticks(1);
        heard.push_back(h->channels[0].effective_volume != 0);
    }
    EXPECT_EQ(heard, (std::vector<int>{1, 1, 1, 1, /**/ 1, 0, 0, 1, /**/ 1, 1, 1, 1, /**/ 1, 1, 1, 1}))
        << "on for ticks 1..3 and row 1's first, off for its ticks 1..2 (T00: from memory), on from 3";
    EXPECT_EQ(h->channels[0].volume, 64) << "the note's volume itself is untouched";
}

TEST_F(TrackerRules, FasttrackerStartsNoSoundAtOrPastTheSamplesEnd) {
    // Offset 0x01 is frame 256: inside a sample of 257 frames, at the end of one of 256.
    for (auto [length, plays] : {std::pair{257, true}, std::pair{256, false}}) {
        ModuleSpec spec = song(playModeExtended, {{Cell{0, C4, 0, -1, cmdSampleOffset, 0x01}}});
        spec.instruments[0].samples[0].length = length;
        begin(spec);
        ticks(1);
        EXPECT_EQ(callsOf("stop", 0).size(), plays ? 0u : 1u) << length;
        EXPECT_EQ(callsOf("position", 0).size(), 1u);
    }
}

TEST_F(TrackerRules, ImpulseTrackerLoopsPerChannelAndResumesAfterALoopThatRanOut) {
    // Each channel keeps its own loop. Once a loop has run out, its start is the row after its
    // end: a later SB1 with no SB0 before it plays that stretch again.
    ModuleSpec spec = song(playModeImpulse, {{},
                                             {command(cmdPatternLoop, 0)},
                                             {command(cmdPatternLoop, 1)},
                                             {},
                                             {command(cmdPatternLoop, 1)},
                                             {command(cmdPatternLoop, 1, 1)}},
                           8);
    spec.speed = 1;
    spec.channels = 2;
    PlayHandle* h = begin(spec);
    EXPECT_EQ(visit(h, 13), (std::vector<std::pair<int, int>>{{0, 0}, {0, 1}, {0, 2}, {0, 1}, {0, 2}, {0, 3}, {0, 4},
                                                              {0, 3}, {0, 4}, {0, 5}, {0, 0}, {0, 1}, {0, 2}}))
        << "the second channel's loop starts at the top";
}

TEST_F(TrackerRules, ImpulseTrackerSettlesJumpsBreaksAndLoopsAtTheRowsEnd) {
    // A loop jumping back wins over a break on the same row; the loop ran out, the break goes to
    // the next order, where every loop starts again at the top. A break counts its row in
    // binary, and a jump with a break after it goes to the jump's order at the break's row.
    ModuleSpec spec;
    spec.playMode = playModeImpulse;
    spec.speed = 1;
    spec.channels = 2;
    spec.orders = {0, 1, 2, 3};
    spec.patterns = {
        PatternSpec{4, {{}, {command(cmdPatternLoop, 0)}, {command(cmdPatternLoop, 1), command(cmdPatternBreak, 0, 1)}}},
        PatternSpec{4, {{}, {command(cmdPatternLoop, 1), command(cmdPatternBreak, 0x10, 1)}}},
        PatternSpec{32, {}},
        PatternSpec{32, {}}};
    spec.patterns[2].cells.resize(17);
    spec.patterns[2].cells[16] = {command(cmdPositionJump, 3), command(cmdPatternBreak, 0x05, 1)};
    PlayHandle* h = begin(spec);
    EXPECT_EQ(visit(h, 11), (std::vector<std::pair<int, int>>{{0, 0}, {0, 1}, {0, 2}, {0, 1}, {0, 2}, {1, 0}, {1, 1},
                                                              {1, 0}, {1, 1}, {2, 16}, {3, 5}}));
}

TEST_F(TrackerRules, ImpulseTrackerSwitchedOffChannelsAreSilentButTheirCommandsAct) {
    // Channel 0 is switched off: its note is never heard and its break still acts. Channel 1
    // plays in surround.
    ModuleSpec spec = song(playModeImpulse, {{Cell{0, C4, 0, -1, cmdPatternBreak, 0}, Cell{1, C4, 0}}}, 4);
    spec.orders = {0, 0};
    spec.speed = 1;
    spec.channels = 2;
    spec.panning = {32 | 0x80, 100};
    PlayHandle* h = begin(spec);
    EXPECT_EQ(visit(h, 2), (std::vector<std::pair<int, int>>{{0, 0}, {1, 0}}));
    ASSERT_FALSE(callsOf("volume", 0).empty());
    for (const DeviceCall& c : callsOf("volume", 0))
        EXPECT_EQ(c.value, 0) << "switched off";
    EXPECT_GT(lastValue("volume", 1), 0);
    EXPECT_EQ(lastValue("panning", 1), PAN_SURROUND);
}

TEST_F(TrackerRules, ImpulseTrackerSampleModeTakesASampleNumberWithoutANoteAtOnce) {
    // Sample mode (no instruments): sample 2 takes over the sounding note where it stands, with
    // its own volume; sample 9, which the song does not have, stops the channel, and the bare
    // note after it plays that number: nothing.
    ModuleSpec spec = song(playModeImpulse, {{Cell{0, C5, 0}}, {Cell{0, 255, 1}}, {Cell{0, 255, 8}}, {Cell{0, C5}}});
    spec.instruments = {InstrumentSpec{}, InstrumentSpec{}};
    spec.instruments[1].samples[0].type = SMP_16BIT_MONO;
    spec.instruments[1].samples[0].volume = 40;
    begin(spec);
    device.getChannelPosition = [](std::uint32_t, std::uint32_t* position) -> int {
        *position = 300; // 8-bit: bytes are frames
        return errOK;
    };
    ticks(1);
    EXPECT_EQ(lastValue("sample", 0), 1);
    calls.clear();
    ticks(6);
    EXPECT_EQ(lastValue("sample", 0), 2);
    EXPECT_EQ(lastValue("position", 0), 600) << "frame 300 of the 16-bit sample";
    EXPECT_EQ(callsOf("start", 0).size(), 0u) << "taken over, not started again";
    EXPECT_EQ(lastValue("volume", 0), 40);
    calls.clear();
    ticks(6);
    EXPECT_EQ(callsOf("stop", 0).size(), 1u);
    calls.clear();
    ticks(6);
    EXPECT_EQ(callsOf("start", 0).size(), 0u);
}

TEST_F(TrackerRules, ImpulseTrackerSampleNumberOnAStoppedChannelIsTheNextNotesSample) {
    // The channel is cut, then given sample 2 without a note: nothing sounds until the bare note,
    // which plays sample 2. The same sample number again leaves the sound alone; instrument mode
    // leaves a sounding note's sample to the next note.
    ModuleSpec spec =
        song(playModeImpulse, {{Cell{0, C5, 0}}, {Cell{0, noteStop}}, {Cell{0, 255, 1}}, {Cell{0, C5}}, {Cell{0, 255, 1}}});
    spec.instruments = {InstrumentSpec{}, InstrumentSpec{}};
    begin(spec);
    ticks(7);
    EXPECT_EQ(callsOf("stop", 0).size(), 1u);
    device.getChannelRate = [](std::uint32_t, std::uint32_t* rate) -> int {
        *rate = 0; // the cut channel is still
        return errOK;
    };
    calls.clear();
    ticks(6);
    EXPECT_TRUE(callsOf("start", 0).empty());
    EXPECT_TRUE(callsOf("position", 0).empty()) << "nothing sounds: nothing is taken over";
    calls.clear();
    ticks(6);
    EXPECT_EQ(lastValue("sample", 0), 2);
    EXPECT_EQ(callsOf("start", 0).size(), 1u);
    calls.clear();
    ticks(6);
    EXPECT_TRUE(callsOf("sample", 0).empty());
    EXPECT_TRUE(callsOf("position", 0).empty());

    spec = song(playModeImpulse, {{Cell{0, C5, 0}}, {Cell{0, 255, 1}}});
    spec.instruments = {InstrumentSpec{}, InstrumentSpec{}};
    spec.flags = moduleInstrumentMode;
    begin(spec);
    ticks(7);
    EXPECT_EQ(lastValue("sample", 0), 1);
    EXPECT_TRUE(callsOf("stop", 0).empty());
}

TEST_F(TrackerRules, ImpulseTrackerNotesPlayThroughTheirInstrumentsResonantFilter) {
    // Instrument 1 starts its notes at cutoff 100 and resonance 20, its filter envelope rising
    // from the middle (half the cutoff) to the top (the whole cutoff) over four ticks; instrument
    // 2 sets nothing, so its notes keep the channel's settings; with the channel's cutoff at the
    // top and no resonance, a note without an envelope plays with no filter at all.
    ModuleSpec spec = song(playModeImpulse, {{Cell{0, C5, 0}}, {}, {Cell{0, C5, 1}}, {}, {Cell{1, C5, 1}}});
    spec.instruments = {InstrumentSpec{}, InstrumentSpec{}};
    spec.flags = moduleInstrumentMode;
    Module* m = buildModule(spec);
    modules.push_back(m);
    m->instruments[0]->initial_cutoff = 0x80 | 100;
    m->instruments[0]->initial_resonance = 0x80 | 20;
    m->instruments[0]->filter_envelope = 1;
    m->instruments[0]->pitch_envelope = buildEnvelope(EnvelopeSpec{.points = {{0, 0}, {4, 32}}});
    std::vector<std::pair<std::int64_t, std::int64_t>> filters;
    static std::vector<std::pair<std::int64_t, std::int64_t>>* seen;
    seen = &filters;
    device.setChannelFilter = [](std::uint32_t channel, std::uint32_t cutoff, std::uint32_t resonance) -> int {
        if (channel == 0 || cutoff != FILTER_OFF) seen->emplace_back(channel == 0 ? cutoff : -1, resonance);
        return errOK;
    };
    PlayHandle* h = nullptr;
    ASSERT_EQ(gmp_play_song(m, -1, 0, 0, 1, -1, nullptr, &h), errOK);
    ticks(spec.speed - 1);
    filters.clear();
    ticks(6);
    using Sent = std::vector<std::pair<std::int64_t, std::int64_t>>;
    EXPECT_EQ(filters, (Sent{{50 * 256, 20}, {62 * 256 + 128, 20}, {75 * 256, 20}, {87 * 256 + 128, 20},
                             {100 * 256, 20}, {100 * 256, 20}}));
    filters.clear();
    ticks(12);
    ASSERT_FALSE(filters.empty());
    EXPECT_EQ(filters.back(), (std::pair<std::int64_t, std::int64_t>{100 * 256, 20}))
        << "instrument 2 keeps the cutoff and resonance the channel has";
    filters.clear();
    ticks(6);
    EXPECT_EQ(filters.size(), 6u) << "channel 1 is never filtered: only channel 0 is reported";
}

TEST_F(TrackerRules, FasttrackerInstrumentNumberWithoutANoteTakesTheChannelOver) {
    // The note plays instrument 1's sample; instrument 2 named without a note gives the channel
    // its own sample's volume and panning while the sound plays on, and the bare note after it
    // plays instrument 2.
    ModuleSpec spec = song(playModeExtended, {{Cell{0, C4, 0}}, {Cell{0, 255, 1}}, {Cell{0, C4}}});
    spec.instruments = {InstrumentSpec{}, InstrumentSpec{}};
    spec.instruments[0].samples[0].volume = 40;
    spec.instruments[1].samples[0].volume = 20;
    spec.instruments[1].samples[0].panning = 255;
    PlayHandle* h = begin(spec);
    ticks(1);
    EXPECT_EQ(h->channels[0].volume, 40);
    calls.clear();
    ticks(6);
    EXPECT_EQ(h->channels[0].volume, 20);
    EXPECT_EQ(h->channels[0].instrument, 1);
    EXPECT_GT(lastValue("panning", 0), 60) << "the second sample's panning, to the right";
    EXPECT_TRUE(callsOf("sample", 0).empty()) << "the sound plays on";
    EXPECT_TRUE(callsOf("start", 0).empty());
    calls.clear();
    ticks(6);
    EXPECT_EQ(lastValue("sample", 0), 2);
    EXPECT_EQ(callsOf("start", 0).size(), 1u);
    EXPECT_EQ(lastValue("volume", 0), 20);
}
