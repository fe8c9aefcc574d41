// The desktop host: an SDL window on the core's display thread, the window's
// keys translated to the program's key codes, its pointer, and the terminal's
// bytes as keys as well.

#include "platform/sdl/sdl_host.h"

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/sdl/window_keys.h"

namespace {

// InvisiblePollPeriod: milliseconds between looks at SDL's event queue when
// the driver shows nothing and cannot wake the display thread.
constexpr int InvisiblePollPeriod = 50;

// Display thread only, except where noted.
struct SdlState {
  bool Waits = false;  // the driver blocks in SDL_WaitEvent and can be woken
  Uint32 WakeEventType = 0;
  std::atomic<bool> Alive{false};  // wake events may be pushed (any thread)
  SDL_Window* Window = nullptr;
  SDL_Renderer* Renderer = nullptr;
  SDL_Texture* Texture = nullptr;
  bool Fullscreen = false;
  bool PointerOpen = false;
  int PointerX = -1, PointerY = -1;  // the pointer's last screen pixel, from its events
  std::mutex PictureLock;            // guards Picture (read from any thread)
  PictureRect Picture{0, 0, ScreenWidth, ScreenHeight};
  std::uint32_t ToRgb888[65536];  // 5-6-5 to 8-8-8, bits replicated
};

// Never freed: exit handlers may still reach it.
SdlState& Sdl() {
  static SdlState* state = new SdlState;
  return *state;
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
  return driver == nullptr || SDL_strcasecmp(driver, "dummy") == 0 ||
         SDL_strcasecmp(driver, "offscreen") == 0 || SDL_strcasecmp(driver, "evdev") == 0;
}

// OnConsoleDriver: SDL's own console driver, which needs OpenGL and takes
// the keyboard without a seat; the console host shows the console instead.
bool OnConsoleDriver(const char* driver) {
  return driver != nullptr && SDL_strcasecmp(driver, "kmsdrm") == 0;
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
    if (OnConsoleDriver(driver)) {
      reason = "the console is shown by the console host, not SDL";
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
    if (Invisible(driver.c_str()) || OnConsoleDriver(driver.c_str()) ||
        (driver == "wayland" && !wayland))
      continue;
    SDL_SetHint(SDL_HINT_VIDEODRIVER, driver.c_str());
    if (SDL_Init(SDL_INIT_VIDEO) == 0) return true;
    tried += (tried.empty() ? "" : "; ") + std::string(SDL_GetError());
  }
  reason = "no display could be opened (" +
           (tried.empty() ? std::string("no video driver") : tried) +
           "); is DISPLAY or WAYLAND_DISPLAY set?";
  return false;
}

void UpdateWindowSize(SdlState& s) {
  int width = ScreenWidth, height = ScreenHeight;
  SDL_GetWindowSize(s.Window, &width, &height);
  std::lock_guard<std::mutex> guard(s.PictureLock);
  s.Picture = FitPicture(width, height);
}

void Render(SdlState& s) {
  int width = ScreenWidth, height = ScreenHeight;
  if (SDL_GetRendererOutputSize(s.Renderer, &width, &height) != 0) return;
  PictureRect fit = FitPicture(width, height);
  SDL_Rect picture{fit.X, fit.Y, fit.W, fit.H};
  SDL_SetRenderDrawColor(s.Renderer, 0, 0, 0, 255);
  SDL_RenderClear(s.Renderer);
  SDL_RenderCopy(s.Renderer, s.Texture, nullptr, &picture);
  SDL_RenderPresent(s.Renderer);
}

void CloseWindow(SdlState& s) {
  if (s.Window == nullptr) return;
  SDL_StopTextInput();
  if (s.Texture != nullptr) SDL_DestroyTexture(s.Texture);
  if (s.Renderer != nullptr) SDL_DestroyRenderer(s.Renderer);
  SDL_DestroyWindow(s.Window);
  s.Texture = nullptr;
  s.Renderer = nullptr;
  s.Window = nullptr;
  s.Fullscreen = false;
}

void ToggleFullscreen(SdlState& s) {
  s.Fullscreen = !s.Fullscreen;
  SDL_SetWindowFullscreen(s.Window, s.Fullscreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
  UpdateWindowSize(s);
  Render(s);
}

void HandlePointer(SdlState& s, const SDL_Event& event) {
  if (!s.PointerOpen) return;
  int windowX, windowY;
  if (event.type == SDL_MOUSEMOTION) {
    windowX = event.motion.x;
    windowY = event.motion.y;
  } else {
    windowX = event.button.x;
    windowY = event.button.y;
  }
  // Points in the bars beside a letterboxed picture go to its nearest edge.
  int x, y;
  WindowToScreen(windowX, windowY, x, y);
  s.PointerX = x;
  s.PointerY = y;
  if (event.type == SDL_MOUSEMOTION)
    QueuePointerMove(x, y);
  else
    QueuePointerButton(x, y, ButtonBit(event.button.button), event.type == SDL_MOUSEBUTTONDOWN);
}

void HandleEvent(SdlState& s, const SDL_Event& event) {
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
          if (s.Window != nullptr) {
            UpdateWindowSize(s);
            Render(s);
          }
          break;
        default:
          break;
      }
      break;
    case SDL_MOUSEMOTION:
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
      HandlePointer(s, event);
      break;
    case SDL_KEYDOWN: {
      SDL_Keycode key = event.key.keysym.sym;
      bool alt = (event.key.keysym.mod & KMOD_ALT) != 0;
      if (s.Window != nullptr &&
          (key == SDLK_F11 || (alt && (key == SDLK_RETURN || key == SDLK_KP_ENTER)))) {
        if (event.key.repeat == 0) ToggleFullscreen(s);
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

bool Start(std::string& reason) {
  SdlState& s = Sdl();
  // The core installs its own signal handlers (they restore the terminal).
  SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
  if (!OpenVideo(reason)) return false;
  // The window's keys and the terminal's are one stream. Only now: a host
  // tried after this one may read the terminal itself.
  StartTtyInput();
  s.Waits = !Invisible(SDL_GetCurrentVideoDriver());
  for (int value = 0; value < 65536; ++value) {
    std::uint32_t r = value >> 11, g = (value >> 5) & 63, b = value & 31;
    s.ToRgb888[value] = ((r << 3 | r >> 2) << 16) | ((g << 2 | g >> 4) << 8) | (b << 3 | b >> 2);
  }
  s.WakeEventType = SDL_RegisterEvents(1);
  s.Alive = true;
  return true;
}

bool OpenScreen(std::string& reason) {
  SdlState& s = Sdl();
  CloseWindow(s);
  SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "nearest");
  SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
  // The largest whole scale that fits the desktop keeps every pixel square.
  int scale = 1;
  SDL_Rect usable;
  if (SDL_GetDisplayUsableBounds(0, &usable) == 0)
    scale = std::max(1, std::min(usable.w / ScreenWidth, usable.h / ScreenHeight));
  s.Window = SDL_CreateWindow("kelvar", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                              ScreenWidth * scale, ScreenHeight * scale, SDL_WINDOW_RESIZABLE);
  if (s.Window == nullptr) {
    reason = SDL_GetError();
    return false;
  }
  SDL_SetWindowMinimumSize(s.Window, ScreenWidth / 2, ScreenHeight / 2);
  s.Renderer = SDL_CreateRenderer(s.Window, -1, 0);
  if (s.Renderer == nullptr) s.Renderer = SDL_CreateRenderer(s.Window, -1, SDL_RENDERER_SOFTWARE);
  if (s.Renderer != nullptr)
    s.Texture = SDL_CreateTexture(s.Renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING,
                                  ScreenWidth, ScreenHeight);
  if (s.Texture == nullptr) {
    reason = SDL_GetError();
    CloseWindow(s);
    return false;
  }
  SDL_StartTextInput();
  UpdateWindowSize(s);
  return true;
}

// CheckLeaksWhileLoaded: in a LeakSanitizer build, the check that would run
// at exit runs now, before the window goes: SDL then unloads the graphics
// driver libraries it loaded, and leaks inside them would be reported
// without a library name that a suppression could match.
void CheckLeaksWhileLoaded() {
  void* check = dlsym(RTLD_DEFAULT, "__lsan_do_leak_check");
  if (check == nullptr) return;
  void (*doLeakCheck)();
  std::memcpy(&doLeakCheck, &check, sizeof doLeakCheck);
  doLeakCheck();
}

void CloseScreen() {
  CheckLeaksWhileLoaded();
  CloseWindow(Sdl());
}

void Present(const Frame& frame) {
  SdlState& s = Sdl();
  if (s.Window == nullptr) return;
  void* pixels = nullptr;
  int pitch = 0;
  if (SDL_LockTexture(s.Texture, nullptr, &pixels, &pitch) != 0) return;
  // A streaming texture's contents are undefined after a lock, so every row is written.
  const std::uint16_t* from = frame.Pixels;
  for (int y = 0; y < ScreenHeight; ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(static_cast<unsigned char*>(pixels) + y * pitch);
    for (int x = 0; x < ScreenWidth; ++x) row[x] = s.ToRgb888[*from++];
  }
  SDL_UnlockTexture(s.Texture);
  Render(s);
}

void Pump(int timeoutMilliseconds) {
  SdlState& s = Sdl();
  SDL_Event event;
  if (s.Waits && s.Window != nullptr) {
    int got = timeoutMilliseconds < 0 ? SDL_WaitEvent(&event)
                                      : SDL_WaitEventTimeout(&event, timeoutMilliseconds);
    if (got != 0) HandleEvent(s, event);
  } else {
    // Events pushed by other threads cannot wake this wait, so it looks at
    // SDL's queue now and then (only drivers that show nothing get here).
    int timeout = timeoutMilliseconds;
    if (SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) > 0) timeout = 0;
    if (timeout < 0 || timeout > InvisiblePollPeriod) timeout = InvisiblePollPeriod;
    WaitForWake(timeout);
  }
  while (SDL_PollEvent(&event) != 0) HandleEvent(s, event);
}

void Wake() {
  SdlState& s = Sdl();
  if (!s.Alive) return;
  if (!s.Waits) return;
  SDL_Event event{};
  event.type = s.WakeEventType;
  SDL_PushEvent(&event);
}

bool OpenPointer() {
  // The pointer exists only on a display a person can see.
  SdlState& s = Sdl();
  if (Invisible(SDL_GetCurrentVideoDriver())) return false;
  s.PointerOpen = true;
  SDL_ShowCursor(SDL_DISABLE);
  return true;
}

void WarpPointer(int x, int y) {
  SdlState& s = Sdl();
  // Warping to where the pointer already is would only echo one more movement.
  if (s.Window == nullptr || (x == s.PointerX && y == s.PointerY)) return;
  int windowX, windowY;
  ScreenToWindow(x, y, windowX, windowY);
  SDL_WarpMouseInWindow(s.Window, windowX, windowY);
  s.PointerX = x;
  s.PointerY = y;
}

void Stop() {
  SdlState& s = Sdl();
  CloseWindow(s);
  s.Alive = false;
  SDL_Quit();
  RestoreTerminal();
}

}  // namespace

const Host SdlHost = {
    .Kind = HostKind::Window,
    .WantsDisplayThread = true,
    .Start = Start,
    .OpenScreen = OpenScreen,
    .CloseScreen = CloseScreen,
    .Present = Present,
    .Pump = Pump,
    .Wake = Wake,
    .OpenPointer = OpenPointer,
    .WarpPointer = WarpPointer,
    .Stop = Stop,
    .Milliseconds = SystemMilliseconds,
    .TimeOfDay = SystemTimeOfDay,
};

SDL_Window* DisplayWindow() { return Sdl().Window; }

bool WindowToScreen(int windowX, int windowY, int& screenX, int& screenY) {
  SdlState& s = Sdl();
  PictureRect picture;
  {
    std::lock_guard<std::mutex> guard(s.PictureLock);
    picture = s.Picture;
  }
  return AreaToScreen(picture, windowX, windowY, screenX, screenY);
}

void ScreenToWindow(int screenX, int screenY, int& windowX, int& windowY) {
  SdlState& s = Sdl();
  PictureRect picture;
  {
    std::lock_guard<std::mutex> guard(s.PictureLock);
    picture = s.Picture;
  }
  ScreenToArea(picture, screenX, screenY, windowX, windowY);
}
