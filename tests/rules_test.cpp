#include "rules/rules.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "tests/position_support.h"

namespace {

using support::ClearPosition;
using support::Place;
using support::Put;

std::string SquareName(int file, int rank) {
  return std::string{static_cast<char>('a' + file - 1), static_cast<char>('0' + rank)};
}

// "f3:5" per move: destination and class, in generation order.
std::vector<std::string> Destinations(const MoveList& moves, int count) {
  std::vector<std::string> result;
  for (int i = 1; i <= count; ++i)
    result.push_back(SquareName(moves[i].ToFile, moves[i].ToRank) + ":" +
                     std::to_string(moves[i].Class));
  return result;
}

std::vector<std::string> MovesOf(const PieceEntry& piece, int side) {
  MoveList moves;
  const int count = GeneratePieceMoves(moves, piece, side);
  return Destinations(moves, count);
}

using Names = std::vector<std::string>;

class RulesTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearPosition(); }
};

TEST_F(RulesTest, SquareAndSideTests) {
  Place("Ka1 kh8");
  EXPECT_EQ(PieceAt(1, 1), 6);
  EXPECT_EQ(PieceAt(8, 8), 70);
  EXPECT_EQ(PieceAt(0, 5), 0);
  EXPECT_EQ(PieceAt(9, 1), 0);
  EXPECT_EQ(PieceAt(4, 0), 0);
  EXPECT_EQ(PieceAt(-1, 10), 0);
  EXPECT_TRUE(IsEmptySquare(4, 4));
  EXPECT_FALSE(IsEmptySquare(1, 1));
  EXPECT_FALSE(IsEmptySquare(0, 1));
  EXPECT_FALSE(IsEmptySquare(9, 9));
  EXPECT_FALSE(IsEmptySquare(1, 0));

  for (int side = 1; side <= 2; ++side) {
    EXPECT_FALSE(IsOwnPiece(0, side));
    EXPECT_FALSE(IsEnemyPiece(0, side));
    EXPECT_FALSE(IsOwnPiece(64, side));
    EXPECT_FALSE(IsEnemyPiece(64, side));
  }
  EXPECT_TRUE(IsOwnPiece(6, 1));
  EXPECT_TRUE(IsEnemyPiece(6, 2));
  EXPECT_TRUE(IsOwnPiece(70, 2));
  EXPECT_TRUE(IsEnemyPiece(70, 1));
  EXPECT_FALSE(IsOwnPiece(70, 1));
  EXPECT_FALSE(IsEnemyPiece(1, 1));

  EXPECT_EQ(Opponent(1), 2);
  EXPECT_EQ(Opponent(2), 1);
  EXPECT_TRUE(IsLastRank(8, 1));
  EXPECT_FALSE(IsLastRank(1, 1));
  EXPECT_TRUE(IsLastRank(1, 2));
  EXPECT_FALSE(IsLastRank(8, 2));
}

TEST_F(RulesTest, RemovalsCloseTheGapAndZeroTheFreedSlot) {
  PieceList list{};
  std::uint8_t count = 5;
  for (int i = 1; i <= 5; ++i) list[i] = PieceEntry{static_cast<std::int16_t>(i), 1, 1};
  for (int i = 1; i <= 5; ++i) list[i].Rank = static_cast<std::uint8_t>(i);

  RemovePieceEntry(list, count, 1, 9);  // no entry there
  EXPECT_EQ(count, 5);

  RemovePieceEntry(list, count, 1, 3);
  ASSERT_EQ(count, 4);
  EXPECT_EQ(list[3].Kind, 4);
  EXPECT_EQ(list[3].Rank, 4);
  EXPECT_EQ(list[4].Kind, 5);
  EXPECT_EQ(list[4].Rank, 5);
  EXPECT_EQ(list[5].Kind, 0);
  EXPECT_EQ(list[5].File, 0);
  EXPECT_EQ(list[5].Rank, 0);

  // Only the first matching entry goes; the last one leaves a zeroed slot.
  list[4].Rank = 1;
  RemovePieceEntry(list, count, 1, 1);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(list[1].Kind, 2);
  RemovePieceEntry(list, count, 1, 1);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(list[3].Kind, 0);

  // A square held in both lists (never in a real game): side 1 loses it only.
  Place("Rc3 rc3");
  RemovePieceAtSquare(3, 3);
  EXPECT_EQ(PieceCount1, 0);
  EXPECT_EQ(PieceCount2, 1);
  RemovePieceAtSquare(3, 3);
  EXPECT_EQ(PieceCount2, 0);
  EXPECT_EQ(Board[3][3], 68) << "removals leave the board alone";
}

