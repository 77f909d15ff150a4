// POSIX side of the file primitives: a record of our own over a file descriptor, with UTF-8
// names. The record keeps one block of read-ahead or of pending output, so that the file
// library's small buffer above it costs a system call per block, not per buffer, and the file's
// status from the one query made when it was opened.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/posix/posix.h"
#include "platform/sys.h"

const char16_t SYS_LINE_END[] = u"\n";
const int32_t SYS_LINE_END_LENGTH = sizeof SYS_LINE_END / sizeof SYS_LINE_END[0] - 1;

namespace {

// The bytes a file moves to and from the system at a time, unless it is direct.
constexpr int32_t BLOCK = 64 * 1024;

// One open file. The block holds either read-ahead (the bytes [next, fill) are the file's from
// the caller's position on; the descriptor stands after them) or pending output (the bytes
// [0, fill) belong at `base`, where the descriptor stands), never both. `base` is the file
// position of the block's first byte.
struct NativeFile {
  int fd;
  bool direct;     // every read and write goes straight to the system
  bool writing;    // the block holds pending output
  uint8_t* block;  // BLOCK bytes, allocated at the first buffered read or write; null before
  int32_t next;    // read-ahead: the next byte to hand out
  int32_t fill;    // bytes in the block
  int64_t base;    // file position of the block's first byte
  int64_t extent;  // the file's size as far as this process knows: at the open, and written
  struct stat status;  // from the open, with the bits the open set
};

NativeFile* native(intptr_t file) { return reinterpret_cast<NativeFile*>(file); }

// Reads that a signal cut short are repeated; the result is that of read(2).
ssize_t read_some(int fd, void* dst, size_t bytes) {
  ssize_t got;
  do got = read(fd, dst, bytes);
  while (got < 0 && errno == EINTR);
  return got;
}

// Writes every byte unless the system refuses; returns the bytes written.
int64_t write_all(int fd, const uint8_t* src, int64_t bytes) {
  int64_t done = 0;
  while (done < bytes) {
    ssize_t wrote = write(fd, src + done, static_cast<size_t>(bytes - done));
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) break;
    done += wrote;
  }
  return done;
}

// Writes the pending output out; false when the system refused part of it, which is dropped.
bool write_out(NativeFile* f) {
  if (!f->writing) return true;
  int64_t done = write_all(f->fd, f->block, f->fill);
  bool ok = done == f->fill;
  f->base += done;
  if (f->base > f->extent) f->extent = f->base;
  f->fill = 0;
  f->writing = false;
  if (!ok) f->base = lseek64(f->fd, 0, SEEK_CUR);
  return ok;
}

// The caller's position in the file.
int64_t position(const NativeFile* f) { return f->base + (f->writing ? f->fill : f->next); }

// Drops the read-ahead, moving the descriptor back to the caller's position.
bool give_back(NativeFile* f) {
  if (f->writing) return true;
  int32_t ahead = f->fill - f->next;
  f->base += f->next;
  f->next = f->fill = 0;
  return ahead == 0 || lseek64(f->fd, f->base, SEEK_SET) == f->base;
}

// Blocks of closed files wait here for the next open, so that a run over many pages takes the
// same two blocks again instead of scattering new ones over the heap.
constinit uint8_t* spare_blocks[2] = {};

bool has_block(NativeFile* f) {
  if (!f->block && !f->direct) {
    for (uint8_t*& spare : spare_blocks) {
      if (spare) {
        f->block = spare;
        spare = nullptr;
        break;
      }
    }
    if (!f->block) f->block = static_cast<uint8_t*>(malloc(BLOCK));
    if (!f->block) f->direct = true;
  }
  return f->block != nullptr;
}

