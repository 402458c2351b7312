#include "sound/formats/loadxm.h"

#include "sound/api/errors.h"
#include "sound/formats/loader.h"
#include "sound/api/mglobals.h"
#include "sound/sys/mmem.h"
#include "sound/output/sdevice.h"

#include <algorithm>
#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr std::size_t headerBytes = 336;
// Every file starts with this text.
constexpr char signature[] = "Extended Module: ";
constexpr std::size_t signatureBytes = sizeof(signature) - 1;
constexpr std::size_t patternHeaderBytes = 9;
constexpr std::size_t instrumentHeaderBytes = 29;
constexpr std::size_t instrumentBlockBytes = 214;
constexpr std::size_t sampleHeaderBytes = 40;
constexpr int emptyPatternRows = 64;
constexpr int envelopeFilePoints = 12;
constexpr std::int64_t maxSampleLength = 0x7fffffef;
// Instrument numbers in pattern data are bytes with 255 meaning "none".
constexpr int maxInstruments = 255;
// Order entries are bytes, so no pattern beyond 256 can ever be played.
constexpr int maxPatterns = 256;
constexpr char placeholderName[] = "Empty instrument"; // 16 characters

// Markers in the effect table for effects that need more than a lookup.
constexpr int fxExtended = -1;   // E: command from the parameter's high nibble
constexpr int fxSpeedTempo = -2; // F: speed below 32, tempo from 32
constexpr int fxKeyOff = -3;     // K: a key off note, no command
constexpr int fxExtraFine = -4;  // X: extra fine portamento up (1x) or down (2x)

// File effect type 0..35 (0..9, then A = 10 .. Z = 35) to generic command
// (cmdNone = dropped) or one of the markers above.
constexpr std::array<int, 36> effectCommands = {
    cmdArpeggio,             // 0
    cmdPortaUp,              // 1
    cmdPortaDown,            // 2
    cmdTonePorta,            // 3
    cmdVibrato,              // 4
    cmdTonePortaVolumeSlide, // 5
    cmdVibratoVolumeSlide,   // 6
    cmdTremolo,              // 7
    cmdSetPanning,           // 8
    cmdSampleOffset,         // 9
    cmdVolumeSlide,          // A
    cmdPositionJump,         // B
    cmdSetVolume,            // C
    cmdPatternBreak,         // D
    fxExtended,              // E
    fxSpeedTempo,            // F
    cmdGlobalVolume,         // G
    cmdGlobalVolumeSlide,    // H
    cmdNone,                 // I
    cmdNone,                 // J
    fxKeyOff,                // K
    cmdNone,                 // L: envelope position
    cmdNone,                 // M
    cmdNone,                 // N
    cmdNone,                 // O
    cmdPanningSlide,         // P
    cmdNone,                 // Q
    cmdMultiRetrigger,       // R
    cmdNone,                 // S
    cmdTremor,               // T
    cmdNone,                 // U
    cmdNone,                 // V
    cmdSync,                 // W
    fxExtraFine,             // X
    cmdNone,                 // Y
    cmdNone,                 // Z
};

bool isExtendedModule(const std::uint8_t* head) {
    return std::memcmp(head, signature, signatureBytes) == 0;
}

// Worst-case size of a converted pattern: every channel entry carries all
// five bytes after its flag, and every row ends with a zero byte.
std::size_t convertedCapacity(int rows, int channels) {
    return 2 * sizeof(int) + static_cast<std::size_t>(rows) * (6 * static_cast<std::size_t>(channels) + 1);
}

struct PatternConversion {
    std::array<std::uint8_t, 256> used{}; // instruments referred to
    int highestInstrument = -1;
};

// One channel's cell as the file stores it.
struct FileCell {
    bool notePresent;
    std::uint8_t note, instrument, volume, effect, parameter;
};

// Reads the cell at packed[*at]: a first byte with bit 7 set says which
// fields follow, any other first byte is the note of a cell with every field.
// False when the data ends inside the cell.
bool readCell(const std::uint8_t* packed, std::size_t packedSize, std::size_t* at, FileCell* cell) {
    auto next = [&](std::uint8_t* value) {
        if (*at >= packedSize) return false;
        *value = packed[(*at)++];
        return true;
    };
    *cell = FileCell{};
    std::uint8_t b;
    if (!next(&b)) return false;
    if (!(b & 0x80)) {
        cell->notePresent = true;
        cell->note = b;
        return next(&cell->instrument) && next(&cell->volume) && next(&cell->effect) &&
               next(&cell->parameter);
    }
    cell->notePresent = (b & 0x01) != 0;
    return !(((b & 0x01) && !next(&cell->note)) || ((b & 0x02) && !next(&cell->instrument)) ||
             ((b & 0x04) && !next(&cell->volume)) || ((b & 0x08) && !next(&cell->effect)) ||
             ((b & 0x10) && !next(&cell->parameter)));
}

