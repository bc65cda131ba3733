#pragma once

// The few socket calls gantry needs, the same on every platform. One
// implementation per platform (netsock_posix.cpp, netsock_win32.cpp), chosen
// by the build. A socket is an intptr_t so that both a file descriptor and a
// Windows SOCKET fit; kInvalidSocket is the "no socket" value everywhere.

#include <cstddef>
#include <cstdint>

namespace gantry::netsock {

using Socket = intptr_t;
constexpr Socket kInvalidSocket = -1;

// Windows Sockets start-up (version 2.2) and clean-up; no-ops elsewhere.
bool Startup();
void Cleanup();

// A TCP stream socket, or kInvalidSocket.
Socket OpenTcp();
// Connects to 127.0.0.1 on port, giving up after timeoutMs (a listener that
// accepts nothing holds a plain connect far longer). The socket is left
// blocking.
bool ConnectLoopback(Socket s, uint16_t port, int timeoutMs);
void CloseSocket(Socket s);
bool SetNonBlocking(Socket s);

// Reset: the peer reset the connection (or the connection is gone after a
// reset), rather than closing it in order.
enum class SendStatus { Sent, WouldBlock, Reset, Error };
// One send call that never raises SIGPIPE; on Sent, *sent is the count (> 0).
SendStatus SendBytes(Socket s, const uint8_t* data, size_t n, size_t* sent);

// Closed: the peer closed the connection in order (end of stream).
enum class RecvStatus { Data, WouldBlock, Closed, Reset, Error };
// One receive call of at most n bytes; on Data, *got is the count (> 0). An
// end of stream is told apart from a reset (which some socket layers, Wine's
// among them, report as an end of stream too) by a send of no bytes, which
// fails only on a reset connection.
RecvStatus RecvBytes(Socket s, uint8_t* buffer, size_t n, size_t* got);

// Waits until s is readable or timeoutMs pass; true when readable. Urgent
// data alone does not count: no receive would take it.
bool WaitReadable(Socket s, int timeoutMs);

// A millisecond tick count for deadlines (wraps; compare by unsigned difference).
uint32_t TickMs();

}  // namespace gantry::netsock
