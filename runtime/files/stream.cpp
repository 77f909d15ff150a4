// The stream layer: one buffer per open file that serves reading and writing in turn, over the
// platform's native file.
#include "runtime/files/stream.h"

#include <cstring>

#include "platform/sys.h"

namespace {

// Writes straight to the file and records a refused or shortened write.
int32_t write_through(FileStream* s, const void* src, int32_t n) {
  int32_t written = sys_file_write(s->file, src, n);
  if (written != n) s->error = true;
  return written;
}

// Reads straight from the file; a read error counts as the end (stream_read_failed).
int32_t read_through(FileStream* s, void* dst, int32_t n) {
  int32_t got = s->ended ? 0 : sys_file_read(s->file, dst, n);
  if (got >= 0) return got;
  stream_read_failed(s);
  return 0;
}

// Leaves write mode: the pending output goes out.
void enter_read_mode(FileStream* s) {
  stream_flush(s);
  s->mode = STREAM_READ;
  s->count = 0;
  s->fill = 0;
}

}  // namespace

void stream_fill(FileStream* s, int32_t want) {
  if (s->mode == STREAM_WRITE) enter_read_mode(s);
  if (s->count >= want) return;
  int32_t keep = s->count;
  if (keep > 0) memmove(s->buffer, s->buffer + (s->fill - keep), static_cast<size_t>(keep));
  s->fill = keep;
  // A buffered stream reads as much as the buffer takes; one without a buffer reads no byte
  // that nobody asked to see, so what it reads is what its reader takes.
  int32_t end = s->size ? s->size : want;
  while (s->count < want) {
    int32_t got = read_through(s, s->buffer + s->fill, end - s->fill);
    if (got <= 0) break;
    s->fill += got;
    s->count += got;
  }
}

int32_t stream_read(FileStream* s, void* dst, int32_t n) {
  if (s->mode == STREAM_WRITE) enter_read_mode(s);
  if (n <= 0) return 0;
  auto* out = static_cast<uint8_t*>(dst);
  int32_t done = n < s->count ? n : s->count;
  memcpy(out, s->buffer + (s->fill - s->count), static_cast<size_t>(done));
  s->count -= done;
  if (done == n) return n;
  int32_t wanted = n - done;
  if (wanted < s->size) {
    int32_t got = read_through(s, s->buffer, s->size);
    s->fill = got;
    int32_t take = got < wanted ? got : wanted;
    memcpy(out + done, s->buffer, static_cast<size_t>(take));
    s->count = got - take;
    return done + take;
  }
  s->fill = 0;
  return done + read_through(s, out + done, wanted);
}

int32_t stream_write(FileStream* s, const void* src, int32_t n) {
  if (n < 0) s->error = true;  // no count of bytes: refused
  if (n <= 0) return 0;
  if (s->read_only) {
    s->error = true;
    return 0;
  }
  if (s->mode == STREAM_READ) {
    // The file is ahead of the caller by the read-ahead not yet consumed; the bytes written
    // belong right after what was consumed, so give the read-ahead back.
    if (!sys_file_seek(s->file, -static_cast<int64_t>(s->count), SYS_SEEK_CURRENT)) s->error = true;
    s->mode = STREAM_WRITE;
    s->count = s->size;
    s->fill = 0;
  }
  if (!s->size) return write_through(s, src, n);
  if (n < s->count) {
    memcpy(s->buffer + (s->size - s->count), src, static_cast<size_t>(n));
    s->count -= n;
    return n;
  }
  stream_flush(s);
  if (n < s->size) {
    memcpy(s->buffer, src, static_cast<size_t>(n));
    s->count -= n;
    return n;
  }
  return write_through(s, src, n);
}

int32_t stream_flush(FileStream* s) {
  if (s->mode != STREAM_WRITE || !s->size) return 0;
  int32_t pending = s->size - s->count;
  s->count = s->size;
  return pending > 0 ? write_through(s, s->buffer, pending) : 0;
}

void stream_read_failed(FileStream* s) {
  // The bytes after a failed read would not follow the ones delivered so far.
  s->error = true;
  s->ended = true;
  if (s->mode == STREAM_READ) s->count = 0;
}
