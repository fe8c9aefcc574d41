
#include "rules/rules.h"

// The one current position. Each list's entries 1..count are the side's
// pieces; slots past the count are zero once freed and never read.
BoardGrid Board{};             // each square 0, 1..6 or 65..70
PieceList PieceList1{};        // Kind 1..6, File/Rank 1..8 in slots 1..PieceCount1
std::uint8_t PieceCount1 = 0;  // 0..16
PieceList PieceList2{};        // Kind 1..6, File/Rank 1..8 in slots 1..PieceCount2
std::uint8_t PieceCount2 = 0;  // 0..16

// Material by kind: none, pawn, knight, bishop, rook, queen, king.
const Array<std::int32_t, 0, 6> PieceValue{{0, 100, 300, 310, 500, 950, 10000}};

MoveBufferArray MoveBuffer{};      // slots 1..MoveBufferCount are valid
std::int16_t MoveBufferCount = 0;  // 0..MoveBufferSize
ClassCountArray ClassCounts{};     // 0..MoveBufferSize; only entries 1, 3 and 5 change
// 2..5. The computer sets it before each of its moves; queen until then, so
// a promotion made before anyone chose still yields a legal piece.
std::uint8_t PromotionKind = Queen;

PieceCode PieceAt(int file, int rank) {
  if (file < 1 || file > 8 || rank < 1 || rank > 8) return 0;
  return Board[file][rank];
}

bool IsEmptySquare(int file, int rank) {
  if (file < 1 || file > 8 || rank < 1 || rank > 8) return false;
  return Board[file][rank] == 0;
}

bool IsOwnPiece(PieceCode code, int side) {
  if (code % 64 == 0) return false;
  return (code > 64) == (side == 2);
}

bool IsEnemyPiece(PieceCode code, int side) {
  if (code % 64 == 0) return false;
  return (code > 64) != (side == 2);
}

Side Opponent(int side) { return side == 2 ? 1 : 2; }

bool IsLastRank(int rank, int side) { return side == 1 ? rank == 8 : rank == 1; }

void RemovePieceEntry(PieceList& list, std::uint8_t& count, int file, int rank) {
  for (int i = 1; i <= count; ++i) {
    if (list[i].File == file && list[i].Rank == rank) {
      for (int j = i; j < count; ++j) list[j] = list[j + 1];
      list[count] = PieceEntry{0, 0, 0};
      --count;
      return;
    }
  }
}

void RemovePieceAtSquare(int file, int rank) {
  const std::uint8_t before = PieceCount1;
  RemovePieceEntry(PieceList1, PieceCount1, file, rank);
  if (PieceCount1 == before) RemovePieceEntry(PieceList2, PieceCount2, file, rank);
}
