// The console host: chosen when the game is started on a virtual console
// with no desktop around it. Everything runs on the core's display thread,
// which sleeps in poll() on the seat, the card, the input devices and its
// wake-up descriptor. While the person has switched to another console
// nothing is presented or read; the game itself goes on.

#include <fcntl.h>
#include <linux/vt.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "platform/console/console.h"

namespace {

int WakeFd = -1;
std::atomic<bool> Alive{false};

// OnVirtualConsole: standard input is one of the kernel's virtual consoles
// and no desktop session is there to show a window instead.
bool OnVirtualConsole(std::string& reason) {
  if (std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr) {
    reason = "a desktop is there (DISPLAY or WAYLAND_DISPLAY)";
    return false;
  }
  vt_mode mode{};
  if (!isatty(STDIN_FILENO) || ioctl(STDIN_FILENO, VT_GETMODE, &mode) != 0) {
    reason = "not started on a virtual console";
    return false;
  }
  return true;
}

void Stop();

bool Start(std::string& reason) {
  if (!OnVirtualConsole(reason)) return false;
  RecordConsoleModes();
  std::string why;
  if (!OpenSeat(why) || !OpenDisplay(why) || !OpenInput(why)) {
    Stop();
    reason = "the console cannot be shown: " + why;
    // The person at the console sees why the game plays as text instead.
    std::fprintf(stderr, "kelvar: %s; playing in the terminal instead\n", reason.c_str());
    return false;
  }
  // The seat's manager takes the console back when the game ends however it
  // ends; these put its modes back at once on the ways out that can run code.
  SetTtyLeaveAction(GiveConsoleModesBack);
  WakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  Alive = true;
  return true;
}

bool OpenScreen(std::string& reason) {
  if (!ShowDisplay(reason)) return false;
  RequestRepaint();
  return true;
}

void CloseScreen() { HideDisplay(); }

void Present(const Frame& frame) {
  if (SeatActive()) PresentFrame(frame);
}

void Pump(int timeoutMilliseconds) {
  pollfd ready[5];
  const int fds[5] = {WakeFd, SeatFd(), DisplayFd(), RepeatFd(), InputFd()};
  int count = 0;
  for (const int fd : fds)
    if (fd >= 0) ready[count++] = {fd, POLLIN, 0};
  if (poll(ready, static_cast<nfds_t>(count), timeoutMilliseconds) <= 0) return;
  for (int i = 0; i < count; ++i) {
    if (ready[i].revents == 0) continue;
    if (ready[i].fd == WakeFd) {
      std::uint64_t wakes;
      while (read(WakeFd, &wakes, sizeof wakes) > 0) {
      }
    } else if (ready[i].fd == SeatFd()) {
      DispatchSeat();
    } else if (ready[i].fd == DisplayFd()) {
      DispatchDisplay();
    } else if (ready[i].fd == RepeatFd()) {
      DispatchRepeat();
    } else {
      // Always read: a descriptor left full would wake every poll while
      // away (libinput has no devices open then, so nothing is handed on).
      DispatchInput();
    }
  }
}

void Wake() {
  if (!Alive.load()) return;
  const std::uint64_t one = 1;
  if (write(WakeFd, &one, sizeof one) < 0) return;
}

bool OpenPointer() { return HasPointingDevice(); }

void WarpPointer(int x, int y) { PointerAt(x, y); }

void Stop() {
  Alive = false;
  CloseInput();
  CloseDisplay();
  CloseSeat();
  if (WakeFd >= 0) close(WakeFd);
  WakeFd = -1;
  RestoreTerminal();
}

}  // namespace

const Host ConsoleHost = {
    .Kind = HostKind::Window,
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
