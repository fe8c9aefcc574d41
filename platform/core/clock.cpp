// The clocks: the system's, for hosts to hand on, the program's time of day
// and its pauses.

#include <sys/time.h>

#include <algorithm>
#include <chrono>
#include <ctime>

#include "platform/core/core.h"

long double TimeOfDay() { return ActiveHost().TimeOfDay(); }

void SleepMilliseconds(int milliseconds) {
  if (HasDisplayThread()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    return;
  }
  // The host's environment runs while the program pauses.
  const Host& host = ActiveHost();
  std::uint64_t until = host.Milliseconds() + static_cast<std::uint64_t>(std::max(milliseconds, 0));
  for (std::uint64_t now = host.Milliseconds(); now < until; now = host.Milliseconds())
    host.Pump(static_cast<int>(until - now));
}

std::uint64_t SystemMilliseconds() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

long double SystemTimeOfDay() {
  timeval now{};
  gettimeofday(&now, nullptr);
  std::tm local{};
  const std::time_t seconds = now.tv_sec;
  localtime_r(&seconds, &local);
  return static_cast<long double>(local.tm_hour) * 3600.0L +
         static_cast<long double>(local.tm_min) * 60.0L + static_cast<long double>(local.tm_sec) +
         static_cast<long double>(now.tv_usec / 1000) / 1000.0L +
         static_cast<long double>(now.tv_usec % 1000) / 1000000.0L;
}
