// POSIX side of the file primitives: libc streams over UTF-8 names. Each stream is made
// unbuffered, so the file library's own buffer is the only one and a failed write shows at once.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/posix/posix.h"
#include "platform/sys.h"

const char16_t SYS_LINE_END[] = u"\n";
const int32_t SYS_LINE_END_LENGTH = sizeof SYS_LINE_END / sizeof SYS_LINE_END[0] - 1;

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

// The umask, which only the call that sets it tells; it is put back at once.
mode_t current_umask() {
  mode_t mask = umask(0);
  umask(mask);
  return mask;
}

// The permission bits that a file of the group `file_group` may have: `permissions`, without
// their group bits unless that group is `group` or any group will do.
mode_t bits_for(int32_t permissions, int64_t group, gid_t file_group) {
  auto bits = static_cast<mode_t>(permissions & 0777);
  if (group != SYS_ANY_GROUP && static_cast<int64_t>(file_group) != group) bits &= ~mode_t{0070};
  return bits;
}

// Gives the file just opened no more access than the caller allows. A file that the open made
// has no group bits yet when they are for one group only, as the folder decides its group: they
// are added once its group is seen to be that one (should that fail, it stays more private). A
// file that was there keeps its bits, unless only the process user's own will do: then it must
// be that, and loses every bit that a new file of its group would not get; false when it is
// another's or cannot be narrowed.
bool settle_access(int fd, const struct stat& status, bool made, bool own, int32_t permissions,
                   int64_t group) {
  bool withheld = group != SYS_ANY_GROUP && (permissions & 0070);
  if (made ? !withheld : !own) return true;
  if (!made && status.st_uid != geteuid()) return false;
  mode_t allowed = bits_for(permissions, group, status.st_gid) & ~current_umask();
  mode_t mode = status.st_mode & 07777;
  if (made) {
    if (allowed & ~mode & 0070) fchmod(fd, mode | (allowed & 0070));
    return true;
  }
  return (mode & ~allowed) == 0 || fchmod(fd, mode & allowed) == 0;
}

