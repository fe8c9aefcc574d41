// What the common core offers its hosts (and the platform's own tests): the
// queues a host hands input to, the display thread's services, picture
// placement and the controlling terminal. What a host provides is host.h.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/host.h"

// ---- Clocks, keys and the pointer ----------------------------------------------

// SystemMilliseconds, SystemTimeOfDay: the system's clocks, for a Host's clock entries.
std::uint64_t SystemMilliseconds();
long double SystemTimeOfDay();
// QueueKeys: key bytes in the order they came; fromWindow: already key codes
// (0 and a scan code for extended keys), never the start of an escape sequence.
void QueueKeys(const std::uint8_t* codes, int count, bool fromWindow);
// QueuedKeyCount: key bytes not yet taken by the program.
int QueuedKeyCount();
// Mouse button bits, as mouse_getbutton answers them.
constexpr int MouseRight = 1;
constexpr int MouseMiddle = 2;
constexpr int MouseLeft = 4;
// QueuePointerMove, QueuePointerButton, QueuePointerState: the person's
// pointer at a screen pixel (clamped to the ranges; ignored while the mouse
// is not open), after a movement, one button's change, or with all buttons
// as they are now (Mouse* bits).
void QueuePointerMove(int x, int y);
void QueuePointerButton(int x, int y, int button, bool pressed);
void QueuePointerState(int x, int y, int buttons);
// MouseSetup: what the program asked of the mouse library (the suites check
// that the game asks for its device, ranges and scale).
struct MouseSetup {
  std::string Device;  // mouse_init's device, type and sample rate
  int Type;
  int SampleRate;
  int Scale;  // mouse_setscale
  int MinX, MaxX, MinY, MaxY;
  bool Open;
};
// CurrentMouseSetup: the mouse library's settings as the program left them.
MouseSetup CurrentMouseSetup();

// ---- The host in use and its thread ---------------------------------------------

// ActiveHost: the host in use (after PlatformStart; the last choice when none started).
const Host& ActiveHost();
// OnDisplayThread: runs action where the Host's entries run and returns when
// it is done; false once the host has stopped or never started.
bool OnDisplayThread(const std::function<void()>& action);
// RequestRepaint: the next present shows the whole frame (after the screen
// was given back, say).
void RequestRepaint();
// WaitForWake: for a display-thread host with nothing of its own to block on,
// sleeps until the core wakes the display thread or timeoutMilliseconds pass.
void WaitForWake(int timeoutMilliseconds);
// OrderlyQuit: the person closed the screen: host stopped, terminal restored,
// exit status 0, from whatever state the program's thread is in.
[[noreturn]] void OrderlyQuit();

// ---- Picture placement ------------------------------------------------------------

// PictureRect: the screen drawn at the largest whole scale that fits an
// area, centred (below 1x, the largest size of the right shape).
struct PictureRect {
  int X, Y, W, H;
};
// FitPicture: where the screen goes in an area of width x height.
PictureRect FitPicture(int width, int height);
// AreaToScreen: a point of the area to a screen pixel; false when it lies
// outside the picture, where the result is the nearest pixel of the picture.
bool AreaToScreen(const PictureRect& picture, int x, int y, int& screenX, int& screenY);
// ScreenToArea: the point of the area at the centre of a screen pixel.
void ScreenToArea(const PictureRect& picture, int screenX, int screenY, int& x, int& y);

// ---- The controlling terminal (core/tty.cpp) ----------------------------------------

// StartTtyInput: raw input and a reader thread queueing the terminal's bytes
// as keys, for hosts that take key presses from it.
void StartTtyInput();
// MakeTtyRaw: raw input only, for hosts that read the terminal themselves;
// false when standard input is no terminal or refuses the settings.
bool MakeTtyRaw();
// SetTtyLeaveBytes: bytes written to standard output, before the settings
// are restored, whenever the terminal is put back (exit, run-time error, a
// fatal signal): the alternate screen left, mouse reporting turned off.
// Written once, then forgotten (a host entering again sets them again). At
// most TtyLeaveLimit bytes; false (and nothing kept) when longer.
constexpr int TtyLeaveLimit = 256;
bool SetTtyLeaveBytes(const char* bytes, int count);
// SetTtyLeaveAction: a function run whenever the terminal is put back,
// after the leave bytes and before the settings (exit, run-time error, a
// fatal signal, a sanitizer's report): a host gives back what it changed
// outside the terminal's settings (a virtual console's display and keyboard
// modes). Async-signal-safe only, so a plain function; nullptr for none.
// Kept until replaced.
void SetTtyLeaveAction(void (*action)());
// FatalSignals: the signals whose default action ends the program; each
// restores the terminal (write and tcsetattr only) and then ends the program
// as the signal would (status 128 + N in a shell). Ignored ones, and those a
// sanitizer handles, are left alone.
std::vector<int> FatalSignals();
