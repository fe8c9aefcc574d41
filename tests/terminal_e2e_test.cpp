// The game in a terminal, end to end, as a player sees it:
//   - a real sixel terminal (xterm as a VT340 under Xvfb): the board in
//     screenshots of the terminal window, drawn again when the window grows,
//     a move made with clicks, a refused move's box closed with Enter, Esc,
//     and the terminal put back;
//   - tmux, which shows no sixels: the board as coloured symbols in its
//     cells, a move made with mouse reports typed into the pane; a run-time
//     error and a hang-up leave the terminal as it was;
//   - a terminal the test plays itself on a pseudo-terminal: sizes no
//     real terminal has, answers that come late, nothing left for the shell;
//   - the choice of display: no display and no terminal, and a terminal
//     demanded on a pipe, both end with the graphics error.
// The game is kelvar-probe (the real program with a report of each turn on
// descriptor 3, sent to a file here). Tests skip only when a program they
// drive (Xvfb, xterm, xdotool, import, tmux) is not installed.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "display/display.h"
#include "platform/terminal/terminal_parts.h"
#include "tests/process_support.h"
#include "tests/pty_support.h"
#include "tests/screen_support.h"
#include "tests/terminal_support.h"

namespace {

using namespace support;

// WithoutLeakCheck: the sanitizer's options for a game that first tries a
// window: SDL keeps what its failed start allocated. The terminal's own code
// is leak-checked where the terminal is asked for (KELVAR_DISPLAY=terminal).
std::string WithoutLeakCheck() {
  const char* options = std::getenv("ASAN_OPTIONS");
  return (options != nullptr && *options != '\0' ? std::string(options) + ":" : std::string()) +
         "detect_leaks=0";
}

// ---- A game in a folder of its own, its reports, status and terminal settings in files ----

class TerminalGameTest : public GameFolderTest {
 protected:
  TerminalGameTest() : GameFolderTest("kelvar-term") {}
  void SetUp() override {
    GameFolderTest::SetUp();
    Logs.push_back("stderr");
  }
  void TearDown() override {
    for (pid_t pid : Started)
      if (pid > 0) {
        kill(-pid, SIGKILL);
        Wait(pid);
      }
    GameFolderTest::TearDown();
  }

  // GameCommand: the shell line a terminal runs: the game with no display of
  // its own (forced to the terminal, or finding it by itself), then its
  // status and the terminal's settings, then a pause so the terminal stays
  // for a last look.
  std::string GameCommand(bool forced) const {
    const std::string f = Folder.string();
    const std::string settings =
        forced ? "KELVAR_DISPLAY=terminal" : "-u KELVAR_DISPLAY ASAN_OPTIONS=" + WithoutLeakCheck();
    return "cd " + f + " && env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER " + settings +
           " " + Probe + " 3>" + f + "/reports 2>" + f + "/stderr; echo $? >" + f +
           "/status.tmp; stty -a >" + f + "/stty; mv " + f + "/status.tmp " + f +
           "/status; sleep 600";
  }

  // Gone: "" while the programs the game runs in are there, else which has exited.
  virtual std::string Gone() const { return ""; }

  // Await: WaitUntil, given up at once (a failure saying so) when Gone() tells of an end.
  template <typename Done>
  bool Await(double seconds, Done done) {
    std::string gone;
    const bool met = WaitUntil(seconds, [&] {
      if (done()) return true;
      gone = Gone();
      return !gone.empty();
    });
    if (!gone.empty()) ADD_FAILURE() << gone << ", waited no longer";
    return met && gone.empty();
  }

  // Report: the n-th report line starting with prefix, waiting for it.
  std::optional<std::string> Report(const std::string& prefix, int n, double seconds) {
    std::optional<std::string> found;
    Await(seconds, [&] {
      found = LineStarting(ReadText(Folder / "reports"), prefix, n);
      return found.has_value();
    });
    return found;
  }

