// Running a built program from the tests: spawned, not forked, since a sanitizer build's test
// process is big to copy.
#pragma once

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

// The inherited environment changed by the entries given: "NAME=VALUE" sets a variable, a bare
// "NAME" removes it.
inline std::vector<std::string> changedEnvironment(const std::vector<std::string>& environment) {
    const auto nameOf = [](const std::string& entry) { return entry.substr(0, entry.find('=')); };
    std::vector<std::string> env;
    for (const std::string& change : environment)
        if (change.find('=') != std::string::npos) env.push_back(change);
    for (char** e = environ; *e; ++e) {
        bool changed = false;
        for (const std::string& change : environment)
            changed = changed || nameOf(change) == nameOf(*e);
        if (!changed) env.emplace_back(*e);
    }
    return env;
}

// The null-ended list of pointers that exec and spawn take, into words (which must outlive it).
inline std::vector<char*> pointersTo(std::vector<std::string>& words) {
    std::vector<char*> pointers;
    for (std::string& w : words)
        pointers.push_back(w.data());
    pointers.push_back(nullptr);
    return pointers;
}

// Starts program in folder with the arguments, standard input from /dev/null, standard output and
// error into the files given (an empty path: the test's own). environment changes the inherited
// one as changedEnvironment does. Returns the child's process id, or 0.
inline pid_t spawnProgram(const std::filesystem::path& program, const std::filesystem::path& folder,
                          std::vector<std::string> arguments, const std::vector<std::string>& environment,
                          const std::filesystem::path& out, const std::filesystem::path& err) {
    arguments.insert(arguments.begin(), program.string());
    const std::vector<char*> argv = pointersTo(arguments);
    std::vector<std::string> env = changedEnvironment(environment);
    const std::vector<char*> envp = pointersTo(env);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (!out.empty()) posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!err.empty()) posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    pid_t child = 0;
    const int error = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? child : 0;
}

// Waits for a spawned program: its exit code, or 128 + the signal that ended it.
inline int waitProgram(pid_t child) {
    int status = 0;
    if (child == 0 || waitpid(child, &status, 0) != child) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Waits at most seconds for a spawned program; one still running then is killed, and the result
// is -2.
inline int waitProgramFor(pid_t child, int seconds) {
    if (child == 0) return -1;
    for (int waited = 0; waited < seconds * 20; ++waited) {
        int status = 0;
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (done < 0) return -1;
        usleep(50'000);
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    return -2;
}
