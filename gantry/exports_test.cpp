// End-to-end tests of the nine exports of the shared library against the
// emulator substitute listening on the emulator's loopback ports.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "gantry.h"
#include "testing/emulator_substitute.h"
#include "testing/pdb_image.h"
#include "testing/scratch.h"

namespace {

using namespace gantry_testing;
using namespace file_testing;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kRuntimeId = 0x00012340;
constexpr uint32_t kMemoId = 0x00056780;
constexpr uint32_t kAsIs = 0xFFFF;  // no D0 forced

/// Runs one emulator substitute per test, with the runtime database and one
/// application on the device. Tests start it on the ports they need.
class ExportsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    emu.AddDatabase("QuorvaneRT", kRuntimeId, 0x0203);
    emu.AddDatabase("MemoPad", kMemoId, 1);
  }

  void Start(std::vector<uint16_t> ports = {kPrimaryPort}) { ASSERT_TRUE(emu.Start(ports)); }

  // Waits until every accepted connection was closed by the library.
  void ExpectAllClosed() {
    EXPECT_TRUE(emu.WaitForPeerClosed(emu.ConnectionCount(), 2000))
        << emu.PeerClosedCount() << " of " << emu.ConnectionCount() << " closed";
  }

  static Bytes Body(const ReceivedRequest& request) {
    if (request.raw.size() < 12) return {};
    return Bytes(request.raw.begin() + 10, request.raw.end() - 2);
  }

  static void ExpectWellFramed(const ReceivedRequest& request, uint8_t socketId) {
    EXPECT_TRUE(request.signatureOk && request.headerChecksumOk && request.crcOk);
    EXPECT_TRUE(request.bodyParsed);
    EXPECT_EQ(request.command, 0x0A);
    EXPECT_EQ(request.destSocket, socketId);
    EXPECT_EQ(request.srcSocket, socketId);
    EXPECT_EQ(request.packetType, 0);
  }

  static void ExpectParam(const ReceivedParam& param, char kind, bool byRef, uint32_t number) {
    EXPECT_EQ(param.kind, kind);
    EXPECT_EQ(param.byRef, byRef);
    EXPECT_EQ(param.Number(), number);
  }

  // A database file in the scratch folder; its path.
  std::string FileOf(const PdbFile& file, const std::string& name) {
    const std::string path = (scratch / name).string();
    WriteFileBytes(path, PdbImage(file));
    return path;
  }

  EmulatorSubstitute emu;
  ScratchDir scratch;
};

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// --- no emulator ---

TEST_F(ExportsTest, WithNoEmulatorEveryCallFailsAtOnce) {
  char name[] = "QuorvaneRT";
  char path[] = "/tmp/app.prc";
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(IsEmulatorRunning());
  EXPECT_FALSE(HasDatabase(name));
  EXPECT_FALSE(InstallFile(path));
  EXPECT_EQ(QuorvaneRt_ver(), 0);
  LaunchApp(name);
  EmulatorReset();
  EmulatorStartAppLauncher();
  EXPECT_LT(SecondsSince(start), 2.0);
}

// --- IsEmulatorRunning ---

TEST_F(ExportsTest, RunningOnEitherPortWithoutAnyPacket) {
  Start({kSecondaryPort});
  EXPECT_TRUE(IsEmulatorRunning());
  EXPECT_TRUE(emu.WaitForPeerClosed(1, 2000));  // accepted, then closed by the library
  EXPECT_EQ(emu.ConnectionCount(kSecondaryPort), 1);
  emu.Stop();

  EmulatorSubstitute both;
  ASSERT_TRUE(both.Start({kPrimaryPort, kSecondaryPort}));
  EXPECT_TRUE(IsEmulatorRunning());
  EXPECT_TRUE(both.WaitForPeerClosed(1, 2000));
  EXPECT_EQ(both.ConnectionCount(kPrimaryPort), 1);
  EXPECT_EQ(both.ConnectionCount(kSecondaryPort), 0);
  EXPECT_EQ(both.RequestCount(), 0u);
  EXPECT_EQ(emu.RequestCount(), 0u);
}

