// The game in xterm as a VT340 under Xvfb, as a player sees it: the board in
// sixels in screenshots of the terminal window, drawn again when the window
// grows, a move made with clicks, a refused move's box closed with Enter,
// Esc, and the terminal put back. Skips when Xvfb, xterm, xdotool or import
// is not installed.

#include "tests/terminal_game_support.h"

namespace {

using namespace support;
using namespace terminal_game;

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

}  // namespace
