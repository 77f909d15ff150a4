// The scalar reference conversions: one character at a time, as plainly as the rules read. The
// block kernels (utf8_blocks.h) must give the same results; tests and fuzz targets compare.
#include "base/utf8.h"

#include "base/utf8_kernels.h"

namespace {

constexpr int32_t UNLIMITED = 0x7FFFFFFF;

// The character at src[0] (count >= 1 bytes at hand): its code point, or the escape unit of
// src[0] when no well-formed sequence begins there; `length` gets the bytes it takes.
uint32_t decode_one(const uint8_t* src, int32_t count, int32_t& length) {
  uint32_t value = src[0];
  length = 1;
  if (value < 0x80) return value;
  length = utf8_sequence(src, count, value);
  if (length > 0) return value;
  length = 1;
  return UTF8_ESCAPE_BASE + src[0];
}

}  // namespace

Utf8Progress utf8_decode_scalar(const uint8_t* src, int32_t count, char16_t* dst, int32_t room) {
  if (!dst) room = UNLIMITED;
  int32_t i = 0, out = 0;
  while (i < count) {
    if (out >= room) return {i, out, UTF8_ROOM};
    int32_t length;
    uint32_t value = decode_one(src + i, count - i, length);
    int32_t units = value < 0x10000 ? 1 : 2;
    if (room - out < units) return {i, out, UTF8_ROOM};
    if (dst) utf16_put(dst + out, value);
    out += units;
    i += length;
  }
  return {i, out, UTF8_END};
}

Utf8Progress utf8_decode_line_scalar(const uint8_t* src, int32_t count, char16_t* dst, bool more) {
  int32_t i = 0, out = 0;
  while (i < count) {
    if (is_line_end(src[i])) return {i, out, UTF8_LINE_END};
    if (src[i] >= 0x80 && more && utf8_char_length(src + i, count - i) == 0) {
      return {i, out, UTF8_CUT};
    }
    int32_t length;
    out += utf16_put(dst + out, decode_one(src + i, count - i, length));
    i += length;
  }
  return {i, out, UTF8_END};
}

Utf8Progress utf8_encode_scalar(const char16_t* src, int32_t count, uint8_t* dst, int32_t room) {
  if (!dst) room = UNLIMITED;
  int32_t i = 0, out = 0;
  while (i < count) {
    if (out >= room) return {i, out, UTF8_ROOM};
    uint32_t value = src[i];
    int32_t units = 1;
    int32_t bytes = value < 0x80 ? 1 : value < 0x800 ? 2 : 3;
    if (utf16_is_high_surrogate(value)) {
      if (i + 1 >= count || !utf16_is_low_surrogate(src[i + 1])) return {i, out, UTF8_UNPAIRED};
      value = utf16_pair_value(value, src[i + 1]);
      units = 2;
      bytes = 4;
    } else if (utf16_is_escaped_byte(value)) {
      value -= UTF8_ESCAPE_BASE;  // the byte itself
      bytes = 1;
    }
    if (room - out < bytes) return {i, out, UTF8_ROOM};
    if (dst) {
      uint8_t* p = dst + out;
      if (bytes == 1) {
        p[0] = static_cast<uint8_t>(value);
      } else {
        // The lead carries the length in its high bits, each continuation six bits.
        constexpr uint8_t LEAD_MARK[] = {0, 0, 0xC0, 0xE0, 0xF0};
        for (int32_t k = bytes - 1; k > 0; --k) {
          p[k] = static_cast<uint8_t>(0x80 | (value & 0x3F));
          value >>= 6;
        }
        p[0] = static_cast<uint8_t>(LEAD_MARK[bytes] | value);
      }
    }
    out += bytes;
    i += units;
  }
  return {i, out, UTF8_END};
}

int32_t utf16_search_scalar(const char16_t* text, int32_t n, const char16_t* pattern, int32_t m) {
  if (m <= 0) return -1;
  for (int32_t i = 0; i + m <= n; ++i) {
    int32_t j = 0;
    while (j < m && text[i + j] == pattern[j]) ++j;
    if (j == m) return i;
  }
  return -1;
}

int32_t utf16_find_last_scalar(const char16_t* text, int32_t n, char16_t unit) {
  int32_t i = n - 1;
  while (i >= 0 && text[i] != unit) --i;
  return i;
}

const Utf8Kernels* utf8_scalar_kernels() {
  static constexpr Utf8Kernels SCALAR = {utf8_decode_scalar, utf8_decode_line_scalar,
                                         utf8_encode_scalar, utf16_search_scalar,
                                         utf16_find_last_scalar};
  return &SCALAR;
}
