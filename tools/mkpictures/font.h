// Text rasterised from TrueType fonts into coverage masks.
#pragma once

#include "raster.h"

#include <string>
#include <vector>

#include <stb/stb_truetype.h>

struct Font {
    std::vector<unsigned char> data;
    stbtt_fontinfo info{};
};

// How a line of text is drawn: glyph height in pixels (ascent to descent), horizontal
// squeeze, italic slant (pixels of shift per pixel of height) and extra letter spacing.
struct TextStyle {
    double pixelHeight = 32;
    double xScale = 1;
    double shear = 0;
    double spacing = 0;
};

// Loads a font file. Returns false with a message on standard error when it cannot be used.
bool loadFont(Font& font, const std::string& path);

// The text's ink, cropped to its bounding box plus margin pixels on every side.
Mask textMask(const Font& font, const std::string& text, const TextStyle& style, int margin);

// textMask with pixelHeight chosen so that the ink fits inside maxW x maxH.
Mask fitTextMask(const Font& font, const std::string& text, TextStyle style, int maxW, int maxH, int margin);
