#pragma once

#include <cstdint>
#include <string>

#include "csv.h"
#include "pdb.h"

/// The kinds of field a format string describes.
enum class FieldKind : int { Integer = 0, Char = 1, Float = 2, String = 3 };

/// Reads a format string lazily, one field per NextField call: the head once,
/// then the group in parentheses over and over. Built afresh for every record.
class RecordFormat {
 public:
  // Throws ZelError "missing format specifier" for an empty text and
  // "invalid format string" for a "(" with no ")" after it.
  explicit RecordFormat(std::string format);

  // Stores the next field and returns true, or returns false when the format
  // has ended. Throws ZelError "invalid format string" where parsing fails.
  bool NextField(FieldKind& kind, int32_t& size);

 private:
  std::string head;
  std::string group;
  bool inGroup = false;
  size_t cursor = 0;
  FieldKind kind = FieldKind::Integer;
  int32_t size = 0;
  int32_t repeat = 0;
};

// Converts one record into one CSV line, written to csv. Always true.
bool RecordToRow(const PdbRecord& record, CsvFile& csv, const std::string& format);

// Converts the line csv has just read into one record appended to db. Always true.
bool RowToRecord(CsvFile& csv, PdbDatabase& db, const std::string& format);
