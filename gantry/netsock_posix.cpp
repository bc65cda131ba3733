// The socket layer on POSIX systems: file descriptors, poll and the monotonic
// clock. There is no start-up or clean-up to do.

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include "netsock.h"

namespace gantry::netsock {

namespace {

// Where the platform has no send flag against SIGPIPE, the socket option
// SO_NOSIGPIPE (set at creation) does the same.
#if defined(MSG_NOSIGNAL)
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;
#endif

int Fd(Socket s) {
  return static_cast<int>(s);
}

// Waits for a connect under way until timeoutMs pass, then takes its outcome.
bool FinishConnect(int fd, int timeoutMs) {
  const uint32_t start = TickMs();
  pollfd entry{fd, POLLOUT, 0};
  int ready;
  for (;;) {
    const uint32_t elapsed = TickMs() - start;
    if (elapsed >= static_cast<uint32_t>(timeoutMs)) return false;
    ready = poll(&entry, 1, timeoutMs - static_cast<int>(elapsed));
    if (ready >= 0 || errno != EINTR) break;
  }
  if (ready <= 0) return false;
  int error = 0;
  socklen_t length = sizeof error;
  return getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

}  // namespace

bool Startup() {
  return true;
}

void Cleanup() {}

Socket OpenTcp() {
  // Not inherited by programs the host starts meanwhile: a copy there would
  // keep the connection open after gantry closed it.
#if defined(SOCK_CLOEXEC)
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
#else
  int fd = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (fd >= 0) fcntl(fd, F_SETFD, FD_CLOEXEC);
#endif
  if (fd < 0) return kInvalidSocket;
#if defined(SO_NOSIGPIPE)
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
#endif
  return fd;
}

bool ConnectLoopback(Socket s, uint16_t port, int timeoutMs) {
  const int flags = fcntl(Fd(s), F_GETFL, 0);
  if (flags < 0 || fcntl(Fd(s), F_SETFL, flags | O_NONBLOCK) != 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = inet_addr("127.0.0.1");
  address.sin_port = htons(port);
  bool connected =
      connect(Fd(s), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ||
      ((errno == EINPROGRESS || errno == EINTR) && FinishConnect(Fd(s), timeoutMs));
  return fcntl(Fd(s), F_SETFL, flags) == 0 && connected;
}

void CloseSocket(Socket s) {
  if (s != kInvalidSocket) close(Fd(s));
}

bool SetNonBlocking(Socket s) {
  int flags = fcntl(Fd(s), F_GETFL, 0);
  return flags >= 0 && fcntl(Fd(s), F_SETFL, flags | O_NONBLOCK) == 0;
}

SendStatus SendBytes(Socket s, const uint8_t* data, size_t n, size_t* sent) {
  ssize_t result;
  do {
    result = send(Fd(s), data, n, kSendFlags);
  } while (result < 0 && errno == EINTR);
  if (result > 0) {
    *sent = static_cast<size_t>(result);
    return SendStatus::Sent;
  }
  if (result == 0 || errno == EAGAIN || errno == EWOULDBLOCK) return SendStatus::WouldBlock;
  // After a reset the first call reports it; later ones find the connection
  // shut for sending.
  return (errno == ECONNRESET || errno == EPIPE) ? SendStatus::Reset : SendStatus::Error;
}

RecvStatus RecvBytes(Socket s, uint8_t* buffer, size_t n, size_t* got) {
  ssize_t received;
  do {
    received = recv(Fd(s), buffer, n, 0);
  } while (received < 0 && errno == EINTR);
  if (received > 0) {
    *got = static_cast<size_t>(received);
    return RecvStatus::Data;
  }
  if (received == 0) {
    return send(Fd(s), buffer, 0, kSendFlags) == 0 ? RecvStatus::Closed : RecvStatus::Reset;
  }
  if (errno == EAGAIN || errno == EWOULDBLOCK) return RecvStatus::WouldBlock;
  return errno == ECONNRESET ? RecvStatus::Reset : RecvStatus::Error;
}

bool WaitReadable(Socket s, int timeoutMs) {
  pollfd entry{Fd(s), POLLIN, 0};
  int ready = poll(&entry, 1, timeoutMs < 0 ? 0 : timeoutMs);
  // An error or hang-up also counts: the next receive reports it.
  return ready > 0 && entry.revents != 0;
}

uint32_t TickMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                               static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

}  // namespace gantry::netsock
