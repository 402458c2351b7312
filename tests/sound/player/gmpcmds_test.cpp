#include "player_fixture.h"

#include <gtest/gtest.h>

using namespace playertest;

namespace {

constexpr std::uint8_t C2 = note(2, 0);
constexpr std::uint8_t C4 = note(4, 0);
constexpr std::uint8_t D4 = note(4, 2);

// A cell with a command and no note.
Cell command(int cmd, int info, int channel = 0) {
    return Cell{channel, 255, 255, -1, cmd, info};
}

// A cell that starts a note of instrument 0 with a command.
Cell noteWith(std::uint8_t n, int cmd, int info, int channel = 0) {
    return Cell{channel, n, 0, -1, cmd, info};
}

// A cell with only a volume byte.
Cell volumeByte(int volume, int channel = 0) {
    return Cell{channel, 255, 255, volume};
}

std::vector<int> rowsOf(const std::vector<std::pair<int, int>>& seen) {
    std::vector<int> out;
    for (const auto& s : seen)
        out.push_back(s.second);
    return out;
}

// The vibrato sine's value at a position (0..31).
int vibratoSineAt(int position) {
    constexpr int sine[32] = {0,   24,  49,  74,  97,  120, 141, 161, 180, 197, 212, 224, 235, 244, 250, 253,
                              255, 253, 250, 244, 235, 224, 212, 197, 180, 161, 141, 120, 97,  74,  49,  24};
    return sine[position & 31];
}

// Output periods after the row tick and after each effect tick of one row (speed 6).
template <typename Fixture> std::vector<int> periodsOverRow(Fixture& f, PlayHandle* h) {
    std::vector<int> out;
    for (int t = 0; t < 6; t++) {
        f.ticks(1);
        out.push_back(h->channels[0].output_period);
    }
    return out;
}

class CommandTest : public PlayerTest {
  public:
    using PlayerTest::begin;
    using PlayerTest::ticks;
};

} // namespace

TEST_F(CommandTest, ArpeggioCyclesThroughTheThreeNotes) {
    PlayHandle* h = begin(song(playModeProtracker, {{noteWith(C2, cmdArpeggio, 0x47)}}));
    EXPECT_EQ(periodsOverRow(*this, h), (std::vector<int>{428, 1356 >> 2, 1140 >> 2, 428, 339, 285}));
    std::uint32_t rate = 0;
    ASSERT_EQ(gmp_period_rate(playModeProtracker, 0, 285, &rate), errOK);
    EXPECT_EQ(lastValue("rate", 0), rate);
}

TEST_F(CommandTest, ProtrackerArpeggioAboveOctaveThreeFoldsDown) {
    PlayHandle* h = begin(song(playModeProtracker, {{noteWith(note(3, 11), cmdArpeggio, 0x10)}}));
    ticks(2);
    EXPECT_EQ(h->channels[0].output_period, 1712 >> 1) << "B-3 + 1 is octave 4, folded to octave 1";
    ModuleSpec extended = song(playModeProtracker, {{noteWith(note(3, 11), cmdArpeggio, 0x10)}});
    extended.flags = moduleExtendedOctaves;
    calls.clear();
    PlayHandle* e = begin(extended);
    ticks(2);
    EXPECT_EQ(e->channels[0].output_period, 1712 >> 4);
}

TEST_F(CommandTest, SlidesUseThePeriodShift) {
    PlayHandle* h = begin(song(playModeProtracker, {{noteWith(C2, cmdPortaUp, 2)}}));
    ticks(6);
    EXPECT_EQ(h->channels[0].period, 428 - 2 * 5);
    h = begin(song(playModeExtended, {{noteWith(C4, cmdPortaDown, 2)}}));
    ticks(6);
    EXPECT_EQ(h->channels[0].period, 1712 + 8 * 5);
    h = begin(song(playModeProtracker, {{noteWith(C2, cmdPortaUp, 0xff)}}));
    ticks(6);
    EXPECT_EQ(h->channels[0].period, 113) << "slides stop at the period limits";
}

