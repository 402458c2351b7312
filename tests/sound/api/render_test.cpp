// The render interface: rendering a module into the caller's buffers, where it stands, exact
// positioning (a seek gives the samples that playing from the start gives), subsongs, repeats,
// the output settings, loading from memory and from files cut short, and one rendering at a time.
#include "sound/api/render.h"

#include "sound/api/errors.h"
#include "sound/api/soundapi.h"
#include "xmbuild.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

// At 44100 Hz and tempo 125 a tick is 882 frames; at speed 6 a row is 5292 frames.
constexpr int64_t tickFrames = 882;
constexpr int64_t rowFrames = 6 * tickFrames;

// A row's effect on channel 1 (channel 0 strikes the note on every pattern's first row).
struct Effect {
    uint8_t effect = 0, parameter = 0;
};
struct SongPattern {
    int rows = 16;
    std::map<int, Effect> effects{};
    uint8_t note = 49;
};

// A looped square wave, struck on the first row of every pattern, speed 6 and tempo 125.
std::vector<uint8_t> songBytes(const std::vector<SongPattern>& patterns, const std::vector<uint8_t>& orders,
                               uint16_t restart = 0) {
    xmbuild::ModuleSpec spec;
    spec.name = "render test";
    spec.channels = 2;
    spec.orders = orders;
    spec.restart = restart;
    xmbuild::InstrumentSpec instrument;
    instrument.samples = {xmbuild::squareWave()};
    spec.instruments = {instrument};
    spec.patterns.clear();
    for (const SongPattern& p : patterns) {
        xmbuild::PatternSpec pattern;
        pattern.rows = p.rows;
        for (int r = 0; r < p.rows; ++r) {
            if (r == 0)
                xmbuild::full(pattern.packed, p.note, 1, 0, 0, 0);
            else
                xmbuild::empty(pattern.packed);
            const auto e = p.effects.find(r);
            if (e != p.effects.end())
                xmbuild::full(pattern.packed, 0, 0, 0, e->second.effect, e->second.parameter);
            else
                xmbuild::empty(pattern.packed);
        }
        spec.patterns.push_back(pattern);
    }
    return xmbuild::build(spec);
}

// A song whose channels change all the time: slides, vibrato, tempo and speed changes, a pattern
// loop, a pattern delay and a global volume slide, so that a seek has a lot of state to get right.
std::vector<uint8_t> busySong() {
    SongPattern a{32, {{2, {0x0A, 0x04}}, {5, {0x04, 0x48}}, {9, {0x0F, 0x05}}, {12, {0x01, 0x03}}, {20, {0x11, 0x02}}}, 49};
    SongPattern b{16, {{0, {0x0E, 0x60}}, {3, {0x0E, 0x62}}, {6, {0x0E, 0xE2}}, {8, {0x0F, 0x90}}, {11, {0x0A, 0x30}}}, 37};
    SongPattern c{24, {{1, {0x02, 0x04}}, {4, {0x0F, 0x03}}, {7, {0x0C, 0x20}}, {15, {0x10, 0x20}}, {18, {0x08, 0xC0}}}, 61};
    return songBytes({a, b, c}, {0, 1, 2, 1, 0});
}

struct Loaded {
    Module* module = nullptr;
    SoundRender* render = nullptr;
    ~Loaded() {
        if (render) sound_render_close(render);
        if (module) sound_render_free_module(module);
    }
};

Module* fromBytes(const std::vector<uint8_t>& bytes, SoundLoadReport* report = nullptr) {
    return sound_render_load_memory(bytes.data(), bytes.size(), report);
}

SoundRenderSettings defaults() {
    SoundRenderSettings s;
    sound_render_default_settings(&s);
    return s;
}

