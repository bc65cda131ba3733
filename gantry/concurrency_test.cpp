// Calls made at once, and calls following each other closely, against the
// substitute handling connections as the real emulator does (one accept per
// 100 ms, a queue of one that is reset when it accepts): every call gets the
// right answer, and the device sees each succeeded call's request once.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "gantry.h"
#include "testing/emulator_substitute.h"
#include "testing/pdb_image.h"
#include "testing/process.h"
#include "testing/scratch.h"

namespace {

using namespace gantry_testing;
using namespace file_testing;
using Clock = std::chrono::steady_clock;

constexpr short kRuntimeVersion = 515;
// Waiting for the turn and connecting take at most 5 s, each request 5 s more.
constexpr double kMarginSeconds = 1.0;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

/// The emulator-like substitute on both ports, with the runtime on the device.
class ConcurrencyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    emu.AddDatabase("QuorvaneRT", 0x00012340, kRuntimeVersion);
    emu.SetLikeEmulator(true);
    ASSERT_TRUE(emu.Start({kPrimaryPort, kSecondaryPort}));
  }

  // A database on the device, named for one call.
  std::string DeviceDatabase(const std::string& name) {
    emu.AddDatabase(name, 0x00100000 + 0x100 * static_cast<uint32_t>(++added), 1);
    return name;
  }

  // The requests of this trap that carry this text.
  int Asked(uint16_t trap, const std::string& text) const {
    int count = 0;
    for (const auto& request : emu.Requests()) {
      for (const auto& param : request.params)
        count += request.trap == trap && param.kind == 's' && param.Text() == text ? 1 : 0;
    }
    return count;
  }

  void Report(const char* what, int right, int of, double seconds) {
    std::printf("[ figures  ] %s: %d of %d right in %.2f s\n", what, right, of, seconds);
    RecordProperty(what, right);
  }

  EmulatorSubstitute emu;
  ScratchDir scratch;
  int added = 0;
};

TEST_F(ConcurrencyTest, RunningThenHasDatabaseThirtyTimesInOneThreadAlwaysRight) {
  std::vector<std::string> names;
  for (int i = 0; i < 30; ++i)
    names.push_back(DeviceDatabase("Db" + std::to_string(i)));
  const auto start = Clock::now();
  int right = 0;
  for (std::string& name : names)
    right += IsEmulatorRunning() && HasDatabase(&name[0]) ? 1 : 0;
  Report("IsEmulatorRunning then HasDatabase, 30 times", right, 30, SecondsSince(start));
  EXPECT_EQ(right, 30);
  for (const std::string& name : names)
    EXPECT_EQ(Asked(kTrapFindDatabase, name), 1) << name;
}

TEST_F(ConcurrencyTest, SixteenCallsAtOnceOfEveryKindAllRight) {
  enum Kind { kRunning, kHas, kVersion, kInstall, kExport, kKinds };
  const int kRequests[kKinds] = {0, 1, 2, 3, 1};
  /// One thread's call: what it names, its answer and how long it took.
  struct Call {
    Kind kind;
    std::string text;
    bool right = false;
    double seconds = 0;
  };
  std::vector<Call> calls;
  for (int t = 0; t < 16; ++t) {
    const Kind kind = static_cast<Kind>(t % kKinds);
    PdbFile file;
    file.name = "Call" + std::to_string(t);
    calls.push_back(
        {kind, kind == kInstall ? (scratch / (file.name + ".pdb")).string() : file.name});
    if (kind == kInstall) WriteFileBytes(calls.back().text, PdbImage(file));
    if (kind == kHas || kind == kExport) DeviceDatabase(file.name);
  }
  std::vector<std::thread> threads;
  const auto start = Clock::now();
  for (Call& call : calls) {
    threads.emplace_back([&call, this] {
      const auto begun = Clock::now();
      std::string out = (scratch / (call.text + ".out")).string();
      switch (call.kind) {
        case kRunning:
          call.right = IsEmulatorRunning();
          break;
        case kHas:
          call.right = HasDatabase(&call.text[0]);
          break;
        case kVersion:
          call.right = QuorvaneRt_ver() == kRuntimeVersion;
          break;
        case kInstall:
          call.right = InstallFile(&call.text[0]);
          break;
        default:
          call.right = ExportDatabase(&call.text[0], &out[0]);
      }
      call.seconds = SecondsSince(begun);
    });
  }
  for (auto& thread : threads)
    thread.join();
  int right = 0;
  for (const Call& call : calls) {
    right += call.right ? 1 : 0;
    EXPECT_TRUE(call.right) << call.text << " kind " << call.kind << " after " << call.seconds;
    EXPECT_LT(call.seconds, 5.0 + 5.0 * kRequests[call.kind] + kMarginSeconds) << call.text;
    const uint16_t trap = call.kind == kHas ? kTrapFindDatabase : kTrapHostControl;
    if (call.kind == kHas || call.kind == kInstall || call.kind == kExport) {
      EXPECT_EQ(Asked(trap, call.text), 1) << call.text;
    }
  }
  Report("16 calls at once", right, 16, SecondsSince(start));
  EXPECT_EQ(Asked(kTrapFindDatabase, "QuorvaneRT"), 3);
}

TEST_F(ConcurrencyTest, FourProcessesOfFourThreadsAllRight) {
  std::vector<process_testing::Child> children;
  std::vector<std::string> names;
  for (int p = 0; p < 4; ++p) {
    std::vector<std::string> args = {"QuorvaneRT"};
    for (int t = 1; t < 4; ++t)
      args.push_back(DeviceDatabase("P" + std::to_string(p) + "T" + std::to_string(t)));
    names.insert(names.end(), args.begin() + 1, args.end());
    children.push_back(process_testing::Start(GANTRY_CONCURRENT_CALLER, "", args));
  }
  const auto start = Clock::now();
  int right = 0;
  for (auto& child : children) {
    const process_testing::Outcome outcome = process_testing::Finish(&child);
    EXPECT_EQ(outcome.status, 0) << outcome.out;
    std::istringstream lines(outcome.out);
    std::string name, verdict;
    double seconds = 0;
    while (lines >> name >> verdict >> seconds) {
      right += verdict == "right" ? 1 : 0;
      EXPECT_LT(seconds, (name == "QuorvaneRT" ? 15.0 : 10.0) + kMarginSeconds) << name;
    }
  }
  Report("4 processes of 4 threads", right, 16, SecondsSince(start));
  EXPECT_EQ(right, 16);
  for (const std::string& name : names)
    EXPECT_EQ(Asked(kTrapFindDatabase, name), 1) << name;
  EXPECT_EQ(Asked(kTrapFindDatabase, "QuorvaneRT"), 4);
}

}  // namespace
