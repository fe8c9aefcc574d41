// kelvar-patterns: draws test patterns through the drawing surface in a real
// window, for looking at the font, the colours and the scaling (for example
// under Xvfb with a screenshot). A bar then fills for three seconds while the
// program computes without calling in; any key ends the program.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "display/display.h"

namespace {

Colour Rgb(int red, int green, int blue) {
  return static_cast<Colour>((red & 31) << 11 | (green & 63) << 5 | (blue & 31));
}

void DrawFontChart(std::int16_t left, std::int16_t top) {
  SetDrawColor(0xFFFF);
  DrawText(left, top, "All 256 glyphs, 32 to a row:");
  for (int code = 0; code < 256; ++code) {
    std::int16_t x = static_cast<std::int16_t>(left + 10 * (code % 32));
    std::int16_t y = static_cast<std::int16_t>(top + 12 + 10 * (code / 32));
    SetDrawColor(code >= 32 && code <= 126 ? 0xFFFF : 0x52AA);
    DrawText(x, y, std::string(1, static_cast<char>(code)));
  }
}

void DrawColourRamps(std::int16_t left, std::int16_t top) {
  for (int x = 0; x < 256; ++x) {
    int level = x / 8;  // 0..31
    for (int y = 0; y < 8; ++y) {
      SetPixel(static_cast<std::int16_t>(left + x), static_cast<std::int16_t>(top + y),
               Rgb(level, 0, 0));
      SetPixel(static_cast<std::int16_t>(left + x), static_cast<std::int16_t>(top + 8 + y),
               Rgb(0, x / 4, 0));
      SetPixel(static_cast<std::int16_t>(left + x), static_cast<std::int16_t>(top + 16 + y),
               Rgb(0, 0, level));
      SetPixel(static_cast<std::int16_t>(left + x), static_cast<std::int16_t>(top + 24 + y),
               Rgb(level, x / 4, level));
    }
  }
}

void DrawLinesAndBoxes(std::int16_t left, std::int16_t top) {
  // A fan of lines from one point: every slope the rule handles.
  SetDrawColor(0xEF7D);
  for (int k = 0; k <= 8; ++k) {
    DrawLine(left, top, static_cast<std::int16_t>(left + 64),
             static_cast<std::int16_t>(top + 8 * k));
    DrawLine(left, top, static_cast<std::int16_t>(left + 8 * k),
             static_cast<std::int16_t>(top + 64));
  }
  // One-pixel checks: crisp scaling keeps them even.
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x)
      SetPixel(static_cast<std::int16_t>(left + 80 + x), static_cast<std::int16_t>(top + y),
               (x + y) % 2 == 0 ? 0xFFFF : 0x0000);
  SetDrawColor(0xFFFF);
  DrawRectangle(static_cast<std::int16_t>(left + 120), top, static_cast<std::int16_t>(left + 170),
                static_cast<std::int16_t>(top + 40));
  SetFill(SolidFill, 0x2104);
  FillBar(static_cast<std::int16_t>(left + 122), static_cast<std::int16_t>(top + 2),
          static_cast<std::int16_t>(left + 168), static_cast<std::int16_t>(top + 38));
  SetDrawColor(0x9CD3);
  DrawText(static_cast<std::int16_t>(left + 126), static_cast<std::int16_t>(top + 16), "box");
}

void DrawGameTexts(std::int16_t left, std::int16_t top) {
  const char* lines[] = {
      "Reading bitmaps...",
      "Error: Illegal Move!  (e2-e4) 1/2 = 50% ; a|b",
      "I have no legal moves|Game Over",
      "Best: g1-f3 = 35, nodes 123456; 'why?' @ 0:07",
      "abcdefghijklmnopqrstuvwxyz 0123456789",
      "ABCDEFGHIJKLMNOPQRSTUVWXYZ _-.,:;!?'\"()[]{}<>/\\|+*=#$%&@^`~",
  };
  Colour colours[] = {0x000F, 0xDEFB, 0x73AE, 0x9CD3, 0xFFFF, 0xAD55};
  for (int k = 0; k < 6; ++k) {
    SetDrawColor(colours[k]);
    DrawText(left, static_cast<std::int16_t>(top + 12 * k), lines[k]);
  }
}

}  // namespace

int main() {
  InitGraph(Driver64K, Mode640x480, "");
  if (GraphResult() != 0) {
    std::fprintf(stderr, "kelvar-patterns: no graphics mode (%d)\n", GraphResult());
    return 1;
  }
  ClearScreen();
  SetDrawColor(0xFFFF);
  DrawRectangle(0, 0, MaxX(), MaxY());
  DrawFontChart(8, 8);
  DrawColourRamps(352, 8);
  DrawLinesAndBoxes(352, 56);
  DrawGameTexts(8, 112);
  // The light blue of the game's light squares behind text in 0x000F.
  SetFill(SolidFill, 14);
  FillBar(8, 200, 200, 216);
  DrawText(12, 204, "Reading bitmaps...");

  // A bar that fills while the program computes and never calls in.
  SetDrawColor(0x9CD3);
  SetFill(SolidFill, 0x2104);
  FillBar(8, 240, 208, 252);
  DrawRectangle(8, 240, 208, 252);
  auto start = std::chrono::steady_clock::now();
  double fraction = 0;
  while (fraction < 1) {
    fraction = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / 3;
    int width = static_cast<int>(198 * std::min(fraction, 1.0));
    SetFill(SolidFill, 0x52AA);
    FillBar(9, 241, static_cast<std::int16_t>(9 + width), 251);
  }
  SetDrawColor(0xFFFF);
  DrawText(220, 242, "done - press a key");
  ReadKeyCode();
  CloseGraphics();
  return 0;
}
