// str_find and str_replace against naive models: every start position, limit and mode, in
// place, and with the inputs lying on the TempStringStack where the result goes.
#include <algorithm>
#include <clocale>
#include <string>

#include "fuzz.h"
#include "platform/sys.h"
#include "runtime/strings/strings.h"

namespace {

int32_t first_index(int32_t start, size_t n) {
  if (start < 1) return 0;
  return std::min(start - 1, static_cast<int32_t>(n));
}

// Whether `what` matches `text` at i. A case-insensitive find folds the first unit with the
// lead table and the others in full; a replacement folds every unit in full.
bool match_at(const std::u16string& text, size_t i, const std::u16string& what, bool folded,
              bool lead_table) {
  if (what.empty() || i + what.size() > text.size()) return false;
  for (size_t j = 0; j < what.size(); ++j) {
    char16_t a = text[i + j], b = what[j];
    if (folded) {
      bool lead = lead_table && j == 0;
      a = lead ? sys_fold_lead(a) : sys_fold(a);
      b = lead ? sys_fold_lead(b) : sys_fold(b);
    }
    if (a != b) return false;
  }
  return true;
}

int32_t model_find(const std::u16string& text, const std::u16string& pattern, int32_t start,
                   bool folded) {
  if (text.empty() || pattern.empty()) return 0;
  for (size_t i = first_index(start, text.size()); i < text.size(); ++i) {
    if (match_at(text, i, pattern, folded, true)) return static_cast<int32_t>(i) + 1;
  }
  return 0;
}

std::u16string model_replace(const std::u16string& text, const std::u16string& search,
                             const std::u16string& replacement, int32_t start, int32_t limit,
                             bool folded) {
  size_t i = first_index(start, text.size());
  std::u16string out = text.substr(0, i);
  int32_t done = 0;
  while (i < text.size()) {
    if ((limit < 0 || done < limit) && match_at(text, i, search, folded, false)) {
      out += replacement;
      i += search.size();
      ++done;
    } else {
      out += text[i++];
    }
  }
  return out;
}

// A small alphabet makes matches common: letters in both cases, a dot, and letters beyond ASCII
// that some locales fold.
constexpr char16_t TEXT_ALPHABET[] = u"aAbB.\u00e9\u00c9\u0130";

// Leaves a text on the stack behind its terminator, so the next one goes after it; returns
// its offset.
int32_t push(const std::u16string& text) {
  int32_t at = temp_mark();
  str_concat(text.c_str());
  temp_restore(temp_mark() + 2);
  return at;
}

std::u16string result_at(int32_t offset) {
  std::u16string out(temp_at(offset));
  FUZZ_CHECK(temp_stack.top == offset + 2 * static_cast<int32_t>(out.size()));
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setlocale(LC_ALL, "C.UTF-8");
  temp_init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  uint8_t control = in.byte();
  int32_t start = static_cast<int8_t>(in.byte());
  int32_t limit = in.byte() % 6 - 1;
  std::u16string text = in.text(), search = in.text(), replacement = in.text();
  if (control & 8) {
    text = in_alphabet(text, TEXT_ALPHABET);
    search = in_alphabet(search, TEXT_ALPHABET);
    replacement = in_alphabet(replacement, TEXT_ALPHABET);
  }
  bool folded = control & 1;
  int32_t mode = folded ? STR_CASE_INSENSITIVE : 0;

  FUZZ_CHECK(str_find(text.c_str(), search.c_str(), start, mode) ==
             model_find(text, search, start, folded));

  std::u16string want = model_replace(text, search, replacement, start, limit, folded);
  int32_t mark = temp_mark();
  if (control & 2) {
    // The inputs on the stack, the result written over them.
    int32_t t = push(text), s = push(search), r = push(replacement);
    str_replace(temp_at(t), temp_at(s), temp_at(r), mode, start, limit, mark);
  } else {
    str_replace(text.c_str(), search.c_str(), replacement.c_str(), mode, start, limit, mark);
  }
  FUZZ_CHECK(result_at(mark) == want);
  temp_restore(mark);

  if (limit == -1 && start == 0 && !folded) {
    str_replace(text.c_str(), search.c_str(), replacement.c_str(), mark);
    FUZZ_CHECK(result_at(mark) == want);
    temp_restore(mark);
  }

  // In place: only a replacement as long as the search text is made.
  std::u16string writable = text;
  str_replace(writable.data(), search.c_str(), replacement.c_str(), mode | STR_IN_PLACE, start,
              limit, mark);
  FUZZ_CHECK(temp_stack.top == mark);
  FUZZ_CHECK(writable == (replacement.size() == search.size() ? want : text));

  // In place with a length, as lines are rewritten: a replacement no longer than the search
  // text is made where the text lies; a longer one leaves the text alone.
  if (limit == -1 && !folded) {
    writable = text;
    int32_t n = str_replace_in_place_n(writable.data(), static_cast<int32_t>(text.size()),
                                       search.c_str(), replacement.c_str(), start);
    if (replacement.size() > search.size()) {
      FUZZ_CHECK(n == -1 && writable == text);
    } else {
      FUZZ_CHECK(writable.substr(0, static_cast<size_t>(n)) == want && writable[n] == 0);
    }
  }
  return 0;
}
