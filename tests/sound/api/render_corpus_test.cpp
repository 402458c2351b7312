// Exact positioning over the whole module corpus: every song rendered from its start, then
// sought to several places (times, the starts of orders, rows inside patterns, by frame and by
// order and row), forward and back; the samples after each place must be those of the rendering
// from the start. Skipped when the corpus is not there.
#include "sound/api/render.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Frames compared after each place (a quarter of a second), and the longest stretch of a song
// rendered (songs that do not end are taken this far).
constexpr int32_t compared = 11025;
constexpr int64_t longest = int64_t(12) * 60 * 44100;

std::vector<fs::path> corpus() {
    std::vector<fs::path> files;
    std::error_code error;
    for (const auto& e : fs::directory_iterator(MORVA_MODULES_DIR, error)) {
        const std::string ext = e.path().extension().string();
        if (e.is_regular_file() && (ext == ".xm" || ext == ".s3m" || ext == ".it" || ext == ".mod"))
            files.push_back(e.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

struct Row {
    int64_t frame;
    int32_t order, row;
};

void keepRow(void* user, int64_t frame, int32_t order, int32_t row) {
    static_cast<std::vector<Row>*>(user)->push_back({frame, order, row});
}

// Where to seek in a song: times spread over it, and rows it plays (by order and row).
struct Place {
    int64_t frame;
    int32_t order = -1, row = -1; // -1: seek by frame
};

std::vector<Place> placesIn(int64_t total, const std::vector<Row>& rows) {
    std::vector<Place> places;
    for (int64_t k : {5, 1, 3})
        places.push_back({total * k / 7});
    // An order's start and a row inside a pattern, from the second half and the first.
    const auto pick = [&](bool start, size_t from) {
        for (size_t i = from; i < rows.size(); ++i)
            if ((rows[i].row == 0) == start && (start || rows[i].row % 8 == 5)) {
                // The first time the song plays it is where a seek by order and row goes.
                const auto first = std::find_if(rows.begin(), rows.end(), [&](const Row& r) {
                    return r.order == rows[i].order && r.row == rows[i].row;
                });
                places.push_back({first->frame, first->order, first->row});
                return;
            }
    };
    pick(true, rows.size() / 2);
    pick(false, rows.size() / 5);
    pick(true, rows.size() / 8 + 1);
    pick(false, rows.size() * 3 / 4);
    return places;
}

struct Coverage {
    int files = 0, places = 0;
};

void checkSong(const fs::path& file, const SoundRenderSettings& settings, Coverage& coverage) {
    SCOPED_TRACE(file.filename().string());
    Module* module = sound_render_load_file(file.c_str(), nullptr);
    ASSERT_NE(module, nullptr) << sound_render_error_message(sound_render_last_error());
    SoundRender* render = sound_render_open(module, &settings);
    ASSERT_NE(render, nullptr) << sound_render_error_message(sound_render_last_error());
    std::vector<Row> rows;
    sound_render_set_row_callback(render, keepRow, &rows);
    const int32_t block = 8192;
    const size_t values = size_t(settings.channels); // values of a frame
    std::vector<int16_t> whole, buffer(size_t(block) * values);
    for (int32_t got = block; got == block && int64_t(whole.size() / values) < longest;) {
        got = sound_render_frames(render, buffer.data(), block);
        ASSERT_GE(got, 0);
        whole.insert(whole.end(), buffer.begin(), buffer.begin() + std::ptrdiff_t(values * size_t(got)));
    }
    sound_render_set_row_callback(render, nullptr, nullptr);
    const int64_t total = int64_t(whole.size() / values);
    ASSERT_GT(total, 0);
    ++coverage.files;
    std::vector<int16_t> part(size_t(compared) * values);
    for (const Place& place : placesIn(total, rows)) {
        if (place.order >= 0) {
            ASSERT_EQ(sound_render_set_position(render, place.order, place.row), 1)
                << "order " << place.order << " row " << place.row;
        } else {
            ASSERT_EQ(sound_render_seek(render, place.frame), 1);
        }
        SoundPosition at{};
        sound_render_get_position(render, &at);
        ASSERT_EQ(at.frame, place.frame) << "order " << place.order << " row " << place.row;
        const int32_t want = int32_t(std::min<int64_t>(compared, total - place.frame));
        const int32_t got = sound_render_frames(render, part.data(), want);
        ASSERT_EQ(got, want);
        for (size_t i = 0; i < values * size_t(got); ++i)
            ASSERT_EQ(part[i], whole[values * size_t(place.frame) + i])
                << "after a seek to frame " << place.frame << " (order " << place.order << " row " << place.row
                << "): frame " << place.frame + int64_t(i / values) << " differs";
        ++coverage.places;
    }
    sound_render_close(render);
    sound_render_free_module(module);
}

} // namespace

TEST(RenderCorpus, SeekingEqualsPlayingInEverySong) {
    std::vector<fs::path> files = corpus();
    if (files.empty()) GTEST_SKIP() << "no module corpus at " << MORVA_MODULES_DIR;
#ifdef MORVA_SANITIZED
    // Minutes under the sanitizers: every fifth song (all four formats) still walks every seek path
    // there; the whole corpus is compared in the normal build.
    std::vector<fs::path> some;
    for (size_t i = 0; i < files.size(); i += 5)
        some.push_back(files[i]);
    files = some;
#endif
    SoundRenderSettings settings;
    sound_render_default_settings(&settings);
    Coverage coverage;
    for (const fs::path& file : files) {
        checkSong(file, settings, coverage);
        if (HasFatalFailure()) return;
    }
    std::printf("seek equals play: %d files, %d places\n", coverage.files, coverage.places);
    EXPECT_EQ(coverage.files, int(files.size()));
}

// The other mixing families keep more state (volume ramps, fade-outs of cut notes, integer
// tables): one song of each format with each of them.
TEST(RenderCorpus, SeekingEqualsPlayingWithEveryMixingFamily) {
    std::vector<fs::path> files = corpus();
    if (files.empty()) GTEST_SKIP() << "no module corpus at " << MORVA_MODULES_DIR;
    std::vector<fs::path> chosen;
    for (const char* ext : {".xm", ".s3m", ".it", ".mod"}) {
        const auto found = std::find_if(files.begin(), files.end(), [&](const fs::path& f) { return f.extension() == ext; });
        if (found != files.end()) chosen.push_back(*found);
    }
    Coverage coverage;
    for (int family = 0; family < 3; ++family) {
        SoundRenderSettings settings;
        sound_render_default_settings(&settings);
        settings.interpolation = family == 1 ? SOUND_INTERPOLATION_LINEAR : family == 2 ? SOUND_INTERPOLATION_CUBIC
                                                                                          : SOUND_INTERPOLATION_NEAREST;
        settings.integer_mixing = family == 0 ? 1 : 0;
        settings.channels = family == 2 ? 1 : 2;
        for (const fs::path& file : chosen) {
            checkSong(file, settings, coverage);
            if (HasFatalFailure()) return;
        }
    }
    EXPECT_EQ(coverage.files, int(chosen.size()) * 3);
}
