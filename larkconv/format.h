#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "charset.h"
#include "csv.h"
#include "pdb.h"

namespace larkconv {

/// The kinds of field a format string describes, as RecordFormat::NextField
/// returns them to the two converters.
enum class FieldKind : int { Integer = 0, Char = 1, Float = 2, String = 3 };

/// The bytes of the record a row is built in, appended at its end, in storage
/// kept from row to row. Filled by RowToRecord.
class RecordBytes {
 public:
  void Clear() { length = 0; }
  // The n bytes added at the end, to be written by the caller. Throws
  // std::length_error when the record would reach 2^31 bytes, the most a
  // record length holds.
  uint8_t* Extend(size_t n) {
    if (n > capacity - length) Grow(n);  // the capacity stays below the limit
    uint8_t* added = storage.get() + length;
    length += n;
    return added;
  }
  const uint8_t* Data() const { return storage.get(); }
  size_t Size() const { return length; }
  void DropLast(size_t n) { length -= n; }  // n at most Size()

 private:
  static constexpr size_t kLimit = size_t{1} << 31;
  void Grow(size_t n);

  std::unique_ptr<uint8_t[]> storage;
  size_t length = 0;
  size_t capacity = 0;
};

/// Reads a format string lazily, one field per NextField call: the head once,
/// then the group in parentheses over and over. For callers that list a format's
/// fields one by one; the converters walk a ParsedFormat instead.
class RecordFormat {
 public:
  // Throws ZelError "missing format specifier" for an empty text and
  // "invalid format string" for a "(" with no ")" after it.
  explicit RecordFormat(std::string format);

  // Stores the next field and returns true, or returns false when the format
  // has ended. Throws ZelError "invalid format string" where parsing fails:
  // a character that starts no item, a repeat count of 0 or without its
  // letter, and a repeat count or string length of 2^31 or more.
  bool NextField(FieldKind* kind, int32_t* size);

  // True when the next field NextField gives begins a new round of the group:
  // a record whose bytes end there holds whole rounds.
  bool AtGroupStart() const;

 private:
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

/// One item of a format string: a field and how many times in a row it comes.
/// Parsed by ParsedFormat when a conversion first reaches it.
struct FormatItem {
  FieldKind kind = FieldKind::Integer;
  int32_t size = 0;
  int32_t count = 1;
};

/// One field of a format string, as FlatCursor hands it out.
struct FormatField {
  FieldKind kind = FieldKind::Integer;
  int32_t size = 0;
};

/// The items of one format string, parsed once per run and shared by every
/// record or row, with the character set of the records' text: made by the
/// driver, walked by FieldCursor (or FlatCursor) in the converters.
class ParsedFormat {
 public:
  // Never throws ZelError: every fault waits until a conversion reaches it.
  // With a text set other than None the converters convert the text of Char
  // and String fields between it and the CSV's UTF-8.
  explicit ParsedFormat(std::string format, Charset text = Charset::None);

  Charset TextCharset() const { return textCharset; }

  // True when the whole text parsed without a fault into few enough fields
  // for HeadFields and GroupFields to list them one by one, each item
  // repeated as often as it comes.
  bool IsFlat() const { return flat; }
  const std::vector<FormatField>& HeadFields() const { return headFields; }
  const std::vector<FormatField>& GroupFields() const { return groupFields; }

  // Throws what building a RecordFormat from the text throws: "missing format
  // specifier" for an empty text, "invalid format string" for a "(" alone.
  void CheckText() const;
  // The index-th item of the head, or of the group when inGroup; nullptr when
  // that part ends before it. Throws ZelError "invalid format string" where
  // parsing failed, on every call that reaches that place.
  const FormatItem* ItemAt(bool inGroup, size_t index) const {
    const Part& part = inGroup ? group : head;
    if (index < part.items.size()) return &part.items[index];
    if (part.faulty) ThrowFault();
    return nullptr;
  }
  bool HasGroup() const { return !group.text.empty(); }

  /// The record a row is built in and the text of its current field, kept
  /// from row to row so that RowToRecord allocates nothing per row or field.
  struct RowBuffers {
    RecordBytes bytes;
    std::string field;
  };
  RowBuffers& Row() { return row; }

