// The file library's streams, inside the library: the record of one open file and the layer
// that moves its bytes through the file's buffer. files.cpp opens, writes and closes streams;
// the line readers in read.cpp take their bytes through the accessors at the end. Nothing outside
// the library includes this header but the tests, which look at the buffer's work.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/files/files.h"

constexpr int32_t STREAM_WRITE = 0;
constexpr int32_t STREAM_READ = 1;

struct FileStream {
  intptr_t file;      // native file (sys_file_open); non-zero while open
  uint8_t* buffer;    // the stream's buffer of `size` bytes; null when unbuffered
  int32_t size;       // bytes in the buffer; 0 when unbuffered
  int32_t count;      // read mode: read-ahead bytes not yet consumed; write mode: free bytes
  int32_t fill;       // read mode: bytes the last refill put in; the next byte is at fill - count
  int32_t mode;       // STREAM_READ (buffer holds read-ahead) or STREAM_WRITE (pending output)
  int32_t format;     // TEXT_UTF8, TEXT_UTF16, TEXT_UTF16BE or TEXT_ASCII
  int32_t read_only;  // 1: opened by file_open_read, writes are refused
  int32_t error;      // 1 once a write, flush, truncation or close failed or was refused,
                      // and once a read failed
  int32_t ended;      // 1 once a read failed: nothing more is read, the file counts as ended
};
static_assert(offsetof(FileStream, file) == 0, "the object table sees the native file first");

// The format that a format code (the low five bits of a word) stands for: `fallback` for 0,
// TEXT_ASCII for every code other than TEXT_UTF8 and the two UTF-16 ones.
inline int32_t file_format(int32_t code, int32_t fallback) {
  code &= FILE_FORMAT_MASK;
  if (code == 0) return fallback;
  return code == TEXT_UTF8 || code == TEXT_UTF16 || code == TEXT_UTF16BE ? code : TEXT_ASCII;
}

// The open stream under a number, or null.
FileStream* file_stream(intptr_t number);

// Copies up to n bytes from the file through the buffer; returns the bytes delivered (fewer at
// the end of the file). Pending output is written out first. Requests of at least the buffer
// size bypass it.
int32_t stream_read(FileStream* s, void* dst, int32_t n);
// Copies n bytes into the file through the buffer; returns the bytes taken. Unconsumed
// read-ahead is given back first. The buffer is never left full: a write that would fill it
// writes the pending bytes out first. Requests of at least the buffer size bypass it.
int32_t stream_write(FileStream* s, const void* src, int32_t n);
// Writes out the pending output (write mode only); returns the bytes written.
int32_t stream_flush(FileStream* s);
// Buffered streams: moves the `count` bytes not yet consumed (fewer than `size`) to the front
// of the buffer and fills the rest from the file, for a reader that needs them followed by the
// next ones. Pending output is written out first. Returns the bytes added: 0 at the end of the
// file and after a failed read (stream_read_failed, which drops the bytes kept too).
int32_t stream_refill(FileStream* s);
// Gives back the last n bytes read, so that the next read delivers them again.
void stream_unread(FileStream* s, int32_t n);
// Records a read that failed: file_error is set, the read-ahead is dropped and the file counts
// as ended from now on.
void stream_read_failed(FileStream* s);

int32_t stream_getc_slow(FileStream* s);
// The next byte (0 to 255), or -1 at the end of the file. A byte already in the buffer is
// taken right here; only a refill or an unbuffered stream calls out.
inline int32_t stream_getc(FileStream* s) {
  if (s->count > 0 && s->mode == STREAM_READ) return s->buffer[s->fill - s->count--];
  return stream_getc_slow(s);
}

// The read-ahead at hand: the bytes not yet consumed, with the first of them in `bytes`; none
// unless the stream is reading.
inline int32_t stream_ahead(const FileStream* s, const uint8_t*& bytes) {
  if (s->mode != STREAM_READ) return 0;
  bytes = s->buffer + (s->fill - s->count);
  return s->count;
}
// Consumes the first n bytes (at most those stream_ahead gave) of the read-ahead.
inline void stream_consume(FileStream* s, int32_t n) { s->count -= n; }
// The stream's own text format, and its buffer's size (0 when unbuffered).
inline int32_t stream_format(const FileStream* s) { return s->format; }
inline int32_t stream_buffer_size(const FileStream* s) { return s->size; }
