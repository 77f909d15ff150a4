// POSIX side of the directory library: opendir and readdir64 filtered by fnmatch, fstatat64 for
// the entry type, getcwd and unlink. Paths are UTF-8 byte strings.
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/posix.h"
#include "platform/sys.h"

struct DirectoryScan {
  DIR* stream;             // non-null while the scan is open
  struct dirent64* entry;  // owned by the stream; null before the first entry and after the last
  struct stat64 status;    // of the current entry, not followed; only the type bits are read
  char pattern[PATH_MAX];  // UTF-8; empty matches every name
};

namespace {

constexpr size_t CWD_SIZE = 4096;  // getcwd's buffer; 1 more byte holds the "/"

}  // namespace

int32_t sys_dir_scan_size() { return sizeof(DirectoryScan); }

bool sys_dir_open(DirectoryScan* scan, const char16_t* directory, const char16_t* pattern) {
  char dir[PATH_MAX];
  if (!native_path(directory && directory[0] ? directory : u".", dir)) return false;
  // A pattern that has no bytes would match every name, so the scan does not start then.
  if (!native_path(pattern, scan->pattern)) return false;
  // fnmatch would want a dot in the name for "*.*"; the scan means every name by it.
  if (strcmp(scan->pattern, "*.*") == 0) scan->pattern[1] = 0;
  scan->stream = opendir(dir);
  return scan->stream != nullptr;
}

// Entries are examined relative to the open directory, not by a path taken at the start: a
// folder renamed during the scan loses none of them, and no full path has to fit a buffer.
bool sys_dir_next(DirectoryScan* scan) {
  scan->entry = nullptr;
  while (struct dirent64* entry = readdir64(scan->stream)) {
    if (scan->pattern[0] && fnmatch(scan->pattern, entry->d_name, FNM_PATHNAME) != 0) continue;
    // An entry that vanished since it was listed is passed over.
    if (fstatat64(dirfd(scan->stream), entry->d_name, &scan->status, AT_SYMLINK_NOFOLLOW) != 0) {
      continue;
    }
    scan->entry = entry;
    return true;
  }
  return false;
}

bool sys_dir_entry_is_directory(const DirectoryScan* scan) {
  return (scan->status.st_mode & S_IFMT) == S_IFDIR;
}

int32_t sys_dir_entry_name(const DirectoryScan* scan, char16_t* dst) {
  return scan->entry ? from_native(scan->entry->d_name, dst, SYS_NAME_UNITS) : 0;
}

void sys_dir_close(DirectoryScan* scan) {
  closedir(scan->stream);
  scan->stream = nullptr;
  scan->entry = nullptr;
}

int32_t sys_current_directory(char16_t* dst) {
  char buffer[CWD_SIZE + 1];
  if (!getcwd(buffer, CWD_SIZE)) return 0;
  size_t length = strlen(buffer);
  // The root keeps its single "/".
  if (length > 1 && buffer[length - 1] != '/') {
    buffer[length] = '/';
    buffer[length + 1] = 0;
  }
  return from_native(buffer, dst, SYS_PATH_UNITS);
}

bool sys_delete_file(const char16_t* name) {
  char path[PATH_MAX];
  return native_path(name, path) && unlink(path) == 0;
}
