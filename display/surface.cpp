// The drawing surface: the one 640 x 480 graphics mode, the drawing
// operations on its screen memory, and the two keyboard operations.
//
// Every drawing operation writes the platform's screen memory directly; the
// platform shows it in the window on its own. Pixels off the screen are
// skipped by each operation.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "display/display.h"
#include "platform/platform.h"

namespace {

constexpr int Width = ScreenWidth;
constexpr int Height = ScreenHeight;
constexpr Colour Background = 0x0000;

// ModeOpen: true between a successful InitGraph and CloseGraphics.
bool ModeOpen = false;
// Screen: the platform's screen memory while the mode is open (Width x Height
// pixels, row by row). Every access below is guarded by the clipping test,
// which is the bounds check of this memory, and goes through the platform's
// cell operations, since a display thread may be copying it.
std::uint16_t* Screen = nullptr;
// LastResult: 0, GraphModeNotAvailable, or FillPatternRefused.
int LastResult = 0;
constexpr int FillPatternRefused = -11;
// DrawColour, FillPattern (0..12), FillColour: the drawing state.
Colour DrawColour = 0x000F;
std::uint16_t FillPattern = SolidFill;
Colour FillColour = 0xFFFF;

// KeyBuffer: key codes decoded ahead of their ReadKeyCode (the scan code of
// an extended key); KeyBufferHead 0..3, KeyBufferCount 0..4.
Array<std::uint8_t, 0, 3> KeyBuffer;
int KeyBufferHead = 0;
int KeyBufferCount = 0;

[[noreturn]] void NotInGraphicsMode() {
  const char* reason = DisplayUnavailableReason();
  std::fflush(stdout);
  if (reason[0] != '\0')
    std::fprintf(stderr, "kelvar: no graphics mode: %s\n", reason);
  else
    std::fprintf(stderr, "kelvar: no graphics mode: InitGraph has not opened one\n");
  std::fputs("Error: Not in graphics mode (use InitGraph and test GraphResult afterwards)\n",
             stdout);
  std::fflush(stdout);
  std::exit(1);
}

inline void RequireMode() {
  if (!ModeOpen) [[unlikely]]
    NotInGraphicsMode();
}

inline bool OnScreen(int x, int y) {
  return static_cast<unsigned>(x) < static_cast<unsigned>(Width) &&
         static_cast<unsigned>(y) < static_cast<unsigned>(Height);
}

inline void Plot(int x, int y, Colour colour) {
  if (OnScreen(x, y)) StoreScreenCell(Screen[y * Width + x], colour);
}

// FillSpan: pixels x1..x2 of row y (x1 <= x2), clipped.
void FillSpan(int x1, int x2, int y, Colour colour) {
  if (y < 0 || y >= Height) return;
  x1 = std::max(x1, 0);
  x2 = std::min(x2, Width - 1);
  if (x1 > x2) return;
  for (std::uint16_t* cell = Screen + y * Width + x1; cell <= Screen + y * Width + x2; ++cell)
    StoreScreenCell(*cell, colour);
}

// Line: Bresenham's rule with the longer axis as the stepping one.
void Line(int x1, int y1, int x2, int y2, Colour colour) {
  if (y1 == y2) {
    FillSpan(std::min(x1, x2), std::max(x1, x2), y1, colour);
    return;
  }
  int dx = std::abs(x2 - x1), dy = std::abs(y2 - y1);
  int stepX = x2 >= x1 ? 1 : -1, stepY = y2 >= y1 ? 1 : -1;
  bool alongX = dx >= dy;
  int a = alongX ? dx : dy, b = alongX ? dy : dx;
  int error = 2 * b - a;
  int x = x1, y = y1;
  for (int step = 0;; ++step) {
    Plot(x, y, colour);
    if (step == a) break;
    if (error < 0) {
      error += 2 * b;
    } else {
      if (alongX)
        y += stepY;
      else
        x += stepX;
      error += 2 * (b - a);
    }
    if (alongX)
      x += stepX;
    else
      y += stepY;
  }
}

void BufferKey(std::uint8_t code) {
  KeyBuffer[(KeyBufferHead + KeyBufferCount) % 4] = code;
  ++KeyBufferCount;
}

std::uint8_t UnbufferKey() {
  std::uint8_t code = KeyBuffer[KeyBufferHead];
  KeyBufferHead = (KeyBufferHead + 1) % 4;
  --KeyBufferCount;
  return code;
}

// ScanCodeOfFinal: the scan code of ESC [ letter or ESC O letter (0 unknown).
std::uint8_t ScanCodeOfFinal(std::uint8_t final) {
  switch (final) {
    case 'A':
      return 72;  // Up
    case 'B':
      return 80;  // Down
    case 'C':
      return 77;  // Right
    case 'D':
      return 75;  // Left
    case 'H':
      return 71;  // Home
    case 'F':
      return 79;  // End
    case 'P':
      return 59;  // F1 to F4
    case 'Q':
      return 60;
    case 'R':
      return 61;
    case 'S':
      return 62;
    default:
      return 0;
  }
}

// ScanCodeOfNumber: the scan code of ESC [ number ~ (0 unknown).
std::uint8_t ScanCodeOfNumber(int number) {
  switch (number) {
    case 1:
    case 7:
      return 71;  // Home
    case 2:
      return 82;  // Insert
    case 3:
      return 83;  // Delete
    case 4:
    case 8:
      return 79;  // End
    case 5:
      return 73;  // Page Up
    case 6:
      return 81;  // Page Down
    case 11:
    case 12:
    case 13:
    case 14:
    case 15:
      return static_cast<std::uint8_t>(48 + number);
    case 17:
    case 18:
    case 19:
    case 20:
    case 21:
      return static_cast<std::uint8_t>(47 + number);
    case 23:
      return 133;  // F11
    case 24:
      return 134;  // F12
    default:
      return 0;
  }
}

// NextTerminalByte: the next waiting byte if it came from the terminal.
bool NextTerminalByte(std::uint8_t& code) {
  KeyInput input;
  if (!PeekKeyInput(input) || input.FromWindow) return false;
  code = input.Code;
  return true;
}

// DecodeEscape: the terminal sent 27. Puts 27 into the key buffer when
// nothing follows within 10 ms, otherwise 0 and a scan code. A byte that
// cannot start a sequence is left for the next key.
void DecodeEscape() {
  SleepMilliseconds(10);
  std::uint8_t code;
  if (!NextTerminalByte(code) || (code != '[' && code != 'O')) {
    BufferKey(27);
    return;
  }
  TakeKeyInput();
  int number = 0;
  bool inFirstNumber = true;
  std::uint8_t scan = 0;
  // Sequences are short; a longer one is not a key this program knows.
  for (int length = 0; length < 8; ++length) {
    SleepMilliseconds(10);
    if (!NextTerminalByte(code)) break;
    TakeKeyInput();
    if (code >= '0' && code <= '9') {
      if (inFirstNumber) number = std::min(number * 10 + (code - '0'), 1000);
      continue;
    }
    if (code == ';') {
      inFirstNumber = false;
      continue;
    }
    if (code == '~')
      scan = ScanCodeOfNumber(number);
    else if ((code >= 'A' && code <= 'Z') || (code >= 'a' && code <= 'z'))
      scan = ScanCodeOfFinal(code);
    break;
  }
  // An unknown or unfinished sequence still gives an extended key, with a
  // scan code that nothing acts on, so the caller never waits for more.
  BufferKey(0);
  BufferKey(scan);
}

void CloseForRunError() { CloseGraphics(); }

}  // namespace

