// File library lookups: the walk from the first entry costs one header read and one seek for every
// entry in front of the wanted one, so the last of many entries is the slow case.
#include "filelib/filelib.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int entryCount = 64;
constexpr std::size_t pictureElements = 320 * 200; // one 320x200 RGB565 picture

// Builds a library of entryCount pictures in a scratch file once per process.
const std::string& benchLibrary() {
    static const std::string path = [] {
        std::string file = "/tmp/bench-filelib-" + std::to_string(getpid()) + ".flb";
        std::string picture = "/tmp/bench-filelib-" + std::to_string(getpid()) + ".raw";
        std::vector<std::uint16_t> pixels(pictureElements, 0x07E0);
        std::FILE* out = std::fopen(picture.c_str(), "wb");
        std::fwrite(pixels.data(), 2, pixels.size(), out);
        std::fclose(out);
        FileLibrary library;
        libraryOpen(&library, file.c_str(), 1, 0);
        for (int i = 0; i < entryCount; ++i)
            libraryAddFileAs(&library, picture.c_str(), ("pic" + std::to_string(i) + ".raw").c_str());
        libraryClose(&library);
        std::remove(picture.c_str());
        return file;
    }();
    return path;
}

void loadEntry(benchmark::State& state, const char* name) {
    FileLibrary library;
    libraryOpen(&library, benchLibrary().c_str(), 0, 0);
    std::vector<std::uint16_t> destination(pictureElements);
    for (auto _ : state)
        benchmark::DoNotOptimize(libraryLoad(&library, name, destination.data(), pictureElements));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * pictureElements * 2));
    libraryClose(&library);
}

void BM_LoadFirstPicture(benchmark::State& state) {
    loadEntry(state, "pic0.raw");
}
void BM_LoadLastPicture(benchmark::State& state) {
    loadEntry(state, "pic63.raw");
}

void BM_SeekMissingName(benchmark::State& state) {
    FileLibrary library;
    libraryOpen(&library, benchLibrary().c_str(), 0, 0);
    for (auto _ : state)
        benchmark::DoNotOptimize(librarySeek(&library, "absent.raw"));
    libraryClose(&library);
}

BENCHMARK(BM_LoadFirstPicture);
BENCHMARK(BM_LoadLastPicture);
BENCHMARK(BM_SeekMissingName);

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::remove(benchLibrary().c_str());
    return 0;
}
