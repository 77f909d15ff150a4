// The conversions and the search in 32-byte blocks (AVX2), from the block loops of
// utf8_blocks.h, for the processors that run them; a text's last bytes go through the 16-byte
// blocks, compiled here for AVX2 too, and the mixed-text steps have a 32-byte form here.
#include "base/utf8_kernels.h"

#if defined(__x86_64__)

#include <cpuid.h>
#include <immintrin.h>

// Only the functions of utf8_blocks.h and this file are compiled for AVX2 (with POPCNT). A whole
// file built with -mavx2 would give the inline functions of utf8.h AVX2 copies too, and the linker
// could hand those to callers on a machine without it.
#define BLOCK_TARGET __attribute__((target("avx2,popcnt")))
#define BLOCK_SHUFFLES
#include "base/utf8_blocks.h"

namespace {

BLOCK_TARGET inline __m256i load32(const void* p) {
  return _mm256_loadu_si256(static_cast<const __m256i*>(p));
}
BLOCK_TARGET inline uint32_t mask_of32(__m256i v) {
  return static_cast<uint32_t>(_mm256_movemask_epi8(v));
}

// The vector moved up by one byte or two over its whole 32, zeros coming in: the low lane's
// last bytes enter the high lane.
BLOCK_TARGET inline __m256i up1(__m256i v) {
  return _mm256_alignr_epi8(v, _mm256_permute2x128_si256(v, v, 0x08), 15);
}
BLOCK_TARGET inline __m256i up2(__m256i v) {
  return _mm256_alignr_epi8(v, _mm256_permute2x128_si256(v, v, 0x08), 14);
}

// The mixed steps of utf8_blocks.h over 32 bytes and 16 units. The byte shuffles work within
// each 128-bit lane, so the eight-lane groups of units or four-unit groups of slots come out of
// the lanes as (group 0, 2) and (group 1, 3), and are stored in order one by one.
struct Mixed32 {
  static constexpr int32_t BYTES = 32;
  static constexpr int32_t DECODE_ROOM = 32;
  static constexpr int32_t UNITS = 16;
  static constexpr int32_t ENCODE_ROOM = 52;  // four stores of 16 bytes, each at most 12 on

  // As Mixed16::dense, over twice the bytes and units.
  static constexpr int32_t DENSE = 8;
  BLOCK_TARGET static bool dense(const uint8_t* src) {
    return std::popcount(mask_of32(load32(src))) >= DENSE;
  }
  BLOCK_TARGET static bool dense(const char16_t* src) {
    __m256i lifted = _mm256_adds_epu16(load32(src), _mm256_set1_epi16(0x7F80));
    // The narrowing keeps each unit's bit twice, once in each half of its lane.
    return std::popcount(mask_of32(_mm256_packs_epi16(lifted, lifted))) >= DENSE;
  }

