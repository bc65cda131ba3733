#include "floattext.h"

#include <charconv>
#include <cstring>

namespace larkconv {

namespace {

/// The exact decimal value of a finite single-precision magnitude m * 2^e, as
/// a big number in base 10^9 limbs, least significant first. Used by FormatFloat.
class ExactDecimal {
 public:
  ExactDecimal(uint32_t m, int e) {
    limbs[0] = m % kBase;
    limbs[1] = m / kBase;
    count = limbs[1] ? 2 : 1;
    if (e >= 0) {
      for (; e >= 30; e -= 30)
        Multiply(1u << 30);
      Multiply(1u << e);
    } else {
      fractionDigits = -e;  // m * 2^e = m * 5^-e / 10^-e
      for (; e <= -13; e += 13)
        Multiply(1220703125u);  // 5^13
      uint32_t factor = 1;
      for (; e < 0; ++e)
        factor *= 5;
      Multiply(factor);
    }
  }

  // Writes the leading significant digits (at least 19, unless the value has
  // fewer; at most kMaxDigits), returns their number and sets exponent so that
  // the value is 0.digits... * 10^exponent.
  int LeadingDigits(char* out, int* exponent) const {
    char* p = out;
    uint32_t top = limbs[count - 1];
    char reversed[10];
    int n = 0;
    do {
      reversed[n++] = static_cast<char>('0' + top % 10);
      top /= 10;
    } while (top != 0);
    const int allDigits = n + 9 * (count - 1);
    while (n > 0)
      *p++ = reversed[--n];
    for (int i = count - 2; i >= 0 && i >= count - 3; --i) {
      uint32_t limb = limbs[i];
      for (int d = 8; d >= 0; --d) {
        p[d] = static_cast<char>('0' + limb % 10);
        limb /= 10;
      }
      p += 9;
    }
    *exponent = allDigits - fractionDigits;
    return static_cast<int>(p - out);
  }

  static constexpr int kMaxDigits = 3 * 9;

 private:
  static constexpr uint32_t kBase = 1000000000u;

  void Multiply(uint32_t factor) {
    uint64_t carry = 0;
    for (int i = 0; i < count; ++i) {
      const uint64_t product = static_cast<uint64_t>(limbs[i]) * factor + carry;
      limbs[i] = static_cast<uint32_t>(product % kBase);
      carry = product / kBase;
    }
    while (carry != 0) {
      limbs[count++] = static_cast<uint32_t>(carry % kBase);
      carry /= kBase;
    }
  }

