// Shared helpers of the suites that set up positions in this process: the
// board emptied, pieces put square by square or a whole side in one line,
// moves written as "e2-e4", and the position saved for before/after checks.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "rules/rules.h"

namespace support {

// ClearPosition: an empty board and empty piece lists.
inline void ClearPosition() {
  Board = BoardGrid{};
  PieceList1 = PieceList{};
  PieceList2 = PieceList{};
  PieceCount1 = 0;
  PieceCount2 = 0;
}

// Put: a piece of side on a square written as "e2", appended to the side's list.
inline PieceEntry Put(int side, PieceKind kind, const char* square) {
  const PieceEntry entry{kind, static_cast<std::uint8_t>(square[0] - 'a' + 1),
                         static_cast<std::uint8_t>(square[1] - '0')};
  PieceList& list = side == 1 ? PieceList1 : PieceList2;
  std::uint8_t& count = side == 1 ? PieceCount1 : PieceCount2;
  list[++count] = entry;
  Board[entry.File][entry.Rank] = static_cast<PieceCode>(side == 2 ? kind + 64 : kind);
  return entry;
}

// Place: pieces written as "Ke1 Pe2 kh8": the letter of the kind (K Q R B N
// P), upper case for side 1 and lower case for side 2, then the square; each
// appended to its side's list in the order given, one space apart.
inline void Place(const std::string& pieces) {
  for (std::size_t at = 0; at + 3 <= pieces.size(); at += 4) {
    const char letter = pieces[at];
    const bool first = letter >= 'A' && letter <= 'Z';
    const std::size_t kind = std::string("PNBRQK").find(first ? letter : letter - 'a' + 'A');
    if (kind == std::string::npos) {
      ADD_FAILURE() << "no piece \"" << pieces.substr(at, 3) << "\" in " << pieces;
      continue;
    }
    const char square[3] = {pieces[at + 1], pieces[at + 2], '\0'};
    Put(first ? 1 : 2, static_cast<PieceKind>(Pawn + kind), square);
  }
}

// ParseMove: "e2-e4" as a Move.
inline Move ParseMove(const char* text) {
  return Move{static_cast<std::uint8_t>(text[0] - 96), static_cast<std::uint8_t>(text[1] - 48),
              static_cast<std::uint8_t>(text[3] - 96), static_cast<std::uint8_t>(text[4] - 48)};
}

// Position: the whole game position as bytes, for before/after comparisons.
struct Position {
  BoardGrid Board;
  PieceList List1, List2;
  std::uint8_t Count1, Count2;
};
inline Position SavePosition() {
  return Position{Board, PieceList1, PieceList2, PieceCount1, PieceCount2};
}
inline bool SamePosition(const Position& a, const Position& b) {
  return std::memcmp(&a.Board, &b.Board, sizeof a.Board) == 0 &&
         std::memcmp(&a.List1, &b.List1, sizeof a.List1) == 0 &&
         std::memcmp(&a.List2, &b.List2, sizeof a.List2) == 0 && a.Count1 == b.Count1 &&
         a.Count2 == b.Count2;
}

}  // namespace support
