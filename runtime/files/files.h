// Buffered, line-oriented text files under object numbers. Each open file is a FileStream with
// a byte buffer of its own that serves reading and writing in turn, and a text format that
// says how its text is encoded. In memory all text is String16.
//
// Numbers: a fixed number of 0 or more, or OBJ_AUTO (-1) on an open to get a dynamic handle,
// which then addresses the file. Opening under a number that holds an open file closes that
// file first (flushing it). Operations on a number with no open file do nothing and return 0
// (a text result is the empty string). Texts may be null (the empty string).
//
// Text results follow the producer convention of runtime/strings/strings.h: the last argument
// is the result offset on the TempStringStack.
#pragma once

#include <cstdint>

#include "base/formats.h"
#include "base/identity.h"
#include "runtime/objects/objects.h"

// --- Formats and flags -----------------------------------------------------------------------

// Text formats: the low five bits of a flags word. 0 means the default: an open gives the file
// TEXT_UTF8; a read or a write uses the file's own format. Every code other than 0, 2, 25 and
// 26 is taken as TEXT_ASCII.
// The codes TEXT_UTF8, TEXT_ASCII, TEXT_UTF16 and TEXT_UTF16BE come from base/formats.h.
constexpr int32_t FILE_FORMAT_MASK = TEXT_FORMAT_MASK;

// Read flags of file_read_text: line ends are ordinary characters.
constexpr int32_t FILE_READ_RAW = 0x10000;

// Open flags (with a format in the low five bits; other bits are ignored).
constexpr int32_t FILE_OPEN_SHARE_READ = 0x20000;  // Windows: others may read meanwhile
constexpr int32_t FILE_OPEN_SHARE_ALL = 0x40000;   // Windows: others may also write and delete;
                                                   // wins over FILE_OPEN_SHARE_READ
constexpr int32_t FILE_NO_BUFFER = 0x80000;        // every read and write goes to the file
constexpr int32_t FILE_APPEND = 0x100000;          // file_open: start at the end of the file
constexpr int32_t FILE_OPEN_DELETE = 0x200000;     // file_open_read: for file_delete; Windows:
                                                   // asks for the right to delete the file
constexpr int32_t FILE_OPEN_OWN = 0x400000;        // file_open, POSIX: an existing file only
                                                   // when it is the process user's own (below)

// The buffer size given to each stream opened from now on, in bytes; 0 opens unbuffered.
// Nothing in the program changes it.
extern constinit int32_t file_buffer_size;

// --- Start and end -----------------------------------------------------------------------------

// Creates the file table (16 slots, growing by 16). A second call keeps the existing table.
void file_init();
// Closes every open file, as file_close(-1).
void file_end();

// --- Opening and closing -----------------------------------------------------------------------

// Opens an existing regular file (or a link to one) read-only, as text in the flags' format.
// Directories, FIFOs and devices are refused without blocking. Returns 0 on failure (the number
// stays free); otherwise the native file for a fixed number, the dynamic handle for OBJ_AUTO.
// A buffer that cannot be allocated leaves the file unbuffered; the open still succeeds.
intptr_t file_open_read(intptr_t number, const char16_t* name, int32_t flags = 0);
// The permission bits of a file that file_open or file_create makes, before the umask: read and
// write for everyone. POSIX mode bits; Windows ignores them.
constexpr int32_t FILE_PERMISSIONS_DEFAULT = 0666;
// The group of file_open and file_create that may have the group bits: whichever the file gets.
constexpr int64_t FILE_ANY_GROUP = -1;

