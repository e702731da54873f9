// zr-jet-read: reads a Jet database for ZrBunsyoRes, which starts it.
// Standard input is the database, standard output the socket on which the
// program asks its questions (platform/jet/Protocol.h).

#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <exception>

#include "platform/jet/ReadService.h"

#if defined(__SANITIZE_ADDRESS__)
#define ZR_JET_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZR_JET_ASAN 1
#endif
#endif

namespace {

// The program ends a helper that overruns its answer's deadline; these
// bound one whose program is no longer there to do it.
void LimitResources() {
  constexpr rlim_t kCpuSeconds = 60;
  rlimit cpu{kCpuSeconds, kCpuSeconds};
  setrlimit(RLIMIT_CPU, &cpu);
#ifndef ZR_JET_ASAN
  rlimit memory{rlim_t{2} << 30, rlim_t{2} << 30};
  setrlimit(RLIMIT_AS, &memory);
#endif
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1) {
    std::fprintf(stderr, "%s: started by ZrBunsyoRes only; it takes no arguments\n", argv[0]);
    return 2;
  }
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  // Whoever started us, nothing but the three standard descriptors stays open.
  close_range(3, ~0U, 0);
  LimitResources();
  try {
    return zr::jet::detail::ServeReads(STDIN_FILENO, STDOUT_FILENO);
  } catch (...) {
    return 3;
  }
}
