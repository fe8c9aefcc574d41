// kelvar-bench: the computer's turn on start-position files, timed.
//
//   kelvar-bench [-s SIDE] FILE...
//
// For each file: load it (no shuffle), search for SIDE (1 by default) as the
// computer's turn does, check the chosen move, and print one line of figures.
// The screen is opened on SDL's dummy driver, so the progress bar and the
// variation text are drawn as in the game and are part of the measured time.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "display/display.h"
#include "engine/engine.h"
#include "rules/rules.h"

namespace {
const char* OutcomeName(ComputerOutcome outcome) {
  switch (outcome) {
    case ComputerOutcome::NoMove:
      return "nomove";
    case ComputerOutcome::Surrender:
      return "surrender";
    case ComputerOutcome::Mate:
      return "mate";
    case ComputerOutcome::Move:
      break;
  }
  return "move";
}

// Rate: nodes per second of the measured time. The game's own figure adds a
// millisecond to the time (against a division by zero), which would
// understate the short searches here; it is used only when no time passed.
long double Rate(long double nodes, long double seconds) {
  return seconds > 0.0L ? nodes / seconds : nodes / 0.001L;
}

const char* const UsageText =
    "usage: kelvar-bench [-s SIDE] FILE...\n"
    "  SIDE is 1 (default) or 2; each FILE is a start-position file on which the\n"
    "  computer's turn for SIDE is played and timed\n";

int Usage() {
  std::fputs(UsageText, stderr);
  return 2;
}
}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(UsageText, stdout);
      return 0;
    }
    if (argv[i][0] == '-' && argv[i][1] != '\0' && std::strcmp(argv[i], "-s") != 0) {
      std::fprintf(stderr, "kelvar-bench: unknown option \"%s\"\n", argv[i]);
      return Usage();
    }
  }
  int side = 1;
  int first = 1;
  if (argc > 1 && std::strcmp(argv[1], "-s") == 0) {
    if (argc < 3) return Usage();
    if (std::strcmp(argv[2], "1") == 0)
      side = 1;
    else if (std::strcmp(argv[2], "2") == 0)
      side = 2;
    else
      return Usage();
    first = 3;
  }
  if (first >= argc) return Usage();

  // Headless whatever the environment.
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  InitGraph(Driver64K, Mode640x480, "");
  BuildPieceSquareValues();

  std::int64_t totalNodes = 0;
  std::int64_t totalMilliseconds = 0;
  long double totalSeconds = 0.0L;
  for (int i = first; i < argc; ++i) {
    LoadPosition(argv[i]);
    const ComputerChoice choice = ChooseComputerMove(side);
    const auto milliseconds = static_cast<std::int64_t>(std::llround(choice.Seconds * 1000.0L));
    totalNodes += NodesDone;
    totalMilliseconds += milliseconds;
    totalSeconds += choice.Seconds;
    std::printf(
        "%s move=%s score=%lld nodes=%d gen=%d branch=%s legal=%d outcome=%s ms=%lld nps=%lld\n",
        argv[i], MoveText(choice.Chosen).c_str(), static_cast<long long>(choice.Score), NodesDone,
        MovesGenerated, RealText(MeanBranching(BranchHistogram), 1, 1).c_str(),
        choice.Legal ? 1 : 0, OutcomeName(choice.Outcome), static_cast<long long>(milliseconds),
        static_cast<long long>(Rate(NodesDone, choice.Seconds)));
    std::fflush(stdout);
  }
  const long double totalRate = Rate(static_cast<long double>(totalNodes), totalSeconds);
  std::printf("total nodes=%lld ms=%lld nps=%lld\n", static_cast<long long>(totalNodes),
              static_cast<long long>(totalMilliseconds), static_cast<long long>(totalRate));
  CloseGraphics();
  return 0;
}
