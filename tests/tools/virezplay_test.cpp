// virezplay end to end: the command line, --info, rendering to WAVE files with their timelines,
// where songs end, errors for files that do not load, and live play on SDL's dummy output.
#include "virezplay_fixture.h"

#include <cmath>
#include <csignal>
#include <cstdio>
#include <thread>

using namespace virezplay;

namespace {

// At 44100 Hz and tempo 125 a tick is 882 frames; at speed 6 a row is 5292 frames (0.12 s).
constexpr std::size_t rowFrames = 6 * 882;

std::vector<std::uint8_t> plainSong() {
    return song({SongPattern{}}, {0, 0});
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        out.push_back(line);
    return out;
}

std::string timelineLine(double seconds, int order, int row) {
    char text[64];
    std::snprintf(text, sizeof text, "%.4f %d %d", seconds, order, row);
    return text;
}

} // namespace

TEST_F(Virezplay, HelpAndVersionGoToStandardOutput) {
    for (const char* asked : {"--help", "-h"}) {
        Result help = run(folder, {asked});
        EXPECT_EQ(help.status, 0);
        EXPECT_NE(help.out.find("usage: virezplay [options] FILE..."), std::string::npos);
        for (const char* option :
             {"--info", "--verbose", "--wav", "-o,", "--timeline", "--force", "--subsong", "--start ORDER[:ROW]",
              "--seek SECONDS", "--end SECONDS", "--repeat N", "--rate", "--interpolation nearest|linear|cubic",
              "--integer", "--stereo-separation PERCENT", "--mono", "--8bit", "--loop", "--amp", "--quiet", "-q,",
              "--version", "-V,", "left and right arrows", "h lists the keys"})
            EXPECT_NE(help.out.find(option), std::string::npos) << option;
    }
    for (const char* asked : {"--version", "-V"}) {
        Result version = run(folder, {asked});
        EXPECT_EQ(version.status, 0);
        EXPECT_EQ(version.out, "virezplay 1.1 (sound library 1.1.2)\n");
    }
}

// A bad command line is said in one line, followed by where to look for the right one.
TEST_F(Virezplay, BadCommandLinesAreRefusedInOneLine) {
    writeBytes(folder / "a.xm", plainSong());
    writeBytes(folder / "b.xm", plainSong());
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "no module file given"},
        {{"--frobnicate", "a.xm"}, "unknown option --frobnicate"},
        {{"--frobnicate=3", "a.xm"}, "unknown option --frobnicate"},
        {{"-x", "a.xm"}, "unknown option -x"},
        {{"--rate", "1000", "a.xm"}, "bad value for --rate"},
        {{"--rate=44k", "a.xm"}, "bad value for --rate: \"44k\""},
        {{"-r", "5", "a.xm"}, "bad value for --rate"},
        {{"--amp", "-5", "a.xm"}, "bad value for --amp"},
        {{"--mono=1", "a.xm"}, "--mono takes no value"},
        {{"a.xm", "--wav"}, "--wav needs a value"},
        {{"a.xm", "-o"}, "-o needs a value"},
        {{"--interpolation", "quintic", "a.xm"}, "bad value for --interpolation: \"quintic\" (nearest, linear or cubic)"},
        {{"--stereo-separation", "300", "a.xm"}, "bad value for --stereo-separation"},
        {{"--repeat", "-2", "a.xm"}, "bad value for --repeat"},
        {{"--subsong", "0", "a.xm"}, "bad value for --subsong"},
        {{"--start", "3:x", "a.xm"}, "bad value for --start"},
        {{"--seek", "-4", "a.xm"}, "bad value for --seek"},
        {{"--end", "1e3", "a.xm"}, "bad value for --end"},
        {{"--seek", "5", "--end", "4", "a.xm"}, "--end must come after --seek"},
        {{"--seek", "5", "--start", "1", "a.xm"}, "--start and --seek do not go together"},
        {{"--timeline", "t.txt", "a.xm"}, "--timeline goes with --wav"},
        {{"--integer", "--interpolation", "cubic", "a.xm"}, "--integer goes with nearest interpolation only"},
        {{"--info", "--wav", "x.wav", "a.xm"}, "--info and --wav do not go together"},
        {{"--wav", "-", "--timeline", "-", "a.xm"}, "cannot both go to standard output"},
        {{"--wav", "out.wav", "a.xm", "b.xm"}, "needs to be a folder (DIR/) or hold %s"},
    };
    for (const auto& [arguments, message] : cases) {
        const Result r = run(folder, arguments);
        EXPECT_EQ(r.status, 2) << message;
        const std::vector<std::string> said = lines(r.err);
        ASSERT_EQ(said.size(), 2u) << r.err;
        EXPECT_EQ(said[0].rfind("virezplay: ", 0), 0u) << r.err;
        EXPECT_NE(said[0].find(message), std::string::npos) << r.err;
        EXPECT_EQ(said[1], "try virezplay --help") << message;
        EXPECT_EQ(r.out, "");
    }
    EXPECT_FALSE(fs::exists(folder / "out.wav"));
}

