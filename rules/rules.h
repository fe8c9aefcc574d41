// The game model and its rules: the one current position, the move forms,
// move generation, making moves, the check test, the start-position file,
// the validation of a move and the program's random generator.
#pragma once

#include <cstdint>

#include "rules/runtime.h"

// ---- Coordinates, pieces and sides -------------------------------------

// PieceKind: 0 no piece, 1 pawn, 2 knight, 3 bishop, 4 rook, 5 queen, 6 king.
using PieceKind = std::uint8_t;
// PieceCode: 0 empty, 1..6 a side-1 piece (its kind), 65..70 a side-2 piece
// (kind + 64). The kind of a code is code % 64.
using PieceCode = std::uint8_t;
// Side: 1 (White, moves first, pawns go up) or 2 (Black, pawns go down).
using Side = std::uint8_t;

constexpr PieceKind NoPiece = 0, Pawn = 1, Knight = 2, Bishop = 3, Rook = 4, Queen = 5, King = 6;

// PieceEntry: one piece of a side; Kind 1..6, File and Rank 1..8.
struct PieceEntry {
  std::int16_t Kind;
  std::uint8_t File;
  std::uint8_t Rank;
};
static_assert(sizeof(PieceEntry) == 4);

// PieceList: slots 1..16; entries 1..count are the side's pieces in the
// order move generation visits them; a freed slot is all zeros.
using PieceList = Array<PieceEntry, 1, 16>;
static_assert(sizeof(PieceList) == 64);

// BoardGrid: the type of Board, [file 1..8][rank 1..8], file-major, 64 bytes.
using BoardGrid = Array<Array<PieceCode, 1, 8>, 1, 8>;
static_assert(sizeof(BoardGrid) == 64);

// Move: from-file, from-rank, to-file, to-rank; names squares only.
struct Move {
  std::uint8_t FromFile;
  std::uint8_t FromRank;
  std::uint8_t ToFile;
  std::uint8_t ToRank;
};
static_assert(sizeof(Move) == 4);

// MoveClass: ordering class of a generated move: 5 captures and pawn moves
// to the last rank, 3 other piece moves, 1 other pawn moves.
using MoveClass = std::uint8_t;

// GeneratedMove: destination, class and the moving piece's list index
// (1..16, or 0 when one piece was generated alone).
struct GeneratedMove {
  std::uint8_t ToFile;
  std::uint8_t ToRank;
  MoveClass Class;
  std::uint8_t PieceIndex;
};
static_assert(sizeof(GeneratedMove) == 4);

// MoveList: the moves of one piece; no piece has more than 27.
using MoveList = Array<GeneratedMove, 1, 32>;

// MoveBufferSize: room for every pseudo-legal move 16 pieces can have
// (16 x 27 = 432), so a side with many extra queens still fits.
constexpr int MoveBufferSize = 512;
using MoveBufferArray = Array<GeneratedMove, 1, MoveBufferSize>;
// ClassCountArray: counters 0..255 indexed by MoveClass.
using ClassCountArray = Array<std::int16_t, 0, 255>;

// ---- The position and the shared globals (each defined once) -----------

// Board: PieceCode per square, 0 empty.
extern BoardGrid Board;
// PieceList1, PieceCount1: side 1's pieces and their number (0..16).
extern PieceList PieceList1;
extern std::uint8_t PieceCount1;
// PieceList2, PieceCount2: side 2's pieces and their number (0..16).
extern PieceList PieceList2;
extern std::uint8_t PieceCount2;
// PieceValue: material by kind 0..6: 0, 100, 300, 310, 500, 950, 10000.
extern const Array<std::int32_t, 0, 6> PieceValue;
// MoveBuffer: scratch every generation call appends to; whoever starts a
// new collection resets MoveBufferCount and ClassCounts first.
extern MoveBufferArray MoveBuffer;
// MoveBufferCount: slots of MoveBuffer in use, 0..MoveBufferSize.
extern std::int16_t MoveBufferCount;
// ClassCounts: moves of each class appended since the last reset.
extern ClassCountArray ClassCounts;
// PromotionKind: 2..5, the kind a pawn becomes on its last rank in MakeMove.
extern std::uint8_t PromotionKind;