// Renders to the end (at most limit frames) in blocks of block frames.
std::vector<int16_t> renderAll(SoundRender* r, int32_t block = 4096, int64_t limit = 1 << 26) {
    std::vector<int16_t> all, buffer(static_cast<size_t>(block) * 2);
    while (static_cast<int64_t>(all.size() / 2) < limit) {
        const int32_t got = sound_render_frames(r, buffer.data(), block);
        EXPECT_GE(got, 0);
        if (got <= 0) break;
        all.insert(all.end(), buffer.begin(), buffer.begin() + 2 * got);
        if (got < block) break;
    }
    return all;
}

std::vector<int16_t> renderSome(SoundRender* r, int32_t frames) {
    std::vector<int16_t> out(static_cast<size_t>(frames) * 2);
    const int32_t got = sound_render_frames(r, out.data(), frames);
    out.resize(static_cast<size_t>(std::max(got, 0)) * 2);
    return out;
}

// The first frame (from frame on) where part differs from the whole rendering; -1 when none.
int64_t firstDifference(const std::vector<int16_t>& whole, int64_t frame, const std::vector<int16_t>& part) {
    for (size_t i = 0; i < part.size(); ++i)
        if (static_cast<size_t>(2 * frame) + i >= whole.size() || whole[static_cast<size_t>(2 * frame) + i] != part[i])
            return frame + static_cast<int64_t>(i / 2);
    return -1;
}

SoundPosition positionOf(SoundRender* r) {
    SoundPosition p{};
    EXPECT_EQ(sound_render_get_position(r, &p), 1);
    return p;
}

struct RowSeen {
    int64_t frame;
    int32_t order, row;
};

void keepRow(void* user, int64_t frame, int32_t order, int32_t row) {
    static_cast<std::vector<RowSeen>*>(user)->push_back({frame, order, row});
}

} // namespace

TEST(RenderInterface, SettingsHaveDefaultsAndBadOnesAreRefused) {
    const SoundRenderSettings s = defaults();
    EXPECT_EQ(s.rate, 44100);
    EXPECT_EQ(s.channels, 2);
    EXPECT_EQ(s.format, SOUND_FORMAT_S16);
    EXPECT_EQ(s.interpolation, SOUND_INTERPOLATION_NEAREST);
    EXPECT_EQ(s.stereo_separation, 100);
    EXPECT_EQ(s.amplification, 100);
    EXPECT_EQ(s.repeat, 0);
    Loaded song;
    song.module = fromBytes(songBytes({SongPattern{}}, {0}));
    ASSERT_NE(song.module, nullptr);
    const auto refused = [&](auto change) {
        SoundRenderSettings bad = defaults();
        change(bad);
        EXPECT_EQ(sound_render_open(song.module, &bad), nullptr);
        EXPECT_EQ(sound_render_last_error(), errInvalidArguments);
    };
    refused([](SoundRenderSettings& b) { b.rate = 7999; });
    refused([](SoundRenderSettings& b) { b.channels = 3; });
    refused([](SoundRenderSettings& b) { b.format = 3; });
    refused([](SoundRenderSettings& b) { b.interpolation = 3; });
    refused([](SoundRenderSettings& b) { b.integer_mixing = 1, b.interpolation = SOUND_INTERPOLATION_LINEAR; });
    refused([](SoundRenderSettings& b) { b.stereo_separation = 201; });
    refused([](SoundRenderSettings& b) { b.amplification = -1; });
    refused([](SoundRenderSettings& b) { b.repeat = -2; });
    EXPECT_EQ(sound_render_open(nullptr, nullptr), nullptr);
    EXPECT_EQ(sound_render_frames(nullptr, nullptr, 1), -1);
}

