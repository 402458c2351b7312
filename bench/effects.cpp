// One frame of each part of the show and the colour toolkit's frame operations, over fixed
// made-up inputs. The frame budget is 33 ms; each part's frame should take well under 1 ms.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "effects/colour.h"
#include "effects/opening.h"
#include "effects/tunnel.h"
#include "effects/water.h"

namespace {

// A fixed picture of width x height pixels; with keyed set, a third of it is transparent.
std::vector<std::uint16_t> picture(int width, int height, std::uint32_t seed, bool keyed = false) {
    std::vector<std::uint16_t> p(static_cast<std::size_t>(width) * height);
    std::uint32_t x = seed;
    for (std::size_t i = 0; i < p.size(); ++i) {
        x = x * 1664525u + 1013904223u;
        p[i] = keyed && i % 3 == 0 ? colourKey : static_cast<std::uint16_t>(x >> 16);
    }
    return p;
}

// The tables every part builds before it starts, built once for all benchmarks.
void buildTables() {
    static const bool built = [] {
        buildScaleTables();
        buildLensTables();
        buildTunnelTables();
        return true;
    }();
    (void)built;
}

void lensFrame(benchmark::State& state) {
    buildTables();
    const auto caption = picture(captionWidth, captionHeight, 1, true);
    const auto texture = picture(256, 256, 2);
    const auto title = picture(titleWidth, titleHeight, 3, true);
    const OpeningPictures pictures{caption.data(), texture.data(), title.data()};
    std::vector<std::uint16_t> frame(framePixels);
    OpeningState lens = openingStart();
    for (auto _ : state) {
        advanceLens(&lens);
        drawCaptionFrame(frame.data(), pictures, lens, 0, 40);
        benchmark::DoNotOptimize(frame.data());
    }
}
BENCHMARK(lensFrame)->Name("opening: lens render and caption");

void waterFrame(benchmark::State& state) {
    buildTables();
    const auto background = picture(frameWidth, frameHeight, 4);
    std::vector<std::uint16_t> frame(framePixels);
    std::srand(1);
    WaterSurface surface = calmWater();
    for (int step = 0; step < 100; ++step)
        waterStep(&surface);
    for (auto _ : state) {
        waterStep(&surface);
        refractWater(frame.data(), surface.current, background.data());
        benchmark::DoNotOptimize(frame.data());
    }
}
BENCHMARK(waterFrame)->Name("credits: water step and refraction");

void tunnelFrame(benchmark::State& state) {
    buildTables();
    const auto texture = picture(256, 256, 5);
    const auto flute = picture(fluteWidth, fluteHeight * fluteFrames, 6, true);
    const auto logo = picture(groupLogoWidth, groupLogoHeight, 7, true);
    const TunnelPictures pictures{texture.data(), flute.data(), logo.data()};
    std::vector<std::uint16_t> frame(framePixels);
    TunnelState tunnel{0, 0, 0};
    std::uint32_t counter = 0;
    for (auto _ : state) {
        advanceTunnel(&tunnel, &counter);
        drawTunnelFrame(frame.data(), pictures, tunnel, counter, 12, 20); // tunnel, shadow and player
        benchmark::DoNotOptimize(frame.data());
    }
}
BENCHMARK(tunnelFrame)->Name("tunnel: render, shading, shadow and player");

void fadeWholeFrame(benchmark::State& state) {
    buildTables();
    auto frame = picture(frameWidth, frameHeight, 8);
    for (auto _ : state) {
        fadeFrame(frame.data(), 31);
        benchmark::DoNotOptimize(frame.data());
    }
}
BENCHMARK(fadeWholeFrame)->Name("fadeFrame");

void blendTitle(benchmark::State& state) {
    buildTables();
    auto frame = picture(frameWidth, frameHeight, 9);
    const auto title = picture(titleWidth, titleHeight, 10, true);
    for (auto _ : state) {
        blendPicture(frame.data(), title.data(), titleWidth, titleHeight, titleX, titleY, 20);
        benchmark::DoNotOptimize(frame.data());
    }
}
BENCHMARK(blendTitle)->Name("blendPicture: the 204 x 97 title");

} // namespace

BENCHMARK_MAIN();
