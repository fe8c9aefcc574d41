// The drawing surface, headless under SDL's dummy video driver: extents,
// clipping, the line rule, text cells, saved areas and the graphics-mode error.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <utility>
#include <vector>

#include "display/display.h"
#include "tests/screen_support.h"

namespace {

using Points = std::set<std::pair<int, int>>;

constexpr Colour Paper = 0x1234;
constexpr Colour Ink = 0xF81F;

class Surface : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { support::OpenDummyScreen(); }
  void SetUp() override { Fill(Paper); }

  static void Fill(Colour colour) {
    for (int y = 0; y <= MaxY(); ++y)
      for (int x = 0; x <= MaxX(); ++x) SetPixel(x, y, colour);
  }
  // Changed: every pixel that no longer has the paper colour.
  static Points Changed() {
    Points points;
    for (int y = 0; y <= MaxY(); ++y)
      for (int x = 0; x <= MaxX(); ++x)
        if (ReadPixel(x, y) != Paper) points.insert({x, y});
    return points;
  }
};

TEST_F(Surface, ModeSizeAndInitialState) {
  EXPECT_EQ(MaxX(), 639);
  EXPECT_EQ(MaxY(), 479);
  // Reopening resets the drawing state; text then shows in 0x000F.
  SetDrawColor(Ink);
  InitGraph(Driver64K, Mode640x480, "");
  ASSERT_EQ(GraphResult(), 0);
  Fill(Paper);
  DrawText(100, 100, "I");
  bool any = false;
  for (auto [x, y] : Changed()) {
    EXPECT_EQ(ReadPixel(x, y), 0x000F);
    any = true;
  }
  EXPECT_TRUE(any);
  FillBar(0, 0, 0, 0);
  EXPECT_EQ(ReadPixel(0, 0), 0xFFFF);
}

TEST_F(Surface, ClearScreenReachesLastRowAndColumn) {
  SetDrawColor(Ink);
  SetFill(SolidFill, Ink);
  ClearScreen();
  for (int x = 0; x <= 639; ++x) EXPECT_EQ(ReadPixel(x, 479), 0x0000) << x;
  for (int y = 0; y <= 479; ++y) EXPECT_EQ(ReadPixel(639, y), 0x0000) << y;
  EXPECT_EQ(ReadPixel(0, 0), 0x0000);
  EXPECT_EQ(ReadPixel(320, 240), 0x0000);
}

TEST_F(Surface, ClippingAtTheScreenEdges) {
  SetPixel(640, 0, Ink);
  SetPixel(0, 480, Ink);
  SetPixel(-1, 10, Ink);
  SetPixel(10, -1, Ink);
  SetPixel(-32768, -32768, Ink);
  EXPECT_TRUE(Changed().empty());
  SetPixel(639, 479, Ink);
  EXPECT_EQ(Changed(), (Points{{639, 479}}));
  Fill(Paper);
  // A line running off the screen keeps exactly its visible pixels.
  SetDrawColor(Ink);
  DrawLine(630, 5, 650, 5);
  Points expected;
  for (int x = 630; x <= 639; ++x) expected.insert({x, 5});
  EXPECT_EQ(Changed(), expected);
  Fill(Paper);
  SetFill(SolidFill, Ink);
  FillBar(-10, 470, 5, 500);
  EXPECT_EQ(Changed().size(), 6u * 10u);
  Fill(Paper);
  DrawText(636, 476, "MM");
  for (auto [x, y] : Changed()) {
    EXPECT_GE(x, 636);
    EXPECT_GE(y, 476);
  }
}

TEST_F(Surface, LinesFollowBresenham) {
  SetDrawColor(Ink);
  DrawLine(10, 20, 18, 28);
  Points diagonal;
  for (int i = 0; i <= 8; ++i) diagonal.insert({10 + i, 20 + i});
  EXPECT_EQ(Changed(), diagonal);

  // Shallow line (0,0)-(7,3): a = 7, b = 3, error 2b - a = -1, then +6 or -8.
  // Steps: err -1 (x only) -> 5 (x,y) -> -3 (x) -> 3 (x,y) -> -5 (x) -> 1 (x,y) -> -7 (x).
  Fill(Paper);
  DrawLine(100, 100, 107, 103);
  EXPECT_EQ(Changed(), (Points{{100, 100},
                               {101, 100},
                               {102, 101},
                               {103, 101},
                               {104, 102},
                               {105, 102},
                               {106, 103},
                               {107, 103}}));
  // Drawn backwards the rule starts at the other end, so the middle differs.
  Fill(Paper);
  DrawLine(107, 103, 100, 100);
  EXPECT_EQ(Changed(), (Points{{107, 103},
                               {106, 103},
                               {105, 102},
                               {104, 102},
                               {103, 101},
                               {102, 101},
                               {101, 100},
                               {100, 100}}));
  // Steep line (0,0)-(2,5): a = 5, b = 2, error -1, then +4 or -6.
  Fill(Paper);
  DrawLine(50, 50, 52, 55);
  EXPECT_EQ(Changed(), (Points{{50, 50}, {50, 51}, {51, 52}, {51, 53}, {52, 54}, {52, 55}}));
  // A single point and a vertical line include both ends.
  Fill(Paper);
  DrawLine(3, 3, 3, 3);
  DrawLine(600, 479, 600, 470);
  Points expected{{3, 3}};
  for (int y = 470; y <= 479; ++y) expected.insert({600, y});
  EXPECT_EQ(Changed(), expected);
}

