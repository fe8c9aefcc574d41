// End-to-end: the real program as a child process in a folder of its own,
// its standard input, output and error on a pseudo-terminal.
//   - the keyboard emulation with SDL's dummy video driver (kelvar-probe, the
//     program with a report of each turn, shows what the board became);
//   - the failure paths of the real binary;
//   - a real window under Xvfb, driven with xdotool and read back with
//     ImageMagick's import (skipped only when those programs are missing).
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "display/display.h"
#include "tests/process_support.h"
#include "tests/pty_support.h"
#include "tests/screen_support.h"

namespace {

using namespace support;

// ---- A folder with the game's files -------------------------------------------------------------

class GameTest : public GameFolderTest {
 protected:
  GameTest() : GameFolderTest("kelvar-e2e") {}
  void TearDown() override {
    CloseChild(Game);
    // The game's standard error is its terminal.
    if (HasFailure()) std::cout << "---- the game's terminal:\n" << Game.Output << "\n----\n";
    GameFolderTest::TearDown();
  }

  Child Run(const std::string& program, const EnvironmentChanges& changes) {
    Game = Spawn(program, Folder.string(), changes);
    return Game;
  }

  Child Game;
};

const EnvironmentChanges Headless = {{"SDL_VIDEODRIVER", "dummy"}};

// Arrow keys as the terminal sends them.
const std::string Right = "\x1b[C", Down = "\x1b[B";

std::string BoardOf(const std::string& reportLine) {
  return reportLine.substr(reportLine.rfind(' ') + 1);
}

// ---- The keyboard emulation
// -------------------------------------------------------------------------

using KeyboardEmulationTest = GameTest;

// Types keys one at a time, as a person does, each after the last was taken.
void Type(Child& child, const std::string& key, int times) {
  for (int i = 0; i < times; ++i) {
    Send(child, key);
    Sleep(0.03);
  }
}

// PickAndDrop: the emulated pointer right and down to a piece, picked with
// Space, then down to its square and dropped there.
void PickAndDrop(Child& child, int right, int down, int further) {
  Type(child, Right, right);
  Type(child, Down, down);
  Type(child, " ", 1);
  Sleep(0.5);
  Type(child, Down, further);
  Type(child, " ", 1);
}

TEST_F(KeyboardEmulationTest, PersonMovesWithArrowsAndSpaceAndTheComputerAnswers) {
  Run(Probe, Headless);
  ASSERT_TRUE(WaitForOutput(Game, "Could Not find mouse!!! Falling back to emulation", 30))
      << Game.Output;
  const auto first = WaitForReport(Game, "computer 1 1 ", 1, TurnTimeout);
  ASSERT_TRUE(first) << Game.Reports << Game.Output;
  const auto turn = WaitForReport(Game, "person-turn 2 ", 1, 10);
  ASSERT_TRUE(turn) << Game.Reports;
  const std::string opening = BoardOf(*turn);
  EXPECT_NE(opening, "rnbqkbnrpppppppp................................PPPPPPPPRNBQKBNR");

  // The emulated pointer starts at (0, 0): e7's centre is near (342, 120)
  // on its 6-pixel grid, e5's near (342, 216).
  PickAndDrop(Game, 57, 20, 16);

  const auto moved = WaitForReport(Game, "person 2 ", 1, 30);
  ASSERT_TRUE(moved) << Game.Reports;
  EXPECT_EQ(moved->substr(0, 11), "person 2 1 ");
  const std::string afterPerson = BoardOf(*moved);
  EXPECT_EQ(PieceOn(afterPerson, 'e', 7), '.');
  EXPECT_EQ(PieceOn(afterPerson, 'e', 5), 'p');

  const auto answer = WaitForReport(Game, "computer 1 ", 2, TurnTimeout);
  ASSERT_TRUE(answer) << Game.Reports;
  EXPECT_EQ(answer->substr(0, 13), "computer 1 1 ");
  EXPECT_NE(BoardOf(*answer), afterPerson);

  ASSERT_TRUE(WaitForReport(Game, "person-turn 2 ", 2, 10));
  Send(Game, "\x1b");
  EXPECT_EQ(WaitForExit(Game, 30), 0) << Game.Reports << Game.Output;
  const auto quit = WaitForReport(Game, "person 2 0 ", 1, 1);
  EXPECT_TRUE(quit) << Game.Reports;
  ExpectTerminalRestored(Game);
}

TEST_F(KeyboardEmulationTest, EscapeTypedWhileTheComputerThinksEndsTheRealGame) {
  Run(Kelvar, Headless);
  ASSERT_TRUE(WaitForOutput(Game, "Could Not find mouse!!! Falling back to emulation\r\n", 30))
      << Game.Output;
  // The key waits until the person's first turn.
  Send(Game, "\x1b");
  EXPECT_EQ(WaitForExit(Game, TurnTimeout), 0) << Game.Output;
  EXPECT_EQ(Game.Output.find("Runtime error"), std::string::npos) << Game.Output;
  ExpectTerminalRestored(Game);
}

// CpuSeconds: processor time of all of a process's threads so far.
double CpuSeconds(pid_t pid) {
  double total = 0;
  const fs::path tasks = "/proc/" + std::to_string(pid) + "/task";
  std::error_code error;
  for (const auto& task : fs::directory_iterator(tasks, error)) {
    std::ifstream stat(task.path() / "schedstat");
    unsigned long long nanoseconds = 0;
    if (stat >> nanoseconds) total += static_cast<double>(nanoseconds) / 1e9;
  }
  return total;
}

// IdleShare: the share of one core the process uses over the given time.
double IdleShare(Child& child, double seconds) {
  const double before = CpuSeconds(child.Pid);
  const auto start = Clock::now();
  Pump(child, seconds, [] { return false; });
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  return (CpuSeconds(child.Pid) - before) / wall;
}

// The person's pawn on e2 promotes on e1 at once; White only has far-off moves.
TEST_F(KeyboardEmulationTest, WaitingForThePersonCostsNoProcessorTime) {
  std::ofstream(Folder / "kelvar.in") << "a3\n\n\n\n\nh8\ne2\n\n\n\n\na6\n";
  Run(Probe, Headless);
  ASSERT_TRUE(WaitForReport(Game, "person-turn 2 ", 1, TurnTimeout)) << Game.Reports << Game.Output;
  ASSERT_GT(CpuSeconds(Game.Pid), 0.0) << "the processor time of the game cannot be read";
  Sleep(0.5);
  const double entry = IdleShare(Game, 2.0);
  std::printf("idle in the move entry: %.2f %% of a core\n", 100 * entry);
  EXPECT_LT(entry, 0.01);

  // e2 and e1 on the emulation's grid: (342, 360) and (342, 408).
  PickAndDrop(Game, 57, 60, 8);
  Sleep(1.0);
  const double chooser = IdleShare(Game, 2.0);
  std::printf("idle in the promotion chooser: %.2f %% of a core\n", 100 * chooser);
  EXPECT_LT(chooser, 0.01);
  EXPECT_EQ(Game.Reports.find("person 2 "), std::string::npos) << "the chooser did not wait";

  // The knight, left of the middle of the row.
  Type(Game, "\x1b[D", 16);
  Type(Game, "\x1b[A", 28);
  Type(Game, " ", 1);
  const auto moved = WaitForReport(Game, "person 2 1 ", 1, 30);
  ASSERT_TRUE(moved) << Game.Reports;
  EXPECT_EQ(PieceOn(BoardOf(*moved), 'e', 1), 'n');
  ASSERT_TRUE(WaitForReport(Game, "person-turn 2 ", 2, TurnTimeout)) << Game.Reports;
  Send(Game, "\x1b");
  EXPECT_EQ(WaitForExit(Game, 30), 0) << Game.Output;
  ExpectTerminalRestored(Game);
}

// ---- A soak: one whole game of random keys under the sanitizers -----------------------------

// The keyboard emulation's pointer as the game keeps it: 6-pixel steps,
// held on the screen.
struct EmulatedPoint {
  int X = 0, Y = 0;
  std::string Step(int dx, int dy) {
    X = std::clamp(X + dx, 0, 639);
    Y = std::clamp(Y + dy, 0, 479);
    return dx > 0 ? "\x1b[C" : dx < 0 ? "\x1b[D" : dy > 0 ? "\x1b[B" : "\x1b[A";
  }
  // The keys that bring the pointer as near as its grid allows to (x, y).
  std::string MoveTo(int x, int y) {
    std::string keys;
    while (X + 3 < x) keys += Step(6, 0);
    while (X - 3 > x) keys += Step(-6, 0);
    while (Y + 3 < y) keys += Step(0, 6);
    while (Y - 3 > y) keys += Step(0, -6);
    return keys;
  }
};

// BlackMoves: the person's legal moves on a board text (rank 8 first), found
// by the game's own rules on a position file written from it.
std::vector<Move> BlackMoves(const std::string& board, const fs::path& folder) {
  const std::string kinds = "pnbrqk";
  std::string lines[12];
  for (int i = 0; i < 64; ++i) {
    const char c = board[static_cast<std::size_t>(i)];
    if (c == '.') continue;
    const std::size_t kind = kinds.find(static_cast<char>(std::tolower(c)));
    if (kind == std::string::npos) continue;
    const std::size_t line = (std::isupper(c) ? 0 : 6) + kind;
    lines[line] += std::string(1, static_cast<char>('a' + i % 8)) + std::to_string(8 - i / 8) + " ";
  }
  const fs::path file = folder / "soak-position.in";
  {
    std::ofstream out(file);
    for (const std::string& line : lines) out << line << "\n";
  }
  LoadPosition(file.c_str());
  LegalMoveArray moves;
  const int count = LegalMoves(2, moves);
  std::vector<Move> result;
  for (int i = 1; i <= count; ++i) result.push_back(moves[i]);
  return result;
}

bool SanitizedBuild() {
#if defined(__SANITIZE_ADDRESS__)
  return true;
#else
  return std::getenv("KELVAR_SOAK_SEED") != nullptr;
#endif
}

// Random arrows, Space, Q and Enter (Esc only to end it) for 150 of the
// person's turns or until the game ends; most turns end in a legal move found
// with the game's own rules, some in a refused one. The game's generator is
// seeded as well, so KELVAR_SOAK_SEED=N plays the same game again.
TEST_F(KeyboardEmulationTest, SoakOfRandomKeysForAWholeGame) {
  if (!SanitizedBuild())
    GTEST_SKIP() << "runs in the sanitizer build (./test --sanitize), or with KELVAR_SOAK_SEED";
  const char* given = std::getenv("KELVAR_SOAK_SEED");
  const std::uint32_t seed = given != nullptr
                                 ? static_cast<std::uint32_t>(std::strtoul(given, nullptr, 10))
                                 : std::random_device{}();
  std::printf("soak seed %u (replay: KELVAR_SOAK_SEED=%u)\n", seed, seed);
  std::fflush(stdout);
  std::mt19937 random(seed);
  auto chance = [&](int percent) { return static_cast<int>(random() % 100) < percent; };

  EnvironmentChanges environment = Headless;
  environment["KELVAR_PROBE_SEED"] = std::to_string(seed);
  Run(Probe, environment);
  EmulatedPoint pointer;
  constexpr int Turns = 150;
  // KELVAR_SOAK_SECONDS bounds the time (6 minutes by default).
  const char* limit = std::getenv("KELVAR_SOAK_SECONDS");
  const auto deadline =
      Clock::now() + std::chrono::seconds(limit != nullptr ? std::atoi(limit) : 360);
  int turns = 0, refusals = 0, queens = 0;
  while (turns < Turns && Clock::now() < deadline) {
    // The next turn, with Enter now and then: it closes the computer's last
    // message box and is the key that ends the game after a mate.
    std::optional<std::string> turn;
    while (!turn && Game.Status == -1 && Clock::now() < deadline) {
      turn = WaitForReport(Game, "person-turn 2 ", turns + 1, 2);
      if (!turn && Game.Status == -1) Send(Game, "\r");
    }
    if (!turn) break;
    ++turns;
    const std::string board = BoardOf(*turn);
    const std::vector<Move> legal = BlackMoves(board, Folder);
    // The game leaves a person without a move to end it with Esc.
    if (legal.empty()) break;
    const int moved = turns;
    while (Game.Status == -1 && Clock::now() < deadline &&
           !WaitForReport(Game, "person 2 1 ", moved, 0.05)) {
      std::string noise;
      for (int n = static_cast<int>(random() % 4); n > 0; --n) {
        const int pick = static_cast<int>(random() % 8);
        if (pick < 4)
          noise += pointer.Step(pick == 0   ? 6
                                : pick == 1 ? -6
                                            : 0,
                                pick == 2   ? 6
                                : pick == 3 ? -6
                                            : 0);
        else if (pick == 4 && chance(30)) {
          noise += "Q";
          ++queens;
        } else
          noise += "\r";
      }
      Move move = legal[random() % legal.size()];
      if (chance(15)) {
        move.ToFile = static_cast<std::uint8_t>(1 + random() % 8);
        move.ToRank = static_cast<std::uint8_t>(1 + random() % 8);
        ++refusals;
      }
      auto centre = [](int file, int rank) {
        return std::pair{SquareX(static_cast<char>('a' + file - 1)), SquareY(rank)};
      };
      const auto [fromX, fromY] = centre(move.FromFile, move.FromRank);
      const auto [toX, toY] = centre(move.ToFile, move.ToRank);
      // The terminal's arrows are taken about 20 ms apart (the wait that
      // tells them from a lone Esc), and clicks count only 0.3 s apart,
      // from the start of the turn: each click waits for the keys before it.
      // The game reads the terminal 256 bytes at a time, and an arrow split
      // between two reads of a busy machine would be a lone Esc: no more
      // than 255 bytes are ever on their way.
      auto type = [&](const std::string& keys) {
        std::size_t at = 0;
        while (at < keys.size()) {
          std::size_t end = std::min(keys.size(), at + 255);
          while (end < keys.size() && keys[end] != '\x1b' && end > at) --end;
          if (end == at) end = keys.size();
          const std::string piece = keys.substr(at, end - at);
          Send(Game, piece);
          Sleep(0.01 + 0.03 * static_cast<double>(std::count(piece.begin(), piece.end(), '\x1b')));
          at = end;
        }
      };
      type(noise + pointer.MoveTo(fromX, fromY));
      Sleep(0.35);
      type(" ");
      Sleep(0.35);
      type(pointer.MoveTo(toX, toY) + " ");
      // A refusal's box waits for this Enter; after a move it is a key the
      // pointer has no use for.
      Sleep(0.05);
      type("\r");
      if (WaitForReport(Game, "person 2 1 ", moved, 0.5)) break;
    }
  }
  const bool escaped = Game.Status == -1;
  if (escaped) Send(Game, "\x1b");
  const int status = WaitForExit(Game, TurnTimeout);
  std::printf("soak seed %u: %d of the person's turns, %d refusals tried, %d Q keys, %s\n", seed,
              turns, refusals, queens, escaped ? "ended with Esc" : "the game ended by itself");
  std::printf(
      "the reports of the last turns:\n%s",
      Game.Reports.substr(Game.Reports.size() > 600 ? Game.Reports.size() - 600 : 0).c_str());
  EXPECT_EQ(status, 0) << Game.Output;
  ExpectTerminalRestored(Game);
  for (const char* report : {"Sanitizer", "runtime error", "Runtime error"})
    EXPECT_EQ(Game.Output.find(report), std::string::npos) << Game.Output;
  EXPECT_TRUE(turns >= Turns || Clock::now() < deadline) << "the soak ran out of time";
}

// ---- The failure paths
// ------------------------------------------------------------------------------

using FailurePathTest = GameTest;

void ExpectRuntimeError(Child& game, int code) {
  EXPECT_EQ(WaitForExit(game, 60), code) << game.Output;
  const std::string start = "Runtime error " + std::to_string(code) + " at 0x";
  const std::size_t at = game.Output.find(start);
  ASSERT_NE(at, std::string::npos) << game.Output;
  const std::string place = game.Output.substr(at + start.size(), 9);
  EXPECT_EQ(place.find_first_not_of("0123456789ABCDEFabcdef"), 8u) << game.Output;
  EXPECT_TRUE(place.size() == 9 && (place[8] == '\r' || place[8] == '\n')) << game.Output;
  ExpectTerminalRestored(game);
}

TEST_F(FailurePathTest, MissingStartPositionEndsWithError2) {
  fs::remove(Folder / "kelvar.in");
  Run(Kelvar, Headless);
  ExpectRuntimeError(Game, 2);
}

TEST_F(FailurePathTest, MalformedStartPositionEndsWithError201) {
  std::ofstream(Folder / "kelvar.in") << "a2 b2 z9\nb1 g1\nc1 f1\na1 h1\nd1\ne1\n"
                                         "a7\nb8\nc8\na8\nd8\ne8\n";
  Run(Kelvar, Headless);
  ExpectRuntimeError(Game, 201);
}

TEST_F(FailurePathTest, MissingPieceBitmapEndsWithError2) {
  fs::remove(Folder / "fig4.x");
  Run(Kelvar, Headless);
  ExpectRuntimeError(Game, 2);
}

TEST_F(FailurePathTest, MissingPromotionPictureEndsAtStartUpWithError100) {
  fs::remove(Folder / "PawnFix.x");
  Run(Probe, Headless);
  ExpectRuntimeError(Game, 100);
  EXPECT_NE(Game.Output.find("PawnFix.x: cannot open: No such file or directory"),
            std::string::npos)
      << Game.Output;
  EXPECT_EQ(Game.Reports, "") << "a turn was played";
}

TEST_F(FailurePathTest, NoDisplayEndsWithTheGraphicsError) {
  Run(Kelvar, {{"SDL_VIDEODRIVER", std::nullopt},
               {"DISPLAY", std::nullopt},
               {"WAYLAND_DISPLAY", std::nullopt}});
  EXPECT_EQ(WaitForExit(Game, 60), 1) << Game.Output;
  EXPECT_NE(Game.Output.find(
                "Error: Not in graphics mode (use InitGraph and test GraphResult afterwards)"),
            std::string::npos)
      << Game.Output;
  ExpectTerminalRestored(Game);
}

// ---- A real window under Xvfb
// -----------------------------------------------------------------------

// WindowEnvironment: the game's environment for a window on the server.
EnvironmentChanges WindowEnvironment(const XvfbServer& x) {
  return {
      {"DISPLAY", x.Display}, {"SDL_VIDEODRIVER", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}};
}

// ExpectComputerOpened: the board (as Occupancy reads it) of the person's
// first turn: all pieces there, Black's as at the start, White's not.
void ExpectComputerOpened(const std::string& opening) {
  EXPECT_EQ(opening.substr(0, 16), std::string(16, 'b'));
  EXPECT_EQ(Count(opening, 'b'), 16);
  EXPECT_EQ(Count(opening, 'w'), 16);
  EXPECT_NE(opening.substr(48), std::string(16, 'w')) << "the computer has not moved";
}

class RealWindowTest : public GameTest {
 protected:
  void SetUp() override {
    GameTest::SetUp();
    for (const char* tool : {"Xvfb", "xdotool", "import"})
      if (FindProgram(tool).empty()) GTEST_SKIP() << tool << " is not installed";
    Logs.push_back("xvfb.stderr");
    ASSERT_TRUE(X.Start("1280x1024x24", Folder / "xvfb.stderr")) << "Xvfb did not start";
  }

