// Damaged songs through the player and the real mixer: mutated copies of the
// corpus's Extended Module files, and songs of all four play modes built with
// every field a damaged file can leave behind. Every tick must succeed and
// the sanitizer build checks every access.
#include "player_fixture.h"

#include "sound/formats/formats.h"
#include "sound/mixer/dsm.h"
#include "sound/formats/loadxm.h"
#include "sound/api/mglobals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

using namespace playertest;

namespace {

constexpr std::uint32_t mixRate = 4000;
// The corpus's larger files take long to load in the sanitizer build and add
// nothing the smaller ones lack.
constexpr std::uintmax_t maxCorpusFileSize = 400000;
// Very slow tempos would ask for long mixes; the mixing is exercised as well at this many frames.
constexpr std::uint32_t maxFramesPerTick = 512;

std::uint32_t updateRate = 5000;
int recordUpdateRate(std::uint32_t rate) {
    updateRate = rate;
    return errOK;
}

std::vector<std::uint8_t> readAll(const std::filesystem::path& name) {
    std::vector<std::uint8_t> data(std::filesystem::file_size(name));
    std::ifstream in(name, std::ios::binary);
    in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
    return data;
}

std::uint32_t u16(const std::vector<std::uint8_t>& d, std::size_t at) {
    return at + 1 < d.size() ? d[at] | d[at + 1] << 8 : 0;
}

std::uint32_t u32(const std::vector<std::uint8_t>& d, std::size_t at) {
    return u16(d, at) | u16(d, at + 2) << 16;
}

// Bytes of an Extended Module file that can be damaged without breaking its
// structure (which the loader would refuse): the values in the packed pattern
// entries, and the note maps, envelopes, automatic vibrato and fade-out of the
// instruments.
struct Damageable {
    std::vector<std::size_t> values;    // any byte value
    std::vector<std::size_t> leadNotes; // an entry's first byte when it is a note: below 0x80
    std::vector<std::size_t> noteMaps;  // sample numbers: kept small, as every slot takes a mixer handle
};

Damageable damageableBytes(const std::vector<std::uint8_t>& d) {
    Damageable out;
    std::size_t at = 60 + u32(d, 60);
    const std::uint32_t channels = u16(d, 68), patterns = u16(d, 70), instruments = u16(d, 72);
    for (std::uint32_t p = 0; p < patterns && at + 9 <= d.size(); p++) {
        const std::size_t header = u32(d, at), rows = u16(d, at + 5), packed = u16(d, at + 7);
        if (header < 9 || at + header + packed > d.size()) return out;
        std::size_t i = at + header;
        const std::size_t end = i + packed;
        for (std::size_t e = 0; e < rows * channels && i < end; e++) {
            if (d[i] & 0x80) {
                const std::uint8_t flags = d[i++];
                for (int bit = 0; bit < 5; bit++)
                    if ((flags >> bit & 1) && i < end) out.values.push_back(i++);
            } else {
                out.leadNotes.push_back(i++);
                for (int k = 0; k < 4 && i < end; k++)
                    out.values.push_back(i++);
            }
        }
        at += header + packed;
    }
    for (std::uint32_t n = 0; n < instruments && at + 29 <= d.size(); n++) {
        const std::size_t size = u32(d, at), samples = u16(d, at + 27);
        if (samples == 0) {
            at += std::max<std::size_t>(size, 29);
            continue;
        }
        if (size < 243 || at + size > d.size()) return out;
        for (std::size_t k = 33; k < 33 + 96; k++)
            out.noteMaps.push_back(at + k);
        for (std::size_t k = 129; k < 241; k++) // envelopes, their counts and indices, vibrato, fade-out
            out.values.push_back(at + k);
        const std::size_t sampleHeader = u32(d, at + 29);
        std::size_t data = 0;
        for (std::size_t k = 0; k < samples; k++)
            data += u32(d, at + size + k * sampleHeader);
        at += size + samples * sampleHeader + data;
    }
    return out;
}

class PlayerRobustness : public ::testing::Test {
  protected:
    static constexpr int backgroundChannels = 32;
    static constexpr int allChannels = maxModuleChannels + backgroundChannels;

    void SetUp() override {
        blocksBefore = mem_blocks_in_use();
        savedDevice = currentDevice;
        savedOptions = mixerOptions;
        device = SoundDevice{};
        setMixerOperations(&device);
        device.setUpdateRate = recordUpdateRate;
        currentDevice = &device;
        mixerOptions.ulawSamples = 0; // no conversion pass over every loaded sample
        ASSERT_EQ(mixerInit(mixRate, MIX_MONO | MIX_16BIT | MIX_INTEGER), errOK);
        ASSERT_EQ(openChannels(allChannels), errOK);
        ASSERT_EQ(gmp_init(&device), errOK);
    }
    void TearDown() override {
        EXPECT_EQ(gmp_close(), errOK);
        closeChannels();
        mixerClose();
        currentDevice = savedDevice;
        mixerOptions = savedOptions;
        EXPECT_EQ(mem_blocks_in_use(), blocksBefore) << "blocks left allocated";
    }

