// The program driver: start-up in its fixed order, the turn loop and the
// orderly shut-down.
#include <chrono>
#include <cstdio>

#include "app/app.h"
#include "display/display.h"
#include "engine/engine.h"
#include "input/input.h"
#include "platform/platform.h"

// SideController: side 1 is 2 (the computer), side 2 is 1 (the person).
const Array<std::int16_t, 1, 2> SideController = {{2, 1}};

const DriverSteps GameSteps = {
    SeedRandom, BuildPieceSquareValues, StartGraphics, LoadPosition, ClearScreen,  DrawBoard,
    StatusLine, ShowInfoPanel,          ShowStatus,    PlayerMove,   ComputerMove, CloseGraphics};
DriverSteps Steps = GameSteps;

namespace {

constexpr int PersonController = 1;
constexpr int ShuffleExchanges = 100;

void ShuffleList(PieceList& list, int count) {
  for (int i = 0; i < ShuffleExchanges; ++i) {
    const int a = Random(count) + 1;
    const int b = Random(count) + 1;
    const PieceEntry entry = list[a];
    list[a] = list[b];
    list[b] = entry;
  }
}

// The clock in microseconds, folded to 32 bits: every run starts elsewhere.
std::uint32_t ClockSeed() {
  const auto ticks = std::chrono::duration_cast<std::chrono::microseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
  return static_cast<std::uint32_t>(ticks ^ (ticks >> 32));
}

}  // namespace

void ShufflePieceLists() {
  ShuffleList(PieceList1, PieceCount1);
  ShuffleList(PieceList2, PieceCount2);
}

void RunGame() {
  for (;;) {
    for (int side = 1; side <= 2; ++side) {
      Steps.ClearScreen();
      Steps.DrawBoard(Board);
      if (SideController[side] == PersonController) {
        Steps.ShowInfoPanel(Steps.StatusLine());
        Steps.ShowStatus("waiting");
        if (!Steps.PlayerMove(side)) return;
      } else {
        Steps.ShowStatus("thinking");
        if (!Steps.ComputerMove(side)) return;
      }
    }
  }
}

int RunProgram() {
  if (!OpenMouse()) {
    // Written before the graphics mode opens, so it stays on the text screen.
    std::fputs("Could Not find mouse!!! Falling back to emulation\n", stdout);
    std::fflush(stdout);
    PointerEmulation = true;
  }
  mouse_setxrange(0, 639);
  mouse_setyrange(0, 479);
  Steps.SeedRandom(ClockSeed());
  Steps.BuildPieceSquareValues();
  Steps.StartGraphics();
  Steps.LoadPosition("kelvar.in");
  ShufflePieceLists();
  RunGame();
  Steps.CloseGraphics();
  mouse_close();
  return 0;
}
