// Corrupt PDB files through the built larkconv, both as a source (-pdb) and
// as a destination appended to (-csv -a): truncated headers and entry lists,
// negative and huge counts, offsets past the end, descending offsets, zero
// length and overlapping entries, stray AppInfo and SortInfo ids, resource
// databases with odd types, and random damage. The program must never die of
// a signal, must end exactly as reading the file in this process says, and
// must leave a destination that is either complete or unchanged. It runs with
// its address space held to 512 MB, and every allocation made while reading
// the file here is measured: none may be sized from what the file claims.
// larkinfo goes through every file too, as a program and in this process.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "info.h"
#include "pdb.h"
#include "testing/allocations.h"
#include "testing/child_runs.h"
#include "testing/pdb_builder.h"

using namespace larkconv;
using namespace larkconv_testing;

namespace {

constexpr int64_t kAddressSpace = int64_t{512} << 20;
constexpr uint8_t kAppended = 7;

/// One damaged file and how it came about.
struct Corrupt {
  std::string what;
  Bytes bytes;
};

/// How a file must read: refused as no database (shorter than a header),
/// fail (PdbCorruptError, "Internal error"), or give a resource database, or
/// these records.
struct Expected {
  bool tooShort = false;
  bool readFails = false;
  bool resourceDb = false;
  std::vector<Bytes> records;
};

// The reading rules, written out plainly: a file shorter than a header is no
// database; a negative count, an entry list past the end of the file,
// descending offsets and offsets past the end fail; each entry runs to the
// next one's offset, the last one to the end of the file.
Expected Model(const Bytes& file) {
  Expected e;
  if (file.size() < 78) {
    e.tooShort = true;
    return e;
  }
  const Bytes header(file.begin(), file.begin() + 78);
  e.resourceDb = (Big16In(header, 32) & 1) != 0;
  int count = static_cast<int16_t>(Big16In(header, 76));
  size_t entrySize = e.resourceDb ? 10 : 8;
  e.readFails = count < 0 || (count > 0 && 78 + count * entrySize > file.size());
  for (int i = 0; !e.readFails && i < count; ++i) {
    auto offset = [&](int k) { return Big32In(file, 78 + k * entrySize + (e.resourceDb ? 6 : 0)); };
    uint64_t start = offset(i), end = i + 1 < count ? offset(i + 1) : file.size();
    e.readFails = start > end || end > file.size();
    if (!e.readFails) e.records.emplace_back(file.begin() + start, file.begin() + end);
  }
  if (e.resourceDb || e.readFails) e.records.clear();
  return e;
}

// Reads the file in this process as larkconv does, measuring the largest
// single allocation made meanwhile.
Expected ReadHere(const Bytes& file, size_t* largest) {
  Expected read;
  PdbDatabase db;
  {
    AllocationWatch watch;
    try {
      read.tooShort = !db.ReadMemory(file.data(), file.size());
    } catch (const PdbCorruptError&) {
      read.readFails = true;
    }
    *largest = watch.Largest();
  }
  const bool whole = !read.tooShort && !read.readFails;
  read.resourceDb = whole && db.IsResourceDb();
  if (whole && !read.resourceDb) read.records = RecordsOf(db);
  return read;
}

// Three records (the middle one empty) after an AppInfo block: 118 bytes.
Bytes BaseDatabase() {
  TestPdb p;
  p.appInfoID = 78 + 3 * 8;
  p.gap = {'A', 'P', 'P', 'I'};
  p.records = {{{1, 2, 3, 4}, 0x40, 0x010203}, {{}, 0, 0}, {{'x', 'y', 'z', 0, 9, 9}, 0x80, 5}};
  return BuildPdb(p);
}

Bytes BaseResourceDatabase() {
  return BuildResourcePdb(TestPdb(), {{"code", 1, {0x4E, 0x75}}, {"tAIN", 1000, {'A', 'p', 'p'}}});
}

Bytes With32(Bytes b, size_t at, uint32_t v) {
  if (at + 4 <= b.size()) EncodeBig32(&b[at], v);
  return b;
}

Bytes With16(Bytes b, size_t at, uint16_t v) {
  if (at + 2 <= b.size()) EncodeBig16(&b[at], v);
  return b;
}

class CorruptPdbTest : public ::testing::Test {
 protected:
  // Runs both directions on every file and checks each against ReadHere.
  void Check(const std::vector<Corrupt>& files) {
    for (const Corrupt& file : files) {
      SCOPED_TRACE(file.what);
      size_t largest = 0;
      Expected expected = Model(file.bytes);
      Expected read = ReadHere(file.bytes, &largest);
      EXPECT_LE(largest, 8 * file.bytes.size() + 4096) << "allocation sized from the file";
      EXPECT_EQ(read.tooShort, expected.tooShort);
      EXPECT_EQ(read.readFails, expected.readFails);
      if (!expected.readFails && !expected.tooShort) {
        EXPECT_EQ(read.resourceDb, expected.resourceDb);
      }
      EXPECT_EQ(read.records, expected.records);
      CheckAsSource(file.bytes, expected);
      CheckAsDestination(file.bytes, expected);
      CheckInspected(file.bytes, expected);
    }
  }

