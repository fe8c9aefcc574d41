// The picture in the terminal.
//
// Symbols: chafa turns the screen into a grid of block symbols with a 24-bit
// foreground and background each; the grid is compared with the one the
// terminal shows, and only changed cells are sent (a cursor move where the
// next changed cell does not follow the last one, colours only when they
// change). The Linux console's grid is chosen here instead (ConsoleCell):
// its 16 colours, 8 of them behind, and the glyphs its font has.
//
// Sixels and kitty graphics: the screen is scaled here to the picture's size
// in the terminal's pixels (a whole scale repeats pixels, below 1x each pixel
// is the average of the area it covers, an edge's mix in 16 levels a
// channel), so a part of it can be encoded on its own and lands exactly on
// the pixels it replaces. The changed cells are gathered into rectangles
// (nearby changes share one), each sent as an image (images.cpp encodes
// them): a sixel image from the rectangle's first cell, a whole number of
// sixel rows high, with only the pixels that changed (the rest left as they
// are shown); a kitty image of the changed pixels' bounds at its own size,
// above those before it. Per cell the kitty images seen there are kept; one
// that covers a cell whole hides those below, an image seen nowhere is
// deleted, and no cell shows more than a few, so the terminal's memory stays
// small.

#include <chafa.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <unordered_map>

#include "platform/terminal/terminal_parts.h"

namespace {

constexpr int ScreenW = 640;
constexpr int ScreenH = 480;

// Cell: one symbol and its colours, as packed 0xRRGGBB.
struct Cell {
  std::uint32_t Symbol;
  std::int32_t Foreground;
  std::int32_t Background;
  bool operator==(const Cell&) const = default;
};

// Channels: bytes of a scaled pixel (red, green, blue, an opaque alpha),
// so that every row of it starts on a word.
constexpr int Channels = 4;

// Weight: a source pixel's share of a scaled pixel.
struct Weight {
  int Source;
  int Amount;
};

void Rgb565ToRgb8(std::uint16_t value, std::uint8_t* out) {
  const unsigned r = value >> 11, g = (value >> 5) & 63, b = value & 31;
  out[0] = static_cast<std::uint8_t>(r << 3 | r >> 2);
  out[1] = static_cast<std::uint8_t>(g << 2 | g >> 4);
  out[2] = static_cast<std::uint8_t>(b << 3 | b >> 2);
}

// AreaWeights: for each of the size scaled pixels, the source pixels (of
// from) it covers and by how much; the amounts of one scaled pixel add up
// to from.
std::vector<std::vector<Weight>> AreaWeights(int from, int size) {
  std::vector<std::vector<Weight>> table(static_cast<std::size_t>(size));
  for (int out = 0; out < size; ++out) {
    // In units of 1 / size of a source pixel: out covers [out*from, (out+1)*from).
    const long start = static_cast<long>(out) * from, end = start + from;
    for (long source = start / size; source * size < end && source < from; ++source) {
      const long a = std::max(start, source * size), b = std::min(end, (source + 1) * size);
      if (b > a)
        table[static_cast<std::size_t>(out)].push_back(
            {static_cast<int>(source), static_cast<int>(b - a)});
    }
  }
  return table;
}

void AppendNumber(std::string& out, long value) {
  char digits[24];
  int at = sizeof digits;
  const bool negative = value < 0;
  unsigned long rest =
      negative ? 0UL - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
  do {
    digits[--at] = static_cast<char>('0' + rest % 10);
    rest /= 10;
  } while (rest != 0);
  if (negative) digits[--at] = '-';
  out.append(digits + at, sizeof digits - static_cast<std::size_t>(at));
}

void MoveTo(std::string& out, int row, int column) {
  out += "\x1b[";
  AppendNumber(out, row + 1);
  out += ';';
  AppendNumber(out, column + 1);
  out += 'H';
}

void AppendUtf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xc0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3f));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xe0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (c & 0x3f));
  } else {
    out += static_cast<char>(0xf0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3f));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (c & 0x3f));
  }
}

