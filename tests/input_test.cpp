// The pointer, the move entry and the promotion chooser, on the real display,
// the real rules and validation, with the mouse, the keyboard and the clock
// of the scripted platform.
#include "input/input.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "display/display.h"
#include "engine/engine.h"
#include "platform/core/services.h"
#include "platform/platform.h"
#include "platform/scripted/scripted.h"
#include "tests/position_support.h"

namespace {

// ---- The keyboard: key codes as the surface gives them --------------------------------

void TypeKeys(std::initializer_list<int> codes) { ScriptKeys(codes); }
void PressArrow(int scan, int times = 1) {
  for (int i = 0; i < times; ++i) TypeKeys({0, scan});
}
// NothingLeft: every scripted key, pause and event has been taken.
bool NothingLeft() { return ScriptStepsLeft() == 0 && QueuedKeyCount() == 0; }

// ---- The mouse ------------------------------------------------------------------------------

struct MouseEvent {
  int X;
  int Y;
  int Buttons;
  long double After;            // seconds since the previous event
  std::string KeysTyped;        // keys that arrive with the event
  std::function<void()> Check;  // looks at the screen as it is when the event comes
};

void Event(int x, int y, int buttons, long double after, std::string keys = "",
           std::function<void()> check = nullptr) {
  ScriptPointer(x, y, buttons, after, keys, std::move(check));
}
void Event(const MouseEvent& e) { Event(e.X, e.Y, e.Buttons, e.After, e.KeysTyped, e.Check); }

// The centre of a square.
int SquareX(int file) { return BoardLeft + SquareSize * (file - 1) + 24; }
int SquareY(int rank) { return BoardTop + SquareSize * (8 - rank) + 24; }
void ClickSquare(int file, int rank, long double after = 0.35L, std::string keys = "",
                 std::function<void()> check = nullptr) {
  Event(SquareX(file), SquareY(rank), 1, after, std::move(keys), std::move(check));
}

[[noreturn]] void GiveUp(const char* why) {
  std::fprintf(stderr, "input_test: %s\n", why);
  std::fflush(stderr);
  std::_Exit(3);
}

// A wait with the script used up: let a move entry end through Esc; anything
// else has gone wrong.
int ExhaustedWaits = 0;
void ScriptRanOut() {
  if (++ExhaustedWaits > 100) GiveUp("the mouse script ran out");
  if (ExhaustedWaits == 1) ADD_FAILURE() << "the mouse script ran out";
  Event(mouse_getx(), mouse_gety(), 0, 0, "\x1b");
}

constexpr int Up = 72, Left = 75, Right = 77, Down = 80, PageDown = 81;

using support::ClearPosition;

int CountOnBoard() {
  int n = 0;
  for (int f = 1; f <= 8; ++f)
    for (int r = 1; r <= 8; ++r) n += Board[f][r] != 0;
  return n;
}

class InputTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // The generated pictures and the start position are in the build's data folder.
    ASSERT_EQ(chdir(KELVAR_BINARY_DIR "/data"), 0);
    StartGraphics();
  }

  void SetUp() override {
    // A hung entry would otherwise stall the whole run.
    alarm(60);
    SetScriptClock(1000.0L);
    ClearScript();
    SetScriptEnd(ScriptRanOut);
    ExhaustedWaits = 0;
    SetScriptPointer(true);
    ASSERT_EQ(mouse_init("/dev/gpmdata", 7, 1200), 0);
    mouse_setxrange(0, 639);
    mouse_setyrange(0, 479);
    ScriptedWarps().clear();
    PointerEmulation = false;
    EmulatedPointer = {0, 0, 0};
    EscapePressed = false;
    UnusedEmulationKey = 0;
    PromotionKind = Queen;
    LoadPosition("kelvar.in");
  }

  void TearDown() override {
    alarm(0);
    EXPECT_EQ(ScriptStepsLeft(), 0) << "steps left in the script";
  }
};

