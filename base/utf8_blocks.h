// The block loops of the conversions and the searches, written once over a block width: ASCII
// runs, line ends and candidate matches are found a block at a time, and every other character
// takes a one-character step under the same rules as the scalar reference.
//
// Each kernel file (utf8_sse2.cpp, utf8_avx2.cpp) defines BLOCK_TARGET, the attribute that
// compiles a function for that file's instructions, then includes this header. Everything here
// has internal linkage, so each file has its own copy, compiled for its own instructions, and
// the linker never hands one file's copy to another's callers. The inline functions of utf8.h
// are defined outside the attribute and keep the default instructions.
//
// A width is a record of static functions over one block (Vec16 here, Vec32 in utf8_avx2.cpp):
//   BLOCK             bytes decoded, units encoded, a block; a search round looks at the
//                     BLOCK / 2 units of one vector
//   Narrower          the next width down, which takes what is left near the end
//   Tail              the narrowest width that encodes and searches: its encode_last ends a
//                     text, and below it the search is scalar
//   Mixed             the mixed-text steps of this width (see below)
//   decode<W, L>      widens BLOCK bytes into units (stored when W) and returns the bytes that
//                     end a plain run: those from 0x80 up and, for a line (L), LF and CR
//   encode<W>         narrows BLOCK units into bytes (stored when W) and returns the units
//                     from 0x80 up
//   equal, equal_pair the positions of a round where the text has a unit, or two in a row
// Each returns one bit a byte or unit, or for the search two bits a position.
//
// A kernel file that also defines BLOCK_SHUFFLES (its instructions include SSSE3's byte
// shuffle) gets the mixed-text steps too: a block of ASCII, two- and three-byte characters
// decoded, and a block of units below U+10000 encoded, without a branch per character.
#pragma once

#ifndef BLOCK_TARGET
#error "a kernel file defines BLOCK_TARGET before it includes base/utf8_blocks.h"
#endif

#include <emmintrin.h>
#include <tmmintrin.h>

#include <bit>
#include <cstring>
#include <type_traits>

#include "base/utf8.h"
#include "base/utf8_kernels.h"
#include "base/utf8_shuffles.h"

namespace {

constexpr int32_t UNLIMITED = 0x7FFFFFFF;

#ifdef BLOCK_SHUFFLES
constexpr bool SHUFFLES = true;
#else
constexpr bool SHUFFLES = false;
#endif

BLOCK_TARGET inline __m128i load(const void* p) {
  return _mm_loadu_si128(static_cast<const __m128i*>(p));
}
BLOCK_TARGET inline void store(void* p, __m128i v) {
  _mm_storeu_si128(static_cast<__m128i*>(p), v);
}
BLOCK_TARGET inline uint32_t mask_of(__m128i v) {
  return static_cast<uint32_t>(_mm_movemask_epi8(v));
}

// The vector moved down by n bytes (0 to 15), zeros coming in: each half is shifted by a count
// held in a register, and a count of 64 or more, as a negative one becomes, gives zero.
BLOCK_TARGET inline __m128i shift_down(__m128i v, int32_t n) {
  __m128i high = _mm_srli_si128(v, 8);
  __m128i own = _mm_srl_epi64(v, _mm_cvtsi32_si128(8 * n));
  __m128i from_high = _mm_sll_epi64(high, _mm_cvtsi32_si128(64 - 8 * n));
  __m128i far_high = _mm_srl_epi64(high, _mm_cvtsi32_si128(8 * n - 64));
  return _mm_or_si128(_mm_or_si128(own, from_high), far_high);
}

template <bool Line>
BLOCK_TARGET inline uint32_t decode_ends(__m128i v) {
  uint32_t ends = mask_of(v);
  if (Line) {
    __m128i stop = _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n')),
                                _mm_cmpeq_epi8(v, _mm_set1_epi8('\r')));
    ends |= mask_of(stop);
  }
  return ends;
}

// The units of two vectors from 0x80 up: added to 0x7F80 with saturation they reach the sign
// bit, which the signed narrowing keeps.
BLOCK_TARGET inline uint32_t encode_ends(__m128i low, __m128i high) {
  const __m128i lift = _mm_set1_epi16(0x7F80);
  return mask_of(_mm_packs_epi16(_mm_adds_epu16(low, lift), _mm_adds_epu16(high, lift)));
}

