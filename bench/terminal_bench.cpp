// kelvar-termbench: what a game costs in a terminal.
//
//   kelvar-termbench [--columns N] [--rows N] [--cell WxH] [--data DIR]
//
// Replays a recorded game (twenty half-moves: the computer's with its
// progress bar and variation, the person's with the pointer travelling to
// the piece, the frame on it, and on to the target) as the game's own
// drawing code draws it, headless, and sends every screen state to the
// terminal's picture in each mode, counting the bytes it writes. Reports
// the bytes per half-move and the time of a full redraw (clearing and
// drawing the whole picture) in each mode.

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "display/display.h"
#include "platform/platform.h"
#include "platform/terminal/terminal_parts.h"
#include "rules/rules.h"

#ifndef KELVAR_DATA_DIR
#define KELVAR_DATA_DIR "."
#endif

namespace {

using Clock = std::chrono::steady_clock;

// The game: White (the computer, grey) first.
const char* const Game[] = {"e2e4", "e7e5", "g1f3", "b8c6", "f1c4", "f8c5", "d2d3",
                            "d7d6", "c1g5", "h7h6", "g5f6", "d8f6", "b1c3", "c8g4",
                            "h2h3", "g4f3", "d1f3", "f6f3", "g2f3", "c6d4"};

constexpr int BoardLeft = 127, BoardTop = 47;

struct Counter {
  Picture* Target;
  std::vector<std::uint16_t> Last = std::vector<std::uint16_t>(ScreenWidth * ScreenHeight, 0);
  std::size_t Bytes = 0;
  int Frames = 0;
};

// Frame: the screen state now goes to every counter, as a present would.
void Frame(std::vector<Counter>& counters) {
  const auto* screen = reinterpret_cast<const std::uint16_t*>(vga_getgraphmem());
  for (Counter& counter : counters) {
    int first = -1, last = -1;
    for (int y = 0; y < ScreenHeight; ++y)
      if (std::memcmp(&counter.Last[y * ScreenWidth], &screen[y * ScreenWidth], ScreenWidth * 2) !=
          0) {
        if (first < 0) first = y;
        last = y;
      }
    if (first < 0) continue;
    std::memcpy(counter.Last.data(), screen, ScreenWidth * ScreenHeight * 2);
    std::string out;
    PaintPicture(counter.Target, screen, first, last, out);
    counter.Bytes += out.size();
    ++counter.Frames;
  }
}

void SquareCentre(char file, char rank, int& x, int& y) {
  x = BoardLeft + 48 * (file - 'a') + 24;
  y = BoardTop + 48 * ('8' - rank) + 24;
}

// Pointer: the game's arrow travels from (x1, y1) to (x2, y2) in steps,
// each step one screen state.
void Pointer(std::vector<Counter>& counters, int x1, int y1, int x2, int y2) {
  constexpr int Steps = 12;
  PointerBackground under{};
  for (int step = 0; step <= Steps; ++step) {
    const auto x = static_cast<std::int16_t>(x1 + (x2 - x1) * step / Steps);
    const auto y = static_cast<std::int16_t>(y1 + (y2 - y1) * step / Steps);
    SavePointerBackground(x, y, under);
    DrawPointer(x, y);
    Frame(counters);
    RestorePointerBackground(x, y, under);
  }
}

// Sweep: the pointer's bytes alone: 100 reports 10 ms apart, two pixels
// each, across the board, each drawn when the host's pacing passes it on
// (and the last one when its time comes); each counter's bytes before and
// after are kept apart from the game's.
std::vector<std::size_t> Sweep(std::vector<Counter>& counters) {
  std::vector<std::size_t> before;
  for (const Counter& counter : counters) before.push_back(counter.Bytes);
  PointerBackground under{};
  const auto draw = [&](int x, int y) {
    SavePointerBackground(static_cast<std::int16_t>(x), static_cast<std::int16_t>(y), under);
    DrawPointer(static_cast<std::int16_t>(x), static_cast<std::int16_t>(y));
    Frame(counters);
    RestorePointerBackground(static_cast<std::int16_t>(x), static_cast<std::int16_t>(y), under);
  };
  constexpr int Reports = 100, X = 180, Y = 300;
  MotionPacer pacer;
  std::uint64_t now = 1000;
  for (int k = 1; k <= Reports; ++k, now += 10) {
    int x, y;
    if (DueMotion(pacer, now, x, y)) draw(x, y);
    if (OfferMotion(pacer, X + 2 * k, Y, now)) draw(X + 2 * k, Y);
  }
  int x, y;
  if (DueMotion(pacer, now + MotionPeriod, x, y)) draw(x, y);
  Frame(counters);
  std::vector<std::size_t> bytes;
  for (std::size_t m = 0; m < counters.size(); ++m) {
    bytes.push_back(counters[m].Bytes - before[m]);
    counters[m].Bytes = before[m];
  }
  return bytes;
}

int Usage(const char* program) {
  std::fprintf(stderr, "usage: %s [--columns N] [--rows N] [--cell WxH] [--data DIR]\n", program);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  TerminalSize size;
  size.Columns = 120;
  size.Rows = 40;
  size.CellWidth = 8;
  size.CellHeight = 16;
  std::string data = KELVAR_DATA_DIR;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) return Usage(argv[0]);
    const char* value = argv[++i];
    if (arg == "--columns")
      size.Columns = std::atoi(value);
    else if (arg == "--rows")
      size.Rows = std::atoi(value);
    else if (arg == "--cell" && std::sscanf(value, "%dx%d", &size.CellWidth, &size.CellHeight) == 2)
      continue;
    else if (arg == "--data")
      data = value;
    else
      return Usage(argv[0]);
  }
  if (size.Columns < 10 || size.Rows < 5 || size.CellWidth < 1 || size.CellHeight < 1)
    return Usage(argv[0]);

  setenv("SDL_VIDEODRIVER", "dummy", 1);
  if (chdir(data.c_str()) != 0 || access("fig1.x", R_OK) != 0) {
    std::fprintf(stderr, "%s holds no fig1.x: build the kelvar-data target or name --data\n",
                 data.c_str());
    return 1;
  }
  SeedRandom(1);
  StartGraphics();
  LoadPosition("kelvar.in");

  // Sixels each way a terminal may get them: ending at their own pixels
  // (xterm), in whole cells (foot, mlterm), and in whole cells with colours
  // of their own (any other sixel terminal).
  struct Way {
    TerminalMode Mode;
    bool PixelExact, Shared;
    const char* Name;
  };
  const Way ways[] = {{TerminalMode::Sixel, true, true, "sixels"},
                      {TerminalMode::Sixel, false, true, "sixels, whole cells"},
                      {TerminalMode::Sixel, false, false, "sixels, own colours"},
                      {TerminalMode::Kitty, false, false, "kitty graphics"},
                      {TerminalMode::Symbols, false, false, "symbols"},
                      {TerminalMode::Console, false, false, "the console's 16 colours"}};
  std::vector<Counter> counters;
  std::vector<PictureLayout> layouts;
  for (const Way& way : ways) {
    TerminalSize wayed = size;
    wayed.XtermSixels = way.PixelExact;
    wayed.SharedRegisters = way.Shared;
    layouts.push_back(LayoutPicture(way.Mode, wayed));
    counters.push_back(Counter{NewPicture()});
    ResetPicture(counters.back().Target, layouts.back());
  }

  ClearScreen();
  DrawBoard(Board);
  ShowStatus("thinking");
  Frame(counters);
  for (Counter& counter : counters) counter.Bytes = 0;

  int pointerX = ScreenWidth / 2, pointerY = ScreenHeight / 2;
  int side = 1;
  for (const char* text : Game) {
    const Move move{
        static_cast<std::uint8_t>(text[0] - 'a' + 1), static_cast<std::uint8_t>(text[1] - '0'),
        static_cast<std::uint8_t>(text[2] - 'a' + 1), static_cast<std::uint8_t>(text[3] - '0')};
    if (side == 1) {
      ShowStatus("thinking");
      Frame(counters);
      for (int k = 0; k < 8; ++k) {
        DrawProgressBar(5, 64, 45, 72, k / 8.0);
        Frame(counters);
      }
      ShowInfoPanel(std::string("Variation: ") + text);
    } else {
      int fromX, fromY, toX, toY;
      SquareCentre(text[0], text[1], fromX, fromY);
      SquareCentre(text[2], text[3], toX, toY);
      Pointer(counters, pointerX, pointerY, fromX, fromY);
      HighlightSquare(move.FromFile, move.FromRank, 0xFFFF);
      Frame(counters);
      Pointer(counters, fromX, fromY, toX, toY);
      pointerX = toX;
      pointerY = toY;
    }
    MakeMove(move, side);
    DrawBoard(Board);
    ShowStatus(side == 1 ? "waiting" : "thinking");
    Frame(counters);
    side = 3 - side;
  }

  const int frames = counters.front().Frames;
  const std::vector<std::size_t> sweep = Sweep(counters);
  const int sweepFrames = counters.front().Frames - frames;
  const int halfMoves = static_cast<int>(sizeof Game / sizeof Game[0]);
  std::printf("terminal %dx%d cells of %dx%d pixels, %d half-moves\n", size.Columns, size.Rows,
              size.CellWidth, size.CellHeight, halfMoves);
  const auto* screen = reinterpret_cast<const std::uint16_t*>(vga_getgraphmem());
  for (std::size_t m = 0; m < counters.size(); ++m) {
    Counter& counter = counters[m];
    const PictureLayout& layout = layouts[m];
    // A full redraw: the picture cleared and drawn whole, as after a resize.
    constexpr int Redraws = 10;
    std::size_t redrawBytes = 0;
    const auto start = Clock::now();
    const std::clock_t cpuStart = std::clock();
    for (int k = 0; k < Redraws; ++k) {
      ResetPicture(counter.Target, layout);
      std::string out;
      PaintPicture(counter.Target, screen, 0, ScreenHeight - 1, out);
      redrawBytes = out.size();
    }
    const double ms =
        std::chrono::duration<double, std::milli>(Clock::now() - start).count() / Redraws;
    // Processor time of all threads: the figure a busy machine does not inflate.
    const double cpuMs =
        1000.0 * static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC / Redraws;
    std::printf(
        "%-28s picture %4dx%-4d in %3dx%-3d cells: %8.1f kB per half-move (%d frames), "
        "sweep %6.1f kB (%d frames), full redraw %7.1f kB in %6.2f ms (%.2f ms processor "
        "time)\n",
        ways[m].Name, layout.Width, layout.Height, layout.Columns, layout.Rows,
        counter.Bytes / 1000.0 / halfMoves, frames, sweep[m] / 1000.0, sweepFrames,
        redrawBytes / 1000.0, ms, cpuMs);
    FreePicture(counter.Target);
  }
  CloseGraphics();
  return 0;
}
