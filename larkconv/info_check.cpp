#include "info_check.h"

#include <algorithm>
#include <cstring>

#include "ZelError.h"
#include "bytes.h"
#include "filesys.h"
#include "info.h"
#include "info_text.h"

namespace larkconv::info {

namespace {

size_t LengthOf(const PdbRecord& record) {
  return record.length > 0 && record.bytes ? static_cast<size_t>(record.length) : 0;
}

/// Takes the fields of a row as CsvFile builds it one by one: each quoted,
/// with its quotes doubled, separated by commas, the row ended by its "\n".
/// Made by the field map for each record's row.
class QuotedFields {
 public:
  explicit QuotedFields(const std::string& row) : row(row) {}

  // The next field with its quotes, as the CSV holds it; false when the row
  // has no more.
  bool Next(std::string* field) {
    if (at >= row.size() || row[at] != '"') return false;
    size_t close = at + 1;
    for (;; close += 2) {
      close = row.find('"', close);
      if (close == std::string::npos) return false;
      if (close + 1 >= row.size() || row[close + 1] != '"') break;
    }
    field->assign(row, at, close + 1 - at);
    at = close + 1 < row.size() && row[close + 1] == ',' ? close + 2 : row.size();
    return true;
  }

 private:
  const std::string& row;
  size_t at = 0;
};

// The row as a file written in text mode holds it: row itself, or the copy
// made in *written where lines end otherwise.
const std::string& AsWritten(const std::string& row, std::string* written) {
  const char* const lineEnd = filesys::TextLineEnd();
  if (std::strcmp(lineEnd, "\n") == 0) return row;
  written->clear();
  for (char c : row) {
    if (c == '\n') {
      *written += lineEnd;
    } else {
      *written += c;
    }
  }
  return *written;
}

// Why a field whose bytes were was comes back as got, when that is known.
std::string WhyChanged(const FieldSpan& field, const uint8_t* was, const uint8_t* got,
                       size_t gotLength, Charset set) {
  const uint8_t* const bytes = was + field.offset;
  if (field.kind == FieldKind::Float) {
    if (gotLength < field.offset + 4) return "";
    return Printf("float bits 0x%08X read back as 0x%08X", DecodeBig32(bytes),
                  DecodeBig32(got + field.offset));
  }
  if (field.kind == FieldKind::String) {
    const uint8_t* const end = bytes + field.length;
    const uint8_t* const zero = std::find(bytes, end, uint8_t{0});
    if (field.size > 0 && std::any_of(zero, end, [](uint8_t b) { return b != 0; }))
      return "bytes after the zero of a fixed-length string are not kept";
    static const uint8_t kCrLf[] = {'\r', '\n'};
    if (std::search(bytes, zero, kCrLf, kCrLf + 2) != zero)
      return "a carriage return before a line feed is not kept";
  }
  if (field.kind != FieldKind::Integer && set != Charset::None)
    return Printf("its %s text reads back as other bytes", CharsetName(set));
  return "";
}

// A field's quoted CSV text on one line: line feeds, carriage returns, tabs
// and other control characters as \n, \r, \t and \xHH, a backslash doubled;
// without a character set every byte above 7E as \xHH too, with one the
// UTF-8 as it is.
std::string OneLine(const std::string& text, Charset set) {
  std::string shown;
  for (char c : text) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (c == '\n') {
      shown += "\\n";
    } else if (c == '\r') {
      shown += "\\r";
    } else if (c == '\t') {
      shown += "\\t";
    } else if (c == '\\') {
      shown += "\\\\";
    } else if (b < 0x20 || b == 0x7F || (b > 0x7F && set == Charset::None)) {
      shown += Printf("\\x%02x", b);
    } else {
      shown += c;
    }
  }
  return shown;
}

std::string MapLine(const char* number, size_t offset, size_t length, const std::string& kind,
                    const uint8_t* bytes) {
  return Printf("  %5s  %8zu  %8zu  %-22s  %-50s  ", number, offset, length, kind.c_str(),
                HexBytes(bytes, length).c_str());
}

// Under a record's dump: one line per field with its text in the record's
// row, where the format stops fitting a line that says why, then the verdict.
void PrintFieldMap(const PdbRecord& record, const RecordCheck& check, const RecordChecker& checker,
                   std::ostream& out) {
  out << Printf("  %5s  %8s  %8s  %-22s  %-50s  %s\n", "field", "offset", "length", "kind", "bytes",
                "csv");
  QuotedFields texts(checker.Row());
  std::string text;
  size_t number = 0;
  checker.VisitFields(record, [&](const FieldSpan& f) {
    ++number;
    out << MapLine(std::to_string(number).c_str(), f.offset, f.length, FieldName(f.kind, f.size),
                   record.bytes + f.offset)
        << (check.rowMade && texts.Next(&text) ? OneLine(text, checker.TextCharset()) : "-");
    if (check.noZero && number == check.fields) out << "  (no zero byte before the record ends)";
    out << '\n';
  });
  if (check.cut) {
    const FieldSpan& f = check.stop;
    out << MapLine(std::to_string(check.fields + 1).c_str(), f.offset, f.length,
                   FieldName(f.kind, f.size), record.bytes + f.offset)
        << "(needs " << ByteCount(static_cast<uint64_t>(f.size)) << ", " << f.length << " left)\n";
  }
  if (check.leftOver > 0) {
    out << MapLine("-", check.end, check.leftOver, "left over", record.bytes + check.end)
        << "(after the end of the format)\n";
  }
  out << Printf("  %-7s ", VerdictName(check.verdict)) << check.detail << '\n';
}

/// How many records had each verdict. Counted by the two printers.
struct Counts {
  int32_t of[4] = {};
  void Add(Verdict v) { ++of[static_cast<int>(v)]; }
};

int PrintCounts(const Counts& counts, Range range, std::ostream& out) {
  const int32_t checked = range.end - range.first;
  out << "checked " << Counted(static_cast<uint64_t>(checked), "record")
      << Printf(": %d exact, %d changes, %d over, %d short\n", counts.of[0], counts.of[1],
                counts.of[2], counts.of[3]);
  return counts.of[0] == checked ? kInfoOk : kInfoMismatch;
}

}  // namespace

