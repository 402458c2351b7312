// Pictures built into the program: the configuration window's 200 x 64 logo bitmap
// (8 bits per pixel with its palette) and the 32 x 32 window icon in 256 and 16 colours.
// The data is generated at build time by mkpictures from content/pictures.txt.
#pragma once

#include <cstdint>

constexpr int demoBitmapWidth = 200;
constexpr int demoBitmapHeight = 64;
constexpr int demoIconSize = 32;

// Palette indices of the logo bitmap, top row first, 200 per row.
extern const std::uint8_t demoBitmapPixels[demoBitmapWidth * demoBitmapHeight];
// The 256 palette entries shared by the bitmap and the 256-colour icon: R, G, B each.
extern const std::uint8_t demoPalette[256 * 3];
// The icon as 0xAARRGGBB pixels (alpha 0 or 255), top row first.
extern const std::uint32_t demoIconArgb[demoIconSize * demoIconSize];
// The 256-colour icon: indices into demoPalette.
extern const std::uint8_t demoIcon256[demoIconSize * demoIconSize];
// The 16-colour icon: indices into demoIcon16Palette.
extern const std::uint8_t demoIcon16[demoIconSize * demoIconSize];
// The standard 16-colour palette of the 16-colour icon: R, G, B each.
extern const std::uint8_t demoIcon16Palette[16 * 3];
// Icon transparency: 1 where the icon is transparent, 0 where it is drawn.
extern const std::uint8_t demoIconMask[demoIconSize * demoIconSize];
