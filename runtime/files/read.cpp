// The file library's text readers: one unit at a time from the stream's buffer into a working
// buffer, up to a line end, a zero, the end of the file or the limit; then onto the stack.
#include <cstring>

#include "app/memory.h"
#include "runtime/files/files.h"
#include "runtime/strings/strings.h"

namespace {

constexpr int32_t WORK_STEP = 4096;  // working buffer: first size and growth step, in bytes

// The rest of a UTF-8 character whose lead byte (0x80 or above) is already in out[0]: the
// continuation bytes that a well-formed sequence with this lead needs. When the next bytes are
// not those, the lead is a character of its own and the bytes read after it are given back, to
// be read afresh. Returns the character's length in bytes.
int32_t utf8_tail(FileStream* s, int32_t lead, uint8_t* out) {
  int32_t need = 0;
  int32_t low = 0x80;  // range of the first continuation byte; the later ones are 80-BF
  int32_t high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    if (lead == 0xE0) low = 0xA0;   // no overlong forms
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    if (lead == 0xF0) low = 0x90;   // no overlong forms
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  }
  for (int32_t i = 1; i <= need; ++i) {
    int32_t byte = stream_getc(s);
    if (byte < low || byte > high) {  // the end of the file (-1) too
      int32_t back = byte < 0 ? i - 1 : i;
      if (back > 0) stream_unread(s, back);
      return 1;
    }
    out[i] = static_cast<uint8_t>(byte);
    low = 0x80;
    high = 0xBF;
  }
  return need + 1;
}

// One reader per format. read() stores one unit at `out` and returns its length in bytes, or 0
// when no whole unit is left; `value` gets the unit's value (for UTF-8 its first byte) for the
// zero and line-end tests. after_cr() consumes a line feed that follows a carriage return and
// gives any other unit back. MARGIN is the room kept free before each read: the longest unit
// and the closing zero, ZERO the closing zero's size.

struct AsciiReader {
  static constexpr int32_t MARGIN = 2;
  static constexpr int32_t ZERO = 1;
  static int32_t read(FileStream* s, uint8_t* out, int32_t& value) {
    value = stream_getc(s);
    if (value < 0) return 0;
    out[0] = static_cast<uint8_t>(value);
    return 1;
  }
  static void after_cr(FileStream* s) {
    int32_t byte = stream_getc(s);
    if (byte >= 0 && byte != '\n') stream_unread(s, 1);
  }
};

struct Utf8Reader {
  static constexpr int32_t MARGIN = 5;
  static constexpr int32_t ZERO = 1;
  static int32_t read(FileStream* s, uint8_t* out, int32_t& value) {
    value = stream_getc(s);
    if (value < 0) return 0;
    out[0] = static_cast<uint8_t>(value);
    return value < 0x80 ? 1 : utf8_tail(s, value, out);
  }
  static void after_cr(FileStream* s) { AsciiReader::after_cr(s); }
};

struct Utf16Reader {
  static constexpr int32_t MARGIN = 4;
  static constexpr int32_t ZERO = 2;
  static int32_t read(FileStream* s, uint8_t* out, int32_t& value) {
    if (s->count >= 2 && s->mode == STREAM_READ) {
      memcpy(out, s->buffer + (s->fill - s->count), 2);
      s->count -= 2;
    } else if (stream_read(s, out, 2) < 2) {
      return 0;  // an odd last byte is dropped
    }
    value = out[0] | out[1] << 8;
    return 2;
  }
  static void after_cr(FileStream* s) {
    uint8_t unit[2];
    if (stream_read(s, unit, 2) == 2 && !(unit[0] == '\n' && unit[1] == 0)) stream_unread(s, 2);
  }
};

// Collects the bytes of one text into a new working buffer, closed by a zero unit; its length
// without the zero goes to `length`. Null when the buffer cannot be had. When the buffer cannot
// grow, the text ends there and the next read goes on from that point.
template <typename Reader>
uint8_t* collect(FileStream* s, bool lines, int32_t limit, int32_t& length) {
  int32_t capacity = WORK_STEP;
  auto* data = static_cast<uint8_t*>(mem_alloc(static_cast<size_t>(capacity)));
  if (!data) return nullptr;
  int32_t used = 0;
  for (;;) {
    if (limit >= 0) {
      if (limit == 0) break;
      --limit;
    }
    if (capacity - used < Reader::MARGIN) {
      auto* grown =
          static_cast<uint8_t*>(mem_grow(data, static_cast<size_t>(capacity) + WORK_STEP));
      if (!grown) break;
      data = grown;
      capacity += WORK_STEP;
    }
    int32_t value = 0;
    int32_t n = Reader::read(s, data + used, value);
    if (n == 0 || value == 0) break;
    if (lines && (value == '\r' || value == '\n')) {
      if (value == '\r') Reader::after_cr(s);
      break;
    }
    used += n;
  }
  memset(data + used, 0, Reader::ZERO);
  length = used;
  return data;
}

}  // namespace

void file_read_text(intptr_t number, int32_t flags, int32_t limit, int32_t offset) {
  FileStream* s = file_stream(number);
  uint8_t* data = nullptr;
  int32_t length = 0;
  int32_t format = 0;
  if (s) {
    format = file_format(flags, s->format);
    bool lines = !(flags & FILE_READ_RAW);
    if (format == TEXT_UTF8) {
      data = collect<Utf8Reader>(s, lines, limit, length);
    } else if (format == TEXT_UTF16) {
      data = collect<Utf16Reader>(s, lines, limit, length);
    } else {
      data = collect<AsciiReader>(s, lines, limit, length);
    }
  }
  if (!data) {
    temp_reserve(0, offset)[0] = 0;
    return;
  }
  if (format == TEXT_UTF8) {
    utf8_to_temp(reinterpret_cast<const char*>(data), offset);
  } else if (format == TEXT_ASCII) {
    ansi_to_temp(reinterpret_cast<const char*>(data), offset);
  } else {
    int32_t units = length / 2;
    char16_t* out = temp_reserve(units, offset);
    memcpy(out, data, static_cast<size_t>(units) * 2);
    out[units] = 0;
  }
  mem_free(data);
}

void file_read_line(intptr_t number, int32_t offset) { file_read_text(number, 0, -1, offset); }
