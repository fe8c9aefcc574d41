// kelvar-art: draws the game's picture files from shapes described here.
//
//   kelvar-art OUTDIR
//   kelvar-art --icon SIZE OUT.png
//
// writes fig1.x .. fig6.x (pawn, knight, bishop, rook, queen, king; 48 x 48
// grey bytes, 0 transparent) and PawnFix.x (640 x 480 grey bytes, the
// promotion chooser's picture) into OUTDIR; with --icon, the program's icon
// (Black's knight on a light square) as a SIZE x SIZE PNG.
//
// Every piece is a set of filled parts (polygons, ellipses and curved paths)
// painted on an 8x finer grid. Each part gets a rounded bevel lit from the
// top left, the silhouette a dark outline and the seams between parts a
// thinner dark line; then each 8 x 8 block of samples becomes one pixel.
// A pixel is drawn when at least half of its samples are inside the piece,
// and a drawn pixel is never 0, so the edge of a piece can never turn
// transparent by accident.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "display/display.h"
#include "platform/platform.h"
#include "tools/png_writer.h"

namespace {

// ---- Geometry ------------------------------------------------------------------

struct Point {
  double X;
  double Y;
};

// Path: a closed outline built from straight and curved pieces, flattened
// into a polygon.
struct Path {
  std::vector<Point> Points;

