// virezplay's live play on a terminal (a pseudo-terminal, SDL's dummy sound output): the title
// line of each file, the status line that fits the terminal, and the keys: h lists them, the
// arrows seek and change the volume, space pauses, n and p go to the next file and the one
// before, q stops.
#include "virezplay_fixture.h"

#include <regex>

using namespace virezplay;

namespace {

const std::vector<std::string> dummyOutput = {"SDL_AUDIODRIVER=dummy"};

// The status lines among what the terminal showed: they start with the time.
std::vector<std::string> statusLines(const std::string& out) {
    std::vector<std::string> status;
    for (const std::string& line : terminalLines(out))
        if (std::regex_search(line, std::regex(R"(^[0-9]+:[0-9]{2}\.[0-9]{3} / )"))) status.push_back(line);
    return status;
}

// The seconds a status line shows first.
double secondsOf(const std::string& status) {
    return std::stoi(status.substr(0, status.find(':'))) * 60 + std::stod(status.substr(status.find(':') + 1));
}

bool noOutputHere(const Result& r) {
    return r.out.find("no sound output could be opened") != std::string::npos;
}

} // namespace

TEST_F(Virezplay, LiveKeysSeekPauseChangeTheVolumeAndGoFromFileToFile) {
    // About 31 s: four orders of 64 rows.
    writeBytes(folder / "long.xm", song({SongPattern{64}}, {0, 0, 0, 0}, "the long one"));
    writeBytes(folder / "other.xm", song({SongPattern{64}}, {0, 0}, "the other one"));
    const std::string right = "\033[C", left = "\033[D", up = "\033[A";
    const Result r = runOnTerminal(folder, {"long.xm", "other.xm"}, dummyOutput,
                                   {{500, "h"},
                                    {800, right},
                                    {1300, up},
                                    {1700, left},
                                    {2200, " "},
                                    {2900, " "},
                                    {3300, "n"},
                                    {3900, "p"},
                                    {4500, "-"},
                                    {4900, "q"}});
    if (noOutputHere(r)) GTEST_SKIP() << "SDL has no dummy output here: " << r.out;
    ASSERT_EQ(r.status, 0) << r.out;
    const std::vector<std::string> shown = terminalLines(r.out);
    // The titles: long.xm, other.xm after n, long.xm again after p.
    std::vector<std::string> titles;
    for (const std::string& line : shown)
        if (line.find(": \"the ") != std::string::npos) titles.push_back(line);
    ASSERT_EQ(titles.size(), 3u) << r.out;
    EXPECT_EQ(titles[0], "long.xm: \"the long one\", XM, 2 channels");
    EXPECT_EQ(titles[1], "other.xm: \"the other one\", XM, 2 channels");
    EXPECT_EQ(titles[2], titles[0]);
    // h: the key list.
    EXPECT_NE(r.out.find("keys:\r\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("left, right   10 seconds back, and on"), std::string::npos);
    // The status lines in order: 10 seconds on, louder, back again, paused, on, the next file.
    const std::vector<std::string> status = statusLines(r.out);
    ASSERT_GT(status.size(), 20u) << r.out;
    std::size_t k = 0;
    const auto findNext = [&](auto test) {
        while (k < status.size() && !test(status[k]))
            ++k;
        return k < status.size();
    };
    EXPECT_TRUE(findNext([](const std::string& s) { return secondsOf(s) < 1.0; })) << "the start";
    EXPECT_TRUE(findNext([](const std::string& s) { return secondsOf(s) >= 10.0 && secondsOf(s) < 11.5; })) << "right";
    EXPECT_TRUE(findNext([](const std::string& s) { return s.find("volume 110%") != std::string::npos; })) << "up";
    EXPECT_TRUE(findNext([](const std::string& s) { return secondsOf(s) < 2.5; })) << "left";
    EXPECT_TRUE(findNext([](const std::string& s) { return s.find("(paused)") != std::string::npos; })) << "space";
    const double pausedAt = k < status.size() ? secondsOf(status[k]) : 0;
    EXPECT_TRUE(findNext([](const std::string& s) { return s.find("(paused)") == std::string::npos; })) << "space again";
    // Playing on starts where the pause stopped.
    if (k < status.size()) {
        EXPECT_GE(secondsOf(status[k]), pausedAt);
        EXPECT_LT(secondsOf(status[k]), pausedAt + 0.5);
    }
    EXPECT_TRUE(findNext([](const std::string& s) { return s.find("other.xm") != std::string::npos; })) << "n";
    EXPECT_TRUE(findNext([](const std::string& s) { return s.find("long.xm") != std::string::npos && secondsOf(s) < 1.0; }))
        << "p";
    // The volume stays from file to file; "-" takes it back to where it began.
    EXPECT_NE(status[k].find("volume 110%"), std::string::npos) << status[k];
    EXPECT_EQ(status.back().find("volume"), std::string::npos) << status.back();
}

TEST_F(Virezplay, TheStatusLineFitsTheTerminal) {
    const std::string name = "a-rather-long-name-for-a-song-file-to-show.xm";
    writeBytes(folder / name, song({SongPattern{16}}, {0}));
    for (const int width : {60, 100}) {
        const Result r = runOnTerminal(folder, {name}, dummyOutput, {{900, "q"}}, width);
        if (noOutputHere(r)) GTEST_SKIP() << "SDL has no dummy output here: " << r.out;
        EXPECT_EQ(r.status, 0) << r.out;
        const std::vector<std::string> status = statusLines(r.out);
        ASSERT_FALSE(status.empty()) << r.out;
        for (const std::string& line : status) {
            EXPECT_LT(static_cast<int>(line.size()), width) << line;
            // Time and position first; the name shortened at its start when it does not fit.
            EXPECT_EQ(line.rfind("0:0", 0), 0u) << line;
            if (width == 60)
                EXPECT_EQ(line.substr(line.size() - 10), "to-show.xm") << line;
            else
                EXPECT_EQ(line.substr(line.size() - name.size()), name) << line;
        }
        if (width == 60) {
            EXPECT_NE(status[0].find("  ..."), std::string::npos) << status[0];
        }
    }
}
