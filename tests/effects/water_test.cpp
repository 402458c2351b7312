// The water credits: drops, the water step, refraction, the rise and the captions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "effects/water.h"
#include "synthetic.h"

namespace {

using Heights = std::vector<std::int32_t>;

Heights flat() {
    return Heights(framePixels, 0);
}

std::int32_t largestHeight(const std::int32_t* h) {
    std::int32_t most = 0;
    for (std::size_t i = 0; i < framePixels; ++i)
        most = std::max(most, std::abs(h[i]));
    return most;
}

class Water : public ::testing::Test {
  protected:
    const std::vector<std::uint16_t> background = pattern(frameWidth, frameHeight, 31);
    std::array<std::vector<std::uint16_t>, 3> titles{pattern(148, 36, 32, 6), pattern(123, 34, 33, 6),
                                                     pattern(80, 38, 34, 6)};
    std::array<std::vector<std::uint16_t>, 3> names{pattern(67, 23, 35, 6), pattern(193, 27, 36, 6),
                                                    pattern(207, 73, 37, 6)};
    WaterPictures pictures() const {
        return WaterPictures{background.data(),
                             {titles[0].data(), titles[1].data(), titles[2].data()},
                             {names[0].data(), names[1].data(), names[2].data()}};
    }
    std::uint16_t backgroundAt(int column, int row) const {
        return background[static_cast<std::size_t>(row * frameWidth + column)];
    }
};

} // namespace

TEST_F(Water, FlatSurfaceShowsTheBackgroundOnePixelOnWithTheLastColumnAndRowRepeated) {
    const Heights h = flat();
    GuardedFrame frame;
    frame.fill(0x1111);
    refractWater(frame.pixels(), h.data(), background.data());
    for (int row = 0; row < frameHeight; ++row)
        for (int column = 0; column < frameWidth; ++column) {
            if (row == 0 || row == frameHeight - 1) {
                ASSERT_EQ(frame.at(column, row), 0x1111) << "row " << row << " is not the water's";
                continue;
            }
            const int sx = std::min(column + 1, frameWidth - 1), sy = std::min(row + 1, frameHeight - 1);
            ASSERT_EQ(frame.at(column, row), backgroundAt(sx, sy)) << column << "," << row;
        }
    EXPECT_EQ(frame.at(319, 198), backgroundAt(319, 199));
    EXPECT_TRUE(frame.guardsIntact());
}

TEST_F(Water, SlopesBendTheViewAndFarSamplesStayOnThePicture) {
    Heights h = flat();
    // Left neighbour 16 above the right one: one column further right; and far beyond the edge.
    h[100 * 320 + 49] = 16;
    h[100 * 320 + 318] = 1000000;
    h[50 * 320 + 10] = -1000000; // the cell above row 51, column 10: sampled far up, clamped to 0
    GuardedFrame frame;
    refractWater(frame.pixels(), h.data(), background.data());
    EXPECT_EQ(frame.at(50, 100), backgroundAt(52, 101));
    EXPECT_EQ(frame.at(319, 100), backgroundAt(319, 101));
    EXPECT_EQ(frame.at(10, 51), backgroundAt(11, 0));
    EXPECT_TRUE(frame.guardsIntact());
}

TEST(WaterDrops, StoneSetsTwelveCellsAndReplacesWhatWasThere) {
    Heights h(framePixels, 5);
    dropStone(h.data(), 100, 50);
    const int c = 50 * 320 + 100;
    for (int cell : {c, c + 1, c + 320, c + 321})
        EXPECT_EQ(h[static_cast<std::size_t>(cell)], stoneDepth) << cell - c;
    for (int cell : {c - 1, c + 319, c + 2, c + 322, c - 319, c - 320, c + 640, c + 641})
        EXPECT_EQ(h[static_cast<std::size_t>(cell)], splashDepth) << cell - c;
    EXPECT_EQ(std::count(h.begin(), h.end(), 5), framePixels - 12);
}