  Path& MoveTo(double x, double y) {
    Points.push_back({x, y});
    return *this;
  }
  Path& LineTo(double x, double y) {
    Points.push_back({x, y});
    return *this;
  }
  // CurveTo: a cubic Bezier from the last point through two control points.
  Path& CurveTo(double x1, double y1, double x2, double y2, double x3, double y3) {
    const Point p0 = Points.back();
    constexpr int Steps = 24;
    for (int s = 1; s <= Steps; ++s) {
      const double t = static_cast<double>(s) / Steps;
      const double u = 1 - t;
      const double a = u * u * u, b = 3 * u * u * t, c = 3 * u * t * t, d = t * t * t;
      Points.push_back({a * p0.X + b * x1 + c * x2 + d * x3, a * p0.Y + b * y1 + c * y2 + d * y3});
    }
    return *this;
  }
};

// Shape: one filled region belonging to a part (a part may have several).
struct Shape {
  bool IsEllipse;
  std::vector<Point> Polygon;
  double CentreX, CentreY, RadiusX, RadiusY;
  int Part;
};

// Stroke: a dark detail line (the horse's mane, the mitre's slit) or, with
// zero length, a dot.
struct Stroke {
  std::vector<Point> Line;
  double Width;
  double Grey;
};

struct Piece {
  std::vector<Shape> Shapes;
  std::vector<Stroke> Strokes;
  // Tone: per part 1..15, a brightness factor for its fill.
  std::array<double, 16> Tone{};
};

bool InsidePolygon(const std::vector<Point>& polygon, double x, double y) {
  // Non-zero winding, so a path may cross itself without punching holes.
  int winding = 0;
  const std::size_t n = polygon.size();
  for (std::size_t i = 0; i < n; ++i) {
    const Point& a = polygon[i];
    const Point& b = polygon[(i + 1) % n];
    if (a.Y <= y) {
      if (b.Y > y && (b.X - a.X) * (y - a.Y) - (x - a.X) * (b.Y - a.Y) > 0) ++winding;
    } else if (b.Y <= y && (b.X - a.X) * (y - a.Y) - (x - a.X) * (b.Y - a.Y) < 0) {
      --winding;
    }
  }
  return winding != 0;
}

bool InsideShape(const Shape& shape, double x, double y) {
  if (shape.IsEllipse) {
    const double dx = (x - shape.CentreX) / shape.RadiusX;
    const double dy = (y - shape.CentreY) / shape.RadiusY;
    return dx * dx + dy * dy <= 1.0;
  }
  return InsidePolygon(shape.Polygon, x, y);
}

double DistanceToSegment(Point p, Point a, Point b) {
  const double dx = b.X - a.X, dy = b.Y - a.Y;
  const double length2 = dx * dx + dy * dy;
  double t = length2 > 0 ? ((p.X - a.X) * dx + (p.Y - a.Y) * dy) / length2 : 0;
  t = std::clamp(t, 0.0, 1.0);
  const double ex = a.X + t * dx - p.X, ey = a.Y + t * dy - p.Y;
  return std::sqrt(ex * ex + ey * ey);
}

// ---- Building pieces ---------------------------------------------------------------

void AddPolygon(Piece& piece, int part, const std::vector<Point>& points) {
  piece.Shapes.push_back({false, points, 0, 0, 0, 0, part});
}
void AddPath(Piece& piece, int part, const Path& path) { AddPolygon(piece, part, path.Points); }
void AddEllipse(Piece& piece, int part, double cx, double cy, double rx, double ry) {
  piece.Shapes.push_back({true, {}, cx, cy, rx, ry, part});
}
// AddRoundedBar: a horizontal bar with rounded ends.
void AddRoundedBar(Piece& piece, int part, double left, double top, double right, double bottom) {
  const double r = (bottom - top) / 2;
  Path p;
  p.MoveTo(left + r, top)
      .LineTo(right - r, top)
      .CurveTo(right + r * 0.1, top, right + r * 0.1, bottom, right - r, bottom)
      .LineTo(left + r, bottom)
      .CurveTo(left - r * 0.1, bottom, left - r * 0.1, top, left + r, top);
  AddPath(piece, part, p);
}
void AddStroke(Piece& piece, std::vector<Point> line, double width, double grey) {
  piece.Strokes.push_back({std::move(line), width, grey});
}

// Every piece stands on the same plinth (part 1) and a low step (part 2).
void AddPlinth(Piece& piece) {
  AddRoundedBar(piece, 1, 8.5, 38.5, 39.5, 44.0);
  AddRoundedBar(piece, 2, 11.5, 35.0, 36.5, 39.0);
}

// Body: a waisted column from a narrow top to a wide bottom, curved inwards.
Path Body(double top, double topHalf, double bottom, double bottomHalf) {
  const double c = 24.0;
  Path p;
  p.MoveTo(c - topHalf, top)
      .LineTo(c + topHalf, top)
      .CurveTo(c + topHalf, top + (bottom - top) * 0.55, c + bottomHalf - 1.5, bottom - 2.5,
               c + bottomHalf, bottom)
      .LineTo(c - bottomHalf, bottom)
      .CurveTo(c - bottomHalf + 1.5, bottom - 2.5, c - topHalf, top + (bottom - top) * 0.55,
               c - topHalf, top);
  return p;
}

Piece MakePawn() {
  Piece piece;
  AddPlinth(piece);
  AddPath(piece, 3, Body(22.0, 4.5, 36.0, 10.0));
  AddRoundedBar(piece, 4, 15.5, 20.0, 32.5, 24.5);
  AddEllipse(piece, 5, 24.0, 13.5, 7.0, 7.0);
  return piece;
}

Piece MakeKnight() {
  Piece piece;
  AddPlinth(piece);
  // The horse's head and neck, facing left: back of the neck, ear, forehead,
  // the long nose down to the muzzle, the jaw, and the throat back to the chest.
  Path head;
  head.MoveTo(35.5, 36.0)
      .CurveTo(37.5, 28.0, 37.5, 19.0, 32.0, 12.0)  // back of the neck
      .CurveTo(31.0, 10.5, 30.0, 9.0, 29.0, 8.0)
      .LineTo(28.5, 2.5)  // ear
      .LineTo(24.5, 7.0)
      .CurveTo(20.0, 8.0, 17.0, 10.0, 14.5, 14.0)    // forehead
      .CurveTo(12.0, 18.0, 9.0, 22.0, 7.5, 25.5)     // nose
      .CurveTo(6.5, 28.0, 8.0, 30.5, 10.5, 30.5)     // muzzle
      .CurveTo(13.0, 30.5, 14.5, 29.0, 16.5, 28.5)   // mouth
      .CurveTo(19.0, 28.0, 21.0, 27.0, 22.5, 25.5)   // jaw
      .CurveTo(21.5, 29.0, 17.0, 32.0, 15.0, 36.0);  // throat down to the chest
  AddPath(piece, 3, head);
  // The mane: a darker crest along the back of the neck.
  Path mane;
  mane.MoveTo(29.0, 8.5)
      .CurveTo(34.5, 13.0, 38.5, 22.0, 36.5, 35.0)
      .LineTo(33.5, 35.0)
      .CurveTo(35.0, 24.0, 32.0, 15.5, 27.5, 10.5);
  AddPath(piece, 4, mane);
  piece.Tone[4] = 0.72;
  AddStroke(piece, {{31.5, 14.0}, {34.5, 17.0}}, 0.8, 40);
  AddStroke(piece, {{33.0, 20.0}, {35.8, 22.5}}, 0.8, 40);
  AddStroke(piece, {{33.8, 26.0}, {36.2, 28.0}}, 0.8, 40);
  // Eye, nostril and the line of the mouth.
  AddStroke(piece, {{19.5, 14.5}, {22.0, 13.5}}, 2.0, 15);
  AddStroke(piece, {{10.5, 25.5}}, 1.8, 30);
  AddStroke(piece, {{9.0, 28.6}, {13.0, 28.2}}, 0.8, 45);
  return piece;
}

Piece MakeBishop() {
  Piece piece;
  AddPlinth(piece);
  AddPath(piece, 3, Body(26.0, 4.0, 36.0, 9.5));
  AddRoundedBar(piece, 4, 16.0, 24.5, 32.0, 28.5);
  // The mitre: a pointed egg.
  Path mitre;
  mitre.MoveTo(24.0, 6.5)
      .CurveTo(29.0, 11.0, 32.0, 16.0, 31.0, 20.5)
      .CurveTo(30.0, 24.0, 27.5, 25.5, 24.0, 25.5)
      .CurveTo(20.5, 25.5, 18.0, 24.0, 17.0, 20.5)
      .CurveTo(16.0, 16.0, 19.0, 11.0, 24.0, 6.5);
  AddPath(piece, 5, mitre);
  AddEllipse(piece, 6, 24.0, 5.0, 2.6, 2.6);
  // The slit across the mitre.
  AddStroke(piece, {{27.6, 12.0}, {22.4, 18.5}}, 1.6, 25);
  return piece;
}

Piece MakeRook() {
  Piece piece;
  AddPlinth(piece);
  Path tower;
  tower.MoveTo(16.0, 17.0).LineTo(32.0, 17.0).LineTo(33.5, 35.5).LineTo(14.5, 35.5);
  AddPath(piece, 3, tower);
  AddRoundedBar(piece, 4, 12.0, 14.0, 36.0, 18.5);
  // The battlements: three merlons.
  AddPolygon(piece, 5, {{12.5, 7.0}, {18.5, 7.0}, {18.5, 14.5}, {12.5, 14.5}});
  AddPolygon(piece, 6, {{21.0, 7.0}, {27.0, 7.0}, {27.0, 14.5}, {21.0, 14.5}});
  AddPolygon(piece, 7, {{29.5, 7.0}, {35.5, 7.0}, {35.5, 14.5}, {29.5, 14.5}});
  // Courses of masonry.
  AddStroke(piece, {{16.5, 24.0}, {31.5, 24.0}}, 0.8, 60);
  AddStroke(piece, {{16.0, 30.0}, {32.2, 30.0}}, 0.8, 60);
  AddStroke(piece, {{24.0, 18.5}, {24.0, 24.0}}, 0.8, 60);
  AddStroke(piece, {{20.0, 24.0}, {19.8, 30.0}}, 0.8, 60);
  AddStroke(piece, {{28.0, 24.0}, {28.2, 30.0}}, 0.8, 60);
  return piece;
}

Piece MakeQueen() {
  Piece piece;
  AddPlinth(piece);
  AddPath(piece, 3, Body(25.0, 5.0, 36.0, 10.5));
  AddRoundedBar(piece, 4, 14.5, 23.0, 33.5, 27.5);
  // The crown: five points fanning out from the band.
  Path crown;
  crown.MoveTo(16.0, 24.0)
      .LineTo(8.5, 11.5)
      .LineTo(15.5, 14.0)
      .LineTo(17.0, 8.0)
      .LineTo(21.0, 13.5)
      .LineTo(24.0, 6.0)
      .LineTo(27.0, 13.5)
      .LineTo(31.0, 8.0)
      .LineTo(32.5, 14.0)
      .LineTo(39.5, 11.5)
      .LineTo(32.0, 24.0);
  AddPath(piece, 5, crown);
  AddEllipse(piece, 6, 8.5, 10.5, 2.9, 2.9);
  AddEllipse(piece, 7, 17.0, 7.0, 2.9, 2.9);
  AddEllipse(piece, 8, 24.0, 4.8, 3.0, 3.0);
  AddEllipse(piece, 9, 31.0, 7.0, 2.9, 2.9);
  AddEllipse(piece, 10, 39.5, 10.5, 2.9, 2.9);
  return piece;
}

Piece MakeKing() {
  Piece piece;
  AddPlinth(piece);
  AddPath(piece, 3, Body(25.0, 5.0, 36.0, 10.5));
  AddRoundedBar(piece, 4, 14.0, 23.0, 34.0, 27.5);
  // The crown: a wide cap over the band.
  Path cap;
  cap.MoveTo(15.0, 24.0)
      .CurveTo(11.0, 19.0, 12.5, 13.5, 17.0, 13.5)
      .CurveTo(20.0, 13.5, 22.5, 15.0, 24.0, 17.0)
      .CurveTo(25.5, 15.0, 28.0, 13.5, 31.0, 13.5)
      .CurveTo(35.5, 13.5, 37.0, 19.0, 33.0, 24.0);
  AddPath(piece, 5, cap);
  // The cross on top.
  AddPolygon(piece, 6, {{21.6, 1.0}, {26.4, 1.0}, {26.4, 15.5}, {21.6, 15.5}});
  AddPolygon(piece, 7, {{17.5, 4.2}, {30.5, 4.2}, {30.5, 9.0}, {17.5, 9.0}});
  return piece;
}

// ---- Rendering a piece ----------------------------------------------------------------

constexpr int PieceSize = 48;
constexpr int Fine = 8;  // samples per pixel along each axis
constexpr int Grid = PieceSize * Fine;

using Bitmap = std::array<std::uint8_t, PieceSize * PieceSize>;

// SquaredDistance1D: the lower envelope of parabolas (Felzenszwalb and
// Huttenlocher), exact squared distance along one line.
void SquaredDistance1D(const std::vector<double>& f, std::vector<double>& d, int n) {
  std::vector<int> v(n);
  std::vector<double> z(n + 1);
  int k = 0;
  v[0] = 0;
  z[0] = -1e30;
  z[1] = 1e30;
  for (int q = 1; q < n; ++q) {
    double s;
    for (;;) {
      s = ((f[q] + q * q) - (f[v[k]] + v[k] * v[k])) / (2.0 * q - 2.0 * v[k]);
      if (s > z[k] || k == 0) break;
      --k;
    }
    if (s <= z[k]) {
      // Only reached with k == 0: the new parabola covers everything.
      v[0] = q;
      z[0] = -1e30;
      z[1] = 1e30;
      continue;
    }
    ++k;
    v[k] = q;
    z[k] = s;
    z[k + 1] = 1e30;
  }
  k = 0;
  for (int q = 0; q < n; ++q) {
    while (z[k + 1] < q) ++k;
    d[q] = (q - v[k]) * (q - v[k]) + f[v[k]];
  }
}

// DistanceTo: Euclidean distance, in samples, from every sample to the
// nearest seed sample.
std::vector<double> DistanceTo(const std::vector<bool>& seed) {
  constexpr double Far = 1e12;
  std::vector<double> grid(Grid * Grid);
  for (int i = 0; i < Grid * Grid; ++i) grid[i] = seed[i] ? 0 : Far;
  std::vector<double> f(Grid), d(Grid);
  for (int x = 0; x < Grid; ++x) {
    for (int y = 0; y < Grid; ++y) f[y] = grid[y * Grid + x];
    SquaredDistance1D(f, d, Grid);
    for (int y = 0; y < Grid; ++y) grid[y * Grid + x] = d[y];
  }
  for (int y = 0; y < Grid; ++y) {
    for (int x = 0; x < Grid; ++x) f[x] = grid[y * Grid + x];
    SquaredDistance1D(f, d, Grid);
    for (int x = 0; x < Grid; ++x) grid[y * Grid + x] = std::sqrt(d[x]);
  }
  return grid;
}

// Grey levels of the drawing (0..255 before the side's colouring).
constexpr double OutlineGrey = 30;
constexpr double SeamGrey = 48;
constexpr double TopGrey = 238;       // fill at the top of a piece
constexpr double BottomGrey = 170;    // fill at the plinth
constexpr double OutlineWidth = 1.1;  // pixels
constexpr double SeamWidth = 0.45;    // pixels on each side of a seam
constexpr double BevelWidth = 3.0;    // pixels

// Samples: the piece on the fine grid: the part covering each sample (0
// none) and its grey level.
struct Samples {
  std::vector<int> Part;
  std::vector<double> Grey;
};

Samples RenderSamples(const Piece& piece) {
  // Which part covers each sample (0 none); later shapes lie on top.
  std::vector<int> part(Grid * Grid, 0);
  for (int y = 0; y < Grid; ++y) {
    for (int x = 0; x < Grid; ++x) {
      const double px = (x + 0.5) / Fine, py = (y + 0.5) / Fine;
      for (const Shape& shape : piece.Shapes)
        if (InsideShape(shape, px, py)) part[y * Grid + x] = shape.Part;
    }
  }
  std::vector<bool> outside(Grid * Grid), seam(Grid * Grid);
  int top = Grid, bottom = 0;
  for (int y = 0; y < Grid; ++y) {
    for (int x = 0; x < Grid; ++x) {
      const int here = part[y * Grid + x];
      outside[y * Grid + x] = here == 0;
      if (here != 0) {
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
      bool edge = false;
      if (x > 0 && part[y * Grid + x - 1] != here) edge = true;
      if (x + 1 < Grid && part[y * Grid + x + 1] != here) edge = true;
      if (y > 0 && part[(y - 1) * Grid + x] != here) edge = true;
      if (y + 1 < Grid && part[(y + 1) * Grid + x] != here) edge = true;
      seam[y * Grid + x] = edge;
    }
  }
  const std::vector<double> toOutside = DistanceTo(outside);
  const std::vector<double> toSeam = DistanceTo(seam);

  // Each part is a rounded cushion: its height rises over BevelWidth from its
  // edges; the slope, lit from the top left, brightens or shades the fill.
  auto height = [&](int x, int y) {
    x = std::clamp(x, 0, Grid - 1);
    y = std::clamp(y, 0, Grid - 1);
    if (part[y * Grid + x] == 0) return 0.0;
    const double t = std::min(toSeam[y * Grid + x] / (BevelWidth * Fine), 1.0);
    return std::sin(t * M_PI / 2) * BevelWidth * Fine * 0.9;
  };
  const double lx = -0.5, ly = -0.6, lz = 0.62;
  const double lightLength = std::sqrt(lx * lx + ly * ly + lz * lz);

  std::vector<double> grey(Grid * Grid, 0);
  for (int y = 0; y < Grid; ++y) {
    for (int x = 0; x < Grid; ++x) {
      const int i = y * Grid + x;
      const int here = part[i];
      if (here == 0) continue;
      if (toOutside[i] <= OutlineWidth * Fine) {
        grey[i] = OutlineGrey;
        continue;
      }
      if (toSeam[i] <= SeamWidth * Fine) {
        grey[i] = SeamGrey;
        continue;
      }
      const double nx = -(height(x + 1, y) - height(x - 1, y)) / 2;
      const double ny = -(height(x, y + 1) - height(x, y - 1)) / 2;
      const double nLength = std::sqrt(nx * nx + ny * ny + 1);
      const double diffuse = (nx * lx + ny * ly + lz) / (nLength * lightLength);
      const double flat = lz / lightLength;
      const double v = static_cast<double>(y - top) / std::max(1, bottom - top);
      double base = TopGrey + (BottomGrey - TopGrey) * v;
      const double tone = piece.Tone[here] == 0 ? 1.0 : piece.Tone[here];
      base *= tone;
      grey[i] = std::clamp(base + 150 * (diffuse - flat), 40.0, 255.0);
    }
  }
  for (const Stroke& stroke : piece.Strokes) {
    for (int y = 0; y < Grid; ++y) {
      for (int x = 0; x < Grid; ++x) {
        const int i = y * Grid + x;
        if (part[i] == 0) continue;
        const Point p{(x + 0.5) / Fine, (y + 0.5) / Fine};
        double d = 1e9;
        if (stroke.Line.size() == 1) d = DistanceToSegment(p, stroke.Line[0], stroke.Line[0]);
        for (std::size_t s = 0; s + 1 < stroke.Line.size(); ++s)
          d = std::min(d, DistanceToSegment(p, stroke.Line[s], stroke.Line[s + 1]));
        if (d <= stroke.Width / 2) grey[i] = std::min(grey[i], stroke.Grey);
      }
    }
  }

  return {std::move(part), std::move(grey)};
}

Bitmap RenderPiece(const Piece& piece) {
  const Samples samples = RenderSamples(piece);
  const std::vector<int>& part = samples.Part;
  const std::vector<double>& grey = samples.Grey;
  Bitmap bitmap{};
  for (int py = 0; py < PieceSize; ++py) {
    for (int px = 0; px < PieceSize; ++px) {
      int covered = 0;
      double sum = 0;
      for (int sy = 0; sy < Fine; ++sy) {
        for (int sx = 0; sx < Fine; ++sx) {
          const int i = (py * Fine + sy) * Grid + px * Fine + sx;
          if (part[i] == 0) continue;
          ++covered;
          sum += grey[i];
        }
      }
      if (covered * 2 < Fine * Fine) continue;
      const long value = std::lround(sum / covered);
      bitmap[py * PieceSize + px] = static_cast<std::uint8_t>(std::clamp(value, 1L, 255L));
    }
  }
  return bitmap;
}

// ---- The promotion picture ------------------------------------------------------------------

using Screen = std::vector<double>;

double& At(Screen& screen, int x, int y) { return screen[y * ScreenWidth + x]; }

// GlyphBit: whether pixel (column, row) of the 8 x 8 cell of c is set, in
// the font the game draws its texts with.
bool GlyphBit(unsigned char c, int column, int row) {
  return ((FontGlyphs[c][row] >> (7 - column)) & 1) != 0;
}

// DrawScaledText: text in the game's font, each font pixel a scale x scale
// block with rounded corners, smoothed by sampling 4 x 4 per screen pixel;
// shadow first, then the letters.
void DrawScaledText(Screen& screen, int left, int top, const std::string& text, int scale,
                    double grey, double shadowGrey) {
  const int width = static_cast<int>(text.size()) * 8 * scale;
  const int height = 8 * scale;
  auto coverage = [&](int x, int y) {
    constexpr int Sub = 4;
    int inside = 0;
    for (int sy = 0; sy < Sub; ++sy) {
      for (int sx = 0; sx < Sub; ++sx) {
        const double fx = (x - left + (sx + 0.5) / Sub) / scale;
        const double fy = (y - top + (sy + 0.5) / Sub) / scale;
        if (fx < 0 || fy < 0 || fx >= 8.0 * text.size() || fy >= 8) continue;
        const int cell = static_cast<int>(fx) / 8;
        const int column = static_cast<int>(fx) % 8;
        const int row = static_cast<int>(fy);
        const auto c = static_cast<unsigned char>(text[cell]);
        bool on = GlyphBit(c, column, row);
        if (!on) {
          // Fill the inner corner where two diagonal font pixels meet, so
          // slanted strokes read as lines and not as stairs.
          const double ux = fx - std::floor(fx), uy = fy - std::floor(fy);
          const int dx = ux < 0.5 ? -1 : 1, dy = uy < 0.5 ? -1 : 1;
          const double cx = dx < 0 ? ux : 1 - ux, cy = dy < 0 ? uy : 1 - uy;
          auto bit = [&](int ccol, int crow) {
            if (crow < 0 || crow > 7) return false;
            int absolute = cell * 8 + ccol;
            if (absolute < 0 || absolute >= 8 * static_cast<int>(text.size())) return false;
            return GlyphBit(static_cast<unsigned char>(text[absolute / 8]), absolute % 8, crow);
          };
          if (bit(column + dx, row) && bit(column, row + dy) && cx + cy < 0.5) on = true;
        }
        if (on) ++inside;
      }
    }
    return inside / static_cast<double>(Sub * Sub);
  };
  for (int pass = 0; pass < 2; ++pass) {
    const int offset = pass == 0 ? std::max(1, scale / 2) : 0;
    const double colour = pass == 0 ? shadowGrey : grey;
    for (int y = top; y < top + height; ++y) {
      for (int x = left; x < left + width; ++x) {
        const double a = coverage(x, y);
        const int sx = x + offset, sy = y + offset;
        if (a <= 0 || sx >= ScreenWidth || sy >= ScreenHeight) continue;
        At(screen, sx, sy) = At(screen, sx, sy) * (1 - a) + colour * a;
      }
    }
  }
}

void FillRect(Screen& screen, int x1, int y1, int x2, int y2, double grey) {
  for (int y = y1; y <= y2; ++y)
    for (int x = x1; x <= x2; ++x) At(screen, x, y) = grey;
}

void OutlineRect(Screen& screen, int x1, int y1, int x2, int y2, double grey) {
  for (int x = x1; x <= x2; ++x) At(screen, x, y1) = At(screen, x, y2) = grey;
  for (int y = y1; y <= y2; ++y) At(screen, x1, y) = At(screen, x2, y) = grey;
}

// Choice cells: the chooser draws knight, bishop, rook and queen at
// (224 + 48 k, 216); the picture leaves those cells one plain dark grey so
// the light pieces stand out.
constexpr int CellsLeft = 224, CellsTop = 216, CellsRight = 415, CellsBottom = 263;

Screen MakePromotionPicture() {
  Screen screen(ScreenWidth * ScreenHeight);
  // A calm backdrop: a soft light from above the panel falling off to the
  // corners, with the faintest trace of a large chessboard in it. The screen
  // keeps only 32 steps of grey in red and blue, so an ordered dither of
  // less than one step hides the bands a smooth gradient would show.
  constexpr int Bayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
  for (int y = 0; y < ScreenHeight; ++y) {
    for (int x = 0; x < ScreenWidth; ++x) {
      const double dx = (x - 320.0) / 420.0, dy = (y - 200.0) / 330.0;
      const double light = std::max(0.0, 1.0 - (dx * dx + dy * dy));
      const bool checker = ((x / 80) + (y / 80)) % 2 == 0;
      const double dither = (Bayer[y % 4][x % 4] + 0.5) / 2.0 - 4.0;
      At(screen, x, y) = 40 + 78 * light + (checker ? 4.0 : -4.0) * light + dither;
    }
  }
  // The heading and its underline.
  const std::string heading = "Promote your pawn";
  constexpr int HeadingScale = 4;
  const int headingWidth = static_cast<int>(heading.size()) * 8 * HeadingScale;
  DrawScaledText(screen, (ScreenWidth - headingWidth) / 2, 84, heading, HeadingScale, 236, 20);
  for (int x = 80; x < ScreenWidth - 80; ++x) {
    const double fade = std::sin(M_PI * (x - 80) / (ScreenWidth - 160));
    for (int y = 130; y <= 131; ++y) At(screen, x, y) = At(screen, x, y) * (1 - fade) + 190 * fade;
  }
  // The panel behind the choices: a raised plate with a double frame.
  const int left = CellsLeft - 28, top = CellsTop - 28, right = CellsRight + 28,
            bottom = CellsBottom + 28;
  for (int y = top + 4; y <= bottom + 4; ++y)
    for (int x = left + 4; x <= right + 4; ++x) At(screen, x, y) *= 0.55;  // drop shadow
  for (int y = top; y <= bottom; ++y)
    for (int x = left; x <= right; ++x) At(screen, x, y) = 150 - 30.0 * (y - top) / (bottom - top);
  OutlineRect(screen, left, top, right, bottom, 230);
  OutlineRect(screen, left + 3, top + 3, right - 3, bottom - 3, 70);
  // A sunken well around the four cells, then the cells themselves.
  OutlineRect(screen, CellsLeft - 2, CellsTop - 2, CellsRight + 2, CellsBottom + 2, 220);
  OutlineRect(screen, CellsLeft - 1, CellsTop - 1, CellsRight + 1, CellsBottom + 1, 30);
  FillRect(screen, CellsLeft, CellsTop, CellsRight, CellsBottom, 44);
  // The hint.
  const std::string hint = "Click the piece it becomes";
  constexpr int HintScale = 2;
  const int hintWidth = static_cast<int>(hint.size()) * 8 * HintScale;
  DrawScaledText(screen, (ScreenWidth - hintWidth) / 2, 352, hint, HintScale, 214, 28);
  return screen;
}

// ---- The icon ------------------------------------------------------------------------------

// Icon: size x size RGBA pixels: Black's knight as the game colours it (pure
// green) on a rounded light square.
std::vector<std::uint8_t> MakeIcon(int size) {
  const Samples knight = RenderSamples(MakeKnight());
  std::vector<std::uint8_t> rgba(static_cast<std::size_t>(size) * size * 4, 0);
  const double inset = size * 0.03, radius = size * 0.18;
  // TileCover: the share of a pixel inside the rounded square, from 4 x 4 samples.
  auto tileCover = [&](int x, int y) {
    int inside = 0;
    for (int sy = 0; sy < 4; ++sy) {
      for (int sx = 0; sx < 4; ++sx) {
        const double px = x + (sx + 0.5) / 4, py = y + (sy + 0.5) / 4;
        const double cx = std::clamp(px, inset + radius, size - inset - radius);
        const double cy = std::clamp(py, inset + radius, size - inset - radius);
        if ((px - cx) * (px - cx) + (py - cy) * (py - cy) <= radius * radius) ++inside;
      }
    }
    return inside / 16.0;
  };
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      const double tile = tileCover(x, y);
      if (tile == 0) continue;
      // The tile: a light square darkening downwards.
      const double v = static_cast<double>(y) / size;
      double r = 226 - 50 * v, g = 214 - 50 * v, b = 178 - 50 * v;
      // The knight's samples under this pixel, averaged.
      const int x1 = x * Grid / size, x2 = std::max(x1 + 1, (x + 1) * Grid / size);
      const int y1 = y * Grid / size, y2 = std::max(y1 + 1, (y + 1) * Grid / size);
      int covered = 0, all = 0;
      double sum = 0;
      for (int sy = y1; sy < y2; ++sy) {
        for (int sx = x1; sx < x2; ++sx) {
          ++all;
          const std::size_t i = static_cast<std::size_t>(sy) * Grid + sx;
          if (knight.Part[i] == 0) continue;
          ++covered;
          sum += knight.Grey[i];
        }
      }
      if (covered > 0) {
        const double cover = static_cast<double>(covered) / all;
        const double green = sum / covered;
        r *= 1 - cover;
        g = g * (1 - cover) + green * cover;
        b *= 1 - cover;
      }
      std::uint8_t* out = &rgba[(static_cast<std::size_t>(y) * size + x) * 4];
      out[0] = static_cast<std::uint8_t>(std::lround(std::clamp(r, 0.0, 255.0)));
      out[1] = static_cast<std::uint8_t>(std::lround(std::clamp(g, 0.0, 255.0)));
      out[2] = static_cast<std::uint8_t>(std::lround(std::clamp(b, 0.0, 255.0)));
      out[3] = static_cast<std::uint8_t>(std::lround(255 * tile));
    }
  }
  return rgba;
}

