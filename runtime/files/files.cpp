// The file library: the file table, opening and closing, and writing text. The buffer that
// serves reading and writing in turn is in stream.cpp, the line readers are in read.cpp.
#include "runtime/files/files.h"

#include "base/utf8.h"
#include "platform/sys.h"
#include "runtime/files/stream.h"
#include "runtime/memory/memory.h"
#include "runtime/strings/strings.h"

constinit int32_t file_buffer_size = 4096;

namespace {

constinit ObjTable<FileStream> file_table;
// file_close(-1): stays 1 while every file that the walk closes reports success.
constinit int32_t close_all_ok = 1;

int32_t close_stream(intptr_t number) {
  FileStream* s = file_table.get(number);
  if (!s) return 0;
  if (s->size) {
    stream_flush(s);
    mem_free(s->buffer);
  }
  if (!sys_file_close(s->file)) s->error = true;
  int32_t ok = s->error ? 0 : 1;
  file_table.free(number);
  return ok;
}

// The table's clean-up: runs for file_close(-1) and when a busy number is opened again.
void close_for_table(intptr_t number) {
  if (file_table.get(number) && !close_stream(number)) close_all_ok = 0;
}

intptr_t open_stream(intptr_t number, const char16_t* name, int32_t flags, int32_t kind,
                     int32_t permissions, int64_t group) {
  int32_t format = text_format_of(flags, TEXT_UTF8);
  FileStream* s = file_table.alloc(number);
  if (!s) return 0;
  intptr_t id = number == OBJ_AUTO ? file_table.handle(s) : number;
  int32_t share = (flags & FILE_OPEN_SHARE_ALL)    ? SYS_SHARE_ALL
                  : (flags & FILE_OPEN_SHARE_READ) ? SYS_SHARE_READ
                                                   : SYS_SHARE_NONE;
  int32_t sys_kind = kind;
  if (kind == SYS_OPEN_READ && (flags & FILE_OPEN_DELETE)) sys_kind = SYS_OPEN_READ_DELETE;
  if (kind == SYS_OPEN_UPDATE && (flags & FILE_OPEN_OWN)) sys_kind = SYS_OPEN_UPDATE_OWN;
  // An unbuffered stream reaches the system with every read and write, and so does its file.
  bool buffered = file_buffer_size > 0 && !(flags & FILE_NO_BUFFER);
  if (!buffered) sys_kind |= SYS_OPEN_DIRECT;
  bool created;
  intptr_t file = sys_file_open(name, sys_kind, share, permissions, group, created);
  if (!file) {
    file_table.free(id);
    return 0;
  }
  // A buffer holds at least the bytes that a reader looks at together.
  int32_t size = file_buffer_size < STREAM_WINDOW_MAX ? STREAM_WINDOW_MAX : file_buffer_size;
  uint8_t* buffer = nullptr;
  if (buffered) buffer = static_cast<uint8_t*>(mem_alloc(static_cast<size_t>(size)));
  s->file = file;
  s->buffer = buffer ? buffer : s->ahead;
  s->size = buffer ? size : 0;
  s->count = 0;
  s->fill = 0;
  s->mode = STREAM_READ;
  s->format = format;
  s->read_only = kind == SYS_OPEN_READ;
  s->error = false;
  s->ended = false;
  s->unit = 0;
  s->created = created;
  if (kind == SYS_OPEN_UPDATE && (flags & FILE_APPEND)) sys_file_seek(file, 0, SYS_SEEK_END);
  return number == OBJ_AUTO ? id : file;
}

}  // namespace

// --- Start, end, open, close -------------------------------------------------------------------

void file_init() {
  if (!file_table.exists()) {
    file_table.create(static_cast<int32_t>(sizeof(FileStream)), 16, close_for_table);
  }
}

void file_end() { file_close(-1); }

FileStream* file_stream(intptr_t number) { return file_table.get(number); }

intptr_t file_open_read(intptr_t number, const char16_t* name, int32_t flags) {
  return open_stream(number, name, flags, SYS_OPEN_READ, 0, FILE_ANY_GROUP);
}

intptr_t file_open(intptr_t number, const char16_t* name, int32_t flags, int32_t permissions,
                   int64_t group) {
  return open_stream(number, name, flags, SYS_OPEN_UPDATE, permissions, group);
}

intptr_t file_create(intptr_t number, const char16_t* name, int32_t flags, int32_t permissions,
                     int64_t group) {
  return open_stream(number, name, flags, SYS_OPEN_CREATE, permissions, group);
}

int32_t file_created(intptr_t number) {
  FileStream* s = file_table.get(number);
  return s && s->created ? 1 : 0;
}

int32_t file_close(intptr_t number) {
  if (number != -1) return close_stream(number);
  close_all_ok = 1;
  file_table.free_all();
  return close_all_ok;
}

int32_t file_error(intptr_t number) {
  FileStream* s = file_table.get(number);
  return s ? s->error : 0;
}

