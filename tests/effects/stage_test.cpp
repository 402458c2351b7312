// The parts on a made-up stage: the loop every part runs (when it advances, draws, presents and
// reads the music's place) and the archive entries each part reads, which must be exactly the
// ones it lists for the run sequence to check before the show.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <deque>
#include <string>
#include <vector>

#include "effects/opening.h"
#include "effects/stage.h"
#include "effects/tunnel.h"
#include "effects/water.h"

namespace {

// What the made-up framework is told to answer and what it saw. The stage's functions take no
// context, so the script lives here for the one test that runs at a time.
struct Script {
    std::deque<int> pumps;           // framePump's answers in turn (then 1)
    std::deque<PlayStatus> statuses; // readPlayStatus's and startMusic's answers in turn (then the last)
    PlayStatus last{};
    std::vector<std::string> calls; // "pump", "present", "read", "start", "wait 3000", "rate 30"
    std::vector<ArchiveItem> loads;
    std::vector<const std::uint16_t*> presented;
};
Script script;

// Two frames back to back, as the framework lays them out.
std::array<std::uint16_t, 2 * framePixels> frames;

PlayStatus at(std::int32_t position, std::int32_t row) {
    return PlayStatus{position, 0, row, -1, 0};
}

PlayStatus nextStatus() {
    if (!script.statuses.empty()) {
        script.last = script.statuses.front();
        script.statuses.pop_front();
    }
    return script.last;
}

Stage fakeStage() {
    return Stage{
        .frameBuffer0 = frames.data(),
        .frameBuffer1 = frames.data() + framePixels,
        .load =
            [](const ArchiveItem& item, std::uint16_t* destination) {
                script.loads.push_back(item);
                // Every element written, so a destination too small for its item shows up under
                // the sanitizers.
                std::fill_n(destination, item.count, static_cast<std::uint16_t>(script.loads.size()));
            },
        .framePump =
            [] {
                script.calls.push_back("pump");
                if (script.pumps.empty()) return 1;
                const int draw = script.pumps.front();
                script.pumps.pop_front();
                return draw;
            },
        .presentFrame =
            [](const std::uint16_t* frame) {
                script.calls.push_back("present");
                script.presented.push_back(frame);
            },
        .waitMs =
            [](std::int32_t ms) {
                script.calls.push_back("wait " + std::to_string(ms));
                return ms;
            },
        .setFrameRate = [](std::uint8_t fps) { script.calls.push_back("rate " + std::to_string(fps)); },
        .startMusic =
            [] {
                script.calls.push_back("start");
                return nextStatus();
            },
        .readPlayStatus =
            [] {
                script.calls.push_back("read");
                return nextStatus();
            },
    };
}

class StageLoop : public ::testing::Test {
  protected:
    void SetUp() override { script = Script{}; }
    void TearDown() override { script = Script{}; }
    const Stage stage = fakeStage();
    // What each pass saw: the position and row of step, and of draw when it drew.
    std::vector<std::pair<int, int>> stepped, drawn;

    PlayStatus run(PlayStatus from, std::int32_t end, StatusReading reading) {
        return runUntilPosition(
            stage, from, end, reading,
            [&](std::int32_t position, std::int32_t row) {
                script.calls.push_back("step");
                stepped.emplace_back(position, row);
            },
            [&](std::int32_t position, std::int32_t row) {
                drawn.emplace_back(position, row);
                return stage.frameBuffer1;
            });
    }
};

bool sameItems(const std::vector<ArchiveItem>& loaded, const auto& listed) {
    return std::equal(loaded.begin(), loaded.end(), listed.begin(), listed.end(),
                      [](const ArchiveItem& a, const ArchiveItem& b) {
                          return std::string(a.name) == b.name && a.count == b.count;
                      });
}

std::vector<std::string> names(const std::vector<ArchiveItem>& items) {
    std::vector<std::string> out;
    for (const ArchiveItem& item : items)
        out.emplace_back(item.name);
    return out;
}

} // namespace

TEST_F(StageLoop, EveryPassStepsPumpsAndReadsAndOnlyDrawnStepsArePresented) {
    script.pumps = {1, 0, 1};
    script.statuses = {at(0, 1), at(0, 2), at(1, 0)};
    const PlayStatus end = run(at(0, 0), 1, StatusReading::everyPass);
    EXPECT_EQ(end.position, 1);
    EXPECT_EQ(end.row, 0);
    const std::vector<std::string> expected = {"step", "pump", "present", "read",    "step", "pump",
                                               "read", "step", "pump",    "present", "read"};
    EXPECT_EQ(script.calls, expected);
    EXPECT_EQ(stepped, (std::vector<std::pair<int, int>>{{0, 0}, {0, 1}, {0, 2}}));
    EXPECT_EQ(drawn, (std::vector<std::pair<int, int>>{{0, 0}, {0, 2}}));
    // The frame draw returned is the one presented.
    EXPECT_EQ(script.presented, (std::vector<const std::uint16_t*>(2, stage.frameBuffer1)));
}

