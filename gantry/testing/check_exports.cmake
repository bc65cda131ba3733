# Checks that a shared library exports exactly the given symbols.
# cmake -DNM=<nm> -DLIBRARY=<libgantry.so> -DEXPECTED="a;b;..." -P check_exports.cmake
execute_process(COMMAND "${NM}" -D --defined-only "${LIBRARY}"
                OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${listing}")
set(exported "")
foreach(line IN LISTS lines)
  # "<address> <type> <name>"; the absolute version-node symbols (type A) are
  # no exports.
  if(line MATCHES "^[0-9a-fA-F]+ ([A-Za-z]) (.+)$" AND NOT CMAKE_MATCH_1 STREQUAL "A")
    list(APPEND exported "${CMAKE_MATCH_2}")
  endif()
endforeach()
list(SORT exported)
set(wanted ${EXPECTED})
list(SORT wanted)
if(NOT exported STREQUAL wanted)
  string(REPLACE ";" "\n  " got "${exported}")
  string(REPLACE ";" "\n  " want "${wanted}")
  message(FATAL_ERROR "exported symbols differ.\nexported:\n  ${got}\nexpected:\n  ${want}")
endif()
message(STATUS "exactly the ${LIBRARY} exports expected")
