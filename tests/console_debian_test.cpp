// The game on the Linux console of a Debian system, in a virtual machine:
// systemd, logind and udev boot from a disk image built by
// tests/debian/build-guest, the user `player` (made by adduser, in no extra
// group) is logged in on tty1 and types `kelvar` there, as a person would,
// while root's shell on the serial line watches and switches consoles.
//
// Skipped (one line) where QEMU, debootstrap, mkfs.ext4 or a readable kernel
// with its initramfs is missing, where the suite is not run as root
// (debootstrap needs it), or where the guest must be built and the Debian
// mirror cannot be reached.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/machine_support.h"

namespace {

using namespace support;

const std::string BuildScript = KELVAR_SOURCE_DIR "/tests/debian/build-guest";
const char* const CacheSetting = std::getenv("KELVAR_DEBIAN_CACHE");
const std::string Cache = CacheSetting != nullptr && *CacheSetting != '\0' ? CacheSetting
                                                                           : KELVAR_BINARY_DIR
                              "/tests/debian-guest";

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// Moved: the person's move from one square to another is on the board
// (the piece gone from the first, one of the person's on the second) and
// White has answered since before.
bool Moved(const std::string& before, const std::string& now, char fromFile, int fromRank,
           char toFile, int toRank) {
  std::string whiteBefore = before, whiteNow = now;
  for (char& c : whiteBefore) c = c == 'w' ? 'w' : '.';
  for (char& c : whiteNow) c = c == 'w' ? 'w' : '.';
  return PieceOn(now, fromFile, fromRank) == '.' && PieceOn(now, toFile, toRank) == 'b' &&
         whiteNow != whiteBefore;
}

class DebianConsoleTest : public FolderTest {
 protected:
  DebianConsoleTest() : FolderTest("kelvar-debian") {}

  void SetUp() override {
    FolderTest::SetUp();
    for (const char* tool : {"qemu-system-x86_64", "debootstrap", "mkfs.ext4", "cpack", "wget"})
      if (FindProgram(tool).empty() &&
          access((std::string("/usr/sbin/") + tool).c_str(), X_OK) != 0)
        GTEST_SKIP() << tool << " is not installed";
    if (geteuid() != 0) GTEST_SKIP() << "the Debian guest is built as root (debootstrap)";
    Release = KernelRelease();
    if (Release.empty() || access(("/boot/initrd.img-" + Release).c_str(), R_OK) != 0)
      GTEST_SKIP() << "no readable kernel with its initramfs in /boot";
    const auto start = Clock::now();
    const RunResult built = support::Run({BuildScript, Cache, KELVAR_BINARY_DIR, Release});
    if (built.Status == 77)
      GTEST_SKIP() << "the Debian mirror cannot be reached to build the guest";
    ASSERT_EQ(built.Status, 0) << "the Debian guest could not be built:\n" << built.Err;
    Image = built.Out.substr(0, built.Out.find('\n'));
    std::fprintf(stderr, "guest image ready in %.1f s\n", Since(start));
  }

  void TearDown() override {
    if (HasFailure() && !Machine.Log.empty())
      std::fprintf(stderr, "-- the guest said:\n%s", Machine.Log.c_str());
    std::error_code ignored;
    const fs::path kept = fs::temp_directory_path() / "kelvar-debian-last-screen.ppm";
    if (HasFailure() &&
        fs::copy_file(Folder / "screen.ppm", kept, fs::copy_options::overwrite_existing, ignored))
      std::fprintf(stderr, "-- the last screendump: %s\n", kept.c_str());
    FolderTest::TearDown();
  }

  // Boot: the machine on the image (its changes thrown away) with a
  // standard VGA, a USB tablet and no PS/2 mouse driver (the relative
  // movements QEMU sends reach only a USB mouse plugged in later), root's
  // shell on the serial line answering.
  void Boot() {
    const auto start = Clock::now();
    ASSERT_TRUE(Machine.Boot(
        Folder,
        {"qemu-system-x86_64", "-machine", "pc", "-cpu", "Nehalem", "-kernel",
         "/boot/vmlinuz-" + Release, "-initrd", "/boot/initrd.img-" + Release, "-append",
         "root=/dev/vda rw console=ttyS0 quiet loglevel=3 systemd.show_status=0 "
         "modprobe.blacklist=psmouse",
         "-drive", "file=" + Image + ",if=virtio,format=raw,snapshot=on", "-vga", "std", "-device",
         "qemu-xhci", "-device", "usb-tablet"},
        300))
        << ReadText(Folder / "qemu.log");
    std::fprintf(stderr, "booted to root's shell in %.1f s\n", Since(start));
    // The card's state says whose picture is shown: the console's or the game's.
    Machine.Shell("mountpoint -q /sys/kernel/debug || mount -t debugfs none /sys/kernel/debug");
  }

