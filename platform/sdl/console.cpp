// The desktop host on the Linux console. SDL's KMSDRM driver shows the
// screen and reads the keyboard through the kernel's input devices, turning
// the console's own keyboard off while it runs; here the console's modes
// are recorded first and put back on every way out, the pointing devices
// are read directly (SDL would take an absolute pointer's raw values for
// pixels), and waits sleep in poll() on the input devices, which SDL's
// driver cannot do.

#include "platform/sdl/console.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/input.h>
#include <linux/kd.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

// The virtual console found at start: its descriptor and modes (read by
// the leave action, so plain values written before it is set).
int ConsoleFd = -1;
int FoundDisplayMode = KD_TEXT;
int FoundKeyboardMode = K_UNICODE;
std::atomic<bool> Taken{false};

// MaxDevices: input devices watched; more are left alone.
constexpr int MaxDevices = 32;
// MaxButtonChanges: button changes kept within one report of a device.
constexpr int MaxButtonChanges = 8;

struct InputDevice {
  int Fd = -1;
  bool Pointer = false;   // its events move the pointer and press its buttons
  bool Absolute = false;  // positions, not movements
  // Touchpad: absolute axes under a finger that move the pointer by as much
  // as the finger moves (the pad's width across the screen's); its touch
  // is no click, its buttons are.
  bool Touchpad = false;
  bool Touching = false, WasTouching = false;  // now, and at the last report
  int FingerX = 0, FingerY = 0;                // the axes' values now
  int LastFingerX = 0, LastFingerY = 0;        // and at the last report
  long long CarryX = 0, CarryY = 0;            // finger movement not yet a whole pixel
  input_absinfo AxisX{}, AxisY{};
  // The report being read, applied at its SYN_REPORT.
  int MoveX = 0, MoveY = 0;                     // relative movement
  int AtX = -1, AtY = -1;                       // absolute position in screen pixels, -1: unchanged
  std::array<int, MaxButtonChanges> Buttons{};  // Mouse* bit, negative when released
  int ButtonCount = 0;
};

struct ConsoleState {
  std::array<InputDevice, MaxDevices> Devices;
  int DeviceCount = 0;
  bool Pointing = false;
  int WakeFd = -1;
  int PointerX = 0, PointerY = 0;  // screen pixel
};

ConsoleState& Console() {
  static ConsoleState* state = new ConsoleState;
  return *state;
}

// GiveConsoleBack: the terminal's leave action: ioctl only.
void GiveConsoleBack() {
  if (!Taken.load() || ConsoleFd < 0) return;
  ioctl(ConsoleFd, KDSKBMODE, FoundKeyboardMode);
  int mode = KD_TEXT;
  if (ioctl(ConsoleFd, KDGETMODE, &mode) == 0 && mode != FoundDisplayMode)
    ioctl(ConsoleFd, KDSETMODE, FoundDisplayMode);
}

template <std::size_t Bits>
struct BitSet {
  unsigned long Words[(Bits + 8 * sizeof(unsigned long) - 1) / (8 * sizeof(unsigned long))]{};
  bool Has(unsigned bit) const {
    return (Words[bit / (8 * sizeof(unsigned long))] >> (bit % (8 * sizeof(unsigned long)))) & 1;
  }
};

void OpenDevice(ConsoleState& c, const char* path) {
  if (c.DeviceCount == MaxDevices) return;
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  BitSet<EV_MAX + 1> types;
  BitSet<REL_MAX + 1> relative;
  BitSet<ABS_MAX + 1> absolute;
  BitSet<KEY_MAX + 1> keys;
  if (ioctl(fd, EVIOCGBIT(0, sizeof types.Words), types.Words) < 0) {
    close(fd);
    return;
  }
  ioctl(fd, EVIOCGBIT(EV_REL, sizeof relative.Words), relative.Words);
  ioctl(fd, EVIOCGBIT(EV_ABS, sizeof absolute.Words), absolute.Words);
  ioctl(fd, EVIOCGBIT(EV_KEY, sizeof keys.Words), keys.Words);
  BitSet<INPUT_PROP_MAX + 1> properties;
  ioctl(fd, EVIOCGPROP(sizeof properties.Words), properties.Words);
  InputDevice& device = c.Devices[static_cast<std::size_t>(c.DeviceCount++)];
  device = InputDevice{};
  device.Fd = fd;
  if (types.Has(EV_REL) && relative.Has(REL_X) && relative.Has(REL_Y)) {
    device.Pointer = true;
  } else if (types.Has(EV_ABS) && absolute.Has(ABS_X) && absolute.Has(ABS_Y) && types.Has(EV_KEY) &&
             (keys.Has(BTN_LEFT) || keys.Has(BTN_TOUCH)) &&
             ioctl(fd, EVIOCGABS(ABS_X), &device.AxisX) == 0 &&
             ioctl(fd, EVIOCGABS(ABS_Y), &device.AxisY) == 0 &&
             device.AxisX.maximum > device.AxisX.minimum &&
             device.AxisY.maximum > device.AxisY.minimum) {
    device.Pointer = true;
    device.Absolute = true;
    // A finger on a pad, not on the screen (a tablet's pen or a virtual
    // machine's tablet has no finger).
    device.Touchpad =
        keys.Has(BTN_TOOL_FINGER) && keys.Has(BTN_TOUCH) && !properties.Has(INPUT_PROP_DIRECT);
  }
  c.Pointing = c.Pointing || device.Pointer;
}

