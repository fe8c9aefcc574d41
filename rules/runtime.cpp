#include "rules/runtime.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

namespace {
void (*ShutdownHook)() = nullptr;
void (*ExitHandler)(int code) = nullptr;
}  // namespace

void SetRunErrorShutdown(void (*hook)()) { ShutdownHook = hook; }

std::uint32_t ImageOffset(const void* place) {
  // The load address changes from run to run; the offset in the image does
  // not, so the same failure always names the same place.
  Dl_info info{};
  std::uintptr_t address = reinterpret_cast<std::uintptr_t>(place);
  if (dladdr(place, &info) != 0 && info.dli_fbase != nullptr)
    address -= reinterpret_cast<std::uintptr_t>(info.dli_fbase);
  return static_cast<std::uint32_t>(address);
}

void SetRunErrorExit(void (*handler)(int code)) { ExitHandler = handler; }

[[noreturn]] void RunErrorAt(int code, const void* place) {
  // The hook may itself fail (drawing while no mode is open ends the program
  // with its own report), so it is taken away before it runs.
  void (*hook)() = ShutdownHook;
  ShutdownHook = nullptr;
  if (hook != nullptr) hook();
  const std::uint32_t address = ImageOffset(place);
  std::fflush(stdout);
  std::printf("Runtime error %d at 0x%08X\n", code, static_cast<unsigned>(address));
  std::fflush(stdout);
  if (ExitHandler != nullptr) ExitHandler(code);
  std::exit(code);
}

[[noreturn]] __attribute__((noinline)) void RunError(int code) {
  RunErrorAt(code, __builtin_return_address(0));
}

[[noreturn]] __attribute__((noinline, cold)) void RangeError() {
  RunErrorAt(RangeErrorCode, __builtin_return_address(0));
}
