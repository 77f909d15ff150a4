// The memory layer over the runtime heap of the platform.
#include "runtime/memory/memory.h"

#include <cstdint>
#include <cstring>

#include "platform/sys.h"

namespace {

constexpr size_t kHeader = 8;  // holds the block's requested size, as a uint64_t

inline uint64_t* header_of(void* block) {
  return reinterpret_cast<uint64_t*>(static_cast<char*>(block) - kHeader);
}

}  // namespace

void* mem_alloc(size_t size) {
  if (size > SIZE_MAX - kHeader) return nullptr;
  auto* raw = static_cast<uint64_t*>(sys_heap_alloc(size + kHeader));
  if (!raw) return nullptr;
  raw[0] = size;
  return raw + 1;
}

void* mem_grow(void* block, size_t size) {
  if (!block || size > SIZE_MAX - kHeader) return nullptr;
  size_t old = static_cast<size_t>(*header_of(block));
  auto* raw = static_cast<uint64_t*>(sys_heap_realloc(header_of(block), size + kHeader));
  if (!raw) return nullptr;
  raw[0] = size;
  char* data = reinterpret_cast<char*>(raw + 1);
  if (size > old) memset(data + old, 0, size - old);
  return data;
}

void mem_free(void* block) {
  if (block) sys_heap_free(header_of(block));
}
