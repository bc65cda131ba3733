#include "testing/emulator_substitute.h"

#include <algorithm>
#include <chrono>

#include "bytes.h"
#include "netsock.h"
#include "testing/platform.h"

// The substitute frames and checks packets with its own code, apart from the
// link's (only the byte helpers are shared), so that a fault in the link's
// framing can't hide behind the same fault here.

namespace gantry_testing {

namespace {

namespace netsock = gantry::netsock;
using gantry::DecodeBe16;
using gantry::DecodeBe32;
using gantry::EncodeBe16;
using gantry::EncodeBe32;

constexpr int kPollMs = 20;
constexpr size_t kHeaderSize = 10;
constexpr size_t kRpcHeaderSize = 14;
constexpr uint8_t kReplyCommand = 0x8A;
constexpr uint8_t kFloodByte = 0xEE;

uint16_t BitwiseCrc(const uint8_t* data, size_t n) {
  uint16_t crc = 0;
  for (size_t i = 0; i < n; ++i) {
    crc ^= static_cast<uint16_t>(data[i] << 8);
    for (int bit = 0; bit < 8; ++bit) {
      crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
  }
  return crc;
}

Bytes Frame(uint8_t dest, uint8_t src, uint8_t transId, const Bytes& body) {
  // Sized once and filled in place: GCC 12 at -O3 takes the growing of this
  // vector for copies out of bounds.
  Bytes packet(kHeaderSize + body.size() + 2);
  const uint8_t header[kHeaderSize - 1] = {0xBE, 0xEF, 0xED, dest, src, 0, 0, 0, transId};
  std::copy(header, header + sizeof header, packet.begin());
  gantry::EncodeBe16(&packet[6], static_cast<uint16_t>(body.size()));
  unsigned sum = 0;
  for (size_t i = 0; i < 9; ++i)
    sum += packet[i];
  packet[9] = static_cast<uint8_t>(sum);
  std::copy(body.begin(), body.end(), packet.begin() + kHeaderSize);
  const size_t crcAt = packet.size() - 2;
  gantry::EncodeBe16(&packet[crcAt], BitwiseCrc(packet.data(), crcAt));
  return packet;
}

// Reads exactly n bytes, polling so that stopping is noticed. *peerClosed
// tells whether the peer ended the stream (or reset it).
bool ReadExactly(netsock::Socket s, uint8_t* buffer, size_t n, const std::atomic<bool>& stopping,
                 bool* peerClosed) {
  size_t have = 0;
  while (have < n) {
    if (stopping) return false;
    if (!netsock::WaitReadable(s, kPollMs)) continue;
    size_t got = 0;
    netsock::RecvStatus status = netsock::RecvBytes(s, buffer + have, n - have, &got);
    if (status == netsock::RecvStatus::Data) {
      have += got;
    } else if (status != netsock::RecvStatus::WouldBlock) {
      *peerClosed = true;
      return false;
    }
  }
  return true;
}

// The byte offsets of the whole slots in body, from offset 14, in wire order.
std::vector<size_t> SlotOffsets(const Bytes& body, size_t count) {
  std::vector<size_t> offsets;
  size_t offset = kRpcHeaderSize;
  while (offsets.size() < count && offset + 2 <= body.size() &&
         offset + 2 + body[offset + 1] <= body.size()) {
    offsets.push_back(offset);
    offset += 2 + body[offset + 1];
  }
  return offsets;
}

char KindFromSize(size_t dataSize) {
  return dataSize == 2 ? 'w' : dataSize == 4 ? 'd' : 's';
}

}  // namespace

struct EmulatorSubstitute::Listener {
  uint16_t port = 0;
  netsock::Socket sock = netsock::kInvalidSocket;  // invalid while closed
  std::thread thread;
  std::atomic<int> connected{0};  // its accepted connections not yet ended
};

struct EmulatorSubstitute::Connection {
  Listener* listener = nullptr;  // lives until Stop has joined this connection
  uint16_t port = 0;
  int number = 0;
  netsock::Socket sock = netsock::kInvalidSocket;
  std::thread thread;
  std::atomic<bool> finished{false};  // its thread has nothing left to do
};

EmulatorSubstitute::EmulatorSubstitute() {
  socketsStarted = netsock::Startup();
}

EmulatorSubstitute::~EmulatorSubstitute() {
  Stop();
  if (socketsStarted) netsock::Cleanup();
}

bool EmulatorSubstitute::Start(const std::vector<uint16_t>& ports) {
  std::lock_guard<std::mutex> lock(mutex);
  if (running) return false;
  std::vector<std::unique_ptr<Listener>> opened;
  for (uint16_t port : ports) {
    auto listener = std::make_unique<Listener>();
    listener->port = port;
    listener->sock = ListenLoopback(port, likeEmulator ? kEmulatorBacklog : -1);
    if (listener->sock == netsock::kInvalidSocket) {
      for (auto& other : opened)
        netsock::CloseSocket(other->sock);
      return false;
    }
    opened.push_back(std::move(listener));
  }
  ResetRecordLocked();
  requestsSinceStart = 0;
  stopping = false;
  running = true;
  listeners = std::move(opened);
  for (auto& listener : listeners) {
    listener->thread = std::thread(
        likeEmulator ? &EmulatorSubstitute::TickingListenLoop : &EmulatorSubstitute::ListenLoop,
        this, listener.get());
  }
  return true;
}

void EmulatorSubstitute::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (!running) return;
    stopping = true;
  }
  changed.notify_all();
  for (auto& listener : listeners) {
    listener->thread.join();
    netsock::CloseSocket(listener->sock);
  }
  std::vector<std::unique_ptr<Connection>> ended;
  {
    std::lock_guard<std::mutex> lock(mutex);
    ended.swap(connections);
  }
  for (auto& connection : ended)
    connection->thread.join();
  std::lock_guard<std::mutex> lock(mutex);
  listeners.clear();
  running = false;
}

