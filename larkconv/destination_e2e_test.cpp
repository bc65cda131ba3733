// Destinations and sources that are not plain files, through the built
// larkconv: FIFOs read or fed by another thread, a device node of the test's
// own, standard output on a pipe, symbolic links (also dangling ones) and
// permission bits of a replaced file. POSIX only.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <sys/sysmacros.h>

#include <thread>

#include "pdb.h"
#include "testing/child_runs.h"
#include "testing/pdb_builder.h"

using namespace larkconv;
using namespace larkconv_testing;

namespace {

using Names = std::vector<std::string>;

const char kFormat[] = "s8.i2.ibfcsz";

/// A FIFO in a scratch folder and a thread at its other end: reading what a
/// run writes into it, or feeding it bytes to read. Driven by the tests below.
class FifoPeer {
 public:
  FifoPeer(const fs::path& path, const Bytes* feed) : path(path) {
    mkfifo(path.c_str(), 0644);
    peer = std::thread([this, feed] {
      const int fd = open(this->path.c_str(), feed ? O_WRONLY : O_RDONLY);
      if (fd < 0) return;
      if (feed) {
        signal(SIGPIPE, SIG_IGN);
        for (size_t at = 0; at < feed->size();) {
          const ssize_t n = write(fd, feed->data() + at, feed->size() - at);
          if (n <= 0) break;
          at += static_cast<size_t>(n);
        }
      } else {
        uint8_t block[4096];
        ssize_t n;
        while ((n = read(fd, block, sizeof block)) > 0)
          received.insert(received.end(), block, block + n);
      }
      close(fd);
    });
  }

  // What the reading end got, once the run is over. A peer whose run never
  // opened the FIFO is let go by opening the other end here.
  Bytes Finish(bool feeding) {
    const int fd = open(path.c_str(), (feeding ? O_RDONLY : O_WRONLY) | O_NONBLOCK);
    if (fd >= 0) close(fd);
    peer.join();
    return received;
  }

 private:
  fs::path path;
  std::thread peer;
  Bytes received;
};

class DestinationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFileBytes(dir / "in.pdb", ReadFileBytes(fs::path(PROJECT_ROOT) / "examples/sample.pdb"));
    ASSERT_EQ(RunLarkconv(dir.Path(), {"-pdb", kFormat, "in.pdb", "ref.csv"}).status, 0);
    csv = ReadFileBytes(dir / "ref.csv");
  }

  void ExpectSuccess(const std::vector<std::string>& args) {
    const Outcome r = RunLarkconv(dir.Path(), args);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 0);
  }

  ScratchDir dir;  // not in /dev/shm, which may refuse device nodes
  Bytes csv;       // the sample database as CSV
};

TEST_F(DestinationTest, FifosAreWrittenAndReadInPlace) {
  FifoPeer reader(dir / "csv.fifo", nullptr);
  ExpectSuccess({"-pdb", kFormat, "in.pdb", "csv.fifo"});
  EXPECT_EQ(reader.Finish(false), csv);

  FifoPeer pdbReader(dir / "pdb.fifo", nullptr);
  ExpectSuccess({"-csv", "-c", "Lark", kFormat, "ref.csv", "pdb.fifo"});
  const Bytes pdb = pdbReader.Finish(false);
  WriteFileBytes(dir / "got.pdb", pdb);
  EXPECT_EQ(RecordsOf(dir / "got.pdb"), RecordsOf(dir / "in.pdb"));

  // A database fed through a pipe, larger than one read block, and a corrupt one.
  std::vector<Bytes> records(3000, Bytes(40, 'r'));
  TestPdb big;
  for (const Bytes& r : records)
    big.records.push_back({r});
  const Bytes bigPdb = BuildPdb(big);
  FifoPeer writer(dir / "in.fifo", &bigPdb);
  ExpectSuccess({"-pdb", "s40", "in.fifo", "big.csv"});
  writer.Finish(true);
  ExpectSuccess({"-csv", "-c", "Lark", "s40", "big.csv", "big.pdb"});
  EXPECT_EQ(RecordsOf(dir / "big.pdb"), records);

  const Bytes corrupt(bigPdb.begin(), bigPdb.begin() + 1000);  // entries past the end
  FifoPeer corruptWriter(dir / "corrupt.fifo", &corrupt);
  const Outcome r = RunLarkconv(dir.Path(), {"-pdb", "s40", "corrupt.fifo", "c.csv"});
  corruptWriter.Finish(true);
  EXPECT_EQ(r.out, "Internal error\n");
  EXPECT_EQ(r.status, 255);
  EXPECT_FALSE(fs::exists(dir / "c.csv"));
  for (const char* fifo : {"csv.fifo", "pdb.fifo", "in.fifo", "corrupt.fifo"})
    EXPECT_TRUE(fs::is_fifo(dir / fifo)) << fifo;
  EXPECT_EQ(TempFilesIn(dir.Path()), Names{});
}

