// The game on the Linux console, in a virtual machine: QEMU (no KVM) boots
// the machine's kernel with an initramfs holding busybox, udev, seatd, the
// game and its libraries, and the game runs on tty1 through its console
// host. The suite moves the machine's mouse, tablet and keyboard through
// QMP, judges what a person sees by screendumps, reads tty1's text, and has
// the guest report the game's status and the console's modes after each run.
//
// Skipped (one line) where QEMU, busybox, cpio or a readable kernel with its
// modules is missing.
//
// The guest is the build machine's own (amd64) unless KELVAR_CONSOLE_ARCH
// names another (arm64); then KELVAR_CONSOLE_BUILD is that processor's build
// folder (the game, its data, kelvar-console-guest), and KELVAR_CONSOLE_ROOT
// a folder holding its kernel (boot/, lib/modules/, depmod run) and
// busybox (bin/busybox), Debian packages unpacked; its libraries are the
// build machine's multiarch ones.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/process_support.h"
#include "tests/screen_support.h"

namespace {

using namespace support;

const std::string BuildScript = KELVAR_SOURCE_DIR "/tests/console/build-initramfs";

// Architecture: what differs between the guests' processors.
struct Architecture {
  const char* Name;                   // Debian's name, as KELVAR_CONSOLE_ARCH gives it
  const char* Triplet;                // its multiarch library folder
  const char* Emulator;               // the QEMU that runs it
  std::vector<std::string> Machine;   // the machine and its processor
  const char* Serial;                 // the serial port, the guest's shell (init reads serial=)
  std::vector<std::string> Keyboard;  // a keyboard device when the machine has none
};

const Architecture Architectures[] = {
    {"amd64",
     "x86_64-linux-gnu",
     "qemu-system-x86_64",
     {"-machine", "pc", "-cpu", "Nehalem"},
     "ttyS0",
     {}},
    {"arm64",
     "aarch64-linux-gnu",
     "qemu-system-aarch64",
     {"-machine", "virt", "-cpu", "cortex-a72"},
     "ttyAMA0",
     {"-device", "usb-kbd"}},
};

std::string Setting(const char* name, const std::string& otherwise) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : otherwise;
}

// Guest: the architecture KELVAR_CONSOLE_ARCH names; nullptr for an unknown one.
const Architecture* Guest() {
  const std::string name = Setting("KELVAR_CONSOLE_ARCH", "amd64");
  for (const Architecture& architecture : Architectures)
    if (name == architecture.Name) return &architecture;
  return nullptr;
}

const std::string GuestBuild = Setting("KELVAR_CONSOLE_BUILD", KELVAR_BINARY_DIR);
const std::string GuestRoot = Setting("KELVAR_CONSOLE_ROOT", "/");
const std::string GuestTool = GuestBuild + "/tests/kelvar-console-guest";

// Keyboard modes (KDGKBMODE) and the text display mode (KDGETMODE).
constexpr int KeyboardOff = 4;
constexpr int TextMode = 0;

// KernelRelease: the newest kernel in the guest root's boot/ this user can
// read that has its modules installed; "" when there is none.
std::string KernelRelease() {
  std::vector<std::string> releases;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(GuestRoot + "/boot", error)) {
    const std::string name = entry.path().filename();
    if (name.rfind("vmlinuz-", 0) != 0) continue;
    const std::string release = name.substr(8);
    if (access(entry.path().c_str(), R_OK) == 0 &&
        fs::is_directory(GuestRoot + "/lib/modules/" + release))
      releases.push_back(release);
  }
  std::sort(releases.begin(), releases.end());
  return releases.empty() ? "" : releases.back();
}

// Connect: a stream socket connected to a Unix socket's path, -1 when not yet there.
int Connect(const fs::path& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// LineReader: lines from a socket, each without its line end.
struct LineReader {
  int Fd = -1;
  std::string Pending;
  // Next: the next line within the time; nullopt at its end or the stream's.
  std::optional<std::string> Next(double seconds) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
      const std::size_t newline = Pending.find('\n');
      if (newline != std::string::npos) {
        std::string line = Pending.substr(0, newline);
        Pending.erase(0, newline + 1);
        line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
      if (left.count() <= 0) return std::nullopt;
      pollfd ready{Fd, POLLIN, 0};
      if (poll(&ready, 1, static_cast<int>(left.count())) <= 0) continue;
      char buffer[4096];
      const ssize_t n = read(Fd, buffer, sizeof buffer);
      if (n <= 0) return std::nullopt;
      Pending.append(buffer, static_cast<std::size_t>(n));
    }
  }
};

