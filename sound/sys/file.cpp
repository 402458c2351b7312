#include "sound/sys/file.h"

#include "sound/api/errors.h"

#include <cstdio>

int file_open(const char* name, int mode, FileHandle** handle) {
    if (mode < fileRead || mode > fileReadWrite) return errInvalidArguments;
    return rawf_open(name, mode, handle);
}

int file_close(FileHandle* handle) {
    return rawf_close(handle);
}

int file_read(FileHandle* handle, void* buffer, std::size_t bytes) {
    std::size_t done = 0;
    if (int code = rawf_read(handle, buffer, bytes, &done); code != errOK) return code;
    return done < bytes ? errEndOfFile : errOK;
}

int file_write(FileHandle* handle, const void* buffer, std::size_t bytes) {
    std::size_t done = 0;
    if (int code = rawf_write(handle, buffer, bytes, &done); code != errOK) return code;
    return done < bytes ? errFileWrite : errOK;
}

int file_seek(FileHandle* handle, std::int64_t offset, int origin) {
    int hostOrigin;
    switch (origin) {
    case seekStart: hostOrigin = SEEK_SET; break;
    case seekCurrent: hostOrigin = SEEK_CUR; break;
    case seekEnd: hostOrigin = SEEK_END; break;
    default: return errInvalidArguments;
    }
    return rawf_seek(handle, offset, hostOrigin, nullptr);
}

int file_tell(FileHandle* handle, std::int64_t* position) {
    return rawf_seek(handle, 0, SEEK_CUR, position);
}

int file_size(FileHandle* handle, std::int64_t* size) {
    std::int64_t here = 0, end = 0;
    if (int code = rawf_seek(handle, 0, SEEK_CUR, &here); code != errOK) return code;
    if (int code = rawf_seek(handle, 0, SEEK_END, &end); code != errOK) return code;
    if (int code = rawf_seek(handle, here, SEEK_SET, nullptr); code != errOK) return code;
    *size = end;
    return errOK;
}

int file_map(FileHandle* handle, std::size_t bytes, const void** view) {
    return rawf_map(handle, bytes, view);
}

void file_release(const void* view, std::size_t bytes) {
    rawf_release(view, bytes);
}

int file_unmap(const void* view, std::size_t bytes) {
    return rawf_unmap(view, bytes);
}

int file_exists(const char* name, int* exists) {
    FileHandle* handle = nullptr;
    if (rawf_open(name, fileRead, &handle) != errOK) {
        *exists = 0;
        return errOK;
    }
    return rawf_close(handle);
}
