// The display: the drawing surface and its keyboard operations, the screen
// start-up and layout, the piece bitmaps, the board and the pointer, and the
// message box and text panels.
#pragma once

#include <cstdint>
#include <string>

#include "rules/rules.h"

// ---- Drawing surface ------------------------------------------------------------

// Colours are RGB 5-6-5, written to the screen unchanged.
using Colour = std::uint16_t;

// Codes InitGraph understands: 65,536 colours at 640 x 480.
constexpr std::int16_t Driver64K = 18;
constexpr std::int16_t Mode640x480 = 30009;
// SolidFill: the one fill pattern the program uses; patterns above 12 are refused.
constexpr std::uint16_t SolidFill = 1;
// CopyPut: saved colours replace the screen's pixels.
constexpr std::uint16_t CopyPut = 0;
// GraphModeNotAvailable: GraphResult after InitGraph found no such mode.
constexpr int GraphModeNotAvailable = -10;

// InitGraph: opens 640 x 480 x 64K and resets the drawing state; records the
// outcome for GraphResult (0 or -10).
void InitGraph(std::int16_t driver, std::int16_t mode, const char* path);
// GraphResult: the error code of the last InitGraph or SetFill.
int GraphResult();
// CloseGraphics: back to text mode; the terminal is restored.
void CloseGraphics();
// MaxX, MaxY: 639 and 479.
std::int16_t MaxX();
std::int16_t MaxY();
// SetDrawColor: colour for lines, rectangles and text (0x000F after InitGraph).
void SetDrawColor(Colour colour);
// SetFill: pattern and colour for FillBar (SolidFill, 0xFFFF after InitGraph).
void SetFill(std::uint16_t pattern, Colour colour);
// ClearScreen: every pixel to the background colour 0x0000.
void ClearScreen();
// DrawLine: both end points included; slanted lines by Bresenham's rule.
void DrawLine(std::int16_t x1, std::int16_t y1, std::int16_t x2, std::int16_t y2);
// DrawRectangle: the outline as four lines, each pixel set once.
void DrawRectangle(std::int16_t x1, std::int16_t y1, std::int16_t x2, std::int16_t y2);
// FillBar: every pixel of the rectangle in the fill colour, no outline.
void FillBar(std::int16_t x1, std::int16_t y1, std::int16_t x2, std::int16_t y2);
// DrawText: 8 x 8 cells from (x, y) to the right; only glyph pixels are set.
void DrawText(std::int16_t x, std::int16_t y, const std::string& text);
// SetPixel: one pixel, clipped; the drawing colour is not used.
void SetPixel(std::int16_t x, std::int16_t y, Colour colour);
// ReadPixel: one pixel's colour (undefined off the screen).
Colour ReadPixel(std::int16_t x, std::int16_t y);
// AreaBufferSize: 12 + 2 x width x height bytes.
std::int32_t AreaBufferSize(std::int16_t x1, std::int16_t y1, std::int16_t x2, std::int16_t y2);
// SaveArea: header (width - 1, height - 1, 0) then the pixels row by row.
void SaveArea(std::int16_t x1, std::int16_t y1, std::int16_t x2, std::int16_t y2, void* buffer);
// RestoreArea: a saved rectangle with its top-left corner at (x, y).
void RestoreArea(std::int16_t x, std::int16_t y, const void* buffer, std::uint16_t putMode);
// KeyWaiting: a key code is ready (never waits).
bool KeyWaiting();
// ReadKeyCode: the next key code, waiting for one; extended keys give 0 and
// then a scan code (Up 72, Left 75, Right 77, Down 80, Page Down 81).
std::uint8_t ReadKeyCode();
// FontGlyphs: the built-in 8 x 8 font, rows 0..7 of each byte's glyph, bit 7 leftmost.
extern const Array<Array<std::uint8_t, 0, 7>, 0, 255> FontGlyphs;

// ---- Screen start-up and layout ------------------------------------------------------

