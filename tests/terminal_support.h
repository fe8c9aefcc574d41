// Shared helpers of the suites that read what the game sends a terminal: its
// bytes taken apart into control sequences and characters, and the cells a
// terminal shows after them, each with its symbol and the colours it was
// written in.
#pragma once

#include <cstddef>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace support {

// Utf8Length: the bytes of the UTF-8 character that starts with lead.
inline std::size_t Utf8Length(char lead) {
  const auto byte = static_cast<unsigned char>(lead);
  return byte >= 0xf0 ? 4 : byte >= 0xe0 ? 3 : byte >= 0xc0 ? 2 : 1;
}

// SequenceEnd: the position of the final byte of the control sequence
// whose parameters start at from; bytes.size() when it is cut off.
inline std::size_t SequenceEnd(const std::string& bytes, std::size_t from) {
  while (from < bytes.size() && !(bytes[from] >= 0x40 && bytes[from] <= 0x7e)) ++from;
  return from;
}

// Pen: the colours SGR sequences leave, each "r;g;b" from 24-bit colours,
// "" for the terminal's default.
struct Pen {
  std::string Foreground, Background;
  // Apply: an SGR sequence's parameters (between "\x1b[" and "m").
  void Apply(const std::string& params) {
    std::vector<std::string> parts;
    std::istringstream numbers(params);
    for (std::string part; std::getline(numbers, part, ';');) parts.push_back(part);
    if (parts.empty()) parts.emplace_back();
    for (std::size_t k = 0; k < parts.size(); ++k) {
      if ((parts[k] == "38" || parts[k] == "48") && k + 4 < parts.size() && parts[k + 1] == "2") {
        (parts[k] == "38" ? Foreground : Background) =
            parts[k + 2] + ";" + parts[k + 3] + ";" + parts[k + 4];
        k += 4;
      } else if (parts[k] == "0" || parts[k].empty()) {
        Foreground.clear();
        Background.clear();
      } else if (parts[k] == "39") {
        Foreground.clear();
      } else if (parts[k] == "49") {
        Background.clear();
      }
    }
  }
};

// Cell: a cell's symbol and its colours as Pen keeps them.
struct Cell {
  std::string Symbol, Foreground, Background;
  bool operator==(const Cell&) const = default;
  // Shown: the colours the cell shows: a space only its background, a full
  // block only its foreground.
  std::vector<std::string> Shown() const {
    if (Symbol == " ") return {Background};
    if (Symbol == "\u2588") return {Foreground};
    return {Foreground, Background};
  }
};

// CellGrid: what a terminal shows after the bytes: cursor moves (H),
// clearing (J), SGR colours and characters; other control sequences are
// passed over, and escapes that start none are counted in Foreign.
struct CellGrid {
  std::map<std::pair<int, int>, Cell> Cells;  // by row and column, from 0
  int Row = 0, Column = 0;
  Pen Colours;
  int Foreign = 0;

  void Apply(const std::string& bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
      if (bytes[i] == '\x1b' && i + 1 < bytes.size() && bytes[i + 1] == '[') {
        const std::size_t end = SequenceEnd(bytes, i + 2);
        if (end == bytes.size()) return;
        const std::string params = bytes.substr(i + 2, end - i - 2);
        if (bytes[end] == 'H') {
          Row = params.empty() ? 0 : std::stoi(params) - 1;
          const std::size_t semicolon = params.find(';');
          Column = semicolon == std::string::npos ? 0 : std::stoi(params.substr(semicolon + 1)) - 1;
        } else if (bytes[end] == 'J') {
          Cells.clear();
        } else if (bytes[end] == 'm') {
          Colours.Apply(params);
        }
        i = end + 1;
      } else if (bytes[i] == '\x1b') {
        ++Foreign;
        ++i;
      } else if (bytes[i] == '\n') {
        ++Row;
        Column = 0;
        ++i;
      } else if (bytes[i] == '\r') {
        Column = 0;
        ++i;
      } else {
        const std::size_t length = Utf8Length(bytes[i]);
        Cells[{Row, Column}] = {bytes.substr(i, length), Colours.Foreground, Colours.Background};
        ++Column;
        i += length;
      }
    }
  }

  // Find: the cell at a row and column, nullptr where nothing was written.
  const Cell* Find(int row, int column) const {
    const auto cell = Cells.find({row, column});
    return cell == Cells.end() ? nullptr : &cell->second;
  }

  // Shown: per cell its symbol and the colours it shows.
  std::map<std::pair<int, int>, std::string> Shown() const {
    std::map<std::pair<int, int>, std::string> shown;
    for (const auto& [at, cell] : Cells) {
      std::string text = cell.Symbol;
      for (const std::string& colour : cell.Shown()) text += "|" + colour;
      shown[at] = text;
    }
    return shown;
  }
};

}  // namespace support