TEST(RenderInterface, ASongRendersFromItsFirstRowToItsEnd) {
    Loaded song;
    song.module = fromBytes(songBytes({SongPattern{}}, {0, 0}));
    ASSERT_NE(song.module, nullptr);
    song.render = sound_render_open(song.module, nullptr);
    ASSERT_NE(song.render, nullptr);
    EXPECT_EQ(sound_render_duration(song.render), 32 * rowFrames);
    const SoundPosition start = positionOf(song.render);
    EXPECT_EQ(start.frame, 0);
    EXPECT_EQ(start.order, 0);
    EXPECT_EQ(start.row, 0);
    EXPECT_EQ(start.rows, 16);
    EXPECT_EQ(start.speed, 6);
    EXPECT_EQ(start.tempo, 125);
    EXPECT_EQ(start.ended, 0);
    std::vector<RowSeen> rows;
    sound_render_set_row_callback(song.render, keepRow, &rows);
    const std::vector<int16_t> all = renderAll(song.render, 1000);
    EXPECT_EQ(static_cast<int64_t>(all.size() / 2), 32 * rowFrames);
    // The note sounds from the first frame on.
    EXPECT_NE(std::count(all.begin(), all.begin() + 400, 0), 400);
    ASSERT_EQ(rows.size(), 32u);
    for (int k = 0; k < 32; ++k) {
        EXPECT_EQ(rows[k].frame, k * rowFrames);
        EXPECT_EQ(rows[k].order, k / 16);
        EXPECT_EQ(rows[k].row, k % 16);
    }
    const SoundPosition end = positionOf(song.render);
    EXPECT_EQ(end.ended, 1);
    EXPECT_EQ(end.frame, 32 * rowFrames);
    EXPECT_EQ(end.milliseconds, 3840);
    std::vector<int16_t> more(100);
    EXPECT_EQ(sound_render_frames(song.render, more.data(), 50), 0);
}

TEST(RenderInterface, HowTheFramesAreAskedForChangesNoBit) {
    const std::vector<uint8_t> bytes = busySong();
    std::vector<int16_t> reference[3];
    for (int32_t block : {4096, 1, 7, 882, 1000}) {
        for (int32_t interpolation : {0, 1, 2}) {
            Loaded song;
            song.module = fromBytes(bytes);
            SoundRenderSettings s = defaults();
            s.interpolation = interpolation;
            song.render = sound_render_open(song.module, &s);
            ASSERT_NE(song.render, nullptr);
            const std::vector<int16_t> all = renderAll(song.render, block, block == 1 ? 60000 : 1 << 26);
            if (block == 4096) {
                reference[interpolation] = all;
            } else {
                ASSERT_LE(all.size(), reference[interpolation].size());
                EXPECT_EQ(firstDifference(reference[interpolation], 0, all), -1)
                    << "blocks of " << block << ", interpolation " << interpolation;
            }
        }
    }
    // The three kinds of interpolation are three sounds of the same length.
    EXPECT_EQ(reference[0].size(), reference[1].size());
    EXPECT_EQ(reference[1].size(), reference[2].size());
    EXPECT_NE(firstDifference(reference[0], 0, reference[1]), -1);
    EXPECT_NE(firstDifference(reference[1], 0, reference[2]), -1);
}

