// The game in a terminal the test plays itself on a pseudo-terminal: sizes
// no real terminal has, answers that come late, the Linux console's
// colours, nothing left for the shell, a short game (which KELVAR_PTY_PROBE
// plays with another processor's build under emulation).

#include "tests/terminal_game_support.h"

namespace {

using namespace support;
using namespace terminal_game;

// ---- A terminal played by the test on a pseudo-terminal ----------------------------------

// The game on a pty whose other side the test holds: the test answers the
// game's questions as it likes (late, or with sizes no real terminal has)
// and sees every byte the game writes. A shell starts the game and stays,
// as a login shell would, so the terminal outlives the game and what is
// left unread in it would reach that shell.
class PtyTerminalTest : public TerminalGameTest {
 protected:
  void TearDown() override {
    CloseChild(Game);
    TerminalGameTest::TearDown();
  }

  // ProbeCommand: the game the shell starts: KELVAR_PTY_PROBE when set (a
  // shell command, such as an emulator with a cross build's probe), else
  // this build's probe.
  static std::string ProbeCommand() {
    const char* given = std::getenv("KELVAR_PTY_PROBE");
    return given != nullptr && *given != '\0' ? given : Probe;
  }

  void StartOnPty(const std::string& term, unsigned short columns, unsigned short rows) {
    fs::remove(Folder / "status");
    const std::string f = Folder.string();
    std::ofstream(Folder / "run") << "#!/bin/sh\n"
                                  << ProbeCommand() << "\necho $? >" << f << "/status.tmp\nmv " << f
                                  << "/status.tmp " << f << "/status\nexec sleep 600\n";
    fs::permissions(Folder / "run", fs::perms::owner_all);
    Game = Spawn((Folder / "run").string(), f,
                 {{"KELVAR_DISPLAY", "terminal"},
                  {"TERM", term},
                  {"DISPLAY", std::nullopt},
                  {"WAYLAND_DISPLAY", std::nullopt},
                  {"SDL_VIDEODRIVER", std::nullopt}},
                 columns, rows);
  }

  // Asked: the game has asked for the device attributes n times.
  bool Asked(int n, double seconds) {
    return Pump(Game, seconds, [&] {
      int count = 0;
      for (std::size_t at = Game.Output.find("\x1b[c"); at != std::string::npos;
           at = Game.Output.find("\x1b[c", at + 1))
        ++count;
      return count >= n;
    });
  }

  // GameStatus: the game's exit status, reading its output meanwhile. The
  // status comes after the game's last bytes were written, but the terminal
  // passes them on in its own time: what it still brings within a short
  // quiet spell is read too.
  std::optional<int> GameStatus(double seconds) {
    if (!Pump(Game, seconds, [&] { return fs::exists(Folder / "status"); })) return std::nullopt;
    for (std::size_t seen = std::string::npos; seen != Game.Output.size();) {
      seen = Game.Output.size();
      Pump(Game, 0.2, [&] { return Game.Output.size() != seen; });
    }
    return std::atoi(ReadText(Folder / "status").c_str());
  }

  // ExpectNothingLeftForTheShell: no byte the terminal sent is still unread
  // after the game: Enter then gives the shell an empty line (the terminal
  // is back in line mode, so a line is read only when it ends).
  void ExpectNothingLeftForTheShell() {
    const std::size_t before = Game.Output.size();
    Send(Game, "\n");
    Pump(Game, 0.3, [] { return false; });
    int unread = -1;
    ASSERT_EQ(ioctl(Game.Slave, FIONREAD, &unread), 0);
    EXPECT_EQ(unread, 1) << "bytes left for the shell, echoed: " << Game.Output.substr(before);
  }

  // ChildrenSeconds: processor time the processes the shell started have used.
  double ChildrenSeconds() const {
    long ticks = 0;
    for (const auto& entry : fs::directory_iterator("/proc")) {
      std::ifstream file(entry.path() / "stat");
      std::string text;
      std::getline(file, text);
      const std::size_t name = text.rfind(')');
      if (name == std::string::npos) continue;
      std::istringstream fields(text.substr(name + 2));
      std::string state;
      long parent = 0, skip = 0, user = 0, system = 0;
      fields >> state >> parent;
      for (int k = 0; k < 9; ++k) fields >> skip;
      fields >> user >> system;
      if (fields && parent == Game.Pid) ticks += user + system;
    }
    return static_cast<double>(ticks) / static_cast<double>(sysconf(_SC_CLK_TCK));
  }