// The command and infobyte of a cell's effect; a key off (K) puts a key-off
// note into the entry instead.
void convertEffect(const FileCell& cell, RowEntry* entry) {
    const std::uint8_t p = cell.parameter;
    entry->info = p;
    if ((cell.effect == 0 && p == 0) || cell.effect >= effectCommands.size()) return;
    const int mapped = effectCommands[cell.effect];
    switch (mapped) {
    case fxExtended:
        entry->command = extendedEffectCommands[p >> 4];
        entry->info = p & 0x0f;
        break;
    case fxSpeedTempo: entry->command = p < 32 ? cmdSetSpeed : cmdSetTempo; break;
    case fxKeyOff:
        entry->note = noteKeyOff;
        entry->flags |= entryNoteInstrument;
        break;
    case fxExtraFine:
        entry->command = (p >> 4) == 2   ? cmdExtraFinePortaDown
                         : (p >> 4) == 1 ? cmdExtraFinePortaUp
                                         : cmdNone;
        entry->info = p & 0x0f;
        break;
    default: entry->command = static_cast<Command>(mapped); break;
    }
}

// A file cell as an entry of the packed row encoding (flags 0 when nothing
// is left of it); the instrument it names is counted as used.
RowEntry convertCell(const FileCell& cell, PatternConversion& conversion) {
    RowEntry entry{};
    entry.note = noteNone;
    entry.instrument = instrumentNone;
    if (cell.notePresent) entry.flags |= entryNoteInstrument;
    if (cell.notePresent && cell.note != 0)
        entry.note = cell.note <= 96
                         ? static_cast<std::uint8_t>(((cell.note - 1) / 12) << 4 | (cell.note - 1) % 12)
                         : noteKeyOff;
    if (cell.instrument != 0) {
        entry.instrument = static_cast<std::uint8_t>(cell.instrument - 1);
        conversion.used[entry.instrument] = 1;
        conversion.highestInstrument = std::max<int>(conversion.highestInstrument, entry.instrument);
        entry.flags |= entryNoteInstrument;
    }
    // 0x10..0x50 set the volume, 0x60 and up are volume-column effects;
    // anything else in the column means nothing and is dropped rather than
    // read as a low volume.
    if (cell.volume >= 0x10 && cell.volume <= 0x50) {
        entry.flags |= entryVolume;
        entry.volume = static_cast<std::uint8_t>(cell.volume - 0x10);
    } else if (cell.volume >= 0x60) {
        entry.flags |= entryVolume;
        entry.volume = cell.volume;
    }
    convertEffect(cell, &entry);
    if (entry.command != cmdNone) entry.flags |= entryCommand;
    return entry;
}

// Converts one pattern's packed file data into the packed row encoding.
// out must hold convertedCapacity(rows, channels) bytes.
int convertPattern(const std::uint8_t* packed, std::size_t packedSize, int rows, int channels,
                   PatternConversion& conversion, std::uint8_t* out, int* outSize) {
    if (rows < 1 || rows > maxPatternRows) return errInvalidModule;
    std::size_t w = 2 * sizeof(int);
    std::size_t r = 0;
    for (int row = 0; row < rows; row++) {
        for (int c = 0; packedSize != 0 && c < channels; c++) {
            FileCell cell;
            if (!readCell(packed, packedSize, &r, &cell)) return errInvalidPattern;
            const RowEntry entry = convertCell(cell, conversion);
            if (entry.flags == 0) continue;
            out[w++] = static_cast<std::uint8_t>(entry.flags | c);
            if (entry.flags & entryNoteInstrument) {
                out[w++] = entry.note;
                out[w++] = entry.instrument;
            }
            if (entry.flags & entryVolume) out[w++] = entry.volume;
            if (entry.flags & entryCommand) {
                out[w++] = entry.command;
                out[w++] = entry.info;
            }
        }
        out[w++] = 0;
    }
    int total = static_cast<int>(w);
    int rowCount = rows;
    std::memcpy(out, &total, sizeof(int));
    std::memcpy(out + sizeof(int), &rowCount, sizeof(int));
    *outSize = total;
    return errOK;
}

