// What the terminal can do: the questions asked at start, their answers as
// they come back through the input filter, and the choice of drawing mode.

#include <algorithm>
#include <cstring>

#include "platform/terminal/terminal_parts.h"

bool ParseNumbers(const std::string& text, std::vector<int>& numbers) {
  numbers.assign(1, 0);
  for (char c : text) {
    if (c == ';') {
      numbers.push_back(0);
    } else if (c >= '0' && c <= '9') {
      numbers.back() = std::min(numbers.back() * 10 + (c - '0'), 1000000);
    } else {
      return false;
    }
  }
  return true;
}

bool TakeAnswer(const std::string& params, char final, TerminalAnswers& answers) {
  std::vector<int> numbers;
  if (!params.empty() && params[0] == '?' && final == 'c') {
    answers.Attributes = true;
    // The first number is the terminal's class; the features follow it.
    if (ParseNumbers(params.substr(1), numbers))
      for (std::size_t i = 1; i < numbers.size(); ++i)
        if (numbers[i] == 4) answers.Sixel = true;
    return true;
  }
  if (!params.empty() && params[0] == '?' && final == 'y' && params.back() == '$') {
    if (ParseNumbers(params.substr(1, params.size() - 2), numbers) && numbers.size() == 2) {
      if (numbers[0] == 1006) answers.SgrMouse = numbers[1];
      if (numbers[0] == 1016) answers.PixelMouse = numbers[1];
      if (numbers[0] == 1070) answers.PrivateRegisters = numbers[1];
    }
    return true;
  }
  // XTSMGRAPHICS: item 1 the colour registers, item 2 the largest image;
  // status 0 when the terminal knew the answer.
  if (!params.empty() && params[0] == '?' && final == 'S') {
    if (ParseNumbers(params.substr(1), numbers) && numbers.size() >= 3 && numbers[1] == 0) {
      if (numbers[0] == 1 && numbers[2] > 0) answers.Registers = numbers[2];
      if (numbers[0] == 2 && numbers.size() == 4 && numbers[2] > 0 && numbers[3] > 0) {
        answers.SixelWidth = numbers[2];
        answers.SixelHeight = numbers[3];
      }
    }
    return true;
  }
  if (final == 't' && params.rfind("6;", 0) == 0) {
    if (ParseNumbers(params, numbers) && numbers.size() == 3 && numbers[1] > 0 && numbers[2] > 0) {
      answers.CellHeight = numbers[1];
      answers.CellWidth = numbers[2];
    }
    return true;
  }
  return false;
}

// PixelExactNames: XTVERSION's answers (their beginnings) from terminals
// seen to draw sixels as xterm does, however images overlap. Others get
// images of whole cells with colours of their own: mlterm paints an image's
// cells whole, and foot 1.13, on a busy machine, now and then showed parts
// of an older image above a newer one that ends inside their cells.
constexpr const char* PixelExactNames[] = {"XTerm("};

void TakeCommandAnswer(const std::string& command, TerminalAnswers& answers) {
  if (command.size() > 2 && command[1] == '_' && command[2] == 'G' &&
      command.find(";OK") != std::string::npos)
    answers.Kitty = true;
  if (command.rfind("\x1bP>|", 0) == 0)
    for (const char* name : PixelExactNames)
      if (command.compare(4, std::strlen(name), name) == 0) answers.XtermSixels = true;
}

const char* ModeName(TerminalMode mode) {
  switch (mode) {
    case TerminalMode::Sixel:
      return "sixels";
    case TerminalMode::Kitty:
      return "kitty graphics";
    case TerminalMode::Console:
      return "the console's 16 colours";
    case TerminalMode::Symbols:
      break;
  }
  return "symbols";
}

// The kitty probe asks about a 1 x 1 image without storing it; the cell size
// (CSI 16 t) completes a TIOCGWINSZ without pixels.
const char TerminalQueries[] =
    "\x1b[?1006$p\x1b[?1016$p"
    "\x1b_Gi=31,s=1,v=1,a=q,t=d,f=24;AAAA\x1b\\"
    "\x1b[16t"
    "\x1b[c";

// XTSMGRAPHICS: the colour registers (item 1) and the largest image (item 2;
// a larger one the terminal may not draw at all); XTVERSION: its name;
// whether each image has colour registers of its own (1070), to be put back.
const char SixelQueries[] = "\x1b[?1;1;0S\x1b[?2;1;0S\x1b[>0q\x1b[?1070$p\x1b[c";

const char ConsoleQueries[] = "\x1b[c";

bool IsLinuxConsole(const char* term) {
  return term != nullptr && std::strncmp(term, "linux", 5) == 0;
}

bool PrivateRegistersResettable(const TerminalAnswers& answers) {
  const int mode = answers.PrivateRegisters;
  return mode == 1 || mode == 2 || mode == 4;
}

bool SharesRegistersUnasked(const char* term) {
  return term != nullptr && std::strncmp(term, "mlterm", 6) == 0;
}

bool UsableTerm(const char* term) {
  return term != nullptr && *term != '\0' && std::strcmp(term, "dumb") != 0;
}

TerminalMode ChooseMode(const TerminalAnswers& answers, int cellWidth, int cellHeight,
                        bool console) {
  if (console) return TerminalMode::Console;
  const bool pixels = cellWidth > 0 && cellHeight > 0;
  // Kitty graphics first: a terminal that offers both (Konsole) draws them
  // right, and its sixels less so.
  if (answers.Kitty && pixels) return TerminalMode::Kitty;
  if (answers.Sixel && pixels) return TerminalMode::Sixel;
  return TerminalMode::Symbols;
}

bool MouseUsable(const TerminalAnswers& answers, const char* term) {
  if (answers.SgrMouse >= 0) return answers.SgrMouse >= 1 && answers.SgrMouse <= 3;
  // The Linux console reports only in the old byte form, which cannot be
  // told apart from keys.
  return !IsLinuxConsole(term);
}

bool PixelMouseUsable(const TerminalAnswers& answers) {
  return answers.PixelMouse >= 1 && answers.PixelMouse <= 3;
}
