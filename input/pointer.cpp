// The pointer: the mouse when it opens at start-up, otherwise the keyboard
// emulation driven by the arrow keys and the space bar.
#include "display/display.h"
#include "input/input.h"
#include "platform/platform.h"

// PointerEmulation: false while the mouse drives the pointer; true for the
// whole run once the mouse could not be opened.
bool PointerEmulation = false;
// EmulatedPointer: X 0..639, Y 0..479 (on the 6-pixel grid until an edge is
// met), Buttons 0 or 1; starts at the top-left corner.
EmulatedPointerState EmulatedPointer = {0, 0, 0};
// EscapePressed: false until the emulation reads Esc; then true for good.
bool EscapePressed = false;
// UnusedEmulationKey: 0, or a key code other than 0, 27 and 32.
std::uint8_t UnusedEmulationKey = 0;

namespace {

// The gpm repeater device and the mouse driver's type for it.
constexpr const char* MouseDevice = "/dev/gpmdata";
constexpr int MouseType = 7;
constexpr int MouseSampleRate = 1200;
constexpr int MouseScale = 16;

// Key codes the emulation acts on.
constexpr std::uint8_t ExtendedKey = 0;
constexpr std::uint8_t EscapeKey = 27;
constexpr std::uint8_t SpaceKey = 32;
constexpr std::uint8_t UpScan = 72;
constexpr std::uint8_t LeftScan = 75;
constexpr std::uint8_t RightScan = 77;
constexpr std::uint8_t DownScan = 80;

PointerState ReadMouse() {
  mouse_waitforupdate();
  int x = mouse_getx();
  int y = mouse_gety();
  const int buttons = mouse_getbutton();
  if (x >= MaxX() || y >= MaxY()) {
    // A pointer on the last column or row is written back, so the mouse
    // driver's idea of the position never runs past the screen.
    if (x >= MaxX()) x = MaxX();
    if (y >= MaxY()) y = MaxY();
    mouse_setposition(x, y);
  }
  return {static_cast<std::uint16_t>(x), static_cast<std::uint16_t>(y),
          static_cast<std::uint16_t>(buttons)};
}

void ReadEmulationKey() {
  const std::uint8_t key = ReadKeyCode();
  if (key == ExtendedKey) {
    // The scan code of an extended key waits in the surface's key buffer; a
    // lone 0 byte from the terminal has none, and is not waited behind.
    if (!KeyWaiting()) return;
    switch (ReadKeyCode()) {
      case UpScan:
        EmulatedPointer.Y -= PointerStep;
        break;
      case LeftScan:
        EmulatedPointer.X -= PointerStep;
        break;
      case RightScan:
        EmulatedPointer.X += PointerStep;
        break;
      case DownScan:
        EmulatedPointer.Y += PointerStep;
        break;
      default:
        break;
    }
  } else if (key == EscapeKey) {
    EscapePressed = true;
  } else if (key == SpaceKey) {
    EmulatedPointer.Buttons = 1;
  } else {
    UnusedEmulationKey = key;
  }
}

void KeepEmulationOnScreen() {
  if (EmulatedPointer.X < 0) EmulatedPointer.X = 0;
  if (EmulatedPointer.X >= MaxX()) EmulatedPointer.X = MaxX();
  if (EmulatedPointer.Y < 0) EmulatedPointer.Y = 0;
  if (EmulatedPointer.Y >= MaxY()) EmulatedPointer.Y = MaxY();
}

PointerState EmulationState() {
  return {static_cast<std::uint16_t>(EmulatedPointer.X),
          static_cast<std::uint16_t>(EmulatedPointer.Y),
          static_cast<std::uint16_t>(EmulatedPointer.Buttons)};
}

PointerState ReadEmulation() {
  // A click lasts for exactly one read.
  EmulatedPointer.Buttons = 0;
  // The emulated pointer changes only with a key, so a read without one
  // would change nothing: waiting for the key here (the surface presents the
  // screen first) spares the callers a loop that spins on an idle keyboard.
  ReadEmulationKey();
  KeepEmulationOnScreen();
  return EmulationState();
}

}  // namespace

bool OpenMouse() {
  if (mouse_init(MouseDevice, MouseType, MouseSampleRate) != 0) return false;
  mouse_setxrange(0, 639);
  mouse_setyrange(0, 479);
  mouse_setscale(MouseScale);
  return true;
}

PointerState ReadPointer() { return PointerEmulation ? ReadEmulation() : ReadMouse(); }

PointerState CurrentPointer() {
  if (!PointerEmulation) {
    return {static_cast<std::uint16_t>(mouse_getx()), static_cast<std::uint16_t>(mouse_gety()), 0};
  }
  KeepEmulationOnScreen();
  PointerState point = EmulationState();
  point.Buttons = 0;
  return point;
}
