// A virtual machine for the console suites: QEMU without KVM booting a
// kernel, its serial line (the guest's command shell) and its QMP monitor:
// the machine's keyboard, mice and tablet moved as a person moves them,
// its display read back as a person sees it, devices plugged in.

#pragma once

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/process_support.h"
#include "tests/screen_support.h"

namespace support {

// KernelRelease: the newest kernel in root's boot/ this user can read that
// has its modules installed; "" when there is none.
inline std::string KernelRelease(const std::string& root = "/") {
  std::vector<std::string> releases;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(root + "/boot", error)) {
    const std::string name = entry.path().filename();
    if (name.rfind("vmlinuz-", 0) != 0) continue;
    const std::string release = name.substr(8);
    if (access(entry.path().c_str(), R_OK) == 0 &&
        fs::is_directory(root + "/lib/modules/" + release))
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

// TypedKey: QEMU's key for a character of a typed command, and whether
// Shift is held for it (a US layout); nullopt for one it has no key for.
inline std::optional<std::pair<std::string, bool>> TypedKey(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return std::pair{std::string(1, c), false};
  static const std::map<char, std::pair<std::string, bool>> named = {
      {' ', {"spc", false}},  {'/', {"slash", false}}, {'-', {"minus", false}},
      {'.', {"dot", false}},  {'\n', {"ret", false}},  {'>', {"dot", true}},
      {'$', {"4", true}},     {'?', {"slash", true}},  {';', {"semicolon", false}},
      {'_', {"minus", true}}, {'=', {"equal", false}}};
  const auto found = named.find(c);
  if (found == named.end()) return std::nullopt;
  return found->second;
}

// Opened: a board's occupancy after the computer's first move.
inline bool Opened(const std::string& squares) {
  return squares.size() == 64 && squares.substr(0, 16) == std::string(16, 'b') &&
         Count(squares, 'w') == 16 && squares.substr(48) != std::string(16, 'w');
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

  // Boot: QEMU run with the machine's own arguments (the emulator first:
  // its machine, kernel, initramfs, command line and devices), its
  // monitor and serial line in folder, no display window; true once the
  // guest's shell says @ready.
  bool Boot(const fs::path& folder, std::vector<std::string> args, double seconds = 120) {
    Folder = folder;
    const std::vector<std::string> common = {
        "-accel",
        "tcg,thread=multi",
        "-smp",
        "2",
        "-m",
        "1024",
        "-nodefaults",
        "-no-reboot",
        "-display",
        "none",
        "-qmp",
        "unix:" + (folder / "qmp").string() + ",server=on,wait=off",
        "-chardev",
        "socket,id=serial,path=" + (folder / "serial").string() + ",server=on,wait=off",
        "-serial",
        "chardev:serial"};
    args.insert(args.begin() + 1, common.begin(), common.end());
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

  // Shell: a command's output (and errors) on one line, for a guest whose
  // shell is a POSIX one; "" when it did not answer in time.
  std::string Shell(const std::string& command, double seconds = 60) {
    Send("echo \"@out $( { " + command + "; } 2>&1 | tr '\\n' ' ')\"");
    const auto line = Expect("@out ", seconds);
    std::string out = line ? line->substr(5) : "";
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
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

  // Shot: the game's picture, wherever on the display the console host puts it.
  std::optional<Picture> Shot() {
    const auto image = Screendump();
    if (!image || image->Width < 640 || image->Height < 480) return std::nullopt;
    return PictureIn(*image, PlacementIn(image->Width, image->Height));
  }

  template <typename Test>
  std::optional<Picture> WaitForShot(double seconds, Test test) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
      auto shot = Shot();
      if (shot && test(*shot)) return shot;
      Sleep(0.3);
    }
    return std::nullopt;
  }

  // PersonsTurn: the board shown waiting for the person, its squares
  // passing the test; its occupancy, "" when not seen in time. The whole
  // board is waited for, not only the status: a frame on its way to the
  // screen (virtio-gpu flushes it in pieces) may show one before the other.
  template <typename Test>
  std::string PersonsTurn(double seconds, Test test) {
    static const Picture waiting = Reference([] { ShowStatus("waiting"); });
    const auto shot = WaitForShot(seconds, [&](const Picture& shown) {
      return SameArea(shown, waiting, 540, 468, 639, 479) && test(Occupancy(shown));
    });
    return shot ? Occupancy(*shot) : "";
  }

  // PointAt: a relative pointer to the top-left corner, then to a screen
  // pixel, in steps the emulated mouse's small queue takes whole.
  void PointAt(int x, int y) {
    for (int i = 0; i < 8; ++i) {
      Input({Relative("x", -200), Relative("y", -200)});
      Sleep(0.1);
    }
    for (int dx = x, dy = y; dx > 0 || dy > 0;) {
      const int stepX = std::min(dx, 100), stepY = std::min(dy, 100);
      Input({Relative("x", stepX), Relative("y", stepY)});
      dx -= stepX;
      dy -= stepY;
      Sleep(0.1);
    }
    Sleep(0.2);
  }

  void Click() {
    Input({LeftButton(true)});
    Sleep(0.1);
    Input({LeftButton(false)});
    Sleep(0.5);
  }

  // Touch: an absolute pointer's press and release on a pixel of the
  // game's picture on a display of the given size: the tablet's whole axis
  // range (0..32767) spans the display, and the picture lies centred in it
  // at its own scale.
  void Touch(int x, int y, int width, int height) {
    const Placement place = PlacementIn(width, height);
    const double displayX = place.X + (x + 0.5) * place.W / 640;
    const double displayY = place.Y + (y + 0.5) * place.H / 480;
    const int ax = static_cast<int>(displayX * 32768 / width);
    const int ay = static_cast<int>(displayY * 32768 / height);
    Input({Absolute("x", ax), Absolute("y", ay), LeftButton(true)});
    Sleep(0.1);
    Input({LeftButton(false)});
    Sleep(0.5);
  }

  // Press: a key pressed and released, times over, slowly enough for the
  // emulated keyboard controller's small queue.
  void Press(const std::string& qcode, int times = 1) {
    for (int i = 0; i < times; ++i) {
      Input({KeyEvent(qcode, true)});
      Input({KeyEvent(qcode, false)});
      Sleep(0.1);
    }
  }

  // Type: a command typed on the machine's keyboard, as the person at it
  // types it; false at a character it has no key for.
  bool Type(const std::string& text) {
    for (const char c : text) {
      const auto key = TypedKey(c);
      if (!key) return false;
      if (key->second) Input({KeyEvent("shift", true)});
      Press(key->first);
      if (key->second) Input({KeyEvent("shift", false)});
    }
    return true;
  }

  pid_t Pid = -1;
  fs::path Folder;
  LineReader Serial, Monitor;
  std::string Log;
};

}  // namespace support