// AppendColour: ";38;2;R;G;B" (selector 38 foreground, 48 background) for a
// 24-bit colour; for a console palette number the 16-colour form (30..37 and
// 90..97 in front, 40..47 behind).
void AppendColour(std::string& out, int selector, std::int32_t rgb, bool console) {
  out += ';';
  if (console) {
    const int base = selector == 38 ? (rgb < 8 ? 30 : 90 - 8) : 40;
    AppendNumber(out, base + std::clamp(rgb, 0, selector == 38 ? 15 : 7));
    return;
  }
  AppendNumber(out, selector);
  out += ";2;";
  AppendNumber(out, (rgb >> 16) & 255);
  out += ';';
  AppendNumber(out, (rgb >> 8) & 255);
  out += ';';
  AppendNumber(out, rgb & 255);
}

}  // namespace

struct Picture {
  PictureLayout Layout;
  bool Whole = true;
  ChafaTermInfo* Info = nullptr;
  ChafaSymbolMap* Symbols = nullptr;
  ChafaCanvas* Canvas = nullptr;  // symbols mode: the whole grid
  // Console mode: the best shade for a mean colour and its error, once worked out.
  std::unordered_map<std::uint32_t, std::pair<Cell, int>> Shades;
  // Source: the screen as RGB 8-8-8.
  std::vector<std::uint8_t> Source = std::vector<std::uint8_t>(ScreenW * ScreenH * 3);
  std::vector<Cell> Shown;  // symbols mode: the grid the terminal shows
  // Pixel modes: Scaled is the picture at its size in the terminal, padded
  // to whole cells and six rows more (black); Sent is what the terminal shows.
  int FrameWidth = 0, FrameHeight = 0;
  std::vector<std::uint8_t> Scaled, Sent;
  std::vector<std::vector<Weight>> AcrossWeights, DownWeights;
  std::vector<std::uint32_t> Row;  // one scaled-across source row, 3 sums a pixel
  // Kitty mode: per cell the images seen there (the last on top), the
  // cells each image still shows, the next image's number.
  std::vector<std::vector<std::uint32_t>> KittyStack;
  std::map<std::uint32_t, int> KittyCells;
  std::uint32_t KittyNext = 1;
};

Picture* NewPicture() {
  auto* picture = new Picture;
  picture->Info = chafa_term_db_get_fallback_info(chafa_term_db_get_default());
  picture->Symbols = chafa_symbol_map_new();
  // Blocks, halves and quadrants are in every terminal font; no wide or
  // ambiguous-width symbols, which would shift the cells after them.
  chafa_symbol_map_add_by_tags(
      picture->Symbols,
      static_cast<ChafaSymbolTags>(CHAFA_SYMBOL_TAG_BLOCK | CHAFA_SYMBOL_TAG_SPACE |
                                   CHAFA_SYMBOL_TAG_SOLID));
  chafa_symbol_map_remove_by_tags(
      picture->Symbols,
      static_cast<ChafaSymbolTags>(CHAFA_SYMBOL_TAG_WIDE | CHAFA_SYMBOL_TAG_AMBIGUOUS |
                                   CHAFA_SYMBOL_TAG_UGLY));
  return picture;
}

void FreePicture(Picture* picture) {
  if (picture == nullptr) return;
  if (picture->Canvas != nullptr) chafa_canvas_unref(picture->Canvas);
  chafa_symbol_map_unref(picture->Symbols);
  chafa_term_info_unref(picture->Info);
  delete picture;
}

