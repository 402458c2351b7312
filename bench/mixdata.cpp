// mixData throughput: output frames per CPU second at 44100 Hz stereo 16-bit,
// for 4 to 32 channels of 8- or 16-bit looped samples, with the integer,
// float, interpolating (linear) and cubic routine families. The mixer's options keep their
// defaults (light output filter without interpolation; 16-bit samples stored
// as mu-law in integer mixing).
#include "sound/mixer/dsm.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

constexpr uint32_t mixRate = 44100;
constexpr uint32_t framesPerTick = 882; // one player tick at tempo 125
constexpr uint32_t sampleFrames = 32768;

const uint32_t familyModes[] = {MIX_INTEGER, MIX_FLOAT, MIX_INTERPOLATE, MIX_INTERPOLATE | MIX_CUBIC};
const char* const familyNames[] = {"integer", "float", "interpolating", "cubic"};

void mixDataThroughput(benchmark::State& state) {
    const uint32_t channels = uint32_t(state.range(0));
    const bool sixteen = state.range(1) == 16;
    const int family = int(state.range(2));
    state.SetLabel(familyNames[family]);
    if (mixerInit(mixRate, MIX_STEREO | MIX_16BIT | familyModes[family]) || openChannels(channels)) {
        state.SkipWithError("mixer set-up failed");
        return;
    }
    // One looped sample per channel: a wobbling saw, so nothing is constant.
    std::vector<uint8_t> data(sampleFrames * (sixteen ? 2 : 1));
    for (uint32_t i = 0; i < sampleFrames; ++i) {
        const int v = int((i * 97) % 65536) - 32768 + int(i % 7) * 3;
        if (sixteen) {
            data[2 * i] = uint8_t(v & 255);
            data[2 * i + 1] = uint8_t((v >> 8) & 255);
        } else {
            data[i] = uint8_t((v >> 8) + 128);
        }
    }
    const uint32_t bytes = uint32_t(data.size());
    for (uint32_t c = 0; c < channels; ++c) {
        SampleDesc d{
            data.data(), 1, sixteen ? SMP_16BIT_MONO : SMP_8BIT_MONO, bytes, 0, 0, bytes, LOOP_FORWARD, 0,
            0,           0};
        uint32_t handle = 0;
        addSample(&d, 1, &handle);
        setChannelVolume(c, 40 + c % 25);
        setChannelPanning(c, int32_t(c * 37 % 129) - 64); // some exactly centred, most not
        setChannelSample(c, handle);
        startSound(c, 8363 + c * 1751); // rates from 0.19 to 1.4 times the mixing rate
    }
    std::vector<int16_t> out(framesPerTick * 2);
    for (auto _ : state) {
        mixData(framesPerTick, out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.counters["frames_per_cpu_s"] =
        benchmark::Counter(double(state.iterations()) * framesPerTick, benchmark::Counter::kIsRate);
    mixerClose();
}

void arguments(benchmark::internal::Benchmark* b) {
    b->ArgNames({"channels", "bits", "family"});
    for (int family = 0; family < 4; ++family) {
        for (int bits : {8, 16}) {
            for (int channels : {4, 8, 16, 32})
                b->Args({channels, bits, family});
        }
    }
}

BENCHMARK(mixDataThroughput)->Apply(arguments);

} // namespace

BENCHMARK_MAIN();
