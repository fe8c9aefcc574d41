#include "rules/rules.h"

// Generation runs at every node of the search, so its steps are kept in this
// file where they inline; the square tests here answer exactly as PieceAt,
// IsEmptySquare and IsEnemyPiece do.
#define KELVAR_INLINE inline __attribute__((always_inline))

namespace {

KELVAR_INLINE bool OnBoard(int file, int rank) {
  return static_cast<unsigned>(file - 1) < 8u && static_cast<unsigned>(rank - 1) < 8u;
}

KELVAR_INLINE PieceCode CodeAt(int file, int rank) {
  return OnBoard(file, rank) ? Board[file][rank] : 0;
}

KELVAR_INLINE bool EmptyAt(int file, int rank) {
  return OnBoard(file, rank) && Board[file][rank] == 0;
}

KELVAR_INLINE bool Enemy(PieceCode code, int side) {
  return code % 64 != 0 && (code > 64) != (side == 2);
}

// What trying one destination found there.
enum class SquareReport { OffBoard, Empty, Capture, OwnPiece };

// The state of one GenerateMoves call, shared by its steps.
struct Generation {
  MoveList& Moves;
  std::int16_t& Count;
  std::uint8_t PieceIndex;
  bool IsPawn;
  int Side;
};

KELVAR_INLINE void AppendMove(Generation& g, int file, int rank, MoveClass moveClass) {
  const GeneratedMove move{static_cast<std::uint8_t>(file), static_cast<std::uint8_t>(rank),
                           moveClass, g.PieceIndex};
  g.Moves[++g.Count] = move;
  ++ClassCounts[moveClass];
  MoveBuffer[++MoveBufferCount] = move;
}

// Tries one destination: empty squares and enemy pieces become moves.
KELVAR_INLINE SquareReport AddMove(Generation& g, int file, int rank) {
  if (!OnBoard(file, rank)) return SquareReport::OffBoard;
  const PieceCode code = Board[file][rank];
  if (code == 0) {
    MoveClass moveClass = 3;
    if (g.IsPawn) moveClass = (rank == 8 && g.Side == 1) || (rank == 1 && g.Side == 2) ? 5 : 1;
    AppendMove(g, file, rank, moveClass);
    return SquareReport::Empty;
  }
  if (Enemy(code, g.Side)) {
    AppendMove(g, file, rank, 5);
    return SquareReport::Capture;
  }
  return SquareReport::OwnPiece;
}

// Steps from (file, rank) along one direction up to and including the
// first obstacle (taken when it is an enemy piece).
KELVAR_INLINE void SlideMoves(Generation& g, int file, int rank, int fileStep, int rankStep) {
  do {
    file += fileStep;
    rank += rankStep;
  } while (AddMove(g, file, rank) == SquareReport::Empty);
}

// A plain store loop: clearing 512 bytes per generated piece is too short
// for the string instruction g++ would otherwise choose.
#if defined(__GNUC__) && !defined(__clang__)
__attribute__((optimize("no-tree-loop-distribute-patterns")))
#endif
void ClearClassCounts() {
  for (auto& counter : ClassCounts.Items) counter = 0;
}

}  // namespace

void GenerateMoves(MoveList& moves, std::int16_t& count, const PieceEntry& piece,
                   std::uint8_t pieceIndex, int side) {
  count = 0;
  Generation g{moves, count, pieceIndex, piece.Kind == Pawn, side};
  const int f = piece.File;
  const int r = piece.Rank;
  switch (piece.Kind) {
    case Pawn:
      if (side == 1) {
        if (Enemy(CodeAt(f + 1, r + 1), side)) AddMove(g, f + 1, r + 1);
        if (Enemy(CodeAt(f - 1, r + 1), side)) AddMove(g, f - 1, r + 1);
        if (EmptyAt(f, r + 1)) AddMove(g, f, r + 1);
        if (r == 2 && EmptyAt(f, 3) && EmptyAt(f, 4)) AddMove(g, f, 4);
      } else {
        if (Enemy(CodeAt(f + 1, r - 1), side)) AddMove(g, f + 1, r - 1);
        if (Enemy(CodeAt(f - 1, r - 1), side)) AddMove(g, f - 1, r - 1);
        if (EmptyAt(f, r - 1)) AddMove(g, f, r - 1);
        if (r == 7 && EmptyAt(f, 6) && EmptyAt(f, 5)) AddMove(g, f, 5);
      }
      break;
    case Knight:
      AddMove(g, f + 2, r + 1);
      AddMove(g, f + 2, r - 1);
      AddMove(g, f - 2, r + 1);
      AddMove(g, f - 2, r - 1);
      AddMove(g, f + 1, r + 2);
      AddMove(g, f + 1, r - 2);
      AddMove(g, f - 1, r + 2);
      AddMove(g, f - 1, r - 2);
      break;
    case Bishop:
      SlideMoves(g, f, r, -1, -1);
      SlideMoves(g, f, r, -1, +1);
      SlideMoves(g, f, r, +1, -1);
      SlideMoves(g, f, r, +1, +1);
      break;
    case Rook:
      SlideMoves(g, f, r, -1, 0);
      SlideMoves(g, f, r, +1, 0);
      SlideMoves(g, f, r, 0, -1);
      SlideMoves(g, f, r, 0, +1);
      break;
    case Queen:
      SlideMoves(g, f, r, -1, -1);
      SlideMoves(g, f, r, -1, +1);
      SlideMoves(g, f, r, +1, -1);
      SlideMoves(g, f, r, +1, +1);
      SlideMoves(g, f, r, -1, 0);
      SlideMoves(g, f, r, +1, 0);
      SlideMoves(g, f, r, 0, -1);
      SlideMoves(g, f, r, 0, +1);
      break;
    case King:
      AddMove(g, f - 1, r);
      AddMove(g, f + 1, r);
      AddMove(g, f - 1, r - 1);
      AddMove(g, f + 1, r - 1);
      AddMove(g, f, r - 1);
      AddMove(g, f - 1, r + 1);
      AddMove(g, f + 1, r + 1);
      AddMove(g, f, r + 1);
      break;
    default:
      break;
  }
}

std::uint8_t GeneratePieceMoves(MoveList& moves, const PieceEntry& piece, int side) {
  MoveBufferCount = 0;
  ClearClassCounts();
  std::int16_t count = 0;
  GenerateMoves(moves, count, piece, 0, side);
  return static_cast<std::uint8_t>(count);
}
