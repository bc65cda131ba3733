// The exports against an emulator that misbehaves in every way a peer can:
// silence, garbage, a reply cut at every byte, floods and endless streams, a
// reply dripping in too slowly, and all of that from 32 threads at once. No
// call may crash, outlast its 5 s bound, or leave a socket open.
// POSIX only: the emulator here is written directly on sockets, and open
// descriptors are counted in /proc/self/fd.

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bytes.h"
#include "gantry.h"
#include "packet.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr uint16_t kPort = 2000;
constexpr int kPollMs = 20;
constexpr double kBoundSeconds = 6.5;  // one 5 s wait for a reply, and margin

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

/// What the emulator does after reading one request: send bytes (spaced by
/// dripMs each), then maybe stream 0xEE bytes until the peer goes away, then
/// close the connection or wait for the next request. No bytes and no close
/// is silence.
struct Answer {
  Bytes bytes;
  int dripMs = 0;
  bool endless = false;
  bool close = false;
};

/// The request as the emulator read it, and where it came: the connection's
/// number (from 1) and the request's number on that connection (from 1).
struct Request {
  Bytes packet;
  int connection = 0;
  int number = 0;

  uint16_t Trap() const { return gantry::GetBe16(&packet[12]); }
  // The text of the first string slot of a lookup (its last parameter).
  std::string LookupName() const {
    if (packet.size() < 10 + 16 + 2) return {};
    const char* text = reinterpret_cast<const char*>(&packet[26]);
    return std::string(text, strnlen(text, packet.size() - 28));
  }
};

/// A loopback server on port 2000 that reads request packets and answers each
/// as the test's function says. One thread accepts, one serves each
/// connection; everything is closed and joined by Stop.
class RawEmulator {
 public:
  using Behaviour = std::function<Answer(const Request&)>;

  explicit RawEmulator(Behaviour behave) : behaviour(std::move(behave)) {}
  ~RawEmulator() { Stop(); }

  bool Start() {
    listener = socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(kPort);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, SOMAXCONN) != 0) {
      close(listener);
      listener = -1;
      return false;
    }
    acceptor = std::thread([this] { AcceptLoop(); });
    return true;
  }

  void Stop() {
    stopping = true;
    if (acceptor.joinable()) acceptor.join();
    std::vector<std::thread> ended;
    {
      std::lock_guard<std::mutex> lock(mutex);
      ended.swap(servers);
    }
    for (auto& server : ended)
      server.join();
    if (listener >= 0) close(listener);
    listener = -1;
  }

 private:
  bool WaitFor(int fd, short events) {
    pollfd entry{fd, events, 0};
    return poll(&entry, 1, kPollMs) > 0;
  }

  void AcceptLoop() {
    while (!stopping) {
      if (!WaitFor(listener, POLLIN)) continue;
      int fd = accept(listener, nullptr, nullptr);
      if (fd < 0) continue;
      std::lock_guard<std::mutex> lock(mutex);
      int number = ++connections;
      servers.emplace_back([this, fd, number] { Serve(fd, number); });
    }
  }

  bool ReadExactly(int fd, uint8_t* buffer, size_t n) {
    size_t have = 0;
    while (have < n && !stopping) {
      if (!WaitFor(fd, POLLIN)) continue;
      ssize_t got = recv(fd, buffer + have, n - have, 0);
      if (got <= 0) return false;
      have += static_cast<size_t>(got);
    }
    return have == n;
  }

  bool SendAll(int fd, const uint8_t* data, size_t n) {
    while (n > 0 && !stopping) {
      if (!WaitFor(fd, POLLOUT)) continue;
      ssize_t sent = send(fd, data, n, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) continue;
      if (sent <= 0) return false;
      data += sent;
      n -= static_cast<size_t>(sent);
    }
    return n == 0;
  }

  // False when the connection is to end.
  bool Act(int fd, const Answer& answer) {
    if (answer.dripMs == 0) {
      if (!SendAll(fd, answer.bytes.data(), answer.bytes.size())) return false;
    } else {
      for (uint8_t byte : answer.bytes) {
        std::this_thread::sleep_for(std::chrono::milliseconds(answer.dripMs));
        if (stopping || !SendAll(fd, &byte, 1)) return false;
      }
    }
    const Bytes flood(64 * 1024, 0xEE);
    while (answer.endless && SendAll(fd, flood.data(), flood.size())) {
    }
    return !answer.close && !answer.endless;
  }

  void Serve(int fd, int connection) {
    for (int number = 1;; ++number) {
      Request request;
      request.connection = connection;
      request.number = number;
      request.packet.resize(kPacketHeaderSize);
      if (!ReadExactly(fd, request.packet.data(), kPacketHeaderSize)) break;
      request.packet.resize(kPacketHeaderSize + gantry::GetBe16(&request.packet[6]) + 2);
      if (!ReadExactly(fd, &request.packet[kPacketHeaderSize],
                       request.packet.size() - kPacketHeaderSize)) {
        break;
      }
      if (!Act(fd, behaviour(request))) break;
    }
    close(fd);
  }

  Behaviour behaviour;
  int listener = -1;
  std::atomic<bool> stopping{false};
  std::thread acceptor;
  std::mutex mutex;
  std::vector<std::thread> servers;
  int connections = 0;
};

