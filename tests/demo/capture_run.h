// Running the built morva-capture from the tests, and reading what it wrote.
#pragma once

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

inline const std::string captureProgram = std::string(MORVA_BINARY_DIR) + "/bin/morva-capture";

// Runs morva-capture in folder with the arguments; returns its exit code. Spawned rather than
// forked: a sanitizer build's test process is too big to copy quickly.
// With errors given, standard error goes to that file; with output given, standard output.
inline int runCapture(const std::filesystem::path& folder, std::vector<std::string> arguments,
                      const std::filesystem::path& errors = {}, const std::filesystem::path& output = {}) {
    arguments.insert(arguments.begin(), captureProgram);
    std::vector<char*> argv;
    for (std::string& a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!errors.empty())
        posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!output.empty())
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    pid_t child = 0;
    const int error = posix_spawn(&child, captureProgram.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) return -1;
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
