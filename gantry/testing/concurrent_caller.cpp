// gantry_concurrent_caller NAME...: one thread per NAME, all started at once,
// each making one read-only call of the gantry library: QuorvaneRt_ver for
// "QuorvaneRT" (right when 515, the version on the test device), else
// HasDatabase(NAME) (right when true). Prints one line per call, "NAME right
// SECONDS" or "NAME wrong SECONDS", and exits with the number of wrong
// answers. The concurrency tests run several at once.

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "gantry.h"

int main(int argc, char** argv) {
  const int calls = argc - 1;
  std::vector<char> right(static_cast<size_t>(calls), 0);
  std::vector<double> seconds(static_cast<size_t>(calls), 0);
  std::vector<std::thread> threads;
  for (int i = 0; i < calls; ++i) {
    threads.emplace_back([&, i] {
      const auto start = std::chrono::steady_clock::now();
      std::string name = argv[i + 1];
      right[i] = name == "QuorvaneRT" ? QuorvaneRt_ver() == 515 : HasDatabase(&name[0]);
      seconds[i] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    });
  }
  int wrong = 0;
  for (int i = 0; i < calls; ++i) {
    threads[i].join();
    std::printf("%s %s %.3f\n", argv[i + 1], right[i] ? "right" : "wrong", seconds[i]);
    wrong += right[i] ? 0 : 1;
  }
  return wrong;
}
