// The song notation: notes, tracks, chords, modifiers, macros and the errors
// a composer gets for a miscounted bar.
#include "tools/mksong/song.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

namespace {

const char* const header = R"(
song "unit"
channels 4
speed 6
tempo 125
instrument beep "Beep"
    length 0.05
    osc sine
instrument pad
    length 0.02
    loop 0.1
    osc saw
    volenv 0:0 4:64 sustain=1
    panenv 0:32 10:0 20:64 loop=0-2
    fadeout 200
    vibrato sine sweep=10 depth=3 rate=8
    volume 40
    panning 90
)";

bool compile(const std::string& body, CompiledSong& out, std::string& message) {
    return compileSongText(std::string(header) + body, "unit.song", "", out, message);
}

const XmCell& cell(const CompiledSong& s, int pattern, int row, int channel) {
    return s.song.patterns[pattern].cells[size_t(row) * s.song.channels + channel];
}

void expectError(const std::string& body, const std::string& part) {
    CompiledSong s;
    std::string m;
    EXPECT_FALSE(compile(body, s, m)) << body;
    EXPECT_NE(m.find(part), std::string::npos) << "message: " << m;
}

TEST(SongNotation, NoteNames) {
    EXPECT_EQ(parseNoteName("C-0"), 0);
    EXPECT_EQ(parseNoteName("C-4"), 48);
    EXPECT_EQ(parseNoteName("C#4"), 49);
    EXPECT_EQ(parseNoteName("Bb2"), 34);
    EXPECT_EQ(parseNoteName("B-7"), 95);
    EXPECT_EQ(parseNoteName("Cb0"), -1) << "below the lowest note";
    EXPECT_EQ(parseNoteName("H-4"), -1);
    EXPECT_EQ(parseNoteName("C-8"), -1);
    EXPECT_EQ(parseNoteName("C4"), -1);
}

TEST(SongNotation, SettingsInstrumentsAndOrder) {
    CompiledSong s;
    std::string m;
    ASSERT_TRUE(compile("pattern a\n    1: @beep C-4/64\n    2: @pad C-4/64\norder a a\n", s, m)) << m;
    EXPECT_EQ(s.song.name, "unit");
    EXPECT_EQ(s.song.channels, 4);
    EXPECT_EQ(s.song.tempo, 125);
    EXPECT_EQ(s.song.orders, (std::vector<uint8_t>{0, 0}));
    EXPECT_EQ(s.song.restart_position, 1) << "without a restart line the song rests on its last position";
    ASSERT_EQ(s.song.instruments.size(), 2u);
    EXPECT_EQ(s.song.instruments[0].name, "Beep");
    EXPECT_EQ(s.song.instruments[1].name, "pad");
    const XmInstrument& pad = s.song.instruments[1];
    EXPECT_EQ(pad.volume_envelope.points.size(), 2u);
    EXPECT_EQ(pad.volume_envelope.sustain, 1);
    EXPECT_EQ(pad.panning_envelope.loop_start, 0);
    EXPECT_EQ(pad.panning_envelope.loop_end, 2);
    EXPECT_EQ(pad.fadeout, 200);
    EXPECT_EQ(pad.vibrato_depth, 3);
    ASSERT_EQ(pad.samples.size(), 1u);
    EXPECT_EQ(pad.samples[0].volume, 40);
    EXPECT_EQ(pad.samples[0].panning, 90);
    EXPECT_EQ(pad.samples[0].loop, xmLoopForward);
    EXPECT_EQ(s.song.instruments[0].samples[0].loop, xmLoopNone);
}

TEST(SongNotation, UnplayedInstrumentsAreLeftOutAndTheRestRenumbered) {
    CompiledSong s;
    std::string m;
    ASSERT_TRUE(compile("pattern a\n    1: @pad C-4/64\norder a\n", s, m)) << m;
    ASSERT_EQ(s.song.instruments.size(), 1u);
    EXPECT_EQ(s.song.instruments[0].name, "pad");
    EXPECT_EQ(s.sample_rates.size(), 1u);
    EXPECT_EQ(cell(s, 0, 0, 0).instrument, 1);
}

TEST(SongNotation, NotesAdvanceByTheirLengthsWithDefaultsAndRests) {
    CompiledSong s;
    std::string m;
    ASSERT_TRUE(compile("pattern a\n    2: @beep C-4/8 D-4 /2 E-4 ./2 off/48\norder a\n", s, m)) << m;
    EXPECT_EQ(cell(s, 0, 0, 1).note, 49);
    EXPECT_EQ(cell(s, 0, 0, 1).instrument, 1);
    EXPECT_EQ(cell(s, 0, 8, 1).note, 51) << "D-4 after 8 rows";
    EXPECT_EQ(cell(s, 0, 12, 1).note, 53) << "default length 4";
    EXPECT_EQ(cell(s, 0, 14, 1).note, 0) << "a rest writes nothing";
    EXPECT_EQ(cell(s, 0, 16, 1).note, xmNoteKeyOff);
    EXPECT_EQ(cell(s, 0, 16, 1).instrument, 0) << "key off carries no instrument";
    EXPECT_EQ(cell(s, 0, 0, 0).note, 0) << "other channels untouched";
}

