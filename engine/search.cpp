// The search: fixed-depth alpha-beta over pseudo-legal moves, seen from the
// computer's side.
//
// A node's work is the whole cost of the computer's move, so the search keeps
// its own copy of the position in a form made for it: a 12 x 12 grid with a
// two-square border of off-board sentinels (so no step or knight jump needs a
// range test), piece lists that hold a grid square instead of file and rank,
// and the evaluation kept up to date move by move instead of being summed
// afresh at every leaf. The side's moves go straight into three per-class
// buckets in generation order, which is exactly the stable distribution by
// class. Every move is undone exactly (the two grid squares, the moved entry,
// a captured entry put back in its slot), so one copy of the position serves
// the whole tree and nothing is copied per node. The global Board and the
// caller's lists are never touched.
//
// The leaves are not called: a node with one ply left scores each child from
// the evaluation it keeps, which is what the leaf would have returned.

#include <cstdio>
#include <string>
#include <utility>

#include "display/display.h"
#include "engine/engine.h"

LineArray LineStore{};                   // moves 0..8 per field; entry d = move tried at depth d
LineArray BestLine{};                    // LineStore at the root's last strict improvement
std::int32_t NodesDone = 0;              // >= 0, calls of Search including root and leaves
std::int32_t MovesGenerated = 0;         // >= 0, moves generated over all nodes
BranchHistogramArray BranchHistogram{};  // each >= 0; [n] = nodes that generated n moves

