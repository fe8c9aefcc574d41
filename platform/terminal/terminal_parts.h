// Inside the terminal host only: what the terminal answers (detect.cpp), the
// bytes it sends, keys, mouse reports and answers mixed (input.cpp), where
// the picture sits in its grid of cells and the bytes that enter and leave
// it (layout.cpp), and the picture itself (picture.cpp), drawn as coloured
// block symbols (symbols.cpp), in the Linux console's 16 colours
// (console.cpp), or as pixels (pixels.cpp) sent as sixels (sixel.cpp) or
// kitty graphics (kitty.cpp). Nothing here touches a descriptor the host has
// not passed in, so each piece can be tried on its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/platform.h"

struct ChafaCanvas;
struct ChafaSymbolMap;
struct ChafaTermInfo;

// ---- What the terminal can do -----------------------------------------------------

// TerminalMode: how the picture is drawn. Console: the Linux text console
// (TERM=linux), symbols in its 16 colours (8 behind them) and only the block
// glyphs its font has.
enum class TerminalMode { Symbols, Sixel, Kitty, Console };
// ModeName: the mode as the start line names it ("sixels", "kitty graphics",
// "symbols", "the console's 16 colours").
const char* ModeName(TerminalMode mode);

// TerminalAnswers: what the terminal said about itself.
struct TerminalAnswers {
  bool Attributes = false;  // it answered the primary device attributes
  bool Sixel = false;       // ... with 4 among them
  bool Kitty = false;       // it answered the kitty graphics probe with OK
  int SgrMouse = -1;        // mode 1006 as DECRQM reports it: -1 not asked back, 0 unknown, 1..4
  int PixelMouse = -1;      // mode 1016, the same way
  int CellWidth = 0;        // a cell's size in pixels, when it told (CSI 16 t)
  int CellHeight = 0;
  int SixelWidth = 0;  // the largest sixel image it draws (XTSMGRAPHICS); 0 when untold
  int SixelHeight = 0;
  int Registers = 0;  // its sixel colour registers, the same way
  // It names itself (XTVERSION) as one that draws sixels as xterm does: an
  // image covers only its own pixels (what a cell shows beyond its edge
  // stays), and with private registers off (mode 1070) colours defined once
  // serve later images, those drawn keeping theirs.
  bool XtermSixels = false;
  int PrivateRegisters = -1;  // mode 1070 as DECRQM reports it: -1 not asked back, 0 unknown, 1..4
  // Its sixel images share colour registers unasked (TERM names mlterm,
  // which does not know mode 1070).
  bool RegistersShared = false;
};

// TerminalQueries: the questions asked at start (mouse modes, the kitty
// probe, the cell size); the device attributes come last, since every
// terminal answers them, in order, so their answer closes the exchange.
// SixelQueries: then, of a sixel terminal only, its colour registers,
// largest image and name, closed the same way. ConsoleQueries: the device attributes alone, for the
// Linux console, which would print the others' unknown sequences as text.
extern const char TerminalQueries[];
extern const char SixelQueries[];
extern const char ConsoleQueries[];
// IsLinuxConsole: TERM names the Linux text console.
bool IsLinuxConsole(const char* term);
// PrivateRegistersResettable: mode 1070 (each sixel image's own colour
// registers) is reported set or reset, and so can be turned off.
bool PrivateRegistersResettable(const TerminalAnswers& answers);
// SharesRegistersUnasked: TERM names a terminal whose sixel images share
// colour registers without mode 1070 (mlterm).
bool SharesRegistersUnasked(const char* term);
// UsableTerm: TERM names a terminal that can show colours and move its cursor
// (set, and not "dumb").
bool UsableTerm(const char* term);
// ChooseMode: the console's own mode on the Linux console, else kitty
// graphics, else sixels, else symbols. Pixel modes need the size of a cell in
// pixels (cellWidth, cellHeight > 0).
TerminalMode ChooseMode(const TerminalAnswers& answers, int cellWidth, int cellHeight,
                        bool console = false);
