// Where a song ends: at the row tick after which the next row would be one the song has already
// played in the same pattern-loop state, or past its last order. Jumps back to orders not yet
// played, breaks and pattern loops that count down are no end; a loop that can never finish is.
#include "player_fixture.h"

#include <gtest/gtest.h>

using namespace playertest;

namespace {

Cell command(int cmd, int info, int channel = 0) {
    return Cell{channel, 255, 255, -1, cmd, info};
}

PatternSpec pattern(int rows, std::vector<std::vector<Cell>> cells = {}) {
    PatternSpec p;
    p.rows = rows;
    p.cells = std::move(cells);
    return p;
}

class SongEndTest : public PlayerTest {
  protected:
    // Plays a song at speed 1 (a row every tick) until it ends, at most limit rows: the rows it
    // played, in order. The song loops forever, so nothing but the end rule stops the walk.
    std::vector<std::pair<int, int>> rowsToEnd(ModuleSpec spec, int limit = 400) {
        spec.speed = 1;
        PlayHandle* h = start(spec);
        handle = h;
        std::vector<std::pair<int, int>> out;
        for (int i = 0; i < limit && !gmp_song_ended(h); i++) {
            EXPECT_EQ(gmp_play(), errOK);
            out.emplace_back(h->status->position, h->status->row);
        }
        return out;
    }
    PlayHandle* handle = nullptr;
};

using Rows = std::vector<std::pair<int, int>>;

} // namespace

TEST_F(SongEndTest, TheSongEndsAfterItsLastOrder) {
    ModuleSpec spec;
    spec.orders = {0, 1};
    spec.patterns = {pattern(2), pattern(2)};
    EXPECT_EQ(rowsToEnd(spec), (Rows{{0, 0}, {0, 1}, {1, 0}, {1, 1}}));
    EXPECT_EQ(handle->position, 0) << "wrapped to the restart position";
}

TEST_F(SongEndTest, AJumpBackToAnOrderNotYetPlayedIsNoEnd) {
    for (int mode : {playModeProtracker, playModeScreamTracker3, playModeExtended, playModeImpulse}) {
        SCOPED_TRACE(mode);
        ModuleSpec spec;
        spec.playMode = mode;
        spec.orders = {0, 1, 2};
        spec.patterns = {pattern(2, {{command(cmdPositionJump, 2)}}), pattern(2),
                         pattern(2, {{}, {command(cmdPositionJump, 1)}})};
        EXPECT_EQ(rowsToEnd(spec), (Rows{{0, 0}, {2, 0}, {2, 1}, {1, 0}, {1, 1}}))
            << "order 1 plays, then order 2 would come round again";
        EXPECT_EQ(handle->loop_count, 1);
        EXPECT_EQ(gmp_close(), errOK);
    }
}

TEST_F(SongEndTest, AJumpToTheRowsAlreadyPlayedEndsTheSong) {
    ModuleSpec spec;
    spec.orders = {0, 1};
    spec.patterns = {pattern(4), pattern(4, {{}, {command(cmdPositionJump, 0)}})};
    EXPECT_EQ(rowsToEnd(spec), (Rows{{0, 0}, {0, 1}, {0, 2}, {0, 3}, {1, 0}, {1, 1}}));
    EXPECT_EQ(handle->position, 0) << "the song stands at the jump's target";
    ticks(1);
    EXPECT_EQ(status(handle).position, 0) << "looping, it plays on from there";
    EXPECT_EQ(status(handle).row, 0);
}

TEST_F(SongEndTest, JumpAndBreakOnOneRowWalkBackwardsThroughAPattern) {
    // A Protracker trick: on row r, a jump to this same order and a break to row r - 1 play the
    // pattern's rows downwards. Each row is new, so none of it is the song's end.
    ModuleSpec spec;
    spec.playMode = playModeProtracker;
    spec.orders = {0, 1};
    std::vector<std::vector<Cell>> cells(8);
    cells[1] = {command(cmdPositionJump, 0, 0), command(cmdPatternBreak, 0x07, 1)};
    for (int r = 7; r >= 3; r--)
        cells[static_cast<std::size_t>(r)] = {command(cmdPositionJump, 0, 0),
                                              command(cmdPatternBreak, r - 1, 1)};
    cells[2] = {command(cmdPositionJump, 1, 0)};
    spec.patterns = {pattern(8, cells), pattern(1)};
    EXPECT_EQ(rowsToEnd(spec), (Rows{{0, 0}, {0, 1}, {0, 7}, {0, 6}, {0, 5}, {0, 4}, {0, 3}, {0, 2}, {1, 0}}));
}

