// Runs the built larkconv program on crafted databases and CSV files and
// checks the conversions by format string, in both directions.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "csv.h"
#include "format.h"
#include "pdb.h"
#include "testing/child_runs.h"
#include "testing/format_generator.h"
#include "testing/pdb_builder.h"

using namespace larkconv;
using namespace larkconv_testing;

namespace {

Outcome Larkconv(const fs::path& dir, const std::vector<std::string>& args) {
  return RunLarkconv(dir, args);
}

Bytes B(std::initializer_list<int> bytes) {
  Bytes out;
  for (int b : bytes)
    out.push_back(static_cast<uint8_t>(b));
  return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts)
    out.insert(out.end(), p.begin(), p.end());
  return out;
}

/// A scratch directory, removed after each test, in which the tests write
/// their databases and CSV files and run the program.
class FormatE2e : public ::testing::Test {
 protected:
  ScratchDir dir;
};

// One record holding every field kind, and what -pdb makes of it.
const Bytes kEveryKind = Cat({B({0xFF}),                    // b
                              B({0xFF, 0xFE}),              // w
                              B({0x80, 0, 0, 0}),           // i
                              B({0x7F}),                    // i1
                              B({0x12, 0x34}),              // i2
                              B({0xFF, 0xFF, 0xFF, 0x85}),  // i4
                              TextBytes("Q"),                    // c
                              B({0xC0, 0x20, 0, 0}),        // f
                              TextBytes("ab\"c"),                // s4
                              TextBytes("hi"), B({0, 0}),        // l4
                              TextBytes("zero, term"), B({0}),   // sz
                              B({0x3F, 0x80, 0, 0}),        // (f)
                              B({0x50, 0x15, 0x02, 0xF9})});
const char* const kEveryKindFormat = "bwii1.i2i4cfs4l4.sz(f)";
const char* const kEveryKindRow =
    "\"255\",\"-2\",\"-2147483648\",\"127\",\"4660\",\"-123\",\"Q\",\"-2.5\",\"ab\"\"c\","
    "\"hi\",\"zero, term\",\"1.\",\"1.e+010\"\n";

TEST_F(FormatE2e, PdbToCsvEveryFieldKind) {
  WriteFileBytes(dir / "in.pdb", BuildPdb(RecordsPdb({kEveryKind, B({1, 2, 3}), {}})));
  const Outcome run = Larkconv(dir.Path(), {"-pdb", kEveryKindFormat, "in.pdb", "out.csv"});
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.status, 0);
  // The short record yields its whole fields only; the empty one an empty line.
  EXPECT_EQ(ReadTextFile(dir / "out.csv"), std::string(kEveryKindRow) + "\"1\",\"515\"\n\n");
}

TEST_F(FormatE2e, CsvToPdbEveryFieldKind) {
  WriteFileText(dir / "in.csv", std::string(kEveryKindRow) + "1,2\n");
  const Outcome run =
      Larkconv(dir.Path(), {"-csv", "-c", "Test", kEveryKindFormat, "in.csv", "out.pdb"});
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(RecordsOf(dir / "out.pdb"), (std::vector<Bytes>{kEveryKind, B({1, 0, 2})}));
}

