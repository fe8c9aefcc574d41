// Sixels, written here rather than by chafa, since the board is a few flat
// colours: an image defines only the colours it uses (exactly, as long as
// the terminal has registers for them) and runs of one sixel shrink to a
// count.

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "platform/terminal/terminal_parts.h"

namespace {

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

// Palette: the image's colours to registers. When there are too few
// registers, the most frequent colours keep theirs exactly and the rest take
// the nearest of them.
struct Palette {
  std::vector<std::uint32_t> Colours;             // register -> colour
  std::unordered_map<std::uint32_t, int> Lookup;  // colour -> register
};

Palette MakePalette(const std::uint8_t* pixels, std::size_t stride, int w, int h, int registers) {
  std::unordered_map<std::uint32_t, int> counts;
  for (int y = 0; y < h; ++y) {
    const std::uint8_t* row = pixels + static_cast<std::size_t>(y) * stride;
    std::uint32_t last = SixelColour(row);
    int run = 0;
    for (int x = 0; x < w; ++x) {
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
    if (palette.Colours.size() < static_cast<std::size_t>(registers)) {
      palette.Lookup[colour] = static_cast<int>(palette.Colours.size());
      palette.Colours.push_back(colour);
      continue;
    }
    int best = 0;
    for (int k = 1; k < registers; ++k)
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

void AppendSixelImage(const std::uint8_t* pixels, std::size_t stride, int w, int h, int registers,
                      std::string& out) {
  const Palette palette = MakePalette(pixels, stride, w, h, std::clamp(registers, 1, MaxRegisters));
  // Every pixel is set, so how a terminal treats pixels left out (P2) cannot
  // matter: some keep what was there, others paint the image's whole area.
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
  // Per band of six rows, the registers in order of how many of its pixels
  // they hold, each from its first to its last column. Later sixels paint
  // over earlier ones, so a register may also set the pixels of those drawn
  // after it: the most frequent one fills the band in a single run, and the
  // others' runs are longer and fewer.
  std::vector<int> band(static_cast<std::size_t>(w) * 6);  // register of each pixel
  std::vector<int> count(palette.Colours.size(), 0), from(palette.Colours.size()),
      to(palette.Colours.size()), rank(palette.Colours.size(), 0);
  std::vector<int> used;  // registers in this band
  for (int top = 0; top < h; top += 6) {
    used.clear();
    const int rows = std::min(6, h - top);
    for (int r = 0; r < rows; ++r) {
      const std::uint8_t* row = pixels + static_cast<std::size_t>(top + r) * stride;
      std::uint32_t last = SixelColour(row) ^ 1;
      int reg = 0;
      for (int x = 0; x < w; ++x) {
        const std::uint32_t colour = SixelColour(row + x * PixelBytes);
        if (colour != last) {
          reg = palette.Lookup.at(colour);
          last = colour;
        }
        band[static_cast<std::size_t>(r * w + x)] = reg;
        const std::size_t k = static_cast<std::size_t>(reg);
        if (count[k]++ == 0) {
          used.push_back(reg);
          from[k] = to[k] = x;
        }
        from[k] = std::min(from[k], x);
        to[k] = std::max(to[k], x);
      }
    }
    std::stable_sort(used.begin(), used.end(), [&](int a, int b) {
      return count[static_cast<std::size_t>(a)] > count[static_cast<std::size_t>(b)];
    });
    for (std::size_t i = 0; i < used.size(); ++i)
      rank[static_cast<std::size_t>(used[i])] = static_cast<int>(i);
    for (std::size_t i = 0; i < used.size(); ++i) {
      const std::size_t k = static_cast<std::size_t>(used[i]);
      if (i > 0) out += '$';
      out += '#';
      AppendNumber(out, used[i]);
      AppendRun(out, '?', from[k]);
      char run = 0;
      int length = 0;
      for (int x = from[k]; x <= to[k]; ++x) {
        int bits = 0;
        for (int r = 0; r < rows; ++r)
          if (rank[static_cast<std::size_t>(band[static_cast<std::size_t>(r * w + x)])] >=
              static_cast<int>(i))
            bits |= 1 << r;
        const char sixel = static_cast<char>(63 + bits);
        if (sixel == run) {
          ++length;
          continue;
        }
        AppendRun(out, run, length);
        run = sixel;
        length = 1;
      }
      AppendRun(out, run, length);
      count[k] = 0;
    }
    if (top + 6 < h) out += '-';
  }
  out += "\x1b\\";
}
