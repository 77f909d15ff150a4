// Operations on text: leading part, upper case, equality, search, replacement, file part.
#include "platform/sys.h"
#include "support.h"

#ifndef _WIN32
#include <sys/resource.h>
#endif

using Ops = StackTest;

namespace {

// The result of a producer called at the top, checking that top ends on its terminator.
template <typename Produce>
std::u16string produced(Produce produce) {
  int32_t mark = temp_mark();
  produce(mark);
  std::u16string result = at(mark);
  EXPECT_EQ(temp_stack.top, mark + 2 * static_cast<int32_t>(result.size()));
  temp_restore(mark);
  return result;
}

}  // namespace

TEST_F(Ops, LeftUpperAndEqualAtTheirEdges) {
  auto left = [](const char16_t* t, int32_t n) {
    return produced([&](int32_t off) { str_left(t, n, off); });
  };
  EXPECT_EQ(left(u"hello", 2), u"he");
  EXPECT_EQ(left(u"hello", -4), u"");
  EXPECT_EQ(left(u"hello", 99), u"hello");
  EXPECT_EQ(left(nullptr, 3), u"");
  EXPECT_EQ(produced([](int32_t off) { str_upper(u"/r -Copy z9_", off); }), u"/R -COPY Z9_");
  EXPECT_EQ(produced([](int32_t off) { str_upper(nullptr, off); }), u"");
  EXPECT_EQ(str_equal(nullptr, u""), 1);
  EXPECT_EQ(str_equal(u"abc", u"ABC"), 0);
  EXPECT_EQ(str_equal(u"abc", u"abcd"), 0);
  EXPECT_EQ(str_equal(u"abcd", u"abc"), 0);
}

TEST_F(Ops, FindReportsPositionsFromTheTextsBeginning) {
  struct Case {
    const char16_t *text, *pattern;
    int32_t start, mode, expected;
  } cases[] = {
      // clang-format off
      {u"a.html b.html", u".html", 3, 0, 9},
      {u"a.html b.html", u".html", 10, 0, 0},
      {u"abc", u"a", -7, 0, 1},
      {u"abc", u"c", 4, 0, 0},      // beyond the end
      {u"abc", u"", 1, 0, 0},
      {u"", u"a", 1, 0, 0},
      {nullptr, u"a", 1, 0, 0},
      {u"aaa", u"aa", 2, 0, 2},     // overlapping candidates
      {u"ab", u"abc", 1, 0, 0},     // longer than what is left
      {u"PAGE.HTML", u".html", 1, 0, 0},
      {u"PAGE.HTML", u".html", 1, STR_CASE_INSENSITIVE, 5},
      {u"x.htm .Html", u".HTML", 1, STR_CASE_INSENSITIVE, 7},
      {u"abc", u"", 1, STR_CASE_INSENSITIVE, 0},
      // clang-format on
  };
  for (const Case& c : cases) {
    EXPECT_EQ(str_find(c.text, c.pattern, c.start, c.mode), c.expected) << "case " << (&c - cases);
  }
  // The shorter forms search case-sensitively.
  EXPECT_EQ(str_find(u"a.html", u".html"), 2);
  EXPECT_EQ(str_find(u"PAGE.HTML", u".html"), 0);
  EXPECT_EQ(str_find(u"PAGE.HTML", u".html", 1), 0);
  // The measured form takes a null text or pattern as finding nothing.
  EXPECT_EQ(str_find_n(u"abc", 3, u"b", 1), 2);
  EXPECT_EQ(str_find_n(u"abc", 3, nullptr, 1), 0);
  EXPECT_EQ(str_find_n(nullptr, 3, u"a", 1), 0);
  // The search for a unit's last place looks within the length only.
  EXPECT_EQ(str_find_last_n(u"a\nb\nc\n", 5, u'\n'), 4);
  EXPECT_EQ(str_find_last_n(u"\nabc", 4, u'\n'), 1);
  EXPECT_EQ(str_find_last_n(u"abc\n", 3, u'\n'), 0);
  EXPECT_EQ(str_find_last_n(nullptr, 3, u'a'), 0);
}

