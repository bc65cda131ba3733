#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace larkconv {

/// The 78-byte header of a PDB file, numbers in host order; name, type and
/// creator are raw bytes. Filled by PdbDatabase::Read, written by Write.
struct PdbHeader {
  char name[32] = {};
  uint16_t attributes = 0;
  uint16_t version = 0;
  uint32_t creationDate = 0;
  uint32_t modificationDate = 0;
  uint32_t lastBackupDate = 0;
  uint32_t modificationNumber = 0;
  uint32_t appInfoID = 0;
  uint32_t sortInfoID = 0;
  char type[4] = {};
  char creator[4] = {};
  uint32_t uniqueIDSeed = 0;
  uint32_t nextRecordListID = 0;
  int16_t numRecords = 0;
};

/// Thrown by PdbDatabase::Read and ReadMemory for a file whose record count,
/// offsets or lengths do not fit inside it; the driver reports "Internal error".
class PdbCorruptError : public std::runtime_error {
 public:
  PdbCorruptError() : std::runtime_error("corrupt pdb file") {}
};

constexpr int kPdbHeaderSize = 78;
constexpr int kPdbMaxRecords = 32767;

// A PDB date (seconds since 1904-01-01 UTC, low 32 bits) for a time given in
// seconds since 1970-01-01 UTC.
uint32_t PalmDateFromUnix(int64_t unixSeconds);

// The header of the size bytes of a PDB file at file, as the reader takes it:
// the missing part of a short file reads as zero bytes.
PdbHeader DecodePdbHeader(const uint8_t* file, size_t size);

/// One record of a record database. Records handed out by the image point into
/// buffers the image owns; a caller of AppendRecord keeps its own buffer.
struct PdbRecord {
  int32_t length = 0;
  const uint8_t* bytes = nullptr;
  uint8_t attributes = 0;  // the entry's attribute byte, kept as read
  uint32_t uniqueId = 0;   // the entry's 24-bit unique ID, kept as read
};

/// One resource of a resource database; resources only enter the image by Read.
struct PdbResource {
  std::string type;  // up to 4 characters
  int32_t id = 0;    // the 16-bit id, sign-extended
  int32_t length = 0;
  const uint8_t* bytes = nullptr;
};

/// The in-memory image of one Palm OS database, read from and written to a PDB
/// file whole. The driver owns one per run; the converters add and read records.
class PdbDatabase {
 public:
  PdbDatabase() = default;
  PdbDatabase(const PdbDatabase&) = delete;
  PdbDatabase& operator=(const PdbDatabase&) = delete;

  // False when the file cannot be opened or read, or is shorter than the
  // 78-byte header (an empty file too): that is no database. A file whose
  // count, offsets or lengths do not fit inside it throws PdbCorruptError,
  // before allocating.
  bool Read(const std::string& path);
  // Reads the image from the bytes of a whole PDB file held in memory, as
  // Read does from a file, keeping its own copy of them; false, the image
  // emptied, for fewer bytes than a header. Product API: the shipped larkinfo
  // reads files this way; the tests and fuzz targets too.
  bool ReadMemory(const uint8_t* bytes, size_t size);
  // Writes a temporary file beside the destination and renames it over the
  // destination once every byte is written; false on any failure, in which
  // case the destination is untouched and no temporary file is left.
  bool Write(const std::string& path) const;
  void Clear();

  bool IsResourceDb() const { return resourceDb; }
  void SetResourceDb(bool value) { resourceDb = value; }
  int32_t RecordCount() const;
  const PdbRecord* RecordAt(uint32_t index) const;
  // False on a resource database. Otherwise appends a copy of the record's
  // bytes, with attribute byte 0 and unique ID 0. Throws ZelError when the
  // image already holds the most records a PDB can count.
  bool AppendRecord(const PdbRecord& record);
  // Appends the first count records of other as AppendRecord would, without
  // copying their bytes: the buffers holding them move here, and other is
  // left empty. Throws as AppendRecord does once the most are held.
  bool TakeRecords(PdbDatabase& other, size_t count);
  // Makes room in the record table for up to more records after those held
  // (never beyond the most a PDB can count), so that appending them fills the
  // table in place instead of growing and copying it.
  void ReserveRecords(size_t more);
  void SetName(const std::string& name);
  void SetCreatorType(const std::string& creator, const std::string& type);

  const PdbHeader& Header() const { return header; }
  const std::vector<PdbResource>& Resources() const { return resources; }
  // The copy-prevention and hidden flags of the file last read, which Write
  // puts back. Only the tests and fuzz targets read them here.
  bool CopyPrevention() const { return copyPrevention; }
  bool Hidden() const { return hidden; }
  // The AppInfo and SortInfo blocks kept from the file last read; empty when
  // it had none. Write puts them back after the entry list.
  const std::vector<uint8_t>& AppInfo() const { return appInfo; }
  const std::vector<uint8_t>& SortInfo() const { return sortInfo; }

 private:
  const uint8_t* Keep(const uint8_t* bytes, size_t length);
  void Parse(std::unique_ptr<uint8_t[]> file, size_t size);
  std::vector<uint8_t> Layout(uint32_t date, bool* fits) const;

  std::vector<PdbResource> resources;
  std::vector<PdbRecord> records;
  std::vector<std::unique_ptr<uint8_t[]>> buffers;  // owns every record and resource
  uint8_t* keepNext = nullptr;                      // the free end of the newest block Keep fills
  size_t keepRoom = 0;                              // and the bytes left there
  std::vector<uint8_t> appInfo;   // the AppInfo block of a database read from a file
  std::vector<uint8_t> sortInfo;  // the SortInfo block likewise
  bool resourceDb = true;
  bool copyPrevention = false;
  bool hidden = false;
  PdbHeader header;
};

}  // namespace larkconv
