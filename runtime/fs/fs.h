// Directory scans with a wildcard pattern, the current directory and deleting a file.
//
// A scan lives under an object number: 0 and up chosen by the caller, or OBJ_AUTO (-1) for a
// dynamic handle that dir_examine returns. Text results follow the producer convention of the
// strings library: the last argument is a TempStringStack offset where the result is left.
#pragma once

#include <cstdint>

// Entry types that dir_entry_type reports.
constexpr int32_t DIR_ENTRY_NONE = 0;       // no scan under the number
constexpr int32_t DIR_ENTRY_FILE = 1;       // anything that is not a directory
constexpr int32_t DIR_ENTRY_DIRECTORY = 2;  // a directory, "." and ".." included

// Starts a scan of `directory` (null or empty: the current directory) for the names that match
// `pattern` (null or empty: every name). A scan already under the number is finished first.
// Returns 0 when the directory cannot be listed or the number is negative and not OBJ_AUTO;
// otherwise the handle for OBJ_AUTO, else 1.
// POSIX: fnmatch rules, case-sensitive, and a leading "." matches wildcards; "*.*" is "*".
// Windows: the system's find rules, case-insensitive; "*.*" also matches names without a dot.
intptr_t dir_examine(intptr_t number, const char16_t* directory, const char16_t* pattern);

// Moves to the next matching entry: non-zero when one was delivered, 0 at the end of the
// listing (and on every later call) or when no scan is under the number.
int32_t dir_next(intptr_t number);

// The current entry's type: DIR_ENTRY_FILE or DIR_ENTRY_DIRECTORY, DIR_ENTRY_NONE when no scan
// is under the number. POSIX: a symbolic link is a file whatever it points to.
int32_t dir_entry_type(intptr_t number);

// The current entry's name without its directory. Empty when no scan is under the number, and
// on POSIX also before the first entry and after the end.
void dir_entry_name(intptr_t number, int32_t offset);

// Ends the scan under the number and frees the number; does nothing when there is none.
void dir_finish(intptr_t number);

// Finishes every scan still open. Safe when no scan was ever started, and safe to repeat.
void dir_end();

// The current working directory with a trailing separator ("/" or "\"), or the empty string
// when it cannot be had or does not fit (POSIX: a path of more than 4095 bytes before the
// separator; Windows: more than 259 units).
void fs_current_directory(int32_t offset);

// Deletes a file: non-zero on success, 0 otherwise (missing, no permission, in use, null).
int32_t fs_delete_file(const char16_t* name);
