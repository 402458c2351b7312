// The water credits: a background picture under a water surface on which random drops fall,
// drawn refracted through the waves. It rises into view from the bottom (order position 0),
// carries one pair of credit captions per position (1 to 3) and lies calm, fading to black over
// position 5.
#pragma once

#include <array>
#include <cstdint>

#include "effects/colour.h"

constexpr std::int32_t stoneDepth = -19200;   // the four cells a stone hits
constexpr std::int32_t splashDepth = -6400;   // the eight cells around them
constexpr std::int32_t riseEnd = frameHeight; // rows the picture rises through

// The two height arrays of the surface; their roles swap every step.
extern std::array<std::array<std::int32_t, framePixels>, 2> waterHeights;

struct WaterSurface {
    std::int32_t* current;
    std::int32_t* previous;
};

// One credit: a title sliding down the left side and a name sliding along the bottom.
struct CreditPair {
    const char* titleFile;
    std::int32_t titleWidth, titleHeight;
    const char* nameFile;
    std::int32_t nameWidth, nameHeight, nameRow;
};

// The pairs of order positions 1, 2 and 3.
inline constexpr std::array<CreditPair, 3> creditPairs = {{
    {"p2_tco~1.raw", 148, 36, "p2_aco~1.raw", 67, 23, 176},
    {"p2_tmu~1.raw", 123, 34, "p2_amu~1.raw", 193, 27, 172},
    {"p2_tgfx.raw", 80, 38, "p2_agfx.raw", 207, 73, 126},
}};

constexpr ArchiveItem backgroundItem{"p2_bgpic.raw", framePixels};

// The archive entries the credits read, in the order they read them: each pair's title and
// name, then the background.
inline constexpr std::array<ArchiveItem, 2 * creditPairs.size() + 1> creditsItems = [] {
    std::array<ArchiveItem, 2 * creditPairs.size() + 1> items{};
    for (std::size_t pair = 0; pair < creditPairs.size(); ++pair) {
        const CreditPair& credit = creditPairs[pair];
        items[2 * pair] = {credit.titleFile,
                           static_cast<std::size_t>(credit.titleWidth * credit.titleHeight)};
        items[2 * pair + 1] = {credit.nameFile,
                               static_cast<std::size_t>(credit.nameWidth * credit.nameHeight)};
    }
    items.back() = backgroundItem;
    return items;
}();

// The background's picture and the captions of the three pairs (title, name).
struct WaterPictures {
    const std::uint16_t* background;            // 320 x 200
    std::array<const std::uint16_t*, 3> titles; // keyed, sizes in creditPairs
    std::array<const std::uint16_t*, 3> names;
};

// The picture rising into view: a scale growing by a tenth per step, and the rows it has risen.
struct WaterRise {
    double scale;
    std::int32_t offset;
};

// Both height arrays flat, and a surface on them.
WaterSurface calmWater();

// Sets the cells of a stone falling at column x, row y (x 1..318, y 1..198); cells past the
// end of a row go on into the next row, cells past the array are left out.
void dropStone(std::int32_t* heights, std::int32_t x, std::int32_t y);

// One step of the water: one draw of the random generator, a stone one time in ten, then the
// waves spread and die down by a sixteenth.
void waterStep(WaterSurface* surface);

// The waves' spreading alone: the arrays swap, the new current one gets the neighbours' average
// minus its old value, damped.
void spreadWaves(WaterSurface* surface);

// Draws rows 1 to 198 of the background as seen through the surface (rows 0 and 199 are left).
void refractWater(std::uint16_t* frame, const std::int32_t* heights, const std::uint16_t* background);

// The rise at its start (nothing of the picture in view).
WaterRise riseStart();

// One step of the rise: faster and faster until the picture is in place (offset 200).
void advanceRise(WaterRise* rise);

// Caption alpha for a row of the pattern: 0 at row 0, 30 at row 32, back to 0 at its end.
std::int32_t creditAlpha(std::int32_t row);

// Draws the credit pair of order position 1..3 for the row with its alpha (other positions,
// or an alpha below 3, draw nothing).
void drawCreditPair(std::uint16_t* frame, const WaterPictures& pictures, std::int32_t position,
                    std::int32_t row, std::int32_t alpha);

// A whole frame of the credits after the water step: the refracted background, the caption pair
// of positions 1 to 3, the fade over position 5.
void drawWaterFrame(std::uint16_t* frame, const WaterPictures& pictures, const std::int32_t* heights,
                    std::int32_t position, std::int32_t row, std::int32_t alpha);

// The credits part: loads its pictures, starts the second song and runs until its order
// position 6.
void runCredits(const Stage& stage);