const char* VerdictName(Verdict verdict) {
  static const char* const kNames[] = {"exact", "changes", "over", "short"};
  return kNames[static_cast<int>(verdict)];
}

RecordChecker::RecordChecker(const std::string& format, Charset text)
    : format(format), text(text), forward(format, text), back(format, text) {
  RecordFormat validated(format);
  converted.records.SetResourceDb(false);
}

RecordCheck RecordChecker::Check(const PdbRecord& record, int32_t index) {
  RecordCheck check;
  // The row first: a fault in the format string is met where -pdb meets it.
  check.rowMade = MakeRow(record, index, &check);
  bool boundary = false;
  const std::string textFault = check.detail;
  Walk(record, &check, &boundary, nullptr);
  if (!check.rowMade) {
    check.verdict = Verdict::Changes;
    check.detail = textFault;
  } else if (check.verdict == Verdict::Exact) {
    ReadBack(record, index, boundary, &check);
  }
  return check;
}

void RecordChecker::VisitFields(const PdbRecord& record,
                                const std::function<void(const FieldSpan&)>& visit) const {
  RecordCheck check;
  bool boundary = false;
  Walk(record, &check, &boundary, visit);
}

// Converts the record to its row, as -pdb does, into line. False, with
// larkconv's message in the detail, when the record's text is none in the
// character set.
bool RecordChecker::MakeRow(const PdbRecord& record, int32_t index, RecordCheck* check) {
  line.clear();
  row.Abandon();
  try {
    RecordToRow(record, row, forward);
  } catch (const TextFault& fault) {
    row.Abandon();
    check->detail = TextError(fault, text, index).Message();
    return false;
  }
  size_t length = 0;
  const char* const ended = row.EndedLines(&length);
  line.assign(ended, length);
  row.Abandon();
  return true;
}

// Lays the format's fields over the record's bytes as RecordToRow reads
// them, handing each that fits to visit (when given), and gives the verdict
// Over or Short with its detail where they do not fit. *boundary tells that
// the bytes ended where a field would begin, before the format ended or came
// round to its group.
void RecordChecker::Walk(const PdbRecord& record, RecordCheck* check, bool* boundary,
                         const std::function<void(const FieldSpan&)>& visit) const {
  RecordFormat fields(format);
  const size_t length = LengthOf(record);
  size_t offset = 0;
  FieldKind kind;
  int32_t size;
  for (;;) {
    const bool wholeRounds = fields.AtGroupStart();
    if (!fields.NextField(&kind, &size)) break;
    const size_t left = length - offset;
    const size_t used = FieldBytes(kind, size, record.bytes + offset, left);
    const size_t number = check->fields + 1;
    if (used == 0 && left == 0) {
      *boundary = !wholeRounds;
      break;
    }
    if (used == 0) {
      check->cut = true;
      check->stop = {kind, size, offset, left};
      check->verdict = Verdict::Short;
      check->detail =
          Printf("runs out of bytes at field %zu: %s needs %s, %s left", number,
                 FieldName(kind, size).c_str(), ByteCount(static_cast<uint64_t>(size)).c_str(),
                 std::to_string(left).c_str());
      return;
    }
    check->fields = number;
    check->end = offset + used;
    if (visit) visit({kind, size, offset, used});
    if (kind == FieldKind::String && size == 0 && record.bytes[offset + used - 1] != 0) {
      check->noZero = true;
      check->verdict = Verdict::Short;
      check->detail = Printf("runs out of bytes at field %zu: %s finds no zero byte in the %s left",
                             number, FieldName(kind, size).c_str(), ByteCount(left).c_str());
      return;
    }
    offset += used;
  }
  if (offset < length) {
    check->leftOver = length - offset;
    check->verdict = Verdict::Over;
    check->detail =
        "leaves " + ByteCount(check->leftOver) + " over after " + Counted(check->fields, "field");
  }
}

