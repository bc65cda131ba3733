# gantry's tests, included by gantry/CMakeLists.txt when BUILD_TESTING is on
# (so every target here sits beside gantry's own, and beside gantry.dll on
# Windows). Nothing here ships.

# Tests that listen on the emulator's fixed ports hold this lock, so that they
# never run at the same time.
set(GANTRY_PORTS_LOCK RESOURCE_LOCK emulator_ports)


add_executable(gantry_packet_test packet_test.cpp)
target_link_libraries(gantry_packet_test PRIVATE gantry_link GTest::gtest GTest::gtest_main)
gtest_discover_tests(gantry_packet_test DISCOVERY_TIMEOUT 60)

add_executable(gantry_link_test link_test.cpp)
target_link_libraries(gantry_link_test PRIVATE gantry_substitute GTest::gtest GTest::gtest_main)
gtest_discover_tests(gantry_link_test DISCOVERY_TIMEOUT 60 PROPERTIES ${GANTRY_PORTS_LOCK})

add_executable(gantry_turns_test turns_test.cpp)
target_link_libraries(gantry_turns_test PRIVATE gantry_link GTest::gtest GTest::gtest_main)
gtest_discover_tests(gantry_turns_test DISCOVERY_TIMEOUT 60)

set(GANTRY_FILES_TESTS files_test.cpp)
if(NOT WIN32)
  list(APPEND GANTRY_FILES_TESTS files_posix_test.cpp)
endif()
add_executable(gantry_files_test ${GANTRY_FILES_TESTS})
target_link_libraries(gantry_files_test PRIVATE gantry_substitute process_testing GTest::gtest
                      GTest::gtest_main)
gtest_discover_tests(gantry_files_test DISCOVERY_TIMEOUT 60)

add_executable(gantry_exports_test exports_test.cpp)
target_link_libraries(gantry_exports_test PRIVATE
  gantry gantry_substitute process_testing GTest::gtest GTest::gtest_main)
gtest_discover_tests(gantry_exports_test DISCOVERY_TIMEOUT 60 PROPERTIES ${GANTRY_PORTS_LOCK})

# Calls at once, from threads and from processes (gantry_concurrent_caller),
# against the emulator-like substitute.
add_executable(gantry_concurrent_caller testing/concurrent_caller.cpp)
target_link_libraries(gantry_concurrent_caller PRIVATE gantry Threads::Threads)
add_executable(gantry_concurrency_test concurrency_test.cpp)
target_link_libraries(gantry_concurrency_test PRIVATE
  gantry gantry_substitute process_testing GTest::gtest GTest::gtest_main)
target_compile_definitions(gantry_concurrency_test PRIVATE
  GANTRY_CONCURRENT_CALLER="$<TARGET_FILE:gantry_concurrent_caller>")
add_dependencies(gantry_concurrency_test gantry_concurrent_caller)
gtest_discover_tests(gantry_concurrency_test DISCOVERY_TIMEOUT 60 PROPERTIES ${GANTRY_PORTS_LOCK})

# The exports against a misbehaving emulator; counts open descriptors in
# /proc, so POSIX only.
if(NOT WIN32)
  add_executable(gantry_fault_test fault_test.cpp)
  target_link_libraries(gantry_fault_test PRIVATE
    gantry gantry_substitute process_testing GTest::gtest GTest::gtest_main)
  target_compile_definitions(gantry_fault_test PRIVATE
    GANTRY_CONCURRENT_CALLER="$<TARGET_FILE:gantry_concurrent_caller>")
  add_dependencies(gantry_fault_test gantry_concurrent_caller)
  gtest_discover_tests(gantry_fault_test DISCOVERY_TIMEOUT 60 PROPERTIES ${GANTRY_PORTS_LOCK})
endif()

add_library(gantry_empty_library SHARED testing/empty_library.cpp)
add_executable(gantry_host_test host/host_test.cpp)
target_link_libraries(gantry_host_test PRIVATE gantry_substitute process_testing GTest::gtest
                      GTest::gtest_main)
