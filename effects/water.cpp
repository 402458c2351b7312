// The water credits: drops, the water step, refraction, the rise and the credit captions.
#include "effects/water.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>

#include "demo/demo.h"
#include "sound/api/soundapi.h"

std::array<std::array<std::int32_t, framePixels>, 2> waterHeights{};

const std::array<CreditPair, 3> creditPairs = {{
    {"p2_tco~1.raw", 148, 36, "p2_aco~1.raw", 67, 23, 176},
    {"p2_tmu~1.raw", 123, 34, "p2_amu~1.raw", 193, 27, 172},
    {"p2_tgfx.raw", 80, 38, "p2_agfx.raw", 207, 73, 126},
}};

namespace {

constexpr std::int32_t titleColumn = 10;
constexpr std::int32_t nameColumnStart = 20;
constexpr std::size_t largestTitle = 148 * 36;
constexpr std::size_t largestName = 207 * 73;

// The part's pictures, read from the archive as the part starts.
std::array<std::uint16_t, framePixels> backgroundPicture;
std::array<std::array<std::uint16_t, largestTitle>, 3> titlePictures;
std::array<std::array<std::uint16_t, largestName>, 3> namePictures;

void clearRow(std::int32_t* heights, std::int32_t row) {
    std::fill_n(heights + row * frameWidth, frameWidth, 0);
}

} // namespace

WaterSurface calmWater() {
    for (auto& heights : waterHeights)
        heights.fill(0);
    return WaterSurface{waterHeights[0].data(), waterHeights[1].data()};
}

void dropStone(std::int32_t* heights, std::int32_t x, std::int32_t y) {
    const std::int64_t c = static_cast<std::int64_t>(y) * frameWidth + x;
    const auto set = [&](std::int64_t cell, std::int32_t depth) {
        if (cell >= 0 && cell < static_cast<std::int64_t>(framePixels)) heights[cell] = depth;
    };
    for (const std::int64_t cell : {c, c + 1, c + 320, c + 321})
        set(cell, stoneDepth);
    for (const std::int64_t cell : {c - 1, c + 319, c + 2, c + 322, c - 319, c - 320, c + 640, c + 641})
        set(cell, splashDepth);
}

void spreadWaves(WaterSurface* surface) {
    std::swap(surface->current, surface->previous);
    std::int32_t* current = surface->current;
    const std::int32_t* previous = surface->previous;
    clearRow(current, 0);
    clearRow(current, frameHeight - 1);
    for (std::size_t i = frameWidth; i < framePixels - frameWidth; ++i) {
        std::int32_t h =
            ((previous[i - 320] + previous[i + 320] + previous[i - 1] + previous[i + 1]) >> 1) - current[i];
        current[i] = h - (h >> 4);
    }
}

void waterStep(WaterSurface* surface) {
    if (std::rand() % 10 == 0) {
        const std::int32_t y = std::rand() % 198 + 1; // row first
        const std::int32_t x = std::rand() % 318 + 1;
        dropStone(surface->current, x, y);
    }
    spreadWaves(surface);
}

void refractWater(std::uint16_t* frame, const std::int32_t* heights, const std::uint16_t* background) {
    for (std::int32_t row = 1; row < frameHeight - 1; ++row) {
        const std::int32_t* h = heights + row * frameWidth;
        std::uint16_t* target = frame + row * frameWidth;
        for (std::int32_t column = 0; column < frameWidth; ++column) {
            // The slope of the surface bends the view; flat water shows the pixel one down and
            // one to the right.
            const std::int32_t dx = (h[column - 1] - h[column + 1]) >> 4;
            const std::int32_t dy = (h[column - frameWidth] - h[column + frameWidth]) >> 4;
            const std::int32_t sx = std::clamp(column + 1 + dx, 0, frameWidth - 1);
            const std::int32_t sy = std::clamp(row + 1 + dy, 0, frameHeight - 1);
            target[column] = background[sy * frameWidth + sx];
        }
    }
}

WaterRise riseStart() {
    return WaterRise{1.0, 1};
}

void advanceRise(WaterRise* rise) {
    if (rise->scale < riseEnd) rise->scale *= 1.1;
    rise->offset = std::min(riseEnd, static_cast<std::int32_t>(rise->scale));
}

std::int32_t creditAlpha(std::int32_t row) {
    return static_cast<std::int32_t>((std::cos((row + 32) * std::numbers::pi / 32) + 1) * 15);
}

void drawCreditPair(std::uint16_t* frame, const WaterPictures& pictures, std::int32_t position,
                    std::int32_t row, std::int32_t alpha) {
    if (position < 1 || position > 3 || alpha < 3) return;
    const std::size_t pair = static_cast<std::size_t>(position - 1);
    const CreditPair& credit = creditPairs[pair];
    // The title slides down the left side a line per row, the name along the bottom to the right.
    blendPicture(frame, pictures.titles[pair], credit.titleWidth, credit.titleHeight, titleColumn, row,
                 alpha);
    blendPicture(frame, pictures.names[pair], credit.nameWidth, credit.nameHeight, row + nameColumnStart,
                 credit.nameRow, alpha);
}

void drawWaterFrame(std::uint16_t* frame, const WaterPictures& pictures, const std::int32_t* heights,
                    std::int32_t position, std::int32_t row, std::int32_t alpha) {
    refractWater(frame, heights, pictures.background);
    drawCreditPair(frame, pictures, position, row, alpha);
    if (position == 5) fadeFrame(frame, fadeOutLevel(row));
}

void runCredits() {
    WaterPictures pictures{backgroundPicture.data(), {}, {}};
    for (std::size_t pair = 0; pair < creditPairs.size(); ++pair) {
        const CreditPair& credit = creditPairs[pair];
        libraryLoad(library, credit.titleFile, titlePictures[pair].data(),
                    static_cast<std::size_t>(credit.titleWidth * credit.titleHeight));
        libraryLoad(library, credit.nameFile, namePictures[pair].data(),
                    static_cast<std::size_t>(credit.nameWidth * credit.nameHeight));
        pictures.titles[pair] = titlePictures[pair].data();
        pictures.names[pair] = namePictures[pair].data();
    }
    libraryLoad(library, "p2_bgpic.raw", backgroundPicture.data(), backgroundPicture.size());
    WaterSurface surface = calmWater();
    song = sound_play_module(music, demoSettings.musicLoop);
    readPlayStatus();
    setFrameRate(30);

    // The picture rises into frameBuffer1 from below frameBuffer0, which lies right above it;
    // black above the rising picture rather than what the opening left there.
    std::fill_n(frameBuffer0, framePixels, 0);
    WaterRise rise = riseStart();
    while (playStatus.position < 6) {
        const std::int32_t position = playStatus.position, row = playStatus.row;
        if (position == 0) advanceRise(&rise);
        const std::int32_t alpha = creditAlpha(row);
        waterStep(&surface);
        if (framePump()) {
            drawWaterFrame(frameBuffer1, pictures, surface.current, position, row, alpha);
            presentFrame(surfaceMemory,
                         position == 0 ? frameBuffer0 + rise.offset * frameWidth : frameBuffer1);
            // Read only after a drawn frame: a skipped step keeps the old position and row.
            readPlayStatus();
        }
    }
}
