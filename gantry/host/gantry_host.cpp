// gantry-host: loads the gantry library at run time, finds one of its nine
// functions by its decorated name, as a host application would, and calls it.
//
// Exit status: 0 when the call was made (its result is printed), 1 when the
// library can't be loaded or lacks the function, 2 for a usage error.

#include <cstdio>
#include <cstring>
#include <string>

#include "dynlib.h"

#ifndef GANTRY_LIBRARY_FILE
#error "the build defines GANTRY_LIBRARY_FILE, the library's file name"
#endif
#ifndef LARKGANTRY_VERSION
#error "the build defines LARKGANTRY_VERSION, the project's version"
#endif
#ifndef GANTRY_LIBDIR_FROM_BINDIR
#define GANTRY_LIBDIR_FROM_BINDIR "../lib"
#endif

namespace gantry {

namespace {

constexpr int kExitCalled = 0;
constexpr int kExitNoLibrary = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "usage: gantry-host [--library PATH] COMMAND\n"
    "       gantry-host --help | --version\n"
    "commands:\n"
    "  running        is the emulator running? prints true or false\n"
    "  install PATH   has the emulator install the file at PATH (as the emulator\n"
    "                 opens it); prints true when it reports success, else false\n"
    "  has NAME       does the device have a database NAME? prints true or false\n"
    "  version        prints the version of the database QuorvaneRT, 0 if unknown\n"
    "  launch NAME    launches the application NAME; prints done\n"
    "  reset          resets the device; prints done\n"
    "  launcher       brings up the application launcher; prints done\n"
    "  export NAME PATH  writes the device's database NAME to the file PATH (an\n"
    "                 absolute path); prints true when the file holds it, else false\n"
    "  screen PATH    writes the emulator's screen to the file PATH (an absolute\n"
    "                 path) as a BMP or PPM picture; prints true or false\n"
    "--library PATH picks the library; by default the one beside this program.\n"
    "Exit status: 0 when the call was made, 1 when the library or the function\n"
    "can't be loaded, 2 for a usage error.\n";

/// One command of the tool: its word, how many arguments it takes, and the
/// export it calls. The table below drives parsing and calling.
struct Command {
  const char* word;
  int arguments;
  dynlib::Export function;
};

const Command kCommands[] = {
    {"running", 0, dynlib::Export::IsEmulatorRunning},
    {"install", 1, dynlib::Export::InstallFile},
    {"has", 1, dynlib::Export::HasDatabase},
    {"version", 0, dynlib::Export::QuorvaneRtVer},
    {"launch", 1, dynlib::Export::LaunchApp},
    {"reset", 0, dynlib::Export::EmulatorReset},
    {"launcher", 0, dynlib::Export::EmulatorStartAppLauncher},
    {"export", 2, dynlib::Export::ExportDatabase},
    {"screen", 1, dynlib::Export::SaveScreen},
};

/// The parsed command line. Built by ParseArguments, read by main.
struct Invocation {
  std::string library;  // empty: the default places
  const Command* command = nullptr;
  char* arguments[2] = {nullptr, nullptr};
  bool help = false;
  bool version = false;
};

// Prints a usage error with the usage text; always false.
bool UsageError(const char* message, const char* detail) {
  std::fprintf(stderr, "gantry-host: %s%s\n%s", message, detail, kUsage);
  return false;
}

// Fills *run from argv; on a usage error prints it and returns false.
bool ParseArguments(int argc, char** argv, Invocation* run) {
  int i = 1;
  for (; i < argc && argv[i][0] == '-' && argv[i][1] == '-'; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      run->help = true;
      return true;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      run->version = true;
      return true;
    }
    if (std::strcmp(argv[i], "--library") != 0) return UsageError("unknown option ", argv[i]);
    if (++i == argc) return UsageError("--library needs a PATH", "");
    run->library = argv[i];
  }
  if (i == argc) return UsageError("no command given", "");
  for (const Command& command : kCommands) {
    if (std::strcmp(argv[i], command.word) == 0) run->command = &command;
  }
  if (run->command == nullptr) return UsageError("unknown command ", argv[i]);
  const int wanted = run->command->arguments;
  if (argc - i - 1 != wanted) {
    const char* messages[] = {
        "this command takes no argument: ", "this command takes one argument: ",
        "this command takes two arguments: "};
    return UsageError(messages[wanted], argv[i]);
  }
  for (int k = 0; k < wanted; ++k)
    run->arguments[k] = argv[i + 1 + k];
  return true;
}

// Loads the library the user named, else the one beside the program, else the
// one in the installed library directory.
dynlib::Library LoadGantry(const std::string& chosen, const char* argv0) {
  std::string error;
  if (!chosen.empty()) {
    dynlib::Library library = dynlib::Load(chosen, &error);
    if (library == nullptr)
      std::fprintf(stderr, "gantry-host: cannot load %s: %s\n", chosen.c_str(), error.c_str());
    return library;
  }
  std::string directory = dynlib::ProgramDirectory(argv0);
  std::string beside = directory + GANTRY_LIBRARY_FILE;
  dynlib::Library library = dynlib::Load(beside, &error);
  if (library != nullptr) return library;
  std::string installed = directory + GANTRY_LIBDIR_FROM_BINDIR "/" GANTRY_LIBRARY_FILE;
  std::string secondError;
  library = dynlib::Load(installed, &secondError);
  if (library == nullptr) {
    std::fprintf(stderr, "gantry-host: cannot load %s: %s\ngantry-host: cannot load %s: %s\n",
                 beside.c_str(), error.c_str(), installed.c_str(), secondError.c_str());
  }
  return library;
}

// Calls the export at address as the command says and prints its result.
void CallAndPrint(const Command& command, void* address, char* const* arguments) {
  char* argument = arguments[0];
  switch (command.function) {
    case dynlib::Export::IsEmulatorRunning:
      std::puts(reinterpret_cast<bool (*)()>(address)() ? "true" : "false");
      break;
    case dynlib::Export::InstallFile:
    case dynlib::Export::HasDatabase:
    case dynlib::Export::SaveScreen:
      std::puts(reinterpret_cast<bool (*)(char*)>(address)(argument) ? "true" : "false");
      break;
    case dynlib::Export::QuorvaneRtVer:
      std::printf("%d\n", reinterpret_cast<short (*)()>(address)());
      break;
    case dynlib::Export::LaunchApp:
      reinterpret_cast<void (*)(char*)>(address)(argument);
      std::puts("done");
      break;
    case dynlib::Export::EmulatorReset:
    case dynlib::Export::EmulatorStartAppLauncher:
      reinterpret_cast<void (*)()>(address)();
      std::puts("done");
      break;
    case dynlib::Export::ExportDatabase:
      std::puts(reinterpret_cast<bool (*)(char*, char*)>(address)(argument, arguments[1])
                    ? "true"
                    : "false");
      break;
  }
}

}  // namespace

int RunHost(int argc, char** argv) {
  Invocation run;
  if (!ParseArguments(argc, argv, &run)) return kExitUsage;
  if (run.help) {
    std::fputs(kUsage, stdout);
    return kExitCalled;
  }
  if (run.version) {
    std::puts("gantry-host " LARKGANTRY_VERSION);
    return kExitCalled;
  }
  dynlib::Library library = LoadGantry(run.library, argc > 0 ? argv[0] : nullptr);
  if (library == nullptr) return kExitNoLibrary;
  const char* name = dynlib::DecoratedName(run.command->function);
  void* address = dynlib::Find(library, name);
  if (address == nullptr) {
    std::fprintf(stderr, "gantry-host: the library does not export %s\n", name);
    dynlib::Unload(library);
    return kExitNoLibrary;
  }
  CallAndPrint(*run.command, address, run.arguments);
  std::fflush(stdout);
  dynlib::Unload(library);
  return kExitCalled;
}

}  // namespace gantry

int main(int argc, char** argv) {
  return gantry::RunHost(argc, argv);
}
