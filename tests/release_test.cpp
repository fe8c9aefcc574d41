// What a player or a packager meets outside the game itself: the game's
// --version and --help, the developer tools' usage, the files a failure
// names and the place it reports (the same in every run), the installed
// layout (with --prefix and with DESTDIR), and a configure that needs none
// of the suites' libraries.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/process_support.h"

namespace {

namespace fs = std::filesystem;

const std::string BinaryDir = KELVAR_BINARY_DIR;
const std::string SourceDir = KELVAR_SOURCE_DIR;
const std::string Game = BinaryDir + "/kelvar";

using support::RunResult;
using support::Shell;

// NoDisplay: the environment of a machine without any display.
const std::string NoDisplay = "env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER ";
const std::string Headless = "env SDL_VIDEODRIVER=dummy ";

class ReleaseTest : public support::FolderTest {
 protected:
  ReleaseTest() : FolderTest("kelvar-release") {}
  // GameFolder: a folder with the game's files, as the build leaves them.
  fs::path GameFolder() {
    support::CopyGameFiles(Folder / "game");
    return Folder / "game";
  }
  RunResult RunGameIn(const fs::path& folder) {
    return Shell("cd '" + folder.string() + "' && " + Headless + Game, Folder);
  }
};

// ---- The game's own options -------------------------------------------------------------

TEST_F(ReleaseTest, VersionAndHelpAnswerWithoutAScreen) {
  for (const char* arguments : {"--version", "extra --version", "--version --help"}) {
    const RunResult result = Shell(NoDisplay + Game + " " + arguments, Folder);
    EXPECT_EQ(result.Status, 0) << arguments;
    EXPECT_EQ(result.Out, "kelvar 1.0.0\n") << arguments;
    EXPECT_EQ(result.Err, "") << arguments;
  }
  const RunResult help = Shell(NoDisplay + Game + " --help", Folder);
  EXPECT_EQ(help.Status, 0);
  EXPECT_EQ(help.Out.rfind("usage: kelvar", 0), 0u) << help.Out;
  for (const char* topic : {"Esc", "kelvar.in", "PawnFix.x", "Exit status", "201", "terminal",
                            "KELVAR_DISPLAY", "POSITION-FILE"})
    EXPECT_NE(help.Out.find(topic), std::string::npos) << topic;
  EXPECT_EQ(help.Err, "");
}

TEST_F(ReleaseTest, OtherArgumentsAreIgnored) {
  // The game starts as without them: here it finds no display.
  const RunResult result = Shell(NoDisplay + Game + " --fullscreen -x", Folder);
  EXPECT_EQ(result.Status, 1);
  EXPECT_NE(result.Out.find("Error: Not in graphics mode"), std::string::npos) << result.Out;
}

// ---- The developer tools' usage ----------------------------------------------------------

TEST_F(ReleaseTest, ToolsAnswerHelpAndRefuseUnknownOptions) {
  for (const std::string tool : {"kelvar-perft", "kelvar-bench", "kelvar-snapshot", "kelvar-art"}) {
    const std::string program = BinaryDir + "/tools/" + tool;
    const RunResult help = Shell(Headless + program + " --help", Folder);
    EXPECT_EQ(help.Status, 0) << tool << help.Err;
    EXPECT_EQ(help.Out.rfind("usage: " + tool, 0), 0u) << tool << ": " << help.Out;
    EXPECT_EQ(help.Err, "") << tool;

    const RunResult refused = Shell(Headless + program + " --no-such-option", Folder);
    EXPECT_EQ(refused.Status, 2) << tool;
    EXPECT_EQ(refused.Out, "") << tool;
    EXPECT_NE(refused.Err.find("usage: " + tool), std::string::npos) << tool << refused.Err;
    EXPECT_EQ(refused.Err.find("Runtime error"), std::string::npos) << tool;
  }
}

// ---- Failures name their file, at a place that stays put -------------------------------------

// ReportedPlace: the eight digits of "Runtime error N at 0x........", "" if none.
std::string ReportedPlace(const std::string& output, int code) {
  const std::string head = "Runtime error " + std::to_string(code) + " at 0x";
  const std::size_t at = output.find(head);
  if (at == std::string::npos) return "";
  const std::string place = output.substr(at + head.size(), 9);
  if (place.size() != 9 || place[8] != '\n' || place.find_first_not_of("0123456789ABCDEF") != 8)
    return "";
  return place.substr(0, 8);
}

TEST_F(ReleaseTest, MissingAndShortPicturesAreNamedBeforeTheReport) {
  const fs::path folder = GameFolder();
  fs::remove(folder / "fig3.x");
  RunResult result = RunGameIn(folder);
  EXPECT_EQ(result.Status, 2);
  EXPECT_EQ(result.Err, "fig3.x: cannot open: No such file or directory\n");
  EXPECT_NE(ReportedPlace(result.Out, 2), "") << result.Out;

  fs::copy_file(folder / "fig1.x", folder / "fig3.x");
  fs::resize_file(folder / "fig2.x", 1200);
  result = RunGameIn(folder);
  EXPECT_EQ(result.Status, 100);
  EXPECT_EQ(result.Err, "fig2.x: 1200 bytes, 2304 expected\n");
  EXPECT_NE(ReportedPlace(result.Out, 100), "") << result.Out;
}

TEST_F(ReleaseTest, TheSameFailureReportsTheSamePlaceEveryRun) {
  const fs::path folder = GameFolder();
  fs::remove(folder / "fig5.x");
  const RunResult first = RunGameIn(folder);
  const RunResult second = RunGameIn(folder);
  const std::string place = ReportedPlace(first.Out, 2);
  ASSERT_NE(place, "") << first.Out;
  EXPECT_EQ(ReportedPlace(second.Out, 2), place) << second.Out;

  // A different failure is a different place.
  std::ofstream(folder / "kelvar.in", std::ios::trunc) << "z9\n";
  fs::copy_file(folder / "fig4.x", folder / "fig5.x");
  const RunResult other = RunGameIn(folder);
  const std::string otherPlace = ReportedPlace(other.Out, 201);
  ASSERT_NE(otherPlace, "") << other.Out;
  EXPECT_NE(otherPlace, place);
  EXPECT_EQ(ReportedPlace(RunGameIn(folder).Out, 201), otherPlace);
}

// ---- Installing --------------------------------------------------------------------------

// ExpectInstalledGame: the layout under root, and its launcher working from
// a folder with no game files.
void ExpectInstalledGame(const fs::path& root, const fs::path& scratch,
                         const std::string& installedPrefix) {
  for (const char* file :
       {"games/kelvar", "libexec/kelvar/kelvar", "share/kelvar/kelvar.in", "share/kelvar/fig1.x",
        "share/kelvar/fig6.x", "share/kelvar/PawnFix.x", "share/man/man6/kelvar.6.gz",
        "share/applications/org.kelvar.kelvar.desktop",
        "share/metainfo/org.kelvar.kelvar.metainfo.xml", "share/doc/kelvar/copyright",
        "share/icons/hicolor/48x48/apps/kelvar.png", "share/icons/hicolor/256x256/apps/kelvar.png"})
    EXPECT_TRUE(fs::exists(root / file)) << root / file;
  EXPECT_EQ(fs::file_size(root / "share/kelvar/fig2.x"), 2304u);
  // The desktop entry starts this installation's launcher, by its full path.
  const std::string entry =
      support::ReadText(root / "share/applications/org.kelvar.kelvar.desktop");
  EXPECT_NE(entry.find("\nExec=" + installedPrefix + "/games/kelvar\n"), std::string::npos)
      << entry;
  EXPECT_EQ(fs::file_size(root / "share/kelvar/PawnFix.x"), 307200u);

  const fs::path elsewhere = scratch / "elsewhere";
  fs::create_directories(elsewhere);
  const std::string launcher = (root / "games/kelvar").string();
  RunResult result =
      Shell("cd '" + elsewhere.string() + "' && " + NoDisplay + launcher + " --version", scratch);
  EXPECT_EQ(result.Status, 0) << result.Err;
  EXPECT_EQ(result.Out, "kelvar 1.0.0\n");
  // A start position of one's own: a missing file, a folder, an unreadable
  // file are refused by the launcher with status 2; a broken one gets the
  // game's own run-time error (the copy as kelvar.in, read in a folder of
  // its own that is gone afterwards).
  const std::string inElsewhere =
      "cd '" + elsewhere.string() + "' && TMPDIR='" + elsewhere.string() + "' " + Headless;
  result = Shell(inElsewhere + launcher + " missing.in", scratch);
  EXPECT_EQ(result.Status, 2);
  EXPECT_EQ(result.Err, "kelvar: missing.in: no such file\n");
  result = Shell(inElsewhere + launcher + " /", scratch);
  EXPECT_EQ(result.Status, 2);
  EXPECT_EQ(result.Err, "kelvar: /: is a folder, not a position file\n");
  if (getuid() != 0) {  // root reads every file
    std::ofstream(elsewhere / "locked.in") << "e2\n";
    fs::permissions(elsewhere / "locked.in", fs::perms::none);
    result = Shell(inElsewhere + launcher + " locked.in", scratch);
    EXPECT_EQ(result.Status, 2);
    EXPECT_EQ(result.Err, "kelvar: locked.in: cannot be read (permission denied)\n");
    fs::remove(elsewhere / "locked.in");
  }
  std::ofstream(elsewhere / "mine.in") << "z9\n";
  result = Shell(inElsewhere + launcher + " mine.in", scratch);
  EXPECT_EQ(result.Status, 201);
  EXPECT_EQ(result.Err, "kelvar.in:1: bad square \"z9\"\n");
  EXPECT_NE(result.Out.find("Runtime error 201 at"), std::string::npos) << result.Out;
  fs::remove(elsewhere / "mine.in");
  EXPECT_TRUE(fs::is_empty(elsewhere)) << "the game's folder is removed";

  // Headless, the game reads the pictures of the data folder and stops at
  // the start position taken away from it: it ran there, not here.
  fs::remove(root / "share/kelvar/kelvar.in");
  result = Shell("cd '" + elsewhere.string() + "' && " + Headless + launcher, scratch);
  EXPECT_EQ(result.Status, 2);
  EXPECT_EQ(result.Err, "kelvar.in: cannot open: No such file or directory\n");
  EXPECT_TRUE(fs::is_empty(elsewhere));
}

TEST_F(ReleaseTest, InstallWithAPrefixGivesAWorkingLauncher) {
  const fs::path prefix = Folder / "prefix";
  const RunResult result =
      Shell("cmake --install '" + BinaryDir + "' --prefix '" + prefix.string() + "'", Folder);
  ASSERT_EQ(result.Status, 0) << result.Out << result.Err;
  ExpectInstalledGame(prefix, Folder, prefix.string());
}

TEST_F(ReleaseTest, InstallHonoursDestdir) {
  const fs::path stage = Folder / "stage";
  const RunResult result = Shell("DESTDIR='" + stage.string() + "' cmake --install '" + BinaryDir +
                                     "' --prefix /opt/kelvar-test",
                                 Folder);
  ASSERT_EQ(result.Status, 0) << result.Out << result.Err;
  EXPECT_FALSE(fs::exists("/opt/kelvar-test"));
  ExpectInstalledGame(stage / "opt/kelvar-test", Folder, "/opt/kelvar-test");
}

// ---- Building the game alone ---------------------------------------------------------------

// A configure that may not use GoogleTest, Google Benchmark or libpng: asking
// for any of them as required would fail it.
const std::string WithoutSuiteLibraries =
    " -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON"
    " -DCMAKE_DISABLE_FIND_PACKAGE_PNG=ON";

TEST_F(ReleaseTest, TheGameBuildsWithoutTheSuitesLibraries) {
  RunResult result = Shell("cmake -S '" + SourceDir + "' -B '" + (Folder / "off").string() +
                               "' -DKELVAR_TESTS=OFF -DKELVAR_TOOLS=OFF -DKELVAR_BENCHMARKS=OFF" +
                               WithoutSuiteLibraries,
                           Folder);
  EXPECT_EQ(result.Status, 0) << result.Out << result.Err;
  EXPECT_NE(result.Out.find("libpng not found, the icons and kelvar-snapshot are skipped"),
            std::string::npos)
      << result.Out;
  // And the game and its pictures build there.
  result = Shell(
      "cmake --build '" + (Folder / "off").string() + "' -j2 --target kelvar kelvar-data", Folder);
  EXPECT_EQ(result.Status, 0) << result.Out << result.Err;
  EXPECT_TRUE(fs::exists(Folder / "off/kelvar"));
  EXPECT_EQ(fs::file_size(Folder / "off/data/PawnFix.x"), 307200u);

  // With everything asked for, each missing library is one note, not a failure.
  result = Shell(
      "cmake -S '" + SourceDir + "' -B '" + (Folder / "on").string() + "'" + WithoutSuiteLibraries,
      Folder);
  EXPECT_EQ(result.Status, 0) << result.Out << result.Err;
  for (const char* note : {"GoogleTest not found, the test suites are skipped",
                           "Google Benchmark not found, the micro-benchmarks are skipped",
                           "libpng not found, the icons and kelvar-snapshot are skipped"})
    EXPECT_NE(result.Out.find(note), std::string::npos) << note << "\n" << result.Out;
  EXPECT_FALSE(fs::exists(Folder / "on/tests"));
  EXPECT_FALSE(fs::exists(Folder / "on/bench"));
  EXPECT_TRUE(fs::exists(Folder / "on/tools"));
}

}  // namespace
