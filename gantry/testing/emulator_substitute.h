#pragma once

// A stand-in for the Palm OS emulator, for tests only: a loopback TCP server
// that takes remote trap call packets, records them and answers the way the
// emulator would, with switchable faults.
//
// Typical use:
//   EmulatorSubstitute emu;
//   ASSERT_TRUE(emu.Start({kPrimaryPort, kSecondaryPort}));
//   emu.AddDatabase("QuorvaneRT", 0x1234, 7);
//   ... call the link or an export ...
//   auto requests = emu.Requests();
//
// All operations are thread-safe. The substitute answers from its own threads
// (one per listening port and one per accepted connection), so a test may call
// blocking link operations directly while the substitute runs.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "netsock.h"
#include "testing/device_store.h"
#include "testing/substitute_traps.h"

namespace gantry_testing {

using Bytes = std::vector<uint8_t>;

constexpr uint16_t kPrimaryPort = 2000;    // socket id 1
constexpr uint16_t kSecondaryPort = 6415;  // socket id 14

// What the real emulator does with connections and requests, copied by the
// substitute when SetLikeEmulator is on. Stated here apart from gantry's own
// limits, so that a fault in those can't hide behind the same number here.
constexpr size_t kEmulatorBodyBuffer = 272;  // its request buffer, not bounds-checked
constexpr int kEmulatorBacklog = 1;
constexpr int kEmulatorTickMs = 100;  // it accepts on its idle tick, one per tick

/// How the substitute misbehaves when answering a request.
enum class FaultMode {
  None,               // a proper reply (after delayMs, if set)
  Silent,             // no reply; the connection stays open until the peer closes it
  Delayed,            // a proper reply after delayMs
  Split,              // the proper reply sent in segmentBytes pieces, pauseMs apart
  CloseWithoutReply,  // the connection is closed right after the request is read
  Reset,              // the first keepBytes bytes of the proper reply, then the
                      // connection is reset rather than closed in order
  PartialThenClose,   // the first keepBytes bytes of the proper reply, then close
  TruncatedBody,      // a well-framed reply whose body is cut to keepBytes bytes
                      // (the header announces keepBytes, the CRC covers the cut body)
  LyingSlotSizes,     // the reply's data-size byte of slot lyingSlot (or of every
                      // slot) says lyingSize; the data bytes stay as they were
  Flood,              // the proper reply followed at once by floodBytes extra bytes
};

/// A fault and its settings; fields not used by the mode are ignored, except
/// delayMs, which every mode waits before it acts. Given to SetFault.
struct Fault {
  FaultMode mode = FaultMode::None;
  int delayMs = 0;
  size_t segmentBytes = 1;  // Split
  int pauseMs = 0;          // Split
  size_t keepBytes = 0;     // PartialThenClose, Reset: packet bytes; TruncatedBody: body bytes
  int lyingSlot = -1;       // LyingSlotSizes: slot index in wire order from 0; -1 = all
  uint8_t lyingSize = 0;    // LyingSlotSizes
  size_t floodBytes = 0;    // Flood: count of extra bytes (0xEE)
};

/// What the substitute does for one request when a test's behaviour
/// (SetBehaviour) decides: sends bytes, then maybe streams 0xEE bytes until the
/// peer goes away, then closes the connection or waits for the next request.
/// No bytes and no close is silence. Made by the behaviour, carried out by the
/// connection thread.
struct Reaction {
  Bytes bytes;
  int dripMs = 0;        // > 0: bytes go one at a time, each after this pause
  bool endless = false;  // then 0xEE bytes until a send fails
  bool close = false;
};

/// A test's own answer to every request, in place of the faults: gets the
/// request as recorded and the reply the substitute would send (its device,
/// overrides and framing), returns what to do. Called from the connection
/// threads, several at once, without the substitute's lock held.
using Behaviour = std::function<Reaction(const ReceivedRequest& request, const Bytes& reply)>;

/// The emulator substitute. A test owns it, starts it on the ports it wants,
/// configures the device and faults, drives gantry, and then reads the record.
///
/// Answers as its device (Device(), substitute_traps.h) does, unless a trap D0
/// override (SetTrapD0) says otherwise:
///  - 0xA045: D0 = local id of the database named by the string parameter, or 0.
///  - 0xA046: the database whose local id is the 2nd parameter: D0 = 0 and the
///    by-reference slots = its header's attributes, version, dates, numbers,
///    type and creator; no such database: D0 = 0x0207 and the slots as sent.
///  - 0xA344 import (0x0500): the file is stored under its header's name; D0 =
///    0, or a failure code when it can't be (0 all the same when like the
///    emulator); SetInstallResult forces D0. The path is recorded as installed
///    when D0 is 0. Export (0x0501) and screen (0x0502) write the host file.
///  - 0xA0A7: D0 = 0 for a local id the device holds; 0xA08C, 0xA12D and any
///    other trap: D0 = 0.
/// Reply packet: signature, socket ids swapped from the request, type 0, the
/// request's transaction id, checksum, body, CRC. Body: command 0x8A, filler 0,
/// the trap, D0, A0 = 0, the request's parameter count, then the request's slots
/// in the request's order; by-reference 'w' and 'd' slots carry the values
/// configured for them (SetByRefValue, the built-in answers above), else the
/// data as sent. A packet whose framing can be read is answered even when its
/// checksum or CRC is wrong (the record says so).
class EmulatorSubstitute {
 public:
  EmulatorSubstitute();
  ~EmulatorSubstitute();  // stops
  EmulatorSubstitute(const EmulatorSubstitute&) = delete;
  EmulatorSubstitute& operator=(const EmulatorSubstitute&) = delete;