  // larkinfo fails exactly where the reader does, within the same memory.
  void CheckInspected(const Bytes& file, const Expected& expected) {
    /// Output that is formatted and dropped. Given to InspectPdb below.
    struct Discard : std::streambuf {
      int overflow(int c) override { return c; }
      std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
    } discard;
    std::ostream out(&discard);
    InfoOptions everything;
    everything.list = everything.dump = everything.check = true;
    everything.format = "(b)";
    AllocationWatch watch;
    const int status = InspectPdb(file.data(), file.size(), everything, out);
    const int headerStatus = InspectPdb(file.data(), file.size(), InfoOptions(), out);
    // The check's records read back are kept in blocks of 64 KiB, whatever the file.
    EXPECT_LE(watch.Largest(), std::max<size_t>(8 * file.size() + 4096, 64 * 1024))
        << "larkinfo sized an allocation";
    // Under "(b)" every record comes back but an empty one, which reads back
    // as one byte.
    const bool unread = expected.tooShort || expected.readFails;
    const bool empty = std::count(expected.records.begin(), expected.records.end(), Bytes()) > 0;
    EXPECT_EQ(status, unread || expected.resourceDb ? 1 : empty ? 2 : 0);
    EXPECT_EQ(headerStatus, unread ? 1 : 0);

    WriteFileBytes(dir / "info.pdb", file);
    RunOptions limits;
    limits.addressSpace = kAddressSpace;
    Outcome r = RunLarkinfo(dir.Path(), {"-l", "-x", "info.pdb"}, limits);
    fs::remove(dir / "info.pdb");
    EXPECT_EQ(r.signal, 0) << "larkinfo killed by signal " << r.signal;
    EXPECT_EQ(r.status, unread ? 1 : 0) << r.out;
    const auto endsWith = [&](const std::string& end) {
      return r.out.size() >= end.size() &&
             r.out.compare(r.out.size() - end.size(), end.size(), end) == 0;
    };
    EXPECT_EQ(endsWith("cannot be read; larkconv stops on this file with \"Internal error\"\n"),
              expected.readFails);
    EXPECT_EQ(endsWith(", shorter than the 78-byte header: not a PDB file\n"), expected.tooShort)
        << r.out;
  }

