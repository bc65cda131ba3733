#include "link.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "bytes.h"
#include "packet.h"
#include "testing/emulator_substitute.h"
#include "testing/platform.h"

namespace {

using namespace gantry;
using namespace gantry_testing;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kRuntimeId = 0x00C0FFEE;
constexpr uint32_t kUnset = 0xA5A5A5A5;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

const Bytes kResetOn2000 = {0xBE, 0xEF, 0xED, 0x01, 0x01, 0x00, 0x00, 0x0E, 0x01,
                            0xAB, 0x0A, 0x00, 0xA0, 0x8C, 0x00, 0x00, 0x00, 0x00,
                            0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x6B, 0x5A};
const Bytes kResetOn6415 = {0xBE, 0xEF, 0xED, 0x0E, 0x0E, 0x00, 0x00, 0x0E, 0x01,
                            0xC5, 0x0A, 0x00, 0xA0, 0x8C, 0x00, 0x00, 0x00, 0x00,
                            0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xDE, 0x3F};

/// The database-info call of the runtime version lookup, with its 13
/// parameters; the by-reference variables start at 0.
struct InfoCall {
  uint16_t card = 0, attributes = 0, version = 0;
  uint32_t id;
  uint32_t dates[8] = {};
  char name[11] = "QuorvaneRT";
  std::vector<TrapParam> params;

  explicit InfoCall(uint32_t localId) : id(localId) {
    params = {
        {'w', &card, 0}, {'d', &id, 0}, {'s', name, 0}, {'w', &attributes, 1}, {'w', &version, 1}};
    for (uint32_t& date : dates)
      params.push_back({'d', &date, 1});
  }
  bool Call(EmulatorLink& link, uint32_t* d0) {
    return link.CallTrap(kTrapDatabaseInfo, static_cast<int>(params.size()), params.data(), d0);
  }
};

struct LinkTest : ::testing::Test {
  EmulatorSubstitute emu;

  void SetUp() override { emu.AddDatabase("QuorvaneRT", kRuntimeId, 0x0203); }

  bool Lookup(EmulatorLink& link, const char* name, uint32_t* d0) {
    uint16_t card = 0;
    TrapParam params[] = {{'w', &card, 0}, {'s', const_cast<char*>(name), 0}};
    return link.CallTrap(kTrapFindDatabase, 2, params, d0);
  }
  bool Reset(EmulatorLink& link) { return link.CallTrap(kTrapReset, 0, nullptr, nullptr); }
};

TEST_F(LinkTest, PrefersPort2000AndMarksPacketsWithTheSocketIdOfThePort) {
  ASSERT_TRUE(emu.Start({kPrimaryPort, kSecondaryPort}));
  {
    EmulatorLink link;
    ASSERT_TRUE(link.Connect());
    EXPECT_TRUE(Reset(link));
    link.Close();
  }
  emu.Stop();
  ASSERT_EQ(emu.RequestCount(), 1u);
  EXPECT_EQ(emu.Requests()[0].port, kPrimaryPort);
  EXPECT_EQ(emu.Requests()[0].raw, kResetOn2000);
  EXPECT_EQ(emu.ConnectionCount(kSecondaryPort), 0);

  ASSERT_TRUE(emu.Start({kSecondaryPort}));
  EmulatorLink link;
  ASSERT_TRUE(link.Connect());
  EXPECT_TRUE(Reset(link));
  uint16_t character = 0x0108, modifiers = 0x0008;
  TrapParam keys[] = {{'w', &character, 0}, {'w', &character, 0}, {'w', &modifiers, 0}};
  EXPECT_TRUE(link.CallTrap(kTrapEnqueueKey, 3, keys, nullptr));
  auto requests = emu.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].port, kSecondaryPort);
  EXPECT_EQ(requests[0].raw, kResetOn6415);
  EXPECT_EQ(requests[1].destSocket, 14);
  EXPECT_EQ(requests[1].srcSocket, 14);
  EXPECT_EQ(requests[1].transId, 2);
  EXPECT_TRUE(requests[1].headerChecksumOk && requests[1].crcOk && requests[1].bodyParsed);
  EXPECT_EQ(requests[1].params[2].Number(), 0x0008u);
}

TEST_F(LinkTest, NothingListeningMeansNoConnectionAndNoCall) {
  EmulatorLink link;
  EXPECT_FALSE(link.Connect());
  uint32_t d0 = kUnset;
  EXPECT_FALSE(Lookup(link, "QuorvaneRT", &d0));
  EXPECT_EQ(d0, kUnset);
  link.Close();
}

