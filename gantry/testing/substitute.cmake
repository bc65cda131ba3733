# The emulator substitute, included by gantry/CMakeLists.txt for the tests and
# the benchmarks. Nothing here ships.

# The substitute the tests talk to: a loopback server with the tests' own
# platform layer.
find_package(Threads REQUIRED)
add_library(gantry_substitute STATIC
  testing/emulator_substitute.cpp testing/substitute_traps.cpp testing/device_store.cpp
  testing/platform_${LARKGANTRY_PLATFORM}.cpp)
target_link_libraries(gantry_substitute PUBLIC gantry_link Threads::Threads)

# gantry-emulator: the substitute as a program, for the end-to-end tests of the
# programs, scripts/bench and trying gantry-host by hand. A test program: not
# installed.
add_executable(gantry-emulator testing/emulator_main.cpp)
target_link_libraries(gantry-emulator PRIVATE gantry_substitute)