// --- HasDatabase ---

TEST_F(ExportsTest, HasDatabaseSendsOneLookupAndJudgesTheLocalId) {
  Start();
  char known[] = "MemoPad";
  char unknown[] = "NoSuchDb";
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(HasDatabase(known));
  EXPECT_LT(SecondsSince(start), 1.0);
  EXPECT_FALSE(HasDatabase(unknown));

  auto requests = emu.Requests();
  ASSERT_EQ(requests.size(), 2u);
  for (const auto& request : requests) {
    ExpectWellFramed(request, 1);
    EXPECT_EQ(request.trap, kTrapFindDatabase);
    EXPECT_EQ(request.transId, 1);
    ASSERT_EQ(request.params.size(), 2u);
    ExpectParam(request.params[0], 'w', false, 0);
    EXPECT_EQ(request.params[1].kind, 's');
    EXPECT_TRUE(request.params[1].byRef);
  }
  EXPECT_EQ(requests[0].params[1].Text(), "MemoPad");
  EXPECT_EQ(requests[1].params[1].Text(), "NoSuchDb");
  EXPECT_NE(requests[0].connection, requests[1].connection);
  ExpectAllClosed();
}

TEST_F(ExportsTest, LookupOfTheRuntimeHasTheExactBody) {
  Start();
  char name[] = "QuorvaneRT";
  EXPECT_TRUE(HasDatabase(name));
  auto requests = emu.Requests();
  ASSERT_EQ(requests.size(), 1u);
  Bytes expected = {0x0A, 0x00, 0xA0, 0x45, 0,    0,   0,    0,    0,   0,   0,
                    0,    0x00, 0x02, 0x01, 0x0C, 'Q', 'u',  'o',  'r', 'v', 'a',
                    'n',  'e',  'R',  'T',  0,    0,   0x00, 0x02, 0,   0};
  EXPECT_EQ(Body(requests[0]), expected);
}

TEST_F(ExportsTest, NoReplyOrAFailedReplyMeansNoDatabase) {
  Start();
  char name[] = "MemoPad";
  emu.SetFault({FaultMode::CloseWithoutReply});
  EXPECT_FALSE(HasDatabase(name));
  emu.SetFault({FaultMode::TruncatedBody, 0, 1, 0, 6});  // no room for D0
  EXPECT_FALSE(HasDatabase(name));
  EXPECT_EQ(emu.RequestCount(), 2u);
}

// --- QuorvaneRt_ver ---

TEST_F(ExportsTest, VersionTakesTwoRequestsOnOneConnection) {
  Start();
  EXPECT_EQ(QuorvaneRt_ver(), 0x0203);

  auto requests = emu.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(emu.ConnectionCount(), 1);
  EXPECT_EQ(requests[0].trap, kTrapFindDatabase);
  EXPECT_EQ(requests[0].params[1].Text(), "QuorvaneRT");
  EXPECT_EQ(requests[0].transId, 1);
  const ReceivedRequest& info = requests[1];
  ExpectWellFramed(info, 1);
  EXPECT_EQ(info.trap, kTrapDatabaseInfo);
  EXPECT_EQ(info.transId, 2);
  EXPECT_EQ(info.connection, requests[0].connection);
  EXPECT_EQ(info.bodySize, 94);
  EXPECT_EQ(info.paramCount, 13);
  ASSERT_EQ(info.params.size(), 13u);
  ExpectParam(info.params[0], 'w', false, 0);
  ExpectParam(info.params[1], 'd', false, kRuntimeId);
  EXPECT_EQ(info.params[2].kind, 's');
  EXPECT_TRUE(info.params[2].byRef);
  EXPECT_EQ(info.params[2].dataSize, 12);
  EXPECT_EQ(info.params[2].Text(), "QuorvaneRT");
  ExpectParam(info.params[3], 'w', true, 0);
  ExpectParam(info.params[4], 'w', true, 0);
  for (int i = 5; i < 13; ++i) {
    SCOPED_TRACE(i + 1);
    ExpectParam(info.params[i], 'd', true, 0);
  }
  ExpectAllClosed();
}

