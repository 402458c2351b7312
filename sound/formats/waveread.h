// WAVE file reader: finds the PCM format and the sample data of a RIFF WAVE
// file, for sound effects and streams.
#pragma once

#include "sound/formats/module.h"
#include "sound/sys/file.h"

#include <cstddef>
#include <cstdint>

// An open WAVE file, positioned at its sample data.
struct WaveFile {
    FileHandle* file;
    SampleType sampleType;    // SMP_8BIT_MONO, SMP_16BIT_MONO, SMP_8BIT_STEREO or SMP_16BIT_STEREO
    int sampleRate;           // Hz
    std::uint32_t dataLength; // bytes of sample data
    std::uint32_t dataLeft;   // bytes still to read
    std::int64_t dataStart;   // file offset of the first data byte
};

// Opens a WAVE file and positions it at the sample data. Not RIFF/WAVE or a
// malformed format chunk is errBadWave; not 8- or 16-bit PCM with 1 or 2
// channels is errUnsupportedFormat. The file is closed on every failure.
int wave_open(const char* name, WaveFile** out);

// Reads up to bytes bytes of sample data; *done receives how many (0 at the end of the data).
int wave_read(WaveFile* wave, void* buffer, std::size_t bytes, std::size_t* done);

// Closes the file and frees the record.
int wave_close(WaveFile* wave);