// The reply an emulator would give: the request's body echoed with command
// 0x8A and this D0, framed with the request's sockets swapped and its
// transaction id.
Bytes ProperReply(const Request& request, uint32_t d0) {
  const Bytes& p = request.packet;
  Bytes body(p.begin() + kPacketHeaderSize, p.end() - kPacketCrcSize);
  body[0] = 0x8A;
  gantry::PutBe32(&body[4], d0);
  return FramePacket(p[4], p[3], 0, p[8], body.data(), body.size());
}

// Sets the 16-bit slot of parameter paramNo (1 = first) in a framed reply.
void SetWordParam(Bytes& reply, int paramNo, uint16_t value) {
  size_t body = kPacketHeaderSize;
  int count = gantry::GetBe16(&reply[body + 12]);
  size_t offset = body + kRpcHeaderSize;
  for (int param = count; param > paramNo; --param)
    offset += 2 + reply[offset + 1];
  gantry::PutBe16(&reply[offset + 2], value);
  size_t n = reply.size() - kPacketHeaderSize - kPacketCrcSize;
  Bytes framed = FramePacket(reply[3], reply[4], 0, reply[8], &reply[body], n);
  reply.swap(framed);
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
  gantry::PutBe16(&header[6], announced);
  return header;
}

TEST(GantryFaults, ReplyCutAtEveryBytePositionFailsAtOnce) {
  int before = OpenDescriptors();
  std::atomic<size_t> keep{0};
  constexpr uint16_t kVersion = 0x0203;
  RawEmulator emu([&](const Request& request) {
    Answer answer;
    answer.bytes = ProperReply(request, 0x00012340);
    if (request.Trap() == 0xA046) SetWordParam(answer.bytes, 5, kVersion);
    // QuorvaneRt_ver: the lookup is answered whole, the info request is cut.
    bool cut = request.Trap() == 0xA046 || request.LookupName() != "QuorvaneRT";
    if (cut && keep < answer.bytes.size()) {
      answer.bytes.resize(keep);
      answer.close = true;
    }
    return answer;
  });
  ASSERT_TRUE(emu.Start());

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
  std::function<Answer(const Request&)> answer;
  int expected;
  double minSeconds, maxSeconds;
};

