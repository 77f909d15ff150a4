// The conversions and the search in 16-byte blocks (SSE2, which every x86-64 machine has):
// ASCII runs, line ends and candidate matches are found a block at a time, and every other
// character takes a one-character step under the same rules as the scalar reference. On other
// machines the fast forms are the scalar ones.
#include "runtime/base/utf8.h"

#if defined(__SSE2__)

#include <emmintrin.h>

#include <bit>
#include <cstring>

namespace {

constexpr int32_t UNLIMITED = 0x7FFFFFFF;
constexpr int32_t BLOCK = 16;  // bytes in a vector; 8 units

inline __m128i load(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
inline void store(void* p, __m128i v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }
inline uint32_t mask_of(__m128i v) { return static_cast<uint32_t>(_mm_movemask_epi8(v)); }

// Whether a byte (below 0x80) ends a line's text.
inline bool line_stop(uint8_t byte) { return byte == 0 || byte == '\n' || byte == '\r'; }

// The bytes of a vector that end a run of plain ASCII: those from 0x80 up and, for a line, the
// zero and both line ends; one bit each.
template <bool Line>
inline uint32_t decode_ends(__m128i v) {
  uint32_t ends = mask_of(v);
  if (Line) {
    __m128i stop = _mm_or_si128(_mm_cmpeq_epi8(v, _mm_setzero_si128()),
                                _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n')),
                                             _mm_cmpeq_epi8(v, _mm_set1_epi8('\r'))));
    ends |= mask_of(stop);
  }
  return ends;
}

// Decoding, shared by the whole-text and the line forms. Plain ASCII goes a block at a time:
// a block is widened and stored whole, though only its bytes before the first one that ends
// the run count and what follows them is stored over; so a block needs as many units of room
// as it has bytes. The loop over blocks advances by the full block before it knows whether the
// block was plain, so blocks follow each other without waiting. Every other character is
// decoded on its own, as the scalar reference does.
template <bool Write, bool Line>
Utf8Progress decode_blocks(const uint8_t* src, int32_t count, char16_t* dst, int32_t room,
                           bool more) {
  const __m128i zero = _mm_setzero_si128();
  int32_t i = 0, out = 0;
  for (;;) {
    while (count - i >= BLOCK && room - out >= BLOCK) {
      __m128i v = load(src + i);
      uint32_t ends = decode_ends<Line>(v);
      if (Write) {
        store(dst + out, _mm_unpacklo_epi8(v, zero));
        store(dst + out + 8, _mm_unpackhi_epi8(v, zero));
      }
      if (ends) {
        int32_t plain = std::countr_zero(ends);
        i += plain;
        out += plain;
        break;
      }
      i += BLOCK;
      out += BLOCK;
    }
    // One character at a time until plain ASCII with room for a block follows.
    for (;;) {
      if (i >= count || out >= room) return {i, out};
      uint8_t byte = src[i];
      if (byte < 0x80) {
        if (Line && line_stop(byte)) return {i, out};
        if (count - i >= BLOCK && room - out >= BLOCK) break;
        if (count - i >= 8 && room - out >= 8) {  // half a block near the end
          __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(src + i));
          uint32_t ends = decode_ends<Line>(v) & 0xFF;
          if (Write) store(dst + out, _mm_unpacklo_epi8(v, zero));
          int32_t plain = ends ? std::countr_zero(ends) : 8;
          i += plain;
          out += plain;
          continue;
        }
        if (Write) dst[out] = byte;
        ++i;
        ++out;
        continue;
      }
      // Two-byte sequences, the most common ones outside ASCII, are taken here.
      if (byte >= 0xC2 && byte <= 0xDF && count - i >= 2 && (src[i + 1] & 0xC0) == 0x80) {
        if (Write) dst[out] = static_cast<char16_t>((byte & 0x1Fu) << 6 | (src[i + 1] & 0x3Fu));
        i += 2;
        ++out;
        continue;
      }
      if (Line && more && utf8_char_length(src + i, count - i) == 0) return {i, out};
      uint32_t value = 0;
      int32_t length = utf8_sequence(src + i, count - i, value);
      if (length == 0) {
        value = UTF8_ESCAPE_BASE + byte;
        length = 1;
      }
      if (value < 0x10000) {
        if (Write) dst[out] = static_cast<char16_t>(value);
        ++out;
      } else {
        if (room - out < 2) return {i, out};  // a pair is written whole or not at all
        if (Write) {
          value -= 0x10000;
          dst[out] = static_cast<char16_t>(0xD800 + (value >> 10));
          dst[out + 1] = static_cast<char16_t>(0xDC00 + (value & 0x3FF));
        }
        out += 2;
      }
      i += length;
    }
  }
}

// The units of a vector from 0x80 up, one bit each: added to 0x7F80 with saturation they reach
// the sign bit, which the signed narrowing keeps.
inline uint32_t encode_ends(__m128i low, __m128i high) {
  const __m128i lift = _mm_set1_epi16(0x7F80);
  return mask_of(_mm_packs_epi16(_mm_adds_epu16(low, lift), _mm_adds_epu16(high, lift)));
}