TEST_F(Virezplay, InfoDescribesEachFile) {
    writeBytes(folder / "plain.xm", plainSong());
    // Three patterns of 16, 8 and 4 rows; a name with a control byte in it.
    writeBytes(folder / "named.xm",
               song({SongPattern{}, SongPattern{8}, SongPattern{4}}, {1, 2, 1}, "odd\x07name"));
    const Result r = run(folder, {"--info", "plain.xm", "named.xm"});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::size_t second = r.out.find("\nfile: named.xm\n");
    ASSERT_NE(second, std::string::npos) << r.out;
    const auto plain = fields(r.out.substr(0, second));
    EXPECT_EQ(plain.at("file"), "plain.xm");
    EXPECT_EQ(plain.at("format"), "XM");
    EXPECT_EQ(plain.at("name"), "virezplay test");
    EXPECT_EQ(plain.at("channels"), "2");
    EXPECT_EQ(plain.at("orders"), "2");
    EXPECT_EQ(plain.at("patterns"), "1");
    EXPECT_EQ(plain.at("instruments"), "1");
    EXPECT_EQ(plain.at("samples"), "1");
    EXPECT_EQ(plain.at("duration"), "0:03.840"); // 32 rows of 0.12 s
    EXPECT_EQ(plain.at("subsongs"), "1");
    EXPECT_EQ(plain.at("subsong 1"), "order 0, 0:03.840");
    const auto named = fields(r.out.substr(second));
    EXPECT_EQ(named.at("name"), "odd\\x07name");
    EXPECT_EQ(named.at("orders"), "3");
    EXPECT_EQ(named.at("patterns"), "3");
    EXPECT_EQ(named.at("duration"), "0:02.400"); // 8 + 4 + 8 rows
    EXPECT_EQ(lines(r.out).size(), 2 * 11 + 1u);
    // With --verbose, the names of the instruments and samples too.
    const Result verbose = run(folder, {"-i", "-v", "named.xm"});
    const auto parts = fields(verbose.out);
    EXPECT_EQ(parts.at("instrument 1"), "square");
    EXPECT_EQ(parts.at("sample 1"), "sample");
    EXPECT_EQ(parts.count("message"), 0u); // the format has none
}

TEST_F(Virezplay, FileThatDoesNotLoadIsReportedAndTheOthersStillPlay) {
    writeBytes(folder / "good.xm", plainSong());
    writeBytes(folder / "junk.xm", std::vector<std::uint8_t>(100, 0x5A));
    std::vector<std::uint8_t> header = plainSong();
    header.resize(200); // cut inside its header
    writeBytes(folder / "header.xm", header);
    fs::create_directories(folder / "out");
    const Result r = run(folder, {"--wav", "out/", "missing.xm", "good.xm", "junk.xm", "header.xm"});
    EXPECT_EQ(r.status, 1);
    const std::vector<std::string> said = lines(r.err);
    ASSERT_EQ(said.size(), 3u) << r.err;
    EXPECT_EQ(said[0], "virezplay: missing.xm: File does not exist");
    // Which loader gets a file without a signature, and what it says, is the loaders' business.
    EXPECT_EQ(said[1].rfind("virezplay: junk.xm: ", 0), 0u);
    EXPECT_GT(said[1].size(), std::string("virezplay: junk.xm: ").size());
    EXPECT_EQ(said[2], "virezplay: header.xm: Unexpected end of file");
    EXPECT_EQ(readWave(folder / "out" / "good.wav").frames(), 32 * rowFrames);
    EXPECT_FALSE(fs::exists(folder / "out" / "missing.wav"));
    EXPECT_FALSE(fs::exists(folder / "out" / "junk.wav"));
    EXPECT_FALSE(fs::exists(folder / "out" / "header.wav"));
    // --info and live play report the same way.
    const Result info = run(folder, {"--info", "junk.xm", "good.xm"});
    EXPECT_EQ(info.status, 1);
    EXPECT_EQ(info.err, said[1] + "\n");
    EXPECT_EQ(fields(info.out).at("duration"), "0:03.840");
}

