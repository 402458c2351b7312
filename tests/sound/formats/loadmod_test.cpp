#include "sound/formats/formats.h"
#include "sound/formats/loadmod.h"

#include "loader_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

using namespace loadertest;

namespace {

struct ModSampleSpec {
    std::string name = "sample";
    std::vector<std::int8_t> data;
    int lengthWords = -1; // -1 = data size / 2
    std::uint8_t finetune = 0, volume = 64;
    std::uint16_t loopStart = 0, loopLength = 1; // words
};

// One channel's entry of a row.
struct ModCell {
    int pattern, row, channel;
    int period, instrument, effect, parameter;
};

struct ModSpec {
    std::string name = "mod song";
    std::string signature = "M.K.";
    int channels = 4;
    std::vector<std::uint8_t> orders = {0};
    int songLength = -1; // -1 = orders.size()
    std::uint8_t restart = 127;
    std::vector<ModCell> cells;
    std::vector<ModSampleSpec> samples;
    bool soundtracker = false; // 15 sample headers and no signature
    int extra = 0;             // bytes between the signature and the patterns (Digital Tracker: 4)
};

void putBigEndian(std::vector<std::uint8_t>& f, std::size_t at, int value) {
    f[at] = static_cast<std::uint8_t>(value >> 8);
    f[at + 1] = static_cast<std::uint8_t>(value);
}

std::vector<std::uint8_t> build(const ModSpec& spec) {
    // Song length, restart byte and orders follow the sample headers; then the signature.
    const std::size_t songLengthAt = spec.soundtracker ? 470 : 950;
    const std::size_t patternsAt = spec.soundtracker ? 600 : 1084 + static_cast<std::size_t>(spec.extra);
    std::vector<std::uint8_t> f(patternsAt, 0);
    std::memcpy(f.data(), spec.name.data(), std::min<std::size_t>(spec.name.size(), 20));
    for (std::size_t i = 0; i < spec.samples.size(); i++) {
        const ModSampleSpec& s = spec.samples[i];
        std::size_t at = 20 + 30 * i;
        std::memcpy(&f[at], s.name.data(), std::min<std::size_t>(s.name.size(), 22));
        putBigEndian(f, at + 22, s.lengthWords >= 0 ? s.lengthWords : static_cast<int>(s.data.size() / 2));
        f[at + 24] = s.finetune;
        f[at + 25] = s.volume;
        putBigEndian(f, at + 26, s.loopStart);
        putBigEndian(f, at + 28, s.loopLength);
    }
    f[songLengthAt] =
        static_cast<std::uint8_t>(spec.songLength >= 0 ? spec.songLength : static_cast<int>(spec.orders.size()));
    f[songLengthAt + 1] = spec.restart;
    const auto orders = f.begin() + static_cast<std::ptrdiff_t>(songLengthAt + 2);
    std::copy(spec.orders.begin(), spec.orders.end(), orders);
    if (!spec.soundtracker) std::memcpy(&f[1080], spec.signature.data(), 4);
    int patterns = *std::max_element(orders, orders + 128) + 1;
    std::size_t patternBytes = static_cast<std::size_t>(spec.channels) * 256;
    f.resize(patternsAt + static_cast<std::size_t>(patterns) * patternBytes);
    for (const ModCell& c : spec.cells) {
        std::size_t at = patternsAt + static_cast<std::size_t>(c.pattern) * patternBytes +
                         static_cast<std::size_t>(c.row * spec.channels + c.channel) * 4;
        f[at] = static_cast<std::uint8_t>((c.instrument & 0xf0) | c.period >> 8);
        f[at + 1] = static_cast<std::uint8_t>(c.period);
        f[at + 2] = static_cast<std::uint8_t>((c.instrument & 0x0f) << 4 | c.effect);
        f[at + 3] = static_cast<std::uint8_t>(c.parameter);
    }
    for (const ModSampleSpec& s : spec.samples)
        for (std::int8_t v : s.data)
            f.push_back(static_cast<std::uint8_t>(v));
    return f;
}

// A song whose first row plays instruments 1..count on channel 0, one a row.
ModSpec playing(std::vector<ModSampleSpec> samples, int count) {
    ModSpec spec;
    spec.samples = std::move(samples);
    for (int i = 1; i <= count; i++)
        spec.cells.push_back({0, i - 1, 0, 428, i, 0, 0});
    return spec;
}

class ModLoader : public LoaderTest {
  protected:
    ModLoader() : LoaderTest(protrackerFormat.load_memory) {}
    int load(const ModSpec& spec, int toDevice = 0) { return loadImage(build(spec), toDevice); }