  // Listens on 127.0.0.1 on each port (SO_REUSEADDR) and clears the record.
  // False, with nothing left listening, when a port can't be bound or the
  // substitute already runs.
  bool Start(const std::vector<uint16_t>& ports);
  // Closes the listeners and every connection and joins all threads. The record
  // and configuration stay readable. Safe to call twice.
  void Stop();
  bool Running() const;

  // --- the emulated device ---
  DeviceStore& Device() { return device; }
  // A database with a header alone (DeviceStore::Add).
  void AddDatabase(const std::string& name, uint32_t localId, uint16_t version);
  // Every import answers this D0, whatever the file; with 0 a good file is
  // still stored.
  void SetInstallResult(uint32_t d0);
  void SetScreenFormat(ScreenFormat format);
  // The paths of the imports that answered D0 = 0.
  std::vector<std::string> InstalledPaths() const;

  // --- answer overrides ---
  // Every reply to this trap carries this D0.
  void SetTrapD0(uint16_t trap, uint32_t d0);
  // Replies to this trap carry this value in the slot of parameter paramNo
  // (1 = the first declared parameter) when that slot is a by-reference 'w'
  // (low 16 bits) or 'd'. Takes precedence over the built-in answers.
  void SetByRefValue(uint16_t trap, int paramNo, uint32_t value);
  // The parameter kinds of a trap, first to last ("wsd"), for recording.
  void SetTrapSignature(uint16_t trap, const std::string& kinds);
  // When on, every accepted connection first gets one byte of urgent data, and
  // so does every request as soon as it is read, before any delay and reply.
  void SetUrgentBytes(bool on);
  // When on, connections and oversized requests are handled as the real
  // emulator handles them: each listener has a backlog of kEmulatorBacklog and
  // accepts at most one connection per kEmulatorTickMs tick; port 2000 (its
  // debugger port) stops listening while a client is connected there and
  // listens again at the first tick after that client has left, while any
  // other port listens again at once with a new listener (a connection waiting
  // in the old one's backlog is reset); a request whose body exceeds
  // kEmulatorBodyBuffer bytes is recorded and then answered by closing the
  // connection without a reply. Set it before Start.
  void SetLikeEmulator(bool on);

