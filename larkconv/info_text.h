#pragma once

// The wording larkinfo's parts share: formatted numbers, counted nouns and
// bytes shown as text that keeps to one line.

#include <cstddef>
#include <cstdint>
#include <string>

#include "compiler.h"
#include "format.h"

namespace larkconv::info {

// The text printf makes of pattern and the arguments, up to 255 characters.
std::string Printf(const char* pattern, ...) LARKCONV_PRINTF_LIKE(1, 2);

// "1 byte", "2 bytes": n and the noun, in the plural unless n is 1.
std::string Counted(uint64_t n, const char* noun);
std::string ByteCount(uint64_t n);

// Header text: printable ASCII as it is, other bytes (blanks too where
// blanks would split a column) as \xHH, a backslash doubled.
std::string Escaped(const char* bytes, size_t length, bool keepBlanks);

// The name of a field of this kind and size: "2-byte integer", "character",
// "float", "zero-terminated string", "8-byte string".
std::string FieldName(FieldKind kind, int32_t size);

// Up to 16 bytes in hex, separated by blanks, then "..." when there are more.
std::string HexBytes(const uint8_t* bytes, size_t length);

}  // namespace larkconv::info
