// The stand-in for the console graphics and mouse library, the terminal and
// the clock. Which host shows the screen (a window, a browser, a terminal, a
// test's script) is chosen by the build; nothing above this layer knows.
#pragma once

#include <atomic>
#include <cstdint>

// ---- Video (the console graphics library's names) -------------------------

// vga_modeinfo: what a listed mode offers.
struct vga_modeinfo {
  int width;
  int height;
  int bytesperpixel;
  int linewidth;
  int colors;
};

// G640x480x64K: the one graphics mode, 640 x 480 with 65,536 colours.
constexpr int G640x480x64K = 18;
// ScreenWidth, ScreenHeight: that mode's size in pixels, for the game and every host.
constexpr int ScreenWidth = 640;
constexpr int ScreenHeight = 480;
// TEXT: mode 0 closes the graphics mode.
constexpr int TEXT = 0;

// vga_init: finds a display; modes are listed only when one can be opened.
int vga_init();
// vga_hasmode: mode is listed (0 to 49).
int vga_hasmode(int mode);
// vga_getmodeinfo: the mode's description, nullptr when not listed.
vga_modeinfo* vga_getmodeinfo(int mode);
// vga_setmode: opens the mode (a window) or, with TEXT, closes it.
int vga_setmode(int mode);
// vga_screenon: shows the screen.
int vga_screenon();
// vga_getgraphmem: the linear 640 x 480 screen memory, 16 bits a pixel; its
// cells are read and written with LoadScreenCell and StoreScreenCell only.
unsigned char* vga_getgraphmem();
// StoreScreenCell, LoadScreenCell: one pixel of the screen memory. A display
// thread may copy the memory while the program draws, so each pixel is a
// relaxed atomic 16-bit cell: a frame copied in the middle of a drawing is
// mended by the next present, and no access is a data race. Plain moves on
// every target the game builds for.
// (The browser's C++ library has no std::atomic_ref yet: there the compiler's
// own atomic operations, which std::atomic_ref is made of, stand in.)
inline void StoreScreenCell(std::uint16_t& cell, std::uint16_t colour) {
#if defined(__cpp_lib_atomic_ref)
  std::atomic_ref<std::uint16_t>(cell).store(colour, std::memory_order_relaxed);
#else
  __atomic_store_n(&cell, colour, __ATOMIC_RELAXED);
#endif
}
inline std::uint16_t LoadScreenCell(std::uint16_t& cell) {
#if defined(__cpp_lib_atomic_ref)
  return std::atomic_ref<std::uint16_t>(cell).load(std::memory_order_relaxed);
#else
  return __atomic_load_n(&cell, __ATOMIC_RELAXED);
#endif
}
// vga_getcolors: colours of the open mode.
int vga_getcolors();
// vga_setcolor: colour for vga_drawpixel and vga_drawline.
int vga_setcolor(int colour);
// vga_drawpixel, vga_drawline, vga_getpixel: pixel access in screen memory.
int vga_drawpixel(int x, int y);
int vga_drawline(int x1, int y1, int x2, int y2);
int vga_getpixel(int x, int y);

// ---- Start, keys, terminal and presenting ----------------------------------

// PlatformStart: terminal to raw input, display probed, exit handlers set;
// runs once, on the first use of any platform function.
void PlatformStart();
// DisplayUnavailableReason: why no graphics mode is listed ("" when one is).
const char* DisplayUnavailableReason();
// KeyInput: one key byte; window keys arrive already translated, so they
// never start an escape sequence.
struct KeyInput {
  std::uint8_t Code;
  bool FromWindow;
};
// PeekKeyInput: the oldest unread key byte, if there is one (never waits).
bool PeekKeyInput(KeyInput& input);
// TakeKeyInput: removes the oldest key byte, waiting for one if needed; the
// window is brought up to date before the program blocks.
KeyInput TakeKeyInput();
// TimeOfDay: seconds since local midnight, to the microsecond, by the platform's clock.
long double TimeOfDay();
// SleepMilliseconds: a pause of the program's own thread (the window stays serviced).
void SleepMilliseconds(int milliseconds);
// PresentScreen: shows the screen memory in the window now, waiting until it is shown.
void PresentScreen();
// ScreenProgress: the program drew a step of a long computation (the search's
// progress bar). A host without a display thread is shown the screen at the
// first step after the program waited, then when a frame period has passed
// since it last was; with a display thread it costs nothing, as the thread
// looks by itself.
void ScreenProgress();
// ScreenCleared: the program cleared the screen to draw it anew. A display
// thread shows none of it until the program waits, shows progress or
// presents (or a moment has passed), so a picture half drawn (the squares
// without their pieces) is never shown, nor sent whole twice to a terminal.
void ScreenCleared();
// RestoreTerminal: the terminal settings found at start (harmless when repeated).
void RestoreTerminal();

// ---- Mouse (the console mouse library's names) -----------------------------

int mouse_init(const char* device, int type, int samplerate);
void mouse_setxrange(int x1, int x2);
void mouse_setyrange(int y1, int y2);
void mouse_setscale(int scale);
int mouse_waitforupdate();
int mouse_getx();
int mouse_gety();
int mouse_getbutton();
void mouse_setposition(int x, int y);
void mouse_close();
