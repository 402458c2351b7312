// What the module loader tests share: a sound device that records the
// samples handed to it, a fixture that checks nothing is left allocated, the
// module corpus, a reader of packed rows, a check that a loaded module can be
// played without reading out of bounds, and the damaged-copy runs.
#pragma once

#include "sound/api/errors.h"
#include "sound/formats/loader.h"
#include "sound/api/mglobals.h"
#include "sound/sys/mmem.h"
#include "sound/output/sdevice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace loadertest {

// A sound device that records every sample handed to it.
struct RecordedSample {
    SampleDesc desc;
    std::vector<std::uint8_t> data;
    std::uint32_t copy;
    bool removed;
};
inline std::vector<RecordedSample> recorded;

inline int recordAdd(const SampleDesc* desc, std::uint32_t copy, std::uint32_t* handle) {
    RecordedSample entry{*desc, {}, copy, false};
    if (desc->data != nullptr) entry.data.assign(desc->data, desc->data + desc->length);
    // A block handed over is the device's: recorded, then freed.
    if (copy == SAMPLE_HAND_OVER && desc->data != nullptr) mem_free(desc->data);
    recorded.push_back(entry);
    *handle = static_cast<std::uint32_t>(recorded.size());
    return errOK;
}

inline int recordRemove(std::uint32_t handle) {
    if (handle == 0 || handle > recorded.size() || recorded[handle - 1].removed) return errInvalidSampleHandle;
    recorded[handle - 1].removed = true;
    return errOK;
}

inline SoundDevice recordingDevice() {
    SoundDevice device{};
    device.addSample = recordAdd;
    device.removeSample = recordRemove;
    return device;
}

// Installs the recording device and checks that every block of the memory
// layer is given back by the end of the test.
class LoaderTest : public ::testing::Test {
  protected:
    explicit LoaderTest(ImageLoader memoryLoader) : loader(memoryLoader) {}

    void SetUp() override {
        recorded.clear();
        device = recordingDevice();
        savedDevice = currentDevice;
        currentDevice = &device;
        blocksBefore = mem_blocks_in_use();
    }
    void TearDown() override {
        if (module != nullptr) {
            EXPECT_EQ(free_module(module, currentDevice), errOK);
        }
        currentDevice = savedDevice;
        EXPECT_EQ(mem_blocks_in_use(), blocksBefore) << "blocks left allocated";
    }

    int loadImage(const std::vector<std::uint8_t>& image, int toDevice = 0) {
        if (module != nullptr) free_module(module, currentDevice);
        module = nullptr;
        return loader(image.data(), image.size(), toDevice, nullptr, &module);
    }

    ImageLoader loader;
    SoundDevice device{};
    SoundDevice* savedDevice = nullptr;
    long blocksBefore = 0;
    Module* module = nullptr;
};

// The size of a packed entry from its flag byte.
inline std::size_t entrySize(std::uint8_t flag) {
    return 1 + ((flag & entryNoteInstrument) ? 2 : 0) + ((flag & entryVolume) ? 1 : 0) +
           ((flag & entryCommand) ? 2 : 0);
}

// The converted entries of one row, each as its flag byte followed by its data bytes.
inline std::vector<std::vector<std::uint8_t>> rowEntries(const Pattern* pattern, int row) {
    const std::uint8_t* p = pattern_data(pattern);
    for (int r = 0; r < row; r++) {
        while (*p != 0)
            p += entrySize(*p);
        p++;
    }
    std::vector<std::vector<std::uint8_t>> entries;
    while (*p != 0) {
        entries.emplace_back(p, p + entrySize(*p));
        p += entrySize(*p);
    }
    return entries;
}

// The corpus files with an extension, sorted.
inline std::vector<std::string> corpusFiles(const std::string& extension) {
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(MORVA_MODULES_DIR, error))
        if (entry.path().extension() == extension) files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

inline std::vector<std::uint8_t> readFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The smallest of some files, read: it keeps the damaged-copy runs quick.
inline std::vector<std::uint8_t> smallestFile(const std::vector<std::string>& files) {
    std::string smallest = files.at(0);
    for (const std::string& name : files)
        if (std::filesystem::file_size(name) < std::filesystem::file_size(smallest)) smallest = name;
    return readFile(smallest);
}

