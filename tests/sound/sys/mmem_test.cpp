#include "sound/api/errors.h"
#include "sound/sys/mmem.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

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
