#include <time.h>

#include "testing/cpu_time.h"

namespace gantry_testing {

double ThreadCpuMs() {
  timespec used{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
  return static_cast<double>(used.tv_sec) * 1000.0 + static_cast<double>(used.tv_nsec) / 1e6;
}

}  // namespace gantry_testing
