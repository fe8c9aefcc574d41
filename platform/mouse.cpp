// The console mouse library's functions over the window's pointer.
//
// The display thread sees every pointer event of the window (through
// DisplayEventHook) and queues it in screen coordinates; mouse_waitforupdate
// hands the program one queued event at a time, so a quick press and release
// are two updates and no click is lost. Events that waited while the program
// was busy elsewhere (a message box, the computer's turn) are stale: they
// collapse into the pointer's state of now, so old clicks are not replayed.
// The game draws its own arrow, so the desktop's cursor is hidden over the
// window. A display whose driver shows nothing (SDL's dummy, evdev and
// offscreen drivers) has no pointer: mouse_init fails there, and the program
// falls back to its keyboard emulation.

#include <SDL.h>

#include <algorithm>
#include <array>

#include "platform/platform.h"
#include "platform/sdl_internal.h"

namespace {

// The library's button bits.
constexpr int RightButton = 1;
constexpr int MiddleButton = 2;
constexpr int LeftButton = 4;

struct MouseUpdate {
  int X;
  int Y;
  int Buttons;
  Uint64 Time;  // SDL ticks when the event came
};

// StaleAfter: milliseconds after which an unread update no longer counts.
constexpr Uint64 StaleAfter = 250;

// MouseQueueSize: updates kept unread. Pure movements are merged into the
// last unread update, so only button changes use up places.
constexpr unsigned MouseQueueSize = 256;

// All of the mouse state is guarded by InputLock.
struct MouseState {
  bool Open = false;
  // Ranges: MinX <= MaxX within 0..639, MinY <= MaxY within 0..479.
  int MinX = 0, MaxX = ScreenWidth - 1;
  int MinY = 0, MaxY = ScreenHeight - 1;
  // Latest: the pointer after every event seen, clamped to the ranges.
  MouseUpdate Latest{0, 0, 0, 0};
  // Current: the update the program last took with mouse_waitforupdate.
  MouseUpdate Current{0, 0, 0, 0};
  // Queue: unread updates, Head the oldest, Count 0..MouseQueueSize.
  std::array<MouseUpdate, MouseQueueSize> Queue{};
  unsigned Head = 0;
  unsigned Count = 0;
};

MouseState& Mouse() {
  // Never freed: the display thread may still deliver events during exit.
  static MouseState* state = new MouseState;
  return *state;
}

int ButtonBit(Uint8 button) {
  switch (button) {
    case SDL_BUTTON_LEFT:
      return LeftButton;
    case SDL_BUTTON_MIDDLE:
      return MiddleButton;
    case SDL_BUTTON_RIGHT:
      return RightButton;
    default:
      return 0;
  }
}

void QueueLatest(MouseState& m, bool buttonsChanged) {
  if (m.Count > 0) {
    MouseUpdate& last = m.Queue[(m.Head + m.Count - 1) % MouseQueueSize];
    if (!buttonsChanged || m.Count == MouseQueueSize) {
      // A movement (or an overflowing click) only moves the unread update.
      last.X = m.Latest.X;
      last.Y = m.Latest.Y;
      if (buttonsChanged) last.Buttons = m.Latest.Buttons;
      return;
    }
  }
  m.Queue[(m.Head + m.Count) % MouseQueueSize] = m.Latest;
  ++m.Count;
}

// OnPointerEvent: runs on the display thread for every event of the window.
void OnPointerEvent(const SDL_Event& event) {
  bool buttonsChanged = false;
  int windowX, windowY;
  switch (event.type) {
    case SDL_MOUSEMOTION:
      windowX = event.motion.x;
      windowY = event.motion.y;
      break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
      windowX = event.button.x;
      windowY = event.button.y;
      buttonsChanged = ButtonBit(event.button.button) != 0;
      break;
    default:
      return;
  }
  // Points in the bars beside a letterboxed picture go to its nearest edge.
  int x, y;
  WindowToScreen(windowX, windowY, x, y);
  {
    std::lock_guard<std::mutex> guard(InputLock());
    MouseState& m = Mouse();
    if (!m.Open) return;
    m.Latest.X = std::clamp(x, m.MinX, m.MaxX);
    m.Latest.Y = std::clamp(y, m.MinY, m.MaxY);
    m.Latest.Time = SDL_GetTicks64();
    if (event.type == SDL_MOUSEBUTTONDOWN) m.Latest.Buttons |= ButtonBit(event.button.button);
    if (event.type == SDL_MOUSEBUTTONUP) m.Latest.Buttons &= ~ButtonBit(event.button.button);
    QueueLatest(m, buttonsChanged);
  }
  InputArrived().notify_all();
}

// Invisible: SDL's drivers that show nothing ("evdev" is the dummy driver
// with the console's input devices).
bool Invisible(const char* driver) {
  return SDL_strcasecmp(driver, "dummy") == 0 || SDL_strcasecmp(driver, "offscreen") == 0 ||
         SDL_strcasecmp(driver, "evdev") == 0;
}

// OpenPointerAction: argument is a bool, set to true when the video driver
// shows a window a person can point into; the display thread then passes its
// events on to the mouse.
void OpenPointerAction(void* argument) {
  const char* driver = SDL_GetCurrentVideoDriver();
  const bool hasPointer = driver != nullptr && !Invisible(driver);
  *static_cast<bool*>(argument) = hasPointer;
  if (hasPointer) {
    DisplayEventHook = OnPointerEvent;
    SDL_ShowCursor(SDL_DISABLE);
  }
}

struct WarpRequest {
  int X;
  int Y;
};

void WarpAction(void* argument) {
  const WarpRequest& request = *static_cast<WarpRequest*>(argument);
  SDL_Window* window = DisplayWindow();
  if (window == nullptr) return;
  int windowX, windowY;
  ScreenToWindow(request.X, request.Y, windowX, windowY);
  SDL_WarpMouseInWindow(window, windowX, windowY);
}

}  // namespace

