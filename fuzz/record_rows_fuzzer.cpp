// Fuzzes the PDB to CSV direction: one record's bytes turned into a CSV line
// by RecordToRow with a fuzzed format string, as they stand and with their
// text read in cp932 and in cp1252 (-e). Where the fields allow it, the line
// is read back with RowToRecord and must give the same bytes, also through
// cp1252, which reads every byte as a character.
//
// Input: the format string, a line feed, then the record's bytes. The bytes
// are copied into a buffer of exactly their size, so that a read past the
// record is caught.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
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

void Check(bool condition) {
  if (!condition) std::abort();
}

// The bytes the fields that fit take from the record, in RecordToRow's order,
// when the row can be read back into the same bytes; 0 when it can't or there
// is no field. A row can't come back when a text field holds a line feed
// (quoted fields do not span lines), a string field has bytes after its first
// zero or no terminating zero, or a float is infinite or not a number.
size_t RoundTripLength(const std::string& format, const uint8_t* bytes, size_t length) {
  RecordFormat fields(format);
  FieldKind kind;
  int32_t size;
  size_t offset = 0;
  while (fields.NextField(&kind, &size)) {
    size_t needed = size == 0 ? 1 : static_cast<size_t>(size);
    if (needed > length - offset) break;
    const uint8_t* p = bytes + offset;
    if (kind == FieldKind::Float) {
      if ((p[0] & 0x7F) == 0x7F && (p[1] & 0x80)) return 0;
      offset += 4;
    } else if (kind == FieldKind::Char) {
      if (p[0] == '\n') return 0;
      offset += 1;
    } else if (kind == FieldKind::Integer) {
      offset += needed;
    } else {
      size_t room = size == 0 ? length - offset : needed;
      const uint8_t* zero = static_cast<const uint8_t*>(std::memchr(p, 0, room));
      size_t text = zero ? static_cast<size_t>(zero - p) : room;
      if (std::memchr(p, '\n', text)) return 0;
      if (size == 0 && !zero) return 0;
      for (size_t i = text; i < room; ++i) {
        if (p[i] != 0) return 0;
      }
      offset += size == 0 ? text + 1 : room;
    }
  }
  return offset;
}

// Writes the row for the record to a file and reads it back into a record:
// with the format read per record, or parsed once with the text through set.
std::vector<uint8_t> BackAndForth(const PdbRecord& record, const std::string& format,
                                  const ParsedFormat* parsed = nullptr) {
  CsvFile out;
  const std::string path = (larkconv_testing::ProcessScratchDir() / "row.csv").string();
  Check(out.Open(path, "w"));
  if (parsed) {
    RecordToRow(record, out, *parsed);
  } else {
    RecordToRow(record, out, format);
  }
  Check(out.Close());
  CsvFile in;
  Check(in.Open(path, "r") && in.ReadLine());
  PdbDatabase db;
  db.SetResourceDb(false);
  if (parsed) {
    ParsedFormat again(format, parsed->TextCharset());
    RowToRecord(in, db, again);
  } else {
    RowToRecord(in, db, format);
  }
  const PdbRecord* back = db.RecordAt(0);
  return std::vector<uint8_t>(back->bytes, back->bytes + back->length);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const uint8_t* newline = static_cast<const uint8_t*>(std::memchr(data, '\n', size));
  if (newline == nullptr) return 0;
  const std::string format(reinterpret_cast<const char*>(data),
                           static_cast<size_t>(newline - data));
  const size_t length = size - static_cast<size_t>(newline + 1 - data);
  std::unique_ptr<uint8_t[]> bytes(length > 0 ? new uint8_t[length] : nullptr);
  if (length > 0) std::memcpy(bytes.get(), newline + 1, length);
  PdbRecord record;
  record.length = static_cast<int32_t>(length);
  record.bytes = bytes.get();

  static CsvFile sink;
  static bool opened = sink.Open("/dev/null", "w");
  Check(opened);
  size_t used = 0;
  try {
    RecordToRow(record, sink, format);
    used = RoundTripLength(format, bytes.get(), length);
  } catch (const ZelError&) {
    return 0;
  }
  try {
    RecordToRow(record, sink, ParsedFormat(format, Charset::Cp932));
  } catch (const TextFault& fault) {
    Check(fault.kind == TextFault::Kind::NotDeviceText);
  }
  if (used == 0) return 0;
  const ParsedFormat cp1252(format, Charset::Cp1252);
  for (const ParsedFormat* parsed : {static_cast<const ParsedFormat*>(nullptr), &cp1252}) {
    std::vector<uint8_t> back = BackAndForth(record, format, parsed);
    Check(back.size() == used && std::memcmp(back.data(), bytes.get(), used) == 0);
  }
  return 0;
}
