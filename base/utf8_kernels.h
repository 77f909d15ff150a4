// The kernel sets behind the conversions and the search of utf8.h, one for each instruction set,
// all giving what the scalar references give. utf8.h's forms call the fastest set that this
// processor runs; the tests and fuzz targets call each set on its own.
#pragma once

#include "base/utf8.h"

// One instruction set's forms of utf8_decode, utf8_decode_line, utf8_encode, utf16_search and
// utf16_find_last.
struct Utf8Kernels {
  Utf8Progress (*decode)(const uint8_t* src, int32_t count, char16_t* dst, int32_t room);
  Utf8Progress (*decode_line)(const uint8_t* src, int32_t count, char16_t* dst, bool more);
  Utf8Progress (*encode)(const char16_t* src, int32_t count, uint8_t* dst, int32_t room);
  int32_t (*search)(const char16_t* text, int32_t n, const char16_t* pattern, int32_t m);
  int32_t (*find_last)(const char16_t* text, int32_t n, char16_t unit);
};

// The scalar references, which every machine runs.
const Utf8Kernels* utf8_scalar_kernels();
// The 16-byte kernels (SSE2), or null when the build's target machine has no SSE2.
const Utf8Kernels* utf8_sse2_kernels();
// The 16-byte kernels with the mixed-text steps (SSSE3), or null when this processor does not
// run SSSE3. Asks the processor on each call.
const Utf8Kernels* utf8_ssse3_kernels();
// The 32-byte kernels (AVX2), or null when this processor, or the system that runs it, does not
// run AVX2. Asks the processor on each call.
const Utf8Kernels* utf8_avx2_kernels();