  // StartGame: `kelvar` typed on tty1 and the board waiting for the
  // person; its occupancy, the game's process id kept.
  std::string StartGame() {
    const auto typed = Clock::now();
    EXPECT_TRUE(Machine.Type("kelvar\n"));
    const std::string opening = Machine.PersonsTurn(240, Opened);
    if (opening.empty()) {
      ADD_FAILURE() << "no board after kelvar was typed; tty1 says: "
                    << Machine.Shell("grep -v '^ *$' /dev/vcs1 | fold -w 160 | grep -v '^ *$'");
      return "";
    }
    std::fprintf(stderr, "board %.1f s after kelvar was typed\n", Since(typed));
    GamePid = Machine.Shell("pgrep -o -u player -x kelvar");
    // The game takes no click in the first 0.3 s of the person's turn.
    Sleep(1);
    return opening;
  }

  // ConsoleShown: the display shows the console's own text (its frame
  // buffer on the card), not the game's picture.
  bool ConsoleShown() {
    return Machine.Shell("grep -m1 -o 'allocated by.*' /sys/kernel/debug/dri/0/state") ==
           "allocated by = [fbcon]";
  }

  // ExpectTty1Back: within the time, tty1 shows text and reads its
  // keyboard as text again, and a command typed there runs.
  void ExpectTty1Back(double seconds, const std::string& marker) {
    const auto start = Clock::now();
    EXPECT_TRUE(WaitUntil(seconds, [&] { return ConsoleShown(); }))
        << "the game's picture is still shown";
    EXPECT_TRUE(WaitUntil(seconds,
                          [&] {
                            return Machine.Shell("kbd_mode -C /dev/tty1").find("Unicode") !=
                                   std::string::npos;
                          }))
        << "tty1's keyboard: " << Machine.Shell("kbd_mode -C /dev/tty1");
    std::fprintf(stderr, "tty1 back in text mode with its keyboard %.1f s after the game ended\n",
                 Since(start));
    EXPECT_LE(Since(start), seconds) << "tty1 came back too late";
    EXPECT_TRUE(Machine.Type("echo $? >/tmp/" + marker + "\n"));
    EXPECT_TRUE(WaitUntil(10, [&] { return !Machine.Shell("cat /tmp/" + marker).empty(); }))
        << "a command typed on tty1 did not run";
  }

  // Figures: the waiting game's resident memory and share of a core over ten seconds.
  void Figures() {
    const std::string stat = "cut -d' ' -f14,15 /proc/" + GamePid + "/stat";
    long long user = 0, system = 0, userAfter = 0, systemAfter = 0;
    std::sscanf(Machine.Shell(stat).c_str(), "%lld %lld", &user, &system);
    const auto start = Clock::now();
    Sleep(10);
    std::sscanf(Machine.Shell(stat).c_str(), "%lld %lld", &userAfter, &systemAfter);
    const double share =
        static_cast<double>(userAfter + systemAfter - user - system) / 100 / Since(start);
    std::fprintf(stderr, "waiting: %.2f %% of a core; %s\n", share * 100,
                 Machine.Shell("grep VmRSS /proc/" + GamePid + "/status").c_str());
    EXPECT_LT(share, 0.02);
  }

