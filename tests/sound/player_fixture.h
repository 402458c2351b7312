// Shared set-up for the player tests: a sound device that records every call
// the player makes, and a builder of Module records in memory, so that songs
// of every play mode can be made without their loaders.
#pragma once

#include "sound/api/errors.h"
#include "sound/player/gmpcmds.h"
#include "sound/player/gmplayer.h"
#include "sound/sys/mmem.h"
#include "sound/formats/module.h"
#include "sound/output/sdevice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace playertest {

// One call the player made to the device.
struct DeviceCall {
    std::string op;
    std::uint32_t channel;
    std::int64_t value;
};

inline std::vector<DeviceCall> calls;

inline int recordCall(const char* op, std::uint32_t channel, std::int64_t value) {
    calls.push_back({op, channel, value});
    return errOK;
}

inline SoundDevice recordingDevice() {
    SoundDevice d{};
    d.startSound = [](std::uint32_t c, std::uint32_t rate) { return recordCall("start", c, rate); };
    d.releaseSound = [](std::uint32_t c) { return recordCall("release", c, 0); };
    d.stopSound = [](std::uint32_t c) { return recordCall("stop", c, 0); };
    d.setChannelRate = [](std::uint32_t c, std::uint32_t rate) { return recordCall("rate", c, rate); };
    d.setChannelVolume = [](std::uint32_t c, std::uint32_t v) { return recordCall("volume", c, v); };
    d.setChannelSample = [](std::uint32_t c, std::uint32_t h) { return recordCall("sample", c, h); };
    d.setChannelPosition = [](std::uint32_t c, std::uint32_t p) { return recordCall("position", c, p); };
    d.setChannelPanning = [](std::uint32_t c, std::int32_t p) { return recordCall("panning", c, p); };
    d.setUpdateRate = [](std::uint32_t rate) { return recordCall("update", 0, rate); };
    d.removeSample = [](std::uint32_t h) { return recordCall("remove", 0, h); };
    return d;
}

// Calls of one operation, optionally on one channel.
inline std::vector<DeviceCall> callsOf(const std::string& op, int channel = -1) {
    std::vector<DeviceCall> out;
    for (const DeviceCall& c : calls)
        if (c.op == op && (channel < 0 || c.channel == std::uint32_t(channel))) out.push_back(c);
    return out;
}

// The value of the last call of an operation on a channel (-1 when none).
inline std::int64_t lastValue(const std::string& op, int channel = -1) {
    std::vector<DeviceCall> found = callsOf(op, channel);
    return found.empty() ? -1 : found.back().value;
}

// Packed note byte: octave and semitone.
constexpr std::uint8_t note(int octave, int semitone) {
    return static_cast<std::uint8_t>(octave << 4 | semitone);
}

// One channel entry of a row; fields left at their defaults are absent.
struct Cell {
    int channel = 0;
    int note = 255;
    int instrument = 255;
    int volume = -1;
    int command = 0;
    int info = 0;
};

struct PatternSpec {
    int rows = 64;
    std::vector<std::vector<Cell>> cells; // by row; missing rows are empty
    int sizeAdjust = 0;                   // added to the record's size field (hostile patterns)
};

struct EnvelopeSpec {
    std::vector<std::pair<int, int>> points; // x, y
    int sustain = 255, loopStart = 255, loopEnd = 255, sustainLoopStart = 255, sustainLoopEnd = 255;
    int pointCount = -1; // -1 = points.size()
};

struct SampleSpec {
    int handle = -1; // -1 = numbered by the builder from 1
    int volume = 64;
    int panning = 128;
    int relativeNote = 0; // XM semitones
    int middleC = 0;      // S3M/IT middle-C rate (0 = 8363 for those modes)
    int finetune = 0;
    int type = 1;
    int length = 10000;
};

struct InstrumentSpec {
    std::vector<SampleSpec> samples = {SampleSpec{}};
    std::vector<std::uint8_t> noteMap; // empty = none
    bool volumeEnvelopeOn = false, panningEnvelopeOn = false;
    EnvelopeSpec volumeEnvelope, panningEnvelope;
    int fadeout = 0;
    int vibratoWaveform = 0, vibratoSweep = 0, vibratoDepth = 0, vibratoRate = 0;
    int defaultPanning = 255;
    bool null = false; // leave the instruments entry null
};

struct ModuleSpec {
    int playMode = playModeExtended;
    int channels = 4;
    std::vector<std::uint16_t> orders = {0};
    int songLength = -1; // -1 = orders.size()
    int restart = 0;
    int speed = 6, tempo = 125, flags = 0, globalVolume = 64;
    std::vector<int> panning; // empty = the play mode's centre
    std::vector<PatternSpec> patterns = {PatternSpec{}};
    std::vector<InstrumentSpec> instruments = {InstrumentSpec{}};
};