// BoardLeft, BoardTop: top-left pixel of square a8; SquareSize: 48 pixels.
constexpr std::int16_t BoardLeft = 127;
constexpr std::int16_t BoardTop = 47;
constexpr std::int16_t SquareSize = 48;
// LightSquareImage, DarkSquareImage: saved 48 x 48 textures, allocated once.
extern std::uint8_t* LightSquareImage;
extern std::uint8_t* DarkSquareImage;
// StartGraphics: InitGraph(18, 30009, "") then LoadGraphics.
void StartGraphics();
// LoadGraphics: square textures, loading screen, the six piece files, clear.
void LoadGraphics();

// ---- Piece bitmaps -----------------------------------------------------------------------

// PieceBitmap: grey levels [column 0..47][row 0..47]; 0 is transparent.
using PieceBitmap = Array<Array<std::uint8_t, 0, 47>, 0, 47>;
// PieceBitmaps: one per kind 1..6, shared by both sides.
extern Array<PieceBitmap, 1, 6> PieceBitmaps;
// ReadPieceBitmap: 2304 bytes, the file's rows into the array's columns.
void ReadPieceBitmap(const char* fileName, PieceBitmap& bitmap);
// GreyToColour: grey level to 5-6-5 grey.
Colour GreyToColour(std::uint8_t grey);
// DrawBitmapRaw: each byte as the colour value itself, nothing transparent.
void DrawBitmapRaw(std::int16_t x, std::int16_t y, const PieceBitmap& bitmap);
// DrawPieceGrey: side 1's colouring, grey level round(0.75 g + 63).
void DrawPieceGrey(std::int16_t x, std::int16_t y, const PieceBitmap& bitmap);
// DrawPieceGreen: side 2's colouring, pure green g >> 2.
void DrawPieceGreen(std::int16_t x, std::int16_t y, const PieceBitmap& bitmap);
// ShowScreenImage: a 640 x 480 grey file drawn row by row as it is read.
void ShowScreenImage(const char* fileName);

// ---- Board rendering -----------------------------------------------------------------------

// PointerBackground: the 10 x 15 pixels under the pointer, [column][row].
using PointerBackground = Array<Array<Colour, 0, 14>, 0, 9>;
// DrawBoard: labels, squares, pieces, frame.
void DrawBoard(const BoardGrid& board);
// HighlightSquare: three outlines on the square's edge.
void HighlightSquare(std::int16_t file, std::int16_t rank, Colour colour);
// PointToSquare: the square under a point inside the board.
void PointToSquare(std::int16_t x, std::int16_t y, std::int16_t& file, std::int16_t& rank);
// SavePointerBackground, RestorePointerBackground: the 10 x 15 block at (x, y).
void SavePointerBackground(std::int16_t x, std::int16_t y, PointerBackground& background);
void RestorePointerBackground(std::int16_t x, std::int16_t y, const PointerBackground& background);
// DrawPointer: the arrow with its tip at (x, y), shadow first.
void DrawPointer(std::int16_t x, std::int16_t y);

// ---- Message box and text panels -------------------------------------------------------------

// PanelObserver: told of every message box, progress bar and info text
// before it is drawn, for tests and tools that report what a person was
// shown; an entry left nullptr is not called.
struct PanelObserver {
  void (*MessageBox)(const std::string& title, const std::string& text);
  void (*ProgressBar)(std::int16_t x1, std::int16_t y1, std::int16_t x2, std::int16_t y2,
                      double fraction);
  void (*InfoPanel)(const std::string& text);
};
// PanelWatch: every entry nullptr until a test or tool sets one.
extern PanelObserver PanelWatch;
// MessageBox: a titled box of "|"-separated lines; waits for Enter, Esc or Space.
void MessageBox(const std::string& title, const std::string& text);
// DrawMessageBox: the box of MessageBox alone, without waiting for a key.
void DrawMessageBox(const std::string& title, const std::string& text);
// ShowInfoPanel: one or two lines at the bottom, broken at a space within 57.
void ShowInfoPanel(const std::string& text);
// ShowStatus: one word in the box at the bottom right.
void ShowStatus(const std::string& text);
// DrawProgressBar: a framed bar filled to fraction (0 to below 1).
void DrawProgressBar(std::int16_t x1, std::int16_t y1, std::int16_t x2, std::int16_t y2,
                     double fraction);
