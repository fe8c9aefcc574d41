// The terminal host's pieces on their own: the bytes the terminal sends
// (keys, mouse reports and answers mixed, cut anywhere), the choice of mode,
// the picture's place in the cell grid and the pointer's way back to the
// screen, and the painting: what is sent after a change must leave the
// terminal showing what a whole repaint shows, and cost only the change.

#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/terminal/terminal_parts.h"
#include "tests/terminal_support.h"

namespace {

struct Filtered {
  std::string Keys;
  std::vector<PointerReport> Pointer;
  TerminalAnswers Answers;
};

// FilterInPieces: the bytes fed in pieces of the given size.
Filtered FilterInPieces(const std::string& bytes, std::size_t piece) {
  Filtered f;
  TerminalInput input;
  for (std::size_t at = 0; at < bytes.size(); at += piece) {
    const std::string part = bytes.substr(at, piece);
    FilterInput(input, reinterpret_cast<const unsigned char*>(part.data()), part.size(), f.Keys,
                f.Pointer, f.Answers);
  }
  FlushInput(input, f.Keys, false);
  return f;
}

TEST(TerminalInputTest, ReportsAndAnswersNeverReachTheKeysHoweverTheBytesAreCut) {
  const std::string stream =
      "a\x1b[<0;12;7M"             // left press
      "\x1b[A"                     // arrow up, a key
      "\x1b[?1016;2$y"             // DECRQM answer
      "\x1b_Gi=31;OK\x1b\\"        // kitty answer
      "\x1b[<35;13;8M"             // motion, no button
      "\x1b[6;16;8t"               // cell size
      "\x1b[?63;1;2;4;6;9;15;22c"  // device attributes with sixels
      "\x1b[<0;13;8m"              // left release
      "\x1b[5~"                    // Page Up, a key
      " \r";
  for (std::size_t piece :
       {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{7}, stream.size()}) {
    SCOPED_TRACE(piece);
    const Filtered f = FilterInPieces(stream, piece);
    EXPECT_EQ(f.Keys, "a\x1b[A\x1b[5~ \r");
    ASSERT_EQ(f.Pointer.size(), 3u);
    EXPECT_EQ(f.Pointer[0].Code, 0);
    EXPECT_EQ(f.Pointer[0].X, 12);
    EXPECT_EQ(f.Pointer[0].Y, 7);
    EXPECT_FALSE(f.Pointer[0].Release);
    EXPECT_EQ(f.Pointer[1].Code, 35);
    EXPECT_TRUE(f.Pointer[2].Release);
    EXPECT_TRUE(f.Answers.Attributes);
    EXPECT_TRUE(f.Answers.Sixel);
    EXPECT_TRUE(f.Answers.Kitty);
    EXPECT_EQ(f.Answers.PixelMouse, 2);
    EXPECT_EQ(f.Answers.CellWidth, 8);
    EXPECT_EQ(f.Answers.CellHeight, 16);
  }
}

TEST(TerminalInputTest, EscapeAloneIsHeldOnlyUntilAPause) {
  Filtered f;
  TerminalInput input;
  const unsigned char escape[] = {0x1b};
  FilterInput(input, escape, 1, f.Keys, f.Pointer, f.Answers);
  EXPECT_EQ(f.Keys, "");
  EXPECT_TRUE(HoldingInput(input));
  FlushInput(input, f.Keys, false);
  EXPECT_EQ(f.Keys, "\x1b");
  EXPECT_FALSE(HoldingInput(input));

  // Esc typed just before a mouse report: the Esc is a key, the report is not.
  const Filtered both = FilterInPieces("\x1b\x1b[<0;1;1M", 64);
  EXPECT_EQ(both.Keys, "\x1b");
  EXPECT_EQ(both.Pointer.size(), 1u);

  // A report cut short is not typed as keys; after a long pause it is dropped.
  Filtered cut;
  TerminalInput held;
  const std::string part = "\x1b[<0;12";
  FilterInput(held, reinterpret_cast<const unsigned char*>(part.data()), part.size(), cut.Keys,
              cut.Pointer, cut.Answers);
  FlushInput(held, cut.Keys, false);
  EXPECT_TRUE(HoldingInput(held));
  FlushInput(held, cut.Keys, true);
  EXPECT_FALSE(HoldingInput(held));
  EXPECT_EQ(cut.Keys, "");
  EXPECT_TRUE(cut.Pointer.empty());
}

TEST(TerminalInputTest, PointerMovementsAtMostThirtyASecondAndTheLastAlwaysPassedOn) {
  MotionPacer pacer;
  std::vector<std::pair<int, std::uint64_t>> passed;  // x, when
  std::uint64_t now = 5000;
  int x, y;
  // A sweep: a report every 10 ms for a second, then nothing.
  for (int k = 0; k < 100; ++k, now += 10) {
    if (DueMotion(pacer, now, x, y)) passed.push_back({x, now});
    if (OfferMotion(pacer, k, 7, now)) passed.push_back({k, now});
  }
  EXPECT_EQ(MotionWait(pacer, now), 0) << "the last one is held and due";
  ASSERT_TRUE(DueMotion(pacer, now, x, y));
  passed.push_back({x, now});
  EXPECT_EQ(y, 7);
  EXPECT_EQ(passed.front().first, 0) << "the first movement at once";
  EXPECT_EQ(passed.back().first, 99) << "the pointer ends where the last report put it";
  EXPECT_LE(passed.size(), 32u);
  EXPECT_GE(passed.size(), 25u);
  for (std::size_t k = 1; k < passed.size(); ++k)
    EXPECT_GE(passed[k].second - passed[k - 1].second, static_cast<std::uint64_t>(MotionPeriod));
  EXPECT_EQ(MotionWait(pacer, now), -1);
  // A button report carries its own place: the held movement goes.
  OfferMotion(pacer, 1, 1, now + 40);
  OfferMotion(pacer, 2, 2, now + 45);
  DropMotion(pacer, now + 46);
  EXPECT_FALSE(DueMotion(pacer, now + 200, x, y));
}

TEST(TerminalInputTest, ChoiceOfModeAndMouse) {
  TerminalAnswers answers;
  answers.Attributes = true;
  EXPECT_EQ(ChooseMode(answers, 8, 16), TerminalMode::Symbols);
  answers.Kitty = true;
  EXPECT_EQ(ChooseMode(answers, 8, 16), TerminalMode::Kitty);
  answers.Sixel = true;
  EXPECT_EQ(ChooseMode(answers, 8, 16), TerminalMode::Kitty) << "both offered: kitty graphics";
  answers.Kitty = false;
  EXPECT_EQ(ChooseMode(answers, 8, 16), TerminalMode::Sixel);
  // Without the size of a cell in pixels no pixel picture can be placed.
  EXPECT_EQ(ChooseMode(answers, 0, 0), TerminalMode::Symbols);
  // The class 4 (a VT132) is not the sixel feature.
  const Filtered vt132 = FilterInPieces("\x1b[?4;6c", 64);
  EXPECT_FALSE(vt132.Answers.Sixel);

  EXPECT_TRUE(MouseUsable(answers, "xterm-256color"));
  EXPECT_FALSE(MouseUsable(answers, "linux"));
  answers.SgrMouse = 0;
  EXPECT_FALSE(MouseUsable(answers, "xterm"));
  answers.SgrMouse = 2;
  EXPECT_TRUE(MouseUsable(answers, "linux"));
  EXPECT_FALSE(PixelMouseUsable(answers));
  answers.PixelMouse = 2;
  EXPECT_TRUE(PixelMouseUsable(answers));
  EXPECT_FALSE(UsableTerm(nullptr));
  EXPECT_FALSE(UsableTerm("dumb"));
  EXPECT_TRUE(UsableTerm("tmux-256color"));
}

TEST(TerminalInputTest, SixelLimitsAreReadAndEachModeEntersWithItsOwnSequencesOnly) {
  struct Case {
    std::string Bytes;
    int Width, Height, Registers;
    bool XtermSixels = false;   // it names itself as one that draws sixels as xterm does
    int PrivateRegisters = -1;  // mode 1070 as it reported it
  };
  for (const Case& c :
       {Case{"\x1b[?2;0;1000;988S\x1b[?1;0;256S", 1000, 988, 256}, Case{"\x1b[?1;0;16S", 0, 0, 16},
        // Failures (status 3) and a short answer tell nothing.
        Case{"\x1b[?2;3;0S\x1b[?1;3;0S\x1b[?2;0;800S", 0, 0, 0},
        // The name (XTVERSION, a string ended by ESC \) and mode 1070.
        Case{"\x1bP>|XTerm(379)\x1b\\\x1b[?1070;1$y", 0, 0, 0, true, 1},
        Case{"\x1bP>|XTerm(390)\x1b\\\x1b[?1070;2$y", 0, 0, 0, true, 2},
        Case{"\x1bP>|foot(1.13.1)\x1b\\\x1b[?1070;1$y", 0, 0, 0, false, 1},
        Case{"\x1bP>|Konsole 22.12.3\x1b\\\x1b[?1070;1$y", 0, 0, 0, false, 1},
        Case{"\x1bP>|XTermish\x1b\\", 0, 0, 0, false, -1}}) {
    SCOPED_TRACE(c.Bytes.substr(1));
    const Filtered f = FilterInPieces("x" + c.Bytes + "\x1b[?62;4cy", 3);
    EXPECT_EQ(f.Keys, "xy");
    EXPECT_EQ(f.Answers.SixelWidth, c.Width);
    EXPECT_EQ(f.Answers.SixelHeight, c.Height);
    EXPECT_EQ(f.Answers.Registers, c.Registers);
    EXPECT_EQ(f.Answers.XtermSixels, c.XtermSixels);
    EXPECT_EQ(f.Answers.PrivateRegisters, c.PrivateRegisters);
  }
  EXPECT_NE(std::string(SixelQueries).find("\x1b[?2;1;0S"), std::string::npos);
  EXPECT_EQ(std::string(TerminalQueries).find("S"), std::string::npos)
      << "asked of sixel terminals only";
  // More registers than an image uses are used only up to that.
  EXPECT_EQ(LayoutPicture(TerminalMode::Sixel, {120, 42, 6, 13, 0, 0, 4096}).Registers,
            MaxRegisters);
  // The sixel display mode is set only where sixels are drawn.
  for (TerminalMode mode : {TerminalMode::Kitty, TerminalMode::Symbols, TerminalMode::Console})
    EXPECT_EQ(EnterSequence(true, true, mode).find("?80"), std::string::npos) << ModeName(mode);
  EXPECT_NE(EnterSequence(true, true, TerminalMode::Sixel).find("\x1b[?80l"), std::string::npos);
  // Shared colour registers while the game lasts, each image's own after it.
  EXPECT_NE(EnterSequence(true, true, TerminalMode::Sixel, true).find("\x1b[?1070l"),
            std::string::npos);
  EXPECT_NE(LeaveSequence(TerminalMode::Sixel, "", true).find("\x1b[?1070h"), std::string::npos);
  EXPECT_EQ(LeaveSequence(TerminalMode::Sixel).find("1070"), std::string::npos);
}

TEST(TerminalLayoutTest, SixelsShareRegistersAndEndInsideCellsOnlyWhereTheTerminalSaysSo) {
  struct Case {
    const char* Term;
    bool Xterm;            // it named itself XTerm(...)
    int PrivateRegisters;  // mode 1070 as it reported it
    bool WantXterm, WantShared;
  };
  for (const Case& c :
       {Case{"xterm", true, 1, true, true}, Case{"foot", false, 1, false, true},
        Case{"mlterm", false, 0, false, true}, Case{"mlterm-256color", false, -1, false, true},
        Case{"xterm-256color", false, -1, false, false}, Case{"xterm", true, 3, false, false},
        Case{"xterm", true, 0, false, false}}) {
    SCOPED_TRACE(std::string(c.Term) + " 1070=" + std::to_string(c.PrivateRegisters));
    int master = -1, slave = -1;
    winsize window{30, 100, 800, 480};
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, &window), 0);
    TerminalAnswers answers;
    answers.XtermSixels = c.Xterm;
    answers.PrivateRegisters = c.PrivateRegisters;
    answers.RegistersShared = SharesRegistersUnasked(c.Term);
    TerminalSize size;
    ASSERT_TRUE(ReadTerminalSize(slave, answers, size));
    close(master);
    close(slave);
    const PictureLayout l = LayoutPicture(TerminalMode::Sixel, size);
    EXPECT_EQ(l.XtermSixels, c.WantXterm);
    EXPECT_EQ(l.SharedRegisters, c.WantShared);
  }
}

