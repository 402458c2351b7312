// Fuzz target: the WAVE reader, opening a file and reading its sample data.
#include "fuzz/sound_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::wave(data, size);
    return 0;
}
