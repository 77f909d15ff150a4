// The file library's line reader over arbitrary contents, in each text format (UTF-16 in both
// byte orders) and with buffers of any size (so every line end, zero and character can straddle
// a refill), against a small model of the line rules. Every line read is written to a target opened
// over the previous run's target, as the conversion does: the target must hold exactly the lines
// and their line ends. The line decoder's block kernels (AVX2 and SSSE3 where the processor has
// them, SSE2 forced) give what the scalar reference gives on the same bytes, cut at every block
// edge, whether the line may go on after them or not.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/utf8.h"
#include "fuzz.h"
#include "runtime/files/files.h"
#include "runtime/strings/strings.h"

namespace {

std::string folder;  // a scratch folder of this process
std::u16string source_name, target_name;

constexpr int32_t BUFFER_SIZES[] = {4096, 0, 1, 2, 3, 4, 5, 7, 8, 13, 64, 4095};

std::u16string wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

void write_file(const std::string& path, const std::string& bytes) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  FUZZ_CHECK(fd >= 0);
  FUZZ_CHECK(write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size()));
  close(fd);
}

std::string read_file(const std::string& path) {
  std::string bytes;
  int fd = open(path.c_str(), O_RDONLY);
  FUZZ_CHECK(fd >= 0);
  char chunk[4096];
  for (ssize_t n; (n = read(fd, chunk, sizeof chunk)) > 0;)
    bytes.append(chunk, static_cast<size_t>(n));
  close(fd);
  return bytes;
}

bool utf16(int32_t format) { return format == TEXT_UTF16 || format == TEXT_UTF16BE; }

// The model. A text unit is one byte (UTF-8, 8-bit) or two (UTF-16, either order). A line ends
// at LF, CR LF or a CR not followed by LF. A zero unit ends a raw read and a line of 8-bit text;
// in a line of UTF-8 or UTF-16 it is a character like any other. A UTF-8 character never has a
// zero, CR or LF byte inside it, so bytes are enough to split UTF-8 lines. A last byte of UTF-16
// that makes no unit belongs to no text: it is what is left to read afterwards (`rest`).
std::vector<std::string> model_lines(const std::string& bytes, int32_t format, bool lines,
                                     std::string& rest) {
  size_t unit = utf16(format) ? 2 : 1;
  size_t n = bytes.size() - bytes.size() % unit, pos = 0;
  rest = bytes.substr(n);
  bool zero_ends = !lines || format == TEXT_ASCII;
  auto value = [&](size_t at) {
    auto byte = [&](size_t k) { return static_cast<uint8_t>(bytes[k]); };
    if (unit == 1) return static_cast<int>(byte(at));
    return format == TEXT_UTF16 ? byte(at) | byte(at + 1) << 8 : byte(at) << 8 | byte(at + 1);
  };
  std::vector<std::string> out;
  while (pos < n) {
    std::string line;
    while (pos < n) {
      int v = value(pos);
      pos += unit;
      if (v == 0 && zero_ends) break;
      if (lines && v == '\n') break;
      if (lines && v == '\r') {
        if (pos < n && value(pos) == '\n') pos += unit;
        break;
      }
      line.append(bytes, pos - unit, unit);
    }
    out.push_back(line);
  }
  return out;
}

// The bytes a line's `length` units take in the file: UTF-8 and the 8-bit page give the bytes
// back.
std::string line_bytes(const char16_t* text, int32_t length, int32_t format) {
  std::string out;
  if (utf16(format)) {
    for (int32_t k = 0; k < length; ++k) {
      char low = static_cast<char>(text[k] & 0xFF), high = static_cast<char>(text[k] >> 8);
      out += format == TEXT_UTF16 ? std::string{low, high} : std::string{high, low};
    }
  } else if (format == TEXT_UTF8) {
    out.resize(3 * static_cast<size_t>(length));
    auto* dst = reinterpret_cast<uint8_t*>(out.data());
    out.resize(static_cast<size_t>(utf8_encode(text, length, dst, 3 * length).written));
  } else {
    char* bytes = str_to_ansi(text);
    out = bytes;
    bytes_free(bytes);
  }
  return out;
}

