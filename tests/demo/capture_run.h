// Running the built morva-capture from the tests, and reading what it wrote.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/run_program.h"

inline const std::string captureProgram = std::string(MORVA_BINARY_DIR) + "/bin/morva-capture";

// Runs morva-capture in folder with the arguments; returns its exit code. With errors given,
// standard error goes to that file; with output given, standard output.
inline int runCapture(const std::filesystem::path& folder, const std::vector<std::string>& arguments,
                      const std::filesystem::path& errors = {}, const std::filesystem::path& output = {}) {
    return waitProgram(spawnProgram(captureProgram, folder, arguments, {}, output, errors));
}

// The whole file, empty when it cannot be read.
inline std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    std::string all(error ? 0 : size, '\0');
    in.read(all.data(), static_cast<std::streamsize>(all.size()));
    return all;
}
