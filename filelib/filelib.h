// File library: the show's data archive, a plain concatenation of named files behind a
// 10-byte header ("zynSFLb" 0x1A, 16-bit entry count), every entry a 21-byte header
// (13-byte NUL-padded name, 32-bit size, 32-bit data offset from the library's base)
// followed by its data. All numbers little-endian.
//
// The show's read path (libraryOpen, librarySeek, libraryLoad, libraryClose) reports nothing:
// a missing name leaves the stream at the end of the library and the destination untouched.
// Tools that need to know (flb, tests) use the return values and libraryCheck.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

constexpr std::size_t libraryHeaderSize = 10;
constexpr std::size_t libraryEntryHeaderSize = 21;
constexpr std::size_t libraryNameSize = 13; // 12 characters and a NUL
constexpr std::size_t libraryMaxNameLength = 12;
constexpr std::uint16_t libraryMaxFiles = 0xFFFF;
constexpr std::uint8_t libraryMagic[8] = {0x7A, 0x79, 0x6E, 0x53, 0x46, 0x4C, 0x62, 0x1A}; // "zynSFLb" 0x1A

// The open archive; allocated and freed by the caller.
struct FileLibrary {
    std::uint8_t magic[8];
    std::uint16_t fileCount;
    std::uint32_t baseOffset; // where the library starts inside its file
    std::FILE* stream;        // null when the file could not be opened
};

// One entry header as stored in the file (name always NUL-terminated here).
struct FileLibraryEntry {
    char name[libraryNameSize];
    std::uint32_t size;
    std::uint32_t dataOffset; // from the base offset; the data follows the entry header
};

// Result of libraryCheck.
enum LibraryCheckResult : int {
    libraryOk = 0,
    libraryNotOpen,       // no stream
    libraryShortHeader,   // the file ends inside the 10-byte header
    libraryBadMagic,      // not a file library
    libraryShortEntry,    // the file ends inside an entry header or its data
    libraryBadDataOffset, // an entry's data offset is not just after its header
    libraryTrailingData,  // bytes after the last entry
};

// Opens (create 0: mode "rb+", reads the header) or creates (create nonzero: writes an empty
// header) the library at baseOffset in fileName. Returns library; stream is null on failure.
FileLibrary* libraryOpen(FileLibrary* library, const char* fileName, int create, std::uint32_t baseOffset);

// Like libraryOpen for reading, but with mode "rb" so read-only archives can be listed and unpacked.
FileLibrary* libraryOpenReadOnly(FileLibrary* library, const char* fileName, std::uint32_t baseOffset);

// Closes the stream (the handle itself belongs to the caller).
void libraryClose(FileLibrary* library);

// Positions the stream at the data of the first entry called name. Returns 1 when found, else 0
// with the stream at the end of the walked entries.
int librarySeek(FileLibrary* library, const char* name);

// librarySeek, then one read of count 2-byte elements into destination. Returns the number of
// whole elements read (the show ignores it).
std::size_t libraryLoad(FileLibrary* library, const char* name, void* destination, std::size_t count);

// Appends fileName as an entry named fileName (truncated to 12 characters). Returns 1 on success;
// on failure the library is left exactly as it was.
int libraryAddFile(FileLibrary* library, const char* fileName);

// Appends the file at sourcePath as an entry called entryName (truncated to 12 characters).
// Returns 1 on success; on failure the library is left exactly as it was.
int libraryAddFileAs(FileLibrary* library, const char* sourcePath, const char* entryName);

// Writes the first entry called name to a file of that name in the current folder. Returns 1 on
// success, 0 when the name is missing, unsafe as a file name, or the data cannot be copied whole.
int libraryExtractFile(FileLibrary* library, const char* name);

// Flushes stream and returns the length of its file in bytes (-1 on error).
long long streamLength(std::FILE* stream);

// Walks header and entries with full bounds checks, calling visit (when given) for each good
// entry; a nonzero return from visit stops the walk. Returns a LibraryCheckResult.
int libraryCheck(FileLibrary* library, int (*visit)(const FileLibraryEntry* entry, void* context),
                 void* context);

// Text for a LibraryCheckResult.
const char* libraryCheckMessage(int result);