void line_decoders_agree(const std::string& bytes) {
  auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  for (int32_t count : block_cuts(static_cast<int32_t>(bytes.size()))) {
    std::vector<char16_t> fast(static_cast<size_t>(count) + 1), slow(fast.size());
    for (bool more : {false, true}) {
      Utf8Progress b = utf8_decode_line_scalar(data, count, slow.data(), more);
      for (const Utf8Kernels* k : block_kernel_sets()) {
        Utf8Progress a = k->decode_line(data, count, fast.data(), more);
        FUZZ_CHECK(a.read == b.read && a.written == b.written && a.stop == b.stop);
        FUZZ_CHECK(std::equal(fast.begin(), fast.begin() + a.written, slow.begin()));
      }
    }
  }
}

void remove_folder() {
  unlink((folder + "/page.html").c_str());
  unlink((folder + "/page.php").c_str());
  rmdir(folder.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Memory-backed when there is /dev/shm: the target rewrites two files per input.
  char pattern[] = "/dev/shm/pagehop-fuzz-lines.XXXXXX";
  char fallback[] = "/tmp/pagehop-fuzz-lines.XXXXXX";
  char* made = mkdtemp(pattern);
  if (!made) made = mkdtemp(fallback);
  FUZZ_CHECK(made);
  folder = made;
  atexit(remove_folder);
  source_name = wide(folder + "/page.html");
  target_name = wide(folder + "/page.php");
  temp_init();
  file_init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  uint8_t control = in.byte();
  int32_t source_buffer = BUFFER_SIZES[in.byte() % std::size(BUFFER_SIZES)];
  int32_t target_buffer = BUFFER_SIZES[in.byte() % std::size(BUFFER_SIZES)];
  constexpr int32_t FORMATS[] = {TEXT_UTF8,  TEXT_UTF8,  TEXT_UTF8,    TEXT_ASCII,
                                 TEXT_UTF16, TEXT_UTF16, TEXT_UTF16BE, TEXT_UTF16BE};
  int32_t format = FORMATS[control & 7];
  bool raw = control & 8;
  std::string bytes(reinterpret_cast<const char*>(in.rest()), in.left());
  line_decoders_agree(bytes);
  write_file(folder + "/page.html", bytes);

  file_buffer_size = source_buffer;
  FUZZ_CHECK(file_open_read(0, source_name.c_str(), format));
  file_buffer_size = target_buffer;
  FUZZ_CHECK(file_open(1, target_name.c_str(), format));

  std::string rest;
  std::vector<std::string> want = model_lines(bytes, format, !raw, rest);
  std::string target;
  const std::string eol = format == TEXT_UTF16     ? std::string("\n\0", 2)
                          : format == TEXT_UTF16BE ? std::string("\0\n", 2)
                                                   : "\n";
  size_t count = 0;
  int32_t mark = temp_mark();
  while (!file_eof(0)) {
    FUZZ_CHECK(count < want.size());
    file_read_text(0, raw ? FILE_READ_RAW : 0, -1, mark);
    int32_t length = (temp_stack.top - mark) / 2;
    FUZZ_CHECK(temp_at(mark)[length] == 0);
    FUZZ_CHECK(line_bytes(temp_at(mark), length, format) == want[count]);
    file_write_line_n(1, temp_at(mark), length);
    temp_restore(mark);
    target += want[count++] + eol;
  }
  FUZZ_CHECK(count == want.size());
  // What no text took goes to the target as it is, as the conversion does with it.
  char left[4];
  int32_t got = file_read_bytes(0, left, sizeof left);
  FUZZ_CHECK(std::string(left, static_cast<size_t>(got)) == rest);
  file_write_bytes(1, left, got);
  target += rest;
  FUZZ_CHECK(file_close(0) == 1);
  FUZZ_CHECK(file_truncate(1) == 1);
  FUZZ_CHECK(file_close(1) == 1);
  FUZZ_CHECK(read_file(folder + "/page.php") == target);
  file_buffer_size = 4096;
  return 0;
}
