// The UTF-8 and 8-bit codecs: any bytes survive decoding and encoding unchanged, well-formed
// UTF-16 survives encoding and decoding, size queries agree with the conversions, and a short
// destination is filled with a prefix of whole characters and never overrun. Each set of block
// kernels of base/ (AVX2 and SSSE3 where the processor has them, SSE2 forced) gives what the
// scalar references give, on the same input cut at every block edge, with full and short rooms.
#include <cstring>
#include <memory>

#include "base/utf8.h"
#include "fuzz.h"
#include "runtime/strings/strings.h"

namespace {

// Decodes into a heap block of exactly `room` units, so a write beyond it is a finding.
std::u16string decode(const std::string& bytes, int32_t room, uint32_t codepage = CODEPAGE_UTF8) {
  if (room == 0) return {};
  std::unique_ptr<char16_t[]> out(new char16_t[static_cast<size_t>(room)]);
  int32_t n =
      text_decode(codepage, bytes.data(), static_cast<int32_t>(bytes.size()), out.get(), room);
  FUZZ_CHECK(n >= 0 && n <= room);
  return std::u16string(out.get(), static_cast<size_t>(n));
}

std::string encode(const std::u16string& units, int32_t room, uint32_t codepage = CODEPAGE_UTF8) {
  if (room == 0) return {};
  std::unique_ptr<char[]> out(new char[static_cast<size_t>(room)]);
  int32_t n =
      text_encode(codepage, units.data(), static_cast<int32_t>(units.size()), out.get(), room);
  FUZZ_CHECK(n >= 0 && n <= room);
  return std::string(out.get(), static_cast<size_t>(n));
}

int32_t decode_size(const std::string& bytes, uint32_t codepage = CODEPAGE_UTF8) {
  return text_decode(codepage, bytes.data(), static_cast<int32_t>(bytes.size()), nullptr, 0);
}

int32_t encode_size(const std::u16string& units, uint32_t codepage = CODEPAGE_UTF8) {
  return text_encode(codepage, units.data(), static_cast<int32_t>(units.size()), nullptr, 0);
}

bool is_high(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// No surrogate stands alone.
bool well_formed(const std::u16string& units) {
  for (size_t i = 0; i < units.size(); ++i) {
    if (is_high(units[i])) {
      if (i + 1 == units.size() || !is_low(units[i + 1])) return false;
      ++i;
    } else if (is_low(units[i])) {
      return false;
    }
  }
  return true;
}

// Any bytes: decode and encode give them back; a short room gives a prefix.
void bytes_round_trip(const std::string& bytes, int32_t cut) {
  int32_t units = decode_size(bytes);
  std::u16string text = decode(bytes, units);
  FUZZ_CHECK(static_cast<int32_t>(text.size()) == units);
  FUZZ_CHECK(encode_size(text) == static_cast<int32_t>(bytes.size()));
  FUZZ_CHECK(encode(text, static_cast<int32_t>(bytes.size())) == bytes);

  if (units > 0) {
    int32_t room = 1 + cut % units;
    std::u16string part = decode(bytes, room);
    FUZZ_CHECK(text.compare(0, part.size(), part) == 0);
    // Only a surrogate pair that does not fit whole is left out.
    FUZZ_CHECK(static_cast<int32_t>(part.size()) >= room - 1);
  }
  if (!bytes.empty()) {
    int32_t room = 1 + cut % static_cast<int32_t>(bytes.size());
    std::string part = encode(text, room);
    FUZZ_CHECK(bytes.compare(0, part.size(), part) == 0);
    FUZZ_CHECK(static_cast<int32_t>(part.size()) > room - 4);
  }

  // ISO 8859-1 keeps every byte as one unit.
  std::u16string latin = decode(bytes, decode_size(bytes, CODEPAGE_ANSI), CODEPAGE_ANSI);
  FUZZ_CHECK(latin.size() == bytes.size());
  FUZZ_CHECK(encode(latin, static_cast<int32_t>(bytes.size()), CODEPAGE_ANSI) == bytes);
}

// Any units: the size query matches the conversion; well-formed text comes back unchanged.
void units_round_trip(const std::u16string& text) {
  int32_t size = encode_size(text);
  std::string bytes = encode(text, size);
  FUZZ_CHECK(static_cast<int32_t>(bytes.size()) == size);
  if (!well_formed(text)) return;
  FUZZ_CHECK(decode(bytes, decode_size(bytes)) == text);
}

// The byte-string and stack forms: a zero-terminated string onto the stack and back, also
// when the bytes lie on the stack at the result offset.
void stack_round_trip(const std::string& bytes, bool on_stack) {
  std::string terminated = bytes.substr(0, bytes.find('\0'));
  int32_t mark = temp_mark();
  const char* source = terminated.c_str();
  if (on_stack) {
    int32_t units = static_cast<int32_t>(terminated.size() / 2 + 1);
    char* place = reinterpret_cast<char*>(temp_reserve(units, mark));
    std::memcpy(place, terminated.c_str(), terminated.size() + 1);
    source = place;
  }
  utf8_to_temp(source, mark);
  FUZZ_CHECK(temp_stack.top ==
             mark + 2 * static_cast<int32_t>(std::char_traits<char16_t>::length(temp_at(mark))));
  char* back = str_to_utf8(temp_at(mark));
  FUZZ_CHECK(terminated == back);
  bytes_free(back);
  temp_restore(mark);
}

// Bytes and units whose handling differs, so that inputs mapped onto them are full of invalid,
// overlong, cut-off and surrogate sequences, line ends and zeros.
constexpr uint8_t EDGE_BYTES[] = {0x00, '\n', '\r', 'a',  0x7F, 0x80, 0x8F, 0x90, 0x9F,
                                  0xA0, 0xBF, 0xC0, 0xC1, 0xC2, 0xDF, 0xE0, 0xE1, 0xEC,
                                  0xED, 0xEE, 0xEF, 0xF0, 0xF3, 0xF4, 0xF5, 0xFF};
constexpr char16_t EDGE_UNITS[] = {0x0000, 'a',    0x7F,   0x80,   0x7FF,  0x800,
                                   0xD7FF, 0xD800, 0xDBFF, 0xDC00, 0xDC7F, 0xDC80,
                                   0xDCFF, 0xDD00, 0xDFFF, 0xE000, 0xFFFF};

bool same(Utf8Progress a, Utf8Progress b) {
  return a.read == b.read && a.written == b.written && a.stop == b.stop;
}

// A destination of exactly `room` elements on the heap, so that a write beyond it is a finding.
template <typename T>
std::unique_ptr<T[]> exact(int32_t room) {
  return std::unique_ptr<T[]>(new T[static_cast<size_t>(std::max(room, 1))]);
}

// A fast conversion and its reference, each into a destination of exactly `room` elements, must
// agree on how far they got and on what they wrote.
template <typename In, typename Out>
void agree(Utf8Progress (*fast)(const In*, int32_t, Out*, int32_t),
           Utf8Progress (*slow)(const In*, int32_t, Out*, int32_t), const In* src, int32_t count,
           int32_t room) {
  auto fast_out = exact<Out>(room), slow_out = exact<Out>(room);
  Utf8Progress a = fast(src, count, fast_out.get(), room);
  Utf8Progress b = slow(src, count, slow_out.get(), room);
  FUZZ_CHECK(same(a, b) && std::equal(fast_out.get(), fast_out.get() + a.written, slow_out.get()));
  FUZZ_CHECK(same(fast(src, count, nullptr, 0), slow(src, count, nullptr, 0)));
}

void decoders_agree(const Utf8Kernels& k, const uint8_t* bytes, int32_t n, int32_t pick) {
  for (int32_t count : block_cuts(n)) {
    for (int32_t room : {count, 1 + pick % (count + 1)}) {
      agree(k.decode, utf8_decode_scalar, bytes, count, room);
    }
    for (bool more : {false, true}) {
      auto fast = exact<char16_t>(count), slow = exact<char16_t>(count);
      Utf8Progress a = k.decode_line(bytes, count, fast.get(), more);
      Utf8Progress b = utf8_decode_line_scalar(bytes, count, slow.get(), more);
      FUZZ_CHECK(same(a, b) && std::equal(fast.get(), fast.get() + a.written, slow.get()));
    }
  }
}

void encoders_agree(const Utf8Kernels& k, const char16_t* units, int32_t n, int32_t pick) {
  for (int32_t count : block_cuts(n)) {
    for (int32_t room : {3 * count, 1 + pick % (3 * count + 1)}) {
      agree(k.encode, utf8_encode_scalar, units, count, room);
    }
  }
}

// A text and a pattern over a few units, so that candidates for the first two units and near
// misses come often.
void searches_agree(const Utf8Kernels& k, const std::u16string& raw, int32_t pick) {
  static constexpr char16_t ALPHABET[] = u".htmlx.h\u00E9";
  std::u16string text = in_alphabet(raw, ALPHABET);
  if (text.empty()) return;
  // A piece of the text, so it is found in the longer cuts, or that piece with its last unit
  // changed, a near miss.
  size_t at = static_cast<size_t>(pick * 7) % text.size();
  std::u16string pattern = text.substr(at, static_cast<size_t>(1 + pick % 6));
  if (pick & 0x40) pattern.back() = pattern.back() == u'x' ? u'l' : u'x';
  int32_t m = static_cast<int32_t>(pattern.size());
  for (int32_t n : block_cuts(static_cast<int32_t>(text.size()))) {
    FUZZ_CHECK(k.search(text.data(), n, pattern.data(), m) ==
               utf16_search_scalar(text.data(), n, pattern.data(), m));
    FUZZ_CHECK(k.find_last(text.data(), n, pattern[0]) ==
               utf16_find_last_scalar(text.data(), n, pattern[0]));
  }
}

// Each kernel set on the input as it is and mapped onto the edge bytes and units; the decoders
// also on the UTF-8 of the units, text of every width with few faults.
void kernels_agree(const Utf8Kernels& k, const std::string& bytes, uint8_t control, int32_t pick) {
  std::u16string units(bytes.size() / 2, u'\0');
  std::memcpy(units.data(), bytes.data(), units.size() * 2);
  if (control & 4) {
    for (char16_t& u : units) u = EDGE_UNITS[u % std::size(EDGE_UNITS)];
  }
  std::string mapped = bytes;
  if (control & 8) {
    mapped = encode(units, encode_size(units));
  } else if (control & 2) {
    for (char& b : mapped)
      b = static_cast<char>(EDGE_BYTES[static_cast<uint8_t>(b) % std::size(EDGE_BYTES)]);
  }
  decoders_agree(k, reinterpret_cast<const uint8_t*>(mapped.data()),
                 static_cast<int32_t>(mapped.size()), pick);
  encoders_agree(k, units.data(), static_cast<int32_t>(units.size()), pick);
  searches_agree(k, units, pick);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  temp_init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  FuzzInput in(data, size);
  uint8_t control = in.byte();
  int32_t cut = in.byte();
  std::string bytes(reinterpret_cast<const char*>(in.rest()), in.left());

  bytes_round_trip(bytes, cut);
  std::u16string units(bytes.size() / 2, u'\0');
  std::memcpy(units.data(), bytes.data(), units.size() * 2);
  units_round_trip(units);
  stack_round_trip(bytes, control & 1);
  for (const Utf8Kernels* k : block_kernel_sets()) kernels_agree(*k, bytes, control, cut);
  return 0;
}
