#include "charset.h"

#include <algorithm>

#include "charset_tables.h"

namespace larkconv {

namespace {

using namespace charset_tables;

constexpr uint32_t kNoCode = 0xFFFFFFFFu;

[[noreturn]] void Fail(TextFault::Kind kind, uint32_t character = 0) {
  throw TextFault{kind, character};
}

char* PutUtf8(char* out, uint32_t c) {
  if (c < 0x80) {
    *out++ = static_cast<char>(c);
  } else if (c < 0x800) {
    *out++ = static_cast<char>(0xC0 | (c >> 6));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  } else {
    // Every character of both sets lies below U+10000.
    *out++ = static_cast<char>(0xE0 | (c >> 12));
    *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

bool IsContinuation(unsigned char c) {
  return (c & 0xC0) == 0x80;
}

// Reads the character of the UTF-8 sequence at p, before end, moving p past
// it; throws NotUtf8 for bytes that are no such sequence (a stray or missing
// continuation byte, an overlong form, a surrogate, above U+10FFFF).
uint32_t NextUtf8(const unsigned char*& p, const unsigned char* end) {
  const unsigned char first = *p++;
  if (first < 0x80) return first;
  int more = 0;
  uint32_t c = 0;
  unsigned char low = 0x80;  // the range of the second byte
  unsigned char high = 0xBF;
  if (first >= 0xC2 && first <= 0xDF) {
    more = 1;
    c = first & 0x1Fu;
  } else if (first >= 0xE0 && first <= 0xEF) {
    more = 2;
    c = first & 0x0Fu;
    if (first == 0xE0) low = 0xA0;
    if (first == 0xED) high = 0x9F;
  } else if (first >= 0xF0 && first <= 0xF4) {
    more = 3;
    c = first & 0x07u;
    if (first == 0xF0) low = 0x90;
    if (first == 0xF4) high = 0x8F;
  } else {
    Fail(TextFault::Kind::NotUtf8);
  }
  if (end - p < more || p[0] < low || p[0] > high) Fail(TextFault::Kind::NotUtf8);
  for (int i = 0; i < more; ++i) {
    if (!IsContinuation(p[i])) Fail(TextFault::Kind::NotUtf8);
    c = (c << 6) | (p[i] & 0x3Fu);
  }
  p += more;
  return c;
}

// The cp1252 byte of character c, or kNoCode.
uint32_t Cp1252Code(uint32_t c) {
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return c;
  const uint16_t* const end =
      kCp1252High + 0x20;  // 80 to 9F; A0 to FF are the characters themselves
  const uint16_t* found = std::find(kCp1252High, end, c);
  return found == end ? kNoCode : 0x80u + static_cast<uint32_t>(found - kCp1252High);
}

// The cp932 code of character c (below 100: one byte), or kNoCode.
uint32_t Cp932Code(uint32_t c) {
  if (c < 0x80) return c;
  const uint32_t* const end = kCp932WriteChars + kCp932WriteCount;
  const uint32_t* found = std::lower_bound(kCp932WriteChars, end, c);
  if (found == end || *found != c) return kNoCode;
  return kCp932WriteCodes[found - kCp932WriteChars];
}

uint32_t CodeOf(Charset set, uint32_t c) {
  return set == Charset::Cp1252 ? Cp1252Code(c) : Cp932Code(c);
}

// The index of the cp932 lead byte b among the 60, or -1.
int Cp932Lead(unsigned char b) {
  if (b >= 0x81 && b <= 0x9F) return b - 0x81;
  if (b >= 0xE0 && b <= 0xFC) return b - 0xE0 + 31;
  return -1;
}

// The index of the cp932 trail byte b among the 188, or -1.
int Cp932Trail(unsigned char b) {
  if (b >= 0x40 && b <= 0x7E) return b - 0x40;
  if (b >= 0x80 && b <= 0xFC) return b - 0x80 + 63;
  return -1;
}

}  // namespace

bool CharsetNamed(const std::string& name, Charset* set) {
  std::string lower = name;
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (lower == "cp1252") {
    *set = Charset::Cp1252;
  } else if (lower == "cp932") {
    *set = Charset::Cp932;
  } else {
    return false;
  }
  return true;
}

const char* CharsetName(Charset set) {
  switch (set) {
    case Charset::Cp1252:
      return "cp1252";
    case Charset::Cp932:
      return "cp932";
    case Charset::None:
      break;
  }
  return "";
}

char* DecodeText(Charset set, const uint8_t* text, size_t length, char* out) {
  const uint8_t* const end = text + length;
  for (const uint8_t* p = text; p < end; ++p) {
    const uint8_t b = *p;
    if (b < 0x80) {
      *out++ = static_cast<char>(b);
    } else if (set == Charset::Cp1252) {
      out = PutUtf8(out, kCp1252High[b - 0x80]);
    } else if (kCp932Single[b - 0x80] != 0) {
      out = PutUtf8(out, kCp932Single[b - 0x80]);
    } else {
      const int lead = Cp932Lead(b);
      const int trail = p + 1 < end ? Cp932Trail(p[1]) : -1;
      if (lead < 0 || trail < 0) Fail(TextFault::Kind::NotDeviceText);
      const uint16_t c = kCp932Double[static_cast<size_t>(lead) * kCp932Trails + trail];
      if (c == 0) Fail(TextFault::Kind::NotDeviceText);
      out = PutUtf8(out, c);
      ++p;
    }
  }
  return out;
}

size_t EncodeText(Charset set, const char* text, size_t length, uint8_t* out, size_t room) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  const unsigned char* const end = p + length;
  size_t written = 0;
  bool full = false;  // a character did not fit: nothing more is written
  while (p < end) {
    const uint32_t c = NextUtf8(p, end);
    const uint32_t code = CodeOf(set, c);
    if (code == kNoCode) Fail(TextFault::Kind::NotWritable, c);
    const size_t size = code < 0x100 ? 1 : 2;
    full = full || size > room - written;
    if (full) continue;
    if (size == 2) out[written++] = static_cast<uint8_t>(code >> 8);
    out[written++] = static_cast<uint8_t>(code);
  }
  return written;
}

uint8_t EncodeChar(Charset set, const char* text, size_t length) {
  if (length == 0) return 0;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  const unsigned char* const end = p + length;
  const uint32_t first = NextUtf8(p, end);
  const uint32_t code = CodeOf(set, first);
  if (code >= 0x100) Fail(TextFault::Kind::NotWritable, first);
  while (p < end)
    NextUtf8(p, end);
  return static_cast<uint8_t>(code);
}

}  // namespace larkconv
