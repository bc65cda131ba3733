// Tests of gantry-host: the built program, loading the built library by name,
// against the emulator substitute on the emulator's primary port.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "testing/emulator_substitute.h"
#include "testing/process.h"
#include "testing/scratch.h"

namespace {

using namespace gantry_testing;
using namespace file_testing;

/// What one run of gantry-host left behind. Filled by RunHost, read by tests.
struct HostRun {
  int status;
  std::string out;
  std::string err;
};

// Runs gantry-host with the blank-separated arguments.
HostRun RunHost(const std::string& arguments) {
  std::vector<std::string> args;
  std::istringstream words(arguments);
  for (std::string word; words >> word;)
    args.push_back(word);
  process_testing::Options options;
  options.collectErr = true;
  const process_testing::Outcome o = process_testing::Run(GANTRY_HOST_EXE, "", args, options);
  return HostRun{o.status, o.out, o.err};
}

void ExpectCalled(const HostRun& run, const std::string& printed) {
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, printed + "\n");
  EXPECT_EQ(run.err, "");
}

TEST(GantryHost, ReportsNoEmulator) {
  ExpectCalled(RunHost("running"), "false");
  ExpectCalled(RunHost("version"), "0");
  ExpectCalled(RunHost("has QuorvaneRT"), "false");
  ScratchDir scratch;
  ExpectCalled(RunHost("export QuorvaneRT " + (scratch / "rt.pdb").string()), "false");
  ExpectCalled(RunHost("screen " + (scratch / "shot.bmp").string()), "false");
}

TEST(GantryHost, CallsEveryFunctionByItsDecoratedName) {
  EmulatorSubstitute emu;
  emu.AddDatabase("QuorvaneRT", 0x00010000, 0x0203);
  emu.AddDatabase("MemoPad", 0x00020000, 1);
  ASSERT_TRUE(emu.Start({kPrimaryPort}));

  ExpectCalled(RunHost("running"), "true");
  ExpectCalled(RunHost("has MemoPad"), "true");
  ExpectCalled(RunHost("has Missing"), "false");
  ExpectCalled(RunHost("version"), "515");
  emu.SetInstallResult(0);  // a path only the emulator would open
  ExpectCalled(RunHost("install /tmp/app.prc"), "true");
  EXPECT_EQ(emu.InstalledPaths(), std::vector<std::string>{"/tmp/app.prc"});
  ScratchDir scratch;
  ExpectCalled(RunHost("export MemoPad " + (scratch / "memo.pdb").string()), "true");
  ExpectCalled(RunHost("export Missing " + (scratch / "missing.pdb").string()), "false");
  ExpectCalled(RunHost("screen " + (scratch / "shot.bmp").string()), "true");
  EXPECT_EQ(scratch.Names(), (std::vector<std::string>{"memo.pdb", "shot.bmp"}));
  emu.ClearRecord();
  ExpectCalled(RunHost("launch MemoPad"), "done");
  ExpectCalled(RunHost("reset"), "done");
  ExpectCalled(RunHost("launcher"), "done");

  auto requests = emu.Requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[1].trap, kTrapAppSwitch);
  ASSERT_EQ(requests[1].params.size(), 4u);
  EXPECT_EQ(requests[1].params[1].Number(), 0x00020000u);
  EXPECT_EQ(requests[2].trap, kTrapReset);
  EXPECT_EQ(requests[3].trap, kTrapEnqueueKey);

  emu.SetInstallResult(3);
  ExpectCalled(RunHost("install /tmp/app.prc"), "false");
  emu.SetByRefValue(kTrapDatabaseInfo, 5, 0x9000);
  ExpectCalled(RunHost("version"), "-28672");
}

TEST(GantryHost, RefusesBadCommandLines) {
  struct Case {
    const char* arguments;
    const char* message;
  } cases[] = {
      {"", "no command given"},
      {"jump", "unknown command jump"},
      {"has", "this command takes one argument: has"},
      {"reset now", "this command takes no argument: reset"},
      {"export MemoPad", "this command takes two arguments: export"},
      {"--verbose running", "unknown option --verbose"},
      {"--library", "--library needs a PATH"},
  };
  for (const Case& c : cases) {
    HostRun run = RunHost(c.arguments);
    EXPECT_NE(run.status, 0) << c.arguments;
    EXPECT_EQ(run.out, "") << c.arguments;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << c.arguments << ": " << run.err;
    EXPECT_NE(run.err.find("usage: gantry-host"), std::string::npos) << c.arguments;
  }
  HostRun help = RunHost("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: gantry-host", 0), 0u);
  HostRun version = RunHost("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "gantry-host " LARKGANTRY_VERSION "\n");
}

TEST(GantryHost, ReportsAMissingLibraryOrExport) {
  HostRun missing = RunHost("--library no-such-gantry-library running");
  EXPECT_NE(missing.status, 0);
  EXPECT_EQ(missing.out, "");
  EXPECT_NE(missing.err.find("cannot load no-such-gantry-library"), std::string::npos)
      << missing.err;

  HostRun other = RunHost(std::string("--library ") + GANTRY_EMPTY_LIBRARY + " running");
  EXPECT_NE(other.status, 0);
  EXPECT_EQ(other.out, "");
  EXPECT_NE(other.err.find("does not export"), std::string::npos) << other.err;

  ExpectCalled(RunHost(std::string("--library ") + GANTRY_LIBRARY + " running"), "false");
}

}  // namespace
