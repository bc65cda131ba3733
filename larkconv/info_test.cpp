// larkinfo's inspection in this process: the header in words, the warnings
// about odd layouts, the record list and dump, the format check, and its
// command line.

#include "info.h"

#include <gtest/gtest.h>

#include <sstream>

#include "testing/format_generator.h"
#include "testing/pdb_builder.h"

using namespace larkconv;
using namespace larkconv_testing;

namespace {

/// What one inspection printed and its exit status.
struct Shown {
  std::string out;
  int status;
};

// Inspects file as "larkinfo ARGS db.pdb" would.
Shown Info(const Bytes& file, std::vector<std::string> args = {}) {
  args.insert(args.begin(), "larkinfo");
  args.push_back("db.pdb");
  std::vector<char*> argv;
  for (std::string& a : args)
    argv.push_back(&a[0]);
  std::ostringstream out;
  InfoOptions options;
  if (!ParseInfoCommandLine(static_cast<int>(argv.size()), argv.data(), &options, out))
    return {out.str(), -1};
  const int status = InspectPdb(file.data(), file.size(), options, out);
  return {out.str(), status};
}

std::vector<std::string> WarningsIn(const std::string& text) {
  std::vector<std::string> warnings;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("warning: ", 0) == 0) warnings.push_back(line.substr(9));
  }
  return warnings;
}

// Three records after a 4-byte AppInfo block, as the corrupt-file tests
// start from: entries end at 102, records at 106, 110 and 110, 116 bytes.
TestPdb ThreeRecords() {
  TestPdb p;
  p.appInfoID = 78 + 3 * 8;
  p.gap = {'A', 'P', 'P', 'I'};
  p.records = {{{1, 2, 3, 4}, 0xF3, 0x010203}, {{}, 0, 0}, {{'x', 'y', 'z', 0, 9, 9}, 0x40, 5}};
  return p;
}

Bytes With32(Bytes b, size_t at, uint32_t v) {
  EncodeBig32(&b[at], v);
  return b;
}

TEST(LarkinfoTest, HeaderInWords) {
  TestPdb p = ThreeRecords();
  p.name = "Pay\\roll 1\xe9";
  p.creator = std::string("a\x01 b", 4);
  p.attributes = 0x860E;
  p.version = 3;
  p.creationDate = 1;
  p.modificationDate = 3792095999u;
  p.lastBackupDate = 0xFFFFFFFFu;
  p.modificationNumber = 7;
  p.sortInfoID = 104;
  p.uniqueIDSeed = 42;
  Shown shown = Info(BuildPdb(p));
  EXPECT_EQ(shown.out,
            "name            Pay\\\\roll 1\\xe9\n"
            "type            DATA\n"
            "creator         a\\x01\\x20b\n"
            "attributes      0x860e read-only, AppInfo dirty, backup, launchable data, 0x0400, "
            "open\n"
            "version         3\n"
            "created         1904-01-01 00:00:01\n"
            "modified        2024-02-29 23:59:59\n"
            "backed-up       2040-02-06 06:28:15\n"
            "mod-number      7\n"
            "appinfo         offset 102 size 2\n"
            "sortinfo        offset 104 size 2\n"
            "unique-id-seed  42\n"
            "records         3\n"
            "file-size       116\n");
  EXPECT_EQ(shown.status, 0);

  Shown resources = Info(BuildResourcePdb(TestPdb(), {{"code", 1, {0x4E, 0x75}}}));
  EXPECT_NE(resources.out.find("attributes      0x0001 resource database\n"), std::string::npos);
  EXPECT_NE(resources.out.find("created         never\n"), std::string::npos);
  EXPECT_NE(resources.out.find("resources       1\n"), std::string::npos);
}

