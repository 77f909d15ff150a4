// POSIX side of the file primitives: libc streams over UTF-8 names. Each stream is made
// unbuffered, so the file library's own buffer is the only one and a failed write shows at once.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "platform/sys.h"
#include "runtime/strings/strings.h"

const char16_t SYS_LINE_END[] = u"\n";

namespace {

// Opens for reading only a regular file. O_NONBLOCK keeps the open of a FIFO without a writer
// (or of a device) from waiting; fstat then tells what was opened, and blocking reads are
// restored for the regular file that remains.
FILE* open_regular(const char* path) {
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat status;
  int fd_flags = fcntl(fd, F_GETFL);
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || fd_flags < 0 ||
      fcntl(fd, F_SETFL, fd_flags & ~O_NONBLOCK) != 0) {
    close(fd);
    return nullptr;
  }
  FILE* stream = fdopen(fd, "r");
  if (!stream) close(fd);
  return stream;
}

FILE* stream_of(intptr_t file) { return reinterpret_cast<FILE*>(file); }

}  // namespace

intptr_t sys_file_open(const char16_t* name, int32_t kind, int32_t) {
  char* path = str_to_utf8(name);
  FILE* stream = nullptr;
  if (kind == SYS_OPEN_READ) {
    stream = open_regular(path);
  } else if (kind == SYS_OPEN_UPDATE) {
    stream = fopen64(path, "r+");
    if (!stream) stream = fopen64(path, "w+");
  } else {
    stream = fopen64(path, "w+");
  }
  bytes_free(path);
  if (!stream) return 0;
  setvbuf(stream, nullptr, _IONBF, 0);
  return reinterpret_cast<intptr_t>(stream);
}

int32_t sys_file_read(intptr_t file, void* dst, int32_t bytes) {
  // A short count is the end of the file or an error; the indicators, cleared first, tell
  // which this read ran into.
  FILE* stream = stream_of(file);
  clearerr(stream);
  size_t got = fread(dst, 1, static_cast<size_t>(bytes), stream);
  return ferror(stream) ? -1 : static_cast<int32_t>(got);
}

int32_t sys_file_write(intptr_t file, const void* src, int32_t bytes) {
  return static_cast<int32_t>(fwrite(src, 1, static_cast<size_t>(bytes), stream_of(file)));
}

bool sys_file_flush(intptr_t file) { return fflush(stream_of(file)) == 0; }

bool sys_file_seek(intptr_t file, int64_t offset, int32_t origin) {
  return fseeko64(stream_of(file), offset, origin == SYS_SEEK_END ? SEEK_END : SEEK_CUR) == 0;
}

bool sys_file_truncate(intptr_t file) {
  FILE* stream = stream_of(file);
  if (fflush(stream) != 0) return false;
  off64_t position = ftello64(stream);
  return position >= 0 && ftruncate64(fileno(stream), position) == 0;
}

bool sys_file_close(intptr_t file) { return fclose(stream_of(file)) == 0; }
