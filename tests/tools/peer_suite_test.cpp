// The peer suite (../shared/modules/peer-suite): small test modules, each made to show one
// playback rule of one tracker, with what two widely used players made of them. Where the two
// agree with each other the file is clear evidence of the rule, and this player must agree with
// them too: the same length (within 1%, or 0.05 s for the shortest files) and the same sound
// against the closer of the two. Sound is compared with the shared soundalike tool (loudness and
// brightness over time), or with channelcheck where a mono feature track says little: test
// modules whose channels must cancel (both players' mono mix is silent, so ours must be), and
// renderings under half a second (too few windows for a correlation: their levels are compared
// window by window). Files this player still plays otherwise are named below with the rule.
#include "virezplay_fixture.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <set>

using namespace virezplay;

namespace {

const fs::path suite = fs::path(MORVA_MODULES_DIR) / "peer-suite";
const fs::path reference = suite / "reference";

constexpr double rate = 44100;
// One of the two players (openmpt) renders 0.1 s of silence after a song's end.
constexpr double openmptTail = 0.1;
// Durations agree within 1%, or within this for the shortest files.
constexpr double shortestTolerance = 0.05;
// Under this, a rendering has too few feature windows for a correlation.
constexpr double shortSong = 0.5;
// What soundalike must find against the closer player.
constexpr double minLoudness = 0.9, minCentroid = 0.8;
// A mono mix whose loudest window stays below this (dBFS) is silent: the channels cancel.
constexpr double silentDb = -50;
// Channels playing 8-bit samples that differ by one step cancel no further than this (dBFS): one
// step of 256 at full volume. The players leave that remainder too, each at its own mixing level:
// ours may reach it where its loudness follows theirs window by window.
constexpr double oneSampleStepDb = -48;
// Renderings too short to correlate: their levels may lie this far apart on average (dB).
constexpr double shortLevelApart = 3;
// A left channel against the recording on the right of what it must sound like: their levels may
// lie this far apart on average (dB, at one overall level), their brightness this far (relative).
constexpr double sidesLevelApart = 3, sidesBrightnessApart = 0.1;

// Test modules whose right channel plays a recording of what the left must sound like. Their mono
// mix says little: it adds the two sides, whose phases the player's tick lengths (an even number
// of frames) move by a millisecond or two against the recording's; so the left is held against
// the right instead.
const std::set<std::string> sideBySide = {
    "om_filter-nna.it", // the right is the left's notes through the resonant filter ("FLT")
};

// A file this player still plays otherwise than both players: the rule it shows, and why this
// player does not follow it.
struct Difference {
    const char* file;
    const char* rule;
    const char* reason;
};

struct Format {
    const char* extension; // lower case
    std::vector<Difference> differences;
};

const Format extendedModule{".xm", {}};
const Format screamTracker{".s3m", {}};
const Format impulseTracker{".it", {}};
const Format protracker{".mod", {}};

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

// The lines of a tab-separated table after its header, split into fields.
std::vector<std::vector<std::string>> table(const fs::path& file) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(readText(file));
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::istringstream cells(line);
        std::string cell;
        while (std::getline(cells, cell, '\t'))
            fields.push_back(cell);
        rows.push_back(fields);
    }
    return rows;
}

// What the two players made of one file.
struct Peers {
    bool agree = false;
    std::vector<double> seconds; // each player's length of the song (a refused file has none)
    std::vector<std::string> engines;
};

std::map<std::string, Peers> readPeers() {
    std::map<std::string, Peers> peers;
    for (const auto& row : table(reference / "agree.tsv"))
        if (row.size() >= 2) peers[row[0]].agree = row[1] == "1";
    for (const auto& row : table(reference / "summary.tsv")) {
        if (row.size() < 4 || row[3] == "FAIL") continue;
        double seconds = std::atof(row[3].c_str());
        if (row[1] == "openmpt") seconds -= openmptTail;
        peers[row[0]].seconds.push_back(seconds);
        peers[row[0]].engines.push_back(row[1]);
    }
    return peers;
}

// Runs one of the measuring tools and reads the numbers it printed.
std::vector<double> measure(const fs::path& folder, const std::string& command) {
    const fs::path out = folder / "measured";
    if (std::system((command + " > " + out.string()).c_str()) != 0) return {};
    std::istringstream in(readText(out));
    std::vector<double> numbers;
    double value = 0;
    while (in >> value)
        numbers.push_back(value);
    return numbers;
}