TEST_F(ExportsTest, VersionIsSignedAndIgnoresTheInfoD0) {
  Start();
  struct Case {
    uint16_t stored;
    short expected;
  } cases[] = {{0x7FFF, 32767}, {0x8000, -32768}, {0xFFFF, -1}, {0x0001, 1}};
  for (const Case& c : cases) {
    emu.SetByRefValue(kTrapDatabaseInfo, 5, c.stored);
    EXPECT_EQ(QuorvaneRt_ver(), c.expected) << std::hex << c.stored;
  }
  emu.SetByRefValue(kTrapDatabaseInfo, 5, 0x0305);
  emu.SetTrapD0(kTrapDatabaseInfo, 0x0207);
  EXPECT_EQ(QuorvaneRt_ver(), 0x0305);
}

TEST_F(ExportsTest, VersionWithoutTheRuntimeOrWithoutALookupReplyIsZeroAfterOneRequest) {
  Start();
  emu.SetTrapD0(kTrapFindDatabase, 0);
  EXPECT_EQ(QuorvaneRt_ver(), 0);
  EXPECT_EQ(emu.RequestCount(), 1u);

  emu.ClearRecord();
  emu.SetTrapD0(kTrapFindDatabase, kRuntimeId);
  emu.SetFault({FaultMode::CloseWithoutReply});
  EXPECT_EQ(QuorvaneRt_ver(), 0);
  EXPECT_EQ(emu.RequestCount(), 1u);

  emu.Stop();
  EmulatorSubstitute fresh;
  fresh.AddDatabase("QuorvaneRT", kRuntimeId, 0x0203);
  ASSERT_TRUE(fresh.Start({kPrimaryPort}));
  fresh.SetFaultForRequest(2, {FaultMode::CloseWithoutReply});  // the info request
  EXPECT_EQ(QuorvaneRt_ver(), 0);
  EXPECT_EQ(fresh.RequestCount(), 2u);
}

// --- InstallFile ---

TEST_F(ExportsTest, InstallOfAFileGantryCannotOpenIsTrueOnlyForD0Zero) {
  Start();
  emu.SetInstallResult(0);
  char path[] = "C:\\Palm\\Add-on\\App.prc";
  EXPECT_TRUE(InstallFile(path));
  auto requests = emu.Requests();
  ASSERT_EQ(requests.size(), 1u);
  ExpectWellFramed(requests[0], 1);
  EXPECT_EQ(requests[0].trap, kTrapHostControl);
  ASSERT_EQ(requests[0].params.size(), 3u);
  ExpectParam(requests[0].params[0], 'w', false, 0x0500);
  EXPECT_EQ(requests[0].params[1].Text(), path);
  EXPECT_TRUE(requests[0].params[1].byRef);
  ExpectParam(requests[0].params[2], 'd', false, 0);
  EXPECT_EQ(emu.InstalledPaths(), std::vector<std::string>{path});

  for (uint32_t d0 : {1u, 0x80000000u, 0xFFFFFFFFu}) {
    emu.SetInstallResult(d0);
    EXPECT_FALSE(InstallFile(path)) << d0;
  }
  emu.SetInstallResult(0);
  emu.SetFault({FaultMode::CloseWithoutReply});
  EXPECT_FALSE(InstallFile(path));
}