// Both ports refusing is tried again for a while, longer when this process
// reached the emulator within the last seconds: it is then between listeners.
TEST_F(LinkTest, RefusalsAreTriedAgainLongerRightAfterTheEmulatorWasReached) {
  ASSERT_TRUE(emu.Start({kPrimaryPort}));
  EmulatorLink reached;
  ASSERT_TRUE(reached.Connect());
  reached.Close();
  emu.Stop();
  auto start = Clock::now();
  EmulatorLink link;
  EXPECT_FALSE(link.Connect());
  EXPECT_GE(MsSince(start), EmulatorLink::kRefusedRetryLatelyMs - 100.0);
  EXPECT_LT(MsSince(start), EmulatorLink::kRefusedRetryLatelyMs + 500.0);
}

/// A listener on a port that accepts nothing: its one-place queue is filled by
/// connections made at the start, so further connects neither succeed nor are
/// refused. Owned by one test.
struct FullListener {
  netsock::Socket listener;
  std::vector<netsock::Socket> fillers;

  explicit FullListener(uint16_t port) : listener(ListenLoopback(port, 1)) {
    for (int i = 0; i < 3; ++i) {
      fillers.push_back(netsock::OpenTcp());
      netsock::ConnectLoopback(fillers.back(), port, 100);
    }
  }
  ~FullListener() {
    for (netsock::Socket filler : fillers)
      netsock::CloseSocket(filler);
    netsock::CloseSocket(listener);
  }
};

TEST_F(LinkTest, AListenerThatAcceptsNothingIsGivenUpWithinFiveSeconds) {
  FullListener full(kPrimaryPort);
  ASSERT_NE(full.listener, netsock::kInvalidSocket);
  auto start = Clock::now();
  EmulatorLink alone;
  EXPECT_FALSE(alone.Connect());
  const double aloneMs = MsSince(start);

  ASSERT_TRUE(emu.Start({kSecondaryPort}));
  start = Clock::now();
  EmulatorLink link;
  EXPECT_TRUE(link.Connect());
  const double fallbackMs = MsSince(start);
  EXPECT_TRUE(Reset(link));
  std::printf("[ timing   ] gave up after %.0f ms; reached port 6415 after %.0f ms\n", aloneMs,
              fallbackMs);
  EXPECT_LE(aloneMs, 5500.0);
  EXPECT_LE(fallbackMs, 5500.0);
  ASSERT_EQ(emu.RequestCount(), 1u);
  EXPECT_EQ(emu.Requests()[0].raw, kResetOn6415);
}

// Urgent data from the peer, on arrival and while a reply is awaited, is never
// taken for a reply: the calls neither hang nor spin (a wait that spins burns
// the processor until the reply comes). Run apart, so that a hang ends in a
// failure when the substitute stops.
TEST_F(LinkTest, UrgentDataNeitherHoldsNorSpinsNorFailsACall) {
  ASSERT_TRUE(emu.Start({kPrimaryPort}));
  emu.SetUrgentBytes(true);
  Fault late;
  late.delayMs = 500;
  emu.SetFault(late);
  double cpuMs = 0;
  auto calls = std::async(std::launch::async, [this, &cpuMs] {
    EmulatorLink link;
    uint32_t first = kUnset, second = kUnset;
    if (!link.Connect()) return false;
    // The urgent byte is there before the first request.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const double before = ThreadCpuMs();
    bool replied = Lookup(link, "QuorvaneRT", &first) && Lookup(link, "Missing", &second);
    cpuMs = ThreadCpuMs() - before;
    return replied && first == kRuntimeId && second == 0;
  });
  bool finished = calls.wait_for(std::chrono::seconds(8)) == std::future_status::ready;
  emu.Stop();  // ends a hung receive
  EXPECT_TRUE(finished) << "a call still waited after 8 s";
  EXPECT_TRUE(calls.get());
  std::printf("[ timing   ] two calls waiting 500 ms each used %.0f ms of processor time\n", cpuMs);
  EXPECT_LT(cpuMs, 250.0);
}

