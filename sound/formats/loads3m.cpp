#include "sound/formats/loads3m.h"

#include "sound/api/errors.h"
#include "sound/formats/loader.h"
#include "sound/api/mglobals.h"
#include "sound/sys/mmem.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>

namespace {

constexpr std::size_t headerBytes = 96;
constexpr std::size_t instrumentHeaderBytes = 80;
constexpr int channelSettingsAt = 64;
constexpr int settingChannels = 32;
constexpr int rowsPerPattern = 64;
constexpr std::uint8_t panningTableFollows = 252;
constexpr std::int64_t maxSampleLength = 0x7fffffef;
// Instrument numbers in pattern data are bytes, 1..255.
constexpr int maxInstruments = 255;
// The rate of middle C that trackers assume when a sample names none.
constexpr int defaultMiddleC = 8363;

// Header flags and the sample format word.
constexpr std::uint16_t flagAmigaLimits = 0x10;
constexpr std::uint16_t flagFastVolumeSlides = 0x40;
constexpr std::uint16_t lastSlowSlideVersion = 0x1320; // earlier versions slide on every tick
constexpr std::uint16_t formatSignedSamples = 1;

// Instrument header: type 1 is a sample (others are empty or AdLib
// instruments, which have no sample data); flag bits of byte 31.
constexpr std::uint8_t instrumentSample = 1;
constexpr std::uint8_t sampleLoops = 0x01;
constexpr std::uint8_t sample16Bit = 0x04;

// Note bytes: octave and semitone below 0x80, 254 cuts the note, 255 is none.
constexpr std::uint8_t noteCut = 254;

// Command letter (A = 1 .. Y = 25) to generic command; cmdNone drops it. S
// (19) takes its command from the infobyte's high nibble instead.
constexpr int letterS = 19;
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
    cmdNone,                 // I: tremor
    cmdArpeggio,             // J
    cmdVibratoVolumeSlide,   // K
    cmdTonePortaVolumeSlide, // L
    cmdNone,                 // M
    cmdNone,                 // N
    cmdSampleOffset,         // O
    cmdNone,                 // P
    cmdMultiRetrigger,       // Q
    cmdTremolo,              // R
    cmdNone,                 // S: see specialEffectCommands
    cmdSetTempo,             // T
    cmdNone,                 // U: fine vibrato
    cmdGlobalVolume,         // V
    cmdSync,                 // W
    cmdSetPanning,           // X
    cmdNone,                 // Y
};

// The signature at offset 44.
constexpr std::size_t signatureAt = 44;
constexpr std::size_t signatureBytes = signatureAt + 4;

bool isScreamTracker(const std::uint8_t* head) {
    return std::memcmp(head + signatureAt, "SCRM", 4) == 0;
}

// A channel setting below 16 is a sample channel that plays (0..7 on the
// left, 8..15 on the right); higher values are AdLib or switched off.
bool channelEnabled(std::uint8_t setting) {
    return setting < 16;
}

// Panning of a coarse panning value 0..15: centre for 7 and 8, so that the
// two halves of the range are alike.
int coarsePanning(int value) {
    if (value == 7 || value == 8) return 64;
    return value < 7 ? value * 8 : value * 8 + 8;
}

struct S3mLoader {
    ImageReader in{};
    int addToDevice = 0;
    SampleCallback callback = nullptr;
    Module* module = nullptr;
    const std::uint8_t* header = nullptr;
    int fileInstruments = 0;
    int filePatterns = 0;
    const std::uint8_t* instrumentPointers = nullptr;
    const std::uint8_t* patternPointers = nullptr;
    int lastEnabled = -1;
    int highestUsed = -1;
    std::array<std::uint8_t, maxInstruments> used{};
    std::array<const std::uint8_t*, maxInstruments> instrumentHeaders{};
    PatternBuilder builder;
    SampleSink sink;

