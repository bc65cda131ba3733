#pragma once

// gantry's byte vocabulary. Every number on the emulator wire and in a PDB
// header is big-endian (Be), whatever the host's byte order; a BMP picture's
// are little-endian (Le). Every byte of them goes through these:
//   Put*     appends the number to a buffer;
//   Encode*  writes it at a pointer that has room for it;
//   Decode*  reads it at a pointer without a check (the caller has one);
//   Get*     reads it only when it lies whole in [p, limit): then stores it
//            and returns the pointer past it, else returns nullptr and leaves
//            the output alone. Bytes at limit and beyond are never read.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace gantry {

inline void EncodeBe16(uint8_t* p, uint16_t value) {
  p[0] = static_cast<uint8_t>(value >> 8);
  p[1] = static_cast<uint8_t>(value);
}

inline void EncodeBe32(uint8_t* p, uint32_t value) {
  EncodeBe16(p, static_cast<uint16_t>(value >> 16));
  EncodeBe16(p + 2, static_cast<uint16_t>(value));
}

inline uint16_t DecodeBe16(const uint8_t* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

inline uint32_t DecodeBe32(const uint8_t* p) {
  return (static_cast<uint32_t>(DecodeBe16(p)) << 16) | DecodeBe16(p + 2);
}

inline void PutBe16(std::vector<uint8_t>* dst, uint16_t value) {
  uint8_t bytes[2];
  EncodeBe16(bytes, value);
  dst->insert(dst->end(), bytes, bytes + 2);
}

inline void PutBe32(std::vector<uint8_t>* dst, uint32_t value) {
  uint8_t bytes[4];
  EncodeBe32(bytes, value);
  dst->insert(dst->end(), bytes, bytes + 4);
}

inline const uint8_t* GetBe16(const uint8_t* p, const uint8_t* limit, uint16_t* value) {
  if (p == nullptr || limit < p || static_cast<size_t>(limit - p) < 2) return nullptr;
  *value = DecodeBe16(p);
  return p + 2;
}

inline const uint8_t* GetBe32(const uint8_t* p, const uint8_t* limit, uint32_t* value) {
  if (p == nullptr || limit < p || static_cast<size_t>(limit - p) < 4) return nullptr;
  *value = DecodeBe32(p);
  return p + 4;
}

inline uint16_t DecodeLe16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t DecodeLe32(const uint8_t* p) {
  return DecodeLe16(p) | (static_cast<uint32_t>(DecodeLe16(p + 2)) << 16);
}

inline void PutLe16(std::vector<uint8_t>* dst, uint16_t value) {
  dst->push_back(static_cast<uint8_t>(value));
  dst->push_back(static_cast<uint8_t>(value >> 8));
}

inline void PutLe32(std::vector<uint8_t>* dst, uint32_t value) {
  PutLe16(dst, static_cast<uint16_t>(value));
  PutLe16(dst, static_cast<uint16_t>(value >> 16));
}

}  // namespace gantry