namespace {

ChafaCanvas* NewCanvas(const Picture& picture, int columns, int rows, int cellWidth,
                       int cellHeight) {
  ChafaCanvasConfig* config = chafa_canvas_config_new();
  chafa_canvas_config_set_pixel_mode(config, CHAFA_PIXEL_MODE_SYMBOLS);
  chafa_canvas_config_set_canvas_mode(config, CHAFA_CANVAS_MODE_TRUECOLOR);
  chafa_canvas_config_set_geometry(config, columns, rows);
  chafa_canvas_config_set_cell_geometry(config, cellWidth, cellHeight);
  chafa_canvas_config_set_dither_mode(config, CHAFA_DITHER_MODE_NONE);
  chafa_canvas_config_set_symbol_map(config, picture.Symbols);
  // The board is flat colours: a light search for each cell's symbol is enough.
  chafa_canvas_config_set_work_factor(config, 0.1f);
  ChafaCanvas* canvas = chafa_canvas_new(config);
  chafa_canvas_config_unref(config);
  return canvas;
}

void UpdateSource(Picture& picture, const std::uint16_t* screen, int firstRow, int lastRow) {
  for (int y = firstRow; y <= lastRow; ++y)
    for (int x = 0; x < ScreenW; ++x)
      Rgb565ToRgb8(screen[y * ScreenW + x], &picture.Source[(y * ScreenW + x) * 3]);
}

// ---- The Linux console ----

// ConsolePalette: the console's 16 colours as it starts (the VGA's), the
// first 8 also behind the glyphs.
constexpr std::uint8_t ConsolePalette[16][3] = {
    {0, 0, 0},     {170, 0, 0},     {0, 170, 0},    {170, 85, 0},   {0, 0, 170},   {170, 0, 170},
    {0, 170, 170}, {170, 170, 170}, {85, 85, 85},   {255, 85, 85},  {85, 255, 85}, {255, 255, 85},
    {85, 85, 255}, {255, 85, 255},  {85, 255, 255}, {255, 255, 255}};

struct Mean {
  int R = 0, G = 0, B = 0;
};

int Distance(const Mean& m, int r, int g, int b) {
  return (m.R - r) * (m.R - r) + (m.G - g) * (m.G - g) + (m.B - b) * (m.B - b);
}

// NearestColour: the palette's nearest of the first count colours.
int NearestColour(const Mean& m, int count, int& error) {
  int best = 0;
  error = 1 << 30;
  for (int k = 0; k < count; ++k) {
    const int d = Distance(m, ConsolePalette[k][0], ConsolePalette[k][1], ConsolePalette[k][2]);
    if (d < error) {
      error = d;
      best = k;
    }
  }
  return best;
}

// AreaMean: the source's mean colour over screen pixels [x0, x1) x [y0, y1).
Mean AreaMean(const Picture& picture, int x0, int x1, int y0, int y1) {
  long sum[3] = {0, 0, 0}, count = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) {
      const std::uint8_t* p = &picture.Source[(y * ScreenW + x) * 3];
      for (int k = 0; k < 3; ++k) sum[k] += p[k];
      ++count;
    }
  if (count == 0) return {};
  return {static_cast<int>(sum[0] / count), static_cast<int>(sum[1] / count),
          static_cast<int>(sum[2] / count)};
}

