// The browser host: the program runs in a worker of our page (worker.js),
// without a display thread. Present hands the changed rows of the screen to
// the page, which paints them on its canvas; Pump is where the program
// yields to the browser (Asyncify unwinds to the worker's event loop while
// it waits), and hands the keys and pointer events the page sent to the core.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "platform/core/services.h"

extern "C" {
// The host's imports (library.js).
double kelvar_web_now();
void kelvar_web_present(const std::uint16_t* pixels, int firstRow, int lastRow);
void kelvar_web_wait(int milliseconds);
int kelvar_web_next_input(void* input);
void kelvar_web_show(int graphics);
}

namespace {

// WebInput: one input from the page, as kelvar_web_next_input fills it.
struct WebInput {
  std::int32_t Kind;  // InputKey or InputPointer
  std::int32_t Code;  // a key code as the desktop gives it
  std::int32_t X, Y;  // the pointer on the screen
  std::int32_t Buttons;
  std::int32_t Unused;
  double Time;  // when the page saw it, in kelvar_web_now's milliseconds
};
static_assert(offsetof(WebInput, Time) == 24, "library.js reads the time at byte 24");

constexpr std::int32_t InputKey = 1;
constexpr std::int32_t InputPointer = 2;

// EventTime: while an event is handed to the core, the clock reads the time
// the page saw it, so an event that waited in the page while the program
// computed is as old as it really is when the stale-event rule looks at it.
double EventTime = -1;

// HandOver: the input the page sent, to the core; true when there was some.
bool HandOver() {
  WebInput input;
  bool any = false;
  while (kelvar_web_next_input(&input) != 0) {
    any = true;
    if (input.Kind == InputKey) {
      const auto code = static_cast<std::uint8_t>(input.Code);
      QueueKeys(&code, 1, true);
    } else if (input.Kind == InputPointer) {
      // The page's and the worker's clocks may differ by a fraction of a
      // millisecond; an event is never younger than now.
      EventTime = std::min(input.Time, kelvar_web_now());
      QueuePointerState(input.X, input.Y, input.Buttons);
      EventTime = -1;
    }
  }
  return any;
}

bool Start(std::string&) { return true; }

bool OpenScreen(std::string&) {
  kelvar_web_show(1);
  return true;
}

void CloseScreen() { kelvar_web_show(0); }

void Present(const Frame& frame) {
  kelvar_web_present(frame.Pixels, frame.FirstChanged, frame.LastChanged);
}

void Pump(int timeoutMilliseconds) {
  // A look (timeout 0) never yields: the program computes on.
  if (HandOver() || timeoutMilliseconds == 0) return;
  kelvar_web_wait(timeoutMilliseconds);
  HandOver();
}

void Wake() {}

// The canvas takes the pointer; the page hides the system's over it.
bool OpenPointer() { return true; }

// A page cannot move the person's pointer.
void WarpPointer(int, int) {}

void Stop() {}

std::uint64_t Milliseconds() {
  return static_cast<std::uint64_t>(std::floor(EventTime >= 0 ? EventTime : kelvar_web_now()));
}

}  // namespace

const Host WebHost = {
    .Kind = HostKind::Window,
    .WantsDisplayThread = false,
    .Start = Start,
    .OpenScreen = OpenScreen,
    .CloseScreen = CloseScreen,
    .Present = Present,
    .Pump = Pump,
    .Wake = Wake,
    .OpenPointer = OpenPointer,
    .WarpPointer = WarpPointer,
    .Stop = Stop,
    .Milliseconds = Milliseconds,
    .TimeOfDay = SystemTimeOfDay,
};