TEST(TerminalLayoutTest, PictureKeepsItsShapeFitsAndLeavesTheLastRowInPixelModes) {
  for (const TerminalSize size : {TerminalSize{80, 24, 6, 13}, TerminalSize{120, 42, 6, 13},
                                  TerminalSize{300, 80, 10, 20}, TerminalSize{40, 60, 8, 16}}) {
    SCOPED_TRACE(std::to_string(size.Columns) + "x" + std::to_string(size.Rows));
    for (TerminalMode mode : {TerminalMode::Sixel, TerminalMode::Kitty, TerminalMode::Symbols}) {
      const PictureLayout l = LayoutPicture(mode, size);
      EXPECT_GE(l.Left, 0);
      EXPECT_GE(l.Top, 0);
      EXPECT_LE(l.Left + l.Columns, size.Columns);
      const int usable = mode == TerminalMode::Symbols ? size.Rows : size.Rows - 1;
      EXPECT_LE(l.Top + l.Rows, usable);
      // 4:3 within a cell's rounding.
      EXPECT_NEAR(l.Width * 3.0 / (l.Height * 4.0), 1.0,
                  mode == TerminalMode::Symbols ? 0.1 : 0.01);
      if (mode != TerminalMode::Symbols) {
        EXPECT_LE(l.Width, l.Columns * size.CellWidth);
        // A sixel band rounded up to six rows stays above the last row.
        EXPECT_LE((l.Top + l.Rows - 1) * size.CellHeight + l.Height % size.CellHeight + 5,
                  (size.Rows - 1) * size.CellHeight);
      }
    }
  }
  // Whole scales where they fit: 1300 x 1000 pixels give 2x.
  EXPECT_EQ(LayoutPicture(TerminalMode::Sixel, {130, 51, 10, 20}).Width, 1280);
}

