// Picture building blocks of the content generator: float RGBA layers, coverage masks,
// periodic noise, and the conversion to the show's 16-bit RGB565 pixels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Rgb {
    double r, g, b;
};

// Straight (not premultiplied) RGBA picture, components 0..1, row-major.
struct Layer {
    int w = 0, h = 0;
    std::vector<Rgb> rgb;
    std::vector<double> alpha;
};

// Coverage 0..1 per pixel, row-major.
struct Mask {
    int w = 0, h = 0;
    std::vector<double> v;
};

// One stop of a colour gradient: position 0..1 and colour.
struct GradientStop {
    double at;
    Rgb colour;
};
using Gradient = std::vector<GradientStop>;

constexpr std::uint16_t colourKey = 0x07E0;

// A transparent layer of w x h pixels.
Layer makeLayer(int w, int h);
// An empty mask of w x h pixels.
Mask makeMask(int w, int h);

// Colour of the gradient at t (clamped to the first and last stop).
Rgb gradientAt(const Gradient& g, double t);
// Linear mix a + (b - a) * t.
Rgb mix(Rgb a, Rgb b, double t);
Rgb scaled(Rgb a, double k);
Rgb clampRgb(Rgb a);

// Paints colour over layer pixel (x, y) with coverage a (the "over" operator, straight alpha).
void paint(Layer& layer, int x, int y, Rgb colour, double a);
// Paints every pixel of mask (placed at dx, dy) with colourAt(x, y) over the layer.
template <typename F>
void paintMask(Layer& layer, const Mask& mask, int dx, int dy, F colourAt, double opacity = 1.0) {
    for (int y = 0; y < mask.h; ++y)
        for (int x = 0; x < mask.w; ++x) {
            double a = mask.v[y * mask.w + x] * opacity;
            if (a > 0) paint(layer, x + dx, y + dy, colourAt(x + dx, y + dy), a);
        }
}

// Grows the mask by radius pixels (disc-shaped maximum filter).
Mask dilate(const Mask& m, double radius);
// Three box blurs of the given radius (close to a Gaussian).
Mask blur(const Mask& m, int radius);
// The mask moved by (dx, dy), same size.
Mask shifted(const Mask& m, int dx, int dy);
// Mask value at (x, y), 0 outside.
double maskAt(const Mask& m, int x, int y);
// Bilinear mask value at a fractional position, 0 outside.
double maskSample(const Mask& m, double x, double y);

// Box-filters a layer down by an integer factor (alpha-weighted colour).
Layer downsample(const Layer& l, int factor);
// Box-filters a mask down by an integer factor.
Mask downsample(const Mask& m, int factor);

// Integer hash of lattice coordinates: the only source of randomness, so results repeat.
std::uint32_t hash3(std::int32_t x, std::int32_t y, std::uint32_t seed);
// Hash mapped to 0..1.
double hash01(std::int32_t x, std::int32_t y, std::uint32_t seed);
// Smooth value noise, 0..1, periodic with period px, py lattice cells.
double valueNoise(double x, double y, int px, int py, std::uint32_t seed);
// Sum of octaves of valueNoise over a tile of size tile (coordinates in pixels), periodic in
// the tile, starting with cells of tile / baseCells pixels; normalised to 0..1.
double tileFbm(double x, double y, double tile, int baseCells, int octaves, std::uint32_t seed);

// Converts one colour to RGB565 with a 4x4 ordered dither at pixel (x, y).
std::uint16_t toRgb565(Rgb c, int x, int y);
// Converts an opaque layer to RGB565.
std::vector<std::uint16_t> toRgb565(const Layer& l);
// Converts a layer to a keyed RGB565 picture: pixels below half coverage become colourKey,
// the others are blended toward ground (the colour the picture will sit on) by their
// missing coverage. A motif pixel that would equal colourKey is nudged off it.
std::vector<std::uint16_t> toKeyedRgb565(const Layer& l, Rgb ground);
// Expands RGB565 to 8-bit RGB (for previews).
void rgb565To888(std::uint16_t p, std::uint8_t out[3]);
// Average colour of RGB565 pixels.
Rgb averageColour(const std::vector<std::uint16_t>& pixels);

// Writes a PNG preview of w x h RGB565 pixels, keyed pixels shown as a grey checkerboard
// when keyed is set. Returns false on a write error.
bool writePreview(const std::string& path, const std::vector<std::uint16_t>& pixels, int w, int h,
                  bool keyed);
// Writes little-endian 16-bit pixels to a file. Returns false on a write error.
bool writeRaw(const std::string& path, const std::vector<std::uint16_t>& pixels);
