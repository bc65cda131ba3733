// Runs the built larkconv program and checks what it prints, its exit status
// and the files it leaves.

#include <gtest/gtest.h>

#include <algorithm>

#include "testing/child_runs.h"
#include "testing/pdb_builder.h"

using namespace larkconv;
using namespace larkconv_testing;

namespace {

const std::string kUsage =
    "larkconv - PDB <-> CSV converter for Quorvane Designer and Tindle\n"
    "\n"
    "usage: larkconv -[csv|pdb] [-n dbname] [-t type] [-c creator_id] [-a] [-rA[-[B]]] format "
    "srcfile destfile\n"
    "    -csv    source file is CSV (output to PDB)\n"
    "    -pdb    source file is PDB (output to CSV)\n"
    "    -n      set the output pdb name (invalid if -pdb or -a is specified)\n"
    "    -t      set the output pdb type (invalid if -pdb or -a is specified)\n"
    "    -c      set the output pdb creator (invalid if -pdb or -a is specified)\n"
    "    -a      append to output file\n"
    "    -r      specify records/rows to convert (use one of the 3 forms below)\n"
    "            -rA    convert only row A\n"
    "            -rA-   convert from row A to the end\n"
    "            -rA-B  convert from row A to row B inclusive\n"
    "            (row numbers begin with 0)\n"
    "\n"
    "    format: a format string as used for dwreadx() or DBRecord.read()\n"
    "            see larkconv.txt for full specification\n";

using Names = std::vector<std::string>;

using RunResult = Outcome;

size_t LineCount(const fs::path& path) {
  std::string text = ReadFileText(path);
  return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

// A record database of n one-byte records.
Bytes SmallPdb(int n) {
  TestPdb p;
  for (int i = 0; i < n; ++i)
    p.records.push_back({{static_cast<uint8_t>(i + 1)}});
  return BuildPdb(p);
}

class LarkconvTest : public ::testing::Test {
 protected:
  RunResult Larkconv(const std::vector<std::string>& args,
                     int64_t fileSizeLimit = process_testing::kNoLimit) {
    RunOptions options;
    options.fileSize = fileSizeLimit;
    return RunLarkconv(dir.Path(), args, options);
  }

  // The usage text after message, exit -1 and no file touched.
  void ExpectRefused(const std::vector<std::string>& args, const std::string& message) {
    Names before = dir.Names();
    RunResult r = Larkconv(args);
    std::string command;
    for (const std::string& a : args)
      command += " " + a;
    EXPECT_EQ(r.out, message + kUsage) << command;
    EXPECT_EQ(r.status, kFailedStatus);
    EXPECT_EQ(dir.Names(), before);
  }

  void ExpectZelError(const std::vector<std::string>& args, const std::string& message) {
    RunResult r = Larkconv(args);
    EXPECT_EQ(r.out, "ZelError: " + message + "\n");
    EXPECT_EQ(r.status, kFailedStatus);
  }

  ScratchDir dir;
};

TEST_F(LarkconvTest, TooFewArgumentsOrAnUnknownDirectionPrintTheUsageAlone) {
  ExpectRefused({}, "");
  ExpectRefused({"-pdb", "i", "src.pdb"}, "");
  ExpectRefused({"-x", "i", "src.pdb", "out.csv"}, "");
  ExpectRefused({"-pdbx", "i", "src.pdb", "out.csv"}, "");
  ExpectRefused({"-csv", "-n", "name", "-t", "type", "fmt"}, "");  // one argument after options
  ExpectRefused({"-csv", "-c", "ABCD", "-a", "-r1", "i", "src"}, "");
}

TEST_F(LarkconvTest, DirectionIgnoresLetterCase) {
  ExpectZelError({"-Pdb", "i", "missing.pdb", "out.csv"}, "unable to read source pdb");
  ExpectZelError({"-CSV", "i", "missing.csv", "out.pdb"}, "unable to read source csv");
}

TEST_F(LarkconvTest, OptionFaultsPrintTheirMessageThenTheUsage) {
  const std::string name33(33, 'n');
  ExpectRefused({"-csv", "-n", name33, "-c", "ABCD", "i", "s", "d"},
                "database name must be <= 32 characters\n");
  ExpectRefused({"-pdb", "-N", name33, "i", "s", "d"}, "database name must be <= 32 characters\n");
  ExpectRefused({"-csv", "-t", "abc", "i", "s", "d"}, "database type must be 4 characters\n");
  ExpectRefused({"-csv", "-T", "abcde", "i", "s", "d"}, "database type must be 4 characters\n");
  ExpectRefused({"-csv", "-c", "abcde", "i", "s", "d"},
                "database creator id must be 4 characters\n");
  ExpectRefused({"-csv", "-c", "", "i", "s", "d"}, "database creator id must be 4 characters\n");
  ExpectRefused({"-csv", "-n", "x", "-c"}, "-c requires a creator id\n");
  ExpectRefused({"-csv", "-n", "x", "-t"}, "-t requires a type\n");
  ExpectRefused({"-pdb", "-r", "i", "s", "d"}, "-r requires arguments\n");
  ExpectRefused({"-pdb", "-r5-4", "i", "s", "d"}, "last row must be greater than first row\n");
  ExpectRefused({"-pdb", "-R2-1", "i", "s", "d"}, "last row must be greater than first row\n");
  // Row numbers beyond 32 bits saturate: the first row becomes 2147483647.
  ExpectRefused({"-pdb", "-r99999999999-5", "i", "s", "d"},
                "last row must be greater than first row\n");
  ExpectRefused({"-pdb", "-r4294967297-2", "i", "s", "d"},
                "last row must be greater than first row\n");
}

// -e takes cp1252 or cp932, the letter and the name in any case, once,
// before or after any of the other options; any other name is refused before
// a file is touched.
TEST_F(LarkconvTest, CharacterSetOption) {
  TestPdb p;
  p.records.push_back({{'C', 'a', 'f', 0xE9, 0}});
  WriteFileBytes(dir / "in.pdb", BuildPdb(p));
  const Names places[] = {{"-e", "cp1252"},
                          {"-E", "CP1252", "-r0"},
                          {"-n", "name", "-e", "Cp1252", "-t", "type"},
                          {"-c", "ABCD", "-e", "cp1252"},
                          {"-r0-", "-e", "cp1252"}};
  for (const Names& options : places) {
    Names args = {"-pdb"};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), {"sz", "in.pdb", "out.csv"});
    EXPECT_EQ(Larkconv(args).status, 0) << options[0];
    EXPECT_EQ(ReadTextFile(dir / "out.csv"), "\xEF\xBB\xBF\"Caf\xC3\xA9\"\n") << options[0];
  }
  ExpectRefused({"-pdb", "-e", "latin1", "sz", "in.pdb", "new.csv"},
                "unknown character set \"latin1\" (use cp1252 or cp932)\n");
  ExpectRefused({"-csv", "-c", "ABCD", "-a", "-E", "utf-8", "sz", "in.csv", "in.pdb"},
                "unknown character set \"utf-8\" (use cp1252 or cp932)\n");
  ExpectRefused({"-pdb", "-a", "-r0", "-e"}, "-e requires a character set\n");
}

