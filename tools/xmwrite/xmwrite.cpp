#include "tools/xmwrite/xmwrite.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t headerSize = 276;           // counted from offset 60, as every reader expects
constexpr uint32_t instrumentHeaderSize = 263; // 29 + 214 + 20 reserved bytes
constexpr uint32_t emptyInstrumentHeaderSize = 29;
constexpr uint32_t sampleHeaderSize = 40;
constexpr uint32_t patternHeaderSize = 9;
constexpr const char* trackerName = "Morva mksong";
constexpr size_t maxSampleFrames = 0x7FFFFFEF / 2; // readers refuse longer samples

void put8(std::vector<uint8_t>& out, unsigned v) {
    out.push_back(static_cast<uint8_t>(v));
}
void put16(std::vector<uint8_t>& out, unsigned v) {
    put8(out, v & 0xFF);
    put8(out, (v >> 8) & 0xFF);
}
void put32(std::vector<uint8_t>& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}
// Fixed-width text field, NUL padded.
void putText(std::vector<uint8_t>& out, const std::string& text, size_t width) {
    for (size_t i = 0; i < width; ++i)
        put8(out, i < text.size() ? static_cast<uint8_t>(text[i]) : 0);
}

bool validEnvelope(const XmEnvelope& e, const std::string& what, std::string& message) {
    if (e.points.size() > 12) {
        message = what + ": more than 12 envelope points";
        return false;
    }
    int n = static_cast<int>(e.points.size());
    for (int i = 1; i < n; ++i)
        if (e.points[i].x <= e.points[i - 1].x) {
            message = what + ": envelope ticks must rise from point to point";
            return false;
        }
    for (const auto& p : e.points)
        if (p.y > 64) {
            message = what + ": envelope value above 64";
            return false;
        }
    if (n > 0 && e.points[0].x != 0) {
        message = what + ": envelope must start at tick 0";
        return false;
    }
    if (e.sustain >= n || e.loop_start >= n || e.loop_end >= n) {
        message = what + ": envelope point index out of range";
        return false;
    }
    if ((e.loop_start < 0) != (e.loop_end < 0) || (e.loop_start >= 0 && e.loop_start > e.loop_end)) {
        message = what + ": envelope loop needs a start not after its end";
        return false;
    }
    return true;
}

void putEnvelopePoints(std::vector<uint8_t>& out, const XmEnvelope& e) {
    for (size_t i = 0; i < 12; ++i) {
        put16(out, i < e.points.size() ? e.points[i].x : 0);
        put16(out, i < e.points.size() ? e.points[i].y : 0);
    }
}

uint8_t envelopeType(const XmEnvelope& e) {
    if (e.points.empty()) return 0;
    return static_cast<uint8_t>(1 | (e.sustain >= 0 ? 2 : 0) | (e.loop_start >= 0 ? 4 : 0));
}

uint8_t pointOrZero(int index) {
    return index < 0 ? 0 : static_cast<uint8_t>(index);
}

} // namespace

bool xmValidate(const XmSong& song, std::string& message) {
    if (song.channels < 1 || song.channels > 32) {
        message = "channel count must be 1..32";
        return false;
    }
    if (song.orders.empty() || song.orders.size() > 256) {
        message = "order list must have 1..256 entries";
        return false;
    }
    if (song.restart_position >= song.orders.size()) {
        message = "restart position lies beyond the order list";
        return false;
    }
    if (song.patterns.empty() || song.patterns.size() > 256) {
        message = "pattern count must be 1..256";
        return false;
    }
    for (uint8_t o : song.orders)
        if (o >= song.patterns.size()) {
            message = "order list names pattern " + std::to_string(o) + ", which does not exist";
            return false;
        }
    if (song.speed < 1 || song.speed > 31 || song.tempo < 32 || song.tempo > 255) {
        message = "speed must be 1..31 and tempo 32..255";
        return false;
    }
    if (song.instruments.size() > 128) {
        message = "more than 128 instruments";
        return false;
    }
    for (size_t p = 0; p < song.patterns.size(); ++p) {
        const XmPattern& pat = song.patterns[p];
        if (pat.rows < 1 || pat.rows > 256) {
            message = "pattern " + std::to_string(p) + ": row count must be 1..256";
            return false;
        }
        if (pat.cells.size() != size_t(pat.rows) * song.channels) {
            message = "pattern " + std::to_string(p) + ": cell count does not match rows x channels";
            return false;
        }
        for (const XmCell& c : pat.cells) {
            if (c.note > xmNoteKeyOff || c.instrument > song.instruments.size() || c.effect > 35) {
                message = "pattern " + std::to_string(p) + ": note, instrument or effect out of range";
                return false;
            }
            // 0x01..0x0F and 0x51..0x5F mean nothing in the volume column
            if ((c.volume > 0 && c.volume < 0x10) || (c.volume > 0x50 && c.volume < 0x60)) {
                message = "pattern " + std::to_string(p) + ": volume column byte without a meaning";
                return false;
            }
        }
    }
    for (size_t i = 0; i < song.instruments.size(); ++i) {
        const XmInstrument& ins = song.instruments[i];
        std::string what = "instrument " + std::to_string(i + 1);
        if (ins.samples.size() > 16) {
            message = what + ": more than 16 samples";
            return false;
        }
        for (uint8_t m : ins.note_map)
            if (!ins.samples.empty() && m >= ins.samples.size()) {
                message = what + ": note map names a missing sample";
                return false;
            }
        if (!validEnvelope(ins.volume_envelope, what, message) ||
            !validEnvelope(ins.panning_envelope, what, message))
            return false;
        if (ins.vibrato_type > 3 || ins.fadeout > 0xFFF) {
            message = what + ": vibrato type 0..3 and fade-out 0..4095";
            return false;
        }
        for (const XmSample& s : ins.samples) {
            if (s.volume > 64) {
                message = what + ": sample volume above 64";
                return false;
            }
            if (s.data.size() > maxSampleFrames) {
                message = what + ": sample too long";
                return false;
            }
            if (s.loop != xmLoopNone &&
                (s.loop_length == 0 || uint64_t(s.loop_start) + s.loop_length > s.data.size())) {
                message = what + ": sample loop lies outside the sample";
                return false;
            }
        }
    }
    return true;
}

