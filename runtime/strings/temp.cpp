// The TempStringStack, string variables and plain copies.
#include <bit>
#include <cstring>

#include "base/utf8.h"
#include "platform/sys.h"
#include "runtime/strings/strings.h"

constinit TempStringStack temp_stack = {nullptr, 0, 0};

namespace {

constexpr int32_t kInitialCapacity = 16;
constexpr int32_t kGrowth = 16384;         // bytes added beyond the need
constexpr int32_t kShrinkLimit = 1048576;  // an oversized stack shrinks back to this
constexpr int32_t kSpare = 10;             // bytes beyond capacity: terminator and one more unit
constexpr int32_t kSmallValue = 512;       // bytes: a stored value's smallest buffer
constexpr int32_t kRoundedValue = 65536;   // bytes: buffers up to this size are powers of two

// A new stack: empty, with a capacity of 16 bytes in a block of 16.
void start_empty() {
  temp_stack.buffer = static_cast<char*>(sys_string_alloc(kInitialCapacity));
  if (!temp_stack.buffer) sys_exit(1);
  temp_stack.top = 0;
  temp_stack.capacity = kInitialCapacity;
}

// The stack can't go on without its buffer; no caller can recover from that.
void resize_buffer(int32_t capacity) {
  void* moved = sys_string_realloc(temp_stack.buffer, static_cast<size_t>(capacity) + kSpare);
  if (!moved) sys_exit(1);
  temp_stack.buffer = static_cast<char*>(moved);
  temp_stack.capacity = capacity;
}

// The buffer size for a stored value of `bytes`: a variable that takes one line after another
// keeps its buffer while the lines stay within a power of two, so the reallocation finds it
// large enough and leaves it in place. A long value gets what it needs.
size_t value_buffer_size(int32_t bytes) {
  uint32_t need = static_cast<uint32_t>(bytes) + kSpare;
  if (need <= kSmallValue) return kSmallValue;
  return need <= kRoundedValue ? std::bit_ceil(need) : need;
}

// Whether the value from the mark up to top is larger than the room the stack keeps.
bool oversized_value(int32_t mark) { return temp_stack.top - mark > kShrinkLimit; }

}  // namespace

void temp_init() {
  sys_string_heap_start();
  start_empty();
}

void temp_end() {
  sys_string_free(temp_stack.buffer);
  sys_string_heap_stop();
  temp_stack = {nullptr, 0, 0};
}

char16_t* temp_reserve(int32_t n, int32_t offset) {
  // The need is measured from top even when the result goes below it, so it never
  // under-estimates; the 4-byte margin keeps the terminator and the unit after it inside.
  int32_t need = temp_stack.top + 2 * n;
  if (need >= temp_stack.capacity - 4) {
    resize_buffer(need + kGrowth);
  } else if (temp_stack.capacity > kShrinkLimit) {
    resize_buffer(need > kShrinkLimit ? need : kShrinkLimit);
  }
  temp_stack.top = offset + 2 * n;
  return reinterpret_cast<char16_t*>(temp_stack.buffer + offset);
}

void temp_empty(int32_t offset) { temp_reserve(0, offset)[0] = 0; }

void temp_trim(int32_t n) { temp_stack.top -= 2 * n; }

int32_t temp_locate(const void* p) {
  const char* at = static_cast<const char*>(p);
  if (!at || at < temp_stack.buffer || at > temp_stack.buffer + temp_stack.top) return 0;
  return static_cast<int32_t>(at - temp_stack.buffer) + 1;
}

char16_t* temp_resolve(int32_t located) {
  return reinterpret_cast<char16_t*>(temp_stack.buffer + located - 1);
}

void str_concat(const char16_t* text) {
  int32_t n = str_len(text);
  int32_t at = temp_stack.top;
  int32_t located = temp_locate(text);
  char16_t* dst = temp_reserve(n, at);
  if (located) text = temp_resolve(located);
  str_copy_n(dst, text, n);
}

void str_copy_n(char16_t* dst, const char16_t* src, int32_t n) {
  if (n > 0) memmove(dst, src, static_cast<size_t>(n) * 2);
  dst[n] = 0;
}

void str_assign(char16_t*& var, const char16_t* text) {
  if (!text) {
    sys_string_free(var);
    var = nullptr;
    return;
  }
  int32_t n = str_len(text);
  var = static_cast<char16_t*>(sys_string_realloc(var, static_cast<size_t>(n) * 2 + 10));
  if (!var) sys_exit(1);
  str_copy_n(var, text, n);
}

void str_assign_temp(char16_t*& var, int32_t mark) {
  int32_t bytes = temp_stack.top - mark;
  bool oversized = oversized_value(mark);
  if (oversized && mark == 0) {
    // Alone on the stack: the variable takes the stack's block, trimmed to the value, and the
    // stack starts anew. No copy of the value, and no fresh memory for one.
    auto* taken = reinterpret_cast<char16_t*>(temp_stack.buffer);
    taken[bytes / 2] = 0;
    void* trimmed = sys_string_realloc(taken, static_cast<size_t>(bytes) + kSpare);
    sys_string_free(var);
    var = trimmed ? static_cast<char16_t*>(trimmed) : taken;
    start_empty();
    return;
  }
  var = static_cast<char16_t*>(sys_string_realloc(var, value_buffer_size(bytes)));
  if (!var) sys_exit(1);
  str_copy_n(var, temp_at(mark), bytes / 2);
  temp_stack.top = mark;
  if (oversized) temp_reserve(0, mark);  // shrinks the stack back to 1 MiB
}

char16_t* str_dup(const char16_t* text) {
  int32_t n = str_len(text);
  auto* copy = static_cast<char16_t*>(sys_malloc(static_cast<size_t>(n) * 2 + 2));
  if (copy) str_copy_n(copy, text, n);
  return copy;
}

void str_free(char16_t* copy) { sys_free(copy); }

int32_t str_len(const char16_t* text) { return utf16_length(text); }
