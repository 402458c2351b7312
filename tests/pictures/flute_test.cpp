// The flute player's 19 frames: an animation that moves and loops without a jump.
#include "show_data.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {
constexpr std::size_t frame = 86 * 109;
}

TEST(FlutePlayer, LastFrameFlowsIntoTheFirst) {
    std::vector<std::uint16_t> all = loadEntry("fluteboy.dat", frame * 19);
    if (all.empty()) GTEST_SKIP() << "no archive";
    double largest = 0, smallest = 1;
    for (int f = 0; f < 18; ++f) {
        double d = pictureDifference(&all[f * frame], &all[(f + 1) * frame], frame);
        largest = std::max(largest, d), smallest = std::min(smallest, d);
    }
    double wrap = pictureDifference(&all[18 * frame], &all[0], frame);
    EXPECT_LE(wrap, largest);
    EXPECT_GT(wrap, 0.0) << "frame 18 repeats frame 0, so the loop would stall";
    EXPECT_GT(smallest, 0.0) << "two neighbouring frames are identical";
}

TEST(FlutePlayer, FigureReachesTheBottomEdge) {
    // Drawn with its top at row 91 the figure ends on the screen's last row; a gap there
    // would leave it floating.
    std::vector<std::uint16_t> all = loadEntry("fluteboy.dat", frame * 19);
    if (all.empty()) GTEST_SKIP() << "no archive";
    for (int f = 0; f < 19; ++f) {
        const std::uint16_t* last = &all[f * frame + 108 * 86];
        EXPECT_GT(std::count_if(last, last + 86, [](std::uint16_t p) { return p != 0x07E0; }), 30)
            << "frame " << f;
    }
}
