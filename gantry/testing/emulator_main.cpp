// gantry-emulator: the emulator substitute as a program, for demonstrations
// and manual tries. It listens on loopback for a bounded time, answers remote
// trap calls for a small emulated device (databases imported from and
// exported to host files, a screen to save) and prints one line per request.
//
// Exit status: 0 after the time ran out, on SIGINT/SIGTERM or after --help, 1
// when a port can't be bound, 2 for a usage error.

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "testing/emulator_substitute.h"

namespace {

using gantry_testing::EmulatorSubstitute;
using gantry_testing::ReceivedRequest;

const char kUsage[] =
    "usage: gantry-emulator [--seconds N] [--port P]... [--database NAME=ID:VERSION]...\n"
    "                       [--install-result D0] [--like-emulator] [--open NAME]...\n"
    "                       [--screen bmp|ppm|none] [--quiet] [--help]\n"
    "Answers remote trap calls on 127.0.0.1 for N seconds (default 60) on each\n"
    "port P (default 2000). Without --database the device holds QuorvaneRT\n"
    "(id 0x00010000, version 0x0203), MemoPad (0x00020000, 1) and\n"
    "AddressBook (0x00030000, 1), each a header alone of type DATA. Numbers may\n"
    "be decimal or 0x hex.\n"
    "Installing a file (a PDB or PRC whose name ends in .pdb, .prc or .pqa)\n"
    "stores it under its header's name, in place of a database of that name;\n"
    "a file that can't be stored answers a non-zero D0. Exporting writes a\n"
    "stored database's file; saving the screen writes a 32 by 32 BMP picture.\n"
    "--install-result makes every file installation answer with D0.\n"
    "--like-emulator handles connections as the real emulator does: ports 2000\n"
    "and 6415 by default, a backlog of 1, one accept per 100 ms, port 2000 closed\n"
    "while a client is connected to it, and a request body over 272 bytes\n"
    "answered by closing the connection without a reply; an installation that\n"
    "fails still answers D0 = 0, and one of a file created at date 0 or after\n"
    "its modification gets no answer (the emulator's dialog waits for a person).\n"
    "--open NAME: an application holds the database NAME open, so that\n"
    "installing over it fails.\n"
    "--screen ppm writes the screen as the emulator's Unix build does: a PPM\n"
    "picture, under the given name with its extension replaced by .ppm;\n"
    "--screen none writes nothing (and still answers D0 = 0).\n";

volatile std::sig_atomic_t stopRequested = 0;

extern "C" void OnStopSignal(int) {
  stopRequested = 1;
}

/// One database of the emulated device, as given on the command line.
/// Built by ParseArguments, handed to the substitute by main.
struct DatabaseSpec {
  std::string name;
  uint32_t localId;
  uint16_t version;
};

/// The parsed command line. Built by ParseArguments, read by main.
struct Options {
  long seconds = 60;
  std::vector<uint16_t> ports;
  std::vector<DatabaseSpec> databases;
  std::vector<std::string> open;
  bool installResultGiven = false;
  uint32_t installResult = 0;
  gantry_testing::ScreenFormat screen = gantry_testing::ScreenFormat::Bmp;
  bool likeEmulator = false;
  bool quiet = false;
  bool help = false;
};

bool ParseNumber(const char* text, unsigned long max, unsigned long* value) {
  if (text == nullptr || *text == '\0' || *text == '-') return false;
  bool hex = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  char* end = nullptr;
  unsigned long parsed = std::strtoul(text, &end, hex ? 16 : 10);
  if (*end != '\0' || parsed > max) return false;
  *value = parsed;
  return true;
}

// NAME=ID:VERSION
bool ParseDatabase(const std::string& text, DatabaseSpec* database) {
  size_t equals = text.rfind('=');
  size_t colon = text.rfind(':');
  if (equals == std::string::npos || equals == 0 || colon == std::string::npos || colon < equals) {
    return false;
  }
  unsigned long id = 0, version = 0;
  std::string idText = text.substr(equals + 1, colon - equals - 1);
  if (!ParseNumber(idText.c_str(), 0xFFFFFFFFul, &id) ||
      !ParseNumber(text.c_str() + colon + 1, 0xFFFFul, &version)) {
    return false;
  }
  *database = {text.substr(0, equals), static_cast<uint32_t>(id), static_cast<uint16_t>(version)};
  return true;
}

bool ParseScreen(const std::string& text, gantry_testing::ScreenFormat* format) {
  using gantry_testing::ScreenFormat;
  const std::pair<const char*, ScreenFormat> kFormats[] = {
      {"bmp", ScreenFormat::Bmp},
      {"ppm", ScreenFormat::PpmReplacingExtension},
      {"none", ScreenFormat::Nothing}};
  for (const auto& entry : kFormats) {
    if (text == entry.first) {
      *format = entry.second;
      return true;
    }
  }
  return false;
}

bool Fail(const char* message, const char* detail) {
  std::fprintf(stderr, "gantry-emulator: %s%s\n%s", message, detail, kUsage);
  return false;
}

bool ParseArguments(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    std::string option = argv[i];
    bool* flag = option == "--quiet"           ? &options->quiet
                 : option == "--like-emulator" ? &options->likeEmulator
                 : option == "--help"          ? &options->help
                                               : nullptr;
    if (flag != nullptr) {
      *flag = true;
      continue;
    }
    if (i + 1 == argc) return Fail("missing value or unknown option: ", argv[i]);
    const char* value = argv[++i];
    unsigned long number = 0;
    DatabaseSpec database;
    gantry_testing::ScreenFormat screen;
    if (option == "--seconds" && ParseNumber(value, 86400, &number) && number > 0) {
      options->seconds = static_cast<long>(number);
    } else if (option == "--port" && ParseNumber(value, 65535, &number) && number > 0) {
      options->ports.push_back(static_cast<uint16_t>(number));
    } else if (option == "--database" && ParseDatabase(value, &database)) {
      options->databases.push_back(database);
    } else if (option == "--install-result" && ParseNumber(value, 0xFFFFFFFFul, &number)) {
      options->installResultGiven = true;
      options->installResult = static_cast<uint32_t>(number);
    } else if (option == "--open" && *value != '\0') {
      options->open.push_back(value);
    } else if (option == "--screen" && ParseScreen(value, &screen)) {
      options->screen = screen;
    } else {
      return Fail("bad option or value: ", (option + " " + value).c_str());
    }
  }
  if (options->ports.empty()) {
    options->ports.push_back(gantry_testing::kPrimaryPort);
    if (options->likeEmulator) options->ports.push_back(gantry_testing::kSecondaryPort);
  }
  if (options->databases.empty()) {
    options->databases = {{"QuorvaneRT", 0x00010000, 0x0203},
                          {"MemoPad", 0x00020000, 1},
                          {"AddressBook", 0x00030000, 1}};
  }
  return true;
}

