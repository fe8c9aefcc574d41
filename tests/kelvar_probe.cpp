// kelvar-probe: the whole program, as the game runs it, with a report of every
// turn on descriptor 3 (when it is open) for the end-to-end tests. The driver
// calls the two turns through the reporting ones below; nothing else of the
// program changes.
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "app/app.h"
#include "engine/engine.h"
#include "input/input.h"

namespace {

constexpr int ReportDescriptor = 3;

// BoardText: rank 8 first, files a to h; "." empty, upper case side 1.
std::string BoardText() {
  static const char* const kinds = ".pnbrqk";
  std::string text;
  for (int rank = 8; rank >= 1; --rank)
    for (int file = 1; file <= 8; ++file) {
      const PieceCode code = Board[file][rank];
      const char letter = kinds[code % 64 <= 6 ? code % 64 : 0];
      text += code != 0 && code < 64 ? static_cast<char>(letter - 'a' + 'A') : letter;
    }
  return text;
}

void Report(const std::string& line) {
  if (fcntl(ReportDescriptor, F_GETFD) == -1) return;
  const std::string text = line + "\n";
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(ReportDescriptor, text.data() + done, text.size() - done);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

bool ReportedPlayerMove(int side) {
  Report("person-turn " + std::to_string(side) + " " + BoardText());
  const bool moved = PlayerMove(side);
  Report("person " + std::to_string(side) + " " + (moved ? "1 " : "0 ") + BoardText());
  return moved;
}

bool ReportedComputerMove(int side) {
  const bool moved = ComputerMove(side);
  Report("computer " + std::to_string(side) + " " + (moved ? "1 " : "0 ") +
         MoveText(LastComputerMove) + " " + BoardText());
  return moved;
}

}  // namespace

int main() {
  Steps.PlayerMove = ReportedPlayerMove;
  Steps.ComputerMove = ReportedComputerMove;
  return RunProgram();
}
