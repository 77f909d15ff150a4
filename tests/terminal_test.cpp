// POSIX: the settings of the terminal that a run takes, as a shell and the other programs on the
// terminal see them. Each case runs in a child that leads a session on a new pseudo-terminal, as
// a shell does, with the terminal as its standard input and output; what the child finds wrong
// it reports by its exit code.
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
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

bool same(const termios& a, const termios& b) {
  if (a.c_iflag != b.c_iflag || a.c_oflag != b.c_oflag || a.c_cflag != b.c_cflag ||
      a.c_lflag != b.c_lflag) {
    return false;
  }
  for (int i = 0; i < NCCS; ++i) {
    if (a.c_cc[i] != b.c_cc[i]) return false;
  }
  return true;
}

// Settings as a pager sets them: no echo, no line input, reads wait for a key.
termios pager_settings(termios t) {
  t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  return t;
}

// A new pseudo-terminal, and its settings as it was made.
struct Terminal {
  int controller = -1;
  int terminal = -1;
  termios before = {};

  Terminal() {
    EXPECT_EQ(openpty(&controller, &terminal, nullptr, nullptr, nullptr), 0);
    tcgetattr(terminal, &before);
  }
  ~Terminal() {
    close(controller);
    close(terminal);
  }
  termios now() const {
    termios t = {};
    tcgetattr(terminal, &t);
    return t;
  }
  bool untouched() const { return same(now(), before); }

  // Starts `body` in a child that leads a new session with this terminal as its controlling
  // terminal, standard input and standard output, in the terminal's foreground.
  pid_t start(const std::function<void()>& body) const {
    fflush(stdout);
    pid_t child = fork();
    if (child == 0) {
      setsid();
      ioctl(terminal, TIOCSCTTY, 0);
      dup2(terminal, 0);
      dup2(terminal, 1);
      close(controller);
      body();
      _exit(0);
    }
    return child;
  }
  int run(const std::function<void()>& body) const { return finish(start(body)); }
  static int finish(pid_t child) {
    int status = 0;
    waitpid(child, &status, 0);
    return status;
  }
};

bool exited(int status, int code) { return WIFEXITED(status) && WEXITSTATUS(status) == code; }

// What a child's exit code says.
std::string told(int status) {
  static const std::map<int, std::string> codes = {
      {90, "the run changed the terminal"},
      {91, "the run stopped: a terminal call in the background"},
      {92, "the run did not take the terminal"},
      {93, "the terminal was not given back before the stop"},
      {94, "the run took the terminal in the background"},
      {95, "the run did not take the terminal again in the foreground"},
      {96, "the terminal did not get the settings found at the continue back"},
      {97, "the run did not stop or did not end"},
  };
  if (!WIFEXITED(status)) return "ended by signal " + std::to_string(WTERMSIG(status));
  auto it = codes.find(WEXITSTATUS(status));
  return it == codes.end() ? "exit " + std::to_string(WEXITSTATUS(status)) : it->second;
}

bool taken(int fd) {
  termios t = {};
  return tcgetattr(fd, &t) == 0 && (t.c_lflag & (ICANON | ECHO)) == 0;
}

// A child that opens the console on the terminal, checks that it took it, then does `ending`.
int open_then(const Terminal& t, const std::function<void()>& ending) {
  return t.run([&ending] {
    console_init();
    console_open(TEXT_UTF8);
    if (!taken(0)) _exit(92);
    ending();
  });
}

// The console as a run uses it, checking that the terminal keeps the settings `before`.
void leave_alone(const termios& before) {
  console_init();
  console_open(TEXT_UTF8);
  termios t = {};
  tcgetattr(0, &t);
  if (!same(t, before)) _exit(90);
  console_write_line(u"a line");
  console_end();
}

// Runs `body` as a job of its own in the background of the child's session, as a shell runs
// `pagehop &`, and ends the child with the job's exit code (91 when the job stopped).
[[noreturn]] void in_background(const std::function<void()>& body) {
  pid_t job = fork();
  if (job == 0) {
    setpgid(0, 0);
    body();
    _exit(0);
  }
  setpgid(job, job);
  int status = 0;
  waitpid(job, &status, WUNTRACED);
  if (WIFSTOPPED(status)) {
    kill(job, SIGKILL);
    _exit(91);
  }
  _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 98);
}

