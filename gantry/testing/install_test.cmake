# Installs gantry from a build tree into a fresh prefix, builds a small host
# against it with find_package(gantry), and runs the host and the installed
# gantry-host with no emulator listening.
# cmake -DBUILD_DIR= -DWORK_DIR= -DHOST_SOURCE= -DGENERATOR= -DCXX= -DCXX_FLAGS= -DCONFIG=
#       -DBINDIR= -DLIBDIR= -DINCLUDEDIR= -DHOST_EXE_SUFFIX= -P install_test.cmake

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "failed (${status}): ${ARGN}\n${out}\n${err}")
  endif()
  set(output "${out}" PARENT_SCOPE)
endfunction()

function(expect_output wanted)
  string(STRIP "${output}" got)
  if(NOT got STREQUAL wanted)
    message(FATAL_ERROR "expected \"${wanted}\", got \"${got}\"")
  endif()
endfunction()

file(REMOVE_RECURSE "${WORK_DIR}")
set(prefix "${WORK_DIR}/prefix")
run("${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${prefix}" --component gantry
    --config "${CONFIG}")

foreach(file IN ITEMS "${INCLUDEDIR}/gantry.h" "${LIBDIR}/cmake/gantry/gantryConfig.cmake"
                      "${LIBDIR}/cmake/gantry/gantryConfigVersion.cmake"
                      "${BINDIR}/gantry-host${HOST_EXE_SUFFIX}")
  if(NOT EXISTS "${prefix}/${file}")
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

# The host gets the build's own compiler flags: a sanitized library needs a
# sanitized program.
run("${CMAKE_COMMAND}" -S "${HOST_SOURCE}" -B "${WORK_DIR}/host" -G "${GENERATOR}"
    "-DCMAKE_CXX_COMPILER=${CXX}" "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}"
    "-DCMAKE_PREFIX_PATH=${prefix}" "-DCMAKE_BUILD_TYPE=${CONFIG}")
run("${CMAKE_COMMAND}" --build "${WORK_DIR}/host" --config "${CONFIG}")
file(GLOB_RECURSE host "${WORK_DIR}/host/install_host${HOST_EXE_SUFFIX}")
if(NOT host)
  message(FATAL_ERROR "the host program was not built")
endif()
list(GET host 0 host)
run("${host}")
expect_output("running=false version=0 export=false screen=false")

run("${prefix}/${BINDIR}/gantry-host${HOST_EXE_SUFFIX}" running)
expect_output("false")
message(STATUS "installed, built a host against the package and ran it")