bool EmulatorSubstitute::Running() const {
  std::lock_guard<std::mutex> lock(mutex);
  return running;
}

void EmulatorSubstitute::AddDatabase(const std::string& name, uint32_t localId, uint16_t version) {
  device.Add(name, localId, version);
}

void EmulatorSubstitute::SetInstallResult(uint32_t d0) {
  std::lock_guard<std::mutex> lock(mutex);
  mode.installResultForced = true;
  mode.installResult = d0;
}

void EmulatorSubstitute::SetScreenFormat(ScreenFormat format) {
  std::lock_guard<std::mutex> lock(mutex);
  mode.screen = format;
}

std::vector<std::string> EmulatorSubstitute::InstalledPaths() const {
  std::lock_guard<std::mutex> lock(mutex);
  return installedPaths;
}

void EmulatorSubstitute::SetTrapD0(uint16_t trap, uint32_t d0) {
  std::lock_guard<std::mutex> lock(mutex);
  trapD0[trap] = d0;
}

void EmulatorSubstitute::SetByRefValue(uint16_t trap, int paramNo, uint32_t value) {
  std::lock_guard<std::mutex> lock(mutex);
  byRefValues[{trap, paramNo}] = value;
}

void EmulatorSubstitute::SetTrapSignature(uint16_t trap, const std::string& kinds) {
  std::lock_guard<std::mutex> lock(mutex);
  signatures[trap] = kinds;
}

void EmulatorSubstitute::SetFault(const Fault& fault) {
  std::lock_guard<std::mutex> lock(mutex);
  defaultFault = fault;
}

void EmulatorSubstitute::SetFaultForRequest(int requestNo, const Fault& fault) {
  std::lock_guard<std::mutex> lock(mutex);
  requestFaults[requestNo] = fault;
}

void EmulatorSubstitute::SetBehaviour(Behaviour given) {
  std::lock_guard<std::mutex> lock(mutex);
  behaviour = std::move(given);
}

void EmulatorSubstitute::ClearFaults() {
  std::lock_guard<std::mutex> lock(mutex);
  defaultFault = Fault();
  requestFaults.clear();
}

std::vector<ReceivedRequest> EmulatorSubstitute::Requests() const {
  std::lock_guard<std::mutex> lock(mutex);
  return requests;
}

size_t EmulatorSubstitute::RequestCount() const {
  std::lock_guard<std::mutex> lock(mutex);
  return requests.size();
}

bool EmulatorSubstitute::WaitForRequests(size_t count, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex);
  return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [&] { return requests.size() >= count; });
}

int EmulatorSubstitute::ConnectionCount() const {
  std::lock_guard<std::mutex> lock(mutex);
  return connectionCount;
}

int EmulatorSubstitute::ConnectionCount(uint16_t port) const {
  std::lock_guard<std::mutex> lock(mutex);
  auto found = connectionsByPort.find(port);
  return found == connectionsByPort.end() ? 0 : found->second;
}

bool EmulatorSubstitute::WaitForConnections(int count, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex);
  return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [&] { return connectionCount >= count; });
}

int EmulatorSubstitute::PeerClosedCount() const {
  std::lock_guard<std::mutex> lock(mutex);
  return peerClosed;
}

