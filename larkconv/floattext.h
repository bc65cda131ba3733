#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace larkconv {

// The text of a single-precision float field: 10 significant digits, the
// exponent form for large and small magnitudes, "1.#INF"-style specials.
std::string FormatFloat(uint32_t bits);
// The same text written at text, which has room for kFloatTextMax characters;
// returns its length.
size_t FormatFloat(uint32_t bits, char* text);
constexpr size_t kFloatTextMax = 24;

// Reads the number at the start of text the way strtod does, also taking "d"
// or "D" as the exponent letter, independent of locale; rounds it to double
// and then to single precision. Returns the single-precision bits. The special
// texts FormatFloat writes read back: "1.#INF" as 7F800000, "-1.#INF" FF800000,
// "1.#QNAN" and "1.#IND" 7FC00000, "-1.#QNAN" FFC00001, "-1.#IND" FFC00000.
uint32_t ParseFloatBits(const std::string& text);
uint32_t ParseFloatBits(const char* text, size_t length);  // the length bytes at text

}  // namespace larkconv
