// The program's unhandled-failure path and the checked fixed-size array.
//
// A failure the game does not handle itself ends the program with the line
// "Runtime error N at 0xXXXXXXXX" on standard output and N as exit status;
// the digits are the failing place's offset in the program image.
// Before the line is written, the registered shutdown hook runs (the display
// registers "close the graphics mode" there, so the report lands on a text
// screen).
#pragma once

#include <cstdint>

// Error numbers used by the program.
constexpr int RangeErrorCode = 201;      // an index outside its declared range
constexpr int ShortFileErrorCode = 100;  // a file shorter than its format

// RunError: writes the report naming the caller's return address and exits.
[[noreturn]] void RunError(int code);
// RunErrorAt: the same, naming a place the caller chose.
[[noreturn]] void RunErrorAt(int code, const void* place);
// SetRunErrorShutdown: the step run before the report (nullptr for none).
void SetRunErrorShutdown(void (*hook)());
// SetRunErrorExit: what ends the program once the report is written: nullptr
// (the game's setting) exits with the error number. A program that must go on
// after a run-time error (the fuzzing harnesses) sets a handler that leaves
// by throwing; if the handler returns, the program exits as before.
void SetRunErrorExit(void (*handler)(int code));
// RangeError: ends the program with 201; called by Array on a bad index.
[[noreturn]] void RangeError();
// ImageOffset: a code address as its offset in the program image that holds
// it, the place the report names (the same in every run of one build).
std::uint32_t ImageOffset(const void* place);

// Array<T, Lo, Hi>: Hi - Lo + 1 items indexed Lo..Hi. Every index is checked;
// one outside the range ends the program with error 201. Plain data, so a
// copy is a block copy and the layout is exactly the items.
template <typename T, int Lo, int Hi>
struct Array {
  static_assert(Lo <= Hi, "empty range");
  static constexpr int Low = Lo;
  static constexpr int High = Hi;
  static constexpr int Size = Hi - Lo + 1;

  T Items[Size];

  T& operator[](int index) {
    // One unsigned comparison covers both ends of the range.
    if (static_cast<unsigned>(index - Lo) >= static_cast<unsigned>(Size)) [[unlikely]]
      RangeError();
    return Items[index - Lo];
  }
  const T& operator[](int index) const {
    if (static_cast<unsigned>(index - Lo) >= static_cast<unsigned>(Size)) [[unlikely]]
      RangeError();
    return Items[index - Lo];
  }
};