// Half a 16-byte vector: decoding's last width before single bytes.
struct Bytes8 {
  static constexpr int32_t BLOCK = 8;
  using Narrower = void;

  template <bool Write, bool Line>
  BLOCK_TARGET static uint32_t decode(const uint8_t* src, char16_t* dst) {
    __m128i v = _mm_loadl_epi64(static_cast<const __m128i*>(static_cast<const void*>(src)));
    if (Write) store(dst, _mm_unpacklo_epi8(v, _mm_setzero_si128()));
    return decode_ends<Line>(v) & 0xFF;
  }
};

// --- Mixed text ---------------------------------------------------------------------------------
//
// A mixed decoding step takes the characters at the front of a block of bytes, up to the first
// that is not ASCII or a well-formed two- or three-byte sequence lying wholly in the block; for
// a line, up to its first LF or CR too. Each byte is classed by a compare. From the leads follow
// the places where a character can begin: every byte that no lead before it claims as a
// continuation. The bytes taken end at the first such place whose character does not hold: an
// orphan continuation, a lead without its continuations or out of their range, or anything
// else. Up to there the places are exactly the characters' first bytes, so the byte before each,
// and the last byte taken, is a character's last. Each byte's unit as a last byte is its payload
// with those of the one or two continuation bytes before it moved up; a table shuffle keeps the
// last bytes' units, eight lanes at a time.
//
// A mixed encoding step takes the units at the front of a block up to the first surrogate (a
// pair, a lone one or an escaped byte, which take the one-unit step). Each unit's one to three
// bytes are made in a 4-byte slot of its own, and a table shuffle keeps the bytes that each
// sequence takes, four units at a time.

// The bytes of a block that a mixed decoding step takes, from the masks of its classes (one bit
// a byte, `block` bits); `lasts` gets the last byte of each character taken.
BLOCK_TARGET inline int32_t mixed_taken(uint64_t ascii, uint64_t cont, uint64_t lead2,
                                        uint64_t lead3, uint64_t low, uint64_t e0, uint64_t ed,
                                        int32_t block, uint64_t& lasts) {
  const uint64_t end = uint64_t{1} << block;
  // After E0 an overlong form, after ED a surrogate; `low` marks 0x80 to 0x9F.
  uint64_t out_of_range = (e0 & low >> 1) | (ed & (cont & ~low) >> 1);
  uint64_t holds = ascii | (lead2 & cont >> 1) | (lead3 & ~out_of_range & cont >> 1 & cont >> 2);
  uint64_t firsts = ~((lead2 | lead3) << 1 | lead3 << 2) | end;
  int32_t taken = std::countr_zero((firsts & ~holds & (end - 1)) | end);
  lasts = firsts >> 1 & ((uint64_t{1} << taken) - 1);
  return taken;
}

// Each unit of eight 16-bit lanes from a character's last byte: its payload, with the byte
// before it six bits up and the one before that twelve up (each zero unless a continuation).
BLOCK_TARGET inline __m128i mixed_units(__m128i payload, __m128i before, __m128i two_before) {
  return _mm_or_si128(payload,
                      _mm_or_si128(_mm_slli_epi16(before, 6), _mm_slli_epi16(two_before, 12)));
}

// The lanes of a where mask is set, of b elsewhere.
BLOCK_TARGET inline __m128i select(__m128i mask, __m128i a, __m128i b) {
  return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
}

// The mixed steps over 16 bytes and 8 units.
struct Mixed16 {
  static constexpr int32_t BYTES = 16;        // a decoding step reads 16 bytes
  static constexpr int32_t DECODE_ROOM = 16;  // and stores 16 units
  static constexpr int32_t UNITS = 8;         // an encoding step reads 8 units
  static constexpr int32_t ENCODE_ROOM = 28;  // and stores 16 bytes twice, the second at most 12 on

