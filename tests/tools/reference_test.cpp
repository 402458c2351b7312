// Every song of the module corpus, in each of the four formats, rendered with virezplay and set
// against what a widely used player made of it (../shared/modules/reference): the same rows in
// the same order, the same length, and (with the shared soundalike tool) the same loudness and
// brightness over time. Songs that rightly differ are named below with the rule that explains
// them.
#include "virezplay_fixture.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

using namespace virezplay;

namespace {

const fs::path corpus = MORVA_MODULES_DIR;
const fs::path reference = corpus / "reference";

constexpr double rate = 44100;
// The reference renders carry on for 4410 frames of silence after a song's end.
constexpr double referenceTail = 0.1;
// The reference's timeline names the row playing at every 1024th frame: a shorter row may
// fall between two of its lines.
constexpr double referenceStep = 1024 / rate;

// A song that rightly differs from the reference, and why.
struct Reading {
    const char* file;
    const char* rule;
};

const Reading* readingOf(const std::vector<Reading>& readings, const std::string& file) {
    for (const Reading& r : readings)
        if (file == r.file) return &r;
    return nullptr;
}

constexpr const char* missingLastPattern =
    "its last order entry names a pattern the file does not hold: the loader makes it 64 empty rows, "
    "as the format's own tracker plays it, and the song ends after them; the reference ends the song there";

constexpr const char* surroundOnly =
    "every channel is set to surround: the reference mixes surround with one side inverted, so the "
    "mono mix its features are taken from is silent, while this player plays such channels in the "
    "middle; the loudness of the two cannot be compared";

// One format's songs and what sets some of them apart.
struct Format {
    const char* extension;
    const char* name; // as --info says it
    std::vector<Reading> lengths;
    std::vector<Reading> sounds; // left out of the medians
};

const Format extendedModule{".xm",
                            "XM",
                            {{"gemdropx__2force.xm", missingLastPattern},
                             {"gemdropx__hr_suds.xm", missingLastPattern},
                             {"njam-data__satisfy.xm", missingLastPattern},
                             {"rafkill-data__song2.xm", missingLastPattern},
                             {"rafkill-data__song4.xm", missingLastPattern}},
                            {}};
const Format screamTracker{".s3m", "S3M", {}, {}};
const Format impulseTracker{
    ".it",
    "IT",
    {},
    {{"pingus-data__rough_journey.it", surroundOnly}, {"pingus-data__success_2.it", surroundOnly}}};
const Format protracker{".mod", "MOD", {}, {}};

// Each line of a timeline: seconds, order and row, consecutive repeats dropped (the reference's
// timeline is sampled every 1024 frames, so it names most rows more than once).
struct TimelineRow {
    double seconds;
    int order, row;
    bool operator==(const TimelineRow& o) const { return order == o.order && row == o.row; }
};

std::vector<TimelineRow> rowsOf(const std::string& text) {
    std::vector<TimelineRow> rows;
    std::istringstream in(text);
    TimelineRow r{};
    while (in >> r.seconds >> r.order >> r.row)
        if (rows.empty() || !(rows.back() == r)) rows.push_back(r);
    return rows;
}

// Walks two timelines as far as they name the same rows in the same order and says how many
// rows of each it passed. A row of ours that the reference's timeline lacks is passed over when
// it was too short for the reference's sampling to see.
std::pair<std::size_t, std::size_t> commonRows(const std::vector<TimelineRow>& ours,
                                               const std::vector<TimelineRow>& theirs) {
    std::size_t i = 0, j = 0;
    while (i < ours.size() && j < theirs.size()) {
        if (ours[i] == theirs[j]) {
            ++i, ++j;
        } else if (i + 1 < ours.size() && ours[i + 1].seconds - ours[i].seconds < referenceStep) {
            ++i;
        } else {
            break;
        }
    }
    return {i, j};
}

// Seconds of each song of the reference, from its summary.
std::map<std::string, double> referenceSeconds() {
    std::map<std::string, double> seconds;
    std::istringstream in(readText(reference / "summary.tsv"));
    std::string line;
    std::getline(in, line); // header
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string module, engine;
        long long frames = 0;
        double s = 0;
        if (fields >> module >> engine >> frames >> s) seconds[module] = s;
    }
    return seconds;
}

