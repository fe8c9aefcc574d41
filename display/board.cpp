// The board on the screen: labels, squares, pieces and frame; the frame of a
// picked square; screen points to squares; the arrow pointer.

#include <string>

#include "display/display.h"

namespace {

constexpr Colour LabelColour = 0xAD55;
constexpr Colour FrameColour = 0xFFFF;
constexpr Colour PointerShadowColour = 0x0000;
constexpr Colour PointerColour = 0xEF7D;

constexpr std::int16_t BoardSpan = 8 * SquareSize;
constexpr std::int16_t FileLabelTop = 434;
constexpr std::int16_t RankLabelLeft = 514;
// The labels sit 20 pixels in from a square's left or top edge.
constexpr std::int16_t LabelInset = 20;

std::int16_t SquareLeft(int file) {
  return static_cast<std::int16_t>(BoardLeft + SquareSize * (file - 1));
}
std::int16_t SquareTop(int rank) {
  return static_cast<std::int16_t>(BoardTop + SquareSize * (8 - rank));
}

}  // namespace

void DrawBoard(const BoardGrid& board) {
  SetDrawColor(LabelColour);
  for (int file = 1; file <= 8; ++file)
    DrawText(static_cast<std::int16_t>(BoardLeft + LabelInset + SquareSize * (file - 1)),
             FileLabelTop, std::string(1, static_cast<char>(64 + file)));
  for (int rank = 1; rank <= 8; ++rank)
    DrawText(RankLabelLeft,
             static_cast<std::int16_t>(469 - (SquareSize * (rank - 1) + BoardTop + LabelInset)),
             std::string(1, static_cast<char>(48 + rank)));

  // Screen column c, row w: dark where c + w is odd, so a1 is dark.
  for (int c = 1; c <= 8; ++c)
    for (int w = 1; w <= 8; ++w)
      RestoreArea(SquareLeft(c), static_cast<std::int16_t>(BoardTop + SquareSize * (w - 1)),
                  (c + w) % 2 == 1 ? DarkSquareImage : LightSquareImage, CopyPut);

  // Every square is down before the first piece, so no texture covers a piece.
  for (int w = 1; w <= 8; ++w) {
    for (int c = 1; c <= 8; ++c) {
      const PieceCode code = board[c][9 - w];
      if (code == 0) continue;
      const std::int16_t x = SquareLeft(c);
      const std::int16_t y = static_cast<std::int16_t>(BoardTop + SquareSize * (w - 1));
      if (code > 64)
        DrawPieceGreen(x, y, PieceBitmaps[code % 64]);
      else
        DrawPieceGrey(x, y, PieceBitmaps[code % 64]);
    }
  }

  SetDrawColor(FrameColour);
  DrawRectangle(BoardLeft, BoardTop, BoardLeft + BoardSpan, BoardTop + BoardSpan);
}

void HighlightSquare(std::int16_t file, std::int16_t rank, Colour colour) {
  SetDrawColor(colour);
  const std::int16_t x1 = SquareLeft(file), y1 = SquareTop(rank);
  const auto x2 = static_cast<std::int16_t>(x1 + SquareSize - 1);
  const auto y2 = static_cast<std::int16_t>(y1 + SquareSize - 1);
  DrawRectangle(x1 + 1, y1 + 1, x2 - 1, y2 - 1);
  DrawRectangle(x1, y1, x2, y2);
  DrawRectangle(x1 - 1, y1 - 1, x2 + 1, y2 + 1);
}

void PointToSquare(std::int16_t x, std::int16_t y, std::int16_t& file, std::int16_t& rank) {
  file = static_cast<std::int16_t>((x - BoardLeft) / SquareSize + 1);
  rank = static_cast<std::int16_t>(9 - ((y - BoardTop) / SquareSize + 1));
}

void SavePointerBackground(std::int16_t x, std::int16_t y, PointerBackground& background) {
  for (int i = 0; i <= 9; ++i)
    for (int j = 0; j <= 14; ++j)
      background[i][j] =
          ReadPixel(static_cast<std::int16_t>(x + i), static_cast<std::int16_t>(y + j));
}

void RestorePointerBackground(std::int16_t x, std::int16_t y, const PointerBackground& background) {
  for (int i = 0; i <= 9; ++i)
    for (int j = 0; j <= 14; ++j)
      SetPixel(static_cast<std::int16_t>(x + i), static_cast<std::int16_t>(y + j),
               background[i][j]);
}

void DrawPointer(std::int16_t x, std::int16_t y) {
  // The shadow first, so the arrow wins where the two touch.
  SetDrawColor(PointerShadowColour);
  DrawLine(x + 1, y + 1, x + 1, y + 14);
  DrawLine(x + 2, y + 1, x + 9, y + 8);
  DrawLine(x + 1, y + 14, x + 9, y + 9);
  SetDrawColor(PointerColour);
  DrawLine(x, y, x, y + 13);
  DrawLine(x, y, x + 8, y + 8);
  DrawLine(x, y + 13, x + 8, y + 8);
}
