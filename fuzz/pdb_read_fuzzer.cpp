// Fuzzes the reading of a PDB file (PdbDatabase::ReadMemory, the parsing path
// of Read), then writes the image and reads it back: what was read must come
// back the same.
//
// Input: the file's bytes.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "pdb.h"
#include "testing/files.h"

using namespace larkconv;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool SameBytes(const uint8_t* a, const uint8_t* b, int32_t length) {
  return length == 0 || std::memcmp(a, b, static_cast<size_t>(length)) == 0;
}

// Reads every byte, so that bytes outside the memory the image owns are caught.
void Touch(const uint8_t* bytes, int32_t length) {
  Check(length >= 0 && (length == 0 || bytes != nullptr));
  volatile uint8_t sum = 0;
  for (int32_t i = 0; i < length; ++i)
    sum = static_cast<uint8_t>(sum + bytes[i]);
}

void CheckHeld(const PdbDatabase& db) {
  for (const PdbResource& res : db.Resources())
    Touch(res.bytes, res.length);
  for (int32_t i = 0; !db.IsResourceDb() && i < db.RecordCount(); ++i) {
    const PdbRecord* rec = db.RecordAt(static_cast<uint32_t>(i));
    Check(rec != nullptr);
    Touch(rec->bytes, rec->length);
  }
}

void CheckHeaderKept(const PdbHeader& a, const PdbHeader& b) {
  Check(std::memcmp(a.name, b.name, sizeof a.name) == 0);
  Check(std::memcmp(a.type, b.type, sizeof a.type) == 0);
  Check(std::memcmp(a.creator, b.creator, sizeof a.creator) == 0);
  Check(a.version == b.version && a.lastBackupDate == b.lastBackupDate);
  Check(a.modificationNumber == b.modificationNumber && a.uniqueIDSeed == b.uniqueIDSeed);
  Check(a.nextRecordListID == b.nextRecordListID && a.numRecords == b.numRecords);
}

void CheckSameImage(const PdbDatabase& a, const PdbDatabase& b) {
  CheckHeaderKept(a.Header(), b.Header());
  Check(a.IsResourceDb() == b.IsResourceDb() && a.RecordCount() == b.RecordCount());
  Check(a.CopyPrevention() == b.CopyPrevention() && a.Hidden() == b.Hidden());
  Check(a.AppInfo() == b.AppInfo() && a.SortInfo() == b.SortInfo());
  for (int32_t i = 0; !a.IsResourceDb() && i < a.RecordCount(); ++i) {
    const PdbRecord* x = a.RecordAt(static_cast<uint32_t>(i));
    const PdbRecord* y = b.RecordAt(static_cast<uint32_t>(i));
    Check(x->length == y->length && SameBytes(x->bytes, y->bytes, x->length));
    Check(x->attributes == y->attributes && x->uniqueId == y->uniqueId);
  }
  for (size_t i = 0; a.IsResourceDb() && i < a.Resources().size(); ++i) {
    const PdbResource& x = a.Resources()[i];
    const PdbResource& y = b.Resources()[i];
    Check(x.type == y.type && x.id == y.id && x.length == y.length);
    Check(SameBytes(x.bytes, y.bytes, x.length));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  PdbDatabase db;
  try {
    if (!db.ReadMemory(data, size)) return 0;  // shorter than a header: no database
  } catch (const PdbCorruptError&) {
    return 0;  // the file's counts or offsets do not fit it
  }
  CheckHeld(db);
  if (!db.IsResourceDb() && db.RecordCount() < kPdbMaxRecords) {
    PdbRecord extra;
    extra.length = 0;
    Check(db.AppendRecord(extra));
  }

  const std::string path = (larkconv_testing::ProcessScratchDir() / "out.pdb").string();
  Check(db.Write(path));
  PdbDatabase again;
  Check(again.Read(path));
  CheckSameImage(db, again);
  return 0;
}