  Child Game;
};

TEST_F(PtyTerminalTest, HugeReportedSizesPlayAndLeaveQuicklyWithNothingForTheShell) {
  struct Case {
    unsigned short Columns, Rows;
    std::string Answers, Mode;
    int Exchanges;  // a sixel terminal is asked its limits after its attributes
  };
  // Sixels in 8 x 16 cells, the cell size told; symbols when none is told.
  for (const Case& c : {Case{10000, 10000, "\x1b[6;16;8t\x1b[?62;4c", "sixels", 2},
                        Case{65535, 65535, "\x1b[?62c", "symbols", 1}}) {
    SCOPED_TRACE(std::to_string(c.Columns) + "x" + std::to_string(c.Rows));
    StartOnPty("xterm-256color", c.Columns, c.Rows);
    ASSERT_TRUE(Asked(1, 30)) << Game.Output;
    Send(Game, c.Answers);
    if (c.Exchanges == 2) {
      // Limits it does not know: the attributes alone close the exchange.
      ASSERT_TRUE(Asked(2, 30)) << Game.Output;
      Send(Game, "\x1b[?62;4c");
    }
    ASSERT_TRUE(WaitForOutput(Game, "drawing in the terminal with " + c.Mode, 30)) << Game.Output;
    ASSERT_TRUE(WaitForReport(Game, "person-turn 2 ", 1, TurnTimeout)) << Game.Output.size();
    // The picture drawn in full: for half a second nothing more comes and
    // the game uses no processor time (it waits for the person).
    for (std::size_t seen = std::string::npos; seen != Game.Output.size();) {
      seen = Game.Output.size();
      for (double used = -1; used != ChildrenSeconds();) {
        used = ChildrenSeconds();
        Pump(Game, 0.5, [&] { return Game.Output.size() != seen; });
      }
    }
    EXPECT_LT(Game.Output.size(), 8000000u) << "bytes for a board";
    // Esc, then a movement. On its way out the game asks once more and
    // drops what comes before the answer: a report still under way.
    Send(Game, "\x1b");
    Sleep(0.2);
    Send(Game, "\x1b[<35;20;20M");
    // Leaving draws nothing more than the pointer's step: a little
    // processor time, which a busy machine does not stretch as it does
    // the time on the clock.
    const auto leaving = Clock::now();
    const double busy = ChildrenSeconds();
    ASSERT_TRUE(Asked(c.Exchanges + 1, 30));
    EXPECT_LT(ChildrenSeconds() - busy, 1.0) << "processor seconds to leave";
    Send(Game, "\x1b[<35;21;20M\x1b[?62;4c");
    EXPECT_EQ(GameStatus(30), 0);
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - leaving).count(), 20.0);
    ExpectNothingLeftForTheShell();
    support::ExpectTerminalRestored(Game);
    CloseChild(Game);
  }
}

// A short game in coloured symbols: the board, e7-e5 clicked with mouse
// reports, the computer's answer, Esc. The whole game on another processor
// runs this one under emulation (KELVAR_PTY_PROBE).
TEST_F(PtyTerminalTest, ShortGameInSymbolsMoveWithMouseReportsAndEscape) {
  const TerminalSize size{100, 40, 0, 0};
  const PictureLayout layout = LayoutPicture(TerminalMode::Symbols, size);
  StartOnPty("xterm-256color", static_cast<unsigned short>(size.Columns),
             static_cast<unsigned short>(size.Rows));
  ASSERT_TRUE(Asked(1, 60)) << Game.Output;
  Send(Game, "\x1b[?62c");
  ASSERT_TRUE(WaitForOutput(Game, "drawing in the terminal with symbols", 60)) << Game.Output;
  const auto first = WaitForReport(Game, "person-turn 2 ", 1, TurnTimeout);
  ASSERT_TRUE(first) << Game.Reports;
  // Every square of the board, drawn in cells the picture's size.
  EXPECT_GT(Game.Output.size(), static_cast<std::size_t>(layout.Columns * layout.Rows));
  const auto mouse = [&](int code, char file, int rank, char final) {
    const int x = BoardLeft + 48 * (file - 'a') + 24, y = BoardTop + 48 * (8 - rank) + 24;
    Send(Game, "\x1b[<" + std::to_string(code) + ";" +
                   std::to_string(layout.Left + x * layout.Columns / 640 + 1) + ";" +
                   std::to_string(layout.Top + y * layout.Rows / 480 + 1) + final);
  };
  // The game takes no click in the first moments of the person's turn.
  Pump(Game, 1.0, [] { return false; });
  for (const auto& [file, rank] : {std::pair{'e', 7}, std::pair{'e', 5}}) {
    mouse(35, file, rank, 'M');
    Pump(Game, 0.2, [] { return false; });
    mouse(0, file, rank, 'M');
    Pump(Game, 0.1, [] { return false; });
    mouse(0, file, rank, 'm');
    Pump(Game, 0.5, [] { return false; });
  }
  const auto moved = WaitForReport(Game, "person 2 ", 1, 60);
  ASSERT_TRUE(moved) << Game.Reports;
  EXPECT_EQ(PieceOn(*moved, 'e', 5), 'p');
  EXPECT_EQ(PieceOn(*moved, 'e', 7), '.');
  ASSERT_TRUE(WaitForReport(Game, "person-turn 2 ", 2, TurnTimeout)) << Game.Reports;
  Send(Game, "\x1b");
  Pump(Game, 0.3, [] { return false; });
  mouse(35, 'a', 1, 'M');
  ASSERT_TRUE(Asked(2, 60));
  Send(Game, "\x1b[?62c");
  EXPECT_EQ(GameStatus(60), 0);
  ExpectNothingLeftForTheShell();
  support::ExpectTerminalRestored(Game);
}