// Builds an envelope from the instrument block; null when it is switched off.
int buildEnvelope(const std::uint8_t* block, int pointsAt, int countAt, int sustainAt, int loopStartAt,
                  int loopEndAt, int typeAt, Envelope** out) {
    *out = nullptr;
    std::uint8_t type = block[typeAt];
    if ((type & 0x01) == 0) return errOK;
    void* memory = nullptr;
    if (int code = mem_alloc_zeroed(sizeof(Envelope), &memory); code != errOK) return code;
    auto* envelope = static_cast<Envelope*>(memory);
    // A point count beyond the file's 12 points, or point indices beyond the
    // count, would send the player past the points it has.
    int count = std::min<int>(block[countAt], envelopeFilePoints);
    auto pointIndex = [count](std::uint8_t index) { return index < count ? index : std::uint8_t{255}; };
    envelope->point_count = static_cast<std::uint8_t>(count);
    envelope->sustain_point = (type & 0x02) ? pointIndex(block[sustainAt]) : 255;
    envelope->loop_start = 255;
    envelope->loop_end = 255;
    std::uint8_t loopStart = pointIndex(block[loopStartAt]), loopEnd = pointIndex(block[loopEndAt]);
    if ((type & 0x04) && loopStart != loopEnd && loopStart != 255 && loopEnd != 255) {
        envelope->loop_start = loopStart;
        envelope->loop_end = loopEnd;
    }
    envelope->sustain_loop_start = 255;
    envelope->sustain_loop_end = 255;
    for (int k = 0; k < envelopeFilePoints; k++) {
        envelope->points[k].x = read_u16le(block + pointsAt + 4 * k);
        envelope->points[k].y = static_cast<std::int16_t>(read_u16le(block + pointsAt + 4 * k + 2));
    }
    *out = envelope;
    return errOK;
}

struct XmLoader {
    ImageReader in{};
    int addToDevice = 0;
    SampleCallback callback = nullptr;
    Module* module = nullptr;
    int samplesCapacity = 0;
    std::uint8_t* conversionBuffer = nullptr;
    SampleSink sink;
    PatternConversion conversion;

    // Appends a sample to the module's table, growing it as needed.
    int appendSample(Sample* sample) {
        if (module->sample_count == samplesCapacity) {
            int capacity = samplesCapacity == 0 ? 64 : samplesCapacity * 2;
            void* grown = nullptr;
            if (int code = mem_alloc_zeroed(static_cast<std::size_t>(capacity) * sizeof(Sample*), &grown);
                code != errOK)
                return code;
            if (module->samples != nullptr) {
                std::memcpy(grown, module->samples,
                            static_cast<std::size_t>(module->sample_count) * sizeof(Sample*));
                mem_free(module->samples);
            }
            module->samples = static_cast<Sample**>(grown);
            samplesCapacity = capacity;
        }
        module->samples[module->sample_count++] = sample;
        return errOK;
    }

    int readHeader(int* filePatterns, int* fileInstruments) {
        const std::uint8_t* h = nullptr;
        if (int code = in.take(headerBytes, &h); code != errOK) return code;
        in.pos = 60 + static_cast<std::int64_t>(read_u32le(h + 60));
        if (!isExtendedModule(h) || read_u16le(h + 58) <= 0x0103) return errInvalidModule;
        int songLength = read_u16le(h + 64);
        int channels = read_u16le(h + 68);
        *filePatterns = read_u16le(h + 70);
        *fileInstruments = read_u16le(h + 72);
        // The order table holds 256 entries and the packed rows 32 channels;
        // a song without orders or channels has nothing to play.
        if (songLength < 1 || songLength > 256 || channels < 1 || channels > maxModuleChannels ||
            *filePatterns > maxPatterns || *fileInstruments > maxInstruments)
            return errInvalidModule;

        void* memory = nullptr;
        if (int code = mem_alloc_zeroed(sizeof(Module), &memory); code != errOK) return code;
        module = static_cast<Module*>(memory);
        module->play_mode = playModeExtended;
        module->global_volume = 64;
        copy_name(module->name, h + 17, 20);
        module->song_length = songLength;
        // A restart position outside the song would send the player past the order list.
        int restart = read_u16le(h + 66);
        module->restart_position = restart < songLength ? restart : 0;
        module->speed = h[76];
        module->tempo = h[78];
        module->pattern_count = *filePatterns;
        module->channel_count = static_cast<std::uint8_t>(channels);
        if (read_u16le(h + 74) & 1) module->flags |= moduleLinearFrequency;

        if (int code = mem_alloc(maxModuleChannels * sizeof(int), &memory); code != errOK) return code;
        module->panning = static_cast<int*>(memory);
        for (int c = 0; c < maxModuleChannels; c++)
            module->panning[c] = 128;

        if (int code = mem_alloc(static_cast<std::size_t>(songLength) * sizeof(std::uint16_t), &memory);
            code != errOK)
            return code;
        module->orders = static_cast<std::uint16_t*>(memory);
        int highest = 0;
        for (int k = 0; k < songLength; k++) {
            module->orders[k] = h[80 + k];
            highest = std::max<int>(highest, h[80 + k]);
        }
        if (highest >= module->pattern_count) module->pattern_count = highest + 1;
        return errOK;
    }