    // The converted entry of one cell on channel 0 of row 0 (empty when nothing was written).
    std::vector<std::uint8_t> convert(int period, int instrument, int effect, int parameter) {
        ModSpec spec;
        spec.cells = {{0, 0, 0, period, instrument, effect, parameter}};
        EXPECT_EQ(load(spec), errOK);
        if (module == nullptr) return {};
        auto entries = rowEntries(module->patterns[0], 0);
        return entries.empty() ? std::vector<std::uint8_t>{} : entries[0];
    }
};

} // namespace

TEST_F(ModLoader, SignaturesGiveTheChannelCount) {
    const std::pair<const char*, int> signatures[] = {
        {"M.K.", 4}, {"M!K!", 4}, {"FLT4", 4}, {"OCTA", 8}, {"6CHN", 6}, {"10CH", 10}, {"32CH", 32}, {"TDZ3", 3},
        {"1CHN", 1}, {"M&K!", 4}, {"N.T.", 4}, {"FEST", 4}, {"EXO4", 4}, {"NSMS", 4}, {"LARD", 4}, {"PATT", 4},
        {"CD61", 6}, {"CD81", 8}, {"OKTA", 8}};
    for (auto [signature, channels] : signatures) {
        ModSpec spec;
        spec.signature = signature;
        spec.channels = channels;
        spec.cells = {{0, 63, channels - 1, 214, 0, 0, 0}}; // the last channel of the last row
        ASSERT_EQ(load(spec), errOK) << signature;
        EXPECT_EQ(module->channel_count, channels) << signature;
        EXPECT_EQ(rowEntries(module->patterns[0], 63),
                  (std::vector<std::vector<std::uint8_t>>{
                      {static_cast<std::uint8_t>(0x20 | (channels - 1)), 0x30, instrumentNone}}))
            << signature;
    }
    for (const char* refused : {"33CH", "0CHN", "TDZ0", "FLT8", "EXO8", "FA05", "xCHN", "M.K ", "\0\0\0\0"}) {
        ModSpec spec;
        spec.signature = std::string(refused, 4);
        EXPECT_EQ(load(spec), errInvalidModule) << refused;
    }
}

TEST_F(ModLoader, DigitalTrackerFilesHaveFourBytesBeforeThePatterns) {
    for (auto [signature, channels] : {std::pair{"FA04", 4}, std::pair{"FA06", 6}, std::pair{"FA08", 8}}) {
        ModSpec spec;
        spec.signature = signature;
        spec.channels = channels;
        spec.extra = 4;
        spec.samples = {ModSampleSpec{"drum", std::vector<std::int8_t>(8, 10)}};
        spec.cells = {{0, 0, 0, 428, 1, 0, 0}, {0, 63, channels - 1, 214, 1, 0, 0}};
        ASSERT_EQ(load(spec), errOK) << signature;
        EXPECT_EQ(module->channel_count, channels);
        EXPECT_EQ(rowEntries(module->patterns[0], 0), (std::vector<std::vector<std::uint8_t>>{{0x20, 0x20, 0}}))
            << signature << ": the first row where it begins";
        EXPECT_EQ(rowEntries(module->patterns[0], 63),
                  (std::vector<std::vector<std::uint8_t>>{{static_cast<std::uint8_t>(0x20 | (channels - 1)), 0x30, 0}}));
        ASSERT_NE(module->samples[0], nullptr);
        EXPECT_EQ(module->samples[0]->data[0], 10 ^ 0x80) << "the samples after the patterns";
    }
}

