// The terminal the program was started from: raw input while it runs, a
// thread reading its bytes for hosts that want them, and its settings (and
// a host's leave bytes) put back on every way out: exit, a run-time error,
// every signal whose default action ends the program, a sanitizer's report.

#include <dlfcn.h>
#include <link.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/core/core.h"

namespace {

// SavedTty: the settings found at start; TtyIsRaw: 1 while they
// are replaced (read by the signal handlers).
termios SavedTty;
volatile sig_atomic_t TtyIsRaw = 0;

// LeaveBytes: written before the settings are restored; LeaveCount
// 0..TtyLeaveLimit (0 while the bytes are being replaced).
char LeaveBytes[TtyLeaveLimit];
volatile sig_atomic_t LeaveCount = 0;

// LeaveAction: the host's own part of putting the terminal back.
std::atomic<void (*)()> LeaveAction{nullptr};
static_assert(std::atomic<void (*)()>::is_always_lock_free);

// ReadTty: the terminal reader thread. It blocks in read(); at end of
// input (or a closed descriptor) it simply stops.
void ReadTty() {
  std::uint8_t bytes[256];
  for (;;) {
    ssize_t count = read(STDIN_FILENO, bytes, sizeof bytes);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return;
    QueueKeys(bytes, static_cast<int>(count), false);
  }
}

// PutTtyBack: only write, tcsetattr and the host's async-signal-safe
// action, so signal handlers may use it.
void PutTtyBack() {
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
  if (void (*action)() = LeaveAction.load()) action();
  if (TtyIsRaw) {
    tcsetattr(STDIN_FILENO, TCSANOW, &SavedTty);
    TtyIsRaw = 0;
  }
}

// OnSignal: a signal whose default action ends the program puts the
// terminal back first (write and tcsetattr only), then takes its ordinary
// course: the handler is reset to the default, so raising it again ends
// the program with the usual status.
void OnSignal(int signal) {
  int saved = errno;
  PutTtyBack();
  errno = saved;
  raise(signal);
}

// AlternateStack: where OnSignal runs on the starting thread, so a stack
// overflow still restores the terminal.
alignas(16) char AlternateStack[64 * 1024];

void UseAlternateStack() {
  stack_t current;
  if (sigaltstack(nullptr, &current) != 0 || (current.ss_flags & SS_DISABLE) == 0) return;
  stack_t ours{};
  ours.ss_sp = AlternateStack;
  ours.ss_size = sizeof AlternateStack;
  sigaltstack(&ours, nullptr);
}

// CatchSignal: only signals left at their default action; one ignored by
// whoever started the program, or handled by a sanitizer, stays as it is.
void CatchSignal(int signal) {
  struct sigaction current;
  if (sigaction(signal, nullptr, &current) != 0) return;
  if ((current.sa_flags & SA_SIGINFO) == 0 && current.sa_handler != SIG_DFL) return;
  if ((current.sa_flags & SA_SIGINFO) != 0 && current.sa_sigaction != nullptr) return;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND | SA_NODEFER | SA_ONSTACK;
  sigaction(signal, &action, nullptr);
}

void PutTtyBackAtDeath() { PutTtyBack(); }

// TellSanitizer: a sanitizer that finds a fault ends the program without
// exit handlers, but calls its death callback first. Each runtime loaded
// (GCC's AddressSanitizer and UndefinedBehaviorSanitizer are two, each with
// its own callback) gets ours; a program without one has none to find.
int TellSanitizer(dl_phdr_info* info, std::size_t, void*) {
  const char* name =
      info->dlpi_name != nullptr && info->dlpi_name[0] != '\0' ? info->dlpi_name : nullptr;
  void* library = dlopen(name, RTLD_LAZY | RTLD_NOLOAD);
  if (library == nullptr) return 0;
  void* symbol = dlsym(library, "__sanitizer_set_death_callback");
  if (symbol != nullptr) {
    void (*setCallback)(void (*)());
    std::memcpy(&setCallback, &symbol, sizeof setCallback);
    setCallback(PutTtyBackAtDeath);
  }
  dlclose(library);
  return 0;
}

}  // namespace

std::vector<int> FatalSignals() {
  std::vector<int> signals = {SIGHUP,  SIGINT,  SIGQUIT,   SIGILL,  SIGTRAP, SIGABRT,
                              SIGBUS,  SIGFPE,  SIGUSR1,   SIGSEGV, SIGUSR2, SIGPIPE,
                              SIGALRM, SIGTERM, SIGSTKFLT, SIGXCPU, SIGXFSZ, SIGVTALRM,
                              SIGPROF, SIGIO,   SIGPWR,    SIGSYS};
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) signals.push_back(signal);
  return signals;
}

void InstallSignalHandlers() {
  UseAlternateStack();
  for (int signal : FatalSignals()) CatchSignal(signal);
  dl_iterate_phdr(TellSanitizer, nullptr);
}

bool MakeTtyRaw() {
  if (TtyIsRaw) return true;
  if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &SavedTty) != 0) return false;
  termios raw = SavedTty;
  // No echo, no line editing, no signals from keys, Enter stays 13. Output
  // processing is kept, so printed lines still end properly.
  raw.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  raw.c_iflag &= ~(ICRNL | INLCR | IGNCR | IXON | BRKINT | ISTRIP | PARMRK);
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) != 0) return false;
  TtyIsRaw = 1;
  return true;
}

void StartTtyInput() {
  MakeTtyRaw();
  std::thread(ReadTty).detach();
}

bool SetTtyLeaveBytes(const char* bytes, int count) {
  if (count < 0 || count > TtyLeaveLimit) return false;
  LeaveCount = 0;
  std::memcpy(LeaveBytes, bytes, static_cast<std::size_t>(count));
  LeaveCount = count;
  return true;
}

void SetTtyLeaveAction(void (*action)()) { LeaveAction = action; }

void RestoreTerminal() { PutTtyBack(); }
