// The exports against an emulator that misbehaves in every way a peer can:
// silence, garbage, a reply cut at every byte, floods and endless streams, a
// reply dripping in too slowly, and all of that from 32 threads at once. No
// call may crash, outlast its bounds (5 s for its turn and connection, 5 s
// per request), or leave a socket open.
// POSIX only: open descriptors are counted in /proc/self/fd.

#include <dirent.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bytes.h"
#include "gantry.h"
#include "testing/emulator_substitute.h"
#include "testing/process.h"

namespace {

using namespace gantry_testing;
using Clock = std::chrono::steady_clock;

constexpr double kBoundSeconds = 6.5;  // one 5 s wait for a reply, and margin
constexpr double kTurnSeconds = 5.0;   // the most a call waits for its turn
constexpr uint32_t kFoundId = 0x00012340;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

int OpenDescriptors() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr)
      ++count;
    closedir(dir);
  }
  return count;
}

// The name a lookup asks for; "" for any other request.
std::string LookupName(const ReceivedRequest& request) {
  bool lookup = request.trap == kTrapFindDatabase && request.params.size() == 2;
  return lookup ? request.params[1].Text() : std::string();
}

Bytes Noise(size_t n, unsigned seed) {
  std::mt19937 random(seed);
  Bytes bytes(n);
  for (uint8_t& b : bytes)
    b = static_cast<uint8_t>(random());
  return bytes;
}

Bytes Header(uint16_t announced) {
  Bytes header = {0xBE, 0xEF, 0xED, 1, 1, 0, 0, 0, 1, 0};
  gantry::EncodeBe16(&header[6], announced);
  return header;
}

TEST(GantryFaults, ReplyCutAtEveryBytePositionFailsAtOnce) {
  int before = OpenDescriptors();
  std::atomic<size_t> keep{0};
  constexpr uint16_t kVersion = 0x0203;
  EmulatorSubstitute emu;
  emu.AddDatabase("MemoPad", kFoundId, 1);
  emu.AddDatabase("QuorvaneRT", kFoundId + 0x10, kVersion);
  emu.SetBehaviour([&](const ReceivedRequest& request, const Bytes& reply) {
    Reaction reaction{reply};
    // QuorvaneRt_ver: the lookup is answered whole, the info request is cut.
    bool cut = request.trap == kTrapDatabaseInfo || LookupName(request) != "QuorvaneRT";
    if (cut && keep < reply.size()) {
      reaction.bytes.resize(keep);
      reaction.close = true;
    }
    return reaction;
  });
  ASSERT_TRUE(emu.Start({kPrimaryPort}));

  char name[] = "MemoPad";
  const size_t lookupReply = 10 + 14 + 4 + 10 + 2;  // 'w' slot, 8-byte 's' slot
  for (keep = 0; keep < lookupReply; ++keep) {
    auto start = Clock::now();
    EXPECT_FALSE(HasDatabase(name)) << keep;
    EXPECT_LT(SecondsSince(start), 1.0) << keep;
  }
  EXPECT_TRUE(HasDatabase(name));

  const size_t infoReply = 10 + 94 + 2;
  for (keep = 0; keep < infoReply; ++keep) {
    auto start = Clock::now();
    EXPECT_EQ(QuorvaneRt_ver(), 0) << keep;
    EXPECT_LT(SecondsSince(start), 1.0) << keep;
  }
  EXPECT_EQ(QuorvaneRt_ver(), kVersion);
  emu.Stop();
  EXPECT_EQ(OpenDescriptors(), before);
}

/// One misbehaviour, chosen by the looked-up name, and what HasDatabase must
/// give under it (-1: either result) and in how many seconds.
struct Case {
  std::string name;
  std::function<Reaction(const Bytes& reply)> react;
  int expected;
  double minSeconds, maxSeconds;
};

