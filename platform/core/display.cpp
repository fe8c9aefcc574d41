// The core's display side: start-up, the display thread (for hosts that want
// one), when to present, the program's waits, and the console graphics
// library's mode functions.
//
// With a display thread the program draws into the screen memory only; the
// thread compares it with the last frame presented every FramePeriod
// milliseconds while the program runs, and at once when the program starts
// to wait for input; it presents only when something changed, and sleeps in
// the host's Pump while the program waits. It services the host all the time, so a
// window stays responsive while the search computes. Without a display
// thread, the program's own waits present and pump the host.

#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>

#include "platform/core/core.h"

namespace {

// FramePeriod: milliseconds between two looks at the screen memory while the
// program computes.
constexpr int FramePeriod = 16;

struct DisplayState {
  std::mutex Lock;               // guards everything down to RepaintWanted
  std::condition_variable Wake;  // WaitForWake sleeps here
  std::condition_variable Done;  // requesters wait here for their action
  std::thread Thread;
  std::thread::id ThreadId;
  bool Probed = false;     // the display thread's host has answered Start
  bool Available = false;  // a display that shows something to a person
  bool Stopped = false;    // the host has stopped (or none started)
  bool Woken = false;      // a wake since WaitForWake last slept
  std::string Reason;      // why the mode cannot be opened
  void (*Action)(void*) = nullptr;
  void* Argument = nullptr;
  unsigned long ActionsDone = 0;
  bool ProgramWaiting = false;
  unsigned long WaitSerial = 0;       // counts the program's waits
  unsigned long PresentedSerial = 0;  // the wait whose picture is presented
  bool QuitRequested = false;
  bool RepaintWanted = false;
  std::uint64_t PresentedAt = 0;  // the host's Milliseconds at the last present (no display thread)
  bool ProgressShown = false;     // a step of the computation was shown since the program waited

