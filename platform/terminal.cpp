// The terminal the program was started from: raw input while it runs, a
// thread reading its bytes for hosts that want them, and its settings put
// back on every way out, fatal signals included.

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/core.h"

namespace {

// SavedTerminal: the settings found at start; TerminalIsRaw: 1 while they
// are replaced (read by the signal handlers).
termios SavedTerminal;
volatile sig_atomic_t TerminalIsRaw = 0;

// LeaveBytes: written before the settings are restored; LeaveCount
// 0..TerminalLeaveLimit (0 while the bytes are being replaced).
char LeaveBytes[TerminalLeaveLimit];
volatile sig_atomic_t LeaveCount = 0;

// ReadTerminal: the terminal reader thread. It blocks in read(); at end of
// input (or a closed descriptor) it simply stops.
void ReadTerminal() {
  std::uint8_t bytes[256];
  for (;;) {
    ssize_t count = read(STDIN_FILENO, bytes, sizeof bytes);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return;
    QueueKeys(bytes, static_cast<int>(count), false);
  }
}

// PutTerminalBack: only write and tcsetattr, so signal handlers may use it.
void PutTerminalBack() {
  int count = LeaveCount;
  if (count > 0) {
    LeaveCount = 0;
    for (int done = 0; done < count;) {
      ssize_t n = write(STDOUT_FILENO, LeaveBytes + done, static_cast<size_t>(count - done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<int>(n);
    }
  }
  if (TerminalIsRaw) {
    tcsetattr(STDIN_FILENO, TCSANOW, &SavedTerminal);
    TerminalIsRaw = 0;
  }
}

// OnSignal: a signal that ends the program puts the terminal back first,
// then takes its ordinary course.
void OnSignal(int signal) {
  int saved = errno;
  PutTerminalBack();
  errno = saved;
  raise(signal);
}

void CatchSignal(int signal) {
  struct sigaction current;
  if (sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) return;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND | SA_NODEFER;
  sigaction(signal, &action, nullptr);
}

}  // namespace

void InstallSignalHandlers() {
  for (int signal : {SIGTERM, SIGHUP, SIGINT, SIGQUIT}) CatchSignal(signal);
}

bool MakeTerminalRaw() {
  if (TerminalIsRaw) return true;
  if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &SavedTerminal) != 0) return false;
  termios raw = SavedTerminal;
  // No echo, no line editing, no signals from keys, Enter stays 13. Output
  // processing is kept, so printed lines still end properly.
  raw.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  raw.c_iflag &= ~(ICRNL | INLCR | IGNCR | IXON | BRKINT | ISTRIP | PARMRK);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) return false;
  TerminalIsRaw = 1;
  return true;
}

void StartTerminalInput() {
  MakeTerminalRaw();
  std::thread(ReadTerminal).detach();
}

bool SetTerminalLeaveBytes(const char* bytes, int count) {
  if (count < 0 || count > TerminalLeaveLimit) return false;
  LeaveCount = 0;
  std::memcpy(LeaveBytes, bytes, static_cast<std::size_t>(count));
  LeaveCount = count;
  return true;
}

void RestoreTerminal() { PutTerminalBack(); }
