#pragma once

// Big-endian coding of 16- and 32-bit numbers: the byte order of every number
// in a PDB file and in a record's bytes, whatever the host's order. And one
// little-endian read of eight bytes, with which the CSV reader scans text
// eight characters at a time, the first character in the lowest byte.
//
// One vocabulary for every reader and writer of bytes in larkconv:
// - Put*    appends the number to a byte buffer.
// - Encode* writes it at p, which must have room for it.
// - Decode* reads it at p without a check: the caller has made sure that the
//   bytes are there.
// - Get*    reads it only from bytes in [p..limit-1]: false, leaving *value
//   alone, when the number does not lie whole inside that range.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace larkconv {

// True when the n bytes from p lie whole in [p..limit-1].
inline bool Fits(const uint8_t* p, const uint8_t* limit, size_t n) {
  return p <= limit && static_cast<size_t>(limit - p) >= n;
}

inline void EncodeBig16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}

inline void EncodeBig32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

inline void PutBig16(std::vector<uint8_t>* dst, uint16_t v) {
  dst->push_back(static_cast<uint8_t>(v >> 8));
  dst->push_back(static_cast<uint8_t>(v));
}

inline void PutBig32(std::vector<uint8_t>* dst, uint32_t v) {
  PutBig16(dst, static_cast<uint16_t>(v >> 16));
  PutBig16(dst, static_cast<uint16_t>(v));
}

inline uint16_t DecodeBig16(const uint8_t* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

inline uint32_t DecodeBig32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

inline uint64_t DecodeLittle64(const uint8_t* p) {
  return uint64_t{p[0]} | uint64_t{p[1]} << 8 | uint64_t{p[2]} << 16 | uint64_t{p[3]} << 24 |
         uint64_t{p[4]} << 32 | uint64_t{p[5]} << 40 | uint64_t{p[6]} << 48 | uint64_t{p[7]} << 56;
}

inline bool GetBig16(const uint8_t* p, const uint8_t* limit, uint16_t* value) {
  if (!Fits(p, limit, 2)) return false;
  *value = DecodeBig16(p);
  return true;
}

inline bool GetBig32(const uint8_t* p, const uint8_t* limit, uint32_t* value) {
  if (!Fits(p, limit, 4)) return false;
  *value = DecodeBig32(p);
  return true;
}

}  // namespace larkconv