int32_t file_truncate(intptr_t number) {
  FileStream* s = file_table.get(number);
  if (!s) return 0;
  if (s->read_only) {
    s->error = true;
    return 0;
  }
  bool ok;
  if (s->mode == STREAM_WRITE) {
    int32_t pending = s->size - s->count;
    ok = stream_flush(s) == pending;
  } else {
    // The cut belongs after the bytes consumed, not after the read-ahead.
    ok = s->count == 0 || sys_file_seek(s->file, -static_cast<int64_t>(s->count), SYS_SEEK_CURRENT);
    s->count = 0;
    s->fill = 0;
  }
  ok = ok && sys_file_truncate(s->file);
  if (!ok) s->error = true;
  return ok ? 1 : 0;
}

int32_t file_sync(intptr_t number) {
  FileStream* s = file_table.get(number);
  if (!s) return 0;
  int32_t pending = s->mode == STREAM_WRITE ? s->size - s->count : 0;
  bool ok = stream_flush(s) == pending && sys_file_sync(s->file);
  if (!ok) s->error = true;
  return ok ? 1 : 0;
}

static_assert(FILE_KEPT == SYS_DELETE_KEPT && FILE_DELETED == SYS_DELETE_DONE &&
                  FILE_SET_ASIDE == SYS_DELETE_ASIDE,
              "file_delete passes the platform's result on");

int32_t file_delete(intptr_t number, const char16_t* name, int32_t offset) {
  FileStream* s = file_table.get(number);
  char16_t* aside = temp_reserve(SYS_NAME_UNITS, offset);
  int32_t result = s ? sys_file_delete(s->file, name, aside) : FILE_KEPT;
  int32_t length = result == FILE_SET_ASIDE ? str_len(aside) : 0;
  aside[length] = 0;
  temp_trim(SYS_NAME_UNITS - length);
  return result;
}

static_assert(FILE_ANY_GROUP == SYS_ANY_GROUP, "the group is passed on as it is");

FileStatus file_status(intptr_t number) {
  FileStream* s = file_table.get(number);
  return s ? sys_file_status(s->file) : FileStatus{{0, 0}, -1, FILE_ANY_GROUP, 0};
}

FileIdentity file_identity(intptr_t number) { return file_status(number).identity; }

int32_t file_permissions(intptr_t number, int64_t* group) {
  FileStatus status = file_status(number);
  if (group) *group = status.group;
  return status.permissions;
}

// --- Probing and writing -----------------------------------------------------------------------

int32_t file_eof(intptr_t number) {
  FileStream* s = file_table.get(number);
  if (!s) return 0;
  if (s->ended) return 1;
  // The answer comes from the bytes at hand, not from an earlier read having run into the end.
  int32_t unit = s->unit ? s->unit : text_is_utf16(s->format) ? 2 : 1;
  const uint8_t* ahead;
  return stream_window(s, unit, ahead) < unit ? 1 : 0;
}

int32_t file_detect_format(intptr_t number) {
  FileStream* s = file_table.get(number);
  if (!s) return 0;
  const uint8_t* mark;
  if (stream_window(s, 2, mark) >= 2) {
    if (mark[0] == 0xFF && mark[1] == 0xFE) s->format = TEXT_UTF16;
    if (mark[0] == 0xFE && mark[1] == 0xFF) s->format = TEXT_UTF16BE;
  }
  return s->format;
}

int32_t file_read_bytes(intptr_t number, void* dst, int32_t n) {
  FileStream* s = file_table.get(number);
  return s ? stream_read(s, dst, n) : 0;
}