TEST(WaterDrops, ADropOnTheLastRowLeavesOutTheCellsPastTheArray) {
    const auto count = [](const Heights& h) {
        return std::count_if(h.begin(), h.end(), [](std::int32_t v) { return v != 0; });
    };
    Heights h = flat();
    dropStone(h.data(), 100, 198);
    const int c = 198 * 320 + 100;
    EXPECT_EQ(h[static_cast<std::size_t>(c + 321)], stoneDepth); // row 199
    EXPECT_EQ(count(h), 10);                                     // the two cells of row 200 are left out
    // In the corner the cell past the last column is past the array too.
    Heights corner = flat();
    dropStone(corner.data(), 318, 198);
    EXPECT_EQ(corner[63999], stoneDepth);
    EXPECT_EQ(corner[199 * 320 + 0], splashDepth); // c + 2 wraps into the next row
    EXPECT_EQ(count(corner), 9);
    // Column 318: two on goes into column 0 of the next row.
    Heights g = flat();
    dropStone(g.data(), 318, 10);
    EXPECT_EQ(g[11 * 320 + 0], splashDepth);
    EXPECT_EQ(g[12 * 320 + 0], splashDepth);
    // Anything asked for outside the array is left out.
    for (auto [x, y] : std::vector<std::pair<int, int>>{{-5, 0}, {0, 0}, {400, 199}, {1, -3}, {319, 199}}) {
        Heights e = flat();
        dropStone(e.data(), x, y);
    }
}

TEST(WaterStep, WavesSpreadFromTheOldHeightsMinusTheNewAndLoseASixteenth) {
    Heights a = flat(), b = flat();
    WaterSurface surface{a.data(), b.data()};
    const int i = 100 * 320 + 100;
    a[i] = 1600; // current now, previous after the swap
    b[i + 1] = 64;
    spreadWaves(&surface);
    EXPECT_EQ(surface.current, b.data());
    EXPECT_EQ(surface.previous, a.data());
    for (int n : {i - 320, i + 320, i - 1})
        EXPECT_EQ(b[static_cast<std::size_t>(n)], 750) << n - i; // 800 - 800/16
    EXPECT_EQ(b[i + 1], 736 - 46);                               // 800 - 64 = 736, less 736/16
    EXPECT_EQ(b[i], 0);
    EXPECT_EQ(b[i - 321], 0);
    // Negative heights shift arithmetically: -1 stays -1 ... minus -1.
    Heights c = flat(), d = flat();
    WaterSurface s2{c.data(), d.data()};
    d[i] = 1; // becomes current: 0 - 1 = -1; -1 - (-1 >> 4) = 0
    spreadWaves(&s2);
    EXPECT_EQ(d[i], 0);
}

TEST(WaterStep, FirstAndLastRowsAreClearedAndASingleDropDiesOut) {
    Heights a = flat(), b = flat();
    WaterSurface surface{a.data(), b.data()};
    std::fill(b.begin(), b.end(), 7);
    dropStone(surface.current, 160, 100);
    spreadWaves(&surface);
    for (int column = 0; column < frameWidth; ++column) {
        ASSERT_EQ(surface.current[column], 0);
        ASSERT_EQ(surface.current[199 * 320 + column], 0);
    }
    std::int32_t early = 0;
    for (int step = 1; step < 250; ++step) {
        spreadWaves(&surface);
        if (step == 20) early = largestHeight(surface.current);
    }
    EXPECT_GT(early, 1000);
    EXPECT_EQ(largestHeight(surface.current), 0); // gone after about 200 steps
}

TEST(WaterStep, RainKeepsTheHeightsBounded) {
    Heights a = flat(), b = flat();
    WaterSurface surface{a.data(), b.data()};
    std::srand(1);
    std::int32_t most = 0;
    for (int step = 0; step < 600; ++step) {
        waterStep(&surface);
        if (step % 5 == 0) most = std::max(most, largestHeight(surface.current));
    }
    EXPECT_GT(most, 0);       // stones did fall
    EXPECT_LT(most, 1 << 17); // far from overflowing the sums of four
}

TEST_F(Water, CaptionAlphaRisesToThirtyAtMidPatternAndFallsBack) {
    EXPECT_EQ(creditAlpha(0), 0);
    EXPECT_EQ(creditAlpha(32), 30);
    EXPECT_LE(std::abs(creditAlpha(16) - creditAlpha(48)), 1); // about 15, truncated either side
    EXPECT_GE(creditAlpha(16), 14);
    EXPECT_LE(creditAlpha(63), 2);
    for (int row = 1; row <= 32; ++row)
        EXPECT_GE(creditAlpha(row), creditAlpha(row - 1)) << row;
}