TEST(RenderInterface, SeekingGivesTheSamplesThatPlayingGives) {
    const std::vector<uint8_t> bytes = busySong();
    for (int32_t interpolation : {0, 1, 2}) {
        for (int32_t integer : {0, 1}) {
            if (integer && interpolation) continue;
            Loaded song;
            song.module = fromBytes(bytes);
            SoundRenderSettings s = defaults();
            s.interpolation = interpolation;
            s.integer_mixing = integer;
            song.render = sound_render_open(song.module, &s);
            ASSERT_NE(song.render, nullptr);
            const std::vector<int16_t> whole = renderAll(song.render);
            const int64_t total = static_cast<int64_t>(whole.size() / 2);
            ASSERT_GT(total, 80 * rowFrames);
            // Forward and back, to ticks, rows, the very start and just before the end.
            for (int64_t at : {total / 2, int64_t(12345), int64_t(0), total - 1000, 7 * rowFrames + 3 * tickFrames,
                               int64_t(1), total / 3, total / 3 + 5, int64_t(64), int64_t(63)}) {
                ASSERT_EQ(sound_render_seek(song.render, at), 1);
                EXPECT_EQ(positionOf(song.render).frame, at);
                const std::vector<int16_t> part = renderSome(song.render, 20000);
                EXPECT_EQ(static_cast<int64_t>(part.size() / 2), std::min<int64_t>(20000, total - at));
                EXPECT_EQ(firstDifference(whole, at, part), -1)
                    << "seek to " << at << ", interpolation " << interpolation << ", integer " << integer;
            }
            // Past the end: the rendering stands at the end.
            ASSERT_EQ(sound_render_seek(song.render, total + 5000), 1);
            EXPECT_EQ(positionOf(song.render).frame, total);
            EXPECT_EQ(positionOf(song.render).ended, 1);
            ASSERT_EQ(sound_render_seek_ms(song.render, 1000), 1);
            EXPECT_EQ(positionOf(song.render).frame, 44100);
            EXPECT_EQ(firstDifference(whole, 44100, renderSome(song.render, 3000)), -1);
            EXPECT_EQ(sound_render_seek(song.render, -1), 0);
        }
    }
}

TEST(RenderInterface, AnOrderAndRowAreFoundWhereTheSongFirstPlaysThem) {
    Loaded song;
    song.module = fromBytes(busySong());
    song.render = sound_render_open(song.module, nullptr);
    ASSERT_NE(song.render, nullptr);
    std::vector<RowSeen> rows;
    sound_render_set_row_callback(song.render, keepRow, &rows);
    const std::vector<int16_t> whole = renderAll(song.render);
    sound_render_set_row_callback(song.render, nullptr, nullptr);
    ASSERT_GT(rows.size(), 50u);
    // Order 3 plays pattern 1 again: its rows are found there, not at order 1.
    for (const auto& [order, row] : std::vector<std::pair<int, int>>{{3, 0}, {1, 5}, {4, 17}, {0, 0}, {2, 23}, {3, 15}}) {
        const auto first = std::find_if(rows.begin(), rows.end(),
                                        [&](const RowSeen& r) { return r.order == order && r.row == row; });
        ASSERT_NE(first, rows.end()) << order << ":" << row;
        ASSERT_EQ(sound_render_set_position(song.render, order, row), 1) << order << ":" << row;
        const SoundPosition at = positionOf(song.render);
        EXPECT_EQ(at.frame, first->frame) << order << ":" << row;
        EXPECT_EQ(at.order, order);
        EXPECT_EQ(at.row, row);
        EXPECT_EQ(firstDifference(whole, at.frame, renderSome(song.render, 8000)), -1) << order << ":" << row;
    }
    // A row the song never plays: the pattern loop's rows after the loop are played, row 40 of
    // a 32-row pattern is not there.
    EXPECT_EQ(sound_render_set_position(song.render, 0, 40), 0);
    EXPECT_EQ(sound_render_last_error(), errInvalidArguments);
    EXPECT_EQ(sound_render_set_position(song.render, 9, 0), 0);
}