// Checks what the player relies on: every order names a pattern or a mark,
// every packed row stays inside its record and names only channels,
// instruments, notes and commands that exist, every sample's loop lies inside
// its data and every instrument's samples and note map are in range.
inline void expectPlayable(const Module* m, const std::string& what) {
    SCOPED_TRACE(what);
    ASSERT_GE(m->channel_count, 1);
    ASSERT_LE(m->channel_count, maxModuleChannels);
    ASSERT_GE(m->song_length, 1);
    for (int k = 0; k < m->song_length; k++)
        ASSERT_TRUE(m->orders[k] < m->pattern_count || m->orders[k] >= 0xfffe) << "order " << k;
    for (int n = 0; n < m->pattern_count; n++) {
        const Pattern* pattern = m->patterns[n];
        ASSERT_NE(pattern, nullptr);
        ASSERT_GE(pattern->row_count, 1);
        ASSERT_LE(pattern->row_count, maxPatternRows);
        const std::uint8_t* p = pattern_data(pattern);
        const std::uint8_t* end = reinterpret_cast<const std::uint8_t*>(pattern) + pattern->size;
        for (int row = 0; row < pattern->row_count; row++) {
            while (true) {
                ASSERT_LT(p, end) << "pattern " << n << " row " << row;
                std::uint8_t flag = *p;
                if (flag == 0) break;
                ASSERT_LE(p + entrySize(flag), end);
                ASSERT_LT(flag & entryChannelMask, m->channel_count) << "pattern " << n;
                const std::uint8_t* q = p + 1;
                if (flag & entryNoteInstrument) {
                    ASSERT_TRUE(q[0] >= noteStop || ((q[0] & 0x0f) < 12 && q[0] < 0xa0)) << int(q[0]);
                    const bool sampleMode = m->play_mode == playModeImpulse && !(m->flags & moduleInstrumentMode);
                    ASSERT_TRUE(q[1] == instrumentNone || q[1] < m->instrument_count || sampleMode) << int(q[1]);
                    q += 2;
                }
                if (flag & entryVolume) q++;
                if (flag & entryCommand) {
                    ASSERT_TRUE(q[0] >= 1 && q[0] < commandCount) << int(q[0]);
                }
                p += entrySize(flag);
            }
            p++;
        }
        ASSERT_EQ(p, end) << "pattern " << n << " size";
    }
    for (int k = 0; k < m->sample_count; k++) {
        const Sample* s = m->samples[k];
        if (s == nullptr) continue;
        EXPECT_GE(s->length, 0);
        if (s->loop1_type != 0) {
            EXPECT_LT(s->loop1_start, s->loop1_end);
            EXPECT_LE(s->loop1_end, s->length);
        }
        if (s->loop2_type != 0) {
            EXPECT_LT(s->loop2_start, s->loop2_end);
            EXPECT_LE(s->loop2_end, s->length);
        }
        // Scream Tracker 3 and Impulse Tracker samples divide by their middle-C rate.
        bool rated = m->play_mode == playModeScreamTracker3 || m->play_mode == playModeImpulse;
        if (rated && s->type != 0) {
            EXPECT_GT(s->middle_c_rate, 0) << "sample " << k;
        }
    }
    for (int k = 0; k < m->instrument_count; k++) {
        const Instrument* instrument = m->instruments[k];
        ASSERT_NE(instrument, nullptr);
        for (int s = 0; s < instrument->sample_count; s++)
            ASSERT_NE(instrument->sample_list[s], nullptr);
        if (instrument->note_map != nullptr && m->play_mode == playModeImpulse)
            for (int j = 0; j < 120; j++) {
                std::uint8_t note = instrument->note_map[2 * j], place = instrument->note_map[2 * j + 1];
                EXPECT_LT(note, 120);
                EXPECT_TRUE(place == 255 || place < instrument->sample_count);
            }
        for (const Envelope* e : {instrument->volume_envelope, instrument->panning_envelope})
            if (e != nullptr) {
                EXPECT_LE(e->point_count, envelopePointCapacity);
                for (std::uint8_t point : {e->sustain_point, e->loop_start, e->loop_end, e->sustain_loop_start,
                                           e->sustain_loop_end})
                    EXPECT_TRUE(point == 255 || point < e->point_count);
            }
    }
}