template <typename T> T* allocate(std::size_t count = 1) {
    void* block = nullptr;
    EXPECT_EQ(mem_alloc_zeroed(sizeof(T) * std::max<std::size_t>(count, 1), &block), errOK);
    return static_cast<T*>(block);
}

inline std::vector<std::uint8_t> packRow(const std::vector<Cell>& row) {
    std::vector<std::uint8_t> out;
    for (const Cell& c : row) {
        std::uint8_t flag = static_cast<std::uint8_t>(c.channel & 31);
        const bool noteInstrument = c.note != 255 || c.instrument != 255;
        if (noteInstrument) flag |= entryNoteInstrument;
        if (c.volume >= 0) flag |= entryVolume;
        if (c.command != 0 || c.info != 0) flag |= entryCommand;
        out.push_back(flag);
        if (noteInstrument) {
            out.push_back(static_cast<std::uint8_t>(c.note));
            out.push_back(static_cast<std::uint8_t>(c.instrument));
        }
        if (c.volume >= 0) out.push_back(static_cast<std::uint8_t>(c.volume));
        if (flag & entryCommand) {
            out.push_back(static_cast<std::uint8_t>(c.command));
            out.push_back(static_cast<std::uint8_t>(c.info));
        }
    }
    out.push_back(0);
    return out;
}

inline Pattern* buildPattern(const PatternSpec& spec) {
    std::vector<std::uint8_t> data;
    for (int r = 0; r < spec.rows; r++) {
        std::vector<std::uint8_t> row =
            packRow(r < int(spec.cells.size()) ? spec.cells[r] : std::vector<Cell>{});
        data.insert(data.end(), row.begin(), row.end());
    }
    void* block = nullptr;
    EXPECT_EQ(mem_alloc_zeroed(sizeof(Pattern) + data.size(), &block), errOK);
    auto* p = static_cast<Pattern*>(block);
    p->size = static_cast<int>(sizeof(Pattern) + data.size()) + spec.sizeAdjust;
    p->row_count = spec.rows;
    if (!data.empty()) std::memcpy(pattern_data(p), data.data(), data.size());
    return p;
}

inline Envelope* buildEnvelope(const EnvelopeSpec& spec) {
    auto* e = allocate<Envelope>();
    e->point_count =
        static_cast<std::uint8_t>(spec.pointCount >= 0 ? spec.pointCount : int(spec.points.size()));
    e->sustain_point = static_cast<std::uint8_t>(spec.sustain);
    e->loop_start = static_cast<std::uint8_t>(spec.loopStart);
    e->loop_end = static_cast<std::uint8_t>(spec.loopEnd);
    e->sustain_loop_start = static_cast<std::uint8_t>(spec.sustainLoopStart);
    e->sustain_loop_end = static_cast<std::uint8_t>(spec.sustainLoopEnd);
    for (std::size_t i = 0; i < spec.points.size() && i < envelopePointCapacity; i++)
        e->points[i] = {static_cast<std::uint16_t>(spec.points[i].first),
                        static_cast<std::int16_t>(spec.points[i].second)};
    return e;
}

