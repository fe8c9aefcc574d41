// The program driver: start-up, the turn loop and shut-down.
#pragma once

#include <cstdint>
#include <string>

#include "rules/rules.h"

// SideController: per side, 1 the person at the screen, anything else the
// computer. The computer plays side 1 and moves first.
extern const Array<std::int16_t, 1, 2> SideController;

// DriverSteps: the operations of other modules the driver calls, in the
// order RunProgram and RunGame call them. The game's own functions unless a
// test or a tool puts others in (to record the turns, say); the driver
// itself never changes them.
struct DriverSteps {
  void (*SeedRandom)(std::uint32_t seed);
  void (*BuildPieceSquareValues)();
  void (*StartGraphics)();
  void (*LoadPosition)(const char* fileName);
  void (*ClearScreen)();
  void (*DrawBoard)(const BoardGrid& board);
  std::string (*StatusLine)();
  void (*ShowInfoPanel)(const std::string& text);
  void (*ShowStatus)(const std::string& text);
  bool (*PlayerMove)(int side);
  bool (*ComputerMove)(int side);
  void (*CloseGraphics)();
};
// GameSteps: the game's own operations.
extern const DriverSteps GameSteps;
// Steps: what the driver calls; GameSteps at start.
extern DriverSteps Steps;

// ShufflePieceLists: 100 random exchanges in each side's list.
void ShufflePieceLists();
// RunGame: alternating turns, side 1 first, until a turn ends the game.
void RunGame();
// RunProgram: the whole run in its order; answers the exit status.
int RunProgram();
