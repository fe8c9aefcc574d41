// The drawing surface's costs: a full-screen grey picture drawn pixel by
// pixel, the pointer-sized saved area put back, and one present of the whole
// screen (comparison, conversion through the lookup table, rendering).

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "display/display.h"
#include "platform/platform.h"

namespace {

void OpenGraphics() {
  static bool open = false;
  if (open) return;
  // Headless unless a driver is named (SDL_VIDEODRIVER=x11 measures a real window).
  setenv("SDL_VIDEODRIVER", "dummy", 0);
  InitGraph(Driver64K, Mode640x480, "");
  if (GraphResult() != 0) std::abort();
  open = true;
}

void FullScreenOfSetPixel(benchmark::State& state) {
  OpenGraphics();
  Colour shade = 0;
  for (auto _ : state) {
    for (std::int16_t y = 0; y <= 479; ++y)
      for (std::int16_t x = 0; x <= 639; ++x) SetPixel(x, y, shade);
    ++shade;
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * 640 * 480);
}
BENCHMARK(FullScreenOfSetPixel)->Unit(benchmark::kMicrosecond);

void RestoreSquare(benchmark::State& state) {
  OpenGraphics();
  std::vector<unsigned char> buffer(static_cast<std::size_t>(AreaBufferSize(0, 0, 47, 47)));
  SaveArea(0, 0, 47, 47, buffer.data());
  std::int16_t x = 127;
  for (auto _ : state) {
    RestoreArea(x, 47, buffer.data(), CopyPut);
    x = static_cast<std::int16_t>(x == 463 ? 127 : x + 48);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(RestoreSquare)->Unit(benchmark::kMicrosecond);

void PresentWholeScreen(benchmark::State& state) {
  OpenGraphics();
  Colour shade = 0;
  for (auto _ : state) {
    // One changed pixel makes the whole frame go out again.
    SetPixel(320, 240, ++shade);
    PresentScreen();
  }
}
BENCHMARK(PresentWholeScreen)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
