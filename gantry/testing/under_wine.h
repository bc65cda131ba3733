#pragma once

// Whether the tests run under Wine rather than on the system they were built
// for. Wine wakes a thread waiting in select late and unevenly, so a test that
// bounds a wake-up in milliseconds measures it more than once there. One
// implementation per platform (under_wine_posix.cpp, under_wine_win32.cpp).

namespace gantry_testing {

bool RunningUnderWine();

}  // namespace gantry_testing