TEST_F(CommandTest, ScreamTrackerFineAndExtraFineSlidesActOnTheRowTickOnly) {
    struct Case {
        int cmd, info, expected;
    };
    for (Case c : {Case{cmdPortaUp, 0xf2, 1712 - 8}, Case{cmdPortaUp, 0xe2, 1712 - 2},
                   Case{cmdPortaUp, 0x02, 1712 - 40}, Case{cmdPortaDown, 0xf3, 1712 + 12},
                   Case{cmdPortaDown, 0xe3, 1712 + 3}, Case{cmdPortaDown, 0x03, 1712 + 60}}) {
        for (int mode : {playModeScreamTracker3, playModeImpulse}) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << " info " << c.info);
            const std::uint8_t middle = mode == playModeImpulse ? note(5, 0) : C4;
            PlayHandle* h = begin(song(mode, {{noteWith(middle, c.cmd, c.info)}}));
            ticks(1);
            const int afterRowTick = h->channels[0].period;
            ticks(5);
            EXPECT_EQ(h->channels[0].period, c.expected);
            EXPECT_EQ(afterRowTick, c.info >= 0xe0 ? c.expected : 1712);
        }
    }
}

TEST_F(CommandTest, ScreamTrackerZeroInfobyteRepeatsTheLastOne) {
    PlayHandle* h =
        begin(song(playModeScreamTracker3, {{noteWith(C4, cmdPortaDown, 4)}, {command(cmdPortaUp, 0)}}));
    ticks(12);
    EXPECT_EQ(h->channels[0].period, 1712 + 16 * 5 - 16 * 5);
}

TEST_F(CommandTest, ExtendedInfobyteMemoryIsKeptPerCommand) {
    PlayHandle* h = begin(song(playModeExtended, {{noteWith(C4, cmdFinePortaUp, 2)},
                                                  {command(cmdFinePortaDown, 3)},
                                                  {command(cmdFinePortaUp, 0)},
                                                  {command(cmdFinePortaDown, 0)},
                                                  {command(cmdPortaUp, 1)},
                                                  {command(cmdPortaDown, 0)},
                                                  {command(cmdPortaUp, 0)}}));
    std::vector<int> periods;
    for (int r = 0; r < 7; r++) {
        ticks(6);
        periods.push_back(h->channels[0].period);
    }
    EXPECT_EQ(periods, (std::vector<int>{1704, 1716, 1708, 1720, 1700, 1700, 1680}))
        << "fine up and down remember their own infobytes; 3xx has nothing to repeat";
}

TEST_F(CommandTest, TonePortamentoSlidesToTheNoteWithoutStartingIt) {
    PlayHandle* h =
        begin(song(playModeExtended,
                   {{noteWith(C4, 0, 0)}, {noteWith(D4, cmdTonePorta, 0x10)}, {command(cmdTonePorta, 0)}}));
    ticks(6);
    EXPECT_EQ(periodsOverRow(*this, h), (std::vector<int>{1712, 1648, 1584, 1524, 1524, 1524}));
    EXPECT_EQ(h->channels[0].porta_target, 1524);
    EXPECT_EQ(callsOf("start").size(), 1u);
    ticks(1);
    EXPECT_EQ(h->channels[0].porta_speed, 0x10) << "infobyte 0 keeps the speed";

    h = begin(song(playModeProtracker,
                   {{noteWith(C2, 0, 0)}, {noteWith(note(2, 2), cmdTonePortaVolumeSlide, 0x01)}}));
    ticks(1);
    h->channels[0].porta_speed = 5;
    ticks(11);
    EXPECT_EQ(h->channels[0].period, 428 - 25) << "shift 0: five periods a tick";
    EXPECT_EQ(h->channels[0].volume, 64 - 5) << "with the volume slide";
    EXPECT_EQ(callsOf("start").size(), 1u);
}

TEST_F(CommandTest, VibratoDepthShiftsBySevenInProtrackerAndFiveElsewhere) {
    PlayHandle* h = begin(song(playModeProtracker, {{noteWith(C2, cmdVibrato, 0xf8)}}));
    ticks(3);
    EXPECT_EQ(h->channels[0].output_period, 428 + (253 * 8 >> 7));
    h = begin(song(playModeExtended, {{noteWith(C4, cmdVibrato, 0xf8)}, {command(cmdVibrato, 0)}}));
    ticks(3);
    EXPECT_EQ(h->channels[0].output_period, 1712 + (253 * 8 >> 5));
    ticks(3);
    EXPECT_EQ(h->channels[0].vibrato_position, 75);
    EXPECT_EQ(h->channels[0].output_period, 1712 - (97 * 8 >> 5)) << "position 60: bit 5 swings down";
    ticks(1);
    EXPECT_EQ(h->channels[0].output_period, 1712 - (97 * 8 >> 5))
        << "the row tick keeps the vibrato's period in XM";
    EXPECT_EQ(h->channels[0].vibrato_speed, 15) << "vibrato 0 keeps speed and depth";
    EXPECT_EQ(h->channels[0].vibrato_depth, 8);
    ticks(1);
    EXPECT_EQ(h->channels[0].vibrato_position, 90);
}

