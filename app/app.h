// The program driver: start-up, the turn loop and shut-down.
#pragma once

#include <cstdint>

#include "rules/rules.h"

// SideController: per side, 1 the person at the screen, anything else the
// computer. The computer plays side 1 and moves first.
extern const Array<std::int16_t, 1, 2> SideController;

// ShufflePieceLists: 100 random exchanges in each side's list.
void ShufflePieceLists();
// RunGame: alternating turns, side 1 first, until a turn ends the game.
void RunGame();
// RunProgram: the whole run in its order; answers the exit status.
int RunProgram();