TEST(TerminalLayoutTest, HugeReportedSizesGiveAPictureOfSensibleSizeCentredAndPaintedQuickly) {
  for (const TerminalSize size :
       {TerminalSize{10000, 10000, 8, 16}, TerminalSize{65535, 65535, 8, 16},
        TerminalSize{65535, 65535, 0, 0}, TerminalSize{4000, 4000, 10, 20}}) {
    SCOPED_TRACE(std::to_string(size.Columns) + "x" + std::to_string(size.Rows));
    for (TerminalMode mode : {TerminalMode::Sixel, TerminalMode::Kitty, TerminalMode::Symbols}) {
      const PictureLayout l = LayoutPicture(mode, size);
      if (mode == TerminalMode::Symbols) {
        EXPECT_LE(l.Columns, MaxSymbolColumns);
        EXPECT_LE(l.Rows, MaxSymbolRows);
        EXPECT_NEAR(l.Width * 3.0 / (l.Height * 4.0), 1.0, 0.1);
      } else {
        EXPECT_EQ(l.Width % 640, 0) << "a whole scale";
        EXPECT_LE(l.Width, MaxScale * 640);
        EXPECT_EQ(l.Width * 3, l.Height * 4);
      }
      EXPECT_NEAR(l.Left * 2 + l.Columns, size.Columns, 1) << "centred";
      EXPECT_NEAR(l.Top * 2 + l.Rows, size.Rows - (mode == TerminalMode::Symbols ? 0 : 1), 1);
      if (size.CellWidth == 0 || size.Columns != 65535) continue;
      Picture* picture = NewPicture();
      ResetPicture(picture, l);
      std::vector<std::uint16_t> screen(640 * 480, 0x0010);
      std::string out;
      std::clock_t start = std::clock();
      PaintPicture(picture, screen.data(), 0, 479, out);
      const std::clock_t whole = std::clock() - start;
      EXPECT_LT(out.size(), 4000000u);
      // A pointer's step costs a small part of a whole picture's processor time.
      for (int y = 200; y < 215; ++y) screen[static_cast<std::size_t>(y * 640 + 300)] = 0xFFFF;
      out.clear();
      start = std::clock();
      PaintPicture(picture, screen.data(), 200, 214, out);
      EXPECT_LT(std::clock() - start, whole / 3 + CLOCKS_PER_SEC / 100) << ModeName(mode);
      EXPECT_GT(out.size(), 0u);
      FreePicture(picture);
    }
  }
  // A cell of absurd size is not believed.
  EXPECT_EQ(LayoutPicture(TerminalMode::Sixel, {100, 40, 60000, 60000}).Width <= 4 * 640, true);
}