// ---- The keyboard emulation ----------------------------------------------------------------

using PointerEmulationTest = InputTest;

TEST_F(PointerEmulationTest, StartsTopLeftAndSpaceClicksForOneRead) {
  PointerEmulation = true;
  PointerState p = CurrentPointer();
  EXPECT_EQ(p.X, 0);
  EXPECT_EQ(p.Y, 0);
  EXPECT_EQ(p.Buttons, 0);
  TypeKeys({' ', 0, Right});
  p = ReadPointer();
  EXPECT_EQ(p.Buttons, 1);
  EXPECT_EQ(CurrentPointer().Buttons, 0);
  p = ReadPointer();
  EXPECT_EQ(p.Buttons, 0);
  EXPECT_EQ(p.X, 6);
  EXPECT_EQ(p.Y, 0);
}

TEST_F(PointerEmulationTest, ArrowsStepSixAndStopAtTheEdges) {
  PointerEmulation = true;
  PressArrow(Left);
  PressArrow(Up);
  EXPECT_EQ(ReadPointer().X, 0);
  EXPECT_EQ(ReadPointer().Y, 0);

  PressArrow(Right, 106);
  for (int i = 0; i < 106; ++i) ReadPointer();
  EXPECT_EQ(EmulatedPointer.X, 636);
  PressArrow(Right, 2);
  EXPECT_EQ(ReadPointer().X, 639);
  EXPECT_EQ(ReadPointer().X, 639);
  PressArrow(Left, 2);
  EXPECT_EQ(ReadPointer().X, 633);
  EXPECT_EQ(ReadPointer().X, 627);

  PressArrow(Down, 80);
  PointerState p{};
  for (int i = 0; i < 80; ++i) p = ReadPointer();
  EXPECT_EQ(p.Y, 479);
  PressArrow(Up);
  EXPECT_EQ(ReadPointer().Y, 473);
  EXPECT_TRUE(NothingLeft());
}

TEST_F(PointerEmulationTest, OneKeyPerReadAndOtherKeysAreDropped) {
  PointerEmulation = true;
  TypeKeys({'Q', 0, PageDown, 'x', 0, Right, ' '});
  for (int i = 0; i < 3; ++i) {
    const PointerState p = ReadPointer();
    EXPECT_EQ(p.X, 0);
    EXPECT_EQ(p.Buttons, 0);
  }
  PointerState p = ReadPointer();
  EXPECT_EQ(p.X, 6);
  EXPECT_EQ(p.Buttons, 0);
  p = ReadPointer();
  EXPECT_EQ(p.X, 6);
  EXPECT_EQ(p.Buttons, 1);
  EXPECT_FALSE(EscapePressed);

  TypeKeys({27});
  p = ReadPointer();
  EXPECT_TRUE(EscapePressed);
  EXPECT_EQ(p.X, 6);
  EXPECT_EQ(p.Y, 0);
}

TEST_F(PointerEmulationTest, LoneZeroByteDoesNotWait) {
  PointerEmulation = true;
  TypeKeys({0});
  const PointerState p = ReadPointer();
  EXPECT_EQ(p.X, 0);
  EXPECT_EQ(p.Buttons, 0);
  EXPECT_TRUE(NothingLeft());
}

// ---- The mouse -------------------------------------------------------------------------------

using PointerMouseTest = InputTest;