// Opens for reading and writing, creating the file when it is missing. The contents are kept:
// writing overwrites from the start (from the end with FILE_APPEND), and bytes beyond the last
// one written stay unless file_truncate cuts them. Result as file_open_read.
// Only a plain file is opened to write: POSIX a regular file with no other name, never reached
// through a symbolic link; Windows a disk file. A name that holds anything else (a link, a FIFO,
// a device, a file with more names) is never opened. POSIX: while the folder lets that name be
// deleted, so that a file could take its place, the open succeeds with a file that reads as empty
// and refuses every write (file_error); otherwise, and always on Windows, it fails.
// POSIX access: a file that the open makes gets `permissions` less the umask, but their group
// bits only when its group (which the folder decides) is `group`. A file that exists keeps its
// own; with FILE_OPEN_OWN it is opened only when it belongs to the user the process runs as, and
// loses every bit that a new file of its group would not get, and otherwise the open fails.
// Windows ignores the bits, the group and FILE_OPEN_OWN.
intptr_t file_open(intptr_t number, const char16_t* name, int32_t flags = 0,
                   int32_t permissions = FILE_PERMISSIONS_DEFAULT, int64_t group = FILE_ANY_GROUP);
// Non-zero when the open of the file under the number made it (nothing had its name); 0 when the
// file was there already, and when no file is open.
int32_t file_created(intptr_t number);

// Opens for reading and writing, creating the file or emptying an existing one, under the rules
// of file_open. Windows: when that is refused, retries to empty it write-only (the file then
// reads as empty).
intptr_t file_create(intptr_t number, const char16_t* name, int32_t flags = 0,
                     int32_t permissions = FILE_PERMISSIONS_DEFAULT,
                     int64_t group = FILE_ANY_GROUP);

// Writes out the buffer, closes the file and frees the number. Returns 1 when the file was open
// and every byte written to it reached the file and every read of it succeeded (nothing that
// file_error reports happened); 0 otherwise, and 0 when no file is open under the number.
// With -1, closes every open file (fixed numbers ascending, then dynamic ones newest first) and
// returns 1 when none of them reported a failure.
int32_t file_close(intptr_t number);

// Non-zero once any write to the open file failed: the system refused or shortened a write, a
// flush or a truncation, a read-only file was written to, or the encoded copy of a text could
// not be allocated; and once a read failed: the system reported a read error, read-ahead could
// not be given back, or a text's working buffer could not be had (the file then reads as
// ended). It stays set until the file is closed. 0 when no file is open.
int32_t file_error(intptr_t number);

// Writes out the buffer and cuts the file at the current position (after the bytes consumed or
// written so far). Returns 1 on success; 0 on failure (also recorded by file_error), for a
// read-only file, and when no file is open.
int32_t file_truncate(intptr_t number);

// Writes out the buffer and has the system move everything written to the storage device, so
// that it outlasts a crash of the machine. Returns 1 on success; 0 on failure (also recorded
// by file_error) and when no file is open.
int32_t file_sync(intptr_t number);

// Results of file_delete.
constexpr int32_t FILE_KEPT = 0;       // nothing was deleted, the name is as it was
constexpr int32_t FILE_DELETED = 1;    // the file goes (Windows: once it is closed)
constexpr int32_t FILE_SET_ASIDE = 2;  // POSIX: nothing was deleted, but the file found under
                                       // the name stays under the aside name: the name was
                                       // taken again before it could be put back
// Deletes the file open under the number, which was opened under `name` (read-only, on Windows
// with FILE_OPEN_DELETE), and never another file, whatever takes the name at any moment; the file
// stays open. FILE_KEPT when the name leads to another file or none, when no file is open, and
// when the system refuses. POSIX: the name is moved aside for the check, to a hidden name of the
// process's own in the same folder, and moved back when it is not the open file; should that
// name have been taken meanwhile, FILE_SET_ASIDE, and the aside name is left at the offset (the
// empty string otherwise). A crash leaves the file under one of the two names.
int32_t file_delete(intptr_t number, const char16_t* name, int32_t offset);

// Which file is open under the number, with its permission bits, group and number of names
// (hard links; 0 when unknown), from one query of the system: as file_identity and
// file_permissions give them.
FileStatus file_status(intptr_t number);
// Which file is open under the number: {0, 0} when none is or the system cannot tell.
FileIdentity file_identity(intptr_t number);
// The open file's POSIX permission bits (0777 at most), and its group id in `group` when one
// is given; -1 and FILE_ANY_GROUP when no file is open or the system cannot tell. Windows: 0666
// and FILE_ANY_GROUP.
int32_t file_permissions(intptr_t number, int64_t* group = nullptr);

