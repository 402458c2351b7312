// virezplay's options for what to play and how it sounds, end to end: --opt=value and short forms,
// --seek and --start (exactly where playing from the start gets), --end, --repeat, --subsong with
// --info's list of subsongs, --stereo-separation, --interpolation, and the progress lines and
// summary a terminal gets (none with --quiet or without a terminal).
#include "virezplay_fixture.h"

#include <cmath>
#include <regex>
#include <tuple>

using namespace virezplay;

namespace {

// At 44100 Hz and tempo 125 a tick is 882 frames; at speed 6 a row is 5292 frames (0.12 s).
constexpr std::size_t rowFrames = 6 * 882;

std::vector<std::uint8_t> plainSong() {
    return song({SongPattern{}}, {0, 0});
}

// A song with slides, a tempo change, a pattern loop and a pattern delay, over five orders.
std::vector<std::uint8_t> busySong() {
    SongPattern a{32}, b{16}, c{24};
    a.effects = {{2, {0x0A, 0x04}}, {5, {0x04, 0x48}}, {9, {0x0F, 0x05}}, {20, {0x11, 0x02}}};
    a.strike = {0x08, 0x30}; // the notes of a and c to the left, of b to the right
    b.strike = {0x08, 0xE0};
    c.strike = {0x08, 0x50};
    b.effects = {{0, {0x0E, 0x60}}, {3, {0x0E, 0x62}}, {6, {0x0E, 0xE2}}, {8, {0x0F, 0x90}}};
    c.effects = {{1, {0x02, 0x04}}, {4, {0x0F, 0x03}}, {7, {0x0C, 0x20}}, {15, {0x10, 0x20}}};
    return song({a, b, c}, {0, 1, 2, 1, 0});
}

struct TimelineRow {
    double seconds;
    int order, row;
};

std::vector<TimelineRow> timeline(const fs::path& file) {
    std::vector<TimelineRow> rows;
    std::istringstream in(readText(file));
    TimelineRow r{};
    while (in >> r.seconds >> r.order >> r.row)
        rows.push_back(r);
    return rows;
}

// The sound data of a WAVE file from a frame on (16-bit stereo: 4 bytes a frame).
std::string from(const Wave& w, std::size_t frame) {
    return w.data.substr(std::min(frame * w.blockAlign, w.data.size()));
}

} // namespace

TEST_F(Virezplay, OptionsTakeTheirValueAfterAnEqualsSignOrAsTheNextWord) {
    writeBytes(folder / "plain.xm", plainSong());
    ASSERT_EQ(run(folder, {"--rate", "22050", "--amp", "70", "--wav", "a.wav", "plain.xm"}).status, 0);
    ASSERT_EQ(run(folder, {"--rate=22050", "--amp=70", "--wav=b.wav", "plain.xm"}).status, 0);
    ASSERT_EQ(run(folder, {"-r", "22050", "--amp", "70", "-o", "c.wav", "plain.xm"}).status, 0);
    ASSERT_EQ(run(folder, {"-r22050", "--amp=70", "-od.wav", "plain.xm"}).status, 0);
    const std::string a = readText(folder / "a.wav");
    EXPECT_EQ(readWave(folder / "a.wav").rate, 22050u);
    for (const char* other : {"b.wav", "c.wav", "d.wav"})
        EXPECT_TRUE(readText(folder / other) == a) << other;
    // -f is --force; "--" ends the options, so that a file may start with a dash.
    writeBytes(folder / "-odd.xm", plainSong());
    EXPECT_EQ(run(folder, {"-o", "a.wav", "plain.xm"}).status, 2);
    EXPECT_EQ(run(folder, {"-f", "-o", "a.wav", "--", "-odd.xm"}).status, 0);
    EXPECT_TRUE(readText(folder / "a.wav") != a);
}

