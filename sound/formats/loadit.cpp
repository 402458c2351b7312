#include "sound/formats/loadit.h"

#include "sound/api/errors.h"
#include "sound/formats/loader.h"
#include "sound/api/mglobals.h"
#include "sound/sys/mmem.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>

namespace {

constexpr std::size_t headerBytes = 192;
constexpr std::size_t sampleHeaderBytes = 80;
constexpr std::size_t oldInstrumentBytes = 554;
// The newer layout is read up to the end of its pitch envelope.
constexpr std::size_t newInstrumentBytes = 550;
constexpr std::uint16_t newInstrumentVersion = 0x200;
constexpr int emptyPatternRows = 64;
constexpr std::int64_t maxSampleLength = 0x7fffffef;
// Instrument and sample numbers in pattern data and keyboard tables are
// bytes, 1..255; the orders name patterns 0..253.
constexpr int maxNumbered = 255;
constexpr int maxPatterns = 254;
constexpr int defaultMiddleC = 8363;
// Compressed data takes at least one bit a frame, so it decodes to at most
// 16 times its size (a 16-bit sample of a single repeated value).
constexpr std::int64_t compressionRatio = 16;

// Header flags: instruments are used (otherwise the patterns name samples);
// slides are linear.
constexpr std::uint16_t flagInstruments = 0x04;
constexpr std::uint16_t flagLinearSlides = 0x08;
// Initial channel volumes, 0..64, one byte for each of 64 channels.
constexpr int channelVolumesAt = 128;
// The song message: the header's "special" word says one is attached, and
// where it lies and how long it is (at most 8000 bytes, as the tracker keeps).
constexpr int specialAt = 46;
constexpr std::uint16_t specialMessage = 0x01;
constexpr int messageLengthAt = 54;
constexpr int messageOffsetAt = 56;
constexpr std::int64_t maxMessageBytes = 8000;
// Channel panning bytes: 0..64, 100 surround, bit 7 set for a switched-off channel.
constexpr std::uint8_t panningSurround = 100;
constexpr std::uint8_t channelOff = 0x80;

// Sample header flags (byte 18) and conversion flags (byte 46).
constexpr std::uint8_t sampleHasData = 0x01;
constexpr std::uint8_t sample16Bit = 0x02;
constexpr std::uint8_t sampleCompressed = 0x08;
constexpr std::uint8_t sampleLoops = 0x10;
constexpr std::uint8_t sampleSustainLoops = 0x20;
constexpr std::uint8_t sampleLoopPingPong = 0x40;
constexpr std::uint8_t sampleSustainPingPong = 0x80;
constexpr std::uint8_t convertSigned = 0x01;
constexpr std::uint8_t convertBigEndian = 0x02;
constexpr std::uint8_t convertDelta = 0x04; // with compression: the 2.15 form

// Keyboard table and envelopes of an instrument header.
constexpr int keyboardAt = 64;
constexpr int keyboardNotes = 120;
constexpr std::array<int, 3> envelopeAt = {304, 386, 468}; // volume, panning, pitch
// The third envelope's flag that makes it steer the resonant filter's cutoff.
constexpr std::uint8_t filterEnvelope = 0x80;
// The newer instrument header's initial filter cutoff, then resonance (bit 7: set).
constexpr int initialCutoffAt = 58;
constexpr int oldEnvelopeFlagsAt = 17;
constexpr int oldEnvelopeNodesAt = 504;
constexpr std::uint8_t oldEnvelopeEnd = 0xff;
constexpr std::uint8_t envelopeOn = 0x01;
constexpr std::uint8_t envelopeLoops = 0x02;
constexpr std::uint8_t envelopeSustainLoops = 0x04;

// Note bytes: 0..119 are notes, 255 note off, 254 note cut, others note fade.
constexpr int noteCount = 120;
constexpr std::uint8_t fileNoteCut = 254;

// Command letter (A = 1 .. Y = 25) to generic command; cmdNone drops it. S,
// V and X need more than a lookup.
constexpr int letterS = 19;
constexpr int letterV = 22;
constexpr int letterX = 24;
constexpr std::array<Command, 26> letterCommands = {
    cmdNone,
    cmdSetSpeed,             // A
    cmdPositionJump,         // B
    cmdPatternBreak,         // C
    cmdVolumeSlide,          // D
    cmdPortaDown,            // E
    cmdPortaUp,              // F
    cmdTonePorta,            // G
    cmdVibrato,              // H
    cmdTremor,               // I
    cmdArpeggio,             // J
    cmdVibratoVolumeSlide,   // K
    cmdTonePortaVolumeSlide, // L
    cmdSetChannelVolume,     // M
    cmdChannelVolumeSlide,   // N
    cmdSampleOffset,         // O
    cmdPanningSlide,         // P
    cmdMultiRetrigger,       // Q
    cmdTremolo,              // R
    cmdNone,                 // S: see specialEffectCommands
    cmdSetTempo,             // T
    cmdNone,                 // U: fine vibrato
    cmdGlobalVolume,         // V
    cmdGlobalVolumeSlide,    // W
    cmdNone,                 // X: set panning, scaled
    cmdNone,                 // Y: panbrello
};

constexpr char signature[] = "IMPM";
constexpr std::size_t signatureBytes = sizeof(signature) - 1;

bool isImpulseTracker(const std::uint8_t* head) {
    return std::memcmp(head, signature, signatureBytes) == 0;
}

std::uint8_t encodeNote(int note) {
    return static_cast<std::uint8_t>((note / 12) << 4 | note % 12);
}

// Reads the compressed stream in codes of up to 17 bits, lowest bit first.
struct BitReader {
    const std::uint8_t* next;
    const std::uint8_t* end;
    std::uint32_t buffer = 0;
    int buffered = 0;

