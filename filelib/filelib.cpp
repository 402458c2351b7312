#include "filelib/filelib.h"

#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t copyPieceSize = 1024;

// Positions are 64-bit so that base + offset + size never wraps, whatever a damaged header says.
bool seekTo(std::FILE* stream, std::uint64_t position) {
    if (position > static_cast<std::uint64_t>(INT64_MAX)) return false;
    return fseeko(stream, static_cast<off_t>(position), SEEK_SET) == 0;
}

std::uint16_t readLe16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t readLe32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void writeLe16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void writeLe32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

bool writeHeader(FileLibrary* library) {
    std::uint8_t header[libraryHeaderSize];
    std::memcpy(header, library->magic, 8);
    writeLe16(header + 8, library->fileCount);
    return seekTo(library->stream, library->baseOffset) &&
           std::fwrite(header, 1, sizeof header, library->stream) == sizeof header;
}

// Opens an existing library with mode and reads its header. A short file leaves an empty, all-zero
// header rather than whatever the caller's memory held.
void openForReading(FileLibrary* library, const char* fileName, const char* mode) {
    std::memset(library->magic, 0, 8);
    library->fileCount = 0;
    library->stream = std::fopen(fileName, mode);
    if (!library->stream) return;
    std::uint8_t header[libraryHeaderSize];
    if (seekTo(library->stream, library->baseOffset) &&
        std::fread(header, 1, sizeof header, library->stream) == sizeof header) {
        std::memcpy(library->magic, header, 8);
        library->fileCount = readLe16(header + 8);
    }
}

// Reads one entry header at the current position. The name is cut at 12 characters even when a
// damaged file has no NUL in its 13 bytes, so comparisons never run past the buffer.
bool readEntryHeader(std::FILE* stream, FileLibraryEntry* entry) {
    std::uint8_t raw[libraryEntryHeaderSize];
    if (std::fread(raw, 1, sizeof raw, stream) != sizeof raw) return false;
    std::memcpy(entry->name, raw, libraryNameSize);
    entry->name[libraryMaxNameLength] = '\0';
    entry->size = readLe32(raw + 13);
    entry->dataOffset = readLe32(raw + 17);
    return true;
}

// Walks the entries from the first, stopping at the first one called name; the stream then
// stands at its data. Read errors end the walk (nothing further could be found).
bool findEntry(FileLibrary* library, const char* name, FileLibraryEntry* entry) {
    std::FILE* stream = library->stream;
    if (!seekTo(stream, std::uint64_t{library->baseOffset} + libraryHeaderSize)) return false;
    for (unsigned i = 0; i < library->fileCount; ++i) {
        if (!readEntryHeader(stream, entry)) return false;
        if (std::strcmp(entry->name, name) == 0) return true;
        std::uint64_t next = std::uint64_t{library->baseOffset} + entry->dataOffset + entry->size;
        if (!seekTo(stream, next)) return false;
    }
    return false;
}

// A name that would write outside the current folder (or nowhere) is not extracted.
bool safeFileName(const char* name) {
    if (name[0] == '\0' || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) return false;
    return std::strpbrk(name, "/\\") == nullptr;
}

// Copies exactly size bytes; false on a short read or a write error.
bool copyBytes(std::FILE* from, std::FILE* to, std::uint64_t size) {
    std::uint8_t piece[copyPieceSize];
    while (size > 0) {
        std::size_t want = size < copyPieceSize ? static_cast<std::size_t>(size) : copyPieceSize;
        std::size_t got = std::fread(piece, 1, want, from);
        if (got != want) return false;
        if (std::fwrite(piece, 1, got, to) != got) return false;
        size -= got;
    }
    return true;
}

} // namespace