void WriteAll(int fd, const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

// GameEnd: what the guest saw when the game ended.
struct GameEnd {
  int Status = -1;
  int DisplayMode = -1, Keyboard = -1, KeyboardBefore = -1, LineEditing = -1;
};

// GuestMachine: one virtual machine, its serial line (the guest's command
// shell) and its QMP monitor; ended with the object.
class GuestMachine {
 public:
  ~GuestMachine() {
    if (Pid > 0) {
      kill(Pid, SIGKILL);
      Wait(Pid);
    }
    if (Serial.Fd >= 0) close(Serial.Fd);
    if (Monitor.Fd >= 0) close(Monitor.Fd);
  }

  // Boot: the machine with the kernel, the initramfs and the extra devices;
  // true once the guest's shell answers.
  bool Boot(const Architecture& guest, const fs::path& folder, const std::string& release,
            const fs::path& initramfs, const std::vector<std::string>& devices) {
    Folder = folder;
    std::vector<std::string> args = {
        guest.Emulator,
        "-accel",
        "tcg,thread=multi",
        "-smp",
        "2",
        "-m",
        "1024",
        "-nodefaults",
        "-no-reboot",
        "-display",
        "none",
        "-kernel",
        GuestRoot + "/boot/vmlinuz-" + release,
        "-initrd",
        initramfs.string(),
        "-append",
        std::string("console=") + guest.Serial + " quiet loglevel=3 serial=" + guest.Serial,
        "-qmp",
        "unix:" + (folder / "qmp").string() + ",server=on,wait=off",
        "-chardev",
        "socket,id=serial,path=" + (folder / "serial").string() + ",server=on,wait=off",
        "-serial",
        "chardev:serial"};
    args.insert(args.begin() + 1, guest.Machine.begin(), guest.Machine.end());
    args.insert(args.end(), devices.begin(), devices.end());
    args.insert(args.end(), guest.Keyboard.begin(), guest.Keyboard.end());
    const int log = open((folder / "qemu.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    Pid = Start(args, {}, -1, log, log);
    close(log);
    if (!WaitUntil(20, [&] {
          if (Serial.Fd < 0) Serial.Fd = Connect(folder / "serial");
          if (Monitor.Fd < 0) Monitor.Fd = Connect(folder / "qmp");
          return Serial.Fd >= 0 && Monitor.Fd >= 0;
        }))
      return false;
    if (!Monitor.Next(10) || !Qmp("qmp_capabilities")) return false;
    return Expect("@ready", 120).has_value();
  }

  // Send: a command line for the guest's shell.
  void Send(const std::string& line) { WriteAll(Serial.Fd, line + "\n"); }

  // Expect: the first line from the guest that starts with prefix; the lines
  // before it are kept in Log.
  std::optional<std::string> Expect(const std::string& prefix, double seconds) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
      const double left = std::chrono::duration<double>(end - Clock::now()).count();
      const auto line = Serial.Next(std::max(left, 0.0));
      if (!line) return std::nullopt;
      Log += *line + "\n";
      if (line->rfind(prefix, 0) == 0) return line;
    }
  }

  // Qmp: a monitor command with its arguments (a JSON object); true when it
  // returned without an error.
  bool Qmp(const std::string& command, const std::string& arguments = "{}") {
    WriteAll(Monitor.Fd, "{\"execute\": \"" + command + "\", \"arguments\": " + arguments + "}\n");
    for (;;) {
      const auto line = Monitor.Next(30);
      if (!line) return false;
      if (line->find("\"return\"") != std::string::npos) return true;
      if (line->find("\"error\"") != std::string::npos) {
        Log += "QMP " + command + ": " + *line + "\n";
        return false;
      }
    }
  }

  // Input: events for input-send-event, each a JSON object.
  bool Input(const std::vector<std::string>& events) {
    std::string list;
    for (const std::string& event : events) list += (list.empty() ? "" : ", ") + event;
    return Qmp("input-send-event", "{\"events\": [" + list + "]}");
  }

  // Screendump: what the machine's display shows now.
  std::optional<Image> Screendump() {
    const fs::path file = Folder / "screen.ppm";
    if (!Qmp("screendump", "{\"filename\": \"" + file.string() + "\"}")) return std::nullopt;
    return ParsePpm(ReadText(file));
  }

  pid_t Pid = -1;
  fs::path Folder;
  LineReader Serial, Monitor;
  std::string Log;
};

std::string Relative(const char* axis, int value) {
  return "{\"type\": \"rel\", \"data\": {\"axis\": \"" + std::string(axis) +
         "\", \"value\": " + std::to_string(value) + "}}";
}

std::string Absolute(const char* axis, int value) {
  return "{\"type\": \"abs\", \"data\": {\"axis\": \"" + std::string(axis) +
         "\", \"value\": " + std::to_string(value) + "}}";
}

std::string LeftButton(bool down) {
  return std::string("{\"type\": \"btn\", \"data\": {\"down\": ") + (down ? "true" : "false") +
         ", \"button\": \"left\"}}";
}

std::string KeyEvent(const std::string& qcode, bool down) {
  return std::string("{\"type\": \"key\", \"data\": {\"down\": ") + (down ? "true" : "false") +
         ", \"key\": {\"type\": \"qcode\", \"data\": \"" + qcode + "\"}}}";
}

class ConsoleMachineTest : public FolderTest {
 protected:
  ConsoleMachineTest() : FolderTest("kelvar-console") {}

  void SetUp() override {
    FolderTest::SetUp();
    ASSERT_TRUE(Guest()) << "KELVAR_CONSOLE_ARCH names no architecture this suite knows";
    if (FindProgram(Guest()->Emulator).empty())
      GTEST_SKIP() << Guest()->Emulator << " is not installed";
    if (FindProgram("cpio").empty()) GTEST_SKIP() << "cpio is not installed";
    if (access((GuestRoot + "/bin/busybox").c_str(), X_OK) != 0)
      GTEST_SKIP() << "busybox is not installed";
    Release = KernelRelease();
    if (Release.empty())
      GTEST_SKIP() << "no readable kernel in " << GuestRoot << "/boot with its modules";
    ASSERT_TRUE(
        Capture({BuildScript, (Folder / "guest.cpio").string(), Release, GuestBuild + "/kelvar",
                 GuestBuild + "/data", GuestTool},
                {{"KELVAR_GUEST_ROOT", GuestRoot}, {"KELVAR_GUEST_TRIPLET", Guest()->Triplet}}))
        << "the guest's initramfs could not be built";
  }

  void TearDown() override {
    if (HasFailure() && !Machine.Log.empty())
      std::fprintf(stderr, "-- the guest said:\n%s", Machine.Log.c_str());
    // The last screendump outlives the test's folder, to be looked at.
    std::error_code ignored;
    const fs::path kept = fs::temp_directory_path() / "kelvar-console-last-screen.ppm";
    if (HasFailure() &&
        fs::copy_file(Folder / "screen.ppm", kept, fs::copy_options::overwrite_existing, ignored))
      std::fprintf(stderr, "-- the last screendump: %s\n", kept.c_str());
    FolderTest::TearDown();
  }

  // Boot: the machine with these devices, then the kernel modules loaded
  // and the given number of input devices there.
  void Boot(const std::vector<std::string>& devices, const std::string& modules, int inputs) {
    const auto start = Clock::now();
    Booted = start;
    ASSERT_TRUE(Machine.Boot(*Guest(), Folder, Release, Folder / "guest.cpio", devices))
        << ReadText(Folder / "qemu.log");
    Load(modules, inputs);
    const auto console = Machine.Screendump();
    ASSERT_TRUE(console);
    ConsoleWidth = console->Width;
    ConsoleHeight = console->Height;
    std::fprintf(stderr, "booted in %.1f s, console %dx%d\n",
                 std::chrono::duration<double>(Clock::now() - start).count(), ConsoleWidth,
                 ConsoleHeight);
  }

  void Load(const std::string& modules, int inputs) {
    Machine.Send("load " + modules + "; settle " + std::to_string(inputs) + "; echo @settled");
    ASSERT_TRUE(Machine.Expect("@settled", 60));
  }

  // StartGame: the game on tty1; its process id in the guest.
  void StartGame() {
    Started = Clock::now();
    Machine.Send("kelvar-console-guest run /game/data /game/kelvar &");
    const auto line = Machine.Expect("@pid ", 30);
    ASSERT_TRUE(line);
    GamePid = std::stoi(line->substr(5));
  }

  // Shot: the screen's picture, wherever the display shows it.
  std::optional<Picture> Shot() {
    const auto image = Machine.Screendump();
    if (!image || image->Width < 640 || image->Height < 480) return std::nullopt;
    return PictureIn(*image, PlacementIn(image->Width, image->Height));
  }

  template <typename Test>
  std::optional<Picture> WaitForShot(double seconds, Test test) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
      auto shot = Shot();
      if (shot && test(*shot)) return shot;
      Sleep(0.3);
    }
    return std::nullopt;
  }

  // WaitForPersonsTurn: the board with the computer's first move, waiting
  // for the person; its occupancy.
  std::string WaitForPersonsTurn() {
    const Picture waiting = Reference([] { ShowStatus("waiting"); });
    // The whole opening is waited for, not only the status: a frame on its
    // way to the screen (virtio-gpu flushes it in pieces) may show one
    // before the other.
    const auto opened = [](const std::string& squares) {
      return squares.substr(0, 16) == std::string(16, 'b') && Count(squares, 'w') == 16 &&
             squares.substr(48) != std::string(16, 'w');
    };
    const auto first = WaitForShot(120, [&](const Picture& shot) {
      return SameArea(shot, waiting, 540, 468, 639, 479) && opened(Occupancy(shot));
    });
    if (!first) {
      const auto last = Shot();
      ADD_FAILURE() << "the board never waited for the person after the computer's first move"
                    << (last ? "; the squares shown: " + Occupancy(*last) : "");
      return "";
    }
    std::fprintf(stderr, "board %.1f s after the game started, %.1f s after the machine\n",
                 std::chrono::duration<double>(Clock::now() - Started).count(),
                 std::chrono::duration<double>(Clock::now() - Booted).count());
    // The game takes no click in the first 0.3 s of the person's turn.
    Sleep(1);
    return Occupancy(*first);
  }

  void ExpectAnswer(const std::string& opening) {
    const Picture waiting = Reference([] { ShowStatus("waiting"); });
    EXPECT_TRUE(WaitForShot(120, [&](const Picture& shot) {
      return SameArea(shot, waiting, 540, 468, 639, 479) && Answered(opening, Occupancy(shot));
    })) << "no answer to e7-e5 seen";
  }

  // GameEnded: the guest's report of the end of the game.
  GameEnd GameEnded(double seconds) {
    GameEnd end;
    const auto line = Machine.Expect("@exit ", seconds);
    EXPECT_TRUE(line) << "the game did not end";
    if (line)
      std::sscanf(line->c_str(), "@exit %d kd=%d kb=%d kb0=%d lflag=%d", &end.Status,
                  &end.DisplayMode, &end.Keyboard, &end.KeyboardBefore, &end.LineEditing);
    return end;
  }

  // ExpectConsoleBack: the game ended with status, and the console is as it
  // was: text mode at its own size showing its text, the keyboard on in the
  // mode it had, echo and line editing on.
  void ExpectConsoleBack(const GameEnd& end, int status) {
    EXPECT_EQ(end.Status, status);
    EXPECT_EQ(end.DisplayMode, TextMode);
    EXPECT_NE(end.KeyboardBefore, KeyboardOff);
    EXPECT_EQ(end.Keyboard, end.KeyboardBefore);
    EXPECT_EQ(end.LineEditing, 1);
    // The display needs a moment to show the console again.
    std::optional<Image> screen;
    const bool shown = WaitUntil(10, [&] {
      screen = Machine.Screendump();
      if (!screen || screen->Width != ConsoleWidth || screen->Height != ConsoleHeight) return false;
      int lit = 0;
      for (const Rgb& p : screen->Pixels) lit += p.R > 100 && p.G > 100 && p.B > 100;
      return lit > 200;
    });
    EXPECT_TRUE(shown) << "the console's text is not shown at its own size";
  }

  // ConsoleText: tty1's lines that are not blank.
  std::vector<std::string> ConsoleText() {
    Machine.Send("kelvar-console-guest text");
    std::vector<std::string> lines;
    for (auto line = Machine.Expect("@text", 30); line && *line != "@text-end";
         line = Machine.Expect("@text", 30))
      lines.push_back(line->substr(6));
    return lines;
  }

  // ExpectOnlyGameLines: since the last game started, tty1 shows the
  // game's own lines only, no library's.
  void ExpectOnlyGameLines(const std::vector<std::string>& gameLines) {
    auto text = ConsoleText();
    const auto start = std::find(text.rbegin(), text.rend(), "kelvar console check");
    ASSERT_NE(start, text.rend()) << "tty1 does not show the line from before the game";
    text.erase(text.begin(), start.base());
    for (const std::string& line : text)
      EXPECT_TRUE(std::count(gameLines.begin(), gameLines.end(), line))
          << "not the game's: " << line;
    for (const std::string& line : gameLines)
      EXPECT_TRUE(std::count(text.begin(), text.end(), line)) << "missing: " << line;
  }

  // IdleShare: the share of one core the game used over ten seconds of waiting.
  double IdleShare() {
    auto sample = [&](long long& ticks, double& uptime) {
      Machine.Send("kelvar-console-guest cpu " + std::to_string(GamePid));
      const auto line = Machine.Expect("@cpu ", 30);
      long hz = 100;
      if (!line || std::sscanf(line->c_str(), "@cpu %lld %ld %lf", &ticks, &hz, &uptime) != 3)
        return 0L;
      return hz;
    };
    long long ticksBefore = 0, ticksAfter = 0;
    double before = 0, after = 0;
    // The last frames' drawing (the software renderer, emulated) ends first.
    Sleep(2);
    sample(ticksBefore, before);
    Sleep(10);
    const long hz = sample(ticksAfter, after);
    if (hz == 0 || after <= before) return 1;
    return static_cast<double>(ticksAfter - ticksBefore) / static_cast<double>(hz) /
           (after - before);
  }

  // ResidentKilobytes: the game's resident memory now, -1 when unknown.
  long ResidentKilobytes() {
    Machine.Send("kelvar-console-guest memory " + std::to_string(GamePid));
    const auto line = Machine.Expect("@memory ", 30);
    return line ? std::stol(line->substr(8)) : -1;
  }

  // PointAt: a relative pointer to the top-left corner, then to a screen
  // pixel, in steps the emulated mouse's small queue takes whole.
  void PointAt(int x, int y) {
    for (int i = 0; i < 8; ++i) {
      Machine.Input({Relative("x", -200), Relative("y", -200)});
      Sleep(0.1);
    }
    for (int dx = x, dy = y; dx > 0 || dy > 0;) {
      const int stepX = std::min(dx, 100), stepY = std::min(dy, 100);
      Machine.Input({Relative("x", stepX), Relative("y", stepY)});
      dx -= stepX;
      dy -= stepY;
      Sleep(0.1);
    }
    Sleep(0.2);
  }

  void Click() {
    Machine.Input({LeftButton(true)});
    Sleep(0.1);
    Machine.Input({LeftButton(false)});
    Sleep(0.5);
  }

  // Touch: an absolute pointer's press and release on a pixel of the
  // game's picture: the tablet's whole axis range (0..32767) spans the
  // display, and the picture lies centred in it at its own scale.
  void Touch(int x, int y) {
    const Placement place = PlacementIn(ConsoleWidth, ConsoleHeight);
    const double displayX = place.X + (x + 0.5) * place.W / 640;
    const double displayY = place.Y + (y + 0.5) * place.H / 480;
    const int ax = static_cast<int>(displayX * 32768 / ConsoleWidth);
    const int ay = static_cast<int>(displayY * 32768 / ConsoleHeight);
    Machine.Input({Absolute("x", ax), Absolute("y", ay), LeftButton(true)});
    Sleep(0.1);
    Machine.Input({LeftButton(false)});
    Sleep(0.5);
  }

  // Press: a key pressed and released, times over, slowly enough for the
  // emulated keyboard controller's small queue.
  void Press(const std::string& qcode, int times = 1) {
    for (int i = 0; i < times; ++i) {
      Machine.Input({KeyEvent(qcode, true)});
      Machine.Input({KeyEvent(qcode, false)});
      Sleep(0.1);
    }
  }

  // TabletGame: e7-e5 tapped with a USB tablet on a virtio-gpu display of
  // the size given, then Esc; with plugMouse, a USB mouse is plugged in
  // during the game and clicks e5 instead.
  void TabletGame(int width, int height, bool plugMouse) {
    Boot({"-device",
          "virtio-gpu-pci,xres=" + std::to_string(width) + ",yres=" + std::to_string(height),
          "-device", "qemu-xhci", "-device", "usb-tablet"},
         "virtio_pci virtio_gpu evdev xhci_pci usbhid hid_generic", 2);
    ASSERT_EQ(ConsoleWidth, width);
    ASSERT_EQ(ConsoleHeight, height);
    StartGame();
    const std::string opening = WaitForPersonsTurn();
    ASSERT_FALSE(opening.empty());
    if (plugMouse) {
      ASSERT_TRUE(Machine.Qmp("device_add", R"({"driver": "usb-mouse", "id": "plugged"})"));
      Machine.Send("settle 3; echo @settled");
      ASSERT_TRUE(Machine.Expect("@settled", 60));
    }
    Touch(SquareX('e'), SquareY(7));
    if (plugMouse) {
      // The newest mouse takes QEMU's relative movements and the buttons.
      PointAt(SquareX('e'), SquareY(5));
      Click();
    } else {
      Touch(SquareX('e'), SquareY(5));
    }
    ExpectAnswer(opening);
    Press("esc");
    Sleep(1);
    Touch(600, 100);
    ExpectConsoleBack(GameEnded(30), 0);
  }

  std::string Release;
  GuestMachine Machine;
  int ConsoleWidth = 0, ConsoleHeight = 0;
  int GamePid = -1;
  Clock::time_point Started, Booted;
};

