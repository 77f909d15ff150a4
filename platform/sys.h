// The few primitives that shared code needs from the operating system. platform/posix/ and
// platform/win32/ each define every one of them once, in files of the same names. A primitive
// that produces text fills the caller's buffer; where the text then lives is the caller's
// business. The platform sides know only platform/ and base/.
//
// platform/posix/ is the side for Linux with glibc 2.28 or later, and builds nowhere else: it
// uses renameat2 with RENAME_NOREPLACE (Linux 3.15, glibc 2.28), open with O_PATH (Linux),
// readdir64 and fstatat64 (glibc) and malloc_usable_size (glibc). A BSD or macOS build needs a
// side of its own for those calls.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/identity.h"

// --- Process (frame.cpp) -------------------------------------------------------------------

// POSIX: takes the character classes and case mappings (LC_CTYPE) from the environment, and
// ignores SIGPIPE and SIGXFSZ, so that a console whose reader has gone and a target beyond the
// file size limit are failed writes, not the end of the process. Windows: nothing.
void sys_process_init();
// Ends the process with the given status and never returns. POSIX: restores the terminal
// first (sys_console_end).
[[noreturn]] void sys_exit(int status);
// The one lock of the process, between the main thread and the console close handler.
// POSIX: no other thread ever enters, and both do nothing.
void sys_lock_acquire();
void sys_lock_release();

// --- Memory (memory.cpp) ------------------------------------------------------------------

// The runtime heap behind mem_alloc: POSIX the C library's heap, Windows the main heap.
// sys_heap_start creates the Windows main heap (POSIX: nothing); sys_heap_stop destroys it.
void sys_heap_start();
void sys_heap_stop();
void* sys_heap_alloc(size_t bytes);                 // zero-filled; null when refused
void* sys_heap_realloc(void* block, size_t bytes);  // added bytes undefined; null when refused
void sys_heap_free(void* block);                    // null is ignored

// The string heap: the TempStringStack and every string variable's buffer.
// Windows: a private heap made by sys_string_heap_start and destroyed with all its blocks by
// sys_string_heap_stop. POSIX: the C library's heap, and start and stop do nothing; a block of
// 8 MiB or more is offered huge pages where the system has them.
void sys_string_heap_start();
void sys_string_heap_stop();
void* sys_string_alloc(size_t bytes);
void* sys_string_realloc(void* block, size_t bytes);
void sys_string_free(void* block);

// Byte strings and heap copies of texts: malloc and free of the C library on both sides.
void* sys_malloc(size_t bytes);
void sys_free(void* block);

// --- Command line (args.cpp) --------------------------------------------------------------

// POSIX: keeps the argument vector that the system handed to main. Windows: nothing; the
// process command line is read afresh by every sys_arg.
void sys_args_set(int argc, char** argv);
// Argument `index` (0: the program) as UTF-16 in dst, at most `room` units and no terminator.
// Returns its length in units, which may be more than `room` (ask again with room enough), or
// -1 when there is no such argument. POSIX: element `index` of the vector, decoded from UTF-8.
// Windows: token `index` of GetCommandLineW without its quote characters (base/cmdline.h).
int32_t sys_arg(int32_t index, char16_t* dst, int32_t room);

// --- Text (text.cpp) ----------------------------------------------------------------------

// Case mapping, wide-string comparison and the 8-bit code page, for the string operations.
// POSIX: the process locale's tables, towlower and ISO 8859-1. Windows: CharUpperW and
// CharLowerW, msvcrt's wcsncmp and _wcsnicmp, and the ANSI code page.

// Upper-cases a zero-terminated text in place, one unit for one unit. POSIX: ASCII a to z, and
// towupper for the other units below 0x8000 when it gives one such unit.
void sys_text_upper(char16_t* text);
// Folds the unit that a case-insensitive search tests first. POSIX: the locale's single-byte
// lower-case table, for units up to 0xFF only. Windows: CharLowerW.
char16_t sys_fold_lead(char16_t unit);
// Folds any other unit of a case-insensitive search. POSIX: towlower, for units below 0x8000
// only. Windows: CharLowerW.
char16_t sys_fold(char16_t unit);
// Compares at most n units, stopping after a terminator that both share: 0 when they match.
// The folded form compares case-insensitively (POSIX: sys_fold on both sides).
int sys_text_compare(const char16_t* a, const char16_t* b, int32_t n);
int sys_text_compare_folded(const char16_t* a, const char16_t* b, int32_t n);
// True for a unit that separates the folders of a path: '/', and on Windows the backslash too.
bool sys_path_separator(char16_t unit);
// The 8-bit code page, with a resolved count (>= 1) and, for a conversion, size >= 1. A null
// dst asks for the size. Returns the bytes or units produced.
int32_t sys_ansi_encode(const char16_t* src, int32_t count, char* dst, int32_t size);
int32_t sys_ansi_decode(const char* src, int32_t count, char16_t* dst, int32_t size);