// ---- Output ------------------------------------------------------------------------------

bool WriteFile(const std::string& name, const std::uint8_t* bytes, std::size_t count) {
  std::FILE* file = std::fopen(name.c_str(), "wb");
  if (file == nullptr) {
    std::perror(name.c_str());
    return false;
  }
  const bool ok = std::fwrite(bytes, 1, count, file) == count;
  if (std::fclose(file) != 0 || !ok) {
    std::perror(name.c_str());
    return false;
  }
  return true;
}

const char* const Usage =
    "usage: kelvar-art OUTDIR\n"
    "       kelvar-art --icon SIZE OUT.png\n"
    "Draws the game's pictures (fig1.x .. fig6.x, PawnFix.x) into OUTDIR, or the\n"
    "SIZE x SIZE icon (16 to 1024 pixels) as a PNG.\n";

int RefuseArguments(const char* problem) {
  std::fprintf(stderr, "kelvar-art: %s\n%s", problem, Usage);
  return 2;
}

int DrawIcon(const char* sizeText, const std::string& name) {
  char* end = nullptr;
  const long size = std::strtol(sizeText, &end, 10);
  if (*sizeText == '\0' || *end != '\0' || size < 16 || size > 1024)
    return RefuseArguments("SIZE must be a whole number from 16 to 1024");
  if (!PngAvailable()) {
    std::fprintf(stderr, "kelvar-art: built without libpng, cannot draw the icon\n");
    return 1;
  }
  const int side = static_cast<int>(size);
  const std::vector<std::uint8_t> rgba = MakeIcon(side);
  return WritePng(name, side, side, true, rgba.data()) ? 0 : 1;
}

