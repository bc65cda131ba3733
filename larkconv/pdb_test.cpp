#include "pdb.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "ZelError.h"
#include "testing/allocations.h"
#include "testing/pdb_builder.h"

using namespace larkconv;
using namespace larkconv_testing;

namespace {

Bytes Seq(size_t n, uint8_t first = 1) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i)
    b[i] = static_cast<uint8_t>(first + i);
  return b;
}

Bytes RecordBytes(const PdbRecord* r) {
  return r ? Bytes(r->bytes, r->bytes + r->length) : Bytes{0xEE, 0xEE};
}

class PdbTest : public ::testing::Test {
 protected:
  std::string File(const std::string& name) { return (dir / name).string(); }

  // Writes bytes to a file and reads it into db.
  bool ReadImage(const Bytes& bytes) {
    WriteFileBytes(dir / "in.pdb", bytes);
    return db.Read(File("in.pdb"));
  }

  // Writes db and returns the file's bytes.
  Bytes Written() {
    EXPECT_TRUE(db.Write(File("out.pdb")));
    return ReadFileBytes(dir / "out.pdb");
  }

  ScratchDir dir;
  PdbDatabase db;
};

TEST_F(PdbTest, NewImageIsAnEmptyResourceDatabaseThatRefusesRecords) {
  EXPECT_TRUE(db.IsResourceDb());
  EXPECT_EQ(db.RecordCount(), 0);
  EXPECT_EQ(db.RecordAt(0), nullptr);
  uint8_t byte = 7;
  EXPECT_FALSE(db.AppendRecord(PdbRecord{1, &byte}));
  EXPECT_EQ(db.RecordCount(), 0);
}

TEST_F(PdbTest, NewRecordDatabaseWritesHeaderEntriesAndData) {
  db.SetResourceDb(false);
  db.SetName("Inventory");
  db.SetCreatorType("Lark", "DATA");
  Bytes three = Seq(3), five = Seq(5, 0x10);
  ASSERT_TRUE(db.AppendRecord(PdbRecord{3, three.data()}));
  ASSERT_TRUE(db.AppendRecord(PdbRecord{5, five.data()}));
  three[0] = 0x99;  // the image keeps its own copy

  uint32_t before = PalmDateFromUnix(std::time(nullptr));
  Bytes out = Written();
  uint32_t after = PalmDateFromUnix(std::time(nullptr));

  ASSERT_EQ(out.size(), 102u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.data())), "Inventory");
  for (size_t i = 9; i < 32; ++i)
    EXPECT_EQ(out[i], 0) << i;
  EXPECT_EQ(Big16In(out, 32), 0);  // attributes
  EXPECT_EQ(Big16In(out, 34), 0);  // version
  uint32_t created = Big32In(out, 36);
  EXPECT_GE(created, before);
  EXPECT_LE(created, after);
  EXPECT_EQ(Big32In(out, 40), created);
  for (size_t at = 44; at < 60; at += 4)
    EXPECT_EQ(Big32In(out, at), 0u) << at;
  EXPECT_EQ(std::string(out.begin() + 60, out.begin() + 68), "DATALark");
  EXPECT_EQ(Big32In(out, 68), 0u);
  EXPECT_EQ(Big32In(out, 72), 0u);
  EXPECT_EQ(Big16In(out, 76), 2);
  EXPECT_EQ(Bytes(out.begin() + 78, out.begin() + 94),
            (Bytes{0, 0, 0, 94, 0, 0, 0, 0, 0, 0, 0, 97, 0, 0, 0, 0}));
  EXPECT_EQ(Bytes(out.begin() + 94, out.end()), (Bytes{1, 2, 3, 0x10, 0x11, 0x12, 0x13, 0x14}));
}

TEST_F(PdbTest, EmptyRecordDatabaseIsTheHeaderAlone) {
  db.SetResourceDb(false);
  Bytes out = Written();
  ASSERT_EQ(out.size(), 78u);
  EXPECT_EQ(Big16In(out, 76), 0);
}

