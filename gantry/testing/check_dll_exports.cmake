# Checks the export table of a Windows DLL: it exports exactly the names given,
# and each alias leads to the same function as the name paired with it.
# cmake -DOBJDUMP=<objdump> -DLIBRARY=<gantry.dll> -DNAMES="a;b;..."
#       -DALIASES="A;B;..." -P check_dll_exports.cmake
# NAMES and ALIASES pair up in order.
execute_process(COMMAND "${OBJDUMP}" -p "${LIBRARY}"
                OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} failed on ${LIBRARY}")
endif()

# objdump lists the export address table ("[   i] +base[ n] <rva> Export RVA")
# and then the names with the table index each one points at ("[   i] name").
string(REPLACE ";" "\\;" listing "${listing}")
string(REPLACE "\n" ";" lines "${listing}")
set(section "")
set(exported "")
foreach(line IN LISTS lines)
  if(line MATCHES "^Export Address Table -- ")
    set(section addresses)
  elseif(line MATCHES "^\\[Ordinal/Name Pointer\\] Table")
    set(section names)
  elseif(line STREQUAL "")
    set(section "")
  elseif(section STREQUAL "addresses" AND line MATCHES "^\t\\[ *([0-9]+)\\] \\+base\\[ *[0-9]+\\] ([0-9a-fA-F]+) ")
    set(rva_${CMAKE_MATCH_1} ${CMAKE_MATCH_2})
  elseif(section STREQUAL "names" AND line MATCHES "^\t\\[ *([0-9]+)\\] (.+)$")
    list(APPEND exported "${CMAKE_MATCH_2}")
    set(address_of_${CMAKE_MATCH_2} "${rva_${CMAKE_MATCH_1}}")
  endif()
endforeach()

set(wanted ${NAMES} ${ALIASES})
list(SORT exported)
list(SORT wanted)
if(NOT exported STREQUAL wanted)
  string(REPLACE ";" "\n  " got "${exported}")
  string(REPLACE ";" "\n  " want "${wanted}")
  message(FATAL_ERROR "exported names differ.\nexported:\n  ${got}\nexpected:\n  ${want}")
endif()

list(LENGTH NAMES count)
math(EXPR last "${count} - 1")
foreach(i RANGE ${last})
  list(GET NAMES ${i} name)
  list(GET ALIASES ${i} alias)
  if(NOT address_of_${name} OR NOT address_of_${alias} STREQUAL address_of_${name})
    message(FATAL_ERROR "${alias} (at '${address_of_${alias}}') is not ${name} "
                        "(at '${address_of_${name}}')")
  endif()
endforeach()
message(STATUS "${LIBRARY} exports exactly the ${count} functions under both names")
