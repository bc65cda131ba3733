#include "formats.h"

#include <algorithm>
#include <cstdio>

#include "bytes.h"
#include "filesys.h"

namespace gantry {

namespace {

constexpr size_t kScreenHeadBytes = 512;  // room for any BMP header and a PPM's with comments
constexpr size_t kBmpHeaders = 14 + 40;   // file header and the smallest info header

// Reads up to capacity bytes from the start of the regular file at path into
// buffer; false when it can't be opened or read.
bool ReadHead(const std::string& path, uint8_t* buffer, size_t capacity, size_t* n) {
  if (filesys::KindOf(path) != filesys::PathKind::Regular) return false;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  *n = std::fread(buffer, 1, capacity, file);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  return !failed;
}

bool SideFits(int64_t side) {
  return side >= 1 && side <= kMaxScreenSide;
}

bool IsBmp(const uint8_t* head, size_t n, int64_t fileLength) {
  if (n < kBmpHeaders) return false;
  const uint32_t pixelsAt = DecodeLe32(head + 10);
  const uint32_t infoSize = DecodeLe32(head + 14);
  const int64_t width = static_cast<int32_t>(DecodeLe32(head + 18));
  const int64_t height = static_cast<int32_t>(DecodeLe32(head + 22));  // < 0: top row first
  const uint16_t planes = DecodeLe16(head + 26);
  const uint16_t bits = DecodeLe16(head + 28);
  const uint32_t compression = DecodeLe32(head + 30);  // 0: none; 3: none, with colour masks
  const bool knownBits =
      bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
  const bool uncompressed = compression == 0 || (compression == 3 && (bits == 16 || bits == 32));
  if (infoSize < 40 || planes != 1 || !knownBits || !uncompressed) return false;
  if (!SideFits(width) || !SideFits(height < 0 ? -height : height)) return false;
  if (pixelsAt < 14 + static_cast<uint64_t>(infoSize)) return false;
  const int64_t rowBytes = (width * bits + 31) / 32 * 4;
  return pixelsAt + rowBytes * (height < 0 ? -height : height) <= fileLength;
}

bool IsPpmBlank(uint8_t c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads the decimal number of a PPM header at *at, after the blanks and
// comments before it; at most five digits.
bool NextPpmNumber(const uint8_t* head, size_t n, size_t* at, uint32_t* value) {
  size_t i = *at;
  while (i < n && (IsPpmBlank(head[i]) || head[i] == '#')) {
    if (head[i] == '#') {
      while (i < n && head[i] != '\n' && head[i] != '\r')
        ++i;
    } else {
      ++i;
    }
  }
  uint32_t number = 0;
  size_t digits = 0;
  for (; i < n && head[i] >= '0' && head[i] <= '9'; ++i, ++digits) {
    if (digits == 5) return false;
    number = number * 10 + static_cast<uint32_t>(head[i] - '0');
  }
  if (digits == 0) return false;
  *at = i;
  *value = number;
  return true;
}

bool IsPpm(const uint8_t* head, size_t n, int64_t fileLength) {
  size_t at = 2;
  uint32_t width = 0, height = 0, maxValue = 0;
  if (n < 3 || !(IsPpmBlank(head[2]) || head[2] == '#')) return false;
  if (!NextPpmNumber(head, n, &at, &width) || !NextPpmNumber(head, n, &at, &height) ||
      !NextPpmNumber(head, n, &at, &maxValue)) {
    return false;
  }
  // One blank byte ends the header.
  if (at >= n || !IsPpmBlank(head[at]) || !SideFits(width) || !SideFits(height)) return false;
  if (maxValue == 0 || maxValue > 65535) return false;
  const int64_t sampleBytes = maxValue < 256 ? 1 : 2;
  return static_cast<int64_t>(at + 1) + int64_t{width} * height * 3 * sampleBytes <= fileLength;
}

}  // namespace

HeaderRead ParseDatabaseHeader(const uint8_t* bytes, size_t n, DatabaseHeader* header) {
  if (n < kDatabaseHeaderSize) return HeaderRead::TooShort;
  const uint8_t* nameEnd = std::find(bytes, bytes + kDatabaseNameField, 0);
  if (nameEnd == bytes || nameEnd == bytes + kDatabaseNameField) return HeaderRead::NotADatabase;
  header->name.assign(bytes, nameEnd);
  header->created = DecodeBe32(bytes + 36);
  header->type = DecodeBe32(bytes + 60);
  header->creator = DecodeBe32(bytes + 64);
  return HeaderRead::Read;
}

HeaderRead ReadDatabaseHeader(const std::string& path, DatabaseHeader* header) {
  uint8_t bytes[kDatabaseHeaderSize];
  size_t n = 0;
  if (!ReadHead(path, bytes, sizeof bytes, &n)) return HeaderRead::Unopenable;
  return ParseDatabaseHeader(bytes, n, header);
}

bool IsScreenImage(const uint8_t* head, size_t n, int64_t fileLength) {
  if (n < 2) return false;
  if (head[0] == 'B' && head[1] == 'M') return IsBmp(head, n, fileLength);
  if (head[0] == 'P' && head[1] == '6') return IsPpm(head, n, fileLength);
  return false;
}

bool IsScreenImage(const std::string& path) {
  uint8_t head[kScreenHeadBytes];
  size_t n = 0;
  return ReadHead(path, head, sizeof head, &n) && IsScreenImage(head, n, filesys::FileLength(path));
}

}  // namespace gantry