TEST_F(CommandTest, FineSlidesOnANoteRowSlideTheNewNote) {
    PlayHandle* h = begin(song(playModeProtracker, {{noteWith(C2, cmdFinePortaDown, 3)}}));
    ticks(1);
    EXPECT_EQ(h->channels[0].period, 431);
    EXPECT_EQ(lastValue("start", 0), 3546895 / 428);
    EXPECT_EQ(lastValue("rate", 0), 3546895 / 431);
    h = begin(song(playModeExtended, {{noteWith(C4, cmdExtraFinePortaUp, 3)}}));
    ticks(1);
    EXPECT_EQ(h->channels[0].period, 1709);
}

TEST_F(CommandTest, SampleOffsetCountsFramesAndDoublesForSixteenBitSamples) {
    ModuleSpec spec = song(playModeExtended,
                           {{noteWith(C4, cmdSampleOffset, 0x10)}, {}, {noteWith(C4, cmdSampleOffset, 0)}});
    spec.instruments[0].samples[0].type = 2;
    PlayHandle* h = begin(spec);
    ticks(1);
    EXPECT_EQ(h->channels[0].sample_offset, 4096);
    EXPECT_EQ(lastValue("position", 0), 8192) << "0x10 on a 16-bit sample starts at byte 8192";
    EXPECT_EQ(callsOf("start").size(), 1u) << "the note starts once";
    ticks(12);
    EXPECT_EQ(callsOf("position").size(), 2u) << "infobyte 0 repeats the last offset";
    EXPECT_EQ(lastValue("position", 0), 8192);

    spec.instruments[0].samples[0].type = 1;
    begin(spec);
    ticks(1);
    EXPECT_EQ(lastValue("position", 0), 4096);
}

TEST_F(CommandTest, ProtrackerSampleOffsetAddsUpUntilAnInstrumentByte) {
    PlayHandle* h = begin(song(playModeProtracker, {{noteWith(C2, cmdSampleOffset, 0x10)},
                                                    {Cell{0, C2, 255, -1, cmdSampleOffset, 0x10}},
                                                    {noteWith(C2, cmdSampleOffset, 0x10)}}));
    ticks(1);
    EXPECT_EQ(lastValue("position", 0), 4096);
    EXPECT_EQ(h->channels[0].sample_offset, 8192) << "added once more after the start";
    ticks(6);
    EXPECT_EQ(lastValue("position", 0), 12288);
    ticks(6);
    EXPECT_EQ(lastValue("position", 0), 4096) << "the instrument byte clears it";

    h = begin(song(playModeScreamTracker3,
                   {{noteWith(C4, cmdSampleOffset, 0x10)}, {Cell{0, C4, 255, -1, cmdSampleOffset, 0x20}}}));
    ticks(7);
    EXPECT_EQ(lastValue("position", 0), 8192) << "Scream Tracker 3 starts at the offset itself";
}