// OpenInputDevices: every event device this user may read, in number order.
void OpenInputDevices(ConsoleState& c) {
  DIR* folder = opendir("/dev/input");
  if (folder == nullptr) return;
  std::array<int, MaxDevices> numbers{};
  int count = 0;
  while (dirent* entry = readdir(folder)) {
    int number = 0;
    if (count < MaxDevices && std::sscanf(entry->d_name, "event%d", &number) == 1)
      numbers[static_cast<std::size_t>(count++)] = number;
  }
  closedir(folder);
  std::sort(numbers.begin(), numbers.begin() + count);
  for (int i = 0; i < count; ++i) {
    char path[64];
    std::snprintf(path, sizeof path, "/dev/input/event%d", numbers[static_cast<std::size_t>(i)]);
    OpenDevice(c, path);
  }
}

int ButtonBit(unsigned code) {
  switch (code) {
    case BTN_LEFT:
    case BTN_TOUCH:
      return MouseLeft;
    case BTN_RIGHT:
      return MouseRight;
    case BTN_MIDDLE:
      return MouseMiddle;
    default:
      return 0;
  }
}

// EndReport: one report of a pointing device, handed to the core.
void EndReport(ConsoleState& c, InputDevice& device) {
  if (device.Touchpad) {
    // A finger's movement since the last report; a new touch starts where it lands.
    if (device.Touching && device.WasTouching) {
      device.MoveX += PadToScreen(device.FingerX - device.LastFingerX, device.AxisX.minimum,
                                  device.AxisX.maximum, ScreenWidth, device.CarryX);
      device.MoveY += PadToScreen(device.FingerY - device.LastFingerY, device.AxisY.minimum,
                                  device.AxisY.maximum, ScreenHeight, device.CarryY);
    } else {
      device.CarryX = device.CarryY = 0;
    }
    device.WasTouching = device.Touching;
    device.LastFingerX = device.FingerX;
    device.LastFingerY = device.FingerY;
  }
  bool moved = false;
  if (device.MoveX != 0 || device.MoveY != 0) {
    c.PointerX = std::clamp(c.PointerX + device.MoveX, 0, ScreenWidth - 1);
    c.PointerY = std::clamp(c.PointerY + device.MoveY, 0, ScreenHeight - 1);
    moved = true;
  }
  if (device.AtX >= 0) c.PointerX = device.AtX;
  if (device.AtY >= 0) c.PointerY = device.AtY;
  moved = moved || device.AtX >= 0 || device.AtY >= 0;
  // A touch lands where it is: the position first, then the press.
  if (moved) QueuePointerMove(c.PointerX, c.PointerY);
  for (int i = 0; i < device.ButtonCount; ++i) {
    const int change = device.Buttons[static_cast<std::size_t>(i)];
    QueuePointerButton(c.PointerX, c.PointerY, change < 0 ? -change : change, change > 0);
  }
  device.MoveX = device.MoveY = 0;
  device.AtX = device.AtY = -1;
  device.ButtonCount = 0;
}

void HandleEvent(ConsoleState& c, InputDevice& device, const input_event& event) {
  switch (event.type) {
    case EV_REL:
      if (event.code == REL_X) device.MoveX += event.value;
      if (event.code == REL_Y) device.MoveY += event.value;
      break;
    case EV_ABS:
      if (!device.Absolute) break;
      if (device.Touchpad) {
        if (event.code == ABS_X) device.FingerX = event.value;
        if (event.code == ABS_Y) device.FingerY = event.value;
        break;
      }
      if (event.code == ABS_X)
        device.AtX =
            AxisToScreen(event.value, device.AxisX.minimum, device.AxisX.maximum, ScreenWidth);
      if (event.code == ABS_Y)
        device.AtY =
            AxisToScreen(event.value, device.AxisY.minimum, device.AxisY.maximum, ScreenHeight);
      break;
    case EV_KEY: {
      if (device.Touchpad && event.code == BTN_TOUCH) {
        device.Touching = event.value != 0;
        break;
      }
      const int bit = ButtonBit(event.code);
      // Presses and releases only; the kernel's repeats are not new presses.
      if (bit != 0 && event.value != 2 && device.ButtonCount < MaxButtonChanges)
        device.Buttons[static_cast<std::size_t>(device.ButtonCount++)] =
            event.value != 0 ? bit : -bit;
      break;
    }
    case EV_SYN:
      if (event.code == SYN_REPORT) EndReport(c, device);
      break;
    default:
      break;
  }
}