// Reads the record's row back as -csv does and compares the record it gives
// with the record's bytes.
void RecordChecker::ReadBack(const PdbRecord& record, int32_t index, bool boundary,
                             RecordCheck* check) {
  std::string written;
  ConvertLines(AsWritten(line, &written), true, back, reader, &converted);
  check->verdict = Verdict::Changes;
  if (converted.fault) {
    try {
      std::rethrow_exception(converted.fault);
    } catch (const TextFault& fault) {
      check->detail = TextError(fault, text, index).Message();
    } catch (const ZelError& error) {
      check->detail = "its row reads back with ZelError: " + error.Message();
    }
    return;
  }
  const int32_t rows = converted.records.RecordCount();
  if (converted.unterminated || rows != 1) {
    check->detail = "its row reads back as " + Counted(static_cast<uint64_t>(rows), "row");
    return;
  }
  const PdbRecord& got = *converted.records.RecordAt(0);
  const size_t length = LengthOf(record);
  if (LengthOf(got) != length ||
      (length > 0 && std::memcmp(got.bytes, record.bytes, length) != 0)) {
    check->detail = Difference(record, got);
    return;
  }
  check->verdict = Verdict::Exact;
  check->detail =
      "uses its " + ByteCount(length) + " exactly in " + Counted(check->fields, "field");
  if (boundary) {
    check->detail += Printf(", ending after field %zu before the format does", check->fields);
  }
}

// Names the first byte where got differs from record, the field it lies in
// and, where known, why.
std::string RecordChecker::Difference(const PdbRecord& record, const PdbRecord& got) const {
  const size_t wasLength = LengthOf(record);
  const size_t gotLength = LengthOf(got);
  if (wasLength == 0)
    return "holds no bytes: its row has no fields and reads back as " + ByteCount(gotLength);
  const uint8_t* const was = record.bytes;
  const size_t common = std::min(wasLength, gotLength);
  size_t at = 0;
  while (at < common && was[at] == got.bytes[at])
    ++at;
  size_t number = 0;
  size_t counted = 0;
  FieldSpan field;
  VisitFields(record, [&](const FieldSpan& f) {
    ++counted;
    if (number == 0 && at >= f.offset && at - f.offset < f.length) {
      number = counted;
      field = f;
    }
  });
  std::string what = Printf("byte %zu", at);
  if (number > 0)
    what += Printf(" in field %zu (%s)", number, FieldName(field.kind, field.size).c_str());
  if (at < common) {
    what += Printf(" comes back as 0x%02x, not 0x%02x", got.bytes[at], was[at]);
  } else if (at == gotLength) {
    what += " is missing: the record comes back " + ByteCount(gotLength) + " long, not " +
            std::to_string(wasLength);
  } else {
    what =
        "the record comes back " + ByteCount(gotLength) + " long, not " + std::to_string(wasLength);
  }
  const std::string why = number > 0 ? WhyChanged(field, was, got.bytes, gotLength, text) : "";
  return why.empty() ? what : what + ": " + why;
}

int PrintCheck(const PdbDatabase& db, Range range, RecordChecker& checker, std::ostream& out) {
  Counts counts;
  out << "index  result  detail\n";
  for (int32_t i = range.first; i < range.end; ++i) {
    const RecordCheck check = checker.Check(*db.RecordAt(static_cast<uint32_t>(i)), i);
    counts.Add(check.verdict);
    out << Printf("%5d  %-7s ", i, VerdictName(check.verdict)) << check.detail << '\n';
  }
  return PrintCounts(counts, range, out);
}

int PrintDumpWithMap(const Layout& layout, const PdbDatabase& db, Range range,
                     RecordChecker& checker, std::ostream& out) {
  Counts counts;
  for (int32_t i = range.first; i < range.end; ++i) {
    if (i != range.first) out << '\n';
    PrintEntryDump(layout, db, i, out);
    const PdbRecord& record = *db.RecordAt(static_cast<uint32_t>(i));
    const RecordCheck check = checker.Check(record, i);
    counts.Add(check.verdict);
    PrintFieldMap(record, check, checker, out);
  }
  return PrintCounts(counts, range, out);
}

}  // namespace larkconv::info