// ConsoleCell: the glyph of the console's font and the colours (palette
// numbers: 16 in front, 8 behind) that show the cell's part of the screen
// best: the cell's quarters are compared with a blank, a full block, the
// four half blocks and, for a mean between two colours, the three shades.
Cell ConsoleCell(Picture& picture, int c, int r) {
  const PictureLayout& l = picture.Layout;
  const int x0 = c * ScreenW / l.Columns, x2 = std::max((c + 1) * ScreenW / l.Columns, x0 + 1);
  const int y0 = r * ScreenH / l.Rows, y2 = std::max((r + 1) * ScreenH / l.Rows, y0 + 1);
  const int x1 = std::max((x0 + x2) / 2, x0 + 1), y1 = std::max((y0 + y2) / 2, y0 + 1);
  const Mean q[4] = {AreaMean(picture, x0, x1, y0, y1), AreaMean(picture, x1, x2, y0, y1),
                     AreaMean(picture, x0, x1, y1, y2), AreaMean(picture, x1, x2, y1, y2)};
  const auto mean = [](const Mean& a, const Mean& b) {
    return Mean{(a.R + b.R) / 2, (a.G + b.G) / 2, (a.B + b.B) / 2};
  };
  const Mean all = mean(mean(q[0], q[1]), mean(q[2], q[3]));
  Cell best{' ', 0, 0};
  int bestError = 1 << 30;
  // Two halves: glyph shows its front colour over half 'front' and its
  // back colour over 'back' (each half two quarters).
  const auto halves = [&](std::uint32_t glyph, int a, int b, int d, int e) {
    int frontError, backError;
    const int front = NearestColour(mean(q[a], q[b]), 16, frontError);
    const int back = NearestColour(mean(q[d], q[e]), 8, backError);
    int error = 0;
    for (int k : {a, b})
      error += Distance(q[k], ConsolePalette[front][0], ConsolePalette[front][1],
                        ConsolePalette[front][2]);
    for (int k : {d, e})
      error +=
          Distance(q[k], ConsolePalette[back][0], ConsolePalette[back][1], ConsolePalette[back][2]);
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
      blank +=
          Distance(m, ConsolePalette[back][0], ConsolePalette[back][1], ConsolePalette[back][2]);
      block +=
          Distance(m, ConsolePalette[front][0], ConsolePalette[front][1], ConsolePalette[front][2]);
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
  // The shades mix two colours evenly over the cell; they count as a little
  // worse than their error, so flat colours keep their solid glyphs.
  const std::uint32_t key = static_cast<std::uint32_t>(all.R << 16 | all.G << 8 | all.B);
  auto found = picture.Shades.find(key);
  if (found == picture.Shades.end()) {
    if (picture.Shades.size() >= 65536) picture.Shades.clear();
    Cell shade{' ', 0, 0};
    int shadeError = 1 << 30;
    static constexpr std::uint32_t Glyphs[3] = {0x2591, 0x2592, 0x2593};
    for (int level = 0; level < 3; ++level)
      for (int front = 0; front < 16; ++front)
        for (int back = 0; back < 8; ++back) {
          const int a = level + 1;  // quarters of the cell in front
          const Mean mix{(ConsolePalette[front][0] * a + ConsolePalette[back][0] * (4 - a)) / 4,
                         (ConsolePalette[front][1] * a + ConsolePalette[back][1] * (4 - a)) / 4,
                         (ConsolePalette[front][2] * a + ConsolePalette[back][2] * (4 - a)) / 4};
          const int error = Distance(all, mix.R, mix.G, mix.B);
          if (error < shadeError) {
            shadeError = error;
            shade = {Glyphs[level], front, back};
          }
        }
    found = picture.Shades.emplace(key, std::make_pair(shade, shadeError)).first;
  }
  int shadeError = 4 * found->second.second;
  for (const Mean& m : q) shadeError += Distance(m, all.R, all.G, all.B);
  if (shadeError * 5 / 4 + 600 < bestError) best = found->second.first;
  return best;
}

void PaintSymbols(Picture& picture, std::string& out) {
  const PictureLayout& l = picture.Layout;
  const bool console = l.Mode == TerminalMode::Console;
  if (!console)
    chafa_canvas_draw_all_pixels(picture.Canvas, CHAFA_PIXEL_RGB8, picture.Source.data(), ScreenW,
                                 ScreenH, ScreenW * 3);
  int atRow = -1, atColumn = -1;
  std::int32_t foreground = -1, background = -1;
  for (int r = 0; r < l.Rows; ++r)
    for (int c = 0; c < l.Columns; ++c) {
      Cell cell{};
      if (console) {
        cell = ConsoleCell(picture, c, r);
      } else {
        cell.Symbol = chafa_canvas_get_char_at(picture.Canvas, c, r);
        chafa_canvas_get_colors_at(picture.Canvas, c, r, &cell.Foreground, &cell.Background);
      }
      Cell& shown = picture.Shown[static_cast<std::size_t>(r * l.Columns + c)];
      if (!picture.Whole && cell == shown) continue;
      shown = cell;
      if (r != atRow || c != atColumn) MoveTo(out, l.Top + r, l.Left + c);
      // A space shows only its background, a full block only its foreground.
      const bool needForeground = cell.Symbol != ' ' && cell.Foreground != foreground;
      const bool needBackground = cell.Symbol != 0x2588 && cell.Background != background;
      if (needForeground || needBackground) {
        out += "\x1b[";
        std::size_t start = out.size();
        if (needForeground) AppendColour(out, 38, cell.Foreground, console);
        if (needBackground) AppendColour(out, 48, cell.Background, console);
        out.erase(start, 1);  // the first ';'
        out += 'm';
        if (needForeground) foreground = cell.Foreground;
        if (needBackground) background = cell.Background;
      }
      AppendUtf8(out, cell.Symbol);
      atRow = r;
      atColumn = c + 1;
    }
}

// ScaleRows: the scaled picture's rows first..last from the source.
void ScaleRows(Picture& picture, int first, int last) {
  const PictureLayout& l = picture.Layout;
  const int fw = picture.FrameWidth;
  std::uint8_t* scaled = picture.Scaled.data();
  if (l.Width >= ScreenW) {
    const int scale = l.Width / ScreenW;
    for (int y = first; y <= last; ++y) {
      const std::uint8_t* from = &picture.Source[(y / scale) * ScreenW * 3];
      std::uint8_t* to = scaled + static_cast<std::size_t>(y) * fw * Channels;
      for (int x = 0; x < l.Width; ++x) std::memcpy(to + x * Channels, from + (x / scale) * 3, 3);
    }
    return;
  }
  // Below 1x: across, then down, each pixel the average of its area.
  std::vector<std::uint32_t>& row = picture.Row;
  for (int y = first; y <= last; ++y) {
    std::uint8_t* to = scaled + static_cast<std::size_t>(y) * fw * Channels;
    std::vector<std::uint32_t> sums(static_cast<std::size_t>(l.Width) * 3, 0);
    for (const Weight& down : picture.DownWeights[static_cast<std::size_t>(y)]) {
      const std::uint8_t* from = &picture.Source[down.Source * ScreenW * 3];
      row.assign(static_cast<std::size_t>(l.Width) * 3, 0);
      for (int x = 0; x < l.Width; ++x)
        for (const Weight& across : picture.AcrossWeights[static_cast<std::size_t>(x)])
          for (int k = 0; k < 3; ++k)
            row[x * 3 + k] +=
                static_cast<std::uint32_t>(from[across.Source * 3 + k]) * across.Amount;
      for (std::size_t i = 0; i < sums.size(); ++i) sums[i] += row[i] * down.Amount;
    }
    const std::uint32_t total = static_cast<std::uint32_t>(ScreenW) * ScreenH;
    // A pixel over one colour is that colour exactly; a mix of colours (an
    // edge) takes the nearest of 16 levels a channel, so that the mixes
    // along an edge are a few colours rather than dozens.
    const std::vector<Weight>& downs = picture.DownWeights[static_cast<std::size_t>(y)];
    for (int x = 0; x < l.Width; ++x) {
      const std::vector<Weight>& acrosses = picture.AcrossWeights[static_cast<std::size_t>(x)];
      const std::uint8_t* one =
          &picture.Source[(downs[0].Source * ScreenW + acrosses[0].Source) * 3];
      bool mixed = false;
      for (const Weight& down : downs)
        for (const Weight& across : acrosses)
          mixed = mixed || std::memcmp(&picture.Source[(down.Source * ScreenW + across.Source) * 3],
                                       one, 3) != 0;
      for (int k = 0; k < 3; ++k) {
        const std::uint32_t average = (sums[x * 3 + k] + total / 2) / total;
        to[x * Channels + k] =
            static_cast<std::uint8_t>(mixed ? (average * 15 + 127) / 255 * 17 : average);
      }
    }
  }
}

// CellChanged: the scaled picture differs from what was sent in this cell.
bool CellChanged(const Picture& picture, int r, int c) {
  const PictureLayout& l = picture.Layout;
  const std::size_t stride = static_cast<std::size_t>(picture.FrameWidth) * Channels;
  const std::size_t offset = static_cast<std::size_t>(r) * l.CellHeight * stride +
                             static_cast<std::size_t>(c) * l.CellWidth * Channels;
  for (int y = 0; y < l.CellHeight; ++y)
    if (std::memcmp(&picture.Scaled[offset + y * stride], &picture.Sent[offset + y * stride],
                    static_cast<std::size_t>(l.CellWidth) * Channels) != 0)
      return true;
  return false;
}

// CellRect: cells Left..Right of rows Top..Bottom.
struct CellRect {
  int Left, Top, Right, Bottom;
};

// RectGap: changed cells at most this many unchanged cells apart go into
// one rectangle (an image's own cost is worth a few cells).
constexpr int RectGap = 1;

// ChangedRectangles: rectangles covering every changed cell of rows
// first..last: runs of changed cells in a row (gaps of up to RectGap
// joined), each run joined to the rectangles of the row above it reaches.
std::vector<CellRect> ChangedRectangles(const Picture& picture, int first, int last) {
  const PictureLayout& l = picture.Layout;
  std::vector<CellRect> done, open;
  for (int r = first; r <= last; ++r) {
    std::vector<CellRect> runs;
    for (int c = 0; c < l.Columns; ++c) {
      if (!picture.Whole && !CellChanged(picture, r, c)) continue;
      if (!runs.empty() && c - runs.back().Right <= RectGap + 1)
        runs.back().Right = c;
      else
        runs.push_back({c, r, c, r});
    }
    std::vector<CellRect> next;
    for (CellRect run : runs) {
      // Every open rectangle this run touches (or a joined one does) joins it.
      for (bool joined = true; joined;) {
        joined = false;
        for (std::vector<CellRect>* list : {&open, &next})
          for (std::size_t k = 0; k < list->size();) {
            const CellRect& o = (*list)[k];
            if (o.Left <= run.Right + RectGap + 1 && run.Left <= o.Right + RectGap + 1) {
              run = {std::min(run.Left, o.Left), std::min(run.Top, o.Top),
                     std::max(run.Right, o.Right), r};
              list->erase(list->begin() + static_cast<long>(k));
              joined = true;
            } else {
              ++k;
            }
          }
      }
      next.push_back(run);
    }
    // Rectangles no run of this row reached are finished.
    done.insert(done.end(), open.begin(), open.end());
    open = std::move(next);
  }
  done.insert(done.end(), open.begin(), open.end());
  return done;
}

// KittyStackLimit: images a cell may show at once; a new image that would
// be one too many somewhere covers that cell whole instead.
constexpr std::size_t KittyStackLimit = 6;
// KittyImageLimit: images kept in all before they are replaced by one.
constexpr std::size_t KittyImageLimit = 256;

// PlaceKittyImage: the scaled picture's pixels x, y, w x h as a kitty image
// of its own, at its own size, placed at the cell holding (x, y) with that
// pixel's offset in it, above every image before it (z, its number). Per
// cell the images seen there are kept: one that covers a cell whole hides
// those below it, and an image seen in no cell is deleted. q=2: the
// terminal answers nothing.
void PlaceKittyImage(Picture& picture, int x, int y, int w, int h, std::string& out) {
  const PictureLayout& l = picture.Layout;
  const auto cellRange = [&](int& c0, int& c1, int& r0, int& r1) {
    c0 = x / l.CellWidth;
    c1 = (x + w - 1) / l.CellWidth;
    r0 = y / l.CellHeight;
    r1 = (y + h - 1) / l.CellHeight;
  };
  const auto covers = [&](int c, int r) {
    return x <= c * l.CellWidth && (c + 1) * l.CellWidth <= x + w && y <= r * l.CellHeight &&
           (r + 1) * l.CellHeight <= y + h;
  };
  int c0, c1, r0, r1;
  cellRange(c0, c1, r0, r1);
  // Too many images in a cell it only partly covers: it covers its cells whole.
  bool crowded = false;
  for (int r = r0; r <= r1; ++r)
    for (int c = c0; c <= c1; ++c)
      crowded =
          crowded || (!covers(c, r) &&
                      picture.KittyStack[static_cast<std::size_t>(r * l.Columns + c)].size() >=
                          KittyStackLimit);
  if (crowded) {
    x = c0 * l.CellWidth;
    y = r0 * l.CellHeight;
    w = (c1 + 1) * l.CellWidth - x;
    h = (r1 + 1) * l.CellHeight - y;
  }
  const std::uint32_t number = picture.KittyNext++;
  MoveTo(out, l.Top + r0, l.Left + c0);
  const std::size_t stride = static_cast<std::size_t>(picture.FrameWidth) * Channels;
  AppendKittyImage(
      &picture
           .Scaled[static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x) * Channels],
      stride, w, h, x - c0 * l.CellWidth, y - r0 * l.CellHeight, number, out);
  int seen = 0;
  for (int r = r0; r <= r1; ++r)
    for (int c = c0; c <= c1; ++c) {
      std::vector<std::uint32_t>& stack =
          picture.KittyStack[static_cast<std::size_t>(r * l.Columns + c)];
      if (covers(c, r)) {
        for (std::uint32_t below : stack)
          if (--picture.KittyCells[below] == 0) {
            picture.KittyCells.erase(below);
            out += "\x1b_Ga=d,d=I,q=2,i=" + std::to_string(below) + "\x1b\\";
          }
        stack.clear();
      }
      stack.push_back(number);
      ++seen;
    }
  picture.KittyCells[number] = seen;
  for (int row = y; row < y + h; ++row)
    std::memcpy(&picture.Sent[row * stride + x * Channels],
                &picture.Scaled[row * stride + x * Channels],
                static_cast<std::size_t>(w) * Channels);
}

