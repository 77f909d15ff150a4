// The console: the bytes that reach a redirected standard output, in each build, and what a
// terminal is shown.
#include "runtime/console/console.h"

#include <string>

#include "platform/sys.h"
#include "base/terminal_text.h"
#include "support.h"

namespace {

using Bytes = std::string;

class Console : public StackTest {
 protected:
  void SetUp() override {
    StackTest::SetUp();
    console_init();
  }
  void TearDown() override {
    console_end();
    StackTest::TearDown();
  }
};

}  // namespace

// Kept first: it needs a process in which the console was never opened.
TEST_F(Console, WritesNothingBeforeOpenOnWindowsOnly) {
  Bytes out = captured_stdout([] { console_write_line(u"early"); });
  EXPECT_EQ(out, windows_build() ? "" : "early" + line_end());
}

TEST_F(Console, WritesUtf8LinesWithTheBuildsLineEndAndNoByteOrderMark) {
  Bytes out = captured_stdout([] {
    console_open(2);
    console_write_line(u"caf\u00E9 \xD83D\xDE00");
    console_write_line(nullptr);
    console_write_line(u"");
    console_write_line(u"latin-1 \xDCE9 kept");  // a byte that was not UTF-8 goes out as is
    console_close();
  });
  Bytes e = line_end();
  EXPECT_EQ(out, "caf\xC3\xA9 \xF0\x9F\x98\x80" + e + e + e + "latin-1 \xE9 kept" + e);
}

TEST_F(Console, AnUnpairedHighSurrogateStillEndsTheLine) {
  Bytes out = captured_stdout([] {
    console_open(2);
    console_write_line(u"cut\xD800here");
  });
  EXPECT_EQ(out, "cut" + line_end());
}

TEST_F(Console, ALongLineComesOutWholeWithItsPairsIntact) {
  // Pairs and bytes that were not UTF-8 at every position, so one straddles each place where a
  // long line may be cut into pieces.
  for (size_t lead : {0, 1, 63, 1023, 2047}) {
    std::u16string text(lead, u'x');
    Bytes want(lead, 'x');
    for (int i = 0; i < 300; ++i) {
      text += i % 7 == 0 ? u"\xD83D\xDE00" : i % 5 == 0 ? u"\xDCE9" : u"\u00E9x";
      want += i % 7 == 0 ? "\xF0\x9F\x98\x80" : i % 5 == 0 ? "\xE9" : "\xC3\xA9x";
    }
    Bytes out = captured_stdout([&] {
      console_open(2);
      console_write_line(text.c_str());
    });
    EXPECT_EQ(out, want + line_end()) << "after " << lead << " units";
  }
}

// A length of -1, as the in-place replacer gives for a replacement it refused, writes nothing:
// on a terminal it would never end.
TEST_F(Console, ANegativeLengthWritesNothing) {
  Bytes out = captured_stdout([] {
    console_open(2);
    console_write_line_n(u"abc", -1);
    console_write_line_n(u"ok", 2);
  });
  EXPECT_EQ(out, "ok" + line_end());
}

TEST_F(Console, RedirectedOutputFollowsTheFormatOnWindowsOnly) {
  struct Case {
    int32_t format;
    Bytes windows;
  } cases[] = {
      {2, "Ab\r\n"},
      {24, "Ab\r\n"},
      {25, Bytes("A\0b\0\r\0\n\0", 8)},
      {7, Bytes("A\0b\0\r\0\n\0", 8)},  // only 24 selects the 8-bit page
  };
  for (const Case& c : cases) {
    Bytes out = captured_stdout([&] {
      console_open(c.format);
      console_write_line(u"Ab");
    });
    EXPECT_EQ(out, windows_build() ? c.windows : "Ab\n") << "format " << c.format;
  }
}

// On a terminal (its bytes are checked end to end on a pseudo-terminal) each control shows as
// text and every other character as it is; a piece that the room ends never cuts a pair or a
// caret pair, so a long line shown piece by piece comes out the same.
TEST(TerminalText, ShowsEveryControlAsTextAndEveryOtherCharacterAsItIs) {
  struct Case {
    std::u16string text, shown;
  } cases[] = {
      {std::u16string(u"\0\x1B\x1F\x7F\t", 5), u"^@^[^_^?\t"},
      {u"\x80\x9B\x9F\xA0\xE9", u"\xFFFD\xFFFD\xFFFD\xA0\xE9"},      // C1 controls
      {u"\xDC80\xDCE9 \xD83D\xDE00", u"\xFFFD\xFFFD \xD83D\xDE00"},  // bytes that were not UTF-8
      {u"a\xD800 \xDFFF\xD800", u"a\xFFFD \xFFFD\xFFFD"},            // surrogates without a pair
  };
  for (const Case& c : cases) {
    for (int32_t room : {2, 3, 64}) {
      std::u16string shown;
      char16_t piece[64];
      for (int32_t at = 0; at < static_cast<int32_t>(c.text.size());) {
        int32_t left = static_cast<int32_t>(c.text.size()) - at;
        Utf8Progress done = terminal_text(c.text.data() + at, left, piece, room);
        ASSERT_GT(done.read, 0);
        shown.append(piece, done.written);
        at += done.read;
      }
      EXPECT_EQ(shown, c.shown) << "room " << room;
    }
  }
}