// Loads a file of the corpus in both sample modes and checks that the device
// is given exactly the data the module keeps in the other mode.
inline void expectBothModesAgree(ImageLoader load, const std::string& name) {
    std::vector<std::uint8_t> image = readFile(name);
    long before = mem_blocks_in_use();
    Module* kept = nullptr;
    ASSERT_EQ(load(image.data(), image.size(), 0, nullptr, &kept), errOK) << name;
    expectPlayable(kept, name);
    recorded.clear();
    Module* handed = nullptr;
    ASSERT_EQ(load(image.data(), image.size(), 1, nullptr, &handed), errOK) << name;
    std::size_t r = 0;
    for (int k = 0; k < kept->sample_count; k++) {
        const Sample* s = kept->samples[k];
        if (s == nullptr) continue;
        EXPECT_EQ(s->data == nullptr, s->type == 0) << name << " sample " << k;
        ASSERT_LT(r, recorded.size());
        EXPECT_EQ(handed->samples[k]->data, nullptr);
        EXPECT_EQ(handed->samples[k]->device_handle, static_cast<int>(r + 1));
        EXPECT_EQ(recorded[r].desc.type, s->type) << name << " sample " << k;
        EXPECT_EQ(recorded[r].desc.loopMode, s->loop_mode);
        if (s->type != 0) {
            EXPECT_TRUE(std::equal(recorded[r].data.begin(), recorded[r].data.end(), s->data, s->data + s->length))
                << name << " sample " << k;
        }
        r++;
    }
    EXPECT_EQ(r, recorded.size()) << name;
    EXPECT_EQ(free_module(kept, nullptr), errOK);
    EXPECT_EQ(free_module(handed, currentDevice), errOK);
    EXPECT_EQ(mem_blocks_in_use(), before) << name;
    for (const RecordedSample& sample : recorded)
        EXPECT_TRUE(sample.removed) << name;
}

// Every corpus file of a format loads in both modes (skipped without a corpus).
inline void loadEveryCorpusFile(ImageLoader load, const std::string& extension) {
    std::vector<std::string> files = corpusFiles(extension);
    if (files.empty()) GTEST_SKIP() << "no " << extension << " files in " << MORVA_MODULES_DIR;
    for (const std::string& name : files)
        expectBothModesAgree(load, name);
}

// How a run of damaged copies went.
struct DamageCounts {
    int loaded = 0;
    int refused = 0;
};

// Loads one damaged image in the given mode: it either loads as a module the
// player can use or fails with a code for bad data, and leaves nothing behind.
inline void loadDamaged(ImageLoader load, const std::vector<std::uint8_t>& image, int toDevice,
                        DamageCounts& counts, const std::string& what) {
    recorded.clear();
    long before = mem_blocks_in_use();
    Module* m = nullptr;
    int code = load(image.data(), image.size(), toDevice, nullptr, &m);
    if (code == errOK) {
        counts.loaded++;
        expectPlayable(m, what);
        EXPECT_EQ(free_module(m, currentDevice), errOK);
    } else {
        counts.refused++;
        EXPECT_EQ(m, nullptr);
        EXPECT_TRUE(code == errInvalidModule || code == errInvalidInstrument || code == errInvalidPattern ||
                    code == errEndOfFile)
            << what << ": unexpected code " << code;
    }
    EXPECT_EQ(mem_blocks_in_use(), before) << what;
    for (const RecordedSample& sample : recorded)
        EXPECT_TRUE(sample.removed) << what;
}

// Copies of original with a few bytes set to extremes or random values,
// mostly inside the ranges given (where the structure lives), some cut short.
inline DamageCounts loadDamagedCopies(ImageLoader load, const std::vector<std::uint8_t>& original,
                                      const std::vector<std::pair<std::size_t, std::size_t>>& structure,
                                      int copies) {
    std::mt19937 random(12345);
    DamageCounts counts;
    for (int copy = 0; copy < copies; copy++) {
        std::vector<std::uint8_t> image = original;
        std::uniform_int_distribution<std::size_t> anywhere(0, image.size() - 1);
        std::uniform_int_distribution<std::size_t> range(0, structure.size() - 1);
        int changes = 1 + copy % 8;
        for (int k = 0; k < changes; k++) {
            std::size_t at = anywhere(random);
            if (k % 4 != 3) {
                auto [first, last] = structure[range(random)];
                at = std::min(image.size() - 1, first + random() % (last - first));
            }
            unsigned kind = random() % 4;
            image[at] = kind == 0 ? 0 : kind == 1 ? 0xff : static_cast<std::uint8_t>(random());
        }
        if (copy % 5 == 0) image.resize(anywhere(random));
        loadDamaged(load, image, copy & 1, counts, "copy " + std::to_string(copy));
        if (::testing::Test::HasFatalFailure()) break;
    }
    return counts;
}

// Every shorter version of a file loads as a playable module or is refused.
inline DamageCounts loadEveryTruncation(ImageLoader load, const std::vector<std::uint8_t>& original) {
    DamageCounts counts;
    for (std::size_t length = 0; length < original.size(); length++) {
        std::vector<std::uint8_t> image(original.begin(), original.begin() + static_cast<long>(length));
        loadDamaged(load, image, static_cast<int>(length & 1), counts, "length " + std::to_string(length));
        if (::testing::Test::HasFatalFailure()) break;
    }
    return counts;
}

} // namespace loadertest
