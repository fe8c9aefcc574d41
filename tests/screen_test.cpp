// The screen start-up, the piece bitmaps and the board, checked pixel by
// pixel on the headless screen (SDL's dummy video driver).

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "display/display.h"
#include "rules/rules.h"
#include "tests/screen_support.h"

namespace {

using support::ScreenArea;
using support::TextMatches;

namespace fs = std::filesystem;

constexpr int Width = 640, Height = 480;
constexpr Colour Sentinel = 0x1234;

void OpenScreen() {
  support::OpenDummyScreen();
  ClearScreen();
}

void Fill(int x1, int y1, int x2, int y2, Colour colour) {
  SetFill(SolidFill, colour);
  FillBar(static_cast<std::int16_t>(x1), static_cast<std::int16_t>(y1),
          static_cast<std::int16_t>(x2), static_cast<std::int16_t>(y2));
}

// A folder of its own for each test that needs files. A death test's child
// runs the test again from its start: it finds the parent's folder in the
// environment and works there, and the parent removes the folder at the end.
struct TempFolder {
  fs::path Path;
  fs::path Previous;
  bool Owner = false;
  TempFolder() {
    Previous = fs::current_path();
    if (const char* given = std::getenv("KELVAR_SCREEN_TEST_FOLDER")) {
      Path = given;
    } else {
      char pattern[] = "/tmp/kelvar-screen-XXXXXX";
      Path = mkdtemp(pattern);
      setenv("KELVAR_SCREEN_TEST_FOLDER", Path.c_str(), 1);
      Owner = true;
    }
    fs::current_path(Path);
  }
  ~TempFolder() {
    fs::current_path(Previous);
    if (Owner) {
      fs::remove_all(Path);
      unsetenv("KELVAR_SCREEN_TEST_FOLDER");
    }
  }
};

void WriteBytes(const std::string& name, const std::vector<std::uint8_t>& bytes) {
  std::FILE* file = std::fopen(name.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), file), bytes.size());
  std::fclose(file);
}

// PieceFileByte: a pattern that tells rows from columns and kinds apart.
std::uint8_t PieceFileByte(int kind, int column, int row) {
  return static_cast<std::uint8_t>((kind * 37 + column * 3 + row * 5) % 256);
}

void WritePieceFile(int kind, std::size_t length) {
  std::vector<std::uint8_t> bytes(length);
  for (std::size_t n = 0; n < length; ++n)
    bytes[n] =
        n < 2304 ? PieceFileByte(kind, static_cast<int>(n % 48), static_cast<int>(n / 48)) : 0xEE;
  WriteBytes("fig" + std::to_string(kind) + ".x", bytes);
}

// ---- Checks run inside a child just before it ends with a run-time error --------------

// The loading screen as it must stand when the program stops after reading
// SegmentsExpected files: the dark texture in the corner, the text, the
// frame and that many segments, everything else black.
int SegmentsExpected = 0;

void CheckLoadingScreen() {
  const std::vector<Colour> seen = ScreenArea(0, 0, Width - 1, Height - 1);
  auto at = [&](int x, int y) { return seen[y * Width + x]; };
  int problems = 0;
  auto report = [&](const char* what, int x, int y) {
    if (problems++ < 5) std::fprintf(stderr, "%s at (%d, %d): %04X\n", what, x, y, at(x, y));
  };
  // The text, compared with a fresh drawing of it in the colour InitGraph leaves.
  const std::string text = "Reading bitmaps...";
  ClearScreen();
  SetDrawColor(0x000F);
  DrawText(260, 220, text);
  const std::vector<Colour> textOnly = ScreenArea(0, 0, Width - 1, Height - 1);
  int distinctTexture = 0;
  bool textureSeen[5] = {};
  for (int y = 0; y < Height; ++y) {
    for (int x = 0; x < Width; ++x) {
      const Colour c = at(x, y);
      if (x < 48 && y < 48) {
        if (c < 2 || c > 4) report("corner not dark texture", x, y);
        if (c >= 2 && c <= 4 && !textureSeen[c]) {
          textureSeen[c] = true;
          ++distinctTexture;
        }
        continue;
      }
      const bool frame = ((y == 240 || y == 250) && x >= 50 && x <= 592) ||
                         ((x == 50 || x == 592) && y >= 240 && y <= 250);
      const bool segment = y >= 241 && y <= 249 && x >= 51 && x <= 51 + 90 * SegmentsExpected &&
                           SegmentsExpected > 0;
      Colour expected = textOnly[y * Width + x];
      if (frame) expected = 0xFFFF;
      if (segment) expected = 0x9CD3;
      if (c != expected) report("unexpected pixel", x, y);
    }
  }
  if (distinctTexture < 3) report("texture is not noise", 0, 0);
  if (problems == 0) std::fprintf(stderr, "loading screen as expected\n");
}