// A file whose sample data ends early plays with the data that is there, and one line says what
// was missing; a header or patterns cut short are still refused.
TEST_F(Virezplay, AFileCutInItsSampleDataPlaysWithWhatIsThere) {
    const std::vector<std::uint8_t> whole = plainSong();
    // The square wave is the last 64 bytes of the file.
    writeBytes(folder / "cut.xm", std::vector<std::uint8_t>(whole.begin(), whole.end() - 40));
    writeBytes(folder / "empty.xm", std::vector<std::uint8_t>(whole.begin(), whole.end() - 64));
    writeBytes(folder / "patterns.xm", std::vector<std::uint8_t>(whole.begin(), whole.begin() + 360));
    const Result r = run(folder, {"-o", "%s.wav", "cut.xm", "empty.xm", "patterns.xm"});
    EXPECT_EQ(r.status, 1);
    const std::vector<std::string> said = lines(r.err);
    ASSERT_EQ(said.size(), 3u) << r.err;
    EXPECT_EQ(said[0], "virezplay: cut.xm: the file ends early (40 bytes of sample data missing, 1 sample ends "
                       "early); the missing part is silent");
    EXPECT_EQ(said[1], "virezplay: empty.xm: the file ends early (64 bytes of sample data missing, 1 sample ends "
                       "early); the missing part is silent");
    EXPECT_EQ(said[2], "virezplay: patterns.xm: Unexpected end of file");
    EXPECT_EQ(readWave(folder / "cut.wav").frames(), 32 * rowFrames);
    const Wave empty = readWave(folder / "empty.wav");
    EXPECT_EQ(empty.frames(), 32 * rowFrames);
    EXPECT_EQ(empty.data, std::string(empty.data.size(), '\0'));
    EXPECT_FALSE(fs::exists(folder / "patterns.wav"));
    // --info says the same, and describes the file.
    const Result info = run(folder, {"--info", "cut.xm"});
    EXPECT_EQ(info.status, 0);
    EXPECT_EQ(info.err, said[0] + "\n");
    EXPECT_EQ(fields(info.out).at("duration"), "0:03.840");
}

