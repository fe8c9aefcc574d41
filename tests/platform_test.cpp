// The platform under the surface: key decoding from the terminal (a pipe
// and a pty) and from the window, the raw terminal and its restoration on
// every way out, closing the window, and presenting while the program computes.
//
// The cases that end a program run this test binary again as a child with
// KELVAR_TEST_ROLE naming what it should do; the role runs before main.

#include "platform/platform.h"

#include <SDL.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "display/display.h"
#include "platform/sdl/sdl_host.h"
#include "tests/pty_support.h"
#include "tests/screen_support.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// ---- Child roles ---------------------------------------------------------------

void Say(const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

// KeysRole: reads eighteen codes and reports each with KeyWaiting after it,
// then the milliseconds the lone Esc took, then that end of input gives no keys.
int KeysRole() {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  std::string out;
  long escapeMilliseconds = -1;
  bool scanNext = false;
  for (int i = 0; i < 18; ++i) {
    while (!KeyWaiting()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    auto start = Clock::now();
    int code = ReadKeyCode();
    if (code == 27)
      escapeMilliseconds =
          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    // After the 0 of an extended key its scan code must be waiting.
    if (code == 0 && !scanNext) {
      out += KeyWaiting() ? "0+ " : "0- ";
      scanNext = true;
    } else {
      out += std::to_string(code) + " ";
      scanNext = false;
    }
  }
  out += "esc=" + std::to_string(escapeMilliseconds);
  // At the end of input nothing spins: the process uses almost no time.
  std::clock_t before = std::clock();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  long cpu = static_cast<long>((std::clock() - before) * 1000 / CLOCKS_PER_SEC);
  out += KeyWaiting() ? " more" : " end";
  out += " cpu=" + std::to_string(cpu);
  out += "\n";
  Say(out.c_str());
  return 0;
}

void OpenDummyGraphics() {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  InitGraph(Driver64K, Mode640x480, "");
  if (GraphResult() != 0) std::_Exit(90);
}

int RunErrorRole() {
  OpenDummyGraphics();
  Say("ready\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  Array<int, 1, 3> small{};
  volatile int index = 4;
  return small[index];
}

int WaitRole() {
  OpenDummyGraphics();
  Say("ready\n");
  ReadKeyCode();
  return 3;
}

// MarkHostLeft: a host's leave action (as the console's gives its modes back).
void MarkHostLeft() {
  const char mark[] = "[host]";
  if (write(STDOUT_FILENO, mark, sizeof mark - 1) < 0) return;
}

// LeaveRole: as WaitRole, with leave bytes for the terminal and a host's
// leave action; then, by the argument, a real fault or an abort instead of
// the wait.
int LeaveRole(const std::string& then) {
  OpenDummyGraphics();
  const char leave[] = "[left]";
  if (!SetTtyLeaveBytes(leave, sizeof leave - 1)) return 80;
  SetTtyLeaveAction(MarkHostLeft);
  Say("ready\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  if (then == "segv") {
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
  } else if (then == "abort") {
    std::abort();
  } else if (then == "overflow") {
    // Found by AddressSanitizer, which then ends the program itself.
    int* block = new int[4];
    volatile int index = 4;
    block[index] = 1;
    delete[] block;
  }
  ReadKeyCode();
  return 3;
}

void PushCloseEvent() {
  SDL_Event event{};
  event.type = SDL_QUIT;
  SDL_PushEvent(&event);
}

// CloseWhileWaitingRole: the window is closed while a key is awaited.
int CloseWhileWaitingRole() {
  OpenDummyGraphics();
  Say("ready\n");
  PushCloseEvent();
  ReadKeyCode();
  return 4;
}

// CloseWhileComputingRole: closed while the program computes and never calls in.
int CloseWhileComputingRole() {
  OpenDummyGraphics();
  Say("ready\n");
  PushCloseEvent();
  auto until = Clock::now() + std::chrono::seconds(5);
  volatile unsigned long work = 0;
  while (Clock::now() < until) work = work + 1;
  return 5;
}

int NoDisplayRole() {
  // No display and no driver named: SDL's invisible fallback is not taken.
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  unsetenv("XDG_RUNTIME_DIR");
  unsetenv("SDL_VIDEODRIVER");
  InitGraph(Driver64K, Mode640x480, "");
  std::printf("result %d\n", GraphResult());
  std::fflush(stdout);
  DrawLine(0, 0, 10, 10);
  return 6;
}

int RunRole(const char* role) {
  std::string name = role;
  if (name == "keys") return KeysRole();
  if (name == "runerror") return RunErrorRole();
  if (name == "wait") return WaitRole();
  if (name.rfind("leave-", 0) == 0) return LeaveRole(name.substr(6));
  if (name == "close-waiting") return CloseWhileWaitingRole();
  if (name == "close-computing") return CloseWhileComputingRole();
  if (name == "nodisplay") return NoDisplayRole();
  return 99;
}

const int RoleResult = [] {
  const char* role = std::getenv("KELVAR_TEST_ROLE");
  if (role != nullptr) std::exit(RunRole(role));
  return 0;
}();

// ---- Running children ----------------------------------------------------------------

using support::Child;

// Running: a child closed (and ended, if need be) with the object.
struct Running : Child {
  explicit Running(const Child& child) : Child(child) {}
  Running(const Running&) = delete;
  ~Running() { support::CloseChild(*this); }
};

// Started: this test program again, as a child in the given role.
Running Started(const std::string& role, bool terminal) {
  const support::EnvironmentChanges changes = {{"KELVAR_TEST_ROLE", role}};
  return Running(terminal ? support::Spawn("/proc/self/exe", "", changes)
                          : support::SpawnOnPipes("/proc/self/exe", "", changes));
}

// ReadUntil: whether the child's output holds text within the time.
bool ReadUntil(Child& child, const std::string& text, double seconds = 5) {
  return support::WaitForOutput(child, text, seconds);
}

// Finish: the child's end, waited for a few seconds, then forced.
void Finish(Child& child) {
  if (support::WaitForExit(child, 5) != -1) return;
  kill(child.Pid, SIGKILL);
  support::WaitForExit(child, 5);
}

// Ended: the child exited with the status, or ended by the signal (0: by none).
::testing::AssertionResult Ended(const Child& child, int status, int signal = 0) {
  if (child.Signal == signal && (signal != 0 || child.Status == status))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "status " << child.Status << ", signal " << child.Signal;
}

// The pty's settings are read through its master side: once the child's
// session ends, the slave side reports only a hang-up.
bool IsCooked(const Child& child) {
  termios t;
  if (tcgetattr(child.Master, &t) != 0) return false;
  return (t.c_lflag & ECHO) && (t.c_lflag & ICANON) && (t.c_lflag & ISIG) && (t.c_iflag & ICRNL);
}

bool IsRaw(const Child& child) {
  termios t;
  if (tcgetattr(child.Master, &t) != 0) return false;
  return !(t.c_lflag & ECHO) && !(t.c_lflag & ICANON) && !(t.c_lflag & ISIG) &&
         !(t.c_iflag & ICRNL) && (t.c_oflag & OPOST);
}

// The key bytes of the decoding cases, the lone Esc sent apart after a pause.
// Page Up, Ctrl+Up (a modifier parameter) and an unknown sequence give an
// extended key too, so a caller never waits for a second code.
const char* const KeyBytes = "\x1b[A\x1bOB\x1b[6~\r\x7fqQ\x1b[5~\x1b[1;5A\x1b[Z";
const char* const KeyCodes = "0+ 72 0+ 80 0+ 81 13 8 113 81 0+ 73 0+ 72 0+ 0 27 120 esc=";

// TypeKeys: the decoding cases' bytes, the lone Esc sent apart after a pause.
void TypeKeys(Child& child) {
  support::Send(child, KeyBytes);
  support::Sleep(0.15);
  support::Send(child, "\x1b");
  support::Sleep(0.15);
  support::Send(child, "x");
}
TEST(TerminalKeys, DecodedFromAPipe) {
  Running child = Started("keys", false);
  TypeKeys(child);
  support::EndInput(child);
  ReadUntil(child, "\n");
  const std::string& out = child.Output;
  EXPECT_EQ(out.rfind(KeyCodes, 0), 0u) << out;
  long escape = std::atol(out.c_str() + out.find("esc=") + 4);
  EXPECT_GE(escape, 10);
  EXPECT_LT(escape, 500);
  // After the end of input no key is waiting, and the child ends normally.
  EXPECT_NE(out.find(" end"), std::string::npos) << out;
  EXPECT_LT(std::atol(out.c_str() + out.find("cpu=") + 4), 100) << out;
  Finish(child);
  EXPECT_TRUE(Ended(child, 0));
}

TEST(TerminalKeys, DecodedFromARawPty) {
  Running child = Started("keys", true);
  ASSERT_TRUE(IsCooked(child));
  // Raw input is set before the first key is read; wait for it, since bytes
  // typed into a cooked terminal would wait for a line end.
  support::WaitUntil(3, [&] { return IsRaw(child); });
  ASSERT_TRUE(IsRaw(child));
  TypeKeys(child);
  ReadUntil(child, "\n");
  const std::string& out = child.Output;
  // Nothing typed is echoed, and the printed line ends with CR LF.
  EXPECT_EQ(out.rfind(KeyCodes, 0), 0u) << out;
  EXPECT_NE(out.find("\r\n"), std::string::npos) << out;
  // The child still waits at its end-of-input check (a pty has no end); it
  // reports "more" only if a key came, which none did.
  EXPECT_NE(out.find(" end"), std::string::npos) << out;
  Finish(child);
  EXPECT_TRUE(Ended(child, 0));
  EXPECT_TRUE(IsCooked(child));
}

TEST(TerminalRestore, AfterARunTimeError) {
  Running child = Started("runerror", true);
  ASSERT_TRUE(ReadUntil(child, "ready")) << child.Output;
  EXPECT_TRUE(IsRaw(child));
  Finish(child);
  EXPECT_TRUE(Ended(child, 201));
  EXPECT_NE(child.Output.find("Runtime error 201 at 0x"), std::string::npos) << child.Output;
  EXPECT_TRUE(IsCooked(child));
}

TEST(TerminalRestore, AfterSigterm) {
  Running child = Started("wait", true);
  ASSERT_TRUE(ReadUntil(child, "ready")) << child.Output;
  EXPECT_TRUE(IsRaw(child));
  kill(child.Pid, SIGTERM);
  Finish(child);
  EXPECT_TRUE(Ended(child, 0, SIGTERM));
  EXPECT_TRUE(IsCooked(child));
}

// The sanitizer this suite is built with, if any.
#if defined(__has_feature)
#define KELVAR_HAS_FEATURE(x) __has_feature(x)
#else
#define KELVAR_HAS_FEATURE(x) 0
#endif
#if defined(__SANITIZE_ADDRESS__) || KELVAR_HAS_FEATURE(address_sanitizer)
constexpr bool AddressSanitizer = true;
#else
constexpr bool AddressSanitizer = false;
#endif
#if defined(__SANITIZE_THREAD__) || KELVAR_HAS_FEATURE(thread_sanitizer)
constexpr bool ThreadSanitizer = true;
#else
constexpr bool ThreadSanitizer = false;
#endif

// SanitizerHandles: a sanitizer keeps its own handler for these and ends
// the program with its report and its own failing status (after restoring
// the terminal).
bool SanitizerHandles(int signal) {
  return (AddressSanitizer || ThreadSanitizer) &&
         (signal == SIGSEGV || signal == SIGBUS || signal == SIGFPE);
}

bool EndedBySanitizer(const Child& child) { return child.Signal == 0 && child.Status > 0; }

// Every signal whose default action ends the program: the leave bytes are
// written, the terminal is cooked again, and the program ends by the signal.
class FatalSignal : public ::testing::TestWithParam<int> {};

TEST_P(FatalSignal, RestoresTheTerminalAndEndsByTheSignal) {
  const int signal = GetParam();
  Running child = Started("leave-wait", true);
  ASSERT_TRUE(ReadUntil(child, "ready")) << child.Output;
  ASSERT_TRUE(IsRaw(child));
  kill(child.Pid, signal);
  ReadUntil(child, "[host]", 3);
  Finish(child);
  if (SanitizerHandles(signal))
    EXPECT_TRUE(EndedBySanitizer(child)) << child.Status;
  else
    EXPECT_TRUE(Ended(child, 0, signal));
  EXPECT_NE(child.Output.find("[left][host]"), std::string::npos) << child.Output;
  EXPECT_TRUE(IsCooked(child));
}

std::vector<int> SignalsToTest() {
  std::vector<int> signals = FatalSignals();
  // The listed ones and beyond: each must be in the list.
  for (int signal : {SIGTERM, SIGHUP,    SIGINT,  SIGQUIT, SIGABRT, SIGSEGV,  SIGBUS, SIGFPE,
                     SIGILL,  SIGPIPE,   SIGALRM, SIGUSR1, SIGUSR2, SIGTRAP,  SIGSYS, SIGXCPU,
                     SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO,   SIGPWR,  SIGSTKFLT})
    if (std::find(signals.begin(), signals.end(), signal) == signals.end())
      ADD_FAILURE() << "signal " << signal << " is not restored";
  // One real-time signal stands for the rest.
  signals.erase(std::remove_if(signals.begin(), signals.end(),
                               [](int s) { return s > SIGRTMIN && s < SIGRTMAX; }),
                signals.end());
  return signals;
}

INSTANTIATE_TEST_SUITE_P(EverySignal, FatalSignal, ::testing::ValuesIn(SignalsToTest()),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return std::string(sigabbrev_np(info.param) != nullptr
                                                  ? sigabbrev_np(info.param)
                                                  : "RT" + std::to_string(info.param));
                         });

// Faults of the program itself, and a sanitizer's report, restore it too.
TEST(TerminalRestore, AfterAFaultAnAbortOrASanitizerReport) {
  struct Case {
    const char* Role;
    int Signal;  // 0: the sanitizer's own failing status
  };
  std::vector<Case> cases = {{"leave-segv", SIGSEGV}, {"leave-abort", SIGABRT}};
  if (SanitizerHandles(SIGSEGV)) cases[0].Signal = 0;
  if (AddressSanitizer) cases.push_back({"leave-overflow", 0});
  for (const Case& c : cases) {
    Running child = Started(c.Role, true);
    ASSERT_TRUE(ReadUntil(child, "ready")) << c.Role << ": " << child.Output;
    ReadUntil(child, "[host]", 5);
    Finish(child);
    if (c.Signal != 0)
      EXPECT_TRUE(Ended(child, 0, c.Signal)) << c.Role;
    else
      EXPECT_TRUE(EndedBySanitizer(child)) << c.Role << ": " << child.Status;
    EXPECT_NE(child.Output.find("[left][host]"), std::string::npos)
        << c.Role << ": " << child.Output;
    EXPECT_TRUE(IsCooked(child)) << c.Role;
  }
}

TEST(WindowClose, QuitsInOrderWhileWaitingOrComputing) {
  for (const char* role : {"close-waiting", "close-computing"}) {
    Running child = Started(role, true);
    ASSERT_TRUE(ReadUntil(child, "ready")) << role << ": " << child.Output;
    auto start = Clock::now();
    Finish(child);
    EXPECT_TRUE(Ended(child, 0)) << role;
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2)) << role;
    EXPECT_TRUE(IsCooked(child)) << role;
  }
}