    // Plays a module for a number of ticks, mixing each tick's frames; every
    // tick must succeed. Now and then the song is moved and its volumes changed
    // the way the interface can.
    void play(Module* module, int tickCount, std::mt19937& random) {
        int channels[allChannels];
        for (int c = 0; c < allChannels; c++)
            channels[c] = c;
        PlayHandle* h = nullptr;
        ASSERT_EQ(gmp_play_song(module, -1, 0, 0, 1, -1, channels, &h), errOK);
        // Impulse Tracker songs get voices for the notes their instruments let sound on.
        if (module->play_mode == playModeImpulse) {
            ASSERT_EQ(gmp_set_background_channels(h, backgroundChannels, channels + maxModuleChannels), errOK);
        }
        for (int t = 0; t < tickCount; t++) {
            ASSERT_EQ(gmp_play(), errOK) << "tick " << t;
            const std::uint32_t frames = std::clamp<std::uint32_t>(
                mixRate * 100 / std::max<std::uint32_t>(updateRate, 1), 1, maxFramesPerTick);
            out.resize(frames);
            ASSERT_EQ(mixData(frames, out.data()), errOK);
            soundingFrames += std::count_if(out.begin(), out.end(), [](std::int16_t v) { return v != 0; });
            if (random() % 500 == 0) {
                ASSERT_EQ(gmp_set_position(h, int(random() % 300) - 20), errOK);
            }
            if (random() % 300 == 0) {
                const int channel = int(random() % 40);
                EXPECT_EQ(gmp_set_channel_volume(h, channel, int(random() % 100)),
                          channel < h->channel_count ? errOK : errInvalidChannel);
            }
            if (random() % 300 == 0) {
                ASSERT_EQ(gmp_set_master_volume(h, int(random() % 100)), errOK);
            }
            ticksPlayed++;
        }
        SongStatus* status = nullptr;
        ASSERT_EQ(gmp_get_status(h, &status), errOK);
        ASSERT_EQ(gmp_stop_song(h), errOK);
        for (std::uint32_t c = 0; c < allChannels; c++)
            stopSound(c);
    }

    // Adds a sample's data to the mixer and gives it the handle, as a loader does.
    void addToMixer(Sample* s, std::mt19937& random, int playMode) {
        std::vector<std::uint8_t> data(static_cast<std::size_t>(s->length));
        for (std::uint8_t& b : data)
            b = static_cast<std::uint8_t>(random());
        SampleDesc desc{};
        desc.data = data.data();
        desc.location = 1;
        desc.type = s->type == 2 ? SMP_16BIT_MONO : SMP_8BIT_MONO;
        desc.length = static_cast<std::uint32_t>(s->length);
        const bool looping = random() % 2;
        desc.loopMode = looping ? 1 : 0;
        if (playMode == playModeProtracker) desc.loopMode += 4;
        if (playMode == playModeImpulse) desc.loopMode += 2;
        desc.loop1Start = static_cast<std::uint32_t>(random() % desc.length) & ~3u;
        desc.loop1End = desc.length;
        desc.loop1Type = looping ? 1 + random() % 2 : 0;
        desc.loop2Start = desc.loop1Start;
        desc.loop2End = desc.length;
        desc.loop2Type = looping ? 1 : 0;
        std::uint32_t handle = 0;
        ASSERT_EQ(addSample(&desc, 1, &handle), errOK);
        s->device_handle = static_cast<int>(handle);
    }