// An option out of order is taken as the format, the next ones as the files.
TEST_F(LarkconvTest, OptionOutOfOrderBecomesTheFormat) {
  WriteFileText(dir / "abcd", "");
  RunResult r = Larkconv({"-csv", "-c", "ABCD", "-t", "abcd", "out.pdb"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.status, 0);
  Bytes pdb = ReadFileBytes(dir / "out.pdb");  // the destination is out.pdb
  ASSERT_EQ(pdb.size(), 78u);
  EXPECT_EQ(std::string(pdb.begin() + 60, pdb.begin() + 68), "dataABCD");

  ExpectZelError({"-csv", "-t", "abcd", "-n", "name", "fmt", "src"}, "unable to read source csv");
  WriteFileText(dir / "name", "");  // the source is "name", the destination "fmt"
  ExpectZelError({"-csv", "-t", "abcd", "-n", "name", "fmt"},
                 "creator id must be specified when creating a new database");
}

TEST_F(LarkconvTest, RangesSelectRecordsOfTheSourcePdb) {
  WriteFileBytes(dir / "src.pdb", SmallPdb(3));
  const std::pair<std::vector<std::string>, size_t> cases[] = {
      {{}, 3},
      {{"-r1"}, 1},
      {{"-r1-"}, 2},
      {{"-r2-2"}, 1},
      {{"-r0-1"}, 2},
      {{"-r2-9"}, 1},
      {{"-r3-"}, 0},
      {{"-r0-4294967297"}, 3},  // saturates at
                                // 2147483647 instead
                                // of wrapping to 1
      {{"-rx"}, 1},
      {{"-r-"}, 3},
      {{"-r-1"}, 2},
      {{"-r2x"}, 1},
      {{"-r1-x"}, 2},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"-pdb"};
    args.insert(args.end(), c.first.begin(), c.first.end());
    args.insert(args.end(), {"b", "src.pdb", "out.csv", "ignored", "extra"});
    RunResult r = Larkconv(args);
    std::string range = c.first.empty() ? "(all)" : c.first[0];
    EXPECT_EQ(r.out, "") << range;
    EXPECT_EQ(r.status, 0) << range;
    EXPECT_EQ(LineCount(dir / "out.csv"), c.second) << range;
  }
  EXPECT_EQ(dir.Names(), (Names{"out.csv", "src.pdb"}));
}

