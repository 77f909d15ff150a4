// The conversions and the search of utf8.h through the fastest kernel set that this processor
// runs, chosen on the first call: the Windows program has no start-up code that could choose
// earlier, and every global here is constant-initialised for it.
#include "base/utf8_kernels.h"

namespace {

const Utf8Kernels* choose();

Utf8Progress first_decode(const uint8_t* src, int32_t count, char16_t* dst, int32_t room) {
  return choose()->decode(src, count, dst, room);
}
Utf8Progress first_decode_line(const uint8_t* src, int32_t count, char16_t* dst, bool more) {
  return choose()->decode_line(src, count, dst, more);
}
Utf8Progress first_encode(const char16_t* src, int32_t count, uint8_t* dst, int32_t room) {
  return choose()->encode(src, count, dst, room);
}
int32_t first_search(const char16_t* text, int32_t n, const char16_t* pattern, int32_t m) {
  return choose()->search(text, n, pattern, m);
}

// Each of them chooses the set and passes its call on.
constexpr Utf8Kernels FIRST_CALL = {first_decode, first_decode_line, first_encode, first_search};

constinit const Utf8Kernels* chosen = &FIRST_CALL;

const Utf8Kernels* choose() {
  const Utf8Kernels* best = utf8_avx2_kernels();
  if (!best) best = utf8_sse2_kernels();
  if (!best) best = utf8_scalar_kernels();
  chosen = best;
  return best;
}

}  // namespace

Utf8Progress utf8_decode(const uint8_t* src, int32_t count, char16_t* dst, int32_t room) {
  return chosen->decode(src, count, dst, room);
}

Utf8Progress utf8_decode_line(const uint8_t* src, int32_t count, char16_t* dst, bool more) {
  return chosen->decode_line(src, count, dst, more);
}

Utf8Progress utf8_encode(const char16_t* src, int32_t count, uint8_t* dst, int32_t room) {
  return chosen->encode(src, count, dst, room);
}

int32_t utf16_search(const char16_t* text, int32_t n, const char16_t* pattern, int32_t m) {
  return chosen->search(text, n, pattern, m);
}