  uint32_t limbs[16] = {};
  int count = 0;
  int fractionDigits = 0;
};

// Adds one to the decimal digit string digits[0..n-1], half-up rounding's
// carry. Returns true when it carried out of the first digit (all were 9);
// the digits are then 1 followed by zeros.
bool IncrementDigits(char* digits, int n) {
  for (int i = n - 1; i >= 0; --i) {
    if (digits[i] != '9') {
      ++digits[i];
      return false;
    }
    digits[i] = '0';
  }
  digits[0] = '1';
  return true;
}

// Rounds digits[0..count-1] half up to keep digits, padding with zeros; the
// decimal exponent rises by one when the rounding carries out of the first digit.
void RoundHalfUp(char* digits, int count, int keep, int* exponent) {
  if (count > keep && digits[keep] >= '5' && IncrementDigits(digits, keep)) ++*exponent;
  for (int i = count; i < keep; ++i)
    digits[i] = '0';
}

std::string SpecialText(uint32_t bits) {
  const bool negative = (bits & 0x80000000u) != 0;
  if ((bits & 0x007FFFFFu) == 0) return negative ? "-1.#INF" : "1.#INF";
  bits |= 0x00400000u;  // a signalling NaN is made quiet
  if (bits == 0xFFC00000u) return "-1.#IND";
  return negative ? "-1.#QNAN" : "1.#QNAN";
}

// Drops the zeros at the end of text[0..end-1], stopping at the decimal point.
size_t TrimFractionZeros(const char* text, size_t end) {
  while (end > 0 && text[end - 1] == '0')
    --end;
  return end;
}

}  // namespace

std::string FormatFloat(uint32_t bits) {
  if ((bits & 0x7F800000u) == 0x7F800000u) return SpecialText(bits);
  const uint32_t field = (bits >> 23) & 0xFFu;
  const uint32_t fraction = bits & 0x007FFFFFu;
  const uint32_t m = field == 0 ? fraction : (fraction | 0x00800000u);
  const int e = field == 0 ? -149 : static_cast<int>(field) - 150;

  char digits[ExactDecimal::kMaxDigits];
  int exponent = 0;
  int count = 0;
  if (m != 0) count = ExactDecimal(m, e).LeadingDigits(digits, &exponent);
  RoundHalfUp(digits, count, 17, &exponent);
  const bool exponentForm = exponent < 0 || exponent > 10;
  RoundHalfUp(digits, 17, 10, &exponent);

  char text[32];
  size_t n = 0;
  if (bits & 0x80000000u) text[n++] = '-';
  if (exponentForm) {
    text[n++] = digits[0];
    text[n++] = '.';
    std::memcpy(text + n, digits + 1, 9);
    n = TrimFractionZeros(text, n + 9);
    const int shown = exponent - 1;
    const int magnitude = shown < 0 ? -shown : shown;
    text[n++] = 'e';
    text[n++] = shown < 0 ? '-' : '+';
    text[n++] = static_cast<char>('0' + magnitude / 100);
    text[n++] = static_cast<char>('0' + magnitude / 10 % 10);
    text[n++] = static_cast<char>('0' + magnitude % 10);
    return std::string(text, n);
  }
  if (exponent == 0) text[n++] = '0';
  for (int i = 0; i < exponent; ++i)
    text[n++] = i < 10 ? digits[i] : '0';
  if (exponent < 10) {
    text[n++] = '.';
    for (int i = exponent; i < 10; ++i)
      text[n++] = digits[i];
    n = TrimFractionZeros(text, n);
  }
  return std::string(text, n);
}

namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDecimalDigit(char c) {
  return c >= '0' && c <= '9';
}

bool IsExponentLetter(char c) {
  return c == 'e' || c == 'E' || c == 'd' || c == 'D';
}

// Significant digits kept from a number's text. More than the 767 that can
// decide the rounding of a double; any non-zero digit beyond them is kept as
// one sticky digit, which rounds the same way.
constexpr size_t kMaxSignificant = 800;

// An exponent digit string is read up to this value; beyond it the number is
// infinite or zero anyway.
constexpr int64_t kExponentCap = 1000000000000;

/// A number read from text: value = digits * 10^exp10 with digits free of
/// leading and trailing zeros (empty for zero). Built by ScanNumber.
struct DecimalText {
  bool negative = false;
  bool found = false;  // the text begins with a number at all
  std::string digits;
  int64_t exp10 = 0;
};

// Reads the optional exponent at text[i], adding it to number.exp10. Without
// a digit after the letter (and its optional sign) there is no exponent.
void ScanExponent(const std::string& text, size_t i, DecimalText* number) {
  if (i >= text.size() || !IsExponentLetter(text[i])) return;
  ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t exponent = 0;
  for (; i < text.size() && IsDecimalDigit(text[i]); ++i) {
    if (exponent < kExponentCap) exponent = exponent * 10 + (text[i] - '0');
  }
  number->exp10 += negative ? -exponent : exponent;
}

DecimalText ScanNumber(const std::string& text) {
  DecimalText number;
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i]))
    ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) number.negative = text[i++] == '-';
  bool point = false;
  bool sticky = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '.' && !point) {
      point = true;
      continue;
    }
    if (!IsDecimalDigit(c)) break;
    number.found = true;
    if (number.digits.empty() && c == '0') {
      if (point) --number.exp10;
    } else if (number.digits.size() < kMaxSignificant) {
      number.digits.push_back(c);
      if (point) --number.exp10;
    } else {
      sticky = sticky || c != '0';
      if (!point) ++number.exp10;
    }
  }
  if (!number.found) return number;
  ScanExponent(text, i, &number);
  if (sticky) {
    number.digits.push_back('1');
    --number.exp10;
  }
  const size_t last = number.digits.find_last_not_of('0');
  const size_t kept = last == std::string::npos ? 0 : last + 1;
  number.exp10 += static_cast<int64_t>(number.digits.size() - kept);
  number.digits.resize(kept);
  return number;
}

