// The game in tmux, which shows no sixels: the board as coloured symbols in
// its cells, a move made with mouse reports typed into the pane; a run-time
// error and a hang-up leave the terminal as it was. Skips without tmux.

#include "tests/terminal_game_support.h"

namespace {

using namespace support;
using namespace terminal_game;

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

}  // namespace
