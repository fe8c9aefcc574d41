// Where the picture sits in the terminal's grid of cells, the pointer's way
// back from a report to the screen, and the bytes that enter and leave the
// terminal's screen.

#include <sys/ioctl.h>

#include <algorithm>

#include "platform/core/services.h"
#include "platform/terminal/terminal_parts.h"

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
  size.SixelWidth = answers.SixelWidth;
  size.SixelHeight = answers.SixelHeight;
  size.Registers = answers.Registers;
  // Drawn as in xterm only where each image's own colour registers can be
  // turned off.
  const bool resettable = PrivateRegistersResettable(answers);
  size.XtermSixels = answers.XtermSixels && resettable;
  size.SharedRegisters = resettable || answers.RegistersShared;
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
  layout.SixelWidth = std::max(size.SixelWidth, 0);
  layout.SixelHeight = std::max(size.SixelHeight, 0);
  layout.Registers = size.Registers > 0 ? std::min(size.Registers, MaxRegisters) : MaxRegisters;
  layout.XtermSixels = size.XtermSixels;
  layout.SharedRegisters = size.SharedRegisters;
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
  const int width =
      static_cast<int>(std::min(static_cast<long>(columns) * cw, MaxScale * ScreenWidth));
  const int height = static_cast<int>(
      std::min(std::max(static_cast<long>(usableRows) * ch - 5, 6L), MaxScale * ScreenHeight + 5));
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
  screenX = static_cast<int>(px * ScreenWidth / layout.Width);
  screenY = static_cast<int>(py * ScreenHeight / layout.Height);
  return inside;
}

std::string EnterSequence(bool mouse, bool pixelMouse, TerminalMode mode, bool sharedRegisters) {
  if (mode == TerminalMode::Console) return "\x1b[?25l\x1b[?7l\x1b[0;40m\x1b[2J";
  // Black around the picture, as around it in a window.
  std::string text = "\x1b[?1049h\x1b[?25l\x1b[?7l";
  // Sixels placed at the cursor (a sixel-only mode: others may complain of it).
  if (mode == TerminalMode::Sixel) text += sharedRegisters ? "\x1b[?80l\x1b[?1070l" : "\x1b[?80l";
  text += "\x1b[0;48;2;0;0;0m\x1b[2J";
  if (mouse) text += "\x1b[?1003h\x1b[?1006h";
  if (mouse && pixelMouse) text += "\x1b[?1016h";
  return text;
}

std::string LeaveSequence(TerminalMode mode, const std::string& lastLines, bool privateRegisters) {
  if (mode == TerminalMode::Console) return "\x1b[0m\x1b[2J\x1b[H\x1b[?7h\x1b[?25h" + lastLines;
  std::string text;
  if (mode == TerminalMode::Kitty) text += "\x1b_Ga=d,d=A\x1b\\";
  if (privateRegisters) text += "\x1b[?1070h";
  text +=
      "\x1b[?1016l\x1b[?1006l\x1b[?1003l\x1b[?1002l\x1b[?1000l"
      "\x1b[0m\x1b[2J\x1b[?7h\x1b[?25h\x1b[?1049l";
  return text;
}
