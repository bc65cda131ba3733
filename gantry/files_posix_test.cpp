// Destinations that only POSIX systems give tests to make: links, FIFOs and
// permission bits.

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "destination.h"
#include "testing/scratch.h"

namespace {

using gantry::Destination;
using namespace file_testing;
using Bytes = std::vector<uint8_t>;

// Has a new file with these bytes put in place of path.
bool Put(const std::string& path, const Bytes& bytes) {
  Destination destination;
  if (!destination.Reserve(path, 250, false)) return false;
  WriteFileBytes(destination.TempPath(), bytes);
  return destination.PutInPlace(destination.TempPath());
}

TEST(DestinationPosixTest, AReplacedFileKeepsItsBitsAndALinkStaysALink) {
  ScratchDir scratch;
  const std::string file = (scratch / "file.pdb").string(), link = (scratch / "link.pdb").string();
  WriteFileBytes(file, {'o', 'l', 'd'});
  ASSERT_EQ(chmod(file.c_str(), 0640), 0);
  ASSERT_EQ(symlink("file.pdb", link.c_str()), 0);
  ASSERT_TRUE(Put(link, {'n', 'e', 'w'}));
  struct stat st;
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(ReadFileBytes(file), (Bytes{'n', 'e', 'w'}));
  EXPECT_EQ(scratch.Names(), (std::vector<std::string>{"file.pdb", "link.pdb"}));
}

TEST(DestinationPosixTest, AFifoIsWrittenInPlaceAndStays) {
  ScratchDir scratch;
  const std::string fifo = (scratch / "fifo").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  Bytes received;
  std::thread reader([&] { received = ReadFileBytes(fifo); });
  EXPECT_TRUE(Put(fifo, {'n', 'e', 'w'}));
  reader.join();
  EXPECT_EQ(received, (Bytes{'n', 'e', 'w'}));
  struct stat st;
  ASSERT_EQ(stat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_EQ(scratch.Names(), std::vector<std::string>{"fifo"});
}

}  // namespace
