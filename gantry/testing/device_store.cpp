#include "testing/device_store.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>

#include "bytes.h"
#include "testing/pdb_image.h"

namespace gantry_testing {

namespace {

constexpr size_t kHeaderSize = 78;
constexpr size_t kNameSize = 32;
constexpr size_t kLargestFile = 16 << 20;
constexpr uint32_t kFileError = 0xFFFA0000;  // + errno
constexpr uint32_t kNoSuchDatabase = 0xFFFC0207;

// The header field at offset, or 0 where the image is too short for it.
uint32_t Field32(const std::vector<uint8_t>& image, size_t offset) {
  return offset + 4 <= image.size() ? gantry::DecodeBe32(&image[offset]) : 0;
}

uint16_t Field16(const std::vector<uint8_t>& image, size_t offset) {
  return offset + 2 <= image.size() ? gantry::DecodeBe16(&image[offset]) : 0;
}

// The name in a header: the bytes before its zero; "" when there is no zero.
std::string HeaderName(const std::vector<uint8_t>& image) {
  const size_t limit = std::min(image.size(), kNameSize);
  const auto end = std::find(image.begin(), image.begin() + static_cast<long>(limit), 0);
  if (end == image.begin() + static_cast<long>(limit)) return std::string();
  return std::string(image.begin(), end);
}

bool EndsInDatabaseExtension(const std::string& path) {
  if (path.size() < 4) return false;
  std::string extension = path.substr(path.size() - 4);
  for (char& c : extension)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension == ".prc" || extension == ".pdb" || extension == ".pqa";
}

// A header with a name, and an entry list whose offsets lie in the file in
// ascending order.
bool WellFormed(const std::vector<uint8_t>& image) {
  if (image.size() < kHeaderSize || HeaderName(image).empty()) return false;
  const size_t entrySize = (Field16(image, 32) & 1) != 0 ? 10 : 8;
  const size_t offsetAt = entrySize == 10 ? 6 : 0;
  const size_t count = Field16(image, 76);
  if (kHeaderSize + count * entrySize > image.size()) return false;
  uint32_t previous = static_cast<uint32_t>(kHeaderSize + count * entrySize);
  for (size_t i = 0; i < count; ++i) {
    const uint32_t offset = Field32(image, kHeaderSize + i * entrySize + offsetAt);
    if (offset < previous || offset > image.size()) return false;
    previous = offset;
  }
  return true;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  uint8_t block[4096];
  size_t n = 0;
  while ((n = std::fread(block, 1, sizeof block, file)) > 0 && bytes->size() <= kLargestFile)
    bytes->insert(bytes->end(), block, block + n);
  const bool ok = !std::ferror(file) && bytes->size() <= kLargestFile;
  std::fclose(file);
  return ok;
}

}  // namespace

void DeviceStore::Add(const std::string& name, uint32_t localId, uint16_t version) {
  PdbFile file;
  file.name = name;
  file.version = version;
  file.creator = "Gsub";
  AddImage(name, localId, PdbImage(file));
}

void DeviceStore::AddImage(const std::string& name, uint32_t localId,
                           const std::vector<uint8_t>& image) {
  std::lock_guard<std::mutex> lock(mutex);
  databases[name] = Database{localId, image};
}

void DeviceStore::HoldOpen(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex);
  heldOpen.insert(name);
}

uint32_t DeviceStore::Find(const std::string& name) const {
  std::lock_guard<std::mutex> lock(mutex);
  auto found = databases.find(name);
  return found != databases.end() ? found->second.localId : 0;
}

bool DeviceStore::InfoOf(uint32_t localId, DatabaseInfo* info) const {
  std::lock_guard<std::mutex> lock(mutex);
  for (const auto& entry : databases) {
    if (entry.second.localId != localId) continue;
    const std::vector<uint8_t>& image = entry.second.image;
    *info =
        DatabaseInfo{Field16(image, 32), Field16(image, 34), Field32(image, 36), Field32(image, 40),
                     Field32(image, 44), Field32(image, 48), Field32(image, 52), Field32(image, 56),
                     Field32(image, 60), Field32(image, 64)};
    return true;
  }
  return false;
}

bool DeviceStore::Holds(uint32_t localId) const {
  DatabaseInfo ignored;
  return localId != 0 && InfoOf(localId, &ignored);
}

bool DeviceStore::Image(const std::string& name, std::vector<uint8_t>* image) const {
  std::lock_guard<std::mutex> lock(mutex);
  auto found = databases.find(name);
  if (found == databases.end()) return false;
  *image = found->second.image;
  return true;
}

ImportOutcome DeviceStore::Import(const std::string& path) {
  std::vector<uint8_t> image;
  if (!ReadWholeFile(path, &image)) return ImportOutcome::Unreadable;
  if (!EndsInDatabaseExtension(path) || !WellFormed(image)) return ImportOutcome::NotImported;
  const uint32_t created = Field32(image, 36);
  if (created == 0 || created > Field32(image, 40)) return ImportOutcome::BadDates;
  const std::string name = HeaderName(image);
  std::lock_guard<std::mutex> lock(mutex);
  if (heldOpen.count(name) != 0 && databases.count(name) != 0) return ImportOutcome::HeldOpen;
  const uint32_t localId = FreshIdLocked();
  databases[name] = Database{localId, std::move(image)};
  return ImportOutcome::Stored;
}

uint32_t DeviceStore::Export(const std::string& name, const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return kFileError + static_cast<uint32_t>(errno);
  std::vector<uint8_t> image;
  if (!Image(name, &image)) {
    std::fclose(file);
    return kNoSuchDatabase;
  }
  const bool written = std::fwrite(image.data(), 1, image.size(), file) == image.size();
  const int error = errno;
  if (std::fclose(file) != 0 || !written) return kFileError + static_cast<uint32_t>(error);
  return 0;
}

uint32_t DeviceStore::FreshIdLocked() const {
  auto taken = [this](uint32_t id) {
    return std::any_of(databases.begin(), databases.end(),
                       [id](const auto& entry) { return entry.second.localId == id; });
  };
  uint32_t id = 0x00800000;
  while (taken(id))
    id += 0x100;
  return id;
}

}  // namespace gantry_testing
