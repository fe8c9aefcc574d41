// The program driver: the shuffle, the turn loop and the start-up order. The
// link wraps the Parts the driver calls (see tests/CMakeLists.txt), so each
// call is recorded here instead of opening a window or searching.
#include "app/app.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "display/display.h"
#include "engine/engine.h"
#include "input/input.h"
#include "platform/platform.h"

namespace {

std::vector<std::string> Calls;
// Answers of the wrapped turns, taken in order; an exhausted list ends the game.
std::vector<bool> ComputerAnswers;
std::vector<bool> PlayerAnswers;
int MouseInitResult = 0;

bool NextAnswer(std::vector<bool>& answers) {
  if (answers.empty()) return false;
  const bool answer = answers.front();
  answers.erase(answers.begin());
  return answer;
}

}  // namespace

extern "C" {
bool __wrap__Z10PlayerMovei(int side) {
  Calls.push_back("PlayerMove " + std::to_string(side));
  return NextAnswer(PlayerAnswers);
}
bool __wrap__Z12ComputerMovei(int side) {
  Calls.push_back("ComputerMove " + std::to_string(side));
  return NextAnswer(ComputerAnswers);
}
void __wrap__Z10ShowStatusRKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE(
    const std::string& text) {
  Calls.push_back("ShowStatus " + text);
}
void __wrap__Z13ShowInfoPanelRKNSt7__cxx1112basic_stringIcSt11char_traitsIcESaIcEEE(
    const std::string& text) {
  Calls.push_back("ShowInfoPanel " + text);
}
std::string __wrap__Z10StatusLineB5cxx11v() { return "status"; }
void __wrap__Z11ClearScreenv() { Calls.push_back("ClearScreen"); }
void __wrap__Z9DrawBoardRK5ArrayIS_IhLi1ELi8EELi1ELi8EE(const BoardGrid& board) {
  Calls.push_back(&board == &Board ? "DrawBoard" : "DrawBoard other");
}
int __wrap__Z10mouse_initPKcii(const char* device, int type, int rate) {
  Calls.push_back("mouse_init " + std::string(device) + " " + std::to_string(type) + " " +
                  std::to_string(rate));
  return MouseInitResult;
}
void __wrap__Z15mouse_setxrangeii(int a, int b) {
  Calls.push_back("mouse_setxrange " + std::to_string(a) + " " + std::to_string(b));
}
void __wrap__Z15mouse_setyrangeii(int a, int b) {
  Calls.push_back("mouse_setyrange " + std::to_string(a) + " " + std::to_string(b));
}
void __wrap__Z14mouse_setscalei(int s) { Calls.push_back("mouse_setscale " + std::to_string(s)); }
void __wrap__Z11mouse_closev() { Calls.push_back("mouse_close"); }
void __wrap__Z10SeedRandomj(unsigned) { Calls.push_back("SeedRandom"); }
// The generator itself, for the shuffle's own tests.
void __real__Z10SeedRandomj(unsigned seed);
void __wrap__Z22BuildPieceSquareValuesv() { Calls.push_back("BuildPieceSquareValues"); }
void __wrap__Z13StartGraphicsv() {
  // Standard output is flushed by now, so its order against the calls shows.
  Calls.push_back("StartGraphics");
}
void __wrap__Z12LoadPositionPKc(const char* name) {
  Calls.push_back("LoadPosition " + std::string(name));
}
void __wrap__Z13CloseGraphicsv() { Calls.push_back("CloseGraphics"); }
}

namespace {

class AppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Calls.clear();
    ComputerAnswers.clear();
    PlayerAnswers.clear();
    MouseInitResult = 0;
    PointerEmulation = false;
  }
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
  __real__Z10SeedRandomj(7);
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
  __real__Z10SeedRandomj(1);
  ShufflePieceLists();
  const auto first = Entries(PieceList1, 16);
  EXPECT_EQ(Entries(PieceList2, 1), (std::vector<std::tuple<int, int, int>>{{1, 1, 1}}));
  FillList(PieceList1, PieceCount1, 16);
  FillList(PieceList2, PieceCount2, 0);
  __real__Z10SeedRandomj(2);
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
  const std::vector<std::string> expected = {"mouse_init /dev/gpmdata 7 1200",
                                             "mouse_setxrange 0 639",
                                             "mouse_setyrange 0 479",
                                             "mouse_setscale 16",
                                             "mouse_setxrange 0 639",
                                             "mouse_setyrange 0 479",
                                             "SeedRandom",
                                             "BuildPieceSquareValues",
                                             "StartGraphics",
                                             "LoadPosition kelvar.in",
                                             "ClearScreen",
                                             "DrawBoard",
                                             "ShowStatus thinking",
                                             "ComputerMove 1",
                                             "CloseGraphics",
                                             "mouse_close"};
  EXPECT_EQ(Calls, expected);
}

TEST_F(RunProgramTest, FallsBackToTheEmulationWithTheLineBeforeGraphics) {
  MouseInitResult = -1;
  ComputerAnswers = {true};
  PlayerAnswers = {false};
  testing::internal::CaptureStdout();
  EXPECT_EQ(RunProgram(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Could Not find mouse!!! Falling back to emulation\n");
  EXPECT_TRUE(PointerEmulation);
  ASSERT_GE(Calls.size(), 5u);
  const std::vector<std::string> start(Calls.begin(), Calls.begin() + 5);
  EXPECT_EQ(start, (std::vector<std::string>{"mouse_init /dev/gpmdata 7 1200",
                                             "mouse_setxrange 0 639", "mouse_setyrange 0 479",
                                             "SeedRandom", "BuildPieceSquareValues"}));
  const std::vector<std::string> end(Calls.end() - 3, Calls.end());
  EXPECT_EQ(end, (std::vector<std::string>{"PlayerMove 2", "CloseGraphics", "mouse_close"}));
}

}  // namespace