TEST(SongNotation, ChordsSpreadOverTheTracksChannelsWithPerChannelValues) {
    CompiledSong s;
    std::string m;
    ASSERT_TRUE(compile(
        "pattern a\n    2-4: @pad [C-4 E-4 G-4]/32 v40,30,20 =850,80,B0 [A-3 C-4]/32\norder a\n", s, m))
        << m;
    EXPECT_EQ(cell(s, 0, 0, 1).note, 49);
    EXPECT_EQ(cell(s, 0, 0, 2).note, 53);
    EXPECT_EQ(cell(s, 0, 0, 3).note, 56);
    EXPECT_EQ(cell(s, 0, 0, 1).volume, 0x10 + 40);
    EXPECT_EQ(cell(s, 0, 0, 3).volume, 0x10 + 20);
    EXPECT_EQ(cell(s, 0, 0, 1).param, 0x50);
    EXPECT_EQ(cell(s, 0, 0, 3).param, 0xB0);
    EXPECT_EQ(cell(s, 0, 0, 2).instrument, 1) << "the only instrument played is numbered 1";
    EXPECT_EQ(cell(s, 0, 32, 1).note, 46);
    EXPECT_EQ(cell(s, 0, 32, 3).note, 0) << "a short chord leaves the last channel alone";
}

TEST(SongNotation, EffectSpansFirstRowEveryRowAndAfterTheFirst) {
    CompiledSong s;
    std::string m;
    ASSERT_TRUE(
        compile("pattern a\n    1: @beep C-4/4 =F03 D-4/4 ~A01 E-4/4 >446 ./52 =G10\norder a\n", s, m))
        << m;
    EXPECT_EQ(cell(s, 0, 0, 0).effect, 15);
    EXPECT_EQ(cell(s, 0, 0, 0).param, 3);
    EXPECT_EQ(cell(s, 0, 1, 0).effect, 0);
    for (int r = 4; r < 8; ++r)
        EXPECT_EQ(cell(s, 0, r, 0).effect, 10) << r;
    EXPECT_EQ(cell(s, 0, 8, 0).effect, 0) << "after-first leaves the note row free";
    for (int r = 9; r < 12; ++r) {
        EXPECT_EQ(cell(s, 0, r, 0).effect, 4);
        EXPECT_EQ(cell(s, 0, r, 0).param, 0x46);
    }
    EXPECT_EQ(cell(s, 0, 12, 0).effect, 16) << "effect G is 16";
}

TEST(SongNotation, VolumeColumnCommandsAndTrackDefaults) {
    CompiledSong s;
    std::string m;
    ASSERT_TRUE(compile(
        "pattern a\n    1: @beep vol=20 pan=C0 C-4/4 %>71 D-4/4 v50 =A02 vol=- pan=- E-4/56\norder a\n", s,
        m))
        << m;
    EXPECT_EQ(cell(s, 0, 0, 0).volume, 0x10 + 20);
    EXPECT_EQ(cell(s, 0, 0, 0).effect, 8);
    EXPECT_EQ(cell(s, 0, 0, 0).param, 0xC0);
    EXPECT_EQ(cell(s, 0, 1, 0).volume, 0x71);
    EXPECT_EQ(cell(s, 0, 3, 0).volume, 0x71);
    EXPECT_EQ(cell(s, 0, 4, 0).volume, 0x10 + 50) << "an own volume beats the default";
    EXPECT_EQ(cell(s, 0, 4, 0).effect, 10) << "an own effect beats the default panning";
    EXPECT_EQ(cell(s, 0, 8, 0).volume, 0);
    EXPECT_EQ(cell(s, 0, 8, 0).effect, 0);
}

TEST(SongNotation, MacrosRepetitionAndTransposition) {
    CompiledSong s;
    std::string m;
    ASSERT_TRUE(compile("define bar C-4/2 E-4/2\ndefine two ( $bar )*2\n"
                        "pattern a\n    1: @beep $two t+12 $two t-1 ( C-4/1 )*8 t0 ./40\norder a\n",
                        s, m))
        << m;
    EXPECT_EQ(cell(s, 0, 0, 0).note, 49);
    EXPECT_EQ(cell(s, 0, 6, 0).note, 53);
    EXPECT_EQ(cell(s, 0, 8, 0).note, 61) << "an octave up";
    EXPECT_EQ(cell(s, 0, 16, 0).note, 48) << "a semitone down";
    EXPECT_EQ(cell(s, 0, 23, 0).note, 48);
    EXPECT_EQ(cell(s, 0, 24, 0).note, 0);
}

