// An input held in an anonymous in-memory file, for readers that take a file
// name: the name is /proc/self/fd/N, so nothing touches the disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <sys/mman.h>
#include <unistd.h>

struct MemoryFile {
    int descriptor = -1;
    std::string name;

    MemoryFile(const std::uint8_t* data, std::size_t size) {
        descriptor = memfd_create("fuzz-input", 0);
        if (descriptor < 0) return;
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = write(descriptor, data + done, size - done);
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        name = "/proc/self/fd/" + std::to_string(descriptor);
    }
    ~MemoryFile() {
        if (descriptor >= 0) close(descriptor);
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    bool ok() const { return descriptor >= 0; }
};
