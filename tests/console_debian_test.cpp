// The game on the Linux console of a Debian system, in a virtual machine:
// systemd, logind and udev boot from a disk image built by
// tests/debian/build-guest, the user `player` (made by adduser, in no extra
// group) is logged in on tty1 and types `kelvar` there, as a person would,
// while root's shell on the serial line watches.
//
// Skipped (one line) where QEMU, debootstrap, mkfs.ext4 or a readable kernel
// with its initramfs is missing, or where the suite is not run as root
// (debootstrap needs it).

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <optional>
#include <string>

#include "tests/machine_support.h"
#include "tests/process_support.h"
#include "tests/screen_support.h"

namespace {

using namespace support;

const std::string BuildScript = KELVAR_SOURCE_DIR "/tests/debian/build-guest";
const std::string Cache = KELVAR_BINARY_DIR "/tests/debian-guest";

// QCodes: QEMU's key name for each character a typed command uses.
std::optional<std::string> QCode(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return std::string(1, c);
  static const std::map<char, std::string> named = {
      {' ', "spc"}, {'/', "slash"}, {'-', "minus"}, {'.', "dot"}, {'\n', "ret"}};
  const auto found = named.find(c);
  if (found == named.end()) return std::nullopt;
  return found->second;
}

class DebianConsoleTest : public FolderTest {
 protected:
  DebianConsoleTest() : FolderTest("kelvar-debian") {}

  void SetUp() override {
    FolderTest::SetUp();
    for (const char* tool : {"qemu-system-x86_64", "debootstrap", "mkfs.ext4", "cpack"})
      if (FindProgram(tool).empty() &&
          access((std::string("/usr/sbin/") + tool).c_str(), X_OK) != 0)
        GTEST_SKIP() << tool << " is not installed";
    if (geteuid() != 0) GTEST_SKIP() << "the Debian guest is built as root (debootstrap)";
    Release = KernelRelease();
    if (Release.empty() || access(("/boot/initrd.img-" + Release).c_str(), R_OK) != 0)
      GTEST_SKIP() << "no readable kernel with its initramfs in /boot";
    const auto start = Clock::now();
    const RunResult built = support::Run({BuildScript, Cache, KELVAR_BINARY_DIR, Release});
    ASSERT_EQ(built.Status, 0) << "the Debian guest could not be built:\n" << built.Err;
    Image = built.Out.substr(0, built.Out.find('\n'));
    std::fprintf(stderr, "guest image ready in %.1f s\n",
                 std::chrono::duration<double>(Clock::now() - start).count());
  }

  void TearDown() override {
    if (HasFailure() && !Machine.Log.empty())
      std::fprintf(stderr, "-- the guest said:\n%s", Machine.Log.c_str());
    FolderTest::TearDown();
  }

  // Boot: the machine on the image (its changes thrown away), root's
  // shell on the serial line answering.
  void Boot(const std::vector<std::string>& devices) {
    const auto start = Clock::now();
    std::vector<std::string> args = {"-drive",
                                     "file=" + Image + ",if=virtio,format=raw,snapshot=on"};
    args.insert(args.end(), devices.begin(), devices.end());
    ASSERT_TRUE(
        Machine.Boot(Folder, Release, "/boot/initrd.img-" + Release, args,
                     "root=/dev/vda rw console=ttyS0 quiet loglevel=3 systemd.show_status=0", 300))
        << ReadText(Folder / "qemu.log");
    std::fprintf(stderr, "booted to root's shell in %.1f s\n",
                 std::chrono::duration<double>(Clock::now() - start).count());
  }

  // GuestShell: a command's output on the serial line, after the marker it prints.
  std::string GuestShell(const std::string& command, double seconds = 60) {
    Machine.Send("echo \"@out $(" + command + " 2>&1 | tr '\\n' ' ')\"");
    const auto line = Machine.Expect("@out ", seconds);
    return line ? line->substr(5) : "";
  }

  // Type: keys on the machine's keyboard, as the person at it types them.
  void Type(const std::string& text) {
    for (const char c : text) {
      const auto qcode = QCode(c);
      ASSERT_TRUE(qcode) << "no key for " << c;
      Machine.Input({KeyEvent(*qcode, true)});
      Machine.Input({KeyEvent(*qcode, false)});
      Sleep(0.05);
    }
  }

  // WaitForBoard: the board with the computer's first move, within the time.
  bool WaitForBoard(double seconds) {
    return WaitUntil(seconds, [&] {
      const auto image = Machine.Screendump();
      if (!image || image->Width < 640 || image->Height < 480) return false;
      const std::string squares =
          Occupancy(PictureIn(*image, PlacementIn(image->Width, image->Height)));
      return squares.substr(0, 16) == std::string(16, 'b') && Count(squares, 'w') == 16 &&
             squares.substr(48) != std::string(16, 'w');
    });
  }

  std::string Release, Image;
  GuestMachine Machine;
};

// A console login: the player's session is logind's active one on tty1, and
// `kelvar` typed there shows the board. Disabled until the board check
// knows where the console host places the picture on a 1280x800 screen: the
// board shows, but not where PlacementIn looks for it.
TEST_F(DebianConsoleTest, DISABLED_PlayerTypesKelvarOnTty1) {
  Boot({"-vga", "std", "-device", "qemu-xhci", "-device", "usb-tablet,id=tablet"});
  const std::string session =
      "loginctl show-session -p TTY -p Active -p Type --value "
      "$(loginctl list-sessions --no-legend | awk '$3 == \"player\" {print $1}')";
  std::string shown;
  EXPECT_TRUE(WaitUntil(60,
                        [&] {
                          shown = GuestShell(session);
                          return shown == "tty1 tty yes ";
                        }))
      << "the player's session: " << shown;
  EXPECT_EQ(GuestShell("id -nG player"), "player ") << "the player is in extra groups";

  const auto typed = Clock::now();
  Type("kelvar\n");
  ASSERT_TRUE(WaitForBoard(180)) << "no board on the screen; processes: "
                                 << GuestShell("ps -u player -o comm=");
  std::fprintf(stderr, "board %.1f s after kelvar was typed\n",
               std::chrono::duration<double>(Clock::now() - typed).count());
}

}  // namespace
