// The picture generator's building blocks: keyed conversion, periodic noise, the source
// file format, text fitting and repeatable output.
#include "content.h"
#include "font.h"
#include "pictures.h"
#include "raster.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace {

const std::string fontDir = "/usr/share/fonts/truetype/dejavu";

bool haveFonts() {
    std::FILE* f = std::fopen((fontDir + "/DejaVuSans-Bold.ttf").c_str(), "rb");
    if (f) std::fclose(f);
    return f != nullptr;
}

} // namespace

TEST(KeyedConversion, KeysBelowHalfCoverageAndBlendsEdgesTowardTheGround) {
    Layer l = makeLayer(4, 1);
    paint(l, 0, 0, {1, 0, 0}, 0.4);
    paint(l, 1, 0, {1, 0, 0}, 0.6);
    paint(l, 2, 0, {1, 0, 0}, 1.0);
    paint(l, 3, 0, {0, 1, 0}, 1.0); // a motif pixel that happens to be pure green
    std::vector<std::uint16_t> p = toKeyedRgb565(l, {0, 0, 1});
    EXPECT_EQ(p[0], colourKey);
    EXPECT_NE(p[1], colourKey);
    EXPECT_GT(p[1] & 31, 4) << "the edge takes some of the blue ground";
    EXPECT_LT(p[1] >> 11, 31) << "and loses some red";
    EXPECT_EQ((p[1] >> 5) & 63, 0) << "no green comes in";
    EXPECT_EQ(p[2] >> 11, 31);
    EXPECT_NE(p[3], colourKey);
}

TEST(Noise, TileNoiseRepeatsEvery256Pixels) {
    for (double x : {0.0, 17.5, 128.25, 255.0})
        for (double y : {0.0, 3.0, 200.75}) {
            EXPECT_DOUBLE_EQ(tileFbm(x, y, 256, 4, 5, 9), tileFbm(x + 256, y, 256, 4, 5, 9));
            EXPECT_DOUBLE_EQ(tileFbm(x, y, 256, 4, 5, 9), tileFbm(x, y - 256, 256, 4, 5, 9));
        }
}

TEST(SourceFiles, ParseKeysValuesAndComments) {
    Settings s;
    ASSERT_TRUE(parseSettings("# comment\n\n name = Jarvo the Second \nx=1\n", "t", s));
    EXPECT_EQ(s.values["name"], "Jarvo the Second");
    EXPECT_EQ(s.values["x"], "1");
    Settings bad;
    EXPECT_FALSE(parseSettings("good = 1\nno equals sign here\n", "t", bad));
    EXPECT_FALSE(parseSettings(" = value\n", "t", bad));
}

TEST(SourceFiles, ParseColoursAndGradients) {
    Rgb c;
    ASSERT_TRUE(parseColour("#ff8000", c));
    EXPECT_DOUBLE_EQ(c.r, 1.0);
    EXPECT_NEAR(c.g, 128 / 255.0, 1e-9);
    EXPECT_FALSE(parseColour("ff8000", c));
    EXPECT_FALSE(parseColour("#ff80zz", c));
    Gradient g;
    ASSERT_TRUE(parseGradient("#000000@0 #ffffff@1", g));
    EXPECT_NEAR(gradientAt(g, 0.5).g, 0.5, 1e-9);
    EXPECT_FALSE(parseGradient("#000000@0.5 #ffffff@0.2", g)) << "positions must ascend";
    EXPECT_FALSE(parseGradient("#000000", g));
    EXPECT_FALSE(parseGradient("#000000@2", g));
    // a position that is not a number would make every colour of the ramp undefined
    EXPECT_FALSE(parseGradient("#000000@nan", g));
    EXPECT_FALSE(parseGradient("#000000@0 #ffffff@NaN", g));
}

TEST(SourceFiles, CreditsNameThreeRolesWithHandles) {
    Settings s;
    ASSERT_TRUE(loadSettings(std::string(MORVA_SOURCE_DIR) + "/content/credits.txt", s));
    for (const char* role : {"code", "music", "graphics"}) {
        EXPECT_EQ(s.values[std::string(role) + ".title"], role);
        EXPECT_FALSE(s.values[std::string(role) + ".name"].empty()) << role;
    }
}

TEST(Text, FittedTextStaysInsideItsBox) {
    if (!haveFonts()) GTEST_SKIP() << "fonts-dejavu-core not installed";
    Font f;
    ASSERT_TRUE(loadFont(f, fontDir + "/DejaVuSans-Bold.ttf"));
    TextStyle style;
    style.shear = 0.2;
    Mask m = fitTextMask(f, "Silkwhistle", style, 180, 20, 3);
    EXPECT_LE(m.w, 180 + 6);
    EXPECT_LE(m.h, 20 + 6);
    EXPECT_GT(m.w, 150) << "the text should fill the width it is given";
    double ink = 0;
    for (double v : m.v)
        ink += v;
    EXPECT_GT(ink, m.w * m.h * 0.15);
}