bool EmulatorSubstitute::WaitForPeerClosed(int count, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex);
  return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [&] { return peerClosed >= count; });
}

void EmulatorSubstitute::ClearRecord() {
  std::lock_guard<std::mutex> lock(mutex);
  ResetRecordLocked();
}

void EmulatorSubstitute::ResetRecordLocked() {
  requests.clear();
  installedPaths.clear();
  connectionCount = 0;
  connectionsByPort.clear();
  peerClosed = 0;
}

void EmulatorSubstitute::ListenLoop(Listener* listener) {
  while (!stopping) {
    if (!netsock::WaitReadable(listener->sock, kPollMs)) continue;
    netsock::Socket accepted = AcceptConnection(listener->sock);
    if (accepted != netsock::kInvalidSocket) Adopt(listener, accepted);
  }
}

void EmulatorSubstitute::TickingListenLoop(Listener* listener) {
  const bool debuggerPort = listener->port == kPrimaryPort;
  while (PauseMs(kEmulatorTickMs)) {
    if (listener->sock == netsock::kInvalidSocket) {
      if (listener->connected > 0) continue;
      listener->sock = ListenLoopback(listener->port, kEmulatorBacklog);
    }
    if (!netsock::WaitReadable(listener->sock, 0)) continue;
    netsock::Socket accepted = AcceptConnection(listener->sock);
    if (accepted == netsock::kInvalidSocket) continue;
    // The emulator gives up its listener for each connection it accepts; a
    // connection still waiting in the backlog is reset with it. The debugger
    // port listens again only when its client has left, any other at once.
    netsock::CloseSocket(listener->sock);
    listener->sock =
        debuggerPort ? netsock::kInvalidSocket : ListenLoopback(listener->port, kEmulatorBacklog);
    Adopt(listener, accepted);
  }
}

void EmulatorSubstitute::Adopt(Listener* listener, netsock::Socket accepted) {
  ++listener->connected;
  std::lock_guard<std::mutex> lock(mutex);
  JoinFinishedLocked();
  auto connection = std::make_unique<Connection>();
  connection->listener = listener;
  connection->port = listener->port;
  connection->number = ++connectionCount;
  connection->sock = accepted;
  ++connectionsByPort[listener->port];
  connection->thread = std::thread(&EmulatorSubstitute::ServeConnection, this, connection.get());
  connections.push_back(std::move(connection));
  changed.notify_all();
}

void EmulatorSubstitute::SetUrgentBytes(bool on) {
  urgentBytes = on;
}

void EmulatorSubstitute::SetLikeEmulator(bool on) {
  likeEmulator = on;
  std::lock_guard<std::mutex> lock(mutex);
  mode.likeEmulator = on;
}

void EmulatorSubstitute::ServeConnection(Connection* connection) {
  if (urgentBytes) SendUrgentByte(connection->sock);
  for (;;) {
    Bytes packet;
    bool peerEnded = false;
    if (!ReadRequest(connection, &packet, &peerEnded)) {
      if (peerEnded) {
        std::lock_guard<std::mutex> lock(mutex);
        ++peerClosed;
        changed.notify_all();
      }
      break;
    }
    ReceivedRequest request = Record(*connection, packet);
    Fault fault;
    Behaviour behave;
    {
      std::lock_guard<std::mutex> lock(mutex);
      requests.push_back(request);
      fault = FaultFor(++requestsSinceStart);
      behave = behaviour;
      changed.notify_all();
    }
    if (likeEmulator && request.bodySize > kEmulatorBodyBuffer) break;
    bool goOn = behave ? React(connection, behave(request, ProperReply(request)))
                       : Answer(connection, request, fault);
    if (!goOn) break;
  }
  netsock::CloseSocket(connection->sock);
  --connection->listener->connected;
  connection->finished = true;
}

// Joins and forgets the connections whose threads are done, so that a long run
// of short connections doesn't pile up threads. Their threads take no lock
// after finishing, so joining them under the lock can't wait on it.
void EmulatorSubstitute::JoinFinishedLocked() {
  auto done = std::partition(connections.begin(), connections.end(),
                             [](const std::unique_ptr<Connection>& c) { return !c->finished; });
  for (auto it = done; it != connections.end(); ++it)
    (*it)->thread.join();
  connections.erase(done, connections.end());
}