  // Where Host* functions run only.
  bool ScreenOpen = false;
};

// Active: the host being tried or in use; nullptr before the first try.
std::atomic<const Host*> Active{nullptr};

// The state lives on the heap and is never freed, so exit handlers and the
// display thread can use it while static objects are being destroyed.
DisplayState& Display() {
  static DisplayState* state = new DisplayState;
  return *state;
}

bool OnDisplayThreadNow() {
  return !ActiveHost().WantsDisplayThread || std::this_thread::get_id() == Display().ThreadId;
}

// WakeLocked: the display thread looks at its state again (Lock held).
void WakeLocked(DisplayState& d) {
  if (!ActiveHost().WantsDisplayThread) return;
  d.Woken = true;
  d.Wake.notify_all();
  if (!d.Stopped && d.Available) ActiveHost().Wake();
}

// PresentNow: the changed rows of the screen memory to the host.
void PresentNow(DisplayState& d) {
  if (!d.ScreenOpen) return;
  bool whole;
  {
    std::lock_guard<std::mutex> guard(d.Lock);
    whole = d.RepaintWanted;
    d.RepaintWanted = false;
  }
  Frame frame;
  if (TakeFrame(frame, whole)) ActiveHost().Present(frame);
  if (!ActiveHost().WantsDisplayThread) d.PresentedAt = ActiveHost().Milliseconds();
}

// StopHost: the screen closed and the host stopped, once.
void StopHost(DisplayState& d) {
  {
    std::lock_guard<std::mutex> guard(d.Lock);
    if (d.Stopped) return;
    d.Stopped = true;
  }
  if (d.ScreenOpen) ActiveHost().CloseScreen();
  d.ScreenOpen = false;
  ActiveHost().Stop();
}

void OpenScreenAction(void* argument) {
  DisplayState& d = Display();
  std::string& reason = *static_cast<std::string*>(argument);
  if (d.ScreenOpen) ActiveHost().CloseScreen();
  d.ScreenOpen = false;
  if (!ActiveHost().OpenScreen(reason)) {
    if (reason.empty()) reason = "the screen could not be opened";
    return;
  }
  reason.clear();
  d.ScreenOpen = true;
  Frame frame;
  TakeFrame(frame, true);
  ActiveHost().Present(frame);
}

void CloseScreenAction(void*) {
  DisplayState& d = Display();
  if (d.ScreenOpen) ActiveHost().CloseScreen();
  d.ScreenOpen = false;
}

void PresentAction(void*) { PresentNow(Display()); }

void StopHostAction(void*) { StopHost(Display()); }

void RunPendingAction(DisplayState& d) {
  void (*action)(void*);
  void* argument;
  {
    std::lock_guard<std::mutex> guard(d.Lock);
    action = d.Action;
    argument = d.Argument;
  }
  if (action == nullptr) return;
  action(argument);
  std::lock_guard<std::mutex> guard(d.Lock);
  d.Action = nullptr;
  ++d.ActionsDone;
  d.Done.notify_all();
}

void DisplayLoop(DisplayState& d) {
  using Clock = std::chrono::steady_clock;
  Clock::time_point nextLook{};
  for (;;) {
    RunPendingAction(d);
    bool presentForWait, waitingDone;
    unsigned long serial;
    {
      std::lock_guard<std::mutex> guard(d.Lock);
      if (d.QuitRequested) return;
      serial = d.WaitSerial;
      presentForWait = d.ProgramWaiting && d.PresentedSerial != serial;
      waitingDone = d.ProgramWaiting && d.PresentedSerial == serial;
    }
    Clock::time_point now = Clock::now();
    if (d.ScreenOpen && (presentForWait || (!waitingDone && now >= nextLook))) {
      PresentNow(d);
      nextLook = now + std::chrono::milliseconds(FramePeriod);
      if (presentForWait) {
        std::lock_guard<std::mutex> guard(d.Lock);
        d.PresentedSerial = serial;
        waitingDone = d.ProgramWaiting && d.PresentedSerial == d.WaitSerial;
      }
    }
    // Sleep: for good while the program waits with its picture shown (or
    // when there is no screen), otherwise until the next look.
    int timeout = -1;
    if (d.ScreenOpen && !waitingDone)
      timeout = nextLook > now
                    ? static_cast<int>(
                          std::chrono::ceil<std::chrono::milliseconds>(nextLook - now).count())
                    : 0;
    ActiveHost().Pump(timeout);
  }
}

void DisplayMain() {
  DisplayState& d = Display();
  {
    std::lock_guard<std::mutex> guard(d.Lock);
    d.ThreadId = std::this_thread::get_id();
  }
  std::string reason;
  bool available = ActiveHost().Start(reason);
  {
    std::lock_guard<std::mutex> guard(d.Lock);
    d.Probed = true;
    d.Available = available;
    d.Reason = reason;
    if (!available) d.ThreadId = std::thread::id();
    d.Done.notify_all();
  }
  if (!available) return;
  DisplayLoop(d);
  StopHost(d);
}

// TryHost: starts host, on a display thread of its own when it wants one.
bool TryHost(DisplayState& d, const Host& host) {
  Active = &host;
  if (!host.WantsDisplayThread) {
    std::string reason;
    bool available = host.Start(reason);
    std::lock_guard<std::mutex> guard(d.Lock);
    d.Available = available;
    d.Reason = reason;
    return available;
  }
  {
    std::lock_guard<std::mutex> guard(d.Lock);
    d.Probed = false;
  }
  d.Thread = std::thread(DisplayMain);
  std::unique_lock<std::mutex> lock(d.Lock);
  d.Done.wait(lock, [&d] { return d.Probed; });
  bool available = d.Available;
  lock.unlock();
  if (!available) d.Thread.join();
  return available;
}

// Wanted: KELVAR_DISPLAY, when set, picks the kind of host ("window": the
// picture in pixels, a window or the whole console; "terminal"); any other
// value leaves the choice to the order of the hosts.
bool Wanted(const Host& host) {
  const char* wanted = std::getenv("KELVAR_DISPLAY");
  if (wanted == nullptr) return true;
  const std::string kind = wanted, name = host.Name;
  const bool pixels = name == "sdl" || name == "web" || name == "console";
  // Hosts that are not a way of playing (the tests' script) always run.
  if (!pixels && name != "terminal") return true;
  if (kind == "window") return pixels;
  if (kind == "terminal") return name == "terminal";
  return true;
}

// PlatformExit: at exit, the terminal is restored and the host stopped.
void PlatformExit() {
  RestoreTerminal();
  std::fflush(stdout);
  DisplayState& d = Display();
  if (!ActiveHost().WantsDisplayThread) {
    if (d.Available) StopHost(d);
    return;
  }
  if (!d.Thread.joinable()) return;
  if (OnDisplayThreadNow()) {
    CloseScreenAction(nullptr);
    return;
  }
  {
    std::lock_guard<std::mutex> guard(d.Lock);
    d.QuitRequested = true;
    WakeLocked(d);
  }
  d.Thread.join();
}

}  // namespace

