// xmpcompare: virezplay's offline rendering side by side with libxmp's, file
// by file over the module corpus, at the same settings: 44100 Hz stereo
// 16-bit, full stereo separation, the song played until it wraps once,
// nearest-sample mixing (our float and integer mixers against libxmp's
// nearest neighbour) and linear interpolation (our interpolating mixer
// against libxmp's linear). Each render is a process of its own, timed from
// its start to its exit by the kernel's accounting (processor time, peak
// memory), as a user who renders one file meets it. Beside that whole-process
// figure stands the render alone: the same time less what the program spends
// starting and ending with nothing to do, measured by itself before the
// files. libxmp serves only as a yardstick: it is linked into this program
// alone, whose copy started with --render is the libxmp renderer.
//
// Usage: xmpcompare [--repeat N] VIREZPLAY CORPUS_FOLDER
//        xmpcompare --render [--linear] FILE   (one libxmp render; prints its length)
//        xmpcompare --render                   (starts and ends: the renderer's own start-up)
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
constexpr int startupRepeat = 15;      // runs of each program's start-up alone

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

// The five renders of one file, in the order they run: ours against libxmp's nearest-sample
// mixing (float, integer), ours interpolating against libxmp's linear interpolation.
enum Render { oursFloat, oursInteger, xmpNearest, oursInterp, xmpLinear, renderCount };
constexpr bool isOurs[renderCount] = {true, true, false, true, false};

// What one program costs to start and end with nothing to do (processor seconds).
struct Startup {
    double ours = 0, xmp = 0;
    double of(int r) const { return isOurs[r] ? ours : xmp; }
};

// The whole process, or the render alone (the process less its program's start-up).
enum Measure { wholeProcess, renderAlone };

struct Tally {
    int files = 0;
    double musicOurs = 0, musicXmp = 0;
    double cpu[renderCount] = {};   // whole process, summed
    double alone[renderCount] = {}; // less the start-up, summed
    long peakKiB[renderCount] = {};
};

double seconds(const Tally& t, int r, Measure m) {
    return m == wholeProcess ? t.cpu[r] : t.alone[r];
}

// Real-time factor of a render: music seconds per processor second.
double factor(const Tally& t, int r, Measure m) {
    const double s = seconds(t, r, m);
    return s > 0 ? (isOurs[r] ? t.musicOurs : t.musicXmp) / s : 0;
}

// How many times as fast as libxmp's render b ours a is (above 1: faster).
double ratio(const Tally& t, int a, int b, Measure m) {
    const double x = factor(t, b, m);
    return x > 0 ? factor(t, a, m) / x : 0;
}

void add(Tally& t, double musicOurs, double musicXmp, const ChildRun (&runs)[renderCount],
         const Startup& startup) {
    ++t.files;
    t.musicOurs += musicOurs;
    t.musicXmp += musicXmp;
    for (int r = 0; r < renderCount; ++r) {
        t.cpu[r] += runs[r].cpuSeconds;
        // A render never costs less than a tenth of a millisecond, whatever the noise.
        t.alone[r] += std::max(runs[r].cpuSeconds - startup.of(r), 1e-4);
        t.peakKiB[r] = std::max(t.peakKiB[r], runs[r].peakKiB);
    }
}

long peakOurs(const Tally& t) {
    return std::max({t.peakKiB[oursFloat], t.peakKiB[oursInteger], t.peakKiB[oursInterp]});
}
long peakXmp(const Tally& t) {
    return std::max(t.peakKiB[xmpNearest], t.peakKiB[xmpLinear]);
}

void header(const char* first, Measure m) {
    if (m == wholeProcess) {
        std::printf("%-36s %7s | %7s %7s %7s %6s %6s | %7s %7s %6s | %6s %6s\n", first, "music_s", "flt_ms",
                    "int_ms", "xnn_ms", "flt/x", "int/x", "itp_ms", "xlin_ms", "itp/x", "MiB", "MiB_x");
    } else {
        std::printf("%-36s %7s | %7s %7s %7s %6s %6s | %7s %7s %6s\n", first, "music_s", "float", "integer",
                    "xmp_nn", "flt/x", "int/x", "interp", "xmp_lin", "itp/x");
    }
}

// One line: processor milliseconds of the whole processes, or real-time factors of the renders
// alone, with the ratios to libxmp.
void printTally(const char* name, const Tally& t, Measure m) {
    if (m == wholeProcess) {
        const auto ms = [&](int r) { return t.cpu[r] * 1000; };
        std::printf("%-36s %7.1f | %7.1f %7.1f %7.1f %6.2f %6.2f | %7.1f %7.1f %6.2f | %6.1f %6.1f\n", name,
                    t.musicOurs, ms(oursFloat), ms(oursInteger), ms(xmpNearest),
                    ratio(t, oursFloat, xmpNearest, m), ratio(t, oursInteger, xmpNearest, m), ms(oursInterp),
                    ms(xmpLinear), ratio(t, oursInterp, xmpLinear, m), peakOurs(t) / 1024.0,
                    peakXmp(t) / 1024.0);
    } else {
        std::printf("%-36s %7.1f | %6.0fx %6.0fx %6.0fx %6.2f %6.2f | %6.0fx %6.0fx %6.2f\n", name,
                    t.musicOurs, factor(t, oursFloat, m), factor(t, oursInteger, m), factor(t, xmpNearest, m),
                    ratio(t, oursFloat, xmpNearest, m), ratio(t, oursInteger, xmpNearest, m),
                    factor(t, oursInterp, m), factor(t, xmpLinear, m), ratio(t, oursInterp, xmpLinear, m));
    }
}

