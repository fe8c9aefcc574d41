// The search: hand-worked positions, and agreement in every figure with a
// plain rendering of the algorithm (per-node copies, generation into the
// shared move buffer, distribution by class, the Board changed and restored
// whole) on many positions.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "engine_support.h"

using support::ParseMove;
using support::Place;
using support::Put;

namespace {

constexpr std::int32_t Infinity = 1000000000;

// ---- The plain algorithm --------------------------------------------------------------

struct PlainFigures {
  std::int32_t Nodes = 0;
  std::int32_t Generated = 0;
  BranchHistogramArray Histogram{};
  LineArray Line{};
  LineArray Best{};
  int Variations = 0;
};
PlainFigures Plain;

// PlainOrder: the side's moves generated into the reset buffer and
// distributed by class, as the search orders them.
int PlainOrder(const PieceList& own, std::uint8_t ownCount, int side, MoveBufferArray& ordered) {
  MoveBufferCount = 0;
  ClassCounts[1] = ClassCounts[3] = ClassCounts[5] = 0;
  int total = 0;
  for (int i = 1; i <= ownCount; ++i) {
    MoveList list;
    std::int16_t count = 0;
    GenerateMoves(list, count, own[i], static_cast<std::uint8_t>(i), side);
    total += count;
  }
  int next5 = 0, next3 = ClassCounts[5], next1 = ClassCounts[5] + ClassCounts[3];
  for (int i = 1; i <= MoveBufferCount; ++i) {
    const GeneratedMove move = MoveBuffer[i];
    if (move.Class == 5)
      ordered[++next5] = move;
    else if (move.Class == 3)
      ordered[++next3] = move;
    else
      ordered[++next1] = move;
  }
  return total;
}

std::int32_t PlainSearch(PieceList own, std::uint8_t ownCount, PieceList other,
                         std::uint8_t otherCount, int side, bool maximising, int depth,
                         std::int32_t alpha, std::int32_t beta) {
  ++Plain.Nodes;
  if (depth == 0) {
    if (SearchDepth % 2 == 0) return Evaluate(own, other, ownCount, otherCount) + 100;
    return Evaluate(other, own, otherCount, ownCount) - 100;
  }
  const BoardGrid saved = Board;
  std::int32_t best = maximising ? -Infinity : Infinity;
  const PieceList savedOther = other;
  const std::uint8_t savedOtherCount = otherCount;
  MoveBufferArray ordered;
  const int total = PlainOrder(own, ownCount, side, ordered);
  Plain.Generated += total;
  Plain.Histogram[total] += 1;
  for (int k = 1; k <= total; ++k) {
    const GeneratedMove generated = ordered[k];
    const int p = generated.PieceIndex;
    const PieceEntry savedEntry = own[p];
    Plain.Line[depth] = Move{savedEntry.File, savedEntry.Rank, generated.ToFile, generated.ToRank};
    bool captured = false;
    const PieceCode target = Board[generated.ToFile][generated.ToRank];
    if (target != 0) {
      if (target % 64 == King) return maximising ? 10000 : -10000;
      RemovePieceEntry(other, otherCount, generated.ToFile, generated.ToRank);
      captured = true;
    }
    Board[savedEntry.File][savedEntry.Rank] = 0;
    if (own[p].Kind == Pawn && IsLastRank(generated.ToRank, side)) own[p].Kind = Queen;
    Board[generated.ToFile][generated.ToRank] =
        static_cast<PieceCode>(own[p].Kind + (side == 2 ? 64 : 0));
    own[p].File = generated.ToFile;
    own[p].Rank = generated.ToRank;
    const std::int32_t childAlpha = maximising ? std::max(alpha, best) : alpha;
    const std::int32_t childBeta = maximising ? beta : std::min(beta, best);
    const std::int32_t score = PlainSearch(other, otherCount, own, ownCount, Opponent(side),
                                           !maximising, depth - 1, childAlpha, childBeta);
    if (maximising) {
      if (score > best) {
        best = score;
        if (depth == SearchDepth) {
          Plain.Best = Plain.Line;
          ++Plain.Variations;
        }
        if (best > beta) {
          Board = saved;
          return best;
        }
      }
    } else if (score < best) {
      best = score;
      if (best < alpha) {
        Board = saved;
        return best;
      }
    }
    if (captured) {
      other = savedOther;
      otherCount = savedOtherCount;
    }
    Board = saved;
    own[p] = savedEntry;
  }
  return best;
}

// ---- Helpers -----------------------------------------------------------------------------

void ResetFigures() {
  NodesDone = 0;
  MovesGenerated = 0;
  BranchHistogram = BranchHistogramArray{};
  LineStore = LineArray{};
  BestLine = LineArray{};
  Plain = PlainFigures{};
  support::ClearRecords();
}

std::int32_t SearchSide(int side, bool maximising, int depth, std::int32_t alpha = -Infinity,
                        std::int32_t beta = Infinity) {
  if (side == 1)
    return Search(PieceList1, PieceCount1, PieceList2, PieceCount2, 1, maximising, depth, alpha,
                  beta);
  return Search(PieceList2, PieceCount2, PieceList1, PieceCount1, 2, maximising, depth, alpha,
                beta);
}

std::int32_t PlainSearchSide(int side, bool maximising, int depth, std::int32_t alpha,
                             std::int32_t beta) {
  if (side == 1)
    return PlainSearch(PieceList1, PieceCount1, PieceList2, PieceCount2, 1, maximising, depth,
                       alpha, beta);
  return PlainSearch(PieceList2, PieceCount2, PieceList1, PieceCount1, 2, maximising, depth, alpha,
                     beta);
}

template <typename T>
bool SameBytes(const T& a, const T& b) {
  return std::memcmp(&a, &b, sizeof(T)) == 0;
}

// ExpectSameAsPlain: both searches from the current position, every figure equal.
void ExpectSameAsPlain(int side, bool maximising, int depth, std::int32_t alpha, std::int32_t beta,
                       const std::string& where) {
  ResetFigures();
  const support::Position before = support::SavePosition();
  const std::int32_t score = SearchSide(side, maximising, depth, alpha, beta);
  ASSERT_TRUE(support::SamePosition(before, support::SavePosition())) << where;
  const std::int32_t plain = PlainSearchSide(side, maximising, depth, alpha, beta);
  ASSERT_TRUE(support::SamePosition(before, support::SavePosition())) << where;
  EXPECT_EQ(score, plain) << where;
  EXPECT_EQ(NodesDone, Plain.Nodes) << where;
  EXPECT_EQ(MovesGenerated, Plain.Generated) << where;
  EXPECT_TRUE(SameBytes(BranchHistogram, Plain.Histogram)) << where;
  EXPECT_TRUE(SameBytes(LineStore, Plain.Line)) << where;
  EXPECT_TRUE(SameBytes(BestLine, Plain.Best)) << where;
  if (depth == SearchDepth && maximising) {
    EXPECT_EQ(static_cast<int>(support::InfoTexts.size()), Plain.Variations) << where;
  }
}

// RandomPosition: up to 16 pieces a side on distinct squares, pawns on any
// rank, sometimes many queens; the lists agree with the board.
void RandomPosition(std::mt19937& random) {
  support::ClearPosition();
  std::uniform_int_distribution<int> square(1, 8);
  const bool queenHeavy = random() % 4 == 0;
  for (int side = 1; side <= 2; ++side) {
    const int count = 1 + static_cast<int>(random() % 16);
    for (int i = 0; i < count; ++i) {
      int file, rank;
      do {
        file = square(random);
        rank = square(random);
      } while (Board[file][rank] != 0);
      PieceKind kind;
      if (i == 0)
        kind = King;
      else if (queenHeavy && random() % 2 == 0)
        kind = Queen;
      else
        kind = static_cast<PieceKind>(1 + random() % 5);
      const char name[3] = {static_cast<char>(96 + file), static_cast<char>(48 + rank), 0};
      Put(side, kind, name);
    }
  }
  // A king is not always there: the first entry is sometimes a pawn instead.
  if (random() % 8 == 0) {
    PieceList1[1].Kind = Pawn;
    Board[PieceList1[1].File][PieceList1[1].Rank] = Pawn;
  }
}

class SearchTest : public support::EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ResetFigures();
  }
};

