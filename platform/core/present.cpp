// Presenting: the host's screen opened, shown and closed where its entries
// run, the program's own presents and progress steps, and the console
// graphics library's mode functions.

#include "platform/core/core.h"

void PresentNow(DisplayState& d) {
  if (!d.ScreenOpen) return;
  bool whole, taken;
  Frame frame;
  {
    std::lock_guard<std::mutex> capture(d.Capture);
    {
      std::lock_guard<std::mutex> guard(d.Lock);
      if (d.RedrawHeld && std::chrono::steady_clock::now() - d.HeldSince <
                              std::chrono::milliseconds(RedrawHoldLimit))
        return;
      whole = d.RepaintWanted;
      d.RepaintWanted = false;
    }
    taken = TakeFrame(frame, whole);
  }
  if (taken) ActiveHost().Present(frame);
  if (!HasDisplayThread()) d.PresentedAt = ActiveHost().Milliseconds();
}

void OpenScreenNow(DisplayState& d, std::string& reason) {
  CloseScreenNow(d);
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

void CloseScreenNow(DisplayState& d) {
  if (d.ScreenOpen) ActiveHost().CloseScreen();
  d.ScreenOpen = false;
}

void StopHost(DisplayState& d) {
  {
    std::lock_guard<std::mutex> guard(d.Lock);
    if (d.Stopped) return;
    d.Stopped = true;
  }
  CloseScreenNow(d);
  ActiveHost().Stop();
}

void PresentScreen() {
  if (CurrentMode == TEXT) return;
  // The program says its picture is ready: a redraw is held no longer.
  if (HasDisplayThread()) {
    std::lock_guard<std::mutex> guard(Display().Lock);
    Display().RedrawHeld = false;
  }
  OnDisplayThread([] { PresentNow(Display()); });
}

void ScreenCleared() {
  if (!HasDisplayThread()) return;
  DisplayState& d = Display();
  // A frame being taken is finished first; none is taken from here on.
  std::lock_guard<std::mutex> capture(d.Capture);
  std::lock_guard<std::mutex> guard(d.Lock);
  d.RedrawHeld = true;
  d.HeldSince = std::chrono::steady_clock::now();
}

void ScreenProgress() {
  DisplayState& d = Display();
  if (HasDisplayThread()) {
    std::lock_guard<std::mutex> guard(d.Lock);
    d.RedrawHeld = false;
    return;
  }
  if (CurrentMode == TEXT) return;
  // The first step after a wait shows at once what the person's input led
  // to; later ones at most once a frame period.
  if (d.ProgressShown && ActiveHost().Milliseconds() - d.PresentedAt < FramePeriod) return;
  d.ProgressShown = true;
  PresentNow(d);
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
  DisplayState& d = Display();
  if (mode == TEXT) {
    if (CurrentMode != TEXT) OnDisplayThread([&d] { CloseScreenNow(d); });
    CurrentMode = TEXT;
    return 0;
  }
  if (!vga_hasmode(mode)) return -1;
  ClearScreenMemory();
  std::string reason = "the screen could not be opened";
  OnDisplayThread([&d, &reason] { OpenScreenNow(d, reason); });
  if (!reason.empty()) {
    std::lock_guard<std::mutex> guard(d.Lock);
    d.Reason = reason;
    return -1;
  }
  CurrentMode = mode;
  return 0;
}