  // Whether a block is worth a mixed step: whether it holds DENSE bytes from 0x80 up, or
  // DENSE / 2 units. Where characters outside ASCII lie further apart, the plain blocks and the
  // one-character steps between them cost less.
  static constexpr int32_t DENSE = 4;
  BLOCK_TARGET static bool dense(const uint8_t* src) {
    uint32_t high = mask_of(load(src));
    return UTF8_SHUFFLES.bits[high & 0xFF] + UTF8_SHUFFLES.bits[high >> 8] >= DENSE;
  }
  BLOCK_TARGET static bool dense(const char16_t* src) {
    __m128i lifted = _mm_adds_epu16(load(src), _mm_set1_epi16(0x7F80));
    return UTF8_SHUFFLES.bits[mask_of(_mm_packs_epi16(lifted, lifted)) & 0xFF] >= DENSE / 2;
  }

  // Returns the bytes taken and sets `units` to the units they give, one a character; when
  // Write, stores DECODE_ROOM units at dst, of which those count.
  template <bool Write, bool Line>
  BLOCK_TARGET static int32_t decode(const uint8_t* src, char16_t* dst, int32_t& units) {
    const __m128i v = load(src);
    const __m128i continuation = _mm_cmplt_epi8(v, _mm_set1_epi8(-0x40));  // 0x80 to 0xBF
    uint32_t ascii = ~mask_of(v);
    if (Line) {
      ascii &= ~mask_of(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n')),
                                     _mm_cmpeq_epi8(v, _mm_set1_epi8('\r'))));
    }
    uint64_t lasts;
    int32_t taken =
        mixed_taken(ascii, mask_of(continuation),
                    mask_of(_mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(-0x3F)),    // 0xC2 up
                                          _mm_cmplt_epi8(v, _mm_set1_epi8(-0x20)))),  // to 0xDF
                    mask_of(_mm_cmpeq_epi8(_mm_and_si128(v, _mm_set1_epi8(-0x10)),  // 0xE0 to 0xEF
                                           _mm_set1_epi8(-0x20))),
                    mask_of(_mm_cmplt_epi8(v, _mm_set1_epi8(-0x60))),  // 0x80 to 0x9F
                    mask_of(_mm_cmpeq_epi8(v, _mm_set1_epi8(-0x20))),  // 0xE0
                    mask_of(_mm_cmpeq_epi8(v, _mm_set1_epi8(-0x13))), BYTES, lasts);  // 0xED
    const Utf8Shuffles& table = UTF8_SHUFFLES;
    uint32_t first_lasts = lasts & 0xFF, second_lasts = lasts >> 8 & 0xFF;
    units = table.bits[first_lasts] + table.bits[second_lasts];
    if (Write) {
      // The payload bits by the high nibble: ASCII 7, a continuation 6, the leads 5 and 4.
      const __m128i payload_bits = _mm_setr_epi8(0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F,
                                                 0x3F, 0x3F, 0x3F, 0x3F, 0x1F, 0x1F, 0x0F, 0x07);
      __m128i nibble = _mm_and_si128(_mm_srli_epi16(v, 4), _mm_set1_epi8(0x0F));
      __m128i payload = _mm_and_si128(v, _mm_shuffle_epi8(payload_bits, nibble));
      __m128i before = _mm_and_si128(_mm_slli_si128(payload, 1), continuation);
      __m128i two_before = _mm_and_si128(
          _mm_slli_si128(payload, 2), _mm_and_si128(continuation, _mm_slli_si128(continuation, 1)));
      const __m128i zero = _mm_setzero_si128();
      __m128i first = mixed_units(_mm_unpacklo_epi8(payload, zero), _mm_unpacklo_epi8(before, zero),
                                  _mm_unpacklo_epi8(two_before, zero));
      __m128i second =
          mixed_units(_mm_unpackhi_epi8(payload, zero), _mm_unpackhi_epi8(before, zero),
                      _mm_unpackhi_epi8(two_before, zero));
      store(dst, _mm_shuffle_epi8(first, load(table.keep_units[first_lasts])));
      store(dst + table.bits[first_lasts],
            _mm_shuffle_epi8(second, load(table.keep_units[second_lasts])));
    }
    return taken;
  }

  // Returns the units taken and sets `bytes` to the bytes they give; when Write, stores 16
  // bytes at dst and 16 more at most 12 further, of which those count.
  template <bool Write>
  BLOCK_TARGET static int32_t encode(const char16_t* src, uint8_t* dst, int32_t& bytes) {
    const __m128i u = load(src);
    __m128i surrogate = _mm_cmpeq_epi16(_mm_and_si128(u, _mm_set1_epi16(-0x800)),   // & 0xF800
                                        _mm_set1_epi16(-0x2800));                   // == 0xD800
    __m128i two = _mm_srai_epi16(_mm_adds_epu16(u, _mm_set1_epi16(0x7F80)), 15);    // 0x80 up
    __m128i three = _mm_srai_epi16(_mm_adds_epu16(u, _mm_set1_epi16(0x7800)), 15);  // 0x800 up
    uint32_t surrogates = mask_of(_mm_packs_epi16(surrogate, surrogate)) & 0xFF;
    uint32_t longer = mask_of(_mm_packs_epi16(two, three));  // bits 0-7 two up, 8-15 three
    int32_t taken = std::countr_zero(surrogates | 0x100);
    uint32_t kept = (1u << taken) - 1;
    const Utf8Shuffles& table = UTF8_SHUFFLES;
    bytes = taken + table.bits[longer & kept] + table.bits[longer >> 8 & kept];
    if (Write) {
      __m128i last = _mm_or_si128(_mm_and_si128(u, _mm_set1_epi16(0x3F)), _mm_set1_epi16(0x80));
      __m128i high = _mm_srli_epi16(u, 6);
      __m128i middle =
          _mm_or_si128(_mm_and_si128(high, _mm_set1_epi16(0x3F)), _mm_set1_epi16(0x80));
      __m128i lead = select(three, _mm_or_si128(_mm_srli_epi16(u, 12), _mm_set1_epi16(0xE0)),
                            select(two, _mm_or_si128(high, _mm_set1_epi16(0xC0)), u));
      __m128i next = select(three, middle, last);
      // Each slot: the lead, the second byte, the third, a zero.
      __m128i firsts = _mm_or_si128(lead, _mm_slli_epi16(next, 8));
      __m128i slots_low = _mm_unpacklo_epi16(firsts, last);
      __m128i slots_high = _mm_unpackhi_epi16(firsts, last);
      uint32_t index_low = (longer & 0x0F) | (longer >> 4 & 0xF0);
      uint32_t index_high = (longer >> 4 & 0x0F) | (longer >> 8 & 0xF0);
      store(dst, _mm_shuffle_epi8(slots_low, load(table.keep_sequences[index_low])));
      store(dst + 4 + table.bits[index_low],
            _mm_shuffle_epi8(slots_high, load(table.keep_sequences[index_high])));
    }
    return taken;
  }
};

