// The module formats the library reads: one record per format (its name, how
// many bytes of a file's start tell it apart, the test over those bytes and
// its loaders), the list of them in the order a file is tried against them,
// and the reading of a module file for them: opened once, its start
// recognised, then read whole for the loader.
#pragma once

#include "sound/formats/module.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

// Bits of a loader's addSamplesToDevice argument.
inline constexpr int loadToDevice = 1;   // hand every sample to currentDevice (else each keeps its data)
inline constexpr int loadCutSamples = 2; // a file that ends inside its sample data loads with the data
                                         // there; the module counts what was missing

// Loads a module from a file image in memory. addSamplesToDevice with
// loadToDevice hands every sample to currentDevice's addSample (copied; data
// stays null), without it keeps the data in each Sample; with loadCutSamples
// a sample whose data runs past the image's end ends early (see
// sample_data_in_image). callback may be null. On failure nothing is left
// allocated and *moduleOut is not written.
using ImageLoader = int (*)(const std::uint8_t* data, std::size_t size, int addSamplesToDevice,
                            SampleCallback callback, Module** moduleOut);
// As ImageLoader, from a module file of the loader's format.
using FileLoader = int (*)(const char* fileName, int addSamplesToDevice, SampleCallback callback,
                           Module** moduleOut);

// One module format.
struct ModuleFormat {
    const char* name;            // short name, as players show it ("XM")
    int play_mode;               // the play mode of the modules it builds
    std::size_t signature_bytes; // bytes from the file's start that recognise looks at
    // Whether the first signature_bytes bytes of a file belong to the format.
    bool (*recognise)(const std::uint8_t* head);
    ImageLoader load_memory;
    FileLoader load_file;
};

// The records, each defined beside its loader.
extern const ModuleFormat extendedModuleFormat; // loadxm
extern const ModuleFormat screamTrackerFormat;  // loads3m
extern const ModuleFormat impulseTrackerFormat; // loadit
extern const ModuleFormat protrackerFormat;     // loadmod

// Every format, in the order a file is tried against them. Protracker comes
// last: its signature lies 1080 bytes in, where another format's file may
// hold anything.
extern const std::array<const ModuleFormat*, 4> moduleFormats;

// The format whose modules have a play mode; null for none.
const ModuleFormat* module_format_of(int playMode);

// A module file read into memory, and the format that recognised it.
struct ModuleFile {
    const ModuleFormat* format = nullptr;
    std::uint8_t* data = nullptr; // the whole file, a block of the memory layer
    std::size_t size = 0;
};

// Opens a file, reads as much of its start as the formats need and gives it
// to each format in turn; the first that recognises it is kept and the whole
// file read. None recognising it is errInvalidModule, and the rest of the
// file is not read; a file shorter than every format needs is errEndOfFile.
// On failure no image is left allocated.
int read_module_file(const char* fileName, std::span<const ModuleFormat* const> formats, ModuleFile* out);
// Frees a module file's image (the format stays named).
void free_module_file(ModuleFile* file);

// The first of the formats that recognises a file image held in memory; null
// when none does (an image shorter than a format's signature is not its).
const ModuleFormat* recognise_module_image(std::span<const ModuleFormat* const> formats,
                                           const std::uint8_t* data, std::size_t size);

// Loads a module file of one format: read_module_file with that format
// alone, then its load_memory on the image. For the formats' load_file.
int load_format_file(const ModuleFormat& format, const char* fileName, int addSamplesToDevice,
                     SampleCallback callback, Module** moduleOut);