    int readPatterns(int filePatterns) {
        int count = module->pattern_count;
        void* memory = nullptr;
        if (int code = mem_alloc_zeroed(static_cast<std::size_t>(count) * sizeof(Pattern*), &memory);
            code != errOK)
            return code;
        module->patterns = static_cast<Pattern**>(memory);
        int channels = module->channel_count;
        if (int code = mem_alloc(convertedCapacity(maxPatternRows, channels), &memory); code != errOK)
            return code;
        conversionBuffer = static_cast<std::uint8_t*>(memory);

        for (int n = 0; n < count; n++) {
            int rows = emptyPatternRows;
            const std::uint8_t* packed = nullptr;
            std::size_t packedSize = 0;
            if (n < filePatterns) {
                std::int64_t start = in.pos;
                const std::uint8_t* ph = nullptr;
                if (int code = in.take(patternHeaderBytes, &ph); code != errOK) return code;
                in.pos = start + read_u32le(ph);
                rows = read_u16le(ph + 5);
                packedSize = read_u16le(ph + 7);
                if (packedSize != 0) {
                    if (int code = in.take(static_cast<std::int64_t>(packedSize), &packed); code != errOK)
                        return code;
                }
            }
            int size = 0;
            if (int code =
                    convertPattern(packed, packedSize, rows, channels, conversion, conversionBuffer, &size);
                code != errOK)
                return code;
            if (int code = mem_alloc(static_cast<std::size_t>(size), &memory); code != errOK) return code;
            std::memcpy(memory, conversionBuffer, static_cast<std::size_t>(size));
            module->patterns[n] = static_cast<Pattern*>(memory);
        }
        mem_free(conversionBuffer);
        conversionBuffer = nullptr;
        return errOK;
    }

    // Fills a sample slot from its 40-byte file header.
    static void fillSample(Sample* sample, const std::uint8_t* sh, std::int64_t dataOffset) {
        std::uint32_t length = read_u32le(sh);
        std::int64_t loopStart = read_u32le(sh + 4);
        std::int64_t loopEnd = loopStart + read_u32le(sh + 8);
        std::uint8_t type = sh[14];
        sample->file_offset = static_cast<int>(std::min<std::int64_t>(dataOffset, 0x7fffffff));
        copy_name(sample->name, sh + 18, 22);
        sample->length = static_cast<int>(std::min<std::int64_t>(length, 0x7fffffff));
        sample->volume = std::min<int>(sh[12], 64);
        sample->finetune = static_cast<std::int8_t>(sh[13]);
        sample->panning = sh[15];
        sample->relative_note = static_cast<std::int8_t>(sh[16]);
        sample->type = (type & 0x10) ? SMP_16BIT_MONO : SMP_8BIT_MONO;
        sample->loop2_type = LOOP_NONE;
        // Loop bits 1 and 2 are the forward and the ping-pong loop; 3 means none.
        const LoopType loop = (type & 0x03) == 1 ? LOOP_FORWARD : (type & 0x03) == 2 ? LOOP_BIDI : LOOP_NONE;
        sample->loop_mode = loop != LOOP_NONE ? LOOPMODE_SINGLE_LOOPING : LOOPMODE_SINGLE;
        sample->loop1_type = loop;
        // A loop that reaches past the data would make the mixer read beyond
        // it: keep it inside, and play a loop with nothing left in it as no loop.
        loopStart = std::min<std::int64_t>(loopStart, sample->length);
        loopEnd = std::min<std::int64_t>(loopEnd, sample->length);
        sample->loop1_start = static_cast<int>(loopStart);
        sample->loop1_end = static_cast<int>(loopEnd);
        if (loopEnd <= loopStart) {
            sample->loop_mode = LOOPMODE_SINGLE;
            sample->loop1_type = LOOP_NONE;
        }
    }

