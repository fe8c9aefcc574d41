// Piece bitmaps: reading the grey files and putting them on the screen.

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "display/display.h"

// PieceBitmaps: kinds 1..6, filled once by LoadGraphics; grey levels 0..255,
// 0 transparent.
Array<PieceBitmap, 1, 6> PieceBitmaps;

namespace {

constexpr int PieceSide = 48;
constexpr int PieceFileSize = PieceSide * PieceSide;
constexpr int ImageWidth = 640;
constexpr int ImageHeight = 480;

// ReadFailure: names the file on standard error and answers the error
// number for a read that came up short after `bytes` bytes: the system's
// when the read itself failed (a directory, a device error), otherwise 100.
int ReadFailure(std::FILE* file, const char* fileName, long bytes, long expected) {
  const int error = errno;
  const bool failed = std::ferror(file) && error != 0;
  std::fclose(file);
  if (failed) {
    ReportCannotRead(fileName, error);
    return error;
  }
  ReportShortFile(fileName, bytes, expected);
  return ShortFileErrorCode;
}

// LightenedGrey: round(0.75 g + 63) with halves to the even neighbour, in
// quarters so that no floating-point mode can change it.
std::uint8_t LightenedGrey(std::uint8_t g) {
  const int quarters = 3 * g + 252;
  int whole = quarters / 4;
  const int rest = quarters % 4;
  if (rest > 2 || (rest == 2 && whole % 2 == 1)) ++whole;
  return static_cast<std::uint8_t>(whole);
}

}  // namespace

void ReadPieceBitmap(const char* fileName, PieceBitmap& bitmap) {
  errno = 0;
  std::FILE* file = std::fopen(fileName, "rb");
  if (file == nullptr) {
    const int error = errno;
    ReportCannotOpen(fileName, error);
    RunError(error);
  }
  std::uint8_t bytes[PieceFileSize];
  const std::size_t got = std::fread(bytes, 1, PieceFileSize, file);
  if (got != PieceFileSize)
    RunError(ReadFailure(file, fileName, static_cast<long>(got), PieceFileSize));
  std::fclose(file);
  // Row j of the file becomes entry j of every column.
  for (int j = 0; j < PieceSide; ++j)
    for (int i = 0; i < PieceSide; ++i) bitmap[i][j] = bytes[PieceSide * j + i];
}

Colour GreyToColour(std::uint8_t grey) {
  return static_cast<Colour>((grey >> 3) * 2048 + (grey >> 2) * 32 + (grey >> 3));
}

void DrawBitmapRaw(std::int16_t x, std::int16_t y, const PieceBitmap& bitmap) {
  for (int j = 0; j < PieceSide; ++j)
    for (int i = 0; i < PieceSide; ++i)
      SetPixel(static_cast<std::int16_t>(x + i), static_cast<std::int16_t>(y + j), bitmap[i][j]);
}

void DrawPieceGrey(std::int16_t x, std::int16_t y, const PieceBitmap& bitmap) {
  for (int j = 0; j < PieceSide; ++j) {
    for (int i = 0; i < PieceSide; ++i) {
      const std::uint8_t g = bitmap[i][j];
      if (g != 0)
        SetPixel(static_cast<std::int16_t>(x + i), static_cast<std::int16_t>(y + j),
                 GreyToColour(LightenedGrey(g)));
    }
  }
}

void DrawPieceGreen(std::int16_t x, std::int16_t y, const PieceBitmap& bitmap) {
  for (int j = 0; j < PieceSide; ++j) {
    for (int i = 0; i < PieceSide; ++i) {
      const std::uint8_t g = bitmap[i][j];
      if (g != 0)
        SetPixel(static_cast<std::int16_t>(x + i), static_cast<std::int16_t>(y + j),
                 static_cast<Colour>((g >> 2) << 5));
    }
  }
}

void ShowScreenImage(const char* fileName) {
  // Every failure here, a missing file included, is reported as 100, at the
  // first row that cannot be read whole; the rows above it stay drawn.
  errno = 0;
  std::FILE* file = std::fopen(fileName, "rb");
  if (file == nullptr) {
    ReportCannotOpen(fileName, errno);
    RunError(ShortFileErrorCode);
  }
  std::uint8_t row[ImageWidth];
  for (int y = 0; y < ImageHeight; ++y) {
    const std::size_t got = std::fread(row, 1, ImageWidth, file);
    if (got != ImageWidth) {
      ReadFailure(file, fileName, static_cast<long>(y) * ImageWidth + static_cast<long>(got),
                  static_cast<long>(ImageWidth) * ImageHeight);
      RunError(ShortFileErrorCode);
    }
    for (int x = 0; x < ImageWidth; ++x)
      SetPixel(static_cast<std::int16_t>(x), static_cast<std::int16_t>(y), GreyToColour(row[x]));
  }
  std::fclose(file);
}

void CheckScreenImage(const char* fileName) {
  // The same error the picture would give when shown: a missing, unreadable
  // or short file is 100. Only the bytes the picture needs are read.
  std::FILE* file = std::fopen(fileName, "rb");
  if (file == nullptr) {
    ReportCannotOpen(fileName, errno);
    RunError(ShortFileErrorCode);
  }
  constexpr long Needed = static_cast<long>(ImageWidth) * ImageHeight;
  std::uint8_t block[ImageWidth];
  long count = 0;
  while (count < Needed) {
    const std::size_t got = std::fread(block, 1, sizeof block, file);
    count += static_cast<long>(got);
    if (got < sizeof block) break;
  }
  if (count < Needed) {
    if (std::ferror(file))
      ReportCannotRead(fileName, errno);
    else
      ReportShortFile(fileName, count, Needed);
    std::fclose(file);
    RunError(ShortFileErrorCode);
  }
  std::fclose(file);
}