TEST(RenderInterface, SubsongsAreTheOrdersTheSongsBeforeNeverReach) {
    // Orders 0-1 play, and jump back: the first song. Orders 2-3 are a second song, which ends
    // where the last row of order 3 jumps back to its own start; order 4, which does the same, is
    // a third.
    SongPattern jumpBack{16, {{15, {0x0B, 0x00}}}, 49};
    SongPattern stayThree{4, {{3, {0x0B, 0x03}}}, 49};
    SongPattern stayFour{4, {{3, {0x0B, 0x04}}}, 49};
    const std::vector<uint8_t> bytes =
        songBytes({SongPattern{}, jumpBack, SongPattern{8}, stayThree, stayFour}, {0, 1, 2, 3, 4});
    Loaded song;
    song.module = fromBytes(bytes);
    ASSERT_NE(song.module, nullptr);
    std::vector<SoundSubsong> list(8);
    ASSERT_EQ(sound_render_list_subsongs(song.module, 44100, list.data(), 8), 3);
    EXPECT_EQ(list[0].start_order, 0);
    EXPECT_EQ(list[0].frames, 32 * rowFrames);
    EXPECT_EQ(list[0].milliseconds, 3840);
    EXPECT_EQ(list[1].start_order, 2);
    EXPECT_EQ(list[1].frames, 12 * rowFrames);
    EXPECT_EQ(list[2].start_order, 4);
    EXPECT_EQ(list[2].frames, 4 * rowFrames);
    // Durations follow the rate: 22050 Hz has 442 frames a tick.
    ASSERT_EQ(sound_render_list_subsongs(song.module, 22050, list.data(), 1), 3);
    EXPECT_EQ(list[0].frames, 32 * 6 * 442);
    EXPECT_EQ(sound_render_list_subsongs(song.module, 22050, nullptr, 0), 3);

    song.render = sound_render_open(song.module, nullptr);
    ASSERT_NE(song.render, nullptr);
    EXPECT_EQ(sound_render_subsong_count(song.render), 3);
    SoundSubsong second{};
    ASSERT_EQ(sound_render_get_subsong(song.render, 1, &second), 1);
    EXPECT_EQ(second.start_order, 2);
    ASSERT_EQ(sound_render_select_subsong(song.render, 1), 1);
    SoundPosition at = positionOf(song.render);
    EXPECT_EQ(at.subsong, 1);
    EXPECT_EQ(at.order, 2);
    EXPECT_EQ(sound_render_duration(song.render), 12 * rowFrames);
    const std::vector<int16_t> secondSong = renderAll(song.render);
    EXPECT_EQ(static_cast<int64_t>(secondSong.size() / 2), 12 * rowFrames);
    // Asking for a row of the third song moves there.
    ASSERT_EQ(sound_render_set_position(song.render, 4, 2), 1);
    at = positionOf(song.render);
    EXPECT_EQ(at.subsong, 2);
    EXPECT_EQ(at.frame, 2 * rowFrames);
    EXPECT_EQ(sound_render_select_subsong(song.render, 3), 0);
    EXPECT_EQ(sound_render_get_subsong(song.render, -1, &second), 0);
}

TEST(RenderInterface, RepeatPlaysTheSongAgain) {
    const std::vector<uint8_t> bytes = songBytes({SongPattern{}, SongPattern{8}}, {0, 1}, 1);
    Loaded song;
    song.module = fromBytes(bytes);
    SoundRenderSettings s = defaults();
    s.repeat = 2;
    song.render = sound_render_open(song.module, &s);
    ASSERT_NE(song.render, nullptr);
    std::vector<RowSeen> rows;
    sound_render_set_row_callback(song.render, keepRow, &rows);
    // Once through (24 rows), then twice from the restart position, order 1 (8 rows each).
    EXPECT_EQ(static_cast<int64_t>(renderAll(song.render).size() / 2), 40 * rowFrames);
    ASSERT_EQ(rows.size(), 40u);
    EXPECT_EQ(rows[24].order, 1);
    EXPECT_EQ(positionOf(song.render).pass, 2);
    // For ever: it goes on; told to play once after all, it ends at its next row.
    ASSERT_EQ(sound_render_set_repeat(song.render, -1), 1);
    ASSERT_EQ(sound_render_seek(song.render, 0), 1);
    EXPECT_GE(static_cast<int64_t>(renderAll(song.render, 4096, 200 * rowFrames).size() / 2), 200 * rowFrames);
    EXPECT_EQ(positionOf(song.render).ended, 0);
    ASSERT_EQ(sound_render_set_repeat(song.render, 0), 1);
    EXPECT_LT(static_cast<int64_t>(renderAll(song.render).size() / 2), rowFrames);
    EXPECT_EQ(positionOf(song.render).ended, 1);
}

