#include "sound/formats/formats.h"
#include "sound/formats/loads3m.h"

#include "loader_fixture.h"
#include "xmbuild.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

using namespace loadertest;

namespace {

struct S3mInstrumentSpec {
    std::string name = "instrument";
    std::uint8_t type = 1; // 1 sample, 0 empty, 2.. AdLib
    std::vector<std::uint8_t> data; // as stored
    std::int64_t length = -1;       // frames; -1 = data size (halved for 16-bit)
    std::uint32_t loopStart = 0, loopEnd = 0;
    std::uint8_t volume = 64;
    std::uint8_t flags = 0; // bit 0 loop, bit 1 stereo, bit 2 16-bit
    std::uint32_t rate = 8363;
    bool header = true; // false: parapointer 0
};

struct S3mSpec {
    std::string name = "s3m song";
    std::vector<std::uint8_t> orders = {0};
    std::vector<std::vector<std::uint8_t>> patterns = {{}}; // packed rows; empty = pointer 0
    std::vector<S3mInstrumentSpec> instruments;
    std::array<std::uint8_t, 32> channels{0, 8, 1, 9};
    bool panningTable = false;
    std::array<std::uint8_t, 32> panning{};
    std::uint16_t flags = 0, version = 0x1320, format = 2;
    std::uint8_t globalVolume = 64, speed = 6, tempo = 125;
};

using xmbuild::put16;
using xmbuild::put32;
// Pads the file to the next 16-byte boundary and returns its parapointer.
std::uint16_t paragraph(std::vector<std::uint8_t>& f) {
    f.resize((f.size() + 15) / 16 * 16);
    return static_cast<std::uint16_t>(f.size() / 16);
}

std::vector<std::uint8_t> build(const S3mSpec& spec) {
    std::vector<std::uint8_t> f(96, 0);
    std::memcpy(f.data(), spec.name.data(), std::min<std::size_t>(spec.name.size(), 28));
    std::size_t instruments = spec.instruments.size(), patterns = spec.patterns.size();
    put16(f, 32, static_cast<std::uint32_t>(spec.orders.size()));
    put16(f, 34, static_cast<std::uint32_t>(instruments));
    put16(f, 36, static_cast<std::uint32_t>(patterns));
    put16(f, 38, spec.flags);
    put16(f, 40, spec.version);
    put16(f, 42, spec.format);
    std::memcpy(&f[44], "SCRM", 4);
    f[48] = spec.globalVolume;
    f[49] = spec.speed;
    f[50] = spec.tempo;
    f[53] = spec.panningTable ? 252 : 0;
    std::copy(spec.channels.begin(), spec.channels.end(), f.begin() + 64);
    f.insert(f.end(), spec.orders.begin(), spec.orders.end());
    std::size_t pointers = f.size();
    f.resize(f.size() + 2 * (instruments + patterns));
    if (spec.panningTable) f.insert(f.end(), spec.panning.begin(), spec.panning.end());
    std::vector<std::size_t> headers;
    for (std::size_t k = 0; k < instruments; k++) {
        if (!spec.instruments[k].header) {
            headers.push_back(0);
            continue;
        }
        put16(f, pointers + 2 * k, paragraph(f));
        headers.push_back(f.size());
        f.resize(f.size() + 80);
    }
    for (std::size_t n = 0; n < patterns; n++) {
        if (spec.patterns[n].empty()) continue;
        put16(f, pointers + 2 * (instruments + n), paragraph(f));
        std::size_t at = f.size();
        f.resize(at + 2);
        put16(f, at, static_cast<std::uint32_t>(spec.patterns[n].size() + 2));
        f.insert(f.end(), spec.patterns[n].begin(), spec.patterns[n].end());
    }
    for (std::size_t k = 0; k < instruments; k++) {
        const S3mInstrumentSpec& s = spec.instruments[k];
        if (!s.header) continue;
        std::uint32_t segment = paragraph(f);
        std::size_t h = headers[k];
        f[h] = s.type;
        f[h + 13] = static_cast<std::uint8_t>(segment >> 16);
        put16(f, h + 14, segment);
        std::size_t frames = (s.flags & 4) ? s.data.size() / 2 : s.data.size();
        if (s.flags & 2) frames /= 2;
        put32(f, h + 16, static_cast<std::uint32_t>(s.length >= 0 ? s.length : static_cast<std::int64_t>(frames)));
        put32(f, h + 20, s.loopStart);
        put32(f, h + 24, s.loopEnd);
        f[h + 28] = s.volume;
        f[h + 31] = s.flags;
        put32(f, h + 32, s.rate);
        std::memcpy(&f[h + 48], s.name.data(), std::min<std::size_t>(s.name.size(), 28));
        std::memcpy(&f[h + 76], "SCRS", 4);
        f.insert(f.end(), s.data.begin(), s.data.end());
    }
    return f;
}

// Packed rows: one row holding the given entries, then 63 empty rows.
std::vector<std::uint8_t> oneRow(std::vector<std::uint8_t> entries) {
    entries.push_back(0);
    entries.insert(entries.end(), 63, 0);
    return entries;
}

// A song whose first row plays each instrument on a channel of its own.
S3mSpec playing(std::vector<S3mInstrumentSpec> instruments) {
    S3mSpec spec;
    std::vector<std::uint8_t> row;
    for (std::size_t k = 0; k < instruments.size(); k++)
        row.insert(row.end(), {static_cast<std::uint8_t>(0x20 | (k % 4)), 0x40, static_cast<std::uint8_t>(k + 1)});
    spec.patterns = {oneRow(row)};
    spec.instruments = std::move(instruments);
    return spec;
}

class S3mLoader : public LoaderTest {
  protected:
    S3mLoader() : LoaderTest(screamTrackerFormat.load_memory) {}
    int load(const S3mSpec& spec, int toDevice = 0) { return loadImage(build(spec), toDevice); }