// MouseUsable: the terminal reports the mouse in SGR form (it said so, or it
// does not answer mode requests and is not the Linux console).
bool MouseUsable(const TerminalAnswers& answers, const char* term);
// PixelMouseUsable: the terminal confirmed SGR pixel reports (1016).
bool PixelMouseUsable(const TerminalAnswers& answers);

// ParseNumbers: the decimal parameters of a sequence separated by ';' (an
// empty one counts 0); false when anything else is among them.
bool ParseNumbers(const std::string& text, std::vector<int>& numbers);
// TakeAnswer: a whole control sequence's parameters and final byte, read
// into answers when it is one of the answers to TerminalQueries (true).
bool TakeAnswer(const std::string& params, char final, TerminalAnswers& answers);
// TakeCommandAnswer: an application program command (ESC _ ... ESC \, the
// kitty probe's answer) or a device control string (ESC P ... ESC \, the
// terminal's name).
void TakeCommandAnswer(const std::string& command, TerminalAnswers& answers);

// ---- The bytes from the terminal -------------------------------------------------

// PointerReport: one SGR mouse report as sent. Code: the button byte (low two
// bits the button, 3 none; 32 motion; 64 wheel); X, Y: 1-based cells, or
// pixels in pixel mode; Release: it ended with 'm'.
struct PointerReport {
  int Code;
  int X;
  int Y;
  bool Release;
};

// TerminalInput: bytes that may begin a report or an answer, held until the
// rest arrives (at most HeldLimit of them).
constexpr std::size_t HeldLimit = 512;
struct TerminalInput {
  std::string Held;
};

// FilterInput: splits the terminal's bytes into key bytes (appended to keys,
// in order), mouse reports and answers; neither of the last two ever reaches
// keys. A sequence cut between two calls is completed by the next.
void FilterInput(TerminalInput& input, const unsigned char* bytes, std::size_t count,
                 std::string& keys, std::vector<PointerReport>& pointer, TerminalAnswers& answers);
// FlushInput: nothing more came for a while: held bytes that can still be a
// key (a lone Esc, the start of a key sequence) go to keys. After a long
// pause, anything held is dropped.
void FlushInput(TerminalInput& input, std::string& keys, bool longPause);
// HoldingInput: bytes are held, so the reader should not block for long.
bool HoldingInput(const TerminalInput& input);

// MotionPacer: pointer movements passed on at most once every MotionPeriod
// milliseconds (each one is a redraw, and over a slow link a costly one);
// a movement held back is passed on when its time comes, so the pointer
// always ends where the last report put it.
constexpr int MotionPeriod = 33;
struct MotionPacer {
  bool Held = false;
  int X = 0, Y = 0;
  std::uint64_t LastPassed = 0;
  bool Passed = false;  // something was passed on (LastPassed is valid)
};
// OfferMotion: a movement to (x, y) at time now; true when it is to be
// passed on now, false when it is held.
bool OfferMotion(MotionPacer& pacer, int x, int y, std::uint64_t now);
// DueMotion: the held movement whose time has come (true, with its place).
bool DueMotion(MotionPacer& pacer, std::uint64_t now, int& x, int& y);
// MotionWait: milliseconds until the held movement is due; -1 when none is held.
int MotionWait(const MotionPacer& pacer, std::uint64_t now);
// DropMotion: a button report carries the pointer's place itself.
void DropMotion(MotionPacer& pacer, std::uint64_t now);

// ---- Where the picture sits ---------------------------------------------------------

