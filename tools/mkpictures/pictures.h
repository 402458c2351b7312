// The show's pictures, each made from the editable sources under content/.
#pragma once

#include "content.h"
#include "font.h"
#include "raster.h"

#include <cstdint>
#include <string>
#include <vector>

// One generated archive entry (a picture, or a strip of animation frames stacked vertically).
struct Picture {
    std::string name; // entry name in the archive
    int w = 0, h = 0;
    bool keyed = false;
    std::vector<std::uint16_t> pixels;
};

// Everything the pictures are made from: fonts and the two source files.
struct Studio {
    Font sans, sansBold, serif, serifBold, monoBold;
    Settings look;    // content/pictures.txt
    Settings credits; // content/credits.txt
};

// How a piece of text is styled: vertical fill gradient, outline, hard drop shadow and
// an embossed bevel lit from the upper left. Lengths are in final pixels.
struct TextLook {
    Gradient fill;
    Rgb outline{0, 0, 0};
    double outlineRadius = 1.0;
    Rgb shadow{0, 0, 0};
    int shadowDx = 2, shadowDy = 2;
    double shadowOpacity = 0.0;
    double bevel = 0.0;
    Rgb glow{0, 0, 0};
    int glowRadius = 0;
    double glowOpacity = 0.0;
};

constexpr int superSample = 4;

// Loads fonts and sources. fontDir holds the DejaVu TrueType files. Returns false with a message.
bool openStudio(Studio& studio, const std::string& contentDir, const std::string& fontDir);

// Paints ink (a supersampled text mask placed at ox, oy of the supersampled layer) in look.
void paintStyledText(Layer& layer, const Mask& ink, int ox, int oy, const TextLook& look);
// A keyed w x h picture of one styled text line, fitted and centred.
Layer styledTextPicture(const Font& font, const std::string& text, TextStyle style, const TextLook& look,
                        int w, int h);
// Reads a TextLook from settings keys prefix.fill, prefix.outline, prefix.shadow, prefix.bevel, ...
TextLook settingLook(const Settings& s, const std::string& prefix);

Picture makeWarning(const Studio& studio);
Picture makeCaption(const Studio& studio, Rgb ground);
Picture makeTitleLogo(const Studio& studio, Rgb ground);
std::vector<Picture> makeCredits(const Studio& studio, Rgb ground);
Picture makeGroupLogo(const Studio& studio, Rgb ground);
Picture makeLensTexture(const Studio& studio);
Picture makeTunnelTexture(const Studio& studio);
Picture makeWaterBackground(const Studio& studio);

constexpr int fluteFrames = 19, fluteWidth = 86, fluteHeight = 109;
// The 19 flute player frames stacked vertically (86 x 19 * 109).
Picture makeFlutePlayer(const Studio& studio, Rgb ground);

// Writes preview stills of the pictures drawn the way the show draws them. Returns false on a
// write error.
bool writeScenePreviews(const std::vector<Picture>& all, const std::string& dir);
