// Fuzz target: the stored-settings file reader; a file taken or refused wrongly stops the run.
#include "fuzz/sound_harness.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!fuzzing::settings(data, size)) std::abort();
    return 0;
}
