// The file library's streams, inside the library: the record of one open file and the layer
// that moves its bytes through the file's buffer. files.cpp opens, writes and closes streams;
// the readers in read.cpp look at the read-ahead through stream_window and take what they use
// with stream_consume. Nothing outside the library includes this header but the tests, which
// look at the buffer's work.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/formats.h"

constexpr int32_t STREAM_WRITE = 0;
constexpr int32_t STREAM_READ = 1;

// The most bytes a reader asks to see at once: a UTF-8 character. Every buffer holds at least
// this many, and a stream without a buffer keeps them in `ahead`.
constexpr int32_t STREAM_WINDOW_MAX = 4;

struct FileStream {
  intptr_t file;      // native file (sys_file_open); non-zero while open
  uint8_t* buffer;    // the stream's buffer of `size` bytes; `ahead` when unbuffered
  int32_t size;       // bytes in the buffer; 0 when unbuffered
  int32_t count;      // read mode: read-ahead bytes not yet consumed; write mode: free bytes
  int32_t fill;       // read mode: bytes in the buffer; the next byte is at fill - count
  int32_t mode;       // STREAM_READ (buffer holds read-ahead) or STREAM_WRITE (pending output)
  int32_t format;     // TEXT_UTF8, TEXT_UTF16, TEXT_UTF16BE or TEXT_ASCII
  bool read_only;     // opened by file_open_read: writes are refused
  bool error;         // once a write, flush, truncation or close failed or was refused, and
                      // once a read failed
  bool ended;         // once a read failed: nothing more is read, the file counts as ended
  int32_t unit;       // bytes of a unit of the format the last text was read in; 0 before
  bool created;       // the open made the file
  uint8_t ahead[STREAM_WINDOW_MAX];  // unbuffered: the bytes a reader looked at and left
};
static_assert(offsetof(FileStream, file) == 0, "the object table sees the native file first");

// The open stream under a number, or null.
FileStream* file_stream(intptr_t number);

// Gets at least `want` bytes of read-ahead into the buffer when the file has them; the slow
// side of stream_window.
void stream_fill(FileStream* s, int32_t want);
// The read-ahead, for a reader to look at: at least `want` bytes of it (1 to STREAM_WINDOW_MAX)
// when the file still has them. When fewer are at hand, they move to the front of the buffer and
// the rest is read from the file: as much as the buffer takes, or for an unbuffered stream only
// what is wanted. Pending output is written out first. Returns the bytes at hand, the first of
// them in `bytes`: fewer than `want` only at the end of the file or after a failed read.
inline int32_t stream_window(FileStream* s, int32_t want, const uint8_t*& bytes) {
  if (s->mode != STREAM_READ || s->count < want) stream_fill(s, want);
  bytes = s->buffer + (s->fill - s->count);
  return s->count;
}
// Consumes the first n bytes of the read-ahead, at most those stream_window gave.
inline void stream_consume(FileStream* s, int32_t n) { s->count -= n; }

// Copies up to n bytes from the file through the buffer; returns the bytes delivered (fewer at
// the end of the file). Pending output is written out first. Requests of at least the buffer
// size bypass it.
int32_t stream_read(FileStream* s, void* dst, int32_t n);
// Copies n bytes into the file through the buffer; returns the bytes taken. Unconsumed
// read-ahead is given back first. The buffer is never left full: a write that would fill it
// writes the pending bytes out first. Requests of at least the buffer size bypass it.
int32_t stream_write(FileStream* s, const void* src, int32_t n);
// Room for n bytes of output in the buffer's free space, for a writer that makes them there;
// null when the stream is not in write mode or the free space would not keep a byte free after
// them (stream_write then takes them). stream_commit adds the first n bytes made there to the
// pending output.
inline uint8_t* stream_space(FileStream* s, int64_t n) {
  if (s->mode != STREAM_WRITE || !s->size || n >= s->count) return nullptr;
  return s->buffer + (s->size - s->count);
}
inline void stream_commit(FileStream* s, int32_t n) { s->count -= n; }
// Writes out the pending output (write mode only); returns the bytes written.
int32_t stream_flush(FileStream* s);
// Records a read that failed: file_error is set, the read-ahead is dropped and the file counts
// as ended from now on.
void stream_read_failed(FileStream* s);

// The stream's own text format.
inline int32_t stream_format(const FileStream* s) { return s->format; }
