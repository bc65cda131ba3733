// Runs the built larkinfo on the sample database and on faulty command lines:
// what it prints and its exit status, on every platform.

#include <gtest/gtest.h>

#include <sstream>

#include "testing/child_runs.h"
#include "testing/format_generator.h"
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
  Outcome Larkconv(const std::vector<std::string>& args) { return RunLarkconv(dir.Path(), args); }
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
  // The field map: each field's place, kind, bytes and CSV text.
  Outcome map = Larkinfo({"-x", "-f", "s8.i2.ibfcsz", "-r2", "sample.pdb"});
  EXPECT_EQ(map.status, 0);
  EXPECT_EQ(
      map.out,
      "record 2  offset 186  length 21\n"
      "  00000000  43 5a 2d 33 31 00 00 00  00 00 00 00 c8 00 00 3d  |CZ-31..........=|\n"
      "  00000010  cc cc cd 42 00                                    |...B.|\n"
      "  field    offset    length  kind                    bytes                               "
      "                csv\n"
      "      1         0         8  8-byte string           43 5a 2d 33 31 00 00 00             "
      "                \"CZ-31\"\n"
      "      2         8         2  2-byte integer          00 00                               "
      "                \"0\"\n"
      "      3        10         4  4-byte integer          00 00 c8 00                         "
      "                \"51200\"\n"
      "      4        14         1  1-byte integer          00                                  "
      "                \"0\"\n"
      "      5        15         4  float                   3d cc cc cd                         "
      "                \"0.1000000015\"\n"
      "      6        19         1  character               42                                  "
      "                \"B\"\n"
      "      7        20         1  zero-terminated string  00                                  "
      "                \"\"\n"
      "  exact   uses its 21 bytes exactly in 7 fields\n"
      "checked 1 record: 1 exact, 0 changes, 0 over, 0 short\n");
  Outcome fault = Larkinfo({"-f", "s8.i2.ibfcsq", "sample.pdb"});
  EXPECT_EQ(fault.status, 1);
  EXPECT_EQ(fault.out, "index  result  detail\nZelError: invalid format string\n");
}

// The verdict of each record in what larkinfo -f printed, by index.
std::vector<std::string> Verdicts(const std::string& out) {
  std::vector<std::string> verdicts;
  std::istringstream lines(out);
  std::string line;
  std::getline(lines, line);  // the heading
  while (std::getline(lines, line) && line.rfind("checked ", 0) != 0)
    verdicts.push_back(line.substr(7, line.find(' ', 7) - 7));
  return verdicts;
}

// larkinfo -f says exact exactly when larkconv -pdb and then -csv bring the
// record back byte for byte: random formats over records made for them,
// half of them damaged, through the programs themselves.
TEST_F(LarkinfoProgramTest, ExactIsWhatTheProgramsBringBack) {
  FormatGenerator generator(2026);
  int exact = 0;
  int other = 0;
  for (int f = 0; f < 24; ++f) {
    const GenFormat format = generator.Format();
    SCOPED_TRACE(format.text);
    std::vector<Bytes> records;
    for (int i = 0; i < 8; ++i) {
      records.push_back(generator.Record(format));
      if (i % 2 == 1) generator.Damage(&records.back());
    }
    WriteFileBytes(dir / "db.pdb", BuildPdb(RecordsPdb(records)));
    const Outcome check = Larkinfo({"-f", format.text, "db.pdb"});
    const std::vector<std::string> verdicts = Verdicts(check.out);
    ASSERT_EQ(verdicts.size(), records.size()) << check.out;
    ASSERT_EQ(Larkconv({"-pdb", format.text, "db.pdb", "rows.csv"}).status, 0);
    ASSERT_EQ(Larkconv({"-csv", "-c", "Test", format.text, "rows.csv", "back.pdb"}).status, 0);
    const std::vector<Bytes> back = RecordsOf(dir / "back.pdb");
    ASSERT_EQ(back.size(), records.size());
    bool allExact = true;
    for (size_t i = 0; i < records.size(); ++i) {
      EXPECT_EQ(verdicts[i] == "exact", back[i] == records[i])
          << "record " << i << ": " << check.out;
      allExact = allExact && verdicts[i] == "exact";
      (verdicts[i] == "exact" ? exact : other) += 1;
    }
    EXPECT_EQ(check.status, allExact ? 0 : 2);
  }
  EXPECT_GT(exact, 100);
  EXPECT_GT(other, 30);
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