TEST(TerminalLayoutTest, PointerReportsLandOnTheScreenPixelsUnderThem) {
  const TerminalSize size{120, 42, 6, 13};
  const PictureLayout l = LayoutPicture(TerminalMode::Sixel, size);
  int x, y;
  // Pixel reports: the picture's first pixel and its last.
  EXPECT_TRUE(PointerToScreen(l, l.Left * 6 + 1, l.Top * 13 + 1, true, x, y));
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
  EXPECT_TRUE(PointerToScreen(l, l.Left * 6 + l.Width, l.Top * 13 + l.Height, true, x, y));
  EXPECT_EQ(x, 639);
  EXPECT_EQ(y, 479);
  // Outside: the nearest pixel.
  EXPECT_FALSE(PointerToScreen(l, 1, 1, true, x, y));
  EXPECT_EQ(x, 0);
  EXPECT_EQ(y, 0);
  // A cell report counts by the cell's centre.
  EXPECT_TRUE(PointerToScreen(l, l.Left + 11, l.Top + 3, false, x, y));
  EXPECT_EQ(x, 10 * 6 + 3);
  EXPECT_EQ(y, 2 * 13 + 6);
  // In symbols mode the cells cover the picture exactly.
  const PictureLayout s = LayoutPicture(TerminalMode::Symbols, size);
  EXPECT_TRUE(PointerToScreen(s, s.Left + s.Columns, s.Top + s.Rows, false, x, y));
  EXPECT_GT(x, 639 - 640 / s.Columns);
  EXPECT_GT(y, 479 - 480 / s.Rows);
}

// ---- Painting ------------------------------------------------------------------------

// ExpectCursorHome: a paint leaves the cursor at the picture's first cell.
// Where sixels go as in xterm, a whole paint saves that place (DECSC) and
// the others return to it (DECRC).
void ExpectCursorHome(const std::string& paint, const PictureLayout& l) {
  if (paint.empty()) return;
  const std::string home =
      "\x1b[" + std::to_string(l.Top + 1) + ";" + std::to_string(l.Left + 1) + "H";
  const auto ends = [&](const std::string& end) {
    return paint.size() >= end.size() &&
           paint.compare(paint.size() - end.size(), end.size(), end) == 0;
  };
  if (l.Mode == TerminalMode::Sixel && l.XtermSixels)
    EXPECT_TRUE(ends(home + "\x1b"
                            "7") ||
                (ends("\x1b"
                      "8") &&
                 !ends(home + "\x1b"
                              "8")));
  else
    EXPECT_TRUE(ends(home));
}

std::vector<std::uint16_t> Board() {
  std::vector<std::uint16_t> screen(640 * 480, 0);
  for (int y = 40; y < 440; ++y)
    for (int x = 120; x < 520; ++x)
      screen[y * 640 + x] = ((x - 120) / 50 + (y - 40) / 50) % 2 ? 0x0010 : 0x0004;
  return screen;
}

void Fill(std::vector<std::uint16_t>& screen, int x1, int y1, int x2, int y2, std::uint16_t c) {
  for (int y = y1; y <= y2; ++y)
    for (int x = x1; x <= x2; ++x) screen[y * 640 + x] = c;
}

TEST(TerminalPictureTest, SymbolUpdatesLeaveWhatAWholeRepaintShowsAndCostOnlyTheChange) {
  const PictureLayout layout = LayoutPicture(TerminalMode::Symbols, {100, 40, 8, 16});
  Picture* painted = NewPicture();
  ResetPicture(painted, layout);
  std::vector<std::uint16_t> screen = Board();
  std::string whole;
  PaintPicture(painted, screen.data(), 0, 479, whole);
  support::CellGrid terminal;
  terminal.Apply(whole);

  std::string none;
  PaintPicture(painted, screen.data(), 0, 479, none);
  EXPECT_EQ(none, "") << "nothing changed, nothing sent";

  // A grey piece on one square and a status word: a few cells change.
  Fill(screen, 175, 95, 210, 130, 0xC618);
  Fill(screen, 560, 465, 620, 472, 0xFFFF);
  std::string change;
  PaintPicture(painted, screen.data(), 95, 472, change);
  EXPECT_GT(change.size(), 0u);
  EXPECT_LT(change.size(), whole.size() / 10);
  ExpectCursorHome(change, layout);
  terminal.Apply(change);

  Picture* fresh = NewPicture();
  ResetPicture(fresh, layout);
  std::string again;
  PaintPicture(fresh, screen.data(), 0, 479, again);
  support::CellGrid expected;
  expected.Apply(again);
  EXPECT_EQ(terminal.Foreign, 0) << "only control sequences in symbol output";
  ASSERT_FALSE(expected.Cells.empty());
  EXPECT_EQ(terminal.Shown(), expected.Shown());

  // After a resize the last screen is drawn again whole in the new layout.
  const PictureLayout smaller = LayoutPicture(TerminalMode::Symbols, {60, 20, 8, 16});
  ResetPicture(painted, smaller);
  ResetPicture(fresh, smaller);
  std::string repaint, direct;
  RepaintPicture(painted, repaint);
  PaintPicture(fresh, screen.data(), 0, 479, direct);
  EXPECT_EQ(repaint, direct);
  FreePicture(fresh);
  FreePicture(painted);
}

// SixelImages: each sixel image sent: the cell it was placed at and its raster size.
struct Placed {
  int Row, Column, Width, Height;
};
std::vector<Placed> SixelImages(const std::string& bytes) {
  std::vector<Placed> images;
  int row = 0, column = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes.compare(i, 2, "\x1b[") == 0) {
      const std::size_t end = bytes.find_first_of("HJm", i);
      if (bytes[end] == 'H') std::sscanf(bytes.c_str() + i + 2, "%d;%d", &row, &column);
    }
    if (bytes.compare(i, 2, "\x1bP") == 0) {
      const std::size_t raster = bytes.find('"', i);
      int w = 0, h = 0;
      std::sscanf(bytes.c_str() + raster, "\"1;1;%d;%d", &w, &h);
      images.push_back({row - 1, column - 1, w, h});
      i = bytes.find("\x1b\\", i);
    }
  }
  return images;
}