    bool read(int bits, std::uint32_t* out) {
        while (buffered < bits) {
            if (next == end) return false;
            buffer |= static_cast<std::uint32_t>(*next++) << buffered;
            buffered += 8;
        }
        *out = buffer & ((1u << bits) - 1);
        buffer >>= bits;
        buffered -= bits;
        return true;
    }
};

// Decodes one block of up to count frames: differences (2.15: differences
// of differences) read at a bit width that starts widest. Some codes change
// the width instead: below width 7 the lowest negative value, followed by a
// 3-bit (16-bit data: 4-bit) width; from 7 to one below the widest, the 8
// (16) values around the top of the signed range, which name the width
// themselves; at the widest width (9, 17) any code with its top bit set.
int decodeBlock(BitReader& bits, bool sixteenBit, bool it215, std::uint8_t* out, std::size_t count) {
    const int sampleBits = sixteenBit ? 16 : 8;
    const int widest = sampleBits + 1;
    const int widthBits = sixteenBit ? 4 : 3;
    const std::uint32_t borderBase = sixteenBit ? 0xffff : 0xff;
    const std::uint32_t borderSpan = sixteenBit ? 16 : 8;
    int width = widest;
    std::uint32_t sum = 0, sumOfSums = 0;
    std::size_t k = 0;
    while (k < count) {
        std::uint32_t value = 0;
        if (!bits.read(width, &value)) return errInvalidInstrument;
        int next = 0;
        if (width < 7) {
            if (value == 1u << (width - 1)) {
                if (!bits.read(widthBits, &value)) return errInvalidInstrument;
                next = static_cast<int>(value) + 1;
            }
        } else if (width < widest) {
            std::uint32_t border = (borderBase >> (widest - width)) - borderSpan / 2;
            if (value > border && value <= border + borderSpan) next = static_cast<int>(value - border);
        } else if (value & (1u << sampleBits)) {
            width = static_cast<int>((value + 1) & 0xff);
            if (width < 1 || width > widest) return errInvalidInstrument;
            continue;
        }
        if (next != 0) {
            // The width itself is never named, so the numbers above it are one lower.
            width = next < width ? next : next + 1;
            continue;
        }
        int used = std::min(width, sampleBits);
        std::int32_t delta = static_cast<std::int32_t>(value << (32 - used)) >> (32 - used);
        sum += static_cast<std::uint32_t>(delta);
        sumOfSums += sum;
        std::uint32_t sample = it215 ? sumOfSums : sum;
        if (sixteenBit) {
            out[2 * k] = static_cast<std::uint8_t>(sample);
            out[2 * k + 1] = static_cast<std::uint8_t>(sample >> 8);
        } else {
            out[k] = static_cast<std::uint8_t>(sample);
        }
        k++;
    }
    return errOK;
}

// Where a converted channel entry goes, and which channels and instruments count.
struct PatternConversion {
    std::array<bool, 64> enabled{};
    int instrumentLimit = 0;
    // Sample mode keeps a sample number the song does not have: the player stops the channel there.
    bool keepUnknownSamples = false;
    int highestChannel = -1;
    std::array<std::uint8_t, maxNumbered> used{};
};

struct ItLoader {
    ImageReader in{};
    int addToDevice = 0;
    SampleCallback callback = nullptr;
    Module* module = nullptr;
    const std::uint8_t* header = nullptr;
    int fileInstruments = 0, fileSamples = 0, filePatterns = 0;
    int instruments = 0, samples = 0;
    const std::uint8_t* instrumentOffsets = nullptr;
    const std::uint8_t* sampleOffsets = nullptr;
    const std::uint8_t* patternOffsets = nullptr;
    PatternConversion conversion;
    PatternBuilder builder;
    SampleSink sink;

