// The byte-shuffle tables of the mixed-text kernels in utf8_blocks.h, made when the program is
// compiled and kept once for the whole program: the kernel files that share them are compiled
// for different instructions, but a table is only data.
#pragma once

#include <cstdint>

struct Utf8Shuffles {
  // For a mask of the eight 16-bit lanes of a vector, the byte shuffle that moves the lanes the
  // mask keeps, in order, to its front and zeros the rest.
  alignas(16) uint8_t keep_units[256][16];
  // For four units laid out as four 4-byte slots (a sequence's first, second and third byte,
  // then a spare), the byte shuffle that takes each unit's sequence, in order, to the front.
  // The index holds, for units 0 to 3, bit k when unit k takes two bytes or more and bit 4 + k
  // when it takes three.
  alignas(16) uint8_t keep_sequences[256][16];
  // The bits set in a byte.
  uint8_t bits[256];
};

constexpr Utf8Shuffles make_utf8_shuffles() {
  Utf8Shuffles t{};
  constexpr uint8_t ZERO = 0x80;  // a shuffle index with its high bit set gives a zero byte
  for (int32_t mask = 0; mask < 256; ++mask) {
    int32_t n = 0;
    for (int32_t lane = 0; lane < 8; ++lane) {
      if (!(mask >> lane & 1)) continue;
      t.keep_units[mask][n++] = static_cast<uint8_t>(2 * lane);
      t.keep_units[mask][n++] = static_cast<uint8_t>(2 * lane + 1);
    }
    t.bits[mask] = static_cast<uint8_t>(n / 2);
    while (n < 16) t.keep_units[mask][n++] = ZERO;

    n = 0;
    for (int32_t unit = 0; unit < 4; ++unit) {
      int32_t length = 1 + (mask >> unit & 1) + (mask >> (4 + unit) & 1);
      for (int32_t b = 0; b < length; ++b) {
        t.keep_sequences[mask][n++] = static_cast<uint8_t>(4 * unit + b);
      }
    }
    while (n < 16) t.keep_sequences[mask][n++] = ZERO;
  }
  return t;
}

inline constexpr Utf8Shuffles UTF8_SHUFFLES = make_utf8_shuffles();
