// The tokenizer of a Windows-style command line, shared by the command-line parameters and the
// Windows side of the platform. Tokens are separated by runs of spaces; a token that starts with
// a quote ends at the closing quote; elsewhere a quote opens a stretch in which spaces are
// ordinary; a backslash is ordinary.
#pragma once

#include <cstdint>

// Token `index` of the line (null is empty; 0 is the program's name) as [begin, end), quotes
// included. False when the line has no such token.
bool cmdline_find(const char16_t* line, int32_t index, const char16_t*& begin,
                  const char16_t*& end);

// The units of [begin, end) without its quote characters, copied to dst when it has room for
// them all (dst may be null); returns how many there are.
int32_t cmdline_unquote(const char16_t* begin, const char16_t* end, char16_t* dst, int32_t room);
