#include <gtest/gtest.h>

#include <cstring>

#include "engine/engine.h"

namespace {

// The quarter of the board with files 1..4 and ranks 1..4, [file][rank].
const int PawnQuarter[4][4] = {
    {100, 103, 106, 107}, {103, 107, 110, 112}, {106, 110, 114, 117}, {107, 112, 117, 121}};
const int KnightQuarter[4][4] = {
    {301, 310, 318, 322}, {310, 322, 331, 337}, {318, 331, 343, 351}, {322, 337, 351, 364}};
const int BishopQuarter[4][4] = {
    {311, 321, 328, 333}, {321, 333, 342, 348}, {328, 342, 355, 363}, {333, 348, 363, 377}};

class EvaluateTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { BuildPieceSquareValues(); }

  void Add(PieceList& list, std::uint8_t& count, PieceKind kind, int file, int rank) {
    list[++count] =
        PieceEntry{kind, static_cast<std::uint8_t>(file), static_cast<std::uint8_t>(rank)};
  }
  PieceList First{}, Second{};
  std::uint8_t FirstCount = 0, SecondCount = 0;
};

TEST_F(EvaluateTest, TableMatchesTheQuarterAndItsMirrors) {
  const int(*quarters[4])[4] = {nullptr, PawnQuarter, KnightQuarter, BishopQuarter};
  for (int kind = Pawn; kind <= Bishop; ++kind) {
    for (int file = 1; file <= 4; ++file) {
      for (int rank = 1; rank <= 4; ++rank) {
        const int expected = quarters[kind][file - 1][rank - 1];
        EXPECT_EQ(PieceSquareValue[kind][file][rank], expected) << kind << " " << file << rank;
        EXPECT_EQ(PieceSquareValue[kind][9 - file][rank], expected);
        EXPECT_EQ(PieceSquareValue[kind][file][9 - rank], expected);
        EXPECT_EQ(PieceSquareValue[kind][9 - file][9 - rank], expected);
      }
    }
  }
  for (int kind = 0; kind <= 7; ++kind) {
    for (int file = 1; file <= 8; ++file) {
      for (int rank = 1; rank <= 8; ++rank) {
        // Symmetric about both diagonals as well.
        EXPECT_EQ(PieceSquareValue[kind][file][rank], PieceSquareValue[kind][rank][file]);
        EXPECT_EQ(PieceSquareValue[kind][file][rank], PieceSquareValue[kind][9 - rank][9 - file]);
        if (kind >= Rook && kind <= King) {
          EXPECT_EQ(PieceSquareValue[kind][file][rank], PieceValue[kind]);
        }
        if (kind == 0 || kind == 7) {
          EXPECT_EQ(PieceSquareValue[kind][file][rank], 0);
        }
      }
    }
  }
  EXPECT_EQ(PieceSquareValue[Rook][3][6], 500);
  EXPECT_EQ(PieceSquareValue[Queen][1][8], 950);
  EXPECT_EQ(PieceSquareValue[King][5][1], 10000);
}

TEST_F(EvaluateTest, BuildingTwiceGivesTheSameTable) {
  const PieceSquareValueTable before = PieceSquareValue;
  BuildPieceSquareValues();
  EXPECT_EQ(0, std::memcmp(&before, &PieceSquareValue, sizeof before));
}

TEST_F(EvaluateTest, EmptyAndKingOnlyPositionsScoreZero) {
  EXPECT_EQ(Evaluate(First, Second, 0, 0), 0);
  Add(First, FirstCount, King, 1, 1);
  Add(Second, SecondCount, King, 5, 4);
  EXPECT_EQ(Evaluate(First, Second, FirstCount, SecondCount), 0);
  EXPECT_EQ(Evaluate(First, Second, FirstCount, 0), 10000);
  EXPECT_EQ(Evaluate(First, Second, 0, SecondCount), -10000);
}

TEST_F(EvaluateTest, SumsOnlyTheCountedEntriesAndSwappingNegates) {
  Add(First, FirstCount, King, 5, 1);
  Add(First, FirstCount, Knight, 1, 1);  // corner: 301
  Add(First, FirstCount, Bishop, 4, 5);  // centre: 377
  Add(First, FirstCount, Pawn, 8, 8);    // a pawn on the last rank: corner value 100
  Add(Second, SecondCount, King, 5, 8);
  Add(Second, SecondCount, Knight, 5, 5);  // centre: 364
  Add(Second, SecondCount, Queen, 2, 7);   // 950
  Add(Second, SecondCount, Pawn, 4, 4);    // 121
  const std::int32_t score = Evaluate(First, Second, FirstCount, SecondCount);
  EXPECT_EQ(score, 301 + 377 + 100 - 364 - 950 - 121);
  EXPECT_EQ(Evaluate(Second, First, SecondCount, FirstCount), -score);

  // Slots past the count are never read, whatever they hold.
  First[5] = PieceEntry{Queen, 4, 4};
  First[6] = PieceEntry{99, 0, 0};
  EXPECT_EQ(Evaluate(First, Second, FirstCount, SecondCount), score);
  // A kind-0 entry inside the count adds nothing.
  First[5] = PieceEntry{NoPiece, 4, 4};
  EXPECT_EQ(Evaluate(First, Second, 5, SecondCount), score);
  First[5] = PieceEntry{NoPiece, 0, 0};
  EXPECT_EQ(Evaluate(First, Second, 5, SecondCount), score);
}

}  // namespace