  std::optional<int> ExitStatus(double seconds) {
    if (!Await(seconds, [&] { return fs::exists(Folder / "status"); })) return std::nullopt;
    return std::atoi(ReadText(Folder / "status").c_str());
  }

  // ExpectTerminalRestored: the terminal is back in its ordinary line mode.
  void ExpectTerminalRestored() {
    const std::string stty = ReadText(Folder / "stty");
    ASSERT_FALSE(stty.empty());
    std::istringstream words(stty);
    std::vector<std::string> settings{std::istream_iterator<std::string>(words),
                                      std::istream_iterator<std::string>()};
    for (const char* setting : {"icanon", "echo", "isig", "icrnl"})
      EXPECT_NE(std::find(settings.begin(), settings.end(), setting), settings.end())
          << setting << " in " << stty;
  }

  std::vector<pid_t> Started;
};

bool IsGreen(const Rgb& p) { return p.G > 40 && p.R < 30 && p.B < 30; }
bool IsGrey(const Rgb& p) {
  return p.R > 60 && std::abs(p.R - p.G) < 24 && std::abs(p.G - p.B) < 24;
}

// ---- A real sixel terminal ---------------------------------------------------------------

using Shot = Image;

class XtermTest : public TerminalGameTest {
 protected:
  void SetUp() override {
    TerminalGameTest::SetUp();
    for (const char* tool : {"Xvfb", "xterm", "xdotool", "import"})
      if (FindProgram(tool).empty()) GTEST_SKIP() << tool << " is not installed";
    Logs.insert(Logs.end(), {"xvfb.stderr", "xterm.stderr"});
    ASSERT_TRUE(X.Start("1024x768x24", Folder / "xvfb.stderr")) << "Xvfb did not start";
    Title = "kelvar-xterm-" + std::to_string(getpid());
    // A VT340 with 256 colour registers shows sixels; the fixed 6 x 13 font
    // and 120 x 42 cells hold the picture at its own size.
    const int err = OpenLog(Folder / "xterm.stderr");
    Xterm = support::Start({"xterm", "-ti", "vt340", "-xrm", "XTerm*numColorRegisters: 256", "-xrm",
                            "XTerm*decTerminalID: vt340", "-fn", "fixed", "-geometry", "120x42+0+0",
                            "-T", Title, "-e", "sh", "-c", GameCommand(false)},
                           {{"DISPLAY", X.Display}}, -1, -1, err);
    if (err >= 0) close(err);
    Started.push_back(Xterm);
  }

  std::string Gone() const override {
    const std::string xterm = ExitNote("xterm on " + X.Display, Xterm);
    return xterm.empty() ? X.Gone() : xterm;
  }

  std::optional<std::string> Tool(const std::vector<std::string>& args) { return X.Tool(args); }

  bool FindWindow() {
    return Await(30, [&] {
      const auto found = Tool({"xdotool", "search", "--name", "^" + Title + "$"});
      if (!found || found->empty()) return false;
      Window = found->substr(0, found->find('\n'));
      return true;
    });
  }

  std::optional<Shot> Screenshot() { return X.Screenshot(Window); }

  // FindBoard: the board's white frame, 385 pixels wide, gives where screen
  // pixel (0, 0) lies in the window.
  bool FindBoard(const Shot& shot) {
    // The terminal's own border may be white too, but not 385 pixels wide.
    for (int y = 0; y < shot.Height; ++y) {
      int run = 0;
      for (int x = 0; x <= shot.Width; ++x) {
        const Rgb p = shot.At(x, y);
        if (x < shot.Width && p.R > 200 && p.G > 200 && p.B > 200) {
          ++run;
          continue;
        }
        if (run == 385) {
          OriginX = x - 385 - BoardLeft;
          OriginY = y - BoardTop;
          return true;
        }
        run = 0;
      }
    }
    return false;
  }

  Rgb ScreenPixel(const Shot& shot, int x, int y) const {
    return shot.At(OriginX + x, OriginY + y);
  }

