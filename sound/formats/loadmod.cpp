#include "sound/formats/loadmod.h"

#include "sound/api/errors.h"
#include "sound/formats/loader.h"
#include "sound/api/mglobals.h"
#include "sound/sys/mmem.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace {

constexpr std::size_t headerBytes = 1084;
constexpr int signatureAt = 1080;
constexpr int instrumentCount = 31;
constexpr int sampleHeadersAt = 20;
constexpr int sampleHeaderBytes = 30;
constexpr int songLengthAt = 950;
constexpr int orderSlots = 128;
constexpr int rowsPerPattern = 64;

// Amiga periods of six octaves, C to B, finetune 0. Octaves 1..3 (856..113)
// are the ones every Protracker plays; the others need the extended range.
constexpr std::array<std::uint16_t, 72> periodTable = {
    1712, 1616, 1524, 1440, 1356, 1280, 1208, 1140, 1076, 1016, 960, 907, //
    856,  808,  762,  720,  678,  640,  604,  570,  538,  508,  480, 453, //
    428,  404,  381,  360,  339,  320,  302,  285,  269,  254,  240, 226, //
    214,  202,  190,  180,  170,  160,  151,  143,  135,  127,  120, 113, //
    107,  101,  95,   90,   85,   80,   75,   71,   67,   63,   60,  56,  //
    53,   50,   47,   45,   42,   40,   37,   35,   33,   31,   30,  28,
};
constexpr int firstNormalNote = 12;
constexpr int lastNormalNote = 47;

// Effect 0..15 to generic command. E and F need more than a lookup: E takes
// its command from the parameter's high nibble, F is speed below 32 and
// tempo from 32.
constexpr int effectExtended = 14;
constexpr int effectSpeedTempo = 15;
constexpr int effectPanning = 8;
constexpr std::array<Command, 16> effectCommands = {
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
    cmdNone,                 // E: see extendedEffectCommands
    cmdNone,                 // F: speed or tempo
};
// Panning parameters the set-panning command takes: 0..128, and 164 for surround.
constexpr std::uint8_t panningSurround = 164;
constexpr std::uint8_t panningRightmost = 128;

bool isDigit(std::uint8_t c) {
    return c >= '0' && c <= '9';
}

// Where the parts of a Protracker-style file lie. The oldest Soundtracker
// files have 15 samples and no signature, so their song length, orders and
// patterns come earlier; Digital Tracker puts 4 bytes of its own between the
// signature and the patterns.
struct ModLayout {
    int samples = 0;  // sample headers, from offset 20
    int channels = 0; // 0: not a Protracker-style file
    int songLengthAt = 0; // the song length, then the restart byte, then 128 orders
    int patternsAt = 0;
};

constexpr int soundtrackerSamples = 15;
constexpr int soundtrackerSongLengthAt = sampleHeadersAt + soundtrackerSamples * sampleHeaderBytes; // 470
constexpr int soundtrackerPatternsAt = soundtrackerSongLengthAt + 2 + orderSlots;                     // 600
constexpr int digitalTrackerExtra = 4;

bool isDigitalTracker(const std::uint8_t* signature) {
    return std::memcmp(signature, "FA0", 3) == 0;
}

// A text field of a Soundtracker header: no control characters but the NULs that end it.
bool plainText(const std::uint8_t* text, int length) {
    return std::all_of(text, text + length, [](std::uint8_t c) { return c == 0 || c >= ' '; });
}

// Whether a file's start can be a 15-sample Soundtracker header. Having no
// signature, it is recognised by fields that only a song has: names of plain
// text, volumes up to 64, a song length of 1..128 and orders below 128.
bool soundtrackerHeader(const std::uint8_t* head) {
    if (!plainText(head, 20)) return false;
    for (int i = 0; i < soundtrackerSamples; i++) {
        const std::uint8_t* sh = head + sampleHeadersAt + i * sampleHeaderBytes;
        if (!plainText(sh, 22) || sh[24] > 15 || sh[25] > 64) return false;
    }
    const int songLength = head[soundtrackerSongLengthAt];
    const std::uint8_t* orders = head + soundtrackerSongLengthAt + 2;
    return songLength >= 1 && songLength <= orderSlots &&
           std::all_of(orders, orders + orderSlots, [](std::uint8_t o) { return o < orderSlots; });
}

