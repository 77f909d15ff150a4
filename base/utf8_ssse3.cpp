// The conversions and the search in 16-byte blocks with the mixed-text steps, whose byte shuffle
// is SSSE3's, for the processors that run it but not AVX2.
#include "base/utf8_kernels.h"

#if defined(__x86_64__)

#include <cpuid.h>

// As in utf8_avx2.cpp, only the functions of utf8_blocks.h are compiled for SSSE3.
#define BLOCK_TARGET __attribute__((target("ssse3")))
#define BLOCK_SHUFFLES
#include "base/utf8_blocks.h"

const Utf8Kernels* utf8_ssse3_kernels() {
  unsigned a, b, c, d;
  bool runs = __get_cpuid(1, &a, &b, &c, &d) && (c & bit_SSSE3);
  return runs ? &BLOCK_KERNELS<Vec16> : nullptr;
}

#else

const Utf8Kernels* utf8_ssse3_kernels() { return nullptr; }

#endif
