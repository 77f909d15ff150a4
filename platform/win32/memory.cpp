// Windows side: the main heap for the runtime's records and buffers, the string heap for
// texts, and msvcrt's malloc for byte strings.
#include <cstdlib>

#include "platform/sys.h"
#include "platform/win32/win32.h"

namespace {
constinit HANDLE main_heap = nullptr;
constinit HANDLE string_heap = nullptr;
}  // namespace

void sys_heap_start() { main_heap = HeapCreate(0, 4096, 0); }

void sys_heap_stop() {
  if (main_heap) HeapDestroy(main_heap);
  main_heap = nullptr;
}

void* sys_heap_alloc(size_t bytes) { return HeapAlloc(main_heap, HEAP_ZERO_MEMORY, bytes); }

void* sys_heap_realloc(void* block, size_t bytes) {
  return block ? HeapReAlloc(main_heap, 0, block, bytes) : HeapAlloc(main_heap, 0, bytes);
}

void sys_heap_free(void* block) {
  if (block) HeapFree(main_heap, 0, block);
}

void sys_string_heap_start() { string_heap = HeapCreate(0, 4096, 0); }

void sys_string_heap_stop() {
  if (string_heap) HeapDestroy(string_heap);
  string_heap = nullptr;
}

void* sys_string_alloc(size_t bytes) { return HeapAlloc(string_heap, 0, bytes); }

void* sys_string_realloc(void* block, size_t bytes) {
  return block ? HeapReAlloc(string_heap, 0, block, bytes) : HeapAlloc(string_heap, 0, bytes);
}

void sys_string_free(void* block) {
  if (block) HeapFree(string_heap, 0, block);
}

void* sys_malloc(size_t bytes) { return malloc(bytes); }
void sys_free(void* block) { free(block); }
