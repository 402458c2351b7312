// xmpcompare: virezplay's offline rendering side by side with libxmp's, file
// by file over the module corpus, at the same settings: 44100 Hz stereo
// 16-bit, full stereo separation, the song played until it wraps once,
// nearest-sample mixing (our float and integer mixers against libxmp's
// nearest neighbour) and linear interpolation (our interpolating mixer
// against libxmp's linear). Each render is its own process, so processor
// time and peak memory come from the kernel's accounting of that process.
// libxmp serves only as a yardstick: it is linked into this program alone.
//
// Usage: xmpcompare [--repeat N] VIREZPLAY CORPUS_FOLDER
//        xmpcompare --render [--linear] FILE   (one libxmp render; prints its length)
#include "childrun.h"

#include <xmp.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int mixRate = 44100;
constexpr double maxSeconds = 30 * 60; // virezplay's limit for songs that never end

// Renders FILE with libxmp into nothing; prints "seconds N" (the music rendered).
int renderWithXmp(const char* file, bool linear) {
    xmp_context context = xmp_create_context();
    if (!context) return 1;
    if (xmp_load_module(context, file) != 0) {
        xmp_free_context(context);
        return 1;
    }
    int code = 1;
    if (xmp_start_player(context, mixRate, 0) == 0) {
        xmp_set_player(context, XMP_PLAYER_INTERP, linear ? XMP_INTERP_LINEAR : XMP_INTERP_NEAREST);
        xmp_set_player(context, XMP_PLAYER_MIX, 100);
        long long frames = 0;
        xmp_frame_info info{};
        while (frames < maxSeconds * mixRate && xmp_play_frame(context) == 0) {
            xmp_get_frame_info(context, &info);
            if (info.loop_count > 0) break;
            frames += info.buffer_size / 4;
        }
        xmp_end_player(context);
        std::printf("seconds %.3f\n", static_cast<double>(frames) / mixRate);
        code = 0;
    }
    xmp_release_module(context);
    xmp_free_context(context);
    return code;
}

// The five renders of one file, in the order they run.
enum Render { oursFloat, oursInteger, xmpNearest, oursInterp, xmpLinear, renderCount };

struct Tally {
    int files = 0;
    double musicOurs = 0, musicXmp = 0;
    double cpu[renderCount] = {};
    long peakKiB[renderCount] = {};
};

double ours(const Tally& t, int r) {
    return t.cpu[r] > 0 ? t.musicOurs / t.cpu[r] : 0;
}
double theirs(const Tally& t, int r) {
    return t.cpu[r] > 0 ? t.musicXmp / t.cpu[r] : 0;
}

void add(Tally& t, double musicOurs, double musicXmp, const ChildRun (&runs)[renderCount]) {
    ++t.files;
    t.musicOurs += musicOurs;
    t.musicXmp += musicXmp;
    for (int r = 0; r < renderCount; ++r) {
        t.cpu[r] += runs[r].cpuSeconds;
        t.peakKiB[r] = std::max(t.peakKiB[r], runs[r].peakKiB);
    }
}

void header(const char* first) {
    std::printf("%-36s %7s %7s | %7s %7s %7s %6s %6s | %7s %7s %6s | %6s %6s\n", first, "ours_s", "xmp_s",
                "float", "integer", "xmp_nn", "flt/x", "int/x", "interp", "xmp_lin", "itp/x", "MiB", "MiB_x");
}

void printTally(const char* name, const Tally& t) {
    const double f = ours(t, oursFloat), i = ours(t, oursInteger), xn = theirs(t, xmpNearest);
    const double ip = ours(t, oursInterp), xl = theirs(t, xmpLinear);
    std::printf("%-36s %7.1f %7.1f | %6.0fx %6.0fx %6.0fx %6.2f %6.2f | %6.0fx %6.0fx %6.2f | %6.1f %6.1f\n", name,
                t.musicOurs, t.musicXmp, f, i, xn, xn > 0 ? f / xn : 0, xn > 0 ? i / xn : 0, ip, xl,
                xl > 0 ? ip / xl : 0, std::max({t.peakKiB[oursFloat], t.peakKiB[oursInteger], t.peakKiB[oursInterp]}) /
                                          1024.0,
                std::max(t.peakKiB[xmpNearest], t.peakKiB[xmpLinear]) / 1024.0);
}

