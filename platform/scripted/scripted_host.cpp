// The scripted host: plays a test's script of keys, pauses and pointer
// events on the program's own thread, with a clock that stands still between
// the script's steps.

#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <deque>
#include <thread>

#include "platform/core/services.h"
#include "platform/scripted/scripted.h"

namespace {

struct Step {
  enum class Kind { Key, Pause, Pointer } What;
  int Code;             // Key
  bool FromTerminal;    // Key
  long double Seconds;  // Pause, Pointer
  int X, Y, Buttons;    // Pointer
  std::string Keys;     // Pointer: typed with it
  std::function<void()> Check;
};

// IdleLookLimit: looks for keys in a row that find nothing to hand over
// before the program is taken to spin forever on an exhausted script.
constexpr long IdleLookLimit = 1000000;

struct ScriptState {
  std::deque<Step> Steps;
  std::function<void()> End;
  long IdleLooks = 0;
  bool ClockScripted = false;
  long double Clock = 0.0L;     // time of day, 0 .. < 86400
  std::uint64_t Ticks = 0;      // milliseconds, moved with Clock
  long double TickRest = 0.0L;  // milliseconds below one not yet in Ticks
  bool PointerAvailable = true;
  bool DisplayAvailable = true;
  std::string DisplayReason;
  std::vector<std::pair<int, int>> Warps;
};

ScriptState& Script() {
  static ScriptState* state = new ScriptState;
  return *state;
}

[[noreturn]] void RanOut(const char* why) {
  std::fprintf(stderr, "scripted platform: %s\n", why);
  std::fflush(stderr);
  _exit(3);
}

void HandOver(ScriptState& s) {
  Step step = std::move(s.Steps.front());
  s.Steps.pop_front();
  s.IdleLooks = 0;
  switch (step.What) {
    case Step::Kind::Key: {
      const auto code = static_cast<std::uint8_t>(step.Code);
      QueueKeys(&code, 1, !step.FromTerminal);
      break;
    }
    case Step::Kind::Pause:
      AdvanceScriptClock(step.Seconds);
      break;
    case Step::Kind::Pointer:
      AdvanceScriptClock(step.Seconds);
      // The keys typed with the event come next, before any later step.
      for (auto key = step.Keys.rbegin(); key != step.Keys.rend(); ++key)
        s.Steps.push_front(Step{Step::Kind::Key, static_cast<unsigned char>(*key), false, 0, 0, 0,
                                0, "", nullptr});
      QueuePointerState(step.X, step.Y, step.Buttons);
      break;
  }
  if (step.Check) step.Check();
}

bool Start(std::string& reason) {
  reason = Script().DisplayReason;
  return Script().DisplayAvailable;
}

bool OpenScreen(std::string&) { return true; }

void CloseScreen() {}

void Present(const Frame&) {}

void Pump(int timeoutMilliseconds) {
  ScriptState& s = Script();
  if (timeoutMilliseconds < 0) {
    // The program waits: whatever comes next is handed over.
    if (s.Steps.empty() && s.End) s.End();
    if (s.Steps.empty()) RanOut("the program waits for input the script does not have");
    HandOver(s);
    return;
  }
  // A look (or a pause of the program): keys and pauses come one at a time,
  // once the keys before them have been taken.
  if (!s.Steps.empty() && s.Steps.front().What != Step::Kind::Pointer && QueuedKeyCount() == 0) {
    HandOver(s);
    return;
  }
  if (++s.IdleLooks > IdleLookLimit)
    RanOut("the program keeps looking for keys the script does not have");
  if (timeoutMilliseconds == 0) return;
  if (s.ClockScripted)
    AdvanceScriptClock(timeoutMilliseconds / 1000.0L);
  else
    std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMilliseconds));
}

void Wake() {}

bool OpenPointer() { return Script().PointerAvailable; }

void WarpPointer(int x, int y) { Script().Warps.emplace_back(x, y); }

void Stop() {}

std::uint64_t Milliseconds() {
  const ScriptState& s = Script();
  return s.ClockScripted ? s.Ticks : SystemMilliseconds();
}

long double ClockTimeOfDay() {
  const ScriptState& s = Script();
  return s.ClockScripted ? s.Clock : SystemTimeOfDay();
}

}  // namespace

const Host ScriptedHost = {
    .Kind = HostKind::Script,
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
    .TimeOfDay = ClockTimeOfDay,
};

void ScriptKeys(const std::vector<int>& codes, bool fromTerminal, std::function<void()> check) {
  ScriptState& s = Script();
  for (std::size_t i = 0; i < codes.size(); ++i)
    s.Steps.push_back(Step{Step::Kind::Key, codes[i], fromTerminal, 0, 0, 0, 0, "",
                           i == 0 ? std::move(check) : nullptr});
}

void ScriptPause(long double seconds) {
  Script().Steps.push_back(Step{Step::Kind::Pause, 0, false, seconds, 0, 0, 0, "", nullptr});
}

void ScriptPointer(int x, int y, int buttons, long double seconds, const std::string& keys,
                   std::function<void()> check) {
  Script().Steps.push_back(
      Step{Step::Kind::Pointer, 0, false, seconds, x, y, buttons, keys, std::move(check)});
}

int ScriptStepsLeft() { return static_cast<int>(Script().Steps.size()); }

int ScriptKeysUnread() {
  int unread = QueuedKeyCount();
  for (const Step& step : Script().Steps) {
    if (step.What != Step::Kind::Key) break;
    ++unread;
  }
  return unread;
}

void ClearScript() {
  ScriptState& s = Script();
  s.Steps.clear();
  s.IdleLooks = 0;
  while (QueuedKeyCount() > 0) TakeKeyInput();
}

void SetScriptEnd(std::function<void()> handler) { Script().End = std::move(handler); }

void SetScriptClock(long double timeOfDay) {
  ScriptState& s = Script();
  s.ClockScripted = true;
  s.Clock = 0.0L;
  AdvanceScriptClock(timeOfDay);
}

long double ScriptClock() { return Script().Clock; }

void AdvanceScriptClock(long double seconds) {
  ScriptState& s = Script();
  if (!s.ClockScripted) return;
  s.Clock = std::fmod(s.Clock + seconds, 86400.0L);
  if (s.Clock < 0.0L) s.Clock += 86400.0L;
  const long double milliseconds = seconds * 1000.0L + s.TickRest;
  if (milliseconds > 0.0L) {
    const long double whole = std::floor(milliseconds);
    s.Ticks += static_cast<std::uint64_t>(whole);
    s.TickRest = milliseconds - whole;
  }
}

void SetScriptPointer(bool available) { Script().PointerAvailable = available; }

void SetScriptDisplay(bool available, const std::string& reason) {
  Script().DisplayAvailable = available;
  Script().DisplayReason = reason;
}

std::vector<std::pair<int, int>>& ScriptedWarps() { return Script().Warps; }