TEST(RenderInterface, OutputFormatsSeparationAndLevel) {
    const std::vector<uint8_t> bytes = busySong();
    Loaded plain;
    plain.module = fromBytes(bytes);
    plain.render = sound_render_open(plain.module, nullptr);
    ASSERT_NE(plain.render, nullptr);
    const std::vector<int16_t> reference = renderSome(plain.render, 30000);
    sound_render_close(plain.render);
    plain.render = nullptr;

    SoundRenderSettings s = defaults();
    s.format = SOUND_FORMAT_F32;
    plain.render = sound_render_open(plain.module, &s);
    ASSERT_NE(plain.render, nullptr);
    std::vector<float> floats(60000);
    ASSERT_EQ(sound_render_frames(plain.render, floats.data(), 30000), 30000);
    for (size_t i = 0; i < floats.size(); ++i)
        ASSERT_EQ(floats[i], reference[i] / 32768.0f) << i;
    sound_render_close(plain.render);

    s = defaults();
    s.format = SOUND_FORMAT_U8;
    s.channels = 1;
    plain.render = sound_render_open(plain.module, &s);
    ASSERT_NE(plain.render, nullptr);
    std::vector<uint8_t> bytes8(30000);
    ASSERT_EQ(sound_render_frames(plain.render, bytes8.data(), 30000), 30000);
    EXPECT_GT(std::count_if(bytes8.begin(), bytes8.end(), [](uint8_t b) { return b != 0x80; }), 10000);
    sound_render_close(plain.render);

    // No separation puts both sides together; the full one is the song's own panning.
    s = defaults();
    s.stereo_separation = 0;
    plain.render = sound_render_open(plain.module, &s);
    const std::vector<int16_t> middle = renderSome(plain.render, 30000);
    for (size_t i = 0; i < middle.size(); i += 2)
        ASSERT_EQ(middle[i], middle[i + 1]) << i;
    ASSERT_EQ(sound_render_set_stereo_separation(plain.render, 100), 1);
    ASSERT_EQ(sound_render_seek(plain.render, 0), 1);
    EXPECT_EQ(firstDifference(reference, 0, renderSome(plain.render, 30000)), -1);
    sound_render_close(plain.render);

    const auto level = [](const std::vector<int16_t>& v) {
        double sum = 0;
        for (int16_t x : v)
            sum += double(x) * x;
        return std::sqrt(sum / double(v.size()));
    };
    s = defaults();
    s.amplification = 50;
    plain.render = sound_render_open(plain.module, &s);
    EXPECT_NEAR(level(renderSome(plain.render, 30000)) / level(reference), 0.5, 0.03);
    ASSERT_EQ(sound_render_set_amplification(plain.render, 100), 1);
    ASSERT_EQ(sound_render_seek(plain.render, 0), 1);
    EXPECT_EQ(firstDifference(reference, 0, renderSome(plain.render, 30000)), -1);
}

TEST(RenderInterface, OneRenderingAtATimeAndNoneBesideTheDevices) {
    const std::vector<uint8_t> bytes = songBytes({SongPattern{}}, {0});
    Loaded first, second;
    first.module = fromBytes(bytes);
    second.module = fromBytes(bytes);
    first.render = sound_render_open(first.module, nullptr);
    ASSERT_NE(first.render, nullptr);
    EXPECT_EQ(sound_render_open(second.module, nullptr), nullptr);
    EXPECT_EQ(sound_render_last_error(), errDeviceBusy);
    sound_startup();
    sound_set_option(optForceNoSound, 1);
    EXPECT_EQ(sound_init(), 0);
    EXPECT_EQ(sound_get_last_error(), errDeviceBusy);
    sound_close();
    // Freeing the module closes its rendering; then the other one can open.
    ASSERT_EQ(sound_render_free_module(first.module), 1);
    first.module = nullptr;
    first.render = nullptr;
    second.render = sound_render_open(second.module, nullptr);
    EXPECT_NE(second.render, nullptr);
}

