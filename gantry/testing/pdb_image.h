#pragma once

// Test support: whole PDB files described by their header fields, for the
// emulator substitute's device and for the tests that install and export
// databases. gantry's own header check is not used here, so that a fault in
// it can't hide behind the same fault in what the tests build.

#include <cstdint>
#include <string>
#include <vector>

#include "bytes.h"

namespace gantry_testing {

/// A database file described field by field, turned into its bytes by
/// PdbImage. Filled by tests and by the substitute's device.
struct PdbFile {
  std::string name = "TestDb";
  uint16_t attributes = 0;  // 0x0001: a resource database (.prc)
  uint16_t version = 1;
  uint32_t created = 0xC1000000;
  uint32_t modified = 0xC1000000;
  uint32_t backedUp = 0;
  uint32_t modNumber = 0;
  std::string type = "DATA";
  std::string creator = "Gtst";
  uint32_t uniqueIdSeed = 0;
  std::vector<std::vector<uint8_t>> entries;  // records, or resources of type "tRES"
};

// Four characters as the big-endian number the device reports for them.
inline uint32_t FourCc(const std::string& text) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i)
    value = (value << 8) | static_cast<uint8_t>(i < text.size() ? text[i] : 0);
  return value;
}

inline std::vector<uint8_t> PdbImage(const PdbFile& file) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < 32; ++i)
    out.push_back(i < file.name.size() ? static_cast<uint8_t>(file.name[i]) : 0);
  gantry::PutBe16(&out, file.attributes);
  gantry::PutBe16(&out, file.version);
  for (uint32_t value : {file.created, file.modified, file.backedUp, file.modNumber, 0u, 0u,
                         FourCc(file.type), FourCc(file.creator), file.uniqueIdSeed, 0u}) {
    gantry::PutBe32(&out, value);
  }
  gantry::PutBe16(&out, static_cast<uint16_t>(file.entries.size()));
  const bool resources = (file.attributes & 1) != 0;
  uint32_t offset = static_cast<uint32_t>(out.size() + file.entries.size() * (resources ? 10 : 8));
  for (size_t i = 0; i < file.entries.size(); ++i) {
    if (resources) {
      gantry::PutBe32(&out, FourCc("tRES"));
      gantry::PutBe16(&out, static_cast<uint16_t>(1000 + i));
      gantry::PutBe32(&out, offset);
    } else {
      gantry::PutBe32(&out, offset);
      gantry::PutBe32(&out, static_cast<uint32_t>(i + 1));  // attributes 0, unique id i + 1
    }
    offset += static_cast<uint32_t>(file.entries[i].size());
  }
  for (const auto& entry : file.entries)
    out.insert(out.end(), entry.begin(), entry.end());
  return out;
}

}  // namespace gantry_testing
