// Inputs made up for the effects tests (never the generated show data, which may change) and a
// frame with guard bands around it that catch writes outside the 320 x 200 pixels.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "effects/colour.h"

// A frame in the middle of two guard bands of one frame each, filled with a marker.
struct GuardedFrame {
    static constexpr std::uint16_t guard = 0xA5A5;
    std::vector<std::uint16_t> all = std::vector<std::uint16_t>(3 * framePixels, guard);
    std::uint16_t* pixels() { return all.data() + framePixels; }
    std::uint16_t& at(int column, int row) { return pixels()[row * frameWidth + column]; }
    void fill(std::uint16_t value) { std::fill_n(pixels(), framePixels, value); }
    bool guardsIntact() const {
        for (std::size_t i = 0; i < framePixels; ++i)
            if (all[i] != guard || all[2 * framePixels + i] != guard) return false;
        return true;
    }
};

// A deterministic pixel pattern (never the key colour unless keyEvery says so: then every
// keyEvery-th pixel, and a border of key, are transparent).
inline std::vector<std::uint16_t> pattern(int width, int height, std::uint32_t seed, int keyEvery = 0) {
    std::vector<std::uint16_t> p(static_cast<std::size_t>(width) * height);
    std::uint32_t x = seed * 2654435761u + 12345u;
    for (int row = 0; row < height; ++row)
        for (int column = 0; column < width; ++column) {
            x = x * 1664525u + 1013904223u;
            std::uint16_t v = static_cast<std::uint16_t>(x >> 16);
            if (v == colourKey) v = 0x07E1;
            const bool border = row == 0 || column == 0 || row == height - 1 || column == width - 1;
            if (keyEvery && (border || (row * width + column) % keyEvery == 0)) v = colourKey;
            p[static_cast<std::size_t>(row) * width + column] = v;
        }
    return p;
}

// FNV-1a over the pixels' bytes, low byte first.
inline std::uint64_t checksum(const std::uint16_t* pixels, std::size_t count) {
    std::uint64_t h = 14695981039346656037ull;
    for (std::size_t i = 0; i < count; ++i)
        for (int shift : {0, 8}) {
            h ^= static_cast<std::uint8_t>(pixels[i] >> shift);
            h *= 1099511628211ull;
        }
    return h;
}

// The scale tables, built once for all tests.
class ScaleTables : public ::testing::Environment {
  public:
    void SetUp() override { buildScaleTables(); }
};
