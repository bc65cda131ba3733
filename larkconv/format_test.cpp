#include "format.h"

#include <gtest/gtest.h>

#include <random>

#include "ZelError.h"
#include "testing/format_generator.h"
#include "testing/pdb_builder.h"

using namespace larkconv;
using namespace larkconv_testing;

namespace {

// The first fields a reader made by make gives, as "I4 C1 F4 S0 ...", then
// "end" when they end, "..." when there are more, or "!message" when making
// or reading throws.
template <typename MakeReader>
std::string DescribeFields(MakeReader make, int most) {
  std::string out;
  try {
    auto fields = make();
    FieldKind kind;
    int32_t size;
    for (int i = 0; i < most; ++i) {
      if (!fields.NextField(&kind, &size)) return out + "end";
      out += "ICFS"[static_cast<int>(kind)] + std::to_string(size) + " ";
    }
    return out + "...";
  } catch (const ZelError& error) {
    return out + "!" + error.Message();
  }
}

// The first fields of format, read by a RecordFormat.
std::string Describe(const std::string& format, int most = 8) {
  return DescribeFields([&format] { return RecordFormat(format); }, most);
}

const char* const kInvalid = "!invalid format string";

// As Describe, for the fields a FieldCursor, or a FlatCursor when flat, takes
// from parsed.
std::string DescribeParsed(const ParsedFormat& parsed, int most, bool flat = false) {
  if (flat) return DescribeFields([&parsed] { return FlatCursor(parsed); }, most);
  return DescribeFields([&parsed] { return FieldCursor(parsed); }, most);
}

TEST(RecordFormat, ItemsAndSizes) {
  EXPECT_EQ(Describe("bwifc"), "I1 I2 I4 F4 C1 end");
  EXPECT_EQ(Describe("i4"), "I4 end");
  EXPECT_EQ(Describe("i2"), "I2 end");
  EXPECT_EQ(Describe("i1"), "I1 end");
  for (const char* zeroTerminated : {"s", "sz", "s0", "l", "lz", "l0", "s00"}) {
    EXPECT_EQ(Describe(zeroTerminated), "S0 end") << zeroTerminated;
  }
  EXPECT_EQ(Describe("s12"), "S12 end");
  EXPECT_EQ(Describe("l12"), "S12 end");
  EXPECT_EQ(Describe("s012"), "S12 end");
  EXPECT_EQ(Describe("s2147483647"), "S2147483647 end");
}

TEST(RecordFormat, RepeatCountsAndSeparators) {
  EXPECT_EQ(Describe("3i"), "I4 I4 I4 end");
  EXPECT_EQ(Describe("i.i.i"), "I4 I4 I4 end");
  EXPECT_EQ(Describe("iii"), "I4 I4 I4 end");
  EXPECT_EQ(Describe("i3b"), "I4 I1 I1 I1 end");
  EXPECT_EQ(Describe("i3"), std::string("I4 ") + kInvalid);
  EXPECT_EQ(Describe("s10.5i"), "S10 I4 I4 I4 I4 I4 end");
  EXPECT_EQ(Describe("s105i"), "S105 I4 end");
  EXPECT_EQ(Describe("i.2c"), "I4 C1 C1 end");
  EXPECT_EQ(Describe("i2c"), "I2 C1 end");
  EXPECT_EQ(Describe("i4.b"), "I4 I1 end");
  EXPECT_EQ(Describe("s.b"), "S0 I1 end");
  EXPECT_EQ(Describe("s5."), "S5 end");
  EXPECT_EQ(Describe("i."), "I4 end");
  EXPECT_EQ(Describe("2s3"), "S3 S3 end");
  EXPECT_EQ(Describe("3sz2c"), "S0 S0 S0 C1 C1 end");
  EXPECT_EQ(Describe("01b"), "I1 end");
  EXPECT_EQ(Describe("2147483647b", 3), "I1 I1 I1 ...");
}

TEST(RecordFormat, SeparatorOnlyWhereAllowed) {
  for (const char* format : {"b.i", "w.i", "c.i", "f.i", "sz.i", "lz.i", "i..i", "s5..i"}) {
    const std::string got = Describe(format);
    EXPECT_EQ(got.substr(got.find('!')), kInvalid) << format;
    EXPECT_EQ(got.find(' '), 2u) << format;  // one field came before the fault
  }
}

TEST(RecordFormat, HeadAndEndlessGroup) {
  EXPECT_EQ(Describe("w(bf)", 5), "I2 I1 F4 I1 F4 ...");
  EXPECT_EQ(Describe("(i)", 3), "I4 I4 I4 ...");
  EXPECT_EQ(Describe("(2i)", 3), "I4 I4 I4 ...");
  EXPECT_EQ(Describe("i()"), "I4 end");
  EXPECT_EQ(Describe("()"), "end");
  EXPECT_EQ(Describe("())"), "end");
  EXPECT_EQ(Describe("i(b)x", 3), "I4 I1 I1 ...");
  EXPECT_EQ(Describe("(i))(x", 2), "I4 I4 ...");
  EXPECT_EQ(Describe("i(b"), kInvalid);
  EXPECT_EQ(Describe("("), kInvalid);
  EXPECT_EQ(Describe("i)"), std::string("I4 ") + kInvalid);
  EXPECT_EQ(Describe("(i(b)"), std::string("I4 ") + kInvalid);
  EXPECT_EQ(Describe("2(i)"), kInvalid);
  EXPECT_EQ(Describe("b(i.x)"), std::string("I1 I4 ") + kInvalid);
}

TEST(RecordFormat, EndedFormatStaysEnded) {
  RecordFormat fields("b");
  FieldKind kind;
  int32_t size;
  EXPECT_TRUE(fields.NextField(&kind, &size));
  EXPECT_FALSE(fields.NextField(&kind, &size));
  EXPECT_FALSE(fields.NextField(&kind, &size));
}

TEST(RecordFormat, FaultsFoundWhenReached) {
  EXPECT_EQ(Describe(""), "!missing format specifier");
  for (const char* format : {"I", "d", "x", " ", ".", "z", ")", "B", "\ti", "0i", "00i", "3"}) {
    EXPECT_EQ(Describe(format), kInvalid) << format;
  }
  EXPECT_EQ(Describe("iz"), std::string("I4 ") + kInvalid);
  EXPECT_EQ(Describe("s z"), std::string("S0 ") + kInvalid);
  EXPECT_EQ(Describe("i0b"), std::string("I4 ") + kInvalid);  // a count of 0
  EXPECT_EQ(Describe("bbb x"), std::string("I1 I1 I1 ") + kInvalid);
}

TEST(RecordFormat, CountsAndLengthsOf2To31AreRejected) {
  EXPECT_EQ(Describe("2147483648b"), kInvalid);
  EXPECT_EQ(Describe("4294967297b"), kInvalid);  // would wrap to 1 in 32 bits
  EXPECT_EQ(Describe("99999999999999999999999i"), kInvalid);
  EXPECT_EQ(Describe("s2147483648"), kInvalid);
  EXPECT_EQ(Describe("s4294967300"), kInvalid);
  EXPECT_EQ(Describe("b(l99999999999999999999)"), std::string("I1 ") + kInvalid);
}

// One ParsedFormat, walked again and again as the converters walk it for one
// record after another, gives the fields and faults RecordFormat gives afresh,
// however far each walk goes; faults come again on every walk that reaches them.
// A format without a fault is flat, and its lists of fields give the same.
TEST(ParsedFormat, WalksGiveWhatRecordFormatGives) {
  std::mt19937 rng(16);
  static const char kChars[] = "bwicfslz0123.()x";
  int flat = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string format;
    for (uint32_t n = rng() % 9; n > 0; --n)
      format += kChars[rng() % (sizeof kChars - 1)];
    ParsedFormat parsed(format);
    flat += parsed.IsFlat();
    for (int most : {2, 12, 1, 12}) {
      ASSERT_EQ(DescribeParsed(parsed, most), Describe(format, most)) << format;
      if (parsed.IsFlat()) {
        ASSERT_EQ(DescribeParsed(parsed, most, true), Describe(format, most)) << format;
      }
    }
  }
  EXPECT_GT(flat, 1000);
  // A fault anywhere, however far, or too many fields to list, and the
  // FieldCursor walks the items instead.
  EXPECT_TRUE(ParsedFormat("bw(4ic)").IsFlat());
  EXPECT_TRUE(ParsedFormat("4096b").IsFlat());
  for (const char* walked : {"b3000ix", "b(wx)", "b(w", "", "4097b", "4000b(97cx)"})
    EXPECT_FALSE(ParsedFormat(walked).IsFlat()) << walked;
}

