// Inside the common core only: what its files share. Hosts use host.h.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "platform/host.h"

// InputLock: guards every input queue (keys, and the mouse state).
std::mutex& InputLock();
// InputArrived: notified, with InputLock held or just released, whenever input is queued.
std::condition_variable& InputArrived();

// BeginProgramWait, EndProgramWait: bracket a wait of the program's thread for
// input; the finished picture is presented first. Called with InputLock held.
void BeginProgramWait();
void EndProgramWait();

// WaitForInput: the program's thread waits until ready() holds (lock holds
// InputLock); on the core's condition with a display thread, otherwise in the host's Pump.
template <typename Ready>
void WaitForInput(std::unique_lock<std::mutex>& lock, Ready ready) {
  if (ready()) return;
  BeginProgramWait();
  const Host& host = ActiveHost();
  if (host.WantsDisplayThread) {
    InputArrived().wait(lock, ready);
  } else {
    while (!ready()) {
      lock.unlock();
      host.Pump(-1);
      lock.lock();
    }
  }
  EndProgramWait();
}

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

// InstallSignalHandlers: every signal that ends the program restores the terminal first.
void InstallSignalHandlers();
