// File-system faults through the built larkconv: writes refused at a file
// size limit, an unwritable destination directory, a destination or source
// that is a directory, an unreadable source, and the program killed while it
// writes a large file or into a FIFO. Whatever happens, the destination is
// either the complete new file or the untouched old one, and neither a clean
// failure nor a kill leaves a temporary file behind.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "pdb.h"
#include "testing/child_runs.h"
#include "testing/pdb_builder.h"

using namespace larkconv;
using namespace larkconv_testing;

namespace {

using Names = std::vector<std::string>;

// A record database of n records of the given size, record i filled with i.
Bytes Database(int n, size_t size) {
  TestPdb p;
  for (int i = 0; i < n; ++i)
    p.records.push_back({Bytes(size, static_cast<uint8_t>(i))});
  return BuildPdb(p);
}

class FaultTest : public ::testing::Test {
 protected:
  Outcome Run(const std::vector<std::string>& args, const RunOptions& limits = RunOptions()) {
    Outcome r = RunLarkconv(dir.Path(), args, limits);
    EXPECT_EQ(r.signal, 0) << "killed by signal " << r.signal;
    return r;
  }

  void ExpectFailure(const Outcome& r, const std::string& message) {
    EXPECT_EQ(r.out, "ZelError: " + message + "\n");
    EXPECT_EQ(r.status, 255);
  }

  // As root, whether a child that dropped the permission override is really
  // refused a file that is not writable for it; always true for other users.
  bool PermissionsBind() {
    fs::create_directory(dir / "probe");
    fs::permissions(dir / "probe", fs::perms::owner_read | fs::perms::owner_exec);
    pid_t pid = fork();
    if (pid == 0) {
      bool refused = process_testing::DropPermissionOverride() &&
                     open((dir / "probe" / "f").c_str(), O_CREAT | O_WRONLY, 0644) < 0;
      _exit(refused ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    fs::remove_all(dir / "probe");
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  ScratchDir dir{ScratchDir::kInMemory};
};

TEST_F(FaultTest, RefusedWritesLeaveTheDestinationAsItWas) {
  const Bytes old = Database(3, 4);  // 114 bytes
  const int64_t full = static_cast<int64_t>(old.size()) + 8 + 1;
  WriteFileText(dir / "in.csv", "9\n");
  for (int64_t limit : {int64_t{0}, int64_t{1}, int64_t{77}, int64_t{78}, int64_t{110}, full - 1}) {
    SCOPED_TRACE("file size limit " + std::to_string(limit));
    WriteFileBytes(dir / "dest.pdb", old);
    RunOptions limits;
    limits.fileSize = limit;
    ExpectFailure(Run({"-csv", "-a", "b", "in.csv", "dest.pdb"}, limits), "unable to write pdb");
    EXPECT_EQ(ReadFileBytes(dir / "dest.pdb"), old);
    EXPECT_EQ(dir.Names(), (Names{"dest.pdb", "in.csv"}));
  }
  for (int64_t limit : {int64_t{0}, int64_t{78}, int64_t{78 + 8}}) {  // the new file has 87 bytes
    RunOptions limits;
    limits.fileSize = limit;
    ExpectFailure(Run({"-csv", "-c", "Lark", "b", "in.csv", "new.pdb"}, limits),
                  "unable to write pdb");
    EXPECT_EQ(dir.Names(), (Names{"dest.pdb", "in.csv"}));
  }
  // Room for exactly the new file: it is written whole.
  RunOptions room;
  room.fileSize = full;
  Outcome r = Run({"-csv", "-a", "b", "in.csv", "dest.pdb"}, room);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.status, 0);
  Bytes written = ReadFileBytes(dir / "dest.pdb");
  EXPECT_EQ(written.size(), full);
  EXPECT_EQ(RecordsOf(written).back(), Bytes{9});

  WriteFileBytes(dir / "src.pdb", Database(50, 10));
  WriteFileText(dir / "old.csv", "\"old\"\n");
  for (int64_t limit : {int64_t{0}, int64_t{100}}) {
    RunOptions limits;
    limits.fileSize = limit;
    ExpectFailure(Run({"-pdb", "b(b)", "src.pdb", "out.csv"}, limits), "unable to write dest csv");
    ExpectFailure(Run({"-pdb", "-a", "b(b)", "src.pdb", "old.csv"}, limits),
                  "unable to write dest csv");
    EXPECT_EQ(ReadFileText(dir / "old.csv"), "\"old\"\n");
    EXPECT_EQ(dir.Names(), (Names{"dest.pdb", "in.csv", "old.csv", "src.pdb"}));
  }
}

TEST_F(FaultTest, UnwritableDestinationDirectory) {
  if (!PermissionsBind()) GTEST_SKIP() << "root's permission override could not be dropped";
  const Bytes old = Database(2, 3);
  fs::create_directory(dir / "ro");
  WriteFileBytes(dir / "ro" / "dest.pdb", old);
  WriteFileText(dir / "in.csv", "1\n2\n");
  fs::permissions(dir / "ro", fs::perms::owner_read | fs::perms::owner_exec |
                                  fs::perms::group_read | fs::perms::others_read);
  RunOptions bound;
  bound.noPermissionOverride = true;
  ExpectFailure(Run({"-csv", "-a", "b", "in.csv", "ro/dest.pdb"}, bound), "unable to write pdb");
  ExpectFailure(Run({"-csv", "-c", "Lark", "b", "in.csv", "ro/new.pdb"}, bound),
                "unable to write pdb");
  fs::permissions(dir / "ro", fs::perms::owner_all);
  EXPECT_EQ(ReadFileBytes(dir / "ro" / "dest.pdb"), old);
  EXPECT_TRUE(TempFilesIn(dir / "ro").empty());
  EXPECT_EQ(fs::directory_iterator(dir / "ro")->path().filename(), "dest.pdb");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "ro"), fs::directory_iterator()), 1);
}