// ---- The search's own generator ----------------------------------------------------------

TEST_F(SearchTest, OrdersMovesExactlyAsGenerationAndDistribution) {
  std::mt19937 random(20261208);
  int positions = 0, moves = 0;
  for (int n = 0; n < 3000; ++n) {
    RandomPosition(random);
    for (int side = 1; side <= 2; ++side) {
      const PieceList& list = side == 1 ? PieceList1 : PieceList2;
      const std::uint8_t count = side == 1 ? PieceCount1 : PieceCount2;
      MoveBufferArray expected, actual;
      const int expectedCount = PlainOrder(list, count, side, expected);
      const int actualCount = OrderedMoves(side, list, count, actual);
      ASSERT_EQ(actualCount, expectedCount) << "position " << n << " side " << side;
      for (int i = 1; i <= expectedCount; ++i) {
        ASSERT_EQ(actual[i].ToFile, expected[i].ToFile) << n << " " << i;
        ASSERT_EQ(actual[i].ToRank, expected[i].ToRank) << n << " " << i;
        ASSERT_EQ(actual[i].Class, expected[i].Class) << n << " " << i;
        ASSERT_EQ(actual[i].PieceIndex, expected[i].PieceIndex) << n << " " << i;
      }
      ++positions;
      moves += expectedCount;
    }
  }
  EXPECT_GT(moves, positions * 10);
}

