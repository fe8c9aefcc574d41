// The terminal's bytes: keys, mouse reports and answers mixed in one stream,
// cut anywhere, taken apart here; and the pacing of pointer movements.

#include "platform/terminal/terminal_parts.h"

namespace {

constexpr char Esc = '\x1b';

// TakeControlSequence: a whole control sequence ESC [ params final. True when
// it is a report or an answer (taken here), false when it belongs to the keys.
bool TakeControlSequence(const std::string& held, std::vector<PointerReport>& pointer,
                         TerminalAnswers& answers) {
  const char final = held.back();
  const std::string params = held.substr(2, held.size() - 3);
  std::vector<int> numbers;
  if (!params.empty() && params[0] == '<' && (final == 'M' || final == 'm')) {
    if (ParseNumbers(params.substr(1), numbers) && numbers.size() == 3)
      pointer.push_back(PointerReport{numbers[0], numbers[1], numbers[2], final == 'm'});
    return true;
  }
  return TakeAnswer(params, final, answers);
}

// MayBeKey: held bytes that a key could still have begun: Esc alone, Esc [,
// or a key sequence's numbers (reports start ESC [ <, answers ESC [ ? or ESC _).
bool MayBeKey(const std::string& held) {
  if (held.size() <= 2) return held.size() < 2 || held[1] == '[' || held[1] == 'P';
  return held[1] == '[' && held[2] != '<' && held[2] != '?';
}

}  // namespace

void FilterInput(TerminalInput& input, const unsigned char* bytes, std::size_t count,
                 std::string& keys, std::vector<PointerReport>& pointer, TerminalAnswers& answers) {
  std::string& held = input.Held;
  for (std::size_t i = 0; i < count; ++i) {
    const char c = static_cast<char>(bytes[i]);
    if (held.empty()) {
      if (c == Esc)
        held += c;
      else
        keys += c;
      continue;
    }
    held += c;
    if (held.size() == 2) {
      if (c == Esc) {
        // Esc typed alone, then another sequence begins.
        keys += Esc;
        held.resize(1);
      } else if (c != '[' && c != '_' && c != 'P') {
        keys += held;
        held.clear();
      }
      continue;
    }
    if (held[1] == '[') {
      if (c >= 0x40 && c <= 0x7e) {
        if (!TakeControlSequence(held, pointer, answers)) keys += held;
        held.clear();
      } else if (c < 0x20 || c > 0x3f || held.size() >= 64) {
        // Not a sequence after all: the bytes are keys (an Esc among them
        // may begin the next sequence).
        if (c == Esc) {
          keys.append(held, 0, held.size() - 1);
          held.assign(1, Esc);
        } else {
          keys += held;
          held.clear();
        }
      }
      continue;
    }
    // An application program command or a device control string, ended by
    // ESC \ or BEL.
    const bool ended = c == '\a' || (c == '\\' && held[held.size() - 2] == Esc);
    if (ended) {
      TakeCommandAnswer(held, answers);
      held.clear();
    } else if (held.size() >= HeldLimit) {
      held.clear();
    }
  }
}

void FlushInput(TerminalInput& input, std::string& keys, bool longPause) {
  if (input.Held.empty()) return;
  if (MayBeKey(input.Held)) {
    keys += input.Held;
    input.Held.clear();
  } else if (longPause) {
    input.Held.clear();
  }
}

bool HoldingInput(const TerminalInput& input) { return !input.Held.empty(); }

bool OfferMotion(MotionPacer& pacer, int x, int y, std::uint64_t now) {
  if (!pacer.Passed || now - pacer.LastPassed >= MotionPeriod) {
    pacer.Held = false;
    pacer.Passed = true;
    pacer.LastPassed = now;
    return true;
  }
  pacer.Held = true;
  pacer.X = x;
  pacer.Y = y;
  return false;
}

bool DueMotion(MotionPacer& pacer, std::uint64_t now, int& x, int& y) {
  if (!pacer.Held || now - pacer.LastPassed < MotionPeriod) return false;
  pacer.Held = false;
  pacer.LastPassed = now;
  x = pacer.X;
  y = pacer.Y;
  return true;
}

int MotionWait(const MotionPacer& pacer, std::uint64_t now) {
  if (!pacer.Held) return -1;
  const std::uint64_t since = now - pacer.LastPassed;
  return since >= MotionPeriod ? 0 : static_cast<int>(MotionPeriod - since);
}

void DropMotion(MotionPacer& pacer, std::uint64_t now) {
  pacer.Held = false;
  pacer.Passed = true;
  pacer.LastPassed = now;
}
