// Input: the pointer (mouse or keyboard emulation), the person's move entry
// and the promotion chooser.
#pragma once

#include <cstdint>

#include "rules/rules.h"

// PointerState: one read of the pointer; Buttons 0 means no click.
struct PointerState {
  std::uint16_t X;
  std::uint16_t Y;
  std::uint16_t Buttons;
};

// EmulatedPointerState: the keyboard emulation's own pointer.
struct EmulatedPointerState {
  std::int16_t X;
  std::int16_t Y;
  std::int16_t Buttons;
};

// PointerStep: pixels moved by one arrow key.
constexpr int PointerStep = 6;
// ClickDelay: seconds that must pass between two accepted clicks.
constexpr long double ClickDelay = 0.3L;

// PointerEmulation: true once the mouse could not be opened; never cleared.
extern bool PointerEmulation;
// EmulatedPointer: starts at (0, 0) with no buttons; kept between calls.
extern EmulatedPointerState EmulatedPointer;
// EscapePressed: set when the emulation reads Esc; never cleared.
extern bool EscapePressed;
// UnusedEmulationKey: the last ordinary key the emulation read and had no use
// for (0 for none), so that the move entry sees Q without reading the keyboard
// behind the pointer's back.
extern std::uint8_t UnusedEmulationKey;

// OpenMouse: mouse_init("/dev/gpmdata", 7, 1200), ranges and scale; true on success.
bool OpenMouse();
// ReadPointer: the next mouse event, or the next key of the emulation (both wait).
PointerState ReadPointer();
// CurrentPointer: where the pointer is now, without waiting or reading input;
// Buttons always 0.
PointerState CurrentPointer();
// PlayerMove: two clicks, validation, promotion, MakeMove; false on Esc.
bool PlayerMove(int side);
// PlaceExtraQueen: the Q key; a queen of side on a random empty square,
// ignored when the side's list is full.
void PlaceExtraQueen(int side);
// CheckPromotion: opens the chooser when a pawn reaches its last rank.
void CheckPromotion(Move move, int side);
// ChoosePromotion: "PawnFix.x" with four choices; answers 2..5.
std::uint8_t ChoosePromotion();