    // The converted entries of the first row of a one-pattern song with two instruments.
    std::vector<std::vector<std::uint8_t>> convert(std::vector<std::uint8_t> entries) {
        S3mSpec spec;
        spec.instruments.resize(2);
        spec.patterns = {oneRow(std::move(entries))};
        EXPECT_EQ(load(spec), errOK);
        return module != nullptr ? rowEntries(module->patterns[0], 0) : std::vector<std::vector<std::uint8_t>>{};
    }
    std::vector<std::uint8_t> sampleData() const {
        const Sample* s = module->samples[0];
        return std::vector<std::uint8_t>(s->data, s->data + s->length);
    }
};

} // namespace

TEST_F(S3mLoader, HeaderFieldsFillTheModule) {
    S3mSpec spec;
    spec.name = "twenty-eight characters!!!!!";
    spec.globalVolume = 90;
    spec.speed = 4;
    spec.tempo = 150;
    spec.flags = 0x10;
    spec.version = 0x1320;
    ASSERT_EQ(load(spec), errOK);
    EXPECT_STREQ(module->name, "twenty-eight characters!!!!!");
    EXPECT_EQ(module->play_mode, playModeScreamTracker3);
    EXPECT_EQ(module->global_volume, 64);
    EXPECT_EQ(module->speed, 4);
    EXPECT_EQ(module->tempo, 150);
    EXPECT_EQ(module->restart_position, 0);
    EXPECT_EQ(module->flags, moduleAmigaLimits);
    spec.flags = 0x40;
    ASSERT_EQ(load(spec), errOK);
    EXPECT_EQ(module->flags, moduleFastVolumeSlides);
    spec.flags = 0;
    spec.version = 0x1300;
    ASSERT_EQ(load(spec), errOK);
    EXPECT_EQ(module->flags, moduleFastVolumeSlides) << "older versions slide on every tick";
    std::vector<std::uint8_t> image = build(spec);
    std::memcpy(&image[44], "SCRN", 4);
    EXPECT_EQ(loadImage(image), errInvalidModule);
}

TEST_F(S3mLoader, TrailingEndMarksLeaveTheOrderList) {
    S3mSpec spec;
    spec.orders = {0, 254, 3, 255, 1, 255, 255, 255};
    ASSERT_EQ(load(spec), errOK);
    ASSERT_EQ(module->song_length, 5);
    EXPECT_EQ(std::vector<std::uint16_t>(module->orders, module->orders + 5),
              (std::vector<std::uint16_t>{0, 0xfffe, 3, 0xffff, 1}));
    EXPECT_EQ(module->pattern_count, 4);
    for (int n = 1; n < 4; n++) {
        EXPECT_EQ(module->patterns[n]->row_count, 64) << "patterns beyond the file are empty";
        EXPECT_EQ(module->patterns[n]->size, 8 + 64);
    }
    for (std::vector<std::uint8_t> nothing : {std::vector<std::uint8_t>{255, 255}, {254, 254}, {255, 0}, {}}) {
        spec.orders = nothing;
        EXPECT_EQ(load(spec), errInvalidModule) << "no pattern to play";
    }
}

