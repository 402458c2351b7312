// What the module loaders share: checked reads of a file image, the command
// tables two formats have in common, building packed pattern rows, and
// putting sample data where the caller wants it (each sample's own block, or
// the device).
#pragma once

#include "sound/api/errors.h"
#include "sound/formats/formats.h"
#include "sound/formats/module.h"

#include <array>
#include <cstddef>
#include <cstdint>

// Numbers stored in a file image, little- and big-endian.
inline std::uint16_t read_u16le(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline std::uint32_t read_u32le(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
inline std::uint16_t read_u16be(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

// Protracker's extended effect (E): generic command by the parameter's high
// nibble (cmdNone = dropped). Extended Module files share it.
inline constexpr std::array<Command, 16> extendedEffectCommands = {
    cmdNone,           // E0: filter
    cmdFinePortaUp,    // E1
    cmdFinePortaDown,  // E2
    cmdNone,           // E3: glissando
    cmdNone,           // E4: vibrato waveform
    cmdSetFinetune,    // E5
    cmdPatternLoop,    // E6
    cmdNone,           // E7: tremolo waveform
    cmdCoarsePanning,  // E8
    cmdRetrigger,      // E9
    cmdFineVolumeUp,   // EA
    cmdFineVolumeDown, // EB
    cmdNoteCut,        // EC
    cmdNoteDelay,      // ED
    cmdPatternDelay,   // EE
    cmdNone,           // EF: invert loop
};

// Scream Tracker 3's S command: generic command by the infobyte's high nibble
// (cmdNone = dropped). Impulse Tracker files share it.
inline constexpr std::array<Command, 16> specialEffectCommands = {
    cmdNone,          // S0
    cmdNone,          // S1: glissando
    cmdNone,          // S2: finetune
    cmdNone,          // S3: vibrato waveform
    cmdNone,          // S4: tremolo waveform
    cmdNone,          // S5
    cmdNone,          // S6
    cmdNone,          // S7
    cmdCoarsePanning, // S8
    cmdNone,          // S9
    cmdNone,          // SA: old stereo control
    cmdPatternLoop,   // SB
    cmdNoteCut,       // SC
    cmdNoteDelay,     // SD
    cmdPatternDelay,  // SE
    cmdNone,          // SF
};

// Order bytes of Scream Tracker 3 and Impulse Tracker files: 254 is skipped,
// 255 ends the song, others are pattern numbers.
inline constexpr std::uint8_t orderByteSkip = 254;
inline constexpr std::uint8_t orderByteEnd = 255;

// The order entry of an order byte.
inline std::uint16_t order_entry(std::uint8_t byte) {
    return byte == orderByteSkip ? orderMarkSkip : byte == orderByteEnd ? orderMarkEnd : byte;
}

// True when an order list of bytes names a pattern before its first end
// mark; without one the player would search the list for ever.
bool orders_playable(const std::uint8_t* orders, int count);

// A checked view of a file image: every read is tested against its size.
struct ImageReader {
    const std::uint8_t* data;
    std::int64_t size;
    std::int64_t pos;

    // Points at n bytes at the current position and moves past them;
    // errEndOfFile when they are not all in the image.
    int take(std::int64_t n, const std::uint8_t** out);

    // Points at n bytes at offset without moving; errEndOfFile as take.
    int at(std::int64_t offset, std::int64_t n, const std::uint8_t** out) const;
};

// Copies a fixed-length name field and ends it with a NUL; to holds length + 1.
void copy_name(char* to, const std::uint8_t* from, std::size_t length);

// Allocates a zeroed array of count elements (count 0 gives null and no error).
int alloc_zeroed_array(std::size_t count, std::size_t elementSize, void** out);

// Device mode needs a chosen device that takes samples: errInvalidDevice otherwise.
int check_sample_device(int addSamplesToDevice);

// One channel's entry of the row being built.
struct RowEntry {
    std::uint8_t flags; // entryNoteInstrument | entryVolume | entryCommand
    std::uint8_t note, instrument, volume, command, info;
};

// Builds patterns in the packed row encoding. Entries are gathered per
// channel and written in channel order when the row ends, so a channel named
// twice in one row of a file gives one entry (the later fields win).
struct PatternBuilder {
    std::uint8_t* buffer = nullptr;
    std::size_t used = 0;
    int rows = 0;
    std::array<RowEntry, maxModuleChannels> row{};

    // Allocates room for the largest pattern the encoding can hold.
    int open();
    // Starts a new pattern.
    void begin();
    // Sets the note and instrument of a channel in the current row.
    void note(int channel, std::uint8_t note, std::uint8_t instrument);
    // Sets the volume byte of a channel in the current row.
    void volume(int channel, std::uint8_t volume);
    // Sets the command of a channel in the current row; cmdNone is no command.
    void command(int channel, Command command, std::uint8_t info);
    // Ends the current row; more than maxPatternRows rows is errInvalidPattern.
    int endRow();
    // Ends the pattern and makes its record, exactly as large as needed.
    int finish(Pattern** out);
    // Frees the buffer.
    void close();

    // Makes all of the module's pattern_count patterns: convert(n) builds
    // pattern n (begin, the rows, finish into module->patterns[n]).
    template <typename Convert> int buildAll(Module* module, Convert convert) {
        void* memory = nullptr;
        std::size_t count = static_cast<std::size_t>(module->pattern_count);
        if (int code = alloc_zeroed_array(count, sizeof(Pattern*), &memory); code != errOK) return code;
        module->patterns = static_cast<Pattern**>(memory);
        if (int code = open(); code != errOK) return code;
        for (int n = 0; n < module->pattern_count; n++)
            if (int code = convert(n); code != errOK) return code;
        close();
        return errOK;
    }
};

// Checks that the image holds the whole of a sample's data (its length bytes
// from its file_offset). When it does not, allowCut nonzero shortens the
// sample to the whole frames that are there (its loops kept inside them; a
// sample left with nothing has type 0) and counts the cut in the module;
// allowCut 0 makes it errEndOfFile.
int sample_data_in_image(const ImageReader& in, Module* module, Sample* sample, int allowCut);

// Where sample data goes: into each sample's own block, which stays with the
// sample or is handed over to the sound device (currentDevice) to play where
// it is, so that every sample is held once.
struct SampleSink {
    int toDevice = 0;
    SampleCallback callback = nullptr;
    std::uint8_t* pending = nullptr; // device mode: the block being filled, not yet handed over
    std::int64_t limit = 0;
    // The file image the samples are decoded from (run_image_loader): its pages are given back
    // once read where it is a mapped module file (release_module_file_pages).
    const std::uint8_t* image = nullptr;
    std::size_t imageSize = 0;
    std::int64_t readSinceRelease = 0; // sample bytes decoded since the pages were last given back
    // Sample data decoded between two givings back: enough to make each call worth it, little
    // enough that the file and the samples are hardly ever held at once.
    static constexpr std::int64_t releaseEvery = 256 * 1024;

    // Prepares for the samples, giving back what was read of the image so far
    // (headers and patterns). No sample may be longer than most, the most the
    // file can hold, so that a damaged length never asks for absurd memory.
    int open(int addSamplesToDevice, SampleCallback sampleCallback, std::int64_t most);
    // Gives a new block for the sample's length bytes (the sample's own, or in
    // device mode the one handed over next); a length above the limit is errEndOfFile.
    int buffer(Sample* sample, std::uint8_t** out);
    // The sample's data (or none, for type 0) is in place: hands it over to the
    // device in device mode, then calls the callback.
    int finish(Sample* sample, std::uint8_t* data);
    // Gives every sample of the module its data and hands it on: for each
    // sample with data, decode(index, sample, buffer) fills a buffer of the
    // sample's length; samples without data are handed on as they are.
    template <typename Decode> int fill(Module* module, Decode decode) {
        for (int k = 0; k < module->sample_count; k++) {
            Sample* sample = module->samples[k];
            if (sample == nullptr) continue;
            std::uint8_t* data = nullptr;
            if (sample->type != SMP_NONE) {
                if (int code = buffer(sample, &data); code != errOK) return code;
                if (int code = decode(k, sample, data); code != errOK) return code;
            }
            if (int code = finish(sample, data); code != errOK) return code;
            if ((readSinceRelease += sample->length) >= releaseEvery) {
                release_module_file_pages(image, imageSize);
                readSinceRelease = 0;
            }
        }
        return errOK;
    }

    // Frees a block that was not handed over (a load that failed on the way).
    void close();
};

// Frees a loader's buffers and, after a failure, the module it was building
// (removing its samples from the device).
void end_load(PatternBuilder& builder, SampleSink& sink, Module* module, bool failed);

// Runs a format's loader on a file image. Loader has the members in,
// addToDevice, callback and module, load() and release(failed), which frees
// its buffers and, after a failure, the module.
template <typename Loader>
int run_image_loader(const std::uint8_t* data, std::size_t size, int addSamplesToDevice, SampleCallback callback,
                     Module** moduleOut) {
    if ((data == nullptr && size != 0) || moduleOut == nullptr) return errInvalidArguments;
    Loader loader;
    loader.in = ImageReader{data, static_cast<std::int64_t>(size), 0};
    loader.sink.image = data;
    loader.sink.imageSize = size;
    loader.addToDevice = addSamplesToDevice;
    loader.callback = callback;
    int code = check_sample_device(addSamplesToDevice);
    if (code == errOK) code = loader.load();
    loader.release(code != errOK);
    if (code == errOK) *moduleOut = loader.module;
    return code;
}
