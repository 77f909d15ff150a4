// Conversions between String16 and byte strings: the UTF-8 codec that both builds share, the
// 8-bit code page through the platform, byte strings on the heap and decoding onto the stack.
#include <cstring>

#include "base/utf8.h"
#include "platform/sys.h"
#include "runtime/strings/strings.h"

namespace {

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
    Utf8Progress done = utf8_encode(src, count, reinterpret_cast<uint8_t*>(dst), size);
    // A conversion that meets an unpaired high surrogate before its last unit reports failure;
    // a size query counts what came before it.
    if (dst && done.stop == UTF8_UNPAIRED && done.read + 1 < count) return 0;
    return done.written;
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
    return utf8_decode(reinterpret_cast<const uint8_t*>(src), count, dst, size).written;
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
  if (!bytes) bytes = "";
  decode_to_temp(CP_UTF8, bytes, static_cast<int32_t>(strlen(bytes)) + 1, true, offset);
}

void ansi_to_temp(const char* bytes, int32_t offset) {
  int32_t count = bytes ? static_cast<int32_t>(strlen(bytes)) : 0;
  decode_to_temp(CP_ACP, count ? bytes : nullptr, count, false, offset);
}
