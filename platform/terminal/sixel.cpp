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
// the nearest of them. Colours: register -> colour, of every register in
// use (shared ones included); Define: the registers this image defines.
struct Palette {
  std::vector<std::uint32_t> Colours;
  std::vector<bool> InUse;
  std::vector<int> Define;
  std::unordered_map<std::uint32_t, int> Lookup;  // colour -> register
};

Palette MakePalette(const std::uint8_t* pixels, std::size_t stride, int w, int h, int registers,
                    SixelRegisters* shared) {
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
  palette.Colours.assign(static_cast<std::size_t>(registers), 0);
  palette.InUse.assign(static_cast<std::size_t>(registers), false);
  std::unordered_map<std::uint32_t, int> own;
  std::unordered_map<std::uint32_t, int>& defined = shared != nullptr ? shared->Defined : own;
  for (const auto& [colour, reg] : defined) {
    palette.Colours[static_cast<std::size_t>(reg)] = colour;
    palette.InUse[static_cast<std::size_t>(reg)] = true;
  }
  std::vector<std::uint32_t> unplaced;
  for (const auto& [colour, count] : byCount) {
    if (const auto at = defined.find(colour); at != defined.end()) {
      palette.Lookup[colour] = at->second;
    } else if (defined.size() < static_cast<std::size_t>(registers)) {
      const int reg = static_cast<int>(defined.size());
      defined[colour] = palette.Lookup[colour] = reg;
      palette.Colours[static_cast<std::size_t>(reg)] = colour;
      palette.InUse[static_cast<std::size_t>(reg)] = true;
      palette.Define.push_back(reg);
    } else {
      unplaced.push_back(colour);
    }
  }
  if (shared != nullptr) {
    // The registers this image uses keep their colours; each colour left
    // gets the one longest unused, defined anew.
    std::vector<bool> mine(static_cast<std::size_t>(registers), false);
    for (const auto& [colour, reg] : palette.Lookup) mine[static_cast<std::size_t>(reg)] = true;
    std::vector<std::uint32_t> left;
    for (std::uint32_t colour : unplaced) {
      int victim = -1;
      for (int k = 0; k < registers; ++k)
        if (!mine[static_cast<std::size_t>(k)] &&
            (victim < 0 || shared->LastUse[static_cast<std::size_t>(k)] <
                               shared->LastUse[static_cast<std::size_t>(victim)]))
          victim = k;
      if (victim < 0) {
        left.push_back(colour);
        continue;
      }
      const std::size_t v = static_cast<std::size_t>(victim);
      defined.erase(palette.Colours[v]);
      defined[colour] = palette.Lookup[colour] = victim;
      palette.Colours[v] = colour;
      mine[v] = true;
      palette.Define.push_back(victim);
    }
    unplaced.swap(left);
  }
  for (std::uint32_t colour : unplaced) {
    int best = -1;
    for (int k = 0; k < registers; ++k)
      if (palette.InUse[static_cast<std::size_t>(k)] &&
          (best < 0 || Distance(colour, palette.Colours[static_cast<std::size_t>(k)]) <
                           Distance(colour, palette.Colours[static_cast<std::size_t>(best)])))
        best = k;
    palette.Lookup[colour] = best;
  }
  if (shared != nullptr) {
    ++shared->Clock;
    for (const auto& [colour, reg] : palette.Lookup)
      shared->LastUse[static_cast<std::size_t>(reg)] = shared->Clock;
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

// Band: one band of six rows: per register its pixels, first and last
// column, and a sixel's bits in each column (Masks, from its Slot); Used:
// the registers it holds, in the order they are drawn; Before: per column,
// the bits of the registers drawn so far.
struct Band {
  int Rows = 6;
  std::vector<int> Count, From, To, Slot, Used;
  std::vector<std::uint8_t> Masks, Before;
};

std::uint8_t MaskAt(const Band& band, int w, int reg, int x) {
  return band.Masks[static_cast<std::size_t>(band.Slot[static_cast<std::size_t>(reg)]) *
                        static_cast<std::size_t>(w) +
                    static_cast<std::size_t>(x)];
}

// AppendRegister: register reg's sixels, from column (the first register of
// a band, or one after a return, from 0): its own pixels, and any of those
// not yet drawn (the registers drawn after it paint over them), each run as
// long as one sixel allows. Returns the column after its last sixel.
int AppendRegister(const Band& band, int w, int reg, bool first, int column, std::string& out) {
  const std::size_t k = static_cast<std::size_t>(reg);
  // Onwards from where the last one ended when this one begins after it,
  // else from the band's start again.
  if (!first && band.From[k] < column) {
    out += '$';
    column = 0;
  }
  out += '#';
  AppendNumber(out, reg);
  AppendRun(out, '?', band.From[k] - column);
  const int all = (1 << band.Rows) - 1;
  for (int x = band.From[k]; x <= band.To[k];) {
    int need = MaskAt(band, w, reg, x), can = all & ~band.Before[static_cast<std::size_t>(x)];
    int end = x + 1;
    for (; end <= band.To[k]; ++end) {
      const int own = MaskAt(band, w, reg, end);
      const int free = all & ~band.Before[static_cast<std::size_t>(end)];
      if (((need | own) & ~(can & free)) != 0) break;
      need |= own;
      can &= free;
    }
    AppendRun(out, static_cast<char>(63 + need), end - x);
    x = end;
  }
  return band.To[k] + 1;
}

// Drawn: register reg's pixels are drawn.
void Drawn(Band& band, int w, int reg) {
  const std::size_t k = static_cast<std::size_t>(reg);
  for (int x = band.From[k]; x <= band.To[k]; ++x)
    band.Before[static_cast<std::size_t>(x)] |= MaskAt(band, w, reg, x);
}

// AppendBand: the band's registers in the order of Used.
void AppendBand(Band& band, int w, std::string& out) {
  std::fill(band.Before.begin(), band.Before.end(), 0);
  int column = 0;
  for (std::size_t i = 0; i < band.Used.size(); ++i) {
    column = AppendRegister(band, w, band.Used[i], i == 0, column, out);
    Drawn(band, w, band.Used[i]);
  }
}

// CheapestFirstOrder: band.Used in the order built one register at a time,
// each the one whose sixels cost least there. Its time grows with the
// square of the registers, so bands of more are left to the others.
constexpr std::size_t CheapestFirstLimit = 48;
void CheapestFirstOrder(Band& band, int w, std::string& scratch) {
  std::fill(band.Before.begin(), band.Before.end(), 0);
  int column = 0;
  for (std::size_t placed = 0; placed < band.Used.size(); ++placed) {
    std::size_t best = placed, bestCost = 0;
    int bestColumn = 0;
    for (std::size_t j = placed; j < band.Used.size(); ++j) {
      scratch.clear();
      const int end = AppendRegister(band, w, band.Used[j], placed == 0, column, scratch);
      if (j == placed || scratch.size() < bestCost) {
        best = j;
        bestCost = scratch.size();
        bestColumn = end;
      }
    }
    std::swap(band.Used[placed], band.Used[best]);
    Drawn(band, w, band.Used[placed]);
    column = bestColumn;
  }
}

// ChainEdgeShades: band.Used, most pixels first, keeps the registers that
// fill a column of sixels or more in front; the others, an edge's shades of
// a few pixels each, follow one another along the band, each starting after
// the last one's end wherever one can (no return before it). False when
// fewer than two are such shades.
bool ChainEdgeShades(Band& band) {
  const auto at = [](const std::vector<int>& v, int k) { return v[static_cast<std::size_t>(k)]; };
  const auto few = std::find_if(band.Used.begin(), band.Used.end(),
                                [&](int reg) { return at(band.Count, reg) < 6; });
  if (band.Used.end() - few < 2) return false;
  std::vector<int> rest(few, band.Used.end());
  std::sort(rest.begin(), rest.end(),
            [&](int a, int b) { return at(band.From, a) < at(band.From, b); });
  std::vector<bool> taken(rest.size(), false);
  auto to = few;
  for (int column = 0; to != band.Used.end();) {
    std::size_t next = 0;
    while (next < rest.size() && (taken[next] || at(band.From, rest[next]) < column)) ++next;
    if (next == rest.size()) {
      column = 0;
      continue;
    }
    taken[next] = true;
    *to++ = rest[next];
    column = at(band.To, rest[next]) + 1;
  }
  return true;
}

}  // namespace

void AppendSixelImage(const std::uint8_t* pixels, std::size_t stride, int w, int h, int registers,
                      std::string& out, SixelRegisters* shared, bool sized) {
  const Palette palette =
      MakePalette(pixels, stride, w, h, std::clamp(registers, 1, MaxRegisters), shared);
  // Every pixel is set, so how a terminal treats pixels left out (P2) cannot
  // matter: some keep what was there, others paint the image's whole area.
  // xterm takes an image's size from its sixels and draws its pixels square
  // whatever P1 says (seen in 379); others are told both.
  if (!sized) {
    out += "\x1bP;1q";
  } else {
    out += "\x1bP0;1;0q\"1;1;";
    AppendNumber(out, w);
    out += ';';
    AppendNumber(out, h);
  }
  for (int k : palette.Define) {
    const std::uint32_t c = palette.Colours[static_cast<std::size_t>(k)];
    out += '#';
    AppendNumber(out, k);
    out += ";2";
    for (int shift : {16, 8, 0}) {
      out += ';';
      AppendNumber(out, c >> shift & 255);
    }
  }
  // Per band of six rows, the registers in the order that comes out
  // shortest, each from its first to its last column. Later sixels paint
  // over earlier ones, so a register may also set the pixels of those drawn
  // after it: the first one fills the band in a single run, and the others'
  // runs are longer and fewer.
  Band band;
  band.Count.assign(palette.Colours.size(), 0);
  band.From.resize(palette.Colours.size());
  band.To.resize(palette.Colours.size());
  band.Slot.assign(palette.Colours.size(), 0);
  band.Before.resize(static_cast<std::size_t>(w));
  std::string best, trial, scratch;
  for (int top = 0; top < h; top += 6) {
    band.Used.clear();
    band.Masks.clear();
    band.Rows = std::min(6, h - top);
    for (int r = 0; r < band.Rows; ++r) {
      const std::uint8_t* row = pixels + static_cast<std::size_t>(top + r) * stride;
      std::uint32_t last = SixelColour(row) ^ 1;
      int reg = 0;
      for (int x = 0; x < w; ++x) {
        const std::uint32_t colour = SixelColour(row + x * PixelBytes);
        if (colour != last) {
          reg = palette.Lookup.at(colour);
          last = colour;
        }
        const std::size_t k = static_cast<std::size_t>(reg);
        if (band.Count[k]++ == 0) {
          band.Slot[k] = static_cast<int>(band.Used.size());
          band.Used.push_back(reg);
          band.Masks.resize(band.Masks.size() + static_cast<std::size_t>(w), 0);
          band.From[k] = band.To[k] = x;
        }
        band.From[k] = std::min(band.From[k], x);
        band.To[k] = std::max(band.To[k], x);
        band.Masks[static_cast<std::size_t>(band.Slot[k]) * static_cast<std::size_t>(w) +
                   static_cast<std::size_t>(x)] |= static_cast<std::uint8_t>(1 << r);
      }
    }
    const auto at = [](const std::vector<int>& v, int k) { return v[static_cast<std::size_t>(k)]; };
    // Each order tried, the shortest kept: most pixels first, the same with
    // an edge's shades chained, and each register in turn the cheapest one.
    best.clear();
    const auto keepIfShorter = [&] {
      trial.clear();
      AppendBand(band, w, trial);
      if (best.empty() || trial.size() < best.size()) best.swap(trial);
    };
    const auto byCount = [&](int a, int b) { return at(band.Count, a) > at(band.Count, b); };
    std::stable_sort(band.Used.begin(), band.Used.end(), byCount);
    keepIfShorter();
    if (ChainEdgeShades(band)) keepIfShorter();
    if (band.Used.size() <= CheapestFirstLimit) {
      std::stable_sort(band.Used.begin(), band.Used.end(), byCount);
      CheapestFirstOrder(band, w, scratch);
      keepIfShorter();
    }
    out += best;
    for (int reg : band.Used) band.Count[static_cast<std::size_t>(reg)] = 0;
    if (top + 6 < h) out += '-';
  }
  out += "\x1b\\";
}
