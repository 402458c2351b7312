// The opening: lens tables, the elliptic path, the caption and title frames.
#include <gtest/gtest.h>

#include <cstdlib>

#include "effects/opening.h"
#include "synthetic.h"

namespace {

// A texture whose pixel tells where it was taken from: row (v) in the high byte, column (u) low.
std::vector<std::uint16_t> coordinateTexture() {
    std::vector<std::uint16_t> t(256 * 256);
    for (int v = 0; v < 256; ++v)
        for (int u = 0; u < 256; ++u)
            t[static_cast<std::size_t>(v * 256 + u)] = static_cast<std::uint16_t>(v << 8 | u);
    return t;
}

class Opening : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { buildLensTables(); }
    const std::vector<std::uint16_t> caption = pattern(captionWidth, captionHeight, 21, 5);
    const std::vector<std::uint16_t> texture = pattern(256, 256, 22);
    const std::vector<std::uint16_t> title = pattern(titleWidth, titleHeight, 23, 4);
    const OpeningPictures pictures{caption.data(), texture.data(), title.data()};
};

} // namespace

TEST_F(Opening, FirstFrameUsesStepOneWindowAndOffsets) {
    OpeningState state = openingStart();
    advanceLens(&state);
    EXPECT_EQ(state.k, 1);
    EXPECT_EQ(pathX[state.k], 191);
    EXPECT_EQ(pathY[state.k], 102);
    EXPECT_EQ(state.du, 253);
    EXPECT_EQ(state.dv, 130);

    // The drawn frame takes the lens map from that window, moved by those offsets.
    const auto coordinates = coordinateTexture();
    GuardedFrame frame;
    renderLens(frame.pixels(), coordinates.data(), state);
    for (int row = 0; row < frameHeight; row += 7)
        for (int column = 0; column < frameWidth; column += 5) {
            const std::uint16_t m =
                lensMap[static_cast<std::size_t>((102 + row) * lensColumns + 191 + column)];
            const int v = ((m >> 8) + 130) & 0xFF, u = ((m & 0xFF) + 253) & 0xFF;
            ASSERT_EQ(frame.at(column, row), v << 8 | u) << column << "," << row;
        }
    EXPECT_TRUE(frame.guardsIntact());
}

TEST_F(Opening, PathStaysInsideTheMapAndWrapsWithoutAJump) {
    for (int k = 0; k < 256; ++k) {
        ASSERT_LE(pathX[static_cast<std::size_t>(k)], lensColumns - frameWidth);
        ASSERT_LE(pathY[static_cast<std::size_t>(k)], lensRows - frameHeight);
    }
    EXPECT_EQ(pathX[0], 192);
    EXPECT_EQ(pathY[0], 100);
    EXPECT_LE(std::abs(pathX[255] - pathX[0]), 1);
    EXPECT_LE(std::abs(pathY[255] - pathY[0]), 3);
    OpeningState state = openingStart();
    for (int step = 0; step < 256; ++step)
        advanceLens(&state);
    EXPECT_EQ(state.k, 0); // wrapped from 255 to 0
    EXPECT_EQ(state.du, 254);
    EXPECT_EQ(state.dv, 127);
}

TEST_F(Opening, LensPullsTowardTheTextureCentre) {
    // Where both sines are at their lowest the factor is 0.5: halfway toward coordinate 128.
    for (int j = 0; j < lensRows; ++j) {
        const std::uint16_t m = lensMap[static_cast<std::size_t>(j * lensColumns + 384)];
        ASSERT_EQ(m & 0xFF, 0) << j; // 384 * 0.5 + 64 = 256, kept modulo 256
    }
    const std::uint16_t m = lensMap[static_cast<std::size_t>(300 * lensColumns + 384)];
    EXPECT_EQ(m >> 8, (300 / 2 + 64) & 0xFF);
    // Where both are at their highest the factor is 1: the map is the identity.
    const std::uint16_t top = lensMap[static_cast<std::size_t>(100 * lensColumns + 128)];
    EXPECT_EQ(top, (100 << 8) | 128);
}

