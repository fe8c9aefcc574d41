// The video side of the platform: the screen memory, the display thread that
// owns the SDL window, and the console graphics library's video functions.
//
// The program draws into ScreenMemory only. The display thread compares it
// with the last picture it presented every FramePeriod milliseconds while the
// program runs, and at once when the program starts to wait for input; it
// presents only when something changed, and sleeps in SDL_WaitEvent while the
// program waits. It also handles the window's events all the time, so the
// window stays responsive while the search computes.

#include <SDL.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "platform/sdl_internal.h"

void (*DisplayEventHook)(const SDL_Event& event) = nullptr;

namespace {

// FramePeriod: milliseconds between two looks at the screen memory while the
// program computes.
constexpr int FramePeriod = 16;
// InvisiblePollPeriod: milliseconds between looks at SDL's event queue when
// the driver shows nothing and cannot wake the display thread.
constexpr int InvisiblePollPeriod = 50;

// ScreenMemory: the linear screen, RGB 5-6-5, row by row. Written by the
// program's thread; the display thread reads it when presenting. A picture
// copied in the middle of a drawing is corrected by the next look.
alignas(64) std::uint16_t ScreenMemory[ScreenWidth * ScreenHeight];
// CurrentMode: TEXT or G640x480x64K.
int CurrentMode = TEXT;
// CurrentColour: 0..0xFFFF, the colour of vga_drawpixel and vga_drawline.
int CurrentColour = 0;

struct DisplayState {
  std::mutex Lock;               // guards everything down to WindowSize
  std::condition_variable Wake;  // the display thread waits here without a window
  std::condition_variable Done;  // requesters wait here for their action
  std::thread Thread;
  std::thread::id ThreadId;
  bool Probed = false;     // the display thread has tried SDL
  bool Available = false;  // a display that shows something to a person
  bool SdlAlive = false;   // SDL is initialised (wake events may be pushed)
  bool SdlWaits = false;   // the driver blocks in SDL_WaitEvent and can be woken
  std::string Reason;      // why the mode cannot be opened
  Uint32 WakeEventType = 0;
  void (*Action)(void*) = nullptr;
  void* Argument = nullptr;
  unsigned long ActionsDone = 0;
  bool ProgramWaiting = false;
  unsigned long WaitSerial = 0;       // counts the program's waits
  unsigned long PresentedSerial = 0;  // the wait whose picture is presented
  bool QuitRequested = false;
  SDL_Rect PictureInWindow{0, 0, ScreenWidth, ScreenHeight};
  int WindowWidth = ScreenWidth;
  int WindowHeight = ScreenHeight;

  // Display thread only.
  SDL_Window* Window = nullptr;
  SDL_Renderer* Renderer = nullptr;
  SDL_Texture* Texture = nullptr;
  bool Fullscreen = false;
  std::uint16_t Shown[ScreenWidth * ScreenHeight];  // the picture last presented
  std::uint32_t ToRgb888[65536];                    // 5-6-5 to 8-8-8, bits replicated
};

// The state lives on the heap and is never freed, so exit handlers and the
// display thread can use it while static objects are being destroyed.
DisplayState& Display() {
  static DisplayState* state = new DisplayState;
  return *state;
}

bool OnDisplayThreadNow() { return std::this_thread::get_id() == Display().ThreadId; }

// WakeLocked: the display thread looks at its state again (Lock held).
void WakeLocked(DisplayState& d) {
  d.Wake.notify_all();
  if (d.SdlAlive && d.SdlWaits) {
    SDL_Event event{};
    event.type = d.WakeEventType;
    SDL_PushEvent(&event);
  }
}

// NamedExplicitly: the environment's SDL_VIDEODRIVER lists this driver.
bool NamedExplicitly(const char* driver) {
  const char* wanted = std::getenv("SDL_VIDEODRIVER");
  if (wanted == nullptr) return false;
  std::string list = wanted;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(',', start);
    if (end == std::string::npos) end = list.size();
    if (SDL_strcasecmp(list.substr(start, end - start).c_str(), driver) == 0) return true;
    start = end + 1;
  }
  return false;
}

// Invisible: drivers that show nothing ("evdev" is the dummy driver with
// the console's input devices).
bool Invisible(const char* driver) {
  return SDL_strcasecmp(driver, "dummy") == 0 || SDL_strcasecmp(driver, "offscreen") == 0 ||
         SDL_strcasecmp(driver, "evdev") == 0;
}