TEST_F(Virezplay, SeekAndStartBeginExactlyWherePlayingGetsThere) {
    writeBytes(folder / "busy.xm", busySong());
    ASSERT_EQ(run(folder, {"-o", "whole.wav", "--timeline", "whole.tl", "busy.xm"}).status, 0);
    const Wave whole = readWave(folder / "whole.wav");
    const std::vector<TimelineRow> rows = timeline(folder / "whole.tl");
    ASSERT_GT(rows.size(), 60u);

    const Result seek = run(folder, {"--seek", "1.5", "-o", "seek.wav", "--timeline", "seek.tl", "busy.xm"});
    ASSERT_EQ(seek.status, 0) << seek.err;
    EXPECT_TRUE(readWave(folder / "seek.wav").data == from(whole, 66150));
    // The seek's timeline counts from the seek: its first row is the first that starts after it.
    const std::vector<TimelineRow> seekRows = timeline(folder / "seek.tl");
    const auto firstAfter = std::find_if(rows.begin(), rows.end(), [](const TimelineRow& r) { return r.seconds >= 1.5; });
    ASSERT_FALSE(seekRows.empty());
    EXPECT_EQ(seekRows[0].order, firstAfter->order);
    EXPECT_EQ(seekRows[0].row, firstAfter->row);
    EXPECT_NEAR(seekRows[0].seconds, firstAfter->seconds - 1.5, 0.0001);

    // Order 3 plays pattern 1 again: --start 3:5 begins where the song first gets there.
    for (const auto& [given, order, row] : std::vector<std::tuple<std::string, int, int>>{{"3:5", 3, 5}, {"2", 2, 0}}) {
        const Result start = run(folder, {"--start", given, "-o", "start.wav", "-f", "--timeline", "start.tl", "-f", "busy.xm"});
        ASSERT_EQ(start.status, 0) << start.err;
        const auto at = std::find_if(rows.begin(), rows.end(), [&](const TimelineRow& r) { return r.order == order && r.row == row; });
        ASSERT_NE(at, rows.end());
        const std::size_t frame = static_cast<std::size_t>(std::llround(at->seconds * 44100));
        const std::string got = readWave(folder / "start.wav").data;
        // The timeline's times are rounded to 0.1 ms: the rendering starts on the row's very frame,
        // within those.
        bool found = false;
        for (std::size_t f = frame - 3; f <= frame + 3 && !found; ++f)
            found = got == from(whole, f);
        EXPECT_TRUE(found) << given;
        const std::vector<TimelineRow> startRows = timeline(folder / "start.tl");
        ASSERT_FALSE(startRows.empty());
        EXPECT_EQ(startRows[0].seconds, 0.0);
        EXPECT_EQ(startRows[0].order, order);
        EXPECT_EQ(startRows[0].row, row);
    }
    const Result never = run(folder, {"--start", "3:40", "-o", "never.wav", "busy.xm"});
    EXPECT_EQ(never.status, 1);
    EXPECT_EQ(never.err, "virezplay: busy.xm: no subsong plays order 3 row 40\n");
    EXPECT_FALSE(fs::exists(folder / "never.wav"));
}

TEST_F(Virezplay, EndStopsAtItsTimeOfTheSongAndRepeatPlaysItAgain) {
    writeBytes(folder / "plain.xm", plainSong());
    ASSERT_EQ(run(folder, {"-o", "whole.wav", "plain.xm"}).status, 0);
    const Wave whole = readWave(folder / "whole.wav");
    ASSERT_EQ(run(folder, {"--end", "2", "-o", "end.wav", "plain.xm"}).status, 0);
    EXPECT_TRUE(readWave(folder / "end.wav").data == whole.data.substr(0, 88200 * 4));
    ASSERT_EQ(run(folder, {"--seek", "1", "--end", "2.5", "-o", "middle.wav", "plain.xm"}).status, 0);
    EXPECT_TRUE(readWave(folder / "middle.wav").data == whole.data.substr(44100 * 4, 66150 * 4));
    // Past the song's own end, the end is the song's.
    ASSERT_EQ(run(folder, {"--end", "100", "-o", "long.wav", "plain.xm"}).status, 0);
    EXPECT_TRUE(readText(folder / "long.wav") == readText(folder / "whole.wav"));

    const Result twice = run(folder, {"--repeat", "1", "-o", "twice.wav", "--timeline", "twice.tl", "plain.xm"});
    ASSERT_EQ(twice.status, 0) << twice.err;
    EXPECT_EQ(readWave(folder / "twice.wav").frames(), 64 * rowFrames);
    EXPECT_EQ(timeline(folder / "twice.tl").size(), 64u);
    ASSERT_EQ(run(folder, {"--repeat", "0", "-o", "once.wav", "plain.xm"}).status, 0);
    EXPECT_TRUE(readText(folder / "once.wav") == readText(folder / "whole.wav"));
    ASSERT_EQ(run(folder, {"--repeat", "2", "--end", "10", "-o", "ten.wav", "plain.xm"}).status, 0);
    EXPECT_EQ(readWave(folder / "ten.wav").frames(), 441000u); // before the third time round ends at 11.52 s
}

