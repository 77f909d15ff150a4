// Conversions between String16 and byte strings: the UTF-8 codec that both builds share, the
// 8-bit code page through the platform, byte strings on the heap and decoding onto the stack.
#include <bit>
#include <cstring>

#include "platform/sys.h"
#include "runtime/strings/strings.h"

namespace {

constexpr int32_t UNLIMITED = 0x7FFFFFFF;
constexpr char16_t ESCAPE_BASE = 0xDC00;  // a byte b outside well-formed UTF-8 is 0xDC00 + b
constexpr uint64_t HIGH_BITS_8 = 0x8080808080808080u;        // any of 8 bytes >= 0x80
constexpr uint64_t NON_ASCII_UNITS_4 = 0xFF80FF80FF80FF80u;  // any of 4 units >= 0x80

// The ASCII runs are tested a word at a time, and the first byte or unit that ends a run is
// found from the lowest flagged bit, which is the first in memory on a little-endian machine.
static_assert(std::endian::native == std::endian::little, "runs are scanned a word at a time");

bool is_high_surrogate(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low_surrogate(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }
bool is_escaped_byte(uint32_t u) { return u >= 0xDC80 && u <= 0xDCFF; }

// One well-formed sequence at s[0..available): its length, or 0 when s[0] starts none. The
// second byte's range depends on the lead, which rules out overlong forms, encoded surrogates
// and values above 0x10FFFF.
int32_t utf8_sequence(const uint8_t* s, int32_t available, uint32_t& value) {
  uint8_t lead = s[0];
  int32_t length;
  uint8_t low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0Fu;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07u;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (available < length || s[1] < low || s[1] > high) return 0;
  value = value << 6 | (s[1] & 0x3Fu);
  for (int32_t k = 2; k < length; ++k) {
    if (s[k] < 0x80 || s[k] > 0xBF) return 0;
    value = value << 6 | (s[k] & 0x3Fu);
  }
  return length;
}

// The run of ASCII bytes at the start of s[0..n), widened into dst when Write is set; returns
// its length. Sixteen bytes at a time while no high bit shows.
template <bool Write>
int32_t decode_ascii(const uint8_t* s, int32_t n, char16_t* dst) {
  int32_t j = 0;
  while (n - j >= 16) {
    uint8_t block[16];
    memcpy(block, s + j, 16);
    uint64_t low, high;
    memcpy(&low, block, 8);
    memcpy(&high, block + 8, 8);
    int32_t ascii = 16;
    if (low & HIGH_BITS_8) {
      ascii = std::countr_zero(low & HIGH_BITS_8) / 8;
    } else if (high & HIGH_BITS_8) {
      ascii = 8 + std::countr_zero(high & HIGH_BITS_8) / 8;
    }
    if (Write) {
      if (ascii == 16) {
        char16_t units[16];
        for (int32_t k = 0; k < 16; ++k) units[k] = block[k];
        memcpy(dst + j, units, sizeof units);
      } else {
        for (int32_t k = 0; k < ascii; ++k) dst[j + k] = block[k];
      }
    }
    j += ascii;
    if (ascii < 16) return j;
  }
  while (j < n && s[j] < 0x80) {
    if (Write) dst[j] = s[j];
    ++j;
  }
  return j;
}

// Decodes count bytes into at most `room` units, or only counts them when Write is false.
template <bool Write>
int32_t utf8_decode(const uint8_t* s, int32_t count, char16_t* dst, int32_t room) {
  int32_t i = 0, out = 0;
  while (i < count && out < room) {
    if (s[i] < 0x80) {
      int32_t n = count - i < room - out ? count - i : room - out;
      int32_t run = decode_ascii<Write>(s + i, n, Write ? dst + out : nullptr);
      i += run;
      out += run;
      continue;
    }
    // Two-byte sequences, the most common ones outside ASCII, are taken here.
    if (s[i] >= 0xC2 && s[i] <= 0xDF && count - i >= 2 && (s[i + 1] & 0xC0) == 0x80) {
      if (Write) dst[out] = static_cast<char16_t>((s[i] & 0x1Fu) << 6 | (s[i + 1] & 0x3Fu));
      ++out;
      i += 2;
      continue;
    }
    uint32_t value = 0;
    int32_t length = utf8_sequence(s + i, count - i, value);
    if (length == 0) {
      if (Write) dst[out] = static_cast<char16_t>(ESCAPE_BASE + s[i]);
      ++out;
      ++i;
    } else if (value < 0x10000) {
      if (Write) dst[out] = static_cast<char16_t>(value);
      ++out;
      i += length;
    } else {
      if (room - out < 2) break;  // a pair is written whole or not at all
      if (Write) {
        value -= 0x10000;
        dst[out] = static_cast<char16_t>(0xD800 + (value >> 10));
        dst[out + 1] = static_cast<char16_t>(0xDC00 + (value & 0x3FF));
      }
      out += 2;
      i += length;
    }
  }
  return out;
}

// The run of ASCII units at the start of s[0..n), narrowed into dst when Write is set; returns
// its length. Eight units at a time while none is 0x80 or above.
template <bool Write>
int32_t encode_ascii(const char16_t* s, int32_t n, uint8_t* dst) {
  int32_t j = 0;
  while (n - j >= 8) {
    char16_t units[8];
    memcpy(units, s + j, 16);
    uint64_t low, high;
    memcpy(&low, units, 8);
    memcpy(&high, units + 4, 8);
    int32_t ascii = 8;
    if (low & NON_ASCII_UNITS_4) {
      ascii = std::countr_zero(low & NON_ASCII_UNITS_4) / 16;
    } else if (high & NON_ASCII_UNITS_4) {
      ascii = 4 + std::countr_zero(high & NON_ASCII_UNITS_4) / 16;
    }
    if (Write) {
      if (ascii == 8) {
        uint8_t bytes[8];
        for (int32_t k = 0; k < 8; ++k) bytes[k] = static_cast<uint8_t>(units[k]);
        memcpy(dst + j, bytes, sizeof bytes);
      } else {
        for (int32_t k = 0; k < ascii; ++k) dst[j + k] = static_cast<uint8_t>(units[k]);
      }
    }
    j += ascii;
    if (ascii < 8) return j;
  }
  while (j < n && s[j] < 0x80) {
    if (Write) dst[j] = static_cast<uint8_t>(s[j]);
    ++j;
  }
  return j;
}

// Encodes count units into at most `room` bytes, or only counts them when Write is false.
// A sequence is written only when it fits whole, so a short buffer is never overrun.
template <bool Write>
int32_t utf8_encode(const char16_t* s, int32_t count, uint8_t* dst, int32_t room) {
  int32_t i = 0, out = 0;
  while (i < count && out < room) {
    uint32_t u = s[i];
    if (u < 0x80) {
      int32_t n = count - i < room - out ? count - i : room - out;
      int32_t run = encode_ascii<Write>(s + i, n, Write ? dst + out : nullptr);
      i += run;
      out += run;
      continue;
    }
    if (u < 0x800) {
      if (room - out < 2) break;
      if (Write) {
        dst[out] = static_cast<uint8_t>(0xC0 | u >> 6);
        dst[out + 1] = static_cast<uint8_t>(0x80 | (u & 0x3F));
      }
      out += 2;
      i += 1;
    } else if (is_high_surrogate(u)) {
      if (i + 1 >= count || !is_low_surrogate(s[i + 1])) {
        // An unpaired high surrogate ends the encoding. A conversion that meets one before the
        // last unit reports failure; a size query counts what came before it.
        return Write && i + 1 < count ? 0 : out;
      }
      if (room - out < 4) break;
      if (Write) {
        uint32_t cp = 0x10000 + ((u & 0x3FF) << 10 | (s[i + 1] & 0x3FFu));
        dst[out] = static_cast<uint8_t>(0xF0 | cp >> 18);
        dst[out + 1] = static_cast<uint8_t>(0x80 | ((cp >> 12) & 0x3F));
        dst[out + 2] = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
        dst[out + 3] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
      }
      out += 4;
      i += 2;
    } else if (is_escaped_byte(u)) {
      if (Write) dst[out] = static_cast<uint8_t>(u - ESCAPE_BASE);
      out += 1;
      i += 1;
    } else {
      if (room - out < 3) break;
      if (Write) {
        dst[out] = static_cast<uint8_t>(0xE0 | u >> 12);
        dst[out + 1] = static_cast<uint8_t>(0x80 | ((u >> 6) & 0x3F));
        dst[out + 2] = static_cast<uint8_t>(0x80 | (u & 0x3F));
      }
      out += 3;
      i += 1;
    }
  }
  return out;
}

// The block handed out when no other can be had; bytes_free knows it and leaves it alone.
constinit char no_bytes[1] = {0};

char* empty_bytes() {
  char* block = static_cast<char*>(sys_malloc(1));
  if (!block) return no_bytes;
  block[0] = 0;
  return block;
}

char* encode_to_bytes(uint32_t codepage, const char16_t* text) {
  if (!text) return empty_bytes();
  int32_t count = str_len(text) + 1;
  int32_t size = text_encode(codepage, 0, text, count, nullptr, 0);
  if (size <= 0) return empty_bytes();
  char* block = static_cast<char*>(sys_malloc(static_cast<size_t>(size) + 1));
  if (!block) return empty_bytes();
  int32_t written = text_encode(codepage, 0, text, count, block, size);
  block[written] = 0;
  return block;
}

// Decodes count bytes (the terminating 0 byte included when `terminated`) onto the stack.
void decode_to_temp(uint32_t codepage, const char* bytes, int32_t count, bool terminated,
                    int32_t offset) {
  // Bytes that lie on the stack would be overwritten by the wider result: decode a copy.
  char* copy = nullptr;
  if (temp_locate(bytes)) {
    copy = static_cast<char*>(sys_malloc(static_cast<size_t>(count)));
    if (copy) memcpy(copy, bytes, static_cast<size_t>(count));
    bytes = copy;
  }
  int32_t units = bytes ? text_decode(codepage, 0, bytes, count, nullptr, 0) : 0;
  int32_t length = terminated && units > 0 ? units - 1 : units;
  char16_t* dst = temp_reserve(length, offset);
  int32_t written = units > 0 ? text_decode(codepage, 0, bytes, count, dst, units) : 0;
  if (written > length) written = length;
  dst[written] = 0;
  if (written < length) temp_restore(offset + 2 * written);
  sys_free(copy);
}

}  // namespace

int32_t text_encode(uint32_t codepage, uint32_t, const char16_t* src, int32_t count, char* dst,
                    int32_t size) {
  if (!src) return 0;
  if (count == -1) count = str_len(src) + 1;
  if (count <= 0 || (dst && size <= 0)) return 0;
  if (codepage == CP_UTF8) {
    auto* bytes = reinterpret_cast<uint8_t*>(dst);
    return dst ? utf8_encode<true>(src, count, bytes, size)
               : utf8_encode<false>(src, count, nullptr, UNLIMITED);
  }
  if (codepage == CP_ACP) return sys_ansi_encode(src, count, dst, size);
  return 0;
}

int32_t text_decode(uint32_t codepage, uint32_t, const char* src, int32_t count, char16_t* dst,
                    int32_t size) {
  if (!src) return 0;
  if (count == -1) count = static_cast<int32_t>(strlen(src)) + 1;
  if (count <= 0 || (dst && size <= 0)) return 0;
  if (codepage == CP_UTF8) {
    auto* bytes = reinterpret_cast<const uint8_t*>(src);
    return dst ? utf8_decode<true>(bytes, count, dst, size)
               : utf8_decode<false>(bytes, count, nullptr, UNLIMITED);
  }
  if (codepage == CP_ACP) return sys_ansi_decode(src, count, dst, size);
  return 0;
}

char* str_to_utf8(const char16_t* text) { return encode_to_bytes(CP_UTF8, text); }

char* str_to_ansi(const char16_t* text) { return encode_to_bytes(CP_ACP, text); }

void bytes_free(char* bytes) {
  if (bytes != no_bytes) sys_free(bytes);
}

void utf8_to_temp(const char* bytes, int32_t offset) {
  int32_t count = bytes ? static_cast<int32_t>(strlen(bytes)) + 1 : 0;
  decode_to_temp(CP_UTF8, bytes, count, true, offset);
}

void ansi_to_temp(const char* bytes, int32_t offset) {
  int32_t count = bytes ? static_cast<int32_t>(strlen(bytes)) : 0;
  decode_to_temp(CP_ACP, count ? bytes : nullptr, count, false, offset);
}
