#include "format.h"

#include <cstring>
#include <limits>
#include <stdexcept>
#include <vector>

#include "ZelError.h"
#include "bytes.h"
#include "floattext.h"

namespace {

[[noreturn]] void ThrowInvalidFormat() {
  throw ZelError("invalid format string");
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Reads the run of decimal digits at text[pos], moving pos past it. A value of
// 2^31 or more is a fault in the format string, caught before it overflows.
int32_t ReadNumber(const std::string& text, size_t& pos) {
  int32_t value = 0;
  for (; pos < text.size() && IsDigit(text[pos]); ++pos) {
    const int32_t digit = text[pos] - '0';
    if (value > (std::numeric_limits<int32_t>::max() - digit) / 10) ThrowInvalidFormat();
    value = value * 10 + digit;
  }
  return value;
}

void SkipSeparator(const std::string& text, size_t& pos) {
  if (pos < text.size() && text[pos] == '.') ++pos;
}

int32_t SignedFrom16(uint16_t v) {
  return v < 0x8000u ? v : static_cast<int32_t>(v) - 0x10000;
}

int32_t SignedFrom32(uint32_t v) {
  if (v < 0x80000000u) return static_cast<int32_t>(v);
  return -static_cast<int32_t>(~v) - 1;
}

// Adds the field of the given kind and size that takes the used bytes at p,
// as FieldBytes measured them, to csv.
void AppendFieldText(FieldKind kind, int32_t size, const uint8_t* p, size_t used, CsvFile& csv) {
  const char* text = reinterpret_cast<const char*>(p);
  const uint8_t* const limit = p + used;
  switch (kind) {
    case FieldKind::Integer: {
      if (size == 1) {
        csv.AppendInt(p[0]);
      } else if (size == 2) {
        uint16_t v = 0;
        GetBig16(p, limit, &v);
        csv.AppendInt(SignedFrom16(v));
      } else {
        uint32_t v = 0;
        GetBig32(p, limit, &v);
        csv.AppendInt(SignedFrom32(v));
      }
      return;
    }
    case FieldKind::Char:
      csv.AppendText(text, 1);
      return;
    case FieldKind::Float: {
      uint32_t bits = 0;
      GetBig32(p, limit, &bits);
      csv.AppendText(FormatFloat(bits));
      return;
    }
    case FieldKind::String:
      break;
  }
  if (size != 0) {
    // The text ends at the field's first zero byte, as CsvFile would cut it.
    const void* zero = std::memchr(p, 0, used);
    csv.AppendText(text, zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - p) : used);
    return;
  }
  // A zero-terminated string: its text, without the zero when there is one.
  csv.AppendText(text, p[used - 1] == 0 ? used - 1 : used);
}

// Records built from CSV stay below 2^31 bytes, the most a record length
// holds. Checked before each field grows the record.
void CheckRecordRoom(const std::vector<uint8_t>& record, size_t width) {
  constexpr size_t kRecordLimit = size_t{1} << 31;
  if (width >= kRecordLimit - record.size())
    throw std::length_error("record longer than a record length can hold");
}

// Appends the bytes of one CSV field, read from csv, to record.
void AppendFieldBytes(FieldKind kind, int32_t size, CsvFile& csv, std::vector<uint8_t>& record) {
  if (kind == FieldKind::Integer) {
    CheckRecordRoom(record, static_cast<size_t>(size));
    const uint32_t value = static_cast<uint32_t>(csv.ReadIntField());
    if (size == 1) {
      record.push_back(static_cast<uint8_t>(value));
    } else if (size == 2) {
      PutBig16(record, static_cast<uint16_t>(value));
    } else {
      PutBig32(record, value);
    }
    return;
  }
  const std::string text = csv.ReadField();
  if (kind == FieldKind::Char) {
    CheckRecordRoom(record, 1);
    record.push_back(text.empty() ? 0 : static_cast<uint8_t>(text[0]));
    return;
  }
  if (kind == FieldKind::Float) {
    CheckRecordRoom(record, 4);
    PutBig32(record, ParseFloatBits(text));
    return;
  }
  const size_t width = size == 0 ? text.size() + 1 : static_cast<size_t>(size);
  CheckRecordRoom(record, width);
  const size_t copied = text.size() < width ? text.size() : width;
  record.insert(record.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(copied));
  record.resize(record.size() + (width - copied), 0);
}

}  // namespace

