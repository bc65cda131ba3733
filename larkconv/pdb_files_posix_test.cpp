// How PdbDatabase::Write treats the file it replaces on POSIX: permission
// bits, symbolic links and read-only files.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "pdb.h"
#include "testing/pdb_builder.h"

using namespace larkconv;
using namespace larkconv_testing;

namespace {

/// A record database without records and a scratch directory to write it
/// in; the tests below replace files there.
class PdbFilesTest : public ::testing::Test {
 protected:
  PdbFilesTest() { db.SetResourceDb(false); }
  std::string File(const std::string& name) { return (dir / name).string(); }

  ScratchDir dir;
  PdbDatabase db;
};

TEST_F(PdbFilesTest, WriteKeepsPermissionBitsAndSymbolicLinks) {
  WriteFileText(dir / "kept.pdb", "old");
  chmod(File("kept.pdb").c_str(), 0640);
  ASSERT_TRUE(db.Write(File("kept.pdb")));
  struct stat st;
  ASSERT_EQ(stat(File("kept.pdb").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(st.st_size, 78);

  mode_t mask = umask(022);
  ASSERT_TRUE(db.Write(File("new.pdb")));
  umask(mask);
  ASSERT_EQ(stat(File("new.pdb").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);

  fs::create_symlink("kept.pdb", dir / "link.pdb");
  WriteFileText(dir / "kept.pdb", "old");
  ASSERT_TRUE(db.Write(File("link.pdb")));
  EXPECT_TRUE(fs::is_symlink(dir / "link.pdb"));
  EXPECT_EQ(fs::file_size(dir / "kept.pdb"), 78u);
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"kept.pdb", "link.pdb", "new.pdb"}));
}

// A destination that may not be written is left alone even where its
// directory would allow replacing it. Root may write anything, so as root the
// write is tried from a child that has become an unprivileged user.
TEST_F(PdbFilesTest, ReadOnlyDestinationIsNotReplaced) {
  WriteFileText(dir / "ro.pdb", "old");
  chmod(File("ro.pdb").c_str(), 0444);
  chmod(dir.Path().c_str(), 0777);
  pid_t pid = fork();
  if (pid == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
    _exit(db.Write(File("ro.pdb")) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: written, 2: could not drop privileges";
  EXPECT_EQ(ReadFileText(dir / "ro.pdb"), "old");
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"ro.pdb"}));
}

}  // namespace
