// The directory library's shared side: the scan table, the lookups by object number and the
// shutdown. Each platform's listing work sits behind the sys_dir_ primitives.
#include "runtime/fs/fs.h"

#include "platform/sys.h"
#include "runtime/objects/objects.h"
#include "runtime/strings/strings.h"

namespace {

constexpr int32_t SCAN_STEP = 16;

// Made by the first dir_examine; never destroyed.
constinit ObjTable<DirectoryScan> scans{};

}  // namespace

intptr_t dir_examine(intptr_t number, const char16_t* directory, const char16_t* pattern) {
  if (!scans.exists() && !scans.create(sys_dir_scan_size(), SCAN_STEP, dir_finish)) return 0;
  DirectoryScan* scan = scans.alloc(number);
  if (!scan) return 0;
  intptr_t handle = number == OBJ_AUTO ? scans.handle(scan) : number;
  if (!sys_dir_open(scan, directory, pattern)) {
    scans.free(handle);
    return 0;
  }
  return number == OBJ_AUTO ? handle : 1;
}

int32_t dir_next(intptr_t number) {
  DirectoryScan* scan = scans.get(number);
  return scan && sys_dir_next(scan) ? 1 : 0;
}

int32_t dir_entry_type(intptr_t number) {
  const DirectoryScan* scan = scans.get(number);
  if (!scan) return DIR_ENTRY_NONE;
  return sys_dir_entry_is_directory(scan) ? DIR_ENTRY_DIRECTORY : DIR_ENTRY_FILE;
}

// A name from the system goes straight into room reserved on the stack, and what it did not
// take is given back.
void dir_entry_name(intptr_t number, int32_t offset) {
  const DirectoryScan* scan = scans.get(number);
  if (!scan) {
    temp_empty(offset);
    return;
  }
  char16_t* dst = temp_reserve(SYS_NAME_UNITS, offset);
  int32_t length = sys_dir_entry_name(scan, dst);
  dst[length] = 0;
  temp_trim(SYS_NAME_UNITS - length);
}

void dir_finish(intptr_t number) {
  DirectoryScan* scan = scans.get(number);
  if (!scan) return;
  sys_dir_close(scan);
  scans.free(number);
}

void dir_end() { scans.free_all(); }

void fs_current_directory(int32_t offset) {
  char16_t* dst = temp_reserve(SYS_PATH_UNITS, offset);
  int32_t length = sys_current_directory(dst);
  dst[length] = 0;
  temp_trim(SYS_PATH_UNITS - length);
}

int32_t fs_delete_file(const char16_t* name) { return sys_delete_file(name) ? 1 : 0; }
