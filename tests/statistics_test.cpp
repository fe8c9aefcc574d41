// The statistics of the last search and the status line: the compact numbers,
// the mean branching, the clock across midnight, and the line itself.

#include <gtest/gtest.h>

#include <ctime>

#include "engine/engine.h"

namespace {

TEST(StatusLineTest, BeforeAnyComputerMoveEverythingIsZero) {
  // Nothing has searched in this process yet.
  EXPECT_EQ(StatusLine(), "Last Move : `0-`0; Nodes(all/done/gen)=0/0/0 @ 0nodes/s; branch=0.0");
}

TEST(StatusLineTest, FormatsTheFiguresOfASearch) {
  LastComputerMove = Move{5, 2, 5, 4};
  BranchHistogram[30] = 10;
  NodesDone = 123456;
  MovesGenerated = 1234567;
  NodesPerSecond = 45678.9L;
  EXPECT_EQ(StatusLine(),
            "Last Move : e2-e4; Nodes(all/done/gen)=729M/123k/1.23M @ 45.6knodes/s; branch=30.0");
  BranchHistogram[30] = 0;
  BranchHistogram[20] = 1;
  BranchHistogram[41] = 1;
  EXPECT_EQ(StatusLine(),
            "Last Move : e2-e4; Nodes(all/done/gen)=805M/123k/1.23M @ 45.6knodes/s; branch=30.5");
  // Move counts above 255 have their own counters.
  BranchHistogram[20] = 0;
  BranchHistogram[41] = 0;
  BranchHistogram[300] = 1;
  EXPECT_DOUBLE_EQ(static_cast<double>(MeanBranching(BranchHistogram)), 300.0);
  BranchHistogram = BranchHistogramArray{};
  NodesDone = 0;
  MovesGenerated = 0;
  NodesPerSecond = 0;
  LastComputerMove = Move{0, 0, 0, 0};
}

TEST(ShortNumberTest, Examples) {
  EXPECT_EQ(ShortNumber(999), "999");
  EXPECT_EQ(ShortNumber(1234), "1.23k");
  EXPECT_EQ(ShortNumber(12345), "12.3k");
  EXPECT_EQ(ShortNumber(123456), "123k");
  EXPECT_EQ(ShortNumber(45678.9L), "45.6k");
  EXPECT_EQ(ShortNumber(5), "5.00");
  EXPECT_EQ(ShortNumber(12.5L), "12.5");
  EXPECT_EQ(ShortNumber(0.4L), "0");
  EXPECT_EQ(ShortNumber(-2500), "-2.50k");
}

TEST(ShortNumberTest, EdgeCases) {
  EXPECT_EQ(ShortNumber(0), "0");
  EXPECT_EQ(ShortNumber(0.6L), "1");
  EXPECT_EQ(ShortNumber(-0.4L), "-0");
  EXPECT_EQ(ShortNumber(1), "1.00");
  EXPECT_EQ(ShortNumber(999.99L), "999");
  // Rounding to 1000.00 after a division means one more division.
  EXPECT_EQ(ShortNumber(999.999L), "1.00k");
  EXPECT_EQ(ShortNumber(999999), "1.00M");
  EXPECT_EQ(ShortNumber(1000), "1.00k");
  EXPECT_EQ(ShortNumber(2147483647), "2.15G");
  EXPECT_EQ(ShortNumber(1e12L), "1.00T");
  EXPECT_EQ(ShortNumber(1e15L), "1.00N");
  EXPECT_EQ(ShortNumber(1e27L), "1.00N");
  // Past the last suffix the digits are cut as they are; no endless loop.
  EXPECT_EQ(ShortNumber(1e31L).back(), 'N');
  EXPECT_EQ(ShortNumber(1.0L / 0.0L).back(), 'N');
}

TEST(RealTextTest, RoundsAndGrowsTheWidth) {
  EXPECT_EQ(RealText(0.35L, 6, 2), "  0.35");
  EXPECT_EQ(RealText(-10, 6, 2), "-10.00");
  EXPECT_EQ(RealText(100, 6, 2), "100.00");
  EXPECT_EQ(RealText(-100, 6, 2), "-100.00");
  EXPECT_EQ(RealText(30, 1, 1), "30.0");
  EXPECT_EQ(RealText(0.4L, 1, 0), "0");
  EXPECT_EQ(RealText(2.5L / 100, 1, 3), "0.025");
}

TEST(MeanBranchingTest, WeightsEachNodeByItsMoves) {
  BranchHistogramArray histogram{};
  EXPECT_EQ(MeanBranching(histogram), 0.0L);
  histogram[0] = 3;
  EXPECT_EQ(MeanBranching(histogram), 0.0L);
  histogram[10] = 1;
  EXPECT_EQ(MeanBranching(histogram), 2.5L);
  EXPECT_EQ(RealPower(0, 6), 0.0);
  EXPECT_EQ(RealPower(2.5, 0), 1.0);
  EXPECT_EQ(RealPower(2.5, -3), 1.0);
  EXPECT_EQ(RealPower(30, 6), 729000000.0);
  EXPECT_EQ(RealPower(-2, 3), -8.0);
}

TEST(ClockTest, ElapsedTimeStaysRightAcrossMidnight) {
  EXPECT_DOUBLE_EQ(static_cast<double>(ElapsedSeconds(100.25L, 101.0L)), 0.75);
  EXPECT_DOUBLE_EQ(static_cast<double>(ElapsedSeconds(86399.5L, 0.25L)), 0.75);
  EXPECT_EQ(ElapsedSeconds(5.0L, 5.0L), 0.0L);

  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  const long double expected = local.tm_hour * 3600.0L + local.tm_min * 60.0L + local.tm_sec;
  const long double clock = ClockSeconds();
  EXPECT_GE(clock, 0.0L);
  EXPECT_LT(clock, 86400.0L);
  // Within two seconds, unless midnight passed in between.
  EXPECT_LT(ElapsedSeconds(expected, clock), 2.0L);
}

}  // namespace