TEST_F(CommandTest, VolumeSlidesAndTheirRowTickRules) {
    struct Case {
        int mode, flags, info, startVolume, afterRow;
    };
    for (Case c :
         {Case{playModeScreamTracker3, 0, 0x02, 40, 30},
          Case{playModeScreamTracker3, moduleFastVolumeSlides, 0x02, 40, 28},
          Case{playModeScreamTracker3, 0, 0x20, 40, 50}, Case{playModeScreamTracker3, 0, 0x2f, 40, 42},
          Case{playModeScreamTracker3, 0, 0xf2, 40, 38}, Case{playModeScreamTracker3, 0, 0x0f, 40, 0},
          Case{playModeScreamTracker3, 0, 0xf0, 40, 63}, Case{playModeImpulse, 0, 0x4f, 40, 44},
          Case{playModeProtracker, 0, 0x10, 40, 45}, Case{playModeProtracker, 0, 0x03, 40, 25},
          Case{playModeExtended, 0, 0x02, 40, 30}}) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " info " << c.info);
        ModuleSpec spec = song(c.mode, {{Cell{0, C4, 0, c.startVolume, cmdVolumeSlide, c.info}}});
        spec.flags = c.flags;
        PlayHandle* h = begin(spec);
        ticks(6);
        EXPECT_EQ(h->channels[0].volume, c.afterRow);
        EXPECT_EQ(h->channels[0].effective_volume, c.afterRow);
    }
    PlayHandle* h = begin(
        song(playModeExtended, {{Cell{0, C4, 0, 40, cmdVolumeSlide, 0x02}}, {command(cmdVolumeSlide, 0)}}));
    ticks(12);
    EXPECT_EQ(h->channels[0].volume, 20) << "XM volume slide 0 repeats the last one";
}

TEST_F(CommandTest, PositionJumpAndPatternBreakOnOneRow) {
    ModuleSpec spec;
    spec.speed = 1;
    spec.orders = {0, 1, 2};
    spec.patterns = {
        PatternSpec{8, {{}, {command(cmdPositionJump, 2, 0), command(cmdPatternBreak, 0x05, 1)}}},
        PatternSpec{8, {}}, PatternSpec{8, {}}};
    PlayHandle* h = begin(spec);
    auto seen = visit(h, 3);
    EXPECT_EQ(seen[2], std::make_pair(2, 5)) << "jump first: the jump target at the break's row";
    spec.patterns[0].cells[1] = {command(cmdPatternBreak, 0x05, 0), command(cmdPositionJump, 2, 1)};
    h = begin(spec);
    seen = visit(h, 3);
    EXPECT_EQ(seen[2], std::make_pair(2, 0)) << "break first: the jump target, row 0";
    EXPECT_EQ(h->loop_count, 0);
}

TEST_F(CommandTest, ABackwardJumpToRowsPlayedEndsTheSong) {
    ModuleSpec spec;
    spec.speed = 1;
    spec.orders = {0, 1};
    spec.patterns = {PatternSpec{2, {}}, PatternSpec{2, {{}, {command(cmdPositionJump, 0)}}}};
    PlayHandle* h = begin(spec, 0);
    auto seen = visit(h, 10);
    EXPECT_EQ(seen[3], std::make_pair(1, 1));
    EXPECT_EQ(h->loop_count, 1);
    EXPECT_EQ(status(h).position, 0) << "stopped, at the jump's target";
}

TEST_F(CommandTest, PatternBreakRowsByPlayMode) {
    auto breakTo = [this](int mode, int info, int nextRows) {
        ModuleSpec spec;
        spec.playMode = mode;
        spec.speed = 1;
        spec.orders = {0, 1};
        spec.patterns = {PatternSpec{64, {{command(cmdPatternBreak, info)}}}, PatternSpec{nextRows, {}}};
        PlayHandle* h = begin(spec);
        auto seen = visit(h, 2);
        return seen[1];
    };
    EXPECT_EQ(breakTo(playModeProtracker, 0x64, 64), std::make_pair(1, 63));
    EXPECT_EQ(breakTo(playModeProtracker, 0x32, 64), std::make_pair(1, 32)) << "decimal digits";
    EXPECT_EQ(breakTo(playModeExtended, 0x32, 16), std::make_pair(1, 15)) << "at most the last row";
    EXPECT_EQ(breakTo(playModeImpulse, 0x32, 64), std::make_pair(1, 0x32))
        << "Impulse Tracker counts in binary";
    EXPECT_EQ(breakTo(playModeImpulse, 70, 64), std::make_pair(1, 63));
    EXPECT_EQ(breakTo(playModeScreamTracker3, 0x64, 32), std::make_pair(1, 31))
        << "row 63 of a shorter pattern: its last";
}

