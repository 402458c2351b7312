// The program's two built-in pictures, written as a C++ source file.
#pragma once

#include "pictures.h"

#include <array>
#include <cstdint>
#include <vector>

struct ProgramResources {
    std::vector<std::uint8_t> bitmap; // 200 x 64 palette indices
    std::array<std::uint8_t, 768> palette{};
    std::vector<std::uint32_t> iconArgb; // 32 x 32
    std::vector<std::uint8_t> icon256, icon16, iconMask;
};

// The fixed 256-colour palette: a 6 x 6 x 6 colour cube followed by 40 greys.
std::array<std::uint8_t, 768> resourcePalette();
// Nearest palette index to an 8-bit colour after a 4x4 ordered dither at (x, y).
std::uint8_t paletteIndex(const std::array<std::uint8_t, 768>& palette, Rgb c, int x, int y);
// Draws the logo bitmap and the icon.
ProgramResources makeProgramResources(const Studio& studio);
// Writes them as the C++ source that demo_resources.h declares. Returns false on a write error.
bool writeResourceSource(const std::string& path, const ProgramResources& r);
