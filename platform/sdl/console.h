// The desktop host on the Linux console (SDL's KMSDRM driver): the console
// given back as it was found, the pointing devices read from the kernel's
// input devices, and waits that sleep until a device or a wake-up has
// something. Display thread only, except where noted.
#pragma once

#include <string>

#include "platform/host.h"

// RecordConsole: before SDL opens its video, the modes of the controlling
// terminal when it is a virtual console (display and keyboard mode).
void RecordConsole();
// TakeConsole: SDL runs on the console: from now on every way out (exit, a
// run-time error, every fatal signal, a sanitizer's report) puts the
// recorded modes back, and the input devices are opened. Stderr is quiet
// while the graphics libraries open (ConsoleQuiet).
void TakeConsole();
bool OnConsole();
// ConsoleQuiet: standard error goes nowhere for the object's life when on
// the console (or always, with always): the graphics libraries' loader
// lines would be written over the console.
class ConsoleQuiet {
 public:
  explicit ConsoleQuiet(bool always = false);
  ~ConsoleQuiet();
  ConsoleQuiet(const ConsoleQuiet&) = delete;
  ConsoleQuiet& operator=(const ConsoleQuiet&) = delete;

 private:
  int Saved = -1;
};
// ConsoleGraphics: the console shows the game (graphics mode, the kernel's
// text drawing stopped) or its text again.
void ConsoleGraphics(bool on);
// HasPointingDevice: an input device found at start that reports relative
// motion, or an absolute position with a button (a tablet, a touchscreen).
bool HasPointingDevice();
// ConsolePointerAt: the pointer put at a screen pixel (the program warped it).
void ConsolePointerAt(int x, int y);
// WaitForConsoleInput: sleeps until an input device has events, WakeConsole
// is called or the timeout passes (-1: no limit); the pointing devices'
// events go to the core as screen pixels.
void WaitForConsoleInput(int timeoutMilliseconds);
// WakeConsole: any thread.
void WakeConsole();
// AxisToScreen: an absolute axis value (within minimum..maximum) to one of
// size pixels, the whole range across the screen.
int AxisToScreen(int value, int minimum, int maximum, int size);
// PadToScreen: a finger's movement on a pad (axis minimum..maximum) in screen
// pixels, the pad's width across size pixels; carry keeps the part of a
// pixel not yet moved, so slow movements add up.
int PadToScreen(long long movement, int minimum, int maximum, int size, long long& carry);