  std::string Release, Image, GamePid;
  GuestMachine Machine;
};

// A console login plays: the player's session is logind's active one on
// tty1; root's game started on tty3 meanwhile says in one line that it
// cannot have the screen and plays in tty3's text; `kelvar` typed on tty1
// shows the board; the tablet plays e7-e5; root
// switches to tty2 and back while the game runs (taps while away change
// nothing); a USB mouse plugged in moves the arrow and plays d7-d6; Esc
// ends the game with 0 and tty1 takes commands again; a second game, e7-e5
// by the mouse, is killed with SIGKILL and tty1 is back within 5 s.
TEST_F(DebianConsoleTest, PlayerPlaysOnTty1) {
  const auto start = Clock::now();
  Boot();
  const std::string session =
      "loginctl show-session -p TTY -p Active -p Type --value "
      "$(loginctl list-sessions --no-legend | awk '$3 == \"player\" {print $1}')";
  std::string shown;
  ASSERT_TRUE(WaitUntil(60,
                        [&] {
                          shown = Machine.Shell(session);
                          return shown == "tty1 tty yes";
                        }))
      << "the player's session: " << shown;
  const std::string groups = Machine.Shell("id -nG player");
  EXPECT_EQ(groups.find("input"), std::string::npos) << groups;
  EXPECT_EQ(groups.find("video"), std::string::npos) << groups;
  const auto screen = Machine.Screendump();
  ASSERT_TRUE(screen);
  const int width = screen->Width, height = screen->Height;
  std::fprintf(stderr, "console %dx%d\n", width, height);

  {
    SCOPED_TRACE("root starts the game on tty3 while the player's tty1 is shown");
    Machine.Shell(
        "openvt -c 3 -- sh -c '/usr/games/kelvar 2>/tmp/refused; echo $? >/tmp/refused-status'");
    EXPECT_TRUE(WaitUntil(
        60, [&] { return Machine.Shell("grep -c 'drawing in the terminal' /tmp/refused") == "1"; }))
        << "the terminal host did not start: " << Machine.Shell("cat /tmp/refused");
    EXPECT_EQ(Machine.Shell("grep 'cannot be shown' /tmp/refused"),
              "kelvar: the console cannot be shown: this console (tty3) is not the one shown "
              "(tty1); playing in the terminal instead");
    EXPECT_EQ(Machine.Shell("fgconsole"), "1");
    EXPECT_TRUE(ConsoleShown()) << "the game on tty3 took the screen of tty1";
    Machine.Shell("kill -TERM $(pgrep -u root -x kelvar)");
    EXPECT_TRUE(WaitUntil(30, [&] { return Machine.Shell("cat /tmp/refused-status") == "143"; }))
        << "the game on tty3 did not end on SIGTERM: " << Machine.Shell("cat /tmp/refused-status");
  }

  {
    SCOPED_TRACE("the tablet, switching consoles, a mouse plugged in, Esc");
    const std::string opening = StartGame();
    ASSERT_FALSE(opening.empty());
    Figures();
    Machine.Touch(SquareX('e'), SquareY(7), width, height);
    Machine.Touch(SquareX('e'), SquareY(5), width, height);
    const std::string answered =
        Machine.PersonsTurn(120, [&](const std::string& now) { return Answered(opening, now); });
    ASSERT_FALSE(answered.empty()) << "no answer to e7-e5 tapped";

    EXPECT_EQ(Machine.Shell("timeout 20 chvt 2; echo $?"), "0");
    EXPECT_EQ(Machine.Shell("fgconsole"), "2");
    EXPECT_TRUE(WaitUntil(10, [&] { return ConsoleShown(); })) << "tty2 is not shown";
    Machine.Touch(SquareX('d'), SquareY(7), width, height);
    Machine.Touch(SquareX('d'), SquareY(6), width, height);
    Sleep(2);
    EXPECT_EQ(Machine.Shell("timeout 20 chvt 1; echo $?"), "0");
    EXPECT_FALSE(
        Machine.PersonsTurn(30, [&](const std::string& now) { return now == answered; }).empty())
        << "the board did not come back as it was";
    Sleep(2);
    const auto still = Machine.Shot();
    ASSERT_TRUE(still);
    EXPECT_EQ(Occupancy(*still), answered) << "taps while away changed the board";

    ASSERT_TRUE(Machine.Qmp("device_add", R"({"driver": "usb-mouse", "id": "plugged"})"));
    Machine.Shell("udevadm settle --timeout=30; sleep 2");
    Machine.PointAt(SquareX('d'), SquareY(7));
    Machine.Click();
    Machine.PointAt(SquareX('d'), SquareY(6));
    Machine.Click();
    EXPECT_FALSE(
        Machine
            .PersonsTurn(
                120, [&](const std::string& now) { return Moved(answered, now, 'd', 7, 'd', 6); })
            .empty())
        << "the plugged-in mouse did not play d7-d6";

    // With a mouse, Esc is acted on at the next movement.
    Machine.Press("esc");
    Sleep(1);
    Machine.Input({Relative("x", 5)});
    ExpectTty1Back(30, "after-esc");
    EXPECT_EQ(Machine.Shell("cat /tmp/after-esc"), "0") << "the game's exit status";
  }

  {
    SCOPED_TRACE("the mouse, then SIGKILL");
    const std::string opening = StartGame();
    ASSERT_FALSE(opening.empty());
    Machine.PointAt(SquareX('e'), SquareY(7));
    Machine.Click();
    Machine.PointAt(SquareX('e'), SquareY(5));
    Machine.Click();
    EXPECT_FALSE(
        Machine.PersonsTurn(120, [&](const std::string& now) { return Answered(opening, now); })
            .empty())
        << "no answer to e7-e5 by the mouse";
    Machine.Shell("kill -KILL " + GamePid);
    ExpectTty1Back(5, "after-kill");
    EXPECT_EQ(Machine.Shell("cat /tmp/after-kill"), "137") << "the shell's view of the kill";
  }
  std::fprintf(stderr, "the scenario took %.1f s from boot\n", Since(start));
}

}  // namespace