// The 16-byte vector of SSE2, which every x86-64 machine has.
struct Vec16 {
  static constexpr int32_t BLOCK = 16;
  using Narrower = Bytes8;
  using Tail = Vec16;  // the narrowest width that encodes and searches, which ends a text
  using Mixed = Mixed16;

  template <bool Write, bool Line>
  BLOCK_TARGET static uint32_t decode(const uint8_t* src, char16_t* dst) {
    __m128i v = load(src);
    if (Write) {
      store(dst, _mm_unpacklo_epi8(v, _mm_setzero_si128()));
      store(dst + 8, _mm_unpackhi_epi8(v, _mm_setzero_si128()));
    }
    return decode_ends<Line>(v);
  }

  template <bool Write>
  BLOCK_TARGET static uint32_t encode(const char16_t* src, uint8_t* dst) {
    __m128i low = load(src);
    __m128i high = load(src + 8);
    if (Write) store(dst, _mm_packus_epi16(low, high));
    return encode_ends(low, high);
  }

  // The block that ends at `end`, narrowed and moved down past its first `before` units.
  template <bool Write>
  BLOCK_TARGET static uint32_t encode_last(const char16_t* end, int32_t before, uint8_t* dst) {
    __m128i low = load(end - BLOCK);
    __m128i high = load(end - 8);
    if (Write) store(dst, shift_down(_mm_packus_epi16(low, high), before));
    return encode_ends(low, high) >> before;
  }