TEST_F(LinkTest, TwoCallsOnOneLinkCarryIdsOneAndTwoAndDeliverTheResults) {
  ASSERT_TRUE(emu.Start({kPrimaryPort}));
  EmulatorLink link;
  ASSERT_TRUE(link.Connect());
  uint32_t d0 = kUnset;
  ASSERT_TRUE(Lookup(link, "QuorvaneRT", &d0));
  EXPECT_EQ(d0, kRuntimeId);
  InfoCall info(d0);
  ASSERT_TRUE(info.Call(link, &d0));
  EXPECT_EQ(d0, 0u);
  EXPECT_EQ(info.version, 0x0203);
  EXPECT_EQ(info.attributes, 0);
  EXPECT_EQ(info.id, kRuntimeId);
  ASSERT_TRUE(Lookup(link, "NoSuchDb", &d0));
  EXPECT_EQ(d0, 0u);
  link.Close();
  ASSERT_TRUE(emu.WaitForPeerClosed(1, 2000));

  auto requests = emu.Requests();
  ASSERT_EQ(requests.size(), 3u);
  for (size_t i = 0; i < requests.size(); ++i) {
    EXPECT_EQ(requests[i].transId, i + 1);
    EXPECT_EQ(requests[i].connection, 1);
    EXPECT_TRUE(requests[i].signatureOk && requests[i].headerChecksumOk && requests[i].crcOk);
    EXPECT_TRUE(requests[i].bodyParsed);
  }
  EXPECT_EQ(requests[1].bodySize, 94);
  EXPECT_EQ(requests[1].params[1].Number(), kRuntimeId);

  EmulatorLink next;
  ASSERT_TRUE(next.Connect());
  EXPECT_TRUE(Reset(next));
  EXPECT_EQ(emu.Requests().back().transId, 1);
}

TEST_F(LinkTest, TransactionIdWrapsFrom255To0) {
  ASSERT_TRUE(emu.Start({kPrimaryPort}));
  EmulatorLink link;
  ASSERT_TRUE(link.Connect());
  for (int i = 0; i < 257; ++i)
    ASSERT_TRUE(Reset(link)) << i;
  auto requests = emu.Requests();
  EXPECT_EQ(requests[254].transId, 255);
  EXPECT_EQ(requests[255].transId, 0);
  EXPECT_EQ(requests[256].transId, 1);
}

TEST_F(LinkTest, StringsOver253CharactersAndBodiesOver272BytesAreRefusedUnsent) {
  ASSERT_TRUE(emu.Start({kPrimaryPort}));
  // A lookup body is 18 bytes and the string slot: 272 bytes with 251 characters.
  std::string longest(251, 'n'), overBody(252, 'n'), tooLong(254, 'n');
  emu.AddDatabase(longest, 0x42, 1);
  EmulatorLink link;
  ASSERT_TRUE(link.Connect());
  uint32_t d0 = kUnset;
  auto start = Clock::now();
  EXPECT_FALSE(Lookup(link, tooLong.c_str(), &d0));
  EXPECT_FALSE(Lookup(link, overBody.c_str(), &d0));
  EXPECT_LT(MsSince(start), 100.0);
  EXPECT_EQ(d0, kUnset);
  ASSERT_TRUE(Lookup(link, longest.c_str(), &d0));
  EXPECT_EQ(d0, 0x42u);
  auto requests = emu.Requests();
  ASSERT_EQ(requests.size(), 1u);  // the refused calls sent nothing
  EXPECT_EQ(requests[0].transId, 1);
  EXPECT_EQ(requests[0].bodySize, 272);
  EXPECT_EQ(requests[0].params[1].dataSize, 252);
  EXPECT_EQ(requests[0].params[1].Text(), longest);
}

TEST_F(LinkTest, RepliesSplitIntoSmallSegmentsAreAssembled) {
  ASSERT_TRUE(emu.Start({kPrimaryPort}));
  Fault split;
  split.mode = FaultMode::Split;
  split.segmentBytes = 3;  // the header alone comes in four pieces
  split.pauseMs = 2;
  emu.SetFault(split);
  EmulatorLink link;
  ASSERT_TRUE(link.Connect());
  InfoCall info(kRuntimeId);
  uint32_t d0 = kUnset;
  auto start = Clock::now();
  ASSERT_TRUE(info.Call(link, &d0));
  std::printf("[ timing   ] 106-byte reply in 3-byte segments 2 ms apart: %.1f ms\n",
              MsSince(start));
  EXPECT_EQ(d0, 0u);
  EXPECT_EQ(info.version, 0x0203);
  split.segmentBytes = 1;
  split.pauseMs = 0;
  emu.SetFault(split);
  info.version = 0;
  ASSERT_TRUE(info.Call(link, &d0));
  EXPECT_EQ(info.version, 0x0203);
}

