// The colour toolkit: scale tables, fade, keyed cross-fade, shadow, keyed copy, placing.
#include <gtest/gtest.h>

#include "effects/colour.h"
#include "synthetic.h"

namespace {

int red(std::uint16_t p) {
    return p >> 11;
}
int green(std::uint16_t p) {
    return (p >> 5) & 0x3F;
}
int blue(std::uint16_t p) {
    return p & 0x1F;
}

} // namespace

TEST(ScalePixel, FullLevelClearsOnlyTheLowestGreenBitAndZeroIsBlack) {
    EXPECT_EQ(scalePixel(0xFFFF, 32), 0xFFDF);
    for (std::uint32_t p = 0; p < 65536; ++p) {
        ASSERT_EQ(scalePixel(static_cast<std::uint16_t>(p), 0), 0) << p;
        ASSERT_EQ(scalePixel(static_cast<std::uint16_t>(p), 32), p & 0xFFDF) << p;
    }
}

TEST(ScalePixel, EveryChannelIsScaledOnItsOwnWithGreenOnFiveBits) {
    for (int level = 0; level <= 32; ++level)
        for (std::uint32_t p = 0; p < 65536; p += 7) {
            const std::uint16_t s = scalePixel(static_cast<std::uint16_t>(p), level);
            const std::uint16_t q = static_cast<std::uint16_t>(p);
            ASSERT_EQ(red(s), red(q) * level / 32) << p << " at " << level;
            ASSERT_EQ(green(s), ((green(q) >> 1) * level / 16) & 0x3F) << p << " at " << level;
            ASSERT_EQ(blue(s), blue(q) * level / 32) << p << " at " << level;
        }
}

TEST(ScalePixel, LevelsAboveFullBrightenAndLevelsOutsideTheTablesAreClamped) {
    // Red 1, green 1 (of five bits), blue 2, each times 62/32 (green 62/16).
    EXPECT_EQ(scalePixel(0x0842, 62), (1 << 11) | (3 << 5) | 3);
    EXPECT_EQ(scalePixel(0x1234, -7), 0);
    EXPECT_EQ(scalePixel(0x1234, 1000), scalePixel(0x1234, 62));
}

TEST(ScaleTables, EntriesOutsideTheFormulasAreZero) {
    // Level 63 would start at index 2,016: never produced, and nothing was stored there.
    for (int blue = 0; blue < 32; ++blue)
        EXPECT_EQ(scaleRedBlue[static_cast<std::size_t>(63 * 32 + blue)], 0);
    for (std::size_t i = 63 * 32; i < 65536; ++i)
        ASSERT_EQ(scaleGreen[i], 0) << i;
}

TEST(FadeFrame, ScalesEveryPixelAndLeavesTheRestAlone) {
    GuardedFrame frame;
    const auto source = pattern(frameWidth, frameHeight, 7);
    std::copy(source.begin(), source.end(), frame.pixels());
    fadeFrame(frame.pixels(), 20);
    for (std::size_t i = 0; i < framePixels; ++i)
        ASSERT_EQ(frame.pixels()[i], scalePixel(source[static_cast<std::size_t>(i)], 20)) << i;
    EXPECT_TRUE(frame.guardsIntact());
    fadeFrame(frame.pixels(), 0);
    for (std::size_t i = 0; i < framePixels; ++i)
        ASSERT_EQ(frame.pixels()[i], 0) << i;
}

TEST(BlendPicture, KeyPixelsNeverChangeTheFrameAndOthersCrossFadeWithoutCarry) {
    GuardedFrame frame;
    const auto background = pattern(frameWidth, frameHeight, 3);
    std::copy(background.begin(), background.end(), frame.pixels());
    const auto picture = pattern(40, 30, 5, 3);
    for (int alpha : {3, 16, 31}) {
        std::copy(background.begin(), background.end(), frame.pixels());
        blendPicture(frame.pixels(), picture.data(), 40, 30, 100, 50, alpha);
        for (int row = 0; row < frameHeight; ++row)
            for (int column = 0; column < frameWidth; ++column) {
                const std::uint16_t d = background[static_cast<std::size_t>(row * frameWidth + column)];
                const bool inside = column >= 100 && column < 140 && row >= 50 && row < 80;
                const std::uint16_t s =
                    inside ? picture[static_cast<std::size_t>((row - 50) * 40 + column - 100)] : colourKey;
                const std::uint16_t got = frame.at(column, row);
                if (s == colourKey) {
                    ASSERT_EQ(got, d) << column << "," << row;
                    continue;
                }
                // Each channel is the sum of the two scaled channels: nothing spills over.
                ASSERT_EQ(red(got), red(s) * alpha / 32 + red(d) * (31 - alpha) / 32);
                ASSERT_EQ(green(got), (green(s) >> 1) * alpha / 16 + (green(d) >> 1) * (31 - alpha) / 16);
                ASSERT_EQ(blue(got), blue(s) * alpha / 32 + blue(d) * (31 - alpha) / 32);
            }
    }
    EXPECT_TRUE(frame.guardsIntact());
}

