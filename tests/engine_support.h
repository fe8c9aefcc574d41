// Shared helpers of the computer-player suites: a screen on the scripted
// platform with keys fed through its script, and a record of the message boxes, progress bars and
// info texts shown (each still drawn by the real display).
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "display/display.h"
#include "engine/engine.h"
#include "platform/scripted/scripted.h"
#include "rules/rules.h"
#include "tests/position_support.h"

namespace support {

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
inline void BackRankMate() { support::Place("Kg1 Pf2 Pg2 Ph2 Ra1 kg8 pf7 pg7 ph7 ra8"); }

inline void ClearRecords() {
  Messages.clear();
  ProgressBars.clear();
  InfoTexts.clear();
}

// EngineTest: a suite on the open screen with the evaluation's tables built;
// each test starts from an empty board and no records.
class EngineTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    OpenHeadlessScreen();
    BuildPieceSquareValues();
  }
  void SetUp() override {
    ClearPosition();
    ClearRecords();
  }
};

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
