#pragma once

// What gantry reads in files itself: the header of a database file (one it
// installs, one the emulator exported) and the first bytes of a screen shot.
// Every read is checked against the bytes that are there.

#include <cstddef>
#include <cstdint>
#include <string>

namespace gantry {

constexpr size_t kDatabaseHeaderSize = 78;
constexpr size_t kDatabaseNameField = 32;  // a name of at most 31 characters and its zero

/// The facts of a database file's header that the device reports after an
/// import. Filled by ReadDatabaseHeader, compared by InstallFile and
/// ExportDatabase.
struct DatabaseHeader {
  std::string name;      // the name field's characters before its zero
  uint32_t created = 0;  // creation date
  uint32_t type = 0;     // the four type characters, big-endian
  uint32_t creator = 0;
};

/// How reading a database file's header went.
enum class HeaderRead {
  Read,
  Unopenable,    // no regular file that can be opened and read
  TooShort,      // fewer bytes than a header
  NotADatabase,  // a name field without a zero, or an empty name
};

// Reads the header at the start of the file at path.
HeaderRead ReadDatabaseHeader(const std::string& path, DatabaseHeader* header);
// The same on n bytes read from the start of a file.
HeaderRead ParseDatabaseHeader(const uint8_t* bytes, size_t n, DatabaseHeader* header);

// The largest picture side taken for a screen: far beyond any device's.
constexpr uint32_t kMaxScreenSide = 4096;

// Whether the file at path is a screen shot: a BMP ("BM", uncompressed) or
// PPM ("P6") picture whose sides lie in 1..kMaxScreenSide and whose pixels
// the file holds whole.
bool IsScreenImage(const std::string& path);
// The same on the first n bytes of a file of fileLength bytes.
bool IsScreenImage(const uint8_t* head, size_t n, int64_t fileLength);

}  // namespace gantry