  // Stopped: the game or the server has exited (a failure saying so).
  bool Stopped() {
    const std::string gone =
        Game.Status != -1 ? "the game has exited (status " + std::to_string(Game.Status) + ")"
                          : X.Gone();
    if (!gone.empty()) ADD_FAILURE() << gone << ", waited no longer";
    return !gone.empty();
  }

  std::optional<std::string> Tool(const std::vector<std::string>& args) { return X.Tool(args); }

  // FindWindow: the game's window and the place of its picture in it.
  bool FindWindow(double seconds) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
      Pump(Game, 0.2, [] { return false; });
      if (Stopped()) return false;
      const auto found = Tool({"xdotool", "search", "--name", "^kelvar$"});
      if (found && !found->empty()) {
        Window = found->substr(0, found->find('\n'));
        const auto geometry = Tool({"xdotool", "getwindowgeometry", "--shell", Window});
        if (!geometry) return false;
        const std::size_t width = geometry->find("WIDTH="), height = geometry->find("HEIGHT=");
        if (width == std::string::npos || height == std::string::npos) return false;
        Width = std::atoi(geometry->c_str() + width + 6);
        Height = std::atoi(geometry->c_str() + height + 7);
        // The picture keeps its shape, at the largest whole scale that fits,
        // centred; a window smaller than the screen shows it reduced.
        Place = PlacementIn(Width, Height);
        return true;
      }
    }
    return false;
  }

  // Shot: the window's picture, one screenshot pixel per screen pixel.
  std::optional<Picture> Shot() {
    const auto image = X.Screenshot(Window);
    if (!image || image->Width != Width || image->Height != Height) return std::nullopt;
    return PictureIn(*image, Place);
  }

  // WaitForShot: screenshots until one satisfies the test.
  template <typename Test>
  std::optional<Picture> WaitForShot(double seconds, Test test) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
      Pump(Game, 0.3, [] { return false; });
      if (Stopped()) return std::nullopt;
      auto shot = Shot();
      if (shot && test(*shot)) return shot;
    }
    return std::nullopt;
  }

  void ClickScreen(int x, int y) {
    const int wx = Place.X + (2 * x + 1) * Place.W / 1280;
    const int wy = Place.Y + (2 * y + 1) * Place.H / 960;
    X.Click(Window, wx, wy);
  }

  void ClickSquare(char file, int rank) { ClickScreen(SquareX(file), SquareY(rank)); }

  void Key(const std::string& name) { X.Key(Window, name); }

  XvfbServer X;
  std::string Window;
  int Width = 0, Height = 0;
  Placement Place;
};

