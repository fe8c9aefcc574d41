// The console mouse library's functions over the host's pointer events.
//
// The host queues every pointer event in screen coordinates; mouse_waitforupdate
// hands the program one queued event at a time, so a quick press and release
// are two updates and no click is lost. Events that waited while the program
// was busy elsewhere (a message box, the computer's turn) are stale: they
// collapse into the pointer's state of now, so old clicks are not replayed.
// A host without a pointer a person can move makes mouse_init fail, and the
// program falls back to its keyboard emulation.

#include <algorithm>
#include <array>

#include "platform/core/core.h"

namespace {

struct MouseUpdate {
  int X;
  int Y;
  int Buttons;
  std::uint64_t Time;  // the host's Milliseconds when the event came
};

// StaleAfter: milliseconds after which an unread update no longer counts.
constexpr std::uint64_t StaleAfter = 250;

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
  // What the program asked for, for hosts that care.
  std::string Device;
  int Type = 0, SampleRate = 0, Scale = 0;
};

MouseState& Mouse() {
  // Never freed: a display thread may still deliver events during exit.
  static MouseState* state = new MouseState;
  return *state;
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

// QueuePointer: the pointer at (x, y) with buttons (Mouse* bits) as they are now.
void QueuePointer(int x, int y, int buttons) {
  {
    std::lock_guard<std::mutex> guard(InputLock());
    MouseState& m = Mouse();
    if (!m.Open) return;
    const bool buttonsChanged = buttons != m.Latest.Buttons;
    m.Latest.X = std::clamp(x, m.MinX, m.MaxX);
    m.Latest.Y = std::clamp(y, m.MinY, m.MaxY);
    m.Latest.Time = ActiveHost().Milliseconds();
    m.Latest.Buttons = buttons;
    QueueLatest(m, buttonsChanged);
  }
  InputArrived().notify_all();
}

// LatestButtons: the buttons as the last event left them.
int LatestButtons() {
  std::lock_guard<std::mutex> guard(InputLock());
  return Mouse().Latest.Buttons;
}

}  // namespace

void QueuePointerMove(int x, int y) { QueuePointer(x, y, LatestButtons()); }

void QueuePointerButton(int x, int y, int button, bool pressed) {
  const int buttons = LatestButtons();
  QueuePointer(x, y, pressed ? buttons | button : buttons & ~button);
}

void QueuePointerState(int x, int y, int buttons) {
  QueuePointer(x, y, buttons & (MouseLeft | MouseMiddle | MouseRight));
}

MouseSetup CurrentMouseSetup() {
  std::lock_guard<std::mutex> guard(InputLock());
  const MouseState& m = Mouse();
  return MouseSetup{m.Device, m.Type, m.SampleRate, m.Scale, m.MinX,
                    m.MaxX,   m.MinY, m.MaxY,       m.Open};
}

int mouse_init(const char* device, int type, int samplerate) {
  // The device, type and rate name the console's mouse; here the pointer is
  // the host's, which decides whether a person can move one.
  {
    std::lock_guard<std::mutex> guard(InputLock());
    MouseState& m = Mouse();
    m.Open = true;
    m.Head = 0;
    m.Count = 0;
    m.Device = device != nullptr ? device : "";
    m.Type = type;
    m.SampleRate = samplerate;
  }
  bool hasPointer = false;
  if (OnDisplayThread([&hasPointer] { hasPointer = ActiveHost().OpenPointer(); }) && hasPointer)
    return 0;
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

void mouse_setscale(int scale) {
  // A host's pointer moves with its own speed and acceleration; kept for hosts that care.
  std::lock_guard<std::mutex> guard(InputLock());
  Mouse().Scale = scale;
}

int mouse_waitforupdate() {
  std::unique_lock<std::mutex> lock(InputLock());
  MouseState& m = Mouse();
  if (!m.Open) return 0;
  // Presents the finished picture, then sleeps until the pointer moves or a
  // button changes; keys typed meanwhile wait in the key queue.
  WaitForInput(lock, [&m] { return m.Count > 0 || !m.Open; });
  if (m.Count == 0) return 0;
  if (ActiveHost().Milliseconds() - m.Queue[m.Head].Time > StaleAfter) {
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
  {
    std::lock_guard<std::mutex> guard(InputLock());
    MouseState& m = Mouse();
    x = std::clamp(x, m.MinX, m.MaxX);
    y = std::clamp(y, m.MinY, m.MaxY);
    m.Current.X = x;
    m.Current.Y = y;
    m.Latest.X = x;
    m.Latest.Y = y;
    if (!m.Open) return;
  }
  OnDisplayThread([x, y] { ActiveHost().WarpPointer(x, y); });
}

void mouse_close() {
  std::lock_guard<std::mutex> guard(InputLock());
  MouseState& m = Mouse();
  m.Open = false;
  m.Count = 0;
}