TEST_F(Surface, RectangleAndBarExtents) {
  SetDrawColor(Ink);
  DrawRectangle(127, 47, 511, 431);
  Points outline;
  for (int x = 127; x <= 511; ++x) {
    outline.insert({x, 47});
    outline.insert({x, 431});
  }
  for (int y = 47; y <= 431; ++y) {
    outline.insert({127, y});
    outline.insert({511, y});
  }
  EXPECT_EQ(Changed(), outline);

  Fill(Paper);
  SetDrawColor(0x0001);
  SetFill(SolidFill, Ink);
  FillBar(5, 72, 45, 64);  // rows given upside down are swapped
  Points bar;
  for (int x = 5; x <= 45; ++x)
    for (int y = 64; y <= 72; ++y) bar.insert({x, y});
  EXPECT_EQ(Changed(), bar);
  EXPECT_EQ(bar.size(), 41u * 9u);
  for (auto [x, y] : bar) ASSERT_EQ(ReadPixel(x, y), Ink);

  // A pattern above 12 is refused and changes nothing.
  SetFill(13, 0x0001);
  EXPECT_NE(GraphResult(), 0);
  Fill(Paper);
  FillBar(0, 0, 1, 1);
  EXPECT_EQ(ReadPixel(0, 0), Ink);
}

TEST_F(Surface, TextStaysInItsCellsAndIsTransparent) {
  SetDrawColor(Ink);
  DrawText(10, 20, "A");
  Points changed = Changed();
  ASSERT_FALSE(changed.empty());
  for (auto [x, y] : changed) {
    EXPECT_TRUE(x >= 10 && x <= 17 && y >= 20 && y <= 27) << x << "," << y;
    EXPECT_EQ(ReadPixel(x, y), Ink);
  }
  // Most of the cell keeps the paper beneath it.
  EXPECT_LT(changed.size(), 32u);

  // Character k sits in the cell at x + 8k; a space draws nothing.
  Fill(Paper);
  DrawText(100, 50, "A A");
  Points first, third;
  for (auto [x, y] : Changed()) {
    ASSERT_TRUE((x >= 100 && x <= 107) || (x >= 116 && x <= 123)) << x;
    (x < 108 ? first : third).insert({x - (x < 108 ? 100 : 116), y});
  }
  EXPECT_EQ(first, third);

  // Every byte has a glyph, and each printable character draws something.
  for (int code = 33; code <= 126; ++code) {
    bool any = false;
    for (int row = 0; row < 8; ++row) any = any || FontGlyphs[code][row] != 0;
    EXPECT_TRUE(any) << code;
  }
  for (int row = 0; row < 8; ++row) EXPECT_EQ(FontGlyphs[32][row], 0);
  bool boxed = false;
  for (int row = 0; row < 8; ++row) boxed = boxed || FontGlyphs[200][row] != 0;
  EXPECT_TRUE(boxed);
}

TEST_F(Surface, SavedAreaCopiesExactly) {
  EXPECT_EQ(AreaBufferSize(0, 0, 47, 47), 4620);
  EXPECT_EQ(AreaBufferSize(10, 10, 10, 10), 14);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 48; ++x) SetPixel(x, y, static_cast<Colour>(x * 64 + y + 1));
  std::vector<unsigned char> buffer(4620 + 8, 0xAB);
  SaveArea(0, 0, 47, 47, buffer.data());
  EXPECT_EQ(buffer[4620], 0xAB) << "SaveArea wrote past its size";
  std::int32_t header[3];
  std::memcpy(header, buffer.data(), sizeof header);
  EXPECT_EQ(header[0], 47);
  EXPECT_EQ(header[1], 47);
  EXPECT_EQ(header[2], 0);

  RestoreArea(300, 200, buffer.data(), CopyPut);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 48; ++x)
      ASSERT_EQ(ReadPixel(300 + x, 200 + y), x * 64 + y + 1) << x << "," << y;
  EXPECT_EQ(ReadPixel(299, 200), Paper);
  EXPECT_EQ(ReadPixel(348, 247), Paper);
  EXPECT_EQ(ReadPixel(300, 248), Paper);

  // Restored partly off the screen, the visible part lands and nothing wraps.
  RestoreArea(620, 460, buffer.data(), CopyPut);
  EXPECT_EQ(ReadPixel(639, 479), 19 * 64 + 19 + 1);
  EXPECT_EQ(ReadPixel(0, 461), Paper);
}

TEST(SurfaceWithoutMode, DrawingEndsTheProgramWithStatusOne) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // The child never opens a mode: the first pixel ends it.
  EXPECT_EXIT(
      {
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        SetPixel(0, 0, 0xFFFF);
      },
      ::testing::ExitedWithCode(1), "no graphics mode");
}

}  // namespace
