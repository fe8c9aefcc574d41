#include <random>

#include "rules/rules.h"

namespace {
// One generator for the whole program; a fixed default keeps headless tools
// reproducible when nobody seeds it.
std::mt19937 Generator(12345u);
}  // namespace

void SeedRandom(std::uint32_t seed) { Generator.seed(seed); }

int Random(int n) {
  if (n < 1) return 0;
  // Rejection keeps the draw uniform for every n.
  const std::uint32_t range = static_cast<std::uint32_t>(n);
  const std::uint32_t limit = (0xFFFFFFFFu / range) * range;
  std::uint32_t value;
  do {
    value = static_cast<std::uint32_t>(Generator());
  } while (value >= limit);
  return static_cast<int>(value % range);
}