SDL_Rect FitPicture(int width, int height) {
  int scale = std::min(width / ScreenWidth, height / ScreenHeight);
  int w, h;
  if (scale >= 1) {
    w = ScreenWidth * scale;
    h = ScreenHeight * scale;
  } else if (width * ScreenHeight <= height * ScreenWidth) {
    w = width;
    h = width * ScreenHeight / ScreenWidth;
  } else {
    h = height;
    w = height * ScreenWidth / ScreenHeight;
  }
  return SDL_Rect{(width - w) / 2, (height - h) / 2, std::max(w, 1), std::max(h, 1)};
}

void UpdateWindowSize(DisplayState& d) {
  int width = ScreenWidth, height = ScreenHeight;
  SDL_GetWindowSize(d.Window, &width, &height);
  std::lock_guard<std::mutex> guard(d.Lock);
  d.WindowWidth = width;
  d.WindowHeight = height;
  d.PictureInWindow = FitPicture(width, height);
}

void Render(DisplayState& d) {
  int width = ScreenWidth, height = ScreenHeight;
  if (SDL_GetRendererOutputSize(d.Renderer, &width, &height) != 0) return;
  SDL_Rect picture = FitPicture(width, height);
  SDL_SetRenderDrawColor(d.Renderer, 0, 0, 0, 255);
  SDL_RenderClear(d.Renderer);
  SDL_RenderCopy(d.Renderer, d.Texture, nullptr, &picture);
  SDL_RenderPresent(d.Renderer);
}

void Upload(DisplayState& d) {
  void* pixels = nullptr;
  int pitch = 0;
  if (SDL_LockTexture(d.Texture, nullptr, &pixels, &pitch) != 0) return;
  const std::uint16_t* from = d.Shown;
  for (int y = 0; y < ScreenHeight; ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(static_cast<unsigned char*>(pixels) + y * pitch);
    for (int x = 0; x < ScreenWidth; ++x) row[x] = d.ToRgb888[*from++];
  }
  SDL_UnlockTexture(d.Texture);
}

// PresentIfChanged: the screen memory to the window when it differs from
// the picture shown (or always, when forced).
void PresentIfChanged(DisplayState& d, bool force) {
  if (d.Window == nullptr) return;
  if (!force && std::memcmp(d.Shown, ScreenMemory, sizeof d.Shown) == 0) return;
  std::memcpy(d.Shown, ScreenMemory, sizeof d.Shown);
  Upload(d);
  Render(d);
}

void CloseWindow(DisplayState& d) {
  if (d.Window == nullptr) return;
  SDL_StopTextInput();
  if (d.Texture != nullptr) SDL_DestroyTexture(d.Texture);
  if (d.Renderer != nullptr) SDL_DestroyRenderer(d.Renderer);
  SDL_DestroyWindow(d.Window);
  d.Texture = nullptr;
  d.Renderer = nullptr;
  d.Window = nullptr;
  d.Fullscreen = false;
}

// OpenWindowAction: argument is a bool, set to true on success.
void OpenWindowAction(void* argument) {
  DisplayState& d = Display();
  bool& opened = *static_cast<bool*>(argument);
  opened = false;
  CloseWindow(d);
  SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "nearest");
  SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
  // The largest whole scale that fits the desktop keeps every pixel square.
  int scale = 1;
  SDL_Rect usable;
  if (SDL_GetDisplayUsableBounds(0, &usable) == 0)
    scale = std::max(1, std::min(usable.w / ScreenWidth, usable.h / ScreenHeight));
  d.Window = SDL_CreateWindow("kelvar", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                              ScreenWidth * scale, ScreenHeight * scale, SDL_WINDOW_RESIZABLE);
  if (d.Window == nullptr) return;
  SDL_SetWindowMinimumSize(d.Window, ScreenWidth / 2, ScreenHeight / 2);
  d.Renderer = SDL_CreateRenderer(d.Window, -1, 0);
  if (d.Renderer == nullptr) d.Renderer = SDL_CreateRenderer(d.Window, -1, SDL_RENDERER_SOFTWARE);
  if (d.Renderer != nullptr)
    d.Texture = SDL_CreateTexture(d.Renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING,
                                  ScreenWidth, ScreenHeight);
  if (d.Texture == nullptr) {
    std::string reason = SDL_GetError();
    CloseWindow(d);
    SDL_SetError("%s", reason.c_str());
    return;
  }
  SDL_StartTextInput();
  UpdateWindowSize(d);
  PresentIfChanged(d, true);
  opened = true;
}

void CloseWindowAction(void*) { CloseWindow(Display()); }

void PresentAction(void*) { PresentIfChanged(Display(), false); }