TEST_F(ModLoader, FifteenSampleSoundtrackerFilesHaveNoSignature) {
    ModSpec spec;
    spec.soundtracker = true;
    spec.restart = 120; // Soundtracker's tempo byte, no restart position
    spec.orders = {0, 1, 0};
    spec.samples = {ModSampleSpec{"st-01:bass", std::vector<std::int8_t>(16, 5)},
                    ModSampleSpec{"st-01:snare", std::vector<std::int8_t>(4, -3)}};
    spec.samples.resize(15);
    spec.cells = {{0, 0, 0, 428, 1, 0, 0}, {1, 2, 3, 214, 2, 0x0C, 0x20}};
    ASSERT_EQ(load(spec), errOK);
    EXPECT_EQ(module->channel_count, 4);
    EXPECT_EQ(module->instrument_count, 15);
    EXPECT_EQ(module->song_length, 3);
    EXPECT_EQ(module->restart_position, 0);
    EXPECT_EQ(module->pattern_count, 2);
    EXPECT_EQ(rowEntries(module->patterns[1], 2),
              (std::vector<std::vector<std::uint8_t>>{{0xa3, 0x30, 1, cmdSetVolume, 0x20}}));
    ASSERT_NE(module->samples[1], nullptr);
    EXPECT_EQ(module->samples[1]->length, 4);
    EXPECT_EQ(module->samples[1]->data[0], static_cast<std::uint8_t>(-3) ^ 0x80);

    // Without a signature only a header that only a song can have is read as one.
    const auto refused = [this](ModSpec bad) { EXPECT_EQ(load(bad), errInvalidModule); };
    ModSpec loud = spec;
    loud.samples[4].volume = 65;
    refused(loud);
    ModSpec control = spec;
    control.samples[0].name = std::string("st\x01") + "bass";
    refused(control);
    ModSpec noSong = spec;
    noSong.songLength = 0;
    refused(noSong);
    ModSpec farOrder = spec;
    farOrder.orders = {0, 128};
    farOrder.cells.clear();
    refused(farOrder);
}

TEST_F(ModLoader, PatternsTheSongNeverPlaysAreNotRead) {
    // Pattern 1 lies in the file, named only past the song's end, and holds what no song could.
    ModSpec spec;
    spec.orders = {0, 2, 1};
    spec.songLength = 2;
    spec.samples = {ModSampleSpec{"drum", std::vector<std::int8_t>(8, 10)}};
    spec.cells = {{0, 0, 0, 428, 1, 0, 0}, {1, 4, 0, 27, 0, 0, 0}, {1, 5, 1, 0, 32, 0, 0}, {2, 1, 2, 214, 1, 0, 0}};
    ASSERT_EQ(load(spec), errOK);
    EXPECT_EQ(module->pattern_count, 3);
    for (int row = 0; row < 64; row++)
        EXPECT_TRUE(rowEntries(module->patterns[1], row).empty()) << row;
    EXPECT_EQ(rowEntries(module->patterns[2], 1).size(), 1u);
    spec.orders = {0, 1, 2};
    EXPECT_EQ(load(spec), errInvalidPattern) << "played, the same pattern is bad data";
}

TEST_F(ModLoader, HeaderFieldsFillTheModule) {
    ModSpec spec;
    spec.name = "twenty characters!!!";
    spec.orders = {0, 1, 0};
    spec.orders.resize(128);
    spec.orders[100] = 3; // past the song's end, still stored in the file
    spec.songLength = 3;
    spec.restart = 2;
    ASSERT_EQ(load(spec), errOK);
    EXPECT_STREQ(module->name, "twenty characters!!!");
    EXPECT_EQ(module->play_mode, playModeProtracker);
    EXPECT_EQ(module->song_length, 3);
    EXPECT_EQ(module->restart_position, 2);
    EXPECT_EQ(module->pattern_count, 4);
    EXPECT_EQ(module->orders[1], 1);
    EXPECT_EQ(module->speed, 6);
    EXPECT_EQ(module->tempo, 125);
    EXPECT_EQ(module->global_volume, 64);
    EXPECT_EQ(module->instrument_count, 31);
    EXPECT_EQ(module->sample_count, 31);
    for (std::uint8_t restart : {127, 3, 200}) {
        spec.restart = restart;
        ASSERT_EQ(load(spec), errOK);
        EXPECT_EQ(module->restart_position, 0) << int(restart);
    }
    spec.songLength = 0;
    EXPECT_EQ(load(spec), errInvalidModule);
    spec.songLength = 129;
    EXPECT_EQ(load(spec), errInvalidModule);
}

