// The console host's pure parts: where a point of the display lands in the
// picture, which keys reach the game as what, and how a row of the picture
// is drawn into a display buffer.

#include "platform/console/console.h"

#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include <vector>

namespace {

// Touches and tablets point at the display; the picture lies centred in
// it at the largest whole scale, so a point lands on the pixel under it,
// and a point beside the picture on its nearest edge.
TEST(ConsolePoints, DisplayPointsLandOnThePictureUnderThem) {
  struct Case {
    int Width, Height;
    double X, Y;
    int ScreenX, ScreenY;
  };
  const Case cases[] = {
      // 1280x800: scale 1, the picture at (320, 160).
      {1280, 800, 0, 160, 0, 0},
      {1280, 800, 1279.9, 1119.9, 639, 479},
      {1280, 800, 320 + 216.5, 160 + 96.5, 216, 96},
      {1280, 800, 640, 10, 320, 0},     // the bar above: the top edge
      {1280, 800, 640, 799, 320, 479},  // the bar below: the bottom edge
      {1280, 800, -50, -1e12, 0, 0},    // wild values stay on an edge
      // 800x480: scale 1, the picture at (80, 0).
      {800, 480, 80, 0, 0, 0},
      {800, 480, 80 + 300.5, 200.5, 300, 200},
      {800, 480, 10, 240, 0, 240},     // the bar at the left
      {800, 480, 799, 479, 639, 479},  // the bar at the right
      // 1920x1080: scale 2, the picture at (320, 60).
      {1920, 1080, 320 + 2 * 100, 60 + 2 * 50, 100, 50},
      // 1280x1024: scale 2, the picture at (0, 32).
      {1280, 1024, 2 * 100 + 1, 32 + 2 * 50 + 1, 100, 50},
      // 640x480: the whole display.
      {640, 480, 639.99, 0.2, 639, 0},
  };
  for (const Case& c : cases) {
    int x = -1, y = -1;
    DisplayToScreen(FitPicture(c.Width, c.Height), c.X, c.Y, x, y);
    EXPECT_EQ(x, c.ScreenX) << c.Width << "x" << c.Height << " at " << c.X << "," << c.Y;
    EXPECT_EQ(y, c.ScreenY) << c.Width << "x" << c.Height << " at " << c.X << "," << c.Y;
  }
}

// Keys in the layout's terms reach the game as its key codes: arrows and
// Page Down (the keypad's too) as extended codes, the editing keys as their
// bytes, Control with a letter as a control byte, printable ASCII as
// itself, and nothing for the rest.
TEST(ConsoleKeys, LayoutKeysBecomeTheGamesCodes) {
  struct Case {
    std::uint32_t Keysym, Character;
    bool Control;
    std::vector<int> Codes;
  };
  const Case cases[] = {
      {XKB_KEY_Up, 0, false, {0, 72}},
      {XKB_KEY_KP_Down, 0, false, {0, 80}},
      {XKB_KEY_Right, 0, false, {0, 77}},
      {XKB_KEY_KP_Left, 0, false, {0, 75}},
      {XKB_KEY_Page_Down, 0, false, {0, 81}},
      {XKB_KEY_Escape, 27, false, {27}},
      {XKB_KEY_Return, 13, false, {13}},
      {XKB_KEY_KP_Enter, 13, false, {13}},
      {XKB_KEY_BackSpace, 8, false, {8}},
      {XKB_KEY_Tab, 9, false, {9}},
      {XKB_KEY_space, ' ', false, {' '}},
      {XKB_KEY_q, 'q', false, {'q'}},
      {XKB_KEY_Q, 'Q', false, {'Q'}},
      {XKB_KEY_c, 3, true, {3}},
      {XKB_KEY_C, 'C', true, {3}},
      {XKB_KEY_z, 'z', false, {'z'}},
      {XKB_KEY_adiaeresis, 0xe4, false, {}},
      {XKB_KEY_Shift_L, 0, false, {}},
      {XKB_KEY_F5, 0, false, {}},
      {XKB_KEY_KP_5, '5', false, {'5'}},
  };
  for (const Case& c : cases) {
    std::uint8_t codes[2] = {0xff, 0xff};
    const int count = KeyCodes(c.Keysym, c.Character, c.Control, codes);
    ASSERT_EQ(count, static_cast<int>(c.Codes.size())) << "keysym " << std::hex << c.Keysym;
    for (int i = 0; i < count; ++i) EXPECT_EQ(codes[i], c.Codes[static_cast<std::size_t>(i)]);
  }
}

// Ctrl+Alt+Fn switches consoles whether the layout names the switch or
// only the function key; a function key alone, or with one of the two, does not.
TEST(ConsoleKeys, ControlAltFunctionKeysSwitchConsoles) {
  EXPECT_EQ(SwitchTarget(XKB_KEY_XF86Switch_VT_1, true, true), 1);
  EXPECT_EQ(SwitchTarget(XKB_KEY_XF86Switch_VT_12, true, true), 12);
  EXPECT_EQ(SwitchTarget(XKB_KEY_F2, true, true), 2);
  EXPECT_EQ(SwitchTarget(XKB_KEY_F12, true, true), 12);
  EXPECT_EQ(SwitchTarget(XKB_KEY_F2, false, false), 0);
  EXPECT_EQ(SwitchTarget(XKB_KEY_F2, true, false), 0);
  EXPECT_EQ(SwitchTarget(XKB_KEY_F2, false, true), 0);
  EXPECT_EQ(SwitchTarget(XKB_KEY_Escape, true, true), 0);
}

// A row lands at the picture's place and scale with its colours widened,
// and nothing outside the picture's pixels of that row is touched.
TEST(ConsoleDisplay, RowsAreDrawnAtThePicturesPlaceAndScale) {
  EXPECT_EQ(ToXrgb(0xffff), 0xffffffu);
  EXPECT_EQ(ToXrgb(0x0000), 0x000000u);
  EXPECT_EQ(ToXrgb(0xf800), 0xff0000u);
  EXPECT_EQ(ToXrgb(0x07e0), 0x00ff00u);
  EXPECT_EQ(ToXrgb(0x001f), 0x0000ffu);
  for (const auto& [width, height] : {std::pair{1280, 800}, {800, 480}, {1920, 1080}}) {
    const PictureRect picture = FitPicture(width, height);
    const int scale = picture.W / ScreenWidth;
    const int pitch = width * 4 + 64;  // drivers pad their rows
    std::vector<std::uint32_t> buffer(static_cast<std::size_t>(pitch / 4 * height), 0x123456);
    std::vector<std::uint16_t> row(ScreenWidth);
    for (int x = 0; x < ScreenWidth; ++x)
      row[static_cast<std::size_t>(x)] = x % 2 ? 0xf800 : 0x001f;
    const int y = 479;
    ConvertRow(row.data(), y, picture, reinterpret_cast<std::uint8_t*>(buffer.data()), pitch);
    const auto at = [&](int px, int py) {
      return buffer[static_cast<std::size_t>(py * pitch / 4 + px)];
    };
    int drawn = 0;
    for (int py = 0; py < height; ++py)
      for (int px = 0; px < pitch / 4; ++px) {
        const bool inside = px >= picture.X && px < picture.X + picture.W &&
                            py >= picture.Y + y * scale && py < picture.Y + (y + 1) * scale;
        if (!inside) {
          ASSERT_EQ(at(px, py), 0x123456u) << width << "x" << height << " at " << px << "," << py;
          continue;
        }
        const int source = (px - picture.X) / scale;
        ASSERT_EQ(at(px, py), source % 2 ? 0xff0000u : 0x0000ffu);
        ++drawn;
      }
    EXPECT_EQ(drawn, ScreenWidth * scale * scale);
  }
}

}  // namespace