  // --- faults ---
  // The fault for every request without a request-specific one.
  void SetFault(const Fault& fault);
  // The fault for the requestNo-th request received since Start (1-based).
  void SetFaultForRequest(int requestNo, const Fault& fault);
  void ClearFaults();
  // Hands every request to behaviour instead (an empty one restores the
  // faults). Set it before Start.
  void SetBehaviour(Behaviour behaviour);

  // --- the record ---
  std::vector<ReceivedRequest> Requests() const;
  size_t RequestCount() const;
  // Waits until at least count requests are recorded; false on timeout.
  bool WaitForRequests(size_t count, int timeoutMs) const;
  // Connections accepted since Start, in all or on one port.
  int ConnectionCount() const;
  int ConnectionCount(uint16_t port) const;
  // Waits until at least count connections were accepted. A client's connect
  // can return before the substitute's accept, so check counts through this.
  bool WaitForConnections(int count, int timeoutMs) const;
  // Connections that the peer closed (end of stream seen) since Start.
  int PeerClosedCount() const;
  // Waits until at least count connections were closed by the peer.
  bool WaitForPeerClosed(int count, int timeoutMs) const;
  // Forgets the requests, installed paths and connection counts.
  void ClearRecord();

 private:
  struct Connection;
  struct Listener;

  void ListenLoop(Listener* listener);
  // ListenLoop as the real emulator listens (SetLikeEmulator).
  void TickingListenLoop(Listener* listener);
  // Serves an accepted connection on its own thread.
  void Adopt(Listener* listener, gantry::netsock::Socket accepted);
  void JoinFinishedLocked();
  void ServeConnection(Connection* connection);
  bool ReadRequest(Connection* connection, std::vector<uint8_t>* packet, bool* peerEnded);
  ReceivedRequest Record(const Connection& connection, const std::vector<uint8_t>& packet);
  // The reply body the device gives; *answered false when it gives none.
  std::vector<uint8_t> BuildReplyBody(const ReceivedRequest& request, bool* answered);
  // The whole reply packet a request gets when nothing misbehaves.
  Bytes ProperReply(const ReceivedRequest& request);
  // False when the connection is to be closed.
  bool Answer(Connection* connection, const ReceivedRequest& request, const Fault& fault);
  // Carries out a test behaviour's reaction; false when the connection is to end.
  bool React(Connection* connection, const Reaction& reaction);
  bool SendSplit(Connection* connection, const std::vector<uint8_t>& reply, size_t segment,
                 int pauseMs);
  bool SendAll(Connection* connection, const uint8_t* data, size_t n);
  bool PauseMs(int ms);  // false when stopping
  Fault FaultFor(int requestNo) const;
  std::string KindsFor(uint16_t trap, uint32_t selector) const;
  void ResetRecordLocked();

  bool socketsStarted = false;
  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  std::atomic<bool> stopping{false};
  bool running = false;
  std::atomic<bool> urgentBytes{false};
  std::atomic<bool> likeEmulator{false};

  std::vector<std::unique_ptr<Listener>> listeners;
  std::vector<std::unique_ptr<Connection>> connections;

  DeviceStore device;
  DeviceMode mode;
  std::vector<std::string> installedPaths;
  std::map<uint16_t, uint32_t> trapD0;
  std::map<std::pair<uint16_t, int>, uint32_t> byRefValues;
  std::map<uint16_t, std::string> signatures;
  Fault defaultFault;
  std::map<int, Fault> requestFaults;
  Behaviour behaviour;

  std::vector<ReceivedRequest> requests;
  int requestsSinceStart = 0;
  int connectionCount = 0;
  std::map<uint16_t, int> connectionsByPort;
  int peerClosed = 0;
};

}  // namespace gantry_testing