// --- Files (files.cpp) --------------------------------------------------------------------

// A native file is a pointer-sized value, 0 for none: POSIX a record of the platform's own over
// a file descriptor (its first field), which reads ahead and holds output back a block of 64 KiB
// at a time and turns between the two by itself; Windows a HANDLE, read and written as asked.

// The build's line terminator: u"\n" on POSIX, u"\r\n" on Windows.
extern const char16_t SYS_LINE_END[];
extern const int32_t SYS_LINE_END_LENGTH;  // its units

constexpr int32_t SYS_OPEN_READ = 0;    // an existing regular file (or a link to one), read only
constexpr int32_t SYS_OPEN_UPDATE = 1;  // read and write; created when missing, contents kept
constexpr int32_t SYS_OPEN_CREATE = 2;  // read and write; created, or emptied when it exists
constexpr int32_t SYS_OPEN_READ_DELETE = 3;  // as SYS_OPEN_READ, for sys_file_delete later;
                                             // Windows: with the right to delete, when granted
constexpr int32_t SYS_OPEN_UPDATE_OWN = 4;   // as SYS_OPEN_UPDATE; POSIX: a file that exists
                                             // only when it is the process user's own
constexpr int32_t SYS_OPEN_DIRECT = 0x100;   // added to a kind: POSIX every read and write
                                             // goes straight to the system (Windows: always)
// A file opened to write is a plain file: POSIX a regular file with no other name, reached
// without following a symbolic link; Windows a disk file. POSIX: a name that holds anything else
// is not opened; while the folder lets it be deleted, the open gives a handle on the name alone,
// which reads nothing and takes no write, and otherwise it fails. Windows: it fails.

constexpr int32_t SYS_SHARE_NONE = 0;  // Windows: exclusive use (POSIX ignores sharing)
constexpr int32_t SYS_SHARE_READ = 1;  // Windows: others may read meanwhile
constexpr int32_t SYS_SHARE_ALL = 2;   // Windows: others may read, write and delete meanwhile

constexpr int32_t SYS_SEEK_CURRENT = 1;
constexpr int32_t SYS_SEEK_END = 2;

// The group of sys_file_open that may have a new file's group bits: whichever it gets.
constexpr int64_t SYS_ANY_GROUP = -1;

// Opens a file by name (null is empty); 0 when it cannot be opened. SYS_OPEN_READ refuses
// anything that is not a regular file, without blocking on a FIFO or a device. POSIX, to write:
// a file that the open creates gets the permission bits given, less the umask, but their group
// bits only when its group is `group` (a group id, or SYS_ANY_GROUP). SYS_OPEN_UPDATE_OWN opens a
// file that exists only when it belongs to the user the process runs as, and takes from it every
// bit that a new file of its group would not get (it is not opened when that fails). Windows
// ignores the bits, the group and the owner. `created` tells whether the open made the file.
intptr_t sys_file_open(const char16_t* name, int32_t kind, int32_t share, int32_t permissions,
                       int64_t group, bool& created);
// Bytes read into dst: 0 at the end of the file, -1 on a read error.
int32_t sys_file_read(intptr_t file, void* dst, int32_t bytes);
// Bytes taken; fewer than asked when the system refused or shortened the write. POSIX: output
// held back fails when it goes out, at a later write, seek, truncation, sync or close, which
// then report it. A read after writing and a write after reading need no call between them.
int32_t sys_file_write(intptr_t file, const void* src, int32_t bytes);
// Each returns true on success.
bool sys_file_seek(intptr_t file, int64_t offset, int32_t origin);
// Cuts the file at its current position. POSIX: no call when the file was never longer.
bool sys_file_truncate(intptr_t file);
// Moves what was written to the storage device (POSIX fsync, Windows FlushFileBuffers).
bool sys_file_sync(intptr_t file);
// Which file is open, with its permission bits, group and number of names: the identity {0, 0},
// the bits -1, the group SYS_ANY_GROUP and the names 0 when they cannot be had. POSIX: as the
// open found or set them, from its one query of the system. Windows: the bits 0666 and
// SYS_ANY_GROUP, as access there follows the folder.
FileStatus sys_file_status(intptr_t file);