    int readHeader() {
        if (int code = in.take(headerBytes, &header); code != errOK) return code;
        if (!isScreamTracker(header)) return errInvalidModule;
        int orderCount = read_u16le(header + 32);
        fileInstruments = read_u16le(header + 34);
        filePatterns = read_u16le(header + 36);
        if (fileInstruments > maxInstruments) return errInvalidModule;

        const std::uint8_t* orders = nullptr;
        if (int code = in.take(orderCount, &orders); code != errOK) return code;
        if (int code = in.take(2 * static_cast<std::int64_t>(fileInstruments), &instrumentPointers);
            code != errOK)
            return code;
        if (int code = in.take(2 * static_cast<std::int64_t>(filePatterns), &patternPointers); code != errOK)
            return code;

        // Trailing end marks only pad the order list to an even length.
        int songLength = orderCount;
        while (songLength > 0 && orders[songLength - 1] == orderByteEnd)
            songLength--;
        if (!orders_playable(orders, songLength)) return errInvalidModule;
        int highest = -1;
        for (int k = 0; k < songLength; k++)
            if (orders[k] < orderByteSkip) highest = std::max<int>(highest, orders[k]);

        void* memory = nullptr;
        if (int code = mem_alloc_zeroed(sizeof(Module), &memory); code != errOK) return code;
        module = static_cast<Module*>(memory);
        module->play_mode = playModeScreamTracker3;
        copy_name(module->name, header, 28);
        module->song_length = songLength;
        module->restart_position = 0;
        module->instrument_count = fileInstruments;
        module->sample_count = fileInstruments;
        module->pattern_count = highest + 1;
        module->global_volume = std::min<std::uint8_t>(header[48], 64);
        module->speed = header[49];
        module->tempo = header[50];
        std::uint16_t flags = read_u16le(header + 38);
        if (flags & flagAmigaLimits) module->flags |= moduleAmigaLimits;
        if ((flags & flagFastVolumeSlides) || read_u16le(header + 40) < lastSlowSlideVersion)
            module->flags |= moduleFastVolumeSlides;

        if (int code = mem_alloc(static_cast<std::size_t>(songLength) * sizeof(std::uint16_t), &memory);
            code != errOK)
            return code;
        module->orders = static_cast<std::uint16_t*>(memory);
        for (int k = 0; k < songLength; k++)
            module->orders[k] = order_entry(orders[k]);
        return readPanning();
    }

    int readPanning() {
        const std::uint8_t* table = nullptr;
        if (header[53] == panningTableFollows)
            if (int code = in.take(settingChannels, &table); code != errOK) return code;
        void* memory = nullptr;
        if (int code = mem_alloc(maxModuleChannels * sizeof(int), &memory); code != errOK) return code;
        module->panning = static_cast<int*>(memory);
        int separation = std::clamp(soundOptions[optDefaultStereoSeparation], 0, 64);
        for (int c = 0; c < settingChannels; c++) {
            std::uint8_t setting = header[channelSettingsAt + c];
            int panning;
            if (!channelEnabled(setting))
                panning = table != nullptr ? 64 : 0;
            else if (table != nullptr && (table[c] & 0x20))
                panning = coarsePanning(table[c] & 0x0f);
            else
                panning = setting > 7 ? 64 + separation : 64 - separation;
            module->panning[c] = panning;
            if (channelEnabled(setting)) lastEnabled = c;
        }
        return errOK;
    }

    // Reads the 80-byte header of every instrument that has one and checks
    // that no sample is longer than the mixer can take.
    int readInstrumentHeaders() {
        for (int k = 0; k < fileInstruments; k++) {
            std::int64_t offset = static_cast<std::int64_t>(read_u16le(instrumentPointers + 2 * k)) * 16;
            if (offset == 0) continue;
            const std::uint8_t* h = nullptr;
            if (int code = in.at(offset, instrumentHeaderBytes, &h); code != errOK) return code;
            instrumentHeaders[static_cast<std::size_t>(k)] = h;
            std::int64_t bytes = static_cast<std::int64_t>(read_u32le(h + 16)) * ((h[31] & sample16Bit) ? 2 : 1);
            if (h[0] == instrumentSample && bytes > maxSampleLength) return errInvalidInstrument;
        }
        return errOK;
    }

