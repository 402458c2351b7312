#include "sound/formats/waveread.h"

#include "sound/api/errors.h"
#include "sound/sys/mmem.h"

#include <cstring>

namespace {

std::uint32_t readU32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t readU16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

bool isChunkId(const unsigned char* id) {
    for (int k = 0; k < 4; k++)
        if (id[k] < 0x20 || id[k] > 0x7e) return false;
    return true;
}

// Walks the chunk headers from the current position until one with the
// given id; other chunks are skipped by their size as stored. RIFF pads odd
// chunks to even sizes, but not every writer does: after an odd chunk the
// unpadded position is tried first and the padded one when no chunk id is
// found there (afterOddChunk says whether the walk starts behind an odd
// chunk). *size receives the chunk's size. Each step moves at least 8
// bytes on, and a walk past the end of the file fails on the next header
// read, so the walk always ends.
int findChunk(FileHandle* file, const char* id, bool afterOddChunk, std::uint32_t* size) {
    for (;;) {
        unsigned char header[8];
        if (int code = file_read(file, header, 8); code != errOK) return code;
        if (afterOddChunk && !isChunkId(header)) {
            std::memmove(header, header + 1, 7);
            if (int code = file_read(file, header + 7, 1); code != errOK) return code;
        }
        std::uint32_t chunkSize = readU32(header + 4);
        if (std::memcmp(header, id, 4) == 0) {
            *size = chunkSize;
            return errOK;
        }
        if (int code = file_seek(file, chunkSize, seekCurrent); code != errOK) return code;
        afterOddChunk = (chunkSize & 1) != 0;
    }
}

SampleType sampleTypeFor(int channels, int bits) {
    if (channels == 1 && bits == 8) return SMP_8BIT_MONO;
    if (channels == 2 && bits == 8) return SMP_8BIT_STEREO;
    if (channels == 1 && bits == 16) return SMP_16BIT_MONO;
    if (channels == 2 && bits == 16) return SMP_16BIT_STEREO;
    return SMP_NONE;
}

int readWaveHeader(FileHandle* file, WaveFile* wave) {
    unsigned char riff[12];
    if (int code = file_read(file, riff, 8); code != errOK) return code;
    if (std::memcmp(riff, "RIFF", 4) != 0) return errBadWave;
    if (int code = file_read(file, riff + 8, 4); code != errOK) return code;
    if (std::memcmp(riff + 8, "WAVE", 4) != 0) return errBadWave;

    std::uint32_t formatSize = 0;
    if (int code = findChunk(file, "fmt ", false, &formatSize); code != errOK) return code;
    if (formatSize < 14) return errBadWave;
    unsigned char format[16];
    if (int code = file_read(file, format, 14); code != errOK) return code;
    int formatTag = readU16(format);
    int channels = readU16(format + 2);
    std::uint32_t rate = readU32(format + 4);
    if (formatTag != 1) return errUnsupportedFormat;
    if (formatSize < 16) return errBadWave;
    if (int code = file_read(file, format + 14, 2); code != errOK) return code;
    int bits = readU16(format + 14);
    if (int code = file_seek(file, static_cast<std::int64_t>(formatSize) - 16, seekCurrent); code != errOK)
        return code;

    std::uint32_t dataSize = 0;
    if (int code = findChunk(file, "data", (formatSize & 1) != 0, &dataSize); code != errOK) return code;
    std::int64_t start = 0, fileSize = 0;
    if (int code = file_tell(file, &start); code != errOK) return code;
    if (int code = file_size(file, &fileSize); code != errOK) return code;
    // A data chunk that claims more than the file holds is cut to what is
    // there, so that playing it ends cleanly instead of failing mid-stream.
    std::int64_t present = fileSize > start ? fileSize - start : 0;
    if (static_cast<std::int64_t>(dataSize) > present) dataSize = static_cast<std::uint32_t>(present);

    const SampleType type = sampleTypeFor(channels, bits);
    if (type == SMP_NONE) return errUnsupportedFormat;
    wave->sampleType = type;
    wave->sampleRate = rate > 0x7fffffffu ? 0x7fffffff : static_cast<int>(rate);
    wave->dataLength = dataSize;
    wave->dataLeft = dataSize;
    wave->dataStart = start;
    return errOK;
}

} // namespace

int wave_open(const char* name, WaveFile** out) {
    if (out == nullptr) return errInvalidArguments;
    FileHandle* file = nullptr;
    if (int code = file_open(name, fileRead, &file); code != errOK) return code;
    WaveFile header{};
    int code = readWaveHeader(file, &header);
    void* record = nullptr;
    if (code == errOK) code = mem_alloc(sizeof(WaveFile), &record);
    if (code != errOK) {
        file_close(file);
        return code;
    }
    auto* wave = static_cast<WaveFile*>(record);
    *wave = header;
    wave->file = file;
    *out = wave;
    return errOK;
}

int wave_read(WaveFile* wave, void* buffer, std::size_t bytes, std::size_t* done) {
    if (wave == nullptr || done == nullptr) return errInvalidArguments;
    std::size_t n = bytes < wave->dataLeft ? bytes : wave->dataLeft;
    *done = 0;
    if (n == 0) return errOK;
    if (int code = file_read(wave->file, buffer, n); code != errOK) return code;
    wave->dataLeft -= static_cast<std::uint32_t>(n);
    *done = n;
    return errOK;
}

int wave_close(WaveFile* wave) {
    if (wave == nullptr) return errInvalidArguments;
    int code = file_close(wave->file);
    int freed = mem_free(wave);
    return code != errOK ? code : freed;
}
