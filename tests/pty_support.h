// A child process on a pseudo-terminal of its own (or on plain pipes), its
// output and its reports on descriptor 3 read back while it runs, keys sent
// to it, and the terminal's settings looked at before and after.
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
#include <optional>
#include <string>
#include <vector>

#include "tests/process_support.h"

namespace support {

// Child: a program started by Spawn or SpawnOnPipes, and what it has written.
struct Child {
  pid_t Pid = -1;
  int Master = -1;  // reads what the child writes; on a pty, writes reach its input too
  int Input = -1;   // on pipes: writes reach the child's standard input
  int Slave = -1;   // kept open so the terminal's settings can be read after the end
  int Report = -1;
  termios Before{};
  std::string Output;
  std::string Reports;
  int Status = -1;  // as Wait gives it, once the child has ended
  int Signal = 0;   // the signal that ended it; 0 when it exited
};

// CloseChild: a child still running is killed; every descriptor is closed.
inline void CloseChild(Child& child) {
  if (child.Pid > 0 && child.Status == -1) {
    kill(child.Pid, SIGKILL);
    int status;
    waitpid(child.Pid, &status, 0);
  }
  for (int* fd : {&child.Master, &child.Input, &child.Slave, &child.Report})
    if (*fd >= 0) close(*fd);
  child.Master = child.Input = child.Slave = child.Report = -1;
}

// Launch: program in folder ("": this one), its standard streams in, out
// and err, descriptor 3 a pipe for reports.
inline void Launch(Child& child, const std::string& program, const std::string& folder,
                   const EnvironmentChanges& changes, int in, int out, int err) {
  int report[2];
  EXPECT_EQ(pipe2(report, O_CLOEXEC), 0);
  child.Pid = Start({program}, changes, in, out, err, folder, report[1]);
  close(report[1]);
  child.Report = report[0];
}

// Spawn: program in folder, its standard streams a fresh pseudo-terminal of
// the given size (in its ordinary settings), descriptor 3 a pipe for reports.
inline Child Spawn(const std::string& program, const std::string& folder,
                   const EnvironmentChanges& changes, unsigned short columns = 80,
                   unsigned short rows = 24) {
  Child child;
  winsize size{};
  size.ws_col = columns;
  size.ws_row = rows;
  EXPECT_EQ(openpty(&child.Master, &child.Slave, nullptr, nullptr, &size), 0);
  fcntl(child.Master, F_SETFD, FD_CLOEXEC);
  fcntl(child.Slave, F_SETFD, FD_CLOEXEC);
  tcgetattr(child.Slave, &child.Before);
  Launch(child, program, folder, changes, child.Slave, child.Slave, child.Slave);
  return child;
}

// SpawnOnPipes: as Spawn, with standard input from a pipe (Input) and
// standard output to one (Master); standard error stays this process's.
inline Child SpawnOnPipes(const std::string& program, const std::string& folder,
                          const EnvironmentChanges& changes) {
  Child child;
  int in[2], out[2];
  EXPECT_EQ(pipe2(in, O_CLOEXEC), 0);
  EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
  Launch(child, program, folder, changes, in[0], out[1], STDERR_FILENO);
  close(in[0]);
  close(out[1]);
  child.Input = in[1];
  child.Master = out[0];
  return child;
}

// ReadInto: one read of fd appended to text; at the end or an error, fd closed and -1.
inline void ReadInto(int& fd, std::string& text) {
  char buffer[4096];
  const ssize_t n = read(fd, buffer, sizeof buffer);
  if (n > 0) {
    text.append(buffer, static_cast<std::size_t>(n));
  } else if (n == 0 || errno != EINTR) {
    close(fd);
    fd = -1;
  }
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
    const int ready = poll(fds, 2, static_cast<int>(std::min<long>(left.count(), 100)));
    if (ready <= 0) {
      // A child that has ended sends nothing more.
      if (child.Status == -1) {
        int status;
        if (waitpid(child.Pid, &status, WNOHANG) == child.Pid) {
          child.Signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
          child.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + child.Signal;
        }
      }
      if (child.Status != -1 && ready == 0) return done();
      continue;
    }
    // A pipe's end comes as a hang-up; a pty's slave side stays open here.
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) ReadInto(child.Master, child.Output);
    if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) ReadInto(child.Report, child.Reports);
  }
}

// WaitForOutput: whether the child's output holds text within the time.
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

// WaitForExit: the child's status once it has ended, -1 when it still runs after the time.
inline int WaitForExit(Child& child, double seconds) {
  Pump(child, seconds, [&] { return child.Status != -1; });
  return child.Status;
}

// Send: bytes typed at the child.
inline void Send(Child& child, const std::string& bytes) {
  const int fd = child.Input >= 0 ? child.Input : child.Master;
  ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

// EndInput: the end of the child's input on pipes.
inline void EndInput(Child& child) {
  if (child.Input >= 0) close(child.Input);
  child.Input = -1;
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