// Eight units in their one- to three-byte forms when none of them is a surrogate, without a
// branch on any unit; returns the bytes, or -1 (nothing stored) for a block with a surrogate.
// Each unit's bytes are made as one 32-bit word and stored at the unit's offset, a prefix sum
// of the lengths; the next unit's word overwrites the spare bytes. So up to 27 bytes are
// stored, though at most 24 count.
constexpr int32_t MIXED_ROOM = 32;
inline int32_t encode_mixed8(__m128i units, uint8_t* dst) {
  const __m128i zero = _mm_setzero_si128();
  __m128i surrogate =
      _mm_cmpeq_epi16(_mm_and_si128(units, _mm_set1_epi16(static_cast<int16_t>(0xF800))),
                      _mm_set1_epi16(static_cast<int16_t>(0xD800)));
  if (mask_of(surrogate)) return -1;
  // Lanes of all ones for a unit below 0x80 and below 0x800; the length is 3 less one for each.
  __m128i below_80 = _mm_cmpeq_epi16(_mm_subs_epu16(units, _mm_set1_epi16(0x7F)), zero);
  __m128i below_800 = _mm_cmpeq_epi16(_mm_subs_epu16(units, _mm_set1_epi16(0x7FF)), zero);
  __m128i length = _mm_add_epi16(_mm_set1_epi16(3), _mm_add_epi16(below_80, below_800));
  __m128i end = _mm_add_epi16(length, _mm_slli_si128(length, 2));  // offsets after each unit
  end = _mm_add_epi16(end, _mm_slli_si128(end, 4));
  end = _mm_add_epi16(end, _mm_slli_si128(end, 8));
  __m128i start = _mm_slli_si128(end, 2);

  alignas(16) uint32_t words[8];
  alignas(16) uint16_t starts[8];
  const __m128i low6 = _mm_set1_epi32(0x3F);
  const __m128i continuation = _mm_set1_epi32(0x80);
  for (int32_t half = 0; half < 2; ++half) {
    __m128i x = half ? _mm_unpackhi_epi16(units, zero) : _mm_unpacklo_epi16(units, zero);
    __m128i ascii =
        half ? _mm_unpackhi_epi16(below_80, below_80) : _mm_unpacklo_epi16(below_80, below_80);
    __m128i two =
        half ? _mm_unpackhi_epi16(below_800, below_800) : _mm_unpacklo_epi16(below_800, below_800);
    __m128i last = _mm_or_si128(continuation, _mm_and_si128(x, low6));
    __m128i middle = _mm_or_si128(continuation, _mm_and_si128(_mm_srli_epi32(x, 6), low6));
    __m128i word3 = _mm_or_si128(_mm_or_si128(_mm_set1_epi32(0xE0), _mm_srli_epi32(x, 12)),
                                 _mm_or_si128(_mm_slli_epi32(middle, 8), _mm_slli_epi32(last, 16)));
    __m128i word2 = _mm_or_si128(_mm_or_si128(_mm_set1_epi32(0xC0), _mm_srli_epi32(x, 6)),
                                 _mm_slli_epi32(last, 8));
    __m128i word = _mm_or_si128(_mm_and_si128(two, word2), _mm_andnot_si128(two, word3));
    word = _mm_or_si128(_mm_and_si128(ascii, x), _mm_andnot_si128(ascii, word));
    store(words + 4 * half, word);
  }
  store(starts, start);
  for (int32_t k = 0; k < 8; ++k) memcpy(dst + starts[k], words + k, 4);
  return static_cast<uint16_t>(_mm_extract_epi16(end, 7));
}

