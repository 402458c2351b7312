// The lens and the tunnel read their textures modulo 256: the wrap must not show a seam,
// and the textures must carry real detail.
#include "show_data.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

namespace {

struct Seams {
    double wrapColumns, wrapRows, maxColumns, maxRows, meanColumns, meanRows;
};

Seams measure(const std::vector<std::uint16_t>& t) {
    Seams s{};
    s.wrapColumns = columnDifference(t, 256, 256, 255, 0);
    s.wrapRows = rowDifference(t, 256, 256, 255, 0);
    for (int i = 0; i < 255; ++i) {
        double c = columnDifference(t, 256, 256, i, i + 1), r = rowDifference(t, 256, 256, i, i + 1);
        s.maxColumns = std::max(s.maxColumns, c), s.maxRows = std::max(s.maxRows, r);
        s.meanColumns += c / 255, s.meanRows += r / 255;
    }
    return s;
}

} // namespace

TEST(Textures, WrapAcrossBothEdgesWithoutASeam) {
    for (const char* name : {"p1_txtr.raw", "p3_txtr.raw"}) {
        std::vector<std::uint16_t> t = loadEntry(name, 65536);
        if (t.empty()) GTEST_SKIP() << "no archive";
        Seams s = measure(t);
        EXPECT_LE(s.wrapColumns, s.maxColumns) << name;
        EXPECT_LE(s.wrapRows, s.maxRows) << name;
        EXPECT_LE(s.wrapColumns, 1.5 * s.meanColumns) << name;
        EXPECT_LE(s.wrapRows, 1.5 * s.meanRows) << name;
    }
}

TEST(Textures, SeamMeasureCatchesAHardEdge) {
    // A ramp that jumps from bright back to dark at the wrap: the seam a tiling fault leaves.
    std::vector<std::uint16_t> ramp(65536);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            int v = (x + y) / 16;
            ramp[y * 256 + x] = std::uint16_t(v << 11 | (v * 2) << 5 | v);
        }
    Seams s = measure(ramp);
    EXPECT_GT(s.wrapColumns, s.maxColumns);
    EXPECT_GT(s.wrapRows, s.maxRows);
}

TEST(Textures, AreDetailedRatherThanFlat) {
    for (const char* name : {"p1_txtr.raw", "p3_txtr.raw"}) {
        std::vector<std::uint16_t> t = loadEntry(name, 65536);
        if (t.empty()) GTEST_SKIP() << "no archive";
        std::set<std::uint16_t> colours(t.begin(), t.end());
        EXPECT_GT(colours.size(), 1000u) << name;
        double sum = 0, sq = 0;
        for (std::uint16_t p : t) {
            double l = ((p >> 11) / 31.0 + ((p >> 5) & 63) / 63.0 + (p & 31) / 31.0) / 3;
            sum += l, sq += l * l;
        }
        double mean = sum / t.size();
        EXPECT_GT(std::sqrt(sq / t.size() - mean * mean), 0.08) << name << ": too little contrast";
    }
}