FileLibrary* libraryOpen(FileLibrary* library, const char* fileName, int create, std::uint32_t baseOffset) {
    library->baseOffset = baseOffset;
    library->stream = nullptr;
    if (create) {
        std::memcpy(library->magic, libraryMagic, 8);
        library->fileCount = 0;
        library->stream = std::fopen(fileName, baseOffset == 0 ? "wb+" : "rb+");
        if (!library->stream) return library;
        writeHeader(library);
        std::fflush(library->stream);
        return library;
    }
    openForReading(library, fileName, "rb+");
    return library;
}

FileLibrary* libraryOpenReadOnly(FileLibrary* library, const char* fileName, std::uint32_t baseOffset) {
    library->baseOffset = baseOffset;
    openForReading(library, fileName, "rb");
    return library;
}

void libraryClose(FileLibrary* library) {
    if (library->stream) std::fclose(library->stream);
    library->stream = nullptr;
}

int librarySeek(FileLibrary* library, const char* name) {
    if (!library->stream || !name) return 0;
    FileLibraryEntry entry;
    return findEntry(library, name, &entry) ? 1 : 0;
}

std::size_t libraryLoad(FileLibrary* library, const char* name, void* destination, std::size_t count) {
    if (!library->stream || !destination) return 0;
    librarySeek(library, name);
    // Read even when the name is missing: the stream then stands at the end of the library and
    // normally reads nothing, leaving the destination as it was.
    return std::fread(destination, 2, count, library->stream);
}

int libraryFindEntry(FileLibrary* library, const char* name, FileLibraryEntry* entry) {
    if (!library->stream || !name || !entry) return 0;
    return findEntry(library, name, entry) ? 1 : 0;
}

int libraryLoadWhole(FileLibrary* library, const char* name, void* destination, std::size_t count,
                     std::uint32_t* entrySize) {
    FileLibraryEntry entry;
    if (!libraryFindEntry(library, name, &entry)) return libraryNoEntry;
    if (entrySize) *entrySize = entry.size;
    if (count > entry.size / 2) return libraryEntryShort;
    if (count == 0) return libraryLoaded;
    if (!destination || std::fread(destination, 2, count, library->stream) != count) return libraryReadFailed;
    return libraryLoaded;
}

int libraryAddFile(FileLibrary* library, const char* fileName) {
    return libraryAddFileAs(library, fileName, fileName);
}

int libraryAddFileAs(FileLibrary* library, const char* sourcePath, const char* entryName) {
    if (!library->stream || !sourcePath) return 0;
    if (!entryName) entryName = sourcePath;
    // The count cannot grow past 16 bits: wrapping to 0 would hide every entry.
    if (library->fileCount == libraryMaxFiles) return 0;
    std::FILE* source = std::fopen(sourcePath, "rb");
    if (!source) return 0;
    long long sourceLength = streamLength(source);
    long long end = streamLength(library->stream);
    std::uint64_t dataPosition = static_cast<std::uint64_t>(end) + libraryEntryHeaderSize;
    if (sourceLength < 0 || sourceLength > static_cast<long long>(UINT32_MAX) || end < 0 ||
        static_cast<std::uint64_t>(end) < library->baseOffset ||
        dataPosition - library->baseOffset > UINT32_MAX) {
        std::fclose(source);
        return 0;
    }

    std::uint8_t entry[libraryEntryHeaderSize] = {};
    std::size_t nameLength = strnlen(entryName, libraryMaxNameLength);
    std::memcpy(entry, entryName, nameLength);
    writeLe32(entry + 13, static_cast<std::uint32_t>(sourceLength));
    writeLe32(entry + 17, static_cast<std::uint32_t>(dataPosition - library->baseOffset));

    // The entry and its data go in first and the count last, so an interruption leaves only bytes
    // past the last counted entry; any failure cuts the file back to where it ended.
    bool ok = seekTo(library->stream, static_cast<std::uint64_t>(end)) &&
              std::fwrite(entry, 1, sizeof entry, library->stream) == sizeof entry &&
              copyBytes(source, library->stream, static_cast<std::uint64_t>(sourceLength)) &&
              std::fflush(library->stream) == 0;
    std::fclose(source);
    if (ok) {
        ++library->fileCount;
        ok = writeHeader(library) && std::fflush(library->stream) == 0;
        if (!ok) {
            --library->fileCount;
            writeHeader(library);
        }
    }
    if (!ok) {
        std::fflush(library->stream);
        if (ftruncate(fileno(library->stream), static_cast<off_t>(end)) != 0) {
            // Nothing more can be done; the count was not raised, so readers never see the bytes.
        }
        std::clearerr(library->stream);
        return 0;
    }
    return 1;
}

