#pragma once

// larkinfo's views of a PDB file: the header in words, the record list and
// the dump of the records' bytes, each line in a fixed layout.

#include <cstdint>
#include <ostream>

#include "info_layout.h"
#include "pdb.h"

namespace larkconv::info {

/// The records or resources chosen by -r, as indexes into the image. Made by
/// InspectPdb, walked by the list, dump and check.
struct Range {
  int32_t first = 0;
  int32_t end = 0;  // one past the last
};

// The header's lines; db is the file as read, or nullptr when its records
// cannot be read.
void PrintHeader(const Layout& layout, const PdbDatabase* db, std::ostream& out);

// The heading and one line per record or resource in range.
void PrintList(const Layout& layout, const PdbDatabase& db, Range range, std::ostream& out);

// The line "record N  offset O  length L" and the bytes of record (or
// resource) index, 16 to a line.
void PrintEntryDump(const Layout& layout, const PdbDatabase& db, int32_t index, std::ostream& out);

// The dump of every record or resource in range, a blank line between two.
void PrintDump(const Layout& layout, const PdbDatabase& db, Range range, std::ostream& out);

}  // namespace larkconv::info
