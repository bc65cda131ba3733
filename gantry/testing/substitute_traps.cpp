#include "testing/substitute_traps.h"

#include <algorithm>
#include <cstdio>

#include "bytes.h"
#include "testing/device_store.h"

namespace gantry_testing {

namespace {

constexpr uint32_t kNoSuchDatabase = 0x0207;
constexpr uint32_t kImportFailed = 0xFFFC0209;  // the substitute's own failure code
constexpr uint32_t kBadParameter = 0x0502;
constexpr uint32_t kUnknownSelector = 0xFFFFFFFF;
constexpr int kScreenSide = 32;

// The parameter numbered number (1 = the first declared), or null when the
// request lacks it or any slot came cut.
const ReceivedParam* Param(const ReceivedRequest& request, size_t number) {
  if (request.params.size() != request.paramCount || number == 0 ||
      number > request.params.size()) {
    return nullptr;
  }
  return &request.params[number - 1];
}

std::string TextOf(const ReceivedRequest& request, size_t number) {
  const ReceivedParam* param = Param(request, number);
  return param != nullptr ? param->Text() : std::string();
}

// The path with the extension of its file name replaced by ".ppm" (or
// ".ppm" added to a name without one).
std::string PpmName(const std::string& path) {
  const size_t nameStart = path.find_last_of("/\\") + 1;  // 0 when there is no separator
  const size_t dot = path.rfind('.');
  const bool hasExtension = dot != std::string::npos && dot > nameStart;
  return (hasExtension ? path.substr(0, dot) : path) + ".ppm";
}

uint8_t Red(int x, int) {
  return static_cast<uint8_t>(x * 8);
}
uint8_t Green(int, int y) {
  return static_cast<uint8_t>(y * 8);
}
uint8_t Blue(int x, int y) {
  return ((x / 8 + y / 8) % 2) != 0 ? 0xC0 : 0x40;
}

std::vector<uint8_t> ScreenPpm() {
  const std::string header =
      "P6\n" + std::to_string(kScreenSide) + " " + std::to_string(kScreenSide) + "\n255\n";
  std::vector<uint8_t> file(header.begin(), header.end());
  for (int y = 0; y < kScreenSide; ++y) {
    for (int x = 0; x < kScreenSide; ++x)
      file.insert(file.end(), {Red(x, y), Green(x, y), Blue(x, y)});
  }
  return file;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  if (FILE* file = std::fopen(path.c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
  }
}

TrapAnswer Import(const ReceivedRequest& request, DeviceStore* store, const DeviceMode& mode) {
  TrapAnswer answer;
  if (mode.installResultForced && mode.installResult != 0) {
    answer.d0 = mode.installResult;
    return answer;
  }
  const ImportOutcome outcome = store->Import(TextOf(request, 2));
  if (outcome == ImportOutcome::BadDates && mode.likeEmulator && !mode.installResultForced) {
    answer.answered = false;  // the emulator's dialog waits for a person
    return answer;
  }
  const bool silent = mode.likeEmulator || mode.installResultForced;
  answer.d0 = outcome == ImportOutcome::Stored || silent ? 0 : kImportFailed;
  answer.installed = answer.d0 == 0;
  return answer;
}

TrapAnswer Screen(const ReceivedRequest& request, const DeviceMode& mode) {
  const std::string path = TextOf(request, 2);
  if (mode.screen == ScreenFormat::Bmp) WriteFile(path, ScreenBmp());
  if (mode.screen == ScreenFormat::PpmReplacingExtension) WriteFile(PpmName(path), ScreenPpm());
  return TrapAnswer();  // D0 = 0, written or not
}

TrapAnswer HostControl(const ReceivedRequest& request, DeviceStore* store, const DeviceMode& mode) {
  const ReceivedParam* selector = Param(request, 1);
  switch (selector != nullptr ? selector->Number() : 0) {
    case kSelectorImport:
      return Import(request, store, mode);
    case kSelectorExport:
      return TrapAnswer{true, store->Export(TextOf(request, 4), TextOf(request, 2)), {}};
    case kSelectorScreen:
      return Screen(request, mode);
  }
  return TrapAnswer{true, kUnknownSelector, {}};
}

TrapAnswer DatabaseInfoOf(const ReceivedRequest& request, const DeviceStore& store) {
  const ReceivedParam* id = Param(request, 2);
  DatabaseInfo info;
  if (id == nullptr || !store.InfoOf(id->Number(), &info))
    return TrapAnswer{true, kNoSuchDatabase, {}};
  return TrapAnswer{true,
                    0,
                    {{4, info.attributes},
                     {5, info.version},
                     {6, info.created},
                     {7, info.modified},
                     {8, info.backedUp},
                     {9, info.modNumber},
                     {10, info.appInfo},
                     {11, info.sortInfo},
                     {12, info.type},
                     {13, info.creator}}};
}

}  // namespace

uint32_t ReceivedParam::Number() const {
  uint32_t value = 0;
  for (size_t i = 0; i < data.size() && i < 4; ++i)
    value = (value << 8) | data[i];
  return value;
}

std::string ReceivedParam::Text() const {
  auto end = std::find(data.begin(), data.end(), 0);
  return std::string(data.begin(), end);
}

std::string BuiltInKinds(uint16_t trap, uint32_t selector) {
  switch (trap) {
    case kTrapFindDatabase:
      return "ws";
    case kTrapDatabaseInfo:
      return "wdswwdddddddd";
    case kTrapAppSwitch:
      return "wdwd";
    case kTrapEnqueueKey:
      return "www";
    case kTrapHostControl:
      return selector == kSelectorExport ? "wsds" : selector == kSelectorScreen ? "ws" : "wsd";
  }
  return "";
}

TrapAnswer AnswerTrap(const ReceivedRequest& request, DeviceStore* store, const DeviceMode& mode) {
  switch (request.trap) {
    case kTrapFindDatabase:
      return TrapAnswer{true, store->Find(TextOf(request, 2)), {}};
    case kTrapDatabaseInfo:
      return DatabaseInfoOf(request, *store);
    case kTrapAppSwitch: {
      const ReceivedParam* id = Param(request, 2);
      return TrapAnswer{true, id != nullptr && store->Holds(id->Number()) ? 0 : kBadParameter, {}};
    }
    case kTrapHostControl:
      return HostControl(request, store, mode);
  }
  return TrapAnswer();
}

std::vector<uint8_t> ScreenBmp() {
  constexpr uint32_t kHeaders = 14 + 40;
  constexpr uint32_t kRow = kScreenSide * 3;  // a multiple of 4 already
  std::vector<uint8_t> file = {'B', 'M'};
  gantry::PutLe32(&file, kHeaders + kRow * kScreenSide);
  gantry::PutLe32(&file, 0);
  gantry::PutLe32(&file, kHeaders);
  gantry::PutLe32(&file, 40);
  gantry::PutLe32(&file, kScreenSide);
  gantry::PutLe32(&file, kScreenSide);                   // positive: the bottom row comes first
  gantry::PutLe16(&file, 1);                             // planes
  gantry::PutLe16(&file, 24);                            // bits per pixel
  for (uint32_t value : {0u, 0u, 2835u, 2835u, 0u, 0u})  // BI_RGB, size 0 as the emulator may
    gantry::PutLe32(&file, value);
  for (int y = kScreenSide - 1; y >= 0; --y) {
    for (int x = 0; x < kScreenSide; ++x)
      file.insert(file.end(), {Blue(x, y), Green(x, y), Red(x, y)});
  }
  return file;
}

}  // namespace gantry_testing