RecordFormat::RecordFormat(std::string format) {
  if (format.empty()) throw ZelError("missing format specifier");
  const size_t open = format.find('(');
  if (open == std::string::npos) {
    head = std::move(format);
  } else {
    const size_t close = format.find(')', open);
    if (close == std::string::npos) ThrowInvalidFormat();
    group = format.substr(open + 1, close - open - 1);
    format.resize(open);
    head = std::move(format);
  }
  inGroup = head.empty() && !group.empty();
}

bool RecordFormat::NextField(FieldKind& outKind, int32_t& outSize) {
  if (repeat != 0) {
    --repeat;
  } else {
    if (cursor >= (inGroup ? group : head).size()) {
      if (group.empty()) return false;
      inGroup = true;
      cursor = 0;
    }
    ParseItem(inGroup ? group : head);
  }
  outKind = kind;
  outSize = size;
  return true;
}

bool RecordFormat::AtGroupStart() const {
  if (group.empty() || repeat != 0) return false;
  if (inGroup) return cursor == 0 || cursor >= group.size();
  return cursor >= head.size();
}

// Parses the item at cursor in text (head or group) into kind, size and repeat.
void RecordFormat::ParseItem(const std::string& text) {
  int32_t count = 1;
  if (IsDigit(text[cursor])) {
    count = ReadNumber(text, cursor);
    if (count == 0) ThrowInvalidFormat();
  }
  if (cursor >= text.size()) ThrowInvalidFormat();
  switch (text[cursor++]) {
    case 'b':
      kind = FieldKind::Integer;
      size = 1;
      break;
    case 'w':
      kind = FieldKind::Integer;
      size = 2;
      break;
    case 'c':
      kind = FieldKind::Char;
      size = 1;
      break;
    case 'f':
      kind = FieldKind::Float;
      size = 4;
      break;
    case 'i':
      kind = FieldKind::Integer;
      size = 4;
      if (cursor < text.size() &&
          (text[cursor] == '1' || text[cursor] == '2' || text[cursor] == '4')) {
        size = text[cursor++] - '0';
      }
      SkipSeparator(text, cursor);
      break;
    case 's':
    case 'l':
      kind = FieldKind::String;
      if (cursor < text.size() && text[cursor] == 'z') {
        ++cursor;
        size = 0;
      } else {
        size = ReadNumber(text, cursor);
        SkipSeparator(text, cursor);
      }
      break;
    default:
      ThrowInvalidFormat();
  }
  repeat = count - 1;
}

size_t FieldBytes(FieldKind kind, int32_t size, const uint8_t* p, size_t available) {
  if (kind == FieldKind::String && size == 0) {
    if (available == 0) return 0;
    const void* zero = std::memchr(p, 0, available);
    return zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - p) + 1 : available;
  }
  const size_t needed = static_cast<size_t>(size);
  return needed <= available ? needed : 0;
}

bool RecordToRow(const PdbRecord& record, CsvFile& csv, const std::string& format) {
  RecordFormat fields(format);
  const size_t length = record.length > 0 && record.bytes ? static_cast<size_t>(record.length) : 0;
  size_t offset = 0;
  FieldKind kind;
  int32_t size;
  while (fields.NextField(kind, size)) {
    const size_t used = FieldBytes(kind, size, record.bytes + offset, length - offset);
    if (used == 0) break;
    AppendFieldText(kind, size, record.bytes + offset, used, csv);
    offset += used;
  }
  csv.WriteLine();
  return true;
}

bool RowToRecord(CsvFile& csv, PdbDatabase& db, const std::string& format) {
  RecordFormat fields(format);
  std::vector<uint8_t> bytes;
  bytes.reserve(csv.Line().size());  // a row's record is seldom longer than its text
  FieldKind kind;
  int32_t size;
  while (fields.NextField(kind, size) && !csv.AtLineEnd()) {
    AppendFieldBytes(kind, size, csv, bytes);
  }
  static const uint8_t kNoBytes = 0;
  PdbRecord record;
  record.length = static_cast<int32_t>(bytes.size());
  record.bytes = bytes.empty() ? &kNoBytes : bytes.data();
  db.AppendRecord(record);
  return true;
}