TEST_F(RealWindowTest, MouseMovesRefusalInABoxAndEscape) {
  Run(Kelvar, WindowEnvironment(X));
  ASSERT_TRUE(FindWindow(60)) << Game.Output;
  EXPECT_EQ(Game.Output.find("Could Not find mouse"), std::string::npos) << Game.Output;

  const Picture waiting = Reference([] { ShowStatus("waiting"); });
  auto isWaiting = [&](const Picture& shot) { return SameArea(shot, waiting, 540, 468, 639, 479); };
  const auto first = WaitForShot(TurnTimeout, isWaiting);
  ASSERT_TRUE(first) << Game.Output;
  const std::string opening = Occupancy(*first);
  ExpectComputerOpened(opening);

  ClickSquare('e', 7);
  ClickSquare('e', 5);
  const auto answered = WaitForShot(TurnTimeout, [&](const Picture& shot) {
    return isWaiting(shot) && Answered(opening, Occupancy(shot));
  });
  ASSERT_TRUE(answered) << "no answer to e7-e5 seen; " << Game.Output;

  // e5-e3 is no pawn's move: refused in the error box.
  const Picture box =
      Reference([] { DrawMessageBox("Error", "That figure cannot be moved there, fool!"); });
  const int half =
      4 * static_cast<int>(std::string("That figure cannot be moved there, fool!").size());
  auto showsBox = [&](const Picture& shot) {
    return SameArea(shot, box, 300 - half, 214, 340 + half, 266);
  };
  const std::string beforeRefusal = Occupancy(*answered);
  ClickSquare('e', 5);
  ClickSquare('e', 3);
  ASSERT_TRUE(WaitForShot(30, showsBox)) << Game.Output;
  // A click while the box waits for its key is stale once the box is gone:
  // it must not pick e7.
  ClickSquare('e', 7);
  Key("Return");
  const auto redrawn = WaitForShot(
      30, [&](const Picture& shot) { return !showsBox(shot) && Occupancy(shot) == beforeRefusal; });
  ASSERT_TRUE(redrawn) << Game.Output;
  Sleep(0.5);
  const auto settled = Shot();
  ASSERT_TRUE(settled);
  // The top line of the frame e7 would get, one pixel above the square.
  EXPECT_NE(settled->At(BoardLeft + 4 * 48 + 24, BoardTop + 48 - 1), (Rgb{255, 255, 255}));

  // With the mouse, keys are looked at after the next pointer event.
  Key("Escape");
  Sleep(0.2);
  ClickScreen(600, 100);
  EXPECT_EQ(WaitForExit(Game, 30), 0) << Game.Output;
  ExpectTerminalRestored(Game);
}

