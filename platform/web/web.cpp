// The platform in a browser: the program runs in a worker of the page, its
// screen memory goes to the page's canvas, and the page's pointer and keys
// come back as the desktop's events. Every wait yields to the browser
// (Asyncify); nothing here runs while the program computes.

#include <emscripten.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

extern "C" {
double kelvar_web_now();
void kelvar_web_present(const std::uint16_t* pixels);
int kelvar_web_wait(int milliseconds);
int kelvar_web_next_input(void* out);
void kelvar_web_show(int graphics);
}

namespace {

constexpr int ScreenWidth = 640;
constexpr int ScreenHeight = 480;

constexpr double StaleAfter = 250;

struct WebInput {
  std::int32_t Kind;  // 1 a key code, 2 the pointer
  std::int32_t Code;
  std::int32_t X, Y, Buttons;
  std::int32_t Unused;
  double Time;
};
static_assert(offsetof(WebInput, Time) == 24);

alignas(64) std::uint16_t ScreenMemory[ScreenWidth * ScreenHeight];
std::uint16_t Shown[ScreenWidth * ScreenHeight];
bool ShownValid = false;
int CurrentMode = TEXT;
int CurrentColour = 0;

constexpr unsigned KeyQueueSize = 4096;
std::array<KeyInput, KeyQueueSize> KeyQueue;
unsigned KeyHead = 0, KeyCount = 0;

struct MouseUpdate {
  int X, Y, Buttons;
  double Time;
};
constexpr unsigned MouseQueueSize = 256;
struct MouseState {
  bool Open = false;
  int MinX = 0, MaxX = ScreenWidth - 1, MinY = 0, MaxY = ScreenHeight - 1;
  MouseUpdate Latest{0, 0, 0, 0}, Current{0, 0, 0, 0};
  std::array<MouseUpdate, MouseQueueSize> Queue{};
  unsigned Head = 0, Count = 0;
} Mouse;

void QueueKey(std::uint8_t code) {
  if (KeyCount == KeyQueueSize) return;
  KeyQueue[(KeyHead + KeyCount) % KeyQueueSize] = KeyInput{code, true};
  ++KeyCount;
}

void QueuePointer(int x, int y, int buttons, double time) {
  MouseState& m = Mouse;
  if (!m.Open) return;
  const bool buttonsChanged = buttons != m.Latest.Buttons;
  m.Latest = {std::clamp(x, m.MinX, m.MaxX), std::clamp(y, m.MinY, m.MaxY), buttons, time};
  if (m.Count > 0) {
    MouseUpdate& last = m.Queue[(m.Head + m.Count - 1) % MouseQueueSize];
    if (!buttonsChanged || m.Count == MouseQueueSize) {
      last.X = m.Latest.X;
      last.Y = m.Latest.Y;
      if (buttonsChanged) last.Buttons = m.Latest.Buttons;
      return;
    }
  }
  m.Queue[(m.Head + m.Count) % MouseQueueSize] = m.Latest;
  ++m.Count;
}

// Pump: the input the page sent into the key and mouse queues.
void Pump() {
  WebInput input;
  while (kelvar_web_next_input(&input) != 0) {
    if (input.Kind == 1)
      QueueKey(static_cast<std::uint8_t>(input.Code));
    else if (input.Kind == 2)
      QueuePointer(input.X, input.Y, input.Buttons, input.Time);
  }
}

void PresentIfChanged() {
  if (CurrentMode == TEXT) return;
  if (ShownValid && std::memcmp(Shown, ScreenMemory, sizeof Shown) == 0) return;
  std::memcpy(Shown, ScreenMemory, sizeof Shown);
  ShownValid = true;
  kelvar_web_present(ScreenMemory);
}

// WaitUntil: shows the finished picture, then yields until ready() holds.
template <typename Ready>
void WaitUntil(Ready ready) {
  Pump();
  while (!ready()) {
    PresentIfChanged();
    kelvar_web_wait(-1);
    Pump();
  }
}

}  // namespace

void PlatformStart() {}
const char* DisplayUnavailableReason() { return ""; }

bool PeekKeyInput(KeyInput& input) {
  Pump();
  if (KeyCount == 0) return false;
  input = KeyQueue[KeyHead];
  return true;
}

KeyInput TakeKeyInput() {
  WaitUntil([] { return KeyCount > 0; });
  KeyInput input = KeyQueue[KeyHead];
  KeyHead = (KeyHead + 1) % KeyQueueSize;
  --KeyCount;
  return input;
}

void SleepMilliseconds(int milliseconds) {
  PresentIfChanged();
  const double end = kelvar_web_now() + milliseconds;
  for (double now = kelvar_web_now(); now < end; now = kelvar_web_now())
    kelvar_web_wait(static_cast<int>(std::ceil(end - now)));
  Pump();
}

