// POSIX: the terminal of standard input gets its attributes back however the program ends.
// Each case runs in a child whose standard input is a new pseudo-terminal.
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <functional>

#include "gtest/gtest.h"
#include "platform/sys.h"
#include "runtime/console/console.h"
#include "runtime/files/files.h"

namespace {

// Runs `ending` in a child after the console was opened on a pseudo-terminal; the child's wait
// status and whether the terminal echoes canonical input again afterwards.
struct Ended {
  int status;
  bool restored;
};

Ended end_with(const std::function<void()>& ending) {
  int controller = -1, terminal = -1;
  if (openpty(&controller, &terminal, nullptr, nullptr, nullptr) != 0) return {-1, false};
  pid_t child = fork();
  if (child == 0) {
    dup2(terminal, 0);
    console_init();
    console_open(TEXT_UTF8);
    termios opened;
    tcgetattr(0, &opened);
    if (opened.c_lflag & (ICANON | ECHO)) _exit(99);  // the console did not take the terminal
    ending();
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

}  // namespace

TEST(Terminal, IsRestoredAtTheEndAtAnEarlyExitAndOnATerminationSignal) {
  Ended normal = end_with([] { console_end(); });
  EXPECT_TRUE(WIFEXITED(normal.status) && WEXITSTATUS(normal.status) == 0);
  EXPECT_TRUE(normal.restored);

  // The string layer's exit when memory runs out skips runtime_end.
  Ended early = end_with([] { sys_exit(1); });
  EXPECT_TRUE(WIFEXITED(early.status) && WEXITSTATUS(early.status) == 1);
  EXPECT_TRUE(early.restored);

  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal_number);
    Ended signalled = end_with([signal_number] { raise(signal_number); });
    EXPECT_TRUE(WIFSIGNALED(signalled.status) && WTERMSIG(signalled.status) == signal_number);
    EXPECT_TRUE(signalled.restored);
  }
}