    int readHeader() {
        if (int code = in.take(headerBytes, &header); code != errOK) return code;
        if (!isImpulseTracker(header)) return errInvalidModule;
        int orderCount = read_u16le(header + 32);
        fileInstruments = read_u16le(header + 34);
        fileSamples = read_u16le(header + 36);
        filePatterns = read_u16le(header + 38);
        // Numbers past 255 can never be named by a pattern or a keyboard table.
        instruments = std::min(fileInstruments, maxNumbered);
        samples = std::min(fileSamples, maxNumbered);
        bool instrumentMode = (read_u16le(header + 44) & flagInstruments) != 0;

        const std::uint8_t* orders = nullptr;
        if (int code = in.take(orderCount, &orders); code != errOK) return code;
        if (int code = in.take(4 * static_cast<std::int64_t>(fileInstruments), &instrumentOffsets); code != errOK)
            return code;
        if (int code = in.take(4 * static_cast<std::int64_t>(fileSamples), &sampleOffsets); code != errOK)
            return code;
        if (int code = in.take(4 * static_cast<std::int64_t>(filePatterns), &patternOffsets); code != errOK)
            return code;

        if (!orders_playable(orders, orderCount)) return errInvalidModule;
        int highest = -1;
        for (int k = 0; k < orderCount; k++)
            if (orders[k] < orderByteSkip) highest = std::max<int>(highest, orders[k]);

        void* memory = nullptr;
        if (int code = mem_alloc_zeroed(sizeof(Module), &memory); code != errOK) return code;
        module = static_cast<Module*>(memory);
        module->play_mode = playModeImpulse;
        copy_name(module->name, header + 4, 26);
        module->song_length = orderCount;
        module->restart_position = 0;
        // Impulse Tracker's global volume runs to 128, the player's to 64.
        module->global_volume = static_cast<std::uint8_t>(std::min<int>(header[48], 128) / 2);
        module->speed = header[50];
        module->tempo = header[51];
        module->pattern_count = std::max(std::min(filePatterns, maxPatterns), highest + 1);
        module->instrument_count = instrumentMode ? instruments : samples;
        module->sample_count = samples;
        if (instrumentMode) module->flags |= moduleInstrumentMode;
        if (read_u16le(header + 44) & flagLinearSlides) module->flags |= moduleLinearFrequency;

        if (int code = mem_alloc(static_cast<std::size_t>(orderCount) * sizeof(std::uint16_t), &memory);
            code != errOK)
            return code;
        module->orders = static_cast<std::uint16_t*>(memory);
        for (int k = 0; k < orderCount; k++)
            module->orders[k] = order_entry(orders[k]);

        if (int code = mem_alloc(64, &memory); code != errOK) return code;
        module->channel_volumes = static_cast<std::uint8_t*>(memory);
        for (int c = 0; c < 64; c++)
            module->channel_volumes[c] = std::min<std::uint8_t>(header[channelVolumesAt + c], 64);

        if (int code = mem_alloc(64 * sizeof(int), &memory); code != errOK) return code;
        module->panning = static_cast<int*>(memory);
        for (int c = 0; c < 64; c++) {
            const std::uint8_t panning = header[64 + c];
            const std::uint8_t value = panning & ~channelOff;
            // Panning 0..64, or 100 for surround; a switched-off channel keeps its
            // bit: its commands still act.
            module->panning[c] = (value <= 64 || value == panningSurround ? value : 32) | (panning & channelOff);
            conversion.enabled[static_cast<std::size_t>(c)] = c < maxModuleChannels;
        }
        conversion.instrumentLimit = module->instrument_count;
        conversion.keepUnknownSamples = (module->flags & moduleInstrumentMode) == 0;
        return readMessage();
    }

    // The song message, when the header says one is attached: its lines end
    // in carriage returns in the file and in line feeds here. A message the
    // file does not hold is left out; it is no reason to refuse the song.
    int readMessage() {
        if (!(read_u16le(header + specialAt) & specialMessage)) return errOK;
        const std::int64_t length = std::min<std::int64_t>(read_u16le(header + messageLengthAt), maxMessageBytes);
        const std::uint8_t* text = nullptr;
        if (length == 0 || in.at(read_u32le(header + messageOffsetAt), length, &text) != errOK) return errOK;
        void* memory = nullptr;
        if (int code = mem_alloc(static_cast<std::size_t>(length) + 1, &memory); code != errOK) return code;
        char* message = static_cast<char*>(memory);
        std::int64_t n = 0;
        for (; n < length && text[n] != 0; ++n)
            message[n] = text[n] == '\r' ? '\n' : static_cast<char>(text[n]);
        message[n] = 0;
        module->message = message;
        return errOK;
    }