void PresentScreen() { PresentIfChanged(); }
void RestoreTerminal() {}

int vga_init() { return 0; }
int vga_hasmode(int mode) { return mode == TEXT || mode == G640x480x64K ? 1 : 0; }

vga_modeinfo* vga_getmodeinfo(int mode) {
  static vga_modeinfo text{80, 25, 0, 160, 16};
  static vga_modeinfo graphics{ScreenWidth, ScreenHeight, 2, ScreenWidth * 2, 65536};
  if (mode == TEXT) return &text;
  if (mode == G640x480x64K) return &graphics;
  return nullptr;
}

int vga_setmode(int mode) {
  if (mode == TEXT) {
    if (CurrentMode != TEXT) kelvar_web_show(0);
    CurrentMode = TEXT;
    return 0;
  }
  if (!vga_hasmode(mode)) return -1;
  std::memset(ScreenMemory, 0, sizeof ScreenMemory);
  ShownValid = false;
  CurrentMode = mode;
  kelvar_web_show(1);
  return 0;
}

int vga_screenon() { return 0; }
unsigned char* vga_getgraphmem() { return reinterpret_cast<unsigned char*>(ScreenMemory); }
int vga_getcolors() { return CurrentMode == G640x480x64K ? 65536 : 16; }
int vga_setcolor(int colour) {
  CurrentColour = colour & 0xFFFF;
  return 0;
}
int vga_drawpixel(int x, int y) {
  if (x >= 0 && y >= 0 && x < ScreenWidth && y < ScreenHeight)
    ScreenMemory[y * ScreenWidth + x] = static_cast<std::uint16_t>(CurrentColour);
  return 0;
}
int vga_drawline(int x1, int y1, int x2, int y2) {
  int dx = std::abs(x2 - x1), dy = std::abs(y2 - y1);
  int sx = x2 >= x1 ? 1 : -1, sy = y2 >= y1 ? 1 : -1;
  bool alongX = dx >= dy;
  int a = alongX ? dx : dy, b = alongX ? dy : dx;
  int error = 2 * b - a;
  int x = x1, y = y1;
  for (int step = 0;; ++step) {
    vga_drawpixel(x, y);
    if (step == a) break;
    if (error >= 0) {
      if (alongX)
        y += sy;
      else
        x += sx;
      error += 2 * (b - a);
    } else {
      error += 2 * b;
    }
    if (alongX)
      x += sx;
    else
      y += sy;
  }
  return 0;
}
int vga_getpixel(int x, int y) {
  if (x >= 0 && y >= 0 && x < ScreenWidth && y < ScreenHeight)
    return ScreenMemory[y * ScreenWidth + x];
  return 0;
}

int mouse_init(const char*, int, int) {
  Mouse.Open = true;
  Mouse.Head = Mouse.Count = 0;
  return 0;
}
void mouse_setxrange(int x1, int x2) {
  Mouse.MinX = std::clamp(std::min(x1, x2), 0, ScreenWidth - 1);
  Mouse.MaxX = std::clamp(std::max(x1, x2), 0, ScreenWidth - 1);
  Mouse.Latest.X = std::clamp(Mouse.Latest.X, Mouse.MinX, Mouse.MaxX);
}
void mouse_setyrange(int y1, int y2) {
  Mouse.MinY = std::clamp(std::min(y1, y2), 0, ScreenHeight - 1);
  Mouse.MaxY = std::clamp(std::max(y1, y2), 0, ScreenHeight - 1);
  Mouse.Latest.Y = std::clamp(Mouse.Latest.Y, Mouse.MinY, Mouse.MaxY);
}
void mouse_setscale(int) {}
int mouse_waitforupdate() {
  MouseState& m = Mouse;
  if (!m.Open) return 0;
  WaitUntil([] { return Mouse.Count > 0; });
  if (kelvar_web_now() - m.Queue[m.Head].Time > StaleAfter) {
    m.Current = m.Latest;
    m.Count = 0;
    return 1;
  }
  m.Current = m.Queue[m.Head];
  m.Head = (m.Head + 1) % MouseQueueSize;
  --m.Count;
  return 1;
}
int mouse_getx() { return Mouse.Current.X; }
int mouse_gety() { return Mouse.Current.Y; }
int mouse_getbutton() { return Mouse.Current.Buttons; }
void mouse_setposition(int x, int y) {
  // A page cannot move the person's pointer; the game's idea of it moves.
  Mouse.Current.X = Mouse.Latest.X = std::clamp(x, Mouse.MinX, Mouse.MaxX);
  Mouse.Current.Y = Mouse.Latest.Y = std::clamp(y, Mouse.MinY, Mouse.MaxY);
}
void mouse_close() {
  Mouse.Open = false;
  Mouse.Count = 0;
}