TEST_F(ExportsTest, InstallOfAReadableFileChecksTheDatabaseOnTheDevice) {
  PdbFile file;
  file.name = "Checked";
  file.type = "appl";
  file.attributes = 1;
  std::string path = FileOf(file, "checked.prc");
  /// A device that answers the checks wrongly in one way, and what gantry says.
  struct Case {
    const char* what;
    uint16_t trap;
    int param;  // 0: D0
    uint32_t value;
    size_t requests;
    bool installed;
  } cases[] = {
      {"matching", 0, 0, 0, 3, true},
      {"import failed", kTrapHostControl, 0, 1, 1, false},
      {"not found", kTrapFindDatabase, 0, 0, 2, false},
      {"info failed", kTrapDatabaseInfo, 0, 0x0207, 3, false},
      {"type", kTrapDatabaseInfo, 12, FourCc("libr"), 3, false},
      {"creator", kTrapDatabaseInfo, 13, FourCc("Othr"), 3, false},
      {"creation date", kTrapDatabaseInfo, 6, file.created + 1, 3, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EmulatorSubstitute device;
    ASSERT_TRUE(device.Start({kPrimaryPort}));
    if (c.trap != 0 && c.param == 0) device.SetTrapD0(c.trap, c.value);
    if (c.param != 0) device.SetByRefValue(c.trap, c.param, c.value);
    EXPECT_EQ(InstallFile(&path[0]), c.installed);
    auto requests = device.Requests();
    ASSERT_EQ(requests.size(), c.requests);
    EXPECT_EQ(device.ConnectionCount(), 1);
    EXPECT_EQ(requests[0].params[1].Text(), path);
    if (c.requests < 2) continue;
    EXPECT_EQ(requests[1].params[1].Text(), "Checked");
    if (c.requests < 3) continue;
    EXPECT_EQ(requests[2].trap, kTrapDatabaseInfo);
    EXPECT_EQ(requests[2].params[2].Text(), "Checked");
  }
}

TEST_F(ExportsTest, InstallOfAFileShorterThanAHeaderOrWithoutANameSendsNothing) {
  Start();
  PdbFile unnamed;
  unnamed.name = "";
  std::string noName = FileOf(unnamed, "unnamed.pdb");
  std::string shortFile = (scratch / "short.pdb").string();
  Bytes cut = PdbImage(PdbFile());
  cut.resize(77);
  WriteFileBytes(shortFile, cut);
  EXPECT_FALSE(InstallFile(&noName[0]));
  EXPECT_FALSE(InstallFile(&shortFile[0]));
  EXPECT_EQ(emu.ConnectionCount(), 0);
}

// --- ExportDatabase and SaveScreen ---

TEST_F(ExportsTest, ExportPutsTheDatabaseInPlaceAndAFailureLeavesThePathAsItWas) {
  PdbFile memo;
  memo.name = "MemoPad";
  memo.entries = {{1, 2, 3}, {4}};
  const Bytes old = {'o', 'l', 'd'};
  const std::string folder = (scratch / "").string();
  std::string path = (scratch / "memo.pdb").string();
  /// What the device holds or answers, and whether the export gives the file.
  struct Case {
    const char* what;
    const char* storedAs;  // the device's name for memo's file
    const char* header;    // the name in the file's header
    uint32_t d0;           // forced on the export when not kAsIs
    bool exported;
  } cases[] = {
      {"no such database", "Other", "MemoPad", kAsIs, false},
      {"an empty file and D0 0", "Other", "MemoPad", 0, false},
      {"a file naming another database", "MemoPad", "Other", kAsIs, false},
      {"D0 not 0", "MemoPad", "MemoPad", 5, false},
      {"the database", "MemoPad", "MemoPad", kAsIs, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFileBytes(path, old);
    EmulatorSubstitute device;
    PdbFile stored = memo;
    stored.name = c.header;
    device.Device().AddImage(c.storedAs, kMemoId, PdbImage(stored));
    if (c.d0 != kAsIs) device.SetTrapD0(kTrapHostControl, c.d0);
    ASSERT_TRUE(device.Start({kPrimaryPort}));
    char name[] = "MemoPad";
    EXPECT_EQ(ExportDatabase(name, &path[0]), c.exported);
    EXPECT_EQ(ReadFileBytes(path), c.exported ? PdbImage(memo) : old);
    EXPECT_EQ(scratch.Names(), std::vector<std::string>{"memo.pdb"});  // no temporary left
    auto requests = device.Requests();
    ASSERT_EQ(requests.size(), 1u);
    ASSERT_EQ(requests[0].params.size(), 4u);
    ExpectParam(requests[0].params[0], 'w', false, 0x0501);
    const std::string temp = requests[0].params[1].Text();
    EXPECT_EQ(temp.rfind(folder, 0), 0u) << temp;  // beside path
    EXPECT_NE(temp, path);
    EXPECT_EQ(requests[0].params[3].Text(), "MemoPad");
  }
}

TEST_F(ExportsTest, ExportAndScreenRefuseUnsentWhatCannotWork) {
  Start();
  std::string name31(31, 'n'), name32(32, 'n');
  emu.AddDatabase(name31, 0x00313100, 1);
  // With a 31-character name the path may have 211 characters.
  const std::string folder = (scratch / "").string();
  std::string fits = folder + std::string(211 - folder.size(), 'p');
  std::string over = fits + "p";
  std::string relative = "memo.pdb", missingFolder = (scratch / "none/memo.pdb").string();
  std::string screenOver = folder + std::string(252 - folder.size(), 's');
  std::string asFolder = folder;
  char memo[] = "MemoPad", empty[] = "";
  EXPECT_FALSE(ExportDatabase(&name31[0], &over[0]));
  EXPECT_FALSE(ExportDatabase(&name32[0], &fits[0]));
  EXPECT_FALSE(ExportDatabase(empty, &fits[0]));
  EXPECT_FALSE(ExportDatabase(nullptr, &fits[0]));
  EXPECT_FALSE(ExportDatabase(memo, nullptr));
  EXPECT_FALSE(ExportDatabase(memo, &relative[0]));
  EXPECT_FALSE(ExportDatabase(memo, &missingFolder[0]));
  EXPECT_FALSE(ExportDatabase(memo, &asFolder[0]));
  EXPECT_FALSE(SaveScreen(&relative[0]));
  EXPECT_FALSE(SaveScreen(&screenOver[0]));
  EXPECT_FALSE(SaveScreen(nullptr));
  EXPECT_EQ(emu.ConnectionCount(), 0);

  EXPECT_TRUE(ExportDatabase(&name31[0], &fits[0]));
  ASSERT_EQ(emu.RequestCount(), 1u);
  EXPECT_LE(emu.Requests()[0].bodySize, 272);
  screenOver.pop_back();
  EXPECT_TRUE(SaveScreen(&screenOver[0]));
}

TEST_F(ExportsTest, ScreenComesAsTheEmulatorWroteItUnderEitherName) {
  Start();
  const Bytes old = {'o', 'l', 'd'};
  std::string path = (scratch / "shot.bmp").string();
  /// How the device writes its screen, and what path then begins with.
  struct Case {
    ScreenFormat format;
    std::string begins;  // "" for the old bytes, left as they were
  } cases[] = {{ScreenFormat::Bmp, "BM"},
               {ScreenFormat::PpmReplacingExtension, "P6"},
               {ScreenFormat::Nothing, ""}};
  for (const Case& c : cases) {
    WriteFileBytes(path, old);
    emu.SetScreenFormat(c.format);
    EXPECT_EQ(SaveScreen(&path[0]), !c.begins.empty()) << c.begins;
    const Bytes shot = ReadFileBytes(path);
    if (c.begins.empty()) {
      EXPECT_EQ(shot, old);
    } else {
      EXPECT_EQ(std::string(shot.begin(), shot.begin() + std::min<size_t>(2, shot.size())),
                c.begins);
    }
    EXPECT_EQ(scratch.Names(), std::vector<std::string>{"shot.bmp"});
  }
  EXPECT_EQ(emu.Requests()[0].params.size(), 2u);
  EXPECT_EQ(emu.Requests()[0].params[0].Number(), 0x0502u);
}

// --- LaunchApp ---

TEST_F(ExportsTest, LaunchAppSwitchesToTheIdFromTheLookup) {
  Start();
  char name[] = "MemoPad";
  LaunchApp(name);
  auto requests = emu.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].trap, kTrapFindDatabase);
  EXPECT_EQ(requests[0].params[1].Text(), "MemoPad");
  const ReceivedRequest& appSwitch = requests[1];
  ExpectWellFramed(appSwitch, 1);
  EXPECT_EQ(appSwitch.trap, kTrapAppSwitch);
  EXPECT_EQ(appSwitch.transId, 2);
  EXPECT_EQ(appSwitch.connection, requests[0].connection);
  ASSERT_EQ(appSwitch.params.size(), 4u);
  ExpectParam(appSwitch.params[0], 'w', false, 0);
  ExpectParam(appSwitch.params[1], 'd', false, kMemoId);
  ExpectParam(appSwitch.params[2], 'w', false, 0);
  ExpectParam(appSwitch.params[3], 'd', false, 0);
  ExpectAllClosed();
}