// ReadDevice: everything the device has; a pointer's events handled, the
// others' only taken (SDL reads its own copy of them).
void ReadDevice(ConsoleState& c, InputDevice& device) {
  input_event events[64];
  for (;;) {
    const ssize_t got = read(device.Fd, events, sizeof events);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno == EAGAIN) return;
    if (got <= 0) {
      // The device went away.
      close(device.Fd);
      device.Fd = -1;
      return;
    }
    if (!device.Pointer) continue;
    for (std::size_t i = 0; i < static_cast<std::size_t>(got) / sizeof events[0]; ++i)
      HandleEvent(c, device, events[i]);
  }
}

}  // namespace

int AxisToScreen(int value, int minimum, int maximum, int size) {
  if (maximum <= minimum) return 0;
  const long long offset = std::clamp(value, minimum, maximum) - static_cast<long long>(minimum);
  const long long span = static_cast<long long>(maximum) - minimum + 1;
  return static_cast<int>(std::min<long long>(offset * size / span, size - 1));
}

int PadToScreen(long long movement, int minimum, int maximum, int size, long long& carry) {
  if (maximum <= minimum) return 0;
  const long long span = static_cast<long long>(maximum) - minimum + 1;
  carry += movement * size;
  const long long pixels = carry / span;
  carry -= pixels * span;
  return static_cast<int>(std::clamp<long long>(pixels, -size, size));
}

void RecordConsole() {
  if (ConsoleFd >= 0) return;
  const int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return;
  int display = 0, keyboard = 0;
  if (ioctl(fd, KDGETMODE, &display) != 0 || ioctl(fd, KDGKBMODE, &keyboard) != 0) {
    close(fd);
    return;
  }
  FoundDisplayMode = display;
  FoundKeyboardMode = keyboard;
  ConsoleFd = fd;
}

void TakeConsole() {
  ConsoleState& c = Console();
  if (Taken.load()) return;
  Taken = true;
  SetTtyLeaveAction(GiveConsoleBack);
  c.WakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  OpenInputDevices(c);
}

bool OnConsole() { return Taken.load(); }

ConsoleQuiet::ConsoleQuiet(bool always) {
  if (!always && ConsoleFd < 0) return;
  const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null < 0) return;
  std::fflush(stderr);
  Saved = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
  if (Saved >= 0) dup2(null, STDERR_FILENO);
  close(null);
}

ConsoleQuiet::~ConsoleQuiet() {
  if (Saved < 0) return;
  std::fflush(stderr);
  dup2(Saved, STDERR_FILENO);
  close(Saved);
}

void ConsoleGraphics(bool on) {
  if (!Taken.load() || ConsoleFd < 0) return;
  ioctl(ConsoleFd, KDSETMODE, on ? KD_GRAPHICS : FoundDisplayMode);
}

bool HasPointingDevice() { return Console().Pointing; }

void ConsolePointerAt(int x, int y) {
  ConsoleState& c = Console();
  c.PointerX = std::clamp(x, 0, ScreenWidth - 1);
  c.PointerY = std::clamp(y, 0, ScreenHeight - 1);
}

void WaitForConsoleInput(int timeoutMilliseconds) {
  ConsoleState& c = Console();
  pollfd ready[MaxDevices + 1];
  int owner[MaxDevices + 1];
  int count = 0;
  if (c.WakeFd >= 0) {
    ready[count] = {c.WakeFd, POLLIN, 0};
    owner[count++] = -1;
  }
  for (int i = 0; i < c.DeviceCount; ++i)
    if (c.Devices[static_cast<std::size_t>(i)].Fd >= 0) {
      ready[count] = {c.Devices[static_cast<std::size_t>(i)].Fd, POLLIN, 0};
      owner[count++] = i;
    }
  if (poll(ready, static_cast<nfds_t>(count), timeoutMilliseconds) <= 0) return;
  for (int i = 0; i < count; ++i) {
    if (ready[i].revents == 0) continue;
    if (owner[i] < 0) {
      std::uint64_t wakes;
      while (read(c.WakeFd, &wakes, sizeof wakes) > 0) {
      }
      continue;
    }
    ReadDevice(c, c.Devices[static_cast<std::size_t>(owner[i])]);
  }
}

void WakeConsole() {
  const int fd = Console().WakeFd;
  if (fd < 0) return;
  const std::uint64_t one = 1;
  if (write(fd, &one, sizeof one) < 0) return;
}
