// Fuzz target: the Extended Module loader from memory in both sample modes, then the song played.
#include "fuzz/sound_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::module(data, size, extendedModuleFormat);
    return 0;
}
