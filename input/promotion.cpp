// The promotion chooser: a full-screen picture with the four pieces a pawn
// may become, one of which the person clicks.
#include "display/display.h"
#include "input/input.h"

namespace {

// The choices stand in one row, knight to queen, from (224, 216).
constexpr int ChoiceLeft = 224;
constexpr int ChoiceTop = 216;
constexpr int ChoiceCount = 4;

// The click area leaves out the first column and row of the pictures.
bool InChoiceArea(const PointerState& point) {
  return point.X > ChoiceLeft && point.X < ChoiceLeft + ChoiceCount * SquareSize &&
         point.Y > ChoiceTop && point.Y < ChoiceTop + SquareSize;
}

}  // namespace

void CheckPromotion(Move move, int side) {
  const PieceCode code = Board[move.FromFile][move.FromRank];
  if (code % 64 == Pawn && IsLastRank(move.ToRank, side)) PromotionKind = ChoosePromotion();
}

std::uint8_t ChoosePromotion() {
  ShowScreenImage("PawnFix.x");
  for (int k = 0; k < ChoiceCount; ++k)
    DrawPieceGrey(static_cast<std::int16_t>(ChoiceLeft + SquareSize * k), ChoiceTop,
                  PieceBitmaps[k + Knight]);

  // The pointer shows at once where it is, over the picture.
  PointerState point = CurrentPointer();
  PointerBackground background;
  SavePointerBackground(point.X, point.Y, background);
  DrawPointer(point.X, point.Y);
  // The first read only moves the pointer: a button still down from the
  // click that made the move then does not choose.
  bool first = true;
  for (;;) {
    const PointerState next = ReadPointer();
    if (next.X != point.X || next.Y != point.Y) {
      RestorePointerBackground(point.X, point.Y, background);
      SavePointerBackground(next.X, next.Y, background);
      DrawPointer(next.X, next.Y);
      point = next;
    }
    if (!first && next.Buttons != 0 && InChoiceArea(next))
      return static_cast<std::uint8_t>((next.X - ChoiceLeft) / SquareSize + Knight);
    first = false;
  }
}