    // Converts one pattern's packed rows; pointer 0 or none gives 64 empty rows.
    int convertPattern(int number) {
        builder.begin();
        std::int64_t offset =
            number < filePatterns ? static_cast<std::int64_t>(read_u16le(patternPointers + 2 * number)) * 16 : 0;
        if (offset == 0) {
            for (int row = 0; row < rowsPerPattern; row++)
                if (int code = builder.endRow(); code != errOK) return code;
            return builder.finish(&module->patterns[number]);
        }
        // The packed length in front of the rows is not needed: the rows end
        // themselves, and every byte is checked against the file.
        ImageReader rows{in.data, in.size, offset + 2};
        int row = 0;
        while (row < rowsPerPattern) {
            const std::uint8_t* p = nullptr;
            if (int code = rows.take(1, &p); code != errOK) return code;
            std::uint8_t what = *p;
            if (what == 0) {
                if (int code = builder.endRow(); code != errOK) return code;
                row++;
                continue;
            }
            std::int64_t fields = ((what & 0x20) ? 2 : 0) + ((what & 0x40) ? 1 : 0) + ((what & 0x80) ? 2 : 0);
            if (int code = rows.take(fields, &p); code != errOK) return code;
            std::uint8_t note = 0, instrument = 0, volume = 0, letter = 0, info = 0;
            if (what & 0x20) {
                note = *p++;
                instrument = *p++;
            }
            if (what & 0x40) volume = *p++;
            if (what & 0x80) {
                letter = *p++;
                info = *p;
            }
            int channel = what & 0x1f;
            if (channel > lastEnabled) continue;
            highestUsed = std::max(highestUsed, channel);
            if (what & 0x20) {
                // Octave and semitone; anything else but a note cut is no note.
                std::uint8_t converted = note < 0x80 && (note & 0x0f) < 12 ? note
                                         : note == noteCut                 ? noteKeyOff
                                                                           : noteNone;
                std::uint8_t index = instrumentNone;
                if (instrument != 0 && instrument <= fileInstruments) {
                    index = static_cast<std::uint8_t>(instrument - 1);
                    used[index] = 1;
                }
                builder.note(channel, converted, index);
            }
            // Scream Tracker 3 volumes end at 63.
            if (what & 0x40) builder.volume(channel, std::min<std::uint8_t>(volume, 63));
            if ((what & 0x80) && letter >= 1 && letter < letterCommands.size()) {
                if (letter == letterS)
                    builder.command(channel, specialEffectCommands[info >> 4], info & 0x0f);
                else
                    builder.command(channel, letterCommands[letter], info);
            }
        }
        return builder.finish(&module->patterns[number]);
    }

    int readPatterns() {
        if (int code = builder.buildAll(module, [this](int n) { return convertPattern(n); }); code != errOK)
            return code;
        module->channel_count = static_cast<std::uint8_t>(std::max(1, std::min(lastEnabled, highestUsed) + 1));
        return errOK;
    }

    // Fills a used instrument's sample from its header (null: no header)
    // and checks that its data is in the file.
    int fillSample(Sample* sample, const std::uint8_t* h, std::int64_t* largest) const {
        if (h == nullptr) return errOK;
        copy_name(sample->name, h + 48, 28);
        sample->volume = std::min<int>(h[28], 64);
        std::uint32_t rate = read_u32le(h + 32);
        sample->middle_c_rate =
            rate == 0 ? defaultMiddleC : static_cast<int>(std::min<std::uint32_t>(rate, INT_MAX));
        std::int64_t length = read_u32le(h + 16);
        if (h[0] != instrumentSample || length == 0) return errOK;
        std::int64_t loopStart = read_u32le(h + 20);
        std::int64_t loopEnd = std::min<std::int64_t>(read_u32le(h + 24), length);
        // The data after a loop is never heard, so it is cut.
        if ((h[31] & sampleLoops) && loopEnd > loopStart) {
            sample->loop_mode = LOOPMODE_SINGLE_LOOPING;
            sample->loop1_type = LOOP_FORWARD;
            length = loopEnd;
        } else {
            loopStart = loopEnd = 0;
        }
        // A stereo sample keeps its left channel, which comes first.
        int frameBytes = (h[31] & sample16Bit) ? 2 : 1;
        sample->type = frameBytes == 2 ? SMP_16BIT_MONO : SMP_8BIT_MONO;
        sample->length = static_cast<int>(length * frameBytes);
        sample->loop1_start = static_cast<int>(loopStart * frameBytes);
        sample->loop1_end = static_cast<int>(loopEnd * frameBytes);
        std::int64_t memorySegment = static_cast<std::int64_t>(h[13]) << 16 | read_u16le(h + 14);
        sample->file_offset = static_cast<int>(memorySegment * 16);
        if (int code = sample_data_in_image(in, module, sample, addToDevice & loadCutSamples); code != errOK)
            return code;
        *largest = std::max<std::int64_t>(*largest, sample->length);
        return errOK;
    }

