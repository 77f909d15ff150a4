// Windows side of the console: the standard output handle, WriteConsoleW with a WriteFile
// fallback for redirected output, and the console control handler.
#include <cstring>

#include "platform/sys.h"
#include "platform/win32/win32.h"
#include "runtime/strings/strings.h"

namespace {

constexpr int32_t FORMAT_UTF8 = 2;
constexpr int32_t FORMAT_ANSI = 24;

constinit HANDLE output = nullptr;  // standard output; null until sys_console_open
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

// The n units of text in the code page, then CR LF when `line_end`; nothing when memory is
// refused. The line end is added after the encoding so that a text the UTF-8 encoding cuts
// short (at an unpaired high surrogate) still ends its line.
void write_encoded(uint32_t codepage, const char16_t* text, int32_t n, bool line_end) {
  int32_t size = text_encode(codepage, 0, text, n, nullptr, 0);
  char* bytes = static_cast<char*>(sys_malloc(static_cast<size_t>(size) + 2));
  if (!bytes) return;
  int32_t length = size > 0 ? text_encode(codepage, 0, text, n, bytes, size) : 0;
  if (line_end) {
    bytes[length++] = '\r';
    bytes[length++] = '\n';
  }
  write_bytes(bytes, length);
  sys_free(bytes);
}

}  // namespace

void sys_console_init(SysCloseHandler on_close) { close_handler = on_close; }

void sys_console_open() {
  output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (output == INVALID_HANDLE_VALUE) output = nullptr;
  if (!handler_installed)
    handler_installed = SetConsoleCtrlHandler(console_ctrl_handler, TRUE) != 0;
}

void sys_console_end() {}

void sys_console_write_line(const char16_t* text, int32_t format) {
  if (!output) return;
  if (!text) text = u"";
  int32_t n = str_len(text);
  // Without memory for the line, the text goes out alone.
  auto* line = static_cast<char16_t*>(sys_heap_alloc(static_cast<size_t>(n + 2) * 2 + 2));
  const char16_t* units = text;
  int32_t count = n;
  if (line) {
    memcpy(line, text, static_cast<size_t>(n) * 2);
    line[n] = u'\r';
    line[n + 1] = u'\n';
    line[n + 2] = 0;
    units = line;
    count = n + 2;
  }
  DWORD written;
  if (!WriteConsoleW(output, wide(units), static_cast<DWORD>(count), &written, nullptr)) {
    // Not a console: a file or a pipe takes bytes in the chosen format.
    if (format == FORMAT_UTF8) {
      write_encoded(CP_UTF8, text, n, line != nullptr);
    } else if (format == FORMAT_ANSI) {
      write_encoded(CP_ACP, text, n, line != nullptr);
    } else {
      write_bytes(units, count * 2);
    }
  }
  sys_heap_free(line);
  FlushFileBuffers(output);
}