// Encoding, in the same shape as decoding: sixteen units a block while they are ASCII, narrowed
// and stored whole, and every other unit on its own.
template <bool Write>
Utf8Progress encode_blocks(const char16_t* src, int32_t count, uint8_t* dst, int32_t room) {
  uint8_t scratch[MIXED_ROOM];  // where a size query's blocks go
  int32_t i = 0, out = 0;
  for (;;) {
    while (count - i >= BLOCK && room - out >= BLOCK) {
      __m128i low = load(src + i);
      __m128i high = load(src + i + 8);
      uint32_t ends = encode_ends(low, high);
      if (Write) store(dst + out, _mm_packus_epi16(low, high));
      if (ends) {
        int32_t plain = std::countr_zero(ends);
        i += plain;
        out += plain;
        break;
      }
      i += BLOCK;
      out += BLOCK;
    }
    // Eight units that are not all ASCII, as one block when they hold no surrogate.
    if (count - i >= 8 && room - out >= MIXED_ROOM) {
      int32_t made = encode_mixed8(load(src + i), Write ? dst + out : scratch);
      if (made >= 0) {
        i += 8;
        out += made;
        continue;
      }
    }
    for (;;) {
      if (i >= count || out >= room) return {i, out};
      uint32_t u = src[i];
      if (u < 0x80) {
        if (count - i >= BLOCK && room - out >= BLOCK) break;
        if (count - i >= 8 && room - out >= 8) {  // half a block near the end
          __m128i units = load(src + i);
          uint32_t ends = encode_ends(units, units) & 0xFF;
          if (Write)
            _mm_storel_epi64(reinterpret_cast<__m128i*>(dst + out), _mm_packus_epi16(units, units));
          int32_t plain = ends ? std::countr_zero(ends) : 8;
          i += plain;
          out += plain;
          continue;
        }
        if (Write) dst[out] = static_cast<uint8_t>(u);
        ++i;
        ++out;
        continue;
      }
      if (u < 0x800) {
        if (room - out < 2) return {i, out};
        if (Write) {
          dst[out] = static_cast<uint8_t>(0xC0 | u >> 6);
          dst[out + 1] = static_cast<uint8_t>(0x80 | (u & 0x3F));
        }
        out += 2;
        ++i;
      } else if (utf16_is_high_surrogate(u)) {
        if (i + 1 >= count || !utf16_is_low_surrogate(src[i + 1])) return {i, out};
        if (room - out < 4) return {i, out};
        if (Write) {
          uint32_t cp = 0x10000 + ((u & 0x3FF) << 10 | (src[i + 1] & 0x3FFu));
          dst[out] = static_cast<uint8_t>(0xF0 | cp >> 18);
          dst[out + 1] = static_cast<uint8_t>(0x80 | ((cp >> 12) & 0x3F));
          dst[out + 2] = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
          dst[out + 3] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
        }
        out += 4;
        i += 2;
      } else if (utf16_is_escaped_byte(u)) {
        if (Write) dst[out] = static_cast<uint8_t>(u - UTF8_ESCAPE_BASE);
        ++out;
        ++i;
      } else {
        if (room - out < 3) return {i, out};
        if (Write) {
          dst[out] = static_cast<uint8_t>(0xE0 | u >> 12);
          dst[out + 1] = static_cast<uint8_t>(0x80 | ((u >> 6) & 0x3F));
          dst[out + 2] = static_cast<uint8_t>(0x80 | (u & 0x3F));
        }
        out += 3;
        ++i;
      }
    }
  }
}

}  // namespace

Utf8Progress utf8_decode(const uint8_t* src, int32_t count, char16_t* dst, int32_t room) {
  return dst ? decode_blocks<true, false>(src, count, dst, room, false)
             : decode_blocks<false, false>(src, count, nullptr, UNLIMITED, false);
}

Utf8Progress utf8_decode_line(const uint8_t* src, int32_t count, char16_t* dst, bool more) {
  return decode_blocks<true, true>(src, count, dst, count, more);
}

Utf8Progress utf8_encode(const char16_t* src, int32_t count, uint8_t* dst, int32_t room) {
  return dst ? encode_blocks<true>(src, count, dst, room)
             : encode_blocks<false>(src, count, nullptr, UNLIMITED);
}

// Candidates are the positions where the pattern's first two units stand, eight positions a
// round; only they are compared in full.
int32_t utf16_search(const char16_t* text, int32_t n, const char16_t* pattern, int32_t m) {
  if (m <= 0 || m > n) return -1;
  const __m128i first = _mm_set1_epi16(static_cast<int16_t>(pattern[0]));
  int32_t i = 0;
  if (m == 1) {
    for (; n - i >= 8; i += 8) {
      uint32_t hits = mask_of(_mm_cmpeq_epi16(load(text + i), first));
      if (hits) return i + std::countr_zero(hits) / 2;
    }
  } else {
    const __m128i second = _mm_set1_epi16(static_cast<int16_t>(pattern[1]));
    size_t rest = static_cast<size_t>(m - 2) * 2;
    // Every position of the round has room for the whole pattern, so the second load, one
    // unit further, stays inside the text too.
    for (; n - i >= m + 7; i += 8) {
      __m128i both = _mm_and_si128(_mm_cmpeq_epi16(load(text + i), first),
                                   _mm_cmpeq_epi16(load(text + i + 1), second));
      for (uint32_t hits = mask_of(both); hits; hits &= hits - 1) {
        int32_t at = i + std::countr_zero(hits) / 2;
        hits &= hits - 1;  // each unit sets two bits
        if (memcmp(text + at + 2, pattern + 2, rest) == 0) return at;
      }
    }
  }
  int32_t found = utf16_search_scalar(text + i, n - i, pattern, m);
  return found < 0 ? -1 : i + found;
}

#else  // no 16-byte blocks on this machine: the scalar forms

Utf8Progress utf8_decode(const uint8_t* src, int32_t count, char16_t* dst, int32_t room) {
  return utf8_decode_scalar(src, count, dst, room);
}

Utf8Progress utf8_decode_line(const uint8_t* src, int32_t count, char16_t* dst, bool more) {
  return utf8_decode_line_scalar(src, count, dst, more);
}

Utf8Progress utf8_encode(const char16_t* src, int32_t count, uint8_t* dst, int32_t room) {
  return utf8_encode_scalar(src, count, dst, room);
}

int32_t utf16_search(const char16_t* text, int32_t n, const char16_t* pattern, int32_t m) {
  return utf16_search_scalar(text, n, pattern, m);
}

#endif