// --- Reading -------------------------------------------------------------------------------------

// Non-zero when no character is left to read, and once a read of the file failed (file_error).
// A character takes at least one byte, or two in the UTF-16 formats: of the format that the last
// text read used (before any, the file's own), so that a loop that reads UTF-16 text until the
// end ends at a last odd byte, which stays to be read by file_read_bytes. A file with buffered
// output is written out first.
int32_t file_eof(intptr_t number);

// Takes a UTF-16 byte-order mark at the start of an open file as its format: FF FE makes the
// file TEXT_UTF16, FE FF TEXT_UTF16BE; any other start leaves the format as it is. The mark
// stays to be read, as the character U+FEFF. Returns the file's format; 0 when no file is open.
int32_t file_detect_format(intptr_t number);

// Reads text in the format of the read flags (0: the file's) onto the stack at the offset,
// with top on its terminator. Line mode (without FILE_READ_RAW): the text up to the next LF,
// CR LF or lone CR, without it; in UTF-8 and UTF-16 a zero is a character like any other and
// the line may hold zero units, so its length is top - offset. Raw mode, and the 8-bit format:
// a zero character ends the text and is dropped. Raw mode keeps line ends and reads on. The end
// of the file ends the text too; a last byte of UTF-16 that makes no whole unit stays unread.
// `limit` counts characters read, line ends included; -1 means none. UTF-8: a byte that does
// not begin a well-formed sequence is a character of its own, kept as a unit 0xDC00 + byte
// (written back as that byte).
void file_read_text(intptr_t number, int32_t flags, int32_t limit, int32_t offset);
// The next line: file_read_text with flags 0 and no limit.
void file_read_line(intptr_t number, int32_t offset);
// Reads the next run of lines onto the stack at the offset, with top on its terminator, each line
// followed by one LF unit whatever its line end (LF, CR LF or a lone CR), and a last line that
// has none given one: every line whose end is in the read-ahead, decoded at once, for a UTF-8
// file read through a buffer in its own format; otherwise one line, as file_read_line reads it.
// The empty string at the end of the file. The lines are those that file_read_line reads.
void file_read_lines(intptr_t number, int32_t offset);
// Reads up to n bytes as they are, through the buffer: what a text reader left (a last byte of
// UTF-16 that makes no unit). Returns the bytes delivered; 0 at the end and with no open file.
int32_t file_read_bytes(intptr_t number, void* dst, int32_t n);

// --- Writing -------------------------------------------------------------------------------------

// Writes the text in the format given (0: the file's), without a terminator. Returns the bytes
// taken for it; 0 for an empty text, a refused write or no open file.
int32_t file_write_string(intptr_t number, const char16_t* text, int32_t format = 0);
// Writes the text and then the build's line terminator (LF on POSIX, CR LF on Windows), both in
// the format given.
void file_write_line(intptr_t number, const char16_t* text, int32_t format = 0);
// file_write_line for the first `length` units of a text, for a caller that knows its length:
// the text is not measured again, and zero units inside it are written like any other. A
// negative length (of the counted writers and of file_write_bytes) is no length: nothing is
// written, not even the line end, and file_error is set.
void file_write_line_n(intptr_t number, const char16_t* text, int32_t length, int32_t format = 0);
// Writes a run of lines as file_read_lines gives them: the first `length` units of a text in
// which each LF unit ends a line, every line written as file_write_line_n writes it (units after
// a last LF as by file_write_string). On a build whose line terminator is LF a UTF-8 run is
// encoded as one text.
void file_write_lines_n(intptr_t number, const char16_t* text, int32_t length,
                        int32_t format = 0);
// Writes n bytes as they are; returns the bytes taken (0 with no open file).
int32_t file_write_bytes(intptr_t number, const void* src, int32_t n);