TEST_F(ExportsTest, LaunchAppOfAnUnknownNameSendsOnlyTheLookup) {
  Start();
  char name[] = "NoSuchApp";
  LaunchApp(name);
  emu.SetFault({FaultMode::CloseWithoutReply});
  char known[] = "MemoPad";
  LaunchApp(known);
  auto requests = emu.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].trap, kTrapFindDatabase);
  EXPECT_EQ(requests[1].trap, kTrapFindDatabase);
}

// --- EmulatorStartAppLauncher and EmulatorReset ---

TEST_F(ExportsTest, LauncherSendsTheThreeWordsModifiersFirst) {
  Start({kSecondaryPort});
  EmulatorStartAppLauncher();
  auto requests = emu.Requests();
  ASSERT_EQ(requests.size(), 1u);
  Bytes expected = {0xBE, 0xEF, 0xED, 0x0E, 0x0E, 0x00, 0x00, 0x1A, 0x01, 0xD1, 0x0A, 0x00, 0xA1,
                    0x2D, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00, 0x02,
                    0x00, 0x08, 0x00, 0x02, 0x01, 0x08, 0x00, 0x02, 0x01, 0x08, 0x27, 0x55};
  EXPECT_EQ(requests[0].raw, expected);
}

TEST_F(ExportsTest, ResetSendsTheBareTrapOnEitherPort) {
  Start({kSecondaryPort});
  EmulatorReset();
  Bytes on6415 = {0xBE, 0xEF, 0xED, 0x0E, 0x0E, 0x00, 0x00, 0x0E, 0x01, 0xC5, 0x0A, 0x00, 0xA0,
                  0x8C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xDE, 0x3F};
  ASSERT_EQ(emu.RequestCount(), 1u);
  EXPECT_EQ(emu.Requests()[0].raw, on6415);
  emu.Stop();

  EmulatorSubstitute primary;
  ASSERT_TRUE(primary.Start({kPrimaryPort}));
  EmulatorReset();
  Bytes on2000 = {0xBE, 0xEF, 0xED, 0x01, 0x01, 0x00, 0x00, 0x0E, 0x01, 0xAB, 0x0A, 0x00, 0xA0,
                  0x8C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x6B, 0x5A};
  ASSERT_EQ(primary.RequestCount(), 1u);
  EXPECT_EQ(primary.Requests()[0].raw, on2000);
}