// Percent: a screen colour (RGB565) as a sixel gives it, percent a channel.
std::uint32_t Percent(unsigned v) {
  const unsigned r = v >> 11, g = v >> 5 & 63, b = v & 31;
  const auto percent = [](unsigned c) { return (c * 100 + 127) / 255; };
  return percent(r << 3 | r >> 2) << 16 | percent(g << 2 | g >> 4) << 8 | percent(b << 3 | b >> 2);
}

TEST(TerminalPictureTest, SixelsSendOnlyTheChangedCellsWhole) {
  const TerminalSize size{120, 42, 6, 13};
  const PictureLayout l = LayoutPicture(TerminalMode::Sixel, size);
  ASSERT_EQ(l.Width, 640);
  Picture* painted = NewPicture();
  ResetPicture(painted, l);
  std::vector<std::uint16_t> screen = Board();
  std::string whole;
  PaintPicture(painted, screen.data(), 0, 479, whole);
  const std::vector<Placed> first = SixelImages(whole);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].Row, l.Top);
  EXPECT_EQ(first[0].Column, l.Left);
  EXPECT_EQ(first[0].Width, l.Columns * 6);
  EXPECT_EQ(first[0].Height, l.Rows * 13);

  std::string none;
  PaintPicture(painted, screen.data(), 0, 479, none);
  EXPECT_EQ(none, "");

  // Two changes far apart: two images, each from its first changed cell,
  // covering the change in whole cells and no more (the last band's rows
  // below them unset).
  Fill(screen, 175, 95, 210, 130, 0xC618);
  Fill(screen, 560, 465, 620, 472, 0xFFFF);
  std::string change;
  PaintPicture(painted, screen.data(), 95, 472, change);
  const std::vector<Placed> bands = SixelImages(change);
  ASSERT_EQ(bands.size(), 2u);
  EXPECT_EQ(bands[0].Row, l.Top + 95 / 13);
  EXPECT_EQ(bands[0].Column, l.Left + 175 / 6);
  EXPECT_GE((bands[0].Column - l.Left) * 6 + bands[0].Width, 211);
  EXPECT_GE((bands[0].Row - l.Top) * 13 + bands[0].Height, 131);
  EXPECT_EQ(bands[0].Height, 4 * 13);  // cell rows 7 to 10
  EXPECT_EQ(bands[0].Width % 6, 0);
  EXPECT_EQ(bands[1].Row, l.Top + 465 / 13);
  EXPECT_GE((bands[1].Row - l.Top) * 13 + bands[1].Height, 473);
  for (const Placed& band : bands) EXPECT_EQ(band.Height % 13, 0);
  EXPECT_LT(change.size(), whole.size() / 4);
  FreePicture(painted);
}

TEST(TerminalPictureTest, KittyPlacesChangedPixelsOnTopAndDeletesImagesNoLongerSeen) {
  const PictureLayout l = LayoutPicture(TerminalMode::Kitty, {120, 42, 6, 13});
  Picture* painted = NewPicture();
  ResetPicture(painted, l);
  std::vector<std::uint16_t> screen = Board();
  std::string whole;
  PaintPicture(painted, screen.data(), 0, 479, whole);
  EXPECT_NE(whole.find("\x1b_Ga=T,i=1,q=2,"), std::string::npos) << whole.substr(0, 120);

  // A square changes: image 2 over exactly its changed pixels, from the
  // cell holding the first of them.
  Fill(screen, 175, 95, 210, 130, 0xC618);
  std::string change;
  PaintPicture(painted, screen.data(), 95, 130, change);
  int row = 0, column = 0, w = 0, h = 0, x = 0, y = 0;
  ASSERT_EQ(std::sscanf(change.c_str(), "\x1b[%d;%dH\x1b_Ga=T,i=2,q=2,f=24,o=z,s=%d,v=%d,X=%d,Y=%d",
                        &row, &column, &w, &h, &x, &y),
            6)
      << change.substr(0, 80);
  EXPECT_EQ(row - 1, l.Top + 95 / 13);
  EXPECT_EQ(column - 1, l.Left + 175 / 6);
  EXPECT_EQ(x, 175 % 6);
  EXPECT_EQ(y, 95 % 13);
  EXPECT_EQ(w, 36);
  EXPECT_EQ(h, 36);
  EXPECT_EQ(change.find("a=d"), std::string::npos) << "image 1 is still seen around it";

  // A larger change over the same cells hides image 2 entirely: it goes.
  Fill(screen, 150, 80, 250, 150, 0xF800);
  std::string cover;
  PaintPicture(painted, screen.data(), 80, 150, cover);
  EXPECT_NE(cover.find("\x1b_Ga=T,i=3,q=2,"), std::string::npos);
  EXPECT_NE(cover.find("\x1b_Ga=d,d=I,q=2,i=2\x1b\\"), std::string::npos);
  EXPECT_EQ(cover.find("i=1\x1b"), std::string::npos);
  FreePicture(painted);
}