TEST_F(CommandTest, SetSpeedZeroChangesNothing) {
    ModuleSpec spec;
    spec.orders = {0, 1};
    spec.restart = 1;
    spec.patterns = {PatternSpec{4, {{}, {command(cmdSetSpeed, 0)}}}, PatternSpec{4, {}}};
    for (int mode : {playModeExtended, playModeScreamTracker3, playModeImpulse, playModeProtracker}) {
        spec.playMode = mode;
        PlayHandle* h = begin(spec, 0);
        ticks(13);
        EXPECT_EQ(status(h).loop_count, 0) << "mode " << mode << " ignores speed 0";
        EXPECT_EQ(status(h).row, 2) << "and plays on";
        EXPECT_EQ(h->speed, 6);
    }
}

TEST_F(CommandTest, PatternLoopRepeatsRows) {
    for (int mode : {playModeExtended, playModeProtracker, playModeScreamTracker3, playModeImpulse}) {
        SCOPED_TRACE(mode);
        ModuleSpec spec;
        spec.playMode = mode;
        spec.speed = 1;
        // An earlier command leaves an infobyte in the shared memory; the loop start must not take it.
        spec.patterns = {PatternSpec{6,
                                     {{command(cmdVolumeSlide, 0x01, 1)},
                                      {command(cmdPatternLoop, 0)},
                                      {},
                                      {command(cmdPatternLoop, 2)}}}};
        PlayHandle* h = begin(spec);
        EXPECT_EQ(rowsOf(visit(h, 12)), (std::vector<int>{0, 1, 2, 3, 1, 2, 3, 1, 2, 3, 4, 5}));
    }
}

TEST_F(CommandTest, PatternDelayRepeatsTheRowAndItsRowCommandsButNotItsJump) {
    ModuleSpec spec;
    spec.orders = {0, 1};
    spec.patterns = {PatternSpec{4,
                                 {{command(cmdPatternDelay, 2, 0), Cell{1, C4, 0, 10, cmdFineVolumeUp, 1},
                                   command(cmdPositionJump, 1, 2)}}},
                     PatternSpec{4, {}}};
    PlayHandle* h = begin(spec, 0);
    ticks(1);
    EXPECT_EQ(h->channels[1].volume, 11);
    ticks(6);
    EXPECT_EQ(h->channels[1].volume, 12);
    EXPECT_EQ(status(h).row, 0);
    ticks(6);
    EXPECT_EQ(h->channels[1].volume, 13);
    ticks(5);
    EXPECT_EQ(status(h).position, 0);
    ticks(1);
    EXPECT_EQ(status(h).position, 1) << "three rows' time, then the jump target";
    EXPECT_EQ(status(h).row, 0);
    EXPECT_EQ(h->loop_count, 0) << "a forward jump is no loop, however long the row lasts";
    EXPECT_EQ(callsOf("start").size(), 1u) << "the note is not started again";
}

TEST_F(CommandTest, NoteCutAndNoteDelay) {
    PlayHandle* h =
        begin(song(playModeExtended, {{noteWith(C4, cmdNoteCut, 0)}, {Cell{0, C4, 0, 30, cmdNoteCut, 3}}}));
    ticks(1);
    EXPECT_EQ(h->channels[0].volume, 0) << "infobyte 0 cuts on the row tick";
    ticks(6);
    EXPECT_EQ(h->channels[0].volume, 30);
    ticks(2);
    EXPECT_EQ(h->channels[0].volume, 30);
    ticks(1);
    EXPECT_EQ(h->channels[0].volume, 0);

    ModuleSpec delayed = song(playModeExtended, {{noteWith(C4, 0, 0)}, {noteWith(D4, cmdNoteDelay, 3)}});
    delayed.instruments[0].volumeEnvelopeOn = true;
    delayed.instruments[0].volumeEnvelope.points = {{0, 64}, {100, 0}};
    h = begin(delayed);
    ticks(6);
    EXPECT_EQ(h->channels[0].volume_env.position, 6);
    ticks(1);
    EXPECT_EQ(callsOf("start").size(), 1u);
    EXPECT_EQ(h->channels[0].volume_env.position, 7) << "the envelope waits for the delayed note";
    ticks(2);
    EXPECT_EQ(callsOf("start").size(), 1u);
    ticks(1);
    EXPECT_EQ(callsOf("start").size(), 2u);
    EXPECT_EQ(h->channels[0].note, D4);
    EXPECT_EQ(h->channels[0].volume_env.position, 1);
}

