#pragma once

#include <cstdint>
#include <string>

#include "csv.h"
#include "pdb.h"

/// The kinds of field a format string describes, as RecordFormat::NextField
/// returns them to the two converters.
enum class FieldKind : int { Integer = 0, Char = 1, Float = 2, String = 3 };

/// Reads a format string lazily, one field per NextField call: the head once,
/// then the group in parentheses over and over. Built afresh for every record.
class RecordFormat {
 public:
  // Throws ZelError "missing format specifier" for an empty text and
  // "invalid format string" for a "(" with no ")" after it.
  explicit RecordFormat(std::string format);

  // Stores the next field and returns true, or returns false when the format
  // has ended. Throws ZelError "invalid format string" where parsing fails:
  // a character that starts no item, a repeat count of 0 or without its
  // letter, and a repeat count or string length of 2^31 or more.
  bool NextField(FieldKind& kind, int32_t& size);

  // True when the next field NextField gives begins a new round of the group:
  // a record whose bytes end there holds whole rounds.
  bool AtGroupStart() const;

 private:
  void ParseItem(const std::string& text);

  std::string head;
  std::string group;
  bool inGroup = false;  // cursor is inside group rather than head
  size_t cursor = 0;
  FieldKind kind = FieldKind::Integer;
  int32_t size = 0;
  int32_t repeat = 0;
};

// The bytes a field of this kind and size takes from the available bytes at
// p: 0 when it needs more than there are, which ends the record's row. A
// zero-terminated string takes its text and its zero byte, or every byte left
// when no zero byte follows.
size_t FieldBytes(FieldKind kind, int32_t size, const uint8_t* p, size_t available);

// Converts one record into one CSV line, written to csv. Always true.
bool RecordToRow(const PdbRecord& record, CsvFile& csv, const std::string& format);

// Converts the line csv has just read into one record appended to db; a row
// that yields no bytes appends an empty record. Always true.
bool RowToRecord(CsvFile& csv, PdbDatabase& db, const std::string& format);