// PixelTerminal: what a terminal showing sixels or kitty images shows after
// the bytes: per pixel of its cells the colour last drawn there (sixel
// colours in percent, kitty colours as 0..255 scaled to percent too), kitty
// images stacked by number and gone when deleted. wholeCells: the terminal
// paints every cell a sixel image's declared size touches, black where the
// image sets no pixel (as some do), rather than keeping what was shown, and
// drops a kitty image whose cells all lie among a later one's (as Konsole does).
// sharedRegisters: colours defined in one sixel image serve the later ones
// (xterm and foot with mode 1070 reset).
// Limits: the largest sixel image it draws (0: any) and its colour registers.
class PixelTerminal {
 public:
  PixelTerminal(int columns, int rows, int cellWidth, int cellHeight, bool wholeCells = false,
                bool sharedRegisters = false)
      : Width(columns * cellWidth),
        Height(rows * cellHeight),
        CellW(cellWidth),
        CellH(cellHeight),
        WholeCells(wholeCells),
        SharedRegisters(sharedRegisters) {}
  int LimitW = 0, LimitH = 0, Registers = 256;

  void Apply(const std::string& bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
      ASSERT_EQ(bytes[i], '\x1b') << "only sequences in pixel output, at " << i;
      if (bytes[i + 1] == '7' || bytes[i + 1] == '8') {
        if (bytes[i + 1] == '7') Saved = {Row, Column};
        std::tie(Row, Column) = Saved;
        i += 2;
      } else if (bytes[i + 1] == '[') {
        const std::size_t end = support::SequenceEnd(bytes, i + 2);
        ASSERT_LT(end, bytes.size());
        if (bytes[end] == 'H') std::sscanf(bytes.c_str() + i + 2, "%d;%d", &Row, &Column);
        if (bytes[end] == 'J') Images.clear();
        i = end + 1;
      } else {
        const std::size_t end = bytes.find("\x1b\\", i);
        ASSERT_NE(end, std::string::npos);
        const std::string body = bytes.substr(i + 2, end - i - 2);
        if (bytes[i + 1] == 'P')
          Sixel(body);
        else
          Kitty(body);
        i = end + 2;
      }
    }
  }

  // Shown: the picture, kitty images composed in order of their numbers.
  std::vector<std::uint32_t> Shown() const {
    std::vector<std::uint32_t> pixels = Sixels;
    for (const auto& [number, image] : Images)
      for (int y = 0; y < image.H; ++y)
        for (int x = 0; x < image.W; ++x)
          if (image.X + x < Width && image.Y + y < Height)
            pixels[static_cast<std::size_t>((image.Y + y) * Width + image.X + x)] =
                image.Pixels[static_cast<std::size_t>(y * image.W + x)];
    return pixels;
  }
  std::size_t ImageCount() const { return Images.size(); }

 private:
  struct KittyImage {
    int X, Y, W, H;
    std::vector<std::uint32_t> Pixels;
  };

  static std::uint32_t Pack(int r, int g, int b) {
    return static_cast<std::uint32_t>(r << 16 | g << 8 | b);
  }

  void Sixel(const std::string& body) {
    if (!SharedRegisters) std::memset(Palette, 0, sizeof Palette);
    int(&palette)[256][3] = Palette;
    const int x0 = (Column - 1) * CellW, y0 = (Row - 1) * CellH;
    int y = y0, x = x0, colour = 0, right = x0;
    std::size_t i = body.find('q') + 1;
    while (i < body.size()) {
      const char c = body[i];
      int count = 1;
      if (c == '"' || c == '#') {
        std::vector<int> numbers;
        ++i;
        while (i < body.size() &&
               (std::isdigit(static_cast<unsigned char>(body[i])) != 0 || body[i] == ';')) {
          std::size_t used = 0;
          if (body[i] == ';') {
            ++i;
            continue;
          }
          numbers.push_back(std::stoi(body.substr(i), &used));
          i += used;
        }
        if (c == '"') {
          ASSERT_EQ(numbers.size(), 4u);
          if (LimitW > 0) {
            EXPECT_LE(numbers[2], LimitW) << "an image the terminal would not draw";
          }
          if (LimitH > 0) {
            EXPECT_LE(numbers[3], LimitH) << "an image the terminal would not draw";
          }
          if (WholeCells) Blank(x0, y, numbers[2], numbers[3]);
        }
        if (c == '#') {
          colour = numbers.at(0);
          EXPECT_LT(colour, Registers);
          if (numbers.size() == 5)
            for (int k = 0; k < 3; ++k)
              palette[colour][k] = numbers[static_cast<std::size_t>(k) + 2];
        }
        continue;
      }
      if (c == '!') {
        std::size_t used = 0;
        count = std::stoi(body.substr(i + 1), &used);
        i += used + 1;
      }
      const char sixel = body[i++];
      if (sixel == '$') {
        x = x0;
      } else if (sixel == '-') {
        x = x0;
        y += 6;
      } else {
        ASSERT_GE(sixel, '?');
        ASSERT_LE(sixel, '~');
        right = std::max(right, x + count);
        for (int k = 0; k < count; ++k, ++x)
          for (int bit = 0; bit < 6; ++bit)
            if (((sixel - '?') >> bit & 1) != 0 && x < Width && y + bit < Height)
              Sixels[static_cast<std::size_t>((y + bit) * Width + x)] =
                  Pack(palette[colour][0], palette[colour][1], palette[colour][2]);
      }
    }
    if (LimitW > 0) {
      EXPECT_LE(right - x0, LimitW) << "an image the terminal would not draw";
    }
    if (LimitH > 0) {
      EXPECT_LE(y + 6 - y0, LimitH) << "an image the terminal would not draw";
    }
  }

  void Kitty(const std::string& body) {
    const std::size_t semicolon = body.find(';');
    const std::string keys =
        body.substr(1, semicolon == std::string::npos ? std::string::npos : semicolon - 1);
    std::map<std::string, std::string> key;
    for (std::size_t at = 0; at < keys.size();) {
      const std::size_t comma = std::min(keys.find(',', at), keys.size());
      const std::string pair = keys.substr(at, comma - at);
      key[pair.substr(0, pair.find('='))] = pair.substr(pair.find('=') + 1);
      at = comma + 1;
    }
    if (key["a"] == "d") {
      if (key["d"] == "A") Images.clear();
      if (key["d"] == "I") {
        const unsigned long id = std::stoul(key["i"]);
        EXPECT_EQ(Images.erase(id) + Dropped.count(id), 1u) << "deleted twice";
      }
      return;
    }
    if (!key["a"].empty()) Pending = key;
    Payload += body.substr(semicolon + 1);
    if (key["m"] == "1") return;
    // The whole image: base64, then zlib, then RGB rows.
    std::string packed;
    std::uint32_t bits = 0;
    int count = 0;
    for (char c : Payload) {
      const char* digit = std::strchr(Digits, c);
      if (c == '=' || digit == nullptr) continue;
      bits = bits << 6 | static_cast<std::uint32_t>(digit - Digits);
      count += 6;
      if (count >= 8) {
        count -= 8;
        packed += static_cast<char>(bits >> count & 255);
      }
    }
    Payload.clear();
    // At its own size from a pixel of the cursor's cell, above those before it.
    KittyImage image{(Column - 1) * CellW + std::stoi(Pending["X"]),
                     (Row - 1) * CellH + std::stoi(Pending["Y"]),
                     std::stoi(Pending["s"]),
                     std::stoi(Pending["v"]),
                     {}};
    EXPECT_EQ(Pending["o"], "z");
    EXPECT_EQ(Pending["z"], Pending["i"]) << "later images lie above";
    EXPECT_LT(std::stoi(Pending["X"]), CellW);
    EXPECT_LT(std::stoi(Pending["Y"]), CellH);
    std::vector<unsigned char> rgb(static_cast<std::size_t>(image.W) * image.H * 3);
    uLongf size = static_cast<uLongf>(rgb.size());
    ASSERT_EQ(uncompress(rgb.data(), &size, reinterpret_cast<const Bytef*>(packed.data()),
                         static_cast<uLong>(packed.size())),
              Z_OK);
    ASSERT_EQ(size, rgb.size());
    for (std::size_t p = 0; p < rgb.size(); p += 3)
      image.Pixels.push_back(Pack((rgb[p] * 100 + 127) / 255, (rgb[p + 1] * 100 + 127) / 255,
                                  (rgb[p + 2] * 100 + 127) / 255));
    // Whole cells: an image whose cells all lie among the new one's is
    // dropped, wherever its pixels are (as Konsole does).
    const auto cells = [&](const KittyImage& i) {
      return std::array<int, 4>{i.X / CellW, i.Y / CellH, (i.X + i.W - 1) / CellW,
                                (i.Y + i.H - 1) / CellH};
    };
    const auto outer = cells(image);
    for (auto at = Images.begin(); WholeCells && at != Images.end();) {
      const auto inner = cells(at->second);
      const bool within = outer[0] <= inner[0] && outer[1] <= inner[1] && inner[2] <= outer[2] &&
                          inner[3] <= outer[3];
      if (within) Dropped.insert(at->first);
      at = within ? Images.erase(at) : std::next(at);
    }
    Images[std::stoul(Pending["i"])] = std::move(image);
  }

  // Blank: the cells that pixels x, y, w x h touch, black.
  void Blank(int x, int y, int w, int h) {
    for (int py = y / CellH * CellH; py < std::min((y + h + CellH - 1) / CellH * CellH, Height);
         ++py)
      for (int px = x / CellW * CellW; px < std::min((x + w + CellW - 1) / CellW * CellW, Width);
           ++px)
        Sixels[static_cast<std::size_t>(py * Width + px)] = 0;
  }

  static constexpr const char* Digits =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  int Width, Height, CellW, CellH;
  bool WholeCells, SharedRegisters;
  int Palette[256][3] = {};
  int Row = 1, Column = 1;
  std::pair<int, int> Saved{1, 1};
  std::vector<std::uint32_t> Sixels =
      std::vector<std::uint32_t>(static_cast<std::size_t>(Width) * Height, 0);
  std::map<unsigned long, KittyImage> Images;
  std::set<unsigned long> Dropped;
  std::map<std::string, std::string> Pending;
  std::string Payload;
};

