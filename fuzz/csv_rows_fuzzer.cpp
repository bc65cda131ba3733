// Fuzzes the CSV to PDB direction: lines read by CsvFile and turned into
// records by RowToRecord with a fuzzed format string.
//
// Input: the format string, a line feed, then the text of the CSV file. The
// rows read must be the rows of the text as a model splits it (a quoted field
// open at a line's end takes the next line into its row), and the fields of
// each row must come back the same through CsvFile's quoting. Read with -e,
// a row PlainRowToRecord takes straight from its text gives the record
// RowToRecord gives.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "ZelError.h"
#include "charset.h"
#include "csv.h"
#include "format.h"
#include "pdb.h"
#include "testing/files.h"

using namespace larkconv;

namespace {

constexpr int32_t kLargestField = 1 << 12;
constexpr size_t kReadBlock = 64 * 1024;  // the block size of CsvFile::ReadLine

// True when a row of the CSV text could make the format ask for a string
// field wider than kLargestField. Such a format is allowed (it is what the
// user asked for) but would only measure the machine's memory. No row holds
// more fields than characters, which bounds the walk.
bool AsksForHugeFields(const std::string& format, size_t textSize) {
  try {
    RecordFormat fields(format);
    FieldKind kind;
    int32_t size;
    for (size_t i = 0; i <= textSize && fields.NextField(&kind, &size); ++i) {
      if (kind == FieldKind::String && size > kLargestField) return true;
    }
  } catch (const ZelError&) {
  }
  return false;
}

void Check(bool condition, int line = __builtin_LINE()) {
  if (condition) return;
  std::fprintf(stderr, "check failed at line %d\n", line);
  std::abort();
}

std::vector<std::string> FieldsOf(CsvFile& csv) {
  std::vector<std::string> fields;
  while (!csv.AtLineEnd())
    fields.push_back(csv.ReadField());
  return fields;
}

// A field as it reads back once written: each CR LF inside it loses its CR.
std::string AsReadBack(const std::string& field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (!(field[i] == '\r' && i + 1 < field.size() && field[i + 1] == '\n')) out += field[i];
  }
  return out;
}

// The fields of rows, quoted and written by CsvFile and read back, are the
// same fields (a field read never holds a zero byte; line feeds it may).
void CheckFieldsComeBack(const std::vector<std::vector<std::string>>& rows) {
  const std::string path = (larkconv_testing::ProcessScratchDir() / "again.csv").string();
  CsvFile out;
  Check(out.Open(path, "w"));
  for (const std::vector<std::string>& fields : rows) {
    for (const std::string& field : fields) {
      Check(field.find('\0') == std::string::npos);
      out.AppendText(field);
    }
    out.WriteLine();
  }
  Check(out.Close());
  CsvFile in;
  Check(in.Open(path, "r"));
  for (const std::vector<std::string>& fields : rows) {
    Check(in.ReadLine());
    std::vector<std::string> expected;
    for (const std::string& field : fields)
      expected.push_back(AsReadBack(field));
    Check(FieldsOf(in) == expected);
  }
  Check(!in.ReadLine());
}

/// The rows of a CSV text as ReadLine must give them, and whether the text
/// ends inside a quoted field begun on an earlier line. Made by RowsOf.
struct Split {
  std::vector<std::string> rows;
  bool unterminated = false;
};

// The physical lines of text: each with its line feed (the last perhaps
// without), a CR before the line feed dropped, cut after a zero byte; a
// last line that is a lone 0x1A is no line.
std::vector<std::string> PhysicalLinesOf(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    std::string line = text.substr(start, end - start);
    start = end;
    if (line == "\x1A" && start == text.size()) break;
    if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0)
      line.erase(line.size() - 2, 1);
    const size_t zero = line.find('\0');
    if (zero != std::string::npos) line.resize(zero + 1);
    lines.push_back(line);
  }
  return lines;
}

// Groups the physical lines into rows, walking the fields the way a reader
// of quoted fields does, one character at a time.
Split RowsOf(const std::string& text) {
  Split split;
  std::string row;
  bool inQuotes = false, fieldStarted = false;
  size_t quoteLine = 0, lineInRow = 0;
  for (const std::string& line : PhysicalLinesOf(text)) {
    row += line;
    for (size_t i = 0; i < line.size() && line[i] != '\0'; ++i) {
      const char c = line[i];
      if (inQuotes) {
        if (c != '"') continue;
        if (i + 1 < line.size() && line[i + 1] == '"') {
          ++i;
        } else {
          inQuotes = false;
        }
      } else if (c == ',') {
        fieldStarted = false;
      } else if (c == '"' && !fieldStarted) {
        inQuotes = fieldStarted = true;
        quoteLine = lineInRow;
      } else if (c != '\n') {
        fieldStarted = true;
      }
    }
    const bool cut = line.back() == '\0';  // a zero byte ends the row, quotes or not
    if (inQuotes && !cut && line.back() == '\n') {
      ++lineInRow;
      continue;
    }
    if (inQuotes && !cut && quoteLine < lineInRow) {  // the text ends inside the quotes
      split.unterminated = true;
      return split;
    }
    split.rows.push_back(row);
    row.clear();
    inQuotes = fieldStarted = false;
    lineInRow = 0;
  }
  if (!row.empty()) {  // the text ended right after a line feed inside quotes
    if (quoteLine + 1 < lineInRow) {
      split.unterminated = true;
    } else {
      split.rows.push_back(row);
    }
  }
  return split;
}

