// POSIX side of the console: byte-oriented standard streams, the lines shown on a terminal, the
// settings of the terminal that the run takes, and the signals that must not leave it changed.
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <wchar.h>

#include "base/terminal_text.h"
#include "base/utf8.h"
#include "platform/sys.h"

namespace {

// The terminal is taken only by a run in its foreground that has it as standard input and
// output. Signal handlers read and write these records; the main thread touches them only with
// every signal blocked.
constinit termios saved = {};               // the settings as the run found them
constinit termios working = {};             // the run's settings, as the terminal keeps them
constinit volatile sig_atomic_t taken = 0;  // 1 from the change in sys_console_open to the end
constinit bool output_is_terminal = false;  // lines are shown, not sent byte for byte
constinit bool signals_installed = false;

// Every catchable signal whose default action ends the process, besides the real-time ones.
constexpr int ENDING_SIGNALS[] = {SIGHUP,  SIGINT,  SIGQUIT,   SIGILL,  SIGTRAP, SIGABRT,
                                  SIGBUS,  SIGFPE,  SIGUSR1,   SIGSEGV, SIGUSR2, SIGPIPE,
                                  SIGALRM, SIGTERM, SIGSTKFLT, SIGXCPU, SIGXFSZ, SIGVTALRM,
                                  SIGPROF, SIGIO,   SIGPWR,    SIGSYS};

// A console line goes out in pieces of this many units, each encoded on the stack; an ordinary
// line is one piece, written with its line end in one call.
constexpr int32_t PIECE_UNITS = 1024;
constexpr int32_t PIECE_BYTES = 3 * PIECE_UNITS + 1;  // 3 bytes a unit at most, and the LF

// --- The terminal's settings ---------------------------------------------------------------
// Everything here is async-signal-safe and runs with SIGTTOU blocked (the handlers block every
// signal, the main thread blocks them around it): a process that has just been put in the
// background is never stopped by a terminal call.

bool same_settings(const termios& a, const termios& b) {
  if (a.c_iflag != b.c_iflag || a.c_oflag != b.c_oflag || a.c_cflag != b.c_cflag ||
      a.c_lflag != b.c_lflag || cfgetispeed(&a) != cfgetispeed(&b) ||
      cfgetospeed(&a) != cfgetospeed(&b)) {
    return false;
  }
  for (int i = 0; i < NCCS; ++i) {
    if (a.c_cc[i] != b.c_cc[i]) return false;
  }
  return true;
}

bool in_foreground() { return tcgetpgrp(STDIN_FILENO) == getpgrp(); }

// Saves what the terminal holds and applies it without echo and line input. The terminal may
// keep less than it was given: what it kept is what the end compares.
bool take_terminal() {
  if (tcgetattr(STDIN_FILENO, &saved) != 0) return false;
  working = saved;
  working.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  working.c_cc[VTIME] = 0;
  working.c_cc[VMIN] = 0;
  if (tcsetattr(STDIN_FILENO, TCSANOW, &working) != 0) return false;
  return tcgetattr(STDIN_FILENO, &working) == 0;
}

// Restores the saved settings only while the terminal holds the run's: a program that changed
// them since (a pager, a second run) keeps its own, and restores what it found itself.
void give_terminal_back() {
  termios now;
  if (tcgetattr(STDIN_FILENO, &now) == 0 && same_settings(now, working)) {
    tcsetattr(STDIN_FILENO, TCSANOW, &saved);
  }
}

// --- Signals -------------------------------------------------------------------------------

void set_handler(int signal_number, void (*handler)(int), int flags) {
  struct sigaction action = {};
  action.sa_handler = handler;
  action.sa_flags = flags;
  sigfillset(&action.sa_mask);
  sigaction(signal_number, &action, nullptr);
}

// Runs with every signal blocked and its action already back to the default (SA_RESETHAND): the
// raised signal is delivered as the handler returns and ends the process the usual way.
void end_on_signal(int signal_number) {
  if (taken) give_terminal_back();
  raise(signal_number);
}

// Ctrl-Z: the terminal goes back to its settings, then the process stops as it would have. It
// continues here, with SIGCONT pending until the handler returns.
void stop_on_signal(int) {
  int saved_errno = errno;
  if (taken) give_terminal_back();
  set_handler(SIGTSTP, SIG_DFL, 0);
  raise(SIGTSTP);
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGTSTP);
  sigprocmask(SIG_UNBLOCK, &stop, nullptr);  // stops here
  sigprocmask(SIG_BLOCK, &stop, nullptr);
  set_handler(SIGTSTP, stop_on_signal, SA_RESTART);
  errno = saved_errno;
}

