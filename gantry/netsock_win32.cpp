// The socket layer on Windows: Windows Sockets 2.2, select for readiness and
// the kernel's millisecond tick count. Windows sockets never raise SIGPIPE.

// winsock2.h must come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include "netsock.h"

namespace netsock {

namespace {

SOCKET Handle(Socket s) {
  return static_cast<SOCKET>(s);
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
  return s == INVALID_SOCKET ? kInvalidSocket : static_cast<Socket>(s);
}

bool ConnectLoopback(Socket s, uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = inet_addr("127.0.0.1");
  address.sin_port = htons(port);
  return connect(Handle(s), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

void CloseSocket(Socket s) {
  if (s != kInvalidSocket) closesocket(Handle(s));
}

bool SetNonBlocking(Socket s) {
  u_long on = 1;
  return ioctlsocket(Handle(s), FIONBIO, &on) == 0;
}

long SendBytes(Socket s, const uint8_t* data, size_t n) {
  int length = n > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(n);
  int sent = send(Handle(s), reinterpret_cast<const char*>(data), length, 0);
  return sent == SOCKET_ERROR ? -1 : static_cast<long>(sent);
}

RecvStatus RecvBytes(Socket s, uint8_t* buffer, size_t n, size_t* got) {
  int length = n > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(n);
  int received = recv(Handle(s), reinterpret_cast<char*>(buffer), length, 0);
  if (received > 0) {
    *got = static_cast<size_t>(received);
    return RecvStatus::Data;
  }
  if (received == 0) return RecvStatus::Closed;
  return WSAGetLastError() == WSAEWOULDBLOCK ? RecvStatus::WouldBlock : RecvStatus::Error;
}

bool WaitReadable(Socket s, int timeoutMs) {
  if (timeoutMs < 0) timeoutMs = 0;
  fd_set readable;
  fd_set failed;
  FD_ZERO(&readable);
  FD_ZERO(&failed);
  FD_SET(Handle(s), &readable);
  FD_SET(Handle(s), &failed);
  timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  // The first argument is ignored by Windows Sockets.
  return select(0, &readable, nullptr, &failed, &timeout) > 0;
}

uint32_t TickMs() {
  return static_cast<uint32_t>(GetTickCount());
}

}  // namespace netsock
