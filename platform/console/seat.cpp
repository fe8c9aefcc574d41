// The seat: libseat hands the session shown on this console its display and
// input devices (through logind, or seatd), switches virtual consoles on
// request and tells when the session is left and entered again. The
// console's own modes are recorded too, so that every way out leaves them
// as they were even before the seat's manager notices the program is gone.

#include <fcntl.h>
// libseat's header declares no C linkage of its own.
extern "C" {
#include <libseat.h>
}
#include <linux/kd.h>
#include <linux/vt.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>

#include "platform/console/console.h"

namespace {

libseat* Seat = nullptr;
bool Active = false;
// The seat's first error line since it was asked for: the reason a seat
// could not be had (libseat tries its backends in turn, and the first to
// fail is the system's own manager).
char SeatError[200] = "";

// The console's modes as found; plain values, read by the leave action.
int ConsoleFd = -1;
int FoundDisplayMode = KD_TEXT;
int FoundKeyboardMode = K_UNICODE;
std::atomic<bool> Recorded{false};

void Enable(libseat*, void*) {
  const bool returning = Seat != nullptr && !Active;
  Active = true;
  if (!returning) return;
  DisplayBack();
  InputBack();
}

void Disable(libseat* seat, void*) {
  Active = false;
  DisplayAway();
  InputAway();
  // The manager waits for this before it switches.
  libseat_disable_seat(seat);
}

void KeepError(libseat_log_level level, const char* format, va_list args) {
  if (level > LIBSEAT_LOG_LEVEL_ERROR || SeatError[0] != '\0') return;
  std::vsnprintf(SeatError, sizeof SeatError, format, args);
}

const libseat_seat_listener Listener = {Enable, Disable};

// ConsoleShown: the virtual console on standard input is the one on the
// screen. A seat's manager may hand a privileged program the screen of the
// session shown on another console (libseat's built-in seatd takes the
// active one for root): a game started on a console nobody looks at must
// not take over the one somebody is using.
bool ConsoleShown(std::string& reason) {
  struct stat input {};
  vt_stat state{};
  if (fstat(STDIN_FILENO, &input) != 0 || ioctl(STDIN_FILENO, VT_GETSTATE, &state) != 0)
    return true;
  // The virtual consoles are the tty major's minors 1 to 63; tty0 is the shown one.
  const unsigned number = minor(input.st_rdev);
  if (major(input.st_rdev) != 4 || number == 0 || number > 63 || number == state.v_active)
    return true;
  reason = "this console (tty" + std::to_string(number) + ") is not the one shown (tty" +
           std::to_string(state.v_active) + ")";
  return false;
}

}  // namespace

bool OpenSeat(std::string& reason) {
  if (!ConsoleShown(reason)) return false;
  libseat_set_log_handler(KeepError);
  libseat_set_log_level(LIBSEAT_LOG_LEVEL_ERROR);
  SeatError[0] = '\0';
  Active = false;
  libseat* seat = libseat_open_seat(&Listener, nullptr);
  if (seat == nullptr) {
    reason = std::string("no seat for this console") + (SeatError[0] ? ": " : "") + SeatError;
    return false;
  }
  // The session is enabled at once when it is the one shown; one that is
  // not (started from another console, say) would wait for ever.
  for (int tries = 0; tries < 20 && !Active; ++tries) {
    pollfd ready{libseat_get_fd(seat), POLLIN, 0};
    if (libseat_dispatch(seat, 0) < 0) break;
    if (!Active) poll(&ready, 1, 100);
  }
  if (!Active) {
    libseat_close_seat(seat);
    reason = SeatError[0] ? std::string("the seat was refused: ") + SeatError
                          : "this console's session is not the one shown";
    return false;
  }
  Seat = seat;
  return true;
}

bool SeatActive() { return Seat != nullptr && Active; }

int SeatFd() { return Seat != nullptr ? libseat_get_fd(Seat) : -1; }

void DispatchSeat() {
  if (Seat != nullptr) libseat_dispatch(Seat, 0);
}

int OpenSeatDevice(const char* path, int& id) {
  if (Seat == nullptr) return -1;
  int fd = -1;
  id = libseat_open_device(Seat, path, &fd);
  return id < 0 ? -1 : fd;
}

void CloseSeatDevice(int fd, int id) {
  if (Seat != nullptr && id >= 0) libseat_close_device(Seat, id);
  if (fd >= 0) close(fd);
}

void SwitchConsole(int number) {
  if (Seat != nullptr && Active) libseat_switch_session(Seat, number);
}

void CloseSeat() {
  if (Seat == nullptr) return;
  libseat_close_seat(Seat);
  Seat = nullptr;
  Active = false;
}

void RecordConsoleModes() {
  if (Recorded.load()) return;
  const int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return;
  int display = 0, keyboard = 0;
  if (ioctl(fd, KDGETMODE, &display) != 0 || ioctl(fd, KDGKBMODE, &keyboard) != 0) {
    close(fd);
    return;
  }
  FoundDisplayMode = display;
  // A console found with its keyboard off was left so by a program that
  // died; it gets a working one back.
  FoundKeyboardMode = keyboard == K_OFF ? K_UNICODE : keyboard;
  ConsoleFd = fd;
  Recorded = true;
}

void GiveConsoleModesBack() {
  if (!Recorded.load()) return;
  vt_mode automatic{};
  automatic.mode = VT_AUTO;
  ioctl(ConsoleFd, VT_SETMODE, &automatic);
  ioctl(ConsoleFd, KDSKBMODE, FoundKeyboardMode);
  ioctl(ConsoleFd, KDSETMODE, FoundDisplayMode == KD_GRAPHICS ? KD_TEXT : FoundDisplayMode);
}
