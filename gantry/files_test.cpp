// gantry's own reading of files (a database header, a screen shot) and the
// destination an export or a screen shot is put in.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bytes.h"
#include "destination.h"
#include "formats.h"
#include "testing/pdb_image.h"
#include "testing/scratch.h"
#include "testing/substitute_traps.h"

namespace {

using namespace gantry;
using namespace gantry_testing;
using namespace file_testing;
using Bytes = std::vector<uint8_t>;

TEST(DatabaseHeaderTest, NameTypeCreatorAndDateOrWhyNot) {
  PdbFile file;
  file.name = std::string(31, 'n');
  file.type = "appl";
  file.creator = "Crea";
  file.created = 0x12345678;
  const Bytes image = PdbImage(file);
  DatabaseHeader header;
  ASSERT_EQ(ParseDatabaseHeader(image.data(), image.size(), &header), HeaderRead::Read);
  EXPECT_EQ(header.name, file.name);
  EXPECT_EQ(header.type, 0x6170706Cu);
  EXPECT_EQ(header.creator, FourCc("Crea"));
  EXPECT_EQ(header.created, 0x12345678u);
  Bytes noZero = image, unnamed = image;
  noZero[31] = 'n';
  unnamed[0] = 0;
  EXPECT_EQ(ParseDatabaseHeader(image.data(), 77, &header), HeaderRead::TooShort);
  EXPECT_EQ(ParseDatabaseHeader(noZero.data(), 78, &header), HeaderRead::NotADatabase);
  EXPECT_EQ(ParseDatabaseHeader(unnamed.data(), 78, &header), HeaderRead::NotADatabase);

  ScratchDir scratch;
  WriteFileBytes(scratch / "db.pdb", image);
  EXPECT_EQ(ReadDatabaseHeader((scratch / "db.pdb").string(), &header), HeaderRead::Read);
  EXPECT_EQ(ReadDatabaseHeader((scratch / "none.pdb").string(), &header), HeaderRead::Unopenable);
  EXPECT_EQ(ReadDatabaseHeader((scratch / "").string(), &header),
            HeaderRead::Unopenable);  // a folder
}

void SetLe32(Bytes* bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i)
    (*bytes)[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

TEST(ScreenImageTest, PlausibleBmpAndPpmPicturesOnly) {
  const std::string pixels(2 * 3 * 3, '\x7F');
  /// A file's bytes (or a BMP field changed) and whether it is a screen shot.
  struct Case {
    const char* what;
    std::string ppm;   // used when not empty, else the substitute's BMP
    size_t field = 0;  // a BMP field to change, with value
    uint32_t value = 0;
    long cut = 0;  // bytes taken off the end
    bool image;
  } cases[] = {
      {"BMP", "", 0, 0, 0, true},
      {"BMP, top row first", "", 22, 0xFFFFFFE0u, 0, true},
      {"BMP, a byte short", "", 0, 0, 1, false},
      {"BMP, no width", "", 18, 0, 0, false},
      {"BMP, too wide", "", 18, kMaxScreenSide + 1, 0, false},
      {"BMP, compressed", "", 30, 1, 0, false},
      {"BMP, 7 bits", "", 28, 7, 0, false},
      {"BMP, pixels inside the headers", "", 10, 50, 0, false},
      {"PPM", "P6\n3 2\n255\n" + pixels, 0, 0, 0, true},
      {"PPM with a comment", "P6 # shot\n3 2 255\n" + pixels, 0, 0, 0, true},
      {"PPM of 16-bit samples", "P6 3 2 65535\n" + pixels + pixels, 0, 0, 0, true},
      {"PPM, a byte short", "P6\n3 2\n255\n" + pixels, 0, 0, 1, false},
      {"PPM, no blank after the header", "P6\n3 2\n255", 0, 0, 0, false},
      {"PPM, maximum 0", "P6\n3 2\n0\n" + pixels, 0, 0, 0, false},
      {"PPM in text", "P3\n3 2\n255\n" + pixels, 0, 0, 0, false},
      {"PPM, no blank after P6", "P63 2\n255\n" + pixels, 0, 0, 0, false},
  };
  for (const Case& c : cases) {
    Bytes file = c.ppm.empty() ? ScreenBmp() : Bytes(c.ppm.begin(), c.ppm.end());
    if (c.field != 0) SetLe32(&file, c.field, c.value);
    file.resize(file.size() - static_cast<size_t>(c.cut));
    EXPECT_EQ(IsScreenImage(file.data(), file.size(), static_cast<int64_t>(file.size())), c.image)
        << c.what;
  }
}

TEST(DestinationTest, PutInPlaceReplacesAndLeavesNothingElse) {
  ScratchDir scratch;
  const std::string path = (scratch / "out.pdb").string();
  WriteFileBytes(path, {'o', 'l', 'd'});
  {
    Destination destination;
    ASSERT_TRUE(destination.Reserve(path, 250, true));
    EXPECT_EQ(scratch.Names().size(), 3u);  // out.pdb, the temporary file and its twin
    WriteFileBytes(destination.TwinPath(), {'n', 'e', 'w'});
    EXPECT_TRUE(destination.PutInPlace(destination.TwinPath()));
  }
  EXPECT_EQ(ReadFileBytes(path), (Bytes{'n', 'e', 'w'}));
  EXPECT_EQ(scratch.Names(), std::vector<std::string>{"out.pdb"});
  {
    Destination abandoned;
    ASSERT_TRUE(abandoned.Reserve(path, 250, false));
    EXPECT_FALSE(abandoned.PutInPlace("elsewhere"));  // only a reserved file goes in place
  }
  EXPECT_EQ(scratch.Names(), std::vector<std::string>{"out.pdb"});
  Destination refused;
  EXPECT_FALSE(refused.Reserve((scratch / "").string(), 250, false));  // a folder
  EXPECT_FALSE(refused.Reserve(path, path.size() - 8, false));         // no room for a name
  EXPECT_TRUE(
      refused.Reserve(path, (scratch / "").string().size() + 1, false));  // a one-letter name
  EXPECT_EQ(refused.TempPath().size(), (scratch / "").string().size() + 1);
  Destination screen;
  ASSERT_TRUE(screen.Reserve(path, 250, true));
  EXPECT_EQ(screen.TwinPath(), screen.TempPath().substr(0, screen.TempPath().size() - 4) + ".ppm");
}

}  // namespace
