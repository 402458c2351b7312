#include "sound/api/errors.h"
#include "sound/sys/mmem.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

TEST(MemoryLayer, ZeroSizeAndNullAreInvalidBlocks) {
    void* block = nullptr;
    EXPECT_EQ(mem_alloc(0, &block), errInvalidBlock);
    EXPECT_EQ(mem_alloc_zeroed(0, &block), errInvalidBlock);
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(mem_free(nullptr), errInvalidBlock);
}

TEST(MemoryLayer, CountsBlocksAndBytesInUse) {
    long blocks = mem_blocks_in_use();
    long long bytes = mem_bytes_in_use();
    void* a = nullptr;
    void* b = nullptr;
    ASSERT_EQ(mem_alloc(100, &a), errOK);
    ASSERT_EQ(mem_alloc_aligned(3000, 1024, &b), errOK);
    EXPECT_EQ(mem_blocks_in_use(), blocks + 2);
    EXPECT_EQ(mem_bytes_in_use(), bytes + 3100);
    EXPECT_EQ(mem_free(a), errOK);
    EXPECT_EQ(mem_free(b), errOK);
    EXPECT_EQ(mem_blocks_in_use(), blocks);
    EXPECT_EQ(mem_bytes_in_use(), bytes);
}

TEST(MemoryLayer, BlocksAreAlignedAsAsked) {
    void* plain = nullptr;
    ASSERT_EQ(mem_alloc(3, &plain), errOK);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(plain) % 16, 0u);
    for (std::size_t alignment : {16u, 64u, 1024u, 4096u}) {
        void* block = nullptr;
        ASSERT_EQ(mem_alloc_aligned(33 * 256 * 4, alignment, &block), errOK);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % alignment, 0u) << alignment;
        std::memset(block, 0xab, 33 * 256 * 4); // the whole block is usable
        EXPECT_EQ(mem_free(block), errOK);
    }
    EXPECT_EQ(mem_free(plain), errOK);
    void* block = nullptr;
    EXPECT_EQ(mem_alloc_aligned(10, 1000, &block), errInvalidArguments);
    EXPECT_EQ(mem_alloc_aligned(10, 0, &block), errInvalidArguments);
}

// A block to be written whole comes with its pages present: the writes that fill it take no faults.
TEST(MemoryLayer, BlocksToFillArePresentAtOnce) {
    const long blocks = mem_blocks_in_use();
    void* small = nullptr;
    ASSERT_EQ(mem_alloc_to_fill(5, &small), errOK);
    std::memset(small, 1, 5);
    EXPECT_EQ(mem_alloc_to_fill(0, &small), errInvalidBlock);
    constexpr std::size_t size = 1 << 20;
    void* block = nullptr;
    ASSERT_EQ(mem_alloc_to_fill(size, &block), errOK);
    EXPECT_EQ(mem_blocks_in_use(), blocks + 2);
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const std::uintptr_t start = (reinterpret_cast<std::uintptr_t>(block) + page - 1) & ~(page - 1);
    const std::size_t pages = (size - page) / page;
    std::vector<unsigned char> present(pages);
    ASSERT_EQ(mincore(reinterpret_cast<void*>(start), pages * page, present.data()), 0);
    void* probe = mmap(nullptr, page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    const bool hostPopulates = probe != MAP_FAILED && madvise(probe, page, MADV_POPULATE_WRITE) == 0;
    if (probe != MAP_FAILED) munmap(probe, page);
    if (hostPopulates) {
        for (std::size_t k = 0; k < pages; ++k)
            ASSERT_TRUE(present[k] & 1) << "page " << k << " of " << pages;
    }
    std::memset(block, 0x5a, size); // the whole block is usable
    EXPECT_EQ(mem_free(block), errOK);
    EXPECT_EQ(mem_free(small), errOK);
    EXPECT_EQ(mem_blocks_in_use(), blocks);
}

TEST(MemoryLayer, ZeroedBlocksAreZero) {
    void* block = nullptr;
    ASSERT_EQ(mem_alloc_zeroed(4096, &block), errOK);
    auto* bytes = static_cast<unsigned char*>(block);
    for (int k = 0; k < 4096; k++)
        ASSERT_EQ(bytes[k], 0) << k;
    EXPECT_EQ(mem_free(block), errOK);
}

TEST(MemoryLayer, WritingPastTheEndIsReportedAsHeapCorruption) {
    void* block = nullptr;
    ASSERT_EQ(mem_alloc(10, &block), errOK);
    static_cast<unsigned char*>(block)[10] = 0; // one byte too far
    long blocks = mem_blocks_in_use();
    EXPECT_EQ(mem_free(block), errHeapCorrupted);
    EXPECT_EQ(mem_blocks_in_use(), blocks - 1) << "the block is freed all the same";
}

TEST(MemoryLayer, SizeThatCannotBeRepresentedIsOutOfMemory) {
    void* block = nullptr;
    EXPECT_EQ(mem_alloc(SIZE_MAX - 8, &block), errOutOfMemory);
    EXPECT_EQ(block, nullptr);
}

TEST(MemoryLayer, ForeignPointerIsInvalidBlock) {
    // A pointer inside one of the layer's own blocks, not at its start.
    void* block = nullptr;
    ASSERT_EQ(mem_alloc_zeroed(256, &block), errOK);
    EXPECT_EQ(mem_free(static_cast<unsigned char*>(block) + 64), errInvalidBlock);
    EXPECT_EQ(mem_free(static_cast<unsigned char*>(block) + 3), errInvalidBlock);
    EXPECT_EQ(mem_free(block), errOK);
}

TEST(MemoryLayer, SmallPowerOfTwoAlignmentsAreMetByTheUsual16) {
    // 1, 2, 4 and 8 are powers of two like any other: every block already
    // starts on 16 bytes, so they are met, not refused.
    for (std::size_t alignment : {1u, 2u, 4u, 8u}) {
        void* block = nullptr;
        ASSERT_EQ(mem_alloc_aligned(10, alignment, &block), errOK) << alignment;
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 16, 0u) << alignment;
        EXPECT_EQ(mem_free(block), errOK);
    }
    void* block = nullptr;
    EXPECT_EQ(mem_alloc_aligned(10, 12, &block), errInvalidArguments);
    EXPECT_EQ(mem_alloc_aligned(10, 131072, &block), errInvalidArguments);
}