namespace {

static_assert(SearchDepth >= 2 && SearchDepth <= LineArray::High,
              "the root must have children that generate moves");

// Scores of the search.
constexpr std::int32_t NoMoveScore = 1000000000;
constexpr std::int32_t KingScore = 10000;
constexpr std::int32_t SideToMoveBonus = 100;

// Grid codes: the kind in the low three bits, one bit per side, a sentinel
// outside the board that is neither empty nor anybody's piece.
constexpr std::uint8_t KindMask = 0x07;
constexpr std::uint8_t Side1Bit = 0x08;
constexpr std::uint8_t Side2Bit = 0x10;
constexpr std::uint8_t OffBoard = 0x20;
template <int S>
constexpr std::uint8_t OwnBit = S == 1 ? Side1Bit : Side2Bit;
template <int S>
constexpr std::uint8_t EnemyBit = S == 1 ? Side2Bit : Side1Bit;

// Grid squares: (file + 1) x 12 + (rank + 1), files and ranks 1..8 on the
// board, so a file step is 12 and a rank step 1.
constexpr int GridWidth = 12;
constexpr int GridSize = GridWidth * GridWidth;
constexpr int GridSquare(int file, int rank) { return (file + 1) * GridWidth + (rank + 1); }
using GridArray = Array<std::uint8_t, 0, GridSize - 1>;

constexpr GridArray MakeFileOf() {
  GridArray table{};
  for (int i = 0; i < GridSize; ++i) table.Items[i] = static_cast<std::uint8_t>(i / GridWidth - 1);
  return table;
}
constexpr GridArray MakeRankOf() {
  GridArray table{};
  for (int i = 0; i < GridSize; ++i) table.Items[i] = static_cast<std::uint8_t>(i % GridWidth - 1);
  return table;
}
// FileOf, RankOf: file and rank of an on-board grid square.
constexpr GridArray FileOf = MakeFileOf();
constexpr GridArray RankOf = MakeRankOf();

// Step tables in the order generation tries them.
constexpr int KnightSteps[8] = {2 * GridWidth + 1,  2 * GridWidth - 1, -2 * GridWidth + 1,
                                -2 * GridWidth - 1, GridWidth + 2,     GridWidth - 2,
                                -GridWidth + 2,     -GridWidth - 2};
constexpr int KingSteps[8] = {-GridWidth, GridWidth,      -GridWidth - 1, GridWidth - 1,
                              -1,         -GridWidth + 1, GridWidth + 1,  1};
// Bishop directions, then rook directions; the queen uses all eight.
constexpr int LineSteps[8] = {
    -GridWidth - 1, -GridWidth + 1, GridWidth - 1, GridWidth + 1, -GridWidth, GridWidth, -1, 1};

// NodeEntry: a piece as the search holds it.
struct NodeEntry {
  std::uint8_t Kind;    // 0..7
  std::uint8_t Square;  // an on-board grid square
};
struct NodeSide {
  Array<NodeEntry, 1, 16> List;
  std::uint8_t Count;  // 0..16
};

// NodeMove: the moving piece's list index (1..16) times 256 plus its
// destination square. One 16-bit word, so storing a move cannot alias the
// position (a byte store could) and the generator keeps it in registers.
using NodeMove = std::uint16_t;
constexpr NodeMove MakeNodeMove(int piece, int to) {
  return static_cast<NodeMove>(piece << 8 | to);
}
constexpr int MovePiece(NodeMove move) { return move >> 8; }
constexpr int MoveTo(NodeMove move) { return move & 0xFF; }
// MoveBuckets: a node's moves by class, each in generation order. A side has
// at most 16 x 27 moves, so no bucket can overflow; the pushes are unchecked.
struct MoveBuckets {
  Array<NodeMove, 1, MoveBufferSize> Capture;  // class 5
  Array<NodeMove, 1, MoveBufferSize> Piece;    // class 3
  Array<NodeMove, 1, MoveBufferSize> Pawn;     // class 1
  int CaptureCount;
  int PieceCount;
  int PawnCount;
};

// The search's position, valid during one call of Search.
GridArray Grid;
Array<NodeSide, 1, 2> Sides;
// SquareValue: PieceSquareValue by kind 0..7 and grid square (0 off the board).
Array<Array<std::int32_t, 0, GridSize - 1>, 0, 7> SquareValue;

// Unrolled: action(0), action(1), ... with each index a constant, so the
// step tables fold into the code.
template <int First, typename Action, int... I>
inline void Unrolled(Action&& action, std::integer_sequence<int, I...>) {
  (action(std::integral_constant<int, First + I>{}), ...);
}

template <int S>
void GenerateSide(const NodeSide& own, MoveBuckets& out) {
  NodeMove* capture = out.Capture.Items;
  NodeMove* piece = out.Piece.Items;
  NodeMove* pawn = out.Pawn.Items;
  const std::uint8_t* grid = Grid.Items;
  const int count = own.Count;
  for (int i = 1; i <= count; ++i) {
    const NodeEntry entry = own.List.Items[i - 1];
    const int from = entry.Square;
    // The outcome of a square is hard to predict, so it is not branched on:
    // the move is written to both buckets and each keeps it only when it
    // belongs there (a bucket always has room for one more).
    auto probe = [&](int to) {
      const std::uint8_t code = grid[to];
      const NodeMove move = MakeNodeMove(i, to);
      *piece = move;
      piece += code == 0;
      *capture = move;
      capture += (code & EnemyBit<S>) != 0;
    };
    auto slide = [&](int step) {
      int to = from + step;
      for (; grid[to] == 0; to += step) *piece++ = MakeNodeMove(i, to);
      *capture = MakeNodeMove(i, to);
      capture += (grid[to] & EnemyBit<S>) != 0;
    };
    switch (entry.Kind) {
      case Pawn: {
        constexpr int forward = S == 1 ? 1 : -1;
        constexpr int lastRank = S == 1 ? 8 : 1;
        constexpr int homeRank = S == 1 ? 2 : 7;
        const int right = from + GridWidth + forward;
        const int left = from - GridWidth + forward;
        const int ahead = from + forward;
        if (grid[right] & EnemyBit<S>) *capture++ = MakeNodeMove(i, right);
        if (grid[left] & EnemyBit<S>) *capture++ = MakeNodeMove(i, left);
        if (grid[ahead] == 0) {
          if (RankOf.Items[ahead] == lastRank)
            *capture++ = MakeNodeMove(i, ahead);
          else
            *pawn++ = MakeNodeMove(i, ahead);
          if (RankOf.Items[from] == homeRank && grid[ahead + forward] == 0)
            *pawn++ = MakeNodeMove(i, ahead + forward);
        }
        break;
      }
      case Knight:
        Unrolled<0>([&](auto d) { probe(from + KnightSteps[d]); },
                    std::make_integer_sequence<int, 8>{});
        break;
      case Bishop:
        Unrolled<0>([&](auto d) { slide(LineSteps[d]); }, std::make_integer_sequence<int, 4>{});
        break;
      case Rook:
        Unrolled<4>([&](auto d) { slide(LineSteps[d]); }, std::make_integer_sequence<int, 4>{});
        break;
      case Queen:
        Unrolled<0>([&](auto d) { slide(LineSteps[d]); }, std::make_integer_sequence<int, 8>{});
        break;
      case King:
        Unrolled<0>([&](auto d) { probe(from + KingSteps[d]); },
                    std::make_integer_sequence<int, 8>{});
        break;
      default:
        break;
    }
  }
  out.CaptureCount = static_cast<int>(capture - out.Capture.Items);
  out.PieceCount = static_cast<int>(piece - out.Piece.Items);
  out.PawnCount = static_cast<int>(pawn - out.Pawn.Items);
}

// FindEntry: index of the first entry on square, 0 if none.
int FindEntry(const NodeSide& side, int square) {
  for (int i = 1; i <= side.Count; ++i)
    if (side.List.Items[i - 1].Square == square) return i;
  return 0;
}

// RemoveAt, InsertAt: take entry i out closing the gap, and put it back.
void RemoveAt(NodeSide& side, int i) {
  for (int j = i; j < side.Count; ++j) side.List.Items[j - 1] = side.List.Items[j];
  side.List.Items[side.Count - 1] = NodeEntry{0, 0};
  --side.Count;
}
void InsertAt(NodeSide& side, int i, NodeEntry entry) {
  for (int j = side.Count; j >= i; --j) side.List.Items[j] = side.List.Items[j - 1];
  side.List.Items[i - 1] = entry;
  ++side.Count;
}

Move LineMove(int from, int to) {
  return Move{FileOf.Items[from], RankOf.Items[from], FileOf.Items[to], RankOf.Items[to]};
}

// Tally: adds to a 32-bit counter, wrapping round as 32-bit arithmetic does
// (a long search of a position full of queens can pass 2^31 moves).
void Tally(std::int32_t& counter, int amount) {
  counter = static_cast<std::int32_t>(static_cast<std::uint32_t>(counter) +
                                      static_cast<std::uint32_t>(amount));
}

// CountNode: the statistics of a node that generated its moves.
void CountNode(const MoveBuckets& moves) {
  const int total = moves.CaptureCount + moves.PieceCount + moves.PawnCount;
  Tally(MovesGenerated, total);
  Tally(BranchHistogram[total], 1);
}

// Frontier: a node with one ply left. Its children are leaves, scored from
// the evaluation after the move: the leaf's side-to-move sum minus the other
// (value is the mover's view, so the leaf's view is its negation), plus 100
// for the leaf's side to move when the computer is to move there.
template <int S, bool Max>
std::int32_t Frontier(NodeSide& own, NodeSide& other, std::int32_t alpha, std::int32_t beta,
                      std::int32_t value) {
  Tally(NodesDone, 1);
  MoveBuckets moves;
  GenerateSide<S>(own, moves);
  CountNode(moves);
  std::int32_t best = Max ? -NoMoveScore : NoMoveScore;
  const NodeMove* buckets[3] = {moves.Capture.Items, moves.Piece.Items, moves.Pawn.Items};
  const int counts[3] = {moves.CaptureCount, moves.PieceCount, moves.PawnCount};
  NodeMove last = 0;
  auto finish = [&](std::int32_t score) {
    if (last != 0)
      LineStore[1] = LineMove(own.List.Items[MovePiece(last) - 1].Square, MoveTo(last));
    return score;
  };
  for (int b = 0; b < 3; ++b) {
    for (int j = 0; j < counts[b]; ++j) {
      const NodeMove move = buckets[b][j];
      last = move;
      const int to = MoveTo(move);
      const NodeEntry entry = own.List.Items[MovePiece(move) - 1];
      const std::uint8_t target = Grid.Items[to];
      std::int32_t after = value;
      if (target != 0) {
        if ((target & KindMask) == King) return finish(Max ? KingScore : -KingScore);
        const int captured = FindEntry(other, to);
        if (captured != 0)
          after += SquareValue.Items[other.List.Items[captured - 1].Kind].Items[to];
      }
      std::uint8_t kind = entry.Kind;
      if (kind == Pawn && RankOf.Items[to] == (S == 1 ? 8 : 1)) kind = Queen;
      after +=
          SquareValue.Items[kind].Items[to] - SquareValue.Items[entry.Kind].Items[entry.Square];
      Tally(NodesDone, 1);
      const std::int32_t score =
          SearchDepth % 2 == 0 ? SideToMoveBonus - after : after - SideToMoveBonus;
      if (Max) {
        if (score > best) {
          best = score;
          if (best > beta) return finish(best);
        }
      } else {
        if (score < best) {
          best = score;
          if (best < alpha) return finish(best);
        }
      }
    }
  }
  return finish(best);
}

template <int S, bool Max>
std::int32_t Interior(NodeSide& own, NodeSide& other, int depth, std::int32_t alpha,
                      std::int32_t beta, std::int32_t value) {
  constexpr int Other = S == 1 ? 2 : 1;
  Tally(NodesDone, 1);
  MoveBuckets moves;
  GenerateSide<S>(own, moves);
  CountNode(moves);
  const int total = moves.CaptureCount + moves.PieceCount + moves.PawnCount;
  const bool root = depth == SearchDepth;
  std::int32_t best = Max ? -NoMoveScore : NoMoveScore;
  const NodeMove* buckets[3] = {moves.Capture.Items, moves.Piece.Items, moves.Pawn.Items};
  const int counts[3] = {moves.CaptureCount, moves.PieceCount, moves.PawnCount};
  int k = 0;
  for (int b = 0; b < 3; ++b) {
    for (int j = 0; j < counts[b]; ++j) {
      ++k;
      if (root) DrawProgressBar(5, 64, 45, 72, static_cast<double>(k - 1) / total);
      const NodeMove move = buckets[b][j];
      NodeEntry& entry = own.List[MovePiece(move)];
      const NodeEntry saved = entry;
      const int from = saved.Square;
      const int to = MoveTo(move);
      LineStore[depth] = LineMove(from, to);
      const std::uint8_t target = Grid.Items[to];
      const std::uint8_t fromCode = Grid.Items[from];
      std::int32_t after = value;
      int captured = 0;
      NodeEntry capturedEntry{0, 0};
      if (target != 0) {
        if ((target & KindMask) == King) return Max ? KingScore : -KingScore;
        captured = FindEntry(other, to);
        if (captured != 0) {
          capturedEntry = other.List.Items[captured - 1];
          after += SquareValue.Items[capturedEntry.Kind].Items[to];
          RemoveAt(other, captured);
        }
      }
      std::uint8_t kind = saved.Kind;
      if (kind == Pawn && RankOf.Items[to] == (S == 1 ? 8 : 1)) kind = Queen;
      after += SquareValue.Items[kind].Items[to] - SquareValue.Items[saved.Kind].Items[from];
      Grid.Items[from] = 0;
      Grid.Items[to] = static_cast<std::uint8_t>(kind | OwnBit<S>);
      entry = NodeEntry{kind, static_cast<std::uint8_t>(to)};

      const std::int32_t childAlpha = Max && best > alpha ? best : alpha;
      const std::int32_t childBeta = !Max && best < beta ? best : beta;
      const std::int32_t score =
          depth == 2 ? Frontier<Other, !Max>(other, own, childAlpha, childBeta, -after)
                     : Interior<Other, !Max>(other, own, depth - 1, childAlpha, childBeta, -after);

      entry = saved;
      Grid.Items[from] = fromCode;
      Grid.Items[to] = target;
      if (captured != 0) InsertAt(other, captured, capturedEntry);

      if (Max) {
        if (score > best) {
          best = score;
          if (root) {
            BestLine = LineStore;
            ShowVariation(static_cast<long double>(best) / 100.0L);
          }
          if (best > beta) return best;
        }
      } else {
        if (score < best) {
          best = score;
          if (best < alpha) return best;
        }
      }
    }
  }
  return best;
}

// LoadSide: the caller's list in the search's form; an entry off the board or
// of a kind outside the evaluation table is a range error, as it would be at
// the first leaf.
void LoadSide(NodeSide& side, const PieceList& list, std::uint8_t count) {
  if (count > PieceList::Size) RangeError();
  side.List = Array<NodeEntry, 1, 16>{};
  side.Count = count;
  for (int i = 1; i <= count; ++i) {
    const PieceEntry& entry = list[i];
    if (entry.Kind < 0 || entry.Kind > 7 || entry.File < 1 || entry.File > 8 || entry.Rank < 1 ||
        entry.Rank > 8)
      RangeError();
    side.List[i] = NodeEntry{static_cast<std::uint8_t>(entry.Kind),
                             static_cast<std::uint8_t>(GridSquare(entry.File, entry.Rank))};
  }
}

void LoadGrid() {
  for (int i = 0; i < GridSize; ++i) Grid.Items[i] = OffBoard;
  for (int file = 1; file <= 8; ++file)
    for (int rank = 1; rank <= 8; ++rank) {
      const PieceCode code = Board[file][rank];
      std::uint8_t cell = 0;
      if (code != 0)
        cell =
            static_cast<std::uint8_t>((code % 64 & KindMask) | (code > 64 ? Side2Bit : Side1Bit));
      Grid[GridSquare(file, rank)] = cell;
    }
  for (int kind = 0; kind <= 7; ++kind) {
    for (int i = 0; i < GridSize; ++i) SquareValue[kind][i] = 0;
    for (int file = 1; file <= 8; ++file)
      for (int rank = 1; rank <= 8; ++rank)
        SquareValue[kind][GridSquare(file, rank)] = PieceSquareValue[kind][file][rank];
  }
}

template <int S>
std::int32_t SearchFrom(bool maximising, int depth, std::int32_t alpha, std::int32_t beta,
                        std::int32_t value) {
  constexpr int Other = S == 1 ? 2 : 1;
  NodeSide& own = Sides[S];
  NodeSide& other = Sides[Other];
  if (depth == 1)
    return maximising ? Frontier<S, true>(own, other, alpha, beta, value)
                      : Frontier<S, false>(own, other, alpha, beta, value);
  return maximising ? Interior<S, true>(own, other, depth, alpha, beta, value)
                    : Interior<S, false>(own, other, depth, alpha, beta, value);
}

}  // namespace

