// The file library's text readers: units from the stream's buffer into a working buffer, up to
// a line end, the end of the file or the limit (and a zero, where it ends the text); then onto
// the stack. Runs of units that lie whole in the buffer are taken at once, every other unit one
// at a time.
#include <bit>
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

// The rest of a UTF-8 character whose lead byte (0x80 or above) is already in out[0]: the
// continuation bytes that a well-formed sequence with this lead needs. When the next bytes are
// not those, the lead is a character of its own and the bytes read after it are given back, to
// be read afresh. Returns the character's length in bytes.
int32_t utf8_tail(FileStream* s, int32_t lead, uint8_t* out) {
  Utf8Lead rule = utf8_lead(lead);
  for (int32_t i = 1; i <= rule.need; ++i) {
    int32_t byte = stream_getc(s);
    if (byte < rule.low || byte > rule.high) {  // the end of the file (-1) too
      int32_t back = byte < 0 ? i - 1 : i;
      if (back > 0) stream_unread(s, back);
      return 1;
    }
    out[i] = static_cast<uint8_t>(byte);
    rule.low = 0x80;
    rule.high = 0xBF;
  }
  return rule.need + 1;
}

constexpr uint64_t ONES_8 = 0x0101010101010101u;
constexpr uint64_t HIGH_BITS_8 = 0x8080808080808080u;
static_assert(std::endian::native == std::endian::little, "the first byte is the lowest");

// How many of eight bytes lead the word before the first one that is 0x80 or above or below
// 0x0E, which covers the zero and both line ends; 8 when there is none. Only a byte below 0x0E
// borrows in the subtraction, so no byte before the first flagged one is flagged wrongly.
inline int32_t plain_bytes(uint64_t w) {
  uint64_t flags = (w | ((w - 0x0E * ONES_8) & ~w)) & HIGH_BITS_8;
  return flags ? std::countr_zero(flags) / 8 : 8;
}

// Takes, straight from the stream's read-ahead, the characters that read() would store one by
// one, while each of them still finds at least MARGIN bytes free: a character may begin only
// below `room` bytes from `out`. Stops, without taking it, at a zero, at a line end in line
// mode, and at a character that runs past the read-ahead; read() deals with those. Returns
// the bytes taken, which are also the bytes stored.
template <bool Utf8>
int32_t take_buffered(FileStream* s, uint8_t* out, int32_t room, bool lines) {
  const uint8_t* in = nullptr;
  int32_t available = stream_ahead(s, in);
  if (available <= 0) return 0;
  int32_t k = 0;
  while (k < available && k < room) {
    // Plain ASCII eight bytes at a time. The whole word is stored though only its plain bytes
    // count: the room test leaves space for it, and what follows them is stored over.
    while (available - k >= 8 && room - k >= 8) {
      uint64_t word;
      memcpy(&word, in + k, 8);
      memcpy(out + k, &word, 8);
      int32_t plain = plain_bytes(word);
      k += plain;
      if (plain < 8) break;
    }
    if (k >= available || k >= room) break;
    uint8_t byte = in[k];
    if (byte == 0 || (lines && (byte == '\r' || byte == '\n'))) break;
    if (!Utf8 || byte < 0x80) {
      out[k++] = byte;
      continue;
    }
    if (byte >= 0xC2 && byte <= 0xDF && available - k >= 2 && (in[k + 1] & 0xC0) == 0x80) {
      out[k] = byte;  // two bytes, the most common sequence
      out[k + 1] = in[k + 1];
      k += 2;
      continue;
    }
    int32_t n = utf8_char_length(in + k, available - k);
    if (n == 0) break;
    for (int32_t i = 0; i < n; ++i) out[k + i] = in[k + i];
    k += n;
  }
  stream_consume(s, k);
  return k;
}

// One reader per format. read() stores one unit at `out` and returns its length in bytes, or 0
// when no whole unit is left; `value` gets the unit's value (for UTF-8 its first byte) for the
// zero and line-end tests. after_cr() consumes a line feed that follows a carriage return and
// gives any other unit back. bulk() takes a run of units straight from the stream's buffer
// (take_buffered), or none. MARGIN is the room kept free before each read: the longest unit
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
  static int32_t bulk(FileStream* s, uint8_t* out, int32_t room, bool lines) {
    return take_buffered<false>(s, out, room, lines);
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
  static int32_t bulk(FileStream* s, uint8_t* out, int32_t room, bool lines) {
    return take_buffered<true>(s, out, room, lines);
  }
  static void after_cr(FileStream* s) { AsciiReader::after_cr(s); }
};

// UTF-16 in either byte order; the units are stored low byte first, as a String16 holds them.
// A last byte that makes no whole unit is left unread, for file_read_bytes.
template <bool BigEndian>
struct Utf16Reader {
  static constexpr int32_t MARGIN = 4;
  static constexpr int32_t ZERO = 2;
  static constexpr int32_t LOW = BigEndian ? 1 : 0;  // where a unit's low byte lies in the file
  static int32_t unit_at(const uint8_t* in) { return in[LOW] | in[1 - LOW] << 8; }
  static void store(uint8_t* out, const uint8_t* in) {
    out[0] = in[LOW];
    out[1] = in[1 - LOW];
  }
  static int32_t read(FileStream* s, uint8_t* out, int32_t& value) {
    uint8_t unit[2];
    int32_t got = stream_read(s, unit, 2);
    if (got < 2) {
      if (got > 0) stream_unread(s, got);
      return 0;
    }
    store(out, unit);
    value = unit_at(unit);
    return 2;
  }
  // Units straight from the read-ahead, as take_buffered() takes characters: a unit may begin
  // only below `room` bytes from `out`; a zero and, in line mode, a line end are left to read().
  static int32_t bulk(FileStream* s, uint8_t* out, int32_t room, bool lines) {
    const uint8_t* in = nullptr;
    int32_t available = stream_ahead(s, in);
    int32_t k = 0;
    for (; k < room && available - k >= 2; k += 2) {
      int32_t unit = unit_at(in + k);
      if (unit == 0 || (lines && (unit == '\r' || unit == '\n'))) break;
      store(out + k, in + k);
    }
    stream_consume(s, k);
    return k;
  }
  static void after_cr(FileStream* s) {
    uint8_t unit[2];
    int32_t got = stream_read(s, unit, 2);
    if (got == 2 && unit_at(unit) == '\n') return;
    if (got > 0) stream_unread(s, got);
  }
};

