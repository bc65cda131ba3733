#pragma once

// The processor time the calling thread has used, for tests that tell a
// waiting call from a spinning one. One implementation per platform
// (cpu_time_posix.cpp, cpu_time_win32.cpp).

namespace gantry_testing {

double ThreadCpuMs();

}  // namespace gantry_testing
