#include "sound/formats/formats.h"

#include "sound/api/errors.h"
#include "sound/formats/loadit.h"
#include "sound/formats/loadmod.h"
#include "sound/formats/loads3m.h"
#include "sound/formats/loadxm.h"
#include "sound/sys/file.h"
#include "sound/sys/mmem.h"

#include <algorithm>
#include <cstring>

const std::array<const ModuleFormat*, 4> moduleFormats = {
    &extendedModuleFormat,
    &screamTrackerFormat,
    &impulseTrackerFormat,
    &protrackerFormat,
};

const ModuleFormat* module_format_of(int playMode) {
    for (const ModuleFormat* format : moduleFormats)
        if (format->play_mode == playMode) return format;
    return nullptr;
}

namespace {

// The first of the formats that recognises a file's first size bytes (a
// format that needs more bytes is not asked); null when none does.
const ModuleFormat* recognise(std::span<const ModuleFormat* const> formats, const std::uint8_t* head,
                              std::size_t size) {
    for (const ModuleFormat* format : formats)
        if (format->signature_bytes <= size && format->recognise(head)) return format;
    return nullptr;
}

// Reads the start of an open file, finds its format and reads the rest
// after the start into one image.
int readRecognised(FileHandle* file, std::span<const ModuleFormat* const> formats, ModuleFile* out) {
    std::int64_t fileSize = 0;
    if (int code = file_size(file, &fileSize); code != errOK) return code;
    std::size_t needed = 0, fewest = SIZE_MAX;
    for (const ModuleFormat* format : formats) {
        needed = std::max(needed, format->signature_bytes);
        fewest = std::min(fewest, format->signature_bytes);
    }
    if (fileSize < 0 || static_cast<std::uint64_t>(fileSize) < fewest) return errEndOfFile;
    if (static_cast<std::uint64_t>(fileSize) > SIZE_MAX) return errOutOfMemory;
    const auto size = static_cast<std::size_t>(fileSize);

    const std::size_t headBytes = std::min(size, needed);
    void* head = nullptr;
    if (int code = mem_alloc(headBytes, &head); code != errOK) return code;
    int code = file_read(file, head, headBytes);
    if (code == errOK) {
        out->format = recognise(formats, static_cast<const std::uint8_t*>(head), headBytes);
        if (out->format == nullptr) code = errInvalidModule;
    }
    void* image = nullptr;
    if (code == errOK) code = mem_alloc(size, &image);
    if (code == errOK) {
        std::memcpy(image, head, headBytes);
        out->data = static_cast<std::uint8_t*>(image);
        out->size = size;
        code = file_read(file, out->data + headBytes, size - headBytes);
    }
    mem_free(head);
    return code;
}

} // namespace

int read_module_file(const char* fileName, std::span<const ModuleFormat* const> formats, ModuleFile* out) {
    if (out == nullptr || formats.empty()) return errInvalidArguments;
    *out = ModuleFile{};
    FileHandle* file = nullptr;
    if (int code = file_open(fileName, fileRead, &file); code != errOK) return code;
    int code = readRecognised(file, formats, out);
    const int closed = file_close(file);
    if (code == errOK) code = closed;
    if (code != errOK) free_module_file(out);
    return code;
}

const ModuleFormat* recognise_module_image(std::span<const ModuleFormat* const> formats,
                                           const std::uint8_t* data, std::size_t size) {
    if (data == nullptr) return nullptr;
    return recognise(formats, data, size);
}

void free_module_file(ModuleFile* file) {
    if (file->data != nullptr) mem_free(file->data);
    file->data = nullptr;
    file->size = 0;
}

int load_format_file(const ModuleFormat& format, const char* fileName, int addSamplesToDevice,
                     SampleCallback callback, Module** moduleOut) {
    if (moduleOut == nullptr) return errInvalidArguments;
    const ModuleFormat* const only[] = {&format};
    ModuleFile file;
    int code = read_module_file(fileName, only, &file);
    if (code == errOK)
        code = format.load_memory(file.data, file.size, addSamplesToDevice, callback, moduleOut);
    free_module_file(&file);
    return code;
}

// The four formats' file loaders: the shared file reading with the format alone.

int load_extended_module(const char* fileName, int addSamplesToDevice, SampleCallback callback, Module** moduleOut) {
    return load_format_file(extendedModuleFormat, fileName, addSamplesToDevice, callback, moduleOut);
}

int load_scream_tracker_module(const char* fileName, int addSamplesToDevice, SampleCallback callback,
                               Module** moduleOut) {
    return load_format_file(screamTrackerFormat, fileName, addSamplesToDevice, callback, moduleOut);
}

int load_impulse_tracker_module(const char* fileName, int addSamplesToDevice, SampleCallback callback,
                                Module** moduleOut) {
    return load_format_file(impulseTrackerFormat, fileName, addSamplesToDevice, callback, moduleOut);
}

int load_protracker_module(const char* fileName, int addSamplesToDevice, SampleCallback callback,
                           Module** moduleOut) {
    return load_format_file(protrackerFormat, fileName, addSamplesToDevice, callback, moduleOut);
}