int RowsExpected = 0;
std::uint8_t ImageByte(int x, int y) { return static_cast<std::uint8_t>((x + 2 * y) % 256); }

void CheckImageRows() {
  int problems = 0;
  for (int y = 0; y < Height; ++y) {
    for (int x = 0; x < Width; ++x) {
      const Colour expected = y < RowsExpected ? GreyToColour(ImageByte(x, y)) : Sentinel;
      if (ReadPixel(static_cast<std::int16_t>(x), static_cast<std::int16_t>(y)) != expected) {
        if (problems++ < 5) std::fprintf(stderr, "pixel (%d, %d) wrong\n", x, y);
      }
    }
  }
  if (problems == 0) std::fprintf(stderr, "rows above the short one drawn, the rest untouched\n");
}

// ---- Piece bitmaps -------------------------------------------------------------------------

TEST(PieceBitmapTest, FileRowsBecomeArrayColumns) {
  TempFolder folder;
  WritePieceFile(2, 2400);  // bytes after the 2304th are ignored
  PieceBitmap bitmap{};
  ReadPieceBitmap("fig2.x", bitmap);
  for (int column = 0; column < 48; ++column)
    for (int row = 0; row < 48; ++row)
      ASSERT_EQ(bitmap[column][row], PieceFileByte(2, column, row)) << column << "," << row;
  // First byte top-left, 48th top-right, 49th the start of the second row.
  EXPECT_EQ(bitmap[0][0], PieceFileByte(2, 0, 0));
  EXPECT_EQ(bitmap[47][0], PieceFileByte(2, 47, 0));
  EXPECT_EQ(bitmap[0][1], PieceFileByte(2, 0, 1));
}

TEST(PieceBitmapTest, GreyColouringLightensAndRoundsHalvesToEven) {
  OpenScreen();
  Fill(0, 0, 100, 100, Sentinel);
  PieceBitmap bitmap{};
  // Grey level round(0.75 g + 63): 1 and 2 give 64, 6 gives 68 (67.5 to
  // even), 10 gives 70 (70.5 to even), 254 and 255 give 254.
  const std::uint8_t bytes[] = {1, 2, 6, 10, 128, 254, 255};
  const std::uint8_t levels[] = {64, 64, 68, 70, 159, 254, 254};
  for (int n = 0; n < 7; ++n) bitmap[n][3] = bytes[n];
  DrawPieceGrey(20, 30, bitmap);
  for (int n = 0; n < 7; ++n) EXPECT_EQ(ReadPixel(20 + n, 33), GreyToColour(levels[n])) << n;
  EXPECT_EQ(ReadPixel(20, 33), 0x4208);
  EXPECT_EQ(ReadPixel(26, 33), 0xFFFF);
  // Zero bytes are transparent.
  EXPECT_EQ(ReadPixel(20, 30), Sentinel);
  EXPECT_EQ(ReadPixel(67, 77), Sentinel);
  EXPECT_EQ(GreyToColour(0), 0x0000);
  EXPECT_EQ(GreyToColour(128), 0x8410);
  EXPECT_EQ(GreyToColour(255), 0xFFFF);
}

TEST(PieceBitmapTest, GreenColouringKeepsTheTopSixBits) {
  OpenScreen();
  Fill(0, 0, 100, 100, Sentinel);
  PieceBitmap bitmap{};
  const std::uint8_t bytes[] = {1, 3, 4, 7, 8, 255};
  const Colour colours[] = {0x0000, 0x0000, 0x0020, 0x0020, 0x0040, 0x07E0};
  for (int n = 0; n < 6; ++n) bitmap[47][n] = bytes[n];
  DrawPieceGreen(10, 10, bitmap);
  for (int n = 0; n < 6; ++n) EXPECT_EQ(ReadPixel(57, 10 + n), colours[n]) << n;
  EXPECT_EQ(ReadPixel(57, 16), Sentinel);
  EXPECT_EQ(ReadPixel(10, 10), Sentinel);
}

