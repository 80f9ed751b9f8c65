#include "input/interrupt.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace talvo {
namespace {

volatile std::sig_atomic_t g_signal = 0;  // the signal that asked to stop, 0 for none
int g_pipe[2] = {-1, -1};                 // self-pipe: the handler writes a byte to [1]

extern "C" void on_stop(int sig) {
  const int saved = errno;
  g_signal = sig;
  const char b = 1;
  // Non-blocking: a full pipe already says all there is to say.
  if (g_pipe[1] >= 0 && write(g_pipe[1], &b, 1) < 0) {
  }
  errno = saved;
}

}  // namespace

bool catch_interrupts() {
  if (g_pipe[0] < 0) {
    if (pipe(g_pipe) != 0) return false;
    for (int fd : g_pipe) {
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
      fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
  }
  struct sigaction sa {};
  sa.sa_handler = on_stop;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: a blocked read returns
  return sigaction(SIGINT, &sa, nullptr) == 0 && sigaction(SIGTERM, &sa, nullptr) == 0;
}

int interrupted() {
  return g_signal;
}

int interrupt_fd() {
  return g_pipe[0];
}

void clear_interrupt() {
  g_signal = 0;
  char sink[64];
  while (g_pipe[0] >= 0 && read(g_pipe[0], sink, sizeof sink) > 0) {
  }
}

}  // namespace talvo