char wait_byte(int fd) {
  char c = 0;
  return read(fd, &c, 1) == 1 ? c : 0;
}
void send_byte(int fd, char c = 'x') {
  if (write(fd, &c, 1) != 1) _exit(99);
}

}  // namespace

TEST(Terminal, IsRestoredAtTheEndAtAnEarlyExitAndOnEverySignalThatEndsTheProcess) {
  Terminal t;
  int normal = open_then(t, [] { console_end(); });
  EXPECT_TRUE(exited(normal, 0)) << told(normal);
  EXPECT_TRUE(t.untouched());

  // The string layer's exit when memory runs out skips runtime_end.
  int early = open_then(t, [] { sys_exit(1); });
  EXPECT_TRUE(exited(early, 1)) << told(early);
  EXPECT_TRUE(t.untouched());

  for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGALRM, SIGRTMIN, SIGRTMAX}) {
    SCOPED_TRACE(signal_number);
    int signalled = open_then(t, [signal_number] { raise(signal_number); });
    EXPECT_TRUE(WIFSIGNALED(signalled) && WTERMSIG(signalled) == signal_number) << told(signalled);
    EXPECT_TRUE(t.untouched());
  }
}

// A program that sets the terminal while the run has it (a pager, a second run) restores what
// it found itself: the run's end must not take its settings away.
TEST(Terminal, KeepsTheSettingsThatAnotherProgramMadeWhileTheRunHadIt) {
  Terminal t;
  termios pager = pager_settings(t.before);
  for (bool by_signal : {false, true}) {
    SCOPED_TRACE(by_signal ? "ended by SIGTERM" : "ended normally");
    int status = open_then(t, [&pager, by_signal] {
      tcsetattr(0, TCSANOW, &pager);
      if (by_signal) raise(SIGTERM);
      console_end();
    });
    EXPECT_TRUE(by_signal ? WIFSIGNALED(status) : exited(status, 0)) << told(status);
    EXPECT_TRUE(same(t.now(), pager));
    tcsetattr(t.terminal, TCSANOW, &t.before);
  }
}

// `pagehop > log &`, `pagehop &` and `pagehop | less`: only a run in the foreground with the
// terminal as its input and output changes it. A background run must not stop either: a terminal
// call that changes settings stops it with SIGTTOU.
TEST(Terminal, IsLeftAloneByARunInTheBackgroundOrWithItsOutputElsewhere) {
  Terminal t;
  const termios& before = t.before;
  {
    SCOPED_TRACE("output to a file, in the background");
    int status = t.run([&before] {
      FILE* log = tmpfile();
      if (!log) _exit(99);
      dup2(fileno(log), 1);
      in_background([&before] { leave_alone(before); });
    });
    EXPECT_TRUE(exited(status, 0)) << told(status);
    EXPECT_TRUE(t.untouched());
  }
  {
    SCOPED_TRACE("input and output the terminal, in the background");
    int status = t.run([&before] { in_background([&before] { leave_alone(before); }); });
    EXPECT_TRUE(exited(status, 0)) << told(status);
    EXPECT_TRUE(t.untouched());
  }
  {
    // The reader takes the terminal once the first line has come, and restores what it found
    // once the run has ended.
    SCOPED_TRACE("output into a pipe whose reader sets the terminal meanwhile");
    int output[2], go[2];
    ASSERT_EQ(pipe(output), 0);
    ASSERT_EQ(pipe(go), 0);
    pid_t run = t.start([&] {
      close(output[0]);
      close(go[1]);
      dup2(output[1], 1);
      console_init();
      console_open(TEXT_UTF8);
      console_write_line(u"first");
      wait_byte(go[0]);
      console_write_line(u"last");
      console_end();
    });
    close(output[1]);
    close(go[0]);
    std::string got;
    for (char c; got.find('\n') == std::string::npos && read(output[0], &c, 1) == 1;) got += c;
    termios found = t.now();
    termios pager = pager_settings(found);
    tcsetattr(t.terminal, TCSANOW, &pager);
    send_byte(go[1]);
    for (char c; read(output[0], &c, 1) == 1;) got += c;
    int status = Terminal::finish(run);
    tcsetattr(t.terminal, TCSANOW, &found);
    close(output[0]);
    close(go[1]);
    EXPECT_TRUE(exited(status, 0)) << told(status);
    EXPECT_EQ(got, "first\nlast\n");
    EXPECT_TRUE(t.untouched());
  }
}

