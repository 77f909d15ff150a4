// POSIX side: the runtime heap and the string heap are both the C library's heap.
#include <malloc.h>
#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

#include "platform/sys.h"

namespace {

// A string block of many megabytes (the stack holding a long line) is offered the kernel's
// huge pages, so that filling it costs a page fault per 2 MiB instead of one per 4 KiB. The
// advice covers the block's whole mapping, pages ahead of the block and after it included:
// advice on a part would split the mapping, and the C library could then no longer grow the
// block where it lies but would copy it. A system without huge pages refuses the advice, and
// nothing changes.
constexpr uintptr_t kPage = 4096;
constexpr size_t kAdvisedFrom = size_t{8} << 20;

void* advise_huge_pages(void* block, size_t bytes) {
#ifdef MADV_HUGEPAGE
  if (block && bytes >= kAdvisedFrom) {
    auto at = reinterpret_cast<uintptr_t>(block);
    uintptr_t start = at & ~(kPage - 1);
    uintptr_t end = (at + malloc_usable_size(block) + kPage - 1) & ~(kPage - 1);
    madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
  }
#endif
  return block;
}

}  // namespace

void sys_heap_start() {}
void sys_heap_stop() {}
void* sys_heap_alloc(size_t bytes) { return calloc(1, bytes); }
void* sys_heap_realloc(void* block, size_t bytes) { return realloc(block, bytes); }
void sys_heap_free(void* block) { free(block); }

void sys_string_heap_start() {}
void sys_string_heap_stop() {}
void* sys_string_alloc(size_t bytes) { return advise_huge_pages(malloc(bytes), bytes); }
void* sys_string_realloc(void* block, size_t bytes) {
  return advise_huge_pages(realloc(block, bytes), bytes);
}
void sys_string_free(void* block) { free(block); }

void* sys_malloc(size_t bytes) { return malloc(bytes); }
void sys_free(void* block) { free(block); }