// A cursor inside a repeated item keeps its place while another cursor walks on.
TEST(ParsedFormat, CursorsMayBeInterleaved) {
  ParsedFormat parsed("3wbcfszi2i1s7l9wcbf");
  FieldCursor slow(parsed);
  FieldCursor fast(parsed);
  FieldKind kind;
  int32_t size;
  ASSERT_TRUE(slow.NextField(&kind, &size));
  for (int i = 0; i < 15; ++i)
    ASSERT_TRUE(fast.NextField(&kind, &size));
  EXPECT_FALSE(fast.NextField(&kind, &size));
  std::string rest;
  while (slow.NextField(&kind, &size))
    rest += "ICFS"[static_cast<int>(kind)] + std::to_string(size) + " ";
  EXPECT_EQ(rest, "I2 I2 I1 C1 F4 S0 I2 I1 S7 S9 I2 C1 I1 F4 ");
}

// ---------------------------------------------------------------------------
// Record to row and row to record, on real files.

/// A scratch directory with one CSV file, through which the converter tests
/// run RecordToRow and RowToRecord on real files.
class ConverterTest : public ::testing::Test {
 protected:
  // The CSV text RecordToRow writes for record.
  std::string Row(const Bytes& record, const std::string& format) {
    {
      CsvFile csv;
      EXPECT_TRUE(csv.Open(CsvPath(), "w"));
      PdbRecord r;
      r.length = static_cast<int32_t>(record.size());
      r.bytes = record.data();
      EXPECT_TRUE(RecordToRow(r, csv, format));
    }
    return ReadTextFile(CsvPath());
  }