TEST(NoDisplay, GraphicsErrorOnStandardOutput) {
  Running child = Started("nodisplay", false);
  support::EndInput(child);
  Finish(child);
  EXPECT_TRUE(Ended(child, 1));
  EXPECT_EQ(child.Output,
            "result -10\n"
            "Error: Not in graphics mode (use InitGraph and test GraphResult afterwards)\n");
}

// ---- In this process: the window's keys and presenting -----------------------------------

class Window : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { support::OpenDummyScreen(); }
  static void PushKey(SDL_Keycode key, Uint16 mod = KMOD_NONE) {
    SDL_Event event{};
    event.type = SDL_KEYDOWN;
    event.key.state = SDL_PRESSED;
    event.key.keysym.sym = key;
    event.key.keysym.mod = mod;
    ASSERT_EQ(SDL_PushEvent(&event), 1);
  }
  static void PushText(const char* text) {
    SDL_Event event{};
    event.type = SDL_TEXTINPUT;
    std::strncpy(event.text.text, text, sizeof event.text.text - 1);
    ASSERT_EQ(SDL_PushEvent(&event), 1);
  }
};

TEST_F(Window, KeysAreTranslated) {
  PushKey(SDLK_UP);
  PushKey(SDLK_DOWN);
  PushKey(SDLK_RIGHT);
  PushKey(SDLK_LEFT);
  PushKey(SDLK_PAGEDOWN);
  PushKey(SDLK_RETURN);
  PushKey(SDLK_KP_ENTER);
  PushKey(SDLK_BACKSPACE);
  PushKey(SDLK_KP_2);            // the keypad's Down with Num Lock off
  PushKey(SDLK_KP_2, KMOD_NUM);  // with Num Lock on the digit comes as text
  PushKey(SDLK_q, KMOD_LSHIFT);  // the character comes as text input
  PushText("Q");
  PushText("q");
  PushText(" ");
  PushKey(SDLK_RETURN, KMOD_LALT);  // toggles full screen, gives no key
  PushKey(SDLK_F11);
  PushKey(SDLK_F11);
  PushText("\xc3\xa9");  // a character outside ASCII gives no key
  // Esc followed at once by "[A" stays three keys: window keys are never
  // taken for an escape sequence.
  PushKey(SDLK_ESCAPE);
  PushText("[");
  PushText("A");
  std::vector<int> expected{0,  72, 0, 80, 0,  77,  0,  75, 0,   81, 13,
                            13, 8,  0, 80, 81, 113, 32, 27, '[', 'A'};
  std::vector<int> got;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    got.push_back(ReadKeyCode());
    if (got.back() == 0) {
      EXPECT_TRUE(KeyWaiting());
    }
  }
  EXPECT_EQ(got, expected);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(KeyWaiting());
}

