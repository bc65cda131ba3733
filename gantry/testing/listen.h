#pragma once

// The listening side of loopback TCP, which only the emulator substitute
// needs. One implementation per platform, chosen by the build; accepted
// sockets are used with the netsock calls.

#include <cstdint>

#include "netsock.h"

namespace gantry_testing {

// A socket listening on 127.0.0.1 port, bound with address reuse, or
// netsock::kInvalidSocket. backlog -1 queues as many connections as the system
// allows; a small one makes a listener whose queue is soon full.
netsock::Socket ListenLoopback(uint16_t port, int backlog = -1);
// Sends one byte of urgent (out-of-band) data; true when it went.
bool SendUrgentByte(netsock::Socket s);
// Accepts one pending connection (call when the listener is readable), or
// returns netsock::kInvalidSocket.
netsock::Socket AcceptConnection(netsock::Socket listener);

}  // namespace gantry_testing