TEST_F(CommandTest, RetriggerRestartsEveryYTicks) {
    ModuleSpec spec = song(
        playModeExtended,
        {{noteWith(C4, cmdRetrigger, 3)}, {noteWith(C4, cmdSampleOffset, 0x10)}, {command(cmdRetrigger, 2)}});
    spec.instruments[0].samples[0].type = 2;
    PlayHandle* h = begin(spec);
    ticks(6);
    EXPECT_EQ(callsOf("start").size(), 1u);
    ASSERT_EQ(callsOf("position").size(), 1u) << "one retrigger, on tick 3";
    EXPECT_EQ(callsOf("position")[0].value, 0);
    ticks(12);
    std::vector<DeviceCall> positions = callsOf("position");
    ASSERT_EQ(positions.size(), 4u) << "the offset note and retriggers on ticks 2 and 4";
    EXPECT_EQ(positions[2].value, 8192) << "a 16-bit sample restarts at the note's byte offset";
    EXPECT_EQ(positions[3].value, 8192);
    (void)h;
}

TEST_F(CommandTest, ProtrackerRetriggerCountsTicksFromTheRowsFirst) {
    // E9x restarts on every tick that is a multiple of x: on the first tick too, unless the row
    // starts a note there anyway, and on a pattern delay's repeats, where the note is not started.
    ModuleSpec spec = song(playModeProtracker, {{noteWith(C2, cmdRetrigger, 3)},
                                                {command(cmdRetrigger, 2)},
                                                {command(cmdRetrigger, 0)},
                                                {noteWith(C2, cmdRetrigger, 3), command(cmdPatternDelay, 1, 1)},
                                                {command(cmdRetrigger, 4), command(cmdPatternDelay, 1, 1)}});
    spec.channels = 2;
    begin(spec);
    const auto restartsOver = [this](int rowTicks) {
        calls.clear();
        ticks(rowTicks);
        return callsOf("position", 0).size();
    };
    EXPECT_EQ(restartsOver(6), 1u) << "tick 3; tick 0 starts the note";
    EXPECT_EQ(restartsOver(6), 3u) << "ticks 0, 2 and 4";
    EXPECT_EQ(restartsOver(6), 0u) << "E90 does nothing";
    EXPECT_EQ(restartsOver(12), 2u) << "tick 3 of the row and of its repeat";
    EXPECT_EQ(restartsOver(12), 4u) << "ticks 0 and 4 of the row and of its repeat";
}

TEST_F(CommandTest, MultiRetriggerChangesTheVolume) {
    PlayHandle* h = begin(song(
        playModeExtended, {{noteWith(C4, cmdMultiRetrigger, 0x12)}, {command(cmdMultiRetrigger, 0x62)}}));
    ticks(6);
    EXPECT_EQ(callsOf("position").size(), 2u);
    EXPECT_EQ(h->channels[0].volume, 62);
    ticks(6);
    EXPECT_EQ(h->channels[0].volume, (62 * 10 >> 4) * 10 >> 4);
    h = begin(song(playModeScreamTracker3, {{noteWith(C4, cmdMultiRetrigger, 0xe3)}}));
    ticks(6);
    EXPECT_EQ(h->channels[0].volume, 63) << "x 1.5 stops at the mode's maximum";
}

TEST_F(CommandTest, GlobalVolumeAndItsSlide) {
    PlayHandle* h = begin(song(playModeExtended, {{command(cmdGlobalVolume, 0x80)},
                                                  {command(cmdGlobalVolume, 0x20)},
                                                  {command(cmdGlobalVolumeSlide, 0x02)},
                                                  {command(cmdGlobalVolumeSlide, 0)},
                                                  {command(cmdGlobalVolumeSlide, 0xf0)}}));
    ticks(1);
    EXPECT_EQ(h->global_volume, 64);
    ticks(6);
    EXPECT_EQ(h->global_volume, 32);
    ticks(11);
    EXPECT_EQ(h->global_volume, 22);
    ticks(6);
    EXPECT_EQ(h->global_volume, 12) << "infobyte 0 repeats the last slide";
    ticks(6);
    EXPECT_EQ(h->global_volume, 64);
    h = begin(song(playModeScreamTracker3, {{command(cmdGlobalVolumeSlide, 0x02)}}));
    ticks(6);
    EXPECT_EQ(h->global_volume, 64) << "only Extended Module slides the global volume";
}