TEST_F(PdbTest, PalmDatesCountFrom1904) {
  EXPECT_EQ(PalmDateFromUnix(0), 0x7C25B080u);
  EXPECT_EQ(PalmDateFromUnix(1), 0x7C25B081u);
  EXPECT_EQ(PalmDateFromUnix(int64_t{4294967296} - 2082844800), 0u);  // wraps to 32 bits
}

TEST_F(PdbTest, SetNameKeepsAtMost31CharactersAndATerminator) {
  db.SetName(std::string(40, 'n'));
  EXPECT_EQ(std::string(db.Header().name, 31), std::string(31, 'n'));
  EXPECT_EQ(db.Header().name[31], 0);
  db.SetName("ab");
  EXPECT_EQ(std::memcmp(db.Header().name, "ab\0\0\0", 5), 0);
  for (char c : db.Header().name)
    EXPECT_TRUE(c == 0 || c == 'a' || c == 'b');

  db.SetCreatorType("ABCD", "xy");
  EXPECT_EQ(std::memcmp(db.Header().creator, "ABCD", 4), 0);
  EXPECT_EQ(std::memcmp(db.Header().type, "xy\0\0", 4), 0);
}

TEST_F(PdbTest, ReadKeepsHeaderAndRecordEntriesAndWritesThemBack) {
  TestPdb p;
  p.name = "Kept";
  p.attributes = 0x0008;
  p.version = 3;
  p.creationDate = 11;
  p.modificationDate = 12;
  p.lastBackupDate = 13;
  p.modificationNumber = 14;
  p.uniqueIDSeed = 15;
  p.nextRecordListID = 0;
  p.records = {{Seq(4), 0x40, 0x123456}, {{}, 0x21, 0x000102}, {Seq(2, 9), 0x0F, 0xFFFFFF}};
  Bytes file = BuildPdb(p);
  ASSERT_TRUE(ReadImage(file));

  EXPECT_FALSE(db.IsResourceDb());
  ASSERT_EQ(db.RecordCount(), 3);
  EXPECT_EQ(RecordBytes(db.RecordAt(0)), Seq(4));
  EXPECT_EQ(db.RecordAt(1)->length, 0);  // equal consecutive offsets
  EXPECT_EQ(RecordBytes(db.RecordAt(2)), Seq(2, 9));
  EXPECT_EQ(db.RecordAt(0)->attributes, 0x40);
  EXPECT_EQ(db.RecordAt(2)->uniqueId, 0xFFFFFFu);
  EXPECT_EQ(db.RecordAt(3), nullptr);
  EXPECT_EQ(db.RecordAt(static_cast<uint32_t>(-1)), nullptr);
  EXPECT_EQ(db.Header().version, 3);
  EXPECT_EQ(db.Header().modificationNumber, 14u);

  Bytes out = Written();
  ASSERT_EQ(out.size(), file.size());
  // Everything but the two dates is written as read.
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 36), Bytes(file.begin(), file.begin() + 36));
  EXPECT_EQ(Bytes(out.begin() + 44, out.end()), Bytes(file.begin() + 44, file.end()));
  EXPECT_NE(Big32In(out, 36), 11u);
}

TEST_F(PdbTest, AppendedRecordsFollowReadOnesWithZeroAttributesAndId) {
  TestPdb p;
  p.records = {{Seq(2), 0x50, 0x000777}};
  ASSERT_TRUE(ReadImage(BuildPdb(p)));
  Bytes extra = {0xAA};
  PdbRecord appended{1, extra.data()};
  appended.attributes = 0x80;
  appended.uniqueId = 99;
  ASSERT_TRUE(db.AppendRecord(appended));
  EXPECT_EQ(db.Header().numRecords, 2);

  Bytes out = Written();
  ASSERT_EQ(out.size(), 78u + 16 + 3);
  EXPECT_EQ(Bytes(out.begin() + 78, out.begin() + 94),
            (Bytes{0, 0, 0, 94, 0x50, 0, 7, 0x77, 0, 0, 0, 96, 0, 0, 0, 0}));
  EXPECT_EQ(Bytes(out.begin() + 94, out.end()), (Bytes{1, 2, 0xAA}));
}