TEST(PieceBitmapTest, RawDrawingWritesEveryByteAsItsColour) {
  OpenScreen();
  Fill(0, 0, 100, 100, Sentinel);
  PieceBitmap bitmap{};
  bitmap[5][9] = 14;
  bitmap[47][47] = 255;
  DrawBitmapRaw(30, 40, bitmap);
  EXPECT_EQ(ReadPixel(35, 49), 14);
  EXPECT_EQ(ReadPixel(77, 87), 255);
  EXPECT_EQ(ReadPixel(30, 40), 0);  // nothing is transparent
  EXPECT_EQ(ReadPixel(78, 87), Sentinel);
  EXPECT_EQ(ReadPixel(77, 88), Sentinel);
}

TEST(PieceBitmapTest, ScreenImageFillsTheScreenRowByRow) {
  OpenScreen();
  TempFolder folder;
  std::vector<std::uint8_t> bytes(640 * 480 + 10);
  for (int y = 0; y < Height; ++y)
    for (int x = 0; x < Width; ++x) bytes[y * Width + x] = ImageByte(x, y);
  WriteBytes("picture.x", bytes);
  ShowScreenImage("picture.x");
  for (int y = 0; y < Height; y += 7)
    for (int x = 0; x < Width; x += 3)
      ASSERT_EQ(ReadPixel(x, y), GreyToColour(ImageByte(x, y))) << x << "," << y;
  EXPECT_EQ(ReadPixel(639, 479), GreyToColour(ImageByte(639, 479)));
}

using PieceBitmapDeathTest = ::testing::Test;

TEST_F(PieceBitmapDeathTest, FileFailuresEndTheProgramWithTheirNumbers) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  TempFolder folder;
  PieceBitmap bitmap{};
  EXPECT_EXIT(ReadPieceBitmap("fig9.x", bitmap), ::testing::ExitedWithCode(2), "");
  WritePieceFile(4, 2303);
  EXPECT_EXIT(ReadPieceBitmap("fig4.x", bitmap), ::testing::ExitedWithCode(100), "");
}

TEST_F(PieceBitmapDeathTest, ShortScreenImageStopsAfterTheWholeRows) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  TempFolder folder;
  std::vector<std::uint8_t> bytes(640 * 3 + 639);
  for (std::size_t n = 0; n < bytes.size(); ++n)
    bytes[n] = ImageByte(static_cast<int>(n % 640), static_cast<int>(n / 640));
  WriteBytes("short.x", bytes);
  auto show = [](const char* name, int rows) {
    OpenScreen();
    Fill(0, 0, Width - 1, Height - 1, Sentinel);
    RowsExpected = rows;
    SetRunErrorShutdown(CheckImageRows);
    ShowScreenImage(name);
  };
  EXPECT_EXIT(show("short.x", 3), ::testing::ExitedWithCode(100),
              "rows above the short one drawn, the rest untouched");
  EXPECT_EXIT(show("missing.x", 0), ::testing::ExitedWithCode(100),
              "rows above the short one drawn, the rest untouched");
}

// ---- Start-up ------------------------------------------------------------------------------

using StartGraphicsDeathTest = ::testing::Test;

TEST_F(StartGraphicsDeathTest, MissingFirstPieceStopsOnTheBareLoadingScreen) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  TempFolder folder;
  for (int kind = 2; kind <= 6; ++kind) WritePieceFile(kind, 2304);
  auto start = [] {
    OpenScreen();
    SegmentsExpected = 0;
    SetRunErrorShutdown(CheckLoadingScreen);
    LoadGraphics();
  };
  EXPECT_EXIT(start(), ::testing::ExitedWithCode(2), "loading screen as expected");
}

TEST_F(StartGraphicsDeathTest, ShortThirdPieceStopsAfterTwoSegments) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  TempFolder folder;
  for (int kind = 1; kind <= 6; ++kind) WritePieceFile(kind, kind == 3 ? 2303 : 2304);
  auto start = [] {
    OpenScreen();
    SegmentsExpected = 2;
    SetRunErrorShutdown(CheckLoadingScreen);
    LoadGraphics();
  };
  EXPECT_EXIT(start(), ::testing::ExitedWithCode(100), "loading screen as expected");
}

