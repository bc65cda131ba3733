# Installs gantry from a Windows build tree into a fresh prefix and checks that
# it holds what a host needs: the DLL with the import library for Microsoft
# linkers beside it, the header and the CMake package.
# cmake -DBUILD_DIR= -DWORK_DIR= -DCONFIG= -DBINDIR= -DLIBDIR= -DINCLUDEDIR=
#       -P windows_install_test.cmake

file(REMOVE_RECURSE "${WORK_DIR}")
set(prefix "${WORK_DIR}/prefix")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${prefix}"
                        --component gantry --config "${CONFIG}"
                RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed (${status})\n${out}\n${err}")
endif()
foreach(file IN ITEMS "${BINDIR}/gantry.dll" "${BINDIR}/gantry.lib" "${INCLUDEDIR}/gantry.h"
                      "${LIBDIR}/cmake/gantry/gantryConfig.cmake"
                      "${LIBDIR}/cmake/gantry/gantryTargets.cmake")
  if(NOT EXISTS "${prefix}/${file}")
    message(FATAL_ERROR "the installed tree lacks ${file}")
  endif()
endforeach()
file(REMOVE_RECURSE "${WORK_DIR}")
message(STATUS "the installed tree holds gantry.dll, gantry.lib, gantry.h and the package")
