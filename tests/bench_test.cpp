// kelvar-bench: the line format, the signature of the bench positions (any
// change to what the search visits shows up here), identical figures from run
// to run, and the headless start whatever the environment says.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/process_support.h"

namespace {

using support::RunResult;

const std::string Tool = KELVAR_BINARY_DIR "/tools/kelvar-bench";
const std::string Positions = KELVAR_SOURCE_DIR "/bench/positions/";
const std::string Start = KELVAR_SOURCE_DIR "/data/kelvar.in";

// Bench: the tool's run with these arguments, and its output's lines.
struct Bench {
  RunResult Run;
  std::vector<std::string> Lines;
};

Bench RunBench(std::vector<std::string> arguments,
               const support::EnvironmentChanges& changes = {}) {
  arguments.insert(arguments.begin(), Tool);
  Bench bench{support::Run(arguments, changes), {}};
  std::istringstream lines(bench.Run.Out);
  for (std::string line; std::getline(lines, line);) bench.Lines.push_back(line);
  return bench;
}

// AllPositions: the bench positions' files, after the given arguments.
std::vector<std::string> AllPositions(std::vector<std::string> arguments = {}) {
  for (const char* name : {"endgame", "middlegame", "opening", "queens", "tactics"})
    arguments.push_back(Positions + name + ".in");
  return arguments;
}

// Figures: a line without its directory and its timing (ms and nps).
std::string Figures(const std::string& line) {
  std::string text = line.substr(0, line.find(" ms="));
  const std::size_t slash = text.rfind('/', text.find(' '));
  return slash == std::string::npos ? text : text.substr(slash + 1);
}

bool AllOf(const std::string& text, const std::string& allowed) {
  return !text.empty() && text.find_first_not_of(allowed) == std::string::npos;
}

// WellFormed: FILE then the nine fields in their order, each a plain value.
bool WellFormed(const std::string& line) {
  std::istringstream words(line);
  std::string file, word;
  words >> file;
  const char* keys[] = {"move", "score", "nodes", "gen", "branch", "legal", "outcome", "ms", "nps"};
  for (const char* key : keys) {
    if (!(words >> word)) return false;
    const std::string prefix = std::string(key) + "=";
    if (word.compare(0, prefix.size(), prefix) != 0) return false;
    const std::string value = word.substr(prefix.size());
    const std::string digits = "0123456789";
    bool good = false;
    if (prefix == "move=")
      good = value.size() == 5 && value[2] == '-';
    else if (prefix == "score=")
      good = AllOf(value[0] == '-' ? value.substr(1) : value, digits);
    else if (prefix == "branch=")
      good = value.size() >= 3 && value[value.size() - 2] == '.' &&
             AllOf(value.substr(0, value.size() - 2) + value.back(), digits);
    else if (prefix == "legal=")
      good = value == "0" || value == "1";
    else if (prefix == "outcome=")
      good = value == "move" || value == "nomove" || value == "surrender" || value == "mate";
    else
      good = AllOf(value, digits);
    if (!good) return false;
  }
  return !(words >> word);
}

TEST(BenchTest, SignatureOfTheBenchPositions) {
  const Bench run = RunBench(AllPositions());
  ASSERT_EQ(run.Run.Status, 0);
  ASSERT_EQ(run.Lines.size(), 6u);
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(WellFormed(run.Lines[i])) << run.Lines[i];
  const std::vector<std::string> expected = {
      "endgame.in move=d1-d6 score=-16 nodes=434514 gen=2376595 branch=27.6 legal=1 outcome=move",
      "middlegame.in move=e4-e5 score=54 nodes=1685153 gen=14376611 branch=37.2 legal=1 "
      "outcome=move",
      "opening.in move=b1-c3 score=42 nodes=283169 gen=1484148 branch=25.1 legal=1 outcome=move",
      "queens.in move=d1-d7 score=-1796 nodes=841219 gen=9949565 branch=67.7 legal=1 outcome=move",
      "tactics.in move=h5-h7 score=10000 nodes=887355 gen=13302504 branch=35.3 legal=1 "
      "outcome=mate"};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Figures(run.Lines[i]), expected[i]);
  EXPECT_EQ(run.Lines[5].substr(0, 23), "total nodes=4131410 ms=");
  EXPECT_NE(run.Lines[5].find(" nps="), std::string::npos);

  // Side 2 from the same files, and the same figures on a second run.
  const Bench black = RunBench(AllPositions({"-s", "2"}));
  ASSERT_EQ(black.Run.Status, 0);
  ASSERT_EQ(black.Lines.size(), 6u);
  EXPECT_EQ(Figures(black.Lines[1]),
            "middlegame.in move=d5-e4 score=-32 nodes=2511132 gen=20403081 branch=41.0 legal=1 "
            "outcome=move");
  EXPECT_EQ(black.Lines[5].substr(0, 19), "total nodes=4829956");
  const Bench again = RunBench(AllPositions());
  ASSERT_EQ(again.Lines.size(), 6u);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(Figures(again.Lines[i]), Figures(run.Lines[i]));
}

TEST(BenchTest, StartPositionRunsHeadlessWhateverTheEnvironment) {
  // A video driver that cannot work here does not matter: the tool picks the
  // dummy driver itself.
  const Bench run = RunBench({Start});
  const Bench elsewhere =
      RunBench({Start}, {{"SDL_VIDEODRIVER", "wayland"}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}});
  EXPECT_EQ(elsewhere.Run.Status, 0);
  ASSERT_EQ(run.Run.Status, 0);
  ASSERT_EQ(run.Lines.size(), 2u);
  ASSERT_FALSE(elsewhere.Lines.empty());
  EXPECT_EQ(Figures(elsewhere.Lines[0]), Figures(run.Lines[0]));
  EXPECT_EQ(Figures(run.Lines[0]),
            "kelvar.in move=b1-c3 score=42 nodes=283169 gen=1484148 branch=25.1 legal=1 "
            "outcome=move");
}

TEST(BenchTest, RefusesBadArguments) {
  const std::vector<std::vector<std::string>> refused = {
      {}, {"-s"}, {"-s", "3", Positions + "opening.in"}, {"-s", "2"}};
  for (const auto& arguments : refused) EXPECT_EQ(RunBench(arguments).Run.Status, 2);
}

}  // namespace
