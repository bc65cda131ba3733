// The tests' platform layer on Windows, where Wine may stand in for it.

#include <winsock2.h>
// after winsock2.h, which must come first
#include <windows.h>

#include "testing/platform.h"

namespace gantry_testing {

namespace netsock = gantry::netsock;

namespace {

double Ms(const FILETIME& time) {
  ULARGE_INTEGER ticks;
  ticks.LowPart = time.dwLowDateTime;
  ticks.HighPart = time.dwHighDateTime;
  return static_cast<double>(ticks.QuadPart) / 10000.0;  // 100 ns ticks
}

// Keeps a child a test starts from holding a listener or a connection of the
// substitute open.
SOCKET NotInherited(SOCKET s) {
  if (s != INVALID_SOCKET) {
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  }
  return s;
}

}  // namespace

netsock::Socket ListenLoopback(uint16_t port, int backlog) {
  SOCKET s = NotInherited(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
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
  SOCKET s = NotInherited(accept(static_cast<SOCKET>(listener), nullptr, nullptr));
  return s == INVALID_SOCKET ? netsock::kInvalidSocket : static_cast<netsock::Socket>(s);
}

bool SendUrgentByte(netsock::Socket s) {
  const char byte = '!';
  return send(static_cast<SOCKET>(s), &byte, 1, MSG_OOB) == 1;
}

void ResetConnection(netsock::Socket s) {
  linger abort{1, 0};
  setsockopt(static_cast<SOCKET>(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort),
             sizeof abort);
  closesocket(static_cast<SOCKET>(s));
}

double ThreadCpuMs() {
  FILETIME created, exited, kernel, user;
  if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
  return Ms(kernel) + Ms(user);
}

// Wine's ntdll exports wine_get_version; Windows' does not.
bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace gantry_testing
