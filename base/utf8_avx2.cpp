// The conversions and the search in 32-byte blocks (AVX2), from the block loops of
// utf8_blocks.h, for the processors that run them; a text's last bytes go through the 16-byte
// blocks, compiled here for AVX2 too.
#include "base/utf8_kernels.h"

#if defined(__x86_64__)

#include <cpuid.h>
#include <immintrin.h>

// Only the functions of utf8_blocks.h and this file are compiled for AVX2. A whole file built
// with -mavx2 would give the inline functions of utf8.h AVX2 copies too, and the linker could
// hand those to callers on a machine without it.
#define BLOCK_TARGET __attribute__((target("avx2")))
#include "base/utf8_blocks.h"

namespace {

BLOCK_TARGET inline __m256i load32(const void* p) {
  return _mm256_loadu_si256(static_cast<const __m256i*>(p));
}
BLOCK_TARGET inline uint32_t mask_of32(__m256i v) {
  return static_cast<uint32_t>(_mm256_movemask_epi8(v));
}

// The 32-byte vector of AVX2. Its narrowing and widening work in each 128-bit lane on their own,
// so the quarters of a narrowed pair come out as (low 0, high 0, low 1, high 1) and are put back
// in order by a permutation; a widening takes each half of the bytes from memory.
struct Vec32 {
  static constexpr int32_t BLOCK = 32;
  using Narrower = Vec16;
  using Tail = Vec16;

  template <bool Write, bool Line>
  BLOCK_TARGET static uint32_t decode(const uint8_t* src, char16_t* dst) {
    if (Write) {
      auto* units = static_cast<__m256i*>(static_cast<void*>(dst));
      _mm256_storeu_si256(units, _mm256_cvtepu8_epi16(load(src)));
      _mm256_storeu_si256(units + 1, _mm256_cvtepu8_epi16(load(src + 16)));
    }
    __m256i v = load32(src);
    uint32_t ends = mask_of32(v);
    if (Line) {
      ends |= mask_of32(_mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('\n')),
                                        _mm256_cmpeq_epi8(v, _mm256_set1_epi8('\r'))));
    }
    return ends;
  }

  // The units from 0x80 up as in encode_ends.
  template <bool Write>
  BLOCK_TARGET static uint32_t encode(const char16_t* src, uint8_t* dst) {
    constexpr int IN_ORDER = 0xD8;  // quarters 0, 2, 1, 3
    __m256i low = load32(src);
    __m256i high = load32(src + 16);
    if (Write) {
      __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(low, high), IN_ORDER);
      _mm256_storeu_si256(static_cast<__m256i*>(static_cast<void*>(dst)), bytes);
    }
    const __m256i lift = _mm256_set1_epi16(0x7F80);
    __m256i ends = _mm256_packs_epi16(_mm256_adds_epu16(low, lift), _mm256_adds_epu16(high, lift));
    return mask_of32(_mm256_permute4x64_epi64(ends, IN_ORDER));
  }

  BLOCK_TARGET static uint32_t equal(const char16_t* text, char16_t u) {
    return mask_of32(_mm256_cmpeq_epi16(load32(text), _mm256_set1_epi16(static_cast<int16_t>(u))));
  }

  // Reads one unit past the round.
  BLOCK_TARGET static uint32_t equal_pair(const char16_t* text, char16_t a, char16_t b) {
    return mask_of32(_mm256_and_si256(
        _mm256_cmpeq_epi16(load32(text), _mm256_set1_epi16(static_cast<int16_t>(a))),
        _mm256_cmpeq_epi16(load32(text + 1), _mm256_set1_epi16(static_cast<int16_t>(b)))));
  }
};

// Whether this processor has AVX2 and the system saves the 256-bit registers across a switch:
// cpuid leaf 1 for AVX and for XGETBV (OSXSAVE), XCR0 for the SSE and AVX register state (bits 1
// and 2), cpuid leaf 7 for AVX2. Asked with the instructions themselves: the compiler's cpu
// model needs a constructor to fill it, and the Windows program runs none.
bool avx2_runs() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_OSXSAVE) || !(c & bit_AVX)) return false;
  uint32_t xcr0, xcr0_high;
  __asm__("xgetbv" : "=a"(xcr0), "=d"(xcr0_high) : "c"(0));
  constexpr uint32_t SSE_AND_AVX_STATE = 1u << 1 | 1u << 2;
  if ((xcr0 & SSE_AND_AVX_STATE) != SSE_AND_AVX_STATE) return false;
  return __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_AVX2);
}

}  // namespace

const Utf8Kernels* utf8_avx2_kernels() { return avx2_runs() ? &BLOCK_KERNELS<Vec32> : nullptr; }

#else

const Utf8Kernels* utf8_avx2_kernels() { return nullptr; }

#endif
