// The person's move: two accepted clicks on the board pick the square to move
// from and the square to move to; Esc quits and Q places an extra queen.
#include "display/display.h"
#include "engine/engine.h"
#include "input/input.h"

namespace {

constexpr std::uint8_t EscapeKey = 27;
constexpr Colour FrameColour = 0xFFFF;
// The board area, both ends included: x 127..510, y 47..430.
constexpr int BoardRight = BoardLeft + 8 * SquareSize - 1;
constexpr int BoardBottom = BoardTop + 8 * SquareSize - 1;

bool OnBoard(const PointerState& point) {
  return point.X >= BoardLeft && point.X <= BoardRight && point.Y >= BoardTop &&
         point.Y <= BoardBottom;
}

bool IsQueenKey(std::uint8_t key) { return key == 'Q' || key == 'q'; }

// The next key for the entry itself. With the emulation every key goes
// through the pointer, which hands on the ones it has no use for: reading the
// keyboard here as well would race the pointer for each key typed and lose
// about half of the arrows and spaces.
bool NextEntryKey(std::uint8_t& key) {
  if (PointerEmulation) {
    key = UnusedEmulationKey;
    UnusedEmulationKey = 0;
    return key != 0;
  }
  if (!KeyWaiting()) return false;
  key = ReadKeyCode();
  return true;
}

}  // namespace

void PlaceExtraQueen(int side) {
  PieceList& list = side == 1 ? PieceList1 : PieceList2;
  std::uint8_t& count = side == 1 ? PieceCount1 : PieceCount2;
  // A full list has no slot for the queen; the key is then ignored.
  if (count >= PieceList::High) return;
  int file;
  int rank;
  // A side with at most 15 pieces and an opponent with at most 16 leave at
  // least 33 squares empty, so this ends.
  do {
    file = 1 + Random(8);
    rank = 1 + Random(8);
  } while (!IsEmptySquare(file, rank));
  ++count;
  list[count] = {Queen, static_cast<std::uint8_t>(file), static_cast<std::uint8_t>(rank)};
  Board[file][rank] = side == 1 ? Queen : Queen + 64;
}

bool PlayerMove(int side) {
  std::int16_t fromFile = 0;
  std::int16_t fromRank = 0;
  long double lastClick = ClockSeconds();
  // Keys typed in the promotion chooser belong to it.
  UnusedEmulationKey = 0;

  // The pointer is drawn at once where it is, before any input: the
  // desktop's own cursor is hidden over the window, so without it the person
  // would see no pointer until the first event.
  PointerState point = CurrentPointer();
  PointerBackground background;
  SavePointerBackground(point.X, point.Y, background);
  bool selected = false;
  DrawPointer(point.X, point.Y);
  // An Esc the emulation read in the promotion chooser ends the game here,
  // before the pointer waits for another key.
  if (EscapePressed) return false;

  for (;;) {
    const PointerState next = ReadPointer();
    if (EscapePressed) return false;
    if (next.X != point.X || next.Y != point.Y) {
      RestorePointerBackground(point.X, point.Y, background);
      SavePointerBackground(next.X, next.Y, background);
      DrawPointer(next.X, next.Y);
    }
    // Measured through ElapsedSeconds so that clicks are still taken after
    // the time of day wraps at midnight.
    if (OnBoard(next) && ElapsedSeconds(lastClick, ClockSeconds()) > ClickDelay &&
        next.Buttons != 0) {
      lastClick = ClockSeconds();
      if (selected) {
        selected = false;
        std::int16_t toFile;
        std::int16_t toRank;
        PointToSquare(next.X, next.Y, toFile, toRank);
        const Move move = {static_cast<std::uint8_t>(fromFile), static_cast<std::uint8_t>(fromRank),
                           static_cast<std::uint8_t>(toFile), static_cast<std::uint8_t>(toRank)};
        if (ValidateMove(move, side, true)) {
          CheckPromotion(move, side);
          MakeMove(move, side);
          return true;
        }
        // The redraw also takes away the frame of the refused from square;
        // the pointer goes first and comes back on the new picture, so that
        // neither an old pointer nor the old frame is restored later.
        RestorePointerBackground(next.X, next.Y, background);
        DrawBoard(Board);
        SavePointerBackground(next.X, next.Y, background);
        DrawPointer(next.X, next.Y);
      } else {
        selected = true;
        PointToSquare(next.X, next.Y, fromFile, fromRank);
        // The background under the pointer is taken again with the frame in
        // it; the one saved before would put a notch into the frame when the
        // pointer moves on.
        RestorePointerBackground(next.X, next.Y, background);
        HighlightSquare(fromFile, fromRank, FrameColour);
        SavePointerBackground(next.X, next.Y, background);
        DrawPointer(next.X, next.Y);
      }
    }
    point = next;
    std::uint8_t key;
    if (NextEntryKey(key)) {
      if (key == EscapeKey) return false;
      if (IsQueenKey(key)) PlaceExtraQueen(side);
    }
  }
}
