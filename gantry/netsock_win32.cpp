// The socket layer on Windows: Windows Sockets 2.2, select for readiness and
// the kernel's millisecond tick count. Windows sockets never raise SIGPIPE.

// winsock2.h must come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include "netsock.h"

namespace gantry::netsock {

namespace {

SOCKET Handle(Socket s) {
  return static_cast<SOCKET>(s);
}

// Waits for a connect under way until timeoutMs pass, then takes its outcome:
// a refused connect shows in the failed set.
bool FinishConnect(SOCKET s, int timeoutMs) {
  fd_set writable;
  fd_set failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(s, &writable);
  FD_SET(s, &failed);
  timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  if (select(0, nullptr, &writable, &failed, &timeout) <= 0 || !FD_ISSET(s, &writable)) {
    return false;
  }
  int error = 0;
  int length = sizeof error;
  return getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) == 0 &&
         error == 0;
}

}  // namespace

bool Startup() {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void Cleanup() {
  WSACleanup();
}

Socket OpenTcp() {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return kInvalidSocket;
  // Not inherited by programs the host starts meanwhile: a copy there would
  // keep the connection open after gantry closed it.
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  return static_cast<Socket>(s);
}

bool ConnectLoopback(Socket s, uint16_t port, int timeoutMs) {
  u_long on = 1;
  if (ioctlsocket(Handle(s), FIONBIO, &on) != 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = inet_addr("127.0.0.1");
  address.sin_port = htons(port);
  bool connected =
      connect(Handle(s), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ||
      (WSAGetLastError() == WSAEWOULDBLOCK && FinishConnect(Handle(s), timeoutMs));
  u_long off = 0;
  return ioctlsocket(Handle(s), FIONBIO, &off) == 0 && connected;
}

void CloseSocket(Socket s) {
  if (s != kInvalidSocket) closesocket(Handle(s));
}

bool SetNonBlocking(Socket s) {
  u_long on = 1;
  return ioctlsocket(Handle(s), FIONBIO, &on) == 0;
}

SendStatus SendBytes(Socket s, const uint8_t* data, size_t n, size_t* sent) {
  int length = n > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(n);
  int result = send(Handle(s), reinterpret_cast<const char*>(data), length, 0);
  if (result > 0) {
    *sent = static_cast<size_t>(result);
    return SendStatus::Sent;
  }
  const int error = result == 0 ? WSAEWOULDBLOCK : WSAGetLastError();
  if (error == WSAEWOULDBLOCK) return SendStatus::WouldBlock;
  return (error == WSAECONNRESET || error == WSAECONNABORTED) ? SendStatus::Reset
                                                              : SendStatus::Error;
}

RecvStatus RecvBytes(Socket s, uint8_t* buffer, size_t n, size_t* got) {
  int length = n > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(n);
  int received = recv(Handle(s), reinterpret_cast<char*>(buffer), length, 0);
  if (received > 0) {
    *got = static_cast<size_t>(received);
    return RecvStatus::Data;
  }
  if (received == 0) {
    const int probe = send(Handle(s), reinterpret_cast<const char*>(buffer), 0, 0);
    return probe == 0 ? RecvStatus::Closed : RecvStatus::Reset;
  }
  const int error = WSAGetLastError();
  if (error == WSAEWOULDBLOCK) return RecvStatus::WouldBlock;
  return error == WSAECONNRESET ? RecvStatus::Reset : RecvStatus::Error;
}

bool WaitReadable(Socket s, int timeoutMs) {
  if (timeoutMs < 0) timeoutMs = 0;
  // Only the readable set: the exception set also reports urgent data, which
  // a receive never returns, so a blocking receive would wait for ever and a
  // wait loop would spin. A closed or failed connection shows as readable.
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(Handle(s), &readable);
  timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  // The first argument is ignored by Windows Sockets.
  return select(0, &readable, nullptr, nullptr, &timeout) > 0;
}

uint32_t TickMs() {
  return static_cast<uint32_t>(GetTickCount());
}

}  // namespace gantry::netsock
