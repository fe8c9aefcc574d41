// Inside the common core only: what its files share. Hosts use services.h.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/core/services.h"

// ---- Input (keys.cpp, mouse.cpp) ------------------------------------------------

// InputLock: guards every input queue (keys, and the mouse state).
std::mutex& InputLock();
// InputArrived: notified, with InputLock held or just released, whenever input is queued.
std::condition_variable& InputArrived();

// BeginProgramWait, EndProgramWait: bracket a wait of the program's thread for
// input; the finished picture is presented first. Called with InputLock held.
void BeginProgramWait();
void EndProgramWait();

// HasDisplayThread: the host in use runs on a display thread of the core's.
inline bool HasDisplayThread() { return ActiveHost().WantsDisplayThread; }

// WaitForInput: the program's thread waits until ready() holds (lock holds
// InputLock); on the core's condition with a display thread, otherwise in the host's Pump.
template <typename Ready>
void WaitForInput(std::unique_lock<std::mutex>& lock, Ready ready) {
  if (ready()) return;
  BeginProgramWait();
  if (HasDisplayThread()) {
    InputArrived().wait(lock, ready);
  } else {
    while (!ready()) {
      lock.unlock();
      ActiveHost().Pump(-1);
      lock.lock();
    }
  }
  EndProgramWait();
}

// ---- The screen memory (screen.cpp) ----------------------------------------------

// ScreenMemory: the linear screen the program draws into.
extern std::uint16_t ScreenMemory[ScreenWidth * ScreenHeight];
// CurrentMode: TEXT or G640x480x64K (program's thread).
extern int CurrentMode;
// TakeFrame: compares the screen memory with the frame presented last and
// copies the changed rows; false when nothing changed (display thread, or
// the program's thread without one). whole: every row counts as changed.
bool TakeFrame(Frame& frame, bool whole);
// ClearScreenMemory: every pixel black.
void ClearScreenMemory();

// ---- The display side (host_choice.cpp, display_thread.cpp, present.cpp) ----------

// FramePeriod: milliseconds between two looks at the screen memory while the
// program computes.
constexpr int FramePeriod = 16;
// RedrawHoldLimit: milliseconds a screen being drawn anew is held back at
// most (ScreenCleared), in case the program computes long before it waits
// or shows progress.
constexpr int RedrawHoldLimit = 250;

// DisplayState: what the display side keeps. Lock guards everything down to
// RepaintWanted; PresentedAt and ProgressShown serve hosts without a display
// thread (the program's thread only); ScreenOpen is touched only where the
// Host's entries run.
struct DisplayState {
  std::mutex Lock;
  std::condition_variable Wake;  // WaitForWake sleeps here
  std::condition_variable Done;  // requesters wait here for their action
  std::thread Thread;
  std::thread::id ThreadId;
  bool Probed = false;                            // the display thread's host has answered Start
  bool Available = false;                         // a display that shows something to a person
  bool Stopped = false;                           // the host has stopped (or none started)
  bool Woken = false;                             // a wake since WaitForWake last slept
  std::string Reason;                             // why the mode cannot be opened
  const std::function<void()>* Action = nullptr;  // waiting to run on the display thread
  unsigned long ActionsDone = 0;
  bool ProgramWaiting = false;
  unsigned long WaitSerial = 0;       // counts the program's waits
  unsigned long PresentedSerial = 0;  // the wait whose picture is presented
  bool QuitRequested = false;
  bool RepaintWanted = false;
  std::uint64_t PresentedAt = 0;  // the host's Milliseconds at the last present (no display thread)
  bool ProgressShown = false;     // a step of the computation was shown since the program waited
  bool RedrawHeld = false;        // the screen was cleared and is being drawn anew
  std::chrono::steady_clock::time_point HeldSince{};
  // Capture: held while the screen memory is read for a frame, so a clear
  // never begins in the middle of one (taken before Lock).
  std::mutex Capture;

  bool ScreenOpen = false;
};

// Display: the one DisplayState, never freed, so exit handlers and the
// display thread can use it while static objects are being destroyed.
DisplayState& Display();
// OnDisplayThreadNow: the caller is where the Host's entries run.
bool OnDisplayThreadNow();
// WakeLocked: the display thread looks at its state again (Lock held).
void WakeLocked(DisplayState& d);
// StartDisplayThread: host started on a display thread of its own; false
// (and the thread gone) when its Start fails.
bool StartDisplayThread(DisplayState& d);
// EndDisplayThread: at exit, the display thread closes the screen, stops the
// host and ends; from the display thread itself, only the screen closes.
void EndDisplayThread(DisplayState& d);
// PresentNow: the changed rows of the screen memory to the host; nothing
// while a cleared screen is being drawn anew (the program has gone on from a
// wait, say, since the display thread chose to present).
void PresentNow(DisplayState& d);
// OpenScreenNow, CloseScreenNow: the host's screen opened (with a whole
// first frame; reason empty on success) or closed, where its entries run.
void OpenScreenNow(DisplayState& d, std::string& reason);
void CloseScreenNow(DisplayState& d);
// StopHost: the screen closed and the host stopped, once.
void StopHost(DisplayState& d);

// InstallSignalHandlers: every signal that ends the program restores the terminal first.
void InstallSignalHandlers();