TEST_F(RulesTest, PawnMovesInOrderWithClasses) {
  const PieceEntry pawn = Put(1, Pawn, "e2");
  Place("nd3 nf3");
  EXPECT_EQ(MovesOf(pawn, 1), (Names{"f3:5", "d3:5", "e3:1", "e4:1"}));

  Put(1, Rook, "e3");
  EXPECT_EQ(MovesOf(pawn, 1), (Names{"f3:5", "d3:5"}));
  ClearPosition();
  Place("Pe2 re4");
  EXPECT_EQ(MovesOf(pawn, 1), (Names{"e3:1"})) << "no straight capture";

  ClearPosition();
  const PieceEntry black = Put(2, Pawn, "b7");
  EXPECT_EQ(MovesOf(black, 2), (Names{"b6:1", "b5:1"}));
  const PieceEntry low = Put(2, Pawn, "d2");
  Place("Rc1 re1");
  EXPECT_EQ(MovesOf(low, 2), (Names{"c1:5", "d1:5"})) << "promotion and capture are class 5";

  ClearPosition();
  const PieceEntry edgeA = Put(1, Pawn, "a7");
  const PieceEntry edgeH = Put(1, Pawn, "h6");
  Place("rb8 rg7");
  EXPECT_EQ(MovesOf(edgeA, 1), (Names{"b8:5", "a8:5"}));
  EXPECT_EQ(MovesOf(edgeH, 1), (Names{"g7:5", "h7:1"}));
  const PieceEntry top = Put(1, Pawn, "c8");
  EXPECT_TRUE(MovesOf(top, 1).empty());
  // Diagonal steps onto empty squares and own pieces are never moves.
  const PieceEntry mid = Put(1, Pawn, "d4");
  Put(1, Knight, "e5");
  EXPECT_EQ(MovesOf(mid, 1), (Names{"d5:1"}));
  // Not from the home rank: one step only; the other side's home rank is no help.
  const PieceEntry third = Put(1, Pawn, "f3");
  EXPECT_EQ(MovesOf(third, 1), (Names{"f4:1"}));
  const PieceEntry wrongHome = Put(1, Pawn, "e7");
  EXPECT_EQ(MovesOf(wrongHome, 1), (Names{"e8:5"}));
}