TEST_F(PointerMouseTest, OpenMouseSetsRangesAndScaleOnlyOnSuccess) {
  auto forget = [] {
    mouse_close();
    mouse_setxrange(5, 10);
    mouse_setyrange(5, 10);
    mouse_setscale(1);
  };
  forget();
  EXPECT_TRUE(OpenMouse());
  MouseSetup m = CurrentMouseSetup();
  EXPECT_TRUE(m.Open);
  EXPECT_EQ(m.Device, "/dev/gpmdata");
  EXPECT_EQ(m.Type, 7);
  EXPECT_EQ(m.SampleRate, 1200);
  EXPECT_EQ(std::make_tuple(m.MinX, m.MaxX, m.MinY, m.MaxY), std::make_tuple(0, 639, 0, 479));
  EXPECT_EQ(m.Scale, 16);

  forget();
  mouse_init("", 0, 0);
  mouse_close();
  SetScriptPointer(false);
  EXPECT_FALSE(OpenMouse());
  m = CurrentMouseSetup();
  EXPECT_FALSE(m.Open);
  EXPECT_EQ(m.Device, "/dev/gpmdata");
  EXPECT_EQ(m.Type, 7);
  EXPECT_EQ(m.SampleRate, 1200);
  EXPECT_EQ(std::make_tuple(m.MinX, m.MaxX, m.MinY, m.MaxY), std::make_tuple(5, 10, 5, 10));
  EXPECT_EQ(m.Scale, 1);
}

TEST_F(PointerMouseTest, ReadsEachEventAndPullsBackAtTheLastColumnAndRow) {
  Event(100, 200, 1, 0);
  Event(639, 50, 0, 0);
  Event(20, 479, 2, 0);
  Event(700, 500, 0, 0);
  PointerState p = ReadPointer();
  EXPECT_EQ(p.X, 100);
  EXPECT_EQ(p.Y, 200);
  EXPECT_EQ(p.Buttons, 1);
  EXPECT_TRUE(ScriptedWarps().empty());
  p = ReadPointer();
  EXPECT_EQ(p.X, 639);
  EXPECT_EQ(p.Y, 50);
  p = ReadPointer();
  EXPECT_EQ(p.Y, 479);
  EXPECT_EQ(p.Buttons, 2);
  p = ReadPointer();
  EXPECT_EQ(p.X, 639);
  EXPECT_EQ(p.Y, 479);
  EXPECT_EQ(ScriptedWarps(), (std::vector<std::pair<int, int>>{{639, 50}, {20, 479}, {639, 479}}));
}

// ---- The person's move ------------------------------------------------------------------------

using PlayerMoveTest = InputTest;

TEST_F(PlayerMoveTest, TwoClicksPlayTheMoveAfterFramingTheFromSquare) {
  Event(10, 10, 0, 0);
  ClickSquare(5, 7);
  Event(SquareX(5), SquareY(6), 0, 0.1L, "", [] {
    // The outer line of the frame lies one pixel outside e7.
    EXPECT_EQ(ReadPixel(BoardLeft + 4 * 48 - 1, BoardTop + 48 - 1), 0xFFFF);
  });
  ClickSquare(5, 5);
  EXPECT_TRUE(PlayerMove(2));
  EXPECT_EQ(Board[5][7], 0);
  EXPECT_EQ(Board[5][5], Pawn + 64);
}

TEST_F(PlayerMoveTest, EarlyHeldAndOffBoardClicksAreIgnored) {
  Event(10, 10, 0, 0);
  // Within the delay from the start of the call: not taken, or d7-e7 would be
  // refused and the message box would wait for a key that never comes.
  ClickSquare(4, 7, 0.2L);
  // Off the board, late enough: ignored.
  Event(600, 240, 1, 0.5L);
  Event(BoardLeft - 1, 240, 1, 0.5L);
  ClickSquare(5, 7, 0.35L);
  // The button held on e7 and then dragged to e5 counts again only after the delay.
  ClickSquare(5, 7, 0.1L);
  ClickSquare(5, 5, 0.1L);
  ClickSquare(5, 5, 0.15L);
  EXPECT_TRUE(PlayerMove(2));
  EXPECT_EQ(Board[5][5], Pawn + 64);
  EXPECT_EQ(Board[5][7], 0);
}

