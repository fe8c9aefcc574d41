// The message box, the info panel, the status box and the progress bar,
// checked pixel by pixel on the headless screen.

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "display/display.h"
#include "tests/screen_support.h"

namespace {

using support::ScreenArea;
using support::TextMatches;

constexpr Colour Sentinel = 0x1234;
constexpr Colour BoxBackground = 0x0001;
constexpr Colour Frame = 0xAD55;

void OpenScreen() {
  support::OpenDummyScreen();
  SetFill(SolidFill, Sentinel);
  FillBar(0, 0, 639, 479);
}

// ExpectBox: the message box's background, double frame and title gap for a
// box from (left, top) to (right, bottom) and a title of t characters.
void ExpectBox(int left, int top, int right, int bottom, int t) {
  const int mid = (top + bottom) / 2;
  // Outside untouched, frames on their lines, background between.
  EXPECT_EQ(ReadPixel(left - 1, mid), Sentinel);
  EXPECT_EQ(ReadPixel(right + 1, mid), Sentinel);
  EXPECT_EQ(ReadPixel(left + 10, bottom + 1), Sentinel);
  EXPECT_EQ(ReadPixel(left + 1, top - 3), Sentinel);
  for (int d : {0, 2}) {
    EXPECT_EQ(ReadPixel(left + d, mid), Frame) << d;
    EXPECT_EQ(ReadPixel(right - d, mid), Frame) << d;
    EXPECT_EQ(ReadPixel(left + 10, bottom - d), Frame) << d;
    EXPECT_EQ(ReadPixel(left + 1 + d, top + d), Frame) << d;
  }
  EXPECT_EQ(ReadPixel(left, top), Frame);
  EXPECT_EQ(ReadPixel(right, bottom), Frame);
  EXPECT_EQ(ReadPixel(left + 1, mid), BoxBackground);
  EXPECT_EQ(ReadPixel(left + 3, mid), BoxBackground);
  EXPECT_EQ(ReadPixel(right - 1, mid), BoxBackground);
  // The gap: x 318 - 4t to 322 + 4t, y top - 2 to top + 2, in the
  // background colour except for the title's own pixels.
  const int gapLeft = 318 - 4 * t, gapRight = 322 + 4 * t;
  for (int y = top - 2; y <= top + 2; ++y) {
    EXPECT_EQ(ReadPixel(gapLeft, y), BoxBackground) << y;
    EXPECT_EQ(ReadPixel(gapRight, y), BoxBackground) << y;
  }
  EXPECT_EQ(ReadPixel(gapLeft - 1, top), Frame);
  EXPECT_EQ(ReadPixel(gapRight + 1, top), Frame);
  EXPECT_EQ(ReadPixel(gapLeft - 1, top - 2), Sentinel);
}

TEST(MessageBoxTest, IllegalMoveBoxStandsWhereTheWorkedExampleSays) {
  OpenScreen();
  DrawMessageBox("Error", "Illegal Move");
  ExpectBox(252, 214, 388, 266, 5);
  EXPECT_TRUE(TextMatches(300, 212, "Error", 0x73AE, BoxBackground));
  EXPECT_TRUE(TextMatches(272, 234, "Illegal Move", 0xDEFB, BoxBackground));
}

TEST(MessageBoxTest, TwoLineBoxCentresEachLine) {
  OpenScreen();
  DrawMessageBox("Computer", "I have no legal moves|Game Over");
  ExpectBox(216, 208, 424, 272, 8);
  EXPECT_TRUE(TextMatches(288, 206, "Computer", 0x73AE, BoxBackground));
  EXPECT_TRUE(TextMatches(236, 228, "I have no legal moves", 0xDEFB, BoxBackground));
  EXPECT_TRUE(TextMatches(284, 240, "Game Over", 0xDEFB, BoxBackground));
}

TEST(MessageBoxTest, EmptyTextsAndTrailingBarShapeTheBox) {
  OpenScreen();
  // An empty text is one empty line; the title sets nothing of the width.
  DrawMessageBox("OK", "");
  ExpectBox(300, 214, 340, 266, 2);
  EXPECT_TRUE(TextMatches(312, 212, "OK", 0x73AE, BoxBackground));
  OpenScreen();
  // An empty title still cuts a gap of five pixels.
  DrawMessageBox("", "Check");
  ExpectBox(280, 214, 360, 266, 0);
  EXPECT_EQ(ReadPixel(317, 214), Frame);
  EXPECT_EQ(ReadPixel(320, 214), BoxBackground);
  EXPECT_TRUE(TextMatches(300, 234, "Check", 0xDEFB, BoxBackground));
  OpenScreen();
  // A closing "|" adds an empty last line: twelve pixels taller.
  DrawMessageBox("Error", "Check|");
  ExpectBox(280, 208, 360, 272, 5);
  EXPECT_TRUE(TextMatches(300, 228, "Check", 0xDEFB, BoxBackground));
  // A text of full length keeps its last line.
  OpenScreen();
  DrawMessageBox("Error", std::string(251, 'x') + "|abc");
  EXPECT_TRUE(TextMatches(308, 208 + 20 + 12, "abc", 0xDEFB, BoxBackground));
}

// In a child with fresh input: stdin is a pipe holding keys, read by the
// surface as if typed. The box must return at the first Enter, Escape or
// Space and leave what follows unread.
void RunBoxWithKeys(const std::string& keys, unsigned seconds = 20) {
  alarm(seconds);  // a box that never returns is killed instead of hanging the test
  int ends[2];
  if (pipe(ends) != 0) std::exit(90);
  if (write(ends[1], keys.data(), keys.size()) != static_cast<ssize_t>(keys.size())) std::exit(91);
  close(ends[1]);
  dup2(ends[0], STDIN_FILENO);
  close(ends[0]);
  OpenScreen();
  MessageBox("Error", "Illegal Move");
  if (ReadPixel(252, 214) != Frame) std::exit(92);
  std::string left;
  while (KeyWaiting()) left += static_cast<char>(ReadKeyCode());
  std::fprintf(stderr, "returned, left [%s]\n", left.c_str());
  std::exit(0);
}

using MessageBoxDeathTest = ::testing::Test;

TEST_F(MessageBoxDeathTest, WaitsForEnterEscapeOrSpaceAndDropsOtherKeys) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(RunBoxWithKeys("ab\x1b[Aq zy"), ::testing::ExitedWithCode(0),
              "returned, left \\[zy\\]");
  EXPECT_EXIT(RunBoxWithKeys("x\ry"), ::testing::ExitedWithCode(0), "returned, left \\[y\\]");
  EXPECT_EXIT(RunBoxWithKeys("\x1b[6~k\x1b"), ::testing::ExitedWithCode(0),
              "returned, left \\[\\]");
  // Without one of the three keys the box keeps waiting.
  EXPECT_EXIT(RunBoxWithKeys("abc\nq", 2), ::testing::KilledBySignal(SIGALRM), "");
}