    int readInstruments() {
        void* memory = nullptr;
        std::size_t count = static_cast<std::size_t>(fileInstruments);
        if (int code = alloc_zeroed_array(count, sizeof(Instrument*), &memory); code != errOK) return code;
        module->instruments = static_cast<Instrument**>(memory);
        if (int code = alloc_zeroed_array(count, sizeof(Sample*), &memory); code != errOK) return code;
        module->samples = static_cast<Sample**>(memory);

        std::int64_t largest = 0;
        for (int k = 0; k < fileInstruments; k++) {
            const std::uint8_t* h = instrumentHeaders[static_cast<std::size_t>(k)];
            bool isUsed = used[static_cast<std::size_t>(k)] != 0;
            Instrument* instrument = nullptr;
            if (int code = alloc_instrument(isUsed ? 1 : 0, &instrument); code != errOK) return code;
            module->instruments[k] = instrument;
            if (h != nullptr) copy_name(instrument->name, h + 48, 28);
            instrument->used = isUsed ? 1 : 0;
            instrument->global_volume = 64;
            instrument->default_panning = 0x80;
            if (!isUsed) continue;
            if (int code = mem_alloc_zeroed(sizeof(Sample), &memory); code != errOK) return code;
            auto* sample = static_cast<Sample*>(memory);
            module->samples[k] = sample;
            instrument->sample_list[0] = sample;
            sample->middle_c_rate = defaultMiddleC;
            if (int code = fillSample(sample, h, &largest); code != errOK) return code;
        }
        return readSampleData(largest);
    }

    int readSampleData(std::int64_t largest) {
        if (int code = sink.open(addToDevice, callback, largest, in.size); code != errOK) return code;
        bool signedData = read_u16le(header + 42) == formatSignedSamples;
        return sink.fill(module, [this, signedData](int, const Sample* sample, std::uint8_t* data) {
            const std::uint8_t* raw = nullptr;
            if (int code = in.at(sample->file_offset, sample->length, &raw); code != errOK) return code;
            std::memcpy(data, raw, static_cast<std::size_t>(sample->length));
            // The mixer takes 8-bit data unsigned and 16-bit data signed.
            if (sample->type == SMP_8BIT_MONO && signedData) {
                for (int b = 0; b < sample->length; b++)
                    data[b] ^= 0x80;
            } else if (sample->type == SMP_16BIT_MONO && !signedData) {
                for (int b = 1; b < sample->length; b += 2)
                    data[b] ^= 0x80;
            }
            return static_cast<int>(errOK);
        });
    }

    int load() {
        if (int code = readHeader(); code != errOK) return code;
        if (int code = readInstrumentHeaders(); code != errOK) return code;
        if (int code = readPatterns(); code != errOK) return code;
        return readInstruments();
    }

    void release(bool failed) { end_load(builder, sink, module, failed); }
};

} // namespace

const ModuleFormat screamTrackerFormat = {.name = "S3M", .play_mode = playModeScreamTracker3, .signature_bytes = signatureBytes,
    .recognise = isScreamTracker, .load_memory = run_image_loader<S3mLoader>, .load_file = load_scream_tracker_module};
