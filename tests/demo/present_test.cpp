// Presentation: which lines and columns of the surface each mode writes, and nothing else.
#include <gtest/gtest.h>

#include <cstring>

#include "demo/demo.h"
#include "platform/headless.h"

namespace {

constexpr std::uint8_t sentinel = 0xA5;

// Full-screen set-up of one mode on the headless display, with a surface pitch of extra bytes
// more than a row; the surface is then painted with a sentinel so untouched bytes show.
void setUp(std::uint8_t modeIndex, std::int32_t interlaced, std::int32_t extraPitch, int format555 = 0) {
    HeadlessOptions options;
    options.modes = headlessAllModes();
    options.format555 = format555;
    demoSettings = defaultSettings();
    demoSettings.modeIndex = modeIndex;
    demoSettings.interlaced = interlaced;
    setBufferFormat(demoSettings.bufferType);
    setVideoMode(modeIndex);
    options.pitch = displayWidth * ((displayBits - 1) / 8 + 1) + extraPitch;
    headlessConfigure(options, HeadlessRecorder{});
    platformInit(headlessBackend());
    createDirectDraw();
    setupDisplay();
    SurfaceInfo info{};
    ASSERT_EQ(displayLock(&info, lockWait), displayOk);
    std::memset(info.memory, sentinel, static_cast<std::size_t>(info.pitch) * info.height);
    displayUnlock();
}

void tearDown() {
    releaseDisplay();
    freeBuffers();
    platformShutdown(0);
}

std::uint16_t patternAt(std::int32_t x, std::int32_t y) {
    auto v = static_cast<std::uint16_t>(x * 7 + y * 331 + 1);
    return v == 0xA5A5 ? 1 : v;
}

void fillPattern(std::uint16_t* frame) {
    for (std::int32_t y = 0; y < frameHeight; ++y)
        for (std::int32_t x = 0; x < frameWidth; ++x)
            frame[y * frameWidth + x] = patternAt(x, y);
}

// Compares the whole surface, byte by byte, with what the mode should show: expected(x, y) gives
// the frame pixel shown at screen pixel (x, y), or -1 where the surface must stay untouched.
template <typename Expected> void checkSurface(Expected expected) {
    const SurfaceInfo s = headlessSurface();
    ASSERT_NE(s.memory, nullptr);
    int wrong = 0;
    for (std::int32_t y = 0; y < s.height && wrong < 5; ++y) {
        const std::uint8_t* line = s.memory + static_cast<std::size_t>(y) * s.pitch;
        for (std::int32_t x = 0; x < s.width && wrong < 5; ++x) {
            std::uint16_t have;
            std::memcpy(&have, line + x * 2, 2);
            const int want = expected(x, y);
            const std::uint16_t wantValue = want < 0 ? 0xA5A5 : static_cast<std::uint16_t>(want);
            if (have != wantValue) {
                ADD_FAILURE() << "pixel " << x << "," << y << ": " << std::hex << have << " instead of "
                              << wantValue;
                ++wrong;
            }
        }
        for (std::int32_t b = s.width * 2; b < s.pitch; ++b)
            if (line[b] != sentinel) {
                ADD_FAILURE() << "pitch padding written on line " << y;
                ++wrong;
                break;
            }
    }
}

void presentPattern() {
    fillPattern(frameBuffer0);
    presentFrame(surfaceMemory, frameBuffer0);
}

} // namespace

TEST(Presentation, Mode320x200FillsTheScreenAndLeavesThePitchPadding) {
    setUp(2, 0, 64);
    presentPattern();
    checkSurface([](std::int32_t x, std::int32_t y) { return static_cast<int>(patternAt(x, y)); });
    tearDown();
}

TEST(Presentation, Mode320x240LeavesTwentyLinesAboveAndBelow) {
    setUp(5, 0, 96);
    presentPattern();
    checkSurface([](std::int32_t x, std::int32_t y) {
        return y >= 20 && y < 220 ? static_cast<int>(patternAt(x, y - 20)) : -1;
    });
    tearDown();
}

TEST(Presentation, Mode512x384IsCentredNinetyTwoDownAndNinetySixIn) {
    setUp(8, 0, 32);
    presentPattern();
    checkSurface([](std::int32_t x, std::int32_t y) {
        return y >= 92 && y < 292 && x >= 96 && x < 416 ? static_cast<int>(patternAt(x - 96, y - 92)) : -1;
    });
    tearDown();
}

TEST(Presentation, Mode640x400DoublesEveryPixel) {
    setUp(11, 0, 128);
    presentPattern();
    checkSurface([](std::int32_t x, std::int32_t y) { return static_cast<int>(patternAt(x / 2, y / 2)); });
    tearDown();
}