  // Square: counts of green and grey pixels, and the average colour of a square.
  struct Square {
    int Green = 0, Grey = 0;
    Rgb Average{0, 0, 0};
  };
  Square Look(const Shot& shot, char file, int rank) const {
    Square s;
    long r = 0, g = 0, b = 0;
    for (int y = 2; y < 46; ++y)
      for (int x = 2; x < 46; ++x) {
        const Rgb p = ScreenPixel(shot, SquareLeft(file) + x, SquareTop(rank) + y);
        s.Green += IsGreen(p);
        s.Grey += IsGrey(p);
        r += p.R;
        g += p.G;
        b += p.B;
      }
    s.Average = {static_cast<int>(r / 1936), static_cast<int>(g / 1936),
                 static_cast<int>(b / 1936)};
    return s;
  }

  void Click(int x, int y) { X.Click(Window, OriginX + x, OriginY + y); }
  void ClickSquare(char file, int rank) { Click(SquareX(file), SquareY(rank)); }
  void Key(const std::string& name) { X.Key(Window, name); }

  // ShowsBox: the refusal's box, as the game draws it, is on the screen.
  bool ShowsBox(const Shot& shot) {
    static const std::vector<std::uint16_t> box = [] {
      setenv("SDL_VIDEODRIVER", "dummy", 1);
      InitGraph(Driver64K, Mode640x480, "");
      ClearScreen();
      DrawMessageBox("Error", "That figure cannot be moved there, fool!");
      std::vector<std::uint16_t> pixels;
      for (int y = 214; y <= 266; ++y)
        for (int x = 140; x <= 500; ++x)
          pixels.push_back(ReadPixel(static_cast<std::int16_t>(x), static_cast<std::int16_t>(y)));
      return pixels;
    }();
    int same = 0, total = 0;
    for (int y = 214; y <= 266; ++y)
      for (int x = 140; x <= 500; ++x, ++total) {
        const std::uint16_t c = box[static_cast<std::size_t>(total)];
        const Rgb want{(c >> 11) << 3, ((c >> 5) & 63) << 2, (c & 31) << 3};
        const Rgb p = ScreenPixel(shot, x, y);
        same += std::abs(p.R - want.R) < 40 && std::abs(p.G - want.G) < 40 &&
                std::abs(p.B - want.B) < 40;
      }
    return same > total * 97 / 100;
  }