TEST_F(Ops, ReplaceWorksLeftToRightWithoutOverlapOrRescanning) {
  struct Case {
    const char16_t *text, *search, *replacement;
    int32_t mode, start, limit;
    const char16_t* expected;
  } cases[] = {
      // clang-format off
      {u"<a href=\"a.html\">b.html</a>", u".html", u".php", 0, 0, -1, u"<a href=\"a.php\">b.php</a>"},
      {u"no link", u".html", u".php", 0, 0, -1, u"no link"},
      {u"aaa", u"aa", u"b", 0, 0, -1, u"ba"},
      {u"ab", u"a", u"aa", 0, 0, -1, u"aab"},
      {u"abc", u"", u"x", 0, 0, -1, u"abc"},
      {u"abc", u"", u"x", STR_CASE_INSENSITIVE, 0, -1, u"abc"},
      {nullptr, u"a", u"b", 0, 0, -1, u""},
      {u"a.HTML a.Html", u".html", u".php", STR_CASE_INSENSITIVE, 0, -1, u"a.php a.php"},
      {u"xaxax", u"x", u"y", 0, 3, -1, u"xayay"},   // from position 3 on
      {u"xaxax", u"x", u"y", 0, 6, -1, u"xaxax"},   // start at length + 1
      {u"xaxax", u"x", u"yy", 0, 1, 2, u"yyayyax"}, // the internal limit
      {u"xaxax", u"x", u"y", 0, 1, 0, u"xaxax"},
      {u"abcd", u"abcde", u"x", 0, 0, -1, u"abcd"},
      // clang-format on
  };
  for (const Case& c : cases) {
    std::u16string got = produced([&](int32_t off) {
      str_replace(c.text, c.search, c.replacement, c.mode, c.start, c.limit, off);
    });
    EXPECT_EQ(got, c.expected) << "case " << (&c - cases);
  }
}

// Matches at every offset and of every spacing, near-misses such as ".htm" and "..html", and
// texts of every length around a word of four units: the rewrite must equal a plain
// left-to-right scan, and the search must find the first match.
TEST_F(Ops, ReplaceAndFindAgreeWithAPlainScanWhereverTheMatchesFall) {
  const std::u16string pieces[] = {u".html", u"a", u"bc", u".htm", u".", u"..html", u"\u00E9"};
  auto plain = [](const std::u16string& text) {
    std::u16string out;
    for (size_t i = 0; i < text.size();) {
      if (text.compare(i, 5, u".html") == 0) {
        out += u".php";
        i += 5;
      } else {
        out += text[i++];
      }
    }
    return out;
  };
  for (uint32_t seed = 1; seed <= 3000; ++seed) {
    std::u16string text;
    for (uint32_t n = seed; n > 0; n /= 7) text += pieces[n % 7];
    text.append(seed % 5, u'x');
    std::u16string got =
        produced([&](int32_t off) { str_replace(text.c_str(), u".html", u".php", off); });
    ASSERT_EQ(got, plain(text)) << "seed " << seed;
    size_t first = text.find(u".html");
    ASSERT_EQ(str_find(text.c_str(), u".html"),
              first == std::u16string::npos ? 0 : static_cast<int32_t>(first) + 1)
        << "seed " << seed;
  }
}

TEST_F(Ops, ReplaceReadsInputsThatLieWhereTheResultGoes) {
  int32_t mark = temp_mark();
  str_concat(u"xyx");
  int32_t search = temp_stack.top + 2;
  temp_stack.top = search;
  str_concat(u"x");
  int32_t replacement = temp_stack.top + 2;
  temp_stack.top = replacement;
  str_concat(u"<<>>");
  str_replace(temp_at(mark), temp_at(search), temp_at(replacement), mark);
  EXPECT_EQ(at(mark), u"<<>>y<<>>");
  EXPECT_EQ(temp_stack.top, mark + 2 * 9);
}

#if !defined(_WIN32) && !defined(__SANITIZE_ADDRESS__)
// Without memory for the copy of a stack input the run stops with status 1, the status of
// every stop for want of memory. (The address sanitizer's allocator aborts instead.)
TEST_F(Ops, ReplaceStopsWithStatusOneWithoutMemoryForItsCopy) {
  int32_t mark = temp_mark();
  str_concat(std::u16string(1 << 20, u'x').c_str());
  auto replace_without_memory = [mark] {
    rlimit none = {0, 0};
    setrlimit(RLIMIT_DATA, &none);
    str_replace(temp_at(mark), u"x", u"y", temp_stack.top + 2);
    _exit(3);
  };
  EXPECT_EXIT(replace_without_memory(), testing::ExitedWithCode(1), "");
}
#endif