void ToggleFullscreen(DisplayState& d) {
  d.Fullscreen = !d.Fullscreen;
  SDL_SetWindowFullscreen(d.Window, d.Fullscreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
  UpdateWindowSize(d);
  Render(d);
}

void HandleEvent(DisplayState& d, const SDL_Event& event) {
  if (DisplayEventHook != nullptr) DisplayEventHook(event);
  switch (event.type) {
    case SDL_QUIT:
      OrderlyQuit();
    case SDL_WINDOWEVENT:
      switch (event.window.event) {
        case SDL_WINDOWEVENT_CLOSE:
          OrderlyQuit();
        case SDL_WINDOWEVENT_EXPOSED:
        case SDL_WINDOWEVENT_SHOWN:
        case SDL_WINDOWEVENT_RESTORED:
        case SDL_WINDOWEVENT_SIZE_CHANGED:
          if (d.Window != nullptr) {
            UpdateWindowSize(d);
            Render(d);
          }
          break;
        default:
          break;
      }
      break;
    case SDL_KEYDOWN: {
      SDL_Keycode key = event.key.keysym.sym;
      bool alt = (event.key.keysym.mod & KMOD_ALT) != 0;
      if (d.Window != nullptr &&
          (key == SDLK_F11 || (alt && (key == SDLK_RETURN || key == SDLK_KP_ENTER)))) {
        if (event.key.repeat == 0) ToggleFullscreen(d);
        break;
      }
      QueueWindowKey(event);
      break;
    }
    case SDL_TEXTINPUT:
      QueueWindowKey(event);
      break;
    default:
      break;
  }
}

void RunPendingAction(DisplayState& d) {
  void (*action)(void*);
  void* argument;
  {
    std::lock_guard<std::mutex> guard(d.Lock);
    action = d.Action;
    argument = d.Argument;
  }
  if (action == nullptr) return;
  action(argument);
  std::lock_guard<std::mutex> guard(d.Lock);
  d.Action = nullptr;
  ++d.ActionsDone;
  d.Done.notify_all();
}

void DisplayLoop(DisplayState& d) {
  Uint64 nextLook = 0;
  for (;;) {
    RunPendingAction(d);
    bool presentForWait, waitingDone;
    unsigned long serial;
    {
      std::lock_guard<std::mutex> guard(d.Lock);
      if (d.QuitRequested) return;
      serial = d.WaitSerial;
      presentForWait = d.ProgramWaiting && d.PresentedSerial != serial;
      waitingDone = d.ProgramWaiting && d.PresentedSerial == serial;
    }
    Uint64 now = SDL_GetTicks64();
    if (d.Window != nullptr && (presentForWait || (!waitingDone && now >= nextLook))) {
      PresentIfChanged(d, false);
      nextLook = now + FramePeriod;
      if (presentForWait) {
        std::lock_guard<std::mutex> guard(d.Lock);
        d.PresentedSerial = serial;
        waitingDone = d.ProgramWaiting && d.PresentedSerial == d.WaitSerial;
      }
    }
    // Sleep: for good while the program waits with its picture shown (or
    // when there is no window), otherwise until the next look.
    int timeout = -1;
    if (d.Window != nullptr && !waitingDone)
      timeout = static_cast<int>(nextLook > now ? nextLook - now : 0);
    if (d.SdlWaits && d.Window != nullptr) {
      SDL_Event event;
      int got = timeout < 0 ? SDL_WaitEvent(&event) : SDL_WaitEventTimeout(&event, timeout);
      if (got != 0) HandleEvent(d, event);
    } else {
      // Events pushed by other threads cannot wake this wait, so it looks
      // at SDL's queue now and then (only drivers that show nothing get here).
      if (SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) > 0) timeout = 0;
      if (timeout < 0 || timeout > InvisiblePollPeriod) timeout = InvisiblePollPeriod;
      std::unique_lock<std::mutex> lock(d.Lock);
      auto woken = [&d] {
        return d.QuitRequested || d.Action != nullptr ||
               (d.ProgramWaiting && d.PresentedSerial != d.WaitSerial);
      };
      d.Wake.wait_for(lock, std::chrono::milliseconds(timeout), woken);
    }
    SDL_Event event;
    while (SDL_PollEvent(&event) != 0) HandleEvent(d, event);
  }
}