TEST_F(LarkconvTest, FirstRecordBeyondTheSourceFailsLeavingTheCsvAsItWas) {
  WriteFileBytes(dir / "src.pdb", SmallPdb(3));
  for (const char* range : {"-r4", "-r3", "-r3-3", "-r3-9"}) {
    ExpectZelError({"-pdb", range, "b", "src.pdb", "new.csv"},
                   "source pdb does not have first requested record (only 3 records)\n");
    EXPECT_FALSE(fs::exists(dir / "new.csv")) << range;
  }
  WriteFileText(dir / "out.csv", "old\n");
  ExpectZelError({"-pdb", "-r4294967296", "b", "src.pdb", "out.csv"},
                 "source pdb does not have first requested record (only 3 records)\n");
  EXPECT_EQ(ReadFileText(dir / "out.csv"), "old\n");
  ExpectZelError({"-pdb", "-a", "-r4", "b", "src.pdb", "out.csv"},
                 "source pdb does not have first requested record (only 3 records)\n");
  EXPECT_EQ(ReadFileText(dir / "out.csv"), "old\n");
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"out.csv", "src.pdb"}));  // no temporary file
}

TEST_F(LarkconvTest, AppendToCsvKeepsItsLines) {
  WriteFileBytes(dir / "src.pdb", SmallPdb(2));
  WriteFileText(dir / "out.csv", "old\n");
  RunResult r = Larkconv({"-pdb", "-a", "b", "src.pdb", "out.csv"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(ReadFileText(dir / "out.csv").substr(0, 4), "old\n");
  EXPECT_EQ(LineCount(dir / "out.csv"), 3u);
}

TEST_F(LarkconvTest, FormatIsNotCheckedWhenNothingIsConverted) {
  WriteFileBytes(dir / "src.pdb", SmallPdb(3));
  for (const char* format : {"X", "", "i(b"}) {
    RunResult r = Larkconv({"-pdb", "-r3-", format, "src.pdb", "out.csv"});
    EXPECT_EQ(r.out, "") << format;
    EXPECT_EQ(r.status, 0) << format;
  }
  WriteFileText(dir / "two.csv", "1\n2\n");
  RunResult r = Larkconv({"-csv", "-c", "ABCD", "-r2-", "X", "two.csv", "out.pdb"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.status, 0);
}

TEST_F(LarkconvTest, UnreadableOrRefusedSourcePdb) {
  ExpectZelError({"-pdb", "b", "missing.pdb", "out.csv"}, "unable to read source pdb");
  ExpectZelError({"-pdb", "b", ".", "out.csv"}, "unable to read source pdb");
  EXPECT_EQ(dir.Names(), Names{});

  WriteFileBytes(dir / "res.pdb", BuildResourcePdb(TestPdb(), {{"code", 1, {1, 2}}}));
  ExpectZelError({"-pdb", "b", "res.pdb", "out.csv"}, "source pdb cannot be a resource database");
  EXPECT_EQ(dir.Names(), Names{"res.pdb"});

  WriteFileBytes(dir / "src.pdb", SmallPdb(1));
  ExpectZelError({"-pdb", "b", "src.pdb", "no-dir/out.csv"}, "unable to open dest csv");
}

TEST_F(LarkconvTest, FaultyPdbFilesEndInAnInternalError) {
  Bytes good = SmallPdb(2);  // entries at 78 and 86, 96 bytes
  std::vector<Bytes> faulty(4, good);
  EncodeBig16(faulty[0].data() + 76, 0xFFFF);      // negative count
  EncodeBig16(faulty[1].data() + 76, 3);           // entry list past the end
  EncodeBig32(faulty[2].data() + 86, 0xFFFFFFFF);  // a 4 GB record in a 96-byte file
  EncodeBig32(faulty[3].data() + 86, 80);          // descending offsets
  for (size_t i = 0; i < faulty.size(); ++i) {
    WriteFileBytes(dir / "bad.pdb", faulty[i]);
    RunResult r = Larkconv({"-pdb", "b", "bad.pdb", "out.csv"});
    EXPECT_EQ(r.out, "Internal error\n") << i;
    EXPECT_EQ(r.status, kFailedStatus) << i;
    WriteFileBytes(dir / "in.csv", {});
    r = Larkconv({"-csv", "-a", "b", "in.csv", "bad.pdb"});
    EXPECT_EQ(r.out, "Internal error\n") << i;
    EXPECT_EQ(ReadFileBytes(dir / "bad.pdb"), faulty[i]) << i;
  }
}

/// Runs of the program under a limit on the size of the files it writes;
/// only POSIX sets one, so these tests run there alone.
class LarkconvFileLimitTest : public LarkconvTest {};

TEST_F(LarkconvFileLimitTest, FailedCsvWriteIsReported) {
  WriteFileBytes(dir / "src.pdb", SmallPdb(3));
  RunResult r = Larkconv({"-pdb", "b", "src.pdb", "out.csv"}, 1);
  EXPECT_EQ(r.out, "ZelError: unable to write dest csv\n");
  EXPECT_EQ(r.status, kFailedStatus);
}

TEST_F(LarkconvTest, NewPdbTakesNameTypeAndCreatorFromTheOptions) {
  WriteFileText(dir / "empty.csv", "");
  RunResult r = Larkconv({"-csv", "-n", std::string(32, 'N'), "-t", "TYPE", "-c", "CRTR", "b",
                          "empty.csv", "out.pdb"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.status, 0);
  Bytes pdb = ReadFileBytes(dir / "out.pdb");
  ASSERT_EQ(pdb.size(), 78u);
  EXPECT_EQ(std::string(pdb.begin(), pdb.begin() + 32), std::string(31, 'N') + '\0');
  EXPECT_EQ(std::string(pdb.begin() + 60, pdb.begin() + 68), "TYPECRTR");
  EXPECT_EQ(Big16In(pdb, 32), 0);
  EXPECT_EQ(Big16In(pdb, 76), 0);

  // Without -n the name is the destination argument as typed, cut to 31.
  fs::create_directories(dir / "some/folder");
  std::string dest = "some/folder/destination-file.pdb";
  r = Larkconv({"-csv", "-c", "CRTR", "b", "empty.csv", dest});
  EXPECT_EQ(r.status, 0);
  pdb = ReadFileBytes(dir / dest);
  ASSERT_EQ(pdb.size(), 78u);
  EXPECT_EQ(std::string(pdb.begin(), pdb.begin() + 32), dest.substr(0, 31) + '\0');
  EXPECT_EQ(std::string(pdb.begin() + 60, pdb.begin() + 68), "dataCRTR");
  // Permissions as for any file this process creates.
  WriteFileText(dir / "probe", "");
  EXPECT_EQ(fs::status(dir / dest).permissions(), fs::status(dir / "probe").permissions());
}

TEST_F(LarkconvTest, RangeThatSelectsNoRowStillWritesAnEmptyPdb) {
  WriteFileText(dir / "two.csv", "1\n2\n");
  RunResult r = Larkconv(
      {"-csv", "-n", "Empty", "-t", "TTTT", "-c", "CCCC", "-r2-", "b", "two.csv", "out.pdb"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.status, 0);
  Bytes pdb = ReadFileBytes(dir / "out.pdb");
  ASSERT_EQ(pdb.size(), 78u);
  EXPECT_EQ(std::string(pdb.begin(), pdb.begin() + 6), std::string("Empty\0", 6));
  EXPECT_EQ(std::string(pdb.begin() + 60, pdb.begin() + 68), "TTTTCCCC");

  WriteFileText(dir / "one.csv", "1\n");
  ExpectZelError({"-csv", "-c", "CCCC", "-r2-", "b", "one.csv", "new.pdb"},
                 "source csv does not have 2 rows, cannot start\n");
  EXPECT_FALSE(fs::exists(dir / "new.pdb"));
}

// A line of any length is one row: one 5000-character line is not three rows.
TEST_F(LarkconvTest, LongCsvLineCountsAsOneRow) {
  WriteFileText(dir / "long.csv", std::string(5000, '7') + "\n");
  ExpectZelError({"-csv", "-c", "CCCC", "-r2-", "b", "long.csv", "out.pdb"},
                 "source csv does not have 2 rows, cannot start\n");
  ExpectZelError({"-csv", "-c", "CCCC", "-r1", "b", "long.csv", "out.pdb"},
                 "source csv does not have 2 rows, cannot start\n");
  RunResult r = Larkconv({"-csv", "-c", "CCCC", "-r1-", "b", "long.csv", "out.pdb"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(ReadFileBytes(dir / "out.pdb").size(), 78u);
}

TEST_F(LarkconvTest, NewPdbNeedsACreatorAndAReadableSource) {
  WriteFileText(dir / "in.csv", "1\n");
  ExpectZelError({"-csv", "b", "in.csv", "out.pdb"},
                 "creator id must be specified when creating a new database");
  ExpectZelError({"-csv", "-c", "CCCC", "b", "missing.csv", "out.pdb"},
                 "unable to read source csv");
  fs::create_directory(dir / "folder");
  ExpectZelError({"-csv", "-c", "CCCC", "b", "folder", "out.pdb"}, "unable to read source csv");
  EXPECT_EQ(dir.Names(), (Names{"folder", "in.csv"}));
}

TEST_F(LarkconvTest, AppendNeedsAnExistingRecordDatabase) {
  WriteFileText(dir / "in.csv", "1\n");
  ExpectZelError({"-csv", "-a", "b", "in.csv", "out.pdb"}, "unable to read dest pdb");
  EXPECT_FALSE(fs::exists(dir / "out.pdb"));
  Bytes res = BuildResourcePdb(TestPdb(), {{"code", 1, {1, 2}}});
  WriteFileBytes(dir / "res.pdb", res);
  ExpectZelError({"-csv", "-a", "b", "in.csv", "res.pdb"},
                 "dest pdb cannot be a resource database");
  EXPECT_EQ(ReadFileBytes(dir / "res.pdb"), res);
}

// Appending rewrites the destination from its image: header, record entries
// and AppInfo block as read, permission bits kept, options ignored.
TEST_F(LarkconvTest, AppendKeepsWhatTheDestinationHeld) {
  TestPdb p;
  p.name = "Kept";
  p.attributes = 0x0008;
  p.version = 2;
  p.modificationNumber = 9;
  p.appInfoID = 94;  // directly after the two entries
  p.gap = {'a', 'p', 'p'};
  p.records = {{{1, 2}, 0x45, 0x0A0B0C}, {{3}, 0x10, 0x000001}};
  Bytes original = BuildPdb(p);
  WriteFileBytes(dir / "dest.pdb", original);
  fs::permissions(dir / "dest.pdb", static_cast<fs::perms>(0604));
  const fs::perms permissions = fs::status(dir / "dest.pdb").permissions();
  WriteFileText(dir / "in.csv", "");

  RunResult r = Larkconv(
      {"-csv", "-n", "Other", "-t", "TTTT", "-c", "CCCC", "-a", "b", "in.csv", "dest.pdb"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.status, 0);
  Bytes out = ReadFileBytes(dir / "dest.pdb");
  ASSERT_EQ(out.size(), original.size());
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 36), Bytes(original.begin(), original.begin() + 36));
  EXPECT_EQ(Bytes(out.begin() + 44, out.end()), Bytes(original.begin() + 44, original.end()));
  EXPECT_EQ(fs::status(dir / "dest.pdb").permissions(), permissions);
  EXPECT_EQ(dir.Names(), (Names{"dest.pdb", "in.csv"}));
}

TEST_F(LarkconvTest, RowsBecomeRecordsAppendedAfterTheExistingOnes) {
  WriteFileBytes(dir / "dest.pdb", SmallPdb(2));
  WriteFileText(dir / "in.csv", "7\n8\n9\n");
  RunResult r = Larkconv({"-csv", "-a", "-r1-", "b", "in.csv", "dest.pdb"});
  EXPECT_EQ(r.status, 0);
  Bytes out = ReadFileBytes(dir / "dest.pdb");
  EXPECT_EQ(Big16In(out, 76), 4);

  r = Larkconv({"-csv", "-c", "CCCC", "-r0-1", "b", "in.csv", "new.pdb"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Big16In(ReadFileBytes(dir / "new.pdb"), 76), 2);
}

TEST_F(LarkconvTest, RecordThatWouldBeNumber32768EndsTheRun) {
  TestPdb p;
  p.records.assign(32767, TestRecord{{1}});
  Bytes full = BuildPdb(p);
  WriteFileBytes(dir / "full.pdb", full);
  WriteFileText(dir / "in.csv", "1\n");
  ExpectZelError({"-csv", "-a", "b", "in.csv", "full.pdb"},
                 "pdb cannot hold more than 32767 records");
  EXPECT_EQ(ReadFileBytes(dir / "full.pdb"), full);
  EXPECT_EQ(dir.Names(), (Names{"full.pdb", "in.csv"}));
}

// A file shorter than a PDB header is no database, as a source or as the
// destination appended to: the run fails as for a file it cannot read and
// touches nothing. A CSV typed as the -pdb source is the everyday case.
TEST_F(LarkconvTest, FilesShorterThanAHeaderAreNoDatabase) {
  const Bytes memos = BuildPdb(RecordsPdb({TextBytes("one"), TextBytes("two")}));
  WriteFileBytes(dir / "MemoDB.pdb", memos);
  WriteFileText(dir / "new.csv", "\"a memo\"\r\n");  // 11 bytes
  ExpectZelError({"-pdb", "sz", "new.csv", "MemoDB.pdb"}, "unable to read source pdb");
  EXPECT_EQ(ReadFileBytes(dir / "MemoDB.pdb"), memos);

  const Bytes header = BuildPdb(TestPdb());
  ASSERT_EQ(header.size(), 78u);
  WriteFileText(dir / "in.csv", "7\n");
  for (size_t size : {0, 1, 40, 77}) {
    SCOPED_TRACE(size);
    const Bytes cut(memos.begin(), memos.begin() + static_cast<std::ptrdiff_t>(size));
    WriteFileBytes(dir / "short.pdb", cut);
    WriteFileText(dir / "old.csv", "\"old\"\n");
    for (const char* append : {"-a", "-r0-"}) {
      ExpectZelError({"-pdb", append, "sz", "short.pdb", "old.csv"}, "unable to read source pdb");
      EXPECT_EQ(ReadFileText(dir / "old.csv"), "\"old\"\n");
    }
    ExpectZelError({"-csv", "-a", "b", "in.csv", "short.pdb"}, "unable to read dest pdb");
    EXPECT_EQ(ReadFileBytes(dir / "short.pdb"), cut);
    EXPECT_EQ(dir.Names(), (Names{"MemoDB.pdb", "in.csv", "new.csv", "old.csv", "short.pdb"}));
  }

  // A header alone, with a count of 0, is an empty database.
  WriteFileBytes(dir / "empty.pdb", header);
  RunResult r = Larkconv({"-pdb", "sz", "empty.pdb", "old.csv"});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(ReadFileText(dir / "old.csv"), "");
  r = Larkconv({"-csv", "-a", "b", "in.csv", "empty.pdb"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(RecordsOf(dir / "empty.pdb"), (std::vector<Bytes>{{7}}));
}

// -rA and -rA-B name record (row) A, which must exist; -rA- may start just
// past the end and converts nothing, so that a script can take only what
// is new. Without -a the destination then holds the empty result.
TEST_F(LarkconvTest, RangesNameRecordsAndRowsThatExist) {
  using Args = std::vector<std::string>;
  const std::string noRecord = "source pdb does not have first requested record (only 3 records)\n";
  const struct {
    const char* range;
    std::string message;  // "" when the run converts
    size_t converted;
  } pdbCases[] = {
      {"-r2", "", 1},        {"-r2-", "", 1},      {"-r2-2", "", 1},       {"-r2-9", "", 1},
      {"-r3-", "", 0},       {"-r3", noRecord, 0}, {"-r3-3", noRecord, 0}, {"-r3-9", noRecord, 0},
      {"-r4-", noRecord, 0}, {"-r4", noRecord, 0},
  };
  WriteFileBytes(dir / "src.pdb", SmallPdb(3));
  for (const auto& c : pdbCases) {
    for (bool append : {false, true}) {
      SCOPED_TRACE(std::string(c.range) + (append ? " -a" : ""));
      WriteFileText(dir / "out.csv", "\"old\"\n");
      std::vector<std::string> args = {"-pdb", c.range, "b", "src.pdb", "out.csv"};
      if (append) args.insert(args.begin() + 1, "-a");
      RunResult r = Larkconv(args);
      EXPECT_EQ(r.out, c.message.empty() ? "" : "ZelError: " + c.message + "\n");
      const size_t kept = c.message.empty() && !append ? 0 : 1;
      EXPECT_EQ(LineCount(dir / "out.csv"), kept + (c.message.empty() ? c.converted : 0));
    }
  }

  const struct {
    const char* range;
    int needed;  // the rows the message says the run needs, 0 when it converts
    size_t converted;
  } csvCases[] = {
      {"-r2", 0, 1},   {"-r2-", 0, 1},  {"-r2-5", 0, 1}, {"-r3-", 0, 0}, {"-r3", 4, 0},
      {"-r3-3", 4, 0}, {"-r3-8", 4, 0}, {"-r4", 4, 0},   {"-r4-", 4, 0}, {"-r5-6", 5, 0},
  };
  WriteFileText(dir / "three.csv", "1\n2\n3\n");
  const Bytes old = SmallPdb(2);
  for (const auto& c : csvCases) {
    for (bool append : {false, true}) {
      SCOPED_TRACE(std::string(c.range) + (append ? " -a" : ""));
      WriteFileBytes(dir / "out.pdb", old);
      RunResult r =
          Larkconv(append ? Args{"-csv", "-a", c.range, "b", "three.csv", "out.pdb"}
                          : Args{"-csv", "-c", "Test", c.range, "b", "three.csv", "out.pdb"});
      if (c.needed > 0) {
        EXPECT_EQ(r.out, "ZelError: source csv does not have " + std::to_string(c.needed) +
                             " rows, cannot start\n\n");
        EXPECT_EQ(ReadFileBytes(dir / "out.pdb"), old);
        continue;
      }
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(RecordsOf(dir / "out.pdb").size(), (append ? 2 : 0) + c.converted);
    }
  }

  // An empty database has no record 0, but -r0- converts its nothing.
  WriteFileBytes(dir / "empty.pdb", BuildPdb(TestPdb()));
  ExpectZelError({"-pdb", "-r0", "b", "empty.pdb", "out.csv"},
                 "source pdb does not have first requested record (only 0 records)\n");
  EXPECT_EQ(Larkconv({"-pdb", "-r0-", "b", "empty.pdb", "out.csv"}).status, 0);
  EXPECT_EQ(ReadFileText(dir / "out.csv"), "");
  WriteFileText(dir / "empty.csv", "");
  ExpectZelError({"-csv", "-c", "Test", "-r0", "b", "empty.csv", "out.pdb"},
                 "source csv does not have 1 rows, cannot start\n");
}

// Ranges at the largest numbers, typed or saturated, on sources taken in
// one piece and in many: no row is lost and a message counts rows right.
TEST_F(LarkconvTest, RangesAtTheLargestRowNumbers) {
  constexpr int kRows = 30000;  // about 270 KB: converted in several pieces
  std::string big;
  for (int i = 0; i < kRows; ++i)
    big += "row" + std::to_string(i) + "\n";
  WriteFileText(dir / "big.csv", big);
  WriteFileText(dir / "small.csv", "row0\nrow1\nrow2\n");
  TestPdb many;
  for (int i = 0; i < 3000; ++i)  // several pieces of records
    many.records.push_back({TextBytes("r" + std::to_string(i) + '\0')});
  WriteFileBytes(dir / "many.pdb", BuildPdb(many));
  WriteFileBytes(dir / "three.pdb", SmallPdb(3));

  const struct {
    const char* range;
    int skipped;         // rows or records before the first converted
    const char* needed;  // the rows a refused -csv run says it needs, or nullptr
  } cases[] = {
      {"-r0-2147483647", 0, nullptr},
      {"-r0-2147483646", 0, nullptr},
      {"-r0-99999999999", 0, nullptr},
      {"-r1-2147483647", 1, nullptr},
      {"-r2147483647", 0, "2147483647"},
      {"-r2147483646-", 0, "2147483646"},
      {"-r2147483647-2147483647", 0, "2147483647"},
      {"-r99999999999-", 0, "2147483647"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.range);
    for (const auto& [source, rows] :
         {std::pair<const char*, int>{"big.csv", kRows}, {"small.csv", 3}}) {
      RunResult r = Larkconv({"-csv", "-c", "Lark", c.range, "sz", source, "out.pdb"});
      if (c.needed) {
        EXPECT_EQ(r.out, "ZelError: source csv does not have " + std::string(c.needed) +
                             " rows, cannot start\n\n");
        continue;
      }
      EXPECT_EQ(r.out, "");
      const std::vector<Bytes> records = RecordsOf(dir / "out.pdb");
      ASSERT_EQ(records.size(), static_cast<size_t>(rows - c.skipped)) << source;
      EXPECT_EQ(records.back(), TextBytes("row" + std::to_string(rows - 1) + '\0'));
    }
    for (const auto& [source, count] :
         {std::pair<const char*, int>{"many.pdb", 3000}, {"three.pdb", 3}}) {
      RunResult r = Larkconv({"-pdb", c.range, "b", source, "out.csv"});
      if (c.needed) {
        EXPECT_EQ(r.out, "ZelError: source pdb does not have first requested record (only " +
                             std::to_string(count) + " records)\n\n");
        continue;
      }
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(LineCount(dir / "out.csv"), static_cast<size_t>(count - c.skipped)) << source;
    }
  }

  // A fault in the last row is reported with its own number.
  WriteFileText(dir / "bad.csv", big + "\xFF\n");
  WriteFileText(dir / "open.csv", big + "\"row\nand on\n");
  for (const char* range : {"-r0-2147483647", "-r0-99999999999", "-r29999-2147483646"}) {
    SCOPED_TRACE(range);
    EXPECT_EQ(
        Larkconv({"-csv", "-c", "Lark", "-e", "cp1252", range, "sz", "bad.csv", "out.pdb"}).out,
        "ZelError: invalid UTF-8 in source csv row 30000\n");
    EXPECT_EQ(Larkconv({"-csv", "-c", "Lark", range, "sz", "open.csv", "out.pdb"}).out,
              "ZelError: unterminated quoted field in source csv row 30000\n");
  }
}

// A write that fails part way (here at the file-size limit) leaves the
// destination as it was and no temporary file behind.
TEST_F(LarkconvFileLimitTest, FailedPdbWriteLeavesTheDestinationUnchanged) {
  Bytes original = SmallPdb(3);  // 105 bytes
  WriteFileBytes(dir / "dest.pdb", original);
  WriteFileText(dir / "in.csv", "");
  RunResult r = Larkconv({"-csv", "-a", "b", "in.csv", "dest.pdb"}, 90);
  EXPECT_EQ(r.out, "ZelError: unable to write pdb\n");
  EXPECT_EQ(r.status, kFailedStatus);
  EXPECT_EQ(ReadFileBytes(dir / "dest.pdb"), original);
  EXPECT_EQ(dir.Names(), (Names{"dest.pdb", "in.csv"}));

  r = Larkconv({"-csv", "-c", "CCCC", "b", "in.csv", "dest.pdb"}, 50);
  EXPECT_EQ(r.out, "ZelError: unable to write pdb\n");
  EXPECT_EQ(r.status, kFailedStatus);
  EXPECT_EQ(ReadFileBytes(dir / "dest.pdb"), original);
  EXPECT_EQ(dir.Names(), (Names{"dest.pdb", "in.csv"}));

  r = Larkconv({"-csv", "-c", "CCCC", "b", "in.csv", "no-dir/dest.pdb"});
  EXPECT_EQ(r.out, "ZelError: unable to write pdb\n");
}

}  // namespace