const char* TrapName(uint16_t trap) {
  switch (trap) {
    case gantry_testing::kTrapFindDatabase:
      return "DmFindDatabase";
    case gantry_testing::kTrapDatabaseInfo:
      return "DmDatabaseInfo";
    case gantry_testing::kTrapAppSwitch:
      return "SysUIAppSwitch";
    case gantry_testing::kTrapReset:
      return "SysReset";
    case gantry_testing::kTrapEnqueueKey:
      return "EvtEnqueueKey";
    case gantry_testing::kTrapHostControl:
      return "HostControl";
  }
  return "unknown trap";
}

void PrintRequest(const ReceivedRequest& request) {
  std::string params;
  for (const auto& param : request.params) {
    char text[32];
    if (param.kind == 's') {
      params += "\"" + param.Text() + "\"";
    } else {
      std::snprintf(text, sizeof text, param.kind == 'w' ? "0x%04lX" : "0x%08lX",
                    static_cast<unsigned long>(param.Number()));
      params += text;
    }
    if (&param != &request.params.back()) params += ", ";
  }
  std::printf("emulator: port %u connection %d id %u: trap 0x%04X %s(%s)%s\n",
              unsigned(request.port), request.connection, unsigned(request.transId),
              unsigned(request.trap), TrapName(request.trap), params.c_str(),
              request.crcOk && request.headerChecksumOk ? "" : " [bad checksum]");
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseArguments(argc, argv, &options)) return 2;
  if (options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  EmulatorSubstitute emulator;
  for (const DatabaseSpec& database : options.databases) {
    emulator.AddDatabase(database.name, database.localId, database.version);
  }
  for (const std::string& name : options.open)
    emulator.Device().HoldOpen(name);
  if (options.installResultGiven) emulator.SetInstallResult(options.installResult);
  emulator.SetScreenFormat(options.screen);
  emulator.SetLikeEmulator(options.likeEmulator);
  if (!emulator.Start(options.ports)) {
    std::fprintf(stderr, "gantry-emulator: cannot listen on the port(s) given\n");
    return 1;
  }
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
  if (!options.quiet) {
    std::printf("emulator: listening on 127.0.0.1 for %ld s\n", options.seconds);
    std::fflush(stdout);
  }
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(options.seconds);
  size_t printed = 0;
  while (!stopRequested && std::chrono::steady_clock::now() < end) {
    if (options.quiet) {
      // Nothing to print: forget the record, which would otherwise grow with
      // every request for as long as the emulator runs.
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      emulator.ClearRecord();
      continue;
    }
    emulator.WaitForRequests(printed + 1, 100);
    std::vector<ReceivedRequest> requests = emulator.Requests();
    for (; printed < requests.size(); ++printed) {
      if (!options.quiet) PrintRequest(requests[printed]);
    }
  }
  emulator.Stop();
  if (!options.quiet) std::printf("emulator: stopped\n");
  return 0;
}
