// The UTF-8 and 8-bit codecs: any bytes survive decoding and encoding unchanged, well-formed
// UTF-16 survives encoding and decoding, size queries agree with the conversions, and a short
// destination is filled with a prefix of whole characters and never overrun.
#include <cstring>
#include <memory>

#include "fuzz.h"
#include "runtime/strings/strings.h"

namespace {

// Decodes into a heap block of exactly `room` units, so a write beyond it is a finding.
std::u16string decode(const std::string& bytes, int32_t room, uint32_t codepage = CP_UTF8) {
  if (room == 0) return {};
  std::unique_ptr<char16_t[]> out(new char16_t[static_cast<size_t>(room)]);
  int32_t n =
      text_decode(codepage, 0, bytes.data(), static_cast<int32_t>(bytes.size()), out.get(), room);
  FUZZ_CHECK(n >= 0 && n <= room);
  return std::u16string(out.get(), static_cast<size_t>(n));
}

std::string encode(const std::u16string& units, int32_t room, uint32_t codepage = CP_UTF8) {
  if (room == 0) return {};
  std::unique_ptr<char[]> out(new char[static_cast<size_t>(room)]);
  int32_t n =
      text_encode(codepage, 0, units.data(), static_cast<int32_t>(units.size()), out.get(), room);
  FUZZ_CHECK(n >= 0 && n <= room);
  return std::string(out.get(), static_cast<size_t>(n));
}

int32_t decode_size(const std::string& bytes, uint32_t codepage = CP_UTF8) {
  return text_decode(codepage, 0, bytes.data(), static_cast<int32_t>(bytes.size()), nullptr, 0);
}

int32_t encode_size(const std::u16string& units, uint32_t codepage = CP_UTF8) {
  return text_encode(codepage, 0, units.data(), static_cast<int32_t>(units.size()), nullptr, 0);
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
  std::u16string latin = decode(bytes, decode_size(bytes, CP_ACP), CP_ACP);
  FUZZ_CHECK(latin.size() == bytes.size());
  FUZZ_CHECK(encode(latin, static_cast<int32_t>(bytes.size()), CP_ACP) == bytes);
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
  return 0;
}