TEST_F(StartGraphicsDeathTest, EachMissingOrShortPictureIsNamedBeforeTheReport) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  TempFolder folder;
  auto load = [] {
    OpenScreen();
    LoadGraphics();
  };
  for (int kind = 1; kind <= 6; ++kind) {
    const std::string name = "fig" + std::to_string(kind) + "\\.x";
    for (int other = 1; other <= 6; ++other) WritePieceFile(other, 2304);
    std::remove(("fig" + std::to_string(kind) + ".x").c_str());
    EXPECT_EXIT(load(), ::testing::ExitedWithCode(2),
                "^" + name + ": cannot open: No such file or directory\n$");
    WritePieceFile(kind, 1200);
    EXPECT_EXIT(load(), ::testing::ExitedWithCode(100),
                "^" + name + ": 1200 bytes, 2304 expected\n$");
  }
  auto show = [](const char* fileName) {
    OpenScreen();
    ShowScreenImage(fileName);
  };
  EXPECT_EXIT(show("PawnFix.x"), ::testing::ExitedWithCode(100),
              "^PawnFix\\.x: cannot open: No such file or directory\n$");
  WriteBytes("PawnFix.x", std::vector<std::uint8_t>(640 * 100 + 17, 9));
  EXPECT_EXIT(show("PawnFix.x"), ::testing::ExitedWithCode(100),
              "^PawnFix\\.x: 64017 bytes, 307200 expected\n$");
}

TEST_F(StartGraphicsDeathTest, MissingOrShortPromotionPictureStopsOnTheFullLoadingScreen) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  TempFolder folder;
  for (int kind = 1; kind <= 6; ++kind) WritePieceFile(kind, 2304);
  auto start = [] {
    OpenScreen();
    SegmentsExpected = 6;
    SetRunErrorShutdown(CheckLoadingScreen);
    LoadGraphics();
  };
  EXPECT_EXIT(start(), ::testing::ExitedWithCode(100),
              "PawnFix.x: cannot open: No such file or directory\nloading screen as expected");
  WriteBytes("PawnFix.x", std::vector<std::uint8_t>(1200, 7));
  EXPECT_EXIT(start(), ::testing::ExitedWithCode(100),
              "PawnFix.x: 1200 bytes, 307200 expected\nloading screen as expected");
  WriteBytes("PawnFix.x", std::vector<std::uint8_t>(640 * 480 - 1, 7));
  EXPECT_EXIT(start(), ::testing::ExitedWithCode(100), "PawnFix.x: 307199 bytes, 307200 expected");
}

TEST(StartGraphicsTest, LoadsEveryPieceAndLeavesABlackScreen) {
  OpenScreen();
  TempFolder folder;
  for (int kind = 1; kind <= 6; ++kind) WritePieceFile(kind, 2304);
  WriteBytes("PawnFix.x", std::vector<std::uint8_t>(640 * 480, 7));
  // The textures take their noise from the program's generator, light byte
  // before dark byte, row by row.
  SeedRandom(4242);
  PieceBitmap light{}, dark{};
  for (int j = 0; j < 48; ++j) {
    for (int i = 0; i < 48; ++i) {
      light[i][j] = static_cast<std::uint8_t>(13 + Random(3));
      dark[i][j] = static_cast<std::uint8_t>(2 + Random(3));
    }
  }
  SeedRandom(4242);
  StartGraphics();
  for (int y = 0; y < Height; ++y)
    for (int x = 0; x < Width; ++x) ASSERT_EQ(ReadPixel(x, y), 0) << x << "," << y;
  for (int kind = 1; kind <= 6; ++kind)
    for (int column = 0; column < 48; ++column)
      for (int row = 0; row < 48; ++row)
        ASSERT_EQ(PieceBitmaps[kind][column][row], PieceFileByte(kind, column, row));
  ASSERT_NE(LightSquareImage, nullptr);
  ASSERT_NE(DarkSquareImage, nullptr);
  RestoreArea(100, 200, LightSquareImage, CopyPut);
  RestoreArea(300, 200, DarkSquareImage, CopyPut);
  for (int j = 0; j < 48; ++j) {
    for (int i = 0; i < 48; ++i) {
      ASSERT_EQ(ReadPixel(100 + i, 200 + j), light[i][j]) << i << "," << j;
      ASSERT_EQ(ReadPixel(300 + i, 200 + j), dark[i][j]) << i << "," << j;
    }
  }
  // A second start-up keeps the buffers it made the first time.
  std::uint8_t* const lightBuffer = LightSquareImage;
  LoadGraphics();
  EXPECT_EQ(LightSquareImage, lightBuffer);
}