bool EmulatorSubstitute::ReadRequest(Connection* connection, Bytes* packet, bool* peerEnded) {
  Bytes header(kHeaderSize);
  if (!ReadExactly(connection->sock, header.data(), header.size(), stopping, peerEnded)) {
    return false;
  }
  Bytes rest(DecodeBe16(&header[6]) + 2u);
  if (!ReadExactly(connection->sock, rest.data(), rest.size(), stopping, peerEnded)) return false;
  *packet = header;
  packet->insert(packet->end(), rest.begin(), rest.end());
  return true;
}

ReceivedRequest EmulatorSubstitute::Record(const Connection& connection, const Bytes& packet) {
  ReceivedRequest request;
  request.port = connection.port;
  request.connection = connection.number;
  request.raw = packet;
  request.signatureOk = packet[0] == 0xBE && packet[1] == 0xEF && packet[2] == 0xED;
  request.destSocket = packet[3];
  request.srcSocket = packet[4];
  request.packetType = packet[5];
  request.bodySize = DecodeBe16(&packet[6]);
  request.transId = packet[8];
  unsigned sum = 0;
  for (size_t i = 0; i < 9; ++i)
    sum += packet[i];
  request.headerChecksumOk = packet[9] == static_cast<uint8_t>(sum);
  size_t crcAt = kHeaderSize + request.bodySize;
  request.crcOk = DecodeBe16(&packet[crcAt]) == BitwiseCrc(packet.data(), crcAt);

  Bytes body(packet.begin() + kHeaderSize, packet.begin() + static_cast<long>(crcAt));
  if (body.size() < kRpcHeaderSize) return request;
  request.command = body[0];
  request.trap = DecodeBe16(&body[2]);
  request.d0 = DecodeBe32(&body[4]);
  request.a0 = DecodeBe32(&body[8]);
  request.paramCount = DecodeBe16(&body[12]);
  std::vector<size_t> offsets = SlotOffsets(body, request.paramCount);
  // The first declared parameter, the last slot on the wire, may pick the
  // parameter list (the host-control trap's selector).
  uint32_t selector = 0;
  if (offsets.size() == request.paramCount && !offsets.empty() && body[offsets.back() + 1] == 2) {
    selector = DecodeBe16(&body[offsets.back() + 2]);
  }
  std::string kinds = KindsFor(request.trap, selector);
  for (size_t wire = offsets.size(); wire-- > 0;) {
    size_t at = offsets[wire];
    ReceivedParam param;
    param.byRef = body[at] != 0;
    param.dataSize = body[at + 1];
    param.data.assign(body.begin() + static_cast<long>(at) + 2,
                      body.begin() + static_cast<long>(at) + 2 + param.dataSize);
    size_t declared = request.paramCount - 1 - wire;
    param.kind =
        kinds.size() == request.paramCount ? kinds[declared] : KindFromSize(param.dataSize);
    request.params.push_back(param);
  }
  size_t end = offsets.empty() ? kRpcHeaderSize : offsets.back() + 2 + body[offsets.back() + 1];
  request.bodyParsed = offsets.size() == request.paramCount && end == body.size();
  return request;
}

std::string EmulatorSubstitute::KindsFor(uint16_t trap, uint32_t selector) const {
  std::lock_guard<std::mutex> lock(mutex);
  auto given = signatures.find(trap);
  return given != signatures.end() ? given->second : BuiltInKinds(trap, selector);
}

Fault EmulatorSubstitute::FaultFor(int requestNo) const {
  auto found = requestFaults.find(requestNo);
  return found != requestFaults.end() ? found->second : defaultFault;
}

Bytes EmulatorSubstitute::BuildReplyBody(const ReceivedRequest& request, bool* answered) {
  DeviceMode deviceMode;
  {
    std::lock_guard<std::mutex> lock(mutex);
    deviceMode = mode;
  }
  TrapAnswer answer = AnswerTrap(request, &device, deviceMode);
  *answered = answer.answered;
  std::lock_guard<std::mutex> lock(mutex);
  if (answer.installed && request.params.size() > 1) {
    installedPaths.push_back(request.params[1].Text());
  }
  std::map<int, uint32_t>& values = answer.values;  // by parameter number, 1 = first
  uint32_t d0 = answer.d0;
  auto forced = trapD0.find(request.trap);
  if (forced != trapD0.end()) d0 = forced->second;
  for (const auto& entry : byRefValues) {
    if (entry.first.first == request.trap) values[entry.first.second] = entry.second;
  }

  Bytes body(kRpcHeaderSize, 0);
  body[0] = kReplyCommand;
  EncodeBe16(&body[2], request.trap);
  EncodeBe32(&body[4], d0);
  EncodeBe16(&body[12], request.paramCount);
  // params runs first to last; the wire wants the last first.
  for (size_t i = request.params.size(); i-- > 0;) {
    const ReceivedParam& sent = request.params[i];
    Bytes data = sent.data;
    auto value = values.find(static_cast<int>(request.paramCount - request.params.size() + i + 1));
    bool number = (sent.kind == 'w' && data.size() == 2) || (sent.kind == 'd' && data.size() == 4);
    if (value != values.end() && sent.byRef && number) {
      if (data.size() == 2) {
        EncodeBe16(data.data(), static_cast<uint16_t>(value->second));
      } else {
        EncodeBe32(data.data(), value->second);
      }
    }
    body.push_back(sent.byRef ? 1 : 0);
    body.push_back(sent.dataSize);
    body.insert(body.end(), data.begin(), data.end());
  }
  return body;
}