TEST_F(PdbTest, BytesBeforeTheFirstRecordAreSkippedAndTrailingBytesJoinTheLast) {
  TestPdb p;
  p.gap = {0, 0};
  p.records = {{Seq(3)}, {Seq(2, 7)}};
  Bytes file = BuildPdb(p);
  file.push_back(0x55);  // after the last record's start: part of it
  ASSERT_TRUE(ReadImage(file));
  EXPECT_EQ(RecordBytes(db.RecordAt(0)), Seq(3));
  EXPECT_EQ(RecordBytes(db.RecordAt(1)), (Bytes{7, 8, 0x55}));

  Bytes out = Written();
  ASSERT_EQ(out.size(), 78u + 16 + 6);
  EXPECT_EQ(Big32In(out, 78), 94u);
  EXPECT_EQ(Big32In(out, 86), 97u);
}

// A file shorter than a header is no database, an empty one included: Read
// and ReadMemory refuse it, as a file they cannot open, keeping the header.
// A header alone, with a count of 0, is an empty database.
TEST_F(PdbTest, FilesShorterThanAHeaderAreNoDatabase) {
  TestPdb before;
  before.name = "Before";
  before.records = {{Seq(2)}};
  TestPdb p;
  p.name = "Short";
  p.attributes = 0x0100;
  const Bytes header = BuildPdb(p);
  ASSERT_EQ(header.size(), 78u);
  for (size_t size : {0, 1, 38, 77}) {
    SCOPED_TRACE(size);
    const Bytes cut(header.begin(), header.begin() + static_cast<std::ptrdiff_t>(size));
    ASSERT_TRUE(ReadImage(BuildPdb(before)));
    EXPECT_FALSE(ReadImage(cut));
    EXPECT_EQ(db.RecordCount(), 0);
    EXPECT_STREQ(db.Header().name, "Before");
    ASSERT_TRUE(ReadImage(BuildPdb(before)));
    EXPECT_FALSE(db.ReadMemory(cut.data(), cut.size()));
    EXPECT_EQ(db.RecordCount(), 0);
    EXPECT_STREQ(db.Header().name, "Before");
  }
  ASSERT_TRUE(ReadImage(header));
  EXPECT_FALSE(db.IsResourceDb());
  EXPECT_EQ(db.RecordCount(), 0);
  EXPECT_STREQ(db.Header().name, "Short");
  EXPECT_TRUE(db.Hidden());
}

TEST_F(PdbTest, FailedOpenEmptiesTheImageButKeepsTheHeader) {
  TestPdb p;
  p.name = "Before";
  p.records = {{Seq(2)}};
  ASSERT_TRUE(ReadImage(BuildPdb(p)));
  EXPECT_FALSE(db.Read(File("missing.pdb")));
  EXPECT_EQ(db.RecordCount(), 0);
  EXPECT_STREQ(db.Header().name, "Before");
  EXPECT_FALSE(db.IsResourceDb());
  EXPECT_FALSE(db.Read(dir.Path().string()));  // a directory cannot be read as a file
}