TEST_F(PlayerMoveTest, RefusedMoveIsExplainedRedrawnAndPickingStartsOver) {
  Event(10, 10, 0, 0);
  ClickSquare(5, 7);
  // e7-e4 is refused; the message box takes the Enter typed with the click.
  ClickSquare(5, 4, 0.35L, "\r", [] {
    // Still unread: the box comes only after this event.
    EXPECT_EQ(ScriptKeysUnread(), 1);
  });
  Event(SquareX(3), SquareY(3), 0, 0.1L, "", [] {
    EXPECT_EQ(ScriptKeysUnread(), 0);
    // The redraw took the frame away and left no trace of the box.
    EXPECT_NE(ReadPixel(BoardLeft + 4 * 48 - 1, BoardTop + 48 - 1), 0xFFFF);
    EXPECT_NE(ReadPixel(320, 224), 0x0001);
  });
  ClickSquare(5, 7);
  ClickSquare(5, 6);
  EXPECT_TRUE(PlayerMove(2));
  EXPECT_EQ(Board[5][6], Pawn + 64);
  EXPECT_EQ(Board[5][4], 0);
}

TEST_F(PlayerMoveTest, RefusalShowsTheErrorBoxUntilEnter) {
  bool boxShown = false;
  Event(10, 10, 0, 0);
  // An empty square is picked and framed like any other.
  ClickSquare(4, 4);
  Event(10, 10, 0, 0.1L, "",
        [] { EXPECT_EQ(ReadPixel(BoardLeft + 3 * 48 - 1, BoardTop + 4 * 48 - 1), 0xFFFF); });
  // Other keys leave the box waiting.
  ClickSquare(4, 3, 0.35L, "x");
  ScriptKeys({'\r'}, false, [&] { boxShown = ReadPixel(320, 224) == 0x0001; });
  Event(10, 10, 0, 0.1L, "\x1b");
  EXPECT_FALSE(PlayerMove(2));
  EXPECT_TRUE(boxShown);
  EXPECT_EQ(CountOnBoard(), 32);
}

TEST_F(PlayerMoveTest, EscapeEndsTheEntryWithoutAMove) {
  Event(10, 10, 0, 0);
  ClickSquare(5, 7);
  Event(20, 20, 0, 0.1L, "\x1b");
  EXPECT_FALSE(PlayerMove(2));
  EXPECT_EQ(Board[5][7], Pawn + 64);
  EXPECT_EQ(CountOnBoard(), 32);

  // With the emulation the Esc is read by the pointer in the first pass.
  PointerEmulation = true;
  TypeKeys({27});
  EXPECT_FALSE(PlayerMove(2));
  EXPECT_TRUE(EscapePressed);
}

TEST_F(PlayerMoveTest, QueenKeyAddsAQueenUnlessTheListIsFull) {
  RemovePieceAtSquare(1, 7);
  Board[1][7] = 0;
  ASSERT_EQ(PieceCount2, 15);
  Event(10, 10, 0, 0);
  Event(20, 20, 0, 0.1L, "q");
  Event(30, 30, 0, 0.1L, "Q");
  Event(40, 40, 0, 0.1L, "\x1b");
  EXPECT_FALSE(PlayerMove(2));
  // One queen fitted; the second Q found the list full and changed nothing.
  ASSERT_EQ(PieceCount2, 16);
  const PieceEntry queen = PieceList2[16];
  EXPECT_EQ(queen.Kind, Queen);
  EXPECT_EQ(Board[queen.File][queen.Rank], Queen + 64);
  EXPECT_EQ(CountOnBoard(), 32);
  EXPECT_EQ(PieceCount1, 16);

  const BoardGrid before = Board;
  PlaceExtraQueen(2);
  EXPECT_EQ(PieceCount2, 16);
  for (int f = 1; f <= 8; ++f)
    for (int r = 1; r <= 8; ++r) EXPECT_EQ(Board[f][r], before[f][r]);

  // Side 1's queen has the code 5 and goes to side 1's list.
  RemovePieceAtSquare(1, 2);
  Board[1][2] = 0;
  PlaceExtraQueen(1);
  EXPECT_EQ(PieceCount1, 16);
  EXPECT_EQ(PieceList1[16].Kind, Queen);
  EXPECT_EQ(Board[PieceList1[16].File][PieceList1[16].Rank], Queen);
}