TEST_F(S3mLoader, PanningComesFromTheChannelSettingsOrTheTable) {
    S3mSpec spec;
    spec.channels.fill(255);
    std::array<std::uint8_t, 6> settings = {0, 8, 3, 12, 255, 20};
    std::copy(settings.begin(), settings.end(), spec.channels.begin());
    ASSERT_EQ(load(spec), errOK);
    EXPECT_EQ(std::vector<int>(module->panning, module->panning + 6), (std::vector<int>{0, 128, 0, 128, 0, 0}));
    int saved = soundOptions[optDefaultStereoSeparation];
    soundOptions[optDefaultStereoSeparation] = 32;
    ASSERT_EQ(load(spec), errOK);
    EXPECT_EQ(std::vector<int>(module->panning, module->panning + 4), (std::vector<int>{32, 96, 32, 96}));
    soundOptions[optDefaultStereoSeparation] = saved;

    spec.panningTable = true;
    spec.panning = {0x20, 0x2f, 0x27, 0x0c, 0x2c, 0x20};
    spec.channels[2] = 0;
    ASSERT_EQ(load(spec), errOK);
    // Coarse values: x 8, the middle two both centre, the upper half 8 further on.
    EXPECT_EQ(std::vector<int>(module->panning, module->panning + 6), (std::vector<int>{0, 128, 64, 128, 64, 64}));
    spec.panning[2] = 0x28;
    spec.panning[1] = 0x29;
    ASSERT_EQ(load(spec), errOK);
    EXPECT_EQ(module->panning[2], 64);
    EXPECT_EQ(module->panning[1], 80);
}

TEST_F(S3mLoader, NotesInstrumentsAndVolumes) {
    auto entries = convert({0x20, 0x4b, 1, 0x21, 254, 3, 0x22, 0x0c, 0, 0x23, 127, 2});
    EXPECT_EQ(entries, (std::vector<std::vector<std::uint8_t>>{{0x20, 0x4b, 0},
                                                              {0x21, noteKeyOff, instrumentNone},
                                                              {0x22, noteNone, instrumentNone},
                                                              {0x23, noteNone, 1}}));
    EXPECT_EQ(module->instruments[0]->used, 1);
    EXPECT_EQ(module->instruments[1]->used, 1);
    EXPECT_EQ(convert({0x40, 64, 0x41, 63, 0x42, 200, 0x43, 0}),
              (std::vector<std::vector<std::uint8_t>>{{0x40, 63}, {0x41, 63}, {0x42, 63}, {0x43, 0}}))
        << "volumes end at 63";
}

TEST_F(S3mLoader, CommandLettersMapToGenericCommands) {
    const int mapped[26] = {0, 15, 12, 14, 11, 3, 2, 4, 5, 0, 1, 7, 6, 0, 0, 10, 0, 29, 8, -1, 16, 0, 27, 30, 9, 0};
    for (int letter = 0; letter < 30; letter++) {
        if (letter == 19) continue;
        auto entries = convert({0x80, static_cast<std::uint8_t>(letter), 0x37});
        int expected = letter < 26 ? mapped[letter] : 0;
        if (expected == 0)
            EXPECT_TRUE(entries.empty()) << "letter " << letter;
        else
            EXPECT_EQ(entries, (std::vector<std::vector<std::uint8_t>>{
                                   {0x80, static_cast<std::uint8_t>(expected), 0x37}}))
                << "letter " << letter;
    }
    const int special[16] = {0, 0, 0, 0, 0, 0, 0, 0, 20, 0, 0, 19, 24, 25, 26, 0};
    for (int nibble = 0; nibble < 16; nibble++) {
        auto entries = convert({0x81, 19, static_cast<std::uint8_t>(nibble << 4 | 5)});
        if (special[nibble] == 0)
            EXPECT_TRUE(entries.empty()) << "S" << nibble;
        else
            EXPECT_EQ(entries,
                      (std::vector<std::vector<std::uint8_t>>{{0x81, static_cast<std::uint8_t>(special[nibble]), 5}}))
                << "S" << nibble;
    }
}

