// The opening: the warning screen for three seconds, then a 256 x 256 texture scrolling under a
// bulging lens, with the caption fading in and out (order positions 0 and 1), then the shaking
// title logo with its faint trail (2 to 4), fading to black during position 4.
#pragma once

#include <array>
#include <cstdint>

#include "effects/stage.h"

constexpr std::int32_t lensColumns = 512; // twice the screen, so the moving window never leaves it
constexpr std::int32_t lensRows = 400;
constexpr std::int32_t captionWidth = 247, captionHeight = 35; // "p1_pres.raw"
constexpr std::int32_t captionX = 35, captionY = 85;
constexpr std::int32_t titleWidth = 204, titleHeight = 97; // "p1_morva.raw"
constexpr std::int32_t titleX = 56, titleY = 50;           // where the shaking starts from
constexpr std::int32_t lensTextureSize = 256;

// The archive entries the opening reads, in the order it reads them.
constexpr ArchiveItem warningItem{"p1_warn.raw", framePixels};
constexpr ArchiveItem captionItem{"p1_pres.raw", captionWidth * captionHeight};
constexpr ArchiveItem lensTextureItem{"p1_txtr.raw", lensTextureSize * lensTextureSize};
constexpr ArchiveItem titleItem{"p1_morva.raw", titleWidth * titleHeight};
constexpr std::array<ArchiveItem, 4> openingItems{warningItem, captionItem, lensTextureItem, titleItem};

// Texture coordinates (v << 8 | u) seen through the lens, for twice the screen in each direction.
extern std::array<std::uint16_t, lensColumns * lensRows> lensMap;
// The top-left corner of the screen's window on lensMap, along an ellipse of 256 steps.
extern std::array<std::uint16_t, 256> pathX;
extern std::array<std::uint16_t, 256> pathY;

// The moving parts of the opening: step counter, texture offsets and the logo's last place.
struct OpeningState {
    std::uint8_t k, du, dv;
    std::int32_t titleX, titleY;
};

// The pictures the opening draws (the warning screen is presented as it is).
struct OpeningPictures {
    const std::uint16_t* caption; // 247 x 35, keyed
    const std::uint16_t* texture; // 256 x 256
    const std::uint16_t* title;   // 204 x 97, keyed
};

// Builds lensMap, pathX and pathY.
void buildLensTables();

// The state at the start of the part: counters at 0, the logo at its home.
OpeningState openingStart();

// One animation step: k advances and the texture offsets follow it round their ellipse.
void advanceLens(OpeningState* state);

// Draws the texture through the lens at the state's window and offsets.
void renderLens(std::uint16_t* frame, const std::uint16_t* texture, const OpeningState& state);

// Caption level of the first phase: fading in over position 0, out over position 1.
std::int32_t captionLevel(std::int32_t position, std::int32_t row);

// Logo level of the second phase: fading in from row 8 of position 2, then full.
std::int32_t titleLevel(std::int32_t position, std::int32_t row);

// A frame of the first phase: the lens, with the caption when its level is at least 3.
void drawCaptionFrame(std::uint16_t* frame, const OpeningPictures& pictures, const OpeningState& state,
                      std::int32_t position, std::int32_t row);

// A frame of the second phase: the lens, the logo's trail at its last place and the logo at
// (newX, newY), which becomes its last place; faded during position 4.
void drawTitleFrame(std::uint16_t* frame, const OpeningPictures& pictures, OpeningState* state,
                    std::int32_t position, std::int32_t row, std::int32_t newX, std::int32_t newY);

// The opening part from loading its pictures to order position 5 of the first song, which it
// starts after the warning screen.
void runOpening(const Stage& stage);
