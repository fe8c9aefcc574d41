// The program driver: the shuffle, the turn loop and the start-up order. The
// driver's steps are replaced by ones that record each call instead of
// opening a window or searching; the mouse is the scripted platform's, and
// what the driver did to it is read back from there.
#include "app/app.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "display/display.h"
#include "engine/engine.h"
#include "input/input.h"
#include "platform/core/services.h"
#include "platform/platform.h"
#include "platform/scripted/scripted.h"

namespace {

std::vector<std::string> Calls;
// Answers of the recorded turns, taken in order; an exhausted list ends the game.
std::vector<bool> ComputerAnswers;
std::vector<bool> PlayerAnswers;
// The mouse as the driver had set it up when it seeded the generator, and
// whether it was still open when the graphics closed.
MouseSetup MouseAtSeed{};
bool MouseOpenAtClose = false;

bool NextAnswer(std::vector<bool>& answers) {
  if (answers.empty()) return false;
  const bool answer = answers.front();
  answers.erase(answers.begin());
  return answer;
}

const DriverSteps RecordingSteps = {
    [](std::uint32_t) {
      MouseAtSeed = CurrentMouseSetup();
      Calls.push_back("SeedRandom");
    },
    [] { Calls.push_back("BuildPieceSquareValues"); },
    // Standard output is flushed by now, so its order against the calls shows.
    [] { Calls.push_back("StartGraphics"); },
    [](const char* name) { Calls.push_back("LoadPosition " + std::string(name)); },
    [] { Calls.push_back("ClearScreen"); },
    [](const BoardGrid& board) {
      Calls.push_back(&board == &Board ? "DrawBoard" : "DrawBoard other");
    },
    [] { return std::string("status"); },
    [](const std::string& text) { Calls.push_back("ShowInfoPanel " + text); },
    [](const std::string& text) { Calls.push_back("ShowStatus " + text); },
    [](int side) {
      Calls.push_back("PlayerMove " + std::to_string(side));
      return NextAnswer(PlayerAnswers);
    },
    [](int side) {
      Calls.push_back("ComputerMove " + std::to_string(side));
      return NextAnswer(ComputerAnswers);
    },
    [] {
      MouseOpenAtClose = CurrentMouseSetup().Open;
      Calls.push_back("CloseGraphics");
    }};

}  // namespace

namespace {

class AppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Steps = RecordingSteps;
    Calls.clear();
    ComputerAnswers.clear();
    PlayerAnswers.clear();
    SetScriptPointer(true);
    // Forget the device of an earlier run of the driver.
    mouse_init("", 0, 0);
    mouse_close();
    PointerEmulation = false;
    // Ranges and scale other than the driver's, so its own settings show.
    mouse_setxrange(5, 10);
    mouse_setyrange(5, 10);
    mouse_setscale(1);
    MouseAtSeed = {};
    MouseOpenAtClose = false;
  }
  void TearDown() override { Steps = GameSteps; }
};

using ShuffleTest = AppTest;

// A full start-position-like list for one side.
void FillList(PieceList& list, std::uint8_t& count, int n) {
  list = {};
  count = static_cast<std::uint8_t>(n);
  for (int i = 1; i <= n; ++i)
    list[i] = {static_cast<std::int16_t>(1 + (i - 1) % 6),
               static_cast<std::uint8_t>(1 + (i - 1) % 8),
               static_cast<std::uint8_t>(1 + (i - 1) / 8)};
}

std::vector<std::tuple<int, int, int>> Entries(const PieceList& list, int count) {
  std::vector<std::tuple<int, int, int>> entries;
  for (int i = 1; i <= count; ++i) entries.emplace_back(list[i].Kind, list[i].File, list[i].Rank);
  return entries;
}

TEST_F(ShuffleTest, ReordersWholeEntriesOfBothListsAndNothingElse) {
  FillList(PieceList1, PieceCount1, 16);
  FillList(PieceList2, PieceCount2, 11);
  const auto before1 = Entries(PieceList1, 16);
  const auto before2 = Entries(PieceList2, 11);
  const BoardGrid board = Board;
  SeedRandom(7);
  ShufflePieceLists();
  auto after1 = Entries(PieceList1, 16);
  auto after2 = Entries(PieceList2, 11);
  EXPECT_NE(after1, before1);
  EXPECT_NE(after2, before2);
  std::sort(after1.begin(), after1.end());
  std::sort(after2.begin(), after2.end());
  auto sorted1 = before1;
  auto sorted2 = before2;
  std::sort(sorted1.begin(), sorted1.end());
  std::sort(sorted2.begin(), sorted2.end());
  EXPECT_EQ(after1, sorted1);
  EXPECT_EQ(after2, sorted2);
  EXPECT_EQ(PieceCount1, 16);
  EXPECT_EQ(PieceCount2, 11);
  // The free slots stay empty and the board is not touched.
  for (int i = 12; i <= 16; ++i) EXPECT_EQ(PieceList2[i].Kind, 0);
  for (int f = 1; f <= 8; ++f)
    for (int r = 1; r <= 8; ++r) EXPECT_EQ(Board[f][r], board[f][r]);
}

