// Sixels, written here rather than by chafa, since the board is a few flat
// colours: an image defines only the colours it uses (exactly, as long as
// there are at most 256) and runs of one sixel shrink to a count.

#include <algorithm>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "platform/terminal/terminal_parts.h"

namespace {

constexpr int Registers = 256;

// Percent: a channel as a sixel colour gives it, 0 to 100.
struct PercentTable {
  std::uint8_t Of[256];
  constexpr PercentTable() : Of() {
    for (int v = 0; v < 256; ++v) Of[v] = static_cast<std::uint8_t>((v * 100 + 127) / 255);
  }
};
constexpr PercentTable Percent;

// SixelColour: a pixel's colour as the terminal can show it (percent per
// channel, packed): pixels that differ by less are one colour here.
std::uint32_t SixelColour(const std::uint8_t* pixel) {
  return static_cast<std::uint32_t>(Percent.Of[pixel[0]]) << 16 |
         static_cast<std::uint32_t>(Percent.Of[pixel[1]]) << 8 | Percent.Of[pixel[2]];
}

int Distance(std::uint32_t a, std::uint32_t b) {
  return ColourDistance(static_cast<int>(a >> 16 & 255), static_cast<int>(a >> 8 & 255),
                        static_cast<int>(a & 255), static_cast<int>(b >> 16 & 255),
                        static_cast<int>(b >> 8 & 255), static_cast<int>(b & 255));
}

// Palette: the image's colours to registers. At most 256 registers: the most
// frequent colours keep theirs exactly, the rest take the nearest of them.
struct Palette {
  std::vector<std::uint32_t> Colours;             // register -> colour
  std::unordered_map<std::uint32_t, int> Lookup;  // colour -> register
};

// Kept: the pixel is sent (it differs from what the terminal shows, or
// nothing is known of that).
bool Kept(const std::uint8_t* pixel, const std::uint8_t* shown) {
  return shown == nullptr || std::memcmp(pixel, shown, 3) != 0;
}

Palette MakePalette(const std::uint8_t* pixels, const std::uint8_t* shown, std::size_t stride,
                    int w, int h) {
  std::unordered_map<std::uint32_t, int> counts;
  for (int y = 0; y < h; ++y) {
    const std::size_t offset = static_cast<std::size_t>(y) * stride;
    const std::uint8_t* row = pixels + offset;
    const std::uint8_t* shownRow = shown != nullptr ? shown + offset : nullptr;
    std::uint32_t last = SixelColour(row);
    int run = 0;
    for (int x = 0; x < w; ++x) {
      if (!Kept(row + x * PixelBytes, shownRow != nullptr ? shownRow + x * PixelBytes : nullptr))
        continue;
      const std::uint32_t colour = SixelColour(row + x * PixelBytes);
      if (colour == last) {
        ++run;
        continue;
      }
      if (run > 0) counts[last] += run;
      last = colour;
      run = 1;
    }
    if (run > 0) counts[last] += run;
  }
  std::vector<std::pair<std::uint32_t, int>> byCount(counts.begin(), counts.end());
  // Most frequent first; equal counts by colour, so the result never varies.
  std::sort(byCount.begin(), byCount.end(), [](const auto& a, const auto& b) {
    return a.second != b.second ? a.second > b.second : a.first < b.first;
  });
  Palette palette;
  for (const auto& [colour, count] : byCount) {
    if (palette.Colours.size() < Registers) {
      palette.Lookup[colour] = static_cast<int>(palette.Colours.size());
      palette.Colours.push_back(colour);
      continue;
    }
    int best = 0;
    for (int k = 1; k < Registers; ++k)
      if (Distance(colour, palette.Colours[static_cast<std::size_t>(k)]) <
          Distance(colour, palette.Colours[static_cast<std::size_t>(best)]))
        best = k;
    palette.Lookup[colour] = best;
  }
  return palette;
}

// AppendRun: count sixels of one value.
void AppendRun(std::string& out, char sixel, int count) {
  if (count >= 4) {
    out += '!';
    AppendNumber(out, count);
    out += sixel;
  } else {
    out.append(static_cast<std::size_t>(count), sixel);
  }
}

}  // namespace

void AppendSixelImage(const std::uint8_t* pixels, const std::uint8_t* shown, std::size_t stride,
                      int w, int h, std::string& out) {
  const Palette palette = MakePalette(pixels, shown, stride, w, h);
  // P2 = 1: pixels left out keep what the terminal shows there.
  out += "\x1bP0;1;0q\"1;1;";
  AppendNumber(out, w);
  out += ';';
  AppendNumber(out, h);
  for (std::size_t k = 0; k < palette.Colours.size(); ++k) {
    const std::uint32_t c = palette.Colours[k];
    out += '#';
    AppendNumber(out, static_cast<long>(k));
    out += ";2";
    for (int shift : {16, 8, 0}) {
      out += ';';
      AppendNumber(out, c >> shift & 255);
    }
  }
  // Per band of six rows: each register's sixels from its first to its last column.
  std::vector<int> slot(palette.Colours.size(), -1);
  std::vector<int> used;  // registers in this band, in order of first use
  std::vector<int> from, to;
  std::vector<std::uint8_t> bits;
  std::vector<int> index(static_cast<std::size_t>(w));
  for (int band = 0; band < h; band += 6) {
    for (int r = 0; r < 6 && band + r < h; ++r) {
      const std::size_t offset = static_cast<std::size_t>(band + r) * stride;
      const std::uint8_t* row = pixels + offset;
      const std::uint8_t* shownRow = shown != nullptr ? shown + offset : nullptr;
      std::uint32_t last = SixelColour(row) ^ 1;
      int reg = 0;
      for (int x = 0; x < w; ++x) {
        if (!Kept(row + x * PixelBytes, shownRow != nullptr ? shownRow + x * PixelBytes : nullptr))
          continue;
        const std::uint32_t colour = SixelColour(row + x * PixelBytes);
        if (colour != last) {
          reg = palette.Lookup.at(colour);
          last = colour;
        }
        int& s = slot[static_cast<std::size_t>(reg)];
        if (s < 0) {
          s = static_cast<int>(used.size());
          used.push_back(reg);
          from.push_back(x);
          to.push_back(x);
          bits.resize(used.size() * static_cast<std::size_t>(w), 0);
        }
        const std::size_t at = static_cast<std::size_t>(s);
        from[at] = std::min(from[at], x);
        to[at] = std::max(to[at], x);
        bits[at * static_cast<std::size_t>(w) + static_cast<std::size_t>(x)] |=
            static_cast<std::uint8_t>(1 << r);
      }
    }
    for (std::size_t s = 0; s < used.size(); ++s) {
      if (s > 0) out += '$';
      out += '#';
      AppendNumber(out, used[s]);
      AppendRun(out, '?', from[s]);
      const std::uint8_t* line = &bits[s * static_cast<std::size_t>(w)];
      char run = static_cast<char>(63 + line[from[s]]);
      int count = 0;
      for (int x = from[s]; x <= to[s]; ++x) {
        const char sixel = static_cast<char>(63 + line[x]);
        if (sixel == run) {
          ++count;
          continue;
        }
        AppendRun(out, run, count);
        run = sixel;
        count = 1;
      }
      AppendRun(out, run, count);
      slot[static_cast<std::size_t>(used[s])] = -1;
    }
    if (band + 6 < h) out += '-';
    used.clear();
    from.clear();
    to.clear();
    std::fill(bits.begin(), bits.end(), 0);
  }
  out += "\x1b\\";
}
