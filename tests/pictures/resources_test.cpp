// The two pictures built into the program: the 200 x 64 logo bitmap and the 32 x 32 icon.
#include "demo/demo_resources.h"

#include <gtest/gtest.h>

#include <set>

TEST(ProgramResources, LogoBitmapIsAPictureNotAPlainFill) {
    std::set<int> used(demoBitmapPixels, demoBitmapPixels + demoBitmapWidth * demoBitmapHeight);
    EXPECT_GT(used.size(), 24u);
    // The lettering sits in the middle: the centre rows differ from the top row.
    int differing = 0;
    for (int x = 0; x < demoBitmapWidth; ++x)
        differing += demoBitmapPixels[x] != demoBitmapPixels[30 * demoBitmapWidth + x];
    EXPECT_GT(differing, demoBitmapWidth / 4);
}

TEST(ProgramResources, IconIsTransparentAtTheCornersAndDrawnInside) {
    const int n = demoIconSize;
    for (int corner : {0, n - 1, (n - 1) * n, n * n - 1})
        EXPECT_EQ(demoIconMask[corner], 1) << corner;
    EXPECT_EQ(demoIconMask[(n / 2) * n + n / 2], 0);
    std::set<int> colours;
    for (int i = 0; i < n * n; ++i) {
        EXPECT_EQ(demoIconArgb[i] >> 24, demoIconMask[i] ? 0u : 255u) << i;
        EXPECT_LT(demoIcon16[i], 16) << i;
        if (!demoIconMask[i]) colours.insert(demoIcon256[i]);
    }
    EXPECT_GT(colours.size(), 6u);
}

TEST(ProgramResources, IconColourDepthsAgreeWithTheTrueColourIcon) {
    // Each indexed pixel stays close to the true-colour one (dithering allows some spread).
    const int n = demoIconSize;
    long long error = 0;
    int count = 0;
    for (int i = 0; i < n * n; ++i) {
        if (demoIconMask[i]) continue;
        std::uint32_t c = demoIconArgb[i];
        int r = (c >> 16) & 255, g = (c >> 8) & 255, b = c & 255;
        const std::uint8_t* p = &demoPalette[demoIcon256[i] * 3];
        error += std::abs(r - p[0]) + std::abs(g - p[1]) + std::abs(b - p[2]);
        ++count;
    }
    ASSERT_GT(count, 0);
    EXPECT_LT(error / count, 90);
}