TEST_F(FormatE2e, CsvFieldsFromOtherProgramsConvert) {
  // Bare fields, blanks, d exponents, CR LF line ends and short rows.
  WriteFileText(dir / "in.csv", "7, -1 ,2.5d2,abc\r\n\"x\"\r\n");
  const Outcome run = Larkconv(dir.Path(), {"-csv", "-c", "Test", "bwfs", "in.csv", "out.pdb"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(RecordsOf(dir / "out.pdb"),
            (std::vector<Bytes>{B({7, 0xFF, 0xFF, 0x43, 0x7A, 0, 0, 'a', 'b', 'c', 0}), B({0})}));
}

TEST_F(FormatE2e, QuotedFieldsSpanLinesAndRowsCountAsRows) {
  WriteFileText(dir / "in.csv", "\"one\r\ntwo\",1\r\n\"three\n\",2\n4,\"x\"\n\x1A");
  Outcome run = Larkconv(dir.Path(), {"-csv", "-c", "Test", "szb", "in.csv", "out.pdb"});
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(RecordsOf(dir / "out.pdb"),
            (std::vector<Bytes>{Cat({TextBytes("one\ntwo"), B({0, 1})}),
                                Cat({TextBytes("three\n"), B({0, 2})}), B({'4', 0, 0})}));
  run = Larkconv(dir.Path(), {"-csv", "-c", "Test", "-r1-1", "szb", "in.csv", "out.pdb"});
  EXPECT_EQ(RecordsOf(dir / "out.pdb"), (std::vector<Bytes>{Cat({TextBytes("three\n"), B({0, 2})})}));
  run = Larkconv(dir.Path(), {"-csv", "-c", "Test", "-r4", "szb", "in.csv", "out.pdb"});
  EXPECT_EQ(run.out, "ZelError: source csv does not have 4 rows, cannot start\n\n");
}

// A quoted field still open at the end of the file, begun on an earlier line:
// the run stops and writes nothing, wherever the row lies before the range's end.
TEST_F(FormatE2e, UnterminatedQuotedFieldStopsTheRun) {
  const Bytes old = BuildPdb(RecordsPdb({B({7})}));
  WriteFileBytes(dir / "dest.pdb", old);
  WriteFileText(dir / "in.csv", "1\n\"2\n3\n");
  for (const char* range : {"-r0-", "-r2"}) {
    Outcome run = Larkconv(dir.Path(), {"-csv", "-c", "Test", range, "b", "in.csv", "new.pdb"});
    EXPECT_EQ(run.out, "ZelError: unterminated quoted field in source csv row 1\n");
    EXPECT_EQ(run.status, kFailedStatus);
    run = Larkconv(dir.Path(), {"-csv", "-a", range, "b", "in.csv", "dest.pdb"});
    EXPECT_EQ(run.out, "ZelError: unterminated quoted field in source csv row 1\n");
  }
  EXPECT_FALSE(fs::exists(dir / "new.pdb"));
  EXPECT_EQ(ReadFileBytes(dir / "dest.pdb"), old);
  // Rows past the range's end are never read; a quote opened on the last line ends there.
  EXPECT_EQ(Larkconv(dir.Path(), {"-csv", "-c", "Test", "-r0-0", "b", "in.csv", "new.pdb"}).status,
            0);
  WriteFileText(dir / "in.csv", "1\n\"2");
  EXPECT_EQ(Larkconv(dir.Path(), {"-csv", "-c", "Test", "b", "in.csv", "new.pdb"}).status, 0);
  EXPECT_EQ(RecordsOf(dir / "new.pdb"), (std::vector<Bytes>{B({1}), B({2})}));
}

// A record from CSV that would reach 2^31 bytes ends the run, whatever fields
// take it there; nothing is written.
TEST_F(FormatE2e, RecordOf2To31BytesIsAnInternalError) {
  WriteFileText(dir / "in.csv", "a,1,b\n");
  const Outcome run =
      Larkconv(dir.Path(), {"-csv", "-c", "Test", "s2147483647is2147483647", "in.csv", "out.pdb"});
  EXPECT_EQ(run.out, "Internal error\n");
  EXPECT_EQ(run.status, kFailedStatus);
  EXPECT_FALSE(fs::exists(dir / "out.pdb"));
}

TEST_F(FormatE2e, RangeSelectsRecordsAndRows) {
  WriteFileBytes(dir / "in.pdb", BuildPdb(RecordsPdb({B({1}), B({2}), B({3}), B({4})})));
  EXPECT_EQ(Larkconv(dir.Path(), {"-pdb", "-r1-2", "b", "in.pdb", "out.csv"}).status, 0);
  EXPECT_EQ(ReadTextFile(dir / "out.csv"), "\"2\"\n\"3\"\n");
  WriteFileText(dir / "in.csv", "1\n2\n3\n4\n");
  EXPECT_EQ(Larkconv(dir.Path(), {"-csv", "-c", "Test", "-r2-", "w", "in.csv", "out.pdb"}).status,
            0);
  EXPECT_EQ(RecordsOf(dir / "out.pdb"), (std::vector<Bytes>{B({0, 3}), B({0, 4})}));
}

TEST_F(FormatE2e, FormatFaultsEndTheRun) {
  WriteFileBytes(dir / "in.pdb", BuildPdb(RecordsPdb({B({1}), B({1, 2, 3, 4, 5})})));
  // The first record is too short to reach the fault, the second reaches it.
  Outcome run = Larkconv(dir.Path(), {"-pdb", "bi.x", "in.pdb", "out.csv"});
  EXPECT_EQ(run.out, "ZelError: invalid format string\n");
  EXPECT_EQ(run.status, kFailedStatus);
  EXPECT_FALSE(fs::exists(dir / "out.csv"));  // a failed run creates nothing
  WriteFileText(dir / "old.csv", "\"old\"\r\n");
  for (const char* append : {"-a", "-r0-"}) {  // -r0- selects all, in -a's place
    run = Larkconv(dir.Path(), {"-pdb", append, "bi.x", "in.pdb", "old.csv"});
    EXPECT_EQ(run.out, "ZelError: invalid format string\n");
    EXPECT_EQ(ReadFileText(dir / "old.csv"), "\"old\"\r\n");
  }

  run = Larkconv(dir.Path(), {"-pdb", "", "in.pdb", "out.csv"});
  EXPECT_EQ(run.out, "ZelError: missing format specifier\n");
  EXPECT_EQ(run.status, kFailedStatus);

  run = Larkconv(dir.Path(), {"-pdb", "0b", "in.pdb", "out.csv"});
  EXPECT_EQ(run.out, "ZelError: invalid format string\n");

  WriteFileText(dir / "in.csv", "1\n2\n");
  run = Larkconv(dir.Path(), {"-csv", "-c", "Test", "b(i", "in.csv", "out.pdb"});
  EXPECT_EQ(run.out, "ZelError: invalid format string\n");
  EXPECT_EQ(run.status, kFailedStatus);
  EXPECT_FALSE(fs::exists(dir / "out.pdb"));

  // No row selected: the format is never read.
  run = Larkconv(dir.Path(), {"-csv", "-c", "Test", "-r2-", "b(i", "in.csv", "out.pdb"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(RecordsOf(dir / "out.pdb").size(), 0u);
}

TEST_F(FormatE2e, AppendKeepsRecordsAndAppInfo) {
  TestPdb p = RecordsPdb({TextBytes("one"), TextBytes("two")});
  p.records[0].attributes = 0x43;
  p.records[0].uniqueId = 0x123456;
  p.gap = TextBytes("APPINFO!");
  p.appInfoID = 78 + 2 * 8;
  p.type = "memo";
  WriteFileBytes(dir / "db.pdb", BuildPdb(p));
  WriteFileText(dir / "more.csv", "\"three\"\n\"four, five\"\n");
  const Outcome run = Larkconv(dir.Path(), {"-csv", "-a", "sz", "more.csv", "db.pdb"});
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.status, 0);
  const Bytes written = ReadFileBytes(dir / "db.pdb");
  EXPECT_EQ(Big16In(written, 76), 4u);
  EXPECT_EQ(std::string(written.begin() + 60, written.begin() + 64), "memo");
  const uint32_t appInfo = Big32In(written, 52);
  ASSERT_EQ(appInfo, 78u + 4 * 8);
  EXPECT_EQ(std::string(written.begin() + appInfo, written.begin() + appInfo + 8), "APPINFO!");
  EXPECT_EQ(written[78 + 4], 0x43);  // the first record's entry as read
  EXPECT_EQ(RecordsOf(dir / "db.pdb"),
            (std::vector<Bytes>{TextBytes("one"), TextBytes("two"), TextBytes(std::string("three\0", 6)),
                                TextBytes(std::string("four, five\0", 11))}));
}

// Databases of random formats and records go to CSV and back unchanged.
TEST_F(FormatE2e, RoundTripProperty) {
  FormatGenerator generator(20240611);
  for (int round = 0; round < 100; ++round) {
    const GenFormat format = generator.Format();
    std::vector<Bytes> records(1 + generator.Pick(20));
    for (Bytes& r : records)
      r = generator.Record(format);
    WriteFileBytes(dir / "in.pdb", BuildPdb(RecordsPdb(records)));
    Outcome run = Larkconv(dir.Path(), {"-pdb", format.text, "in.pdb", "mid.csv"});
    ASSERT_EQ(run.status, 0) << format.text << run.out;
    run = Larkconv(dir.Path(), {"-csv", "-c", "Test", format.text, "mid.csv", "out.pdb"});
    ASSERT_EQ(run.status, 0) << format.text << run.out;
    ASSERT_EQ(RecordsOf(dir / "out.pdb"), records) << "format " << format.text << "\n"
                                                   << ReadFileText(dir / "mid.csv");
  }
}

// Inputs large enough to be converted in pieces on two threads fail exactly
// where one converted record by record would: at the first record or row that
// meets a fault, leaving the destination as it was.
TEST_F(FormatE2e, LargeInputsFailWhereSmallOnesDo) {
  std::vector<Bytes> records(6000, B({1}));
  records[5000] = B({1, 2, 3, 4, 5});  // the first record to reach the "x"
  WriteFileBytes(dir / "in.pdb", BuildPdb(RecordsPdb(records)));
  WriteFileText(dir / "old.csv", "\"old\"\n");
  Outcome run = Larkconv(dir.Path(), {"-pdb", "-a", "bi.x", "in.pdb", "old.csv"});
  EXPECT_EQ(run.out, "ZelError: invalid format string\n");
  EXPECT_EQ(ReadFileText(dir / "old.csv"), "\"old\"\n");
  EXPECT_EQ(Larkconv(dir.Path(), {"-pdb", "-r0-4999", "bi.x", "in.pdb", "out.csv"}).status, 0);
  std::string lines;
  for (int i = 0; i < 5000; ++i)
    lines += "\"1\"\n";
  EXPECT_EQ(ReadTextFile(dir / "out.csv"), lines);

  // 40000 rows; row 36000 reaches the fault, after the record limit unless
  // the range starts late enough.
  std::string csv;
  for (int row = 0; row < 40000; ++row)
    csv += row == 36000 ? "1,2,x\n" : "\"" + std::string(56, 'a') + "\"\n";
  WriteFileText(dir / "in.csv", csv);
  run = Larkconv(dir.Path(), {"-csv", "-c", "Test", "szbi.x", "in.csv", "out.pdb"});
  EXPECT_EQ(run.out, "ZelError: pdb cannot hold more than 32767 records\n");
  run = Larkconv(dir.Path(), {"-csv", "-c", "Test", "-r3300-", "szbi.x", "in.csv", "out.pdb"});
  EXPECT_EQ(run.out, "ZelError: invalid format string\n");
  EXPECT_FALSE(fs::exists(dir / "out.pdb"));

  // A quote opened on row 39900 that the file never closes.
  csv.resize(csv.size() - 100 * 59);
  csv += "\"open\n";
  for (int row = 1; row < 100; ++row)
    csv += "more\n";
  WriteFileText(dir / "in.csv", csv);
  run = Larkconv(dir.Path(), {"-csv", "-c", "Test", "-r10000-", "sz", "in.csv", "out.pdb"});
  EXPECT_EQ(run.out, "ZelError: unterminated quoted field in source csv row 39900\n");
  EXPECT_FALSE(fs::exists(dir / "out.pdb"));
}

// Messy CSV text: fields bare and quoted, doubled quotes, quoted line ends
// (some CR LF), CR LF rows, zero bytes, empty lines, a DOS end-of-file mark,
// and one field of most of a megabyte over many lines; with accented, also
// UTF-8 text of letters code page 1252 holds.
std::string MessyCsv(FormatGenerator& random, int rows, bool accented = false) {
  static const char* const kFields[] = {"12",
                                        "-7",
                                        "\"3\"",
                                        "x",
                                        "",
                                        "\"a,b\"",
                                        "\"a\"\"b\"",
                                        "\"\"",
                                        "ab\"c",
                                        "\"ab\"cd",
                                        "\"l1\nl2\"",
                                        "\"l1\r\n\"",
                                        "\"\n\n\"",
                                        "9999999999",
                                        " 4",
                                        "1.5e3",
                                        "\"\"\"\"",
                                        "\r",
                                        "a\rb",
                                        "\x1A",
                                        "Caf\xC3\xA9",
                                        "\"\xE2\x82\xAC,\n\xC3\xBC\"\"\"",
                                        "\xC3\x9F\xC2\x81x"};
  std::string text;
  for (int row = 0; row < rows; ++row) {
    const int fields = random.Pick(8);
    for (int i = 0; i < fields; ++i) {
      if (i > 0) text += ',';
      text += kFields[random.Pick(accented ? 23 : 20)];
    }
    if (random.Pick(200) == 0) text += std::string("z\0z", 3);
    if (row == rows / 3)
      text += "\"" + std::string(300000, 'w') + "\n" + std::string(300000, 'v') + "\"";
    text += random.Pick(3) == 0 ? "\r\n" : "\n";
  }
  if (random.Pick(2)) text += random.Pick(2) ? "\x1A" : "5,\"end\"";
  return text;
}

// The records of the rows from first to last (-1: to the end) of the CSV
// file, converted row by row as CsvFile reads them, their text to set.
std::vector<Bytes> RowByRow(const fs::path& path, const std::string& format, int first, int last,
                            Charset set = Charset::None) {
  CsvFile csv;
  EXPECT_TRUE(csv.Open(path.string(), "r"));
  PdbDatabase db;
  db.SetResourceDb(false);
  ParsedFormat parsed(format, set);
  for (int row = 0; (last == -1 || row <= last) && csv.ReadLine(); ++row) {
    if (row >= first) RowToRecord(csv, db, parsed);
  }
  EXPECT_FALSE(csv.RowUnterminated());
  return RecordsOf(db);
}

// Large CSV files of every kind of row, converted in pieces of whole lines
// on two threads (a row over several pieces read again with the next),
// give the records a row-by-row conversion gives, also with -e cp1252.
TEST_F(FormatE2e, LargeCsvConvertsAsRowByRow) {
  FormatGenerator random(20261208);
  for (int round = 0; round < 8; ++round) {
    const bool coded = round >= 6;
    WriteFileText(dir / "in.csv", MessyCsv(random, 30000, coded));
    const std::string format = round == 0 ? "sz" : round == 1 ? "bi2f(cl3)" : random.Format().text;
    const int first = round < 3 ? 0 : random.Pick(20000);
    const int last = round % 2 == 0 ? -1 : first + random.Pick(20000);
    std::string range = "-r" + std::to_string(first) + "-";
    if (last != -1) range += std::to_string(last);
    std::vector<std::string> args = {"-csv", "-c", "Test", range, format, "in.csv", "out.pdb"};
    if (coded) args.insert(args.begin() + 1, {"-e", "cp1252"});
    const Outcome run = Larkconv(dir.Path(), args);
    ASSERT_EQ(run.out, "") << format;
    const std::vector<Bytes> got = RecordsOf(dir / "out.pdb");
    const std::vector<Bytes> want =
        RowByRow(dir / "in.csv", format, first, last, coded ? Charset::Cp1252 : Charset::None);
    ASSERT_EQ(got.size(), want.size()) << format << " " << range;
    const auto differ = std::mismatch(got.begin(), got.end(), want.begin());
    EXPECT_TRUE(differ.first == got.end())
        << format << " " << range << ": record " << differ.first - got.begin() << " differs";
  }
}

// The largest database converts in both directions in a fraction of a second
// (the bound is loose, for slow and sanitizer builds; quadratic work breaks it).
TEST_F(FormatE2e, LargestDatabaseConvertsQuickly) {
  std::vector<Bytes> records;
  for (int i = 0; i < 32767; ++i) {
    records.push_back(Cat({B({0, 0, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)}),
                           B({0x42, 0xC8, 0x80, 0x00}), TextBytes("name " + std::to_string(i)), B({0}),
                           B({static_cast<uint8_t>(i), 0x20})}));
  }
  WriteFileBytes(dir / "big.pdb", BuildPdb(RecordsPdb(records)));
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(Larkconv(dir.Path(), {"-pdb", "ifszbc", "big.pdb", "big.csv"}).status, 0);
  const auto middle = std::chrono::steady_clock::now();
  ASSERT_EQ(Larkconv(dir.Path(), {"-csv", "-c", "Test", "ifszbc", "big.csv", "out.pdb"}).status, 0);
  const auto end = std::chrono::steady_clock::now();
  EXPECT_EQ(RecordsOf(dir / "out.pdb"), records);
  const double toCsv = std::chrono::duration<double>(middle - start).count();
  const double toPdb = std::chrono::duration<double>(end - middle).count();
  std::printf("32767 records: -pdb %.3f s, -csv %.3f s\n", toCsv, toPdb);
  EXPECT_LT(toCsv, 5.0);
  EXPECT_LT(toPdb, 5.0);
}

}  // namespace