TEST(SongNotation, MacroNamedLikeALetterOfDefine) {
    CompiledSong s;
    std::string m;
    ASSERT_TRUE(compile("define e D-4/64\npattern a\n    1: @beep $e\norder a\n", s, m)) << m;
    EXPECT_EQ(cell(s, 0, 0, 0).note, 51);
}

TEST(SongNotation, SharpInsideAMacroIsNotAComment) {
    CompiledSong s;
    std::string m;
    ASSERT_TRUE(compile("define x C#4/64 # a comment\npattern a\n    1: @beep $x\norder a\n", s, m)) << m;
    EXPECT_EQ(cell(s, 0, 0, 0).note, 50);
}

TEST(SongNotation, LikeCopiesAPatternAndAMentionedChannelStartsAfresh) {
    CompiledSong s;
    std::string m;
    ASSERT_TRUE(compile("pattern a\n    1: @beep C-4/64\n    2: @beep D-4/64\n"
                        "pattern b like a\n    2: @beep E-4/32 F-4/32\norder a b\n",
                        s, m))
        << m;
    EXPECT_EQ(cell(s, 1, 0, 0).note, 49) << "channel 1 copied";
    EXPECT_EQ(cell(s, 1, 0, 1).note, 53) << "channel 2 rewritten";
    EXPECT_EQ(cell(s, 1, 32, 1).note, 54);
    EXPECT_EQ(cell(s, 0, 0, 1).note, 51) << "the original stays";
}

TEST(SongNotation, LikeWithOtherRowsKeepsTheCopiedRowsThatFit) {
    // Row count and copy may come in either order; the cells always match the row count.
    for (const char* options : {"like a rows 32", "rows 32 like a", "like a rows 96", "rows 96 like a"}) {
        CompiledSong s;
        std::string m;
        int rows = std::string(options).find("32") != std::string::npos ? 32 : 96;
        std::string fill = rows == 32 ? "E-4/32" : "E-4/96";
        ASSERT_TRUE(compile("pattern a\n    1: @beep C-4/32 D-4/32\n    2: @beep G-4/64\n"
                            "pattern b " +
                                std::string(options) + "\n    2: @beep " + fill + "\norder a b\n",
                            s, m))
            << options << ": " << m;
        const XmPattern& b = s.song.patterns[1];
        ASSERT_EQ(b.rows, rows) << options;
        ASSERT_EQ(b.cells.size(), size_t(rows) * s.song.channels) << options;
        EXPECT_EQ(cell(s, 1, 0, 0).note, 49) << options << ": channel 1 copied";
        EXPECT_EQ(cell(s, 1, 0, 1).note, 53) << options << ": channel 2 rewritten";
        if (rows == 96) {
            EXPECT_EQ(cell(s, 1, 32, 0).note, 51) << options;
            EXPECT_EQ(cell(s, 1, 64, 0).note, 0) << options << ": rows past the original are empty";
        }
    }
}

TEST(SongNotation, ClipCutsAnEchoAtThePatternsEnd) {
    CompiledSong s;
    std::string m;
    ASSERT_TRUE(compile("pattern a\n    1: clip @beep ./4 C-4/60 D-4/4 =A01\norder a\n", s, m)) << m;
    EXPECT_EQ(cell(s, 0, 4, 0).note, 49);
    EXPECT_EQ(cell(s, 0, 63, 0).note, 0) << "D-4 starts past the end and is dropped";
}

TEST(SongNotation, GlidingNoteCarriesNoInstrument) {
    CompiledSong s;
    std::string m;
    ASSERT_TRUE(compile("pattern a\n    1: @pad C-4/8 G-4/8 =310 E-4/48 %F4\norder a\n", s, m)) << m;
    EXPECT_EQ(cell(s, 0, 0, 0).instrument, 1);
    EXPECT_EQ(cell(s, 0, 8, 0).instrument, 0) << "tone portamento keeps volume and panning";
    EXPECT_EQ(cell(s, 0, 8, 0).note, 56);
    EXPECT_EQ(cell(s, 0, 16, 0).instrument, 0) << "volume-column portamento too";
}

