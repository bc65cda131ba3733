# The nine functions gantry exports: the one list from which the ELF export
# list, the MinGW module-definition file and the import library for Microsoft
# linkers are made, and which the export tests check against.
#
# Each entry is NAME|GCC_NAME|MSVC_NAME: the function, the name GCC and Clang
# give it, and the name Microsoft's compiler gives it (what hosts built with
# that compiler import). In MSVC_NAME, <CHARP> stands for the char* argument's
# code, which differs between 32-bit x86 (PAD) and x86_64 (PEAD).
set(GANTRY_EXPORTS
  "IsEmulatorRunning|_Z17IsEmulatorRunningv|?IsEmulatorRunning@@YA_NXZ"
  "InstallFile|_Z11InstallFilePc|?InstallFile@@YA_N<CHARP>@Z"
  "HasDatabase|_Z11HasDatabasePc|?HasDatabase@@YA_N<CHARP>@Z"
  "QuorvaneRt_ver|_Z14QuorvaneRt_verv|?QuorvaneRt_ver@@YAFXZ"
  "LaunchApp|_Z9LaunchAppPc|?LaunchApp@@YAX<CHARP>@Z"
  "EmulatorReset|_Z13EmulatorResetv|?EmulatorReset@@YAXXZ"
  "EmulatorStartAppLauncher|_Z24EmulatorStartAppLauncherv|?EmulatorStartAppLauncher@@YAXXZ"
  "ExportDatabase|_Z14ExportDatabasePcS_|?ExportDatabase@@YA_N<CHARP>0@Z"
  "SaveScreen|_Z10SaveScreenPc|?SaveScreen@@YA_N<CHARP>@Z")

# gantry_export_names(GCC_OUT MSVC_OUT POINTER_BYTES): the GCC names and the
# Microsoft names for a target whose pointers are POINTER_BYTES wide, as lists
# in the same order.
function(gantry_export_names gcc_out msvc_out pointer_bytes)
  if(pointer_bytes EQUAL 8)
    set(charp PEAD)
  else()
    set(charp PAD)
  endif()
  set(gcc "")
  set(msvc "")
  foreach(entry IN LISTS GANTRY_EXPORTS)
    string(REPLACE "|" ";" fields "${entry}")
    list(GET fields 1 gcc_name)
    list(GET fields 2 msvc_name)
    string(REPLACE "<CHARP>" "${charp}" msvc_name "${msvc_name}")
    list(APPEND gcc "${gcc_name}")
    list(APPEND msvc "${msvc_name}")
  endforeach()
  set(${gcc_out} "${gcc}" PARENT_SCOPE)
  set(${msvc_out} "${msvc}" PARENT_SCOPE)
endfunction()

# Writes FILE with CONTENT, leaving it untouched (and what depends on it
# unbuilt) when it already holds that.
function(gantry_write_if_changed file content)
  file(WRITE "${file}.new" "${content}")
  file(COPY_FILE "${file}.new" "${file}" ONLY_IF_DIFFERENT)
  file(REMOVE "${file}.new")
endfunction()

# The ELF version script: the GCC names global, everything else local, so that
# templates the library instantiates from the standard library stay inside.
function(gantry_write_version_script file)
  gantry_export_names(gcc msvc 8)
  set(text "{\n  global:\n")
  foreach(name IN LISTS gcc)
    string(APPEND text "    ${name};\n")
  endforeach()
  string(APPEND text "  local:\n    *;\n};\n")
  gantry_write_if_changed("${file}" "${text}")
endfunction()

# The module-definition file of a MinGW build: the GCC names, and the Microsoft
# names as aliases of them.
function(gantry_write_mingw_def file pointer_bytes)
  gantry_export_names(gcc msvc ${pointer_bytes})
  set(text "LIBRARY gantry.dll\nEXPORTS\n")
  foreach(name IN LISTS gcc)
    string(APPEND text "  ${name}\n")
  endforeach()
  foreach(name alias IN ZIP_LISTS gcc msvc)
    string(APPEND text "  \"${alias}\" = ${name}\n")
  endforeach()
  gantry_write_if_changed("${file}" "${text}")
endfunction()

# The module-definition file for the import library of Microsoft linkers: the
# Microsoft names alone, exactly as a host's objects refer to them.
function(gantry_write_msvc_def file pointer_bytes)
  gantry_export_names(gcc msvc ${pointer_bytes})
  set(text "LIBRARY gantry.dll\nEXPORTS\n")
  foreach(name IN LISTS msvc)
    string(APPEND text "  \"${name}\"\n")
  endforeach()
  gantry_write_if_changed("${file}" "${text}")
endfunction()
