// UTF-8 and 8-bit conversions: the codec's rules at their boundaries, size queries against the
// conversions, byte strings, decoding onto the stack, and the round-trip property.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "base/utf8.h"
#include "base/utf8_kernels.h"
#include "platform/sys.h"
#include "support.h"

using Codec = StackTest;
using Bytes = std::string;

namespace {

constexpr char GUARD = '\x5A';

// Decodes with a buffer of exactly the size query, checking the conversion agrees with the
// query and writes nothing beyond it.
std::u16string decode(const Bytes& bytes, uint32_t codepage = CODEPAGE_UTF8) {
  int32_t count = static_cast<int32_t>(bytes.size());
  int32_t size = text_decode(codepage, bytes.data(), count, nullptr, 0);
  std::vector<char16_t> out(static_cast<size_t>(size) + 2, GUARD);
  int32_t written = size ? text_decode(codepage, bytes.data(), count, out.data(), size) : 0;
  EXPECT_EQ(written, size) << "conversion and size query differ";
  EXPECT_EQ(out[static_cast<size_t>(size)], GUARD) << "written beyond the size";
  return std::u16string(out.data(), static_cast<size_t>(written));
}

Bytes encode(const std::u16string& units, uint32_t codepage = CODEPAGE_UTF8) {
  int32_t count = static_cast<int32_t>(units.size());
  int32_t size = text_encode(codepage, units.data(), count, nullptr, 0);
  Bytes out(static_cast<size_t>(size) + 2, GUARD);
  int32_t written = size ? text_encode(codepage, units.data(), count, out.data(), size) : 0;
  EXPECT_EQ(written, size) << "conversion and size query differ";
  EXPECT_EQ(out[static_cast<size_t>(size)], GUARD) << "written beyond the size";
  out.resize(static_cast<size_t>(written));
  return out;
}

Bytes owned_bytes(char* bytes) {
  Bytes copy(bytes);
  bytes_free(bytes);
  return copy;
}

// A small deterministic generator, so a failure repeats.
struct Random {
  uint64_t state;
  uint32_t next() {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return static_cast<uint32_t>(state >> 16);
  }
  uint32_t below(uint32_t n) { return next() % n; }
};

// Bytes weighted towards the ones whose handling differs (leads, continuations, the bounds of
// the second byte's ranges), with ASCII runs of every length for the word-at-a-time path.
Bytes random_bytes(Random& rng) {
  static const uint8_t interesting[] = {0x00, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF,
                                        0xC0, 0xC1, 0xC2, 0xDF, 0xE0, 0xE1, 0xED, 0xEE,
                                        0xEF, 0xF0, 0xF3, 0xF4, 0xF5, 0xFE, 0xFF};
  Bytes b;
  for (uint32_t n = rng.below(24); n > 0; --n) {
    uint32_t pick = rng.below(3);
    if (pick == 0) b += static_cast<char>(interesting[rng.below(sizeof interesting)]);
    if (pick == 1) b.append(rng.below(20), static_cast<char>(0x20 + rng.below(0x5F)));
    if (pick == 2) b += static_cast<char>(rng.below(256));
  }
  return b;
}

std::u16string random_utf16(Random& rng) {
  std::u16string t;
  for (uint32_t n = rng.below(30); n > 0; --n) {
    uint32_t kind = rng.below(4);
    uint32_t cp = kind == 0   ? rng.below(0x80)
                  : kind == 1 ? 0x80 + rng.below(0x780)
                  : kind == 2 ? 0x800 + rng.below(0xF800)
                              : 0x10000 + rng.below(0x100000);
    if (cp >= 0xD800 && cp <= 0xDFFF) cp -= 0x800;  // a lone surrogate is not valid UTF-16
    if (kind == 0) {
      t.append(rng.below(12), static_cast<char16_t>(cp));
    } else if (cp >= 0x10000) {
      t += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      t += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      t += static_cast<char16_t>(cp);
    }
  }
  return t;
}

}  // namespace