    SoundDevice device{};
    SoundDevice* savedDevice = nullptr;
    MixerOptions savedOptions;
    long blocksBefore = 0;
    std::vector<std::int16_t> out;
    long ticksPlayed = 0;
    long soundingFrames = 0;
};

// A note byte anywhere in its range, the special ones included.
int randomNote(std::mt19937& random) {
    switch (random() % 8) {
    case 0: return noteKeyOff;
    case 1: return noteStop;
    case 2: return static_cast<int>(random() % 256);
    default: return static_cast<int>((random() % 10) << 4 | random() % 12);
    }
}

// A pattern of random rows: every command, random infobytes, notes, instruments and volume bytes.
PatternSpec randomPattern(std::mt19937& random, int rows, int channels, int instruments) {
    PatternSpec p;
    p.rows = rows;
    p.cells.resize(static_cast<std::size_t>(rows));
    for (auto& row : p.cells) {
        for (int c = 0; c < channels + 2; c++) {
            if (random() % 3 != 0) continue;
            Cell cell;
            cell.channel = c % 32;
            if (random() % 2) cell.note = randomNote(random);
            if (random() % 2) cell.instrument = static_cast<int>(random() % (instruments + 3));
            if (random() % 3 == 0) cell.volume = static_cast<int>(random() % 256);
            if (random() % 2) {
                cell.command = static_cast<int>(random() % commandCount);
                cell.info = static_cast<int>(random() % 256);
                // Flow commands kept mostly gentle so that the song moves on.
                if (cell.command == cmdSetTempo && random() % 2)
                    cell.info = 32 + static_cast<int>(random() % 200);
            }
            row.push_back(cell);
        }
    }
    return p;
}

EnvelopeSpec randomEnvelope(std::mt19937& random) {
    EnvelopeSpec e;
    const int points = static_cast<int>(random() % 14);
    for (int i = 0; i < points; i++)
        e.points.emplace_back(static_cast<int>(random() % 300), static_cast<int>(random() % 100) - 10);
    auto index = [&random]() { return random() % 3 == 0 ? 255 : static_cast<int>(random() % 30); };
    e.sustain = index();
    e.loopStart = index();
    e.loopEnd = index();
    e.sustainLoopStart = index();
    e.sustainLoopEnd = index();
    if (random() % 4 == 0) e.pointCount = static_cast<int>(random() % 256);
    return e;
}

} // namespace

TEST_F(PlayerRobustness, MutatedCorpusFilesPlayThroughThePlayerAndTheMixer) {
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(MORVA_MODULES_DIR, error))
        if (entry.path().extension() == ".xm" && entry.file_size() <= maxCorpusFileSize)
            files.push_back(entry.path());
    if (files.empty()) GTEST_SKIP() << "no XM files in " << MORVA_MODULES_DIR;
    std::sort(files.begin(), files.end());

    constexpr int copiesPerFile = 1;
    constexpr int ticksPerCopy = 2000;
    std::mt19937 random(20240611);
    int played = 0;
    for (const fs::path& file : files) {
        const std::vector<std::uint8_t> original = readAll(file);
        const Damageable damageable = damageableBytes(original);
        ASSERT_FALSE(damageable.values.empty()) << file;
        for (int copy = 0; copy < copiesPerFile; copy++) {
            SCOPED_TRACE(testing::Message() << file.filename() << " copy " << copy);
            std::vector<std::uint8_t> image = original;
            for (std::size_t k = 0; k < 1 + damageable.values.size() / 40; k++)
                image[damageable.values[random() % damageable.values.size()]] =
                    static_cast<std::uint8_t>(random());
            for (std::size_t k = 0; k < damageable.noteMaps.size() / 40; k++)
                image[damageable.noteMaps[random() % damageable.noteMaps.size()]] =
                    static_cast<std::uint8_t>(random() % 20);
            for (std::size_t k = 0; k < damageable.leadNotes.size() / 40; k++)
                image[damageable.leadNotes[random() % damageable.leadNotes.size()]] =
                    static_cast<std::uint8_t>(random() % 0x80);
            if (played % 2 == 1) {
                // Every other file: the song's own fields too (restart position, speed, tempo, orders).
                image[66] = static_cast<std::uint8_t>(random());
                image[76] = static_cast<std::uint8_t>(random() % 3);
                image[78] = static_cast<std::uint8_t>(random());
                image[80 + random() % 16] = static_cast<std::uint8_t>(random());
            }
            Module* module = nullptr;
            const int code = extendedModuleFormat.load_memory(image.data(), image.size(), 1, nullptr, &module);
            if (code != errOK) continue; // refused by the loader: nothing to play
            play(module, ticksPerCopy, random);
            ASSERT_EQ(free_module(module, &device), errOK);
            played++;
        }
    }
    EXPECT_EQ(played, static_cast<int>(files.size()) * copiesPerFile)
        << "damaged values leave the files loadable";
    EXPECT_GT(soundingFrames, ticksPlayed) << "the songs reach the mixer";
    EXPECT_EQ(ticksPlayed, long(played) * ticksPerCopy);
}

