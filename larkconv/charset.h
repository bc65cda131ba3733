#pragma once

// The device character sets of the -e option: text kept in records in the
// device's own set, and in CSV files in UTF-8. Tables of the project's own
// (charset_tables.cpp), the same on every platform.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace larkconv {

/// The character set of the text in records: None moves text byte for byte;
/// Cp1252 is Windows code page 1252 (Western devices), Cp932 Windows' Shift-JIS
/// (Japanese devices).
enum class Charset { None, Cp1252, Cp932 };

// The set called name, in any letter case ("cp1252", "CP932"); false for any
// other name.
bool CharsetNamed(const std::string& name, Charset* set);
// "cp1252" or "cp932"; "" for None.
const char* CharsetName(Charset set);

/// Why a text did not convert, thrown by the functions below. The driver,
/// which knows the record or row, turns it into its message.
struct TextFault {
  enum class Kind {
    NotDeviceText,  // record bytes that are no text in the set
    NotUtf8,        // CSV bytes that are not UTF-8
    NotWritable,    // a character the set cannot hold (for a Char field: in one byte)
  };
  Kind kind;
  uint32_t character;  // the character that is NotWritable
};

// The most UTF-8 bytes that one byte of a device's text becomes.
constexpr size_t kUtf8PerDeviceByte = 3;

// True when none of the length bytes at text is above 7F: such a text is the
// same in UTF-8 and in both sets.
inline bool IsAscii(const char* text, size_t length);

// Writes the UTF-8 of the length bytes at text (no zero byte among them), read
// in set (not None), at out, which has room for kUtf8PerDeviceByte * length
// bytes; returns the end of what it wrote. Throws TextFault NotDeviceText for
// cp932 bytes that are not its text: a lead byte without its trail byte, a
// byte no character starts with, a code with no character.
char* DecodeText(Charset set, const uint8_t* text, size_t length, char* out);

// Converts the UTF-8 text of length bytes to set (not None) and writes the
// bytes of its first characters that fit whole in room bytes at out, stopping
// before the first that does not fit; the characters after it are converted
// all the same, unwritten. Returns how many bytes it wrote: never more than
// length. Throws TextFault NotUtf8 or NotWritable.
size_t EncodeText(Charset set, const char* text, size_t length, uint8_t* out, size_t room);

// The byte of the first character of the UTF-8 text of length bytes in set
// (not None), 0 for an empty text; the rest of the text must be UTF-8 too.
// Throws TextFault NotUtf8, or NotWritable when that character is not one
// byte in the set.
uint8_t EncodeChar(Charset set, const char* text, size_t length);

inline bool IsAscii(const char* text, size_t length) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  const unsigned char* const end = p + length;
  for (; end - p >= 8; p += 8) {
    uint64_t eight;
    std::memcpy(&eight, p, 8);
    if (eight & 0x8080808080808080u) return false;
  }
  for (; p < end; ++p) {
    if (*p & 0x80) return false;
  }
  return true;
}

}  // namespace larkconv
