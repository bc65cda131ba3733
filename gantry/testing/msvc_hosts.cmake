# Test hosts built the way applications of Microsoft's compiler are, with
# Debian's clang and lld for the Microsoft ABI: no C run-time library, an entry
# point of their own, imports from kernel32 only (an import library made from
# msvc_host/kernel32.def). Two per architecture: one links gantry.lib, one
# loads gantry.dll by name. Included by gantry/CMakeLists.txt in a MinGW test
# build that runs its programs through CMAKE_CROSSCOMPILING_EMULATOR.

find_program(GANTRY_CLANGXX NAMES clang++ clang++-14)
find_program(GANTRY_LLD_LINK NAMES lld-link lld-link-14)
if(NOT GANTRY_CLANGXX OR NOT GANTRY_LLD_LINK OR NOT GANTRY_MSVC_LIB)
  message(WARNING "clang++, lld-link or llvm-dlltool missing: no Microsoft-ABI test hosts")
  return()
endif()

set(host_dir ${CMAKE_CURRENT_SOURCE_DIR}/testing/msvc_host)
set(out_dir ${CMAKE_CURRENT_BINARY_DIR})  # beside gantry.dll
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(triple x86_64-pc-windows-msvc)
  set(kernel32_options)
  file(READ ${host_dir}/kernel32.def kernel32_def)
  string(REGEX REPLACE "@[0-9]+" "" kernel32_def "${kernel32_def}")
  set(kernel32_def_file ${out_dir}/msvc_host_kernel32.def)
  gantry_write_if_changed(${kernel32_def_file} "${kernel32_def}")
else()
  set(triple i686-pc-windows-msvc)
  set(kernel32_options -k)  # import by the undecorated names
  set(kernel32_def_file ${host_dir}/kernel32.def)
endif()

set(kernel32_lib ${out_dir}/msvc_host_kernel32.lib)
add_custom_command(OUTPUT ${kernel32_lib}
  COMMAND ${GANTRY_LLVM_DLLTOOL} -m ${GANTRY_DLLTOOL_MACHINE} ${kernel32_options}
          -d ${kernel32_def_file} -l ${kernel32_lib}
  DEPENDS ${kernel32_def_file} VERBATIM)

set(compile_options --target=${triple} -std=c++17 -O2 -Wall -Wextra -Werror -ffreestanding
    -fno-exceptions -fno-rtti -fno-stack-protector -nostdlibinc -I${CMAKE_CURRENT_SOURCE_DIR}/include)
set(headers ${host_dir}/host_checks.h ${host_dir}/kernel32_min.h include/gantry.h)
foreach(source host_checks host_linked host_loaded)
  add_custom_command(OUTPUT ${out_dir}/msvc_${source}.obj
    COMMAND ${GANTRY_CLANGXX} ${compile_options} -c ${host_dir}/${source}.cpp
            -o ${out_dir}/msvc_${source}.obj
    DEPENDS ${host_dir}/${source}.cpp ${headers} VERBATIM)
endforeach()

set(link_options /nologo /entry:HostMain /subsystem:console /nodefaultlib)
add_custom_command(OUTPUT ${out_dir}/msvc_host_linked.exe
  COMMAND ${GANTRY_LLD_LINK} ${link_options} /out:${out_dir}/msvc_host_linked.exe
          ${out_dir}/msvc_host_linked.obj ${out_dir}/msvc_host_checks.obj ${kernel32_lib}
          ${GANTRY_MSVC_LIB}
  DEPENDS ${out_dir}/msvc_host_linked.obj ${out_dir}/msvc_host_checks.obj ${kernel32_lib}
          ${GANTRY_MSVC_LIB} VERBATIM)
add_custom_command(OUTPUT ${out_dir}/msvc_host_loaded.exe
  COMMAND ${GANTRY_LLD_LINK} ${link_options} /out:${out_dir}/msvc_host_loaded.exe
          ${out_dir}/msvc_host_loaded.obj ${out_dir}/msvc_host_checks.obj ${kernel32_lib}
  DEPENDS ${out_dir}/msvc_host_loaded.obj ${out_dir}/msvc_host_checks.obj ${kernel32_lib}
  VERBATIM)
add_custom_target(gantry_msvc_hosts ALL
  DEPENDS ${out_dir}/msvc_host_linked.exe ${out_dir}/msvc_host_loaded.exe)
add_dependencies(gantry_msvc_hosts gantry gantry-emulator)

foreach(kind linked loaded)
  add_test(NAME gantry_msvc_host_${kind} COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/testing/msvc_hosts.sh
    $<TARGET_FILE:gantry-emulator> ${out_dir}/msvc_host_${kind}.exe ${CMAKE_CROSSCOMPILING_EMULATOR})
  set_tests_properties(gantry_msvc_host_${kind} PROPERTIES
    LABELS "gantry;msvc_host" ${GANTRY_PORTS_LOCK} TIMEOUT 120)
endforeach()
