// Shared by the fuzz targets: the game reads its files by name, so each input
// is written to a file in a private temporary folder first (the working
// folder stays where libFuzzer was started, for its corpus paths); a run-time error leaves through
// the exit handler as an exception, and only the game's documented error numbers may end an input
// that way.
#pragma once

#include <stdlib.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "display/display.h"
#include "rules/runtime.h"

namespace fuzz {

struct ThrownRunError {
  int Code;
};

// DocumentedCode: 2 and the other system error numbers of a file that cannot
// be opened or read, 100 for a short file, 201 for an index out of range.
inline bool DocumentedCode(int code) {
  return code == ShortFileErrorCode || code == RangeErrorCode || (code >= 1 && code <= EHWPOISON);
}

inline void ThrowRunError(int code) {
  if (!DocumentedCode(code)) {
    std::fprintf(stderr, "undocumented run-time error %d\n", code);
    std::abort();
  }
  throw ThrownRunError{code};
}

// Folder: the temporary folder, with a trailing slash.
inline std::string& Folder() {
  static std::string folder;
  return folder;
}

// Start: the temporary folder, the throwing exit handler, and the
// game's own reports (standard output and error) sent to /dev/null so that
// millions of inputs do not flood the log. The sanitizers and libFuzzer
// write to descriptor 2 themselves and are still seen.
inline void Start() {
  char folder[] = "/tmp/kelvar-fuzz-XXXXXX";
  if (mkdtemp(folder) == nullptr) {
    std::perror("kelvar fuzz: temporary folder");
    std::abort();
  }
  Folder() = std::string(folder) + "/";
  SetRunErrorExit(ThrowRunError);
  stdout = std::fopen("/dev/null", "w");
  stderr = std::fopen("/dev/null", "w");
}

// OpenScreen: the graphics mode, kept open after a run-time error. The
// platform takes every signal still at its default on start, to put the
// terminal back; libFuzzer then leaves them alone, and its own timers
// (SIGALRM) and stop requests would end the run as signals. They go back to
// their defaults here, so libFuzzer installs its handlers after this.
inline void OpenScreen() {
  InitGraph(Driver64K, Mode640x480, "");
  if (GraphResult() != 0) std::abort();
  SetRunErrorShutdown(nullptr);
  for (int signal : {SIGALRM, SIGINT, SIGTERM, SIGUSR1, SIGUSR2, SIGXFSZ})
    std::signal(signal, SIG_DFL);
}

// StartWithScreen: Start, then OpenScreen, for a target's initialisation.
inline int StartWithScreen() {
  Start();
  OpenScreen();
  return 0;
}

// WriteInput: the input as the named file of the temporary folder; answers
// its path.
inline const char* WriteInput(const char* name, const std::uint8_t* data, std::size_t size) {
  static std::string path;
  path = Folder() + name;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr || (size > 0 && std::fwrite(data, 1, size, file) != size) ||
      std::fclose(file) != 0)
    std::abort();
  return path.c_str();
}

}  // namespace fuzz
