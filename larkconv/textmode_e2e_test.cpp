// Runs the built larkconv program to show that a CSV file is a text file of
// the platform: its lines end the way a text-mode stream writes them ("\r\n"
// on Windows, "\n" elsewhere) and such a file converts back to the same records.

#include <gtest/gtest.h>

#include "pdb.h"
#include "testing/child_runs.h"
#include "testing/pdb_builder.h"

using namespace larkconv;
using namespace larkconv_testing;

namespace {

Bytes Record(std::initializer_list<uint8_t> number, const std::string& text) {
  Bytes out(number);
  out.insert(out.end(), text.begin(), text.end());
  out.push_back(0);
  return out;
}

void WriteDatabase(const fs::path& path, const std::vector<Bytes>& records) {
  TestPdb pdb;
  for (const Bytes& r : records)
    pdb.records.push_back({r});
  WriteFileBytes(path, BuildPdb(pdb));
}

Outcome Larkconv(const ScratchDir& dir, const std::vector<std::string>& args) {
  return RunLarkconv(dir.Path(), args);
}

TEST(TextMode, CsvLinesEndAsThePlatformWritesTextAndConvertBack) {
  ScratchDir dir;
  const std::vector<Bytes> records = {Record({0, 1}, "one"), Record({0xFF, 0xFE}, "two, three"),
                                      Record({0x12, 0x34}, "say \"four\"")};
  WriteDatabase(dir / "in.pdb", records);

  Outcome run = Larkconv(dir, {"-pdb", "i2sz", "in.pdb", "out.csv"});
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.status, 0);
  const std::string end = process_testing::kTextLineEnd;
  const std::string lines =
      "\"1\",\"one\"" + end + "\"-2\",\"two, three\"" + end + "\"4660\",\"say \"\"four\"\"\"" + end;
  EXPECT_EQ(ReadFileText(dir / "out.csv"), lines);

  run = Larkconv(dir, {"-csv", "-c", "Test", "i2sz", "out.csv", "back.pdb"});
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(RecordsOf(dir / "back.pdb"), records);

  // Appending writes its lines the same way.
  run = Larkconv(dir, {"-pdb", "-a", "-r2", "i2sz", "in.pdb", "out.csv"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(ReadFileText(dir / "out.csv"), lines + "\"4660\",\"say \"\"four\"\"\"" + end);
}

// A text holding line feeds is written with the platform's line end inside
// its quotes, and comes back with its line feeds.
TEST(TextMode, LineFeedsInTextSpanLinesAndConvertBack) {
  ScratchDir dir;
  const std::vector<Bytes> records = {Record({0, 1}, "title\nbody\n"), Record({0, 2}, "\n")};
  WriteDatabase(dir / "in.pdb", records);
  Outcome run = Larkconv(dir, {"-pdb", "i2sz", "in.pdb", "out.csv"});
  EXPECT_EQ(run.status, 0);
  const std::string end = process_testing::kTextLineEnd;
  EXPECT_EQ(ReadFileText(dir / "out.csv"),
            "\"1\",\"title" + end + "body" + end + "\"" + end + "\"2\",\"" + end + "\"" + end);
  run = Larkconv(dir, {"-csv", "-c", "Test", "i2sz", "out.csv", "back.pdb"});
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(RecordsOf(dir / "back.pdb"), records);
}

// The platform's null device is written in place: it stays a device.
TEST(TextMode, NullDeviceIsWrittenInPlace) {
  if (!process_testing::kNullDevice) GTEST_SKIP() << "tests make their own device node here";
  ScratchDir dir;
  WriteDatabase(dir / "in.pdb", {Record({0, 1}, "one")});
  WriteFileText(dir / "in.csv", "\"1\",\"one\"\n");
  for (const char* append : {"-r0-", "-a"}) {
    EXPECT_EQ(
        Larkconv(dir, {"-pdb", append, "i2sz", "in.pdb", process_testing::kNullDevice}).status, 0);
    EXPECT_EQ(
        Larkconv(dir, {"-csv", "-c", "Test", "i2sz", "in.csv", process_testing::kNullDevice}).out,
        "");
  }
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"in.csv", "in.pdb"}));
}

// Text moves byte for byte: a Ctrl-Z, which Windows' text mode takes for the
// end of a file, or a lone CR inside a field is data like any other byte.
TEST(TextMode, ControlBytesInTextConvertBack) {
  ScratchDir dir;
  const std::vector<Bytes> records = {Record({0, 1},
                                             "a\x1A"
                                             "b"),
                                      Record({0, 2}, "c\rd\r"), Record({0, 3}, "\x1A"),
                                      Record({0, 4}, "after")};
  WriteDatabase(dir / "in.pdb", records);

  Outcome run = Larkconv(dir, {"-pdb", "i2sz", "in.pdb", "out.csv"});
  EXPECT_EQ(run.status, 0);
  run = Larkconv(dir, {"-csv", "-c", "Test", "i2sz", "out.csv", "back.pdb"});
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(RecordsOf(dir / "back.pdb"), records);
}

}  // namespace
