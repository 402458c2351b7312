// Fuzz target: the file library's reader, opening an archive and reading its entries.
#include "fuzz/filelib_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzing::fileLibrary(data, size);
    return 0;
}