// ---- The board ---------------------------------------------------------------------------------

// A board fixture with textures of known values and plain bitmaps: kind k is
// a 20 x 20 block of grey 40 k in the middle of its square.
class BoardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OpenScreen();
    PieceBitmap light{}, dark{};
    for (int j = 0; j < 48; ++j) {
      for (int i = 0; i < 48; ++i) {
        light[i][j] = static_cast<std::uint8_t>(13 + (i + j) % 3);
        dark[i][j] = static_cast<std::uint8_t>(2 + (i * j) % 3);
      }
    }
    static std::uint8_t lightBuffer[4620], darkBuffer[4620];
    ASSERT_EQ(AreaBufferSize(0, 0, 47, 47), 4620);
    DrawBitmapRaw(0, 0, light);
    SaveArea(0, 0, 47, 47, lightBuffer);
    DrawBitmapRaw(0, 0, dark);
    SaveArea(0, 0, 47, 47, darkBuffer);
    // The start-up's own buffers are put back afterwards: they live for the
    // whole run.
    SavedLight = LightSquareImage;
    SavedDark = DarkSquareImage;
    LightSquareImage = lightBuffer;
    DarkSquareImage = darkBuffer;
    for (int kind = 1; kind <= 6; ++kind) {
      PieceBitmaps[kind] = PieceBitmap{};
      for (int i = 14; i < 34; ++i)
        for (int j = 14; j < 34; ++j)
          PieceBitmaps[kind][i][j] = static_cast<std::uint8_t>(40 * kind);
    }
    ClearScreen();
  }

  void TearDown() override {
    LightSquareImage = SavedLight;
    DarkSquareImage = SavedDark;
  }

  std::uint8_t* SavedLight = nullptr;
  std::uint8_t* SavedDark = nullptr;

  static int SquareX(int file) { return 127 + 48 * (file - 1); }
  static int SquareY(int rank) { return 47 + 48 * (8 - rank); }
  static bool IsDark(Colour c) { return c >= 2 && c <= 4; }
  static bool IsLight(Colour c) { return c >= 13 && c <= 15; }
};

TEST_F(BoardTest, OpeningPositionHasFrameLabelsSquaresAndBothColourings) {
  LoadPosition(KELVAR_SOURCE_DIR "/data/kelvar.in");
  DrawBoard(Board);
  // The white frame: left and top on the squares' first column and row,
  // right and bottom one pixel outside them.
  for (int n = 47; n <= 431; ++n) {
    ASSERT_EQ(ReadPixel(127, n), 0xFFFF) << n;
    ASSERT_EQ(ReadPixel(511, n), 0xFFFF) << n;
  }
  for (int n = 127; n <= 511; ++n) {
    ASSERT_EQ(ReadPixel(n, 47), 0xFFFF) << n;
    ASSERT_EQ(ReadPixel(n, 431), 0xFFFF) << n;
  }
  EXPECT_NE(ReadPixel(128, 48), 0xFFFF);
  EXPECT_EQ(ReadPixel(512, 240), 0x0000);
  // Labels: letters at y 434 below the files, digits at x 514 beside the ranks.
  for (int file = 1; file <= 8; ++file)
    EXPECT_TRUE(TextMatches(147 + 48 * (file - 1), 434, std::string(1, char('A' + file - 1)),
                            0xAD55, 0x0000))
        << file;
  for (int rank = 1; rank <= 8; ++rank)
    EXPECT_TRUE(
        TextMatches(514, 402 - 48 * (rank - 1), std::string(1, char('0' + rank)), 0xAD55, 0x0000))
        << rank;
  // a1 dark, h1 light, and the textures themselves (away from the frame).
  EXPECT_TRUE(IsDark(ReadPixel(SquareX(1) + 5, SquareY(1) + 5)));
  EXPECT_TRUE(IsLight(ReadPixel(SquareX(8) + 5, SquareY(1) + 5)));
  EXPECT_EQ(ReadPixel(SquareX(4) + 10, SquareY(4) + 7), 2 + (10 * 7) % 3);   // d4 dark
  EXPECT_EQ(ReadPixel(SquareX(5) + 10, SquareY(4) + 7), 13 + (10 + 7) % 3);  // e4 light
  // Side 1's king on e1 in lightened grey, side 2's on e8 in green; the
  // square shows around the piece.
  EXPECT_EQ(ReadPixel(SquareX(5) + 20, SquareY(1) + 20), GreyToColour(243));  // 0.75 240 + 63
  EXPECT_EQ(ReadPixel(SquareX(5) + 20, SquareY(8) + 20), (240 >> 2) << 5);
  EXPECT_TRUE(IsDark(ReadPixel(SquareX(5) + 5, SquareY(1) + 5)));
  EXPECT_TRUE(IsLight(ReadPixel(SquareX(5) + 5, SquareY(8) + 5)));
  // Side 2's pawn on a7 and side 1's queen on d1.
  EXPECT_EQ(ReadPixel(SquareX(1) + 30, SquareY(7) + 30), (40 >> 2) << 5);
  EXPECT_EQ(ReadPixel(SquareX(4) + 30, SquareY(1) + 30), GreyToColour(213));  // 0.75 200 + 63
  // An empty square is bare texture.
  EXPECT_TRUE(IsDark(ReadPixel(SquareX(4) + 24, SquareY(4) + 24)));
}

