// Fuzzes the CSV to PDB direction: lines read by CsvFile and turned into
// records by RowToRecord with a fuzzed format string.
//
// Input: the format string, a line feed, then the text of the CSV file. The
// lines read must be the lines of the text, and the fields of each line must
// come back the same through CsvFile's quoting.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "ZelError.h"
#include "csv.h"
#include "format.h"
#include "pdb.h"
#include "scratch.h"

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
    for (size_t i = 0; i <= textSize && fields.NextField(kind, size); ++i) {
      if (kind == FieldKind::String && size > kLargestField) return true;
    }
  } catch (const ZelError&) {
  }
  return false;
}

void Check(bool condition) {
  if (!condition) std::abort();
}

std::vector<std::string> FieldsOf(CsvFile& csv) {
  std::vector<std::string> fields;
  while (!csv.AtLineEnd())
    fields.push_back(csv.ReadField());
  return fields;
}

// The fields of lines, quoted and written by CsvFile and read back, are the
// same fields (a field read never holds a line feed or a zero byte).
void CheckFieldsComeBack(const std::vector<std::vector<std::string>>& rows) {
  std::string path = fuzzing::ScratchDir() + "/again.csv";
  CsvFile out;
  Check(out.Open(path, "w"));
  for (const std::vector<std::string>& fields : rows) {
    for (const std::string& field : fields) {
      Check(field.find_first_of(std::string("\n\0", 2)) == std::string::npos);
      out.AppendText(field);
    }
    out.WriteLine();
  }
  Check(out.Close());
  CsvFile in;
  Check(in.Open(path, "r"));
  for (const std::vector<std::string>& fields : rows)
    Check(in.ReadLine() && FieldsOf(in) == fields);
  Check(!in.ReadLine());
}

// The lines of a text as ReadLine must give them: each with its line feed,
// the last one perhaps without, and a carriage return before a line feed
// dropped.
std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    end = end == std::string::npos ? text.size() : end + 1;
    std::string line = text.substr(start, end - start);
    if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0)
      line.erase(line.size() - 2, 1);
    lines.push_back(line);
    start = end;
  }
  return lines;
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
  Check(csv.Open(fuzzing::ScratchFile("in.csv", text.data(), text.size()), "r"));
  PdbDatabase db;
  db.SetResourceDb(false);
  int32_t rows = 0;
  try {
    for (; csv.ReadLine(); ++rows)
      RowToRecord(csv, db, format);
  } catch (const ZelError&) {
    return 0;
  }
  Check(!csv.ReadFailed() && db.RecordCount() == rows);

  const std::vector<std::string> lines = LinesOf(text);
  CsvFile again;
  Check(again.Open(fuzzing::ScratchDir() + "/in.csv", "r"));
  std::vector<std::vector<std::string>> rowsRead;
  for (size_t i = 0; i < lines.size(); ++i) {
    Check(again.ReadLine() && again.Line() == lines[i]);
    std::vector<std::string> fields = FieldsOf(again);
    // Not the filler line, nor a line that starts with a zero byte: it has no
    // field, and written it would hold one empty field.
    if (i >= firstFuzzedLine && !fields.empty()) rowsRead.push_back(fields);
  }
  Check(!again.ReadLine());
  CheckFieldsComeBack(rowsRead);
  return 0;
}
