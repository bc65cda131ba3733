#pragma once

// What gantry-host needs from the platform: loading a shared library at run
// time, finding its exports by name, and the names a host application built
// with the platform's usual compiler uses for gantry's nine functions. One
// implementation per platform (dynlib_posix.cpp, dynlib_win32.cpp), chosen by
// the build.

#include <string>

namespace gantry::dynlib {

using Library = void*;

// Loads the library at path; null on failure, with *error saying why.
Library Load(const std::string& path, std::string* error);
// The address of the export called name, or null.
void* Find(Library library, const char* name);
void Unload(Library library);

// The directory of the running program, ending in a separator; "" when unknown.
std::string ProgramDirectory(const char* argv0);

// gantry's exports, in the order of gantry.h.
enum class Export {
  IsEmulatorRunning,
  InstallFile,
  HasDatabase,
  QuorvaneRtVer,
  LaunchApp,
  EmulatorReset,
  EmulatorStartAppLauncher,
  ExportDatabase,
  SaveScreen
};

// The decorated name of an export as this platform's host applications see it.
const char* DecoratedName(Export function);

}  // namespace gantry::dynlib
