// The computer player: the evaluation table, the search, the computer's turn
// and the statistics of its last search.
#pragma once

#include <cstdint>
#include <string>

#include "rules/rules.h"

// ---- Evaluation ---------------------------------------------------------------

// PieceSquareValueTable: [kind 0..7][file 1..8][rank 1..8]; rows 0 and 7 stay 0.
using PieceSquareValueTable = Array<Array<Array<std::int32_t, 1, 8>, 1, 8>, 0, 7>;
// PieceSquareValue: material plus centralisation per kind and square.
extern PieceSquareValueTable PieceSquareValue;
// BuildPieceSquareValues: fills the table once, in extended precision.
void BuildPieceSquareValues();
// Evaluate: the first list's table sum minus the second's.
std::int32_t Evaluate(const PieceList& first, const PieceList& second, std::uint8_t firstCount,
                      std::uint8_t secondCount);

// ---- Search -------------------------------------------------------------------

// SearchDepth: plies searched from the root, at most 20.
constexpr int SearchDepth = 6;
// LineArray: moves indexed by remaining depth 0..20.
using LineArray = Array<Move, 0, 20>;
// LineStore: the move being tried at each remaining depth.
extern LineArray LineStore;
// BestLine: LineStore as it stood when the root's best score last improved;
// only BestLine[SearchDepth] (the root move) is read.
extern LineArray BestLine;
// NodesDone: calls of Search in the last search, leaves and root included.
extern std::int32_t NodesDone;
// MovesGenerated: moves generated at all nodes of the last search.
extern std::int32_t MovesGenerated;
// BranchHistogramArray: one counter per possible number of moves at a node.
using BranchHistogramArray = Array<std::int32_t, 0, MoveBufferSize - 1>;
// BranchHistogram: nodes of the last search by their number of moves.
extern BranchHistogramArray BranchHistogram;

// Search: fixed-depth alpha-beta over pseudo-legal moves; scores are the
// computer's (root side's); the global Board is as before on return.
std::int32_t Search(PieceList ownList, std::uint8_t ownCount, PieceList otherList,
                    std::uint8_t otherCount, int side, bool maximising, int depth,
                    std::int32_t alpha, std::int32_t beta);
// MoveText: "e2-e4"; the letter is 96 + file and the digit 48 + rank, unchecked.
std::string MoveText(Move move);
// ShowVariation: "Variation: e2-e4 (  0.35 points.)" in the info panel.
void ShowVariation(long double score);
// RealText: fixed-point text with the given decimals, rounded, right-aligned
// in width characters (the width grows when the number needs more).
std::string RealText(long double value, int width, int decimals);
// OrderedMoves: side's moves on the current Board in the order the search
// tries them (classes 5, 3, 1, each in generation order); answers the number.
int OrderedMoves(int side, const PieceList& list, std::uint8_t count, MoveBufferArray& ordered);

// ---- The computer's move ----------------------------------------------------------

// SideName: index 1 "White", 2 "Black", 0 and 3 empty.
extern const Array<const char*, 0, 3> SideName;
// SearchStartTime: ClockSeconds at the start of the last computer move.
extern long double SearchStartTime;
// NodesPerSecond: the speed of the last search.
extern long double NodesPerSecond;
// LastComputerMove: the move the last search chose; all zero before one.
extern Move LastComputerMove;
// ClockSeconds: local time of day in seconds, to the microsecond.
long double ClockSeconds();
// ElapsedSeconds: seconds from an earlier ClockSeconds reading to a later
// one, correct across midnight.
long double ElapsedSeconds(long double earlier, long double later);
// ComputerOutcome: what the computer's turn comes to once its move is chosen.
enum class ComputerOutcome : std::uint8_t { Move, NoMove, Surrender, Mate };
// ComputerChoice: the chosen move, the root score, whether validation accepts
// the move (false without validating when there is no move), the outcome and
// the seconds the search took.
struct ComputerChoice {
  Move Chosen;
  long double Score;
  bool Legal;
  ComputerOutcome Outcome;
  long double Seconds;
};
// ChooseComputerMove: the timed search and the check of its move, shared by
// ComputerMove and the benchmark; shows no message and makes no move.
ComputerChoice ChooseComputerMove(int side);
// ComputerMove: searches, then plays, resigns, reports no move, or plays and
// announces mate (ending the program); true when the game goes on.
bool ComputerMove(int side);

// ---- Statistics and the status line ------------------------------------------------

// MeanBranching: mean number of moves at the nodes that generated moves.
long double MeanBranching(const BranchHistogramArray& histogram);
// RealPower: x to the whole power n, rounded to double at each step; 1 for n < 1.
double RealPower(double x, int n);
// ShortNumber: "1.23k", "12.3k", "123k", "999", "5.00", "0".
std::string ShortNumber(long double x);
// StatusLine: "Last Move : e2-e4; Nodes(all/done/gen)=...; branch=30.0".
std::string StatusLine();
