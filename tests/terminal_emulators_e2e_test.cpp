// The game in real terminal emulators under Xvfb, as a player sees them:
// xterm as a VT340 at 1x and at a size that takes 2x, mlterm, Konsole,
// kitty, and foot in weston's X11 window. Each plays e7-e5, waits for the
// answer, plays a refused move and closes its box, and after each step the
// terminal's picture, scaled back to 640 x 480, matches the game's own frame
// of that moment (the probe writes it on SIGUSR1); then Esc, status 0, and the
// shell's screen as it was. Each case prints its mode, the bytes the game wrote
// a half-move and its time. A terminal that is not installed skips; a
// sanitizer build plays xterm only (the others cost minutes there and test
// the same code). KELVAR_SHOTS names a folder to keep every screenshot in.

#include <chrono>
#include <fstream>

#include "tests/terminal_game_support.h"

namespace {

// Shown: the 640 x 480 screen as a screenshot or the game shows it.
using Shown = support::Picture;

using namespace support;
using namespace terminal_game;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool Sanitized = true;
#else
constexpr bool Sanitized = false;
#endif

// ---- The terminals ------------------------------------------------------------------------

// Terminal: how one is started ("@TITLE" and "@RUN", the script that starts
// the game, are filled in), found (xdotool search's arguments) and judged.
struct Terminal {
  const char* Name;
  std::vector<std::string> Needs;  // programs that must be installed
  const char* Screen;              // the Xvfb screen
  std::vector<std::string> Command, Find;
  EnvironmentChanges Environment;
  const char* Mode;              // as the game names it on standard error
  int Scale;                     // the picture's scale in that window
  bool InWeston;                 // a Wayland terminal in weston's X11 window (which is screenshot)
  const char* Resize = nullptr;  // "W H": the window's size, set before the game starts
  const char* Grow = nullptr;    // "W H": a size the window takes during the game
};

// A VT340 with 256 colour registers shows sixels; the fixed 6 x 13 font.
const std::vector<std::string> Vt340 = {"xterm",
                                        "-ti",
                                        "vt340",
                                        "-xrm",
                                        "XTerm*numColorRegisters: 256",
                                        "-xrm",
                                        "XTerm*decTerminalID: vt340",
                                        "-fn",
                                        "fixed"};
std::vector<std::string> Xterm(const std::string& geometry) {
  std::vector<std::string> args = Vt340;
  args.insert(args.end(), {"-geometry", geometry, "-T", "@TITLE", "-e", "@RUN"});
  return args;
}

const Terminal Terminals[] = {
    {"xterm",
     {"xterm"},
     "1024x768x24",
     Xterm("120x42+0+0"),
     {"--name", "^@TITLE$"},
     {},
     "sixels",
     1,
     false,
     nullptr,
     "900 700"},
    {"xterm2x",
     {"xterm"},
     "1400x1100x24",
     Xterm("216x76+0+0"),
     {"--name", "^@TITLE$"},
     {},
     "sixels",
     2,
     false},
    {"mlterm",
     {"mlterm"},
     "1024x768x24",
     {"mlterm", "-w", "10", "-g", "110x40", "-N", "@TITLE", "-e", "@RUN"},
     {"--name", "^@TITLE$"},
     {},
     "sixels",
     1,
     false},
    {"konsole",
     {"konsole"},
     "1024x768x24",
     {"konsole", "--separate", "--hide-menubar", "--hide-tabbar", "-e", "@RUN"},
     {"--onlyvisible", "--class", "konsole"},
     {{"QT_QPA_PLATFORM", "xcb"}},
     "kitty graphics",
     1,
     false,
     "900 640"},
    {"kitty",
     {"kitty"},
     "1024x768x24",
     {"kitty", "--config", "NONE", "-o", "remember_window_size=no", "-o",
      "initial_window_width=760", "-o", "initial_window_height=600", "-o",
      "cursor_blink_interval=0", "-T", "@TITLE", "@RUN"},
     {"--name", "^@TITLE$"},
     {{"LIBGL_ALWAYS_SOFTWARE", "1"}},
     "kitty graphics",
     1,
     false},
    {"foot",
     {"foot", "weston"},
     "1024x768x24",
     {"foot", "--config", "/dev/null", "-T", "@TITLE", "@RUN"},
     {"--class", "^Weston Compositor$"},
     {},
     "sixels",
     1,
     true},
};

void PrintTo(const Terminal& t, std::ostream* out) { *out << t.Name; }

std::vector<std::string> Filled(std::vector<std::string> args, const std::string& title,
                                const std::string& run) {
  for (std::string& arg : args)
    for (const auto& [mark, value] : {std::pair{"@TITLE", title}, std::pair{"@RUN", run}})
      if (const auto at = arg.find(mark); at != std::string::npos)
        arg.replace(at, std::string(mark).size(), value);
  return args;
}

// ---- Comparing pictures -------------------------------------------------------------------

// Differences: the 16 x 16 blocks of the screen where more than a tenth of
// the pixels differ by more than the colours' rounding (a sixel terminal's
// palette, a scaled copy): one is enough to show a garbled picture.
struct Differences {
  int BadBlocks = 0, WorstPixels = 0;
};
Differences Compare(const Shown& seen, const Shown& frame) {
  Differences d;
  for (int by = 0; by < 480; by += 16)
    for (int bx = 0; bx < 640; bx += 16) {
      int differing = 0;
      for (int y = by; y < by + 16; ++y)
        for (int x = bx; x < bx + 16; ++x) {
          const Rgb a = seen.At(x, y), b = frame.At(x, y);
          differing +=
              std::abs(a.R - b.R) > 48 || std::abs(a.G - b.G) > 48 || std::abs(a.B - b.B) > 48;
        }
      d.WorstPixels = std::max(d.WorstPixels, differing);
      d.BadBlocks += differing > 25;
    }
  return d;
}

// Differing: pixels of two screenshots of one window that differ at all,
// within the part both show (the window may have grown).
int Differing(const Image& a, const Image& b) {
  int n = 0;
  for (int y = 0; y < std::min(a.Height, b.Height); ++y)
    for (int x = 0; x < std::min(a.Width, b.Width); ++x) n += !(a.At(x, y) == b.At(x, y));
  return n;
}

void WritePpm(const fs::path& file, int width, int height, const std::vector<Rgb>& pixels) {
  std::ofstream out(file, std::ios::binary);
  out << "P6\n" << width << " " << height << "\n255\n";
  for (const Rgb& p : pixels)
    out.put(static_cast<char>(p.R)).put(static_cast<char>(p.G)).put(static_cast<char>(p.B));
}

// ShowsBox: the refusal's box, as the game draws it, is in the picture.
bool ShowsBox(const Shown& picture) {
  static const Shown box =
      Reference([] { DrawMessageBox("Error", "That figure cannot be moved there, fool!"); });
  return SameArea(picture, box, 140, 214, 500, 266);
}

// ---- The game in one terminal -------------------------------------------------------------

class TerminalEmulatorTest : public TerminalGameTest,
                             public ::testing::WithParamInterface<Terminal> {
 protected:
  void SetUp() override {
    TerminalGameTest::SetUp();
    Began = Clock::now();
    const Terminal& t = GetParam();
    std::vector<std::string> needs = {"Xvfb", "xdotool", "import"};
    needs.insert(needs.end(), t.Needs.begin(), t.Needs.end());
    for (const std::string& tool : needs)
      if (FindProgram(tool).empty()) GTEST_SKIP() << tool << " is not installed";
    if (Sanitized && std::string(t.Needs[0]) != "xterm")
      GTEST_SKIP() << "a sanitizer build plays the game in xterm only";
    Logs.insert(Logs.end(), {"xvfb.stderr", "terminal.stderr", "weston.stderr"});
    ASSERT_TRUE(X.Start(t.Screen, Folder / "xvfb.stderr")) << "Xvfb did not start";
    Title = "kelvar-" + std::string(t.Name) + "-" + std::to_string(getpid());
    // The shell shows a line, and the game starts once the test has seen it.
    const fs::path run = Folder / "run";
    std::ofstream(run) << "#!/bin/sh\necho 'the shell, before the game'\nwhile [ ! -e "
                       << Folder.string() << "/go ]; do sleep 0.1; done\n"
                       << GameCommand(false) << "\n";
    fs::permissions(run, fs::perms::owner_all);
    // Settings, caches and the Wayland socket in the folder: nothing is
    // remembered from another run.
    for (const char* folder : {"config", "cache", "runtime"}) fs::create_directory(Folder / folder);
    fs::permissions(Folder / "runtime", fs::perms::owner_all);
    EnvironmentChanges env = t.Environment;
    env.insert({{"DISPLAY", X.Display},
                {"XDG_CONFIG_HOME", (Folder / "config").string()},
                {"XDG_CACHE_HOME", (Folder / "cache").string()},
                {"XDG_RUNTIME_DIR", (Folder / "runtime").string()},
                {"KELVAR_PROBE_FRAME", (Folder / "frame.ppm").string()}});
    if (t.InWeston) {
      // Weston's kiosk shell gives the terminal the whole 800 x 600 output.
      const int err = OpenLog(Folder / "weston.stderr");
      Helper = support::Start(
          {"weston", "--backend=x11-backend.so", "--shell=kiosk-shell.so", "--width=800",
           "--height=600", "--idle-time=0", "--socket=kelvar-wayland"},
          env, -1, err, err);
      if (err >= 0) close(err);
      Started.push_back(Helper);
      ASSERT_TRUE(Await(30, [&] { return fs::exists(Folder / "runtime/kelvar-wayland"); }))
          << "weston did not start";
      env["WAYLAND_DISPLAY"] = "kelvar-wayland";
    }
    const int err = OpenLog(Folder / "terminal.stderr");
    Term = support::Start(Filled(t.Command, Title, run.string()), env, -1, err, err);
    if (err >= 0) close(err);
    Started.push_back(Term);
  }

  void TearDown() override {
    if (!IsSkipped())
      std::cout << GetParam().Name << ": " << Mode << ", " << BytesPerHalfMove
                << " bytes a half-move, "
                << std::chrono::duration<double>(Clock::now() - Began).count() << " s\n";
    TerminalGameTest::TearDown();
  }

  std::string Gone() const override {
    for (const auto& [name, pid] : {std::pair{"the terminal", Term}, std::pair{"weston", Helper}})
      if (const std::string note = ExitNote(name, pid); pid > 0 && !note.empty()) return note;
    return X.Gone();
  }

  bool FindWindow() {
    return Await(30, [&] {
      std::vector<std::string> args = {"xdotool", "search"};
      for (const std::string& a : Filled(GetParam().Find, Title, "")) args.push_back(a);
      const auto found = X.Tool(args);
      if (!found || found->empty()) return false;
      Window = found->substr(0, found->find('\n'));
      return true;
    });
  }

  // FindBoard: the board's white frame, 385 screen pixels wide at the
  // terminal's scale, gives where the picture lies in the window (its top
  // row runs on where a8 is framed for a move).
  bool FindBoard(const Image& shot) {
    const int s = GetParam().Scale, side = 385 * s;
    const auto white = [&](int x, int y) {
      const Rgb p = shot.At(x, y);
      return p.R > 200 && p.G > 200 && p.B > 200;
    };
    for (int y = 0; y < shot.Height; ++y)
      for (int x = 0, run = 0; x <= shot.Width; ++x) {
        if (x < shot.Width && white(x, y)) {
          ++run;
          continue;
        }
        if (run >= side && run <= side + s && white(x - side, y + side - 1) &&
            white(x - 1, y + side - 1) && white(x - side, y + side / 2)) {
          Place = {x - side - BoardLeft * s, y - BoardTop * s, 640 * s, 480 * s};
          return true;
        }
        run = 0;
      }
    return false;
  }

  // Frame: the game's screen now, as the probe writes it when asked.
  std::optional<Shown> Frame() {
    fs::remove(Folder / "frame.ppm");
    if (GamePid <= 0 || kill(GamePid, SIGUSR1) != 0) return std::nullopt;
    std::optional<Image> image;
    WaitUntil(10, [&] {
      image = ParsePpm(ReadText(Folder / "frame.ppm"));
      return image.has_value();
    });
    if (!image || image->Width != 640 || image->Height != 480) return std::nullopt;
    return Shown{image->Pixels};
  }

  // ExpectPicture: before long the terminal shows the game's own frame; both
  // are kept in KELVAR_SHOTS (a folder) when set, and always when they differ.
  // Gives the frame.
  Shown ExpectPicture(const std::string& step) {
    std::optional<Shown> frame, seen;
    Differences d;
    std::optional<Image> shot;
    const bool same = Await(30, [&] {
      frame = Frame();
      shot = X.Screenshot(Window);
      if (!frame || !shot || !FindBoard(*shot)) return false;
      seen = PictureIn(*shot, Place);
      d = Compare(*seen, *frame);
      return d.BadBlocks == 0;
    });
    const char* kept = std::getenv("KELVAR_SHOTS");
    const fs::path folder = kept != nullptr && *kept != '\0'
                                ? fs::path(kept)
                                : fs::temp_directory_path() / "kelvar-terminal-shots";
    if (!same || (kept != nullptr && *kept != '\0')) {
      fs::create_directories(folder);
      const std::string stem = (folder / (std::string(GetParam().Name) + "-" + step)).string();
      if (shot) WritePpm(stem + "-terminal.ppm", shot->Width, shot->Height, shot->Pixels);
      if (frame) WritePpm(stem + "-game.ppm", 640, 480, frame->Pixels);
    }
    EXPECT_TRUE(same) << step << ": " << (frame ? "" : "no frame from the game; ")
                      << (seen ? "" : "no board in the terminal window; ") << d.BadBlocks
                      << " blocks differ (worst " << d.WorstPixels << " of 256 pixels); see "
                      << folder.string();
    return frame.value_or(Shown{std::vector<Rgb>(640 * 480, Rgb{0, 0, 0})});
  }

  // Press: a key typed until done() (a few tries): weston now and then
  // gives its client the keys only a moment after the X focus moved.
  template <typename Done>
  bool Press(const std::string& key, Done done) {
    for (int tries = 0; tries < 3; ++tries) {
      X.Key(Window, key);
      Sleep(0.3);
      if (Await(8, done)) return true;
    }
    return false;
  }

  // SetSize: the window's size, "W H".
  void SetSize(const std::string& size) {
    ASSERT_TRUE(X.Tool({"xdotool", "windowsize", Window, size.substr(0, size.find(' ')),
                        size.substr(size.find(' ') + 1)}));
  }

  // Written: what the game has written so far, once it has stopped writing.
  long Written() const {
    long last = -2, now = -1;
    for (int k = 0; k < 50 && now != last; ++k) {
      last = now;
      Sleep(0.3);
      now = WrittenNow();
    }
    return now;
  }
  long WrittenNow() const {
    // Frames the probe writes count too, so none is asked for meanwhile.
    const std::string io = ReadText("/proc/" + std::to_string(GamePid) + "/io");
    const auto at = io.find("wchar: ");
    return at == std::string::npos ? -1 : std::atol(io.c_str() + at + 7);
  }

  int ScaleOf(int v) const { return v * GetParam().Scale; }
  void Click(int x, int y) {
    X.Click(Window, Place.X + ScaleOf(x), Place.Y + ScaleOf(y));
    Park();
  }
  // Park: the pointer out of the picture, so that a compositor's own covers none of it.
  void Park() {
    if (GetParam().InWeston) {
      ASSERT_TRUE(X.Tool({"xdotool", "mousemove", "--window", Window, "1", "1"}));
    }
  }
  void ClickSquare(char file, int rank) { Click(SquareX(file), SquareY(rank)); }

  XvfbServer X;
  pid_t Term = -1, Helper = -1, GamePid = -1;
  std::string Title, Window, Mode = "not drawn";
  Placement Place;
  long BytesPerHalfMove = -1;
  Clock::time_point Began;
};

TEST_P(TerminalEmulatorTest, MovesRefusalAndEscapeShowTheGamesFramesAndGiveTheShellBack) {
  const Terminal& t = GetParam();
  ASSERT_TRUE(FindWindow()) << "no window of " << t.Name;
  if (t.Resize != nullptr) SetSize(t.Resize);
  Park();
  // The shell's screen, once it stays the same, is what the game must leave.
  std::optional<Image> before, now;
  ASSERT_TRUE(Await(30, [&] {
    Sleep(0.5);
    now = X.Screenshot(Window);
    const bool steady = now && before && Differing(*now, *before) == 0;
    before = now;
    return steady;
  }));
  std::ofstream(Folder / "go").put('\n');

  const auto probe = Report("probe ", 1, 60);
  ASSERT_TRUE(probe) << ReadText(Folder / "stderr");
  GamePid = std::atoi(probe->c_str() + 6);
  ASSERT_TRUE(
      Await(30, [&] { return ReadText(Folder / "stderr").find("drawing") != std::string::npos; }));
  const std::string said = ReadText(Folder / "stderr");
  Mode = said.substr(said.find("with ") + 5, said.find('\n') - said.find("with ") - 5);
  EXPECT_EQ(Mode, t.Mode) << said;
  ASSERT_TRUE(Report("computer 1 1 ", 1, TurnTimeout)) << ReadText(Folder / "reports") << said;
  ASSERT_TRUE(Report("person-turn 2 ", 1, 30));
  ExpectPicture("1-opening");
  if (t.Grow != nullptr) {
    // A larger window: the picture is drawn again, in the middle of it.
    const Placement old = Place;
    SetSize(t.Grow);
    ASSERT_TRUE(Await(30, [&] {
      const auto shot = X.Screenshot(Window);
      return shot && FindBoard(*shot) && Place.X > old.X + 50 && Place.Y > old.Y + 50;
    })) << "not drawn again in the middle after the resize";
    ExpectPicture("1-grown");
  }
  const long opening = Written();

  // e7-e5 with two clicks; the computer answers.
  ClickSquare('e', 7);
  ClickSquare('e', 5);
  const auto moved = Report("person 2 ", 1, 30);
  ASSERT_TRUE(moved) << ReadText(Folder / "reports");
  EXPECT_EQ(PieceOn(*moved, 'e', 5), 'p');
  ASSERT_TRUE(Report("computer 1 1 ", 2, TurnTimeout)) << ReadText(Folder / "reports");
  ASSERT_TRUE(Report("person-turn 2 ", 2, 30));
  BytesPerHalfMove = (Written() - opening) / 2;
  ExpectPicture("2-answered");
  EXPECT_GT(BytesPerHalfMove, 0);
  // The sanity limit: 15 kB or so a half-move, twice that at twice the
  // size, and room for a busy machine (under a sanitizer, say), where the
  // computer's progress is drawn for longer.
  EXPECT_LT(BytesPerHalfMove, 16000 * t.Scale + 60000 * t.Scale * t.Scale);

  // a8-a1 is refused in a box; Enter closes it.
  ClickSquare('a', 8);
  ClickSquare('a', 1);
  EXPECT_TRUE(ShowsBox(ExpectPicture("3-refused")));
  ASSERT_TRUE(Press("Return", [&] {
    const auto frame = Frame();
    return frame && !ShowsBox(*frame);
  })) << "the box stayed";
  EXPECT_FALSE(ShowsBox(ExpectPicture("4-closed")));

  // Esc ends the game at the next mouse event; the shell's screen is back.
  ASSERT_TRUE(Press("Escape", [&] {
    Click(600, 100);
    return Await(5, [&] { return fs::exists(Folder / "status"); });
  })) << ReadText(Folder / "stderr");
  const auto status = ExitStatus(30);
  ASSERT_TRUE(status) << ReadText(Folder / "stderr");
  EXPECT_EQ(*status, 0) << ReadText(Folder / "stderr");
  ExpectTerminalRestored();
  EXPECT_TRUE(Await(10,
                    [&] {
                      now = X.Screenshot(Window);
                      return now && Differing(*now, *before) < 400;
                    }))
      << (now ? std::to_string(Differing(*now, *before)) : "no") << " pixels differ";
  // Nothing the game sent was taken for something it could not parse.
  for (const char* complaint : {"PARSE ERROR", "nsupported"})
    EXPECT_EQ(ReadText(Folder / "terminal.stderr").find(complaint), std::string::npos)
        << ReadText(Folder / "terminal.stderr");
}

INSTANTIATE_TEST_SUITE_P(Terminals, TerminalEmulatorTest, ::testing::ValuesIn(Terminals),
                         [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
