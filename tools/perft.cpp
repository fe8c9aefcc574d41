// kelvar-perft FILE DEPTH [SIDE] [--divide]: counts the leaves of the tree
// of legal moves from the position in FILE, SIDE (1 by default) moving first.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "rules/rules.h"

namespace {

const char* const Usage =
    "usage: kelvar-perft FILE DEPTH [SIDE] [--divide]\n"
    "  FILE    a start-position file (twelve lines of squares)\n"
    "  DEPTH   plies to count, 0 to 20\n"
    "  SIDE    the side that moves first, 1 (White, default) or 2 (Black)\n"
    "  --divide  also print each first move with the leaves below it\n";

// Reads a whole decimal number in lo..hi; false for anything else.
bool ReadNumber(const char* text, int lo, int hi, int& value) {
  if (*text == '\0') return false;
  errno = 0;
  char* end = nullptr;
  const long number = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || number < lo || number > hi) return false;
  value = static_cast<int>(number);
  return true;
}

std::string SquareText(int file, int rank) {
  return std::string{static_cast<char>(96 + file), static_cast<char>(48 + rank)};
}

}  // namespace

int main(int argc, char** argv) {
  const char* fileName = nullptr;
  int depth = -1, side = 1, positional = 0;
  bool divide = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--divide") == 0) {
      divide = true;
    } else if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      std::fputs(Usage, stdout);
      return 0;
    } else if (arg[0] == '-' && arg[1] == '-') {
      std::fprintf(stderr, "kelvar-perft: unknown option \"%s\"\n%s", arg, Usage);
      return 2;
    } else if (positional == 0) {
      fileName = arg;
      ++positional;
    } else if (positional == 1) {
      if (!ReadNumber(arg, 0, 20, depth)) {
        std::fprintf(stderr,
                     "kelvar-perft: DEPTH must be a whole number from 0 to 20, not \"%s\"\n", arg);
        return 2;
      }
      ++positional;
    } else if (positional == 2) {
      if (!ReadNumber(arg, 1, 2, side)) {
        std::fprintf(stderr, "kelvar-perft: SIDE must be 1 or 2, not \"%s\"\n", arg);
        return 2;
      }
      ++positional;
    } else {
      std::fprintf(stderr, "kelvar-perft: too many arguments (\"%s\")\n%s", arg, Usage);
      return 2;
    }
  }
  if (positional < 2) {
    std::fprintf(stderr, "kelvar-perft: FILE and DEPTH are needed\n%s", Usage);
    return 2;
  }
  if (std::strlen(fileName) > 255) {
    std::fprintf(stderr, "kelvar-perft: file name longer than 255 characters\n");
    return 2;
  }

  LoadPosition(fileName);
  PromotionKind = Queen;

  if (divide && depth > 0) {
    LegalMoveArray moves;
    const int count = LegalMoves(side, moves);
    std::uint64_t total = 0;
    for (int i = 1; i <= count; ++i) {
      // CountLeaves leaves the position as it found it, so one saved copy
      // serves every root move.
      const BoardGrid board = Board;
      const PieceList list1 = PieceList1, list2 = PieceList2;
      const std::uint8_t count1 = PieceCount1, count2 = PieceCount2;
      const Move move = moves[i];
      MakeMove(move, side);
      const std::uint64_t leaves = CountLeaves(depth - 1, Opponent(side));
      Board = board;
      PieceList1 = list1;
      PieceList2 = list2;
      PieceCount1 = count1;
      PieceCount2 = count2;
      std::printf("%s-%s: %llu\n", SquareText(move.FromFile, move.FromRank).c_str(),
                  SquareText(move.ToFile, move.ToRank).c_str(),
                  static_cast<unsigned long long>(leaves));
      total += leaves;
    }
    std::printf("%llu\n", static_cast<unsigned long long>(total));
    return 0;
  }
  std::printf("%llu\n", static_cast<unsigned long long>(CountLeaves(depth, side)));
  return 0;
}
