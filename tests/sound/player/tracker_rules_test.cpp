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

class TrackerRules : public PlayerTest {
  protected:
    // Starts a song and runs up to the tick before its first row.
    PlayHandle* begin(const ModuleSpec& spec, int loopForever = 1) {
        EXPECT_EQ(gmp_close(), errOK);
        calls.clear();
        PlayHandle* h = start(spec, loopForever);
        ticks(spec.speed - 1);
        return h;
    }
};

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
