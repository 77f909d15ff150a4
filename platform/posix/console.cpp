// POSIX side of the console: byte-oriented standard streams, the terminal attributes of
// standard input, and the signals that must not leave the terminal without echo.
#include <signal.h>
#include <stdio.h>
#include <termios.h>
#include <wchar.h>

#include "platform/sys.h"
#include "runtime/base/utf8.h"

namespace {

constinit termios saved = {};    // stdin's attributes from sys_console_init
constinit termios working = {};  // the copy that sys_console_open applies
// Set only when stdin is a terminal: an all-zero record applied to a real terminal would set
// its speed to 0, which hangs it up.
constinit volatile sig_atomic_t saved_valid = 0;
constinit bool signals_installed = false;

// Every catchable signal whose default action ends the process, besides the real-time ones.
constexpr int RESTORING_SIGNALS[] = {SIGHUP,  SIGINT,  SIGQUIT,   SIGILL,  SIGTRAP, SIGABRT,
                                     SIGBUS,  SIGFPE,  SIGUSR1,   SIGSEGV, SIGUSR2, SIGPIPE,
                                     SIGALRM, SIGTERM, SIGSTKFLT, SIGXCPU, SIGXFSZ, SIGVTALRM,
                                     SIGPROF, SIGIO,   SIGPWR,    SIGSYS};

// A console line goes out in pieces of this many units, each encoded on the stack; an ordinary
// line is one piece, written with its line end in one call.
constexpr int32_t PIECE_UNITS = 1024;
constexpr int32_t PIECE_BYTES = 3 * PIECE_UNITS + 1;  // 3 bytes a unit at most, and the LF

// Runs with the signal blocked and its action already back to the default (SA_RESETHAND): the
// raised signal is delivered as the handler returns and ends the process the usual way.
// tcsetattr and raise are async-signal-safe.
void restore_terminal_on_signal(int signal_number) {
  if (saved_valid) tcsetattr(0, TCSANOW, &saved);
  raise(signal_number);
}

void restore_terminal_before(int signal_number) {
  struct sigaction previous = {};
  // A signal that is ignored (nohup, background jobs, SIGPIPE and SIGXFSZ here) stays so.
  if (sigaction(signal_number, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) return;
  struct sigaction action = {};
  action.sa_handler = restore_terminal_on_signal;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  sigaction(signal_number, &action, nullptr);
}

// Whatever ends the process, the terminal is restored first: each signal whose default action
// is to end it gets the handler above. A fault (SIGSEGV and the like) happens again once the
// handler returns, and then ends the process as it would have.
void install_signal_handlers() {
  if (signals_installed) return;
  signals_installed = true;
  for (int signal_number : RESTORING_SIGNALS) restore_terminal_before(signal_number);
  for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number) {
    restore_terminal_before(signal_number);
  }
}

}  // namespace

void sys_console_init(SysCloseHandler) {
  fwide(stdin, -1);
  fwide(stdout, -1);
  fwide(stderr, -1);
  if (tcgetattr(0, &saved) == 0) saved_valid = 1;
}

void sys_console_open() {
  working = saved;
  working.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  working.c_cc[VTIME] = 0;
  working.c_cc[VMIN] = 0;
  if (!saved_valid) return;  // not a terminal: nothing to change or to restore
  install_signal_handlers();
  tcsetattr(0, TCSANOW, &working);
}

void sys_console_end() {
  if (saved_valid) tcsetattr(0, TCSANOW, &saved);
}

// The line is encoded piece by piece on the stack rather than in a heap copy: it reaches the
// console also when memory has run out, and it may be the report of a page that failed then.
// A piece ends before a pair that it would cut; the encoding stops before a high surrogate
// without its pair, which ends the text.
void sys_console_write_line(const char16_t* text, int32_t length, int32_t) {
  uint8_t bytes[PIECE_BYTES];
  const char16_t* p = text;
  int32_t left = text ? length : 0;
  for (;;) {
    int32_t take = left < PIECE_UNITS ? left : PIECE_UNITS;
    Utf8Progress done = utf8_encode(p, take, bytes, PIECE_BYTES - 1);
    p += done.read;
    left -= done.read;
    bool last = done.read == 0 || left == 0;  // the end, or a high surrogate without its pair
    if (last) bytes[done.written++] = '\n';
    fwrite(bytes, 1, static_cast<size_t>(done.written), stdout);
    if (last) break;
  }
  fflush(stdout);
}