    // Converts one channel entry; channels beyond the packed rows' 32 are dropped.
    void convertEntry(int channel, std::uint8_t mask, std::uint8_t note, std::uint8_t instrument,
                      std::uint8_t volume, std::uint8_t letter, std::uint8_t info) {
        if (!conversion.enabled[static_cast<std::size_t>(channel)]) return;
        bool hasNote = (mask & 0x11) != 0, hasInstrument = (mask & 0x22) != 0;
        bool hasVolume = (mask & 0x44) != 0, hasCommand = (mask & 0x88) != 0;
        if (!hasNote && !hasInstrument && !hasVolume && !hasCommand) return;
        conversion.highestChannel = std::max(conversion.highestChannel, channel);
        if (hasNote || hasInstrument) {
            std::uint8_t converted = noteNone;
            if (hasNote) {
                // Note fade has no counterpart in the player; a note off comes closest.
                converted = note < noteCount        ? encodeNote(note)
                            : note == fileNoteCut ? noteStop
                                                  : noteKeyOff;
            }
            std::uint8_t index = instrumentNone;
            if (hasInstrument && instrument != 0 && instrument <= conversion.instrumentLimit) {
                index = static_cast<std::uint8_t>(instrument - 1);
                conversion.used[index] = 1;
            } else if (hasInstrument && instrument != 0 && conversion.keepUnknownSamples) {
                index = static_cast<std::uint8_t>(instrument - 1);
            }
            builder.note(channel, converted, index);
        }
        if (hasVolume) builder.volume(channel, volume);
        if (hasCommand && letter >= 1 && letter < letterCommands.size()) {
            if (letter == letterS && (info == 0x77 || info == 0x78)) {
                builder.command(channel, cmdVolumeEnvelope, info & 1 ? 0 : 1);
            } else if (letter == letterS) {
                // The tracker remembers a channel's last S command for S00, also one the player
                // does not play: such a one, and S00 itself, the player's memory takes in.
                const Command special = specialEffectCommands[info >> 4];
                if (special == cmdNone || info == 0)
                    builder.command(channel, cmdSpecialMemory, info);
                else
                    builder.command(channel, special, info & 0x0f);
            } else if (letter == letterX) {
                builder.command(channel, cmdSetPanning, static_cast<std::uint8_t>((info + 1) / 4));
            } else if (letter == letterV) {
                // Impulse Tracker's global volume runs to 128; a V above it does nothing.
                if (info <= 128) builder.command(channel, cmdGlobalVolume, static_cast<std::uint8_t>(info / 2));
            } else {
                builder.command(channel, letterCommands[letter], info);
            }
        }
    }

    // Converts one pattern; offset 0 or none gives 64 empty rows.
    int convertPattern(int number) {
        builder.begin();
        std::int64_t offset = number < filePatterns ? read_u32le(patternOffsets + 4 * number) : 0;
        if (offset == 0) {
            for (int row = 0; row < emptyPatternRows; row++)
                if (int code = builder.endRow(); code != errOK) return code;
            return builder.finish(&module->patterns[number]);
        }
        const std::uint8_t* head = nullptr;
        if (int code = in.at(offset, 8, &head); code != errOK) return code;
        int rows = read_u16le(head + 2);
        if (rows < 1 || rows > maxPatternRows) return errInvalidModule;
        ImageReader packed{nullptr, read_u16le(head), 0};
        if (int code = in.at(offset + 8, packed.size, &packed.data); code != errOK) return code;

        // What each channel had last, for entries that repeat it.
        std::array<std::uint8_t, 64> lastMask{}, lastNote{}, lastInstrument{}, lastVolume{}, lastLetter{},
            lastInfo{};
        int row = 0;
        while (row < rows) {
            const std::uint8_t* p = nullptr;
            if (packed.take(1, &p) != errOK) return errInvalidPattern;
            std::uint8_t channelByte = *p;
            if (channelByte == 0) {
                if (int code = builder.endRow(); code != errOK) return code;
                row++;
                continue;
            }
            std::size_t c = static_cast<std::size_t>((channelByte - 1) & 63);
            if (channelByte & 0x80) {
                if (packed.take(1, &p) != errOK) return errInvalidPattern;
                lastMask[c] = *p;
            }
            std::uint8_t mask = lastMask[c];
            std::int64_t fields = ((mask & 0x01) ? 1 : 0) + ((mask & 0x02) ? 1 : 0) + ((mask & 0x04) ? 1 : 0) +
                                  ((mask & 0x08) ? 2 : 0);
            if (packed.take(fields, &p) != errOK) return errInvalidPattern;
            if (mask & 0x01) lastNote[c] = *p++;
            if (mask & 0x02) lastInstrument[c] = *p++;
            if (mask & 0x04) lastVolume[c] = *p++;
            if (mask & 0x08) {
                lastLetter[c] = *p++;
                lastInfo[c] = *p;
            }
            convertEntry(static_cast<int>(c), mask, lastNote[c], lastInstrument[c], lastVolume[c], lastLetter[c],
                         lastInfo[c]);
        }
        return builder.finish(&module->patterns[number]);
    }