TEST(BlendPicture, FullAlphaShowsThePictureAtThirtyOneThirtySecondsOverNoBackground) {
    GuardedFrame frame;
    frame.fill(0xFFFF);
    const std::uint16_t picture[2] = {0xFFFF, colourKey};
    blendPicture(frame.pixels(), picture, 2, 1, 0, 0, 31);
    EXPECT_EQ(frame.at(0, 0), scalePixel(0xFFFF, 31));
    EXPECT_EQ(frame.at(1, 0), 0xFFFF);
}

TEST(ShadowPicture, HalvesEveryChannelUnderOpaquePixelsOnly) {
    GuardedFrame frame;
    frame.fill(0xFFFF);
    const std::uint16_t picture[4] = {0x1234, colourKey, 0, colourKey};
    shadowPicture(frame.pixels(), picture, 2, 2, 318, 198);
    EXPECT_EQ(frame.at(318, 198), 0x7BEF); // 15, 31, 15
    EXPECT_EQ(frame.at(319, 198), 0xFFFF);
    EXPECT_EQ(frame.at(318, 199), 0x7BEF);
    EXPECT_EQ(frame.at(319, 199), 0xFFFF);
    EXPECT_TRUE(frame.guardsIntact());
}

TEST(CopyPicture, ReplacesOpaquePixelsAsTheyAre) {
    GuardedFrame frame;
    frame.fill(0x0001);
    const std::uint16_t picture[3] = {0xF800, colourKey, 0x001F};
    copyPicture(frame.pixels(), picture, 3, 1, 10, 20);
    EXPECT_EQ(frame.at(10, 20), 0xF800);
    EXPECT_EQ(frame.at(11, 20), 0x0001);
    EXPECT_EQ(frame.at(12, 20), 0x001F);
}

TEST(PicturePlacing, PartsOutsideTheFrameAreLeftOutOnEverySide) {
    const auto picture = pattern(50, 40, 11);
    for (const auto& [x, y] : std::vector<std::pair<int, int>>{
             {-20, -10}, {300, 180}, {-49, 100}, {319, -39}, {-50, 0}, {0, 200}, {400, 400}, {-100000, 5}}) {
        GuardedFrame frame;
        frame.fill(0);
        blendPicture(frame.pixels(), picture.data(), 50, 40, x, y, 31);
        shadowPicture(frame.pixels(), picture.data(), 50, 40, x, y);
        copyPicture(frame.pixels(), picture.data(), 50, 40, x, y);
        ASSERT_TRUE(frame.guardsIntact()) << x << "," << y;
        // The copied part is the picture's part that overlaps the frame.
        for (int row = 0; row < frameHeight; ++row)
            for (int column = 0; column < frameWidth; ++column) {
                const int pc = column - x, pr = row - y;
                const bool inside = pc >= 0 && pc < 50 && pr >= 0 && pr < 40;
                ASSERT_EQ(frame.at(column, row), inside ? picture[static_cast<std::size_t>(pr * 50 + pc)] : 0)
                    << column << "," << row << " for " << x << "," << y;
            }
    }
}

TEST(FadeLevels, HalfTheRowOverOnePatternHeldAtItsEnds) {
    EXPECT_EQ(fadeInLevel(0), 0);
    EXPECT_EQ(fadeInLevel(5), 2);
    EXPECT_EQ(fadeInLevel(63), 31);
    EXPECT_EQ(fadeInLevel(200), 31);
    EXPECT_EQ(fadeOutLevel(0), 31);
    EXPECT_EQ(fadeOutLevel(62), 0);
    EXPECT_EQ(fadeOutLevel(-3), 31);
}
