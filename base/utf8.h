// The UTF-8 and UTF-16 rules of the whole program and the conversions between buffers that the
// caller provides: lossless decoding of any bytes, its inverse encoding, and UTF-16 searches.
// Pure code: nothing of the system and nothing of the rest of the program.
//
// Decoding accepts only well-formed UTF-8 (shortest form, no surrogates, at most U+10FFFF);
// every other byte b becomes the unit 0xDC00 + b. Encoding turns such a unit (0xDC80 to 0xDCFF,
// not the second half of a pair) back into its byte, so any bytes survive the round trip. An
// unpaired low surrogate outside those takes three bytes; an unpaired high surrogate ends the
// encoding.
//
// Each conversion has a scalar reference (the _scalar forms) and a fast form that works in
// 32-byte blocks where the processor has them (AVX2), in 16-byte ones on any other x86-64
// (SSE2); all give the same results for every input.
#pragma once

#include <cstdint>

// --- Rules -------------------------------------------------------------------------------------

constexpr char16_t UTF8_ESCAPE_BASE = 0xDC00;  // a byte b outside well-formed UTF-8 is 0xDC00 + b

constexpr bool utf16_is_high_surrogate(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
constexpr bool utf16_is_low_surrogate(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }
// A unit that stands for a byte outside well-formed UTF-8.
constexpr bool utf16_is_escaped_byte(uint32_t u) { return u >= 0xDC80 && u <= 0xDCFF; }

// Where a line of text ends: LF or CR, as a byte of UTF-8 or 8-bit text or a UTF-16 unit.
constexpr bool is_line_end(uint32_t unit) { return unit == '\n' || unit == '\r'; }

// The code point of a surrogate pair.
constexpr uint32_t utf16_pair_value(uint32_t high, uint32_t low) {
  return 0x10000 + ((high & 0x3FF) << 10 | (low & 0x3FF));
}

// Writes a code point as one unit or as a surrogate pair; returns the units written.
inline int32_t utf16_put(char16_t* dst, uint32_t value) {
  if (value < 0x10000) {
    dst[0] = static_cast<char16_t>(value);
    return 1;
  }
  value -= 0x10000;
  dst[0] = static_cast<char16_t>(0xD800 + (value >> 10));
  dst[1] = static_cast<char16_t>(0xDC00 + (value & 0x3FF));
  return 2;
}

// The units of a zero-terminated text before its terminator; 0 for null.
inline int32_t utf16_length(const char16_t* text) {
  if (!text) return 0;
  // Four units a round, each tested on its own: nothing past the terminator is read.
  const char16_t* end = text;
  for (;; end += 4) {
    if (!end[0]) break;
    if (!end[1]) return static_cast<int32_t>(end - text) + 1;
    if (!end[2]) return static_cast<int32_t>(end - text) + 2;
    if (!end[3]) return static_cast<int32_t>(end - text) + 3;
  }
  return static_cast<int32_t>(end - text);
}

// What a well-formed sequence with this lead byte needs: the number of continuation bytes (0
// when the byte leads none, ASCII included) and the range of the first of them; later ones are
// 0x80 to 0xBF. The ranges rule out overlong forms, surrogates and values above U+10FFFF.
struct Utf8Lead {
  int32_t need;  // continuation bytes, 0 to 3
  int32_t low;   // lowest first continuation byte
  int32_t high;  // highest first continuation byte
};

constexpr Utf8Lead utf8_lead(uint32_t lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return {1, 0x80, 0xBF};
  if (lead >= 0xE0 && lead <= 0xEF) {
    return {2, lead == 0xE0 ? 0xA0 : 0x80, lead == 0xED ? 0x9F : 0xBF};
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    return {3, lead == 0xF0 ? 0x90 : 0x80, lead == 0xF4 ? 0x8F : 0xBF};
  }
  return {0, 0x80, 0xBF};
}

// The multi-byte sequence at s[0..available): its length (2 to 4) with its code point in
// `value`, or 0 when s[0] does not begin a well-formed one within the bytes given.
inline int32_t utf8_sequence(const uint8_t* s, int32_t available, uint32_t& value) {
  Utf8Lead rule = utf8_lead(s[0]);
  if (rule.need == 0 || available <= rule.need) return 0;
  if (s[1] < rule.low || s[1] > rule.high) return 0;
  value = (s[0] & (0x7Fu >> (rule.need + 1))) << 6 | (s[1] & 0x3Fu);
  for (int32_t k = 2; k <= rule.need; ++k) {
    if ((s[k] & 0xC0) != 0x80) return 0;
    value = value << 6 | (s[k] & 0x3Fu);
  }
  return rule.need + 1;
}

// How a reader that has `available` bytes of a character at s[0] (0x80 or above) can take it:
// the length of its well-formed sequence, 1 when s[0] stands alone as an escaped byte, or 0
// when the bytes given are a proper beginning of a sequence and only the next ones can tell.
inline int32_t utf8_char_length(const uint8_t* s, int32_t available) {
  Utf8Lead rule = utf8_lead(s[0]);
  for (int32_t i = 1; i <= rule.need; ++i) {
    if (i >= available) return 0;
    if (s[i] < rule.low || s[i] > rule.high) return 1;
    rule.low = 0x80;
    rule.high = 0xBF;
  }
  return rule.need + 1;
}

// --- Conversions -------------------------------------------------------------------------------

// Why a conversion stopped where it did.
enum Utf8Stop : int32_t {
  UTF8_END,       // the input is used up
  UTF8_ROOM,      // the next character does not fit the output
  UTF8_LINE_END,  // a line's decoding met LF or CR, which it leaves unread
  UTF8_CUT,       // a line's decoding met a sequence cut off by the end of its bytes, which
                  // the bytes after them must complete
  UTF8_UNPAIRED,  // encoding met a high surrogate without its pair, which has no bytes
};

// How far a conversion got: the input units or bytes it consumed, the output it wrote, and why
// it stopped there.
struct Utf8Progress {
  int32_t read;
  int32_t written;
  Utf8Stop stop;
};

// Decodes src[0..count) into at most `room` units of dst: a surrogate pair is written whole or
// not at all, and decoding stops before the character that does not fit. A zero byte is the
// unit 0. With dst null it only counts (room is then ignored).
Utf8Progress utf8_decode(const uint8_t* src, int32_t count, char16_t* dst, int32_t room);
Utf8Progress utf8_decode_scalar(const uint8_t* src, int32_t count, char16_t* dst, int32_t room);

// Decodes a line's bytes from src[0..count) into dst, which has room for `count` units, up to
// the first LF or CR byte, which is not read (UTF8_LINE_END); `read` then stops on it. A zero
// byte is a character of the line like any other, the unit 0. With `more` set the line goes on
// after src: a character that begins a well-formed sequence cut off by the end of src is left
// unread for the caller to complete (UTF8_CUT). Otherwise, and when a line end cuts one off,
// each of its bytes is escaped.
Utf8Progress utf8_decode_line(const uint8_t* src, int32_t count, char16_t* dst, bool more);
Utf8Progress utf8_decode_line_scalar(const uint8_t* src, int32_t count, char16_t* dst, bool more);

// Encodes src[0..count) into at most `room` bytes of dst, whole sequences only. Stops at the
// end, before the character that does not fit, and before a high surrogate that has no low one
// after it within src. With dst null it only counts (room is then ignored).
Utf8Progress utf8_encode(const char16_t* src, int32_t count, uint8_t* dst, int32_t room);
Utf8Progress utf8_encode_scalar(const char16_t* src, int32_t count, uint8_t* dst, int32_t room);

// Encodes src[0..count) piece by piece into `piece`, `room` bytes (at least 4) that the caller
// provides, and hands each piece to sink(const uint8_t* bytes, int32_t n), so that a text of
// any length is written without a copy of its own. Stops where utf8_encode does: at the end, or
// before a high surrogate without its pair (UTF8_UNPAIRED). Returns the progress over the text.
template <typename Sink>
Utf8Progress utf8_encode_pieces(const char16_t* src, int32_t count, uint8_t* piece, int32_t room,
                                Sink&& sink) {
  Utf8Progress total = {0, 0, UTF8_END};
  while (total.read < count) {
    Utf8Progress part = utf8_encode(src + total.read, count - total.read, piece, room);
    if (part.written > 0) sink(piece, part.written);
    total.read += part.read;
    total.written += part.written;
    if (part.stop == UTF8_UNPAIRED) {
      total.stop = UTF8_UNPAIRED;
      break;
    }
  }
  return total;
}

// The index of the first occurrence of pattern[0..m) in text[0..n), or -1; an empty pattern
// (m <= 0) is never found.
int32_t utf16_search(const char16_t* text, int32_t n, const char16_t* pattern, int32_t m);
int32_t utf16_search_scalar(const char16_t* text, int32_t n, const char16_t* pattern, int32_t m);
// The index of the last unit of text[0..n) that equals `unit`, or -1.
int32_t utf16_find_last(const char16_t* text, int32_t n, char16_t unit);
int32_t utf16_find_last_scalar(const char16_t* text, int32_t n, char16_t unit);