TEST_F(ModLoader, PanningFollowsTheAmigaChannelsAndTheSeparationOption) {
    ModSpec spec;
    spec.signature = "8CHN";
    spec.channels = 8;
    ASSERT_EQ(load(spec), errOK);
    const int hard[8] = {0, 128, 128, 0, 0, 128, 128, 0};
    for (int c = 0; c < 8; c++)
        EXPECT_EQ(module->panning[c], hard[c]) << c;
    int saved = soundOptions[optDefaultStereoSeparation];
    soundOptions[optDefaultStereoSeparation] = 16;
    ASSERT_EQ(load(spec), errOK);
    EXPECT_EQ(module->panning[0], 48);
    EXPECT_EQ(module->panning[1], 80);
    EXPECT_EQ(module->panning[31], 48);
    soundOptions[optDefaultStereoSeparation] = 500; // out of range counts as the widest
    ASSERT_EQ(load(spec), errOK);
    EXPECT_EQ(module->panning[2], 128);
    soundOptions[optDefaultStereoSeparation] = saved;
}

TEST_F(ModLoader, PeriodsBecomeNotesAndOnlyExtendedOnesSetTheFlag) {
    EXPECT_EQ(convert(856, 0, 0, 0), (std::vector<std::uint8_t>{0x20, 0x10, instrumentNone}));
    EXPECT_EQ(convert(113, 3, 0, 0), (std::vector<std::uint8_t>{0x20, 0x3b, 2}));
    EXPECT_EQ(module->flags & moduleExtendedOctaves, 0);
    EXPECT_EQ(convert(0, 31, 0, 0), (std::vector<std::uint8_t>{0x20, noteNone, 30}));
    // A period between two entries takes the next shorter one's note; one above the table the first.
    EXPECT_EQ(convert(830, 0, 0, 0), (std::vector<std::uint8_t>{0x20, 0x11, instrumentNone}));
    EXPECT_EQ(module->flags & moduleExtendedOctaves, 0);
    for (int period : {1712, 4000, 907, 107, 28}) {
        EXPECT_EQ(convert(period, 0, 0, 0).size(), 3u);
        EXPECT_EQ(module->flags & moduleExtendedOctaves, moduleExtendedOctaves) << period;
    }
    EXPECT_EQ(convert(1712, 0, 0, 0)[1], 0x00);
    EXPECT_EQ(convert(28, 0, 0, 0)[1], 0x5b);
    ModSpec spec;
    spec.cells = {{0, 5, 1, 27, 0, 0, 0}};
    EXPECT_EQ(load(spec), errInvalidPattern) << "below the table";
    spec.cells = {{0, 5, 1, 0, 32, 0, 0}};
    EXPECT_EQ(load(spec), errInvalidPattern) << "instrument above 31";
}

TEST_F(ModLoader, EffectsMapToGenericCommands) {
    auto command = [&](int effect, int parameter) { return convert(0, 0, effect, parameter); };
    const int mapped[14] = {1, 2, 3, 4, 5, 6, 7, 8, 0, 10, 11, 12, 13, 14};
    for (int effect = 0; effect < 14; effect++) {
        if (effect == 8) continue;
        EXPECT_EQ(command(effect, 0x37),
                  (std::vector<std::uint8_t>{0x80, static_cast<std::uint8_t>(mapped[effect]), 0x37}))
            << effect;
    }
    EXPECT_TRUE(command(0, 0).empty()) << "no effect at all";
    EXPECT_EQ(command(8, 128), (std::vector<std::uint8_t>{0x80, 9, 128}));
    EXPECT_EQ(command(8, 164), (std::vector<std::uint8_t>{0x80, 9, 164}));
    EXPECT_TRUE(command(8, 129).empty());
    EXPECT_TRUE(command(8, 255).empty());
    const int extended[16] = {0, 17, 18, 0, 0, 36, 19, 0, 20, 21, 22, 23, 24, 25, 26, 0};
    for (int nibble = 0; nibble < 16; nibble++) {
        auto entry = command(14, nibble << 4 | 0x0a);
        if (extended[nibble] == 0)
            EXPECT_TRUE(entry.empty()) << "E" << nibble;
        else
            EXPECT_EQ(entry, (std::vector<std::uint8_t>{0x80, static_cast<std::uint8_t>(extended[nibble]), 0x0a}))
                << "E" << nibble;
    }
    EXPECT_EQ(command(15, 0x1f), (std::vector<std::uint8_t>{0x80, 15, 0x1f}));
    EXPECT_EQ(command(15, 0x20), (std::vector<std::uint8_t>{0x80, 16, 0x20})) << "F20 is 32 beats a minute";
    EXPECT_EQ(convert(428, 2, 12, 0x40), (std::vector<std::uint8_t>{0xa0, 0x20, 1, 13, 0x40}));
}

