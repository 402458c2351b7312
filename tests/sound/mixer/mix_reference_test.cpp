// The mixing routines, the output conversions and the output filter give
// exactly the bits of their plain forms (mix_reference.h): routine by routine
// on sample data from the module corpus (synthetic data when it is absent),
// and in whole renderings of songs with either set of routines.
#include "mix_reference.h"
#include "mixer_fixture.h"
#include "offline_song.h"
#include "xmbuild.h"

#include "sound/mixer/dsmfilt.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <random>
#include <string>

namespace {

struct TableCase {
    const char* name;
    uint32_t mode;
    const MixRoutineEntry* table;
};

const TableCase tables[] = {
    {"mono integer", MIX_MONO | MIX_INTEGER, mixTableMonoInteger},
    {"stereo integer", MIX_STEREO | MIX_INTEGER, mixTableStereoInteger},
    {"mono float", MIX_MONO | MIX_FLOAT, mixTableMonoFloat},
    {"stereo float", MIX_STEREO | MIX_FLOAT, mixTableStereoFloat},
    {"mono interpolating", MIX_MONO | MIX_INTERPOLATE, mixTableMonoInterpolating},
    {"stereo interpolating", MIX_STEREO | MIX_INTERPOLATE, mixTableStereoInterpolating},
    {"mono cubic", MIX_MONO | MIX_CUBIC, mixTableMonoCubic},
    {"stereo cubic", MIX_STEREO | MIX_CUBIC, mixTableStereoCubic},
};

const uint32_t mixedTypes[] = {SMP_8BIT_MONO,    SMP_16BIT_MONO, SMP_8BIT_STEREO,
                               SMP_16BIT_STEREO, SMP_ULAW_MONO,  SMP_ULAW_STEREO};

std::vector<std::string> corpusSongs(size_t perFormat) {
    std::vector<std::string> out;
    std::error_code error;
    std::vector<std::string> all;
    for (const auto& e : std::filesystem::directory_iterator(MORVA_MODULES_DIR, error))
        if (offline::formatFor(e.path().string())) all.push_back(e.path().string());
    std::sort(all.begin(), all.end());
    for (const char* ext : {".xm", ".s3m", ".it", ".mod"}) {
        size_t taken = 0;
        for (const std::string& name : all)
            if (taken < perFormat && name.size() > std::strlen(ext) &&
                name.compare(name.size() - std::strlen(ext), std::string::npos, ext) == 0) {
                out.push_back(name);
                ++taken;
            }
    }
    return out;
}

// Sample data to mix: samples of corpus songs, cut to at most 16 KiB each,
// and synthetic data with the extremes of every type.
std::vector<std::vector<uint8_t>> sampleMaterial() {
    std::vector<std::vector<uint8_t>> out;
    for (const std::string& name : corpusSongs(2)) {
        Module* m = nullptr;
        if (offline::formatFor(name)->load_file(name.c_str(), 0, nullptr, &m) != 0) continue;
        int taken = 0;
        for (int k = 0; k < m->sample_count && taken < 6; ++k) {
            const Sample* s = m->samples[k];
            if (!s || !s->data || s->length < 256) continue;
            const size_t n = std::min<size_t>(size_t(s->length), 16384);
            out.emplace_back(s->data, s->data + n);
            ++taken;
        }
        free_module(m, nullptr);
    }
    std::mt19937 random(7);
    std::vector<uint8_t> noise(4096), extremes(4096), ramp(4096);
    for (auto& b : noise)
        b = uint8_t(random());
    // Loud 16-bit peaks around the values where byte carries wrap, and 8-bit extremes.
    const uint16_t peaks[] = {0x7fff, 0x8000, 0x7f7f, 0x7f80, 0x80ff, 0xff7f, 0x0080, 0xffff, 0x0000, 0x00ff};
    for (size_t i = 0; i < extremes.size(); i += 2) {
        const uint16_t v = peaks[random() % std::size(peaks)];
        extremes[i] = uint8_t(v & 255);
        extremes[i + 1] = uint8_t(v >> 8);
    }
    for (size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = uint8_t(i * 7);
    out.push_back(noise);
    out.push_back(extremes);
    out.push_back(ramp);
    return out;
}

class MixReference : public MixerTest {
  protected:
    std::mt19937 random{20240611};
    int compared = 0, attempted = 0;

    int32_t between(int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(random); }

    // One call of a routine and of its plain form on the same inputs.
    void compare(const TableCase& t, int group, uint32_t type, bool blocks, const std::vector<uint8_t>& material) {
        ++attempted;
        const MixRoutineEntry& fast = t.table[group + type];
        const MixRoutineEntry& plain = referenceTableFor(t.table)[group + type];
        ASSERT_NE(plain.mixFrames, nullptr) << t.name << " type " << type;
        const bool interp = (t.mode & (MIX_INTERPOLATE | MIX_CUBIC)) != 0;
        const bool stereoOut = (t.mode & MIX_STEREO) != 0;
        const uint32_t frameBytes = 1u << sampleFrameShift(type);
        const int64_t materialFrames = int64_t(material.size() / frameBytes);

        static const int32_t steps[] = {0x10000, 0x8000, 0x3a7, 0x14c00, 0x2a3b7, 0x7ff00, 0x1, 0x2ffff};
        int32_t step = random() % 3 == 0 ? between(1, 0x40000) : steps[random() % std::size(steps)];
        if (random() % 3 == 0) step = -step;
        const uint32_t block = blocks ? fast.blockSize : 1;
        uint32_t frames = uint32_t(between(1, 300));
        int32_t neighbour = 1;
        if (interp && !blocks) {
            const int pick = between(0, 3);
            neighbour = pick == 0 ? 0 : pick == 1 ? -between(1, 40) : 1;
        }
        MixArgs a{};
        a.position = between(0, 0xffff);
        a.step = step;
        // Shorten the run until its reads fit the material.
        int64_t lo = 0, hi = 0;
        for (;; frames = frames / 2 + 1) {
            frames -= frames % block;
            if (frames == 0) frames = block;
            const int64_t last = (a.position + int64_t(step) * (frames - 1)) >> 16;
            lo = std::min<int64_t>(0, last);
            hi = std::max<int64_t>(0, last);
            if (interp) {
                lo = std::min(lo, lo + neighbour);
                hi = std::max(hi, hi + neighbour);
            }
            if (hi - lo + 1 <= materialFrames || frames <= block) break;
        }
        if (hi - lo + 1 > materialFrames) return;
        // Exactly the frames the run may read, so that a read beyond them is a sanitizer error.
        const int64_t first = between(0, int32_t(materialFrames - (hi - lo + 1)));
        const std::vector<uint8_t> window(material.begin() + first * frameBytes,
                                          material.begin() + (first + hi - lo + 1) * frameBytes);
        a.source = window.data() - lo * frameBytes;
        // The cubic routines read a frame around the two they join as far as the data goes: here,
        // the window is all of it.
        a.first = window.data();
        a.end = window.data() + window.size();
        a.frames = frames;
        a.neighbour = neighbour;
        if (mixer.integerMixing) {
            a.leftTable = mixer.volumeTable + between(0, 32) * 256;
            a.rightTable = mixer.volumeTable + between(0, 32) * 256;
            a.leftUlawTable = mixer.ulawVolumeTable + between(0, 32) * 256;
            a.rightUlawTable = mixer.ulawVolumeTable + between(0, 32) * 256;
            a.leftMultiplier = between(-(1 << 18), 1 << 18);
            a.rightMultiplier = between(-(1 << 18), 1 << 18);
        } else {
            std::uniform_real_distribution<float> factor(-1.25f, 1.25f);
            a.leftFactor = random() % 8 ? factor(random) : 0.0f;
            a.rightFactor = factor(random);
            a.byteToFloat = mixer.byteToFloat;
            a.ulawToFloat = mixer.ulawToFloat;
        }
        const size_t values = size_t(frames) * (stereoOut ? 2 : 1);
        const size_t guard = 8;
        std::vector<uint32_t> fastOut(values + guard), plainOut(values + guard);
        for (auto& v : fastOut) {
            if (mixer.integerMixing) {
                v = uint32_t(between(-(1 << 26), 1 << 26));
            } else {
                const float f = std::uniform_real_distribution<float>(-40000.0f, 40000.0f)(random);
                std::memcpy(&v, &f, 4);
            }
        }
        plainOut = fastOut;
        MixArgs b = a;
        a.dest = fastOut.data();
        b.dest = plainOut.data();
        (blocks ? fast.mixBlocks : fast.mixFrames)(a);
        (blocks ? plain.mixBlocks : plain.mixFrames)(b);
        const std::string what = std::string(t.name) + " group " + std::to_string(group / 9) + " type " +
                                 std::to_string(type) + (blocks ? " blocks" : " frames") + " step " +
                                 std::to_string(step) + " frames " + std::to_string(frames) + " neighbour " +
                                 std::to_string(neighbour);
        ASSERT_EQ(a.position, b.position) << what;
        ASSERT_EQ(static_cast<uint32_t*>(a.dest) - fastOut.data(), static_cast<uint32_t*>(b.dest) - plainOut.data())
            << what;
        for (size_t i = 0; i < fastOut.size(); ++i)
            ASSERT_EQ(fastOut[i], plainOut[i]) << what << " value " << i;
        ++compared;
    }
};

TEST_F(MixReference, EveryRoutineGivesTheBitsOfItsPlainForm) {
    const auto material = sampleMaterial();
    ASSERT_FALSE(material.empty());
    for (const TableCase& t : tables) {
        open(44100, t.mode, uint32_t(between(1, 32)));
        for (int group : {MIX_GROUP_GENERAL, MIX_GROUP_CENTRE, MIX_GROUP_SURROUND}) {
            for (uint32_t type : mixedTypes) {
                const MixRoutineEntry& e = t.table[group + type];
                ASSERT_EQ(e.mixFrames == nullptr, referenceTableFor(t.table)[group + type].mixFrames == nullptr)
                    << t.name << " group " << group / 9 << " type " << type;
                if (!e.mixFrames) continue;
                for (const auto& m : material) {
                    for (int n = 0; n < 6; ++n) {
                        compare(t, group, type, false, m);
                        compare(t, group, type, true, m);
                        if (HasFatalFailure()) return;
                    }
                }
            }
        }
        mixerClose();
    }
    // Only runs longer than the material are skipped.
    EXPECT_GT(compared, attempted * 9 / 10);
}

// Routines whose block form sums differently from the frame form keep their
// block sizes, since the mixing loop cuts runs by them.
TEST_F(MixReference, BlockSizesThatChangeTheSumsAreKept) {
    for (const TableCase& t : tables) {
        const MixRoutineEntry* plain = referenceTableFor(t.table);
        for (int i = 0; i < 27; ++i) {
            if (plain[i].mixFrames && plain[i].mixFrames != plain[i].mixBlocks &&
                !(t.mode & (MIX_INTERPOLATE | MIX_CUBIC))) {
                EXPECT_EQ(t.table[i].blockSize, plain[i].blockSize) << t.name << " entry " << i;
            }
        }
    }
}

TEST_F(MixReference, OutputConversionsGiveTheBitsOfTheirPlainForms) {
    const float specials[] = {0.0f,     -0.0f,     0.5f,      -0.5f,     1.5f,      2.5f,     -2.5f,
                              -0.9f,    32767.4f,  32767.5f,  32768.0f,  -32768.5f, -32769.f, 1e9f,
                              -1e9f,    3e38f,     -3e38f,    65535.9f,  -65536.9f, 1e-40f,   -255.99f,
                              std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                              std::numeric_limits<float>::quiet_NaN()};
    const int32_t intSpecials[] = {0, 1, -1, 127, 128, -128, -129, 255, 256, 32767, 32768, -32768, -32769,
                                   std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min()};
    for (uint32_t count : {0u, 1u, 2u, 3u, 7u, 8u, 15u, 16u, 17u, 33u, 255u, 1104u, 2208u}) {
        for (uint32_t offset : {0u, 1u, 3u}) {
            std::vector<float> f(count);
            std::vector<int32_t> n(count);
            for (uint32_t i = 0; i < count; ++i) {
                f[i] = random() % 4 ? std::uniform_real_distribution<float>(-50000.0f, 50000.0f)(random)
                                    : specials[random() % std::size(specials)];
                n[i] = random() % 4 ? int32_t(random() % 100000) - 50000 : intSpecials[random() % std::size(intSpecials)];
            }
            // Destinations start at an odd place too, as an output block may.
            std::vector<int16_t> fast16(count + 8, 0x5a5a), plain16(count + 8, 0x5a5a);
            std::vector<uint8_t> fast8(count + 8, 0x5a), plain8(count + 8, 0x5a);
            convertFloatTo16(f.data(), fast16.data() + offset, count);
            referenceFloatTo16(f.data(), plain16.data() + offset, count);
            EXPECT_EQ(fast16, plain16) << "float to 16-bit, " << count;
            convertFloatTo8(f.data(), fast8.data() + offset, count);
            referenceFloatTo8(f.data(), plain8.data() + offset, count);
            EXPECT_EQ(fast8, plain8) << "float to 8-bit, " << count;
            convertIntTo16(n.data(), fast16.data() + offset, count);
            referenceIntTo16(n.data(), plain16.data() + offset, count);
            EXPECT_EQ(fast16, plain16) << "integer to 16-bit, " << count;
            convertIntTo8(n.data(), fast8.data() + offset, count);
            referenceIntTo8(n.data(), plain8.data() + offset, count);
            EXPECT_EQ(fast8, plain8) << "integer to 8-bit, " << count;
        }
    }
}

// The filter runs on the mixer's buffer as a post-processor; its history
// carries from one call to the next.
TEST_F(MixReference, OutputFilterGivesTheBitsOfItsPlainForm) {
    for (int kind : {1, 2}) {
        for (uint32_t sides : {1u, 2u}) {
            for (bool integer : {true, false}) {
                open(44100, (sides == 2 ? MIX_STEREO : MIX_MONO) | (integer ? MIX_INTEGER : MIX_FLOAT), 4, kind);
                flushFilter();
                mixerOptions.filterMode = kind;
                PostProcRoutine run = integer ? (sides == 2 ? outputFilter.intStereo : outputFilter.intMono)
                                              : (sides == 2 ? outputFilter.floatStereo : outputFilter.floatMono);
                int32_t i1[2] = {}, i2[2] = {};
                float f1[2] = {}, f2[2] = {};
                int chunk = 0;
                for (uint32_t frames : {5u, 0u, 1u, 2u, 3u, 64u, 1103u, 7u, 1104u, 333u, 64u}) {
                    // Most chunks hold ordinary sums; every third one some at the limits of 32 bits.
                    const bool extremes = ++chunk % 3 == 0;
                    std::vector<int32_t> fast(frames * sides + 4);
                    for (auto& v : fast) {
                        if (integer) {
                            v = extremes && random() % 16 == 0 ? int32_t(random())
                                : random() % 64 == 0     ? (random() % 2 ? (1 << 28) - 1 : -(1 << 28))
                                                         : int32_t(random() % 200000) - 100000;
                        } else {
                            const float x = std::uniform_real_distribution<float>(-90000.0f, 90000.0f)(random);
                            std::memcpy(&v, &x, 4);
                        }
                    }
                    std::vector<int32_t> plain = fast;
                    run(fast.data(), frames, nullptr);
                    if (integer) {
                        referenceFilterInt(plain.data(), frames, sides, kind, i1, i2);
                    } else {
                        referenceFilterFloat(reinterpret_cast<float*>(plain.data()), frames, sides, kind, f1, f2);
                    }
                    ASSERT_EQ(fast, plain) << "kind " << kind << " sides " << sides << " integer " << integer
                                           << " frames " << frames;
                }
                mixerClose();
            }
        }
    }
}

// A small song of 8- and 16-bit samples with forward and ping-pong loops,
// slides and panning, for when the corpus is absent.
std::vector<uint8_t> syntheticSong() {
    xmbuild::ModuleSpec spec;
    spec.channels = 6;
    spec.orders = {0, 0};
    xmbuild::InstrumentSpec bass, lead;
    xmbuild::SampleSpec square = xmbuild::squareWave();
    xmbuild::SampleSpec saw;
    saw.type = 0x12; // 16-bit, ping-pong
    for (int i = 0; i < 200; ++i) {
        const int16_t delta = int16_t(i == 0 ? -20000 : 200);
        saw.data.push_back(uint8_t(delta & 255));
        saw.data.push_back(uint8_t((delta >> 8) & 255));
    }
    saw.loopStart = 40;
    saw.loopLength = 300;
    bass.samples = {square};
    lead.samples = {saw};
    spec.instruments = {bass, lead};
    xmbuild::PatternSpec p;
    p.rows = 64;
    for (int r = 0; r < 64; ++r) {
        for (int c = 0; c < 6; ++c) {
            if (r % (c + 2) == 0) {
                xmbuild::full(p.packed, uint8_t(30 + (r * 5 + c * 7) % 40), uint8_t(1 + (c & 1)),
                              uint8_t(0x20 + (r * 3) % 0x30), uint8_t(c == 3 ? 8 : c == 4 ? 0xA : 1),
                              uint8_t(c == 3 ? r * 4 : 0x12));
            } else {
                xmbuild::empty(p.packed);
            }
        }
    }
    spec.patterns = {p};
    return xmbuild::build(spec);
}

// Renders seconds of a song with the mixer's routines or their plain forms.
std::vector<uint8_t> render(const std::string& file, const std::vector<uint8_t>& image, uint32_t mode,
                            bool plain, double seconds) {
    offline::Song song;
    EXPECT_EQ(song.open(44100, mode), 0);
    if (plain) mixer.routineTable = referenceTableFor(mixer.routineTable);
    Module* m = nullptr;
    const int code = file.empty()
                         ? extendedModuleFormat.load_memory(image.data(), image.size(), 1, nullptr, &m)
                         : offline::formatFor(file)->load_file(file.c_str(), 1, nullptr, &m);
    EXPECT_EQ(code, 0) << file;
    if (code) return {};
    EXPECT_EQ(song.start(m), 0);
    // Both renderings start from a silent filter history.
    std::vector<uint8_t> out, tick;
    std::vector<int16_t> silence(16);
    const uint32_t paused = mixer.paused;
    mixer.paused = 1;
    const int filterMode = mixerOptions.filterMode;
    mixerOptions.filterMode = 2;
    mixData(4, silence.data());
    mixerOptions.filterMode = filterMode;
    mixer.paused = paused;
    const size_t bytes = size_t(seconds * 44100 * 4);
    while (out.size() < bytes) {
        if (song.tick(tick) != 0) break;
        out.insert(out.end(), tick.begin(), tick.end());
    }
    return out;
}

TEST_F(MixReference, SongsRenderToTheSameBitsWithThePlainRoutines) {
    std::vector<std::string> songs = corpusSongs(1);
    if (songs.empty()) songs.push_back(""); // the synthetic song
    const std::vector<uint8_t> synthetic = syntheticSong();
    const uint32_t modes[] = {MIX_STEREO | MIX_16BIT | MIX_INTEGER, MIX_MONO | MIX_16BIT | MIX_INTEGER,
                              MIX_STEREO | MIX_16BIT | MIX_FLOAT,   MIX_MONO | MIX_8BIT | MIX_FLOAT,
                              MIX_STEREO | MIX_16BIT | MIX_INTERPOLATE, MIX_MONO | MIX_16BIT | MIX_INTERPOLATE,
                              MIX_STEREO | MIX_16BIT | MIX_CUBIC,       MIX_MONO | MIX_8BIT | MIX_CUBIC};
    for (const std::string& file : songs) {
        for (uint32_t mode : modes) {
            const auto fast = render(file, synthetic, mode, false, 4.0);
            const auto plain = render(file, synthetic, mode, true, 4.0);
            ASSERT_FALSE(fast.empty()) << file;
            ASSERT_EQ(fast.size(), plain.size()) << file << " mode " << mode;
            EXPECT_TRUE(fast == plain) << file << " mode " << mode;
            const size_t loud = size_t(std::count_if(fast.begin(), fast.end(), [](uint8_t b) { return b != 0 && b != 0x80; }));
            EXPECT_GT(loud, fast.size() / 20) << file << " plays silence in mode " << mode;
        }
    }
}

} // namespace