void release_block(uint8_t* block) {
  for (uint8_t*& spare : spare_blocks) {
    if (!spare) {
      spare = block;
      return;
    }
  }
  free(block);
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

// The umask, which only the call that sets it tells; it is put back at once. Read once a run:
// nothing in the program changes it.
mode_t current_umask() {
  static constinit mode_t mask = 0;
  static constinit bool known = false;
  if (!known) {
    mask = umask(0);
    umask(mask);
    known = true;
  }
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
// another's or cannot be narrowed. The status follows the bits set.
bool settle_access(int fd, struct stat& status, bool made, bool own, int32_t permissions,
                   int64_t group) {
  bool withheld = group != SYS_ANY_GROUP && (permissions & 0070);
  if (made ? !withheld : !own) return true;
  if (!made && status.st_uid != geteuid()) return false;
  mode_t allowed = bits_for(permissions, group, status.st_gid) & ~current_umask();
  mode_t mode = status.st_mode & 07777;
  mode_t wanted = made ? mode | (allowed & 0070) : mode & allowed;
  if (wanted == mode) return true;
  if (fchmod(fd, wanted) == 0) {
    status.st_mode = (status.st_mode & ~mode_t{07777}) | wanted;
    return true;
  }
  return made;
}

// Opens for reading only a regular file. O_NONBLOCK keeps the open of a FIFO without a writer
// (or of a device) from waiting; fstat then tells what was opened. A regular file ignores the
// flag, so it stays.
int open_regular(const char* path, struct stat& status) {
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(fd);
    return -1;
  }
  return fd;
}

// Opens for writing the plain file under the name, or makes one (and deletes it again when the
// open fails after making it), with the access that settle_access gives it. Anything else
// under the name (a symbolic link, which is never followed, a FIFO or a device, which is never
// opened, a file with other names) stands in the way of a target: while the folder lets it be
// deleted, the open gives a handle on the name alone, which reads nothing and takes no write;
// otherwise it fails.
int open_writable(const char* path, int32_t kind, int32_t permissions, int64_t group,
                  struct stat& status, bool& made, bool& name_only) {
  bool existed = lstat(path, &status) == 0;
  made = false;
  name_only = existed && !plain_file(status);
  if (name_only) {
    if (S_ISDIR(status.st_mode) || !deletable(path, status)) return -1;
    return open(path, O_PATH | O_NOFOLLOW | O_CLOEXEC);
  }
  int flags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (existed ? 0 : O_CREAT | O_EXCL);
  auto made_bits = static_cast<mode_t>(permissions & (group == SYS_ANY_GROUP ? 0777 : 0707));
  int fd = open(path, flags, made_bits);
  if (fd < 0) return -1;
  // What was opened may have changed since lstat; anything but a plain file is left alone.
  if (fstat(fd, &status) == 0 && plain_file(status) &&
      settle_access(fd, status, !existed, kind == SYS_OPEN_UPDATE_OWN, permissions, group) &&
      (kind != SYS_OPEN_CREATE || status.st_size == 0 || ftruncate(fd, 0) == 0)) {
    if (kind == SYS_OPEN_CREATE) status.st_size = 0;
    made = !existed;
    return fd;
  }
  close(fd);
  if (!existed) unlink(path);
  return -1;
}

FileIdentity identity_of(const struct stat& status) {
  return {static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)};
}

}  // namespace

intptr_t sys_file_open(const char16_t* name, int32_t kind, int32_t, int32_t permissions,
                       int64_t group, bool& created) {
  created = false;
  char path[PATH_MAX];
  if (!native_path(name, path)) return 0;
  int32_t open_kind = kind & ~SYS_OPEN_DIRECT;
  bool read = open_kind == SYS_OPEN_READ || open_kind == SYS_OPEN_READ_DELETE;
  struct stat status;
  bool made = false, name_only = false;
  int fd = read ? open_regular(path, status)
                : open_writable(path, open_kind, permissions, group, status, made, name_only);
  if (fd < 0) return 0;
  auto* f = static_cast<NativeFile*>(malloc(sizeof(NativeFile)));
  if (!f) {
    close(fd);
    if (made) unlink(path);
    return 0;
  }
  // A handle on the name alone takes no write: it is refused at once, not when a block goes out.
  *f = NativeFile{fd, name_only || (kind & SYS_OPEN_DIRECT) != 0, false, nullptr, 0, 0, 0,
                  static_cast<int64_t>(status.st_size), status};
  created = made;
  return reinterpret_cast<intptr_t>(f);
}

