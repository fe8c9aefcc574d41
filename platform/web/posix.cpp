// What the browser lacks of the system interface the core's terminal code
// uses: there are neither alternate signal stacks nor loaded shared objects,
// so the two calls get the answers of a system without them (and the core
// then leaves both alone). Part of every build of the core for the browser.

#include <link.h>
#include <signal.h>

#include <cerrno>
#include <cstddef>

extern "C" int sigaltstack(const stack_t*, stack_t*) {
  errno = ENOSYS;
  return -1;
}

extern "C" int dl_iterate_phdr(int (*)(dl_phdr_info*, std::size_t, void*), void*) { return 0; }