// OpenVideo: SDL's video on a driver that shows something to a person.
// Without SDL_VIDEODRIVER in the environment the drivers are tried in SDL's
// order, leaving out those that show nothing (SDL would quietly fall back
// to them) and Wayland where no Wayland session can exist.
bool OpenVideo(std::string& reason) {
  if (std::getenv("SDL_VIDEODRIVER") != nullptr) {
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
      reason = SDL_GetError();
      return false;
    }
    const char* driver = SDL_GetCurrentVideoDriver();
    if (driver != nullptr && Invisible(driver) && !NamedExplicitly(driver)) {
      reason = std::string("SDL offers only its invisible \"") + driver + "\" video driver";
      SDL_Quit();
      return false;
    }
    return true;
  }
  bool wayland =
      std::getenv("WAYLAND_DISPLAY") != nullptr || std::getenv("XDG_RUNTIME_DIR") != nullptr;
  std::string tried;
  for (int index = 0; index < SDL_GetNumVideoDrivers(); ++index) {
    std::string driver = SDL_GetVideoDriver(index);
    if (Invisible(driver.c_str()) || (driver == "wayland" && !wayland)) continue;
    SDL_SetHint(SDL_HINT_VIDEODRIVER, driver.c_str());
    if (SDL_Init(SDL_INIT_VIDEO) == 0) return true;
    tried += (tried.empty() ? "" : "; ") + std::string(SDL_GetError());
  }
  reason = "no display could be opened (" +
           (tried.empty() ? std::string("no video driver") : tried) +
           "); is DISPLAY or WAYLAND_DISPLAY set?";
  return false;
}

void DisplayMain() {
  DisplayState& d = Display();
  {
    std::lock_guard<std::mutex> guard(d.Lock);
    d.ThreadId = std::this_thread::get_id();
  }
  // The platform installs its own signal handlers (they restore the terminal).
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  std::string reason;
  bool available = OpenVideo(reason);
  bool waits = available && !Invisible(SDL_GetCurrentVideoDriver());
  if (available) {
    for (int value = 0; value < 65536; ++value) {
      std::uint32_t r = value >> 11, g = (value >> 5) & 63, b = value & 31;
      d.ToRgb888[value] = ((r << 3 | r >> 2) << 16) | ((g << 2 | g >> 4) << 8) | (b << 3 | b >> 2);
    }
  }
  {
    std::lock_guard<std::mutex> guard(d.Lock);
    d.Probed = true;
    d.Available = available;
    d.Reason = reason;
    d.SdlAlive = available;
    d.SdlWaits = waits;
    if (available) d.WakeEventType = SDL_RegisterEvents(1);
    d.Done.notify_all();
  }
  if (!available) return;
  DisplayLoop(d);
  CloseWindow(d);
  {
    std::lock_guard<std::mutex> guard(d.Lock);
    d.SdlAlive = false;
  }
  SDL_Quit();
}

// PlatformExit: at exit, the window goes and the terminal is restored.
void PlatformExit() {
  RestoreTerminal();
  std::fflush(stdout);
  DisplayState& d = Display();
  if (!d.Thread.joinable()) return;
  if (OnDisplayThreadNow()) {
    CloseWindow(d);
    return;
  }
  {
    std::lock_guard<std::mutex> guard(d.Lock);
    d.QuitRequested = true;
    WakeLocked(d);
  }
  d.Thread.join();
}

}  // namespace

void PlatformStart() {
  static std::once_flag once;
  std::call_once(once, [] {
    StartTerminal();
    DisplayState& d = Display();
    d.Thread = std::thread(DisplayMain);
    std::unique_lock<std::mutex> lock(d.Lock);
    d.Done.wait(lock, [&d] { return d.Probed; });
    bool available = d.Available;
    lock.unlock();
    if (!available) d.Thread.join();
    std::atexit(PlatformExit);
  });
}

const char* DisplayUnavailableReason() {
  PlatformStart();
  DisplayState& d = Display();
  std::lock_guard<std::mutex> guard(d.Lock);
  return d.Reason.c_str();
}

bool OnDisplayThread(void (*action)(void*), void* argument) {
  PlatformStart();
  DisplayState& d = Display();
  if (OnDisplayThreadNow()) {
    action(argument);
    return true;
  }
  std::unique_lock<std::mutex> lock(d.Lock);
  if (!d.Available || !d.SdlAlive || d.QuitRequested) return false;
  d.Done.wait(lock, [&d] { return d.Action == nullptr; });
  d.Action = action;
  d.Argument = argument;
  unsigned long target = d.ActionsDone + 1;
  WakeLocked(d);
  d.Done.wait(lock, [&d, target] { return d.ActionsDone >= target; });
  return true;
}

void BeginProgramWait() {
  DisplayState& d = Display();
  std::lock_guard<std::mutex> guard(d.Lock);
  if (!d.SdlAlive) return;
  d.ProgramWaiting = true;
  ++d.WaitSerial;
  WakeLocked(d);
}