struct PixelProbe {
  int X;
  int Y;
  Uint32 Pixel;
};

void ReadWindowPixel(PixelProbe& probe) {
  SDL_Renderer* renderer = SDL_GetRenderer(DisplayWindow());
  SDL_Rect one{probe.X, probe.Y, 1, 1};
  probe.Pixel = 0xDEADBEEF;
  SDL_RenderReadPixels(renderer, &one, SDL_PIXELFORMAT_RGB888, &probe.Pixel, 4);
}

TEST_F(Window, DrawingReachesTheWindowWhileComputing) {
  ClearScreen();
  SetPixel(100, 50, 0xF800);  // pure red
  SetPixel(101, 50, 0x07E0);  // pure green
  // The program computes and never calls in; the picture still gets there
  // (looked at after 150 ms, then now and then for a busy machine's sake).
  int windowX, windowY;
  ScreenToWindow(100, 50, windowX, windowY);
  PixelProbe red{windowX, windowY, 0};
  auto start = Clock::now();
  auto next = start + std::chrono::milliseconds(150);
  for (;;) {
    while (Clock::now() < next) {
    }
    ASSERT_TRUE(OnDisplayThread([&red] { ReadWindowPixel(red); }));
    if ((red.Pixel & 0xFFFFFF) == 0xFF0000u || Clock::now() - start > std::chrono::seconds(3))
      break;
    next += std::chrono::milliseconds(100);
  }
  EXPECT_EQ(red.Pixel & 0xFFFFFF, 0xFF0000u);
  ScreenToWindow(101, 50, windowX, windowY);
  PixelProbe green{windowX, windowY, 0};
  ASSERT_TRUE(OnDisplayThread([&green] { ReadWindowPixel(green); }));
  EXPECT_EQ(green.Pixel & 0xFFFFFF, 0x00FF00u);

  SetPixel(100, 50, 0x001F);
  PresentScreen();
  ScreenToWindow(100, 50, windowX, windowY);
  PixelProbe blue{windowX, windowY, 0};
  ASSERT_TRUE(OnDisplayThread([&blue] { ReadWindowPixel(blue); }));
  EXPECT_EQ(blue.Pixel & 0xFFFFFF, 0x0000FFu);
}