bool EmulatorSubstitute::Answer(Connection* connection, const ReceivedRequest& request,
                                const Fault& fault) {
  if (urgentBytes) SendUrgentByte(connection->sock);
  if (!PauseMs(fault.delayMs)) return false;
  if (fault.mode == FaultMode::Silent) return true;
  if (fault.mode == FaultMode::CloseWithoutReply) return false;
  bool answered = true;
  Bytes body = BuildReplyBody(request, &answered);
  if (!answered) return true;
  if (fault.mode == FaultMode::TruncatedBody) body.resize(std::min(body.size(), fault.keepBytes));
  if (fault.mode == FaultMode::LyingSlotSizes) {
    std::vector<size_t> offsets = SlotOffsets(body, request.paramCount);
    for (size_t wire = 0; wire < offsets.size(); ++wire) {
      if (fault.lyingSlot < 0 || static_cast<size_t>(fault.lyingSlot) == wire) {
        body[offsets[wire] + 1] = fault.lyingSize;
      }
    }
  }
  Bytes reply = Frame(request.srcSocket, request.destSocket, request.transId, body);
  switch (fault.mode) {
    case FaultMode::Split:
      return SendSplit(connection, reply, std::max<size_t>(fault.segmentBytes, 1), fault.pauseMs);
    case FaultMode::PartialThenClose:
      SendAll(connection, reply.data(), std::min(reply.size(), fault.keepBytes));
      return false;
    case FaultMode::Reset:
      SendAll(connection, reply.data(), std::min(reply.size(), fault.keepBytes));
      ResetConnection(connection->sock);
      connection->sock = netsock::kInvalidSocket;
      return false;
    case FaultMode::Flood:
      reply.insert(reply.end(), fault.floodBytes, kFloodByte);
      return SendAll(connection, reply.data(), reply.size());
    default:
      return SendAll(connection, reply.data(), reply.size());
  }
}

Bytes EmulatorSubstitute::ProperReply(const ReceivedRequest& request) {
  bool answered = true;
  Bytes body = BuildReplyBody(request, &answered);
  return Frame(request.srcSocket, request.destSocket, request.transId, body);
}

bool EmulatorSubstitute::React(Connection* connection, const Reaction& reaction) {
  if (reaction.dripMs <= 0) {
    if (!SendAll(connection, reaction.bytes.data(), reaction.bytes.size())) return false;
  } else {
    for (uint8_t byte : reaction.bytes) {
      if (!PauseMs(reaction.dripMs) || !SendAll(connection, &byte, 1)) return false;
    }
  }
  const Bytes flood(64 * 1024, kFloodByte);
  while (reaction.endless && !stopping && SendAll(connection, flood.data(), flood.size())) {
  }
  return !reaction.close && !reaction.endless;
}

bool EmulatorSubstitute::SendSplit(Connection* connection, const Bytes& reply, size_t segment,
                                   int pauseMs) {
  for (size_t at = 0; at < reply.size(); at += segment) {
    if (at > 0 && !PauseMs(pauseMs)) return false;
    if (!SendAll(connection, reply.data() + at, std::min(segment, reply.size() - at))) {
      return false;
    }
  }
  return true;
}

bool EmulatorSubstitute::SendAll(Connection* connection, const uint8_t* data, size_t n) {
  while (n > 0) {
    size_t sent = 0;
    if (netsock::SendBytes(connection->sock, data, n, &sent) != netsock::SendStatus::Sent) {
      return false;
    }
    data += sent;
    n -= sent;
  }
  return true;
}

bool EmulatorSubstitute::PauseMs(int ms) {
  if (ms <= 0) return !stopping;
  std::unique_lock<std::mutex> lock(mutex);
  return !changed.wait_for(lock, std::chrono::milliseconds(ms), [&] { return stopping.load(); });
}

}  // namespace gantry_testing