  XvfbServer X;
  pid_t Xterm = -1;
  std::string Title, Window;
  int OriginX = 0, OriginY = 0;
};

TEST_F(XtermTest, BoardInSixelsMoveWithClicksRefusalBoxEscapeAndTheTerminalBack) {
  ASSERT_TRUE(FindWindow());
  ASSERT_TRUE(Await(30, [&] {
    return ReadText(Folder / "stderr").find("sixels") != std::string::npos;
  })) << ReadText(Folder / "stderr");
  const auto first = Report("computer 1 1 ", 1, TurnTimeout);
  ASSERT_TRUE(first) << ReadText(Folder / "reports") << ReadText(Folder / "stderr");
  ASSERT_TRUE(Report("person-turn 2 ", 1, 30));
  Sleep(0.5);

  auto shot = Screenshot();
  ASSERT_TRUE(shot);
  ASSERT_TRUE(FindBoard(*shot)) << "no board frame in the terminal window";
  // The frame's other sides.
  for (int k = 0; k < 385; k += 7) {
    EXPECT_GT(ScreenPixel(*shot, BoardLeft + k, BoardTop + 384).R, 200) << k;
    EXPECT_GT(ScreenPixel(*shot, BoardLeft, BoardTop + k).R, 200) << k;
    EXPECT_GT(ScreenPixel(*shot, BoardLeft + 384, BoardTop + k).R, 200) << k;
  }
  // e4 is a light square, d4 a dark one, both blue; a green king on e8, a grey one on e1.
  const Square light = Look(*shot, 'e', 4), dark = Look(*shot, 'd', 4);
  EXPECT_GT(light.Average.B, dark.Average.B + 40);
  EXPECT_GT(light.Average.B, light.Average.R + 40);
  EXPECT_GT(Look(*shot, 'e', 8).Green, 200);
  EXPECT_GT(Look(*shot, 'e', 1).Grey, 200);

  // A larger window: the picture is drawn again at once, in the middle of it.
  const int oldX = OriginX, oldY = OriginY;
  ASSERT_TRUE(Tool({"xdotool", "windowsize", Window, "900", "700"}));
  ASSERT_TRUE(Await(30, [&] {
    auto now = Screenshot();
    return now && now->Width == 900 && FindBoard(*now) && OriginX > oldX + 50 &&
           OriginY > oldY + 50 && Look(*now, 'e', 8).Green > 200;
  })) << "not redrawn after the resize";

  // e7-e5 with two clicks; the computer answers.
  ClickSquare('e', 7);
  ClickSquare('e', 5);
  const auto moved = Report("person 2 ", 1, 30);
  ASSERT_TRUE(moved) << ReadText(Folder / "reports");
  EXPECT_EQ(moved->substr(0, 11), "person 2 1 ");
  EXPECT_EQ(PieceOn(*moved, 'e', 7), '.');
  EXPECT_EQ(PieceOn(*moved, 'e', 5), 'p');
  const auto answer = Report("computer 1 ", 2, TurnTimeout);
  ASSERT_TRUE(answer) << ReadText(Folder / "reports");
  EXPECT_EQ(answer->substr(0, 13), "computer 1 1 ");
  ASSERT_TRUE(Report("person-turn 2 ", 2, 30));
  Sleep(0.5);
  shot = Screenshot();
  ASSERT_TRUE(shot);
  EXPECT_GT(Look(*shot, 'e', 5).Green, 100) << "the moved pawn is not drawn on e5";
  EXPECT_LT(Look(*shot, 'e', 7).Green, 20);

  // e5-e3 is refused in a box; Enter closes it.
  ClickSquare('e', 5);
  ClickSquare('e', 3);
  std::optional<Shot> boxed;
  ASSERT_TRUE(Await(30, [&] {
    boxed = Screenshot();
    return boxed && ShowsBox(*boxed);
  })) << "no refusal box";
  Key("Return");
  ASSERT_TRUE(Await(30, [&] {
    auto now = Screenshot();
    return now && !ShowsBox(*now) && Look(*now, 'e', 5).Green > 100;
  })) << "the box stayed";

  // Esc ends the game at the next mouse event; the terminal is put back.
  Key("Escape");
  Sleep(0.3);
  Click(600, 100);
  const auto status = ExitStatus(30);
  ASSERT_TRUE(status) << ReadText(Folder / "stderr");
  EXPECT_EQ(*status, 0) << ReadText(Folder / "stderr");
  EXPECT_TRUE(Report("person 2 0 ", 1, 1));
  ExpectTerminalRestored();
  // The normal screen is back: no board in the window any more.
  Sleep(0.5);
  shot = Screenshot();
  ASSERT_TRUE(shot);
  EXPECT_FALSE(FindBoard(*shot));
}

// ---- tmux: symbols -------------------------------------------------------------------------

class TmuxTest : public TerminalGameTest {
 protected:
  void SetUp() override {
    TerminalGameTest::SetUp();
    if (FindProgram("tmux").empty()) GTEST_SKIP() << "tmux is not installed";
    Socket = "kelvar-test-" + std::to_string(getpid());
    Logs.push_back("tmux.stderr");
  }
  // StartGame: the game in a new tmux session named game.
  void StartGame() {
    for (const char* file : {"reports", "stderr", "status", "stty"}) fs::remove(Folder / file);
    Tmux({"kill-session", "-t", "game"});
    // Not captured: the server it starts would hold the output open. Its
    // standard error goes to a log that a failed test prints.
    const int err = OpenLog(Folder / "tmux.stderr");
    const pid_t tmux = support::Start({"tmux", "-L", Socket, "-f", "/dev/null", "new-session", "-d",
                                       "-x", "120", "-y", "42", "-s", "game", GameCommand(true)},
                                      TmuxEnvironment, -1, -1, err);
    if (err >= 0) close(err);
    ASSERT_EQ(Wait(tmux), 0);
  }
  // ExpectScreenPutBack: tmux sees the normal screen, no mouse reporting and
  // the cursor shown again.
  void ExpectScreenPutBack() {
    const auto modes =
        Tmux({"display", "-p", "-t", "game", "#{alternate_on} #{mouse_any_flag} #{cursor_flag}"});
    ASSERT_TRUE(modes);
    EXPECT_EQ(*modes, "0 0 1\n");
  }
  void TearDown() override {
    if (!Socket.empty()) Tmux({"kill-server"});
    TerminalGameTest::TearDown();
  }
  std::optional<std::string> Tmux(std::vector<std::string> args) {
    args.insert(args.begin(), {"tmux", "-L", Socket});
    return Capture(args, TmuxEnvironment);
  }
  const EnvironmentChanges TmuxEnvironment = {{"TERM", "xterm-256color"}, {"TMUX", std::nullopt}};

