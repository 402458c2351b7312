// What the sound library's fuzz targets do with one input, shared with the
// regression tests that keep every input which once found a fault.
//
// A module input is loaded from memory three times: keeping the sample data in
// the module, keeping what there is of it when the input ends early (as files
// for rendering are loaded), and handing it to the mixer (the device mode); the last copy then
// plays for a stretch of ticks through the player and the mixer, in a mixing
// mode picked from the input's length, so that damaged songs reach the
// effect commands and the channel mixing loop too. A WAVE input is opened
// and read to its end; a settings input is read as the stored-settings file.
#pragma once

#include "fuzz/memfile.h"
#include "tests/sound/offline_song.h"

#include "sound/mixer/dsm.h"
#include "sound/api/mglobals.h"
#include "sound/formats/formats.h"
#include "sound/formats/module.h"
#include "sound/formats/waveread.h"
#include "sound/setup/win32cnf.h"

#include <cstddef>
#include <array>
#include <cstdint>
#include <vector>

namespace fuzzing {

// Ticks a loaded song plays: a few rows at the usual speeds, enough to start
// notes, run effects and reach loop ends, without making each input slow.
inline constexpr int ticksPlayed = 96;

// Loads a module input with one format's loader, in every sample mode, and plays it.
inline void module(const std::uint8_t* data, std::size_t size, const ModuleFormat& format) {
    Module* kept = nullptr;
    if (format.load_memory(data, size, 0, nullptr, &kept) == 0) free_module(kept, nullptr);
    Module* cut = nullptr;
    if (format.load_memory(data, size, loadCutSamples, nullptr, &cut) == 0) free_module(cut, nullptr);

    static const std::uint32_t modes[] = {MIX_STEREO | MIX_16BIT | MIX_FLOAT, MIX_MONO | MIX_8BIT | MIX_INTEGER,
                                          MIX_STEREO | MIX_16BIT | MIX_INTEGER,
                                          MIX_STEREO | MIX_16BIT | MIX_INTERPOLATE};
    offline::Song song;
    if (song.open(8000, modes[size % 4]) != 0) return;
    Module* playing = nullptr;
    if (format.load_memory(data, size, 1, nullptr, &playing) != 0) return;
    if (song.start(playing) != 0) return; // close() frees the module
    std::vector<std::uint8_t> out;
    for (int t = 0; t < ticksPlayed; ++t)
        if (song.tick(out) != 0) break;
}

// Opens a WAVE input and reads all of its sample data.
inline void wave(const std::uint8_t* data, std::size_t size) {
    MemoryFile file(data, size);
    if (!file.ok()) return;
    WaveFile* w = nullptr;
    if (wave_open(file.name.c_str(), &w) != 0) return;
    std::uint8_t buffer[4096];
    for (;;) {
        std::size_t done = 0;
        if (wave_read(w, buffer, sizeof buffer, &done) != 0 || done == 0) break;
    }
    wave_close(w);
}

// Reads an input as the stored-settings file. Returns false when the reader
// broke its promise: a file taken must be exactly the five words it holds, a
// file refused must leave every setting as it was.
inline bool settings(const std::uint8_t* data, std::size_t size) {
    static constexpr std::array<int, 5> stored = {optMixingRate, optOutputMode, optInterpolation, optBufferLength,
                                                  optDSoundBufferLength};
    resetSoundOptions();
    const auto before = soundOptions;
    MemoryFile file(data, size);
    if (!file.ok()) return true;
    if (loadSettingsFromFile(file.name.c_str()) == 0) return soundOptions == before;
    if (size != stored.size() * 4) return false;
    for (std::size_t i = 0; i < stored.size(); ++i) {
        const std::uint8_t* b = data + i * 4;
        const auto word = static_cast<std::int32_t>(std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 |
                                                    std::uint32_t(b[2]) << 16 | std::uint32_t(b[3]) << 24);
        if (soundOptions[stored[i]] != word) return false;
    }
    return true;
}

} // namespace fuzzing
