// Child processes and the corpus for the render-speed programs (see childrun.h).
#include "childrun.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The launcher beside this program (bench/render/launch.c).
std::string launcher() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return (self.parent_path() / "launch").string();
}

// Everything readable from a descriptor, until its end.
std::string readAll(int descriptor) {
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(descriptor, buffer, sizeof buffer);
        if (got > 0) {
            text.append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0 || errno != EINTR) {
            break;
        }
    }
    return text;
}

} // namespace

ChildRun runChild(const std::vector<std::string>& argv) {
    ChildRun run;
    static const std::string launch = launcher();
    int out[2], report[2];
    if (argv.empty() || pipe(out) != 0) return run;
    if (pipe(report) != 0) {
        close(out[0]);
        close(out[1]);
        return run;
    }
    // The command goes through the launcher, which times it and reports on descriptor 3.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, report[1], 3);
    for (int descriptor : {out[0], out[1], report[0], report[1]})
        if (descriptor != 3) posix_spawn_file_actions_addclose(&actions, descriptor);
    std::vector<char*> args = {const_cast<char*>(launch.c_str())};
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    const int failed = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(report[1]);
    if (!failed) {
        run.output = readAll(out[0]);
        const std::string said = readAll(report[0]);
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        long long user = 0, system = 0;
        long peak = 0;
        int exitStatus = -1;
        if (std::sscanf(said.c_str(), "%lld %lld %ld %d", &user, &system, &peak, &exitStatus) == 4) {
            run.ok = exitStatus == 0;
            run.cpuSeconds = static_cast<double>(user + system) / 1e6;
            run.peakKiB = peak;
        }
    }
    close(out[0]);
    close(report[0]);
    return run;
}

ChildRun runCheapest(const std::vector<std::string>& argv, int repeat) {
    ChildRun best = runChild(argv);
    for (int i = 1; i < repeat && best.ok; ++i) {
        ChildRun again = runChild(argv);
        if (!again.ok) return again;
        if (again.cpuSeconds < best.cpuSeconds) best = again;
    }
    return best;
}

const std::vector<std::string>& formatOrder() {
    static const std::vector<std::string> order = {"xm", "s3m", "it", "mod"};
    return order;
}

std::string formatOf(const std::string& file) {
    std::string ext = std::filesystem::path(file).extension().string();
    if (!ext.empty()) ext.erase(0, 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext;
}

std::string leafName(const std::string& file) {
    return std::filesystem::path(file).filename().string();
}

std::vector<std::string> corpusFiles(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        if (entry.is_regular_file()) files.push_back(entry.path().string());
    const auto rank = [](const std::string& f) {
        const auto& order = formatOrder();
        return std::find(order.begin(), order.end(), formatOf(f)) - order.begin();
    };
    files.erase(std::remove_if(files.begin(), files.end(),
                               [&](const std::string& f) { return rank(f) == std::ssize(formatOrder()); }),
                files.end());
    std::sort(files.begin(), files.end(), [&](const std::string& a, const std::string& b) {
        return rank(a) != rank(b) ? rank(a) < rank(b) : a < b;
    });
    return files;
}

double numberAfter(const std::string& text, const std::string& key) {
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.compare(0, key.size(), key) != 0 || line.size() == key.size()) continue;
        const char sep = line[key.size()];
        if (sep != ':' && sep != ' ') continue;
        const char* at = line.c_str() + key.size() + 1;
        char* end = nullptr;
        double v = std::strtod(at, &end);
        if (end == at) continue;
        // A clock (m:ss.mmm) is minutes, then seconds.
        if (*end == ':') {
            char* rest = nullptr;
            const double seconds = std::strtod(end + 1, &rest);
            if (rest != end + 1) v = v * 60 + seconds;
        }
        return v;
    }
    return -1;
}
