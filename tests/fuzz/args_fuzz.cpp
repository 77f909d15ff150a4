// The command-line tokenizer against a small state machine of the same rules, with the line on
// the heap and on the TempStringStack at the result offset itself.
#include <string>
#include <vector>

#include "app/args.h"
#include "fuzz.h"
#include "runtime/strings/strings.h"

namespace {

// Spaces separate tokens; a token that starts with a quote ends at the next quote; inside any
// other token a quote opens a stretch where spaces are ordinary, closed by the next quote.
// Quotes are dropped; everything else, tabs and backslashes too, is kept.
std::vector<std::u16string> model_tokens(const std::u16string& line) {
  enum State { BETWEEN, PLAIN, STRETCH, QUOTED } state = BETWEEN;
  std::vector<std::u16string> tokens;
  for (char16_t c : line) {
    switch (state) {
      case BETWEEN:
        if (c == u' ') break;
        tokens.emplace_back();
        if (c == u'"') {
          state = QUOTED;
        } else {
          tokens.back() += c;
          state = PLAIN;
        }
        break;
      case PLAIN:
        if (c == u' ') {
          state = BETWEEN;
        } else if (c == u'"') {
          state = STRETCH;
        } else {
          tokens.back() += c;
        }
        break;
      case STRETCH:
        if (c == u'"') {
          state = PLAIN;
        } else {
          tokens.back() += c;
        }
        break;
      case QUOTED:
        if (c == u'"') {
          state = BETWEEN;
        } else {
          tokens.back() += c;
        }
        break;
    }
  }
  return tokens;
}

// Token i from the tokenizer, checked to sit terminated at the offset with top on its end.
std::u16string token(const char16_t* line, int32_t index, int32_t offset, bool expected) {
  int32_t found = args_token(line, index, offset);
  FUZZ_CHECK(found == (expected ? 1 : 0));
  std::u16string text(temp_at(offset));
  FUZZ_CHECK(temp_stack.top == offset + 2 * static_cast<int32_t>(text.size()));
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  temp_init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  std::u16string line = in.text();
  std::vector<std::u16string> want = model_tokens(line);
  int32_t count = static_cast<int32_t>(want.size());

  // Each call scans the line from its start: a long line is checked at both ends only.
  auto checked = [count](int32_t i) { return i < 64 || i >= count - 16; };
  int32_t mark = temp_mark();
  for (int32_t i = 0; i <= count; ++i) {
    if (!checked(i)) continue;
    std::u16string got = token(line.c_str(), i, mark, i < count);
    FUZZ_CHECK(got == (i < count ? want[i] : u""));
    temp_restore(mark);
  }
  // The line itself on the stack, the result placed over it.
  for (int32_t i = 0; i <= count; ++i) {
    if (!checked(i)) continue;
    str_concat(line.c_str());
    std::u16string got = token(temp_at(mark), i, mark, i < count);
    FUZZ_CHECK(got == (i < count ? want[i] : u""));
    temp_restore(mark);
  }
  return 0;
}