TEST_F(Virezplay, SubsongsAreListedByInfoAndChosenBySubsong) {
    // Orders 0 and 1 and a jump back: the first song; orders 2 and 3, whose fourth row jumps back
    // to order 3's start, the second; order 4, which does the same, the third.
    SongPattern jumpBack{16}, stayThree{4}, stayFour{4};
    jumpBack.effects[15] = {0x0B, 0x00};
    stayThree.effects[3] = {0x0B, 0x03};
    stayFour.effects[3] = {0x0B, 0x04};
    writeBytes(folder / "three.xm",
               song({SongPattern{}, jumpBack, SongPattern{8}, stayThree, stayFour}, {0, 1, 2, 3, 4}));
    const Result info = run(folder, {"--info", "three.xm"});
    ASSERT_EQ(info.status, 0) << info.err;
    const auto f = fields(info.out);
    EXPECT_EQ(f.at("duration"), "0:03.840");
    EXPECT_EQ(f.at("subsongs"), "3");
    EXPECT_EQ(f.at("subsong 1"), "order 0, 0:03.840");
    EXPECT_EQ(f.at("subsong 2"), "order 2, 0:01.440");
    EXPECT_EQ(f.at("subsong 3"), "order 4, 0:00.480");

    const Result second = run(folder, {"--subsong", "2", "-o", "second.wav", "--timeline", "second.tl", "three.xm"});
    ASSERT_EQ(second.status, 0) << second.err;
    EXPECT_EQ(readWave(folder / "second.wav").frames(), 12 * rowFrames);
    EXPECT_EQ(timeline(folder / "second.tl")[0].order, 2);
    ASSERT_EQ(run(folder, {"-s", "3", "-o", "third.wav", "three.xm"}).status, 0);
    EXPECT_EQ(readWave(folder / "third.wav").frames(), 4 * rowFrames);
    const Result none = run(folder, {"--subsong", "4", "-o", "fourth.wav", "three.xm"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.err, "virezplay: three.xm: there is no subsong 4 (the file has 3 subsongs)\n");
}

TEST_F(Virezplay, StereoSeparationAndInterpolationChangeTheSound) {
    writeBytes(folder / "busy.xm", busySong());
    ASSERT_EQ(run(folder, {"-o", "plain.wav", "busy.xm"}).status, 0);
    ASSERT_EQ(run(folder, {"--stereo-separation", "0", "-o", "middle.wav", "busy.xm"}).status, 0);
    ASSERT_EQ(run(folder, {"--stereo-separation=200", "-o", "wide.wav", "busy.xm"}).status, 0);
    ASSERT_EQ(run(folder, {"--stereo-separation", "100", "-o", "full.wav", "busy.xm"}).status, 0);
    const Wave middle = readWave(folder / "middle.wav");
    std::size_t unequal = 0;
    for (std::size_t i = 0; i + 3 < middle.data.size(); i += 4)
        unequal += middle.data.compare(i, 2, middle.data, i + 2, 2) != 0;
    EXPECT_EQ(unequal, 0u);
    EXPECT_TRUE(readText(folder / "full.wav") == readText(folder / "plain.wav"));
    EXPECT_TRUE(readText(folder / "wide.wav") != readText(folder / "plain.wav"));

    ASSERT_EQ(run(folder, {"--interpolation", "nearest", "-o", "nearest.wav", "busy.xm"}).status, 0);
    ASSERT_EQ(run(folder, {"--interpolation=linear", "-o", "linear.wav", "busy.xm"}).status, 0);
    ASSERT_EQ(run(folder, {"--interpolate", "-o", "interpolate.wav", "busy.xm"}).status, 0);
    ASSERT_EQ(run(folder, {"--interpolation", "cubic", "-o", "cubic.wav", "busy.xm"}).status, 0);
    EXPECT_TRUE(readText(folder / "nearest.wav") == readText(folder / "plain.wav"));
    EXPECT_TRUE(readText(folder / "linear.wav") == readText(folder / "interpolate.wav"));
    EXPECT_TRUE(readText(folder / "cubic.wav") != readText(folder / "linear.wav"));
    EXPECT_TRUE(readText(folder / "cubic.wav") != readText(folder / "nearest.wav"));
    EXPECT_EQ(readWave(folder / "cubic.wav").frames(), readWave(folder / "plain.wav").frames());
}

// On a terminal, each file gets a progress line (name, percent, speed as times real time, the
// music's length so far) and the run a summary; not with --quiet, and not without a terminal.
TEST_F(Virezplay, RenderingShowsProgressAndASummaryOnATerminal) {
    writeBytes(folder / "a.xm", plainSong());
    writeBytes(folder / "b.xm", song({SongPattern{8}}, {0}));
    const Result r = runOnTerminal(folder, {"-o", "%s.wav", "a.xm", "b.xm", "missing.xm"}, {}, {});
    EXPECT_EQ(r.status, 1) << r.out;
    const std::vector<std::string> shown = terminalLines(r.out);
    const std::regex done(R"(a\.xm  100%  [0-9]+x  0:03\.840)");
    EXPECT_TRUE(std::any_of(shown.begin(), shown.end(), [&](const std::string& l) { return std::regex_match(l, done); }))
        << r.out;
    const std::regex second(R"(b\.xm  100%  [0-9]+x  0:00\.960)");
    EXPECT_TRUE(std::any_of(shown.begin(), shown.end(), [&](const std::string& l) { return std::regex_match(l, second); }))
        << r.out;
    const std::regex summary(R"(virezplay: 2 of 3 files rendered: 0:04\.800 of music in [0-9.]+ s(, [0-9]+x real time)?)");
    EXPECT_TRUE(std::regex_match(shown.back(), summary)) << shown.back();
    EXPECT_NE(r.out.find("virezplay: missing.xm: File does not exist"), std::string::npos);

    const Result quiet = runOnTerminal(folder, {"-q", "-f", "-o", "%s.wav", "a.xm"}, {}, {});
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.out, "");
    const Result plain = run(folder, {"-f", "-o", "%s.wav", "a.xm"});
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(plain.out + plain.err, "");
}
