#include "link.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <new>
#include <thread>

#include "bytes.h"

namespace gantry {

namespace {

constexpr uint16_t kPrimaryPort = 2000;
constexpr uint16_t kSecondaryPort = 6415;
constexpr uint8_t kSystemPacket = 0;

// When a connection of this process last reached the emulator (a TickMs
// value), once one has: an emulator reached a moment ago that now refuses is
// between two listeners, however long a loaded machine keeps it there.
std::atomic<bool> reachedOnce{false};
std::atomic<uint32_t> lastReachedTick{0};

bool ReachedLately(uint32_t now) {
  return reachedOnce && now - lastReachedTick < EmulatorLink::kLatelyMs;
}

}  // namespace

EmulatorLink::EmulatorLink() : sock(netsock::kInvalidSocket) {
  winsockStarted = netsock::Startup();
}

EmulatorLink::~EmulatorLink() {
  // Also reached when an exception leaves the call before its Close.
  Close();
  if (winsockStarted) netsock::Cleanup();
}

bool EmulatorLink::Connect() {
  return Connect(netsock::TickMs());
}

bool EmulatorLink::Connect(uint32_t startTick) {
  // The emulator gives up its listener for a moment whenever it takes a
  // connection, and listens on port 2000 only while no client is there: both
  // ports refusing may be that moment, so they are tried again for a while.
  const uint32_t firstTry = netsock::TickMs();
  const uint32_t patience = ReachedLately(firstTry) ? kRefusedRetryLatelyMs : kRefusedRetryMs;
  while (!ConnectOnce(startTick)) {
    const uint32_t now = netsock::TickMs();
    if (now - firstTry + kRefusedPauseMs > patience ||
        now - startTick + kRefusedPauseMs >= kConnectTimeoutMs) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kRefusedPauseMs));
  }
  return true;
}

bool EmulatorLink::ConnectOnce(uint32_t startTick) {
  Close();
  connectStart = startTick;
  transId = 0;
  heardFromPeer = false;
  const uint16_t ports[] = {kPrimaryPort, kSecondaryPort};
  for (uint16_t port : ports) {
    const uint32_t elapsed = netsock::TickMs() - startTick;
    if (elapsed >= kConnectTimeoutMs) return false;
    // The first port leaves a share of the time that remains to the second.
    const uint32_t remaining = kConnectTimeoutMs - elapsed;
    const uint32_t share = std::min(kSecondPortShareMs, remaining / 2);
    const uint32_t allowed = port == kPrimaryPort ? remaining - share : remaining;
    // A fresh socket per attempt: some platforms can't connect again after a refusal.
    sock = netsock::OpenTcp();
    if (sock == netsock::kInvalidSocket) return false;
    if (netsock::ConnectLoopback(sock, port, static_cast<int>(allowed))) {
      primaryPort = port == kPrimaryPort;
      lastReachedTick = netsock::TickMs();
      reachedOnce = true;
      return true;
    }
    Close();
  }
  return false;
}

bool EmulatorLink::CallTrap(uint16_t trap, int count, TrapParam* params, uint32_t* resultD0,
                            Resend resend) {
  std::vector<uint8_t> body;
  if (sock == netsock::kInvalidSocket || !BuildRequestBody(trap, count, params, &body)) {
    return false;
  }
  std::vector<uint8_t> reply;
  for (int attempt = 1;; ++attempt) {
    const Exchanged outcome = Exchange(body, &reply);
    if (outcome == Exchanged::Replied) break;
    if (outcome == Exchanged::Failed || resend == Resend::Never || !Reconnect(attempt > 1)) {
      return false;
    }
  }
  return DecodeReply(reply.data(), reply.size() - kPacketCrcSize, count, params, resultD0);
}

EmulatorLink::Exchanged EmulatorLink::Exchange(const std::vector<uint8_t>& body,
                                               std::vector<uint8_t>* reply) {
  const uint8_t socketId = primaryPort ? kPrimarySocketId : kSecondarySocketId;
  const uint32_t startTick = netsock::TickMs();
  // A connection found ended before the request went can't have read it.
  const bool ended =
      !DiscardPending() || !SendPacket(socketId, socketId, kSystemPacket, body.data(), body.size());
  const netsock::RecvStatus status =
      ended ? netsock::RecvStatus::Reset : ReceivePacket(startTick, reply);
  if (status == netsock::RecvStatus::Data) return Exchanged::Replied;
  return status == netsock::RecvStatus::Reset && !heardFromPeer ? Exchanged::QueueReset
                                                                : Exchanged::Failed;
}

bool EmulatorLink::Reconnect(bool pauseFirst) {
  for (bool pause = pauseFirst;; pause = true) {
    Close();
    if (pause) {
      if (netsock::TickMs() - connectStart + kResendPauseMs >= kConnectTimeoutMs) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(kResendPauseMs));
    }
    if (Connect(connectStart)) return true;
  }
}

void EmulatorLink::Close() {
  netsock::CloseSocket(sock);
  sock = netsock::kInvalidSocket;
}

bool EmulatorLink::SendPacket(uint8_t destSocket, uint8_t srcSocket, uint8_t type,
                              const uint8_t* body, size_t n) {
  ++transId;
  std::vector<uint8_t> packet;
  try {
    packet = FramePacket(destSocket, srcSocket, type, transId, body, n);
  } catch (const std::bad_alloc&) {
    return true;  // nothing sent; the wait for a reply follows as usual
  }
  size_t sent = 0;
  return netsock::SendBytes(sock, packet.data(), packet.size(), &sent) !=
         netsock::SendStatus::Reset;
}

netsock::RecvStatus EmulatorLink::ReceivePacket(uint32_t startTick, std::vector<uint8_t>* reply) {
  netsock::SetNonBlocking(sock);
  uint8_t header[kPacketHeaderSize];
  netsock::RecvStatus status = ReceiveExactly(header, sizeof header, startTick);
  if (status != netsock::RecvStatus::Data) return status;
  std::vector<uint8_t> rest(DecodeBe16(header + 6) + kPacketCrcSize);
  status = ReceiveExactly(rest.data(), rest.size(), startTick);
  if (status == netsock::RecvStatus::Data) reply->swap(rest);
  return status;
}

netsock::RecvStatus EmulatorLink::ReceiveExactly(uint8_t* buffer, size_t n, uint32_t startTick) {
  size_t have = 0;
  while (have < n) {
    uint32_t elapsed = netsock::TickMs() - startTick;
    if (elapsed >= kReplyTimeoutMs) return netsock::RecvStatus::WouldBlock;
    if (!netsock::WaitReadable(sock, static_cast<int>(kReplyTimeoutMs - elapsed))) continue;
    size_t got = 0;
    const netsock::RecvStatus status = netsock::RecvBytes(sock, buffer + have, n - have, &got);
    if (status == netsock::RecvStatus::Data) {
      have += got;
      heardFromPeer = true;
    } else if (status != netsock::RecvStatus::WouldBlock) {
      return status;
    }
  }
  return netsock::RecvStatus::Data;
}

bool EmulatorLink::DiscardPending() {
  // Bounded, so that a peer that never stops sending can't hold the call here.
  uint8_t scrap[512];
  size_t got = 0;
  for (int i = 0; i < 256 && netsock::WaitReadable(sock, 0); ++i) {
    const netsock::RecvStatus status = netsock::RecvBytes(sock, scrap, sizeof scrap, &got);
    if (status == netsock::RecvStatus::Data) {
      heardFromPeer = true;
    } else {
      return status == netsock::RecvStatus::WouldBlock;
    }
  }
  return true;
}

}  // namespace gantry
