// The file library's line reader over arbitrary contents, in each text format and with buffers
// of any size (so every line end and character can straddle a refill), against a small model of
// the line rules. Every line read is written to a target opened over the previous run's target,
// as the conversion does: the target must hold exactly the lines and their line ends. The line
// decoder's block kernel gives what its scalar reference gives on the same bytes, cut at every
// block edge, whether the line may go on after them or not.
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "fuzz.h"
#include "runtime/base/utf8.h"
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

// The model. A text unit is one byte (UTF-8, 8-bit) or two (UTF-16). A line ends at LF, CR LF,
// a CR not followed by LF, or a zero unit; raw reads end only at a zero unit. A UTF-8 character
// never has a zero, CR or LF byte inside it, so bytes are enough to split UTF-8 lines. An odd
// last byte of UTF-16 is dropped, and it still counts as something left to read.
std::vector<std::string> model_lines(const std::string& bytes, int32_t unit, bool lines) {
  std::vector<std::string> out;
  size_t n = bytes.size(), pos = 0;
  auto value = [&](size_t at) {
    return unit == 1 ? static_cast<uint8_t>(bytes[at])
                     : static_cast<uint8_t>(bytes[at]) | static_cast<uint8_t>(bytes[at + 1]) << 8;
  };
  while (pos < n) {
    std::string line;
    for (;;) {
      if (pos + unit > n) {
        pos = n;
        break;
      }
      int v = value(pos);
      pos += unit;
      if (v == 0) break;
      if (lines && v == '\n') break;
      if (lines && v == '\r') {
        if (pos + unit > n) {
          pos = n;
        } else if (value(pos) == '\n') {
          pos += unit;
        }
        break;
      }
      line.append(bytes, pos - unit, unit);
    }
    out.push_back(line);
  }
  return out;
}

// The bytes a line's text takes in the file: UTF-8 and the 8-bit page give the bytes back.
std::string line_bytes(const char16_t* text, int32_t format) {
  if (format == TEXT_UTF16) {
    return std::string(reinterpret_cast<const char*>(text), 2 * static_cast<size_t>(str_len(text)));
  }
  char* bytes = format == TEXT_UTF8 ? str_to_utf8(text) : str_to_ansi(text);
  std::string out(bytes);
  bytes_free(bytes);
  return out;
}

void line_decoders_agree(const std::string& bytes) {
  auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
  for (int32_t count : block_cuts(static_cast<int32_t>(bytes.size()))) {
    std::vector<char16_t> fast(static_cast<size_t>(count) + 1), slow(fast.size());
    for (bool more : {false, true}) {
      Utf8Progress a = utf8_decode_line(data, count, fast.data(), more);
      Utf8Progress b = utf8_decode_line_scalar(data, count, slow.data(), more);
      FUZZ_CHECK(a.read == b.read && a.written == b.written);
      FUZZ_CHECK(std::equal(fast.begin(), fast.begin() + a.written, slow.begin()));
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
  constexpr int32_t FORMATS[] = {TEXT_UTF8, TEXT_UTF8, TEXT_ASCII, TEXT_UTF16};
  int32_t format = FORMATS[control & 3];
  bool raw = control & 4;
  std::string bytes(reinterpret_cast<const char*>(in.rest()), in.left());
  line_decoders_agree(bytes);
  write_file(folder + "/page.html", bytes);

  file_buffer_size = source_buffer;
  FUZZ_CHECK(file_open_read(0, source_name.c_str(), format));
  file_buffer_size = target_buffer;
  FUZZ_CHECK(file_open(1, target_name.c_str(), format));

  std::vector<std::string> want = model_lines(bytes, format == TEXT_UTF16 ? 2 : 1, !raw);
  std::string target;
  const std::string eol = format == TEXT_UTF16 ? std::string("\n\0", 2) : "\n";
  size_t count = 0;
  int32_t mark = temp_mark();
  while (!file_eof(0)) {
    FUZZ_CHECK(count < want.size());
    file_read_text(0, raw ? FILE_READ_RAW : 0, -1, mark);
    FUZZ_CHECK(temp_stack.top == mark + 2 * str_len(temp_at(mark)));
    FUZZ_CHECK(line_bytes(temp_at(mark), format) == want[count]);
    file_write_line(1, temp_at(mark));
    temp_restore(mark);
    target += want[count++] + eol;
  }
  FUZZ_CHECK(count == want.size());
  FUZZ_CHECK(file_close(0) == 1);
  FUZZ_CHECK(file_truncate(1) == 1);
  FUZZ_CHECK(file_close(1) == 1);
  FUZZ_CHECK(read_file(folder + "/page.php") == target);
  file_buffer_size = 4096;
  return 0;
}