 private:
  /// The head or the group: its text and the items parsed from it, up to
  /// its end or its first fault. Filled by ParseAll.
  struct Part {
    std::string text;
    std::vector<FormatItem> items;
    bool faulty = false;  // parsing stopped at a fault after the last item
  };

  [[noreturn]] static void ThrowFault();
  static void ParseAll(Part* part);
  static bool Flatten(const Part& part, std::vector<FormatField>* fields);

  Part head;
  Part group;
  const char* textFault = nullptr;  // the fault of the text as a whole, if any
  bool flat = false;
  Charset textCharset = Charset::None;
  std::vector<FormatField> headFields;
  std::vector<FormatField> groupFields;
  RowBuffers row;
};

/// Walks the fields of a ParsedFormat that IsFlat, as FieldCursor does from
/// its items, but from its lists of fields. Made afresh by each conversion.
class FlatCursor {
 public:
  explicit FlatCursor(const ParsedFormat& format)
      : next(format.HeadFields().data()),
        end(next + format.HeadFields().size()),
        group(format.GroupFields()) {}

  bool NextField(FieldKind* kind, int32_t* size) {
    if (next == end) {
      if (group.empty()) return false;
      next = group.data();
      end = next + group.size();
    }
    *kind = next->kind;
    *size = next->size;
    ++next;
    return true;
  }

 private:
  const FormatField* next;
  const FormatField* end;
  const std::vector<FormatField>& group;
};

/// Walks the fields of a ParsedFormat for one record or row, as RecordFormat's
/// NextField does for its text. Made afresh by each conversion.
class FieldCursor {
 public:
  // Throws ParsedFormat::CheckText's fault.
  explicit FieldCursor(const ParsedFormat& format) : format(format) { format.CheckText(); }

  // Stores the next field and returns true, or returns false when the format
  // has ended; throws the fault of the item reached, like NextField.
  bool NextField(FieldKind* kind, int32_t* size) {
    if (left == 0) {
      const FormatItem* next = format.ItemAt(inGroup, index);
      if (next == nullptr && !NextPart()) return false;
      if (next) TakeItem(next);
    }
    --left;
    *kind = itemKind;
    *size = itemSize;
    return true;
  }

 private:
  // Copies the item, since a later parse may move the ParsedFormat's items.
  void TakeItem(const FormatItem* next) {
    itemKind = next->kind;
    itemSize = next->size;
    left = next->count;
    ++index;
  }
  // At the end of the head or the group: takes the group's first item, or
  // returns false when the format has ended.
  bool NextPart();

  const ParsedFormat& format;
  FieldKind itemKind = FieldKind::Integer;  // the current item's field
  int32_t itemSize = 0;
  bool inGroup = false;
  size_t index = 0;  // of the item after the current one, in its part
  int32_t left = 0;  // fields of the current item still to come
};

// Converts one record into one CSV line, written to csv. True: every record
// converts, a short one giving the fields it holds. With the format's text
// set, throws TextFault for a record whose text is not text in that set.
bool RecordToRow(const PdbRecord& record, CsvFile& csv, const ParsedFormat& format);
// The same, reading the format text afresh for this record alone, its text
// byte for byte.
bool RecordToRow(const PdbRecord& record, CsvFile& csv, const std::string& format);

// Converts the line csv has just read into one record appended to db; a row
// that yields no bytes appends an empty record. False when db does not take
// the record (a resource database, which the driver never hands over). With
// the format's text set, throws TextFault for a text field that is not UTF-8
// or holds a character the set cannot hold, appending nothing.
bool RowToRecord(CsvFile& csv, PdbDatabase& db, ParsedFormat& format);
// The same, reading the format text afresh for this row alone, its text
// byte for byte.
bool RowToRecord(CsvFile& csv, PdbDatabase& db, const std::string& format);

// Converts the row that starts at row, in text holding a line feed or a zero
// byte after it, into one record appended to db (a record database), as
// RowToRecord converts it once CsvFile has read it, when the row is plain
// (see PlainFields) and the format IsFlat: returns where the next row starts.
// Otherwise nullptr, with nothing appended.
const char* PlainRowToRecord(const char* row, PdbDatabase& db, ParsedFormat& format);

}  // namespace larkconv
