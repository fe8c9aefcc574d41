// The screen memory, the console graphics library's pixel functions, and the
// change tracking that tells a host which rows to present.

#include <algorithm>
#include <cstdlib>

#include "platform/core/core.h"

// ScreenMemory: RGB 5-6-5, row by row, every cell accessed as an atomic
// (platform.h). Written by the program's thread; a display thread reads it
// when presenting.
alignas(64) std::uint16_t ScreenMemory[ScreenWidth * ScreenHeight];
int CurrentMode = TEXT;

namespace {

// CurrentColour: 0..0xFFFF, the colour of vga_drawpixel and vga_drawline.
int CurrentColour = 0;

// Presented: the frame last handed to the host; RowChanged: this frame's changed rows.
std::uint16_t Presented[ScreenWidth * ScreenHeight];
bool RowChanged[ScreenHeight];

}  // namespace

bool TakeFrame(Frame& frame, bool whole) {
  int first = -1, last = -1;
  for (int y = 0; y < ScreenHeight; ++y) {
    std::uint16_t* shown = Presented + y * ScreenWidth;
    std::uint16_t* now = ScreenMemory + y * ScreenWidth;
    bool changed = whole;
    for (int x = 0; x < ScreenWidth; ++x) {
      const std::uint16_t colour = LoadScreenCell(now[x]);
      if (colour == shown[x]) continue;
      shown[x] = colour;
      changed = true;
    }
    RowChanged[y] = changed;
    if (!changed) continue;
    if (first < 0) first = y;
    last = y;
  }
  frame = Frame{Presented, RowChanged, first, last};
  return first >= 0;
}

void ClearScreenMemory() {
  for (std::uint16_t& cell : ScreenMemory) StoreScreenCell(cell, 0);
}

PictureRect FitPicture(int width, int height) {
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
  return PictureRect{(width - w) / 2, (height - h) / 2, std::max(w, 1), std::max(h, 1)};
}

bool AreaToScreen(const PictureRect& picture, int areaX, int areaY, int& screenX, int& screenY) {
  int x = areaX - picture.X, y = areaY - picture.Y;
  bool inside = x >= 0 && y >= 0 && x < picture.W && y < picture.H;
  x = std::clamp(x, 0, picture.W - 1);
  y = std::clamp(y, 0, picture.H - 1);
  screenX = static_cast<int>(static_cast<long>(x) * ScreenWidth / picture.W);
  screenY = static_cast<int>(static_cast<long>(y) * ScreenHeight / picture.H);
  return inside;
}

void ScreenToArea(const PictureRect& picture, int screenX, int screenY, int& x, int& y) {
  x = picture.X + static_cast<int>((2L * screenX + 1) * picture.W / (2L * ScreenWidth));
  y = picture.Y + static_cast<int>((2L * screenY + 1) * picture.H / (2L * ScreenHeight));
}

// ---- The console graphics library's pixel functions ------------------------------

int vga_screenon() { return 0; }

unsigned char* vga_getgraphmem() { return reinterpret_cast<unsigned char*>(ScreenMemory); }

int vga_getcolors() { return CurrentMode == G640x480x64K ? 65536 : 16; }

int vga_setcolor(int colour) {
  CurrentColour = colour & 0xFFFF;
  return 0;
}

int vga_drawpixel(int x, int y) {
  if (x >= 0 && y >= 0 && x < ScreenWidth && y < ScreenHeight)
    StoreScreenCell(ScreenMemory[y * ScreenWidth + x], static_cast<std::uint16_t>(CurrentColour));
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
    return LoadScreenCell(ScreenMemory[y * ScreenWidth + x]);
  return 0;
}
