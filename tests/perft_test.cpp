#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "rules/rules.h"
#include "tests/process_support.h"

namespace {

namespace fs = std::filesystem;

// ---- A second, naive counter ------------------------------------------------
// Written separately from the game's generator: a plain 8x8 grid of signed
// kinds (side 1 positive, side 2 negative), its own move rules and a check
// test that looks outwards from the king. It agrees with the game's rules:
// no castling, no en passant, promotion to a queen.

struct Grid {
  int Square[8][8];  // [file 0..7][rank 0..7]
};

bool Inside(int file, int rank) { return file >= 0 && file < 8 && rank >= 0 && rank < 8; }

const int KnightJumps[8][2] = {{1, 2},   {2, 1},   {2, -1}, {1, -2},
                               {-1, -2}, {-2, -1}, {-2, 1}, {-1, 2}};
const int Around[8][2] = {{1, 0}, {1, 1}, {0, 1}, {-1, 1}, {-1, 0}, {-1, -1}, {0, -1}, {1, -1}};

bool InCheck(const Grid& grid, int sign) {
  int kingFile = -1, kingRank = -1;
  for (int f = 0; f < 8; ++f)
    for (int r = 0; r < 8; ++r)
      if (grid.Square[f][r] == 6 * sign) kingFile = f, kingRank = r;
  if (kingFile < 0) return false;
  auto enemyAt = [&](int f, int r, int kind) {
    return Inside(f, r) && grid.Square[f][r] == -sign * kind;
  };
  for (const auto& jump : KnightJumps)
    if (enemyAt(kingFile + jump[0], kingRank + jump[1], Knight)) return true;
  for (const auto& step : Around)
    if (enemyAt(kingFile + step[0], kingRank + step[1], King)) return true;
  // An enemy pawn attacks towards our side: side 2's pawns stand above a
  // side-1 king, side 1's below a side-2 king.
  if (enemyAt(kingFile - 1, kingRank + sign, Pawn) || enemyAt(kingFile + 1, kingRank + sign, Pawn))
    return true;
  for (const auto& step : Around) {
    const bool straight = step[0] == 0 || step[1] == 0;
    int f = kingFile + step[0], r = kingRank + step[1];
    while (Inside(f, r) && grid.Square[f][r] == 0) f += step[0], r += step[1];
    if (!Inside(f, r)) continue;
    const int piece = grid.Square[f][r] * -sign;
    if (piece == Queen || piece == (straight ? Rook : Bishop)) return true;
  }
  return false;
}

std::uint64_t NaiveCount(const Grid& grid, int sign, int depth) {
  if (depth == 0) return 1;
  std::uint64_t total = 0;
  auto tryMove = [&](int f, int r, int tf, int tr) {
    Grid next = grid;
    int piece = next.Square[f][r];
    if (piece * sign == Pawn && (tr == 7 || tr == 0)) piece = Queen * sign;
    next.Square[tf][tr] = piece;
    next.Square[f][r] = 0;
    if (!InCheck(next, sign)) total += NaiveCount(next, -sign, depth - 1);
  };
  auto freeOrEnemy = [&](int f, int r) { return Inside(f, r) && grid.Square[f][r] * sign <= 0; };
  for (int f = 0; f < 8; ++f) {
    for (int r = 0; r < 8; ++r) {
      const int kind = grid.Square[f][r] * sign;
      if (kind <= 0) continue;
      if (kind == Pawn) {
        const int ahead = r + sign;
        if (Inside(f, ahead) && grid.Square[f][ahead] == 0) {
          tryMove(f, r, f, ahead);
          const int home = sign > 0 ? 1 : 6;
          if (r == home && grid.Square[f][ahead + sign] == 0) tryMove(f, r, f, ahead + sign);
        }
        for (int side = -1; side <= 1; side += 2)
          if (Inside(f + side, ahead) && grid.Square[f + side][ahead] * sign < 0)
            tryMove(f, r, f + side, ahead);
      } else if (kind == Knight || kind == King) {
        for (int i = 0; i < 8; ++i) {
          const int tf = f + (kind == Knight ? KnightJumps[i][0] : Around[i][0]);
          const int tr = r + (kind == Knight ? KnightJumps[i][1] : Around[i][1]);
          if (freeOrEnemy(tf, tr)) tryMove(f, r, tf, tr);
        }
      } else {
        for (const auto& step : Around) {
          const bool straight = step[0] == 0 || step[1] == 0;
          if (kind == Rook && !straight) continue;
          if (kind == Bishop && straight) continue;
          int tf = f + step[0], tr = r + step[1];
          while (freeOrEnemy(tf, tr)) {
            tryMove(f, r, tf, tr);
            if (grid.Square[tf][tr] != 0) break;
            tf += step[0], tr += step[1];
          }
        }
      }
    }
  }
  return total;
}

Grid GridFromBoard() {
  Grid grid{};
  for (int f = 1; f <= 8; ++f) {
    for (int r = 1; r <= 8; ++r) {
      const int code = Board[f][r];
      grid.Square[f - 1][r - 1] = code == 0 ? 0 : code > 64 ? -(code - 64) : code;
    }
  }
  return grid;
}

// ---- Positions ---------------------------------------------------------------

class PerftTest : public support::FolderTest {
 protected:
  PerftTest() : FolderTest("kelvar-perft") {}