  // Pane: the pane's cells from capture-pane -e.
  CellGrid Pane() {
    CellGrid pane;
    if (const auto text = Tmux({"capture-pane", "-p", "-e", "-t", "game"})) pane.Apply(*text);
    return pane;
  }

  static Rgb Parse(const std::string& text) {
    Rgb c{0, 0, 0};
    std::sscanf(text.c_str(), "%d;%d;%d", &c.R, &c.G, &c.B);
    return c;
  }

  // CellAt: the cell showing screen pixel (x, y).
  void CellAt(int x, int y, int& column, int& row) const {
    column = Layout.Left + x * Layout.Columns / 640;
    row = Layout.Top + y * Layout.Rows / 480;
  }

  // SquareCount: cells in the middle of a square showing a colour that passes test.
  template <typename Test>
  int SquareCount(const CellGrid& pane, char file, int rank, Test test) {
    int count = 0;
    for (int y = 12; y < 36; y += 4)
      for (int x = 12; x < 36; x += 4) {
        int column, row;
        CellAt(SquareLeft(file) + x, SquareTop(rank) + y, column, row);
        const support::Cell* cell = pane.Find(row, column);
        if (cell == nullptr) continue;
        for (const std::string& colour : cell->Shown())
          if (test(Parse(colour))) {
            ++count;
            break;
          }
      }
    return count;
  }

  void Mouse(int code, int x, int y, char final) {
    int column, row;
    CellAt(x, y, column, row);
    const std::string report = "\x1b[<" + std::to_string(code) + ";" + std::to_string(column + 1) +
                               ";" + std::to_string(row + 1) + final;
    std::vector<std::string> args = {"send-keys", "-t", "game", "-H"};
    for (unsigned char c : report) {
      char hex[3];
      std::snprintf(hex, sizeof hex, "%02x", c);
      args.push_back(hex);
    }
    ASSERT_TRUE(Tmux(args));
  }
  void ClickSquare(char file, int rank) {
    const int x = SquareX(file), y = SquareY(rank);
    Mouse(35, x, y, 'M');
    Sleep(0.1);
    Mouse(0, x, y, 'M');
    Sleep(0.05);
    Mouse(0, x, y, 'm');
    Sleep(0.5);
  }