int libraryExtractFile(FileLibrary* library, const char* name) {
    if (!library->stream || !name) return 0;
    FileLibraryEntry entry;
    if (!findEntry(library, name, &entry)) return 0;
    if (!safeFileName(entry.name)) return 0;
    // Check the data is all there before creating anything.
    off_t here = ftello(library->stream);
    long long length = streamLength(library->stream);
    if (here < 0 || length < 0 ||
        static_cast<std::uint64_t>(here) + entry.size > static_cast<std::uint64_t>(length))
        return 0;
    if (!seekTo(library->stream, static_cast<std::uint64_t>(here))) return 0;
    // Never truncate the library itself by extracting an entry named like it.
    struct stat target, self;
    if (stat(entry.name, &target) == 0 && fstat(fileno(library->stream), &self) == 0 &&
        target.st_dev == self.st_dev && target.st_ino == self.st_ino)
        return 0;
    std::FILE* out = std::fopen(entry.name, "wb");
    if (!out) return 0;
    bool ok = copyBytes(library->stream, out, entry.size);
    if (std::fclose(out) != 0) ok = false;
    if (!ok) std::remove(entry.name);
    return ok ? 1 : 0;
}

long long streamLength(std::FILE* stream) {
    if (!stream) return -1;
    std::fflush(stream);
    struct stat info;
    if (fstat(fileno(stream), &info) != 0) return -1;
    return static_cast<long long>(info.st_size);
}

int libraryCheck(FileLibrary* library, int (*visit)(const FileLibraryEntry* entry, void* context),
                 void* context, LibraryFault* fault) {
    LibraryFault found{};
    const auto report = [&](int result) {
        found.result = result;
        if (fault) *fault = found;
        return result;
    };
    if (!library->stream) return report(libraryNotOpen);
    std::FILE* stream = library->stream;
    long long lengthSigned = streamLength(stream);
    if (lengthSigned < 0) return report(libraryShortHeader);
    const std::uint64_t length = static_cast<std::uint64_t>(lengthSigned);
    found.fileLength = length;
    const std::uint64_t base = library->baseOffset;
    found.start = base;
    found.end = base + libraryHeaderSize;
    std::uint8_t header[libraryHeaderSize];
    if (length < base + libraryHeaderSize || !seekTo(stream, base) ||
        std::fread(header, 1, sizeof header, stream) != sizeof header)
        return report(libraryShortHeader);
    if (std::memcmp(header, libraryMagic, 8) != 0) return report(libraryBadMagic);
    unsigned count = readLe16(header + 8);
    found.fileCount = count;
    std::uint64_t position = base + libraryHeaderSize;
    for (unsigned i = 0; i < count; ++i) {
        FileLibraryEntry entry;
        found.entry = i + 1;
        found.name[0] = '\0';
        found.start = position;
        found.end = position + libraryEntryHeaderSize;
        if (position + libraryEntryHeaderSize > length || !seekTo(stream, position) ||
            !readEntryHeader(stream, &entry))
            return report(libraryShortEntry);
        std::memcpy(found.name, entry.name, libraryNameSize);
        std::uint64_t dataPosition = position + libraryEntryHeaderSize;
        found.dataOffset = entry.dataOffset;
        found.placeOffset = dataPosition - base;
        found.end = dataPosition + entry.size;
        if (entry.dataOffset != dataPosition - base) return report(libraryBadDataOffset);
        if (dataPosition + entry.size > length) return report(libraryShortEntry);
        if (visit && visit(&entry, context) != 0) return report(libraryOk);
        position = dataPosition + entry.size;
    }
    // Past the last entry: what follows it, if anything, is the fault.
    found = LibraryFault{0, count, 0, {}, length, position, length, 0, 0};
    return report(position == length ? libraryOk : libraryTrailingData);
}