  // Writes the twelve lines to a file and loads it.
  std::string Load(const std::vector<std::string>& lines) {
    const fs::path path = Folder / "position.in";
    std::ofstream out(path);
    for (const std::string& line : lines) out << line << "\n";
    out.close();
    LoadPosition(path.c_str());
    return path.string();
  }

  // Both counters agree at every depth up to maxDepth.
  void ExpectCountersAgree(int side, int maxDepth) {
    const Grid grid = GridFromBoard();
    for (int depth = 1; depth <= maxDepth; ++depth)
      EXPECT_EQ(CountLeaves(depth, side), NaiveCount(grid, side == 1 ? 1 : -1, depth))
          << "depth " << depth;
  }

  LegalMoveArray Moves;
};

TEST_F(PerftTest, OpeningPositionCounts) {
  LoadPosition(KELVAR_SOURCE_DIR "/data/kelvar.in");
  EXPECT_EQ(CountLeaves(0, 1), 1u);
  EXPECT_EQ(CountLeaves(1, 1), 20u);
  EXPECT_EQ(CountLeaves(2, 1), 400u);
  EXPECT_EQ(CountLeaves(3, 1), 8902u);
  EXPECT_EQ(CountLeaves(4, 1), 197281u);
  EXPECT_EQ(CountLeaves(1, 2), 20u);
  EXPECT_EQ(NaiveCount(GridFromBoard(), 1, 3), 8902u);
}

TEST_F(PerftTest, CountingLeavesThePositionAlone) {
  LoadPosition(KELVAR_SOURCE_DIR "/data/kelvar.in");
  const BoardGrid board = Board;
  const PieceList list1 = PieceList1, list2 = PieceList2;
  PromotionKind = Bishop;
  CountLeaves(3, 1);
  EXPECT_EQ(0, std::memcmp(&board, &Board, sizeof Board));
  EXPECT_EQ(0, std::memcmp(&list1, &PieceList1, sizeof list1));
  EXPECT_EQ(0, std::memcmp(&list2, &PieceList2, sizeof list2));
  EXPECT_EQ(PromotionKind, Bishop);
  PromotionKind = Queen;
}

TEST_F(PerftTest, PinnedPieceAndCheckByARook) {
  // The bishop on e2 is pinned by the rook on e8: only the king moves.
  Load({"", "", "e2", "", "", "e1", "", "", "", "e8", "", "a8"});
  EXPECT_EQ(CountLeaves(1, 1), 4u);   // d1 f1 d2 f2
  EXPECT_EQ(CountLeaves(1, 2), 15u);  // rook 12, king 3
  ExpectCountersAgree(1, 4);
  ExpectCountersAgree(2, 4);

  // In check on the e-file: the king steps aside or the knight blocks.
  Load({"", "c3", "", "", "", "e1", "", "", "", "e8", "", "a8"});
  EXPECT_EQ(CountLeaves(1, 1), 6u);
  ExpectCountersAgree(1, 4);
}

TEST_F(PerftTest, PromotionsCountOnce) {
  // The pawn on b7 promotes by moving and by taking the knight: two moves.
  Load({"b7", "", "", "", "", "h1", "", "c8", "", "", "", "h8"});
  EXPECT_EQ(CountLeaves(1, 1), 5u);
  ExpectCountersAgree(1, 4);

  // Side 2 to move with pawns about to promote, one by a capture.
  Load({"g6", "d1", "", "b1", "", "h8", "a2 c2", "", "", "", "d5", "a3"});
  ExpectCountersAgree(2, 4);
}

TEST_F(PerftTest, EndgameWithPinsAndDiscoveredChecks) {
  // A known endgame; at one ply its count is that of ordinary chess.
  Load({"b5 e2 g2", "", "", "b4", "", "a5", "c7 d6 f4", "", "", "h5", "", "h4"});
  EXPECT_EQ(CountLeaves(1, 1), 14u);
  ExpectCountersAgree(1, 4);
}

TEST_F(PerftTest, CrowdedMiddleGame) {
  // A busy middle game; ordinary chess has 48 first moves here, two of them castling.
  Load({"a2 b2 c2 f2 g2 h2 d5 e4", "e5 c3", "d2 e2", "a1 h1", "f3", "e1", "a7 c7 d7 f7 e6 g6 b4 h3",
        "b6 f6", "a6 g7", "a8 h8", "e7", "e8"});
  EXPECT_EQ(CountLeaves(1, 1), 46u);
  ExpectCountersAgree(1, 3);
}

TEST_F(PerftTest, FifteenQueensAndAKing) {
  Load({"", "", "", "", "c3 g6 d5 b6 h3 b1 h4 e2 f4 a3 a4 e7 g1 c8 h8", "a6", "", "", "", "", "",
        "c1"});
  const int legal = LegalMoves(1, Moves);
  EXPECT_GT(legal, 230);
  EXPECT_EQ(static_cast<std::uint64_t>(legal), NaiveCount(GridFromBoard(), 1, 1));
  ExpectCountersAgree(1, 2);
}

// ---- The kelvar-perft program -----------------------------------------------

using support::RunResult;

// RunPerft: the tool with the arguments (split as a shell splits them) in dir.
RunResult RunPerft(const std::string& arguments, const fs::path& dir) {
  return support::Shell(KELVAR_BINARY_DIR "/tools/kelvar-perft " + arguments, dir);
}

TEST_F(PerftTest, ProgramPrintsTheCountAndTheDivision) {
  const std::string opening = KELVAR_SOURCE_DIR "/data/kelvar.in";
  RunResult result = RunPerft(opening + " 3", Folder);
  EXPECT_EQ(result.Status, 0);
  EXPECT_EQ(result.Out, "8902\n");

  result = RunPerft(opening + " 3 --divide", Folder);
  EXPECT_EQ(result.Status, 0);
  std::istringstream lines(result.Out);
  std::string line;
  int roots = 0;
  std::uint64_t sum = 0;
  while (std::getline(lines, line)) {
    // "e2-e4: 600": a move, a colon and a space, then the count.
    const bool isRoot = line.size() > 7 && line[0] >= 'a' && line[0] <= 'h' && line[1] >= '1' &&
                        line[1] <= '8' && line[2] == '-' && line[3] >= 'a' && line[3] <= 'h' &&
                        line[4] >= '1' && line[4] <= '8' && line.compare(5, 2, ": ") == 0 &&
                        line.find_first_not_of("0123456789", 7) == std::string::npos;
    if (!isRoot) break;
    ++roots;
    const std::string move = line.substr(0, 5), count = line.substr(7);
    sum += std::stoull(count);
    if (move == "e2-e4") {
      EXPECT_EQ(count, "600");
    }
    if (move == "b2-b4") {
      EXPECT_EQ(count, "421");
    }
  }
  EXPECT_EQ(roots, 20);
  EXPECT_EQ(line, "8902");
  EXPECT_EQ(sum, 8902u);
  EXPECT_FALSE(std::getline(lines, line)) << "the count is the last line";

  result = RunPerft(opening + " 2 2", Folder);
  EXPECT_EQ(result.Out, "400\n");
  result = RunPerft(opening + " 0", Folder);
  EXPECT_EQ(result.Out, "1\n");
}

TEST_F(PerftTest, ProgramRefusesBadArguments) {
  const std::string opening = KELVAR_SOURCE_DIR "/data/kelvar.in";
  for (const std::string& arguments :
       {std::string(""), opening, opening + " x", opening + " -1", opening + " 2 3",
        opening + " 2 1 5", opening + " 2 --fast"}) {
    const RunResult result = RunPerft(arguments, Folder);
    EXPECT_NE(result.Status, 0) << arguments;
    EXPECT_EQ(result.Out, "") << arguments;
    EXPECT_NE(result.Err.find("kelvar-perft:"), std::string::npos) << arguments;
  }
  RunResult result = RunPerft((Folder / "missing.in").string() + " 2", Folder);
  EXPECT_EQ(result.Status, 2);
  EXPECT_NE(result.Err.find("cannot open"), std::string::npos);
  std::ofstream(Folder / "bad.in") << "e2 e9\n";
  result = RunPerft((Folder / "bad.in").string() + " 2", Folder);
  EXPECT_EQ(result.Status, 201);
  EXPECT_NE(result.Err.find(":1: bad square \"e9\""), std::string::npos) << result.Err;
}

}  // namespace
