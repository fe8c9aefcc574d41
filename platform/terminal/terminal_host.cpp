// The terminal host: the screen drawn inside the terminal the game was
// started from (sixels, kitty graphics or coloured block symbols, whichever
// it answers it can show), its keys, and its own mouse reports, on the core's
// display thread. It reads standard input itself: mouse reports and the
// terminal's answers are taken out of the stream, everything else goes on to
// the key decoder as it came.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/core/services.h"
#include "platform/terminal/terminal_parts.h"

namespace {

// AnswerTimeout: milliseconds the terminal has to answer the start-up
// questions (a slow connection included); every terminal answers the device
// attributes, so silence means no terminal that can show a picture.
constexpr int AnswerTimeout = 2000;
// LateAnswerWait: milliseconds given to answers still under way when the
// game leaves the terminal.
constexpr int LateAnswerWait = 1500;
// EscapePause: milliseconds after which held bytes that may be a key (Esc
// alone) are passed on; ReportPause: after which a cut report is dropped.
constexpr int EscapePause = 25;
constexpr int ReportPause = 1000;

// Display thread only, except WakePipe and Resized.
struct TerminalState {
  TerminalAnswers Answers;
  TerminalMode Mode = TerminalMode::Symbols;
  bool Mouse = false;       // the terminal reports the mouse (SGR)
  bool PixelMouse = false;  // ... in pixels
  bool Console = false;     // the Linux text console
  std::string StartLine;    // what the game said on its start
  bool ScreenOpen = false;
  bool InputOpen = true;  // standard input still delivers
  PictureLayout Layout;
  Picture* Shown = nullptr;
  TerminalInput Input;
  std::string PendingKeys;  // typed while the terminal answered
  int WakePipe[2] = {-1, -1};
  std::uint64_t HeldSince = 0;
  MotionPacer Motion;  // movements at most ~30 a second
};

TerminalState& Terminal() {
  // Never freed: exit handlers may still reach it.
  static TerminalState* state = new TerminalState;
  return *state;
}

volatile sig_atomic_t Resized = 0;
// WakeWrite: the write end of the wake pipe, for the signal handler.
volatile sig_atomic_t WakeWrite = -1;

void OnResize(int) {
  const int saved = errno;
  Resized = 1;
  const char byte = 'r';
  if (WakeWrite >= 0) (void)!write(WakeWrite, &byte, 1);
  errno = saved;
}

void WriteAll(const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
      if (errno == EAGAIN) {
        pollfd out{STDOUT_FILENO, POLLOUT, 0};
        poll(&out, 1, 100);
      }
      continue;
    }
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

void QueueKeyBytes(const std::string& keys) {
  if (!keys.empty())
    QueueKeys(reinterpret_cast<const std::uint8_t*>(keys.data()), static_cast<int>(keys.size()),
              false);
}

void QueueReports(TerminalState& t, const std::vector<PointerReport>& reports, std::uint64_t now) {
  for (const PointerReport& report : reports) {
    int x, y;
    PointerToScreen(t.Layout, report.X, report.Y, t.PixelMouse, x, y);
    if ((report.Code & 64) != 0) continue;  // the wheel
    if ((report.Code & 32) != 0 || (report.Code & 3) == 3) {
      // Each movement passed on is a redraw of the pointer: at most ~30 a second.
      if (OfferMotion(t.Motion, x, y, now)) QueuePointerMove(x, y);
      continue;
    }
    DropMotion(t.Motion, now);
    static constexpr int Buttons[3] = {MouseLeft, MouseMiddle, MouseRight};
    QueuePointerButton(x, y, Buttons[report.Code & 3], !report.Release);
  }
  int x, y;
  if (DueMotion(t.Motion, now, x, y)) QueuePointerMove(x, y);
}

// CollectAnswers: reads what the terminal sends into input, keys, reports
// and answers until it answers the device attributes, sends nothing for the
// rest of milliseconds, or closes; true when the attributes came.
bool CollectAnswers(TerminalInput& input, TerminalAnswers& answers, std::string& keys,
                    std::vector<PointerReport>& reports, int milliseconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (!answers.Attributes) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          end - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) break;
    pollfd in{STDIN_FILENO, POLLIN, 0};
    const int ready = poll(&in, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0 || (in.revents & POLLIN) == 0) break;
    unsigned char bytes[512];
    const ssize_t count = read(STDIN_FILENO, bytes, sizeof bytes);
    if (count <= 0) break;
    FilterInput(input, bytes, static_cast<std::size_t>(count), keys, reports, answers);
  }
  return answers.Attributes;
}

