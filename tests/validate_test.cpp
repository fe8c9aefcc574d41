// ValidateMove: the six tests in their order and with their texts, the
// silent mode, and the position left as it was after every call.

#include <gtest/gtest.h>

#include "engine_support.h"

using support::ParseMove;
using support::Place;
using support::Put;

namespace {

class ValidateMoveTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { support::OpenHeadlessScreen(); }
  void SetUp() override {
    support::ClearPosition();
    support::ClearRecords();
    PromotionKind = Queen;
  }

  // Expect: the answer and the message (none when text is empty) with
  // messages on and off, and the position byte for byte unchanged each time.
  void Expect(Move move, int side, const char* text) {
    const support::Position before = support::SavePosition();
    const bool legal = text[0] == '\0';
    EXPECT_EQ(ValidateMove(move, side, false), legal);
    EXPECT_TRUE(support::Messages.empty()) << "silent mode showed a message";
    EXPECT_TRUE(support::SamePosition(before, support::SavePosition()));
    support::ClearRecords();
    EXPECT_EQ(ValidateMove(move, side, true), legal);
    if (legal) {
      EXPECT_TRUE(support::Messages.empty());
    } else {
      ASSERT_EQ(support::Messages.size(), 1u);
      EXPECT_EQ(support::Messages[0].Title, "Error");
      EXPECT_EQ(support::Messages[0].Text, text);
    }
    EXPECT_TRUE(support::SamePosition(before, support::SavePosition()));
    EXPECT_FALSE(KeyWaiting()) << "the message box left its key";
    support::ClearRecords();
  }
  void Expect(const char* move, int side, const char* text) { Expect(ParseMove(move), side, text); }

  static void OpeningPosition() { LoadPosition(KELVAR_SOURCE_DIR "/data/kelvar.in"); }
};

TEST_F(ValidateMoveTest, RefusesInTheOrderOfTheTests) {
  OpeningPosition();
  // Off the board comes before the empty from-square.
  Expect(Move{5, 4, 9, 4}, 1, "Out Of Table");
  Expect(Move{0, 2, 5, 4}, 1, "Out Of Table");
  Expect(Move{5, 2, 5, 0}, 1, "Out Of Table");
  Expect("e4-e5", 1, "Illegal Move");
  Expect("e2-e4", 2, "Don't touch my figures, bastard!");
  Expect("e7-e5", 1, "Don't touch my figures, bastard!");
  Expect("e2-e2", 1, "You can't kill your friends.");
  Expect("a1-a2", 1, "You can't kill your friends.");
  Expect("b1-d2", 1, "You can't kill your friends.");
  Expect("e2-e5", 1, "That figure cannot be moved there, fool!");
  Expect("e2-d3", 1, "That figure cannot be moved there, fool!");
  Expect("e2-e4", 1, "");
  Expect("g1-f3", 1, "");
  Expect("e7-e5", 2, "");
  Expect("b8-c6", 2, "");
}

TEST_F(ValidateMoveTest, NoCastlingAndNoEnPassant) {
  Place("Ke1 Rh1 Pe5 ke8 pd5");
  Expect("e1-g1", 1, "That figure cannot be moved there, fool!");
  Expect("e5-d6", 1, "That figure cannot be moved there, fool!");
  Expect("e1-f1", 1, "");
  Expect("e5-e6", 1, "");
}

TEST_F(ValidateMoveTest, RefusesMovesThatLeaveTheKingAttacked) {
  // A bishop pinned on the e-file, a king walking next to the other king,
  // and a check that a pawn move leaves in place.
  Place("Ke1 Be2 Pa2 re8 kc3");
  Expect("e2-d3", 1, "Yo kin' is in chess! haha :)");
  Expect("e1-d2", 1, "Yo kin' is in chess! haha :)");
  Expect("e1-f1", 1, "");
  // A refused earlier test still wins: the pinned bishop onto its own pawn.
  support::ClearPosition();
  Place("Ke1 Pa2 re8 kh8");
  Expect("a2-a3", 1, "Yo kin' is in chess! haha :)");
}

TEST_F(ValidateMoveTest, AnswersACheckByCaptureOrInterposition) {
  Place("Ke1 Ra8 Nc3 Ph2 re8 kh8");
  Expect("a8-e8", 1, "");
  Expect("c3-e4", 1, "");
  Expect("c3-e2", 1, "");
  Expect("c3-d5", 1, "Yo kin' is in chess! haha :)");
  Expect("h2-h3", 1, "Yo kin' is in chess! haha :)");
}

TEST_F(ValidateMoveTest, TrialPromotionAndKingCaptureLeaveThePositionAlone) {
  Place("Ka1 Pe7 Rh4 kh8 nd8");
  PromotionKind = Knight;
  Expect("e7-e8", 1, "");
  Expect("e7-d8", 1, "");
  // A reachable enemy king may be taken.
  Expect("h4-h8", 1, "");
  // Side 2 with the same position: its king is attacked by the rook already.
  Expect("d8-c6", 2, "Yo kin' is in chess! haha :)");
  Expect("h8-g7", 2, "");
}

}  // namespace
