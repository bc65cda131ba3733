#include "pdb.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iterator>
#include <new>
#include <stdexcept>

#include "ZelError.h"
#include "bytes.h"
#include "filesys.h"
#include "outputfile.h"

namespace larkconv {

namespace {

constexpr uint16_t kAttrResourceDb = 0x0001;
constexpr uint16_t kAttrCopyPrevention = 0x0040;
constexpr uint16_t kAttrHidden = 0x0100;
constexpr size_t kRecordEntrySize = 8;
constexpr size_t kResourceEntrySize = 10;
constexpr uint32_t kSecondsFrom1904To1970 = 2082844800u;
constexpr size_t kKeepBlock = 64 * 1024;
constexpr size_t kStreamBlock = 64 * 1024;  // a PDB read from a pipe arrives in blocks of this

// raw holds exactly kPdbHeaderSize bytes.
PdbHeader DecodeHeader(const uint8_t* raw) {
  PdbHeader h;
  std::memcpy(h.name, raw, sizeof h.name);
  h.attributes = DecodeBig16(raw + 32);
  h.version = DecodeBig16(raw + 34);
  h.creationDate = DecodeBig32(raw + 36);
  h.modificationDate = DecodeBig32(raw + 40);
  h.lastBackupDate = DecodeBig32(raw + 44);
  h.modificationNumber = DecodeBig32(raw + 48);
  h.appInfoID = DecodeBig32(raw + 52);
  h.sortInfoID = DecodeBig32(raw + 56);
  std::memcpy(h.type, raw + 60, sizeof h.type);
  std::memcpy(h.creator, raw + 64, sizeof h.creator);
  h.uniqueIDSeed = DecodeBig32(raw + 68);
  h.nextRecordListID = DecodeBig32(raw + 72);
  h.numRecords = static_cast<int16_t>(DecodeBig16(raw + 76));
  return h;
}

// The mirror of DecodeHeader: raw has room for kPdbHeaderSize bytes.
void EncodeHeader(const PdbHeader& h, uint8_t* raw) {
  std::memcpy(raw, h.name, sizeof h.name);
  EncodeBig16(raw + 32, h.attributes);
  EncodeBig16(raw + 34, h.version);
  EncodeBig32(raw + 36, h.creationDate);
  EncodeBig32(raw + 40, h.modificationDate);
  EncodeBig32(raw + 44, h.lastBackupDate);
  EncodeBig32(raw + 48, h.modificationNumber);
  EncodeBig32(raw + 52, h.appInfoID);
  EncodeBig32(raw + 56, h.sortInfoID);
  std::memcpy(raw + 60, h.type, sizeof h.type);
  std::memcpy(raw + 64, h.creator, sizeof h.creator);
  EncodeBig32(raw + 68, h.uniqueIDSeed);
  EncodeBig32(raw + 72, h.nextRecordListID);
  EncodeBig16(raw + 76, static_cast<uint16_t>(h.numRecords));
}

// Copies at most max characters of text, stopping at its end or at a zero.
void CopyText(char* field, size_t max, const std::string& text) {
  for (size_t i = 0; i < max && i < text.size() && text[i] != '\0'; ++i)
    field[i] = text[i];
}

// Reads a stream to its end into one buffer of exactly its length, taking it
// in blocks first: nothing is allocated beyond what has arrived.
bool LoadStream(FILE* file, std::unique_ptr<uint8_t[]>* data, size_t* size) {
  std::vector<std::unique_ptr<uint8_t[]>> blocks;
  size_t total = 0;
  size_t last = kStreamBlock;  // bytes in the newest block
  while (last == kStreamBlock) {
    blocks.emplace_back(new uint8_t[kStreamBlock]);
    last = std::fread(blocks.back().get(), 1, kStreamBlock, file);
    total += last;
  }
  if (std::ferror(file)) return false;
  data->reset(new uint8_t[total]);
  for (size_t i = 0; i < blocks.size(); ++i) {
    const size_t n = i + 1 < blocks.size() ? kStreamBlock : last;
    if (n > 0) std::memcpy(data->get() + i * kStreamBlock, blocks[i].get(), n);
  }
  *size = total;
  return true;
}

// Loads the whole open file; false when it cannot be read. A pipe or FIFO,
// whose length is not known before, is read to its end in blocks.
bool LoadWhole(FILE* file, std::unique_ptr<uint8_t[]>* data, size_t* size) {
  int64_t length = filesys::FileLength(file);
  if (length < 0) return LoadStream(file, data, size);
  if (static_cast<uint64_t>(length) > SIZE_MAX) return false;
  *size = static_cast<size_t>(length);
  data->reset(new uint8_t[*size]);  // not zero-filled: fread overwrites it whole
  return std::fread(data->get(), 1, *size, file) == *size;
}

// A block kept before the first record: from id to the next greater of other,
// dataStart and the end of the file. Empty when id is 0 or points outside the
// space between the entry list and dataStart.
std::vector<uint8_t> InfoBlock(const uint8_t* file, uint64_t listEnd, uint64_t dataStart,
                               uint32_t id, uint32_t other) {
  if (id == 0 || id < listEnd || id >= dataStart) return {};
  uint64_t end = (other > id && other < dataStart) ? other : dataStart;
  return std::vector<uint8_t>(file + id, file + end);
}

// e points at a whole 8-byte record entry.
PdbRecord RecordFromEntry(const uint8_t* e, const uint8_t* bytes, int32_t length) {
  PdbRecord rec;
  rec.length = length;
  rec.bytes = bytes;
  rec.attributes = e[4];
  rec.uniqueId = (uint32_t{e[5]} << 16) | (uint32_t{e[6]} << 8) | e[7];
  return rec;
}

// e points at a whole 10-byte resource entry.
PdbResource ResourceFromEntry(const uint8_t* e, const uint8_t* bytes, int32_t length) {
  PdbResource res;
  res.type.assign(e, std::find(e, e + 4, uint8_t{0}));
  res.id = static_cast<int16_t>(DecodeBig16(e + 4));
  res.length = length;
  res.bytes = bytes;
  return res;
}

}  // namespace

uint32_t PalmDateFromUnix(int64_t unixSeconds) {
  return static_cast<uint32_t>(static_cast<uint64_t>(unixSeconds) + kSecondsFrom1904To1970);
}

bool PdbDatabase::Read(const std::string& path) {
  Clear();
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  std::unique_ptr<uint8_t[]> data;
  size_t size = 0;
  bool loaded = LoadWhole(file, &data, &size);
  std::fclose(file);
  if (!loaded || size < static_cast<size_t>(kPdbHeaderSize)) return false;
  Parse(std::move(data), size);
  return true;
}

PdbHeader DecodePdbHeader(const uint8_t* file, size_t size) {
  uint8_t raw[kPdbHeaderSize] = {};
  if (size > 0) std::memcpy(raw, file, std::min<size_t>(size, kPdbHeaderSize));
  return DecodeHeader(raw);
}

bool PdbDatabase::ReadMemory(const uint8_t* bytes, size_t size) {
  Clear();
  if (size < static_cast<size_t>(kPdbHeaderSize)) return false;
  std::unique_ptr<uint8_t[]> copy(new uint8_t[size]);
  std::memcpy(copy.get(), bytes, size);
  Parse(std::move(copy), size);
  return true;
}

// Takes the image apart. Every count, offset and length is checked against
// the file before use; a file they do not fit throws PdbCorruptError.
void PdbDatabase::Parse(std::unique_ptr<uint8_t[]> file, size_t size) {
  PdbHeader read = DecodePdbHeader(file.get(), size);
  bool readResourceDb = (read.attributes & kAttrResourceDb) != 0;
  if (read.numRecords < 0) throw PdbCorruptError();

  size_t n = static_cast<size_t>(read.numRecords);
  size_t entrySize = readResourceDb ? kResourceEntrySize : kRecordEntrySize;
  uint64_t listEnd = kPdbHeaderSize + n * entrySize;
  if (n > 0 && listEnd > size) throw PdbCorruptError();

  const uint8_t* base = file.get();
  auto entry = [&](size_t i) { return base + kPdbHeaderSize + i * entrySize; };
  auto offsetOf = [&](size_t i) { return DecodeBig32(entry(i) + (readResourceDb ? 6 : 0)); };
  std::vector<PdbRecord> readRecords;
  std::vector<PdbResource> readResources;
  if (readResourceDb) {
    readResources.reserve(n);
  } else {
    readRecords.reserve(n);
  }
  for (size_t i = 0; i < n; ++i) {
    uint64_t start = offsetOf(i);
    uint64_t end = i + 1 < n ? offsetOf(i + 1) : size;
    if (start > end || end > size) throw PdbCorruptError();
    if (end - start > INT32_MAX) throw PdbCorruptError();
    int32_t length = static_cast<int32_t>(end - start);
    if (readResourceDb) {
      readResources.push_back(ResourceFromEntry(entry(i), base + start, length));
    } else {
      readRecords.push_back(RecordFromEntry(entry(i), base + start, length));
    }
  }

  uint64_t dataStart = n > 0 ? offsetOf(0) : size;
  appInfo = InfoBlock(base, listEnd, dataStart, read.appInfoID, read.sortInfoID);
  sortInfo = InfoBlock(base, listEnd, dataStart, read.sortInfoID, read.appInfoID);
  records = std::move(readRecords);
  resources = std::move(readResources);
  buffers.push_back(std::move(file));
  resourceDb = readResourceDb;
  copyPrevention = (read.attributes & kAttrCopyPrevention) != 0;
  hidden = (read.attributes & kAttrHidden) != 0;
  header = read;
}

// The file's header, entry list and info blocks for the given date; *fits is
// false when the file would be too long for its 32-bit offsets.
std::vector<uint8_t> PdbDatabase::Layout(uint32_t date, bool* fits) const {
  size_t n = resourceDb ? resources.size() : records.size();
  uint64_t listEnd = kPdbHeaderSize + n * (resourceDb ? kResourceEntrySize : kRecordEntrySize);
  PdbHeader h = header;
  h.creationDate = date;
  h.modificationDate = date;
  h.attributes = resourceDb ? kAttrResourceDb : header.attributes;
  if (copyPrevention) h.attributes |= kAttrCopyPrevention;
  if (hidden) h.attributes |= kAttrHidden;
  h.appInfoID = appInfo.empty() ? 0 : static_cast<uint32_t>(listEnd);
  h.sortInfoID = sortInfo.empty() ? 0 : static_cast<uint32_t>(listEnd + appInfo.size());
  h.numRecords = static_cast<int16_t>(n);

  std::vector<uint8_t> out(static_cast<size_t>(listEnd));  // zero-filled
  EncodeHeader(h, out.data());
  uint8_t* entry = out.data() + kPdbHeaderSize;
  uint64_t offset = listEnd + appInfo.size() + sortInfo.size();
  for (size_t i = 0; i < n; ++i) {
    if (resourceDb) {
      const PdbResource& res = resources[i];
      CopyText(reinterpret_cast<char*>(entry), 4, res.type);
      EncodeBig16(entry + 4, static_cast<uint16_t>(res.id));
      EncodeBig32(entry + 6, static_cast<uint32_t>(offset));
      offset += static_cast<uint32_t>(res.length);
      entry += kResourceEntrySize;
    } else {
      const PdbRecord& rec = records[i];
      EncodeBig32(entry, static_cast<uint32_t>(offset));
      entry[4] = rec.attributes;
      entry[5] = static_cast<uint8_t>(rec.uniqueId >> 16);
      EncodeBig16(entry + 6, static_cast<uint16_t>(rec.uniqueId));
      offset += static_cast<uint32_t>(rec.length);
      entry += kRecordEntrySize;
    }
  }
  *fits = offset <= UINT32_MAX;
  out.insert(out.end(), appInfo.begin(), appInfo.end());
  out.insert(out.end(), sortInfo.begin(), sortInfo.end());
  return out;
}

bool PdbDatabase::Write(const std::string& path) const {
  bool fits = false;
  std::vector<uint8_t> head = Layout(PalmDateFromUnix(std::time(nullptr)), &fits);
  OutputFile out;
  if (!fits || !out.Open(path, false, false)) return false;
  // Small records are gathered into whole blocks of the stream's buffer size,
  // which it writes without copying, instead of one call each.
  std::unique_ptr<uint8_t[]> block(new uint8_t[OutputFile::kBufferSize]);
  size_t gathered = 0;
  bool ok = out.Write(head.data(), head.size());
  auto put = [&](const uint8_t* bytes, int32_t length) {
    const size_t size = static_cast<size_t>(length);
    if (size > OutputFile::kBufferSize - gathered) {
      ok = ok && out.Write(block.get(), gathered);
      gathered = 0;
    }
    if (size >= OutputFile::kBufferSize) {
      ok = ok && out.Write(bytes, size);
    } else if (size > 0) {
      std::memcpy(block.get() + gathered, bytes, size);
      gathered += size;
    }
  };
  if (resourceDb) {
    for (size_t i = 0; ok && i < resources.size(); ++i)
      put(resources[i].bytes, resources[i].length);
  } else {
    for (size_t i = 0; ok && i < records.size(); ++i)
      put(records[i].bytes, records[i].length);
  }
  ok = ok && out.Write(block.get(), gathered);
  return ok && out.Commit();
}

void PdbDatabase::Clear() {
  records.clear();
  resources.clear();
  buffers.clear();
  keepNext = nullptr;
  keepRoom = 0;
}

int32_t PdbDatabase::RecordCount() const {
  return static_cast<int32_t>(resourceDb ? resources.size() : records.size());
}

const PdbRecord* PdbDatabase::RecordAt(uint32_t index) const {
  if (resourceDb || index >= records.size()) return nullptr;
  return &records[index];
}

bool PdbDatabase::AppendRecord(const PdbRecord& record) {
  if (resourceDb) return false;
  if (records.size() >= static_cast<size_t>(kPdbMaxRecords))
    throw ZelError("pdb cannot hold more than 32767 records");
  if (record.length < 0 || (record.length > 0 && !record.bytes))
    throw std::invalid_argument("record without bytes");
  PdbRecord copy;
  copy.length = record.length;
  copy.bytes = Keep(record.bytes, static_cast<size_t>(record.length));
  records.push_back(copy);
  header.numRecords = static_cast<int16_t>(records.size());
  return true;
}

bool PdbDatabase::TakeRecords(PdbDatabase& other, size_t count) {
  if (resourceDb) return false;
  count = std::min(count, other.records.size());
  const size_t most = static_cast<size_t>(kPdbMaxRecords);
  const size_t taken = std::min(count, most - std::min(records.size(), most));
  for (size_t i = 0; i < taken; ++i) {
    PdbRecord record;
    record.length = other.records[i].length;
    record.bytes = other.records[i].bytes;
    records.push_back(record);
  }
  header.numRecords = static_cast<int16_t>(records.size());
  buffers.insert(buffers.end(), std::make_move_iterator(other.buffers.begin()),
                 std::make_move_iterator(other.buffers.end()));
  other.Clear();
  if (taken < count) throw ZelError("pdb cannot hold more than 32767 records");
  return true;
}

void PdbDatabase::ReserveRecords(size_t more) {
  const size_t most = static_cast<size_t>(kPdbMaxRecords);
  records.reserve(records.size() + std::min(more, most - std::min(records.size(), most)));
}

// Small records are kept side by side in blocks of kKeepBlock bytes, so that
// thousands of them cost a few allocations; a large one gets its own buffer.
const uint8_t* PdbDatabase::Keep(const uint8_t* bytes, size_t length) {
  uint8_t* kept;
  if (length >= kKeepBlock / 4) {
    buffers.emplace_back(new uint8_t[length]);
    kept = buffers.back().get();
  } else {
    if (keepNext == nullptr || length > keepRoom) {
      buffers.emplace_back(new uint8_t[kKeepBlock]);
      keepNext = buffers.back().get();
      keepRoom = kKeepBlock;
    }
    kept = keepNext;
    keepNext += length;
    keepRoom -= length;
  }
  if (length > 0) std::memcpy(kept, bytes, length);
  return kept;
}

void PdbDatabase::SetName(const std::string& name) {
  std::memset(header.name, 0, sizeof header.name);
  CopyText(header.name, sizeof header.name - 1, name);
}

void PdbDatabase::SetCreatorType(const std::string& creator, const std::string& type) {
  std::memset(header.creator, 0, sizeof header.creator);
  std::memset(header.type, 0, sizeof header.type);
  CopyText(header.creator, sizeof header.creator, creator);
  CopyText(header.type, sizeof header.type, type);
}

}  // namespace larkconv