std::vector<uint8_t> xmPackPattern(const XmPattern& pattern, int channels) {
    std::vector<uint8_t> out;
    bool any = std::any_of(pattern.cells.begin(), pattern.cells.end(), [](const XmCell& c) {
        return c.note || c.instrument || c.volume || c.effect || c.param;
    });
    if (!any) return out; // an empty pattern is stored as size 0
    size_t cells = std::min(pattern.cells.size(), size_t(pattern.rows) * size_t(std::max(channels, 0)));
    for (size_t i = 0; i < cells; ++i) {
        const XmCell& c = pattern.cells[i];
        uint8_t mask = (c.note ? 1 : 0) | (c.instrument ? 2 : 0) | (c.volume ? 4 : 0) | (c.effect ? 8 : 0) |
                       (c.param ? 16 : 0);
        if (mask == 31) {
            // all five fields: the plain form is as short as it gets
            out.insert(out.end(), {c.note, c.instrument, c.volume, c.effect, c.param});
            continue;
        }
        out.push_back(static_cast<uint8_t>(0x80 | mask));
        if (c.note) out.push_back(c.note);
        if (c.instrument) out.push_back(c.instrument);
        if (c.volume) out.push_back(c.volume);
        if (c.effect) out.push_back(c.effect);
        if (c.param) out.push_back(c.param);
    }
    return out;
}

bool xmWrite(const XmSong& song, std::vector<uint8_t>& out, std::string& message) {
    if (!xmValidate(song, message)) return false;
    out.clear();
    putText(out, "Extended Module: ", 17);
    putText(out, song.name, 20);
    put8(out, 0x1A);
    putText(out, trackerName, 20);
    put16(out, 0x0104);
    put32(out, headerSize);
    put16(out, static_cast<unsigned>(song.orders.size()));
    put16(out, song.restart_position);
    put16(out, song.channels);
    put16(out, static_cast<unsigned>(song.patterns.size()));
    put16(out, static_cast<unsigned>(song.instruments.size()));
    put16(out, song.linear_frequencies ? 1 : 0);
    put16(out, song.speed);
    put16(out, song.tempo);
    for (size_t i = 0; i < 256; ++i)
        put8(out, i < song.orders.size() ? song.orders[i] : 0);

    for (const XmPattern& pat : song.patterns) {
        std::vector<uint8_t> packed = xmPackPattern(pat, song.channels);
        if (packed.size() > 0xFFFF) {
            message = "a pattern packs to more than 65535 bytes";
            return false;
        }
        put32(out, patternHeaderSize);
        put8(out, 0);
        put16(out, pat.rows);
        put16(out, static_cast<unsigned>(packed.size()));
        out.insert(out.end(), packed.begin(), packed.end());
    }

    for (const XmInstrument& ins : song.instruments) {
        size_t start = out.size();
        bool hasSamples = !ins.samples.empty();
        put32(out, hasSamples ? instrumentHeaderSize : emptyInstrumentHeaderSize);
        putText(out, ins.name, 22);
        put8(out, 0);
        put16(out, static_cast<unsigned>(ins.samples.size()));
        if (!hasSamples) continue;
        put32(out, sampleHeaderSize);
        out.insert(out.end(), ins.note_map.begin(), ins.note_map.end());
        putEnvelopePoints(out, ins.volume_envelope);
        putEnvelopePoints(out, ins.panning_envelope);
        put8(out, static_cast<unsigned>(ins.volume_envelope.points.size()));
        put8(out, static_cast<unsigned>(ins.panning_envelope.points.size()));
        put8(out, pointOrZero(ins.volume_envelope.sustain));
        put8(out, pointOrZero(ins.volume_envelope.loop_start));
        put8(out, pointOrZero(ins.volume_envelope.loop_end));
        put8(out, pointOrZero(ins.panning_envelope.sustain));
        put8(out, pointOrZero(ins.panning_envelope.loop_start));
        put8(out, pointOrZero(ins.panning_envelope.loop_end));
        put8(out, envelopeType(ins.volume_envelope));
        put8(out, envelopeType(ins.panning_envelope));
        put8(out, ins.vibrato_type);
        put8(out, ins.vibrato_sweep);
        put8(out, ins.vibrato_depth);
        put8(out, ins.vibrato_rate);
        put16(out, ins.fadeout);
        out.resize(start + instrumentHeaderSize, 0); // reserved bytes

        for (const XmSample& s : ins.samples) {
            bool looping = s.loop != xmLoopNone;
            put32(out, static_cast<uint32_t>(s.data.size() * 2));
            put32(out, looping ? s.loop_start * 2 : 0);
            put32(out, looping ? s.loop_length * 2 : 0);
            put8(out, s.volume);
            put8(out, static_cast<uint8_t>(s.finetune));
            put8(out, static_cast<uint8_t>(s.loop) | 0x10);
            put8(out, s.panning);
            put8(out, static_cast<uint8_t>(s.relative_note));
            put8(out, 0);
            putText(out, s.name, 22);
        }
        for (const XmSample& s : ins.samples) {
            int16_t previous = 0;
            for (int16_t v : s.data) {
                put16(out, static_cast<uint16_t>(v - previous));
                previous = v;
            }
        }
    }
    return true;
}
