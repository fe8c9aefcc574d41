// The choice of display: no display and no terminal, and a terminal
// demanded on a pipe, both end with the graphics error.

#include "tests/terminal_game_support.h"

namespace {

using namespace support;
using namespace terminal_game;

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
