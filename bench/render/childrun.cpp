// Child processes and the corpus for the render-speed programs (see childrun.h).
#include "childrun.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

ChildRun runChild(const std::vector<std::string>& argv) {
    ChildRun run;
    int out[2];
    if (argv.empty() || pipe(out) != 0) return run;
    const pid_t pid = fork();
    if (pid < 0) {
        close(out[0]);
        close(out[1]);
        return run;
    }
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) dup2(null, STDERR_FILENO);
        close(out[0]);
        close(out[1]);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(out[1]);
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(out[0], buffer, sizeof buffer);
        if (got > 0) {
            run.output.append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0 || errno != EINTR) {
            break;
        }
    }
    close(out[0]);
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR) return run;
    }
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    run.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    run.peakKiB = usage.ru_maxrss;
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