TEST(RenderInterface, ModulesLoadFromFilesAndFromMemoryAlike) {
    const std::vector<uint8_t> bytes = busySong();
    const std::string path = ::testing::TempDir() + "render-test-busy.xm";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    std::vector<int16_t> renders[2];
    for (int k = 0; k < 2; ++k) {
        Loaded song;
        song.module = k == 0 ? sound_render_load_file(path.c_str(), nullptr) : fromBytes(bytes);
        ASSERT_NE(song.module, nullptr);
        SoundModuleInfo info{};
        ASSERT_EQ(sound_render_module_info(song.module, &info), 1);
        EXPECT_STREQ(info.name, "render test");
        EXPECT_STREQ(info.format, "XM");
        EXPECT_EQ(info.channels, 2);
        EXPECT_EQ(info.orders, 5);
        EXPECT_EQ(info.patterns, 3);
        EXPECT_EQ(info.instruments, 1);
        EXPECT_EQ(info.own_instruments, 1);
        EXPECT_STREQ(sound_render_instrument_name(song.module, 0), "instrument");
        EXPECT_EQ(sound_render_instrument_name(song.module, 1), nullptr);
        EXPECT_STREQ(sound_render_message(song.module), "");
        song.render = sound_render_open(song.module, nullptr);
        renders[k] = renderAll(song.render);
    }
    std::remove(path.c_str());
    EXPECT_EQ(renders[0], renders[1]);
    EXPECT_EQ(sound_render_load_file("no-such-file.xm", nullptr), nullptr);
    EXPECT_EQ(sound_render_last_error(), errFileNotFound);
    const std::vector<uint8_t> junk(100, 0x5A);
    EXPECT_EQ(fromBytes(junk), nullptr);
    EXPECT_EQ(sound_render_last_error(), errInvalidModule);
}

TEST(RenderInterface, AFileCutInItsSampleDataLoadsWithWhatIsThere) {
    const std::vector<uint8_t> whole = busySong();
    Loaded full;
    full.module = fromBytes(whole);
    full.render = sound_render_open(full.module, nullptr);
    const std::vector<int16_t> reference = renderAll(full.render);
    sound_render_close(full.render);
    full.render = nullptr;

    // The square wave is the file's last 64 bytes: cut 20 of them.
    std::vector<uint8_t> cut(whole.begin(), whole.end() - 20);
    SoundLoadReport report{};
    Loaded song;
    song.module = fromBytes(cut, &report);
    ASSERT_NE(song.module, nullptr) << sound_render_error_message(sound_render_last_error());
    EXPECT_EQ(report.samples_cut, 1);
    EXPECT_EQ(report.bytes_missing, 20);
    EXPECT_EQ(report.instruments_missing, 0);
    song.render = sound_render_open(song.module, nullptr);
    ASSERT_NE(song.render, nullptr);
    const std::vector<int16_t> shortened = renderAll(song.render);
    // As long as the whole song, and not the same (the sample loops over what is left of it).
    EXPECT_EQ(shortened.size(), reference.size());
    EXPECT_NE(shortened, reference);

    // Without any sample data the song still plays, in silence.
    SoundLoadReport none{};
    Loaded silent;
    silent.module = fromBytes(std::vector<uint8_t>(whole.begin(), whole.end() - 64), &none);
    ASSERT_NE(silent.module, nullptr);
    EXPECT_EQ(none.bytes_missing, 64);

    // Cut in the patterns, the file is refused as the show's loader refuses it.
    const std::vector<uint8_t> header(whole.begin(), whole.begin() + 400);
    EXPECT_EQ(fromBytes(header), nullptr);
    EXPECT_EQ(sound_render_last_error(), errEndOfFile);
}
