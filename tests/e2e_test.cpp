// End-to-end: the real program as a child process in a folder of its own,
// its standard input, output and error on a pseudo-terminal.
//   - the keyboard emulation with SDL's dummy video driver (kelvar-probe, the
//     program with a report of each turn, shows what the board became);
//   - the failure paths of the real binary;
//   - a real window under Xvfb, driven with xdotool and read back with
//     ImageMagick's import (skipped only when those programs are missing).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "display/display.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const std::string Kelvar = KELVAR_BINARY_DIR "/kelvar";
const std::string Probe = KELVAR_BINARY_DIR "/tests/kelvar-probe";
const std::string DataDir = KELVAR_BINARY_DIR "/data";

// Generous: the sanitizer build searches several times slower.
constexpr double TurnTimeout = 300;

// ---- Environments ----------------------------------------------------------------------

using EnvironmentChanges = std::map<std::string, std::optional<std::string>>;

std::vector<std::string> Environment(const EnvironmentChanges& changes) {
  std::vector<std::string> result;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    const std::string name = text.substr(0, text.find('='));
    if (changes.count(name) == 0) result.push_back(text);
  }
  for (const auto& [name, value] : changes)
    if (value) result.push_back(name + "=" + *value);
  return result;
}

// ---- A child process on a pseudo-terminal ---------------------------------------------------

struct Child {
  pid_t Pid = -1;
  int Master = -1;
  int Slave = -1;  // kept open so the terminal's settings can be read after the end
  int Report = -1;
  termios Before{};
  std::string Output;
  std::string Reports;
  int Status = -1;
};

void CloseChild(Child& child) {
  if (child.Pid > 0 && child.Status == -1) {
    kill(child.Pid, SIGKILL);
    int status;
    waitpid(child.Pid, &status, 0);
  }
  for (int* fd : {&child.Master, &child.Slave, &child.Report})
    if (*fd >= 0) close(*fd);
  child.Master = child.Slave = child.Report = -1;
}

Child Spawn(const std::string& program, const std::string& folder,
            const EnvironmentChanges& changes) {
  Child child;
  EXPECT_EQ(openpty(&child.Master, &child.Slave, nullptr, nullptr, nullptr), 0);
  tcgetattr(child.Slave, &child.Before);
  int report[2];
  EXPECT_EQ(pipe(report), 0);
  const std::vector<std::string> environment = Environment(changes);
  std::vector<char*> envp;
  for (const std::string& entry : environment) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);
  char* argv[] = {const_cast<char*>(program.c_str()), nullptr};

  child.Pid = fork();
  if (child.Pid == 0) {
    // Only async-signal-safe calls from here to exec.
    setsid();
    ioctl(child.Slave, TIOCSCTTY, 0);
    dup2(child.Slave, 0);
    dup2(child.Slave, 1);
    dup2(child.Slave, 2);
    dup2(report[1], 3);
    if (chdir(folder.c_str()) != 0) _exit(126);
    execve(program.c_str(), argv, envp.data());
    _exit(127);
  }
  close(report[1]);
  child.Report = report[0];
  return child;
}

// Pump: collects output and reports for up to the given time, or until done().
template <typename Done>
bool Pump(Child& child, double seconds, Done done) {
  const auto end = Clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    if (done()) return true;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    if (left.count() <= 0) return false;
    pollfd fds[2] = {{child.Master, POLLIN, 0}, {child.Report, POLLIN, 0}};
    const int ready =
        poll(fds, child.Report >= 0 ? 2 : 1, static_cast<int>(std::min<long>(left.count(), 100)));
    if (ready <= 0) {
      // A child that has ended sends nothing more.
      if (child.Status == -1) {
        int status;
        if (waitpid(child.Pid, &status, WNOHANG) == child.Pid)
          child.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      if (child.Status != -1 && ready == 0) {
        if (done()) return true;
        return false;
      }
      continue;
    }
    char buffer[4096];
    if (fds[0].revents & POLLIN) {
      const ssize_t n = read(child.Master, buffer, sizeof buffer);
      if (n > 0) child.Output.append(buffer, static_cast<std::size_t>(n));
    }
    if (child.Report >= 0 && (fds[1].revents & (POLLIN | POLLHUP))) {
      const ssize_t n = read(child.Report, buffer, sizeof buffer);
      if (n > 0)
        child.Reports.append(buffer, static_cast<std::size_t>(n));
      else {
        close(child.Report);
        child.Report = -1;
      }
    }
  }
}

bool WaitForOutput(Child& child, const std::string& text, double seconds) {
  return Pump(child, seconds, [&] { return child.Output.find(text) != std::string::npos; });
}

