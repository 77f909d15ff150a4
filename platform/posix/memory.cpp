// POSIX side: the runtime heap and the string heap are both the C library's heap.
#include <cstdlib>

#include "platform/sys.h"

void sys_heap_start() {}
void sys_heap_stop() {}
void* sys_heap_alloc(size_t bytes) { return calloc(1, bytes); }
void* sys_heap_realloc(void* block, size_t bytes) { return realloc(block, bytes); }
void sys_heap_free(void* block) { free(block); }

void sys_string_heap_start() {}
void sys_string_heap_stop() {}
void* sys_string_alloc(size_t bytes) { return malloc(bytes); }
void* sys_string_realloc(void* block, size_t bytes) { return realloc(block, bytes); }
void sys_string_free(void* block) { free(block); }

void* sys_malloc(size_t bytes) { return malloc(bytes); }
void sys_free(void* block) { free(block); }
