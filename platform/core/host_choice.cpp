// Choosing the host: at start-up each of the program's hosts is tried in
// order (on a display thread of its own when it wants one) until one shows
// the screen; at exit, or when the person closes the screen, it is stopped.

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "platform/core/core.h"

namespace {

// Active: the host being tried or in use; nullptr before the first try.
std::atomic<const Host*> Active{nullptr};

// TryHost: starts host, on a display thread of its own when it wants one.
bool TryHost(DisplayState& d, const Host& host) {
  Active = &host;
  if (host.WantsDisplayThread) return StartDisplayThread(d);
  std::string reason;
  bool available = host.Start(reason);
  std::lock_guard<std::mutex> guard(d.Lock);
  d.Available = available;
  d.Reason = reason;
  return available;
}

// Wanted: KELVAR_DISPLAY, when set, picks the kind of host ("window": the
// picture in pixels, a window or the whole console; "terminal"); any other
// value leaves the choice to the order of the hosts.
bool Wanted(const Host& host) {
  const char* wanted = std::getenv("KELVAR_DISPLAY");
  // Hosts that are not a way of playing (the tests' script) always run.
  if (wanted == nullptr || host.Kind == HostKind::Script) return true;
  const std::string kind = wanted;
  if (kind == "window") return host.Kind == HostKind::Window;
  if (kind == "terminal") return host.Kind == HostKind::Terminal;
  return true;
}

// PlatformExit: at exit, the terminal is restored and the host stopped.
void PlatformExit() {
  RestoreTerminal();
  std::fflush(stdout);
  DisplayState& d = Display();
  if (HasDisplayThread())
    EndDisplayThread(d);
  else if (d.Available)
    StopHost(d);
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

[[noreturn]] void OrderlyQuit() {
  DisplayState& d = Display();
  if (OnDisplayThreadNow())
    StopHost(d);
  else
    OnDisplayThread([&d] { StopHost(d); });
  RestoreTerminal();
  std::fflush(stdout);
  std::fflush(stderr);
  // Exit handlers would wait for the display thread, which may be this one.
  _exit(0);
}