int mouse_init(const char*, int, int) {
  // The device, type and rate name the console's mouse; here the pointer is
  // the window's, which exists only on a display a person can see. The window
  // itself opens later, so the driver decides.
  {
    std::lock_guard<std::mutex> guard(InputLock());
    MouseState& m = Mouse();
    m.Open = true;
    m.Head = 0;
    m.Count = 0;
  }
  bool hasPointer = false;
  if (OnDisplayThread(OpenPointerAction, &hasPointer) && hasPointer) return 0;
  std::lock_guard<std::mutex> guard(InputLock());
  Mouse().Open = false;
  return -1;
}

void mouse_setxrange(int x1, int x2) {
  std::lock_guard<std::mutex> guard(InputLock());
  MouseState& m = Mouse();
  m.MinX = std::clamp(std::min(x1, x2), 0, ScreenWidth - 1);
  m.MaxX = std::clamp(std::max(x1, x2), 0, ScreenWidth - 1);
  m.Latest.X = std::clamp(m.Latest.X, m.MinX, m.MaxX);
}

void mouse_setyrange(int y1, int y2) {
  std::lock_guard<std::mutex> guard(InputLock());
  MouseState& m = Mouse();
  m.MinY = std::clamp(std::min(y1, y2), 0, ScreenHeight - 1);
  m.MaxY = std::clamp(std::max(y1, y2), 0, ScreenHeight - 1);
  m.Latest.Y = std::clamp(m.Latest.Y, m.MinY, m.MaxY);
}

void mouse_setscale(int) {
  // The window's pointer moves with the desktop's own speed and acceleration.
}

int mouse_waitforupdate() {
  std::unique_lock<std::mutex> lock(InputLock());
  MouseState& m = Mouse();
  if (!m.Open) return 0;
  // Presents the finished picture, then sleeps until the pointer moves or a
  // button changes; keys typed meanwhile wait in the key queue.
  WaitForInput(lock, [&m] { return m.Count > 0 || !m.Open; });
  if (m.Count == 0) return 0;
  if (SDL_GetTicks64() - m.Queue[m.Head].Time > StaleAfter) {
    m.Current = m.Latest;
    m.Count = 0;
    return 1;
  }
  m.Current = m.Queue[m.Head];
  m.Head = (m.Head + 1) % MouseQueueSize;
  --m.Count;
  return 1;
}

int mouse_getx() {
  std::lock_guard<std::mutex> guard(InputLock());
  return Mouse().Current.X;
}

int mouse_gety() {
  std::lock_guard<std::mutex> guard(InputLock());
  return Mouse().Current.Y;
}

int mouse_getbutton() {
  std::lock_guard<std::mutex> guard(InputLock());
  return Mouse().Current.Buttons;
}

void mouse_setposition(int x, int y) {
  WarpRequest request{};
  {
    std::lock_guard<std::mutex> guard(InputLock());
    MouseState& m = Mouse();
    request.X = std::clamp(x, m.MinX, m.MaxX);
    request.Y = std::clamp(y, m.MinY, m.MaxY);
    m.Current.X = request.X;
    m.Current.Y = request.Y;
    // Writing back where the pointer already is moves nothing; warping there
    // would only echo one more movement event.
    if (request.X == m.Latest.X && request.Y == m.Latest.Y) return;
    m.Latest.X = request.X;
    m.Latest.Y = request.Y;
    if (!m.Open) return;
  }
  OnDisplayThread(WarpAction, &request);
}

void mouse_close() {
  std::lock_guard<std::mutex> guard(InputLock());
  MouseState& m = Mouse();
  m.Open = false;
  m.Count = 0;
}
