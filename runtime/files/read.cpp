// The file library's text readers: a line, a text or a run of lines from the stream's read-ahead
// onto the stack. A run of UTF-8 lines is decoded from the read-ahead at once; a single line of
// UTF-8 is decoded from the read-ahead straight onto the stack in the pass that finds its end;
// every other text is taken a character at a time into a working buffer and converted from there.
#include <cstring>

#include "base/utf8.h"
#include "runtime/files/files.h"
#include "runtime/files/stream.h"
#include "runtime/memory/memory.h"
#include "runtime/strings/strings.h"

namespace {

constexpr int32_t WORK_STEP = 4096;  // working buffer: first size and growth step, in bytes
// The most bytes one text may take: its UTF-16 form, at most two bytes a byte, must fit the
// TempStringStack's 32-bit offsets with room to spare (1 MiB). A longer text is not read.
constexpr int32_t WORK_LIMIT = (1 << 30) - (1 << 20);

// The UTF-16 unit at `in`, in the format's byte order.
int32_t unit_at(const uint8_t* in, int32_t format) {
  return format == TEXT_UTF16 ? in[0] | in[1] << 8 : in[0] << 8 | in[1];
}

// After a CR: a LF that follows belongs to the line end and is consumed; anything else is left
// for the next read. `unit` is the bytes of one unit of the format.
void take_lf_after_cr(FileStream* s, int32_t format, int32_t unit) {
  const uint8_t* in;
  if (stream_window(s, unit, in) < unit) return;
  if ((unit == 2 ? unit_at(in, format) : in[0]) == '\n') stream_consume(s, unit);
}

// --- A line of UTF-8 ---------------------------------------------------------------------------

// The line's bytes are decoded from the read-ahead onto the stack at the offset, in the pass that
// finds the line end. A character that the end of the read-ahead cuts off is completed from the
// bytes after it. The room on the stack grows with the line, to twice its length at a time, so
// a long line costs few reallocations; the unused rest is given back at the end. A line of more
// than WORK_LIMIT bytes ends there, and the read counts as failed.
void read_utf8_line(FileStream* s, int32_t offset) {
  int32_t units = 0;     // units stored at offset
  int32_t reserved = 0;  // units of room at offset
  int32_t taken = 0;     // bytes of the line decoded
  int32_t want = 1;      // bytes to look at: one, or a cut-off character's and one more
  for (;;) {
    const uint8_t* in;
    int32_t available = stream_window(s, want, in);
    if (available == 0) break;
    bool more = available >= want;  // fewer: the file has ended
    // One byte past the limit is decoded too: the line end after a line of exactly the limit,
    // or the sign of a longer line.
    int32_t n = available < WORK_LIMIT - taken + 1 ? available : WORK_LIMIT - taken + 1;
    if (reserved - units < n) {
      int32_t left = WORK_LIMIT - taken - n;
      int32_t ahead = units < left ? units : left > 0 ? left : 0;
      temp_restore(offset + 2 * units);
      temp_reserve(n + ahead, offset + 2 * units);
      reserved = units + n + ahead;
    }
    char16_t* dst = reinterpret_cast<char16_t*>(temp_stack.buffer + offset) + units;
    Utf8Progress done = utf8_decode_line(in, n, dst, more || n < available);
    units += done.written;
    taken += done.read;
    stream_consume(s, done.read);
    if (done.stop == UTF8_LINE_END) {
      stream_consume(s, 1);
      if (in[done.read] == '\r') take_lf_after_cr(s, TEXT_UTF8, 1);
      break;
    }
    if (taken > WORK_LIMIT || n < available) {
      stream_read_failed(s);
      break;
    }
    if (!more) break;
    want = done.stop == UTF8_CUT ? available - done.read + 1 : 1;
  }
  temp_restore(offset);
  temp_reserve(units, offset)[units] = 0;
}

// --- Every other text --------------------------------------------------------------------------

// One character at the read-ahead: the bytes it takes, 0 when no whole one is left, and its value
// (for UTF-8 its first byte) for the zero and line-end tests.
struct Character {
  int32_t bytes;
  int32_t value;
};

Character next_character(FileStream* s, int32_t format, const uint8_t*& in) {
  if (text_is_utf16(format)) {
    if (stream_window(s, 2, in) < 2) return {0, 0};  // a last odd byte stays unread
    return {2, unit_at(in, format)};
  }
  int32_t n = stream_window(s, format == TEXT_UTF8 ? STREAM_WINDOW_MAX : 1, in);
  if (n == 0) return {0, 0};
  if (format != TEXT_UTF8 || in[0] < 0x80) return {1, in[0]};
  // A byte that begins no well-formed sequence, or one that the end of the file cuts off, is a
  // character of its own; the bytes after it are read afresh.
  int32_t length = utf8_char_length(in, n);
  return {length > 0 ? length : 1, in[0]};
}

// Collects the bytes of one text into a working buffer, UTF-16 in the order a String16 holds,
// closed by a zero unit; its length without the zero goes to `length`. The text ends at the end
// of the file, at the limit of characters (line ends included), in line mode after a line end,
// and after a zero unit when `zero_ends` is set; otherwise a zero is a character like any other.
// The buffer starts as `first`, the caller's WORK_STEP bytes, so that an ordinary text costs no
// allocation; a longer text moves to the heap, and the caller frees what is returned unless it
// is `first`. When the buffer cannot grow, or would grow beyond WORK_LIMIT, the text ends there:
// the rest of it cannot be read in its place, so the read counts as failed.
uint8_t* collect(FileStream* s, int32_t format, bool lines, bool zero_ends, int32_t limit,
                 uint8_t* first, int32_t& length) {
  int32_t unit = text_is_utf16(format) ? 2 : 1;  // of a line end and of the closing zero
  int32_t capacity = WORK_STEP;
  uint8_t* data = first;
  int32_t used = 0;
  for (;;) {
    if (limit >= 0) {
      if (limit == 0) break;
      --limit;
    }
    const uint8_t* in;
    Character c = next_character(s, format, in);
    if (c.bytes == 0) break;
    if (c.value == 0 && zero_ends) {
      stream_consume(s, c.bytes);
      break;
    }
    if (lines && is_line_end(c.value)) {
      stream_consume(s, c.bytes);
      if (c.value == '\r') take_lf_after_cr(s, format, unit);
      break;
    }
    if (capacity - used < c.bytes + unit) {
      uint8_t* grown = nullptr;
      size_t size = static_cast<size_t>(capacity) + WORK_STEP;
      if (data == first) {
        grown = static_cast<uint8_t*>(mem_alloc(size));
        if (grown) memcpy(grown, first, static_cast<size_t>(used));
      } else if (capacity < WORK_LIMIT) {
        grown = static_cast<uint8_t*>(mem_grow(data, size));
      }
      if (!grown) {
        stream_read_failed(s);
        break;
      }
      data = grown;
      capacity += WORK_STEP;
    }
    if (unit == 2) {
      data[used] = static_cast<uint8_t>(c.value);
      data[used + 1] = static_cast<uint8_t>(c.value >> 8);
    } else {
      memcpy(data + used, in, static_cast<size_t>(c.bytes));
    }
    stream_consume(s, c.bytes);
    used += c.bytes;
  }
  memset(data + used, 0, static_cast<size_t>(unit));
  length = used;
  return data;
}

}  // namespace

