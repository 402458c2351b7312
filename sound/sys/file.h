// The sound library's file routines: checked reads, writes and seeks whose
// failures come back as library error codes.
#pragma once

#include "sound/sys/rawf_nt.h"

#include <cstddef>
#include <cstdint>

// Open modes.
enum FileMode : int { fileRead = 1, fileWrite = 2, fileReadWrite = 3 };

// Seek origins.
enum SeekOrigin : int { seekStart = 1, seekCurrent = 2, seekEnd = 3 };

// Opens a file (read: existing file; write and read-write: created when missing). Mode outside 1..3 is 22.
int file_open(const char* name, int mode, FileHandle** handle);

// Closes the file and frees its record.
int file_close(FileHandle* handle);

// Reads exactly bytes bytes; fewer is errEndOfFile.
int file_read(FileHandle* handle, void* buffer, std::size_t bytes);

// Writes exactly bytes bytes; fewer is errFileWrite.
int file_write(FileHandle* handle, const void* buffer, std::size_t bytes);

// Moves the position by offset from origin (1 start, 2 current, 3 end); other origins are 22.
int file_seek(FileHandle* handle, std::int64_t offset, int origin);

// Current position from the start of the file.
int file_tell(FileHandle* handle, std::int64_t* position);

// Size of the file in bytes; the position is left where it was.
int file_size(FileHandle* handle, std::int64_t* size);

// The first bytes bytes of the file as a read-only view, without copying them (rawf_map);
// errFileRead when the file cannot be seen that way and must be read.
int file_map(FileHandle* handle, std::size_t bytes, const void** view);

// Gives back the memory pages of a view: reading them again reads the file.
void file_release(const void* view, std::size_t bytes);

// Ends a view given by file_map.
int file_unmap(const void* view, std::size_t bytes);

// Clears *exists when the file cannot be opened for reading; otherwise leaves it as the caller set it.
int file_exists(const char* name, int* exists);