// ---- Agreement with the plain algorithm ----------------------------------------------------

TEST_F(SearchTest, AgreesWithThePlainAlgorithmBelowTheRoot) {
  std::mt19937 random(8122026);
  for (int n = 0; n < 400; ++n) {
    RandomPosition(random);
    const int side = 1 + static_cast<int>(random() % 2);
    const bool maximising = random() % 2 == 0;
    const int depth = 1 + static_cast<int>(random() % (n < 360 ? 3 : 4));
    std::int32_t alpha = -Infinity, beta = Infinity;
    if (random() % 2 == 0) {
      alpha = static_cast<std::int32_t>(random() % 4000) - 2000;
      beta = alpha + static_cast<std::int32_t>(random() % 600);
    }
    ExpectSameAsPlain(side, maximising, depth, alpha, beta,
                      "position " + std::to_string(n) + " depth " + std::to_string(depth));
    if (HasFailure()) return;
  }
}

TEST_F(SearchTest, AgreesWithThePlainAlgorithmFromTheRoot) {
  for (const char* name : {"opening", "middlegame", "endgame", "queens"}) {
    LoadPosition((std::string(KELVAR_SOURCE_DIR) + "/bench/positions/" + name + ".in").c_str());
    for (int side = 1; side <= 2; ++side)
      ExpectSameAsPlain(side, true, SearchDepth, -Infinity, Infinity,
                        std::string(name) + " side " + std::to_string(side));
  }
}

// ---- Worked by hand --------------------------------------------------------------------------

TEST_F(SearchTest, NoMoveAtTheRootScoresMinusInfinityWithoutAProgressBar) {
  Place("Pe4 pe5 kh8");
  EXPECT_EQ(SearchSide(1, true, SearchDepth), -Infinity);
  EXPECT_TRUE(support::ProgressBars.empty());
  EXPECT_TRUE(support::InfoTexts.empty());
  EXPECT_EQ(NodesDone, 1);
  EXPECT_EQ(BranchHistogram[0], 1);
  // The opponent without moves scores plus infinity for it.
  EXPECT_EQ(SearchSide(1, false, 3), Infinity);
}

TEST_F(SearchTest, CountsEveryNodeOfASmallTree) {
  // King a1 (three moves) against king h8 (three moves), two plies, no cut:
  // the root, three replies and nine leaves.
  Place("Ka1 kh8");
  EXPECT_EQ(SearchSide(1, true, 2), 100);
  EXPECT_EQ(NodesDone, 13);
  EXPECT_EQ(MovesGenerated, 12);
  EXPECT_EQ(BranchHistogram[3], 4);
  // The last moves tried: the king's third move and, below it, the reply's third.
  EXPECT_EQ(MoveText(LineStore[2]), "a1-a2");
  EXPECT_EQ(MoveText(LineStore[1]), "h8-h7");
}

TEST_F(SearchTest, MateInOneScoresTheKingAndKeepsTheMove) {
  support::BackRankMate();
  const support::Position before = support::SavePosition();
  EXPECT_EQ(SearchSide(1, true, SearchDepth), 10000);
  EXPECT_EQ(MoveText(BestLine[SearchDepth]), "a1-a8");
  ASSERT_EQ(support::InfoTexts.size(), 1u);
  EXPECT_EQ(support::InfoTexts[0], "Variation: a1-a8 (100.00 points.)");
  ASSERT_FALSE(support::ProgressBars.empty());
  const support::ProgressCall first = support::ProgressBars[0];
  EXPECT_EQ(first.X1, 5);
  EXPECT_EQ(first.Y1, 64);
  EXPECT_EQ(first.X2, 45);
  EXPECT_EQ(first.Y2, 72);
  EXPECT_EQ(first.Fraction, 0.0);
  EXPECT_TRUE(support::SamePosition(before, support::SavePosition()));
}