// Ctrl-Z, `bg` and `fg` as a shell does them: the child leads the session, the run is its job in
// a process group of its own. The job answers each byte on its channel, by which time the
// SIGCONT sent before has been handled.
TEST(Terminal, IsGivenBackAtAStopAndTakenAgainOnlyWhenTheRunContinuesInTheForeground) {
  Terminal t;
  termios typed = t.before;  // a `stty -ixon` typed while the run was stopped
  typed.c_iflag ^= IXON;
  termios retaken = typed;
  retaken.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  retaken.c_cc[VMIN] = 0;
  retaken.c_cc[VTIME] = 0;
  int status = t.run([&] {
    signal(SIGTTOU, SIG_IGN);  // as a shell, which hands the terminal on and takes it back
    int to_job[2], from_job[2];
    if (pipe(to_job) != 0 || pipe(from_job) != 0) _exit(99);
    pid_t job = fork();
    if (job == 0) {
      setpgid(0, 0);
      wait_byte(to_job[0]);  // now in the foreground
      console_init();
      console_open(TEXT_UTF8);
      for (char c = 'x'; c != 'e'; c = wait_byte(to_job[0])) send_byte(from_job[1]);
      console_end();
      _exit(0);
    }
    setpgid(job, job);
    auto ask = [&] {
      send_byte(to_job[1]);
      wait_byte(from_job[0]);
    };
    int job_status = 0;
    tcsetpgrp(0, job);
    ask();
    if (!taken(0)) _exit(92);
    kill(job, SIGTSTP);
    if (waitpid(job, &job_status, WUNTRACED) != job || !WIFSTOPPED(job_status)) _exit(97);
    tcsetpgrp(0, getpgrp());
    termios now = {};
    tcgetattr(0, &now);
    if (!same(now, t.before)) _exit(93);
    tcsetattr(0, TCSANOW, &typed);

    kill(job, SIGCONT);  // bg
    ask();
    tcgetattr(0, &now);
    if (!same(now, typed)) _exit(94);

    tcsetpgrp(0, job);  // fg
    kill(job, SIGCONT);
    ask();
    tcgetattr(0, &now);
    if (!same(now, retaken)) _exit(95);

    send_byte(to_job[1], 'e');
    if (waitpid(job, &job_status, 0) != job || !WIFEXITED(job_status)) _exit(97);
    tcsetpgrp(0, getpgrp());
    tcgetattr(0, &now);
    if (!same(now, typed)) _exit(96);
  });
  EXPECT_TRUE(exited(status, 0)) << told(status);
}

// The whole run with its console a pipe that nobody reads any more: the lines are lost, the
// pages are not, and the terminal is left as it was.
TEST(Terminal, IsLeftAsItWasAndEveryPageConvertedWhenTheConsolesReaderHasGone) {
  namespace fs = std::filesystem;
  fs::path folder = fs::temp_directory_path() / ("pagehop-terminal-" + std::to_string(getpid()));
  fs::create_directories(folder);
  std::string page, target;
  for (int i = 0; i < 400; ++i) {
    page += "<a href=\"p" + std::to_string(i) + ".html\">next</a>\n";
    target += "<a href=\"p" + std::to_string(i) + ".php\">next</a>\n";
  }
  for (int i = 0; i < 20; ++i) std::ofstream(folder / ("p" + std::to_string(i) + ".html")) << page;

  Terminal t;
  int status = t.run([&folder] {
    int console[2];
    if (pipe(console) != 0 || chdir(folder.c_str()) != 0) _exit(98);
    close(console[0]);
    dup2(console[1], 1);
    runtime_init();
    run_conversion();
    runtime_end();
    temp_end();
  });
  EXPECT_TRUE(exited(status, 0)) << told(status);
  EXPECT_TRUE(t.untouched());
  for (int i = 0; i < 20; ++i) {
    std::ifstream in(folder / ("p" + std::to_string(i) + ".php"));
    std::stringstream got;
    got << in.rdbuf();
    EXPECT_EQ(got.str(), target) << "p" << i << ".php";
  }
  fs::remove_all(folder);
}
