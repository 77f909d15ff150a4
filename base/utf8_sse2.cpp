// The conversions and the search in 16-byte blocks (SSE2, which every x86-64 machine has), from
// the block loops of utf8_blocks.h.
#include "base/utf8_kernels.h"

#if defined(__SSE2__)

#define BLOCK_TARGET  // SSE2 is the build's own instruction set
#include "base/utf8_blocks.h"

const Utf8Kernels* utf8_sse2_kernels() { return &BLOCK_KERNELS<Vec16>; }

#else

const Utf8Kernels* utf8_sse2_kernels() { return nullptr; }

#endif
