#include <cmath>

#include "engine/engine.h"

// Zero until BuildPieceSquareValues runs; afterwards rows 1..6 hold
// 100..121 (pawn), 301..364 (knight), 311..377 (bishop), and 500, 950,
// 10000 everywhere for rook, queen and king; rows 0 and 7 stay 0.
PieceSquareValueTable PieceSquareValue{};

void BuildPieceSquareValues() {
  for (int kind = Pawn; kind <= Bishop; ++kind) {
    for (int file = 1; file <= 8; ++file) {
      for (int rank = 1; rank <= 8; ++rank) {
        const long double fileOffset = file - 4.5L;
        const long double rankOffset = rank - 4.5L;
        // Distance of the square's centre from the board's centre, in squares.
        const long double distance = std::sqrt(fileOffset * fileOffset + rankOffset * rankOffset);
        const long double factor = 1.25L - distance / 20.0L;
        PieceSquareValue[kind][file][rank] =
            static_cast<std::int32_t>(std::llround(factor * PieceValue[kind]));
      }
    }
  }
  for (int kind = Rook; kind <= King; ++kind)
    for (int file = 1; file <= 8; ++file)
      for (int rank = 1; rank <= 8; ++rank) PieceSquareValue[kind][file][rank] = PieceValue[kind];
}

std::int32_t Evaluate(const PieceList& first, const PieceList& second, std::uint8_t firstCount,
                      std::uint8_t secondCount) {
  std::int32_t total = 0;
  for (int i = 1; i <= firstCount; ++i) {
    const PieceEntry& entry = first[i];
    // A kind-0 entry is worth nothing, and a freed slot has no square.
    if (entry.Kind == NoPiece) continue;
    total += PieceSquareValue[entry.Kind][entry.File][entry.Rank];
  }
  for (int i = 1; i <= secondCount; ++i) {
    const PieceEntry& entry = second[i];
    if (entry.Kind == NoPiece) continue;
    total -= PieceSquareValue[entry.Kind][entry.File][entry.Rank];
  }
  return total;
}
