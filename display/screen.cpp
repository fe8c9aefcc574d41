// Screen start-up: the graphics mode, the square textures and the loading
// screen shown while the piece bitmaps are read.

#include <string>

#include "display/display.h"

// LightSquareImage, DarkSquareImage: saved 48 x 48 areas (SaveArea layout,
// AreaBufferSize(0, 0, 47, 47) bytes each); nullptr until LoadGraphics has
// made them, then fixed for the rest of the run.
std::uint8_t* LightSquareImage = nullptr;
std::uint8_t* DarkSquareImage = nullptr;

namespace {

// The textures are made in the top-left corner of the screen and saved from
// there; the corner is cleared with the rest of the screen afterwards.
constexpr std::int16_t ScratchRight = SquareSize - 1;

// Loading progress: one segment per piece file inside the frame.
constexpr std::int16_t ProgressLeft = 50, ProgressTop = 240;
constexpr std::int16_t ProgressRight = 592, ProgressBottom = 250;
constexpr std::int16_t SegmentWidth = 90;

constexpr Colour ProgressFrameColour = 0xFFFF;
constexpr Colour ProgressSegmentColour = 0x9CD3;

// SaveScratchArea: the buffer for one texture, allocated the first time only.
void SaveScratchArea(std::uint8_t*& image) {
  if (image == nullptr) {
    const std::int16_t size =
        static_cast<std::int16_t>(AreaBufferSize(0, 0, ScratchRight, ScratchRight));
    image = new std::uint8_t[static_cast<std::size_t>(size)];
  }
  SaveArea(0, 0, ScratchRight, ScratchRight, image);
}

}  // namespace

void StartGraphics() {
  InitGraph(Driver64K, Mode640x480, "");
  LoadGraphics();
}

void LoadGraphics() {
  // Blue noise: the light squares in blue 13..15, the dark ones in 2..4; a
  // pixel's light value is drawn before its dark one.
  static PieceBitmap light, dark;
  for (int j = 0; j <= 47; ++j) {
    for (int i = 0; i <= 47; ++i) {
      light[i][j] = static_cast<std::uint8_t>(13 + Random(3));
      dark[i][j] = static_cast<std::uint8_t>(2 + Random(3));
    }
  }
  DrawBitmapRaw(0, 0, light);
  SaveScratchArea(LightSquareImage);
  DrawBitmapRaw(0, 0, dark);
  SaveScratchArea(DarkSquareImage);

  // The loading text keeps the drawing colour InitGraph left (a dark blue).
  DrawText(260, 220, "Reading bitmaps...");
  SetDrawColor(ProgressFrameColour);
  DrawLine(ProgressLeft, ProgressTop, ProgressRight, ProgressTop);
  DrawLine(ProgressLeft, ProgressBottom, ProgressRight, ProgressBottom);
  DrawLine(ProgressLeft, ProgressTop, ProgressLeft, ProgressBottom);
  DrawLine(ProgressRight, ProgressTop, ProgressRight, ProgressBottom);

  SetDrawColor(ProgressSegmentColour);
  for (int kind = 1; kind <= 6; ++kind) {
    const std::string name = "fig" + std::to_string(kind) + ".x";
    ReadPieceBitmap(name.c_str(), PieceBitmaps[kind]);
    // A segment appears only once its file has been read.
    const auto x1 = static_cast<std::int16_t>(ProgressLeft + 1 + SegmentWidth * (kind - 1));
    const auto x2 = static_cast<std::int16_t>(ProgressLeft + 1 + SegmentWidth * kind);
    for (std::int16_t y = ProgressTop + 1; y <= ProgressBottom - 1; ++y) DrawLine(x1, y, x2, y);
  }
  // The chooser reads its picture each time it opens; a file that could not
  // be shown is found now rather than in the middle of a game.
  CheckScreenImage("PawnFix.x");
  ClearScreen();
}