TEST_F(StageLoop, ReadingAfterDrawnFramesKeepsTheOldPlaceThroughASkippedStep) {
    script.pumps = {1, 0, 0, 1};
    script.statuses = {at(0, 5), at(1, 0)};
    const PlayStatus end = run(at(0, 4), 1, StatusReading::afterDrawnFrame);
    EXPECT_EQ(end.position, 1);
    // The two skipped steps still advance, at the row the last drawn frame read.
    EXPECT_EQ(stepped, (std::vector<std::pair<int, int>>{{0, 4}, {0, 5}, {0, 5}, {0, 5}}));
    EXPECT_EQ(drawn, (std::vector<std::pair<int, int>>{{0, 4}, {0, 5}}));
    EXPECT_EQ(std::count(script.calls.begin(), script.calls.end(), "read"), 2);
    // The loop ends only after a drawn frame.
    EXPECT_EQ(script.calls.back(), "read");
    EXPECT_EQ(script.calls[script.calls.size() - 2], "present");
}

TEST_F(StageLoop, ALoopThatStartsAtItsEndDoesNothing) {
    const PlayStatus end = run(at(7, 3), 6, StatusReading::everyPass);
    EXPECT_EQ(end.position, 7);
    EXPECT_EQ(end.row, 3);
    EXPECT_TRUE(script.calls.empty());
    EXPECT_TRUE(stepped.empty());
}

TEST_F(StageLoop, TheOpeningReadsItsListedItemsShowsTheWarningThenStartsTheMusic) {
    script.statuses = {at(5, 0)}; // the music is already past the part
    runOpening(stage);
    EXPECT_TRUE(sameItems(script.loads, openingItems)) << ::testing::PrintToString(names(script.loads));
    const std::vector<std::string> expected = {"present", "wait 3000", "start", "pump"};
    EXPECT_EQ(script.calls, expected);
    // The warning, loaded first (filled with 1), is what was presented.
    ASSERT_EQ(script.presented.size(), 1u);
    EXPECT_EQ(script.presented[0][0], 1);
    EXPECT_EQ(script.presented[0][warningItem.count - 1], 1);
}

TEST_F(StageLoop, TheOpeningRunsBothPhasesOnTheFirstFrame) {
    script.statuses = {at(0, 0), at(1, 10), at(2, 20), at(4, 62), at(5, 0)};
    runOpening(stage);
    // Four passes, each drawn into frameBuffer0 and presented, after the warning.
    EXPECT_EQ(script.presented.size(), 5u);
    for (std::size_t i = 1; i < script.presented.size(); ++i)
        EXPECT_EQ(script.presented[i], stage.frameBuffer0);
    EXPECT_EQ(std::count(script.calls.begin(), script.calls.end(), "read"), 4);
}

TEST_F(StageLoop, TheCreditsReadTheirListedItemsStartTheMusicAndArmTheTimer) {
    script.statuses = {at(6, 0)};
    runCredits(stage);
    EXPECT_TRUE(sameItems(script.loads, creditsItems)) << ::testing::PrintToString(names(script.loads));
    const std::vector<std::string> expected = {"start", "rate 30"};
    EXPECT_EQ(script.calls, expected);
}

TEST_F(StageLoop, TheCreditsRiseFromBelowFrameBufferZeroAndThenShowFrameBufferOne) {
    for (std::int32_t row = 0; row < 60; ++row)
        script.statuses.push_back(at(0, row));
    script.statuses.push_back(at(1, 0));
    script.statuses.push_back(at(6, 0));
    runCredits(stage);
    ASSERT_EQ(script.presented.size(), 61u);
    // The window onto the two frames starts a row in and moves down until it is frameBuffer1.
    EXPECT_EQ(script.presented[0], stage.frameBuffer0 + frameWidth);
    for (std::size_t i = 1; i < 60; ++i)
        ASSERT_GE(script.presented[i], script.presented[i - 1]) << i;
    EXPECT_EQ(script.presented[59], stage.frameBuffer1);
    EXPECT_EQ(script.presented[60], stage.frameBuffer1);
}

TEST_F(StageLoop, TheTunnelReadsItsListedItemsAndRunsToPositionFourteen) {
    script.statuses = {at(6, 0), at(10, 0), at(14, 0)};
    runTunnel(stage);
    EXPECT_TRUE(sameItems(script.loads, tunnelItems)) << ::testing::PrintToString(names(script.loads));
    const std::vector<std::string> expected = {"read", "pump", "pump",    "present",
                                               "read", "pump", "present", "read"};
    EXPECT_EQ(script.calls, expected);
}

TEST(StageItems, EveryPartReadsWholePicturesOfItsOwnSize) {
    EXPECT_EQ(warningItem.count, framePixels);
    EXPECT_EQ(fluteItem.count, 19u * 86 * 109); // the nineteen frames in one read
    EXPECT_EQ(creditsItems.back().name, std::string("p2_bgpic.raw"));
    for (std::size_t pair = 0; pair < creditPairs.size(); ++pair) {
        EXPECT_EQ(creditsItems[2 * pair].name, std::string(creditPairs[pair].titleFile));
        EXPECT_EQ(creditsItems[2 * pair].count,
                  static_cast<std::size_t>(creditPairs[pair].titleWidth * creditPairs[pair].titleHeight));
        EXPECT_EQ(creditsItems[2 * pair + 1].name, std::string(creditPairs[pair].nameFile));
    }
}
