// gantry_call_bench: times calls of the gantry library against a running
// emulator (scripts/bench starts gantry-emulator on port 2000).
//
//   gantry_call_bench [--calls N] [--threads T] [--millis M] [--version V]
//
// For IsEmulatorRunning, HasDatabase("QuorvaneRT") and QuorvaneRt_ver it makes
// N calls one after another and prints their median and 99th-percentile
// latency, then runs T threads calling for M milliseconds and prints the calls
// per second. A call whose result is not the expected one (running, present,
// version V) counts as failed. Exit status 1 when any call failed.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "gantry.h"

namespace {

using Clock = std::chrono::steady_clock;

/// One library call under test and the result that counts as success.
/// Listed by main, run by MeasureLatency and MeasureThroughput.
struct CallUnderTest {
  const char* name;
  std::function<bool()> call;  // true when the result is the expected one
};

double Micros(Clock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

// The value at fraction q (0..1) of the sorted samples, nearest rank.
double Quantile(std::vector<double> samples, double q) {
  std::sort(samples.begin(), samples.end());
  size_t rank = static_cast<size_t>(q * static_cast<double>(samples.size()) + 0.999999);
  rank = std::min(std::max<size_t>(rank, 1), samples.size());
  return samples[rank - 1];
}

int MeasureLatency(const CallUnderTest& test, int calls) {
  std::vector<double> samples;
  samples.reserve(static_cast<size_t>(calls));
  int failed = 0;
  for (int i = 0; i < calls; ++i) {
    const auto start = Clock::now();
    const bool ok = test.call();
    samples.push_back(Micros(Clock::now() - start));
    if (!ok) ++failed;
  }
  std::printf("latency %s %.1f %.1f %d\n", test.name, Quantile(samples, 0.5),
              Quantile(samples, 0.99), failed);
  return failed;
}

int MeasureThroughput(const CallUnderTest& test, int threads, int millis) {
  std::atomic<long> done{0};
  std::atomic<int> failed{0};
  const auto start = Clock::now();
  const auto end = start + std::chrono::milliseconds(millis);
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&] {
      long mine = 0;
      while (Clock::now() < end) {
        if (!test.call()) ++failed;
        ++mine;
      }
      done += mine;
    });
  }
  for (std::thread& worker : workers)
    worker.join();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("throughput %s %d %.0f %d\n", test.name, threads,
              static_cast<double>(done.load()) / seconds, failed.load());
  return failed.load();
}

bool TakeNumber(int argc, char** argv, int& i, const char* option, long* value) {
  if (std::strcmp(argv[i], option) != 0 || i + 1 >= argc) return false;
  *value = std::strtol(argv[++i], nullptr, 0);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  long calls = 1000, threads = 16, millis = 1000, version = 0x0203;
  for (int i = 1; i < argc; ++i) {
    if (!TakeNumber(argc, argv, i, "--calls", &calls) &&
        !TakeNumber(argc, argv, i, "--threads", &threads) &&
        !TakeNumber(argc, argv, i, "--millis", &millis) &&
        !TakeNumber(argc, argv, i, "--version", &version)) {
      std::fprintf(stderr,
                   "usage: gantry_call_bench [--calls N] [--threads T] [--millis M] "
                   "[--version V]\n");
      return 2;
    }
  }
  static char name[] = "QuorvaneRT";
  const short expected = static_cast<short>(version);
  const std::vector<CallUnderTest> tests = {
      {"IsEmulatorRunning", [] { return IsEmulatorRunning(); }},
      {"HasDatabase", [] { return HasDatabase(name); }},
      {"QuorvaneRt_ver", [expected] { return QuorvaneRt_ver() == expected; }},
  };
  int failed = 0;
  for (const CallUnderTest& test : tests)
    failed += MeasureLatency(test, static_cast<int>(calls));
  for (const CallUnderTest& test : tests)
    failed += MeasureThroughput(test, static_cast<int>(threads), static_cast<int>(millis));
  return failed == 0 ? 0 : 1;
}
