// The listening side of loopback TCP on Windows.

#include <winsock2.h>

#include "testing/listen.h"

namespace gantry_testing {

netsock::Socket ListenLoopback(uint16_t port, int backlog) {
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return netsock::kInvalidSocket;
  BOOL on = TRUE;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = inet_addr("127.0.0.1");
  address.sin_port = htons(port);
  if (bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(s, backlog < 0 ? SOMAXCONN : backlog) != 0) {
    closesocket(s);
    return netsock::kInvalidSocket;
  }
  return static_cast<netsock::Socket>(s);
}

netsock::Socket AcceptConnection(netsock::Socket listener) {
  SOCKET s = accept(static_cast<SOCKET>(listener), nullptr, nullptr);
  return s == INVALID_SOCKET ? netsock::kInvalidSocket : static_cast<netsock::Socket>(s);
}

bool SendUrgentByte(netsock::Socket s) {
  const char byte = '!';
  return send(static_cast<SOCKET>(s), &byte, 1, MSG_OOB) == 1;
}

}  // namespace gantry_testing