// Opens for writing the plain file under the name, or makes one (and deletes it again when the
// open fails after making it), with the access that settle_access gives it. Anything else
// under the name (a symbolic link, which is never followed, a FIFO or a device, which is never
// opened, a file with other names) stands in the way of a target: while the folder lets it be
// deleted, the open gives a handle on the name alone, which reads nothing and takes no write;
// otherwise it fails.
FILE* open_writable(const char* path, int32_t kind, int32_t permissions, int64_t group) {
  struct stat status;
  bool existed = lstat(path, &status) == 0;
  if (existed && !plain_file(status)) {
    if (S_ISDIR(status.st_mode) || !deletable(path, status)) return nullptr;
    int fd = open(path, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    return fd < 0 ? nullptr : stream_on(fd, "r");
  }
  int flags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (existed ? 0 : O_CREAT | O_EXCL);
  auto made_bits = static_cast<mode_t>(permissions & (group == SYS_ANY_GROUP ? 0777 : 0707));
  int fd = open(path, flags, made_bits);
  if (fd < 0) return nullptr;
  // What was opened may have changed since lstat; anything but a plain file is left alone.
  FILE* stream = nullptr;
  if (fstat(fd, &status) == 0 && plain_file(status) &&
      settle_access(fd, status, !existed, kind == SYS_OPEN_UPDATE_OWN, permissions, group) &&
      make_blocking(fd) && (kind != SYS_OPEN_CREATE || ftruncate(fd, 0) == 0)) {
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

intptr_t sys_file_open(const char16_t* name, int32_t kind, int32_t, int32_t permissions,
                       int64_t group) {
  char path[PATH_MAX];
  if (!native_path(name, path)) return 0;
  bool read = kind == SYS_OPEN_READ || kind == SYS_OPEN_READ_DELETE;
  FILE* stream = read ? open_regular(path) : open_writable(path, kind, permissions, group);
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

FileStatus sys_file_status(intptr_t file) {
  struct stat status;
  if (fstat(fileno(stream_of(file)), &status) != 0) return {{0, 0}, -1, SYS_ANY_GROUP};
  return {identity_of(status), static_cast<int32_t>(status.st_mode & 0777), status.st_gid};
}

// --- Deleting the open file ----------------------------------------------------------------
//
// No call deletes a name only while it leads to a given file: a check of the name and the
// deletion after it leave a moment in which an editor that saves by renaming its new text over
// the page would lose it. So the name is first moved aside, atomically and without replacing
// anything, to a name of the process's own in the same folder. A save that comes before the move
// is what gets moved, and is found not to be the open file and moved back; one that comes after
// it takes the free name and is never touched. The open file cannot be mistaken for a new file
// that got its inode number, as it is still open. A crash leaves the file under one of the two
// names. This costs three calls a page more than a check and a deletion (the rename, the open
// file's status and the process id), about 9 us on tmpfs and 15 us on ext4, against about 450 us
// a page of 50 KB in rename mode on tmpfs and milliseconds on a disk, where the sync weighs most.

namespace {

constexpr int ASIDE_TRIES = 16;  // aside names tried while they are taken

// A file system that cannot rename without replacing (NFS, 9p, exFAT, FAT, many FUSE and network
// file systems) refuses the flag; which code it gives depends on the system.
bool no_rename_flags() { return errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP; }

// The same for a second name: FAT and exFAT, many FUSE and network file systems make no hard
// links, and a file at its link limit takes no more.
bool no_links() {
  return errno == EPERM || errno == EOPNOTSUPP || errno == ENOSYS || errno == EMLINK;
}

// Renames `from` to `to` if nothing has the name `to`. Where the system can neither rename
// without replacing nor make a second name, the name is checked free first: only someone who
// takes it in that moment on purpose could lose a file there.
bool rename_if_free(const char* from, const char* to) {
  struct stat status;
  if (lstat(to, &status) == 0) return errno = EEXIST, false;
  return errno == ENOENT && rename(from, to) == 0;
}

// Moves `path` to the first free name ".pagehop-<process>-<n>" of its folder, put in `aside`;
// false when nothing was moved.
bool move_aside(const char* path, char (&aside)[PATH_MAX]) {
  const char* slash = strrchr(path, '/');
  size_t folder = slash ? static_cast<size_t>(slash - path) + 1 : 0;
  memcpy(aside, path, folder);
  for (int n = 0; n < ASIDE_TRIES; ++n) {
    size_t room = sizeof aside - folder;
    if (static_cast<size_t>(snprintf(aside + folder, room, ".pagehop-%d-%d",
                                     static_cast<int>(getpid()), n)) >= room) {
      return false;
    }
    if (renameat2(AT_FDCWD, path, AT_FDCWD, aside, RENAME_NOREPLACE) == 0) return true;
    if (errno == EEXIST) continue;
    if (!no_rename_flags()) return false;
    if (rename_if_free(path, aside)) return true;
    if (errno != EEXIST) return false;
  }
  return false;
}

// Moves the file at `aside` back to `path` unless that name was taken meanwhile. Without the
// flag a second name is made, which the system refuses as well for a taken name; without links
// either, the name is checked free.
bool move_back(const char* aside, const char* path) {
  if (renameat2(AT_FDCWD, aside, AT_FDCWD, path, RENAME_NOREPLACE) == 0) return true;
  if (!no_rename_flags()) return false;
  if (link(aside, path) == 0) {
    unlink(aside);
    return true;
  }
  return no_links() && rename_if_free(aside, path);
}

}  // namespace

int32_t sys_file_delete(intptr_t file, const char16_t* name, char16_t* aside_name) {
  char path[PATH_MAX], aside[PATH_MAX];
  struct stat open_file, moved;
  if (!native_path(name, path) || fstat(fileno(stream_of(file)), &open_file) != 0 ||
      !move_aside(path, aside)) {
    return SYS_DELETE_KEPT;
  }
  // A link moves as a link: what it leads to is compared, and the link is what goes.
  if (stat(aside, &moved) == 0 && moved.st_dev == open_file.st_dev &&
      moved.st_ino == open_file.st_ino && unlink(aside) == 0) {
    return SYS_DELETE_DONE;
  }
  if (move_back(aside, path)) return SYS_DELETE_KEPT;
  const char* slash = strrchr(aside, '/');
  aside_name[from_native(slash ? slash + 1 : aside, aside_name, SYS_NAME_UNITS)] = 0;
  return SYS_DELETE_ASIDE;
}
