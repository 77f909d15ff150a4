// str_file_part in its four modes against a model written with the string searches of the
// standard library, with the path on the heap and on the TempStringStack at the result offset.
#include <string>

#include "fuzz.h"
#include "runtime/strings/strings.h"

namespace {

std::u16string model_file_part(std::u16string path, int32_t mode) {
  bool quotes = !(mode & STR_QUOTES_ORDINARY);
  if (quotes && !path.empty() && path[0] == u'"') path.erase(0, 1);
  size_t slash = path.find_last_of(u'/');
  std::u16string part = slash == std::u16string::npos ? path : path.substr(slash + 1);
  if (quotes) part = part.substr(0, part.find(u'"'));
  if (mode & STR_DROP_EXTENSION) {
    // The last dot or space decides: a dot cuts unless it is the first or the last unit.
    size_t at = part.find_last_of(u". ");
    if (at != std::u16string::npos && at > 0 && at + 1 < part.size() && part[at] == u'.') {
      part.resize(at);
    }
  }
  return part;
}

std::u16string result_at(int32_t offset) {
  std::u16string out(temp_at(offset));
  FUZZ_CHECK(temp_stack.top == offset + 2 * static_cast<int32_t>(out.size()));
  return out;
}

// A small alphabet makes separators, dots, quotes and spaces common.
constexpr char16_t PATH_ALPHABET[] = u"a/.\" \\b";

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  temp_init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  uint8_t control = in.byte();
  std::u16string path = in.text();
  if (control & 4) path = in_alphabet(path, PATH_ALPHABET);
  int32_t mode = control & 3;
  std::u16string want = model_file_part(path, mode);

  int32_t mark = temp_mark();
  str_file_part(path.c_str(), mode, mark);
  FUZZ_CHECK(result_at(mark) == want);
  temp_restore(mark);

  str_concat(path.c_str());
  str_file_part(temp_at(mark), mode, mark);
  FUZZ_CHECK(result_at(mark) == want);
  temp_restore(mark);

  if (mode == 0) {
    str_file_part(path.c_str(), mark);
    FUZZ_CHECK(result_at(mark) == want);
    temp_restore(mark);
  }
  return 0;
}