TEST_F(ExportsTest, SilentResetReturnsAfterAboutFiveSeconds) {
  Start();
  emu.SetFault({FaultMode::Silent});
  auto start = std::chrono::steady_clock::now();
  EmulatorReset();
  double seconds = SecondsSince(start);
  EXPECT_GE(seconds, 4.5);
  EXPECT_LE(seconds, 6.5);
  EXPECT_EQ(emu.RequestCount(), 1u);
}

// A call waits for its turn and resends a reset request within one bound of
// 5 s from its start: behind a call that an emulator resetting every request
// holds for that long, a call fails within its own bound, not after the
// other's. A reset is never sent twice.
TEST_F(ExportsTest, WaitingAndResendingEndWithTheConnectBound) {
  Start({kPrimaryPort, kSecondaryPort});
  emu.SetFault({FaultMode::Reset});
  EmulatorReset();
  EXPECT_EQ(emu.RequestCount(), 1u);
  emu.ClearRecord();
  double seconds[2] = {0, 0};
  bool found[2] = {true, true};
  std::thread first([&] {
    auto start = std::chrono::steady_clock::now();
    char name[] = "MemoPad";
    found[0] = HasDatabase(name);
    seconds[0] = SecondsSince(start);
  });
  ASSERT_TRUE(emu.WaitForRequests(1, 2000));
  auto start = std::chrono::steady_clock::now();
  char behind[] = "QuorvaneRT";
  found[1] = HasDatabase(behind);
  seconds[1] = SecondsSince(start);
  first.join();
  for (int i = 0; i < 2; ++i) {
    EXPECT_FALSE(found[i]) << i;
    EXPECT_GT(seconds[i], 4.0) << i;
    EXPECT_LT(seconds[i], 5.5) << i;
  }
  EXPECT_GE(emu.ConnectionCount(), 10);  // one per resend, 50 ms apart
}