// DrainAnswers: drops what the terminal sends until it answers the device
// attributes (asked again when ask is true) or milliseconds pass, then
// whatever is still unread: nothing of the game's questions (a late answer,
// a mouse report in flight) is typed into the shell after the game.
void DrainAnswers(bool ask, int milliseconds) {
  if (ask) WriteAll("\x1b[c");
  TerminalInput input;
  TerminalAnswers answers;
  std::string keys;
  std::vector<PointerReport> reports;
  CollectAnswers(input, answers, keys, reports, milliseconds);
  tcflush(STDIN_FILENO, TCIFLUSH);
}

// ReadAnswers: asks the start-up questions and collects the answers until
// the device attributes come or the time is up.
bool ReadAnswers(TerminalState& t) {
  WriteAll(t.Console ? ConsoleQueries : TerminalQueries);
  std::vector<PointerReport> ignored;
  if (!CollectAnswers(t.Input, t.Answers, t.PendingKeys, ignored, AnswerTimeout)) return false;
  // A sixel terminal's limits, asked of it alone: others may log the
  // questions as errors. A terminal that does not answer keeps no limits.
  if (t.Answers.Sixel && !t.Answers.Kitty) {
    WriteAll(SixelQueries);
    t.Answers.Attributes = false;
    CollectAnswers(t.Input, t.Answers, t.PendingKeys, ignored, AnswerTimeout);
    t.Answers.Attributes = true;
  }
  return true;
}

void UpdateLayout(TerminalState& t) {
  TerminalSize size;
  if (!ReadTerminalSize(STDOUT_FILENO, t.Answers, size)) return;
  t.Layout = LayoutPicture(t.Mode, size);
}

bool Start(std::string& reason) {
  TerminalState& t = Terminal();
  if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) {
    reason = "standard input and output are not both a terminal";
    return false;
  }
  const char* term = std::getenv("TERM");
  if (!UsableTerm(term)) {
    reason = "the terminal (TERM) cannot show pictures";
    return false;
  }
  t.Console = IsLinuxConsole(term);
  t.Answers.RegistersShared = SharesRegistersUnasked(term);
  if (!MakeTtyRaw()) {
    reason = "the terminal's settings cannot be changed";
    return false;
  }
  if (!ReadAnswers(t)) {
    // A slow link may still bring the answers: they are waited for a while
    // longer and dropped, rather than left for the shell.
    DrainAnswers(false, LateAnswerWait);
    RestoreTerminal();
    reason = "the terminal did not answer its device attributes request";
    return false;
  }
  TerminalSize size;
  ReadTerminalSize(STDOUT_FILENO, t.Answers, size);
  t.Mode = ChooseMode(t.Answers, size.CellWidth, size.CellHeight, t.Console);
  t.Layout = LayoutPicture(t.Mode, size);
  t.Mouse = MouseUsable(t.Answers, term);
  t.PixelMouse = t.Mouse && PixelMouseUsable(t.Answers) && size.CellWidth > 0;
  if (pipe2(t.WakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    RestoreTerminal();
    reason = "no pipe for the display thread";
    return false;
  }
  WakeWrite = t.WakePipe[1];
  struct sigaction action {};
  action.sa_handler = OnResize;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGWINCH, &action, nullptr);
  t.Shown = NewPicture();
  t.StartLine = std::string("kelvar: drawing in the terminal with ") + ModeName(t.Mode) +
                (t.Mouse ? "" : " (no mouse reports: the keyboard moves the pointer)") + "\n";
  std::fputs(t.StartLine.c_str(), stderr);
  std::fflush(stderr);
  return true;
}

// LastLines: what the console shows again once the picture goes (it has no
// alternate screen to give back): the start line, ends of lines as the
// terminal's output processing makes them.
std::string LastLines(const TerminalState& t) {
  std::string lines;
  for (char c : t.StartLine) lines += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return lines;
}

// SharedRegisters: each sixel image's own colour registers are turned off
// (mode 1070), as the layout draws them.
// PrivateRegistersBack: each image had its own before, so it gets them again.
bool SharedRegisters(const TerminalState& t) {
  return t.Layout.Mode == TerminalMode::Sixel && t.Layout.SharedRegisters &&
         PrivateRegistersResettable(t.Answers);
}
bool PrivateRegistersBack(const TerminalState& t) {
  return SharedRegisters(t) && t.Answers.PrivateRegisters == 1;
}

