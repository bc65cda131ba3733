// Run-time loading with LoadLibrary; export names as Microsoft's compiler
// decorates them, which gantry.dll exports whichever compiler built it.

#include <windows.h>

#include "dynlib.h"

namespace gantry::dynlib {

Library Load(const std::string& path, std::string* error) {
  HMODULE library = LoadLibraryA(path.c_str());
  if (library == nullptr) *error = "LoadLibrary error " + std::to_string(GetLastError());
  return reinterpret_cast<Library>(library);
}

void* Find(Library library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void Unload(Library library) {
  FreeLibrary(static_cast<HMODULE>(library));
}

std::string ProgramDirectory(const char* argv0) {
  char buffer[MAX_PATH * 4];
  DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  std::string program;
  if (length > 0 && length < sizeof buffer) {
    program.assign(buffer, length);
  } else if (argv0 != nullptr) {
    program = argv0;
  }
  size_t separator = program.find_last_of("\\/");
  return separator == std::string::npos ? std::string() : program.substr(0, separator + 1);
}

// A char* argument is "PAD" on 32-bit x86 and "PEAD" on 64-bit targets; a
// second one is the back-reference "0".
const char* DecoratedName(Export function) {
  constexpr bool kWide = sizeof(void*) == 8;
  switch (function) {
    case Export::IsEmulatorRunning:
      return "?IsEmulatorRunning@@YA_NXZ";
    case Export::InstallFile:
      return kWide ? "?InstallFile@@YA_NPEAD@Z" : "?InstallFile@@YA_NPAD@Z";
    case Export::HasDatabase:
      return kWide ? "?HasDatabase@@YA_NPEAD@Z" : "?HasDatabase@@YA_NPAD@Z";
    case Export::QuorvaneRtVer:
      return "?QuorvaneRt_ver@@YAFXZ";
    case Export::LaunchApp:
      return kWide ? "?LaunchApp@@YAXPEAD@Z" : "?LaunchApp@@YAXPAD@Z";
    case Export::EmulatorReset:
      return "?EmulatorReset@@YAXXZ";
    case Export::EmulatorStartAppLauncher:
      return "?EmulatorStartAppLauncher@@YAXXZ";
    case Export::ExportDatabase:
      return kWide ? "?ExportDatabase@@YA_NPEAD0@Z" : "?ExportDatabase@@YA_NPAD0@Z";
    case Export::SaveScreen:
      return kWide ? "?SaveScreen@@YA_NPEAD@Z" : "?SaveScreen@@YA_NPAD@Z";
  }
  return "";
}

}  // namespace gantry::dynlib
