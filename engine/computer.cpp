// The computer's turn: the timed search, the check of its move, and the move,
// the resignation, the report of no move, or the mate announcement.

#include <cstdlib>

#include "display/display.h"
#include "engine/engine.h"
#include "platform/platform.h"

// SideName: "" / "White" / "Black" / "" for indices 0..3.
const Array<const char*, 0, 3> SideName = {{"", "White", "Black", ""}};
long double SearchStartTime = 0.0L;  // seconds since local midnight, 0 .. < 86400
long double NodesPerSecond = 0.0L;   // >= 0
Move LastComputerMove{0, 0, 0, 0};   // squares 0..8 per field; all zero before the first search

namespace {
constexpr std::int32_t RootAlpha = -1000000000;
constexpr std::int32_t RootBeta = 1000000000;
constexpr long double NoMoveThreshold = -500000.0L;
constexpr long double MateThreshold = 8000.0L;
constexpr long double SecondsPerDay = 86400.0L;
}  // namespace

long double ClockSeconds() { return TimeOfDay(); }

long double ElapsedSeconds(long double earlier, long double later) {
  // The clock starts again from 0 at midnight; a search never takes a day.
  long double elapsed = later - earlier;
  if (elapsed < 0.0L) elapsed += SecondsPerDay;
  return elapsed;
}

ComputerChoice ChooseComputerMove(int side) {
  NodesDone = 0;
  MovesGenerated = 0;
  for (int i = BranchHistogramArray::Low; i <= BranchHistogramArray::High; ++i)
    BranchHistogram[i] = 0;
  SearchStartTime = ClockSeconds();
  for (int i = LineArray::Low; i <= LineArray::High; ++i) {
    BestLine[i] = Move{0, 0, 0, 0};
    LineStore[i] = Move{0, 0, 0, 0};
  }
  const long double score = side == 2 ? Search(PieceList2, PieceCount2, PieceList1, PieceCount1,
                                               side, true, SearchDepth, RootAlpha, RootBeta)
                                      : Search(PieceList1, PieceCount1, PieceList2, PieceCount2,
                                               side, true, SearchDepth, RootAlpha, RootBeta);
  const long double seconds = ElapsedSeconds(SearchStartTime, ClockSeconds());
  NodesPerSecond = NodesDone / (seconds + 0.001L);
  LastComputerMove = BestLine[SearchDepth];
  PromotionKind = Queen;

  ComputerChoice choice{LastComputerMove, score, false, ComputerOutcome::NoMove, seconds};
  if (score < NoMoveThreshold) return choice;
  choice.Legal = ValidateMove(choice.Chosen, side, false);
  if (!choice.Legal)
    choice.Outcome = ComputerOutcome::Surrender;
  else if (score > MateThreshold)
    choice.Outcome = ComputerOutcome::Mate;
  else
    choice.Outcome = ComputerOutcome::Move;
  return choice;
}

bool ComputerMove(int side) {
  const ComputerChoice choice = ChooseComputerMove(side);
  switch (choice.Outcome) {
    case ComputerOutcome::NoMove:
      MessageBox("Computer", "I have no legal moves|Game Over");
      return false;
    case ComputerOutcome::Surrender:
      MessageBox("Computer", "I'm obviously losing this game|I surrender|Peace Brother!!!");
      return false;
    case ComputerOutcome::Mate:
      MakeMove(choice.Chosen, side);
      DrawBoard(Board);
      MessageBox("Computer", std::string(SideName[Opponent(side)]) + " is mated|Game Over");
      // A short sleep keeps the wait for the closing key off the processor.
      while (!KeyWaiting()) SleepMilliseconds(5);
      while (KeyWaiting()) ReadKeyCode();
      CloseGraphics();
      std::exit(0);
    case ComputerOutcome::Move:
      break;
  }
  MakeMove(choice.Chosen, side);
  return true;
}