    int readPatterns() {
        if (int code = builder.buildAll(module, [this](int n) { return convertPattern(n); }); code != errOK)
            return code;
        // Enough channels for every one the patterns name.
        module->channel_count = static_cast<std::uint8_t>(std::max(1, conversion.highestChannel + 1));
        return errOK;
    }

    // A loop of the sample header, in frames, kept inside the data; false
    // when it is switched off or has nothing in it.
    static bool loopOf(const std::uint8_t* h, std::uint8_t flag, int at, std::int64_t length, std::int64_t* start,
                       std::int64_t* end) {
        *start = read_u32le(h + at);
        *end = std::min<std::int64_t>(read_u32le(h + at + 4), length);
        return (h[18] & flag) && *end > *start;
    }

    // The sample's loops, in bytes. The mixer plays loop 1 until the note is
    // released and then loop 2, so a sustain loop goes first and the
    // sample's own loop after it.
    static void setLoops(Sample* sample, const std::uint8_t* h, std::int64_t length, int frameBytes) {
        const std::uint8_t flags = h[18];
        std::int64_t loopStart, loopEnd, sustainStart, sustainEnd;
        const bool loops = loopOf(h, sampleLoops, 52, length, &loopStart, &loopEnd);
        const bool sustains = loopOf(h, sampleSustainLoops, 64, length, &sustainStart, &sustainEnd);
        const LoopType loopType = (flags & sampleLoopPingPong) ? LOOP_BIDI : LOOP_FORWARD;
        const LoopType sustainType = (flags & sampleSustainPingPong) ? LOOP_BIDI : LOOP_FORWARD;
        if (sustains) {
            sample->loop_mode = LOOPMODE_SUSTAIN_LOOPING;
            sample->loop1_type = sustainType;
            sample->loop1_start = static_cast<int>(sustainStart * frameBytes);
            sample->loop1_end = static_cast<int>(sustainEnd * frameBytes);
            if (loops) {
                sample->loop2_type = loopType;
                sample->loop2_start = static_cast<int>(loopStart * frameBytes);
                sample->loop2_end = static_cast<int>(loopEnd * frameBytes);
            }
        } else if (loops) {
            sample->loop_mode = LOOPMODE_SINGLE_LOOPING;
            sample->loop1_type = loopType;
            sample->loop1_start = static_cast<int>(loopStart * frameBytes);
            sample->loop1_end = static_cast<int>(loopEnd * frameBytes);
        }
    }

    // Fills a sample from its 80-byte header and checks that its data can be in the file.
    int fillSample(Sample* sample, const std::uint8_t* h) {
        copy_name(sample->name, h + 20, 26);
        std::uint8_t flags = h[18];
        sample->volume = std::min<int>(h[19], 64);
        sample->sample_global_volume = h[17];
        sample->panning = -1;
        std::uint32_t rate = read_u32le(h + 60);
        sample->middle_c_rate =
            rate == 0 ? defaultMiddleC : static_cast<int>(std::min<std::uint32_t>(rate, INT_MAX));
        sample->sample_vibrato[0] = h[79];
        sample->sample_vibrato[1] = h[78];
        sample->sample_vibrato[2] = h[77];
        sample->sample_vibrato[3] = h[76];
        std::int64_t length = read_u32le(h + 48);
        if (!(flags & sampleHasData) || length == 0) return errOK;

        int frameBytes = (flags & sample16Bit) ? 2 : 1;
        std::int64_t bytes = length * frameBytes;
        if (bytes > maxSampleLength) return errInvalidInstrument;
        std::int64_t offset = read_u32le(h + 72);
        std::int64_t available = std::max<std::int64_t>(in.size - offset, 0);
        const bool compressed = (flags & sampleCompressed) != 0;
        // Compressed data must be able to make the sample (a cut file's decodes
        // as far as it goes).
        if (compressed && bytes > compressionRatio * available && !(addToDevice & loadCutSamples))
            return errEndOfFile;

        setLoops(sample, h, length, frameBytes);
        sample->type = frameBytes == 2 ? SMP_16BIT_MONO : SMP_8BIT_MONO;
        sample->length = static_cast<int>(bytes);
        sample->file_offset = static_cast<int>(std::min<std::int64_t>(offset, INT_MAX));
        // Plain data must all be there (a stereo sample's left channel comes
        // first and is the one played), or with a cut file as much as is.
        if (!compressed) {
            if (int code = sample_data_in_image(in, module, sample, addToDevice & loadCutSamples); code != errOK)
                return code;
        }
        return errOK;
    }

