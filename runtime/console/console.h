// Console: whole lines to standard output, each followed by the build's line end (POSIX LF,
// Windows CR LF) and flushed at once. Nothing is ever read from the console.
#pragma once

#include <cstdint>

// What a window close asks of the program before the system ends it: on a thread of the
// system's, while the main thread may be in the middle of its work.
using ConsoleCloseHandler = void (*)();

// POSIX: fixes stdin, stdout and stderr to byte orientation and saves the terminal attributes
// of stdin. Windows: keeps the handler, which the console control handler of console_open calls
// when the console window is closed. Called by runtime_init.
void console_init(ConsoleCloseHandler on_close = nullptr);
// Opens the console for output; returns 1. POSIX: turns off echo and line input on the
// terminal until console_end (an interrupt, quit, hang-up or termination signal restores the
// terminal too); output is always UTF-8. Windows: takes the standard output handle and
// installs the console control handler; `format` chooses the bytes written when the output is
// not a console: 2 UTF-8 (the default), 24 the ANSI code page, any other UTF-16LE.
int32_t console_open(int32_t format);
// Writes the text (null is empty) and one line end. Windows: nothing before console_open.
// Bytes that were not UTF-8 when decoded go out as they came in. Write errors are ignored.
void console_write_line(const char16_t* text);
// console_write_line for the first `length` units of a text, for a line that may hold zero
// units (a zero byte of a page): each goes out as any other character.
void console_write_line_n(const char16_t* text, int32_t length);
// Ends the run's use of the console; writes nothing and changes no setting.
void console_close();
// POSIX: restores the saved terminal attributes, whether or not the console was opened.
// Windows: nothing. Called by runtime_end.
void console_end();