TEST_F(S3mLoader, ChannelsBeyondTheLastEnabledOneAreDropped) {
    S3mSpec spec;
    spec.channels.fill(255);
    spec.channels[0] = 0;
    spec.channels[2] = 9;
    // Channel 1 is off but below the last enabled one; channel 3 lies beyond it.
    spec.patterns = {oneRow({0xe1, 0x40, 0, 32, 1, 9, 0x43, 0x30, 0x22, 0x10, 0})};
    ASSERT_EQ(load(spec), errOK);
    EXPECT_EQ(rowEntries(module->patterns[0], 0),
              (std::vector<std::vector<std::uint8_t>>{{0xe1, 0x40, instrumentNone, 32, 15, 9},
                                                      {0x22, 0x10, instrumentNone}}));
    EXPECT_EQ(module->channel_count, 3);
    spec.patterns = {oneRow({0x20, 0x40, 0})};
    ASSERT_EQ(load(spec), errOK);
    EXPECT_EQ(module->channel_count, 1) << "only as many channels as the patterns use";
    spec.patterns = {{0x20, 0x40}};
    EXPECT_EQ(load(spec), errEndOfFile) << "rows cut short by the end of the file";
}

TEST_F(S3mLoader, EightBitSamplesFollowTheFormatWord) {
    S3mInstrumentSpec s;
    s.data = {0x00, 0x7f, 0x80, 0xff};
    S3mSpec spec = playing({s});
    ASSERT_EQ(load(spec), errOK);
    EXPECT_EQ(module->samples[0]->type, 1);
    EXPECT_EQ(sampleData(), (std::vector<std::uint8_t>{0x00, 0x7f, 0x80, 0xff})) << "unsigned as stored";
    spec.format = 1;
    ASSERT_EQ(load(spec), errOK);
    EXPECT_EQ(sampleData(), (std::vector<std::uint8_t>{0x80, 0xff, 0x00, 0x7f})) << "signed made unsigned";
}

TEST_F(S3mLoader, SixteenBitSamplesAreReadAsSixteenBit) {
    S3mInstrumentSpec s;
    s.flags = 0x04;
    s.data = {0x00, 0x80, 0xff, 0xff, 0x34, 0x12};
    S3mSpec spec = playing({s});
    ASSERT_EQ(load(spec), errOK);
    const Sample* sample = module->samples[0];
    EXPECT_EQ(sample->type, 2);
    EXPECT_EQ(sample->length, 6);
    EXPECT_EQ(sampleData(), (std::vector<std::uint8_t>{0x00, 0x00, 0xff, 0x7f, 0x34, 0x92})) << "unsigned made signed";
    spec.format = 1;
    ASSERT_EQ(load(spec), errOK);
    EXPECT_EQ(sampleData(), (std::vector<std::uint8_t>{0x00, 0x80, 0xff, 0xff, 0x34, 0x12})) << "signed as stored";

    // Loop points count frames, so they double with the data.
    spec.instruments[0].flags = 0x05;
    spec.instruments[0].data.resize(20, 0);
    spec.instruments[0].loopStart = 2;
    spec.instruments[0].loopEnd = 7;
    ASSERT_EQ(load(spec), errOK);
    EXPECT_EQ(module->samples[0]->loop1_start, 4);
    EXPECT_EQ(module->samples[0]->loop1_end, 14);
    EXPECT_EQ(module->samples[0]->length, 14);
}

TEST_F(S3mLoader, StereoSamplesPlayTheirLeftChannel) {
    S3mInstrumentSpec eight, sixteen;
    eight.flags = 0x02;
    eight.data = {1, 2, 3, 201, 202, 203}; // left frames, then right
    sixteen.flags = 0x06;
    sixteen.data = {1, 0x81, 2, 0x82, 9, 0x89, 8, 0x88};
    S3mSpec spec = playing({eight, sixteen});
    ASSERT_EQ(load(spec), errOK);
    EXPECT_EQ(sampleData(), (std::vector<std::uint8_t>{1, 2, 3}));
    const Sample* s = module->samples[1];
    EXPECT_EQ(s->type, 2);
    EXPECT_EQ(std::vector<std::uint8_t>(s->data, s->data + s->length), (std::vector<std::uint8_t>{1, 1, 2, 2}));
}