TEST_F(RulesTest, PieceMovesInTableOrder) {
  const PieceEntry rook = Put(1, Rook, "a1");
  Place("Pa2 bc1");
  EXPECT_EQ(MovesOf(rook, 1), (Names{"b1:3", "c1:5"}));

  ClearPosition();
  const PieceEntry knight = Put(1, Knight, "a1");
  EXPECT_EQ(MovesOf(knight, 1), (Names{"c2:3", "b3:3"}));
  const PieceEntry centre = Put(2, Knight, "d4");
  Place("pf5 Pc2");
  EXPECT_EQ(MovesOf(centre, 2), (Names{"f3:3", "b5:3", "b3:3", "e6:3", "e2:3", "c6:3", "c2:5"}));

  ClearPosition();
  const PieceEntry bishop = Put(1, Bishop, "c3");
  Place("pe5 Pb4");
  EXPECT_EQ(MovesOf(bishop, 1), (Names{"b2:3", "a1:3", "d2:3", "e1:3", "d4:3", "e5:5"}));

  ClearPosition();
  const PieceEntry queen = Put(1, Queen, "d4");
  const Names queenMoves = MovesOf(queen, 1);
  EXPECT_EQ(queenMoves.size(), 27u) << "the most any piece can have";
  EXPECT_EQ(queenMoves.front(), "c3:3");
  EXPECT_EQ(queenMoves[3], "c5:3");
  EXPECT_EQ(queenMoves.back(), "d8:3");

  ClearPosition();
  const PieceEntry lone = Put(1, King, "d4");
  EXPECT_EQ(MovesOf(lone, 1),
            (Names{"c4:3", "e4:3", "c3:3", "e3:3", "d3:3", "c5:3", "e5:3", "d5:3"}));
  const PieceEntry rookAlone{Rook, 4, 4};
  EXPECT_EQ(MovesOf(rookAlone, 2), (Names{"c4:3", "b4:3", "a4:3", "e4:3", "f4:3", "g4:3", "h4:3",
                                          "d3:3", "d2:3", "d1:3", "d5:3", "d6:3", "d7:3", "d8:3"}));

  ClearPosition();
  const PieceEntry king = Put(1, King, "e1");
  Place("ra2 rh1 Pf2");
  EXPECT_EQ(MovesOf(king, 1), (Names{"d1:3", "f1:3", "d2:3", "e2:3"}))
      << "attacked squares are still generated";
  Put(2, King, "d2");
  EXPECT_EQ(MovesOf(king, 1), (Names{"d1:3", "f1:3", "d2:5", "e2:3"}));

  const PieceEntry nothing{7, 4, 4};
  EXPECT_TRUE(MovesOf(nothing, 1).empty());
}

TEST_F(RulesTest, GenerationFillsTheBufferAndCountsClasses) {
  const PieceEntry pawn = Put(1, Pawn, "e2");
  const PieceEntry knight = Put(1, Knight, "g1");
  Put(2, Pawn, "f3");

  for (auto& counter : ClassCounts.Items) counter = 7;
  MoveBufferCount = 40;
  MoveList moves;
  const int pawnCount = GeneratePieceMoves(moves, pawn, 1);
  EXPECT_EQ(pawnCount, 3);
  EXPECT_EQ(MoveBufferCount, pawnCount);
  EXPECT_EQ(ClassCounts[5], 1);
  EXPECT_EQ(ClassCounts[1], 2);
  for (int c = 0; c <= 255; ++c)
    if (c != 1 && c != 5) {
      EXPECT_EQ(ClassCounts[c], 0) << "class " << c;
    }
  EXPECT_EQ(moves[1].PieceIndex, 0);

  // GenerateMoves appends without a reset and stamps the piece index.
  std::int16_t count = -5;
  GenerateMoves(moves, count, knight, 2, 1);
  EXPECT_EQ(count, 2);  // h3, then f3 taken; e2 is its own pawn
  EXPECT_EQ(MoveBufferCount, 5);
  EXPECT_EQ(ClassCounts[3], 1);
  EXPECT_EQ(ClassCounts[5], 2);
  for (int i = 1; i <= 2; ++i) {
    EXPECT_EQ(moves[i].PieceIndex, 2);
    EXPECT_EQ(MoveBuffer[3 + i].ToFile, moves[i].ToFile);
    EXPECT_EQ(MoveBuffer[3 + i].ToRank, moves[i].ToRank);
    EXPECT_EQ(MoveBuffer[3 + i].Class, moves[i].Class);
    EXPECT_EQ(MoveBuffer[3 + i].PieceIndex, 2);
  }
}

// Fifteen queens and a king: the most moves a search of ours found for one
// side (248), close to the old 256-slot limit, gathered in one collection.
const char* const QueenSquares[] = {"c3", "g6", "d5", "b6", "h3", "b1", "h4", "e2",
                                    "f4", "a3", "a4", "e7", "g1", "c8", "h8"};