int32_t sys_file_read(intptr_t file, void* dst, int32_t bytes) {
  NativeFile* f = native(file);
  if (f->writing && !write_out(f)) return -1;
  auto* out = static_cast<uint8_t*>(dst);
  int32_t done = 0;
  while (done < bytes) {
    int32_t ahead = f->fill - f->next;
    if (ahead > 0) {
      int32_t take = ahead < bytes - done ? ahead : bytes - done;
      memcpy(out + done, f->block + f->next, static_cast<size_t>(take));
      f->next += take;
      done += take;
      continue;
    }
    // The block is used up: what is left of the request goes straight to the caller when it
    // is a block or more, or when the file is direct; otherwise a block is read ahead.
    f->base += f->fill;
    f->next = f->fill = 0;
    int32_t wanted = bytes - done;
    bool straight = wanted >= BLOCK || !has_block(f);
    ssize_t got = straight ? read_some(f->fd, out + done, static_cast<size_t>(wanted))
                           : read_some(f->fd, f->block, BLOCK);
    if (got < 0) return -1;
    if (got == 0) break;
    if (straight) {
      f->base += got;
      done += static_cast<int32_t>(got);
    } else {
      f->fill = static_cast<int32_t>(got);
    }
  }
  return done;
}

int32_t sys_file_write(intptr_t file, const void* src, int32_t bytes) {
  NativeFile* f = native(file);
  if (!f->writing && !give_back(f)) return 0;
  const auto* in = static_cast<const uint8_t*>(src);
  if (bytes > BLOCK - f->fill && !write_out(f)) return 0;
  if (bytes >= BLOCK || !has_block(f)) {
    int64_t at = position(f);
    int64_t done = write_all(f->fd, in, bytes);
    f->base = at + done;
    if (f->base > f->extent) f->extent = f->base;
    return static_cast<int32_t>(done);
  }
  memcpy(f->block + f->fill, in, static_cast<size_t>(bytes));
  f->fill += bytes;
  f->writing = true;
  return bytes;
}

bool sys_file_seek(intptr_t file, int64_t offset, int32_t origin) {
  NativeFile* f = native(file);
  bool ok = write_out(f);
  // Where the descriptor stands already (the turn from reading at the end of the read-ahead to
  // writing), no call is made.
  int64_t at = position(f) + offset;
  if (origin == SYS_SEEK_END) {
    at = lseek64(f->fd, offset, SEEK_END);
  } else if (at != f->base + f->fill) {
    at = lseek64(f->fd, at, SEEK_SET);
  }
  f->next = f->fill = 0;
  if (at < 0) {
    f->base = lseek64(f->fd, 0, SEEK_CUR);
    return false;
  }
  f->base = at;
  return ok;
}

bool sys_file_truncate(intptr_t file) {
  // Nothing lies beyond the position when the file was never longer: the cut is then no call.
  NativeFile* f = native(file);
  if (!write_out(f) || !give_back(f)) return false;
  int64_t at = position(f);
  if (f->extent <= at) return true;
  if (ftruncate64(f->fd, at) != 0) return false;
  f->extent = at;
  return true;
}

bool sys_file_sync(intptr_t file) {
  NativeFile* f = native(file);
  return write_out(f) && fsync(f->fd) == 0;
}

bool sys_file_close(intptr_t file) {
  NativeFile* f = native(file);
  bool ok = write_out(f);
  ok = close(f->fd) == 0 && ok;
  if (f->block) release_block(f->block);
  free(f);
  return ok;
}

FileStatus sys_file_status(intptr_t file) {
  const struct stat& status = native(file)->status;
  return {identity_of(status), static_cast<int32_t>(status.st_mode & 0777), status.st_gid,
          static_cast<int32_t>(status.st_nlink)};
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
// names. This costs one call a page more than a check and a deletion (the rename; the open
// file's status is the one taken at its open, the process id is asked once a run).

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
  static constinit int process = 0;  // asked once a run
  if (!process) process = static_cast<int>(getpid());
  for (int n = 0; n < ASIDE_TRIES; ++n) {
    size_t room = sizeof aside - folder;
    if (static_cast<size_t>(snprintf(aside + folder, room, ".pagehop-%d-%d", process, n)) >=
        room) {
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
  struct stat moved;
  const struct stat& open_file = native(file)->status;
  if (!native_path(name, path) || !move_aside(path, aside)) {
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