// ---- Info panel and status box ----------------------------------------------------------------

TEST(InfoPanelTest, ShortTextGetsTheOneLinePanel) {
  OpenScreen();
  const std::string text(57, 'n');
  ShowInfoPanel(text);
  // The cleared area is x 40..500, y 459..479; the upper half stays black.
  for (int x = 40; x <= 500; ++x) ASSERT_EQ(ReadPixel(x, 459), 0x0000) << x;
  for (int x = 40; x <= 500; ++x) ASSERT_EQ(ReadPixel(x, 468), 0x0000) << x;
  EXPECT_EQ(ReadPixel(39, 470), Sentinel);
  EXPECT_EQ(ReadPixel(501, 470), Sentinel);
  EXPECT_EQ(ReadPixel(40, 458), Sentinel);
  for (int x = 40; x <= 500; ++x) {
    ASSERT_EQ(ReadPixel(x, 469), 0x52AA) << x;
    ASSERT_EQ(ReadPixel(x, 479), 0x52AA) << x;
  }
  EXPECT_EQ(ReadPixel(40, 474), 0x52AA);
  EXPECT_EQ(ReadPixel(500, 474), 0x52AA);
  EXPECT_TRUE(TextMatches(42, 471, text, 0x9CD3, 0x0000));
}

TEST(InfoPanelTest, LongTextBreaksAtTheLastSpaceWithin57) {
  OpenScreen();
  // 58 characters, the 57th a space: the first line keeps the space.
  const std::string first = std::string(56, 'a') + " ";
  ShowInfoPanel(first + "b");
  for (int x = 40; x <= 500; ++x) ASSERT_EQ(ReadPixel(x, 459), 0x52AA) << x;
  EXPECT_EQ(ReadPixel(40, 465), 0x52AA);
  EXPECT_TRUE(TextMatches(42, 461, first, 0x9CD3, 0x0000));
  EXPECT_TRUE(TextMatches(42, 471, "b", 0x9CD3, 0x0000));

  // An earlier space: everything after it goes to the second line, whole.
  OpenScreen();
  const std::string line1 = "Nodes 123456 Time 1.25 ", line2 = std::string(70, 'z');
  ShowInfoPanel(line1 + line2);
  EXPECT_TRUE(TextMatches(42, 461, line1, 0x9CD3, 0x0000));
  EXPECT_TRUE(TextMatches(42, 471, line2.substr(0, 57), 0x9CD3, 0x0000));
  int beyond = 0;  // the second line runs on past the frame
  for (int y = 471; y <= 478; ++y)
    for (int x = 501; x < 42 + 8 * 70; ++x) beyond += ReadPixel(x, y) == 0x9CD3;
  EXPECT_GT(beyond, 0);

  // No space among the first 57: the 58th character stands alone below.
  OpenScreen();
  const std::string solid = std::string(57, 'c') + "d";
  ShowInfoPanel(solid);
  EXPECT_TRUE(TextMatches(42, 461, solid.substr(0, 57), 0x9CD3, 0x0000));
  EXPECT_TRUE(TextMatches(42, 471, "d", 0x9CD3, 0x0000));
}

