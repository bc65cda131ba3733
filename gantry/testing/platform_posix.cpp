// The tests' platform layer on POSIX systems, which never run under Wine.

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include "testing/platform.h"

namespace gantry_testing {

namespace netsock = gantry::netsock;

// Every socket here is closed on exec, so that a child a test starts can't
// keep a listener or a connection of the substitute open.
netsock::Socket ListenLoopback(uint16_t port, int backlog) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) return netsock::kInvalidSocket;
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = inet_addr("127.0.0.1");
  address.sin_port = htons(port);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(fd, backlog < 0 ? SOMAXCONN : backlog) != 0) {
    close(fd);
    return netsock::kInvalidSocket;
  }
  return fd;
}

netsock::Socket AcceptConnection(netsock::Socket listener) {
  int fd;
  do {
    fd = accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return netsock::kInvalidSocket;
#if defined(SO_NOSIGPIPE)
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
#endif
  return fd;
}

bool SendUrgentByte(netsock::Socket s) {
  const char byte = '!';
#if defined(MSG_NOSIGNAL)
  const int flags = MSG_OOB | MSG_NOSIGNAL;
#else
  const int flags = MSG_OOB;  // accepted sockets carry SO_NOSIGPIPE instead
#endif
  return send(static_cast<int>(s), &byte, 1, flags) == 1;
}

void ResetConnection(netsock::Socket s) {
  linger abort{1, 0};
  setsockopt(static_cast<int>(s), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  close(static_cast<int>(s));
}

double ThreadCpuMs() {
  timespec used{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
  return static_cast<double>(used.tv_sec) * 1000.0 + static_cast<double>(used.tv_nsec) / 1e6;
}

bool RunningUnderWine() {
  return false;
}

}  // namespace gantry_testing
