// A reader for the tests that walks an Extended Module file by its declared
// sizes, independently of the writer, and records what it finds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct LayoutSample {
    uint32_t length = 0, loop_start = 0, loop_length = 0;
    uint8_t volume = 0, type = 0, panning = 0;
    int8_t finetune = 0, relative_note = 0;
    std::vector<int16_t> frames; // delta-decoded 16-bit data
};

struct LayoutInstrument {
    uint32_t header_size = 0;
    std::string name;
    uint16_t sample_count = 0;
    uint32_t sample_header_size = 0;
    uint8_t volume_points = 0, panning_points = 0, volume_type = 0, panning_type = 0;
    uint8_t volume_sustain = 0, panning_loop_start = 0, panning_loop_end = 0;
    uint16_t fadeout = 0;
    uint8_t vibrato_depth = 0;
    std::vector<LayoutSample> samples;
};

struct LayoutPattern {
    uint32_t header_length = 0;
    uint8_t packing = 0;
    uint16_t rows = 0;
    uint16_t packed_size = 0;
    std::vector<uint8_t> packed;
};

struct Layout {
    std::string signature, name, tracker;
    uint8_t marker = 0;
    uint16_t version = 0;
    uint32_t header_size = 0;
    uint16_t song_length = 0, restart = 0, channels = 0, pattern_count = 0, instrument_count = 0, flags = 0,
             speed = 0, tempo = 0;
    std::vector<uint8_t> orders;
    std::vector<LayoutPattern> patterns;
    std::vector<LayoutInstrument> instruments;
    size_t end = 0; // offset where the walk stopped
};

// Walks the file; returns false with a reason when a declared size runs past the end.
inline bool readLayout(const std::vector<uint8_t>& f, Layout& out, std::string& why) {
    size_t pos = 0;
    auto need = [&](size_t n) {
        if (pos + n > f.size()) {
            why = "file ends at " + std::to_string(f.size()) + ", needed " + std::to_string(pos + n);
            return false;
        }
        return true;
    };
    auto u8 = [&](size_t at) { return f[at]; };
    auto u16 = [&](size_t at) { return uint16_t(f[at] | f[at + 1] << 8); };
    auto u32 = [&](size_t at) { return uint32_t(u16(at) | uint32_t(u16(at + 2)) << 16); };
    auto text = [&](size_t at, size_t n) {
        std::string s(reinterpret_cast<const char*>(&f[at]), n);
        return s.substr(0, s.find('\0'));
    };
    if (!need(336)) return false;
    out.signature = std::string(reinterpret_cast<const char*>(&f[0]), 17);
    out.name = text(17, 20);
    out.marker = u8(37);
    out.tracker = text(38, 20);
    out.version = u16(58);
    out.header_size = u32(60);
    out.song_length = u16(64);
    out.restart = u16(66);
    out.channels = u16(68);
    out.pattern_count = u16(70);
    out.instrument_count = u16(72);
    out.flags = u16(74);
    out.speed = u16(76);
    out.tempo = u16(78);
    out.orders.assign(f.begin() + 80, f.begin() + 80 + std::min<int>(out.song_length, 256));
    pos = 60 + out.header_size;
    for (int p = 0; p < out.pattern_count; ++p) {
        LayoutPattern lp;
        if (!need(9)) return false;
        lp.header_length = u32(pos);
        lp.packing = u8(pos + 4);
        lp.rows = u16(pos + 5);
        lp.packed_size = u16(pos + 7);
        pos += lp.header_length;
        if (!need(lp.packed_size)) return false;
        lp.packed.assign(f.begin() + pos, f.begin() + pos + lp.packed_size);
        pos += lp.packed_size;
        out.patterns.push_back(lp);
    }
    for (int i = 0; i < out.instrument_count; ++i) {
        LayoutInstrument li;
        size_t start = pos;
        if (!need(29)) return false;
        li.header_size = u32(pos);
        li.name = text(pos + 4, 22);
        li.sample_count = u16(pos + 27);
        if (li.sample_count > 0) {
            if (!need(243)) return false;
            size_t b = pos + 29;
            li.sample_header_size = u32(b);
            li.volume_points = u8(b + 196);
            li.panning_points = u8(b + 197);
            li.volume_sustain = u8(b + 198);
            li.panning_loop_start = u8(b + 202);
            li.panning_loop_end = u8(b + 203);
            li.volume_type = u8(b + 204);
            li.panning_type = u8(b + 205);
            li.vibrato_depth = u8(b + 208);
            li.fadeout = u16(b + 210);
        }
        pos = start + li.header_size;
        for (int s = 0; s < li.sample_count; ++s) {
            if (!need(40)) return false;
            LayoutSample ls;
            ls.length = u32(pos);
            ls.loop_start = u32(pos + 4);
            ls.loop_length = u32(pos + 8);
            ls.volume = u8(pos + 12);
            ls.finetune = int8_t(u8(pos + 13));
            ls.type = u8(pos + 14);
            ls.panning = u8(pos + 15);
            ls.relative_note = int8_t(u8(pos + 16));
            li.samples.push_back(ls);
            pos += li.sample_header_size;
        }
        for (LayoutSample& ls : li.samples) {
            if (!need(ls.length)) return false;
            int16_t sum = 0;
            for (size_t k = 0; k + 1 < ls.length; k += 2) {
                sum = int16_t(sum + int16_t(u16(pos + k)));
                ls.frames.push_back(sum);
            }
            pos += ls.length;
        }
        out.instruments.push_back(li);
    }
    out.end = pos;
    return true;
}