TEST_F(DestinationTest, DeviceNodesAreWrittenInPlaceNeverReplaced) {
  if (mknod((dir / "null").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
    GTEST_SKIP() << "no device node can be made here (needs root)";
  ExpectSuccess({"-pdb", kFormat, "in.pdb", "null"});
  ExpectSuccess({"-pdb", "-a", kFormat, "in.pdb", "null"});
  ExpectSuccess({"-csv", "-c", "Lark", kFormat, "ref.csv", "null"});
  const Outcome r = RunLarkconv(dir.Path(), {"-pdb", "x", "in.pdb", "null"});
  EXPECT_EQ(r.out, "ZelError: invalid format string\n");
  struct stat st;
  ASSERT_EQ(stat((dir / "null").c_str(), &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  EXPECT_EQ(st.st_rdev, makedev(1, 3));
  EXPECT_EQ(TempFilesIn(dir.Path()), Names{});
}

TEST_F(DestinationTest, StandardOutputOnAPipeStreamsTheCsv) {
  const Outcome r = RunLarkconv(dir.Path(), {"-pdb", kFormat, "in.pdb", "/dev/stdout"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, std::string(csv.begin(), csv.end()));
}

TEST_F(DestinationTest, LinksAreFollowedAndKept) {
  fs::create_symlink("made.csv", dir / "dangling.csv");
  fs::create_symlink("made.pdb", dir / "dangling.pdb");
  WriteFileText(dir / "old.csv", "\"old\"\n");
  fs::create_symlink("old.csv", dir / "link.csv");
  ExpectSuccess({"-pdb", kFormat, "in.pdb", "dangling.csv"});
  ExpectSuccess({"-csv", "-c", "Lark", kFormat, "ref.csv", "dangling.pdb"});
  ExpectSuccess({"-pdb", "-a", kFormat, "in.pdb", "link.csv"});
  for (const char* link : {"dangling.csv", "dangling.pdb", "link.csv"})
    EXPECT_TRUE(fs::is_symlink(dir / link)) << link;
  EXPECT_EQ(ReadFileBytes(dir / "made.csv"), csv);
  EXPECT_EQ(RecordsOf(dir / "made.pdb"), RecordsOf(dir / "in.pdb"));
  EXPECT_EQ(ReadFileText(dir / "old.csv"), "\"old\"\n" + ReadFileText(dir / "ref.csv"));
}

TEST_F(DestinationTest, AReplacedFileKeepsOnlyItsPermissionBits) {
  for (mode_t mode : {04755, 02640, 01666, 06777}) {
    SCOPED_TRACE("mode " + std::to_string(mode));
    WriteFileText(dir / "out.csv", "\"old\"\n");
    WriteFileBytes(dir / "out.pdb", ReadFileBytes(dir / "in.pdb"));
    chmod((dir / "out.csv").c_str(), mode);
    chmod((dir / "out.pdb").c_str(), mode);
    ExpectSuccess({"-pdb", "-a", kFormat, "in.pdb", "out.csv"});
    ExpectSuccess({"-csv", "-a", kFormat, "ref.csv", "out.pdb"});
    for (const char* name : {"out.csv", "out.pdb"}) {
      struct stat st;
      ASSERT_EQ(stat((dir / name).c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 07777, mode & 0777) << name;
    }
  }
}

}  // namespace