TEST_F(BoardTest, EmptyBoardAlternatesSquaresAndDrawsNoPieces) {
  BoardGrid empty{};
  DrawBoard(empty);
  for (int file = 1; file <= 8; ++file) {
    for (int rank = 1; rank <= 8; ++rank) {
      const Colour c = ReadPixel(SquareX(file) + 24, SquareY(rank) + 24);
      EXPECT_TRUE((file + rank) % 2 == 0 ? IsDark(c) : IsLight(c)) << file << rank;
    }
  }
}

TEST_F(BoardTest, HighlightIsThreeOutlinesOnTheSquaresEdge) {
  Fill(100, 20, 220, 140, Sentinel);
  HighlightSquare(1, 8, 0xFFFF);
  // a8: x 127..174, y 47..94. Outlines at one pixel outside, on, and one
  // pixel inside the edge; the rest untouched.
  int white = 0;
  for (int y = 20; y <= 140; ++y) {
    for (int x = 100; x <= 220; ++x) {
      bool onOutline = false;
      for (int d = -1; d <= 1; ++d) {
        const int x1 = 127 + d, y1 = 47 + d, x2 = 174 - d, y2 = 94 - d;
        if (((x == x1 || x == x2) && y >= y1 && y <= y2) ||
            ((y == y1 || y == y2) && x >= x1 && x <= x2))
          onOutline = true;
      }
      const Colour c = ReadPixel(x, y);
      ASSERT_EQ(c, onOutline ? 0xFFFF : Sentinel) << x << "," << y;
      white += c == 0xFFFF;
    }
  }
  EXPECT_EQ(ReadPixel(126, 60), 0xFFFF);
  EXPECT_EQ(ReadPixel(150, 46), 0xFFFF);
  EXPECT_EQ(white, 4 * 49 + 4 * 47 + 4 * 45);
  HighlightSquare(8, 1, 0x07E0);
  // h1: x 463..510, y 383..430; the outer outline lies on the frame's lines.
  EXPECT_EQ(ReadPixel(511, 400), 0x07E0);
  EXPECT_EQ(ReadPixel(480, 431), 0x07E0);
  EXPECT_EQ(ReadPixel(464, 400), 0x07E0);
  EXPECT_EQ(ReadPixel(465, 400), 0x0000);
  EXPECT_EQ(ReadPixel(512, 400), 0x0000);
}

TEST_F(BoardTest, PointsBecomeSquares) {
  struct Case {
    std::int16_t X, Y, File, Rank;
  };
  const Case cases[] = {{127, 47, 1, 8}, {510, 430, 8, 1}, {175, 47, 2, 8},
                        {174, 94, 1, 8}, {175, 95, 2, 7},  {300, 300, 4, 3}};
  for (const Case& c : cases) {
    std::int16_t file = 0, rank = 0;
    PointToSquare(c.X, c.Y, file, rank);
    EXPECT_EQ(file, c.File) << c.X << "," << c.Y;
    EXPECT_EQ(rank, c.Rank) << c.X << "," << c.Y;
  }
}

