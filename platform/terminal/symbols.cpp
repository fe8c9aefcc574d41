// Symbols: chafa turns the screen into a grid of block symbols with a 24-bit
// foreground and background each; the grid is compared with the one the
// terminal shows, and only changed cells are sent.

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

void CloseSymbols(SymbolState& state) {
  if (state.Canvas != nullptr) chafa_canvas_unref(state.Canvas);
  state.Canvas = nullptr;
  if (state.Symbols != nullptr) chafa_symbol_map_unref(state.Symbols);
  state.Symbols = nullptr;
  if (state.Info != nullptr) chafa_term_info_unref(state.Info);
  state.Info = nullptr;
}

void ResetSymbols(SymbolState& state, const PictureLayout& layout) {
  if (state.Canvas != nullptr) chafa_canvas_unref(state.Canvas);
  ChafaCanvasConfig* config = chafa_canvas_config_new();
  chafa_canvas_config_set_pixel_mode(config, CHAFA_PIXEL_MODE_SYMBOLS);
  chafa_canvas_config_set_canvas_mode(config, CHAFA_CANVAS_MODE_TRUECOLOR);
  chafa_canvas_config_set_geometry(config, layout.Columns, layout.Rows);
  chafa_canvas_config_set_cell_geometry(config, layout.CellWidth, layout.CellHeight);
  chafa_canvas_config_set_dither_mode(config, CHAFA_DITHER_MODE_NONE);
  chafa_canvas_config_set_symbol_map(config, state.Symbols);
  // The board is flat colours: a light search for each cell's symbol is enough.
  chafa_canvas_config_set_work_factor(config, 0.1f);
  state.Canvas = chafa_canvas_new(config);
  chafa_canvas_config_unref(config);
  state.Shown.assign(static_cast<std::size_t>(layout.Columns) * layout.Rows, Cell{});
}

void PaintSymbols(SymbolState& state, const PictureLayout& layout, const std::uint8_t* source,
                  bool whole, std::string& out) {
  chafa_canvas_draw_all_pixels(state.Canvas, CHAFA_PIXEL_RGB8, source, ScreenWidth, ScreenHeight,
                               ScreenWidth * 3);
  CellWriter writer;
  for (int r = 0; r < layout.Rows; ++r)
    for (int c = 0; c < layout.Columns; ++c) {
      Cell cell{};
      cell.Symbol = chafa_canvas_get_char_at(state.Canvas, c, r);
      chafa_canvas_get_colors_at(state.Canvas, c, r, &cell.Foreground, &cell.Background);
      Cell& shown = state.Shown[static_cast<std::size_t>(r * layout.Columns + c)];
      if (!whole && cell == shown) continue;
      shown = cell;
      AppendCell(writer, layout, r, c, cell, false, out);
    }
}
