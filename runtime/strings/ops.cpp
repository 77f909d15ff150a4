// Operations on String16 texts: leading part, upper case, equality, search, replacement and
// the file part of a path. Results go onto the TempStringStack by the producer convention.
#include <cstring>

#include "base/utf8.h"
#include "platform/sys.h"
#include "runtime/strings/strings.h"

namespace {

constexpr int32_t NO_LIMIT = -1;

// Leaves the n units at `from` on the stack at the offset and returns their place; `from` may
// lie on the stack itself, at the offset or above it.
char16_t* produce_part(const char16_t* from, int32_t n, int32_t offset) {
  int32_t located = temp_locate(from);
  char16_t* dst = temp_reserve(n, offset);
  if (located) from = temp_resolve(located);
  str_copy_n(dst, from, n);
  return dst;
}

// Whether the search text matches at text[i]. The case-sensitive test looks at the first unit
// before comparing the whole search text; an empty search text never matches.
bool matches_at(const char16_t* text, int32_t i, const char16_t* search, int32_t m, bool folded) {
  if (m == 0) return false;
  if (folded) return sys_text_compare_folded(text + i, search, m) == 0;
  return text[i] == search[0] && sys_text_compare(text + i, search, m) == 0;
}

// The index of the first match at or after i in a text of n units, or n when there is none.
int32_t next_match(const char16_t* text, int32_t i, int32_t n, const char16_t* search, int32_t m,
                   bool folded) {
  if (m == 0) return n;
  if (folded) {
    while (i < n && !matches_at(text, i, search, m, true)) ++i;
    return i < n ? i : n;
  }
  int32_t found = utf16_search(text + i, n - i, search, m);
  return found < 0 ? n : i + found;
}

int32_t clamp_start(int32_t start, int32_t n) {
  if (start < 1) return 0;
  return start - 1 > n ? n : start - 1;
}

// Stack inputs go to the heap first: the result may be written where they lie. Without memory
// for the copy the run cannot go on.
const char16_t* heap_copy_if_on_stack(const char16_t* text, int32_t n, char16_t*& owned) {
  owned = nullptr;
  if (!text || !temp_locate(text)) return text;
  owned = static_cast<char16_t*>(sys_malloc(static_cast<size_t>(n) * 2 + 2));
  if (!owned) sys_exit(1);
  str_copy_n(owned, text, n);
  return owned;
}

// The occurrences from `start` on replaced within the first `length` units of the text itself,
// at most `limit` of them, for a replacement no longer than the search text; returns the
// result's length, with a 0 unit written after it. The part written never passes the part read,
// so each piece moves down within the text.
int32_t replace_within(char16_t* text, int32_t length, const char16_t* search,
                       const char16_t* replacement, bool folded, int32_t start, int32_t limit) {
  if (!replacement) replacement = u"";
  int32_t m = str_len(search), r = str_len(replacement);
  int32_t i = clamp_start(start, length), out = i;
  for (int32_t done = 0, at = 0;
       done != limit && (at = next_match(text, i, length, search, m, folded)) < length;
       ++done, i = at + m) {
    if (out != i) memmove(text + out, text + i, static_cast<size_t>(at - i) * 2);
    out += at - i;
    memcpy(text + out, replacement, static_cast<size_t>(r) * 2);
    out += r;
  }
  str_copy_n(text + out, text + i, length - i);
  return out + (length - i);
}

// The replacement onto the stack, for the first n units of the text (which may hold zeros).
void replace_into(const char16_t* text, int32_t n, const char16_t* search,
                  const char16_t* replacement, bool folded, int32_t start, int32_t limit,
                  int32_t offset) {
  char16_t *own_text, *own_search, *own_replacement;
  if (!text) n = 0;
  text = heap_copy_if_on_stack(text, n, own_text);
  search = heap_copy_if_on_stack(search, str_len(search), own_search);
  replacement = heap_copy_if_on_stack(replacement, str_len(replacement), own_replacement);
  if (!text) text = u"";
  if (!search) search = u"";
  if (!replacement) replacement = u"";

  int32_t m = str_len(search), r = str_len(replacement);
  int32_t s = clamp_start(start, n);
  // A replacement no longer than the search text cannot make the result longer than the text:
  // room for that much, and a single pass. A longer one is counted first.
  int32_t room = n;
  if (r > m && limit != 0) {
    int32_t k = 0;
    for (int32_t i = next_match(text, s, n, search, m, folded); i < n;
         i = next_match(text, i + m, n, search, m, folded)) {
      if (++k == limit) break;
    }
    room = n + k * (r - m);
  }

  // The text is no stack value here, so it cannot overlap the result: plain copies.
  char16_t* dst = temp_reserve(room, offset);
  memcpy(dst, text, static_cast<size_t>(s) * 2);
  char16_t* out = dst + s;
  int32_t i = s;
  for (int32_t done = 0; done != limit; ++done) {
    int32_t at = next_match(text, i, n, search, m, folded);
    if (at >= n) break;
    memcpy(out, text + i, static_cast<size_t>(at - i) * 2);
    out += at - i;
    memcpy(out, replacement, static_cast<size_t>(r) * 2);
    out += r;
    i = at + m;
  }
  str_copy_n(out, text + i, n - i);
  temp_restore(offset + 2 * static_cast<int32_t>(out - dst + (n - i)));
  str_free(own_text);
  str_free(own_search);
  str_free(own_replacement);
}

}  // namespace