TEST(SongNotation, MistakesAreReportedWithTheirLine) {
    expectError("pattern a\n    1: @beep C-4/60 D-4/8\norder a\n", "unit.song:20");
    expectError("pattern a\n    1: @beep C-4/60 D-4/8\norder a\n", "runs past the end");
    expectError("pattern a\n    1: @beep C-4/60\norder a\n", "fills 60 of 64 rows");
    expectError("pattern a\n    1: @nothing C-4/64\norder a\n", "unknown instrument");
    expectError("pattern a\n    1: C-4/64\norder a\n", "before any @instrument");
    expectError("pattern a\n    5: @beep C-4/64\norder a\n", "bad channel list");
    expectError("pattern a\n    1: @beep X-4/64\norder a\n", "not a note");
    expectError("pattern a\n    1: @beep C-4/64 =Z\norder a\n", "bad effect");
    expectError("pattern a\n    1: @beep C-4/64 v65\norder a\n", "v0..v64");
    expectError("pattern a\n    1-2: @beep [C-4 D-4 E-4]/64\norder a\n", "more notes than");
    expectError("pattern a\n    1: @beep $missing\norder a\n", "unknown macro");
    expectError("define loop $loop\npattern a\n    1: @beep $loop\norder a\n", "nest too deep");
    expectError("pattern a\n    1: @beep ( C-4/1 \norder a\n", "without a closing");
    expectError("pattern a\n    1: @beep C-4/64\norder a b\n", "unknown pattern b");
    expectError("pattern a\n    1: @beep C-4/64\n", "no order");
    expectError("pattern a\n    1: @beep t+60 C-4/64\norder a\n", "out of range");
    expectError("include \"no-such-file.inc\"\n", "cannot open include");
    expectError("instrument bad\n    osc sine\n    length 9\n", "length takes one number");
    expectError("instrument bad\n    wobble 3\n", "unknown instrument property");
    expectError("instrument bad\n    osc sine\n    volenv 0:0 4:70\n", "VALUE 0..64");
    expectError("instrument bad\n    osc sine\n    volenv 0:0 4:60 2:10\n", "rise");
    expectError("pattern a\n    1: @beep C-4/64\norder a\nrestart 3\n", "restart");
    expectError("frobnicate 3\n", "unknown keyword");
    std::string many;
    for (int i = 0; i < 127; ++i)
        many += "instrument i" + std::to_string(i) + "\n    length 0.01\n    osc sine\n";
    expectError(many, "at most 128 instruments");
}

TEST(SongNotation, IncludeIsReadRelativeToTheSong) {
    std::string dir = ::testing::TempDir();
    {
        std::ofstream inc(dir + "/kit.inc");
        inc << "instrument kick\n    length 0.1\n    osc sine ratio=0.25\n";
        std::ofstream song(dir + "/inc.song");
        song << "channels 2\ninclude \"kit.inc\"\npattern a\n    1: @kick C-4/64\norder a\n";
    }
    CompiledSong s;
    std::string m;
    ASSERT_TRUE(compileSongFile(dir + "/inc.song", s, m)) << m;
    EXPECT_EQ(s.song.instruments.size(), 1u);
    std::remove((dir + "/kit.inc").c_str());
    std::remove((dir + "/inc.song").c_str());
}

} // namespace

namespace {

// Damaged sources give an error message, never a crash or an endless expansion.
TEST(SongNotation, DamagedSourcesFailCleanly) {
    const std::string good =
        std::string(header) +
        "define x ( C-4/2 [E-4 G-4]/2 )*2\n"
        "pattern a\n    1-2: @pad $x v40,30 =850,80 off/56\n    3: @beep t+2 C#4/8 ~A01 %>71 ./56\n"
        "pattern b like a\n    4: clip @beep ./60 D-4/8\norder a b\n";
    CompiledSong s;
    std::string m;
    ASSERT_TRUE(compileSongText(good, "good.song", "", s, m)) << m;
    const char noise[] = "[]()$/=~>%@:,#\"*-.0123456789abcfvtxC";
    uint32_t state = 12345;
    auto next = [&]() {
        state = state * 1103515245u + 12345u;
        return state >> 8;
    };
    for (int i = 0; i < 300; ++i) {
        std::string text = good;
        int edits = 1 + next() % 4;
        for (int e = 0; e < edits; ++e) {
            size_t at = next() % text.size();
            switch (next() % 3) {
            case 0: text[at] = noise[next() % (sizeof noise - 1)]; break;
            case 1: text.erase(at, 1 + next() % 6); break;
            default: text.insert(at, 1, noise[next() % (sizeof noise - 1)]); break;
            }
        }
        CompiledSong out;
        std::string message;
        bool ok = compileSongText(text, "damaged.song", "", out, message);
        EXPECT_TRUE(ok || !message.empty()) << text;
    }
}

} // namespace
