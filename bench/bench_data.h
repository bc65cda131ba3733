#pragma once

// The benchmark database: one format string that uses every kind of field and
// the 64-byte records that fit it exactly, made from the record's number alone
// so that every run and every program sees the same bytes.

#include <cstdint>
#include <cstring>
#include <vector>

#include "bytes.h"

namespace benchdata {

// b w i2 i4 i1 c 2f s12 lz l7: 48 bytes, then the group i 2c w (8 bytes) twice.
constexpr char kFormat[] = "bwi2i4i1c2fs12lzl7(i.2cw)";
constexpr int kRecordSize = 64;
constexpr int kMaxRecords = 32767;

/// A small deterministic stream of 64-bit values (splitmix64), seeded by the
/// record number. Used by MakeRecord.
class Mixer {
 public:
  // Each seed starts at a scrambled place, so that nearby seeds share no values.
  explicit Mixer(uint64_t seed) : state(Scramble(seed)) {}

  uint64_t Next() { return Scramble(state += 0x9E3779B97F4A7C15ull); }
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() % n); }

 private:
  static uint64_t Scramble(uint64_t z) {
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }

  uint64_t state;
};

// The low 1, 2 or 4 bytes of value, big-endian as in every record.
inline void Put(std::vector<uint8_t>* out, uint64_t value, int bytes) {
  if (bytes == 1) {
    out->push_back(static_cast<uint8_t>(value));
  } else if (bytes == 2) {
    larkconv::PutBig16(out, static_cast<uint16_t>(value));
  } else {
    larkconv::PutBig32(out, static_cast<uint32_t>(value));
  }
}

// length characters of text, with the quote and the comma that CSV must escape
// or quote among them, then zero bytes up to width. With accented, a third of
// them are letters of code page 1252 above 7F, as a Western device keeps them.
inline void PutText(std::vector<uint8_t>* out, Mixer& mix, int length, int width, bool accented) {
  static const char kChars[] =
      "abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789,\"-.";
  static const char kAccents[] =
      "\xE0\xE1\xE2\xE4\xE7\xE8\xE9\xEA\xEB\xEE\xEF\xF1\xF3\xF4"
      "\xF6\xF9\xFA\xFB\xFC\xDF\xC9\xC0\xDC\xD6\x80\x93\x94";
  for (int i = 0; i < width; ++i) {
    char c = 0;
    if (i < length) {
      c = accented && mix.Below(3) == 0 ? kAccents[mix.Below(sizeof kAccents - 1)]
                                        : kChars[mix.Below(sizeof kChars - 1)];
    }
    out->push_back(static_cast<uint8_t>(c));
  }
}

// A finite single-precision value of any magnitude, as its bits.
inline uint32_t AnyFiniteFloat(Mixer& mix) {
  const uint32_t sign = static_cast<uint32_t>(mix.Below(2)) << 31;
  const uint32_t exponent = 1 + mix.Below(254);
  return sign | (exponent << 23) | (static_cast<uint32_t>(mix.Next()) & 0x7FFFFFu);
}

// A value such as an amount of money: quarters below 100000.
inline uint32_t AmountFloat(Mixer& mix) {
  const float value = static_cast<float>(mix.Below(400000)) / 4.0f;
  uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

// Record number index of the benchmark database: kRecordSize bytes laid out by
// kFormat, every text free of zero bytes and line ends so that it reads back;
// with accented, the texts hold letters of code page 1252 above 7F.
inline std::vector<uint8_t> MakeRecord(uint32_t index, bool accented = false) {
  Mixer mix(index);
  std::vector<uint8_t> r;
  r.reserve(kRecordSize);
  Put(&r, index, 1);                                  // b
  Put(&r, mix.Next(), 2);                             // w
  Put(&r, mix.Next(), 2);                             // i2
  Put(&r, mix.Next(), 4);                             // i4
  Put(&r, mix.Next(), 1);                             // i1
  Put(&r, 'A' + index % 26, 1);                       // c
  Put(&r, AnyFiniteFloat(mix), 4);                    // f
  Put(&r, AmountFloat(mix), 4);                       // f
  PutText(&r, mix, 1 + mix.Below(12), 12, accented);  // s12
  PutText(&r, mix, 9, 9, accented);                   // lz: nine characters and the zero
  r.push_back(0);
  PutText(&r, mix, static_cast<int>(mix.Below(8)), 7, accented);  // l7
  for (int group = 0; group < 2; ++group) {
    Put(&r, mix.Next(), 4);            // i
    PutText(&r, mix, 2, 2, accented);  // 2c
    Put(&r, mix.Next(), 2);            // w
  }
  return r;
}

}  // namespace benchdata