void file_read_text(intptr_t number, int32_t flags, int32_t limit, int32_t offset) {
  FileStream* s = file_stream(number);
  if (!s) {
    temp_empty(offset);
    return;
  }
  int32_t format = text_format_of(flags, stream_format(s));
  s->unit = text_is_utf16(format) ? 2 : 1;
  bool lines = !(flags & FILE_READ_RAW);
  if (format == TEXT_UTF8 && lines && limit < 0) {
    read_utf8_line(s, offset);
    return;
  }
  // A line of Unicode text holds a zero like any other character; elsewhere a zero ends the text.
  bool zero_ends = !lines || format == TEXT_ASCII;
  uint8_t first[WORK_STEP];
  int32_t length;
  uint8_t* data = collect(s, format, lines, zero_ends, limit, first, length);
  if (format == TEXT_UTF8) {
    const char* bytes = reinterpret_cast<const char*>(data);
    int32_t units = text_decode(CODEPAGE_UTF8, bytes, length, nullptr, 0);
    char16_t* out = temp_reserve(units, offset);
    out[text_decode(CODEPAGE_UTF8, bytes, length, out, units)] = 0;
  } else if (format == TEXT_ASCII) {
    ansi_to_temp(reinterpret_cast<const char*>(data), offset);
  } else {
    int32_t units = length / 2;
    char16_t* out = temp_reserve(units, offset);
    memcpy(out, data, static_cast<size_t>(units) * 2);
    out[units] = 0;
  }
  if (data != first) mem_free(data);
}

void file_read_line(intptr_t number, int32_t offset) { file_read_text(number, 0, -1, offset); }

namespace {

// Turns the line ends of decoded lines into single LF units: CR LF gives LF, a lone CR gives
// LF. Returns the new length.
int32_t single_line_ends(char16_t* text, int32_t length) {
  int32_t out = 0;
  for (int32_t k = 0; k < length; ++k) {
    char16_t unit = text[k];
    if (unit == u'\r') {
      if (k + 1 < length && text[k + 1] == u'\n') continue;
      unit = u'\n';
    }
    text[out++] = unit;
  }
  return out;
}

}  // namespace

void file_read_lines(intptr_t number, int32_t offset) {
  FileStream* s = file_stream(number);
  if (s && s->format == TEXT_UTF8 && s->size) {
    s->unit = 1;
    // The whole lines at hand run to the last LF. A line end cannot cut a well-formed sequence,
    // so the lines decode as one text as they would one by one; a CR after the last LF may be
    // the first half of a CR LF and waits.
    const uint8_t* in;
    int32_t available = stream_window(s, 1, in);
    int32_t n = available;
    while (n > 0 && in[n - 1] != '\n') --n;
    if (n > 0) {
      char16_t* out = temp_reserve(n, offset);  // a byte gives at most a unit
      int32_t units = utf8_decode(in, n, out, n).written;
      bool carriage_returns = memchr(in, '\r', static_cast<size_t>(n)) != nullptr;
      stream_consume(s, n);
      if (carriage_returns) units = single_line_ends(out, units);
      temp_restore(offset);
      temp_reserve(units, offset)[units] = 0;
      return;
    }
  }
  if (file_eof(number)) {
    temp_empty(offset);
    return;
  }
  file_read_line(number, offset);
  int32_t units = temp_length(offset);
  temp_reserve(units + 1, offset)[units] = u'\n';
  temp_edit(offset)[units + 1] = 0;
}