// Lowest, middle and highest of the per-file ratios, and how many reach goal.
void summarise(const char* what, std::vector<double> ratios, double goal) {
    if (ratios.empty()) return;
    std::sort(ratios.begin(), ratios.end());
    const auto reached = std::count_if(ratios.begin(), ratios.end(), [goal](double r) { return r >= goal; });
    std::printf("%-22s lowest %5.2f  median %5.2f  highest %5.2f  files at %.0fx or more: %td of %zu\n", what,
                ratios.front(), ratios[ratios.size() / 2], ratios.back(), goal, reached, ratios.size());
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "--render") {
        const bool linear = args.size() == 3 && args[1] == "--linear";
        if (args.size() != (linear ? 3u : 2u)) return 2;
        return renderWithXmp(args.back().c_str(), linear);
    }
    int repeat = 1;
    if (args.size() >= 2 && args[0] == "--repeat") {
        repeat = std::max(1, std::atoi(args[1].c_str()));
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: xmpcompare [--repeat N] VIREZPLAY CORPUS_FOLDER\n");
        return 2;
    }
    // The forked child is still this program when it runs /proc/self/exe.
    const std::string player = args[0], own = "/proc/self/exe";
    const std::vector<std::string> files = corpusFiles(args[1]);
    std::printf("virezplay against libxmp %s, side by side: real-time factors (music seconds per processor\n"
                "second), their ratios (ours / libxmp; above 1 is faster) and peak memory; %s\n\n",
                xmp_version, repeat > 1 ? "cheapest of repeated runs" : "one run each");
    header("file");
    std::map<std::string, Tally> perFormat;
    Tally all;
    std::vector<double> nearestRatios, integerRatios, linearRatios;
    for (const std::string& file : files) {
        const double musicOurs = numberAfter(runChild({player, "--info", file}).output, "duration");
        if (musicOurs <= 0) {
            std::printf("%-36s does not play in virezplay\n", leafName(file).c_str());
            continue;
        }
        const std::vector<std::vector<std::string>> commands = {
            {player, "--wav", "/dev/null", file},
            {player, "--integer", "--wav", "/dev/null", file},
            {own, "--render", file},
            {player, "--interpolate", "--wav", "/dev/null", file},
            {own, "--render", "--linear", file},
        };
        ChildRun runs[renderCount];
        bool ok = true;
        for (int r = 0; r < renderCount && ok; ++r) {
            runs[r] = runCheapest(commands[r], repeat);
            ok = runs[r].ok;
        }
        const double musicXmp = numberAfter(runs[xmpNearest].output, "seconds");
        if (!ok || musicXmp <= 0) {
            std::printf("%-36s %s\n", leafName(file).c_str(),
                        runs[xmpNearest].ok || !ok ? "a render failed" : "does not play in libxmp");
            continue;
        }
        Tally one;
        add(one, musicOurs, musicXmp, runs);
        printTally(leafName(file).c_str(), one);
        nearestRatios.push_back(ours(one, oursFloat) / theirs(one, xmpNearest));
        integerRatios.push_back(ours(one, oursInteger) / theirs(one, xmpNearest));
        linearRatios.push_back(ours(one, oursInterp) / theirs(one, xmpLinear));
        add(perFormat[formatOf(file)], musicOurs, musicXmp, runs);
        add(all, musicOurs, musicXmp, runs);
    }
    std::printf("\n");
    header("format");
    for (const std::string& format : formatOrder())
        if (perFormat.count(format)) printTally(format.c_str(), perFormat[format]);
    printTally("all", all);
    std::printf("\nPer-file ratios to libxmp:\n");
    summarise("float / nearest", nearestRatios, 2);
    summarise("integer / nearest", integerRatios, 2);
    summarise("interp / linear", linearRatios, 1);
    std::fflush(stdout);
    return 0;
}
