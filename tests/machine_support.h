// A virtual machine for the console suites: QEMU without KVM booting this
// machine's kernel, its serial line (the guest's command shell) and its QMP
// monitor (input events, screendumps, devices).

#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/process_support.h"

namespace support {

// KernelRelease: the newest kernel in /boot this user can read that has its
// modules installed; "" when there is none.
inline std::string KernelRelease() {
  std::vector<std::string> releases;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/boot", error)) {
    const std::string name = entry.path().filename();
    if (name.rfind("vmlinuz-", 0) != 0) continue;
    const std::string release = name.substr(8);
    if (access(entry.path().c_str(), R_OK) == 0 && fs::is_directory("/lib/modules/" + release))
      releases.push_back(release);
  }
  std::sort(releases.begin(), releases.end());
  return releases.empty() ? "" : releases.back();
}

// Connect: a stream socket connected to a Unix socket's path, -1 when not yet there.
inline int Connect(const fs::path& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// LineReader: lines from a socket, each without its line end.
struct LineReader {
  int Fd = -1;
  std::string Pending;
  // Next: the next line within the time; nullopt at its end or the stream's.
  std::optional<std::string> Next(double seconds) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
      const std::size_t newline = Pending.find('\n');
      if (newline != std::string::npos) {
        std::string line = Pending.substr(0, newline);
        Pending.erase(0, newline + 1);
        line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
        return line;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
      if (left.count() <= 0) return std::nullopt;
      pollfd ready{Fd, POLLIN, 0};
      if (poll(&ready, 1, static_cast<int>(left.count())) <= 0) continue;
      char buffer[4096];
      const ssize_t n = read(Fd, buffer, sizeof buffer);
      if (n <= 0) return std::nullopt;
      Pending.append(buffer, static_cast<std::size_t>(n));
    }
  }
};

inline void WriteAll(int fd, const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

// GuestMachine: one virtual machine, its serial line (the guest's command
// shell) and its QMP monitor; ended with the object.
class GuestMachine {
 public:
  ~GuestMachine() {
    if (Pid > 0) {
      kill(Pid, SIGKILL);
      Wait(Pid);
    }
    if (Serial.Fd >= 0) close(Serial.Fd);
    if (Monitor.Fd >= 0) close(Monitor.Fd);
  }

  // Boot: the machine with the kernel, the initramfs, the extra devices and
  // the kernel's command line; true once the guest's shell says @ready.
  bool Boot(const fs::path& folder, const std::string& release, const fs::path& initramfs,
            const std::vector<std::string>& devices,
            const std::string& append = "console=ttyS0 quiet loglevel=3", double seconds = 120) {
    Folder = folder;
    std::vector<std::string> args = {
        "qemu-system-x86_64",
        "-machine",
        "pc",
        "-accel",
        "tcg,thread=multi",
        "-cpu",
        "Nehalem",
        "-smp",
        "2",
        "-m",
        "1024",
        "-nodefaults",
        "-no-reboot",
        "-display",
        "none",
        "-kernel",
        "/boot/vmlinuz-" + release,
        "-initrd",
        initramfs.string(),
        "-append",
        append,
        "-qmp",
        "unix:" + (folder / "qmp").string() + ",server=on,wait=off",
        "-chardev",
        "socket,id=serial,path=" + (folder / "serial").string() + ",server=on,wait=off",
        "-serial",
        "chardev:serial"};
    args.insert(args.end(), devices.begin(), devices.end());
    const int log = open((folder / "qemu.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    Pid = Start(args, {}, -1, log, log);
    close(log);
    if (!WaitUntil(20, [&] {
          if (Serial.Fd < 0) Serial.Fd = Connect(folder / "serial");
          if (Monitor.Fd < 0) Monitor.Fd = Connect(folder / "qmp");
          return Serial.Fd >= 0 && Monitor.Fd >= 0;
        }))
      return false;
    if (!Monitor.Next(10) || !Qmp("qmp_capabilities")) return false;
    return Expect("@ready", seconds).has_value();
  }

  // Send: a command line for the guest's shell.
  void Send(const std::string& line) { WriteAll(Serial.Fd, line + "\n"); }

  // Expect: the first line from the guest that starts with prefix; the lines
  // before it are kept in Log.
  std::optional<std::string> Expect(const std::string& prefix, double seconds) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
      const double left = std::chrono::duration<double>(end - Clock::now()).count();
      const auto line = Serial.Next(std::max(left, 0.0));
      if (!line) return std::nullopt;
      Log += *line + "\n";
      if (line->rfind(prefix, 0) == 0) return line;
    }
  }

  // Qmp: a monitor command with its arguments (a JSON object); true when it
  // returned without an error.
  bool Qmp(const std::string& command, const std::string& arguments = "{}") {
    WriteAll(Monitor.Fd, "{\"execute\": \"" + command + "\", \"arguments\": " + arguments + "}\n");
    for (;;) {
      const auto line = Monitor.Next(30);
      if (!line) return false;
      if (line->find("\"return\"") != std::string::npos) return true;
      if (line->find("\"error\"") != std::string::npos) {
        Log += "QMP " + command + ": " + *line + "\n";
        return false;
      }
    }
  }

  // Input: events for input-send-event, each a JSON object.
  bool Input(const std::vector<std::string>& events) {
    std::string list;
    for (const std::string& event : events) list += (list.empty() ? "" : ", ") + event;
    return Qmp("input-send-event", "{\"events\": [" + list + "]}");
  }

  // Screendump: what the machine's display shows now.
  std::optional<Image> Screendump() {
    const fs::path file = Folder / "screen.ppm";
    if (!Qmp("screendump", "{\"filename\": \"" + file.string() + "\"}")) return std::nullopt;
    return ParsePpm(ReadText(file));
  }

  pid_t Pid = -1;
  fs::path Folder;
  LineReader Serial, Monitor;
  std::string Log;
};

inline std::string Relative(const char* axis, int value) {
  return "{\"type\": \"rel\", \"data\": {\"axis\": \"" + std::string(axis) +
         "\", \"value\": " + std::to_string(value) + "}}";
}

inline std::string Absolute(const char* axis, int value) {
  return "{\"type\": \"abs\", \"data\": {\"axis\": \"" + std::string(axis) +
         "\", \"value\": " + std::to_string(value) + "}}";
}

inline std::string LeftButton(bool down) {
  return std::string("{\"type\": \"btn\", \"data\": {\"down\": ") + (down ? "true" : "false") +
         ", \"button\": \"left\"}}";
}

inline std::string KeyEvent(const std::string& qcode, bool down) {
  return std::string("{\"type\": \"key\", \"data\": {\"down\": ") + (down ? "true" : "false") +
         ", \"key\": {\"type\": \"qcode\", \"data\": \"" + qcode + "\"}}}";
}

}  // namespace support