// Builds the Module through the library's memory layer, so free_module frees it.
inline Module* buildModule(const ModuleSpec& spec) {
    auto* m = allocate<Module>();
    std::strcpy(m->name, "test");
    m->play_mode = spec.playMode;
    m->song_length = spec.songLength >= 0 ? spec.songLength : int(spec.orders.size());
    m->restart_position = spec.restart;
    m->channel_count = static_cast<std::uint8_t>(spec.channels);
    m->global_volume = static_cast<std::uint8_t>(spec.globalVolume);
    m->speed = static_cast<std::uint8_t>(spec.speed);
    m->tempo = static_cast<std::uint8_t>(spec.tempo);
    m->flags = spec.flags;
    const int centre = spec.playMode == playModeExtended ? 128 : spec.playMode == playModeImpulse ? 32 : 64;
    m->panning = allocate<int>(64);
    for (int c = 0; c < 64; c++)
        m->panning[c] = c < int(spec.panning.size()) ? spec.panning[c] : centre;
    if (!spec.orders.empty()) {
        m->orders = allocate<std::uint16_t>(spec.orders.size());
        std::copy(spec.orders.begin(), spec.orders.end(), m->orders);
    }
    m->pattern_count = int(spec.patterns.size());
    m->patterns = allocate<Pattern*>(spec.patterns.size());
    for (std::size_t p = 0; p < spec.patterns.size(); p++)
        m->patterns[p] = buildPattern(spec.patterns[p]);

    std::size_t totalSamples = 0;
    for (const InstrumentSpec& i : spec.instruments)
        totalSamples += i.samples.size();
    m->instrument_count = int(spec.instruments.size());
    m->instruments = allocate<Instrument*>(spec.instruments.size());
    m->samples = allocate<Sample*>(totalSamples);
    int nextHandle = 1;
    for (std::size_t n = 0; n < spec.instruments.size(); n++) {
        const InstrumentSpec& is = spec.instruments[n];
        if (is.null) continue;
        Instrument* ins = nullptr;
        EXPECT_EQ(alloc_instrument(int(is.samples.size()), &ins), errOK);
        m->instruments[n] = ins;
        std::strcpy(ins->name, "instrument");
        if (!is.noteMap.empty()) {
            ins->note_map = allocate<std::uint8_t>(is.noteMap.size());
            std::copy(is.noteMap.begin(), is.noteMap.end(), ins->note_map);
        }
        if (is.volumeEnvelopeOn) ins->volume_envelope = buildEnvelope(is.volumeEnvelope);
        if (is.panningEnvelopeOn) ins->panning_envelope = buildEnvelope(is.panningEnvelope);
        ins->fadeout = is.fadeout;
        ins->vibrato_waveform = static_cast<std::uint8_t>(is.vibratoWaveform);
        ins->vibrato_sweep = static_cast<std::uint8_t>(is.vibratoSweep);
        ins->vibrato_depth = static_cast<std::uint8_t>(is.vibratoDepth);
        ins->vibrato_rate = static_cast<std::uint8_t>(is.vibratoRate);
        ins->default_panning = static_cast<std::uint8_t>(is.defaultPanning);
        ins->global_volume = 64;
        ins->used = 1;
        for (std::size_t k = 0; k < is.samples.size(); k++) {
            const SampleSpec& ss = is.samples[k];
            auto* s = allocate<Sample>();
            std::strcpy(s->name, "sample");
            s->device_handle = ss.handle >= 0 ? ss.handle : nextHandle++;
            s->type = static_cast<SampleType>(ss.type);
            s->length = ss.length;
            s->volume = ss.volume;
            s->panning = ss.panning;
            const bool rateNote = spec.playMode == playModeScreamTracker3 || spec.playMode == playModeImpulse;
            s->relative_note = ss.relativeNote;
            s->middle_c_rate = rateNote && ss.middleC == 0 ? 8363 : ss.middleC;
            s->finetune = ss.finetune;
            s->sample_global_volume = 64;
            ins->sample_list[k] = s;
            m->samples[m->sample_count++] = s;
        }
    }
    return m;
}

// Plays songs built in the test on the recording device.
class PlayerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        calls.clear();
        device = recordingDevice();
        blocksBefore = mem_blocks_in_use();
        ASSERT_EQ(gmp_init(&device), errOK);
    }
    void TearDown() override {
        EXPECT_EQ(gmp_close(), errOK);
        for (Module* m : modules)
            EXPECT_EQ(free_module(m, &device), errOK);
        EXPECT_EQ(mem_blocks_in_use(), blocksBefore) << "blocks left allocated";
    }

    // Builds a module and starts it from its beginning.
    PlayHandle* start(const ModuleSpec& spec, int loopForever = 1) {
        Module* m = buildModule(spec);
        modules.push_back(m);
        PlayHandle* h = nullptr;
        EXPECT_EQ(gmp_play_song(m, -1, 0, 0, loopForever, -1, nullptr, &h), errOK);
        return h;
    }

    // Stops what plays, starts a song and runs up to the tick before its first row.
    PlayHandle* begin(const ModuleSpec& spec, int loopForever = 1) {
        EXPECT_EQ(gmp_close(), errOK);
        calls.clear();
        PlayHandle* h = start(spec, loopForever);
        ticks(spec.speed - 1);
        return h;
    }

    // Runs ticks (every one must succeed).
    void ticks(int n) {
        for (int i = 0; i < n; i++)
            ASSERT_EQ(gmp_play(), errOK) << "tick " << i;
    }

    // Runs ticks up to and including the row tick of row `rows` (counting from
    // the start at speed `speed`): rows x speed ticks.
    void rows(int n, int speed = 6) { ticks(n * speed); }

    SongStatus status(PlayHandle* h) {
        SongStatus* s = nullptr;
        EXPECT_EQ(gmp_get_status(h, &s), errOK);
        return s ? *s : SongStatus{};
    }

    SoundDevice device{};
    std::vector<Module*> modules;
    long blocksBefore = 0;
};

// The order position and row each tick reads, at speed 1 (one row a tick).
inline std::vector<std::pair<int, int>> visit(PlayHandle* h, int count) {
    std::vector<std::pair<int, int>> out;
    for (int i = 0; i < count; i++) {
        EXPECT_EQ(gmp_play(), errOK);
        out.emplace_back(h->status->position, h->status->row);
    }
    return out;
}

// A one-pattern song of one channel with the given cells on its rows.
inline ModuleSpec song(int playMode, std::vector<std::vector<Cell>> cells, int rows = 64) {
    ModuleSpec spec;
    spec.playMode = playMode;
    spec.patterns[0].rows = rows;
    spec.patterns[0].cells = std::move(cells);
    return spec;
}

} // namespace playertest