TEST_F(SearchTest, RootKingCaptureReturnsAtOnceAndLeavesTheBestLine) {
  // The knight's capture comes first in the order and becomes the best line;
  // the rook's capture of the king comes second and ends the search.
  Place("Nb1 Rh1 Ka3 pc3 kh8");
  EXPECT_EQ(SearchSide(1, true, SearchDepth), 10000);
  EXPECT_EQ(MoveText(BestLine[SearchDepth]), "b1-c3");
  EXPECT_EQ(support::InfoTexts.size(), 1u);
  EXPECT_EQ(MoveText(LineStore[SearchDepth]), "h1-h8");
  ASSERT_EQ(support::ProgressBars.size(), 2u);
  EXPECT_GT(support::ProgressBars[1].Fraction, 0.0);

  // With the king capture first, nothing is shown and the best line stays empty.
  support::ClearPosition();
  ResetFigures();
  Place("Rh1 Nb1 Ka3 pc3 kh8");
  EXPECT_EQ(SearchSide(1, true, SearchDepth), 10000);
  EXPECT_EQ(MoveText(BestLine[SearchDepth]), "`0-`0");
  EXPECT_TRUE(support::InfoTexts.empty());
  EXPECT_EQ(support::ProgressBars.size(), 1u);
  EXPECT_EQ(NodesDone, 1);
}

TEST_F(SearchTest, EqualScoresKeepTheFirstMoveOfTheOrder) {
  // Two kings too far apart to meet within the horizon: every line scores
  // 100, so the first king move in generation order stays.
  Place("Ka1 kh8");
  EXPECT_EQ(SearchSide(1, true, SearchDepth), 100);
  EXPECT_EQ(MoveText(BestLine[SearchDepth]), "a1-b1");
  ASSERT_EQ(support::InfoTexts.size(), 1u);
  EXPECT_EQ(support::InfoTexts[0], "Variation: a1-b1 (  1.00 points.)");
  // A pawn on c4 scores the same on c5, so its step ties too; the king's
  // moves come first in the order and the first of them stays.
  Put(1, Pawn, "c4");
  ResetFigures();
  EXPECT_EQ(SearchSide(1, true, SearchDepth), 100 + 117);
  EXPECT_EQ(MoveText(BestLine[SearchDepth]), "a1-b1");
}

TEST_F(SearchTest, PromotesToAQueenInsideTheSearchOnly) {
  Place("Ka1 Pe7 kh5");
  const support::Position before = support::SavePosition();
  // Two plies: e7-e8 as a queen (950) against the best of the king's replies.
  EXPECT_EQ(SearchSide(1, true, 2), 950 + 100);
  EXPECT_TRUE(support::SamePosition(before, support::SavePosition()));
  ExpectSameAsPlain(1, true, SearchDepth, -Infinity, Infinity, "promotion from the root");
  EXPECT_EQ(MoveText(BestLine[SearchDepth]), "e7-e8");
  EXPECT_TRUE(support::SamePosition(before, support::SavePosition()));
  // Side 2 promotes on rank 1.
  support::ClearPosition();
  Place("ka8 pd2 Kh4");
  EXPECT_EQ(SearchSide(2, true, 2), 950 + 100);
}

TEST_F(SearchTest, FifteenQueensAndAKing) {
  // 248 moves: the most found for sixteen pieces of one side, close to the
  // 256 that move lists of the old size held.
  const char* squares[] = {"f2", "c3", "d6", "g1", "a2", "h8", "e4", "a7",
                           "g5", "c8", "f7", "b5", "d1", "c1", "h3"};
  for (const char* square : squares) Put(1, Queen, square);
  Place("Kh1 ka8");
  MoveBufferArray ordered;
  const int total = OrderedMoves(1, PieceList1, PieceCount1, ordered);
  EXPECT_EQ(total, 248);
  ExpectSameAsPlain(1, true, 2, -Infinity, Infinity, "queens at depth 2");
  EXPECT_EQ(BranchHistogram[total], 1);
  ExpectSameAsPlain(2, true, 3, -Infinity, Infinity, "king against the queens");
}

}  // namespace
