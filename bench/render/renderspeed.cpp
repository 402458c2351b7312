// renderspeed: how much faster than real time virezplay renders every module
// of the corpus offline (--wav /dev/null), with the integer, float,
// interpolating (linear) and cubic mixers, and the peak memory of each run: file by file, per
// format and in aggregate. The real-time factor is seconds of music per
// second of processor time (user + system) of the whole run, loading included.
//
// Usage: renderspeed [--repeat N] VIREZPLAY CORPUS_FOLDER
#include "childrun.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

struct Mixer {
    const char* name;
    const char* option; // virezplay's option for it, or null
};
const Mixer mixers[] = {
    {"integer", "--integer"}, {"float", nullptr}, {"interp", "--interpolate"}, {"cubic", "--interpolation=cubic"}};
constexpr int mixerCount = 4;

struct Tally {
    int files = 0;
    double music = 0;
    double cpu[mixerCount] = {};
    long peakKiB[mixerCount] = {};
};

void add(Tally& t, double music, const ChildRun (&runs)[mixerCount]) {
    ++t.files;
    t.music += music;
    for (int m = 0; m < mixerCount; ++m) {
        t.cpu[m] += runs[m].cpuSeconds;
        t.peakKiB[m] = std::max(t.peakKiB[m], runs[m].peakKiB);
    }
}

void printTally(const char* name, const Tally& t) {
    std::printf("%-40s %5d %9.1f", name, t.files, t.music);
    for (int m = 0; m < mixerCount; ++m)
        std::printf(" %8.0fx", t.cpu[m] > 0 ? t.music / t.cpu[m] : 0.0);
    for (int m = 0; m < mixerCount; ++m)
        std::printf(" %7.1f", t.peakKiB[m] / 1024.0);
    std::printf("\n");
}

void header(const char* first) {
    std::printf("%-40s %5s %9s %9s %9s %9s %9s %7s %7s %7s %7s\n", first, "files", "music_s", "integer", "float",
                "interp", "cubic", "MiB_int", "MiB_flt", "MiB_itp", "MiB_cub");
}

} // namespace

int main(int argc, char** argv) {
    int repeat = 1;
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 2 && args[0] == "--repeat") {
        repeat = std::max(1, std::atoi(args[1].c_str()));
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: renderspeed [--repeat N] VIREZPLAY CORPUS_FOLDER\n");
        return 2;
    }
    const std::string player = args[0];
    const std::vector<std::string> files = corpusFiles(args[1]);
    if (files.empty()) {
        std::fprintf(stderr, "renderspeed: no module files in %s\n", args[1].c_str());
        return 1;
    }
    std::printf("Offline rendering with virezplay --wav /dev/null, 44100 Hz stereo 16-bit: real-time factor\n"
                "(music seconds per processor second) and peak memory (MiB) of each mixer; %s\n\n",
                repeat > 1 ? "cheapest of repeated runs" : "one run each");
    header("file");
    std::map<std::string, Tally> perFormat;
    Tally all;
    int failed = 0;
    for (const std::string& file : files) {
        const double music = numberAfter(runChild({player, "--info", file}).output, "duration");
        ChildRun runs[mixerCount];
        bool ok = music > 0;
        for (int m = 0; m < mixerCount && ok; ++m) {
            std::vector<std::string> command = {player};
            if (mixers[m].option) command.push_back(mixers[m].option);
            command.insert(command.end(), {"--wav", "/dev/null", file});
            runs[m] = runCheapest(command, repeat);
            ok = runs[m].ok;
        }
        if (!ok) {
            std::printf("%-40s does not play\n", leafName(file).c_str());
            ++failed;
            continue;
        }
        Tally one;
        add(one, music, runs);
        printTally(leafName(file).c_str(), one);
        add(perFormat[formatOf(file)], music, runs);
        add(all, music, runs);
    }
    std::printf("\n");
    header("format");
    for (const std::string& format : formatOrder())
        if (perFormat.count(format)) printTally(format.c_str(), perFormat[format]);
    printTally("all", all);
    std::fflush(stdout);
    return failed ? 1 : 0;
}