// Shifts value right by shift bits (1..63), rounding to nearest, ties to even.
uint64_t ShiftRounded(uint64_t value, int shift) {
  const uint64_t quotient = value >> shift;
  const uint64_t rest = value & ((uint64_t{1} << shift) - 1);
  const uint64_t half = uint64_t{1} << (shift - 1);
  return quotient + ((rest > half || (rest == half && (quotient & 1))) ? 1 : 0);
}

// Rounds a finite, non-negative double to single precision, to nearest with
// ties to even; too large gives infinity, too small subnormals or zero.
uint32_t DoubleToFloatBits(double value) {
  uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  const int field = static_cast<int>(bits >> 52) & 0x7FF;
  if (field == 0) return 0;  // double subnormals are far below every float
  const uint64_t mantissa = (bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52);
  const int exponent = field - 1023;
  if (exponent > 127) return 0x7F800000u;
  if (exponent >= -126) {
    // (exponent + 126) << 23 plus the 24-bit significand: a carry out of the
    // significand moves on to the next exponent, up to infinity.
    const uint64_t significand = ShiftRounded(mantissa, 29);
    return static_cast<uint32_t>((static_cast<uint64_t>(exponent + 126) << 23) + significand);
  }
  const int shift = 29 + (-126 - exponent);  // to units of 2^-149
  if (shift > 54) return 0;
  return static_cast<uint32_t>(ShiftRounded(mantissa, shift));
}

// The bits of the special texts FormatFloat writes ("1.#INF", "-1.#QNAN", ...)
// when text, after white space and a sign, begins with one; false otherwise.
bool ParseSpecialText(const std::string& text, uint32_t* bits) {
  size_t i = 0;
  while (i < text.size() && IsSpace(text[i]))
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (text.size() - i < 6 || text[i] != '1' || text[i + 1] != '.' || text[i + 2] != '#')
    return false;  // every special text starts so and is at least 6 long
  /// A special text and the bits it reads as, by sign.
  struct Special {
    const char* text;
    uint32_t positive;
    uint32_t negative;
  };
  static const Special kSpecials[] = {{"1.#INF", 0x7F800000u, 0xFF800000u},
                                      {"1.#QNAN", 0x7FC00000u, 0xFFC00001u},
                                      {"1.#IND", 0x7FC00000u, 0xFFC00000u}};
  for (const Special& special : kSpecials) {
    if (text.compare(i, std::strlen(special.text), special.text) == 0) {
      *bits = negative ? special.negative : special.positive;
      return true;
    }
  }
  return false;
}

}  // namespace

uint32_t ParseFloatBits(const std::string& text) {
  uint32_t special = 0;
  if (ParseSpecialText(text, &special)) return special;
  const DecimalText number = ScanNumber(text);
  if (!number.found) return 0;
  const uint32_t sign = number.negative ? 0x80000000u : 0;
  if (number.digits.empty()) return sign;
  // The value lies in [10^(magnitude-1), 10^magnitude).
  const int64_t magnitude = number.exp10 + static_cast<int64_t>(number.digits.size());
  if (magnitude > 310) return sign | 0x7F800000u;
  if (magnitude < -330) return sign;
  std::string canonical = number.digits;
  canonical += 'e';
  canonical += std::to_string(number.exp10);
  double value = 0;
  const auto result = std::from_chars(canonical.data(), canonical.data() + canonical.size(), value);
  if (result.ec == std::errc::result_out_of_range) {
    return magnitude > 0 ? sign | 0x7F800000u : sign;
  }
  return sign | DoubleToFloatBits(value);
}

}  // namespace larkconv