TEST(InfoPanelTest, StatusBoxIsClearedFramedAndLabelled) {
  OpenScreen();
  ShowStatus("thinking");
  for (int x = 540; x <= 639; ++x) {
    ASSERT_EQ(ReadPixel(x, 468), 0xEF7D) << x;
    ASSERT_EQ(ReadPixel(x, 479), 0xEF7D) << x;
  }
  for (int y = 468; y <= 479; ++y) {
    ASSERT_EQ(ReadPixel(540, y), 0xEF7D) << y;
    ASSERT_EQ(ReadPixel(639, y), 0xEF7D) << y;
  }
  EXPECT_EQ(ReadPixel(539, 470), Sentinel);
  EXPECT_EQ(ReadPixel(600, 467), Sentinel);
  EXPECT_EQ(ReadPixel(541, 469), 0x0000);
  EXPECT_EQ(ReadPixel(620, 474), 0x0000);
  EXPECT_TRUE(TextMatches(542, 470, "thinking", 0x9CD3, 0x0000));
  // A shorter word replaces the longer one completely.
  ShowStatus("waiting");
  EXPECT_TRUE(TextMatches(542, 470, "waiting", 0x9CD3, 0x0000));
  EXPECT_TRUE(TextMatches(598, 470, " ", 0x9CD3, 0x0000));
}

// ---- Progress bar -----------------------------------------------------------------------------

// FilledUpTo: the last column of row y that shows the filling, scanning from x.
int FilledUpTo(int x, int y) {
  while (ReadPixel(x + 1, y) == 0x52AA) ++x;
  return x;
}

TEST(ProgressBarTest, FillingRoundsHalvesToEven) {
  OpenScreen();
  DrawProgressBar(5, 64, 45, 72, 0.0);
  EXPECT_EQ(ReadPixel(5, 64), 0x9CD3);
  EXPECT_EQ(ReadPixel(45, 72), 0x9CD3);
  EXPECT_EQ(ReadPixel(5, 68), 0x9CD3);
  EXPECT_EQ(ReadPixel(4, 68), Sentinel);
  EXPECT_EQ(ReadPixel(46, 68), Sentinel);
  // Fraction 0 still fills one column.
  for (int y = 65; y <= 71; ++y) EXPECT_EQ(ReadPixel(6, y), 0x52AA) << y;
  EXPECT_EQ(ReadPixel(7, 68), 0x2104);
  EXPECT_EQ(ReadPixel(6, 64), 0x9CD3);
  EXPECT_EQ(ReadPixel(6, 72), 0x9CD3);

  // 39 x 0.5 = 19.5 goes to 20: x 6 to 26.
  DrawProgressBar(5, 64, 45, 72, 0.5);
  EXPECT_EQ(FilledUpTo(6, 68), 26);
  EXPECT_EQ(ReadPixel(27, 68), 0x2104);
  // 9 x 0.5 = 4.5 goes to 4 on a narrower bar.
  DrawProgressBar(100, 100, 110, 108, 0.5);
  EXPECT_EQ(FilledUpTo(101, 104), 105);
  // 39 x 0.25 = 9.75 goes to 10.
  DrawProgressBar(5, 64, 45, 72, 0.25);
  EXPECT_EQ(FilledUpTo(6, 68), 16);
  // Near the end the filling covers the frame's right line.
  DrawProgressBar(5, 64, 45, 72, 0.99);
  EXPECT_EQ(ReadPixel(45, 68), 0x52AA);
  EXPECT_EQ(ReadPixel(45, 64), 0x9CD3);
  EXPECT_EQ(ReadPixel(46, 68), Sentinel);
}

}  // namespace