    int readInstrument(int number, int fileInstruments) {
        std::uint8_t zeroHeader[instrumentHeaderBytes] = {};
        const std::uint8_t* ih = zeroHeader;
        const std::uint8_t* block = nullptr;
        std::int64_t start = in.pos;
        bool inFile = number < fileInstruments;
        // A file cut inside the sample data before this instrument lacks it altogether.
        if (inFile && (addToDevice & loadCutSamples) && in.pos >= in.size) {
            inFile = false;
            module->instruments_missing++;
        }
        int fileSamples = 0;
        int slotsFromFile = 0;
        if (inFile) {
            if (int code = in.take(instrumentHeaderBytes, &ih); code != errOK) return code;
            fileSamples = read_u16le(ih + 27);
            if (fileSamples != 0) {
                if (int code = in.take(instrumentBlockBytes, &block); code != errOK) return code;
                slotsFromFile = *std::max_element(block + 4, block + 100) + 1;
            }
        }
        bool used = conversion.used[number] != 0;
        int slots = used ? std::max(slotsFromFile, 1) : 0;

        Instrument* instrument = nullptr;
        if (int code = alloc_instrument(slots, &instrument); code != errOK) return code;
        module->instruments[number] = instrument;
        for (int s = 0; s < slots; s++) {
            void* memory = nullptr;
            if (int code = mem_alloc_zeroed(sizeof(Sample), &memory); code != errOK) return code;
            auto* sample = static_cast<Sample*>(memory);
            if (int code = appendSample(sample); code != errOK) {
                mem_free(sample);
                return code;
            }
            instrument->sample_list[s] = sample;
        }
        if (inFile)
            copy_name(instrument->name, ih + 4, 22);
        else
            std::memcpy(instrument->name, placeholderName, sizeof(placeholderName));
        instrument->used = used ? 1 : 0;
        // Instruments of this format carry no panning of their own.
        instrument->default_panning = 0x80;
        if (!inFile) return errOK;

        std::uint32_t sampleHeaderSize = 0;
        if (block != nullptr) {
            sampleHeaderSize = read_u32le(block);
            if (slotsFromFile > 1) {
                void* memory = nullptr;
                if (int code = mem_alloc(96, &memory); code != errOK) return code;
                std::memcpy(memory, block + 4, 96);
                instrument->note_map = static_cast<std::uint8_t*>(memory);
            }
            if (int code = buildEnvelope(block, 100, 196, 198, 199, 200, 204, &instrument->volume_envelope);
                code != errOK)
                return code;
            if (int code = buildEnvelope(block, 148, 197, 201, 202, 203, 205, &instrument->panning_envelope);
                code != errOK)
                return code;
            instrument->vibrato_waveform = block[206];
            instrument->vibrato_sweep = block[207];
            instrument->vibrato_depth = block[208];
            instrument->vibrato_rate = block[209];
            instrument->fadeout = read_u16le(block + 210);
        }

        in.pos = start + read_u32le(ih);
        std::int64_t headersAt = in.pos;
        std::int64_t dataOffset = headersAt + static_cast<std::int64_t>(fileSamples) * sampleHeaderSize;
        for (int s = 0; s < fileSamples; s++) {
            in.pos = headersAt + static_cast<std::int64_t>(s) * sampleHeaderSize;
            const std::uint8_t* sh = nullptr;
            if (int code = in.take(sampleHeaderBytes, &sh); code != errOK) return code;
            if (s < slots) {
                Sample* sample = instrument->sample_list[s];
                fillSample(sample, sh, dataOffset);
                if (read_u32le(sh) > maxSampleLength) return errInvalidInstrument;
            }
            dataOffset += read_u32le(sh);
        }
        // Slots the file lists no sample for stay empty (type 0).
        in.pos = dataOffset;
        return errOK;
    }

    int readInstruments(int fileInstruments) {
        int count = std::max(fileInstruments, conversion.highestInstrument + 1);
        module->instrument_count = count;
        void* memory = nullptr;
        if (count > 0) {
            if (int code = mem_alloc_zeroed(static_cast<std::size_t>(count) * sizeof(Instrument*), &memory);
                code != errOK)
                return code;
            module->instruments = static_cast<Instrument**>(memory);
        }
        for (int n = 0; n < count; n++)
            if (int code = readInstrument(n, fileInstruments); code != errOK) return code;
        return errOK;
    }

