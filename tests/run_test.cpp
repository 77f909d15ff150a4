// The conversion run driven in-process, for what the console cannot show: the string stack
// comes back to where it was and nothing is left open, on every path.
#include "app/run.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/args.h"
#include "app/frame.h"
#include "runtime/files/files.h"
#include "runtime/fs/fs.h"
#include "support.h"

namespace fs = std::filesystem;

namespace {

class Run : public testing::Test {
 protected:
  void SetUp() override {
    home_ = fs::current_path();
    dir_ = fs::temp_directory_path() /
           ("pagehop-run-" +
            std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::current_path(dir_);
    run_state_clear();
    runtime_init();
  }
  void TearDown() override {
    runtime_end();
    temp_end();
    fs::current_path(home_);
    fs::remove_all(dir_);
  }

  void page(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name, std::ios::binary) << text;
  }

  // Runs the conversion with its console lines captured; returns them.
  std::string convert() {
    return captured_stdout([] { run_conversion(); });
  }

  fs::path home_, dir_;
};

}  // namespace

TEST_F(Run, LeavesTheStackWhereItWasAcrossPagesAndLines) {
  for (int i = 0; i < 20; ++i) {
    std::string text;
    for (int j = 0; j < 50; ++j)
      text += "<a href=\"p" + std::to_string(j) + ".html\">link</a> and text\n";
    page("p" + std::to_string(i) + ".html", text);
  }
  int32_t before = temp_mark();
  std::string out = convert();
  EXPECT_EQ(temp_mark(), before);
  EXPECT_LT(temp_stack.capacity, 32768);  // no growth from page to page
  EXPECT_NE(out.find("Made with pagehop"), std::string::npos);
  EXPECT_TRUE(fs::exists(dir_ / "p19.php"));
}

// A line larger than the stack keeps after a shrink is let go early and the stack shrunk
// before the echo; the echo, the target and the lines around it must not notice.
TEST_F(Run, RewritesAndEchoesALineLargerThanAMebibyte) {
  std::string huge;
  while (huge.size() < 1500000) huge += "<a href=\"p.html\">caf\xC3\xA9</a> ";
  std::string rewritten = huge;
  for (size_t at = 0; (at = rewritten.find(".html", at)) != std::string::npos; at += 4)
    rewritten.replace(at, 5, ".php");
  page("a.html", "before.html\n" + huge + "\nafter.html\nplain\n");
  int32_t before = temp_mark();
  std::string out = convert();
  EXPECT_EQ(temp_mark(), before);
  EXPECT_LE(temp_stack.capacity, 1048576);
  std::ifstream target(dir_ / "a.php", std::ios::binary);
  std::string written((std::istreambuf_iterator<char>(target)), {});
  const std::string eol = line_end();
  EXPECT_TRUE(written == "before.php" + eol + rewritten + eol + "after.php" + eol + "plain" + eol);
  EXPECT_NE(out.find(eol + rewritten + eol + "after.php" + eol), std::string::npos);
}

TEST_F(Run, ClosesItsFilesAndScanOnTheNormalPath) {
  page("a.html", "x.html\n");
  convert();
  EXPECT_EQ(file_eof(0), 0);  // nothing under the number
  EXPECT_EQ(file_close(1), 0);
  EXPECT_EQ(dir_entry_type(0), DIR_ENTRY_NONE);
}

TEST_F(Run, LeavesOnlyTheScanForTheFrameAfterACancellation) {
  page("a.html", "x\n");
  fs::create_directory(dir_ / "a.php");
  int32_t before = temp_mark();
  std::string out = convert();
  EXPECT_EQ(temp_mark(), before);
  EXPECT_NE(out.find(".php files are open, program cancelled."), std::string::npos);
  EXPECT_EQ(out.find("Made with pagehop"), std::string::npos);
  EXPECT_EQ(file_eof(0), 0);
  EXPECT_NE(dir_entry_type(0), DIR_ENTRY_NONE);  // the frame's runtime_end finishes it
  runtime_end();
  EXPECT_EQ(dir_entry_type(0), DIR_ENTRY_NONE);
}

// Windows opens every page and target for exclusive use, so a file another program holds open
// is one the run cannot take.
TEST_F(Run, PassesOverAPageHeldOpenAndCancelsAtATargetHeldOpen) {
  if (!windows_build()) GTEST_SKIP() << "files are opened for exclusive use on Windows only";
  page("a.html", "x.html\n");
  ASSERT_NE(file_open_read(5, u"a.html"), 0);  // another holder of the page
  std::string out = convert();
  EXPECT_EQ(out.find("Created"), std::string::npos);
  EXPECT_NE(out.find("Made with pagehop"), std::string::npos);
  file_close(5);

  run_state_clear();
  ASSERT_NE(file_open(5, u"a.php"), 0);  // another holder of the target
  out = convert();
  EXPECT_NE(out.find(".php files are open, program cancelled."), std::string::npos);
  file_close(5);
}

namespace {

// The main thread writes lines, with a checkpoint between two, until the close handler ends
// the runtime; every line it wrote must then be in the file, and it must write no more.
[[noreturn]] void close_while_writing() {
  fs::path dir = fs::temp_directory_path() / "pagehop-close-event";
  fs::create_directories(dir);
  fs::current_path(dir);
  temp_init();
  file_init();
  std::atomic<int> written{0};
  std::thread main_thread([&written] {
    runtime_hold();
    file_open(1, u"closing.txt");
    for (;;) {
      runtime_checkpoint();
      file_write_line(1, u"line");
      ++written;
    }
  });
  while (written < 5000) std::this_thread::yield();
  runtime_end_on_close();
  int lines = written;
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  auto size = fs::file_size("closing.txt");
  bool complete = size == lines * (4 + line_end().size()) && written == lines;
  fs::remove("closing.txt");
  _exit(complete ? 0 : 1);
}

}  // namespace

TEST(CloseEvent, WaitsForTheMainThreadAndWritesItsLinesOut) {
  if (!windows_build()) GTEST_SKIP() << "only Windows has a close handler on another thread";
  EXPECT_EXIT(close_while_writing(), testing::ExitedWithCode(0), "");
}