// ChangedPixels: the bounds of the pixels of cells rect that differ from
// what the terminal shows; false when none does.
bool ChangedPixels(const Picture& picture, const CellRect& rect, int& x, int& y, int& w, int& h) {
  const PictureLayout& l = picture.Layout;
  const std::size_t stride = static_cast<std::size_t>(picture.FrameWidth) * Channels;
  int left = picture.FrameWidth, right = -1, top = -1, bottom = -1;
  for (int row = rect.Top * l.CellHeight; row < (rect.Bottom + 1) * l.CellHeight; ++row) {
    const std::uint8_t* now = &picture.Scaled[row * stride];
    const std::uint8_t* sent = &picture.Sent[row * stride];
    for (int px = rect.Left * l.CellWidth; px < (rect.Right + 1) * l.CellWidth; ++px)
      if (std::memcmp(now + px * Channels, sent + px * Channels, 3) != 0) {
        left = std::min(left, px);
        right = std::max(right, px);
        if (top < 0) top = row;
        bottom = row;
      }
  }
  if (right < 0) return false;
  x = left;
  y = top;
  w = right - left + 1;
  h = bottom - top + 1;
  return true;
}

void PaintPixels(Picture& picture, int firstRow, int lastRow, std::string& out) {
  const PictureLayout& l = picture.Layout;
  // The scaled rows that the changed screen rows reach.
  const int first = static_cast<int>(static_cast<long>(firstRow) * l.Height / ScreenH);
  const int last = std::min(
      l.Height - 1,
      static_cast<int>((static_cast<long>(lastRow + 1) * l.Height + ScreenH - 1) / ScreenH) - 1);
  ScaleRows(picture, first, last);
  const int firstCellRow = first / l.CellHeight, lastCellRow = last / l.CellHeight;
  // Kitty: the whole picture, or, once many images are kept (a long wander
  // of the pointer leaves slivers of each), all of them replaced by one.
  if (l.Mode == TerminalMode::Kitty &&
      (picture.Whole || picture.KittyCells.size() > KittyImageLimit)) {
    // Every image this picture placed goes, the terminal's memory with them.
    out += "\x1b_Ga=d,d=A,q=2\x1b\\";
    picture.KittyCells.clear();
    for (std::vector<std::uint32_t>& stack : picture.KittyStack) stack.clear();
    PlaceKittyImage(picture, 0, 0, l.Columns * l.CellWidth, l.Rows * l.CellHeight, out);
    return;
  }
  const std::size_t stride = static_cast<std::size_t>(picture.FrameWidth) * Channels;
  for (const CellRect& rect : ChangedRectangles(picture, firstCellRow, lastCellRow)) {
    const int x = rect.Left * l.CellWidth, y = rect.Top * l.CellHeight;
    if (l.Mode == TerminalMode::Kitty) {
      // Only the changed pixels' bounds: a pointer costs about its own size.
      int px, py, pw, ph;
      if (ChangedPixels(picture, rect, px, py, pw, ph))
        PlaceKittyImage(picture, px, py, pw, ph, out);
      continue;
    }
    // Sixels: the rectangle's pixels down to the picture's last row, in
    // whole sixel rows of six (the frame has room for the last one).
    const int w = std::min((rect.Right + 1) * l.CellWidth, picture.FrameWidth) - x;
    const int pictureBottom = std::min((rect.Bottom + 1) * l.CellHeight, l.Height);
    const int h = (pictureBottom - y + 5) / 6 * 6;
    // Only the pixels that changed: the rest keep what the terminal shows,
    // so a moving pointer costs its own outline.
    MoveTo(out, l.Top + rect.Top, l.Left + rect.Left);
    const std::size_t at = static_cast<std::size_t>(y) * stride + x * Channels;
    AppendSixelImage(&picture.Scaled[at], picture.Whole ? nullptr : &picture.Sent[at], stride, w, h,
                     out);
    for (int row = y; row < y + h; ++row)
      std::memcpy(&picture.Sent[row * stride + x * Channels],
                  &picture.Scaled[row * stride + x * Channels],
                  static_cast<std::size_t>(w) * Channels);
  }
}

