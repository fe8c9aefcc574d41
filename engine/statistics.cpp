// The statistics of the computer's last search, turned into the status line.

#include <cmath>
#include <string>

#include "engine/engine.h"

namespace {
// Suffix letters, one per division by 1000.
constexpr char Suffixes[] = "kMGTNNNNN";
constexpr int SuffixCount = 9;
// Texts are cut at this length.
constexpr std::size_t MaxTextLength = 255;
}  // namespace

long double MeanBranching(const BranchHistogramArray& histogram) {
  long double sum = 0.0L;
  long double nodes = 0.0L;
  for (int moves = BranchHistogramArray::Low; moves <= BranchHistogramArray::High; ++moves) {
    sum += static_cast<long double>(moves) * histogram[moves];
    nodes += histogram[moves];
  }
  if (nodes < 1.0L) return 0.0L;
  return sum / nodes;
}

double RealPower(double x, int n) {
  double result = 1.0;
  for (int i = 1; i <= n; ++i) result = result * x;
  return result;
}

std::string ShortNumber(long double x) {
  const std::string sign = x < 0.0L ? "-" : "";
  long double a = std::fabs(x);
  if (a < 1.0L) return sign + RealText(a, 1, 0);
  std::string suffix;
  std::string text = RealText(a, 1, 2);
  // The test is made on the text, so a quotient that rounds up to 1000.00 is
  // divided once more. Past the last suffix letter the digits stay as they are
  // (only values of 10^30 and more, or infinity, get there).
  int i = 1;
  while (text.find('.') >= 4 && i <= SuffixCount) {
    a /= 1000.0L;
    text = RealText(a, 1, 2);
    suffix = Suffixes[i - 1];
    ++i;
  }
  const std::size_t kept = (text.size() > 3 && text[3] == '.') ? 3 : 4;
  return sign + text.substr(0, kept) + suffix;
}

std::string StatusLine() {
  const long double branching = MeanBranching(BranchHistogram);
  std::string line = "Last Move : " + MoveText(LastComputerMove);
  line += "; Nodes(all/done/gen)=" +
          ShortNumber(RealPower(static_cast<double>(branching), SearchDepth)) + "/" +
          ShortNumber(NodesDone) + "/" + ShortNumber(MovesGenerated);
  line += " @ " + ShortNumber(NodesPerSecond) + "nodes/s";
  line += "; branch=" + RealText(branching, 1, 1);
  if (line.size() > MaxTextLength) line.resize(MaxTextLength);
  return line;
}