// The pointer's arrow at (x, y) over the board, or the board put back.
void Arrow(std::vector<std::uint16_t>& screen, const std::vector<std::uint16_t>& board, int x,
           int y, bool shown) {
  for (int dy = 0; dy < 16; ++dy)
    for (int dx = 0; dx <= dy / 2; ++dx) {
      const std::size_t at = static_cast<std::size_t>((y + dy) * 640 + x + dx);
      screen[at] = !shown ? board[at] : dx == 0 || dx == dy / 2 || dy == 15 ? 0 : 0xFFFF;
    }
}

TEST(TerminalPictureTest, SharedRegistersAllTakenAreDefinedAnewAndEveryColourStaysExact) {
  // Twelve new colours, one a paint, where images share eight registers.
  PictureLayout l = LayoutPicture(TerminalMode::Sixel, TerminalSize{120, 42, 6, 13, 0, 0, 8});
  l.SharedRegisters = true;
  ASSERT_EQ(l.Width, 640);
  PixelTerminal terminal(120, 42, 6, 13, true, true);
  terminal.Registers = 8;
  Picture* painted = NewPicture();
  ResetPicture(painted, l);
  std::vector<std::uint16_t> screen(640 * 480, 0);
  for (int k = 0; k <= 12; ++k) {
    if (k > 0)
      Fill(screen, 50 * k - 30, 100, 50 * k + 9, 139, static_cast<std::uint16_t>(0x0841 * (k + 2)));
    std::string bytes;
    PaintPicture(painted, screen.data(), 0, 479, bytes);
    terminal.Apply(bytes);
  }
  const std::vector<std::uint32_t> shown = terminal.Shown();
  for (int k = 1; k <= 12; ++k)
    EXPECT_EQ(shown[static_cast<std::size_t>((l.Top * 13 + 120) * 720 + l.Left * 6 + 50 * k - 10)],
              Percent(0x0841u * static_cast<unsigned>(k + 2)))
        << "colour " << k;
  FreePicture(painted);
}

