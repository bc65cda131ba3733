#pragma once

// larkinfo's format check: each record laid out by the format string field
// by field, converted to its CSV row and that row back to a record by the
// conversions larkconv -pdb and -csv run, and the bytes compared.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "charset.h"
#include "convert.h"
#include "csv.h"
#include "format.h"
#include "info_layout.h"
#include "info_show.h"
#include "pdb.h"

namespace larkconv::info {

/// What the check says of one record: it comes back byte for byte (Exact),
/// uses its bytes but comes back different (Changes), has bytes the format
/// leaves over (Over), or runs out of bytes inside a field (Short).
enum class Verdict { Exact, Changes, Over, Short };

const char* VerdictName(Verdict verdict);

/// One field of a record as the format lays it over the bytes. Listed by
/// RecordChecker::Check, printed by the field map.
struct FieldSpan {
  FieldKind kind = FieldKind::Integer;
  int32_t size = 0;
  size_t offset = 0;
  size_t length = 0;  // the bytes it takes; for a field that does not fit, the bytes left
};

/// How one record fares through the format, and where the fields that fit
/// leave off. Made by RecordChecker::Check; it holds nothing per field, so
/// that a record of millions of fields costs no more than its row.
struct RecordCheck {
  Verdict verdict = Verdict::Exact;
  std::string detail;
  size_t fields = 0;     // the fields that fit
  size_t end = 0;        // where the last of them ends
  bool rowMade = false;  // the record has a CSV row: its text converted
  bool cut = false;      // a further field needed more bytes than were left: stop
  FieldSpan stop;        // that field, holding the bytes left
  bool noZero = false;   // the last field is a zero-terminated string without its zero
  size_t leftOver = 0;   // the bytes after the last field when the format ended before them
};

/// Checks records against one format string, with their text in one
/// character set, reusing its conversions' storage from record to record.
/// Made once per larkinfo run.
class RecordChecker {
 public:
  // Throws ZelError for a format text with no field or a "(" alone, as
  // larkconv does before its first record.
  RecordChecker(const std::string& format, Charset text);

  // Checks record number index. Throws ZelError where larkconv meets a fault
  // in the format string for this record.
  RecordCheck Check(const PdbRecord& record, int32_t index);

  // Calls visit with each field of record that fits, in the order the
  // format reads them, as Check lays them out.
  void VisitFields(const PdbRecord& record,
                   const std::function<void(const FieldSpan&)>& visit) const;

  // The CSV row of the record checked last, as -pdb builds it.
  const std::string& Row() const { return line; }
  Charset TextCharset() const { return text; }

 private:
  bool MakeRow(const PdbRecord& record, int32_t index, RecordCheck* check);
  void Walk(const PdbRecord& record, RecordCheck* check, bool* boundary,
            const std::function<void(const FieldSpan&)>& visit) const;
  void ReadBack(const PdbRecord& record, int32_t index, bool boundary, RecordCheck* check);
  std::string Difference(const PdbRecord& record, const PdbRecord& got) const;

  std::string format;
  Charset text;
  ParsedFormat forward;  // the -pdb conversion's
  ParsedFormat back;     // the -csv conversion's
  CsvFile row;           // the record's row, kept in memory
  CsvFile reader;
  LinesConverted converted;
  std::string line;  // the row as a file holds it
};

// The check's part: a heading, one line per record in range and the counts;
// returns the exit status. Throws what Check throws.
int PrintCheck(const PdbDatabase& db, Range range, RecordChecker& checker, std::ostream& out);

// The dump with the field map: each record's bytes, then one line per field
// and the record's verdict; then the counts. Returns the exit status; throws
// what Check throws.
int PrintDumpWithMap(const Layout& layout, const PdbDatabase& db, Range range,
                     RecordChecker& checker, std::ostream& out);

}  // namespace larkconv::info
