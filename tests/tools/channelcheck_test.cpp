// channelcheck, the peer-suite comparison's measure of two channels: renderings made here whose
// channels cancel, match or differ by a known level, and what the tool says of them.
#include "virezplay_fixture.h"

#include <cmath>
#include <numbers>

using namespace virezplay;

namespace {

#ifdef MORVA_CHANNELCHECK

// A stereo 16-bit WAVE file of 44100 Hz: the canonical 44-byte header, then the frames.
void writeStereo(const fs::path& file, const std::vector<std::pair<double, double>>& frames) {
    std::vector<std::uint8_t> bytes;
    const auto put = [&bytes](std::uint32_t value, int count) {
        for (int i = 0; i < count; i++)
            bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    };
    const auto text = [&bytes](const char* s) { bytes.insert(bytes.end(), s, s + 4); };
    const std::uint32_t data = static_cast<std::uint32_t>(frames.size() * 4);
    text("RIFF");
    put(36 + data, 4);
    text("WAVE");
    text("fmt ");
    put(16, 4);
    put(1, 2);
    put(2, 2);
    put(44100, 4);
    put(44100 * 4, 4);
    put(4, 2);
    put(16, 2);
    text("data");
    put(data, 4);
    for (const auto& [left, right] : frames) {
        put(static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(left * 32767))), 2);
        put(static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(right * 32767))), 2);
    }
    writeBytes(file, bytes);
}

// One second of a 441 Hz sine at an amplitude, on each side as the signs say.
std::vector<std::pair<double, double>> sine(double amplitude, double leftSign, double rightSign) {
    std::vector<std::pair<double, double>> frames;
    for (int i = 0; i < 44100; i++) {
        const double v = amplitude * std::sin(2 * std::numbers::pi * 441 * i / 44100.0);
        frames.emplace_back(leftSign * v, rightSign * v);
    }
    return frames;
}

std::vector<double> numbers(const Result& r) {
    std::istringstream in(r.out);
    std::vector<double> out;
    double v = 0;
    while (in >> v)
        out.push_back(v);
    return out;
}

Result channelcheck(const fs::path& folder, const std::vector<std::string>& arguments) {
    const fs::path out = folder / ".stdout", err = folder / ".stderr";
    Result result;
    result.status = waitProgram(spawnProgram(MORVA_CHANNELCHECK, folder, arguments, {}, out, err));
    result.out = readText(out);
    result.err = readText(err);
    return result;
}

// A sine at half scale has an RMS of 0.5 / sqrt 2: -9.03 dBFS.
constexpr double halfScaleSineDb = -9.03;

#endif

class ChannelCheck : public Virezplay {};

} // namespace

TEST_F(ChannelCheck, LevelsTellCancellingFromMatchingChannels) {
#ifndef MORVA_CHANNELCHECK
    GTEST_SKIP() << "channelcheck is not built";
#else
    writeStereo(folder / "cancel.wav", sine(0.5, 1, -1));
    writeStereo(folder / "match.wav", sine(0.5, 1, 1));
    writeStereo(folder / "left.wav", sine(0.5, 1, 0));
    const std::vector<double> cancel = numbers(channelcheck(folder, {"levels", "cancel.wav"}));
    ASSERT_EQ(cancel.size(), 5u);
    EXPECT_NEAR(cancel[0], 1.0, 0.001) << "seconds";
    EXPECT_NEAR(cancel[1], halfScaleSineDb, 0.1) << "left";
    EXPECT_NEAR(cancel[2], halfScaleSineDb, 0.1) << "right";
    EXPECT_EQ(cancel[3], -60) << "the mono mix cancels to the floor";
    EXPECT_NEAR(cancel[4], halfScaleSineDb, 0.1) << "the difference is all of it";
    const std::vector<double> match = numbers(channelcheck(folder, {"levels", "match.wav"}));
    ASSERT_EQ(match.size(), 5u);
    EXPECT_NEAR(match[3], halfScaleSineDb, 0.1);
    EXPECT_EQ(match[4], -60) << "channels that match leave no difference";
    const std::vector<double> left = numbers(channelcheck(folder, {"levels", "left.wav"}));
    ASSERT_EQ(left.size(), 5u);
    EXPECT_EQ(left[2], -60) << "a silent right channel";
    EXPECT_NEAR(left[3], halfScaleSineDb - 6.02, 0.1) << "half of one channel in the mono mix";
#endif
}

TEST_F(ChannelCheck, CompareSaysHowFarLevelsLieApart) {
#ifndef MORVA_CHANNELCHECK
    GTEST_SKIP() << "channelcheck is not built";
#else
    writeStereo(folder / "a.wav", sine(0.5, 1, 1));
    writeStereo(folder / "quieter.wav", sine(0.25, 1, 1));
    writeStereo(folder / "oneside.wav", sine(0.5, 1, 0.5));
    const std::vector<double> same = numbers(channelcheck(folder, {"compare", "a.wav", "a.wav"}));
    ASSERT_EQ(same.size(), 4u);
    EXPECT_EQ(same[2], 0);
    EXPECT_EQ(same[3], 0);
    const std::vector<double> quieter = numbers(channelcheck(folder, {"compare", "a.wav", "quieter.wav"}));
    ASSERT_EQ(quieter.size(), 4u);
    EXPECT_NEAR(quieter[2], 6.0, 0.1);
    EXPECT_NEAR(quieter[3], 6.0, 0.1);
    // Channel by channel: the left sides agree, the right ones lie 6 dB apart.
    const std::vector<double> side = numbers(channelcheck(folder, {"compare", "a.wav", "oneside.wav"}));
    ASSERT_EQ(side.size(), 4u);
    EXPECT_NEAR(side[2], 6.0, 0.1);
    EXPECT_NEAR(side[3], 3.0, 0.1);
    // Against a feature track, the mono mix against its loudness: -9.03 dBFS is 0.3536.
    {
        std::ofstream feat(folder / "a.feat");
        feat << "# seconds 1.0\n";
        for (int w = 0; w < 21; w++)
            feat << (w < 10 ? "0.35355 40.0\n" : "0.17678 40.0\n");
    }
    const std::vector<double> track = numbers(channelcheck(folder, {"compare", "a.wav", "a.feat"}));
    ASSERT_EQ(track.size(), 4u);
    EXPECT_NEAR(track[1], 1.0, 1e-9);
    EXPECT_NEAR(track[2], 6.0, 0.1) << "the windows where the track is 6 dB lower";
    EXPECT_NEAR(track[3], 6.0 * 11 / 21, 0.1);
#endif
}

TEST_F(ChannelCheck, BadInputIsAnErrorWithAMessage) {
#ifndef MORVA_CHANNELCHECK
    GTEST_SKIP() << "channelcheck is not built";
#else
    writeBytes(folder / "junk.wav", std::vector<std::uint8_t>(100, 7));
    const Result junk = channelcheck(folder, {"levels", "junk.wav"});
    EXPECT_EQ(junk.status, 2);
    EXPECT_NE(junk.err.find("not a WAVE file"), std::string::npos) << junk.err;
    const Result missing = channelcheck(folder, {"levels", "missing.wav"});
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("cannot open"), std::string::npos) << missing.err;
    EXPECT_EQ(channelcheck(folder, {"levels"}).status, 2) << "usage";
#endif
}