// Faulty files: each must throw PdbCorruptError, without allocating more than
// the file's own size.
TEST_F(PdbTest, CountsAndOffsetsThatDoNotFitTheFileFailTheRead) {
  TestPdb p;
  p.records = {{Seq(4)}, {Seq(4)}};  // entries at 78 and 86, data at 94 and 98, 102 bytes
  const Bytes good = BuildPdb(p);
  struct Case {
    const char* what;
    size_t at;
    uint32_t value;
    int width;
  };
  const Case cases[] = {
      {"negative count", 76, 0x8000, 2},
      {"entry list past the end", 76, 4, 2},
      {"offset past the end", 86, 103, 4},
      {"last offset past the end", 86, 0xFFFFFFF0u, 4},
      {"descending offsets", 86, 90, 4},
      {"first offset past the end", 78, 200, 4},
      {"claims a 4 GB record", 86, 0xFFFFFFFFu, 4},
  };
  for (const Case& c : cases) {
    Bytes bad = good;
    if (c.width == 2) {
      EncodeBig16(bad.data() + c.at, static_cast<uint16_t>(c.value));
    } else {
      EncodeBig32(bad.data() + c.at, c.value);
    }
    WriteFileBytes(dir / "bad.pdb", bad);
    AllocationWatch watch;
    EXPECT_THROW(db.Read(File("bad.pdb")), PdbCorruptError) << c.what;
    EXPECT_LT(watch.Largest(), 4096u) << c.what;
    EXPECT_EQ(db.RecordCount(), 0) << c.what;
  }
  // A resource entry list is 10 bytes an entry: 3 entries run past 102 bytes.
  Bytes resources = BuildResourcePdb(TestPdb(), {{"a", 1, Seq(4)}, {"b", 2, Seq(4)}});
  resources.resize(102);
  EncodeBig16(resources.data() + 76, 3);
  WriteFileBytes(dir / "bad.pdb", resources);
  EXPECT_THROW(db.Read(File("bad.pdb")), PdbCorruptError);
}

TEST_F(PdbTest, ResourceDatabasesAreReadAndWrittenWithTheirEntries) {
  TestPdb p;
  p.attributes = 0x0009;
  ASSERT_TRUE(ReadImage(BuildResourcePdb(p, {{"code", 0xFFFE, Seq(4)}, {"ab", 7, Seq(1)}})));
  EXPECT_TRUE(db.IsResourceDb());
  ASSERT_EQ(db.RecordCount(), 2);
  EXPECT_EQ(db.RecordAt(0), nullptr);
  EXPECT_EQ(db.Resources()[0].type, "code");
  EXPECT_EQ(db.Resources()[0].id, -2);
  EXPECT_EQ(db.Resources()[1].type, "ab");
  EXPECT_EQ(db.Resources()[1].length, 1);
  uint8_t byte = 0;
  EXPECT_FALSE(db.AppendRecord(PdbRecord{1, &byte}));

  Bytes out = Written();
  ASSERT_EQ(out.size(), 78u + 20 + 5);
  EXPECT_EQ(Big16In(out, 32), 0x0001);  // other bits dropped
  EXPECT_EQ(Bytes(out.begin() + 78, out.begin() + 98),
            (Bytes{'c', 'o', 'd', 'e', 0xFF, 0xFE, 0, 0, 0, 98,  //
                   'a', 'b', 0,   0,   0,    7,    0, 0, 0, 102}));

  p.attributes = 0x0141;
  ASSERT_TRUE(ReadImage(BuildResourcePdb(p, {{"tAIN", 1000, Seq(4)}})));
  out = Written();
  ASSERT_EQ(out.size(), 92u);
  EXPECT_EQ(Big16In(out, 32), 0x0141);
  EXPECT_EQ(Big32In(out, 84), 88u);
}

TEST_F(PdbTest, CopyPreventionAndHiddenAreAddedToTheRecordDatabaseAttributes) {
  TestPdb p;
  p.attributes = 0x0148;
  ASSERT_TRUE(ReadImage(BuildPdb(p)));
  EXPECT_TRUE(db.CopyPrevention());
  EXPECT_TRUE(db.Hidden());
  EXPECT_EQ(Big16In(Written(), 32), 0x0148);
}