// ---- The installed game
// --------------------------------------------------------------------------
// KELVAR_INSTALLED_GAME names an installed launcher (a path, or a name looked
// up on PATH); CI sets it after installing the package. Started from a folder
// with no game files, it shows the board, and closing its window ends it.

// RequestClose: the close request a window manager sends (WM_DELETE_WINDOW),
// through the X library loaded at run time, so the suite needs no X headers.
bool RequestClose(const std::string& display, const std::string& window) {
  void* x11 = dlopen("libX11.so.6", RTLD_NOW);
  if (x11 == nullptr) return false;
  using OpenDisplay = void* (*)(const char*);
  using InternAtom = unsigned long (*)(void*, const char*, int);
  using SendEvent = int (*)(void*, unsigned long, int, long, void*);
  using Flush = int (*)(void*);
  auto open = reinterpret_cast<OpenDisplay>(dlsym(x11, "XOpenDisplay"));
  auto atom = reinterpret_cast<InternAtom>(dlsym(x11, "XInternAtom"));
  auto send = reinterpret_cast<SendEvent>(dlsym(x11, "XSendEvent"));
  auto flush = reinterpret_cast<Flush>(dlsym(x11, "XFlush"));
  auto close = reinterpret_cast<Flush>(dlsym(x11, "XCloseDisplay"));
  if (open == nullptr || atom == nullptr || send == nullptr || flush == nullptr || close == nullptr)
    return false;
  void* connection = open(display.c_str());
  if (connection == nullptr) return false;
  // XClientMessageEvent inside the 24 longs of an XEvent.
  struct ClientMessage {
    int Type;
    unsigned long Serial;
    int SendEvent;
    void* Display;
    unsigned long Window;
    unsigned long MessageType;
    int Format;
    long Data[5];
  };
  union {
    ClientMessage Message;
    long Pad[24];
  } event{};
  constexpr int ClientMessageType = 33;
  event.Message.Type = ClientMessageType;
  event.Message.Window = std::stoul(window);
  event.Message.MessageType = atom(connection, "WM_PROTOCOLS", 0);
  event.Message.Format = 32;
  event.Message.Data[0] = static_cast<long>(atom(connection, "WM_DELETE_WINDOW", 0));
  const bool sent = send(connection, event.Message.Window, 0, 0, &event) != 0;
  flush(connection);
  close(connection);
  return sent;
}