// Collects the bytes of one text into a working buffer, closed by a zero unit; its length
// without the zero goes to `length`. A zero unit read ends the text when `zero_ends` is set;
// otherwise it is a character like any other. The buffer starts as `first`, the caller's WORK_STEP bytes,
// so that an ordinary line costs no allocation; a longer text moves to the heap, and the caller
// frees what is returned unless it is `first`. When the buffer cannot grow, or would grow beyond
// WORK_LIMIT, the text ends there: the rest of it cannot be read in its place, so the read counts
// as failed (stream_read_failed).
template <typename Reader>
uint8_t* collect(FileStream* s, bool lines, bool zero_ends, int32_t limit, uint8_t* first,
                 int32_t& length) {
  int32_t capacity = WORK_STEP;
  uint8_t* data = first;
  int32_t used = 0;
  for (;;) {
    if (limit >= 0) {
      if (limit == 0) break;
      --limit;
    }
    if (capacity - used < Reader::MARGIN) {
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
    if (limit < 0) {
      int32_t taken = Reader::bulk(s, data + used, capacity - used - Reader::MARGIN + 1, lines);
      if (taken > 0) {
        used += taken;
        continue;
      }
    }
    int32_t value = 0;
    int32_t n = Reader::read(s, data + used, value);
    if (n == 0 || (value == 0 && zero_ends)) break;
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

// A buffered UTF-8 line, the common case: its bytes go from the stream's buffer straight onto
// the stack at the offset, decoded in the same pass that finds the line end. A character cut
// off by the end of the buffer is moved to its front before the refill and decoded whole. The
// room on the stack grows with the line, to twice its length at a time, so a long line costs
// few reallocations; the unused rest is given back at the end. As in collect(), a text beyond
// WORK_LIMIT bytes ends there and the read counts as failed.
void read_utf8_line(FileStream* s, int32_t offset) {
  int32_t units = 0;     // units stored at offset
  int32_t reserved = 0;  // units of room at offset
  int32_t taken = 0;     // bytes of the line consumed
  const uint8_t* in = nullptr;
  bool more = stream_ahead(s, in) == 0 ? stream_refill(s) > 0 : true;
  for (;;) {
    int32_t available = stream_ahead(s, in);
    int32_t n = available;
    bool cut = WORK_LIMIT - taken < n;
    if (cut) n = WORK_LIMIT - taken;
    if (reserved - units < n) {
      int32_t ahead = units < WORK_LIMIT - taken - n ? units : WORK_LIMIT - taken - n;
      temp_restore(offset + 2 * units);
      temp_reserve(n + ahead, offset + 2 * units);
      reserved = units + n + ahead;
    }
    char16_t* dst = reinterpret_cast<char16_t*>(temp_stack.buffer + offset) + units;
    Utf8Progress done = utf8_decode_line(in, n, dst, more || cut);
    units += done.written;
    taken += done.read;
    stream_consume(s, done.read);
    // The line end is no part of the line: it may lie just beyond the limit.
    if (done.read < available && (in[done.read] == '\n' || in[done.read] == '\r')) {
      stream_consume(s, 1);
      if (in[done.read] == '\r') AsciiReader::after_cr(s);
      break;
    }
    if (cut) {
      stream_read_failed(s);
      break;
    }
    if (!more) break;
    more = stream_refill(s) > 0;
  }
  temp_restore(offset);
  temp_reserve(units, offset)[units] = 0;
}

}  // namespace

void file_read_text(intptr_t number, int32_t flags, int32_t limit, int32_t offset) {
  FileStream* s = file_stream(number);
  if (!s) {
    temp_empty(offset);
    return;
  }
  int32_t format = file_format(flags, stream_format(s));
  bool lines = !(flags & FILE_READ_RAW);
  if (format == TEXT_UTF8 && lines && limit < 0 &&
      stream_buffer_size(s) >= 4) {  // a whole sequence fits
    read_utf8_line(s, offset);
    return;
  }
  // A line of Unicode text holds a zero like any other character; elsewhere a zero ends the text.
  bool zero_ends = !lines || format == TEXT_ASCII;
  uint8_t first[WORK_STEP];
  uint8_t* data;
  int32_t length = 0;
  if (format == TEXT_UTF8) {
    data = collect<Utf8Reader>(s, lines, zero_ends, limit, first, length);
  } else if (format == TEXT_UTF16) {
    data = collect<Utf16Reader<false>>(s, lines, zero_ends, limit, first, length);
  } else if (format == TEXT_UTF16BE) {
    data = collect<Utf16Reader<true>>(s, lines, zero_ends, limit, first, length);
  } else {
    data = collect<AsciiReader>(s, lines, zero_ends, limit, first, length);
  }
  if (format == TEXT_UTF8) {
    const char* bytes = reinterpret_cast<const char*>(data);
    int32_t units = text_decode(CP_UTF8, 0, bytes, length, nullptr, 0);
    char16_t* out = temp_reserve(units, offset);
    out[text_decode(CP_UTF8, 0, bytes, length, out, units)] = 0;
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