void PlatformStart() {
  static std::once_flag once;
  std::call_once(once, [] {
    InstallSignalHandlers();
    DisplayState& d = Display();
    bool available = false;
    std::string reasons;
    for (int i = 0; i < HostChoiceCount && !available; ++i) {
      if (!Wanted(*HostChoices[i])) continue;
      available = TryHost(d, *HostChoices[i]);
      // Each host tried says why it could not show the screen.
      std::lock_guard<std::mutex> guard(d.Lock);
      if (!available) reasons += (reasons.empty() ? "" : "; ") + d.Reason;
    }
    {
      std::lock_guard<std::mutex> guard(d.Lock);
      d.Stopped = !available;
      if (!available)
        d.Reason = reasons.empty()
                       ? "KELVAR_DISPLAY=" + std::string(std::getenv("KELVAR_DISPLAY")) +
                             " names no display this program has"
                       : reasons;
    }
    std::atexit(PlatformExit);
  });
}

const Host& ActiveHost() {
  const Host* host = Active.load(std::memory_order_acquire);
  return host != nullptr ? *host : *HostChoices[HostChoiceCount - 1];
}

const char* DisplayUnavailableReason() {
  PlatformStart();
  DisplayState& d = Display();
  std::lock_guard<std::mutex> guard(d.Lock);
  return d.Reason.c_str();
}

bool OnDisplayThread(void (*action)(void*), void* argument) {
  PlatformStart();
  DisplayState& d = Display();
  if (OnDisplayThreadNow()) {
    {
      std::lock_guard<std::mutex> guard(d.Lock);
      if (d.Stopped) return false;
    }
    action(argument);
    return true;
  }
  std::unique_lock<std::mutex> lock(d.Lock);
  if (d.Stopped || d.QuitRequested) return false;
  d.Done.wait(lock, [&d] { return d.Action == nullptr; });
  d.Action = action;
  d.Argument = argument;
  unsigned long target = d.ActionsDone + 1;
  WakeLocked(d);
  d.Done.wait(lock, [&d, target] { return d.ActionsDone >= target; });
  return true;
}

void WaitForWake(int timeoutMilliseconds) {
  DisplayState& d = Display();
  std::unique_lock<std::mutex> lock(d.Lock);
  auto woken = [&d] { return d.Woken; };
  if (timeoutMilliseconds < 0)
    d.Wake.wait(lock, woken);
  else
    d.Wake.wait_for(lock, std::chrono::milliseconds(timeoutMilliseconds), woken);
  d.Woken = false;
}

void RequestRepaint() {
  DisplayState& d = Display();
  std::lock_guard<std::mutex> guard(d.Lock);
  d.RepaintWanted = true;
  WakeLocked(d);
}

