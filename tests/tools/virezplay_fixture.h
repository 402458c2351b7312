// Shared by the virezplay tests: running the built program, small modules to feed it, and
// reading back what it wrote.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <spawn.h>
#include <sstream>
#include <string>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "tests/sound/xmbuild.h"
#include "tests/run_program.h"

namespace virezplay {

namespace fs = std::filesystem;

inline const fs::path program = fs::path(MORVA_BINARY_DIR) / "bin" / "virezplay";

struct Result {
    int status = -1; // exit code, or 128 + signal
    std::string out, err;
};

inline std::string readText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

// Starts virezplay in folder with the arguments and extra environment, standard input from
// /dev/null, standard output and error into the files given. Returns the child's process id, or 0.
inline pid_t start(const fs::path& folder, const std::vector<std::string>& arguments,
                   const std::vector<std::string>& environment, const fs::path& out, const fs::path& err) {
    return spawnProgram(program, folder, arguments, environment, out, err);
}

// Waits for a started virezplay: its exit code, or 128 + the signal that ended it.
inline int finish(pid_t child) {
    return waitProgram(child);
}

// Runs virezplay to its end and collects what it said.
inline Result run(const fs::path& folder, const std::vector<std::string>& arguments,
                  const std::vector<std::string>& environment = {}) {
    const fs::path out = folder / ".stdout", err = folder / ".stderr";
    Result result;
    result.status = finish(start(folder, arguments, environment, out, err));
    result.out = readText(out);
    result.err = readText(err);
    return result;
}

// A small song for the player: 2 channels, one looped square-wave instrument struck on the
// first row of every pattern, speed 6 and tempo 125 (a row is 6 ticks of 882 frames at
// 44100 Hz, 0.12 s); each pattern is given by its row count and the effects of channel 1.
struct SongRow {
    std::uint8_t effect = 0, parameter = 0;
};
struct SongPattern {
    explicit SongPattern(int rowCount = 16) : rows(rowCount) {}
    int rows;
    std::map<int, SongRow> effects; // by row: an effect in channel 1
    SongRow strike{};               // an effect beside the note on channel 0 (such as its panning)
};

inline std::vector<std::uint8_t> song(const std::vector<SongPattern>& patterns,
                                      const std::vector<std::uint8_t>& orders,
                                      const std::string& name = "virezplay test", std::uint16_t speed = 6,
                                      std::uint16_t tempo = 125) {
    xmbuild::ModuleSpec spec;
    spec.name = name;
    spec.channels = 2;
    spec.speed = speed;
    spec.tempo = tempo;
    spec.orders = orders;
    xmbuild::InstrumentSpec instrument;
    instrument.name = "square";
    instrument.samples = {xmbuild::squareWave()};
    spec.instruments = {instrument};
    spec.patterns.clear();
    for (const SongPattern& p : patterns) {
        xmbuild::PatternSpec pattern;
        pattern.rows = p.rows;
        for (int r = 0; r < p.rows; ++r) {
            if (r == 0)
                xmbuild::full(pattern.packed, 49, 1, 0, p.strike.effect, p.strike.parameter);
            else
                xmbuild::empty(pattern.packed);
            const auto effect = p.effects.find(r);
            if (effect != p.effects.end())
                xmbuild::full(pattern.packed, 0, 0, 0, effect->second.effect, effect->second.parameter);
            else
                xmbuild::empty(pattern.packed);
        }
        spec.patterns.push_back(pattern);
    }
    return xmbuild::build(spec);
}

inline void writeBytes(const fs::path& file, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A WAVE file as virezplay writes it: the canonical 44-byte header, then the samples.
struct Wave {
    bool valid = false;
    std::uint32_t riffSize = 0, dataSize = 0, rate = 0, byteRate = 0;
    std::uint16_t format = 0, channels = 0, blockAlign = 0, bits = 0;
    std::string data;
    std::size_t frames() const { return blockAlign ? data.size() / blockAlign : 0; }
};

inline Wave parseWave(const std::string& bytes) {
    Wave w;
    if (bytes.size() < 44 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 8, "WAVEfmt ") != 0 ||
        bytes.compare(36, 4, "data") != 0)
        return w;
    const auto u32 = [&](std::size_t at) {
        return static_cast<std::uint32_t>(
            static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8 |
            static_cast<unsigned char>(bytes[at + 2]) << 16 |
            static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3])) << 24);
    };
    const auto u16 = [&](std::size_t at) { return static_cast<std::uint16_t>(u32(at) & 0xFFFF); };
    w.riffSize = u32(4);
    w.format = u16(20);
    w.channels = u16(22);
    w.rate = u32(24);
    w.byteRate = u32(28);
    w.blockAlign = u16(32);
    w.bits = u16(34);
    w.dataSize = u32(40);
    w.data = bytes.substr(44);
    w.valid = true;
    return w;
}

