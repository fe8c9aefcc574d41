// Kitty graphics: an image is RGB compressed with zlib, which takes flat
// colours down to a few bytes a row, placed at its own size above those
// before it. Per cell the images seen there are kept; one that covers a
// cell whole hides those below, an image seen nowhere is deleted, and no
// cell shows more than a few, so the terminal's memory stays small. An
// image over all the cells of one before it covers those cells whole.

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "platform/terminal/terminal_parts.h"

namespace {

// KittyStackLimit: images a cell may show at once; a new image that would
// be one too many somewhere covers that cell whole instead.
constexpr std::size_t KittyStackLimit = 6;

constexpr char Base64Digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

void AppendBase64(const std::uint8_t* bytes, std::size_t count, std::string& out) {
  std::size_t i = 0;
  for (; i + 3 <= count; i += 3) {
    const std::uint32_t v = static_cast<std::uint32_t>(bytes[i]) << 16 |
                            static_cast<std::uint32_t>(bytes[i + 1]) << 8 | bytes[i + 2];
    out += Base64Digits[v >> 18];
    out += Base64Digits[v >> 12 & 63];
    out += Base64Digits[v >> 6 & 63];
    out += Base64Digits[v & 63];
  }
  if (i < count) {
    std::uint32_t v = static_cast<std::uint32_t>(bytes[i]) << 16;
    if (i + 1 < count) v |= static_cast<std::uint32_t>(bytes[i + 1]) << 8;
    out += Base64Digits[v >> 18];
    out += Base64Digits[v >> 12 & 63];
    out += i + 1 < count ? Base64Digits[v >> 6 & 63] : '=';
    out += '=';
  }
}

// AppendKey: "key=value," as the image's keys are written.
void AppendKey(std::string& out, const char* key, long value) {
  out += key;
  out += '=';
  AppendNumber(out, value);
  out += ',';
}

void DeleteImage(std::uint32_t id, std::string& out) {
  out += "\x1b_Ga=d,d=I,q=2,i=";
  AppendNumber(out, id);
  out += "\x1b\\";
}

}  // namespace

void AppendKittyImage(const std::uint8_t* pixels, std::size_t stride, int w, int h, int offsetX,
                      int offsetY, std::uint32_t id, std::string& out) {
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(w) * h * 3);
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* from = pixels + static_cast<std::size_t>(y) * stride;
    std::uint8_t* to = &rgb[static_cast<std::size_t>(y) * w * 3];
    for (int x = 0; x < w; ++x) std::memcpy(to + x * 3, from + x * PixelBytes, 3);
  }
  uLongf size = compressBound(static_cast<uLong>(rgb.size()));
  std::vector<std::uint8_t> packed(size);
  // Small images (the usual change) packed as tight as zlib can; large ones
  // (a whole picture) at the fastest level, which packs flat colours almost
  // as well in a fraction of the time.
  const int level = rgb.size() <= 65536 ? 9 : 1;
  if (compress2(packed.data(), &size, rgb.data(), static_cast<uLong>(rgb.size()), level) != Z_OK)
    size = 0;
  std::string payload;
  AppendBase64(packed.data(), size, payload);
  // The terminal takes the payload in pieces of at most 4096 bytes, each
  // but the last marked m=1.
  constexpr std::size_t Piece = 4096;
  for (std::size_t at = 0; at < payload.size() || at == 0; at += Piece) {
    const bool more = at + Piece < payload.size();
    out += "\x1b_G";
    if (at == 0) {
      out += "a=T,";
      AppendKey(out, "i", id);
      out += "q=2,f=24,o=z,";
      AppendKey(out, "s", w);
      AppendKey(out, "v", h);
      AppendKey(out, "X", offsetX);
      AppendKey(out, "Y", offsetY);
      AppendKey(out, "z", id);
    }
    out += more ? "m=1;" : "m=0;";
    out.append(payload, at, std::min(Piece, payload.size() - at));
    out += "\x1b\\";
  }
}

// The image goes to the cell holding (x, y) with that pixel's offset in it;
// z, its number, puts it above every image before it. q=2: the terminal
// answers nothing.
void PlaceKittyImage(PixelState& p, KittyState& kitty, const PictureLayout& l, int x, int y, int w,
                     int h, std::string& out) {
  const auto covers = [&](int c, int r) {
    return x <= c * l.CellWidth && (c + 1) * l.CellWidth <= x + w && y <= r * l.CellHeight &&
           (r + 1) * l.CellHeight <= y + h;
  };
  const int c0 = x / l.CellWidth, c1 = (x + w - 1) / l.CellWidth;
  const int r0 = y / l.CellHeight, r1 = (y + h - 1) / l.CellHeight;
  // Too many images in a cell it only partly covers, or an image whose
  // cells all lie among its own (which Konsole drops, whatever pixels of
  // them stay uncovered): it covers its cells whole, so shows what they did.
  bool crowded = false;
  std::map<std::uint32_t, int> within;
  for (int r = r0; r <= r1; ++r)
    for (int c = c0; c <= c1; ++c) {
      const std::vector<std::uint32_t>& stack =
          kitty.Stack[static_cast<std::size_t>(r * l.Columns + c)];
      crowded = crowded || (!covers(c, r) && stack.size() >= KittyStackLimit);
      for (std::uint32_t below : stack) ++within[below];
    }
  for (const auto& [below, cells] : within) crowded = crowded || kitty.Cells[below] == cells;
  if (crowded) {
    x = c0 * l.CellWidth;
    y = r0 * l.CellHeight;
    w = (c1 + 1) * l.CellWidth - x;
    h = (r1 + 1) * l.CellHeight - y;
  }
  const std::uint32_t number = kitty.Next++;
  AppendMoveTo(out, l.Top + r0, l.Left + c0);
  const std::size_t stride = static_cast<std::size_t>(p.FrameWidth) * PixelBytes;
  AppendKittyImage(
      &p.Scaled[static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x) * PixelBytes],
      stride, w, h, x - c0 * l.CellWidth, y - r0 * l.CellHeight, number, out);
  int seen = 0;
  for (int r = r0; r <= r1; ++r)
    for (int c = c0; c <= c1; ++c) {
      std::vector<std::uint32_t>& stack = kitty.Stack[static_cast<std::size_t>(r * l.Columns + c)];
      if (covers(c, r)) {
        for (std::uint32_t below : stack)
          if (--kitty.Cells[below] == 0) {
            kitty.Cells.erase(below);
            DeleteImage(below, out);
          }
        stack.clear();
      }
      stack.push_back(number);
      ++seen;
    }
  kitty.Cells[number] = seen;
  for (int row = y; row < y + h; ++row)
    std::memcpy(&p.Sent[row * stride + x * PixelBytes], &p.Scaled[row * stride + x * PixelBytes],
                static_cast<std::size_t>(w) * PixelBytes);
}

void ReplaceKittyImages(PixelState& p, KittyState& kitty, const PictureLayout& l,
                        std::string& out) {
  // Every image this picture placed goes, the terminal's memory with them.
  out += "\x1b_Ga=d,d=A,q=2\x1b\\";
  kitty.Cells.clear();
  for (std::vector<std::uint32_t>& stack : kitty.Stack) stack.clear();
  PlaceKittyImage(p, kitty, l, 0, 0, l.Columns * l.CellWidth, l.Rows * l.CellHeight, out);
}
