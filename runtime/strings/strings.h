// Strings: String16 texts, string variables, the TempStringStack and the operations on text,
// with the UTF-8 and 8-bit conversions.
//
// A String16 is a zero-terminated array of char16_t code units; a null pointer is the empty
// string wherever a text is taken. Lengths and positions count code units; positions are
// 1-based and 0 means "not found".
//
// Producers: every operation that yields a String16 takes a byte offset into the
// TempStringStack as its last argument and leaves its result there, terminated, with `top` on
// the terminator. It returns no pointer: read the result at temp_at(offset) after the call,
// since any reservation may move the stack. A value is built at temp_mark(), consumed, and
// then dropped with temp_restore(mark) or stored with str_assign_temp(var, mark).
#pragma once

#include <cstdint>

// --- TempStringStack -----------------------------------------------------------------------

struct TempStringStack {
  char* buffer;      // heap block of capacity + 10 bytes (16 bytes right after temp_init)
  int32_t top;       // byte offset of the end of the stack; after a producer, its terminator
  int32_t capacity;  // usable bytes
};

// The process-wide stack. Read-only for callers; only the operations below change it.
extern constinit TempStringStack temp_stack;

// Starts the stack empty with a capacity of 16 bytes (Windows: in a new string heap).
void temp_init();
// Releases the stack (Windows: destroys the string heap and every variable buffer with it).
void temp_end();

inline int32_t temp_mark() { return temp_stack.top; }
inline void temp_restore(int32_t offset) { temp_stack.top = offset; }

// The text that lies at a byte offset of the stack, for reading right after its producer.
inline const char16_t* temp_at(int32_t offset) {
  return reinterpret_cast<const char16_t*>(temp_stack.buffer + offset);
}

// Makes room for n units at the offset, sets top = offset + 2n and returns the place.
// Grows by 16384 bytes beyond the need when need >= capacity - 4 (need = top + 2n), and
// shrinks back towards 1 MiB after an oversized value. Writes nothing.
char16_t* temp_reserve(int32_t n, int32_t offset);
// Gives back n units at the top (top -= 2n), for producers that reserved more than they used.
void temp_trim(int32_t n);
// 0 when p lies outside [buffer, buffer + top]; otherwise (p - buffer) + 1.
int32_t temp_locate(const void* p);
// The pointer for a temp_locate result, computed with the current buffer.
char16_t* temp_resolve(int32_t located);

// --- String variables and copies ------------------------------------------------------------

// Appends the text at top and writes a terminator; top ends on it. A null text writes only
// a 0 unit at top and leaves top where it was.
void str_concat(const char16_t* text);
// Sets a variable to a copy of the text in a buffer of 2 * length + 10 bytes, resized in place.
// A null text frees the buffer and sets the variable to null. The text must not be the
// variable's own buffer.
void str_assign(char16_t*& var, const char16_t* text);
// Stores the bytes from mark up to top as the variable's value and restores top to mark.
void str_assign_temp(char16_t*& var, int32_t mark);
// Copies n units (n >= 0) from src to dst and writes a 0 unit at dst[n].
void str_copy_n(char16_t* dst, const char16_t* src, int32_t n);
// A heap copy of a text (not null), or null when memory is refused. Free it with str_free.
char16_t* str_dup(const char16_t* text);
void str_free(char16_t* copy);

// --- Operations on text ----------------------------------------------------------------------

constexpr int32_t STR_CASE_INSENSITIVE = 1;  // str_find, str_replace: compare folded units
constexpr int32_t STR_IN_PLACE = 2;          // str_replace: rewrite the text itself
constexpr int32_t STR_DROP_EXTENSION = 1;    // str_file_part

// Number of units before the terminator; 0 for null.
int32_t str_len(const char16_t* text);
// The first n units (n clamped to 0..length).
void str_left(const char16_t* text, int32_t n, int32_t offset);
// An upper-case copy, one unit for one unit.
void str_upper(const char16_t* text, int32_t offset);
// 1 when both texts hold the same units (null equals empty), else 0. No case folding.
int32_t str_equal(const char16_t* a, const char16_t* b);
// 1-based position of the first occurrence of pattern at or after start, or 0.
int32_t str_find(const char16_t* text, const char16_t* pattern, int32_t start = 1,
                 int32_t mode = 0);
// Every occurrence of search from start on, left to right and without overlap, replaced once.
void str_replace(const char16_t* text, const char16_t* search, const char16_t* replacement,
                 int32_t offset);
void str_replace(const char16_t* text, const char16_t* search, const char16_t* replacement,
                 int32_t mode, int32_t offset);
void str_replace(const char16_t* text, const char16_t* search, const char16_t* replacement,
                 int32_t mode, int32_t start, int32_t offset);
void str_replace(const char16_t* text, const char16_t* search, const char16_t* replacement,
                 int32_t mode, int32_t start, int32_t limit, int32_t offset);
// The file part of a path (after the last separator, before a quotation mark), optionally
// without its last extension.
void str_file_part(const char16_t* path, int32_t offset);
void str_file_part(const char16_t* path, int32_t mode, int32_t offset);

// --- Conversions -----------------------------------------------------------------------------

constexpr uint32_t CP_ACP =
    0;  // the 8-bit code page: ISO 8859-1 on POSIX, the ANSI page on Windows
constexpr uint32_t CP_UTF8 = 65001;

// UTF-8 keeps any byte string: a byte that is not part of a well-formed sequence decodes to
// the unit 0xDC00 + byte, and such a unit (not after a high surrogate) encodes back to it.

// Units to bytes. count -1 means length + 1 (the terminator too). dst null: a size query.
// Returns the bytes produced or written.
int32_t text_encode(uint32_t codepage, uint32_t flags, const char16_t* src, int32_t count,
                    char* dst, int32_t size);
// Bytes to units. count -1 means strlen + 1. dst null: a size query. Returns units produced.
int32_t text_decode(uint32_t codepage, uint32_t flags, const char* src, int32_t count,
                    char16_t* dst, int32_t size);
// A new zero-terminated byte string; never null (an empty one when memory is refused).
char* str_to_utf8(const char16_t* text);
char* str_to_ansi(const char16_t* text);
void bytes_free(char* bytes);
// A zero-terminated byte string decoded onto the stack; null is the empty string.
void utf8_to_temp(const char* bytes, int32_t offset);
void ansi_to_temp(const char* bytes, int32_t offset);