    int readSampleHeaders() {
        void* memory = nullptr;
        if (int code = alloc_zeroed_array(static_cast<std::size_t>(samples), sizeof(Sample*), &memory);
            code != errOK)
            return code;
        module->samples = static_cast<Sample**>(memory);
        for (int k = 0; k < samples; k++) {
            if (int code = mem_alloc_zeroed(sizeof(Sample), &memory); code != errOK) return code;
            auto* sample = static_cast<Sample*>(memory);
            module->samples[k] = sample;
            const std::uint8_t* h = nullptr;
            if (int code = in.at(read_u32le(sampleOffsets + 4 * k), sampleHeaderBytes, &h); code != errOK)
                return code;
            if (int code = fillSample(sample, h); code != errOK) return code;
        }
        return errOK;
    }

    // An envelope with its points in order: a point that does not come after
    // the one before it ends the envelope, and loops must lie within it.
    static int makeEnvelope(int count, const EnvelopePoint* points, std::uint8_t flags, std::uint8_t loopStart,
                            std::uint8_t loopEnd, std::uint8_t sustainStart, std::uint8_t sustainEnd,
                            Envelope** out) {
        void* memory = nullptr;
        if (int code = mem_alloc_zeroed(sizeof(Envelope), &memory); code != errOK) return code;
        auto* envelope = static_cast<Envelope*>(memory);
        count = std::min(count, envelopePointCapacity);
        int kept = 0;
        while (kept < count && (kept == 0 || points[kept].x > points[kept - 1].x)) {
            envelope->points[kept] = points[kept];
            kept++;
        }
        envelope->point_count = static_cast<std::uint8_t>(kept);
        auto within = [kept](std::uint8_t first, std::uint8_t last) { return first <= last && last < kept; };
        bool loops = (flags & envelopeLoops) && within(loopStart, loopEnd);
        envelope->loop_start = loops ? loopStart : 255;
        envelope->loop_end = loops ? loopEnd : 255;
        // The player lets a sustain loop act only where a sustain point is
        // named; naming the loop's end holds a one-point loop there and lets
        // a longer one run back to its start.
        bool sustains = (flags & envelopeSustainLoops) && within(sustainStart, sustainEnd);
        envelope->sustain_loop_start = sustains ? sustainStart : 255;
        envelope->sustain_loop_end = sustains ? sustainEnd : 255;
        envelope->sustain_point = sustains ? sustainEnd : 255;
        *out = envelope;
        return errOK;
    }

    // An envelope block of the newer layout: flags, point count, loop and
    // sustain loop, then 25 points of a signed value and a 16-bit tick.
    static int newEnvelope(const std::uint8_t* block, Envelope** out) {
        *out = nullptr;
        if (!(block[0] & envelopeOn)) return errOK;
        std::array<EnvelopePoint, envelopePointCapacity> points{};
        for (int i = 0; i < envelopePointCapacity; i++)
            points[static_cast<std::size_t>(i)] = {read_u16le(block + 7 + 3 * i),
                                                   static_cast<std::int8_t>(block[6 + 3 * i])};
        return makeEnvelope(block[1], points.data(), block[0], block[2], block[3], block[4], block[5], out);
    }

    // The older layout's volume envelope: ticks and values in byte pairs,
    // ended by a tick of 255.
    static int oldEnvelope(const std::uint8_t* h, Envelope** out) {
        *out = nullptr;
        std::uint8_t flags = h[oldEnvelopeFlagsAt];
        if (!(flags & envelopeOn)) return errOK;
        std::array<EnvelopePoint, envelopePointCapacity> points{};
        int count = 0;
        while (count < envelopePointCapacity && h[oldEnvelopeNodesAt + 2 * count] != oldEnvelopeEnd) {
            points[static_cast<std::size_t>(count)] = {h[oldEnvelopeNodesAt + 2 * count],
                                                       static_cast<std::int16_t>(h[oldEnvelopeNodesAt + 2 * count + 1])};
            count++;
        }
        return makeEnvelope(count, points.data(), flags, h[18], h[19], h[20], h[21], out);
    }