ModLayout layoutOf(const std::uint8_t* head) {
    const std::uint8_t* signature = head + signatureAt;
    if (const int channels = protracker_channels(signature); channels != 0)
        return {instrumentCount, channels, songLengthAt,
                static_cast<int>(headerBytes) + (isDigitalTracker(signature) ? digitalTrackerExtra : 0)};
    if (soundtrackerHeader(head)) return {soundtrackerSamples, 4, soundtrackerSongLengthAt, soundtrackerPatternsAt};
    return {};
}

bool isProtracker(const std::uint8_t* head) {
    return layoutOf(head).channels != 0;
}

struct ModLoader {
    ImageReader in{};
    int addToDevice = 0;
    SampleCallback callback = nullptr;
    Module* module = nullptr;
    const std::uint8_t* header = nullptr;
    ModLayout layout;
    int channels = 0;
    std::array<std::uint8_t, instrumentCount> used{};
    PatternBuilder builder;
    SampleSink sink;

    int readHeader() {
        if (int code = in.take(headerBytes, &header); code != errOK) return code;
        layout = layoutOf(header);
        channels = layout.channels;
        in.pos = layout.patternsAt;
        int songLength = header[layout.songLengthAt];
        // The order table has 128 entries, and a song without any has nothing to play.
        if (channels == 0 || songLength < 1 || songLength > orderSlots) return errInvalidModule;

        void* memory = nullptr;
        if (int code = mem_alloc_zeroed(sizeof(Module), &memory); code != errOK) return code;
        module = static_cast<Module*>(memory);
        module->play_mode = playModeProtracker;
        copy_name(module->name, header, 20);
        module->instrument_count = layout.samples;
        module->sample_count = layout.samples;
        module->global_volume = 64;
        module->speed = 6;
        module->tempo = 125;
        module->channel_count = static_cast<std::uint8_t>(channels);
        module->song_length = songLength;
        // Soundtracker's byte after the song length is no restart position.
        int restart = layout.samples == soundtrackerSamples ? 0 : header[layout.songLengthAt + 1];
        module->restart_position = (restart == 127 || restart >= songLength) ? 0 : restart;

        // Amiga channels 0 and 3 of every four play on the left, 1 and 2 on the right.
        if (int code = mem_alloc(maxModuleChannels * sizeof(int), &memory); code != errOK) return code;
        module->panning = static_cast<int*>(memory);
        int separation = std::clamp(soundOptions[optDefaultStereoSeparation], 0, 64);
        for (int c = 0; c < maxModuleChannels; c++) {
            bool left = c % 4 == 0 || c % 4 == 3;
            module->panning[c] = left ? 64 - separation : 64 + separation;
        }

        if (int code = mem_alloc(static_cast<std::size_t>(songLength) * sizeof(std::uint16_t), &memory);
            code != errOK)
            return code;
        module->orders = static_cast<std::uint16_t*>(memory);
        const std::uint8_t* orders = header + layout.songLengthAt + 2;
        for (int k = 0; k < songLength; k++)
            module->orders[k] = orders[k];
        // Patterns are stored up to the highest one the whole table names,
        // including entries past the song's end.
        module->pattern_count = *std::max_element(orders, orders + orderSlots) + 1;
        return errOK;
    }