TEST_F(BoardTest, PointerIsSixLinesShadowFirstInsideItsBlock) {
  Fill(0, 0, Width - 1, Height - 1, Sentinel);
  DrawPointer(300, 200);
  for (int y = 190; y < 225; ++y) {
    for (int x = 290; x < 320; ++x) {
      const bool inBlock = x >= 300 && x <= 309 && y >= 200 && y <= 214;
      if (!inBlock) {
        ASSERT_EQ(ReadPixel(x, y), Sentinel) << x << "," << y;
      }
    }
  }
  // The arrow's three edges.
  for (int j = 0; j <= 13; ++j) EXPECT_EQ(ReadPixel(300, 200 + j), 0xEF7D) << j;
  for (int i = 0; i <= 8; ++i) EXPECT_EQ(ReadPixel(300 + i, 200 + i), 0xEF7D) << i;
  EXPECT_EQ(ReadPixel(308, 208), 0xEF7D);
  // Where the shadow's first line crosses the arrow's slant, the arrow wins.
  EXPECT_EQ(ReadPixel(301, 201), 0xEF7D);
  // The shadow: its left line, slant and bottom.
  // (the arrow's lower edge crosses x 301 at y 212).
  for (int j = 2; j <= 11; ++j) EXPECT_EQ(ReadPixel(301, 200 + j), 0x0000) << j;
  EXPECT_EQ(ReadPixel(301, 212), 0xEF7D);
  EXPECT_EQ(ReadPixel(301, 214), 0x0000);
  for (int i = 2; i <= 9; ++i) EXPECT_EQ(ReadPixel(300 + i, 200 + i - 1), 0x0000) << i;
  EXPECT_EQ(ReadPixel(309, 209), 0x0000);
  // Not filled.
  EXPECT_EQ(ReadPixel(303, 208), Sentinel);
  EXPECT_EQ(ReadPixel(300, 214), Sentinel);
}

TEST_F(BoardTest, PointerBackgroundComesBackExactly) {
  for (int y = 0; y < Height; ++y)
    for (int x = 0; x < Width; ++x) SetPixel(x, y, static_cast<Colour>(x * 131 + y * 17));
  const std::vector<Colour> before = ScreenArea(0, 0, Width - 1, Height - 1);
  const std::int16_t points[][2] = {{300, 200}, {505, 425}, {635, 470}, {639, 479}, {0, 0}};
  for (const auto& p : points) {
    PointerBackground background{};
    SavePointerBackground(p[0], p[1], background);
    DrawPointer(p[0], p[1]);
    EXPECT_NE(ScreenArea(0, 0, Width - 1, Height - 1), before) << p[0] << "," << p[1];
    RestorePointerBackground(p[0], p[1], background);
    EXPECT_EQ(ScreenArea(0, 0, Width - 1, Height - 1), before) << p[0] << "," << p[1];
    if (p[0] == 300) {
      EXPECT_EQ(background[9][14], static_cast<Colour>(309 * 131 + 214 * 17));
    }
  }
}

}  // namespace

// ---- Our artwork, as the build draws it into its data folder -------------------------

std::vector<std::uint8_t> ReadWhole(const std::string& name) {
  std::vector<std::uint8_t> bytes;
  if (std::FILE* file = std::fopen(name.c_str(), "rb")) {
    int c;
    while ((c = std::fgetc(file)) != EOF) bytes.push_back(static_cast<std::uint8_t>(c));
    std::fclose(file);
  }
  return bytes;
}