TEST_F(Virezplay, WaveIsStereoSixteenBitAtTheRateAndAsLongAsTheSong) {
    writeBytes(folder / "plain.xm", plainSong());
    const Result r = run(folder, {"--wav", "plain.wav", "plain.xm"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    const Wave w = readWave(folder / "plain.wav");
    ASSERT_TRUE(w.valid);
    EXPECT_EQ(w.format, 1);
    EXPECT_EQ(w.channels, 2);
    EXPECT_EQ(w.rate, 44100u);
    EXPECT_EQ(w.bits, 16);
    EXPECT_EQ(w.blockAlign, 4);
    EXPECT_EQ(w.byteRate, 44100u * 4);
    EXPECT_EQ(w.frames(), 32 * rowFrames);
    EXPECT_EQ(w.dataSize, w.data.size());
    EXPECT_EQ(w.riffSize, 36 + w.data.size());
    // The song starts at once (the note is struck on the first row) and sounds to its end.
    const auto sample = [&](std::size_t frame) {
        return static_cast<std::int16_t>(static_cast<unsigned char>(w.data[frame * 4]) |
                                         static_cast<unsigned char>(w.data[frame * 4 + 1]) << 8);
    };
    int loud = 0;
    for (std::size_t f = 0; f < 200; ++f)
        loud += sample(f) != 0;
    EXPECT_GT(loud, 100);
    EXPECT_NE(sample(w.frames() - 10), 0);
}

TEST_F(Virezplay, OutputAndMixingOptionsChangeTheOutput) {
    writeBytes(folder / "plain.xm", plainSong());
    ASSERT_EQ(run(folder, {"--mono", "--8bit", "--rate", "22050", "--wav", "small.wav", "plain.xm"}).status,
              0);
    const Wave small = readWave(folder / "small.wav");
    EXPECT_EQ(small.channels, 1);
    EXPECT_EQ(small.bits, 8);
    EXPECT_EQ(small.rate, 22050u);
    EXPECT_EQ(small.blockAlign, 1);
    EXPECT_EQ(small.frames(), 32u * 6 * 442); // 22050 x 100 / 5000 + 1 = 442 frames a tick
    const auto level = [&](const std::string& name) {
        const Wave w = readWave(folder / name);
        double sum = 0;
        for (std::size_t i = 0; i + 1 < w.data.size(); i += 2) {
            const double v = static_cast<std::int16_t>(static_cast<unsigned char>(w.data[i]) |
                                                       static_cast<unsigned char>(w.data[i + 1]) << 8);
            sum += v * v;
        }
        return std::sqrt(sum / static_cast<double>(w.data.size() / 2));
    };
    ASSERT_EQ(run(folder, {"--wav", "full.wav", "plain.xm"}).status, 0);
    ASSERT_EQ(run(folder, {"--amp", "50", "--wav", "half.wav", "plain.xm"}).status, 0);
    ASSERT_EQ(run(folder, {"--interpolate", "--wav", "smooth.wav", "plain.xm"}).status, 0);
    ASSERT_EQ(run(folder, {"--integer", "--wav", "tables.wav", "plain.xm"}).status, 0);
    EXPECT_NEAR(level("half.wav") / level("full.wav"), 0.5, 0.05);
    EXPECT_NE(readText(folder / "smooth.wav"), readText(folder / "full.wav"));
    EXPECT_EQ(readWave(folder / "smooth.wav").frames(), readWave(folder / "full.wav").frames());
    // The integer family rounds differently from the float one but plays as loud, as long.
    EXPECT_NE(readText(folder / "tables.wav"), readText(folder / "full.wav"));
    EXPECT_NEAR(level("tables.wav") / level("full.wav"), 1.0, 0.05);
    EXPECT_EQ(readWave(folder / "tables.wav").frames(), readWave(folder / "full.wav").frames());
}

TEST_F(Virezplay, TimelineHasALineForEveryRowFromTheFirstOn) {
    writeBytes(folder / "plain.xm", plainSong());
    const Result r = run(folder, {"--wav", "/dev/null", "--timeline", "plain.tl", "plain.xm"});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> got = lines(readText(folder / "plain.tl"));
    ASSERT_EQ(got.size(), 32u);
    for (int row = 0; row < 32; ++row)
        EXPECT_EQ(got[row], timelineLine(row * 0.12, row / 16, row % 16));
}

// Where a song ends: the first row that would be read after it has wrapped or come back to a row
// it has played. The rendering, its timeline and --info all agree on it.
TEST_F(Virezplay, SongsEndWhereTheyComeRoundAndInfoAgreesWithTheRendering) {
    struct Case {
        const char* name;
        std::vector<SongPattern> patterns;
        std::vector<std::uint8_t> orders;
        std::size_t frames; // of the whole rendering
        std::size_t rows;   // timeline lines
    };
    const auto with = [](int rows, int row, std::uint8_t effect, std::uint8_t parameter) {
        SongPattern p{rows};
        p.effects[row] = SongRow{effect, parameter};
        return p;
    };
    const std::vector<Case> cases = {
        // Position jump back to the start on row 7 of the second order: that row plays in full.
        {"jumpback", {SongPattern{}, with(16, 7, 0x0B, 0)}, {0, 1, 0}, 24 * rowFrames, 24},
        // A jump ahead to order 2, whose last row jumps back to order 1, not yet played: order 1
        // plays in full, and the song ends where order 2 would come round again.
        {"jumpahead", {with(16, 0, 0x0B, 2), SongPattern{}, with(16, 15, 0x0B, 1)}, {0, 1, 2}, 33 * rowFrames, 33},
        // Pattern break to row 2 of the next order; the song then wraps at its end.
        {"break", {with(16, 3, 0x0D, 2), SongPattern{}}, {0, 1}, (4 + 14) * rowFrames, 18},
        // Speed 0 changes nothing: the song plays on to its end.
        {"speedzero", {with(16, 5, 0x0F, 0)}, {0}, 16 * rowFrames, 16},
        // A pattern delay repeats row 2 twice more: one timeline line, three rows of time.
        {"delay", {with(16, 2, 0x0E, 0xE2)}, {0}, 18 * rowFrames, 16},
        // Tempo 150 from the first row: 44100 x 100 / 6000 + 1, made even, is 736 frames a tick.
        {"tempo", {with(16, 0, 0x0F, 150)}, {0}, 16 * 6 * 736, 16},
        // Speed 3 from the first row.
        {"speed", {with(16, 0, 0x0F, 3)}, {0}, 16 * 3 * 882, 16},
        // Pattern loop: rows 0..3 three times in all.
        {"loop",
         {[&] {
             SongPattern p = with(8, 0, 0x0E, 0x60);
             p.effects[3] = SongRow{0x0E, 0x62};
             return p;
         }()},
         {0},
         (12 + 4) * rowFrames,
         16},
    };
    for (const Case& c : cases) {
        const std::string file = std::string(c.name) + ".xm";
        writeBytes(folder / file, song(c.patterns, c.orders));
        const Result r = run(folder, {"--wav", "%s.wav", "--timeline", "%s.tl", file});
        EXPECT_EQ(r.status, 0) << c.name << ": " << r.err;
        EXPECT_EQ(readWave(folder / (std::string(c.name) + ".wav")).frames(), c.frames) << c.name;
        EXPECT_EQ(lines(readText(folder / (std::string(c.name) + ".tl"))).size(), c.rows) << c.name;
        const Result info = run(folder, {"--info", file});
        char expected[32];
        const long long millis = static_cast<long long>(c.frames * 1000 / 44100);
        std::snprintf(expected, sizeof expected, "%lld:%02lld.%03lld", millis / 60000, millis / 1000 % 60, millis % 1000);
        EXPECT_EQ(fields(info.out)["duration"], expected) << c.name;
    }
    // The break lands on row 2 of the second order.
    const std::vector<std::string> broken = lines(readText(folder / "break.tl"));
    EXPECT_EQ(broken[3], timelineLine(0.36, 0, 3));
    EXPECT_EQ(broken[4], timelineLine(0.48, 1, 2));
    const std::vector<std::string> delayed = lines(readText(folder / "delay.tl"));
    EXPECT_EQ(delayed[3], timelineLine(5 * 0.12, 0, 3));
}

TEST_F(Virezplay, RenderingsRepeatAndDoNotDependOnTheOtherFiles) {
    writeBytes(folder / "a.xm", plainSong());
    writeBytes(folder / "b.xm", song({SongPattern{8}}, {0, 0, 0}));
    fs::create_directories(folder / "one");
    fs::create_directories(folder / "two");
    ASSERT_EQ(run(folder, {"--wav", "one/", "--timeline", "one/", "a.xm"}).status, 0);
    ASSERT_EQ(run(folder, {"--wav", "two", "--timeline", "two/%s.txt", "b.xm", "a.xm"}).status, 0);
    EXPECT_TRUE(fs::exists(folder / "two" / "b.wav"));
    EXPECT_TRUE(fs::exists(folder / "two" / "b.txt"));
    EXPECT_EQ(readText(folder / "one" / "a.wav"), readText(folder / "two" / "a.wav"));
    EXPECT_EQ(readText(folder / "one" / "a.timeline"), readText(folder / "two" / "a.txt"));
    ASSERT_EQ(run(folder, {"--wav", "again.wav", "a.xm"}).status, 0);
    EXPECT_EQ(readText(folder / "one" / "a.wav"), readText(folder / "again.wav"));
}

TEST_F(Virezplay, WaveGoesToStandardOutputAndToDevNull) {
    writeBytes(folder / "plain.xm", plainSong());
    ASSERT_EQ(run(folder, {"--wav", "file.wav", "plain.xm"}).status, 0);
    const std::string file = readText(folder / "file.wav");
    // Standard output into a file: it can seek back, so the header is the same.
    const Result toFile = run(folder, {"--wav", "-", "plain.xm"});
    EXPECT_EQ(toFile.status, 0) << toFile.err;
    EXPECT_EQ(toFile.out, file);
    // Into a pipe: the header goes first, with the sizes of a stream of unknown length.
    const std::string command = program.string() + " --wav - " + (folder / "plain.xm").string();
    std::FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string piped;
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        piped.append(buffer, n);
    EXPECT_EQ(pclose(pipe), 0);
    const Wave streamed = parseWave(piped);
    ASSERT_TRUE(streamed.valid);
    EXPECT_EQ(streamed.riffSize, 0xFFFFFFFFu);
    EXPECT_EQ(streamed.dataSize, 0xFFFFFFFFu - 36);
    EXPECT_EQ(streamed.data, parseWave(file).data);
    // Several files into the pipe: one WAVE stream after the other.
    const Result devnull = run(folder, {"--wav", "/dev/null", "plain.xm", "plain.xm"});
    EXPECT_EQ(devnull.status, 0);
    EXPECT_EQ(devnull.out + devnull.err, "");
}

TEST_F(Virezplay, LoopRendersUpToTheThirtyMinuteLimit) {
    writeBytes(folder / "plain.xm", plainSong());
    const Result r =
        run(folder, {"--loop", "--rate", "8000", "--wav", "/dev/null", "--timeline", "t", "plain.xm"});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> got = lines(readText(folder / "t"));
    ASSERT_FALSE(got.empty());
    const double last = std::stod(got.back());
    EXPECT_GT(last, 1799.0);
    EXPECT_LT(last, 1800.0);
    // 8000 x 100 / 5000 + 1, made even: 160 frames a tick, 0.12 s a row.
    EXPECT_EQ(got.size(), 15000u);
}

TEST_F(Virezplay, LivePlayShowsPlainStatusLinesAndEndsWithTheSong) {
    // About 1.4 s: two orders of six rows at speed 6, a status line every second.
    writeBytes(folder / "short.xm", song({SongPattern{6}}, {0, 0}));
    const Result r = run(folder, {"short.xm", "missing.xm"}, {"SDL_AUDIODRIVER=dummy"});
    if (r.err.find("no sound output could be opened") != std::string::npos)
        GTEST_SKIP() << "SDL has no dummy output here: " << r.err;
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("virezplay: missing.xm: File does not exist"), std::string::npos) << r.err;
    const std::vector<std::string> said = lines(r.out);
    ASSERT_GE(said.size(), 2u) << r.out;
    // The title, the format and the channels first; then time and position, then the name.
    EXPECT_EQ(said[0], "short.xm: \"virezplay test\", XM, 2 channels");
    EXPECT_EQ(said[1].rfind("0:0", 0), 0u) << said[1];
    EXPECT_NE(said[1].find(" / 0:01.440  order "), std::string::npos) << said[1];
    EXPECT_NE(said[1].find("/2  row "), std::string::npos) << said[1];
    EXPECT_EQ(said[1].substr(said[1].size() - 10), "  short.xm") << said[1];
}

TEST_F(Virezplay, LivePlayWithoutSoundOutputSaysSoInOneLine) {
    writeBytes(folder / "plain.xm", plainSong());
    const Result r = run(folder, {"plain.xm"}, {"SDL_AUDIODRIVER=no-such-output"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("virezplay: no sound output could be opened", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("(use --wav FILE to render to a file)"), std::string::npos) << r.err;
    EXPECT_EQ(lines(r.err).size(), 1u) << r.err;
}

// A mistyped name is said first, and alone: the sound output is not even tried.
TEST_F(Virezplay, MissingFilesAreReportedBeforeTheSoundOutputIsOpened) {
    Result r = run(folder, {"missing.xm"}, {"SDL_AUDIODRIVER=no-such-output"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "virezplay: missing.xm: File does not exist\n");
    writeBytes(folder / "plain.xm", plainSong());
    r = run(folder, {"missing.xm", "plain.xm"}, {"SDL_AUDIODRIVER=no-such-output"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("virezplay: missing.xm: File does not exist\nvirezplay: no sound output could be opened", 0), 0u)
        << r.err;
}

TEST_F(Virezplay, InterruptStopsLivePlayCleanly) {
    writeBytes(folder / "long.xm", song({SongPattern{64}}, {0, 0, 0, 0}));
    const fs::path err = folder / "err.txt";
    const pid_t child = start(folder, {"long.xm", "long.xm"}, {"SDL_AUDIODRIVER=dummy"}, "/dev/null", err);
    ASSERT_NE(child, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    kill(child, SIGINT);
    const int status = finish(child);
    if (readText(err).find("no sound output could be opened") != std::string::npos)
        GTEST_SKIP() << "SDL has no dummy output here";
    EXPECT_EQ(status, 130) << readText(err);
}