inline Wave readWave(const fs::path& file) {
    return parseWave(readText(file));
}

// A run on a terminal: standard input, output and error on a pseudo-terminal of width columns,
// with keys typed at the given times (milliseconds from the start). out holds everything written
// to the terminal; the run is ended (status -2) when it takes longer than limitSeconds.
struct Keystroke {
    int atMs;
    std::string keys;
};

inline Result runOnTerminal(const fs::path& folder, const std::vector<std::string>& arguments,
                            const std::vector<std::string>& environment, const std::vector<Keystroke>& keys,
                            int width = 80, int limitSeconds = 30) {
    Result result;
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return result;
    const std::string terminal = ptsname(master);
    winsize size{};
    size.ws_row = 24;
    size.ws_col = static_cast<unsigned short>(width);
    ioctl(master, TIOCSWINSZ, &size);
    std::vector<std::string> words = arguments;
    words.insert(words.begin(), program.string());
    std::vector<char*> argv;
    for (std::string& a : words)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env = environment;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e, name = entry.substr(0, entry.find('='));
        bool changed = false;
        for (const std::string& change : environment)
            changed = changed || change.substr(0, change.find('=')) == name;
        if (!changed) env.push_back(entry);
    }
    std::vector<char*> envp;
    for (std::string& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd = 0; fd < 3; ++fd)
        posix_spawn_file_actions_addopen(&actions, fd, terminal.c_str(), O_RDWR, 0);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t child = 0;
    const int error = posix_spawn(&child, program.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        close(master);
        return result;
    }
    const auto started = std::chrono::steady_clock::now();
    const auto elapsedMs = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
    };
    std::size_t typed = 0;
    int status = 0;
    bool exited = false;
    for (;;) {
        while (typed < keys.size() && elapsedMs() >= keys[typed].atMs) {
            if (write(master, keys[typed].keys.data(), keys[typed].keys.size()) < 0) break;
            ++typed;
        }
        pollfd in{master, POLLIN, 0};
        if (poll(&in, 1, 10) > 0) {
            char buffer[4096];
            const ssize_t n = read(master, buffer, sizeof buffer);
            if (n > 0) result.out.append(buffer, static_cast<std::size_t>(n));
            else if (exited) break; // the terminal is closed and drained
        } else if (exited) {
            break;
        }
        if (!exited && waitpid(child, &status, WNOHANG) == child) exited = true;
        if (!exited && elapsedMs() > limitSeconds * 1000) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            result.status = -2;
            close(master);
            return result;
        }
    }
    close(master);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

// The lines a terminal shows from output written to it: split at line feeds and at carriage
// returns (a status line redrawn in place is one line each time), erase sequences dropped.
inline std::vector<std::string> terminalLines(const std::string& text) {
    std::vector<std::string> out;
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            if (!line.empty()) out.push_back(line);
            line.clear();
        } else if (c == '\033' && text.compare(i, 3, "\033[K") == 0) {
            i += 2;
        } else {
            line += c;
        }
    }
    if (!line.empty()) out.push_back(line);
    return out;
}

// The fields of --info output: "key: value" lines, the last of each key.
inline std::map<std::string, std::string> fields(const std::string& text) {
    std::map<std::string, std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t colon = line.find(": ");
        if (colon != std::string::npos) out[line.substr(0, colon)] = line.substr(colon + 2);
    }
    return out;
}

// A scratch folder per test, removed when the test passed.
class Virezplay : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(fs::exists(program)) << program << " is built with the tools";
        folder =
            fs::temp_directory_path() / ("virezplay-test-" + std::to_string(getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(folder);
    }
    fs::path folder;
};

} // namespace virezplay