    // Converts one channel's 4 bytes of a row.
    int convertEntry(int channel, const std::uint8_t* b) {
        int period = (b[0] & 0x0f) << 8 | b[1];
        int instrument = (b[0] & 0xf0) | b[2] >> 4;
        int effect = b[2] & 0x0f;
        std::uint8_t parameter = b[3];
        if (period != 0 || instrument != 0) {
            std::uint8_t note = noteNone;
            if (period != 0) {
                auto found = std::find_if(periodTable.begin(), periodTable.end(),
                                          [period](std::uint16_t entry) { return period >= entry; });
                if (found == periodTable.end()) return errInvalidPattern;
                int index = static_cast<int>(found - periodTable.begin());
                note = static_cast<std::uint8_t>((index / 12) << 4 | index % 12);
                if (index < firstNormalNote || index > lastNormalNote) module->flags |= moduleExtendedOctaves;
            }
            if (instrument > layout.samples) return errInvalidPattern;
            if (instrument != 0) used[static_cast<std::size_t>(instrument - 1)] = 1;
            builder.note(channel, note,
                         instrument != 0 ? static_cast<std::uint8_t>(instrument - 1) : instrumentNone);
        }
        if (effect == 0 && parameter == 0) return errOK;
        Command command = effectCommands[static_cast<std::size_t>(effect)];
        std::uint8_t info = parameter;
        switch (effect) {
        case effectPanning:
            if (parameter > panningRightmost && parameter != panningSurround) command = cmdNone;
            break;
        case effectExtended:
            command = extendedEffectCommands[parameter >> 4];
            info = parameter & 0x0f;
            break;
        case effectSpeedTempo: command = parameter < 32 ? cmdSetSpeed : cmdSetTempo; break;
        default: break;
        }
        builder.command(channel, command, info);
        return errOK;
    }

    // Whether one of the song's orders names a pattern.
    bool played(int pattern) const {
        return std::find(module->orders, module->orders + module->song_length, pattern) !=
               module->orders + module->song_length;
    }

    int readPatterns() {
        std::int64_t patternBytes = static_cast<std::int64_t>(channels) * 4 * rowsPerPattern;
        return builder.buildAll(module, [this, patternBytes](int n) {
            const std::uint8_t* raw = nullptr;
            if (int code = in.take(patternBytes, &raw); code != errOK) return code;
            // A pattern the song never plays can hold anything (trackers left
            // old data there): it is kept as empty rows and its data not read.
            const bool read = played(n);
            builder.begin();
            for (int row = 0; row < rowsPerPattern; row++) {
                for (int c = 0; read && c < channels; c++)
                    if (int code = convertEntry(c, raw + (row * channels + c) * 4); code != errOK) return code;
                if (int code = builder.endRow(); code != errOK) return code;
            }
            return builder.finish(&module->patterns[n]);
        });
    }

    // Fills a used instrument's sample from its 30-byte header.
    static void fillSample(Sample* sample, const std::uint8_t* sh, std::int64_t dataOffset) {
        copy_name(sample->name, sh, 22);
        int length = read_u16be(sh + 22) * 2;
        int loopStart = read_u16be(sh + 26) * 2;
        int loopEnd = loopStart + read_u16be(sh + 28) * 2;
        sample->finetune = sh[24] & 0x0f;
        sample->volume = std::min<int>(sh[25], 64);
        sample->file_offset = static_cast<int>(dataOffset);
        // A loop of one word at the start is Protracker's way of saying "no
        // loop". A loop reaching past the data is kept inside it; the data
        // after a loop is never heard, so it is cut.
        bool loops = loopEnd >= 3 && loopEnd != loopStart;
        if (loops) {
            loopEnd = std::min(loopEnd, length);
            loops = loopEnd > loopStart;
        }
        if (loops) {
            sample->loop_mode = LOOPMODE_PROTRACKER_LOOPING;
            sample->loop1_type = LOOP_FORWARD;
            sample->loop1_start = loopStart;
            sample->loop1_end = loopEnd;
            length = std::min(length, loopEnd);
        } else {
            sample->loop_mode = LOOPMODE_PROTRACKER;
            sample->loop1_type = LOOP_NONE;
        }
        sample->length = length;
        sample->type = length != 0 ? SMP_8BIT_MONO : SMP_NONE;
    }

