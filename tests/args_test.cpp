// The command line: the tokenizer on both builds, and the POSIX argument vector.
#include "app/args.h"

#include <vector>

#include "platform/sys.h"
#include "support.h"

using Args = StackTest;

namespace {

// Every parameter of a line, as args_next would hand them out.
std::vector<std::u16string> parameters(const char16_t* line) {
  std::vector<std::u16string> out;
  for (int32_t i = 1;; ++i) {
    int32_t mark = temp_mark();
    int32_t found = args_token(line, i, mark);
    EXPECT_EQ(temp_stack.top, mark + 2 * str_len(temp_at(mark)));  // top on the terminator
    if (!found) {
      EXPECT_EQ(at(mark), u"");
      break;
    }
    out.push_back(at(mark));
    temp_restore(mark);
  }
  return out;
}

using List = std::vector<std::u16string>;

}  // namespace

TEST_F(Args, SplitsTheLineAsTheSwitchReaderExpects) {
  struct Case {
    const char16_t* line;
    List expected;
  } cases[] = {
      {u"prog", {}},
      {u"prog /r", {u"/r"}},
      {u"prog   /r  ", {u"/r"}},
      {u"prog \"a b\" c", {u"a b", u"c"}},
      {u"prog ab\"c d\"e f", {u"abc de", u"f"}},
      {u"prog \"abc\"def", {u"abc", u"def"}},
      {u"prog \"a\"\"b\"", {u"a", u"b"}},
      {u"prog \"\"", {u""}},
      {u"prog a\tb", {u"a\tb"}},
      {u"prog \"abc", {u"abc"}},
      {u"prog \\\"x\\\"", {u"\\x\\"}},
      {u"\"C:\\Program Files\\pagehop.exe\"/r", {u"/r"}},
      {u"  \"C:\\my dir\\pagehop.exe\" -R extra", {u"-R", u"extra"}},
      {u"", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(parameters(c.line), c.expected) << "case " << (&c - cases);
}

TEST_F(Args, TokenZeroIsTheProgramNameWithoutQuotes) {
  int32_t mark = temp_mark();
  EXPECT_EQ(args_token(u"\"C:\\my dir\\p.exe\" /r", 0, mark), 1);
  EXPECT_EQ(at(mark), u"C:\\my dir\\p.exe");
}

TEST_F(Args, ATokenTakenFromTheStackLandsAtItsOwnOffset) {
  str_concat(u"prog \"first one\" second");
  int32_t line = 0;
  // Step past the line's terminator so the result lands behind it; the buffer moves.
  int32_t result = temp_mark() + 2;
  temp_restore(result);
  EXPECT_EQ(args_token(temp_at(line), 1, result), 1);
  EXPECT_EQ(at(result), u"first one");
  // And at the line's own offset: the token overwrites the line it came from.
  temp_restore(result);
  EXPECT_EQ(args_token(temp_at(line), 2, line), 1);
  EXPECT_EQ(at(line), u"second");
}

#ifndef _WIN32
// POSIX: the parameters come from the argument vector, after the program's own name.
TEST_F(Args, NextHandsOutTheParametersAfterTheProgramsName) {
  char program[] = "pagehop", first[] = "/r", second[] = "caf\xc3\xa9";
  char* argv[] = {program, first, second, nullptr};
  sys_args_set(3, argv);
  args_init();
  List got;
  for (int i = 0; i < 3; ++i) {
    int32_t mark = temp_mark();
    args_next(mark);
    got.push_back(at(mark));
    temp_restore(mark);
  }
  EXPECT_EQ(got, (List{u"/r", u"caf\u00e9", u""}));
  sys_args_set(0, nullptr);
}
#endif
