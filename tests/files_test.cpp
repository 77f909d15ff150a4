// The buffered file streams in scratch folders on both builds: line ends and buffer boundaries,
// formats, mixed reading and writing, and what the tool relies on to copy a page byte for byte
// and to tell a complete target from an incomplete one.
#include "runtime/files/files.h"
#include "runtime/files/stream.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

// Expected file contents, with "|" standing for the build's line terminator.
std::string with_eol(const std::string& text) {
  std::string out;
  for (char c : text) out += c != '|' ? std::string(1, c) : windows_build() ? "\r\n" : "\n";
  return out;
}

void put(const std::string& name, const std::string& bytes) {
  std::ofstream(name, std::ios::binary) << bytes;
}

std::string get(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::u16string read_line(intptr_t number, int32_t flags = 0, int32_t limit = -1) {
  int32_t mark = temp_mark();
  file_read_text(number, flags, limit, mark);
  // A line may hold zero units: its length is where the stack's top ends, on a terminator.
  std::u16string line(temp_at(mark), static_cast<size_t>(temp_stack.top - mark) / 2);
  EXPECT_EQ(temp_at(temp_stack.top)[0], 0);
  temp_restore(mark);
  return line;
}

using Lines = std::vector<std::u16string>;

// The tool's reading loop: each line read after file_eof said there is more.
Lines read_lines(intptr_t number) {
  Lines lines;
  while (!file_eof(number) && lines.size() < 100000) lines.push_back(read_line(number));
  return lines;
}

Lines lines_of(const std::string& bytes, int32_t flags = 0) {
  put("in", bytes);
  EXPECT_NE(file_open_read(0, u"in", flags), 0);
  Lines lines = read_lines(0);
  file_close(0);
  return lines;
}

// The tool's copy: the lines of "in" written to "out" with file_write_line; the bytes of "out".
std::string copied(const std::string& bytes, int32_t flags = 0) {
  EXPECT_NE(file_create(1, u"out", flags), 0);
  for (const std::u16string& line : lines_of(bytes, flags)) {
    file_write_line_n(1, line.data(), static_cast<int32_t>(line.size()));
  }
  EXPECT_EQ(file_close(1), 1);
  return get("out");
}

}  // namespace

