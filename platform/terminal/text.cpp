// The pieces every sequence is written with: numbers, cursor moves, UTF-8,
// and one cell of symbols with its colours.

#include <algorithm>

#include "platform/terminal/terminal_parts.h"

void AppendNumber(std::string& out, long value) {
  char digits[24];
  int at = sizeof digits;
  const bool negative = value < 0;
  unsigned long rest =
      negative ? 0UL - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
  do {
    digits[--at] = static_cast<char>('0' + rest % 10);
    rest /= 10;
  } while (rest != 0);
  if (negative) digits[--at] = '-';
  out.append(digits + at, sizeof digits - static_cast<std::size_t>(at));
}

void AppendMoveTo(std::string& out, int row, int column) {
  out += "\x1b[";
  AppendNumber(out, row + 1);
  out += ';';
  AppendNumber(out, column + 1);
  out += 'H';
}

void AppendUtf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xc0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3f));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xe0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (c & 0x3f));
  } else {
    out += static_cast<char>(0xf0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3f));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
    out += static_cast<char>(0x80 | (c & 0x3f));
  }
}

namespace {

// AppendColour: ";38;2;R;G;B" (selector 38 foreground, 48 background) for a
// 24-bit colour; for a console palette number the 16-colour form (30..37 and
// 90..97 in front, 40..47 behind).
void AppendColour(std::string& out, int selector, std::int32_t rgb, bool console) {
  out += ';';
  if (console) {
    const int base = selector == 38 ? (rgb < 8 ? 30 : 90 - 8) : 40;
    AppendNumber(out, base + std::clamp(rgb, 0, selector == 38 ? 15 : 7));
    return;
  }
  AppendNumber(out, selector);
  out += ";2;";
  AppendNumber(out, (rgb >> 16) & 255);
  out += ';';
  AppendNumber(out, (rgb >> 8) & 255);
  out += ';';
  AppendNumber(out, rgb & 255);
}

}  // namespace

void AppendCell(CellWriter& writer, const PictureLayout& layout, int r, int c, const Cell& cell,
                bool console, std::string& out) {
  if (r != writer.Row || c != writer.Column) AppendMoveTo(out, layout.Top + r, layout.Left + c);
  // A space shows only its background, a full block only its foreground.
  const bool needForeground = cell.Symbol != ' ' && cell.Foreground != writer.Foreground;
  const bool needBackground = cell.Symbol != 0x2588 && cell.Background != writer.Background;
  if (needForeground || needBackground) {
    out += "\x1b[";
    const std::size_t start = out.size();
    if (needForeground) AppendColour(out, 38, cell.Foreground, console);
    if (needBackground) AppendColour(out, 48, cell.Background, console);
    out.erase(start, 1);  // the first ';'
    out += 'm';
    if (needForeground) writer.Foreground = cell.Foreground;
    if (needBackground) writer.Background = cell.Background;
  }
  AppendUtf8(out, cell.Symbol);
  writer.Row = r;
  writer.Column = c + 1;
}