void EndProgramWait() {
  DisplayState& d = Display();
  std::lock_guard<std::mutex> guard(d.Lock);
  if (!d.ProgramWaiting) return;
  d.ProgramWaiting = false;
  WakeLocked(d);
}

SDL_Window* DisplayWindow() { return Display().Window; }

bool WindowToScreen(int windowX, int windowY, int& screenX, int& screenY) {
  DisplayState& d = Display();
  SDL_Rect picture;
  {
    std::lock_guard<std::mutex> guard(d.Lock);
    picture = d.PictureInWindow;
  }
  int x = windowX - picture.x, y = windowY - picture.y;
  bool inside = x >= 0 && y >= 0 && x < picture.w && y < picture.h;
  x = std::clamp(x, 0, picture.w - 1);
  y = std::clamp(y, 0, picture.h - 1);
  screenX = static_cast<int>(static_cast<long>(x) * ScreenWidth / picture.w);
  screenY = static_cast<int>(static_cast<long>(y) * ScreenHeight / picture.h);
  return inside;
}

void ScreenToWindow(int screenX, int screenY, int& windowX, int& windowY) {
  DisplayState& d = Display();
  SDL_Rect picture;
  {
    std::lock_guard<std::mutex> guard(d.Lock);
    picture = d.PictureInWindow;
  }
  windowX = picture.x + static_cast<int>((2L * screenX + 1) * picture.w / (2L * ScreenWidth));
  windowY = picture.y + static_cast<int>((2L * screenY + 1) * picture.h / (2L * ScreenHeight));
}

void PresentScreen() {
  if (CurrentMode != TEXT) OnDisplayThread(PresentAction, nullptr);
}

[[noreturn]] void OrderlyQuit() {
  DisplayState& d = Display();
  if (OnDisplayThreadNow()) {
    CloseWindow(d);
    {
      std::lock_guard<std::mutex> guard(d.Lock);
      d.SdlAlive = false;
    }
    SDL_Quit();
  } else {
    OnDisplayThread(CloseWindowAction, nullptr);
  }
  RestoreTerminal();
  std::fflush(stdout);
  std::fflush(stderr);
  // Exit handlers would wait for the display thread, which may be this one.
  _exit(0);
}

// ---- The console graphics library's video functions ------------------------

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
  if (mode == TEXT) {
    if (CurrentMode != TEXT) OnDisplayThread(CloseWindowAction, nullptr);
    CurrentMode = TEXT;
    return 0;
  }
  if (!vga_hasmode(mode)) return -1;
  std::memset(ScreenMemory, 0, sizeof ScreenMemory);
  bool opened = false;
  if (!OnDisplayThread(OpenWindowAction, &opened) || !opened) {
    DisplayState& d = Display();
    std::lock_guard<std::mutex> guard(d.Lock);
    d.Reason = SDL_GetError();
    if (d.Reason.empty()) d.Reason = "the window could not be opened";
    return -1;
  }
  CurrentMode = mode;
  return 0;
}

int vga_screenon() { return 0; }

unsigned char* vga_getgraphmem() { return reinterpret_cast<unsigned char*>(ScreenMemory); }

int vga_getcolors() { return CurrentMode == G640x480x64K ? 65536 : 16; }

int vga_setcolor(int colour) {
  CurrentColour = colour & 0xFFFF;
  return 0;
}

int vga_drawpixel(int x, int y) {
  if (x >= 0 && y >= 0 && x < ScreenWidth && y < ScreenHeight)
    ScreenMemory[y * ScreenWidth + x] = static_cast<std::uint16_t>(CurrentColour);
  return 0;
}

int vga_drawline(int x1, int y1, int x2, int y2) {
  int dx = std::abs(x2 - x1), dy = std::abs(y2 - y1);
  int sx = x2 >= x1 ? 1 : -1, sy = y2 >= y1 ? 1 : -1;
  bool alongX = dx >= dy;
  int a = alongX ? dx : dy, b = alongX ? dy : dx;
  int error = 2 * b - a;
  int x = x1, y = y1;
  for (int step = 0;; ++step) {
    vga_drawpixel(x, y);
    if (step == a) break;
    if (error >= 0) {
      if (alongX)
        y += sy;
      else
        x += sx;
      error += 2 * (b - a);
    } else {
      error += 2 * b;
    }
    if (alongX)
      x += sx;
    else
      y += sy;
  }
  return 0;
}

int vga_getpixel(int x, int y) {
  if (x >= 0 && y >= 0 && x < ScreenWidth && y < ScreenHeight)
    return ScreenMemory[y * ScreenWidth + x];
  return 0;
}
