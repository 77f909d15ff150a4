// POSIX: the terminal of standard input gets its attributes back however the program ends.
// Each case runs in a child whose standard input is a new pseudo-terminal.
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "app/frame.h"
#include "app/run.h"
#include "gtest/gtest.h"
#include "platform/sys.h"
#include "runtime/console/console.h"
#include "runtime/files/files.h"
#include "runtime/strings/strings.h"

namespace {

struct Ended {
  int status;     // the child's wait status
  bool restored;  // the terminal echoes canonical input again afterwards
};

// Runs `body` in a child whose standard input is a new pseudo-terminal.
Ended in_child(const std::function<void()>& body) {
  int controller = -1, terminal = -1;
  if (openpty(&controller, &terminal, nullptr, nullptr, nullptr) != 0) return {-1, false};
  pid_t child = fork();
  if (child == 0) {
    dup2(terminal, 0);
    body();
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  termios after;
  tcgetattr(terminal, &after);
  close(controller);
  close(terminal);
  return {status, (after.c_lflag & (ICANON | ECHO)) == (ICANON | ECHO)};
}

// Runs `ending` in a child after the console was opened on a pseudo-terminal.
Ended end_with(const std::function<void()>& ending) {
  return in_child([&ending] {
    console_init();
    console_open(TEXT_UTF8);
    termios opened;
    tcgetattr(0, &opened);
    if (opened.c_lflag & (ICANON | ECHO)) _exit(99);  // the console did not take the terminal
    ending();
  });
}

}  // namespace

TEST(Terminal, IsRestoredAtTheEndAtAnEarlyExitAndOnEverySignalThatEndsTheProcess) {
  Ended normal = end_with([] { console_end(); });
  EXPECT_TRUE(WIFEXITED(normal.status) && WEXITSTATUS(normal.status) == 0);
  EXPECT_TRUE(normal.restored);

  // The string layer's exit when memory runs out skips runtime_end.
  Ended early = end_with([] { sys_exit(1); });
  EXPECT_TRUE(WIFEXITED(early.status) && WEXITSTATUS(early.status) == 1);
  EXPECT_TRUE(early.restored);

  for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGALRM, SIGRTMIN}) {
    SCOPED_TRACE(signal_number);
    Ended signalled = end_with([signal_number] { raise(signal_number); });
    EXPECT_TRUE(WIFSIGNALED(signalled.status) && WTERMSIG(signalled.status) == signal_number);
    EXPECT_TRUE(signalled.restored);
  }
}

// The whole run with its console a pipe that nobody reads any more: the lines are lost, the
// pages are not, and the terminal is restored at the end as usual.
TEST(Terminal, IsRestoredAndEveryPageConvertedWhenTheConsolesReaderHasGone) {
  namespace fs = std::filesystem;
  fs::path folder = fs::temp_directory_path() / ("pagehop-terminal-" + std::to_string(getpid()));
  fs::create_directories(folder);
  std::string page, target;
  for (int i = 0; i < 400; ++i) {
    page += "<a href=\"p" + std::to_string(i) + ".html\">next</a>\n";
    target += "<a href=\"p" + std::to_string(i) + ".php\">next</a>\n";
  }
  for (int i = 0; i < 20; ++i) std::ofstream(folder / ("p" + std::to_string(i) + ".html")) << page;

  Ended ended = in_child([&folder] {
    int console[2];
    if (pipe(console) != 0 || chdir(folder.c_str()) != 0) _exit(98);
    close(console[0]);
    dup2(console[1], 1);
    runtime_init();
    run_conversion();
    runtime_end();
    temp_end();
  });
  EXPECT_TRUE(WIFEXITED(ended.status) && WEXITSTATUS(ended.status) == 0) << ended.status;
  EXPECT_TRUE(ended.restored);
  for (int i = 0; i < 20; ++i) {
    std::ifstream in(folder / ("p" + std::to_string(i) + ".php"));
    std::stringstream got;
    got << in.rdbuf();
    EXPECT_EQ(got.str(), target) << "p" << i << ".php";
  }
  fs::remove_all(folder);
}