TEST(Presentation, Mode640x400InterlacedNeverWritesTheSecondLineOfAPair) {
    setUp(11, 1, 128);
    presentPattern();
    checkSurface([](std::int32_t x, std::int32_t y) {
        return y % 2 ? -1 : static_cast<int>(patternAt(x / 2, y / 2));
    });
    tearDown();
}

TEST(Presentation, Mode640x480DoublesIntoLinesFortyTo439) {
    setUp(14, 0, 16);
    presentPattern();
    checkSurface([](std::int32_t x, std::int32_t y) {
        return y >= 40 && y < 440 ? static_cast<int>(patternAt(x / 2, (y - 40) / 2)) : -1;
    });
    tearDown();
}

TEST(Presentation, Mode640x480InterlacedLeavesOddLinesAndBorders) {
    setUp(14, 1, 16);
    presentPattern();
    checkSurface([](std::int32_t x, std::int32_t y) {
        return y >= 40 && y < 440 && y % 2 == 0 ? static_cast<int>(patternAt(x / 2, (y - 40) / 2)) : -1;
    });
    tearDown();
}

TEST(Presentation, PresentationParametersOfTheDoubledMode) {
    setUp(14, 1, 0);
    EXPECT_EQ(presentation.copyCase, static_cast<std::uint32_t>(copyDoubled));
    EXPECT_EQ(presentation.pitch, 1280);
    EXPECT_EQ(presentation.rowSkip, 640);
    EXPECT_EQ(presentation.doubledTopOffset, 40u * 1280);
    EXPECT_EQ(presentation.skipSecondLine, 1u);
    EXPECT_EQ(presentation.convertTo555, 0u);
    tearDown();
}

TEST(Presentation, TwentyFourAndThirtyTwoBitModesPresentNothing) {
    for (std::uint8_t mode : {3, 4, 6, 7, 9, 10, 12, 13, 15, 16}) {
        SCOPED_TRACE(static_cast<int>(mode));
        setUp(mode, 0, 0);
        EXPECT_EQ(presentation.copyCase, static_cast<std::uint32_t>(copyNone));
        const std::int64_t before = headlessPresentCount();
        presentPattern();
        EXPECT_EQ(headlessPresentCount(), before + 1); // locked and unlocked all the same
        const SurfaceInfo s = headlessSurface();
        const std::size_t bytes = static_cast<std::size_t>(s.pitch) * s.height;
        std::size_t touched = 0;
        for (std::size_t i = 0; i < bytes; ++i)
            touched += s.memory[i] != sentinel;
        EXPECT_EQ(touched, 0u);
        tearDown();
    }
}

TEST(Presentation, FiveFiveFiveConversionMovesBitsAndDropsGreensLowest) {
    std::uint16_t source[4] = {0x07E0, 0xF800, 0x001F, 0xFFFF};
    std::uint16_t converted[4] = {};
    convertTo555(converted, source, 4);
    EXPECT_EQ(converted[0], 0x03E0);
    EXPECT_EQ(converted[1], 0x7C00);
    EXPECT_EQ(converted[2], 0x001F);
    EXPECT_EQ(converted[3], 0x7FFF);
}

TEST(Presentation, FiveFiveFiveDisplayGetsConvertedFramesAndTheSourceStaysAsItWas) {
    setUp(2, 0, 0, 1);
    EXPECT_EQ(presentation.convertTo555, 1u);
    for (std::size_t i = 0; i < framePixels; ++i)
        frameBuffer0[i] = 0x07E0;
    presentFrame(surfaceMemory, frameBuffer0);
    EXPECT_EQ(frameBuffer0[123], 0x07E0);
    checkSurface([](std::int32_t, std::int32_t) { return 0x03E0; });
    tearDown();
}

TEST(Presentation, BufferBlockHoldsFourZeroedFramesInARow) {
    setUp(5, 0, 0);
    EXPECT_EQ(reinterpret_cast<std::uint8_t*>(frameBuffer1) - reinterpret_cast<std::uint8_t*>(frameBuffer0),
              128000);
    EXPECT_EQ(reinterpret_cast<std::uint8_t*>(conversionBuffer) -
                  reinterpret_cast<std::uint8_t*>(frameBuffer2),
              128000);
    for (std::size_t i = 0; i < 4 * framePixels; ++i)
        ASSERT_EQ(frameBuffer0[i], 0);
    tearDown();
}

TEST(DisplayTables, IndicesOutsideTheTablesChangeNothing) {
    setVideoMode(14);
    setVideoMode(1);
    setVideoMode(17);
    EXPECT_EQ(displayWidth, 640);
    EXPECT_EQ(displayHeight, 480);
    EXPECT_EQ(displayBits, 16);
    setBufferFormat(3);
    EXPECT_EQ(bufferWidth, 512);
    EXPECT_EQ(bufferBits, 32);
    setBufferFormat(4);
    EXPECT_EQ(bufferWidth, 512);
    setBufferFormat(0);
    EXPECT_EQ(bufferWidth, 320);
}
