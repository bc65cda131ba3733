#include "csv.h"

#include <gtest/gtest.h>

#include <climits>

#include "testing/pdb_builder.h"

using namespace larkconv;
using namespace larkconv_testing;

namespace {

class CsvTest : public ::testing::Test {
 protected:
  // Opens a file holding text for reading.
  void OpenText(const std::string& text) {
    WriteFileText(dir / "in.csv", text);
    ASSERT_TRUE(csv.Open((dir / "in.csv").string(), "r"));
  }

  // Reads every field of the current line.
  std::vector<std::string> LineFields() {
    std::vector<std::string> fields;
    while (!csv.AtLineEnd())
      fields.push_back(csv.ReadField());
    return fields;
  }

  std::string Written() {
    csv.Close();
    return ReadTextFile(dir / "out.csv");
  }

  ScratchDir dir;
  CsvFile csv;
};

using Fields = std::vector<std::string>;

TEST_F(CsvTest, WrittenFieldsAreQuotedAndSeparatedByCommas) {
  ASSERT_TRUE(csv.Open((dir / "out.csv").string(), "w"));
  csv.AppendInt(5);
  csv.AppendText("say \"hi\"");
  csv.WriteLine();
  csv.AppendText("");
  csv.AppendInt(INT32_MIN);
  csv.AppendInt(INT32_MAX);
  csv.WriteLine();
  csv.WriteLine();  // a line with no fields
  csv.AppendText(std::string("ab\0cd", 5));
  csv.WriteLine();
  EXPECT_EQ(Written(),
            "\"5\",\"say \"\"hi\"\"\"\n"
            "\"\",\"-2147483648\",\"2147483647\"\n"
            "\n"
            "\"ab\"\n");
}

TEST_F(CsvTest, AppendModeKeepsWhatTheFileHeld) {
  WriteFileText(dir / "out.csv", "\"old\"\n");
  ASSERT_TRUE(csv.Open((dir / "out.csv").string(), "a"));
  csv.AppendInt(-1);
  csv.WriteLine();
  EXPECT_EQ(Written(), "\"old\"\n\"-1\"\n");
}

TEST_F(CsvTest, LongTextsAndLinesAreWrittenWhole) {
  ASSERT_TRUE(csv.Open((dir / "out.csv").string(), "w"));
  std::string quotes(1500, '"');
  std::string text(3000, 'x');
  csv.AppendText(quotes);
  csv.AppendText(text);
  csv.WriteLine();
  EXPECT_EQ(Written(), "\"" + std::string(3000, '"') + "\",\"" + text + "\"\n");
}

TEST_F(CsvTest, ShortTextsAndIntegersOfEveryWidthAreWrittenExactly) {
  // A quote or a zero at every place of texts around the eight-byte steps of
  // the short-text copy and as a character, integers of every digit count and
  // sign, and enough lines to go out in several blocks.
  ASSERT_TRUE(csv.Open((dir / "out.csv").string(), "w"));
  std::string expected;
  int64_t power = 1;
  for (int round = 0; round < 3; ++round) {
    for (size_t length = 0; length <= 40; ++length) {
      for (size_t at = 0; at <= length; ++at) {
        for (const char special : {'"', '\0'}) {
          std::string text(length, static_cast<char>('a' + length % 26));
          if (at < length) text[at] = special;
          power = power > INT32_MAX / 10 ? 1 : power * 10;
          const int32_t value = static_cast<int32_t>(at % 2 ? -power : power - 1);
          csv.AppendText(text);
          csv.AppendInt(value);
          csv.AppendChar(special);
          csv.WriteLine();
          std::string quoted;
          for (const char c : text.substr(0, text.find('\0')))
            quoted += c == '"' ? "\"\"" : std::string(1, c);
          expected += "\"" + quoted + "\",\"" + std::to_string(value) + "\",\"" +
                      (special == '"' ? "\"\"" : "") + "\"\n";
        }
      }
    }
  }
  ASSERT_GT(expected.size(), 2u * 64 * 1024);  // several write blocks
  EXPECT_EQ(Written(), expected);
}

TEST_F(CsvTest, QuotedBareAndEmptyFieldsAreRead) {
  OpenText("a,\"b\"\"c\",,\"d\"\n\"ab\"cd,x\n \"q\",y\"z\n");
  ASSERT_TRUE(csv.ReadLine());
  EXPECT_EQ(LineFields(), (Fields{"a", "b\"c", "", "d"}));
  ASSERT_TRUE(csv.ReadLine());
  EXPECT_EQ(LineFields(), (Fields{"abcd", "x"}));
  ASSERT_TRUE(csv.ReadLine());
  EXPECT_EQ(LineFields(), (Fields{" \"q\"", "y\"z"}));
  EXPECT_FALSE(csv.ReadLine());
}

TEST_F(CsvTest, FieldsReadInPlaceAreTheFieldsReadField) {
  // Every shape of field: bare, quoted, doubled quotes, text after a closing
  // quote, empty, a quoted part across lines, a zero byte, CR LF, a quote
  // left open at the end of the file.
  static const char kText[] =
      "a,\"b\"\"c\",,\"d\"\n\"ab\"cd,x, \"q\",y\"z,\n\"a,b\",\"c\nd\",e\r\n"
      "\"\",\"x\"\0junk\n12,\"-5\",\"7\"x,+3\r\n\"open,end";
  const std::string text(kText, sizeof kText - 1);
  OpenText(text);
  CsvFile inPlace;
  WriteFileText(dir / "same.csv", text);
  ASSERT_TRUE(inPlace.Open((dir / "same.csv").string(), "r"));
  int rows = 0;
  for (; csv.ReadLine(); ++rows) {
    ASSERT_TRUE(inPlace.ReadLine());
    EXPECT_EQ(inPlace.Line(), csv.Line());
    while (!csv.AtLineEnd()) {
      ASSERT_FALSE(inPlace.AtLineEnd());
      const std::string expected = csv.ReadField();
      const char* plain = nullptr;
      size_t length = 0;
      if (inPlace.ReadPlainField(&plain, &length)) {
        EXPECT_EQ(std::string(plain, length), expected);
      } else {
        EXPECT_EQ(inPlace.ReadField(), expected);
      }
    }
    EXPECT_TRUE(inPlace.AtLineEnd());
  }
  EXPECT_EQ(rows, 6);
  EXPECT_FALSE(inPlace.ReadLine());
}

TEST_F(CsvTest, LineEndsDecideTheLastField) {
  OpenText("\na,\n\"open quote\n\"x\"\"\na,");
  ASSERT_TRUE(csv.ReadLine());  // an empty line holds one empty field
  EXPECT_FALSE(csv.AtLineEnd());
  EXPECT_EQ(LineFields(), (Fields{""}));
  ASSERT_TRUE(csv.ReadLine());
  EXPECT_EQ(LineFields(), (Fields{"a", ""}));
  ASSERT_TRUE(csv.ReadLine());  // a quote open at the line end goes on with the next line
  EXPECT_EQ(LineFields(), (Fields{"open quote\nx\"\""}));
  ASSERT_TRUE(csv.ReadLine());  // the last line has no "\n": no field after the comma
  EXPECT_EQ(LineFields(), (Fields{"a"}));
  EXPECT_EQ(csv.ReadField(), "");
  EXPECT_EQ(csv.ReadIntField(), 0);
  EXPECT_TRUE(csv.AtLineEnd());
  EXPECT_FALSE(csv.ReadLine());
  EXPECT_FALSE(csv.ReadFailed());
}

TEST_F(CsvTest, IntegerFieldsReadLikeStrtolHeldTo32Bits) {
  OpenText("12abc,abc, -5,+7,\"-2147483648\",99999999999,-99999999999,\t42,- 1\n");
  ASSERT_TRUE(csv.ReadLine());
  EXPECT_EQ(csv.ReadIntField(), 12);
  EXPECT_EQ(csv.ReadIntField(), 0);
  EXPECT_EQ(csv.ReadIntField(), -5);
  EXPECT_EQ(csv.ReadIntField(), 7);
  EXPECT_EQ(csv.ReadIntField(), INT32_MIN);
  EXPECT_EQ(csv.ReadIntField(), INT32_MAX);
  EXPECT_EQ(csv.ReadIntField(), INT32_MIN);
  EXPECT_EQ(csv.ReadIntField(), 42);
  EXPECT_EQ(csv.ReadIntField(), 0);
  EXPECT_TRUE(csv.AtLineEnd());
  // Around ten digits, past 32 and 64 bits, leading zeros, a sign alone.
  OpenText(
      "2147483647,\"2147483648\",-2147483649,4294967296,0000000000012,"
      "18446744073709551617,\"-\",\"12\"x,-0");
  ASSERT_TRUE(csv.ReadLine());
  for (const int32_t expected :
       {INT32_MAX, INT32_MAX, INT32_MIN, INT32_MAX, 12, INT32_MAX, 0, 12, 0})
    EXPECT_EQ(csv.ReadIntField(), expected);
  EXPECT_TRUE(csv.AtLineEnd());
}

TEST_F(CsvTest, LongLinesAreReadWholeAsOneRow) {
  std::string field(5000, 'f');
  OpenText("\"" + field + "\"," + std::string(3000, 'g') + "\nnext\n");
  ASSERT_TRUE(csv.ReadLine());
  EXPECT_EQ(csv.Line().size(), 5000u + 2 + 1 + 3000 + 1);
  EXPECT_EQ(LineFields(), (Fields{field, std::string(3000, 'g')}));
  ASSERT_TRUE(csv.ReadLine());
  EXPECT_EQ(LineFields(), (Fields{"next"}));
}

TEST_F(CsvTest, CarriageReturnBeforeTheLineEndIsDropped) {
  OpenText("\"a\",b\r\n\r\nc\rd\r\ne\r");
  ASSERT_TRUE(csv.ReadLine());
  EXPECT_EQ(csv.Line(), "\"a\",b\n");
  EXPECT_EQ(LineFields(), (Fields{"a", "b"}));
  ASSERT_TRUE(csv.ReadLine());
  EXPECT_EQ(csv.Line(), "\n");
  ASSERT_TRUE(csv.ReadLine());
  EXPECT_EQ(LineFields(), (Fields{"c\rd"}));
  ASSERT_TRUE(csv.ReadLine());
  EXPECT_EQ(LineFields(), (Fields{"e\r"}));
}

TEST_F(CsvTest, AZeroByteEndsTheLineItIsIn) {
  OpenText(std::string("ab\0,cd\nnext\n", 12));
  ASSERT_TRUE(csv.ReadLine());
  EXPECT_EQ(LineFields(), (Fields{"ab"}));
  EXPECT_EQ(csv.ReadField(), "");
  ASSERT_TRUE(csv.ReadLine());
  EXPECT_EQ(LineFields(), (Fields{"next"}));
}

TEST_F(CsvTest, QuotedFieldsSpanLineEnds) {
  static const char kText[] =
      "\"one\r\ntwo\n\nthree\",x\n"  // CR LF inside reads as LF
      "a\"b,\"c\"\"\nd\"\n"          // a quote inside a bare part opens nothing
      "\"e\n\0f\"\ng\n"              // a zero byte ends the row it cuts
      "\x1A,\"\x1A\"\n"              // 0x1A is data
      "\x1A";
  OpenText(std::string(kText, sizeof kText - 1));
  ASSERT_TRUE(csv.ReadLine());
  EXPECT_EQ(LineFields(), (Fields{"one\ntwo\n\nthree", "x"}));
  ASSERT_TRUE(csv.ReadLine());
  EXPECT_EQ(LineFields(), (Fields{"a\"b", "c\"\nd"}));
  ASSERT_TRUE(csv.ReadLine());
  EXPECT_EQ(LineFields(), (Fields{"e\n"}));
  ASSERT_TRUE(csv.ReadLine());
  EXPECT_EQ(LineFields(), (Fields{"g"}));
  ASSERT_TRUE(csv.ReadLine());
  EXPECT_EQ(LineFields(), (Fields{"\x1A", "\x1A"}));
  EXPECT_FALSE(csv.ReadLine());  // a last 0x1A that begins a line is the DOS end-of-file mark
  EXPECT_FALSE(csv.RowUnterminated());
}

TEST_F(CsvTest, AFileEndingInsideAQuotedFieldFromAnEarlierLineIsReported) {
  OpenText("a\n\"b\nc\n");
  ASSERT_TRUE(csv.ReadLine());
  EXPECT_FALSE(csv.ReadLine());
  EXPECT_TRUE(csv.RowUnterminated());
  EXPECT_FALSE(csv.ReadFailed());
  for (const char* text : {"x,\"open\n", "x,\"open", "\"a\nb\",\"open\n\x1A"}) {
    OpenText(text);  // opened on the file's last line: it ends at the end of the file
    ASSERT_TRUE(csv.ReadLine()) << text;
    EXPECT_EQ(LineFields().back(), "open");
    EXPECT_FALSE(csv.ReadLine());
    EXPECT_FALSE(csv.RowUnterminated());
  }
  OpenText("\"a\nb");
  EXPECT_FALSE(csv.ReadLine());
  EXPECT_TRUE(csv.RowUnterminated());
}

// ReadLines takes whole lines of at least the size asked for (or what is
// left), after the rows ReadLine has read; ReadFrom reads rows from memory.
TEST_F(CsvTest, LinesAreTakenWholeAfterTheRowsRead) {
  std::string text = "skip\n";
  for (int i = 0; i < 20000; ++i)
    text += "row " + std::to_string(i) + "\n";
  OpenText(text + "end");
  ASSERT_TRUE(csv.ReadLine());
  std::string lines, all;
  bool last = false;
  while (!last) {
    ASSERT_TRUE(csv.ReadLines(&lines, 70000, &last));
    EXPECT_TRUE(last ? lines.size() < 70000 : lines.size() >= 70000 && lines.back() == '\n');
    all += lines;
  }
  EXPECT_EQ(all, text.substr(5) + "end");
  EXPECT_FALSE(csv.ReadLines(&lines, 70000, &last));
  EXPECT_TRUE(lines.empty() && last);

  const std::string rows = "\"a\nb\",c\r\nd";
  CsvFile memory;
  memory.ReadFrom(rows.data(), rows.size());
  ASSERT_TRUE(memory.ReadLine());
  EXPECT_EQ(memory.Line(), "\"a\nb\",c\n");
  EXPECT_EQ(memory.ReadOffset(), 9u);
  ASSERT_TRUE(memory.ReadLine());
  EXPECT_EQ(memory.Line(), "d");
  EXPECT_FALSE(memory.ReadLine());
}

TEST_F(CsvTest, FailuresAreReportedByResults) {
  EXPECT_FALSE(csv.ReadLine());  // not open
  EXPECT_FALSE(csv.Open((dir / "missing.csv").string(), "r"));
  EXPECT_FALSE(csv.Open((dir / "no-dir/out.csv").string(), "w"));
  // Directories and full devices differ by platform: csv_files_*_test.cpp.
}

}  // namespace
