#pragma once

// The emulator substitute's device: the databases it holds, by name, as the
// whole PDB or PRC files they came from, with what the device's trap calls
// report about them. Test support only.

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace gantry_testing {

/// What the device reports about one database (the by-reference values of
/// DmDatabaseInfo), read from its stored header. Filled by DeviceStore::InfoOf.
struct DatabaseInfo {
  uint16_t attributes = 0;
  uint16_t version = 0;
  uint32_t created = 0;
  uint32_t modified = 0;
  uint32_t backedUp = 0;
  uint32_t modNumber = 0;
  uint32_t appInfo = 0;
  uint32_t sortInfo = 0;
  uint32_t type = 0;
  uint32_t creator = 0;
};

/// How an import of a host file went. Told by DeviceStore::Import to the trap
/// handlers, which answer the way the device at hand does.
enum class ImportOutcome {
  Stored,
  Unreadable,   // the file can't be opened or read
  NotImported,  // not a database, or a name not ending in .prc, .pdb or .pqa
  BadDates,     // creation date 0 or later than the modification date
  HeldOpen,     // a database of that name is open and can't be deleted
};

/// The databases of the emulated device. Seeded by tests and the command line
/// of gantry-emulator, changed by imports, read by the trap handlers; every
/// operation is safe from several connection threads at once.
class DeviceStore {
 public:
  // A database made up from these facts: a header alone, type "DATA".
  void Add(const std::string& name, uint32_t localId, uint16_t version);
  // A database holding these file bytes; its header may name another one.
  void AddImage(const std::string& name, uint32_t localId, const std::vector<uint8_t>& image);
  // An application holds the database open, so that it can't be replaced.
  void HoldOpen(const std::string& name);

  // The local id of the database of this name, or 0.
  uint32_t Find(const std::string& name) const;
  // False when no database has this local id.
  bool InfoOf(uint32_t localId, DatabaseInfo* info) const;
  bool Holds(uint32_t localId) const;
  // The stored file of the database of this name; false when there is none.
  bool Image(const std::string& name, std::vector<uint8_t>* image) const;

  // Reads the file at path and stores it under its header's name, in place
  // of a database of that name, as the emulator's import does.
  ImportOutcome Import(const std::string& path);
  // As the emulator's export: creates or empties the file at path, then
  // writes the database's file into it. The D0 the emulator answers: 0,
  // 0xFFFA0000 + errno when the file can't be written, 0xFFFC0207 when there
  // is no such database (the empty file stays).
  uint32_t Export(const std::string& name, const std::string& path);

 private:
  /// One stored database. Kept by the store under its name.
  struct Database {
    uint32_t localId = 0;
    std::vector<uint8_t> image;  // the whole file, header first
  };

  // A local id no database has yet.
  uint32_t FreshIdLocked() const;

  mutable std::mutex mutex;
  std::map<std::string, Database> databases;
  std::set<std::string> heldOpen;
};

}  // namespace gantry_testing
