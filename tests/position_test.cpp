#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "rules/rules.h"
#include "tests/process_support.h"

namespace {

namespace fs = std::filesystem;

// The run-time error report: "Runtime error N at 0x" and eight hex digits.
bool IsReport(const std::string& text, int code) {
  const std::string head = "Runtime error " + std::to_string(code) + " at 0x";
  if (text.size() != head.size() + 9 || text.compare(0, head.size(), head) != 0) return false;
  for (std::size_t i = head.size(); i < head.size() + 8; ++i)
    if (!std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
  return text.back() == '\n';
}

using support::RunResult;

class PositionTest : public support::FolderTest {
 protected:
  PositionTest() : FolderTest("kelvar-position") {}

  void Write(const std::string& text, const char* name = "kelvar.in") {
    std::ofstream out(Folder / name, std::ios::binary);
    out << text;
  }

  // Loads the file in this process; for inputs that are accepted.
  void Load(const std::string& text) {
    Write(text);
    LoadPosition((Folder / "kelvar.in").c_str());
  }

  // Loads "kelvar.in" in a child process working in the temporary folder,
  // as the game does, and collects its exit status and both outputs. With
  // together, both outputs go to one pipe so their order shows.
  RunResult LoadInChild(bool together = false) {
    return support::RunInChild(
        [] {
          LoadPosition("kelvar.in");
          std::printf("loaded %d %d\n", PieceCount1, PieceCount2);
          return 0;
        },
        Folder, together ? support::Streams::Merged : support::Streams::Apart);
  }

  // Expects the file to be refused with status 201, exactly the report on
  // standard output, and the given line on standard error.
  void ExpectRefused(const std::string& text, const std::string& message) {
    Write(text);
    const RunResult result = LoadInChild();
    EXPECT_EQ(result.Status, 201) << "file:\n" << text;
    EXPECT_TRUE(IsReport(result.Out, 201)) << result.Out;
    EXPECT_EQ(result.Err, message + "\n") << "file:\n" << text;
  }
};

const std::string Opening =
    "a2 b2 c2 d2 e2 f2 g2 h2\nb1 g1\nc1 f1\na1 h1\nd1\ne1\n"
    "a7 b7 c7 d7 e7 f7 g7 h7\nb8 g8\nc8 f8\na8 h8\nd8\ne8\n";

std::string BoardPicture() {
  std::string picture;
  for (int rank = 8; rank >= 1; --rank) {
    for (int file = 1; file <= 8; ++file) picture += std::to_string(Board[file][rank]) + " ";
    picture += "\n";
  }
  return picture;
}

TEST_F(PositionTest, OpeningPositionFromTheDataFolder) {
  LoadPosition(KELVAR_SOURCE_DIR "/data/kelvar.in");
  ASSERT_EQ(PieceCount1, 16);
  ASSERT_EQ(PieceCount2, 16);
  for (int i = 1; i <= 8; ++i) {
    EXPECT_EQ(PieceList1[i].Kind, Pawn);
    EXPECT_EQ(PieceList1[i].File, i);
    EXPECT_EQ(PieceList1[i].Rank, 2);
    EXPECT_EQ(PieceList2[i].File, i);
    EXPECT_EQ(PieceList2[i].Rank, 7);
  }
  const int kinds[] = {Knight, Knight, Bishop, Bishop, Rook, Rook, Queen, King};
  for (int i = 9; i <= 16; ++i) {
    EXPECT_EQ(PieceList1[i].Kind, kinds[i - 9]);
    EXPECT_EQ(PieceList2[i].Kind, kinds[i - 9]);
  }
  EXPECT_EQ(PieceList1[16].File, 5);
  EXPECT_EQ(PieceList2[16].Rank, 8);
  EXPECT_EQ(BoardPicture(),
            "68 66 67 69 70 67 66 68 \n65 65 65 65 65 65 65 65 \n0 0 0 0 0 0 0 0 \n"
            "0 0 0 0 0 0 0 0 \n0 0 0 0 0 0 0 0 \n0 0 0 0 0 0 0 0 \n1 1 1 1 1 1 1 1 \n"
            "4 2 3 5 6 3 2 4 \n");
}

TEST_F(PositionTest, LayoutOfLinesIsForgiving) {
  // Spaces anywhere, a carriage return before the line feed, text after a
  // carriage return, no final line feed.
  Load(" e 2d2  \r\n\n\n\n\n e1\r junk\n\n\n\n\n\ne8");
  EXPECT_EQ(PieceCount1, 3);
  EXPECT_EQ(PieceCount2, 1);
  EXPECT_EQ(Board[5][2], 1);
  EXPECT_EQ(Board[4][2], 1);
  EXPECT_EQ(Board[5][1], 6);
  EXPECT_EQ(Board[5][8], 70);
  EXPECT_EQ(PieceList2[1].Kind, King);

  // Twelve empty lines, and an empty file, give an empty board.
  Load("\n\n\n\n\n\n\n\n\n\n\n\n");
  EXPECT_EQ(PieceCount1, 0);
  EXPECT_EQ(PieceCount2, 0);
  EXPECT_EQ(BoardPicture().find_first_not_of("0 \n"), std::string::npos);
  Load(Opening);
  Load("");
  EXPECT_EQ(PieceCount1 + PieceCount2, 0);
  EXPECT_EQ(BoardPicture().find_first_not_of("0 \n"), std::string::npos);

  // Missing lines at the end are empty; text after the twelfth is ignored.
  Load("a2b2c2\nb1\n");
  EXPECT_EQ(PieceCount1, 4);
  EXPECT_EQ(PieceCount2, 0);
  Load(Opening + "zz this line is never read\n");
  EXPECT_EQ(PieceCount1, 16);

  // Characters past the 255th of a line are skipped.
  Load("a2" + std::string(253, ' ') + "z9z9\n\n\n\n\n\n\n\n\n\n\n\n");
  EXPECT_EQ(PieceCount1, 1);
}

TEST_F(PositionTest, SixteenPiecesAndNoKingAreAccepted) {
  Load("a2b2c2d2e2f2g2h2a3b3c3d3e3f3g3h3\n\n\n\n\n\nh8\n");
  EXPECT_EQ(PieceCount1, 16);
  EXPECT_EQ(PieceList1[16].File, 8);
  EXPECT_EQ(PieceList1[16].Rank, 3);
  EXPECT_EQ(PieceCount2, 1);
  EXPECT_EQ(Board[8][8], 65);
  EXPECT_FALSE(KingAttacked(1));
  EXPECT_FALSE(KingAttacked(2));
}

TEST_F(PositionTest, SuccessInAChildWritesNothing) {
  Write(Opening);
  const RunResult result = LoadInChild();
  EXPECT_EQ(result.Status, 0);
  EXPECT_EQ(result.Out, "loaded 16 16\n");
  EXPECT_EQ(result.Err, "");
}

TEST_F(PositionTest, BadSquaresAreRefused) {
  ExpectRefused("A2\n", "kelvar.in:1: bad square \"A2\"");
  ExpectRefused("\n\ni1\n", "kelvar.in:3: bad square \"i1\"");
  ExpectRefused("a2 a9\n", "kelvar.in:1: bad square \"a9\"");
  ExpectRefused("\n\n\n\n\n\n\n\n\n\n\na0\n", "kelvar.in:12: bad square \"a0\"");
  ExpectRefused("a2\tb2\n", "kelvar.in:1: bad square \"\\tb\"");
  ExpectRefused("2e\n", "kelvar.in:1: bad square \"2e\"");
}

TEST_F(PositionTest, LeftoverCharactersAndRepeatedSquaresAreRefused) {
  ExpectRefused("a2b2c\n", "kelvar.in:1: incomplete square \"c\"");
  ExpectRefused("\n\n\n\n\ne1 e\n", "kelvar.in:6: incomplete square \"e\"");
  ExpectRefused("a2 b2 a2\n", "kelvar.in:1: square named twice \"a2\" (first named on line 1)");
  ExpectRefused("e2\n\n\n\n\ne1\ne2\n",
                "kelvar.in:7: square named twice \"e2\" (first named on line 1)");
}

TEST_F(PositionTest, MoreThanSixteenPiecesAreRefused) {
  ExpectRefused("a2b2c2d2e2f2g2h2a3b3c3d3e3f3g3h3a4\n",
                "kelvar.in:1: more than 16 pieces for White at \"a4\"");
  ExpectRefused("\n\n\n\n\n\na7b7c7d7e7f7g7h7a6b6c6d6e6f6g6h6\na5\n",
                "kelvar.in:8: more than 16 pieces for Black at \"a5\"");
  ExpectRefused("a2b2c2d2e2f2g2h2\na3b3c3d3e3f3g3h3\n\n\n\nh1\n",
                "kelvar.in:6: more than 16 pieces for White at \"h1\"");
}

TEST_F(PositionTest, ExplanationComesBeforeTheReport) {
  Write("\n\ni1\n");
  const RunResult result = LoadInChild(true);
  EXPECT_EQ(result.Status, 201);
  const std::string explanation = "kelvar.in:3: bad square \"i1\"\n";
  EXPECT_EQ(result.Out.substr(0, explanation.size()), explanation) << result.Out;
  EXPECT_TRUE(IsReport(result.Out.substr(explanation.size()), 201)) << result.Out;
}

TEST_F(PositionTest, FilesThatCannotBeReadEndWithTheSystemsNumber) {
  RunResult result = LoadInChild();  // no kelvar.in in the folder
  EXPECT_EQ(result.Status, 2);
  EXPECT_TRUE(IsReport(result.Out, 2)) << result.Out;
  EXPECT_EQ(result.Err, "kelvar.in: cannot open: No such file or directory\n");

  fs::create_directory(Folder / "kelvar.in");  // opens, but reading fails
  result = LoadInChild();
  EXPECT_EQ(result.Status, EISDIR);
  EXPECT_TRUE(IsReport(result.Out, EISDIR)) << result.Out;
  EXPECT_NE(result.Err.find("kelvar.in: cannot read: "), std::string::npos) << result.Err;
}

// A harness that must live on after a run-time error leaves through the
// exit handler; one that returns from it still ends with the number.
struct ThrownRunError {
  int Code;
};

TEST_F(PositionTest, ExitHandlerLetsAHarnessCatchTheError) {
  SetRunErrorExit([](int code) { throw ThrownRunError{code}; });
  Write("a2 z9\n");
  int caught = 0;
  try {
    LoadPosition((Folder / "kelvar.in").c_str());
  } catch (const ThrownRunError& error) {
    caught = error.Code;
  }
  EXPECT_EQ(caught, 201);
  // The position loads normally afterwards.
  Load(Opening);
  EXPECT_EQ(PieceCount1, 16);
  SetRunErrorExit([](int) {});
  fs::remove(Folder / "kelvar.in");
  RunResult result = LoadInChild();
  EXPECT_EQ(result.Status, 2);
  SetRunErrorExit(nullptr);
}

}  // namespace