// WaitForReport: the n-th report line (counting from 1) that starts with prefix.
std::optional<std::string> WaitForReport(Child& child, const std::string& prefix, int n,
                                         double seconds) {
  std::optional<std::string> found;
  Pump(child, seconds, [&] {
    // Whole lines only: a report may arrive in pieces.
    std::istringstream lines(child.Reports.substr(0, child.Reports.rfind('\n') + 1));
    std::string line;
    int seen = 0;
    while (std::getline(lines, line))
      if (line.rfind(prefix, 0) == 0 && ++seen == n) {
        found = line;
        return true;
      }
    return false;
  });
  return found;
}

int WaitForExit(Child& child, double seconds) {
  Pump(child, seconds, [&] { return child.Status != -1; });
  return child.Status;
}

void Send(Child& child, const std::string& bytes) {
  ASSERT_EQ(write(child.Master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

void Sleep(double seconds) { std::this_thread::sleep_for(std::chrono::duration<double>(seconds)); }

// TerminalRestored: the settings the program found are back after its end.
void ExpectTerminalRestored(const Child& child) {
  termios after{};
  ASSERT_EQ(tcgetattr(child.Slave, &after), 0);
  EXPECT_EQ(after.c_lflag, child.Before.c_lflag);
  EXPECT_EQ(after.c_iflag, child.Before.c_iflag);
  EXPECT_EQ(after.c_cc[VMIN], child.Before.c_cc[VMIN]);
}

// ---- A folder with the game's files -------------------------------------------------------------

class GameFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/kelvar-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    Folder = name;
    for (const auto& entry : fs::directory_iterator(DataDir))
      if (entry.is_regular_file()) fs::copy_file(entry.path(), Folder / entry.path().filename());
    ASSERT_TRUE(fs::exists(Folder / "kelvar.in"));
    ASSERT_TRUE(fs::exists(Folder / "PawnFix.x"));
  }
  void TearDown() override {
    CloseChild(Game);
    std::error_code ignored;
    fs::remove_all(Folder, ignored);
  }

  Child Run(const std::string& program, const EnvironmentChanges& changes) {
    Game = Spawn(program, Folder.string(), changes);
    return Game;
  }

  fs::path Folder;
  Child Game;
};

const EnvironmentChanges Headless = {{"SDL_VIDEODRIVER", "dummy"}};

// Arrow keys as the terminal sends them.
const std::string Right = "\x1b[C", Down = "\x1b[B";

// Square of a board text (rank 8 first): the piece letter on it.
char PieceOn(const std::string& board, char file, int rank) {
  return board.at(static_cast<std::size_t>((8 - rank) * 8 + (file - 'a')));
}

std::string BoardOf(const std::string& reportLine) {
  return reportLine.substr(reportLine.rfind(' ') + 1);
}

// ---- The keyboard emulation
// -------------------------------------------------------------------------

using KeyboardEmulationTest = GameFolderTest;

// Types keys one at a time, as a person does, each after the last was taken.
void Type(Child& child, const std::string& key, int times) {
  for (int i = 0; i < times; ++i) {
    Send(child, key);
    Sleep(0.03);
  }
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
  Type(Game, Right, 57);
  Type(Game, Down, 20);
  Type(Game, " ", 1);
  Sleep(0.5);
  Type(Game, Down, 16);
  Type(Game, " ", 1);

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

// ---- The failure paths
// ------------------------------------------------------------------------------

using FailurePathTest = GameFolderTest;

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

// FindProgram: the program's path on PATH, "" when it is not installed.
std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::istringstream folders(path != nullptr ? path : "/usr/bin:/bin");
  std::string folder;
  while (std::getline(folders, folder, ':')) {
    const std::string candidate = folder + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

// Capture: runs a program to its end and answers its standard output.
std::optional<std::string> Capture(const std::vector<std::string>& args,
                                   const EnvironmentChanges& changes) {
  const std::string program = FindProgram(args[0]);
  if (program.empty()) return std::nullopt;
  const std::vector<std::string> environment = Environment(changes);
  std::vector<char*> envp;
  for (const std::string& entry : environment) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);
  std::vector<char*> argv;
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  int out[2];
  if (pipe(out) != 0) return std::nullopt;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 2);
    close(out[0]);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(out[1]);
  std::string text;
  char buffer[65536];
  ssize_t n;
  while ((n = read(out[0], buffer, sizeof buffer)) > 0)
    text.append(buffer, static_cast<std::size_t>(n));
  close(out[0]);
  int status;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return text;
}

struct Rgb {
  int R, G, B;
  bool operator==(const Rgb&) const = default;
};

// ToRgb: a 5-6-5 colour as the window shows it, each channel's bits repeated.
Rgb ToRgb(Colour c) {
  const int r = c >> 11, g = (c >> 5) & 63, b = c & 31;
  return {r << 3 | r >> 2, g << 2 | g >> 4, b << 3 | b >> 2};
}

// Picture: the 640 x 480 screen as seen in a screenshot of the window.
struct Picture {
  std::vector<Rgb> Pixels;
  Rgb At(int x, int y) const { return Pixels.at(static_cast<std::size_t>(y * 640 + x)); }
};

// Reference: the screen as the game's own drawing code leaves it.
template <typename Draw>
Picture Reference(Draw draw) {
  static bool open = false;
  if (!open) {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    InitGraph(Driver64K, Mode640x480, "");
    open = true;
  }
  ClearScreen();
  draw();
  Picture picture;
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x)
      picture.Pixels.push_back(
          ToRgb(ReadPixel(static_cast<std::int16_t>(x), static_cast<std::int16_t>(y))));
  return picture;
}