const char* libraryCheckMessage(int result) {
    switch (result) {
    case libraryOk: return "a good file library";
    case libraryNotOpen: return "the file could not be opened";
    case libraryShortHeader: return "the file is too short to be a file library";
    case libraryBadMagic: return "not a file library (wrong signature)";
    case libraryShortEntry: return "damaged: an entry runs past the end of the file";
    case libraryBadDataOffset: return "damaged: an entry's data offset does not match its place";
    case libraryTrailingData: return "damaged: unknown bytes after the last entry";
    default: return "unknown check result";
    }
}

void libraryFaultText(const LibraryFault& fault, char* buffer, std::size_t size) {
    if (!buffer || size == 0) return;
    const auto length = static_cast<unsigned long long>(fault.fileLength);
    const auto end = static_cast<unsigned long long>(fault.end);
    const auto start = static_cast<unsigned long long>(fault.start);
    // "entry 3 of 16, "name"" or "entry 3 of 16" when its header could not be read.
    char entry[64];
    if (fault.name[0])
        std::snprintf(entry, sizeof entry, "entry %u of %u, \"%s\",", fault.entry, fault.fileCount,
                      fault.name);
    else
        std::snprintf(entry, sizeof entry, "entry %u of %u", fault.entry, fault.fileCount);
    switch (fault.result) {
    case libraryOk: std::snprintf(buffer, size, "%s", libraryCheckMessage(libraryOk)); break;
    case libraryNotOpen: std::snprintf(buffer, size, "%s", libraryCheckMessage(libraryNotOpen)); break;
    case libraryShortHeader:
        std::snprintf(buffer, size,
                      "the file has %llu bytes, too few for the %zu-byte header of a file library", length,
                      libraryHeaderSize);
        break;
    case libraryBadMagic:
        std::snprintf(
            buffer, size,
            "its first bytes are not the signature \"zynSFLb\" of a file library (it is not one, or "
            "its header is garbled)");
        break;
    case libraryShortEntry:
        if (fault.name[0])
            std::snprintf(
                buffer, size,
                "%s runs past the end of the file: its data would end at byte %llu, and the file has "
                "%llu bytes",
                entry, end, length);
        else if (fault.start == fault.fileLength && fault.entry > 1)
            std::snprintf(buffer, size, "its header announces %u entries, but the file ends after entry %u",
                          fault.fileCount, fault.entry - 1);
        else if (fault.start == fault.fileLength)
            std::snprintf(buffer, size, "its header announces %u entries, but the file ends after the header",
                          fault.fileCount);
        else
            std::snprintf(
                buffer, size,
                "%s is cut off: its header at byte %llu would end at byte %llu, and the file has %llu "
                "bytes",
                entry, start, end, length);
        break;
    case libraryBadDataOffset:
        std::snprintf(buffer, size,
                      "%s gives its data offset as %lu, but its data follows its header at offset %llu "
                      "(the directory is garbled)",
                      entry, static_cast<unsigned long>(fault.dataOffset),
                      static_cast<unsigned long long>(fault.placeOffset));
        break;
    case libraryTrailingData:
        std::snprintf(buffer, size, "%llu unknown bytes follow the last of its %u entries, from byte %llu",
                      length - start, fault.fileCount, start);
        break;
    default: std::snprintf(buffer, size, "%s", libraryCheckMessage(fault.result)); break;
    }
}