// --- strings ---

// The emulator's request buffer holds 272 bytes: a file import with a path of
// 245 characters and a lookup with a name of 251 fill it exactly.
TEST_F(ExportsTest, StringsWhoseRequestExceeds272BytesOrMissingSendNothing) {
  Start();
  std::string longestName(251, 'n'), longestPath(245, 'p');
  std::string overName = longestName + "n", overPath = longestPath + "p";
  std::string beyondSlot(254, 'n');
  emu.SetInstallResult(0);
  emu.AddDatabase(longestName, 0x00777700, 9);
  emu.AddDatabase(overName, 0x00888800, 9);

  EXPECT_FALSE(HasDatabase(&overName[0]));
  LaunchApp(&overName[0]);
  EXPECT_FALSE(InstallFile(&overPath[0]));
  EXPECT_FALSE(HasDatabase(&beyondSlot[0]));
  EXPECT_FALSE(InstallFile(&beyondSlot[0]));
  EXPECT_FALSE(HasDatabase(nullptr));
  EXPECT_FALSE(InstallFile(nullptr));
  LaunchApp(nullptr);
  EXPECT_EQ(emu.ConnectionCount(), 0);

  EXPECT_TRUE(HasDatabase(&longestName[0]));
  EXPECT_TRUE(InstallFile(&longestPath[0]));
  LaunchApp(&longestName[0]);
  auto requests = emu.Requests();
  ASSERT_EQ(requests.size(), 4u);
  for (const auto& request : requests)
    EXPECT_LE(request.bodySize, 272);
  EXPECT_EQ(requests[0].bodySize, 272);
  EXPECT_EQ(requests[0].params[1].Text(), longestName);
  EXPECT_EQ(requests[1].bodySize, 272);
  EXPECT_EQ(requests[1].params[1].Text(), longestPath);
  EXPECT_EQ(requests[3].trap, kTrapAppSwitch);
  EXPECT_EQ(requests[3].params[1].Number(), 0x00777700u);
  EXPECT_EQ(emu.InstalledPaths(), std::vector<std::string>{longestPath});
}

TEST_F(ExportsTest, StringsTravelByteForByte) {
  Start();
  char name[] = "Caf\xE9 \"db\", x";
  emu.AddDatabase(name, 0x00424200, 2);
  EXPECT_TRUE(HasDatabase(name));
  ASSERT_EQ(emu.RequestCount(), 1u);
  EXPECT_EQ(emu.Requests()[0].params[1].Text(), name);
}

// --- many threads ---