namespace {

// Encodes a text into room that stream_space gave for at least three bytes a unit.
int32_t put_utf8(FileStream* s, uint8_t* room, const char16_t* text, int32_t length) {
  int32_t written = utf8_encode(text, length, room, 3 * length).written;
  stream_commit(s, written);
  return written;
}

// Writes the first `length` units of a text in the format given (0: the file's).
int32_t write_text(FileStream* s, const char16_t* text, int32_t length, int32_t format) {
  if (length < 0) s->error = true;  // no length: refused
  if (length <= 0) return 0;
  format = text_format_of(format, s->format);
  if (format == TEXT_UTF16) return stream_write(s, text, 2 * length);
  if (format == TEXT_UTF16BE) {
    // High byte first: each piece is turned around in a block on the stack.
    uint8_t piece[4096];
    constexpr int32_t PIECE_UNITS = sizeof piece / 2;
    int32_t written = 0;
    for (int32_t done = 0; done < length; done += PIECE_UNITS) {
      int32_t take = length - done < PIECE_UNITS ? length - done : PIECE_UNITS;
      for (int32_t k = 0; k < take; ++k) {
        piece[2 * k] = static_cast<uint8_t>(text[done + k] >> 8);
        piece[2 * k + 1] = static_cast<uint8_t>(text[done + k]);
      }
      written += stream_write(s, piece, 2 * take);
    }
    return written;
  }

  // UTF-8 goes straight into the buffer when even three bytes a unit fit there as stream_write
  // would take them, which nearly every line does. Otherwise it is encoded in pieces of a block
  // on the stack, each written as a whole: a text that fits the block is written as one piece,
  // as stream_write takes any other; a longer one costs no copy of its own. Every encoding stops
  // before a high surrogate that has no pair.
  if (format == TEXT_UTF8) {
    if (uint8_t* room = stream_space(s, 3 * static_cast<int64_t>(length))) {
      return put_utf8(s, room, text, length);
    }
    uint8_t piece[8192];
    int32_t written = 0;
    utf8_encode_pieces(text, length, piece, sizeof piece, [&](const uint8_t* bytes, int32_t n) {
      written += stream_write(s, bytes, n);
    });
    return written;
  }

  // The 8-bit page: measured, then made in a block on the stack, or on the heap when long.
  int32_t size = text_encode(CODEPAGE_ANSI, text, length, nullptr, 0);
  if (size <= 0) return 0;
  char local[1024];
  char* bytes = local;
  if (size > static_cast<int32_t>(sizeof local)) {
    bytes = static_cast<char*>(mem_alloc(static_cast<size_t>(size)));
    if (!bytes) {
      s->error = true;
      return 0;
    }
  }
  int32_t made = text_encode(CODEPAGE_ANSI, text, length, bytes, size);
  int32_t written = stream_write(s, bytes, made);
  if (bytes != local) mem_free(bytes);
  return written;
}

void write_line(FileStream* s, const char16_t* text, int32_t length, int32_t format) {
  if (length < 0) {  // no length: refused, and no line end either
    s->error = true;
    return;
  }
  // A UTF-8 line and its line end straight into the buffer in one go, when both fit there as
  // write_text would put them. The line end's units are ASCII, each its own byte.
  int32_t end_length = SYS_LINE_END_LENGTH;
  uint8_t* room;
  if (text_format_of(format, s->format) == TEXT_UTF8 &&
      (room = stream_space(s, 3 * static_cast<int64_t>(length) + end_length))) {
    uint8_t* end = room + put_utf8(s, room, text, length);
    for (int32_t k = 0; k < end_length; ++k) end[k] = static_cast<uint8_t>(SYS_LINE_END[k]);
    stream_commit(s, end_length);
    return;
  }
  write_text(s, text, length, format);
  write_text(s, SYS_LINE_END, end_length, format);
}

// A run of lines, each ended by an LF unit. Where that is the line terminator, a UTF-8 run is
// one text for the encoder; a high surrogate without its pair ends the bytes of its line there,
// as it ends those of a line written alone. Otherwise line by line.
void write_lines(FileStream* s, const char16_t* text, int32_t length, int32_t format) {
  if (length < 0) {
    s->error = true;
    return;
  }
  bool lf_build = SYS_LINE_END_LENGTH == 1 && SYS_LINE_END[0] == u'\n';
  if (lf_build && text_format_of(format, s->format) == TEXT_UTF8) {
    int32_t done = 0;
    while (done < length) {
      int32_t left = length - done;
      Utf8Progress part;
      if (uint8_t* room = stream_space(s, 3 * static_cast<int64_t>(left))) {
        part = utf8_encode(text + done, left, room, 3 * left);
        stream_commit(s, part.written);
      } else {
        uint8_t piece[8192];
        part = utf8_encode_pieces(text + done, left, piece, sizeof piece,
                                  [&](const uint8_t* bytes, int32_t n) { stream_write(s, bytes, n); });
      }
      done += part.read;
      if (part.stop == UTF8_UNPAIRED) {
        while (done < length && text[done] != u'\n') ++done;
      }
    }
    return;
  }
  int32_t start = 0;
  for (int32_t k = 0; k < length; ++k) {
    if (text[k] != u'\n') continue;
    write_line(s, text + start, k - start, format);
    start = k + 1;
  }
  write_text(s, text + start, length - start, format);
}

}  // namespace

int32_t file_write_string(intptr_t number, const char16_t* text, int32_t format) {
  FileStream* s = file_table.get(number);
  return s ? write_text(s, text, str_len(text), format) : 0;
}

void file_write_line(intptr_t number, const char16_t* text, int32_t format) {
  FileStream* s = file_table.get(number);
  if (s) write_line(s, text, str_len(text), format);
}

void file_write_line_n(intptr_t number, const char16_t* text, int32_t length, int32_t format) {
  FileStream* s = file_table.get(number);
  if (s) write_line(s, text, length, format);
}

void file_write_lines_n(intptr_t number, const char16_t* text, int32_t length, int32_t format) {
  FileStream* s = file_table.get(number);
  if (s) write_lines(s, text, length, format);
}

int32_t file_write_bytes(intptr_t number, const void* src, int32_t n) {
  FileStream* s = file_table.get(number);
  return s ? stream_write(s, src, n) : 0;
}
