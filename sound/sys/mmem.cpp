#include "sound/sys/mmem.h"

#include "sound/api/errors.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// Each block carries a header just before the caller's pointer and a guard
// word just after the caller's bytes: the header lets mem_free refuse
// pointers it never handed out, the guard catches writes past the end.
constexpr std::uint64_t headerMagic = 0x4d4d454d424c4f4bull; // "MMEMBLOK"
constexpr std::uint64_t freedMagic = 0x4d4d454d46524545ull;  // "MMEMFREE"
constexpr std::uint32_t guardWord = 0xfdfdfdfdu;

// 32 bytes on 32-bit targets too (a web page's), so the caller's pointer keeps its alignment.
struct alignas(16) BlockHeader {
    void* base;       // what malloc returned
    std::size_t size; // bytes the caller asked for
    std::uint64_t spare;
    std::uint64_t magic;
};
static_assert(sizeof(BlockHeader) == 32);

std::atomic<long> blocksInUse{0};
std::atomic<long long> bytesInUse{0};

int allocate(std::size_t size, std::size_t alignment, bool zeroed, void** out) {
    if (out == nullptr) return errInvalidArguments;
    if (size == 0) return errInvalidBlock;
    if (alignment < 16 || alignment > 65536 || (alignment & (alignment - 1)) != 0) return errInvalidArguments;
    const std::size_t overhead = sizeof(BlockHeader) + alignment + sizeof(guardWord);
    if (size > SIZE_MAX - overhead) return errOutOfMemory;
    void* base = zeroed ? std::calloc(1, size + overhead) : std::malloc(size + overhead);
    if (base == nullptr) return errOutOfMemory;
    std::uintptr_t user = reinterpret_cast<std::uintptr_t>(base) + sizeof(BlockHeader);
    user = (user + alignment - 1) & ~static_cast<std::uintptr_t>(alignment - 1);
    auto* header = reinterpret_cast<BlockHeader*>(user - sizeof(BlockHeader));
    header->base = base;
    header->size = size;
    header->spare = 0;
    header->magic = headerMagic;
    std::memcpy(reinterpret_cast<unsigned char*>(user) + size, &guardWord, sizeof(guardWord));
    blocksInUse.fetch_add(1, std::memory_order_relaxed);
    bytesInUse.fetch_add(static_cast<long long>(size), std::memory_order_relaxed);
    *out = reinterpret_cast<void*>(user);
    return errOK;
}

} // namespace

int mem_alloc(std::size_t size, void** out) {
    return allocate(size, 16, false, out);
}

int mem_alloc_zeroed(std::size_t size, void** out) {
    return allocate(size, 16, true, out);
}

int mem_alloc_aligned(std::size_t size, std::size_t alignment, void** out) {
    // Every block starts on 16 bytes, which meets any smaller power of two.
    if (alignment != 0 && alignment < 16 && (alignment & (alignment - 1)) == 0) alignment = 16;
    return allocate(size, alignment, false, out);
}

int mem_free(void* block) {
    if (block == nullptr) return errInvalidBlock;
    if ((reinterpret_cast<std::uintptr_t>(block) & 15) != 0) return errInvalidBlock;
    auto* header = reinterpret_cast<BlockHeader*>(static_cast<unsigned char*>(block) - sizeof(BlockHeader));
    if (header->magic != headerMagic) return errInvalidBlock;
    std::uint32_t guard;
    std::memcpy(&guard, static_cast<unsigned char*>(block) + header->size, sizeof(guard));
    header->magic = freedMagic;
    blocksInUse.fetch_sub(1, std::memory_order_relaxed);
    bytesInUse.fetch_sub(static_cast<long long>(header->size), std::memory_order_relaxed);
    std::free(header->base);
    return guard == guardWord ? errOK : errHeapCorrupted;
}

long mem_blocks_in_use() {
    return blocksInUse.load(std::memory_order_relaxed);
}

long long mem_bytes_in_use() {
    return bytesInUse.load(std::memory_order_relaxed);
}