TEST(LarkinfoTest, WarnsOfOddLayoutsAndFailsWhereTheReaderDoes) {
  const Bytes base = BuildPdb(ThreeRecords());
  TestPdb gap = ThreeRecords();
  gap.appInfoID = 0;
  TestPdb filler = gap;
  filler.gap = {0, 0};
  TestPdb further = ThreeRecords();
  further.name = std::string(32, 'n');
  further.nextRecordListID = 5;
  TestPdb scattered;
  scattered.records.resize(20);
  Bytes outside = BuildPdb(scattered);
  for (size_t i = 0; i < 20; ++i)
    outside = With32(outside, 78 + 8 * i, 0xFFFFFFFFu);
  const struct {
    const char* what;
    Bytes file;
    std::vector<std::string> warnings;
    bool readable;
  } cases[] = {
      {"sound", base, {}, true},
      {"cut to 40",
       Bytes(base.begin(), base.begin() + 40),
       {"the file is 40 bytes, shorter than the 78-byte header; the missing bytes read as 0"},
       true},
      {"negative count", With32(base, 74, 0xFFFF), {"the record count -1 is negative"}, false},
      {"entry list past the end",
       With32(base, 74, 0x1000),
       {"the list of 4096 entries ends at 32846, past the end of the file"},
       false},
      {"offset past the end",
       With32(base, 94, 119),
       {"record 2 starts at 119, past the end of the file"},
       false},
      {"descending",
       With32(base, 86, 105),
       {"record 1 starts at 105, before record 0 at 106"},
       false},
      {"first record inside the entry list",
       With32(base, 78, 80),
       {"record 0 starts at 80, inside the header and entry list, which end at 102",
        "the AppInfo block's offset 102 is not between the entry list and the data; the block "
        "is not read"},
       true},
      {"gap",
       BuildPdb(gap),
       {"4 bytes at 102, between the entry list and the data, belong to no record or block"},
       true},
      {"filler",
       BuildPdb(filler),
       {"2 bytes at 102, between the entry list and the data, belong to no record or block (the "
        "customary 2-byte filler)"},
       true},
      {"name and further list",
       BuildPdb(further),
       {"the name fills all 32 bytes, with no zero byte to end it",
        "the header names a further entry list at 5, which is not read"},
       true},
      {"twenty entries outside", outside, {}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Shown shown = Info(c.file);
    std::vector<std::string> warnings = WarningsIn(shown.out);
    if (c.file == outside) {
      ASSERT_EQ(warnings.size(), 9u);
      EXPECT_EQ(warnings[0], "record 0 starts at 4294967295, past the end of the file");
      EXPECT_EQ(warnings[8], "12 more entries are out of place");
    } else {
      EXPECT_EQ(warnings, c.warnings);
    }
    EXPECT_EQ(shown.status, c.readable ? 0 : 1);
    const std::string failed =
        "larkinfo: db.pdb: the records cannot be read; larkconv stops on this file with "
        "\"Internal error\"\n";
    EXPECT_EQ(shown.out.size() >= failed.size() &&
                  shown.out.compare(shown.out.size() - failed.size(), failed.size(), failed) == 0,
              !c.readable);
    EXPECT_EQ(Info(c.file, {"-l"}).status, c.readable ? 0 : 1);
  }
}

TEST(LarkinfoTest, ListsAndDumpsTheRecordsInRange) {
  TestPdb p = ThreeRecords();
  p.records[2].bytes = Bytes{'0',  '1', '2', '3', '4', '5', '6', '7', 0x7F,
                             0x80, 0,   'a', 'b', 'c', 'd', 'e', 'f', '\\'};
  Shown shown = Info(BuildPdb(p), {"-x", "-l", "-r1-"});
  EXPECT_EQ(shown.out,
            "index      offset      length  attr  cat  unique-id  flags\n"
            "    1         110           0  0x00    0          0  -\n"
            "    2         110          18  0x40    0          5  dirty\n"
            "record 1  offset 110  length 0\n"
            "\n"
            "record 2  offset 110  length 18\n"
            "  00000000  30 31 32 33 34 35 36 37  7f 80 00 61 62 63 64 65  |01234567...abcde|\n"
            "  00000010  66 5c                                             |f\\|\n");
  EXPECT_EQ(shown.status, 0);
  EXPECT_EQ(Info(BuildPdb(p), {"-l", "-r0"}).out,
            "index      offset      length  attr  cat  unique-id  flags\n"
            "    0         106           4  0xf3    3      66051  delete,dirty,busy,secret\n");
  EXPECT_EQ(Info(BuildPdb(p), {"-l", "-r3-"}).out,
            "index      offset      length  attr  cat  unique-id  flags\n");
  Shown beyond = Info(BuildPdb(p), {"-l", "-r4"});
  EXPECT_EQ(beyond.out, "larkinfo: the file has no record 4 (only 3)\n");
  EXPECT_EQ(beyond.status, 1);

  Bytes resources = BuildResourcePdb(
      TestPdb(), {{"code", 1, {0x4E, 0x75}}, {std::string("a b\xff", 4), 0x8000, {}}});
  EXPECT_EQ(Info(resources, {"-l"}).out,
            "index  type      id      offset      length\n"
            "    0  code       1          98           2\n"
            "    1  a\\x20b\\xff  -32768         100           0\n");
  EXPECT_EQ(Info(resources, {"-x", "-r0"}).out,
            "resource 0  offset 98  length 2\n"
            "  00000000  4e 75                                             |Nu|\n");
}

TEST(LarkinfoTest, ChecksHowTheFormatFitsEachRecord) {
  const struct {
    const char* format;
    Bytes record;
    std::string line;  // after the index
  } cases[] = {
      {"w", {1, 2}, "exact   uses its 2 bytes exactly in 1 field"},
      {"w", {1, 2, 3}, "over    leaves 1 byte over after 1 field"},
      {"()", {5}, "over    leaves 1 byte over after 0 fields"},
      {"wi",
       {1, 2, 3},
       "short   runs out of bytes at field 2: 4-byte integer needs 4 bytes, 1 left"},
      {"wi", {1, 2}, "short   runs out of bytes at field 2: 4-byte integer needs 4 bytes, 0 left"},
      {"(bw)", {1, 2, 3}, "exact   uses its 3 bytes exactly in 2 fields"},
      {"(bw)",
       {1, 2, 3, 4},
       "short   runs out of bytes at field 4: 2-byte integer needs 2 bytes, 0 left"},
      {"w(b)", {}, "short   runs out of bytes at field 1: 2-byte integer needs 2 bytes, 0 left"},
      {"(b)", {}, "exact   uses its 0 bytes exactly in 0 fields"},
      {"sz", {'a', 0}, "exact   uses its 2 bytes exactly in 1 field"},
      {"sz",
       {},
       "short   runs out of bytes at field 1: zero-terminated string needs 1 byte, 0 left"},
      {"csz",
       {'c', 'a', 'b'},
       "short   runs out of bytes at field 2: zero-terminated string finds no zero byte in the 2 "
       "bytes left"},
      {"s3f", {'a', 0, 0, 0x3F, 0x80, 0, 0}, "exact   uses its 7 bytes exactly in 2 fields"},
      {"s3f",
       {'a', 0, 0, 0x3F},
       "short   runs out of bytes at field 2: float needs 4 bytes, 1 left"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.format);
    TestPdb p;
    p.records = {{c.record}};
    Shown shown = Info(BuildPdb(p), {"-f", c.format});
    const bool exact = c.line.rfind("exact", 0) == 0;
    EXPECT_EQ(shown.out, "index  result  detail\n    0  " + c.line + "\nchecked 1 record: " +
                             (exact              ? "1 exact, 0 over, 0 short\n"
                              : c.line[0] == 'o' ? "0 exact, 1 over, 0 short\n"
                                                 : "0 exact, 0 over, 1 short\n"));
    EXPECT_EQ(shown.status, exact ? 0 : 2);
  }

  // A fault in the format string stops the check where larkconv meets it.
  TestPdb p;
  p.records = {{{}}, {{1}}, {{2}}};
  Shown fault = Info(BuildPdb(p), {"-f", "bq"});
  EXPECT_EQ(fault.out,
            "index  result  detail\n"
            "    0  short   runs out of bytes at field 1: 1-byte integer needs 1 byte, 0 left\n"
            "ZelError: invalid format string\n");
  EXPECT_EQ(fault.status, 1);
  EXPECT_EQ(Info(BuildPdb(p), {"-f", ""}).out, "ZelError: missing format specifier\n");
  EXPECT_EQ(Info(BuildPdb(p), {"-f", "b", "-r1-2"}).out,
            "index  result  detail\n"
            "    1  exact   uses its 1 byte exactly in 1 field\n"
            "    2  exact   uses its 1 byte exactly in 1 field\n"
            "checked 2 records: 2 exact, 0 over, 0 short\n");
  Shown resources = Info(BuildResourcePdb(TestPdb(), {{"code", 1, {1}}}), {"-f", "b"});
  EXPECT_EQ(resources.status, 1);
  EXPECT_EQ(resources.out,
            "larkinfo: a resource database holds no records to check; larkconv refuses it\n");
}

// Records made of the first n fields of a random format fit it exactly when
// n covers the head and whole rounds of the group, and are short otherwise.
TEST(LarkinfoTest, RandomRecordsFitWhenTheyEndWhereTheFormatDoes) {
  FormatGenerator generator(1504);
  for (int i = 0; i < 400; ++i) {
    GenFormat format = generator.Format();
    size_t fields = 0;
    TestPdb p;
    p.records = {{generator.Record(format, &fields)}};
    SCOPED_TRACE(format.text + " with " + std::to_string(fields) + " fields");
    const size_t head = format.head.size();
    const size_t group = format.group.size();
    const bool exact = group == 0 ? fields == head : fields >= head && (fields - head) % group == 0;
    Shown shown = Info(BuildPdb(p), {"-f", format.text});
    EXPECT_EQ(shown.status, exact ? 0 : 2) << shown.out;
    if (exact) {
      EXPECT_NE(shown.out.find(" in " + std::to_string(fields) + " field"), std::string::npos)
          << shown.out;
    }
  }
}

TEST(LarkinfoTest, CommandLine) {
  const struct {
    std::vector<std::string> args;
    std::string message;  // "" when the line is accepted
  } cases[] = {
      {{"db.pdb"}, ""},
      {{"-l", "-x", "-r2-5", "-f", "b", "db.pdb"}, ""},
      {{"--help"}, ""},
      {{"--version"}, ""},
      {{}, "larkinfo: no pdb file given\n"},
      {{"-l"}, "larkinfo: no pdb file given\n"},
      {{"-q", "db.pdb"}, "larkinfo: unknown option -q\n"},
      {{"a.pdb", "b.pdb"}, "larkinfo: one pdb file at a time\n"},
      {{"db.pdb", "-f"}, "larkinfo: -f requires a format string\n"},
      {{"-r", "db.pdb"}, "larkinfo: -r requires arguments\n"},
      {{"-r5-3", "db.pdb"}, "larkinfo: last row must be greater than first row\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.begin(), "larkinfo");
    std::vector<char*> argv;
    for (std::string& a : args)
      argv.push_back(&a[0]);
    std::ostringstream out;
    InfoOptions options;
    const bool accepted =
        ParseInfoCommandLine(static_cast<int>(argv.size()), argv.data(), &options, out);
    EXPECT_EQ(accepted, c.message.empty()) << args[1];
    if (!accepted) {
      EXPECT_EQ(out.str().substr(0, c.message.size()), c.message);
      EXPECT_NE(out.str().find("usage: larkinfo"), std::string::npos);
    }
  }
  const std::vector<std::pair<std::string, std::pair<int32_t, int32_t>>> ranges = {
      {"-r7", {7, 7}},
      {"-r7-", {7, -1}},
      {"-r2-9", {2, 9}},
      {"-r-4", {0, 4}},
      {"-r99999999999", {INT32_MAX, INT32_MAX}}};
  for (const auto& range : ranges) {
    std::string arg = range.first;
    std::string file = "db.pdb";
    char* argv[] = {&arg[0], &arg[0], &file[0]};
    std::ostringstream out;
    InfoOptions options;
    ASSERT_TRUE(ParseInfoCommandLine(3, argv, &options, out)) << arg;
    EXPECT_EQ(std::make_pair(options.firstRecord, options.lastRecord), range.second) << arg;
  }
}

}  // namespace
