#include "format.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <vector>

#include "ZelError.h"
#include "bytes.h"
#include "compiler.h"
#include "floattext.h"

// The converters' loops for text in a character set (-e) are kept out of
// line (LARKCONV_NOINLINE), so that the compiler inlines into the loops
// without -e what it inlined before they existed.

namespace larkconv {

namespace {

[[noreturn]] void ThrowInvalidFormat() {
  throw ZelError("invalid format string");
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Reads the run of decimal digits at text[pos] into *value, moving pos past
// it. False for a value of 2^31 or more, a fault in the format string, caught
// before it overflows.
bool ReadNumber(const std::string& text, size_t* pos, int32_t* value) {
  *value = 0;
  for (; *pos < text.size() && IsDigit(text[*pos]); ++*pos) {
    const int32_t digit = text[*pos] - '0';
    if (*value > (std::numeric_limits<int32_t>::max() - digit) / 10) return false;
    *value = *value * 10 + digit;
  }
  return true;
}

void SkipSeparator(const std::string& text, size_t* pos) {
  if (*pos < text.size() && text[*pos] == '.') ++*pos;
}

// Parses the item at text[cursor] (head or group) into *item, moving cursor
// past it. False where no item can be read: the format string's fault there.
bool ParseItem(const std::string& text, size_t* cursor, FormatItem* item) {
  item->count = 1;
  if (IsDigit(text[*cursor]) && (!ReadNumber(text, cursor, &item->count) || item->count == 0))
    return false;
  if (*cursor >= text.size()) return false;
  switch (text[(*cursor)++]) {
    case 'b':
      *item = {FieldKind::Integer, 1, item->count};
      return true;
    case 'w':
      *item = {FieldKind::Integer, 2, item->count};
      return true;
    case 'c':
      *item = {FieldKind::Char, 1, item->count};
      return true;
    case 'f':
      *item = {FieldKind::Float, 4, item->count};
      return true;
    case 'i':
      *item = {FieldKind::Integer, 4, item->count};
      if (*cursor < text.size() &&
          (text[*cursor] == '1' || text[*cursor] == '2' || text[*cursor] == '4')) {
        item->size = text[(*cursor)++] - '0';
      }
      SkipSeparator(text, cursor);
      return true;
    case 's':
    case 'l':
      item->kind = FieldKind::String;
      item->size = 0;
      if (*cursor < text.size() && text[*cursor] == 'z') {
        ++*cursor;
        return true;
      }
      if (!ReadNumber(text, cursor, &item->size)) return false;
      SkipSeparator(text, cursor);
      return true;
    default:
      return false;
  }
}

// Splits format into the text before the first "(" and the text between it and
// the first ")" after it. Returns the fault of the text as a whole, or nullptr.
const char* SplitFormat(std::string format, std::string* head, std::string* group) {
  if (format.empty()) return "missing format specifier";
  const size_t open = format.find('(');
  if (open == std::string::npos) {
    *head = std::move(format);
    return nullptr;
  }
  const size_t close = format.find(')', open);
  if (close == std::string::npos) return "invalid format string";
  *group = format.substr(open + 1, close - open - 1);
  format.resize(open);
  *head = std::move(format);
  return nullptr;
}

int32_t SignedFrom16(uint16_t v) {
  return v < 0x8000u ? v : static_cast<int32_t>(v) - 0x10000;
}

int32_t SignedFrom32(uint32_t v) {
  if (v < 0x80000000u) return static_cast<int32_t>(v);
  return -static_cast<int32_t>(~v) - 1;
}

// Adds the text of the length bytes at p, up to the first zero byte, read in
// set, to csv as UTF-8; utf8 holds it meanwhile unless it is all ASCII.
void AppendDeviceText(const uint8_t* p, size_t length, Charset set, CsvFile& csv,
                      std::string* utf8) {
  if (const void* zero = std::memchr(p, 0, length))
    length = static_cast<size_t>(static_cast<const uint8_t*>(zero) - p);
  const char* text = reinterpret_cast<const char*>(p);
  if (IsAscii(text, length)) {
    csv.AppendText(text, length);
    return;
  }
  utf8->resize(kUtf8PerDeviceByte * length);
  char* const end = DecodeText(set, p, length, &(*utf8)[0]);
  csv.AppendText(utf8->data(), static_cast<size_t>(end - utf8->data()));
}

// Adds the field of the given kind and size that takes the used bytes at p,
// as FieldBytes measured them, to csv; kCoded: its text read in set, by way
// of utf8.
template <bool kCoded>
inline void AppendFieldText(FieldKind kind, int32_t size, const uint8_t* p, size_t used,
                            CsvFile& csv, Charset set, std::string* utf8) {
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
      if (kCoded && (p[0] & 0x80)) {
        AppendDeviceText(p, 1, set, csv, utf8);
      } else {
        csv.AppendChar(text[0]);
      }
      return;
    case FieldKind::Float: {
      uint32_t bits = 0;
      GetBig32(p, limit, &bits);
      char shown[kFloatTextMax];
      csv.AppendText(shown, FormatFloat(bits, shown));
      return;
    }
    case FieldKind::String:
      break;
  }
  if (kCoded) {
    AppendDeviceText(p, used, set, csv, utf8);
    return;
  }
  // The text ends at the field's first zero byte, which AppendText cuts at.
  csv.AppendText(text, used);
}

// Appends the low size bytes (1, 2 or 4) of value to record, big-endian.
inline void AppendBig(RecordBytes* record, uint32_t value, int32_t size) {
  uint8_t* const added = record->Extend(static_cast<size_t>(size));
  if (size == 4) {
    EncodeBig32(added, value);
  } else if (size == 2) {
    EncodeBig16(added, static_cast<uint16_t>(value));
  } else {
    added[0] = static_cast<uint8_t>(value);
  }
}

// Appends the bytes of a Char or String field whose UTF-8 text, not all
// ASCII, is the length bytes at text, converted to set, to record.
void AppendEncodedBytes(FieldKind kind, int32_t size, const char* text, size_t length, Charset set,
                        RecordBytes* record) {
  if (kind == FieldKind::Char) {
    const uint8_t byte = EncodeChar(set, text, length);
    *record->Extend(1) = byte;
    return;
  }
  if (size == 0) {
    // Never more bytes than the UTF-8, and the terminating zero.
    uint8_t* const added = record->Extend(length + 1);
    const size_t written = EncodeText(set, text, length, added, length);
    added[written] = 0;
    record->DropLast(length - written);
    return;
  }
  const size_t width = static_cast<size_t>(size);
  uint8_t* const added = record->Extend(width);
  const size_t written = EncodeText(set, text, length, added, width);
  std::memset(added + written, 0, width - written);
}

// Appends the bytes of a text field (not an integer) whose text is the
// length bytes at text to record; kCoded: the text of a Char or String field
// converted to set.
template <bool kCoded>
inline void AppendTextFieldBytes(FieldKind kind, int32_t size, const char* text, size_t length,
                                 Charset set, RecordBytes* record) {
  if (kCoded && kind != FieldKind::Float && !IsAscii(text, length)) {
    AppendEncodedBytes(kind, size, text, length, set, record);
    return;
  }
  if (kind == FieldKind::Char) {
    *record->Extend(1) = length == 0 ? 0 : static_cast<uint8_t>(text[0]);
    return;
  }
  if (kind == FieldKind::Float) {
    AppendBig(record, ParseFloatBits(text, length), 4);
    return;
  }
  const size_t width = size == 0 ? length + 1 : static_cast<size_t>(size);
  const size_t copied = length < width ? length : width;
  uint8_t* const added = record->Extend(width);
  if (copied > 0) std::memcpy(added, text, copied);
  std::memset(added + copied, 0, width - copied);  // a shorter text is padded with zeros
}

// Appends the bytes of one CSV field, read from csv, to record; text holds the
// field's text meanwhile when it has to be unquoted.
template <bool kCoded>
inline void AppendFieldBytes(FieldKind kind, int32_t size, CsvFile& csv, Charset set,
                             RecordBytes* record, std::string* text) {
  if (kind == FieldKind::Integer) {
    AppendBig(record, static_cast<uint32_t>(csv.ReadIntField()), size);
    return;
  }
  const char* plain = nullptr;
  size_t length = 0;
  if (csv.ReadPlainField(&plain, &length)) {
    AppendTextFieldBytes<kCoded>(kind, size, plain, length, set, record);
    return;
  }
  text->clear();
  csv.ReadField(text);
  AppendTextFieldBytes<kCoded>(kind, size, text->data(), text->size(), set, record);
}

}  // namespace

void RecordBytes::Grow(size_t n) {
  if (n >= kLimit - length) throw std::length_error("record longer than a record length can hold");
  const size_t grown = std::max(length + n, std::min(2 * capacity, kLimit - 1));
  std::unique_ptr<uint8_t[]> larger(new uint8_t[grown]);
  if (length > 0) std::memcpy(larger.get(), storage.get(), length);
  storage = std::move(larger);
  capacity = grown;
}

RecordFormat::RecordFormat(std::string format) {
  if (const char* fault = SplitFormat(std::move(format), &head, &group)) throw ZelError(fault);
  inGroup = head.empty() && !group.empty();
}

bool RecordFormat::NextField(FieldKind* outKind, int32_t* outSize) {
  if (repeat != 0) {
    --repeat;
  } else {
    if (cursor >= (inGroup ? group : head).size()) {
      if (group.empty()) return false;
      inGroup = true;
      cursor = 0;
    }
    FormatItem item;
    if (!ParseItem(inGroup ? group : head, &cursor, &item)) ThrowInvalidFormat();
    kind = item.kind;
    size = item.size;
    repeat = item.count - 1;
  }
  *outKind = kind;
  *outSize = size;
  return true;
}

bool RecordFormat::AtGroupStart() const {
  if (group.empty() || repeat != 0) return false;
  if (inGroup) return cursor == 0 || cursor >= group.size();
  return cursor >= head.size();
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

ParsedFormat::ParsedFormat(std::string format, Charset text) : textCharset(text) {
  textFault = SplitFormat(std::move(format), &head.text, &group.text);
  // The parts are parsed at once; a fault still throws only when a conversion
  // asks for an item past it.
  ParseAll(&head);
  ParseAll(&group);
  flat = !textFault && Flatten(head, &headFields) && Flatten(group, &groupFields);
}

void ParsedFormat::ParseAll(Part* part) {
  for (size_t cursor = 0; cursor < part->text.size();) {
    FormatItem item;
    part->faulty = !ParseItem(part->text, &cursor, &item);
    if (part->faulty) return;
    part->items.push_back(item);
  }
}

// Lists the fields of a part that parsed without a fault; false when it had
// one, or more fields than are worth listing.
bool ParsedFormat::Flatten(const Part& part, std::vector<FormatField>* fields) {
  constexpr size_t kMostListed = 4096;
  if (part.faulty) return false;
  for (const FormatItem& item : part.items) {
    if (static_cast<size_t>(item.count) > kMostListed - fields->size()) return false;
    fields->insert(fields->end(), static_cast<size_t>(item.count), {item.kind, item.size});
  }
  return true;
}

void ParsedFormat::CheckText() const {
  if (textFault) throw ZelError(textFault);
}

void ParsedFormat::ThrowFault() {
  ThrowInvalidFormat();
}

bool FieldCursor::NextPart() {
  if (!format.HasGroup()) return false;
  inGroup = true;
  index = 0;
  const FormatItem* first = format.ItemAt(true, 0);
  if (first == nullptr) return false;  // not reached: a group's text holds an item or a fault
  TakeItem(first);
  return true;
}

namespace {

// Converts record into one CSV line, taking the fields from fields (a
// FieldCursor or a RecordFormat, which both have NextField); kCoded: its text
// read in set.
template <bool kCoded, typename Fields>
void ConvertRecordIn(Fields& fields, const PdbRecord& record, CsvFile& csv, Charset set,
                     std::string* utf8) {
  const size_t length = record.length > 0 && record.bytes ? static_cast<size_t>(record.length) : 0;
  size_t offset = 0;
  FieldKind kind;
  int32_t size;
  while (fields.NextField(&kind, &size)) {
    const size_t used = FieldBytes(kind, size, record.bytes + offset, length - offset);
    if (used == 0) break;
    AppendFieldText<kCoded>(kind, size, record.bytes + offset, used, csv, set, utf8);
    offset += used;
  }
  csv.WriteLine();
}

template <typename Fields>
LARKCONV_NOINLINE void ConvertCodedRecord(Fields& fields, const PdbRecord& record, CsvFile& csv,
                                             Charset set) {
  std::string utf8;  // the converted text of a field
  ConvertRecordIn<true>(fields, record, csv, set, &utf8);
}

template <typename Fields>
void ConvertRecord(Fields& fields, const PdbRecord& record, CsvFile& csv, Charset set) {
  if (set == Charset::None) {
    ConvertRecordIn<false>(fields, record, csv, set, nullptr);
  } else {
    ConvertCodedRecord(fields, record, csv, set);
  }
}

bool AppendRecordOf(const RecordBytes& bytes, PdbDatabase& db) {
  static const uint8_t kNoBytes = 0;
  PdbRecord record;
  record.length = static_cast<int32_t>(bytes.Size());
  record.bytes = bytes.Size() == 0 ? &kNoBytes : bytes.Data();
  return db.AppendRecord(record);
}

// Converts the line csv holds into one record appended to db, taking the
// fields from fields and building the record in buffers; kCoded: its text
// converted to set.
template <bool kCoded, typename Fields>
bool ConvertRowIn(Fields& fields, CsvFile& csv, PdbDatabase& db, ParsedFormat::RowBuffers& buffers,
                  Charset set) {
  RecordBytes& bytes = buffers.bytes;
  bytes.Clear();
  FieldKind kind;
  int32_t size;
  while (fields.NextField(&kind, &size) && !csv.AtLineEnd()) {
    AppendFieldBytes<kCoded>(kind, size, csv, set, &bytes, &buffers.field);
  }
  return AppendRecordOf(bytes, db);
}

template <typename Fields>
LARKCONV_NOINLINE bool ConvertCodedRow(Fields& fields, CsvFile& csv, PdbDatabase& db,
                                          ParsedFormat::RowBuffers& buffers, Charset set) {
  return ConvertRowIn<true>(fields, csv, db, buffers, set);
}

template <typename Fields>
bool ConvertRow(Fields& fields, CsvFile& csv, PdbDatabase& db, ParsedFormat::RowBuffers& buffers,
                Charset set) {
  if (set == Charset::None) return ConvertRowIn<false>(fields, csv, db, buffers, set);
  return ConvertCodedRow(fields, csv, db, buffers, set);
}

// PlainRowToRecord for a format that IsFlat; kCoded: the text converted to
// set.
template <bool kCoded>
const char* PlainRow(const char* row, PdbDatabase& db, ParsedFormat& format, Charset set) {
  RecordBytes& bytes = format.Row().bytes;
  std::string& unquoted = format.Row().field;
  bytes.Clear();
  PlainFields fields(row);
  FlatCursor cursor(format);
  FieldKind kind;
  int32_t size;
  while (cursor.NextField(&kind, &size) && !fields.AtRowEnd()) {
    if (kind == FieldKind::Integer) {
      int32_t value = 0;
      if (!fields.ReadInt(&value, &unquoted)) return nullptr;
      AppendBig(&bytes, static_cast<uint32_t>(value), size);
      continue;
    }
    const char* text = nullptr;
    size_t length = 0;
    if (!fields.ReadText(&text, &length, &unquoted)) return nullptr;
    AppendTextFieldBytes<kCoded>(kind, size, text, length, set, &bytes);
  }
  if (!fields.SkipRest(&unquoted)) return nullptr;
  AppendRecordOf(bytes, db);
  return fields.NextRow();
}

LARKCONV_NOINLINE const char* PlainCodedRow(const char* row, PdbDatabase& db,
                                               ParsedFormat& format, Charset set) {
  try {
    return PlainRow<true>(row, db, format, set);
  } catch (const TextFault&) {
    // Left to RowToRecord, after CsvFile has read the row whole: a row
    // that turns out not to be plain may fail on its own before it is
    // converted.
    return nullptr;
  }
}

}  // namespace

bool RecordToRow(const PdbRecord& record, CsvFile& csv, const ParsedFormat& format) {
  if (format.IsFlat()) {
    FlatCursor fields(format);
    ConvertRecord(fields, record, csv, format.TextCharset());
  } else {
    FieldCursor fields(format);
    ConvertRecord(fields, record, csv, format.TextCharset());
  }
  return true;
}

bool RecordToRow(const PdbRecord& record, CsvFile& csv, const std::string& format) {
  RecordFormat fields(format);
  ConvertRecord(fields, record, csv, Charset::None);
  return true;
}

bool RowToRecord(CsvFile& csv, PdbDatabase& db, ParsedFormat& format) {
  if (format.IsFlat()) {
    FlatCursor fields(format);
    return ConvertRow(fields, csv, db, format.Row(), format.TextCharset());
  }
  FieldCursor fields(format);
  return ConvertRow(fields, csv, db, format.Row(), format.TextCharset());
}

const char* PlainRowToRecord(const char* row, PdbDatabase& db, ParsedFormat& format) {
  if (!format.IsFlat()) return nullptr;
  const Charset set = format.TextCharset();
  if (set == Charset::None) return PlainRow<false>(row, db, format, set);
  return PlainCodedRow(row, db, format, set);
}

bool RowToRecord(CsvFile& csv, PdbDatabase& db, const std::string& format) {
  RecordFormat fields(format);
  ParsedFormat::RowBuffers buffers;
  return ConvertRow(fields, csv, db, buffers, Charset::None);
}

}  // namespace larkconv
