// The smallest songs of each module format, as file images (one empty
// pattern; the Protracker one plays a two-byte sample so that something
// reaches the device), and writing an image to a file of the test's own.
#pragma once

#include "tests/sound/xmbuild.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace smallest {

inline std::vector<std::uint8_t> extendedModule() {
    return xmbuild::build(xmbuild::ModuleSpec{});
}
inline std::vector<std::uint8_t> protracker() {
    std::vector<std::uint8_t> f(1084 + 1024, 0);
    f[20 + 23] = 1; // sample 1: one word
    f[950] = 1;
    std::memcpy(&f[1080], "M.K.", 4);
    f[1084] = 0x01; // period 0x1ac, instrument 1
    f[1085] = 0xac;
    f[1086] = 0x10;
    f.insert(f.end(), {10, 20});
    return f;
}
inline std::vector<std::uint8_t> screamTracker3() {
    std::vector<std::uint8_t> f(96, 0);
    f[32] = 2; // orders: 0 and an end mark
    std::memcpy(&f[44], "SCRM", 4);
    f[49] = 6;
    f[50] = 125;
    f.insert(f.end(), {0, 255});
    return f;
}
inline std::vector<std::uint8_t> impulseTracker() {
    std::vector<std::uint8_t> f(192, 0);
    std::memcpy(f.data(), "IMPM", 4);
    f[32] = 2;
    f[50] = 6;
    f[51] = 125;
    f.insert(f.end(), {0, 255});
    return f;
}

// Writes bytes to a file of that name in the test's temporary folder and gives its path.
inline std::string writeImage(const std::string& name, const std::vector<std::uint8_t>& bytes) {
    const std::string path = ::testing::TempDir() + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f != nullptr) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    return path;
}

} // namespace smallest
