// POSIX side of the directory library: opendir and readdir64 filtered by fnmatch, lstat64 for
// the entry type, getcwd and unlink. Paths are UTF-8 byte strings.
#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "app/memory.h"
#include "platform/sys.h"
#include "runtime/strings/strings.h"

struct DirectoryScan {
  DIR* stream;             // non-null while the scan is open
  char* pattern;           // from str_to_utf8; empty matches every name
  char* prefix;            // malloc'd: the directory with a trailing "/"
  size_t prefix_length;    // bytes before the prefix's terminator, at most PREFIX_MAX
  struct stat64 status;    // lstat64 of the current entry; only the type bits are read
  struct dirent64* entry;  // owned by the stream; null before the first entry and after the last
};

namespace {

constexpr size_t PREFIX_MAX = 4095;      // bytes of a prefix, without its terminator
constexpr size_t FULL_PATH_SIZE = 4104;  // prefix and entry name with the terminator
constexpr size_t CWD_SIZE = 4096;        // getcwd's buffer; 2 more bytes hold the "/" and a 0

}  // namespace

int32_t sys_dir_scan_size() { return sizeof(DirectoryScan); }

bool sys_dir_open(DirectoryScan* scan, const char16_t* directory, const char16_t* pattern) {
  char* dir = str_to_utf8(directory && directory[0] ? directory : u".");
  size_t length = strlen(dir);
  size_t prefix_length = length > 0 && dir[length - 1] == '/' ? length : length + 1;
  char* prefix = nullptr;
  DIR* stream = nullptr;
  if (prefix_length <= PREFIX_MAX) prefix = static_cast<char*>(malloc(prefix_length + 1));
  if (prefix) stream = opendir(dir);
  if (!stream) {
    free(prefix);
    bytes_free(dir);
    return false;
  }
  memcpy(prefix, dir, length);
  prefix[prefix_length - 1] = '/';
  prefix[prefix_length] = 0;
  bytes_free(dir);

  // Without memory for its pattern the scan would match every name, so it does not start.
  char* bytes = str_to_utf8(pattern);
  if (!bytes[0] && str_len(pattern) > 0) {
    bytes_free(bytes);
    closedir(stream);
    free(prefix);
    return false;
  }
  // fnmatch would want a dot in the name for "*.*"; the scan means every name by it.
  if (strcmp(bytes, "*.*") == 0) bytes[1] = 0;
  scan->stream = stream;
  scan->pattern = bytes;
  scan->prefix = prefix;
  scan->prefix_length = prefix_length;
  return true;
}

bool sys_dir_next(DirectoryScan* scan) {
  char path[FULL_PATH_SIZE];
  memcpy(path, scan->prefix, scan->prefix_length);
  scan->entry = nullptr;
  while (struct dirent64* entry = readdir64(scan->stream)) {
    if (scan->pattern[0] && fnmatch(scan->pattern, entry->d_name, FNM_PATHNAME) != 0) continue;
    // An entry whose path does not fit is skipped like one that vanished before lstat64.
    size_t name_length = strlen(entry->d_name);
    if (scan->prefix_length + name_length >= FULL_PATH_SIZE) continue;
    memcpy(path + scan->prefix_length, entry->d_name, name_length + 1);
    if (lstat64(path, &scan->status) != 0) continue;
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
  free(scan->prefix);
  scan->stream = nullptr;
  scan->pattern = nullptr;
  scan->prefix = nullptr;
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
