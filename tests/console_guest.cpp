// kelvar-console-guest: the console suite's tool inside the virtual machine.
// It starts the game on the first virtual console as a console login would
// (a session of its own, tty1 its controlling terminal and standard
// streams) and reports on its standard output, one line each:
//
//   run DIR PROGRAM [ARGS]  "@pid N" once started, "@exit STATUS kd=M kb=K
//                           kb0=K0 lflag=L" when it ends: the status (128 + N
//                           for a signal), tty1's display mode and keyboard
//                           mode once text and a keyboard are back (at most
//                           5 s later), its keyboard mode before, and whether
//                           echo and line editing are on (1) again
//   text                    tty1's text, "@text LINE" for each line that is
//                           not blank, then "@text-end"
//   cpu PID                 "@cpu TICKS HZ UPTIME": the process's user and
//                           system time in clock ticks, the ticks a second,
//                           and the seconds since the guest booted
//   memory PID              "@memory KB": the process's resident memory

#include <fcntl.h>
#include <linux/kd.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr const char* Console = "/dev/tty1";

struct ConsoleModes {
  int Display = -1, Keyboard = -1, LineFlags = -1;
};

ConsoleModes ReadModes() {
  ConsoleModes modes;
  const int fd = open(Console, O_RDWR | O_NOCTTY);
  if (fd < 0) return modes;
  ioctl(fd, KDGETMODE, &modes.Display);
  ioctl(fd, KDGKBMODE, &modes.Keyboard);
  termios settings{};
  if (tcgetattr(fd, &settings) == 0)
    modes.LineFlags = (settings.c_lflag & (ECHO | ICANON)) == (ECHO | ICANON) ? 1 : 0;
  close(fd);
  return modes;
}

int Run(char** argv) {
  const ConsoleModes before = ReadModes();
  const pid_t pid = fork();
  if (pid == 0) {
    setsid();
    const int fd = open(Console, O_RDWR);
    if (fd < 0) _exit(126);
    ioctl(fd, TIOCSCTTY, 0);
    dup2(fd, 0);
    dup2(fd, 1);
    dup2(fd, 2);
    if (fd > 2) close(fd);
    // What the person saw before the game: a line to find on the screen afterwards.
    static const char greeting[] = "kelvar console check\n";
    if (write(1, greeting, sizeof greeting - 1) < 0) _exit(126);
    if (chdir(argv[0]) != 0) _exit(126);
    execv(argv[1], argv + 1);
    _exit(127);
  }
  std::printf("@pid %d\n", static_cast<int>(pid));
  std::fflush(stdout);
  int status = 0;
  waitpid(pid, &status, 0);
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  // A game that could run no code on its way out (SIGKILL) leaves the
  // console to the seat's manager, which is given 5 seconds.
  ConsoleModes after = ReadModes();
  for (int tries = 0; tries < 50 && (after.Display != KD_TEXT || after.Keyboard == K_OFF);
       ++tries) {
    usleep(100000);
    after = ReadModes();
  }
  std::printf("@exit %d kd=%d kb=%d kb0=%d lflag=%d\n", code, after.Display, after.Keyboard,
              before.Keyboard, after.LineFlags);
  std::fflush(stdout);
  return 0;
}

int Text() {
  std::ifstream in("/dev/vcsa1", std::ios::binary);
  unsigned char header[4];
  if (!in.read(reinterpret_cast<char*>(header), 4)) return 1;
  const int rows = header[0], columns = header[1];
  std::vector<char> cells(static_cast<std::size_t>(rows * columns * 2));
  in.read(cells.data(), static_cast<std::streamsize>(cells.size()));
  for (int row = 0; row < rows; ++row) {
    std::string line;
    for (int column = 0; column < columns; ++column) {
      const char c = cells[static_cast<std::size_t>((row * columns + column) * 2)];
      line += c >= 32 && c < 127 ? c : ' ';
    }
    line.erase(line.find_last_not_of(' ') + 1);
    if (!line.empty()) std::printf("@text %s\n", line.c_str());
  }
  std::printf("@text-end\n");
  return 0;
}

int Cpu(const char* pid) {
  std::ifstream in(std::string("/proc/") + pid + "/stat");
  std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // The fields after the command's closing parenthesis: state is the 3rd,
  // utime the 14th and stime the 15th of the whole line.
  std::istringstream fields(stat.substr(stat.rfind(')') + 2));
  std::string field;
  long long ticks = 0;
  for (int index = 3; fields >> field && index <= 15; ++index)
    if (index >= 14) ticks += std::stoll(field);
  std::ifstream uptime("/proc/uptime");
  double seconds = 0;
  uptime >> seconds;
  std::printf("@cpu %lld %ld %.2f\n", ticks, sysconf(_SC_CLK_TCK), seconds);
  return 0;
}

int Memory(const char* pid) {
  std::ifstream in(std::string("/proc/") + pid + "/status");
  std::string line;
  long kilobytes = -1;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) kilobytes = std::stol(line.substr(6));
  std::printf("@memory %ld\n", kilobytes);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "run" && argc > 3) return Run(argv + 2);
  if (command == "text") return Text();
  if (command == "cpu" && argc > 2) return Cpu(argv[2]);
  if (command == "memory" && argc > 2) return Memory(argv[2]);
  std::fprintf(
      stderr, "usage: kelvar-console-guest run DIR PROGRAM [ARGS] | text | cpu PID | memory PID\n");
  return 2;
}
