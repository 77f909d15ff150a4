// The conversions and the search in 16-byte blocks (SSE2, which every x86-64 machine has):
// ASCII runs, line ends and candidate matches are found a block at a time, and every other
// character takes a one-character step under the same rules as the scalar reference. On other
// machines the fast forms are the scalar ones.
#include "base/utf8.h"

#if defined(__SSE2__)

#include <emmintrin.h>

#include <bit>
#include <cstring>

namespace {

constexpr int32_t UNLIMITED = 0x7FFFFFFF;
constexpr int32_t BLOCK = 16;  // a block: 16 bytes to decode, 16 units (two vectors) to encode

inline __m128i load(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
inline void store(void* p, __m128i v) { _mm_storeu_si128(static_cast<__m128i*>(p), v); }
inline uint32_t mask_of(__m128i v) { return static_cast<uint32_t>(_mm_movemask_epi8(v)); }

// The vector moved down by n bytes (0 to 15), zeros coming in: each half is shifted by a count
// held in a register, and a count of 64 or more, as a negative one becomes, gives zero.
inline __m128i shift_down(__m128i v, int32_t n) {
  __m128i high = _mm_srli_si128(v, 8);
  __m128i own = _mm_srl_epi64(v, _mm_cvtsi32_si128(8 * n));
  __m128i from_high = _mm_sll_epi64(high, _mm_cvtsi32_si128(64 - 8 * n));
  __m128i far_high = _mm_srl_epi64(high, _mm_cvtsi32_si128(8 * n - 64));
  return _mm_or_si128(_mm_or_si128(own, from_high), far_high);
}

// The bytes of a vector that end a run of plain ASCII: those from 0x80 up and, for a line, both
// line ends; one bit each.
template <bool Line>
inline uint32_t decode_ends(__m128i v) {
  uint32_t ends = mask_of(v);
  if (Line) {
    __m128i stop = _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n')),
                                _mm_cmpeq_epi8(v, _mm_set1_epi8('\r')));
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
      if (i >= count) return {i, out, UTF8_END};
      if (out >= room) return {i, out, UTF8_ROOM};
      uint8_t byte = src[i];
      if (byte < 0x80) {
        if (Line && is_line_end(byte)) return {i, out, UTF8_LINE_END};
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
      // Three-byte sequences outside the two leads with narrower ranges: CJK and the like.
      if (byte >= 0xE1 && byte <= 0xEF && byte != 0xED && count - i >= 3 &&
          (src[i + 1] & 0xC0) == 0x80 && (src[i + 2] & 0xC0) == 0x80) {
        if (Write) {
          dst[out] = static_cast<char16_t>((byte & 0x0Fu) << 12 | (src[i + 1] & 0x3Fu) << 6 |
                                           (src[i + 2] & 0x3Fu));
        }
        i += 3;
        ++out;
        continue;
      }
      // Only a sequence that the end of the bytes cuts off needs the bytes after them.
      if (Line && more && count - i < 4 && utf8_char_length(src + i, count - i) == 0) {
        return {i, out, UTF8_CUT};
      }
      uint32_t value = 0;
      int32_t length = utf8_sequence(src + i, count - i, value);
      if (length == 0) {
        value = UTF8_ESCAPE_BASE + byte;
        length = 1;
      }
      if (value >= 0x10000 && room - out < 2) {
        return {i, out, UTF8_ROOM};  // a pair is written whole or not at all
      }
      if (Write) {
        out += utf16_put(dst + out, value);
      } else {
        out += value < 0x10000 ? 1 : 2;
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

// Encoding, in the same shape as decoding: sixteen units a block while they are ASCII, narrowed
// and stored whole, and every other unit on its own.
template <bool Write>
Utf8Progress encode_blocks(const char16_t* src, int32_t count, uint8_t* dst, int32_t room) {
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
    for (;;) {
      if (i >= count) return {i, out, UTF8_END};
      if (out >= room) return {i, out, UTF8_ROOM};
      uint32_t u = src[i];
      if (u < 0x80) {
        if (count - i >= BLOCK && room - out >= BLOCK) break;
        if (count >= BLOCK && room - out >= BLOCK) {
          // The last units: the block that ends with the text, moved down past the units
          // before i, so a line's end costs no loop over its last few units.
          int32_t before = BLOCK - (count - i);
          __m128i low = load(src + count - BLOCK);
          __m128i high = load(src + count - 8);
          uint32_t ends = encode_ends(low, high) >> before;
          if (Write) store(dst + out, shift_down(_mm_packus_epi16(low, high), before));
          int32_t plain = ends ? std::countr_zero(ends) : count - i;
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
        if (room - out < 2) return {i, out, UTF8_ROOM};
        if (Write) {
          dst[out] = static_cast<uint8_t>(0xC0 | u >> 6);
          dst[out + 1] = static_cast<uint8_t>(0x80 | (u & 0x3F));
        }
        out += 2;
        ++i;
      } else if (utf16_is_high_surrogate(u)) {
        if (i + 1 >= count || !utf16_is_low_surrogate(src[i + 1])) return {i, out, UTF8_UNPAIRED};
        if (room - out < 4) return {i, out, UTF8_ROOM};
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
        if (room - out < 3) return {i, out, UTF8_ROOM};
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
    // Every position of a round has room for the whole pattern, so the second load, one unit
    // further, stays inside the text too. The last round is moved back to end with the last
    // position; the positions it repeats were no match already.
    int32_t last = n - m - 7;
    auto round = [&](int32_t at) {
      __m128i both = _mm_and_si128(_mm_cmpeq_epi16(load(text + at), first),
                                   _mm_cmpeq_epi16(load(text + at + 1), second));
      for (uint32_t hits = mask_of(both); hits; hits &= hits - 1) {
        int32_t candidate = at + std::countr_zero(hits) / 2;
        hits &= hits - 1;  // each unit sets two bits
        if (memcmp(text + candidate + 2, pattern + 2, rest) == 0) return candidate;
      }
      return -1;
    };
    for (; i < last; i += 8) {
      int32_t found = round(i);
      if (found >= 0) return found;
    }
    if (last >= 0) return round(last);
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
