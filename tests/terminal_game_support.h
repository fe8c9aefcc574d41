// The fixture every end-to-end suite of the game in a terminal shares: the
// game (kelvar-probe, the real program with a report of each turn on
// descriptor 3, sent to a file) started by a shell line in a folder of its
// own, its reports, status and terminal settings read from files.
#pragma once

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

namespace terminal_game {

using namespace support;

// WithoutLeakCheck: the sanitizer's options for a game that first tries a
// window: SDL keeps what its failed start allocated. The terminal's own code
// is leak-checked where the terminal is asked for (KELVAR_DISPLAY=terminal).
inline std::string WithoutLeakCheck() {
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

inline bool IsGreen(const Rgb& p) { return p.G > 40 && p.R < 30 && p.B < 30; }
inline bool IsGrey(const Rgb& p) {
  return p.R > 60 && std::abs(p.R - p.G) < 24 && std::abs(p.G - p.B) < 24;
}

}  // namespace terminal_game