  void CheckAsSource(const Bytes& file, const Expected& expected) {
    WriteFileBytes(dir / "src.pdb", file);
    Outcome r = Run({"-pdb", "b(b)", "src.pdb", "out.csv"});
    if (expected.tooShort) {
      EXPECT_EQ(r.out, "ZelError: unable to read source pdb\n");
      EXPECT_EQ(r.status, 255);
      EXPECT_EQ(dir.Names(), Names{"src.pdb"});
    } else if (expected.readFails || expected.resourceDb) {
      EXPECT_EQ(r.out, expected.readFails ? "Internal error\n"
                                          : "ZelError: source pdb cannot be a resource database\n");
      EXPECT_EQ(r.status, 255);
      EXPECT_EQ(dir.Names(), Names{"src.pdb"});
    } else {
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.status, 0);
      std::string csv = ReadFileText(dir / "out.csv");
      EXPECT_EQ(std::count(csv.begin(), csv.end(), '\n'), long(expected.records.size()));
      fs::remove(dir / "out.csv");
    }
    fs::remove(dir / "src.pdb");
  }

  void CheckAsDestination(const Bytes& file, const Expected& expected) {
    WriteFileBytes(dir / "dest.pdb", file);
    WriteFileText(dir / "in.csv", std::to_string(kAppended) + "\n");
    Outcome r = Run({"-csv", "-a", "b", "in.csv", "dest.pdb"});
    EXPECT_EQ(dir.Names(), (Names{"dest.pdb", "in.csv"}));
    Bytes left = ReadFileBytes(dir / "dest.pdb");
    fs::remove(dir / "dest.pdb");
    fs::remove(dir / "in.csv");
    if (expected.tooShort || expected.readFails || expected.resourceDb) {
      EXPECT_EQ(r.out, expected.tooShort    ? "ZelError: unable to read dest pdb\n"
                       : expected.readFails ? "Internal error\n"
                                            : "ZelError: dest pdb cannot be a resource database\n");
      EXPECT_EQ(r.status, 255);
      EXPECT_EQ(left, file) << "destination changed";
      return;
    }
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 0);
    PdbDatabase written;
    written.ReadMemory(left.data(), left.size());
    std::vector<Bytes> records = expected.records;
    records.push_back({kAppended});
    ASSERT_EQ(written.RecordCount(), int32_t(records.size()));
    for (size_t i = 0; i < records.size(); ++i) {
      const PdbRecord* rec = written.RecordAt(static_cast<uint32_t>(i));
      EXPECT_EQ(Bytes(rec->bytes, rec->bytes + rec->length), records[i]) << "record " << i;
    }
  }

  Outcome Run(const std::vector<std::string>& args) {
    RunOptions limits;
    limits.addressSpace = kAddressSpace;
    Outcome r = RunLarkconv(dir.Path(), args, limits);
    EXPECT_EQ(r.signal, 0) << "killed by signal " << r.signal;
    return r;
  }

  using Names = std::vector<std::string>;
  ScratchDir dir{ScratchDir::kInMemory};
};

TEST_F(CorruptPdbTest, TruncatedAnywhere) {
  Bytes base = BaseDatabase();
  std::vector<Corrupt> files;
  for (size_t size = 0; size < base.size(); ++size) {
    // Every cut around the end of the header and in the entry list, and
    // every fifth one elsewhere.
    if ((size >= 76 && size <= 78 + 3 * 8 + 1) || size % 5 == 0)
      files.push_back({"cut to " + std::to_string(size), Bytes(base.begin(), base.begin() + size)});
  }
  Bytes resources = BaseResourceDatabase();
  for (size_t size = 75; size < resources.size(); size += 4)
    files.push_back({"resources cut to " + std::to_string(size),
                     Bytes(resources.begin(), resources.begin() + size)});
  Check(files);
}

TEST_F(CorruptPdbTest, NegativeAndHugeCounts) {
  Bytes base = BaseDatabase();
  std::vector<Corrupt> files;
  for (uint16_t count : {0xFFFF, 0x8000, 0xFFFE, 0x7FFF, 0x1000, 4, 2, 1, 0})
    files.push_back({"count " + std::to_string(count), With16(base, 76, count)});
  Bytes resources = BaseResourceDatabase();
  for (uint16_t count : {0xFFFF, 0x8000, 0x7FFF, 3, 1})
    files.push_back({"resource count " + std::to_string(count), With16(resources, 76, count)});
  Check(files);
}