    int readInstruments() {
        void* memory = nullptr;
        const auto count = static_cast<std::size_t>(layout.samples);
        if (int code = alloc_zeroed_array(count, sizeof(Instrument*), &memory); code != errOK) return code;
        module->instruments = static_cast<Instrument**>(memory);
        if (int code = alloc_zeroed_array(count, sizeof(Sample*), &memory); code != errOK) return code;
        module->samples = static_cast<Sample**>(memory);

        std::int64_t dataOffset = in.pos;
        for (int i = 0; i < layout.samples; i++) {
            const std::uint8_t* sh = header + sampleHeadersAt + i * sampleHeaderBytes;
            bool isUsed = used[static_cast<std::size_t>(i)] != 0;
            Instrument* instrument = nullptr;
            if (int code = alloc_instrument(isUsed ? 1 : 0, &instrument); code != errOK) return code;
            module->instruments[i] = instrument;
            copy_name(instrument->name, sh, 22);
            instrument->used = isUsed ? 1 : 0;
            instrument->global_volume = 64;
            instrument->default_panning = 0x80;
            if (isUsed) {
                if (int code = mem_alloc_zeroed(sizeof(Sample), &memory); code != errOK) return code;
                auto* sample = static_cast<Sample*>(memory);
                module->samples[i] = sample;
                instrument->sample_list[0] = sample;
                fillSample(sample, sh, dataOffset);
            }
            dataOffset += read_u16be(sh + 22) * 2;
        }
        return readSampleData();
    }

    int readSampleData() {
        // A file cut short keeps what it has of each sample (a whole file reads them as they come).
        for (int k = 0; (addToDevice & loadCutSamples) && k < module->sample_count; k++)
            if (module->samples[k] != nullptr)
                if (int code = sample_data_in_image(in, module, module->samples[k], 1); code != errOK) return code;
        if (int code = sink.open(addToDevice, callback, in.size); code != errOK) return code;
        return sink.fill(module, [this](int, const Sample* sample, std::uint8_t* data) {
            const std::uint8_t* raw = nullptr;
            if (int code = in.at(sample->file_offset, sample->length, &raw); code != errOK) return code;
            // Signed bytes in the file, unsigned in the mixer.
            for (int k = 0; k < sample->length; k++)
                data[k] = static_cast<std::uint8_t>(raw[k] ^ 0x80);
            return static_cast<int>(errOK);
        });
    }

    int load() {
        if (int code = readHeader(); code != errOK) return code;
        if (int code = readPatterns(); code != errOK) return code;
        return readInstruments();
    }

    void release(bool failed) { end_load(builder, sink, module, failed); }
};

} // namespace

int protracker_channels(const std::uint8_t* s) {
    // The trackers that wrote these fixed signatures: Protracker (M.K., M!K!),
    // NoiseTracker and His Master's Noise (N.T., M&K!, FEST), Startrekker
    // (FLT4, EXO4), Octalyser (CD61, CD81), Oktalyzer and others (OCTA, OKTA),
    // and a few more that players meet in 4-channel songs (NSMS, LARD, PATT).
    // Startrekker's 8-channel songs (FLT8, EXO8) keep their patterns in
    // halves and are not read.
    constexpr std::pair<const char*, int> fixed[] = {
        {"M.K.", 4}, {"M!K!", 4}, {"M&K!", 4}, {"N.T.", 4}, {"FEST", 4}, {"FLT4", 4}, {"EXO4", 4},
        {"NSMS", 4}, {"LARD", 4}, {"PATT", 4}, {"CD61", 6}, {"CD81", 8}, {"OCTA", 8}, {"OKTA", 8},
    };
    for (const auto& [signature, count] : fixed)
        if (std::memcmp(s, signature, 4) == 0) return count;
    int channels = 0;
    if (std::memcmp(s + 1, "CHN", 3) == 0 && isDigit(s[0]))
        channels = s[0] - '0';
    else if (std::memcmp(s + 2, "CH", 2) == 0 && isDigit(s[0]) && isDigit(s[1]))
        channels = (s[0] - '0') * 10 + (s[1] - '0');
    else if (std::memcmp(s, "TDZ", 3) == 0 && isDigit(s[3]))
        channels = s[3] - '0';
    else if (isDigitalTracker(s) && (s[3] == '4' || s[3] == '6' || s[3] == '8'))
        channels = s[3] - '0'; // Digital Tracker: FA04, FA06, FA08
    // The packed rows have room for 32 channels.
    return channels <= maxModuleChannels ? channels : 0;
}

const ModuleFormat protrackerFormat = {.name = "MOD", .play_mode = playModeProtracker, .signature_bytes = headerBytes,
    .recognise = isProtracker, .load_memory = run_image_loader<ModLoader>, .load_file = load_protracker_module};
