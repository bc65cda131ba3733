#include <windows.h>

#include "testing/cpu_time.h"

namespace gantry_testing {

namespace {

double Ms(const FILETIME& time) {
  ULARGE_INTEGER ticks;
  ticks.LowPart = time.dwLowDateTime;
  ticks.HighPart = time.dwHighDateTime;
  return static_cast<double>(ticks.QuadPart) / 10000.0;  // 100 ns ticks
}

}  // namespace

double ThreadCpuMs() {
  FILETIME created, exited, kernel, user;
  if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
  return Ms(kernel) + Ms(user);
}

}  // namespace gantry_testing