TEST_F(CommandTest, PanningCommands) {
    // Coarse panning 7 and 8 both centre the channel.
    for (int mode : {playModeProtracker, playModeScreamTracker3, playModeImpulse, playModeExtended}) {
        for (int info : {7, 8}) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << " info " << info);
            begin(
                song(mode, {{noteWith(mode == playModeImpulse ? note(5, 0) : C4, cmdCoarsePanning, info)}}));
            ticks(1);
            EXPECT_EQ(lastValue("panning", 0), 0);
        }
    }
    begin(song(playModeProtracker, {{command(cmdCoarsePanning, 15)},
                                    {command(cmdCoarsePanning, 0)},
                                    {command(cmdSetPanning, 164)},
                                    {command(cmdSetPanning, 0x20)}}));
    ticks(1);
    EXPECT_EQ(lastValue("panning", 0), 64);
    ticks(6);
    EXPECT_EQ(lastValue("panning", 0), -64);
    ticks(6);
    EXPECT_EQ(lastValue("panning", 0), PAN_SURROUND);
    ticks(6);
    EXPECT_EQ(lastValue("panning", 0), 0x20 - 64);

    PlayHandle* h = begin(
        song(playModeExtended, {{noteWith(C4, cmdPanningSlide, 0x20)}, {command(cmdPanningSlide, 0x03)}}));
    ticks(6);
    EXPECT_EQ(h->channels[0].panning, 128 + 10);
    ticks(6);
    EXPECT_EQ(h->channels[0].panning, 138 - 15);
    h = begin(song(playModeImpulse, {{noteWith(note(5, 0), cmdPanningSlide, 0x02)},
                                     {command(cmdPanningSlide, 0x20)},
                                     {command(cmdPanningSlide, 0x2f)}}));
    ticks(6);
    EXPECT_EQ(h->channels[0].panning, 32 + 10);
    ticks(6);
    EXPECT_EQ(h->channels[0].panning, 42 - 10);
    ticks(6);
    EXPECT_EQ(h->channels[0].panning, 32) << "the fine slide has no row handler in the table";
}

TEST_F(CommandTest, ExtendedVolumeColumn) {
    PlayHandle* h = begin(song(playModeExtended, {{Cell{0, C4, 0, 0x65}},
                                                  {volumeByte(0x72)},
                                                  {volumeByte(0x84)},
                                                  {volumeByte(0x93)},
                                                  {volumeByte(0xc4)},
                                                  {volumeByte(0xd2)},
                                                  {volumeByte(0xe1)},
                                                  {volumeByte(0xa8)},
                                                  {volumeByte(0xb4)},
                                                  {Cell{0, D4, 255, 0xf1}}}));
    ChannelState& ch = h->channels[0];
    ticks(6);
    EXPECT_EQ(ch.volume, 64 - 25) << "0x6y slides down on the effect ticks";
    ticks(6);
    EXPECT_EQ(ch.volume, 39 + 10);
    ticks(6);
    EXPECT_EQ(ch.volume, 49 - 4) << "0x8y is a fine slide";
    ticks(6);
    EXPECT_EQ(ch.volume, 45 + 3);
    ticks(6);
    EXPECT_EQ(ch.panning, 4 * 17);
    ticks(6);
    EXPECT_EQ(ch.panning, 68 - 10);
    ticks(6);
    EXPECT_EQ(ch.panning, 58 + 5);
    ticks(6);
    EXPECT_EQ(ch.vibrato_speed, 8);
    ticks(3);
    EXPECT_EQ(ch.vibrato_depth, 4);
    EXPECT_EQ(ch.output_period, 1712 + (vibratoSineAt(8) * 4 >> 5));
    ticks(3);
    ticks(1);
    EXPECT_EQ(ch.porta_target, 1524);
    ticks(1);
    EXPECT_EQ(ch.period, 1712 - 16 * 4) << "0xFy slides by y x 16";
    EXPECT_EQ(callsOf("start").size(), 1u);
}