// AppInfo and SortInfo blocks of a database that was read are written back
// directly after the entry list, AppInfo first, with their IDs moved there.
TEST_F(PdbTest, InfoBlocksAreCarriedOverAfterTheEntryList) {
  TestPdb p;
  p.records = {{Seq(3)}};
  p.gap = {'S', 'S', 'A', 'A', 'A', 'A'};  // SortInfo at 86, AppInfo at 88
  p.sortInfoID = 86;
  p.appInfoID = 88;
  ASSERT_TRUE(ReadImage(BuildPdb(p)));
  EXPECT_EQ(db.AppInfo(), (Bytes{'A', 'A', 'A', 'A'}));
  EXPECT_EQ(db.SortInfo(), (Bytes{'S', 'S'}));

  Bytes out = Written();
  ASSERT_EQ(out.size(), 78u + 8 + 6 + 3);
  EXPECT_EQ(Big32In(out, 52), 86u);  // appInfoID
  EXPECT_EQ(Big32In(out, 56), 90u);  // sortInfoID
  EXPECT_EQ(std::string(out.begin() + 86, out.begin() + 92), "AAAASS");
  EXPECT_EQ(Big32In(out, 78), 92u);
  EXPECT_EQ(Bytes(out.begin() + 92, out.end()), Seq(3));
}

TEST_F(PdbTest, InfoBlockWithoutRecordsRunsToTheEndOfTheFile) {
  TestPdb p;
  p.appInfoID = 78;
  p.gap = {1, 2, 3, 4, 5};
  ASSERT_TRUE(ReadImage(BuildPdb(p)));
  EXPECT_EQ(db.AppInfo(), (Bytes{1, 2, 3, 4, 5}));
  EXPECT_TRUE(db.SortInfo().empty());
  Bytes out = Written();
  ASSERT_EQ(out.size(), 83u);
  EXPECT_EQ(Big32In(out, 52), 78u);
  EXPECT_EQ(Big32In(out, 56), 0u);
}

TEST_F(PdbTest, InfoIdsOutsideTheSpaceBeforeTheFirstRecordAreWrittenAsZero) {
  TestPdb p;
  p.records = {{Seq(4)}};
  p.gap = {9, 9};
  p.appInfoID = 40;   // inside the header
  p.sortInfoID = 95;  // inside the first record
  ASSERT_TRUE(ReadImage(BuildPdb(p)));
  EXPECT_TRUE(db.AppInfo().empty());
  EXPECT_TRUE(db.SortInfo().empty());
  Bytes out = Written();
  EXPECT_EQ(Big32In(out, 52), 0u);
  EXPECT_EQ(Big32In(out, 56), 0u);
  EXPECT_EQ(out.size(), 78u + 8 + 4);  // the gap is dropped
}

TEST_F(PdbTest, TheImageHoldsAtMost32767Records) {
  db.SetResourceDb(false);
  uint8_t byte = 1;
  for (int i = 0; i < kPdbMaxRecords; ++i)
    ASSERT_TRUE(db.AppendRecord(PdbRecord{1, &byte}));
  EXPECT_EQ(db.Header().numRecords, 32767);
  try {
    db.AppendRecord(PdbRecord{1, &byte});
    FAIL() << "no ZelError";
  } catch (const ZelError& e) {
    EXPECT_EQ(e.Message(), "pdb cannot hold more than 32767 records");
  }
  EXPECT_EQ(db.RecordCount(), 32767);
  Bytes out = Written();
  EXPECT_EQ(Big16In(out, 76), 32767);
  EXPECT_EQ(out.size(), 78u + 9 * 32767);
}

TEST_F(PdbTest, WriteFailsCleanlyWhereTheFileCannotBeMade) {
  db.SetResourceDb(false);
  EXPECT_FALSE(db.Write(File("no-such-dir/out.pdb")));
  fs::create_directory(dir / "sub");
  EXPECT_FALSE(db.Write(File("sub")));  // a directory is not replaced
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"sub"}));
  EXPECT_TRUE(fs::is_empty(dir / "sub"));
}

// How Write treats the file it replaces (permissions, links, read-only files)
// differs by platform: pdb_files_posix_test.cpp, pdb_files_win32_test.cpp.

}  // namespace
