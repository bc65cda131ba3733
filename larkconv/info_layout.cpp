#include "info_layout.h"

#include <cstring>

#include "bytes.h"
#include "info_text.h"

namespace larkconv::info {

namespace {

constexpr size_t kEntryWarnings = 8;  // entry warnings shown before the rest are counted

// Checks every entry's offset against the next one and the file's end, as
// the reader does; a fault there stops the reader.
void ScanOffsets(Layout* l) {
  const size_t n = static_cast<size_t>(l->header.numRecords);
  size_t faults = 0;
  for (size_t i = 0; i < n; ++i) {
    const uint32_t start = EntryOffset(*l, i);
    std::string fault;
    if (start > l->size) {
      fault = Printf("%s %zu starts at %u, past the end of the file", EntryNoun(*l), i, start);
    } else if (i + 1 < n && EntryOffset(*l, i + 1) < start) {
      fault = Printf("%s %zu starts at %u, before %s %zu at %u", EntryNoun(*l), i + 1,
                     EntryOffset(*l, i + 1), EntryNoun(*l), i, start);
    }
    if (fault.empty()) continue;
    if (++faults <= kEntryWarnings) l->warnings.push_back(fault);
  }
  if (faults > kEntryWarnings)
    l->warnings.push_back(Printf("%zu more entries are out of place", faults - kEntryWarnings));
  l->offsetsFit = faults == 0;
  if (l->offsetsFit && n > 0 && EntryOffset(*l, 0) < l->listEnd) {
    l->warnings.push_back(
        Printf("%s 0 starts at %u, inside the header and entry list, which end at %llu",
               EntryNoun(*l), EntryOffset(*l, 0), static_cast<unsigned long long>(l->listEnd)));
  }
}

}  // namespace

const char* EntryNoun(const Layout& l) {
  return l.resourceDb ? "resource" : "record";
}

uint32_t EntryOffset(const Layout& l, size_t i) {
  const uint8_t* entry = l.file + kPdbHeaderSize + i * l.entrySize;
  uint32_t offset = 0;
  GetBig32(entry + (l.resourceDb ? 6 : 0), l.file + l.size, &offset);
  return offset;
}

Layout ScanLayout(const uint8_t* file, size_t size) {
  Layout l;
  l.file = file;
  l.size = size;
  l.header = DecodePdbHeader(file, size);
  l.resourceDb = (l.header.attributes & 0x0001) != 0;
  l.entrySize = l.resourceDb ? 10 : 8;
  if (std::memchr(l.header.name, 0, sizeof l.header.name) == nullptr)
    l.warnings.push_back("the name fills all 32 bytes, with no zero byte to end it");
  const int16_t n = l.header.numRecords;
  l.listEnd = kPdbHeaderSize + static_cast<uint64_t>(n < 0 ? 0 : n) * l.entrySize;
  if (n < 0) {
    l.warnings.push_back(Printf("the %s count %d is negative", EntryNoun(l), n));
  } else if (n > 0 && l.listEnd > size) {
    l.warnings.push_back(Printf("the list of %d entries ends at %llu, past the end of the file", n,
                                static_cast<unsigned long long>(l.listEnd)));
  } else {
    l.entriesFit = true;
    ScanOffsets(&l);
  }
  if (l.header.nextRecordListID != 0) {
    l.warnings.push_back(Printf("the header names a further entry list at %u, which is not read",
                                l.header.nextRecordListID));
  }
  return l;
}

void ScanBlocks(Layout* l, const PdbDatabase& db) {
  const uint64_t dataStart = l->header.numRecords > 0 ? EntryOffset(*l, 0) : l->size;
  uint64_t firstUsed = dataStart;
  const struct {
    const char* name;
    uint32_t id;
    bool read;
  } blocks[] = {{"AppInfo", l->header.appInfoID, !db.AppInfo().empty()},
                {"SortInfo", l->header.sortInfoID, !db.SortInfo().empty()}};
  for (const auto& block : blocks) {
    if (block.read && block.id < firstUsed) firstUsed = block.id;
    if (block.id != 0 && !block.read) {
      l->warnings.push_back(
          Printf("the %s block's offset %u is not between the entry list and "
                 "the data; the block is not read",
                 block.name, block.id));
    }
  }
  if (firstUsed <= l->listEnd) return;
  const uint64_t gap = firstUsed - l->listEnd;
  const bool filler = gap == 2 && l->file[l->listEnd] == 0 && l->file[l->listEnd + 1] == 0;
  if (filler) return;
  l->warnings.push_back(
      Printf("%s at %llu, between the entry list and the data, belong to no "
             "record or block",
             ByteCount(gap).c_str(), static_cast<unsigned long long>(l->listEnd)));
}

}  // namespace larkconv::info