bool SameArea(const Picture& a, const Picture& b, int x1, int y1, int x2, int y2) {
  for (int y = y1; y <= y2; ++y)
    for (int x = x1; x <= x2; ++x)
      if (!(a.At(x, y) == b.At(x, y))) return false;
  return true;
}

class XvfbSession {
 public:
  ~XvfbSession() {
    if (Server > 0) {
      kill(Server, SIGTERM);
      int status;
      waitpid(Server, &status, 0);
    }
  }

  bool Start() {
    const std::string xvfb = FindProgram("Xvfb");
    if (xvfb.empty()) return false;
    for (int n = 70; n < 120; ++n) {
      const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
      const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
      if (access(lock.c_str(), F_OK) == 0 || access(socket.c_str(), F_OK) == 0) continue;
      Display = ":" + std::to_string(n);
      Server = fork();
      if (Server == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        execl(xvfb.c_str(), "Xvfb", Display.c_str(), "-screen", "0", "1280x1024x24", "-nolisten",
              "tcp", static_cast<char*>(nullptr));
        _exit(127);
      }
      for (int i = 0; i < 100; ++i) {
        if (access(socket.c_str(), F_OK) == 0) return true;
        int status;
        if (waitpid(Server, &status, WNOHANG) == Server) break;
        Sleep(0.1);
      }
      if (Server > 0) kill(Server, SIGTERM);
      int status;
      waitpid(Server, &status, 0);
      Server = -1;
    }
    return false;
  }

  EnvironmentChanges Env() const {
    return {
        {"DISPLAY", Display}, {"SDL_VIDEODRIVER", std::nullopt}, {"WAYLAND_DISPLAY", std::nullopt}};
  }

  std::string Display;
  pid_t Server = -1;
};

class RealWindowTest : public GameFolderTest {
 protected:
  void SetUp() override {
    GameFolderTest::SetUp();
    for (const char* tool : {"Xvfb", "xdotool", "import"})
      if (FindProgram(tool).empty()) GTEST_SKIP() << tool << " is not installed";
    ASSERT_TRUE(X.Start()) << "Xvfb did not start";
  }

  std::optional<std::string> Tool(const std::vector<std::string>& args) {
    return Capture(args, X.Env());
  }