TEST_F(LinkTest, PromptReplyReturnsAtOnce) {
  ASSERT_TRUE(emu.Start({kPrimaryPort}));
  EmulatorLink link;
  ASSERT_TRUE(link.Connect());
  uint32_t d0 = 0;
  ASSERT_TRUE(Lookup(link, "QuorvaneRT", &d0));  // warm up
  // Under Wine a waiting select wakes up to about 16 ms after the data comes,
  // and far later while other programs run (measured; Linux wakes at once),
  // so there the best of five tries must keep the bounds.
  const int tries = RunningUnderWine() ? 5 : 1;
  double immediate = 1e9;
  double afterDelay = 1e9;
  for (int i = 0; i < tries; ++i) {
    emu.ClearFaults();
    auto start = Clock::now();
    ASSERT_TRUE(Lookup(link, "QuorvaneRT", &d0));
    immediate = std::min(immediate, MsSince(start));
    Fault delayed;
    delayed.mode = FaultMode::Delayed;
    delayed.delayMs = 8;
    emu.SetFault(delayed);
    start = Clock::now();
    ASSERT_TRUE(Lookup(link, "QuorvaneRT", &d0));
    afterDelay = std::min(afterDelay, MsSince(start));
  }
  std::printf("[ timing   ] immediate reply: %.2f ms; reply sent after 8 ms: %.2f ms\n", immediate,
              afterDelay);
  EXPECT_LT(immediate, 10.0);
  EXPECT_GE(afterDelay, 7.0);
  EXPECT_LT(afterDelay, 20.0);
}

// Three calls that get no whole reply, run side by side to share the wait:
// silence, a reply that starts and then stalls, and a reply too late.
TEST_F(LinkTest, GivesUpAfterFiveSecondsWithoutAWholeReply) {
  ASSERT_TRUE(emu.Start({kPrimaryPort}));
  emu.SetFaultForRequest(1, {FaultMode::Silent});
  Fault stalled;
  stalled.mode = FaultMode::Split;
  stalled.segmentBytes = 12;  // the header and two body bytes, then nothing for 8 s
  stalled.pauseMs = 8000;
  emu.SetFaultForRequest(2, stalled);
  Fault late;
  late.mode = FaultMode::Delayed;
  late.delayMs = 5600;
  emu.SetFaultForRequest(3, late);

  struct Outcome {
    bool replied = true;
    uint32_t d0 = kUnset;
    double ms = 0;
  } outcomes[3];
  std::vector<std::thread> threads;
  for (int i = 0; i < 3; ++i) {
    threads.emplace_back([this, &outcomes, i] {
      EmulatorLink link;
      if (!link.Connect()) return;
      auto start = Clock::now();
      outcomes[i].replied = Lookup(link, "QuorvaneRT", &outcomes[i].d0);
      outcomes[i].ms = MsSince(start);
    });
    // One request at a time, so that the faults go in this order.
    EXPECT_TRUE(emu.WaitForRequests(i + 1, 2000));
  }
  for (auto& thread : threads)
    thread.join();
  const char* names[] = {"silent", "stalled", "late"};
  for (int i = 0; i < 3; ++i) {
    std::printf("[ timing   ] %s: gave up after %.0f ms\n", names[i], outcomes[i].ms);
    EXPECT_FALSE(outcomes[i].replied) << names[i];
    EXPECT_EQ(outcomes[i].d0, kUnset) << names[i];
    EXPECT_GE(outcomes[i].ms, 4500.0) << names[i];
    EXPECT_LE(outcomes[i].ms, 6500.0) << names[i];
  }
}

TEST_F(LinkTest, DroppedConnectionFailsAtOnceAndNeverKillsTheProcess) {
  ASSERT_TRUE(emu.Start({kPrimaryPort}));
  emu.SetFault({FaultMode::CloseWithoutReply});
  EmulatorLink link;
  ASSERT_TRUE(link.Connect());
  uint32_t d0 = kUnset;
  auto start = Clock::now();
  EXPECT_FALSE(Lookup(link, "QuorvaneRT", &d0));
  EXPECT_LT(MsSince(start), 1000.0);
  // Sending again on the dropped connection: the send fails, no signal.
  for (int i = 0; i < 3; ++i)
    EXPECT_FALSE(Lookup(link, "QuorvaneRT", &d0));
  EXPECT_EQ(d0, kUnset);
  link.Close();

  Fault partial;
  partial.mode = FaultMode::PartialThenClose;
  partial.keepBytes = 5;
  emu.SetFault(partial);
  EmulatorLink again;
  ASSERT_TRUE(again.Connect());
  start = Clock::now();
  EXPECT_FALSE(Lookup(again, "QuorvaneRT", &d0));
  EXPECT_LT(MsSince(start), 1000.0);
  partial.keepBytes = 20;  // the whole header and part of the body
  emu.SetFault(partial);
  EmulatorLink third;
  ASSERT_TRUE(third.Connect());
  EXPECT_FALSE(Lookup(third, "QuorvaneRT", &d0));
  EXPECT_EQ(d0, kUnset);
}

