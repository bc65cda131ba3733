#pragma once

// What the tests need from the platform beyond gantry's own socket calls: the
// listening side of loopback TCP with urgent data (for the emulator
// substitute), a thread's processor time, and whether Wine runs the tests. One
// implementation per platform (platform_posix.cpp, platform_win32.cpp), chosen
// by the build; accepted sockets are used with the netsock calls.

#include <cstdint>

#include "netsock.h"

namespace gantry_testing {

// A socket listening on 127.0.0.1 port, bound with address reuse, or
// netsock::kInvalidSocket. backlog -1 queues as many connections as the system
// allows; a small one makes a listener whose queue is soon full.
gantry::netsock::Socket ListenLoopback(uint16_t port, int backlog = -1);
// Sends one byte of urgent (out-of-band) data; true when it went.
bool SendUrgentByte(gantry::netsock::Socket s);
// Accepts one pending connection (call when the listener is readable), or
// returns netsock::kInvalidSocket.
gantry::netsock::Socket AcceptConnection(gantry::netsock::Socket listener);

// Closes the socket so that the peer sees the connection reset, not ended in
// order.
void ResetConnection(gantry::netsock::Socket s);

// The processor time the calling thread has used, for tests that tell a
// waiting call from a spinning one.
double ThreadCpuMs();

// Whether the tests run under Wine rather than on the system they were built
// for. Wine wakes a thread waiting in select late and unevenly, so a test that
// bounds a wake-up in milliseconds measures it more than once there.
bool RunningUnderWine();

}  // namespace gantry_testing
