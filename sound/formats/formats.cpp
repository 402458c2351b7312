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
#include <mutex>
#include <utility>
#include <vector>

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

// The module files mapped now (read_module_file to free_module_file), which
// release_module_file_pages may give back.
struct MappedFiles {
    std::mutex lock;
    std::vector<std::pair<const std::uint8_t*, std::size_t>> views;
};
MappedFiles& mappedFiles() {
    static MappedFiles files;
    return files;
}

// The first of the formats that recognises a file's first size bytes (a
// format that needs more bytes is not asked); null when none does.
const ModuleFormat* recognise(std::span<const ModuleFormat* const> formats, const std::uint8_t* head,
                              std::size_t size) {
    for (const ModuleFormat* format : formats)
        if (format->signature_bytes <= size && format->recognise(head)) return format;
    return nullptr;
}

// Sees the start of an open file where it lies, finds its format and makes
// the whole file present. errFileRead when the host cannot map the file.
int mapRecognised(FileHandle* file, std::size_t size, std::size_t headBytes,
                  std::span<const ModuleFormat* const> formats, ModuleFile* out) {
    const void* view = nullptr;
    if (int code = file_map(file, size, &view); code != errOK) return code;
    out->data = static_cast<const std::uint8_t*>(view);
    out->size = size;
    out->mapped = true;
    {
        std::lock_guard<std::mutex> held(mappedFiles().lock);
        mappedFiles().views.emplace_back(out->data, size);
    }
    out->format = recognise(formats, out->data, headBytes);
    return out->format != nullptr ? errOK : errInvalidModule;
}

// Reads the start of an open file, finds its format and reads the rest
// after the start into one image: mapped, or read where it cannot be.
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
    if (int code = mapRecognised(file, size, headBytes, formats, out); code != errFileRead) return code;

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
        code = file_read(file, static_cast<std::uint8_t*>(image) + headBytes, size - headBytes);
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
    if (file->data != nullptr && file->mapped) {
        {
            std::lock_guard<std::mutex> held(mappedFiles().lock);
            auto& views = mappedFiles().views;
            views.erase(std::remove(views.begin(), views.end(), std::make_pair(file->data, file->size)), views.end());
        }
        file_unmap(file->data, file->size);
    } else if (file->data != nullptr) {
        mem_free(const_cast<std::uint8_t*>(file->data));
    }
    file->mapped = false;
    file->data = nullptr;
    file->size = 0;
}

void release_module_file_pages(const std::uint8_t* data, std::size_t size) {
    std::lock_guard<std::mutex> held(mappedFiles().lock);
    for (const auto& [view, bytes] : mappedFiles().views)
        if (view == data && bytes == size) file_release(data, size);
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