// Continued in the foreground, the run takes the terminal again, from the settings it has now
// (those of the shell, or of a `stty` typed meanwhile); in the background it leaves it alone.
void continue_on_signal(int) {
  int saved_errno = errno;
  termios now;
  if (taken && in_foreground() && tcgetattr(STDIN_FILENO, &now) == 0 &&
      !same_settings(now, working)) {
    take_terminal();
  }
  errno = saved_errno;
}

// A signal that is ignored (nohup, background jobs, SIGPIPE and SIGXFSZ here) stays so.
void handle_unless_ignored(int signal_number, void (*handler)(int), int flags) {
  struct sigaction previous = {};
  if (sigaction(signal_number, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) return;
  set_handler(signal_number, handler, flags);
}

// Whatever ends the process, the terminal is restored first: each signal whose default action
// is to end it gets end_on_signal. A fault (SIGSEGV and the like) happens again once the handler
// returns, and then ends the process as it would have. The run goes on after a stop and a
// continue, so their handlers restart the calls they interrupt.
void install_signal_handlers() {
  if (signals_installed) return;
  signals_installed = true;
  for (int signal_number : ENDING_SIGNALS) {
    handle_unless_ignored(signal_number, end_on_signal, SA_RESETHAND);
  }
  for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number) {
    handle_unless_ignored(signal_number, end_on_signal, SA_RESETHAND);
  }
  handle_unless_ignored(SIGTSTP, stop_on_signal, SA_RESTART);
  handle_unless_ignored(SIGCONT, continue_on_signal, SA_RESTART);
}

// Standard input and output are one terminal: a character device of the same number.
bool one_terminal() {
  struct stat in, out;
  return isatty(STDIN_FILENO) && fstat(STDIN_FILENO, &in) == 0 && fstat(STDOUT_FILENO, &out) == 0 &&
         S_ISCHR(in.st_mode) && S_ISCHR(out.st_mode) && in.st_rdev == out.st_rdev;
}

// --- Lines ---------------------------------------------------------------------------------

// The line is encoded piece by piece on the stack rather than in a heap copy: it reaches the
// console also when memory has run out, and it may be the report of a page that failed then.
// A high surrogate without its pair ends the text.
void write_bytes_of(const char16_t* text, int32_t length) {
  uint8_t bytes[PIECE_BYTES];
  utf8_encode_pieces(text, length, bytes, PIECE_BYTES, [](const uint8_t* piece, int32_t n) {
    fwrite(piece, 1, static_cast<size_t>(n), stdout);
  });
  fputc('\n', stdout);
}

// On a terminal: what terminal_text shows, which is always whole UTF-8.
void write_shown(const char16_t* text, int32_t length) {
  char16_t shown[PIECE_UNITS];
  terminal_text_pieces(text, length, shown, PIECE_UNITS,
                       [](const char16_t* piece, int32_t n, bool last) {
                         uint8_t bytes[PIECE_BYTES];
                         Utf8Progress done = utf8_encode(piece, n, bytes, PIECE_BYTES - 1);
                         if (last) bytes[done.written++] = '\n';
                         fwrite(bytes, 1, static_cast<size_t>(done.written), stdout);
                       });
}

}  // namespace

void sys_console_init(SysCloseHandler) {
  fwide(stdin, -1);
  fwide(stdout, -1);
  fwide(stderr, -1);
  output_is_terminal = isatty(STDOUT_FILENO);
}

void sys_console_open() {
  output_is_terminal = isatty(STDOUT_FILENO);
  if (taken || !one_terminal()) return;  // a file, a pipe or another terminal: left alone
  sigset_t all, before;
  sigfillset(&all);
  sigprocmask(SIG_BLOCK, &all, &before);
  if (in_foreground()) {
    install_signal_handlers();
    taken = take_terminal();
  }
  sigprocmask(SIG_SETMASK, &before, nullptr);
}

void sys_console_end() {
  if (!taken) return;
  sigset_t all, before;
  sigfillset(&all);
  sigprocmask(SIG_BLOCK, &all, &before);
  give_terminal_back();
  taken = 0;
  sigprocmask(SIG_SETMASK, &before, nullptr);
}

void sys_console_write_line(const char16_t* text, int32_t length, int32_t) {
  if (!text) length = 0;
  if (output_is_terminal) {
    write_shown(text, length);
  } else {
    write_bytes_of(text, length);
  }
  fflush(stdout);
}
