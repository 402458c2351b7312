#include "sound/formats/loader.h"

#include "sound/api/errors.h"
#include "sound/api/mglobals.h"
#include "sound/sys/mmem.h"
#include "sound/output/sdevice.h"

#include <algorithm>
#include <cstring>

namespace {

// Every channel entry carries at most five bytes after its flag, and every
// row ends with a zero byte.
constexpr std::size_t patternCapacity =
    2 * sizeof(int) + static_cast<std::size_t>(maxPatternRows) * (6 * maxModuleChannels + 1);

} // namespace

int ImageReader::take(std::int64_t n, const std::uint8_t** out) {
    if (int code = at(pos, n, out); code != errOK) return code;
    pos += n;
    return errOK;
}

int ImageReader::at(std::int64_t offset, std::int64_t n, const std::uint8_t** out) const {
    if (offset < 0 || n < 0 || offset > size || n > size - offset) return errEndOfFile;
    *out = data + offset;
    return errOK;
}

bool orders_playable(const std::uint8_t* orders, int count) {
    for (int k = 0; k < count && orders[k] != orderByteEnd; k++)
        if (orders[k] != orderByteSkip) return true;
    return false;
}

void copy_name(char* to, const std::uint8_t* from, std::size_t length) {
    std::memcpy(to, from, length);
    to[length] = '\0';
}

int alloc_zeroed_array(std::size_t count, std::size_t elementSize, void** out) {
    *out = nullptr;
    if (count == 0) return errOK;
    return mem_alloc_zeroed(count * elementSize, out);
}

int check_sample_device(int addSamplesToDevice) {
    if ((addSamplesToDevice & loadToDevice) && (currentDevice == nullptr || currentDevice->addSample == nullptr))
        return errInvalidDevice;
    return errOK;
}

void end_load(PatternBuilder& builder, SampleSink& sink, Module* module, bool failed) {
    builder.close();
    sink.close();
    if (failed && module != nullptr) free_module(module, currentDevice);
}

int PatternBuilder::open() {
    void* memory = nullptr;
    if (int code = mem_alloc(patternCapacity, &memory); code != errOK) return code;
    buffer = static_cast<std::uint8_t*>(memory);
    return errOK;
}

void PatternBuilder::begin() {
    used = 2 * sizeof(int);
    rows = 0;
    row = {};
}

void PatternBuilder::note(int channel, std::uint8_t noteByte, std::uint8_t instrument) {
    RowEntry& entry = row[static_cast<std::size_t>(channel)];
    entry.flags |= entryNoteInstrument;
    entry.note = noteByte;
    entry.instrument = instrument;
}

void PatternBuilder::volume(int channel, std::uint8_t volumeByte) {
    RowEntry& entry = row[static_cast<std::size_t>(channel)];
    entry.flags |= entryVolume;
    entry.volume = volumeByte;
}

void PatternBuilder::command(int channel, Command commandByte, std::uint8_t info) {
    if (commandByte == cmdNone) return;
    RowEntry& entry = row[static_cast<std::size_t>(channel)];
    entry.flags |= entryCommand;
    entry.command = commandByte;
    entry.info = info;
}

int PatternBuilder::endRow() {
    if (rows >= maxPatternRows) return errInvalidPattern;
    for (std::size_t c = 0; c < row.size(); c++) {
        const RowEntry& entry = row[c];
        if (entry.flags == 0) continue;
        buffer[used++] = static_cast<std::uint8_t>(entry.flags | c);
        if (entry.flags & entryNoteInstrument) {
            buffer[used++] = entry.note;
            buffer[used++] = entry.instrument;
        }
        if (entry.flags & entryVolume) buffer[used++] = entry.volume;
        if (entry.flags & entryCommand) {
            buffer[used++] = entry.command;
            buffer[used++] = entry.info;
        }
    }
    buffer[used++] = 0;
    rows++;
    row = {};
    return errOK;
}

int PatternBuilder::finish(Pattern** out) {
    int total = static_cast<int>(used);
    std::memcpy(buffer, &total, sizeof(int));
    std::memcpy(buffer + sizeof(int), &rows, sizeof(int));
    void* memory = nullptr;
    if (int code = mem_alloc(used, &memory); code != errOK) return code;
    std::memcpy(memory, buffer, used);
    *out = static_cast<Pattern*>(memory);
    return errOK;
}

void PatternBuilder::close() {
    if (buffer != nullptr) mem_free(buffer);
    buffer = nullptr;
}

int SampleSink::open(int addSamplesToDevice, SampleCallback sampleCallback, std::int64_t largest,
                     std::int64_t most) {
    toDevice = addSamplesToDevice & loadToDevice;
    callback = sampleCallback;
    limit = most;
    largest = std::min(largest, limit);
    if (!toDevice || largest <= 0) return errOK;
    void* memory = nullptr;
    if (int code = mem_alloc(static_cast<std::size_t>(largest), &memory); code != errOK) return code;
    scratch = static_cast<std::uint8_t*>(memory);
    return errOK;
}

int SampleSink::buffer(Sample* sample, std::uint8_t** out) {
    if (sample->length > limit) return errEndOfFile;
    if (toDevice) {
        *out = scratch;
        return errOK;
    }
    void* memory = nullptr;
    if (int code = mem_alloc(static_cast<std::size_t>(sample->length), &memory); code != errOK) return code;
    sample->data = static_cast<std::uint8_t*>(memory);
    *out = sample->data;
    return errOK;
}

int SampleSink::finish(Sample* sample, const std::uint8_t* data) {
    if (toDevice) {
        const SampleDesc desc = sampleDescOf(*sample, data);
        std::uint32_t handle = 0;
        if (int code = currentDevice->addSample(&desc, 1, &handle); code != errOK) return code;
        sample->device_handle = static_cast<int>(handle);
    }
    if (callback != nullptr) return callback(sample);
    return errOK;
}

int sample_data_in_image(const ImageReader& in, Module* module, Sample* sample, int allowCut) {
    if (sample->type == SMP_NONE || sample->length <= 0) return errOK;
    const std::int64_t offset = sample->file_offset, length = sample->length;
    const std::int64_t there = std::clamp<std::int64_t>(in.size - offset, 0, length);
    if (there == length) return errOK;
    if (!allowCut) return errEndOfFile;
    // Whole frames only; loops end where the data does, and a loop with nothing left is none.
    const std::int64_t kept = sample->type == SMP_16BIT_MONO ? there & ~std::int64_t{1} : there;
    module->samples_cut++;
    module->sample_bytes_missing += length - kept;
    sample->length = static_cast<int>(kept);
    const auto clip = [kept](int& start, int& end, LoopType& type) {
        end = static_cast<int>(std::min<std::int64_t>(end, kept));
        if (start >= end) {
            start = end = 0;
            type = LOOP_NONE;
        }
    };
    clip(sample->loop1_start, sample->loop1_end, sample->loop1_type);
    clip(sample->loop2_start, sample->loop2_end, sample->loop2_type);
    if (sample->loop1_type == LOOP_NONE && sample->loop2_type == LOOP_NONE)
        sample->loop_mode = static_cast<LoopMode>(sample->loop_mode & ~1); // the pair's member that does not loop
    if (kept == 0) sample->type = SMP_NONE;
    return errOK;
}

void SampleSink::close() {
    if (scratch != nullptr) mem_free(scratch);
    scratch = nullptr;
}