// The loudest window of a feature track, in dBFS.
double loudestFeature(const fs::path& features) {
    std::istringstream in(readText(features));
    std::string header;
    std::getline(in, header);
    double loudness = 0, centroid = 0, loudest = 0;
    while (in >> loudness >> centroid)
        loudest = std::max(loudest, loudness);
    return loudest > 0 ? 20 * std::log10(loudest) : -200;
}

// A feature track stretched to another length, window by window (the nearest one). The player
// keeps a tick an even number of frames long, up to one frame longer than the other players'
// ticks: over minutes the same rows drift further apart than soundalike looks for them, so a
// rendering is compared in the song's own time, its track stretched to the other player's length.
std::string stretchFeatures(const std::string& track, double seconds) {
    std::istringstream in(track);
    std::string header, line;
    std::getline(in, header);
    double length = 0;
    if (std::sscanf(header.c_str(), "# seconds %lf", &length) != 1 || length <= 0) return track;
    std::vector<std::string> windows;
    while (std::getline(in, line))
        if (!line.empty()) windows.push_back(line);
    std::ostringstream out;
    out << "# seconds " << seconds << "\n";
    const auto count = static_cast<std::size_t>(static_cast<double>(windows.size()) * seconds / length);
    for (std::size_t i = 0; i < count && !windows.empty(); i++)
        out << windows[std::min(windows.size() - 1,
                                static_cast<std::size_t>(static_cast<double>(i) * length / seconds + 0.5))]
            << "\n";
    return out.str();
}

// How this player's rendering of a file compares with the players'.
struct Verdict {
    bool length = false, sound = false;
    std::string detail;
};

class PeerSuite : public Virezplay {
  protected:
    void compareFormat(const Format& format);
    Verdict compareSound(const std::string& file, const fs::path& wav, const Peers& peers);
};

Verdict PeerSuite::compareSound(const std::string& file, const fs::path& wav, const Peers& peers) {
    Verdict v;
#if defined(MORVA_SOUNDALIKE) && defined(MORVA_CHANNELCHECK)
    std::ostringstream detail;
    std::vector<fs::path> features;
    bool silent = true;
    for (const std::string& engine : peers.engines) {
        features.push_back(reference / (file + "." + engine + ".feat"));
        silent = silent && loudestFeature(features.back()) < silentDb;
    }
    const double shortest = *std::min_element(peers.seconds.begin(), peers.seconds.end());
    if (sideBySide.count(file) != 0) {
        const std::vector<double> apart = measure(folder, std::string(MORVA_CHANNELCHECK) + " sides " + wav.string());
        v.sound = apart.size() == 4 && apart[2] <= sidesLevelApart && apart[3] <= sidesBrightnessApart;
        detail << "left against the right's recording: levels " << (apart.size() == 4 ? apart[2] : 0)
               << " dB apart, brightness " << (apart.size() == 4 ? apart[3] : 0) << " apart";
    } else if (silent) {
        // The players' mono mix is silent: the channels cancel, and ours must too.
        const std::vector<double> levels = measure(folder, std::string(MORVA_CHANNELCHECK) + " levels " + wav.string());
        const double mono = levels.size() == 5 ? levels[3] : 0;
        v.sound = levels.size() == 5 && mono < silentDb;
        detail << "mono mix at " << mono << " dBFS where both players' is silent";
        if (levels.size() == 5 && !v.sound && mono <= oneSampleStepDb) {
            // What is left may be the samples' own one-step difference: then it comes and goes
            // where the players' remainder does.
            for (const fs::path& f : features) {
                const std::vector<double> alike =
                    measure(folder, std::string(MORVA_SOUNDALIKE) + " compare " + wav.string() + " " + f.string());
                if (alike.size() == 4) {
                    v.sound = v.sound || alike[2] >= minLoudness;
                    detail << "; the remainder's loudness follows theirs at " << alike[2];
                }
            }
        }
    } else if (shortest < shortSong) {
        for (const fs::path& f : features) {
            const std::vector<double> apart =
                measure(folder, std::string(MORVA_CHANNELCHECK) + " compare " + wav.string() + " " + f.string());
            if (apart.size() == 4) {
                v.sound = v.sound || apart[3] <= shortLevelApart;
                detail << "levels " << apart[3] << " dB apart on average; ";
            }
        }
    } else {
        const fs::path ours = folder / "song.feat", stretched = folder / "stretched.feat";
        if (std::system((std::string(MORVA_SOUNDALIKE) + " features " + wav.string() + " > " + ours.string()).c_str()) != 0)
            return v;
        const std::string track = readText(ours);
        for (std::size_t p = 0; p < features.size(); p++) {
            const fs::path& f = features[p];
            std::ofstream(stretched) << stretchFeatures(track, peers.seconds[p]);
            const std::vector<double> alike = measure(
                folder, std::string(MORVA_SOUNDALIKE) + " compare " + stretched.string() + " " + f.string());
            if (alike.size() == 4) {
                v.sound = v.sound || (alike[2] >= minLoudness && alike[3] >= minCentroid);
                detail << "loudness " << alike[2] << " centroid " << alike[3] << "; ";
            }
        }
    }
    v.detail = detail.str();
#else
    (void)file, (void)wav, (void)peers;
    v.sound = true;
    v.detail = "sound not compared: the measuring tools are not built";
#endif
    return v;
}

