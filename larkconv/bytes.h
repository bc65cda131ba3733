#pragma once

// Big-endian coding of 16- and 32-bit numbers: the byte order of every number
// in a PDB file and in a record's bytes, whatever the host's order.
//
// PutBig16/PutBig32 append to a byte vector. StoreBig16/StoreBig32 write at p,
// which must have room. GetBig16/GetBig32 only look at bytes in the range
// [p..limit-1] and return false, leaving *value alone, when the number does not
// lie whole inside it.

#include <cstddef>
#include <cstdint>
#include <vector>

inline bool Fits(const uint8_t* p, const uint8_t* limit, size_t n) {
  return p <= limit && static_cast<size_t>(limit - p) >= n;
}

inline void StoreBig16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

inline void StoreBig32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

inline void PutBig16(std::vector<uint8_t>& dst, uint16_t v) {
  dst.push_back(static_cast<uint8_t>(v >> 8));
  dst.push_back(static_cast<uint8_t>(v));
}

inline void PutBig32(std::vector<uint8_t>& dst, uint32_t v) {
  PutBig16(dst, static_cast<uint16_t>(v >> 16));
  PutBig16(dst, static_cast<uint16_t>(v));
}

inline bool GetBig16(const uint8_t* p, const uint8_t* limit, uint16_t* value) {
  if (!Fits(p, limit, 2)) return false;
  *value = static_cast<uint16_t>((p[0] << 8) | p[1]);
  return true;
}

inline bool GetBig32(const uint8_t* p, const uint8_t* limit, uint32_t* value) {
  if (!Fits(p, limit, 4)) return false;
  *value = (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
  return true;
}