TEST_F(Window, AClearedScreenIsShownOnlyOnceDrawnAgain) {
  int windowX, windowY;
  ScreenToWindow(200, 60, windowX, windowY);
  PixelProbe probe{windowX, windowY, 0};
  const auto shown = [&probe] {
    EXPECT_TRUE(OnDisplayThread([&probe] { ReadWindowPixel(probe); }));
    return probe.Pixel & 0xFFFFFF;
  };
  SetPixel(200, 60, 0x07E0);
  PresentScreen();
  ASSERT_EQ(shown(), 0x00FF00u);
  // Cleared and drawn anew while the program computes: the window keeps the
  // old picture (for a quarter of a second at most, which a busy machine
  // may use up: then nothing is asserted)...
  const auto cleared = Clock::now();
  ClearScreen();
  SetPixel(200, 60, 0xF800);
  while (Clock::now() - cleared < std::chrono::milliseconds(100)) {
  }
  const Uint32 during = shown();
  if (Clock::now() - cleared < std::chrono::milliseconds(200)) {
    EXPECT_EQ(during, 0x00FF00u) << "a screen half drawn was shown";
  }
  // ... until the program shows a step of its progress.
  ScreenProgress();
  const auto start = Clock::now();
  while (shown() != 0xFF0000u && Clock::now() - start < std::chrono::seconds(3))
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(shown(), 0xFF0000u);
}

TEST_F(Window, PointsMapBetweenWindowAndScreen) {
  int x, y, wx, wy;
  ScreenToWindow(639, 479, wx, wy);
  EXPECT_TRUE(WindowToScreen(wx, wy, x, y));
  EXPECT_EQ(x, 639);
  EXPECT_EQ(y, 479);
  ScreenToWindow(0, 0, wx, wy);
  EXPECT_TRUE(WindowToScreen(wx, wy, x, y));
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
  EXPECT_FALSE(WindowToScreen(-5, 100000, x, y));
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 479);
}

}  // namespace