TEST(GantryFaults, SilenceGarbageAndFloodsEndWithinTheBound) {
  auto reply = [](const Request& r) { return ProperReply(r, 7); };
  std::vector<Case> cases = {
      {"silent", [](const Request&) { return Answer{}; }, 0, 4.5, kBoundSeconds},
      {"closes",
       [](const Request&) {
         return Answer{{}, 0, false, true};
       },
       0, 0, 1},
      {"header-only", [](const Request&) { return Answer{Header(40)}; }, 0, 4.5, kBoundSeconds},
      {"announces-64k",
       [](const Request&) {
         Bytes b = Header(0xFFFF);
         b.resize(200, 0x11);
         return Answer{b};
       },
       0, 4.5, kBoundSeconds},
      {"empty-body",
       [](const Request&) {
         Bytes b = Header(0);
         b.resize(12, 0);
         return Answer{b};
       },
       0, 0, 1},
      {"body-under-8",
       [](const Request&) {
         Bytes b = Header(7);
         b.resize(10 + 7 + 2, 0x22);
         return Answer{b};
       },
       0, 0, 1},
      {"noise", [](const Request&) { return Answer{Noise(300, 1)}; }, -1, 0, kBoundSeconds},
      {"noise-then-close",
       [](const Request&) {
         return Answer{Noise(5000, 2), 0, false, true};
       },
       -1, 0, 1},
      {"flood",
       [&](const Request& r) {
         Bytes b = reply(r);
         b.resize(b.size() + (1 << 20), 0xEE);
         return Answer{b};
       },
       1, 0, 1},
      {"endless-after-reply",
       [&](const Request& r) {
         return Answer{reply(r), 0, true};
       },
       1, 0, 1},
      {"endless-garbage",
       [](const Request&) {
         return Answer{{}, 0, true};
       },
       -1, 0, 1},
      {"drips-too-slowly",
       [&](const Request& r) {
         return Answer{reply(r), 200};
       },
       0, 4.5, kBoundSeconds},
  };
  int before = OpenDescriptors();
  RawEmulator emu([&](const Request& request) {
    for (const Case& c : cases) {
      if (c.name == request.LookupName()) return c.answer(request);
    }
    return Answer{};
  });
  ASSERT_TRUE(emu.Start());

  // All at once, so that the 5 s waits overlap.
  std::vector<int> results(cases.size());
  std::vector<double> seconds(cases.size());
  std::vector<std::thread> threads;
  for (size_t i = 0; i < cases.size(); ++i) {
    threads.emplace_back([&, i] {
      std::string name = cases[i].name;
      auto start = Clock::now();
      results[i] = HasDatabase(&name[0]) ? 1 : 0;
      seconds[i] = SecondsSince(start);
    });
  }
  for (auto& thread : threads)
    thread.join();
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    if (c.expected >= 0) {
      EXPECT_EQ(results[i], c.expected) << c.name;
    }
    EXPECT_GE(seconds[i], c.minSeconds) << c.name;
    EXPECT_LE(seconds[i], c.maxSeconds) << c.name;
  }
  emu.Stop();
  EXPECT_EQ(OpenDescriptors(), before);
}

// Every connection gets one of nine behaviours in turn, whatever it asks.
Answer Misbehave(const Request& request) {
  Bytes reply = ProperReply(request, request.Trap() == 0xA045 ? 0x00012340 : 0);
  switch (request.connection % 9) {
    case 0:
      return Answer{reply};
    case 1:
      return Answer{};
    case 2:
      return Answer{{}, 0, false, true};
    case 3:
      reply.resize(static_cast<size_t>(request.connection) % reply.size());
      return Answer{reply, 0, false, true};
    case 4:
      return Answer{Noise(64, static_cast<unsigned>(request.connection))};
    case 5:
      reply.resize(reply.size() + 100000, 0xEE);
      return Answer{reply};
    case 6:
      return Answer{reply, 0, true};
    case 7:  // a second request then goes to a closed connection
      return Answer{reply, 0, false, true};
    default:
      return Answer{reply, 300};
  }
}

TEST(GantryFaults, ThirtyTwoThreadsAgainstAMisbehavingEmulator) {
  int before = OpenDescriptors();
  RawEmulator emu(Misbehave);
  ASSERT_TRUE(emu.Start());
  constexpr int kThreads = 32;
  constexpr double kBusySeconds = 6;
  std::vector<double> slowest(kThreads, 0);
  std::vector<int> calls(kThreads, 0);
  std::vector<int> notRunning(kThreads, 0);
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
            if (!IsEmulatorRunning()) ++notRunning[t];
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
    EXPECT_LE(slowest[t], kBoundSeconds) << "thread " << t;
    EXPECT_EQ(notRunning[t], 0) << "thread " << t;
    total += calls[t];
  }
  std::printf("[ storm    ] %d calls from %d threads\n", total, kThreads);
  EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
