// The conversions and the search of utf8.h through the fastest kernel set that this processor
// runs, chosen on the first call: the Windows program has no start-up code that could choose
// earlier, and every global here is constant-initialised for it.
#include "base/utf8_kernels.h"

namespace {

// Null until the first call. Read and written whole (relaxed atomic: a plain move here), so
// that two threads that make their first calls at once both choose, and choose the same.
constinit const Utf8Kernels* chosen = nullptr;

// Called once: kept out of line so that the calls below stay a load, a test and a jump.
[[gnu::cold, gnu::noinline]] const Utf8Kernels* choose() {
  const Utf8Kernels* best = utf8_avx2_kernels();
  if (!best) best = utf8_ssse3_kernels();
  if (!best) best = utf8_sse2_kernels();
  if (!best) best = utf8_scalar_kernels();
  __atomic_store_n(&chosen, best, __ATOMIC_RELAXED);
  return best;
}

const Utf8Kernels* kernels() {
  const Utf8Kernels* set = __atomic_load_n(&chosen, __ATOMIC_RELAXED);
  return set ? set : choose();
}

}  // namespace

Utf8Progress utf8_decode(const uint8_t* src, int32_t count, char16_t* dst, int32_t room) {
  return kernels()->decode(src, count, dst, room);
}

Utf8Progress utf8_decode_line(const uint8_t* src, int32_t count, char16_t* dst, bool more) {
  return kernels()->decode_line(src, count, dst, more);
}

Utf8Progress utf8_encode(const char16_t* src, int32_t count, uint8_t* dst, int32_t room) {
  return kernels()->encode(src, count, dst, room);
}

int32_t utf16_search(const char16_t* text, int32_t n, const char16_t* pattern, int32_t m) {
  return kernels()->search(text, n, pattern, m);
}

int32_t utf16_find_last(const char16_t* text, int32_t n, char16_t unit) {
  return kernels()->find_last(text, n, unit);
}