  // FindWindow: the game's window and the place of its picture in it.
  bool FindWindow(double seconds) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
      Pump(Game, 0.2, [] { return false; });
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
        const int scale = std::min(Width / 640, Height / 480);
        if (scale >= 1) {
          PictureW = 640 * scale;
          PictureH = 480 * scale;
        } else if (Width * 480 <= Height * 640) {
          PictureW = Width;
          PictureH = Width * 480 / 640;
        } else {
          PictureH = Height;
          PictureW = Height * 640 / 480;
        }
        PictureX = (Width - PictureW) / 2;
        PictureY = (Height - PictureH) / 2;
        return true;
      }
    }
    return false;
  }

  // Shot: the window's picture, one screenshot pixel per screen pixel.
  std::optional<Picture> Shot() {
    const auto ppm = Tool({"import", "-window", Window, "-depth", "8", "ppm:-"});
    if (!ppm) return std::nullopt;
    std::istringstream in(*ppm);
    std::string magic;
    int w, h, max;
    in >> magic >> w >> h >> max;
    in.get();
    if (magic != "P6" || w != Width || h != Height || max != 255) return std::nullopt;
    const std::size_t start = static_cast<std::size_t>(in.tellg());
    if (ppm->size() < start + static_cast<std::size_t>(w) * h * 3) return std::nullopt;
    Picture picture;
    for (int y = 0; y < 480; ++y)
      for (int x = 0; x < 640; ++x) {
        const int wx = PictureX + (2 * x + 1) * PictureW / 1280;
        const int wy = PictureY + (2 * y + 1) * PictureH / 960;
        const auto* p =
            reinterpret_cast<const unsigned char*>(ppm->data() + start + (wy * w + wx) * 3);
        picture.Pixels.push_back({p[0], p[1], p[2]});
      }
    return picture;
  }

  // WaitForShot: screenshots until one satisfies the test.
  template <typename Test>
  std::optional<Picture> WaitForShot(double seconds, Test test) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
      Pump(Game, 0.3, [] { return false; });
      if (Game.Status != -1) return std::nullopt;
      auto shot = Shot();
      if (shot && test(*shot)) return shot;
    }
    return std::nullopt;
  }

  void ClickScreen(int x, int y) {
    const int wx = PictureX + (2 * x + 1) * PictureW / 1280;
    const int wy = PictureY + (2 * y + 1) * PictureH / 960;
    ASSERT_TRUE(
        Tool({"xdotool", "mousemove", "--window", Window, std::to_string(wx), std::to_string(wy)}));
    Sleep(0.1);
    ASSERT_TRUE(Tool({"xdotool", "click", "1"}));
    // Clicks closer than 0.3 seconds are not taken.
    Sleep(0.5);
  }

  void ClickSquare(char file, int rank) {
    ClickScreen(BoardLeft + 48 * (file - 'a') + 24, BoardTop + 48 * (8 - rank) + 24);
  }

  void Key(const std::string& name) {
    Tool({"xdotool", "windowfocus", Window});
    ASSERT_TRUE(Tool({"xdotool", "key", name}));
  }

  XvfbSession X;
  std::string Window;
  int Width = 0, Height = 0, PictureX = 0, PictureY = 0, PictureW = 640, PictureH = 480;
};

// Occupancy: per square (rank 8 first) "." empty, "w" a grey piece (side 1),
// "b" a green one (side 2); the squares' own texture is dark blue.
std::string Occupancy(const Picture& shot) {
  std::string text;
  for (int rank = 8; rank >= 1; --rank)
    for (int file = 1; file <= 8; ++file) {
      int grey = 0, green = 0;
      for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 48; ++x) {
          const Rgb p = shot.At(BoardLeft + 48 * (file - 1) + x, BoardTop + 48 * (8 - rank) + y);
          if (p.G > 40 && p.R < 16 && p.B < 16) ++green;
          if (p.R > 60 && std::abs(p.R - p.G) < 24 && std::abs(p.G - p.B) < 24) ++grey;
        }
      text += green > 100 ? 'b' : grey > 100 ? 'w' : '.';
    }
  return text;
}

int Count(const std::string& text, char c) {
  return static_cast<int>(std::count(text.begin(), text.end(), c));
}

TEST_F(RealWindowTest, MouseMovesRefusalInABoxAndEscape) {
  Run(Kelvar, X.Env());
  ASSERT_TRUE(FindWindow(60)) << Game.Output;
  EXPECT_EQ(Game.Output.find("Could Not find mouse"), std::string::npos) << Game.Output;

  const Picture waiting = Reference([] { ShowStatus("waiting"); });
  auto isWaiting = [&](const Picture& shot) { return SameArea(shot, waiting, 540, 468, 639, 479); };
  const auto first = WaitForShot(TurnTimeout, isWaiting);
  ASSERT_TRUE(first) << Game.Output;
  const std::string opening = Occupancy(*first);
  EXPECT_EQ(opening.substr(0, 16), std::string(16, 'b'));
  EXPECT_EQ(Count(opening, 'b'), 16);
  EXPECT_EQ(Count(opening, 'w'), 16);
  EXPECT_NE(opening.substr(48), std::string(16, 'w')) << "the computer has not moved";

  ClickSquare('e', 7);
  ClickSquare('e', 5);
  const auto answered = WaitForShot(TurnTimeout, [&](const Picture& shot) {
    const std::string now = Occupancy(shot);
    std::string whiteBefore = opening, whiteNow = now;
    for (char& c : whiteBefore) c = c == 'w' ? 'w' : '.';
    for (char& c : whiteNow) c = c == 'w' ? 'w' : '.';
    return isWaiting(shot) && now[1 * 8 + 4] == '.' && now[3 * 8 + 4] == 'b' &&
           whiteNow != whiteBefore;
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

}  // namespace