TEST(Text, TextWithoutInkGivesAnEmptyPictureRatherThanACrash) {
    if (!haveFonts()) GTEST_SKIP() << "fonts-dejavu-core not installed";
    Font f;
    ASSERT_TRUE(loadFont(f, fontDir + "/DejaVuSans-Bold.ttf"));
    for (const char* text : {"", "   "}) {
        Mask m = fitTextMask(f, text, TextStyle{}, 180, 20, 2);
        EXPECT_LE(m.w, 4) << "'" << text << "'";
        EXPECT_LE(m.h, 4) << "'" << text << "'";
        Layer l = styledTextPicture(f, text, TextStyle{}, TextLook{}, 67, 23);
        ASSERT_EQ(l.w, 67);
        ASSERT_EQ(l.h, 23);
        for (double a : l.alpha)
            ASSERT_EQ(a, 0.0) << "'" << text << "'";
    }
}

TEST(SourceFiles, AnEmptyValueFailsTheRun) {
    Settings s;
    ASSERT_TRUE(parseSettings("code.name =\n", "credits.txt", s));
    // The failure mark is kept for the whole run, so look at it in a process of its own.
    EXPECT_EXIT(
        {
            settingText(s, "code.name");
            std::exit(settingsFailed() ? 3 : 0);
        },
        ::testing::ExitedWithCode(3), "code.name");
}

TEST(SourceFiles, AMalformedNumberOrAMissingShadowOffsetFailsTheRun) {
    Settings s;
    ASSERT_TRUE(
        parseSettings("t.outline_radius = wide\nt.bevel = 0.5x\nu.shadow = #000000\n", "pictures.txt", s));
    EXPECT_EXIT(
        {
            settingNumber(s, "t.outline_radius", 1.0, 0, 8);
            std::exit(settingsFailed() ? 3 : 0);
        },
        ::testing::ExitedWithCode(3), "t.outline_radius");
    EXPECT_EXIT(
        {
            settingNumber(s, "t.bevel", 0.0, 0, 4);
            std::exit(settingsFailed() ? 3 : 0);
        },
        ::testing::ExitedWithCode(3), "t.bevel");
    EXPECT_EXIT(
        {
            settingLook(s, "u");
            std::exit(settingsFailed() ? 3 : 0);
        },
        ::testing::ExitedWithCode(3), "u.shadow_offset");
    // a size far out of range would keep the generator drawing for hours
    ASSERT_TRUE(parseSettings("t.glow_radius = 100000\nv.shadow = #000000\nv.shadow_offset = 2 9999\n",
                              "pictures.txt", s));
    EXPECT_EXIT(
        {
            settingNumber(s, "t.glow_radius", 3, 0, 32);
            std::exit(settingsFailed() ? 3 : 0);
        },
        ::testing::ExitedWithCode(3), "t.glow_radius");
    EXPECT_EXIT(
        {
            settingLook(s, "v");
            std::exit(settingsFailed() ? 3 : 0);
        },
        ::testing::ExitedWithCode(3), "v.shadow_offset");
    EXPECT_DOUBLE_EQ(settingNumber(s, "t.absent", 2.5, 0, 4), 2.5) << "an absent number takes its default";
}

TEST(Generator, SameSourcesGiveTheSameBytes) {
    if (!haveFonts()) GTEST_SKIP() << "fonts-dejavu-core not installed";
    Studio a, b;
    ASSERT_TRUE(openStudio(a, std::string(MORVA_SOURCE_DIR) + "/content", fontDir));
    ASSERT_TRUE(openStudio(b, std::string(MORVA_SOURCE_DIR) + "/content", fontDir));
    std::vector<Picture> first = makeCredits(a, {0.2, 0.3, 0.4});
    std::vector<Picture> second = makeCredits(b, {0.2, 0.3, 0.4});
    ASSERT_EQ(first.size(), 6u);
    for (std::size_t i = 0; i < first.size(); ++i)
        EXPECT_TRUE(first[i].pixels == second[i].pixels) << first[i].name;
}

TEST(SourceFiles, MissingOrMalformedLooksFailTheRun) {
    Settings s;
    ASSERT_TRUE(parseSettings("good = #102030\nbad = #10203\nramp = #000000@0.8 #ffffff@0.1\n", "t", s));
    EXPECT_DOUBLE_EQ(settingColour(s, "good").b, 0x30 / 255.0);
    EXPECT_FALSE(settingsFailed());
    settingColour(s, "bad");
    EXPECT_TRUE(settingsFailed()) << "a malformed colour must stop the generator";
    // The fallback keeps drawing possible so every problem is reported in one run.
    EXPECT_EQ(settingGradient(s, "ramp").size(), 2u);
    EXPECT_TRUE(settingText(s, "absent").empty());
}