TEST_F(CorruptPdbTest, OffsetsPastTheEndDescendingZeroLengthAndOverlapping) {
  Bytes base = BaseDatabase();  // offsets 106, 110, 110; 118 bytes
  const uint32_t size = static_cast<uint32_t>(base.size());
  std::vector<Corrupt> files;
  for (size_t entry = 0; entry < 3; ++entry) {
    for (uint32_t offset : {0u, 1u, 77u, 78u, 101u, 108u, 111u, size - 1, size, size + 1,
                            0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
      files.push_back({"entry " + std::to_string(entry) + " at " + std::to_string(offset),
                       With32(base, 78 + 8 * entry, offset)});
    }
  }
  // Every entry at the same place, and the entries in reverse order.
  files.push_back({"all at 106", With32(With32(With32(base, 78, 106), 86, 106), 94, 106)});
  files.push_back({"reversed", With32(With32(base, 78, 110), 94, 106)});
  Check(files);
}

TEST_F(CorruptPdbTest, StrayAppInfoAndSortInfoIds) {
  Bytes base = BaseDatabase();
  const uint32_t size = static_cast<uint32_t>(base.size());
  std::vector<Corrupt> files;
  for (uint32_t id :
       {0u, 1u, 52u, 78u, 101u, 102u, 104u, 105u, 106u, 117u, size, size + 1, 0xFFFFFFFFu}) {
    files.push_back({"appInfo at " + std::to_string(id), With32(base, 52, id)});
    files.push_back({"sortInfo at " + std::to_string(id), With32(base, 56, id)});
    files.push_back({"both at " + std::to_string(id), With32(With32(base, 52, id), 56, id)});
  }
  files.push_back({"sortInfo before appInfo", With32(With32(base, 52, 104), 56, 102)});
  Bytes empty = With16(base, 76, 0);
  empty.resize(90);
  files.push_back({"no records, appInfo to the end", With32(empty, 52, 80)});
  files.push_back({"no records, appInfo past the end", With32(empty, 52, 95)});
  Check(files);
}

TEST_F(CorruptPdbTest, ResourceDatabasesWithOddTypesAndRecordLayouts) {
  std::vector<Corrupt> files;
  files.push_back({"zero, high and blank types",
                   BuildResourcePdb(TestPdb(), {{std::string(4, '\0'), 0, {1}},
                                                {"\xff\xfe\x80\x01", 0xFFFF, {}},
                                                {std::string("a\0b", 3), 0x8000, {2, 3}},
                                                {"    ", 1, {4}}})});
  files.push_back({"no resources", BuildResourcePdb(TestPdb(), {})});
  // Resource and record layouts under the other's attribute bit.
  files.push_back({"records read as resources", With16(BaseDatabase(), 32, 0x0001)});
  files.push_back({"resources read as records", With16(BaseResourceDatabase(), 32, 0x0000)});
  files.push_back({"every attribute bit", With16(BaseResourceDatabase(), 32, 0xFFFF)});
  files.push_back({"record db, every other bit", With16(BaseDatabase(), 32, 0xFFFE)});
  Check(files);
}

TEST_F(CorruptPdbTest, RandomDamage) {
  std::mt19937 random(20240611);
  std::vector<Corrupt> files;
  for (const Bytes& base : {BaseDatabase(), BaseResourceDatabase()}) {
    for (int i = 0; i < 25; ++i) {
      Bytes bytes = base;
      int changes = 1 + static_cast<int>(random() % 4);
      for (int c = 0; c < changes; ++c) {
        // Mostly the count, the ids and the entry list, where damage matters.
        size_t at = random() % 2 ? 52 + random() % 40 : random() % bytes.size();
        bytes[at] = static_cast<uint8_t>(random());
      }
      files.push_back({"damage " + std::to_string(files.size()), bytes});
    }
  }
  Check(files);
}

}  // namespace
