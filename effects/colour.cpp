// The colour toolkit: scale tables, fade, keyed cross-fade, shadow and keyed copy.
#include "effects/colour.h"

#include <algorithm>
#include <cstddef>

std::array<std::uint16_t, 65536> scaleRedBlue{};
std::array<std::uint16_t, 65536> scaleGreen{};

namespace {

std::int32_t clampLevel(std::int32_t level) {
    return std::clamp(level, 0, scaleLevels - 1);
}

// Unchecked scaling for the inner loops; base is a level already clamped and multiplied by 32,
// so base + (pixel AND 0xF81F) stays inside the table.
inline std::uint16_t scaled(std::uint32_t pixel, std::uint32_t base) {
    return static_cast<std::uint16_t>(scaleRedBlue.data()[base + (pixel & 0xF81F)] +
                                      scaleGreen.data()[base + ((pixel >> 6) & 0x1F)]);
}

// Runs op(frame pixel, picture pixel) over the part of a width x height picture at x, y that
// lies inside the frame, skipping key pixels. Placing is checked once per call, not per pixel.
template <typename Op>
void forOpaquePixels(std::uint16_t* frame, const std::uint16_t* picture, std::int32_t width,
                     std::int32_t height, std::int32_t x, std::int32_t y, Op op) {
    if (!frame || !picture || width <= 0 || height <= 0) return;
    const std::int64_t left = std::max<std::int64_t>(x, 0);
    const std::int64_t top = std::max<std::int64_t>(y, 0);
    const std::int64_t right = std::min<std::int64_t>(static_cast<std::int64_t>(x) + width, frameWidth);
    const std::int64_t bottom = std::min<std::int64_t>(static_cast<std::int64_t>(y) + height, frameHeight);
    if (left >= right || top >= bottom) return;
    for (std::int64_t row = top; row < bottom; ++row) {
        const std::uint16_t* source = picture + (row - y) * width + (left - x);
        std::uint16_t* target = frame + row * frameWidth + left;
        for (std::int64_t column = left; column < right; ++column, ++source, ++target)
            if (*source != colourKey) op(*target, *source);
    }
}

} // namespace

void buildScaleTables() {
    scaleRedBlue.fill(0);
    scaleGreen.fill(0);
    for (std::int32_t level = 0; level < scaleLevels; ++level)
        for (std::int32_t red = 0; red < 32; ++red)
            for (std::int32_t blue = 0; blue < 32; ++blue)
                scaleRedBlue[static_cast<std::size_t>(level * 32 + red * 2048 + blue)] =
                    static_cast<std::uint16_t>((((level * red) / 32) << 11) + (level * blue) / 32);
    for (std::int32_t level = 0; level < scaleLevels; ++level)
        for (std::int32_t green = 0; green < 32; ++green)
            scaleGreen[static_cast<std::size_t>(level * 32 + green)] =
                static_cast<std::uint16_t>(((level * green) / 16) << 5);
}

std::uint16_t scalePixel(std::uint16_t pixel, std::int32_t level) {
    return scaled(pixel, static_cast<std::uint32_t>(clampLevel(level)) * 32);
}

void fadeFrame(std::uint16_t* frame, std::int32_t level) {
    if (!frame) return;
    const std::uint32_t base = static_cast<std::uint32_t>(clampLevel(level)) * 32;
    for (std::size_t i = 0; i < framePixels; ++i)
        frame[i] = scaled(frame[i], base);
}

void blendPicture(std::uint16_t* frame, const std::uint16_t* picture, std::int32_t width, std::int32_t height,
                  std::int32_t x, std::int32_t y, std::int32_t alpha) {
    // With the two levels summing to 31 every channel of the sum stays inside its field.
    alpha = std::clamp(alpha, 0, 31);
    const std::uint32_t front = static_cast<std::uint32_t>(alpha) * 32;
    const std::uint32_t back = static_cast<std::uint32_t>(31 - alpha) * 32;
    forOpaquePixels(frame, picture, width, height, x, y, [=](std::uint16_t& d, std::uint16_t s) {
        d = static_cast<std::uint16_t>(scaled(s, front) + scaled(d, back));
    });
}

void shadowPicture(std::uint16_t* frame, const std::uint16_t* picture, std::int32_t width,
                   std::int32_t height, std::int32_t x, std::int32_t y) {
    forOpaquePixels(frame, picture, width, height, x, y, [](std::uint16_t& d, std::uint16_t) {
        d = static_cast<std::uint16_t>((d & 0xF7DF) >> 1);
    });
}

void copyPicture(std::uint16_t* frame, const std::uint16_t* picture, std::int32_t width, std::int32_t height,
                 std::int32_t x, std::int32_t y) {
    forOpaquePixels(frame, picture, width, height, x, y, [](std::uint16_t& d, std::uint16_t s) { d = s; });
}
