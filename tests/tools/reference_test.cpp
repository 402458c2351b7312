// Every Extended Module song of the module corpus rendered with virezplay and set against what a
// widely used player made of it (../shared/modules/reference): the same rows in the same order,
// the same length, and (with the shared soundalike tool) the same loudness and brightness over
// time. Songs that rightly differ are named below with the rule that explains them.
#include "virezplay_fixture.h"

#include <algorithm>
#include <cstdio>
#include <iostream>

using namespace virezplay;

namespace {

const fs::path corpus = MORVA_MODULES_DIR;

// A song whose length rightly differs from the reference's, and why.
struct Reading {
    const char* file;
    const char* rule;
};

constexpr const char* missingLastPattern =
    "its last order entry names a pattern the file does not hold: the loader makes it 64 empty rows, "
    "as the format's own tracker plays it, and the song ends after them; the reference ends the song there";

constexpr Reading lengthReadings[] = {
    {"gemdropx__2force.xm", missingLastPattern},    {"gemdropx__hr_suds.xm", missingLastPattern},
    {"njam-data__satisfy.xm", missingLastPattern},  {"rafkill-data__song2.xm", missingLastPattern},
    {"rafkill-data__song4.xm", missingLastPattern},
};

const Reading* lengthReading(const std::string& file) {
    for (const Reading& r : lengthReadings)
        if (file == r.file) return &r;
    return nullptr;
}

// The order and row of each line of a timeline, consecutive repeats dropped (the reference's
// timeline is sampled every 1024 frames, so it names most rows more than once).
std::vector<std::pair<int, int>> rowsOf(const std::string& text) {
    std::vector<std::pair<int, int>> rows;
    std::istringstream in(text);
    double seconds = 0;
    int order = 0, row = 0;
    while (in >> seconds >> order >> row)
        if (rows.empty() || rows.back() != std::make_pair(order, row)) rows.emplace_back(order, row);
    return rows;
}

// Seconds of each song of the reference, from its summary.
std::map<std::string, double> referenceSeconds() {
    std::map<std::string, double> seconds;
    std::istringstream in(readText(corpus / "reference" / "summary.tsv"));
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

} // namespace

TEST_F(Virezplay, ExtendedModulesAgreeWithTheReferencePlayer) {
    std::vector<std::string> songs;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(corpus, error))
        if (entry.path().extension() == ".xm") songs.push_back(entry.path().filename().string());
    if (songs.empty() || !fs::exists(corpus / "reference" / "summary.tsv"))
        GTEST_SKIP() << "no module corpus with reference renders at " << corpus;
    std::sort(songs.begin(), songs.end());
    const std::map<std::string, double> reference = referenceSeconds();

    int within = 0, withinUnexplained = 0, unexplained = 0;
    std::vector<double> loudness, centroid;
    std::vector<std::pair<double, std::string>> likeness;
    for (const std::string& song : songs) {
        SCOPED_TRACE(song);
        const fs::path wav = folder / "song.wav", timeline = folder / "song.tl";
        const Result r =
            run(folder, {"--wav", wav.string(), "--timeline", timeline.string(), (corpus / song).string()});
        ASSERT_EQ(r.status, 0) << r.err;
        ASSERT_EQ(reference.count(song), 1u) << "the reference summary has no line for it";
        const double ours = static_cast<double>(readWave(wav).frames()) / 44100;
        // --info finds the same length without rendering.
        char rendered[32];
        std::snprintf(rendered, sizeof rendered, "%.3f", ours);
        EXPECT_EQ(fields(run(folder, {"--info", (corpus / song).string()}).out)["duration"], rendered);
        const double theirs = reference.at(song);
        const bool close = std::abs(ours - theirs) <= 0.01 * theirs;
        const Reading* reading = lengthReading(song);
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
        std::vector<std::pair<int, int>> expected =
            rowsOf(readText(corpus / "reference" / (song + ".openmpt.tl")));
        if (!expected.empty()) expected.pop_back();
        const std::vector<std::pair<int, int>> got = rowsOf(readText(timeline));
        if (reading) {
            ASSERT_GE(got.size(), expected.size());
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), got.begin()));
        } else {
            EXPECT_TRUE(got == expected) << got.size() << " rows against " << expected.size();
        }

        Likeness alike;
        if (compareSound(folder, wav, corpus / "reference" / (song + ".openmpt.feat"), &alike)) {
            loudness.push_back(alike.loudness);
            centroid.push_back(alike.centroid);
            likeness.emplace_back(alike.loudness, song);
            std::cout << song << ": " << ours << " s (reference " << theirs << " s), loudness "
                      << alike.loudness << ", centroid " << alike.centroid << "\n";
        }
        fs::remove(wav);
    }
    std::cout << within << " of " << songs.size() << " songs within 1% of the reference's length; "
              << withinUnexplained << " of the " << unexplained << " that no rule of reading sets apart\n";
    EXPECT_GE(withinUnexplained, unexplained * 0.95);
    if (loudness.empty()) {
        std::cout << "soundalike is not built (../shared/tools/soundalike.cpp missing): sound not compared\n";
        return;
    }
    std::sort(likeness.begin(), likeness.end());
    std::cout << "median loudness correlation " << median(loudness) << ", median centroid correlation "
              << median(centroid) << "; lowest loudness:";
    for (std::size_t i = 0; i < std::min<std::size_t>(5, likeness.size()); ++i)
        std::cout << " " << likeness[i].second << " " << likeness[i].first;
    std::cout << "\n";
    EXPECT_EQ(loudness.size(), songs.size());
    EXPECT_GE(median(loudness), 0.9);
    EXPECT_GE(median(centroid), 0.8);
}
