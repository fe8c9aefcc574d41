// kelvar-probe: the whole program, as the game runs it, with a report of every
// turn on descriptor 3 (when it is open) for the end-to-end tests, and the
// random generator's seed taken from KELVAR_PROBE_SEED when it is set, so a
// run can be played again. The driver calls the two turns and the seeding
// through the ones below; nothing else of the program changes. With
// KELVAR_PROBE_FRAME set to a file, the first report is "probe PID" and each
// SIGUSR1 writes the screen as the game has drawn it there (a PPM picture),
// so a suite can hold what a terminal shows against the game's own frame.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "display/display.h"
#include "engine/engine.h"
#include "input/input.h"

namespace {

constexpr int ReportDescriptor = 3;

// BoardText: rank 8 first, files a to h; "." empty, upper case side 1.
std::string BoardText() {
  static const char* const kinds = ".pnbrqk";
  std::string text;
  for (int rank = 8; rank >= 1; --rank)
    for (int file = 1; file <= 8; ++file) {
      const PieceCode code = Board[file][rank];
      const char letter = kinds[code % 64 <= 6 ? code % 64 : 0];
      text += code != 0 && code < 64 ? static_cast<char>(letter - 'a' + 'A') : letter;
    }
  return text;
}

void Report(const std::string& line) {
  if (fcntl(ReportDescriptor, F_GETFD) == -1) return;
  const std::string text = line + "\n";
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(ReportDescriptor, text.data() + done, text.size() - done);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

bool ReportedPlayerMove(int side) {
  Report("person-turn " + std::to_string(side) + " " + BoardText());
  const bool moved = PlayerMove(side);
  Report("person " + std::to_string(side) + " " + (moved ? "1 " : "0 ") + BoardText());
  return moved;
}

bool ReportedComputerMove(int side) {
  const bool moved = ComputerMove(side);
  Report("computer " + std::to_string(side) + " " + (moved ? "1 " : "0 ") +
         MoveText(LastComputerMove) + " " + BoardText());
  return moved;
}

void SeedFromEnvironment(std::uint32_t seed) {
  const char* fixed = std::getenv("KELVAR_PROBE_SEED");
  if (fixed != nullptr && *fixed != '\0')
    seed = static_cast<std::uint32_t>(std::strtoul(fixed, nullptr, 10));
  SeedRandom(seed);
}

// WriteFrame: the screen memory as a PPM picture, written beside the file
// and then renamed, so a reader never sees half of one.
void WriteFrame(const std::string& file) {
  std::vector<unsigned char> ppm;
  const std::string header = "P6\n640 480\n255\n";
  ppm.assign(header.begin(), header.end());
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x) {
      const Colour c = ReadPixel(static_cast<std::int16_t>(x), static_cast<std::int16_t>(y));
      const int r = c >> 11, g = (c >> 5) & 63, b = c & 31;
      ppm.push_back(static_cast<unsigned char>(r << 3 | r >> 2));
      ppm.push_back(static_cast<unsigned char>(g << 2 | g >> 4));
      ppm.push_back(static_cast<unsigned char>(b << 3 | b >> 2));
    }
  const std::string partial = file + ".part";
  std::FILE* out = std::fopen(partial.c_str(), "wb");
  if (out == nullptr) return;
  const bool written = std::fwrite(ppm.data(), 1, ppm.size(), out) == ppm.size();
  if (std::fclose(out) == 0 && written) std::rename(partial.c_str(), file.c_str());
}

// StartFrameWriter: SIGUSR1 blocked in every thread (the game's start after
// this), taken by a thread of its own that writes a frame for each.
void StartFrameWriter() {
  const char* file = std::getenv("KELVAR_PROBE_FRAME");
  if (file == nullptr || *file == '\0') return;
  sigset_t wanted;
  sigemptyset(&wanted);
  sigaddset(&wanted, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &wanted, nullptr);
  std::thread([wanted, name = std::string(file)] {
    for (int signal = 0;;)
      if (sigwait(&wanted, &signal) == 0) WriteFrame(name);
  }).detach();
  Report("probe " + std::to_string(getpid()));
}

}  // namespace

int main() {
  StartFrameWriter();
  Steps.PlayerMove = ReportedPlayerMove;
  Steps.ComputerMove = ReportedComputerMove;
  Steps.SeedRandom = SeedFromEnvironment;
  return RunProgram();
}