using InstalledGameTest = RealWindowTest;

TEST_F(InstalledGameTest, StartsFromAnEmptyFolderShowsTheBoardAndEndsWithItsWindow) {
  const char* named = std::getenv("KELVAR_INSTALLED_GAME");
  if (named == nullptr || *named == '\0') GTEST_SKIP() << "KELVAR_INSTALLED_GAME is not set";
  const std::string game = std::strchr(named, '/') != nullptr ? named : FindProgram(named);
  ASSERT_FALSE(game.empty()) << named << " is not on PATH";
  // An empty folder to start from, the server's log aside.
  auto files = [&] {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(Folder))
      if (std::find(Logs.begin(), Logs.end(), entry.path().filename()) == Logs.end())
        found.push_back(entry.path());
    return found;
  };
  for (const fs::path& file : files()) fs::remove(file);

  Run(game, WindowEnvironment(X));
  ASSERT_TRUE(FindWindow(60)) << Game.Output;
  const Picture waiting = Reference([] { ShowStatus("waiting"); });
  const auto first = WaitForShot(TurnTimeout, [&](const Picture& shot) {
    return SameArea(shot, waiting, 540, 468, 639, 479);
  });
  ASSERT_TRUE(first) << Game.Output;
  const std::string opening = Occupancy(*first);
  ExpectComputerOpened(opening);

  ASSERT_TRUE(RequestClose(X.Display, Window));
  EXPECT_EQ(WaitForExit(Game, 30), 0) << Game.Output;
  EXPECT_EQ(Game.Output.find("Runtime error"), std::string::npos) << Game.Output;
  EXPECT_TRUE(files().empty()) << "the game wrote into the folder it was started from";
}

}  // namespace
