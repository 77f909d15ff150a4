// POSIX side of the file primitives: libc streams over UTF-8 names. Each stream is made
// unbuffered, so the file library's own buffer is the only one and a failed write shows at once.
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/posix/posix.h"
#include "platform/sys.h"

const char16_t SYS_LINE_END[] = u"\n";

namespace {

// Reads and writes stay blocking once the open is done. Of the flags that F_SETFL sets, the
// opens here ask for O_NONBLOCK alone, so clearing them all clears just that one.
bool make_blocking(int fd) { return fcntl(fd, F_SETFL, 0) == 0; }

FILE* stream_on(int fd, const char* mode) {
  FILE* stream = fdopen(fd, mode);
  if (!stream) close(fd);
  return stream;
}

// Opens for reading only a regular file. O_NONBLOCK keeps the open of a FIFO without a writer
// (or of a device) from waiting; fstat then tells what was opened, and blocking reads are
// restored for the regular file that remains.
FILE* open_regular(const char* path) {
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat status;
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || !make_blocking(fd)) {
    close(fd);
    return nullptr;
  }
  return stream_on(fd, "r");
}

// A file to write is only ever a regular file of its own: one that the name alone reaches, with
// no other name, so that nothing written through it lands anywhere else.
bool plain_file(const struct stat& status) {
  return S_ISREG(status.st_mode) && status.st_nlink == 1;
}

// Whether this process may delete the entry of `path` whose status is given: it needs write and
// search permission on the folder, and in a sticky folder the folder or the entry must be its
// own. An answer that errs says yes only where the deletion then fails, which the caller sees.
bool deletable(const char* path, const struct stat& entry) {
  char folder[PATH_MAX] = ".";
  if (const char* slash = strrchr(path, '/')) {
    size_t length = slash == path ? 1 : static_cast<size_t>(slash - path);
    if (length >= sizeof folder) return false;
    memcpy(folder, path, length);
    folder[length] = 0;
  }
  struct stat status;
  if (faccessat(AT_FDCWD, folder, W_OK | X_OK, AT_EACCESS) != 0 || stat(folder, &status) != 0) {
    return false;
  }
  uid_t me = geteuid();
  return !(status.st_mode & S_ISVTX) || me == 0 || me == status.st_uid || me == entry.st_uid;
}

// Opens for writing the plain file under the name, or makes one; a new file gets the permission
// bits given, less the umask, and goes again when the open fails after making it. Anything else
// under the name (a symbolic link, which is never followed, a FIFO or a device, which is never
// opened, a file with other names) stands in the way of a target: while the folder lets it be
// deleted, the open gives a handle on the name alone, which reads nothing and takes no write;
// otherwise it fails.
FILE* open_writable(const char* path, int32_t kind, int32_t permissions) {
  struct stat status;
  bool existed = lstat(path, &status) == 0;
  if (existed && !plain_file(status)) {
    if (S_ISDIR(status.st_mode) || !deletable(path, status)) return nullptr;
    int fd = open(path, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    return fd < 0 ? nullptr : stream_on(fd, "r");
  }
  int flags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (existed ? 0 : O_CREAT | O_EXCL);
  int fd = open(path, flags, static_cast<mode_t>(permissions & 0777));
  if (fd < 0) return nullptr;
  // What was opened may have changed since lstat; anything but a plain file is left alone.
  FILE* stream = nullptr;
  if (fstat(fd, &status) == 0 && plain_file(status) && make_blocking(fd) &&
      (kind != SYS_OPEN_CREATE || ftruncate(fd, 0) == 0)) {
    stream = fdopen(fd, "r+");
  }
  if (!stream) {
    close(fd);
    if (!existed) unlink(path);
  }
  return stream;
}

FILE* stream_of(intptr_t file) { return reinterpret_cast<FILE*>(file); }

FileIdentity identity_of(const struct stat& status) {
  return {static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)};
}

}  // namespace

intptr_t sys_file_open(const char16_t* name, int32_t kind, int32_t, int32_t permissions) {
  char path[PATH_MAX];
  if (!native_path(name, path)) return 0;
  FILE* stream =
      kind == SYS_OPEN_READ ? open_regular(path) : open_writable(path, kind, permissions);
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

bool sys_file_sync(intptr_t file) {
  FILE* stream = stream_of(file);
  return fflush(stream) == 0 && fsync(fileno(stream)) == 0;
}

bool sys_file_close(intptr_t file) { return fclose(stream_of(file)) == 0; }

bool sys_file_identity(intptr_t file, FileIdentity* identity) {
  struct stat status;
  if (fstat(fileno(stream_of(file)), &status) != 0) return false;
  *identity = identity_of(status);
  return true;
}

int32_t sys_file_permissions(intptr_t file) {
  struct stat status;
  if (fstat(fileno(stream_of(file)), &status) != 0) return -1;
  return static_cast<int32_t>(status.st_mode & 0777);
}

bool sys_name_identity(const char16_t* name, FileIdentity* identity) {
  char path[PATH_MAX];
  struct stat status;
  if (!native_path(name, path) || stat(path, &status) != 0) return false;
  *identity = identity_of(status);
  return true;
}
