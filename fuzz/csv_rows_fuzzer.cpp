// Fuzzes the CSV to PDB direction: lines read by CsvFile and turned into
// records by RowToRecord with a fuzzed format string.
//
// Input: the format string, a line feed, then the text of the CSV file.

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

// The fields of a line, quoted and written by CsvFile and read back, are the
// same fields (a field read never holds a line feed or a zero byte).
void CheckFieldsComeBack(const std::vector<std::string>& fields) {
  if (fields.empty()) return;  // a line starting with a zero byte; written, it would hold one field
  std::string path = fuzzing::ScratchDir() + "/again.csv";
  CsvFile out;
  Check(out.Open(path, "w"));
  for (const std::string& field : fields) {
    Check(field.find_first_of(std::string("\n\0", 2)) == std::string::npos);
    out.AppendText(field);
  }
  out.WriteLine();
  Check(out.Close());
  CsvFile in;
  Check(in.Open(path, "r") && in.ReadLine());
  std::vector<std::string> back = FieldsOf(in);
  Check(back == fields);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* begin = reinterpret_cast<const char*>(data);
  const char* newline = static_cast<const char*>(std::memchr(begin, '\n', size));
  if (newline == nullptr) return 0;
  const std::string format(begin, newline);
  const size_t textSize = size - static_cast<size_t>(newline + 1 - begin);
  if (AsksForHugeFields(format, textSize)) return 0;

  CsvFile csv;
  if (!csv.Open(fuzzing::ScratchFile("in.csv", newline + 1, textSize), "r")) std::abort();
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

  CsvFile again;
  Check(again.Open(fuzzing::ScratchDir() + "/in.csv", "r"));
  while (again.ReadLine())
    CheckFieldsComeBack(FieldsOf(again));
  return 0;
}
