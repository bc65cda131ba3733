#include "turns.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using gantry::CallTurns;
using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Waits until count callers wait in line.
bool WaitForWaiting(const CallTurns& turns, int count) {
  const auto start = Clock::now();
  while (turns.Waiting() != count) {
    if (MsSince(start) > 5000) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

TEST(CallTurns, CallersGoInTheOrderTheyCame) {
  CallTurns turns;
  ASSERT_TRUE(turns.Take(1000));
  std::mutex mutex;
  std::vector<int> order;
  std::vector<std::thread> callers;
  for (int i = 0; i < 6; ++i) {
    callers.emplace_back([&, i] {
      ASSERT_TRUE(turns.Take(5000));
      {
        std::lock_guard<std::mutex> lock(mutex);
        order.push_back(i);
      }
      turns.Give();
    });
    ASSERT_TRUE(WaitForWaiting(turns, i + 1));  // in line before the next comes
  }
  turns.Give();
  for (auto& caller : callers)
    caller.join();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(turns.Waiting(), 0);
}

// A caller whose time runs out leaves the line; the ones behind it still go
// in their order, and nobody waits for it.
TEST(CallTurns, ACallerThatGivesUpLeavesTheLineAsIfItNeverCame) {
  CallTurns turns;
  ASSERT_TRUE(turns.Take(1000));
  bool late = true;
  double waitedMs = 0;
  std::thread impatient([&] {
    const auto start = Clock::now();
    late = turns.Take(150);
    waitedMs = MsSince(start);
  });
  ASSERT_TRUE(WaitForWaiting(turns, 1));
  bool next = false;
  std::thread patient([&] {
    next = turns.Take(5000);
    if (next) turns.Give();
  });
  ASSERT_TRUE(WaitForWaiting(turns, 2));
  impatient.join();
  EXPECT_FALSE(late);
  EXPECT_GE(waitedMs, 140);
  EXPECT_LT(waitedMs, 1000);
  EXPECT_EQ(turns.Waiting(), 1);
  turns.Give();
  patient.join();
  EXPECT_TRUE(next);
  EXPECT_TRUE(turns.Take(0));  // free again at once
  turns.Give();
}

}  // namespace