TEST_F(Water, PictureRisesFasterAndFasterAndStopsInPlace) {
    WaterRise rise = riseStart();
    EXPECT_EQ(rise.offset, 1);
    std::int32_t last = rise.offset, steps = 0;
    while (rise.offset < riseEnd) {
        advanceRise(&rise);
        ++steps;
        ASSERT_GE(rise.offset, last);
        last = rise.offset;
        ASSERT_LT(steps, 100);
    }
    EXPECT_EQ(steps, 56); // 1.1 ^ 56 > 200 > 1.1 ^ 55
    advanceRise(&rise);
    EXPECT_EQ(rise.offset, riseEnd);
}

TEST_F(Water, CaptionPairsSlideAlongTheirEdgesAndEndOnTheLastWaterLine) {
    for (int position = 1; position <= 3; ++position) {
        const CreditPair& pair = creditPairs[static_cast<std::size_t>(position - 1)];
        EXPECT_EQ(pair.nameRow + pair.nameHeight, 199) << position;
        // One opaque pixel at the bottom right of title and name tells where each went.
        std::vector<std::uint16_t> title(static_cast<std::size_t>(pair.titleWidth * pair.titleHeight),
                                         colourKey);
        std::vector<std::uint16_t> name(static_cast<std::size_t>(pair.nameWidth * pair.nameHeight),
                                        colourKey);
        title.back() = 0xFFFF;
        name.back() = 0xFFFF;
        WaterPictures p = pictures();
        p.titles[static_cast<std::size_t>(position - 1)] = title.data();
        p.names[static_cast<std::size_t>(position - 1)] = name.data();
        GuardedFrame frame;
        frame.fill(0);
        drawCreditPair(frame.pixels(), p, position, 40, 31);
        EXPECT_EQ(frame.at(10 + pair.titleWidth - 1, 40 + pair.titleHeight - 1), scalePixel(0xFFFF, 31));
        EXPECT_EQ(frame.at(60 + pair.nameWidth - 1, 198), scalePixel(0xFFFF, 31));
        EXPECT_EQ(std::count(frame.pixels(), frame.pixels() + framePixels, 0), framePixels - 2);
        // Too faint, or no credit at this position: nothing.
        GuardedFrame none;
        none.fill(0);
        drawCreditPair(none.pixels(), p, position, 40, 2);
        drawCreditPair(none.pixels(), p, 0, 40, 30);
        drawCreditPair(none.pixels(), p, 4, 40, 30);
        EXPECT_EQ(std::count(none.pixels(), none.pixels() + framePixels, 0), framePixels);
    }
}

TEST_F(Water, CalmWaterFadesToBlackOverPositionFive) {
    const Heights h = flat();
    GuardedFrame calm, faded;
    drawWaterFrame(calm.pixels(), pictures(), h.data(), 4, 30, creditAlpha(30));
    drawWaterFrame(faded.pixels(), pictures(), h.data(), 5, 30, creditAlpha(30));
    for (std::size_t i = frameWidth; i < framePixels - frameWidth; ++i)
        ASSERT_EQ(faded.pixels()[i], scalePixel(calm.pixels()[i], 16)) << i;
    drawWaterFrame(faded.pixels(), pictures(), h.data(), 5, 63, 0);
    for (std::size_t i = frameWidth; i < framePixels - frameWidth; ++i)
        ASSERT_EQ(faded.pixels()[i], 0) << i;
}

TEST_F(Water, WholeFramesMatchTheirChecksums) {
    Heights a = flat(), b = flat();
    WaterSurface surface{a.data(), b.data()};
    dropStone(surface.current, 100, 60);
    dropStone(surface.current, 250, 150);
    for (int step = 0; step < 12; ++step)
        spreadWaves(&surface);
    GuardedFrame frame;
    frame.fill(0);
    drawWaterFrame(frame.pixels(), pictures(), surface.current, 2, 20, creditAlpha(20));
    EXPECT_EQ(checksum(frame.pixels(), framePixels), 6882232391741952423u);
    for (int step = 0; step < 30; ++step)
        spreadWaves(&surface);
    drawWaterFrame(frame.pixels(), pictures(), surface.current, 3, 44, creditAlpha(44));
    EXPECT_EQ(checksum(frame.pixels(), framePixels), 13559545009440112420u);
    EXPECT_TRUE(frame.guardsIntact());
}
