// The keyboard side of the platform: the terminal in raw input, a thread
// that reads its bytes, and the window's key presses, merged into one queue
// in the order they arrive.

#include <SDL.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/platform.h"
#include "platform/sdl_internal.h"

namespace {

// KeyQueueSize: key bytes kept unread; a full queue drops further keys.
constexpr unsigned KeyQueueSize = 4096;
// KeyQueue: ring of unread key bytes, KeyHead the oldest, KeyCount 0..KeyQueueSize.
// Guarded by InputLock.
std::array<KeyInput, KeyQueueSize> KeyQueue;
unsigned KeyHead = 0;
unsigned KeyCount = 0;

// SavedTerminal: the settings found at start; TerminalIsRaw: 1 while they
// are replaced (read by the signal handlers).
termios SavedTerminal;
volatile sig_atomic_t TerminalIsRaw = 0;

void QueueKey(std::uint8_t code, bool fromWindow) {
  if (KeyCount == KeyQueueSize) return;
  KeyQueue[(KeyHead + KeyCount) % KeyQueueSize] = KeyInput{code, fromWindow};
  ++KeyCount;
}

// ReadTerminal: the terminal reader thread. It blocks in read(); at end of
// input (or a closed descriptor) it simply stops.
void ReadTerminal() {
  unsigned char bytes[256];
  for (;;) {
    ssize_t count = read(STDIN_FILENO, bytes, sizeof bytes);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) return;
    {
      std::lock_guard<std::mutex> guard(InputLock());
      for (ssize_t i = 0; i < count; ++i) QueueKey(bytes[i], false);
    }
    InputArrived().notify_all();
  }
}

// OnSignal: a signal that ends the program puts the terminal back first,
// then takes its ordinary course.
void OnSignal(int signal) {
  if (TerminalIsRaw) {
    tcsetattr(STDIN_FILENO, TCSANOW, &SavedTerminal);
    TerminalIsRaw = 0;
  }
  raise(signal);
}

void CatchSignal(int signal) {
  struct sigaction current;
  if (sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) return;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND | SA_NODEFER;
  sigaction(signal, &action, nullptr);
}

}  // namespace

std::mutex& InputLock() {
  static std::mutex* lock = new std::mutex;
  return *lock;
}

std::condition_variable& InputArrived() {
  static std::condition_variable* arrived = new std::condition_variable;
  return *arrived;
}

void StartTerminal() {
  if (isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &SavedTerminal) == 0) {
    termios raw = SavedTerminal;
    // No echo, no line editing, no signals from keys, Enter stays 13. Output
    // processing is kept, so printed lines still end properly.
    raw.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    raw.c_iflag &= ~(ICRNL | INLCR | IGNCR | IXON | BRKINT | ISTRIP | PARMRK);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) TerminalIsRaw = 1;
  }
  for (int signal : {SIGTERM, SIGHUP, SIGINT, SIGQUIT}) CatchSignal(signal);
  std::thread(ReadTerminal).detach();
}

void RestoreTerminal() {
  if (TerminalIsRaw) {
    tcsetattr(STDIN_FILENO, TCSANOW, &SavedTerminal);
    TerminalIsRaw = 0;
  }
}

bool PeekKeyInput(KeyInput& input) {
  PlatformStart();
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

void SleepMilliseconds(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool QueueWindowKey(const SDL_Event& event) {
  std::uint8_t codes[2];
  int count = 0;
  if (event.type == SDL_KEYDOWN) {
    SDL_Keycode key = event.key.keysym.sym;
    auto extended = [&](std::uint8_t scan) {
      codes[0] = 0;
      codes[1] = scan;
      count = 2;
    };
    switch (key) {
      case SDLK_UP:
        extended(72);
        break;
      case SDLK_DOWN:
        extended(80);
        break;
      case SDLK_RIGHT:
        extended(77);
        break;
      case SDLK_LEFT:
        extended(75);
        break;
      case SDLK_PAGEDOWN:
        extended(81);
        break;
      case SDLK_ESCAPE:
        codes[count++] = 27;
        break;
      case SDLK_RETURN:
      case SDLK_RETURN2:
      case SDLK_KP_ENTER:
        codes[count++] = 13;
        break;
      case SDLK_BACKSPACE:
        codes[count++] = 8;
        break;
      case SDLK_TAB:
        codes[count++] = 9;
        break;
      default:
        break;
    }
    // The keypad's arrows and Page Down while Num Lock is off.
    if (count == 0 && (event.key.keysym.mod & KMOD_NUM) == 0) {
      switch (key) {
        case SDLK_KP_8:
          extended(72);
          break;
        case SDLK_KP_2:
          extended(80);
          break;
        case SDLK_KP_6:
          extended(77);
          break;
        case SDLK_KP_4:
          extended(75);
          break;
        case SDLK_KP_3:
          extended(81);
          break;
        default:
          break;
      }
    }
    if (count == 0) {
      // Control with a letter gives the control byte, as the terminal
      // does; printable characters come as text input.
      if ((event.key.keysym.mod & KMOD_CTRL) != 0 && key >= SDLK_a && key <= SDLK_z)
        codes[count++] = static_cast<std::uint8_t>(key - SDLK_a + 1);
    }
    if (count == 0) return false;
    {
      std::lock_guard<std::mutex> guard(InputLock());
      for (int i = 0; i < count; ++i) QueueKey(codes[i], true);
    }
    InputArrived().notify_all();
    return true;
  }
  if (event.type == SDL_TEXTINPUT) {
    bool any = false;
    {
      std::lock_guard<std::mutex> guard(InputLock());
      // Printable ASCII only: the bytes of other characters are not keys of the game.
      for (const char* text = event.text.text; *text != '\0'; ++text) {
        auto byte = static_cast<unsigned char>(*text);
        if (byte >= 32 && byte <= 126) {
          QueueKey(byte, true);
          any = true;
        }
      }
    }
    if (any) InputArrived().notify_all();
    return any;
  }
  return false;
}
