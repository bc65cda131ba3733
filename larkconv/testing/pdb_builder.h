#pragma once

// Test support: PDB images described field by field and built byte by byte,
// and the records of a PDB file read back.

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bytes.h"
#include "pdb.h"
#include "testing/files.h"

namespace larkconv_testing {

using namespace larkconv;

/// One record of a test image: its bytes and entry fields. Listed in a
/// TestPdb, laid out by BuildPdb.
struct TestRecord {
  Bytes bytes;
  uint8_t attributes = 0;
  uint32_t uniqueId = 0;
};

/// A record database described field by field, turned into file bytes by
/// BuildPdb; tests then change single bytes to make faulty files.
struct TestPdb {
  std::string name = "Sample";
  uint16_t attributes = 0;
  uint16_t version = 0;
  uint32_t creationDate = 0;
  uint32_t modificationDate = 0;
  uint32_t lastBackupDate = 0;
  uint32_t modificationNumber = 0;
  uint32_t appInfoID = 0;
  uint32_t sortInfoID = 0;
  std::string type = "DATA";
  std::string creator = "Test";
  uint32_t uniqueIDSeed = 0;
  uint32_t nextRecordListID = 0;
  std::vector<TestRecord> records;
  Bytes gap;  // bytes between the entry list and the first record
};

inline void PutText(Bytes* out, const std::string& text, size_t width) {
  for (size_t i = 0; i < width; ++i)
    out->push_back(i < text.size() ? text[i] : 0);
}

inline Bytes BuildHeader(const TestPdb& p, uint16_t count) {
  Bytes out;
  PutText(&out, p.name, 32);
  PutBig16(&out, p.attributes);
  PutBig16(&out, p.version);
  PutBig32(&out, p.creationDate);
  PutBig32(&out, p.modificationDate);
  PutBig32(&out, p.lastBackupDate);
  PutBig32(&out, p.modificationNumber);
  PutBig32(&out, p.appInfoID);
  PutBig32(&out, p.sortInfoID);
  PutText(&out, p.type, 4);
  PutText(&out, p.creator, 4);
  PutBig32(&out, p.uniqueIDSeed);
  PutBig32(&out, p.nextRecordListID);
  PutBig16(&out, count);
  return out;
}

// The bytes of a text, without a terminating zero.
inline Bytes TextBytes(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

// A record database of these records, every entry field 0.
inline TestPdb RecordsPdb(const std::vector<Bytes>& records) {
  TestPdb p;
  for (const Bytes& r : records)
    p.records.push_back({r, 0, 0});
  return p;
}

inline Bytes BuildPdb(const TestPdb& p) {
  Bytes out = BuildHeader(p, static_cast<uint16_t>(p.records.size()));
  uint32_t offset = static_cast<uint32_t>(78 + 8 * p.records.size() + p.gap.size());
  for (const TestRecord& r : p.records) {
    PutBig32(&out, offset);
    out.push_back(r.attributes);
    out.push_back(static_cast<uint8_t>(r.uniqueId >> 16));
    PutBig16(&out, static_cast<uint16_t>(r.uniqueId));
    offset += static_cast<uint32_t>(r.bytes.size());
  }
  out.insert(out.end(), p.gap.begin(), p.gap.end());
  for (const TestRecord& r : p.records)
    out.insert(out.end(), r.bytes.begin(), r.bytes.end());
  return out;
}

/// One resource of a test resource database, laid out by BuildResourcePdb.
struct TestResource {
  std::string type;
  uint16_t id = 0;
  Bytes bytes;
};

inline Bytes BuildResourcePdb(TestPdb p, const std::vector<TestResource>& resources) {
  p.attributes |= 0x0001;
  Bytes out = BuildHeader(p, static_cast<uint16_t>(resources.size()));
  uint32_t offset = static_cast<uint32_t>(78 + 10 * resources.size());
  for (const TestResource& r : resources) {
    PutText(&out, r.type, 4);
    PutBig16(&out, r.id);
    PutBig32(&out, offset);
    offset += static_cast<uint32_t>(r.bytes.size());
  }
  for (const TestResource& r : resources)
    out.insert(out.end(), r.bytes.begin(), r.bytes.end());
  return out;
}

inline uint32_t Big32In(const Bytes& b, size_t at) {
  uint32_t v = 0;
  GetBig32(b.data() + at, b.data() + b.size(), &v);
  return v;
}

inline uint16_t Big16In(const Bytes& b, size_t at) {
  uint16_t v = 0;
  GetBig16(b.data() + at, b.data() + b.size(), &v);
  return v;
}

// The bytes of each record the image holds.
inline std::vector<Bytes> RecordsOf(const PdbDatabase& db) {
  std::vector<Bytes> records;
  for (int32_t i = 0; i < db.RecordCount(); ++i) {
    const PdbRecord* r = db.RecordAt(static_cast<uint32_t>(i));
    records.emplace_back(r->bytes, r->bytes + r->length);
  }
  return records;
}

// The records of the PDB file at path, read back through PdbDatabase.
inline std::vector<Bytes> RecordsOf(const fs::path& path) {
  PdbDatabase db;
  EXPECT_TRUE(db.Read(path.string()));
  return RecordsOf(db);
}

// The records of the PDB file whose bytes are file.
inline std::vector<Bytes> RecordsOf(const Bytes& file) {
  PdbDatabase db;
  db.ReadMemory(file.data(), file.size());
  return RecordsOf(db);
}

}  // namespace larkconv_testing