void InitGraph(std::int16_t driver, std::int16_t mode, const char* /*path*/) {
  vga_init();
  LastResult = GraphModeNotAvailable;
  if (driver != Driver64K || mode != Mode640x480) return;
  // Pick, from the modes the library lists, the one of this size and colour count.
  int chosen = -1;
  for (int number = 0; number <= 49 && chosen < 0; ++number) {
    if (!vga_hasmode(number)) continue;
    const vga_modeinfo* info = vga_getmodeinfo(number);
    if (info != nullptr && info->width == Width && info->height == Height &&
        info->colors == 65536 && info->bytesperpixel == 2)
      chosen = number;
  }
  if (chosen < 0 || vga_setmode(chosen) != 0) return;
  vga_screenon();
  Screen = reinterpret_cast<std::uint16_t*>(vga_getgraphmem());
  vga_getcolors();
  ModeOpen = true;
  LastResult = 0;
  DrawColour = 0x000F;
  FillPattern = SolidFill;
  FillColour = 0xFFFF;
  // A run-time error report must land on the text screen.
  SetRunErrorShutdown(CloseForRunError);
}

int GraphResult() { return LastResult; }

void CloseGraphics() {
  if (ModeOpen) {
    ModeOpen = false;
    Screen = nullptr;
    SetRunErrorShutdown(nullptr);
    vga_setmode(TEXT);
  }
  RestoreTerminal();
}

std::int16_t MaxX() { return Width - 1; }
std::int16_t MaxY() { return Height - 1; }

void SetDrawColor(Colour colour) { DrawColour = colour; }

void SetFill(std::uint16_t pattern, Colour colour) {
  if (pattern > 12) {
    LastResult = FillPatternRefused;
    return;
  }
  FillPattern = pattern;
  FillColour = colour;
}

