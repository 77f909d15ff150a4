// Console: whole lines to standard output, each followed by the build's line end (POSIX LF,
// Windows CR LF) and handed to the system at once. On a terminal the lines are shown: control
// characters as caret pairs, C1 controls and bytes that were not UTF-8 as U+FFFD, so that no
// text can act on the terminal. Nothing is ever read from the console.
#pragma once

#include <cstdint>

// What a window close asks of the program before the system ends it: on a thread of the
// system's, while the main thread may be in the middle of its work.
using ConsoleCloseHandler = void (*)();

// POSIX: fixes stdin, stdout and stderr to byte orientation. Windows: keeps the handler, which
// the console control handler of console_open calls when the console window is closed. Called
// by runtime_init.
void console_init(ConsoleCloseHandler on_close = nullptr);
// Opens the console for output; returns 1. POSIX: when standard input and output are one
// terminal and the run is in its foreground, turns off echo and line input on it until
// console_end (a signal that ends the process gives the settings back too, a stop gives them
// back until the run continues in the foreground); otherwise leaves the terminal alone. Output
// is always UTF-8. Windows: takes the standard output handle and installs the console control
// handler; `format` chooses the bytes written when the output is not a console: 2 UTF-8 (the
// default), 24 the ANSI code page, any other UTF-16LE.
int32_t console_open(int32_t format);
// Writes the text (null is empty) and one line end. Windows: nothing before console_open.
// To a file or a pipe, bytes that were not UTF-8 when decoded go out as they came in, and an
// unpaired high surrogate ends the line; on a terminal both show as U+FFFD. Write errors are
// ignored.
void console_write_line(const char16_t* text);
// console_write_line for the first `length` units of a text, for a line that may hold zero
// units (a zero byte of a page): each goes out as any other character (on a terminal as "^@").
// A negative length writes nothing, not even the line end.
void console_write_line_n(const char16_t* text, int32_t length);
// Ends the run's use of the console; writes nothing and changes no setting.
void console_close();
// POSIX: gives the terminal its saved settings back if console_open changed them and it still
// holds the run's (a program that changed them since keeps its own). Windows: nothing. Called
// by runtime_end.
void console_end();
