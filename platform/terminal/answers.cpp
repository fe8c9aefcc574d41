// The terminal's side of the conversation: the questions asked at start, the
// bytes it sends back (keys, mouse reports and answers, mixed in one stream),
// the choice of drawing mode, and where the picture sits in the cell grid.

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/host.h"
#include "platform/terminal/terminal_parts.h"

namespace {

constexpr char Esc = '\x1b';

// ScreenWidth, ScreenHeight: the picture's size in screen pixels.
constexpr int PictureWidth = 640;
constexpr int PictureHeight = 480;

// Numbers: the decimal parameters of a sequence separated by ';' (an empty
// one counts 0); false when anything else is among them.
bool Numbers(const std::string& text, std::vector<int>& numbers) {
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

// Csi: a whole control sequence ESC [ params final. True when it is a report
// or an answer (taken here), false when it belongs to the keys.
bool TakeControlSequence(const std::string& held, std::vector<PointerReport>& pointer,
                         TerminalAnswers& answers) {
  const char final = held.back();
  const std::string params = held.substr(2, held.size() - 3);
  std::vector<int> numbers;
  if (!params.empty() && params[0] == '<' && (final == 'M' || final == 'm')) {
    if (Numbers(params.substr(1), numbers) && numbers.size() == 3)
      pointer.push_back(PointerReport{numbers[0], numbers[1], numbers[2], final == 'm'});
    return true;
  }
  if (!params.empty() && params[0] == '?' && final == 'c') {
    answers.Attributes = true;
    // The first number is the terminal's class; the features follow it.
    if (Numbers(params.substr(1), numbers))
      for (std::size_t i = 1; i < numbers.size(); ++i)
        if (numbers[i] == 4) answers.Sixel = true;
    return true;
  }
  if (!params.empty() && params[0] == '?' && final == 'y' && params.back() == '$') {
    if (Numbers(params.substr(1, params.size() - 2), numbers) && numbers.size() == 2) {
      if (numbers[0] == 1006) answers.SgrMouse = numbers[1];
      if (numbers[0] == 1016) answers.PixelMouse = numbers[1];
    }
    return true;
  }
  if (final == 't' && params.rfind("6;", 0) == 0) {
    if (Numbers(params, numbers) && numbers.size() == 3 && numbers[1] > 0 && numbers[2] > 0) {
      answers.CellHeight = numbers[1];
      answers.CellWidth = numbers[2];
    }
    return true;
  }
  return false;
}

// MayBeKey: held bytes that a key could still have begun: Esc alone, Esc [,
// or a key sequence's numbers (reports start ESC [ <, answers ESC [ ? or ESC _).
bool MayBeKey(const std::string& held) {
  if (held.size() <= 2) return held.size() < 2 || held[1] == '[';
  return held[1] == '[' && held[2] != '<' && held[2] != '?';
}

}  // namespace

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

const char ConsoleQueries[] = "\x1b[c";

bool IsLinuxConsole(const char* term) {
  return term != nullptr && std::strncmp(term, "linux", 5) == 0;
}

bool UsableTerm(const char* term) {
  return term != nullptr && *term != '\0' && std::strcmp(term, "dumb") != 0;
}

TerminalMode ChooseMode(const TerminalAnswers& answers, int cellWidth, int cellHeight,
                        bool console) {
  if (console) return TerminalMode::Console;
  const bool pixels = cellWidth > 0 && cellHeight > 0;
  // Sixels first: their updates send only the pixels that changed.
  if (answers.Sixel && pixels) return TerminalMode::Sixel;
  if (answers.Kitty && pixels) return TerminalMode::Kitty;
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

void FilterInput(TerminalInput& input, const unsigned char* bytes, std::size_t count,
                 std::string& keys, std::vector<PointerReport>& pointer, TerminalAnswers& answers) {
  std::string& held = input.Held;
  for (std::size_t i = 0; i < count; ++i) {
    const char c = static_cast<char>(bytes[i]);
    if (held.empty()) {
      if (c == Esc)
        held += c;
      else
        keys += c;
      continue;
    }
    held += c;
    if (held.size() == 2) {
      if (c == Esc) {
        // Esc typed alone, then another sequence begins.
        keys += Esc;
        held.resize(1);
      } else if (c != '[' && c != '_') {
        keys += held;
        held.clear();
      }
      continue;
    }
    if (held[1] == '[') {
      if (c >= 0x40 && c <= 0x7e) {
        if (!TakeControlSequence(held, pointer, answers)) keys += held;
        held.clear();
      } else if (c < 0x20 || c > 0x3f || held.size() >= 64) {
        // Not a sequence after all: the bytes are keys (an Esc among them
        // may begin the next sequence).
        if (c == Esc) {
          keys.append(held, 0, held.size() - 1);
          held.assign(1, Esc);
        } else {
          keys += held;
          held.clear();
        }
      }
      continue;
    }
    // An application program command, ended by ESC \ or BEL.
    const bool ended = c == '\a' || (c == '\\' && held[held.size() - 2] == Esc);
    if (ended) {
      if (held[2] == 'G' && held.find(";OK") != std::string::npos) answers.Kitty = true;
      held.clear();
    } else if (held.size() >= HeldLimit) {
      held.clear();
    }
  }
}

void FlushInput(TerminalInput& input, std::string& keys, bool longPause) {
  if (input.Held.empty()) return;
  if (MayBeKey(input.Held)) {
    keys += input.Held;
    input.Held.clear();
  } else if (longPause) {
    input.Held.clear();
  }
}

bool HoldingInput(const TerminalInput& input) { return !input.Held.empty(); }

bool OfferMotion(MotionPacer& pacer, int x, int y, std::uint64_t now) {
  if (!pacer.Passed || now - pacer.LastPassed >= MotionPeriod) {
    pacer.Held = false;
    pacer.Passed = true;
    pacer.LastPassed = now;
    return true;
  }
  pacer.Held = true;
  pacer.X = x;
  pacer.Y = y;
  return false;
}

bool DueMotion(MotionPacer& pacer, std::uint64_t now, int& x, int& y) {
  if (!pacer.Held || now - pacer.LastPassed < MotionPeriod) return false;
  pacer.Held = false;
  pacer.LastPassed = now;
  x = pacer.X;
  y = pacer.Y;
  return true;
}

int MotionWait(const MotionPacer& pacer, std::uint64_t now) {
  if (!pacer.Held) return -1;
  const std::uint64_t since = now - pacer.LastPassed;
  return since >= MotionPeriod ? 0 : static_cast<int>(MotionPeriod - since);
}

void DropMotion(MotionPacer& pacer, std::uint64_t now) {
  pacer.Held = false;
  pacer.Passed = true;
  pacer.LastPassed = now;
}

bool ReadTerminalSize(int fd, const TerminalAnswers& answers, TerminalSize& size) {
  winsize window{};
  if (ioctl(fd, TIOCGWINSZ, &window) != 0 || window.ws_col == 0 || window.ws_row == 0) return false;
  size.Columns = window.ws_col;
  size.Rows = window.ws_row;
  size.CellWidth = window.ws_xpixel / window.ws_col;
  size.CellHeight = window.ws_ypixel / window.ws_row;
  if (size.CellWidth <= 0 || size.CellHeight <= 0) {
    size.CellWidth = answers.CellWidth;
    size.CellHeight = answers.CellHeight;
  }
  // A cell larger than any font: the sizes are not to be believed.
  if (size.CellWidth > MaxCellSize || size.CellHeight > MaxCellSize)
    size.CellWidth = size.CellHeight = 0;
  return true;
}

PictureLayout LayoutPicture(TerminalMode mode, const TerminalSize& size) {
  PictureLayout layout;
  layout.Mode = mode;
  layout.TerminalColumns = std::max(size.Columns, 1);
  layout.TerminalRows = std::max(size.Rows, 1);
  const bool known = size.CellWidth > 0 && size.CellHeight > 0;
  const int cw = known ? size.CellWidth : 8, ch = known ? size.CellHeight : 16;
  layout.CellWidth = cw;
  layout.CellHeight = ch;
  const int columns = layout.TerminalColumns, rows = layout.TerminalRows;
  if (mode == TerminalMode::Symbols || mode == TerminalMode::Console) {
    // Whole cells: as wide as the rows allow for the 4:3 shape, and no more
    // cells than the screen has pixels to show in them.
    int c = std::min({columns, MaxSymbolColumns,
                      static_cast<int>(4L * std::min(rows, MaxSymbolRows) * ch / (3L * cw))});
    c = std::max(c, 1);
    int r = static_cast<int>((3L * c * cw + 2L * ch) / (4L * ch));
    r = std::clamp(r, 1, std::min(rows, MaxSymbolRows));
    layout.Columns = c;
    layout.Rows = r;
    layout.Width = c * cw;
    layout.Height = r * ch;
    layout.Left = (columns - c) / 2;
    layout.Top = (rows - r) / 2;
    return layout;
  }
  // The last row stays free, and a sixel band may reach 5 pixel rows below
  // the picture (sixels come in rows of six).
  const int usableRows = std::max(rows - 1, 1);
  // Beyond MaxScale times the screen's size a picture shows nothing more.
  const int width = static_cast<int>(std::min(static_cast<long>(columns) * cw, MaxScale * 640L));
  const int height = static_cast<int>(
      std::min(std::max(static_cast<long>(usableRows) * ch - 5, 6L), MaxScale * 480L + 5));
  // The same fit as the window's: whole scales, else the largest of the right shape.
  const PictureRect fit = FitPicture(width, height);
  layout.Width = std::max(fit.W, 4);
  layout.Height = std::max(fit.H, 3);
  layout.Columns = (layout.Width + cw - 1) / cw;
  layout.Rows = (layout.Height + ch - 1) / ch;
  layout.Left = std::max((columns - layout.Columns) / 2, 0);
  layout.Top = std::max((usableRows - layout.Rows) / 2, 0);
  return layout;
}

bool PointerToScreen(const PictureLayout& layout, int x, int y, bool pixels, int& screenX,
                     int& screenY) {
  // Into pixels of the picture: a cell counts by its centre.
  long px, py;
  if (pixels) {
    px = static_cast<long>(x) - 1 - static_cast<long>(layout.Left) * layout.CellWidth;
    py = static_cast<long>(y) - 1 - static_cast<long>(layout.Top) * layout.CellHeight;
  } else {
    px = (static_cast<long>(x) - 1 - layout.Left) * layout.CellWidth + layout.CellWidth / 2;
    py = (static_cast<long>(y) - 1 - layout.Top) * layout.CellHeight + layout.CellHeight / 2;
  }
  const bool inside = px >= 0 && py >= 0 && px < layout.Width && py < layout.Height;
  px = std::clamp(px, 0L, static_cast<long>(layout.Width) - 1);
  py = std::clamp(py, 0L, static_cast<long>(layout.Height) - 1);
  screenX = static_cast<int>(px * PictureWidth / layout.Width);
  screenY = static_cast<int>(py * PictureHeight / layout.Height);
  return inside;
}

std::string EnterSequence(bool mouse, bool pixelMouse, TerminalMode mode) {
  if (mode == TerminalMode::Console) return "\x1b[?25l\x1b[?7l\x1b[0;40m\x1b[2J";
  // Black around the picture, as around it in a window.
  std::string text = "\x1b[?1049h\x1b[?25l\x1b[?7l\x1b[?80l\x1b[0;48;2;0;0;0m\x1b[2J";
  if (mouse) text += "\x1b[?1003h\x1b[?1006h";
  if (mouse && pixelMouse) text += "\x1b[?1016h";
  return text;
}

std::string LeaveSequence(TerminalMode mode, const std::string& lastLines) {
  if (mode == TerminalMode::Console) return "\x1b[0m\x1b[2J\x1b[H\x1b[?7h\x1b[?25h" + lastLines;
  std::string text;
  if (mode == TerminalMode::Kitty) text += "\x1b_Ga=d,d=A\x1b\\";
  text +=
      "\x1b[?1016l\x1b[?1006l\x1b[?1003l\x1b[?1002l\x1b[?1000l"
      "\x1b[0m\x1b[2J\x1b[?7h\x1b[?25h\x1b[?1049l";
  return text;
}
