// kelvar-art without libpng: the game's pictures are still drawn, the icons
// are refused.
#include <cstdio>

#include "tools/png_writer.h"

bool PngAvailable() { return false; }

bool WritePng(const std::string& name, int, int, bool, const std::uint8_t*) {
  std::fprintf(stderr, "%s: this kelvar-art was built without libpng\n", name.c_str());
  return false;
}
