#include "link.h"

#include <new>

#include "bytes.h"

namespace gantry {

namespace {

constexpr uint16_t kPrimaryPort = 2000;
constexpr uint16_t kSecondaryPort = 6415;
constexpr uint8_t kSystemPacket = 0;

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
  Close();
  const uint32_t startTick = netsock::TickMs();
  const uint16_t ports[] = {kPrimaryPort, kSecondaryPort};
  for (uint16_t port : ports) {
    // The first port leaves the last part of the time to the second one.
    const uint32_t until =
        port == kPrimaryPort ? kConnectTimeoutMs - kSecondPortShareMs : kConnectTimeoutMs;
    const uint32_t elapsed = netsock::TickMs() - startTick;
    if (elapsed >= until) continue;
    // A fresh socket per attempt: some platforms can't connect again after a refusal.
    sock = netsock::OpenTcp();
    if (sock == netsock::kInvalidSocket) return false;
    if (netsock::ConnectLoopback(sock, port, static_cast<int>(until - elapsed))) {
      primaryPort = port == kPrimaryPort;
      return true;
    }
    Close();
  }
  return false;
}

bool EmulatorLink::CallTrap(uint16_t trap, int count, TrapParam* params, uint32_t* resultD0) {
  std::vector<uint8_t> body;
  if (sock == netsock::kInvalidSocket || !BuildRequestBody(trap, count, params, &body)) {
    return false;
  }
  uint8_t socketId = primaryPort ? kPrimarySocketId : kSecondarySocketId;
  uint32_t startTick = netsock::TickMs();
  DiscardPending();
  SendPacket(socketId, socketId, kSystemPacket, body.data(), body.size());
  std::vector<uint8_t> reply;
  if (!ReceivePacket(startTick, &reply)) return false;
  return DecodeReply(reply.data(), reply.size() - kPacketCrcSize, count, params, resultD0);
}

void EmulatorLink::Close() {
  netsock::CloseSocket(sock);
  sock = netsock::kInvalidSocket;
}

void EmulatorLink::SendPacket(uint8_t destSocket, uint8_t srcSocket, uint8_t type,
                              const uint8_t* body, size_t n) {
  ++transId;
  std::vector<uint8_t> packet;
  try {
    packet = FramePacket(destSocket, srcSocket, type, transId, body, n);
  } catch (const std::bad_alloc&) {
    return;  // nothing sent; the wait for a reply follows as usual
  }
  netsock::SendBytes(sock, packet.data(), packet.size());
}

bool EmulatorLink::ReceivePacket(uint32_t startTick, std::vector<uint8_t>* reply) {
  netsock::SetNonBlocking(sock);
  uint8_t header[kPacketHeaderSize];
  if (!ReceiveExactly(header, sizeof header, startTick)) return false;
  std::vector<uint8_t> rest(DecodeBe16(header + 6) + kPacketCrcSize);
  if (!ReceiveExactly(rest.data(), rest.size(), startTick)) return false;
  reply->swap(rest);
  return true;
}

bool EmulatorLink::ReceiveExactly(uint8_t* buffer, size_t n, uint32_t startTick) {
  size_t have = 0;
  while (have < n) {
    uint32_t elapsed = netsock::TickMs() - startTick;
    if (elapsed >= kReplyTimeoutMs) return false;
    if (!netsock::WaitReadable(sock, static_cast<int>(kReplyTimeoutMs - elapsed))) continue;
    size_t got = 0;
    switch (netsock::RecvBytes(sock, buffer + have, n - have, &got)) {
      case netsock::RecvStatus::Data:
        have += got;
        break;
      case netsock::RecvStatus::WouldBlock:
        break;
      case netsock::RecvStatus::Closed:
      case netsock::RecvStatus::Error:
        return false;
    }
  }
  return true;
}

void EmulatorLink::DiscardPending() {
  // Bounded, so that a peer that never stops sending can't hold the call here.
  uint8_t scrap[512];
  size_t got = 0;
  for (int i = 0; i < 256 && netsock::WaitReadable(sock, 0); ++i) {
    if (netsock::RecvBytes(sock, scrap, sizeof scrap, &got) != netsock::RecvStatus::Data) break;
  }
}

}  // namespace gantry