// ---- Tests and removals --------------------------------------------------

// PieceAt: the code on (file, rank); 0 when either is outside 1..8.
PieceCode PieceAt(int file, int rank);
// IsEmptySquare: on the board and holding code 0.
bool IsEmptySquare(int file, int rank);
// IsOwnPiece: a piece (kind not 0) that belongs to side.
bool IsOwnPiece(PieceCode code, int side);
// IsEnemyPiece: a piece (kind not 0) that belongs to the other side.
bool IsEnemyPiece(PieceCode code, int side);
// Opponent: 1 for side 2, otherwise 2.
Side Opponent(int side);
// IsLastRank: rank 8 for side 1, rank 1 for any other side.
bool IsLastRank(int rank, int side);
// RemovePieceEntry: drops the first entry on (file, rank) from list/count,
// closing the gap and zeroing the freed slot; nothing if none matches.
void RemovePieceEntry(PieceList& list, std::uint8_t& count, int file, int rank);
// RemovePieceAtSquare: RemovePieceEntry on side 1's list, else side 2's.
void RemovePieceAtSquare(int file, int rank);

// ---- Start-position file ---------------------------------------------------

// LoadPosition: fills Board, both lists and counts from the twelve-line file;
// a missing file or bad square ends the program with a run-time error.
void LoadPosition(const char* fileName);

// ---- Naming a file that cannot be used --------------------------------------

// Each prints one line on standard error before the caller's run-time error
// report, so a failure names its file.
// ReportCannotOpen: "NAME: cannot open: <the system's reason>".
void ReportCannotOpen(const char* fileName, int error);
// ReportCannotRead: "NAME: cannot read: <the system's reason>".
void ReportCannotRead(const char* fileName, int error);
// ReportShortFile: "NAME: N bytes, M expected".
void ReportShortFile(const char* fileName, long bytes, long expected);

// ---- Move generation ---------------------------------------------------------

// GenerateMoves: the piece's pseudo-legal moves in the fixed order into
// moves[1..count], each also appended to MoveBuffer and counted by class.
void GenerateMoves(MoveList& moves, std::int16_t& count, const PieceEntry& piece,
                   std::uint8_t pieceIndex, int side);
// GeneratePieceMoves: resets MoveBuffer and ClassCounts, then GenerateMoves
// with piece index 0; answers the count.
std::uint8_t GeneratePieceMoves(MoveList& moves, const PieceEntry& piece, int side);

// ---- Making moves and check tests ------------------------------------------

// MakeMove: plays move for side on the globals: capture, move, promotion to
// PromotionKind. The caller has validated the move.
void MakeMove(Move move, int side);
// KingAttacked: some piece of the other side has a generated move onto
// side's king (the last kind-6 entry); false when side has no king.
bool KingAttacked(int side);

// ---- Counting the legal-move tree (perft) ----------------------------------

// LegalMoveArray: the legal moves of one side, one per move-buffer slot.
using LegalMoveArray = Array<Move, 1, MoveBufferSize>;
// LegalMoves: side's generated moves, in generation order, after which its
// king is not attacked (tried with MakeMove on the globals, then restored).
int LegalMoves(int side, LegalMoveArray& moves);
// CountLeaves: leaves of the legal-move tree depth plies deep, side moving
// first, promotions to queen; the position and PromotionKind are unchanged.
std::uint64_t CountLeaves(int depth, int side);

// ---- Validation ---------------------------------------------------------------

// ValidateMove: the six tests in order; with showErrors the first failure is
// explained in a MessageBox titled "Error". The position is unchanged.
bool ValidateMove(Move move, int side, bool showErrors);

// ---- The program's one random generator ------------------------------------

// SeedRandom: starts the sequence; the driver seeds it from the clock.
void SeedRandom(std::uint32_t seed);
// Random: a uniformly distributed whole number from 0 to n - 1 (0 if n < 1).
int Random(int n);
