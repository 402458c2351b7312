// Extended Module writer: an in-memory song and its serialisation to the
// "Extended Module: " file layout (version 0x0104, 276-byte header, packed
// patterns, 263-byte instrument headers, 40-byte sample headers, delta-coded
// sample data).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// File note numbers: 0 = none, 1..96 = C-0..B-7, 97 = key off.
constexpr uint8_t xmNoteNone = 0;
constexpr uint8_t xmNoteKeyOff = 97;

// One pattern cell, in the file's own terms (instrument from 1, 0 = none;
// volume column 0 = empty, 0x10..0x50 = set volume, higher = column commands).
struct XmCell {
    uint8_t note = 0;
    uint8_t instrument = 0;
    uint8_t volume = 0;
    uint8_t effect = 0;
    uint8_t param = 0;
};

struct XmPattern {
    uint16_t rows = 64;
    std::vector<XmCell> cells; // rows x channel count, row-major
};

struct XmEnvelopePoint {
    uint16_t x = 0; // tick
    uint16_t y = 0; // 0..64
};

struct XmEnvelope {
    std::vector<XmEnvelopePoint> points; // at most 12; empty = off
    int sustain = -1;                    // point index or -1
    int loop_start = -1;                 // point indices or -1
    int loop_end = -1;
};

enum XmLoop : uint8_t { xmLoopNone = 0, xmLoopForward = 1, xmLoopPingPong = 2 };

struct XmSample {
    std::string name;          // at most 22 characters are written
    std::vector<int16_t> data; // sample frames, written as 16-bit
    uint32_t loop_start = 0;   // in frames
    uint32_t loop_length = 0;  // in frames, 0 = no loop
    XmLoop loop = xmLoopNone;
    uint8_t volume = 64;   // 0..64
    int8_t finetune = 0;   // 1/128 semitone
    uint8_t panning = 128; // 0..255
    int8_t relative_note = 0;
};

struct XmInstrument {
    std::string name;                      // at most 22 characters are written
    std::array<uint8_t, 96> note_map = {}; // sample index for each note
    XmEnvelope volume_envelope;
    XmEnvelope panning_envelope;
    uint8_t vibrato_type = 0; // 0 sine, 1 square, 2 ramp up, 3 ramp down
    uint8_t vibrato_sweep = 0;
    uint8_t vibrato_depth = 0;
    uint8_t vibrato_rate = 0;
    uint16_t fadeout = 0;
    std::vector<XmSample> samples; // at most 16
};

struct XmSong {
    std::string name; // at most 20 characters are written
    uint16_t channels = 8;
    uint16_t restart_position = 0;
    bool linear_frequencies = true;
    uint16_t speed = 6;
    uint16_t tempo = 125;
    std::vector<uint8_t> orders; // pattern number of each position, 1..256 entries
    std::vector<XmPattern> patterns;
    std::vector<XmInstrument> instruments; // instrument 1 is element 0
};

// Checks that the song fits the file format; on failure returns false and says why in message.
bool xmValidate(const XmSong& song, std::string& message);

// Serialises a valid song into the bytes of an Extended Module file; returns false (and why) for an invalid
// one.
bool xmWrite(const XmSong& song, std::vector<uint8_t>& out, std::string& message);

// Packs one pattern's cells the way the file stores them (empty pattern: no bytes).
std::vector<uint8_t> xmPackPattern(const XmPattern& pattern, int channels);