// TerminalSize: the terminal's grid of cells and, where known, its pixels.
struct TerminalSize {
  int Columns = 0;
  int Rows = 0;
  int CellWidth = 0;  // pixels of one cell; 0 when unknown
  int CellHeight = 0;
  int SixelWidth = 0;  // the largest sixel image it draws; 0 when untold
  int SixelHeight = 0;
  int Registers = 0;             // its sixel colour registers; 0 when untold
  bool XtermSixels = false;      // as TerminalAnswers says, and mode 1070 can be reset
  bool SharedRegisters = false;  // mode 1070 can be reset, or its registers are shared unasked
};
// ReadTerminalSize: TIOCGWINSZ of descriptor fd, completed by the cell size
// the terminal told (a cell over MaxCellSize pixels counts as unknown) and
// its sixel limits; false when fd is not a terminal.
constexpr int MaxCellSize = 256;
bool ReadTerminalSize(int fd, const TerminalAnswers& answers, TerminalSize& size);

// PictureLayout: the picture in the terminal. Left, Top: its first cell
// (0-based); Columns, Rows: cells it covers; Width, Height: its size in
// pixels (pixel modes) or in cell units times CellWidth/CellHeight (symbols);
// CellWidth, CellHeight: pixels of a cell (a guess in symbols mode without
// pixel sizes). The picture keeps the screen's 4:3 shape.
struct PictureLayout {
  TerminalMode Mode = TerminalMode::Symbols;
  int Left = 0, Top = 0, Columns = 1, Rows = 1;
  int Width = 1, Height = 1;
  int CellWidth = 8, CellHeight = 16;
  int TerminalColumns = 1, TerminalRows = 1;
  int SixelWidth = 0, SixelHeight = 0;  // the largest sixel image; 0 no limit
  int Registers = 256;                  // sixel colour registers an image may use
  bool XtermSixels = false;             // images end inside a cell, sized by their sixels
  bool SharedRegisters = false;         // colours defined in one image serve the later ones
};
// MaxRegisters: colour registers an image uses at most, however many the
// terminal has.
constexpr int MaxRegisters = 256;
// The largest pictures worth drawing, however large the terminal says it is:
// symbols in at most MaxSymbolColumns x MaxSymbolRows cells (a cell a screen
// pixel across, two down, as half blocks show them), pixel modes at most
// MaxScale times the screen's size.
constexpr int MaxSymbolColumns = ScreenWidth;
constexpr int MaxSymbolRows = ScreenHeight / 2;
constexpr long MaxScale = 4;
// LayoutPicture: the largest picture of the screen's shape that fits,
// centred. Pixel modes draw at a whole scale when one fits and leave the last
// row free (a picture touching it would scroll the screen).
PictureLayout LayoutPicture(TerminalMode mode, const TerminalSize& size);
// PointerToScreen: a report's position (cells, or pixels when pixels is
// true) to a screen pixel; false outside the picture, where the result is
// the picture's nearest pixel.
bool PointerToScreen(const PictureLayout& layout, int x, int y, bool pixels, int& screenX,
                     int& screenY);

// ---- Entering and leaving ---------------------------------------------------------

// EnterSequence: the alternate screen, cleared, the cursor hidden, no line
// wrap, in sixel mode sixels placed at the cursor (and with sharedRegisters
// one set of colour registers for every image), and the mouse reports
// asked for. On the
// console (no alternate screen, 16 colours): cleared black, cursor hidden,
// no line wrap.
std::string EnterSequence(bool mouse, bool pixelMouse, TerminalMode mode,
                          bool sharedRegisters = false);
// LeaveSequence: everything EnterSequence changed put back (and, in kitty
// mode, the images freed). The console has no alternate screen to go back
// to: it is cleared, and lastLines (the game's start line) written again at
// its top, so what the game printed stays readable there. privateRegisters:
// each image's colour registers its own again. At most 256 bytes in all, so
// a signal handler can send it.
std::string LeaveSequence(TerminalMode mode, const std::string& lastLines = "",
                          bool privateRegisters = false);

// ---- The picture ------------------------------------------------------------------

