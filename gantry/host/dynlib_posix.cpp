// Run-time loading with dlopen; export names in the Itanium C++ ABI mangling.

#include <dlfcn.h>
#include <unistd.h>

#include "dynlib.h"

namespace gantry::dynlib {

Library Load(const std::string& path, std::string* error) {
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* reason = dlerror();
    *error = reason != nullptr ? reason : "unknown error";
  }
  return library;
}

void* Find(Library library, const char* name) {
  return dlsym(library, name);
}

void Unload(Library library) {
  dlclose(library);
}

std::string ProgramDirectory(const char* argv0) {
  std::string program;
  char buffer[4096];
  ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
  if (length > 0 && static_cast<size_t>(length) < sizeof buffer) {
    program.assign(buffer, static_cast<size_t>(length));
  } else if (argv0 != nullptr) {
    program = argv0;
  }
  size_t slash = program.rfind('/');
  return slash == std::string::npos ? std::string() : program.substr(0, slash + 1);
}

const char* DecoratedName(Export function) {
  switch (function) {
    case Export::IsEmulatorRunning:
      return "_Z17IsEmulatorRunningv";
    case Export::InstallFile:
      return "_Z11InstallFilePc";
    case Export::HasDatabase:
      return "_Z11HasDatabasePc";
    case Export::QuorvaneRtVer:
      return "_Z14QuorvaneRt_verv";
    case Export::LaunchApp:
      return "_Z9LaunchAppPc";
    case Export::EmulatorReset:
      return "_Z13EmulatorResetv";
    case Export::EmulatorStartAppLauncher:
      return "_Z24EmulatorStartAppLauncherv";
    case Export::ExportDatabase:
      return "_Z14ExportDatabasePcS_";
    case Export::SaveScreen:
      return "_Z10SaveScreenPc";
  }
  return "";
}

}  // namespace gantry::dynlib
