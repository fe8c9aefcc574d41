// The computer's turn: each way it can end, with the exact messages, and the
// mate announcement, which ends the program, in a child process.

#include <gtest/gtest.h>
#include <unistd.h>

#include "engine_support.h"

using support::BackRankMate;
using support::ParseMove;
using support::Place;
using support::Put;

namespace {

class ComputerMoveTest : public support::EngineTest {
 protected:
  static void ExpectOneMessage(const char* text) {
    ASSERT_EQ(support::Messages.size(), 1u);
    EXPECT_EQ(support::Messages[0].Title, "Computer");
    EXPECT_EQ(support::Messages[0].Text, text);
  }
};

TEST_F(ComputerMoveTest, WithoutAnyMoveSaysSoAndMovesNothing) {
  Place("Pe4 pe5 kh8");
  LastComputerMove = ParseMove("a1-a2");
  const support::Position before = support::SavePosition();
  EXPECT_FALSE(ComputerMove(1));
  ExpectOneMessage("I have no legal moves|Game Over");
  EXPECT_EQ(MoveText(LastComputerMove), "`0-`0");
  EXPECT_TRUE(support::SamePosition(before, support::SavePosition()));
}

TEST_F(ComputerMoveTest, CheckmatedComputerSurrenders) {
  // The white king is mated: every move loses it, the first in the order
  // (taking the guarded queen) is kept and refused by the validation.
  Place("Kh1 qg2 kg3");
  const support::Position before = support::SavePosition();
  EXPECT_FALSE(ComputerMove(1));
  ExpectOneMessage("I'm obviously losing this game|I surrender|Peace Brother!!!");
  EXPECT_EQ(MoveText(LastComputerMove), "h1-g2");
  EXPECT_TRUE(support::SamePosition(before, support::SavePosition()));
}

TEST_F(ComputerMoveTest, KingCaptureFirstInTheOrderLeavesAnEmptyMoveAndSurrenders) {
  Place("Rh1 Ka1 kh8");
  EXPECT_FALSE(ComputerMove(1));
  ExpectOneMessage("I'm obviously losing this game|I surrender|Peace Brother!!!");
  EXPECT_EQ(MoveText(LastComputerMove), "`0-`0");
}

TEST_F(ComputerMoveTest, PlaysItsMoveAsAQueenPromotionAndKeepsItsFigures) {
  Place("Ka1 Pe7 kh5");
  PromotionKind = Knight;
  EXPECT_TRUE(ComputerMove(1));
  EXPECT_TRUE(support::Messages.empty());
  EXPECT_EQ(MoveText(LastComputerMove), "e7-e8");
  EXPECT_EQ(PromotionKind, Queen);
  EXPECT_EQ(Board[5][8], Queen);
  EXPECT_EQ(Board[5][7], 0);
  EXPECT_GT(NodesDone, 1000);
  EXPECT_GT(NodesPerSecond, 0.0L);
  EXPECT_LE(NodesPerSecond, NodesDone / 0.001L);
  EXPECT_EQ(StatusLine().substr(0, 18), "Last Move : e7-e8;");
}

TEST_F(ComputerMoveTest, OpeningMoveIsMadeAsValidatedAndTheStatisticsStartAfresh) {
  LoadPosition(KELVAR_SOURCE_DIR "/data/kelvar.in");
  const support::Position before = support::SavePosition();
  EXPECT_TRUE(ComputerMove(1));
  const support::Position after = support::SavePosition();
  const std::int32_t nodes = NodesDone;
  // The move made is the one recorded, played by MakeMove.
  Board = before.Board;
  PieceList1 = before.List1;
  PieceList2 = before.List2;
  PieceCount1 = before.Count1;
  PieceCount2 = before.Count2;
  EXPECT_TRUE(ValidateMove(LastComputerMove, 1, false));
  MakeMove(LastComputerMove, 1);
  EXPECT_TRUE(support::SamePosition(after, support::SavePosition()));
  // The same search again gives the same figures, not twice as many.
  Board = before.Board;
  PieceList1 = before.List1;
  PieceList2 = before.List2;
  PieceCount1 = before.Count1;
  PieceCount2 = before.Count2;
  const ComputerChoice choice = ChooseComputerMove(1);
  EXPECT_EQ(NodesDone, nodes);
  EXPECT_EQ(choice.Outcome, ComputerOutcome::Move);
  EXPECT_TRUE(choice.Legal);
  EXPECT_TRUE(support::Messages.empty());
  // Side 2 searches with its own list first.
  const ComputerChoice black = ChooseComputerMove(2);
  EXPECT_EQ(black.Outcome, ComputerOutcome::Move);
  EXPECT_EQ(black.Chosen.FromRank >= 7, true);
}

TEST_F(ComputerMoveTest, SeesTheMate) {
  BackRankMate();
  const ComputerChoice choice = ChooseComputerMove(1);
  EXPECT_EQ(choice.Score, 10000.0L);
  EXPECT_EQ(MoveText(choice.Chosen), "a1-a8");
  EXPECT_TRUE(choice.Legal);
  EXPECT_EQ(choice.Outcome, ComputerOutcome::Mate);
}

TEST_F(ComputerMoveTest, MateIsAnnouncedAndEndsTheProgram) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  BackRankMate();
  // The announcement draws the board, which needs the square images.
  ASSERT_EQ(chdir(KELVAR_BINARY_DIR "/data"), 0);
  EXPECT_EXIT(
      {
        LoadGraphics();
        support::EchoMessages = true;
        // A second key for the wait after the message box.
        support::ExtraKeys = "\r";
        ComputerMove(1);
        std::fprintf(stderr, "ComputerMove returned\n");
        std::_Exit(3);
      },
      ::testing::ExitedWithCode(0), "MessageBox\\[Computer\\]\\[Black is mated\\|Game Over\\]");
}

}  // namespace
