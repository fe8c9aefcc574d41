// The console host's pure parts: points of the display to pixels of the
// picture, keys to the game's key codes, rows of the picture into a
// display buffer.

#include <xkbcommon/xkbcommon-keysyms.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/console/console.h"

void DisplayToScreen(const PictureRect& picture, double x, double y, int& screenX, int& screenY) {
  // Far outside any display (a device's wild value) is still only an edge.
  const double limit = 1 << 20;
  const int px = static_cast<int>(std::floor(std::clamp(x, -limit, limit)));
  const int py = static_cast<int>(std::floor(std::clamp(y, -limit, limit)));
  AreaToScreen(picture, px, py, screenX, screenY);
}

int KeyCodes(std::uint32_t keysym, std::uint32_t character, bool control, std::uint8_t codes[2]) {
  const auto extended = [&](std::uint8_t scan) {
    codes[0] = 0;
    codes[1] = scan;
    return 2;
  };
  switch (keysym) {
    case XKB_KEY_Up:
    case XKB_KEY_KP_Up:
      return extended(72);
    case XKB_KEY_Down:
    case XKB_KEY_KP_Down:
      return extended(80);
    case XKB_KEY_Right:
    case XKB_KEY_KP_Right:
      return extended(77);
    case XKB_KEY_Left:
    case XKB_KEY_KP_Left:
      return extended(75);
    case XKB_KEY_Page_Down:
    case XKB_KEY_KP_Page_Down:
      return extended(81);
    case XKB_KEY_Escape:
      codes[0] = 27;
      return 1;
    case XKB_KEY_Return:
    case XKB_KEY_KP_Enter:
      codes[0] = 13;
      return 1;
    case XKB_KEY_BackSpace:
      codes[0] = 8;
      return 1;
    case XKB_KEY_Tab:
      codes[0] = 9;
      return 1;
    default:
      break;
  }
  // Control with a letter gives the control byte, as a terminal does (the
  // layout's letter, whatever character xkbcommon makes of it).
  if (control && ((keysym >= XKB_KEY_a && keysym <= XKB_KEY_z) ||
                  (keysym >= XKB_KEY_A && keysym <= XKB_KEY_Z))) {
    codes[0] = static_cast<std::uint8_t>((keysym | 0x20) - XKB_KEY_a + 1);
    return 1;
  }
  // Printable ASCII only: other characters are no keys of the game.
  if (character >= 32 && character <= 126) {
    codes[0] = static_cast<std::uint8_t>(character);
    return 1;
  }
  return 0;
}

int SwitchTarget(std::uint32_t keysym, bool control, bool alt) {
  if (keysym >= XKB_KEY_XF86Switch_VT_1 && keysym <= XKB_KEY_XF86Switch_VT_12)
    return static_cast<int>(keysym - XKB_KEY_XF86Switch_VT_1) + 1;
  // Layouts without the switching keysyms still switch with Ctrl+Alt+Fn.
  if (control && alt && keysym >= XKB_KEY_F1 && keysym <= XKB_KEY_F12)
    return static_cast<int>(keysym - XKB_KEY_F1) + 1;
  return 0;
}

std::uint32_t ToXrgb(std::uint16_t colour) {
  const std::uint32_t r = colour >> 11, g = (colour >> 5) & 63, b = colour & 31;
  return ((r << 3 | r >> 2) << 16) | ((g << 2 | g >> 4) << 8) | (b << 3 | b >> 2);
}

void ConvertRow(const std::uint16_t* row, int y, const PictureRect& picture, std::uint8_t* buffer,
                int pitch) {
  const int scale = std::max(1, picture.W / ScreenWidth);
  auto* first =
      reinterpret_cast<std::uint32_t*>(buffer + static_cast<long>(picture.Y + y * scale) * pitch) +
      picture.X;
  std::uint32_t* out = first;
  for (int x = 0; x < ScreenWidth; ++x) {
    const std::uint32_t pixel = ToXrgb(row[x]);
    for (int i = 0; i < scale; ++i) *out++ = pixel;
  }
  // The row's other lines are copies of the first.
  const std::size_t bytes = static_cast<std::size_t>(ScreenWidth * scale) * sizeof(std::uint32_t);
  for (int line = 1; line < scale; ++line)
    std::memcpy(reinterpret_cast<std::uint8_t*>(first) + static_cast<long>(line) * pitch, first,
                bytes);
}