TEST(TerminalPictureTest, PixelUpdatesLeaveWhatAWholeRepaintShowsAndAPointerCostsLittle) {
  // At its own size, at twice it, and below it (every pixel an average); at
  // twice it in a terminal that draws sixels up to 1000 x 988 pixels with
  // 16 colour registers.
  struct Way {
    TerminalMode Mode;
    bool WholeCells;  // the terminal paints a sixel's whole cells, or drops a
                      // kitty image whose cells a later one covers
    bool Xterm;       // it draws sixels as xterm does (and the game knows it)
    bool Shared;      // its sixel images share colour registers (and the game knows it)
  };
  for (const TerminalSize size :
       {TerminalSize{120, 42, 6, 13}, TerminalSize{200, 64, 8, 16}, TerminalSize{80, 24, 8, 16},
        TerminalSize{216, 76, 6, 13, 1000, 988, 16}}) {
    for (const Way way :
         {Way{TerminalMode::Sixel, false, false, false},
          Way{TerminalMode::Sixel, true, false, false}, Way{TerminalMode::Sixel, true, false, true},
          Way{TerminalMode::Sixel, false, true, true},
          Way{TerminalMode::Kitty, false, false, false},
          Way{TerminalMode::Kitty, true, false, false}}) {
      const TerminalMode mode = way.Mode;
      SCOPED_TRACE(std::string(ModeName(mode)) + " " + std::to_string(size.Columns) +
                   (way.WholeCells ? " whole cells" : "") + (way.Xterm ? " as xterm" : "") +
                   (way.Shared ? " shared registers" : ""));
      PictureLayout l = LayoutPicture(mode, size);
      l.XtermSixels = way.Xterm;
      l.SharedRegisters = way.Shared;
      PixelTerminal terminal(size.Columns, size.Rows, size.CellWidth, size.CellHeight,
                             way.WholeCells, way.Shared);
      terminal.LimitW = size.SixelWidth;
      terminal.LimitH = size.SixelHeight;
      terminal.Registers = l.Registers;
      Picture* painted = NewPicture();
      ResetPicture(painted, l);
      const std::vector<std::uint16_t> board = Board();
      std::vector<std::uint16_t> screen = board;
      std::string whole;
      PaintPicture(painted, screen.data(), 0, 479, whole);
      terminal.Apply(whole);
      // The pointer travels in steps of a few pixels, a square changes, the
      // status at the bottom is written: each paint sends only the change.
      std::size_t pointerBytes = 0;
      for (int step = 0; step < 12; ++step) {
        if (step > 0) Arrow(screen, board, 200 + 7 * (step - 1), 150 + 5 * (step - 1), false);
        Arrow(screen, board, 200 + 7 * step, 150 + 5 * step, true);
        std::string change;
        PaintPicture(painted, screen.data(), 150, 230, change);
        if (step > 0) pointerBytes += change.size();
        terminal.Apply(change);
        ExpectCursorHome(change, l);
      }
      Fill(screen, 175, 95, 210, 130, 0xC618);
      Fill(screen, 560, 465, 620, 472, 0xFFFF);
      std::string change;
      PaintPicture(painted, screen.data(), 95, 472, change);
      terminal.Apply(change);
      ExpectCursorHome(whole, l);
      ExpectCursorHome(change, l);

      // What the terminal shows is what a fresh whole paint of the screen shows.
      const auto expectAsPaintedAfresh = [&] {
        Picture* fresh = NewPicture();
        ResetPicture(fresh, l);
        std::string whole;
        PaintPicture(fresh, screen.data(), 0, 479, whole);
        PixelTerminal expected(size.Columns, size.Rows, size.CellWidth, size.CellHeight, false,
                               way.Shared);
        expected.Apply(whole);
        EXPECT_TRUE(terminal.Shown() == expected.Shown());
        FreePicture(fresh);
        // At a whole scale the picture is the screen itself, each pixel in
        // the colour a sixel gives it (percent a channel).
        if (l.Width % 640 != 0) return;
        const int scale = l.Width / 640, width = size.Columns * size.CellWidth;
        const std::vector<std::uint32_t> shown = terminal.Shown();
        int wrong = 0;
        for (int y = 0; y < l.Height; ++y)
          for (int x = 0; x < l.Width; ++x) {
            const std::uint32_t want =
                Percent(screen[static_cast<std::size_t>(y / scale * 640 + x / scale)]);
            wrong += shown[static_cast<std::size_t>((l.Top * size.CellHeight + y) * width +
                                                    l.Left * size.CellWidth + x)] != want;
          }
        EXPECT_EQ(wrong, 0) << "pixels unlike the screen's";
      };
      expectAsPaintedAfresh();
      EXPECT_LT(pointerBytes / 11, way.Xterm ? 400u : 800u) << "a pointer step";
      if (mode == TerminalMode::Kitty) {
        // A long wander of the pointer leaves no pile of images behind.
        for (int step = 0; step < 300; ++step) {
          const int x = 150 + (step * 37) % 300, y = 100 + (step * 53) % 250;
          Arrow(screen, board, x, y, true);
          std::string wander;
          PaintPicture(painted, screen.data(), 0, 479, wander);
          terminal.Apply(wander);
          Arrow(screen, board, x, y, false);
        }
        std::string back;
        PaintPicture(painted, screen.data(), 0, 479, back);
        terminal.Apply(back);
        expectAsPaintedAfresh();
        EXPECT_LE(terminal.ImageCount(), 257u);
      }
      FreePicture(painted);
    }
  }
}

}  // namespace