TEST_F(FaultTest, DestinationThatIsADirectory) {
  fs::create_directory(dir / "dest.pdb");
  WriteFileText(dir / "dest.pdb" / "kept", "kept");
  fs::create_directory(dir / "out.csv");
  WriteFileText(dir / "in.csv", "1\n");
  WriteFileBytes(dir / "src.pdb", Database(2, 3));

  ExpectFailure(Run({"-csv", "-c", "Lark", "b", "in.csv", "dest.pdb"}), "unable to write pdb");
  ExpectFailure(Run({"-csv", "-a", "b", "in.csv", "dest.pdb"}), "unable to read dest pdb");
  ExpectFailure(Run({"-pdb", "b", "src.pdb", "out.csv"}), "unable to open dest csv");
  EXPECT_EQ(dir.Names(), (Names{"dest.pdb", "in.csv", "out.csv", "src.pdb"}));
  EXPECT_EQ(ReadFileText(dir / "dest.pdb" / "kept"), "kept");
  EXPECT_TRUE(fs::is_empty(dir / "out.csv"));
}

TEST_F(FaultTest, SourceThatIsADirectoryOrUnreadable) {
  const Bytes old = Database(2, 3);
  WriteFileBytes(dir / "dest.pdb", old);
  fs::create_directory(dir / "folder");
  ExpectFailure(Run({"-pdb", "b", "folder", "out.csv"}), "unable to read source pdb");
  ExpectFailure(Run({"-csv", "-a", "b", "folder", "dest.pdb"}), "unable to read source csv");
  ExpectFailure(Run({"-csv", "-c", "Lark", "b", "folder", "new.pdb"}), "unable to read source csv");
  EXPECT_EQ(ReadFileBytes(dir / "dest.pdb"), old);
  EXPECT_EQ(dir.Names(), (Names{"dest.pdb", "folder"}));

  if (!PermissionsBind()) GTEST_SKIP() << "root's permission override could not be dropped";
  WriteFileBytes(dir / "secret.pdb", old);
  WriteFileText(dir / "secret.csv", "1\n");
  fs::permissions(dir / "secret.pdb", fs::perms::none);
  fs::permissions(dir / "secret.csv", fs::perms::none);
  RunOptions bound;
  bound.noPermissionOverride = true;
  ExpectFailure(Run({"-pdb", "b", "secret.pdb", "out.csv"}, bound), "unable to read source pdb");
  ExpectFailure(Run({"-csv", "-a", "b", "secret.csv", "dest.pdb"}, bound),
                "unable to read source csv");
  WriteFileText(dir / "in.csv", "1\n");
  ExpectFailure(Run({"-csv", "-a", "b", "in.csv", "secret.pdb"}, bound), "unable to read dest pdb");
  EXPECT_EQ(ReadFileBytes(dir / "dest.pdb"), old);
  EXPECT_EQ(dir.Names(), (Names{"dest.pdb", "folder", "in.csv", "secret.csv", "secret.pdb"}));
}

