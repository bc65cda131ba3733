#pragma once

// The emulator substitute's trap handlers: what the emulated device does for
// each remote trap call it understands, given the request as the substitute
// recorded it. Test support only; the framing and the connections are the
// substitute's (emulator_substitute.h), the databases the device store's
// (device_store.h).

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace gantry_testing {

class DeviceStore;

constexpr uint16_t kTrapFindDatabase = 0xA045;  // 'w' card, 's' name -> D0 local id or 0
constexpr uint16_t kTrapDatabaseInfo = 0xA046;  // 13 parameters, the 5th (by ref) is the version
constexpr uint16_t kTrapAppSwitch = 0xA0A7;     // 'w', 'd' local id, 'w', 'd'
constexpr uint16_t kTrapReset = 0xA08C;         // no parameters
constexpr uint16_t kTrapEnqueueKey = 0xA12D;    // 'w', 'w', 'w'
constexpr uint16_t kTrapHostControl = 0xA344;   // 'w' selector, then by selector:
constexpr uint16_t kSelectorImport = 0x0500;    //   's' host path, 'd' card
constexpr uint16_t kSelectorExport = 0x0501;    //   's' host path, 'd' card, 's' name
constexpr uint16_t kSelectorScreen = 0x0502;    //   's' host path

/// One parameter slot of a recorded request, with the kind the substitute took
/// it for. Filled by the substitute's connection threads, read by tests.
struct ReceivedParam {
  // 'w', 'd' or 's': from the trap's parameter list when the trap is known (the
  // traps above, or one given to SetTrapSignature), else from the slot: data
  // size 2 is 'w', 4 is 'd', anything else 's'.
  char kind = 0;
  bool byRef = false;         // the slot's by-reference flag
  uint8_t dataSize = 0;       // the slot's data-size byte
  std::vector<uint8_t> data;  // the slot's data bytes (a string with its zero padding)

  // The big-endian number in the data (all of it, up to 4 bytes); 0 when empty.
  uint32_t Number() const;
  // The characters before the first zero byte.
  std::string Text() const;
};

/// One request packet as the substitute received it on one connection.
/// Recorded by the connection threads, in arrival order; read by tests.
struct ReceivedRequest {
  uint16_t port = 0;   // the listening port the connection came in on
  int connection = 0;  // the accepted connection it came on: 1, 2, ... from Start
  uint8_t destSocket = 0;
  uint8_t srcSocket = 0;
  uint8_t packetType = 0;
  uint16_t bodySize = 0;  // n from the header
  uint8_t transId = 0;
  bool signatureOk = false;       // BE EF ED
  bool headerChecksumOk = false;  // byte 9 == sum of bytes 0..8 mod 256
  bool crcOk = false;             // trailing CRC-16 matches bytes 0..9+n

  // The RPC body. bodyParsed is true when the body held the 14-byte RPC header
  // and exactly paramCount whole slots, nothing more.
  bool bodyParsed = false;
  uint8_t command = 0;  // 0x0A for a remote procedure call
  uint16_t trap = 0;
  uint32_t d0 = 0;
  uint32_t a0 = 0;
  uint16_t paramCount = 0;
  // The parameters FIRST TO LAST, as the trap declares them: params[0] is the
  // slot that came last on the wire. Only the slots that lay whole in the body.
  std::vector<ReceivedParam> params;

  std::vector<uint8_t> raw;  // the whole packet, header to CRC, as received
};

// The parameter kinds of a known trap, first to last ("ws"); for the
// host-control trap those of its selector. "" for anything else.
std::string BuiltInKinds(uint16_t trap, uint32_t selector);

/// What the device writes for a screen shot: a BMP as the emulator's Windows
/// build does, a PPM under the name with its extension replaced by ".ppm" as
/// its Unix build does, or nothing (as when it has no window).
enum class ScreenFormat { Bmp, PpmReplacingExtension, Nothing };

/// How the device answers where the real emulator's answers are not the
/// plain ones. Set on the substitute by tests and gantry-emulator.
struct DeviceMode {
  // As the real emulator: a failed import still answers D0 = 0, and a file
  // whose dates make the emulator show a dialog gets no answer at all.
  bool likeEmulator = false;
  bool installResultForced = false;
  uint32_t installResult = 0;  // the D0 of every import, when forced
  ScreenFormat screen = ScreenFormat::Bmp;
};

/// The device's answer to one request: D0 and the by-reference values by
/// parameter number (1 = first), or none at all. Made by AnswerTrap.
struct TrapAnswer {
  bool answered = true;
  uint32_t d0 = 0;
  std::map<int, uint32_t> values;
  bool installed = false;  // an import that answered D0 = 0
};

// Carries out the request on the device (a lookup, an import, an export, a
// screen shot, ...) and says what to answer. Several connection threads may
// call it at once.
TrapAnswer AnswerTrap(const ReceivedRequest& request, DeviceStore* store, const DeviceMode& mode);

// The small picture the device's screen shots show, as a BMP file: 32 by 32
// pixels of 24 bits, bottom row first.
std::vector<uint8_t> ScreenBmp();

}  // namespace gantry_testing