TEST_F(ModLoader, OnlyUsedInstrumentsGetSamplesAndDataIsMadeUnsigned) {
    ModSampleSpec unused, played;
    unused.data.assign(6, 9); // skipped, but still before the next sample's data
    played.data = {0, 1, -1, 127, -128, 64};
    played.finetune = 0xf7; // only the low nibble counts
    played.volume = 99;
    ModSpec spec = playing({unused, played}, 0);
    spec.cells = {{0, 0, 0, 428, 2, 0, 0}};
    ASSERT_EQ(load(spec), errOK);
    EXPECT_EQ(module->samples[0], nullptr);
    EXPECT_EQ(module->instruments[0]->sample_count, 0);
    EXPECT_EQ(module->instruments[0]->used, 0);
    const Sample* s = module->samples[1];
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(module->instruments[1]->sample_count, 1);
    EXPECT_EQ(module->instruments[1]->sample_list[0], s);
    EXPECT_EQ(module->instruments[1]->used, 1);
    EXPECT_EQ(s->type, 1);
    EXPECT_EQ(s->length, 6);
    EXPECT_EQ(s->loop_mode, 4);
    EXPECT_EQ(s->loop1_type, 0);
    EXPECT_EQ(s->finetune, 7);
    EXPECT_EQ(s->volume, 64);
    EXPECT_EQ(s->relative_note, 0);
    EXPECT_EQ(std::vector<std::uint8_t>(s->data, s->data + 6),
              (std::vector<std::uint8_t>{0x80, 0x81, 0x7f, 0xff, 0x00, 0xc0}));
}

TEST_F(ModLoader, LoopsCutTheSampleAndStayInsideIt) {
    ModSampleSpec s;
    s.data.assign(100, 5);
    s.loopStart = 10; // bytes 20..60
    s.loopLength = 20;
    ASSERT_EQ(load(playing({s}, 1)), errOK);
    const Sample* looped = module->samples[0];
    EXPECT_EQ(looped->loop_mode, 5);
    EXPECT_EQ(looped->loop1_type, 1);
    EXPECT_EQ(looped->loop1_start, 20);
    EXPECT_EQ(looped->loop1_end, 60);
    EXPECT_EQ(looped->length, 60) << "nothing after the loop is ever heard";

    s.loopLength = 100; // past the data
    ASSERT_EQ(load(playing({s}, 1)), errOK);
    EXPECT_EQ(module->samples[0]->loop1_end, 100);
    EXPECT_EQ(module->samples[0]->length, 100);
    s.loopStart = 60;
    ASSERT_EQ(load(playing({s}, 1)), errOK);
    EXPECT_EQ(module->samples[0]->loop_mode, 4) << "a loop wholly past the data";

    s.loopStart = 0;
    s.loopLength = 1; // one word at the start: no loop
    ASSERT_EQ(load(playing({s}, 1)), errOK);
    EXPECT_EQ(module->samples[0]->loop_mode, 4);
    EXPECT_EQ(module->samples[0]->length, 100);
    s.loopLength = 0;
    ASSERT_EQ(load(playing({s}, 1)), errOK);
    EXPECT_EQ(module->samples[0]->loop_mode, 4);

    ModSampleSpec empty;
    ASSERT_EQ(load(playing({empty}, 1)), errOK);
    EXPECT_EQ(module->samples[0]->type, 0);
    EXPECT_EQ(module->samples[0]->data, nullptr);
}

