// Inside the platform layer only: the display thread, its window and the
// shared input lock. Nothing outside platform/ includes this file.
//
// One thread, the display thread, makes every SDL video call: it creates the
// window, pumps its events and presents the screen memory. The program's own
// thread only writes the screen memory and waits for input through
// WaitForInput, which tells the display thread that the picture is complete.
#pragma once

#include <SDL.h>

#include <condition_variable>
#include <mutex>

// ScreenWidth, ScreenHeight: the one graphics mode's size in pixels.
constexpr int ScreenWidth = 640;
constexpr int ScreenHeight = 480;

// InputLock: guards every input queue (keys, and the mouse state).
std::mutex& InputLock();
// InputArrived: notified, with InputLock held or just released, whenever input is queued.
std::condition_variable& InputArrived();

// BeginProgramWait, EndProgramWait: bracket a wait of the program's thread for
// input; the display thread presents the finished picture and then sleeps
// until something happens. Called with or without InputLock held.
void BeginProgramWait();
void EndProgramWait();

// WaitForInput: blocks the program's thread on InputArrived until ready()
// holds, presenting first; lock must hold InputLock.
template <typename Ready>
void WaitForInput(std::unique_lock<std::mutex>& lock, Ready ready) {
  if (ready()) return;
  BeginProgramWait();
  InputArrived().wait(lock, ready);
  EndProgramWait();
}

// OnDisplayThread: runs action(argument) on the display thread and returns
// when it is done (directly when already there). False when there is no
// display thread (no display).
bool OnDisplayThread(void (*action)(void*), void* argument);

// DisplayEventHook: when set, sees every SDL event on the display thread
// before the platform handles it (the mouse reads motion and buttons here).
// Set it before the mode opens.
extern void (*DisplayEventHook)(const SDL_Event& event);

// DisplayWindow: the open window, nullptr in text mode (display thread only).
SDL_Window* DisplayWindow();

// WindowToScreen: a point in window coordinates (as in SDL's mouse events)
// to a screen pixel; false when it lies outside the picture, where the
// result is the nearest pixel of the picture. Any thread.
bool WindowToScreen(int windowX, int windowY, int& screenX, int& screenY);
// ScreenToWindow: the window point at the centre of a screen pixel. Any thread.
void ScreenToWindow(int screenX, int screenY, int& windowX, int& windowY);

// QueueWindowKey: a key press in the window, translated to key codes and
// queued (display thread; true when the event was a key for the program).
bool QueueWindowKey(const SDL_Event& event);

// StartTerminal: raw input, the signal handlers that restore it, and the
// thread that reads the terminal's bytes (once, from PlatformStart).
void StartTerminal();

// OrderlyQuit: the window was closed: graphics closed, terminal restored,
// exit status 0, from whatever state the program's thread is in.
[[noreturn]] void OrderlyQuit();