target_compile_definitions(gantry_host_test PRIVATE
  GANTRY_HOST_EXE="$<TARGET_FILE:gantry-host>" GANTRY_LIBRARY="$<TARGET_FILE:gantry>"
  GANTRY_EMPTY_LIBRARY="$<TARGET_FILE:gantry_empty_library>"
  LARKGANTRY_VERSION="${PROJECT_VERSION}")
add_dependencies(gantry_host_test gantry-host gantry gantry_empty_library)
gtest_discover_tests(gantry_host_test DISCOVERY_TIMEOUT 60 PROPERTIES ${GANTRY_PORTS_LOCK})

if(NOT WIN32 AND NOT APPLE AND CMAKE_NM)
  add_test(NAME gantry_exported_symbols COMMAND ${CMAKE_COMMAND}
    -DNM=${CMAKE_NM} -DLIBRARY=$<TARGET_FILE:gantry>
    "-DEXPECTED=${GANTRY_GCC_NAMES}"
    -P ${CMAKE_CURRENT_SOURCE_DIR}/testing/check_exports.cmake)
endif()

if(MINGW AND CMAKE_OBJDUMP)
  add_test(NAME gantry_dll_exports COMMAND ${CMAKE_COMMAND}
    -DOBJDUMP=${CMAKE_OBJDUMP} -DLIBRARY=$<TARGET_FILE:gantry>
    "-DNAMES=${GANTRY_GCC_NAMES}" "-DALIASES=${GANTRY_MSVC_NAMES}"
    -P ${CMAKE_CURRENT_SOURCE_DIR}/testing/check_dll_exports.cmake)
endif()

# The programs gantry-emulator and gantry-host together, run by the cross
# build's emulator (Wine).
if(WIN32 AND CMAKE_CROSSCOMPILING_EMULATOR)
  add_test(NAME gantry_programs_e2e COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/testing/programs_e2e.sh
    $<TARGET_FILE:gantry-emulator> $<TARGET_FILE:gantry-host> ${CMAKE_CROSSCOMPILING_EMULATOR})
  set_tests_properties(gantry_programs_e2e PROPERTIES ${GANTRY_PORTS_LOCK} TIMEOUT 120)
endif()

if(MINGW AND CMAKE_CROSSCOMPILING_EMULATOR)
  include(testing/msvc_hosts.cmake)
endif()

if(MINGW AND GANTRY_MSVC_LIB)
  add_test(NAME gantry_windows_install COMMAND ${CMAKE_COMMAND}
    -DBUILD_DIR=${PROJECT_BINARY_DIR} -DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/install_test
    -DCONFIG=$<CONFIG> -DBINDIR=${CMAKE_INSTALL_BINDIR} -DLIBDIR=${CMAKE_INSTALL_LIBDIR}
    -DINCLUDEDIR=${CMAKE_INSTALL_INCLUDEDIR}
    -P ${CMAKE_CURRENT_SOURCE_DIR}/testing/windows_install_test.cmake)
endif()

if(NOT CMAKE_CROSSCOMPILING)
  add_test(NAME gantry_install COMMAND ${CMAKE_COMMAND}
    -DBUILD_DIR=${PROJECT_BINARY_DIR} -DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/install_test
    -DHOST_SOURCE=${CMAKE_CURRENT_SOURCE_DIR}/testing/install_host
    -DGENERATOR=${CMAKE_GENERATOR} -DCXX=${CMAKE_CXX_COMPILER} -DCONFIG=$<CONFIG>
    "-DCXX_FLAGS=${CMAKE_CXX_FLAGS}"
    -DBINDIR=${CMAKE_INSTALL_BINDIR} -DLIBDIR=${CMAKE_INSTALL_LIBDIR}
    -DINCLUDEDIR=${CMAKE_INSTALL_INCLUDEDIR} -DHOST_EXE_SUFFIX=${CMAKE_EXECUTABLE_SUFFIX}
    -P ${CMAKE_CURRENT_SOURCE_DIR}/testing/install_test.cmake)
  set_tests_properties(gantry_install PROPERTIES ${GANTRY_PORTS_LOCK} TIMEOUT 240)
endif()