TEST_F(Opening, CaptionFadesInOverPositionZeroAndOutOverOneAndFaintLevelsDrawNothing) {
    EXPECT_EQ(captionLevel(0, 0), 0);
    EXPECT_EQ(captionLevel(0, 5), 2);
    EXPECT_EQ(captionLevel(0, 6), 3);
    EXPECT_EQ(captionLevel(0, 62), 31);
    EXPECT_EQ(captionLevel(0, 63), 31);
    EXPECT_EQ(captionLevel(1, 0), 31);
    EXPECT_EQ(captionLevel(1, 63), 0);

    OpeningState state = openingStart();
    advanceLens(&state);
    GuardedFrame lensOnly, faint, drawn;
    renderLens(lensOnly.pixels(), texture.data(), state);
    drawCaptionFrame(faint.pixels(), pictures, state, 0, 5);
    EXPECT_EQ(faint.all, lensOnly.all);
    drawCaptionFrame(drawn.pixels(), pictures, state, 0, 6);
    EXPECT_NE(drawn.all, lensOnly.all);
    // Only the caption's place changes.
    for (int row = 0; row < frameHeight; ++row)
        for (int column = 0; column < frameWidth; ++column)
            if (column < captionX || column >= captionX + captionWidth || row < captionY ||
                row >= captionY + captionHeight) {
                ASSERT_EQ(drawn.at(column, row), lensOnly.at(column, row)) << column << "," << row;
            }
}

TEST_F(Opening, TitleFadesInFromRowEightOfPositionTwoThenStaysFull) {
    EXPECT_EQ(titleLevel(2, 0), 0);
    EXPECT_EQ(titleLevel(2, 8), 0);
    EXPECT_EQ(titleLevel(2, 20), 12);
    EXPECT_EQ(titleLevel(2, 39), 31);
    EXPECT_EQ(titleLevel(2, 63), 31);
    EXPECT_EQ(titleLevel(3, 0), 31);
    EXPECT_EQ(titleLevel(4, 10), 31);
}

TEST_F(Opening, TitleLeavesAFaintCopyAtItsLastPlace) {
    OpeningState state = openingStart();
    advanceLens(&state);
    const std::vector<std::uint16_t> white(titleWidth * titleHeight, 0xFFFF);
    const OpeningPictures plain{caption.data(), texture.data(), white.data()};
    GuardedFrame lens, frame;
    renderLens(lens.pixels(), texture.data(), state);
    drawTitleFrame(frame.pixels(), plain, &state, 3, 10, 61, 55);
    EXPECT_EQ(state.titleX, 61);
    EXPECT_EQ(state.titleY, 55);
    // Top-left of the old place (56, 50) lies outside the new one: trail only, alpha 15.
    EXPECT_EQ(frame.at(56, 50), scalePixel(0xFFFF, 15) + scalePixel(lens.at(56, 50), 16));
    // Bottom-right of the new place lies outside the old one: the logo alone, alpha 31.
    EXPECT_EQ(frame.at(61 + titleWidth - 1, 55 + titleHeight - 1),
              scalePixel(0xFFFF, 31) + scalePixel(lens.at(61 + titleWidth - 1, 55 + titleHeight - 1), 0));
    EXPECT_TRUE(frame.guardsIntact());
}

TEST_F(Opening, TitleFadesToBlackOverPositionFour) {
    OpeningState state = openingStart();
    advanceLens(&state);
    GuardedFrame frame;
    drawTitleFrame(frame.pixels(), pictures, &state, 4, 62, 58, 52);
    for (std::size_t i = 0; i < framePixels; ++i)
        ASSERT_EQ(frame.pixels()[i], 0) << i;
    GuardedFrame half, unfaded;
    state = openingStart();
    advanceLens(&state);
    OpeningState same = state;
    drawTitleFrame(half.pixels(), pictures, &state, 4, 30, 58, 52);   // level 16
    drawTitleFrame(unfaded.pixels(), pictures, &same, 3, 30, 58, 52); // same picture, no fade
    for (std::size_t i = 0; i < framePixels; i += 13)
        ASSERT_EQ(half.pixels()[i], scalePixel(unfaded.pixels()[i], 16)) << i;
}

TEST_F(Opening, WholeFramesMatchTheirChecksums) {
    OpeningState state = openingStart();
    GuardedFrame frame;
    for (int step = 0; step < 40; ++step)
        advanceLens(&state);
    drawCaptionFrame(frame.pixels(), pictures, state, 0, 40);
    EXPECT_EQ(checksum(frame.pixels(), framePixels), 16283745173944697423u);
    for (int step = 0; step < 150; ++step)
        advanceLens(&state);
    drawTitleFrame(frame.pixels(), pictures, &state, 2, 30, 59, 53);
    drawTitleFrame(frame.pixels(), pictures, &state, 3, 12, 57, 54);
    EXPECT_EQ(checksum(frame.pixels(), framePixels), 6608795888668047192u);
    EXPECT_TRUE(frame.guardsIntact());
}