TEST_F(SongEndTest, AJumpToTheRowItIsOnEndsTheSong) {
    // Breaks before a jump on one row: the song goes to the jump's order at row 0 (the jump
    // resets the row). Later a jump with a break after it names the very row it is on.
    ModuleSpec spec;
    spec.playMode = playModeProtracker;
    spec.orders = {0, 1, 2};
    spec.patterns = {pattern(2, {{command(cmdPatternBreak, 0x01, 0), command(cmdPatternBreak, 0x01, 1),
                                  command(cmdPositionJump, 1, 2)}}),
                     pattern(4, {{}, {command(cmdPositionJump, 1, 0), command(cmdPatternBreak, 0x01, 1)}}),
                     pattern(1)};
    EXPECT_EQ(rowsToEnd(spec), (Rows{{0, 0}, {1, 0}, {1, 1}}));
    EXPECT_EQ(handle->loop_count, 1);
}

TEST_F(SongEndTest, PatternLoopsThatCountDownAreNoEnd) {
    for (int mode : {playModeProtracker, playModeScreamTracker3, playModeExtended, playModeImpulse}) {
        SCOPED_TRACE(mode);
        ModuleSpec spec;
        spec.playMode = mode;
        spec.patterns = {pattern(4, {{}, {command(cmdPatternLoop, 0)}, {command(cmdPatternLoop, 2)}})};
        EXPECT_EQ(rowsToEnd(spec), (Rows{{0, 0}, {0, 1}, {0, 2}, {0, 1}, {0, 2}, {0, 1}, {0, 2}, {0, 3}}));
        EXPECT_EQ(gmp_close(), errOK);
    }
}

TEST_F(SongEndTest, ALoopThatCanNeverFinishEndsWhenItComesRoundTheSameWay) {
    // The loop start is set again inside the loop, and a second loop command starts the count
    // afresh each time the first one has run out: rows 1..3 would repeat for ever.
    ModuleSpec spec;
    spec.patterns = {pattern(5, {{},
                                 {command(cmdPatternLoop, 0)},
                                 {command(cmdPatternLoop, 1)},
                                 {command(cmdPatternLoop, 1)}})};
    EXPECT_EQ(rowsToEnd(spec), (Rows{{0, 0}, {0, 1}, {0, 2}, {0, 1}, {0, 2}, {0, 3}}))
        << "row 1 would next be played with the same count as the time before";
}

TEST_F(SongEndTest, ALoopingSongEndsOnceARound) {
    ModuleSpec spec;
    spec.orders = {0, 1};
    spec.patterns = {pattern(2), pattern(2, {{}, {command(cmdPositionJump, 0)}})};
    spec.speed = 1;
    PlayHandle* h = start(spec);
    ticks(4);
    EXPECT_EQ(h->loop_count, 1);
    ticks(3);
    EXPECT_EQ(h->loop_count, 1) << "the second round is followed afresh";
    ticks(1);
    EXPECT_EQ(h->loop_count, 2);
}

TEST_F(SongEndTest, ANewPositionIsFollowedAfresh) {
    ModuleSpec spec;
    spec.orders = {0, 1};
    spec.patterns = {pattern(2), pattern(2)};
    spec.speed = 1;
    PlayHandle* h = start(spec);
    ticks(3);
    ASSERT_EQ(gmp_set_position(h, 0), errOK);
    ticks(3);
    EXPECT_FALSE(gmp_song_ended(h)) << "the rows before the move do not count";
    ticks(1);
    EXPECT_TRUE(gmp_song_ended(h));
}

TEST_F(SongEndTest, LongSongsAreFollowedToTheirEnd) {
    // More rows than the first table of rows played holds: it grows, and the end is still found.
    ModuleSpec spec;
    spec.orders.assign(20, 0);
    spec.patterns = {pattern(256)};
    const Rows rows = rowsToEnd(spec, 6000);
    EXPECT_EQ(rows.size(), 20u * 256u);
    EXPECT_TRUE(gmp_song_ended(handle));
}