  BLOCK_TARGET static uint32_t equal(const char16_t* text, char16_t u) {
    return mask_of(_mm_cmpeq_epi16(load(text), _mm_set1_epi16(static_cast<int16_t>(u))));
  }

  // Reads one unit past the round.
  BLOCK_TARGET static uint32_t equal_pair(const char16_t* text, char16_t a, char16_t b) {
    return mask_of(
        _mm_and_si128(_mm_cmpeq_epi16(load(text), _mm_set1_epi16(static_cast<int16_t>(a))),
                      _mm_cmpeq_epi16(load(text + 1), _mm_set1_epi16(static_cast<int16_t>(b)))));
  }
};

// --- Block loops -------------------------------------------------------------------------------

// Mixed steps (Step, of the mixed record M) from src[i] while a whole block fits the input and
// the room and is dense, and until one takes nothing. Kept out of line, so that the
// one-character loops that call it keep their registers for their own work.
template <typename M, int32_t Block, int32_t Room, auto Step, bool Write, typename In, typename Out>
[[gnu::noinline]] BLOCK_TARGET void mixed_run(const In* src, int32_t count, Out* dst, int32_t room,
                                              int32_t& i, int32_t& out) {
  int32_t at = i, end = out;
  do {
    int32_t made;
    int32_t taken = Step(src + at, Write ? dst + end : nullptr, made);
    if (taken == 0) break;
    at += taken;
    end += made;
  } while (count - at >= Block && room - end >= Room && M::dense(src + at));
  i = at;
  out = end;
}

// Plain units a block at a time while a whole block fits both the input and the room. A block
// is converted and stored whole, though only its units before the first one that ends the run
// count and what follows them is stored over; so a block needs as many units of room as it
// has. The loop advances by the full block before it knows whether the block was plain, so
// blocks follow each other without waiting.
template <int32_t Block, auto Kernel, bool Write, typename In, typename Out>
BLOCK_TARGET inline void plain_blocks(const In* src, int32_t count, Out* dst, int32_t room,
                                      int32_t& i, int32_t& out) {
  while (count - i >= Block && room - out >= Block) {
    uint32_t ends = Kernel(src + i, Write ? dst + out : nullptr);
    if (ends) {
      int32_t plain = std::countr_zero(ends);
      i += plain;
      out += plain;
      return;
    }
    i += Block;
    out += Block;
  }
}

// Plain ASCII at src[0] where no block of the loop's width fits: the plain bytes that the
// widest narrower block that fits takes (at least one), or 0 when none fits.
template <typename N, bool Write, bool Line>
BLOCK_TARGET int32_t decode_short(const uint8_t* src, int32_t left, char16_t* dst, int32_t room) {
  if (left >= N::BLOCK && room >= N::BLOCK) {
    uint32_t ends = N::template decode<Write, Line>(src, dst);
    return ends ? std::countr_zero(ends) : N::BLOCK;
  }
  if constexpr (std::is_void_v<typename N::Narrower>) {
    return 0;
  } else {
    return decode_short<typename N::Narrower, Write, Line>(src, left, dst, room);
  }
}

