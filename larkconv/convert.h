#pragma once

// The conversion steps larkconv's driver runs and larkinfo's format check
// runs again, so that the check proves what a conversion does: whole CSV
// lines into records, and the messages of a record or row whose text does
// not convert.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "ZelError.h"
#include "charset.h"
#include "csv.h"
#include "format.h"
#include "pdb.h"

namespace larkconv {

// The message of a record (-pdb) or row (-csv) whose text did not convert;
// number counts as -r counts.
ZelError TextError(const TextFault& fault, Charset set, int64_t number);

// Throws the fault of row number row, a TextFault with its message.
[[noreturn]] void RethrowForRow(const std::exception_ptr& fault, Charset set, int64_t row);

/// What converting a text of whole CSV lines gave, in storage kept from text
/// to text. Filled by ConvertLines; the driver empties it into its database.
struct LinesConverted {
  PdbDatabase records;  // one for each row converted, in order; a record database
  // Where a row begins that goes on past the text (never in the file's last
  // lines), or npos.
  size_t rest = std::string::npos;
  bool unterminated = false;  // the row after the records is quoted to the file's end
  std::exception_ptr fault;   // the fault of the row after the records
};

// Converts the rows of text, whole lines of a CSV source (the last ones when
// last), into out->records, up to the first fault or a row that goes on past
// the text. Plain rows are read straight from the text, the others by reader.
void ConvertLines(const std::string& text, bool last, ParsedFormat& format, CsvFile& reader,
                  LinesConverted* out);

}  // namespace larkconv