// The mean loudness of a feature track (first line "# seconds N", then loudness and centroid).
double meanLoudness(const fs::path& features) {
    std::istringstream in(readText(features));
    std::string header;
    std::getline(in, header);
    double loudness = 0, centroid = 0, sum = 0;
    int count = 0;
    while (in >> loudness >> centroid) {
        sum += loudness;
        ++count;
    }
    return count ? sum / count : 0;
}

struct Likeness {
    double loudness = 0, centroid = 0;
};

// soundalike's verdict on a rendering against the reference's feature track.
bool compareSound(const fs::path& folder, const fs::path& wav, const fs::path& features, Likeness* out) {
#ifdef MORVA_SOUNDALIKE
    const std::string command = std::string(MORVA_SOUNDALIKE) + " compare " + wav.string() + " " +
                                features.string() + " > " + (folder / "likeness").string();
    if (std::system(command.c_str()) != 0) return false;
    std::istringstream in(readText(folder / "likeness"));
    double ours = 0, theirs = 0;
    return static_cast<bool>(in >> ours >> theirs >> out->loudness >> out->centroid);
#else
    (void)folder, (void)wav, (void)features, (void)out;
    return false;
#endif
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

class ReferenceComparison : public Virezplay {
  protected:
    void compareFormat(const Format& format);
};

void ReferenceComparison::compareFormat(const Format& format) {
#ifdef MORVA_SANITIZED
    // Minutes of rendering under the sanitizers for a measurement of sound; the
    // corpus files are loaded and played under them by the loader and player tests.
    GTEST_SKIP() << "the comparison with the reference measures sound: it runs in the normal build";
#endif
    std::vector<std::string> songs;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(corpus, error))
        if (entry.path().extension() == format.extension) songs.push_back(entry.path().filename().string());
    if (songs.empty() || !fs::exists(reference / "summary.tsv"))
        GTEST_SKIP() << "no module corpus with reference renders at " << corpus;
    std::sort(songs.begin(), songs.end());
    const std::map<std::string, double> referenceLength = referenceSeconds();

    int within = 0, withinUnexplained = 0, unexplained = 0;
    std::vector<double> loudness, centroid;
    std::vector<std::pair<double, std::string>> likeness;
    for (const std::string& song : songs) {
        SCOPED_TRACE(song);
        const fs::path wav = folder / "song.wav", timeline = folder / "song.tl";
        // The same two scratch files for every song: each render replaces the last one's.
        const Result r = run(folder, {"--force", "--wav", wav.string(), "--timeline", timeline.string(),
                                      (corpus / song).string()});
        ASSERT_EQ(r.status, 0) << r.err;
        ASSERT_EQ(referenceLength.count(song), 1u) << "the reference summary has no line for it";
        const std::size_t frames = readWave(wav).frames();
        const double ours = static_cast<double>(frames) / rate;
        // --info names the format and finds the same length without rendering, as the first of
        // the subsongs it lists; the others are songs of their own, listed with theirs.
        const auto info = fields(run(folder, {"--info", (corpus / song).string()}).out);
        EXPECT_EQ(info.count("format") ? info.at("format") : "", format.name);
        const long long millis = static_cast<long long>(frames * 1000 / 44100);
        char rendered[32];
        std::snprintf(rendered, sizeof rendered, "%lld:%02lld.%03lld", millis / 60000, millis / 1000 % 60, millis % 1000);
        EXPECT_EQ(info.count("duration") ? info.at("duration") : "", rendered);
        EXPECT_EQ(info.count("subsong 1") ? info.at("subsong 1") : "", std::string("order 0, ") + rendered);
        const int subsongs = info.count("subsongs") ? std::stoi(info.at("subsongs")) : 0;
        EXPECT_GE(subsongs, 1);
        EXPECT_EQ(info.count("subsong " + std::to_string(subsongs)), 1u);
        if (subsongs > 1) std::cout << song << ": " << subsongs << " subsongs\n";

        const double theirs = referenceLength.at(song) - referenceTail;
        const bool close = std::abs(ours - theirs) <= 0.01 * theirs;
        const Reading* reading = readingOf(format.lengths, song);
        within += close;
        if (!reading) {
            ++unexplained;
            withinUnexplained += close;
        }
        // A song named for its length must really differ, so that the list stays true.
        EXPECT_TRUE(close || reading) << ours << " s against " << theirs << " s";
        EXPECT_FALSE(close && reading)
            << "named as differing, but agrees: " << ours << " s against " << theirs << " s";

        // The same rows in the same order; the reference's last line names the row it wraps to.
        // A song that rightly ends elsewhere agrees as far as the shorter of the two goes.
        std::vector<TimelineRow> expected = rowsOf(readText(reference / (song + ".openmpt.tl")));
        if (!expected.empty()) expected.pop_back();
        const std::vector<TimelineRow> got = rowsOf(readText(timeline));
        const auto [oursPassed, theirsPassed] = commonRows(got, expected);
        if (reading)
            EXPECT_TRUE(oursPassed == got.size() || theirsPassed == expected.size())
                << "rows part at " << oursPassed << " of " << got.size();
        else
            EXPECT_TRUE(oursPassed == got.size() && theirsPassed == expected.size())
                << got.size() << " rows against " << expected.size() << ", parting at " << oursPassed;

        const fs::path features = reference / (song + ".openmpt.feat");
        Likeness alike;
        if (compareSound(folder, wav, features, &alike)) {
            std::cout << song << ": " << ours << " s (reference " << theirs << " s), loudness "
                      << alike.loudness << ", centroid " << alike.centroid << "\n";
            if (const Reading* apart = readingOf(format.sounds, song)) {
                // The rule holds: the reference's mono mix is silent, ours is not.
                EXPECT_LT(meanLoudness(features), 1e-3) << apart->rule;
            } else {
                loudness.push_back(alike.loudness);
                centroid.push_back(alike.centroid);
                likeness.emplace_back(alike.loudness, song);
            }
        }
        fs::remove(wav);
    }
    std::cout << format.name << ": " << within << " of " << songs.size()
              << " songs within 1% of the reference's length; " << withinUnexplained << " of the "
              << unexplained << " that no rule of reading sets apart\n";
    EXPECT_EQ(withinUnexplained, unexplained);
    if (likeness.empty()) {
        std::cout << "soundalike is not built (../shared/tools/soundalike.cpp missing): sound not compared\n";
        return;
    }
    std::sort(likeness.begin(), likeness.end());
    std::cout << format.name << ": median loudness correlation " << median(loudness)
              << ", median centroid correlation " << median(centroid) << "; lowest loudness:";
    for (std::size_t i = 0; i < std::min<std::size_t>(5, likeness.size()); ++i)
        std::cout << " " << likeness[i].second << " " << likeness[i].first;
    std::cout << "\n";
    EXPECT_EQ(loudness.size() + format.sounds.size(), songs.size());
    EXPECT_GE(median(loudness), 0.9);
    EXPECT_GE(median(centroid), 0.8);
}

} // namespace

TEST_F(ReferenceComparison, ExtendedModulesAgreeWithTheReferencePlayer) {
    compareFormat(extendedModule);
}

TEST_F(ReferenceComparison, ScreamTracker3ModulesAgreeWithTheReferencePlayer) {
    compareFormat(screamTracker);
}

TEST_F(ReferenceComparison, ImpulseTrackerModulesAgreeWithTheReferencePlayer) {
    compareFormat(impulseTracker);
}

TEST_F(ReferenceComparison, ProtrackerModulesAgreeWithTheReferencePlayer) {
    compareFormat(protracker);
}