// Results of sys_file_delete.
constexpr int32_t SYS_DELETE_KEPT = 0;   // nothing was deleted; the name is as it was
constexpr int32_t SYS_DELETE_DONE = 1;   // deleted (Windows: once the handle is closed)
constexpr int32_t SYS_DELETE_ASIDE = 2;  // POSIX: nothing was deleted, and the file that was
                                         // under the name is under another, in `aside`
// Deletes the open file under `name`, the name it was opened by, and nothing else, whatever
// takes that name at any moment. Windows: through the handle, opened with SYS_OPEN_READ_DELETE;
// the name is not used. POSIX: the name is moved aside to a name of the process's own in the
// same folder and deleted there if it is the open file, else moved back; when the name was taken
// meanwhile, the moved file stays aside and its name (SYS_NAME_UNITS of room) is put in `aside`,
// terminated.
int32_t sys_file_delete(intptr_t file, const char16_t* name, char16_t* aside);
// Closes the file; false when the system reported an error (data may be lost).
bool sys_file_close(intptr_t file);

// --- Directories and file system (fs.cpp) -------------------------------------------------

// One directory listing in progress. Each side defines its own record; shared code knows only
// its size and that its first field is the pointer-sized native handle, non-zero while open.
struct DirectoryScan;
int32_t sys_dir_scan_size();
// Opens a listing of `directory` (null or empty: the current directory) for the names that
// match `pattern` (null or empty: every name) into a zero record. False when it cannot be
// listed; the record may then hold anything but an open handle.
bool sys_dir_open(DirectoryScan* scan, const char16_t* directory, const char16_t* pattern);
// Moves to the next matching entry; false at the end of the listing.
bool sys_dir_next(DirectoryScan* scan);
bool sys_dir_entry_is_directory(const DirectoryScan* scan);
// The units that an entry's name or the current directory may take at most, without a
// terminator.
constexpr int32_t SYS_NAME_UNITS = 260;
constexpr int32_t SYS_PATH_UNITS = 4098;
// The current entry's name as UTF-16 in dst (SYS_NAME_UNITS of room); returns its length, 0
// when there is no current entry.
int32_t sys_dir_entry_name(const DirectoryScan* scan, char16_t* dst);
// Closes the native handle and releases what the record owns; the caller then frees it.
void sys_dir_close(DirectoryScan* scan);
// The current directory with a trailing separator as UTF-16 in dst (SYS_PATH_UNITS of room);
// returns its length, 0 when it cannot be had or does not fit (POSIX: a path of more than 4095
// bytes before the separator; Windows: more than 259 units).
int32_t sys_current_directory(char16_t* dst);
bool sys_delete_file(const char16_t* name);

// --- Console (console.cpp) ----------------------------------------------------------------

// POSIX: byte orientation for stdin, stdout and stderr. Windows: keeps `on_close` (may be null)
// for the console control handler, which calls it on a window-close event.
using SysCloseHandler = void (*)();
void sys_console_init(SysCloseHandler on_close);
// POSIX: when standard input and output are one terminal and the process is in its foreground
// process group, saves the terminal's settings and turns off echo and line input; otherwise
// changes nothing. Once it changed them, SIGTSTP gives the settings back before the process
// stops, SIGCONT takes the terminal again when it continues in the foreground, and a signal that
// ends the process gives them back first. No terminal call stops a process in the background.
// Windows: takes the standard output handle and installs the console control handler.
void sys_console_open();
// POSIX: gives the saved settings back if sys_console_open changed them and the terminal still
// holds the run's (a program that changed them since keeps its own). Windows: nothing.
void sys_console_end();
// Writes `length` units of the text (null is empty) and the line end, which have reached the
// system when it returns (POSIX: fflush; Windows: no flush to the disk). To a terminal (POSIX:
// standard output is one; Windows: a console) the text is shown as terminal_text gives it
// (base/terminal_text.h): no control reaches the terminal. Otherwise it goes out byte for
// byte, zero units like any other character, and a high surrogate without its pair ends it. POSIX:
// UTF-8 and LF. Windows: nothing before sys_console_open; UTF-16 to a console, otherwise bytes
// chosen by the format (TEXT_UTF8, TEXT_ASCII the ANSI code page, any other UTF-16LE), each with CR
// LF. The text goes out in pieces on the stack, with no allocation: the lines reach the console
// also when memory has run out.
void sys_console_write_line(const char16_t* text, int32_t length, int32_t format);