TEST_F(PlayerRobustness, DamagedSongsOfEveryPlayModePlayThroughThePlayerAndTheMixer) {
    constexpr int songsPerMode = 6;
    constexpr int ticksPerSong = 2000;
    std::mt19937 random(77);
    int played = 0;
    for (int mode : {playModeProtracker, playModeScreamTracker3, playModeExtended, playModeImpulse}) {
        for (int n = 0; n < songsPerMode; n++) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << " song " << n);
            ModuleSpec spec;
            spec.playMode = mode;
            spec.channels = n == 3 ? 40 : 1 + static_cast<int>(random() % 32);
            spec.speed = n == 0 ? 0 : 1 + static_cast<int>(random() % 8);
            spec.tempo = static_cast<int>(random() % 256);
            spec.flags = static_cast<int>(random() % 32);
            spec.globalVolume = static_cast<int>(random() % 256);
            spec.restart = n == 1 ? 200 : static_cast<int>(random() % 4);
            for (int c = 0; c < 32; c++)
                spec.panning.push_back(static_cast<int>(random() % 600) - 200);

            // Instruments: a normal one, a note map without samples, a null one, one whose
            // sample the device never got, and one with extreme automatic vibrato and fade-out.
            const int mapSize = mode == playModeImpulse ? 240 : 96;
            spec.instruments.assign(5, InstrumentSpec{});
            for (InstrumentSpec& ins : spec.instruments) {
                ins.noteMap.resize(static_cast<std::size_t>(mapSize));
                for (std::uint8_t& b : ins.noteMap)
                    b = static_cast<std::uint8_t>(random() % 4 == 0 ? random() : random() % 3);
                ins.volumeEnvelopeOn = random() % 2;
                ins.panningEnvelopeOn = random() % 2;
                ins.volumeEnvelope = randomEnvelope(random);
                ins.panningEnvelope = randomEnvelope(random);
                ins.defaultPanning = static_cast<int>(random() % 256);
                ins.samples = {SampleSpec{}, SampleSpec{}};
                ins.samples[1].type = 2;
                for (SampleSpec& s : ins.samples) {
                    s.volume = static_cast<int>(random() % 200) - 50;
                    s.panning = static_cast<int>(random() % 600) - 200;
                    s.finetune = static_cast<int>(random() % 600) - 300;
                    s.relativeNote = s.middleC =
                        random() % 5 == 0 ? -1 : static_cast<int>(random() % 40000) - 100;
                    s.length = 64 + static_cast<int>(random() % 4000);
                }
            }
            spec.instruments[1].samples.clear();
            spec.instruments[2].null = true;
            spec.instruments[4].vibratoDepth = 255;
            spec.instruments[4].vibratoSweep = 1;
            spec.instruments[4].vibratoRate = 255;
            spec.instruments[4].vibratoWaveform = 7;
            spec.instruments[4].fadeout = n % 2 ? -100000 : 0x7fffffff;

            // Patterns: random rows, an empty one, data shorter than its rows, a null
            // one; the orders also name missing patterns and markers.
            spec.patterns = {randomPattern(random, 64, spec.channels, 5),
                             PatternSpec{1 + int(random() % 256), {}},
                             randomPattern(random, 32, spec.channels, 5), PatternSpec{16, {}},
                             randomPattern(random, 1 + int(random() % 256), spec.channels, 5)};
            spec.patterns[2].sizeAdjust = -static_cast<int>(random() % 200);
            spec.patterns[4].rows = n == 2 ? 0 : n == 4 ? 300 : spec.patterns[4].rows;
            spec.orders = {0, 1, 9, 0xfffe, 2, 3, 4, 0xffff, 0, 4, 0xfffe};
            if (n == 5) spec.songLength = 0;

            Module* m = buildModule(spec);
            for (int k = 0; k < m->instrument_count; k++) {
                if (Instrument* ins = m->instruments[k]) {
                    ins->new_note_action = static_cast<std::uint8_t>(random() % 5);
                    ins->duplicate_check_type = static_cast<std::uint8_t>(random() % 5);
                    ins->duplicate_check_action = static_cast<std::uint8_t>(random() % 4);
                    ins->global_volume = static_cast<int>(random() % 200) - 50;
                }
            }
            for (int k = 0; k < m->sample_count; k++) {
                m->samples[k]->sample_global_volume = static_cast<int>(random() % 200) - 50;
                addToMixer(m->samples[k], random, mode);
            }
            m->instruments[3]->sample_list[0]->device_handle = 0;
            ASSERT_EQ(
                removeSample(static_cast<std::uint32_t>(m->instruments[3]->sample_list[1]->device_handle)),
                errOK);
            m->instruments[3]->sample_list[1]->device_handle = 0;
            Sample* detached = m->instruments[0]->sample_list[1];
            m->instruments[0]->sample_list[1] = nullptr; // still owned through module->samples
            ASSERT_EQ(mem_free(m->patterns[3]), errOK);
            m->patterns[3] = nullptr;

            play(m, ticksPerSong, random);
            (void)detached;
            ASSERT_EQ(free_module(m, &device), errOK);
            played++;
        }
    }
    EXPECT_EQ(played, 4 * songsPerMode);
    EXPECT_EQ(ticksPlayed, long(played) * ticksPerSong);
}