TEST_F(Codec, DecodingKeepsEveryByteOutsideWellFormedSequences) {
  struct Case {
    Bytes bytes;
    std::u16string units;
  } cases[] = {
      {"caf\xC3\xA9", u"caf\u00E9"},
      {"\xC2\x80\xDF\xBF", u"\u0080\u07FF"},
      {"\xE0\xA0\x80\xEF\xBF\xBF\xED\x9F\xBF\xEE\x80\x80", u"\u0800\uFFFF\uD7FF\uE000"},
      {"\xF0\x9F\x98\x80", u"\xD83D\xDE00"},
      {"\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", u"\xD800\xDC00\xDBFF\xDFFF"},
      {"\xE9 A", u"\xDCE9 A"},                  // Latin-1: the space survives
      {"abc\xE9", u"abc\xDCE9"},                // cut at the end
      {"\xC3", u"\xDCC3"},                      // truncated two-byte sequence
      {"\xE2\x82Z", u"\xDCE2\xDC82Z"},          // truncated three-byte sequence
      {"\xF0\x9F\x98", u"\xDCF0\xDC9F\xDC98"},  // truncated four-byte sequence
      {"\x80xyz", u"\xDC80xyz"},                // stray continuation first
      {"\xBF\xBF", u"\xDCBF\xDCBF"},
      {"\xC0\x80", u"\xDCC0\xDC80"},  // overlong zero
      {"\xC1\xBF", u"\xDCC1\xDCBF"},
      {"\xE0\x80\x80\xE0\x9F\xBF", u"\xDCE0\xDC80\xDC80\xDCE0\xDC9F\xDCBF"},
      {"\xF0\x8F\xBF\xBF", u"\xDCF0\xDC8F\xDCBF\xDCBF"},
      {"\xED\xA0\x80", u"\xDCED\xDCA0\xDC80"},  // an encoded surrogate
      {"\xED\xB2\x80", u"\xDCED\xDCB2\xDC80"},
      {"\xF4\x90\x80\x80", u"\xDCF4\xDC90\xDC80\xDC80"},  // above U+10FFFF
      {"\xF5\x80\xFE\xFF", u"\xDCF5\xDC80\xDCFE\xDCFF"},
      {"\xC3Z\xA9", u"\xDCC3Z\xDCA9"},  // a non-continuation ends the sequence
      {Bytes("a\0b", 3), std::u16string(u"a\0b", 3)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(decode(c.bytes), c.units) << "case " << (&c - cases);
    EXPECT_EQ(encode(c.units), c.bytes) << "case " << (&c - cases);
  }
}

TEST_F(Codec, EncodingFollowsTheSurrogateRules) {
  struct Case {
    std::u16string units;
    Bytes bytes;
  } cases[] = {
      {u"\x7F\x80\u07FF\u0800\uFFFF", "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF"},
      {u"\xD83D\xDE00", "\xF0\x9F\x98\x80"},
      {u"\xDC00", "\xED\xB0\x80"},  // a lone low surrogate outside the escapes
      {u"\xDC7F\xDD00", "\xED\xB1\xBF\xED\xB4\x80"},
      {u"\xDC80\xDCFF", "\x80\xFF"},          // escaped bytes
      {u"\xD800\xDC80", "\xF0\x90\x82\x80"},  // after a high surrogate: a pair, not a byte
      {u"a\xD83Dz", "a"},                     // a lone high surrogate ends the encoding
      {u"a\xD83D", "a"},
      {u"\xDE00\xD83D", "\xED\xB8\x80"},
  };
  for (const Case& c : cases) EXPECT_EQ(encode(c.units), c.bytes) << "case " << (&c - cases);

  // A conversion that reaches the surrogate: 0 when a unit follows it, else what came before.
  char out[16];
  EXPECT_EQ(text_encode(CODEPAGE_UTF8, u"a\xD83Dz", 3, out, sizeof out), 0);
  EXPECT_EQ(text_encode(CODEPAGE_UTF8, u"a\xD83D", 2, out, sizeof out), 1);
  EXPECT_EQ(owned_bytes(str_to_utf8(u"xy\xD83Dz")), "xy");
}

TEST_F(Codec, ShortBuffersTakeWholeSequencesOnly) {
  const char16_t* text = u"a\u00E9\u20AC\xD83D\xDE00";  // 1, 2, 3 and 4 bytes
  const int32_t whole[] = {0, 1, 1, 3, 3, 3, 6, 6, 6, 6, 10, 10};
  for (int32_t size = 1; size <= 11; ++size) {
    char out[16];
    memset(out, GUARD, sizeof out);
    EXPECT_EQ(text_encode(CODEPAGE_UTF8, text, 5, out, size), whole[size]) << "size " << size;
    EXPECT_EQ(out[size], GUARD) << "size " << size;
  }
  char16_t units[4] = {GUARD, GUARD, GUARD, GUARD};
  EXPECT_EQ(text_decode(CODEPAGE_UTF8, "a\xF0\x9F\x98\x80", 5, units, 2), 1);  // no half pair
  EXPECT_EQ(units[1], GUARD);
  EXPECT_EQ(text_decode(CODEPAGE_UTF8, "abc", 3, units, 2), 2);
  EXPECT_EQ(units[2], GUARD);
}

TEST_F(Codec, CountsAndSizesAtTheirLimits) {
  char16_t units[8];
  EXPECT_EQ(text_encode(CODEPAGE_UTF8, u"\u00E9", -1, nullptr, 0), 3);  // the terminator too
  EXPECT_EQ(text_decode(CODEPAGE_UTF8, "\xC3\xA9", -1, units, 8), 2);
  EXPECT_EQ(units[1], 0);
  EXPECT_EQ(text_encode(CODEPAGE_UTF8, u"abc", 0, nullptr, 0), 0);
  EXPECT_EQ(text_decode(CODEPAGE_UTF8, nullptr, -1, nullptr, 0), 0);
  // Nothing to convert or no room: nothing is written.
  char bytes[4] = {'g', 'g', 'g', 'g'};
  std::fill(units, units + 8, GUARD);
  for (uint32_t page : {CODEPAGE_UTF8, CODEPAGE_ANSI}) {
    EXPECT_EQ(text_decode(page, "abc", 3, units, 0), 0);
    EXPECT_EQ(text_decode(page, "abc", 0, units, 8), 0);
    EXPECT_EQ(text_encode(page, u"abc", 3, bytes, 0), 0);
    EXPECT_EQ(text_encode(page, u"abc", 0, bytes, 4), 0);
  }
  EXPECT_EQ(units[0], GUARD);
  EXPECT_EQ(bytes[0], 'g');
  EXPECT_EQ(text_encode(1252, u"abc", 3, nullptr, 0), 0);  // no other code page
}

TEST_F(Codec, AnyBytesAndAnyValidTextSurviveTheRoundTrip) {
  Random rng{0x9E3779B97F4A7C15u};
  for (int i = 0; i < 20000; ++i) {
    Bytes b = random_bytes(rng);
    ASSERT_EQ(encode(decode(b)), b) << "iteration " << i;
    std::u16string t = random_utf16(rng);
    ASSERT_EQ(decode(encode(t)), t) << "iteration " << i;
  }
}

// Each block kernel set that this processor runs (AVX2 where it has it, and SSSE3 and SSE2
// forced even then) against the scalar references, here as well as under the fuzzer, so that
// each build's own kernels are checked: random texts and every length of them, which puts each
// character at every place relative to the blocks, full and short rooms, a search for a
// piece of each text and one for the last place of that piece's first unit.
TEST_F(Codec, BlockKernelsGiveWhatTheScalarReferencesGiveAtEveryLength) {
  // The same progress and the same output up to where it got; a kernel may store beyond that.
  auto agree = [](Utf8Progress a, Utf8Progress b, const auto& fast, const auto& slow) {
    return a.read == b.read && a.written == b.written && a.stop == b.stop &&
           std::equal(fast.begin(), fast.begin() + a.written, slow.begin());
  };
  for (const Utf8Kernels* kernels :
       {utf8_avx2_kernels(), utf8_ssse3_kernels(), utf8_sse2_kernels()}) {
    if (!kernels) continue;
    SCOPED_TRACE(kernels == utf8_sse2_kernels()    ? "SSE2"
                 : kernels == utf8_ssse3_kernels() ? "SSSE3"
                                                   : "AVX2");
    Random rng{0x2545F4914F6CDD1Du};
    for (int iteration = 0; iteration < 400; ++iteration) {
      // Stray bytes around a line end and around well-formed mixed text, whose runs of one- to
      // three-byte characters the mixed-text steps take.
      Bytes b = random_bytes(rng) + "\n" + random_bytes(rng) + encode(random_utf16(rng)) +
                random_bytes(rng);
      std::u16string t =
          random_utf16(rng) + u"\xD83D\xDC80" + random_utf16(rng) + random_utf16(rng);
      const auto* bytes = reinterpret_cast<const uint8_t*>(b.data());
      std::vector<char16_t> units(b.size() + 1), expected(b.size() + 1);
      for (int32_t n = 0; n <= static_cast<int32_t>(b.size()); ++n) {
        SCOPED_TRACE(testing::Message() << "iteration " << iteration << ", " << n << " bytes");
        int32_t room = 1 + static_cast<int32_t>(rng.below(static_cast<uint32_t>(n) + 1));
        ASSERT_TRUE(agree(kernels->decode(bytes, n, units.data(), room),
                          utf8_decode_scalar(bytes, n, expected.data(), room), units, expected));
        for (bool more : {false, true}) {
          ASSERT_TRUE(agree(kernels->decode_line(bytes, n, units.data(), more),
                            utf8_decode_line_scalar(bytes, n, expected.data(), more), units,
                            expected));
        }
      }
      std::vector<uint8_t> out(3 * t.size() + 1), expected_out(3 * t.size() + 1);
      for (int32_t n = 0; n <= static_cast<int32_t>(t.size()); ++n) {
        SCOPED_TRACE(testing::Message() << "iteration " << iteration << ", " << n << " units");
        for (int32_t room : {3 * n, 1 + static_cast<int32_t>(rng.below(3 * n + 1))}) {
          ASSERT_TRUE(agree(kernels->encode(t.data(), n, out.data(), room),
                            utf8_encode_scalar(t.data(), n, expected_out.data(), room), out,
                            expected_out));
        }
        size_t at = rng.below(static_cast<uint32_t>(t.size()));
        int32_t m = static_cast<int32_t>(std::min<size_t>(1 + rng.below(4), t.size() - at));
        ASSERT_EQ(kernels->search(t.data(), n, t.data() + at, m),
                  utf16_search_scalar(t.data(), n, t.data() + at, m));
        ASSERT_EQ(kernels->find_last(t.data(), n, t[at]),
                  utf16_find_last_scalar(t.data(), n, t[at]));
      }
    }
  }
}

TEST_F(Codec, DecodingOntoTheStackEndsOnATerminator) {
  struct Case {
    const char* bytes;
    std::u16string expected;
  } cases[] = {
      {nullptr, u""},
      {"", u""},
      {"caf\xC3\xA9", u"caf\u00E9"},
      {"caf\xE9", u"caf\xDCE9"},  // a Latin-1 name keeps its byte
      {"\x80", u"\xDC80"},
      {"\xC3", u"\xDCC3"},
  };
  EXPECT_EQ(owned_bytes(str_to_ansi(nullptr)), "");
  EXPECT_EQ(owned_bytes(str_to_ansi(u"plain")), "plain");
  for (const Case& c : cases) {
    str_concat(u"kept");
    int32_t mark = temp_mark();
    utf8_to_temp(c.bytes, mark);
    EXPECT_EQ(at(mark), c.expected);
    EXPECT_EQ(temp_stack.top, mark + 2 * static_cast<int32_t>(c.expected.size()));
    EXPECT_EQ(owned_bytes(str_to_utf8(temp_at(mark))), c.bytes ? c.bytes : "");
    EXPECT_EQ(std::u16string(temp_at(0), 4), u"kept");  // what lay below stays
    temp_restore(0);
  }

  for (const char* empty : {static_cast<const char*>(nullptr), ""}) {
    ansi_to_temp(empty, 0);
    EXPECT_EQ(at(0), u"");
    EXPECT_EQ(temp_stack.top, 0);
  }
  ansi_to_temp("plain", 0);
  EXPECT_EQ(at(0), u"plain");
  EXPECT_EQ(temp_stack.top, 10);
}

TEST_F(Codec, BytesThatLieOnTheStackAreReadBeforeTheyAreOverwritten) {
  const char text[] = "abcdefghij";  // decoded in place it would overwrite itself
  temp_reserve(6, 0);
  memcpy(temp_stack.buffer, text, sizeof text);
  utf8_to_temp(temp_stack.buffer, 0);
  EXPECT_EQ(at(0), u"abcdefghij");

  temp_restore(0);
  temp_reserve(6, 0);
  memcpy(temp_stack.buffer, text, sizeof text);
  ansi_to_temp(temp_stack.buffer, 0);
  EXPECT_EQ(at(0), u"abcdefghij");
}

TEST_F(Codec, TheEightBitPageOfEachBuild) {
  if (windows_build()) {
    // The system's ANSI code page: whatever it is, ASCII passes unchanged.
    EXPECT_EQ(encode(u"ASCII 0-9", CODEPAGE_ANSI), "ASCII 0-9");
    EXPECT_EQ(decode("ASCII 0-9", CODEPAGE_ANSI), u"ASCII 0-9");
    return;
  }
  // POSIX: ISO 8859-1, and units without a byte are dropped.
  EXPECT_EQ(encode(u"\u00E9\u20AC", CODEPAGE_ANSI), "\xE9");
  EXPECT_EQ(encode(u"\x7F\x80\xFF\u0100", CODEPAGE_ANSI), "\x7F\x80\xFF");
  EXPECT_EQ(decode("\x80\xE9\xFF", CODEPAGE_ANSI), u"\u0080\u00E9\u00FF");
  EXPECT_EQ(owned_bytes(str_to_ansi(u"caf\u00E9\u20AC")), "caf\xE9");
  ansi_to_temp("caf\xE9", 0);
  EXPECT_EQ(at(0), u"caf\u00E9");
  char16_t units[2] = {GUARD, GUARD};
  EXPECT_EQ(text_decode(CODEPAGE_ANSI, "abc", 3, units, 1), 1);  // stops at the size
  EXPECT_EQ(units[1], GUARD);
}
