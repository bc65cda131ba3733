// How CsvFile reports what Windows file systems do: a directory is refused
// when it is opened, for reading or writing.

#include <gtest/gtest.h>

#include "csv.h"
#include "testing/pdb_builder.h"

using namespace larkconv;
using namespace larkconv_testing;

namespace {

TEST(CsvFilesTest, ADirectoryDoesNotOpen) {
  ScratchDir dir;
  CsvFile csv;
  EXPECT_FALSE(csv.Open(dir.Path().string(), "r"));
  EXPECT_FALSE(csv.ReadLine());
  EXPECT_FALSE(csv.Open(dir.Path().string(), "w"));
  EXPECT_FALSE(csv.Open(dir.Path().string(), "a"));
  EXPECT_TRUE(fs::is_directory(dir.Path()));
}

}  // namespace
