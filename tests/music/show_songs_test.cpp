// The show's two songs: compiled from their sources, read back by their
// layout and by the sound library's own loader, and checked against the
// order positions the show waits for.
#include "sound/formats/formats.h"
#include "sound/formats/loadxm.h"
#include "sound/formats/module.h"
#include "tools/mksong/song.h"
#include "xmlayout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

namespace {

struct ShowSong {
    const char* file;
    size_t positions;    // order positions the show plays
    size_t end_position; // the position at which the show moves on; must exist
    double min_seconds, max_seconds;
    int fades[2]; // positions during which the picture fades to black (-1 = none)
};

constexpr ShowSong part1 = {"mopart1", 5, 5, 30, 60, {4, -1}};
constexpr ShowSong part2 = {"mopart2", 14, 14, 90, 150, {5, 13}};

CompiledSong compileShowSong(const ShowSong& s) {
    CompiledSong out;
    std::string m;
    EXPECT_TRUE(compileSongFile(std::string(MORVA_SOURCE_DIR) + "/content/music/" + s.file + ".song", out, m))
        << m;
    return out;
}

// Synthesis is the slow part, so each song is compiled once for the tests that only read it.
const CompiledSong& cachedShowSong(const ShowSong& s) {
    static std::map<std::string, CompiledSong> cache;
    auto it = cache.find(s.file);
    if (it == cache.end()) it = cache.emplace(s.file, compileShowSong(s)).first;
    return it->second;
}

std::vector<uint8_t> bytesOf(const XmSong& song) {
    std::vector<uint8_t> bytes;
    std::string m;
    EXPECT_TRUE(xmWrite(song, bytes, m)) << m;
    return bytes;
}

// Seconds the given positions play: rows x speed ticks, a tick lasting 2.5 / tempo seconds.
double secondsOf(const XmSong& song, size_t positions) {
    int speed = song.speed, tempo = song.tempo;
    double seconds = 0;
    for (size_t pos = 0; pos < positions; ++pos) {
        const XmPattern& p = song.patterns[song.orders[pos]];
        for (int r = 0; r < p.rows; ++r) {
            for (int ch = 0; ch < song.channels; ++ch) {
                const XmCell& c = p.cells[size_t(r) * song.channels + ch];
                if (c.effect == 15 && c.param > 0) (c.param < 32 ? speed : tempo) = c.param;
            }
            seconds += speed * 2.5 / tempo;
        }
    }
    return seconds;
}

class ShowSongs : public ::testing::TestWithParam<ShowSong> {};

TEST_P(ShowSongs, OrderReachesTheShowsLastPositionAndRestsThere) {
    const CompiledSong& c = cachedShowSong(GetParam());
    const XmSong& s = c.song;
    ASSERT_EQ(s.orders.size(), GetParam().end_position + 1) << "the position the show waits for exists";
    EXPECT_EQ(s.restart_position, s.orders.size() - 1) << "the song never wraps back into the show";
    for (const XmPattern& p : s.patterns)
        EXPECT_EQ(p.rows, 64);
    // nothing jumps back, breaks early or stops the song before the show's last position
    for (size_t pos = 0; pos < s.orders.size(); ++pos) {
        for (const XmCell& cell : s.patterns[s.orders[pos]].cells) {
            EXPECT_NE(cell.effect, 11) << "position jump at position " << pos;
            EXPECT_NE(cell.effect, 13) << "pattern break at position " << pos;
            EXPECT_FALSE(cell.effect == 15 && cell.param == 0) << "song stop at position " << pos;
        }
    }
}

TEST_P(ShowSongs, LastsAPleasantDemoLength) {
    const CompiledSong& c = cachedShowSong(GetParam());
    double seconds = secondsOf(c.song, GetParam().positions);
    EXPECT_GE(seconds, GetParam().min_seconds);
    EXPECT_LE(seconds, GetParam().max_seconds);
}

TEST_P(ShowSongs, UsesThePlayersFeatures) {
    const CompiledSong& c = cachedShowSong(GetParam());
    const XmSong& s = c.song;
    bool volumeEnvelope = false, panningEnvelope = false, autoVibrato = false, fadeout = false;
    for (const XmInstrument& i : s.instruments) {
        volumeEnvelope |= i.volume_envelope.points.size() > 1 && i.volume_envelope.sustain >= 0;
        panningEnvelope |= i.panning_envelope.points.size() > 1 && i.panning_envelope.loop_start >= 0;
        autoVibrato |= i.vibrato_depth > 0;
        fadeout |= i.fadeout > 0;
    }
    EXPECT_TRUE(volumeEnvelope && panningEnvelope && autoVibrato && fadeout);
    std::set<int> effects;
    std::set<int> voices; // instruments heard
    bool keyOff = false, volumes = false;
    for (uint8_t o : s.orders)
        for (const XmCell& cell : s.patterns[o].cells) {
            if (cell.effect || cell.param) effects.insert(cell.effect);
            if (cell.instrument) voices.insert(cell.instrument);
            keyOff |= cell.note == xmNoteKeyOff;
            volumes |= cell.volume >= 0x10 && cell.volume <= 0x50;
        }
    for (int e : {3, 4, 8, 10, 17}) // tone portamento, vibrato, panning, volume slide, global volume slide
        EXPECT_TRUE(effects.count(e)) << "effect " << e;
    EXPECT_TRUE(keyOff);
    EXPECT_TRUE(volumes);
    EXPECT_GE(voices.size(), 8u) << "drums, bass, chords and melody";
}

// A glide that runs out of rows before it arrives leaves the note out of tune until the next one.
TEST_P(ShowSongs, EveryGlideReachesItsNote) {
    const XmSong& s = cachedShowSong(GetParam()).song;
    int glides = 0;
    for (int ch = 0; ch < s.channels; ++ch) {
        int last = -1, speedMemory = 0;
        for (uint8_t o : s.orders) {
            const XmPattern& p = s.patterns[o];
            for (int r = 0; r < p.rows; ++r) {
                const XmCell& c = p.cells[size_t(r) * s.channels + ch];
                if (c.note == 0 || c.note == xmNoteKeyOff) continue;
                if (c.effect == 3 && last >= 0) {
                    // period units covered: (speed - 1) ticks a row, 4 units per speed step
                    int units = 0;
                    for (int k = r; k < p.rows; ++k) {
                        const XmCell& g = p.cells[size_t(k) * s.channels + ch];
                        if (g.effect != 3 || (k > r && g.note)) break;
                        if (g.param) speedMemory = g.param;
                        units += (s.speed - 1) * speedMemory * 4;
                    }
                    EXPECT_GE(units, std::abs(c.note - last) * 64)
                        << "channel " << ch + 1 << " pattern " << int(o) << " row " << r;
                    ++glides;
                }
                last = c.note;
            }
        }
    }
    EXPECT_GT(glides, 0);
}

// The music fades out with the picture: the global volume falls from loud to nearly silent
// across each position the picture fades to black in.
TEST_P(ShowSongs, MusicFadesWhereThePictureFades) {
    const XmSong& s = cachedShowSong(GetParam()).song;
    std::vector<int> atStart, atEnd;
    int global = 64, slide = 0;
    for (uint8_t o : s.orders) {
        const XmPattern& p = s.patterns[o];
        atStart.push_back(global);
        for (int r = 0; r < p.rows; ++r) {
            bool sliding = false;
            for (int ch = 0; ch < s.channels; ++ch) {
                const XmCell& c = p.cells[size_t(r) * s.channels + ch];
                if (c.effect == 16) global = std::min<int>(c.param, 64);
                if (c.effect == 17) {
                    if (c.param) slide = (c.param >> 4) ? (c.param >> 4) : -(c.param & 15);
                    sliding = true;
                }
            }
            if (sliding) global = std::clamp(global + slide * (s.speed - 1), 0, 64);
        }
        atEnd.push_back(global);
    }
    for (int f : GetParam().fades) {
        if (f < 0) continue;
        EXPECT_GE(atStart[f], 48) << "position " << f << " starts loud";
        EXPECT_LE(atEnd[f], 8) << "position " << f << " ends nearly silent";
    }
    for (size_t pos = 0; pos < GetParam().positions; ++pos) {
        if (pos != size_t(GetParam().fades[0]) && pos != size_t(GetParam().fades[1])) {
            EXPECT_GE(atEnd[pos], 32) << "position " << pos << " is not faded";
        }
    }
}

// The player clamps note plus relative note to 0..118; a note beyond would sound at the wrong pitch.
TEST_P(ShowSongs, EveryNoteLiesInThePlayersRange) {
    const XmSong& s = cachedShowSong(GetParam()).song;
    for (const XmPattern& p : s.patterns) {
        int current[32] = {};
        for (int r = 0; r < p.rows; ++r) {
            for (int ch = 0; ch < s.channels; ++ch) {
                const XmCell& c = p.cells[size_t(r) * s.channels + ch];
                if (c.instrument) current[ch] = c.instrument;
                if (c.note == 0 || c.note == xmNoteKeyOff || current[ch] == 0) continue;
                int n = c.note - 1 + s.instruments[current[ch] - 1].samples[0].relative_note;
                EXPECT_GE(n, 0);
                EXPECT_LE(n, 118);
            }
        }
    }
}

TEST_P(ShowSongs, CompilingIsDeterministic) {
    EXPECT_EQ(bytesOf(cachedShowSong(GetParam()).song), bytesOf(compileShowSong(GetParam()).song));
}

TEST_P(ShowSongs, FileFollowsTheLayoutByItsDeclaredSizes) {
    std::vector<uint8_t> bytes = bytesOf(cachedShowSong(GetParam()).song);
    Layout l;
    std::string why;
    ASSERT_TRUE(readLayout(bytes, l, why)) << why;
    EXPECT_EQ(l.end, bytes.size());
    EXPECT_EQ(l.header_size, 276u);
    EXPECT_EQ(l.song_length, GetParam().end_position + 1);
    for (const LayoutPattern& p : l.patterns) {
        EXPECT_EQ(p.header_length, 9u);
        EXPECT_EQ(p.rows, 64);
    }
    for (const LayoutInstrument& i : l.instruments) {
        EXPECT_EQ(i.header_size, 263u);
        EXPECT_EQ(i.sample_count, 1);
        EXPECT_EQ(i.sample_header_size, 40u);
    }
}

TEST_P(ShowSongs, LoadsWithTheSoundLibrarysLoader) {
    const CompiledSong& c = cachedShowSong(GetParam());
    std::vector<uint8_t> bytes = bytesOf(c.song);
    Module* module = nullptr;
    ASSERT_EQ(extendedModuleFormat.load_memory(bytes.data(), bytes.size(), 0, nullptr, &module), 0);
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(module->play_mode, playModeExtended);
    EXPECT_EQ(module->song_length, int(GetParam().end_position + 1));
    EXPECT_EQ(module->restart_position, module->song_length - 1);
    EXPECT_EQ(module->channel_count, c.song.channels);
    EXPECT_EQ(module->pattern_count, int(c.song.patterns.size()));
    EXPECT_EQ(module->instrument_count, int(c.song.instruments.size()));
    EXPECT_TRUE(module->flags & moduleLinearFrequency);
    for (int p = 0; p < module->pattern_count; ++p)
        EXPECT_EQ(module->patterns[p]->row_count, 64);
    for (int i = 0; i < module->instrument_count; ++i) {
        const Instrument* ins = module->instruments[i];
        const XmInstrument& src = c.song.instruments[i];
        ASSERT_NE(ins, nullptr);
        EXPECT_TRUE(ins->used) << src.name << " is played somewhere";
        ASSERT_EQ(ins->sample_count, 1);
        const Sample* smp = ins->sample_list[0];
        EXPECT_EQ(smp->type, 2) << "16-bit";
        EXPECT_EQ(smp->length, int(src.samples[0].data.size() * 2));
        EXPECT_EQ(smp->relative_note, src.samples[0].relative_note);
        EXPECT_EQ(smp->finetune, src.samples[0].finetune);
        bool loops = src.samples[0].loop != xmLoopNone;
        EXPECT_EQ(smp->loop1_type, loops ? 1 : 0);
        if (loops) {
            EXPECT_EQ(smp->loop1_end, smp->length);
        }
        EXPECT_EQ(ins->volume_envelope != nullptr, !src.volume_envelope.points.empty());
        EXPECT_EQ(ins->panning_envelope != nullptr, !src.panning_envelope.points.empty());
        // the decoded data are the synthesised frames
        ASSERT_NE(smp->data, nullptr);
        const int16_t* frames = reinterpret_cast<const int16_t*>(smp->data);
        EXPECT_TRUE(std::equal(src.samples[0].data.begin(), src.samples[0].data.end(), frames));
    }
    EXPECT_EQ(free_module(module, nullptr), 0);
}

TEST_P(ShowSongs, BuiltFileIsUpToDateAndLoads) {
    std::string path = std::string(MORVA_DATA_DIR) + "/" + GetParam().file + ".xm";
    std::ifstream f(path, std::ios::binary);
    if (!f) GTEST_SKIP() << path << " not built";
    std::vector<uint8_t> built((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    EXPECT_EQ(built, bytesOf(cachedShowSong(GetParam()).song)) << "rebuild the music target";
    Module* module = nullptr;
    ASSERT_EQ(load_extended_module(path.c_str(), 0, nullptr, &module), 0);
    EXPECT_EQ(module->song_length, int(GetParam().end_position + 1));
    EXPECT_EQ(free_module(module, nullptr), 0);
}

INSTANTIATE_TEST_SUITE_P(Music, ShowSongs, ::testing::Values(part1, part2),
                         [](const ::testing::TestParamInfo<ShowSong>& p) {
                             return std::string(p.param.file);
                         });

// The flute player's tune belongs to the tunnel: positions 6 to 13, not before.
TEST(ShowSongs2, FluteLeadPlaysOnlyInTheTunnel) {
    const CompiledSong& c = cachedShowSong(part2);
    const XmSong& s = c.song;
    int flute = 0;
    for (size_t i = 0; i < s.instruments.size(); ++i)
        if (s.instruments[i].name.find("flute") != std::string::npos) flute = int(i + 1);
    ASSERT_NE(flute, 0) << "an instrument named as a flute";
    std::set<size_t> positions;
    for (size_t pos = 0; pos < s.orders.size(); ++pos)
        for (const XmCell& cell : s.patterns[s.orders[pos]].cells)
            if (cell.instrument == flute) positions.insert(pos);
    ASSERT_FALSE(positions.empty());
    EXPECT_GE(*positions.begin(), 6u);
    for (size_t pos = 8; pos <= 13; ++pos)
        EXPECT_TRUE(positions.count(pos)) << "flute at position " << pos;
}

} // namespace
