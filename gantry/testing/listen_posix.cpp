// The listening side of loopback TCP on POSIX systems.

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "testing/listen.h"

namespace gantry_testing {

netsock::Socket ListenLoopback(uint16_t port, int backlog) {
  int fd = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
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
    fd = accept(static_cast<int>(listener), nullptr, nullptr);
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

}  // namespace gantry_testing
