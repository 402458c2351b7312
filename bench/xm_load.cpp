// Extended Module load time over the module corpus: from files and from
// memory, keeping the sample data or handing it to the mixer.
#include "sound/formats/formats.h"
#include "sound/mixer/dsm.h"
#include "sound/api/errors.h"
#include "sound/formats/loadxm.h"
#include "sound/api/mglobals.h"
#include "sound/output/sdevice.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct CorpusFile {
    std::string name;
    std::vector<std::uint8_t> image;
};

const std::vector<CorpusFile>& corpus() {
    static std::vector<CorpusFile> files = [] {
        std::vector<CorpusFile> found;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(MORVA_MODULES_DIR, error)) {
            if (entry.path().extension() != ".xm") continue;
            std::ifstream in(entry.path(), std::ios::binary);
            found.push_back(
                {entry.path().string(), std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                                                  std::istreambuf_iterator<char>())});
        }
        std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
        return found;
    }();
    return files;
}

std::int64_t corpusBytes() {
    std::int64_t total = 0;
    for (const CorpusFile& file : corpus())
        total += static_cast<std::int64_t>(file.image.size());
    return total;
}

// A device whose sample operations are the mixer's, as every output device has them.
SoundDevice mixerDevice() {
    SoundDevice device{};
    device.addSample = addSample;
    device.removeSample = removeSample;
    return device;
}

void report(benchmark::State& state) {
    state.SetBytesProcessed(state.iterations() * corpusBytes());
    state.counters["files"] = static_cast<double>(corpus().size());
    state.counters["files/s"] = benchmark::Counter(static_cast<double>(corpus().size()),
                                                   benchmark::Counter::kIsIterationInvariantRate);
}

// Loads every corpus file from disk and frees it again. Argument: 1 = hand samples to the mixer.
void XmLoadFiles(benchmark::State& state) {
    if (corpus().empty()) {
        state.SkipWithError("no XM files in the module corpus");
        return;
    }
    int toDevice = static_cast<int>(state.range(0));
    SoundDevice device = mixerDevice();
    SoundDevice* saved = currentDevice;
    if (toDevice) {
        if (mixerInit(44100, MIX_STEREO | MIX_16BIT) != errOK) {
            state.SkipWithError("mixerInit failed");
            return;
        }
        currentDevice = &device;
    }
    for (auto _ : state) {
        for (const CorpusFile& file : corpus()) {
            Module* module = nullptr;
            int code = load_extended_module(file.name.c_str(), toDevice, nullptr, &module);
            if (code != errOK) {
                state.SkipWithError((file.name + ": " + errorMessage(code)).c_str());
                break;
            }
            benchmark::DoNotOptimize(module);
            free_module(module, currentDevice);
        }
    }
    if (toDevice) mixerClose();
    currentDevice = saved;
    report(state);
}
BENCHMARK(XmLoadFiles)->ArgName("toMixer")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Loads every corpus file from a memory image (no file access) and frees it.
void XmLoadMemory(benchmark::State& state) {
    if (corpus().empty()) {
        state.SkipWithError("no XM files in the module corpus");
        return;
    }
    for (auto _ : state) {
        for (const CorpusFile& file : corpus()) {
            Module* module = nullptr;
            if (extendedModuleFormat.load_memory(file.image.data(), file.image.size(), 0, nullptr, &module) !=
                errOK) {
                state.SkipWithError(file.name.c_str());
                break;
            }
            benchmark::DoNotOptimize(module);
            free_module(module, nullptr);
        }
    }
    report(state);
}
BENCHMARK(XmLoadMemory)->Unit(benchmark::kMillisecond);

// The largest file of the corpus alone.
void XmLoadLargest(benchmark::State& state) {
    if (corpus().empty()) {
        state.SkipWithError("no XM files in the module corpus");
        return;
    }
    const CorpusFile* largest = &corpus()[0];
    for (const CorpusFile& file : corpus())
        if (file.image.size() > largest->image.size()) largest = &file;
    for (auto _ : state) {
        Module* module = nullptr;
        if (load_extended_module(largest->name.c_str(), 0, nullptr, &module) != errOK) {
            state.SkipWithError(largest->name.c_str());
            break;
        }
        free_module(module, nullptr);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(largest->image.size()));
    state.SetLabel(std::filesystem::path(largest->name).filename().string());
}
BENCHMARK(XmLoadLargest)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
