// Shared helpers of the suites that run programs and read back what they
// leave: a folder of a test's own (with the game's files when asked), child
// processes with a changed environment run to their end with their status and
// both outputs, the tools found on PATH, and a virtual X server with
// screenshots of its windows, clicks and keys through xdotool and import.
// A child on a pseudo-terminal of its own is in pty_support.h.
#pragma once

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace support {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The game, the game with a report of each turn, and the game's files, as the build leaves them.
inline const std::string Kelvar = KELVAR_BINARY_DIR "/kelvar";
inline const std::string Probe = KELVAR_BINARY_DIR "/tests/kelvar-probe";
inline const std::string DataDir = KELVAR_BINARY_DIR "/data";

// TurnTimeout: the seconds a game's turn may take; generous, as the sanitizer
// build searches several times slower.
constexpr double TurnTimeout = 300;

// Sleep: the calling thread waits, in seconds.
inline void Sleep(double seconds) {
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

// WaitUntil: polls done() every 0.1 s for up to the given time; its last answer.
template <typename Done>
bool WaitUntil(double seconds, Done done) {
  const auto end = Clock::now() + std::chrono::duration<double>(seconds);
  while (Clock::now() < end) {
    if (done()) return true;
    Sleep(0.1);
  }
  return done();
}

// ReadText: a file's whole contents, "" when it cannot be read.
inline std::string ReadText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// FolderTest: a test with a fresh folder /tmp/PREFIX-XXXXXX of its own,
// removed with all in it afterwards; a failed test first prints the files of
// it named in Logs (what its programs wrote on standard error).
class FolderTest : public ::testing::Test {
 protected:
  explicit FolderTest(std::string prefix) : Prefix(std::move(prefix)) {}
  void SetUp() override {
    std::string name = "/tmp/" + Prefix + "-XXXXXX";
    ASSERT_NE(mkdtemp(name.data()), nullptr);
    Folder = name;
  }
  void TearDown() override {
    if (HasFailure())
      for (const std::string& log : Logs)
        std::cout << "---- " << log << ":\n"
                  << ReadText(Folder / log) << "---- end of " << log << "\n";
    std::error_code ignored;
    fs::remove_all(Folder, ignored);
  }
  std::string Prefix;
  fs::path Folder;
  std::vector<std::string> Logs;
};

// CopyGameFiles: the game's files, as the build leaves them, into folder
// (made when missing).
inline void CopyGameFiles(const fs::path& folder) {
  fs::create_directories(folder);
  for (const auto& entry : fs::directory_iterator(DataDir))
    if (entry.is_regular_file()) fs::copy_file(entry.path(), folder / entry.path().filename());
  ASSERT_TRUE(fs::exists(folder / "kelvar.in"));
  ASSERT_TRUE(fs::exists(folder / "PawnFix.x"));
}

// GameFolderTest: a FolderTest whose folder holds the game's files.
class GameFolderTest : public FolderTest {
 protected:
  using FolderTest::FolderTest;
  void SetUp() override {
    FolderTest::SetUp();
    CopyGameFiles(Folder);
  }
};

// EnvironmentChanges: variables to set (a value) or to remove (nullopt).
using EnvironmentChanges = std::map<std::string, std::optional<std::string>>;

// Environment: this process's environment with the changes made.
inline std::vector<std::string> Environment(const EnvironmentChanges& changes) {
  std::vector<std::string> result;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text = *entry;
    if (changes.count(text.substr(0, text.find('='))) == 0) result.push_back(text);
  }
  for (const auto& [name, value] : changes)
    if (value) result.push_back(name + "=" + *value);
  return result;
}

// FindProgram: the program's path on PATH, "" when it is not installed.
inline std::string FindProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::istringstream folders(path != nullptr ? path : "/usr/bin:/bin");
  std::string folder;
  while (std::getline(folders, folder, ':'))
    if (access((folder + "/" + name).c_str(), X_OK) == 0) return folder + "/" + name;
  return "";
}

