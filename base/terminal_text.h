// How a console line shows on a terminal: every unit that a terminal would obey, or could not
// show, is replaced by visible text, so a page's bytes or a file's name cannot move the cursor,
// clear the screen, hide lines or forge one. Pure code, used by both platform sides.
#pragma once

#include <cstdint>

#include "base/utf8.h"

constexpr char16_t TERMINAL_REPLACEMENT = 0xFFFD;

// The units that a terminal shows for src[0..count), written into at most `room` units of dst
// (room >= 2): a C0 control other than TAB as a caret pair (U+0000 as "^@", ESC as "^[", U+001F
// as "^_"), DEL as "^?", and a C1 control (U+0080 to U+009F), a byte that was not UTF-8
// (0xDC80 to 0xDCFF) or any other surrogate without its pair as U+FFFD; every other unit as it
// is, a pair whole. Stops before the unit whose form does not fit. A high surrogate at the end of
// src has no pair: pass the text to its end.
inline Utf8Progress terminal_text(const char16_t* src, int32_t count, char16_t* dst, int32_t room) {
  int32_t i = 0, w = 0;
  while (i < count) {
    char16_t u = src[i];
    if ((u < 0x20 && u != u'\t') || u == 0x7F) {
      if (w + 2 > room) return {i, w, UTF8_ROOM};
      dst[w++] = u'^';
      dst[w++] = u == 0x7F ? u'?' : static_cast<char16_t>(u + 0x40);
      ++i;
    } else if (utf16_is_high_surrogate(u) && i + 1 < count && utf16_is_low_surrogate(src[i + 1])) {
      if (w + 2 > room) return {i, w, UTF8_ROOM};
      dst[w++] = u;
      dst[w++] = src[i + 1];
      i += 2;
    } else {
      if (w + 1 > room) return {i, w, UTF8_ROOM};
      bool hidden = (u >= 0x80 && u <= 0x9F) || (u >= 0xD800 && u <= 0xDFFF);
      dst[w++] = hidden ? TERMINAL_REPLACEMENT : u;
      ++i;
    }
  }
  return {i, w, UTF8_END};
}

// A text of `length` units shown piece by piece through `room` units of `shown` (room >= 2):
// `emit(shown, n, last)` gets each piece, at least one (an empty text gives one empty piece),
// with `last` true on the final one. A negative length is taken as 0.
template <typename Emit>
void terminal_text_pieces(const char16_t* text, int32_t length, char16_t* shown, int32_t room,
                          Emit emit) {
  if (length < 0) length = 0;
  for (;;) {
    Utf8Progress piece = terminal_text(text, length, shown, room);
    text += piece.read;
    length -= piece.read;
    emit(shown, piece.written, length == 0);
    if (length == 0) return;
  }
}