// Picture: what the terminal shows now, so the next paint sends only changes.
// Opaque; one per terminal.
struct Picture;
Picture* NewPicture();
void FreePicture(Picture* picture);
// ResetPicture: a new layout (start, resize); the next paint clears the
// terminal and draws everything.
void ResetPicture(Picture* picture, const PictureLayout& layout);
// PaintPicture: appends to out the bytes that bring the terminal from what it
// shows to screen (ScreenWidth x ScreenHeight, RGB 5-6-5); nothing when nothing changed.
// firstRow..lastRow: the screen rows that may differ from the last paint.
// The cursor is left at the picture's first cell, where a resize of the
// terminal cannot scroll anything away (by DECRC, to the place a whole
// paint saved, where sixels go as in xterm).
void PaintPicture(Picture* picture, const std::uint16_t* screen, int firstRow, int lastRow,
                  std::string& out);
// SixelRegisters: colours the terminal's registers hold from earlier
// images (registers shared), and when each was last used. Once all are
// taken, the one longest unused is defined anew: the terminals that share
// them (xterm, foot, mlterm) keep the colours of images already drawn.
struct SixelRegisters {
  std::unordered_map<std::uint32_t, int> Defined;
  std::vector<std::uint64_t> LastUse = std::vector<std::uint64_t>(256, 0);
  std::uint64_t Clock = 0;
};
// AppendSixelImage: w x h pixels (rows stride bytes apart, 4 bytes a pixel:
// red, green, blue, unused) as one sixel image, every pixel set (and none
// below h in the last band of six rows). Its own colours exactly when there
// are at most registers, else the most frequent ones and the nearest of them
// for the rest. shared: for a terminal whose images share registers, the
// colours they hold are used as they are and only new ones defined (in free
// registers while there are some, then in those longest unused). sized: the image's size is
// declared (else left to its sixels, as xterm takes it).
void AppendSixelImage(const std::uint8_t* pixels, std::size_t stride, int w, int h, int registers,
                      std::string& out, SixelRegisters* shared = nullptr, bool sized = true);
// AppendKittyImage: the same pixels as kitty image number id (RGB, zlib),
// shown at its own size from pixel (offsetX, offsetY) of the cursor's cell,
// at height id above the others (later images lie above); the terminal
// answers nothing.
void AppendKittyImage(const std::uint8_t* pixels, std::size_t stride, int w, int h, int offsetX,
                      int offsetY, std::uint32_t id, std::string& out);
// RepaintPicture: appends the bytes that clear the terminal and draw the
// last screen painted again whole (after a resize, in the new layout).
void RepaintPicture(Picture* picture, std::string& out);

// ---- Inside the picture: the files that draw it ---------------------------------

// PixelBytes: bytes of a scaled pixel (red, green, blue, an opaque alpha),
// so that every row of it starts on a word.
constexpr int PixelBytes = 4;
// ColourDistance: the squared distance of two colours, channel by channel.
constexpr int ColourDistance(int r1, int g1, int b1, int r2, int g2, int b2) {
  return (r1 - r2) * (r1 - r2) + (g1 - g2) * (g1 - g2) + (b1 - b2) * (b1 - b2);
}
// AppendNumber: value in decimal, the one way every sequence writes numbers.
void AppendNumber(std::string& out, long value);
// AppendMoveTo: the cursor to row, column (0-based).
void AppendMoveTo(std::string& out, int row, int column);
// AppendUtf8: code point c in UTF-8.
void AppendUtf8(std::string& out, std::uint32_t c);

// Cell: one symbol and its colours, as packed 0xRRGGBB (symbols) or palette
// numbers (the console).
struct Cell {
  std::uint32_t Symbol;
  std::int32_t Foreground;
  std::int32_t Background;
  bool operator==(const Cell&) const = default;
};
// CellWriter: where the cursor and the colours are while cells are written,
// so that each cell sends only what differs from the one before.
struct CellWriter {
  int Row = -1, Column = -1;
  std::int32_t Foreground = -1, Background = -1;
};
// AppendCell: cell at the picture's row r, column c (a cursor move only
// where it does not follow the last one, colours only when they change);
// console: palette numbers in the console's 16-colour form.
void AppendCell(CellWriter& writer, const PictureLayout& layout, int r, int c, const Cell& cell,
                bool console, std::string& out);

