// Runs the built larkinfo on the sample database and on faulty command lines:
// what it prints and its exit status, on every platform.

#include <gtest/gtest.h>


#include "testing/child_runs.h"
#include "testing/pdb_builder.h"

using namespace larkconv;
using namespace larkconv_testing;

namespace {

class LarkinfoProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFileBytes(dir / "sample.pdb",
                   ReadFileBytes(fs::path(PROJECT_ROOT) / "examples/sample.pdb"));
  }
  Outcome Larkinfo(const std::vector<std::string>& args) { return RunLarkinfo(dir.Path(), args); }
  ScratchDir dir;
};

TEST_F(LarkinfoProgramTest, ShowsAndChecksTheSampleDatabase) {
  Outcome header = Larkinfo({"sample.pdb"});
  EXPECT_EQ(header.out.rfind("name            Inventory\n", 0), 0u) << header.out;
  EXPECT_NE(header.out.find("\ncreated         2024-03-01 00:00:00\n"), std::string::npos);
  EXPECT_EQ(header.status, 0);

  Outcome list = Larkinfo({"-l", "-r3", "sample.pdb"});
  EXPECT_EQ(list.out,
            "index      offset      length  attr  cat  unique-id  flags\n"
            "    3         207          30  0x00    0          0  -\n");

  Outcome right = Larkinfo({"-f", "s8.i2.ibfcsz", "sample.pdb"});
  EXPECT_EQ(right.status, 0);
  EXPECT_NE(right.out.find("checked 4 records: 4 exact, 0 changes, 0 over, 0 short\n"),
            std::string::npos);
  Outcome wrong = Larkinfo({"sample.pdb", "-f", "s8.i2.ibfc"});
  EXPECT_EQ(wrong.status, 2);
  EXPECT_NE(wrong.out.find("    2  over    leaves 1 byte over after 6 fields\n"),
            std::string::npos);
  Outcome fault = Larkinfo({"-f", "s8.i2.ibfcsq", "sample.pdb"});
  EXPECT_EQ(fault.status, 1);
  EXPECT_EQ(fault.out, "index  result  detail\nZelError: invalid format string\n");
}

TEST_F(LarkinfoProgramTest, HelpAndFaultyCommandLines) {
  Outcome help = Larkinfo({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: larkinfo", 0), 0u);
  Outcome version = Larkinfo({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "larkinfo " LARKGANTRY_VERSION "\n");

  fs::create_directory(dir / "folder");
  const struct {
    std::vector<std::string> args;
    std::string out;
  } faults[] = {
      {{}, "larkinfo: no pdb file given\nusage: larkinfo"},
      {{"-z", "sample.pdb"}, "larkinfo: unknown option -z\nusage: larkinfo"},
      {{"missing.pdb"}, "larkinfo: unable to read missing.pdb\n"},
      {{"folder"}, "larkinfo: unable to read folder\n"},
  };
  for (const auto& fault : faults) {
    Outcome r = Larkinfo(fault.args);
    EXPECT_EQ(r.status, 1) << fault.out;
    EXPECT_EQ(r.out.substr(0, fault.out.size()), fault.out);
  }
}

}  // namespace
