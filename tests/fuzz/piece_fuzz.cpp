// Fuzz target: the piece picture reader, and the three ways a piece is drawn.
#include <cstdlib>

#include "display/display.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) { return fuzz::StartWithScreen(); }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* file = fuzz::WriteInput("fig1.x", data, size);
  try {
    PieceBitmap bitmap;
    ReadPieceBitmap(file, bitmap);
    DrawBitmapRaw(0, 0, bitmap);
    DrawPieceGrey(100, 100, bitmap);
    DrawPieceGreen(615, 455, bitmap);
  } catch (const fuzz::ThrownRunError&) {
  }
  return 0;
}