// Decoding, shared by the whole-text and the line forms: plain ASCII a block at a time, every
// other character on its own, as the scalar reference decodes it.
template <typename V, bool Write, bool Line>
BLOCK_TARGET Utf8Progress decode_blocks(const uint8_t* src, int32_t count, char16_t* dst,
                                        int32_t room, bool more) {
  int32_t i = 0, out = 0;
  for (;;) {
    plain_blocks<V::BLOCK, V::template decode<Write, Line>, Write>(src, count, dst, room, i, out);
    // One character at a time until plain ASCII with room for a block follows.
    for (;;) {
      if (i >= count) return {i, out, UTF8_END};
      if (out >= room) return {i, out, UTF8_ROOM};
      uint8_t byte = src[i];
      if (byte < 0x80) {
        if (Line && is_line_end(byte)) return {i, out, UTF8_LINE_END};
        if (count - i >= V::BLOCK && room - out >= V::BLOCK) break;
        int32_t plain = decode_short<typename V::Narrower, Write, Line>(
            src + i, count - i, Write ? dst + out : nullptr, room - out);
        if (plain == 0) {
          if (Write) dst[out] = byte;
          plain = 1;
        }
        i += plain;
        out += plain;
        continue;
      }
      if constexpr (SHUFFLES) {
        using M = typename V::Mixed;
        if (count - i >= M::BYTES && room - out >= M::DECODE_ROOM && M::dense(src + i)) {
          int32_t start = i;
          mixed_run<M, M::BYTES, M::DECODE_ROOM, M::template decode<Write, Line>, Write>(
              src, count, dst, room, i, out);
          if (i > start) continue;
        }
      }
      // Two- and three-byte sequences, the most common ones outside ASCII (accented letters,
      // CJK and the like), are taken here, by the lead byte's rule.
      Utf8Lead rule = utf8_lead(byte);
      bool first_fits = rule.need > 0 && count - i > rule.need && src[i + 1] >= rule.low &&
                        src[i + 1] <= rule.high;
      if (rule.need == 1 && first_fits) {
        if (Write) dst[out] = static_cast<char16_t>((byte & 0x1Fu) << 6 | (src[i + 1] & 0x3Fu));
        i += 2;
        ++out;
        continue;
      }
      if (rule.need == 2 && first_fits && (src[i + 2] & 0xC0) == 0x80) {
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

// Plain ASCII at src[i] where no block of the loop's width fits: the plain units that the
// widest narrower block that fits takes (at least one), or 0 when none fits. Below 16 units
// the block that ends with the text is moved down past the units before i, so a line's end
// costs no loop over its last few units.
template <typename N, typename Tail, bool Write>
BLOCK_TARGET int32_t encode_short(const char16_t* src, int32_t i, int32_t count, uint8_t* dst,
                                  int32_t room) {
  if constexpr (N::BLOCK >= Tail::BLOCK) {
    if (count - i >= N::BLOCK && room >= N::BLOCK) {
      uint32_t ends = N::template encode<Write>(src + i, dst);
      return ends ? std::countr_zero(ends) : N::BLOCK;
    }
    return encode_short<typename N::Narrower, Tail, Write>(src, i, count, dst, room);
  } else {
    if (count < Tail::BLOCK || room < Tail::BLOCK) return 0;
    uint32_t ends = Tail::template encode_last<Write>(src + count, Tail::BLOCK - (count - i), dst);
    return ends ? std::countr_zero(ends) : count - i;
  }
}

// Encoding, in the same shape as decoding: plain ASCII a block at a time, every other unit on
// its own.
template <typename V, bool Write>
BLOCK_TARGET Utf8Progress encode_blocks(const char16_t* src, int32_t count, uint8_t* dst,
                                        int32_t room) {
  int32_t i = 0, out = 0;
  for (;;) {
    plain_blocks<V::BLOCK, V::template encode<Write>, Write>(src, count, dst, room, i, out);
    for (;;) {
      if (i >= count) return {i, out, UTF8_END};
      if (out >= room) return {i, out, UTF8_ROOM};
      uint32_t u = src[i];
      if (u < 0x80) {
        if (count - i >= V::BLOCK && room - out >= V::BLOCK) break;
        int32_t plain = encode_short<typename V::Narrower, typename V::Tail, Write>(
            src, i, count, Write ? dst + out : nullptr, room - out);
        if (plain == 0) {
          if (Write) dst[out] = static_cast<uint8_t>(u);
          plain = 1;
        }
        i += plain;
        out += plain;
        continue;
      }
      if constexpr (SHUFFLES) {
        using M = typename V::Mixed;
        if (count - i >= M::UNITS && room - out >= M::ENCODE_ROOM && M::dense(src + i)) {
          int32_t start = i;
          mixed_run<M, M::UNITS, M::ENCODE_ROOM, M::template encode<Write>, Write>(src, count, dst,
                                                                                   room, i, out);
          if (i > start) continue;
        }
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
          uint32_t cp = utf16_pair_value(u, src[i + 1]);
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

// The first position of a round from text[at] where the whole pattern (two units or more)
// stands, or -1; only the positions where its first two units stand are compared in full.
// Inlined into the loop over rounds, which then keeps the pattern's units in registers.
template <typename V>
[[gnu::always_inline]] BLOCK_TARGET inline int32_t search_round(const char16_t* text, int32_t at,
                                                                const char16_t* pattern,
                                                                int32_t m) {
  size_t rest = static_cast<size_t>(m - 2) * 2;
  for (uint32_t hits = V::equal_pair(text + at, pattern[0], pattern[1]); hits; hits &= hits - 1) {
    int32_t candidate = at + std::countr_zero(hits) / 2;
    hits &= hits - 1;  // each position sets two bits
    if (memcmp(text + candidate + 2, pattern + 2, rest) == 0) return candidate;
  }
  return -1;
}

// The search, a vector of positions a round; what the rounds leave goes to the next width down,
// and below 16 bytes to the scalar search.
template <typename V>
BLOCK_TARGET int32_t search_blocks(const char16_t* text, int32_t n, const char16_t* pattern,
                                   int32_t m) {
  constexpr int32_t ROUND = V::BLOCK / 2;
  if (m <= 0 || m > n) return -1;
  int32_t i = 0;
  if (m == 1) {
    for (; n - i >= ROUND; i += ROUND) {
      uint32_t hits = V::equal(text + i, pattern[0]);
      if (hits) return i + std::countr_zero(hits) / 2;
    }
  } else {
    // Every position of a round has room for the whole pattern, so the pair's second load,
    // one unit further, stays inside the text too. The last round is moved back to end with
    // the last position; the positions it repeats were no match already.
    int32_t last = n - m - (ROUND - 1);
    for (; i < last; i += ROUND) {
      int32_t found = search_round<V>(text, i, pattern, m);
      if (found >= 0) return found;
    }
    if (last >= 0) return search_round<V>(text, last, pattern, m);
  }
  int32_t found;
  if constexpr (V::BLOCK > V::Tail::BLOCK) {
    found = search_blocks<typename V::Narrower>(text + i, n - i, pattern, m);
  } else {
    found = utf16_search_scalar(text + i, n - i, pattern, m);
  }
  return found < 0 ? -1 : i + found;
}

// The last position of a unit, a vector of positions a round from the end back; what the rounds
// leave at the front goes to the next width down, and below 16 bytes to the scalar form.
template <typename V>
BLOCK_TARGET int32_t find_last_blocks(const char16_t* text, int32_t n, char16_t unit) {
  constexpr int32_t ROUND = V::BLOCK / 2;
  int32_t i = n;
  for (; i >= ROUND; i -= ROUND) {
    uint32_t hits = V::equal(text + i - ROUND, unit);
    if (hits) return i - ROUND + (31 - std::countl_zero(hits)) / 2;
  }
  if constexpr (V::BLOCK > V::Tail::BLOCK) {
    return find_last_blocks<typename V::Narrower>(text, i, unit);
  } else {
    return utf16_find_last_scalar(text, i, unit);
  }
}

template <typename V>
BLOCK_TARGET Utf8Progress decode_with(const uint8_t* src, int32_t count, char16_t* dst,
                                      int32_t room) {
  return dst ? decode_blocks<V, true, false>(src, count, dst, room, false)
             : decode_blocks<V, false, false>(src, count, nullptr, UNLIMITED, false);
}

template <typename V>
BLOCK_TARGET Utf8Progress decode_line_with(const uint8_t* src, int32_t count, char16_t* dst,
                                           bool more) {
  return decode_blocks<V, true, true>(src, count, dst, count, more);
}

template <typename V>
BLOCK_TARGET Utf8Progress encode_with(const char16_t* src, int32_t count, uint8_t* dst,
                                      int32_t room) {
  return dst ? encode_blocks<V, true>(src, count, dst, room)
             : encode_blocks<V, false>(src, count, nullptr, UNLIMITED);
}

// The kernel set of a width.
template <typename V>
constexpr Utf8Kernels BLOCK_KERNELS = {decode_with<V>, decode_line_with<V>, encode_with<V>,
                                       search_blocks<V>, find_last_blocks<V>};

}  // namespace
