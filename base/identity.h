// Which file an open file or a name stands for, as the platform sides and the libraries above
// them exchange it. Two equal identities are one file, under whatever names.
#pragma once

#include <cstdint>

struct FileIdentity {
  uint64_t volume;  // POSIX: the device; Windows: the volume's serial number
  uint64_t file;    // POSIX: the inode; Windows: the file index; 0 when unknown
};

// What an open file is and who may use it: its identity, its POSIX permission bits (0777 at
// most) and its group id; -1 for group or bits when they cannot be had. And how many names it
// has (hard links); 0 when that cannot be had.
struct FileStatus {
  FileIdentity identity;
  int32_t permissions;
  int64_t group;
  int32_t names;
};

// True when both are known and name the same file.
inline bool same_file(const FileIdentity& a, const FileIdentity& b) {
  return a.file != 0 && a.file == b.file && a.volume == b.volume;
}
