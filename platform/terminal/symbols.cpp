// Symbols: chafa turns the screen into a grid of block symbols with a 24-bit
// foreground and background each; the grid is compared with the one the
// terminal shows, and only changed cells are sent. The grid is drawn in
// strips of rows, and only the strips a change reaches are drawn again: a
// large grid takes chafa most of a second, too long for a pointer's step.

#include <chafa.h>

#include "platform/core/services.h"
#include "platform/terminal/terminal_parts.h"

void OpenSymbols(SymbolState& state) {
  state.Info = chafa_term_db_get_fallback_info(chafa_term_db_get_default());
  state.Symbols = chafa_symbol_map_new();
  // Blocks, halves and quadrants are in every terminal font; no wide or
  // ambiguous-width symbols, which would shift the cells after them.
  chafa_symbol_map_add_by_tags(
      state.Symbols, static_cast<ChafaSymbolTags>(CHAFA_SYMBOL_TAG_BLOCK | CHAFA_SYMBOL_TAG_SPACE |
                                                  CHAFA_SYMBOL_TAG_SOLID));
  chafa_symbol_map_remove_by_tags(
      state.Symbols,
      static_cast<ChafaSymbolTags>(CHAFA_SYMBOL_TAG_WIDE | CHAFA_SYMBOL_TAG_AMBIGUOUS |
                                   CHAFA_SYMBOL_TAG_UGLY));
}

namespace {

// StripRows: cell rows a strip has at least, so that a small change (a
// pointer's step) redraws a few strips, not the whole grid.
constexpr int StripRows = 8;

void FreeCanvases(SymbolState& state) {
  for (ChafaCanvas* canvas : state.Canvases) chafa_canvas_unref(canvas);
  state.Canvases.clear();
}

}  // namespace

void CloseSymbols(SymbolState& state) {
  FreeCanvases(state);
  if (state.Symbols != nullptr) chafa_symbol_map_unref(state.Symbols);
  state.Symbols = nullptr;
  if (state.Info != nullptr) chafa_term_info_unref(state.Info);
  state.Info = nullptr;
}

void ResetSymbols(SymbolState& state, const PictureLayout& layout) {
  FreeCanvases(state);
  // Strips start on cell rows that begin on a whole screen row, so each is
  // drawn from its own screen rows alone, whatever else changed.
  state.Strips.assign(1, 0);
  for (int r = 1; r < layout.Rows; ++r)
    if (r * ScreenHeight % layout.Rows == 0 && r - state.Strips.back() >= StripRows)
      state.Strips.push_back(r);
  if (layout.Rows - state.Strips.back() < StripRows && state.Strips.size() > 1)
    state.Strips.pop_back();
  state.Strips.push_back(layout.Rows);
  for (std::size_t k = 0; k + 1 < state.Strips.size(); ++k) {
    ChafaCanvasConfig* config = chafa_canvas_config_new();
    chafa_canvas_config_set_pixel_mode(config, CHAFA_PIXEL_MODE_SYMBOLS);
    chafa_canvas_config_set_canvas_mode(config, CHAFA_CANVAS_MODE_TRUECOLOR);
    chafa_canvas_config_set_geometry(config, layout.Columns, state.Strips[k + 1] - state.Strips[k]);
    chafa_canvas_config_set_cell_geometry(config, layout.CellWidth, layout.CellHeight);
    chafa_canvas_config_set_dither_mode(config, CHAFA_DITHER_MODE_NONE);
    chafa_canvas_config_set_symbol_map(config, state.Symbols);
    // The board is flat colours: a light search for each cell's symbol is enough.
    chafa_canvas_config_set_work_factor(config, 0.1f);
    state.Canvases.push_back(chafa_canvas_new(config));
    chafa_canvas_config_unref(config);
  }
  state.Shown.assign(static_cast<std::size_t>(layout.Columns) * layout.Rows, Cell{});
}

void PaintSymbols(SymbolState& state, const PictureLayout& layout, const std::uint8_t* source,
                  bool whole, int firstRow, int lastRow, std::string& out) {
  CellWriter writer;
  for (std::size_t k = 0; k + 1 < state.Strips.size(); ++k) {
    const int top = state.Strips[k], rows = state.Strips[k + 1] - top;
    const int from = top * ScreenHeight / layout.Rows;
    const int to = state.Strips[k + 1] * ScreenHeight / layout.Rows;  // one past its last
    if (!whole && (lastRow < from || firstRow >= to)) continue;
    ChafaCanvas* canvas = state.Canvases[k];
    chafa_canvas_draw_all_pixels(canvas, CHAFA_PIXEL_RGB8, source + from * ScreenWidth * 3,
                                 ScreenWidth, to - from, ScreenWidth * 3);
    for (int r = 0; r < rows; ++r)
      for (int c = 0; c < layout.Columns; ++c) {
        Cell cell{};
        cell.Symbol = chafa_canvas_get_char_at(canvas, c, r);
        chafa_canvas_get_colors_at(canvas, c, r, &cell.Foreground, &cell.Background);
        Cell& shown = state.Shown[static_cast<std::size_t>((top + r) * layout.Columns + c)];
        if (!whole && cell == shown) continue;
        shown = cell;
        AppendCell(writer, layout, top + r, c, cell, false, out);
      }
  }
}
