// The key queue: bytes from the terminal and key codes from a host's screen,
// merged in the order they arrive.

#include <array>

#include "platform/core/core.h"

namespace {

// KeyQueueSize: key bytes kept unread; a full queue drops further keys.
constexpr unsigned KeyQueueSize = 4096;
// KeyQueue: ring of unread key bytes, KeyHead the oldest, KeyCount 0..KeyQueueSize.
// Guarded by InputLock.
std::array<KeyInput, KeyQueueSize> KeyQueue;
unsigned KeyHead = 0;
unsigned KeyCount = 0;

}  // namespace

std::mutex& InputLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

std::condition_variable& InputArrived() {
  static std::condition_variable* arrived = new std::condition_variable;
  return *arrived;
}

void QueueKeys(const std::uint8_t* codes, int count, bool fromWindow) {
  if (count <= 0) return;
  {
    std::lock_guard<std::mutex> guard(InputLock());
    for (int i = 0; i < count && KeyCount < KeyQueueSize; ++i) {
      KeyQueue[(KeyHead + KeyCount) % KeyQueueSize] = KeyInput{codes[i], fromWindow};
      ++KeyCount;
    }
  }
  InputArrived().notify_all();
}

int QueuedKeyCount() {
  std::lock_guard<std::mutex> guard(InputLock());
  return static_cast<int>(KeyCount);
}

bool PeekKeyInput(KeyInput& input) {
  PlatformStart();
  // Without a display thread, a look is also the host's chance to take input.
  if (!HasDisplayThread()) ActiveHost().Pump(0);
  std::lock_guard<std::mutex> guard(InputLock());
  if (KeyCount == 0) return false;
  input = KeyQueue[KeyHead];
  return true;
}

KeyInput TakeKeyInput() {
  PlatformStart();
  std::unique_lock<std::mutex> lock(InputLock());
  WaitForInput(lock, [] { return KeyCount > 0; });
  KeyInput input = KeyQueue[KeyHead];
  KeyHead = (KeyHead + 1) % KeyQueueSize;
  --KeyCount;
  return input;
}
