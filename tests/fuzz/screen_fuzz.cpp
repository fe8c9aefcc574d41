// Fuzz target: the full-screen picture, as the start-up check and the
// promotion chooser read it.
#include <cstdlib>

#include "display/display.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) { return fuzz::StartWithScreen(); }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* file = fuzz::WriteInput("PawnFix.x", data, size);
  bool checked = false;
  try {
    CheckScreenImage(file);
    checked = true;
  } catch (const fuzz::ThrownRunError&) {
  }
  bool shown = false;
  try {
    ShowScreenImage(file);
    shown = true;
  } catch (const fuzz::ThrownRunError&) {
  }
  // The start-up check lets through exactly what the chooser can show whole.
  if (checked != shown) std::abort();
  return 0;
}