void PeerSuite::compareFormat(const Format& format) {
#ifdef MORVA_SANITIZED
    // Renders of a whole suite for a measurement of sound; the player's rules have tests of their own.
    GTEST_SKIP() << "the peer suite measures sound: it runs in the normal build";
#endif
    if (!fs::exists(reference / "agree.tsv") || !fs::exists(reference / "summary.tsv"))
        GTEST_SKIP() << "no peer suite at " << suite;
    const std::map<std::string, Peers> peers = readPeers();
    int agreeing = 0, matching = 0;
    for (const auto& [file, peer] : peers) {
        if (!peer.agree || peer.seconds.empty() || lower(fs::path(file).extension().string()) != format.extension)
            continue;
        SCOPED_TRACE(file);
        ++agreeing;
        const fs::path wav = folder / "song.wav";
        const Result r = run(folder, {"--force", "--wav", wav.string(), (suite / file).string()});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::size_t frames = readWave(wav).frames();
        const double ours = static_cast<double>(frames) / rate;
        // --info finds the same length without rendering (in whole milliseconds).
        const long long millis = static_cast<long long>(frames * 1000 / 44100);
        char rendered[32];
        std::snprintf(rendered, sizeof rendered, "%lld:%02lld.%03lld", millis / 60000, millis / 1000 % 60, millis % 1000);
        EXPECT_EQ(fields(run(folder, {"--info", (suite / file).string()}).out)["duration"], rendered);

        Verdict v;
        for (double theirs : peer.seconds)
            v.length = v.length || std::abs(ours - theirs) <= std::max(0.01 * theirs, shortestTolerance);
        const Verdict sound = compareSound(file, wav, peer);
        v.sound = sound.sound;
        const bool alike = v.length && v.sound;
        matching += alike;
        const auto named = std::find_if(format.differences.begin(), format.differences.end(),
                                        [&](const Difference& d) { return file == d.file; });
        std::ostringstream seconds;
        for (double theirs : peer.seconds)
            seconds << " " << theirs;
        std::cout << file << ": " << ours << " s (players" << seconds.str() << "); " << sound.detail
                  << (alike ? "" : " DIFFERS") << "\n";
        if (named == format.differences.end()) {
            EXPECT_TRUE(v.length) << ours << " s against the players'" << seconds.str();
            EXPECT_TRUE(v.sound) << sound.detail;
        } else {
            // A file named as differing must really differ, so that the list stays true.
            EXPECT_FALSE(alike) << "named as differing (" << named->rule << ": " << named->reason << "), but agrees";
        }
        fs::remove(wav);
    }
    if (agreeing == 0) GTEST_SKIP() << "the peer suite has no " << format.extension << " file the players agree on";
    std::cout << format.extension << ": " << matching << " of the " << agreeing
              << " files the two players agree on play alike here\n";
}

} // namespace

TEST_F(PeerSuite, ExtendedModulesPlayAsTheTrackersDo) {
    compareFormat(extendedModule);
}

TEST_F(PeerSuite, ScreamTracker3ModulesPlayAsTheTrackersDo) {
    compareFormat(screamTracker);
}

TEST_F(PeerSuite, ImpulseTrackerModulesPlayAsTheTrackersDo) {
    compareFormat(impulseTracker);
}

TEST_F(PeerSuite, ProtrackerModulesPlayAsTheTrackersDo) {
    compareFormat(protracker);
}
