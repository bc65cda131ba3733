#pragma once

// Test support: random format strings with records that fit them, for the
// round-trip property (record -> CSV row -> record gives the same bytes).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace larkconv_testing {

using Bytes = std::vector<uint8_t>;

/// One field as the generator lays it out: its kind ('n' integer, 'c', 'f',
/// 's' string) and byte size (0 for a zero-terminated string).
struct GenField {
  char kind;
  int size;
};

/// A generated format string and the fields it describes: the head's fields,
/// then the group's, which repeat without end when the group is not empty.
struct GenFormat {
  std::string text;
  std::vector<GenField> head;
  std::vector<GenField> group;

  // The i-th field of the endless (or ending) field sequence.
  const GenField* FieldAt(size_t i) const {
    if (i < head.size()) return &head[i];
    if (group.empty()) return nullptr;
    return &group[(i - head.size()) % group.size()];
  }
};

/// Makes random formats and records that fit them, from a seed so that a
/// failure repeats. Driven by the round-trip tests.
class FormatGenerator {
 public:
  explicit FormatGenerator(uint32_t seed) : rng(seed) {}

  int Pick(int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); }

  GenFormat Format() {
    GenFormat format;
    bool digitsMayFollow = true;  // whether a next item may start with a digit
    const int headItems = Pick(4);
    for (int i = 0; i < headItems; ++i)
      AddItem(format.text, format.head, digitsMayFollow);
    if (format.head.empty() || Pick(2)) {
      format.text += '(';
      digitsMayFollow = true;
      const int groupItems = 1 + Pick(3);
      for (int i = 0; i < groupItems; ++i)
        AddItem(format.text, format.group, digitsMayFollow);
      format.text += ')';
    }
    return format;
  }

  // A record of the first n fields of format (n at least 1) whose bytes come
  // back unchanged from CSV: strings hold no zero byte before their padding or
  // terminator and no CR right before a line feed; floats are numbers,
  // infinities or the NaNs whose text reads back to the same bits.
  // *fieldCount, when given, is set to n.
  Bytes Record(const GenFormat& format, size_t* fieldCount = nullptr) {
    size_t limit = format.head.size() + 3 * format.group.size();
    const size_t fields = 1 + static_cast<size_t>(Pick(static_cast<int>(limit)));
    if (fieldCount) *fieldCount = fields;
    Bytes record;
    for (size_t i = 0; i < fields; ++i)
      AddValue(*format.FieldAt(i), record);
    return record;
  }

  // Damages a record the way records in the field are damaged: bytes added
  // or cut at the end, a byte changed (to a zero, a CR, a line feed or FF),
  // four bytes made the bits of a NaN with a payload, or every byte dropped.
  void Damage(Bytes* record) {
    const size_t size = record->size();
    const auto at = [&] { return static_cast<size_t>(Pick(static_cast<int>(size))); };
    switch (Pick(5)) {
      case 0:
        for (int n = 1 + Pick(3); n > 0; --n)
          record->push_back(static_cast<uint8_t>(rng()));
        return;
      case 1:
        record->resize(size - std::min<size_t>(size, static_cast<size_t>(1 + Pick(3))));
        return;
      case 2:
        if (size > 0) (*record)[at()] = static_cast<uint8_t>("\0\r\n\xff"[Pick(4)]);
        return;
      case 3:
        if (size >= 4) {
          const uint8_t nan[] = {0x7F, 0xC0, 0x00, 0x01};
          std::copy(nan, nan + 4, record->begin() + static_cast<std::ptrdiff_t>(at() % (size - 3)));
        }
        return;
      default:
        record->clear();
    }
  }

 private:
  // Any byte but zero, the CSV's own characters more often than the rest.
  uint8_t TextByte() {
    for (;;) {
      const uint8_t b = static_cast<uint8_t>(Pick(4) == 0 ? rng() : "a\"b,c \t'\r\n\x1A"[Pick(11)]);
      if (b != 0) return b;
    }
  }

  uint32_t FloatBits() {
    static const uint32_t kSpecial[] = {0x7F800000u, 0xFF800000u, 0x7FC00000u, 0xFFC00000u,
                                        0xFFC00001u};
    if (Pick(8) == 0) return kSpecial[Pick(5)];
    uint32_t bits = static_cast<uint32_t>(rng());
    if ((bits & 0x7F800000u) == 0x7F800000u) bits &= 0xBFFFFFFFu;  // finite
    if (Pick(8) == 0) bits &= 0x807FFFFFu;                         // subnormal or zero
    return bits;
  }

  void AddValue(const GenField& field, Bytes& record) {
    switch (field.kind) {
      case 'c':
        record.push_back(static_cast<uint8_t>(rng()));
        return;
      case 'f': {
        const uint32_t bits = FloatBits();
        for (int s = 24; s >= 0; s -= 8)
          record.push_back(static_cast<uint8_t>(bits >> s));
        return;
      }
      case 's': {
        const int length = field.size == 0 ? Pick(12) : Pick(field.size + 1);
        for (int i = 0; i < length; ++i) {
          uint8_t b = TextByte();
          while (i > 0 && record.back() == '\r' && b == '\n')
            b = TextByte();
          record.push_back(b);
        }
        const int zeros = field.size == 0 ? 1 : field.size - length;
        record.insert(record.end(), static_cast<size_t>(zeros), 0);
        return;
      }
      default:
        for (int i = 0; i < field.size; ++i)
          record.push_back(static_cast<uint8_t>(rng()));
    }
  }

  void AddItem(std::string& text, std::vector<GenField>& fields, bool& digitsMayFollow) {
    const int count = Pick(3) == 0 ? 1 + Pick(3) : 1;
    if (count > 1 || Pick(6) == 0) {
      if (!digitsMayFollow) text += '.';
      text += std::to_string(count);
    }
    static const char* const kItems[] = {"b", "w", "i", "i1", "i2", "i4", "c",  "f",
                                         "s", "s", "l", "sz", "lz", "s0", "l0", "f"};
    std::string item = kItems[Pick(16)];
    GenField field{item[0], 0};
    if (item[0] == 'b' || item[0] == 'w' || item[0] == 'i') field.kind = 'n';
    if (item[0] == 'l') field.kind = 's';
    if (item == "b" || item == "c" || item == "i1") field.size = 1;
    if (item == "w" || item == "i2") field.size = 2;
    if (item == "i" || item == "i4" || item == "f") field.size = 4;
    if ((item == "s" || item == "l") && Pick(3) != 0) {
      field.size = 1 + Pick(12);
      item += std::to_string(field.size);
    }
    text += item;
    // After "i" and after "s"/"l" ending in digits or nothing, a digit would
    // extend the item; a "." separator may follow them, and must before digits.
    const bool separable =
        item[0] == 'i' || ((item[0] == 's' || item[0] == 'l') && item.back() != 'z');
    digitsMayFollow = !separable;
    if (separable && Pick(3) == 0) {
      text += '.';
      digitsMayFollow = true;
    }
    for (int i = 0; i < count; ++i)
      fields.push_back(field);
  }

  std::mt19937 rng;
};

}  // namespace larkconv_testing
