#include "rules/rules.h"

namespace {

// A whole position, copied before a trial move and put back after it.
struct SavedPosition {
  BoardGrid Board;
  PieceList List1, List2;
  std::uint8_t Count1, Count2;
};

inline void SavePosition(SavedPosition& saved) {
  saved.Board = Board;
  saved.List1 = PieceList1;
  saved.List2 = PieceList2;
  saved.Count1 = PieceCount1;
  saved.Count2 = PieceCount2;
}

inline void RestorePosition(const SavedPosition& saved) {
  Board = saved.Board;
  PieceList1 = saved.List1;
  PieceList2 = saved.List2;
  PieceCount1 = saved.Count1;
  PieceCount2 = saved.Count2;
}

std::uint64_t CountFrom(int depth, int side) {
  LegalMoveArray moves;
  const int count = LegalMoves(side, moves);
  if (depth == 1) return static_cast<std::uint64_t>(count);
  SavedPosition saved;
  SavePosition(saved);
  std::uint64_t leaves = 0;
  for (int i = 1; i <= count; ++i) {
    MakeMove(moves[i], side);
    leaves += CountFrom(depth - 1, Opponent(side));
    RestorePosition(saved);
  }
  return leaves;
}

}  // namespace

int LegalMoves(int side, LegalMoveArray& moves) {
  const PieceList& list = side == 1 ? PieceList1 : PieceList2;
  const int pieces = side == 1 ? PieceCount1 : PieceCount2;

  // The side's moves are collected whole first, as the search does, since
  // every check test below overwrites the shared buffer.
  MoveBufferCount = 0;
  for (auto& counter : ClassCounts.Items) counter = 0;
  MoveList pieceMoves;
  std::int16_t pieceCount;
  for (int i = 1; i <= pieces; ++i)
    GenerateMoves(pieceMoves, pieceCount, list[i], static_cast<std::uint8_t>(i), side);
  const int generated = MoveBufferCount;
  MoveBufferArray candidates;
  for (int i = 1; i <= generated; ++i) candidates[i] = MoveBuffer[i];

  SavedPosition saved;
  SavePosition(saved);
  int count = 0;
  for (int i = 1; i <= generated; ++i) {
    const GeneratedMove& generatedMove = candidates[i];
    const PieceEntry& mover =
        side == 1 ? saved.List1[generatedMove.PieceIndex] : saved.List2[generatedMove.PieceIndex];
    const Move move{mover.File, mover.Rank, generatedMove.ToFile, generatedMove.ToRank};
    MakeMove(move, side);
    if (!KingAttacked(side)) moves[++count] = move;
    RestorePosition(saved);
  }
  return count;
}

std::uint64_t CountLeaves(int depth, int side) {
  if (depth <= 0) return 1;
  const std::uint8_t promotionKind = PromotionKind;
  PromotionKind = Queen;
  const std::uint64_t leaves = CountFrom(depth, side);
  PromotionKind = promotionKind;
  return leaves;
}
