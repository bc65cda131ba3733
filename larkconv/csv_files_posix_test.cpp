// How CsvFile reports what POSIX file systems do: a directory opens but
// cannot be read, and a full device fails the write at the latest at close.

#include <gtest/gtest.h>

#include "csv.h"
#include "testing/pdb_builder.h"

using namespace larkconv;
using namespace larkconv_testing;

namespace {

TEST(CsvFilesTest, ADirectoryOpensButCannotBeRead) {
  ScratchDir dir;
  CsvFile csv;
  ASSERT_TRUE(csv.Open(dir.Path().string(), "r"));
  EXPECT_FALSE(csv.ReadLine());
  EXPECT_TRUE(csv.ReadFailed());
}

TEST(CsvFilesTest, AFullDeviceFailsTheWrite) {
  CsvFile csv;
  ASSERT_TRUE(csv.Open("/dev/full", "w"));
  csv.AppendText(std::string(10000, 'x'));
  csv.WriteLine();
  EXPECT_FALSE(csv.Close());
  EXPECT_TRUE(csv.Close());  // nothing left open
}

}  // namespace
