#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "netsock.h"
#include "packet.h"

namespace gantry {

/// One loopback connection to the emulator for the length of one exported
/// call: connect, at most a couple of trap calls, close. Never shared.
class EmulatorLink {
 public:
  EmulatorLink();
  ~EmulatorLink();
  EmulatorLink(const EmulatorLink&) = delete;
  EmulatorLink& operator=(const EmulatorLink&) = delete;

  // Connects to 127.0.0.1 port 2000, else (on a fresh socket) port 6415,
  // within kConnectTimeoutMs in all: a port whose listener accepts nothing is
  // given up in time for the other one to be tried.
  bool Connect();

  // Sends one trap call and waits up to 5 s for its reply. True when a reply
  // came: then *resultD0 (if given) and every by-reference 'w'/'d' parameter
  // hold the reply's values. False, writing nothing, otherwise. A request that
  // can't be sent (a string longer than 253 characters, an unknown kind, a
  // missing value, a body over kMaxRequestBody bytes) is refused: nothing is
  // sent and the result is false.
  bool CallTrap(uint16_t trap, int count, TrapParam* params, uint32_t* resultD0);

  void Close();

  // How long a trap call waits for its reply, counted from the request.
  static constexpr uint32_t kReplyTimeoutMs = 5000;
  // How long Connect may take over both ports, and the part of it kept for
  // port 6415 when port 2000 neither accepts nor refuses.
  static constexpr uint32_t kConnectTimeoutMs = 5000;
  static constexpr uint32_t kSecondPortShareMs = 1000;

 private:
  // Frames the body with the next transaction id and sends it in one call;
  // a failed send shows only as a missing reply.
  void SendPacket(uint8_t destSocket, uint8_t srcSocket, uint8_t type, const uint8_t* body,
                  size_t n);
  // Assembles one reply packet from as many receives as it takes, until the
  // deadline counted from startTick. On success *reply holds the body and its
  // two CRC bytes.
  bool ReceivePacket(uint32_t startTick, std::vector<uint8_t>* reply);
  // Receives exactly n bytes into buffer before the deadline.
  bool ReceiveExactly(uint8_t* buffer, size_t n, uint32_t startTick);
  // Drops bytes left over from an earlier reply, so they can't pass for the
  // next one.
  void DiscardPending();

  netsock::Socket sock;
  uint8_t transId = 0;
  bool winsockStarted = false;
  bool primaryPort = false;
};

}  // namespace gantry
