// Shared pieces of the fuzz targets: a hard check that stops the run with a message, and the
// fuzzer's bytes read as small numbers and texts.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/utf8_kernels.h"

// A failed check is a finding: print what failed and abort, so libFuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

// Reads the fuzzer's input front to back; once it is used up every read gives 0.
class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  size_t left() const { return size_ - pos_; }
  const uint8_t* rest() const { return data_ + pos_; }

  // Units up to the next 0 byte (consumed) or the end. Bytes from 0x80 up become units from
  // 0x100 up, so texts hold letters beyond Latin-1 too.
  std::u16string text() {
    std::u16string out;
    while (pos_ < size_) {
      uint8_t b = data_[pos_++];
      if (b == 0) break;
      out.push_back(b < 0x80 ? b : static_cast<char16_t>(0x100 + b));
    }
    return out;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// The block kernel sets to compare with the scalar references: AVX2 and SSSE3 where this
// processor runs them, and SSE2, forced even where another would be chosen.
inline const std::vector<const Utf8Kernels*>& block_kernel_sets() {
  static const std::vector<const Utf8Kernels*> sets = [] {
    std::vector<const Utf8Kernels*> out;
    for (const Utf8Kernels* k : {utf8_avx2_kernels(), utf8_ssse3_kernels(), utf8_sse2_kernels()}) {
      if (k) out.push_back(k);
    }
    return out;
  }();
  return sets;
}

// The lengths at which an input of n bytes or units is cut to test the block kernels: a few
// either side of every 16-unit block edge up to `limit`, and so of every 32-unit one, and n
// itself.
inline std::vector<int32_t> block_cuts(int32_t n, int32_t limit = 256) {
  std::vector<int32_t> out;
  for (int32_t edge = 0; edge <= std::min(n, limit) + 4; edge += 16) {
    for (int32_t d = -4; d <= 4; ++d) {
      int32_t cut = edge + d;
      if (cut >= 0 && cut <= n && (out.empty() || cut > out.back())) out.push_back(cut);
    }
  }
  if (out.empty() || out.back() != n) out.push_back(n);
  return out;
}

// The text with each unit mapped onto a small alphabet, so that matches and special characters
// come often.
template <size_t N>
std::u16string in_alphabet(const std::u16string& text, const char16_t (&alphabet)[N]) {
  std::u16string out;
  for (char16_t c : text) out += alphabet[c % (N - 1)];
  return out;
}
