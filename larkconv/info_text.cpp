#include "info_text.h"

#include <cstdarg>
#include <cstdio>

namespace larkconv::info {

std::string Printf(const char* pattern, ...) {
  char text[256];
  va_list args;
  va_start(args, pattern);
  std::vsnprintf(text, sizeof text, pattern, args);
  va_end(args);
  return text;
}

std::string Counted(uint64_t n, const char* noun) {
  return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

std::string ByteCount(uint64_t n) {
  return Counted(n, "byte");
}

std::string Escaped(const char* bytes, size_t length, bool keepBlanks) {
  std::string text;
  for (size_t i = 0; i < length; ++i) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c == '\\') {
      text += "\\\\";
    } else if (c > ' ' && c < 0x7F) {
      text += static_cast<char>(c);
    } else if (c == ' ' && keepBlanks) {
      text += ' ';
    } else {
      text += Printf("\\x%02x", c);
    }
  }
  return text;
}

std::string FieldName(FieldKind kind, int32_t size) {
  switch (kind) {
    case FieldKind::Integer:
      return Printf("%d-byte integer", size);
    case FieldKind::Char:
      return "character";
    case FieldKind::Float:
      return "float";
    case FieldKind::String:
      break;
  }
  return size == 0 ? "zero-terminated string" : Printf("%d-byte string", size);
}

std::string HexBytes(const uint8_t* bytes, size_t length) {
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < length && i < 16; ++i) {
    if (i > 0) text += ' ';
    text += kHex[bytes[i] >> 4];
    text += kHex[bytes[i] & 0x0F];
  }
  if (length > 16) text += "...";
  return text;
}

}  // namespace larkconv::info