struct FileTally {
    std::string name;
    Tally tally;
};

// The smallest, middle and aggregate ratio of one pairing over the files, with the file of the
// smallest, and how many files reach goal.
void summarise(const char* what, const std::vector<FileTally>& files, const Tally& all, int a, int b,
               Measure m, double goal) {
    if (files.empty()) return;
    std::vector<std::pair<double, std::string>> ratios;
    for (const FileTally& f : files)
        ratios.emplace_back(ratio(f.tally, a, b, m), f.name);
    std::sort(ratios.begin(), ratios.end());
    const auto reached =
        std::count_if(ratios.begin(), ratios.end(), [goal](const auto& r) { return r.first >= goal; });
    std::printf(
        "%-20s smallest %5.2f (%s)  median %5.2f  aggregate %5.2f  files at %.1fx or more: %td of %zu\n",
        what, ratios.front().first, ratios.front().second.c_str(), ratios[ratios.size() / 2].first,
        ratio(all, a, b, m), goal, reached, ratios.size());
}

// The table of the formats and all files, and the ratios' summary.
void printTotals(const std::vector<FileTally>& files, const std::map<std::string, Tally>& perFormat,
                 const Tally& all, Measure m) {
    std::printf("\n");
    header("format", m);
    for (const std::string& format : formatOrder())
        if (perFormat.count(format)) printTally(format.c_str(), perFormat.at(format), m);
    printTally("all", all, m);
    std::printf("\nPer-file ratios to libxmp (above 1: ours is faster):\n");
    summarise("float / nearest", files, all, oursFloat, xmpNearest, m, 1.5);
    summarise("integer / nearest", files, all, oursInteger, xmpNearest, m, 1.5);
    summarise("interp / linear", files, all, oursInterp, xmpLinear, m, 1.5);
}

// Peak memory of our renders against libxmp's, file by file.
void summariseMemory(const std::vector<FileTally>& files) {
    int above = 0;
    double worst = 0;
    std::string worstName;
    for (const FileTally& f : files) {
        const double excess = (peakOurs(f.tally) - peakXmp(f.tally)) / 1024.0;
        if (excess > 0) ++above;
        if (worstName.empty() || excess > worst) {
            worst = excess;
            worstName = f.name;
        }
    }
    std::printf("Peak memory: ours above libxmp's in %d of %zu files; largest difference (ours - libxmp) "
                "%+.2f MiB (%s)\n",
                above, files.size(), worst, worstName.c_str());
}

// The cheapest of runs of a command that starts and ends with nothing to do.
double startupOf(const std::vector<std::string>& command) {
    const ChildRun run = runCheapest(command, startupRepeat);
    return run.ok ? run.cpuSeconds : 0;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "--render") {
        if (args.size() == 1) return 0; // the start-up alone
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
    // The spawned renderer is this program itself, found through /proc/self/exe.
    std::string own = "/proc/self/exe";
    if (char* path = realpath(own.c_str(), nullptr)) {
        own = path;
        std::free(path);
    }
    const std::string player = args[0];
    const std::vector<std::string> files = corpusFiles(args[1]);
    Startup startup;
    startup.ours = startupOf({player, "--version"});
    startup.xmp = startupOf({own, "--render"});
    std::printf("virezplay against libxmp %s, side by side, each render a process of its own; %s\n",
                xmp_version,
                repeat > 1 ? ("cheapest of " + std::to_string(repeat) + " runs").c_str() : "one run each");
    std::printf("Start-up and exit with nothing to do (cheapest of %d): virezplay %.2f ms, the libxmp "
                "program %.2f ms\n\n",
                startupRepeat, startup.ours * 1000, startup.xmp * 1000);
    std::map<std::string, Tally> perFormat;
    Tally all;
    std::vector<FileTally> tallies;
    std::printf(
        "== Whole process, from start to exit: processor milliseconds, ratios of the real-time factors\n"
        "   (ours / libxmp; above 1 is faster) and peak memory\n\n");
    header("file", wholeProcess);
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
        FileTally one{leafName(file), {}};
        add(one.tally, musicOurs, musicXmp, runs, startup);
        printTally(one.name.c_str(), one.tally, wholeProcess);
        std::fflush(stdout);
        tallies.push_back(one);
        add(perFormat[formatOf(file)], musicOurs, musicXmp, runs, startup);
        add(all, musicOurs, musicXmp, runs, startup);
    }
    printTotals(tallies, perFormat, all, wholeProcess);
    summariseMemory(tallies);
    std::printf("\n== The render alone (the whole process less its program's start-up and exit): real-time\n"
                "   factors (music seconds per processor second) and their ratios\n\n");
    header("file", renderAlone);
    for (const FileTally& f : tallies)
        printTally(f.name.c_str(), f.tally, renderAlone);
    printTotals(tallies, perFormat, all, renderAlone);
    std::fflush(stdout);
    return 0;
}
