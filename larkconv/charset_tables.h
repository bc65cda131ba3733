#pragma once

// The tables of the device character sets, made from Python's codecs by
// scripts/make-charset-tables (charset_tables.cpp). Read by charset.cpp only.

#include <cstddef>
#include <cstdint>

namespace larkconv {
namespace charset_tables {

// The character of each cp1252 byte 80 to FF.
extern const uint16_t kCp1252High[128];

// The character of each cp932 byte 80 to FF that is one alone; 0 for a lead
// byte and for a byte no character starts with.
extern const uint16_t kCp932Single[128];

// Double-byte cp932 codes: lead bytes 81-9F and E0-FC (in this order, 60 of
// them), each with trail bytes 40-7E and 80-FC (188); the character of each
// code, 0 where there is none.
constexpr size_t kCp932Trails = 188;
extern const uint16_t kCp932Double[60 * kCp932Trails];

// Every character above 7F that cp932 writes, in ascending order, and the
// code it is written as (below 100: one byte).
extern const size_t kCp932WriteCount;
extern const uint32_t kCp932WriteChars[];
extern const uint16_t kCp932WriteCodes[];

}  // namespace charset_tables
}  // namespace larkconv
