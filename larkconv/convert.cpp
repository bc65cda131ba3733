#include "convert.h"

#include <cstdio>

namespace larkconv {

ZelError TextError(const TextFault& fault, Charset set, int64_t number) {
  const long long n = number;
  char text[128];
  switch (fault.kind) {
    case TextFault::Kind::NotDeviceText:
      std::snprintf(text, sizeof text, "record %lld is not valid %s text", n, CharsetName(set));
      break;
    case TextFault::Kind::NotUtf8:
      std::snprintf(text, sizeof text, "invalid UTF-8 in source csv row %lld", n);
      break;
    case TextFault::Kind::NotWritable:
      std::snprintf(text, sizeof text, "U+%04X cannot be written in %s, source csv row %lld",
                    static_cast<unsigned>(fault.character), CharsetName(set), n);
      break;
  }
  return ZelError(text);
}

void RethrowForRow(const std::exception_ptr& fault, Charset set, int64_t row) {
  try {
    std::rethrow_exception(fault);
  } catch (const TextFault& textFault) {
    throw TextError(textFault, set, row);
  }
}

void ConvertLines(const std::string& text, bool last, ParsedFormat& format, CsvFile& reader,
                  LinesConverted* out) {
  out->records.Clear();
  out->rest = std::string::npos;
  out->unterminated = false;
  out->fault = nullptr;
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  const char* row = begin;
  try {
    while (row < end) {
      if (const char* next = PlainRowToRecord(row, out->records, format)) {
        row = next;
        continue;
      }
      reader.ReadFrom(row, static_cast<size_t>(end - row));
      const bool read = reader.ReadLine();
      if (!last && reader.EndedInQuote()) {
        out->rest = static_cast<size_t>(row - begin);
        return;
      }
      if (!read) {
        out->unterminated = reader.RowUnterminated();
        return;
      }
      RowToRecord(reader, out->records, format);
      row += reader.ReadOffset();
    }
  } catch (...) {
    out->fault = std::current_exception();
  }
}

}  // namespace larkconv