// Kills larkconv at the write that takes its new file past a given share of
// its final size (the file-size limit's signal, where the test set it, so
// that however fast the program writes the kill comes mid-write): the
// destination must be the old file, and the killed run leaves no file
// behind, since its new file has no name until it is complete.
TEST_F(FaultTest, KilledWhileWritingALargeFile) {
  constexpr int kRows = 200;
  constexpr size_t kWidth = 50000;
  const std::string format = "s" + std::to_string(kWidth);
  std::string csv;
  for (int i = 0; i < kRows; ++i)
    csv += std::to_string(i) + "\n";
  WriteFileText(dir / "in.csv", csv);
  WriteFileBytes(dir / "in.pdb", Database(kRows, kWidth));
  const Bytes oldPdb = Database(3, 4);
  const std::string oldCsv = "\"old\"\n";
  const struct {
    const char* what;
    std::vector<std::string> args;
    uint64_t finalSize;
  } runs[] = {
      {"-csv -a",
       {"-csv", "-a", format, "in.csv", "dest.pdb"},
       oldPdb.size() + (8 + kWidth) * kRows},
      {"-csv", {"-csv", "-c", "Test", format, "in.csv", "dest.pdb"}, 78 + (8 + kWidth) * kRows},
      {"-pdb -a", {"-pdb", "-a", "c", "in.pdb", "dest.csv"}, oldCsv.size() + 4 * kRows},
      {"-pdb", {"-pdb", format, "in.pdb", "dest.csv"}, (kWidth + 3) * kRows},
  };
  for (const auto& run : runs) {
    for (double share : {0.0, 0.5, 0.95}) {
      SCOPED_TRACE(std::string(run.what) + " killed at " + std::to_string(share));
      WriteFileBytes(dir / "dest.pdb", oldPdb);
      WriteFileText(dir / "dest.csv", oldCsv);
      RunOptions kill;
      kill.fileSize = static_cast<int64_t>(share * static_cast<double>(run.finalSize));
      kill.fileSizeKills = true;
      const Outcome r = RunLarkconv(dir.Path(), run.args, kill);
      EXPECT_EQ(r.signal, SIGXFSZ) << r.out;
      EXPECT_EQ(ReadFileBytes(dir / "dest.pdb"), oldPdb);
      EXPECT_EQ(ReadFileText(dir / "dest.csv"), oldCsv);
      EXPECT_EQ(dir.Names(), (Names{"dest.csv", "dest.pdb", "in.csv", "in.pdb"}));
    }
  }
}

// Kills larkconv while it writes into a FIFO that the test holds and has
// stopped reading: the program cannot end before the kill, and a stream
// destination is written in place, so the run leaves nothing else behind.
TEST_F(FaultTest, KilledWhileWritingIntoAFifo) {
  WriteFileBytes(dir / "in.pdb", Database(200, 5000));
  WriteFileText(dir / "in.csv", std::string(2000, '7') + "\n");
  const std::vector<std::string> runs[] = {
      {"-pdb", "s5000", "in.pdb", "out.fifo"},
      {"-csv", "-c", "Test", "-r0-", "s1000000", "in.csv", "out.fifo"},
  };
  for (const auto& args : runs) {
    SCOPED_TRACE(args[0]);
    ASSERT_EQ(mkfifo((dir / "out.fifo").c_str(), 0600), 0);
    process_testing::Child child = process_testing::Start(LARKCONV_EXE, dir.Path(), args);
    ASSERT_GT(child.id, 0);
    const int fifo = open((dir / "out.fifo").c_str(), O_RDONLY);
    ASSERT_GE(fifo, 0);
    char part[4096];
    size_t got = 0;
    for (ssize_t n; got < 100000 && (n = read(fifo, part, sizeof part)) > 0;)
      got += static_cast<size_t>(n);
    EXPECT_GE(got, 100000u) << "the program wrote less than it had to";
    kill(static_cast<pid_t>(child.id), SIGKILL);  // blocked on the full pipe, mid-write
    const Outcome r = process_testing::Finish(&child);
    close(fifo);
    EXPECT_EQ(r.signal, SIGKILL);
    EXPECT_EQ(dir.Names(), (Names{"in.csv", "in.pdb", "out.fifo"}));
    fs::remove(dir / "out.fifo");
  }
}

}  // namespace
