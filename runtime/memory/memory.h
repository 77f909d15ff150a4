// The runtime's memory layer: zero-filled blocks for the libraries' records and buffers.
#pragma once

#include <cstddef>

// A zero-filled block of `size` bytes, or null when the system refuses the memory. Each block
// carries a hidden 8-byte header with its size, so mem_grow knows which bytes it adds.
void* mem_alloc(size_t size);

// Resizes a block from mem_alloc; the bytes beyond the old size are zero. Null for a null block
// or a refusal (the old block then stays valid). The block may move.
void* mem_grow(void* block, size_t size);

// Releases a block from mem_alloc or mem_grow; null is ignored.
void mem_free(void* block);
