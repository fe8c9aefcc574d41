// The scripted host: a clock, a pointer and keys that a test drives, and the
// screen memory it reads back (vga_getpixel, or the display's ReadPixel).
// Programs built with kelvar_platform_scripted run on it, on their own
// thread only: the script is played whenever the program looks for keys or
// waits for input.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

// ScriptKeys: key codes typed one after another, as a window gives them (an
// arrow is 0 and its scan code) or, with fromTerminal, as a terminal's bytes
// (escape sequences decoded by the surface). A key is handed over only when
// every earlier one has been taken; check runs as the first one is.
void ScriptKeys(const std::vector<int>& codes, bool fromTerminal = false,
                std::function<void()> check = nullptr);
// ScriptPause: the next look for a key finds none, and the clock moves on by seconds.
void ScriptPause(long double seconds);
// ScriptPointer: when the program next waits for input, after seconds, the
// pointer is at (x, y) with buttons (the mouse library's bits); keys are typed
// with it; check runs then, with the screen as it is at that moment.
void ScriptPointer(int x, int y, int buttons, long double seconds, const std::string& keys = "",
                   std::function<void()> check = nullptr);
// ScriptStepsLeft: keys, pauses and pointer events not yet handed over.
int ScriptStepsLeft();
// ScriptKeysUnread: keys typed but not yet taken by the program.
int ScriptKeysUnread();
// ClearScript: the script and every key not yet taken are dropped.
void ClearScript();
// SetScriptEnd: called when the program waits for input and the script is
// empty; it may add steps. Without it, or when it adds none, the program
// ends with status 3 and a line on standard error.
void SetScriptEnd(std::function<void()> handler);

// SetScriptClock: the clock stands at seconds since midnight and from now on
// moves only with the script (pauses, pointer delays, the program's sleeps)
// and AdvanceScriptClock. Until the first call it is the system's clock.
void SetScriptClock(long double timeOfDay);
// ScriptClock: the scripted time of day, 0 to below 86400.
long double ScriptClock();
// AdvanceScriptClock: the time of day moves on, starting again at midnight.
void AdvanceScriptClock(long double seconds);

// SetScriptPointer: whether a person's pointer exists (mouse_init succeeds); true at first.
void SetScriptPointer(bool available);
// SetScriptDisplay: whether a display exists, and the reason when not; set
// before the platform starts.
void SetScriptDisplay(bool available, const std::string& reason = "");
// ScriptedWarps: every place the program moved the pointer to, in order.
std::vector<std::pair<int, int>>& ScriptedWarps();