  // The records RowToRecord appends for each line of text.
  std::vector<Bytes> Records(const std::string& text, const std::string& format) {
    WriteFileText(CsvPath(), text);
    CsvFile csv;
    EXPECT_TRUE(csv.Open(CsvPath(), "r"));
    PdbDatabase db;
    db.SetResourceDb(false);
    while (csv.ReadLine())
      EXPECT_TRUE(RowToRecord(csv, db, format));
    return RecordsOf(db);
  }

  Bytes Record(const std::string& line, const std::string& format) {
    const std::vector<Bytes> records = Records(line + "\n", format);
    EXPECT_EQ(records.size(), 1u);
    return records.empty() ? Bytes{} : records[0];
  }

  std::string CsvPath() const { return (dir / "data.csv").string(); }

  ScratchDir dir;
};

Bytes B(std::initializer_list<int> bytes) {
  Bytes out;
  for (int b : bytes)
    out.push_back(static_cast<uint8_t>(b));
  return out;
}

TEST_F(ConverterTest, RecordIntegers) {
  const Bytes record = B({0x00, 0x00, 0x01, 0x00, 0xFF, 0xFF});
  EXPECT_EQ(Row(record, "i"), "\"256\"\n");
  EXPECT_EQ(Row(record, "(w)"), "\"0\",\"256\",\"-1\"\n");
  EXPECT_EQ(Row(B({0x80, 0xFF, 0xFE}), "bw"), "\"128\",\"-2\"\n");
  EXPECT_EQ(Row(B({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), "i1i2i4"),
            "\"255\",\"-1\",\"-1\"\n");
  EXPECT_EQ(Row(B({0x80, 0, 0, 0, 0x7F, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0x80, 0}), "iiww"),
            "\"-2147483648\",\"2147483647\",\"32767\",\"-32768\"\n");
}

TEST_F(ConverterTest, RecordFieldsThatDoNotFitEndTheRow) {
  EXPECT_EQ(Row(B({0, 0, 0, 1, 0, 0, 0, 2, 9, 9}), "(i)"), "\"1\",\"2\"\n");
  EXPECT_EQ(Row(TextBytes("abc"), "s4"), "\n");
  EXPECT_EQ(Row(TextBytes("abc"), "cs4c"), "\"a\"\n");
  EXPECT_EQ(Row({}, "i"), "\n");
  EXPECT_EQ(Row({}, "(f)"), "\n");
  EXPECT_EQ(Row({}, "sz"), "\n");
  EXPECT_EQ(Row(B({1, 2, 3}), "()"), "\n");
}

TEST_F(ConverterTest, RecordCharsAndStrings) {
  EXPECT_EQ(Row(B({0}), "c"), "\"\"\n");
  EXPECT_EQ(Row(TextBytes("x\ny"), "3c"), "\"x\",\"\n\",\"y\"\n");
  EXPECT_EQ(Row(TextBytes(std::string("ab\0cd\0e", 7)), "(sz)"), "\"ab\",\"cd\",\"e\"\n");
  EXPECT_EQ(Row(TextBytes(std::string("ab\0x", 4)), "s4"), "\"ab\"\n");
  EXPECT_EQ(Row(TextBytes(std::string("abc\0\0\0\0\0\0\0", 10)), "s10"), "\"abc\"\n");
  EXPECT_EQ(Row(TextBytes(std::string("\0\0", 2)), "szsz"), "\"\",\"\"\n");
  EXPECT_EQ(Row(TextBytes("say \"hi\""), "s8"), "\"say \"\"hi\"\"\"\n");
  EXPECT_EQ(Row(TextBytes("a,b"), "s"), "\"a,b\"\n");
}

TEST_F(ConverterTest, RecordFloats) {
  EXPECT_EQ(Row(B({0x3F, 0x80, 0, 0, 0x4E, 0x6E, 0x6B, 0x28, 0x80, 0, 0, 0}), "3f"),
            "\"1.\",\"1000000000\",\"-0.\"\n");
  EXPECT_EQ(Row(B({0x7F, 0x80, 0, 0, 0xFF, 0xC0, 0, 0, 0x3D, 0xCC, 0xCC, 0xCD}), "(f)"),
            "\"1.#INF\",\"-1.#IND\",\"0.1000000015\"\n");
}

TEST_F(ConverterTest, RecordFormatFaultsReachedOneFieldAhead) {
  EXPECT_THROW(Row(B({0, 0, 0, 5}), "i.x"), ZelError);
  EXPECT_EQ(ReadFileText(CsvPath()), "");  // the row under construction is not written
  EXPECT_EQ(Row(B({0, 5}), "i.x"), "\n");
  EXPECT_THROW(Row(B({1, 2}), "bbx"), ZelError);
  EXPECT_EQ(Row(B({1, 2}), "bbbx"), "\"1\",\"2\"\n");
  EXPECT_THROW(Row(B({1}), ""), ZelError);
}

TEST_F(ConverterTest, RowIntegersAreCutToTheirWidth) {
  EXPECT_EQ(Record("1,2,3", "(i)"), B({0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3}));
  EXPECT_EQ(Record("\"-1\",\"-2\"", "bw"), B({0xFF, 0xFF, 0xFE}));
  EXPECT_EQ(Record("256,300", "bb"), B({0x00, 0x2C}));
  EXPECT_EQ(Record("70000", "w"), B({0x11, 0x70}));
  EXPECT_EQ(Record("99999999999,-99999999999", "ii"), B({0x7F, 0xFF, 0xFF, 0xFF, 0x80, 0, 0, 0}));
  EXPECT_EQ(Record(" 12abc,x", "i1i2"), B({12, 0, 0}));
}

TEST_F(ConverterTest, RowFieldCountsAgainstTheFormat) {
  EXPECT_EQ(Record("7", "iii"), B({0, 0, 0, 7}));
  EXPECT_EQ(Record("1,2,3", "b"), B({1}));
  EXPECT_EQ(Record("", "i"), B({0, 0, 0, 0}));  // an empty line holds one empty field
  EXPECT_EQ(Record("1,", "(b)"), B({1, 0}));
}

TEST_F(ConverterTest, RowsYieldingNoBytesAppendEmptyRecords) {
  EXPECT_EQ(Record("1,2", "()"), Bytes{});
  EXPECT_EQ(Record(std::string("\0,5", 3), "i"), Bytes{});
  const std::vector<Bytes> records = Records("1\n2\n", "()");
  EXPECT_EQ(records, (std::vector<Bytes>{{}, {}}));
}

TEST_F(ConverterTest, RowCharsAndStrings) {
  EXPECT_EQ(Record("xyz,", "cc"), B({'x', 0}));
  EXPECT_EQ(Record("abcdef", "s4"), TextBytes("abcd"));
  EXPECT_EQ(Record("ab", "s4"), B({'a', 'b', 0, 0}));
  EXPECT_EQ(Record("\"\"", "s4"), B({0, 0, 0, 0}));
  EXPECT_EQ(Record("ab", "sz"), B({'a', 'b', 0}));
  EXPECT_EQ(Record("\"\",\"a,\"\"b\"", "szlz"), B({0, 'a', ',', '"', 'b', 0}));
  EXPECT_EQ(Record("abc,de", "s2s"), B({'a', 'b', 'd', 'e', 0}));
}

TEST_F(ConverterTest, RowFloats) {
  for (const char* one : {"1", "1.", "1e0", "1d0"}) {
    EXPECT_EQ(Record(one, "f"), B({0x3F, 0x80, 0, 0})) << one;
  }
  EXPECT_EQ(Record("0.1", "f"), B({0x3D, 0xCC, 0xCC, 0xCD}));
  EXPECT_EQ(Record("abc", "f"), B({0, 0, 0, 0}));
  EXPECT_EQ(Record("1e39,-1e39", "ff"), B({0x7F, 0x80, 0, 0, 0xFF, 0x80, 0, 0}));
  EXPECT_EQ(Record("\"-0.\",\"1.#INF\"", "ff"), B({0x80, 0, 0, 0, 0x7F, 0x80, 0, 0}));
}

TEST_F(ConverterTest, RowFormatFaultAppendsNothing) {
  WriteFileText(CsvPath(), "5\n");
  CsvFile csv;
  ASSERT_TRUE(csv.Open(CsvPath(), "r"));
  ASSERT_TRUE(csv.ReadLine());
  PdbDatabase db;
  db.SetResourceDb(false);
  EXPECT_THROW(RowToRecord(csv, db, "i.x"), ZelError);
  EXPECT_EQ(db.RecordCount(), 0);
  EXPECT_THROW(RowToRecord(csv, db, "(i"), ZelError);
  EXPECT_EQ(db.RecordCount(), 0);
}

// Records of random formats go to CSV and back unchanged; all rows share one
// file, each converted with its own format.
// A row read straight from its text gives RowToRecord's record, up to its
// line end; the rows that are not plain are declined, nothing appended.
TEST_F(ConverterTest, PlainRowsGiveWhatRowToRecordGives) {
  const std::string format = "i2sz(ci)";
  const struct {
    std::string line;
    bool plain;
  } kRows[] = {{"1,\"a\"\"b\",x,-2147483649\n", true},
               {"\"+7\",,\"\",\" 8\"\r\n", true},
               {"12345678901,a\rb,\"\"\"\",\n", true},
               {"9,z\r\n", true},
               {"1,\"a\"b,c\n", false},
               {"1,\"a\nb\",c\n", false},
               {"1,x\r,y\n", true},
               {std::string("1,a\0b\n", 7), false},
               {"1,x", false},
               {"\n", true}};
  for (const auto& row : kRows) {
    PdbDatabase plain;
    plain.SetResourceDb(false);
    ParsedFormat parsed(format);
    const std::string text = row.line + (row.line.back() == '\n' ? "next\n" : "");
    const char* next = PlainRowToRecord(text.c_str(), plain, parsed);
    ASSERT_EQ(next != nullptr, row.plain) << row.line;
    if (!next) {
      EXPECT_EQ(plain.RecordCount(), 0);
      continue;
    }
    EXPECT_EQ(next, text.c_str() + row.line.size()) << row.line;
    std::string normal = row.line;  // as CsvFile reads it: CR LF as LF
    if (normal.size() >= 2 && normal.compare(normal.size() - 2, 2, "\r\n") == 0)
      normal.erase(normal.size() - 2, 1);
    EXPECT_EQ(RecordsOf(plain), Records(normal, format)) << row.line;
  }
}

TEST_F(ConverterTest, RoundTripProperty) {
  FormatGenerator generator(12345);
  std::vector<GenFormat> formats;
  std::vector<Bytes> records;
  {
    CsvFile csv;
    ASSERT_TRUE(csv.Open(CsvPath(), "w"));
    for (int round = 0; round < 5000; ++round) {
      formats.push_back(generator.Format());
      records.push_back(generator.Record(formats.back()));
      PdbRecord r;
      r.length = static_cast<int32_t>(records.back().size());
      r.bytes = records.back().data();
      RecordToRow(r, csv, formats.back().text);
    }
  }
  CsvFile csv;
  ASSERT_TRUE(csv.Open(CsvPath(), "r"));
  PdbDatabase db;
  db.SetResourceDb(false);
  for (size_t i = 0; i < formats.size(); ++i) {
    ASSERT_TRUE(csv.ReadLine());
    const std::string row = csv.Line();
    RowToRecord(csv, db, formats[i].text);
    const PdbRecord* back = db.RecordAt(static_cast<uint32_t>(i));
    ASSERT_EQ(Bytes(back->bytes, back->bytes + back->length), records[i])
        << "format " << formats[i].text << ", row " << row;
  }
  EXPECT_FALSE(csv.ReadLine());
}

}  // namespace
