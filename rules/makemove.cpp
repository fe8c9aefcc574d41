#include "rules/rules.h"

void MakeMove(Move move, int side) {
  PieceList& ownList = side == 1 ? PieceList1 : PieceList2;
  std::uint8_t& ownCount = side == 1 ? PieceCount1 : PieceCount2;
  // The own list is changed on a copy and written back whole, so a move
  // whose from-square holds no entry of the side leaves it as it was.
  PieceList list = ownList;
  const std::uint8_t count = ownCount;

  const int toFile = move.ToFile, toRank = move.ToRank;
  if (!IsEmptySquare(toFile, toRank) && IsEnemyPiece(PieceAt(toFile, toRank), side))
    RemovePieceAtSquare(toFile, toRank);

  for (int i = 1; i <= count; ++i) {
    PieceEntry& entry = list[i];
    if (entry.File != move.FromFile || entry.Rank != move.FromRank) continue;
    entry.File = move.ToFile;
    entry.Rank = move.ToRank;
    PieceCode code = Board[move.FromFile][move.FromRank];
    Board[move.FromFile][move.FromRank] = 0;
    if (code % 64 == Pawn && IsLastRank(toRank, side)) {
      code = static_cast<PieceCode>(code - 1 + PromotionKind);
      entry.Kind = static_cast<std::int16_t>(code % 64);
    }
    Board[toFile][toRank] = code;
    ownList = list;
    ownCount = count;
    return;
  }
}

bool KingAttacked(int side) {
  const PieceList ownList = side == 1 ? PieceList1 : PieceList2;
  const std::uint8_t ownCount = side == 1 ? PieceCount1 : PieceCount2;
  int kingFile = 0, kingRank = 0;
  for (int i = 1; i <= ownCount; ++i) {
    if (ownList[i].Kind == King) {
      kingFile = ownList[i].File;
      kingRank = ownList[i].Rank;
    }
  }
  // A side loaded without a king has nothing that can be attacked.
  if (kingFile == 0) return false;

  const PieceList otherList = side == 2 ? PieceList1 : PieceList2;
  const std::uint8_t otherCount = side == 2 ? PieceCount1 : PieceCount2;
  const int attacker = Opponent(side);
  bool attacked = false;
  MoveList moves;
  for (int i = 1; i <= otherCount; ++i) {
    const int count = GeneratePieceMoves(moves, otherList[i], attacker);
    for (int m = 1; m <= count; ++m)
      if (moves[m].ToFile == kingFile && moves[m].ToRank == kingRank) attacked = true;
  }
  return attacked;
}
