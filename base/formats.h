// The codes both sides of the program share for how text is stored: the text formats of files
// and of console output that is not a console, and the code pages of the conversions.
#pragma once

#include <cstdint>

constexpr int32_t TEXT_UTF8 = 2;  // UTF-8; bytes outside well-formed sequences kept as they are
// The 8-bit format, whatever its name says: POSIX ISO 8859-1, one byte a character; Windows the
// ANSI code page, which in East Asian locales takes two bytes for some characters.
constexpr int32_t TEXT_ASCII = 24;
constexpr int32_t TEXT_UTF16 = 25;    // UTF-16 code units, low byte first, as held in a String16
constexpr int32_t TEXT_UTF16BE = 26;  // UTF-16 code units, high byte first

// The numbers are part of the interface: a caller may pass the number itself.
static_assert(TEXT_UTF8 == 2 && TEXT_ASCII == 24 && TEXT_UTF16 == 25 && TEXT_UTF16BE == 26,
              "the format codes are fixed numbers");

constexpr uint32_t CODEPAGE_ANSI = 0;      // the 8-bit page of TEXT_ASCII
constexpr uint32_t CODEPAGE_UTF8 = 65001;  // UTF-8

// A format code travels in the low five bits of a flags word.
constexpr int32_t TEXT_FORMAT_MASK = 0x1F;

// The format that a code stands for: `fallback` for 0, TEXT_ASCII for every code other than
// TEXT_UTF8 and the two UTF-16 ones.
constexpr int32_t text_format_of(int32_t code, int32_t fallback) {
  code &= TEXT_FORMAT_MASK;
  if (code == 0) return fallback;
  return code == TEXT_UTF8 || code == TEXT_UTF16 || code == TEXT_UTF16BE ? code : TEXT_ASCII;
}

// Whether a format stores two bytes a unit.
constexpr bool text_is_utf16(int32_t format) {
  return format == TEXT_UTF16 || format == TEXT_UTF16BE;
}
