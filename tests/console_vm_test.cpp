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

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "tests/machine_support.h"

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

// GameEnd: what the guest saw when the game ended.
struct GameEnd {
  int Status = -1;
  int DisplayMode = -1, Keyboard = -1, KeyboardBefore = -1, LineEditing = -1;
};

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
    Release = KernelRelease(GuestRoot);
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
    const Architecture& guest = *Guest();
    std::vector<std::string> args = {guest.Emulator};
    args.insert(args.end(), guest.Machine.begin(), guest.Machine.end());
    const std::vector<std::string> boot = {
        "-kernel",
        GuestRoot + "/boot/vmlinuz-" + Release,
        "-initrd",
        (Folder / "guest.cpio").string(),
        "-append",
        std::string("console=") + guest.Serial + " quiet loglevel=3 serial=" + guest.Serial};
    args.insert(args.end(), boot.begin(), boot.end());
    args.insert(args.end(), devices.begin(), devices.end());
    args.insert(args.end(), guest.Keyboard.begin(), guest.Keyboard.end());
    ASSERT_TRUE(Machine.Boot(Folder, args)) << ReadText(Folder / "qemu.log");
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

  // WaitForPersonsTurn: the board with the computer's first move, waiting
  // for the person; its occupancy.
  std::string WaitForPersonsTurn() {
    const std::string first = Machine.PersonsTurn(120, Opened);
    if (first.empty()) {
      const auto last = Machine.Shot();
      ADD_FAILURE() << "the board never waited for the person after the computer's first move"
                    << (last ? "; the squares shown: " + Occupancy(*last) : "");
      return "";
    }
    std::fprintf(stderr, "board %.1f s after the game started, %.1f s after the machine\n",
                 std::chrono::duration<double>(Clock::now() - Started).count(),
                 std::chrono::duration<double>(Clock::now() - Booted).count());
    // The game takes no click in the first 0.3 s of the person's turn.
    Sleep(1);
    return first;
  }

  void ExpectAnswer(const std::string& opening) {
    EXPECT_FALSE(
        Machine
            .PersonsTurn(120,
                         [&](const std::string& squares) { return Answered(opening, squares); })
            .empty())
        << "no answer to e7-e5 seen";
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
    Machine.Touch(SquareX('e'), SquareY(7), ConsoleWidth, ConsoleHeight);
    if (plugMouse) {
      // The newest mouse takes QEMU's relative movements and the buttons.
      Machine.PointAt(SquareX('e'), SquareY(5));
      Machine.Click();
    } else {
      Machine.Touch(SquareX('e'), SquareY(5), ConsoleWidth, ConsoleHeight);
    }
    ExpectAnswer(opening);
    Machine.Press("esc");
    Sleep(1);
    Machine.Touch(600, 100, ConsoleWidth, ConsoleHeight);
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
    Machine.Press("right", 57);
    Machine.Press("down", 20);
    Machine.Press("spc");
    Sleep(0.5);
    Machine.Press("down", 16);
    Machine.Press("spc");
    ExpectAnswer(opening);
    Machine.Press("esc");
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
    Machine.PointAt(SquareX('e'), SquareY(7));
    Machine.Click();
    Machine.PointAt(SquareX('e'), SquareY(5));
    Machine.Click();
    ExpectAnswer(opening);
    // With a mouse, Esc is acted on at the next movement.
    Machine.Press("esc");
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
