#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "netsock.h"
#include "packet.h"

namespace gantry {

/// One loopback connection to the emulator for the length of one exported
/// call: connect, at most a few trap calls, close. Never shared.
class EmulatorLink {
 public:
  EmulatorLink();
  ~EmulatorLink();
  EmulatorLink(const EmulatorLink&) = delete;
  EmulatorLink& operator=(const EmulatorLink&) = delete;

  // Connects to 127.0.0.1 port 2000, else (on a fresh socket) port 6415,
  // within kConnectTimeoutMs counted from startTick (a netsock::TickMs value:
  // the start of the call), or from now: a port whose listener accepts
  // nothing is given up in time for the other one to be tried. When both
  // refuse, both are tried again kRefusedPauseMs apart for kRefusedRetryMs, or
  // for kRefusedRetryLatelyMs when a connection of this process reached the
  // emulator within the last kLatelyMs.
  // Every new connection starts its transaction ids again at 1.
  bool Connect();
  bool Connect(uint32_t startTick);

  // Whether a request goes again on a new connection when the emulator reset
  // the one it was sent on before any byte came back: such a connection was
  // still waiting in the emulator's queue, so the request was never read.
  enum class Resend { OnQueueReset, Never };

  // Sends one trap call and waits up to 5 s for its reply. True when a reply
  // came: then *resultD0 (if given) and every by-reference 'w'/'d' parameter
  // hold the reply's values. False, writing nothing, otherwise. A request that
  // can't be sent (a string longer than 253 characters, an unknown kind, a
  // missing value, a body over kMaxRequestBody bytes) is refused: nothing is
  // sent and the result is false. With Resend::OnQueueReset, a connection
  // reset before anything came back on it is made again (port 2000, then
  // 6415) and the request sent again, for as long as the connect bound of
  // Connect lasts; an orderly close is never answered by sending again.
  bool CallTrap(uint16_t trap, int count, TrapParam* params, uint32_t* resultD0,
                Resend resend = Resend::OnQueueReset);

  void Close();

  // How long a trap call waits for its reply, counted from the request.
  static constexpr uint32_t kReplyTimeoutMs = 5000;
  // How long Connect may take over both ports, and the part of it kept for
  // port 6415 when port 2000 neither accepts nor refuses.
  static constexpr uint32_t kConnectTimeoutMs = 5000;
  static constexpr uint32_t kSecondPortShareMs = 1000;
  // The pause before each new connection after the first one made again, so
  // that an emulator that resets or refuses every connection isn't hammered.
  static constexpr uint32_t kResendPauseMs = 50;
  // How long a refusal on both ports is taken for an emulator between two
  // listeners (it listens again within a millisecond or so), and the pause
  // between the tries.
  static constexpr uint32_t kRefusedRetryMs = 100;
  static constexpr uint32_t kRefusedRetryLatelyMs = 1000;
  static constexpr uint32_t kLatelyMs = 5000;
  static constexpr uint32_t kRefusedPauseMs = 20;

 private:
  // Port 2000, then 6415, once each.
  bool ConnectOnce(uint32_t startTick);

  /// How one exchange of a request and its reply ended.
  enum class Exchanged { Replied, QueueReset, Failed };

  // Sends the body and waits for its reply into *reply.
  Exchanged Exchange(const std::vector<uint8_t>& body, std::vector<uint8_t>* reply);
  // Connects again for a request to go once more, within the bound of the
  // last Connect. The emulator reset a connection a moment ago, so a refusal
  // only means that it is between listeners: connecting goes on, kResendPauseMs
  // apart (also before the first try with pauseFirst), until the bound.
  bool Reconnect(bool pauseFirst);
  // Frames the body with the next transaction id and sends it in one call.
  // False only when the connection turned out to be reset; any other failed
  // send shows as a missing reply.
  bool SendPacket(uint8_t destSocket, uint8_t srcSocket, uint8_t type, const uint8_t* body,
                  size_t n);
  // Assembles one reply packet from as many receives as it takes, until the
  // deadline counted from startTick. On success *reply holds the body and its
  // two CRC bytes.
  netsock::RecvStatus ReceivePacket(uint32_t startTick, std::vector<uint8_t>* reply);
  // Receives exactly n bytes into buffer before the deadline: Data when all
  // came, WouldBlock when the time ran out, else how the connection ended.
  netsock::RecvStatus ReceiveExactly(uint8_t* buffer, size_t n, uint32_t startTick);
  // Drops bytes left over from an earlier reply, so they can't pass for the
  // next one. False when the connection turned out to have ended.
  bool DiscardPending();

  netsock::Socket sock;
  uint8_t transId = 0;
  bool winsockStarted = false;
  bool primaryPort = false;
  bool heardFromPeer = false;  // a byte came on this connection
  uint32_t connectStart = 0;   // the tick the connect bound counts from
};

}  // namespace gantry
