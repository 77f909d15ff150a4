// Windows side of the file primitives: file handles from CreateFileW, with the UTF-16 names
// passed as they are.
#include "platform/sys.h"
#include "platform/win32/win32.h"

const char16_t SYS_LINE_END[] = u"\r\n";
const int32_t SYS_LINE_END_LENGTH = sizeof SYS_LINE_END / sizeof SYS_LINE_END[0] - 1;

namespace {

HANDLE handle_of(intptr_t file) { return reinterpret_cast<HANDLE>(file); }

// Only a disk file is read or written: a device, a pipe or the console is refused (a directory
// fails to open already).
HANDLE disk_file_only(HANDLE h) {
  if (h == INVALID_HANDLE_VALUE || !h) return nullptr;
  if (GetFileType(h) == FILE_TYPE_DISK) return h;
  CloseHandle(h);
  return nullptr;
}

bool identity_of(HANDLE h, FileIdentity* identity, int32_t* names) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info)) return false;
  *identity = {info.dwVolumeSerialNumber,
               static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow};
  *names = static_cast<int32_t>(info.nNumberOfLinks);
  return true;
}

HANDLE open_handle(const char16_t* name, DWORD access, DWORD share, DWORD disposition,
                   DWORD attributes) {
  return CreateFileW(wide(name ? name : u""), access, share, nullptr, disposition, attributes,
                     nullptr);
}

}  // namespace

intptr_t sys_file_open(const char16_t* name, int32_t kind, int32_t share, int32_t, int64_t,
                       bool& created) {
  kind &= ~SYS_OPEN_DIRECT;
  created = false;
  DWORD sharing = share == SYS_SHARE_ALL    ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE
                  : share == SYS_SHARE_READ ? FILE_SHARE_READ
                                            : 0;
  constexpr DWORD READ_WRITE = GENERIC_READ | GENERIC_WRITE;
  HANDLE h;
  if (kind == SYS_OPEN_READ) {
    h = open_handle(name, GENERIC_READ, sharing, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  } else if (kind == SYS_OPEN_READ_DELETE) {
    // Where the right to delete is refused, the file is still read; only its deletion fails.
    h = open_handle(name, GENERIC_READ | DELETE, sharing, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
      h = open_handle(name, GENERIC_READ, sharing, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    }
  } else {
    // Both opens that may make a file tell one they found by ERROR_ALREADY_EXISTS.
    bool update = kind == SYS_OPEN_UPDATE || kind == SYS_OPEN_UPDATE_OWN;
    h = open_handle(name, READ_WRITE, sharing, update ? OPEN_ALWAYS : CREATE_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL);
    bool opened = h != INVALID_HANDLE_VALUE && h;
    created = opened && GetLastError() != ERROR_ALREADY_EXISTS;
    if (!opened && !update) h = open_handle(name, GENERIC_WRITE, sharing, TRUNCATE_EXISTING, 0);
  }
  return reinterpret_cast<intptr_t>(disk_file_only(h));
}

int32_t sys_file_read(intptr_t file, void* dst, int32_t bytes) {
  DWORD got = 0;
  if (!ReadFile(handle_of(file), dst, static_cast<DWORD>(bytes), &got, nullptr)) return -1;
  return static_cast<int32_t>(got);
}

int32_t sys_file_write(intptr_t file, const void* src, int32_t bytes) {
  DWORD written = 0;
  if (!WriteFile(handle_of(file), src, static_cast<DWORD>(bytes), &written, nullptr)) return 0;
  return static_cast<int32_t>(written);
}

bool sys_file_seek(intptr_t file, int64_t offset, int32_t origin) {
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  return SetFilePointerEx(handle_of(file), distance, nullptr,
                          origin == SYS_SEEK_END ? FILE_END : FILE_CURRENT) != 0;
}

bool sys_file_truncate(intptr_t file) { return SetEndOfFile(handle_of(file)) != 0; }

bool sys_file_sync(intptr_t file) { return FlushFileBuffers(handle_of(file)) != 0; }

bool sys_file_close(intptr_t file) { return CloseHandle(handle_of(file)) != 0; }

FileStatus sys_file_status(intptr_t file) {
  FileStatus status = {{0, 0}, 0666, SYS_ANY_GROUP, 0};
  identity_of(handle_of(file), &status.identity, &status.names);
  return status;
}

// Through the handle the deletion reaches exactly the open file, whatever its name leads to
// now; it takes effect when the handle is closed.
int32_t sys_file_delete(intptr_t file, const char16_t*, char16_t*) {
  FILE_DISPOSITION_INFO disposition = {TRUE};
  return SetFileInformationByHandle(handle_of(file), FileDispositionInfo, &disposition,
                                    sizeof disposition)
             ? SYS_DELETE_DONE
             : SYS_DELETE_KEPT;
}