  std::string Socket;
  // tmux gives no pixel sizes: cells count as 8 x 16.
  PictureLayout Layout = LayoutPicture(TerminalMode::Symbols, {120, 42, 0, 0});
};

TEST_F(TmuxTest, BoardInColouredSymbolsAndAMoveWithMouseReports) {
  StartGame();
  ASSERT_TRUE(WaitUntil(30, [&] {
    return ReadText(Folder / "stderr").find("symbols") != std::string::npos;
  })) << ReadText(Folder / "stderr");
  ASSERT_TRUE(Report("computer 1 1 ", 1, TurnTimeout)) << ReadText(Folder / "stderr");
  ASSERT_TRUE(Report("person-turn 2 ", 1, 30));
  Sleep(0.5);
  auto pane = Pane();
  ASSERT_GE(pane.Row, 42) << "the pane's rows, each ended by a line end";
  auto blue = [](const Rgb& c) { return c.B > 60 && c.B > c.R + 40 && c.B > c.G + 40; };
  auto darkBlue = [](const Rgb& c) { return c.B < 80 && c.B >= c.R && c.B >= c.G; };
  EXPECT_GE(SquareCount(pane, 'e', 4, blue), 30) << "light square e4";
  EXPECT_GE(SquareCount(pane, 'd', 4, darkBlue), 30) << "dark square d4";
  EXPECT_EQ(SquareCount(pane, 'd', 4, blue), 0);
  EXPECT_GE(SquareCount(pane, 'e', 8, IsGreen), 8) << "green king";
  EXPECT_GE(SquareCount(pane, 'e', 1, IsGrey), 8) << "grey king";
  // The corner squares where the picture puts them: a8 dark with a green
  // rook, h1 dark with a grey one (the one-pixel frame and the labels are
  // finer than a cell).
  EXPECT_GE(SquareCount(pane, 'a', 8, IsGreen), 8);
  EXPECT_GE(SquareCount(pane, 'h', 1, IsGrey), 8);

  ClickSquare('e', 7);
  ClickSquare('e', 5);
  const auto moved = Report("person 2 ", 1, 30);
  ASSERT_TRUE(moved) << ReadText(Folder / "reports");
  EXPECT_EQ(moved->substr(0, 11), "person 2 1 ");
  EXPECT_EQ(PieceOn(*moved, 'e', 5), 'p');
  ASSERT_TRUE(Report("computer 1 1 ", 2, TurnTimeout));
  ASSERT_TRUE(Report("person-turn 2 ", 2, 30));
  Sleep(0.5);
  pane = Pane();
  EXPECT_GE(SquareCount(pane, 'e', 5, IsGreen), 4) << "the pawn on e5";

  // Esc, then a movement: the game ends and the terminal is back.
  ASSERT_TRUE(Tmux({"send-keys", "-t", "game", "Escape"}));
  Sleep(0.3);
  Mouse(35, 600, 100, 'M');
  const auto status = ExitStatus(30);
  ASSERT_TRUE(status);
  EXPECT_EQ(*status, 0);
  ExpectTerminalRestored();
}

TEST_F(TmuxTest, RunTimeErrorAndHangUpPutTheTerminalBackFirst) {
  // A missing piece picture: run-time error 2, reported on the normal screen.
  fs::remove(Folder / "fig4.x");
  StartGame();
  auto status = ExitStatus(60);
  ASSERT_TRUE(status) << ReadText(Folder / "stderr");
  EXPECT_EQ(*status, 2);
  ExpectScreenPutBack();
  ExpectTerminalRestored();
  const auto pane = Tmux({"capture-pane", "-p", "-t", "game"});
  ASSERT_TRUE(pane);
  EXPECT_NE(pane->find("Runtime error 2 at"), std::string::npos) << *pane;

  // The connection drops: the hang-up ends the game, the terminal put back.
  fs::copy_file(fs::path(DataDir) / "fig4.x", Folder / "fig4.x");
  StartGame();
  ASSERT_TRUE(Report("person-turn 2 ", 1, TurnTimeout)) << ReadText(Folder / "stderr");
  const auto shell = Tmux({"display", "-p", "-t", "game", "#{pane_pid}"});
  ASSERT_TRUE(shell);
  const std::string pid = shell->substr(0, shell->find('\n'));
  const std::string children = ReadText("/proc/" + pid + "/task/" + pid + "/children");
  ASSERT_FALSE(children.empty());
  ASSERT_EQ(kill(std::atoi(children.c_str()), SIGHUP), 0);
  status = ExitStatus(30);
  ASSERT_TRUE(status);
  EXPECT_EQ(*status, 128 + SIGHUP);
  ExpectScreenPutBack();
  ExpectTerminalRestored();
}

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