bool OpenScreen(std::string&) {
  TerminalState& t = Terminal();
  // Every way out from here on puts the terminal back first.
  // The lines are a courtesy: when they would not fit, the signal handler
  // still gets the rest.
  std::string leave = LeaveSequence(t.Mode, LastLines(t), PrivateRegistersBack(t));
  if (leave.size() > static_cast<std::size_t>(TtyLeaveLimit))
    leave = LeaveSequence(t.Mode, "", PrivateRegistersBack(t));
  SetTtyLeaveBytes(leave.data(), static_cast<int>(leave.size()));
  WriteAll(EnterSequence(t.Mouse, t.PixelMouse, t.Mode, SharedRegisters(t)));
  UpdateLayout(t);
  ResetPicture(t.Shown, t.Layout);
  t.ScreenOpen = true;
  return true;
}

void CloseScreen() {
  TerminalState& t = Terminal();
  t.ScreenOpen = false;
  SetTtyLeaveBytes("", 0);
  WriteAll(LeaveSequence(t.Mode, LastLines(t), PrivateRegistersBack(t)));
  if (t.InputOpen) DrainAnswers(true, LateAnswerWait);
}

void Present(const Frame& frame) {
  TerminalState& t = Terminal();
  if (!t.ScreenOpen) return;
  std::string out;
  PaintPicture(t.Shown, frame.Pixels, frame.FirstChanged, frame.LastChanged, out);
  WriteAll(out);
}

void Pump(int timeoutMilliseconds) {
  TerminalState& t = Terminal();
  if (Resized) {
    // The picture is drawn again at once in the new size, also while the
    // program waits and nothing else would present.
    Resized = 0;
    UpdateLayout(t);
    ResetPicture(t.Shown, t.Layout);
    if (t.ScreenOpen) {
      std::string out;
      RepaintPicture(t.Shown, out);
      WriteAll(out);
    }
  }
  const bool holding = HoldingInput(t.Input);
  int timeout = timeoutMilliseconds;
  if (holding && (timeout < 0 || timeout > EscapePause)) timeout = EscapePause;
  const int motionWait = MotionWait(t.Motion, SystemMilliseconds());
  if (motionWait >= 0 && (timeout < 0 || timeout > motionWait)) timeout = motionWait;
  pollfd fds[2] = {{t.WakePipe[0], POLLIN, 0}, {t.InputOpen ? STDIN_FILENO : -1, POLLIN, 0}};
  const int ready = poll(fds, 2, timeout);
  if (ready < 0) return;
  if ((fds[0].revents & POLLIN) != 0) {
    char drain[64];
    while (read(t.WakePipe[0], drain, sizeof drain) > 0) {
    }
  }
  std::string keys;
  std::swap(keys, t.PendingKeys);
  std::vector<PointerReport> reports;
  const std::uint64_t now = SystemMilliseconds();
  if ((fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
    unsigned char bytes[4096];
    const ssize_t count = read(STDIN_FILENO, bytes, sizeof bytes);
    if (count > 0) {
      FilterInput(t.Input, bytes, static_cast<std::size_t>(count), keys, reports, t.Answers);
      t.HeldSince = now;
    } else if (count == 0 || (errno != EINTR && errno != EAGAIN)) {
      // The terminal is gone (a hang-up that was not signalled): nobody is
      // left to play.
      t.InputOpen = false;
      QueueKeyBytes(keys);
      OrderlyQuit();
    }
  } else if (holding && now - t.HeldSince >= EscapePause) {
    FlushInput(t.Input, keys, now - t.HeldSince >= ReportPause);
  }
  QueueKeyBytes(keys);
  QueueReports(t, reports, SystemMilliseconds());
}

void Wake() {
  const char byte = 'w';
  (void)!write(Terminal().WakePipe[1], &byte, 1);
}

bool OpenPointer() { return Terminal().Mouse; }

void WarpPointer(int, int) {
  // A terminal's mouse cannot be moved by the program; the game draws its
  // arrow where it put it, and the next report moves it again.
}

void Stop() {
  TerminalState& t = Terminal();
  signal(SIGWINCH, SIG_DFL);
  WakeWrite = -1;
  FreePicture(t.Shown);
  t.Shown = nullptr;
}

}  // namespace

const Host TerminalHost = {
    .Kind = HostKind::Terminal,
    .WantsDisplayThread = true,
    .Start = Start,
    .OpenScreen = OpenScreen,
    .CloseScreen = CloseScreen,
    .Present = Present,
    .Pump = Pump,
    .Wake = Wake,
    .OpenPointer = OpenPointer,
    .WarpPointer = WarpPointer,
    .Stop = Stop,
    .Milliseconds = SystemMilliseconds,
    .TimeOfDay = SystemTimeOfDay,
};
