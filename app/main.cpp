#include <cstdio>
#include <cstring>

#include "app/app.h"

namespace {

// The answers to --help and --version, given before anything is opened.
const char* const Usage =
    "usage: kelvar [POSITION-FILE | --help | --version]\n"
    "A chess game: you play Black against the computer on a 640x480 board, in a\n"
    "window or, when none can be opened (over ssh, on a server, on the Linux\n"
    "console), in the terminal it was started from: sixels, kitty graphics or\n"
    "coloured block symbols, whichever the terminal can show.\n"
    "\n"
    "Controls: click a piece, then the square it goes to; without a mouse the\n"
    "arrow keys move the pointer and Space clicks. Esc quits, Q adds a black\n"
    "queen, F11 or Alt+Enter switch full screen.\n"
    "\n"
    "KELVAR_DISPLAY=window plays in a window only, KELVAR_DISPLAY=terminal in\n"
    "the terminal only.\n"
    "\n"
    "Files, read from the working directory: kelvar.in (the start position),\n"
    "fig1.x .. fig6.x and PawnFix.x (the pictures). The installed launcher\n"
    "starts the game in its data folder; given a POSITION-FILE (written as\n"
    "kelvar.in is), in a fresh folder with the pictures and a copy of that file\n"
    "as kelvar.in. A file that is missing or cannot be read ends the launcher\n"
    "with a line saying so and status 2; a broken one, the game with its\n"
    "run-time error 201.\n"
    "\n"
    "Exit status: 0 when the game ends normally; a run-time error number (2 a\n"
    "missing file, 100 a short file, 201 a bad index or start position); 1 when\n"
    "no display can be opened.\n";

}  // namespace

int main(int argc, char** argv) {
  // Any other argument is ignored.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      std::fputs(Usage, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::puts("kelvar " KELVAR_VERSION);
      return 0;
    }
  }
  return RunProgram();
}
