// The tunnel: maps, shading, the flow, the flute player, fades and logo.
#include <gtest/gtest.h>

#include "effects/tunnel.h"
#include "synthetic.h"

namespace {

std::size_t cell(int column, int row) {
    return static_cast<std::size_t>(row * frameWidth + column);
}

class Tunnel : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { buildTunnelTables(); }
    const std::vector<std::uint16_t> texture = pattern(256, 256, 41);
    const std::vector<std::uint16_t> flute = pattern(fluteWidth, fluteHeight* fluteFrames, 42, 7);
    const std::vector<std::uint16_t> logo = pattern(groupLogoWidth, groupLogoHeight, 43, 5);
    const TunnelPictures pictures{texture.data(), flute.data(), logo.data()};
};

} // namespace

TEST_F(Tunnel, CentreIsBlackAndCornersKeepThirtyOneThirtySeconds) {
    EXPECT_EQ(tunnelShade[cell(160, 100)], 0);
    for (auto [c, r] : std::vector<std::pair<int, int>>{{0, 0}, {319, 0}, {0, 199}, {319, 199}})
        EXPECT_EQ(tunnelShade[cell(c, r)], 31 * 32) << c << "," << r;
    // Darker toward the centre along a row.
    for (int c = 161; c < 320; ++c)
        ASSERT_GE(tunnelShade[cell(c, 100)], tunnelShade[cell(c - 1, 100)]) << c;
    // Depending on the distance only.
    EXPECT_EQ(tunnelShade[cell(160 + 30, 100 + 40)], tunnelShade[cell(160 - 40, 100 - 30)]);

    const std::vector<std::uint16_t> white(256 * 256, 0xFFFF);
    GuardedFrame frame;
    renderTunnel(frame.pixels(), white.data(), TunnelState{0, 0, 0});
    EXPECT_EQ(frame.at(160, 100), 0);
    EXPECT_EQ(frame.at(0, 0), scalePixel(0xFFFF, 31));
    EXPECT_EQ(frame.at(319, 199), scalePixel(0xFFFF, 31));
    EXPECT_TRUE(frame.guardsIntact());
}

TEST_F(Tunnel, MapHoldsAngleAndDepthInLowBytes) {
    EXPECT_EQ(tunnelMap[cell(160, 100)], 0);
    EXPECT_EQ(tunnelMap[cell(161, 100)], 6000 & 0xFF);                // angle 0, depth 6000 at 1
    EXPECT_EQ(tunnelMap[cell(162, 100)], 3000 & 0xFF);                // half as deep at 2
    EXPECT_EQ(tunnelMap[cell(159, 100)], (128 << 8) | (2000 & 0xFF)); // angle pi, a lobe's waist
    // Angles below the axis are negative and kept as their two's complement low byte.
    EXPECT_EQ(tunnelMap[cell(260, 0)] >> 8, 256 - 32); // atan2(-100, 100) = -pi/4: -32
}

TEST_F(Tunnel, RenderTakesTextureRowFromAngleAndColumnFromDepthMovedByTheOffsets) {
    std::vector<std::uint16_t> coordinates(256 * 256);
    for (int v = 0; v < 256; ++v)
        for (int u = 0; u < 256; ++u)
            coordinates[static_cast<std::size_t>(v * 256 + u)] = static_cast<std::uint16_t>(v << 8 | u);
    // Each pixel is the expected texel scaled by the pixel's shade.
    GuardedFrame frame;
    const TunnelState state{200, 77, 0};
    renderTunnel(frame.pixels(), coordinates.data(), state);
    for (std::size_t i = 0; i < framePixels; i += 11) {
        const std::uint16_t e = tunnelMap[static_cast<std::size_t>(i)];
        const int v = ((e >> 8) + 77) & 0xFF, u = ((e & 0xFF) + 200) & 0xFF;
        ASSERT_EQ(frame.pixels()[i], scalePixel(static_cast<std::uint16_t>(v << 8 | u),
                                                tunnelShade[static_cast<std::size_t>(i)] / 32))
            << i;
    }
}

TEST_F(Tunnel, StepFlowsBySwaysAndCountsTheAnimation) {
    TunnelState state{0, 0, 0};
    std::uint32_t counter = 0;
    advanceTunnel(&state, &counter);
    EXPECT_EQ(counter, 1u);
    EXPECT_EQ(state.du, 4);
    EXPECT_EQ(state.dv, 254); // from k = 0, before k moves on
    EXPECT_EQ(state.k, 1);
    for (int step = 1; step < 64; ++step)
        advanceTunnel(&state, &counter);
    EXPECT_EQ(state.du, 0); // 64 x 4 wraps
    EXPECT_EQ(state.k, 64);
    EXPECT_EQ(state.dv, 130); // from k = 63: (1 + cos(63/128 pi)) x 127
}

TEST_F(Tunnel, FlutePlayerFrameWrapsFromEighteenToZero) {
    EXPECT_EQ(fluteFrame(0), 0);
    EXPECT_EQ(fluteFrame(1), 0);
    EXPECT_EQ(fluteFrame(2), 1);
    EXPECT_EQ(fluteFrame(36), 18);
    EXPECT_EQ(fluteFrame(37), 18);
    EXPECT_EQ(fluteFrame(38), 0);
    EXPECT_EQ(fluteFrame(38 * 5), 0);
    EXPECT_EQ(fluteFrame(0xFFFFFFFFu), static_cast<std::int32_t>((0xFFFFFFFFu / 2) % 19));
}

