// The water credits: drops, the water step, refraction, the rise and the credit captions.
#include "effects/water.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>

std::array<std::array<std::int32_t, framePixels>, 2> waterHeights{};

namespace {

constexpr std::int32_t titleColumn = 10;
constexpr std::int32_t nameColumnStart = 20;
// The pictures' arrays hold the largest title and the largest name of the pairs.
constexpr std::size_t largestTitle = [] {
    std::size_t largest = 0;
    for (std::size_t pair = 0; pair < creditPairs.size(); ++pair)
        largest = std::max(largest, creditsItems[2 * pair].count);
    return largest;
}();
constexpr std::size_t largestName = [] {
    std::size_t largest = 0;
    for (std::size_t pair = 0; pair < creditPairs.size(); ++pair)
        largest = std::max(largest, creditsItems[2 * pair + 1].count);
    return largest;
}();

// The part's pictures, read from the archive as the part starts.
std::array<std::uint16_t, backgroundItem.count> backgroundPicture;
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

void runCredits(const Stage& stage) {
    WaterPictures pictures{backgroundPicture.data(), {}, {}};
    for (std::size_t pair = 0; pair < creditPairs.size(); ++pair) {
        stage.load(creditsItems[2 * pair], titlePictures[pair].data());
        stage.load(creditsItems[2 * pair + 1], namePictures[pair].data());
        pictures.titles[pair] = titlePictures[pair].data();
        pictures.names[pair] = namePictures[pair].data();
    }
    stage.load(backgroundItem, backgroundPicture.data());
    WaterSurface surface = calmWater();
    const PlayStatus status = stage.startMusic();
    stage.setFrameRate(30); // the timer starts again with the second song

    // The picture rises into frameBuffer1 from below frameBuffer0, which lies right above it;
    // black above the rising picture rather than what the opening left there.
    std::fill_n(stage.frameBuffer0, framePixels, 0);
    WaterRise rise = riseStart();
    // Unlike the other parts, the credits read the play status only after a drawn frame, as they
    // always have: on a machine that falls behind, a step skipped to catch up keeps the position
    // and row of the last drawn frame, so the next frame shows the captions where that one left
    // them rather than where the music has got to, and the part can only end on a drawn frame.
    // Reading on every pass would change what such a machine shows.
    runUntilPosition(
        stage, status, 6, StatusReading::afterDrawnFrame,
        [&](std::int32_t position, std::int32_t) {
            if (position == 0) advanceRise(&rise);
            waterStep(&surface);
        },
        [&](std::int32_t position, std::int32_t row) {
            drawWaterFrame(stage.frameBuffer1, pictures, surface.current, position, row, creditAlpha(row));
            return position == 0 ? stage.frameBuffer0 + rise.offset * frameWidth : stage.frameBuffer1;
        });
}