TEST_F(Ops, ReplaceInPlaceRewritesTheTextItself) {
  char16_t text[] = u"a.htm b.HTM c.htm";
  str_replace(text, u".htm", u".php", STR_IN_PLACE, 0);
  EXPECT_EQ(std::u16string(text), u"a.php b.HTM c.php");
  EXPECT_EQ(temp_stack.top, 0);
  char16_t folded[] = u"a.htm b.HTM c.htm";
  str_replace(folded, u".htm", u".php", STR_IN_PLACE | STR_CASE_INSENSITIVE, 4, 1, 0);
  EXPECT_EQ(std::u16string(folded), u"a.htm b.php c.htm");
  // An empty search text, a limit of 0 or a replacement of another length change nothing.
  char16_t same[] = u"abab";
  str_replace(same, u"", u"", STR_IN_PLACE, 0);
  str_replace(same, u"a", u"z", STR_IN_PLACE, 1, 0, 0);
  str_replace(same, u"ab", u"xyz", STR_IN_PLACE, 0);
  EXPECT_EQ(std::u16string(same), u"abab");
  // The counted form takes a shorter replacement, a null one as the empty string, and refuses a
  // longer one with -1, changing nothing.
  char16_t counted[] = u"a.html\0b.html";
  EXPECT_EQ(str_replace_in_place_n(counted, 13, u".html", nullptr, 1), 3);
  EXPECT_EQ(std::u16string(counted, 4), std::u16string(u"a\0b\0", 4));
  EXPECT_EQ(str_replace_in_place_n(counted, 3, u"a", u"longer", 1), -1);
  EXPECT_EQ(std::u16string(counted, 4), std::u16string(u"a\0b\0", 4));
}

TEST_F(Ops, FilePartTakesTheNameAfterTheLastSeparator) {
  bool backslash = sys_path_separator(u'\\');  // a separator in the Windows build only
  struct Case {
    const char16_t *path, *whole, *stem;
  } cases[] = {
      // clang-format off
      {u"index.html", u"index.html", u"index"},
      {u"site/docs/page.old.html", u"page.old.html", u"page.old"},
      {u".htaccess", u".htaccess", u".htaccess"},
      {u"name.", u"name.", u"name."},
      {u"a.b.", u"a.b.", u"a.b."},
      {u"my page.html", u"my page.html", u"my page"},
      {u"file.my doc", u"file.my doc", u"file.my doc"},
      {u"docs/", u"", u""},
      {u"a\\b.txt", backslash ? u"b.txt" : u"a\\b.txt", backslash ? u"b" : u"a\\b"},
      {u"\"dir/my file.html\" --x", u"my file.html", u"my file"},
      {u"\"dir/\"", u"", u""},
      {u"\"a/b.html\" c/d.txt", u"d.txt", u"d"},  // separators count after the quote too
      {nullptr, u"", u""},
      // clang-format on
  };
  for (const Case& c : cases) {
    EXPECT_EQ(produced([&](int32_t off) { str_file_part(c.path, off); }), c.whole)
        << "case " << (&c - cases);
    EXPECT_EQ(produced([&](int32_t off) { str_file_part(c.path, STR_DROP_EXTENSION, off); }),
              c.stem)
        << "case " << (&c - cases);
  }
  EXPECT_EQ(produced([](int32_t off) {
              str_file_part(u"d/say\"hi.html", STR_DROP_EXTENSION | STR_QUOTES_ORDINARY, off);
            }),
            u"say\"hi");
}

TEST_F(Ops, ProducersReadAnInputAtTheirOwnResultOffset) {
  using Producer = void (*)(const char16_t*, int32_t);
  struct Case {
    const char16_t* input;  // fits the first 16-byte buffer; the producer's reservation moves it
    Producer produce;
    const char16_t* expected;
  } cases[] = {
      {u"b/c.h", [](const char16_t* t, int32_t o) { str_file_part(t, STR_DROP_EXTENSION, o); },
       u"c"},
      {u"abcde", [](const char16_t* t, int32_t o) { str_left(t, 4, o); }, u"abcd"},
      {u"upper", [](const char16_t* t, int32_t o) { str_upper(t, o); }, u"UPPER"},
      {u"a.htm", [](const char16_t* t, int32_t o) { str_replace(t, u".htm", u".longer.php", o); },
       u"a.longer.php"},
  };
  for (const Case& c : cases) {
    temp_end();
    temp_init();
    str_concat(c.input);
    temp_stack.top += 2;  // past the terminator, as a flow does before a consumer
    c.produce(temp_at(0), 0);
    EXPECT_GT(temp_stack.capacity, 16);
    EXPECT_EQ(at(0), c.expected);
    EXPECT_EQ(temp_stack.top, 2 * str_len(c.expected));
  }
}