void ClearScreen() {
  RequireMode();
  // What follows draws the screen anew: it is shown once drawn.
  ScreenCleared();
  for (std::uint16_t* cell = Screen; cell < Screen + Width * Height; ++cell)
    StoreScreenCell(*cell, Background);
}

void DrawLine(std::int16_t x1, std::int16_t y1, std::int16_t x2, std::int16_t y2) {
  RequireMode();
  Line(x1, y1, x2, y2, DrawColour);
}

void DrawRectangle(std::int16_t x1, std::int16_t y1, std::int16_t x2, std::int16_t y2) {
  RequireMode();
  // Four lines that meet without overlapping, so each outline pixel is set once.
  Line(x1, y1, x2 - 1, y1, DrawColour);
  Line(x1, y1 + 1, x1, y2, DrawColour);
  Line(x2, y1, x2, y2 - 1, DrawColour);
  Line(x1 + 1, y2, x2, y2, DrawColour);
}

void FillBar(std::int16_t x1, std::int16_t y1, std::int16_t x2, std::int16_t y2) {
  RequireMode();
  int top = std::min(y1, y2), bottom = std::max(y1, y2);
  // Pattern 0 is the empty fill (the background); every other accepted
  // pattern is drawn solid.
  Colour colour = FillPattern == 0 ? Background : FillColour;
  for (int y = std::max(top, 0); y <= std::min(bottom, Height - 1); ++y)
    FillSpan(x1, x2, y, colour);
}

void DrawText(std::int16_t x, std::int16_t y, const std::string& text) {
  RequireMode();
  int length = static_cast<int>(std::min<std::size_t>(text.size(), 255));
  for (int k = 0; k < length; ++k) {
    const auto& glyph = FontGlyphs[static_cast<unsigned char>(text[k])];
    int left = x + 8 * k;
    if (left >= Width) break;
    if (left + 7 < 0) continue;
    for (int row = 0; row < 8; ++row) {
      std::uint8_t bits = glyph[row];
      for (int column = 0; bits != 0; ++column, bits = static_cast<std::uint8_t>(bits << 1))
        if ((bits & 0x80) != 0) Plot(left + column, y + row, DrawColour);
    }
  }
}

void SetPixel(std::int16_t x, std::int16_t y, Colour colour) {
  RequireMode();
  if (OnScreen(x, y)) StoreScreenCell(Screen[y * Width + x], colour);
}

Colour ReadPixel(std::int16_t x, std::int16_t y) {
  RequireMode();
  return OnScreen(x, y) ? LoadScreenCell(Screen[y * Width + x]) : Background;
}

std::int32_t AreaBufferSize(std::int16_t x1, std::int16_t y1, std::int16_t x2, std::int16_t y2) {
  return 12 +
         2 * (static_cast<std::int32_t>(x2) - x1 + 1) * (static_cast<std::int32_t>(y2) - y1 + 1);
}

void SaveArea(std::int16_t x1, std::int16_t y1, std::int16_t x2, std::int16_t y2, void* buffer) {
  RequireMode();
  auto* bytes = static_cast<unsigned char*>(buffer);
  std::int32_t header[3] = {x2 - x1, y2 - y1, 0};
  std::memcpy(bytes, header, sizeof header);
  bytes += sizeof header;
  for (int y = y1; y <= y2; ++y)
    for (int x = x1; x <= x2; ++x) {
      Colour colour = OnScreen(x, y) ? LoadScreenCell(Screen[y * Width + x]) : Background;
      std::memcpy(bytes, &colour, sizeof colour);
      bytes += sizeof colour;
    }
}

void RestoreArea(std::int16_t x, std::int16_t y, const void* buffer, std::uint16_t /*putMode*/) {
  RequireMode();
  // Only CopyPut is used: every saved colour replaces the screen's pixel.
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  std::int32_t header[3];
  std::memcpy(header, bytes, sizeof header);
  bytes += sizeof header;
  for (int row = 0; row <= header[1]; ++row)
    for (int column = 0; column <= header[0]; ++column) {
      Colour colour;
      std::memcpy(&colour, bytes, sizeof colour);
      bytes += sizeof colour;
      Plot(x + column, y + row, colour);
    }
}

bool KeyWaiting() {
  KeyInput input;
  return KeyBufferCount > 0 || PeekKeyInput(input);
}

std::uint8_t ReadKeyCode() {
  if (KeyBufferCount > 0) return UnbufferKey();
  KeyInput input = TakeKeyInput();
  // Window keys come translated and never wait for an escape sequence.
  if (input.FromWindow) return input.Code;
  if (input.Code == 27) {
    DecodeEscape();
    return UnbufferKey();
  }
  if (input.Code == 127) return 8;
  return input.Code;
}