int DrawPictures(const std::string& dir) {
  const Piece pieces[] = {MakePawn(), MakeKnight(), MakeBishop(),
                          MakeRook(), MakeQueen(),  MakeKing()};
  for (int kind = 1; kind <= 6; ++kind) {
    const Bitmap bitmap = RenderPiece(pieces[kind - 1]);
    if (!WriteFile(dir + "/fig" + std::to_string(kind) + ".x", bitmap.data(), bitmap.size()))
      return 1;
  }
  const Screen picture = MakePromotionPicture();
  std::vector<std::uint8_t> bytes(picture.size());
  for (std::size_t i = 0; i < picture.size(); ++i)
    bytes[i] = static_cast<std::uint8_t>(std::clamp(std::lround(picture[i]), 0L, 255L));
  if (!WriteFile(dir + "/PawnFix.x", bytes.data(), bytes.size())) return 1;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> plain;
  bool icon = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(Usage, stdout);
      return 0;
    }
    if (arg == "--icon")
      icon = true;
    else if (arg.size() > 1 && arg[0] == '-')
      return RefuseArguments(("unknown option \"" + arg + "\"").c_str());
    else
      plain.push_back(arg);
  }
  if (icon) {
    if (plain.size() != 2) return RefuseArguments("--icon needs SIZE and OUT.png");
    return DrawIcon(plain[0].c_str(), plain[1]);
  }
  if (plain.size() != 1) return RefuseArguments("one OUTDIR is needed");
  return DrawPictures(plain[0]);
}