TEST_F(ModLoader, DeviceModeHandsUsedSamplesOverAndTakesThemBackOnFailure) {
    ModSampleSpec a, b;
    a.data = {1, 2, 3, 4};
    a.loopStart = 1;
    a.loopLength = 1;
    b.data = {-1, -2};
    ASSERT_EQ(load(playing({a, b}, 2), 1), errOK);
    ASSERT_EQ(recorded.size(), 2u);
    EXPECT_EQ(recorded[0].desc.loopMode, 5u);
    EXPECT_EQ(recorded[0].desc.loop1Start, 2u);
    EXPECT_EQ(recorded[0].desc.loop1End, 4u);
    EXPECT_EQ(recorded[0].data, (std::vector<std::uint8_t>{0x81, 0x82, 0x83, 0x84}));
    EXPECT_EQ(recorded[1].desc.loopMode, 4u);
    EXPECT_EQ(recorded[1].copy, SAMPLE_HAND_OVER);
    EXPECT_EQ(module->samples[1]->device_handle, 2);
    EXPECT_EQ(module->samples[1]->data, nullptr);

    b.lengthWords = 50; // runs past the end of the file
    recorded.clear();
    EXPECT_EQ(load(playing({a, b}, 2), 1), errEndOfFile);
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_TRUE(recorded[0].removed);
}

TEST_F(ModLoader, LoadsFromAFile) {
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("morva_loadmod_test_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    auto write = [&](const std::string& name, const std::vector<std::uint8_t>& bytes) {
        std::ofstream out(dir / name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return (dir / name).string();
    };
    ModSampleSpec s;
    s.data = {1, 2};
    std::string good = write("good.mod", build(playing({s}, 1)));
    ASSERT_EQ(load_protracker_module(good.c_str(), 0, nullptr, &module), errOK);
    EXPECT_EQ(module->samples[0]->data[1], 0x82);
    std::string other = write("other.mod", std::vector<std::uint8_t>(2000, 'x'));
    Module* none = nullptr;
    EXPECT_EQ(load_protracker_module(other.c_str(), 0, nullptr, &none), errInvalidModule);
    std::string tiny = write("tiny.mod", std::vector<std::uint8_t>(1083, 0));
    EXPECT_EQ(load_protracker_module(tiny.c_str(), 0, nullptr, &none), errEndOfFile);
    EXPECT_EQ(load_protracker_module((dir / "missing.mod").string().c_str(), 0, nullptr, &none), errFileNotFound);
    EXPECT_EQ(none, nullptr);
    std::filesystem::remove_all(dir);
}

TEST_F(ModLoader, EveryCorpusFileLoadsInBothModes) {
    loadEveryCorpusFile(protrackerFormat.load_memory, ".mod");
}

TEST_F(ModLoader, DamagedCopiesNeverCrashOrLeak) {
    std::vector<std::string> files = corpusFiles(".mod");
    std::vector<std::uint8_t> original;
    if (!files.empty()) {
        original = smallestFile(files);
    } else {
        ModSampleSpec s;
        s.data.assign(500, 3);
        s.loopStart = 10;
        s.loopLength = 50;
        original = build(playing({s, s}, 2));
    }
    // Header and patterns carry the structure; sample data is just numbers.
    std::size_t patternsEnd = std::min<std::size_t>(original.size(), 1084 + 4 * 1024);
    DamageCounts counts = loadDamagedCopies(protrackerFormat.load_memory, original,
                                            {{0, 1084}, {1084, patternsEnd}}, 2000);
    EXPECT_GT(counts.loaded, 0);
    EXPECT_GT(counts.refused, 0);
    std::printf("damaged Protracker copies: %d loaded, %d refused\n", counts.loaded, counts.refused);
}

TEST_F(ModLoader, EveryTruncationOfASmallFileIsHandled) {
    ModSampleSpec s;
    s.data = {1, 2, 3, 4, 5, 6, 7, 8};
    s.loopStart = 1;
    s.loopLength = 3;
    DamageCounts counts = loadEveryTruncation(protrackerFormat.load_memory, build(playing({s, s}, 2)));
    EXPECT_EQ(counts.loaded, 0) << "every byte of this file is needed";
}
