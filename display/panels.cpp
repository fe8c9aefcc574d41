// Words on the screen: the message box, the info panel at the bottom, the
// status box and the progress bar.

#include <algorithm>
#include <cmath>
#include <string>

#include "display/display.h"

namespace {

constexpr Colour BoxBackground = 0x0001;
constexpr Colour BoxFrameColour = 0xAD55;
constexpr Colour BoxTitleColour = 0x73AE;
constexpr Colour BoxLineColour = 0xDEFB;
constexpr Colour ClearColour = 0x0000;
constexpr Colour PanelFrameColour = 0x52AA;
constexpr Colour PanelTextColour = 0x9CD3;
constexpr Colour StatusFrameColour = 0xEF7D;
constexpr Colour BarBackground = 0x2104;
constexpr Colour BarFilling = 0x52AA;

constexpr std::size_t MaxText = 255;
// InfoLineLength: characters that fit in one line of the info panel.
constexpr std::size_t InfoLineLength = 57;

constexpr std::uint8_t EnterKey = 13, EscapeKey = 27, SpaceKey = 32;

// Width of a text in 4-pixel halves of a character, for centring on x 320.
std::int16_t HalfWidth(std::size_t length) { return static_cast<std::int16_t>(4 * length); }

}  // namespace

void DrawMessageBox(const std::string& title, const std::string& text) {
  const std::string heading = title.substr(0, MaxText);
  // The closing "|" ends the last line; it is added after the cut to 255, so
  // a text of full length still shows its last line.
  std::string rest = text.substr(0, MaxText) + "|";
  int lines = 0;
  std::size_t longest = 0, current = 0;
  for (const char c : rest) {
    if (c == '|') {
      ++lines;
      longest = std::max(longest, current);
      current = 0;
    } else {
      ++current;
    }
  }
  const auto left = static_cast<std::int16_t>(300 - HalfWidth(longest));
  const auto right = static_cast<std::int16_t>(340 + HalfWidth(longest));
  const auto top = static_cast<std::int16_t>(220 - 6 * lines);
  const auto bottom = static_cast<std::int16_t>(260 + 6 * lines);

  SetFill(SolidFill, BoxBackground);
  FillBar(left, top, right, bottom);
  SetDrawColor(BoxFrameColour);
  DrawRectangle(left, top, right, bottom);
  DrawRectangle(left + 2, top + 2, right - 2, bottom - 2);
  // The title stands in a gap cut into the top of the double frame.
  FillBar(318 - HalfWidth(heading.size()), top - 2, 322 + HalfWidth(heading.size()), top + 2);
  SetDrawColor(BoxTitleColour);
  DrawText(320 - HalfWidth(heading.size()), top - 2, heading);

  SetDrawColor(BoxLineColour);
  for (int k = 0; !rest.empty(); ++k) {
    const std::size_t bar = rest.find('|');
    const std::string line = rest.substr(0, bar);
    rest.erase(0, bar + 1);
    DrawText(320 - HalfWidth(line.size()), static_cast<std::int16_t>(top + 20 + 12 * k), line);
  }
}

PanelObserver PanelWatch = {nullptr, nullptr, nullptr};

void MessageBox(const std::string& title, const std::string& text) {
  if (PanelWatch.MessageBox != nullptr) PanelWatch.MessageBox(title, text);
  DrawMessageBox(title, text);
  // Every code read counts by itself: an extended key's 0 and scan code are
  // both taken and ignored. ReadKeyCode waits, without spinning, until a key
  // is there, so the wait costs nothing while the box stands.
  for (;;) {
    const std::uint8_t code = ReadKeyCode();
    if (code == EnterKey || code == EscapeKey || code == SpaceKey) return;
  }
}

void ShowInfoPanel(const std::string& text) {
  if (PanelWatch.InfoPanel != nullptr) PanelWatch.InfoPanel(text);
  const std::string line = text.substr(0, MaxText);
  SetDrawColor(ClearColour);
  for (std::int16_t y = 459; y <= 479; ++y) DrawLine(40, y, 500, y);
  SetDrawColor(PanelFrameColour);
  if (line.size() <= InfoLineLength) {
    DrawRectangle(40, 469, 500, 479);
    SetDrawColor(PanelTextColour);
    DrawText(42, 471, line);
    return;
  }
  // Break after the last space among the first 57 characters, or after the
  // 57th when there is none; the space stays at the end of the first line.
  std::size_t breakAt = InfoLineLength;
  while (breakAt > 0 && line[breakAt - 1] != ' ') --breakAt;
  if (breakAt == 0) breakAt = InfoLineLength;
  DrawRectangle(40, 459, 500, 479);
  SetDrawColor(PanelTextColour);
  DrawText(42, 461, line.substr(0, breakAt));
  DrawText(42, 471, line.substr(breakAt));
}

void ShowStatus(const std::string& text) {
  SetDrawColor(ClearColour);
  for (std::int16_t y = 468; y <= 479; ++y) DrawLine(540, y, 639, y);
  SetDrawColor(StatusFrameColour);
  DrawLine(540, 468, 639, 468);
  DrawLine(540, 468, 540, 479);
  DrawLine(639, 468, 639, 479);
  DrawLine(540, 479, 639, 479);
  SetDrawColor(PanelTextColour);
  DrawText(542, 470, text.substr(0, MaxText));
}

void DrawProgressBar(std::int16_t x1, std::int16_t y1, std::int16_t x2, std::int16_t y2,
                     double fraction) {
  if (PanelWatch.ProgressBar != nullptr) PanelWatch.ProgressBar(x1, y1, x2, y2, fraction);
  SetDrawColor(PanelTextColour);
  SetFill(SolidFill, BarBackground);
  FillBar(x1, y1, x2, y2);
  DrawRectangle(x1, y1, x2, y2);
  // Round half to even (the default rounding mode); a fraction that is not a
  // number, or one far outside 0..1, fills nothing instead of overflowing.
  const double filled = std::nearbyint((x2 - x1 - 1) * fraction);
  const int w = filled >= -32768.0 && filled <= 32767.0 ? static_cast<int>(filled) : 0;
  SetFill(SolidFill, BarFilling);
  FillBar(x1 + 1, y1 + 1, static_cast<std::int16_t>(x1 + 1 + w), y2 - 1);
}