// Pointers: the strings as exec takes them, ended by a null pointer.
inline std::vector<char*> Pointers(const std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (const std::string& text : strings) pointers.push_back(const_cast<char*>(text.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

// Start: a program (a path, or a name looked up on PATH) in the background in
// a session of its own, in folder ("": this one), its standard streams the
// given ones or /dev/null, descriptor 3 report when given. A terminal as its
// input becomes its controlling terminal. Only these descriptors reach it
// (and those this process leaves without close-on-exec).
inline pid_t Start(const std::vector<std::string>& args, const EnvironmentChanges& changes,
                   int in = -1, int out = -1, int err = -1, const fs::path& folder = {},
                   int report = -1) {
  const std::string program = args[0][0] == '/' ? args[0] : FindProgram(args[0]);
  const std::vector<std::string> environment = Environment(changes);
  const std::vector<char*> envp = Pointers(environment), argv = Pointers(args);
  const pid_t pid = fork();
  if (pid == 0) {
    // Only async-signal-safe calls from here to exec.
    setsid();
    if (in >= 0 && isatty(in)) ioctl(in, TIOCSCTTY, 0);
    const int null = open("/dev/null", O_RDWR);
    dup2(in >= 0 ? in : null, 0);
    dup2(out >= 0 ? out : null, 1);
    dup2(err >= 0 ? err : null, 2);
    // dup2 onto itself would keep close-on-exec.
    if (report == 3) fcntl(3, F_SETFD, 0);
    if (report >= 0 && report != 3) dup2(report, 3);
    if (!folder.empty() && chdir(folder.c_str()) != 0) _exit(126);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  return pid;
}

// OpenLog: a file for a child's standard error, emptied; -1 when it cannot be made.
inline int OpenLog(const fs::path& file) {
  return open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
}

// Wait: a child's exit status, 128 + the signal that ended it; -1 when it is
// not a child of this process.
inline int Wait(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Ended: a child's exit status (as Wait gives it) once it has ended, left for
// Wait to collect; -1 for a process that is not a child waiting to be collected.
inline std::optional<int> Ended(pid_t pid) {
  siginfo_t info{};
  if (pid <= 0 || waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
    return -1;
  if (info.si_pid == 0) return std::nullopt;
  return info.si_code == CLD_EXITED ? info.si_status : 128 + info.si_status;
}

// ExitNote: "" while a child runs, else "NAME has exited (status N)".
inline std::string ExitNote(const std::string& name, pid_t pid) {
  const auto status = Ended(pid);
  return status ? name + " has exited (status " + std::to_string(*status) + ")" : "";
}

// RunResult: how a program ended and what it wrote.
struct RunResult {
  int Status = -1;  // the exit status, 128 + the signal that ended it; -1: it did not start
  std::string Out;  // standard output, or both streams when they were merged
  std::string Err;
};

// Streams: where a run's standard error goes.
enum class Streams { Apart, Merged, OutOnly };

// Collect: what a child writes on the two descriptors (closed here), read
// side by side so that neither pipe fills while the other is read; then its status.
inline RunResult Collect(pid_t pid, int out, int err) {
  RunResult result;
  pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
  std::string* texts[2] = {&result.Out, &result.Err};
  char buffer[65536];
  while (fds[0].fd >= 0 || fds[1].fd >= 0) {
    if (poll(fds, 2, -1) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        texts[i]->append(buffer, static_cast<std::size_t>(n));
      } else {
        close(fds[i].fd);
        fds[i].fd = -1;
      }
    }
  }
  result.Status = pid > 0 ? Wait(pid) : -1;
  return result;
}

// Run: a program (as Start takes it) run to its end in folder with no input;
// its status and what it wrote.
inline RunResult Run(const std::vector<std::string>& args, const EnvironmentChanges& changes = {},
                     const fs::path& folder = {}, Streams streams = Streams::Apart) {
  int out[2], err[2] = {-1, -1};
  if (pipe2(out, O_CLOEXEC) != 0) return {};
  if (streams == Streams::Apart && pipe2(err, O_CLOEXEC) != 0) err[0] = err[1] = -1;
  const int errTo = streams == Streams::Merged ? out[1] : err[1];
  const pid_t pid = Start(args, changes, -1, out[1], errTo, folder);
  close(out[1]);
  if (err[1] >= 0) close(err[1]);
  return Collect(pid, out[0], err[0]);
}

// Shell: a shell command line run as Run runs a program.
inline RunResult Shell(const std::string& command, const fs::path& folder = {},
                       Streams streams = Streams::Apart) {
  return Run({"/bin/sh", "-c", command}, {}, folder, streams);
}

// RunInChild: work() in a copy of this process in folder; its answer is the
// copy's exit status. Both outputs are flushed first so that none is written twice.
template <typename Work>
RunResult RunInChild(Work work, const fs::path& folder, Streams streams = Streams::Apart) {
  std::fflush(stdout);
  std::fflush(stderr);
  int out[2], err[2] = {-1, -1};
  if (pipe(out) != 0) return {};
  if (streams == Streams::Apart && pipe(err) != 0) err[0] = err[1] = -1;
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(folder.c_str()) != 0) _exit(120);
    dup2(out[1], 1);
    dup2(streams == Streams::Merged ? out[1]
         : err[1] >= 0              ? err[1]
                                    : open("/dev/null", O_WRONLY),
         2);
    const int status = work();
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(status);
  }
  close(out[1]);
  if (err[1] >= 0) close(err[1]);
  return Collect(pid, out[0], err[0]);
}

// Capture: runs a tool to its end; its standard output, nullopt when it fails.
inline std::optional<std::string> Capture(const std::vector<std::string>& args,
                                          const EnvironmentChanges& changes) {
  RunResult run = Run(args, changes, {}, Streams::OutOnly);
  if (run.Status != 0) return std::nullopt;
  return std::move(run.Out);
}

// LineStarting: the n-th line (counting from 1) of text that starts with prefix.
inline std::optional<std::string> LineStarting(const std::string& text, const std::string& prefix,
                                               int n) {
  std::istringstream lines(text);
  std::string line;
  int seen = 0;
  while (std::getline(lines, line))
    if (line.rfind(prefix, 0) == 0 && ++seen == n) return line;
  return std::nullopt;
}

// Rgb: a pixel as a screenshot gives it, 0 to 255 a channel.
struct Rgb {
  int R, G, B;
  bool operator==(const Rgb&) const = default;
};

// Image: a screenshot, pixels row by row; black outside it.
struct Image {
  int Width = 0, Height = 0;
  std::vector<Rgb> Pixels;
  Rgb At(int x, int y) const {
    if (x < 0 || y < 0 || x >= Width || y >= Height) return {0, 0, 0};
    return Pixels[static_cast<std::size_t>(y * Width + x)];
  }
};

// ParsePpm: a binary PPM picture with one byte a channel; nullopt when it is not one.
inline std::optional<Image> ParsePpm(const std::string& ppm) {
  std::istringstream in(ppm);
  std::string magic;
  Image image;
  int max;
  in >> magic >> image.Width >> image.Height >> max;
  in.get();
  if (!in || magic != "P6" || max != 255) return std::nullopt;
  const auto start = static_cast<std::size_t>(in.tellg());
  if (ppm.size() < start + static_cast<std::size_t>(image.Width) * image.Height * 3)
    return std::nullopt;
  const auto* p = reinterpret_cast<const unsigned char*>(ppm.data() + start);
  image.Pixels.reserve(static_cast<std::size_t>(image.Width) * image.Height);
  for (int i = 0; i < image.Width * image.Height; ++i, p += 3)
    image.Pixels.push_back({p[0], p[1], p[2]});
  return image;
}

// XvfbServer: a virtual X server on a display it picks itself, ended with
// the object.
class XvfbServer {
 public:
  ~XvfbServer() {
    if (Pid > 0) {
      kill(Pid, SIGTERM);
      Wait(Pid);
    }
  }
  // Start: a server with the given screen ("WxHxDEPTH"), its standard error
  // in the file log. Xvfb takes the first free display and writes its number
  // to -displayfd once it takes connections; two servers never share one.
  // With -noreset it stays as it is when its last client leaves: by default
  // it starts over then, and a client that connects meanwhile (xterm after a
  // screenshot or a search, on a busy machine) finds no display.
  bool Start(const std::string& screen, const fs::path& log) {
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) return false;
    const int err = OpenLog(log);
    Pid = support::Start(
        {"Xvfb", "-displayfd", "1", "-noreset", "-screen", "0", screen, "-nolisten", "tcp"}, {}, -1,
        ready[1], err);
    close(ready[1]);
    if (err >= 0) close(err);
    // The number and a newline; an end of file first: the server has ended.
    std::string number;
    char c = 0;
    pollfd wait{ready[0], POLLIN, 0};
    while (poll(&wait, 1, 30000) == 1 && read(ready[0], &c, 1) == 1 && c != '\n') number += c;
    close(ready[0]);
    if (c == '\n' && !number.empty()) {
      Display = ":" + number;
      return true;
    }
    if (!Ended(Pid)) kill(Pid, SIGTERM);
    Wait(Pid);
    Pid = -1;
    return false;
  }
  // Gone: "" while the server runs, else that it has exited.
  std::string Gone() const { return ExitNote("Xvfb on " + Display, Pid); }
  // Tool: a tool's output, run on this server's display.
  std::optional<std::string> Tool(const std::vector<std::string>& args) const {
    return Capture(args, {{"DISPLAY", Display}});
  }
  // Screenshot: a window's picture through import; nullopt when it fails.
  std::optional<Image> Screenshot(const std::string& window) const {
    const auto ppm = Tool({"import", "-window", window, "-depth", "8", "ppm:-"});
    if (!ppm) return std::nullopt;
    return ParsePpm(*ppm);
  }
  // Click: the left button at (x, y) of a window, then a pause: clicks closer
  // than 0.3 seconds are not taken.
  void Click(const std::string& window, int x, int y) const {
    ASSERT_TRUE(
        Tool({"xdotool", "mousemove", "--window", window, std::to_string(x), std::to_string(y)}));
    Sleep(0.1);
    ASSERT_TRUE(Tool({"xdotool", "click", "1"}));
    Sleep(0.5);
  }
  // Key: a key (an X key name) typed into a window.
  void Key(const std::string& window, const std::string& name) const {
    Tool({"xdotool", "windowfocus", window});
    ASSERT_TRUE(Tool({"xdotool", "key", name}));
  }

  std::string Display;
  pid_t Pid = -1;
};

}  // namespace support
