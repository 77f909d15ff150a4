// POSIX side of the directory library: opendir and readdir64 filtered by fnmatch, fstatat64 for
// the entry type, getcwd and unlink. Paths are UTF-8 byte strings.
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "runtime/memory/memory.h"
#include "platform/sys.h"
#include "runtime/strings/strings.h"

struct DirectoryScan {
  DIR* stream;             // non-null while the scan is open
  char* pattern;           // from str_to_utf8; empty matches every name
  struct stat64 status;    // of the current entry, not followed; only the type bits are read
  struct dirent64* entry;  // owned by the stream; null before the first entry and after the last
};

namespace {

constexpr size_t CWD_SIZE = 4096;  // getcwd's buffer; 2 more bytes hold the "/" and a 0

}  // namespace

int32_t sys_dir_scan_size() { return sizeof(DirectoryScan); }

bool sys_dir_open(DirectoryScan* scan, const char16_t* directory, const char16_t* pattern) {
  char* dir = str_to_utf8(directory && directory[0] ? directory : u".");
  DIR* stream = opendir(dir);
  bytes_free(dir);
  if (!stream) return false;

  // Without memory for its pattern the scan would match every name, so it does not start.
  char* bytes = str_to_utf8(pattern);
  if (!bytes[0] && str_len(pattern) > 0) {
    bytes_free(bytes);
    closedir(stream);
    return false;
  }
  // fnmatch would want a dot in the name for "*.*"; the scan means every name by it.
  if (strcmp(bytes, "*.*") == 0) bytes[1] = 0;
  scan->stream = stream;
  scan->pattern = bytes;
  return true;
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

void sys_dir_entry_name(const DirectoryScan* scan, int32_t offset) {
  utf8_to_temp(scan->entry ? scan->entry->d_name : nullptr, offset);
}

void sys_dir_close(DirectoryScan* scan) {
  closedir(scan->stream);
  bytes_free(scan->pattern);
  scan->stream = nullptr;
  scan->pattern = nullptr;
  scan->entry = nullptr;
}

void sys_current_directory(int32_t offset) {
  auto* buffer = static_cast<char*>(mem_alloc(CWD_SIZE + 2));
  if (buffer) {
    if (getcwd(buffer, CWD_SIZE)) {
      size_t length = strlen(buffer);
      // The root keeps its single "/"; the zero after the added one comes from mem_alloc.
      if (length > 1 && buffer[length - 1] != '/') buffer[length] = '/';
    } else {
      buffer[0] = 0;
    }
  }
  utf8_to_temp(buffer, offset);
  mem_free(buffer);
}

bool sys_delete_file(const char16_t* name) {
  char* bytes = str_to_utf8(name);
  int result = unlink(bytes);
  bytes_free(bytes);
  return result == 0;
}
