// Runs the built larkconv program with -e: the text of records in the
// device's character set, CSV files in UTF-8, in both directions, in small
// runs and in large ones converted in pieces on two threads.

#include <gtest/gtest.h>

#include <algorithm>

#include "charset.h"
#include "csv.h"
#include "format.h"
#include "pdb.h"
#include "testing/child_runs.h"
#include "testing/format_generator.h"
#include "testing/pdb_builder.h"

using namespace larkconv;
using namespace larkconv_testing;

namespace {

const std::string kMark = "\xEF\xBB\xBF";

Bytes Z(const std::string& text) {  // with its terminating zero
  Bytes b = TextBytes(text);
  b.push_back(0);
  return b;
}

class CharsetE2e : public ::testing::Test {
 protected:
  Outcome Larkconv(const std::vector<std::string>& args) { return RunLarkconv(dir.Path(), args); }

  ScratchDir dir;
};

TEST_F(CharsetE2e, PdbToCsvWritesUtf8AfterAMarkInAFileItStarts) {
  // c, sz, b, s6 (its text ends at the zero byte): every byte 80-FF reads as
  // a character, the five unassigned ones as U+0081 and so on.
  const Bytes record = {0xE9, 'C',  'a', 'f',  0xE9, '"', 0x80, 0x81, 0x9D,
                        0,    0xE9, 'n', 0xFC, 0,    'x', 'y',  'z'};
  WriteFileBytes(dir / "in.pdb", BuildPdb(RecordsPdb({record})));
  const std::string row =
      "\"\xC3\xA9\",\"Caf\xC3\xA9\"\"\xE2\x82\xAC\xC2\x81\xC2\x9D\",\"233\",\"n\xC3\xBC\"\n";
  Outcome run = Larkconv({"-pdb", "-e", "cp1252", "cszbs6", "in.pdb", "out.csv"});
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(ReadTextFile(dir / "out.csv"), kMark + row);
  // Appended to a file with bytes in it: no mark; to an empty or missing one: the mark.
  run = Larkconv({"-pdb", "-a", "-e", "cp1252", "cszbs6", "in.pdb", "out.csv"});
  EXPECT_EQ(ReadTextFile(dir / "out.csv"), kMark + row + row);
  WriteFileText(dir / "empty.csv", "");
  for (const char* name : {"empty.csv", "new.csv"}) {
    Larkconv({"-pdb", "-a", "-e", "cp1252", "cszbs6", "in.pdb", name});
    EXPECT_EQ(ReadTextFile(dir / name), kMark + row) << name;
  }
  // Nothing converted still starts the file with the mark; without -e bytes
  // go as they are.
  Larkconv({"-pdb", "-r1-", "-e", "cp1252", "cszbs6", "in.pdb", "out.csv"});
  EXPECT_EQ(ReadTextFile(dir / "out.csv"), kMark);
  Larkconv({"-pdb", "cszbs6", "in.pdb", "out.csv"});
  EXPECT_EQ(ReadTextFile(dir / "out.csv"),
            "\"\xE9\",\"Caf\xE9\"\"\x80\x81\x9D\",\"233\",\"n\xFC\"\n");
}

TEST_F(CharsetE2e, RecordNotValidCp932StopsTheRun) {
  const Bytes kana = {0xB1, 0x82, 0xA0, 0};  // ｱあ
  const std::vector<Bytes> records = {kana, kana, {'a', 0x82, 0}, {0x85, 0x40, 0}};
  WriteFileBytes(dir / "in.pdb", BuildPdb(RecordsPdb(records)));
  WriteFileText(dir / "old.csv", "\"old\"\n");
  for (const char* range : {"-r0-", "-r1-", "-r2-3"}) {
    Outcome run = Larkconv({"-pdb", "-a", "-e", "cp932", range, "sz", "in.pdb", "old.csv"});
    EXPECT_EQ(run.out, "ZelError: record 2 is not valid cp932 text\n") << range;
    EXPECT_EQ(run.status, kFailedStatus);
  }
  EXPECT_EQ(ReadFileText(dir / "old.csv"), "\"old\"\n");
  Outcome run = Larkconv({"-pdb", "-e", "cp932", "-r3", "sz", "in.pdb", "new.csv"});
  EXPECT_EQ(run.out, "ZelError: record 3 is not valid cp932 text\n");
  EXPECT_FALSE(fs::exists(dir / "new.csv"));
  // A Char field holding a lead byte alone is no text either.
  EXPECT_EQ(Larkconv({"-pdb", "-e", "cp932", "-r3", "c", "in.pdb", "new.csv"}).out,
            "ZelError: record 3 is not valid cp932 text\n");
  EXPECT_EQ(Larkconv({"-pdb", "-e", "cp932", "-r0-1", "sz", "in.pdb", "new.csv"}).status, 0);
  EXPECT_EQ(ReadTextFile(dir / "new.csv"),
            kMark + "\"\xEF\xBD\xB1\xE3\x81\x82\"\n\"\xEF\xBD\xB1\xE3\x81\x82\"\n");
}

TEST_F(CharsetE2e, CsvToPdbConvertsTextBeforeTheLengthRules) {
  // The mark at the very start is skipped; fixed lengths count the device's
  // bytes and never end in half a character; integers and floats are numbers.
  WriteFileText(dir / "in.csv", kMark + "\"a\xE3\x81\x82\xE3\x81\x84\",\xEF\xBD\xB1,7,1.5,x\n" +
                                    "a\xE3\x81\x82,,-1,2,a\xE3\x81\x82\n");
  Outcome run = Larkconv({"-csv", "-c", "Test", "-e", "cp932", "s4cbfs2", "in.csv", "out.pdb"});
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(RecordsOf(dir / "out.pdb"),
            (std::vector<Bytes>{{'a', 0x82, 0xA0, 0, 0xB1, 7, 0x3F, 0xC0, 0, 0, 'x', 0},
                                {'a', 0x82, 0xA0, 0, 0, 0xFF, 0x40, 0, 0, 0, 'a', 0}}));
  WriteFileText(dir / "in.csv", kMark + "Caf\xC3\xA9,\xE2\x82\xAC\xC2\x81 and more\n");
  run = Larkconv({"-csv", "-c", "Test", "-e", "CP1252", "szc", "in.csv", "out.pdb"});
  EXPECT_EQ(RecordsOf(dir / "out.pdb"), (std::vector<Bytes>{{'C', 'a', 'f', 0xE9, 0, 0x80}}));
  // Without -e the mark and the UTF-8 stay bytes of the text.
  run = Larkconv({"-csv", "-c", "Test", "s5", "in.csv", "out.pdb"});
  EXPECT_EQ(RecordsOf(dir / "out.pdb"), (std::vector<Bytes>{TextBytes(kMark + "Ca")}));
}

TEST_F(CharsetE2e, CsvTextThatDoesNotConvertStopsTheRun) {
  const Bytes old = BuildPdb(RecordsPdb({TextBytes("old")}));
  WriteFileBytes(dir / "dest.pdb", old);
  // Integer fields are not text: bytes that are not UTF-8 there read as 0.
  WriteFileText(dir / "in.csv", "a,\xFF\n\xC3\xA9,1\n" + kMark + "x,2\nb\xFF,3\n\xE3\x81\x82,4\n");
  const struct {
    const char* range;
    const char* set;
    std::string message;
  } cases[] = {
      {"-r0-", "cp1252", "U+FEFF cannot be written in cp1252, source csv row 2"},
      {"-r3-", "cp1252", "invalid UTF-8 in source csv row 3"},
      {"-r4-", "cp1252", "U+3042 cannot be written in cp1252, source csv row 4"},
      {"-r0-", "cp932", "U+00E9 cannot be written in cp932, source csv row 1"},
  };
  for (const auto& c : cases) {
    Outcome run = Larkconv({"-csv", "-a", "-e", c.set, c.range, "szb", "in.csv", "dest.pdb"});
    EXPECT_EQ(run.out, "ZelError: " + c.message + "\n") << c.range;
    EXPECT_EQ(run.status, kFailedStatus);
    run = Larkconv({"-csv", "-c", "Test", "-e", c.set, c.range, "szb", "in.csv", "new.pdb"});
    EXPECT_EQ(run.out, "ZelError: " + c.message + "\n") << c.range;
  }
  EXPECT_EQ(ReadFileBytes(dir / "dest.pdb"), old);
  EXPECT_FALSE(fs::exists(dir / "new.pdb"));
  // A Char field takes one byte of the set, or fails.
  WriteFileText(dir / "in.csv", "\xEF\xBD\xB1\xE3\x81\x82\n\xE3\x81\x82\n");
  EXPECT_EQ(Larkconv({"-csv", "-c", "Test", "-e", "cp932", "c", "in.csv", "new.pdb"}).out,
            "ZelError: U+3042 cannot be written in cp932, source csv row 1\n");
  EXPECT_EQ(Larkconv({"-csv", "-c", "Test", "-e", "cp932", "-r0", "c", "in.csv", "new.pdb"}).out,
            "");
  EXPECT_EQ(RecordsOf(dir / "new.pdb"), (std::vector<Bytes>{{0xB1}}));
}

// Writes the text fields of record (made by generator for format, any
// bytes) anew as valid cp932 text of the same lengths: single bytes, and
// double-byte codes that come back as themselves.
void MakeCp932Text(const GenFormat& format, FormatGenerator& random, Bytes* record) {
  static const char kSingles[] = "ab\",\n\x1A \xA1\xB1\xDF\x80\xA0\xFD";
  auto single = [&] { return static_cast<uint8_t>(kSingles[random.Pick(sizeof kSingles - 1)]); };
  size_t at = 0;
  for (size_t i = 0; at < record->size(); ++i) {
    const GenField& field = *format.FieldAt(i);
    uint8_t* p = record->data() + at;
    size_t size = static_cast<size_t>(field.size);
    if (field.kind == 's' && size == 0)
      size = static_cast<size_t>(std::find(p, record->data() + record->size(), 0) - p) + 1;
    at += size;
    if (field.kind == 'c' && p[0] != 0) p[0] = single();
    if (field.kind != 's') continue;
    size_t text = static_cast<size_t>(std::find(p, p + size, 0) - p);
    for (size_t j = 0; j < text; ++j) {
      uint8_t pair[2] = {static_cast<uint8_t>(0x88 + random.Pick(8)),
                         static_cast<uint8_t>(0x9F + random.Pick(0x5D))};
      if (j + 1 < text && random.Pick(2)) {  // kanji of JIS level 1: 889F to 9FFC
        char utf8[6];
        char* end = DecodeText(Charset::Cp932, pair, 2, utf8);
        uint8_t back[2] = {0, 0};
        if (EncodeText(Charset::Cp932, utf8, static_cast<size_t>(end - utf8), back, 2) == 2 &&
            back[0] == pair[0] && back[1] == pair[1]) {
          p[j] = pair[0];
          p[++j] = pair[1];
          continue;
        }
      }
      p[j] = single();
    }
  }
}

// Databases of random formats and records go to CSV and back unchanged: with
// cp1252 any record bytes (as far as they come back without -e), with cp932
// any valid text.
TEST_F(CharsetE2e, RoundTripProperty) {
  FormatGenerator generator(20261209);
  for (int round = 0; round < 60; ++round) {
    const bool cp932 = round % 2 == 1;
    const GenFormat format = generator.Format();
    std::vector<Bytes> records(1 + generator.Pick(20));
    for (Bytes& r : records) {
      r = generator.Record(format);
      if (cp932) MakeCp932Text(format, generator, &r);
    }
    WriteFileBytes(dir / "in.pdb", BuildPdb(RecordsPdb(records)));
    const char* set = cp932 ? "cp932" : "cp1252";
    Outcome run = Larkconv({"-pdb", "-e", set, format.text, "in.pdb", "mid.csv"});
    ASSERT_EQ(run.out, "") << format.text;
    run = Larkconv({"-csv", "-c", "Test", "-e", set, format.text, "mid.csv", "out.pdb"});
    ASSERT_EQ(run.out, "") << format.text;
    ASSERT_EQ(RecordsOf(dir / "out.pdb"), records) << set << " format " << format.text;
  }
}

// Large inputs, converted in pieces on two threads, give what one converted
// record by record or row by row gives, and fail at the first faulty record
// or row in their order, whichever piece holds it.
TEST_F(CharsetE2e, LargeInputsConvertAndFailAsSmallOnes) {
  std::vector<Bytes> records(6000, Z("Caf\xE9 \x80"));
  WriteFileBytes(dir / "in.pdb", BuildPdb(RecordsPdb(records)));
  ASSERT_EQ(Larkconv({"-pdb", "-e", "cp1252", "sz", "in.pdb", "out.csv"}).status, 0);
  std::string lines = kMark;
  for (size_t i = 0; i < records.size(); ++i)
    lines += "\"Caf\xC3\xA9 \xE2\x82\xAC\"\n";
  EXPECT_EQ(ReadTextFile(dir / "out.csv"), lines);
  records.assign(6000, Z("\xB1\x82\xA0"));
  records[5000] = records[5500] = {0x82};
  WriteFileBytes(dir / "in.pdb", BuildPdb(RecordsPdb(records)));
  EXPECT_EQ(Larkconv({"-pdb", "-e", "cp932", "-r4000-", "sz", "in.pdb", "out.csv"}).out,
            "ZelError: record 5000 is not valid cp932 text\n");

  // 40000 rows; rows 20000 (in a row of several lines) and 36000 hold a
  // character cp1252 lacks, row 30000 bytes that are not UTF-8.
  std::string csv;
  for (int row = 0; row < 40000; ++row) {
    if (row == 20000) {
      csv += "\"multi\nline \xE3\x81\x82\",1\n";
    } else if (row == 30000) {
      csv += "\xC3\n";
    } else {
      csv += "\"Caf\xC3\xA9 " + std::to_string(row % 100) + "\"," +
             (row == 36000 ? "\xE2\x86\x90" : "2") + "\n";
    }
  }
  WriteFileText(dir / "in.csv", csv);
  const struct {
    const char* range;
    std::string out;
  } cases[] = {{"-r10000-", "ZelError: U+3042 cannot be written in cp1252, source csv row 20000\n"},
               {"-r20001-", "ZelError: invalid UTF-8 in source csv row 30000\n"},
               {"-r30001-", "ZelError: U+2190 cannot be written in cp1252, source csv row 36000\n"},
               {"-r30001-35999", ""}};
  for (const auto& c : cases) {
    const Outcome run =
        Larkconv({"-csv", "-c", "Test", "-e", "cp1252", c.range, "szc", "in.csv", "out.pdb"});
    EXPECT_EQ(run.out, c.out) << c.range;
  }
  const std::vector<Bytes> got = RecordsOf(dir / "out.pdb");
  ASSERT_EQ(got.size(), 5999u);
  EXPECT_EQ(got[0], (Bytes{'C', 'a', 'f', 0xE9, ' ', '1', 0, '2'}));
  EXPECT_EQ(got[5998], (Bytes{'C', 'a', 'f', 0xE9, ' ', '9', '9', 0, '2'}));
}

}  // namespace