// Each test runs in a scratch folder of its own inside the build tree, with the table started.
class FileStreams : public StackTest {
 protected:
  void SetUp() override {
    StackTest::SetUp();
    file_init();
    home_ = fs::current_path();
    scratch_ = home_ / ("scratch-files-" +
                        std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(scratch_);
    fs::create_directories(scratch_);
    fs::current_path(scratch_);
  }
  void TearDown() override {
    file_close(-1);
    fs::current_path(home_);
    fs::remove_all(scratch_);
    StackTest::TearDown();
  }
  fs::path home_, scratch_;
};

// Buffered and unbuffered: each case's lines, and its copy with the build's line ends.
TEST_F(FileStreams, LinesEndAtLfCrLfOrALoneCrAndKeepEveryOtherByte) {
  const std::string a(4095, 'a');  // the next byte is the last of the first 4096-byte block
  const std::u16string ua(4095, u'a');
  struct Case {
    std::string bytes;
    Lines lines;
    std::string copy;
  } cases[] = {
      {"", {}, ""},
      {"a\nb", {u"a", u"b"}, "a|b|"},
      {"a\r\n\r\nb\rc", {u"a", u"", u"b", u"c"}, "a||b|c|"},
      {"a\r", {u"a"}, "a|"},
      // A zero is a character like any other: inside a line, at its start and end, and where
      // the buffer is refilled.
      {std::string("ab\0cd\n\0e\0\n", 10), {std::u16string(u"ab\0cd", 5),
       std::u16string(u"\0e\0", 3)}, std::string("ab\0cd|\0e\0|", 10)},
      {a + std::string("\0\0\n", 3), {ua + std::u16string(2, 0)}, a + std::string("\0\0|", 3)},
      {"\xEF\xBB\xBFx\n", {u"\uFEFFx"}, "\xEF\xBB\xBFx|"},
      {a + "\r\nb", {ua, u"b"}, a + "|b|"},
      {a + "\rb", {ua, u"b"}, a + "|b|"},
      {a.substr(1) + "\r\r\nb", {ua.substr(1), u"", u"b"}, a.substr(1) + "||b|"},
      {a + "\xC3\xA9z", {ua + u"\u00E9z"}, a + "\xC3\xA9z|"},  // split by the refill
      {a + "\xC3\nz", {ua + u"\xDCC3", u"z"}, a + "\xC3|z|"},
      {a.substr(1) + "\xE2\x82z", {ua.substr(1) + u"\xDCE2\xDC82z"}, a.substr(1) + "\xE2\x82z|"},
      // A byte outside a well-formed sequence is a unit 0xDC00 + byte, written back as the byte.
      {"caf\xE9 <a href=\"x.html\">\xA9</a>\r\n\xE9",
       {u"caf\xDCE9 <a href=\"x.html\">\xDCA9</a>", u"\xDCE9"},
       "caf\xE9 <a href=\"x.html\">\xA9</a>|\xE9|"},
      {"\x80\xBF\xC0\xAF\xF5\xFF\n",
       {u"\xDC80\xDCBF\xDCC0\xDCAF\xDCF5\xDCFF"},
       "\x80\xBF\xC0\xAF\xF5\xFF|"},
      {"\xE0\x80\x80\xED\xA0\x80\xF4\x90\x80\x80",  // overlong, surrogate, too large
       {u"\xDCE0\xDC80\xDC80\xDCED\xDCA0\xDC80\xDCF4\xDC90\xDC80\xDC80"},
       "\xE0\x80\x80\xED\xA0\x80\xF4\x90\x80\x80|"},
      {"\xC3\xA9\xF0\x9F\x98\x80\xE2\x82x\xF0\x9F\x98",
       {u"\u00E9\U0001F600\xDCE2\xDC82x\xDCF0\xDC9F\xDC98"},
       "\xC3\xA9\xF0\x9F\x98\x80\xE2\x82x\xF0\x9F\x98|"},
  };
  for (const Case& c : cases) {
    for (int32_t flags : {0, FILE_NO_BUFFER}) {
      SCOPED_TRACE(testing::Message() << "case " << (&c - cases) << " flags " << flags);
      EXPECT_EQ(lines_of(c.bytes, flags), c.lines);
      EXPECT_EQ(copied(c.bytes, flags), with_eol(c.copy));
    }
  }
  std::string units;  // UTF-16: the CR is the last unit of the block
  for (int i = 0; i < 2047; ++i) units += std::string("a\0", 2);
  const std::u16string ua16(2047, u'a');
  EXPECT_EQ(lines_of(units + std::string("\r\0\n\0b\0", 6), TEXT_UTF16), (Lines{ua16, u"b"}));
  EXPECT_EQ(lines_of(units + std::string("\r\0c\0", 4), TEXT_UTF16), (Lines{ua16, u"c"}));
}

TEST_F(FileStreams, EachFormatReadsBackWhatItWroteInItsOwnEncoding) {
  // Lines several times the buffer size, in every format, buffered or not.
  std::u16string mixed;
  while (mixed.size() < 15000) mixed += u"ab\u00E9\u20AC\U0001F600";
  for (int32_t flags : {TEXT_UTF8, TEXT_UTF16, TEXT_UTF16BE, TEXT_ASCII | FILE_NO_BUFFER}) {
    SCOPED_TRACE(flags);
    std::u16string line = flags & FILE_NO_BUFFER ? std::u16string(20000, u'\u00E9') : mixed;
    ASSERT_NE(file_create(0, u"long", flags), 0);
    file_write_line(0, line.c_str());
    file_write_line(0, u"end");
    ASSERT_EQ(file_close(0), 1);
    ASSERT_NE(file_open_read(0, u"long", flags), 0);
    EXPECT_EQ(read_lines(0), (Lines{line, u"end"}));
  }
  // UTF-16: whole units only, a zero unit a character in a line; an odd last byte is left for
  // file_read_bytes, buffered or not.
  for (int32_t flags : {TEXT_UTF16, TEXT_UTF16 | FILE_NO_BUFFER}) {
    put("in", std::string("a\0\r\0\n\0\xE9\0\0\0b\0\r\0c\0X", 17));
    ASSERT_NE(file_open_read(0, u"in", flags), 0);
    EXPECT_EQ(read_lines(0), (Lines{u"a", std::u16string(u"\u00E9\0b", 3), u"c"}));
    char rest[2] = {};
    EXPECT_EQ(file_read_bytes(0, rest, 2), 1);
    EXPECT_EQ(rest[0], 'X');
    file_close(0);
  }
  // Read as UTF-16 from a file of another format, a one-byte file ends the loop on file_eof too.
  put("in", "X");
  ASSERT_NE(file_open_read(0, u"in"), 0);
  Lines got;
  while (!file_eof(0) && got.size() < 10) got.push_back(read_line(0, TEXT_UTF16));
  EXPECT_EQ(got, Lines{u""});
  char rest = 0;
  EXPECT_EQ(file_read_bytes(0, &rest, 1), 1);
  EXPECT_EQ(rest, 'X');
  file_close(0);
  EXPECT_EQ(copied(std::string("\xE9\0\n\0", 4), TEXT_UTF16),
            windows_build() ? std::string("\xE9\0\r\0\n\0", 6) : std::string("\xE9\0\n\0", 4));
  EXPECT_EQ(copied(std::string("\0\xE9\0\0\0\n", 6), TEXT_UTF16BE),
            std::string("\0\xE9\0\0", 4) +
                (windows_build() ? std::string("\0\r\0\n", 4) : std::string("\0\n", 2)));
  // A UTF-16 byte-order mark names the file's format; the mark stays, read as U+FEFF.
  // Only both bytes of a mark make one: a Latin-1 page may begin with
  // 0xFE or 0xFF.
  const struct {
    std::string bytes;
    int32_t format;
    std::u16string line;
  } marks[] = {{std::string("\xFF\xFEx\0", 4), TEXT_UTF16, u"\uFEFFx"},
               {std::string("\xFE\xFF\0x", 4), TEXT_UTF16BE, u"\uFEFFx"},
               {"\xEF\xBB\xBFx", TEXT_UTF8, u"\uFEFFx"},
               {"\xFF", TEXT_UTF8, u"\xDCFF"},
               {"\xFEx", TEXT_UTF8, u"\xDCFEx"},
               {"\xFFx", TEXT_UTF8, u"\xDCFFx"},
               {"x\xFE", TEXT_UTF8, u"x\xDCFE"},
               {"x\xFF", TEXT_UTF8, u"x\xDCFF"}};
  for (const auto& m : marks) {
    SCOPED_TRACE(m.bytes);
    put("in", m.bytes);
    ASSERT_NE(file_open_read(0, u"in"), 0);
    EXPECT_EQ(file_detect_format(0), m.format);
    EXPECT_EQ(read_lines(0), (Lines{m.line}));
    file_close(0);
  }
  // With no flags a file is made for UTF-8.
  ASSERT_NE(file_create(0, u"plain"), 0);
  EXPECT_EQ(file_write_string(0, u"\u00E9\u20AC"), 5);
  EXPECT_EQ(file_close(0), 1);
  EXPECT_EQ(get("plain"), "\xC3\xA9\xE2\x82\xAC");
  // 8-bit: a letter of ISO 8859-1, the same byte in the Windows ANSI page; any other code too.
  EXPECT_EQ(copied("caf\xE9\n", TEXT_ASCII), with_eol("caf\xE9|"));
  EXPECT_EQ(lines_of("caf\xE9\n", 7), (Lines{u"caf\u00E9"}));
  // A read or a write may name a format other than the file's.
  put("in", "caf\xC3\xA9\n");
  ASSERT_NE(file_open(0, u"in", TEXT_ASCII), 0);
  EXPECT_EQ(read_line(0, TEXT_UTF8), u"caf\u00E9");
  EXPECT_EQ(file_write_string(0, u"\u00E9", TEXT_UTF8) + file_write_string(0, u"\u00E9"), 3);
  file_close(0);
  EXPECT_EQ(get("in"), "caf\xC3\xA9\n\xC3\xA9\xE9");
  // UTF-8 ends at an unpaired high surrogate: the text before it is written, short or long.
  for (size_t before : {2u, 1000u}) {
    SCOPED_TRACE(before);
    std::u16string text = std::u16string(before, u'a') + u"\xD83Dz";
    ASSERT_NE(file_create(0, u"cut", TEXT_UTF8), 0);
    EXPECT_EQ(file_write_string(0, text.c_str()), static_cast<int32_t>(before));
    file_write_line(0, u"b");
    EXPECT_EQ(file_close(0), 1);
    EXPECT_EQ(get("cut"), std::string(before, 'a') + with_eol("b|"));
  }
}

// A buffered read takes runs of characters straight from the buffer; an unbuffered one reads
// every character alone. Both must cut the same lines from pages whose characters, line ends,
// zeros and stray bytes fall at every offset of the 4096-byte buffer and of the growing line
// buffer, in line mode and in raw mode.
TEST_F(FileStreams, BufferedReadsCutTheSameLinesAsUnbufferedOnes) {
  const std::string pieces[] = {"a",
                                "plain ascii text ",
                                "\xC3\xA9",
                                "\xE2\x82\xAC",
                                "\xF0\x9F\x98\x80",
                                "\xE9",
                                "\xC3",
                                "\xE2\x82",
                                "\x80",
                                "\t",
                                std::string(1, '\0'),
                                "\r",
                                "\n",
                                "\r\n"};
  const size_t line_ends = 3;  // the last pieces
  uint64_t state = 0x9E3779B97F4A7C15u;
  auto below = [&](size_t n) {
    state ^= state << 13, state ^= state >> 7, state ^= state << 17;
    return static_cast<size_t>((state >> 16) % n);
  };
  for (int page = 0; page < 16; ++page) {
    SCOPED_TRACE(page);
    std::string bytes;
    bool long_lines = page >= 10;  // lines several buffers long
    while (bytes.size() < (long_lines ? 12000u : 5000u)) {
      size_t pick = below(std::size(pieces));
      if (long_lines && pick >= std::size(pieces) - line_ends && below(8) != 0) continue;
      bytes += pieces[pick];
    }
    put("in", bytes);
    for (int32_t raw : {0, FILE_READ_RAW}) {
      if (raw && page % 2) continue;
      Lines read[2];
      for (int32_t unbuffered : {0, 1}) {
        ASSERT_NE(file_open_read(0, u"in", unbuffered ? FILE_NO_BUFFER : 0), 0);
        while (!file_eof(0) && read[unbuffered].size() < 100000)
          read[unbuffered].push_back(read_line(0, raw));
        file_close(0);
      }
      EXPECT_EQ(read[0], read[1]) << "raw " << raw;
      if (raw) continue;
      // The same lines in runs, each line ended by LF; written back in runs, the same bytes as
      // written line by line.
      ASSERT_NE(file_open_read(0, u"in"), 0);
      ASSERT_NE(file_create(1, u"runs"), 0);
      ASSERT_NE(file_create(2, u"lines"), 0);
      Lines runs;
      for (int k = 0; !file_eof(0) && k < 100000; ++k) {
        int32_t mark = temp_mark();
        file_read_lines(0, mark);
        std::u16string run(temp_at(mark), static_cast<size_t>(temp_length(mark)));
        temp_restore(mark);
        ASSERT_EQ(run.back(), u'\n');
        file_write_lines_n(1, run.data(), static_cast<int32_t>(run.size()));
        for (size_t start = 0, end; start < run.size(); start = end + 1) {
          end = run.find(u'\n', start);
          runs.push_back(run.substr(start, end - start));
        }
      }
      EXPECT_EQ(runs, read[0]);
      for (const std::u16string& line : read[0]) {
        file_write_line_n(2, line.data(), static_cast<int32_t>(line.size()));
      }
      file_close(-1);
      EXPECT_EQ(get("runs"), get("lines"));
    }
  }
  // A high surrogate without its pair ends the bytes of its line, and only of its line.
  const std::u16string run = std::u16string(u"a") + char16_t(0xD800) + u"b\nc\n";
  ASSERT_NE(file_create(1, u"runs"), 0);
  file_write_lines_n(1, run.data(), static_cast<int32_t>(run.size()));
  EXPECT_EQ(file_close(1), 1);
  EXPECT_EQ(get("runs"), with_eol("a|c|"));
}

TEST_F(FileStreams, RawReadsKeepLineEndsAndTheLimitCountsCharacters) {
  struct Case {
    std::string bytes;
    int32_t flags, limit;
    std::u16string first, next_line;
  } cases[] = {
      {std::string("ab\r\ncd\0ef", 9), FILE_READ_RAW, -1, u"ab\r\ncd", u"ef"},
      {"ab\ncd", 0, 3, u"ab", u"cd"},  // the line end counts
      {"ab\r\ncd", FILE_READ_RAW, 3, u"ab\r", u""},
      {"abc", 0, 0, u"", u"abc"},
      {"\xC3\xA9\xE2\x82\xACx", 0, 2, u"\u00E9\u20AC", u"x"},
      {"\xE0\xA0\x80\xF4\x8F\xBF\xBFx", 0, 2, u"\u0800\U0010FFFF", u"x"},
      // A byte that does not begin a well-formed sequence is a character of its own.
      {"\xE2\x82x", 0, 2, u"\xDCE2\xDC82", u"x"},
      {"\xED\xA0\x80x", 0, 2, u"\xDCED\xDCA0", u"\xDC80x"},
      {"\xE0\x9F\xBFx", 0, 1, u"\xDCE0", u"\xDC9F\xDCBFx"},
      {"\xF0\x8F\xBF\xBFx", 0, 1, u"\xDCF0", u"\xDC8F\xDCBF\xDCBFx"},
      {"\xF4\x90\x80\x80x", 0, 1, u"\xDCF4", u"\xDC90\xDC80\xDC80x"},
      {"\xC1\xBFx", 0, 1, u"\xDCC1", u"\xDCBFx"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    put("in", c.bytes);
    ASSERT_NE(file_open_read(0, u"in"), 0);
    EXPECT_EQ(read_line(0, c.flags, c.limit), c.first);
    EXPECT_EQ(read_line(0), c.next_line);
    file_close(0);  // Windows: the file is ours alone while open
  }
}

TEST_F(FileStreams, ReadingAndWritingTakeTurnsAtTheCallersPosition) {
  const std::string original = "line1\nline2\nline3\n" + std::string(9000, 'z');
  put("f", original);
  ASSERT_NE(file_open(0, u"f"), 0);
  EXPECT_EQ(read_line(0), u"line1");
  EXPECT_EQ(file_write_string(0, u"XX"), 2);
  EXPECT_EQ(read_line(0), u"ne2");
  file_write_line(0, u"YY");
  const size_t third = with_eol("line1\nXXne2\nYY|").size();
  const std::string rest = original.substr(third, original.find('\n', third) - third);
  EXPECT_EQ(read_line(0), std::u16string(rest.begin(), rest.end()));
  EXPECT_EQ(file_close(0), 1);
  EXPECT_EQ(get("f"), with_eol("line1\nXXne2\nYY|") + original.substr(third));

  // Every reader takes the bytes after those just written: raw, with a limit, 8-bit, UTF-16.
  const struct {
    std::string bytes;
    int32_t format, flags, limit;
    std::u16string text;
    std::string file;
  } readers[] = {
      {"abc\ndef\n", 0, FILE_READ_RAW, -1, u"bc\ndef\n", "Xbc\ndef\n"},
      {"abc\ndef\n", 0, 0, 2, u"bc", "Xbc\ndef\n"},
      {"abc\ndef\n", TEXT_ASCII, 0, -1, u"bc", "Xbc\ndef\n"},
      {std::string("a\0b\0c\0\n\0", 8), TEXT_UTF16, 0, -1, u"bc",
       std::string("X\0b\0c\0\n\0", 8)},
  };
  for (const auto& r : readers) {
    SCOPED_TRACE(r.format);
    put("h", r.bytes);
    ASSERT_NE(file_open(0, u"h", r.format), 0);
    EXPECT_EQ(file_write_string(0, u"X"), r.format == TEXT_UTF16 ? 2 : 1);
    EXPECT_EQ(read_line(0, r.flags, r.limit), r.text);
    EXPECT_EQ(file_close(0), 1);
    EXPECT_EQ(get("h"), r.file);
  }

  // The end-of-file probe writes pending output out first.
  ASSERT_NE(file_create(0, u"g"), 0);
  file_write_string(0, u"abc");
  EXPECT_NE(file_eof(0), 0);
  file_write_string(0, u"d");
  EXPECT_EQ(file_close(0), 1);
  EXPECT_EQ(get("g"), "abcd");
}

TEST_F(FileStreams, OpenKeepsTheBytesBeyondThoseWrittenUntilTruncated) {
  struct Case {
    intptr_t (*open)(intptr_t, const char16_t*, int32_t, int32_t, int64_t);
    int32_t flags;
    bool truncate;
    std::string expected;
  } cases[] = {
      {file_open, 0, false, std::string(10, 'n') + std::string(90, 'o')},
      {file_open, 0, true, std::string(10, 'n')},
      {file_create, 0, false, std::string(10, 'n')},
      {file_open, FILE_APPEND, false, std::string(100, 'o') + std::string(10, 'n')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    put("f", std::string(100, 'o'));
    ASSERT_NE(c.open(0, u"f", c.flags, FILE_PERMISSIONS_DEFAULT, FILE_ANY_GROUP), 0);
    EXPECT_EQ(file_write_string(0, u"nnnnnnnnnn"), 10);
    if (c.truncate) {
      EXPECT_EQ(file_truncate(0), 1);
    }
    EXPECT_EQ(file_close(0), 1);
    EXPECT_EQ(get("f"), c.expected);
  }
  // A cut after reading falls after the line consumed, not after the read-ahead.
  put("f", "first\nsecond\n");
  ASSERT_NE(file_open(0, u"f"), 0);
  EXPECT_EQ(read_line(0), u"first");
  EXPECT_EQ(file_truncate(0), 1);
  EXPECT_NE(file_eof(0), 0);
  EXPECT_EQ(file_close(0), 1);
  EXPECT_EQ(get("f"), "first\n");
}

TEST_F(FileStreams, NumbersAddressTheirFilesUntilClosed) {
  // Opening a busy number closes the old file first, writing out what it had buffered.
  ASSERT_NE(file_create(0, u"a"), 0);
  file_write_string(0, u"pending");
  ASSERT_NE(file_create(0, u"b"), 0);
  EXPECT_EQ(get("a"), "pending");

  ASSERT_NE(file_create(1, u"c"), 0);
  intptr_t handle = file_create(OBJ_AUTO, u"d");
  ASSERT_NE(handle, 0);
  EXPECT_NE(handle, OBJ_AUTO);
  file_write_line(0, u"to b");
  file_write_line(1, u"to c");
  file_write_line(handle, u"to d");
  EXPECT_EQ(file_close(-1), 1);
  EXPECT_EQ(get("b") + get("c") + get("d"), with_eol("to b|to c|to d|"));

  EXPECT_EQ(file_open_read(2, u"missing"), 0);
  // A name that the system cannot take is refused; no other name is opened in its place.
  EXPECT_EQ(file_open_read(3, std::u16string(5000, u'n').c_str()), 0);
  if (!windows_build()) {
    EXPECT_EQ(file_open(3, u"\xD800x"), 0);  // no bytes for the surrogate
  }
  for (intptr_t number : {intptr_t{0}, handle, intptr_t{2}, intptr_t{3}, intptr_t{-5},
                          intptr_t{1000}}) {
    EXPECT_EQ(file_eof(number), 0);
    EXPECT_EQ(read_line(number), u"");
    EXPECT_EQ(file_write_string(number, u"x"), 0);
    file_write_line(number, u"x");
    EXPECT_EQ(file_error(number), 0);
    EXPECT_EQ(file_truncate(number), 0);
    EXPECT_EQ(file_close(number), 0);
  }
}

TEST_F(FileStreams, TheFileIsTouchedOnlyWhenTheBufferWouldBeFull) {
  ASSERT_NE(file_create(0, u"w", FILE_OPEN_SHARE_ALL), 0);
  FileStream* s = file_stream(0);
  // What the buffer holds back is its size less its free bytes; the platform beneath may hold
  // what the buffer gave it for longer, so the file's size tells nothing until the close.
  file_write_string(0, std::u16string(4095, u'x').c_str());
  EXPECT_EQ(s->count, 1);
  file_write_string(0, u"x");  // would fill the buffer: the 4095 pending bytes go first
  EXPECT_EQ(s->count, 4095);
  file_write_string(0, std::u16string(4096, u'y').c_str());  // large: the pending byte, then
  EXPECT_EQ(s->count, 4096);                                  // straight on, nothing held
  file_write_string(0, std::u16string(4096, u'z').c_str());
  EXPECT_EQ(s->count, 4096);
  EXPECT_EQ(file_close(0), 1);
  EXPECT_EQ(fs::file_size("w"), 12288u);

  ASSERT_NE(file_open_read(0, u"w"), 0);
  s = file_stream(0);
  std::string bytes(9000, '\0');
  EXPECT_EQ(stream_read(s, bytes.data(), 10), 10);  // one refill of a whole buffer
  EXPECT_EQ(s->count, 4086);
  // The rest of the buffer, then 4914 bytes still wanted: straight from the file.
  EXPECT_EQ(stream_read(s, bytes.data(), 9000), 9000);
  EXPECT_EQ(s->count, 0);
  EXPECT_EQ(bytes.substr(4080, 20), std::string(6, 'x') + std::string(14, 'y'));
  EXPECT_EQ(bytes.substr(8180, 10), std::string(2, 'y') + std::string(8, 'z'));
  EXPECT_EQ(stream_read(s, bytes.data(), 9000), 12288 - 9010);

  ASSERT_NE(file_create(0, u"u", FILE_NO_BUFFER | FILE_OPEN_SHARE_ALL), 0);
  file_write_line(0, u"one");
  EXPECT_EQ(fs::file_size("u"), with_eol("one|").size());
}

TEST_F(FileStreams, AFailedOrRefusedWriteMakesTheFileIncomplete) {
  put("r", "keep");
  ASSERT_NE(file_open_read(0, u"r"), 0);
  EXPECT_EQ(file_write_bytes(0, "x", 0), 0);  // no write at all: no error either
  EXPECT_EQ(file_error(0), 0);
  EXPECT_EQ(file_write_string(0, u"x"), 0);
  EXPECT_NE(file_error(0), 0);
  EXPECT_EQ(file_truncate(0), 0);
  EXPECT_EQ(file_close(0), 0);
  EXPECT_EQ(get("r"), "keep");
  // A close that the system refuses after every byte went out: the file is not known to be
  // complete.
  intptr_t native = file_open(0, u"closed-under");
  ASSERT_NE(native, 0);
  file_write_line(0, u"x");
  EXPECT_EQ(file_truncate(0), 1);
#ifdef _WIN32
  CloseHandle(reinterpret_cast<HANDLE>(native));
#else
  close(*reinterpret_cast<int*>(native));  // the native record's first field: its descriptor
#endif
  EXPECT_EQ(file_close(0), 0);
  // A negative length is no length: nothing goes out, not even a line end.
  ASSERT_NE(file_create(0, u"negative"), 0);
  file_write_line_n(0, u"x", -1);
  file_write_lines_n(0, u"x\n", -1);
  EXPECT_EQ(file_write_bytes(0, "x", -1), 0);
  EXPECT_NE(file_error(0), 0);
  EXPECT_EQ(file_close(0), 0);
  EXPECT_EQ(get("negative"), "");
#ifndef _WIN32
  // Files that may not grow beyond 100 bytes (the limit's signal ignored, as the program does):
  // a buffered line fails when it is written out at close, a large write once it goes out;
  // closing all tells whether every file was complete.
  rlimit saved_limit;
  getrlimit(RLIMIT_FSIZE, &saved_limit);
  rlimit small = {100, saved_limit.rlim_max};
  auto saved_action = signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &small);
  EXPECT_NE(file_open(0, u"full"), 0);
  file_write_line(0, std::u16string(200, u'x').c_str());
  EXPECT_EQ(file_error(0), 0);
  EXPECT_EQ(file_close(0), 0);
  EXPECT_NE(file_open(0, u"full"), 0);
  file_write_string(0, std::u16string(5000, u'x').c_str());
  EXPECT_EQ(file_truncate(0), 0);  // at the latest when the bytes go out
  EXPECT_NE(file_error(0), 0);
  EXPECT_NE(file_create(1, u"fine"), 0);
  file_write_line(1, u"x");
  EXPECT_EQ(file_close(-1), 0);
  setrlimit(RLIMIT_FSIZE, &saved_limit);
  signal(SIGXFSZ, saved_action);
  EXPECT_EQ(get("fine"), "x\n");
#endif
}

#ifndef _WIN32
// Writing reaches only a plain file of its own. A symbolic link (dangling or not), another name
// of a file and a FIFO are never opened: while the folder could replace them they read as empty
// and refuse every write, and what they lead to stays as it was. A file that an open makes gets
// the permission bits asked for, less the umask; one that exists keeps its own, or with
// FILE_OPEN_OWN loses those it would not get.
TEST_F(FileStreams, WritesReachOnlyAPlainFileOfTheirOwn) {
  put("outside", "precious");
  fs::create_symlink("outside", "link");
  fs::create_symlink("missing/made-through-the-link", "dangling");
  fs::create_hard_link("outside", "second-name");
  ASSERT_EQ(mkfifo("fifo", 0666), 0);
  alarm(10);  // a blocked open ends the test program instead of hanging it
  for (std::string name : {"link", "dangling", "second-name", "fifo"}) {
    for (auto open : {file_open, file_create}) {
      ASSERT_NE(open(0, std::u16string(name.begin(), name.end()).c_str(), 0, 0666, FILE_ANY_GROUP),
                0)
          << name;
      EXPECT_EQ(read_line(0), u"");
      file_write_line(0, u"x");
      EXPECT_EQ(file_close(0), 0) << name;
    }
  }
  alarm(0);
  EXPECT_EQ(get("outside"), "precious");
  EXPECT_FALSE(fs::exists("missing"));

  mode_t saved_mask = umask(022);
  ASSERT_NE(file_open(0, u"made", 0, 0660), 0);
  EXPECT_EQ(file_permissions(0), 0640);
  file_close(0);
  put("kept", "x");
  chmod("kept", 0606);
  ASSERT_NE(file_open(0, u"kept", 0, 0600), 0);
  EXPECT_EQ(file_permissions(0), 0606);
  file_close(0);
  ASSERT_NE(file_open(0, u"kept", FILE_OPEN_OWN, 0660), 0);
  EXPECT_EQ(file_permissions(0), 0600);
  file_close(0);
  umask(saved_mask);
}

// /proc/self/mem is a regular file whose first bytes cannot be read (EIO): a read error that
// must not pass for the end of the file, buffered or not.
TEST_F(FileStreams, AReadErrorEndsTheFileAndMakesItIncomplete) {
  for (int32_t flags : {0, FILE_NO_BUFFER}) {
    ASSERT_NE(file_open_read(0, u"/proc/self/mem", flags), 0);
    EXPECT_NE(file_eof(0), 0);
    EXPECT_NE(file_error(0), 0);
    EXPECT_EQ(read_line(0), u"");
    EXPECT_NE(file_eof(0), 0);
    EXPECT_EQ(file_close(0), 0) << "flags " << flags;
  }
}
#endif

// A deletion reaches only the file open under the number, whatever its name leads to by then:
// the file goes, another file saved under its name stays, and a link goes but not what it leads
// to. Nothing is left under another name.
TEST_F(FileStreams, DeletionReachesOnlyTheOpenFile) {
  auto delete_and_close = [](const char16_t* name) {
    int32_t mark = temp_mark();
    int32_t result = file_delete(0, name, mark);
    EXPECT_EQ(at(mark), u"");
    temp_restore(mark);
    file_close(0);
    return result;
  };
  put("page", "x");
  ASSERT_NE(file_open_read(0, u"page", FILE_OPEN_DELETE), 0);
  EXPECT_EQ(delete_and_close(u"page"), FILE_DELETED);
  EXPECT_FALSE(fs::exists("page"));
  EXPECT_EQ(delete_and_close(u"page"), FILE_KEPT);  // no file open
#ifndef _WIN32
  put("page", "old");
  put("saved", "new");
  ASSERT_NE(file_open_read(0, u"page", FILE_OPEN_DELETE), 0);
  fs::rename("saved", "page");
  EXPECT_EQ(delete_and_close(u"page"), FILE_KEPT);
  EXPECT_EQ(get("page"), "new");
  put("file", "x");
  fs::create_symlink("file", "link");
  ASSERT_NE(file_open_read(0, u"link", FILE_OPEN_DELETE), 0);
  EXPECT_EQ(delete_and_close(u"link"), FILE_DELETED);
  EXPECT_FALSE(fs::is_symlink("link"));
  EXPECT_EQ(get("file"), "x");
#endif
  EXPECT_EQ(std::distance(fs::directory_iterator("."), {}), windows_build() ? 0 : 2);
}

TEST_F(FileStreams, OnlyRegularFilesOpenForReading) {
  fs::create_directory("sub");
  put("page", "x");
  EXPECT_EQ(file_open_read(0, u"sub"), 0);
  EXPECT_EQ(file_open(0, u"sub"), 0);
  EXPECT_EQ(file_create(0, u"sub"), 0);
  EXPECT_EQ(file_open_read(0, nullptr), 0);
  // Windows: exclusive use unless the flags share the file.
  ASSERT_NE(file_open_read(0, u"page"), 0);
  EXPECT_EQ(file_open_read(1, u"page") != 0, !windows_build());
  ASSERT_NE(file_open_read(0, u"page", FILE_OPEN_SHARE_READ), 0);
  EXPECT_NE(file_open_read(1, u"page", FILE_OPEN_SHARE_READ), 0);
#ifndef _WIN32
  fs::create_directory_symlink("sub", "link-to-dir");
  fs::create_symlink("page", "link-to-page");
  ASSERT_EQ(mkfifo("fifo", 0600), 0);
  EXPECT_EQ(file_open_read(0, u"link-to-dir"), 0);
  EXPECT_NE(file_open_read(0, u"link-to-page"), 0);
  EXPECT_EQ(read_line(0), u"x");
  alarm(10);  // a blocked open ends the test program instead of hanging it
  EXPECT_EQ(file_open_read(0, u"fifo"), 0);
  EXPECT_EQ(file_open_read(0, u"/dev/zero"), 0);
  alarm(0);
  EXPECT_EQ(file_eof(0), 0);  // the failed opens left the number free
#endif
}