  template <bool Write, bool Line>
  BLOCK_TARGET static int32_t decode(const uint8_t* src, char16_t* dst, int32_t& units) {
    const __m256i v = load32(src);
    const __m256i continuation = _mm256_cmpgt_epi8(_mm256_set1_epi8(-0x40), v);  // 0x80-0xBF
    uint32_t ascii = ~mask_of32(v);
    if (Line) {
      ascii &= ~mask_of32(_mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('\n')),
                                          _mm256_cmpeq_epi8(v, _mm256_set1_epi8('\r'))));
    }
    uint64_t lasts;
    int32_t taken = mixed_taken(
        ascii, mask_of32(continuation),
        mask_of32(_mm256_and_si256(_mm256_cmpgt_epi8(v, _mm256_set1_epi8(-0x3F)),    // 0xC2 up
                                   _mm256_cmpgt_epi8(_mm256_set1_epi8(-0x20), v))),  // to 0xDF
        mask_of32(_mm256_cmpeq_epi8(_mm256_and_si256(v, _mm256_set1_epi8(-0x10)),    // 0xE0 to
                                    _mm256_set1_epi8(-0x20))),                       // 0xEF
        mask_of32(_mm256_cmpgt_epi8(_mm256_set1_epi8(-0x60), v)),                    // 0x80-0x9F
        mask_of32(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(-0x20))),                    // 0xE0
        mask_of32(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(-0x13))), BYTES, lasts);     // 0xED
    units = std::popcount(lasts);
    if (Write) {
      const __m256i payload_bits =
          _mm256_setr_epi8(0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x3F, 0x3F, 0x3F, 0x3F,
                           0x1F, 0x1F, 0x0F, 0x07, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F,
                           0x3F, 0x3F, 0x3F, 0x3F, 0x1F, 0x1F, 0x0F, 0x07);
      __m256i nibble = _mm256_and_si256(_mm256_srli_epi16(v, 4), _mm256_set1_epi8(0x0F));
      __m256i payload = _mm256_and_si256(v, _mm256_shuffle_epi8(payload_bits, nibble));
      __m256i before = _mm256_and_si256(up1(payload), continuation);
      __m256i two_before =
          _mm256_and_si256(up2(payload), _mm256_and_si256(continuation, up1(continuation)));
      const __m256i zero = _mm256_setzero_si256();
      // Bytes 0-7 and 16-23, then 8-15 and 24-31, as units.
      __m256i low = _mm256_or_si256(
          _mm256_unpacklo_epi8(payload, zero),
          _mm256_or_si256(_mm256_slli_epi16(_mm256_unpacklo_epi8(before, zero), 6),
                          _mm256_slli_epi16(_mm256_unpacklo_epi8(two_before, zero), 12)));
      __m256i high = _mm256_or_si256(
          _mm256_unpackhi_epi8(payload, zero),
          _mm256_or_si256(_mm256_slli_epi16(_mm256_unpackhi_epi8(before, zero), 6),
                          _mm256_slli_epi16(_mm256_unpackhi_epi8(two_before, zero), 12)));
      __m128i parts[4] = {_mm256_castsi256_si128(low), _mm256_castsi256_si128(high),
                          _mm256_extracti128_si256(low, 1), _mm256_extracti128_si256(high, 1)};
      for (int32_t g = 0; g < 4; ++g) {
        uint32_t group = lasts >> 8 * g & 0xFF;
        store(dst, _mm_shuffle_epi8(parts[g], load(UTF8_SHUFFLES.keep_units[group])));
        dst += std::popcount(group);
      }
    }
    return taken;
  }

  template <bool Write>
  BLOCK_TARGET static int32_t encode(const char16_t* src, uint8_t* dst, int32_t& bytes) {
    const __m256i u = load32(src);
    __m256i surrogate = _mm256_cmpeq_epi16(_mm256_and_si256(u, _mm256_set1_epi16(-0x800)),
                                           _mm256_set1_epi16(-0x2800));
    __m256i two = _mm256_srai_epi16(_mm256_adds_epu16(u, _mm256_set1_epi16(0x7F80)), 15);
    __m256i three = _mm256_srai_epi16(_mm256_adds_epu16(u, _mm256_set1_epi16(0x7800)), 15);
    // The narrowing works per lane: units 0-7 give bits 0-7, units 8-15 bits 16-23.
    uint32_t s = mask_of32(_mm256_packs_epi16(surrogate, surrogate));
    uint32_t l = mask_of32(_mm256_packs_epi16(two, three));
    uint32_t surrogates = (s & 0xFF) | (s >> 8 & 0xFF00);
    uint32_t twos = (l & 0xFF) | (l >> 8 & 0xFF00);
    uint32_t threes = (l >> 8 & 0xFF) | (l >> 16 & 0xFF00);
    int32_t taken = std::countr_zero(surrogates | 0x10000);
    uint32_t kept = (1u << taken) - 1;
    bytes = taken + std::popcount(twos & kept) + std::popcount(threes & kept);
    if (Write) {
      __m256i last =
          _mm256_or_si256(_mm256_and_si256(u, _mm256_set1_epi16(0x3F)), _mm256_set1_epi16(0x80));
      __m256i high = _mm256_srli_epi16(u, 6);
      __m256i middle =
          _mm256_or_si256(_mm256_and_si256(high, _mm256_set1_epi16(0x3F)), _mm256_set1_epi16(0x80));
      __m256i lead = _mm256_blendv_epi8(
          _mm256_blendv_epi8(u, _mm256_or_si256(high, _mm256_set1_epi16(0xC0)), two),
          _mm256_or_si256(_mm256_srli_epi16(u, 12), _mm256_set1_epi16(0xE0)), three);
      __m256i next = _mm256_blendv_epi8(last, middle, three);
      __m256i firsts = _mm256_or_si256(lead, _mm256_slli_epi16(next, 8));
      __m256i slots_low = _mm256_unpacklo_epi16(firsts, last);   // units 0-3 and 8-11
      __m256i slots_high = _mm256_unpackhi_epi16(firsts, last);  // units 4-7 and 12-15
      __m128i parts[4] = {_mm256_castsi256_si128(slots_low), _mm256_castsi256_si128(slots_high),
                          _mm256_extracti128_si256(slots_low, 1),
                          _mm256_extracti128_si256(slots_high, 1)};
      for (int32_t g = 0; g < 4; ++g) {
        uint32_t index = (twos >> 4 * g & 0x0F) | (threes >> 4 * g & 0x0F) << 4;
        store(dst, _mm_shuffle_epi8(parts[g], load(UTF8_SHUFFLES.keep_sequences[index])));
        dst += 4 + std::popcount(index);
      }
    }
    return taken;
  }
};

// The 32-byte vector of AVX2. Its narrowing and widening work in each 128-bit lane on their own,
// so the quarters of a narrowed pair come out as (low 0, high 0, low 1, high 1) and are put back
// in order by a permutation; a widening takes each half of the bytes from memory.
struct Vec32 {
  static constexpr int32_t BLOCK = 32;
  using Narrower = Vec16;
  using Tail = Vec16;
  using Mixed = Mixed32;

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

// Whether this processor has AVX2 (and POPCNT, which every AVX2 processor has, for the mixed
// steps' counts) and the system saves the 256-bit registers across a switch: cpuid leaf 1 for
// AVX, POPCNT and XGETBV (OSXSAVE), XCR0 for the SSE and AVX register state (bits 1 and 2),
// cpuid leaf 7 for AVX2. Asked with the instructions themselves: the compiler's cpu model needs
// a constructor to fill it, and the Windows program runs none.
bool avx2_runs() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_OSXSAVE) || !(c & bit_AVX) ||
      !(c & bit_POPCNT)) {
    return false;
  }
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
