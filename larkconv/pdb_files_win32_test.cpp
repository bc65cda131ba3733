// How PdbDatabase::Write treats the file it replaces on Windows: the
// read-only attribute is the file's only permission; a writable file is
// replaced and stays writable, a read-only one is left alone.

#include <gtest/gtest.h>

#include "pdb.h"
#include "testing/pdb_builder.h"

using namespace larkconv;
using namespace larkconv_testing;

namespace {

bool IsWritable(const fs::path& path) {
  return (fs::status(path).permissions() & fs::perms::owner_write) != fs::perms::none;
}

/// A record database without records and a scratch directory to write it
/// in; the tests below replace files there.
class PdbFilesTest : public ::testing::Test {
 protected:
  PdbFilesTest() { db.SetResourceDb(false); }
  ~PdbFilesTest() override {
    // A read-only file would keep the scratch directory from being removed.
    for (const std::string& name : dir.Names())
      fs::permissions(dir / name, fs::perms::owner_write, fs::perm_options::add);
  }
  std::string File(const std::string& name) { return (dir / name).string(); }

  ScratchDir dir;
  PdbDatabase db;
};

TEST_F(PdbFilesTest, WriteReplacesAWritableFileAndMakesNewFilesWritable) {
  WriteFileText(dir / "kept.pdb", "old");
  ASSERT_TRUE(db.Write(File("kept.pdb")));
  EXPECT_TRUE(IsWritable(dir / "kept.pdb"));
  EXPECT_EQ(fs::file_size(dir / "kept.pdb"), 78u);

  ASSERT_TRUE(db.Write(File("new.pdb")));
  EXPECT_TRUE(IsWritable(dir / "new.pdb"));
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"kept.pdb", "new.pdb"}));
}

TEST_F(PdbFilesTest, ReadOnlyDestinationIsNotReplaced) {
  WriteFileText(dir / "ro.pdb", "old");
  fs::permissions(dir / "ro.pdb",
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  ASSERT_FALSE(IsWritable(dir / "ro.pdb"));
  EXPECT_FALSE(db.Write(File("ro.pdb")));
  EXPECT_EQ(ReadFileText(dir / "ro.pdb"), "old");
  EXPECT_FALSE(IsWritable(dir / "ro.pdb"));
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"ro.pdb"}));
}

}  // namespace