    // Undoes the file's delta coding: 8-bit data becomes unsigned, 16-bit
    // stays signed little-endian. The running sums wrap as the plain loop's
    // do; with SSE2 sixteen bytes or eight words are summed in one pass
    // (their prefix sums in four or three shifted additions, plus the sum
    // carried in from before them).
    static void deltaDecode(const std::uint8_t* from, std::uint8_t* to, std::size_t length, SampleType type) {
        std::size_t k = 0;
        if (type == SMP_8BIT_MONO) {
            std::uint8_t sum = 0;
#if defined(__SSE2__)
            __m128i carry = _mm_setzero_si128();
            for (; k + 16 <= length; k += 16) {
                __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + k));
                x = _mm_add_epi8(x, _mm_slli_si128(x, 1));
                x = _mm_add_epi8(x, _mm_slli_si128(x, 2));
                x = _mm_add_epi8(x, _mm_slli_si128(x, 4));
                x = _mm_add_epi8(x, _mm_slli_si128(x, 8));
                x = _mm_add_epi8(x, carry);
                carry = _mm_set1_epi8(static_cast<char>(_mm_extract_epi16(x, 7) >> 8));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(to + k), _mm_xor_si128(x, _mm_set1_epi8(char(0x80))));
            }
            if (k) sum = static_cast<std::uint8_t>(to[k - 1] ^ 0x80);
#endif
            for (; k < length; k++) {
                sum = static_cast<std::uint8_t>(sum + from[k]);
                to[k] = static_cast<std::uint8_t>(sum ^ 0x80);
            }
            return;
        }
        std::uint16_t sum = 0;
        const std::size_t pairs = length / 2;
#if defined(__SSE2__)
        __m128i carry = _mm_setzero_si128();
        for (; k + 8 <= pairs; k += 8) {
            __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + 2 * k));
            x = _mm_add_epi16(x, _mm_slli_si128(x, 2));
            x = _mm_add_epi16(x, _mm_slli_si128(x, 4));
            x = _mm_add_epi16(x, _mm_slli_si128(x, 8));
            x = _mm_add_epi16(x, carry);
            carry = _mm_set1_epi16(static_cast<short>(_mm_extract_epi16(x, 7)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + 2 * k), x);
        }
        if (k) sum = read_u16le(to + 2 * k - 2);
#endif
        for (; k < pairs; k++) {
            sum = static_cast<std::uint16_t>(sum + read_u16le(from + 2 * k));
            to[2 * k] = static_cast<std::uint8_t>(sum);
            to[2 * k + 1] = static_cast<std::uint8_t>(sum >> 8);
        }
        if (length & 1) to[length - 1] = 0;
    }

    int readSampleData() {
        // A file cut short keeps what it has of each sample (a whole file reads them as they come).
        for (int k = 0; (addToDevice & loadCutSamples) && k < module->sample_count; k++)
            if (int code = sample_data_in_image(in, module, module->samples[k], 1); code != errOK) return code;
        // No sample can hold more than the whole file.
        if (int code = sink.open(addToDevice, callback, in.size); code != errOK) return code;
        for (int k = 0; k < module->sample_count; k++)
            if (module->samples[k]->length == 0) module->samples[k]->type = SMP_NONE;
        return sink.fill(module, [this](int, const Sample* sample, std::uint8_t* decoded) {
            const std::uint8_t* raw = nullptr;
            if (int code = in.at(sample->file_offset, sample->length, &raw); code != errOK) return code;
            deltaDecode(raw, decoded, static_cast<std::size_t>(sample->length), sample->type);
            return static_cast<int>(errOK);
        });
    }

    int load() {
        int filePatterns = 0, fileInstruments = 0;
        if (int code = readHeader(&filePatterns, &fileInstruments); code != errOK) return code;
        if (int code = readPatterns(filePatterns); code != errOK) return code;
        if (int code = readInstruments(fileInstruments); code != errOK) return code;
        return readSampleData();
    }

    void release(bool failed) {
        if (conversionBuffer != nullptr) mem_free(conversionBuffer);
        conversionBuffer = nullptr;
        sink.close();
        if (failed && module != nullptr) free_module(module, currentDevice);
    }
};

} // namespace

const ModuleFormat extendedModuleFormat = {.name = "XM", .play_mode = playModeExtended, .signature_bytes = signatureBytes,
    .recognise = isExtendedModule, .load_memory = run_image_loader<XmLoader>, .load_file = load_extended_module};
