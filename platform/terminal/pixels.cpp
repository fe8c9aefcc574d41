// Pixel pictures (sixels and kitty graphics): the screen is scaled here to
// the picture's size in the terminal's pixels (a whole scale repeats pixels,
// below 1x each pixel is the average of the area it covers, an edge's mix in
// 16 levels a channel), so a part of it can be encoded on its own and lands
// exactly on the pixels it replaces. The changed cells are gathered into
// rectangles (nearby changes share one), each sent as an image: opaque sixel
// images of the rectangle's cells, in tiles the terminal draws; a kitty
// image of the changed pixels' bounds (kitty.cpp places it).

#include <algorithm>
#include <cstring>

#include "platform/core/services.h"
#include "platform/terminal/terminal_parts.h"

namespace {

// AreaWeights: for each of the size scaled pixels, the source pixels (of
// from) it covers and by how much; the amounts of one scaled pixel add up
// to from.
std::vector<std::vector<AreaWeight>> AreaWeights(int from, int size) {
  std::vector<std::vector<AreaWeight>> table(static_cast<std::size_t>(size));
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

// ScaleRows: the scaled picture's rows first..last from the source.
void ScaleRows(PixelState& p, const PictureLayout& l, const std::uint8_t* source, int first,
               int last) {
  const int fw = p.FrameWidth;
  std::uint8_t* scaled = p.Scaled.data();
  if (l.Width >= ScreenWidth) {
    const int scale = l.Width / ScreenWidth;
    for (int y = first; y <= last; ++y) {
      const std::uint8_t* from = &source[(y / scale) * ScreenWidth * 3];
      std::uint8_t* to = scaled + static_cast<std::size_t>(y) * fw * PixelBytes;
      for (int x = 0; x < l.Width; ++x) std::memcpy(to + x * PixelBytes, from + (x / scale) * 3, 3);
    }
    return;
  }
  // Below 1x: across, then down, each pixel the average of its area.
  std::vector<std::uint32_t>& row = p.Row;
  for (int y = first; y <= last; ++y) {
    std::uint8_t* to = scaled + static_cast<std::size_t>(y) * fw * PixelBytes;
    std::vector<std::uint32_t> sums(static_cast<std::size_t>(l.Width) * 3, 0);
    for (const AreaWeight& down : p.DownWeights[static_cast<std::size_t>(y)]) {
      const std::uint8_t* from = &source[down.Source * ScreenWidth * 3];
      row.assign(static_cast<std::size_t>(l.Width) * 3, 0);
      for (int x = 0; x < l.Width; ++x)
        for (const AreaWeight& across : p.AcrossWeights[static_cast<std::size_t>(x)])
          for (int k = 0; k < 3; ++k)
            row[x * 3 + k] +=
                static_cast<std::uint32_t>(from[across.Source * 3 + k]) * across.Amount;
      for (std::size_t i = 0; i < sums.size(); ++i) sums[i] += row[i] * down.Amount;
    }
    const std::uint32_t total = static_cast<std::uint32_t>(ScreenWidth) * ScreenHeight;
    // A pixel over one colour is that colour exactly; a mix of colours (an
    // edge) takes the nearest of 16 levels a channel, so that the mixes
    // along an edge are a few colours rather than dozens.
    const std::vector<AreaWeight>& downs = p.DownWeights[static_cast<std::size_t>(y)];
    for (int x = 0; x < l.Width; ++x) {
      const std::vector<AreaWeight>& acrosses = p.AcrossWeights[static_cast<std::size_t>(x)];
      const std::uint8_t* one = &source[(downs[0].Source * ScreenWidth + acrosses[0].Source) * 3];
      bool mixed = false;
      for (const AreaWeight& down : downs)
        for (const AreaWeight& across : acrosses)
          mixed = mixed || std::memcmp(&source[(down.Source * ScreenWidth + across.Source) * 3],
                                       one, 3) != 0;
      for (int k = 0; k < 3; ++k) {
        const std::uint32_t average = (sums[x * 3 + k] + total / 2) / total;
        to[x * PixelBytes + k] =
            static_cast<std::uint8_t>(mixed ? (average * 15 + 127) / 255 * 17 : average);
      }
    }
  }
}

// CellChanged: the scaled picture differs from what was sent in this cell.
bool CellChanged(const PixelState& p, const PictureLayout& l, int r, int c) {
  const std::size_t stride = static_cast<std::size_t>(p.FrameWidth) * PixelBytes;
  const std::size_t offset = static_cast<std::size_t>(r) * l.CellHeight * stride +
                             static_cast<std::size_t>(c) * l.CellWidth * PixelBytes;
  for (int y = 0; y < l.CellHeight; ++y)
    if (std::memcmp(&p.Scaled[offset + y * stride], &p.Sent[offset + y * stride],
                    static_cast<std::size_t>(l.CellWidth) * PixelBytes) != 0)
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
// first..last (every cell when whole): runs of changed cells in a row (gaps
// of up to RectGap joined), each run joined to the rectangles of the row
// above it reaches.
std::vector<CellRect> ChangedRectangles(const PixelState& p, const PictureLayout& l, bool whole,
                                        int first, int last) {
  std::vector<CellRect> done, open;
  for (int r = first; r <= last; ++r) {
    std::vector<CellRect> runs;
    for (int c = 0; c < l.Columns; ++c) {
      if (!whole && !CellChanged(p, l, r, c)) continue;
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

// ChangedPixels: the bounds of the pixels of cells rect that differ from
// what the terminal shows; false when none does.
bool ChangedPixels(const PixelState& p, const PictureLayout& l, const CellRect& rect, int& x,
                   int& y, int& w, int& h) {
  const std::size_t stride = static_cast<std::size_t>(p.FrameWidth) * PixelBytes;
  int left = p.FrameWidth, right = -1, top = -1, bottom = -1;
  for (int row = rect.Top * l.CellHeight; row < (rect.Bottom + 1) * l.CellHeight; ++row) {
    const std::uint8_t* now = &p.Scaled[row * stride];
    const std::uint8_t* sent = &p.Sent[row * stride];
    for (int px = rect.Left * l.CellWidth; px < (rect.Right + 1) * l.CellWidth; ++px)
      if (std::memcmp(now + px * PixelBytes, sent + px * PixelBytes, 3) != 0) {
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

// PixelArea: pixels X, Y (a cell's corner), W x H of the scaled frame.
struct PixelArea {
  int X, Y, W, H;
};

// SixelArea: what the image of cells rect covers. Where the terminal keeps
// what a cell shows beyond an image's edge, from the corner of the first
// changed pixel's cell to the last changed pixel (the cursor places an image
// only at a cell's corner); elsewhere its cells whole, the last band's rows
// below them left unset (a terminal that paints an image's cells whole would
// otherwise paint the next cell row too). False when nothing is to be sent.
bool SixelArea(const PixelState& p, const PictureLayout& l, const CellRect& rect, PixelArea& a) {
  if (l.XtermSixels) {
    int x, y, w, h;
    if (!ChangedPixels(p, l, rect, x, y, w, h)) return false;
    a = {x / l.CellWidth * l.CellWidth, y / l.CellHeight * l.CellHeight, 0, 0};
    a.W = x + w - a.X;
    a.H = y + h - a.Y;
    return true;
  }
  a.X = rect.Left * l.CellWidth;
  a.Y = rect.Top * l.CellHeight;
  a.W = std::min((rect.Right + 1) * l.CellWidth, p.FrameWidth) - a.X;
  a.H = (rect.Bottom + 1 - rect.Top) * l.CellHeight;
  return a.W > 0 && a.H > 0;
}

// AppendSixelTiles: the cells of rect as opaque sixel images of the picture
// as it is now (SixelArea), in tiles no larger than the terminal draws (it
// draws nothing of an image over its limit), each starting at a cell's corner.
// markSent: what was sent is recorded as shown (false: only its cost is wanted).
void AppendSixelTiles(PixelState& p, const PictureLayout& l, const CellRect& rect, bool markSent,
                      std::string& out) {
  const int tileColumns = l.SixelWidth > 0 ? std::max(l.SixelWidth / l.CellWidth, 1) : l.Columns;
  const int tileRows =
      l.SixelHeight > 0 ? std::max(l.SixelHeight / 6 * 6 / l.CellHeight, 1) : l.Rows;
  const std::size_t stride = static_cast<std::size_t>(p.FrameWidth) * PixelBytes;
  // A cost alone defines nothing for later images.
  SixelRegisters trial;
  if (l.SharedRegisters && !markSent) trial = p.Registers;
  SixelRegisters* shared = !l.SharedRegisters ? nullptr : markSent ? &p.Registers : &trial;
  for (int top = rect.Top; top <= rect.Bottom; top += tileRows)
    for (int left = rect.Left; left <= rect.Right; left += tileColumns) {
      const CellRect tile{left, top, std::min(left + tileColumns - 1, rect.Right),
                          std::min(top + tileRows - 1, rect.Bottom)};
      PixelArea a{};
      if (!SixelArea(p, l, tile, a)) continue;
      AppendMoveTo(out, l.Top + a.Y / l.CellHeight, l.Left + a.X / l.CellWidth);
      const std::size_t at = static_cast<std::size_t>(a.Y) * stride + a.X * PixelBytes;
      AppendSixelImage(&p.Scaled[at], stride, a.W, a.H, l.Registers, out, shared, !l.XtermSixels);
      if (!markSent) continue;
      for (int row = a.Y; row < a.Y + a.H; ++row)
        std::memcpy(&p.Sent[row * stride + a.X * PixelBytes],
                    &p.Scaled[row * stride + a.X * PixelBytes],
                    static_cast<std::size_t>(a.W) * PixelBytes);
    }
}

// RowRuns: each row's runs of changed cells, unjoined.
std::vector<CellRect> RowRuns(const PixelState& p, const PictureLayout& l, int first, int last) {
  std::vector<CellRect> runs;
  for (int r = first; r <= last; ++r)
    for (int c = 0; c < l.Columns; ++c) {
      if (!CellChanged(p, l, r, c)) continue;
      if (!runs.empty() && runs.back().Top == r && runs.back().Right == c - 1)
        runs.back().Right = c;
      else
        runs.push_back({c, r, c, r});
    }
  return runs;
}

int Cells(const CellRect& r) { return (r.Right - r.Left + 1) * (r.Bottom - r.Top + 1); }

CellRect Bounds(const CellRect& a, const CellRect& b) {
  return {std::min(a.Left, b.Left), std::min(a.Top, b.Top), std::max(a.Right, b.Right),
          std::max(a.Bottom, b.Bottom)};
}

// MergeLimit, WeighLimit: rectangles and pixels worth weighing against
// each other in one paint (a pointer's steps are); beyond them the nearby
// changes are joined without weighing, which costs little time.
constexpr std::size_t MergeLimit = 12;
constexpr long WeighLimit = 65536;
// NoMerge: a pair whose bounds cover far more cells than the two: never cheaper.
constexpr std::size_t NoMerge = static_cast<std::size_t>(-1);

// CheapestRectangles: the changed cells of rows first..last as sixel
// rectangles of few bytes: from each row's runs, the two rectangles whose
// bounds cost fewer bytes as one image than they do apart are joined, the
// largest saving first, until no join saves any. Costs are the bytes the
// images actually take (an image's header and colours against the cells
// between the two); bounds over twice the cells of both are not tried.
std::vector<CellRect> CheapestRectangles(PixelState& p, const PictureLayout& l, int first,
                                         int last) {
  std::vector<CellRect> rects = RowRuns(p, l, first, last);
  long pixels = 0;
  for (const CellRect& r : rects)
    pixels += static_cast<long>(Cells(r)) * l.CellWidth * l.CellHeight;
  if (rects.size() > MergeLimit || pixels > WeighLimit)
    return ChangedRectangles(p, l, false, first, last);
  if (rects.size() < 2) return rects;
  std::string scratch;
  const auto cost = [&](const CellRect& r) {
    scratch.clear();
    AppendSixelTiles(p, l, r, false, scratch);
    return scratch.size();
  };
  const auto joinedCost = [&](const CellRect& a, const CellRect& b) {
    const CellRect both = Bounds(a, b);
    return Cells(both) > 2 * (Cells(a) + Cells(b)) + 4 ? NoMerge : cost(both);
  };
  const std::size_t n = rects.size();
  std::vector<std::size_t> alone(n);
  std::vector<std::vector<std::size_t>> joined(n, std::vector<std::size_t>(n, NoMerge));
  for (std::size_t i = 0; i < n; ++i) alone[i] = cost(rects[i]);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = i + 1; j < n; ++j) joined[i][j] = joinedCost(rects[i], rects[j]);
  std::vector<bool> gone(n, false);
  for (;;) {
    std::size_t bestI = n, bestJ = n, bestSaving = 0;
    for (std::size_t i = 0; i < n; ++i)
      for (std::size_t j = i + 1; j < n; ++j)
        if (!gone[i] && !gone[j] && joined[i][j] != NoMerge &&
            joined[i][j] <= alone[i] + alone[j] &&
            (bestI == n || alone[i] + alone[j] - joined[i][j] > bestSaving)) {
          bestI = i;
          bestJ = j;
          bestSaving = alone[i] + alone[j] - joined[i][j];
        }
    if (bestI == n) break;
    rects[bestI] = Bounds(rects[bestI], rects[bestJ]);
    alone[bestI] = joined[bestI][bestJ];
    gone[bestJ] = true;
    for (std::size_t k = 0; k < n; ++k)
      if (k != bestI && !gone[k]) {
        const std::size_t c = joinedCost(rects[bestI], rects[k]);
        (k < bestI ? joined[k][bestI] : joined[bestI][k]) = c;
      }
  }
  std::vector<CellRect> kept;
  for (std::size_t i = 0; i < n; ++i)
    if (!gone[i]) kept.push_back(rects[i]);
  return kept;
}

}  // namespace

void ResetPixels(PixelState& p, KittyState& kitty, const PictureLayout& layout) {
  p.FrameWidth = layout.Columns * layout.CellWidth;
  p.FrameHeight = layout.Rows * layout.CellHeight + 6;
  p.Scaled.assign(static_cast<std::size_t>(p.FrameWidth) * p.FrameHeight * PixelBytes, 0);
  // Black and opaque outside the picture.
  for (std::size_t at = 3; at < p.Scaled.size(); at += PixelBytes) p.Scaled[at] = 255;
  p.Sent = p.Scaled;
  p.Registers = SixelRegisters{};
  kitty.Stack.assign(static_cast<std::size_t>(layout.Columns) * layout.Rows, {});
  if (layout.Width < ScreenWidth) {
    p.AcrossWeights = AreaWeights(ScreenWidth, layout.Width);
    p.DownWeights = AreaWeights(ScreenHeight, layout.Height);
  }
}

void PaintPixels(PixelState& p, KittyState& kitty, const PictureLayout& l,
                 const std::uint8_t* source, bool whole, int firstRow, int lastRow,
                 std::string& out) {
  // The scaled rows that the changed screen rows reach.
  const int first = static_cast<int>(static_cast<long>(firstRow) * l.Height / ScreenHeight);
  const int last =
      std::min(l.Height - 1,
               static_cast<int>((static_cast<long>(lastRow + 1) * l.Height + ScreenHeight - 1) /
                                ScreenHeight) -
                   1);
  ScaleRows(p, l, source, first, last);
  const int firstCellRow = first / l.CellHeight, lastCellRow = last / l.CellHeight;
  // Kitty: the whole picture, or, once many images are kept (a long wander
  // of the pointer leaves slivers of each), all of them replaced by one.
  if (l.Mode == TerminalMode::Kitty && (whole || kitty.Cells.size() > KittyImageLimit)) {
    ReplaceKittyImages(p, kitty, l, out);
    return;
  }
  if (l.Mode == TerminalMode::Sixel) {
    const std::vector<CellRect> rects =
        whole ? ChangedRectangles(p, l, true, firstCellRow, lastCellRow)
              : CheapestRectangles(p, l, firstCellRow, lastCellRow);
    for (const CellRect& rect : rects) AppendSixelTiles(p, l, rect, true, out);
    return;
  }
  // Kitty: only the changed pixels' bounds, so a pointer costs about its own size.
  for (const CellRect& rect : ChangedRectangles(p, l, whole, firstCellRow, lastCellRow)) {
    int px, py, pw, ph;
    if (ChangedPixels(p, l, rect, px, py, pw, ph))
      PlaceKittyImage(p, kitty, l, px, py, pw, ph, out);
  }
}
