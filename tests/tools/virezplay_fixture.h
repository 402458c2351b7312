// Shared by the virezplay tests: running the built program, small modules to feed it, and
// reading back what it wrote.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
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
                xmbuild::full(pattern.packed, 49, 1, 0, 0, 0);
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
