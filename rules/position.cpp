#include <cerrno>
#include <cstdio>
#include <cstring>

#include "rules/rules.h"

namespace {

constexpr int LineCount = 12;   // six kinds for each of the two sides
constexpr int LineLimit = 255;  // characters of a line that are read
constexpr int PiecesPerSide = 16;

// One line of the file as it is read: at most LineLimit characters.
struct LineText {
  char Text[LineLimit + 1];
  int Length;
};

// Ends the program for an unreadable file: a line on standard error, then
// the run-time error with the system's error number.
[[noreturn]] void FailToRead(const char* fileName, int error) {
  ReportCannotRead(fileName, error);
  RunError(error != 0 ? error : EIO);
}

// Writes text so that control characters and bytes above 126 stay visible.
void WriteVisible(const char* text, int length) {
  for (int i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\t')
      std::fputs("\\t", stderr);
    else if (c == '"' || c == '\\')
      std::fprintf(stderr, "\\%c", c);
    else if (c < 32 || c > 126)
      std::fprintf(stderr, "\\x%02x", c);
    else
      std::fputc(c, stderr);
  }
}

// Ends the program for a malformed file: one line naming the file, the line
// and the offending text on standard error, then the range error.
[[noreturn]] void RefuseLine(const char* fileName, int lineNumber, const char* problem,
                             const char* text, int length, const char* note = "") {
  std::fprintf(stderr, "%s:%d: %s \"", fileName, lineNumber, problem);
  WriteVisible(text, length);
  std::fprintf(stderr, "\"%s\n", note);
  std::fflush(stderr);
  RunError(RangeErrorCode);
}

// Reads one line up to its line feed (or the end of the file). A carriage
// return ends the line's text; characters past LineLimit are skipped.
void ReadLine(std::FILE* file, const char* fileName, LineText& line) {
  line.Length = 0;
  bool textEnded = false;
  for (;;) {
    const int c = std::getc(file);
    if (c == EOF) break;
    if (c == '\n') break;
    if (c == '\r') textEnded = true;
    if (!textEnded && line.Length < LineLimit) line.Text[line.Length++] = static_cast<char>(c);
  }
  if (std::ferror(file)) {
    const int error = errno;
    std::fclose(file);
    FailToRead(fileName, error);
  }
  line.Text[line.Length] = '\0';
}

}  // namespace

void LoadPosition(const char* fileName) {
  PieceCount1 = 0;
  PieceCount2 = 0;
  for (int file = 1; file <= 8; ++file)
    for (int rank = 1; rank <= 8; ++rank) Board[file][rank] = 0;
  // The line that named each occupied square, to point back at it when the
  // square comes again.
  Array<Array<std::uint8_t, 1, 8>, 1, 8> namedOnLine{};

  errno = 0;
  std::FILE* file = std::fopen(fileName, "r");
  if (file == nullptr) {
    const int error = errno;
    ReportCannotOpen(fileName, error);
    RunError(error != 0 ? error : EIO);
  }

  LineText line;
  for (int lineNumber = 1; lineNumber <= LineCount; ++lineNumber) {
    ReadLine(file, fileName, line);
    const int side = lineNumber <= 6 ? 1 : 2;
    const int kind = side == 1 ? lineNumber : lineNumber - 6;
    PieceList& list = side == 1 ? PieceList1 : PieceList2;
    std::uint8_t& count = side == 1 ? PieceCount1 : PieceCount2;

    int length = 0;
    for (int i = 0; i < line.Length; ++i)
      if (line.Text[i] != ' ') line.Text[length++] = line.Text[i];

    for (int at = 0; at < length; at += 2) {
      const char* square = line.Text + at;
      if (length - at == 1) {
        std::fclose(file);
        RefuseLine(fileName, lineNumber, "incomplete square", square, 1);
      }
      if (square[0] < 'a' || square[0] > 'h' || square[1] < '1' || square[1] > '8') {
        std::fclose(file);
        RefuseLine(fileName, lineNumber, "bad square", square, 2);
      }
      if (count == PiecesPerSide) {
        std::fclose(file);
        RefuseLine(
            fileName, lineNumber,
            side == 1 ? "more than 16 pieces for White at" : "more than 16 pieces for Black at",
            square, 2);
      }
      const int fileIndex = square[0] - 96;
      const int rankIndex = square[1] - 48;
      if (Board[fileIndex][rankIndex] != 0) {
        char note[32];
        std::snprintf(note, sizeof note, " (first named on line %d)",
                      namedOnLine[fileIndex][rankIndex]);
        std::fclose(file);
        RefuseLine(fileName, lineNumber, "square named twice", square, 2, note);
      }
      ++count;
      list[count] =
          PieceEntry{static_cast<std::int16_t>(kind), static_cast<std::uint8_t>(fileIndex),
                     static_cast<std::uint8_t>(rankIndex)};
      Board[fileIndex][rankIndex] = static_cast<PieceCode>(side == 1 ? kind : kind + 64);
      namedOnLine[fileIndex][rankIndex] = static_cast<std::uint8_t>(lineNumber);
    }
  }
  std::fclose(file);
}
