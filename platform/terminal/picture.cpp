// The picture in the terminal: the screen kept as RGB 8-8-8 and handed to the
// way of drawing the layout's mode names, which keeps what the terminal shows
// so that a paint sends only what changed.

#include <algorithm>

#include "platform/core/services.h"
#include "platform/terminal/terminal_parts.h"

struct Picture {
  PictureLayout Layout;
  bool Whole = true;
  // Source: the screen as RGB 8-8-8.
  std::vector<std::uint8_t> Source = std::vector<std::uint8_t>(ScreenWidth * ScreenHeight * 3);
  SymbolState Symbols;
  ConsoleState Console;
  PixelState Pixels;
  KittyState Kitty;
};

Picture* NewPicture() {
  auto* picture = new Picture;
  OpenSymbols(picture->Symbols);
  return picture;
}

void FreePicture(Picture* picture) {
  if (picture == nullptr) return;
  CloseSymbols(picture->Symbols);
  delete picture;
}

namespace {

void Rgb565ToRgb8(std::uint16_t value, std::uint8_t* out) {
  const unsigned r = value >> 11, g = (value >> 5) & 63, b = value & 31;
  out[0] = static_cast<std::uint8_t>(r << 3 | r >> 2);
  out[1] = static_cast<std::uint8_t>(g << 2 | g >> 4);
  out[2] = static_cast<std::uint8_t>(b << 3 | b >> 2);
}

void UpdateSource(Picture& picture, const std::uint16_t* screen, int firstRow, int lastRow) {
  for (int y = firstRow; y <= lastRow; ++y)
    for (int x = 0; x < ScreenWidth; ++x)
      Rgb565ToRgb8(screen[y * ScreenWidth + x], &picture.Source[(y * ScreenWidth + x) * 3]);
}

// Paint: the source's rows firstRow..lastRow (all of them when the whole
// picture is due) to the terminal.
void Paint(Picture& p, int firstRow, int lastRow, std::string& out) {
  const std::size_t before = out.size();
  const std::uint8_t* source = p.Source.data();
  switch (p.Layout.Mode) {
    case TerminalMode::Console:
      if (p.Whole) out += "\x1b[0;40m\x1b[2J";
      PaintConsole(p.Console, p.Layout, source, p.Whole, out);
      break;
    case TerminalMode::Symbols:
      if (p.Whole) out += "\x1b[0;48;2;0;0;0m\x1b[2J";
      PaintSymbols(p.Symbols, p.Layout, source, p.Whole, firstRow, lastRow, out);
      break;
    case TerminalMode::Sixel:
    case TerminalMode::Kitty:
      if (p.Whole) out += "\x1b[0;48;2;0;0;0m\x1b[2J";
      PaintPixels(p.Pixels, p.Kitty, p.Layout, source, p.Whole, firstRow, lastRow, out);
      break;
  }
  // The cursor (hidden) back at the picture's first cell: left after the
  // last image or cell, it may sit on the terminal's last row, and a resize
  // would scroll the lines above away. Where sixels go as in xterm, the place
  // is saved (DECSC) after a whole paint and each later one returns to it
  // (DECRC) in two bytes.
  const bool saved = p.Layout.Mode == TerminalMode::Sixel && p.Layout.XtermSixels;
  if (out.size() > before) {
    if (saved && !p.Whole) {
      out +=
          "\x1b"
          "8";
    } else {
      AppendMoveTo(out, p.Layout.Top, p.Layout.Left);
      if (saved)
        out +=
            "\x1b"
            "7";
    }
  }
  p.Whole = false;
}

}  // namespace

void ResetPicture(Picture* picture, const PictureLayout& layout) {
  Picture& p = *picture;
  p.Layout = layout;
  p.Whole = true;
  switch (layout.Mode) {
    case TerminalMode::Console:
      ResetConsole(p.Console, layout);
      break;
    case TerminalMode::Symbols:
      ResetSymbols(p.Symbols, layout);
      break;
    case TerminalMode::Sixel:
    case TerminalMode::Kitty:
      ResetPixels(p.Pixels, p.Kitty, layout);
      break;
  }
}

void PaintPicture(Picture* picture, const std::uint16_t* screen, int firstRow, int lastRow,
                  std::string& out) {
  Picture& p = *picture;
  if (p.Whole) {
    firstRow = 0;
    lastRow = ScreenHeight - 1;
  }
  firstRow = std::max(firstRow, 0);
  lastRow = std::min(lastRow, ScreenHeight - 1);
  if (firstRow > lastRow) return;
  UpdateSource(p, screen, firstRow, lastRow);
  Paint(p, firstRow, lastRow, out);
}

void RepaintPicture(Picture* picture, std::string& out) {
  picture->Whole = true;
  Paint(*picture, 0, ScreenHeight - 1, out);
}