constexpr const char* FallbackLine = "Could Not find mouse!!! Falling back to emulation";

// The standard VGA (bochs DRM) with a PS/2 keyboard: first without a mouse
// driver, then with the PS/2 mouse, then the game killed in the person's turn.
TEST_F(ConsoleMachineTest, KeyboardMouseAndSignalsOnStandardVga) {
  if (std::string(Guest()->Name) != "amd64") GTEST_SKIP() << "the standard VGA and PS/2 are a PC's";
  Boot({"-vga", "std"}, "bochs evdev", 1);

  {
    SCOPED_TRACE("no mouse: the keyboard emulation");
    StartGame();
    const std::string opening = WaitForPersonsTurn();
    ASSERT_FALSE(opening.empty());
    ExpectOnlyGameLines({FallbackLine});
    const double idle = IdleShare();
    std::fprintf(stderr, "keyboard emulation: %.2f %% of a core while waiting\n", idle * 100);
    EXPECT_LT(idle, 0.01);
    // The emulated pointer starts at (0, 0) and moves 6 pixels a key.
    Press("right", 57);
    Press("down", 20);
    Press("spc");
    Sleep(0.5);
    Press("down", 16);
    Press("spc");
    ExpectAnswer(opening);
    Press("esc");
    ExpectConsoleBack(GameEnded(30), 0);
  }

  Load("psmouse", 2);
  {
    SCOPED_TRACE("the PS/2 mouse");
    StartGame();
    const std::string opening = WaitForPersonsTurn();
    ASSERT_FALSE(opening.empty());
    const double idle = IdleShare();
    std::fprintf(stderr, "mouse: %.2f %% of a core while waiting, %ld kB resident\n", idle * 100,
                 ResidentKilobytes());
    EXPECT_LT(idle, 0.01);
    PointAt(SquareX('e'), SquareY(7));
    Click();
    PointAt(SquareX('e'), SquareY(5));
    Click();
    ExpectAnswer(opening);
    // With a mouse, Esc is acted on at the next movement.
    Press("esc");
    Sleep(1);
    Machine.Input({Relative("x", 5)});
    const GameEnd end = GameEnded(30);
    ExpectConsoleBack(end, 0);
    ExpectOnlyGameLines({});
  }

  for (const auto& [name, number] :
       {std::pair<std::string, int>{"TERM", 15}, {"SEGV", 11}, {"KILL", 9}}) {
    SCOPED_TRACE("SIG" + name + " in the person's turn");
    StartGame();
    ASSERT_FALSE(WaitForPersonsTurn().empty());
    Machine.Send("kill -" + name + " " + std::to_string(GamePid));
    ExpectConsoleBack(GameEnded(30), 128 + number);
  }
}

// virtio-gpu with a USB tablet: the board answers taps where they land on
// displays that are not a whole multiple of the picture (the picture
// centred with bars above and below, or beside it); a mouse plugged in
// during the game is followed.
TEST_F(ConsoleMachineTest, TabletOnVirtioGpu1280x800) { TabletGame(1280, 800, false); }
TEST_F(ConsoleMachineTest, TabletAndPluggedMouseOnVirtioGpu800x480) { TabletGame(800, 480, true); }

}  // namespace
