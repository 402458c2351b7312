// Keyed pictures: transparent (0x07E0) around the motif only, and edges that fade toward the
// picture's background, never toward the key's green.
#include "show_data.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

constexpr std::uint16_t key = 0x07E0;

struct Frame {
    std::string label;
    const std::uint16_t* p;
    int w, h;
};

// Every keyed picture, and every flute frame on its own.
std::vector<Frame> keyedFrames(std::vector<std::vector<std::uint16_t>>& store) {
    std::vector<Frame> out;
    store.reserve(14);
    for (const ShowEntry& e : showEntries) {
        if (!e.keyed) continue;
        store.push_back(loadEntry(e.name, std::size_t(e.w) * e.h * e.frames));
        if (store.back().empty()) return {};
        for (int f = 0; f < e.frames; ++f)
            out.push_back({std::string(e.name) + " frame " + std::to_string(f),
                           store.back().data() + std::size_t(f) * e.w * e.h, e.w, e.h});
    }
    return out;
}

} // namespace

TEST(KeyedPictures, AreTransparentAroundAVisibleMotif) {
    std::vector<std::vector<std::uint16_t>> store;
    std::vector<Frame> frames = keyedFrames(store);
    if (frames.empty()) GTEST_SKIP() << "no archive";
    for (const Frame& f : frames) {
        std::size_t n = std::size_t(f.w) * f.h;
        std::size_t keyed = std::count(f.p, f.p + n, key);
        EXPECT_GT(keyed, n / 20) << f.label << ": hardly any transparency";
        EXPECT_LT(keyed, n * 19 / 20) << f.label << ": hardly any motif";
        EXPECT_EQ(f.p[0], key) << f.label << ": top left corner";
        EXPECT_EQ(f.p[f.w - 1], key) << f.label << ": top right corner";
    }
}

TEST(KeyedPictures, HaveNoKeyPinholesInsideTheMotif) {
    std::vector<std::vector<std::uint16_t>> store;
    std::vector<Frame> frames = keyedFrames(store);
    if (frames.empty()) GTEST_SKIP() << "no archive";
    for (const Frame& f : frames) {
        int holes = 0;
        for (int y = 1; y + 1 < f.h; ++y)
            for (int x = 1; x + 1 < f.w; ++x) {
                const std::uint16_t* c = f.p + std::size_t(y) * f.w + x;
                if (*c == key && c[-1] != key && c[1] != key && c[-f.w] != key && c[f.w] != key) ++holes;
            }
        EXPECT_EQ(holes, 0) << f.label;
    }
}

TEST(KeyedPictures, EdgePixelsAreNotTintedTowardTheKeyGreen) {
    std::vector<std::vector<std::uint16_t>> store;
    std::vector<Frame> frames = keyedFrames(store);
    if (frames.empty()) GTEST_SKIP() << "no archive";
    for (const Frame& f : frames) {
        int greenish = 0, edges = 0;
        for (int y = 0; y < f.h; ++y)
            for (int x = 0; x < f.w; ++x) {
                std::uint16_t p = f.p[std::size_t(y) * f.w + x];
                if (p == key) continue;
                auto isKey = [&](int u, int v) {
                    return u >= 0 && v >= 0 && u < f.w && v < f.h && f.p[std::size_t(v) * f.w + u] == key;
                };
                if (!isKey(x - 1, y) && !isKey(x + 1, y) && !isKey(x, y - 1) && !isKey(x, y + 1)) continue;
                ++edges;
                int r = p >> 11, g = (p >> 6) & 31, b = p & 31;
                if (g > std::max(r, b) + 4) ++greenish;
            }
        EXPECT_GT(edges, 0) << f.label;
        EXPECT_EQ(greenish, 0) << f.label << ": " << greenish << " of " << edges
                               << " edge pixels lean to green";
    }
}