// SymbolState: symbols mode: chafa's symbols, a canvas per strip of cell
// rows (Strips: each strip's first row, then the grid's row count), and the
// grid the terminal shows.
struct SymbolState {
  ChafaTermInfo* Info = nullptr;
  ChafaSymbolMap* Symbols = nullptr;
  std::vector<ChafaCanvas*> Canvases;
  std::vector<int> Strips;
  std::vector<Cell> Shown;
};
void OpenSymbols(SymbolState& state);   // OpenSymbols: chafa's symbols chosen
void CloseSymbols(SymbolState& state);  // CloseSymbols: chafa's objects freed
// ResetSymbols: canvases for the layout's strips; the grid shows nothing.
void ResetSymbols(SymbolState& state, const PictureLayout& layout);
// PaintSymbols: source (the screen, RGB 8-8-8) as symbols, the cells that
// differ from the grid shown (all of them when whole), of the strips that
// screen rows firstRow..lastRow reach.
void PaintSymbols(SymbolState& state, const PictureLayout& layout, const std::uint8_t* source,
                  bool whole, int firstRow, int lastRow, std::string& out);

// ConsoleState: the console's mode: the best shade for a mean colour and its
// error, once worked out, and the grid the console shows.
struct ConsoleState {
  std::unordered_map<std::uint32_t, std::pair<Cell, int>> Shades;
  std::vector<Cell> Shown;
};
// ResetConsole: the grid of the layout's size shows nothing.
void ResetConsole(ConsoleState& state, const PictureLayout& layout);
// ConsoleCell: the glyph and palette colours that show the picture's cell
// c, r of source best.
Cell ConsoleCell(ConsoleState& state, const PictureLayout& layout, const std::uint8_t* source,
                 int c, int r);
// PaintConsole: PaintSymbols for the console.
void PaintConsole(ConsoleState& state, const PictureLayout& layout, const std::uint8_t* source,
                  bool whole, std::string& out);

// AreaWeight: a source pixel's share of a scaled pixel.
struct AreaWeight {
  int Source;
  int Amount;
};
// PixelState: the pixel modes: Scaled is the picture at its size in the
// terminal, padded to whole cells and six rows more (black); Sent is what
// the terminal shows.
struct PixelState {
  int FrameWidth = 0, FrameHeight = 0;
  SixelRegisters Registers;  // when the terminal shares them
  std::vector<std::uint8_t> Scaled, Sent;
  std::vector<std::vector<AreaWeight>> AcrossWeights, DownWeights;
  std::vector<std::uint32_t> Row;  // one scaled-across source row, 3 sums a pixel
};
// KittyState: kitty mode: per cell the images seen there (the last on top),
// the cells each image still shows, the next image's number.
struct KittyState {
  std::vector<std::vector<std::uint32_t>> Stack;
  std::map<std::uint32_t, int> Cells;
  std::uint32_t Next = 1;
};
// ResetPixels: frames of the layout's size, black; no kitty images kept.
void ResetPixels(PixelState& pixels, KittyState& kitty, const PictureLayout& layout);
// PaintPixels: source's rows firstRow..lastRow scaled and sent as images of
// the layout's mode, the parts that changed (everything when whole).
void PaintPixels(PixelState& pixels, KittyState& kitty, const PictureLayout& layout,
                 const std::uint8_t* source, bool whole, int firstRow, int lastRow,
                 std::string& out);
// KittyImageLimit: kitty images kept in all before they are replaced by one.
constexpr std::size_t KittyImageLimit = 256;
// PlaceKittyImage: the scaled pixels x, y, w x h as a kitty image of their
// own, above every image before; images hidden everywhere are deleted.
void PlaceKittyImage(PixelState& pixels, KittyState& kitty, const PictureLayout& layout, int x,
                     int y, int w, int h, std::string& out);
// ReplaceKittyImages: every image deleted and the whole scaled picture sent
// as one.
void ReplaceKittyImages(PixelState& pixels, KittyState& kitty, const PictureLayout& layout,
                        std::string& out);