TEST_F(RulesTest, FifteenQueensFitTheMoveBuffer) {
  for (const char* square : QueenSquares) Put(1, Queen, square);
  Place("Ka7 ka8");
  MoveBufferCount = 0;
  for (auto& counter : ClassCounts.Items) counter = 0;
  int total = 0;
  MoveList moves;
  for (int i = 1; i <= PieceCount1; ++i) {
    std::int16_t count = 0;
    GenerateMoves(moves, count, PieceList1[i], static_cast<std::uint8_t>(i), 1);
    total += count;
  }
  EXPECT_EQ(total, 248);
  EXPECT_EQ(MoveBufferCount, total);
  EXPECT_EQ(ClassCounts[3] + ClassCounts[5], total);
  EXPECT_EQ(MoveBuffer[total].PieceIndex, 16);

  // Without a reset the same collection goes on past 256 slots.
  for (int i = 1; i <= 3; ++i) {
    std::int16_t count = 0;
    GenerateMoves(moves, count, PieceList1[i], static_cast<std::uint8_t>(i), 1);
  }
  EXPECT_GT(MoveBufferCount, 256);
  EXPECT_EQ(MoveBuffer[MoveBufferCount].PieceIndex, 3);
}

TEST_F(RulesTest, MoveBufferHoldsFiveHundredTwelveMoves) {
  const PieceEntry knight = Put(1, Knight, "a1");  // two moves
  MoveBufferCount = MoveBufferSize - 2;
  MoveList moves;
  std::int16_t count = 0;
  GenerateMoves(moves, count, knight, 1, 1);
  EXPECT_EQ(MoveBufferCount, 512);
  EXPECT_EQ(MoveBuffer[512].ToFile, 2);
  EXPECT_EQ(MoveBuffer[512].ToRank, 3);
  EXPECT_EXIT(GenerateMoves(moves, count, knight, 1, 1), ::testing::ExitedWithCode(201), "")
      << "the 513th move is outside the buffer";
}

TEST_F(RulesTest, MakeMovePromotesKeepingTheListIndex) {
  Place("Ka1 Pe7 Rh1");
  PromotionKind = Knight;
  MakeMove(Move{5, 7, 5, 8}, 1);
  EXPECT_EQ(Board[5][8], 2);
  EXPECT_EQ(Board[5][7], 0);
  EXPECT_EQ(PieceCount1, 3);
  EXPECT_EQ(PieceList1[2].Kind, Knight);
  EXPECT_EQ(PieceList1[2].File, 5);
  EXPECT_EQ(PieceList1[2].Rank, 8);
  PromotionKind = Queen;
}

TEST_F(RulesTest, MakeMoveCapturesOntoTheLastRank) {
  Place("Kh1 Rc1 Pa2 kh8 pd2");
  PromotionKind = Queen;
  MakeMove(Move{4, 2, 3, 1}, 2);
  EXPECT_EQ(Board[3][1], 69);
  EXPECT_EQ(Board[4][2], 0);
  EXPECT_EQ(PieceCount1, 2);
  EXPECT_EQ(PieceList1[1].Kind, King);
  EXPECT_EQ(PieceList1[2].Kind, Pawn) << "the entries behind move up";
  EXPECT_EQ(PieceList1[3].Kind, 0);
  EXPECT_EQ(PieceList2[2].Kind, Queen);
  EXPECT_EQ(PieceList2[2].File, 3);
  EXPECT_EQ(PieceList2[2].Rank, 1);
}

TEST_F(RulesTest, MakeMoveCaptureShiftsTheVictimsList) {
  const char* squares[] = {"a2", "b2", "c3", "d2", "e2", "f2", "g2"};
  for (const char* square : squares) Put(1, Pawn, square);
  Place("rc8 kh8");
  MakeMove(Move{3, 8, 3, 3}, 2);
  ASSERT_EQ(PieceCount1, 6);
  EXPECT_EQ(PieceList1[3].File, 4);
  EXPECT_EQ(PieceList1[6].File, 7);
  EXPECT_EQ(PieceList1[7].Kind, 0);
  EXPECT_EQ(PieceList1[7].File, 0);
  EXPECT_EQ(PieceList1[7].Rank, 0);
  EXPECT_EQ(Board[3][3], 68);
  EXPECT_EQ(Board[3][8], 0);
  EXPECT_EQ(PieceList2[1].Rank, 3) << "the mover keeps its index";

  // A plain move of a pawn short of the last rank does not promote.
  PromotionKind = Rook;
  MakeMove(Move{1, 2, 1, 4}, 1);
  EXPECT_EQ(Board[1][4], 1);
  EXPECT_EQ(PieceList1[1].Kind, Pawn);
  PromotionKind = Queen;
}