TEST_F(ShuffleTest, DifferentSeedsGiveDifferentOrdersAndTinyListsStay) {
  FillList(PieceList1, PieceCount1, 16);
  FillList(PieceList2, PieceCount2, 1);
  SeedRandom(1);
  ShufflePieceLists();
  const auto first = Entries(PieceList1, 16);
  EXPECT_EQ(Entries(PieceList2, 1), (std::vector<std::tuple<int, int, int>>{{1, 1, 1}}));
  FillList(PieceList1, PieceCount1, 16);
  FillList(PieceList2, PieceCount2, 0);
  SeedRandom(2);
  ShufflePieceLists();
  EXPECT_NE(Entries(PieceList1, 16), first);
  EXPECT_EQ(PieceCount2, 0);
  EXPECT_EQ(PieceList2[1].Kind, 0);
}

using RunGameTest = AppTest;

TEST_F(RunGameTest, ComputerMovesFirstAndTheTurnsAlternateUntilOneEndsTheGame) {
  EXPECT_EQ(SideController[1], 2);
  EXPECT_EQ(SideController[2], 1);
  ComputerAnswers = {true, true};
  PlayerAnswers = {true, false};
  RunGame();
  const std::vector<std::string> computerTurn = {"ClearScreen", "DrawBoard", "ShowStatus thinking",
                                                 "ComputerMove 1"};
  const std::vector<std::string> personTurn = {"ClearScreen", "DrawBoard", "ShowInfoPanel status",
                                               "ShowStatus waiting", "PlayerMove 2"};
  std::vector<std::string> expected;
  for (int i = 0; i < 2; ++i) {
    expected.insert(expected.end(), computerTurn.begin(), computerTurn.end());
    expected.insert(expected.end(), personTurn.begin(), personTurn.end());
  }
  EXPECT_EQ(Calls, expected);
}

TEST_F(RunGameTest, TheComputerEndsTheGameWithoutAFurtherTurn) {
  ComputerAnswers = {true, false};
  PlayerAnswers = {true, true};
  RunGame();
  EXPECT_EQ(std::count(Calls.begin(), Calls.end(), "PlayerMove 2"), 1);
  EXPECT_EQ(Calls.back(), "ComputerMove 1");
  EXPECT_EQ(PlayerAnswers.size(), 1u);
}

using RunProgramTest = AppTest;

TEST_F(RunProgramTest, StartsInOrderWithTheMouse) {
  ComputerAnswers = {false};
  testing::internal::CaptureStdout();
  EXPECT_EQ(RunProgram(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_FALSE(PointerEmulation);
  const std::vector<std::string> expected = {"SeedRandom",          "BuildPieceSquareValues",
                                             "StartGraphics",       "LoadPosition kelvar.in",
                                             "ClearScreen",         "DrawBoard",
                                             "ShowStatus thinking", "ComputerMove 1",
                                             "CloseGraphics"};
  EXPECT_EQ(Calls, expected);
  // The mouse was opened on the console's device, with the whole screen as
  // its ranges and scale 16, before anything else; closed after the graphics.
  EXPECT_TRUE(MouseAtSeed.Open);
  EXPECT_EQ(MouseAtSeed.Device, "/dev/gpmdata");
  EXPECT_EQ(MouseAtSeed.Type, 7);
  EXPECT_EQ(MouseAtSeed.SampleRate, 1200);
  EXPECT_EQ(MouseAtSeed.Scale, 16);
  EXPECT_EQ(std::make_tuple(MouseAtSeed.MinX, MouseAtSeed.MaxX, MouseAtSeed.MinY, MouseAtSeed.MaxY),
            std::make_tuple(0, 639, 0, 479));
  EXPECT_TRUE(MouseOpenAtClose);
  EXPECT_FALSE(CurrentMouseSetup().Open);
}

TEST_F(RunProgramTest, FallsBackToTheEmulationWithTheLineBeforeGraphics) {
  SetScriptPointer(false);
  ComputerAnswers = {true};
  PlayerAnswers = {false};
  testing::internal::CaptureStdout();
  EXPECT_EQ(RunProgram(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Could Not find mouse!!! Falling back to emulation\n");
  EXPECT_TRUE(PointerEmulation);
  ASSERT_GE(Calls.size(), 2u);
  const std::vector<std::string> start(Calls.begin(), Calls.begin() + 2);
  EXPECT_EQ(start, (std::vector<std::string>{"SeedRandom", "BuildPieceSquareValues"}));
  // The mouse tried the console's device; the ranges are set all the same,
  // the scale only for a mouse that opened.
  EXPECT_FALSE(MouseAtSeed.Open);
  EXPECT_EQ(MouseAtSeed.Device, "/dev/gpmdata");
  EXPECT_EQ(MouseAtSeed.Type, 7);
  EXPECT_EQ(MouseAtSeed.SampleRate, 1200);
  EXPECT_EQ(MouseAtSeed.Scale, 1);
  EXPECT_EQ(std::make_tuple(MouseAtSeed.MinX, MouseAtSeed.MaxX, MouseAtSeed.MinY, MouseAtSeed.MaxY),
            std::make_tuple(0, 639, 0, 479));
  const std::vector<std::string> end(Calls.end() - 2, Calls.end());
  EXPECT_EQ(end, (std::vector<std::string>{"PlayerMove 2", "CloseGraphics"}));
  EXPECT_FALSE(CurrentMouseSetup().Open);
}

}  // namespace
