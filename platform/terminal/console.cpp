// The Linux console's picture: its 16 colours, 8 of them behind a glyph, and
// only the block glyphs its font has. Each cell takes the glyph and colours
// that show its part of the screen best.

#include <algorithm>

#include "platform/core/services.h"
#include "platform/terminal/terminal_parts.h"

namespace {

// ConsolePalette: the console's 16 colours as it starts (the VGA's), the
// first 8 also behind the glyphs.
constexpr std::uint8_t ConsolePalette[16][3] = {
    {0, 0, 0},     {170, 0, 0},     {0, 170, 0},    {170, 85, 0},   {0, 0, 170},   {170, 0, 170},
    {0, 170, 170}, {170, 170, 170}, {85, 85, 85},   {255, 85, 85},  {85, 255, 85}, {255, 255, 85},
    {85, 85, 255}, {255, 85, 255},  {85, 255, 255}, {255, 255, 255}};

// A shade glyph dithers two colours over the whole cell, which reads as
// noise where a solid glyph is nearly as close: its error counts
// ShadePercent per cent of itself, plus ShadeMargin (squared-distance units
// summed over the four quarters; 600 is about 7 levels a channel in each
// quarter). Flat colours keep their solid glyphs, and only a mean clearly
// between two palette colours takes a shade.
constexpr int ShadePercent = 125;
constexpr int ShadeMargin = 600;

struct Mean {
  int R = 0, G = 0, B = 0;
};

int Distance(const Mean& m, int colour) {
  const std::uint8_t* p = ConsolePalette[colour];
  return ColourDistance(m.R, m.G, m.B, p[0], p[1], p[2]);
}

// NearestColour: the palette's nearest of the first count colours.
int NearestColour(const Mean& m, int count, int& error) {
  int best = 0;
  error = 1 << 30;
  for (int k = 0; k < count; ++k) {
    const int d = Distance(m, k);
    if (d < error) {
      error = d;
      best = k;
    }
  }
  return best;
}

// AreaMean: source's mean colour over screen pixels [x0, x1) x [y0, y1).
Mean AreaMean(const std::uint8_t* source, int x0, int x1, int y0, int y1) {
  long sum[3] = {0, 0, 0}, count = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) {
      const std::uint8_t* p = &source[(y * ScreenWidth + x) * 3];
      for (int k = 0; k < 3; ++k) sum[k] += p[k];
      ++count;
    }
  if (count == 0) return {};
  return {static_cast<int>(sum[0] / count), static_cast<int>(sum[1] / count),
          static_cast<int>(sum[2] / count)};
}

Mean Halfway(const Mean& a, const Mean& b) {
  return Mean{(a.R + b.R) / 2, (a.G + b.G) / 2, (a.B + b.B) / 2};
}

// BestShade: the shade glyph and colours nearest to mean all, and their error.
std::pair<Cell, int> BestShade(const Mean& all) {
  Cell shade{' ', 0, 0};
  int shadeError = 1 << 30;
  static constexpr std::uint32_t Glyphs[3] = {0x2591, 0x2592, 0x2593};
  for (int level = 0; level < 3; ++level)
    for (int front = 0; front < 16; ++front)
      for (int back = 0; back < 8; ++back) {
        const int a = level + 1;  // quarters of the cell in front
        const std::uint8_t *f = ConsolePalette[front], *b = ConsolePalette[back];
        const int error =
            ColourDistance(all.R, all.G, all.B, (f[0] * a + b[0] * (4 - a)) / 4,
                           (f[1] * a + b[1] * (4 - a)) / 4, (f[2] * a + b[2] * (4 - a)) / 4);
        if (error < shadeError) {
          shadeError = error;
          shade = {Glyphs[level], front, back};
        }
      }
  return {shade, shadeError};
}

}  // namespace

void ResetConsole(ConsoleState& state, const PictureLayout& layout) {
  state.Shown.assign(static_cast<std::size_t>(layout.Columns) * layout.Rows, Cell{});
}

// The cell's quarters are compared with a blank, a full block, the four half
// blocks and, for a mean between two colours, the three shades.
Cell ConsoleCell(ConsoleState& state, const PictureLayout& l, const std::uint8_t* source, int c,
                 int r) {
  const int x0 = c * ScreenWidth / l.Columns,
            x2 = std::max((c + 1) * ScreenWidth / l.Columns, x0 + 1);
  const int y0 = r * ScreenHeight / l.Rows, y2 = std::max((r + 1) * ScreenHeight / l.Rows, y0 + 1);
  const int x1 = std::max((x0 + x2) / 2, x0 + 1), y1 = std::max((y0 + y2) / 2, y0 + 1);
  const Mean q[4] = {AreaMean(source, x0, x1, y0, y1), AreaMean(source, x1, x2, y0, y1),
                     AreaMean(source, x0, x1, y1, y2), AreaMean(source, x1, x2, y1, y2)};
  const Mean all = Halfway(Halfway(q[0], q[1]), Halfway(q[2], q[3]));
  Cell best{' ', 0, 0};
  int bestError = 1 << 30;
  // Two halves: glyph shows its front colour over half 'front' and its
  // back colour over 'back' (each half two quarters).
  const auto halves = [&](std::uint32_t glyph, int a, int b, int d, int e) {
    int frontError, backError;
    const int front = NearestColour(Halfway(q[a], q[b]), 16, frontError);
    const int back = NearestColour(Halfway(q[d], q[e]), 8, backError);
    const int error =
        Distance(q[a], front) + Distance(q[b], front) + Distance(q[d], back) + Distance(q[e], back);
    if (error < bestError) {
      bestError = error;
      best = {glyph, front, back};
    }
  };
  {
    int unused;
    const int back = NearestColour(all, 8, unused);
    const int front = NearestColour(all, 16, unused);
    int blank = 0, block = 0;
    for (const Mean& m : q) {
      blank += Distance(m, back);
      block += Distance(m, front);
    }
    best = {' ', 0, back};
    bestError = blank;
    if (block < bestError) {
      bestError = block;
      best = {0x2588, front, 0};
    }
  }
  halves(0x2580, 0, 1, 2, 3);  // upper half
  halves(0x2584, 2, 3, 0, 1);  // lower half
  halves(0x258C, 0, 2, 1, 3);  // left half
  halves(0x2590, 1, 3, 0, 2);  // right half
  const std::uint32_t key = static_cast<std::uint32_t>(all.R << 16 | all.G << 8 | all.B);
  auto found = state.Shades.find(key);
  if (found == state.Shades.end()) {
    if (state.Shades.size() >= 65536) state.Shades.clear();
    found = state.Shades.emplace(key, BestShade(all)).first;
  }
  // The shade's error over the four quarters: its distance from the mean in
  // each, and each quarter's own distance from the mean.
  int shadeError = 4 * found->second.second;
  for (const Mean& m : q) shadeError += ColourDistance(m.R, m.G, m.B, all.R, all.G, all.B);
  if (shadeError * ShadePercent / 100 + ShadeMargin < bestError) best = found->second.first;
  return best;
}

void PaintConsole(ConsoleState& state, const PictureLayout& layout, const std::uint8_t* source,
                  bool whole, std::string& out) {
  CellWriter writer;
  for (int r = 0; r < layout.Rows; ++r)
    for (int c = 0; c < layout.Columns; ++c) {
      const Cell cell = ConsoleCell(state, layout, source, c, r);
      Cell& shown = state.Shown[static_cast<std::size_t>(r * layout.Columns + c)];
      if (!whole && cell == shown) continue;
      shown = cell;
      AppendCell(writer, layout, r, c, cell, true, out);
    }
}
