// Fuzz target: the Scream Tracker 3 loader from memory in both sample modes, then the song played.
#include "fuzz/sound_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::module(data, size, screamTrackerFormat);
    return 0;
}
