// kelvar-snapshot: the game's screen for a position, as a PNG, drawn headless.
//
//   kelvar-snapshot POSITION-FILE OUT.png [options]
//
// Runs the game's own start-up (graphics mode, square textures, loading the
// piece bitmaps) on SDL's dummy video driver with a fixed random seed, reads
// the position file, clears the screen and draws the board, then the extras
// asked for, and writes the 640 x 480 screen to OUT.png.
//
// Options:
//   --highlight SQUARE   frame a square (e2) as the move entry does
//   --status WORD        the status box ("waiting", "thinking")
//   --info TEXT          the info panel (one or two lines)
//   --progress FRACTION  the search's progress bar, 0 to below 1
//   --pointer X,Y        the arrow pointer with its tip at (X, Y)
//   --message "T|text"   a message box titled T; "|" separates further lines
//   --promotion          the promotion picture with the four grey choices
//   --data DIR           folder with fig1.x..fig6.x and PawnFix.x (default:
//                        the build's data folder)
//   --seed N             seed of the square textures (default 1)

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "display/display.h"
#include "rules/rules.h"
#include "tools/png_writer.h"

#ifndef KELVAR_DATA_DIR
#define KELVAR_DATA_DIR "."
#endif

namespace {

struct Options {
  std::string Position;
  std::string Output;
  std::string DataDir = KELVAR_DATA_DIR;
  std::string Highlight;
  std::string Status;
  std::string Info;
  std::string Message;
  std::string Pointer;
  double Progress = -1;
  bool Promotion = false;
  unsigned long Seed = 1;
};

const char* const UsageText =
    "usage: kelvar-snapshot POSITION-FILE OUT.png [--highlight e2] [--status WORD]\n"
    "       [--info TEXT] [--progress FRACTION] [--pointer X,Y] [--message \"Title|text\"]\n"
    "       [--promotion] [--data DIR] [--seed N]\n";

[[noreturn]] void Usage(const char*) {
  std::fputs(UsageText, stderr);
  std::exit(2);
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  std::vector<std::string> plain;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) Usage(argv[0]);
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      std::fputs(UsageText, stdout);
      std::exit(0);
    } else if (arg == "--highlight") {
      options.Highlight = value();
    } else if (arg == "--status") {
      options.Status = value();
    } else if (arg == "--info") {
      options.Info = value();
    } else if (arg == "--message") {
      options.Message = value();
    } else if (arg == "--pointer") {
      options.Pointer = value();
    } else if (arg == "--progress") {
      const std::string text = value();
      char* end = nullptr;
      options.Progress = std::strtod(text.c_str(), &end);
      if (*end != '\0' || options.Progress < 0 || options.Progress >= 1) Usage(argv[0]);
    } else if (arg == "--promotion") {
      options.Promotion = true;
    } else if (arg == "--data") {
      options.DataDir = value();
    } else if (arg == "--seed") {
      options.Seed = std::strtoul(value().c_str(), nullptr, 10);
    } else if (arg.size() > 1 && arg[0] == '-') {
      std::fprintf(stderr, "kelvar-snapshot: unknown option \"%s\"\n", arg.c_str());
      Usage(argv[0]);
    } else {
      plain.push_back(arg);
    }
  }
  if (plain.size() != 2) Usage(argv[0]);
  options.Position = plain[0];
  options.Output = plain[1];
  if (!options.Highlight.empty() &&
      (options.Highlight.size() != 2 || options.Highlight[0] < 'a' || options.Highlight[0] > 'h' ||
       options.Highlight[1] < '1' || options.Highlight[1] > '8'))
    Usage(argv[0]);
  return options;
}

// Absolute: a path named from the starting folder, still valid after chdir.
std::string Absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char here[PATH_MAX];
  if (getcwd(here, sizeof here) == nullptr) {
    std::perror("getcwd");
    std::exit(1);
  }
  return std::string(here) + "/" + path;
}

// WriteScreenPng: the screen read back pixel by pixel, 5-6-5 widened to 8 bits a
// channel by repeating the top bits.
bool WriteScreenPng(const std::string& name) {
  constexpr int Width = 640, Height = 480;
  std::vector<std::uint8_t> rgb(Width * Height * 3);
  for (int y = 0; y < Height; ++y) {
    for (int x = 0; x < Width; ++x) {
      const Colour c = ReadPixel(static_cast<std::int16_t>(x), static_cast<std::int16_t>(y));
      const int r = (c >> 11) & 31, g = (c >> 5) & 63, b = c & 31;
      std::uint8_t* out = &rgb[(y * Width + x) * 3];
      out[0] = static_cast<std::uint8_t>((r << 3) | (r >> 2));
      out[1] = static_cast<std::uint8_t>((g << 2) | (g >> 4));
      out[2] = static_cast<std::uint8_t>((b << 3) | (b >> 2));
    }
  }
  return WritePng(name, Width, Height, false, rgb.data());
}

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  const std::string position = Absolute(options.Position);
  const std::string output = Absolute(options.Output);

  setenv("SDL_VIDEODRIVER", "dummy", 1);
  // The game reads its pictures from the working folder.
  if (chdir(options.DataDir.c_str()) != 0) {
    std::fprintf(stderr, "%s: %s\n", options.DataDir.c_str(), std::strerror(errno));
    return 1;
  }
  if (access("fig1.x", R_OK) != 0) {
    std::fprintf(stderr,
                 "%s holds no fig1.x: build the kelvar-data target or name a folder with --data\n",
                 options.DataDir.c_str());
    return 1;
  }
  SeedRandom(static_cast<std::uint32_t>(options.Seed));
  StartGraphics();
  LoadPosition(position.c_str());
  ClearScreen();
  DrawBoard(Board);
  if (!options.Highlight.empty())
    HighlightSquare(options.Highlight[0] - 'a' + 1, options.Highlight[1] - '0', 0xFFFF);
  if (options.Progress >= 0) DrawProgressBar(5, 64, 45, 72, options.Progress);
  if (!options.Info.empty()) ShowInfoPanel(options.Info);
  if (!options.Status.empty()) ShowStatus(options.Status);
  if (options.Promotion) {
    // As the chooser shows it: the picture, then knight, bishop, rook and
    // queen in grey from left to right.
    ShowScreenImage("PawnFix.x");
    for (int k = 0; k <= 3; ++k)
      DrawPieceGrey(static_cast<std::int16_t>(224 + 48 * k), 216, PieceBitmaps[k + 2]);
  }
  if (!options.Message.empty()) {
    const std::size_t bar = options.Message.find('|');
    if (bar == std::string::npos)
      DrawMessageBox(options.Message, "");
    else
      DrawMessageBox(options.Message.substr(0, bar), options.Message.substr(bar + 1));
  }
  if (!options.Pointer.empty()) {
    int x = 0, y = 0;
    if (std::sscanf(options.Pointer.c_str(), "%d,%d", &x, &y) != 2) Usage(argv[0]);
    DrawPointer(static_cast<std::int16_t>(x), static_cast<std::int16_t>(y));
  }
  const bool written = WriteScreenPng(output);
  CloseGraphics();
  return written ? 0 : 1;
}