TEST_F(RulesTest, MakeMoveWithoutAMoverChangesOnlyTheCapture) {
  Place("Ra1 na5");
  const BoardGrid before = Board;
  MakeMove(Move{2, 2, 1, 5}, 1);  // nothing of side 1 on b2
  EXPECT_EQ(PieceCount1, 1);
  EXPECT_EQ(PieceList1[1].Rank, 1);
  EXPECT_EQ(PieceCount2, 0) << "the capture is made before the mover is looked for";
  EXPECT_EQ(0, std::memcmp(&before, &Board, sizeof Board));
}

TEST_F(RulesTest, KingAttackedThroughLinesAndPins) {
  Place("Ke1 Be2 re8 ka8");
  EXPECT_FALSE(KingAttacked(1)) << "the bishop shields the king";
  const BoardGrid board = Board;
  const PieceList list1 = PieceList1, list2 = PieceList2;
  MakeMove(Move{5, 2, 4, 3}, 1);  // the pinned bishop steps aside
  EXPECT_TRUE(KingAttacked(1));
  EXPECT_FALSE(KingAttacked(2));
  EXPECT_EQ(PieceCount1, 2) << "the check test leaves the position alone";
  EXPECT_EQ(Board[4][3], 3);

  Board = board;
  PieceList1 = list1;
  PieceList2 = list2;
  Put(1, Rook, "a3");
  EXPECT_TRUE(KingAttacked(2));
  Put(2, Knight, "a6");
  EXPECT_FALSE(KingAttacked(2)) << "the knight blocks the file";
}

TEST_F(RulesTest, KingAttackedByPawnsKingsAndCaptures) {
  Place("Ke1 ke8");
  const PieceEntry pawn = Put(2, Pawn, "e2");
  EXPECT_FALSE(KingAttacked(1)) << "pawns do not attack straight ahead";
  Board[pawn.File][pawn.Rank] = 0;
  PieceList2[2].File = 4;
  Board[4][2] = 65;
  EXPECT_TRUE(KingAttacked(1));
  MakeMove(Move{5, 1, 4, 2}, 1);  // the king takes its only attacker
  EXPECT_FALSE(KingAttacked(1));
  EXPECT_EQ(PieceCount2, 1);

  // A side-1 pawn attacks the two squares diagonally above it only.
  Put(1, Pawn, "d7");
  EXPECT_TRUE(KingAttacked(2));
  ClearPosition();
  Place("ke5 Pd6 Pe4");
  EXPECT_FALSE(KingAttacked(2));
  Put(1, Pawn, "f4");
  EXPECT_TRUE(KingAttacked(2));

  // Kings next to each other attack each other.
  ClearPosition();
  Place("Kd4 ke5");
  EXPECT_TRUE(KingAttacked(1));
  EXPECT_TRUE(KingAttacked(2));
}

TEST_F(RulesTest, KingAttackedUsesTheLastKingAndAnswersFalseWithoutOne) {
  Place("ra8 Pb2");
  EXPECT_FALSE(KingAttacked(1)) << "a side without a king is never attacked";
  EXPECT_FALSE(KingAttacked(2));
  Put(1, King, "a1");  // attacked along the a-file
  Put(1, King, "h1");  // safe, and listed last
  EXPECT_FALSE(KingAttacked(1));
  std::swap(PieceList1[2], PieceList1[3]);
  EXPECT_TRUE(KingAttacked(1));
}

}  // namespace