TEST_F(PtyTerminalTest, LateAnswersAreNotLeftForTheShell) {
  StartOnPty("xterm-256color", 100, 40);
  ASSERT_TRUE(Asked(1, 30));
  // The answers come half a second after the game stopped waiting for them.
  Pump(Game, 2.5, [] { return false; });
  Send(Game, "\x1b[?1006;1$y\x1b[6;16;8t\x1b[?62;4c");
  EXPECT_EQ(GameStatus(30), 1);
  EXPECT_NE(Game.Output.find("did not answer"), std::string::npos) << Game.Output;
  ExpectNothingLeftForTheShell();
  support::ExpectTerminalRestored(Game);
}

// ConsoleBytes: what is wrong with output meant for the Linux console: any
// sequence but cursor moves, clearing, the cursor's and line wrap's modes and
// 16-colour SGR (0, 30..37, 90..97, 40..47), and any character but a space,
// the half and full blocks and the shades its font has, or line ends.
std::string ConsoleBytes(const std::string& bytes) {
  static const std::vector<std::string> glyphs = {" ",      "\u2580", "\u2584", "\u2588", "\u258c",
                                                  "\u2590", "\u2591", "\u2592", "\u2593"};
  for (std::size_t i = 0; i < bytes.size();) {
    if (bytes[i] == '\x1b') {
      if (bytes[i + 1] != '[') return "not a control sequence at " + std::to_string(i);
      const std::size_t end = SequenceEnd(bytes, i + 2);
      const std::string params = bytes.substr(i + 2, end - i - 2);
      const char final = bytes[end];
      if (final == 'm') {
        std::istringstream numbers(params);
        for (std::string n; std::getline(numbers, n, ';');) {
          const int v = n.empty() ? 0 : std::atoi(n.c_str());
          if (!(v == 0 || (v >= 30 && v <= 37) || (v >= 90 && v <= 97) || (v >= 40 && v <= 47)))
            return "colour " + params;
        }
      } else if (final != 'H' && final != 'J' && params != "?25" && params != "?7" &&
                 !(final == 'c' && params.empty())) {
        return "sequence " + params + final;
      }
      i = end + 1;
      continue;
    }
    if (bytes[i] == '\r' || bytes[i] == '\n') {
      ++i;
      continue;
    }
    const std::string glyph = bytes.substr(i, Utf8Length(bytes[i]));
    if (std::find(glyphs.begin(), glyphs.end(), glyph) == glyphs.end())
      return "character " + glyph + " at " + std::to_string(i);
    i += glyph.size();
  }
  return "";
}

TEST_F(PtyTerminalTest, LinuxConsoleInItsSixteenColoursAndItsLinesBackAfterwards) {
  StartOnPty("linux", 80, 25);
  ASSERT_TRUE(Asked(1, 30)) << Game.Output;
  // The console answers the device attributes only; the questions it would
  // print as text are not asked.
  EXPECT_EQ(Game.Output.find("$p"), std::string::npos);
  EXPECT_EQ(Game.Output.find("\x1b_G"), std::string::npos);
  Send(Game, "\x1b[?6c");
  ASSERT_TRUE(WaitForReport(Game, "person-turn 2 ", 1, TurnTimeout)) << Game.Output;
  const std::size_t drawn = Game.Output.find("\x1b[?25l");
  ASSERT_NE(drawn, std::string::npos);
  // The keyboard's pointer: an arrow moves it, Space picks a square; the
  // picture changes only in the console's colours and glyphs.
  Send(Game, "\x1b[B\x1b[B\x1b[C ");
  Pump(Game, 1.0, [] { return false; });
  EXPECT_EQ(ConsoleBytes(Game.Output.substr(drawn)), "");
  const std::size_t board = Game.Output.size();
  EXPECT_GT(board - drawn, 2000u) << "a board was drawn";
  Send(Game, "\x1b");
  ASSERT_TRUE(Asked(2, 30));
  Send(Game, "\x1b[?6c");
  EXPECT_EQ(GameStatus(30), 0);
  // No alternate screen to go back to: the screen is cleared and the game's
  // start line written again at its top.
  const std::size_t left = Game.Output.rfind("\x1b[2J\x1b[H");
  ASSERT_NE(left, std::string::npos);
  EXPECT_NE(Game.Output.find("kelvar: drawing in the terminal with the console's 16 colours", left),
            std::string::npos)
      << Game.Output.substr(left);
  ExpectNothingLeftForTheShell();
  support::ExpectTerminalRestored(Game);
}

}  // namespace