TEST(GantryFaults, SilenceGarbageAndFloodsEndWithinTheBound) {
  std::vector<Case> cases = {
      {"silent", [](const Bytes&) { return Reaction{}; }, 0, 4.5, kBoundSeconds},
      {"closes",
       [](const Bytes&) {
         return Reaction{{}, 0, false, true};
       },
       0, 0, 1},
      {"header-only", [](const Bytes&) { return Reaction{Header(40)}; }, 0, 4.5, kBoundSeconds},
      {"announces-64k",
       [](const Bytes&) {
         Bytes b = Header(0xFFFF);
         b.resize(200, 0x11);
         return Reaction{b};
       },
       0, 4.5, kBoundSeconds},
      {"empty-body",
       [](const Bytes&) {
         Bytes b = Header(0);
         b.resize(12, 0);
         return Reaction{b};
       },
       0, 0, 1},
      {"body-under-8",
       [](const Bytes&) {
         Bytes b = Header(7);
         b.resize(10 + 7 + 2, 0x22);
         return Reaction{b};
       },
       0, 0, 1},
      {"noise", [](const Bytes&) { return Reaction{Noise(300, 1)}; }, -1, 0, kBoundSeconds},
      {"noise-then-close",
       [](const Bytes&) {
         return Reaction{Noise(5000, 2), 0, false, true};
       },
       -1, 0, 1},
      {"flood",
       [](const Bytes& reply) {
         Bytes b = reply;
         b.resize(b.size() + (1 << 20), 0xEE);
         return Reaction{b};
       },
       1, 0, 1},
      {"endless-after-reply",
       [](const Bytes& reply) {
         return Reaction{reply, 0, true};
       },
       1, 0, 1},
      {"endless-garbage",
       [](const Bytes&) {
         return Reaction{{}, 0, true};
       },
       -1, 0, 1},
      {"drips-too-slowly",
       [](const Bytes& reply) {
         return Reaction{reply, 200};
       },
       0, 4.5, kBoundSeconds},
  };
  int before = OpenDescriptors();
  EmulatorSubstitute emu;
  emu.SetTrapD0(kTrapFindDatabase, 7);
  emu.SetBehaviour([&](const ReceivedRequest& request, const Bytes& reply) {
    for (const Case& c : cases) {
      if (c.name == LookupName(request)) return c.react(reply);
    }
    return Reaction{};
  });
  ASSERT_TRUE(emu.Start({kPrimaryPort}));

  // The calls of one process take turns, so the ones that wait out the reply
  // bound run at once in processes of their own, and the others here.
  std::vector<process_testing::Child> slow;
  for (const Case& c : cases) {
    if (c.maxSeconds > 1)
      slow.push_back(process_testing::Start(GANTRY_CONCURRENT_CALLER, "", {c.name}));
  }
  for (const Case& c : cases) {
    if (c.maxSeconds > 1) continue;
    std::string name = c.name;
    auto start = Clock::now();
    const int result = HasDatabase(&name[0]) ? 1 : 0;
    EXPECT_LE(SecondsSince(start), c.maxSeconds) << c.name;
    if (c.expected >= 0) {
      EXPECT_EQ(result, c.expected) << c.name;
    }
  }
  for (auto& child : slow) {
    std::istringstream line(process_testing::Finish(&child).out);
    std::string name, verdict;
    double seconds = -1;
    line >> name >> verdict >> seconds;
    for (const Case& c : cases) {
      if (c.name != name) continue;
      if (c.expected >= 0) {
        EXPECT_EQ(verdict, c.expected == 1 ? "right" : "wrong") << c.name;
      }
      EXPECT_GE(seconds, c.minSeconds) << c.name;
      EXPECT_LE(seconds, c.maxSeconds) << c.name;
    }
  }
  emu.Stop();
  EXPECT_EQ(OpenDescriptors(), before);
}

// Every connection gets one of nine behaviours in turn, whatever it asks. One
// in nine (silence) holds the line of calls for the whole reply bound, so
// that the calls waiting behind it give up their turns.
Reaction Misbehave(const ReceivedRequest& request, Bytes reply) {
  switch (request.connection % 9) {
    case 0:
      return Reaction{reply};
    case 1:  // in time, byte by byte
      return Reaction{reply, 10};
    case 2:
      return Reaction{{}, 0, false, true};
    case 3:
      reply.resize(static_cast<size_t>(request.connection) % reply.size());
      return Reaction{reply, 0, false, true};
    case 4:
      return Reaction{Noise(64, static_cast<unsigned>(request.connection))};
    case 5:
      reply.resize(reply.size() + 100000, 0xEE);
      return Reaction{reply};
    case 6:
      return Reaction{reply, 0, true};
    case 7:  // a second request then goes to a closed connection
      return Reaction{reply, 0, false, true};
    default:
      return Reaction{};
  }
}

TEST(GantryFaults, ThirtyTwoThreadsAgainstAMisbehavingEmulator) {
  int before = OpenDescriptors();
  EmulatorSubstitute emu;
  emu.SetTrapD0(kTrapFindDatabase, kFoundId);
  emu.SetTrapD0(kTrapDatabaseInfo, 0);
  emu.SetBehaviour(Misbehave);
  ASSERT_TRUE(emu.Start({kPrimaryPort}));
  constexpr int kThreads = 32;
  constexpr double kBusySeconds = 2;
  // Two requests at most, after the turn.
  constexpr double kCallBound = kTurnSeconds + 2 * 5.0 + 1.5;
  std::vector<double> slowest(kThreads, 0);
  std::vector<int> calls(kThreads, 0);
  std::vector<int> notRunning(kThreads, 0);  // before its turn could have run out
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      char name[] = "MemoPad";
      char path[] = "/tmp/app.prc";
      auto begin = Clock::now();
      for (int i = t; SecondsSince(begin) < kBusySeconds; ++i) {
        auto start = Clock::now();
        switch (i % 7) {
          case 0:
            if (!IsEmulatorRunning() && SecondsSince(start) < kTurnSeconds - 0.1) ++notRunning[t];
            break;
          case 1:
            HasDatabase(name);
            break;
          case 2:
            QuorvaneRt_ver();
            break;
          case 3:
            InstallFile(path);
            break;
          case 4:
            LaunchApp(name);
            break;
          case 5:
            EmulatorReset();
            break;
          default:
            EmulatorStartAppLauncher();
        }
        slowest[t] = std::max(slowest[t], SecondsSince(start));
        ++calls[t];
      }
    });
  }
  for (auto& thread : threads)
    thread.join();
  emu.Stop();
  int total = 0;
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_LE(slowest[t], kCallBound) << "thread " << t;
    EXPECT_EQ(notRunning[t], 0) << "thread " << t;
    total += calls[t];
  }
  std::printf("[ storm    ] %d calls from %d threads\n", total, kThreads);
  EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