    // An instrument of its own header: the samples its keyboard names, and
    // which sample and note (a note number 0..119, as the keyboard has it)
    // each note plays.
    int readInstrument(int k) {
        bool newer = read_u16le(header + 42) >= newInstrumentVersion;
        const std::uint8_t* h = nullptr;
        if (int code = in.at(read_u32le(instrumentOffsets + 4 * k), newer ? newInstrumentBytes : oldInstrumentBytes,
                             &h);
            code != errOK)
            return code;
        std::array<std::uint8_t, maxNumbered + 1> listed{}; // sample number + 1 to its place in the list
        std::array<std::uint8_t, 2 * keyboardNotes> noteMap{};
        int distinct = 0;
        for (int j = 0; j < keyboardNotes; j++) {
            std::uint8_t note = h[keyboardAt + 2 * j];
            std::uint8_t number = h[keyboardAt + 2 * j + 1];
            noteMap[static_cast<std::size_t>(2 * j)] = static_cast<std::uint8_t>(note < noteCount ? note : j);
            std::uint8_t place = 255;
            if (number != 0 && number <= samples) {
                if (listed[number] == 0) listed[number] = static_cast<std::uint8_t>(++distinct);
                place = static_cast<std::uint8_t>(listed[number] - 1);
            }
            noteMap[static_cast<std::size_t>(2 * j + 1)] = place;
        }
        Instrument* instrument = nullptr;
        if (int code = alloc_instrument(distinct, &instrument); code != errOK) return code;
        module->instruments[k] = instrument;
        for (int number = 1; number <= samples; number++)
            if (listed[static_cast<std::size_t>(number)] != 0)
                instrument->sample_list[listed[static_cast<std::size_t>(number)] - 1] = module->samples[number - 1];
        void* memory = nullptr;
        if (int code = mem_alloc(noteMap.size(), &memory); code != errOK) return code;
        std::memcpy(memory, noteMap.data(), noteMap.size());
        instrument->note_map = static_cast<std::uint8_t*>(memory);
        copy_name(instrument->name, h + 32, 26);
        instrument->used = conversion.used[static_cast<std::size_t>(k)];

        if (newer) {
            instrument->new_note_action = h[17];
            instrument->duplicate_check_type = h[18];
            instrument->duplicate_check_action = h[19];
            instrument->fadeout = read_u16le(h + 20);
            instrument->pitch_pan_separation = h[22];
            instrument->pitch_pan_centre = h[23];
            instrument->global_volume = std::min<int>(h[24], 128) / 2; // 0..128 in the file
            instrument->default_panning = h[25];
            instrument->random_volume = h[26];
            instrument->random_panning = h[27];
            instrument->initial_cutoff = h[initialCutoffAt];
            instrument->initial_resonance = h[initialCutoffAt + 1];
            instrument->filter_envelope = (h[envelopeAt[2]] & filterEnvelope) != 0 ? 1 : 0;
            if (int code = newEnvelope(h + envelopeAt[0], &instrument->volume_envelope); code != errOK) return code;
            if (int code = newEnvelope(h + envelopeAt[1], &instrument->panning_envelope); code != errOK) return code;
            return newEnvelope(h + envelopeAt[2], &instrument->pitch_envelope);
        }
        instrument->new_note_action = h[26];
        instrument->duplicate_check_type = h[27];
        // The older layout counts its fade-out in steps twice as large.
        instrument->fadeout = 2 * read_u16le(h + 24);
        instrument->global_volume = 64;
        instrument->default_panning = 255;
        return oldEnvelope(h, &instrument->volume_envelope);
    }

    // Without instruments the patterns name samples: each sample becomes an instrument.
    int sampleInstrument(int k) {
        bool isUsed = conversion.used[static_cast<std::size_t>(k)] != 0;
        Instrument* instrument = nullptr;
        if (int code = alloc_instrument(isUsed ? 1 : 0, &instrument); code != errOK) return code;
        module->instruments[k] = instrument;
        std::memcpy(instrument->name, module->samples[k]->name, 27);
        instrument->used = isUsed ? 1 : 0;
        if (isUsed) instrument->sample_list[0] = module->samples[k];
        instrument->global_volume = 64;
        instrument->default_panning = 255;
        return errOK;
    }

    int readInstruments() {
        void* memory = nullptr;
        if (int code = alloc_zeroed_array(static_cast<std::size_t>(module->instrument_count), sizeof(Instrument*),
                                          &memory);
            code != errOK)
            return code;
        module->instruments = static_cast<Instrument**>(memory);
        bool instrumentMode = (module->flags & moduleInstrumentMode) != 0;
        for (int k = 0; k < module->instrument_count; k++)
            if (int code = instrumentMode ? readInstrument(k) : sampleInstrument(k); code != errOK) return code;
        return errOK;
    }