  void StartOnPty(const std::string& term, unsigned short columns, unsigned short rows) {
    fs::remove(Folder / "status");
    const std::string f = Folder.string();
    std::ofstream(Folder / "run") << "#!/bin/sh\n"
                                  << Probe << "\necho $? >" << f << "/status.tmp\nmv " << f
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

  Child Game;
};

TEST_F(PtyTerminalTest, HugeReportedSizesPlayAndLeaveQuicklyWithNothingForTheShell) {
  struct Case {
    unsigned short Columns, Rows;
    std::string Answers, Mode;
  };
  // Sixels in 8 x 16 cells, the cell size told; symbols when none is told.
  for (const Case& c : {Case{10000, 10000, "\x1b[6;16;8t\x1b[?62;4c", "sixels"},
                        Case{65535, 65535, "\x1b[?62c", "symbols"}}) {
    SCOPED_TRACE(std::to_string(c.Columns) + "x" + std::to_string(c.Rows));
    StartOnPty("xterm-256color", c.Columns, c.Rows);
    ASSERT_TRUE(Asked(1, 30)) << Game.Output;
    Send(Game, c.Answers);
    ASSERT_TRUE(WaitForOutput(Game, "drawing in the terminal with " + c.Mode, 30)) << Game.Output;
    ASSERT_TRUE(WaitForReport(Game, "person-turn 2 ", 1, TurnTimeout)) << Game.Output.size();
    EXPECT_LT(Game.Output.size(), 8000000u) << "bytes for a board";
    // Esc, then a movement. On its way out the game asks once more and
    // drops what comes before the answer: a report still under way.
    Send(Game, "\x1b");
    Sleep(0.2);
    Send(Game, "\x1b[<35;20;20M");
    const auto leaving = Clock::now();
    ASSERT_TRUE(Asked(2, 30));
    Send(Game, "\x1b[<35;21;20M\x1b[?62;4c");
    EXPECT_EQ(GameStatus(30), 0);
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - leaving).count(), 3.0);
    ExpectNothingLeftForTheShell();
    support::ExpectTerminalRestored(Game);
    CloseChild(Game);
  }
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

// ---- The choice of display ---------------------------------------------------------------

// RunOnPipes: the game in folder, its standard streams not a terminal.
RunResult RunOnPipes(const std::string& folder, const EnvironmentChanges& changes) {
  return Run({Kelvar}, changes, folder);
}

using DisplayChoiceTest = TerminalGameTest;

const char GraphicsError[] =
    "Error: Not in graphics mode (use InitGraph and test GraphResult afterwards)";

TEST_F(DisplayChoiceTest, NoDisplayAndNoTerminalEndsWithTheGraphicsError) {
  const RunResult run = RunOnPipes(Folder.string(), {{"DISPLAY", std::nullopt},
                                                     {"WAYLAND_DISPLAY", std::nullopt},
                                                     {"SDL_VIDEODRIVER", std::nullopt},
                                                     {"KELVAR_DISPLAY", std::nullopt}});
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Out.find(GraphicsError), std::string::npos) << run.Out;
  EXPECT_NE(run.Err.find("not both a terminal"), std::string::npos) << run.Err;
}

TEST_F(DisplayChoiceTest, TerminalDemandedOnAPipeIsRefusedWithoutTryingAWindow) {
  const RunResult run =
      RunOnPipes(Folder.string(), {{"SDL_VIDEODRIVER", "dummy"}, {"KELVAR_DISPLAY", "terminal"}});
  EXPECT_EQ(run.Status, 1);
  EXPECT_NE(run.Out.find(GraphicsError), std::string::npos) << run.Out;
  // Only the terminal host is tried: neither the window nor the console.
  EXPECT_EQ(run.Err.rfind(
                "kelvar: no graphics mode: standard input and output are not both a terminal", 0),
            0u)
      << run.Err;
  EXPECT_EQ(run.Err.find("console"), std::string::npos) << run.Err;
  EXPECT_EQ(run.Err.find("SDL"), std::string::npos) << run.Err;
}

}  // namespace
