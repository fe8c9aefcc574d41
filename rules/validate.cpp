// Validation of a move: six tests in a fixed order, the first failure
// explained in a message box when messages are on.

#include "display/display.h"
#include "rules/rules.h"

namespace {
bool OnBoard(int coordinate) { return coordinate >= 1 && coordinate <= 8; }

bool Refuse(bool showErrors, const char* text) {
  if (showErrors) MessageBox("Error", text);
  return false;
}

// MovingPiece: the entry on (file, rank), the last such in side 1's list, or
// only if side 1 has none the last in side 2's; a zero entry if neither has.
PieceEntry MovingPiece(int file, int rank) {
  PieceEntry found{0, 0, 0};
  bool seen = false;
  for (int i = 1; i <= PieceCount1; ++i)
    if (PieceList1[i].File == file && PieceList1[i].Rank == rank) {
      found = PieceList1[i];
      seen = true;
    }
  if (seen) return found;
  for (int i = 1; i <= PieceCount2; ++i)
    if (PieceList2[i].File == file && PieceList2[i].Rank == rank) found = PieceList2[i];
  return found;
}
}  // namespace

bool ValidateMove(Move move, int side, bool showErrors) {
  if (!OnBoard(move.FromFile) || !OnBoard(move.FromRank) || !OnBoard(move.ToFile) ||
      !OnBoard(move.ToRank))
    return Refuse(showErrors, "Out Of Table");
  if (IsEmptySquare(move.FromFile, move.FromRank)) return Refuse(showErrors, "Illegal Move");
  if (!IsOwnPiece(PieceAt(move.FromFile, move.FromRank), side))
    return Refuse(showErrors, "Don't touch my figures, bastard!");
  if (!IsEmptySquare(move.ToFile, move.ToRank) &&
      IsOwnPiece(PieceAt(move.ToFile, move.ToRank), side))
    return Refuse(showErrors, "You can't kill your friends.");

  MoveList moves;
  const PieceEntry piece = MovingPiece(move.FromFile, move.FromRank);
  const int count = GeneratePieceMoves(moves, piece, side);
  bool reached = false;
  for (int i = 1; i <= count; ++i)
    if (moves[i].ToFile == move.ToFile && moves[i].ToRank == move.ToRank) reached = true;
  if (!reached) return Refuse(showErrors, "That figure cannot be moved there, fool!");

  // The trial move is made on the real position, which is copied back whole.
  const BoardGrid savedBoard = Board;
  const PieceList savedList1 = PieceList1;
  const PieceList savedList2 = PieceList2;
  const std::uint8_t savedCount1 = PieceCount1;
  const std::uint8_t savedCount2 = PieceCount2;
  MakeMove(move, side);
  const bool attacked = KingAttacked(side);
  Board = savedBoard;
  PieceList1 = savedList1;
  PieceList2 = savedList2;
  PieceCount1 = savedCount1;
  PieceCount2 = savedCount2;
  if (attacked) return Refuse(showErrors, "Yo kin' is in chess! haha :)");
  return true;
}
