// Shared helpers of the suites that run programs and read back what they
// leave: a folder of a test's own, child processes with a changed
// environment, the tools found on PATH, and a virtual X server with
// screenshots of its windows, clicks and keys through xdotool and import,
// and a child on a pseudo-terminal of its own, its output and reports read back.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
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

// Start: a program (a path, or a name looked up on PATH) in the background in
// a session of its own, its standard streams the given ones or /dev/null.
inline pid_t Start(const std::vector<std::string>& args, const EnvironmentChanges& changes,
                   int in = -1, int out = -1, int err = -1) {
  const std::string program = args[0][0] == '/' ? args[0] : FindProgram(args[0]);
  const std::vector<std::string> environment = Environment(changes);
  std::vector<char*> envp, argv;
  for (const std::string& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    setsid();
    const int null = open("/dev/null", O_RDWR);
    dup2(in >= 0 ? in : null, 0);
    dup2(out >= 0 ? out : null, 1);
    dup2(err >= 0 ? err : null, 2);
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

// Capture: runs a tool to its end; its standard output, nullopt when it fails.
inline std::optional<std::string> Capture(const std::vector<std::string>& args,
                                          const EnvironmentChanges& changes) {
  int out[2];
  if (pipe(out) != 0) return std::nullopt;
  const pid_t pid = Start(args, changes, -1, out[1]);
  close(out[1]);
  std::string text;
  char buffer[65536];
  ssize_t n;
  while ((n = read(out[0], buffer, sizeof buffer)) > 0)
    text.append(buffer, static_cast<std::size_t>(n));
  close(out[0]);
  if (Wait(pid) != 0) return std::nullopt;
  return text;
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

// Utf8Length: the bytes of the UTF-8 character that starts with lead.
inline std::size_t Utf8Length(char lead) {
  const auto byte = static_cast<unsigned char>(lead);
  return byte >= 0xf0 ? 4 : byte >= 0xe0 ? 3 : byte >= 0xc0 ? 2 : 1;
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

// ---- A child process on a pseudo-terminal ---------------------------------------------------

struct Child {
  pid_t Pid = -1;
  int Master = -1;
  int Slave = -1;  // kept open so the terminal's settings can be read after the end
  int Report = -1;
  termios Before{};
  std::string Output;
  std::string Reports;
  int Status = -1;
};

inline void CloseChild(Child& child) {
  if (child.Pid > 0 && child.Status == -1) {
    kill(child.Pid, SIGKILL);
    int status;
    waitpid(child.Pid, &status, 0);
  }
  for (int* fd : {&child.Master, &child.Slave, &child.Report})
    if (*fd >= 0) close(*fd);
  child.Master = child.Slave = child.Report = -1;
}

// Spawn: program in folder, its standard streams a fresh pseudo-terminal of
// the given size (its controlling terminal), descriptor 3 a pipe for reports.
inline Child Spawn(const std::string& program, const std::string& folder,
                   const EnvironmentChanges& changes, unsigned short columns = 80,
                   unsigned short rows = 24) {
  Child child;
  winsize size{};
  size.ws_col = columns;
  size.ws_row = rows;
  EXPECT_EQ(openpty(&child.Master, &child.Slave, nullptr, nullptr, &size), 0);
  tcgetattr(child.Slave, &child.Before);
  int report[2];
  EXPECT_EQ(pipe(report), 0);
  const std::vector<std::string> environment = Environment(changes);
  std::vector<char*> envp;
  for (const std::string& entry : environment) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);
  char* argv[] = {const_cast<char*>(program.c_str()), nullptr};

  child.Pid = fork();
  if (child.Pid == 0) {
    // Only async-signal-safe calls from here to exec.
    setsid();
    ioctl(child.Slave, TIOCSCTTY, 0);
    dup2(child.Slave, 0);
    dup2(child.Slave, 1);
    dup2(child.Slave, 2);
    dup2(report[1], 3);
    if (chdir(folder.c_str()) != 0) _exit(126);
    execve(program.c_str(), argv, envp.data());
    _exit(127);
  }
  close(report[1]);
  child.Report = report[0];
  return child;
}

// Pump: collects output and reports for up to the given time, or until done().
template <typename Done>
bool Pump(Child& child, double seconds, Done done) {
  const auto end = Clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    if (done()) return true;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    if (left.count() <= 0) return false;
    pollfd fds[2] = {{child.Master, POLLIN, 0}, {child.Report, POLLIN, 0}};
    const int ready =
        poll(fds, child.Report >= 0 ? 2 : 1, static_cast<int>(std::min<long>(left.count(), 100)));
    if (ready <= 0) {
      // A child that has ended sends nothing more.
      if (child.Status == -1) {
        int status;
        if (waitpid(child.Pid, &status, WNOHANG) == child.Pid)
          child.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      if (child.Status != -1 && ready == 0) {
        if (done()) return true;
        return false;
      }
      continue;
    }
    char buffer[4096];
    if (fds[0].revents & POLLIN) {
      const ssize_t n = read(child.Master, buffer, sizeof buffer);
      if (n > 0) child.Output.append(buffer, static_cast<std::size_t>(n));
    }
    if (child.Report >= 0 && (fds[1].revents & (POLLIN | POLLHUP))) {
      const ssize_t n = read(child.Report, buffer, sizeof buffer);
      if (n > 0)
        child.Reports.append(buffer, static_cast<std::size_t>(n));
      else {
        close(child.Report);
        child.Report = -1;
      }
    }
  }
}

inline bool WaitForOutput(Child& child, const std::string& text, double seconds) {
  return Pump(child, seconds, [&] { return child.Output.find(text) != std::string::npos; });
}

// WaitForReport: the n-th report line (counting from 1) that starts with prefix.
inline std::optional<std::string> WaitForReport(Child& child, const std::string& prefix, int n,
                                                double seconds) {
  std::optional<std::string> found;
  Pump(child, seconds, [&] {
    // Whole lines only: a report may arrive in pieces.
    found = LineStarting(child.Reports.substr(0, child.Reports.rfind('\n') + 1), prefix, n);
    return found.has_value();
  });
  return found;
}

inline int WaitForExit(Child& child, double seconds) {
  Pump(child, seconds, [&] { return child.Status != -1; });
  return child.Status;
}

inline void Send(Child& child, const std::string& bytes) {
  ASSERT_EQ(write(child.Master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

// TerminalRestored: the settings the program found are back after its end.
inline void ExpectTerminalRestored(const Child& child) {
  termios after{};
  ASSERT_EQ(tcgetattr(child.Slave, &after), 0);
  EXPECT_EQ(after.c_lflag, child.Before.c_lflag);
  EXPECT_EQ(after.c_iflag, child.Before.c_iflag);
  EXPECT_EQ(after.c_cc[VMIN], child.Before.c_cc[VMIN]);
}

}  // namespace support
