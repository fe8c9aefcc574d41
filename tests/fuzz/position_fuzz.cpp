// Fuzz target: the start-position reader, then move generation for both
// sides on whatever position it accepted.
#include "rules/rules.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::Start();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const char* file = fuzz::WriteInput("kelvar.in", data, size);
  try {
    LoadPosition(file);
    LegalMoveArray moves;
    LegalMoves(1, moves);
    LegalMoves(2, moves);
  } catch (const fuzz::ThrownRunError&) {
  }
  return 0;
}
