// The display thread, for hosts that want one, and the program's waits.
//
// With a display thread the program draws into the screen memory only; the
// thread compares it with the last frame presented every FramePeriod
// milliseconds while the program runs (but not while a cleared screen is
// being drawn anew), and at once when the program starts
// to wait for input; it presents only when something changed, and sleeps in
// the host's Pump while the program waits. It services the host all the time, so a
// window stays responsive while the search computes. Without a display
// thread, the program's own waits present and pump the host.

#include <chrono>

#include "platform/core/core.h"

namespace {

void RunPendingAction(DisplayState& d) {
  const std::function<void()>* action;
  {
    std::lock_guard<std::mutex> guard(d.Lock);
    action = d.Action;
  }
  if (action == nullptr) return;
  (*action)();
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
    bool presentForWait, waitingDone, held;
    unsigned long serial;
    Clock::time_point now = Clock::now();
    {
      std::lock_guard<std::mutex> guard(d.Lock);
      if (d.QuitRequested) return;
      serial = d.WaitSerial;
      presentForWait = d.ProgramWaiting && d.PresentedSerial != serial;
      waitingDone = d.ProgramWaiting && d.PresentedSerial == serial;
      if (d.ProgramWaiting) d.RedrawHeld = false;
      held = d.RedrawHeld && now - d.HeldSince < std::chrono::milliseconds(RedrawHoldLimit);
    }
    if (held && !presentForWait && now >= nextLook)
      nextLook = now + std::chrono::milliseconds(FramePeriod);
    if (d.ScreenOpen && (presentForWait || (!waitingDone && !held && now >= nextLook))) {
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

}  // namespace

DisplayState& Display() {
  static DisplayState* state = new DisplayState;
  return *state;
}

bool OnDisplayThreadNow() {
  return !HasDisplayThread() || std::this_thread::get_id() == Display().ThreadId;
}

void WakeLocked(DisplayState& d) {
  if (!HasDisplayThread()) return;
  d.Woken = true;
  d.Wake.notify_all();
  if (!d.Stopped && d.Available) ActiveHost().Wake();
}

bool StartDisplayThread(DisplayState& d) {
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

void EndDisplayThread(DisplayState& d) {
  if (!d.Thread.joinable()) return;
  if (OnDisplayThreadNow()) {
    CloseScreenNow(d);
    return;
  }
  {
    std::lock_guard<std::mutex> guard(d.Lock);
    d.QuitRequested = true;
    WakeLocked(d);
  }
  d.Thread.join();
}

bool OnDisplayThread(const std::function<void()>& action) {
  PlatformStart();
  DisplayState& d = Display();
  if (OnDisplayThreadNow()) {
    {
      std::lock_guard<std::mutex> guard(d.Lock);
      if (d.Stopped) return false;
    }
    action();
    return true;
  }
  std::unique_lock<std::mutex> lock(d.Lock);
  if (d.Stopped || d.QuitRequested) return false;
  d.Done.wait(lock, [&d] { return d.Action == nullptr; });
  // The action stays the caller's: this waits until the display thread has run it.
  d.Action = &action;
  unsigned long target = d.ActionsDone + 1;
  WakeLocked(d);
  d.Done.wait(lock, [&d, target] { return d.ActionsDone >= target; });
  return true;
}

void RequestRepaint() {
  DisplayState& d = Display();
  std::lock_guard<std::mutex> guard(d.Lock);
  d.RepaintWanted = true;
  WakeLocked(d);
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

void BeginProgramWait() {
  DisplayState& d = Display();
  if (!HasDisplayThread()) {
    PresentScreen();
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