TEST_F(PlayerMoveTest, QueenKeyWorksWithTheEmulation) {
  PointerEmulation = true;
  RemovePieceAtSquare(1, 7);
  Board[1][7] = 0;
  // Page Down is an arrow-like key to the emulation, not a Q.
  TypeKeys({0, PageDown, 'x', 'Q', 27});
  EXPECT_FALSE(PlayerMove(2));
  EXPECT_EQ(PieceCount2, 16);
  EXPECT_EQ(PieceList2[16].Kind, Queen);
  EXPECT_EQ(CountOnBoard(), 32);
}

TEST_F(PlayerMoveTest, ClickDelayHoldsAcrossMidnight) {
  SetScriptClock(86399.9L);
  Event(10, 10, 0, 0);
  ClickSquare(5, 7, 0.35L);
  ClickSquare(5, 5, 0.35L);
  EXPECT_TRUE(PlayerMove(2));
  EXPECT_LT(ScriptClock(), 1.0L);
  EXPECT_EQ(Board[5][5], Pawn + 64);
}

TEST_F(PlayerMoveTest, EmulationMovesWithArrowsAndSpace) {
  PointerEmulation = true;
  // e7's centre is near (342, 120) on the emulation's grid, e5's near (342, 216).
  PressArrow(Right, 57);
  PressArrow(Down, 20);
  ScriptPause(0.4L);
  TypeKeys({' '});
  ScriptPause(0.1L);
  // A second press within the delay is ignored.
  TypeKeys({' '});
  PressArrow(Down, 16);
  ScriptPause(0.4L);
  TypeKeys({' '});
  EXPECT_TRUE(PlayerMove(2));
  EXPECT_EQ(Board[5][5], Pawn + 64);
  EXPECT_EQ(Board[5][7], 0);
  EXPECT_EQ(EmulatedPointer.X, 342);
  EXPECT_EQ(EmulatedPointer.Y, 216);
}

TEST_F(PlayerMoveTest, PawnReachingTheLastRankBecomesTheChosenPiece) {
  ClearPosition();
  support::Place("Kh8 ka8 pe2");
  Event(10, 10, 0, 0);
  ClickSquare(5, 2);
  ClickSquare(5, 1);
  // The chooser: the first event fixes the point, the click on the rook chooses.
  Event(330, 240, 1, 0.1L, "", [] { EXPECT_EQ(Board[5][2], Pawn + 64); });
  Event(330, 240, 1, 0.1L);
  EXPECT_TRUE(PlayerMove(2));
  EXPECT_EQ(PromotionKind, Rook);
  EXPECT_EQ(Board[5][1], Rook + 64);
  EXPECT_EQ(Board[5][2], 0);
}

// ---- The promotion chooser
// -----------------------------------------------------------------------

using PromotionTest = InputTest;

TEST_F(PromotionTest, OnlyClicksStrictlyInsideTheRowChoose) {
  struct Case {
    std::vector<MouseEvent> Events;
    int Expected;
  };
  const std::vector<Case> cases = {
      {{{300, 240, 1, 0, "", nullptr},
        {224, 240, 1, 0, "", nullptr},
        {225, 240, 1, 0, "", nullptr}},
       Knight},
      {{{0, 0, 0, 0, "", nullptr}, {415, 263, 1, 0, "", nullptr}}, Queen},
      {{{0, 0, 0, 0, "", nullptr},
        {300, 216, 1, 0, "", nullptr},
        {416, 240, 1, 0, "", nullptr},
        {300, 264, 1, 0, "", nullptr},
        {300, 217, 0, 0, "", nullptr},
        {300, 217, 1, 0, "", nullptr}},
       Bishop},
      {{{0, 0, 0, 0, "", nullptr}, {367, 230, 1, 0, "", nullptr}}, Rook},
  };
  for (const Case& c : cases) {
    for (const MouseEvent& e : c.Events) Event(e);
    EXPECT_EQ(ChoosePromotion(), c.Expected);
    EXPECT_EQ(ScriptStepsLeft(), 0);
  }
}

