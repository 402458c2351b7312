// sys/: the library's memory layer (mmem) and file layer (file over the
// host's calls in rawf_nt): every failure comes back as an error code.
//
// The sound library's memory layer: every table, buffer and record of the
// library comes from here, so that failures come back as error codes and
// the blocks in use can be counted.
#pragma once

#include <cstddef>

// Allocates size bytes (16-byte aligned, contents undefined). Size 0 is
// errInvalidBlock; failure is errOutOfMemory.
int mem_alloc(std::size_t size, void** out);

// As mem_alloc, with the block cleared to zero.
int mem_alloc_zeroed(std::size_t size, void** out);

// As mem_alloc, for a block the caller is about to write whole (sample data
// being decoded): its pages are made present in one call rather than at a
// fault each, where the host allows.
int mem_alloc_to_fill(std::size_t size, void** out);

// As mem_alloc, with the block's start on a multiple of alignment (a power
// of two up to 65536; anything else is errInvalidArguments). Freed with mem_free.
int mem_alloc_aligned(std::size_t size, std::size_t alignment, void** out);

// Frees a block from this layer. Null is errInvalidBlock, and so is a pointer
// whose block header does not check out (a pointer into one of this layer's
// blocks, or a block already freed while its memory is still mapped). A block
// whose guard bytes were overwritten is still freed but reported as errHeapCorrupted.
int mem_free(void* block);

// Number of blocks currently allocated through this layer.
long mem_blocks_in_use();

// Total bytes (as requested by the callers) currently allocated through this layer.
long long mem_bytes_in_use();