TEST_F(Tunnel, ShadowAndFigureRiseIntoPlace) {
    EXPECT_EQ(flutePlacing(7, 10).shadowTop, belowScreen);
    EXPECT_EQ(flutePlacing(8, 0).shadowTop, 213);
    EXPECT_EQ(flutePlacing(8, 63).shadowTop, 87);
    EXPECT_EQ(flutePlacing(8, 63).figureTop, belowScreen);
    EXPECT_EQ(flutePlacing(9, 0).shadowTop, 85);
    EXPECT_EQ(flutePlacing(10, 0).shadowTop, 86);
    EXPECT_EQ(flutePlacing(10, 0).figureTop, 218);
    EXPECT_EQ(flutePlacing(10, 63).figureTop, 92);
    EXPECT_EQ(flutePlacing(11, 5).figureTop, 91);
    EXPECT_EQ(flutePlacing(13, 5).figureTop, 91);
    EXPECT_EQ(flutePlacing(14, 5).figureTop, belowScreen);

    // At row 0 of position 8 the shadow is wholly below the screen: the tunnel alone.
    GuardedFrame tunnelOnly, frame;
    const TunnelState state{8, 16, 3};
    drawTunnelFrame(tunnelOnly.pixels(), pictures, state, 0, 7, 0);
    drawTunnelFrame(frame.pixels(), pictures, state, 0, 8, 0);
    EXPECT_EQ(frame.all, tunnelOnly.all);
    // Half risen: only the rows above the bottom are darkened, under the player's opaque pixels.
    drawTunnelFrame(frame.pixels(), pictures, state, 0, 8, 40); // top row 133: 67 rows in view
    for (int row = 0; row < frameHeight; ++row)
        for (int column = 0; column < frameWidth; ++column) {
            const std::uint16_t before = tunnelOnly.at(column, row);
            const int pr = row - 133, pc = column - shadowColumn;
            const bool under = pr >= 0 && pc >= 0 && pc < fluteWidth &&
                               flute[static_cast<std::size_t>(pr * fluteWidth + pc)] != colourKey;
            ASSERT_EQ(frame.at(column, row), under ? (before & 0xF7DF) >> 1 : before) << column << "," << row;
        }
    EXPECT_TRUE(frame.guardsIntact());
}

TEST_F(Tunnel, FigureIsTheAnimationFrameCopiedInFrontOfItsShadow) {
    GuardedFrame frame;
    const std::uint32_t counter = 2 * 5 + 1; // frame 5
    drawTunnelFrame(frame.pixels(), pictures, TunnelState{0, 0, 0}, counter, 11, 0);
    const std::uint16_t* picture = flute.data() + 5 * flutePixels;
    for (int pr = 0; pr < fluteHeight; ++pr)
        for (int pc = 0; pc < fluteWidth; ++pc) {
            const std::uint16_t s = picture[pr * fluteWidth + pc];
            if (s != colourKey) {
                ASSERT_EQ(frame.at(figureColumn + pc, 91 + pr), s) << pc << "," << pr;
            }
        }
    EXPECT_TRUE(frame.guardsIntact());
}

TEST_F(Tunnel, FadesInOverPositionSixAndOutToTheLogoOverThirteen) {
    GuardedFrame black, half, full;
    const TunnelState state{12, 34, 5};
    drawTunnelFrame(black.pixels(), pictures, state, 0, 6, 1);
    EXPECT_EQ(std::count(black.pixels(), black.pixels() + framePixels, 0), framePixels);
    drawTunnelFrame(full.pixels(), pictures, state, 0, 7, 0);
    drawTunnelFrame(half.pixels(), pictures, state, 0, 6, 32);
    for (std::size_t i = 0; i < framePixels; i += 17)
        ASSERT_EQ(half.pixels()[i], scalePixel(full.pixels()[i], 16)) << i;

    // The end: the logo at nearly full strength on black.
    GuardedFrame end;
    drawTunnelFrame(end.pixels(), pictures, state, 0, 13, 63);
    for (int row = 0; row < frameHeight; ++row)
        for (int column = 0; column < frameWidth; ++column) {
            const int pr = row - groupLogoY, pc = column - groupLogoX;
            const bool onLogo = pr >= 0 && pr < groupLogoHeight && pc >= 0 && pc < groupLogoWidth &&
                                logo[static_cast<std::size_t>(pr * groupLogoWidth + pc)] != colourKey;
            ASSERT_EQ(end.at(column, row),
                      onLogo ? scalePixel(logo[static_cast<std::size_t>(pr * groupLogoWidth + pc)], 31) : 0)
                << column << "," << row;
        }
    // Early in position 13 the logo is too faint to draw.
    GuardedFrame early, plain;
    drawTunnelFrame(early.pixels(), pictures, state, 0, 13, 5);
    drawTunnelFrame(plain.pixels(), pictures, state, 0, 12, 5);
    fadeFrame(plain.pixels(), 29);
    EXPECT_EQ(early.all, plain.all);
}

TEST_F(Tunnel, WholeFramesMatchTheirChecksums) {
    TunnelState state{0, 0, 0};
    std::uint32_t counter = 0;
    for (int step = 0; step < 70; ++step)
        advanceTunnel(&state, &counter);
    GuardedFrame frame;
    drawTunnelFrame(frame.pixels(), pictures, state, counter, 10, 30);
    EXPECT_EQ(checksum(frame.pixels(), framePixels), 11231769890502889436u);
    for (int step = 0; step < 21; ++step)
        advanceTunnel(&state, &counter);
    drawTunnelFrame(frame.pixels(), pictures, state, counter, 13, 40);
    EXPECT_EQ(checksum(frame.pixels(), framePixels), 6391365316233142485u);
    EXPECT_TRUE(frame.guardsIntact());
}