TEST_F(PromotionTest, ChoicesAreDrawnInGrey) {
  Event(0, 0, 0, 0);
  Event(400, 250, 1, 0);
  ASSERT_EQ(ChoosePromotion(), Queen);
  // Drawing the grey pieces again over the chooser changes nothing.
  std::vector<Colour> shown;
  for (int x = 224; x < 416; ++x)
    for (int y = 216; y < 264; ++y) shown.push_back(ReadPixel(x, y));
  for (int k = 0; k < 4; ++k)
    DrawPieceGrey(static_cast<std::int16_t>(224 + 48 * k), 216, PieceBitmaps[k + 2]);
  std::vector<Colour> again;
  for (int x = 224; x < 416; ++x)
    for (int y = 216; y < 264; ++y) again.push_back(ReadPixel(x, y));
  // Only the pointer at (400, 250) may differ.
  int differing = 0;
  for (std::size_t i = 0; i < shown.size(); ++i) differing += shown[i] != again[i];
  EXPECT_LE(differing, 150);
}

TEST_F(PromotionTest, CheckPromotionOpensTheChooserOnlyForPawnsOnTheLastRank) {
  ClearPosition();
  support::Place("pe2 nb2 pc3 Pg7");
  PromotionKind = Knight;
  // No events are scripted: an opened chooser would run out of them.
  CheckPromotion({2, 2, 3, 1}, 2);
  CheckPromotion({3, 3, 3, 2}, 2);
  EXPECT_EQ(PromotionKind, Knight);
  EXPECT_EQ(ScriptStepsLeft(), 0);

  Event(0, 0, 0, 0);
  Event(380, 240, 1, 0);
  CheckPromotion({5, 2, 5, 1}, 2);
  EXPECT_EQ(PromotionKind, Queen);
  Event(0, 0, 0, 0);
  Event(280, 240, 1, 0);
  CheckPromotion({7, 7, 7, 8}, 1);
  EXPECT_EQ(PromotionKind, Bishop);
  // The board is left for MakeMove.
  EXPECT_EQ(Board[5][2], Pawn + 64);
}

// ---- The pointer on the screen: waiting, one arrow at all times, a whole frame ----------------

constexpr Colour ArrowColour = 0xEF7D;

// ExpectOnePointerAt: the screen is the picture redraw() makes plus one
// pointer with its tip at (x, y): every other pixel of the redrawn picture is
// unchanged. The screen is left as it was found.
void ExpectOnePointerAt(int x, int y, const std::function<void()>& redraw) {
  std::vector<Colour> shown;
  for (int py = 0; py < 480; ++py)
    for (int px = 0; px < 640; ++px)
      shown.push_back(ReadPixel(static_cast<std::int16_t>(px), static_cast<std::int16_t>(py)));
  auto at = [&](int px, int py) { return shown[static_cast<std::size_t>(py * 640 + px)]; };
  EXPECT_EQ(at(x, y), ArrowColour) << "no pointer at " << x << "," << y;
  EXPECT_EQ(at(x + 8, y + 8), ArrowColour);
  EXPECT_EQ(at(x, y + 13), ArrowColour);
  EXPECT_EQ(at(x + 1, y + 6), 0x0000) << "no shadow";
  redraw();
  int strays = 0;
  for (int py = 0; py < 480; ++py)
    for (int px = 0; px < 640; ++px) {
      const bool inBlock = px >= x && px <= x + 9 && py >= y && py <= y + 14;
      if (!inBlock &&
          at(px, py) != ReadPixel(static_cast<std::int16_t>(px), static_cast<std::int16_t>(py)))
        ++strays;
      SetPixel(static_cast<std::int16_t>(px), static_cast<std::int16_t>(py), at(px, py));
    }
  EXPECT_EQ(strays, 0) << "pixels outside the pointer differ from the redrawn picture";
}