TEST_F(S3mLoader, UsedInstrumentsGetOneSample) {
    S3mInstrumentSpec looped, adlib, unused, noHeader;
    looped.name = "looped";
    looped.data.assign(100, 0x90);
    looped.flags = 0x01;
    looped.loopStart = 10;
    looped.loopEnd = 40;
    looped.volume = 70;
    looped.rate = 0;
    adlib.type = 2;
    adlib.data.assign(12, 1);
    unused.data.assign(50, 1);
    noHeader.header = false;
    S3mSpec spec = playing({looped, adlib, unused, noHeader});
    spec.patterns[0][8] = 4; // instrument 3 is never played: its note goes to instrument 4
    ASSERT_EQ(load(spec), errOK);
    const Sample* s = module->samples[0];
    EXPECT_STREQ(s->name, "looped");
    EXPECT_STREQ(module->instruments[0]->name, "looped");
    EXPECT_EQ(s->loop_mode, 1);
    EXPECT_EQ(s->loop1_type, 1);
    EXPECT_EQ(s->loop1_start, 10);
    EXPECT_EQ(s->loop1_end, 40);
    EXPECT_EQ(s->length, 40) << "nothing after the loop is ever heard";
    EXPECT_EQ(s->volume, 64);
    EXPECT_EQ(s->middle_c_rate, 8363) << "no rate means the usual middle C";
    EXPECT_EQ(s->relative_note, 0) << "the rate has a field of its own";
    EXPECT_EQ(module->samples[1]->type, 0) << "AdLib instruments have no sample data";
    EXPECT_EQ(module->samples[2], nullptr);
    EXPECT_EQ(module->instruments[2]->sample_count, 0);
    ASSERT_NE(module->samples[3], nullptr);
    EXPECT_EQ(module->samples[3]->type, 0);

    spec.instruments[0].flags = 0; // loop points without the loop flag
    ASSERT_EQ(load(spec), errOK);
    EXPECT_EQ(module->samples[0]->loop_mode, 0);
    EXPECT_EQ(module->samples[0]->length, 100);
    spec.instruments[0].length = 0x7ffffff0;
    EXPECT_EQ(load(spec), errInvalidInstrument);
    spec.instruments[0].length = 1000;
    EXPECT_EQ(load(spec), errEndOfFile);
}

TEST_F(S3mLoader, DeviceModeHandsSamplesOver) {
    S3mInstrumentSpec s;
    s.flags = 0x05;
    s.data = {0, 0x80, 0, 0x90, 0, 0xa0};
    s.loopEnd = 3;
    ASSERT_EQ(load(playing({s, s}), 1), errOK);
    ASSERT_EQ(recorded.size(), 2u);
    EXPECT_EQ(recorded[1].desc.type, 2u);
    EXPECT_EQ(recorded[1].desc.loopMode, 1u);
    EXPECT_EQ(recorded[1].desc.loop1End, 6u);
    EXPECT_EQ(recorded[1].data, (std::vector<std::uint8_t>{0, 0, 0, 0x10, 0, 0x20}));
    EXPECT_EQ(module->samples[1]->device_handle, 2);
}

TEST_F(S3mLoader, EveryCorpusFileLoadsInBothModes) {
    loadEveryCorpusFile(screamTrackerFormat.load_memory, ".s3m");
}

namespace {

// Where a Scream Tracker 3 file keeps its structure: the header with its
// lists, and every instrument header and pattern its parapointers name.
std::vector<std::pair<std::size_t, std::size_t>> s3mStructure(const std::vector<std::uint8_t>& f) {
    std::size_t orders = f[32] | f[33] << 8, instruments = f[34] | f[35] << 8, patterns = f[36] | f[37] << 8;
    std::size_t lists = 96 + orders + 2 * (instruments + patterns) + 32;
    std::vector<std::pair<std::size_t, std::size_t>> ranges{{0, lists}};
    for (std::size_t k = 0; k < instruments + patterns; k++) {
        std::size_t at = 16 * static_cast<std::size_t>(f[96 + orders + 2 * k] | f[97 + orders + 2 * k] << 8);
        if (at != 0 && at < f.size()) ranges.emplace_back(at, std::min(f.size(), at + (k < instruments ? 80 : 600)));
    }
    return ranges;
}

} // namespace

TEST_F(S3mLoader, DamagedCopiesNeverCrashOrLeak) {
    std::vector<std::string> files = corpusFiles(".s3m");
    std::vector<std::uint8_t> original;
    if (!files.empty()) {
        original = smallestFile(files);
    } else {
        S3mInstrumentSpec s;
        s.data.assign(300, 0x80);
        original = build(playing({s, s}));
    }
    DamageCounts counts = loadDamagedCopies(screamTrackerFormat.load_memory, original, s3mStructure(original), 2000);
    EXPECT_GT(counts.loaded, 0);
    EXPECT_GT(counts.refused, 0);
    std::printf("damaged Scream Tracker 3 copies: %d loaded, %d refused\n", counts.loaded, counts.refused);
}

TEST_F(S3mLoader, EveryTruncationOfASmallFileIsHandled) {
    S3mInstrumentSpec s;
    s.data = {1, 2, 3, 4, 5, 6};
    s.flags = 0x04;
    DamageCounts counts = loadEveryTruncation(screamTrackerFormat.load_memory, build(playing({s, s})));
    EXPECT_EQ(counts.loaded, 0) << "every byte of this file is needed";
}