TEST_F(CommandTest, ImpulseVolumeColumnSetsThePanning) {
    PlayHandle* h = begin(song(playModeImpulse, {{Cell{0, note(5, 0), 0, 128 + 16}}, {volumeByte(200)}}));
    ticks(1);
    EXPECT_EQ(h->channels[0].panning, 16);
    EXPECT_EQ(lastValue("panning", 0), 16 * 2 - 64);
    ticks(6);
    EXPECT_EQ(h->channels[0].panning, 16) << "other volume-column values do nothing";
    EXPECT_EQ(h->channels[0].volume, 64);
}

TEST_F(CommandTest, OtherPlayModesUseTheProtrackerTables) {
    EXPECT_EQ(&row_commands(0), &command_tables[0]);
    EXPECT_EQ(&tick_commands(9), &command_tables[1]);
    EXPECT_EQ(&row_commands(playModeScreamTracker3), &command_tables[4]);
    EXPECT_EQ(&tick_commands(playModeImpulse), &command_tables[7]);
    ModuleSpec spec = song(7, {{noteWith(C2, cmdVibrato, 0xf8)}});
    spec.instruments[0].samples[0].finetune = 0;
    PlayHandle* h = begin(spec);
    ticks(3);
    EXPECT_EQ(h->channels[0].output_period, 428 + (253 * 8 >> 7));
}

TEST_F(CommandTest, TremoloIsAcceptedAndIgnored) {
    PlayHandle* h = begin(song(playModeExtended, {{noteWith(C4, cmdTremolo, 0x44)}}));
    ticks(6);
    EXPECT_EQ(h->channels[0].volume, 64);
    EXPECT_EQ(h->channels[0].output_period, 1712);
}

TEST_F(CommandTest, ScreamTrackerBreakToRowZeroIsNotTakenFromTheMemory) {
    ModuleSpec spec;
    spec.playMode = playModeScreamTracker3;
    spec.speed = 1;
    spec.orders = {0, 1};
    spec.patterns = {PatternSpec{64, {{command(cmdVolumeSlide, 0x05)}, {command(cmdPatternBreak, 0)}}},
                     PatternSpec{64, {}}};
    PlayHandle* h = begin(spec);
    auto seen = visit(h, 3);
    EXPECT_EQ(seen[2], std::make_pair(1, 0));
}

TEST_F(CommandTest, TheStatusNamesTheDelayedRowWhileItRepeats) {
    PlayHandle* h = begin(song(playModeExtended, {{command(cmdPatternDelay, 1)}}));
    ticks(1);
    EXPECT_EQ(status(h).row, 0);
    ticks(6);
    EXPECT_EQ(status(h).row, 0);
    EXPECT_EQ(h->row, 1) << "the row after it comes next";
    ticks(6);
    EXPECT_EQ(status(h).row, 1);
}

TEST_F(CommandTest, HandlersActOnTheSongAndChannelTheyAreGiven) {
    // Two songs at once: a handler called for the second song's channel 2
    // changes that channel alone, whatever the last tick worked on.
    PlayHandle* first = begin(song(playModeProtracker, {{noteWith(C2, cmdNone, 0)}}));
    PlayHandle* second = start(song(playModeScreamTracker3, {{noteWith(C4, cmdNone, 0)}}));
    ticks(2);
    calls.clear();
    ChannelState* target = &second->channels[2];
    std::vector<int> before;
    for (PlayHandle* h : {first, second})
        for (int c = 0; c < h->channel_count; c++)
            before.push_back(h->channels[c].volume);
    ASSERT_EQ(row_commands(playModeScreamTracker3)[cmdSetVolume](second, target, 20), errOK);
    ASSERT_EQ(row_commands(playModeScreamTracker3)[cmdSetPanning](second, target, 164), errOK);
    EXPECT_EQ(target->volume, 20);
    EXPECT_EQ(target->panning, PAN_SURROUND);
    ASSERT_EQ(callsOf("panning").size(), 1u);
    EXPECT_EQ(callsOf("panning")[0].channel, target->device_channel);
    std::size_t k = 0;
    for (PlayHandle* h : {first, second})
        for (int c = 0; c < h->channel_count; c++, k++)
            if (&h->channels[c] != target) {
                EXPECT_EQ(h->channels[c].volume, before[k]) << c;
            }
    // The song's own limits apply: Scream Tracker 3 volumes end at 63.
    ASSERT_EQ(row_commands(playModeScreamTracker3)[cmdSetVolume](second, target, 64), errOK);
    EXPECT_EQ(target->volume, 63);
}