void RedrawChooser() {
  ShowScreenImage("PawnFix.x");
  for (int k = 0; k < 4; ++k)
    DrawPieceGrey(static_cast<std::int16_t>(224 + 48 * k), 216, PieceBitmaps[k + 2]);
}

using PointerOnScreenTest = InputTest;

TEST_F(PointerOnScreenTest, EmulationWaitsForTheKeyAndDrawsThePointerAtOnce) {
  PointerEmulation = true;
  EmulatedPointer = {342, 216, 0};
  DrawBoard(Board);
  // The read waits through the pause for the key.
  ScriptPause(5.0L);
  TypeKeys({' '});
  const long double start = ScriptClock();
  const PointerState click = ReadPointer();
  EXPECT_EQ(click.Buttons, 1);
  EXPECT_GE(ScriptClock() - start, 5.0L);
  // The move entry's pointer stands before its first key is read.
  ScriptKeys({27}, false, [] { ExpectOnePointerAt(342, 216, [] { DrawBoard(Board); }); });
  EXPECT_FALSE(PlayerMove(2));
  // The Esc is kept: the next entry ends at once, without a key to read.
  EXPECT_FALSE(PlayerMove(2));
}

TEST_F(PointerOnScreenTest, FrameStaysWholeWhenThePointerLeavesIt) {
  DrawBoard(Board);
  // e7's top-left corner: the pointer covers the corner of its frame.
  const int x1 = BoardLeft + 4 * 48, y1 = BoardTop + 48;
  Event(10, 10, 0, 0);
  Event(x1, y1, 1, 0.35L);
  Event(200, 300, 0, 0.1L);
  // Looked at when the next event comes, after the pointer has left.
  Event(210, 300, 0, 0.1L, "\x1b", [&] {
    for (int d = -1; d <= 1; ++d)
      for (int i = -1; i <= 48; ++i) {
        // The three outlines, read along their top and left sides.
        if (i >= d && i <= 47 - d) {
          EXPECT_EQ(ReadPixel(static_cast<std::int16_t>(x1 + i), static_cast<std::int16_t>(y1 + d)),
                    0xFFFF)
              << "top, outline " << d << ", x " << x1 + i;
          EXPECT_EQ(ReadPixel(static_cast<std::int16_t>(x1 + d), static_cast<std::int16_t>(y1 + i)),
                    0xFFFF)
              << "left, outline " << d << ", y " << y1 + i;
        }
      }
  });
  EXPECT_FALSE(PlayerMove(2));
}

TEST_F(PointerOnScreenTest, OnePointerAfterARefusalAndWhenTheChooserOpens) {
  DrawBoard(Board);
  Event(10, 10, 0, 0, "", [] { ExpectOnePointerAt(0, 0, [] { DrawBoard(Board); }); });
  ClickSquare(5, 7);
  // e7-e4 is refused; the box takes the Enter typed with the click.
  ClickSquare(5, 4, 0.35L, "\r");
  Event(10, 10, 0, 0.1L, "",
        [] { ExpectOnePointerAt(SquareX(5), SquareY(4), [] { DrawBoard(Board); }); });
  Event(10, 10, 0, 0.1L, "\x1b");
  EXPECT_FALSE(PlayerMove(2));

  ClearPosition();
  support::Place("Kh8 ka8 pe2");
  DrawBoard(Board);
  Event(10, 10, 0, 0);
  ClickSquare(5, 2);
  ClickSquare(5, 1);
  Event(SquareX(5), SquareY(1), 0, 0.1L, "",
        [] { ExpectOnePointerAt(SquareX(5), SquareY(1), RedrawChooser); });
  Event(250, 240, 1, 0.1L);
  EXPECT_TRUE(PlayerMove(2));
  EXPECT_EQ(Board[5][1], Knight + 64);
}

}  // namespace
