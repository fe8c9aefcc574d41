// Shared helpers of the suites that judge the game's screen from outside (a
// window's screenshot, a virtual machine's screendump): the 640 x 480 picture
// taken out of a larger image, the game's own drawing of a part to compare
// with, where the squares are, and which squares hold whose pieces.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "display/display.h"
#include "tests/process_support.h"

namespace support {

// ToRgb: a 5-6-5 colour as a screen shows it, each channel's bits repeated.
inline Rgb ToRgb(Colour c) {
  const int r = c >> 11, g = (c >> 5) & 63, b = c & 31;
  return {r << 3 | r >> 2, g << 2 | g >> 4, b << 3 | b >> 2};
}

// Picture: the 640 x 480 screen as seen from outside.
struct Picture {
  std::vector<Rgb> Pixels;
  Rgb At(int x, int y) const { return Pixels.at(static_cast<std::size_t>(y * 640 + x)); }
};

// Placement: where an area of the given size shows the picture: the largest
// whole scale that fits, centred; below 1x the largest size of its shape.
struct Placement {
  int X = 0, Y = 0, W = 640, H = 480;
};

inline Placement PlacementIn(int width, int height) {
  Placement place;
  const int scale = std::min(width / 640, height / 480);
  if (scale >= 1) {
    place.W = 640 * scale;
    place.H = 480 * scale;
  } else if (width * 480 <= height * 640) {
    place.W = width;
    place.H = width * 480 / 640;
  } else {
    place.H = height;
    place.W = height * 640 / 480;
  }
  place.X = (width - place.W) / 2;
  place.Y = (height - place.H) / 2;
  return place;
}

// PictureIn: the screen's pixels out of an image showing it at place, each
// read at the centre of where it is drawn.
inline Picture PictureIn(const Image& image, const Placement& place) {
  Picture picture;
  picture.Pixels.reserve(640 * 480);
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x)
      picture.Pixels.push_back(
          image.At(place.X + (2 * x + 1) * place.W / 1280, place.Y + (2 * y + 1) * place.H / 960));
  return picture;
}

// OpenDummyScreen: the game's screen under SDL's dummy driver, opened
// once for the whole suite.
inline void OpenDummyScreen() {
  static bool open = false;
  if (!open) {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    InitGraph(Driver64K, Mode640x480, "");
    ASSERT_EQ(GraphResult(), 0);
    open = true;
  }
}

// ScreenArea: the screen's colours from (x1, y1) to (x2, y2), row by row.
inline std::vector<Colour> ScreenArea(int x1, int y1, int x2, int y2) {
  std::vector<Colour> pixels;
  for (int y = y1; y <= y2; ++y)
    for (int x = x1; x <= x2; ++x)
      pixels.push_back(ReadPixel(static_cast<std::int16_t>(x), static_cast<std::int16_t>(y)));
  return pixels;
}

// TextMatches: the cells of text at (x, y) hold exactly the glyphs in colour
// over background, as DrawText puts them there; the screen is left as found.
inline bool TextMatches(int x, int y, const std::string& text, Colour colour, Colour background) {
  const int x2 = x + 8 * static_cast<int>(text.size()) - 1, y2 = y + 7;
  const std::vector<Colour> seen = ScreenArea(x, y, x2, y2);
  SetFill(SolidFill, background);
  FillBar(static_cast<std::int16_t>(x), static_cast<std::int16_t>(y), static_cast<std::int16_t>(x2),
          static_cast<std::int16_t>(y2));
  SetDrawColor(colour);
  DrawText(static_cast<std::int16_t>(x), static_cast<std::int16_t>(y), text);
  const bool same = ScreenArea(x, y, x2, y2) == seen;
  for (int j = y; j <= y2; ++j)
    for (int i = x; i <= x2; ++i)
      SetPixel(static_cast<std::int16_t>(i), static_cast<std::int16_t>(j),
               seen[static_cast<std::size_t>((j - y) * (x2 - x + 1) + (i - x))]);
  return same;
}

// Reference: the screen as the game's own drawing code leaves it.
template <typename Draw>
Picture Reference(Draw draw) {
  OpenDummyScreen();
  ClearScreen();
  draw();
  Picture picture;
  for (const Colour c : ScreenArea(0, 0, 639, 479)) picture.Pixels.push_back(ToRgb(c));
  return picture;
}

inline bool SameArea(const Picture& a, const Picture& b, int x1, int y1, int x2, int y2) {
  for (int y = y1; y <= y2; ++y)
    for (int x = x1; x <= x2; ++x)
      if (!(a.At(x, y) == b.At(x, y))) return false;
  return true;
}

// SquareLeft, SquareTop: the screen's first pixel of a square's column and
// row, files 'a' to 'h', ranks 1 to 8 (White at the bottom).
inline int SquareLeft(char file) { return BoardLeft + 48 * (file - 'a'); }
inline int SquareTop(int rank) { return BoardTop + 48 * (8 - rank); }

// SquareX, SquareY: the centre of a square on the screen.
inline int SquareX(char file) { return SquareLeft(file) + 24; }
inline int SquareY(int rank) { return SquareTop(rank) + 24; }

// PieceOn: the letter on a square of a board text (rank 8 first), or of the
// board that ends a report line.
inline char PieceOn(const std::string& board, char file, int rank) {
  const std::size_t space = board.rfind(' ');
  const std::size_t start = space == std::string::npos ? 0 : space + 1;
  return board.at(start + static_cast<std::size_t>((8 - rank) * 8 + (file - 'a')));
}

// Occupancy: per square (rank 8 first) "." empty, "w" a grey piece (side 1),
// "b" a green one (side 2); the squares' own texture is dark blue.
inline std::string Occupancy(const Picture& shot) {
  std::string text;
  for (int rank = 8; rank >= 1; --rank)
    for (int file = 1; file <= 8; ++file) {
      int grey = 0, green = 0;
      for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 48; ++x) {
          const Rgb p =
              shot.At(SquareLeft(static_cast<char>('a' + file - 1)) + x, SquareTop(rank) + y);
          if (p.G > 40 && p.R < 16 && p.B < 16) ++green;
          if (p.R > 60 && std::abs(p.R - p.G) < 24 && std::abs(p.G - p.B) < 24) ++grey;
        }
      text += green > 100 ? 'b' : grey > 100 ? 'w' : '.';
    }
  return text;
}

inline int Count(const std::string& text, char c) {
  return static_cast<int>(std::count(text.begin(), text.end(), c));
}

// Answered: the person's e7-e5 is on the board and White has moved since before.
inline bool Answered(const std::string& before, const std::string& now) {
  std::string whiteBefore = before, whiteNow = now;
  for (char& c : whiteBefore) c = c == 'w' ? 'w' : '.';
  for (char& c : whiteNow) c = c == 'w' ? 'w' : '.';
  return now[1 * 8 + 4] == '.' && now[3 * 8 + 4] == 'b' && whiteNow != whiteBefore;
}

}  // namespace support
