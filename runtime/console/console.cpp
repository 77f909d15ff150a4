// Console: the output format and the order of the platform's console steps.
#include "runtime/console/console.h"

#include "base/formats.h"
#include "base/utf8.h"
#include "platform/sys.h"

namespace {
constinit int32_t output_format = TEXT_UTF8;  // for output that is not a console
}

void console_init(ConsoleCloseHandler on_close) { sys_console_init(on_close); }

int32_t console_open(int32_t format) {
  output_format = format;
  sys_console_open();
  return 1;
}

void console_write_line(const char16_t* text) { console_write_line_n(text, utf16_length(text)); }

void console_write_line_n(const char16_t* text, int32_t length) {
  if (length < 0) return;  // no length: nothing is written
  sys_console_write_line(text, length, output_format);
}

void console_close() {}

void console_end() { sys_console_end(); }
