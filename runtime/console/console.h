// Console: whole lines to standard output, in UTF-8 (or the chosen format on Windows when the
// output is redirected), each followed by the build's line end and flushed at once.
#pragma once

#include <cstdint>

// POSIX: byte orientation for the standard streams; saves the terminal attributes of stdin.
void console_init();
// Opens the console for output in the given text format (2 = UTF-8). Returns 1.
int32_t console_open(int32_t format);
// Writes the text (null is empty) and one line end.
void console_write_line(const char16_t* text);
void console_close();
// POSIX: restores the saved terminal attributes.
void console_end();