void BeginProgramWait() {
  DisplayState& d = Display();
  if (!ActiveHost().WantsDisplayThread) {
    if (CurrentMode != TEXT) OnDisplayThread(PresentAction, nullptr);
    d.ProgressShown = false;
    return;
  }
  std::lock_guard<std::mutex> guard(d.Lock);
  if (d.Stopped) return;
  d.ProgramWaiting = true;
  ++d.WaitSerial;
  WakeLocked(d);
}

void EndProgramWait() {
  DisplayState& d = Display();
  std::lock_guard<std::mutex> guard(d.Lock);
  if (!d.ProgramWaiting) return;
  d.ProgramWaiting = false;
  WakeLocked(d);
}

void PresentScreen() {
  if (CurrentMode != TEXT) OnDisplayThread(PresentAction, nullptr);
}

void ScreenProgress() {
  const Host& host = ActiveHost();
  if (host.WantsDisplayThread || CurrentMode == TEXT) return;
  DisplayState& d = Display();
  // The first step after a wait shows at once what the person's input led
  // to; later ones at most once a frame period.
  if (d.ProgressShown && host.Milliseconds() - d.PresentedAt < FramePeriod) return;
  d.ProgressShown = true;
  PresentNow(d);
}

void SleepMilliseconds(int milliseconds) {
  if (ActiveHost().WantsDisplayThread) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    return;
  }
  // The host's environment runs while the program pauses.
  const Host& host = ActiveHost();
  std::uint64_t until = host.Milliseconds() + static_cast<std::uint64_t>(std::max(milliseconds, 0));
  for (std::uint64_t now = host.Milliseconds(); now < until; now = host.Milliseconds())
    host.Pump(static_cast<int>(until - now));
}

[[noreturn]] void OrderlyQuit() {
  DisplayState& d = Display();
  if (OnDisplayThreadNow())
    StopHost(d);
  else
    OnDisplayThread(StopHostAction, nullptr);
  RestoreTerminal();
  std::fflush(stdout);
  std::fflush(stderr);
  // Exit handlers would wait for the display thread, which may be this one.
  _exit(0);
}

long double TimeOfDay() { return ActiveHost().TimeOfDay(); }

std::uint64_t SystemMilliseconds() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

long double SystemTimeOfDay() {
  timeval now{};
  gettimeofday(&now, nullptr);
  std::tm local{};
  const std::time_t seconds = now.tv_sec;
  localtime_r(&seconds, &local);
  return static_cast<long double>(local.tm_hour) * 3600.0L +
         static_cast<long double>(local.tm_min) * 60.0L + static_cast<long double>(local.tm_sec) +
         static_cast<long double>(now.tv_usec / 1000) / 1000.0L +
         static_cast<long double>(now.tv_usec % 1000) / 1000000.0L;
}

// ---- The console graphics library's mode functions -----------------------------------

int vga_init() {
  PlatformStart();
  return 0;
}

int vga_hasmode(int mode) {
  PlatformStart();
  if (mode == TEXT) return 1;
  return mode == G640x480x64K && Display().Available ? 1 : 0;
}

vga_modeinfo* vga_getmodeinfo(int mode) {
  static vga_modeinfo text{80, 25, 0, 160, 16};
  static vga_modeinfo graphics{ScreenWidth, ScreenHeight, 2, ScreenWidth * 2, 65536};
  if (mode == TEXT) return &text;
  if (vga_hasmode(mode) && mode == G640x480x64K) return &graphics;
  return nullptr;
}

int vga_setmode(int mode) {
  PlatformStart();
  if (mode == TEXT) {
    if (CurrentMode != TEXT) OnDisplayThread(CloseScreenAction, nullptr);
    CurrentMode = TEXT;
    return 0;
  }
  if (!vga_hasmode(mode)) return -1;
  ClearScreenMemory();
  std::string reason = "the screen could not be opened";
  OnDisplayThread(OpenScreenAction, &reason);
  if (!reason.empty()) {
    DisplayState& d = Display();
    std::lock_guard<std::mutex> guard(d.Lock);
    d.Reason = reason;
    return -1;
  }
  CurrentMode = mode;
  return 0;
}
