// File library: the show's data archive, a plain concatenation of named files behind a
// 10-byte header ("zynSFLb" 0x1A, 16-bit entry count), every entry a 21-byte header
// (13-byte NUL-padded name, 32-bit size, 32-bit data offset from the library's base)
// followed by its data. All numbers little-endian.
//
// The plain read path (libraryOpen, librarySeek, libraryLoad, libraryClose) reports nothing: a
// missing name leaves the stream at the end of the library and the destination untouched. The
// show checks a library once it is open (libraryCheck with a LibraryFault, which says which entry
// is wrong and how) and reads its entries with libraryLoadWhole, which reads an entry whole or
// not at all; tools that need to know (flb, tests) use the return values and libraryCheck.
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

// Where libraryCheck found the first fault, for a message that says which entry is wrong and how.
// Positions are bytes from the start of the file.
struct LibraryFault {
    int result;                 // LibraryCheckResult
    unsigned fileCount;         // entries the header announces (0 when it could not be read)
    unsigned entry;             // the entry at fault, counted from 1 (0: the header itself)
    char name[libraryNameSize]; // its name ("" when its header could not be read)
    std::uint64_t fileLength;   // bytes in the file
    std::uint64_t start;        // where the entry's header (or the library's header) starts
    std::uint64_t end;          // where the entry's data (or header) would end
    std::uint32_t dataOffset;   // the data offset an entry's header gives (libraryBadDataOffset) ...
    std::uint64_t placeOffset;  // ... and the offset its data really has, just after its header
};

// Result of libraryLoadWhole.
enum LibraryLoadResult : int {
    libraryLoaded = 0,
    libraryNoEntry,    // no entry has the name (or the library is not open)
    libraryEntryShort, // the entry holds fewer bytes than asked for
    libraryReadFailed, // the stream gave fewer bytes than the entry holds
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
// whole elements read.
std::size_t libraryLoad(FileLibrary* library, const char* name, void* destination, std::size_t count);

// Finds the first entry called name and reads its header into entry, leaving the stream at its
// data. Returns 1 when found, else 0.
int libraryFindEntry(FileLibrary* library, const char* name, FileLibraryEntry* entry);

// Reads count 2-byte elements from the start of the first entry called name, only when the entry
// holds at least that many bytes: otherwise destination is left untouched. *entrySize (when
// given) is set to the entry's size when it was found. Returns a LibraryLoadResult.
int libraryLoadWhole(FileLibrary* library, const char* name, void* destination, std::size_t count,
                     std::uint32_t* entrySize = nullptr);

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
// entry; a nonzero return from visit stops the walk. Returns a LibraryCheckResult; fault (when
// given) is filled either way, and says where the first fault lies.
int libraryCheck(FileLibrary* library, int (*visit)(const FileLibraryEntry* entry, void* context),
                 void* context, LibraryFault* fault = nullptr);

// Text for a LibraryCheckResult.
const char* libraryCheckMessage(int result);

// What a fault is, in words that name the entry and the positions that disagree, e.g. "entry 2
// of 16, \"p1_pres.raw\", runs past the end of the file: its data would end at byte 17356, and
// the file has 1000 bytes". Always NUL-terminated; cut to fit size.
void libraryFaultText(const LibraryFault& fault, char* buffer, std::size_t size);
