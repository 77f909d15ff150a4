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

#include "base/formats.h"

// --- TempStringStack -----------------------------------------------------------------------

struct TempStringStack {
  char* buffer;      // heap block of capacity + 10 bytes (16 bytes while the stack is new)
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

// The same place, for a caller that rewrites the value in place before dropping it.
inline char16_t* temp_edit(int32_t offset) {
  return reinterpret_cast<char16_t*>(temp_stack.buffer + offset);
}

// Makes room for n units at the offset, sets top = offset + 2n and returns the place.
// Grows by 16384 bytes beyond the need when need >= capacity - 4 (need = top + 2n), and
// shrinks back towards 1 MiB after an oversized value. Writes nothing.
char16_t* temp_reserve(int32_t n, int32_t offset);
// Gives back n units at the top (top -= 2n), for producers that reserved more than they used.
void temp_trim(int32_t n);
// The empty result at the offset: a terminator there, with top on it.
void temp_empty(int32_t offset);
// The length in units of the value from the mark up to top, as a producer left it (a line read
// from a file may hold zero units, so its terminator does not tell).
inline int32_t temp_length(int32_t mark) { return (temp_stack.top - mark) / 2; }
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
// Stores the bytes from mark up to top as the variable's value and restores top to mark. A
// value larger than the room the stack keeps (1 MiB) leaves no room behind: alone on the stack,
// the variable takes the stack's block and the stack starts anew; otherwise it is copied and the
// stack shrinks.
void str_assign_temp(char16_t*& var, int32_t mark);
// Copies n units (n >= 0) from src to dst, which may overlap, and writes a 0 unit at dst[n].
void str_copy_n(char16_t* dst, const char16_t* src, int32_t n);
// A heap copy of a text (not null), or null when memory is refused. Free it with str_free.
char16_t* str_dup(const char16_t* text);
void str_free(char16_t* copy);

// --- Operations on text ----------------------------------------------------------------------
// Inputs of the producers below may lie on the TempStringStack, even at the result offset.

constexpr int32_t STR_CASE_INSENSITIVE = 1;  // str_find, str_replace: compare folded units
constexpr int32_t STR_IN_PLACE = 2;          // str_replace: rewrite the text itself
constexpr int32_t STR_DROP_EXTENSION = 1;    // str_file_part: without the last extension
constexpr int32_t STR_QUOTES_ORDINARY = 2;   // str_file_part: '"' is an ordinary unit

// Number of units before the terminator; 0 for null.
int32_t str_len(const char16_t* text);
// The first n units (n clamped to 0..length).
void str_left(const char16_t* text, int32_t n, int32_t offset);
// An upper-case copy, one unit for one unit. POSIX: ASCII a to z, and the locale's upper case
// for other units below 0x8000. Windows: CharUpperW.
void str_upper(const char16_t* text, int32_t offset);
// 1 when both texts hold the same units (null equals empty), else 0. No case folding.
int32_t str_equal(const char16_t* a, const char16_t* b);
// 1-based position, counted from the text's beginning, of the first occurrence of pattern at
// or after start (below 1: from the beginning), or 0. An empty text or pattern gives 0.
// STR_CASE_INSENSITIVE compares folded units (POSIX: the locale's tables, units from 0x8000
// up unfolded; Windows: CharLowerW).
int32_t str_find(const char16_t* text, const char16_t* pattern, int32_t start = 1,
                 int32_t mode = 0);
// The case-sensitive str_find in the first `length` units of a text, for a caller that knows
// its length: the text need not be measured again.
int32_t str_find_n(const char16_t* text, int32_t length, const char16_t* pattern,
                   int32_t start = 1);
// 1-based position of the last `unit` in the first `length` units of a text, or 0.
int32_t str_find_last_n(const char16_t* text, int32_t length, char16_t unit);
// The text with the occurrences of search from start on (below 1: from the beginning), found
// left to right without overlap, each replaced once; a replacement is never searched again and
// an empty search text matches nothing. A limit stops after that many replacements (-1: none;
// every shorter form passes -1). STR_CASE_INSENSITIVE compares folded units (POSIX: towlower
// below 0x8000; Windows: _wcsnicmp). STR_IN_PLACE rewrites the text itself, which must be
// writable, and leaves nothing on the stack; it does nothing unless the replacement is as long
// as the search text.
void str_replace(const char16_t* text, const char16_t* search, const char16_t* replacement,
                 int32_t offset);
void str_replace(const char16_t* text, const char16_t* search, const char16_t* replacement,
                 int32_t mode, int32_t offset);
void str_replace(const char16_t* text, const char16_t* search, const char16_t* replacement,
                 int32_t mode, int32_t start, int32_t offset);
void str_replace(const char16_t* text, const char16_t* search, const char16_t* replacement,
                 int32_t mode, int32_t start, int32_t limit, int32_t offset);
// The case-sensitive replacement made in the first `length` units of a writable text itself,
// for a replacement no longer than the search text, so that the result fits where the text
// lies; returns the result's length and writes a 0 unit after it. A null replacement is the
// empty string. A longer replacement changes nothing and gives -1, which is no length: a caller
// checks for it before passing the result on. Neither search nor replacement may lie inside the
// text.
int32_t str_replace_in_place_n(char16_t* text, int32_t length, const char16_t* search,
                               const char16_t* replacement, int32_t start);
// The file part of a path: a leading quotation mark is skipped, the part begins after the last
// separator ('/', on Windows also the backslash) and ends before the next quotation mark.
// STR_DROP_EXTENSION cuts the part at its last dot, unless that dot is its first or last unit
// or a space follows it. With STR_QUOTES_ORDINARY quotation marks neither start nor end it.
void str_file_part(const char16_t* path, int32_t offset);
void str_file_part(const char16_t* path, int32_t mode, int32_t offset);

// --- Conversions -----------------------------------------------------------------------------

// Code pages, from base/formats.h: CODEPAGE_ANSI, the 8-bit page (POSIX: ISO 8859-1; Windows:
// the ANSI code page), and CODEPAGE_UTF8. Any other code page converts nothing. The names are
// the runtime's own, so that a file may include this header beside the system's.

// UTF-8 keeps any byte string: decoding accepts only well-formed sequences (shortest form, no
// surrogates, at most U+10FFFF), and each other byte b becomes the unit 0xDC00 + b. Encoding
// turns such a unit (0xDC80 to 0xDCFF, not part of a pair) back into its byte. An unpaired high
// surrogate ends the encoding; other unpaired low surrogates take three bytes. Both builds use
// this codec; the 8-bit page on Windows is the system's.

// Units to bytes. count -1 means length + 1 (the terminator too); src null or count 0 gives 0.
// dst null: a size query, the bytes that the conversion produces. Otherwise at most size bytes
// are written (whole UTF-8 sequences only) and their count returned; a conversion that meets an
// unpaired high surrogate before its last unit returns 0.
int32_t text_encode(uint32_t codepage, const char16_t* src, int32_t count, char* dst, int32_t size);
// Bytes to units. count -1 means strlen + 1 (a 0 byte gives a 0 unit); src null or count 0
// gives 0. dst null: a size query. Otherwise at most size units are written (a surrogate pair
// whole or not at all) and their count returned.
int32_t text_decode(uint32_t codepage, const char* src, int32_t count, char16_t* dst, int32_t size);
// A new zero-terminated byte string of the text (null is empty), owned by the caller and
// released with bytes_free. Never null: an empty string when memory is refused.
char* str_to_utf8(const char16_t* text);
char* str_to_ansi(const char16_t* text);
void bytes_free(char* bytes);
// A zero-terminated byte string decoded onto the stack at the offset; null is the empty string.
void utf8_to_temp(const char* bytes, int32_t offset);
void ansi_to_temp(const char* bytes, int32_t offset);
