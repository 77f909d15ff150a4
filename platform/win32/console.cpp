// Windows side of the console: the standard output handle, WriteConsoleW of the shown text to a
// console, WriteFile of the bytes to a redirected output, and the console control handler.
#include "base/formats.h"
#include "base/terminal_text.h"
#include "base/utf8.h"
#include "platform/sys.h"
#include "platform/win32/win32.h"

namespace {

// Redirected output goes out in pieces of this many units, each encoded on the stack.
constexpr int32_t PIECE_UNITS = 64;
constexpr int32_t PIECE_BYTES = 4 * PIECE_UNITS;  // UTF-8 takes 3 bytes a unit, an ANSI page 2

constexpr int32_t SHOWN_UNITS = 256;  // a console gets the shown text in pieces of this size

constinit HANDLE output = nullptr;         // standard output; null until sys_console_open
constinit bool output_is_console = false;  // from sys_console_open: the text is shown there
constinit bool handler_installed = false;
constinit SysCloseHandler close_handler = nullptr;  // from sys_console_init

// Called by the system on a thread of its own. Closing the window hands over to the program's
// handler (which writes out and closes the files); every event is left to the next handler, by
// default the one that ends the process.
BOOL WINAPI console_ctrl_handler(DWORD event) {
  if (event == CTRL_CLOSE_EVENT && close_handler) close_handler();
  return FALSE;
}

void write_bytes(const void* bytes, int32_t size) {
  DWORD written;
  WriteFile(output, bytes, static_cast<DWORD>(size), &written, nullptr);
}

// The text in UTF-8 or the ANSI code page, piece by piece. The UTF-8 encoding stops before a
// high surrogate without its pair, which ends the text; an ANSI piece ends before a pair that it
// would cut.
void write_encoded(const char16_t* text, int32_t length, int32_t format) {
  uint8_t bytes[PIECE_BYTES];
  if (format == TEXT_UTF8) {
    utf8_encode_pieces(text, length, bytes, PIECE_BYTES,
                       [](const uint8_t* piece, int32_t n) { write_bytes(piece, n); });
    return;
  }
  char* ansi = reinterpret_cast<char*>(bytes);
  for (const char16_t* p = text; length > 0;) {
    int32_t take = length < PIECE_UNITS ? length : PIECE_UNITS;
    if (take > 1 && take < length && utf16_is_high_surrogate(p[take - 1])) --take;
    write_bytes(ansi, sys_ansi_encode(p, take, ansi, PIECE_BYTES));
    p += take;
    length -= take;
  }
}

// To a console: what terminal_text shows, so that the console obeys none of the text's controls.
void write_shown(const char16_t* text, int32_t length) {
  char16_t shown[SHOWN_UNITS];
  DWORD written;
  terminal_text_pieces(
      text, length, shown, SHOWN_UNITS, [&written](const char16_t* piece, int32_t n, bool) {
        if (n) WriteConsoleW(output, wide(piece), static_cast<DWORD>(n), &written, nullptr);
      });
  WriteConsoleW(output, L"\r\n", 2, &written, nullptr);
}

}  // namespace

void sys_console_init(SysCloseHandler on_close) { close_handler = on_close; }

void sys_console_open() {
  output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (output == INVALID_HANDLE_VALUE) output = nullptr;
  DWORD mode;
  output_is_console = output && GetConsoleMode(output, &mode);
  if (!handler_installed)
    handler_installed = SetConsoleCtrlHandler(console_ctrl_handler, TRUE) != 0;
}

void sys_console_end() {}

// No FlushFileBuffers: WriteConsoleW and WriteFile have handed the line to the system when they
// return, and on a redirected output the flush would be a disk write per line.
void sys_console_write_line(const char16_t* text, int32_t length, int32_t format) {
  if (!output) return;
  if (!text) text = u"", length = 0;
  if (output_is_console) {
    write_shown(text, length);
  } else if (format == TEXT_UTF8 || format == TEXT_ASCII) {
    // Not a console: a file or a pipe takes bytes in the chosen format.
    write_encoded(text, length, format);
    write_bytes("\r\n", 2);
  } else {
    write_bytes(text, length * 2);
    write_bytes(u"\r\n", 4);
  }
}
