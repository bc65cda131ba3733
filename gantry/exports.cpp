// The seven exported operations. Each call takes its turn among the process's
// calls, makes its own connection to the emulator, at most two trap calls on
// it, and closes it again. Nothing is printed and nothing is thrown out of the
// library: every failure, an exception from below included, ends in the
// call's failure result.

#include "gantry.h"

#include <cstddef>
#include <cstdint>

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
constexpr uint16_t kLaunchChar = 0x0108;
constexpr uint16_t kCommandKeyMask = 0x0008;

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

// Reads a database's version. True when a reply came; *version then holds it.
bool DatabaseVersion(EmulatorLink* link, uint32_t localId, char* name, uint16_t* version) {
  uint16_t card = 0, attributes = 0;
  uint32_t created = 0, modified = 0, backedUp = 0, modNumber = 0;
  uint32_t appInfo = 0, sortInfo = 0, type = 0, creator = 0;
  *version = 0;
  TrapParam params[] = {{'w', &card, 0},       {'d', &localId, 0},  {'s', name, 1},
                        {'w', &attributes, 1}, {'w', version, 1},   {'d', &created, 1},
                        {'d', &modified, 1},   {'d', &backedUp, 1}, {'d', &modNumber, 1},
                        {'d', &appInfo, 1},    {'d', &sortInfo, 1}, {'d', &type, 1},
                        {'d', &creator, 1}};
  return link->CallTrap(kTrapDatabaseInfo, 13, params, nullptr);
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
    CallLink call;
    return call.connected && call.link.CallTrap(kTrapHostControl, 3, params, &result) &&
           result == 0;
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
    uint16_t version = 0;
    if (!DatabaseVersion(&call.link, localId, runtimeName, &version)) return short(0);
    return AsSigned16(version);
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