TEST(ArtworkTest, PiecesAreSolidShapesWithDarkOutlinesOnATransparentGround) {
  for (int kind = 1; kind <= 6; ++kind) {
    SCOPED_TRACE(kind);
    const std::vector<std::uint8_t> b =
        ReadWhole(KELVAR_BINARY_DIR "/data/fig" + std::to_string(kind) + ".x");
    ASSERT_EQ(b.size(), 2304u);
    auto at = [&](int x, int y) { return x < 0 || y < 0 || x > 47 || y > 47 ? 0 : b[y * 48 + x]; };
    for (int n = 0; n < 48; ++n) {
      ASSERT_EQ(at(n, 0), 0);
      ASSERT_EQ(at(n, 47), 0);
      ASSERT_EQ(at(0, n), 0);
      ASSERT_EQ(at(47, n), 0);
    }
    // Every transparent pixel is reachable from the border (no holes punched
    // into a piece by a stray 0), and the drawn pixels form one piece.
    std::vector<int> mark(48 * 48, 0);
    auto flood = [&](int x0, int y0, bool drawn, int label) {
      int count = 0;
      std::vector<std::pair<int, int>> stack{{x0, y0}};
      while (!stack.empty()) {
        auto [x, y] = stack.back();
        stack.pop_back();
        if (x < 0 || y < 0 || x > 47 || y > 47 || mark[y * 48 + x] != 0) continue;
        if ((at(x, y) != 0) != drawn) continue;
        mark[y * 48 + x] = label;
        ++count;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx)
            if ((dx == 0 || dy == 0 || drawn) && (dx != 0 || dy != 0))
              stack.push_back({x + dx, y + dy});
      }
      return count;
    };
    const int transparent = flood(0, 0, false, 1);
    int drawnTotal = 0, firstDrawn = -1;
    for (int n = 0; n < 2304; ++n) {
      if (b[n] != 0) {
        ++drawnTotal;
        if (firstDrawn < 0) firstDrawn = n;
      }
    }
    EXPECT_EQ(transparent + drawnTotal, 2304) << "holes inside the piece";
    EXPECT_EQ(flood(firstDrawn % 48, firstDrawn / 48, true, 2), drawnTotal) << "loose pieces";
    EXPECT_GT(drawnTotal, 350);
    // The rim is dark, the body light.
    int bright = 0;
    for (int y = 0; y < 48; ++y) {
      for (int x = 0; x < 48; ++x) {
        if (at(x, y) == 0) continue;
        const bool rim =
            at(x - 1, y) == 0 || at(x + 1, y) == 0 || at(x, y - 1) == 0 || at(x, y + 1) == 0;
        if (rim) {
          EXPECT_LE(at(x, y), 140) << x << "," << y;
        }
        bright += !rim && at(x, y) >= 160;
      }
    }
    EXPECT_GT(bright, drawnTotal / 3);
  }
}

TEST(ArtworkTest, PromotionPictureLeavesTheChoiceCellsPlain) {
  const std::vector<std::uint8_t> b = ReadWhole(KELVAR_BINARY_DIR "/data/PawnFix.x");
  ASSERT_EQ(b.size(), 640u * 480u);
  const std::uint8_t cell = b[216 * 640 + 224];
  for (int y = 216; y <= 263; ++y)
    for (int x = 224; x <= 415; ++x) ASSERT_EQ(b[y * 640 + x], cell) << x << "," << y;
  // Dark enough that the grey pieces (64 and lighter) stand out on it.
  EXPECT_LT(cell, 60);
  // A picture, not a blank: the heading and the backdrop vary.
  int distinct = 0;
  bool seen[256] = {};
  for (const std::uint8_t v : b) {
    if (!seen[v]) ++distinct;
    seen[v] = true;
  }
  EXPECT_GT(distinct, 40);
}

TEST(SnapshotToolTest, WritesTheScreenAsA640By480Png) {
  const std::string tool = KELVAR_BINARY_DIR "/tools/kelvar-snapshot";
  const std::string out =
      fs::temp_directory_path() / ("kelvar-snapshot-" + std::to_string(getpid()) + ".png");
  const std::string command = tool + " " KELVAR_SOURCE_DIR "/data/kelvar.in " + out +
                              " --highlight e2 --message 'Error|Illegal Move' > /dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::vector<std::uint8_t> png = ReadWhole(out);
  fs::remove(out);
  ASSERT_GT(png.size(), 33u);
  const std::uint8_t signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  EXPECT_TRUE(std::equal(signature, signature + 8, png.begin()));
  auto big = [&](int at) {
    return (png[at] << 24) | (png[at + 1] << 16) | (png[at + 2] << 8) | png[at + 3];
  };
  EXPECT_EQ(big(16), 640);
  EXPECT_EQ(big(20), 480);
  EXPECT_EQ(png[24], 8);  // bits per channel
  EXPECT_EQ(png[25], 2);  // RGB
  // A square that is not on the board is refused before anything is drawn.
  EXPECT_NE(std::system((tool + " x.in y.png --highlight j9 > /dev/null 2>&1").c_str()), 0);
}
