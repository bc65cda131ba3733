// The nine exported operations. Each call takes its turn among the process's
// calls, makes its own connection to the emulator, at most three trap calls on
// it, and closes it again. Nothing is printed and nothing is thrown out of the
// library: every failure, an exception from below included, ends in the
// call's failure result.

#include "gantry.h"

#include <cstddef>
#include <cstdint>
#include <string>

#include "destination.h"
#include "filesys.h"
#include "formats.h"
#include "link.h"
#include "turns.h"

namespace gantry {

namespace {

constexpr uint16_t kTrapFindDatabase = 0xA045;
constexpr uint16_t kTrapDatabaseInfo = 0xA046;
constexpr uint16_t kTrapUiAppSwitch = 0xA0A7;
constexpr uint16_t kTrapSysReset = 0xA08C;
constexpr uint16_t kTrapEnqueueKey = 0xA12D;
constexpr uint16_t kTrapHostControl = 0xA344;

constexpr uint16_t kSelectorImportFile = 0x0500;
constexpr uint16_t kSelectorExportFile = 0x0501;
constexpr uint16_t kSelectorSaveScreen = 0x0502;
constexpr uint16_t kLaunchChar = 0x0108;
constexpr uint16_t kCommandKeyMask = 0x0008;
constexpr size_t kMaxDatabaseName = kDatabaseNameField - 1;

/// The connection of one exported call: waits for the call's turn and
/// connects on construction, both within the one connect bound counted from
/// the start of the call; closes and gives the turn back on destruction, also
/// when an exception leaves the call. Owned by that call.
class CallLink {
 public:
  CallLink()
      : startTick(netsock::TickMs()),
        turn(ProcessCallTurns().Take(EmulatorLink::kConnectTimeoutMs)),
        connected(turn && link.Connect(startTick)) {}
  ~CallLink() {
    link.Close();
    if (turn) ProcessCallTurns().Give();
  }
  CallLink(const CallLink&) = delete;
  CallLink& operator=(const CallLink&) = delete;

  // One trap call on the connection; true when a reply came.
  bool Call(uint16_t trap, int count, TrapParam* params, uint32_t* resultD0) {
    return connected && link.CallTrap(trap, count, params, resultD0);
  }

  EmulatorLink link;

 private:
  const uint32_t startTick;
  const bool turn;

 public:
  const bool connected;
};

/// The lookup of a database by name, made before the connection so that a
/// request that can't be sent is refused without one. Owned by one call.
class Lookup {
 public:
  explicit Lookup(char* name) : params{{'w', &card, 0}, {'s', name, 1}} {}
  Lookup(const Lookup&) = delete;
  Lookup& operator=(const Lookup&) = delete;

  bool Fits() const { return RequestFits(2, params); }

  // True when a reply came; *localId is then the database's local id, 0 when
  // there is no such database.
  bool Run(EmulatorLink* link, uint32_t* localId) {
    *localId = 0;
    return link->CallTrap(kTrapFindDatabase, 2, params, localId);
  }

 private:
  uint16_t card = 0;
  TrapParam params[2];
};

/// What DmDatabaseInfo reports of a database, in the variables its
/// by-reference parameters fill. Filled by Read, for one exported call.
struct DatabaseInfo {
  uint16_t attributes = 0, version = 0;
  uint32_t created = 0, modified = 0, backedUp = 0, modNumber = 0;
  uint32_t appInfo = 0, sortInfo = 0, type = 0, creator = 0;

  // The 13 parameters, every variable starting at 0; true when a reply came
  // (*resultD0, when given, then holds its D0).
  bool Read(EmulatorLink* link, uint32_t localId, char* name, uint32_t* resultD0) {
    uint16_t card = 0;
    *this = DatabaseInfo();
    TrapParam params[] = {{'w', &card, 0},       {'d', &localId, 0},  {'s', name, 1},
                          {'w', &attributes, 1}, {'w', &version, 1},  {'d', &created, 1},
                          {'d', &modified, 1},   {'d', &backedUp, 1}, {'d', &modNumber, 1},
                          {'d', &appInfo, 1},    {'d', &sortInfo, 1}, {'d', &type, 1},
                          {'d', &creator, 1}};
    return link->CallTrap(kTrapDatabaseInfo, 13, params, resultD0);
  }
};

// Whether the device now holds the database of this file header: found by its
// name, with the header's type, creator and creation date.
bool DeviceHolds(EmulatorLink* link, const DatabaseHeader& header) {
  std::string name = header.name;
  Lookup lookup(&name[0]);
  uint32_t localId = 0, result = 1;
  DatabaseInfo info;
  return lookup.Run(link, &localId) && localId != 0 &&
         info.Read(link, localId, &name[0], &result) && result == 0 && info.type == header.type &&
         info.creator == header.creator && info.created == header.created;
}

// A database name the device can have: 1 to 31 characters.
bool NameFits(const char* name) {
  if (name == nullptr || name[0] == '\0') return false;
  for (size_t i = 1; i <= kMaxDatabaseName; ++i) {
    if (name[i] == '\0') return true;
  }
  return false;
}

// A path that fits a string parameter and means the same to the emulator.
bool AbsolutePath(const char* path) {
  return StringFits(path) && filesys::IsAbsolute(path);
}

// Has the emulator write the host file at hostPath through HostControl, the
// path going in params[pathIndex] for this call. True when a reply with D0 = 0
// came; the connection is closed and the turn given back on return.
bool WriteThroughEmulator(int count, TrapParam* params, int pathIndex, std::string hostPath) {
  void* const given = params[pathIndex].value;
  params[pathIndex].value = &hostPath[0];
  CallLink call;
  uint32_t result = 1;
  const bool written = call.Call(kTrapHostControl, count, params, &result) && result == 0;
  params[pathIndex].value = given;
  return written;
}

// Runs body, turning any exception into the failure result.
template <typename Result, typename Body>
Result Guarded(Result failure, Body body) noexcept {
  try {
    return body();
  } catch (...) {
    return failure;
  }
}

template <typename Body>
void GuardedVoid(Body body) noexcept {
  try {
    body();
  } catch (...) {
  }
}

short AsSigned16(uint16_t value) {
  return value < 0x8000 ? static_cast<short>(value) : static_cast<short>(int(value) - 0x10000);
}

}  // namespace

}  // namespace gantry

