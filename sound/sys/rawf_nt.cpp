#include "sound/sys/rawf_nt.h"

#include "sound/api/errors.h"
#include "sound/sys/mmem.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

int rawf_map_host_error(int hostError) {
    switch (hostError) {
    case 0: return errOK;
    case ENOENT: return errFileNotFound;
    case EMFILE:
    case ENFILE: return errTooManyFiles;
    case EACCES:
    case EPERM:
    case EROFS: return errAccessDenied;
    case EBADF: return errInvalidFileHandle;
    case ENOMEM: return errOutOfMemory;
    case ENOTDIR:
    case EISDIR:
    case ENAMETOOLONG:
    case ELOOP:
    case ENODEV:
    case ENXIO: return errInvalidPath;
    case EIO:
    case ESPIPE: return errFileRead;
    case EFBIG: return errFileWrite;
    case ENOSPC:
    case EDQUOT: return errDiskFull;
    case EEXIST: return errFileExists;
    case EBUSY:
    case ETXTBSY: return errFileOpen;
    default: return errUndefined;
    }
}

namespace {

// A read on a write-only file (or the reverse) fails with EBADF on POSIX;
// the handle itself is fine, so it is a matter of access rights.
int mapTransferError(int descriptor, int hostError) {
    if (hostError == EBADF && ::fcntl(descriptor, F_GETFL) != -1) return errAccessDenied;
    return rawf_map_host_error(hostError);
}

} // namespace

int rawf_open(const char* name, int mode, FileHandle** out) {
    if (name == nullptr || out == nullptr) return errInvalidArguments;
    int flags;
    switch (mode) {
    case 1: flags = O_RDONLY; break;
    case 2: flags = O_WRONLY | O_CREAT; break;
    case 3: flags = O_RDWR | O_CREAT; break;
    default: return errInvalidArguments;
    }
    int fd;
    do {
        fd = ::open(name, flags | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        int code = rawf_map_host_error(errno);
        return code == errOK ? errFileNotFound : code;
    }
    // A directory opens for reading on POSIX but is no file to read.
    struct stat info;
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        ::close(fd);
        return errInvalidPath;
    }
    void* record;
    if (int code = mem_alloc(sizeof(FileHandle), &record); code != errOK) {
        ::close(fd);
        return code;
    }
    auto* file = static_cast<FileHandle*>(record);
    file->descriptor = fd;
    *out = file;
    return errOK;
}

int rawf_close(FileHandle* file) {
    if (file == nullptr) return errInvalidFileHandle;
    int code = ::close(file->descriptor) == 0 ? errOK : rawf_map_host_error(errno);
    int freed = mem_free(file);
    return code != errOK ? code : freed;
}

int rawf_read(FileHandle* file, void* buffer, std::size_t bytes, std::size_t* done) {
    if (file == nullptr) return errInvalidFileHandle;
    auto* at = static_cast<unsigned char*>(buffer);
    std::size_t total = 0;
    while (total < bytes) {
        ssize_t n = ::read(file->descriptor, at + total, bytes - total);
        if (n < 0) {
            if (errno == EINTR) continue;
            *done = total;
            return mapTransferError(file->descriptor, errno);
        }
        if (n == 0) break;
        total += static_cast<std::size_t>(n);
    }
    *done = total;
    return errOK;
}

int rawf_write(FileHandle* file, const void* buffer, std::size_t bytes, std::size_t* done) {
    if (file == nullptr) return errInvalidFileHandle;
    auto* at = static_cast<const unsigned char*>(buffer);
    std::size_t total = 0;
    while (total < bytes) {
        ssize_t n = ::write(file->descriptor, at + total, bytes - total);
        if (n < 0) {
            if (errno == EINTR) continue;
            *done = total;
            // A host I/O fault while writing is a write fault, not a read one.
            return errno == EIO ? errFileWrite : mapTransferError(file->descriptor, errno);
        }
        if (n == 0) break;
        total += static_cast<std::size_t>(n);
    }
    *done = total;
    return errOK;
}

int rawf_map(FileHandle* file, std::size_t bytes, const void** view) {
    if (file == nullptr) return errInvalidFileHandle;
    if (view == nullptr || bytes == 0) return errInvalidArguments;
    struct stat info;
    if (::fstat(file->descriptor, &info) != 0) return rawf_map_host_error(errno);
    if (!S_ISREG(info.st_mode) || static_cast<std::uint64_t>(info.st_size) < bytes) return errFileRead;
    void* at = ::mmap(nullptr, bytes, PROT_READ, MAP_PRIVATE, file->descriptor, 0);
    if (at == MAP_FAILED) return errFileRead;
    *view = at;
    return errOK;
}

void rawf_release(const void* view, std::size_t bytes) {
    ::madvise(const_cast<void*>(view), bytes, MADV_DONTNEED);
}

int rawf_unmap(const void* view, std::size_t bytes) {
    if (view == nullptr) return errInvalidArguments;
    return ::munmap(const_cast<void*>(view), bytes) == 0 ? errOK : rawf_map_host_error(errno);
}

int rawf_seek(FileHandle* file, std::int64_t offset, int hostOrigin, std::int64_t* position) {
    if (file == nullptr) return errInvalidFileHandle;
    off_t result = ::lseek(file->descriptor, static_cast<off_t>(offset), hostOrigin);
    if (result < 0) return rawf_map_host_error(errno);
    if (position != nullptr) *position = static_cast<std::int64_t>(result);
    return errOK;
}
