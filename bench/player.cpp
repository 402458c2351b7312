// Player tick cost over the module corpus: every Extended Module song played
// for a stretch of ticks on a device whose operations do nothing, so that the
// figure is the player's own work (rows, effects, envelopes, output stage).
#include "sound/api/errors.h"
#include "sound/player/gmplayer.h"
#include "sound/formats/loadxm.h"
#include "sound/output/sdevice.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr int ticksPerSong = 3000;

int none1(std::uint32_t) {
    return errOK;
}
int none2(std::uint32_t, std::uint32_t) {
    return errOK;
}
int nonePanning(std::uint32_t, std::int32_t) {
    return errOK;
}

SoundDevice silentDevice() {
    SoundDevice d{};
    d.startSound = none2;
    d.releaseSound = none1;
    d.stopSound = none1;
    d.setChannelRate = none2;
    d.setChannelVolume = none2;
    d.setChannelSample = none2;
    d.setChannelPosition = none2;
    d.setChannelPanning = nonePanning;
    d.setUpdateRate = none1;
    return d;
}

// The corpus songs, loaded once with their sample data kept out of the device.
const std::vector<Module*>& songs() {
    static std::vector<Module*> loaded = [] {
        std::vector<std::string> names;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(MORVA_MODULES_DIR, error))
            if (entry.path().extension() == ".xm") names.push_back(entry.path().string());
        std::sort(names.begin(), names.end());
        std::vector<Module*> out;
        for (const std::string& name : names) {
            Module* m = nullptr;
            if (load_extended_module(name.c_str(), 0, nullptr, &m) == errOK) {
                // Handles the silent device accepts, so every note goes the whole way.
                for (int k = 0; k < m->sample_count; k++)
                    m->samples[k]->device_handle = k + 1;
                out.push_back(m);
            }
        }
        return out;
    }();
    return loaded;
}

// Plays every corpus song from its start for ticksPerSong ticks.
void PlayerTicks(benchmark::State& state) {
    if (songs().empty()) {
        state.SkipWithError("no XM files in the module corpus");
        return;
    }
    SoundDevice device = silentDevice();
    if (gmp_init(&device) != errOK) {
        state.SkipWithError("gmp_init failed");
        return;
    }
    for (auto _ : state) {
        for (Module* m : songs()) {
            PlayHandle* h = nullptr;
            if (gmp_play_song(m, -1, 0, 0, 1, -1, nullptr, &h) != errOK) {
                state.SkipWithError("gmp_play_song failed");
                return;
            }
            for (int t = 0; t < ticksPerSong; t++)
                if (gmp_play() != errOK) {
                    state.SkipWithError("tick failed");
                    return;
                }
            gmp_stop_song(h);
        }
    }
    const double ticks = static_cast<double>(songs().size()) * ticksPerSong;
    state.counters["ticks/s"] = benchmark::Counter(ticks, benchmark::Counter::kIsIterationInvariantRate);
    state.counters["songs"] = static_cast<double>(songs().size());
    gmp_close();
}
BENCHMARK(PlayerTicks)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