// Paint: the source's rows firstRow..lastRow (all of them when the whole
// picture is due) to the terminal.
void Paint(Picture& p, int firstRow, int lastRow, std::string& out) {
  if (p.Whole)
    out +=
        p.Layout.Mode == TerminalMode::Console ? "\x1b[0;40m\x1b[2J" : "\x1b[0;48;2;0;0;0m\x1b[2J";
  if (p.Layout.Mode == TerminalMode::Symbols || p.Layout.Mode == TerminalMode::Console)
    PaintSymbols(p, out);
  else
    PaintPixels(p, firstRow, lastRow, out);
  p.Whole = false;
}

}  // namespace

void ResetPicture(Picture* picture, const PictureLayout& layout) {
  Picture& p = *picture;
  p.Layout = layout;
  p.Whole = true;
  if (p.Canvas != nullptr) chafa_canvas_unref(p.Canvas);
  p.Canvas = nullptr;
  if (layout.Mode == TerminalMode::Symbols || layout.Mode == TerminalMode::Console) {
    if (layout.Mode == TerminalMode::Symbols)
      p.Canvas = NewCanvas(p, layout.Columns, layout.Rows, layout.CellWidth, layout.CellHeight);
    p.Shown.assign(static_cast<std::size_t>(layout.Columns) * layout.Rows, Cell{});
    return;
  }
  p.FrameWidth = layout.Columns * layout.CellWidth;
  p.FrameHeight = layout.Rows * layout.CellHeight + 6;
  p.Scaled.assign(static_cast<std::size_t>(p.FrameWidth) * p.FrameHeight * Channels, 0);
  // Black and opaque outside the picture.
  for (std::size_t at = 3; at < p.Scaled.size(); at += Channels) p.Scaled[at] = 255;
  p.Sent = p.Scaled;
  p.KittyStack.assign(static_cast<std::size_t>(layout.Columns) * layout.Rows, {});
  if (layout.Width < ScreenW) {
    p.AcrossWeights = AreaWeights(ScreenW, layout.Width);
    p.DownWeights = AreaWeights(ScreenH, layout.Height);
  }
}

void PaintPicture(Picture* picture, const std::uint16_t* screen, int firstRow, int lastRow,
                  std::string& out) {
  Picture& p = *picture;
  if (p.Whole) {
    firstRow = 0;
    lastRow = ScreenH - 1;
  }
  firstRow = std::max(firstRow, 0);
  lastRow = std::min(lastRow, ScreenH - 1);
  if (firstRow > lastRow) return;
  UpdateSource(p, screen, firstRow, lastRow);
  Paint(p, firstRow, lastRow, out);
}

void RepaintPicture(Picture* picture, std::string& out) {
  picture->Whole = true;
  Paint(*picture, 0, ScreenH - 1, out);
}
