// The colour toolkit every part of the show draws with: two lookup tables that scale the channels
// of an RGB565 pixel by a level 0..62 (32 leaves the pixel as it is), and the frame operations
// built on them: fade, keyed cross-fade of a picture and keyed half-darkening (a shadow).
// No multiplication or division per pixel: two table lookups and one addition per scaled pixel.
#pragma once

#include <array>
#include <cstdint>

#include "effects/stage.h" // the frame: 320 x 200 RGB565 pixels

constexpr std::uint16_t colourKey = 0x07E0; // pure green: transparent in every keyed picture
constexpr std::int32_t scaleLevels = 63;    // levels 0..62

// Red and blue scaled together, indexed by level * 32 + (pixel AND 0xF81F).
extern std::array<std::uint16_t, 65536> scaleRedBlue;
// Green scaled, indexed by level * 32 + the pixel's upper five green bits.
extern std::array<std::uint16_t, 65536> scaleGreen;

// Level of a fade in over one pattern: half the row, 0 at its start to 31 at its end (row 62),
// held at 31 past that.
inline std::int32_t fadeInLevel(std::int32_t row) {
    return row <= 0 ? 0 : row >= 62 ? 31 : row >> 1;
}

// Level of a fade out over one pattern: 31 at its start, 0 at its end.
inline std::int32_t fadeOutLevel(std::int32_t row) {
    return 31 - fadeInLevel(row);
}

// Fills both scale tables; called once before the first part.
void buildScaleTables();

// The pixel with its channels scaled by level / 32 (green keeps five bits); levels outside 0..62
// are taken as the nearer end.
std::uint16_t scalePixel(std::uint16_t pixel, std::int32_t level);

// Scales all 64,000 pixels of a 320 x 200 frame by level / 32, in place.
void fadeFrame(std::uint16_t* frame, std::int32_t level);

// Cross-fades a keyed width x height picture onto the frame at column x, row y:
// picture * alpha / 32 + frame * (31 - alpha) / 32 (alpha 0..31). Parts outside the frame are
// left out.
void blendPicture(std::uint16_t* frame, const std::uint16_t* picture, std::int32_t width, std::int32_t height,
                  std::int32_t x, std::int32_t y, std::int32_t alpha);

// Halves every channel of the frame under the keyed picture's opaque pixels (its shadow).
// Parts outside the frame are left out.
void shadowPicture(std::uint16_t* frame, const std::uint16_t* picture, std::int32_t width,
                   std::int32_t height, std::int32_t x, std::int32_t y);

// Copies the keyed picture's opaque pixels onto the frame unchanged. Parts outside the frame are
// left out.
void copyPicture(std::uint16_t* frame, const std::uint16_t* picture, std::int32_t width, std::int32_t height,
                 std::int32_t x, std::int32_t y);