std::int32_t Search(PieceList ownList, std::uint8_t ownCount, PieceList otherList,
                    std::uint8_t otherCount, int side, bool maximising, int depth,
                    std::int32_t alpha, std::int32_t beta) {
  if (depth < 0 || depth > LineArray::High) RangeError();
  if (depth == 0) {
    Tally(NodesDone, 1);
    if (SearchDepth % 2 == 0) return Evaluate(ownList, otherList, ownCount, otherCount) + 100;
    return Evaluate(otherList, ownList, otherCount, ownCount) - 100;
  }
  const int mover = side == 1 ? 1 : 2;
  const std::int32_t value = Evaluate(ownList, otherList, ownCount, otherCount);
  LoadGrid();
  LoadSide(Sides[mover], ownList, ownCount);
  LoadSide(Sides[mover == 1 ? 2 : 1], otherList, otherCount);
  return mover == 1 ? SearchFrom<1>(maximising, depth, alpha, beta, value)
                    : SearchFrom<2>(maximising, depth, alpha, beta, value);
}

int OrderedMoves(int side, const PieceList& list, std::uint8_t count, MoveBufferArray& ordered) {
  const int mover = side == 1 ? 1 : 2;
  LoadGrid();
  LoadSide(Sides[mover], list, count);
  MoveBuckets moves;
  if (mover == 1)
    GenerateSide<1>(Sides[1], moves);
  else
    GenerateSide<2>(Sides[2], moves);
  int n = 0;
  auto copy = [&](const Array<NodeMove, 1, MoveBufferSize>& bucket, int bucketCount,
                  MoveClass moveClass) {
    for (int j = 1; j <= bucketCount; ++j) {
      const NodeMove move = bucket[j];
      ordered[++n] = GeneratedMove{FileOf[MoveTo(move)], RankOf[MoveTo(move)], moveClass,
                                   static_cast<std::uint8_t>(MovePiece(move))};
    }
  };
  copy(moves.Capture, moves.CaptureCount, 5);
  copy(moves.Piece, moves.PieceCount, 3);
  copy(moves.Pawn, moves.PawnCount, 1);
  return n;
}

std::string MoveText(Move move) {
  std::string text;
  text += static_cast<char>(96 + move.FromFile);
  text += static_cast<char>(48 + move.FromRank);
  text += '-';
  text += static_cast<char>(96 + move.ToFile);
  text += static_cast<char>(48 + move.ToRank);
  return text;
}

std::string RealText(long double value, int width, int decimals) {
  char text[512];
  std::snprintf(text, sizeof text, "%*.*Lf", width, decimals, value);
  std::string result(text);
  if (result.size() > 255) result.resize(255);
  return result;
}

void ShowVariation(long double score) {
  ShowInfoPanel("Variation: " + MoveText(BestLine[SearchDepth]) + " (" + RealText(score, 6, 2) +
                " points.)");
}
