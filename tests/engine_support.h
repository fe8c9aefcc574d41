// Shared helpers of the computer-player suites: positions written square by
// square, a screen on the scripted platform with keys fed through its script,
// and a record of the message boxes, progress bars and info texts shown
// (each still drawn by the real display).
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "display/display.h"
#include "engine/engine.h"
#include "platform/scripted/scripted.h"
#include "rules/rules.h"

namespace support {

inline void ClearPosition() {
  Board = BoardGrid{};
  PieceList1 = PieceList{};
  PieceList2 = PieceList{};
  PieceCount1 = 0;
  PieceCount2 = 0;
}

// Put: a piece of side on a square written as "e2", appended to the side's list.
inline void Put(int side, PieceKind kind, const char* square) {
  const auto file = static_cast<std::uint8_t>(square[0] - 96);
  const auto rank = static_cast<std::uint8_t>(square[1] - 48);
  Board[file][rank] = static_cast<PieceCode>(kind + (side == 2 ? 64 : 0));
  PieceList& list = side == 1 ? PieceList1 : PieceList2;
  std::uint8_t& count = side == 1 ? PieceCount1 : PieceCount2;
  ++count;
  list[count] = PieceEntry{kind, file, rank};
}

// ParseMove: "e2-e4" as a Move.
inline Move ParseMove(const char* text) {
  return Move{static_cast<std::uint8_t>(text[0] - 96), static_cast<std::uint8_t>(text[1] - 48),
              static_cast<std::uint8_t>(text[3] - 96), static_cast<std::uint8_t>(text[4] - 48)};
}

// Position: the whole game position as bytes, for before/after comparisons.
struct Position {
  BoardGrid Board;
  PieceList List1, List2;
  std::uint8_t Count1, Count2;
};
inline Position SavePosition() {
  return Position{Board, PieceList1, PieceList2, PieceCount1, PieceCount2};
}
inline bool SamePosition(const Position& a, const Position& b) {
  return std::memcmp(&a.Board, &b.Board, sizeof a.Board) == 0 &&
         std::memcmp(&a.List1, &b.List1, sizeof a.List1) == 0 &&
         std::memcmp(&a.List2, &b.List2, sizeof a.List2) == 0 && a.Count1 == b.Count1 &&
         a.Count2 == b.Count2;
}

// OpenHeadlessScreen: the screen opens on the scripted platform.
inline void OpenHeadlessScreen() {
  static bool open = false;
  if (open) return;
  open = true;
  InitGraph(Driver64K, Mode640x480, "");
}

// FeedKeys: keys typed, as the window gives them.
inline void FeedKeys(const char* keys) {
  std::vector<int> codes;
  for (const char* key = keys; *key != '\0'; ++key)
    codes.push_back(static_cast<unsigned char>(*key));
  ScriptKeys(codes);
}

struct Message {
  std::string Title;
  std::string Text;
};
struct ProgressCall {
  int X1, Y1, X2, Y2;
  double Fraction;
};

// What the display was asked to show.
inline std::vector<Message> Messages;
inline std::vector<ProgressCall> ProgressBars;
inline std::vector<std::string> InfoTexts;
// ExtraKeys: fed after the Enter that closes each message box.
inline const char* ExtraKeys = "";
// EchoMessages: also write each message to standard error (for child processes).
inline bool EchoMessages = false;

// BackRankMate: white Ra1 takes on a8 and the black king on g8, boxed in by
// its own pawns, has no escape.
inline void BackRankMate() {
  Put(1, King, "g1");
  Put(1, Pawn, "f2");
  Put(1, Pawn, "g2");
  Put(1, Pawn, "h2");
  Put(1, Rook, "a1");
  Put(2, King, "g8");
  Put(2, Pawn, "f7");
  Put(2, Pawn, "g7");
  Put(2, Pawn, "h7");
  Put(2, Rook, "a8");
}

inline void ClearRecords() {
  Messages.clear();
  ProgressBars.clear();
  InfoTexts.clear();
}

}  // namespace support

namespace support {

// The display tells the records of each box, bar and text before drawing it.
inline void RecordMessage(const std::string& title, const std::string& text) {
  Messages.push_back({title, text});
  if (EchoMessages) {
    const std::string line = "MessageBox[" + title + "][" + text + "]\n";
    if (write(STDERR_FILENO, line.data(), line.size()) < 0) std::abort();
  }
  // The box waits for Enter, which the script types.
  FeedKeys("\r");
  FeedKeys(ExtraKeys);
}
inline void RecordProgressBar(std::int16_t x1, std::int16_t y1, std::int16_t x2, std::int16_t y2,
                              double fraction) {
  ProgressBars.push_back({x1, y1, x2, y2, fraction});
}
inline void RecordInfoText(const std::string& text) { InfoTexts.push_back(text); }

inline const bool Recording = [] {
  PanelWatch = PanelObserver{RecordMessage, RecordProgressBar, RecordInfoText};
  return true;
}();

}  // namespace support
