// Raw file routines of the sound library: the only code that talks to the
// host's file calls (POSIX here). Failures are mapped onto the library's
// error codes; the checked interface above this is sound/sys/file.h.
#pragma once

#include <cstdint>
#include <cstddef>

// An open file: allocated by rawf_open, freed by rawf_close.
struct FileHandle {
    int descriptor; // host file descriptor
};

// Maps a host error number (errno) onto a library error code; 0 gives 0.
int rawf_map_host_error(int hostError);

// Opens name with mode 1 read, 2 write (created when missing), 3 read and write.
int rawf_open(const char* name, int mode, FileHandle** out);

// Closes the file and frees its record.
int rawf_close(FileHandle* file);

// Reads up to bytes bytes; *done receives how many were read (short only at the end of the file).
int rawf_read(FileHandle* file, void* buffer, std::size_t bytes, std::size_t* done);

// Writes up to bytes bytes; *done receives how many were written.
int rawf_write(FileHandle* file, const void* buffer, std::size_t bytes, std::size_t* done);

// Moves the position with a host origin (SEEK_SET, SEEK_CUR, SEEK_END); *position receives the new one.
int rawf_seek(FileHandle* file, std::int64_t offset, int hostOrigin, std::int64_t* position);

// Maps the first bytes bytes of a regular file read-only into memory; *view receives the
// address. errFileRead when the host cannot map this file (a pipe, a device) or it is shorter
// than that, which a reader meets by reading it instead.
int rawf_map(FileHandle* file, std::size_t bytes, const void** view);

// Drops the pages of a mapping from memory; they come back from the file when read again.
void rawf_release(const void* view, std::size_t bytes);

// Ends a mapping made by rawf_map.
int rawf_unmap(const void* view, std::size_t bytes);
