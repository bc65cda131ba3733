#pragma once

// larkinfo's scan of a PDB file's layout: where its header, entry list and
// blocks lie, checked against its size, with a warning for each odd thing.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pdb.h"

namespace larkconv::info {

/// The parts of a PDB file as its header and entry list place them, checked
/// against its size. Made by ScanLayout, read by the printers.
struct Layout {
  const uint8_t* file = nullptr;
  size_t size = 0;
  PdbHeader header;
  bool resourceDb = false;
  size_t entrySize = 8;
  uint64_t listEnd = 0;     // the end of the entry list
  bool entriesFit = false;  // the count is not negative and the list lies in the file
  bool offsetsFit = false;  // and every offset is in order and inside the file
  std::vector<std::string> warnings;
};

// Scans the size bytes at file, which must hold at least a header.
Layout ScanLayout(const uint8_t* file, size_t size);

// Warns of the bytes between the entry list and the data that belong to no
// AppInfo or SortInfo block, and of block offsets the reader ignores; db is
// the file as the reader read it. Two zero bytes there, the customary
// filler, are no fault.
void ScanBlocks(Layout* layout, const PdbDatabase& db);

// "record" or "resource".
const char* EntryNoun(const Layout& layout);

// The offset in entry i; only called once the entry list is known to fit.
uint32_t EntryOffset(const Layout& layout, size_t i);

}  // namespace larkconv::info