TEST_F(ExportsTest, SixteenThreadsOfTwentyFiveCallsEachUseOneConnectionPerCall) {
  Start();
  emu.SetInstallResult(0);
  constexpr int kThreads = 16, kCalls = 25;
  std::vector<int> failures(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failures] {
      char known[] = "MemoPad";
      char unknown[] = "Missing";
      char path[] = "/tmp/x.prc";
      for (int i = 0; i < kCalls; ++i) {
        bool ok = false;
        switch ((t + i) % 4) {
          case 0:
            ok = HasDatabase(known);
            break;
          case 1:
            ok = !HasDatabase(unknown);
            break;
          case 2:
            ok = QuorvaneRt_ver() == 0x0203;
            break;
          case 3:
            ok = InstallFile(path);
            break;
        }
        if (!ok) ++failures[t];
      }
    });
  }
  for (auto& thread : threads)
    thread.join();
  for (int t = 0; t < kThreads; ++t)
    EXPECT_EQ(failures[t], 0) << "thread " << t;

  EXPECT_EQ(emu.ConnectionCount(), kThreads * kCalls);
  // One call at a time: no connection's requests come between another's.
  std::set<int> left;
  int current = 0;
  for (const auto& request : emu.Requests()) {
    if (request.connection == current) continue;
    left.insert(current);
    current = request.connection;
    EXPECT_EQ(left.count(current), 0u) << "connection " << current << " came back";
  }
  std::map<int, std::vector<ReceivedRequest>> byConnection;
  for (const auto& request : emu.Requests())
    byConnection[request.connection].push_back(request);
  EXPECT_EQ(byConnection.size(), size_t(kThreads * kCalls));
  for (const auto& entry : byConnection) {
    const auto& requests = entry.second;
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests[0].transId, 1);
    if (requests.size() == 2) {
      EXPECT_EQ(requests[0].trap, kTrapFindDatabase);
      EXPECT_EQ(requests[1].trap, kTrapDatabaseInfo);
      EXPECT_EQ(requests[1].transId, 2);
    } else {
      EXPECT_EQ(requests.size(), 1u);
    }
  }
  ExpectAllClosed();
}

// --- against a substitute that handles connections as the real emulator does ---

/// The substitute on both ports, accepting one connection per tick with a
/// backlog of 1 and closing port 2000 while a client is connected there.
class LikeEmulatorTest : public ExportsTest {
 protected:
  void SetUp() override {
    ExportsTest::SetUp();
    emu.SetLikeEmulator(true);
    Start({kPrimaryPort, kSecondaryPort});
  }
};

TEST_F(LikeEmulatorTest, CallsOneAfterAnotherAllSucceedOn6415WhilePort2000IsBusy) {
  char memo[] = "MemoPad";
  char path[] = "/tmp/app.prc";
  // A client that stays on port 2000 (for the emulator, an attached debugger).
  gantry::netsock::Socket debugger = gantry::netsock::OpenTcp();
  ASSERT_TRUE(gantry::netsock::ConnectLoopback(debugger, kPrimaryPort, 2000));
  ASSERT_TRUE(emu.WaitForConnections(1, 2000));
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(HasDatabase(memo)) << i;
    EXPECT_EQ(QuorvaneRt_ver(), 0x0203) << i;
    EXPECT_TRUE(InstallFile(path)) << i;
  }
  EXPECT_EQ(emu.ConnectionCount(kPrimaryPort), 1);
  EXPECT_EQ(emu.ConnectionCount(kSecondaryPort), 9);

  // Once it has left, port 2000 listens again and serves one call at a time.
  gantry::netsock::CloseSocket(debugger);
  ASSERT_TRUE(emu.WaitForPeerClosed(emu.ConnectionCount(), 2000));
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(QuorvaneRt_ver(), 0x0203) << i;
    EXPECT_TRUE(InstallFile(path)) << i;
  }
  EXPECT_GT(emu.ConnectionCount(kPrimaryPort), 1);
  ExpectAllClosed();
}

// The everyday failure: the application still runs, so the emulator can't
// replace its database, and still answers D0 = 0.
TEST_F(LikeEmulatorTest, InstallOverADatabaseHeldOpenIsFalse) {
  PdbFile app;
  app.name = "DemoApp";
  std::string first = FileOf(app, "first.prc");
  app.created = app.modified = app.created + 60;
  std::string rebuilt = FileOf(app, "rebuilt.prc");
  EXPECT_TRUE(InstallFile(&first[0]));
  emu.Device().HoldOpen("DemoApp");
  EXPECT_FALSE(InstallFile(&rebuilt[0]));
  EXPECT_EQ(emu.InstalledPaths(), (std::vector<std::string>{first, rebuilt}));
}

}  // namespace