// A connection reset before anything came back on it was still in the
// emulator's queue, so the request goes again on a new connection. A reset
// after part of a reply, an orderly close or a request that must not go
// twice ends the call.
TEST_F(LinkTest, ARequestGoesAgainOnlyAfterAResetBeforeAnyReplyByte) {
  using Resend = EmulatorLink::Resend;
  const struct {
    const char* what;
    Fault fault;
    Resend resend;
    bool replied;
  } cases[] = {
      {"reset", {FaultMode::Reset}, Resend::OnQueueReset, true},
      {"reset after 5 bytes", {FaultMode::Reset, 0, 1, 0, 5}, Resend::OnQueueReset, false},
      {"closed", {FaultMode::CloseWithoutReply}, Resend::OnQueueReset, false},
      {"reset, never resent", {FaultMode::Reset}, Resend::Never, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EmulatorSubstitute device;
    device.AddDatabase("QuorvaneRT", kRuntimeId, 1);
    device.SetFaultForRequest(1, c.fault);
    ASSERT_TRUE(device.Start({kPrimaryPort, kSecondaryPort}));
    EmulatorLink link;
    ASSERT_TRUE(link.Connect());
    uint16_t card = 0;
    char name[] = "QuorvaneRT";
    TrapParam params[] = {{'w', &card, 0}, {'s', name, 1}};
    uint32_t d0 = kUnset;
    EXPECT_EQ(link.CallTrap(kTrapFindDatabase, 2, params, &d0, c.resend), c.replied);
    EXPECT_EQ(d0, c.replied ? kRuntimeId : kUnset);
    device.Stop();
    auto requests = device.Requests();
    ASSERT_EQ(requests.size(), c.replied ? 2u : 1u);
    EXPECT_EQ(device.ConnectionCount(), c.replied ? 2 : 1);
    EXPECT_EQ(requests.back().transId, 1);  // the first packet of its connection
    EXPECT_EQ(requests.back().raw.size(), requests[0].raw.size());
  }
}

TEST_F(LinkTest, MalformedRepliesNeverWriteWhatTheyDoNotHold) {
  ASSERT_TRUE(emu.Start({kPrimaryPort}));
  EmulatorLink link;
  ASSERT_TRUE(link.Connect());
  uint32_t d0 = kUnset;
  InfoCall info(kRuntimeId);

  Fault fault;
  fault.mode = FaultMode::TruncatedBody;
  fault.keepBytes = 7;  // no room for D0: no reply
  emu.SetFault(fault);
  EXPECT_FALSE(info.Call(link, &d0));
  EXPECT_EQ(d0, kUnset);
  fault.keepBytes = 20;  // D0 and the first slot (the last parameter, a date)
  emu.SetFault(fault);
  ASSERT_TRUE(info.Call(link, &d0));
  EXPECT_EQ(d0, 0u);
  EXPECT_EQ(info.version, 0);

  fault = Fault();
  fault.mode = FaultMode::LyingSlotSizes;
  fault.lyingSize = 0xF0;  // every slot claims more than the body holds
  emu.SetFault(fault);
  d0 = kUnset;
  ASSERT_TRUE(info.Call(link, &d0));
  EXPECT_EQ(d0, 0u);
  EXPECT_EQ(info.version, 0);

  emu.SetByRefValue(kTrapDatabaseInfo, 4, 0x7777);  // attributes
  fault.lyingSlot = 8;                              // the version slot (wire order) claims 1 byte
  fault.lyingSize = 1;
  emu.SetFault(fault);
  ASSERT_TRUE(info.Call(link, &d0));
  EXPECT_EQ(info.version, 0);
  EXPECT_EQ(info.attributes, 0);  // the walk is out of step after the lie

  fault = Fault();
  fault.mode = FaultMode::Flood;
  fault.floodBytes = 300;
  emu.SetFault(fault);
  ASSERT_TRUE(info.Call(link, &d0));
  EXPECT_EQ(info.version, 0x0203);
  EXPECT_EQ(info.attributes, 0x7777);
  emu.ClearFaults();
  info.version = 0;
  ASSERT_TRUE(info.Call(link, &d0));  // the surplus is not taken for this reply
  EXPECT_EQ(info.version, 0x0203);
  EXPECT_EQ(emu.Requests().back().transId, 6);
}

TEST_F(LinkTest, DestroyingAnOpenLinkClosesItsConnection) {
  ASSERT_TRUE(emu.Start({kPrimaryPort}));
  {
    EmulatorLink link;
    ASSERT_TRUE(link.Connect());
    ASSERT_TRUE(emu.WaitForConnections(1, 2000));
  }
  EXPECT_TRUE(emu.WaitForPeerClosed(1, 2000));
}

// The substitute's own checks, which the link's good packets never trip.
TEST(SubstituteTest, FlagsBadChecksumsAndStillAnswersInTheSameFraming) {
  EmulatorSubstitute emu;
  ASSERT_TRUE(emu.Start({kSecondaryPort}));
  Bytes body = {0x0A, 0, 0xA0, 0x8C, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0x01, 0x02, 0x12};  // cut slot
  Bytes packet = FramePacket(14, 14, 0, 0x42, body.data(), body.size());
  packet[9] ^= 1;
  packet.back() ^= 1;
  netsock::Socket s = netsock::OpenTcp();
  ASSERT_TRUE(netsock::ConnectLoopback(s, kSecondaryPort, 2000));
  size_t sent = 0;
  ASSERT_EQ(netsock::SendBytes(s, packet.data(), packet.size(), &sent), netsock::SendStatus::Sent);
  ASSERT_EQ(sent, packet.size());
  Bytes reply(10 + 14 + 2);
  size_t have = 0, got = 0;
  while (have < reply.size() && netsock::WaitReadable(s, 2000) &&
         netsock::RecvBytes(s, &reply[have], reply.size() - have, &got) ==
             netsock::RecvStatus::Data) {
    have += got;
  }
  netsock::CloseSocket(s);
  ASSERT_EQ(have, reply.size());
  EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 10),
            (Bytes{0xBE, 0xEF, 0xED, 14, 14, 0, 0, 14, 0x42, 0x06}));
  EXPECT_EQ(Bytes(reply.begin() + 10, reply.begin() + 24),
            (Bytes{0x8A, 0, 0xA0, 0x8C, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
  EXPECT_EQ(PacketCrc(0, reply.data(), 24), (reply[24] << 8) | reply[25]);
  auto requests = emu.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_TRUE(requests[0].signatureOk);
  EXPECT_FALSE(requests[0].headerChecksumOk);
  EXPECT_FALSE(requests[0].crcOk);
  EXPECT_FALSE(requests[0].bodyParsed);
  EXPECT_TRUE(requests[0].params.empty());
}

// Like the emulator, whose request buffer holds 272 bytes, the substitute in
// that mode answers a longer body only by closing the connection.
TEST(SubstituteTest, LikeTheEmulatorItClosesOnABodyOver272BytesWithoutAReply) {
  EmulatorSubstitute emu;
  emu.SetLikeEmulator(true);
  ASSERT_TRUE(emu.Start({kSecondaryPort}));
  auto firstAnswer = [](size_t bodySize) {
    Bytes body(bodySize, 0);
    body[0] = 0x0A;
    EncodeBe16(&body[2], kTrapReset);
    Bytes packet = FramePacket(14, 14, 0, 1, body.data(), body.size());
    netsock::Socket s = netsock::OpenTcp();
    EXPECT_TRUE(netsock::ConnectLoopback(s, kSecondaryPort, 2000));
    size_t sent = 0;
    netsock::SendBytes(s, packet.data(), packet.size(), &sent);
    uint8_t byte = 0;
    size_t got = 0;
    auto status = netsock::WaitReadable(s, 3000) ? netsock::RecvBytes(s, &byte, 1, &got)
                                                 : netsock::RecvStatus::WouldBlock;
    netsock::CloseSocket(s);
    return status;
  };
  EXPECT_EQ(firstAnswer(272), netsock::RecvStatus::Data);
  EXPECT_NE(firstAnswer(274), netsock::RecvStatus::Data);
  EXPECT_NE(firstAnswer(274), netsock::RecvStatus::WouldBlock);  // closed, not silent
  auto requests = emu.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[2].bodySize, 274);
}

}  // namespace