void str_left(const char16_t* text, int32_t n, int32_t offset) {
  int32_t length = str_len(text);
  int32_t count = n < 0 ? 0 : (n > length ? length : n);
  produce_part(text, count, offset);
}

void str_upper(const char16_t* text, int32_t offset) {
  sys_text_upper(produce_part(text, str_len(text), offset));
}

int32_t str_equal(const char16_t* a, const char16_t* b) {
  int32_t n = str_len(a);
  if (str_len(b) != n) return 0;
  return n == 0 || memcmp(a, b, static_cast<size_t>(n) * 2) == 0 ? 1 : 0;
}

int32_t str_find(const char16_t* text, const char16_t* pattern, int32_t start, int32_t mode) {
  if (!text || !*text || !pattern || !*pattern) return 0;
  if (!(mode & STR_CASE_INSENSITIVE)) return str_find_n(text, str_len(text), pattern, start);
  int32_t n = str_len(text);
  int32_t s = clamp_start(start, n);
  // The candidate's first unit is folded with the lead table, the units after it in full.
  char16_t lead = sys_fold_lead(pattern[0]);
  for (int32_t i = s; i < n; ++i) {
    if (sys_fold_lead(text[i]) != lead) continue;
    int32_t j = 1;
    while (pattern[j] && text[i + j] && sys_fold(text[i + j]) == sys_fold(pattern[j])) ++j;
    if (!pattern[j]) return i + 1;
  }
  return 0;
}

int32_t str_find_n(const char16_t* text, int32_t length, const char16_t* pattern, int32_t start) {
  if (!text || !pattern) return 0;
  int32_t s = clamp_start(start, length);
  int32_t found = utf16_search(text + s, length - s, pattern, str_len(pattern));
  return found < 0 ? 0 : s + found + 1;
}

int32_t str_find_last_n(const char16_t* text, int32_t length, char16_t unit) {
  if (!text || length <= 0) return 0;
  return utf16_find_last(text, length, unit) + 1;
}

void str_replace(const char16_t* text, const char16_t* search, const char16_t* replacement,
                 int32_t offset) {
  str_replace(text, search, replacement, 0, 0, NO_LIMIT, offset);
}

void str_replace(const char16_t* text, const char16_t* search, const char16_t* replacement,
                 int32_t mode, int32_t offset) {
  str_replace(text, search, replacement, mode, 0, NO_LIMIT, offset);
}

void str_replace(const char16_t* text, const char16_t* search, const char16_t* replacement,
                 int32_t mode, int32_t start, int32_t offset) {
  str_replace(text, search, replacement, mode, start, NO_LIMIT, offset);
}

void str_replace(const char16_t* text, const char16_t* search, const char16_t* replacement,
                 int32_t mode, int32_t start, int32_t limit, int32_t offset) {
  if (mode & STR_IN_PLACE) {
    if (text && str_len(replacement) == str_len(search)) {
      replace_within(const_cast<char16_t*>(text), str_len(text), search, replacement,
                     mode & STR_CASE_INSENSITIVE, start, limit);
    }
    return;
  }
  replace_into(text, str_len(text), search, replacement, mode & STR_CASE_INSENSITIVE, start, limit,
               offset);
}

int32_t str_replace_in_place_n(char16_t* text, int32_t length, const char16_t* search,
                               const char16_t* replacement, int32_t start) {
  if (str_len(replacement) > str_len(search)) return -1;
  return replace_within(text, length, search, replacement, false, start, NO_LIMIT);
}

void str_file_part(const char16_t* path, int32_t offset) { str_file_part(path, 0, offset); }

void str_file_part(const char16_t* path, int32_t mode, int32_t offset) {
  if (!path || !*path) {
    produce_part(u"", 0, offset);
    return;
  }
  char16_t quote = mode & STR_QUOTES_ORDINARY ? 0 : u'"';
  const char16_t* begin = quote && path[0] == quote ? path + 1 : path;
  // Separators count anywhere in the path, also after a closing quotation mark.
  for (const char16_t* p = begin; *p; ++p) {
    if (sys_path_separator(*p)) begin = p + 1;
  }
  const char16_t* end = begin;
  while (*end && *end != quote) ++end;
  int32_t n = static_cast<int32_t>(end - begin);
  if (mode & STR_DROP_EXTENSION) {
    // From the last unit back to the second: a space keeps the whole part, and so does a dot
    // that is the last unit; any other dot cuts the extension off.
    for (int32_t i = n - 1; i >= 1; --i) {
      if (begin[i] == u' ') break;
      if (begin[i] == u'.') {
        if (i < n - 1) n = i;
        break;
      }
    }
  }
  produce_part(begin, n, offset);
}
