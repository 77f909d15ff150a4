// POSIX side: names as the system takes and gives them, UTF-8 bytes, converted with the rules of
// base/, so that a name that was not UTF-8 comes back as the very same bytes.
#pragma once

#include <limits.h>

#include <cstdint>
#include <cstring>

#include "base/utf8.h"

// A name (null is empty) as a zero-terminated path. False when it does not fit (the system
// would refuse it as too long) or holds a high surrogate without its pair, which has no bytes:
// no other name is ever used in its place.
inline bool native_path(const char16_t* name, char (&path)[PATH_MAX]) {
  int32_t length = utf16_length(name);
  Utf8Progress done = utf8_encode(name, length, reinterpret_cast<uint8_t*>(path), PATH_MAX - 1);
  path[done.written] = 0;
  return done.read == length;
}

// A zero-terminated name from the system as UTF-16 in dst, at most `room` units without a
// terminator (each byte gives at most one unit); returns the units written.
inline int32_t from_native(const char* bytes, char16_t* dst, int32_t room) {
  auto count = static_cast<int32_t>(strlen(bytes));
  return utf8_decode(reinterpret_cast<const uint8_t*>(bytes), count, dst, room).written;
}
