// larkinfo's inspection in this process: the header in words, the warnings
// about odd layouts, the record list and dump, the format check, and its
// command line.

#include "info.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "csv.h"
#include "format.h"
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

std::string HexOf(const Bytes& bytes) {
  std::string text;
  for (uint8_t b : bytes)
    text += "0123456789abcdef"[b >> 4], text += "0123456789abcdef"[b & 15];
  return text;
}

// The record that comes back from writing record's row to a CSV file and
// reading that file back, by the converters that read the format afresh
// for each record or row; empty when no row comes back.
Bytes RoundTrip(const Bytes& record, const std::string& format) {
  ScratchDir dir;
  const std::string path = (dir / "row.csv").string();
  PdbRecord rec;
  rec.length = static_cast<int32_t>(record.size());
  rec.bytes = record.data();
  CsvFile out;
  EXPECT_TRUE(out.Open(path, "w"));
  RecordToRow(rec, out, format);
  EXPECT_TRUE(out.Close());
  CsvFile in;
  EXPECT_TRUE(in.Open(path, "r"));
  PdbDatabase db;
  db.SetResourceDb(false);
  if (!in.ReadLine()) return {};
  RowToRecord(in, db, format);
  return RecordsOf(db).at(0);
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
  // Two zero bytes after the entry list are the customary filler, before
  // whatever follows, in record and resource databases alike.
  TestPdb filler = gap;
  filler.gap = {0, 0};
  TestPdb fillerThenAppInfo = ThreeRecords();
  fillerThenAppInfo.appInfoID = 78 + 3 * 8 + 2;
  fillerThenAppInfo.gap = {0, 0, 'A', 'P', 'P', 'I'};
  TestPdb fillerAlone;
  fillerAlone.gap = {0, 0};
  Bytes fillerResources = BuildResourcePdb(TestPdb(), {{"code", 1, {0x4E, 0x75}}});
  fillerResources.insert(fillerResources.begin() + 88, {0, 0});
  fillerResources = With32(fillerResources, 78 + 6, 90);
  TestPdb notFiller = filler;
  notFiller.gap = {0, 1};
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
      {"filler before the first record", BuildPdb(filler), {}, true},
      {"filler before the AppInfo block", BuildPdb(fillerThenAppInfo), {}, true},
      {"filler to the end", BuildPdb(fillerAlone), {}, true},
      {"filler in a resource database", fillerResources, {}, true},
      {"two bytes that are no filler",
       BuildPdb(notFiller),
       {"2 bytes at 102, between the entry list and the data, belong to no record or block"},
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

// A file shorter than the 78-byte header is no database: the header's lines
// (the missing bytes as zeros) and why, with no warnings; a header alone
// with a count of 0 is an empty database.
TEST(LarkinfoTest, FilesShorterThanAHeaderAreNoDatabase) {
  const Bytes base = BuildPdb(ThreeRecords());
  for (size_t size : {0, 1, 40, 77}) {
    SCOPED_TRACE(size);
    const Bytes cut(base.begin(), base.begin() + static_cast<std::ptrdiff_t>(size));
    const std::string why = "larkinfo: db.pdb: " + std::string(size == 1 ? "1 byte" : "") +
                            (size == 1 ? "" : std::to_string(size) + " bytes") +
                            ", shorter than the 78-byte header: not a PDB file\n";
    Shown header = Info(cut);
    EXPECT_EQ(header.status, 1);
    EXPECT_EQ(header.out.rfind("name            ", 0), 0u);
    EXPECT_EQ(header.out.substr(header.out.find("file-size")),
              "file-size       " + std::to_string(size) + "\n" + why);
    EXPECT_EQ(WarningsIn(header.out), std::vector<std::string>{});
    for (const auto& args :
         {std::vector<std::string>{"-l"}, {"-x", "-f", "b"}, {"-r0-", "-f", "b"}}) {
      Shown parts = Info(cut, args);
      EXPECT_EQ(parts.out, why);
      EXPECT_EQ(parts.status, 1);
    }
  }
  const Bytes header = BuildPdb(TestPdb());
  ASSERT_EQ(header.size(), 78u);
  EXPECT_EQ(Info(header, {"-f", "b"}).out,
            "index  result  detail\nchecked 0 records: 0 exact, 0 changes, 0 over, 0 short\n");
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
  // -rA- may start just past the last record; -rA and -rA-B name record A.
  EXPECT_EQ(Info(BuildPdb(p), {"-l", "-r3-"}).out,
            "index      offset      length  attr  cat  unique-id  flags\n");
  for (const char* range : {"-r3", "-r3-3", "-r3-7", "-r4", "-r4-"}) {
    Shown beyond = Info(BuildPdb(p), {"-l", "-x", "-f", "b", range});
    EXPECT_EQ(beyond.out,
              "larkinfo: the file has no record " + std::string(range).substr(2, 1) + " (only 3)\n")
        << range;
    EXPECT_EQ(beyond.status, 1);
  }
  const Bytes empty = BuildPdb(TestPdb());
  EXPECT_EQ(Info(empty, {"-f", "b", "-r0"}).out, "larkinfo: the file has no record 0 (only 0)\n");
  Shown none = Info(empty, {"-f", "b", "-r0-"});
  EXPECT_EQ(none.out,
            "index  result  detail\nchecked 0 records: 0 exact, 0 changes, 0 over, 0 short\n");
  EXPECT_EQ(none.status, 0);

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

// Each verdict with the records that make it: exact when the record comes
// back byte for byte, also when it ends where a field would begin; changes
// when it uses its bytes but comes back different; over; short.
TEST(LarkinfoTest, ChecksThatEachRecordComesBack) {
#ifdef _WIN32
  // A file written in text mode ends a line with CR LF; the CR before it is
  // dropped on reading, so a CR LF in a text comes back.
  const std::string crLf = "exact   uses its 5 bytes exactly in 1 field";
#else
  const std::string crLf =
      "changes byte 1 in field 1 (zero-terminated string) comes back as 0x0a, not 0x0d: a "
      "carriage return before a line feed is not kept";
#endif
  const struct {
    const char* format;
    Bytes record;
    std::string line;  // after the index
  } cases[] = {
      {"w", {1, 2}, "exact   uses its 2 bytes exactly in 1 field"},
      {"(bw)", {1, 2, 3}, "exact   uses its 3 bytes exactly in 2 fields"},
      {"sz", {'a', 0}, "exact   uses its 2 bytes exactly in 1 field"},
      {"s3f", {'a', 0, 0, 0x3F, 0x80, 0, 0}, "exact   uses its 7 bytes exactly in 2 fields"},
      {"f", {0xFF, 0xC0, 0, 1}, "exact   uses its 4 bytes exactly in 1 field"},
      {"wi",
       {1, 2},
       "exact   uses its 2 bytes exactly in 1 field, ending after field 1 before the "
       "format does"},
      {"(bw)",
       {1, 2, 3, 4},
       "exact   uses its 4 bytes exactly in 3 fields, ending after field 3 "
       "before the format does"},
      {"()", {}, "exact   uses its 0 bytes exactly in 0 fields"},
      {"(b)", {}, "changes holds no bytes: its row has no fields and reads back as 1 byte"},
      {"w(b)", {}, "changes holds no bytes: its row has no fields and reads back as 2 bytes"},
      {"sz", {}, "changes holds no bytes: its row has no fields and reads back as 1 byte"},
      {"s4",
       {'a', 0, 'x', 0},
       "changes byte 2 in field 1 (4-byte string) comes back as 0x00, "
       "not 0x78: bytes after the zero of a fixed-length string are not kept"},
      {"bf",
       {9, 0x7F, 0xC0, 0, 1},
       "changes byte 4 in field 2 (float) comes back as 0x00, not "
       "0x01: float bits 0x7FC00001 read back as 0x7FC00000"},
      {"sz", {'a', '\r', '\n', 'b', 0}, crLf},
      {"w", {1, 2, 3}, "over    leaves 1 byte over after 1 field"},
      {"()", {5}, "over    leaves 1 byte over after 0 fields"},
      {"wi",
       {1, 2, 3},
       "short   runs out of bytes at field 2: 4-byte integer needs 4 bytes, 1 left"},
      {"csz",
       {'c', 'a', 'b'},
       "short   runs out of bytes at field 2: zero-terminated string "
       "finds no zero byte in the 2 bytes left"},
      {"s3f",
       {'a', 0, 0, 0x3F},
       "short   runs out of bytes at field 2: float needs 4 bytes, 1 left"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.format);
    TestPdb p;
    p.records = {{c.record}};
    Shown shown = Info(BuildPdb(p), {"-f", c.format});
    const std::string verdict = c.line.substr(0, c.line.find(' '));
    const std::string counts = verdict == "exact"     ? "1 exact, 0 changes, 0 over, 0 short\n"
                               : verdict == "changes" ? "0 exact, 1 changes, 0 over, 0 short\n"
                               : verdict == "over"    ? "0 exact, 0 changes, 1 over, 0 short\n"
                                                      : "0 exact, 0 changes, 0 over, 1 short\n";
    EXPECT_EQ(shown.out,
              "index  result  detail\n    0  " + c.line + "\nchecked 1 record: " + counts);
    EXPECT_EQ(shown.status, verdict == "exact" ? 0 : 2);
  }
}

// A fault in the format string stops the check where larkconv meets it:
// converting a record, or reading a row back.
TEST(LarkinfoTest, FormatFaultsStopTheCheckWhereLarkconvMeetsThem) {
  TestPdb p;
  p.records = {{{}}, {{1}}, {{2}}};
  Shown fault = Info(BuildPdb(p), {"-f", "bq"});
  EXPECT_EQ(fault.out,
            "index  result  detail\n"
            "    0  changes its row reads back with ZelError: invalid format string\n"
            "ZelError: invalid format string\n");
  EXPECT_EQ(fault.status, 1);
  EXPECT_EQ(Info(BuildPdb(p), {"-f", ""}).out, "ZelError: missing format specifier\n");
  Shown dumped = Info(BuildPdb(p), {"-x", "-f", "b(", "-r1"});
  EXPECT_EQ(dumped.out,
            "record 1  offset 102  length 1\n"
            "  00000000  01                                                |.|\n"
            "ZelError: invalid format string\n");
  EXPECT_EQ(dumped.status, 1);
  EXPECT_EQ(Info(BuildPdb(p), {"-f", "b", "-r1-2"}).out,
            "index  result  detail\n"
            "    1  exact   uses its 1 byte exactly in 1 field\n"
            "    2  exact   uses its 1 byte exactly in 1 field\n"
            "checked 2 records: 2 exact, 0 changes, 0 over, 0 short\n");
  Shown resources = Info(BuildResourcePdb(TestPdb(), {{"code", 1, {1}}}), {"-f", "b"});
  EXPECT_EQ(resources.status, 1);
  EXPECT_EQ(resources.out,
            "larkinfo: a resource database holds no records to check; larkconv refuses it\n");
}

// With -e the text is checked as larkconv -e converts it: a record that is
// no text in the set has larkconv's message, and a code that reads back as
// another code changes.
TEST(LarkinfoTest, ChecksTextInACharacterSet) {
  TestPdb p;
  p.records = {{{0x82, 0xA0, 0}}, {{'a', 0x81, 0}}, {{0xFA, 0x5C, 0}}, {{0xE9, 0}}};
  Shown shown = Info(BuildPdb(p), {"-e", "CP932", "-f", "sz"});
  EXPECT_EQ(shown.out,
            "index  result  detail\n"
            "    0  exact   uses its 3 bytes exactly in 1 field\n"
            "    1  changes record 1 is not valid cp932 text\n"
            "    2  changes byte 0 in field 1 (zero-terminated string) comes back as 0xed, not "
            "0xfa: its cp932 text reads back as other bytes\n"
            "    3  changes record 3 is not valid cp932 text\n"
            "checked 4 records: 1 exact, 3 changes, 0 over, 0 short\n");
  EXPECT_EQ(shown.status, 2);
  EXPECT_EQ(Info(BuildPdb(p), {"-e", "cp1252", "-f", "sz", "-r3"}).status, 0);
  EXPECT_EQ(Info(BuildPdb(p), {"-f", "sz"}).status, 0);  // byte for byte, every record comes back
}

// The field map under each record's dump: one line per field with its
// bytes and its CSV text on one line, a line where the format stops
// fitting, and the verdict.
TEST(LarkinfoTest, MapsTheFieldsUnderTheDump) {
  TestPdb p;
  p.records = {{{0xFF, 0xFD, 'a', '"', '\n', '\\', 0x7F, 0xE9, 0, 0x42, 0xC8, 0x80, 0}},
               {{1, 2, 3}},
               {{'x'}},
               {{0x82, 0xA0, 0, 7, 8}}};
  const std::string heading =
      "  field    offset    length  kind                    bytes                          "
      "                     csv\n";
  Shown shown = Info(BuildPdb(p), {"-x", "-f", "wszf", "-r0-2"});
  EXPECT_EQ(shown.out,
            "record 0  offset 110  length 13\n"
            "  00000000  ff fd 61 22 0a 5c 7f e9  00 42 c8 80 00           |..a\".\\...B...|\n" +
                heading +
                "      1         0         2  2-byte integer          ff fd                      "
                "                         \"-3\"\n"
                "      2         2         7  zero-terminated string  61 22 0a 5c 7f e9 00       "
                "                         \"a\"\"\\n\\\\\\x7f\\xe9\"\n"
                "      3         9         4  float                   42 c8 80 00                "
                "                         \"100.25\"\n"
                "  exact   uses its 13 bytes exactly in 3 fields\n"
                "\n"
                "record 1  offset 123  length 3\n"
                "  00000000  01 02 03                                          |...|\n" +
                heading +
                "      1         0         2  2-byte integer          01 02                      "
                "                         \"258\"\n"
                "      2         2         1  zero-terminated string  03                         "
                "                         \"\\x03\"  (no zero byte before the record ends)\n"
                "  short   runs out of bytes at field 2: zero-terminated string finds no zero byte "
                "in the 1 byte left\n"
                "\n"
                "record 2  offset 126  length 1\n"
                "  00000000  78                                                |x|\n" +
                heading +
                "      1         0         1  2-byte integer          78                         "
                "                         (needs 2 bytes, 1 left)\n"
                "  short   runs out of bytes at field 1: 2-byte integer needs 2 bytes, 1 left\n"
                "checked 3 records: 1 exact, 0 changes, 0 over, 2 short\n");
  EXPECT_EQ(shown.status, 2);
  // Bytes after the format's end; with -e the text in UTF-8.
  Shown over = Info(BuildPdb(p), {"-x", "-e", "cp932", "-f", "sz", "-r3"});
  EXPECT_NE(over.out.find("      1         0         3  zero-terminated string  82 a0 00        "
                          "                                    \"\xE3\x81\x82\"\n"
                          "      -         3         2  left over               07 08          "
                          "                                     (after the end of the format)\n"
                          "  over    leaves 2 bytes over after 1 field\n"),
            std::string::npos)
      << over.out;
}

// Records made of the first fields of a random format come back, and so do
// the records larkinfo calls exact after random damage: for any record,
// exact is said exactly when converting it to its row and the row back, by
// the converters that read the format afresh, gives the same bytes.
TEST(LarkinfoTest, ExactIsSaidExactlyWhenTheRecordComesBack) {
  FormatGenerator generator(1504);
  int exact = 0;
  int damaged = 0;
  for (int i = 0; i < 600; ++i) {
    GenFormat format = generator.Format();
    size_t fields = 0;
    Bytes record = generator.Record(format, &fields);
    const bool damage = i % 2 == 1;
    if (damage) generator.Damage(&record);
    SCOPED_TRACE(format.text + " on " + HexOf(record));
    TestPdb p;
    p.records = {{record}};
    Shown shown = Info(BuildPdb(p), {"-f", format.text});
    const bool comesBack = RoundTrip(record, format.text) == record;
    EXPECT_EQ(shown.status, comesBack ? 0 : 2) << shown.out;
    if (!damage) {
      EXPECT_TRUE(comesBack);
      EXPECT_NE(shown.out.find(" exactly in " + std::to_string(fields) + " field"),
                std::string::npos)
          << shown.out;
    }
    exact += shown.status == 0;
    damaged += damage && shown.status == 2;
  }
  EXPECT_GT(damaged, 100);  // the damage does make records that do not come back
  EXPECT_GT(exact, 300);
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
      {{"-e", "Cp1252", "-f", "b", "db.pdb"}, ""},
      {{"db.pdb", "-e"}, "larkinfo: -e requires a character set\n"},
      {{"-e", "latin1", "db.pdb"},
       "larkinfo: unknown character set \"latin1\" (use cp1252 or cp932)\n"},
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