// The exports themselves stay at global scope: their names and linkage are the
// library's interface.
using namespace gantry;

bool IsEmulatorRunning() {
  return Guarded(false, [] {
    CallLink call;
    return call.connected;
  });
}

bool InstallFile(char* path) {
  return Guarded(false, [path] {
    uint16_t selector = kSelectorImportFile;
    uint32_t card = 0, result = 0;
    TrapParam params[] = {{'w', &selector, 0}, {'s', path, 1}, {'d', &card, 0}};
    if (!RequestFits(3, params)) return false;
    // A file gantry can read is checked on the device afterwards; one it can't
    // may still be the emulator's to open.
    DatabaseHeader header;
    const HeaderRead read = ReadDatabaseHeader(path, &header);
    if (read == HeaderRead::TooShort || read == HeaderRead::NotADatabase) return false;
    CallLink call;
    if (!call.Call(kTrapHostControl, 3, params, &result) || result != 0) return false;
    return read == HeaderRead::Unopenable || DeviceHolds(&call.link, header);
  });
}

bool HasDatabase(char* name) {
  return Guarded(false, [name] {
    Lookup lookup(name);
    if (!lookup.Fits()) return false;
    CallLink call;
    uint32_t localId = 0;
    return call.connected && lookup.Run(&call.link, &localId) && localId != 0;
  });
}

short QuorvaneRt_ver() {
  return Guarded<short>(0, [] {
    char runtimeName[] = "QuorvaneRT";
    Lookup lookup(runtimeName);
    CallLink call;
    uint32_t localId = 0;
    if (!call.connected || !lookup.Run(&call.link, &localId) || localId == 0) return short(0);
    DatabaseInfo info;
    if (!info.Read(&call.link, localId, runtimeName, nullptr)) return short(0);
    return AsSigned16(info.version);
  });
}

void LaunchApp(char* name) {
  GuardedVoid([name] {
    Lookup lookup(name);
    if (!lookup.Fits()) return;
    CallLink call;
    uint32_t localId = 0;
    if (!call.connected || !lookup.Run(&call.link, &localId) || localId == 0) return;
    uint16_t card = 0, command = 0;
    uint32_t paramBlock = 0;
    TrapParam params[] = {
        {'w', &card, 0}, {'d', &localId, 0}, {'w', &command, 0}, {'d', &paramBlock, 0}};
    call.link.CallTrap(kTrapUiAppSwitch, 4, params, nullptr);
  });
}

void EmulatorReset() {
  GuardedVoid([] {
    CallLink call;
    // A reset that went may have reset the device, and with it the connection.
    if (call.connected) {
      call.link.CallTrap(kTrapSysReset, 0, nullptr, nullptr, EmulatorLink::Resend::Never);
    }
  });
}

void EmulatorStartAppLauncher() {
  GuardedVoid([] {
    CallLink call;
    if (!call.connected) return;
    uint16_t character = kLaunchChar, keyCode = kLaunchChar, modifiers = kCommandKeyMask;
    TrapParam params[] = {{'w', &character, 0}, {'w', &keyCode, 0}, {'w', &modifiers, 0}};
    call.link.CallTrap(kTrapEnqueueKey, 3, params, nullptr);
  });
}

bool ExportDatabase(char* name, char* path) {
  return Guarded(false, [name, path] {
    uint16_t selector = kSelectorExportFile;
    uint32_t card = 0;
    TrapParam params[] = {{'w', &selector, 0}, {'s', path, 1}, {'d', &card, 0}, {'s', name, 1}};
    if (!NameFits(name) || !AbsolutePath(path) || !RequestFits(4, params)) return false;
    Destination destination;
    if (!destination.Reserve(path, LongestStringThatFits(4, params, 1), false) ||
        !WriteThroughEmulator(4, params, 1, destination.TempPath())) {
      return false;
    }
    DatabaseHeader header;
    return ReadDatabaseHeader(destination.TempPath(), &header) == HeaderRead::Read &&
           header.name == name && destination.PutInPlace(destination.TempPath());
  });
}

bool SaveScreen(char* path) {
  return Guarded(false, [path] {
    uint16_t selector = kSelectorSaveScreen;
    TrapParam params[] = {{'w', &selector, 0}, {'s', path, 1}};
    if (!AbsolutePath(path) || !RequestFits(2, params)) return false;
    Destination destination;
    if (!destination.Reserve(path, LongestStringThatFits(2, params, 1), true) ||
        !WriteThroughEmulator(2, params, 1, destination.TempPath())) {
      return false;
    }
    // The emulator's Unix build writes the picture under the twin's name.
    const std::string written =
        IsScreenImage(destination.TempPath()) ? destination.TempPath() : destination.TwinPath();
    return IsScreenImage(written) && destination.PutInPlace(written);
  });
}