// Each row that PlainRowToRecord reads straight from a text that reads as
// the row (with its line feed as CR LF, or as read when a CR does not come
// before it) gives the record RowToRecord gave (in db) and ends where the row
// does.
void CheckPlainRows(const std::vector<std::string>& rows, const std::string& format,
                    const PdbDatabase& db) {
  ParsedFormat parsed(format);
  for (size_t i = 0; i < rows.size(); ++i) {
    const std::string& row = rows[i];
    std::string crlf = row;
    if (!crlf.empty() && crlf.back() == '\n') crlf.insert(crlf.size() - 1, "\r");
    const bool asRead = row.size() < 2 || row.compare(row.size() - 2, 2, "\r\n") != 0;
    const std::string* const texts[] = {&crlf, asRead ? &row : &crlf};
    for (const std::string* text : texts) {
      PdbDatabase plain;
      plain.SetResourceDb(false);
      const char* next = PlainRowToRecord(text->c_str(), plain, parsed);
      if (!next) continue;
      Check(next == text->c_str() + text->size());
      const PdbRecord& want = *db.RecordAt(static_cast<uint32_t>(i));
      const PdbRecord& got = *plain.RecordAt(0);
      Check(got.length == want.length && std::memcmp(got.bytes, want.bytes, got.length) == 0);
    }
  }
}

// The same with the rows' text converted to set: a row whose text does not
// convert is never taken straight from its text.
void CheckCodedRows(const std::vector<std::string>& rows, const std::string& format, Charset set) {
  ParsedFormat parsed(format, set);
  ParsedFormat plainParsed(format, set);
  CsvFile reader;
  for (const std::string& row : rows) {
    reader.ReadFrom(row.data(), row.size());
    if (!reader.ReadLine()) continue;
    PdbDatabase want;
    want.SetResourceDb(false);
    bool converted = true;
    try {
      RowToRecord(reader, want, parsed);
    } catch (const TextFault&) {
      converted = false;
    }
    PdbDatabase plain;
    plain.SetResourceDb(false);
    if (!PlainRowToRecord(row.c_str(), plain, plainParsed)) continue;
    Check(converted);
    const PdbRecord& got = *plain.RecordAt(0);
    const PdbRecord& expected = *want.RecordAt(0);
    Check(got.length == expected.length && std::memcmp(got.bytes, expected.bytes, got.length) == 0);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* begin = reinterpret_cast<const char*>(data);
  const char* newline = static_cast<const char*>(std::memchr(begin, '\n', size));
  if (newline == nullptr) return 0;
  const std::string format(begin, newline);
  // For inputs of even length one long line comes first, so that the fuzzed
  // text straddles the end of the first 64 KB block that CsvFile reads.
  const size_t fuzzed = size - format.size() - 1;
  std::string text;
  if (size % 2 == 0) {
    text.assign(kReadBlock - 1 - std::min(fuzzed / 2, kReadBlock - 1), 'x');
    text += '\n';
  }
  const size_t firstFuzzedLine = text.empty() ? 0 : 1;
  text.append(newline + 1, begin + size);
  if (AsksForHugeFields(format, fuzzed)) return 0;

  CsvFile csv;
  const std::string in = (larkconv_testing::ProcessScratchDir() / "in.csv").string();
  Check(larkconv_testing::WriteFileBytes(in, text.data(), text.size()));
  Check(csv.Open(in, "r"));
  PdbDatabase db;
  db.SetResourceDb(false);
  const Split split = RowsOf(text);
  int32_t rows = 0;
  try {
    for (; csv.ReadLine(); ++rows)
      RowToRecord(csv, db, format);
  } catch (const ZelError&) {
    return 0;
  }
  Check(!csv.ReadFailed() && db.RecordCount() == rows);
  Check(csv.RowUnterminated() == split.unterminated);
  Check(static_cast<size_t>(rows) == split.rows.size());

  CsvFile again;
  Check(again.Open(in, "r"));
  std::vector<std::vector<std::string>> rowsRead;
  for (size_t i = 0; i < split.rows.size(); ++i) {
    Check(again.ReadLine() && again.Line() == split.rows[i]);
    std::vector<std::string> fields = FieldsOf(again);
    // Not the filler line, nor a row that starts with a zero byte: it has no
    // field, and written it would hold one empty field.
    if (i >= firstFuzzedLine && !fields.empty()) rowsRead.push_back(fields);
  }
  Check(!again.ReadLine());
  CheckFieldsComeBack(rowsRead);
  CheckPlainRows(split.rows, format, db);
  CheckCodedRows(split.rows, format, size % 3 == 0 ? Charset::Cp932 : Charset::Cp1252);
  return 0;
}
