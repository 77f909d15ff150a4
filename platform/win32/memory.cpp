// Windows side: the main heap for the runtime's records and buffers, the string heap for
// texts, and msvcrt's malloc for byte strings.
#include <cstdlib>

#include "platform/sys.h"
#include "platform/win32/win32.h"

namespace {
constinit HANDLE main_heap = nullptr;
constinit HANDLE string_heap = nullptr;

// A heap of our own, or the process heap when the system cannot make one, so that no
// allocation ever goes to a null heap.
HANDLE new_heap() {
  HANDLE heap = HeapCreate(0, 4096, 0);
  return heap ? heap : GetProcessHeap();
}

// Destroys a heap from new_heap; the process heap stays.
void drop_heap(HANDLE& heap) {
  if (heap && heap != GetProcessHeap()) HeapDestroy(heap);
  heap = nullptr;
}

}  // namespace

void sys_heap_start() { main_heap = new_heap(); }
void sys_heap_stop() { drop_heap(main_heap); }

void* sys_heap_alloc(size_t bytes) { return HeapAlloc(main_heap, HEAP_ZERO_MEMORY, bytes); }

void* sys_heap_realloc(void* block, size_t bytes) {
  return block ? HeapReAlloc(main_heap, 0, block, bytes) : HeapAlloc(main_heap, 0, bytes);
}

void sys_heap_free(void* block) {
  if (block) HeapFree(main_heap, 0, block);
}

void sys_string_heap_start() { string_heap = new_heap(); }
void sys_string_heap_stop() { drop_heap(string_heap); }

void* sys_string_alloc(size_t bytes) { return HeapAlloc(string_heap, 0, bytes); }

void* sys_string_realloc(void* block, size_t bytes) {
  return block ? HeapReAlloc(string_heap, 0, block, bytes) : HeapAlloc(string_heap, 0, bytes);
}

void sys_string_free(void* block) {
  if (block) HeapFree(string_heap, 0, block);
}

void* sys_malloc(size_t bytes) { return malloc(bytes); }
void sys_free(void* block) { free(block); }