    // Turns the file's sample data into what the mixer takes: 8-bit unsigned, 16-bit signed little-endian.
    int decodeSample(const Sample* sample, const std::uint8_t* h, std::uint8_t* out) const {
        std::uint8_t flags = h[18], convert = h[46];
        bool sixteen = sample->type == SMP_16BIT_MONO;
        std::size_t bytes = static_cast<std::size_t>(sample->length);
        std::size_t frames = sixteen ? bytes / 2 : bytes;
        const std::uint8_t* raw = nullptr;
        if (flags & sampleCompressed) {
            std::int64_t available = std::max<std::int64_t>(in.size - sample->file_offset, 0);
            if (int code = in.at(std::min<std::int64_t>(sample->file_offset, in.size), available, &raw); code != errOK)
                return code;
            std::size_t decoded = 0;
            int code = decompress_it_sample(raw, static_cast<std::size_t>(available), sixteen,
                                            (convert & convertDelta) != 0, out, frames, &decoded);
            if (code == errEndOfFile && (addToDevice & loadCutSamples)) {
                // A cut file: the frames it could not make are silent (0 before the conversion below).
                const std::size_t frameBytes = sixteen ? 2 : 1;
                std::memset(out + decoded * frameBytes, 0, (frames - decoded) * frameBytes);
                module->samples_cut++;
                module->sample_bytes_missing += static_cast<std::int64_t>((frames - decoded) * frameBytes);
                code = errOK;
            }
            if (code != errOK) return code;
            convert = convertSigned; // decoded values are always signed
        } else {
            if (int code = in.at(sample->file_offset, sample->length, &raw); code != errOK) return code;
            std::memcpy(out, raw, bytes);
            if (sixteen && (convert & convertBigEndian))
                for (std::size_t b = 0; b + 1 < bytes; b += 2)
                    std::swap(out[b], out[b + 1]);
            if (convert & convertDelta) {
                std::uint16_t sum = 0;
                for (std::size_t f = 0; f < frames; f++) {
                    if (sixteen) {
                        sum = static_cast<std::uint16_t>(sum + read_u16le(out + 2 * f));
                        out[2 * f] = static_cast<std::uint8_t>(sum);
                        out[2 * f + 1] = static_cast<std::uint8_t>(sum >> 8);
                    } else {
                        sum = static_cast<std::uint16_t>(sum + out[f]);
                        out[f] = static_cast<std::uint8_t>(sum);
                    }
                }
            }
        }
        if (!sixteen && (convert & convertSigned)) {
            for (std::size_t b = 0; b < bytes; b++)
                out[b] ^= 0x80;
        } else if (sixteen && !(convert & convertSigned)) {
            for (std::size_t b = 1; b < bytes; b += 2)
                out[b] ^= 0x80;
        }
        return errOK;
    }

    int readSampleData() {
        if (int code = sink.open(addToDevice, callback, compressionRatio * in.size); code != errOK) return code;
        return sink.fill(module, [this](int k, const Sample* sample, std::uint8_t* data) {
            const std::uint8_t* h = nullptr;
            if (int code = in.at(read_u32le(sampleOffsets + 4 * k), sampleHeaderBytes, &h); code != errOK)
                return code;
            return decodeSample(sample, h, data);
        });
    }

    int load() {
        if (int code = readHeader(); code != errOK) return code;
        if (int code = readPatterns(); code != errOK) return code;
        if (int code = readSampleHeaders(); code != errOK) return code;
        if (int code = readInstruments(); code != errOK) return code;
        return readSampleData();
    }

    void release(bool failed) { end_load(builder, sink, module, failed); }
};

} // namespace

int decompress_it_sample(const std::uint8_t* data, std::size_t size, bool sixteenBit, bool it215,
                         std::uint8_t* out, std::size_t frames, std::size_t* framesDone) {
    // Every block holds up to 32768 bytes of decoded data and starts afresh.
    const std::size_t blockFrames = sixteenBit ? 0x4000 : 0x8000;
    const std::size_t frameBytes = sixteenBit ? 2 : 1;
    std::size_t pos = 0;
    std::size_t ignored = 0;
    std::size_t& done = framesDone ? *framesDone : ignored;
    for (done = 0; done < frames;) {
        if (size - pos < 2) return errEndOfFile;
        std::size_t blockBytes = read_u16le(data + pos);
        pos += 2;
        if (blockBytes > size - pos) return errEndOfFile;
        BitReader bits{data + pos, data + pos + blockBytes};
        pos += blockBytes;
        std::size_t count = std::min(blockFrames, frames - done);
        if (int code = decodeBlock(bits, sixteenBit, it215, out + done * frameBytes, count); code != errOK)
            return code;
        done += count;
    }
    return errOK;
}

const ModuleFormat impulseTrackerFormat = {.name = "IT", .play_mode = playModeImpulse, .signature_bytes = signatureBytes,
    .recognise = isImpulseTracker, .load_memory = run_image_loader<ItLoader>, .load_file = load_impulse_tracker_module};
